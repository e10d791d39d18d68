#pragma once
// The window halves of the games page (6) and of the favourite targets (page 7): the profile and
// target lists, the choice table, the catalogue refresh.
#include <windows.h>

#include <nlohmann/json.hpp>

namespace tarvisko {

void start_catalog_refresh(HWND window);
// The profile of game_catalog chosen in combo 313; a shared null value without a catalogue or a
// valid selection. A game run takes its region from it.
const nlohmann::json& selected_game_profile(HWND window);
void fill_profile_list(HWND window);
void fill_target_list(HWND window);
void show_selected_target(HWND window);
void game_choice_view(HWND window);
// Loads the favourites (and with `add` adds the text of edit 312) and refills combo 326.
void favorite_targets(HWND window, bool add);

}  // namespace tarvisko
