#include "shell_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/config.h"
#include "app/details_window.h"
#include "app/jobs.h"
#include "app/services.h"
#include "app/window_proc.h"
#include "readings/wifi_comparison.h"

namespace tarvisko::test {

void reset_shell_state() {
    stop_and_join_all_jobs();
    if (details_window != nullptr) DestroyWindow(details_window);
    current_report = nullptr;
    last_diagnostics_report = nullptr;
    last_results = {};
    live_samples = nlohmann::json::array();
    shown_samples = nlohmann::json::array();
    game_catalog = nullptr;
    api_token.clear();
    job_api_token.clear();
    last_error_text.clear();
    simple_report_text.clear();
    technical_report_text.clear();
    traffic_status_text.clear();
    catalog_source_text.clear();
    update_status_text = L"Sprawdzanie dostępnej wersji…";
    update_result = {};
    available_release.reset();
    responder_names = {};
    responder_lookup = {};
    traffic_monitor.reset();
    favorite_target_list.clear();
    shown_wifi_reading = WifiReading{};
    details_chart.reset();
    wifi_baseline_snapshot.reset();
    wifi_after_snapshot.reset();
    wifi_compare_card = wifi_compare_initial_card();
    wifi_baseline_loaded = false;
    reset_live_progress(live_traffic);
    main_window_state = ui_state_init();
    icon_level = 0;
    session_cancel_flag = false;
    measurement_running = false;
    last_report_loading = false;
    close_requested = false;
    update_running = false;
    update_download_mode = false;
    update_ready = false;
    catalog_refresh_running = false;
    report_text_shown = false;
    report_text_technical = false;
    live_view_hop_table = false;
    game_result_shown = false;
    collecting_view = 0;
    pending_view_page = 0;
    pending_view_mode = 0;
    live_target_page = 0;
    transfer_phase = 0;
    report_text_view = 0;
}

SavedPlacementGuard::SavedPlacementGuard() : old_(read()) {}

SavedPlacementGuard::~SavedPlacementGuard() {
    if (old_) {
        RegSetKeyValueW(HKEY_CURRENT_USER, placement_key, placement_value, REG_BINARY,
                        old_->data(), static_cast<DWORD>(old_->size()));
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, placement_key, placement_value);
    }
}

std::optional<std::vector<BYTE>> SavedPlacementGuard::read() {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, placement_key, placement_value, RRF_RT_REG_BINARY,
                     nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<BYTE> data(size);
    if (RegGetValueW(HKEY_CURRENT_USER, placement_key, placement_value, RRF_RT_REG_BINARY,
                     nullptr, data.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    data.resize(size);
    return data;
}

ShellWindow::ShellWindow() {
    reset_shell_state();
    // No service reaches out; jobs still get real threads.
    AppServices services;
    services.start_job_thread = product_services().start_job_thread;
    app_services() = services;
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
        InitCommonControlsEx(&controls);
        return register_main_window_class(GetModuleHandleW(nullptr));
    }();
    EXPECT_TRUE(registered);
    window = CreateWindowExW(0, main_window_class, L"Tarvisko", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                             0, 0, 1200, 800, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(window, nullptr) << "error " << GetLastError();
    ShowWindow(window, SW_SHOWNORMAL);
    // The start-up load of the last reports ends with WM_APP+1.
    EXPECT_TRUE(pump_until([] { return !last_report_loading; }));
}

ShellWindow::~ShellWindow() {
    if (IsWindow(window)) DestroyWindow(window);
    pump_until([] { return true; });
    reset_shell_state();
    app_services() = product_services();
}

void ShellWindow::command(int id, int notification) const {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, notification),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

std::wstring list_cell(HWND list, int row, int column) {
    wchar_t buffer[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

std::wstring ShellWindow::control_text(int id) const {
    HWND control = GetDlgItem(window, id);
    const int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), length + 1)));
    return text;
}

}  // namespace tarvisko::test
