#include "results/latency_stats.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace tarvisko {
namespace {

using nlohmann::json;

TEST(Jitter, MissingReplySplitsTheSeries) {
    JitterAccumulator a;
    for (const std::optional<double> sample :
         {std::optional(10.0), std::optional(12.0), std::optional<double>(), std::optional(20.0),
          std::optional(15.0)}) {
        jitter_add_sample(a, sample);
    }
    EXPECT_EQ(a.pairs, 2u);
    EXPECT_DOUBLE_EQ(a.total, 7.0);
    EXPECT_EQ(jitter_mean(a), 3.5);

    JitterAccumulator single;
    jitter_add_sample(single, 10.0);
    EXPECT_EQ(jitter_mean(single), std::nullopt);
    JitterAccumulator separated;
    for (const std::optional<double> sample :
         {std::optional(10.0), std::optional<double>(), std::optional(30.0),
          std::optional<double>(), std::optional(50.0)}) {
        jitter_add_sample(separated, sample);
    }
    EXPECT_EQ(jitter_mean(separated), std::nullopt);
}

TEST(Statistics, MedianPercentileMeanDeviation) {
    EXPECT_EQ(median_of_sorted({10, 20, 30, 40}), 25.0);
    EXPECT_EQ(median_of_sorted({5}), 5.0);
    EXPECT_EQ(median_of_sorted({}), std::nullopt);
    EXPECT_EQ(percentile_nearest_rank({1, 2, 3, 4, 5}, 0.95), 5.0);
    EXPECT_EQ(percentile_nearest_rank({7}, 0.1), 7.0);
    std::vector<double> twenty;
    for (int i = 0; i < 20; ++i) twenty.push_back(i);
    EXPECT_EQ(percentile_nearest_rank(twenty, 0.95), 18.0);
    EXPECT_EQ(percentile_nearest_rank(twenty, 0.1), 1.0);
    std::vector<double> hundred;
    for (int i = 0; i < 100; ++i) hundred.push_back(i);
    EXPECT_EQ(percentile_nearest_rank(hundred, 0.99), 98.0);
    EXPECT_EQ(percentile_nearest_rank(hundred, 0.95), 94.0);
    EXPECT_DOUBLE_EQ(population_deviation({10, 20}), 5.0);
    EXPECT_DOUBLE_EQ(mean_of({10, 20, 30, 40, 200}), 60.0);
}

json phase(int valid, int failed) {
    json samples = json::array();
    for (int i = 0; i < valid; ++i) {
        samples.push_back({{"at", "t"}, {"ms", 10 + i}, {"error", nullptr}});
    }
    for (int i = 0; i < failed; ++i) {
        samples.push_back({{"at", "t"}, {"ms", nullptr}, {"error", "timeout"}});
    }
    return samples;
}

TEST(MedianLatency, NeedsFiveAndFourFifthsValid) {
    const struct {
        int valid;
        int failed;
        std::optional<double> median;
    } cases[] = {{5, 1, 12.0}, {5, 2, std::nullopt}, {4, 0, std::nullopt},
                 {5, 0, 12.0}, {6, 0, 12.5},         {0, 0, std::nullopt}};
    for (const auto& c : cases) {
        const json samples = phase(c.valid, c.failed);
        EXPECT_EQ(median_latency_ms(samples), c.median) << c.valid << "/" << c.failed;
        EXPECT_EQ(count_answered_samples(samples), static_cast<std::uint64_t>(c.valid));
    }
    // Floating and unsigned times count; an error beside a time, or a text time, does not.
    json mixed = phase(0, 0);
    for (const json& ms : {json(1.5), json(2u), json(3), json(4.5), json(5)}) {
        mixed.push_back({{"ms", ms}, {"error", nullptr}});
    }
    mixed.push_back({{"ms", 9}, {"error", "late"}});
    mixed.push_back({{"ms", "7"}, {"error", nullptr}});
    EXPECT_EQ(count_answered_samples(mixed), 5u);
    EXPECT_EQ(median_latency_ms(mixed), std::nullopt);  // 25 < 28
    mixed.erase(mixed.end() - 1);
    EXPECT_EQ(median_latency_ms(mixed), 3.0);  // 25 >= 24
}

TEST(MedianLatency, MalformedSamplesThrow) {
    const json broken[] = {
        json::array({json::object({{"ms", 1}})}),
        json::array({json::object({{"error", nullptr}})}),
        json::array({json(5)}),
        json::array({json::array({1, 2})}),
    };
    for (const json& samples : broken) {
        EXPECT_THROW(median_latency_ms(samples), json::exception) << samples;
        EXPECT_THROW(count_answered_samples(samples), json::exception) << samples;
    }
}

}  // namespace
}  // namespace tarvisko
