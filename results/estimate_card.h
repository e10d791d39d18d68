#pragma once
// The measured download rate in everyday terms: how long a file takes and how many video streams
// fit at once.
#include <optional>
#include <string>
#include <utility>

#include "results/summary_model.h"

namespace tarvisko {

// The download-time card, then the streaming card; nothing unless the model holds a report with a
// finite download rate above 0. Both cards carry status 0.
std::optional<std::pair<TextCard, TextCard>> build_estimate_card(const SummaryModel& model);

// The time `megabytes` take at `rate_mbps`: "poniżej 1 s", "8 s", "1 min 20 s", "4 godz. 27 min"
// or "ponad 24 godz.".
std::wstring format_duration(double rate_mbps, double megabytes);

// Whole items of `per_item_mbps` that fit into `budget_mbps`, "1000+" from a thousand on.
std::wstring format_count_estimate(double budget_mbps, double per_item_mbps);

}  // namespace tarvisko
