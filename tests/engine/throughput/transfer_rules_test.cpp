// Rules of the transfers that need no node: pacing arithmetic, the initial result, the
// cancel/deadline checks and the phase activity test.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "engine/throughput/transfers.h"

namespace tarvisko {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(TransferRules, PacingOffsetIsExactBeyondThirtyTwoBits) {
    struct Case {
        std::uint64_t bytes;
        std::uint64_t rate;
        std::int64_t ns;
    };
    const Case cases[] = {
        {32768, 262144, 1'000'000'000},             // first whole piece at the slowest rate: 1 s
        {65536, 262144, 2'000'000'000},             // second piece: 2 s
        {536870912, 1'000'000'000, 4'294'967'296},  // A x 8 = 2^32 bits
        {536870912, 262144, 16'384'000'000'000},    // the largest budget at the slowest rate
        {0, 1'000'000'000, 0},
        // Rates and counts of more than 32 bits are taken whole, never wrapped.
        {536870912, 5'000'000'000, 858'993'459},  // not paced as 705 Mbit/s
        {536870912, 4'300'000'000, 998'829'603},  // not paced as 5.0 Mbit/s
        {32768, 20'000'000'000, 13'107},          // a remainder beyond 64 bits x 10^9
        {4'294'967'296 + 32768, 1'000'000'000, 34'360'000'512},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pacing_offset(c.bytes, c.rate).count(), c.ns) << c.bytes << " at " << c.rate;
    }
}

TEST(TransferRules, NewResultIsNotStarted) {
    EXPECT_EQ(
        new_transfer_result().dump(),
        R"({"client_bytes":0,"duration_ms":null,"ended_at":null,"node_bytes":null,)"
        R"("node_duration_ms":null,"reason":"not_started","started_at":null,"status":"unavailable"})");
}

TEST(TransferRules, CancelWinsOverDeadline) {
    std::atomic<bool> cancel{false};
    EXPECT_NO_THROW(check_cancel_deadline(cancel, Clock::now() + 10s));
    try {
        check_cancel_deadline(cancel, Clock::now() - 1ms);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "deadline_exceeded");
    }
    cancel = true;
    try {
        check_cancel_deadline(cancel, Clock::now() - 1ms);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "cancelled");
    }
    // The session's own stop ends a transfer like the user's.
    cancel = false;
    std::atomic<bool> halt{true};
    try {
        check_cancel_deadline(TransferStop(cancel, &halt), Clock::now() + 10s);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "cancelled");
    }
}

TEST(TransferRules, BeforeDeadlineFollowsPhaseKind) {
    std::atomic<bool> cancel{false};
    TransferProgress progress;
    const auto later = Clock::now() + 10s;
    const auto earlier = Clock::now() - 1ms;
    EXPECT_TRUE(before_deadline(cancel, later, false, progress, later));
    EXPECT_FALSE(before_deadline(cancel, later, false, progress, earlier));
    EXPECT_FALSE(before_deadline(cancel, later, true, progress, later));  // not running
    progress.running = true;
    EXPECT_TRUE(before_deadline(cancel, later, true, progress, earlier));
    EXPECT_FALSE(before_deadline(cancel, earlier, true, progress, later));
    cancel = true;
    EXPECT_FALSE(before_deadline(cancel, later, true, progress, later));
}

TEST(TransferRules, ElapsedIsMilliseconds) {
    // Bounded by the same clock read around the call, so a slow machine only widens the bounds.
    const auto before = Clock::now();
    const double ms = elapsed_ms(before - 1500ms);
    const auto after = Clock::now();
    const std::chrono::duration<double, std::milli> most = after - before + 1500ms;
    EXPECT_GE(ms, 1500.0);
    EXPECT_LE(ms, most.count());
}

}  // namespace
}  // namespace tarvisko
