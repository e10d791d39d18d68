// The yardstick of the window-start benchmark: the least a Win32 program does to show a window
// and wait for input, built like Tarvisko.exe (static runtime, GUI subsystem, wWinMain) and
// opened at the same 1200 x 800 size, so that what Tarvisko.exe takes beyond it is its own.
#include <windows.h>

namespace {

constexpr wchar_t bare_window_class[] = L"TarviskoBenchBareWindow";

LRESULT CALLBACK bare_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = bare_window_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = bare_window_class;
    if (RegisterClassExW(&window_class) == 0) return 1;
    const HWND window = CreateWindowExW(0, bare_window_class, L"Okno", WS_OVERLAPPEDWINDOW,
                                        CW_USEDEFAULT, CW_USEDEFAULT, 1200, 800, nullptr, nullptr,
                                        instance, nullptr);
    if (window == nullptr) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG message{};
    BOOL got = 0;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return got < 0 ? 1 : static_cast<int>(message.wParam);
}
