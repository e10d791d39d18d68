#include "engine/inventory/interface_counters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace tarvisko {
namespace {

using nlohmann::json;

constexpr std::uint64_t kLuid = 0x0006000001000000ULL;
constexpr std::int64_t kMs = 1'000'000;

MIB_IF_ROW2 row(std::uint64_t luid, IF_OPER_STATUS status, ULONG64 in_octets, ULONG64 out_octets,
                ULONG64 speed = 100'000'000) {
    MIB_IF_ROW2 r{};
    r.InterfaceLuid.Value = luid;
    r.OperStatus = status;
    r.InOctets = in_octets;
    r.OutOctets = out_octets;
    r.ReceiveLinkSpeed = speed;
    r.TransmitLinkSpeed = speed;
    r.InErrors = 1;
    r.OutErrors = 2;
    r.InDiscards = 3;
    r.OutDiscards = 4;
    return r;
}

InterfaceCounterSnapshot snapshot(std::vector<MIB_IF_ROW2> rows, std::int64_t taken_at,
                                  std::uint32_t status = 0) {
    return make_counter_snapshot(status, rows, taken_at);
}

json unavailable(const char* reason) { return {{"reason", reason}, {"status", "unavailable"}}; }

TEST(InterfaceTraffic, RatesAndUtilisationFromTwoSnapshots) {
    const auto first = snapshot({row(kLuid, IfOperStatusUp, 5'000'000, 700)}, 10 * kMs);
    const auto second = snapshot({row(kLuid, IfOperStatusUp, 6'000'000, 700 + 62'500)},
                                 10 * kMs + 500 * kMs + 999'999);  // 500.999 ms: truncated
    json adapter = json::object();
    interface_traffic(adapter, kLuid, first, second);
    EXPECT_EQ(
        adapter["link"],
        json({{"status", "ok"}, {"value", {{"rx_bps", 100'000'000}, {"tx_bps", 100'000'000}}}}));
    EXPECT_EQ(adapter["counters"]["value"], json({{"rx_bytes", 6'000'000},
                                                  {"tx_bytes", 63'200},
                                                  {"rx_errors", 1},
                                                  {"tx_errors", 2},
                                                  {"rx_discards", 3},
                                                  {"tx_discards", 4}}));
    const json& traffic = adapter["traffic"];
    EXPECT_EQ(traffic["status"], "ok");
    EXPECT_EQ(traffic["value"]["interval_ms"], 500);
    EXPECT_DOUBLE_EQ(traffic["value"]["rx_bps"].get<double>(), 16'000'000.0);
    EXPECT_DOUBLE_EQ(traffic["value"]["tx_bps"].get<double>(), 1'000'000.0);
    EXPECT_EQ(traffic["value"]["rx_utilization_pct"]["status"], "ok");
    EXPECT_DOUBLE_EQ(traffic["value"]["rx_utilization_pct"]["value"].get<double>(), 16.0);
    EXPECT_DOUBLE_EQ(traffic["value"]["tx_utilization_pct"]["value"].get<double>(), 1.0);
    EXPECT_EQ(adapter.dump().substr(0, 40), R"({"counters":{"status":"ok","value":{"rx_)");
}

TEST(InterfaceTraffic, UnknownLinkSpeedKeepsRatesWithoutUtilisation) {
    for (ULONG64 speed : {ULONG64{0}, ~ULONG64{0}}) {
        const auto first = snapshot({row(kLuid, IfOperStatusUp, 0, 0, speed)}, 0);
        const auto second = snapshot({row(kLuid, IfOperStatusUp, 1000, 0, speed)}, 1000 * kMs);
        json adapter = json::object();
        interface_traffic(adapter, kLuid, first, second);
        EXPECT_EQ(adapter["link"], unavailable("link_down_or_speed_unknown"));
        EXPECT_EQ(adapter["traffic"]["status"], "ok");
        EXPECT_DOUBLE_EQ(adapter["traffic"]["value"]["rx_bps"].get<double>(), 8000.0);
        EXPECT_EQ(adapter["traffic"]["value"]["rx_utilization_pct"],
                  unavailable("link_speed_unknown"));
        EXPECT_EQ(adapter["traffic"]["value"]["tx_utilization_pct"],
                  unavailable("link_speed_unknown"));
    }
}

TEST(InterfaceTraffic, IncomparableCountersGiveNoTraffic) {
    struct Case {
        const char* name;
        std::vector<MIB_IF_ROW2> first;
        MIB_IF_ROW2 second;
        std::int64_t interval;
        const char* link_status;
    };
    const Case cases[] = {
        {"disconnected",
         {row(kLuid, IfOperStatusDown, 0, 0)},
         row(kLuid, IfOperStatusDown, 0, 0),
         500 * kMs,
         "unavailable"},
        {"went down",
         {row(kLuid, IfOperStatusUp, 0, 0)},
         row(kLuid, IfOperStatusLowerLayerDown, 9, 9),
         500 * kMs,
         "unavailable"},
        {"came up",
         {row(kLuid, IfOperStatusDown, 0, 0)},
         row(kLuid, IfOperStatusUp, 9, 9),
         500 * kMs,
         "ok"},
        {"received reset",
         {row(kLuid, IfOperStatusUp, 1000, 0)},
         row(kLuid, IfOperStatusUp, 10, 5),
         500 * kMs,
         "ok"},
        {"sent reset",
         {row(kLuid, IfOperStatusUp, 0, 1000)},
         row(kLuid, IfOperStatusUp, 10, 5),
         500 * kMs,
         "ok"},
        {"appeared",
         {row(kLuid + 1, IfOperStatusUp, 0, 0)},
         row(kLuid, IfOperStatusUp, 10, 5),
         500 * kMs,
         "ok"},
        {"under a millisecond",
         {row(kLuid, IfOperStatusUp, 0, 0)},
         row(kLuid, IfOperStatusUp, 10, 5),
         kMs - 1,
         "ok"},
        {"clock backwards",
         {row(kLuid, IfOperStatusUp, 0, 0)},
         row(kLuid, IfOperStatusUp, 10, 5),
         -5 * kMs,
         "ok"},
    };
    for (const Case& c : cases) {
        json adapter = json::object();
        interface_traffic(adapter, kLuid, snapshot(c.first, 100 * kMs),
                          snapshot({c.second}, 100 * kMs + c.interval));
        EXPECT_EQ(adapter["link"]["status"], c.link_status) << c.name;
        EXPECT_EQ(adapter["counters"]["status"], "ok") << c.name;
        EXPECT_EQ(adapter["traffic"], unavailable("inactive_or_incomparable_counters")) << c.name;
    }
}

TEST(InterfaceTraffic, AdapterMissingFromTheSecondTable) {
    const auto first = snapshot({row(kLuid, IfOperStatusUp, 0, 0)}, 0);
    json adapter = json::object();
    interface_traffic(adapter, kLuid, first, snapshot({row(kLuid + 1, IfOperStatusUp, 0, 0)}, kMs));
    for (const char* key : {"link", "counters", "traffic"}) {
        EXPECT_EQ(adapter[key], unavailable("GetIfTable2:1168")) << key;
    }
    adapter = json::object();
    interface_traffic(adapter, kLuid, first,
                      snapshot({row(kLuid, IfOperStatusUp, 0, 0)}, kMs, ERROR_NOT_ENOUGH_MEMORY));
    for (const char* key : {"link", "counters", "traffic"}) {
        EXPECT_EQ(adapter[key], unavailable("GetIfTable2:8")) << key;
    }
}

TEST(CounterSnapshot, FirstRowOfALuidWinsAndFailuresKeepNoRows) {
    const auto taken = snapshot({row(kLuid, IfOperStatusUp, 1, 0), row(kLuid, IfOperStatusUp, 2, 0),
                                 row(kLuid + 1, IfOperStatusDown, 3, 0)},
                                42);
    ASSERT_EQ(taken.rows.size(), 2u);
    EXPECT_EQ(taken.rows.at(kLuid).InOctets, 1u);
    EXPECT_EQ(taken.taken_at, 42);
    EXPECT_TRUE(snapshot({row(kLuid, IfOperStatusUp, 1, 0)}, 0, 8).rows.empty());
}

struct FakeIfTable {
    static inline int allocated = 0;
    static inline int freed = 0;
    static NETIO_STATUS WINAPI failing(PMIB_IF_TABLE2* table) {
        *table = static_cast<MIB_IF_TABLE2*>(::operator new(sizeof(MIB_IF_TABLE2)));
        std::memset(static_cast<void*>(*table), 0, sizeof(MIB_IF_TABLE2));
        (*table)->NumEntries = 1;
        ++allocated;
        return ERROR_NOT_SUPPORTED;
    }
    static VOID WINAPI release(PVOID table) {
        ++freed;
        ::operator delete(table);
    }
};

TEST(CounterSnapshot, FailedCallIsKeptAndItsTableReleased) {
    const IpTableCalls calls{nullptr, nullptr, &FakeIfTable::failing, &FakeIfTable::release};
    const InterfaceCounterSnapshot failed = snapshot_interface_counters(calls);
    EXPECT_EQ(failed.status, static_cast<std::uint32_t>(ERROR_NOT_SUPPORTED));
    EXPECT_TRUE(failed.rows.empty());
    EXPECT_EQ(FakeIfTable::freed, FakeIfTable::allocated);
}

TEST(CounterSnapshot, RealTableUnderThisSystem) {
    const InterfaceCounterSnapshot first = snapshot_interface_counters();
    const InterfaceCounterSnapshot second = snapshot_interface_counters();
    ASSERT_EQ(first.status, 0u);
    ASSERT_FALSE(second.rows.empty());
    EXPECT_GE(second.taken_at, first.taken_at);
    for (const auto& [luid, r] : second.rows) {
        json adapter = json::object();
        interface_traffic(adapter, luid, first, second);
        EXPECT_EQ(adapter["counters"]["status"], "ok");
        EXPECT_TRUE(adapter.contains("link") && adapter.contains("traffic"));
    }
}

}  // namespace
}  // namespace tarvisko
