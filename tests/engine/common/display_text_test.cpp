#include "engine/common/display_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/common/text.h"

namespace tarvisko {
namespace {

// The text of one code point, as a pair where it needs one.
std::wstring units_of(char32_t code_point) {
    if (code_point < 0x10000) return std::wstring(1, static_cast<wchar_t>(code_point));
    const char32_t offset = code_point - 0x10000;
    return {static_cast<wchar_t>(0xD800 + (offset >> 10)),
            static_cast<wchar_t>(0xDC00 + (offset & 0x3FF))};
}

// Every range of Cc, Cf, Zl and Zp by its first and last code point, then the characters on
// either side of them, which are shown as they are.
TEST(DisplayText, HiddenCharactersAreExactlyTheControlFormatAndSeparatorCategories) {
    const char32_t hidden[] = {
        0x0000,  0x0007,  0x001B,  0x001F,  0x007F,  0x0080,  0x0085,  0x009F,  0x00AD,  0x0600,
        0x0605,  0x061C,  0x06DD,  0x070F,  0x0890,  0x0891,  0x08E2,  0x180E,  0x200B,  0x200C,
        0x200D,  0x200E,  0x200F,  0x2028,  0x2029,  0x202A,  0x202E,  0x2060,  0x2064,  0x2066,
        0x2069,  0x206F,  0xD800,  0xDBFF,  0xDC00,  0xDFFF,  0xFEFF,  0xFFF9,  0xFFFB,  0x110BD,
        0x110CD, 0x13430, 0x1343F, 0x1BCA0, 0x1BCA3, 0x1D173, 0x1D17A, 0xE0001, 0xE0020, 0xE007F,
    };
    const char32_t shown[] = {
        0x0020,  0x007E,  0x00A0,  0x00AC,  0x00AE,  0x0606,  0x061B,  0x061D,  0x06DC,   0x06DE,
        0x070E,  0x0710,  0x088F,  0x0892,  0x08E1,  0x08E3,  0x180D,  0x180F,  0x200A,   0x2010,
        0x2027,  0x202F,  0x205F,  0x2065,  0x2070,  0xD7FF,  0xE000,  0xFEFE,  0xFF00,   0xFFF8,
        0xFFFC,  0xFFFD,  0x110BC, 0x110BE, 0x110CC, 0x110CE, 0x1342F, 0x13440, 0x1BC9F,  0x1BCA4,
        0x1D172, 0x1D17B, 0x1F4F6, 0xE0000, 0xE0002, 0xE001F, 0xE0080, 0xE0100, 0x10FFFF,
    };
    for (const char32_t c : hidden)
        EXPECT_TRUE(is_hidden_code_point(c)) << std::hex << static_cast<std::uint32_t>(c);
    for (const char32_t c : shown)
        EXPECT_FALSE(is_hidden_code_point(c)) << std::hex << static_cast<std::uint32_t>(c);

    // In a text, a hidden character is one blank whatever its length in units.
    for (const char32_t c : hidden) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;  // lone surrogates: see the next test
        EXPECT_EQ(sanitize_display_text(L"a" + units_of(c) + L"b"), L"a b")
            << std::hex << static_cast<std::uint32_t>(c);
    }
    for (const char32_t c : shown) {
        const std::wstring text = L"a" + units_of(c) + L"b";
        EXPECT_EQ(sanitize_display_text(text), text) << std::hex << static_cast<std::uint32_t>(c);
    }
}

TEST(DisplayText, SanitisedTexts) {
    const std::wstring pair = L"\U0001F4F6";  // two units
    const std::wstring x119(119, L'x');
    const struct {
        const char* name;
        std::wstring input;
        std::wstring output;
    } cases[] = {
        {"kept", L"TP-Link Archer AX55 Zażółć 東京", L"TP-Link Archer AX55 Zażółć 東京"},
        {"reversed file name", L"\u202Egpj.exe", L" gpj.exe"},
        {"bell and escape",
         L"a\x07"
         L"b\x1B[31mc",
         L"a b [31mc"},
        {"line breaks and tab", L"a\tb\r\nc", L"a b  c"},
        {"blanks only", L" \t\u202E\u200B\uFEFF ", L""},
        {"empty", L"", L""},
        {"blanks around a name kept", L" Dom ", L" Dom "},
        {"lone high surrogate",
         L"ab\xD83D"
         L"c",
         L"ab c"},
        {"lone high surrogate at the end", L"ab\xD83D", L"ab "},
        {"lone low surrogate",
         L"\xDCF6"
         L"ab",
         L" ab"},
        {"reversed pair", L"a\xDCF6\xD83D", L"a  "},
        {"pairs kept", pair + pair, pair + pair},
        {"120 units kept", std::wstring(120, L'x'), std::wstring(120, L'x')},
        {"121 units: 119 and an ellipsis", std::wstring(121, L'x'), x119 + L"\u2026"},
        {"10,000 units", std::wstring(10000, L'x'), x119 + L"\u2026"},
        {"pair across the cut", std::wstring(118, L'x') + pair + L"yyyy",
         std::wstring(118, L'x') + L"\u2026"},
        {"pair just before the cut", std::wstring(117, L'x') + pair + L"yyyy",
         std::wstring(117, L'x') + pair + L"\u2026"},
        {"a hidden pair counts as one unit", std::wstring(119, L'x') + L"\U000E0041", x119 + L" "},
        {"blanks before the cut are not blanks only", std::wstring(150, L' ') + L"x",
         std::wstring(119, L' ') + L"\u2026"},
    };
    for (const auto& c : cases) {
        const std::wstring text = sanitize_display_text(c.input);
        EXPECT_EQ(text, c.output) << c.name;
        EXPECT_LE(text.size(), kDisplayTextUnits) << c.name;
        EXPECT_NO_THROW((void)to_utf8(text)) << c.name;
    }
    EXPECT_EQ(sanitize_display_text(L"abcdefghijkl", 10), L"abcdefghi\u2026");
    EXPECT_EQ(sanitize_display_text(L"ab", 1), L"\u2026");
    EXPECT_EQ(sanitize_display_text(L"ab", 0), L"");
}

TEST(DisplayText, Utf8Texts) {
    EXPECT_EQ(sanitize_display_utf8("\xE2\x80\xAEgpj.exe"), " gpj.exe");
    EXPECT_EQ(sanitize_display_utf8("caf\xE9 \xC2\x85"), "caf\xEF\xBF\xBD  ");
    EXPECT_EQ(sanitize_display_utf8("Routery Sp. z o.o.\r"), "Routery Sp. z o.o. ");
    EXPECT_EQ(sanitize_display_utf8(std::string(300, 'v')), std::string(119, 'v') + "\xE2\x80\xA6");
    EXPECT_EQ(sanitize_display_utf8("\xE2\x80\x8B"), "");
}

TEST(DisplayText, HostNames) {
    const struct {
        std::wstring name;
        bool accepted;
    } cases[] = {
        {L"router.example", true},
        {L"xn--zcaa-2ta.pl", true},  // punycode
        {L"_sip._tcp.Example-1.net", true},
        {L"192.0.2.1", true},
        {L"host.example.", true},  // the trailing dot is removed by the caller
        {std::wstring(253, L'a'), true},
        {std::wstring(254, L'a'), false},
        {L"", false},
        {L"a b.example", false},
        {L"\u00E9vian.fr", false},
        {L"edge\u202Egro.example", false},
        {L"bell\x07.example", false},
        {L"esc\x1B[31m.example", false},
        {L"a\tb", false},
        {L"a\r\nb", false},
        {L"a/b", false},
        {L"a:b", false},
        {L"a\u200Bb", false},
        {std::wstring(L"a\0b", 3), false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_host_name(c.name), c.accepted) << to_utf8(c.name);
}

}  // namespace
}  // namespace tarvisko
