#pragma once
// The probe loop behind every route trace and every ping of a target: ICMP echoes or TCP connect
// probes with rising TTL (a walk, repeated as attempts) or at one fixed TTL (an echo run). Every
// probe becomes one sample line, stored at once and then handed to the live callback.
#include <atomic>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/probes/probes.h"

namespace tarvisko {

struct UploadQueue;

struct ProbeSettings {
    std::string protocol;           // "icmp" or "tcp"
    std::uint32_t interval_ms = 0;  // least time from the start of one probe to the next
    bool phase_control = false;     // recorded in the measurement description only
};

using SampleCallback = std::function<void(const nlohmann::json&)>;

// The probe functions the loop calls; the product uses the real ones (real_probe_operations),
// tests may feed recorded outcomes where Wine lacks a probe.
struct ProbeOperations {
    std::function<EchoTarget(const Target&)> open_echo_target;
    std::function<void(EchoTarget&)> close_echo_target;
    std::function<ProbeResult(const EchoTarget&, std::uint8_t, std::uint32_t)> send_echo;
    std::function<ProbeResult(Target, std::uint32_t, std::uint32_t)> tcp_connect_probe;
};

ProbeOperations real_probe_operations();

// Where a finished sample line goes: (session id, line). The product appends it to the queue.
using SampleStore = std::function<void(const std::string&, const std::string&)>;

// Everything of one loop apart from where samples go and which probes run.
struct ProbeLoop {
    const Target* target = nullptr;
    std::string session_id;
    std::uint32_t attempts = 0;
    std::uint32_t max_ttl = 0;
    std::int32_t timeout_ms = 0;
    ProbeSettings settings;
    std::string phase;
    const std::atomic<bool>* active = nullptr;  // absent for target runs
    const std::atomic<bool>* cancel = nullptr;
    std::uint32_t first_ttl = 1;
    SampleCallback callback;
};

// One sample line, keys in their fixed order, no whitespace. "tcp_port" only for TCP; without a
// responder both "responder" and "rtt_ms" are the bare word null.
std::string probe_sample_line(const std::string& session_id, const std::string& timestamp,
                              const Target& target, const std::string& protocol,
                              const std::string& phase, std::uint32_t attempt, std::uint32_t ttl,
                              const ProbeResult& result);

// Runs the loop with the given store and probes; sets the two flags (never clears them).
// Errors of the store or the callback propagate; the echo target is closed on every path.
void run_probe_loop(const SampleStore& store, const ProbeOperations& probes,
                    std::atomic<bool>& unavailable_seen, std::atomic<bool>& result_seen,
                    const ProbeLoop& loop);

// The product's loop: samples go to the queue with append_sample, probes are the real ones.
void write_probe_samples(UploadQueue& queue, std::atomic<bool>& unavailable_seen,
                         std::atomic<bool>& result_seen, const Target& target,
                         const std::string& session_id, std::uint32_t attempts,
                         std::uint32_t max_ttl, std::int32_t timeout_ms,
                         const ProbeSettings& settings, const std::string& phase,
                         const std::atomic<bool>* active, const std::atomic<bool>& cancel,
                         std::uint32_t first_ttl, const SampleCallback& callback);

}  // namespace tarvisko
