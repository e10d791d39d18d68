// The main window procedure in the program's own window under the test display: the job
// messages with fake services, the timers' gauge, the orderly close, and the message loop.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/details_window.h"
#include "app/entry.h"
#include "app/jobs.h"
#include "app/messages.h"
#include "app/page_switcher.h"
#include "app/results_list.h"
#include "app/services.h"
#include "app/status_texts.h"
#include "app/window_proc.h"
#include "engine/common/text.h"
#include "results/fixtures.h"
#include "results/view_status.h"
#include "shell_window.h"

// The one block whose release a test waits for. This executable's own operator delete notes it,
// whoever gives the block back: the record a job posts to the window is proven freed without a
// leak checker.
namespace {
std::atomic<const void*> watched_block{nullptr};
std::atomic<bool> watched_block_freed{false};

void note_release(const void* block) {
    if (block != nullptr && block == watched_block.load()) watched_block_freed = true;
}
}  // namespace

// The pair below hands out and takes back malloc blocks; the compiler cannot see that the two
// replacements belong together.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    note_release(block);
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    note_release(block);
    std::free(block);
}
#pragma GCC diagnostic pop

namespace tarvisko {
namespace {

using test::pump_until;
using test::ShellWindow;

// A full-test report of a real run, which the dashboard and the plain-language text are built
// from, marked with a session id of its own.
nlohmann::json small_report() {
    nlohmann::json report = test::load_result_fixture("diagnostics-report");
    report["session_id"] = "s-1";
    return report;
}

TEST(JobFinished, FullTestReportGivesTheTextsAndTheDashboard) {
    ShellWindow shell;
    app_services().throughput_report_text = [](const nlohmann::json&) {
        return std::wstring(L"Tekst techniczny");
    };
    measurement_running = true;
    job_api_token = L"token-1";
    current_report = small_report();
    SendMessageW(shell.window, job_finished, 0, 0);
    EXPECT_FALSE(measurement_running);
    EXPECT_EQ(api_token, L"token-1");
    EXPECT_TRUE(job_api_token.empty());
    EXPECT_TRUE(current_report.is_null());
    EXPECT_EQ(last_diagnostics_report["session_id"], "s-1");
    EXPECT_FALSE(simple_report_text.empty());
    EXPECT_EQ(technical_report_text, L"Tekst techniczny");
    EXPECT_EQ(main_window_state.status_message, L"");
    EXPECT_TRUE(main_window_state.summary.has_report);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(shell.window, report_button_id)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(shell.window, copy_code_button_id)));
}

TEST(JobFinished, SavingFailedWithAReport) {
    ShellWindow shell;
    app_services().throughput_report_text = [](const nlohmann::json&) {
        return std::wstring(L"T");
    };
    measurement_running = true;
    current_report = small_report();
    last_error_text = L"reports_not_writable";
    SendMessageW(shell.window, job_finished, 0, 0);
    EXPECT_EQ(main_window_state.status_message, L"Sprawdź szczegóły zapisu raportu");
    EXPECT_EQ(main_window_state.summary.sync_text, L"Błąd zapisu lokalnego");
    EXPECT_EQ(technical_report_text, L"T\r\nBłąd zapisu lokalnego: reports_not_writable");
}

TEST(JobFinished, FailureTextsWithoutAReport) {
    for (const bool was_loading : {false, true}) {
        ShellWindow shell;
        (was_loading ? last_report_loading : measurement_running) = true;
        last_error_text = L"central_server_not_configured";
        SendMessageW(shell.window, job_finished, 0, 0);
        EXPECT_EQ(main_window_state.status_message, was_loading
                                                        ? L"Poprzedni raport jest niedostępny"
                                                        : L"Nie udało się zakończyć testu");
        EXPECT_EQ(simple_report_text,
                  L"Sprawdź połączenie i adres serwera, a następnie powtórz test.");
        EXPECT_EQ(technical_report_text,
                  L"Serwer: https://localhost:9\r\nPrzyczyna: central_server_not_configured");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(shell.window, report_button_id)));
    }
}

// The start-up load that finds no report and no failure (a first start) changes nothing on
// show: the page is not built again; what the load disabled comes back and its status line goes.
TEST(JobFinished, StartUpLoadWithoutAReportLeavesThePageAlone) {
    ShellWindow shell;
    show_page(shell.window, 5);
    set_view_message(main_window_state, L"znacznik");
    last_report_loading = true;
    set_status_message(main_window_state, L"Odczytywanie ostatniego raportu…");
    EnableWindow(GetDlgItem(shell.window, first_nav_button_id + 3), FALSE);
    SendMessageW(shell.window, job_finished, 0, 0);
    EXPECT_FALSE(last_report_loading);
    EXPECT_EQ(main_window_state.shown_table.title, L"znacznik");
    EXPECT_EQ(main_window_state.status_message, L"");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(shell.window, first_nav_button_id + 3)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(shell.window, copy_code_button_id)));

    // A client token the load read is news: the page is built again and can copy the code.
    last_report_loading = true;
    job_api_token = L"token-2";
    SendMessageW(shell.window, job_finished, 0, 0);
    EXPECT_EQ(api_token, L"token-2");
    EXPECT_NE(main_window_state.shown_table.title, L"znacznik");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(shell.window, copy_code_button_id)));
}

TEST(JobFinished, ThrowingReportBuilderIsCaught) {
    ShellWindow shell;
    app_services().throughput_report_text = [](const nlohmann::json&) -> std::wstring {
        throw std::runtime_error("zły raport");
    };
    measurement_running = true;
    current_report = small_report();
    SendMessageW(shell.window, job_finished, 0, 0);
    EXPECT_TRUE(IsWindow(shell.window));
    EXPECT_EQ(main_window_state.status_message, L"Nie udało się odczytać raportu");
    EXPECT_EQ(technical_report_text, L"zły raport");
    EXPECT_FALSE(measurement_running);
}

TEST(JobFinished, TargetRunKeepsItsReportAndShowsTheError) {
    ShellWindow shell;
    measurement_running = true;
    live_target_page = 7;
    main_window_state.current_page = 7;
    current_report = nlohmann::json{{"session_id", "r-1"}, {"state", "completed"}};
    last_error_text = L"disk_full";
    live_samples = nlohmann::json::array({1, 2});
    shown_samples = nlohmann::json::array({1});
    SendMessageW(shell.window, job_finished, 0, 0);
    EXPECT_EQ(live_target_page, 0);
    EXPECT_EQ(last_results[1]["session_id"], "r-1");
    EXPECT_TRUE(current_report.is_null());
    EXPECT_EQ(main_window_state.shown_table.title, L"Pomiar lub zapis nie powiódł się · disk_full");
    EXPECT_TRUE(live_samples.empty());
    EXPECT_TRUE(shown_samples.empty());
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(shell.window, summary_button_id)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(shell.window, first_nav_button_id + 7)));
    EXPECT_EQ(shell.control_text(run_target_button_id), L"Wykonaj test");
}

// Every text of the window's visible children, the status line's among them (it is drawn from
// its window text).
std::vector<std::wstring> visible_child_texts(HWND window) {
    std::vector<std::wstring> texts;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM found) -> BOOL {
            if (!IsWindowVisible(child)) return TRUE;
            wchar_t text[1024] = {};
            GetWindowTextW(child, text, 1024);
            reinterpret_cast<std::vector<std::wstring>*>(found)->push_back(text);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// A target run whose engine throws at once (a name that does not resolve, a game target with no
// allowed address): once the job has ended, nothing on screen says a measurement is running.
TEST(JobFinished, TargetRunThatFailsAtOnceLeavesNoRunningMeasurementOnScreen) {
    struct Case {
        int page;
        const wchar_t* target;
        const wchar_t* error;
    };
    for (const Case& c :
         {Case{7, L"nie-ma-takiej-nazwy.example", L"Windows nie rozpoznał adresu celu."},
          Case{6, L"10.1.2.3", L"Brak dozwolonego adresu IP dla wybranego celu."}}) {
        SCOPED_TRACE(c.page);
        ShellWindow shell;
        std::function<void(std::stop_token)> job;
        app_services().run_target_probe = [](const TargetRunRequest&, const std::atomic<bool>&,
                                             const SampleCallback&) -> nlohmann::json {
            throw std::logic_error("the job is not run here");
        };
        app_services().start_job_thread =
            [&job](JobSlot&, std::function<void(std::stop_token)> body) { job = std::move(body); };
        show_page(shell.window, c.page);
        SendDlgItemMessageW(shell.window, target_edit_id, EM_SETREADONLY, FALSE, 0);
        SetDlgItemTextW(shell.window, target_edit_id, c.target);
        shell.command(run_target_button_id);
        ASSERT_TRUE(job);
        ASSERT_TRUE(measurement_running);
        EXPECT_NE(shell.control_text(status_bar_id).find(L"Pomiar w toku"), std::wstring::npos);

        // What the job leaves when the engine throws: the error text, no report, its message.
        last_error_text = c.error;
        SendMessageW(shell.window, job_finished, 0, 0);
        EXPECT_FALSE(measurement_running);
        for (const std::wstring& text : visible_child_texts(shell.window)) {
            EXPECT_EQ(text.find(L"Pomiar w toku"), std::wstring::npos) << text;
        }
        EXPECT_EQ(shell.control_text(status_bar_id).find(L"Brak pomiaru w tym widoku"), 0u)
            << shell.control_text(status_bar_id);
        EXPECT_EQ(main_window_state.shown_table.title,
                  std::wstring(L"Pomiar lub zapis nie powiódł się · ") + c.error);
        EXPECT_EQ(shell.control_text(run_target_button_id), L"Wykonaj test");
    }
}

// A target run whose thread cannot be made ends at once too.
TEST(JobFinished, TargetRunWithoutAThreadLeavesNoRunningMeasurementOnScreen) {
    ShellWindow shell;
    app_services().run_target_probe = [](const TargetRunRequest&, const std::atomic<bool>&,
                                         const SampleCallback&) {
        return nlohmann::json::object();
    };
    app_services().start_job_thread = [](JobSlot&, std::function<void(std::stop_token)>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no thread");
    };
    show_page(shell.window, 7);
    SetDlgItemTextW(shell.window, target_edit_id, L"127.0.0.1");
    shell.command(run_target_button_id);
    EXPECT_FALSE(measurement_running);
    for (const std::wstring& text : visible_child_texts(shell.window)) {
        EXPECT_EQ(text.find(L"Pomiar w toku"), std::wstring::npos) << text;
    }
}

TEST(PhaseChanged, StatusTextsAndTheGaugeTimer) {
    ShellWindow shell;
    measurement_running = true;
    SendMessageW(shell.window, run_phase_changed, 1, 0);
    EXPECT_EQ(main_window_state.status_message, L"Pobieranie danych");
    EXPECT_EQ(transfer_phase, 1);
    EXPECT_TRUE(KillTimer(shell.window, timer_transfer_gauge));

    SendMessageW(shell.window, run_phase_changed, 2, 0);
    EXPECT_EQ(transfer_phase, 2);
    SendMessageW(shell.window, run_phase_changed, 3, 0);
    EXPECT_EQ(main_window_state.status_message, L"Powtórny pomiar w spoczynku");
    EXPECT_EQ(transfer_phase, 0);
    EXPECT_FALSE(KillTimer(shell.window, timer_transfer_gauge));

    SendMessageW(shell.window, run_phase_changed, 6, 0);
    EXPECT_EQ(main_window_state.status_message, L"Powtórny pomiar w spoczynku");

    session_cancel_flag = true;
    SendMessageW(shell.window, run_phase_changed, 5, 0);
    EXPECT_EQ(main_window_state.status_message, L"Powtórny pomiar w spoczynku");
    session_cancel_flag = false;
    measurement_running = false;
    SendMessageW(shell.window, run_phase_changed, 4, 0);
    EXPECT_EQ(main_window_state.status_message, L"Powtórny pomiar w spoczynku");
}

TEST(UpdateCheckDone, StagedUpdateClosesAndNewerReleaseRenames) {
    {
        ShellWindow shell;
        update_running = true;
        update_result.release = ReleaseInfo{"9.9.9", std::string(64, 'a'), 1000};
        update_result.message = L"Dostępna wersja 9.9.9. Wybierz przycisk aktualizacji.";
        SendMessageW(shell.window, update_check_done, 0, 0);
        EXPECT_FALSE(update_running);
        EXPECT_TRUE(available_release.has_value());
        EXPECT_FALSE(update_ready);
        EXPECT_EQ(update_status_text, L"Dostępna wersja 9.9.9. Wybierz przycisk aktualizacji.");
        wchar_t title[100]{};
        GetWindowTextW(shell.window, title, 100);
        EXPECT_STREQ(title, L"Tarvisko — aktualizacja dostępna w Ustawieniach");
        MSG message{};
        EXPECT_FALSE(PeekMessageW(&message, shell.window, WM_CLOSE, WM_CLOSE, PM_NOREMOVE));
    }
    {
        ShellWindow shell;
        update_running = true;
        update_download_mode = true;
        update_result.release = ReleaseInfo{"9.9.9", std::string(64, 'a'), 1000};
        update_result.installed = true;
        SendMessageW(shell.window, update_check_done, 0, 0);
        EXPECT_TRUE(update_ready);
        EXPECT_FALSE(update_download_mode);
        MSG message{};
        EXPECT_TRUE(PeekMessageW(&message, shell.window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    }
}

TEST(TransferGaugeTimer, IconLevelFollowsTheLastSampleAgainstTheCap) {
    struct Case {
        int phase;
        std::uint64_t cap_bits;
        std::uint64_t bytes_in_a_second;
        std::int32_t icon;
    };
    const Case cases[]{
        {1, 100'000'000, 6'250'000, 30},   // 50 Mb/s of 100: half way, level 10
        {1, 100'000'000, 0, 20},           // nothing moves: level 0
        {2, 50'000'000, 12'500'000, 40},   // above the cap: level 20
        {2, 100'000'000, 12'500'000, 40},  // at the cap
        {1, 0, 6'250'000, 1},              // no cap: the idle icon stays
    };
    for (const auto& c : cases) {
        ShellWindow shell;
        ASSERT_EQ(icon_level, 1);
        transfer_phase = c.phase;
        live_traffic.rate_cap = c.cap_bits;
        {
            std::lock_guard lock(live_traffic.mutex);
            live_traffic.series[static_cast<std::size_t>(c.phase - 1)] =
                nlohmann::json::array({nlohmann::json::array({0, 0}),
                                       nlohmann::json::array({1000, c.bytes_in_a_second})});
        }
        SendMessageW(shell.window, WM_TIMER, timer_transfer_gauge, 0);
        EXPECT_EQ(icon_level, c.icon) << c.bytes_in_a_second << " bytes, cap " << c.cap_bits;
        // A stop request freezes the gauge.
        session_cancel_flag = true;
        live_traffic.rate_cap = 1'000'000'000;
        SendMessageW(shell.window, WM_TIMER, timer_transfer_gauge, 0);
        EXPECT_EQ(icon_level, c.icon);
    }
}

TEST(Close, DuringAFullTestWaitsForTheJobAndSavesThePlacement) {
    test::SavedPlacementGuard placement;
    RegDeleteKeyValueW(HKEY_CURRENT_USER, placement_key, placement_value);
    ShellWindow shell;
    measurement_running = true;
    SendMessageW(shell.window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(shell.window));
    EXPECT_TRUE(close_requested);
    EXPECT_TRUE(session_cancel_flag.load());
    EXPECT_EQ(main_window_state.status_message, L"Zamykanie i zapis wyniku…");
    EXPECT_FALSE(test::SavedPlacementGuard::read().has_value());

    current_report = small_report();
    SendMessageW(shell.window, job_finished, 0, 0);
    EXPECT_FALSE(IsWindow(shell.window));
    // Destroyed without rendering the report.
    EXPECT_TRUE(last_diagnostics_report.is_null());
    EXPECT_TRUE(test::SavedPlacementGuard::read().has_value());
}

TEST(Close, WhileOnlyTheUpdateCheckRunsTheUpdateMessageCloses) {
    test::SavedPlacementGuard placement;
    ShellWindow shell;
    update_running = true;
    SendMessageW(shell.window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(shell.window));
    SendMessageW(shell.window, update_check_done, 0, 0);
    EXPECT_FALSE(IsWindow(shell.window));
}

TEST(Close, IdleWindowClosesAtOnce) {
    test::SavedPlacementGuard placement;
    ShellWindow shell;
    SendMessageW(shell.window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(shell.window));
    EXPECT_FALSE(close_requested);
    MSG message{};
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
}

TEST(RepeatRoundDone, EmptiesBothSampleLists) {
    ShellWindow shell;
    live_samples = nlohmann::json::array({1, 2, 3});
    shown_samples = nlohmann::json::array({4});
    SendMessageW(shell.window, repeat_round_done, 0, 0);
    EXPECT_TRUE(live_samples.is_array() && live_samples.empty());
    EXPECT_TRUE(shown_samples.is_array() && shown_samples.empty());
}

TEST(LiveSamplesTimer, NoNewSamplesLeavesTheTable) {
    ShellWindow shell;
    live_target_page = 8;
    main_window_state.shown_table.title = L"stary";
    live_samples = nlohmann::json::array();
    SendMessageW(shell.window, WM_TIMER, timer_live_samples, 0);
    EXPECT_EQ(main_window_state.shown_table.title, L"stary");
}

TEST(ViewReadingReady, ReplaysTheLatestRequestAfterAPageChange) {
    ShellWindow shell;
    int lan_readings = 0;
    app_services().lan_devices_view = [&lan_readings] {
        ++lan_readings;
        TableModel table;
        table.title = L"Sieć lokalna teraz";
        table.kind = 1;
        return table;
    };
    // A reading of page 2 arrives after the user moved to page 3 and asked for its reading.
    collecting_view = 2;
    main_window_state.current_page = 3;
    pending_view_page = 3;
    pending_view_mode = 0;
    auto* reading = new ViewReading;
    reading->table.title = L"Komputer";
    SendMessageW(shell.window, view_reading_ready, 2, reinterpret_cast<LPARAM>(reading));
    EXPECT_EQ(collecting_view, 3);
    ASSERT_TRUE(pump_until([] { return collecting_view == 0; }));
    EXPECT_EQ(lan_readings, 1);
    EXPECT_EQ(main_window_state.shown_table.title, L"Sieć lokalna teraz");
}

// The reading record a page job posts belongs to the window from then on: every way through
// the handler frees it, the ones that show it, replay a newer request, drop it or close.
TEST(ViewReadingReady, FreesTheRecordOnEveryPath) {
    struct Case {
        const char* name;
        int reading_page;
        int current_page;
        int pending_page;
        bool wifi;
        bool close;
        bool replay_fails;
    };
    const Case cases[] = {
        {"shown on its page", 2, 2, 2, false, false, false},
        {"Wi-Fi reading shown on page 4", 4, 4, 4, true, false, false},
        {"page changed, the new page's request replayed", 2, 3, 3, false, false, false},
        {"page changed, the replay cannot start", 2, 3, 3, false, false, true},
        {"page changed to one without a reading", 3, 0, 3, false, false, false},
        {"Wi-Fi reading for a page left", 4, 1, 4, true, false, false},
        {"close pending: the window closes", 2, 2, 2, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::SavedPlacementGuard placement;
        ShellWindow shell;
        app_services().lan_devices_view = [] {
            TableModel table;
            table.title = L"Sieć lokalna teraz";
            return table;
        };
        if (c.replay_fails) {
            app_services().start_job_thread = [](JobSlot&, std::function<void(std::stop_token)>) {
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                        "replay_not_started");
            };
        }
        collecting_view = c.reading_page;
        main_window_state.current_page = c.current_page;
        pending_view_page = c.pending_page;
        close_requested = c.close;
        auto reading = std::make_unique<ViewReading>();
        reading->table.title = L"Odczyt strony";
        if (c.wifi) reading->wifi.emplace().table.title = L"Odczyt Wi-Fi";
        watched_block_freed = false;
        watched_block = reading.get();
        ASSERT_TRUE(PostMessageW(shell.window, view_reading_ready,
                                 static_cast<WPARAM>(c.reading_page),
                                 reinterpret_cast<LPARAM>(reading.release())));
        EXPECT_TRUE(pump_until([] { return watched_block_freed.load(); },
                               std::chrono::seconds(5)));
        watched_block = nullptr;
        // And the path taken was the one meant.
        if (c.close) {
            EXPECT_FALSE(IsWindow(shell.window));
        } else if (c.replay_fails) {
            EXPECT_EQ(collecting_view, 0);
            EXPECT_NE(main_window_state.shown_table.title.find(L"replay_not_started"),
                      std::wstring::npos);
        } else if (c.reading_page != c.current_page && c.pending_page == c.current_page) {
            ASSERT_TRUE(pump_until([] { return collecting_view == 0; }));
            EXPECT_EQ(main_window_state.shown_table.title, L"Sieć lokalna teraz");
        } else if (c.reading_page == c.current_page) {
            EXPECT_EQ(main_window_state.shown_table.title,
                      c.wifi ? L"Odczyt Wi-Fi" : L"Odczyt strony");
        } else {
            EXPECT_EQ(collecting_view, 0);
            EXPECT_NE(main_window_state.shown_table.title, L"Odczyt strony");
        }
    }
}

// What the results list sends its parent, as Windows sends it: a double click comes with the
// activated item, Enter as LVN_KEYDOWN first and then NM_RETURN.
void notify_list(HWND window, UINT code) {
    NMITEMACTIVATE activate{};
    activate.hdr.hwndFrom = main_window_state.results_list;
    activate.hdr.idFrom = results_list_id;
    activate.hdr.code = code;
    activate.iItem = selected_row_index(main_window_state);
    SendMessageW(window, WM_NOTIFY, results_list_id, reinterpret_cast<LPARAM>(&activate));
}

void press_enter_in_list(HWND window) {
    NMLVKEYDOWN key{};
    key.hdr.hwndFrom = main_window_state.results_list;
    key.hdr.idFrom = results_list_id;
    key.hdr.code = LVN_KEYDOWN;
    key.wVKey = VK_RETURN;
    SendMessageW(window, WM_NOTIFY, results_list_id, reinterpret_cast<LPARAM>(&key));
    notify_list(window, NM_RETURN);
}

void select_list_row(int row) {
    ListView_SetItemState(main_window_state.results_list, -1, 0, LVIS_SELECTED);
    if (row >= 0) {
        ListView_SetItemState(main_window_state.results_list, row, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
    }
}

// The title and text the popup was given since the last look, or nothing when it was not asked
// to show anything. The popup stays open with its texts blanked: every request sets its title,
// and hiding or destroying the active window costs Wine seconds under the test display.
struct Popup {
    std::wstring title;
    std::wstring text;
};
std::optional<Popup> take_popup() {
    if (details_window == nullptr) return std::nullopt;
    const HWND edit = FindWindowExW(details_window, nullptr, L"Edit", nullptr);
    Popup popup{get_window_text(details_window), get_window_text(edit)};
    if (popup.title.empty()) return std::nullopt;
    EXPECT_TRUE(IsWindowVisible(details_window));
    SetWindowTextW(details_window, L"");
    SetWindowTextW(edit, L"");
    return popup;
}

using ListActivation = void (*)(HWND window);
const struct {
    const char* name;
    ListActivation activate;
} list_activations[] = {
    {"double click", [](HWND window) { notify_list(window, NM_DBLCLK); }},
    {"Enter", press_enter_in_list},
};

// On a page other than the report lists, a double click or Enter shows the selected row whole in
// "Szczegóły pozycji"; with no row selected, or while a measurement or the start-up load runs,
// nothing opens.
TEST(ResultsListActivation, SelectedRowInTheDetailsPopup) {
    ShellWindow shell;
    main_window_state.current_page = 3;
    TableModel table;
    table.columns = {{L"Urządzenie", 120}, {L"Adres", 120}};
    table.rows = {TableRow{{L"Router", L"192.168.1.1"}, L"Brama sieci", {}, L"", {}},
                  TableRow{{L"Drukarka", L"192.168.1.7"}, L"Sąsiad", {}, L"", {}}};
    const TableModel shown = table;
    apply_table_model(main_window_state, std::move(table));
    for (const auto& activation : list_activations) {
        SCOPED_TRACE(activation.name);
        select_list_row(1);
        activation.activate(shell.window);
        const std::optional<Popup> popup = take_popup();
        ASSERT_TRUE(popup.has_value());
        EXPECT_EQ(popup->title, L"Szczegóły pozycji");
        EXPECT_EQ(popup->text, selected_row_text(shown, 1));
        EXPECT_NE(popup->text.find(L"Adres\t192.168.1.7\r\n"), std::wstring::npos);

        select_list_row(-1);
        activation.activate(shell.window);
        EXPECT_FALSE(take_popup().has_value()) << "no row selected";

        select_list_row(0);
        for (bool* busy : {&measurement_running, &last_report_loading}) {
            *busy = true;
            activation.activate(shell.window);
            *busy = false;
            EXPECT_FALSE(take_popup().has_value()) << "while a job runs";
        }
    }
}

// On the report lists (pages 9 and 10) the same gestures open the archived report of the
// selected row; during a measurement they do nothing there either.
TEST(ResultsListActivation, ArchivedReportOnTheReportPages) {
    ShellWindow shell;
    app_services().open_archived_report = product_services().open_archived_report;
    api_token = L"list-activation-token";
    const std::filesystem::path reports =
        std::filesystem::path(data_directory(server_origin(), api_token)) / L"reports";
    std::filesystem::create_directories(reports);
    const nlohmann::json full = test::load_result_fixture("diagnostics-report");
    const std::string session = full["throughput"]["session_id"];
    std::ofstream(reports / (session + ".json"), std::ios::binary) << full.dump();

    for (const int page : {9, 10}) {
        main_window_state.current_page = page;
        TableModel list;
        list.columns = {{L"Czas rozpoczęcia UTC", 100}, {L"Raport", 100}, {L"Sesja", 100}};
        list.rows = {TableRow{{L"a", L"Brak", L"not-an-id"}, L"", {}, L"", {}},
                     TableRow{{L"b", L"Pomiar", to_wide(session)}, L"", {}, L"", {}}};
        apply_table_model(main_window_state, std::move(list));
        for (const auto& activation : list_activations) {
            SCOPED_TRACE(std::string(activation.name) + " on page " + std::to_string(page));
            select_list_row(1);
            measurement_running = true;
            activation.activate(shell.window);
            measurement_running = false;
            EXPECT_FALSE(take_popup().has_value()) << "during a measurement";

            activation.activate(shell.window);
            const std::optional<Popup> popup = take_popup();
            ASSERT_TRUE(popup.has_value());
            EXPECT_EQ(popup->title, L"Archiwalny raport z pomiaru");
            EXPECT_EQ(main_window_state.current_page, page);

            // A row whose report is not there opens nothing, not the row's text.
            select_list_row(0);
            activation.activate(shell.window);
            EXPECT_FALSE(take_popup().has_value());
        }
    }
}

TEST(WindowProcedure, ThrowingCommandLeavesAViewMessageAndTheWindow) {
    ShellWindow shell;
    app_services().export_report = [](HWND) { throw std::runtime_error("export_failed"); };
    shell.command(export_button_id);
    EXPECT_TRUE(IsWindow(shell.window));
    EXPECT_EQ(main_window_state.shown_table.title, L"export_failed");
}

// The window's own procedure, with the minimum track size of a work area only 360 pixels high.
WNDPROC program_procedure = nullptr;
LRESULT CALLBACK small_work_area_procedure(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
    const LRESULT result = CallWindowProcW(program_procedure, window, message, wparam, lparam);
    if (message == WM_GETMINMAXINFO) {
        auto& info = *reinterpret_cast<MINMAXINFO*>(lparam);
        info.ptMinTrackSize.y = std::min<LONG>(info.ptMinTrackSize.y, 360);
    }
    return result;
}

TEST(WindowProcedure, MouseWheelScrollsOneLineEitherWay) {
    ShellWindow shell;
    // Every page fits the smallest window; on a work area smaller than that the content scrolls.
    program_procedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        shell.window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(small_work_area_procedure)));
    shell.command(first_nav_button_id + 1);
    SetWindowPos(shell.window, nullptr, 0, 0, 1000, 360,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_GT(main_window_state.scroll_range, 0);
    SendMessageW(shell.window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-360)), 0);
    const int one_line = main_window_state.scroll_pos;
    EXPECT_GT(one_line, 0);
    SendMessageW(shell.window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0);
    const int two_lines = main_window_state.scroll_pos;
    EXPECT_EQ(two_lines, std::min(2 * one_line, main_window_state.scroll_range));
    SendMessageW(shell.window, WM_MOUSEWHEEL, MAKEWPARAM(0, 120 * 5), 0);
    EXPECT_EQ(main_window_state.scroll_pos, two_lines - one_line);
}

TEST(WindowProcedure, MinimumTrackSize) {
    ShellWindow shell;
    MINMAXINFO info{};
    info.ptMaxSize = {77, 88};
    SendMessageW(shell.window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(shell.window, MONITOR_DEFAULTTONEAREST), &monitor);
    const int dpi = static_cast<int>(GetDpiForWindow(shell.window));
    EXPECT_EQ(info.ptMinTrackSize.x,
              std::min<LONG>(monitor.rcWork.right - monitor.rcWork.left, MulDiv(960, dpi, 96)));
    EXPECT_EQ(info.ptMinTrackSize.y,
              std::min<LONG>(monitor.rcWork.bottom - monitor.rcWork.top, MulDiv(640, dpi, 96)));
    EXPECT_EQ(info.ptMaxSize.x, 77);
}

// In a prefix whose system DPI is 144 (app_window_proc_144dpi_test sets TARVISKO_EXPECT_DPI):
// the smallest window is 960 x 640 device-independent pixels, 1440 x 960 pixels here, and never
// more than the work area.
TEST(HighDpiPrefix, MinimumTrackSizeAtTheSystemDpi) {
    const char* expected = std::getenv("TARVISKO_EXPECT_DPI");
    if (expected == nullptr) GTEST_SKIP() << "runs in the 144 DPI prefix only";
    ShellWindow shell;
    ASSERT_EQ(GetDpiForWindow(shell.window), static_cast<UINT>(std::atoi(expected)));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(shell.window, MONITOR_DEFAULTTONEAREST), &monitor));
    // The test display is 1600 x 1000: room for the whole minimum.
    ASSERT_GE(monitor.rcWork.right - monitor.rcWork.left, 1440);
    ASSERT_GE(monitor.rcWork.bottom - monitor.rcWork.top, 960);
    MINMAXINFO info{};
    info.ptMaxTrackSize = {5000, 4000};
    SendMessageW(shell.window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 1440);
    EXPECT_EQ(info.ptMinTrackSize.y, 960);
    EXPECT_EQ(info.ptMaxTrackSize.x, 5000);
    // The system applies it: a smaller size asked for is raised to the minimum.
    SetWindowPos(shell.window, nullptr, 0, 0, 800, 500, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT frame{};
    GetWindowRect(shell.window, &frame);
    EXPECT_EQ(frame.right - frame.left, 1440);
    EXPECT_EQ(frame.bottom - frame.top, 960);
}

TEST(MessageLoop, FailedGetMessageEndsWithOne) {
    // A failed GetMessageW leaves the record unfilled; its wParam must not become the exit code.
    static int calls = 0;
    calls = 0;
    auto failing = [](LPMSG message, HWND, UINT, UINT) -> BOOL {
        message->message = WM_NULL;
        message->wParam = 77;
        return ++calls == 1 ? TRUE : -1;
    };
    EXPECT_EQ(run_message_loop(nullptr, failing), 1);
    EXPECT_EQ(calls, 2);
    auto quitting = [](LPMSG message, HWND, UINT, UINT) -> BOOL {
        message->message = WM_QUIT;
        message->wParam = 5;
        return FALSE;
    };
    EXPECT_EQ(run_message_loop(nullptr, quitting), 5);
}

}  // namespace
}  // namespace tarvisko
