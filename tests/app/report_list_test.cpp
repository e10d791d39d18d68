// The report lists of pages 9 and 10 in the program's own window, over a folder of a few hundred
// archives: the page switch shows what the window already holds and returns before the folder is
// read (the test holds the reading and lets it go), the rows arrive with the reading's message,
// and a later switch reads only the files that changed.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include "app/report_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/page_switcher.h"
#include "app/results_list.h"
#include "app/services.h"
#include "engine/common/text.h"
#include "results/fixtures.h"
#include "results/report_files.h"
#include "shell_window.h"
#include "support/test_support.h"
#include "support/window_harness.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::list_cell;
using test::pump_until;
using test::ShellWindow;

constexpr int archive_count = 300;
constexpr const wchar_t* loading_title = L"Odczytywanie zapisanych raportów…";
constexpr const wchar_t* history_title =
    L"Dziennik wykonanych i przerwanych prób. Enter otwiera zapis.";

std::string archive_id(int index) {
    char id[40];
    std::snprintf(id, sizeof id, "%08x-0000-4000-8000-000000000000", index);
    return id;
}

// A route run of its own id, started `minute` minutes after a fixed hour: later index, newer.
std::string route_archive(int index, const std::string& target = "10.0.0.1") {
    char started[32];
    std::snprintf(started, sizeof started, "2026-05-01T%02d:%02d:00Z", 8 + index / 60, index % 60);
    const json report = {{"session_id", archive_id(index)},
                         {"started_at", started},
                         {"state", "completed"},
                         {"measurement", {{"purpose", "mtr"}, {"target_name", target}}},
                         {"mtr_samples", json::array()}};
    return report.dump();
}

FILETIME write_time_of(const fs::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    return data.ftLastWriteTime;
}

void set_write_time(const fs::path& path, FILETIME time) {
    const HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
}

int list_rows() {
    return static_cast<int>(SendMessageW(main_window_state.results_list, LVM_GETITEMCOUNT, 0, 0));
}

class ReportListWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        api_token = L"tk_lists_0123456789";
        reports = fs::path(data_directory(server_origin(), api_token)) / L"reports";
        fs::create_directories(reports);
        // Jobs started from here on are held until the test lets them run.
        app_services().start_job_thread = [this](JobSlot&,
                                                 std::function<void(std::stop_token)> job) {
            held.push_back(std::move(job));
        };
    }

    void write_archives() const {
        for (int i = 0; i < archive_count; ++i) {
            test::write_file(reports / (archive_id(i) + ".json"), route_archive(i));
        }
    }

    // Runs the one held reading on a thread of its own, as its slot would, and pumps until its
    // message has been handled.
    void release_reading() {
        ASSERT_EQ(held.size(), 1u);
        std::function<void(std::stop_token)> job = std::move(held.front());
        held.clear();
        std::thread(job, std::stop_token()).join();
        ASSERT_TRUE(pump_until([] { return !main_window_state.report_list.reading; }));
    }

    const TableModel& shown() const { return main_window_state.shown_table; }

    ShellWindow shell;
    fs::path reports;
    std::vector<std::function<void(std::stop_token)>> held;
};

TEST_F(ReportListWindow, TheSwitchReturnsBeforeTheRowsWhichArriveWithTheReading) {
    write_archives();
    test::write_file(reports / "broken.json", "{\"session_id\":");
    const std::wstring large_name = to_wide(archive_id(999)) + L".json";
    test::make_sized_file(reports / large_name, report_file_size_cap + 1, route_archive(999));

    show_page(shell.window, 9);
    // The page is on show, empty and saying so, while its reading waits.
    EXPECT_EQ(main_window_state.current_page, 9);
    EXPECT_TRUE(IsWindowVisible(main_window_state.results_list));
    EXPECT_EQ(shown().columns.size(), 5u);
    EXPECT_TRUE(shown().rows.empty());
    EXPECT_EQ(list_rows(), 0);
    EXPECT_EQ(shown().title, loading_title);
    EXPECT_TRUE(main_window_state.report_list.reading);

    release_reading();
    EXPECT_EQ(shown().title, history_title);
    ASSERT_EQ(shown().rows.size(), static_cast<std::size_t>(archive_count));
    EXPECT_EQ(list_rows(), archive_count);
    EXPECT_EQ(shown().rows.front().cells[2], to_wide(archive_id(archive_count - 1)));
    EXPECT_EQ(list_cell(main_window_state.results_list, 0, 2),
              to_wide(archive_id(archive_count - 1)));
    // The file above the cap was never read: it gives no row, and its entry is kept, so it is
    // not tried again while it stays as it is.
    const auto large = main_window_state.report_list.entries.find(large_name);
    ASSERT_NE(large, main_window_state.report_list.entries.end());
    EXPECT_FALSE(large->second.history_row);
    EXPECT_FALSE(large->second.report_row);

    // The other list shows at once what the window holds, and reads again behind it.
    show_page(shell.window, 10);
    EXPECT_EQ(shown().title, loading_title);
    EXPECT_EQ(shown().rows.size(), static_cast<std::size_t>(archive_count));
    EXPECT_EQ(shown().rows.front().cells[5], L"0 próbek");
    // Sorted by session while the reading runs: the folder has not changed, so the rows on show
    // stay as the user ordered them and only the title comes back.
    sort_results_by_column(main_window_state, 2);
    ASSERT_EQ(shown().rows.front().cells[2], to_wide(archive_id(0)));
    release_reading();
    EXPECT_EQ(shown().title, L"Zestawienie wyników zapisanych raportów. Enter otwiera raport.");
    EXPECT_EQ(shown().rows.size(), static_cast<std::size_t>(archive_count));
    EXPECT_EQ(shown().rows.front().cells[2], to_wide(archive_id(0)));
    EXPECT_EQ(shown().columns.size(), 6u);
}

TEST_F(ReportListWindow, ALaterSwitchReadsOnlyTheFilesThatChanged) {
    write_archives();
    show_page(shell.window, 9);
    release_reading();
    ASSERT_EQ(shown().rows.size(), static_cast<std::size_t>(archive_count));
    show_page(shell.window, 0);

    // Same size, same write time, new content: a file the reading skips keeps its old row.
    const fs::path unchanged = reports / (archive_id(10) + ".json");
    const FILETIME kept_time = write_time_of(unchanged);
    test::write_file(unchanged, route_archive(10, "10.0.0.2"));
    set_write_time(unchanged, kept_time);
    // A new write time: read again.
    const fs::path changed = reports / (archive_id(20) + ".json");
    FILETIME later = write_time_of(changed);
    later.dwHighDateTime += 1;
    test::write_file(changed, route_archive(20, "10.0.0.3"));
    set_write_time(changed, later);
    fs::remove(reports / (archive_id(30) + ".json"));
    test::write_file(reports / (archive_id(500) + ".json"), route_archive(500));

    show_page(shell.window, 9);
    release_reading();
    ASSERT_EQ(shown().rows.size(), static_cast<std::size_t>(archive_count));
    const auto target_of = [&](int index) -> std::wstring {
        for (const TableRow& row : shown().rows) {
            if (row.cells[2] == to_wide(archive_id(index))) return row.cells[4];
        }
        return L"(no row)";
    };
    EXPECT_EQ(target_of(10), L"10.0.0.1");
    EXPECT_EQ(target_of(20), L"10.0.0.3");
    EXPECT_EQ(target_of(30), L"(no row)");
    EXPECT_EQ(shown().rows.front().cells[2], to_wide(archive_id(500)));
    EXPECT_EQ(main_window_state.report_list.entries.size(),
              static_cast<std::size_t>(archive_count));
}

TEST_F(ReportListWindow, ASwitchDuringAReadingReadsAgainWhenItEnds) {
    test::write_file(reports / (archive_id(1) + ".json"), route_archive(1));
    show_page(shell.window, 9);
    show_page(shell.window, 10);
    EXPECT_EQ(held.size(), 1u);  // one reading at a time
    test::write_file(reports / (archive_id(2) + ".json"), route_archive(2));

    std::function<void(std::stop_token)> first = std::move(held.front());
    held.clear();
    std::thread(first, std::stop_token()).join();
    // The first reading's rows show, and the next reading starts behind them.
    ASSERT_TRUE(pump_until([&] { return held.size() == 1; }));
    EXPECT_EQ(main_window_state.current_page, 10);
    EXPECT_EQ(shown().title, loading_title);
    EXPECT_FALSE(shown().rows.empty());
    release_reading();
    EXPECT_EQ(shown().rows.size(), 2u);
    EXPECT_EQ(shown().rows.front().cells[2], to_wide(archive_id(2)));
}

TEST_F(ReportListWindow, ListsTheFullTestsAndTargetRunsOfTheClientOnly) {
    const json full = test::load_result_fixture("diagnostics-report");
    const json echo = test::load_result_fixture("echo-run");
    test::write_file(reports / "full.json", full.dump());
    test::write_file(reports / "echo.json", echo.dump());
    test::write_file(reports / "broken.json", R"({"throughput": 5})");
    show_page(shell.window, 9);
    release_reading();
    ASSERT_EQ(shown().rows.size(), 2u);
    EXPECT_EQ(shown().rows[0].cells[2], L"D05718AF-00D1-40E3-8B40-4C9EB27889A7");
    test::WindowHarness::screenshot("page-9-history");
    show_page(shell.window, 10);
    release_reading();
    ASSERT_EQ(shown().rows.size(), 2u);
    EXPECT_EQ(shown().rows[1].cells[5], L"3 próbek");

    // Without a client token nothing is read and no rows show.
    api_token.clear();
    show_page(shell.window, 9);
    EXPECT_TRUE(held.empty());
    EXPECT_TRUE(shown().rows.empty());
    EXPECT_EQ(shown().title, history_title);
}

}  // namespace
}  // namespace tarvisko
