#pragma once
// Shared by the probe tests: Winsock for the whole test program, and a scope in which single
// entries of the probe platform table are replaced.
#include <gtest/gtest.h>

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

}  // namespace tarvisko::test
