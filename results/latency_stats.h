#pragma once
// The statistics every latency view computes over round-trip times, in milliseconds.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace tarvisko {

// Mean absolute difference of consecutive replies. A missing reply splits the series; callers
// feed an absent sample wherever else a series breaks.
struct JitterAccumulator {
    double previous_rtt = 0.0;  // meaningless while previous_replied is false
    bool previous_replied = false;
    double total = 0.0;
    std::uint64_t pairs = 0;
};

// `attempt` is the one right after `previous`: a series of probes goes on unbroken.
bool attempt_follows(std::int64_t attempt, std::int64_t previous);

void jitter_add_sample(JitterAccumulator& accumulator, std::optional<double> sample);
std::optional<double> jitter_mean(const JitterAccumulator& accumulator);

// `sorted` ascending and not empty, 0 < p <= 1: the value of rank ceil(n * p).
double percentile_nearest_rank(const std::vector<double>& sorted, double p);
// The middle value, or the mean of the two middle values, of an ascending list; none when empty.
std::optional<double> median_of_sorted(const std::vector<double>& sorted);
double mean_of(const std::vector<double>& values);               // not empty
double population_deviation(const std::vector<double>& values);  // not empty, divided by n

// Over the latency samples of one throughput phase: the median of the valid times, only when at
// least 5 and at least 80 % of the samples carry one. Every element must be an object with
// "error" and "ms"; otherwise the JSON library's error passes to the caller.
std::optional<double> median_latency_ms(const nlohmann::json& samples);
// Elements with a null "error" and a numeric "ms", under the same strict reading.
std::uint64_t count_answered_samples(const nlohmann::json& samples);

}  // namespace tarvisko
