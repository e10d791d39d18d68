// The games page's models over the built-in catalogue, with game logs in temporary folders.
#include "games/choice_page.h"

#include <gtest/gtest.h>

#include "engine/common/text.h"
#include "games/catalog.h"
#include "log_fixtures.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;

constexpr int kLeague = 3;
constexpr int kRoblox = 12;
constexpr int kOwn = 18;
const UnixSeconds kNow = unix_time_now();

class ChoicePage : public ::testing::Test {
  protected:
    std::filesystem::path roblox_logs() const { return local.path() / L"Roblox" / L"logs"; }
    std::filesystem::path league_logs() const {
        return drive.path() / L"Riot Games" / L"League of Legends" / L"Logs" / L"GameLogs";
    }
    void write_relay(const std::string& address, UnixSeconds at) {
        const std::filesystem::path log =
            roblox_logs() / L"0.612.0_20260314T180211Z_Player_A1B2C_last.log";
        test::write_fixture_file(log,
                                 "2026-03-14T18:02:11.001Z,0.1,1c34,6 [FLog::Output] start\r\n" +
                                     test::udmux_line(at, address) + "\r\n");
        test::set_last_write(log, at);
    }

    test::TempDir local;
    test::TempDir drive;
    test::ScopedEnv local_env{L"LOCALAPPDATA", local.path().wstring()};
    test::ScopedEnv drive_env{L"SystemDrive", drive.path().wstring()};
    json catalog = json::parse(builtin_game_catalog_text());
};

TEST_F(ChoicePage, ListsWithoutACatalogue) {
    EXPECT_EQ(profile_list_entries(nullptr), std::vector<std::wstring>{L"Własny profil"});
    EXPECT_EQ(profile_list_entries(json{{"profiles", json::array({1, "x"})}}),
              std::vector<std::wstring>{L"Własny profil"});
    EXPECT_TRUE(selected_game_profile(nullptr, 0).is_null());
    EXPECT_TRUE(selected_game_profile(catalog, -1).is_null());
    EXPECT_TRUE(selected_game_profile(catalog, 19).is_null());
    EXPECT_EQ(target_list_entries(nullptr), std::vector<std::wstring>{L"Własny cel"});
    EXPECT_FALSE(game_choice_table(nullptr));

    const TargetFieldView own = selected_target_view(nullptr, 0, L"");
    EXPECT_EQ(own.text, L"");
    EXPECT_FALSE(own.read_only);
    EXPECT_EQ(own.hint, L"Podaj własny cel dla wybranego profilu.");
    EXPECT_EQ(selected_target_view(nullptr, 0, std::wstring(kCatalogBuiltIn)).hint,
              kCatalogBuiltIn);
}

TEST_F(ChoicePage, BuiltInCatalogueLists) {
    const std::vector<std::wstring> profiles = profile_list_entries(catalog);
    ASSERT_EQ(profiles.size(), 19u);
    EXPECT_EQ(profiles.front(), L"Fortnite");
    EXPECT_EQ(profiles.back(), L"Własny profil");
    EXPECT_EQ(
        target_list_entries(selected_game_profile(catalog, 0)),
        (std::vector<std::wstring>{L"Niemcy", L"Francja", L"Wielka Brytania", L"Własny cel"}));

    // A catalogue region fills the field read-only; "Własny cel" clears it and unlocks it.
    const json& steam = selected_game_profile(catalog, 1);
    const TargetFieldView region = selected_target_view(steam, 0, L"");
    EXPECT_EQ(region.text, to_wide(steam["regions"][0]["host"].get<std::string>()));
    EXPECT_TRUE(region.read_only);
    EXPECT_EQ(region.hint, L"Przekaźnik Steam. Pomiar obejmuje drogę do przekaźnika.");
    const TargetFieldView own = selected_target_view(steam, 3, std::wstring(kCatalogFromCache));
    EXPECT_EQ(own.text, L"");
    EXPECT_FALSE(own.read_only);
    EXPECT_EQ(own.hint, kCatalogFromCache);

    ASSERT_TRUE(game_run_region(steam, 2));
    EXPECT_EQ(game_run_region(steam, 2)->label, "Wiedeń · przekaźnik Steam");
    EXPECT_EQ(game_run_region(steam, 2)->kind, "steam_relay");
    EXPECT_FALSE(game_run_region(steam, 3));
    EXPECT_EQ(game_run_region(json{{"regions", json::array({{{"label", "X"}}})}}, 0)->kind,
              "official_diagnostic");
}

TEST_F(ChoicePage, OwnProfileTable) {
    const std::optional<TableModel> table = game_choice_table(selected_game_profile(catalog, kOwn));
    ASSERT_TRUE(table);
    EXPECT_EQ(table->title, L"Wybierz grę i cel pomiaru.");
    EXPECT_EQ(table->kind, 0);
    EXPECT_EQ(table->columns,
              (std::vector<TableColumn>{{L"Profil", 200}, {L"Status lub cel", 400}}));
    ASSERT_EQ(table->rows.size(), 2u);
    EXPECT_EQ(table->rows[0].cells,
              (std::vector<std::wstring>{L"Własny profil", L"Brak potwierdzonego procesu"}));
    EXPECT_EQ(table->rows[0].detail,
              L"Dopasowanie nazwy procesu w Windows. Aktywny serwer meczu pozostaje nieustalony.");
    EXPECT_EQ(table->rows[1].cells,
              (std::vector<std::wstring>{L"Host regionalny", L"Brak zweryfikowanego celu"}));
    EXPECT_TRUE(table->rows[1].status.empty());
    EXPECT_TRUE(table->rows[1].chart.empty());
    EXPECT_EQ(target_list_entries(selected_game_profile(catalog, kOwn)),
              std::vector<std::wstring>{L"Własny cel"});
}

TEST_F(ChoicePage, FreshRobloxRelayIsPreselectedOnce) {
    write_relay("128.116.50.27", kNow - 600);
    refresh_derived_target(catalog, kRoblox, kNow);
    refresh_derived_target(catalog, kRoblox, kNow);  // the profile chosen twice
    const json& roblox = selected_game_profile(catalog, kRoblox);
    ASSERT_EQ(roblox["regions"].size(), 2u);
    const json& derived = roblox["regions"][0];
    EXPECT_EQ(derived,
              json::parse(R"({"label":"Przekaźnik ostatniej gry Roblox","host":"128.116.50.27",
        "method":"icmp","kind":"session_relay","verified":")" +
                          test::roblox_stamp(kNow - 600) +
                          R"(","source":"dziennik gry na tym komputerze"})"));
    EXPECT_EQ(target_list_entries(roblox).front(), L"Przekaźnik ostatniej gry Roblox");
    const TargetFieldView field = selected_target_view(roblox, 0, L"");
    EXPECT_EQ(field.text, L"128.116.50.27");
    EXPECT_TRUE(field.read_only);
    EXPECT_EQ(field.hint,
              L"Przekaźnik użyty przez Roblox na tym komputerze w ostatnich 24 godzinach.");

    const std::optional<TableModel> table = game_choice_table(roblox);
    ASSERT_EQ(table->rows.size(), 3u);
    EXPECT_EQ(table->rows[1].cells,
              (std::vector<std::wstring>{L"Przekaźnik ostatniej gry Roblox", L"128.116.50.27"}));
    EXPECT_EQ(
        table->rows[1].detail,
        L"Przekaźnik użyty przez Roblox na tym komputerze w ostatnich 24 godzinach. Weryfikacja " +
            to_wide(test::roblox_stamp(kNow - 600)) + L" · dziennik gry na tym komputerze");
    EXPECT_EQ(table->rows[2].cells[0], L"Katalog gier Roblox");

    // A day later the relay is stale: the derived target goes, the "Ostatnia gra" row comes.
    refresh_derived_target(catalog, kRoblox, kNow + 86400);
    EXPECT_EQ(roblox["regions"].size(), 1u);
    EXPECT_EQ(game_choice_table(roblox)->rows.back().cells,
              (std::vector<std::wstring>{L"Ostatnia gra", L"Brak świeżego adresu przekaźnika"}));
}

TEST_F(ChoicePage, RobloxWithoutLocalAppDataHasNoDerivedTarget) {
    write_relay("128.116.50.27", kNow - 600);
    test::ScopedEnv empty(L"LOCALAPPDATA", std::wstring());
    refresh_derived_target(catalog, kRoblox, kNow);
    EXPECT_EQ(selected_game_profile(catalog, kRoblox)["regions"].size(), 1u);
}

TEST_F(ChoicePage, LeagueOfLegendsMatchServer) {
    refresh_derived_target(catalog, kLeague, kNow);
    const json& league = selected_game_profile(catalog, kLeague);
    ASSERT_EQ(league["regions"].size(), 2u);
    EXPECT_EQ(game_choice_table(league)->rows.back().cells,
              (std::vector<std::wstring>{L"Ostatni mecz", L"Brak świeżego adresu meczu"}));

    const test::Session session = test::session_near(kNow - 1200);
    test::write_session(league_logs(), session, test::r3dlog_text("162.249.72.5"));
    refresh_derived_target(catalog, kLeague, kNow);
    ASSERT_EQ(league["regions"].size(), 3u);
    EXPECT_EQ(league["regions"][0]["label"], "Serwer ostatniego meczu LoL");
    EXPECT_EQ(league["regions"][0]["kind"], "session_server");
    EXPECT_EQ(league["regions"][0]["verified"], session.utc_text);
    const std::optional<TableModel> table = game_choice_table(league);
    EXPECT_EQ(table->rows.size(), 4u);
    EXPECT_EQ(table->rows.back().cells[0], L"EU Północ i Wschód · API League of Legends");
    EXPECT_EQ(game_run_region(league, 0)->kind, "session_server");
}

TEST_F(ChoicePage, OtherProfilesAreLeftAlone) {
    const json before = catalog;
    write_relay("128.116.50.27", kNow - 600);
    for (int i = 0; i < 19; ++i) {
        if (i != kRoblox && i != kLeague) refresh_derived_target(catalog, i, kNow);
    }
    refresh_derived_target(catalog, 40, kNow);
    EXPECT_EQ(catalog, before);
    json renamed = catalog;
    renamed["profiles"][0]["name"] = "roblox";
    refresh_derived_target(renamed, 0, kNow);
    EXPECT_EQ(renamed["profiles"][0]["regions"].size(), 3u);
}

}  // namespace
}  // namespace tarvisko
