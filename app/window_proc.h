#pragma once
// The main window's procedure and its class.
#include <windows.h>

#include <functional>

namespace tarvisko {

inline constexpr wchar_t main_window_class[] = L"QuorvelTarviskoWindow";

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The one catch of the command, notification and job-message handlers of the program's windows:
// a failure shows as the main window's view message and the window goes on.
void guarded(const std::function<void()>& handler);
// Registers the main window class; false when that fails.
bool register_main_window_class(HINSTANCE instance);

}  // namespace tarvisko
