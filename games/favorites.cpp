#include "games/favorites.h"

#include <windows.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>

#include "engine/common/ids.h"
#include "engine/common/json_document.h"
#include "engine/common/text.h"
#include "games/local_files.h"
#include "results/report_files.h"

namespace tarvisko {
namespace {

constexpr std::wstring_view kTargetCharacters =
    L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:";
// Far more than 32 targets of 253 characters ever take.
constexpr std::size_t kFavoritesFileLimit = 1u << 20;

enum class StoredFavorites {
    none,        // no file, or an empty one: nothing to keep
    loaded,      // a JSON array, read
    unreadable,  // content that is no array of ours: set aside before the file is replaced
    unopenable,  // there but not readable (a folder, held by another program): left alone
};

bool file_missing(const std::filesystem::path& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

StoredFavorites load_favorites(const std::filesystem::path& path, std::vector<std::wstring>& list) {
    if (path.empty()) return StoredFavorites::none;
    const std::optional<FilePiece> piece = read_file_head(path, kFavoritesFileLimit);
    if (!piece) return file_missing(path) ? StoredFavorites::none : StoredFavorites::unopenable;
    if (piece->whole_file && piece->bytes.empty()) return StoredFavorites::none;
    const std::optional<nlohmann::json> stored =
        piece->whole_file ? parse_json_document(piece->bytes) : std::nullopt;
    if (!stored || !stored->is_array()) return StoredFavorites::unreadable;
    for (const nlohmann::json& entry : *stored) {
        if (list.size() == kFavoriteTargetCap) break;
        if (!entry.is_string()) continue;
        // An entry that could not have been saved here (a control character, a path, a
        // direction override, 100,000 characters) is no target: it never reaches the list.
        const std::wstring target = to_wide(entry.get_ref<const std::string&>());
        if (is_valid_favorite_target(target)) list.push_back(target);
    }
    return StoredFavorites::loaded;
}

// Moves an unreadable favourites file out of the way under a name of its own, so that the
// new file does not take its place: whatever the user had in it can still be recovered.
void set_aside_unreadable(const std::filesystem::path& path) {
    std::filesystem::path aside = path;
    aside.replace_extension(L".unreadable-" + to_wide(new_uuid_text()) + L".json");
    if (!MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
        throw std::runtime_error("local_file_set_aside_failed");
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
    const StoredFavorites stored = load_favorites(path, list);
    FavoritesOutcome outcome;
    if (!add) return outcome;

    if (!is_valid_favorite_target(field_text)) return {std::wstring(kFavoriteInvalid), false};
    // Writing now would replace a file this program could not even look at.
    if (stored == StoredFavorites::unopenable) return {std::wstring(kFavoritesUnopenable), true};
    outcome.message = kFavoriteSaved;
    if (std::find(list.begin(), list.end(), field_text) != list.end()) return outcome;
    if (list.size() >= kFavoriteTargetCap) return {std::wstring(kFavoritesFull), false};

    list.emplace_back(field_text);
    if (path.empty()) throw std::runtime_error("local_app_data_unavailable");
    nlohmann::json entries = nlohmann::json::array();
    for (const std::wstring& entry : list) entries.push_back(to_utf8(entry));
    create_parent_folders(path);
    if (stored == StoredFavorites::unreadable) {
        set_aside_unreadable(path);
        outcome.message = kFavoriteSavedBesideUnreadable;
    }
    write_file_atomically(path, entries.dump());
    return outcome;
}

std::vector<std::wstring> favorite_combo_entries(const std::vector<std::wstring>& list) {
    std::vector<std::wstring> entries{std::wstring(kFavoritesHeading)};
    entries.insert(entries.end(), list.begin(), list.end());
    return entries;
}

}  // namespace tarvisko
