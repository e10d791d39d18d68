#include "app/window_proc.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "app/app_state.h"
#include "app/cards.h"
#include "app/commands.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/controls.h"
#include "app/details_window.h"
#include "app/game_page.h"
#include "app/jobs.h"
#include "app/messages.h"
#include "app/page_switcher.h"
#include "app/painting.h"
#include "app/report_list.h"
#include "app/results_list.h"
#include "app/services.h"
#include "app/status_texts.h"
#include "engine/common/text.h"
#include "games/catalog.h"
#include "games/choice_page.h"
#include "readings/responder_lookup.h"
#include "readings/wifi_comparison.h"
#include "results/dashboard.h"
#include "results/hop_table.h"
#include "results/icmp_table.h"
#include "results/session_summary.h"
#include "results/view_status.h"

namespace tarvisko {

namespace {

MainWindowState& ui() { return main_window_state; }

bool main_job_running() { return measurement_running || last_report_loading; }

// A job whose end the window must wait for before it may close.
bool any_job_busy() {
    return measurement_running || last_report_loading || catalog_refresh_running ||
           update_running || collecting_view != 0;
}

void join(JobSlot& slot) {
    if (slot.joinable()) slot.join();
}

void enable_control(HWND window, int id, bool enabled) {
    if (HWND control = GetDlgItem(window, id)) EnableWindow(control, enabled ? TRUE : FALSE);
}

void enable_navigation(HWND window) {
    for (int id = first_nav_button_id; id <= last_nav_button_id; ++id)
        enable_control(window, id, true);
}

// While a close waits for the jobs, each job's message ends here: the last one to end closes
// the window; the others leave the display alone. False when no close is pending.
bool close_when_idle(HWND window) {
    if (!close_requested) return false;
    if (!any_job_busy()) {
        save_window_placement(window);
        DestroyWindow(window);
    }
    return true;
}

LRESULT on_create(HWND window) {
    MainWindowState& state = ui();
    set_status_icon(window, -1);
    const std::wstring title = read_ini_setting(L"Operator", L"Tarvisko");
    // The status line shows the origin, or why the configuration gives none: a window that
    // failed to open over a bad settings file would tell the user nothing.
    create_main_window_controls(state, window, shown_server_origin(), title);
    set_busy_state(state, false, false, false);
    open_last_report(window);
    start_update_task(window, false);
    return 0;
}

void on_close(HWND window) {
    responder_lookup_slot.request_stop();
    if (any_job_busy()) {
        close_requested = true;
        session_cancel_flag.exchange(true);
        stop_live_timer(window);
        set_status_message(ui(), L"Zamykanie i zapis wyniku…");
        return;
    }
    save_window_placement(window);
    DestroyWindow(window);
}

void on_min_max_info(HWND window, MINMAXINFO& info) {
    UINT dpi = GetDpiForWindow(window);
    if (dpi == 0) dpi = 96;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) return;
    const RECT& work = monitor.rcWork;
    info.ptMinTrackSize.x =
        std::min<LONG>(work.right - work.left, MulDiv(960, static_cast<int>(dpi), 96));
    info.ptMinTrackSize.y =
        std::min<LONG>(work.bottom - work.top, MulDiv(640, static_cast<int>(dpi), 96));
}

void on_next_dialog_control(HWND window, WPARAM wparam, LPARAM lparam) {
    HWND target = lparam == 0 ? GetNextDlgTabItem(window, GetFocus(), wparam != 0 ? TRUE : FALSE)
                              : reinterpret_cast<HWND>(wparam);
    if (target != nullptr && IsChild(window, target) && IsWindowVisible(target) &&
        IsWindowEnabled(target)) {
        SetFocus(target);
    }
}

LRESULT on_control_colour(HWND control, HDC dc) {
    const COLORREF background =
        GetDlgCtrlID(control) == page_text_edit_id ? RGB(0xFF, 0xFF, 0xFF) : RGB(0xF3, 0xF3, 0xF3);
    SetTextColor(dc, RGB(0x20, 0x20, 0x20));
    SetBkColor(dc, background);
    SetDCBrushColor(dc, background);
    return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
}

void on_dpi_changed(HWND window, WPARAM wparam, const RECT& suggested) {
    create_fonts(ui(), HIWORD(wparam));
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Enter or a double click in the results list: an archived report on the report pages, the
// row's whole text elsewhere.
void open_list_item(HWND window) {
    if (main_job_running()) return;
    MainWindowState& state = ui();
    if (state.current_page == 9 || state.current_page == 10) {
        if (const auto& open = app_services().open_archived_report) open(window);
        return;
    }
    const std::wstring text = selected_row_text(state.shown_table, selected_row_index(state));
    if (!text.empty()) show_details_window(window, L"Szczegóły pozycji", text, std::nullopt);
}

LRESULT on_notify(HWND window, WPARAM wparam, LPARAM lparam) {
    auto* header = reinterpret_cast<NMHDR*>(lparam);
    if (header == nullptr || header->idFrom != results_list_id) {
        return DefWindowProcW(window, WM_NOTIFY, wparam, lparam);
    }
    LRESULT result = 0;
    guarded([&] {
        switch (header->code) {
            case NM_CUSTOMDRAW:
                result = custom_draw_results_list(ui(), *reinterpret_cast<NMLVCUSTOMDRAW*>(lparam));
                break;
            case LVN_ITEMCHANGED:
                show_selected_row_detail(ui());
                break;
            case LVN_COLUMNCLICK:
                sort_results_by_column(ui(), reinterpret_cast<NMLISTVIEW*>(lparam)->iSubItem);
                break;
            case NM_DBLCLK:
            case NM_RETURN:
                open_list_item(window);
                break;
            default:
                break;
        }
    });
    return result;
}

// Timer 1: the live speed tile of the running transfer direction, and the window icon as a
// gauge of its last sample against the node's rate cap.
void on_transfer_gauge_tick(HWND window) {
    if ((transfer_phase != 1 && transfer_phase != 2) || session_cancel_flag.load()) return;
    MainWindowState& state = ui();
    const double cap = static_cast<double>(live_traffic.rate_cap.load()) / 1'000'000.0;
    const int direction = transfer_phase - 1;
    update_app_traffic_series(state, direction, read_live_progress(live_traffic, direction), cap);
    const auto& series =
        direction == 0 ? state.summary.download_series : state.summary.upload_series;
    if (!series.empty() && cap > 0.0) {
        const double share = std::clamp(series.back().mbps / cap, 0.0, 1.0);
        set_status_icon(window, static_cast<int>(std::lround(share * 20.0)));
    }
}

// Timer 2: the samples a target run gathered since the last tick, added to the live table.
void on_live_samples_tick() {
    if (live_target_page == 0 || session_cancel_flag.load()) return;
    nlohmann::json taken;
    {
        std::lock_guard lock(live_samples_mutex);
        std::swap(taken, live_samples);
    }
    if (taken.empty()) return;
    if (!shown_samples.is_array()) shown_samples = nlohmann::json::array();
    for (auto& sample : taken) shown_samples.push_back(std::move(sample));
    TableModel table = live_view_hop_table ? build_mtr_hop_table(shown_samples, {})
                                           : build_icmp_latency_table(shown_samples);
    table.title = L"Pomiar w toku · zebrane próbki: " + std::to_wstring(shown_samples.size());
    apply_table_model(ui(), std::move(table));
}

// Timer 3: the per-process traffic table while a monitored full test runs and page 2 is on show.
void on_process_traffic_tick() {
    if (!traffic_monitor || !measurement_running || ui().current_page != 2 ||
        session_cancel_flag.load()) {
        return;
    }
    const auto& build = app_services().build_traffic_table;
    if (!build) return;
    apply_table_model(ui(), build(*traffic_monitor, true, traffic_status_text));
}

void on_timer(HWND window, WPARAM id) {
    guarded([&] {
        switch (id) {
            case timer_transfer_gauge:
                on_transfer_gauge_tick(window);
                break;
            case timer_live_samples:
                on_live_samples_tick();
                break;
            case timer_process_traffic:
                on_process_traffic_tick();
                break;
            default:
                break;
        }
    });
}

// The end of a target run: navigation and tools back, the page's result and its names.
void finish_target_run(HWND window) {
    MainWindowState& state = ui();
    KillTimer(window, timer_live_samples);
    const int page = live_target_page;
    live_target_page = 0;
    enable_navigation(window);
    enable_control(window, summary_button_id, true);
    set_busy_state(state, false, !api_token.empty(), !technical_report_text.empty());
    set_tool_controls_enabled(state, true);
    if (current_report.is_object()) {
        nlohmann::json& result = last_results[static_cast<std::size_t>(page - 6)];
        result = std::move(current_report);
        current_report = nullptr;
        if (page == 6) game_result_shown = true;
        apply_table_model(state, measurement_view_status(page, result,
                                                         responder_lookup.shown_responder_names));
        show_sync_status(state, result);
        start_responder_lookup(window, page, result);
    } else {
        // A run that ended without a report (a name that does not resolve, a game target with
        // no allowed address) leaves no measurement in this view: the "Pomiar w toku" the start
        // put into the status line goes with it.
        show_sync_status(state, nullptr);
    }
    if (!last_error_text.empty()) {
        set_view_message(state, L"Pomiar lub zapis nie powiódł się · " + last_error_text);
    }
    if (page == 6) {
        const int profile_index = static_cast<int>(
            SendDlgItemMessageW(window, target_profile_combo_id, CB_GETCURSEL, 0, 0));
        const nlohmann::json& profile = selected_game_profile(game_catalog, profile_index);
        const LRESULT region =
            SendDlgItemMessageW(window, game_server_combo_id, CB_GETCURSEL, 0, 0);
        if (profile.is_object() && profile.contains("regions") && profile["regions"].is_array() &&
            region >= 0 && static_cast<std::size_t>(region) < profile["regions"].size()) {
            SendDlgItemMessageW(window, target_edit_id, EM_SETREADONLY, TRUE, 0);
        }
    }
    shown_samples = nlohmann::json::array();
    std::lock_guard lock(live_samples_mutex);
    live_samples = nlohmann::json::array();
}

// The end of a full test or of the start-up report load: the dashboard and the report texts.
void finish_full_test(HWND window, bool was_loading, bool token_changed) {
    MainWindowState& state = ui();
    enable_navigation(window);
    // The start-up load found neither a report nor a failure, as on a first start: nothing on
    // show changes but what the load disabled and its status line, so the page is not rebuilt.
    if (was_loading && !current_report.is_object() && last_error_text.empty() && !token_changed) {
        set_busy_state(state, false, !api_token.empty(), !technical_report_text.empty());
        if (!state.status_message.empty()) set_status_message(state, L"");
        return;
    }
    std::wstring status;
    try {
        if (current_report.is_object()) {
            simple_report_text = to_wide(render_session_summary(current_report));
            const auto& technical_text = app_services().throughput_report_text;
            technical_report_text = technical_text ? technical_text(current_report) : L"";
            SummaryModel summary = build_results_view(current_report);
            last_diagnostics_report = std::move(current_report);
            current_report = nullptr;
            if (!last_error_text.empty()) {
                summary.sync_text = L"Błąd zapisu lokalnego";
                status = L"Sprawdź szczegóły zapisu raportu";
                technical_report_text += L"\r\nBłąd zapisu lokalnego: " + last_error_text;
            }
            apply_summary_model(state, summary);
        } else if (!last_error_text.empty()) {
            status = was_loading ? L"Poprzedni raport jest niedostępny"
                                 : L"Nie udało się zakończyć testu";
            simple_report_text = L"Sprawdź połączenie i adres serwera, a następnie powtórz test.";
            technical_report_text =
                L"Serwer: " + shown_server_origin() + L"\r\nPrzyczyna: " + last_error_text;
        }
    } catch (const std::exception& error) {
        status = L"Nie udało się odczytać raportu";
        technical_report_text = to_wide(error.what());
    }
    set_busy_state(state, false, !api_token.empty(), !technical_report_text.empty());
    set_status_message(state, status);
    if (state.current_page != 0 && !report_text_shown) show_page(window, state.current_page);
}

void on_job_finished(HWND window) {
    KillTimer(window, timer_process_traffic);
    join(job_slot);
    // The job kept the client token it used; it becomes the window's only now that the job has
    // ended, so no job writes the token while the window reads it.
    bool token_changed = false;
    if (!job_api_token.empty()) {
        token_changed = job_api_token != api_token;
        api_token = job_api_token;
        job_api_token.clear();
    }
    const bool was_loading = last_report_loading;
    // The start-up load leaves what it found for the window to take over, its token included.
    if (was_loading && take_last_reports(std::exchange(loaded_last_reports, LastReports{}))) {
        token_changed = true;
    }
    last_report_loading = false;
    measurement_running = false;
    KillTimer(window, timer_transfer_gauge);
    set_status_icon(window, -1);
    transfer_phase = 0;
    if (close_when_idle(window)) return;
    if (live_target_page >= 6 && live_target_page <= 8) {
        finish_target_run(window);
    } else {
        finish_full_test(window, was_loading, token_changed);
    }
}

void on_phase_changed(HWND window, WPARAM index) {
    if (index >= phase_table.size()) return;
    const std::wstring text(phase_table[index].text);
    if (traffic_monitor) traffic_status_text = text;
    if (!measurement_running || session_cancel_flag.load()) return;
    stop_live_timer(window);
    set_status_message(ui(), text);
    if (index == 1 || index == 2) {
        transfer_phase = static_cast<std::int32_t>(index);
        SetTimer(window, timer_transfer_gauge, 200, nullptr);
    }
}

void on_catalog_ready(HWND window, std::unique_ptr<CatalogResult> result) {
    join(catalog_slot);
    catalog_refresh_running = false;
    if (result) {
        game_catalog = std::move(result->catalog);
        catalog_source_text = std::move(result->source_text);
    }
    // A close waits for the update job too; until that ends the games page may still refresh.
    if (close_requested && !update_running) {
        close_when_idle(window);
        return;
    }
    MainWindowState& state = ui();
    if (state.current_page != 6 || main_job_running()) return;
    fill_profile_list(window);
    if (!last_results[0].is_object()) {
        game_choice_view(window);
    } else {
        set_view_message(state, measurement_view_status(6, last_results[0],
                                                        responder_lookup.shown_responder_names)
                                    .title);
    }
    enable_control(window, run_target_button_id, !main_job_running());
}

void on_repeat_round_done() {
    shown_samples = nlohmann::json::array();
    std::lock_guard lock(live_samples_mutex);
    live_samples = nlohmann::json::array();
}

void on_update_check_done(HWND window) {
    join(update_slot);
    update_running = false;
    update_download_mode = false;
    available_release = std::move(update_result.release);
    update_result.release.reset();
    update_ready = update_result.installed;
    update_status_text = std::move(update_result.message);
    update_result.message.clear();
    if (close_when_idle(window)) return;
    const int page = ui().current_page;
    if (page == 11) show_page(window, 11);
    if (page == 4) update_button_states(window);
    if (update_ready) {
        // The staged release takes over after the same orderly close as any other.
        PostMessageW(window, WM_CLOSE, 0, 0);
    } else if (available_release) {
        SetWindowTextW(window, L"Tarvisko — aktualizacja dostępna w Ustawieniach");
    }
}

void on_view_reading_ready(HWND window, int page, std::unique_ptr<ViewReading> reading) {
    join(view_collection_slot);
    collecting_view = 0;
    if (close_when_idle(window) || !reading) return;
    MainWindowState& state = ui();
    const bool wifi = reading->wifi.has_value();
    if (wifi) {
        apply_wifi_baseline(wifi_comparison_state(), reading->mode, *reading->wifi);
        shown_wifi_reading = std::move(*reading->wifi);
    }
    if (state.current_page == page) {
        if (wifi) {
            TableModel table = shown_wifi_reading.table;
            apply_table_model(state, std::move(table));
            apply_wifi_scan(state, shown_wifi_reading.chart);
            apply_wifi_recommendation(state, shown_wifi_reading.card);
            apply_wifi_comparison(state, wifi_compare_card);
        } else {
            apply_table_model(state, std::move(reading->table));
        }
        enable_control(window, refresh_reading_button_id, true);
    } else if (pending_view_page == state.current_page && pending_view_page >= 2 &&
               pending_view_page <= 4) {
        // The user moved on while this page was read: run the latest request of the page now
        // on show.
        start_view_collection(window, pending_view_page, pending_view_mode);
    }
    if (state.current_page == 4) update_button_states(window);
}

void on_responder_names_ready(HWND window) {
    join(responder_lookup_slot);
    take_responder_names(responder_lookup, std::move(responder_names));
    responder_names = {};
    MainWindowState& state = ui();
    const int page = state.current_page;
    if (close_requested || measurement_running || report_text_shown || page < 6 || page > 8 ||
        responder_lookup.responder_session_id.empty()) {
        return;
    }
    const nlohmann::json& result = view_result_slot(page, last_results, last_diagnostics_report);
    switch (responder_names_follow_up(responder_lookup, report_session_id(result))) {
        case ResponderNamesFollowUp::rebuild_view:
            apply_table_model(state, measurement_view_status(
                                         page, result, responder_lookup.shown_responder_names));
            break;
        case ResponderNamesFollowUp::lookup_again:
            start_responder_lookup(window, page, result);
            break;
        case ResponderNamesFollowUp::none:
            break;
    }
}

LRESULT handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MainWindowState& state = ui();
    switch (message) {
        case WM_CREATE:
            return on_create(window);
        case WM_DESTROY:
            destroy_window_resources(state);
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            if (wparam != SIZE_MINIMIZED) layout_main_window(state);
            return 0;
        case WM_CLOSE:
            on_close(window);
            return 0;
        case WM_ERASEBKGND:
            paint_window_background(state, reinterpret_cast<HDC>(wparam));
            return 1;
        case WM_GETMINMAXINFO:
            on_min_max_info(window, *reinterpret_cast<MINMAXINFO*>(lparam));
            return 0;
        case WM_NEXTDLGCTL:
            on_next_dialog_control(window, wparam, lparam);
            return 0;
        case WM_DRAWITEM:
            return draw_owner_drawn_control(state, *reinterpret_cast<DRAWITEMSTRUCT*>(lparam))
                       ? TRUE
                       : FALSE;
        case WM_NOTIFY:
            return on_notify(window, wparam, lparam);
        case WM_COMMAND:
            guarded([&] {
                handle_command(window, LOWORD(wparam), HIWORD(wparam),
                               reinterpret_cast<HWND>(lparam));
            });
            return 0;
        case WM_TIMER:
            on_timer(window, wparam);
            return 0;
        case WM_VSCROLL:
            scroll_content(state, LOWORD(wparam));
            return 0;
        case WM_CTLCOLORSTATIC:
            return on_control_colour(reinterpret_cast<HWND>(lparam), reinterpret_cast<HDC>(wparam));
        case WM_MOUSEWHEEL:
            // One line per message whatever the delta, in the direction of its sign.
            scroll_content(state, GET_WHEEL_DELTA_WPARAM(wparam) <= 0 ? SB_LINEDOWN : SB_LINEUP);
            return 0;
        case WM_DPICHANGED:
            on_dpi_changed(window, wparam, *reinterpret_cast<const RECT*>(lparam));
            return 0;
        case job_finished:
            guarded([&] { on_job_finished(window); });
            return 0;
        case run_phase_changed:
            guarded([&] { on_phase_changed(window, wparam); });
            return 0;
        case catalog_ready: {
            // The payload is ours from here on, whatever happens below.
            std::unique_ptr<CatalogResult> result(reinterpret_cast<CatalogResult*>(lparam));
            guarded([&] { on_catalog_ready(window, std::move(result)); });
            return 0;
        }
        case repeat_round_done:
            on_repeat_round_done();
            return 0;
        case update_check_done:
            guarded([&] { on_update_check_done(window); });
            return 0;
        case view_reading_ready: {
            std::unique_ptr<ViewReading> reading(reinterpret_cast<ViewReading*>(lparam));
            guarded([&] {
                on_view_reading_ready(window, static_cast<int>(wparam), std::move(reading));
            });
            return 0;
        }
        case responder_names_ready:
            guarded([&] { on_responder_names_ready(window); });
            return 0;
        case report_list_ready: {
            std::unique_ptr<ReportListReading> reading(reinterpret_cast<ReportListReading*>(lparam));
            guarded([&] { take_report_list_reading(window, std::move(reading)); });
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

void guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        set_view_message(main_window_state, to_wide(error.what()));
    }
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // The last guard: nothing may unwind into the system's frames. A window that cannot be built
    // fails its creation.
    try {
        return handle_message(window, message, wparam, lparam);
    } catch (...) {
        return message == WM_CREATE ? -1 : 0;
    }
}

bool register_main_window_class(HINSTANCE instance) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = 0;
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = nullptr;  // the window paints its own background
    window_class.lpszClassName = main_window_class;
    return RegisterClassExW(&window_class) != 0;
}

}  // namespace tarvisko
