#pragma once
// Drawing owner-drawn items into a memory bitmap and reading pixels back, with the fonts of the
// window made here, and recording what the painting hands to the text and gauge hooks.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window_state.h"
#include "app/painting.h"
#include "support/window_harness.h"

namespace tarvisko::paint_test {

constexpr COLORREF rgb(unsigned hex) {
    return RGB((hex >> 16) & 0xFF, (hex >> 8) & 0xFF, hex & 0xFF);
}
// Nothing the painting uses: shows whether a pixel was touched.
constexpr COLORREF untouched_colour = rgb(0xFF00FF);

// The window harness's DIB, cleared to a colour the painting never uses, with the checks the
// painting tests read.
class Canvas : public test::Dib {
  public:
    Canvas(int width, int height) : Dib(width, height) { fill(untouched_colour); }

    COLORREF at(int x, int y) const { return pixel(x, y); }
    void clear(COLORREF colour) { fill(colour); }
    bool all(COLORREF colour) const {
        return count(colour, RECT{0, 0, width(), height()}) == width() * height();
    }
    bool same_pixels(const Canvas& other) const {
        if (other.width() != width() || other.height() != height()) return false;
        for (int y = 0; y < height(); ++y) {
            for (int x = 0; x < width(); ++x) {
                if (pixel(x, y) != other.pixel(x, y)) return false;
            }
        }
        return true;
    }
};

struct DrawnText {
    int slot = 0;
    COLORREF colour = 0;
    RECT box{};
    std::wstring text;
    UINT flags = 0;
};

struct GaugeCall {
    POINT centre{};
    int radius = 0;
    double scale_maximum = 0.0;
    std::optional<double> value;
};

inline bool same_box(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// A window state with the window's eight fonts at a chosen DPI and the hooks recording; the
// hooks are emptied again at the end of every test.
class PaintTest : public ::testing::Test {
  protected:
    void SetUp() override {
        paint_hooks().on_text = [this](int slot, COLORREF colour, RECT box,
                                       const std::wstring& text, UINT flags) {
            texts.push_back({slot, colour, box, text, flags});
        };
        paint_hooks().on_gauge = [this](POINT centre, int radius, double maximum,
                                        std::optional<double> value) {
            gauges.push_back({centre, radius, maximum, value});
        };
        set_dpi(96);
    }
    void TearDown() override {
        paint_hooks() = PaintHooks{};
        delete_fonts();
        for (HWND window : windows_) DestroyWindow(window);
    }

    void set_dpi(int dpi) {
        delete_fonts();
        state.dpi = dpi;
        static constexpr std::array<int, 8> heights{13, 14, 19, 28, 34, 12, 17, 15};
        for (std::size_t slot = 0; slot < heights.size(); ++slot) {
            const bool semibold = slot >= 2 && slot <= 4;
            state.fonts[slot] =
                CreateFontW(-MulDiv(heights[slot], dpi, 96), 0, 0, 0,
                            semibold ? FW_SEMIBOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                            CLEARTYPE_QUALITY, 0, slot == 6 ? L"Segoe MDL2 Assets" : L"Segoe UI");
        }
    }

    // A hidden window carrying `text`, standing in for the control whose window text is drawn.
    HWND control_with_text(const std::wstring& text) {
        const HWND window = CreateWindowExW(0, L"STATIC", text.c_str(), WS_POPUP, 0, 0, 10, 10,
                                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        windows_.push_back(window);
        return window;
    }
    void keep_window(HWND window) { windows_.push_back(window); }

    // Draws control `id` over the whole canvas; the recorded texts start afresh.
    bool render(Canvas& canvas, UINT id, UINT item_state = 0, HWND control = nullptr) {
        texts.clear();
        gauges.clear();
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.CtlID = id;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = item_state;
        item.hwndItem = control;
        item.hDC = canvas.dc();
        item.rcItem = RECT{0, 0, canvas.width(), canvas.height()};
        return draw_owner_drawn_control(state, item);
    }

    const DrawnText* find_text(const std::wstring& text) const {
        for (const DrawnText& drawn : texts) {
            if (drawn.text == text) return &drawn;
        }
        return nullptr;
    }
    std::vector<DrawnText> texts_in_slot(int slot) const {
        std::vector<DrawnText> found;
        for (const DrawnText& drawn : texts) {
            if (drawn.slot == slot) found.push_back(drawn);
        }
        return found;
    }

    MainWindowState state = ui_state_init();
    std::vector<DrawnText> texts;
    std::vector<GaugeCall> gauges;

  private:
    void delete_fonts() {
        for (HFONT& font : state.fonts) {
            if (font != nullptr) DeleteObject(font);
            font = nullptr;
        }
    }
    std::vector<HWND> windows_;
};

}  // namespace tarvisko::paint_test
