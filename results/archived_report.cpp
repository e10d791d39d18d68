#include "results/archived_report.h"

#include <exception>
#include <optional>
#include <stdexcept>

#include "engine/common/json_document.h"
#include "engine/common/text.h"
#include "results/format.h"
#include "results/report_files.h"
#include "results/session_summary.h"

namespace tarvisko {

namespace {

// The cell as an id, when it is one: 36 ASCII characters of the id rule.
std::optional<std::string> cell_report_id(std::wstring_view cell) {
    std::string id;
    for (const wchar_t c : cell) {
        if (c > 0x7F) return std::nullopt;
        id.push_back(static_cast<char>(c));
    }
    if (!is_report_id(id)) return std::nullopt;
    return id;
}

int target_run_page(const nlohmann::json& measurement) {
    const std::string purpose = json_string_or_empty(json_member_or_null(measurement, "purpose"));
    if (purpose == "gaming") return 6;
    if (purpose == "monitor") return 8;
    return 7;
}

}  // namespace

ArchivedReport read_archived_report(const std::filesystem::path& reports_folder,
                                    std::wstring_view session_cell) {
    ArchivedReport opened;
    const std::optional<std::string> id = cell_report_id(session_cell);
    if (!id) return opened;
    std::optional<std::string> text;
    try {
        text = read_report_file_within_cap(report_archive_path(reports_folder, *id));
    } catch (const std::runtime_error&) {
        return opened;  // unreadable or too large: nothing to open
    }
    if (!text) return opened;
    std::optional<nlohmann::json> report = parse_json_document(*text);
    if (!report || !report->is_object()) return opened;

    if (report->contains("throughput")) {
        try {
            opened.text = to_wide(render_session_summary(*report));
        } catch (const nlohmann::json::exception& error) {
            throw std::runtime_error(std::string("Nie udało się odczytać raportu · ") +
                                     error.what());
        }
        opened.kind = ArchivedReport::Kind::full_test;
        opened.title = L"Archiwalny raport z pomiaru";
        return opened;
    }
    const nlohmann::json& measurement = json_member_or_null(*report, "measurement");
    if (!measurement.is_object()) return opened;
    opened.kind = ArchivedReport::Kind::target_run;
    opened.page = target_run_page(measurement);
    opened.report = std::move(*report);
    return opened;
}

}  // namespace tarvisko
