// Prints what the Wi-Fi chart and the baseline file cost on this machine, each figure beside a
// bare loop over the same work:
// - the live 5 GHz chart of 300 networks drawn into a 32-bit DIB section, beside a bare loop of
//   Polyline calls over the same trapezoids with three pens made beforehand;
// - the strict reader over a baseline file of 1,024 plot points, beside nlohmann's parse of the
//   same bytes.
//   tools/wine/run-test build/bench/readings/wifi_chart_bench.exe
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "readings/wifi_baseline.h"
#include "readings/wifi_channels.h"
#include "readings/wifi_chart.h"
#include "bench_timing.h"

using namespace tarvisko;
using bench::median_us;
using bench::report;

namespace {

constexpr wifi_channel own_channel{2, 36, 5180, 5210, 80, 0};

// The own access point on 36 at 80 MHz and 300 neighbours across the lower 5 GHz channels,
// strongest first as the reading orders them; some below the visibility threshold.
WifiChartData crowded_chart(std::size_t count) {
    WifiChartData chart;
    chart.band = 2;
    chart.has_proposal = true;
    chart.proposed_channel = 149;
    std::vector<std::int32_t> channels;
    for (std::int32_t c = 36; c <= 64; c += 4) channels.push_back(c);
    for (std::int32_t c = 100; c <= 144; c += 4) channels.push_back(c);
    const std::array<std::int32_t, 4> widths{20, 40, 80, 0};
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t c = channels[i % channels.size()];
        const std::int32_t mhz = channel_to_mhz(2, c);
        const plot_point point{2,
                               c,
                               mhz,
                               mhz,
                               widths[i % widths.size()],
                               0,
                               -40 - static_cast<std::int32_t>(i * 50 / count),
                               false};
        const plot_point single[1]{point};
        chart.items.push_back({L"Sieć sąsiada " + std::to_wstring(i), point,
                               overlap_score(own_channel, single).overlapping > 0});
    }
    chart.items.insert(chart.items.begin() + 20,
                       {L"Dom", {2, 36, 5180, 5210, 80, 0, -52, true}, false});
    return chart;
}

// A snapshot of `count` plot points of the 5 GHz band, the last one the own network.
WifiSnapshot large_snapshot(std::size_t count) {
    WifiSnapshot s;
    s.observed_at = "2024-05-01T10:00:00.000Z";
    s.connection_id = std::string(64, 'a');
    s.channel = own_channel;
    s.overlap = {200, 40, 12, 311.75};
    s.rssi_dbm = -52;
    s.client_version = "1.1.18";
    s.os_version = "10.0.19045";
    const std::vector<std::int32_t> channels = candidate_channels(2);
    const std::array<std::int32_t, 5> widths{20, 40, 80, 160, 0};
    std::vector<plot_point> points;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        const std::int32_t c = channels[i % channels.size()];
        const std::int32_t mhz = channel_to_mhz(2, c);
        points.push_back({2, c, mhz, mhz, widths[i % widths.size()], i % 9 == 0 ? 5775 : 0,
                          -30 - static_cast<std::int32_t>(i % 98), false});
    }
    points.push_back({2, 36, 5180, 5210, 80, 0, -52, true});
    s.plot = std::move(points);
    return s;
}

}  // namespace

int main() {
    constexpr int width = 900;
    constexpr int height = 420;
    const HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(info.bmiHeader), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ previous = SelectObject(dc, bitmap);
    const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    const RECT rect{0, 0, width, height};

    const WifiChartData chart = crowded_chart(300);
    const std::vector<ChartDrawItem> order = chart_drawing_order(chart, 2);
    std::printf("live chart: %zu networks, %zu drawn, %d x %d px\n", chart.items.size(),
                order.size(), width, height);
    const double drawn = median_us(200, [&] {
        PatBlt(dc, 0, 0, width, height, WHITENESS);
        draw_wifi_channel_chart(dc, rect, 96, font, chart, 2, std::nullopt);
    });

    // The same trapezoids, worked out once with the chart's geometry.
    const ChartPlot plot = *chart_plot_area(width, height, 96);
    const FrequencySpan span = chart_span(chart, 2, std::nullopt);
    const SignalSpan signal = chart_signal_span(false);
    struct Trapezoid {
        int item_class;
        std::array<POINT, 4> corners;
    };
    std::vector<Trapezoid> trapezoids;
    for (const ChartDrawItem& entry : order) {
        const plot_point& p = chart.items[entry.index].point;
        const std::int32_t w = p.width_mhz != 0 ? p.width_mhz : 20;
        const int top = chart_item_top(plot, signal, p.rssi_dbm, 96);
        trapezoids.push_back({entry.item_class,
                              {{{chart_x(plot, span, p.center_mhz - w / 2), plot.bottom},
                                {chart_x(plot, span, p.center_mhz - 3 * w / 10), top},
                                {chart_x(plot, span, p.center_mhz + 3 * w / 10), top},
                                {chart_x(plot, span, p.center_mhz + w / 2), plot.bottom}}}});
    }
    const std::array<HPEN, 3> pens{CreatePen(PS_SOLID, 1, chart_other_colour),
                                   CreatePen(PS_SOLID, 2, chart_overlap_colour),
                                   CreatePen(PS_SOLID, 2, chart_own_colour)};
    const double bare = median_us(200, [&] {
        PatBlt(dc, 0, 0, width, height, WHITENESS);
        const HGDIOBJ old_pen = SelectObject(dc, pens[0]);
        for (const Trapezoid& t : trapezoids) {
            SelectObject(dc, pens[static_cast<std::size_t>(t.item_class)]);
            Polyline(dc, t.corners.data(), 4);
        }
        SelectObject(dc, old_pen);
    });
    report("draw_wifi_channel_chart, 300 networks", drawn, "bare Polyline loop, same trapezoids",
           bare);
    for (const HPEN pen : pens) DeleteObject(pen);
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);

    const std::string file = write_wifi_baseline(large_snapshot(1024));
    const BaselineReading check = read_wifi_baseline(file);
    std::printf("baseline file: 1024 plot points, %zu bytes, %s\n", file.size(),
                check.snapshot ? "accepted" : ("refused: " + check.refused).c_str());
    std::size_t sink = 0;
    const double read =
        median_us(200, [&] { sink += read_wifi_baseline(file).snapshot->plot->size(); });
    const double parse = median_us(200, [&] { sink += nlohmann::json::parse(file).size(); });
    report("read_wifi_baseline, 1024 points", read, "nlohmann::json::parse, same bytes", parse);
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
