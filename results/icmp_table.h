#pragma once
// The latency table of an ICMP echo series towards one chosen target.
#include <nlohmann/json.hpp>

#include "results/table_model.h"

namespace tarvisko {

// The probe samples of one echo series, in probe order, as a table of nine rated rows whose first
// row carries the chart of every attempt. Anything but a non-empty array gives no rows; a sample
// that is not an object is passed over.
TableModel build_icmp_latency_table(const nlohmann::json& samples);

// The sample is a reply of the target itself: "responder" is a text equal to "target" and the
// status is "echo_reply", "tcp_connected" or "tcp_refused".
bool is_target_reply(const nlohmann::json& sample);

}  // namespace tarvisko
