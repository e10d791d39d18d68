#pragma once
// The computer and local-network section of the technical report: the adapter that carried the
// measurement, the neighbours, the processor and memory, every active interface, the Wi-Fi
// connections and the duplicate-address and gateway-MAC counts, as the engine read them at the
// start of the test. Every reading is a status envelope, so most of this is turning an envelope
// into a short text: its value, or why there is none.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tarvisko {

// The whole section in UTF-8, lines ending in CR LF. All or nothing: a malformed inventory (an
// interface entry without "oper_status", an up interface without "type" or "mtu", a list item of
// the wrong type) raises the JSON library's error.
std::string render_inventory_text(const nlohmann::json& inventory,
                                  const nlohmann::json& throughput);

// "niedostępne (<reason>)" when the envelope names a reason, else "brak w zapisie".
std::string envelope_state_text(const nlohmann::json& envelope);
// A text value as it is (no suffix); a number divided by `divisor` with two decimals (plain
// digits for an integer and a divisor of 1), then the suffix; anything else the state of
// `fallback`.
std::string envelope_number_text(const nlohmann::json& value, const nlohmann::json& fallback,
                                 double divisor, std::string_view suffix);
// The list's text items joined with ", " ("brak wpisów" when that is empty), marked when the
// list is partial; the envelope's state when its value is no list.
std::string envelope_list_text(const nlohmann::json& envelope);
// The number of items in the list, marked when partial; the envelope's state otherwise.
std::string envelope_count_text(const nlohmann::json& envelope);
// The distinct MAC texts Windows knew on the interface `index` ("co najmniej" before a partial
// count), with the vendors recognised among them.
std::string neighbor_summary(const nlohmann::json& neighbors, const nlohmann::json& index);
std::string interface_type_text(std::int64_t type);
// The 802.11 generation of the connection's "phy" (Windows' DOT11_PHY_TYPE numbering).
std::string wifi_phy_text(const nlohmann::json& connection);

// Fixed notation with two decimals and a decimal point, whatever the global locale: 93.456 ->
// "93.46", 1000 -> "1000.00". Shared with the technical report.
std::string fixed_two_decimals(double value);

}  // namespace tarvisko
