#include "app/cards.h"

#include <algorithm>
#include <cmath>

#include "app/controls.h"
#include "app/status_texts.h"
#include "readings/wifi_reading.h"
#include "results/dashboard.h"
#include "results/estimate_card.h"

namespace tarvisko {
namespace {

void invalidate(HWND control, bool erase) {
    if (control != nullptr) InvalidateRect(control, nullptr, erase);
}

std::wstring estimate_panel_text(const MainWindowState& state) {
    if (!state.summary_cards) {
        return L"Wykonaj test, aby zobaczyć czas pobrania pliku i liczbę filmów, które można "
               L"oglądać jednocześnie.";
    }
    std::wstring text;
    for (const TextCard* card : {&state.summary_cards->first, &state.summary_cards->second}) {
        text += card->title + L". " + card->subtitle + L". " + card->body + L" ";
    }
    return text;
}

std::wstring quality_panel_text(const SummaryModel& model) {
    if (!model.idle_quality) return L"Wykonaj test, aby sprawdzić jakość połączenia.";
    const IdleQualityCard& quality = *model.idle_quality;
    std::wstring text = L"Jakość połączenia z serwerem testowym. " + quality.profile_line + L". ";
    for (const TextCard& card : quality.tiles) {
        text += card.title + L" " + card.subtitle + L" · " + rating_label(card.status) + L". ";
    }
    return text + quality.sentence;
}

// The chart's line for the chosen band, and a repaint of the band selector and the chart.
void show_wifi_band(MainWindowState& state) {
    set_text_if_changed(state.wifi_chart_static,
                        wifi_summary_line(state.wifi.chart, state.wifi.wifi_band_index + 1));
    for (HWND button : state.band_buttons) invalidate(button, false);
    invalidate(state.wifi_chart_static, false);
}

}  // namespace

double nice_axis_maximum(double x) {
    if (!std::isfinite(x) || x <= 10.0) return 10.0;
    const double a = std::pow(10.0, std::floor(std::log10(x)));
    for (double step : {a, 2.0 * a, 5.0 * a}) {
        if (step >= x) return step;
    }
    return 10.0 * a;
}

void apply_summary_model(MainWindowState& state, const SummaryModel& model) {
    state.summary = model;
    if (auto cards = build_estimate_card(model)) {
        state.summary_cards = std::move(*cards);
    } else {
        state.summary_cards.reset();
    }
    set_text_if_changed(state.estimate_download_static, estimate_panel_text(state));
    invalidate(state.estimate_download_static, false);
    set_text_if_changed(state.estimate_video_static, quality_panel_text(model));
    invalidate(state.estimate_video_static, true);

    // Unlike the live update, a new model may lower the scale.
    state.chart_maximum = nice_axis_maximum(
        std::max(model.download_mbps.value_or(0.0), model.upload_mbps.value_or(0.0)));
    refresh_status_texts(state);
    invalidate(state.dashboard_tiles[0], true);
    invalidate(state.dashboard_tiles[1], true);
}

void select_wifi_band(MainWindowState& state, int index) {
    if (index < 0 || index > 2) return;
    state.wifi.wifi_band_index = index;
    show_wifi_band(state);
}

void apply_wifi_scan(MainWindowState& state, const WifiChartData& chart) {
    const bool first_scan = state.wifi.chart.items.empty();
    state.wifi.chart = chart;
    // The first scan shows the band of the connection; later scans keep the user's choice.
    if (first_scan && chart.band >= 1 && chart.band <= 3) state.wifi.wifi_band_index = chart.band - 1;
    if (state.wifi.wifi_band_index >= 0 && state.wifi.wifi_band_index <= 2) show_wifi_band(state);
}

void apply_wifi_recommendation(MainWindowState& state, const TextCard& card) {
    state.wifi.recommendation = card;
    set_text_if_changed(state.wifi_recommendation_static, card.title + L". " + card.subtitle);
    invalidate(state.wifi_recommendation_static, true);
}

void apply_wifi_comparison(MainWindowState& state, const TextCard& card) {
    state.wifi.comparison = card;
    set_text_if_changed(state.wifi_compare_static, card.title + L". " + card.subtitle);
    invalidate(state.wifi_compare_static, true);
}

void toggle_navigation(MainWindowState& state) {
    state.nav_collapse_requested = !state.nav_collapse_requested;
    layout_main_window(state);
}

bool is_first_choice_selected(const MainWindowState& state) {
    return SendMessageW(state.profile_combo, CB_GETCURSEL, 0, 0) == 0;
}

}  // namespace tarvisko
