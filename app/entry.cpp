#include "app/entry.h"

#include <algorithm>
#include <cstdint>
#include <system_error>

#include "engine/common/system.h"
#include "results/report_files.h"

namespace tarvisko {

namespace {

constexpr std::wstring_view finish_update_switch = L"--finish-update ";
constexpr std::wstring_view process_traffic_switch = L"--process-traffic ";

// The process id after the runner switch: 1 to 10 decimal digits, saturated at the largest
// 32-bit value; 0 for anything else (0 itself is no process either).
std::uint32_t runner_process_id(std::wstring_view digits) {
    if (digits.empty() || digits.size() > 10) {
        return 0;
    }
    std::uint64_t value = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') {
            return 0;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFull));
}

bool is_digest_name(const std::wstring& name) {
    return name.size() == 64 && name.find_first_not_of(L"0123456789abcdef") == std::wstring::npos;
}

}  // namespace

std::vector<std::filesystem::path> own_data_folders() {
    std::vector<std::filesystem::path> folders;
    std::wstring local;
    try {
        local = read_environment_variable(L"LOCALAPPDATA");
    } catch (const std::exception&) {
    }
    if (local.empty()) return folders;
    const std::filesystem::path root = std::filesystem::path(local) / L"QUORVEL" / L"Sondaro";
    folders.push_back(root);
    std::error_code error;
    std::filesystem::directory_iterator entry(root, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::error_code status_error;
        if (!entry->is_directory(status_error) || entry->is_symlink(status_error)) continue;
        if (!is_digest_name(entry->path().filename().wstring())) continue;
        folders.push_back(entry->path());
        folders.push_back(entry->path() / L"reports");
    }
    return folders;
}

void sweep_abandoned_temporary_files() {
    try {
        for (const std::filesystem::path& folder : own_data_folders()) {
            remove_abandoned_temporary_files(folder);
        }
    } catch (const std::exception&) {
        // Only tidying: a start never fails over it.
    }
}

StartMode start_mode(std::wstring_view command_line) {
    StartMode mode;
    if (command_line.starts_with(finish_update_switch)) {
        mode.pid = runner_process_id(command_line.substr(finish_update_switch.size()));
        mode.role = mode.pid != 0 ? StartRole::finish_update : StartRole::bad_finish_update;
    } else if (command_line.starts_with(process_traffic_switch)) {
        mode.role = StartRole::process_traffic;
        mode.traffic_arguments = command_line.substr(process_traffic_switch.size());
    }
    return mode;
}

RECT initial_window_rect(const RECT& work_area, int dpi) {
    const int work_width = work_area.right - work_area.left;
    const int work_height = work_area.bottom - work_area.top;
    const int width = std::min(work_width, MulDiv(1200, dpi, 96));
    const int height = std::min(work_height, MulDiv(800, dpi, 96));
    const int left = work_area.left + (work_width - width) / 2;
    const int top = work_area.top + (work_height - height) / 2;
    return RECT{left, top, left + width, top + height};
}

bool placement_usable(const WINDOWPLACEMENT& placement, DWORD bytes_read, bool monitor_found) {
    return bytes_read == 44 && placement.length == 44 && monitor_found;
}

MessageRoute route_message(const MSG& message, const RouteInput& input) {
    if (input.details != nullptr && input.for_details) {
        return message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE
                   ? MessageRoute::details_escape
                   : MessageRoute::details_dialog;
    }
    const bool key_in_list = message.message == WM_KEYDOWN && input.results_list != nullptr &&
                             message.hwnd == input.results_list;
    if (key_in_list && message.wParam == 0x43 && input.control_down) {
        return MessageRoute::copy_row;
    }
    if (key_in_list && message.wParam == VK_RETURN &&
        (input.current_page == 9 || input.current_page == 10) && input.open_button_visible) {
        return MessageRoute::open_report;
    }
    return MessageRoute::dispatch;
}

}  // namespace tarvisko
