#include "readings/wifi_chart.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>

#include "readings/wifi_channels.h"

namespace tarvisko {
namespace {

int scaled(int value, int dpi) { return MulDiv(value, dpi, 96); }

// The width a network occupies: 20 MHz when the scan did not report one.
std::int32_t drawn_width(const plot_point& point) {
    return point.width_mhz != 0 ? point.width_mhz : 20;
}

// The centres of a network's segments: one, or two for 80+80.
std::array<std::int32_t, 2> segment_centres(const plot_point& point) {
    return {point.center_mhz, point.second_center_mhz};
}

bool item_counts(const WifiChartItem& item, std::int32_t band) {
    return item.point.band == band && plot_point_visible(item.point);
}

// A span that MulDiv can divide by: not empty, not reversed, its width a positive int.
bool usable_span(const FrequencySpan& span) {
    const long long range = static_cast<long long>(span.high_mhz) - span.low_mhz;
    return range > 0 && range <= INT_MAX;
}

// Selects a pen for its lifetime; the previous pen comes back and the new one is deleted.
class ScopedPen {
  public:
    ScopedPen(HDC dc, int style, int width, COLORREF colour)
        : dc_(dc), pen_(CreatePen(style, width, colour)) {
        if (pen_ != nullptr) previous_ = SelectObject(dc_, pen_);
    }
    ~ScopedPen() {
        if (pen_ == nullptr) return;
        SelectObject(dc_, previous_);
        DeleteObject(pen_);
    }
    ScopedPen(const ScopedPen&) = delete;
    ScopedPen& operator=(const ScopedPen&) = delete;
    bool valid() const { return pen_ != nullptr; }

  private:
    HDC dc_;
    HPEN pen_;
    HGDIOBJ previous_ = nullptr;
};

// Saves the device context and restores it when the scope ends.
class SavedDc {
  public:
    explicit SavedDc(HDC dc) : dc_(dc), level_(SaveDC(dc)) {}
    ~SavedDc() {
        if (level_ != 0) RestoreDC(dc_, level_);
    }
    SavedDc(const SavedDc&) = delete;
    SavedDc& operator=(const SavedDc&) = delete;
    bool valid() const { return level_ != 0; }

  private:
    HDC dc_;
    int level_;
};

void draw_polyline(HDC dc, const POINT* points, int count, COLORREF colour, int width, int style) {
    ScopedPen pen(dc, style, width, colour);
    if (pen.valid()) Polyline(dc, points, count);
}

// One line of text, vertically centred, cut with an ellipsis, ampersands shown as they are.
void draw_text(HDC dc, const std::wstring& text, RECT box, COLORREF colour, UINT align) {
    SetTextColor(dc, colour);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS | align);
}

struct LegendEntry {
    const wchar_t* text;
    int nominal_width;
    COLORREF colour;
    int pen_style;
};

// The legend row; returns the x where it ends.
int draw_legend(HDC dc, bool fixed, int dpi) {
    static constexpr std::array<LegendEntry, 4> entries{{
        {L"Moja sieć", 86, chart_own_colour, PS_SOLID},
        {L"Nakłada się", 109, chart_overlap_colour, PS_SOLID},
        {L"Inne sieci", 97, chart_other_colour, PS_SOLID},
        {L"Proponowany kanał", 145, chart_proposal_colour, PS_DASH},
    }};
    const std::size_t shown = fixed ? 3 : 4;
    int x = scaled(fixed ? 54 : 16, dpi);
    int end = x;
    for (std::size_t i = 0; i < shown; ++i) {
        const LegendEntry& entry = entries[i];
        const int nominal = entry.nominal_width - (fixed ? 10 : 0);
        const int y = scaled(17, dpi);
        draw_pen_line(dc, x, y, x + scaled(15, dpi), y, entry.colour, entry.pen_style);
        draw_text(dc, entry.text,
                  {x + scaled(21, dpi), scaled(5, dpi), x + scaled(nominal, dpi), scaled(29, dpi)},
                  chart_legend_colour, DT_LEFT);
        end = x + scaled(nominal, dpi);
        x += scaled(nominal + 6, dpi);
    }
    return end;
}

// Where "dBm" is written: above the plot's top left for a fixed span, beside the plot's top in the
// live chart.
RECT signal_unit_box(const ChartPlot& plot, bool fixed, int dpi) {
    return fixed ? RECT{scaled(8, dpi), scaled(5, dpi), plot.left - scaled(8, dpi), scaled(29, dpi)}
                 : RECT{scaled(8, dpi), plot.top + scaled(7, dpi), plot.left - scaled(7, dpi),
                        plot.top + scaled(23, dpi)};
}

}  // namespace

bool plot_point_visible(const plot_point& point) {
    return point.own || point.rssi_dbm >= wifi_visible_dbm;
}

std::optional<ChartPlot> chart_plot_area(int width, int height, int dpi) {
    const ChartPlot plot{scaled(54, dpi), scaled(34, dpi), width - scaled(18, dpi),
                         height - scaled(27, dpi)};
    if (plot.width() < scaled(135, dpi) || plot.height() < scaled(45, dpi)) return std::nullopt;
    return plot;
}

SignalSpan chart_signal_span(bool fixed) {
    return fixed ? SignalSpan{-140, 0} : SignalSpan{-90, -30};
}

std::optional<std::int32_t> chart_proposal(const WifiChartData& chart, std::int32_t band) {
    if (band != chart.band || !chart.has_proposal) return std::nullopt;
    // A channel the band does not have would stretch the span to 0 MHz.
    if (channel_to_mhz(band, chart.proposed_channel) == 0) return std::nullopt;
    return chart.proposed_channel;
}

FrequencySpan chart_span(const WifiChartData& chart, std::int32_t band,
                         std::optional<FrequencySpan> fixed_span) {
    if (fixed_span) return *fixed_span;
    if (band == 1) return {2400, 2496};
    const FrequencySpan defaults =
        band == 2 ? FrequencySpan{5150, 5895} : FrequencySpan{5925, 7135};
    std::int32_t top = defaults.low_mhz;
    std::int32_t bottom = defaults.high_mhz;
    for (const WifiChartItem& item : chart.items) {
        if (!item_counts(item, band)) continue;
        const std::int32_t half = drawn_width(item.point) / 2;
        for (const std::int32_t c : segment_centres(item.point)) {
            if (c == 0) continue;
            top = std::max(top, c + half);
            bottom = std::min(bottom, c - half);
        }
    }
    if (const std::optional<std::int32_t> proposal = chart_proposal(chart, band)) {
        const std::int32_t m = channel_to_mhz(band, *proposal);
        top = std::max(top, m + 10);
        bottom = std::min(bottom, m - 10);
    }
    if (bottom >= top) return defaults;
    const std::int32_t margin = std::max(12, (bottom - top + 100) / 2);
    return {bottom - margin, top + margin};
}

int chart_x(const ChartPlot& plot, const FrequencySpan& span, std::int32_t mhz) {
    return plot.left + MulDiv(plot.width(), mhz - span.low_mhz, span.high_mhz - span.low_mhz);
}

int chart_y(const ChartPlot& plot, const SignalSpan& signal, std::int32_t dbm) {
    const int value = std::clamp(dbm, signal.low_dbm, signal.high_dbm);
    return plot.bottom -
           MulDiv(plot.height(), value - signal.low_dbm, signal.high_dbm - signal.low_dbm);
}

int chart_grid_step(bool fixed, int plot_height, int dpi) {
    if (!fixed || plot_height >= scaled(140, dpi)) return 20;
    return plot_height < scaled(85, dpi) ? 70 : 35;
}

std::vector<int> chart_grid_values(const SignalSpan& signal, int step) {
    std::vector<int> values;
    for (int v = signal.low_dbm; v <= signal.high_dbm; v += step) values.push_back(v);
    return values;
}

std::vector<ChartTick> chart_ticks(const ChartPlot& plot, const FrequencySpan& span,
                                   const WifiChartData& chart, std::int32_t band, bool fixed,
                                   std::optional<int> proposal_x, int dpi) {
    std::vector<std::pair<std::int32_t, std::int32_t>> candidates;  // value, frequency
    if (fixed) {
        const long long range = static_cast<long long>(span.high_mhz) - span.low_mhz;
        long long step = 20;
        while (step < range && MulDiv(plot.width(), static_cast<int>(step),
                                      static_cast<int>(range)) < scaled(38, dpi)) {
            step *= 2;
        }
        long long value = span.low_mhz / step * step;
        if (value < span.low_mhz) value += step;
        for (; value <= span.high_mhz; value += step) {
            const auto mhz = static_cast<std::int32_t>(value);
            candidates.emplace_back(mhz, mhz);
        }
    } else {
        std::vector<std::int32_t> channels;
        for (const WifiChartItem& item : chart.items) {
            if (item_counts(item, band) && item.point.channel != 0) {
                channels.push_back(item.point.channel);
            }
        }
        std::sort(channels.begin(), channels.end());
        channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
        for (const std::int32_t c : channels) candidates.emplace_back(c, channel_to_mhz(band, c));
    }

    std::vector<ChartTick> ticks;
    int last_x = plot.left - scaled(35, dpi);
    for (const auto& [value, mhz] : candidates) {
        const int x = chart_x(plot, span, mhz);
        if (x - last_x < scaled(32, dpi)) continue;
        if (!fixed && proposal_x && std::abs(x - *proposal_x) < scaled(24, dpi)) continue;
        ticks.push_back({value, x});
        last_x = x;
    }
    return ticks;
}

std::optional<int> chart_item_class(const WifiChartItem& item) {
    if (item.point.own) return 2;
    if (item.point.rssi_dbm < wifi_visible_dbm) return std::nullopt;
    return item.overlaps ? 1 : 0;
}

std::vector<ChartDrawItem> chart_drawing_order(const WifiChartData& chart, std::int32_t band) {
    std::vector<ChartDrawItem> order;
    for (int pass = 0; pass <= 2; ++pass) {
        for (std::size_t i = 0; i < chart.items.size(); ++i) {
            if (chart.items[i].point.band != band) continue;
            if (chart_item_class(chart.items[i]) == pass) order.push_back({i, pass});
        }
    }
    return order;
}

int chart_item_top(const ChartPlot& plot, const SignalSpan& signal, std::int32_t rssi_dbm,
                   int dpi) {
    const int value = std::clamp(rssi_dbm, signal.low_dbm, signal.high_dbm);
    const int height =
        MulDiv(plot.height(), value - signal.low_dbm, signal.high_dbm - signal.low_dbm);
    return plot.bottom - std::max(height, scaled(4, dpi));
}

RECT chart_label_box(const ChartPlot& plot, int center_x, int top_y, int dpi) {
    const int width = scaled(124, dpi);
    const int left = std::max(plot.left, std::min(center_x - scaled(62, dpi), plot.right - width));
    const int top =
        std::max(plot.top, std::min(top_y - scaled(15, dpi), plot.bottom - scaled(16, dpi)));
    return {left, top, left + width, top + scaled(15, dpi)};
}

bool chart_grid_label_shown(const ChartPlot& plot, bool fixed, int y, int dpi) {
    const RECT unit = signal_unit_box(plot, fixed, dpi);
    // A number is a line of text centred on its grid line; it stays only a full line away from
    // the unit's line, so that "dBm" never stands on a number.
    return std::abs(y - (unit.top + unit.bottom) / 2) >= scaled(14, dpi);
}

bool chart_tick_label_shown(const ChartPlot& plot, bool fixed, int x, int dpi) {
    // Only the fixed span writes "MHz" left of the axis, ending where the plot begins; a tick's
    // number is centred on it and reaches half its box to the left.
    return !fixed || x - scaled(18, dpi) >= plot.left - scaled(10, dpi);
}

std::optional<std::wstring> chart_item_label(const WifiChartItem& item, int item_class,
                                             int overlapping_labelled) {
    if (item_class == 2) return L"Moja sieć · " + item.label;
    if (item_class == 1 && overlapping_labelled < 3) return item.label;
    return std::nullopt;
}

std::wstring chart_empty_message(const WifiChartData& chart, bool fixed) {
    return !chart.items.empty() || fixed ? L"Brak widocznych punktów w tym paśmie."
                                         : L"Uruchom szczegółowy skan Wi-Fi.";
}

void draw_pen_line(HDC dc, int x1, int y1, int x2, int y2, COLORREF colour, int pen_style) {
    const POINT points[2]{{x1, y1}, {x2, y2}};
    draw_polyline(dc, points, 2, colour, 1, pen_style);
}

void draw_wifi_channel_chart(HDC dc, const RECT& rect, int dpi, HFONT font,
                             const WifiChartData& chart, std::int32_t band,
                             std::optional<FrequencySpan> fixed_span) {
    const int w = rect.right - rect.left;
    const int h = rect.bottom - rect.top;
    const std::optional<ChartPlot> area = chart_plot_area(w, h, dpi);
    if (!area) return;
    const ChartPlot& plot = *area;
    const bool fixed = fixed_span.has_value();
    const FrequencySpan span = chart_span(chart, band, fixed_span);
    // A caller's empty or reversed span would divide by zero and never end the tick steps.
    if (!usable_span(span)) return;

    const SavedDc saved(dc);
    if (!saved.valid()) return;
    IntersectClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
    OffsetViewportOrgEx(dc, rect.left, rect.top, nullptr);
    if (font != nullptr) SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);

    // The details-window charts compare two scans; a proposal belongs to the live chart only.
    const std::int32_t proposal = fixed ? 0 : chart_proposal(chart, band).value_or(0);
    const SignalSpan signal = chart_signal_span(fixed);

    const int legend_end = draw_legend(dc, fixed, dpi);
    if (chart.from_cache) {
        draw_text(dc, L"Odczyt z pamięci",
                  {legend_end, scaled(5, dpi), plot.right, scaled(29, dpi)}, chart_label_colour,
                  DT_RIGHT);
    }

    for (const int value : chart_grid_values(signal, chart_grid_step(fixed, plot.height(), dpi))) {
        const int y = chart_y(plot, signal, value);
        draw_pen_line(dc, plot.left, y, plot.right, y, chart_grid_colour, PS_SOLID);
        if (!chart_grid_label_shown(plot, fixed, y, dpi)) continue;
        draw_text(
            dc, std::to_wstring(value),
            {scaled(6, dpi), y - scaled(9, dpi), plot.left - scaled(8, dpi), y + scaled(9, dpi)},
            chart_label_colour, DT_RIGHT);
    }
    draw_text(dc, L"dBm", signal_unit_box(plot, fixed, dpi), chart_label_colour, DT_RIGHT);

    const int axis_top = plot.bottom + scaled(4, dpi);
    const int axis_bottom = h - scaled(4, dpi);
    std::optional<int> proposal_x;
    if (proposal != 0) proposal_x = chart_x(plot, span, channel_to_mhz(band, proposal));
    for (const ChartTick& tick : chart_ticks(plot, span, chart, band, fixed, proposal_x, dpi)) {
        draw_pen_line(dc, tick.x, plot.bottom, tick.x, axis_top, chart_other_colour, PS_SOLID);
        if (!chart_tick_label_shown(plot, fixed, tick.x, dpi)) continue;
        draw_text(dc, std::to_wstring(tick.value),
                  {tick.x - scaled(18, dpi), axis_top, tick.x + scaled(18, dpi), axis_bottom},
                  chart_label_colour, DT_CENTER);
    }
    if (fixed) {
        draw_text(dc, L"MHz", {scaled(8, dpi), axis_top, plot.left - scaled(10, dpi), axis_bottom},
                  chart_label_colour, DT_RIGHT);
    }

    if (proposal_x) {
        draw_pen_line(dc, *proposal_x, plot.top, *proposal_x, axis_top, chart_proposal_colour,
                      PS_DASH);
        draw_text(
            dc, std::to_wstring(proposal),
            {*proposal_x - scaled(17, dpi), axis_top, *proposal_x + scaled(17, dpi), axis_bottom},
            chart_proposal_colour, DT_CENTER);
    }

    bool drawn = false;
    {
        const SavedDc plot_clip(dc);
        IntersectClipRect(dc, plot.left, plot.top, plot.right + 1, plot.bottom + 1);
        static constexpr std::array<COLORREF, 3> colours{chart_other_colour, chart_overlap_colour,
                                                         chart_own_colour};
        int overlapping_labelled = 0;
        for (const ChartDrawItem& entry : chart_drawing_order(chart, band)) {
            const WifiChartItem& item = chart.items[entry.index];
            const COLORREF colour = colours[static_cast<std::size_t>(entry.item_class)];
            const int pen_width = entry.item_class == 0 ? 1 : scaled(2, dpi);
            const std::int32_t width = drawn_width(item.point);
            const int top_y = chart_item_top(plot, signal, item.point.rssi_dbm, dpi);
            for (const std::int32_t c : segment_centres(item.point)) {
                if (c == 0) continue;
                const POINT corners[4]{
                    {chart_x(plot, span, c - width / 2), plot.bottom},
                    {chart_x(plot, span, c - 3 * width / 10), top_y},
                    {chart_x(plot, span, c + 3 * width / 10), top_y},
                    {chart_x(plot, span, c + width / 2), plot.bottom},
                };
                draw_polyline(dc, corners, 4, colour, pen_width, PS_SOLID);
            }
            drawn = true;
            if (fixed) continue;
            const std::optional<std::wstring> label =
                chart_item_label(item, entry.item_class, overlapping_labelled);
            if (!label) continue;
            if (entry.item_class == 1) ++overlapping_labelled;
            const int center_x = chart_x(plot, span, item.point.center_mhz);
            draw_text(dc, *label, chart_label_box(plot, center_x, top_y, dpi), colour, DT_CENTER);
        }
    }

    if (!drawn) {
        draw_text(dc, chart_empty_message(chart, fixed),
                  {plot.left, plot.top, plot.right, plot.bottom}, chart_label_colour, DT_CENTER);
    }
}

FrequencySpan chart_frequency_span(std::span<const WifiChartItem> a,
                                   std::span<const WifiChartItem> b, std::int32_t band) {
    if (band == 1) return {2400, 2500};
    std::int32_t low = 7115;
    std::int32_t high = 0;
    for (const std::span<const WifiChartItem> items : {a, b}) {
        for (const WifiChartItem& item : items) {
            if (!item_counts(item, band)) continue;
            const std::int32_t half = drawn_width(item.point) / 2;
            for (const std::int32_t c : segment_centres(item.point)) {
                if (c == 0) continue;
                low = std::min(low, c - half);
                high = std::max(high, c + half);
            }
        }
    }
    if (low >= high) return band == 2 ? FrequencySpan{5030, 5900} : FrequencySpan{5920, 7140};
    const std::int32_t margin = std::max(10, (low - high + 100) / 2);
    return {(low - margin) / 10 * 10, (high + margin + 9) / 10 * 10};
}

WifiChartData snapshot_plot_points(const WifiSnapshot& snapshot) {
    WifiChartData chart;
    chart.band = snapshot.channel.band;
    if (!snapshot.plot) return chart;
    for (const plot_point& point : *snapshot.plot) {
        if (point.band != chart.band || !plot_point_visible(point)) continue;
        const plot_point single[1]{point};
        chart.items.push_back(
            {L"", point, overlap_score(snapshot.channel, single).overlapping > 0});
    }
    return chart;
}

}  // namespace tarvisko
