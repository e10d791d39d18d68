// Running game clients found by process name, with real processes under the clients' names.
#include "games/running_games.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "games/catalog.h"
#include "games/choice_page.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

TEST(RunningGames, NameRule) {
    const struct {
        const wchar_t* process;
        const wchar_t* wanted;
        bool match;
    } cases[] = {
        {L"cs2.exe", L"cs2.exe", true},
        {L"CS2.EXE", L"cs2.exe", true},
        {L"Cs2.Exe", L"CS2.exe", true},
        {L"cs2.exe2", L"cs2.exe", false},
        {L"cs2.ex", L"cs2.exe", false},
        {L"xcs2.exe", L"cs2.exe", false},
        {L"ĄB.exe", L"ąb.exe", false},
        {L"ąb.exe", L"ąb.exe", true},
        {L"", L"", true},
        {L"a b.exe", L"a_b.exe", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(process_name_matches(c.process, c.wanted), c.match)
            << c.process << " / " << c.wanted;
    }
    EXPECT_FALSE(find_running_game(nlohmann::json::array()));
    EXPECT_FALSE(find_running_game(nullptr));
    EXPECT_FALSE(find_running_game(nlohmann::json::array({1, nullptr, nlohmann::json::object()})));
}

// A process that waits under the given file name, ended when the object goes.
class StandInGame {
  public:
    explicit StandInGame(const std::filesystem::path& image) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::filesystem::create_directories(image.parent_path());
        std::filesystem::copy_file(
            std::filesystem::path(self).parent_path() / L"games_stand_in_process.exe", image);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" + image.wstring() + L"\"";
        if (!CreateProcessW(image.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process_)) {
            throw std::runtime_error("CreateProcessW");
        }
    }
    ~StandInGame() {
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, 5000);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    StandInGame(const StandInGame&) = delete;
    StandInGame& operator=(const StandInGame&) = delete;

  private:
    PROCESS_INFORMATION process_{};
};

// Waits until a process of the name shows in the snapshot.
bool appears(const char* name) {
    for (int i = 0; i < 100; ++i) {
        if (find_running_game(nlohmann::json::array({name}))) return true;
        Sleep(50);
    }
    return false;
}

TEST(RunningGames, LeagueClientGivesItsLogFolder) {
    test::TempDir temp;
    const std::wstring drive = temp.path().wstring();
    test::ScopedEnv system_drive(L"SystemDrive", drive);
    EXPECT_EQ(lol_log_folder(),
              std::filesystem::path(drive + L"\\Riot Games\\League of Legends\\Logs\\GameLogs"));

    StandInGame client(temp.path() / L"LoL" / L"Game" / L"League of Legends.exe");
    ASSERT_TRUE(appears("league of legends.EXE"));
    EXPECT_EQ(lol_log_folder(), temp.path() / L"LoL" / L"Logs" / L"GameLogs");
}

TEST(RunningGames, CapitalisedClientMatchesTheProfile) {
    test::TempDir temp;
    const nlohmann::json builtin = nlohmann::json::parse(builtin_game_catalog_text());
    const nlohmann::json& counter_strike = builtin["profiles"][1];
    ASSERT_EQ(counter_strike["processes"], nlohmann::json::array({"cs2.exe"}));
    EXPECT_EQ(game_choice_table(counter_strike)->rows[0].cells[1], L"Brak potwierdzonego procesu");

    StandInGame game(temp.path() / L"CS2.EXE");
    ASSERT_TRUE(appears("cs2.exe"));
    EXPECT_EQ(game_choice_table(counter_strike)->rows[0].cells[1],
              L"Rozpoznano uruchomiony proces");
    EXPECT_FALSE(find_running_game(nlohmann::json::array({"cs2.ex", 7})));
}

}  // namespace
}  // namespace tarvisko
