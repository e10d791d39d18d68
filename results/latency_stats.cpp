#include "results/latency_stats.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>

#include "results/report_readers.h"

namespace tarvisko {

namespace {

// The time of a latency sample that answered; throws on a sample without "error" or "ms".
std::optional<double> answered_time(const nlohmann::json& sample) {
    const nlohmann::json& error = sample.at("error");
    const nlohmann::json& ms = sample.at("ms");
    if (!error.is_null()) return std::nullopt;
    return stored_round_trip_ms(ms);
}

}  // namespace

bool attempt_follows(std::int64_t attempt, std::int64_t previous) {
    return previous < std::numeric_limits<std::int64_t>::max() && attempt == previous + 1;
}

void jitter_add_sample(JitterAccumulator& accumulator, std::optional<double> sample) {
    if (accumulator.previous_replied && sample) {
        accumulator.total += std::fabs(*sample - accumulator.previous_rtt);
        ++accumulator.pairs;
    }
    accumulator.previous_replied = sample.has_value();
    accumulator.previous_rtt = sample.value_or(0.0);
}

std::optional<double> jitter_mean(const JitterAccumulator& accumulator) {
    if (accumulator.pairs == 0) return std::nullopt;
    return accumulator.total / static_cast<double>(accumulator.pairs);
}

double percentile_nearest_rank(const std::vector<double>& sorted, double p) {
    const std::size_t n = sorted.size();
    auto rank = static_cast<std::size_t>(std::ceil(static_cast<double>(n) * p));
    rank = std::clamp<std::size_t>(rank, 1, n);
    return sorted[rank - 1];
}

std::optional<double> median_of_sorted(const std::vector<double>& sorted) {
    const std::size_t n = sorted.size();
    if (n == 0) return std::nullopt;
    return (sorted[(n - 1) / 2] + sorted[n / 2]) * 0.5;
}

double mean_of(const std::vector<double>& values) {
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double population_deviation(const std::vector<double>& values) {
    const double mean = mean_of(values);
    double squares = 0.0;
    for (const double value : values) squares += (value - mean) * (value - mean);
    return std::sqrt(squares / static_cast<double>(values.size()));
}

std::optional<double> median_latency_ms(const nlohmann::json& samples) {
    std::vector<double> times;
    for (const nlohmann::json& sample : samples) {
        if (const auto time = answered_time(sample)) times.push_back(*time);
    }
    if (times.size() < 5 || 5 * times.size() < 4 * samples.size()) return std::nullopt;
    std::sort(times.begin(), times.end());
    return median_of_sorted(times);
}

std::uint64_t count_answered_samples(const nlohmann::json& samples) {
    std::uint64_t answered = 0;
    for (const nlohmann::json& sample : samples) {
        if (answered_time(sample)) ++answered;
    }
    return answered;
}

}  // namespace tarvisko
