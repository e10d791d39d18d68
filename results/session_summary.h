#pragma once
// The plain-language explanation of a full test for the customer, in UTF-8 with CR LF line
// ends: the two speeds, what may have limited them, the connection, the pings, the gaps along
// the route, the addresses and whether the report reached the customer panel.
#include <nlohmann/json.hpp>
#include <string>

namespace tarvisko {

// The whole text of a `diagnostics_report`. All or nothing: a missing required member or a value
// of the wrong type raises the JSON library's exception, whose message names it.
std::string render_session_summary(const nlohmann::json& report);

// The paragraphs, each appended to `text`.
// Label, target, mean, replies, time-outs and local failures of one ping series.
void render_ping_series(std::string& text, const nlohmann::json& series, const std::string& label);
// Where answers went missing on the node trace, phase by phase, with a diagnosis.
void render_route_loss(std::string& text, const nlohmann::json& samples,
                       const nlohmann::json& peer);
// The kind of adapter that carried the test (nothing without one), with the Wi-Fi signal.
void render_connection_type(std::string& text, const nlohmann::json& inventory,
                            const nlohmann::json* measurement_interface);

}  // namespace tarvisko
