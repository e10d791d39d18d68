#include "app/painting.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "app/cards.h"
#include "app/control_ids.h"
#include "app/results_list.h"
#include "app/status_texts.h"
#include "engine/common/handle_guard.h"
#include "readings/wifi_chart.h"
#include "results/dashboard.h"
#include "results/format.h"
#include "results/gauge.h"
#include "results/table_rows.h"

namespace tarvisko {
namespace {

// Restores the DC object it replaced when the scope ends.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

constexpr COLORREF window_colour = RGB(0xF3, 0xF3, 0xF3);
constexpr COLORREF pressed_colour = RGB(0x00, 0x51, 0x98);
constexpr COLORREF current_nav_colour = RGB(0xE7, 0xE7, 0xE7);
constexpr COLORREF disabled_glyph_colour = RGB(0x8B, 0x8B, 0x8B);
constexpr COLORREF disabled_label_colour = RGB(0x82, 0x82, 0x82);
constexpr COLORREF selected_band_colour = RGB(0xE8, 0xF2, 0xFA);

constexpr UINT single_line_style = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX;
// DT_EDITCONTROL leaves out a last line that would only partly fit, so a long text cut by its
// box never shows the top half of a line above whatever is drawn below it.
constexpr UINT wrapped_style = DT_WORDBREAK | DT_EDITCONTROL | DT_END_ELLIPSIS | DT_NOPREFIX;

constexpr std::array<wchar_t, 12> navigation_glyphs{0xE80F, 0xE945, 0xE7F8, 0xE968, 0xE701, 0xE774,
                                                    0xE7FC, 0xE8AB, 0xE9D9, 0xE81C, 0xE8A5, 0xE713};
constexpr std::array<wchar_t, 8> card_glyphs{0xE7F8, 0xE701, 0xE968, 0xE839,
                                             0xE12B, 0xE968, 0xE968, 0xE9D9};
constexpr wchar_t chevron_glyph = 0xE76C;

constexpr wchar_t live_body[] =
    L"Chwilowy transfer aplikacji, obliczony z przyrostu licznika bajtów i czasu między "
    L"odczytami.";

COLORREF verdict_colour(Verdict verdict) { return static_cast<COLORREF>(verdict_color(verdict)); }

int to_pixels(const Painter& painter, int dip) { return MulDiv(dip, painter.state->dpi, 96); }

RECT pixel_box(const Painter& painter, int left, int top, int right, int bottom) {
    return dip_rect_to_pixels(*painter.state, left, top, right, bottom);
}

// A DIP line inside the item, both ends scaled.
void draw_dip_line(const Painter& painter, int x1, int y1, int x2, int y2, COLORREF colour) {
    draw_line(painter.dc, to_pixels(painter, x1), to_pixels(painter, y1), to_pixels(painter, x2),
              to_pixels(painter, y2), colour);
}

void draw_frame(const Painter& painter) { draw_card_frame(painter, card_colour, line_colour); }

void draw_navigation_button(const Painter& painter, int page, bool disabled, bool pressed) {
    const MainWindowState& state = *painter.state;
    const int w = painter.width;
    const int h = painter.height;
    const bool current = page == state.current_page;
    if (current || pressed) {
        fill_round_rect(painter.dc, pixel_box(painter, 0, 0, w, h), current_nav_colour,
                        current_nav_colour, to_pixels(painter, 8));
        fill_rect_color(painter.dc, pixel_box(painter, 1, h / 2 - 8, 4, h / 2 + 8), accent_colour);
    }
    const COLORREF glyph_colour = disabled  ? disabled_glyph_colour
                                  : current ? accent_colour
                                            : text_colour;
    draw_glyph(painter, navigation_glyphs[static_cast<std::size_t>(page)], glyph_colour, 7, 0, 28,
               h);
    if (!state.nav_collapsed) {
        draw_text_in_box(painter, 1, disabled ? disabled_label_colour : text_colour, 42, 0, w - 4,
                         h, navigation_page_name(page), 0);
    }
}

void draw_header(const Painter& painter) {
    const MainWindowState& state = *painter.state;
    if (state.app_icon == nullptr) {
        fill_round_rect(painter.dc, pixel_box(painter, 7, 7, 37, 37), accent_colour, accent_colour,
                        to_pixels(painter, 8));
        draw_glyph(painter, 0xE9D9, card_colour, 7, 7, 30, 30);
    } else {
        DrawIconEx(painter.dc, to_pixels(painter, 7), to_pixels(painter, 7), state.app_icon,
                   to_pixels(painter, 30), to_pixels(painter, 30), 0, nullptr, DI_NORMAL);
    }
    draw_text_in_box(painter, 2, text_colour, 45, 0, painter.width, 44, state.app_title, 0);
}

void draw_status_line(const Painter& painter, const DRAWITEMSTRUCT& item) {
    draw_line(painter.dc, 0, 0, item.rcItem.right, 0, line_colour);
    draw_text_in_box(painter, 5, secondary_colour, 16, 1, painter.width - 12, painter.height,
                     get_window_text(item.hwndItem), 0);
}

// The largest DIP box whose pixels (as pixel_box rounds them) stay inside `pixels`.
RECT inner_dip_box(const Painter& painter, const RECT& pixels) {
    const int dpi = painter.state->dpi;
    const auto up = [dpi](LONG value) {
        return static_cast<int>((static_cast<long long>(value) * 96 + dpi - 1) / dpi);
    };
    const auto down = [dpi](LONG value) {
        return static_cast<int>((static_cast<long long>(value) * 96) / dpi);
    };
    return RECT{up(pixels.left), up(pixels.top), down(pixels.right), down(pixels.bottom)};
}

// The first of `preferred` and the smaller value slots (2, 1, 0) in which the text fits the DIP
// box on one line; the smallest when none does (the text is then cut with an ellipsis).
int fitting_font_slot(const Painter& painter, int preferred, const RECT& box,
                      const std::wstring& text) {
    const RECT pixels = pixel_box(painter, box.left, box.top, box.right, box.bottom);
    for (const int slot : {preferred, 2, 1, 0}) {
        const HFONT font = painter.state->fonts[static_cast<std::size_t>(slot)];
        if (font == nullptr) return slot;
        const SelectedObject selected(painter.dc, font);
        RECT needed{0, 0, 0, 0};
        DrawTextW(painter.dc, text.c_str(), static_cast<int>(text.size()), &needed,
                  DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        if (needed.right <= pixels.right - pixels.left &&
            needed.bottom <= pixels.bottom - pixels.top) {
            return slot;
        }
    }
    return 0;
}

void draw_speed_tile(const Painter& painter, int direction) {
    const MainWindowState& state = *painter.state;
    const TextCard& tile = state.summary.tiles[static_cast<std::size_t>(direction)];
    const int w = painter.width;
    const int h = painter.height;
    draw_frame(painter);
    draw_glyph(painter, direction == 0 ? 0xE74B : 0xE74A, accent_colour, 12, 6, 22, 22);
    draw_text_in_box(painter, 1, text_colour, 39, 6, w - 16, 28, tile.title, 0);

    const int g = (h + 21) / 2;
    const int radius = std::min(w / 3, g - 14);
    const POINT centre{to_pixels(painter, w / 2), to_pixels(painter, g)};
    const std::optional<double> value =
        direction == 0 ? state.summary.download_mbps : state.summary.upload_mbps;
    const int radius_pixels = to_pixels(painter, radius);
    if (paint_hooks().on_gauge) {
        paint_hooks().on_gauge(centre, radius_pixels, state.chart_maximum, value);
    }
    // The value goes under the hub, between the scale's end labels; the gauge leaves out any
    // other label that box would cover.
    const int value_bottom = std::min(g + 42, h - 17);
    const RECT value_pixels = gauge_value_box(centre, radius_pixels, state.dpi,
                                              pixel_box(painter, 0, g + 4, w, value_bottom));
    paint_results_gauge(painter.dc, centre, radius_pixels, state.dpi, state.fonts[5],
                        state.chart_maximum, value, value_pixels);
    const RECT value_box = inner_dip_box(painter, value_pixels);
    draw_text_in_box(painter, fitting_font_slot(painter, h > 126 ? 3 : 2, value_box, tile.subtitle),
                     text_colour, value_box.left, value_box.top, value_box.right, value_box.bottom,
                     tile.subtitle, DT_CENTER);
    const wchar_t* unit = !value.has_value()         ? L"Mb/s"
                          : state.summary.has_report ? L"Średnia · Mb/s"
                                                     : L"Chwilowa · Mb/s";
    draw_text_in_box(painter, 5, secondary_colour, 0, value_bottom, w, h - 3, unit, DT_CENTER);
}

void draw_value_tile(const Painter& painter, int index) {
    static constexpr std::array<const wchar_t*, 5> units{L"", L"", L"ms", L"ms", L"%"};
    const TextCard& tile = painter.state->summary.tiles[static_cast<std::size_t>(index)];
    const int w = painter.width;
    const int h = painter.height;
    draw_frame(painter);
    draw_text_in_box(painter, 0, secondary_colour, 10, 4, w - 5, h / 2, tile.title, 0);
    const std::wstring value = tile.subtitle == L"—"
                                   ? tile.subtitle
                                   : tile.subtitle + L" " + units[static_cast<std::size_t>(index)];
    draw_text_in_box(painter, 2, text_colour, 10, h / 2 - 4, w - 5, h - 4, value, 0);
}

void draw_section_card(const Painter& painter, int index) {
    const TextCard& card = painter.state->summary.sections[static_cast<std::size_t>(index)];
    const int w = painter.width;
    const int h = painter.height;
    draw_frame(painter);
    draw_glyph(painter, card_glyphs[static_cast<std::size_t>(index)], secondary_colour, 8, 0, 24,
               h);
    // Only the three cards with long verdict sentences get a second line; the others keep the
    // value beside the title.
    const bool two_lines = index >= 4 && index <= 6 && card.subtitle.size() > 26;
    if (two_lines) {
        draw_text_in_box(painter, 0, text_colour, 38, 1, w - 25, h / 2 + 2, card.title, 0);
        draw_text_in_box(painter, 0, verdict_colour(card.status), 38, h / 2, w - 25, h - 1,
                         card.subtitle, 0);
    } else {
        draw_text_in_box(painter, 0, text_colour, 38, 0, w * 53 / 100, h, card.title, 0);
        draw_text_in_box(painter, 0, verdict_colour(card.status), w * 53 / 100, 0, w - 24, h,
                         card.subtitle, DT_RIGHT);
    }
    draw_glyph(painter, chevron_glyph, secondary_colour, w - 22, 0, 17, h);
}

void draw_conclusion_card(const Painter& painter) {
    const SummaryModel& summary = painter.state->summary;
    const int w = painter.width;
    const int h = painter.height;
    draw_frame(painter);
    draw_glyph(painter, 0xE946, verdict_colour(summary.overall_status), 10, 0, 24, h);
    if (summary.advice.empty() || h < 36) {
        draw_text_in_box(painter, 1, text_colour, 41, 0, w - 28, h, summary.headline, 0);
    } else {
        draw_text_in_box(painter, 1, text_colour, 41, 1, w - 28, h / 2 + 2, summary.headline, 0);
        draw_text_in_box(painter, 5, secondary_colour, 41, h / 2, w - 28, h - 1, summary.advice, 0);
    }
    draw_glyph(painter, chevron_glyph, secondary_colour, w - 25, 0, 18, h);
}

void draw_estimate_panel(const Painter& painter, const DRAWITEMSTRUCT& item) {
    const MainWindowState& state = *painter.state;
    const int w = painter.width;
    const int h = painter.height;
    draw_frame(painter);
    if (!state.summary_cards) {
        draw_text_in_box(painter, 1, secondary_colour, 14, 0, w - 14, h,
                         get_window_text(item.hwndItem), 0);
        return;
    }
    draw_dip_line(painter, w / 2, 10, w / 2, h - 10, line_colour);
    for (int k = 0; k < 2; ++k) {
        const TextCard& card = k == 0 ? state.summary_cards->first : state.summary_cards->second;
        const int x0 = k * w / 2 + 14;
        const int x1 = (k + 1) * w / 2 - 10;
        draw_text_in_box(painter, 0, secondary_colour, x0, 4, x1, 23, card.title, 0);
        draw_text_in_box(painter, 1, text_colour, x0, 22, x1, 45, card.subtitle, 0);
        draw_text_in_box(painter, 5, secondary_colour, x0, 44, x1, h - 3, card.body, 0);
    }
}

void draw_quality_card(const Painter& painter, const DRAWITEMSTRUCT& item) {
    const std::optional<IdleQualityCard>& quality = painter.state->summary.idle_quality;
    const int w = painter.width;
    const int h = painter.height;
    draw_frame(painter);
    draw_text_in_box(painter, 2, text_colour, 14, 2, w - 14, 28, L"Jakość połączenia w spoczynku",
                     0);
    if (!quality) {
        draw_text_in_box(painter, 1, secondary_colour, 14, 35, w - 14, 65,
                         get_window_text(item.hwndItem), 0);
        return;
    }
    draw_text_in_box(painter, 5, secondary_colour, w / 2, 2, w - 12, 28, quality->profile_line,
                     DT_RIGHT);
    for (int k = 0; k < 3; ++k) {
        const TextCard& card = quality->tiles[static_cast<std::size_t>(k)];
        const int x0 = k * w / 3 + 14;
        const int x1 = (k + 1) * w / 3 - 8;
        if (k < 2) draw_dip_line(painter, (k + 1) * w / 3, 34, (k + 1) * w / 3, 82, line_colour);
        draw_text_in_box(painter, 0, secondary_colour, x0, 30, x1, 49, card.title, 0);
        draw_text_in_box(painter, 2, verdict_colour(card.status), x0, 48, x1, 70, card.subtitle, 0);
        draw_text_in_box(painter, 5, verdict_colour(card.status), x0, 68, x1, 85,
                         rating_label(card.status), 0);
    }
    draw_text_in_box(painter, 0, text_colour, 14, 88, w - 14, h - 4, quality->sentence,
                     DT_WORDBREAK);
}

// 344 and 349: a verdict bar beside a title and a subtitle.
void draw_wifi_card(const Painter& painter, const TextCard& card, bool recommendation) {
    const int w = painter.width;
    const int h = painter.height;
    draw_frame(painter);
    if (recommendation) {
        fill_rect_color(painter.dc, pixel_box(painter, 9, 12, 12, h - 12),
                        verdict_colour(card.status));
        draw_text_in_box(painter, 2, text_colour, 22, 4, w - 12, h / 2 + 4, card.title, 0);
        draw_text_in_box(painter, 0, secondary_colour, 22, h / 2, w - 12, h - 3, card.subtitle, 0);
    } else {
        fill_rect_color(painter.dc, pixel_box(painter, 9, 9, 12, h - 9),
                        verdict_colour(card.status));
        draw_text_in_box(painter, 1, text_colour, 22, 1, w - 10, h / 2 + 3, card.title, 0);
        draw_text_in_box(painter, 0, secondary_colour, 22, h / 2, w - 10, h - 1, card.subtitle, 0);
    }
}

void draw_wifi_chart(const Painter& painter, const DRAWITEMSTRUCT& item) {
    const MainWindowState& state = *painter.state;
    draw_frame(painter);
    const RECT area{0, 0, item.rcItem.right - item.rcItem.left,
                    item.rcItem.bottom - item.rcItem.top};
    draw_wifi_channel_chart(painter.dc, area, state.dpi, state.fonts[0], state.wifi.chart,
                            state.wifi.wifi_band_index + 1, std::nullopt);
}

void draw_band_button(const Painter& painter, const DRAWITEMSTRUCT& item, int index) {
    const bool selected = index == painter.state->wifi.wifi_band_index;
    draw_card_frame(painter, selected ? selected_band_colour : card_colour,
                    selected ? accent_colour : line_colour);
    draw_text_in_box(painter, 1, selected ? accent_colour : text_colour, 4, 0, painter.width - 4,
                     painter.height, get_window_text(item.hwndItem), DT_CENTER);
}

void draw_primary_button(const Painter& painter, const DRAWITEMSTRUCT& item, bool pressed) {
    draw_card_frame(painter, pressed ? pressed_colour : accent_colour, accent_colour);
    draw_glyph(painter, item.CtlID == stop_button_id ? 0xE71A : 0xE768, card_colour, 8, 0, 25,
               painter.height);
    draw_text_in_box(painter, 1, card_colour, 36, 0, painter.width - 7, painter.height,
                     get_window_text(item.hwndItem), 0);
}

void draw_plain_button(const Painter& painter, const DRAWITEMSTRUCT& item) {
    draw_frame(painter);
    draw_text_in_box(painter, 0, text_colour, 5, 0, painter.width - 5, painter.height,
                     get_window_text(item.hwndItem), DT_CENTER);
}

bool is_plain_button(UINT id) {
    return id == copy_code_button_id || id == report_button_id || id == summary_button_id ||
           id == export_button_id || id == save_target_button_id ||
           (id >= compare_route_button_id && id <= resource_monitor_button_id) ||
           (id >= wifi_scan_button_id && id <= channel_help_button_id) ||
           (id >= wifi_details_button_id && id <= wifi_compare_button_id);
}

void draw_control(const Painter& painter, const DRAWITEMSTRUCT& item) {
    const MainWindowState& state = *painter.state;
    const UINT id = item.CtlID;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    if (id >= first_nav_button_id && id <= last_nav_button_id) {
        draw_navigation_button(painter, static_cast<int>(id) - first_nav_button_id, disabled,
                               pressed);
    } else if (id == nav_toggle_button_id) {
        draw_glyph(painter, 0xE700, text_colour, 0, 0, painter.width - 1, painter.height);
    } else if (id == app_title_label_id) {
        draw_header(painter);
    } else if (id == status_bar_id) {
        draw_status_line(painter, item);
    } else if (id == download_tile_id || id == upload_tile_id) {
        draw_speed_tile(painter, static_cast<int>(id) - first_dashboard_tile_id);
    } else if (id >= first_value_tile_id && id <= last_dashboard_tile_id) {
        draw_value_tile(painter, static_cast<int>(id) - first_dashboard_tile_id);
    } else if (id >= first_section_card_id && id <= last_section_card_id) {
        draw_section_card(painter, static_cast<int>(id) - first_section_card_id);
    } else if (id == conclusion_button_id) {
        draw_conclusion_card(painter);
    } else if (id == estimate_panel_id) {
        draw_estimate_panel(painter, item);
    } else if (id == connection_quality_card_id) {
        draw_quality_card(painter, item);
    } else if (id == wifi_recommendation_id) {
        draw_wifi_card(painter, state.wifi.recommendation, true);
    } else if (id == wifi_comparison_id) {
        draw_wifi_card(painter, state.wifi.comparison, false);
    } else if (id == wifi_chart_id) {
        draw_wifi_chart(painter, item);
    } else if (id >= first_band_button_id && id <= last_band_button_id) {
        draw_band_button(painter, item, static_cast<int>(id) - first_band_button_id);
    } else if (id == start_button_id || id == stop_button_id || id == run_target_button_id ||
               id == stop_reading_button_id) {
        draw_primary_button(painter, item, pressed);
    } else if (id == result_detail_id) {
        draw_detail_panel(painter);
    } else if (id >= first_reading_tile_id && id <= last_reading_tile_id) {
        draw_row_tile(painter, static_cast<int>(id) - first_reading_tile_id);
    } else if (is_plain_button(id)) {
        draw_plain_button(painter, item);
    }
}

void delete_dc(HDC dc) { DeleteDC(dc); }
void delete_bitmap(HBITMAP bitmap) { DeleteObject(bitmap); }

}  // namespace

PaintHooks& paint_hooks() {
    static PaintHooks hooks;
    return hooks;
}

bool high_contrast_on() {
    if (paint_hooks().high_contrast) return paint_hooks().high_contrast();
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0)) return false;
    return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void fill_rect_color(HDC dc, const RECT& rect, COLORREF colour) {
    const COLORREF previous = SetDCBrushColor(dc, colour);
    FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    SetDCBrushColor(dc, previous);
}

void fill_round_rect(HDC dc, const RECT& rect, COLORREF fill, COLORREF border, int corner) {
    const SelectedObject brush(dc, GetStockObject(DC_BRUSH));
    const SelectedObject pen(dc, GetStockObject(DC_PEN));
    const COLORREF previous_fill = SetDCBrushColor(dc, fill);
    const COLORREF previous_border = SetDCPenColor(dc, border);
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, corner, corner);
    SetDCBrushColor(dc, previous_fill);
    SetDCPenColor(dc, previous_border);
}

void draw_line(HDC dc, int x1, int y1, int x2, int y2, COLORREF colour) {
    const SelectedObject pen(dc, GetStockObject(DC_PEN));
    const COLORREF previous = SetDCPenColor(dc, colour);
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
    SetDCPenColor(dc, previous);
}

void draw_card_frame(const Painter& painter, COLORREF fill, COLORREF border) {
    const RECT whole = pixel_box(painter, 0, 0, painter.width, painter.height);
    if (painter.disabled) {
        fill = window_colour;
        border = line_colour;
    }
    fill_round_rect(painter.dc, whole, fill, border, to_pixels(painter, 9));
}

int draw_text_in_box(const Painter& painter, int font_slot, COLORREF colour, int left, int top,
                     int right, int bottom, const std::wstring& text, UINT flags) {
    const UINT style = flags | ((flags & DT_WORDBREAK) != 0 ? wrapped_style : single_line_style);
    if (painter.disabled) colour = disabled_label_colour;
    if (paint_hooks().on_text) {
        paint_hooks().on_text(font_slot, colour, RECT{left, top, right, bottom}, text, style);
    }
    RECT box = pixel_box(painter, left, top, right, bottom);
    const HFONT font = painter.state->fonts[static_cast<std::size_t>(font_slot)];
    std::optional<SelectedObject> selected_font;
    if (font != nullptr) selected_font.emplace(painter.dc, font);
    const COLORREF previous_colour = SetTextColor(painter.dc, colour);
    const int previous_mode = SetBkMode(painter.dc, TRANSPARENT);
    const int result =
        DrawTextW(painter.dc, text.c_str(), static_cast<int>(text.size()), &box, style);
    SetBkMode(painter.dc, previous_mode);
    SetTextColor(painter.dc, previous_colour);
    return result;
}

void draw_glyph(const Painter& painter, wchar_t code_point, COLORREF colour, int left, int top,
                int width, int height) {
    Painter glyph_painter = painter;
    if (painter.disabled) {
        colour = disabled_glyph_colour;
        glyph_painter.disabled = false;  // the glyph grey, not the label grey
    }
    draw_text_in_box(glyph_painter, 6, colour, left, top, left + width, top + height,
                     std::wstring(1, code_point), DT_CENTER);
}

void paint_window_background(const MainWindowState& state, HDC dc) {
    RECT client{};
    GetClientRect(state.main_window, &client);
    fill_rect_color(dc, client, window_colour);
    const int width_dip = MulDiv(client.right, 96, state.dpi);
    const int navigation = state.nav_collapsed ? 60 : width_dip < 1080 ? 174 : 208;
    const int x = MulDiv(navigation, state.dpi, 96);
    draw_line(dc, x, 0, x, client.bottom, line_colour);
}

bool draw_owner_drawn_control(const MainWindowState& state, const DRAWITEMSTRUCT& item) {
    const int width = item.rcItem.right - item.rcItem.left;
    const int height = item.rcItem.bottom - item.rcItem.top;
    if (item.rcItem.right < 1 || item.rcItem.bottom < 1 || width < 1 || height < 1) return true;
    const HandleGuard<HDC> memory(CreateCompatibleDC(item.hDC), delete_dc);
    if (!memory) return false;
    const HandleGuard<HBITMAP> bitmap(CreateCompatibleBitmap(item.hDC, width, height),
                                      delete_bitmap);
    if (!bitmap) return false;
    {
        const SelectedObject selected_bitmap(memory.get(), bitmap.get());
        const bool disabled_button =
            item.CtlType == ODT_BUTTON && (item.itemState & ODS_DISABLED) != 0;
        const Painter painter{memory.get(), &state, MulDiv(width, 96, state.dpi),
                              MulDiv(height, 96, state.dpi), disabled_button};
        const RECT whole{0, 0, width, height};
        fill_rect_color(memory.get(), whole, window_colour);
        draw_control(painter, item);
        if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
            const RECT focus = pixel_box(painter, 3, 3, painter.width - 3, painter.height - 3);
            DrawFocusRect(memory.get(), &focus);
        }
        BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, width, height, memory.get(), 0, 0,
               SRCCOPY);
    }
    return true;
}

void update_app_traffic_series(MainWindowState& state, int direction, const nlohmann::json& series,
                               double rate_cap_mbps) {
    if (direction != 0 && direction != 1) return;
    std::vector<SeriesPoint> points = read_series_pairs(series);
    if (points.empty()) return;
    std::vector<SeriesPoint>& stored =
        direction == 0 ? state.summary.download_series : state.summary.upload_series;
    if (!stored.empty() && stored.size() == points.size()) return;
    stored = std::move(points);

    // The interval that holds the connection set-up shows no rate of the transfer itself.
    const std::vector<double> rates = transfer_interval_rates(stored);
    if (rates.empty()) return;
    const double latest = rates.back();
    (direction == 0 ? state.summary.download_mbps : state.summary.upload_mbps) = latest;
    state.chart_maximum =
        std::max(state.chart_maximum, nice_axis_maximum(std::max(latest, rate_cap_mbps)));
    TextCard& tile = state.summary.tiles[static_cast<std::size_t>(direction)];
    tile.subtitle = format_decimal(latest);
    tile.body = live_body;

    refresh_status_texts(state);
    for (int i = 0; i < 2; ++i) {
        const HWND control = state.dashboard_tiles[static_cast<std::size_t>(i)];
        if (control != nullptr) InvalidateRect(control, nullptr, FALSE);
    }
}

}  // namespace tarvisko
