#include "engine/runs/target_run.h"

#include <stdexcept>
#include <string_view>

#include "engine/common/handle_guard.h"
#include "engine/common/system.h"

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

}  // namespace tarvisko
