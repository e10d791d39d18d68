#pragma once
// What the program entry decides before and around the window: the role from the command line,
// the first window rectangle, whether a saved placement may be used, and which messages the
// loop routes itself.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace tarvisko {

enum class StartRole { application, finish_update, bad_finish_update, process_traffic };
struct StartMode {
    StartRole role = StartRole::application;
    std::uint32_t pid = 0;               // finish_update
    std::wstring_view traffic_arguments;  // process_traffic
};
StartMode start_mode(std::wstring_view command_line);

RECT initial_window_rect(const RECT& work_area, int dpi);

// A placement read back from the registry may be applied: 44 bytes read, its own length 44 and a
// monitor under its normal rectangle (the monitor test is passed in).
bool placement_usable(const WINDOWPLACEMENT& placement, DWORD bytes_read, bool monitor_found);

// What the message loop does with a message before dispatching it.
enum class MessageRoute { dispatch, details_escape, details_dialog, copy_row, open_report };
struct RouteInput {
    HWND details = nullptr;          // details_window
    bool for_details = false;        // the message is for it or a descendant
    HWND results_list = nullptr;     // list 310
    bool control_down = false;       // GetKeyState(VK_CONTROL) < 0
    int current_page = 0;
    bool open_button_visible = false;  // control 330
};
MessageRoute route_message(const MSG& message, const RouteInput& input);

// The main window's message loop until WM_QUIT, routing each message as route_message says; the
// exit code is the quit message's, or 1 when GetMessageW fails. `get_message` is GetMessageW in
// the program.
using GetMessageCall = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT);
int run_message_loop(HWND main_window, GetMessageCall get_message = GetMessageW);

// The program's own folders under %LOCALAPPDATA%\QUORVEL\Sondaro that hold files written
// atomically: the folder itself (catalogue caches, favourites, Wi-Fi baseline), each data
// directory (named by a 64-digit digest) and its "reports" folder. Empty without LOCALAPPDATA.
std::vector<std::filesystem::path> own_data_folders();
// At start: removes the temporary files that writers killed between writing and moving left in
// those folders (remove_abandoned_temporary_files). Never throws.
void sweep_abandoned_temporary_files();

// The main window at its first place, not yet shown: the process's DPI awareness, the common
// controls, the window class and CreateWindowExW (WM_CREATE builds every child). Null when the
// class or the window cannot be made.
HWND create_main_window(HINSTANCE instance);

// The interactive application: the window class, the window at its first or saved place, the
// message loop, and after it every job stopped and joined.
int run_application(HINSTANCE instance, int show_command);

}  // namespace tarvisko
