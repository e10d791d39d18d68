// The portal calls against the provider simulator over real TLS.
#include "engine/http/portal.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "engine/common/json_document.h"
#include "engine/common/text.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using test::simulator_add_fault;
using test::simulator_control;
using test::simulator_origin;
using test::simulator_requests;

std::string error_of(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

const char kLimit[] = "Przekroczono limit pobierania aktualizacji.";

class PortalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::simulator_reset();
        origin = to_wide(simulator_origin());
    }
    void configure(const nlohmann::json& settings) {
        simulator_control("POST", "portal/config", settings);
    }

    std::wstring origin;
};

TEST_F(PortalTest, RegistrationReturnsTokenWithoutSendingCredential) {
    const std::wstring token = register_client(origin);
    EXPECT_EQ(token.size(), 48u);
    const nlohmann::json stats = simulator_control("GET", "portal/stats");
    EXPECT_EQ(to_wide(stats["tokens"][0].get<std::string>()), token);
    const nlohmann::json seen = simulator_requests("/api/v1/portal/clients");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0]["method"], "POST");
    EXPECT_FALSE(seen[0]["headers"].contains("authorization"));
}

TEST_F(PortalTest, RegistrationTokenRule) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    struct Case {
        nlohmann::json token;
        const char* expected;
    };
    const Case cases[] = {
        {std::string(32, 'a'), "no error"},
        {(alphabet + alphabet).substr(0, 128), "no error"},
        {std::string(31, 'a'), "invalid_client_credential"},
        {std::string(129, 'a'), "invalid_client_credential"},
        {std::string(40, 'a') + "+", "invalid_client_credential"},
        {std::string(40, 'a') + "=", "invalid_client_credential"},
        {std::string(40, 'a') + " ", "invalid_client_credential"},
        {std::string(40, 'a') + "\xc4\x85", "invalid_client_credential"},
    };
    for (const Case& c : cases) {
        configure({{"token", c.token}});
        std::wstring token;
        EXPECT_EQ(error_of([&] { token = register_client(origin); }), c.expected) << c.token;
        if (std::string(c.expected) == "no error") {
            EXPECT_EQ(to_utf8(token), c.token.get<std::string>());
        }
    }
    // Not a text, or no token at all: the reply is malformed.
    configure({{"token", 12345}});
    EXPECT_THROW(register_client(origin), nlohmann::json::type_error);
    simulator_add_fault({{"path", "/api/v1/portal/clients"}, {"status", 201}, {"body", "{}"}});
    EXPECT_THROW(register_client(origin), nlohmann::json::out_of_range);
    simulator_add_fault({{"path", "/api/v1/portal/clients"}, {"status", 200}, {"body", "{}"}});
    EXPECT_EQ(error_of([&] { register_client(origin); }), "node_http_200");
}

TEST_F(PortalTest, CatalogShape) {
    const nlohmann::json catalog = fetch_game_catalog(origin);
    EXPECT_EQ(catalog["version"], 1);
    EXPECT_EQ(catalog["profiles"][0]["name"], "Symulowana gra");
    EXPECT_FALSE(
        simulator_requests("/api/v1/portal/game-profiles")[0]["headers"].contains("authorization"));

    auto with_profiles = [](std::size_t n) {
        nlohmann::json list = nlohmann::json::array();
        for (std::size_t i = 0; i < n; ++i) list.push_back({{"name", "g" + std::to_string(i)}});
        return nlohmann::json{{"version", 1}, {"profiles", list}};
    };
    struct Case {
        nlohmann::json catalog;
        const char* expected;
    };
    const Case cases[] = {
        {with_profiles(64), "no error"},
        {with_profiles(0), "no error"},
        {with_profiles(65), "invalid_game_catalog"},
        {{{"version", 2}, {"profiles", nlohmann::json::array()}}, "invalid_game_catalog"},
        {{{"version", "1"}, {"profiles", nlohmann::json::array()}}, "invalid_game_catalog"},
        {{{"profiles", nlohmann::json::array()}}, "invalid_game_catalog"},
        {{{"version", 2}}, "invalid_game_catalog"},
        {{{"version", 1}, {"profiles", nlohmann::json::object()}}, "invalid_game_catalog"},
        {nlohmann::json::array(), "invalid_node_reply"},
    };
    for (const Case& c : cases) {
        configure({{"catalog", c.catalog}});
        EXPECT_EQ(error_of([&] { fetch_game_catalog(origin); }), c.expected)
            << c.catalog.dump().substr(0, 80);
    }
    configure({{"catalog", {{"version", 1}}}});
    EXPECT_THROW(fetch_game_catalog(origin), nlohmann::json::out_of_range);
    // Nesting is bounded before anyone copies the catalogue: 16,000 levels fit in the byte cap.
    const std::string head = R"({"version":1,"profiles":)";
    const struct {
        std::string body;
        const char* expected;
    } deep_cases[] = {
        {head + test::nested_arrays(json_depth_limit - 1) + "}", "no error"},
        {head + test::nested_arrays(json_depth_limit) + "}", "invalid_node_reply"},
        {head + test::nested_arrays(16'000) + "}", "invalid_node_reply"},
    };
    for (const auto& c : deep_cases) {
        simulator_add_fault(
            {{"path", "/api/v1/portal/game-profiles"}, {"status", 200}, {"body", c.body}});
        EXPECT_EQ(error_of([&] { fetch_game_catalog(origin).dump(); }), c.expected)
            << c.body.size();
    }
    // The catalogue may be up to 32768 bytes; more is refused before parsing.
    simulator_add_fault(
        {{"path", "/api/v1/portal/game-profiles"}, {"status", 200}, {"body_size", 32769}});
    EXPECT_EQ(error_of([&] { fetch_game_catalog(origin); }), "node_reply_too_large");
}

TEST_F(PortalTest, UpdateFilesComeBackUnchangedWithinTheirCaps) {
    const std::string release = download_update_file(origin, false);
    EXPECT_EQ(release.substr(0, 12), "{\"version\":\"");
    const std::string installer = download_update_file(origin, true);
    ASSERT_EQ(installer.size(), 4096u);
    EXPECT_EQ(installer.substr(0, 2), "MZ");
    EXPECT_EQ(static_cast<unsigned char>(installer[2 + 255]), 255);

    configure({{"release_size", 8192}});
    EXPECT_EQ(download_update_file(origin, false).size(), 8192u);
    configure({{"release_size", 8193}});
    EXPECT_EQ(error_of([&] { download_update_file(origin, false); }), kLimit);

    // The installer's cap is far larger: 200 KiB pass.
    configure({{"installer_size", 200 * 1024}});
    EXPECT_EQ(download_update_file(origin, true).size(), 200u * 1024u);

    simulator_add_fault({{"path", "/pobierz/QUORVEL-Sondaro.exe"}, {"status", 404}});
    EXPECT_EQ(error_of([&] { download_update_file(origin, true); }), "node_http_404");
    EXPECT_FALSE(simulator_requests("/pobierz/")[0]["headers"].contains("authorization"));
}

TEST_F(PortalTest, DownloadStillRunningAfterSixtySecondsFails) {
    // A slow installer: 128 KiB at 2 Mbit/s arrives in several reads over about half a second;
    // the clock says 25 s pass with every look, so the third read is past the limit.
    configure({{"installer_size", 128 * 1024}, {"pace_bps", 2000000}});
    auto fake = std::chrono::steady_clock::time_point{};
    int looks = 0;
    const SteadyClock clock = [&] {
        ++looks;
        return fake + std::chrono::seconds(25) * looks;
    };
    EXPECT_EQ(error_of([&] { download_update_file(origin, true, clock); }), kLimit);
    EXPECT_GE(looks, 3);

    // The same download with a clock that barely moves completes.
    looks = 0;
    const SteadyClock slow = [&] { return fake + std::chrono::milliseconds(++looks); };
    EXPECT_EQ(download_update_file(origin, true, slow).size(), 128u * 1024u);
}

TEST_F(PortalTest, OriginMustBeHttps) {
    EXPECT_EQ(error_of([] { register_client(L"http://localhost"); }), "node_https_origin_required");
    EXPECT_EQ(error_of([] { fetch_game_catalog(L"https://localhost/api"); }),
              "node_https_origin_required");
    EXPECT_EQ(error_of([] { download_update_file(L"", false); }), "node_https_origin_required");
}

}  // namespace
}  // namespace tarvisko
