#pragma once
// The dashboard's model and the Wi-Fi page's chart and cards stored in the window state, with
// the window texts of the owner-drawn cards; the navigation collapse toggle.
#include "app/main_window_state.h"
#include "readings/wifi_records.h"
#include "results/summary_model.h"

namespace tarvisko {

void apply_summary_model(MainWindowState& state, const SummaryModel& model);
void select_wifi_band(MainWindowState& state, int index);
void apply_wifi_scan(MainWindowState& state, const WifiChartData& chart);
void apply_wifi_recommendation(MainWindowState& state, const TextCard& card);
void apply_wifi_comparison(MainWindowState& state, const TextCard& card);
void toggle_navigation(MainWindowState& state);
bool is_first_choice_selected(const MainWindowState& state);
// 10 for x not finite or <= 10; else the first of a, 2a, 5a (a = 10^floor(log10 x)) that is
// >= x, and 10a when none is.
double nice_axis_maximum(double x);

}  // namespace tarvisko
