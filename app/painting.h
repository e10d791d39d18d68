#pragma once
// Everything the main window draws itself with GDI: the background with the navigation
// separator, the owner-drawn buttons, header, status line, tiles with the speed gauges, cards,
// Wi-Fi cards and band selector, the results list's detail panel and row tiles; and the live
// update of the two speed tiles during a full test's transfer phases.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/main_window_state.h"

namespace tarvisko {

// The window's colours that the owner-drawn items and the results list share.
inline constexpr COLORREF card_colour = RGB(0xFF, 0xFF, 0xFF);
inline constexpr COLORREF line_colour = RGB(0xE0, 0xE0, 0xE0);
inline constexpr COLORREF text_colour = RGB(0x20, 0x20, 0x20);
inline constexpr COLORREF secondary_colour = RGB(0x61, 0x61, 0x61);
inline constexpr COLORREF accent_colour = RGB(0x00, 0x67, 0xC0);

// One item being drawn: the memory DC, the item's size in DIP and the state it reads. A disabled
// button is drawn flat (window-coloured fill, grey border) with its texts and glyphs in grey,
// whatever colours its own drawing asks for.
struct Painter {
    HDC dc = nullptr;
    const MainWindowState* state = nullptr;
    std::int32_t width = 0;   // DIP
    std::int32_t height = 0;  // DIP
    bool disabled = false;
};

void paint_window_background(const MainWindowState& state, HDC dc);
bool draw_owner_drawn_control(const MainWindowState& state, const DRAWITEMSTRUCT& item);
int draw_text_in_box(const Painter& painter, int font_slot, COLORREF colour, int left, int top,
                     int right, int bottom, const std::wstring& text, UINT flags);
void draw_glyph(const Painter& painter, wchar_t code_point, COLORREF colour, int left, int top,
                int width, int height);
void draw_card_frame(const Painter& painter, COLORREF fill, COLORREF border);
void fill_round_rect(HDC dc, const RECT& rect, COLORREF fill, COLORREF border, int corner);
void fill_rect_color(HDC dc, const RECT& rect, COLORREF colour);
void draw_line(HDC dc, int x1, int y1, int x2, int y2, COLORREF colour);
// d: 0 download, 1 upload; series: read_live_progress's [ms, bytes] pairs; cap in Mb/s.
void update_app_traffic_series(MainWindowState& state, int direction, const nlohmann::json& series,
                               double rate_cap_mbps);

// Seams for tests: every text drawn (slot, colour, box in DIP, text, the DrawTextW flags used)
// and every gauge painted (centre and radius in pixels). Empty in the product.
struct PaintHooks {
    std::function<void(int slot, COLORREF colour, RECT box, const std::wstring& text, UINT flags)>
        on_text;
    std::function<void(POINT centre, int radius, double scale_maximum, std::optional<double> value)>
        on_gauge;
    std::function<bool()> high_contrast;  // empty: ask SystemParametersInfoW
};
PaintHooks& paint_hooks();
// SPI_GETHIGHCONTRAST with HCF_HIGHCONTRASTON, or the hook's answer.
bool high_contrast_on();

}  // namespace tarvisko
