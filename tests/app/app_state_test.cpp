// The program-wide state: its first values, the phase table, the job slots and leaving the
// program while a job still runs.
#include "app/app_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/common/text.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using namespace std::chrono_literals;

TEST(AppState, FirstValues) {
    EXPECT_TRUE(live_samples.is_array() && live_samples.empty());
    EXPECT_TRUE(shown_samples.is_array() && shown_samples.empty());
    EXPECT_TRUE(read_live_progress(live_traffic, 0).is_array());
    EXPECT_TRUE(read_live_progress(live_traffic, 1).is_array());
    EXPECT_TRUE(current_report.is_null() && last_diagnostics_report.is_null());
    for (const nlohmann::json& result : last_results) EXPECT_TRUE(result.is_null());
    EXPECT_EQ(update_status_text, L"Sprawdzanie dostępnej wersji…");
    EXPECT_FALSE(available_release.has_value());
    EXPECT_FALSE(details_chart.has_value());
    EXPECT_EQ(traffic_monitor, nullptr);
    EXPECT_EQ(icon_level, 0);
    EXPECT_FALSE(session_cancel_flag.load());
    EXPECT_EQ(wifi_assessment_default_card.title, L"Sprawdź swój kanał Wi-Fi");
    EXPECT_EQ(wifi_assessment_default_card.status, 0);
    EXPECT_EQ(&wifi_assessment_default_card, &wifi_default_card());
    EXPECT_TRUE(shown_wifi_reading.table.rows.empty());
    EXPECT_TRUE(shown_wifi_reading.panel_address.empty());
    EXPECT_TRUE(shown_wifi_reading.router_instructions.empty());
    EXPECT_TRUE(shown_wifi_reading.chart.items.empty());
    EXPECT_EQ(shown_wifi_reading.card, wifi_assessment_default_card);
    EXPECT_FALSE(shown_wifi_reading.snapshot);
    EXPECT_FALSE(wifi_baseline_snapshot || wifi_after_snapshot || wifi_baseline_loaded);
    EXPECT_EQ(wifi_compare_card.title, L"Porównaj ustawienia");
    EXPECT_EQ(wifi_compare_card.subtitle, L"Zapisz skan przed zmianą kanału.");
    EXPECT_EQ(wifi_compare_card.status, 0);
    EXPECT_EQ(&wifi_comparison_state().card, &wifi_compare_card);

    const MainWindowState& state = main_window_state;
    EXPECT_EQ(state.dpi, 96);
    EXPECT_EQ(state.sort_column, -1);
    EXPECT_EQ(state.chart_maximum, 10.0);
    EXPECT_EQ(state.main_window, nullptr);
    EXPECT_EQ(state.status_bar, nullptr);
    EXPECT_TRUE(state.tooltip_texts.empty());
    EXPECT_FALSE(state.summary.has_report);
}

TEST(AppState, DipRectangleFollowsTheDpi) {
    MainWindowState state = ui_state_init();
    const RECT at_96 = dip_rect_to_pixels(state, 10, 20, 30, 41);
    EXPECT_EQ((std::vector<LONG>{at_96.left, at_96.top, at_96.right, at_96.bottom}),
              (std::vector<LONG>{10, 20, 30, 41}));
    state.dpi = 144;
    const RECT at_144 = dip_rect_to_pixels(state, 10, 20, 30, 41);
    // 41 x 1.5 = 61.5 rounds away from zero, as MulDiv does.
    EXPECT_EQ((std::vector<LONG>{at_144.left, at_144.top, at_144.right, at_144.bottom}),
              (std::vector<LONG>{15, 30, 45, 62}));
}

TEST(PhaseTable, ExactNamesOnly) {
    const char* names[] = {"baseline", "download", "upload", "recovery", "sync", "ping"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(phase_index(names[i]), i) << names[i];
    EXPECT_EQ(phase_table[0].text, L"Pomiar w spoczynku");
    EXPECT_EQ(phase_table[5].text, L"Sprawdzanie odpowiedzi routera i serwera");
    for (const char* other : {"", "Baseline", "PING", "ping ", " upload", "idle"}) {
        EXPECT_FALSE(phase_index(other).has_value()) << other;
    }
}

TEST(JobSlots, SecondStartWaitsForTheFirstJob) {
    JobSlot slot;
    std::atomic<bool> first_ended{false};
    std::atomic<bool> second_saw_first_ended{false};
    start_job(slot, [&](std::stop_token stop) {
        while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(50ms);  // still winding down after the request
        first_ended = true;
    });
    start_job(slot, [&](std::stop_token) { second_saw_first_ended = first_ended.load(); });
    stop_and_join(slot);
    EXPECT_TRUE(second_saw_first_ended);
    stop_and_join(slot);  // empty: nothing happens
}

TEST(JobSlots, DestructionStopsAndJoins) {
    std::atomic<bool> ended{false};
    {
        JobSlot slot;
        start_job(slot, [&](std::stop_token stop) {
            while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
            ended = true;
        });
    }
    EXPECT_TRUE(ended);
}

// The child's job: waits for its stop request, then keeps writing into the state for a while,
// as a reverse-DNS lookup does whose resolver has not yet noticed the request. The marker file
// says that every write was made.
void write_after_stop_request(std::stop_token stop, std::wstring marker) {
    while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(200ms);
    for (int i = 0; i < 2000; ++i) {
        responder_names.names["192.0.2." + std::to_string(i)] = {L"router.example", L""};
        api_token = L"token written after the stop request " + std::to_wstring(i);
        update_live_progress(live_traffic, 0, static_cast<std::uint64_t>(i) * 1000);
        std::lock_guard lock(live_samples_mutex);
        live_samples.push_back({{"attempt", i}});
    }
    std::ofstream(std::filesystem::path(marker)) << "written";
}

// Child modes: the process starts a job on the lookup slot and returns from main while it runs.
// "--exit-while-job-writes" leaves the job to the globals' destruction; "--stop-jobs-then-exit"
// first calls stop_and_join_all_jobs as the program's entry does after its message loop.
LONG WINAPI end_at_once(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

int run_child(const std::string& mode, const std::string& marker) {
    // A fault ends the child with the exception's code at once; Wine would otherwise start its
    // debugger and leave the child hanging.
    SetUnhandledExceptionFilter(end_at_once);
    responder_names.session_id = "child";
    start_job(responder_lookup_slot, [marker = to_wide(marker)](std::stop_token stop) {
        write_after_stop_request(stop, marker);
    });
    std::this_thread::sleep_for(20ms);
    if (mode == "--stop-jobs-then-exit") {
        stop_and_join_all_jobs();
        if (!session_cancel_flag || responder_lookup_slot.joinable()) return 3;
        if (!std::filesystem::exists(marker)) return 4;
    }
    return 0;
}

TEST(ProgramExit, JobStillWritingWhenMainReturns) {
    for (const wchar_t* mode : {L"--exit-while-job-writes", L"--stop-jobs-then-exit"}) {
        test::TempDir folder;
        const std::filesystem::path marker = folder.path() / "marker.txt";
        EXPECT_EQ(test::run_self(std::wstring(mode) + L" \"" + marker.wstring() + L"\"", 60000), 0u)
            << to_utf8(mode);
        std::ifstream in(marker);
        std::string text;
        in >> text;
        EXPECT_EQ(text, "written") << to_utf8(mode);
    }
}

}  // namespace
}  // namespace tarvisko

int main(int argc, char** argv) {
    if (argc == 3) {
        const std::string mode = argv[1];
        if (mode == "--exit-while-job-writes" || mode == "--stop-jobs-then-exit") {
            return tarvisko::run_child(mode, argv[2]);
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
