#include "results/estimate_card.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace tarvisko {
namespace {

SummaryModel with_download(std::optional<double> rate, bool has_report = true) {
    SummaryModel model;
    model.has_report = has_report;
    model.download_mbps = rate;
    model.upload_mbps = 50.0;  // plays no part
    return model;
}

TEST(EstimateCard, TranslatesTheDownloadRate) {
    struct Case {
        double rate;
        std::wstring times;
        std::wstring streams;
    };
    const std::vector<Case> cases = {
        {100.0, L"100 MB · 8 s    |    1 GB · 1 min 20 s",
         L"4K do 5   ·   Full HD do 16   ·   HD do 26"},
        // 16 000 s are 266.7 minutes, rounded up to 267.
        {0.5, L"100 MB · 26 min 40 s    |    1 GB · 4 godz. 27 min",
         L"4K do 0   ·   Full HD do 0   ·   HD do 0"},
        {10000.0, L"100 MB · poniżej 1 s    |    1 GB · poniżej 1 s",
         L"4K do 533   ·   Full HD do 1000+   ·   HD do 1000+"},
        {0.008, L"100 MB · ponad 24 godz.    |    1 GB · ponad 24 godz.",
         L"4K do 0   ·   Full HD do 0   ·   HD do 0"},
        // A budget of 2.56 Mb/s holds no stream, the times are still given.
        {3.2, L"100 MB · 4 min 10 s    |    1 GB · 41 min 40 s",
         L"4K do 0   ·   Full HD do 0   ·   HD do 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        const auto cards = build_estimate_card(with_download(c.rate));
        ASSERT_TRUE(cards.has_value());
        const TextCard times{L"Szacowany czas pobrania", c.times,
                             L"Przy utrzymaniu zmierzonej prędkości.", 0};
        const TextCard streams{L"Szacowana liczba filmów jednocześnie", c.streams,
                               L"Każda jakość osobno. Zapas 20% na inny ruch.", 0};
        EXPECT_EQ(cards->first, times);
        EXPECT_EQ(cards->second, streams);
    }
}

TEST(EstimateCard, AbsentWithoutAUsableRate) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<SummaryModel> models = {
        SummaryModel{},     with_download(100.0, false), with_download(std::nullopt),
        with_download(0.0), with_download(-5.0),         with_download(std::nan("")),
        with_download(inf), with_download(-inf),
    };
    for (std::size_t i = 0; i < models.size(); ++i) {
        EXPECT_EQ(build_estimate_card(models[i]), std::nullopt) << "model " << i;
    }
}

TEST(EstimateCard, DurationSteps) {
    // At 8 Mb/s a megabyte takes exactly one second.
    struct Case {
        double seconds;
        std::wstring text;
    };
    const std::vector<Case> cases = {
        {0.999, L"poniżej 1 s"},
        {1.0, L"1 s"},
        {1.2, L"2 s"},
        {59.5, L"1 min"},
        {61.0, L"1 min 1 s"},
        {3599.5, L"1 godz."},
        {3601.0, L"1 godz. 1 min"},
        {7199.0, L"2 godz."},
        {86400.0, L"24 godz."},
        {86400.5, L"ponad 24 godz."},
    };
    for (const Case& c : cases) EXPECT_EQ(format_duration(8.0, c.seconds), c.text) << c.seconds;
    EXPECT_EQ(format_duration(0.0, 100.0), L"ponad 24 godz.");
}

TEST(EstimateCard, CountSteps) {
    EXPECT_EQ(format_count_estimate(14.99, 15.0), L"0");
    EXPECT_EQ(format_count_estimate(15.0, 15.0), L"1");
    EXPECT_EQ(format_count_estimate(2999.0, 3.0), L"999");
    EXPECT_EQ(format_count_estimate(3000.0, 3.0), L"1000+");
}

}  // namespace
}  // namespace tarvisko
