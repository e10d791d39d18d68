#pragma once
// The idle-quality card of the dashboard: the five pings to the measurement server after the
// transfers, as three tiles, a line naming the node profile and one concluding sentence.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "results/summary_model.h"

namespace tarvisko {

struct PingSummary {
    std::uint64_t replies = 0;        // echo replies from the target itself, with a time
    std::uint64_t timeouts = 0;       // samples with status "timeout"
    std::uint64_t pairs = 0;          // pairs of consecutive replies
    std::optional<double> mean_ms;    // present when replies > 0
    std::optional<double> jitter_ms;  // present when pairs > 0
    // Every planned sample is a reply or a time-out, none is missing and the series was not cut.
    bool valid = false;

    bool operator==(const PingSummary&) const = default;
};

// Over a `ping_series` ("target", "planned", "reason", "samples"); tolerant of any shape.
PingSummary summarize_ping_target(const nlohmann::json& series);

// The throughput document gives the node profile; the summary the three tiles.
IdleQualityCard build_ping_card(const nlohmann::json& throughput, const PingSummary& summary);

// A tile showing "<value> ms" (or "—"), rated 1/2/3 against the inclusive bounds only when
// `rated`; an unrated or absent value has status 0.
TextCard make_ms_metric_tile(const std::wstring& title, std::optional<double> value, bool rated,
                             double good_max, double warn_max);

}  // namespace tarvisko
