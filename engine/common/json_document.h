#pragma once
// JSON that comes from outside the program (a server's reply, a file someone else may have
// written) is read through one gate: the parser itself is iterative, but copying, dumping or
// comparing the parsed value recurses once per level, so a few kilobytes of brackets would
// overflow the stack of whichever caller touches the value first.
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

namespace tarvisko {

// Deepest nesting a foreign document may have: far above anything the program writes itself
// (reports and recordings stay below ten levels), far below what the stack can take.
inline constexpr std::size_t json_depth_limit = 64;

// The parsed document, or nothing when the text is not exactly one JSON value (trailing bytes
// and NUL bytes included) or nests arrays and objects deeper than `max_depth`. Never throws for
// bad input; each caller turns nothing into its own error ("invalid_node_reply", ...).
std::optional<nlohmann::json> parse_json_document(std::string_view text,
                                                  std::size_t max_depth = json_depth_limit);

}  // namespace tarvisko
