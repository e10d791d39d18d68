// The command table in the program's own window: what each id does in which state, with the
// services replaced by fakes (no browser, resource monitor or network is reached).
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/details_window.h"
#include "app/services.h"
#include "readings/router_identity.h"
#include "shell_window.h"

namespace tarvisko {
namespace {

using test::pump_until;
using test::ShellWindow;

std::wstring window_text(HWND window) {
    wchar_t text[4096]{};
    GetWindowTextW(window, text, 4096);
    return text;
}

// The longest text among the details window's children: its read-only text.
std::wstring details_body() {
    std::wstring longest;
    if (details_window == nullptr) return longest;
    EnumChildWindows(
        details_window,
        [](HWND child, LPARAM found) -> BOOL {
            auto& best = *reinterpret_cast<std::wstring*>(found);
            const int length = GetWindowTextLengthW(child);
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            text.resize(static_cast<std::size_t>(GetWindowTextW(child, text.data(), length + 1)));
            if (text.size() > best.size()) best = text;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&longest));
    return longest;
}

struct ShellCalls {
    std::vector<std::wstring> shell_files;
    std::vector<std::wstring> verbs;
    int desktop_tests = 0;
    int release_checks = 0;
    int exports = 0;
    int archived_opens = 0;
    std::vector<std::pair<int, bool>> report_texts;
};

// Fakes for every service a command may reach.
void install_fakes(ShellCalls& calls, INT_PTR shell_result, std::wstring panel) {
    AppServices& services = app_services();
    services.shell_execute = [&calls, shell_result](HWND, const wchar_t* verb,
                                                    const wchar_t* file) {
        calls.verbs.emplace_back(verb);
        calls.shell_files.emplace_back(file);
        return reinterpret_cast<HINSTANCE>(shell_result);
    };
    services.resolve_router_panel = [panel] { return panel; };
    services.run_desktop_test = [&calls](const std::atomic<bool>&, const PhaseCallback&,
                                         LiveTraffic&) {
        ++calls.desktop_tests;
        return nlohmann::json{{"session_id", "x"}};
    };
    services.load_release_description = [&calls](const std::wstring&) -> ReleaseInfo {
        ++calls.release_checks;
        throw std::runtime_error("offline");
    };
    services.export_report = [&calls](HWND) { ++calls.exports; };
    services.open_archived_report = [&calls](HWND) { ++calls.archived_opens; };
    services.diagnostic_report_text = [&calls](HWND, int page, bool technical) {
        calls.report_texts.emplace_back(page, technical);
    };
    services.read_wifi_environment = [](bool) { return WifiReading{}; };
}

TEST(Commands, IgnoredWhenTheirConditionDoesNotHold) {
    struct Case {
        const char* name;
        std::function<void()> setup;
        int id;
        int notification;
    };
    const std::vector<Case> cases{
        {"101 while an update downloads", [] { update_download_mode = true; }, start_button_id, 0},
        {"101 with a staged update", [] { update_ready = true; }, start_button_id, 0},
        {"101 while the last report loads", [] { last_report_loading = true; }, start_button_id, 0},
        {"103 while idle", [] {}, stop_button_id, 0},
        {"331 off page 11", [] { main_window_state.current_page = 5; }, update_button_id, 0},
        {"331 on page 11 while measuring",
         [] {
             main_window_state.current_page = 11;
             measurement_running = true;
         },
         update_button_id, 0},
        {"335 without a traffic monitor", [] { measurement_running = true; },
         stop_reading_button_id, 0},
        {"347 without a stored before scan", [] { main_window_state.current_page = 4; },
         wifi_after_button_id, 0},
        {"346 off page 4", [] { main_window_state.current_page = 3; }, wifi_before_button_id, 0},
        {"337 while measuring",
         [] {
             main_window_state.current_page = 4;
             measurement_running = true;
         },
         wifi_scan_button_id, 0},
        {"345 while the Wi-Fi page reads",
         [] {
             main_window_state.current_page = 4;
             collecting_view = 4;
         },
         wifi_details_button_id, 0},
        {"348 while the Wi-Fi page reads",
         [] {
             main_window_state.current_page = 4;
             collecting_view = 4;
         },
         wifi_compare_button_id, 0},
        {"332 with no row selected", [] {}, copy_row_button_id, 0},
        {"330 off the report pages", [] { main_window_state.current_page = 5; },
         open_report_button_id, 0},
        {"319 while measuring", [] { measurement_running = true; }, export_button_id, 0},
        {"334 off page 2", [] { main_window_state.current_page = 3; }, resource_monitor_button_id,
         0},
        {"339 off page 4", [] { main_window_state.current_page = 3; }, channel_help_button_id, 0},
        {"333 off pages 2 and 3", [] { main_window_state.current_page = 4; },
         refresh_reading_button_id, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShellWindow shell;
        ShellCalls calls;
        install_fakes(calls, 42, L"http://192.168.1.1/");
        c.setup();
        const bool was_measuring = measurement_running;
        const std::wstring status = main_window_state.status_message;
        const std::wstring view = main_window_state.shown_table.title;
        const int page = main_window_state.current_page;
        const int collecting = collecting_view;
        shell.command(c.id, c.notification);
        pump_until([] { return true; });
        EXPECT_EQ(measurement_running, was_measuring);
        EXPECT_FALSE(update_running);
        EXPECT_EQ(collecting_view, collecting);
        EXPECT_EQ(main_window_state.current_page, page);
        EXPECT_EQ(main_window_state.status_message, status);
        EXPECT_EQ(main_window_state.shown_table.title, view);
        EXPECT_FALSE(session_cancel_flag.load());
        EXPECT_EQ(details_window, nullptr);
        EXPECT_EQ(calls.desktop_tests + calls.release_checks + calls.exports + calls.archived_opens,
                  0);
        EXPECT_TRUE(calls.shell_files.empty());
    }
}

TEST(Commands, CopyCodeReportsSuccessAndFailure) {
    ShellWindow shell;
    api_token = L"kod-klienta-123";
    shell.command(copy_code_button_id);
    EXPECT_EQ(main_window_state.status_message, L"Skopiowano prywatny kod klienta");
    EXPECT_EQ(test::clipboard_text(), L"kod-klienta-123");
    api_token.clear();
    shell.command(copy_code_button_id);
    EXPECT_EQ(main_window_state.status_message, L"Nie można skopiować kodu klienta");
}

TEST(Commands, StopRequestsSetTheCancelFlag) {
    {
        ShellWindow shell;
        measurement_running = true;
        shell.command(stop_button_id);
        EXPECT_TRUE(session_cancel_flag.load());
        EXPECT_EQ(main_window_state.status_message, L"Zatrzymywanie pomiaru…");
    }
    {
        ShellWindow shell;
        ShellCalls calls;
        install_fakes(calls, 42, L"");
        measurement_running = true;
        live_target_page = 8;
        shell.command(run_target_button_id);
        EXPECT_TRUE(session_cancel_flag.load());
        EXPECT_EQ(main_window_state.shown_table.title, L"Zatrzymywanie i zapis próbek…");
    }
    {
        ShellWindow shell;
        measurement_running = true;
        int dummy = 0;
        traffic_monitor = TrafficViewPtr(reinterpret_cast<TrafficView*>(&dummy),
                                         [](TrafficView*) {});
        shell.command(stop_reading_button_id);
        EXPECT_TRUE(session_cancel_flag.load());
        EXPECT_EQ(main_window_state.shown_table.title, L"Zatrzymywanie i zapis pomiaru…");
    }
}

TEST(Commands, FullReportToggleAlternatesTextAndCaption) {
    ShellWindow shell;
    simple_report_text = L"Prosty tekst";
    technical_report_text = L"Techniczny tekst";
    const std::vector<std::wstring> captions{L"Dane techniczne", L"Prosty wynik",
                                             L"Dane techniczne"};
    const std::vector<std::wstring> texts{L"Prosty tekst", L"Techniczny tekst", L"Prosty tekst"};
    for (std::size_t press = 0; press < 3; ++press) {
        shell.command(report_button_id);
        EXPECT_TRUE(report_text_shown);
        EXPECT_EQ(report_text_technical, press == 1);
        EXPECT_EQ(shell.control_text(report_button_id), captions[press]);
        EXPECT_EQ(window_text(main_window_state.page_text_edit), texts[press]);
    }
}

TEST(Commands, FullReportOnATargetPageAsksForThatReport) {
    ShellWindow shell;
    ShellCalls calls;
    install_fakes(calls, 42, L"");
    main_window_state.current_page = 7;
    last_results[1] = nlohmann::json{{"session_id", "r"}};
    shell.command(report_button_id);
    ASSERT_EQ(calls.report_texts.size(), 1u);
    EXPECT_EQ(calls.report_texts[0], std::make_pair(7, false));
    EXPECT_FALSE(report_text_shown);
}

TEST(Commands, FavouriteChoiceFillsTheTarget) {
    ShellWindow shell;
    favorite_target_list = {L"1.1.1.1", L"example.org"};
    HWND combo = GetDlgItem(shell.window, favorites_combo_id);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const wchar_t* item : {L"Ulubione cele", L"1.1.1.1", L"example.org"}) {
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SetDlgItemTextW(shell.window, target_edit_id, L"przed");
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    shell.command(favorites_combo_id, CBN_SELCHANGE);
    EXPECT_EQ(shell.control_text(target_edit_id), L"przed");
    SendMessageW(combo, CB_SETCURSEL, 2, 0);
    shell.command(favorites_combo_id, CBN_DROPDOWN);
    EXPECT_EQ(shell.control_text(target_edit_id), L"przed");
    shell.command(favorites_combo_id, CBN_SELCHANGE);
    EXPECT_EQ(shell.control_text(target_edit_id), L"example.org");
}

TEST(Commands, ResourceMonitorAndRouterPanelGoThroughShellExecute) {
    wchar_t system_folder[MAX_PATH]{};
    GetSystemDirectoryW(system_folder, MAX_PATH);
    {
        ShellWindow shell;
        ShellCalls calls;
        install_fakes(calls, 42, L"http://192.168.1.1/");
        main_window_state.current_page = 2;
        shell.command(resource_monitor_button_id);
        ASSERT_EQ(calls.shell_files.size(), 1u);
        EXPECT_EQ(calls.verbs[0], L"open");
        EXPECT_EQ(calls.shell_files[0], std::wstring(system_folder) + L"\\resmon.exe");
        EXPECT_EQ(main_window_state.shown_table.title, L"");

        main_window_state.current_page = 4;
        shell.command(router_panel_button_id);
        ASSERT_EQ(calls.shell_files.size(), 2u);
        EXPECT_EQ(calls.shell_files[1], L"http://192.168.1.1/");
        EXPECT_EQ(main_window_state.shown_table.title, L"");
    }
    {
        ShellWindow shell;
        ShellCalls calls;
        install_fakes(calls, 2, L"http://192.168.1.1/");
        main_window_state.current_page = 2;
        shell.command(resource_monitor_button_id);
        EXPECT_EQ(main_window_state.shown_table.title, L"Windows nie otworzył Monitora zasobów.");
        main_window_state.current_page = 4;
        shell.command(router_panel_button_id);
        EXPECT_EQ(main_window_state.shown_table.title, L"Windows nie otworzył panelu routera.");
    }
    {
        ShellWindow shell;
        ShellCalls calls;
        install_fakes(calls, 42, L"");
        main_window_state.current_page = 4;
        shell.command(router_panel_button_id);
        EXPECT_TRUE(calls.shell_files.empty());
        EXPECT_EQ(main_window_state.shown_table.title,
                  L"Nie znaleziono adresu panelu aktualnej bramy. Połącz się z Wi-Fi i odśwież "
                  L"skan.");
    }
}

TEST(Commands, CardDetails) {
    ShellWindow shell;
    SummaryModel& summary = main_window_state.summary;
    summary.tiles[0] = TextCard{L"Pobieranie", L"—", L"Brak próbek.", 0};
    // The first interval holds the connection set-up: not a sample of the transfer.
    summary.download_series = {{0.5, 12.25}, {1.0, 80.0}, {1.5, 60.0},
                               {2.0, 75.0},  {2.5, 70.0}, {3.0, 40.0}};
    summary.tiles[2] = TextCard{L"Ping", L"12,5", L"Czas odpowiedzi.", 0};
    summary.sections[1] = TextCard{L"Połączenie", L"Ethernet", L"Kabel.", 0};
    summary.headline = L"Łącze działa dobrze";
    summary.explanation = L"Wszystko w normie.";

    shell.command(download_tile_id);
    EXPECT_EQ(window_text(details_window), L"Pobieranie");
    EXPECT_EQ(details_body(),
              L"Pobieranie\r\n—\r\n\r\nBrak próbek.\r\n\r\nOstatnia próbka: 40 Mb/s. Maksimum: 80 "
              L"Mb/s.");
    shell.command(first_value_tile_id);
    EXPECT_EQ(details_body(), L"Ping\r\n12,5 ms\r\n\r\nCzas odpowiedzi.");
    shell.command(first_section_card_id + 1);
    EXPECT_EQ(details_body(), L"Połączenie\r\nEthernet\r\n\r\nKabel.");
    shell.command(conclusion_button_id);
    EXPECT_EQ(window_text(details_window), L"Wniosek z pomiaru");
    EXPECT_EQ(details_body(), L"Łącze działa dobrze\r\n\r\nWszystko w normie.");
}

TEST(Commands, ChannelHelpFallsBackToTheGenericInstructions) {
    ShellWindow shell;
    main_window_state.current_page = 4;
    shell.command(channel_help_button_id);
    EXPECT_EQ(window_text(details_window), L"Jak zmienić kanał Wi-Fi");
    EXPECT_EQ(details_body(), router_channel_instructions(L"", L""));
}

TEST(Commands, NavigationAndBands) {
    ShellWindow shell;
    shell.command(first_nav_button_id + 11);
    EXPECT_EQ(main_window_state.current_page, 11);
    shell.command(summary_button_id);
    EXPECT_EQ(main_window_state.current_page, 0);
    main_window_state.current_page = 4;
    shell.command(first_band_button_id + 2);
    EXPECT_EQ(main_window_state.wifi.wifi_band_index, 2);
    shell.command(first_band_button_id);
    EXPECT_EQ(main_window_state.wifi.wifi_band_index, 0);
}

TEST(Commands, BeforeScanStartsTheWifiReading) {
    ShellWindow shell;
    ShellCalls calls;
    install_fakes(calls, 42, L"");
    main_window_state.current_page = 4;
    shell.command(wifi_before_button_id);
    EXPECT_EQ(collecting_view, 4);
    EXPECT_EQ(pending_view_mode, 2);
    ASSERT_TRUE(pump_until([] { return collecting_view == 0; }));
}

}  // namespace
}  // namespace tarvisko
