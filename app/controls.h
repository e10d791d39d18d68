#pragma once
// The children of the main window, created once on WM_CREATE in their tab order; the eight
// fonts; the layout that places, shows and hides them for the page on show; scrolling; the busy
// state. Window thread only; everything acts on the one MainWindowState.
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/main_window_state.h"

namespace tarvisko {

// One control's place in DIP (before the scroll shift) and whether it is shown.
struct ControlPlace {
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    bool visible = false;
};

// The inputs of the layout: everything it depends on, so the geometry is a pure function.
struct LayoutInput {
    std::int32_t width_dip = 0;  // client size in DIP
    std::int32_t height_dip = 0;
    std::int32_t page = 0;
    bool table_view_shown = false;
    bool busy = false;
    std::int32_t scroll_pos = 0;
    bool nav_collapse_requested = false;
    std::uint8_t table_kind = 0;
    std::size_t table_rows = 0;
    // The height in DIP the results list needs to show its header and every row; 0 when unknown.
    std::int32_t list_rows_height = 0;
};

// Every control's place, by control id (app/control_ids.h).
struct LayoutResult {
    std::int32_t content_height = 0;
    std::int32_t scroll_range = 0;
    std::int32_t scroll_pos = 0;  // clamped
    bool nav_collapsed = false;
    std::vector<std::pair<int, ControlPlace>> places;  // (control id, place)
};
LayoutResult compute_layout(const LayoutInput& input);

// The pixel rectangle of a control's DIP place at `dpi`: its edges are scaled, so controls that
// touch in DIP touch in pixels too and never overlap by a rounding pixel.
RECT control_pixels(const ControlPlace& place, int dpi, int scroll_pos);
// The status line's pixel rectangle: pinned to the bottom edge of a client area of that size.
RECT status_bar_pixels(SIZE client, int dpi);
// The layout's inputs as the window has them now, the list's measured rows included.
LayoutInput layout_input(const MainWindowState& state);

void create_main_window_controls(MainWindowState& state, HWND main_window,
                                 const std::wstring& server_origin, const std::wstring& app_title);
HWND create_child_control(MainWindowState& state, const wchar_t* window_class,
                          const std::wstring& text, DWORD style, int id);
HWND create_owner_button(MainWindowState& state, const std::wstring& text, int id);
void create_fonts(MainWindowState& state, int dpi);
int CALLBACK font_exists_proc(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found_flag);
void layout_main_window(MainWindowState& state);
void place_control(MainWindowState& state, HWND control, int x, int y, int width, int height,
                   bool visible);
void scroll_content(MainWindowState& state, int scroll_code);
void set_busy_state(MainWindowState& state, bool busy, bool client_token_present,
                    bool report_text_present);
void fill_combo(MainWindowState& state, int control_id, const std::vector<std::wstring>& texts,
                int index);
void destroy_window_resources(MainWindowState& state);

// The child with that control id, or null.
HWND control_by_id(const MainWindowState& state, int id);

}  // namespace tarvisko
