#pragma once
// Reading result documents and writing numbers the way every window-side text does.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tarvisko {

// One decimal digit, a decimal comma, a trailing ",0" dropped: 12.34 -> "12,3", 5 -> "5",
// -0.04 -> "-0". Independent of the global locale.
std::wstring format_decimal(double value);
// The same text in UTF-8, for the plain-language report.
std::string format_decimal_comma(double value);
// A millisecond figure of ICMP replies (a round trip, or a statistic or spread of them). Windows
// counts ICMP times in whole milliseconds and reports a reply under 1 ms as 0, so a figure that
// would read 0 is written "<1", as Windows' own ping does; any other through format_decimal.
std::wstring format_icmp_ms(double value);
// The same text in UTF-8, for the plain-language report.
std::string format_icmp_ms_comma(double value);
// format_icmp_ms(value) + " ms", or "Brak odpowiedzi" without a value.
std::wstring format_rtt_ms(std::optional<double> value);

// The member `name` when `json` is an object that has it, else one shared null. Never throws,
// never inserts.
const nlohmann::json& json_member_or_null(const nlohmann::json& json, std::string_view name);
// The "value" of the status envelope under `name`.
const nlohmann::json& json_value_of(const nlohmann::json& json, std::string_view name);
// The value is a string equal to `text` (exact, byte-wise).
bool json_text_equals(const nlohmann::json& value, std::string_view text);
// The member `name` of `json` is a string equal to `text`.
bool json_member_is(const nlohmann::json& json, std::string_view name, std::string_view text);
// A string's UTF-8 text; any other value gives the empty text.
std::string json_string_or_empty(const nlohmann::json& value);
// A JSON integer (signed or unsigned, never floating) that fits a signed 64-bit value.
std::optional<std::int64_t> json_int64(const nlohmann::json& value);
// A string as wide text, a number through format_decimal, anything else "Brak odczytu".
std::wstring json_display_text(const nlohmann::json& json);
// The Polish name of a throughput phase; other values through json_display_text.
std::wstring phase_display_name(const nlohmann::json& phase);

}  // namespace tarvisko
