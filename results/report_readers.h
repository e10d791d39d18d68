#pragma once
// Small readers of a full-test report that the dashboard, the report details and the
// plain-language text share. They never throw: what they cannot read gives nothing.
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

namespace tarvisko {

// Numbers of a stored report read for display. A value that no measurement can give (not a
// number, not finite, or outside the range a reading can have) reads as missing, exactly as an
// absent one does; every view reads such numbers through these.
// A round trip in milliseconds: 0 to 60,000.
std::optional<double> stored_round_trip_ms(const nlohmann::json& value);
// A link MTU in bytes: 0 to 65,535.
std::optional<double> stored_mtu(const nlohmann::json& value);
// A rate, a byte count or a duration: finite and not negative.
std::optional<double> stored_amount(const nlohmann::json& value);

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
