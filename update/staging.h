#pragma once
// Download and staging of an update, and the hand-over to the update runner.
//
// install_update fetches and verifies the release again, then stages it in a private folder of
// its own under the staging root: "release.json" (the description as downloaded), "candidate.bin"
// (the new executable) and "runner.exe" (a byte-exact copy of the running program). It starts
// that copy with "--finish-update <pid>" and meets it through two named events tied to the
// folder's name: the runner sets the ready event once it has checked everything it needs; the
// application answers with the apply event, returns, and the shell closes the window, after which
// the runner replaces the executable. Staging folders that outlive their runner are removed by
// sweep_update_staging at the next start.
#include <filesystem>
#include <string>
#include <string_view>

#include "update/release.h"

namespace tarvisko {

// Stages `shown` (the release the user chose after the check) and hands over to the runner.
// Returns once the runner has confirmed readiness and has been told to apply; throws otherwise,
// leaving no staging folder behind.
void install_update(const ReleaseInfo& shown, const std::wstring& origin);

// Local application data / "QUORVEL-Portable-Updates"; throws "Brak katalogu profilu Windows.".
std::filesystem::path update_staging_root();
// "Local\QUORVEL-Update-" + the folder's own name: the ready event; the apply event adds "-apply".
std::wstring update_event_name(const std::filesystem::path& folder);
// Whether a folder name is a GUID in braces, as staging folders are named.
bool is_staging_folder_name(std::wstring_view name);
// Creates the folder with full control for the system account and the current user only;
// refuses an elevated process ("Otwórz aplikację jako zwykły użytkownik, aby ją zaktualizować.").
void create_private_folder(const std::filesystem::path& path);
// Deletes the three staged files and the folder, ignoring failures; leaves a reparse point alone.
void remove_update_staging(const std::filesystem::path& folder) noexcept;
// Removes abandoned staging folders; called before any window exists. Never throws.
void sweep_update_staging() noexcept;

// The whole file, 1 to `limit` bytes.
std::string read_file_limited(const std::filesystem::path& path, std::uintmax_t limit);
// Creates or truncates the file and writes the bytes.
void write_staged_file(const std::filesystem::path& path, std::string_view bytes);
// The full path of the running executable.
std::filesystem::path own_module_path();

}  // namespace tarvisko
