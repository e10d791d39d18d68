// The built-in catalogue, the acceptance test of catalogues and the region helpers.
#include "games/catalog.h"

#include <gtest/gtest.h>

#include <map>

#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;

json region(const std::string& kind) {
    return {{"label", "Europa"}, {"host", "eu.example.net"}, {"method", "icmp"},
            {"kind", kind},      {"verified", "2026-11-25"}, {"source", "operator"}};
}

json catalog_with(json profiles, json revision = 1) {
    return {{"version", 1}, {"revision", revision}, {"profiles", std::move(profiles)}};
}

json one_profile(json regions) {
    return json::array({{{"name", "Gra"},
                         {"processes", json::array({"gra.exe"})},
                         {"regions", std::move(regions)}}});
}

TEST(GameCatalog, BuiltInCopyIsValidAndInOrder) {
    const json builtin = json::parse(builtin_game_catalog_text());
    ASSERT_TRUE(validate_profile_catalog(1, builtin));
    EXPECT_EQ(builtin["revision"], 1);
    const json& profiles = builtin["profiles"];
    const char* names[] = {"Fortnite",
                           "Counter-Strike 2",
                           "Valorant",
                           "League of Legends",
                           "Dota 2",
                           "PUBG: BATTLEGROUNDS",
                           "Call of Duty / Warzone",
                           "EA Sports FC",
                           "Apex Legends",
                           "World of Warcraft",
                           "Overwatch 2",
                           "Rocket League",
                           "Roblox",
                           "Minecraft",
                           "GTA Online",
                           "Steam",
                           "PlayStation Network",
                           "Xbox Network",
                           "Własny profil"};
    ASSERT_EQ(profiles.size(), std::size(names));
    std::map<std::string, int> kinds;
    std::size_t regions = 0;
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        EXPECT_EQ(profiles[i]["name"], names[i]);
        for (const json& r : profiles[i]["regions"]) {
            ++regions;
            ++kinds[r["kind"].get<std::string>()];
            EXPECT_EQ(r.size(), 6u);
            EXPECT_EQ(r["method"], "icmp");
            EXPECT_EQ(r["verified"], "2026-11-25");
            EXPECT_FALSE(r["host"].get<std::string>().empty());
            EXPECT_FALSE(r["source"].get<std::string>().empty());
        }
    }
    EXPECT_EQ(regions, 26u);
    EXPECT_EQ(kinds, (std::map<std::string, int>{{"official_diagnostic", 4},
                                                 {"steam_relay", 6},
                                                 {"game_service", 11},
                                                 {"network_probe", 3},
                                                 {"game_server", 2}}));
    EXPECT_EQ(profiles[1]["regions"][0]["label"], "Warszawa · przekaźnik Steam");
    EXPECT_EQ(profiles[3]["processes"], json::array({"League of Legends.exe"}));
    EXPECT_EQ(profiles[16]["processes"], json::array());
    EXPECT_EQ(profiles[18]["regions"], json::array());

    // The text keeps the catalogue's key order, which the sorted parse above cannot show.
    const nlohmann::ordered_json ordered =
        nlohmann::ordered_json::parse(builtin_game_catalog_text());
    std::vector<std::string> top;
    for (const auto& item : ordered.items()) top.push_back(item.key());
    EXPECT_EQ(top, (std::vector<std::string>{"version", "revision", "profiles"}));
    for (const auto& profile : ordered["profiles"]) {
        for (const auto& r : profile["regions"]) {
            std::vector<std::string> keys;
            for (const auto& item : r.items()) keys.push_back(item.key());
            EXPECT_EQ(keys, (std::vector<std::string>{"label", "host", "method", "kind", "verified",
                                                      "source"}));
        }
    }
    EXPECT_EQ(builtin_game_catalog_text().substr(0, 35),
              "{\n  \"version\": 1,\n  \"revision\": 1,\n");
}

TEST(GameCatalog, Validation) {
    json valid = catalog_with(one_profile(json::array({region("game_service")})));
    auto changed = [&](auto change) {
        json copy = valid;
        change(copy);
        return copy;
    };
    json profiles64 = json::array();
    for (int i = 0; i < 64; ++i) profiles64.push_back(one_profile(json::array())[0]);
    json profiles65 = profiles64;
    profiles65.push_back(profiles64[0]);
    const struct {
        const char* what;
        json document;
        bool accepted;
    } cases[] = {
        {"valid", valid, true},
        {"not an object", json::array({valid}), false},
        {"version 2", changed([](json& c) { c["version"] = 2; }), false},
        {"no version", changed([](json& c) { c.erase("version"); }), false},
        {"version 1.7", changed([](json& c) { c["version"] = 1.7; }), true},
        {"version true", changed([](json& c) { c["version"] = true; }), true},
        {"version text", changed([](json& c) { c["version"] = "1"; }), false},
        {"revision 0", changed([](json& c) { c["revision"] = 0; }), false},
        {"no revision", changed([](json& c) { c.erase("revision"); }), false},
        {"revision 0.9", changed([](json& c) { c["revision"] = 0.9; }), false},
        {"revision 7", changed([](json& c) { c["revision"] = 7; }), true},
        {"revision huge", changed([](json& c) { c["revision"] = 18446744073709551615ull; }), true},
        {"revision -1", changed([](json& c) { c["revision"] = -1; }), false},
        {"revision null", changed([](json& c) { c["revision"] = nullptr; }), false},
        {"64 profiles", catalog_with(profiles64), true},
        {"65 profiles", catalog_with(profiles65), false},
        {"no profiles", catalog_with(json::array()), false},
        {"profiles object", catalog_with(json::object()), false},
        {"profile not object", catalog_with(json::array({"Gra"})), false},
        {"name number", changed([](json& c) { c["profiles"][0]["name"] = 5; }), false},
        {"processes missing", changed([](json& c) { c["profiles"][0].erase("processes"); }), false},
        {"processes with a number", changed([](json& c) {
             c["profiles"][0]["processes"] = {1, "a.exe"};
         }),
         true},
        {"regions text", changed([](json& c) { c["profiles"][0]["regions"] = "Europa"; }), false},
        {"empty processes and regions",
         catalog_with(json::array(
             {{{"name", "Własny"}, {"processes", json::array()}, {"regions", json::array()}}})),
         true},
        {"region not object", changed([](json& c) { c["profiles"][0]["regions"][0] = "Europa"; }),
         false},
        {"region without verified",
         changed([](json& c) { c["profiles"][0]["regions"][0].erase("verified"); }), false},
        {"verified number",
         changed([](json& c) { c["profiles"][0]["regions"][0]["verified"] = 20261125; }), false},
        {"verified boolean",
         changed([](json& c) { c["profiles"][0]["regions"][0]["verified"] = true; }), false},
        {"region without method",
         changed([](json& c) { c["profiles"][0]["regions"][0].erase("method"); }), true},
        {"region without host",
         changed([](json& c) { c["profiles"][0]["regions"][0].erase("host"); }), false},
        {"session_relay",
         catalog_with(one_profile(json::array({region("game_service"), region("session_relay")}))),
         false},
        {"session_server", catalog_with(one_profile(json::array({region("session_server")}))),
         false},
        {"Session_Relay", catalog_with(one_profile(json::array({region("Session_Relay")}))), true},
        {"other keys", changed([](json& c) {
             c["extra"] = {1, 2};
             c["profiles"][0]["regions"][0]["x"] = 1;
         }),
         true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(validate_profile_catalog(1, c.document), c.accepted) << c.what;
}

TEST(GameCatalog, RemoveRegionsOfKind) {
    auto kinds_after = [](std::vector<std::string> kinds, const std::string& removed) {
        RegionList regions;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            json r = region(kinds[i]);
            r["label"] = std::to_string(i);
            regions.push_back(r);
        }
        regions.erase(remove_regions_of_kind(regions.begin(), regions.end(), removed),
                      regions.end());
        std::string labels;
        for (const json& r : regions)
            labels += r["label"].get<std::string>() + r["kind"].get<std::string>() + " ";
        return labels;
    };
    EXPECT_EQ(kinds_after({"steam_relay", "game_service", "steam_relay"}, "steam_relay"),
              "1game_service ");
    EXPECT_EQ(kinds_after({"game_service", "steam_relay", "game_server"}, "steam_relay"),
              "0game_service 2game_server ");
    EXPECT_EQ(kinds_after({}, "steam_relay"), "");
    EXPECT_EQ(kinds_after({"game_service"}, "Game_service"), "0game_service ");

    RegionList mixed = {region("session_relay"), json("text"), json::object()};
    EXPECT_EQ(region_kind(mixed[1]), "");
    EXPECT_EQ(region_kind(mixed[2]), "");
    EXPECT_EQ(find_region_by_kind(mixed.begin(), mixed.end(), "") - mixed.begin(), 1);
    EXPECT_FALSE(has_no_session_relay(mixed));
    EXPECT_TRUE(has_no_session_server(mixed));
}

TEST(GameCatalog, CachePathPerOriginUnderLocalAppData) {
    test::TempDir temp;
    test::ScopedEnv local(L"LOCALAPPDATA", temp.path().wstring());
    const std::filesystem::path a = game_catalog_cache_path(L"https://a.example:8443");
    const std::filesystem::path b = game_catalog_cache_path(L"https://b.example:8443");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.parent_path(), temp.path() / L"QUORVEL" / L"Sondaro");
    EXPECT_EQ(a.filename().wstring().size(), 6 + 64 + 5u);
    EXPECT_EQ(a.filename().wstring().substr(0, 6), L"games-");

    test::ScopedEnv empty(L"LOCALAPPDATA", std::wstring());
    EXPECT_TRUE(game_catalog_cache_path(L"https://a.example:8443").empty());
}

}  // namespace
}  // namespace tarvisko
