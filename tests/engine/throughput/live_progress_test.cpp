#include "engine/throughput/live_progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <utility>

namespace tarvisko {
namespace {

using std::chrono::milliseconds;
using Time = std::chrono::steady_clock::time_point;

TEST(LiveProgress, FirstPointIsZeroAndSameMillisecondKeepsFirst) {
    LiveTraffic live;
    const Time t{std::chrono::seconds(100)};
    update_live_progress(live, 0, 10, t);
    update_live_progress(live, 0, 20, t + std::chrono::microseconds(900));
    update_live_progress(live, 0, 30, t + milliseconds(5));
    update_live_progress(live, 0, 40, t + milliseconds(4));  // older than the last point
    EXPECT_EQ(read_live_progress(live, 0), nlohmann::json::parse("[[0,10],[5,30]]"));
    EXPECT_TRUE(read_live_progress(live, 1).empty());
}

TEST(LiveProgress, SeriesStopsAt1024Points) {
    LiveTraffic live;
    const Time t{std::chrono::seconds(7)};
    for (int i = 0; i < 1025; ++i)
        update_live_progress(live, 1, static_cast<unsigned>(i), t + milliseconds(i));
    const nlohmann::json series = read_live_progress(live, 1);
    ASSERT_EQ(series.size(), 1024u);
    EXPECT_EQ(series.back(), nlohmann::json::parse("[1023,1023]"));
}

TEST(LiveProgress, ResetStartsNewSeriesAtZeroAndKeepsFlagAndCallback) {
    LiveTraffic live;
    live.capacity = true;
    int calls = 0;
    live.local_address_callback = [&calls](const nlohmann::json&) { ++calls; };
    live.download_bytes = 5;
    live.upload_bytes = 6;
    live.rate_cap = 7;
    const Time t{std::chrono::seconds(50)};
    update_live_progress(live, 0, 1, t);
    update_live_progress(live, 0, 2, t + milliseconds(300));
    reset_live_progress(live);
    EXPECT_EQ(live.download_bytes.load(), 0u);
    EXPECT_EQ(live.upload_bytes.load(), 0u);
    EXPECT_EQ(live.rate_cap.load(), 0u);
    EXPECT_TRUE(live.capacity);
    ASSERT_TRUE(live.local_address_callback);
    update_live_progress(live, 0, 9, t + milliseconds(900));
    EXPECT_EQ(read_live_progress(live, 0), nlohmann::json::parse("[[0,9]]"));
}

TEST(LiveProgress, CloseEndsTheSeriesWhenTheLastByteWasCounted) {
    struct Case {
        const char* name;
        int end_ms;  // the transfer's last counted byte, after the series' start
        const char* series;
    };
    // Before: [[0,0],[100,10],[250,30],[400,50]]; the transfer's final count is 60.
    const Case cases[] = {
        {"after every point", 500, "[[0,0],[100,10],[250,30],[400,50],[500,60]]"},
        {"points taken after the end are dropped", 300, "[[0,0],[100,10],[250,30],[300,60]]"},
        {"a point of the same millisecond takes the count", 250, "[[0,0],[100,10],[250,60]]"},
        {"the start point stays", 0, "[[0,0]]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveTraffic live;
        const Time t{std::chrono::seconds(30)};
        for (const auto& [ms, bytes] : {std::pair{0, 0}, {100, 10}, {250, 30}, {400, 50}}) {
            update_live_progress(live, 1, static_cast<std::uint64_t>(bytes), t + milliseconds(ms));
        }
        // Within the millisecond: truncated like every other point.
        close_live_progress(live, 1, 60,
                            t + milliseconds(c.end_ms) + std::chrono::microseconds(700));
        EXPECT_EQ(read_live_progress(live, 1), nlohmann::json::parse(c.series));
    }
    LiveTraffic empty;
    close_live_progress(empty, 0, 7, Time{std::chrono::seconds(1)});
    EXPECT_EQ(read_live_progress(empty, 0), nlohmann::json::parse("[[0,7]]"));
    EXPECT_THROW(close_live_progress(empty, 2, 1, Time{}), std::out_of_range);
}

TEST(LiveProgress, DirectionOutsideZeroAndOneIsOutOfRange) {
    LiveTraffic live;
    EXPECT_THROW(update_live_progress(live, 2, 1), std::out_of_range);
    EXPECT_THROW(update_live_progress(live, -1, 1), std::out_of_range);
    EXPECT_THROW(read_live_progress(live, 2), std::out_of_range);
    EXPECT_TRUE(read_live_progress(live, 0).empty());
    EXPECT_TRUE(read_live_progress(live, 1).empty());
}

TEST(LiveProgress, RealClockPointsRise) {
    LiveTraffic live;
    update_live_progress(live, 1, 0);
    update_live_progress(live, 1, 100, std::chrono::steady_clock::now() + milliseconds(2));
    const nlohmann::json series = read_live_progress(live, 1);
    ASSERT_EQ(series.size(), 2u);
    EXPECT_EQ(series[0][0], 0);
    EXPECT_GT(series[1][0].get<long long>(), 0);
}

}  // namespace
}  // namespace tarvisko
