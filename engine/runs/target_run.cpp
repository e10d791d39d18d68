#include "engine/runs/target_run.h"

#include <stdexcept>
#include <string_view>

#include "engine/common/handle_guard.h"
#include "engine/common/ids.h"
#include "engine/common/system.h"
#include "engine/common/version.h"
#include "engine/common/winsock_session.h"
#include "engine/http/upload_pump.h"
#include "engine/queue/queue.h"
#include "engine/queue/recording.h"

namespace tarvisko {

namespace {

constexpr const char* invalid_request_text = "Podaj pojedynczy adres IPv4, IPv6 lub nazwę DNS.";
constexpr const char* no_allowed_address_text = "Brak dozwolonego adresu IP dla wybranego celu.";
constexpr const char* unresolved_text = "Windows nie rozpoznał adresu celu.";

bool in_bounds(std::uint32_t value, std::uint32_t low, std::uint32_t high) {
    return value >= low && value <= high;
}

bool target_text_allowed(std::string_view text) {
    constexpr std::string_view alphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:";
    if (text.empty() || text.size() > 253) return false;
    return text.find_first_not_of(alphabet) == std::string_view::npos;
}

void free_addrinfo(addrinfo* results) { freeaddrinfo(results); }

}  // namespace

void validate_target_request(const TargetRunRequest& request) {
    const bool valid = target_text_allowed(request.target) &&
                       in_bounds(request.attempts, 1, 3600) && in_bounds(request.max_ttl, 1, 64) &&
                       in_bounds(request.timeout_ms, 100, 2000) &&
                       in_bounds(request.interval_ms, 100, 5000) &&
                       (request.protocol == "icmp" || request.protocol == "tcp");
    if (!valid) throw std::invalid_argument(invalid_request_text);
}

Target choose_target(const addrinfo* results, const std::string& purpose,
                     const std::string& target_kind) {
    const bool any_address = purpose != "gaming" || target_kind == "user_supplied";
    for (const addrinfo* result = results; result != nullptr; result = result->ai_next) {
        char host[1025]{};
        if (getnameinfo(result->ai_addr, static_cast<socklen_t>(result->ai_addrlen), host,
                        sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) {
            continue;
        }
        Target target;
        try {
            target = parse_ip_literal(host);
        } catch (const std::invalid_argument&) {
            continue;
        }
        if (any_address || is_public_address(target)) return target;
    }
    throw std::invalid_argument(no_allowed_address_text);
}

Target resolve_target(const TargetRunRequest& request) {
    addrinfo hints{};
    hints.ai_flags = 0;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_family = request.family == 4 ? AF_INET : request.family == 6 ? AF_INET6 : AF_UNSPEC;
    addrinfo* raw = nullptr;
    if (getaddrinfo(request.target.c_str(), nullptr, &hints, &raw) != 0) {
        throw std::runtime_error(unresolved_text);
    }
    // The results are freed on every way out, the rejection of all of them included.
    const HandleGuard<addrinfo*> results(raw, free_addrinfo);
    return choose_target(results.get(), request.purpose, request.target_kind);
}

std::string probe_run_header(const ProbeSettings& settings, const std::vector<Target>& targets,
                             std::uint32_t attempts, std::uint32_t max_ttl,
                             std::uint32_t timeout_ms) {
    std::string version = windows_version_text();
    if (version.empty()) version = "unavailable:RtlGetVersion";
    std::string header = "{\"windows_version\":\"" + version + "\"";
    header += ",\"attempts\":" + std::to_string(attempts);
    header += ",\"max_ttl\":" + std::to_string(max_ttl);
    header += ",\"timeout_ms\":" + std::to_string(timeout_ms);
    header += ",\"interval_ms\":" + std::to_string(settings.interval_ms);
    header += ",\"protocol\":\"" + settings.protocol + "\"";
    header += std::string(",\"phase_control\":") + (settings.phase_control ? "true" : "false");
    header += ",\"targets\":[";
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (i != 0) header += ",";
        header += "\"" + targets[i].text + "\"";
    }
    header += "]}";
    return header;
}

nlohmann::json target_measurement(const std::string& header, const TargetRunRequest& request) {
    nlohmann::json measurement = nlohmann::json::parse(header);
    measurement["purpose"] = request.purpose;
    measurement["target_name"] = request.target;
    measurement["profile_name"] = request.profile_name;
    measurement["technique"] = request.echo ? "echo" : "trace";
    measurement["region"] = request.region;
    measurement["target_kind"] = request.target_kind;
    return measurement;
}

std::string target_run_state(bool cancelled, bool unavailable_seen, bool result_seen) {
    if (cancelled) return "cancelled";
    if (unavailable_seen) return "partial";
    if (!result_seen) return "partial";
    return "completed";
}

nlohmann::json run_target_probe(const TargetRunRequest& request, const std::atomic<bool>& cancel,
                                const SampleCallback& callback) {
    return run_target_probe_with(request, cancel, callback, real_probe_operations());
}

nlohmann::json run_target_probe_with(const TargetRunRequest& request,
                                     const std::atomic<bool>& cancel,
                                     const SampleCallback& callback,
                                     const ProbeOperations& probes) {
    validate_target_request(request);
    const WinsockSession winsock;
    const Target target = resolve_target(request);

    // From here on the queue object owns the connection and the recording's lock file: when an
    // error leaves the run before the recording is finished, its destructor closes both, so the
    // recording is seen as abandoned and the next upload pass finishes it as "partial" instead of
    // it staying "live" for as long as this process runs.
    UploadQueue queue = open_queue();
    const std::string session_id = new_uuid_text();
    const std::string started_at = utc_timestamp_now();

    const ProbeSettings settings{request.protocol, request.interval_ms, false};
    const nlohmann::json measurement = target_measurement(
        probe_run_header(settings, {target}, request.attempts, request.max_ttl, request.timeout_ms),
        request);
    const nlohmann::json device =
        nlohmann::json::parse(start_recording(queue, session_id, measurement.dump()));

    std::string error;
    std::atomic<bool> unavailable_seen{false};
    std::atomic<bool> result_seen{false};
    ProbeLoop loop;
    loop.target = &target;
    loop.session_id = session_id;
    loop.attempts = request.attempts;
    loop.max_ttl = request.max_ttl;
    loop.timeout_ms = static_cast<std::int32_t>(request.timeout_ms);
    loop.settings = settings;
    loop.phase = "baseline";
    loop.cancel = &cancel;
    loop.first_ttl = request.echo ? request.max_ttl : 1;
    loop.callback = callback;
    const SampleStore store = [&queue](const std::string& id, const std::string& line) {
        append_sample(queue, id, line);
    };
    try {
        run_probe_loop(store, probes, unavailable_seen, result_seen, loop);
    } catch (const std::exception& e) {
        error = e.what();
        unavailable_seen.exchange(true);
    }

    const std::string state = target_run_state(cancel.load(), unavailable_seen, result_seen);
    nlohmann::json samples = nlohmann::json::array();
    for (const std::string& sample : read_session_samples(queue, session_id)) {
        samples.push_back(nlohmann::json::parse(sample));
    }
    finish_recording(queue, session_id, state);

    bool synchronized = false;
    try {
        synchronized = upload_pending(queue) == 0;
    } catch (const std::exception&) {
        // The session stays queued for the next pass; the report says it is not synchronized.
    }

    nlohmann::json report;
    report["device"] = device;
    report["ended_at"] = utc_timestamp_now();
    report["error"] = error;
    report["measurement"] = measurement;
    report["mtr_samples"] = std::move(samples);
    report["session_id"] = session_id;
    report["started_at"] = started_at;
    report["state"] = state;
    report["synchronized"] = synchronized;
    report["version"] = program_version;
    close_queue(queue);
    return report;
}

}  // namespace tarvisko
