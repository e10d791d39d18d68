// The dashboard's and the Wi-Fi page's content in the window: the gauge scale, the texts of the
// estimate and quality panels, the band choice, the guidance cards and the navigation toggle.
// clang-format off
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "app/cards.h"
#include "app/control_ids.h"
#include "app/controls.h"
#include "readings/wifi_reading.h"
#include "results/dashboard.h"
#include "results/estimate_card.h"
#include "support/window_harness.h"

namespace tarvisko {
namespace {

using test::WindowHarness;

TEST(NiceAxisMaximum, RoundsUpToOneTwoOrFive) {
    const struct {
        double x;
        double expected;
    } cases[] = {
        {7, 10},     {10, 10},   {12, 20},    {20, 20},     {21, 50},
        {51, 100},   {99, 100},  {100, 100},  {501, 1000},  {5001, 10000},
        {-3, 10},    {0, 10},    {std::numeric_limits<double>::infinity(), 10},
        {-std::numeric_limits<double>::infinity(), 10},
        {std::numeric_limits<double>::quiet_NaN(), 10},
    };
    for (const auto& c : cases) EXPECT_EQ(nice_axis_maximum(c.x), c.expected) << c.x;
}

SummaryModel model_with_rates(std::optional<double> download, std::optional<double> upload) {
    SummaryModel model = build_results_view(nlohmann::json());
    model.has_report = true;
    model.download_mbps = download;
    model.upload_mbps = upload;
    return model;
}

const wchar_t estimate_fallback[] =
    L"Wykonaj test, aby zobaczyć czas pobrania pliku i liczbę filmów, które można oglądać "
    L"jednocześnie.";
const wchar_t quality_fallback[] = L"Wykonaj test, aby sprawdzić jakość połączenia.";

TEST(SummaryModelInWindow, SetsTheGaugeScaleAndPanelTexts) {
    WindowHarness harness;
    MainWindowState& state = harness.state();
    // The window starts with the dashboard of no report.
    EXPECT_EQ(harness.text(estimate_panel_id), estimate_fallback);
    EXPECT_EQ(harness.text(connection_quality_card_id), quality_fallback);
    EXPECT_FALSE(state.summary_cards.has_value());
    EXPECT_EQ(state.chart_maximum, 10.0);

    const SummaryModel measured = model_with_rates(87.0, 12.0);
    apply_summary_model(state, measured);
    EXPECT_EQ(state.chart_maximum, 100.0);
    EXPECT_EQ(state.summary, measured);
    const auto cards = build_estimate_card(measured);
    ASSERT_TRUE(cards.has_value());
    ASSERT_TRUE(state.summary_cards.has_value());
    EXPECT_EQ(*state.summary_cards, *cards);
    EXPECT_EQ(harness.text(estimate_panel_id),
              cards->first.title + L". " + cards->first.subtitle + L". " + cards->first.body +
                  L" " + cards->second.title + L". " + cards->second.subtitle + L". " +
                  cards->second.body + L" ");

    // A live update raised the scale; a model without rates lowers it back to 10 and drops the
    // estimate cards.
    state.chart_maximum = 500.0;
    apply_summary_model(state, model_with_rates(std::nullopt, std::nullopt));
    EXPECT_EQ(state.chart_maximum, 10.0);
    EXPECT_FALSE(state.summary_cards.has_value());
    EXPECT_EQ(harness.text(estimate_panel_id), estimate_fallback);

    apply_summary_model(state, model_with_rates(std::nullopt, 12.0));
    EXPECT_EQ(state.chart_maximum, 20.0);
}

TEST(SummaryModelInWindow, QualityPanelNamesEachTileWithItsRating) {
    WindowHarness harness;
    SummaryModel model = model_with_rates(87.0, 12.0);
    IdleQualityCard quality;
    quality.tiles[0] = {L"Ping do serwera", L"12 ms", L"", 1};
    quality.tiles[1] = {L"Wahania pingu", L"3 ms", L"", 2};
    quality.tiles[2] = {L"Bez odpowiedzi na ping", L"0%", L"", 0};
    quality.profile_line = L"Serwer w Warszawie";
    quality.sentence = L"Połączenie jest stabilne.";
    model.idle_quality = quality;
    apply_summary_model(harness.state(), model);
    EXPECT_EQ(harness.text(connection_quality_card_id),
              L"Jakość połączenia z serwerem testowym. Serwer w Warszawie. "
              L"Ping do serwera 12 ms · " +
                  rating_label(1) + L". Wahania pingu 3 ms · " + rating_label(2) +
                  L". Bez odpowiedzi na ping 0% · " + rating_label(0) +
                  L". Połączenie jest stabilne.");
    EXPECT_EQ(rating_label(1), L"Dobrze");

    apply_summary_model(harness.state(), build_results_view(nlohmann::json()));
    EXPECT_EQ(harness.text(connection_quality_card_id), quality_fallback);
}

TEST(WifiCards, FirstScanPicksTheConnectionsBandAndLaterScansKeepTheChoice) {
    WindowHarness harness;
    MainWindowState& state = harness.state();
    WifiChartData chart;
    chart.band = 2;  // 5 GHz
    chart.items.push_back(WifiChartItem{L"Dom", {}, false});
    apply_wifi_scan(state, chart);
    EXPECT_EQ(state.wifi.wifi_band_index, 1);
    EXPECT_EQ(harness.text(wifi_chart_id), wifi_summary_line(chart, 2));

    select_wifi_band(state, 0);
    EXPECT_EQ(state.wifi.wifi_band_index, 0);
    EXPECT_EQ(harness.text(wifi_chart_id), wifi_summary_line(chart, 1));
    apply_wifi_scan(state, chart);
    EXPECT_EQ(state.wifi.wifi_band_index, 0);

    // Out-of-range indexes change nothing.
    for (int index : {-1, 3, 340}) {
        select_wifi_band(state, index);
        EXPECT_EQ(state.wifi.wifi_band_index, 0) << index;
    }
    select_wifi_band(state, 2);
    EXPECT_EQ(harness.text(wifi_chart_id), wifi_summary_line(chart, 3));
}

TEST(WifiCards, GuidanceCardsSetTheirPanelTexts) {
    WindowHarness harness;
    MainWindowState& state = harness.state();
    const TextCard recommendation{L"Zmień kanał", L"Kanał 6 jest zatłoczony", L"Długi opis", 2};
    apply_wifi_recommendation(state, recommendation);
    EXPECT_EQ(state.wifi.recommendation, recommendation);
    EXPECT_EQ(harness.text(wifi_recommendation_id), L"Zmień kanał. Kanał 6 jest zatłoczony");
    const TextCard comparison{L"Porównanie", L"Po zmianie jest lepiej", L"", 1};
    apply_wifi_comparison(state, comparison);
    EXPECT_EQ(state.wifi.comparison, comparison);
    EXPECT_EQ(harness.text(wifi_comparison_id), L"Porównanie. Po zmianie jest lepiej");
}

TEST(ToggleNavigation, PressingTwiceRestoresTheWidth) {
    WindowHarness harness;
    MainWindowState& state = harness.state();
    const RECT wide = harness.child_rect(first_nav_button_id);
    toggle_navigation(state);
    EXPECT_TRUE(state.nav_collapsed);
    EXPECT_EQ(harness.child_rect(first_nav_button_id).right -
                  harness.child_rect(first_nav_button_id).left,
              44);
    EXPECT_FALSE(harness.visible(app_title_label_id));
    toggle_navigation(state);
    EXPECT_FALSE(state.nav_collapsed);
    const RECT again = harness.child_rect(first_nav_button_id);
    EXPECT_TRUE(EqualRect(&wide, &again));
    EXPECT_TRUE(harness.visible(app_title_label_id));
}

}  // namespace
}  // namespace tarvisko
