#include "app/start_runs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <span>
#include <utility>

#include "app/app_state.h"
#include "app/cards.h"
#include "app/controls.h"
#include "app/jobs.h"
#include "app/messages.h"
#include "app/results_list.h"
#include "app/services.h"
#include "app/status_texts.h"
#include "engine/common/text.h"
#include "games/choice_page.h"
#include "results/dashboard.h"
#include "results/hop_table.h"
#include "results/icmp_table.h"

namespace tarvisko {

namespace {

// The table entry at a combo's selection: none selected counts as the first entry, one past the
// end as the last.
std::uint32_t pick(int selection, std::span<const std::uint32_t> table) {
    const int last = static_cast<int>(table.size()) - 1;
    return table[static_cast<std::size_t>(std::clamp(selection, 0, last))];
}

constexpr std::array<std::uint32_t, 3> round_counts{20, 100, 300};
constexpr std::array<std::uint32_t, 3> hop_limits{8, 16, 32};
constexpr std::array<std::uint32_t, 3> intervals{100, 500, 1000};
constexpr std::array<std::uint32_t, 5> monitoring_lengths{60, 300, 900, 1800, 3600};
// "Do zatrzymania": rounds of 300 probes until the user stops.
constexpr int until_stopped_selection = 5;
constexpr std::uint32_t until_stopped_round = 300;
// "Trasa MTR" among the game test kinds.
constexpr int game_route_selection = 1;

int combo_selection(HWND combo) {
    if (combo == nullptr) return -1;
    return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
}

void enable_control(HWND control, bool enabled) {
    if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}

void enable_navigation(MainWindowState& state, bool enabled) {
    for (HWND button : state.nav_buttons) enable_control(button, enabled);
}

TargetPageInputs read_target_page(const MainWindowState& state) {
    TargetPageInputs inputs;
    inputs.page = state.current_page;
    inputs.target = get_window_text(state.target_edit);
    inputs.combo_313 = combo_selection(state.target_profile_combo);
    inputs.combo_314 = combo_selection(state.method_combo);
    inputs.combo_316 = combo_selection(state.game_server_combo);
    inputs.combo_317 = combo_selection(state.max_hops_combo);
    inputs.combo_318 = combo_selection(state.interval_combo);
    inputs.combo_324 = combo_selection(state.address_family_combo);
    inputs.combo_327 = combo_selection(state.game_mode_combo);
    inputs.combo_328 = combo_selection(state.game_length_combo);
    inputs.profile_text = get_window_text(state.target_profile_combo);
    return inputs;
}

}  // namespace

std::optional<TargetRunRequest> target_run_request(const TargetPageInputs& inputs,
                                                   const nlohmann::json& profile) {
    TargetRunRequest request;
    try {
        request.target = to_utf8(inputs.target);
    } catch (const std::exception&) {
        // An unpaired surrogate names no host: the same as no target at all.
        return std::nullopt;
    }
    if (request.target.empty()) return std::nullopt;

    switch (inputs.page) {
        case 6: {
            const bool route = inputs.combo_327 == game_route_selection;
            request.purpose = "gaming";
            request.profile_name = reading_to_utf8(inputs.profile_text);
            request.protocol = "icmp";
            request.echo = !route;
            request.attempts = pick(inputs.combo_328, round_counts);
            request.max_ttl = route ? 16 : 64;
            request.interval_ms = route ? 100 : 1000;
            if (const std::optional<GameRunRegion> region =
                    game_run_region(profile, inputs.combo_316)) {
                request.region = region->label;
                request.target_kind = region->kind;
            }
            break;
        }
        case 7:
            request.purpose = "mtr";
            request.profile_name = "MTR";
            request.protocol = inputs.combo_314 == 1 ? "tcp" : "icmp";
            request.echo = false;
            request.attempts = pick(inputs.combo_313, round_counts);
            request.max_ttl = pick(inputs.combo_317, hop_limits);
            request.interval_ms = pick(inputs.combo_318, intervals);
            request.family = inputs.combo_324 == 1 ? 4 : inputs.combo_324 == 2 ? 6 : 0;
            break;
        case 8:
            request.purpose = "monitor";
            request.profile_name = "Monitoring";
            request.protocol = "icmp";
            request.echo = true;
            request.repeat = inputs.combo_313 == until_stopped_selection;
            request.attempts = request.repeat ? until_stopped_round
                                              : pick(inputs.combo_313, monitoring_lengths);
            request.max_ttl = 64;
            request.interval_ms = 1000;
            break;
        default:
            return std::nullopt;
    }
    return request;
}

void run(HWND window, bool monitor_traffic) {
    MainWindowState& state = main_window_state;
    AppServices& services = app_services();
    if (!services.run_desktop_test) return;

    TrafficViewPtr view{nullptr, nullptr};
    if (monitor_traffic && services.create_traffic_view) view = services.create_traffic_view();
    traffic_monitor = std::move(view);
    TrafficView* const monitor = traffic_monitor.get();
    if (monitor != nullptr) {
        live_traffic.local_address_callback = [monitor](const nlohmann::json& reservation) {
            run_reservation_callback(monitor, reservation);
        };
    } else {
        live_traffic.local_address_callback = nullptr;
    }
    reset_live_progress(live_traffic);
    live_traffic.capacity = is_first_choice_selected(state);

    measurement_running = true;
    session_cancel_flag.store(false);
    report_text_shown = false;
    report_text_technical = false;
    current_report = nullptr;
    last_error_text.clear();
    simple_report_text.clear();
    technical_report_text.clear();
    job_api_token = api_token;

    enable_navigation(state, false);
    if (monitor != nullptr) {
        traffic_status_text = L"Uruchamianie testu";
        TableModel table = services.build_traffic_table
                               ? services.build_traffic_table(*monitor, true, traffic_status_text)
                               : TableModel{};
        show_table_page(state, 2, std::move(table));
        if (state.stop_reading_button != nullptr) {
            SetWindowTextW(state.stop_reading_button, L"Zatrzymaj pomiar");
        }
        SetTimer(window, timer_process_traffic, 1000, nullptr);
    } else {
        show_summary_page(state);
    }
    apply_summary_model(state, build_results_view(nullptr));
    set_busy_state(state, true, false, false);
    set_status_message(state, monitor != nullptr ? L"Oczekiwanie na licznik ruchu Windows…"
                                                 : L"Łączenie z serwerem…");
    SetFocus(monitor != nullptr ? state.stop_reading_button : state.stop_button);

    start_window_job(
        job_slot, [window, monitor](std::stop_token) { run_job_thread(window, monitor); },
        [&] {
            KillTimer(window, timer_process_traffic);
            measurement_running = false;
            enable_navigation(state, true);
            set_busy_state(state, false, !api_token.empty(), !technical_report_text.empty());
        });
}

void launch_route(HWND window) {
    MainWindowState& state = main_window_state;
    AppServices& services = app_services();
    const int page = state.current_page;
    if (page < 6 || page > 8 || measurement_running || last_report_loading) return;
    if (!services.run_target_probe) return;

    const TargetPageInputs inputs = read_target_page(state);
    const nlohmann::json& profile =
        page == 6 ? selected_game_profile(game_catalog, inputs.combo_313) : nlohmann::json();
    std::optional<TargetRunRequest> request = target_run_request(inputs, profile);
    if (!request) {
        set_view_message(state, L"Wpisz pojedynczy adres IP lub nazwę DNS.");
        if (state.target_edit != nullptr) SetFocus(state.target_edit);
        return;
    }

    responder_lookup.responder_session_id.clear();
    live_view_hop_table = !request->echo;
    measurement_running = true;
    session_cancel_flag.store(false);
    live_target_page = page;
    last_error_text.clear();
    job_api_token = api_token;
    current_report = nullptr;
    shown_samples = nlohmann::json::array();
    live_samples = nlohmann::json::array();

    TableModel table = live_view_hop_table ? build_mtr_hop_table(shown_samples, {})
                                           : build_icmp_latency_table(shown_samples);
    apply_table_model(state, std::move(table));
    set_tool_controls_enabled(state, false);
    set_busy_state(state, true, false, false);
    set_report_summary(state, L"Pomiar w toku", false);
    set_view_message(state, L"Ustalanie adresu celu…");
    SetTimer(window, timer_live_samples, 400, nullptr);
    enable_navigation(state, false);
    enable_control(state.summary_button, false);

    start_window_job(
        job_slot,
        [window, request = std::move(*request)](std::stop_token stop) {
            launch_route_job_thread(stop, window, request);
        },
        [&] {
            KillTimer(window, timer_live_samples);
            measurement_running = false;
            live_target_page = 0;
            enable_navigation(state, true);
            enable_control(state.summary_button, true);
            set_tool_controls_enabled(state, true);
            set_busy_state(state, false, !api_token.empty(), !technical_report_text.empty());
            show_sync_status(state, nullptr);
        });
}

}  // namespace tarvisko
