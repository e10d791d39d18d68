#pragma once
// The main window on the test display, for the window tests: a top-level window whose procedure
// creates the real children on WM_CREATE and lays them out on WM_SIZE, with helpers that read
// the children by control id, render an owner-drawn item into a DIB for pixel probes, pump
// messages until a condition holds and take screenshots for people to look at.
//
// The window works on the program's one `main_window_state` (app/app_state.h), which the harness
// resets before the window is made and after it is gone. Tests that want the program's own
// procedure pass it in HarnessOptions::procedure.
// clang-format off
#include <windows.h>
// clang-format on

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_state.h"
#include "support/dib.h"

namespace tarvisko::test {

// The harness's own procedure: WM_CREATE creates the children and sets the idle busy state,
// WM_SIZE lays out, WM_VSCROLL scrolls, WM_DPICHANGED takes the suggested rectangle and remakes
// the fonts, WM_DESTROY frees the window's resources; WM_ERASEBKGND and WM_DRAWITEM paint as
// the program does.
LRESULT CALLBACK harness_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

struct HarnessOptions {
    WNDPROC procedure = harness_window_proc;
    const wchar_t* class_name = L"TarviskoHarnessWindow";
    int client_width = 1200;  // pixels
    int client_height = 800;
    std::wstring server_origin = L"https://localhost:8443";
    std::wstring app_title = L"Tarvisko";
    bool show = true;
};

class WindowHarness {
  public:
    explicit WindowHarness(HarnessOptions options = {});
    ~WindowHarness();
    WindowHarness(const WindowHarness&) = delete;
    WindowHarness& operator=(const WindowHarness&) = delete;

    HWND window() const { return window_; }
    MainWindowState& state() const;

    // Resizes the window so its client area (scroll bar included) is this many pixels, then
    // pumps the resulting messages.
    void set_client_size(int width, int height);
    // The client size in pixels as the window has it now.
    SIZE client_size() const;

    HWND child(int id) const;
    // The child's rectangle in the main window's client coordinates, in pixels.
    RECT child_rect(int id) const;
    bool visible(int id) const;
    bool enabled(int id) const;
    std::wstring text(int id) const;
    // The font the control was given (WM_GETFONT); a zeroed record when it has none.
    LOGFONTW font(int id) const;

    // Sends WM_DRAWITEM for the control to `target` (the main window by default) with the DIB's
    // DC and the control's client rectangle; the DIB is the control's size, filled with magenta
    // first so untouched pixels show. Returns what the procedure returned in `handled`.
    std::unique_ptr<Dib> render_item(int id, bool* handled = nullptr, HWND target = nullptr) const;
    // The same for any control: WM_DRAWITEM goes to `target`, its parent by default.
    static std::unique_ptr<Dib> render_control(HWND control, bool* handled = nullptr,
                                               HWND target = nullptr);

    // Dispatches every waiting message once.
    static void pump();
    // Pumps until `condition` holds or `limit` passes; the result of the last check.
    static bool pump_until(const std::function<bool()>& condition,
                           std::chrono::milliseconds limit = std::chrono::seconds(5));

    // `import -window root` into TARVISKO_BINARY_DIR/screenshots/<name>.png for people to look
    // at; never compared. Does nothing without `import` or the binary folder.
    static void screenshot(const std::string& name);

  private:
    HWND window_ = nullptr;
};

// The window's client area as a BMP under TARVISKO_BINARY_DIR/screenshots, for people to look
// at: it needs no ImageMagick and shows what the window itself drew. Never compared.
void save_client_bitmap(HWND window, const std::string& name);

// The control's rectangle in DIP as the layout gives it, in pixels at `dpi`, shifted up by the
// scroll position unless it is the status bar: what child_rect should read.
RECT expected_pixels(int x, int y, int width, int height, int dpi, int scroll_pos, bool pinned);

}  // namespace tarvisko::test
