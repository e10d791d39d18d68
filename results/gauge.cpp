#include "results/gauge.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <locale>
#include <numbers>
#include <sstream>

namespace tarvisko {

namespace {

constexpr COLORREF rgb(unsigned hex) {
    return RGB((hex >> 16) & 0xFF, (hex >> 8) & 0xFF, hex & 0xFF);
}

constexpr COLORREF gradient_left = rgb(0x15806A);
constexpr COLORREF gradient_middle = rgb(0x2D7D6B);
constexpr COLORREF gradient_right = rgb(0x9E6B24);
constexpr COLORREF unfilled = rgb(0xDEE6E2);
constexpr COLORREF major_tick = rgb(0x495953);
constexpr COLORREF minor_tick = rgb(0x7B8882);
constexpr COLORREF label_ink = rgb(0x3C4B45);
constexpr COLORREF needle_ink = rgb(0x104F46);
constexpr COLORREF hub_centre = rgb(0xFFFFFF);

constexpr int segment_count = 120;
constexpr int tick_count = 40;  // intervals: 41 ticks
constexpr std::array<double, 7> label_marks{0.0, 0.01, 0.05, 0.1, 0.25, 0.5, 1.0};

// The arc runs from 150 degrees (p = 0, lower left) over the top to 390 degrees (p = 1).
double angle_at(double p) { return (8.0 * p + 5.0) * std::numbers::pi / 6.0; }

POINT at_distance(POINT centre, double distance, double angle) {
    return {centre.x + static_cast<LONG>(std::lround(distance * std::cos(angle))),
            centre.y + static_cast<LONG>(std::lround(distance * std::sin(angle)))};
}

// The colour follows the segment's horizontal place on the gauge, not the value.
COLORREF segment_colour(double middle_angle) {
    const double n = std::cos(middle_angle) * 0.5 + 0.5;
    if (n <= 0.55) return lerp_rgb(gradient_left, gradient_middle, n / 0.55);
    return lerp_rgb(gradient_middle, gradient_right, (n - 0.55) / 0.45);
}

void fill_disc(HDC dc, POINT centre, int r) {
    Ellipse(dc, centre.x - r, centre.y - r, centre.x + r + 1, centre.y + r + 1);
}

}  // namespace

COLORREF lerp_rgb(COLORREF a, COLORREF b, double t) {
    const auto channel = [t](BYTE from, BYTE to) {
        return static_cast<BYTE>(std::lround(from + (to - from) * t));
    };
    return RGB(channel(GetRValue(a), GetRValue(b)), channel(GetGValue(a), GetGValue(b)),
               channel(GetBValue(a), GetBValue(b)));
}

std::wstring gauge_label_text(double mark, double scale_maximum) {
    std::wostringstream text;
    text.imbue(std::locale::classic());
    text.setf(std::ios::fixed, std::ios::floatfield);
    text.precision(scale_maximum < 20.0 && mark > 0.0 && mark < 1.0 ? 1 : 0);
    text << mark * scale_maximum;
    std::wstring label = text.str();
    std::replace(label.begin(), label.end(), L'.', L',');
    return label;
}

namespace {

// An end label's box: beside the arc's end, on its outer side, at the height of the end.
RECT end_label_box(POINT centre, int radius, int dpi, bool maximum_end) {
    const auto dip = [dpi](int length) { return MulDiv(length, dpi, 96); };
    const POINT end = at_distance(centre, radius, angle_at(maximum_end ? 1.0 : 0.0));
    const int top = end.y - dip(11);
    if (maximum_end) return RECT{end.x + dip(3), top, end.x + dip(41), top + dip(14)};
    return RECT{end.x - dip(41), top, end.x - dip(3), top + dip(14)};
}

bool boxes_meet(const RECT& a, const RECT& b) {
    RECT common{};
    return IntersectRect(&common, &a, &b) != FALSE;
}

}  // namespace

std::vector<GaugeLabel> gauge_labels(POINT centre, int radius, int dpi, double scale_maximum,
                                     const RECT& keep_clear) {
    const auto dip = [dpi](int length) { return MulDiv(length, dpi, 96); };
    std::vector<GaugeLabel> labels;
    // A small gauge keeps fewer marks.
    const bool small = radius < dip(50);
    for (const double mark : label_marks) {
        GaugeLabel label;
        label.mark = mark;
        label.text = gauge_label_text(mark, scale_maximum);
        if (mark == 0.0 || mark == 1.0) {
            label.box = end_label_box(centre, radius, dpi, mark == 1.0);
            label.alignment = mark == 0.0 ? DT_RIGHT : DT_LEFT;
        } else {
            if ((mark == 0.01 || mark == 0.1) && radius < dip(65)) continue;
            if ((mark == 0.05 || mark == 0.5) && small) continue;
            const POINT at =
                at_distance(centre, radius - dip(small ? 21 : 29), angle_at(std::sqrt(mark)));
            label.box = RECT{at.x - dip(19), at.y - dip(7), at.x + dip(19), at.y + dip(7)};
            if (boxes_meet(label.box, keep_clear)) continue;
        }
        labels.push_back(std::move(label));
    }
    return labels;
}

RECT gauge_value_box(POINT centre, int radius, int dpi, const RECT& area) {
    LONG left = area.left;
    LONG right = area.right;
    for (const bool maximum_end : {false, true}) {
        const RECT box = end_label_box(centre, radius, dpi, maximum_end);
        if (box.bottom <= area.top || box.top >= area.bottom) continue;
        if (maximum_end) {
            right = std::min(right, box.left);
        } else {
            left = std::max(left, box.right);
        }
    }
    const LONG half = std::max<LONG>(0, std::min(centre.x - left, right - centre.x));
    return RECT{centre.x - half, area.top, centre.x + half, area.bottom};
}

void paint_results_gauge(HDC dc, POINT centre, int radius, int dpi, HFONT font,
                         double scale_maximum, std::optional<double> value,
                         const RECT& keep_clear) {
    const auto dip = [dpi](int length) { return MulDiv(length, dpi, 96); };
    // An infinite maximum would put every rate at 0 and write "inf" under the arc.
    if (radius < dip(27) || !(scale_maximum > 0.0) || !std::isfinite(scale_maximum)) return;
    // NaN has no place on the arc: it reads as no value. Infinities clamp to the ends.
    if (value && std::isnan(*value)) value.reset();
    const int saved = SaveDC(dc);
    if (saved == 0) return;

    const double p_value = value ? std::sqrt(std::clamp(*value / scale_maximum, 0.0, 1.0)) : 0.0;

    // Arc.
    const int band = dip(7);
    SelectObject(dc, GetStockObject(DC_BRUSH));
    SelectObject(dc, GetStockObject(NULL_PEN));
    for (int i = 0; i < segment_count; ++i) {
        const double t0 = static_cast<double>(i) / segment_count;
        const double t1 = static_cast<double>(i + 1) / segment_count;
        const double a0 = angle_at(t0);
        const double a1 = angle_at(t1);
        const POINT corners[4] = {at_distance(centre, radius, a0), at_distance(centre, radius, a1),
                                  at_distance(centre, radius - band, a1),
                                  at_distance(centre, radius - band, a0)};
        SetDCBrushColor(dc, p_value >= t1 ? segment_colour(angle_at((t0 + t1) / 2.0)) : unfilled);
        Polygon(dc, corners, 4);
    }

    // Ticks, every fifth one longer and darker.
    SelectObject(dc, GetStockObject(DC_PEN));
    for (int k = 0; k <= tick_count; ++k) {
        const bool major = k % 5 == 0;
        const double angle = angle_at(static_cast<double>(k) / tick_count);
        const POINT from = at_distance(centre, radius - dip(11), angle);
        const POINT to = at_distance(centre, radius - dip(major ? 19 : 15), angle);
        SetDCPenColor(dc, major ? major_tick : minor_tick);
        MoveToEx(dc, from.x, from.y, nullptr);
        LineTo(dc, to.x, to.y);
    }

    // Labels.
    SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, label_ink);
    for (const GaugeLabel& label : gauge_labels(centre, radius, dpi, scale_maximum, keep_clear)) {
        RECT box = label.box;
        DrawTextW(dc, label.text.c_str(), static_cast<int>(label.text.size()), &box,
                  label.alignment | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }

    // Needle and hub.
    if (value) {
        const double angle = angle_at(p_value);
        const double w = dip(4);
        const LONG dx = static_cast<LONG>(std::lround(w * std::sin(angle)));
        const LONG dy = static_cast<LONG>(std::lround(w * std::cos(angle)));
        const POINT needle[3] = {{centre.x - dx, centre.y + dy},
                                 at_distance(centre, radius - dip(22), angle),
                                 {centre.x + dx, centre.y - dy}};
        SelectObject(dc, GetStockObject(DC_BRUSH));
        SelectObject(dc, GetStockObject(NULL_PEN));
        SetDCBrushColor(dc, needle_ink);
        Polygon(dc, needle, 3);
        fill_disc(dc, centre, dip(5));
        SetDCBrushColor(dc, hub_centre);
        fill_disc(dc, centre, dip(2));
    }

    RestoreDC(dc, saved);
}

}  // namespace tarvisko
