// The full run's own rules with the network steps played: state, report, recording, errors.
#include "engine/runs/desktop_test.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/address.h"
#include "engine/common/ids.h"
#include "engine/probes/probe_platform.h"
#include "tests/engine/probes/probe_fixture.h"
#include "engine/common/text.h"
#include "engine/queue/recording.h"
#include "engine/throughput/live_progress.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

// True when nobody in this process holds Winsock any more: a run that returned or threw has
// cleaned up what it started (the test itself never starts it).
bool winsock_released() {
    if (WSACleanup() == 0) return false;
    return WSAGetLastError() == WSANOTINITIALISED;
}

// Plays the inventory, the throughput session (which runs the node trace of its idle phases),
// the host pings and the upload pass around a real queue.
struct FakeSteps {
    std::string session_id;
    std::string trace_status = "ttl_expired";  // status of the route samples; empty: none
    std::string trace_error_phase;             // the trace of this phase throws
    nlohmann::json throughput_error = nullptr;
    std::string observed_ip = "203.0.113.9";
    bool cancel_during_session = false;
    std::string failing_step;  // "inventory", "pings", "inventory_readonly"
    int upload_result = 0;
    bool upload_throws = false;
    std::vector<std::string> phases;
    int uploads = 0;
    bool pings_ran = false;

    DesktopTestCalls calls(std::atomic<bool>& cancel) {
        DesktopTestCalls c;
        c.attach_inventory = [this](UploadQueue& queue, const std::string& id) {
            session_id = id;
            if (failing_step == "inventory_readonly") {
                // Even the error path's finish cannot write now.
                exec_sql(queue.db, "PRAGMA query_only=1");
                throw std::runtime_error("inventory failed");
            }
            if (failing_step == "inventory") throw std::runtime_error("inventory failed");
            return std::string(
                       R"({"inventory":{"adapters":{"status":"ok","value":[]}},"session_id":")") +
                   id + "\"}";
        };
        c.run_measurement_session =
            [this, &cancel](UploadQueue& queue, const std::string& id, const std::atomic<bool>&,
                            const NodeTraceCallback& trace, std::string* observed,
                            LiveTraffic* live, const PhaseCallback& phase) {
                EXPECT_NE(live, nullptr);
                const Target node = parse_ip_literal("198.51.100.7");
                nlohmann::json document{
                    {"error", throughput_error}, {"peer", node.text}, {"session_id", id}};
                save_throughput_document(queue, id, document);
                for (const char* name : {"baseline", "download", "upload", "recovery"}) {
                    phase(name);
                    if (std::string(name) == "baseline" || std::string(name) == "recovery") {
                        const std::atomic<bool> active{false};
                        trace(node, name, active);
                    }
                }
                if (cancel_during_session) cancel = true;
                *observed = observed_ip;
                update_live_progress(*live, 0, 0);
                return document;
            };
        c.run_host_pings = [this](nlohmann::json& document, const std::atomic<bool>&,
                                  const std::function<void()>& save) {
            pings_ran = true;
            document["host_pings"] = {{"gateway", "g"}, {"node", "n"}};
            save();
            if (failing_step == "pings") throw std::runtime_error("SQLite error 13");
        };
        c.trace_node = [this](UploadQueue& queue, std::atomic<bool>& unavailable,
                              std::atomic<bool>& result, const Target& node, const std::string& id,
                              const std::string& phase, const std::atomic<bool>&,
                              const std::atomic<bool>&) {
            if (phase == trace_error_phase) throw std::runtime_error("trace failed in " + phase);
            if (trace_status.empty()) return;
            append_sample(queue, id,
                          R"({"phase":")" + phase + R"(","status":")" + trace_status +
                              R"(","target":")" + node.text + "\"}");
            (trace_status == "unavailable" ? unavailable : result) = true;
        };
        c.upload_pending = [this](UploadQueue&) {
            ++uploads;
            if (upload_throws) throw std::runtime_error("winhttp_12029");
            return upload_result;
        };
        return c;
    }

    PhaseCallback phase_callback() {
        return [this](const std::string& phase) { phases.push_back(phase); };
    }
};

class DesktopTest : public ::testing::Test {
  protected:
    nlohmann::json run(FakeSteps& steps, std::atomic<bool>& cancel) {
        const DesktopTestCalls calls = steps.calls(cancel);
        return run_desktop_test(cancel, steps.phase_callback(), live, calls);
    }

    // The recording's stored documents: opening and ending (empty while unfinished).
    std::pair<nlohmann::json, std::string> recording(const std::string& session_id) {
        UploadQueue queue = open_queue();
        const auto rows =
            query_strings(queue.db, "SELECT opening FROM session WHERE id='" + session_id + "'");
        const auto endings =
            query_strings(queue.db, "SELECT ending FROM session WHERE id='" + session_id + "'");
        close_queue(queue);
        if (rows.empty()) return {};
        return {nlohmann::json::parse(rows[0]), endings.at(0)};
    }

    std::string ending_state(const std::string& session_id) {
        const std::string ending = recording(session_id).second;
        return ending.empty() ? "" : nlohmann::json::parse(ending).at("state").get<std::string>();
    }

    test::TempDir directory;
    test::ScopedEnv queue_dir{L"QUORVEL_QUEUE_DIR", directory.path().wstring()};
    LiveTraffic live;
};

TEST_F(DesktopTest, CompletedRunReportsAndRecordsEverything) {
    FakeSteps steps;
    std::atomic<bool> cancel{false};
    const nlohmann::json report = run(steps, cancel);

    EXPECT_EQ(report["state"], "completed");
    EXPECT_EQ(report["synchronized"], true);
    EXPECT_EQ(report["version"], "1.1.18");
    EXPECT_EQ(report["observed_ip"], "203.0.113.9");
    EXPECT_EQ(report["desktop_trace"]["session_id"], steps.session_id);
    EXPECT_EQ(report["desktop_trace"]["download"], nlohmann::json::parse("[[0,0]]"));
    EXPECT_EQ(report["desktop_trace"]["upload"], nlohmann::json::array());
    EXPECT_EQ(report["device"].at("method").is_string(), true);
    EXPECT_EQ(report["inventory"]["adapters"]["status"], "ok");
    EXPECT_EQ(report["throughput"]["host_pings"]["node"], "n");
    ASSERT_EQ(report["mtr_samples"].size(), 2u);
    EXPECT_EQ(report["mtr_samples"][0]["phase"], "baseline");
    EXPECT_EQ(report["mtr_samples"][1]["phase"], "recovery");
    EXPECT_EQ(steps.phases, (std::vector<std::string>{"baseline", "download", "upload", "recovery",
                                                      "ping", "sync"}));
    EXPECT_EQ(steps.uploads, 1);
    EXPECT_TRUE(winsock_released());

    const std::string text = report.dump();
    std::size_t at = 0;
    for (const char* key :
         {"\"desktop_trace\"", "\"device\"", "\"inventory\"", "\"mtr_samples\"", "\"observed_ip\"",
          "\"state\"", "\"synchronized\"", "\"throughput\"", "\"version\""}) {
        const std::size_t found = text.find(key, at);
        ASSERT_NE(found, std::string::npos) << key;
        at = found;
    }
    EXPECT_EQ(text.find(R"({"desktop_trace":{"download":)"), 0u);

    const auto [opening, ending] = recording(steps.session_id);
    EXPECT_EQ(opening["throughput"], report["throughput"]);  // the host pings' last save
    EXPECT_EQ(nlohmann::json::parse(ending)["state"], "completed");
    EXPECT_EQ(nlohmann::json::parse(ending)["chunk_count"], 1);
}

TEST_F(DesktopTest, StateRules) {
    struct Case {
        const char* name;
        std::function<void(FakeSteps&)> change;
        std::string state;
    };
    const std::vector<Case> cases = {
        {"unavailable route sample", [](FakeSteps& s) { s.trace_status = "unavailable"; },
         "partial"},
        {"throughput error", [](FakeSteps& s) { s.throughput_error = "incomplete_transfer"; },
         "partial"},
        {"cancelled wins",
         [](FakeSteps& s) {
             s.cancel_during_session = true;
             s.throughput_error = "cancelled";
             s.trace_status = "unavailable";
         },
         "cancelled"},
        {"no route samples", [](FakeSteps& s) { s.trace_status.clear(); }, "completed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSteps steps;
        c.change(steps);
        std::atomic<bool> cancel{false};
        const nlohmann::json report = run(steps, cancel);
        EXPECT_EQ(report["state"], c.state);
        EXPECT_EQ(ending_state(steps.session_id), c.state);
        EXPECT_TRUE(report["mtr_samples"].is_array());
    }
    EXPECT_EQ(desktop_test_state(false, nullptr, false), "completed");
}

TEST_F(DesktopTest, EmptyObservedAddressAndFailedUploadStillReport) {
    for (const bool throws : {true, false}) {
        FakeSteps steps;
        steps.observed_ip.clear();
        steps.upload_throws = throws;
        steps.upload_result = 3;
        std::atomic<bool> cancel{false};
        const nlohmann::json report = run(steps, cancel);
        EXPECT_TRUE(report["observed_ip"].is_null());
        EXPECT_EQ(report["synchronized"], false);
        EXPECT_EQ(report["state"], "completed");
        EXPECT_EQ(ending_state(steps.session_id), "completed");
    }
}

TEST_F(DesktopTest, TraceErrorWaitsForTheEndThenFinishesPartial) {
    FakeSteps steps;
    steps.trace_error_phase = "baseline";
    std::atomic<bool> cancel{false};
    try {
        run(steps, cancel);
        FAIL() << "expected the trace error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "trace failed in baseline");
    }
    // The session, the recovery trace and the host pings all ran before the error came out.
    EXPECT_EQ(steps.phases,
              (std::vector<std::string>{"baseline", "download", "upload", "recovery", "ping"}));
    EXPECT_TRUE(steps.pings_ran);
    EXPECT_EQ(steps.uploads, 0);
    EXPECT_EQ(ending_state(steps.session_id), "partial");
}

TEST_F(DesktopTest, ErrorsAfterTheStartFinishTheRecordingAsPartial) {
    for (const std::string step : {"inventory", "pings"}) {
        SCOPED_TRACE(step);
        FakeSteps steps;
        steps.failing_step = step;
        std::atomic<bool> cancel{false};
        EXPECT_THROW(run(steps, cancel), std::runtime_error);
        EXPECT_EQ(ending_state(steps.session_id), "partial");
        // The queue was closed on the way out: no lock file is left behind.
        EXPECT_FALSE(std::filesystem::exists(directory.path() / (steps.session_id + ".lock")));
        EXPECT_TRUE(winsock_released());
    }
    {
        FakeSteps steps;
        std::atomic<bool> cancel{false};
        const DesktopTestCalls calls = steps.calls(cancel);
        EXPECT_THROW(run_desktop_test(cancel, PhaseCallback{}, live, calls), std::invalid_argument);
        EXPECT_TRUE(steps.phases.empty());
        EXPECT_EQ(ending_state(steps.session_id), "partial");
    }
}

TEST_F(DesktopTest, RecordingLeftUnfinishedIsRecoverableInTheSameProcess) {
    FakeSteps steps;
    steps.failing_step = "inventory_readonly";
    std::atomic<bool> cancel{false};
    try {
        run(steps, cancel);
        FAIL() << "expected the inventory error";
    } catch (const std::runtime_error& error) {
        // The run's own error, not that of the finish that could not write.
        EXPECT_STREQ(error.what(), "inventory failed");
    }
    EXPECT_EQ(ending_state(steps.session_id), "");
    UploadQueue queue = open_queue();
    recover_abandoned_recordings(queue);
    close_queue(queue);
    EXPECT_EQ(ending_state(steps.session_id), "partial");
}

// The product's route trace toward the node, with the probe calls recorded: every probe goes
// unanswered, so each attempt walks the whole TTL range.
struct RecordedEcho {
    std::uint8_t ttl;
    DWORD timeout_ms;
    std::chrono::steady_clock::time_point at;
};
std::vector<RecordedEcho> recorded_echoes;

DWORD record_echo(HANDLE, IPAddr, void*, WORD, IP_OPTION_INFORMATION* options, void*, DWORD,
                  DWORD timeout_ms) {
    recorded_echoes.push_back({options->Ttl, timeout_ms, test::ScopedProbeClock::current()});
    SetLastError(IP_REQ_TIMED_OUT);
    return 0;
}

TEST(DesktopTestRouteTrace, TowardTheNodeIsAnIcmpWalkOfFiveAttemptsFromTtlOneToEight) {
    test::QueueDir where;
    UploadQueue queue = open_queue();
    const std::string session_id = new_uuid_text();
    start_recording(queue, session_id, "");
    // The loop's own clock: the pacing is checked on the instants it schedules, not on when a
    // busy machine let the probe thread run.
    const test::ScopedProbeClock clock;
    ProbePlatform& platform = probe_platform();
    const ProbePlatform saved = platform;
    platform.icmp_send_echo2 = record_echo;
    recorded_echoes.clear();

    std::atomic<bool> unavailable{false};
    std::atomic<bool> seen{false};
    const std::atomic<bool> active{true};
    const std::atomic<bool> cancel{false};
    system_desktop_test_calls().trace_node(queue, unavailable, seen,
                                           parse_ip_literal("192.0.2.77"), session_id,
                                           "baseline", active, cancel);
    platform = saved;

    ASSERT_EQ(recorded_echoes.size(), 40u);
    for (std::size_t i = 0; i < recorded_echoes.size(); ++i) {
        EXPECT_EQ(recorded_echoes[i].ttl, i % 8 + 1) << i;
        EXPECT_EQ(recorded_echoes[i].timeout_ms, 200u) << i;
        if (i > 0) {
            EXPECT_EQ(recorded_echoes[i].at - recorded_echoes[i - 1].at,
                      std::chrono::milliseconds(100))
                << i;
        }
    }
    const std::vector<std::string> samples = read_session_samples(queue, session_id);
    ASSERT_EQ(samples.size(), 40u);
    const nlohmann::json last = nlohmann::json::parse(samples.back());
    EXPECT_EQ(last["protocol"], "icmp");
    EXPECT_EQ(last["phase"], "baseline");
    EXPECT_EQ(last["attempt"], 5);
    EXPECT_EQ(last["ttl"], 8);
    EXPECT_EQ(last["status"], "timeout");
    EXPECT_TRUE(seen.load());
    EXPECT_FALSE(unavailable.load());
}

}  // namespace
}  // namespace tarvisko
