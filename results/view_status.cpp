#include "results/view_status.h"

#include <algorithm>

#include "engine/common/text.h"
#include "results/format.h"
#include "results/hop_table.h"
#include "results/icmp_table.h"

namespace tarvisko {

namespace {

std::string member_text(const nlohmann::json& object, std::string_view name) {
    return json_string_or_empty(json_member_or_null(object, name));
}

std::wstring state_text(const nlohmann::json& state) {
    if (json_text_equals(state, "completed")) return L"Zakończono";
    if (json_text_equals(state, "cancelled")) return L"Zatrzymano";
    return L"Pomiar częściowy";
}

std::wstring empty_view_title(int view) {
    if (view == 7) return L"Podaj cel i uruchom pomiar trasy.";
    if (view == 8) return L"Podaj cel i wybierz czas obserwacji.";
    return L"Wybierz grę i cel pomiaru lub wpisz własny adres.";
}

void add_plain_row(TableModel& model, std::wstring label, std::wstring value, std::wstring detail) {
    TableRow row;
    row.cells = {std::move(label), std::move(value), std::wstring()};
    row.detail = std::move(detail);
    model.rows.push_back(std::move(row));
}

}  // namespace

const nlohmann::json& view_result_slot(int view, std::span<const nlohmann::json, 3> last_results,
                                       const nlohmann::json& last_diagnostics_report) {
    static const nlohmann::json none;
    if (view < 6 || view > 8) return none;
    const nlohmann::json& slot = last_results[static_cast<std::size_t>(view - 6)];
    if (view == 7 && !slot.is_object()) return last_diagnostics_report;
    return slot;
}

std::string report_session_id(const nlohmann::json& report) {
    return member_text(report, "session_id");
}

bool is_route_report(int view, const nlohmann::json& report) {
    if (view == 7) return true;
    return json_text_equals(
        json_member_or_null(json_member_or_null(report, "measurement"), "technique"), "trace");
}

std::wstring target_kind_description(std::string_view kind) {
    if (kind == "game_server") {
        return L"Adres, pod którym można dołączyć do gry. Test mierzy czas odpowiedzi ICMP.";
    }
    if (kind == "steam_relay") return L"Przekaźnik Steam. Pomiar obejmuje drogę do przekaźnika.";
    if (kind == "session_server") {
        return L"Serwer meczu, z którym League of Legends połączyło się na tym komputerze w "
               L"ostatnich 24 godzinach.";
    }
    if (kind == "session_relay") {
        return L"Przekaźnik użyty przez Roblox na tym komputerze w ostatnich 24 godzinach.";
    }
    if (kind == "game_service") {
        return L"Usługa wskazana w profilu. Ping podczas rozgrywki może być inny.";
    }
    if (kind == "network_probe") {
        return L"Punkt pomiarowy w sieci dostawcy. Wynik dotyczy drogi do tego punktu.";
    }
    return L"Regionalny adres diagnostyczny wskazany przez wydawcę.";
}

TableModel measurement_view_status(int view, const nlohmann::json& report,
                                   const SessionResponderNames& held_names) {
    const bool route = is_route_report(view, report);
    const nlohmann::json& samples = json_member_or_null(report, "mtr_samples");
    TableModel table;
    if (route) {
        const std::string session = report_session_id(report);
        static const ResponderNameMap no_names;
        const bool own_names = !session.empty() && session == held_names.session_id;
        table = build_mtr_hop_table(samples, own_names ? held_names.names : no_names);
    } else {
        table = build_icmp_latency_table(samples);
    }

    if (report.is_object() && report.contains("state")) {
        const std::wstring state = state_text(report["state"]);
        const nlohmann::json& measurement = json_member_or_null(report, "measurement");
        const std::wstring target = to_wide(member_text(measurement, "target_name"));
        if (route && !table.rows.empty()) {
            table.title += L" · " + state;
        } else {
            table.title = target.empty() ? state : target + L" · " + state;
        }
        if (view == 6 && !route && !table.rows.empty()) {
            const std::string profile = member_text(measurement, "profile_name");
            if (!profile.empty()) {
                add_plain_row(table, L"Profil gry", to_wide(profile),
                              L"Profil wybrany przed pomiarem.");
            }
            const std::string region = member_text(measurement, "region");
            if (!region.empty()) {
                add_plain_row(table, L"Region lub cel", to_wide(region),
                              target_kind_description(member_text(measurement, "target_kind")));
            }
        }
    } else if (table.rows.empty()) {
        table.title = empty_view_title(view);
    }
    return table;
}

std::wstring selected_row_text(const TableModel& model, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= model.rows.size()) return {};
    const TableRow& row = model.rows[static_cast<std::size_t>(index)];
    std::wstring text;
    const std::size_t count = std::min(model.columns.size(), row.cells.size());
    for (std::size_t i = 0; i < count; ++i) {
        text += model.columns[i].name + L"\t" + row.cells[i] + L"\r\n";
    }
    if (!row.detail.empty()) text += L"\r\n" + row.detail;
    return text;
}

}  // namespace tarvisko
