// Prints what a switch to the history page (page 9) costs with 10, 100 and 1,000 archived reports
// in the program's own window, beside a bare listing of the same folder:
// - the switch itself (show_page until it returns; the folder is read behind it), beside a
//   switch to the settings page, which reads no file;
// - until the rows are on show, with nothing read before (the first switch after the start) and
//   with every file already read (a switch back to the page);
// - reading and parsing every file as the reading does on its first pass (which a switch used to
//   cost on the window thread);
// - a bare listing of the folder's names, sizes and write times (FindFirstFileExW).
// Needs a display (DISPLAY, e.g. under Xvfb):
//   tools/wine/run-test build/bench/app/report_list_bench.exe
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/entry.h"
#include "app/page_switcher.h"
#include "app/report_list.h"
#include "app/services.h"
#include "bench_timing.h"
#include "engine/common/ids.h"

using namespace tarvisko;
namespace fs = std::filesystem;

namespace {

using bench::median_us;

// Dispatches the thread's messages until `done` holds.
template <typename Done>
void pump_until(Done&& done) {
    for (;;) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// A full test's report of a real run (about the size the program writes), under its own id.
std::string full_test_archive(const std::string& template_text, int index) {
    nlohmann::json report = nlohmann::json::parse(template_text);
    char id[40];
    std::snprintf(id, sizeof id, "%08x-0000-4000-8000-000000000000", index);
    report["throughput"]["session_id"] = id;
    return report.dump();
}

// The names, sizes and write times of the folder; returns the bytes the files hold.
std::uint64_t bare_listing(const fs::path& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return 0;
    std::uint64_t bytes = 0;
    std::uint64_t newest = 0;
    do {
        bytes += found.nFileSizeLow;
        newest = std::max<std::uint64_t>(newest, found.ftLastWriteTime.dwLowDateTime);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return newest == 0 ? 0 : bytes;
}

}  // namespace

int wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const fs::path root = fs::temp_directory_path() / ("tarvisko-bench-" + new_uuid_text());
    fs::create_directories(root);
    SetEnvironmentVariableW(L"LOCALAPPDATA", root.c_str());
    SetEnvironmentVariableW(L"QUORVEL_DESKTOP_ORIGIN", L"https://localhost:9");
    // Nothing reaches out: no update check, no readings; jobs get real threads.
    app_services() = AppServices{};

    const HWND window = create_main_window(instance);
    if (window == nullptr) {
        std::fprintf(stderr, "no window (is there a display?)\n");
        return 1;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    pump_until([] { return !last_report_loading; });

    std::ifstream fixture(DIAGNOSTICS_REPORT_PATH, std::ios::binary);
    const std::string template_text((std::istreambuf_iterator<char>(fixture)),
                                    std::istreambuf_iterator<char>());
    api_token = L"bench-token";
    const fs::path reports = fs::path(data_directory(server_origin(), api_token)) / L"reports";
    fs::create_directories(reports);
    std::printf("archived full-test report: %zu bytes\n\n",
                full_test_archive(template_text, 0).size());

    int written = 0;
    ReportListCache& cache = main_window_state.report_list;
    const auto rows_shown = [&] {
        return !cache.reading &&
               main_window_state.shown_table.rows.size() == static_cast<std::size_t>(written);
    };
    for (const int count : {10, 100, 1000}) {
        for (; written < count; ++written) {
            std::ofstream(reports / (std::to_wstring(written) + L".json"), std::ios::binary)
                << full_test_archive(template_text, written);
        }
        const int rounds = count >= 1000 ? 5 : 11;
        std::printf("%d archives\n", count);

        // From the dashboard to page 9: the time until show_page returns and until the rows are
        // on show, with the window's rows of the folder dropped first (cold) or kept (warm).
        const auto switch_times = [&](bool cold) {
            std::vector<double> returned;
            std::vector<double> shown;
            for (int round = 0; round < rounds; ++round) {
                show_page(window, 0);
                pump_until([] { return true; });
                if (cold) cache = ReportListCache{};
                const auto start = std::chrono::steady_clock::now();
                show_page(window, 9);
                const auto back = std::chrono::steady_clock::now();
                pump_until(rows_shown);
                const auto end = std::chrono::steady_clock::now();
                returned.push_back(std::chrono::duration<double, std::micro>(back - start).count());
                shown.push_back(std::chrono::duration<double, std::micro>(end - start).count());
            }
            return std::pair{bench::median(returned), bench::median(shown)};
        };
        const auto [cold_return, cold] = switch_times(true);
        const auto [warm_return, warm] = switch_times(false);
        // The same switch to a page that reads no file: what building and showing a page costs.
        std::vector<double> settings_times;
        for (int round = 0; round < rounds; ++round) {
            show_page(window, 0);
            pump_until([] { return true; });
            settings_times.push_back(median_us(1, [&] { show_page(window, 11); }));
        }
        const double settings = bench::median(settings_times);
        const double whole = median_us(rounds, [&] { read_report_list(reports, {}); });
        std::uint64_t listed_bytes = 0;
        const double bare = median_us(rounds, [&] { listed_bytes = bare_listing(reports); });

        bench::report("  switch returns, nothing read before", cold_return,
                      "  bare directory listing", bare);
        bench::report("  switch returns, every file read before", warm_return,
                      "  switch to page 11 (reads no file)", settings);
        bench::report("  rows on show, nothing read before", cold, "  bare directory listing",
                      bare);
        bench::report("  rows on show, every file read before", warm, "  bare directory listing",
                      bare);
        bench::report("  every file read and parsed", whole, "  bare directory listing", bare);
        std::printf("  (%.1f MB in the folder)\n\n", static_cast<double>(listed_bytes) / 1e6);
    }

    DestroyWindow(window);
    stop_and_join_all_jobs();
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
