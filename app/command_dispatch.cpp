// What each button, combo box and card of the main window does when it reports WM_COMMAND. A
// command whose condition does not hold is ignored silently: the busy state disables most
// controls, but the conditions hold whatever a control's state.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "app/cards.h"
#include "app/commands.h"
#include "app/control_ids.h"
#include "app/details_window.h"
#include "app/game_page.h"
#include "app/jobs.h"
#include "app/page_switcher.h"
#include "app/results_list.h"
#include "app/services.h"
#include "app/start_runs.h"
#include "app/status_texts.h"
#include "engine/common/text.h"
#include "readings/router_identity.h"
#include "readings/wifi_comparison.h"
#include "results/dashboard.h"
#include "results/format.h"
#include "results/view_status.h"

namespace tarvisko {

namespace {

bool main_job_running() { return measurement_running || last_report_loading; }
// A staged or downloading update holds new measurements back until the program restarts.
bool update_holds() { return update_download_mode || update_ready; }

bool opened(HINSTANCE result) { return reinterpret_cast<INT_PTR>(result) > 32; }

// 105: the first press shows the plain text, each further one the other text.
void toggle_full_report(HWND window) {
    MainWindowState& state = main_window_state;
    const int page = report_text_view != 0 ? report_text_view : state.current_page;
    const bool technical = report_text_shown && !report_text_technical;
    if (page >= 6 && page <= 8 && last_results[static_cast<std::size_t>(page - 6)].is_object()) {
        if (const auto& show = app_services().diagnostic_report_text) show(window, page, technical);
        return;
    }
    report_text_shown = true;
    report_text_technical = technical;
    show_text_page(state, 10, technical ? L"Raport techniczny" : L"Raport z pomiaru",
                   technical ? technical_report_text : simple_report_text);
    // The caption names the other view.
    SetWindowTextW(state.report_button, technical ? L"Prosty wynik" : L"Dane techniczne");
}

// 240-244, 250-257 and 261: the card's whole text in the details window.
void show_card_details(HWND window, int id) {
    const SummaryModel& summary = main_window_state.summary;
    if (id == conclusion_button_id) {
        show_details_window(window, L"Wniosek z pomiaru",
                            summary.headline + L"\r\n\r\n" + summary.explanation, std::nullopt);
        return;
    }
    static constexpr std::array<std::wstring_view, 5> tile_units{L" Mb/s", L" Mb/s", L" ms",
                                                                 L" ms", L" %"};
    const bool tile = id >= first_dashboard_tile_id && id <= last_dashboard_tile_id;
    const TextCard& card =
        tile ? summary.tiles[static_cast<std::size_t>(id - first_dashboard_tile_id)]
             : summary.sections[static_cast<std::size_t>(id - first_section_card_id)];
    std::wstring text = card.title + L"\r\n" + card.subtitle;
    if (tile && card.subtitle != L"—")
        text += tile_units[static_cast<std::size_t>(id - first_dashboard_tile_id)];
    text += L"\r\n\r\n" + card.body;
    if (id == download_tile_id || id == upload_tile_id) {
        const auto& series =
            id == download_tile_id ? summary.download_series : summary.upload_series;
        if (const std::optional<TransferSampleStats> stats = transfer_sample_stats(series)) {
            text += L"\r\n\r\nOstatnia próbka: " + format_decimal(stats->last) +
                    L" Mb/s. Maksimum: " + format_decimal(std::max(stats->maximum, 0.0)) +
                    L" Mb/s.";
        }
    }
    show_details_window(window, card.title, text, std::nullopt);
}

// 334: Windows' resource monitor from the system folder.
void open_resource_monitor(HWND window) {
    const auto& shell_execute = app_services().shell_execute;
    if (!shell_execute) return;
    std::array<wchar_t, 260> buffer{};
    const UINT length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    bool started = false;
    if (length >= 1 && length <= 259) {
        std::wstring path(buffer.data(), length);
        if (path.back() != L'\\' && path.back() != L'/') path += L'\\';
        path += L"resmon.exe";
        started = opened(shell_execute(window, L"open", path.c_str()));
    }
    if (!started) set_view_message(main_window_state, L"Windows nie otworzył Monitora zasobów.");
}

// 338: the management page of the Wi-Fi gateway in the browser.
void open_router_panel(HWND window) {
    const AppServices& services = app_services();
    if (!services.resolve_router_panel || !services.shell_execute) return;
    const std::wstring address = services.resolve_router_panel();
    if (address.empty()) {
        set_view_message(main_window_state,
                         L"Nie znaleziono adresu panelu aktualnej bramy. Połącz się z Wi-Fi i "
                         L"odśwież skan.");
    } else if (!opened(services.shell_execute(window, L"open", address.c_str()))) {
        set_view_message(main_window_state, L"Windows nie otworzył panelu routera.");
    }
}

// 326: item 0 is the heading "Ulubione cele"; item i is favourite i - 1.
void choose_favorite(HWND window) {
    const LRESULT index = SendDlgItemMessageW(window, favorites_combo_id, CB_GETCURSEL, 0, 0);
    if (index >= 1 && static_cast<std::size_t>(index) <= favorite_target_list.size()) {
        SetDlgItemTextW(window, target_edit_id,
                        favorite_target_list[static_cast<std::size_t>(index - 1)].c_str());
    }
}

void copy_selected_row(HWND window) {
    MainWindowState& state = main_window_state;
    const std::wstring text = selected_row_text(state.shown_table, selected_row_index(state));
    if (text.empty()) return;
    set_view_message(state, copy_to_clipboard(window, text) ? L"Skopiowano zaznaczony wiersz"
                                                            : L"Schowek jest niedostępny");
}

// 346 and 347: a Wi-Fi scan stored as "before" or compared with it.
bool wifi_scan_allowed() {
    return main_window_state.current_page == 4 && collecting_view == 0 && !main_job_running() &&
           !update_holds();
}

void handle_wifi_command(HWND window, int id) {
    MainWindowState& state = main_window_state;
    if (state.current_page != 4) return;
    switch (id) {
        case wifi_scan_button_id:
            if (!main_job_running()) start_view_collection(window, 4, 1);
            break;
        case router_panel_button_id:
            open_router_panel(window);
            break;
        case channel_help_button_id: {
            std::wstring text = shown_wifi_reading.router_instructions;
            if (text.empty()) text = router_channel_instructions(L"", L"");
            show_details_window(window, L"Jak zmienić kanał Wi-Fi", text, std::nullopt);
            break;
        }
        case first_band_button_id:
        case first_band_button_id + 1:
        case first_band_button_id + 2:
            select_wifi_band(state, id - first_band_button_id);
            break;
        case wifi_details_button_id:
            if (collecting_view != 4) {
                show_details_window(window, L"Ocena kanału Wi-Fi", shown_wifi_reading.card.body,
                                    std::nullopt);
            }
            break;
        case wifi_before_button_id:
            if (wifi_scan_allowed()) start_view_collection(window, 4, 2);
            break;
        case wifi_after_button_id:
            if (wifi_scan_allowed() && wifi_baseline_snapshot) start_view_collection(window, 4, 3);
            break;
        case wifi_compare_button_id:
            if (collecting_view != 4) {
                show_details_window(window, L"Porównanie Wi-Fi przed i po zmianie",
                                    wifi_compare_card.body,
                                    wifi_baseline_chart(wifi_comparison_state()));
            }
            break;
        default:
            break;
    }
}

}  // namespace

void handle_command(HWND window, int id, int notification, HWND /*control*/) {
    MainWindowState& state = main_window_state;
    const AppServices& services = app_services();
    const int page = state.current_page;
    const bool idle = !main_job_running();
    switch (id) {
        case start_button_id:
            if (idle && !update_holds()) {
                run(window, SendDlgItemMessageW(window, process_traffic_check_id, BM_GETCHECK, 0,
                                                0) == BST_CHECKED);
            }
            return;
        case copy_code_button_id:
            if (idle) {
                set_status_message(state, copy_to_clipboard(window, api_token)
                                              ? L"Skopiowano prywatny kod klienta"
                                              : L"Nie można skopiować kodu klienta");
            }
            return;
        case stop_button_id:
            if (measurement_running) {
                session_cancel_flag.exchange(true);
                stop_live_timer(window);
                set_status_message(state, L"Zatrzymywanie pomiaru…");
            }
            return;
        case report_button_id:
            if (idle) toggle_full_report(window);
            return;
        case nav_toggle_button_id:
            toggle_navigation(state);
            return;
        case summary_button_id:
            show_page(window, 0);
            return;
        case target_profile_combo_id:
            if (notification == CBN_SELCHANGE && page == 6 && live_target_page == 0) {
                fill_target_list(window);
                game_choice_view(window);
            }
            return;
        case game_server_combo_id:
            if (notification == CBN_SELCHANGE && page == 6 && live_target_page == 0) {
                game_choice_view(window);
                show_selected_target(window);
            }
            return;
        case run_target_button_id:
            if (live_target_page != 0) {
                session_cancel_flag.exchange(true);
                set_view_message(state, L"Zatrzymywanie i zapis próbek…");
            } else if (!update_holds()) {
                launch_route(window);
            }
            return;
        case export_button_id:
            if (!measurement_running && services.export_report) services.export_report(window);
            return;
        case save_target_button_id:
            if (!measurement_running) {
                try {
                    favorite_targets(window, true);
                } catch (const std::exception& error) {
                    set_view_message(state, to_wide(error.what()));
                }
            }
            return;
        case favorites_combo_id:
            if (notification == CBN_SELCHANGE && !measurement_running) choose_favorite(window);
            return;
        case compare_route_button_id:
            if (!measurement_running && services.compare_mtr_runs) services.compare_mtr_runs(window);
            return;
        case open_report_button_id:
            if (idle && (page == 9 || page == 10) && services.open_archived_report) {
                services.open_archived_report(window);
            }
            return;
        case update_button_id:
            if (idle && page == 11) {
                start_update_task(window, true);
                show_page(window, 11);
            }
            return;
        case copy_row_button_id:
            if (!measurement_running) copy_selected_row(window);
            return;
        case refresh_reading_button_id:
            if (!measurement_running && (page == 2 || page == 3)) {
                start_view_collection(window, page, 0);
            }
            return;
        case resource_monitor_button_id:
            if (page == 2 && !measurement_running) open_resource_monitor(window);
            return;
        case stop_reading_button_id:
            if (measurement_running && traffic_monitor) {
                session_cancel_flag.exchange(true);
                set_view_message(state, L"Zatrzymywanie i zapis pomiaru…");
            }
            return;
        default:
            break;
    }
    if (id >= first_nav_button_id && id <= last_nav_button_id) {
        show_page(window, id - first_nav_button_id);
    } else if ((id >= first_dashboard_tile_id && id <= last_dashboard_tile_id) ||
               (id >= first_section_card_id && id <= last_section_card_id) ||
               id == conclusion_button_id) {
        show_card_details(window, id);
    } else if (id >= wifi_scan_button_id && id <= wifi_compare_button_id && id != wifi_chart_id &&
               id != wifi_recommendation_id) {
        handle_wifi_command(window, id);
    }
}

}  // namespace tarvisko
