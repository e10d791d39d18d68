#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <regex>
#include <stdexcept>
#include <vector>

#include "engine/common/address.h"
#include "engine/common/envelope.h"
#include "engine/common/handle_guard.h"
#include "engine/common/hash.h"
#include "engine/common/ids.h"
#include "engine/common/json_document.h"
#include "engine/common/system.h"
#include "engine/common/text.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

TEST(Text, RoundTripsPolishText) {
    const std::string polish = "Zamykanie i zapis wyniku\xE2\x80\xA6 \xC5\xBC\xC3\xB3\xC5\x82w";
    EXPECT_EQ(to_utf8(to_wide(polish)), polish);
    EXPECT_EQ(to_wide(""), L"");
    EXPECT_EQ(to_utf8(L""), "");
}

TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(to_wide("a\xFF" "b"), std::wstring(L"a\xFFFD" L"b"));
}

TEST(Text, LoneSurrogateIsRejected) {
    const std::wstring lone(1, static_cast<wchar_t>(0xD800));
    try {
        to_utf8(L"x" + lone);
        FAIL() << "expected an error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "invalid Windows Unicode string");
    }
}

TEST(Text, ReadingsKeepTheirPlaceWithReplacementCharacters) {
    const wchar_t high = static_cast<wchar_t>(0xD83D);
    const wchar_t low = static_cast<wchar_t>(0xDE00);
    const std::string replacement = "\xEF\xBF\xBD";
    struct Case {
        std::wstring reading;
        std::string expected;
    };
    const Case cases[] = {
        {L"Intel(R) Ethernet", "Intel(R) Ethernet"},
        {std::wstring(L"a") + high + low + L"b", "a\xF0\x9F\x98\x80" "b"},  // a real pair stays
        {std::wstring(L"a") + high, "a" + replacement},
        {std::wstring(1, low) + L"b", replacement + "b"},
        {std::wstring(L"") + low + high, replacement + replacement},  // reversed halves
        {std::wstring(L"") + high + high + low, replacement + "\xF0\x9F\x98\x80"},
        {L"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(reading_to_utf8(c.reading), c.expected);
}

TEST(Ids, UuidIsUpperCaseWithoutBraces) {
    const std::string a = new_uuid_text();
    EXPECT_TRUE(std::regex_match(a, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"))) << a;
    EXPECT_NE(a, new_uuid_text());
}

TEST(Ids, TimestampHasMillisecondsAndZone) {
    const std::string now = utc_timestamp_now();
    EXPECT_TRUE(std::regex_match(now, std::regex(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z)"))) << now;
}

TEST(Hash, Sha256HashesUtf16LittleEndianBytes) {
    EXPECT_EQ(sha256_hex(L"abc"), L"13e228567e8249fce53337f25d7970de3bd68ab2653424c7b8f9fd05e33caedf");
    EXPECT_EQ(sha256_hex(L""), L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Hash, HmacOfIndividualAddress) {
    std::vector<std::uint8_t> key(32, 0);
    key[0] = 0x01;
    const std::vector<std::uint8_t> address{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(hmac_sha256(address, key),
              "b73b825f64f6ffd191d0a3ed522e78da78f6b20cb2ea6d5c09283415c3546f6a");
}

TEST(Hash, HmacRefusesAddressesThatNameNoSingleDevice) {
    const std::vector<std::uint8_t> key(32, 7);
    const std::vector<std::vector<std::uint8_t>> refused{
        {0x01, 0x00, 0x5E, 0x00, 0x00, 0x01},  // group bit set
        {0, 0, 0, 0, 0, 0},                    // all zero
        {0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77},  // eight bytes
        {0x02, 0x11, 0x22, 0x33, 0x44},        // five bytes
        {},
    };
    for (const auto& address : refused) EXPECT_EQ(hmac_sha256(address, key), "");
}

TEST(System, WindowsVersionHasThreeNumbers) {
    EXPECT_TRUE(std::regex_match(windows_version_text(), std::regex(R"(\d+\.\d+\.\d+)")))
        << windows_version_text();
}

TEST(System, EnvironmentVariables) {
    {
        test::ScopedEnv set(L"TARVISKO_TEST_VALUE", L"wart\x0119\x015B\x0107");
        EXPECT_EQ(read_environment_variable(L"TARVISKO_TEST_VALUE"), L"wart\x0119\x015B\x0107");
    }
    test::ScopedEnv unset(L"TARVISKO_TEST_VALUE", nullptr);
    EXPECT_EQ(read_environment_variable(L"TARVISKO_TEST_VALUE"), L"");
}

// A variable set to the empty text is the empty value, not an unavailable one.
TEST(System, EnvironmentVariableSetToEmptyTextIsEmpty) {
    test::ScopedEnv empty(L"TARVISKO_TEST_EMPTY", L"");
    EXPECT_EQ(read_environment_variable(L"TARVISKO_TEST_EMPTY"), L"");
}

struct LiteralCase {
    const char* input;
    const char* canonical;  // nullptr: rejected
    const char* error;
};

TEST(Address, ParseIpLiteral) {
    const LiteralCase cases[] = {
        {"0.1.2.3", "0.1.2.3", nullptr},
        {"192.0.2.10", "192.0.2.10", nullptr},
        {"223.255.255.255", "223.255.255.255", nullptr},
        {"::1", "::1", nullptr},
        {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1", nullptr},
        {"0.0.0.0", nullptr, "IPv4 unicast required"},
        {"224.0.0.1", nullptr, "IPv4 unicast required"},
        {"255.255.255.255", nullptr, "IPv4 unicast required"},
        {"::", nullptr, "unscoped IPv6 unicast required"},
        {"ff02::1", nullptr, "unscoped IPv6 unicast required"},
        {"fe80::1", nullptr, "unscoped IPv6 unicast required"},
        {"febf::1", nullptr, "unscoped IPv6 unicast required"},
        {"::ffff:192.0.2.1", nullptr, "unscoped IPv6 unicast required"},
        {"fe80::1%3", nullptr, "numeric IPv4 or IPv6 address required"},
        {"2001:db8::1%3", nullptr, "numeric IPv4 or IPv6 address required"},
        {"example.com", nullptr, "numeric IPv4 or IPv6 address required"},
        {"", nullptr, "numeric IPv4 or IPv6 address required"},
        {"1.2.3", nullptr, "numeric IPv4 or IPv6 address required"},
    };
    for (const LiteralCase& c : cases) {
        SCOPED_TRACE(c.input);
        if (c.canonical != nullptr) {
            const Target target = parse_ip_literal(c.input);
            EXPECT_EQ(target.text, c.canonical);
            EXPECT_EQ(target.address.si_family, std::string(c.canonical).find(':') == std::string::npos ? AF_INET : AF_INET6);
            if (target.address.si_family == AF_INET6) {
                EXPECT_EQ(target.address.Ipv6.sin6_scope_id, 0u);
            }
        } else {
            try {
                parse_ip_literal(c.input);
                ADD_FAILURE() << "accepted";
            } catch (const std::invalid_argument& error) {
                EXPECT_STREQ(error.what(), c.error);
            }
        }
    }
}

TEST(Address, PublicAddressRule) {
    const std::pair<const char*, bool> cases[] = {
        {"100.64.0.1", false},      {"100.127.255.255", false}, {"100.63.255.255", true},
        {"100.128.0.0", true},      {"172.31.0.1", false},      {"172.32.0.1", true},
        {"172.15.255.255", true},   {"192.0.2.5", false},       {"192.0.1.5", true},
        {"198.19.255.255", false},  {"198.20.0.0", true},       {"198.17.255.255", true},
        {"10.1.2.3", false},        {"127.0.0.1", false},       {"169.254.1.1", false},
        {"192.168.1.1", false},     {"192.88.99.1", false},     {"198.51.100.1", false},
        {"203.0.113.1", false},     {"0.1.2.3", false},         {"8.8.8.8", true},
        {"223.255.255.255", true},
        {"2001:db8::1", false},     {"2001:1ff::1", false},     {"2002::1", false},
        {"3fff:fff::1", false},     {"2001:200::1", true},      {"2003::1", true},
        {"3fff:1000::1", true},     {"fc00::1", false},         {"::1", false},
        {"4000::1", false},         {"2a00:1450::1", true},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(is_public_address(parse_ip_literal(text)), expected) << text;
    }
}

TEST(JsonDocument, RefusesDeepNestingTrailingBytesAndNul) {
    using test::nested_arrays;
    const std::string deepest = "{\"a\":" + nested_arrays(json_depth_limit - 1) + "}";
    const std::string too_deep = "{\"a\":" + nested_arrays(json_depth_limit) + "}";
    // Brackets inside strings, escaped quotes included, are text and do not nest.
    const std::string bracket_text = "{\"a\":\"\\\"" + nested_arrays(200) + "\"}";
    struct Case {
        std::string text;
        bool accepted;
    };
    const Case cases[] = {
        {deepest, true},
        {too_deep, false},
        {nested_arrays(16'000), false},
        {bracket_text, true},
        {"{\"a\":1} \r\n", true},
        {std::string("{\"a\":1}\0", 8), false},
        {std::string("{\"a\":1}\0{}", 10), false},
        {std::string("{\"a\":\"x\0\"}", 11), false},
        {"{\"a\":1}x", false},
        {"{\"a\":1}{}", false},
        {"", false},
        {"]]]]", false},
        {"42", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_json_document(c.text).has_value(), c.accepted) << c.text.substr(0, 60);
    }
    EXPECT_EQ(parse_json_document(deepest)->dump(), deepest);
    EXPECT_EQ(*parse_json_document(bracket_text), nlohmann::json::parse(bracket_text));
    EXPECT_TRUE(parse_json_document("[[[]]]", 3));
    EXPECT_FALSE(parse_json_document("[[[]]]", 2));
}

TEST(Envelope, SerialisesWithSortedKeys) {
    EXPECT_EQ(json_value_ok(nlohmann::json::array({1, 2})).dump(), R"({"status":"ok","value":[1,2]})");
    EXPECT_EQ(json_unavailable("GetIfTable2: 5").dump(),
              R"({"reason":"GetIfTable2: 5","status":"unavailable"})");
}

TEST(Envelope, PartialOnlyWhenRowsWereCut) {
    nlohmann::json rows = nlohmann::json::array();
    for (int i = 0; i < 100; ++i) rows.push_back(i);
    EXPECT_EQ(json_value_partial(rows, 100)["status"], "ok");
    const nlohmann::json partial = json_value_partial(rows, 250);
    EXPECT_EQ(partial["status"], "partial");
    EXPECT_EQ(partial["reason"], "row_limit");
    EXPECT_EQ(partial["total"], 250);
    EXPECT_EQ(partial["value"].size(), 100u);
    EXPECT_EQ(json_value_partial(nullptr, 0)["status"], "ok");
    EXPECT_EQ(json_value_partial(5, 1)["status"], "ok");
    EXPECT_EQ(json_value_partial(nlohmann::json::object({{"a", 1}}), 2).dump(),
              R"({"reason":"row_limit","status":"partial","total":2,"value":{"a":1}})");
}

TEST(HandleGuard, ReleasesOnceAndMoves) {
    static int released = 0;
    released = 0;
    {
        HandleGuard<int> a(5, [](int) { ++released; }, -1);
        HandleGuard<int> b(std::move(a));
        EXPECT_FALSE(a.valid());
        EXPECT_TRUE(b.valid());
    }
    EXPECT_EQ(released, 1);
}

}  // namespace
}  // namespace tarvisko
