#include "engine/inventory/wifi.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wlanapi.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "engine/common/hash.h"

namespace tarvisko {
namespace {

const std::vector<std::uint8_t> test_key(32, 0x5A);

// What the fake WLAN service answers to one query of one interface.
struct FakeReply {
    DWORD result = ERROR_SUCCESS;
    std::vector<std::uint8_t> bytes;  // returned as the reply; empty means no reply at all
};

struct FakeInterface {
    GUID guid{};
    WLAN_INTERFACE_STATE state = wlan_interface_state_disconnected;
    std::map<WLAN_INTF_OPCODE, FakeReply> replies;
};

// The fake service: a WLAN table over this state. It counts every allocation it hands out and
// every free and close, so a test can see that nothing leaks.
struct FakeWlan {
    DWORD open_result = ERROR_SUCCESS;
    DWORD enum_result = ERROR_SUCCESS;
    bool enum_gives_list = true;
    std::vector<FakeInterface> interfaces;
    int throw_on_query = -1;  // index of the query call that runs out of memory

    std::set<void*> outstanding;
    int frees = 0;
    int opens = 0;
    int closes = 0;
    int queries = 0;
    bool freed_unknown = false;
};

FakeWlan* fake = nullptr;
const HANDLE fake_handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x4242));

void* fake_allocate(std::size_t size) {
    void* memory = ::operator new(size);
    fake->outstanding.insert(memory);
    return memory;
}

DWORD WINAPI fake_open(DWORD version, PVOID, PDWORD negotiated, PHANDLE handle) {
    EXPECT_EQ(version, 2u);
    if (fake->open_result != ERROR_SUCCESS) return fake->open_result;
    ++fake->opens;
    *negotiated = 2;
    *handle = fake_handle;
    return ERROR_SUCCESS;
}

DWORD WINAPI fake_enum(HANDLE handle, PVOID, PWLAN_INTERFACE_INFO_LIST* list) {
    EXPECT_EQ(handle, fake_handle);
    if (fake->enum_result != ERROR_SUCCESS || !fake->enum_gives_list) return fake->enum_result;
    const std::size_t n = fake->interfaces.size();
    const std::size_t size = offsetof(WLAN_INTERFACE_INFO_LIST, InterfaceInfo) +
                             sizeof(WLAN_INTERFACE_INFO) * (n == 0 ? 1 : n);
    auto* result = static_cast<WLAN_INTERFACE_INFO_LIST*>(fake_allocate(size));
    std::memset(result, 0, size);
    result->dwNumberOfItems = static_cast<DWORD>(n);
    for (std::size_t i = 0; i < n; ++i) {
        result->InterfaceInfo[i].InterfaceGuid = fake->interfaces[i].guid;
        result->InterfaceInfo[i].isState = fake->interfaces[i].state;
        wcscpy(result->InterfaceInfo[i].strInterfaceDescription, L"Fake Wireless Adapter");
    }
    *list = result;
    return ERROR_SUCCESS;
}

DWORD WINAPI fake_query(HANDLE handle, const GUID* guid, WLAN_INTF_OPCODE opcode, PVOID,
                        PDWORD size, PVOID* data, PWLAN_OPCODE_VALUE_TYPE) {
    EXPECT_EQ(handle, fake_handle);
    if (fake->queries++ == fake->throw_on_query) throw std::bad_alloc();
    for (const FakeInterface& item : fake->interfaces) {
        if (!IsEqualGUID(item.guid, *guid)) continue;
        const auto found = item.replies.find(opcode);
        if (found == item.replies.end()) return ERROR_NOT_SUPPORTED;
        const FakeReply& reply = found->second;
        // A failing call may still hand back a buffer; the caller has to free it anyway.
        if (!reply.bytes.empty()) {
            void* memory = fake_allocate(reply.bytes.size());
            std::memcpy(memory, reply.bytes.data(), reply.bytes.size());
            *data = memory;
            *size = static_cast<DWORD>(reply.bytes.size());
        }
        return reply.result;
    }
    return ERROR_NOT_FOUND;
}

VOID WINAPI fake_free(PVOID memory) {
    ++fake->frees;
    if (fake->outstanding.erase(memory) == 0) {
        fake->freed_unknown = true;
        return;
    }
    ::operator delete(memory);
}

DWORD WINAPI fake_close(HANDLE handle, PVOID reserved) {
    EXPECT_EQ(handle, fake_handle);
    EXPECT_EQ(reserved, nullptr);
    ++fake->closes;
    return ERROR_SUCCESS;
}

const WlanApi fake_api{&fake_open, &fake_enum, &fake_query, &fake_free, &fake_close};

class WifiTest : public ::testing::Test {
  protected:
    void SetUp() override { fake = &state; }
    void TearDown() override {
        EXPECT_TRUE(state.outstanding.empty()) << state.outstanding.size() << " replies leaked";
        EXPECT_FALSE(state.freed_unknown);
        EXPECT_EQ(state.closes, state.opens) << "client handle not closed exactly once";
        fake = nullptr;
    }
    FakeWlan state;
};

GUID guid_number(std::uint32_t n) {
    GUID guid{};
    guid.Data1 = 0xA1B2C300 + n;
    guid.Data2 = 0x0D4E;
    guid.Data3 = 0x4F5A;
    const std::uint8_t tail[8] = {0x9b, 0x1c, 0x2d, 0x3e,
                                  0x4f, 0x50, 0x61, static_cast<std::uint8_t>(n)};
    std::memcpy(guid.Data4, tail, 8);
    return guid;
}

template <typename T>
std::vector<std::uint8_t> bytes_of(const T& value, std::size_t size = sizeof(T)) {
    std::vector<std::uint8_t> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    bytes.resize(size);
    return bytes;
}

WLAN_CONNECTION_ATTRIBUTES connection_attributes(const std::uint8_t (&bssid)[6]) {
    WLAN_CONNECTION_ATTRIBUTES attributes{};
    attributes.isState = wlan_interface_state_connected;
    wcscpy(attributes.strProfileName, L"HomeProfileName");
    auto& association = attributes.wlanAssociationAttributes;
    const char ssid[] = "SecretHomeNet";
    association.dot11Ssid.uSSIDLength = sizeof ssid - 1;
    std::memcpy(association.dot11Ssid.ucSSID, ssid, sizeof ssid - 1);
    std::memcpy(association.dot11Bssid, bssid, 6);
    association.dot11PhyType = static_cast<DOT11_PHY_TYPE>(8);  // VHT
    association.wlanSignalQuality = 87;
    association.ulRxRate = 866700;
    association.ulTxRate = 585000;
    return attributes;
}

const std::uint8_t home_bssid[6] = {0x3C, 0x84, 0x6A, 0x11, 0x22, 0x33};

FakeInterface connected_interface(std::uint32_t n) {
    FakeInterface item;
    item.guid = guid_number(n);
    item.state = wlan_interface_state_connected;
    item.replies[wlan_intf_opcode_current_connection] = {
        ERROR_SUCCESS, bytes_of(connection_attributes(home_bssid))};
    item.replies[wlan_intf_opcode_rssi] = {ERROR_SUCCESS, bytes_of(static_cast<std::int32_t>(-52))};
    item.replies[wlan_intf_opcode_channel_number] = {ERROR_SUCCESS,
                                                     bytes_of(static_cast<std::uint32_t>(36))};
    return item;
}

TEST_F(WifiTest, ServiceMissingGivesOpenHandleReason) {
    state.open_result = ERROR_SERVICE_NOT_ACTIVE;
    EXPECT_EQ(collect_wifi(fake_api, test_key).dump(),
              R"({"reason":"WlanOpenHandle:1062","status":"unavailable"})");
    EXPECT_EQ(state.closes, 0);
}

TEST_F(WifiTest, FailedEnumerationOrMissingListIsUnavailable) {
    state.enum_result = ERROR_ACCESS_DENIED;
    EXPECT_EQ(collect_wifi(fake_api, test_key).dump(),
              R"({"reason":"WlanEnumInterfaces:5","status":"unavailable"})");
    state.enum_result = ERROR_SUCCESS;
    state.enum_gives_list = false;
    EXPECT_EQ(collect_wifi(fake_api, test_key).dump(),
              R"({"reason":"WlanEnumInterfaces:0","status":"unavailable"})");
    EXPECT_EQ(state.closes, 2);
}

TEST_F(WifiTest, ServiceWithoutAdaptersGivesEmptyList) {
    EXPECT_EQ(collect_wifi(fake_api, test_key).dump(), R"({"status":"ok","value":[]})");
    EXPECT_EQ(state.frees, 1);
}

TEST_F(WifiTest, ConnectedInterfaceIsDescribedWithoutNamesOrRawBssid) {
    state.interfaces.push_back(connected_interface(1));
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
    FakeInterface odd = connected_interface(2);
    odd.state = wlan_interface_state_disconnected;
    odd.replies[wlan_intf_opcode_current_connection] = {ERROR_INVALID_STATE,
                                                        bytes_of(std::uint32_t{7})};
    odd.replies[wlan_intf_opcode_rssi] = {ERROR_SUCCESS, bytes_of(std::int32_t{-40}, 3)};
    odd.replies[wlan_intf_opcode_channel_number] = {ERROR_SUCCESS, {}};
    FakeInterface short_connection = connected_interface(3);
    short_connection.replies[wlan_intf_opcode_current_connection] = {
        ERROR_SUCCESS, bytes_of(connection_attributes(home_bssid), 603)};
    state.interfaces = {odd, short_connection, connected_interface(4)};

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
    for (std::uint32_t n = 0; n < 20; ++n) state.interfaces.push_back(connected_interface(n));
    const nlohmann::json wifi = collect_wifi(fake_api, test_key);
    EXPECT_EQ(wifi["status"], "partial");
    EXPECT_EQ(wifi["reason"], "row_limit");
    EXPECT_EQ(wifi["total"], 20);
    ASSERT_EQ(wifi["value"].size(), 16u);
    EXPECT_EQ(wifi["value"][15]["id"], "{A1B2C30F-0D4E-4F5A-9B1C-2D3E4F50610F}");
    EXPECT_EQ(state.queries, 16 * 3);
}

TEST_F(WifiTest, ErrorInTheMiddleStillReleasesEverything) {
    state.interfaces = {connected_interface(1), connected_interface(2)};
    state.throw_on_query = 4;
    EXPECT_THROW(collect_wifi(fake_api, test_key), std::bad_alloc);
    EXPECT_EQ(state.closes, 1);
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
