#pragma once
// The functions of the engine and of the other subsystems that the window's jobs and commands
// call, gathered in one table so that tests can put fakes in their place. The product's table
// holds the real functions (app_services() starts filled); an empty entry makes the start or
// command that needs it do nothing.
#include <windows.h>

#include <atomic>
#include <functional>
#include <nlohmann/json.hpp>
#include <stop_token>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "engine/runs/desktop_test.h"
#include "engine/runs/target_run.h"
#include "readings/wifi_reading.h"
#include "results/responder_names.h"
#include "results/table_model.h"
#include "update/release.h"

namespace tarvisko {

struct AppServices {
    // Diagnostics engine.
    std::function<nlohmann::json(const std::atomic<bool>& cancel, const PhaseCallback& phase,
                                 LiveTraffic& live)>
        run_desktop_test;
    std::function<nlohmann::json(const TargetRunRequest& request, const std::atomic<bool>& cancel,
                                 const SampleCallback& callback)>
        run_target_probe;

    // Local readings: the computer page (with the previous table as the first sample), the LAN
    // page, the Wi-Fi page, the router panel address, the PTR names of route responders.
    std::function<TableModel(const TableModel& previous)> computer_state_view;
    std::function<TableModel()> lan_devices_view;
    std::function<WifiReading(bool detailed)> read_wifi_environment;
    std::function<std::wstring()> resolve_router_panel;
    std::function<ResponderNameMap(const std::vector<std::string>& addresses, std::stop_token stop)>
        resolve_ptr_names;

    // Per-process traffic.
    std::function<TrafficViewPtr()> create_traffic_view;
    std::function<bool(TrafficView& view, HWND owner)> start_traffic_counter;
    std::function<void(TrafficView& view, const nlohmann::json& reservation)> arm_traffic_counter;
    std::function<void(TrafficView& view)> stop_traffic_counter;
    std::function<TableModel(TrafficView& view, bool live, const std::wstring& label)>
        build_traffic_table;

    // Self-update.
    std::function<ReleaseInfo(const std::wstring& origin)> load_release_description;
    std::function<void(const ReleaseInfo& release, const std::wstring& origin)> install_update;
    std::function<void()> sweep_update_staging;

    // Game catalogue refresh job body (posts catalog_ready).
    std::function<void(HWND window, const std::wstring& origin)> refresh_game_catalog_job;

    // Report texts of a full test (the technical text), built from the report.
    std::function<std::wstring(const nlohmann::json& report)> throughput_report_text;
    // Window halves of the report commands: 105 on pages 6-8, 319, 329, 330 and the list's
    // Enter or double click on pages 9 and 10.
    std::function<void(HWND window, int page, bool technical)> diagnostic_report_text;
    std::function<void(HWND window)> export_report;
    std::function<void(HWND window)> compare_mtr_runs;
    std::function<void(HWND window)> open_archived_report;
    // ShellExecuteW (a seam: tests must not open a browser or resmon).
    std::function<HINSTANCE(HWND window, const wchar_t* verb, const wchar_t* file)> shell_execute;

    // Puts a job's thread into its slot (start_job; a seam: tests make the thread creation fail
    // with std::system_error, as it does when the system has no thread to give).
    std::function<void(JobSlot& slot, std::function<void(std::stop_token)> job)> start_job_thread;
};

// The program's table; filled with the real functions at first use.
AppServices& app_services();
// A table with every real function in place.
AppServices product_services();

}  // namespace tarvisko
