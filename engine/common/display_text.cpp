#include "engine/common/display_text.h"

#include <algorithm>
#include <iterator>

#include "engine/common/text.h"

namespace tarvisko {

namespace {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

// Cc, Cf, Zl and Zp as UnicodeData lists them, plus the surrogate block (a surrogate code point
// is no character at all); in ascending order for the binary search.
constexpr CodePointRange kHiddenRanges[] = {
    {0x0000, 0x001F},    // C0 controls
    {0x007F, 0x009F},    // DEL and C1 controls
    {0x00AD, 0x00AD},    // soft hyphen
    {0x0600, 0x0605},    // Arabic number signs
    {0x061C, 0x061C},    // Arabic letter mark
    {0x06DD, 0x06DD},    // Arabic end of ayah
    {0x070F, 0x070F},    // Syriac abbreviation mark
    {0x0890, 0x0891},    // Arabic pound and piastre marks above
    {0x08E2, 0x08E2},    // Arabic disputed end of ayah
    {0x180E, 0x180E},    // Mongolian vowel separator
    {0x200B, 0x200F},    // zero-width space, joiners, left-to-right and right-to-left marks
    {0x2028, 0x202E},    // line and paragraph separators, bidirectional embeddings and overrides
    {0x2060, 0x2064},    // word joiner, invisible operators
    {0x2066, 0x206F},    // bidirectional isolates, deprecated format characters
    {0xD800, 0xDFFF},    // surrogates
    {0xFEFF, 0xFEFF},    // zero-width no-break space (byte order mark)
    {0xFFF9, 0xFFFB},    // interlinear annotation
    {0x110BD, 0x110BD},  // Kaithi number sign
    {0x110CD, 0x110CD},  // Kaithi number sign above
    {0x13430, 0x1343F},  // Egyptian hieroglyph format controls
    {0x1BCA0, 0x1BCA3},  // shorthand format controls
    {0x1D173, 0x1D17A},  // musical symbol format controls
    {0xE0001, 0xE0001},  // language tag
    {0xE0020, 0xE007F},  // tag characters
};

bool high_surrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool low_surrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

bool is_hidden_code_point(char32_t code_point) {
    const auto after = std::upper_bound(
        std::begin(kHiddenRanges), std::end(kHiddenRanges), code_point,
        [](char32_t value, const CodePointRange& range) { return value < range.first; });
    return after != std::begin(kHiddenRanges) && code_point <= std::prev(after)->last;
}

std::wstring sanitize_display_text(std::wstring_view text, std::size_t max_units) {
    std::wstring result;
    result.reserve(text.size());
    bool blanks_only = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t unit = text[i];
        const bool pair = high_surrogate(unit) && i + 1 < text.size() && low_surrogate(text[i + 1]);
        const char32_t code_point = pair
                                        ? 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                              (static_cast<char32_t>(text[i + 1]) - 0xDC00)
                                        : static_cast<char32_t>(unit);
        if (is_hidden_code_point(code_point)) {
            result.push_back(L' ');
        } else {
            result.push_back(unit);
            if (pair) result.push_back(text[i + 1]);
            if (unit != L' ') blanks_only = false;
        }
        if (pair) ++i;
    }
    if (blanks_only) return {};
    if (result.size() > max_units) {
        if (max_units == 0) return {};
        std::size_t keep = max_units - 1;
        // Every high surrogate left here is followed by its low half: cut before the pair.
        if (keep > 0 && high_surrogate(result[keep - 1])) --keep;
        result.resize(keep);
        result.push_back(L'\u2026');
    }
    return result;
}

std::string sanitize_display_utf8(std::string_view text, std::size_t max_units) {
    return to_utf8(sanitize_display_text(to_wide(text), max_units));
}

bool is_host_name(std::wstring_view name) {
    if (name.empty() || name.size() > 253) return false;
    return std::all_of(name.begin(), name.end(), [](wchar_t c) {
        return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
               c == L'-' || c == L'_' || c == L'.';
    });
}

}  // namespace tarvisko
