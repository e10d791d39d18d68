#include "games/choice_page.h"

#include "engine/common/system.h"
#include "engine/common/text.h"
#include "games/catalog.h"
#include "games/running_games.h"
#include "results/format.h"
#include "results/view_status.h"

namespace tarvisko {
namespace {

constexpr std::string_view kRoblox = "Roblox";
constexpr std::string_view kLeague = "League of Legends";

// A text member as it stands, "" when absent or not a text.
std::string text_member(const nlohmann::json& object, std::string_view name) {
    return json_string_or_empty(json_member_or_null(object, name));
}

std::wstring wide_member(const nlohmann::json& object, std::string_view name) {
    return to_wide(text_member(object, name));
}

const nlohmann::json& regions_of(const nlohmann::json& profile) {
    return json_member_or_null(profile, "regions");
}

std::optional<LogHit> roblox_hit(UnixSeconds now) {
    const std::wstring local = read_environment_variable(L"LOCALAPPDATA");
    if (local.empty()) return std::nullopt;
    return find_player_log_server(std::filesystem::path(local) / L"Roblox" / L"logs", now);
}

TableRow choice_row(std::wstring first, std::wstring second, std::wstring detail) {
    TableRow row;
    row.cells = {std::move(first), std::move(second)};
    row.detail = std::move(detail);
    return row;
}

}  // namespace

std::vector<std::wstring> profile_list_entries(const nlohmann::json& catalog) {
    std::vector<std::wstring> entries;
    const nlohmann::json& profiles = json_member_or_null(catalog, "profiles");
    if (profiles.is_array()) {
        for (const nlohmann::json& profile : profiles) {
            if (profile.is_object()) entries.push_back(wide_member(profile, "name"));
        }
    }
    if (entries.empty()) entries.emplace_back(kOwnProfile);
    return entries;
}

const nlohmann::json& selected_game_profile(const nlohmann::json& catalog, int selection) {
    static const nlohmann::json kNone;
    const nlohmann::json& profiles = json_member_or_null(catalog, "profiles");
    if (!profiles.is_array() || selection < 0 ||
        static_cast<std::size_t>(selection) >= profiles.size()) {
        return kNone;
    }
    return profiles[static_cast<std::size_t>(selection)];
}

nlohmann::json derived_region(std::string_view kind, const LogHit& hit) {
    const bool relay = kind == "session_relay";
    nlohmann::json region = nlohmann::json::object();
    region["label"] = relay ? "Przekaźnik ostatniej gry Roblox" : "Serwer ostatniego meczu LoL";
    region["host"] = hit.address;
    region["method"] = "icmp";
    region["kind"] = kind;
    region["verified"] = hit.time_text;
    region["source"] = "dziennik gry na tym komputerze";
    return region;
}

void refresh_derived_target(nlohmann::json& catalog, int profile_selection, UnixSeconds now) {
    if (!catalog.is_object() || selected_game_profile(catalog, profile_selection).is_null()) return;
    nlohmann::json& profile = catalog["profiles"][static_cast<std::size_t>(profile_selection)];
    const std::string name = text_member(profile, "name");
    if ((name != kRoblox && name != kLeague) || !profile.is_object() ||
        !profile.contains("regions")) {
        return;
    }
    nlohmann::json& regions = profile["regions"];
    if (!regions.is_array()) return;
    const bool roblox = name == kRoblox;
    const std::string_view kind = roblox ? "session_relay" : "session_server";
    auto& list = regions.get_ref<RegionList&>();
    list.erase(remove_regions_of_kind(list.begin(), list.end(), kind), list.end());
    const std::optional<LogHit> hit =
        roblox ? roblox_hit(now) : find_r3dlog_server(lol_log_folder(), now);
    if (hit) list.insert(list.begin(), derived_region(kind, *hit));
}

std::vector<std::wstring> target_list_entries(const nlohmann::json& profile) {
    std::vector<std::wstring> entries;
    const nlohmann::json& regions = regions_of(profile);
    if (regions.is_array()) {
        for (const nlohmann::json& region : regions)
            entries.push_back(wide_member(region, "label"));
    }
    entries.emplace_back(kOwnTarget);
    return entries;
}

TargetFieldView selected_target_view(const nlohmann::json& profile, int target_selection,
                                     const std::wstring& catalog_source_text) {
    const nlohmann::json& regions = regions_of(profile);
    if (regions.is_array() && target_selection >= 0 &&
        static_cast<std::size_t>(target_selection) < regions.size()) {
        const nlohmann::json& region = regions[static_cast<std::size_t>(target_selection)];
        return {wide_member(region, "host"), true,
                target_kind_description(text_member(region, "kind"))};
    }
    return {L"", false,
            catalog_source_text.empty() ? L"Podaj własny cel dla wybranego profilu."
                                        : catalog_source_text};
}

std::optional<TableModel> game_choice_table(const nlohmann::json& profile) {
    if (!profile.is_object()) return std::nullopt;
    TableModel table;
    table.title = L"Wybierz grę i cel pomiaru.";
    table.kind = 0;
    table.columns = {{L"Profil", 200}, {L"Status lub cel", 400}};
    const std::string name = text_member(profile, "name");
    table.rows.push_back(choice_row(
        to_wide(name),
        find_running_game(json_member_or_null(profile, "processes"))
            ? L"Rozpoznano uruchomiony proces"
            : L"Brak potwierdzonego procesu",
        L"Dopasowanie nazwy procesu w Windows. Aktywny serwer meczu pozostaje nieustalony."));

    static const RegionList kNoRegions;
    const nlohmann::json& regions = regions_of(profile);
    const RegionList& list = regions.is_array() ? regions.get_ref<const RegionList&>() : kNoRegions;
    for (const nlohmann::json& region : list) {
        table.rows.push_back(choice_row(wide_member(region, "label"), wide_member(region, "host"),
                                        target_kind_description(text_member(region, "kind")) +
                                            L" Weryfikacja " + wide_member(region, "verified") +
                                            L" · " + wide_member(region, "source")));
    }
    if (name == kRoblox && has_no_session_relay(list)) {
        table.rows.push_back(
            choice_row(L"Ostatnia gra", L"Brak świeżego adresu przekaźnika",
                       L"Po dołączeniu do gry w aplikacji Roblox na Windows wybierz profil "
                       L"ponownie. Adres jest "
                       L"dostępny przez 24 godziny, jeśli Roblox zapisze go w swoim dzienniku."));
    }
    if (name == kLeague && has_no_session_server(list)) {
        table.rows.push_back(choice_row(
            L"Ostatni mecz", L"Brak świeżego adresu meczu",
            L"Po dołączeniu do meczu wybierz profil ponownie. Przy instalacji poza domyślnym "
            L"katalogiem pozostaw grę uruchomioną."));
    }
    if (table.rows.size() == 1) {
        table.rows.push_back(
            choice_row(L"Host regionalny", L"Brak zweryfikowanego celu",
                       L"Możesz podać pojedynczy adres otrzymany od operatora gry."));
    }
    return table;
}

std::optional<GameRunRegion> game_run_region(const nlohmann::json& profile, int target_selection) {
    const nlohmann::json& regions = regions_of(profile);
    if (!regions.is_array() || target_selection < 0 ||
        static_cast<std::size_t>(target_selection) >= regions.size()) {
        return std::nullopt;
    }
    const nlohmann::json& region = regions[static_cast<std::size_t>(target_selection)];
    const nlohmann::json& kind = json_member_or_null(region, "kind");
    return GameRunRegion{text_member(region, "label"), kind.is_string()
                                                           ? kind.get<std::string>()
                                                           : std::string("official_diagnostic")};
}

}  // namespace tarvisko
