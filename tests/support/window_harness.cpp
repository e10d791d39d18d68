#include "support/window_harness.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "app/app_state.h"
#include "app/controls.h"
#include "app/painting.h"

namespace tarvisko::test {

LRESULT CALLBACK harness_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MainWindowState& state = main_window_state;
    switch (message) {
        case WM_CREATE:
            create_main_window_controls(state, window, L"https://localhost:8443", L"Tarvisko");
            set_busy_state(state, false, false, false);
            return 0;
        case WM_SIZE:
            layout_main_window(state);
            return 0;
        case WM_VSCROLL:
            scroll_content(state, LOWORD(wparam));
            return 0;
        case WM_DPICHANGED: {
            const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
            SetWindowPos(window, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            create_fonts(state, LOWORD(wparam));
            return 0;
        }
        case WM_DESTROY:
            destroy_window_resources(state);
            return 0;
        case WM_ERASEBKGND:
            paint_window_background(state, reinterpret_cast<HDC>(wparam));
            return 1;
        case WM_DRAWITEM:
            return draw_owner_drawn_control(state, *reinterpret_cast<DRAWITEMSTRUCT*>(lparam));
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

WindowHarness::WindowHarness(HarnessOptions options) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    main_window_state = ui_state_init();

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = options.procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = options.class_name;
    RegisterClassExW(&window_class);  // a second harness finds the class registered

    constexpr DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT frame{0, 0, options.client_width, options.client_height};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    window_ = CreateWindowExW(0, options.class_name, L"Tarvisko", style, 0, 0,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr,
                              nullptr, instance, nullptr);
    if (window_ != nullptr && options.show) {
        ShowWindow(window_, SW_SHOWNORMAL);
        UpdateWindow(window_);
    }
    pump();
}

WindowHarness::~WindowHarness() {
    if (window_ != nullptr) DestroyWindow(window_);
    pump();
    main_window_state = ui_state_init();
}

MainWindowState& WindowHarness::state() const { return main_window_state; }

void WindowHarness::set_client_size(int width, int height) {
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE));
    // The client area with the scroll bar counted in: the layout decides whether it shows.
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, style & ~WS_VSCROLL, FALSE, 0);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    pump();
}

SIZE WindowHarness::client_size() const {
    RECT client{};
    GetClientRect(window_, &client);
    return SIZE{client.right - client.left, client.bottom - client.top};
}

HWND WindowHarness::child(int id) const { return GetDlgItem(window_, id); }

RECT WindowHarness::child_rect(int id) const {
    RECT rect{};
    HWND control = child(id);
    if (control == nullptr) return rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool WindowHarness::visible(int id) const {
    HWND control = child(id);
    return control != nullptr && (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool WindowHarness::enabled(int id) const {
    HWND control = child(id);
    return control != nullptr && IsWindowEnabled(control);
}

std::wstring WindowHarness::text(int id) const {
    HWND control = child(id);
    if (control == nullptr) return {};
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

LOGFONTW WindowHarness::font(int id) const {
    LOGFONTW record{};
    HWND control = child(id);
    if (control == nullptr) return record;
    const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    if (font != nullptr) GetObjectW(font, sizeof record, &record);
    return record;
}

std::unique_ptr<Dib> WindowHarness::render_item(int id, bool* handled, HWND target) const {
    return render_control(child(id), handled, target != nullptr ? target : window_);
}

std::unique_ptr<Dib> WindowHarness::render_control(HWND control, bool* handled, HWND target) {
    const int id = GetDlgCtrlID(control);
    if (target == nullptr) target = GetParent(control);
    RECT client{};
    if (control != nullptr) GetClientRect(control, &client);
    auto dib = std::make_unique<Dib>(client.right, client.bottom);
    dib->fill(RGB(255, 0, 255));
    DRAWITEMSTRUCT item{};
    wchar_t class_name[32]{};
    GetClassNameW(control, class_name, 32);
    item.CtlType = _wcsicmp(class_name, L"BUTTON") == 0 ? ODT_BUTTON : ODT_STATIC;
    item.CtlID = static_cast<UINT>(id);
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = IsWindowEnabled(control) ? 0 : ODS_DISABLED;
    item.hwndItem = control;
    item.hDC = dib->dc();
    item.rcItem = client;
    const LRESULT result = SendMessageW(target, WM_DRAWITEM,
                                        static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&item));
    if (handled != nullptr) *handled = result != 0;
    GdiFlush();
    return dib;
}

void WindowHarness::pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool WindowHarness::pump_until(const std::function<bool()>& condition,
                               std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return condition();
        pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void WindowHarness::screenshot(const std::string& name) {
    const char* binary_dir = std::getenv("TARVISKO_BINARY_DIR");
    if (binary_dir == nullptr) return;
    std::error_code ignored;
    // ImageMagick's `import` on the Unix side; without it there is no picture to take.
    if (!std::filesystem::exists("Z:\\usr\\bin\\import", ignored) &&
        !std::filesystem::exists("Z:\\usr\\local\\bin\\import", ignored)) {
        return;
    }
    pump();
    const std::string folder = std::string(binary_dir) + "/screenshots";
    const std::string file = folder + "/" + name + ".png";
    // Wine starts a Unix program given by its path but hands back no process to wait on: the
    // picture is written under a temporary name and renamed, and the test waits for the name.
    const std::string script = "mkdir -p '" + folder + "' && import -window root '" + file +
                               ".tmp.png' && mv '" + file + ".tmp.png' '" + file + "'";
    const std::filesystem::path target = std::filesystem::path(file).make_preferred();
    std::filesystem::remove(target, ignored);
    std::wstring line = L"sh -c \"" + std::wstring(script.begin(), script.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return;
    }
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    pump_until([&] { return std::filesystem::exists(target, ignored); },
               std::chrono::seconds(20));
}

RECT expected_pixels(int x, int y, int width, int height, int dpi, int scroll_pos, bool pinned) {
    return control_pixels(ControlPlace{x, y, width, height, true}, dpi, pinned ? 0 : scroll_pos);
}

void save_client_bitmap(HWND window, const std::string& name) {
    const char* binary_dir = std::getenv("TARVISKO_BINARY_DIR");
    if (binary_dir == nullptr) return;
    RECT client{};
    GetClientRect(window, &client);
    Dib copy(client.right, client.bottom);
    const HDC window_dc = GetDC(window);
    BitBlt(copy.dc(), 0, 0, copy.width(), copy.height(), window_dc, 0, 0, SRCCOPY);
    ReleaseDC(window, window_dc);
    GdiFlush();
    std::vector<std::uint32_t> pixels;
    for (int y = copy.height() - 1; y >= 0; --y) {  // a BMP stores its bottom row first
        for (int x = 0; x < copy.width(); ++x) {
            const COLORREF colour = copy.pixel(x, y);
            pixels.push_back((GetRValue(colour) << 16) | (GetGValue(colour) << 8) |
                             GetBValue(colour));
        }
    }
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = copy.width();
    info.biHeight = copy.height();
    info.biPlanes = 1;
    info.biBitCount = 32;
    info.biCompression = BI_RGB;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size() * 4);
    const std::filesystem::path folder = std::filesystem::path(binary_dir) / "screenshots";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    std::ofstream out(folder / (name + ".bmp"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(reinterpret_cast<const char*>(pixels.data()),
              static_cast<std::streamsize>(pixels.size() * 4));
}

}  // namespace tarvisko::test
