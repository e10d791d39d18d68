#pragma once
// Shared by the probe tests: Winsock for the whole test program, and a scope in which single
// entries of the probe platform table are replaced.
#include <gtest/gtest.h>

#include <chrono>

#include "engine/probes/probe_platform.h"
#include "engine/probes/probes.h"

namespace tarvisko::test {

class WinsockEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

// Restores the real table when the scope ends.
class ScopedProbePlatform {
  public:
    ScopedProbePlatform() : saved_(probe_platform()) {}
    ~ScopedProbePlatform() { probe_platform() = saved_; }
    ScopedProbePlatform(const ScopedProbePlatform&) = delete;
    ScopedProbePlatform& operator=(const ScopedProbePlatform&) = delete;
    ProbePlatform& table() { return probe_platform(); }

  private:
    ProbePlatform saved_;
};

// A clock the test controls for the probe loop: it stands still while a probe runs and jumps to
// whatever instant the loop sleeps until, so pacing is checked on the instants the loop schedules
// however busy the machine is. Installed for the scope's lifetime; one at a time.
class ScopedProbeClock {
  public:
    ScopedProbeClock() : saved_(probe_platform()) {
        current() = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
        probe_platform().steady_now = [] { return current(); };
        probe_platform().sleep_until = [](std::chrono::steady_clock::time_point due) {
            if (due > current()) current() = due;
        };
    }
    ~ScopedProbeClock() { probe_platform() = saved_; }
    ScopedProbeClock(const ScopedProbeClock&) = delete;
    ScopedProbeClock& operator=(const ScopedProbeClock&) = delete;
    static std::chrono::steady_clock::time_point& current() {
        static std::chrono::steady_clock::time_point now;
        return now;
    }

  private:
    ProbePlatform saved_;
};

}  // namespace tarvisko::test
