// The games page and the favourites list in the real main window under the test display, with
// LOCALAPPDATA at a temporary folder: the lists, the target field and its hint, the choice
// table, the catalogue refresh start and the favourites combo.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include "app/game_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "../games/log_fixtures.h"
#include "app/app_state.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/messages.h"
#include "app/page_switcher.h"
#include "app/results_list.h"
#include "app/services.h"
#include "app/window_proc.h"
#include "engine/common/text.h"
#include "games/catalog.h"
#include "games/choice_page.h"
#include "games/favorites.h"
#include "results/view_status.h"
#include "support/test_support.h"
#include "support/window_harness.h"

namespace tarvisko {
namespace {

using nlohmann::json;

constexpr int kRoblox = 12;  // index of "Roblox" in the built-in catalogue

std::vector<std::wstring> combo_items(HWND combo) {
    std::vector<std::wstring> items;
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring text(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)),
                          L'\0');
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        items.push_back(text);
    }
    return items;
}

int selection(HWND combo) { return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0)); }
void select(HWND combo, int index) { SendMessageW(combo, CB_SETCURSEL, index, 0); }

std::wstring text_of(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)), L'\0');
    GetWindowTextW(control, text.data(), static_cast<int>(text.size()) + 1);
    return text;
}
void set_text(HWND control, const std::wstring& text) { SetWindowTextW(control, text.c_str()); }

bool read_only(HWND edit) { return (GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) != 0; }

// The cells of the list view's items, as the user sees them.
std::vector<std::wstring> list_column(HWND list, int column) {
    std::vector<std::wstring> cells;
    const int count = ListView_GetItemCount(list);
    for (int i = 0; i < count; ++i) {
        wchar_t text[512] = {};
        ListView_GetItemText(list, i, column, text, 512);
        cells.emplace_back(text);
    }
    return cells;
}

class GamePage : public ::testing::Test {
  protected:
    void SetUp() override {
        game_catalog = nullptr;
        catalog_source_text.clear();
        catalog_refresh_running = false;
        live_target_page = 0;
        measurement_running = false;
        game_result_shown = false;
        favorite_target_list.clear();
    }
    void TearDown() override {
        stop_and_join(catalog_slot);
        app_services() = saved_services;
        game_catalog = nullptr;
        catalog_source_text.clear();
        catalog_refresh_running = false;
        live_target_page = 0;
        measurement_running = false;
    }

    const MainWindowState& state() const { return main_window_state; }
    HWND profiles() const { return state().target_profile_combo; }
    HWND targets() const { return state().game_server_combo; }
    HWND field() const { return state().target_edit; }
    HWND favorites() const { return state().favorites_combo; }
    const std::wstring& message() const { return state().shown_table.title; }

    void use_builtin_catalog(std::wstring source = std::wstring(kCatalogBuiltIn)) {
        game_catalog = json::parse(builtin_game_catalog_text());
        catalog_source_text = std::move(source);
    }
    const json& builtin_profile(int index) const { return game_catalog["profiles"][index]; }

    test::TempDir local;
    test::ScopedEnv local_env{L"LOCALAPPDATA", local.path().wstring()};
    test::ScopedEnv origin_env{L"QUORVEL_DESKTOP_ORIGIN", std::wstring(L"https://games.test:9443")};
    AppServices saved_services = app_services();
    test::WindowHarness harness;
    HWND window = harness.window();
};

TEST_F(GamePage, BeforeTheFirstCatalogueOnlyTheOwnEntries) {
    set_text(field(), L"left.over");
    SendMessageW(field(), EM_SETREADONLY, TRUE, 0);
    TableModel earlier;
    earlier.title = L"Wcześniejsza tabela";
    earlier.columns = {{L"A", 100}};
    earlier.rows.emplace_back().cells = {L"x"};
    apply_table_model(main_window_state, std::move(earlier));
    game_result_shown = true;

    fill_profile_list(window);
    game_choice_view(window);

    EXPECT_EQ(combo_items(profiles()), std::vector<std::wstring>{L"Własny profil"});
    EXPECT_EQ(selection(profiles()), 0);
    EXPECT_EQ(combo_items(targets()), std::vector<std::wstring>{L"Własny cel"});
    EXPECT_EQ(selection(targets()), 0);
    EXPECT_EQ(text_of(field()), L"");
    EXPECT_FALSE(read_only(field()));
    EXPECT_TRUE(IsWindowEnabled(field()));
    EXPECT_EQ(message(), L"Podaj własny cel dla wybranego profilu.");
    // No profile, so no choice table: the one on show stays, the result state is reset.
    EXPECT_EQ(list_column(state().results_list, 0), std::vector<std::wstring>{L"x"});
    EXPECT_FALSE(game_result_shown);
    EXPECT_EQ(state().report_status_text, L"Brak pomiaru w tym widoku");
}

TEST_F(GamePage, CatalogueRegionsFillTheTargetListAndLockTheField) {
    use_builtin_catalog();
    fill_profile_list(window);
    game_choice_view(window);

    const std::vector<std::wstring> names = combo_items(profiles());
    ASSERT_EQ(names.size(), 19u);
    EXPECT_EQ(names.front(), L"Fortnite");
    EXPECT_EQ(names.back(), L"Własny profil");
    EXPECT_EQ(
        combo_items(targets()),
        (std::vector<std::wstring>{L"Niemcy", L"Francja", L"Wielka Brytania", L"Własny cel"}));
    EXPECT_EQ(selection(targets()), 0);
    const json& fortnite = builtin_profile(0);
    EXPECT_EQ(text_of(field()), to_wide(fortnite["regions"][0]["host"].get<std::string>()));
    EXPECT_TRUE(read_only(field()));
    EXPECT_EQ(message(), target_kind_description("official_diagnostic"));
    EXPECT_EQ(list_column(state().results_list, 0),
              (std::vector<std::wstring>{L"Fortnite", L"Niemcy", L"Francja", L"Wielka Brytania"}));

    // "Własny cel" as the target list's change does it: the field is cleared and unlocked.
    select(targets(), 3);
    game_choice_view(window);
    show_selected_target(window);
    EXPECT_EQ(text_of(field()), L"");
    EXPECT_FALSE(read_only(field()));
    EXPECT_EQ(message(), kCatalogBuiltIn);

    // A region again fills and locks it.
    select(targets(), 1);
    game_choice_view(window);
    show_selected_target(window);
    EXPECT_EQ(text_of(field()), to_wide(fortnite["regions"][1]["host"].get<std::string>()));
    EXPECT_TRUE(read_only(field()));

    // The last profile has no regions: its table says so, the hint names the server's copy.
    catalog_source_text.clear();
    select(profiles(), 18);
    fill_target_list(window);
    game_choice_view(window);
    EXPECT_EQ(combo_items(targets()), std::vector<std::wstring>{L"Własny cel"});
    EXPECT_EQ(
        list_column(state().results_list, 1),
        (std::vector<std::wstring>{L"Brak potwierdzonego procesu", L"Brak zweryfikowanego celu"}));
    EXPECT_EQ(message(), L"Podaj własny cel dla wybranego profilu.");

    // While a measurement runs the field is disabled.
    measurement_running = true;
    show_selected_target(window);
    EXPECT_FALSE(IsWindowEnabled(field()));
    measurement_running = false;
    show_selected_target(window);
    EXPECT_TRUE(IsWindowEnabled(field()));
}

TEST_F(GamePage, FreshRobloxRelayIsPreselectedOnce) {
    const UnixSeconds now = unix_time_now();
    const std::filesystem::path log =
        local.path() / L"Roblox" / L"logs" / L"0.612.0_20260314T180211Z_Player_A1B2C_last.log";
    test::write_fixture_file(log, "2026-03-14T18:02:11.001Z,0.1,1c34,6 [FLog::Output] start\r\n" +
                                      test::udmux_line(now - 600, "128.116.50.27") + "\r\n");
    test::set_last_write(log, now - 600);
    use_builtin_catalog();
    fill_profile_list(window);

    // Chosen twice, as a user who picks the profile again does: one derived region, not two.
    for (int pass = 0; pass < 2; ++pass) {
        select(profiles(), kRoblox);
        fill_target_list(window);
        game_choice_view(window);
    }
    EXPECT_EQ(combo_items(targets()),
              (std::vector<std::wstring>{L"Przekaźnik ostatniej gry Roblox", L"Katalog gier Roblox",
                                         L"Własny cel"}));
    EXPECT_EQ(selection(targets()), 0);
    EXPECT_EQ(text_of(field()), L"128.116.50.27");
    EXPECT_TRUE(read_only(field()));
    EXPECT_EQ(message(), target_kind_description("session_relay"));
    int relays = 0;
    for (const json& region : builtin_profile(kRoblox)["regions"]) {
        relays += region["kind"] == "session_relay";
    }
    EXPECT_EQ(relays, 1);
    // The derived row comes first among the regions; no row asks to join a game.
    EXPECT_EQ(list_column(state().results_list, 0),
              (std::vector<std::wstring>{L"Roblox", L"Przekaźnik ostatniej gry Roblox",
                                         L"Katalog gier Roblox"}));
}

TEST_F(GamePage, LiveTargetRunKeepsThePageAsItIs) {
    use_builtin_catalog();
    fill_profile_list(window);
    game_choice_view(window);
    const std::vector<std::wstring> shown = list_column(state().results_list, 0);
    const std::wstring field_text = text_of(field());

    live_target_page = 6;
    game_result_shown = true;
    select(profiles(), 1);
    game_choice_view(window);
    EXPECT_EQ(list_column(state().results_list, 0), shown);
    EXPECT_EQ(text_of(field()), field_text);
    EXPECT_TRUE(game_result_shown);
}

TEST_F(GamePage, CatalogueRefreshStartsOneJobWithTheOrigin) {
    int calls = 0;
    HWND job_window = nullptr;
    std::wstring job_origin;
    app_services().refresh_game_catalog_job = [&](HWND target, const std::wstring& origin) {
        ++calls;
        job_window = target;
        job_origin = origin;
    };
    start_catalog_refresh(window);
    start_catalog_refresh(window);  // the first is still running: no second job
    stop_and_join(catalog_slot);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(job_window, window);
    EXPECT_EQ(job_origin, L"https://games.test:9443");
    EXPECT_TRUE(catalog_refresh_running);

    // Once a catalogue is active the page never asks again.
    catalog_refresh_running = false;
    use_builtin_catalog();
    start_catalog_refresh(window);
    stop_and_join(catalog_slot);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(catalog_refresh_running);

    // Without the job in the table nothing starts and nothing waits for it.
    game_catalog = nullptr;
    app_services().refresh_game_catalog_job = nullptr;
    start_catalog_refresh(window);
    EXPECT_FALSE(catalog_refresh_running);
    EXPECT_FALSE(catalog_slot.joinable());
}

TEST_F(GamePage, CatalogueRefreshWithoutAThreadTakesItsStartBack) {
    int calls = 0;
    app_services().refresh_game_catalog_job = [&](HWND, const std::wstring&) { ++calls; };
    app_services().start_job_thread = [](JobSlot&, std::function<void(std::stop_token)>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no thread");
    };
    start_catalog_refresh(window);
    // Nothing runs, so nothing may count as running: a close would otherwise wait for ever.
    EXPECT_FALSE(catalog_refresh_running);
    EXPECT_FALSE(catalog_slot.joinable());
    EXPECT_NE(message().find(L"no thread"), std::wstring::npos);

    // The next showing of the page asks again, and with a thread the job runs.
    app_services().start_job_thread = saved_services.start_job_thread;
    start_catalog_refresh(window);
    stop_and_join(catalog_slot);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(catalog_refresh_running);
}

TEST_F(GamePage, FavouritesAddLoadAndRefill) {
    favorite_targets(window, false);
    EXPECT_EQ(combo_items(favorites()), std::vector<std::wstring>{L"Ulubione cele"});
    EXPECT_EQ(selection(favorites()), 0);

    set_text(field(), L"speedtest.example.pl");
    favorite_targets(window, true);
    EXPECT_EQ(message(), kFavoriteSaved);
    EXPECT_EQ(combo_items(favorites()),
              (std::vector<std::wstring>{L"Ulubione cele", L"speedtest.example.pl"}));
    EXPECT_TRUE(std::filesystem::is_regular_file(favorite_targets_path(server_origin())));

    // Loaded anew from the file on the next showing of the page.
    favorite_target_list.clear();
    favorite_targets(window, false);
    EXPECT_EQ(favorite_target_list, std::vector<std::wstring>{L"speedtest.example.pl"});
    EXPECT_EQ(combo_items(favorites()).size(), 2u);

    // A refused text leaves the list as it is: the selection made before stays.
    select(favorites(), 1);
    set_text(field(), L"bad target");
    favorite_targets(window, true);
    EXPECT_EQ(message(), kFavoriteInvalid);
    EXPECT_EQ(selection(favorites()), 1);

    // Another server's favourites are apart.
    {
        test::ScopedEnv other(L"QUORVEL_DESKTOP_ORIGIN", std::wstring(L"https://other.test"));
        favorite_targets(window, false);
        EXPECT_EQ(combo_items(favorites()), std::vector<std::wstring>{L"Ulubione cele"});
    }
}

TEST_F(GamePage, FailedFavouriteWriteReachesTheCaller) {
    // A file where the program's folder should be: the folder cannot be made.
    test::write_fixture_file(local.path() / L"QUORVEL", "not a folder");
    favorite_targets(window, false);
    select(favorites(), 0);
    set_text(field(), L"a.example");
    EXPECT_NE(test::error_text([&] { favorite_targets(window, true); }).find("create_directories"),
              std::string::npos);
    // The entry stays in memory until the next load; the combo is not refilled.
    EXPECT_EQ(favorite_target_list, std::vector<std::wstring>{L"a.example"});
    EXPECT_EQ(combo_items(favorites()), std::vector<std::wstring>{L"Ulubione cele"});
}

// The program's own window procedure: the page switch, the catalogue job against a closed
// loopback port (the built-in copy arrives), the list commands and the save command.
TEST(GamePageInTheProgramWindow, PageCommandsAndTheBuiltInCatalogue) {
    test::TempDir local;
    test::ScopedEnv local_env{L"LOCALAPPDATA", local.path().wstring()};
    test::ScopedEnv origin_env{L"QUORVEL_DESKTOP_ORIGIN", std::wstring(L"https://127.0.0.1:1")};
    const AppServices saved = app_services();
    app_services().load_release_description = nullptr;  // no update check at window creation
    game_catalog = nullptr;
    catalog_source_text.clear();
    live_target_page = 0;
    measurement_running = false;
    {
        test::HarnessOptions options;
        options.procedure = main_window_proc;
        options.class_name = L"TarviskoGamePageProgramWindow";
        test::WindowHarness harness(options);
        HWND window = harness.window();
        MainWindowState& state = main_window_state;
        ASSERT_TRUE(test::WindowHarness::pump_until([] { return !last_report_loading; }));

        show_page(window, 6);
        ASSERT_TRUE(test::WindowHarness::pump_until(
            [] { return game_catalog.is_object() && !catalog_refresh_running; },
            std::chrono::seconds(30)));
        EXPECT_EQ(catalog_source_text, kCatalogBuiltIn);
        EXPECT_EQ(combo_items(state.target_profile_combo).size(), 19u);
        EXPECT_EQ(combo_items(state.game_server_combo).size(), 4u);
        EXPECT_TRUE(read_only(state.target_edit));
        EXPECT_EQ(list_column(state.results_list, 0).front(), L"Fortnite");

        const auto command = [window](int id, int notification) {
            SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, notification), 0);
        };
        // The own profile: only "Własny cel", the field unlocked, the source in the hint.
        select(state.target_profile_combo, 18);
        command(target_profile_combo_id, CBN_SELCHANGE);
        EXPECT_EQ(combo_items(state.game_server_combo), std::vector<std::wstring>{L"Własny cel"});
        EXPECT_FALSE(read_only(state.target_edit));
        EXPECT_EQ(state.shown_table.title, kCatalogBuiltIn);

        // While a target run is live the list commands change nothing.
        live_target_page = 6;
        select(state.target_profile_combo, 0);
        command(target_profile_combo_id, CBN_SELCHANGE);
        EXPECT_EQ(combo_items(state.game_server_combo), std::vector<std::wstring>{L"Własny cel"});
        EXPECT_EQ(list_column(state.results_list, 0).front(), L"Własny profil");
        live_target_page = 0;

        // The route page's favourites: a save that cannot make the folder shows its error.
        show_page(window, 7);
        EXPECT_EQ(combo_items(state.favorites_combo), std::vector<std::wstring>{L"Ulubione cele"});
        test::write_fixture_file(local.path() / L"QUORVEL", "not a folder");
        set_text(state.target_edit, L"a.example");
        command(save_target_button_id, BN_CLICKED);
        EXPECT_NE(state.shown_table.title.find(L"create_directories"), std::wstring::npos);
        std::filesystem::remove(local.path() / L"QUORVEL");
        command(save_target_button_id, BN_CLICKED);
        EXPECT_EQ(state.shown_table.title, kFavoriteSaved);
        EXPECT_EQ(combo_items(state.favorites_combo),
                  (std::vector<std::wstring>{L"Ulubione cele", L"a.example"}));
    }
    stop_and_join_all_jobs();
    session_cancel_flag = false;
    app_services() = saved;
    game_catalog = nullptr;
    catalog_source_text.clear();
}

}  // namespace
}  // namespace tarvisko
