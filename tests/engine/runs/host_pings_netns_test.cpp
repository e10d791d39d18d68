// The host ping series over the real echo path, inside a namespace network built by
// tools/netns/run.sh (client, one router, target).
#include <gtest/gtest.h>

#include "engine/common/system.h"
#include "engine/common/text.h"
#include "engine/runs/host_pings.h"

namespace tarvisko {
namespace {

class WinsockScope {
  public:
    WinsockScope() {
        WSADATA data{};
        EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    ~WinsockScope() { WSACleanup(); }
};

TEST(HostPingsInNamespaces, PingsTheNodeOverTheRealPath) {
    WinsockScope winsock;
    const std::string node = to_utf8(read_environment_variable(L"TARVISKO_NETNS_TARGET"));
    const std::string client = to_utf8(read_environment_variable(L"TARVISKO_NETNS_CLIENT"));
    ASSERT_FALSE(node.empty()) << "run through tools/netns/run.sh";
    nlohmann::json document{{"peer", node},
                            {"reservation_local_ip", {{"status", "ok"}, {"value", client}}}};
    std::atomic<bool> cancel{false};
    int saves = 0;
    run_host_pings(document, cancel, [&] { ++saves; });

    const nlohmann::json& gateway = document["host_pings"]["gateway"];
    const nlohmann::json& pinged = document["host_pings"]["node"];
    // Windows finds the router as the gateway; Wine has no GetBestRoute2, so there the gateway
    // series keeps its route reason and only the node is pinged.
    if (gateway["target"].is_null()) {
        EXPECT_EQ(gateway["reason"], "route_lookup_failed");
        EXPECT_TRUE(gateway["samples"].empty());
    } else {
        EXPECT_EQ(gateway["target"], to_utf8(read_environment_variable(L"TARVISKO_NETNS_ROUTER1")));
    }
    EXPECT_EQ(pinged["target"], node);
    EXPECT_TRUE(pinged["reason"].is_null());
    ASSERT_EQ(pinged["samples"].size(), 5u);
    for (const nlohmann::json& sample : pinged["samples"]) {
        EXPECT_EQ(sample["status"], "echo_reply") << sample;
        EXPECT_EQ(sample["responder"], node);
        EXPECT_TRUE(sample["rtt_ms"].is_number_unsigned());
    }
    EXPECT_GE(saves, 7);
}

TEST(HostPingsInNamespaces, SilentNodeTimesOut) {
    WinsockScope winsock;
    const std::string silent = to_utf8(read_environment_variable(L"TARVISKO_NETNS_BLACKHOLE"));
    nlohmann::json document{{"peer", silent}};
    std::atomic<bool> cancel{false};
    run_host_pings(document, cancel, [] {});
    const nlohmann::json& pinged = document["host_pings"]["node"];
    ASSERT_EQ(pinged["samples"].size(), 5u);
    for (const nlohmann::json& sample : pinged["samples"]) {
        EXPECT_EQ(sample["status"], "timeout") << sample;
        EXPECT_TRUE(sample["responder"].is_null());
        EXPECT_TRUE(sample["rtt_ms"].is_null());
    }
    EXPECT_TRUE(pinged["reason"].is_null());
}

}  // namespace
}  // namespace tarvisko
