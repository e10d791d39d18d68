// Real target runs in a private chain of network namespaces (tools/netns/run.sh): client, three
// routers, target. Every probe goes to an address inside that chain.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/system.h"
#include "engine/common/text.h"
#include "engine/probes/probe_fixture.h"
#include "engine/probes/probe_platform.h"
#include "engine/runs/target_run.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;

std::string env(const std::string& name) {
    const std::string value = to_utf8(read_environment_variable(to_wide(name)));
    if (value.empty()) throw std::runtime_error(name + " unset: run through tools/netns/run.sh");
    return value;
}

std::string router(int k) { return env("TARVISKO_NETNS_ROUTER" + std::to_string(k)); }

// One expected sample: TTL, status, responder ("" for none).
struct Hop {
    int ttl;
    std::string status;
    std::string responder;
};

struct NamespaceRun : ::testing::Test {
    test::TempDir dir;
    test::ScopedEnv queue_dir{L"QUORVEL_QUEUE_DIR", dir.path().wstring()};
    test::ScopedEnv no_origin{L"QUORVEL_API_ORIGIN", nullptr};
    std::atomic<bool> cancel{false};

    static TargetRunRequest trace_to(const std::string& target) {
        TargetRunRequest r;
        r.purpose = "mtr";
        r.target = target;
        r.profile_name = "MTR";
        r.protocol = "icmp";
        r.attempts = 2;
        r.max_ttl = 6;
        r.timeout_ms = 300;
        r.interval_ms = 100;
        return r;
    }

    // Every attempt shows exactly the hops given, in order.
    static void expect_walks(const json& report, std::uint32_t attempts,
                             const std::vector<Hop>& hops) {
        const json& samples = report["mtr_samples"];
        ASSERT_EQ(samples.size(), attempts * hops.size()) << samples.dump();
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const Hop& hop = hops[i % hops.size()];
            SCOPED_TRACE("sample " + std::to_string(i) + ": " + samples[i].dump());
            EXPECT_EQ(samples[i]["attempt"], i / hops.size() + 1);
            EXPECT_EQ(samples[i]["ttl"], hop.ttl);
            EXPECT_EQ(samples[i]["status"], hop.status);
            if (hop.responder.empty()) {
                EXPECT_TRUE(samples[i]["responder"].is_null());
                EXPECT_TRUE(samples[i]["rtt_ms"].is_null());
            } else {
                EXPECT_EQ(samples[i]["responder"], hop.responder);
                EXPECT_TRUE(samples[i]["rtt_ms"].is_number_unsigned());
            }
        }
    }
};

TEST_F(NamespaceRun, IcmpTraceNamesEveryRouterAndEndsAtTheTarget) {
    const std::string target = env("TARVISKO_NETNS_TARGET");
    const json report = run_target_probe(trace_to(target), cancel, {});
    EXPECT_EQ(report["state"], "completed");
    EXPECT_EQ(report["error"], "");
    EXPECT_EQ(report["measurement"]["targets"], json::array({target}));
    expect_walks(report, 2,
                 {{1, "ttl_expired", router(1)},
                  {2, "ttl_expired", router(2)},
                  {3, "ttl_expired", router(3)},
                  {4, "echo_reply", target}});
}

TEST_F(NamespaceRun, EchoRunSendsOneProbePerAttempt) {
    const std::string target = env("TARVISKO_NETNS_TARGET");
    TargetRunRequest r = trace_to(target);
    r.echo = true;
    r.attempts = 3;
    r.max_ttl = 30;
    const json report = run_target_probe(r, cancel, {});
    EXPECT_EQ(report["measurement"]["technique"], "echo");
    expect_walks(report, 3, {{30, "echo_reply", target}});
    test::save_fixture("echo-run", report);
}

// Wine fails a TCP connect whose TTL runs out with "host unreachable" but knows neither
// TCP_FAIL_CONNECT_ON_ICMP_ERROR nor TCP_ICMP_ERROR_INFO (which router sent the ICMP error). The
// seam accepts the first and answers the second as Windows would, from the socket's real TTL:
// router k is the one that drops a TTL of k in this chain. Connects and failures stay real.
int accept_fail_on_icmp(SOCKET socket, int level, int name, const char* value, int length) {
    if (level == IPPROTO_TCP && name == tcp_fail_connect_on_icmp_error) return 0;
    return real_probe_platform().set_socket_option(socket, level, name, value, length);
}

int chain_icmp_error_info(SOCKET socket, int level, int name, char* value, int* length) {
    if (level != IPPROTO_TCP || name != tcp_icmp_error_info) {
        return real_probe_platform().get_socket_option(socket, level, name, value, length);
    }
    DWORD ttl = 0;
    int ttl_length = sizeof ttl;
    if (getsockopt(socket, IPPROTO_IP, IP_TTL, reinterpret_cast<char*>(&ttl), &ttl_length) != 0) {
        return SOCKET_ERROR;
    }
    IcmpErrorInfo info{};
    info.srcaddress = parse_ip_literal(router(static_cast<int>(ttl))).address;
    info.protocol = IPPROTO_ICMP;
    info.type = 11;  // time exceeded
    info.code = 0;
    std::memcpy(value, &info, sizeof info);
    *length = sizeof info;
    return 0;
}

TEST_F(NamespaceRun, TcpTraceNamesEveryRouterAndEndsAtTheRefusingTarget) {
    test::ScopedProbePlatform platform;
    platform.table().set_socket_option = accept_fail_on_icmp;
    platform.table().get_socket_option = chain_icmp_error_info;
    const std::string target = env("TARVISKO_NETNS_TARGET");
    TargetRunRequest r = trace_to(target);
    r.protocol = "tcp";
    const json report = run_target_probe(r, cancel, {});
    EXPECT_EQ(report["state"], "completed");
    expect_walks(report, 2,
                 {{1, "ttl_expired", router(1)},
                  {2, "ttl_expired", router(2)},
                  {3, "ttl_expired", router(3)},
                  {4, "tcp_refused", target}});
    for (const json& sample : report["mtr_samples"]) {
        EXPECT_EQ(sample["tcp_port"], 443);
        EXPECT_EQ(sample["native_code"], sample["ttl"] == 4 ? 10061 : 10065);
    }
}

// The blackholing router (the third) drops the probes without a word: from there on every hop is
// a time-out, and the walk still goes on to the maximum TTL.
TEST_F(NamespaceRun, BlackholedHopIsATimeoutAndTheWalkGoesOn) {
    TargetRunRequest r = trace_to(env("TARVISKO_NETNS_BLACKHOLE"));
    r.attempts = 1;
    r.max_ttl = 5;
    r.timeout_ms = 200;
    const json report = run_target_probe(r, cancel, {});
    EXPECT_EQ(report["state"], "completed");
    expect_walks(report, 1,
                 {{1, "ttl_expired", router(1)},
                  {2, "ttl_expired", router(2)},
                  {3, "timeout", ""},
                  {4, "timeout", ""},
                  {5, "timeout", ""}});
}

TEST_F(NamespaceRun, UnreachableRouteEndsTheWalk) {
    TargetRunRequest r = trace_to(env("TARVISKO_NETNS_UNREACHABLE"));
    r.max_ttl = 10;
    const json report = run_target_probe(r, cancel, {});
    // The third router still forwards a TTL of 3 only to let it expire; a TTL of 4 meets its
    // dead next hop, and the router answers "host unreachable".
    expect_walks(report, 2,
                 {{1, "ttl_expired", router(1)},
                  {2, "ttl_expired", router(2)},
                  {3, "ttl_expired", router(3)},
                  {4, "unreachable", router(3)}});
    EXPECT_EQ(report["mtr_samples"][3]["native_code"], 11003);
}

// The target's public address exists only inside the chain: the client has no route out of it.
TEST_F(NamespaceRun, GamingNeedsAPublicAddressUnlessUserSupplied) {
    TargetRunRequest r = trace_to(env("TARVISKO_NETNS_TARGET"));
    r.purpose = "gaming";
    r.target_kind = "official_diagnostic";
    r.attempts = 1;
    try {
        run_target_probe(r, cancel, {});
        ADD_FAILURE() << "a private game target was accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Brak dozwolonego adresu IP dla wybranego celu.");
    }

    const std::string public_address = env("TARVISKO_NETNS_TARGET_ADDRESS");
    r.target = public_address;
    const json accepted = run_target_probe(r, cancel, {});
    EXPECT_EQ(accepted["state"], "completed");
    expect_walks(accepted, 1,
                 {{1, "ttl_expired", router(1)},
                  {2, "ttl_expired", router(2)},
                  {3, "ttl_expired", router(3)},
                  {4, "echo_reply", public_address}});

    r.target = env("TARVISKO_NETNS_TARGET");
    r.target_kind = "user_supplied";
    EXPECT_EQ(run_target_probe(r, cancel, {})["state"], "completed");
}

// Names come only from the client's own hosts file; its resolver is a dead loopback address.
TEST_F(NamespaceRun, NamesResolveFromTheNamespaceHostsFile) {
    TargetRunRequest r = trace_to("both.tarvisko.test");
    r.echo = true;
    r.attempts = 1;
    const json any = run_target_probe(r, cancel, {});
    ASSERT_EQ(any["measurement"]["targets"].size(), 1u);
    EXPECT_EQ(any["measurement"]["target_name"], "both.tarvisko.test");

    // Of a private and a public address, a game target takes the public one.
    r.purpose = "gaming";
    r.target_kind = "official_diagnostic";
    const json game = run_target_probe(r, cancel, {});
    EXPECT_EQ(game["measurement"]["targets"], json::array({env("TARVISKO_NETNS_TARGET_ADDRESS")}));
    EXPECT_EQ(game["mtr_samples"][0]["status"], "echo_reply");

    r.target = "missing.tarvisko.test";
    try {
        run_target_probe(r, cancel, {});
        ADD_FAILURE() << "an unknown name resolved";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Windows nie rozpoznał adresu celu.");
    }
}

// The request's family picks which of the hosts file's addresses the resolver may give.
TEST_F(NamespaceRun, FamilyLimitsTheResolvedAddresses) {
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    TargetRunRequest r = trace_to("localhost");
    r.family = 4;
    EXPECT_EQ(resolve_target(r).text, "127.0.0.1");
    r.family = 6;
    EXPECT_EQ(resolve_target(r).text, "::1");
    r.target = "both.tarvisko.test";  // IPv4 entries only
    try {
        (void)resolve_target(r);
        ADD_FAILURE() << "an IPv6 address was found for an IPv4-only name";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Windows nie rozpoznał adresu celu.");
    }
    WSACleanup();
}

// Run in a chain whose second router forwards but never answers (registered with SILENT_AT 2).
TEST_F(NamespaceRun, SilentRouterIsATimeoutAndTheWalkReachesTheTarget) {
    const std::string target = env("TARVISKO_NETNS_TARGET");
    const json report = run_target_probe(trace_to(target), cancel, {});
    EXPECT_EQ(report["state"], "completed");
    expect_walks(report, 2,
                 {{1, "ttl_expired", router(1)},
                  {2, "timeout", ""},
                  {3, "ttl_expired", router(3)},
                  {4, "echo_reply", target}});
}

// Five rounds past the silent router: enough for the result views to rate the target.
TEST_F(NamespaceRun, SilentRouterInFiveRoundsKeepsEveryRound) {
    const std::string target = env("TARVISKO_NETNS_TARGET");
    TargetRunRequest r = trace_to(target);
    r.attempts = 5;
    const json report = run_target_probe(r, cancel, {});
    EXPECT_EQ(report["state"], "completed");
    expect_walks(report, 5,
                 {{1, "ttl_expired", router(1)},
                  {2, "timeout", ""},
                  {3, "ttl_expired", router(3)},
                  {4, "echo_reply", target}});
    test::save_fixture("trace-silent-router", report);
}

}  // namespace
}  // namespace tarvisko
