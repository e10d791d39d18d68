#pragma once
// The main window's procedure and its class.
#include <windows.h>

namespace tarvisko {

inline constexpr wchar_t main_window_class[] = L"QuorvelTarviskoWindow";

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Registers the main window class; false when that fails.
bool register_main_window_class(HINSTANCE instance);

}  // namespace tarvisko
