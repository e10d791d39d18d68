#include <gtest/gtest.h>
// Sockets first: the IP Helper headers need them.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
#include <wlanapi.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/common/hash.h"
#include "engine/common/ids.h"
#include "engine/identity/identity.h"
#include "engine/inventory/interfaces.h"
#include "engine/inventory/inventory_attachment.h"
#include "engine/inventory/neighbors_routes.h"
#include "engine/inventory/system_description.h"
#include "engine/inventory/wifi.h"
#include "engine/queue/queue.h"
#include "engine/queue/recording.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using Mac = std::array<std::uint8_t, 6>;

// The hardware of the fake machine; none of these may reach the stored document.
const Mac adapter_mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const Mac router_mac = {0x00, 0x1A, 0x2B, 0x00, 0x00, 0x01};
const Mac printer_mac = {0x3C, 0x84, 0x6A, 0x99, 0x88, 0x77};
const Mac access_point_bssid = {0x3C, 0x84, 0x6A, 0x11, 0x22, 0x33};
const char* const ssid = "KowalscyDom5G";
const wchar_t* const profile = L"KowalscyProfil";

struct RecordingFixture : ::testing::Test {
    test::TempDir temp;
    test::ScopedEnv env{L"QUORVEL_QUEUE_DIR", (temp.path() / "queue").wstring()};
    UploadQueue queue = open_queue();
    std::string session_id = new_uuid_text();

    void SetUp() override { start_recording(queue, session_id, ""); }

    std::string stored_opening() {
        StatementGuard statement =
            prepare_statement(queue.db, "SELECT opening FROM session WHERE id=?", {session_id});
        return step_row(statement.get()) ? column_text(statement.get(), 0) : "";
    }
};

std::int64_t milliseconds_of_day(const std::string& time) {
    int h = 0, m = 0, s = 0, ms = 0;
    EXPECT_EQ(std::sscanf(time.c_str() + 11, "%d:%d:%d.%dZ", &h, &m, &s, &ms), 4) << time;
    return ((h * 60 + m) * 60 + s) * 1000LL + ms;
}

// The real readers under this system, attached to a real recording.
TEST_F(RecordingFixture, RealInventoryIsAttachedToTheRecording) {
    const std::string text = attach_inventory(queue, session_id);
    EXPECT_EQ(stored_opening(), text);
    const nlohmann::json opening = nlohmann::json::parse(text);
    const nlohmann::json& inventory = opening.at("inventory");
    std::vector<std::string> keys;
    for (const auto& item : inventory.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"captured_at", "duplicate_addresses", "finished_at",
                                              "gateway_changes", "interfaces", "neighbors",
                                              "routes", "system", "unique_neighbor_macs", "wifi"}));
    for (const char* section : {"duplicate_addresses", "gateway_changes", "interfaces", "neighbors",
                                "routes", "unique_neighbor_macs", "wifi"}) {
        EXPECT_TRUE(inventory[section].contains("status")) << section;
    }
    EXPECT_FALSE(inventory["system"].contains("status"));
    const std::string captured = inventory["captured_at"], finished = inventory["finished_at"];
    ASSERT_EQ(captured.size(), 24u);
    ASSERT_EQ(finished.size(), 24u);
    EXPECT_EQ(captured.back(), 'Z');
    std::int64_t elapsed = milliseconds_of_day(finished) - milliseconds_of_day(captured);
    if (elapsed < 0) elapsed += 24LL * 3600 * 1000;
    EXPECT_GE(elapsed, 500);
    EXPECT_LE(inventory.dump().size(), inventory_wire_budget);
    std::printf("real inventory: %zu bytes; wifi %s; neighbors %s; gateway_changes %s\n",
                inventory.dump().size(), inventory["wifi"].dump().c_str(),
                inventory["neighbors"].value("reason", std::string("ok")).c_str(),
                inventory["gateway_changes"].dump().c_str());
}

// --- A whole machine played from recorded tables, for the privacy check. ---

VOID WINAPI fake_free(PVOID memory) { ::operator delete(memory); }
DWORD WINAPI fake_close(HANDLE, PVOID) { return ERROR_SUCCESS; }
DWORD WINAPI fake_open(DWORD, PVOID, PDWORD negotiated, PHANDLE handle) {
    *negotiated = 2;
    *handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(1));
    return ERROR_SUCCESS;
}
DWORD WINAPI fake_enum(HANDLE, PVOID, PWLAN_INTERFACE_INFO_LIST* list) {
    // The list's array member is declared without a size: room for its one entry is added.
    const std::size_t size =
        offsetof(WLAN_INTERFACE_INFO_LIST, InterfaceInfo) + sizeof(WLAN_INTERFACE_INFO);
    auto* result = static_cast<WLAN_INTERFACE_INFO_LIST*>(::operator new(size));
    std::memset(result, 0, size);
    result->dwNumberOfItems = 1;
    result->InterfaceInfo[0].isState = wlan_interface_state_connected;
    wcscpy(result->InterfaceInfo[0].strInterfaceDescription, profile);
    *list = result;
    return ERROR_SUCCESS;
}
DWORD WINAPI fake_query(HANDLE, const GUID*, WLAN_INTF_OPCODE opcode, PVOID, PDWORD size,
                        PVOID* data, PWLAN_OPCODE_VALUE_TYPE) {
    if (opcode != wlan_intf_opcode_current_connection) return ERROR_NOT_SUPPORTED;
    auto* attributes = static_cast<WLAN_CONNECTION_ATTRIBUTES*>(
        ::operator new(sizeof(WLAN_CONNECTION_ATTRIBUTES)));
    std::memset(attributes, 0, sizeof *attributes);
    wcscpy(attributes->strProfileName, profile);
    auto& association = attributes->wlanAssociationAttributes;
    association.dot11Ssid.uSSIDLength = static_cast<ULONG>(std::strlen(ssid));
    std::memcpy(association.dot11Ssid.ucSSID, ssid, std::strlen(ssid));
    std::memcpy(association.dot11Bssid, access_point_bssid.data(), 6);
    association.wlanSignalQuality = 70;
    *data = attributes;
    *size = sizeof *attributes;
    return ERROR_SUCCESS;
}
// The inventory never registers, scans or lists networks.
const WlanApi fake_wlan{&fake_open,  &fake_enum, &fake_query, &fake_free,
                        &fake_close, nullptr,    nullptr,     nullptr};

SOCKADDR_INET ipv4(const char* text) {
    SOCKADDR_INET address{};
    address.si_family = AF_INET;
    inet_pton(AF_INET, text, &address.Ipv4.sin_addr);
    return address;
}

MIB_IPNET_ROW2 neighbor_row(const char* ip, const Mac& mac) {
    MIB_IPNET_ROW2 row{};
    row.Address = ipv4(ip);
    row.InterfaceIndex = 7;
    std::memcpy(row.PhysicalAddress, mac.data(), 6);
    row.PhysicalAddressLength = 6;
    row.State = NlnsReachable;
    return row;
}

InventoryCollectors recorded_machine() {
    InventoryCollectors c = system_inventory_collectors();
    c.snapshot_interface_counters = [] {
        MIB_IF_ROW2 row{};
        row.InterfaceLuid.Value = 0x6000001;
        row.OperStatus = IfOperStatusUp;
        std::memcpy(row.PermanentPhysicalAddress, adapter_mac.data(), 6);
        std::memcpy(row.PhysicalAddress, adapter_mac.data(), 6);
        row.PhysicalAddressLength = 6;
        return make_counter_snapshot(0, {&row, 1}, system_inventory_collectors().steady_now_ns());
    };
    c.collect_wifi = [](std::span<const std::uint8_t> key) { return collect_wifi(fake_wlan, key); };
    c.collect_routes = [] {
        MIB_IPFORWARD_ROW2 route{};
        route.DestinationPrefix.Prefix = ipv4("0.0.0.0");
        route.NextHop = ipv4("192.168.1.1");
        route.InterfaceIndex = 7;
        return build_routes({&route, 1});
    };
    c.collect_neighbors = [](nlohmann::json& inventory, std::span<const std::uint8_t> key) {
        const MIB_IPNET_ROW2 rows[] = {neighbor_row("192.168.1.1", router_mac),
                                       neighbor_row("192.168.1.20", printer_mac)};
        build_neighbors(inventory, key, rows, OuiRegistry{{{"001A2B", "Router Maker"}}, true});
    };
    c.collect_interfaces = [](nlohmann::json& inventory, std::span<const std::uint8_t> key,
                              const InterfaceCounterSnapshot& first,
                              const InterfaceCounterSnapshot& second) {
        SOCKADDR_INET gateway_address = ipv4("192.168.1.1");
        IP_ADAPTER_GATEWAY_ADDRESS_LH gateway{};
        gateway.Address =
            SOCKET_ADDRESS{reinterpret_cast<SOCKADDR*>(&gateway_address), sizeof(SOCKADDR_IN)};
        IP_ADAPTER_ADDRESSES adapter;
        std::memset(static_cast<void*>(&adapter), 0, sizeof adapter);
        char name[] = "{0b1e2d3c-4a5b-4c6d-8e9f-a0b1c2d3e4f5}";
        wchar_t description[] = L"Recorded Ethernet";
        adapter.AdapterName = name;
        adapter.Description = description;
        std::memcpy(adapter.PhysicalAddress, adapter_mac.data(), 6);
        adapter.PhysicalAddressLength = 6;
        adapter.IfIndex = 7;
        adapter.Luid.Value = 0x6000001;
        adapter.IfType = IF_TYPE_ETHERNET_CSMACD;
        adapter.OperStatus = IfOperStatusUp;
        adapter.Mtu = 1500;
        adapter.FirstGatewayAddress = &gateway;
        build_interfaces(inventory, key, &adapter, {}, first, second);
    };
    return c;
}

std::vector<std::string> written_forms(const Mac& mac) {
    char plain[13], colons[18], dashes[18];
    std::snprintf(plain, sizeof plain, "%02x%02x%02x%02x%02x%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    std::snprintf(colons, sizeof colons, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    std::snprintf(dashes, sizeof dashes, "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return {plain, colons, dashes};
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return text;
}

TEST_F(RecordingFixture, StoredOpeningHoldsOnlyPseudonymsOfHardware) {
    const std::string text = attach_inventory(queue, session_id, recorded_machine());
    const std::string stored = lower(stored_opening());
    ASSERT_EQ(lower(text), stored);
    const PrivacyKey key = load_privacy_key(queue);
    for (const Mac* mac : {&adapter_mac, &router_mac, &printer_mac, &access_point_bssid}) {
        for (const std::string& form : written_forms(*mac)) {
            EXPECT_EQ(stored.find(form), std::string::npos) << form;
        }
        const std::string pseudonym = hmac_sha256(*mac, key);
        ASSERT_EQ(pseudonym.size(), 64u);
        EXPECT_NE(stored.find(pseudonym), std::string::npos)
            << "no pseudonym for " << written_forms(*mac)[1];
    }
    EXPECT_EQ(stored.find(lower(ssid)), std::string::npos);
    EXPECT_EQ(stored.find("kowalscyprofil"), std::string::npos);

    // The gateway memory keeps the router's pseudonym too, never its address.
    const std::vector<std::string> macs = query_strings(queue.db, "SELECT mac FROM gateway_seen");
    EXPECT_EQ(macs, std::vector<std::string>{hmac_sha256(router_mac, key)});
    const nlohmann::json inventory = nlohmann::json::parse(text)["inventory"];
    EXPECT_EQ(inventory["gateway_changes"]["reason"], "no_previous_gateway_observation");
    EXPECT_EQ(inventory["interfaces"]["value"][0]["gateways"]["value"][0], "192.168.1.1");
}

}  // namespace
}  // namespace tarvisko
