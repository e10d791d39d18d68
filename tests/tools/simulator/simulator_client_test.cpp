// The simulator as the Windows tests meet it: WinHTTP over real TLS, trusting the test CA through
// the prefix's LocalMachine Root store, with faults scripted through the control API.
#include "support/simulator_client.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tarvisko::test {
namespace {

class SimulatorClientTest : public ::testing::Test {
  protected:
    void SetUp() override { simulator_reset(); }
};

TEST_F(SimulatorClientTest, OriginIsLocalhostOverTls) {
    EXPECT_EQ(simulator_origin(), "https://localhost:" + std::to_string(simulator_port()));
    // A full round trip through WinHTTP proves that the certificate chain is trusted.
    EXPECT_EQ(simulator_request("GET", "/nothing/here").status, 404);
}

TEST_F(SimulatorClientTest, ScriptedFaultIsAppliedAndRecorded) {
    const int id = simulator_add_fault({{"path", "/api/"},
                                        {"status", 503},
                                        {"headers", {{"Retry-After", "7"}}},
                                        {"body_size", 3}});
    const SimulatorReply faulted = simulator_request("PUT", "/api/v1/sessions/x", "{}");
    EXPECT_EQ(faulted.status, 503);
    EXPECT_EQ(faulted.body, "xxx");
    const nlohmann::json requests = simulator_requests("/api/");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["fault"], id);
    EXPECT_EQ(requests[0]["method"], "PUT");
    EXPECT_EQ(simulator_faults()[0]["applied"], 1);
}

TEST_F(SimulatorClientTest, DroppedReplyIsATransportFailure) {
    simulator_add_fault({{"path", "/gone"}, {"drop", "before_reply"}});
    EXPECT_THROW(simulator_request("GET", "/gone"), std::runtime_error);
}

TEST_F(SimulatorClientTest, RefusedControlCallThrows) {
    EXPECT_THROW(simulator_add_fault({{"status", 500}}), std::runtime_error);
}

}  // namespace
}  // namespace tarvisko::test
