// The program end to end: the real main window with the real service table, and Tarvisko.exe as
// a process, against the provider simulator behind a router (tools/netns/with-node). Nothing
// is faked: the full test reserves at the simulated node, records into the queue under a
// temporary LOCALAPPDATA and uploads; the target run pings the target namespace.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/services.h"
#include "app/window_proc.h"
#include "engine/common/system.h"
#include "engine/common/text.h"
#include "shell_window.h"
#include "support/simulator_client.h"
#include "support/test_support.h"
#include "support/window_harness.h"

namespace tarvisko {
namespace {

using namespace std::chrono_literals;

// "Do zatrzymania" in the monitoring page's length combo: rounds until stopped.
constexpr int until_stopped = 5;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The upload server's record of the session (ids compared without case), null when none.
nlohmann::json uploaded_session(const std::string& session_id) {
    const nlohmann::json sessions = test::simulator_control("GET", "upload/sessions")["sessions"];
    for (const auto& [id, session] : sessions.items()) {
        if (lower(id) == lower(session_id)) return session;
    }
    return nullptr;
}

// The id of the one session the node has reserved so far, empty while there is none.
std::string reserved_session() {
    const nlohmann::json stats = test::simulator_control("GET", "node/stats")["sessions"];
    for (const auto& [id, session] : stats.items()) return id;
    return {};
}

// Whether the node has sent part of a download of some session.
bool download_under_way() {
    const nlohmann::json stats = test::simulator_control("GET", "node/stats")["sessions"];
    for (const auto& [id, session] : stats.items()) {
        if (session.value("download_sent", 0) > 0) return true;
    }
    return false;
}

// Slows the node's downloads so that a phase lasts long enough to act in it.
void pace_downloads(int bits_per_second) {
    test::simulator_control("POST", "node/config", {{"pace_bps", bits_per_second}});
}

// Every file under the folder whose name ends with the suffix.
std::vector<std::filesystem::path> files_ending(const std::filesystem::path& folder,
                                                const std::wstring& suffix) {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const std::wstring name = it->path().filename().wstring();
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            found.push_back(it->path());
        }
    }
    return found;
}

nlohmann::json read_json(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return nlohmann::json::parse(in, nullptr, false);
}

// Polls `done` (no message pump: for conditions outside this process) until it holds.
template <typename Done>
bool wait_until(Done&& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        Sleep(100);
    }
}

// Each test starts from a fresh simulator and a LOCALAPPDATA of its own; the program reaches
// the simulator as its server.
class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(read_environment_variable(L"TARVISKO_NETNS_TARGET").empty())
            << "run through tools/netns/with-node";
        test::simulator_reset_when_ready(20);
    }

    test::TempDir local_app_data;
    test::ScopedEnv local_app_data_env{L"LOCALAPPDATA", local_app_data.path().wstring()};
    test::ScopedEnv origin_env{L"QUORVEL_DESKTOP_ORIGIN", to_wide(test::simulator_origin())};
};

// The program's window in this process with every real service in place.
class EndToEndWindow : public EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
        if (HasFatalFailure()) return;
        test::reset_shell_state();
        app_services() = product_services();
        static const bool registered = [] {
            INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
            InitCommonControlsEx(&controls);
            return register_main_window_class(GetModuleHandleW(nullptr));
        }();
        ASSERT_TRUE(registered);
        window = CreateWindowExW(0, main_window_class, L"Tarvisko",
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 1200, 800, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr) << "error " << GetLastError();
        ShowWindow(window, SW_SHOWNORMAL);
        // The start-up jobs: the last reports and the update check against the simulator.
        ASSERT_TRUE(test::pump_until([] { return !last_report_loading && !update_running; }));
    }

    void TearDown() override {
        // A test that failed half-way may leave a run going: it ends at the cancel flag, so
        // the join of the jobs below is short.
        session_cancel_flag = true;
        if (IsWindow(window)) DestroyWindow(window);
        test::pump_until([] { return true; }, 0ms);
        test::reset_shell_state();
    }

    void command(int id) const {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    }

    std::wstring text(int id) const {
        HWND control = GetDlgItem(window, id);
        std::wstring value(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
        value.resize(static_cast<std::size_t>(GetWindowTextW(control, value.data(),
                                                             static_cast<int>(value.size()))));
        return value;
    }

    // Every cell of list 310, row by row.
    std::vector<std::vector<std::wstring>> list_rows() const {
        HWND list = GetDlgItem(window, results_list_id);
        HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
        std::vector<std::vector<std::wstring>> rows;
        const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < count; ++row) {
            std::vector<std::wstring> cells;
            for (int column = 0; column < columns; ++column) {
                cells.push_back(test::list_cell(list, row, column));
            }
            rows.push_back(std::move(cells));
        }
        return rows;
    }

    // The row of the list whose cells name the session, or empty once the page's reading ended
    // without it (the report lists are read in the background).
    std::vector<std::wstring> listed_row_of(const std::string& session_id) const {
        std::vector<std::wstring> row;
        test::pump_until([&] {
            row = row_of(session_id);
            return !row.empty() || !main_window_state.report_list.reading;
        });
        return row;
    }

    // The row of the list whose cells name the session, or empty.
    std::vector<std::wstring> row_of(const std::string& session_id) const {
        for (const auto& row : list_rows()) {
            for (const std::wstring& cell : row) {
                if (lower(to_utf8(cell)) == lower(session_id)) return row;
            }
        }
        return {};
    }

    bool idle() const {
        return !measurement_running && IsWindowEnabled(GetDlgItem(window, start_button_id)) &&
               IsWindowEnabled(GetDlgItem(window, first_nav_button_id + 9));
    }

    test::SavedPlacementGuard placement;
    HWND window = nullptr;
};

TEST_F(EndToEndWindow, FullTestCompletesAndIsListedAndDelivered) {
    command(start_button_id);
    EXPECT_TRUE(measurement_running);
    ASSERT_TRUE(test::pump_until([] { return !measurement_running; }, 180s))
        << "the full test did not end";

    const nlohmann::json& report = last_diagnostics_report;
    ASSERT_TRUE(report.is_object()) << to_utf8(last_error_text);
    EXPECT_EQ(report["state"], "completed") << report["throughput"]["error"];
    EXPECT_EQ(report["synchronized"], true);
    EXPECT_TRUE(idle());

    // The dashboard's tiles show values, not the "—" of a missing one.
    for (const TextCard& tile : main_window_state.summary.tiles) {
        EXPECT_NE(tile.subtitle, L"—") << to_utf8(tile.title);
        EXPECT_FALSE(tile.subtitle.empty()) << to_utf8(tile.title);
    }
    EXPECT_TRUE(main_window_state.summary.synchronized);
    EXPECT_EQ(text(status_bar_id).rfind(L"Serwer potwierdził zapis", 0), 0u)
        << to_utf8(text(status_bar_id));

    command(first_nav_button_id + 1);
    EXPECT_FALSE(list_rows().empty()) << "page 1 shows no details";

    const std::string session_id = report["desktop_trace"]["session_id"];
    command(first_nav_button_id + 9);
    const std::vector<std::wstring> history = listed_row_of(session_id);
    ASSERT_FALSE(history.empty()) << "page 9 does not list " << session_id;
    command(first_nav_button_id + 10);
    EXPECT_FALSE(listed_row_of(session_id).empty()) << "page 10 does not list " << session_id;

    // The upload server has the whole session: opening, every sample, the ending.
    const nlohmann::json session = uploaded_session(session_id);
    ASSERT_TRUE(session.is_object()) << "nothing uploaded";
    EXPECT_EQ(session["completed"], true);
    EXPECT_EQ(session["ending"]["state"], "completed");
    EXPECT_EQ(session["samples"], report["mtr_samples"]);
    EXPECT_EQ(session["opening"]["throughput"], report["throughput"]);
    // The node's session of the run was ended with /finish.
    const nlohmann::json node_sessions = test::simulator_control("GET", "node/stats")["sessions"];
    ASSERT_EQ(node_sessions.size(), 1u) << node_sessions.dump();
    EXPECT_EQ(node_sessions.begin().value()["finished"], true) << node_sessions.dump();
    test::WindowHarness::screenshot("end_to_end_completed");
}

TEST_F(EndToEndWindow, StopInTheDownloadEndsCancelledAndLeavesTheWindowUsable) {
    pace_downloads(1'000'000);  // the 1 MiB download takes about 8 s
    command(start_button_id);
    ASSERT_TRUE(test::pump_until([] { return transfer_phase == 1; }, 120s))
        << "the download phase never came";
    command(stop_button_id);
    ASSERT_TRUE(test::pump_until([] { return !measurement_running; }, 120s))
        << "the stopped test did not end";

    const nlohmann::json& report = last_diagnostics_report;
    ASSERT_TRUE(report.is_object()) << to_utf8(last_error_text);
    EXPECT_EQ(report["state"], "cancelled");
    EXPECT_EQ(report["throughput"]["error"], "cancelled");
    EXPECT_TRUE(idle());
    EXPECT_EQ(transfer_phase, 0);

    // Usable: the history lists the stopped test, and the delivered recording says so too.
    const std::string session_id = report["desktop_trace"]["session_id"];
    command(first_nav_button_id + 9);
    EXPECT_FALSE(listed_row_of(session_id).empty()) << "page 9 does not list " << session_id;
    const nlohmann::json session = uploaded_session(session_id);
    ASSERT_TRUE(session.is_object()) << "nothing uploaded";
    EXPECT_EQ(session["ending"]["state"], "cancelled");

    // And the next test runs to its end as the first would have.
    pace_downloads(0);
    command(start_button_id);
    ASSERT_TRUE(test::pump_until([] { return !measurement_running; }, 180s))
        << "the second test did not end";
    ASSERT_TRUE(last_diagnostics_report.is_object()) << to_utf8(last_error_text);
    EXPECT_EQ(last_diagnostics_report["state"], "completed");
    EXPECT_NE(last_diagnostics_report["desktop_trace"]["session_id"], session_id);
    EXPECT_TRUE(idle());
}

// Tarvisko.exe started from the test, with this process's environment (the temporary
// LOCALAPPDATA and the simulator as server). Whatever still runs when the object ends is killed.
class ProgramProcess {
  public:
    ProgramProcess() {
        std::wstring command = L"\"" TARVISKO_EXE_PATH L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(TARVISKO_EXE_PATH, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process_)) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        }
    }
    ~ProgramProcess() {
        if (process_.hProcess == nullptr) return;
        if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) kill();
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    // The process's main window, found by its class, once it is shown and the start-up jobs
    // have let go of the start button; null when that does not happen in time.
    HWND ready_window() {
        HWND found = nullptr;
        wait_until(
            [&] {
                found = find_window();
                return found != nullptr && IsWindowVisible(found) &&
                       IsWindowEnabled(GetDlgItem(found, start_button_id));
            },
            60s);
        return found != nullptr && IsWindowEnabled(GetDlgItem(found, start_button_id)) ? found
                                                                                       : nullptr;
    }

    // The exit code, or nothing when the process did not end in time (it is then left running
    // for the destructor to kill).
    std::optional<DWORD> wait_for_exit(std::chrono::milliseconds limit) {
        if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) !=
            WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    void kill() {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, INFINITE);
    }

  private:
    HWND find_window() const {
        return test::window_of_process(process_.dwProcessId, main_window_class);
    }

    PROCESS_INFORMATION process_{};
};

// A message to a window of the program, waited for (a hung program fails the call, not the run).
LRESULT send_to(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, 10000, &result), 0)
        << "message " << message << " was not taken: error " << GetLastError();
    return static_cast<LRESULT>(result);
}

void click(HWND window, int id) {
    send_to(window, WM_COMMAND, MAKEWPARAM(id, 0), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

// The program closes in order however long the run still had to go; a hang fails here.
constexpr auto close_limit = 120s;

class EndToEndProgram : public EndToEnd {
  protected:
    // After the program ended: no recording is held open any more.
    void expect_no_lock_left() {
        const auto locks = files_ending(local_app_data.path(), L".lock");
        EXPECT_TRUE(locks.empty()) << "left locked: " << locks.front().string();
    }
};

TEST_F(EndToEndProgram, ClosedDuringAFullTestExitsWithTheRecordingFinished) {
    pace_downloads(500'000);  // the 1 MiB download would take about 17 s
    ProgramProcess program;
    HWND window = program.ready_window();
    ASSERT_NE(window, nullptr) << "no main window";
    click(window, start_button_id);
    ASSERT_TRUE(wait_until(download_under_way, 120s)) << "the download never started";
    const std::string session_id = reserved_session();

    PostMessageW(window, WM_CLOSE, 0, 0);
    const std::optional<DWORD> code = program.wait_for_exit(close_limit);
    ASSERT_TRUE(code.has_value()) << "the program did not end after WM_CLOSE";
    EXPECT_EQ(*code, 0u);
    expect_no_lock_left();

    // The stopped recording was finished and delivered before the window went.
    const nlohmann::json session = uploaded_session(session_id);
    ASSERT_TRUE(session.is_object()) << "nothing uploaded for " << session_id;
    EXPECT_EQ(session["completed"], true);
    EXPECT_EQ(session["ending"]["state"], "cancelled");
    const auto last = files_ending(local_app_data.path(), L"last-report.json");
    ASSERT_EQ(last.size(), 1u) << "the report was not stored";
    EXPECT_EQ(read_json(last.front())["state"], "cancelled");
}

TEST_F(EndToEndProgram, ClosedDuringARepeatingMonitoringRunExitsWithTheRecordingFinished) {
    ProgramProcess program;
    HWND window = program.ready_window();
    ASSERT_NE(window, nullptr) << "no main window";
    click(window, first_nav_button_id + 8);
    const std::wstring target = read_environment_variable(L"TARVISKO_NETNS_TARGET");
    send_to(GetDlgItem(window, target_edit_id), WM_SETTEXT, 0,
            reinterpret_cast<LPARAM>(target.c_str()));
    send_to(GetDlgItem(window, target_profile_combo_id), CB_SETCURSEL, until_stopped, 0);
    ASSERT_EQ(send_to(GetDlgItem(window, target_profile_combo_id), CB_GETCURSEL, 0, 0),
              until_stopped);
    click(window, run_target_button_id);
    // The round's recording holds its lock while it runs; let a few echoes arrive.
    ASSERT_TRUE(wait_until([&] { return !files_ending(local_app_data.path(), L".lock").empty(); },
                           60s))
        << "the monitoring run never started recording";
    Sleep(3000);

    PostMessageW(window, WM_CLOSE, 0, 0);
    const std::optional<DWORD> code = program.wait_for_exit(close_limit);
    ASSERT_TRUE(code.has_value()) << "the program did not end after WM_CLOSE";
    EXPECT_EQ(*code, 0u);
    expect_no_lock_left();

    // The stopped round was saved, finished and delivered.
    const auto last = files_ending(local_app_data.path(), L"last-monitor.json");
    ASSERT_EQ(last.size(), 1u) << "the round was not saved";
    const nlohmann::json report = read_json(last.front());
    EXPECT_EQ(report["state"], "cancelled");
    EXPECT_EQ(report["measurement"]["purpose"], "monitor");
    EXPECT_EQ(report["measurement"]["technique"], "echo");
    EXPECT_EQ(report["measurement"]["target_name"], to_utf8(target));
    // The echoes crossed the namespaces: the target answered before the close.
    bool answered = false;
    for (const nlohmann::json& sample : report["mtr_samples"]) {
        answered |= sample["status"] == "echo_reply" && sample["responder"] == to_utf8(target);
    }
    EXPECT_TRUE(answered) << report["mtr_samples"].dump();
    const nlohmann::json session = uploaded_session(report.value("session_id", ""));
    ASSERT_TRUE(session.is_object()) << "nothing uploaded";
    EXPECT_EQ(session["completed"], true);
    EXPECT_EQ(session["ending"]["state"], "cancelled");
}

TEST_F(EndToEndProgram, KilledMidTestIsRecoveredAsPartialByTheNextRun) {
    std::string killed_session;
    {
        pace_downloads(500'000);
        ProgramProcess program;
        HWND window = program.ready_window();
        ASSERT_NE(window, nullptr) << "no main window";
        click(window, start_button_id);
        ASSERT_TRUE(wait_until(download_under_way, 120s)) << "the download never started";
        killed_session = reserved_session();
        program.kill();
    }
    const nlohmann::json before = uploaded_session(killed_session);
    EXPECT_TRUE(before.is_null() || before["ending"].is_null()) << "finished before the kill";

    // The next run's upload pass finds the abandoned recording, finishes and sends it.
    pace_downloads(0);
    ProgramProcess program;
    HWND window = program.ready_window();
    ASSERT_NE(window, nullptr) << "no main window";
    click(window, start_button_id);
    nlohmann::json recovered;
    EXPECT_TRUE(wait_until(
        [&] {
            recovered = uploaded_session(killed_session);
            return recovered.is_object() && recovered["completed"] == true;
        },
        180s))
        << "the killed recording never reached the server";
    EXPECT_EQ(recovered["ending"]["state"], "partial");

    PostMessageW(window, WM_CLOSE, 0, 0);
    const std::optional<DWORD> code = program.wait_for_exit(close_limit);
    ASSERT_TRUE(code.has_value()) << "the program did not end after WM_CLOSE";
    EXPECT_EQ(*code, 0u);
    expect_no_lock_left();
}

}  // namespace
}  // namespace tarvisko
