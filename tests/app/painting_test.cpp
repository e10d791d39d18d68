// The owner-drawn painting rendered into memory bitmaps: the frame every item shares, the state
// colours, the DPI scaling, the texts each control hands to DrawTextW, the window background,
// and the live update of the speed tiles.
#include "app/painting.h"

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/b_paint_support.h"
#include "app/control_ids.h"
#include "app/results_list.h"

namespace tarvisko {
namespace {

using namespace paint_test;

constexpr COLORREF window_grey = rgb(0xF3F3F3);
constexpr COLORREF white = rgb(0xFFFFFF);
constexpr COLORREF border = rgb(0xE0E0E0);
constexpr COLORREF accent = rgb(0x0067C0);
constexpr COLORREF pressed_accent = rgb(0x005198);
constexpr COLORREF current_grey = rgb(0xE7E7E7);
constexpr COLORREF band_fill = rgb(0xE8F2FA);
constexpr COLORREF main_text = rgb(0x202020);
constexpr COLORREF secondary = rgb(0x616161);

using PaintFrame = PaintTest;

TEST_F(PaintFrame, ItemUnderOnePixelDrawsNothing) {
    Canvas canvas(40, 20);
    for (const RECT item : {RECT{0, 0, 0, 20}, RECT{0, 0, 40, 0}, RECT{0, 0, -5, 20}}) {
        DRAWITEMSTRUCT draw{};
        draw.CtlID = copy_code_button_id;
        draw.hDC = canvas.dc();
        draw.rcItem = item;
        EXPECT_TRUE(draw_owner_drawn_control(state, draw));
    }
    EXPECT_TRUE(canvas.all(untouched_colour));
}

TEST_F(PaintFrame, CardFrameCornersFillAndBorder) {
    Canvas canvas(120, 40);
    ASSERT_TRUE(render(canvas, copy_code_button_id));
    EXPECT_EQ(canvas.at(0, 0), window_grey);  // outside the rounded corner
    EXPECT_EQ(canvas.at(119, 39), window_grey);
    EXPECT_EQ(canvas.at(60, 0), border);
    EXPECT_EQ(canvas.at(0, 20), border);
    EXPECT_EQ(canvas.at(119, 20), border);
    EXPECT_EQ(canvas.at(60, 39), border);
    EXPECT_EQ(canvas.at(60, 20), white);
    EXPECT_EQ(canvas.at(5, 5), white);
    EXPECT_EQ(canvas.count(untouched_colour, RECT{0, 0, 120, 40}), 0);
}

TEST_F(PaintFrame, FocusRectangleOnlyForKeyboardFocus) {
    struct Case {
        UINT item_state;
        bool focus_drawn;
    };
    for (const Case c : {Case{0, false}, Case{ODS_FOCUS, true},
                         Case{ODS_FOCUS | ODS_NOFOCUSRECT, false}, Case{ODS_NOFOCUSRECT, false}}) {
        Canvas canvas(120, 40);
        ASSERT_TRUE(render(canvas, copy_code_button_id, c.item_state));
        // The dotted rectangle runs along (3, 3, w-3, h-3); the frame's fill is white there.
        const int changed = 114 - canvas.count(white, RECT{3, 3, 117, 4}) +
                            (34 - canvas.count(white, RECT{3, 3, 4, 37}));
        EXPECT_EQ(changed > 0, c.focus_drawn) << "item state " << c.item_state;
    }
}

TEST_F(PaintFrame, CornerIsFourteenPixelsAt144Dpi) {
    set_dpi(144);
    Canvas canvas(180, 60);
    ASSERT_TRUE(render(canvas, copy_code_button_id));
    const auto reference = [](int corner) {
        auto drawn = std::make_unique<Canvas>(180, 60);
        drawn->clear(window_grey);
        SelectObject(drawn->dc(), GetStockObject(DC_BRUSH));
        SelectObject(drawn->dc(), GetStockObject(DC_PEN));
        SetDCBrushColor(drawn->dc(), white);
        SetDCPenColor(drawn->dc(), border);
        RoundRect(drawn->dc(), 0, 0, 180, 60, corner, corner);
        return drawn;
    };
    EXPECT_TRUE(canvas.same_pixels(*reference(14)));
    EXPECT_FALSE(canvas.same_pixels(*reference(9)));
}

TEST_F(PaintFrame, BoxesScaleAt144Dpi) {
    set_dpi(144);
    state.wifi.recommendation.status = 3;
    Canvas canvas(300, 120);  // 200 by 80 DIP
    ASSERT_TRUE(render(canvas, wifi_recommendation_id));
    const COLORREF bad = rgb(0xC42B1C);
    // The bar (9, 12, 12, h-12) DIP is x 14..17 (13.5 rounds up) and y 18..101 in pixels.
    EXPECT_EQ(canvas.at(13, 60), white);
    EXPECT_EQ(canvas.at(14, 60), bad);
    EXPECT_EQ(canvas.at(17, 60), bad);
    EXPECT_EQ(canvas.at(18, 60), white);
    EXPECT_EQ(canvas.at(15, 17), white);
    EXPECT_EQ(canvas.at(15, 18), bad);
    EXPECT_EQ(canvas.at(15, 101), bad);
    EXPECT_EQ(canvas.at(15, 102), white);
    // Texts are handed over in DIP.
    const DrawnText* title = find_text(state.wifi.recommendation.title);
    ASSERT_NE(title, nullptr);
    EXPECT_TRUE(same_box(title->box, RECT{22, 4, 188, 44}));
}

using PaintStates = PaintTest;

TEST_F(PaintStates, NavigationButtonCurrentPressedAndPlain) {
    state.current_page = 3;
    struct Case {
        UINT id;
        UINT item_state;
        bool highlighted;
    };
    for (const Case c :
         {Case{first_nav_button_id + 3, 0, true}, Case{first_nav_button_id + 4, 0, false},
          Case{first_nav_button_id + 4, ODS_SELECTED, true},
          Case{first_nav_button_id + 3, ODS_DISABLED, true}}) {
        Canvas canvas(200, 40);
        ASSERT_TRUE(render(canvas, c.id, c.item_state));
        const COLORREF back = c.highlighted ? current_grey : window_grey;
        EXPECT_EQ(canvas.at(38, 2), back) << c.id;
        EXPECT_EQ(canvas.at(5, 20), back) << c.id;
        // The accent bar (1, h/2-8, 4, h/2+8).
        for (int x = 1; x <= 3; ++x) {
            EXPECT_EQ(canvas.at(x, 20) == accent, c.highlighted) << c.id << " x " << x;
        }
        EXPECT_EQ(canvas.at(2, 12) == accent, c.highlighted);
        EXPECT_EQ(canvas.at(2, 27) == accent, c.highlighted);
        EXPECT_NE(canvas.at(2, 11), accent);
        EXPECT_NE(canvas.at(2, 28), accent);
    }
}

TEST_F(PaintStates, NavigationBarScalesAt144Dpi) {
    set_dpi(144);
    state.current_page = 0;
    Canvas canvas(300, 60);  // 200 by 40 DIP
    ASSERT_TRUE(render(canvas, first_nav_button_id));
    // The bar (1, 12, 4, 28) DIP is x 2..5 and y 18..41 in pixels.
    EXPECT_EQ(canvas.at(1, 30), current_grey);
    EXPECT_EQ(canvas.at(2, 30), accent);
    EXPECT_EQ(canvas.at(5, 30), accent);
    EXPECT_EQ(canvas.at(6, 30), current_grey);
    EXPECT_EQ(canvas.at(3, 17), current_grey);
    EXPECT_EQ(canvas.at(3, 18), accent);
    EXPECT_EQ(canvas.at(3, 41), accent);
    EXPECT_EQ(canvas.at(3, 42), current_grey);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_TRUE(same_box(texts[1].box, RECT{42, 0, 196, 40}));  // boxes stay in DIP
}

TEST_F(PaintStates, NavigationGlyphAndLabelColours) {
    state.current_page = 3;
    struct Case {
        UINT id;
        UINT item_state;
        COLORREF glyph;
        COLORREF label;
    };
    for (const Case c :
         {Case{first_nav_button_id + 3, 0, accent, main_text},
          Case{first_nav_button_id + 4, 0, main_text, main_text},
          Case{first_nav_button_id + 4, ODS_DISABLED, rgb(0x8B8B8B), rgb(0x828282)},
          Case{first_nav_button_id + 3, ODS_DISABLED, rgb(0x8B8B8B), rgb(0x828282)}}) {
        Canvas canvas(200, 40);
        ASSERT_TRUE(render(canvas, c.id, c.item_state));
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0].slot, 6);
        EXPECT_EQ(texts[0].colour, c.glyph) << c.id;
        EXPECT_TRUE(same_box(texts[0].box, RECT{7, 0, 35, 40}));
        EXPECT_EQ(texts[1].text,
                  navigation_page_name(static_cast<int>(c.id) - first_nav_button_id));
        EXPECT_EQ(texts[1].slot, 1);
        EXPECT_EQ(texts[1].colour, c.label) << c.id;
        EXPECT_TRUE(same_box(texts[1].box, RECT{42, 0, 196, 40}));
    }
    // Collapsed, only the glyph.
    state.nav_collapsed = true;
    Canvas canvas(60, 40);
    ASSERT_TRUE(render(canvas, first_nav_button_id));
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, std::wstring(1, wchar_t{0xE80F}));
}

TEST_F(PaintStates, PrimaryButtonFillAndPressed) {
    struct Case {
        UINT id;
        UINT item_state;
        COLORREF fill;
        wchar_t glyph;
    };
    for (const Case c : {Case{start_button_id, 0, accent, 0xE768},
                         Case{start_button_id, ODS_SELECTED, pressed_accent, 0xE768},
                         Case{stop_button_id, 0, accent, 0xE71A},
                         Case{run_target_button_id, ODS_SELECTED, pressed_accent, 0xE768},
                         Case{stop_reading_button_id, 0, accent, 0xE768}}) {
        Canvas canvas(160, 36);
        const HWND control = control_with_text(L"Rozpocznij test");
        ASSERT_TRUE(render(canvas, c.id, c.item_state, control));
        EXPECT_EQ(canvas.at(80, 2), c.fill) << c.id << " " << c.item_state;
        EXPECT_EQ(canvas.at(80, 0), accent);
        EXPECT_EQ(canvas.at(0, 0), window_grey);
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0].text, std::wstring(1, c.glyph));
        EXPECT_EQ(texts[0].colour, white);
        EXPECT_EQ(texts[1].text, L"Rozpocznij test");
        EXPECT_EQ(texts[1].colour, white);
        EXPECT_TRUE(same_box(texts[1].box, RECT{36, 0, 153, 36}));
    }
}

TEST_F(PaintStates, SelectedBandButton) {
    state.wifi.wifi_band_index = 1;
    for (UINT id : {340u, 341u, 342u}) {
        Canvas canvas(100, 32);
        ASSERT_TRUE(render(canvas, id, 0, control_with_text(L"5 GHz")));
        const bool selected = id == first_band_button_id + 1;
        EXPECT_EQ(canvas.at(50, 2), selected ? band_fill : white) << id;
        EXPECT_EQ(canvas.at(50, 0), selected ? accent : border) << id;
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].colour, selected ? accent : main_text);
        EXPECT_EQ(texts[0].slot, 1);
        EXPECT_NE(texts[0].flags & DT_CENTER, 0u);
    }
}

// Every owner-drawn button shows when it is disabled: a flat window-grey face with a grey border,
// its texts in #828282 and its glyphs in #8B8B8B, whatever it shows when enabled (the primary
// blue, a selected band, a verdict colour). The navigation buttons keep their own flat look.
TEST_F(PaintStates, EveryOwnerDrawnButtonDrawsItsDisabledState) {
    std::vector<UINT> framed{start_button_id,        stop_button_id,      run_target_button_id,
                             stop_reading_button_id, copy_code_button_id, report_button_id,
                             summary_button_id,      export_button_id,    save_target_button_id,
                             conclusion_button_id};
    for (UINT id = compare_route_button_id; id <= resource_monitor_button_id; ++id)
        framed.push_back(id);
    for (UINT id = wifi_scan_button_id; id <= channel_help_button_id; ++id) framed.push_back(id);
    for (UINT id = first_band_button_id; id <= last_band_button_id; ++id) framed.push_back(id);
    for (UINT id = wifi_details_button_id; id <= wifi_compare_button_id; ++id) framed.push_back(id);
    for (UINT id = first_dashboard_tile_id; id <= last_dashboard_tile_id; ++id)
        framed.push_back(id);
    for (UINT id = first_section_card_id; id <= last_section_card_id; ++id) framed.push_back(id);
    state.wifi.wifi_band_index = 0;
    state.summary.sections[0].status = 3;
    state.summary.download_mbps = 50.0;
    state.chart_maximum = 100.0;
    const HWND control = control_with_text(L"Zapisz cel");
    for (const UINT id : framed) {
        SCOPED_TRACE(id);
        Canvas enabled(160, 120);
        ASSERT_TRUE(render(enabled, id, 0, control));
        Canvas disabled(160, 120);
        ASSERT_TRUE(render(disabled, id, ODS_DISABLED, control));
        EXPECT_FALSE(disabled.same_pixels(enabled));
        EXPECT_NE(enabled.at(80, 2), window_grey);
        EXPECT_EQ(disabled.at(80, 2), window_grey);
        EXPECT_EQ(disabled.at(80, 0), border);
        ASSERT_FALSE(texts.empty());
        for (const DrawnText& text : texts) {
            EXPECT_EQ(text.colour, text.slot == 6 ? rgb(0x8B8B8B) : rgb(0x828282)) << text.text;
        }
    }
    // The collapse button is a bare glyph.
    Canvas toggle(40, 40);
    ASSERT_TRUE(render(toggle, nav_toggle_button_id, ODS_DISABLED));
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].colour, rgb(0x8B8B8B));
}

// Statics are never drawn as disabled buttons, even with the flag.
TEST_F(PaintStates, DisabledStaticKeepsItsLook) {
    Canvas canvas(120, 56);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_STATIC;
    item.CtlID = result_detail_id;
    item.itemState = ODS_DISABLED;
    item.hDC = canvas.dc();
    item.rcItem = RECT{0, 0, 120, 56};
    texts.clear();
    ASSERT_TRUE(draw_owner_drawn_control(state, item));
    EXPECT_EQ(canvas.at(60, 2), white);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0].colour, secondary);
}

TEST_F(PaintStates, WifiVerdictBars) {
    struct Case {
        UINT id;
        Verdict verdict;
        int bar_top;
    };
    for (const Case c : {Case{wifi_recommendation_id, 1, 12}, Case{wifi_recommendation_id, 2, 12},
                         Case{wifi_comparison_id, 3, 9}, Case{wifi_comparison_id, 0, 9}}) {
        (c.id == wifi_recommendation_id ? state.wifi.recommendation : state.wifi.comparison)
            .status = c.verdict;
        Canvas canvas(300, 60);
        ASSERT_TRUE(render(canvas, c.id));
        const COLORREF colour = c.verdict == 1   ? rgb(0x107C10)
                                : c.verdict == 2 ? rgb(0x9D5D00)
                                : c.verdict == 3 ? rgb(0xC42B1C)
                                                 : secondary;
        EXPECT_EQ(canvas.at(9, 30), colour) << c.id;
        EXPECT_EQ(canvas.at(11, 30), colour);
        EXPECT_EQ(canvas.at(12, 30), white);
        EXPECT_EQ(canvas.at(8, 30), white);
        EXPECT_EQ(canvas.at(10, c.bar_top), colour);
        EXPECT_EQ(canvas.at(10, c.bar_top - 1), white);
        EXPECT_EQ(canvas.at(10, 60 - c.bar_top - 1), colour);
        EXPECT_EQ(canvas.at(10, 60 - c.bar_top), white);
    }
}

TEST_F(PaintStates, HeaderLogoWithoutIcon) {
    state.app_title = L"Tarvisko";
    Canvas canvas(220, 44);
    ASSERT_TRUE(render(canvas, app_title_label_id));
    EXPECT_EQ(canvas.at(8, 22), accent);
    EXPECT_EQ(canvas.at(22, 8), accent);
    EXPECT_EQ(canvas.at(40, 22), window_grey);
    const DrawnText* title = find_text(L"Tarvisko");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->slot, 2);
    EXPECT_TRUE(same_box(title->box, RECT{45, 0, 220, 44}));
}

TEST_F(PaintStates, StatusLineTopRule) {
    Canvas canvas(300, 24);
    ASSERT_TRUE(render(canvas, status_bar_id, 0, control_with_text(L"Gotowy")));
    EXPECT_EQ(canvas.at(0, 0), border);
    EXPECT_EQ(canvas.at(299, 0), border);
    EXPECT_EQ(canvas.at(150, 1), window_grey);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, L"Gotowy");
    EXPECT_EQ(texts[0].slot, 5);
    EXPECT_EQ(texts[0].colour, secondary);
}

TEST(PaintBackground, SeparatorAtNavigationWidth) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"TarviskoPaintBackground";
    RegisterClassW(&window_class);
    const HWND host = CreateWindowExW(0, L"TarviskoPaintBackground", L"", WS_OVERLAPPED, 0, 0, 100,
                                      100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(host, nullptr);
    struct Case {
        bool collapsed;
        int width_dip;
        int dpi;
        int separator_x;
    };
    for (const Case c :
         {Case{true, 1200, 96, 60}, Case{false, 1079, 96, 174}, Case{false, 1080, 96, 208},
          Case{true, 900, 144, 90}, Case{false, 1079, 144, 261}, Case{false, 1300, 144, 312}}) {
        // A child is never held to the screen's size, so any client width can be had.
        const int width = MulDiv(c.width_dip, c.dpi, 96);
        const HWND child =
            CreateWindowExW(0, L"TarviskoPaintBackground", L"", WS_CHILD, 0, 0, width, 40, host,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
        MainWindowState state = ui_state_init();
        state.main_window = child;
        state.dpi = c.dpi;
        state.nav_collapsed = c.collapsed;
        Canvas canvas(width, 40);
        paint_window_background(state, canvas.dc());
        EXPECT_EQ(canvas.at(c.separator_x, 0), border) << c.width_dip << " at " << c.dpi;
        EXPECT_EQ(canvas.at(c.separator_x, 39), border);
        EXPECT_EQ(canvas.at(c.separator_x - 1, 20), window_grey);
        EXPECT_EQ(canvas.at(c.separator_x + 1, 20), window_grey);
        EXPECT_EQ(canvas.count(border, RECT{0, 20, width, 21}), 1);
        DestroyWindow(child);
    }
    DestroyWindow(host);
}

using PaintTexts = PaintTest;

TEST_F(PaintTexts, ValueTileUnitsAndPlaceholder) {
    struct Case {
        UINT id;
        std::wstring subtitle;
        std::wstring shown;
    };
    for (const Case& c :
         {Case{first_value_tile_id, L"—", L"—"}, Case{first_value_tile_id, L"12,5", L"12,5 ms"},
          Case{first_value_tile_id + 1, L"3", L"3 ms"},
          Case{first_value_tile_id + 2, L"0,5", L"0,5 %"},
          Case{first_value_tile_id + 2, L"—", L"—"}}) {
        state.summary.tiles[c.id - first_dashboard_tile_id].title = L"Tytuł";
        state.summary.tiles[c.id - first_dashboard_tile_id].subtitle = c.subtitle;
        Canvas canvas(160, 64);
        ASSERT_TRUE(render(canvas, c.id));
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0].text, L"Tytuł");
        EXPECT_EQ(texts[0].slot, 0);
        EXPECT_EQ(texts[1].text, c.shown) << c.id;
        EXPECT_EQ(texts[1].slot, 2);
        EXPECT_TRUE(same_box(texts[1].box, RECT{10, 28, 155, 60}));
    }
}

TEST_F(PaintTexts, SpeedTileUnitLabelAndGauge) {
    struct Case {
        std::optional<double> value;
        bool has_report;
        const wchar_t* unit;
    };
    state.chart_maximum = 100.0;
    for (const Case c :
         {Case{std::nullopt, false, L"Mb/s"}, Case{std::nullopt, true, L"Mb/s"},
          Case{87.0, true, L"Średnia · Mb/s"}, Case{87.0, false, L"Chwilowa · Mb/s"}}) {
        for (const UINT id : {240u, 241u}) {
            state.summary.has_report = c.has_report;
            (id == download_tile_id ? state.summary.download_mbps : state.summary.upload_mbps) =
                c.value;
            (id == download_tile_id ? state.summary.upload_mbps : state.summary.download_mbps) =
                5.0;
            state.summary.tiles[id - first_dashboard_tile_id].subtitle = L"87";
            Canvas canvas(240, 180);
            ASSERT_TRUE(render(canvas, id));
            ASSERT_FALSE(texts.empty());
            EXPECT_EQ(texts.back().text, c.unit) << id;
            EXPECT_EQ(texts.back().slot, 5);
            // g = (180 + 21) / 2 = 100; the value box ends at min(g + 42, h - 17) = 142.
            EXPECT_TRUE(same_box(texts.back().box, RECT{0, 142, 240, 177}));
            const DrawnText* value = find_text(L"87");
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(value->slot, 3);
            // Between the scale's end labels beside the arc's ends (centre 120 +- 69 + 3).
            EXPECT_TRUE(same_box(value->box, RECT{48, 104, 192, 142}))
                << value->box.left << "," << value->box.right;
            ASSERT_EQ(gauges.size(), 1u);
            EXPECT_EQ(gauges[0].centre.x, 120);
            EXPECT_EQ(gauges[0].centre.y, 100);
            EXPECT_EQ(gauges[0].radius, 80);  // min(w/3, g-14)
            EXPECT_EQ(gauges[0].scale_maximum, 100.0);
            EXPECT_EQ(gauges[0].value, c.value);
        }
    }
    // A low tile: the value in slot 2, the radius bound by the height.
    set_dpi(144);
    Canvas canvas(360, 180);  // 240 by 120 DIP
    ASSERT_TRUE(render(canvas, download_tile_id));
    EXPECT_EQ(find_text(L"87")->slot, 2);
    ASSERT_EQ(gauges.size(), 1u);
    EXPECT_EQ(gauges[0].radius, MulDiv(70 - 14, 144, 96));
    EXPECT_EQ(gauges[0].centre.y, MulDiv(70, 144, 96));
}

TEST_F(PaintTexts, SectionCardsTakeTwoLinesOnlyForLongVerdicts) {
    struct Case {
        UINT id;
        std::size_t length;
        bool two_lines;
    };
    for (const Case c :
         {Case{first_section_card_id + 4, 27, true}, Case{first_section_card_id + 4, 26, false},
          Case{first_section_card_id + 5, 27, true}, Case{first_section_card_id + 6, 40, true},
          Case{first_section_card_id, 40, false}, Case{first_section_card_id + 3, 27, false},
          Case{first_section_card_id + 7, 60, false}}) {
        TextCard& card = state.summary.sections[c.id - first_section_card_id];
        card.title = L"DNS";
        card.subtitle = std::wstring(c.length, L'x');
        card.status = 2;
        Canvas canvas(300, 48);
        ASSERT_TRUE(render(canvas, c.id));
        const DrawnText* title = find_text(L"DNS");
        const DrawnText* subtitle = find_text(card.subtitle);
        ASSERT_NE(title, nullptr);
        ASSERT_NE(subtitle, nullptr);
        EXPECT_EQ(subtitle->colour, rgb(0x9D5D00));
        if (c.two_lines) {
            EXPECT_TRUE(same_box(title->box, RECT{38, 1, 275, 26})) << c.id << " " << c.length;
            EXPECT_TRUE(same_box(subtitle->box, RECT{38, 24, 275, 47}));
        } else {
            EXPECT_TRUE(same_box(title->box, RECT{38, 0, 159, 48})) << c.id << " " << c.length;
            EXPECT_TRUE(same_box(subtitle->box, RECT{159, 0, 276, 48}));
            EXPECT_NE(subtitle->flags & DT_RIGHT, 0u);
        }
        // Glyph first, chevron last.
        EXPECT_EQ(texts.front().slot, 6);
        EXPECT_EQ(texts.back().text, std::wstring(1, wchar_t{0xE76C}));
    }
}

TEST_F(PaintTexts, ConclusionCardLines) {
    state.summary.headline = L"Połączenie działa dobrze.";
    state.summary.overall_status = 1;
    struct Case {
        std::wstring advice;
        int height;
        bool two_lines;
    };
    for (const Case& c : {Case{L"Nic nie trzeba robić.", 35, false}, Case{L"", 48, false},
                          Case{L"Nic nie trzeba robić.", 36, true}}) {
        state.summary.advice = c.advice;
        Canvas canvas(400, c.height);
        ASSERT_TRUE(render(canvas, conclusion_button_id));
        EXPECT_EQ(texts.front().colour, rgb(0x107C10));  // the glyph in the verdict colour
        const DrawnText* title = find_text(state.summary.headline);
        ASSERT_NE(title, nullptr);
        EXPECT_EQ(title->slot, 1);
        if (c.two_lines) {
            EXPECT_TRUE(same_box(title->box, RECT{41, 1, 372, c.height / 2 + 2}));
            const DrawnText* advice = find_text(c.advice);
            ASSERT_NE(advice, nullptr);
            EXPECT_EQ(advice->slot, 5);
        } else {
            EXPECT_TRUE(same_box(title->box, RECT{41, 0, 372, c.height})) << c.height;
            EXPECT_EQ(texts.size(), 3u);  // glyph, title, chevron
        }
    }
}

TEST_F(PaintTexts, EstimateAndQualityCardsFallBackToWindowText) {
    Canvas canvas(500, 150);
    ASSERT_TRUE(
        render(canvas, estimate_panel_id, 0, control_with_text(L"Wykonaj test, aby zobaczyć.")));
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, L"Wykonaj test, aby zobaczyć.");
    EXPECT_EQ(texts[0].colour, secondary);
    EXPECT_TRUE(same_box(texts[0].box, RECT{14, 0, 486, 150}));

    ASSERT_TRUE(render(canvas, connection_quality_card_id, 0,
                       control_with_text(L"Wykonaj test, aby sprawdzić.")));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].text, L"Jakość połączenia w spoczynku");
    EXPECT_EQ(texts[1].text, L"Wykonaj test, aby sprawdzić.");
    EXPECT_TRUE(same_box(texts[1].box, RECT{14, 35, 486, 65}));
}

TEST_F(PaintTexts, EstimateColumnsAndQualityRatings) {
    state.summary_cards.emplace(TextCard{L"Plik 1 GB", L"1 min 20 s", L"przy 100 Mb/s", 0},
                                TextCard{L"Filmy 4K", L"4 naraz", L"po 25 Mb/s", 0});
    Canvas canvas(500, 70);
    ASSERT_TRUE(render(canvas, estimate_panel_id, 0, control_with_text(L"ignored")));
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_TRUE(same_box(texts[0].box, RECT{14, 4, 240, 23}));
    EXPECT_TRUE(same_box(texts[3].box, RECT{264, 4, 490, 23}));
    EXPECT_EQ(texts[4].text, L"4 naraz");
    EXPECT_EQ(texts[5].slot, 5);
    EXPECT_TRUE(same_box(texts[5].box, RECT{264, 44, 490, 67}));
    EXPECT_EQ(canvas.at(250, 35), border);  // the divider at w/2

    IdleQualityCard quality;
    quality.tiles = {TextCard{L"Ping do serwera", L"12 ms", L"", 1},
                     TextCard{L"Wahania pingu", L"9 ms", L"", 2},
                     TextCard{L"Bez odpowiedzi na ping", L"brak danych", L"", 0}};
    quality.profile_line = L"Profil: światłowód";
    quality.sentence = L"Połączenie jest stabilne.";
    state.summary.idle_quality = quality;
    Canvas card(600, 140);
    ASSERT_TRUE(render(card, connection_quality_card_id, 0, control_with_text(L"ignored")));
    EXPECT_EQ(find_text(L"ignored"), nullptr);
    const DrawnText* heading = find_text(L"Profil: światłowód");
    ASSERT_NE(heading, nullptr);
    EXPECT_NE(heading->flags & DT_RIGHT, 0u);
    const DrawnText* good = find_text(L"Dobrze");
    const DrawnText* warning = find_text(L"Uwaga");
    const DrawnText* none = find_text(L"Za mało danych");
    ASSERT_TRUE(good && warning && none);
    EXPECT_EQ(good->colour, rgb(0x107C10));
    EXPECT_EQ(warning->colour, rgb(0x9D5D00));
    EXPECT_TRUE(same_box(warning->box, RECT{214, 68, 392, 85}));
    EXPECT_EQ(find_text(L"9 ms")->colour, rgb(0x9D5D00));
    const DrawnText* footer = find_text(L"Połączenie jest stabilne.");
    ASSERT_NE(footer, nullptr);
    EXPECT_NE(footer->flags & DT_WORDBREAK, 0u);
    EXPECT_EQ(footer->flags & DT_SINGLELINE, 0u);
    EXPECT_EQ(card.at(200, 40), border);  // dividers at w/3 and 2w/3
    EXPECT_EQ(card.at(400, 80), border);
    EXPECT_EQ(card.at(200, 86), white);
}

TEST_F(PaintTexts, SingleLineStyleUnlessWrapped) {
    Canvas canvas(200, 40);
    ASSERT_TRUE(render(canvas, copy_code_button_id, 0, control_with_text(L"Kopiuj kod")));
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].flags, static_cast<UINT>(DT_CENTER | DT_SINGLELINE | DT_VCENTER |
                                                DT_END_ELLIPSIS | DT_NOPREFIX));
}

TEST_F(PaintTexts, WifiChartDrawnInsideItsFrame) {
    // Without networks the chart still draws its axes inside the frame.
    Canvas canvas(420, 220);
    ASSERT_TRUE(render(canvas, wifi_chart_id));
    EXPECT_EQ(canvas.at(0, 0), window_grey);
    EXPECT_EQ(canvas.at(210, 0), border);
    EXPECT_GT(canvas.count(white, RECT{0, 0, 420, 220}), 0);
    const int other = 420 * 220 - canvas.count(white, RECT{0, 0, 420, 220}) -
                      canvas.count(window_grey, RECT{0, 0, 420, 220}) -
                      canvas.count(border, RECT{0, 0, 420, 220});
    EXPECT_GT(other, 0);
}

using LiveTiles = PaintTest;

nlohmann::json trace(int pairs) {
    // 1,250,000 bytes every second: 10 Mb/s.
    nlohmann::json series = nlohmann::json::array();
    for (int i = 0; i < pairs; ++i) series.push_back({i * 1000, i * 1250000});
    return series;
}

TEST_F(LiveTiles, NewPointsUpdateTileGaugeAndScale) {
    state.chart_maximum = 10.0;
    update_app_traffic_series(state, 0, trace(4), 35.0);
    ASSERT_EQ(state.summary.download_series.size(), 3u);
    ASSERT_TRUE(state.summary.download_mbps.has_value());
    EXPECT_DOUBLE_EQ(*state.summary.download_mbps, 10.0);
    EXPECT_EQ(state.chart_maximum, 50.0);  // the cap of 35 Mb/s rounds up
    EXPECT_EQ(state.summary.tiles[0].subtitle, L"10");
    EXPECT_EQ(state.summary.tiles[0].body,
              L"Chwilowy transfer aplikacji, obliczony z przyrostu licznika bajtów i czasu "
              L"między odczytami.");
    EXPECT_TRUE(state.summary.upload_series.empty());

    // Upload: while only the interval that holds the connection set-up is known, the series is
    // kept but no rate is shown; then a fractional rate with a decimal comma. A low cap never
    // shrinks the scale.
    const TextCard idle_tile = state.summary.tiles[1];
    nlohmann::json upload = nlohmann::json::array({{0, 0}, {1000, 1000}});
    update_app_traffic_series(state, 1, upload, 1.0);
    EXPECT_EQ(state.summary.upload_series.size(), 1u);
    EXPECT_FALSE(state.summary.upload_mbps.has_value());
    EXPECT_EQ(state.summary.tiles[1], idle_tile);
    upload.push_back({2000, 1563500});
    update_app_traffic_series(state, 1, upload, 1.0);
    EXPECT_EQ(state.summary.tiles[1].subtitle, L"12,5");
    EXPECT_EQ(state.chart_maximum, 50.0);
}

TEST_F(LiveTiles, SameLengthOrUnreadableSeriesChangesNothing) {
    update_app_traffic_series(state, 0, trace(3), 0.0);
    const SummaryModel before = state.summary;
    const double maximum = state.chart_maximum;
    nlohmann::json faster = nlohmann::json::array({{0, 0}, {1000, 1250000}, {2000, 99000000}});
    update_app_traffic_series(state, 0, faster, 500.0);
    EXPECT_EQ(state.summary, before);
    EXPECT_EQ(state.chart_maximum, maximum);
    for (const nlohmann::json& bad :
         {nlohmann::json::array(), nlohmann::json::array({{0, 0}}), nlohmann::json("x"),
          nlohmann::json::array({{0, 0}, {1000, 5}, {500, 9}})}) {
        update_app_traffic_series(state, 0, bad, 500.0);
        EXPECT_EQ(state.summary, before) << bad.dump();
    }
    update_app_traffic_series(state, 2, trace(6), 500.0);
    EXPECT_EQ(state.summary, before);
}

}  // namespace
}  // namespace tarvisko
