#pragma once
// A target run: one route trace, game-target measurement or monitoring run toward one host,
// recorded as one session in the upload queue and uploaded at its end.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/common/address.h"
#include "engine/probes/probe_samples.h"

namespace tarvisko {

// What the window asks a target run to do (filled from the page's controls).
struct TargetRunRequest {
    std::string purpose;  // "gaming", "mtr" or "monitor"
    std::string target;   // host name or address literal
    std::string profile_name;
    std::string protocol;  // "icmp" or "tcp"
    std::string region;
    std::string target_kind = "user_supplied";  // "user_supplied" lifts the public-address rule
    std::uint32_t attempts = 20;
    std::uint32_t max_ttl = 16;
    std::uint32_t interval_ms = 100;
    std::uint32_t timeout_ms = 400;
    bool echo = false;        // true: every probe at max_ttl; false: TTL walk from 1
    std::int32_t family = 0;  // 4: IPv4 only, 6: IPv6 only, else either
    bool repeat = false;      // read by the window's job only
};

// Throws std::invalid_argument "Podaj pojedynczy adres IPv4, IPv6 lub nazwę DNS." when the
// target text, a number or the protocol is out of bounds.
void validate_target_request(const TargetRunRequest& request);

// The first resolver result that may be probed: any address unless the purpose is "gaming" with a
// target kind other than "user_supplied", which needs a public one. Results that do not convert to
// a numeric unscoped unicast address are skipped. Throws std::invalid_argument
// "Brak dozwolonego adresu IP dla wybranego celu." when none is acceptable.
Target choose_target(const addrinfo* results, const std::string& purpose,
                     const std::string& target_kind);

// Resolves the request's target (Winsock must be started) and chooses the one address to probe.
// Throws std::runtime_error "Windows nie rozpoznał adresu celu." when the name does not resolve.
Target resolve_target(const TargetRunRequest& request);

// The measurement description, assembled in its fixed key order.
std::string probe_run_header(const ProbeSettings& settings, const std::vector<Target>& targets,
                             std::uint32_t attempts, std::uint32_t max_ttl,
                             std::uint32_t timeout_ms);

// The header parsed, with the six members that describe the request added.
nlohmann::json target_measurement(const std::string& header, const TargetRunRequest& request);

// "cancelled", "partial" or "completed", first rule that holds.
std::string target_run_state(bool cancelled, bool unavailable_seen, bool result_seen);

// Runs the whole target run and returns its report; throws for invalid input and an unresolvable
// target (before anything is recorded) and for queue failures around the probing. An error of the
// probing itself ends up in the report's "error".
nlohmann::json run_target_probe(const TargetRunRequest& request, const std::atomic<bool>& cancel,
                                const SampleCallback& callback);
// The same with the probes given, for recorded outcomes where Wine lacks a probe.
nlohmann::json run_target_probe_with(const TargetRunRequest& request,
                                     const std::atomic<bool>& cancel,
                                     const SampleCallback& callback, const ProbeOperations& probes);

}  // namespace tarvisko
