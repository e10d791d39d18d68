#include "results/report_readers.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "results/format.h"
#include "results/latency_stats.h"

namespace tarvisko {

namespace {

std::optional<double> number_within(const nlohmann::json& value, double lowest, double highest) {
    if (!value.is_number()) return std::nullopt;
    const double number = value.get<double>();
    // NaN fails both comparisons; infinities fall outside any finite range.
    if (!(number >= lowest && number <= highest)) return std::nullopt;
    return number;
}

bool positive_number(const nlohmann::json& value) {
    const std::optional<double> amount = stored_amount(value);
    return amount && *amount > 0.0;
}

std::optional<double> answered_ms(const nlohmann::json& sample) {
    if (!json_member_or_null(sample, "error").is_null()) return std::nullopt;
    return stored_round_trip_ms(json_member_or_null(sample, "ms"));
}

}  // namespace

std::optional<double> stored_round_trip_ms(const nlohmann::json& value) {
    return number_within(value, 0.0, 60000.0);
}

std::optional<double> stored_mtu(const nlohmann::json& value) {
    return number_within(value, 0.0, 65535.0);
}

std::optional<double> stored_amount(const nlohmann::json& value) {
    return number_within(value, 0.0, std::numeric_limits<double>::max());
}

std::optional<double> transfer_rate_mbps(const nlohmann::json& throughput,
                                         std::string_view direction) {
    const nlohmann::json& transfer =
        json_member_or_null(json_member_or_null(throughput, "transfers"), direction);
    const nlohmann::json& profile = json_member_or_null(throughput, "profile");
    if (!profile.is_object() || !json_member_is(transfer, "status", "ok")) return std::nullopt;
    const nlohmann::json& duration = json_member_or_null(transfer, "duration_ms");
    const nlohmann::json& client_bytes = json_member_or_null(transfer, "client_bytes");
    if (!positive_number(duration) || !positive_number(client_bytes)) return std::nullopt;
    if (client_bytes != json_member_or_null(transfer, "node_bytes")) return std::nullopt;
    const nlohmann::json& allowed = json_member_or_null(profile, "bytes");
    if (!stored_amount(allowed)) return std::nullopt;
    const double bytes = client_bytes.get<double>();
    if (json_member_is(profile, "mode", "windowed")) {
        if (bytes > allowed.get<double>()) return std::nullopt;
    } else if (bytes != allowed.get<double>()) {
        return std::nullopt;
    }
    return bytes * 0.008 / duration.get<double>();
}

std::optional<double> median_phase_ms(const nlohmann::json& samples) {
    std::vector<double> times;
    std::size_t count = 0;
    const auto take = [&](const nlohmann::json& sample) {
        ++count;
        if (const auto ms = answered_ms(sample)) times.push_back(*ms);
    };
    if (samples.is_array()) {
        for (const nlohmann::json& sample : samples) take(sample);
    } else if (!samples.is_null()) {
        take(samples);
    }
    if (times.size() < 5 || 5 * times.size() < 4 * count) return std::nullopt;
    std::sort(times.begin(), times.end());
    return median_of_sorted(times);
}

const nlohmann::json* find_measurement_interface(const nlohmann::json& inventory,
                                                 const nlohmann::json& throughput) {
    const nlohmann::json& address = json_value_of(throughput, "reservation_local_ip");
    if (!address.is_string()) return nullptr;
    const nlohmann::json& interfaces = json_value_of(inventory, "interfaces");
    if (!interfaces.is_array()) return nullptr;
    const nlohmann::json* found = nullptr;
    for (const nlohmann::json& interface_entry : interfaces) {
        const nlohmann::json& unicast = json_value_of(interface_entry, "unicast");
        if (!unicast.is_array()) continue;
        const bool carries = std::any_of(unicast.begin(), unicast.end(), [&](const auto& entry) {
            return json_member_or_null(entry, "ip") == address;
        });
        if (!carries) continue;
        if (found != nullptr) return nullptr;  // the address is on two interfaces: ambiguous
        found = &interface_entry;
    }
    return found;
}

}  // namespace tarvisko
