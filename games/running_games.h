#pragma once
// Running game clients, recognised by the executable file names of their processes.
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string_view>

namespace tarvisko {

// The whole file name, with A to Z matched regardless of case and every other character exact.
bool process_name_matches(std::wstring_view process_name, std::wstring_view wanted);

// Whether a process named by one of the text elements of `processes` runs now; false when the
// process snapshot cannot be taken or the list is empty or not an array.
bool find_running_game(const nlohmann::json& processes);

// The League of Legends game-log folder: beside the running client's "Game" folder
// (<install>\Logs\GameLogs), else %SystemDrive%\Riot Games\League of Legends\Logs\GameLogs.
std::filesystem::path lol_log_folder();

}  // namespace tarvisko
