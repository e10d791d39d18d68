#include "engine/common/json_document.h"

namespace tarvisko {
namespace {

// False when the brackets outside strings nest deeper than `limit` or a NUL byte appears. The
// scan is linear and keeps no stack, so hostile text cannot hurt it either.
bool within_depth(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (const char c : text) {
        // The parser treats NUL as the end of the input and would accept "{}\0anything".
        if (c == '\0') return false;
        if (in_string) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
            continue;
        }
        if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

}  // namespace

std::optional<nlohmann::json> parse_json_document(std::string_view text, std::size_t max_depth) {
    if (!within_depth(text, max_depth)) return std::nullopt;
    nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded()) return std::nullopt;
    return document;
}

}  // namespace tarvisko
