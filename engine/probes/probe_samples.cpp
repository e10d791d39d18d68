#include "engine/probes/probe_samples.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/common/ids.h"
#include "engine/probes/probe_platform.h"
#include "engine/queue/recording.h"

namespace tarvisko {

namespace {

// Serialises building, storing and handing on of sample lines across every loop of the process,
// so that a live view sees lines in the order the queue holds them. Never held during a probe.
std::mutex sample_line_lock;

using Clock = std::chrono::steady_clock;

bool keep_going(const ProbeLoop& loop) {
    if (loop.cancel != nullptr && loop.cancel->load()) return false;
    if (loop.active != nullptr && !loop.active->load()) return false;
    return true;
}

bool ends_walk(const ProbeResult& result, const Target& target) {
    const std::string& s = result.status;
    if (s == "unavailable" || s == "tcp_connected" || s == "tcp_refused" || s == "unreachable") {
        return true;
    }
    return s == "echo_reply" && result.responder == target.text;
}

// Keeps the echo target of an ICMP loop open for the whole loop, also when the store throws.
class EchoGuard {
  public:
    EchoGuard(const ProbeOperations& probes, const Target& target, bool icmp) : probes_(probes) {
        if (icmp) {
            echo_ = probes_.open_echo_target(target);
            open_ = true;
        }
    }
    ~EchoGuard() {
        if (open_) probes_.close_echo_target(echo_);
    }
    EchoGuard(const EchoGuard&) = delete;
    EchoGuard& operator=(const EchoGuard&) = delete;
    const EchoTarget& echo() const { return echo_; }

  private:
    const ProbeOperations& probes_;
    EchoTarget echo_;
    bool open_ = false;
};

}  // namespace

std::string probe_sample_line(const std::string& session_id, const std::string& timestamp,
                              const Target& target, const std::string& protocol,
                              const std::string& phase, std::uint32_t attempt, std::uint32_t ttl,
                              const ProbeResult& result) {
    const int family = target.address.si_family == AF_INET6 ? 6 : 4;
    std::string line;
    line.reserve(320);
    line += "{\"schema_version\":1,\"session_id\":\"" + session_id;
    line += "\",\"timestamp\":\"" + timestamp;
    line += "\",\"target\":\"" + target.text;
    line += "\",\"family\":" + std::to_string(family);
    line += ",\"protocol\":\"" + protocol + "\"";
    if (protocol == "tcp") line += ",\"tcp_port\":443";
    line += ",\"phase\":\"" + phase;
    line += "\",\"attempt\":" + std::to_string(attempt);
    line += ",\"ttl\":" + std::to_string(ttl);
    line += ",\"status\":\"" + result.status;
    line += "\",\"native_code\":" + std::to_string(result.native_code);
    if (result.responder.empty()) {
        line += ",\"responder\":null,\"rtt_ms\":null}";
    } else {
        line += ",\"responder\":\"" + result.responder;
        line += "\",\"rtt_ms\":" + std::to_string(result.rtt_ms) + "}";
    }
    return line;
}

void run_probe_loop(const SampleStore& store, const ProbeOperations& probes,
                    std::atomic<bool>& unavailable_seen, std::atomic<bool>& result_seen,
                    const ProbeLoop& loop) {
    const Target& target = *loop.target;
    const bool tcp = loop.settings.protocol == "tcp";
    EchoGuard echo(probes, target, !tcp);
    const auto timeout = static_cast<std::uint32_t>(std::max<std::int32_t>(loop.timeout_ms, 0));

    for (std::uint32_t attempt = 1; attempt <= loop.attempts && keep_going(loop); ++attempt) {
        for (std::uint32_t ttl = loop.first_ttl; ttl <= loop.max_ttl; ++ttl) {
            if (!keep_going(loop)) break;
            const Clock::time_point started = probe_platform().steady_now();
            const std::string timestamp = utc_timestamp_now();

            ProbeResult result;
            if (tcp) {
                result = probes.tcp_connect_probe(target, ttl, timeout);
            } else {
                const auto hop = static_cast<std::uint8_t>(std::min<std::uint32_t>(ttl, 255));
                result = probes.send_echo(echo.echo(), hop, timeout);
            }

            // The phase ended while the probe was out: its answer belongs to no phase.
            if (loop.active != nullptr && !loop.active->load()) return;

            {
                std::lock_guard<std::mutex> hold(sample_line_lock);
                const std::string line =
                    probe_sample_line(loop.session_id, timestamp, target, loop.settings.protocol,
                                      loop.phase, attempt, ttl, result);
                store(loop.session_id, line);
                if (loop.callback) loop.callback(nlohmann::json::parse(line));
            }

            if (result.status == "unavailable") {
                unavailable_seen.exchange(true);
            } else {
                result_seen.exchange(true);
            }

            const Clock::time_point due =
                started + std::chrono::milliseconds(loop.settings.interval_ms);
            while (keep_going(loop)) {
                const Clock::time_point now = probe_platform().steady_now();
                if (now >= due) break;
                probe_platform().sleep_until(std::min(now + std::chrono::milliseconds(50), due));
            }

            if (ends_walk(result, target)) break;
        }
    }
}

ProbeOperations real_probe_operations() {
    ProbeOperations ops;
    ops.open_echo_target = open_echo_target;
    ops.close_echo_target = close_echo_target;
    ops.send_echo = send_echo;
    ops.tcp_connect_probe = tcp_connect_probe;
    return ops;
}

void write_probe_samples(UploadQueue& queue, std::atomic<bool>& unavailable_seen,
                         std::atomic<bool>& result_seen, const Target& target,
                         const std::string& session_id, std::uint32_t attempts,
                         std::uint32_t max_ttl, std::int32_t timeout_ms,
                         const ProbeSettings& settings, const std::string& phase,
                         const std::atomic<bool>* active, const std::atomic<bool>& cancel,
                         std::uint32_t first_ttl, const SampleCallback& callback) {
    ProbeLoop loop;
    loop.target = &target;
    loop.session_id = session_id;
    loop.attempts = attempts;
    loop.max_ttl = max_ttl;
    loop.timeout_ms = timeout_ms;
    loop.settings = settings;
    loop.phase = phase;
    loop.active = active;
    loop.cancel = &cancel;
    loop.first_ttl = first_ttl;
    loop.callback = callback;
    const SampleStore store = [&queue](const std::string& id, const std::string& line) {
        append_sample(queue, id, line);
    };
    run_probe_loop(store, real_probe_operations(), unavailable_seen, result_seen, loop);
}

}  // namespace tarvisko
