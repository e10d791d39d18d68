// The interactive application from the window class to the end of its message loop.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "app/app_state.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/details_window.h"
#include "app/entry.h"
#include "app/services.h"
#include "app/window_proc.h"

namespace tarvisko {

namespace {

RouteInput route_input(const MSG& message) {
    const MainWindowState& state = main_window_state;
    RouteInput input;
    input.details = details_window;
    input.for_details = details_window != nullptr && message.hwnd != nullptr &&
                        (message.hwnd == details_window || IsChild(details_window, message.hwnd));
    input.results_list = state.results_list;
    input.control_down = GetKeyState(VK_CONTROL) < 0;
    input.current_page = state.current_page;
    input.open_button_visible =
        state.open_report_button != nullptr && IsWindowVisible(state.open_report_button);
    return input;
}

void translate_and_dispatch(const MSG& message) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

// The saved placement, applied when it is whole and still lies on a monitor; the show command
// then is maximized when the window was left maximized.
int restore_window_placement(HWND window, int show_command) {
    WINDOWPLACEMENT placement{};
    DWORD size = sizeof placement;
    if (RegGetValueW(HKEY_CURRENT_USER, placement_key, placement_value, RRF_RT_REG_BINARY,
                     nullptr, &placement, &size) != ERROR_SUCCESS) {
        return show_command;
    }
    const bool monitor_found =
        MonitorFromRect(&placement.rcNormalPosition, MONITOR_DEFAULTTONULL) != nullptr;
    if (!placement_usable(placement, size, monitor_found)) return show_command;
    SetWindowPlacement(window, &placement);
    return placement.showCmd == SW_SHOWMAXIMIZED ? SW_SHOWMAXIMIZED : show_command;
}

}  // namespace

int run_message_loop(HWND main_window, GetMessageCall get_message) {
    MSG message{};
    for (;;) {
        const BOOL got = get_message(&message, nullptr, 0, 0);
        // A failed GetMessageW leaves the record unfilled: its wParam is no exit code.
        if (got < 0) return 1;
        if (got == 0) return static_cast<int>(static_cast<UINT>(message.wParam));
        switch (route_message(message, route_input(message))) {
            case MessageRoute::details_escape:
                DestroyWindow(details_window);
                break;
            case MessageRoute::details_dialog:
                if (!IsDialogMessageW(details_window, &message)) translate_and_dispatch(message);
                break;
            case MessageRoute::copy_row:
                SendMessageW(main_window, WM_COMMAND, copy_row_button_id, 0);
                break;
            case MessageRoute::open_report:
                SendMessageW(main_window, WM_COMMAND, open_report_button_id,
                             reinterpret_cast<LPARAM>(main_window_state.open_report_button));
                break;
            case MessageRoute::dispatch:
                if (!IsDialogMessageW(main_window, &message)) translate_and_dispatch(message);
                break;
        }
    }
}

HWND create_main_window(HINSTANCE instance) {
    // Wine and older Windows 10 refuse the per-monitor V2 context.
    if (!SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
        SetProcessDPIAware();
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);
    if (!register_main_window_class(instance)) return nullptr;

    RECT work_area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work_area, 0);
    const RECT rect = initial_window_rect(work_area, static_cast<int>(GetDpiForSystem()));
    return CreateWindowExW(0, main_window_class, L"Tarvisko", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                           rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                           nullptr, nullptr, instance, nullptr);
}

int run_application(HINSTANCE instance, int show_command) {
    if (const auto& sweep = app_services().sweep_update_staging) sweep();
    sweep_abandoned_temporary_files();
    HWND window = create_main_window(instance);
    if (window == nullptr) return 1;
    ShowWindow(window, restore_window_placement(window, show_command));
    UpdateWindow(window);

    const int exit_code = run_message_loop(window);
    stop_and_join_all_jobs();
    return exit_code;
}

}  // namespace tarvisko
