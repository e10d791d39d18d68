#include "engine/throughput/measurement_session.h"

#include <array>
#include <exception>
#include <stdexcept>
#include <thread>
#include <utility>

#include "engine/common/envelope.h"
#include "engine/common/ids.h"
#include "engine/common/system.h"
#include "engine/http/node_client.h"
#include "engine/queue/recording.h"
#include "engine/throughput/live_progress.h"
#include "engine/throughput/transfers.h"

namespace tarvisko {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array<const char*, 4> phase_names{"baseline", "download", "upload", "recovery"};
constexpr std::size_t phase_sample_cap = 100;
constexpr auto idle_phase_length = std::chrono::milliseconds(1800);
constexpr auto probe_spacing = std::chrono::milliseconds(150);
constexpr auto short_wait = std::chrono::milliseconds(5);
constexpr auto capped_wait = std::chrono::milliseconds(50);

nlohmann::json initial_document(const MeasurementCalls& calls, const std::string& session_id) {
    std::string version = windows_version_text();
    if (version.empty()) version = "unavailable:RtlGetVersion";
    nlohmann::json document;
    document["schema_version"] = 1;
    document["session_id"] = session_id;
    document["windows_version"] = version;
    document["started_at"] = utc_timestamp_now();
    document["ended_at"] = nullptr;
    document["node_id"] = nullptr;
    document["peer"] = nullptr;
    document["profile"] = nullptr;
    document["error"] = "measurement_interrupted";
    document["mtr"] = {{"attempts", 5},
                       {"max_ttl", 8},
                       {"timeout_ms", 200},
                       {"interval_ms", 100},
                       {"protocol", "icmp"}};
    document["phases"] = {{"baseline", nlohmann::json::array()},
                          {"download", nlohmann::json::array()},
                          {"upload", nlohmann::json::array()},
                          {"recovery", nlohmann::json::array()}};
    document["transfers"] = {{"download", calls.new_transfer_result()},
                             {"upload", calls.new_transfer_result()}};
    document["reservation_local_ip"] = json_unavailable("no_reservation");
    return document;
}

// Each byte widened to one UTF-16 unit, as the node protocol's texts are ASCII.
std::wstring widen_bytes(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (unsigned char c : text) wide.push_back(static_cast<wchar_t>(c));
    return wide;
}

std::string ascii_lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The route-trace thread of an idle phase. The trace runs until the phase's active flag drops,
// so the flag is cleared before every join: leaving the phase by an exception must not wait for a
// trace that is still told to go on. An exception escaping a thread would end the program, so the
// thread keeps the trace's error for the session, which ends with it once the phase is over.
class NodeTraceJob {
  public:
    explicit NodeTraceJob(std::atomic<bool>& active) : active_(active) {}
    NodeTraceJob(const NodeTraceJob&) = delete;
    NodeTraceJob& operator=(const NodeTraceJob&) = delete;
    ~NodeTraceJob() { stop(); }

    void start(const NodeTraceCallback& trace, const Target& node, const std::string& phase) {
        thread_ = std::thread([&trace, &node, phase, this] {
            try {
                trace(node, phase, active_);
            } catch (...) {
                failure_ = std::current_exception();  // read only after the join
            }
        });
    }
    void stop() {
        active_ = false;
        if (thread_.joinable()) thread_.join();
    }
    // Stops the trace, then throws what it threw, if anything.
    void finish() {
        stop();
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    }

  private:
    std::atomic<bool>& active_;
    std::thread thread_;
    std::exception_ptr failure_;
};

// Everything of one session that the phases share.
struct SessionRun {
    const MeasurementCalls& calls;
    const std::string& session_id;
    const std::atomic<bool>& cancel;
    const NodeTraceCallback& trace;
    const PhaseCallback& phase_callback;
    nlohmann::json& document;
    std::wstring origin;
    std::wstring ticket;
    Target node;
    bool desktop_trace = false;
    Clock::time_point deadline{};

    void store() { calls.store(dump_throughput_document(document)); }

    bool before_deadline(bool transfer_phase, const TransferHandle* transfer,
                         Clock::time_point phase_end) const {
        if (cancel.load()) return false;
        const Clock::time_point now = calls.now();
        if (now >= deadline) return false;
        return transfer_phase ? (transfer != nullptr && transfer->running()) : now < phase_end;
    }

    void reserve(std::string* observed_ip) {
        origin = read_environment_variable(L"QUORVEL_NODE_ORIGIN");
        const bool portal = read_environment_variable(L"QUORVEL_PORTAL_RESERVATION") == L"1";
        std::wstring path;
        std::wstring bearer;
        if (portal) {
            const bool capacity = !calls.live || calls.live_capacity();
            path = L"/api/v1/portal/runs/" + widen_bytes(session_id) +
                   (capacity ? L"?profile=capacity" : L"?profile=legacy");
            bearer = read_environment_variable(L"QUORVEL_TOKEN");
        } else {
            bearer = read_environment_variable(L"QUORVEL_NODE_TOKEN");
        }
        nlohmann::json local_endpoint;
        nlohmann::json reply;
        try {
            reply = calls.reserve(origin, path, bearer, local_endpoint);
        } catch (...) {
            if (!local_endpoint.is_null()) document["reservation_local_ip"] = local_endpoint;
            throw;
        }
        if (!local_endpoint.is_null()) document["reservation_local_ip"] = local_endpoint;
        require_or_throw(reply.is_object(), "invalid_node_reply");

        require_or_throw(reply.at("session_id").get<std::string>() == ascii_lower(session_id),
                         "node_session_mismatch");
        if (portal && calls.live && reply.value("accepts_desktop_trace", false)) {
            desktop_trace = true;
            document["desktop_trace"] = {{"session_id", session_id},
                                         {"download", nlohmann::json::array()},
                                         {"upload", nlohmann::json::array()}};
        }
        ticket = widen_bytes(reply.at("ticket").get<std::string>());
        const nlohmann::json profile = reply.at("profile");
        if (observed_ip != nullptr && reply.contains("observed_ip")) {
            *observed_ip = reply.at("observed_ip").get<std::string>();
        }
        check_node_profile(profile);
        const std::string node_id = reply.at("node_id").get<std::string>();
        require_or_throw(!node_id.empty() && node_id.size() <= 64, "invalid_node_id");
        node = parse_ip_literal(calls.peer());
        document["node_id"] = node_id;
        document["profile"] = profile;
        document["peer"] = node.text;
    }

    void run_phase(const std::string& name) {
        const bool transfer_phase = name == "download" || name == "upload";
        const int direction = name == "upload" ? 1 : 0;
        if (phase_callback) phase_callback(name);

        TransferHandle transfer;
        try {
            phase_steps(name, transfer_phase, direction, transfer);
        } catch (...) {
            // Leaving the phase early (a failed store, a failed trace): the transfer is told to
            // stop before its handle joins it, or the session would wait for it to run to its
            // end, up to the profile's deadline.
            if (transfer.stop) transfer.stop();
            throw;
        }
    }

    void phase_steps(const std::string& name, bool transfer_phase, int direction,
                     TransferHandle& transfer) {
        const nlohmann::json& profile = document.at("profile");
        std::atomic<bool> active{false};
        NodeTraceJob trace_job(active);
        if (transfer_phase) {
            if (calls.live) calls.update_live(direction, 0);
            transfer = calls.start_transfer(TransferOrder{session_id, origin, ticket, name, profile,
                                                          deadline, cancel, calls.live});
            while (!transfer.running() && !transfer.finished() && !cancel.load()) {
                calls.sleep(short_wait);
            }
        }
        const Clock::time_point phase_end = calls.now() + idle_phase_length;
        const TransferHandle* watched = transfer_phase ? &transfer : nullptr;
        active = before_deadline(transfer_phase, watched, phase_end);
        if (!transfer_phase && active.load()) trace_job.start(trace, node, name);

        nlohmann::json& samples = document["phases"][name];
        while (before_deadline(transfer_phase, watched, phase_end)) {
            if (samples.size() >= phase_sample_cap) {
                calls.sleep(capped_wait);
                continue;
            }
            const std::uint64_t bytes_so_far = transfer_phase ? transfer.bytes() : 0;
            if (transfer_phase && calls.live) calls.update_live(direction, bytes_so_far);
            const Clock::time_point started = calls.now();
            nlohmann::json sample{{"at", utc_timestamp_now()}, {"error", nullptr}, {"ms", nullptr}};
            try {
                const Clock::time_point headers = calls.probe_latency(ticket);
                const auto taken =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(headers - started);
                sample["ms"] = static_cast<double>(taken.count()) / 1'000'000.0;
            } catch (const std::exception& error) {
                sample["error"] = error.what();
            }
            if (before_deadline(transfer_phase, watched, phase_end)) samples.push_back(sample);
            if (transfer_phase) {
                nlohmann::json& interim = document["transfers"][name];
                interim["client_bytes"] = bytes_so_far;
                interim["status"] = "partial";
                interim["reason"] = "measurement_interrupted";
            }
            store();
            while (calls.now() - started < probe_spacing &&
                   before_deadline(transfer_phase, watched, phase_end)) {
                calls.sleep(short_wait);
            }
        }

        trace_job.finish();
        if (transfer_phase) {
            nlohmann::json result = transfer.join();
            if (calls.live) {
                // The series ends when the last byte was counted, not after the join, which
                // also waits for the node's report and for the probe in flight.
                const std::optional<Clock::time_point> last = transfer.last_counted();
                calls.close_live(direction, transfer.bytes(), last ? *last : calls.now());
            }
            document["transfers"][name] = std::move(result);
            if (desktop_trace) document["desktop_trace"][name] = calls.read_live(direction);
        }
        store();
    }

    void walk_phases() {
        for (const char* name : phase_names) {
            if (cancel.load() || calls.now() >= deadline) break;
            run_phase(name);
        }
    }
};

// The node link of the product: the main client (reservation, latency probes, finish) and the
// transfer client, both to the node origin, alive for the whole session.
struct NodeLink {
    std::string session_id;
    NodeClient main;
    NodeClient transfer;
};

// One transfer phase's thread with the state it refers to. Destroying it joins the thread.
struct TransferRun {
    std::string session_id;
    std::wstring origin;
    std::wstring ticket;
    std::string direction;
    nlohmann::json profile;
    SteadyTime deadline;
    TransferProgress progress;
    nlohmann::json result = new_transfer_result();
    // The session's own stop: set when the session leaves the phase without the result.
    std::atomic<bool> halt{false};
    std::thread thread;

    ~TransferRun() {
        halt = true;
        if (thread.joinable()) thread.join();
    }
};

MeasurementCalls system_measurement_calls(UploadQueue& queue, const std::string& session_id,
                                          LiveTraffic* live) {
    auto link = std::make_shared<NodeLink>();
    link->session_id = session_id;
    MeasurementCalls calls;
    calls.reserve = [link](const std::wstring& origin, const std::wstring& explicit_path,
                           const std::wstring& bearer, nlohmann::json& local_endpoint) {
        link->main = open_node_client(link->session_id, origin);
        link->transfer = open_node_client(link->session_id, origin);
        InternetHandle request =
            send_node_request(link->main, L"POST", L"", bearer, 0, explicit_path);
        receive_node_response(link->main, request.get(), 201, &local_endpoint);
        return read_node_reply(request.get(), 8192);
    };
    calls.peer = [link] {
        // Every later response, on either client, must come from the node that took the
        // reservation.
        link->transfer.expected_peer = link->main.expected_peer;
        return link->main.expected_peer;
    };
    calls.probe_latency = [link](const std::wstring& ticket) {
        InternetHandle request = send_node_request(link->main, L"HEAD", L"/latency", ticket, 0);
        receive_node_response(link->main, request.get(), 204);
        const Clock::time_point headers = Clock::now();
        // Read to its end so that the next probe reuses this connection.
        finish_node_reply(request.get());
        return headers;
    };
    calls.finish = [link](const std::wstring& ticket) {
        InternetHandle request = send_node_request(link->main, L"POST", L"/finish", ticket, 0);
        receive_node_response(link->main, request.get(), 204);
        finish_node_reply(request.get());
    };
    calls.start_transfer = [link, live](const TransferOrder& order) {
        auto run = std::make_shared<TransferRun>();
        run->session_id = order.session_id;
        run->origin = order.origin;
        run->ticket = order.ticket;
        run->direction = order.direction;
        run->profile = order.profile;
        run->deadline = order.deadline;
        if (order.live && live != nullptr) {
            run->progress.live_counter =
                order.direction == "upload" ? &live->upload_bytes : &live->download_bytes;
        }
        const bool windowed = run->profile.value("mode", std::string{}) == "windowed";
        const auto bytes = run->profile.at("bytes").get<std::uint64_t>();
        const auto rate = run->profile.at("rate_bps").get<std::uint64_t>();
        TransferRun& r = *run;
        r.thread =
            std::thread(run_transfer_thread,
                        TransferJob{windowed, r.session_id, r.origin, link->transfer, r.ticket,
                                    r.direction, r.profile, r.deadline, order.cancel, r.progress,
                                    r.result, bytes, rate, &r.halt, link});
        TransferHandle handle;
        handle.running = [run] { return run->progress.running.load(); };
        handle.finished = [run] { return run->progress.finished.load(); };
        handle.bytes = [run] { return run->progress.bytes.load(); };
        handle.last_counted = [run] { return last_counted_at(run->progress); };
        handle.stop = [run] { run->halt = true; };
        handle.join = [run] {
            if (run->thread.joinable()) run->thread.join();
            return run->result;
        };
        handle.owner = run;
        return handle;
    };
    calls.new_transfer_result = [] { return new_transfer_result(); };
    calls.store = [&queue, session_id](const std::string& text) {
        attach_throughput(queue, session_id, text);
    };
    calls.live = live != nullptr;
    if (live != nullptr) {
        calls.live_capacity = [live] { return live->capacity; };
        calls.set_rate_cap = [live](std::uint64_t rate) { live->rate_cap = rate; };
        if (live->local_address_callback) {
            calls.report_local_address = [live](const nlohmann::json& local) {
                live->local_address_callback(local);
            };
        }
        calls.update_live = [live](int direction, std::uint64_t bytes) {
            update_live_progress(*live, direction, bytes);
        };
        calls.close_live = [live](int direction, std::uint64_t bytes, Clock::time_point end) {
            close_live_progress(*live, direction, bytes, end);
        };
        calls.read_live = [live](int direction) { return read_live_progress(*live, direction); };
    }
    calls.now = [] { return Clock::now(); };
    calls.sleep = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
    return calls;
}

}  // namespace

void save_throughput_document(UploadQueue& queue, const std::string& session_id,
                              const nlohmann::json& document) {
    attach_throughput(queue, session_id, dump_throughput_document(document));
}

nlohmann::json run_measurement_session(UploadQueue& queue, const std::string& session_id,
                                       const std::atomic<bool>& cancel,
                                       const NodeTraceCallback& trace, std::string* observed_ip,
                                       LiveTraffic* live, const PhaseCallback& phase) {
    const MeasurementCalls calls = system_measurement_calls(queue, session_id, live);
    return run_measurement_session(calls, session_id, cancel, trace, observed_ip, phase);
}

void require_or_throw(bool condition, const char* reason) {
    if (!condition) throw std::runtime_error(reason);
}

std::string dump_throughput_document(const nlohmann::json& document) { return document.dump(); }

void check_node_profile(const nlohmann::json& profile) {
    const bool windowed = profile.value("mode", std::string{}) == "windowed";
    const auto bytes = profile.at("bytes").get<std::int64_t>();
    require_or_throw(bytes >= 65'536 && bytes <= (windowed ? 536'870'912 : 67'108'864),
                     "unsafe_node_profile");
    const auto rate = profile.at("rate_bps").get<std::int64_t>();
    require_or_throw(rate >= 262'144 && rate <= (windowed ? 1'000'000'000 : 100'000'000),
                     "unsafe_node_profile");
    const auto deadline_s = profile.at("deadline_s").get<std::uint64_t>();
    require_or_throw(deadline_s >= 10 && deadline_s <= 180, "unsafe_node_profile");
    if (windowed) {
        const nlohmann::json& window = profile.at("window_ms");
        require_or_throw(window >= 2000 && window <= 10000, "unsafe_node_profile");
        const nlohmann::json& streams = profile.at("streams");
        require_or_throw(streams >= 1 && streams <= 4, "unsafe_node_profile");
    }
}

nlohmann::json run_measurement_session(const MeasurementCalls& calls, const std::string& session_id,
                                       const std::atomic<bool>& cancel,
                                       const NodeTraceCallback& trace, std::string* observed_ip,
                                       const PhaseCallback& phase) {
    nlohmann::json document = initial_document(calls, session_id);
    SessionRun run{calls, session_id, cancel, trace, phase, document, {}, {}, {}, false, {}};
    run.store();

    try {
        require_or_throw(static_cast<bool>(trace), "node trace callback required");
        run.reserve(observed_ip);
        if (calls.live) calls.set_rate_cap(document["profile"].at("rate_bps").get<std::uint64_t>());
        run.deadline = calls.now() + std::chrono::seconds(
                                         document["profile"].at("deadline_s").get<std::uint64_t>());
        run.store();
        if (calls.live && calls.report_local_address) {
            const nlohmann::json& local = document["reservation_local_ip"];
            calls.report_local_address(local.contains("value") ? local["value"] : nlohmann::json());
        }
        run.walk_phases();
        calls.finish(run.ticket);

        document["error"] = nullptr;
        if (cancel.load()) {
            document["error"] = "cancelled";
        } else if (calls.now() < run.deadline) {
            if (document["transfers"]["download"]["status"] != "ok" ||
                document["transfers"]["upload"]["status"] != "ok") {
                document["error"] = "incomplete_transfer";
            }
        } else {
            document["error"] = "deadline_exceeded";
        }
    } catch (const nlohmann::json::exception&) {
        document["error"] = "invalid_node_document";
    } catch (const std::exception& error) {
        document["error"] = error.what();
    }

    if (cancel.load()) document["error"] = "cancelled";
    document["ended_at"] = utc_timestamp_now();
    run.store();
    return document;
}

}  // namespace tarvisko
