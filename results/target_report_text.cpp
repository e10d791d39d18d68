#include "results/target_report_text.h"

#include "engine/common/text.h"

namespace tarvisko {

namespace {

using nlohmann::json;

// A text member, empty when absent; a member of another type, or an owner that is no object,
// raises the library's type error.
std::wstring text_member(const json& object, const char* name) {
    return to_wide(object.value(name, std::string()));
}

}  // namespace

std::wstring target_report_text(const json& report, const TableModel& status, bool technical) {
    const json& measurement = report.at("measurement");
    std::wstring text = text_member(measurement, "profile_name") + L" · " +
                        text_member(measurement, "target_name") + L"\r\n";
    text += status.title + L"\r\n";
    text += report.value("synchronized", false) ? L"Zapisano w panelu\r\n" : L"Zapis lokalny\r\n";
    const json& targets = measurement.value("targets", json());
    if (targets.is_array()) {
        for (const json& target : targets) {
            if (!target.is_string()) continue;
            text += L"Adres IP użyty w teście · " + to_wide(target.get_ref<const std::string&>()) +
                    L"\r\n";
        }
    }
    text += L"Rozpoczęcie UTC · " + text_member(report, "started_at");
    text += L"\r\nZakończenie UTC · " + text_member(report, "ended_at") + L"\r\n\r\n";
    if (technical) {
        text += to_wide(report.dump(2, ' ', false, json::error_handler_t::strict));
        return text;
    }
    for (const TableRow& row : status.rows) {
        if (row.cells.size() >= 2) text += row.cells[0] + L"   " + row.cells[1] + L"\r\n";
        text += row.detail + L"\r\n\r\n";
    }
    return text;
}

}  // namespace tarvisko
