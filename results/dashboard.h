#pragma once
// The summary page of the last full test: five metric tiles, eight section cards, the live rate
// series, a headline with advice, the test time and where the report is kept.
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "results/summary_model.h"

namespace tarvisko {

// Positions in SummaryModel::tiles and SummaryModel::sections.
enum SummaryTile : std::size_t { tile_download, tile_upload, tile_ping, tile_jitter, tile_loss };
enum SummarySection : std::size_t {
    section_computer,
    section_connection,
    section_local_network,
    section_operator,
    section_dns,
    section_ipv4,
    section_ipv6,
    section_stability
};

// The whole dashboard of a `diagnostics_report` (any JSON value; null before the first test).
// Never throws on missing or mistyped members: what cannot be read keeps its neutral default.
SummaryModel build_results_view(const nlohmann::json& report);

// Beside a tile's value: "Dobrze", "Uwaga", "Wysoka wartość", otherwise "Za mało danych".
std::wstring rating_label(Verdict status);

// The rate points of a transfer trace of [elapsed ms, cumulative bytes] pairs that starts at
// [0, 0]: one point per later pair, in Mb/s over its interval. Empty when any pair is malformed
// or goes backwards, or when there are more than 1024 pairs.
std::vector<SeriesPoint> read_series_pairs(const nlohmann::json& trace);

// What the rate points of one transfer say about its steady course. Only intervals that began
// after the transfer's first byte was counted take part: the ones before hold the connection
// set-up and would understate the rate beside the transfer's average.
struct TransferSampleStats {
    std::size_t intervals = 0;
    double minimum = 0.0;
    double p10 = 0.0;  // nearest rank
    double median = 0.0;
    double maximum = 0.0;
    double last = 0.0;  // the latest interval's rate
};
// The rates of those intervals, in time order.
std::vector<double> transfer_interval_rates(const std::vector<SeriesPoint>& series);
// None when fewer than 5 such intervals remain: too few to speak of minimum and spread.
std::optional<TransferSampleStats> transfer_sample_stats(const std::vector<SeriesPoint>& series);

// A JSON string as wide text; every other value gives the empty text.
std::wstring json_value_text(const nlohmann::json& value);

// Sets a card's subtitle, body and status; the title stays.
void set_text_card(TextCard& card, std::wstring subtitle, std::wstring body, Verdict status);

}  // namespace tarvisko
