#include "games/catalog.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>

#include "engine/http/portal.h"
#include "games/local_files.h"
#include "results/report_files.h"

namespace tarvisko {
namespace {

// "version" and "revision" by their whole part: a missing member is 0, a fraction counts by its
// integer part, a boolean as 0 or 1; any other type is no number at all.
std::optional<double> whole_number_member(const nlohmann::json& document, const char* key) {
    const auto member = document.find(key);
    if (member == document.end()) return 0.0;
    if (member->is_boolean()) return member->get<bool>() ? 1.0 : 0.0;
    if (member->is_number()) return std::trunc(member->get<double>());
    return std::nullopt;
}

bool is_reserved_kind(std::string_view kind) {
    return kind == "session_relay" || kind == "session_server";
}

bool valid_region(const nlohmann::json& region) {
    if (!region.is_object()) return false;
    for (const char* key : {"host", "label", "kind", "verified", "source"}) {
        const auto member = region.find(key);
        if (member == region.end() || !member->is_string()) return false;
    }
    return !is_reserved_kind(region["kind"].get_ref<const std::string&>());
}

bool valid_profile(const nlohmann::json& profile) {
    if (!profile.is_object()) return false;
    const auto name = profile.find("name");
    const auto processes = profile.find("processes");
    const auto regions = profile.find("regions");
    if (name == profile.end() || !name->is_string()) return false;
    if (processes == profile.end() || !processes->is_array()) return false;
    if (regions == profile.end() || !regions->is_array()) return false;
    return std::all_of(regions->begin(), regions->end(), valid_region);
}

std::int64_t builtin_revision(const nlohmann::json& builtin) {
    return builtin.at("revision").get<std::int64_t>();
}

void write_cache(const std::wstring& origin, const nlohmann::json& catalog) {
    const std::filesystem::path path = game_catalog_cache_path(origin);
    if (path.empty()) return;
    create_parent_folders(path);
    write_file_atomically(path, catalog.dump());
}

}  // namespace

std::string_view builtin_game_catalog_text() {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, L"GAME_CATALOG", RT_RCDATA);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (data == nullptr) throw std::logic_error("built-in game catalogue resource missing");
    return {static_cast<const char*>(data), SizeofResource(module, resource)};
}

bool validate_profile_catalog(std::int64_t minimum_revision, const nlohmann::json& document) {
    if (!document.is_object()) return false;
    const std::optional<double> version = whole_number_member(document, "version");
    if (!version || *version != 1.0) return false;
    const std::optional<double> revision = whole_number_member(document, "revision");
    if (!revision || *revision < static_cast<double>(minimum_revision)) return false;
    const auto profiles = document.find("profiles");
    if (profiles == document.end() || !profiles->is_array() || profiles->empty() ||
        profiles->size() > 64) {
        return false;
    }
    return std::all_of(profiles->begin(), profiles->end(), valid_profile);
}

std::filesystem::path game_catalog_cache_path(const std::wstring& origin) {
    return origin_file_path(L"games-", origin);
}

CatalogResult load_game_catalog(const std::wstring& origin) {
    CatalogResult result;
    nlohmann::json builtin = nlohmann::json::parse(builtin_game_catalog_text());
    const std::int64_t minimum_revision = builtin_revision(builtin);
    try {
        nlohmann::json fetched = fetch_game_catalog(origin);
        if (!validate_profile_catalog(minimum_revision, fetched)) {
            throw std::runtime_error("older_catalog");
        }
        result.catalog = std::move(fetched);
        try {
            write_cache(origin, result.catalog);
        } catch (const std::exception&) {
            // The cache only helps a later run; the fetched catalogue stands without it.
        }
        return result;
    } catch (const std::exception&) {
        // Any fault of the server or of its reply: fall back without telling the user why.
    }
    result.catalog = std::move(builtin);
    result.source_text = kCatalogBuiltIn;
    try {
        nlohmann::json cached = read_small_json_file(game_catalog_cache_path(origin));
        if (validate_profile_catalog(minimum_revision, cached)) {
            result.catalog = std::move(cached);
            result.source_text = kCatalogFromCache;
        }
    } catch (const std::exception&) {
        // An unreadable cache leaves the built-in copy.
    }
    return result;
}

void refresh_game_catalog_job(HWND main_window, const std::wstring& origin) {
    auto record = std::make_unique<CatalogResult>();
    try {
        *record = load_game_catalog(origin);
    } catch (const std::exception&) {
        // Only a program without its built-in catalogue gets here: the window receives a null
        // catalogue and asks again the next time the page is shown.
    }
    if (PostMessageW(main_window, kCatalogReadyMessage, 0,
                     reinterpret_cast<LPARAM>(record.get()))) {
        record.release();
    }
}

std::string_view region_kind(const nlohmann::json& region) {
    if (!region.is_object()) return {};
    const auto kind = region.find("kind");
    if (kind == region.end() || !kind->is_string()) return {};
    return kind->get_ref<const std::string&>();
}

RegionList::iterator find_region_by_kind(RegionList::iterator first, RegionList::iterator last,
                                         std::string_view kind) {
    return std::find_if(
        first, last, [kind](const nlohmann::json& region) { return region_kind(region) == kind; });
}

RegionList::iterator remove_regions_of_kind(RegionList::iterator first, RegionList::iterator last,
                                            std::string_view kind) {
    first = find_region_by_kind(first, last, kind);
    if (first == last) return last;
    for (auto next = std::next(first); next != last; ++next) {
        if (region_kind(*next) != kind) *first++ = std::move(*next);
    }
    return first;
}

bool has_no_session_relay(const RegionList& regions) {
    return std::none_of(regions.begin(), regions.end(),
                        [](const nlohmann::json& r) { return region_kind(r) == "session_relay"; });
}

bool has_no_session_server(const RegionList& regions) {
    return std::none_of(regions.begin(), regions.end(),
                        [](const nlohmann::json& r) { return region_kind(r) == "session_server"; });
}

}  // namespace tarvisko
