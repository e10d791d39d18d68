#include "readings/computer_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ip_table_fake.h"

namespace tarvisko {
namespace {

using namespace std::chrono_literals;
using test::interface_row;

// A clock that moves only when the reading sleeps: each sleep advances it by what the test's
// `advance` says for the requested span (the whole span unless a test makes it wake early).
struct FakeClock {
    std::chrono::steady_clock::time_point time{std::chrono::hours(1)};
    std::vector<std::chrono::milliseconds> requests;
    std::function<std::chrono::microseconds(std::chrono::milliseconds)> advance =
        [](std::chrono::milliseconds span) { return span; };

    ReadingClock clock() {
        return {[this] { return time; },
                [this](std::chrono::milliseconds span) {
                    requests.push_back(span);
                    time += advance(span);
                }};
    }
};

TEST(CpuLoad, BusyShareClampedAndOnlyWhenTheCountersAdvanced) {
    const ProcessorSample base{1000, 5000, 2000, true};
    const struct {
        const char* name;
        ProcessorSample second;
        std::optional<double> load;
    } cases[] = {
        {"a quarter busy", {1750, 5800, 2200, true}, 25.0},
        {"no idle at all", {1000, 5500, 2500, true}, 100.0},
        {"idle above busy clamps to 0", {2002, 6000, 2000, true}, 0.0},  // would be -0.2
        {"busy did not advance", {1000, 5000, 2000, true}, std::nullopt},
        {"busy went backwards", {1000, 4000, 2000, true}, std::nullopt},
        {"idle went backwards", {999, 6000, 2000, true}, std::nullopt},
        {"second call failed", {1750, 5800, 2200, false}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto load = cpu_load(base, c.second);
        ASSERT_EQ(load.has_value(), c.load.has_value()) << c.name;
        if (load) {
            EXPECT_DOUBLE_EQ(*load, *c.load) << c.name;
        }
    }
    ProcessorSample failed = base;
    failed.ok = false;
    EXPECT_FALSE(cpu_load(failed, {1750, 5800, 2200, true}));
}

TEST(AdapterRows, RatesOfAdaptersPresentInBothSnapshotsWithCountersThatDidNotGoBack) {
    AdapterSnapshot first, second;
    const auto add = [](AdapterSnapshot& snapshot, const MIB_IF_ROW2& row) {
        snapshot.emplace(row.InterfaceLuid.Value, row);
    };
    // Over 2 s: 3,000,000 bytes in = 12 Mb/s, 875,000 bytes out = 3.5 Mb/s.
    add(first, interface_row(9, L"Wi-Fi", 1'000, 2'000));
    add(second, interface_row(9, L"Wi-Fi", 3'001'000, 877'000));
    add(first, interface_row(4, L"Ethernet 2", 500, 500));
    add(second, interface_row(4, L"Ethernet 2", 500, 500));
    add(first, interface_row(5, L"in reset", 9'000, 10));
    add(second, interface_row(5, L"in reset", 10, 20));
    add(first, interface_row(6, L"out reset", 10, 9'000));
    add(second, interface_row(6, L"out reset", 20, 10));
    add(first, interface_row(7, L"went down", 10, 10));
    add(second, interface_row(8, L"came up", 10, 10));

    const std::vector<TableRow> rows = adapter_rows(first, second, 2.0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].cells, (std::vector<std::wstring>{L"Ruch · Ethernet 2", L"0 / 0 Mb/s"}));
    EXPECT_EQ(rows[1].cells, (std::vector<std::wstring>{L"Ruch · Wi-Fi", L"12 / 3,5 Mb/s"}));
    EXPECT_EQ(rows[1].detail,
              L"Średni ruch pobierania i wysyłania tej karty podczas odczytu, w tym komunikacja "
              L"lokalna.");
    EXPECT_TRUE(rows[1].chart.empty());
    EXPECT_TRUE(rows[1].status.empty());
}

TEST(ActiveAdapters, UpAndNotLoopbackFirstRowOfALuidWinsTableFreed) {
    test::FakeIpTables tables;
    tables.if_rows = {{interface_row(3, L"eth", 1, 1), interface_row(3, L"eth again", 2, 2),
                       interface_row(1, L"Loopback", 1, 1, 24),
                       interface_row(2, L"down", 1, 1, 6, IfOperStatusDown),
                       interface_row(8, L"wlan", 1, 1, 71)}};
    const AdapterSnapshot adapters = active_adapters(tables.calls());
    ASSERT_EQ(adapters.size(), 2u);
    EXPECT_EQ(adapter_alias(adapters.at(3)), L"eth");
    EXPECT_EQ(adapter_alias(adapters.at(8)), L"wlan");
    EXPECT_EQ(tables.freed, 1);

    // A failure gives nothing, and a table handed back with it is freed all the same.
    tables.if_answer = {ERROR_NOT_SUPPORTED, true};
    EXPECT_TRUE(active_adapters(tables.calls()).empty());
    EXPECT_EQ(tables.freed, 2);
}

TEST(ReadingWindow, SleepsAgainAfterAnEarlyWakeForTheRemainderRoundedUp) {
    FakeClock fake;
    int sleeps = 0;
    fake.advance = [&](std::chrono::milliseconds span) -> std::chrono::microseconds {
        // The first sleep ends 0.3 ms early, the second 100 ms early.
        if (++sleeps == 1) return span - 300us;
        if (sleeps == 2) return span - 100ms;
        return span;
    };
    const auto start = fake.time;
    sleep_until(fake.clock(), start + 600ms);
    EXPECT_EQ(fake.requests, (std::vector<std::chrono::milliseconds>{600ms, 1ms, 100ms}));
    EXPECT_GE(fake.time, start + 600ms);
}

TEST(ComputerStateView, LiveRowsThenTheCallersRowsTakenOverTheWindow) {
    FakeClock fake;
    const auto start = fake.time;
    test::FakeIpTables tables;
    // Over the 0.6 s window: 900,000 bytes in = 12 Mb/s and 262,500 bytes out = 3.5 Mb/s.
    tables.if_rows = {
        {interface_row(1, L"Loopback", 0, 0, 24), interface_row(2, L"Ethernet", 100, 100),
         interface_row(3, L"Wi-Fi", 0, 0, 71, IfOperStatusDown)},
        {interface_row(1, L"Loopback", 9'000'000, 9'000'000, 24),
         interface_row(2, L"Ethernet", 900'100, 262'600), interface_row(3, L"Wi-Fi", 50, 50, 71)}};
    std::vector<std::chrono::steady_clock::time_point> table_times;
    tables.on_if_table = [&] { table_times.push_back(fake.time); };

    TableModel extra;
    extra.title = L"ignored";
    extra.columns = {{L"ignored", 1}};
    extra.rows = {{{L"Adres IP", L"192.0.2.7"}, L"z raportu", {}, {}, {}},
                  {{L"Brama", L"192.0.2.1"}, L"", {}, {}, {2, 1}}};
    const TableModel model = computer_state_view(extra, fake.clock(), tables.calls());

    ASSERT_EQ(table_times.size(), 2u);
    EXPECT_EQ(table_times[0], start);
    EXPECT_GE(table_times[1], start + kReadingWindow);
    EXPECT_EQ(tables.freed, 2);

    const std::wstring tail =
        L" · Stan komputera. Ruch poszczególnych procesów można włączyć w Podsumowaniu.";
    EXPECT_EQ(model.title.rfind(L"Odczyt ", 0), 0u);
    EXPECT_EQ(model.title.size(), std::wstring(L"Odczyt ").size() + 24 + tail.size());
    EXPECT_EQ(model.title.substr(model.title.size() - tail.size()), tail);
    EXPECT_EQ(model.columns, (std::vector<TableColumn>{{L"Parametr", 253}, {L"Wartość", 275}}));
    EXPECT_EQ(model.kind, 0);

    ASSERT_EQ(model.rows.size(), 5u);
    EXPECT_EQ(model.rows[0].cells[0], L"RAM teraz");
    EXPECT_NE(model.rows[0].cells[1].find(L" % zajęte"), std::wstring::npos);
    EXPECT_EQ(model.rows[0].detail, L"Procent zajętej pamięci fizycznej zgłoszony przez Windows.");
    EXPECT_EQ(model.rows[1].cells[0], L"CPU teraz");
    EXPECT_EQ(model.rows[1].detail, L"Łączne użycie procesora podczas odczytu.");
    // The fake clock ran the whole window without real time: the processor counters may not
    // have advanced, which reads "Brak odczytu".
    const std::wstring& cpu = model.rows[1].cells[1];
    EXPECT_TRUE(cpu == L"Brak odczytu" || cpu.ends_with(L" %")) << cpu;
    EXPECT_EQ(model.rows[2].cells,
              (std::vector<std::wstring>{L"Ruch · Ethernet", L"12 / 3,5 Mb/s"}));
    EXPECT_EQ(model.rows[3], extra.rows[0]);
    EXPECT_EQ(model.rows[4], extra.rows[1]);
}

TEST(ComputerStateView, OnlyTheLoopbackGivesMemoryProcessorAndTheCallersRows) {
    test::FakeIpTables tables;
    tables.if_rows = {{interface_row(1, L"Loopback", 0, 0, 24)},
                      {interface_row(1, L"Loopback", 500, 500, 24)}};
    TableModel extra;
    extra.rows = {{{L"z raportu", L"1"}, L"", {}, {}, {}}};
    // The real clock: the window is waited for in full and the processor counters advance.
    const auto before = std::chrono::steady_clock::now();
    const TableModel model = computer_state_view(extra, steady_reading_clock(), tables.calls());
    EXPECT_GE(std::chrono::steady_clock::now() - before, kReadingWindow);
    ASSERT_EQ(model.rows.size(), 3u);
    EXPECT_EQ(model.rows[0].cells[0], L"RAM teraz");
    EXPECT_EQ(model.rows[1].cells[0], L"CPU teraz");
    EXPECT_TRUE(model.rows[1].cells[1].ends_with(L" %")) << model.rows[1].cells[1];
    EXPECT_EQ(model.rows[2], extra.rows[0]);
}

TEST(ComputerStateView, FailedInterfaceTablesLeaveOnlyTheirRowsOut) {
    FakeClock fake;
    test::FakeIpTables tables;
    tables.if_rows = {{interface_row(2, L"Ethernet", 0, 0)}};
    tables.if_answer = {ERROR_NOT_ENOUGH_MEMORY, true};
    const TableModel model = computer_state_view({}, fake.clock(), tables.calls());
    ASSERT_EQ(model.rows.size(), 2u);
    EXPECT_EQ(model.rows[0].cells[0], L"RAM teraz");
    EXPECT_EQ(model.rows[1].cells[0], L"CPU teraz");
    EXPECT_EQ(tables.freed, 2);
}

}  // namespace
}  // namespace tarvisko
