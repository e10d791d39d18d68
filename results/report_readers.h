#pragma once
// Small readers of a full-test report that the dashboard, the report details and the
// plain-language text share. They never throw: what they cannot read gives nothing.
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

namespace tarvisko {

// The measured speed of "download" or "upload" in Mb/s: only for a transfer that completed, that
// client and node counted alike, and that moved what the node profile allowed (up to its bytes in
// windowed mode, exactly its bytes otherwise).
std::optional<double> transfer_rate_mbps(const nlohmann::json& throughput,
                                         std::string_view direction);

// The median "ms" of one phase's latency samples, when at least 5 and at least 80 % of them carry
// a time without an error. Tolerant of any shape: null has no samples, a single value that is not
// a list is one sample, and a sample that is not an object has no time.
std::optional<double> median_phase_ms(const nlohmann::json& samples);

// The one interface of the inventory whose unicast addresses hold the reservation's local
// address; null when none or more than one does.
const nlohmann::json* find_measurement_interface(const nlohmann::json& inventory,
                                                 const nlohmann::json& throughput);

}  // namespace tarvisko
