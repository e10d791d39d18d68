#pragma once
// The game profile catalogue: the copy compiled into the program, the acceptance test of a
// fetched or cached copy, the per-server cache file and the refresh job that picks one of them.
#include <windows.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tarvisko {

// The refresh job posts this with lParam an owning CatalogResult*; the receiver frees it.
constexpr UINT kCatalogReadyMessage = WM_APP + 3;

inline constexpr std::wstring_view kCatalogFromCache = L"Katalog z ostatniego połączenia.";
inline constexpr std::wstring_view kCatalogBuiltIn = L"Katalog dołączony do aplikacji.";

struct CatalogResult {
    nlohmann::json catalog;
    std::wstring
        source_text;  // empty: the server's copy; else kCatalogFromCache or kCatalogBuiltIn
};

// The UTF-8 JSON text of the built-in copy (the "GAME_CATALOG" RCDATA resource of the
// executable). Throws std::logic_error when the executable was linked without it.
std::string_view builtin_game_catalog_text();

// The acceptance test of a catalogue: version 1, revision at least `minimum_revision`, 1 to 64
// profiles of the expected shape, regions with text members and no reserved kind.
bool validate_profile_catalog(std::int64_t minimum_revision, const nlohmann::json& document);

// The cache file of a server origin; empty when LOCALAPPDATA is empty (no cache then).
std::filesystem::path game_catalog_cache_path(const std::wstring& origin);

// Fetches, validates and caches the server's catalogue, else falls back to a valid cached copy,
// else to the built-in one. Runs on the calling thread; never throws for a server or file fault.
CatalogResult load_game_catalog(const std::wstring& origin);

// The refresh job's body: load_game_catalog, then post kCatalogReadyMessage to the window. When
// posting fails (the window is gone) the record is freed here.
void refresh_game_catalog_job(HWND main_window, const std::wstring& origin);

// Region lists of the catalogue. A region's kind is its "kind" text, "" when absent.
using RegionList = nlohmann::json::array_t;
std::string_view region_kind(const nlohmann::json& region);
RegionList::iterator find_region_by_kind(RegionList::iterator first, RegionList::iterator last,
                                         std::string_view kind);
// Moves the regions of any other kind forward, in order; returns the end of the kept run.
RegionList::iterator remove_regions_of_kind(RegionList::iterator first, RegionList::iterator last,
                                            std::string_view kind);
bool has_no_session_relay(const RegionList& regions);
bool has_no_session_server(const RegionList& regions);

}  // namespace tarvisko
