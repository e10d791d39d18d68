#pragma once
// The user's favourite measurement targets, kept per server origin in a small JSON array file.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvisko {

inline constexpr std::size_t kFavoriteTargetCap = 32;
inline constexpr std::wstring_view kFavoritesHeading = L"Ulubione cele";
inline constexpr std::wstring_view kFavoriteSaved = L"Cel zapisany w ulubionych na tym komputerze.";
inline constexpr std::wstring_view kFavoriteInvalid = L"Podaj poprawny adres celu.";
inline constexpr std::wstring_view kFavoritesFull = L"Zapisano już 32 cele.";
inline constexpr std::wstring_view kFavoriteSavedBesideUnreadable =
    L"Cel zapisany w ulubionych na tym komputerze. Poprzedniego pliku ulubionych nie dało się "
    L"odczytać: zachowano go obok jako kopię z „unreadable” w nazwie.";
inline constexpr std::wstring_view kFavoritesUnopenable =
    L"Nie można odczytać pliku ulubionych. Cel nie został zapisany.";

// The favourites file of a server origin; empty when LOCALAPPDATA is empty.
std::filesystem::path favorite_targets_path(const std::wstring& origin);

// 1 to 253 characters, each an ASCII letter, a digit, ".", "-" or ":".
bool is_valid_favorite_target(std::wstring_view text);

// What the window shows after favorite_targets.
struct FavoritesOutcome {
    std::wstring message;  // for the page's message line; empty: leave it as it is
    bool refill = true;    // refill the favourites list with favorite_combo_entries
};

// Loads the origin's favourites into `list` (at most 32 texts that keep the target rule; other
// entries are skipped) and, with `add`, adds `field_text` and saves the file. A file whose
// content cannot be read as an array (broken, over 1 MiB, another encoding) is moved aside to
// "<name>.unreadable-<uuid>.json" before the new file is written, and the message says so; a
// file that cannot be opened at all is not replaced. `list` is the window's
// favorite_target_list: on a failed write the added entry stays in it while the exception
// ("create_directories", "local_file_set_aside_failed", "local_report_write_failed", or
// "local_app_data_unavailable" without LOCALAPPDATA) reaches the caller, and the earlier content
// stays in the file or in its set-aside copy.
FavoritesOutcome favorite_targets(const std::wstring& origin, bool add,
                                  std::wstring_view field_text, std::vector<std::wstring>& list);

// "Ulubione cele" followed by the favourites, in order.
std::vector<std::wstring> favorite_combo_entries(const std::vector<std::wstring>& list);

}  // namespace tarvisko
