#include "app/page_switcher.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

#include "app/app_state.h"
#include "app/cards.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/controls.h"
#include "app/game_page.h"
#include "app/jobs.h"
#include "app/report_list.h"
#include "app/results_list.h"
#include "app/services.h"
#include "app/status_texts.h"
#include "engine/common/text.h"
#include "engine/common/version.h"
#include "readings/wifi_baseline.h"
#include "results/dashboard.h"
#include "results/format.h"
#include "results/hop_table.h"
#include "results/icmp_table.h"
#include "results/report_details.h"
#include "results/report_files.h"
#include "results/view_status.h"

namespace tarvisko {

namespace {

void enable_control(HWND control, bool enabled) {
    if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}

// The client's reports folder for pages 9 and 10; none without a client token. A data
// directory that cannot be named becomes `error`.
std::filesystem::path client_reports_folder(std::wstring& error) {
    if (api_token.empty()) return {};
    try {
        return std::filesystem::path(data_directory(server_origin(), api_token)) / L"reports";
    } catch (const std::exception& failure) {
        error = to_wide(failure.what());
        return {};
    }
}

// The page's table before it is shown; pages 9 and 10 show the rows read so far from
// `list_folder`.
TableModel page_table(int page, const std::filesystem::path& list_folder) {
    MainWindowState& state = main_window_state;
    AppServices& services = app_services();
    if (page == 2 && traffic_monitor && services.build_traffic_table) {
        return services.build_traffic_table(*traffic_monitor, false, L"");
    }
    TableModel table = build_report_details_table(page, last_diagnostics_report, state.summary);
    if (page == 4 && !shown_wifi_reading.table.rows.empty()) {
        table = shown_wifi_reading.table;
    } else if (page >= 6 && page <= 8) {
        if (page == live_target_page) {
            table = live_view_hop_table ? build_mtr_hop_table(shown_samples, {})
                                        : build_icmp_latency_table(shown_samples);
        } else {
            table = measurement_view_status(
                page, view_result_slot(page, last_results, last_diagnostics_report),
                responder_lookup.shown_responder_names);
        }
    } else if (page == 9 || page == 10) {
        table = report_list_table(page, state.report_list, list_folder);
    } else if (page == 11) {
        table.title = L"Konfiguracja tej kopii programu";
        table.rows = settings_rows(server_origin_setting(), is_first_choice_selected(state),
                                   update_status_text);
    }
    return table;
}

void show_settings_buttons() {
    MainWindowState& state = main_window_state;
    const wchar_t* caption = update_ready                   ? L"Ponowne uruchamianie…"
                             : available_release.has_value() ? L"Zainstaluj aktualizację"
                                                             : L"Sprawdź aktualizacje";
    set_text_if_changed(state.update_button, caption);
    enable_control(state.update_button,
                   !update_running && !measurement_running && !last_report_loading);
}

void show_wifi_cards(HWND window) {
    MainWindowState& state = main_window_state;
    load_wifi_baseline_once(wifi_comparison_state());
    apply_wifi_scan(state, shown_wifi_reading.chart);
    apply_wifi_recommendation(state, shown_wifi_reading.card);
    if (collecting_view != 4) apply_wifi_comparison(state, wifi_compare_card);
    update_button_states(window);
    if (shown_wifi_reading.table.rows.empty()) start_view_collection(window, 4, 0);
}

void show_target_page(HWND window, int page) {
    MainWindowState& state = main_window_state;
    const bool idle = !measurement_running && !last_report_loading;
    const nlohmann::json& entry = last_results[static_cast<std::size_t>(page - 6)];
    if (!measurement_running) {
        start_responder_lookup(window, page,
                               view_result_slot(page, last_results, last_diagnostics_report));
    }
    if (entry.is_object()) {
        show_sync_status(state, entry);
    } else if (page == 7 && last_diagnostics_report.is_object()) {
        set_busy_state(state, measurement_running, !api_token.empty(),
                       !technical_report_text.empty());
    } else {
        show_sync_status(state, nullptr);
    }

    if (page == 6) {
        game_result_shown = entry.is_object();
        start_catalog_refresh(window);
        fill_profile_list(window);
        if (!entry.is_object()) game_choice_view(window);
    } else {
        if (page == 7) {
            fill_combo(state, method_combo_id, {L"ICMP", L"TCP 443"}, 0);
            fill_combo(state, target_profile_combo_id,
                       {L"20 przebiegów", L"100 przebiegów", L"300 przebiegów"}, 0);
        } else {
            fill_combo(state, method_combo_id, {L"Ping ICMP"}, 0);
            fill_combo(
                state, target_profile_combo_id,
                {L"1 minuta", L"5 minut", L"15 minut", L"30 minut", L"60 minut", L"Do zatrzymania"},
                0);
        }
        if (state.target_edit != nullptr) SendMessageW(state.target_edit, EM_SETREADONLY, FALSE, 0);
        if (page == 7) {
            try {
                favorite_targets(window, false);
            } catch (const std::exception& failure) {
                set_view_message(state, to_wide(failure.what()));
            }
        }
        const nlohmann::json& peer =
            json_member_or_null(json_member_or_null(last_diagnostics_report, "throughput"), "peer");
        const std::wstring target = peer.is_string() ? to_wide(peer.get<std::string>()) : L"";
        set_text_if_changed(state.target_edit, target);
    }

    set_tool_controls_enabled(state, idle);
    if (page == 6 && !measurement_running) {
        show_selected_target(window);
        if (entry.is_object()) {
            set_view_message(state,
                             measurement_view_status(6, entry, responder_lookup.shown_responder_names)
                                 .title);
        }
    }
    enable_control(state.run_target_button, page == live_target_page || idle);
}

}  // namespace

std::vector<TableRow> settings_rows(const OriginSetting& origin, bool full_speed_profile,
                                    const std::wstring& update_text) {
    const auto row = [](std::wstring name, std::wstring value, std::wstring detail) {
        TableRow result;
        result.cells = {std::move(name), std::move(value)};
        result.detail = std::move(detail);
        return result;
    };
    return {
        row(L"Serwer pomiarowy", origin.problem.empty() ? origin.origin : origin.problem,
            L"Adres HTTPS z konfiguracji Tarvisko.ini lub z ustawień tej dystrybucji."),
        row(L"Profil pomiaru", full_speed_profile ? L"Pełna prędkość" : L"Mały transfer",
            L"Profil następnego testu wybierzesz na ekranie Podsumowanie."),
        row(L"Wersja Windows EXE", to_wide(program_version),
            L"Wersja binarium uruchomionego na tym komputerze."),
        row(L"Aktualizacja aplikacji", update_text,
            L"Program sprawdza wersję przy otwarciu. Pobieranie nowej wersji wymaga kliknięcia."),
        row(L"Panel klienta", origin.origin.empty() ? L"—" : origin.origin + L"/klient",
            L"Przycisk na dole kopiuje prywatny kod do panelu klienta."),
    };
}

void show_page(HWND window, int page) {
    MainWindowState& state = main_window_state;
    report_text_shown = false;
    report_text_view = 0;
    if (page == 0) {
        show_summary_page(state);
        set_busy_state(state, measurement_running, !api_token.empty(),
                       !technical_report_text.empty());
        set_text_if_changed(state.report_button, L"Pełny raport");
        return;
    }

    std::wstring list_error;
    const std::filesystem::path list_folder =
        page == 9 || page == 10 ? client_reports_folder(list_error) : std::filesystem::path();
    show_table_page(state, page, page_table(page, list_folder));

    if ((page == 2 && !traffic_monitor) || page == 3) {
        start_view_collection(window, page, 0);
    } else if (!list_folder.empty()) {
        start_report_list_reading(window, list_folder);
    } else if (page == 4) {
        show_wifi_cards(window);
    } else if (page == 11) {
        show_settings_buttons();
    }
    set_text_if_changed(state.report_button, L"Pełny raport");

    if (page >= 6 && page <= 8) {
        show_target_page(window, page);
    } else {
        set_busy_state(state, measurement_running, !api_token.empty(),
                       !technical_report_text.empty());
    }
    if (!list_error.empty()) set_view_message(state, list_error);
}

}  // namespace tarvisko
