#include "app/services.h"

#include <shellapi.h>

#include "app/report_commands.h"
#include "games/catalog.h"
#include "readings/computer_state.h"
#include "readings/lan_devices.h"
#include "readings/reverse_dns.h"
#include "readings/router_identity.h"
#include "readings/wifi_reading.h"
#include "results/technical_report.h"
#include "traffic/traffic_control.h"
#include "traffic/traffic_table.h"
#include "update/release.h"
#include "update/staging.h"

namespace tarvisko {

AppServices product_services() {
    AppServices services;
    services.run_desktop_test = [](const std::atomic<bool>& cancel, const PhaseCallback& phase,
                                   LiveTraffic& live) {
        return run_desktop_test(cancel, phase, live);
    };
    services.run_target_probe = [](const TargetRunRequest& request,
                                   const std::atomic<bool>& cancel,
                                   const SampleCallback& callback) {
        return run_target_probe(request, cancel, callback);
    };

    // The previous table's rows follow the live rows of the computer page.
    services.computer_state_view = [](const TableModel& previous) {
        return computer_state_view(previous);
    };
    services.lan_devices_view = [] { return lan_devices_view(); };
    services.read_wifi_environment = [](bool detailed) { return read_wifi_environment(detailed); };
    services.resolve_router_panel = [] { return resolve_router_panel(); };
    services.resolve_ptr_names = [](const std::vector<std::string>& addresses,
                                    std::stop_token stop) {
        return resolve_ptr_names(addresses, stop);
    };

    services.create_traffic_view = [] { return create_traffic_view(); };
    services.start_traffic_counter = [](TrafficView& view, HWND owner) {
        return start_traffic_counter(view, owner);
    };
    services.arm_traffic_counter = [](TrafficView& view, const nlohmann::json& reservation) {
        arm_traffic_counter(view, reservation);
    };
    services.stop_traffic_counter = [](TrafficView& view) { stop_traffic_counter(view); };
    services.build_traffic_table = [](TrafficView& view, bool live, const std::wstring& label) {
        return build_traffic_table(view, live, label);
    };

    services.load_release_description = [](const std::wstring& origin) {
        return load_release_description(origin);
    };
    services.install_update = [](const ReleaseInfo& release, const std::wstring& origin) {
        install_update(release, origin);
    };
    services.sweep_update_staging = [] { sweep_update_staging(); };

    services.refresh_game_catalog_job = [](HWND window, const std::wstring& origin) {
        refresh_game_catalog_job(window, origin);
    };

    services.throughput_report_text = [](const nlohmann::json& report) {
        return throughput_report_text(report);
    };
    services.diagnostic_report_text = diagnostic_report_text;
    services.export_report = export_report;
    services.compare_mtr_runs = compare_mtr_runs;
    services.open_archived_report = open_archived_report;

    services.shell_execute = [](HWND window, const wchar_t* verb, const wchar_t* file) {
        return ShellExecuteW(window, verb, file, nullptr, nullptr, SW_SHOWNORMAL);
    };
    services.start_job_thread = [](JobSlot& slot, std::function<void(std::stop_token)> job) {
        start_job(slot, std::move(job));
    };
    return services;
}

AppServices& app_services() {
    static AppServices services = product_services();
    return services;
}

}  // namespace tarvisko
