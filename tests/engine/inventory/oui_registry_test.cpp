#include "engine/inventory/oui_registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using namespace std::string_literals;

const std::vector<std::uint8_t> kAcme = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

json unavailable(const std::string& reason) {
    return json{{"reason", reason}, {"status", "unavailable"}};
}
json ok(const std::string& vendor) { return json{{"status", "ok"}, {"value", vendor}}; }

// Writes the bytes to a file in a temporary folder and points QUORVEL_OUI_FILE at it.
class OuiFile {
  public:
    explicit OuiFile(const std::string& bytes)
        : path_(dir_.path() / L"oui \u017C.txt"), env_(L"QUORVEL_OUI_FILE", path_.wstring()) {
        std::ofstream(path_, std::ios::binary) << bytes;
    }

  private:
    test::TempDir dir_;
    std::filesystem::path path_;
    test::ScopedEnv env_;
};

TEST(OuiRegistry, WithoutTheVariableOrTheFileEveryVendorIsMissing) {
    {
        test::ScopedEnv unset(L"QUORVEL_OUI_FILE", nullptr);
        const OuiRegistry registry = *load_oui_registry();
        EXPECT_FALSE(registry.file_opened);
        EXPECT_EQ(describe_hardware_address(registry, kAcme), unavailable("oui_registry_missing"));
    }
    test::TempDir dir;
    test::ScopedEnv absent(L"QUORVEL_OUI_FILE", (dir.path() / L"none.txt").wstring());
    const OuiRegistry registry = *load_oui_registry();
    EXPECT_FALSE(registry.file_opened);
    EXPECT_EQ(describe_hardware_address(registry, kAcme), unavailable("oui_registry_missing"));
}

TEST(OuiRegistry, AddressChecksComeBeforeTheLookup) {
    OuiFile file("001122\tAcme Networks\n021122\tRandom\n011122\tGroup Vendor\n");
    const OuiRegistry registry = *load_oui_registry();
    ASSERT_TRUE(registry.file_opened);
    const std::vector<std::uint8_t> eight = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    const std::vector<std::uint8_t> random = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    const std::vector<std::uint8_t> group = {0x01, 0x11, 0x22, 0x33, 0x44, 0x55};
    const std::vector<std::uint8_t> stranger = {0x00, 0xA8, 0xBB, 0x00, 0x00, 0x01};
    EXPECT_EQ(describe_hardware_address(registry, kAcme), ok("Acme Networks"));
    EXPECT_EQ(describe_hardware_address(registry, eight), unavailable("invalid_hardware_address"));
    EXPECT_EQ(describe_hardware_address(registry, {}), unavailable("invalid_hardware_address"));
    EXPECT_EQ(describe_hardware_address(registry, random),
              unavailable("locally_administered_address"));
    // The group bit is not this function's business.
    EXPECT_EQ(describe_hardware_address(registry, group), ok("Group Vendor"));
    EXPECT_EQ(describe_hardware_address(registry, stranger), unavailable("oui_unknown"));
}

TEST(OuiRegistry, LineRules) {
    const std::string at_400 = "A8A804\t" + std::string(393, 'v');  // 400 bytes
    const std::string at_401 = "A8A805\t" + std::string(394, 'v');  // 401 bytes
    OuiFile file(
        "a8bbcc\tlower case prefix\n"
        "A8BBcC\tmixed case prefix\n"
        "A8BG01\tnot hexadecimal\n"
        "A8BB01\tWindows Vendor\r\n"
        "A8BB02\t\n"   // 7 bytes: too short
        "A8BB03\tX\n"  // 8 bytes: shortest usable line
        "A8BB06 no separator here\n"
        "A8BB07\tFirst\n"
        "A8BB07\tSecond\n"
        "A8BB08\tBroken \xC3\x28 bytes\n"  // not UTF-8
        "A8BB09\tSurrogate \xED\xA0\x80\n"
        "A8BB0A\tOverlong \xC0\xAF\n"
        "A8BB0B\tZ\xC5\xBC\xC3\xB3\xC5\x82w Sp. z o.o.\n"
        "A8BB0C\tNUL\0inside\n"s
        "\n" +
        at_400 + "\n" + at_401 + "\n" + "A8BB0D\tNo final LF");
    const OuiRegistry registry = *load_oui_registry();
    struct Case {
        std::vector<std::uint8_t> address;
        json expected;
    };
    const Case cases[] = {
        {{0xA8, 0xBB, 0xCC, 0, 0, 1}, unavailable("oui_unknown")},
        {{0xA8, 0xBB, 0x01, 0, 0, 1}, ok("Windows Vendor\r")},
        {{0xA8, 0xBB, 0x02, 0, 0, 1}, unavailable("oui_unknown")},
        {{0xA8, 0xBB, 0x03, 0, 0, 1}, ok("X")},
        {{0xA8, 0xBB, 0x06, 0, 0, 1}, unavailable("oui_unknown")},
        {{0xA8, 0xBB, 0x07, 0, 0, 1}, ok("First")},
        {{0xA8, 0xBB, 0x08, 0, 0, 1}, unavailable("oui_unknown")},
        {{0xA8, 0xBB, 0x09, 0, 0, 1}, unavailable("oui_unknown")},
        {{0xA8, 0xBB, 0x0A, 0, 0, 1}, unavailable("oui_unknown")},
        {{0xA8, 0xBB, 0x0B, 0, 0, 1}, ok("Z\xC5\xBC\xC3\xB3\xC5\x82w Sp. z o.o.")},
        {{0xA8, 0xBB, 0x0C, 0, 0, 1}, ok(std::string("NUL\0inside", 10))},
        {{0xA8, 0xA8, 0x04, 0, 0, 1}, ok(std::string(393, 'v'))},
        {{0xA8, 0xA8, 0x05, 0, 0, 1}, unavailable("oui_unknown")},
        {{0xA8, 0xBB, 0x0D, 0, 0, 1}, ok("No final LF")},
    };
    // Keys that a lookup can never ask for are not kept.
    for (const auto& [prefix, vendor] : registry.vendors) {
        EXPECT_EQ(prefix.find_first_not_of("0123456789ABCDEF"), std::string::npos) << prefix;
    }
    for (const Case& c : cases) {
        const json result = describe_hardware_address(registry, c.address);
        EXPECT_EQ(result, c.expected) << c.expected.dump();
        // Whatever the file held, the result must serialise as the inventory does.
        EXPECT_NO_THROW((void)result.dump()) << c.expected.dump();
    }
    for (const auto& [prefix, vendor] : registry.vendors) {
        EXPECT_NO_THROW((void)json(vendor).dump()) << prefix;
    }
}

TEST(OuiRegistry, FileAboveTheCapGivesNoVendorsAndSaysWhy) {
    const std::string first_line = "001122\tAcme Networks\n";
    std::string at_cap = first_line;
    at_cap.resize(kOuiFileLimit, 'x');
    {
        OuiFile file(at_cap);
        const OuiRegistry registry = *load_oui_registry();
        EXPECT_FALSE(registry.too_large);
        EXPECT_EQ(describe_hardware_address(registry, kAcme), ok("Acme Networks"));
    }
    OuiFile file(at_cap + "\n");
    const OuiRegistry registry = *load_oui_registry();
    EXPECT_TRUE(registry.file_opened);
    EXPECT_TRUE(registry.too_large);
    EXPECT_TRUE(registry.vendors.empty());
    EXPECT_EQ(describe_hardware_address(registry, kAcme), unavailable("oui_registry_too_large"));
    // The address checks still come first.
    EXPECT_EQ(describe_hardware_address(registry, std::vector<std::uint8_t>{2, 0, 0, 0, 0, 1}),
              unavailable("locally_administered_address"));
}

TEST(OuiRegistry, ReadOncePerRunAndPath) {
    test::TempDir dir;
    const std::filesystem::path path = dir.path() / L"vendors.txt";
    std::ofstream(path, std::ios::binary) << "001122\tAcme Networks\n";
    test::ScopedEnv env(L"QUORVEL_OUI_FILE", path.wstring());

    // Callers that come together share the one read.
    std::vector<std::shared_ptr<const OuiRegistry>> seen(8);
    {
        std::vector<std::jthread> callers;
        for (auto& slot : seen) callers.emplace_back([&slot] { slot = load_oui_registry(); });
    }
    for (const auto& registry : seen) EXPECT_EQ(registry, seen.front());
    EXPECT_EQ(describe_hardware_address(*seen.front(), kAcme), ok("Acme Networks"));

    // A changed file is not read again in this run; another path is.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "001122\tChanged\n";
    EXPECT_EQ(load_oui_registry(), seen.front());
    EXPECT_EQ(read_oui_registry(path.wstring()).vendors.at("001122"), "Changed");
    OuiFile other("001122\tOther\n");
    EXPECT_EQ(describe_hardware_address(*load_oui_registry(), kAcme), ok("Other"));
}

TEST(OuiRegistry, HostileFilesLoseNoUsableLine) {
    std::string bytes;
    bytes += std::string(3 * 1024 * 1024, 'x');  // one huge line, no LF for 3 MiB
    bytes += "\nC0FFEE\tAfter Huge Line\n";
    for (int i = 0; i < 2000; ++i) bytes.push_back(static_cast<char>((i * 131) % 256));
    bytes += "\nB8DBAD\tAfter Binary\n";
    bytes += std::string(1000, '\0') + "\nD00D00\tAfter Zeros";
    OuiFile file(bytes);
    const OuiRegistry registry = *load_oui_registry();
    EXPECT_EQ(
        describe_hardware_address(registry, std::vector<std::uint8_t>{0xC0, 0xFF, 0xEE, 0, 0, 1}),
        ok("After Huge Line"));
    EXPECT_EQ(
        describe_hardware_address(registry, std::vector<std::uint8_t>{0xB8, 0xDB, 0xAD, 0, 0, 1}),
        ok("After Binary"));
    EXPECT_EQ(
        describe_hardware_address(registry, std::vector<std::uint8_t>{0xD0, 0x0D, 0x00, 0, 0, 1}),
        ok("After Zeros"));
    for (const auto& [prefix, vendor] : registry.vendors) {
        EXPECT_NO_THROW((void)json(vendor).dump()) << prefix;
    }
}

TEST(OuiRegistry, FullSizeVendorListLoadsEveryLine) {
    // As large as the public vendor list: lines cross the reader's chunk boundaries.
    std::string bytes;
    for (std::uint32_t i = 0; i < 40000; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%06X\tVendor number %u Sp. z o.o.\n", i * 97, i);
        bytes += line;
    }
    OuiFile file(bytes);
    const OuiRegistry registry = *load_oui_registry();
    ASSERT_EQ(registry.vendors.size(), 40000u);
    for (std::uint32_t i = 0; i < 40000; i += 997) {
        const std::uint32_t oui = i * 97;
        const std::vector<std::uint8_t> address = {static_cast<std::uint8_t>(oui >> 16),
                                                   static_cast<std::uint8_t>(oui >> 8),
                                                   static_cast<std::uint8_t>(oui),
                                                   1,
                                                   2,
                                                   3};
        if ((address[0] & 0x02) != 0) continue;
        EXPECT_EQ(describe_hardware_address(registry, address),
                  ok("Vendor number " + std::to_string(i) + " Sp. z o.o."));
    }
}

}  // namespace
}  // namespace tarvisko
