#include "engine/throughput/measurement_session.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace tarvisko {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string session_id = "0F6B2C1E-8D4A-4E2B-9C3D-5A7B8C9D0E1F";

nlohmann::json whole_profile() {
    return {{"mode", "whole"}, {"bytes", 1'000'000}, {"rate_bps", 50'000'000}, {"deadline_s", 60}};
}

nlohmann::json good_reply() {
    return {{"session_id", "0f6b2c1e-8d4a-4e2b-9c3d-5a7b8c9d0e1f"},
            {"ticket", "t-0123456789abcdef0123456789abcdef"},
            {"profile", whole_profile()},
            {"node_id", "node-7"},
            {"observed_ip", "198.51.100.20"}};
}

nlohmann::json initial_transfer() {
    return {{"client_bytes", 0},     {"duration_ms", nullptr},      {"ended_at", nullptr},
            {"node_bytes", nullptr}, {"node_duration_ms", nullptr}, {"reason", "not_started"},
            {"started_at", nullptr}, {"status", "unavailable"}};
}

// Plays the node, the transfers, the recording and the clock. Time moves only when the session
// sleeps or probes, so a session of minutes takes milliseconds.
struct FakeNode {
    Clock::time_point clock = Clock::time_point{} + 1h;
    nlohmann::json reply = good_reply();
    std::string reserve_error;  // thrown by the reservation when set
    std::string peer = "203.0.113.5";
    Clock::duration probe_time = 12ms;
    std::string failing_probe_phase;  // every probe of this phase fails
    Clock::duration transfer_time = 3s;
    std::map<std::string, std::string> transfer_status{{"download", "ok"}, {"upload", "ok"}};
    std::function<void()> on_probe;
    int failing_store = -1;           // index of the store that fails
    std::string failing_store_phase;  // the first store of this phase fails
    bool phase_store_failed = false;

    struct LiveClose {
        int direction;
        std::uint64_t bytes;
        Clock::time_point end;     // the moment the session says the transfer ended
        Clock::time_point called;  // the session's clock at the call
    };

    std::string current_phase;
    std::vector<std::string> phases;
    std::vector<std::wstring> reservation;  // origin, path, bearer
    std::vector<std::string> stored;
    std::vector<std::string> finished;
    std::vector<std::pair<int, std::uint64_t>> live_updates;
    std::vector<LiveClose> live_closes;
    std::vector<Clock::time_point> transfer_ends;
    std::vector<std::string> stopped_transfers;
    std::vector<nlohmann::json> local_addresses;
    std::uint64_t rate_cap = 0;
    bool live = false;
    bool capacity = true;

    std::mutex trace_mutex;
    std::vector<std::string> traces;

    MeasurementCalls calls() {
        MeasurementCalls c;
        c.reserve = [this](const std::wstring& origin, const std::wstring& path,
                           const std::wstring& bearer, nlohmann::json& local) {
            reservation = {origin, path, bearer};
            local = {{"status", "ok"}, {"value", "10.0.0.2"}};
            if (!reserve_error.empty()) throw std::runtime_error(reserve_error);
            return reply;
        };
        c.peer = [this] { return peer; };
        c.probe_latency = [this](const std::wstring& ticket) {
            EXPECT_EQ(ticket, L"t-0123456789abcdef0123456789abcdef");
            clock += probe_time;
            if (on_probe) on_probe();
            if (current_phase == failing_probe_phase) throw std::runtime_error("winhttp_12002");
            return clock;
        };
        c.finish = [this](const std::wstring& ticket) {
            finished.push_back(std::string(ticket.begin(), ticket.end()));
        };
        c.start_transfer = [this](const TransferOrder& order) {
            EXPECT_EQ(order.profile, reply["profile"]);
            EXPECT_EQ(order.live, live);
            const Clock::time_point start = clock;
            const Clock::time_point end = start + transfer_time;
            const std::string status = transfer_status[order.direction];
            transfer_ends.push_back(end);
            TransferHandle handle;
            handle.running = [this, end] { return clock < end; };
            handle.finished = [this, end] { return clock >= end; };
            handle.bytes = [this, start, end] {
                const auto total = (end - start).count();
                const auto done = std::min(clock, end) - start;
                return static_cast<std::uint64_t>(1'000'000.0 * static_cast<double>(done.count()) /
                                                  static_cast<double>(total));
            };
            handle.last_counted = [this, end] {
                return std::optional<Clock::time_point>(std::min(clock, end));
            };
            handle.stop = [this, direction = order.direction] {
                stopped_transfers.push_back(direction);
            };
            handle.join = [status] {
                nlohmann::json result = initial_transfer();
                result["status"] = status;
                result["reason"] =
                    status == "ok" ? nlohmann::json(nullptr) : nlohmann::json("short_transfer");
                result["client_bytes"] = 1'000'000;
                return result;
            };
            return handle;
        };
        c.new_transfer_result = [] { return initial_transfer(); };
        c.store = [this](const std::string& text) {
            const bool phase_fails = !failing_store_phase.empty() && !phase_store_failed &&
                                     current_phase == failing_store_phase;
            if (phase_fails) phase_store_failed = true;
            if (static_cast<int>(stored.size()) == failing_store || phase_fails) {
                stored.push_back("");
                throw std::runtime_error("SQLite error 5");
            }
            stored.push_back(text);
        };
        c.live = live;
        c.live_capacity = [this] { return capacity; };
        c.set_rate_cap = [this](std::uint64_t rate) { rate_cap = rate; };
        c.report_local_address = [this](const nlohmann::json& local) {
            local_addresses.push_back(local);
        };
        c.update_live = [this](int direction, std::uint64_t bytes) {
            live_updates.emplace_back(direction, bytes);
        };
        c.close_live = [this](int direction, std::uint64_t bytes, Clock::time_point end) {
            live_closes.push_back({direction, bytes, end, clock});
            live_updates.emplace_back(direction, bytes);
        };
        c.read_live = [](int direction) { return nlohmann::json::array({{0, direction}}); };
        c.now = [this] { return clock; };
        c.sleep = [this](std::chrono::milliseconds pause) { clock += pause; };
        return c;
    }

    NodeTraceCallback trace() {
        return
            [this](const Target& node, const std::string& phase, const std::atomic<bool>& active) {
                // A route trace runs until the session clears the flag of its phase.
                while (active.load()) std::this_thread::sleep_for(1ms);
                std::lock_guard<std::mutex> lock(trace_mutex);
                traces.push_back(phase + ">" + node.text);
            };
    }

    PhaseCallback phase_callback() {
        return [this](const std::string& phase) {
            current_phase = phase;
            phases.push_back(phase);
        };
    }

    nlohmann::json run(const std::atomic<bool>& cancel, std::string* observed = nullptr) {
        const MeasurementCalls c = calls();
        return run_measurement_session(c, session_id, cancel, trace(), observed, phase_callback());
    }
};

struct DirectNodeEnv {
    test::ScopedEnv origin{L"QUORVEL_NODE_ORIGIN", std::wstring(L"https://node.test:8443")};
    test::ScopedEnv portal{L"QUORVEL_PORTAL_RESERVATION", nullptr};
    test::ScopedEnv node_token{L"QUORVEL_NODE_TOKEN",
                               std::wstring(L"node-token-0123456789abcdef0123456789")};
    test::ScopedEnv token{L"QUORVEL_TOKEN",
                          std::wstring(L"portal-token-0123456789abcdef0123456789")};
};

TEST(MeasurementSession, FullRunDocumentsEveryPhase) {
    DirectNodeEnv env;
    FakeNode node;
    std::atomic<bool> cancel{false};
    std::string observed;
    const nlohmann::json document = node.run(cancel, &observed);

    EXPECT_TRUE(document["error"].is_null()) << document["error"];
    EXPECT_TRUE(document["ended_at"].is_string());
    EXPECT_EQ(document["node_id"], "node-7");
    EXPECT_EQ(document["peer"], "203.0.113.5");
    EXPECT_EQ(document["profile"], whole_profile());
    EXPECT_EQ(document["reservation_local_ip"]["value"], "10.0.0.2");
    EXPECT_EQ(document["session_id"], session_id);
    EXPECT_FALSE(document.contains("desktop_trace"));
    EXPECT_EQ(observed, "198.51.100.20");
    EXPECT_EQ(node.reservation,
              (std::vector<std::wstring>{L"https://node.test:8443", L"",
                                         L"node-token-0123456789abcdef0123456789"}));
    EXPECT_EQ(node.phases,
              (std::vector<std::string>{"baseline", "download", "upload", "recovery"}));
    EXPECT_EQ(node.finished, std::vector<std::string>{"t-0123456789abcdef0123456789abcdef"});
    EXPECT_EQ(node.traces,
              (std::vector<std::string>{"baseline>203.0.113.5", "recovery>203.0.113.5"}));

    // Idle phases last 1.8 s with a probe every 150 ms; transfer phases as long as the transfer.
    for (const char* phase : {"baseline", "recovery"}) {
        const auto& samples = document["phases"][phase];
        EXPECT_GE(samples.size(), 11u) << phase;
        EXPECT_LE(samples.size(), 12u) << phase;
    }
    for (const char* phase : {"download", "upload"}) {
        const auto& samples = document["phases"][phase];
        EXPECT_GE(samples.size(), 19u) << phase;
        EXPECT_LE(samples.size(), 20u) << phase;
        EXPECT_EQ(document["transfers"][phase]["status"], "ok");
    }
    const nlohmann::json& first = document["phases"]["baseline"][0];
    EXPECT_EQ(first["ms"], 12.0);
    EXPECT_TRUE(first["error"].is_null());
    EXPECT_EQ(first.dump().rfind(R"({"at":")", 0), 0u);

    // The dump lists keys in ascending order and the stored copies say "interrupted" until the end.
    const std::string text = dump_throughput_document(document);
    const std::vector<std::string> keys{
        "\"ended_at\"",       "\"error\"",      "\"mtr\"",        "\"node_id\"",
        "\"peer\"",           "\"phases\"",     "\"profile\"",    "\"reservation_local_ip\"",
        "\"schema_version\"", "\"session_id\"", "\"started_at\"", "\"transfers\"",
        "\"windows_version\""};
    std::size_t at = 0;
    for (const std::string& key : keys) {
        const std::size_t found = text.find(key, at);
        ASSERT_NE(found, std::string::npos) << key;
        at = found;
    }
    EXPECT_NE(
        text.find(
            R"("mtr":{"attempts":5,"interval_ms":100,"max_ttl":8,"protocol":"icmp","timeout_ms":200})"),
        std::string::npos);
    ASSERT_GT(node.stored.size(), 50u);
    const nlohmann::json opening = nlohmann::json::parse(node.stored.front());
    EXPECT_EQ(opening["error"], "measurement_interrupted");
    EXPECT_TRUE(opening["node_id"].is_null());
    EXPECT_EQ(opening["reservation_local_ip"],
              nlohmann::json::parse(R"({"reason":"no_reservation","status":"unavailable"})"));
    EXPECT_EQ(opening["transfers"]["download"], initial_transfer());
    bool saw_interim = false;
    for (std::size_t i = 0; i + 1 < node.stored.size(); ++i) {
        const nlohmann::json copy = nlohmann::json::parse(node.stored[i]);
        EXPECT_EQ(copy["error"], "measurement_interrupted");
        if (copy["transfers"]["download"]["reason"] == "measurement_interrupted") {
            EXPECT_EQ(copy["transfers"]["download"]["status"], "partial");
            saw_interim = true;
        }
    }
    EXPECT_TRUE(saw_interim);
    EXPECT_EQ(nlohmann::json::parse(node.stored.back()), document);
}

TEST(MeasurementSession, ReservationRepliesThatEndTheSession) {
    DirectNodeEnv env;
    struct Case {
        const char* name;
        std::function<void(nlohmann::json&)> change;
        std::string error;  // empty: the session runs
    };
    auto profile = [](const char* key, nlohmann::json value) {
        return [key, value](nlohmann::json& reply) { reply["profile"][key] = value; };
    };
    auto windowed = [](nlohmann::json& reply) {
        reply["profile"] = {{"mode", "windowed"}, {"bytes", 67'108'865}, {"rate_bps", 500'000'000},
                            {"deadline_s", 30},   {"window_ms", 3000},   {"streams", 4}};
    };
    const std::vector<Case> cases = {
        {"upper-case session id", [](nlohmann::json& r) { r["session_id"] = session_id; },
         "node_session_mismatch"},
        {"bytes too small", profile("bytes", 65'535), "unsafe_node_profile"},
        {"deadline 9", profile("deadline_s", 9), "unsafe_node_profile"},
        {"deadline 181", profile("deadline_s", 181), "unsafe_node_profile"},
        {"whole bytes at bound", profile("bytes", 67'108'864), ""},
        {"whole bytes above bound", profile("bytes", 67'108'865), "unsafe_node_profile"},
        {"whole rate above bound", profile("rate_bps", 100'000'001), "unsafe_node_profile"},
        {"rate too small", profile("rate_bps", 262'143), "unsafe_node_profile"},
        {"windowed above whole bound", windowed, ""},
        {"windowed without window",
         [&](nlohmann::json& r) {
             windowed(r);
             r["profile"].erase("window_ms");
         },
         "invalid_node_document"},
        // Values beyond 32 bits are compared whole: read as 32 bits, 5 Gbit/s would pass as
        // 705 Mbit/s and 4.3 Gbit/s as 5.0 Mbit/s.
        {"windowed rate of 5 Gbit/s",
         [&](nlohmann::json& r) {
             windowed(r);
             r["profile"]["rate_bps"] = 5'000'000'000;
         },
         "unsafe_node_profile"},
        {"whole rate of 4.3 Gbit/s", profile("rate_bps", 4'300'000'000), "unsafe_node_profile"},
        {"windowed bytes of 2^32 + 65,536",
         [&](nlohmann::json& r) {
             windowed(r);
             r["profile"]["bytes"] = 4'295'032'832;
         },
         "unsafe_node_profile"},
        {"whole bytes of 2^64 - 1", profile("bytes", 18'446'744'073'709'551'615u),
         "unsafe_node_profile"},
        {"five streams",
         [&](nlohmann::json& r) {
             windowed(r);
             r["profile"]["streams"] = 5;
         },
         "unsafe_node_profile"},
        {"streams as text",
         [&](nlohmann::json& r) {
             windowed(r);
             r["profile"]["streams"] = "2";
         },
         "unsafe_node_profile"},
        {"bytes as text", profile("bytes", "1000000"), "invalid_node_document"},
        {"node id of 65 bytes", [](nlohmann::json& r) { r["node_id"] = std::string(65, 'n'); },
         "invalid_node_id"},
        {"node id of 64 bytes", [](nlohmann::json& r) { r["node_id"] = std::string(64, 'n'); }, ""},
        {"empty node id", [](nlohmann::json& r) { r["node_id"] = ""; }, "invalid_node_id"},
        {"no ticket", [](nlohmann::json& r) { r.erase("ticket"); }, "invalid_node_document"},
        {"profile not an object", [](nlohmann::json& r) { r["profile"] = 3; },
         "invalid_node_document"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNode node;
        node.transfer_time = 200ms;
        c.change(node.reply);
        std::atomic<bool> cancel{false};
        const nlohmann::json document = node.run(cancel);
        if (c.error.empty()) {
            EXPECT_TRUE(document["error"].is_null()) << document["error"];
            EXPECT_EQ(node.finished.size(), 1u);
            continue;
        }
        EXPECT_EQ(document["error"], c.error);
        EXPECT_TRUE(document["node_id"].is_null());
        EXPECT_TRUE(document["peer"].is_null());
        EXPECT_TRUE(node.phases.empty());
        EXPECT_TRUE(node.finished.empty());
        EXPECT_TRUE(document["ended_at"].is_string());
        EXPECT_EQ(document["reservation_local_ip"]["value"], "10.0.0.2");
        EXPECT_EQ(nlohmann::json::parse(node.stored.back()), document);
    }
}

TEST(MeasurementSession, FailuresOfTheNodeEndTheSessionInItsDocument) {
    DirectNodeEnv env;
    {
        FakeNode node;
        node.reserve_error = "node_http_404";
        std::atomic<bool> cancel{false};
        const nlohmann::json document = node.run(cancel);
        EXPECT_EQ(document["error"], "node_http_404");
        EXPECT_TRUE(document["phases"]["baseline"].empty());
    }
    {
        FakeNode node;
        node.peer = "";
        std::atomic<bool> cancel{false};
        EXPECT_EQ(node.run(cancel)["error"], "numeric IPv4 or IPv6 address required");
    }
    {
        // A phase whose probes all fail keeps its samples with the failure text.
        FakeNode node;
        node.failing_probe_phase = "baseline";
        std::atomic<bool> cancel{false};
        const nlohmann::json document = node.run(cancel);
        EXPECT_TRUE(document["error"].is_null());
        const nlohmann::json& samples = document["phases"]["baseline"];
        ASSERT_FALSE(samples.empty());
        for (const nlohmann::json& sample : samples) {
            EXPECT_TRUE(sample["ms"].is_null());
            EXPECT_EQ(sample["error"], "winhttp_12002");
        }
    }
    {
        FakeNode node;
        node.transfer_status["upload"] = "partial";
        std::atomic<bool> cancel{false};
        EXPECT_EQ(node.run(cancel)["error"], "incomplete_transfer");
    }
}

TEST(MeasurementSession, AThrowingRouteTraceEndsTheSessionWithItsError) {
    DirectNodeEnv env;
    FakeNode node;
    std::atomic<bool> cancel{false};
    const NodeTraceCallback failing = [](const Target&, const std::string& phase,
                                         const std::atomic<bool>&) {
        throw std::runtime_error("trace failed in " + phase);
    };
    const MeasurementCalls calls = node.calls();
    const nlohmann::json document =
        run_measurement_session(calls, session_id, cancel, failing, nullptr, {});
    EXPECT_EQ(document["error"], "trace failed in baseline");
    // The baseline ran to its end; no later phase began, and the stored document says so too.
    EXPECT_FALSE(document["phases"]["baseline"].empty());
    EXPECT_TRUE(document["phases"]["download"].empty());
    EXPECT_TRUE(document["ended_at"].is_string());
    EXPECT_EQ(nlohmann::json::parse(node.stored.back())["error"], "trace failed in baseline");
}

TEST(MeasurementSession, CancelDuringDownloadStillFinishes) {
    DirectNodeEnv env;
    FakeNode node;
    std::atomic<bool> cancel{false};
    int download_probes = 0;
    node.on_probe = [&] {
        if (node.current_phase == "download" && ++download_probes == 3) cancel = true;
    };
    const nlohmann::json document = node.run(cancel);
    EXPECT_EQ(document["error"], "cancelled");
    EXPECT_EQ(node.phases, (std::vector<std::string>{"baseline", "download"}));
    EXPECT_EQ(node.finished.size(), 1u);
    EXPECT_EQ(document["phases"]["download"].size(),
              2u);  // the probe that saw the cancel is dropped
    EXPECT_TRUE(document["phases"]["upload"].empty());
    EXPECT_TRUE(document["phases"]["recovery"].empty());
    EXPECT_EQ(document["transfers"]["download"]["status"], "ok");  // the joined thread's result
    EXPECT_EQ(document["transfers"]["upload"], initial_transfer());

    // A failure after the cancel does not hide it.
    FakeNode failing;
    std::atomic<bool> cancelled{true};
    failing.reserve_error = "winhttp_12029";
    EXPECT_EQ(failing.run(cancelled)["error"], "cancelled");
}

TEST(MeasurementSession, DeadlineEndsTheWalk) {
    DirectNodeEnv env;
    FakeNode node;
    node.reply["profile"]["deadline_s"] = 10;
    node.transfer_time = 20s;  // the download outlives the session deadline
    std::atomic<bool> cancel{false};
    const nlohmann::json document = node.run(cancel);
    EXPECT_EQ(document["error"], "deadline_exceeded");
    EXPECT_EQ(node.phases, (std::vector<std::string>{"baseline", "download"}));
    EXPECT_EQ(node.finished.size(), 1u);
    EXPECT_GE(node.clock - (Clock::time_point{} + 1h), 10s);
    EXPECT_LT(document["phases"]["download"].size(), 60u);
}

TEST(MeasurementSession, ProbesStopAtTheCapWhileThePhaseGoesOn) {
    DirectNodeEnv env;
    FakeNode node;
    node.transfer_time = 20s;
    std::atomic<bool> cancel{false};
    const nlohmann::json document = node.run(cancel);
    EXPECT_TRUE(document["error"].is_null());
    EXPECT_EQ(document["phases"]["download"].size(), 100u);
    EXPECT_EQ(document["phases"]["upload"].size(), 100u);
    EXPECT_GE(node.clock - (Clock::time_point{} + 1h), 40s);
}

TEST(MeasurementSession, PortalReservationAndLiveProgress) {
    DirectNodeEnv env;
    test::ScopedEnv portal{L"QUORVEL_PORTAL_RESERVATION", std::wstring(L"1")};
    struct Case {
        bool live;
        bool capacity;
        bool accepts;
        std::wstring path;
        bool desktop_trace;
    };
    const std::wstring base =
        L"/api/v1/portal/runs/" + std::wstring(session_id.begin(), session_id.end());
    for (const Case& c : {Case{false, false, true, base + L"?profile=capacity", false},
                          Case{true, true, false, base + L"?profile=capacity", false},
                          Case{true, false, true, base + L"?profile=legacy", true}}) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        FakeNode node;
        node.live = c.live;
        node.capacity = c.capacity;
        node.reply["accepts_desktop_trace"] = c.accepts;
        std::atomic<bool> cancel{false};
        const nlohmann::json document = node.run(cancel);
        EXPECT_TRUE(document["error"].is_null());
        ASSERT_EQ(node.reservation.size(), 3u);
        EXPECT_EQ(node.reservation[1], c.path);
        EXPECT_EQ(node.reservation[2], L"portal-token-0123456789abcdef0123456789");
        EXPECT_EQ(document.contains("desktop_trace"), c.desktop_trace);
        if (c.desktop_trace) {
            EXPECT_EQ(document["desktop_trace"]["session_id"], session_id);
            EXPECT_EQ(document["desktop_trace"]["download"], nlohmann::json::parse("[[0,0]]"));
            EXPECT_EQ(document["desktop_trace"]["upload"], nlohmann::json::parse("[[0,1]]"));
        }
        if (!c.live) {
            EXPECT_TRUE(node.live_updates.empty());
            EXPECT_TRUE(node.local_addresses.empty());
            continue;
        }
        EXPECT_EQ(node.rate_cap, 50'000'000u);
        EXPECT_EQ(node.local_addresses, std::vector<nlohmann::json>{"10.0.0.2"});
        // Each transfer phase starts its series at 0 and ends with the final byte count.
        ASSERT_GE(node.live_updates.size(), 4u);
        EXPECT_EQ(node.live_updates.front(), (std::pair<int, std::uint64_t>{0, 0}));
        EXPECT_EQ(node.live_updates.back(), (std::pair<int, std::uint64_t>{1, 1'000'000}));
    }
    {
        // A direct reservation never turns desktop trace on.
        test::ScopedEnv direct{L"QUORVEL_PORTAL_RESERVATION", std::wstring(L"0")};
        FakeNode node;
        node.live = true;
        node.reply["accepts_desktop_trace"] = true;
        std::atomic<bool> cancel{false};
        const nlohmann::json document = node.run(cancel);
        EXPECT_FALSE(document.contains("desktop_trace"));
        EXPECT_EQ(node.reservation[1], L"");
    }
}

TEST(MeasurementSession, TraceOfATransferEndsWhenItsLastByteWasCounted) {
    DirectNodeEnv env;
    test::ScopedEnv portal{L"QUORVEL_PORTAL_RESERVATION", std::wstring(L"1")};
    FakeNode node;
    node.live = true;
    // Probes start every 150 ms and take 40 ms; the transfer ends 20 ms into its phase's 21st
    // probe, so the session joins it only when that probe has returned, 20 ms later.
    node.probe_time = 40ms;
    node.transfer_time = 3020ms;
    std::atomic<bool> cancel{false};
    EXPECT_TRUE(node.run(cancel)["error"].is_null());
    ASSERT_EQ(node.live_closes.size(), 2u);
    ASSERT_EQ(node.transfer_ends.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const FakeNode::LiveClose& close = node.live_closes[i];
        EXPECT_EQ(close.direction, static_cast<int>(i));
        EXPECT_EQ(close.bytes, 1'000'000u);
        EXPECT_EQ(close.end, node.transfer_ends[i]);
        EXPECT_EQ(close.called - close.end, 20ms);
    }
    EXPECT_TRUE(node.stopped_transfers.empty());
}

TEST(MeasurementSession, StoreFailures) {
    DirectNodeEnv env;
    {
        FakeNode node;
        node.failing_store = 0;  // the recording is missing: nothing runs
        std::atomic<bool> cancel{false};
        EXPECT_THROW(node.run(cancel), std::runtime_error);
        EXPECT_TRUE(node.reservation.empty());
    }
    {
        // A store failing while the baseline's route trace runs: the trace is told to stop
        // before it is joined, so the session ends instead of waiting on it for ever.
        FakeNode node;
        node.failing_store = 4;
        std::atomic<bool> cancel{false};
        const nlohmann::json document = node.run(cancel);
        EXPECT_EQ(document["error"], "SQLite error 5");
        EXPECT_EQ(node.phases, std::vector<std::string>{"baseline"});
        EXPECT_EQ(node.traces, std::vector<std::string>{"baseline>203.0.113.5"});
    }
    {
        // A store failing while the download runs: the transfer is told to stop before the
        // session joins it, instead of being left to run to its end.
        FakeNode node;
        node.failing_store_phase = "download";
        std::atomic<bool> cancel{false};
        EXPECT_EQ(node.run(cancel)["error"], "SQLite error 5");
        EXPECT_EQ(node.phases, (std::vector<std::string>{"baseline", "download"}));
        EXPECT_EQ(node.stopped_transfers, std::vector<std::string>{"download"});
    }
    {
        FakeNode node;
        node.failing_store = 1;  // after the reservation: the session ends with the error
        std::atomic<bool> cancel{false};
        const nlohmann::json document = node.run(cancel);
        EXPECT_EQ(document["error"], "SQLite error 5");
        EXPECT_TRUE(node.phases.empty());
        EXPECT_EQ(nlohmann::json::parse(node.stored.back()), document);
    }
}

}  // namespace
}  // namespace tarvisko
