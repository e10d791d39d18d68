// The catalogue refresh against the provider simulator over real TLS, with LOCALAPPDATA in a
// temporary folder.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "engine/common/text.h"
#include "games/catalog.h"
#include "log_fixtures.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using test::simulator_add_fault;
using test::simulator_control;

constexpr const char* kPath = "/api/v1/portal/game-profiles";

json server_catalog(int revision) {
    return {{"version", 1},
            {"revision", revision},
            {"note", "zażółć"},
            {"profiles", json::array({{{"name", "Gra z serwera"},
                                       {"processes", json::array({"gra.exe"})},
                                       {"regions", json::array({{{"label", "Łódź"},
                                                                 {"host", "localhost"},
                                                                 {"method", "icmp"},
                                                                 {"kind", "game_server"},
                                                                 {"verified", "2026-12-01"},
                                                                 {"source", "portal"}}})}}})}};
}

class CatalogRefresh : public ::testing::Test {
  protected:
    void SetUp() override { test::simulator_reset(); }
    void serve(const json& catalog) {
        simulator_control("POST", "portal/config", {{"catalog", catalog}});
    }

    test::TempDir temp;
    test::ScopedEnv local{L"LOCALAPPDATA", temp.path().wstring()};
    std::wstring origin = to_wide(test::simulator_origin());
    std::filesystem::path cache = game_catalog_cache_path(origin);
};

TEST_F(CatalogRefresh, ServerCopyIsUsedAndCachedCompactly) {
    // The simulator's own default catalogue is a valid one.
    CatalogResult result = load_game_catalog(origin);
    EXPECT_EQ(result.source_text, L"");
    EXPECT_TRUE(validate_profile_catalog(1, result.catalog));

    serve(server_catalog(3));
    result = load_game_catalog(origin);
    EXPECT_EQ(result.source_text, L"");
    EXPECT_EQ(result.catalog, server_catalog(3));
    const std::string bytes = test::read_fixture_file(cache);
    EXPECT_EQ(bytes, server_catalog(3).dump());
    EXPECT_NE(bytes.find("\"Łódź\""), std::string::npos);
    EXPECT_EQ(bytes.find("\": "), std::string::npos);
    EXPECT_EQ(bytes.find("\\u"), std::string::npos);
    EXPECT_EQ(bytes.find('\n'), std::string::npos);
}

TEST_F(CatalogRefresh, FaultsFallBackToTheCacheOrTheBuiltInCopy) {
    json reserved = server_catalog(2);
    reserved["profiles"][0]["regions"][0]["kind"] = "session_relay";
    const struct {
        const char* what;
        json fault;    // a fault rule, or null
        json catalog;  // what the portal serves, or null for its default
    } cases[] = {
        {"status 500", {{"path", kPath}, {"status", 500}}, nullptr},
        {"dropped connection", {{"path", kPath}, {"drop", "before_reply"}}, nullptr},
        {"32,769 bytes", {{"path", kPath}, {"status", 200}, {"body_size", 32769}}, nullptr},
        {"not JSON", {{"path", kPath}, {"status", 200}, {"body", "{"}}, nullptr},
        {"revision 0", nullptr, server_catalog(0)},
        {"reserved kind", nullptr, reserved},
        {"no profiles", nullptr,
         json{{"version", 1}, {"revision", 2}, {"profiles", json::array()}}},
    };
    for (bool cached : {false, true}) {
        std::filesystem::remove(cache);
        if (cached) {
            serve(server_catalog(5));
            ASSERT_EQ(load_game_catalog(origin).source_text, L"");
        }
        const std::string cache_bytes = test::read_fixture_file(cache);
        for (const auto& c : cases) {
            test::simulator_reset();
            if (!c.fault.is_null()) simulator_add_fault(c.fault);
            if (!c.catalog.is_null()) serve(c.catalog);
            const CatalogResult result = load_game_catalog(origin);
            if (cached) {
                EXPECT_EQ(result.source_text, kCatalogFromCache) << c.what;
                EXPECT_EQ(result.catalog, server_catalog(5)) << c.what;
            } else {
                EXPECT_EQ(result.source_text, kCatalogBuiltIn) << c.what;
                EXPECT_EQ(result.catalog, json::parse(builtin_game_catalog_text())) << c.what;
            }
            EXPECT_EQ(test::read_fixture_file(cache), cache_bytes) << c.what;
            EXPECT_EQ(test::simulator_requests(kPath).size(), 1u) << c.what;
        }
    }
}

TEST_F(CatalogRefresh, UnusableCachesGiveTheBuiltInCopy) {
    const std::wstring closed = L"https://localhost:1";
    const std::filesystem::path closed_cache = game_catalog_cache_path(closed);
    std::filesystem::create_directories(closed_cache.parent_path());
    json revision0 = server_catalog(0);
    std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string contents[] = {
        "{",          "",
        "\xff\xfe{}", revision0.dump(),
        deep,         server_catalog(2).dump() + std::string(1 << 20, ' ')};
    for (const std::string& bytes : contents) {
        std::ofstream(closed_cache, std::ios::binary | std::ios::trunc) << bytes;
        const CatalogResult result = load_game_catalog(closed);
        EXPECT_EQ(result.source_text, kCatalogBuiltIn) << bytes.substr(0, 20);
        EXPECT_EQ(test::read_fixture_file(closed_cache), bytes);
    }
    std::filesystem::remove(closed_cache);
    std::filesystem::create_directories(closed_cache);  // a folder in its place
    EXPECT_EQ(load_game_catalog(closed).source_text, kCatalogBuiltIn);

    // A valid cache of the closed origin stands in for it; an empty LOCALAPPDATA means no cache.
    std::filesystem::remove(closed_cache);
    std::ofstream(closed_cache, std::ios::binary) << server_catalog(1).dump();
    EXPECT_EQ(load_game_catalog(closed).source_text, kCatalogFromCache);
    // Locked by another program: unreadable, so the built-in copy.
    HANDLE held =
        CreateFileW(closed_cache.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(load_game_catalog(closed).source_text, kCatalogBuiltIn);
    CloseHandle(held);
    test::ScopedEnv empty(L"LOCALAPPDATA", std::wstring());
    EXPECT_EQ(load_game_catalog(closed).source_text, kCatalogBuiltIn);
    EXPECT_EQ(load_game_catalog(origin).source_text, L"");
}

TEST_F(CatalogRefresh, TwoOriginsTwoFiles) {
    serve(server_catalog(4));
    ASSERT_EQ(load_game_catalog(origin).source_text, L"");
    // The same server under another origin text has a cache of its own.
    const std::wstring other =
        to_wide("https://localhost:" + std::to_string(test::simulator_port()) + "/");
    serve(server_catalog(6));
    ASSERT_EQ(load_game_catalog(other).source_text, L"");
    EXPECT_EQ(json::parse(test::read_fixture_file(cache)), server_catalog(4));
    EXPECT_EQ(json::parse(test::read_fixture_file(game_catalog_cache_path(other))),
              server_catalog(6));
    // A cache of one origin never stands in for another.
    EXPECT_EQ(load_game_catalog(L"https://localhost:1").source_text, kCatalogBuiltIn);
}

TEST_F(CatalogRefresh, JobPostsOneRecordToTheWindow) {
    HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    std::thread job(refresh_game_catalog_job, window, origin);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != kCatalogReadyMessage) {
        DispatchMessageW(&message);
    }
    job.join();
    ASSERT_EQ(message.message, kCatalogReadyMessage);
    EXPECT_EQ(message.hwnd, window);
    std::unique_ptr<CatalogResult> record(reinterpret_cast<CatalogResult*>(message.lParam));
    EXPECT_EQ(record->source_text, L"");
    EXPECT_TRUE(record->catalog.is_object());
    EXPECT_EQ(test::simulator_requests(kPath).size(), 1u);
    DestroyWindow(window);
}

}  // namespace
}  // namespace tarvisko
