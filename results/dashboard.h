#pragma once
// The summary page of the last full test: five metric tiles, eight section cards, the live rate
// series, a headline with advice, the test time and where the report is kept.
#include <cstddef>
#include <nlohmann/json.hpp>
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

// A JSON string as wide text; every other value gives the empty text.
std::wstring json_value_text(const nlohmann::json& value);

// Sets a card's subtitle, body and status; the title stays.
void set_text_card(TextCard& card, std::wstring subtitle, std::wstring body, Verdict status);

}  // namespace tarvisko
