#include "readings/wifi_chart.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "readings/wifi_channels.h"
#include "support/dib.h"

namespace tarvisko {
namespace {

// A white bitmap that the chart under test is drawn on.
class Canvas : public test::Dib {
  public:
    Canvas(int width, int height) : Dib(width, height) { clear(); }

    void clear() { fill(RGB(255, 255, 255)); }
    // Pixels of the colour inside [left, right) x [top, bottom).
    int count(COLORREF colour, int left, int top, int right, int bottom) const {
        return Dib::count(colour, RECT{left, top, right, bottom});
    }
    int count(COLORREF colour) const { return count(colour, 0, 0, width(), height()); }
    int painted() const { return width() * height() - count(RGB(255, 255, 255)); }
    void draw(const WifiChartData& chart, std::int32_t band,
              std::optional<FrequencySpan> fixed = std::nullopt, int dpi = 96) {
        draw_wifi_channel_chart(dc(), {0, 0, width(), height()}, dpi,
                                static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)), chart, band,
                                fixed);
    }
};

// A network of the scan: a channel's centre and width, its signal.
WifiChartItem network(std::int32_t mhz, std::int32_t rssi, bool own = false, bool overlaps = false,
                      std::int32_t width = 20, std::int32_t second = 0,
                      std::wstring label = L"Sieć") {
    plot_point point;
    const wifi_channel channel = mhz_to_channel(mhz, {});
    point.band = channel.band;
    point.channel = channel.channel;
    point.primary_mhz = mhz;
    point.center_mhz = mhz;
    point.width_mhz = width;
    point.second_center_mhz = second;
    point.rssi_dbm = rssi;
    point.own = own;
    return {std::move(label), point, overlaps};
}

WifiChartData chart_of(std::int32_t band, std::vector<WifiChartItem> items) {
    WifiChartData chart;
    chart.band = band;
    chart.items = std::move(items);
    return chart;
}

// At 96 DPI a 552 x 361 chart has the plot 54..534 x 34..334: 480 px wide, 300 px high, so the
// live 2.4 GHz span (96 MHz) is 5 px per MHz and the live signal span (60 dB) 5 px per dB.
constexpr int live_width = 552;
constexpr int live_height = 361;
int live_x(std::int32_t mhz) { return 54 + (mhz - 2400) * 5; }
int live_y(std::int32_t dbm) { return 334 - (dbm + 90) * 5; }

TEST(WifiChart, PlotAreaAndSizeLimit) {
    const struct {
        int width, height, dpi;
        bool drawn;
    } cases[] = {
        {206, 300, 96, false}, {207, 300, 96, true},   {400, 105, 96, false},
        {400, 106, 96, true},  {310, 400, 144, false}, {311, 400, 144, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        EXPECT_EQ(chart_plot_area(c.width, c.height, c.dpi).has_value(), c.drawn);
        Canvas canvas(c.width, c.height);
        canvas.draw(chart_of(1, {network(2437, -50, true)}), 1, std::nullopt, c.dpi);
        EXPECT_EQ(canvas.painted() > 0, c.drawn);
    }
    const ChartPlot plot = *chart_plot_area(live_width, live_height, 96);
    EXPECT_EQ(plot.left, 54);
    EXPECT_EQ(plot.top, 34);
    EXPECT_EQ(plot.right, 534);
    EXPECT_EQ(plot.bottom, 334);
    const ChartPlot large = *chart_plot_area(828, 542, 144);
    EXPECT_EQ(large.left, 81);
    EXPECT_EQ(large.top, 51);
    EXPECT_EQ(large.right, 801);
    EXPECT_EQ(large.bottom, 501);
}

TEST(WifiChart, LiveSpans) {
    WifiChartData proposal = chart_of(2, {network(5180, -60)});
    proposal.has_proposal = true;
    proposal.proposed_channel = 44;
    WifiChartData other_band_proposal = proposal;
    other_band_proposal.band = 1;
    WifiChartData invalid_proposal = proposal;
    invalid_proposal.proposed_channel = 200;
    const struct {
        const char* name;
        WifiChartData chart;
        std::int32_t band;
        FrequencySpan span;
    } cases[] = {
        {"2.4 GHz, always the whole band", chart_of(1, {network(2412, -40)}), 1, {2400, 2496}},
        {"5 GHz, nothing", chart_of(2, {}), 2, {5150, 5895}},
        {"6 GHz, nothing", chart_of(3, {}), 3, {5925, 7135}},
        {"one 20 MHz network on 5180", chart_of(2, {network(5180, -60)}), 2, {5130, 5230}},
        {"a weak network does not count", chart_of(2, {network(5180, -86)}), 2, {5150, 5895}},
        {"the own network counts however weak",
         chart_of(2, {network(5180, -95, true)}),
         2,
         {5130, 5230}},
        {"another band's network does not count",
         chart_of(2, {network(2437, -40)}),
         2,
         {5150, 5895}},
        {"a proposal widens the span", proposal, 2, {5150, 5250}},
        {"another band's proposal does not", other_band_proposal, 2, {5130, 5230}},
        {"a channel the band lacks does not", invalid_proposal, 2, {5130, 5230}},
        {"80+80 spans both segments, margin at least 12",
         chart_of(2, {network(5210, -60, false, false, 80, 5775)}),
         2,
         {5158, 5827}},
        {"no reported width counts 20 MHz",
         chart_of(2, {network(5500, -60, false, false, 0)}),
         2,
         {5450, 5550}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(chart_span(c.chart, c.band, std::nullopt), c.span);
    }
    EXPECT_EQ(chart_span(chart_of(2, {network(5180, -60)}), 2, FrequencySpan{5000, 6000}),
              (FrequencySpan{5000, 6000}));
}

TEST(WifiChart, CommonSpanOfTwoCharts) {
    const std::vector<WifiChartItem> none;
    const std::vector<WifiChartItem> one{network(5180, -60)};
    const std::vector<WifiChartItem> off_grid{network(5185, -60)};
    const std::vector<WifiChartItem> wide{network(5500, -60, false, false, 40)};
    const std::vector<WifiChartItem> weak{network(5745, -86)};
    const std::vector<WifiChartItem> distant{network(5805, -60, false, false, 80)};
    const struct {
        const char* name;
        const std::vector<WifiChartItem>& a;
        const std::vector<WifiChartItem>& b;
        std::int32_t band;
        FrequencySpan span;
    } cases[] = {
        {"2.4 GHz", one, one, 1, {2400, 2500}},
        {"one 20 MHz network on 5180", one, none, 2, {5130, 5230}},
        {"the same in the second chart", none, one, 2, {5130, 5230}},
        {"widened to whole tens", off_grid, none, 2, {5130, 5240}},
        {"margin at least 10", wide, distant, 2, {5470, 5860}},
        {"weak networks do not count", weak, none, 2, {5030, 5900}},
        {"nothing on 5 GHz", none, none, 2, {5030, 5900}},
        {"nothing on 6 GHz", none, none, 3, {5920, 7140}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(chart_frequency_span(c.a, c.b, c.band), c.span);
    }
}

TEST(WifiChart, FrequencyTicks) {
    const ChartPlot plot = *chart_plot_area(live_width, live_height, 96);
    const ChartPlot narrow = *chart_plot_area(207, 200, 96);
    const WifiChartData empty;
    auto values = [](const std::vector<ChartTick>& ticks) {
        std::vector<std::int32_t> result;
        for (const ChartTick& tick : ticks) result.push_back(tick.value);
        return result;
    };
    // Fixed spans: a step of 20 MHz doubled until the ticks stand 38 px apart.
    EXPECT_EQ(values(chart_ticks(plot, {2400, 2500}, empty, 1, true, std::nullopt, 96)),
              (std::vector<std::int32_t>{2400, 2420, 2440, 2460, 2480, 2500}));
    EXPECT_EQ(values(chart_ticks(narrow, {2400, 2500}, empty, 1, true, std::nullopt, 96)),
              (std::vector<std::int32_t>{2400, 2440, 2480}));
    EXPECT_EQ(values(chart_ticks(plot, {5030, 5900}, empty, 2, true, std::nullopt, 96)),
              (std::vector<std::int32_t>{5040, 5120, 5200, 5280, 5360, 5440, 5520, 5600, 5680, 5760,
                                         5840}));
    EXPECT_EQ(chart_ticks(plot, {2400, 2500}, empty, 1, true, std::nullopt, 96).front().x, 54);

    // Live: the channels of the visible networks, once each, in order; ticks closer than 32 px
    // to the last drawn one, and 24 px to the proposal, are left out.
    const WifiChartData live =
        chart_of(1, {network(2462, -50), network(2412, -60), network(2417, -60), network(2422, -60),
                     network(2437, -50, true), network(2472, -86), network(2412, -70)});
    EXPECT_EQ(values(chart_ticks(plot, {2400, 2496}, live, 1, false, std::nullopt, 96)),
              (std::vector<std::int32_t>{1, 3, 6, 11}));
    EXPECT_EQ(values(chart_ticks(plot, {2400, 2496}, live, 1, false, live_x(2440), 96)),
              (std::vector<std::int32_t>{1, 3, 11}));
    EXPECT_EQ(chart_ticks(plot, {2400, 2496}, live, 1, false, std::nullopt, 96)[0],
              (ChartTick{1, live_x(2412)}));
    // Only the band asked for.
    EXPECT_TRUE(chart_ticks(plot, {5150, 5895}, live, 2, false, std::nullopt, 96).empty());
}

TEST(WifiChart, GridSteps) {
    const struct {
        bool fixed;
        int height, dpi, step;
    } cases[] = {
        {false, 50, 96, 20}, {true, 140, 96, 20},  {true, 139, 96, 35},  {true, 85, 96, 35},
        {true, 84, 96, 70},  {true, 210, 144, 20}, {true, 209, 144, 35}, {true, 127, 144, 70},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.height) + " at " + std::to_string(c.dpi));
        EXPECT_EQ(chart_grid_step(c.fixed, c.height, c.dpi), c.step);
    }
    EXPECT_EQ(chart_grid_values(chart_signal_span(false), 20),
              (std::vector<int>{-90, -70, -50, -30}));
    EXPECT_EQ(chart_grid_values(chart_signal_span(true), 35),
              (std::vector<int>{-140, -105, -70, -35, 0}));
    EXPECT_EQ(chart_grid_values(chart_signal_span(true), 70), (std::vector<int>{-140, -70, 0}));
}

TEST(WifiChart, UnitLabelsStandOnNoAxisNumber) {
    // The live chart of page 4 is about 125 px high at 96 DPI: there "dBm", written beside the
    // plot's top, fell on the number of the -50 line and read "dB50".
    const struct {
        bool fixed;
        int height, dpi;
        std::vector<int> shown, hidden;  // dBm
    } cases[] = {
        {false, 125, 96, {-90, -70, -30}, {-50}},
        {false, 188, 144, {-90, -70, -30}, {-50}},
        {false, live_height, 96, {-90, -70, -50, -30}, {}},
        {true, live_height, 96, {-140, -120, -100, -80, -60, -40, -20, 0}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.height) + " at " + std::to_string(c.dpi));
        const ChartPlot plot = *chart_plot_area(live_width, c.height, c.dpi);
        const SignalSpan signal = chart_signal_span(c.fixed);
        for (const int dbm : c.shown) {
            EXPECT_TRUE(chart_grid_label_shown(plot, c.fixed, chart_y(plot, signal, dbm), c.dpi))
                << dbm;
        }
        for (const int dbm : c.hidden) {
            EXPECT_FALSE(chart_grid_label_shown(plot, c.fixed, chart_y(plot, signal, dbm), c.dpi))
                << dbm;
        }
    }
    // "MHz" ends where the plot of a fixed span begins: a tick's number at the left edge would
    // run into it ("MHz2400"); the live chart writes no "MHz".
    const ChartPlot plot = *chart_plot_area(live_width, live_height, 96);
    EXPECT_FALSE(chart_tick_label_shown(plot, true, plot.left, 96));
    EXPECT_TRUE(chart_tick_label_shown(plot, true, plot.left + 8, 96));
    EXPECT_TRUE(chart_tick_label_shown(plot, false, plot.left, 96));
    const ChartPlot large = *chart_plot_area(828, 542, 144);
    EXPECT_FALSE(chart_tick_label_shown(large, true, large.left + 11, 144));
    EXPECT_TRUE(chart_tick_label_shown(large, true, large.left + 12, 144));
}

TEST(WifiChart, ItemClassesOrderAndLabels) {
    const WifiChartData chart =
        chart_of(1, {network(2437, -50, true), network(2442, -60, false, true), network(2462, -70),
                     network(2412, -86), network(2417, -90, false, true), network(5180, -40),
                     network(2427, -62, false, true)});
    EXPECT_EQ(chart_drawing_order(chart, 1),
              (std::vector<ChartDrawItem>{{2, 0}, {1, 1}, {6, 1}, {0, 2}}));
    EXPECT_EQ(chart_drawing_order(chart, 2), (std::vector<ChartDrawItem>{{5, 0}}));
    // The own network is drawn however weak.
    EXPECT_EQ(chart_item_class(network(2437, -127, true)), 2);

    const WifiChartItem own = network(2437, -50, true, false, 20, 0, L"Dom");
    const WifiChartItem neighbour = network(2442, -60, false, true, 20, 0, L"Sąsiad");
    EXPECT_EQ(chart_item_label(own, 2, 3), L"Moja sieć · Dom");
    EXPECT_EQ(chart_item_label(neighbour, 1, 2), L"Sąsiad");
    EXPECT_EQ(chart_item_label(neighbour, 1, 3), std::nullopt);
    EXPECT_EQ(chart_item_label(network(2462, -70), 0, 0), std::nullopt);

    const ChartPlot plot = *chart_plot_area(live_width, live_height, 96);
    const auto box = [&plot](int x, int y) {
        const RECT r = chart_label_box(plot, x, y, 96);
        return std::vector<LONG>{r.left, r.top, r.right, r.bottom};
    };
    EXPECT_EQ(box(300, 200), (std::vector<LONG>{238, 185, 362, 200}));
    EXPECT_EQ(box(60, 40), (std::vector<LONG>{54, 34, 178, 49}));       // kept inside, top left
    EXPECT_EQ(box(530, 334), (std::vector<LONG>{410, 318, 534, 333}));  // bottom right

    EXPECT_EQ(chart_empty_message(chart_of(0, {}), false), L"Uruchom szczegółowy skan Wi-Fi.");
    EXPECT_EQ(chart_empty_message(chart_of(0, {}), true), L"Brak widocznych punktów w tym paśmie.");
    EXPECT_EQ(chart_empty_message(chart_of(2, {network(5180, -60)}), false),
              L"Brak widocznych punktów w tym paśmie.");
}

TEST(WifiChart, SnapshotPlotPoints) {
    WifiSnapshot snapshot;
    snapshot.channel = {1, 6, 2437, 2437, 20, 0};
    snapshot.plot = std::vector<plot_point>{
        network(2427, -60).point,        // overlaps channel 6
        network(2462, -50).point,        // does not
        network(2412, -86).point,        // too weak: left out
        network(5180, -40).point,        // another band: left out
        network(2437, -127, true).point  // own: kept, never overlapping itself
    };
    const WifiChartData chart = snapshot_plot_points(snapshot);
    EXPECT_EQ(chart.band, 1);
    EXPECT_FALSE(chart.has_proposal);
    EXPECT_FALSE(chart.from_cache);
    ASSERT_EQ(chart.items.size(), 3u);
    EXPECT_EQ(chart.items[0].point, (*snapshot.plot)[0]);
    EXPECT_TRUE(chart.items[0].overlaps);
    EXPECT_FALSE(chart.items[1].overlaps);
    EXPECT_EQ(chart.items[2].point, (*snapshot.plot)[4]);
    EXPECT_FALSE(chart.items[2].overlaps);
    for (const WifiChartItem& item : chart.items) EXPECT_TRUE(item.label.empty());

    snapshot.plot.reset();
    EXPECT_TRUE(snapshot_plot_points(snapshot).items.empty());
}

TEST(WifiChart, LiveChartPixels) {
    Canvas canvas(live_width, live_height);
    // An ordinary network and an overlapping one lie under the own network; in the list the own
    // network comes first, and it is still drawn on top.
    canvas.draw(chart_of(1, {network(2437, -50, true), network(2437, -50),
                             network(2437, -50, false, true), network(2427, -60, false, true),
                             network(2462, -70), network(2412, -95, true), network(2484, -95)}),
                1);
    EXPECT_EQ(canvas.pixel(live_x(2437), live_y(-50)), chart_own_colour);
    EXPECT_EQ(canvas.pixel(live_x(2427), live_y(-60)), chart_overlap_colour);
    EXPECT_EQ(canvas.pixel(live_x(2462), live_y(-70)), chart_other_colour);
    // The top edge runs from 3/10 of the width left of the centre to as far right.
    EXPECT_EQ(canvas.pixel(live_x(2437 - 6), live_y(-50)), chart_own_colour);
    EXPECT_EQ(canvas.pixel(live_x(2462 + 6), live_y(-70)), chart_other_colour);
    EXPECT_NE(canvas.pixel(live_x(2462 + 8), live_y(-70)), chart_other_colour);

    // The own network at -95 dBm stands 4 px high; another at -95 dBm is not drawn.
    // (Its label stands right above it, in its colour: the plot bottom shows it is not flat.)
    EXPECT_EQ(canvas.pixel(live_x(2412), 330), chart_own_colour);
    EXPECT_EQ(canvas.pixel(live_x(2412) + 5, 334), chart_grid_colour);
    EXPECT_EQ(canvas.count(chart_other_colour, live_x(2484) - 40, 300, live_x(2484) + 41, 334), 0);

    // Grid lines at -70 and -50 dBm where no network lies.
    EXPECT_EQ(canvas.pixel(520, live_y(-70)), chart_grid_colour);
    EXPECT_EQ(canvas.pixel(520, live_y(-50)), chart_grid_colour);
    EXPECT_NE(canvas.pixel(520, live_y(-60)), chart_grid_colour);
    // Tick marks below the plot at the channels of the visible networks (1, 6, 11).
    EXPECT_EQ(canvas.pixel(live_x(2437), 336), chart_other_colour);
    EXPECT_EQ(canvas.pixel(live_x(2462), 336), chart_other_colour);
    // No proposal: no green anywhere but in the legend row.
    EXPECT_EQ(canvas.count(chart_proposal_colour, 0, 30, live_width, live_height), 0);
}

TEST(WifiChart, EightyPlusEightyIsTwoTrapezoids) {
    Canvas canvas(live_width, live_height);
    const WifiChartData split = chart_of(2, {network(5210, -55, true, false, 80, 5775)});
    canvas.draw(split, 2);
    const ChartPlot plot = *chart_plot_area(live_width, live_height, 96);
    const FrequencySpan span = chart_span(split, 2, std::nullopt);
    EXPECT_EQ(span, (FrequencySpan{5158, 5827}));
    const int y = chart_y(plot, chart_signal_span(false), -55);
    EXPECT_EQ(canvas.pixel(chart_x(plot, span, 5210), y), chart_own_colour);
    EXPECT_EQ(canvas.pixel(chart_x(plot, span, 5775), y), chart_own_colour);
    EXPECT_EQ(canvas.count(chart_own_colour, chart_x(plot, span, 5300), y - 3,
                           chart_x(plot, span, 5700), y + 4),
              0);
}

TEST(WifiChart, ProposalInTheLiveChartOnly) {
    WifiChartData chart = chart_of(1, {network(2437, -50, true), network(2427, -60, false, true)});
    chart.has_proposal = true;
    chart.proposed_channel = 11;
    Canvas canvas(live_width, live_height);
    canvas.draw(chart, 1);
    // A dashed line from the plot top to 4 px below the plot, at channel 11.
    const int dashes = canvas.count(chart_proposal_colour, live_x(2462), 34, live_x(2462) + 1, 338);
    EXPECT_GT(dashes, 100);
    EXPECT_LT(dashes, 300);
    EXPECT_GT(canvas.count(chart_proposal_colour, 0, 0, live_width, 30), 0);  // legend

    // Another band's chart, or the details-window charts, show no proposal.
    canvas.clear();
    canvas.draw(chart, 2);
    EXPECT_EQ(canvas.count(chart_proposal_colour, 0, 30, live_width, live_height), 0);
    canvas.clear();
    canvas.draw(chart, 1, FrequencySpan{2400, 2500});
    EXPECT_EQ(canvas.count(chart_proposal_colour), 0);
}

TEST(WifiChart, FixedSpanGridSteps) {
    const WifiChartData chart = chart_of(1, {network(2437, -50, true)});
    const struct {
        int height;
        std::vector<int> lines, no_lines;  // dBm
    } cases[] = {
        {34 + 140 + 27, {-120, -100, -20}, {-105, -70 + 5}},
        {34 + 100 + 27, {-105, -70, -35}, {-120, -100}},
        {34 + 80 + 27, {-70}, {-105, -35, -120}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.height);
        Canvas canvas(live_width, c.height);
        canvas.draw(chart, 1, FrequencySpan{2400, 2500});
        const ChartPlot plot = *chart_plot_area(live_width, c.height, 96);
        for (const int dbm : c.lines) {
            EXPECT_EQ(canvas.pixel(520, chart_y(plot, chart_signal_span(true), dbm)),
                      chart_grid_colour)
                << dbm;
        }
        for (const int dbm : c.no_lines) {
            EXPECT_NE(canvas.pixel(520, chart_y(plot, chart_signal_span(true), dbm)),
                      chart_grid_colour)
                << dbm;
        }
    }
}

TEST(WifiChart, EmptyOrReversedFixedSpanDrawsNothing) {
    const WifiChartData chart = chart_of(2, {network(5180, -50, true)});
    for (const FrequencySpan span : {FrequencySpan{5200, 5200}, FrequencySpan{5300, 5200},
                                     FrequencySpan{-2'000'000'000, 2'000'000'000}}) {
        Canvas canvas(live_width, live_height);
        canvas.draw(chart, 2, span);
        EXPECT_EQ(canvas.painted(), 0);
    }
}

TEST(WifiChart, OnlyTheOwnNetworkAndThreeOverlappingAreLabelled) {
    // Eight overlapping networks on channel 1, strongest first, 4 dB (20 px) apart so that each
    // label box lies above its own trapezoid and clear of the others' top edges; the own network
    // on channel 11.
    std::vector<WifiChartItem> items;
    for (int i = 0; i < 8; ++i) {
        items.push_back(
            network(2412, -34 - 4 * i, false, true, 20, 0, L"Sąsiad " + std::to_wstring(i + 1)));
    }
    items.push_back(network(2462, -70, true, false, 20, 0, L"Dom"));
    Canvas canvas(live_width, live_height);
    canvas.draw(chart_of(1, items), 1);
    // Text of a label: the middle of its box, away from the trapezoid sides (30 px or more from
    // the centre at the top edge) and from the edges' pens.
    const auto label_pixels = [&canvas](std::int32_t mhz, int dbm, COLORREF colour) {
        const ChartPlot plot = *chart_plot_area(live_width, live_height, 96);
        const RECT box = chart_label_box(plot, live_x(mhz), live_y(dbm), 96);
        const int middle = (box.left + box.right) / 2;
        return canvas.count(colour, middle - 25, box.top + 1, middle + 26, box.bottom - 2);
    };
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        const int pixels = label_pixels(2412, -34 - 4 * i, chart_overlap_colour);
        if (i < 3) {
            EXPECT_GT(pixels, 10);
        } else {
            EXPECT_EQ(pixels, 0);
        }
    }
    EXPECT_GT(label_pixels(2462, -70, chart_own_colour), 10);
}

TEST(WifiChart, HighDpi) {
    // At 144 DPI an 828 x 542 chart has the plot 81..801 x 51..501: 7.5 px per MHz, 7.5 px per dB.
    Canvas canvas(828, 542);
    canvas.draw(chart_of(1, {network(2442, -50, true), network(2412, -95, true)}), 1, std::nullopt,
                144);
    EXPECT_EQ(canvas.pixel(81 + 315, 501 - 300), chart_own_colour);  // 2442 MHz, -50 dBm
    EXPECT_EQ(canvas.pixel(81 + 90, 501 - 6), chart_own_colour);     // -95 dBm: 6 px high
    EXPECT_EQ(canvas.pixel(81 + 90 + 8, 501), chart_grid_colour);
    EXPECT_EQ(canvas.pixel(790, 501 - 150), chart_grid_colour);  // -70 dBm
    // Pens of 3 px for the own network: the rows around the edge, and none below it.
    EXPECT_EQ(canvas.count(chart_own_colour, 81 + 315, 501 - 301, 81 + 316, 501 - 298), 3);
    EXPECT_EQ(canvas.count(chart_own_colour, 81 + 315, 501 - 297, 81 + 316, 501 - 280), 0);
}

TEST(WifiChart, LeavesTheDeviceContextAsFound) {
    Canvas canvas(700, 450);
    const HDC dc = canvas.dc();
    const HFONT font = CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH, L"Segoe UI");
    const HPEN pen = CreatePen(PS_SOLID, 3, RGB(1, 2, 3));
    const HBRUSH brush = CreateSolidBrush(RGB(4, 5, 6));
    const HGDIOBJ old_pen = SelectObject(dc, pen);
    const HGDIOBJ old_brush = SelectObject(dc, brush);
    const HGDIOBJ old_font = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SetViewportOrgEx(dc, 7, 9, nullptr);
    const HRGN clip = CreateRectRgn(0, 0, 650, 440);
    SelectClipRgn(dc, clip);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, RGB(10, 20, 30));
    SetTextColor(dc, RGB(40, 50, 60));
    SetTextAlign(dc, TA_BASELINE);

    WifiChartData chart = chart_of(1, {network(2437, -50, true), network(2427, -60, false, true)});
    chart.has_proposal = true;
    chart.proposed_channel = 11;
    chart.from_cache = true;
    // The rectangle is offset inside the canvas: the chart moves with it.
    const RECT rect{13, 11, 13 + live_width, 11 + live_height};
    draw_wifi_channel_chart(dc, rect, 96, font, chart, 1, std::nullopt);

    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), brush);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), GetStockObject(SYSTEM_FONT));
    POINT origin{};
    GetViewportOrgEx(dc, &origin);
    EXPECT_EQ(origin.x, 7);
    EXPECT_EQ(origin.y, 9);
    RECT clip_box{};
    EXPECT_EQ(GetClipBox(dc, &clip_box), SIMPLEREGION);
    EXPECT_EQ(clip_box.left, -7);
    EXPECT_EQ(clip_box.top, -9);
    EXPECT_EQ(clip_box.right, 643);
    EXPECT_EQ(clip_box.bottom, 431);
    EXPECT_EQ(GetBkMode(dc), OPAQUE);
    EXPECT_EQ(GetBkColor(dc), RGB(10, 20, 30));
    EXPECT_EQ(GetTextColor(dc), RGB(40, 50, 60));
    EXPECT_EQ(GetTextAlign(dc), static_cast<UINT>(TA_BASELINE));
    EXPECT_EQ(GetMapMode(dc), MM_TEXT);

    EXPECT_EQ(canvas.pixel(7 + 13 + live_x(2437), 9 + 11 + live_y(-50)), chart_own_colour);
    // Nothing outside the rectangle.
    EXPECT_EQ(canvas.count(RGB(255, 255, 255), 0, 0, 700, 20), 700 * 20);
    EXPECT_EQ(canvas.count(RGB(255, 255, 255), 0, 0, 20, 450), 20 * 450);

    SelectClipRgn(dc, nullptr);
    SetViewportOrgEx(dc, 0, 0, nullptr);
    SelectObject(dc, old_pen);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_font);
    DeleteObject(clip);
    DeleteObject(pen);
    DeleteObject(brush);
    DeleteObject(font);
}

}  // namespace
}  // namespace tarvisko
