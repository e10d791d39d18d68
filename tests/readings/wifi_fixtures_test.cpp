// The fixture list as WlanGetNetworkBssList hands it back through the fake: the layout the Wi-Fi
// reading walks.
#include "support/wifi_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/wlan_fake.h"

namespace tarvisko {
namespace {

TEST(WifiFixtures, BssListAsTheServiceHandsItBack) {
    using namespace test;
    const Bytes first = join({ht_operation(6, ht_no_secondary), router_wps_element("A", "B", "C")});
    const Bytes second = join({ht_operation(36, ht_secondary_above), vht_operation(1, 42, 0)});
    const std::vector<BssEntry> entries{
        {test_bssid(1), "Dom", std::nullopt, 2437000, -48, 90},
        {test_bssid(2), "Sąsiad_5G", std::nullopt, 5180000, -71, 60},
        {test_bssid(3), "", std::nullopt, 5955000, -80, 40},
    };
    std::vector<BssEntry> with_elements = entries;
    with_elements[0].elements = first;
    with_elements[1].elements = second;

    FakeWlan wlan;
    FakeWlanInterface item;
    item.guid = test_guid(1);
    item.bss_list.bytes = bss_list(with_elements);
    wlan.interfaces = {item};
    const WlanApi& api = wlan.api();
    HANDLE handle = nullptr;
    DWORD negotiated = 0;
    ASSERT_EQ(api.open_handle(2, nullptr, &negotiated, &handle), 0u);
    WLAN_BSS_LIST* list = nullptr;
    ASSERT_EQ(api.get_network_bss_list(handle, &item.guid, nullptr, dot11_BSS_type_any, FALSE,
                                       nullptr, &list),
              0u);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->dwTotalSize, 8 + 3 * 360 + first.size() + second.size());
    ASSERT_EQ(list->dwNumberOfItems, 3u);
    const auto* base = reinterpret_cast<const std::uint8_t*>(list);
    for (std::size_t i = 0; i < 3; ++i) {
        const WLAN_BSS_ENTRY& entry = list->wlanBssEntries[i];
        EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(&entry) - base, 8 + 360 * i);
        EXPECT_EQ(entry.ulChCenterFrequency, entries[i].frequency_khz);
        EXPECT_EQ(entry.lRssi, entries[i].rssi_dbm);
        EXPECT_EQ(std::memcmp(entry.dot11Bssid, entries[i].bssid.data(), 6), 0);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.dot11Ssid.ucSSID),
                              entry.dot11Ssid.uSSIDLength),
                  entries[i].ssid);
        const Bytes& elements = with_elements[i].elements;
        ASSERT_EQ(entry.ulIeSize, elements.size());
        EXPECT_GE(entry.ulIeOffset, 360u);
        const std::uint8_t* blob = reinterpret_cast<const std::uint8_t*>(&entry) + entry.ulIeOffset;
        EXPECT_EQ(Bytes(blob, blob + entry.ulIeSize), elements);
    }
    api.free_memory(list);
    api.close_handle(handle, nullptr);
    wlan.expect_released();
}

TEST(WifiFixtures, ElementBytes) {
    using namespace test;
    EXPECT_EQ(vht_operation(1, 42, 0), (Bytes{192, 5, 1, 42, 0, 0xFC, 0xFF}));
    const Bytes ht = ht_operation(11, ht_secondary_below);
    ASSERT_EQ(ht.size(), 24u);
    EXPECT_EQ(Bytes(ht.begin(), ht.begin() + 4), (Bytes{61, 22, 11, 0x07}));

    HeOperation he;
    he.vht_information = true;
    he.cohosted_bss = true;
    he.six_ghz = SixGhzOperation{37, 3, 39, 47, 6};
    const Bytes he_bytes = he_operation(he);
    EXPECT_EQ(he_bytes, (Bytes{255, 16, 36, 0x04, 0xC0, 0x02, 0x2A, 0xFC, 0xFF, 1, 42, 0, 3, 37, 3,
                               39, 47, 6}));
    EXPECT_EQ(eht_operation(4, 15, 31, false),
              (Bytes{255, 9, 106, 0, 0x44, 0x44, 0x44, 0x44, 4, 15, 31}));

    // WPS: vendor header, then big-endian type and length.
    EXPECT_EQ(wps_element({wps_text(wps_model_name, "AX")}),
              (Bytes{221, 10, 0x00, 0x50, 0xF2, 0x04, 0x10, 0x23, 0x00, 0x02, 'A', 'X'}));
    EXPECT_EQ(wps_element({{wps_model_name, {'A'}, std::uint16_t{65}}}),
              (Bytes{221, 9, 0x00, 0x50, 0xF2, 0x04, 0x10, 0x23, 0x00, 0x41, 'A'}));

    EXPECT_EQ(shortened(vht_operation(1, 42, 0), 2), (Bytes{192, 3, 1, 42, 0}));
    EXPECT_EQ(truncated(vht_operation(1, 42, 0), 2), (Bytes{192, 5, 1, 42, 0}));
}

}  // namespace
}  // namespace tarvisko
