#pragma once
// The speedometer of the dashboard's "Pobieranie" and "Wysyłanie" tiles.
#include <windows.h>

#include <optional>
#include <string>

namespace tarvisko {

// Each of the red, green and blue bytes of two COLORREFs moved by `t` from `a` towards `b`.
COLORREF lerp_rgb(COLORREF a, COLORREF b, double t);

// The scale label of `mark` (a fraction of the arc's value range, 0 to 1) on a scale that ends at
// `scale_maximum`: one decimal below a maximum of 20 except at the two ends, a decimal comma.
std::wstring gauge_label_text(double mark, double scale_maximum);

// Draws a 240-degree arc of 120 segments filled up to `value` on a square-root scale, 41 ticks,
// the scale labels that fit the radius, and a needle when there is a value. `radius` is the outer
// radius in device pixels; `dpi` scales every other length. Draws nothing below a radius of
// 27 DIP, for a maximum that is not a positive number, or on a DC that cannot be saved. The DC's
// objects, colours and background mode are the caller's again afterwards; nothing is created.
void paint_results_gauge(HDC dc, POINT centre, int radius, int dpi, HFONT font,
                         double scale_maximum, std::optional<double> value);

}  // namespace tarvisko
