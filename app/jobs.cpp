#include "app/jobs.h"

#include <windows.h>

#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "app/cards.h"
#include "app/config.h"
#include "app/messages.h"
#include "app/services.h"
#include "app/status_texts.h"
#include "engine/common/text.h"
#include "engine/common/version.h"
#include "results/report_details.h"
#include "results/report_files.h"
#include "update/failure_text.h"
#include "update/release.h"

namespace tarvisko {

std::wstring job_api_token;
LastReports loaded_last_reports;

namespace {

void set_engine_variable(const wchar_t* name, const std::wstring& value) {
    SetEnvironmentVariableW(name, value.c_str());
}

void enable_control(HWND control, bool enabled) {
    if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}

// How long one WM_APP+4 waits for the window before the job looks again whether it should give
// up: short enough that a window thread joining the job is never held for long.
constexpr UINT round_done_wait_ms = 200;

// Sends repeat_round_done and waits until the window has emptied its live tables. Gives up (and
// returns false) once the job is asked to stop, the run is cancelled or the window is gone: the
// window thread may then be joining this job and would never take the message.
bool send_round_done(std::stop_token stop, HWND window) {
    for (;;) {
        if (stop.stop_requested() || session_cancel_flag.load() || !IsWindow(window)) {
            return false;
        }
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, repeat_round_done, 0, 0, SMTO_NORMAL, round_done_wait_ms,
                                &result) != 0) {
            return true;
        }
    }
}

}  // namespace

bool start_window_job(JobSlot& slot, std::function<void(std::stop_token)> job,
                      const std::function<void()>& undo) {
    try {
        AppServices& services = app_services();
        if (services.start_job_thread) {
            services.start_job_thread(slot, std::move(job));
        } else {
            start_job(slot, std::move(job));
        }
        return true;
    } catch (const std::system_error& error) {
        if (undo) undo();
        set_view_message(main_window_state, to_wide(error.what()));
        return false;
    }
}

void run_phase_callback(HWND window, const std::string& phase_name) {
    const std::optional<int> index = phase_index(phase_name);
    if (index) PostMessageW(window, run_phase_changed, static_cast<WPARAM>(*index), 0);
}

void run_reservation_callback(TrafficView* traffic_view, const nlohmann::json& reservation) {
    AppServices& services = app_services();
    if (traffic_view != nullptr && services.arm_traffic_counter) {
        services.arm_traffic_counter(*traffic_view, reservation);
    }
}

void launch_route_sample_callback(const nlohmann::json& sample) {
    std::lock_guard lock(live_samples_mutex);
    if (live_samples.is_null()) live_samples = nlohmann::json::array();
    live_samples.push_back(sample);
}

void run_job_thread(HWND window, TrafficView* traffic_view) {
    AppServices& services = app_services();
    try {
        const std::wstring origin = server_origin();
        if (origin.empty()) throw std::runtime_error("central_server_not_configured");
        // A refused counter only changes the traffic table's text: the test goes on.
        if (traffic_view != nullptr && services.start_traffic_counter) {
            services.start_traffic_counter(*traffic_view, window);
        }
        if (session_cancel_flag.load()) throw std::runtime_error("cancelled");
        job_api_token = token_credential(origin, true);
        const std::filesystem::path data_folder = data_directory(origin, job_api_token);
        set_engine_variable(L"QUORVEL_API_ORIGIN", origin);
        set_engine_variable(L"QUORVEL_NODE_ORIGIN", origin);
        set_engine_variable(L"QUORVEL_TOKEN", job_api_token);
        set_engine_variable(L"QUORVEL_QUEUE_DIR", data_folder.wstring());
        set_engine_variable(L"QUORVEL_PORTAL_RESERVATION", L"1");
        if (services.run_desktop_test) {
            current_report = services.run_desktop_test(
                session_cancel_flag,
                [window](const std::string& phase) { run_phase_callback(window, phase); },
                live_traffic);
            store_report(data_folder, current_report);
        }
    } catch (const std::exception& error) {
        last_error_text = to_wide(error.what());
    }
    if (traffic_view != nullptr && services.stop_traffic_counter) {
        services.stop_traffic_counter(*traffic_view);
    }
    PostMessageW(window, job_finished, 0, 0);
}

void launch_route_job_thread(std::stop_token stop, HWND window, TargetRunRequest request) {
    AppServices& services = app_services();
    try {
        const std::wstring origin = server_origin();
        job_api_token = token_credential(origin, true);
        const std::filesystem::path data_folder = data_directory(origin, job_api_token);
        set_engine_variable(L"QUORVEL_API_ORIGIN", origin);
        set_engine_variable(L"QUORVEL_TOKEN", job_api_token);
        set_engine_variable(L"QUORVEL_QUEUE_DIR", data_folder.wstring());
        while (services.run_target_probe) {
            current_report =
                services.run_target_probe(request, session_cancel_flag, launch_route_sample_callback);
            const std::string text = current_report.dump();
            const std::filesystem::path reports_folder = data_folder / L"reports";
            std::filesystem::create_directories(reports_folder);
            const std::string session_id = current_report.at("session_id").get<std::string>();
            write_file_atomically(report_archive_path(reports_folder, session_id), text);
            write_file_atomically(data_folder / (L"last-" + to_wide(request.purpose) + L".json"),
                                  text);
            if (!request.repeat || session_cancel_flag.load()) break;
            if (current_report.at("state") != "completed") break;
            if (!send_round_done(stop, window) || session_cancel_flag.load()) break;
        }
    } catch (const std::exception& error) {
        last_error_text = to_wide(error.what());
    }
    PostMessageW(window, job_finished, 0, 0);
}

void open_last_report(HWND window) {
    MainWindowState& state = main_window_state;
    const auto set_controls = [&state](bool enabled) {
        for (HWND button : state.nav_buttons) enable_control(button, enabled);
        enable_control(state.start_button, enabled);
    };
    last_report_loading = true;
    set_controls(false);
    set_status_message(state, L"Odczytywanie ostatniego raportu…");
    start_window_job(
        job_slot,
        [window, held_token = api_token](std::stop_token) {
            load_last_reports_job(window, held_token);
        },
        [&] {
            last_report_loading = false;
            set_controls(true);
            set_status_message(state, L"");
        });
}

void load_last_reports_job(HWND window, std::wstring held_token) {
    const LastReportSources sources{
        server_origin, [](const std::wstring& origin) { return token_credential(origin, false); },
        [](const std::wstring& origin, const std::wstring& credential) {
            return std::filesystem::path(data_directory(origin, credential));
        }};
    loaded_last_reports = read_last_reports(sources, held_token);
    PostMessageW(window, job_finished, 0, 0);
}

bool take_last_reports(LastReports loaded) {
    bool token_changed = false;
    if (loaded.api_token) {
        token_changed = *loaded.api_token != api_token;
        api_token = std::move(*loaded.api_token);
    }
    if (loaded.current_report) current_report = std::move(*loaded.current_report);
    for (std::size_t slot = 0; slot < last_results.size(); ++slot) {
        if (loaded.last_results[slot]) last_results[slot] = std::move(*loaded.last_results[slot]);
    }
    if (loaded.error_text) last_error_text = std::move(*loaded.error_text);
    return token_changed;
}

void start_view_collection(HWND window, int page, int mode) {
    MainWindowState& state = main_window_state;
    AppServices& services = app_services();
    pending_view_page = page;
    pending_view_mode = mode;
    if (collecting_view != 0) return;
    const bool service_present = page == 4   ? static_cast<bool>(services.read_wifi_environment)
                                 : page == 2 ? static_cast<bool>(services.computer_state_view)
                                 : page == 3 ? static_cast<bool>(services.lan_devices_view)
                                             : false;
    if (!service_present) return;

    collecting_view = page;
    enable_control(state.refresh_reading_button, false);
    if (page == 4) {
        update_button_states(window);
        if (mode != 0) {
            apply_wifi_recommendation(
                state, TextCard{L"Trwa ocena kanału", L"Poczekaj na wynik szczegółowego skanu.",
                                L"", 0});
        }
        if (mode == 2 || mode == 3) {
            apply_wifi_comparison(
                state, TextCard{mode == 2 ? L"Zapisuję skan „Przed”" : L"Trwa skan „Po”",
                                L"Poczekaj na świeży odczyt.", L"", 0});
        }
    }
    set_view_message(state, mode != 0 ? L"Skanowanie Wi-Fi i odczyt informacji o routerze…"
                                      : L"Odczytywanie bieżących danych Windows…");
    TableModel previous = build_report_details_table(page, last_diagnostics_report, state.summary);
    start_window_job(
        view_collection_slot,
        [window, page, mode, previous = std::move(previous)](std::stop_token) {
            view_collection_job(window, page, mode, previous);
        },
        [&] {
            collecting_view = 0;
            enable_control(state.refresh_reading_button, true);
            if (page == 4) update_button_states(window);
        });
}

void view_collection_job(HWND window, int page, int mode, TableModel previous) {
    AppServices& services = app_services();
    auto reading = std::make_unique<ViewReading>();
    reading->mode = mode;
    try {
        if (page == 4) {
            reading->wifi = services.read_wifi_environment(mode != 0);
        } else if (page == 2) {
            reading->table = services.computer_state_view(previous);
        } else {
            reading->table = services.lan_devices_view();
        }
    } catch (const std::exception&) {
        reading->table = previous;
        reading->table.title = L"Windows nie udostępnił bieżącego odczytu.";
        if (page == 4) {
            WifiReading fallback;
            fallback.card = TextCard{L"Brak oceny kanału", L"Powtórz szczegółowy skan Wi-Fi.",
                                     L"Windows nie udostępnił bieżącego odczytu.", 0};
            reading->wifi = std::move(fallback);
        }
    }
    if (PostMessageW(window, view_reading_ready, static_cast<WPARAM>(page),
                     reinterpret_cast<LPARAM>(reading.get())) != 0) {
        reading.release();  // the window deletes it
    }
}

void start_update_task(HWND window, bool download) {
    if (update_running || update_ready) return;
    if (!app_services().load_release_description) return;
    // The origin first: a configuration that gives none must leave no job marked as running
    // (the window would never close), and must not stop the window from opening.
    std::wstring origin;
    try {
        origin = server_origin();
    } catch (const std::exception& error) {
        update_status_text = L"Nie udało się ukończyć aktualizacji. " + update_failure_line(error);
        return;
    }
    update_running = true;
    update_download_mode = download;
    const std::wstring previous_text = update_status_text;
    update_status_text =
        download ? L"Pobieranie i weryfikacja pliku…" : L"Sprawdzanie dostępnej wersji…";
    start_window_job(
        update_slot,
        [window, download, origin](std::stop_token) { update_check_job(window, download, origin); },
        [&] {
            update_running = false;
            update_download_mode = false;
            update_status_text = previous_text;
        });
}

void update_check_job(HWND window, bool download, std::wstring origin) {
    AppServices& services = app_services();
    UpdateResult result;
    try {
        const ReleaseInfo release = services.load_release_description(origin);
        if (is_newer_version(release, program_version)) {
            result.release = release;
            const std::wstring version = to_wide(release.version);
            if (download) {
                services.install_update(release, origin);
                result.installed = true;
                result.message = L"Pobrano i zweryfikowano " + version +
                                 L". Ponowne uruchamianie aplikacji…";
            } else {
                result.message = L"Dostępna wersja " + version + L". Wybierz przycisk aktualizacji.";
            }
        } else {
            result.message = L"Masz aktualną wersję aplikacji.";
        }
    } catch (const std::exception& error) {
        result.message = L"Nie udało się ukończyć aktualizacji. " + update_failure_line(error);
    }
    update_result = std::move(result);
    PostMessageW(window, update_check_done, 0, 0);
}

void resolve_ptr_names_job(std::stop_token stop, HWND window, std::string session_id,
                           std::vector<std::string> addresses) {
    responder_names = lookup_responder_names(std::move(session_id), addresses, stop,
                                             app_services().resolve_ptr_names);
    PostMessageW(window, responder_names_ready, 0, 0);
}

void start_responder_lookup(HWND window, int page, const nlohmann::json& report) {
    if (!app_services().resolve_ptr_names) return;
    start_responder_lookup(
        responder_lookup, page, report,
        [window](const std::string& session_id, std::vector<std::string> addresses) {
            start_window_job(
                responder_lookup_slot,
                [window, session_id, addresses = std::move(addresses)](std::stop_token stop) {
                    resolve_ptr_names_job(stop, window, session_id, addresses);
                },
                [] { responder_lookup.lookup_session_id.clear(); });
        });
}

std::wstring value_with_suffix(std::span<const TextCard> cards, std::size_t index,
                               const std::wstring& suffix) {
    if (index >= cards.size()) return L"—";
    const std::wstring& value = cards[index].subtitle;
    return value == L"—" ? value : value + suffix;
}

}  // namespace tarvisko
