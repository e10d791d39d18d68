#pragma once
// The Wi-Fi channel chart: every visible network of one band as a trapezoid over its frequency
// range, as high as its signal is strong, with the own network and the overlapping ones
// highlighted. Drawn live on the Wi-Fi page and twice ("Przed" and "Po") on a common span in the
// details window. The geometry lives in pure functions below the drawing, so it can be checked
// without a device context.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "readings/wifi_records.h"

namespace tarvisko {

// A range of frequencies in MHz.
struct FrequencySpan {
    std::int32_t low_mhz = 0;
    std::int32_t high_mhz = 0;

    friend bool operator==(const FrequencySpan&, const FrequencySpan&) = default;
};

inline constexpr COLORREF chart_own_colour = RGB(0x00, 0x5D, 0xA6);
inline constexpr COLORREF chart_overlap_colour = RGB(0xAD, 0x55, 0x11);
inline constexpr COLORREF chart_other_colour = RGB(0x81, 0x91, 0xA1);  // also the tick marks
inline constexpr COLORREF chart_proposal_colour = RGB(0x17, 0x7E, 0x4E);
inline constexpr COLORREF chart_legend_colour = RGB(0x25, 0x2B, 0x31);
inline constexpr COLORREF chart_label_colour = RGB(0x55, 0x60, 0x6B);
inline constexpr COLORREF chart_grid_colour = RGB(0xE2, 0xE7, 0xEA);

// Paints the chart of `band` into `rect` (logical coordinates of `dc`). `fixed_span` is given for
// the details-window charts and absent for the live chart. Leaves the device context as it found
// it; draws nothing when the rectangle is too small or a fixed span is empty.
void draw_wifi_channel_chart(HDC dc, const RECT& rect, int dpi, HFONT font,
                             const WifiChartData& chart, std::int32_t band,
                             std::optional<FrequencySpan> fixed_span);

// One straight line with a one-pixel pen; nothing when the pen cannot be created.
void draw_pen_line(HDC dc, int x1, int y1, int x2, int y2, COLORREF colour, int pen_style);

// The common span of the "Przed" and "Po" charts, in whole tens of MHz.
FrequencySpan chart_frequency_span(std::span<const WifiChartItem> a,
                                   std::span<const WifiChartItem> b, std::int32_t band);

// The chart of a saved snapshot: its visible points of its band, unlabelled, no proposal.
WifiChartData snapshot_plot_points(const WifiSnapshot& snapshot);

// The own network, or one at least as strong as the visibility threshold.
bool plot_point_visible(const plot_point& point);

// ---- The geometry of the chart, in pixels of the chart's rectangle. ----

// The plot area inside a rectangle of that size; none when it would be too small to draw.
struct ChartPlot {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
};
std::optional<ChartPlot> chart_plot_area(int width, int height, int dpi);

struct SignalSpan {
    int low_dbm = 0;
    int high_dbm = 0;
};
// -90..-30 dBm live, -140..0 dBm on a fixed span.
SignalSpan chart_signal_span(bool fixed);

// The proposed channel when it counts for `band` and names a channel of it.
std::optional<std::int32_t> chart_proposal(const WifiChartData& chart, std::int32_t band);

// The frequency span drawn: the fixed one, else 2400..2496 for band 1, else the visible networks
// and the proposal with a margin, or the band's defaults.
FrequencySpan chart_span(const WifiChartData& chart, std::int32_t band,
                         std::optional<FrequencySpan> fixed_span);

int chart_x(const ChartPlot& plot, const FrequencySpan& span, std::int32_t mhz);
int chart_y(const ChartPlot& plot, const SignalSpan& signal, std::int32_t dbm);

// Whether an axis number is written: one that the unit's label would meet ("dBm" beside the live
// chart's second grid line at a small height, "MHz" beside a tick at the plot's left edge) is left
// out; its line or tick is still drawn.
bool chart_grid_label_shown(const ChartPlot& plot, bool fixed, int y, int dpi);
bool chart_tick_label_shown(const ChartPlot& plot, bool fixed, int x, int dpi);

// The dBm step of the horizontal grid lines, and the values they stand at.
int chart_grid_step(bool fixed, int plot_height, int dpi);
std::vector<int> chart_grid_values(const SignalSpan& signal, int step);

// A frequency tick that is drawn: its value (MHz or channel number) and its x.
struct ChartTick {
    std::int32_t value = 0;
    int x = 0;

    friend bool operator==(const ChartTick&, const ChartTick&) = default;
};
// The ticks that are drawn, crowded ones left out. `proposal_x` only for a live chart with a
// proposal.
std::vector<ChartTick> chart_ticks(const ChartPlot& plot, const FrequencySpan& span,
                                   const WifiChartData& chart, std::int32_t band, bool fixed,
                                   std::optional<int> proposal_x, int dpi);

// How an item of the chart's band is drawn: 2 own, 1 overlapping, 0 other; none when it is left
// out (too weak).
std::optional<int> chart_item_class(const WifiChartItem& item);

// The items of `band` in drawing order (others, then overlapping, then the own network on top),
// as indices into the chart's items with their class.
struct ChartDrawItem {
    std::size_t index = 0;
    int item_class = 0;

    friend bool operator==(const ChartDrawItem&, const ChartDrawItem&) = default;
};
std::vector<ChartDrawItem> chart_drawing_order(const WifiChartData& chart, std::int32_t band);

// The y of a trapezoid's top edge: never less than 4 DIP above the plot bottom.
int chart_item_top(const ChartPlot& plot, const SignalSpan& signal, std::int32_t rssi_dbm, int dpi);

// The box of a network's label above its trapezoid, kept inside the plot.
RECT chart_label_box(const ChartPlot& plot, int center_x, int top_y, int dpi);

// The label text of a live chart's item, or nothing: the own network always, the first three
// overlapping networks drawn (`overlapping_labelled` counts those already labelled).
std::optional<std::wstring> chart_item_label(const WifiChartItem& item, int item_class,
                                             int overlapping_labelled);

// What an empty plot says: nothing of the band to show, or no detailed scan yet.
std::wstring chart_empty_message(const WifiChartData& chart, bool fixed);

}  // namespace tarvisko
