#include "engine/inventory/wifi.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wlanapi.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "engine/common/hash.h"
#include "support/wlan_fake.h"

namespace tarvisko {
namespace {

const std::vector<std::uint8_t> test_key(32, 0x5A);

using test::bytes_of;
using test::FakeWlanInterface;

class WifiTest : public ::testing::Test {
  protected:
    void TearDown() override { wlan.expect_released(); }
    test::FakeWlan wlan;
    const WlanApi& fake_api = wlan.api();
};

const std::uint8_t home_bssid[6] = {0x3C, 0x84, 0x6A, 0x11, 0x22, 0x33};

WLAN_CONNECTION_ATTRIBUTES connection_attributes(const std::uint8_t (&bssid)[6]) {
    std::array<std::uint8_t, 6> address{};
    std::copy(std::begin(bssid), std::end(bssid), address.begin());
    return test::wlan_connection("SecretHomeNet", address);
}

FakeWlanInterface connected_interface(std::uint32_t n) {
    return test::connected_wlan_interface(n, connection_attributes(home_bssid), -52, 36);
}

TEST_F(WifiTest, ServiceMissingGivesOpenHandleReason) {
    wlan.open_result = ERROR_SERVICE_NOT_ACTIVE;
    EXPECT_EQ(collect_wifi(fake_api, test_key).dump(),
              R"({"reason":"WlanOpenHandle:1062","status":"unavailable"})");
    EXPECT_EQ(wlan.closes, 0);
}

TEST_F(WifiTest, FailedEnumerationOrMissingListIsUnavailable) {
    wlan.enum_result = ERROR_ACCESS_DENIED;
    EXPECT_EQ(collect_wifi(fake_api, test_key).dump(),
              R"({"reason":"WlanEnumInterfaces:5","status":"unavailable"})");
    wlan.enum_result = ERROR_SUCCESS;
    wlan.enum_gives_list = false;
    EXPECT_EQ(collect_wifi(fake_api, test_key).dump(),
              R"({"reason":"WlanEnumInterfaces:0","status":"unavailable"})");
    EXPECT_EQ(wlan.closes, 2);
}

TEST_F(WifiTest, ServiceWithoutAdaptersGivesEmptyList) {
    EXPECT_EQ(collect_wifi(fake_api, test_key).dump(), R"({"status":"ok","value":[]})");
    EXPECT_EQ(wlan.frees, 1);
}

TEST_F(WifiTest, ConnectedInterfaceIsDescribedWithoutNamesOrRawBssid) {
    wlan.interfaces.push_back(connected_interface(1));
    const nlohmann::json wifi = collect_wifi(fake_api, test_key);
    const std::string bssid_id = hmac_sha256(home_bssid, test_key);
    ASSERT_EQ(bssid_id.size(), 64u);
    const std::string expected =
        R"({"status":"ok","value":[{"channel":{"status":"ok","value":36},)"
        R"("connection":{"status":"ok","value":{"bssid_id":{"status":"ok","value":")" +
        bssid_id +
        R"("},"phy":8,"rx_kbps":866700,"signal_pct":87,"tx_kbps":585000}},)"
        R"("id":"{A1B2C301-0D4E-4F5A-9B1C-2D3E4F506101}","rssi_dbm":{"status":"ok","value":-52},)"
        R"("state":1}]})";
    EXPECT_EQ(wifi.dump(), expected);
    const std::string text = wifi.dump();
    for (const char* secret :
         {"SecretHomeNet", "HomeProfileName", "3c846a", "3C846A", "Fake Wireless"}) {
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    }
}

TEST_F(WifiTest, RefusedAndShortQueriesSpoilOnlyTheirMember) {
    FakeWlanInterface odd = connected_interface(2);
    odd.state = wlan_interface_state_disconnected;
    odd.replies[wlan_intf_opcode_current_connection] = {ERROR_INVALID_STATE,
                                                        bytes_of(std::uint32_t{7})};
    odd.replies[wlan_intf_opcode_rssi] = {ERROR_SUCCESS, bytes_of(std::int32_t{-40}, 3)};
    odd.replies[wlan_intf_opcode_channel_number] = {ERROR_SUCCESS, {}};
    FakeWlanInterface short_connection = connected_interface(3);
    short_connection.replies[wlan_intf_opcode_current_connection] = {
        ERROR_SUCCESS, bytes_of(connection_attributes(home_bssid), 603)};
    wlan.interfaces = {odd, short_connection, connected_interface(4)};

    const nlohmann::json wifi = collect_wifi(fake_api, test_key);
    ASSERT_EQ(wifi["status"], "ok");
    ASSERT_EQ(wifi["value"].size(), 3u);
    const nlohmann::json& first = wifi["value"][0];
    EXPECT_EQ(first["state"], 4);
    EXPECT_EQ(first["connection"].dump(),
              R"({"reason":"WlanQueryInterface:5023","status":"unavailable"})");
    EXPECT_EQ(first["rssi_dbm"].dump(), R"({"reason":"short_wlan_result","status":"unavailable"})");
    EXPECT_EQ(first["channel"].dump(), R"({"reason":"short_wlan_result","status":"unavailable"})");
    const nlohmann::json& second = wifi["value"][1];
    EXPECT_EQ(second["connection"].dump(),
              R"({"reason":"short_wlan_result","status":"unavailable"})");
    EXPECT_EQ(second["rssi_dbm"]["value"], -52);
    EXPECT_EQ(wifi["value"][2]["connection"]["status"], "ok");
    EXPECT_EQ(wifi["value"][2]["channel"]["value"], 36);
}

TEST_F(WifiTest, TwentyInterfacesAreCutAtSixteen) {
    for (std::uint32_t n = 0; n < 20; ++n) wlan.interfaces.push_back(connected_interface(n));
    const nlohmann::json wifi = collect_wifi(fake_api, test_key);
    EXPECT_EQ(wifi["status"], "partial");
    EXPECT_EQ(wifi["reason"], "row_limit");
    EXPECT_EQ(wifi["total"], 20);
    ASSERT_EQ(wifi["value"].size(), 16u);
    EXPECT_EQ(wifi["value"][15]["id"], "{A1B2C30F-0D4E-4F5A-9B1C-2D3E4F50610F}");
    EXPECT_EQ(wlan.queries, 16 * 3);
}

TEST_F(WifiTest, ErrorInTheMiddleStillReleasesEverything) {
    wlan.interfaces = {connected_interface(1), connected_interface(2)};
    wlan.throw_on_query = 4;
    EXPECT_THROW(collect_wifi(fake_api, test_key), std::bad_alloc);
    EXPECT_EQ(wlan.closes, 1);
}

TEST(WifiConnection, BssidWithoutIdentifierIsMissing) {
    const struct {
        std::uint8_t bssid[6];
        bool identified;
    } cases[] = {
        {{0x3C, 0x84, 0x6A, 0x11, 0x22, 0x33}, true},
        {{0x02, 0x84, 0x6A, 0x11, 0x22, 0x33}, true},   // locally administered is still an address
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, false},  // all zero
        {{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}, false},  // group bit
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false},
    };
    for (const auto& c : cases) {
        const nlohmann::json connection =
            describe_wlan_connection(test_key, connection_attributes(c.bssid));
        if (c.identified) {
            EXPECT_EQ(connection["bssid_id"]["value"], hmac_sha256(c.bssid, test_key));
        } else {
            EXPECT_EQ(connection["bssid_id"].dump(),
                      R"({"reason":"missing_bssid","status":"unavailable"})");
        }
    }
}

// Wine's WLAN service has no wireless interfaces; the real path must still answer in one of
// the section's forms and not touch the calls that crash there.
TEST(WifiSystem, RealServiceAnswersWithAnEnvelope) {
    const nlohmann::json wifi = collect_wifi(test_key);
    ASSERT_TRUE(wifi.contains("status")) << wifi.dump();
    if (wifi["status"] == "unavailable") {
        EXPECT_EQ(wifi["reason"].get<std::string>().rfind("Wlan", 0), 0u) << wifi.dump();
    } else {
        EXPECT_TRUE(wifi["value"].is_array()) << wifi.dump();
    }
    std::printf("real WLAN section: %s\n", wifi.dump().c_str());
}

}  // namespace
}  // namespace tarvisko
