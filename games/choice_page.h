#pragma once
// The games page's models: the profile and target lists, the targets derived from game logs,
// the target field and hint of the selected target, the choice table and the region a game run
// records. The window fills its controls from these; nothing here touches a window.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "games/log_scanners.h"
#include "results/table_model.h"

namespace tarvisko {

inline constexpr std::wstring_view kOwnProfile = L"Własny profil";
inline constexpr std::wstring_view kOwnTarget = L"Własny cel";

// The profile list: each object profile's "name", or "Własny profil" alone when there is none.
std::vector<std::wstring> profile_list_entries(const nlohmann::json& catalog);

// The profile at the profile list's selection; a shared null value when there is no catalogue,
// no selection (-1) or the selection lies beyond the profiles.
const nlohmann::json& selected_game_profile(const nlohmann::json& catalog, int selection);

// The region a game client's log gives, as the target list's first entry.
nlohmann::json derived_region(std::string_view kind, const LogHit& hit);

// For the selected profile "Roblox" or "League of Legends" of the active catalogue: drops its
// derived region and inserts a fresh one first when the game's logs give a hit now. Other
// profiles are left alone.
void refresh_derived_target(nlohmann::json& catalog, int profile_selection, UnixSeconds now);

// The target list: each region's "label", then "Własny cel".
std::vector<std::wstring> target_list_entries(const nlohmann::json& profile);

// The target field and hint line for the target list's selection.
struct TargetFieldView {
    std::wstring text;
    bool read_only = false;
    std::wstring hint;
};
TargetFieldView selected_target_view(const nlohmann::json& profile, int target_selection,
                                     const std::wstring& catalog_source_text);

// The choice table of a profile; nothing when the profile is not an object. Looks for the
// game's running process.
std::optional<TableModel> game_choice_table(const nlohmann::json& profile);

// What a game run records of the selected catalogue region: its label and its kind
// ("official_diagnostic" when absent); nothing for "Własny cel".
struct GameRunRegion {
    std::string label;
    std::string kind;
};
std::optional<GameRunRegion> game_run_region(const nlohmann::json& profile, int target_selection);

}  // namespace tarvisko
