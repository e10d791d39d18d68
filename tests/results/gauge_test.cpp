#include "results/gauge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "support/dib.h"

namespace tarvisko {
namespace {

constexpr COLORREF rgb(unsigned hex) {
    return RGB((hex >> 16) & 0xFF, (hex >> 8) & 0xFF, hex & 0xFF);
}
constexpr COLORREF unfilled = rgb(0xDEE6E2);
constexpr COLORREF needle = rgb(0x104F46);
constexpr COLORREF white = rgb(0xFFFFFF);
constexpr COLORREF label_ink = rgb(0x3C4B45);
constexpr COLORREF background = rgb(0x808080);

// A bitmap filled with `background`, which the gauge never paints.
class Canvas : public test::Dib {
  public:
    Canvas(int width, int height) : Dib(width, height) { clear(); }

    bool ready() const { return dc() != nullptr && pixel(0, 0) != CLR_INVALID; }
    void clear() { fill(background); }
    COLORREF at(POINT p) const { return pixel(p.x, p.y); }
    bool untouched() const {
        return count(background, RECT{0, 0, width(), height()}) == width() * height();
    }
};

// Label glyphs in exactly the label colour: no smoothing.
HFONT label_font(int dpi) {
    return CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       NONANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
}

double angle_at(double p) { return (8.0 * p + 5.0) * std::numbers::pi / 6.0; }

POINT at_distance(POINT centre, double distance, double angle) {
    return {centre.x + std::lround(distance * std::cos(angle)),
            centre.y + std::lround(distance * std::sin(angle))};
}

// The middle of segment i of the band, radius - 3.5 DIP out.
POINT segment_middle(POINT centre, int radius, int i) {
    return at_distance(centre, radius - 3.5, angle_at((i + 0.5) / 120.0));
}

COLORREF gradient(int i) {
    const double n = std::cos(angle_at((i + 0.5) / 120.0)) * 0.5 + 0.5;
    if (n <= 0.55) return lerp_rgb(rgb(0x15806A), rgb(0x2D7D6B), n / 0.55);
    return lerp_rgb(rgb(0x2D7D6B), rgb(0x9E6B24), (n - 0.55) / 0.45);
}

constexpr POINT centre{200, 200};
constexpr int radius = 150;
constexpr double maximum = 100.0;
const double inf = std::numeric_limits<double>::infinity();

TEST(Gauge, LerpRgbPerChannel) {
    EXPECT_EQ(lerp_rgb(RGB(0, 0, 0), RGB(255, 255, 255), 0.5), RGB(128, 128, 128));
    EXPECT_EQ(lerp_rgb(RGB(10, 200, 30), RGB(20, 100, 60), 0.0), RGB(10, 200, 30));
    EXPECT_EQ(lerp_rgb(RGB(10, 200, 30), RGB(20, 100, 60), 1.0), RGB(20, 100, 60));
    EXPECT_EQ(lerp_rgb(RGB(10, 200, 30), RGB(20, 100, 60), 0.25), RGB(13, 175, 38));
    // The gradient at the left end, the top and the right end of the arc.
    EXPECT_EQ(gradient(0), rgb(0x18806A));
    EXPECT_EQ(gradient(59), rgb(0x2A7D6B));
    EXPECT_EQ(gradient(119), rgb(0x8E6E2E));
}

TEST(Gauge, FillsSegmentsAndPointsTheNeedle) {
    Canvas canvas(400, 400);
    ASSERT_TRUE(canvas.ready());
    HFONT font = label_font(96);
    struct Case {
        const char* name;
        std::optional<double> value;
        int filled;
        std::optional<double> needle_degrees;
    };
    const std::vector<Case> cases = {
        {"the maximum", maximum, 120, 390.0},
        {"zero", 0.0, 0, 150.0},
        {"a quarter of the maximum: straight up", maximum / 4, 60, 270.0},
        {"a negative value reads as 0", -12.0, 0, 150.0},
        {"above the maximum reads as the maximum", maximum * 3, 120, 390.0},
        {"an infinite value stands at the maximum", inf, 120, 390.0},
        {"minus infinity stands at 0", -inf, 0, 150.0},
        {"no value", std::nullopt, 0, std::nullopt},
        {"NaN reads as no value", std::nan(""), 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        canvas.clear();
        paint_results_gauge(canvas.dc(), centre, radius, 96, font, maximum, c.value);
        for (int i = 0; i < 120; ++i) {
            const COLORREF expected = i < c.filled ? gradient(i) : unfilled;
            ASSERT_EQ(canvas.at(segment_middle(centre, radius, i)), expected) << "segment " << i;
        }
        // Hub: a dark disc of 5 DIP with a white one of 2 DIP; nothing without a value.
        EXPECT_EQ(canvas.at(centre), c.needle_degrees ? white : background);
        EXPECT_EQ(canvas.at({centre.x + 4, centre.y}), c.needle_degrees ? needle : background);
        if (!c.needle_degrees) {
            EXPECT_EQ(canvas.at(at_distance(centre, 60, angle_at(0.5))), background);
            continue;
        }
        const double angle = *c.needle_degrees * std::numbers::pi / 180.0;
        // Along the needle up to near its tip (radius - 22 DIP), and beside it nothing.
        for (const int d : {10, 60, 120}) {
            EXPECT_EQ(canvas.at(at_distance(centre, d, angle)), needle) << "distance " << d;
        }
        EXPECT_EQ(canvas.at(at_distance(centre, 60, angle + 0.3)), background);
        EXPECT_EQ(canvas.at(at_distance(centre, 60, angle - 0.3)), background);
    }
    DeleteObject(font);
}

TEST(Gauge, DrawsNothingWhenItCannot) {
    Canvas canvas(400, 400);
    ASSERT_TRUE(canvas.ready());
    HFONT font = label_font(144);
    struct Case {
        const char* name;
        int radius;
        int dpi;
        double maximum;
    };
    const std::vector<Case> cases = {
        {"26 DIP", 26, 96, 100.0},
        {"26 DIP at 144 dpi", 39, 144, 100.0},
        {"a maximum of 0", 150, 96, 0.0},
        {"a negative maximum", 150, 96, -10.0},
        {"a NaN maximum", 150, 96, std::nan("")},
        {"an infinite maximum", 150, 96, inf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        canvas.clear();
        paint_results_gauge(canvas.dc(), centre, c.radius, c.dpi, font, c.maximum, 50.0);
        EXPECT_TRUE(canvas.untouched());
    }
    // 27 DIP is enough, at either dpi.
    for (const auto& [r, dpi] : {std::pair{27, 96}, std::pair{41, 144}}) {
        canvas.clear();
        paint_results_gauge(canvas.dc(), centre, r, dpi, font, 100.0, 50.0);
        EXPECT_FALSE(canvas.untouched()) << r << " px at " << dpi;
    }
    paint_results_gauge(nullptr, centre, 150, 96, font, 100.0, 50.0);  // no DC: nothing, no fault
    DeleteObject(font);
}

// Label ink per box of `labels`, and the ink outside all of them.
struct LabelInk {
    std::vector<int> inside;
    int stray = 0;
};
LabelInk label_ink_of(const Canvas& canvas, const std::vector<GaugeLabel>& labels) {
    LabelInk ink;
    ink.inside.assign(labels.size(), 0);
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            if (canvas.at({x, y}) != label_ink) continue;
            bool inside = false;
            for (std::size_t b = 0; b < labels.size(); ++b) {
                const RECT& box = labels[b].box;
                if (x >= box.left && x < box.right && y >= box.top && y < box.bottom) {
                    ++ink.inside[b];
                    inside = true;
                }
            }
            if (!inside) ++ink.stray;
        }
    }
    return ink;
}

TEST(Gauge, KeepsTheLabelsThatFitTheRadius) {
    const std::vector<double> marks = {0.0, 0.01, 0.05, 0.1, 0.25, 0.5, 1.0};
    struct Case {
        int radius_dip;
        std::vector<double> kept;
    };
    const std::vector<Case> cases = {
        {40, {0.0, 0.25, 1.0}},
        {60, {0.0, 0.05, 0.25, 0.5, 1.0}},
        {65, marks},
    };
    for (const int dpi : {96, 144}) {
        HFONT font = label_font(dpi);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.radius_dip) + " DIP at " + std::to_string(dpi));
            const auto dip = [dpi](int length) { return MulDiv(length, dpi, 96); };
            const int r = dip(c.radius_dip);
            const std::vector<GaugeLabel> labels = gauge_labels(centre, r, dpi, 10.0, RECT{});
            std::vector<double> shown;
            for (const GaugeLabel& label : labels) shown.push_back(label.mark);
            EXPECT_EQ(shown, c.kept);

            // The ends stand outside the arc beside its two ends, the others inside it.
            const POINT low_end = at_distance(centre, r, angle_at(0.0));
            const POINT high_end = at_distance(centre, r, angle_at(1.0));
            EXPECT_LE(labels.front().box.right, low_end.x);
            EXPECT_GE(labels.back().box.left, high_end.x);
            EXPECT_EQ(labels.front().text, L"0");
            EXPECT_EQ(labels.back().text, L"10");

            Canvas canvas(400, 400);
            ASSERT_TRUE(canvas.ready());
            paint_results_gauge(canvas.dc(), centre, r, dpi, font, 10.0, std::nullopt);
            const LabelInk ink = label_ink_of(canvas, labels);
            EXPECT_EQ(ink.stray, 0) << "label ink outside the kept labels";
            for (std::size_t b = 0; b < labels.size(); ++b) {
                EXPECT_GT(ink.inside[b], 0) << "mark " << labels[b].mark;
            }
        }
        DeleteObject(font);
    }
}

// The speed tiles' geometry (g = (h + 21) / 2, radius min(w / 3, g - 14), the value under the hub
// from g + 4 to min(g + 42, h - 17)) at the sizes the window gives them and beyond: the value's
// box never meets a label's, keeps the width the numbers need, and the gauge draws no label ink
// into it.
TEST(Gauge, ValueBoxNeverMeetsALabel) {
    for (const int dpi : {96, 144}) {
        const auto px = [dpi](int length) { return MulDiv(length, dpi, 96); };
        HFONT font = label_font(dpi);
        for (const int h : {100, 112, 126, 127, 140, 160, 182, 240}) {
            for (const int w : {150, 240, 346, 470}) {
                SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + " DIP at " +
                             std::to_string(dpi));
                const int g = (h + 21) / 2;
                const int r = std::min(w / 3, g - 14);
                const POINT tile_centre{px(w / 2), px(g)};
                const RECT area{0, px(g + 4), px(w), px(std::min(g + 42, h - 17))};
                const RECT value = gauge_value_box(tile_centre, px(r), dpi, area);
                EXPECT_EQ(value.top, area.top);
                EXPECT_EQ(value.bottom, area.bottom);
                EXPECT_EQ(value.left + value.right, 2 * tile_centre.x);  // centred
                // "1156,3" in the tile's value font needs about 60 DIP.
                EXPECT_GE(value.right - value.left, px(60));
                for (const double scale_top : {10.0, 1000.0, 10000.0}) {
                    const std::vector<GaugeLabel> labels =
                        gauge_labels(tile_centre, px(r), dpi, scale_top, value);
                    ASSERT_GE(labels.size(), 2u);
                    EXPECT_EQ(labels.front().mark, 0.0);
                    EXPECT_EQ(labels.back().mark, 1.0);
                    for (const GaugeLabel& label : labels) {
                        RECT common{};
                        EXPECT_FALSE(IntersectRect(&common, &label.box, &value))
                            << "mark " << label.mark;
                    }
                }
                Canvas canvas(px(w), px(h));
                ASSERT_TRUE(canvas.ready());
                paint_results_gauge(canvas.dc(), tile_centre, px(r), dpi, font, 1000.0, 837.1,
                                    value);
                EXPECT_EQ(canvas.count(label_ink, value), 0);
            }
        }
        DeleteObject(font);
    }
}

TEST(Gauge, LabelTexts) {
    const std::vector<double> marks = {0.0, 0.01, 0.05, 0.1, 0.25, 0.5, 1.0};
    const std::vector<std::wstring> ten = {L"0", L"0,1", L"0,5", L"1,0", L"2,5", L"5,0", L"10"};
    const std::vector<std::wstring> hundred = {L"0", L"1", L"5", L"10", L"25", L"50", L"100"};
    for (std::size_t i = 0; i < marks.size(); ++i) {
        EXPECT_EQ(gauge_label_text(marks[i], 10.0), ten[i]);
        EXPECT_EQ(gauge_label_text(marks[i], 100.0), hundred[i]);
    }
}

TEST(Gauge, LeavesTheCallersDcAsItWas) {
    Canvas canvas(400, 400);
    ASSERT_TRUE(canvas.ready());
    HFONT gauge_font = label_font(96);
    HFONT own_font = label_font(120);
    HBRUSH own_brush = CreateSolidBrush(RGB(1, 2, 3));
    HPEN own_pen = CreatePen(PS_SOLID, 3, RGB(4, 5, 6));
    HGDIOBJ old_font = SelectObject(canvas.dc(), own_font);
    HGDIOBJ old_brush = SelectObject(canvas.dc(), own_brush);
    HGDIOBJ old_pen = SelectObject(canvas.dc(), own_pen);
    SetTextColor(canvas.dc(), RGB(7, 8, 9));
    SetBkMode(canvas.dc(), OPAQUE);

    paint_results_gauge(canvas.dc(), centre, radius, 96, gauge_font, maximum, 30.0);

    EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_FONT), own_font);
    EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_BRUSH), own_brush);
    EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_PEN), own_pen);
    EXPECT_EQ(GetTextColor(canvas.dc()), RGB(7, 8, 9));
    EXPECT_EQ(GetBkMode(canvas.dc()), OPAQUE);

    SelectObject(canvas.dc(), old_font);
    SelectObject(canvas.dc(), old_brush);
    SelectObject(canvas.dc(), old_pen);
    DeleteObject(own_pen);
    DeleteObject(own_brush);
    DeleteObject(own_font);
    DeleteObject(gauge_font);
}

}  // namespace
}  // namespace tarvisko
