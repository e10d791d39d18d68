// The report lists of pages 9 and 10 from report files, the settings rows of page 11, and
// what the window shows when a page is chosen.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/page_switcher.h"
#include "app/report_list.h"
#include "app/services.h"
#include "results/view_status.h"
#include "support/window_harness.h"
#include "results/dashboard.h"
#include "results/fixtures.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::wstring> column(const TableModel& table, std::size_t index) {
    std::vector<std::wstring> cells;
    for (const TableRow& row : table.rows) cells.push_back(row.cells.at(index));
    return cells;
}

class ReportList : public ::testing::Test {
  protected:
    const json full = test::load_result_fixture("diagnostics-report");
    const json echo = test::load_result_fixture("echo-run");
};

TEST_F(ReportList, FullTestRows) {
    const std::optional<TableRow> history = report_list_row(9, full);
    ASSERT_TRUE(history);
    EXPECT_EQ(history->cells,
              (std::vector<std::wstring>{L"2026-12-11T13:21:10.241Z", L"Pełny test",
                                         L"D05718AF-00D1-40E3-8B40-4C9EB27889A7", L"Zakończono",
                                         L"10.200.1.2"}));
    EXPECT_EQ(history->detail, L"Serwer potwierdził synchronizację raportu.");

    const SummaryModel model = build_results_view(full);
    ASSERT_NE(model.tiles[0].subtitle, L"—");
    const std::optional<TableRow> speeds = report_list_row(10, full);
    ASSERT_TRUE(speeds);
    EXPECT_EQ(speeds->cells.size(), 6u);
    EXPECT_EQ(speeds->cells[3], model.tiles[0].subtitle + L" Mb/s");
    EXPECT_EQ(speeds->cells[4], model.tiles[1].subtitle + L" Mb/s");
    EXPECT_EQ(speeds->cells[5], model.tiles[2].subtitle == L"—" ? L"—"
                                                                 : model.tiles[2].subtitle + L" ms");
}

TEST_F(ReportList, TargetRows) {
    const std::optional<TableRow> history = report_list_row(9, echo);
    ASSERT_TRUE(history);
    EXPECT_EQ(history->cells,
              (std::vector<std::wstring>{L"2026-12-10T18:13:28.967Z", L"MTR",
                                         L"3F786E81-D193-41D4-A33E-DC677D1167F0", L"Zakończono",
                                         L"10.200.3.2"}));
    const std::optional<TableRow> speeds = report_list_row(10, echo);
    ASSERT_TRUE(speeds);
    EXPECT_EQ(std::vector<std::wstring>(speeds->cells.begin() + 3, speeds->cells.end()),
              (std::vector<std::wstring>{L"—", L"—", L"3 próbek"}));

    json without_samples = echo;
    without_samples.erase("mtr_samples");
    EXPECT_EQ(report_list_row(10, without_samples)->cells[5], L"0 próbek");
    json purpose_only = echo;
    purpose_only["measurement"].erase("profile_name");
    EXPECT_EQ(report_list_row(9, purpose_only)->cells[1], L"mtr");
    json neither = echo;
    neither["measurement"] = json{{"note", 1}};
    EXPECT_EQ(report_list_row(9, neither)->cells[1], L"");
    EXPECT_EQ(report_list_row(9, neither)->cells[4], L"—");
    json not_synchronized = echo;
    not_synchronized["synchronized"] = false;
    EXPECT_EQ(report_list_row(9, not_synchronized)->detail, L"Zapis lokalny w profilu komputera.");
}

TEST_F(ReportList, StateRules) {
    json cancelled = full;
    cancelled.erase("state");
    cancelled["throughput"]["error"] = "cancelled";
    EXPECT_EQ(report_list_row(9, cancelled)->cells[3], L"Przerwano");

    json gateway_cancelled = full;
    gateway_cancelled.erase("state");
    gateway_cancelled["throughput"]["host_pings"] = {{"gateway", {{"reason", "cancelled"}}}};
    EXPECT_EQ(report_list_row(9, gateway_cancelled)->cells[3], L"Przerwano");

    json partial = full;
    partial["state"] = "partial";
    EXPECT_EQ(report_list_row(9, partial)->cells[3], L"Częściowy");

    // With a state, the throughput's error does not count.
    json stated = full;
    stated["throughput"]["error"] = "cancelled";
    EXPECT_EQ(report_list_row(9, stated)->cells[3], L"Zakończono");

    json target_without_state = echo;
    target_without_state.erase("state");
    EXPECT_EQ(report_list_row(9, target_without_state)->cells[3], L"Częściowy");
}

TEST_F(ReportList, DocumentsThatGiveNoRow) {
    json empty_id = echo;
    empty_id["session_id"] = "";
    json numeric_profile = echo;
    numeric_profile["measurement"]["profile_name"] = 5;
    json numeric_id = echo;
    numeric_id["session_id"] = 17;
    json numeric_start = echo;
    numeric_start["started_at"] = 17;
    for (const json& document : {json(nullptr), json::array({echo}), json::object(),
                                 json{{"throughput", 5}}, json{{"throughput", json::object()}},
                                 empty_id, numeric_profile, numeric_id, numeric_start}) {
        EXPECT_FALSE(report_list_row(9, document)) << document.dump().substr(0, 80);
        EXPECT_FALSE(report_list_row(10, document)) << document.dump().substr(0, 80);
    }
}

TEST_F(ReportList, FolderListingKeepsGoodFilesNewestFirst) {
    test::TempDir dir;
    const auto report = [&](const std::string& id, const json& started) {
        json document = echo;
        document["session_id"] = id;
        if (started.is_null()) {
            document.erase("started_at");
        } else {
            document["started_at"] = started;
        }
        return document.dump();
    };
    write(dir.path() / "a.json", report("a", "2026-01-01T00:00:00Z"));
    write(dir.path() / "b.json", report("b", "2026-03-01T00:00:00Z"));
    write(dir.path() / "c.json", report("c", "2026-03-01T00:00:00Z"));  // same time: both kept
    write(dir.path() / "d.json", report("d", nullptr));                 // no time: last
    write(dir.path() / "e.json", report("e", "2026-03-01T00:00:00"));   // a prefix sorts lower
    write(dir.path() / "upper.JSON", report("upper", "2027-01-01T00:00:00Z"));
    write(dir.path() / "backup.json.bak", report("backup", "2027-01-01T00:00:00Z"));
    write(dir.path() / "broken.json", "{\"session_id\": ");
    write(dir.path() / "array.json", "[1, 2]");
    write(dir.path() / "throughput-number.json", R"({"throughput": 5})");
    write(dir.path() / "numeric-profile.json",
          R"({"session_id": "x", "measurement": {"profile_name": 5}})");
    fs::create_directory(dir.path() / "folder.json");

    ReportListCache cache;
    const std::optional<ReportListReading> reading = read_report_list(dir.path(), {});
    ASSERT_TRUE(reading);
    merge_report_list(cache, *reading);
    const TableModel history = report_list_table(9, cache, dir.path());
    EXPECT_EQ(history.title, L"Dziennik wykonanych i przerwanych prób. Enter otwiera zapis.");
    ASSERT_EQ(history.columns.size(), 5u);
    EXPECT_EQ(history.columns[3], (TableColumn{L"Stan", 132}));
    EXPECT_EQ(history.columns[4], (TableColumn{L"Cel", 175}));
    const std::vector<std::wstring> ids = column(history, 2);
    ASSERT_EQ(ids.size(), 5u);
    EXPECT_TRUE((ids[0] == L"b" && ids[1] == L"c") || (ids[0] == L"c" && ids[1] == L"b"));
    EXPECT_EQ(std::vector<std::wstring>(ids.begin() + 2, ids.end()),
              (std::vector<std::wstring>{L"e", L"a", L"d"}));

    const TableModel speeds = report_list_table(10, cache, dir.path());
    EXPECT_EQ(speeds.title, L"Zestawienie wyników zapisanych raportów. Enter otwiera raport.");
    EXPECT_EQ(speeds.columns,
              (std::vector<TableColumn>{{L"Czas rozpoczęcia UTC", 194},
                                        {L"Raport", 142},
                                        {L"Sesja", 220},
                                        {L"Pobieranie", 98},
                                        {L"Wysyłanie", 98},
                                        {L"Ping / próbki", 105}}));
    EXPECT_EQ(speeds.rows.size(), 5u);

    // No folder: the columns and no rows.
    const std::optional<ReportListReading> none = read_report_list(dir.path() / "missing", {});
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->read.empty());
    merge_report_list(cache, *none);
    const TableModel missing = report_list_table(9, cache, dir.path() / "missing");
    EXPECT_TRUE(missing.rows.empty());
    EXPECT_EQ(missing.columns.size(), 5u);
    EXPECT_TRUE(report_list_table(10, cache, fs::path()).rows.empty());
    // Rows of another folder are not shown.
    EXPECT_TRUE(report_list_table(9, cache, dir.path()).rows.empty());
}

TEST(SettingsRows, FiveRowsWithTheirDetails) {
    const std::vector<TableRow> rows =
        settings_rows({L"https://serwer.example", {}}, false, L"Masz aktualną wersję aplikacji.");
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].cells,
              (std::vector<std::wstring>{L"Serwer pomiarowy", L"https://serwer.example"}));
    EXPECT_EQ(rows[1].cells, (std::vector<std::wstring>{L"Profil pomiaru", L"Mały transfer"}));
    EXPECT_EQ(rows[2].cells, (std::vector<std::wstring>{L"Wersja Windows EXE", L"1.1.18"}));
    EXPECT_EQ(rows[3].cells, (std::vector<std::wstring>{L"Aktualizacja aplikacji",
                                                        L"Masz aktualną wersję aplikacji."}));
    EXPECT_EQ(rows[4].cells,
              (std::vector<std::wstring>{L"Panel klienta", L"https://serwer.example/klient"}));
    EXPECT_EQ(rows[4].detail, L"Przycisk na dole kopiuje prywatny kod do panelu klienta.");
    EXPECT_EQ(settings_rows({L"o", {}}, true, L"")[1].cells[1], L"Pełna prędkość");

    // A settings file that gives no origin: the row says why, and there is no panel address.
    const std::vector<TableRow> invalid = settings_rows({{}, origin_too_long_text}, false, L"");
    EXPECT_EQ(invalid[0].cells[1], origin_too_long_text);
    EXPECT_EQ(invalid[4].cells[1], L"—");
}

// --- Pages in the window ---------------------------------------------------------------------

using test::WindowHarness;

std::vector<std::wstring> combo_items(HWND combo) {
    std::vector<std::wstring> items;
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring text(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)), L' ');
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        items.push_back(text);
    }
    return items;
}

// Pages that start nothing in the background: no reading, lookup or catalogue service.
class PageInWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        app_services() = AppServices{};
        measurement_running = false;
        last_report_loading = false;
        live_target_page = 0;
        update_running = false;
        update_ready = false;
        available_release.reset();
        last_results = {};
        last_diagnostics_report = nullptr;
        api_token.clear();
    }
    void TearDown() override {
        app_services() = saved;
        measurement_running = false;
        update_ready = false;
        available_release.reset();
        api_token.clear();
        last_diagnostics_report = nullptr;
    }
    AppServices saved = app_services();
    test::TempDir local;
    test::ScopedEnv local_env{L"LOCALAPPDATA", local.path().wstring()};
    test::ScopedEnv origin_env{L"QUORVEL_DESKTOP_ORIGIN", L"https://strony.localhost"};
    WindowHarness harness;
};

TEST_F(PageInWindow, RoutePagesResetTheirCombosAndTakeTheLastPeer) {
    last_diagnostics_report = json{{"throughput", {{"peer", "10.0.0.9"}}}};
    show_page(harness.window(), 7);
    EXPECT_EQ(harness.state().current_page, 7);
    EXPECT_EQ(combo_items(harness.child(method_combo_id)),
              (std::vector<std::wstring>{L"ICMP", L"TCP 443"}));
    EXPECT_EQ(combo_items(harness.child(target_profile_combo_id)),
              (std::vector<std::wstring>{L"20 przebiegów", L"100 przebiegów", L"300 przebiegów"}));
    EXPECT_EQ(SendMessageW(harness.child(target_profile_combo_id), CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(harness.text(target_edit_id), L"10.0.0.9");
    EXPECT_TRUE(harness.enabled(run_target_button_id));

    last_diagnostics_report = json{{"throughput", {{"peer", 5}}}};
    show_page(harness.window(), 8);
    EXPECT_EQ(combo_items(harness.child(method_combo_id)), std::vector<std::wstring>{L"Ping ICMP"});
    EXPECT_EQ(combo_items(harness.child(target_profile_combo_id)),
              (std::vector<std::wstring>{L"1 minuta", L"5 minut", L"15 minut", L"30 minut",
                                         L"60 minut", L"Do zatrzymania"}));
    EXPECT_EQ(harness.text(target_edit_id), L"");
    EXPECT_EQ(harness.state().report_status_text, L"Brak pomiaru w tym widoku");

    // Another page's run is live: the run button stays off here.
    measurement_running = true;
    live_target_page = 7;
    show_page(harness.window(), 8);
    EXPECT_FALSE(harness.enabled(run_target_button_id));
    show_page(harness.window(), 7);
    EXPECT_TRUE(harness.enabled(run_target_button_id));
    live_target_page = 0;
}

TEST_F(PageInWindow, SettingsPageRowsAndUpdateButton) {
    update_status_text = L"Masz aktualną wersję aplikacji.";
    show_page(harness.window(), 11);
    const TableModel& table = harness.state().shown_table;
    EXPECT_EQ(table.title, L"Konfiguracja tej kopii programu");
    ASSERT_EQ(table.rows.size(), 5u);
    EXPECT_EQ(table.rows[0].cells[1], L"https://strony.localhost");
    EXPECT_EQ(table.rows[3].cells[1], L"Masz aktualną wersję aplikacji.");
    EXPECT_EQ(harness.text(update_button_id), L"Sprawdź aktualizacje");
    EXPECT_TRUE(harness.enabled(update_button_id));
    WindowHarness::screenshot("page-11-settings");
    test::save_client_bitmap(harness.window(), "page-11-settings");

    available_release = ReleaseInfo{"1.2.0", std::string(64, 'a'), 1};
    show_page(harness.window(), 11);
    EXPECT_EQ(harness.text(update_button_id), L"Zainstaluj aktualizację");

    update_ready = true;
    measurement_running = true;
    show_page(harness.window(), 11);
    EXPECT_EQ(harness.text(update_button_id), L"Ponowne uruchamianie…");
    EXPECT_FALSE(harness.enabled(update_button_id));
}

TEST_F(PageInWindow, WifiPageShowsTheReadingOrStartsOne) {
    std::vector<std::function<void(std::stop_token)>> started;
    app_services().read_wifi_environment = [](bool) { return WifiReading{}; };
    app_services().start_job_thread = [&](JobSlot&, std::function<void(std::stop_token)> job) {
        started.push_back(std::move(job));
    };
    collecting_view = 0;
    shown_wifi_reading = WifiReading{};
    shown_wifi_reading.table.title = L"Sieci Wi-Fi";
    shown_wifi_reading.table.rows.resize(1);
    shown_wifi_reading.table.rows[0].cells = {L"sieć"};
    show_page(harness.window(), 4);
    EXPECT_EQ(harness.state().shown_table.rows, shown_wifi_reading.table.rows);
    EXPECT_EQ(harness.state().wifi.recommendation, shown_wifi_reading.card);
    EXPECT_TRUE(started.empty());

    shown_wifi_reading = WifiReading{};
    show_page(harness.window(), 4);
    EXPECT_EQ(collecting_view, 4);
    EXPECT_EQ(started.size(), 1u);
    EXPECT_EQ(harness.state().shown_table.title, L"Odczytywanie bieżących danych Windows…");
    collecting_view = 0;
}

TEST_F(PageInWindow, GamesPageWithoutCatalogueAndWithAStoredResult) {
    game_catalog = nullptr;
    show_page(harness.window(), 6);
    EXPECT_EQ(harness.state().current_page, 6);
    EXPECT_EQ(combo_items(harness.child(target_profile_combo_id)),
              std::vector<std::wstring>{L"Własny profil"});
    EXPECT_FALSE(game_result_shown);
    EXPECT_EQ(harness.state().report_status_text, L"Brak pomiaru w tym widoku");
    EXPECT_TRUE(harness.enabled(run_target_button_id));

    last_results[0] = test::load_result_fixture("echo-run");
    last_results[0]["synchronized"] = true;
    show_page(harness.window(), 6);
    EXPECT_TRUE(game_result_shown);
    EXPECT_EQ(harness.state().shown_table.title,
              measurement_view_status(6, last_results[0], {}).title);
    EXPECT_EQ(harness.state().report_status_text, L"Serwer potwierdził zapis tej sesji");
    last_results = {};
}

}  // namespace
}  // namespace tarvisko
