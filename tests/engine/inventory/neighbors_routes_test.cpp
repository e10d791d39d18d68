#include "engine/inventory/neighbors_routes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/common/hash.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using Mac = std::vector<std::uint8_t>;

const std::vector<std::uint8_t> kKey(32, 0x5A);

SOCKADDR_INET ip(const char* text) {
    SOCKADDR_INET address{};
    if (inet_pton(AF_INET, text, &address.Ipv4.sin_addr) == 1) {
        address.si_family = AF_INET;
    } else {
        EXPECT_EQ(inet_pton(AF_INET6, text, &address.Ipv6.sin6_addr), 1) << text;
        address.si_family = AF_INET6;
    }
    return address;
}

MIB_IPNET_ROW2 neighbor(const char* address, const Mac& mac, NL_NEIGHBOR_STATE state,
                        NET_IFINDEX index = 7) {
    MIB_IPNET_ROW2 row{};
    row.Address = ip(address);
    row.InterfaceIndex = index;
    std::memcpy(row.PhysicalAddress, mac.data(), mac.size());
    row.PhysicalAddressLength = static_cast<ULONG>(mac.size());
    row.State = state;
    return row;
}

MIB_IPFORWARD_ROW2 route(const char* prefix, std::uint8_t length, const char* next_hop,
                         ULONG metric, NET_IFINDEX index) {
    MIB_IPFORWARD_ROW2 row{};
    row.DestinationPrefix.Prefix = ip(prefix);
    row.DestinationPrefix.PrefixLength = length;
    row.NextHop = ip(next_hop);
    row.Metric = metric;
    row.InterfaceIndex = index;
    return row;
}

Mac numbered_mac(std::uint32_t i) {
    return {0x00,
            0x11,
            0x22,
            static_cast<std::uint8_t>(i >> 16),
            static_cast<std::uint8_t>(i >> 8),
            static_cast<std::uint8_t>(i)};
}

OuiRegistry acme_registry() { return OuiRegistry{{{"001122", "Acme Networks"}}, true}; }

TEST(Neighbors, ListsUsableEntriesWithPseudonymsAndVendors) {
    const Mac router = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const Mac phone = {0x06, 0xAB, 0xCD, 0x01, 0x02, 0x03};  // randomised address
    const Mac unknown_maker = {0x00, 0x99, 0x99, 0x01, 0x02, 0x03};
    const std::vector<MIB_IPNET_ROW2> rows = {
        neighbor("192.0.2.1", router, NlnsReachable),
        neighbor("192.0.2.9", {0x00, 0x11, 0x22, 0, 0, 9}, NlnsUnreachable),
        neighbor("192.0.2.10", {0x00, 0x11, 0x22, 0, 0, 10}, NlnsIncomplete),
        neighbor("ff02::1", {0x33, 0x33, 0x00, 0x00, 0x00, 0x01}, NlnsPermanent),  // multicast
        neighbor("192.0.2.255", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, NlnsPermanent),
        neighbor("fe80::1", {}, NlnsStale),                     // no hardware address
        neighbor("192.0.2.11", {0, 0, 0, 0, 0, 0}, NlnsStale),  // all zero
        neighbor("192.0.2.12", {0x00, 0x11, 0x22, 0, 0, 1, 0, 0}, NlnsStale),  // 8 bytes
        neighbor("fe80::211:22ff:fe33:4455", router, NlnsStale, 9),            // same MAC again
        neighbor("192.0.2.20", phone, NlnsDelay),
        neighbor("192.0.2.21", unknown_maker, NlnsProbe),
    };
    json inventory = json::object();
    build_neighbors(inventory, kKey, rows, acme_registry());

    const std::string router_id = hmac_sha256(router, kKey);
    ASSERT_EQ(router_id.size(), 64u);
    EXPECT_EQ(inventory["neighbors"]["status"], "ok");
    const json& list = inventory["neighbors"]["value"];
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].dump(),
              "{\"index\":7,\"ip\":\"192.0.2.1\",\"mac_id\":{\"status\":\"ok\",\"value\":\"" +
                  router_id +
                  "\"},\"state\":5,\"vendor\":{\"status\":\"ok\",\"value\":\"Acme "
                  "Networks\"}}");
    EXPECT_EQ(list[1]["ip"], "fe80::211:22ff:fe33:4455");
    EXPECT_EQ(list[1]["index"], 9);
    EXPECT_EQ(list[1]["mac_id"]["value"], router_id);
    EXPECT_EQ(list[2]["vendor"],
              json({{"reason", "locally_administered_address"}, {"status", "unavailable"}}));
    EXPECT_EQ(list[3]["vendor"]["reason"], "oui_unknown");
    EXPECT_EQ(list[3]["state"], 2);
    EXPECT_EQ(inventory["unique_neighbor_macs"], json({{"status", "ok"}, {"value", 3}}));
    // No raw hardware address may reach the document.
    EXPECT_EQ(inventory.dump().find("00:11:22"), std::string::npos);
}

TEST(Neighbors, CapKeepsTheFirst128ButCountsEveryDistinctMac) {
    std::vector<MIB_IPNET_ROW2> rows;
    for (std::uint32_t i = 0; i < 200; ++i) {
        const std::string address = "198.51.100." + std::to_string(i);
        rows.push_back(neighbor(address.c_str(), numbered_mac(i), NlnsReachable));
    }
    json inventory = json::object();
    build_neighbors(inventory, kKey, rows, OuiRegistry{});
    const json& neighbors = inventory["neighbors"];
    EXPECT_EQ(neighbors["status"], "partial");
    EXPECT_EQ(neighbors["reason"], "row_limit");
    EXPECT_EQ(neighbors["total"], 200);
    ASSERT_EQ(neighbors["value"].size(), 128u);
    EXPECT_EQ(neighbors["value"][127]["ip"], "198.51.100.127");
    EXPECT_EQ(neighbors["value"][0]["vendor"]["reason"], "oui_registry_missing");
    EXPECT_EQ(inventory["unique_neighbor_macs"]["value"], 200);
}

// Fake IP Helper calls: hand out tables from our own heap and count the releases.
struct FakeTables {
    static inline DWORD answer = NO_ERROR;
    static inline std::vector<MIB_IPNET_ROW2> net_rows;
    static inline std::vector<MIB_IPFORWARD_ROW2> route_rows;
    static inline int allocated = 0;
    static inline int freed = 0;

    template <typename Table, typename Row>
    static Table* make(const std::vector<Row>& rows) {
        const std::size_t size = offsetof(Table, Table) + sizeof(Row) * (rows.size() + 1);
        auto* table = static_cast<Table*>(::operator new(size));
        std::memset(static_cast<void*>(table), 0, size);
        table->NumEntries = static_cast<ULONG>(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) table->Table[i] = rows[i];
        ++allocated;
        return table;
    }
    static NETIO_STATUS WINAPI net(ADDRESS_FAMILY family, PMIB_IPNET_TABLE2* table) {
        EXPECT_EQ(family, AF_UNSPEC);
        *table = make<MIB_IPNET_TABLE2>(net_rows);
        return answer;
    }
    static NETIO_STATUS WINAPI forward(ADDRESS_FAMILY family, PMIB_IPFORWARD_TABLE2* table) {
        EXPECT_EQ(family, AF_UNSPEC);
        *table = make<MIB_IPFORWARD_TABLE2>(route_rows);
        return answer;
    }
    static VOID WINAPI release(PVOID table) {
        ++freed;
        ::operator delete(table);
    }
    static IpTableCalls calls() { return IpTableCalls{&net, &forward, nullptr, &release}; }
    static void reset(DWORD result) {
        answer = result;
        allocated = freed = 0;
    }
};

TEST(Neighbors, TableReadThroughTheCallsIsAlwaysReleased) {
    FakeTables::net_rows = {
        neighbor("192.0.2.1", {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, NlnsReachable)};
    // Wine's answer for AF_UNSPEC: 1, with a table anyway.
    FakeTables::reset(1);
    json inventory = json::object();
    collect_neighbors(inventory, kKey, FakeTables::calls());
    const json unavailable = {{"reason", "GetIpNetTable2:1"}, {"status", "unavailable"}};
    EXPECT_EQ(inventory["neighbors"], unavailable);
    EXPECT_EQ(inventory["unique_neighbor_macs"], unavailable);
    EXPECT_EQ(FakeTables::freed, FakeTables::allocated);

    test::TempDir dir;
    const auto file = dir.path() / L"oui.txt";
    std::ofstream(file, std::ios::binary) << "001122\tAcme Networks\n";
    test::ScopedEnv env(L"QUORVEL_OUI_FILE", file.wstring());
    FakeTables::reset(NO_ERROR);
    inventory = json::object();
    collect_neighbors(inventory, kKey, FakeTables::calls());
    EXPECT_EQ(inventory["neighbors"]["value"][0]["vendor"]["value"], "Acme Networks");
    EXPECT_EQ(inventory["unique_neighbor_macs"]["value"], 1);
    EXPECT_EQ(FakeTables::freed, 1);
}

TEST(Routes, RowsBecomeRouteObjectsInTableOrder) {
    const std::vector<MIB_IPFORWARD_ROW2> rows = {
        route("0.0.0.0", 0, "192.0.2.1", 25, 7),
        route("192.0.2.0", 24, "0.0.0.0", 281, 7),
        route("2001:db8::", 64, "::", 256, 9),
        route("::", 0, "fe80::1", 1024, 9),
    };
    const json routes = build_routes(rows);
    EXPECT_EQ(routes["status"], "ok");
    ASSERT_EQ(routes["value"].size(), 4u);
    EXPECT_EQ(
        routes["value"][0].dump(),
        R"({"index":7,"metric":25,"next_hop":"192.0.2.1","prefix":"0.0.0.0","prefix_length":0})");
    EXPECT_EQ(routes["value"][2]["prefix"], "2001:db8::");
    EXPECT_EQ(routes["value"][2]["next_hop"], "::");
    EXPECT_EQ(routes["value"][3]["next_hop"], "fe80::1");
    EXPECT_EQ(build_routes({}), json({{"status", "ok"}, {"value", json::array()}}));
}

TEST(Routes, CapAndFailures) {
    std::vector<MIB_IPFORWARD_ROW2> rows;
    for (ULONG i = 0; i < 300; ++i) rows.push_back(route("198.18.0.0", 15, "0.0.0.0", i, 3));
    const json routes = build_routes(rows);
    EXPECT_EQ(routes["status"], "partial");
    EXPECT_EQ(routes["total"], 300);
    ASSERT_EQ(routes["value"].size(), 128u);
    EXPECT_EQ(routes["value"][127]["metric"], 127);

    FakeTables::route_rows = rows;
    FakeTables::reset(ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(collect_routes(FakeTables::calls()),
              json({{"reason", "GetIpForwardTable2:8"}, {"status", "unavailable"}}));
    EXPECT_EQ(FakeTables::freed, FakeTables::allocated);
    FakeTables::reset(NO_ERROR);
    EXPECT_EQ(collect_routes(FakeTables::calls())["total"], 300);
    EXPECT_EQ(FakeTables::freed, 1);
}

TEST(NeighborsAndRoutes, RealTablesUnderThisSystem) {
    json inventory = json::object();
    collect_neighbors(inventory, kKey);
    for (const char* key : {"neighbors", "unique_neighbor_macs"}) {
        const json& section = inventory.at(key);
        if (section["status"] == "unavailable") {
            EXPECT_EQ(section["reason"].get<std::string>().rfind("GetIpNetTable2:", 0), 0u);
        } else {
            EXPECT_EQ(section["status"], "ok");
        }
    }
    const json routes = collect_routes();
    ASSERT_NE(routes["status"], "unavailable") << routes.dump();
    for (const json& item : routes["value"]) {
        EXPECT_EQ(item.size(), 5u);
        EXPECT_TRUE(item["prefix"].is_string() && item["next_hop"].is_string());
        EXPECT_TRUE(item["metric"].is_number_unsigned());
    }
    EXPECT_NO_THROW((void)inventory.dump());
}

}  // namespace
}  // namespace tarvisko
