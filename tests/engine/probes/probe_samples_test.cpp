#include "engine/probes/probe_samples.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/engine/probes/probe_fixture.h"

namespace tarvisko {
namespace {

using nlohmann::json;

ProbeResult hop(const std::string& status, const std::string& responder = "", std::uint32_t rtt = 0,
                std::uint32_t code = 0) {
    return ProbeResult{status, code, responder, rtt};
}

// Probes that answer from a table by TTL (a missing TTL is a time-out) and log what was sent.
struct ScriptedNetwork {
    std::map<std::uint32_t, ProbeResult> by_ttl;
    std::vector<std::uint32_t> sent_ttls;
    std::vector<std::uint32_t> sent_timeouts;
    int opened = 0;
    int closed = 0;
    std::function<void()> during_probe;

    ProbeResult answer(std::uint32_t ttl, std::uint32_t timeout) {
        sent_ttls.push_back(ttl);
        sent_timeouts.push_back(timeout);
        if (during_probe) during_probe();
        auto found = by_ttl.find(ttl);
        return found == by_ttl.end() ? hop("timeout", "", 0, 11010) : found->second;
    }

    ProbeOperations operations() {
        ProbeOperations ops;
        ops.open_echo_target = [this](const Target& t) {
            ++opened;
            EchoTarget echo;
            echo.target = t;
            return echo;
        };
        ops.close_echo_target = [this](EchoTarget&) { ++closed; };
        ops.send_echo = [this](const EchoTarget&, std::uint8_t ttl, std::uint32_t timeout) {
            return answer(ttl, timeout);
        };
        ops.tcp_connect_probe = [this](Target, std::uint32_t ttl, std::uint32_t timeout) {
            return answer(ttl, timeout);
        };
        return ops;
    }
};

struct Recorder {
    std::vector<std::string> lines;
    SampleStore store() {
        return [this](const std::string& id, const std::string& line) {
            EXPECT_EQ(id, "6F1C2B4A-0D3E-4C59-9A7B-1E2F3A4B5C6D");
            lines.push_back(line);
        };
    }
};

struct LoopFixture : ::testing::Test {
    Target target = parse_ip_literal("203.0.113.9");
    std::atomic<bool> unavailable_seen{false};
    std::atomic<bool> result_seen{false};
    std::atomic<bool> cancel{false};
    ScriptedNetwork net;
    Recorder recorder;

    ProbeLoop loop(const std::string& protocol, std::uint32_t attempts, std::uint32_t max_ttl,
                   std::uint32_t first_ttl = 1) {
        ProbeLoop l;
        l.target = &target;
        l.session_id = "6F1C2B4A-0D3E-4C59-9A7B-1E2F3A4B5C6D";
        l.attempts = attempts;
        l.max_ttl = max_ttl;
        l.timeout_ms = 400;
        l.settings = ProbeSettings{protocol, 0, false};
        l.phase = "baseline";
        l.cancel = &cancel;
        l.first_ttl = first_ttl;
        return l;
    }
    void run(const ProbeLoop& l) {
        run_probe_loop(recorder.store(), net.operations(), unavailable_seen, result_seen, l);
    }
};

TEST(ProbeSampleLine, FixedKeyOrderAndBareNulls) {
    const Target v4 = parse_ip_literal("192.0.2.1");
    const Target v6 = parse_ip_literal("2001:db8::1");
    const std::string id = "6F1C2B4A-0D3E-4C59-9A7B-1E2F3A4B5C6D";
    const std::string at = "2026-12-10T13:20:00.123Z";
    struct Case {
        const Target& target;
        std::string protocol;
        ProbeResult result;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {v4, "icmp", hop("ttl_expired", "10.0.0.1", 3, 11013),
         R"({"schema_version":1,"session_id":")" + id + R"(","timestamp":")" + at +
             R"(","target":"192.0.2.1","family":4,"protocol":"icmp","phase":"baseline","attempt":2,"ttl":5,"status":"ttl_expired","native_code":11013,"responder":"10.0.0.1","rtt_ms":3})"},
        {v4, "tcp", hop("timeout", "", 0, 4294967295u),
         R"({"schema_version":1,"session_id":")" + id + R"(","timestamp":")" + at +
             R"(","target":"192.0.2.1","family":4,"protocol":"tcp","tcp_port":443,"phase":"baseline","attempt":2,"ttl":5,"status":"timeout","native_code":4294967295,"responder":null,"rtt_ms":null})"},
        {v6, "icmp", hop("echo_reply", "2001:db8::1", 0, 0),
         R"({"schema_version":1,"session_id":")" + id + R"(","timestamp":")" + at +
             R"(","target":"2001:db8::1","family":6,"protocol":"icmp","phase":"baseline","attempt":2,"ttl":5,"status":"echo_reply","native_code":0,"responder":"2001:db8::1","rtt_ms":0})"},
    };
    for (const Case& c : cases) {
        const std::string line =
            probe_sample_line(id, at, c.target, c.protocol, "baseline", 2, 5, c.result);
        EXPECT_EQ(line, c.expected);
        EXPECT_TRUE(json::accept(line));
    }
}

// Which TTLs one walk sends for a given network, and which flags it sets.
TEST_F(LoopFixture, WalkEndRules) {
    struct Case {
        const char* name;
        std::string protocol;
        std::map<std::uint32_t, ProbeResult> network;
        std::vector<std::uint32_t> expected_ttls;
        bool unavailable;
        bool result;
    };
    const std::vector<Case> cases = {
        {"target answers at hop 3",
         "icmp",
         {{1, hop("ttl_expired", "10.0.0.1", 1)},
          {2, hop("ttl_expired", "10.0.1.1", 2)},
          {3, hop("echo_reply", "203.0.113.9", 3)}},
         {1, 2, 3},
         false,
         true},
        {"echo reply from another host goes on",
         "icmp",
         {{1, hop("echo_reply", "10.0.0.1", 1)}, {2, hop("echo_reply", "203.0.113.9", 2)}},
         {1, 2},
         false,
         true},
        {"timeouts go on to the maximum", "icmp", {}, {1, 2, 3, 4, 5, 6}, false, true},
        {"unreachable ends",
         "icmp",
         {{1, hop("ttl_expired", "10.0.0.1", 1)}, {2, hop("unreachable", "10.0.0.1", 1, 11003)}},
         {1, 2},
         false,
         true},
        {"unavailable ends", "icmp", {{1, hop("unavailable", "", 0, 1231)}}, {1}, true, false},
        {"tcp refused ends",
         "tcp",
         {{1, hop("timeout")}, {2, hop("tcp_refused", "203.0.113.9", 1, 10061)}},
         {1, 2},
         false,
         true},
        {"tcp connected ends",
         "tcp",
         {{1, hop("tcp_connected", "203.0.113.9", 1)}},
         {1},
         false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        net = ScriptedNetwork{};
        net.by_ttl = c.network;
        recorder.lines.clear();
        unavailable_seen = false;
        result_seen = false;
        run(loop(c.protocol, 1, 6));
        EXPECT_EQ(net.sent_ttls, c.expected_ttls);
        EXPECT_EQ(recorder.lines.size(), c.expected_ttls.size());
        EXPECT_EQ(unavailable_seen.load(), c.unavailable);
        EXPECT_EQ(result_seen.load(), c.result);
        EXPECT_EQ(net.opened, c.protocol == "icmp" ? 1 : 0);
        EXPECT_EQ(net.closed, net.opened);
    }
}

TEST_F(LoopFixture, AttemptsOutermostThenTtls) {
    net.by_ttl = {{1, hop("ttl_expired", "10.0.0.1", 1)}, {2, hop("echo_reply", "203.0.113.9", 2)}};
    run(loop("icmp", 3, 30));
    EXPECT_EQ(net.sent_ttls, (std::vector<std::uint32_t>{1, 2, 1, 2, 1, 2}));
    ASSERT_EQ(recorder.lines.size(), 6u);
    const std::vector<std::pair<int, int>> expected = {{1, 1}, {1, 2}, {2, 1},
                                                       {2, 2}, {3, 1}, {3, 2}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const json sample = json::parse(recorder.lines[i]);
        EXPECT_EQ(sample["attempt"], expected[i].first);
        EXPECT_EQ(sample["ttl"], expected[i].second);
        EXPECT_EQ(sample["phase"], "baseline");
        EXPECT_EQ(sample["target"], "203.0.113.9");
        EXPECT_TRUE(std::regex_match(sample["timestamp"].get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    }
    EXPECT_EQ(net.sent_timeouts.front(), 400u);
}

TEST_F(LoopFixture, EchoRunSendsOneProbePerAttemptAtTheFixedTtl) {
    // Even a timeout (which would go on in a walk) cannot go past the maximum TTL.
    run(loop("icmp", 4, 30, 30));
    EXPECT_EQ(net.sent_ttls, (std::vector<std::uint32_t>{30, 30, 30, 30}));
}

TEST_F(LoopFixture, CancelledBeforeTheFirstProbeRecordsNothing) {
    cancel = true;
    run(loop("icmp", 5, 10));
    EXPECT_TRUE(net.sent_ttls.empty());
    EXPECT_TRUE(recorder.lines.empty());
    EXPECT_FALSE(unavailable_seen.load());
    EXPECT_FALSE(result_seen.load());
    EXPECT_EQ(net.closed, net.opened);
}

TEST_F(LoopFixture, CancelDuringAWalkStopsTheLoop) {
    net.during_probe = [this] {
        if (net.sent_ttls.size() == 3) cancel = true;
    };
    run(loop("tcp", 5, 10));
    EXPECT_EQ(net.sent_ttls.size(), 3u);
    EXPECT_EQ(recorder.lines.size(), 3u);
}

TEST_F(LoopFixture, ProbeInFlightWhenThePhaseEndsIsDiscarded) {
    std::atomic<bool> active{true};
    net.during_probe = [&] {
        if (net.sent_ttls.size() == 2) active = false;
    };
    ProbeLoop l = loop("icmp", 3, 10);
    l.active = &active;
    run(l);
    EXPECT_EQ(net.sent_ttls.size(), 2u);
    EXPECT_EQ(recorder.lines.size(), 1u);
    EXPECT_EQ(net.closed, 1);
    EXPECT_TRUE(result_seen.load());
}

TEST_F(LoopFixture, CallbackSeesEachLineAfterItIsStored) {
    net.by_ttl = {{2, hop("echo_reply", "203.0.113.9", 7)}};
    ProbeLoop l = loop("tcp", 1, 5);
    std::vector<json> seen;
    l.callback = [&](const json& sample) {
        EXPECT_EQ(recorder.lines.size(), seen.size() + 1);
        EXPECT_EQ(sample, json::parse(recorder.lines.back()));
        seen.push_back(sample);
    };
    run(l);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0]["tcp_port"], 443);
    EXPECT_TRUE(seen[0]["responder"].is_null());
    EXPECT_TRUE(seen[0]["rtt_ms"].is_null());
    EXPECT_EQ(seen[1]["rtt_ms"], 7);
}

TEST_F(LoopFixture, StoreOrCallbackErrorPropagatesAndClosesTheEchoTarget) {
    const SampleStore failing = [](const std::string&, const std::string&) {
        throw std::runtime_error("SQLite error 5");
    };
    EXPECT_THROW(
        {
            try {
                run_probe_loop(failing, net.operations(), unavailable_seen, result_seen,
                               loop("icmp", 2, 5));
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "SQLite error 5");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_EQ(net.sent_ttls.size(), 1u);
    EXPECT_EQ(net.opened, 1);
    EXPECT_EQ(net.closed, 1);

    ProbeLoop l = loop("icmp", 2, 5);
    l.callback = [](const json&) { throw std::runtime_error("window gone"); };
    EXPECT_THROW(run(l), std::runtime_error);
    EXPECT_EQ(recorder.lines.size(), 1u);  // stored before the callback failed
    EXPECT_EQ(net.closed, 2);
}

TEST_F(LoopFixture, ProbesArePacedByTheInterval) {
    test::ScopedProbeClock clock;
    const auto started = test::ScopedProbeClock::current();
    std::vector<std::chrono::milliseconds> stored_at;
    ProbeLoop l = loop("tcp", 1, 4);
    l.settings.interval_ms = 120;
    // The clock stands still while a probe runs: a sample is stored at its probe's start.
    run_probe_loop(
        [&](const std::string&, const std::string&) {
            stored_at.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(
                test::ScopedProbeClock::current() - started));
        },
        net.operations(), unavailable_seen, result_seen, l);
    EXPECT_EQ(net.sent_ttls.size(), 4u);
    using std::chrono::milliseconds;
    EXPECT_EQ(stored_at, (std::vector<milliseconds>{milliseconds(0), milliseconds(120),
                                                     milliseconds(240), milliseconds(360)}));
    // The last probe's interval is waited out too before the loop returns.
    EXPECT_EQ(test::ScopedProbeClock::current() - started, milliseconds(480));
}

TEST_F(LoopFixture, CancelIsNoticedDuringALongWait) {
    ProbeLoop l = loop("tcp", 1, 4);
    l.settings.interval_ms = 60000;
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        cancel = true;
    });
    run(l);
    stopper.join();
    EXPECT_EQ(net.sent_ttls.size(), 1u);
}

// Two loops at once: building, storing and the callback never interleave.
TEST(ProbeLoopConcurrency, SampleLinesAreSerialisedAcrossLoops) {
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::atomic<int> stored{0};
    const SampleStore store = [&](const std::string&, const std::string&) {
        if (inside.fetch_add(1) != 0) overlap = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++stored;
    };
    const SampleCallback callback = [&](const json&) { inside.fetch_sub(1); };
    auto body = [&] {
        ScriptedNetwork net;
        Target target = parse_ip_literal("203.0.113.9");
        std::atomic<bool> unavailable{false}, result{false}, cancel{false};
        ProbeLoop l;
        l.target = &target;
        l.session_id = "6F1C2B4A-0D3E-4C59-9A7B-1E2F3A4B5C6D";
        l.attempts = 5;
        l.max_ttl = 8;
        l.timeout_ms = 100;
        l.settings = ProbeSettings{"tcp", 0, false};
        l.phase = "recovery";
        l.cancel = &cancel;
        l.callback = callback;
        run_probe_loop(store, net.operations(), unavailable, result, l);
    };
    std::thread a(body), b(body);
    a.join();
    b.join();
    EXPECT_FALSE(overlap.load());
    EXPECT_EQ(stored.load(), 80);
}

}  // namespace
}  // namespace tarvisko
