// Page 2 of the program's own window during a full test with "Pokaż ruch procesów" ticked, run
// against the provider simulator with the product's engine and traffic services. The counter
// process is this test executable started by the product's own launch: as the real counter it
// meets Wine's missing kernel network provider; with TARVISKO_TRAFFIC_FEED it feeds synthetic
// kernel events through the real counting code and publication.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <wincred.h>
// clang-format on
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/messages.h"
#include "app/services.h"
#include "app/status_texts.h"
#include "engine/common/text.h"
#include "shell_window.h"
#include "support/simulator_client.h"
#include "support/test_support.h"
#include "support/window_harness.h"
#include "traffic/traffic_control.h"
#include "traffic/traffic_fakes.h"

namespace tarvisko {
namespace {

using test::list_cell;
using test::pump_until;
using test::ShellWindow;

// The list's rows as its cells read: name, process id, receive rate, send rate.
std::vector<std::vector<std::wstring>> list_rows(HWND list) {
    std::vector<std::vector<std::wstring>> rows;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        rows.push_back({list_cell(list, row, 0), list_cell(list, row, 1), list_cell(list, row, 2),
                        list_cell(list, row, 3)});
    }
    return rows;
}

std::wstring window_text(HWND control) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(control, buffer, 1024);
    return buffer;
}

bool starts_with(const std::wstring& text, const std::wstring& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Whether the navigation button shows the current page's marker on screen: the accent bar at its
// left edge, read back from the button's own surface (what was last painted, not a fresh
// rendering).
bool shows_current_page_marker(HWND button) {
    RECT client{};
    GetClientRect(button, &client);
    test::Dib shown(client.right, client.bottom);
    HDC dc = GetDC(button);
    BitBlt(shown.dc(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(button, dc);
    const int strip = MulDiv(6, main_window_state.dpi, 96);
    return shown.count(RGB(0x00, 0x67, 0xC0), RECT{0, 0, strip, client.bottom}) > 0;
}

// The product's launch of the counter process, with the id of the process it started kept.
std::atomic<DWORD> launched_counter_id{0};
BOOL WINAPI recording_launch(SHELLEXECUTEINFOW* info) {
    if (!ShellExecuteExW(info)) return FALSE;
    launched_counter_id = GetProcessId(info->hProcess);
    return TRUE;
}

// The program's window pointed at the simulator with the product's full test and traffic
// services; the client registers itself at the simulator's portal on the first test. The
// credential it makes and the injected address table go when the fixture ends.
class TrafficPage : public ::testing::Test {
  protected:
    void SetUp() override {
        CredDeleteW(credential_target(simulator).c_str(), CRED_TYPE_GENERIC, 0);
        test::simulator_reset();
        const AppServices product = product_services();
        AppServices& services = app_services();
        services.run_desktop_test = product.run_desktop_test;
        services.create_traffic_view = product.create_traffic_view;
        services.start_traffic_counter = product.start_traffic_counter;
        services.arm_traffic_counter = product.arm_traffic_counter;
        services.stop_traffic_counter = product.stop_traffic_counter;
        services.build_traffic_table = product.build_traffic_table;
        // The status bar names the origin the window was opened with.
        main_window_state.server_origin = simulator;
        refresh_status_texts(main_window_state);
    }

    void TearDown() override {
        CredDeleteW(credential_target(simulator).c_str(), CRED_TYPE_GENERIC, 0);
        traffic_control_system() = TrafficControlSystem{};
        test::injected_unicast_table() = test::InjectedUnicastTable{};
    }

    // Ticks box 336 and starts the full test (command 101).
    void start_monitored_test() {
        SendDlgItemMessageW(shell.window, process_traffic_check_id, BM_SETCHECK, BST_CHECKED, 0);
        shell.command(start_button_id);
        ASSERT_TRUE(measurement_running);
        ASSERT_NE(traffic_monitor, nullptr);
        EXPECT_EQ(main_window_state.current_page, 2);
    }

    // Pumps while the test runs, giving the window its traffic tick (timer 3) in every round,
    // until `done` holds; false when the test ended first or the time ran out.
    template <typename Done>
    bool tick_until(Done&& done) {
        const auto tick = [&] {
            if (!measurement_running) return true;
            SendMessageW(shell.window, WM_TIMER, timer_process_traffic, 0);
            return done();
        };
        return pump_until(tick, std::chrono::seconds(60)) && measurement_running;
    }

    // Pumps until the job has ended and the window has shown its result.
    void wait_for_the_end() {
        ASSERT_TRUE(pump_until([] { return !measurement_running; }, std::chrono::seconds(120)));
        pump_until([] { return false; }, std::chrono::milliseconds(200));
    }

    // What page 2 shows: its title line and its rows.
    std::wstring page_title() const { return window_text(main_window_state.page_subtitle_label); }
    std::vector<std::vector<std::wstring>> page_rows() const {
        return list_rows(GetDlgItem(shell.window, results_list_id));
    }

    // The full test itself ran to its end and was stored, whatever the counter did.
    void expect_the_test_completed() {
        EXPECT_EQ(last_error_text, L"");
        ASSERT_TRUE(last_diagnostics_report.is_object());
        EXPECT_EQ(last_diagnostics_report.value("state", ""), "completed")
            << last_diagnostics_report.dump().substr(0, 2000);
        EXPECT_EQ(main_window_state.current_page, 2) << "the traffic page stays on show";
    }

    ShellWindow shell;
    const std::wstring simulator = to_wide(test::simulator_origin());
    test::ScopedEnv origin_env{L"QUORVEL_DESKTOP_ORIGIN", simulator};
};

// Under Wine the real counter cannot open the kernel's network trace: page 2 says so while the
// test runs and after it, and the full test goes on to its end.
TEST_F(TrafficPage, WithoutTheKernelProviderPage2ShowsTheEtwErrorAndTheTestCompletes) {
    test::ScopedEnv no_feed(L"TARVISKO_TRAFFIC_FEED", nullptr);
    start_monitored_test();
    const std::wstring etw_text = L"Brak danych ETW · kod Windows 5";
    EXPECT_TRUE(tick_until([&] { return page_title() == etw_text; }))
        << "while the test ran: " << to_utf8(page_title());
    EXPECT_EQ(page_rows().size(), 0u);

    wait_for_the_end();
    expect_the_test_completed();
    EXPECT_EQ(page_title(), etw_text);
    EXPECT_EQ(page_rows().size(), 0u);
    std::lock_guard lock(traffic_monitor->lock);
    EXPECT_EQ(traffic_monitor->status_text, L"Brak odczytu ruchu procesów · Windows 5");
}

// Starting a monitored test shows page 2 after the navigation was disabled: the navigation must
// still mark page 2, not the page on show before. The full test here waits until it is stopped.
TEST_F(TrafficPage, AMonitoredTestMarksPage2AsTheCurrentPage) {
    std::atomic<bool> running{false};
    app_services().run_desktop_test = [&](const std::atomic<bool>& cancel, const PhaseCallback&,
                                          LiveTraffic&) {
        running = true;
        while (!cancel.load()) Sleep(5);
        return nlohmann::json();
    };
    const auto nav = [&](int page) { return GetDlgItem(shell.window, first_nav_button_id + page); };
    pump_until([] { return false; }, std::chrono::milliseconds(200));
    ASSERT_TRUE(shows_current_page_marker(nav(0)));

    start_monitored_test();
    ASSERT_TRUE(pump_until([&] { return running.load(); }));
    pump_until([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(shows_current_page_marker(nav(2)));
    EXPECT_FALSE(shows_current_page_marker(nav(0)));

    shell.command(stop_reading_button_id);
    wait_for_the_end();
}

// The counter child feeds three processes' traffic on the adapter holding the reservation's
// local address (loopback toward the simulator, with a second address the feed uses): page 2
// shows them busiest first while the test runs, then their averages over the whole test.
TEST_F(TrafficPage, AFeedingCounterShowsLiveRowsInOrderThenTheFinalAverages) {
    test::ScopedEnv feed(L"TARVISKO_TRAFFIC_FEED", L"1");
    test::injected_unicast_table().rows = {
        {1, "127.0.0.1", 8}, {1, "::1", 128}, {1, "10.0.0.5", 24}, {2, "192.168.56.1", 24}};
    traffic_control_system().unicast_table = test::injected_unicast_rows;
    traffic_control_system().free_table = test::free_injected_rows;
    traffic_control_system().shell_execute = recording_launch;
    launched_counter_id = 0;
    wchar_t self[MAX_PATH]{};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring child_name = std::filesystem::path(self).filename().wstring();

    start_monitored_test();
    ASSERT_TRUE(tick_until([&] { return page_rows().size() == 3; }))
        << "while the test ran: " << to_utf8(page_title());
    const std::wstring child_pid = std::to_wstring(launched_counter_id.load());
    const std::vector<std::vector<std::wstring>> live = page_rows();
    EXPECT_EQ(live[0][0], child_name);
    EXPECT_EQ(live[0][1], child_pid);
    EXPECT_EQ(live[1][1], L"4000004");
    EXPECT_EQ(live[2][1], L"4000008");
    EXPECT_NE(live[0][2], L"0 Mb/s") << "the counter child receives";
    EXPECT_EQ(live[2][2], L"0 Mb/s") << "process 4000008 only sends";
    EXPECT_NE(live[2][3], L"0 Mb/s");
    const std::wstring live_title = page_title();
    EXPECT_NE(live_title.find(L" · Ruch do Internetu według procesu · Inne procesy ↓ "),
              std::wstring::npos)
        << to_utf8(live_title);
    bool phase_label = starts_with(live_title, L"Uruchamianie testu · ");
    for (const PhaseEntry& phase : phase_table) {
        phase_label = phase_label || starts_with(live_title, std::wstring(phase.text) + L" · ");
    }
    EXPECT_TRUE(phase_label) << "the live title opens with the test's phase or its start";
    test::WindowHarness::screenshot("02-ruch-procesow");

    wait_for_the_end();
    expect_the_test_completed();
    EXPECT_EQ(load_traffic_status(*traffic_monitor->section_view.get()), 2)
        << "the counter ended its session when the test stopped it";
    EXPECT_TRUE(
        starts_with(page_title(), L"Średni ruch do Internetu · ostatni test · Inne procesy ↓ "))
        << to_utf8(page_title());
    const std::vector<std::vector<std::wstring>> final_rows = page_rows();
    ASSERT_EQ(final_rows.size(), 3u);
    EXPECT_EQ(final_rows[0][0], child_name);
    EXPECT_EQ(final_rows[0][1], child_pid);
    EXPECT_EQ(final_rows[1][1], L"4000004");
    EXPECT_EQ(final_rows[2][1], L"4000008");
    EXPECT_EQ(final_rows[2][2], L"0 Mb/s");
    EXPECT_NE(final_rows[2][3], L"0 Mb/s");
}

}  // namespace
}  // namespace tarvisko

int main(int argc, char** argv) {
    if (auto code = tarvisko::test::run_traffic_child_mode()) return *code;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
