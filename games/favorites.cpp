#include "games/favorites.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "engine/common/text.h"
#include "games/local_files.h"
#include "results/report_files.h"

namespace tarvisko {
namespace {

constexpr std::wstring_view kTargetCharacters =
    L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:";

void load_favorites(const std::filesystem::path& path, std::vector<std::wstring>& list) {
    const nlohmann::json stored = read_small_json_file(path);
    if (!stored.is_array()) return;
    for (const nlohmann::json& entry : stored) {
        if (list.size() == kFavoriteTargetCap) break;
        if (entry.is_string()) list.push_back(to_wide(entry.get_ref<const std::string&>()));
    }
}

}  // namespace

std::filesystem::path favorite_targets_path(const std::wstring& origin) {
    return origin_file_path(L"targets-", origin);
}

bool is_valid_favorite_target(std::wstring_view text) {
    return !text.empty() && text.size() <= 253 &&
           text.find_first_not_of(kTargetCharacters) == std::wstring_view::npos;
}

FavoritesOutcome favorite_targets(const std::wstring& origin, bool add,
                                  std::wstring_view field_text, std::vector<std::wstring>& list) {
    const std::filesystem::path path = favorite_targets_path(origin);
    list.clear();
    load_favorites(path, list);
    FavoritesOutcome outcome;
    if (!add) return outcome;

    if (!is_valid_favorite_target(field_text)) return {std::wstring(kFavoriteInvalid), false};
    outcome.message = kFavoriteSaved;
    if (std::find(list.begin(), list.end(), field_text) != list.end()) return outcome;
    if (list.size() >= kFavoriteTargetCap) return {std::wstring(kFavoritesFull), false};

    list.emplace_back(field_text);
    if (path.empty()) throw std::runtime_error("local_app_data_unavailable");
    nlohmann::json stored = nlohmann::json::array();
    for (const std::wstring& entry : list) stored.push_back(to_utf8(entry));
    create_parent_folders(path);
    write_file_atomically(path, stored.dump());
    return outcome;
}

std::vector<std::wstring> favorite_combo_entries(const std::vector<std::wstring>& list) {
    std::vector<std::wstring> entries{std::wstring(kFavoritesHeading)};
    entries.insert(entries.end(), list.begin(), list.end());
    return entries;
}

}  // namespace tarvisko
