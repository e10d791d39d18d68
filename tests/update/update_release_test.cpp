// The release description: its checks, in order, and its signature, with release keys the
// simulator makes with openssl for this run.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "engine/common/text.h"
#include "engine/common/version.h"
#include "support/simulator_client.h"
#include "support/test_support.h"
#include "update/release.h"
#include "update/update_system.h"
#include "update/update_test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using test::error_text;
using test::simulator_control;

const std::string kHash(64, 'a');
const char* const kBadSignature = "Podpis opisu wydania jest nieprawidłowy.";
const char* const kBadDescription = "Niepoprawny opis wydania Windows.";

class ReleaseDescriptionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::simulator_reset();
        test::update_test_seams() = {};
        test::update_test_seams().certificate =
            simulator_control("GET", "portal/release-key")["certificate"].get<std::string>();
        test::use_update_test_seams();
    }
    void TearDown() override { update_system().release_certificate = built_in_release_certificate; }

    static std::string proof(const json& version, const json& size, const std::string& sha256,
                             bool other_key = false) {
        return simulator_control("POST", "portal/sign",
                                 {{"version", version},
                                  {"size", size},
                                  {"sha256", sha256},
                                  {"other_key", other_key}})["proof"]
            .get<std::string>();
    }
    // A description signed over its own version, size and sha256.
    static json signed_description(const std::string& version, std::uint64_t size,
                                   const std::string& sha256) {
        return {{"version", version},
                {"sha256", sha256},
                {"platform", "windows-x64"},
                {"size", size},
                {"proof", proof(version, size, sha256)}};
    }
};

TEST_F(ReleaseDescriptionTest, AcceptsOnlyWhatTheKeySignedInTheRightForm) {
    const json good = signed_description("1.2.0", 4096, kHash);
    const auto with = [&](const char* key, const json& value) {
        json changed = good;
        if (value.is_discarded()) {
            changed.erase(key);
        } else {
            changed[key] = value;
        }
        return changed.dump();
    };
    const json removed = json(json::value_t::discarded);
    json shuffled = json::object();
    shuffled["proof"] = good["proof"];
    shuffled["note"] = "anything";
    shuffled["size"] = good["size"];
    shuffled["platform"] = good["platform"];
    shuffled["sha256"] = good["sha256"];
    shuffled["version"] = good["version"];
    json leading_zero = good;
    leading_zero["version"] = "1.01.0";
    leading_zero.erase("platform");

    struct Case {
        const char* name;
        std::string text;
        const char* expected;  // a part of the message
    };
    const Case cases[] = {
        {"signed", good.dump(), "(no error)"},
        {"keys in another order, one added", shuffled.dump(), "(no error)"},
        {"largest size", signed_description("1.2.0", 33554432, kHash).dump(), "(no error)"},
        {"size over the limit", signed_description("1.2.0", 33554433, kHash).dump(),
         kBadDescription},
        {"size zero", signed_description("1.2.0", 0, kHash).dump(), kBadDescription},
        {"size fractional", with("size", 1048576.0), kBadDescription},
        {"size a string", with("size", "1048576"), kBadDescription},
        {"size negative", with("size", -1), kBadDescription},
        {"size missing", with("size", removed), kBadDescription},
        {"hash in upper case", signed_description("1.2.0", 4096, std::string(64, 'A')).dump(),
         kBadDescription},
        {"hash too short", signed_description("1.2.0", 4096, std::string(63, 'a')).dump(),
         kBadDescription},
        {"another platform", with("platform", "windows-x86"), kBadDescription},
        {"platform not a string", with("platform", 64), kBadDescription},
        {"platform missing", with("platform", removed), "key 'platform' not found"},
        {"leading zero, before the platform", leading_zero.dump(), "Niepoprawny numer wersji."},
        {"version missing", with("version", removed), "key 'version' not found"},
        {"version a number", with("version", 1.2), "type must be string"},
        {"hash missing", with("sha256", removed), "key 'sha256' not found"},
        {"not an object", "[1,2,3]", "cannot use at() with array"},
        {"not JSON", "{\"version\":", "parse error"},
        {"nested deeper than any description",
         "{\"version\":" + std::string(4000, '[') + std::string(4000, ']') + "}", kBadDescription},
        {"version changed", with("version", "1.3.0"), kBadSignature},
        {"size changed", with("size", 4097), kBadSignature},
        {"hash changed", with("sha256", std::string(64, 'b')), kBadSignature},
        {"another key", with("proof", proof("1.2.0", 4096, kHash, true)), kBadSignature},
        {"proof of something else", with("proof", "AAAA"), kBadSignature},
        {"proof missing", with("proof", removed), "key 'proof' not found"},
        {"proof empty", with("proof", ""), "Niepoprawne kodowanie podpisu."},
        {"proof not base64", with("proof", "@@@@"), "Niepoprawne kodowanie podpisu."},
        {"proof too long", with("proof", std::string(8192, 'A')), "Niepoprawne kodowanie podpisu."},
    };
    for (const Case& c : cases) {
        const std::string message = error_text([&] { verify_release_description(c.text); });
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.name << ": " << message;
    }

    const ReleaseInfo info = verify_release_description(good.dump());
    EXPECT_EQ(info.version, "1.2.0");
    EXPECT_EQ(info.sha256, kHash);
    EXPECT_EQ(info.size, 4096u);
}

TEST_F(ReleaseDescriptionTest, TheBuiltInKeyRefusesAnyOtherKeysDescription) {
    const std::string text = signed_description("1.2.0", 4096, kHash).dump();
    EXPECT_EQ(error_text([&] { verify_release_description(text); }), "(no error)");
    update_system().release_certificate = built_in_release_certificate;
    EXPECT_EQ(std::string(built_in_release_certificate).size(), 1440u);
    // The certificate parses and its key is used: the failure is the signature's.
    EXPECT_EQ(error_text([&] { verify_release_description(text); }), kBadSignature);
}

TEST_F(ReleaseDescriptionTest, LoadsTheServedDescription) {
    const std::wstring origin = to_wide(test::simulator_origin());
    simulator_control("POST", "portal/config", {{"release_version", "1.2.0"}});
    const ReleaseInfo info = load_release_description(origin);
    EXPECT_EQ(info.version, "1.2.0");
    EXPECT_EQ(info.size, 4096u);
    const std::string installer =
        test::simulator_request("GET", "/pobierz/QUORVEL-Sondaro.exe").body;
    EXPECT_EQ(info.sha256, sha256_hex_of_bytes(installer));
    EXPECT_TRUE(is_newer_version(info, program_version));

    simulator_control("POST", "portal/config", {{"release_tamper", {{"version", "1.3.0"}}}});
    EXPECT_EQ(error_text([&] { load_release_description(origin); }), kBadSignature);
    // What the demo start sees: the simulator's own key is not the program's.
    simulator_control("POST", "portal/config", {{"release_tamper", json::object()}});
    update_system().release_certificate = built_in_release_certificate;
    EXPECT_EQ(error_text([&] { load_release_description(origin); }), kBadSignature);
}

}  // namespace
}  // namespace tarvisko
