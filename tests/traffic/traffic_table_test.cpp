// The per-process table over a section in ordinary memory, and the sequence lock's reader.
#include "traffic/traffic_table.h"

#include <gtest/gtest.h>

#include <cstring>

#include "traffic/traffic_fakes.h"

namespace tarvisko {
namespace {

constexpr std::uint32_t kOwnPid = 500;

ProcessNames names_now;
ProcessNames read_names() { return names_now; }

// A view whose section lives in the test's memory.
struct TableFixture {
    std::unique_ptr<TrafficSharedSection> section = test::zeroed_section();
    TrafficViewPtr view = create_traffic_view();

    TableFixture() {
        view->section_view =
            HandleGuard<TrafficSharedSection*>(section.get(), [](TrafficSharedSection*) {});
        view->status_text = L"Czekam na pierwsze próbki ruchu do Internetu.";
        section->status = 1;
        names_now = {{10, L"chrome.exe"},
                     {20, L"steam.exe"},
                     {30, L"svchost.exe"},
                     {kOwnPid, L"Tarvisko.exe"}};
    }
    // Publishes a snapshot of {pid, received, sent} entries after `elapsed_ms`.
    void publish(std::int64_t elapsed_ms,
                 std::initializer_list<std::array<std::uint64_t, 3>> entries,
                 std::int32_t lost = 0) {
        auto snapshot = std::make_unique<TrafficSnapshot>();
        std::memset(snapshot.get(), 0, sizeof *snapshot);
        snapshot->elapsed_ms = elapsed_ms;
        snapshot->lost = lost;
        for (const auto& [pid, received, sent] : entries) {
            TrafficSnapshotEntry& entry = snapshot->entries[snapshot->count++];
            entry.process_id = static_cast<std::uint32_t>(pid);
            entry.bytes_received = received;
            entry.bytes_sent = sent;
        }
        publish_section_snapshot(*section, *snapshot);
    }
    TableModel table(bool live, const std::wstring& label = L"Pobieranie") {
        std::lock_guard lock(view->lock);
        return build_traffic_table_locked(*view, live, label, read_names, kOwnPid);
    }
};

std::vector<std::vector<std::wstring>> cells_of(const TableModel& model) {
    std::vector<std::vector<std::wstring>> cells;
    for (const TableRow& row : model.rows) cells.push_back(row.cells);
    return cells;
}

TEST(TrafficTable, WithoutDataTheTitleSaysWhy) {
    TrafficViewPtr bare = create_traffic_view();
    TableModel model = build_traffic_table(*bare, true, L"Uruchamianie testu");
    EXPECT_EQ(model.title, L"Przygotowywanie odczytu Windows…");
    EXPECT_TRUE(model.rows.empty());
    ASSERT_EQ(model.columns.size(), 5u);
    EXPECT_EQ(model.columns[0], (TableColumn{L"Proces", 216}));
    EXPECT_EQ(model.columns[1], (TableColumn{L"PID", 71}));
    EXPECT_EQ(model.columns[2], (TableColumn{L"Pobiera", 128}));
    EXPECT_EQ(model.columns[3], (TableColumn{L"Wysyła", 128}));
    EXPECT_EQ(model.columns[4], (TableColumn{L"Ruch od startu", 165}));
    EXPECT_EQ(model.kind, 0);

    TableFixture f;
    EXPECT_EQ(f.table(true).title, L"Czekam na pierwsze próbki ruchu do Internetu.");

    f.publish(1000, {{10, 1, 1}});
    f.section->status = -5;
    model = f.table(false);
    EXPECT_EQ(model.title, L"Brak danych ETW · kod Windows 5");
    EXPECT_TRUE(model.rows.empty());

    // A snapshot that stays torn counts as no data for this call.
    f.section->status = 1;
    f.section->sequence += 1;
    EXPECT_EQ(f.table(false).title, L"Czekam na pierwsze próbki ruchu do Internetu.");
    f.section->sequence += 1;
    EXPECT_EQ(f.table(false).rows.size(), 1u);

    // A damaged section with a negative time shows no rates.
    f.publish(-1000, {{10, 1, 1}});
    EXPECT_EQ(f.table(false).title, L"Czekam na pierwsze próbki ruchu do Internetu.");
}

TEST(TrafficTable, FinalTableAveragesEveryCountedProcessBusiestFirst) {
    TableFixture f;
    f.publish(10000, {{0, 9, 9},
                      {10, 1000000, 300000},
                      {20, 300000, 1000000},
                      {30, 0, 0},
                      {40, 5000000, 0},
                      {kOwnPid, 99000000, 99000000}});
    f.section->stop_qpc = 1;
    const TableModel model = f.table(false, L"ignored");
    EXPECT_EQ(model.title,
              L"Średni ruch do Internetu · ostatni test · Inne procesy ↓ 5 Mb/s / ↑ 1 Mb/s");
    const std::vector<std::vector<std::wstring>> expected = {
        {L"Proces zakończony / nazwa niedostępna", L"40", L"4 Mb/s", L"0 Mb/s", L"5 MB"},
        {L"chrome.exe", L"10", L"0,8 Mb/s", L"0,2 Mb/s", L"1,3 MB"},
        {L"steam.exe", L"20", L"0,2 Mb/s", L"0,8 Mb/s", L"1,3 MB"},
        {L"svchost.exe", L"30", L"0 Mb/s", L"0 Mb/s", L"0 MB"},
    };
    EXPECT_EQ(cells_of(model), expected);
    EXPECT_EQ(model.rows[0].detail,
              L"Ruch TCP/UDP do lub z publicznych adresów na karcie pomiarowej. Średnia końcowa "
              L"obejmuje całą fazę odczytu. Proces może konkurować o przepustowość, jeżeli ruch "
              L"korzysta z tego samego łącza.");
    EXPECT_TRUE(model.rows[0].chart.empty());
    EXPECT_TRUE(model.rows[0].status.empty());
    EXPECT_TRUE(f.view->cached_live_table.rows.empty()) << "final mode changes no state";
    EXPECT_EQ(f.view->saved_snapshot.elapsed_ms, 0);
}

// Any program chooses its executable's name: the table shows it without direction marks or
// controls, and never wider than a cell's text may be.
TEST(TrafficTable, HostileProcessNamesArriveSanitised) {
    TableFixture f;
    names_now = {{10, L"\u202Egpj.exe"},
                 {20, std::wstring(10000, L'x')},
                 {30, L"\u200B\u200F\uFEFF"},
                 {40, L"bell\x07.exe\r\n"}};
    f.publish(1000, {{10, 4000, 0}, {20, 3000, 0}, {30, 2000, 0}, {40, 1000, 0}});
    std::vector<std::wstring> shown;
    for (const TableRow& row : f.table(false).rows) shown.push_back(row.cells[0]);
    EXPECT_EQ(shown, (std::vector<std::wstring>{L" gpj.exe", std::wstring(119, L'x') + L"\u2026",
                                                L"Proces zakończony / nazwa niedostępna",
                                                L"bell .exe  "}));
}

TEST(TrafficTable, LiveTablesShowTheIntervalSinceThePreviousOne) {
    TableFixture f;
    // The first live table after arming covers the whole elapsed time.
    f.publish(2000, {{10, 500000, 0}, {20, 0, 0}, {30, 5000, 260000}});
    TableModel model = f.table(true, L"Pobieranie");
    EXPECT_EQ(model.title,
              L"Pobieranie · Ruch do Internetu według procesu · Inne procesy ↓ 2 Mb/s / ↑ 1 Mb/s");
    EXPECT_EQ(cells_of(model), (std::vector<std::vector<std::wstring>>{
                                   {L"chrome.exe", L"10", L"2 Mb/s", L"0 Mb/s", L"0,5 MB"},
                                   {L"svchost.exe", L"30", L"0 Mb/s", L"1 Mb/s", L"0,3 MB"}}));

    // A refresh between two publications repeats the rows without the totals.
    model = f.table(true, L"Wysyłanie");
    EXPECT_EQ(model.title, L"Wysyłanie · Ruch do Internetu według procesu");
    EXPECT_EQ(model.rows.size(), 2u);

    // The next one: only processes with traffic in the interval; a counter that went down gives 0.
    f.publish(3000, {{10, 500000, 0}, {20, 130000, 0}, {30, 100, 385000}});
    names_now.clear();  // steam.exe ended meanwhile
    model = f.table(true, L"Wysyłanie");
    EXPECT_EQ(model.title,
              L"Wysyłanie · Ruch do Internetu według procesu · Inne procesy ↓ 1 Mb/s / ↑ 1 Mb/s");
    EXPECT_EQ(cells_of(model), (std::vector<std::vector<std::wstring>>{
                                   {L"steam.exe", L"20", L"1 Mb/s", L"0 Mb/s", L"0,1 MB"},
                                   {L"svchost.exe", L"30", L"0 Mb/s", L"1 Mb/s", L"0,4 MB"}}));
    EXPECT_EQ(f.view->saved_snapshot.elapsed_ms, 3000);

    // An interval without traffic: one row that says so.
    f.publish(4000, {{10, 500000, 0}, {20, 130000, 0}, {30, 100, 385000}});
    model = f.table(true);
    ASSERT_EQ(model.rows.size(), 1u);
    EXPECT_EQ(model.rows[0].cells, std::vector<std::wstring>{L"Brak ruchu innych procesów"});
    EXPECT_EQ(model.rows[0].detail,
              L"Windows nie zarejestrował ruchu TCP/UDP od innych procesów do publicznych adresów "
              L"na karcie pomiarowej.");
    EXPECT_EQ(model.title,
              L"Pobieranie · Ruch do Internetu według procesu · Inne procesy ↓ 0 Mb/s / ↑ 0 Mb/s");

    // The final table after the stop averages the whole window and keeps every name seen.
    model = f.table(false);
    EXPECT_EQ(model.rows.size(), 3u);
    EXPECT_EQ(model.rows[0].cells[0], L"chrome.exe");
    EXPECT_EQ(model.rows[1].cells[0], L"svchost.exe");
    EXPECT_EQ(model.rows[2].cells[0], L"steam.exe");
}

TEST(TrafficTable, ALiveTableWithoutANewerSnapshotOrCachedRowsUsesTheWholeTime) {
    TableFixture f;
    f.view->saved_snapshot.elapsed_ms = 5000;  // newer than anything the section holds
    f.publish(1000, {{10, 125000, 0}});
    const TableModel model = f.table(true);
    EXPECT_EQ(model.title,
              L"Pobieranie · Ruch do Internetu według procesu · Inne procesy ↓ 1 Mb/s / ↑ 0 Mb/s");
    EXPECT_EQ(cells_of(model), (std::vector<std::vector<std::wstring>>{
                                   {L"chrome.exe", L"10", L"1 Mb/s", L"0 Mb/s", L"0,1 MB"}}));
    EXPECT_EQ(f.view->saved_snapshot.elapsed_ms, 5000);
}

TEST(TrafficTable, PartialDataAndAHostileCountAreMarkedAndBounded) {
    TableFixture f;
    f.publish(1000, {{10, 1000, 0}}, 3);
    EXPECT_EQ(f.table(false).title,
              L"Średni ruch do Internetu · ostatni test · Dane częściowe · Inne procesy ↓ 0 Mb/s / "
              L"↑ 0 Mb/s");

    auto snapshot = std::make_unique<TrafficSnapshot>();
    std::memset(snapshot.get(), 0, sizeof *snapshot);
    snapshot->elapsed_ms = 1000;
    snapshot->count = 5000;
    for (std::uint32_t i = 0; i < kTrafficProcessSlots; ++i) {
        snapshot->entries[i] = {1000 + i, 0, 8000, 0};
    }
    publish_section_snapshot(*f.section, *snapshot);
    EXPECT_EQ(f.table(false).rows.size(), kTrafficProcessSlots);
}

TEST(TrafficTable, RatesInMegabits) {
    struct Case {
        std::uint64_t bytes;
        std::int64_t ms;
        const wchar_t* text;
    };
    for (const Case& c :
         {Case{1000, 0, L"—"}, Case{0, 1000, L"0 Mb/s"}, Case{125000, 1000, L"1 Mb/s"},
          Case{1000000, 3000, L"2,7 Mb/s"}, Case{12500000000, 1000, L"100000 Mb/s"}}) {
        EXPECT_EQ(format_rate_mbps(c.bytes, c.ms), c.text) << c.bytes << " in " << c.ms;
    }
}

TEST(TrafficTable, ProcessNamesComeFromAToolhelpSnapshot) {
    const ProcessNames names = snapshot_process_names();
    ASSERT_TRUE(names.count(GetCurrentProcessId()));
    EXPECT_EQ(names.at(GetCurrentProcessId()), L"traffic_test.exe");
}

TEST(TrafficSection, KernelObjectNamesAndChildParameters) {
    const std::wstring guid = L"{0F8FAD5B-D9CB-469F-A165-70867728950E}";
    EXPECT_EQ(traffic_section_name(guid),
              L"Local\\QUORVEL-ProcessTraffic-{0F8FAD5B-D9CB-469F-A165-70867728950E}");
    EXPECT_EQ(traffic_stop_event_name(guid),
              L"Local\\QUORVEL-ProcessTraffic-{0F8FAD5B-D9CB-469F-A165-70867728950E}-stop");
    EXPECT_EQ(traffic_session_name(guid),
              L"QUORVEL-ProcessTraffic-{0F8FAD5B-D9CB-469F-A165-70867728950E}");
    EXPECT_EQ(traffic_child_parameters(guid, 4321),
              L"--process-traffic {0F8FAD5B-D9CB-469F-A165-70867728950E} 4321");
}

TEST(TrafficSection, ReaderGivesUpOnAHeldWriteAndStopIsStampedOnce) {
    auto section = test::zeroed_section();
    auto snapshot = std::make_unique<TrafficSnapshot>();
    std::memset(snapshot.get(), 0, sizeof *snapshot);
    snapshot->elapsed_ms = 42;
    snapshot->count = 1;
    publish_section_snapshot(*section, *snapshot);
    EXPECT_EQ(section->sequence, 2u);

    auto out = std::make_unique<TrafficSnapshot>();
    ASSERT_TRUE(read_section_snapshot(*section, *out));
    EXPECT_EQ(out->elapsed_ms, 42);

    section->sequence = 3;  // a writer that never finishes
    EXPECT_FALSE(read_section_snapshot(*section, *out));
    EXPECT_EQ(out->elapsed_ms, 0);
    EXPECT_EQ(out->count, 0u);

    EXPECT_TRUE(stamp_stop_qpc(*section, 100));
    EXPECT_FALSE(stamp_stop_qpc(*section, 200));
    EXPECT_EQ(load_stop_qpc(*section), 100);
}

}  // namespace
}  // namespace tarvisko
