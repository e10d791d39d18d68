// Drives a running Tarvisko window from outside, for the run and screenshot scripts:
//   tarvisko_window_tool wait-idle SECONDS   the window exists, is visible and may start a test;
//                                            the pointer is then parked in the screen's corner,
//                                            so that no tooltip stands in a screenshot
//   tarvisko_window_tool command ID...       WM_COMMAND ID to the window, one after the other
//   tarvisko_window_tool close SECONDS       the orderly close, and waits until the window is gone
// Exit code 0 when done, 1 when the window is missing or the time ran out, 2 for bad arguments.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "app/control_ids.h"
#include "app/window_proc.h"

namespace {

HWND find_window() { return FindWindowW(tarvisko::main_window_class, nullptr); }

// The start button is enabled exactly while no measurement and no report load runs.
bool idle(HWND window) {
    HWND start = GetDlgItem(window, tarvisko::start_button_id);
    return IsWindowVisible(window) && start != nullptr && IsWindowEnabled(start);
}

int wait_idle(double seconds) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
    do {
        HWND window = find_window();
        if (window != nullptr && idle(window)) {
            SetCursorPos(0, 0);
            return 0;
        }
        Sleep(100);
    } while (GetTickCount64() < end);
    return 1;
}

int send_commands(int count, wchar_t** ids) {
    HWND window = find_window();
    if (window == nullptr) return 1;
    for (int i = 0; i < count; ++i) {
        const long id = std::wcstol(ids[i], nullptr, 10);
        if (id <= 0 || id > 0xFFFF) return 2;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(window, WM_COMMAND, static_cast<WPARAM>(id), 0, SMTO_NORMAL,
                                 30000, &result)) {
            return 1;
        }
    }
    return 0;
}

int close_window(double seconds) {
    HWND window = find_window();
    if (window == nullptr) return 0;
    PostMessageW(window, WM_CLOSE, 0, 0);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
    while (IsWindow(window)) {
        if (GetTickCount64() >= end) return 1;
        Sleep(100);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wcscmp(argv[1], L"wait-idle") == 0) {
        return wait_idle(std::wcstod(argv[2], nullptr));
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"command") == 0) {
        return send_commands(argc - 2, argv + 2);
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"close") == 0) {
        return close_window(std::wcstod(argv[2], nullptr));
    }
    std::fputws(L"usage: tarvisko_window_tool wait-idle S | command ID... | close S\n", stderr);
    return 2;
}
