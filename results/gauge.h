#pragma once
// The speedometer of the dashboard's "Pobieranie" and "Wysyłanie" tiles.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tarvisko {

// Each of the red, green and blue bytes of two COLORREFs moved by `t` from `a` towards `b`.
COLORREF lerp_rgb(COLORREF a, COLORREF b, double t);

// The scale label of `mark` (a fraction of the arc's value range, 0 to 1) on a scale that ends at
// `scale_maximum`: one decimal below a maximum of 20 except at the two ends, a decimal comma.
std::wstring gauge_label_text(double mark, double scale_maximum);

// One scale label: its text, the box (device pixels) it is drawn in and its DrawTextW alignment.
struct GaugeLabel {
    double mark = 0.0;  // fraction of the arc's value range
    std::wstring text;
    RECT box{};
    UINT alignment = DT_CENTER;
};

// The scale labels a gauge of this size shows. The two end labels (0 and the maximum) sit
// outside the arc beside its two ends, so the space under the hub stays free for the value; the
// marks between them fit the radius, and one whose box would meet `keep_clear` (the value's
// rectangle) is left out.
std::vector<GaugeLabel> gauge_labels(POINT centre, int radius, int dpi, double scale_maximum,
                                     const RECT& keep_clear);

// Where the value text may go: `area` (device pixels, under the hub) narrowed evenly on both
// sides of the centre until no end label's box lies in it. Together with gauge_labels' rule the
// value never covers a label.
RECT gauge_value_box(POINT centre, int radius, int dpi, const RECT& area);

// Draws a 240-degree arc of 120 segments filled up to `value` on a square-root scale, 41 ticks,
// the scale labels of gauge_labels, and a needle when there is a value. `radius` is the outer
// radius in device pixels; `dpi` scales every other length. Draws nothing below a radius of
// 27 DIP, for a maximum that is not a positive number, or on a DC that cannot be saved. The DC's
// objects, colours and background mode are the caller's again afterwards; nothing is created.
void paint_results_gauge(HDC dc, POINT centre, int radius, int dpi, HFONT font,
                         double scale_maximum, std::optional<double> value,
                         const RECT& keep_clear = RECT{});

}  // namespace tarvisko
