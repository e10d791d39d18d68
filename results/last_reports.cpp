#include "results/last_reports.h"

#include <exception>

#include "engine/common/json_document.h"
#include "engine/common/text.h"
#include "results/report_files.h"

namespace tarvisko {

LastReports read_last_reports(const LastReportSources& sources, const std::wstring& api_token) {
    LastReports loaded;
    try {
        const std::wstring origin = sources.server_origin();
        if (!origin.empty()) loaded.api_token = sources.stored_credential(origin);
        const std::wstring& credential = loaded.api_token ? *loaded.api_token : api_token;
        if (credential.empty()) return loaded;

        const std::filesystem::path folder = sources.data_directory(origin, credential);
        if (const auto text = read_report_file_within_cap(folder / "last-report.json")) {
            loaded.current_report = parse_report_text(*text);
        }
        for (std::size_t slot = 0; slot < result_purposes.size(); ++slot) {
            std::optional<std::string> text;
            try {
                text = read_report_file_within_cap(
                    folder / (std::string("last-") + result_purposes[slot] + ".json"));
            } catch (const ReportFileTooLarge&) {
                continue;  // passed over like any other file that gives no result
            }
            if (!text) continue;
            std::optional<nlohmann::json> result = parse_json_document(*text);
            if (result && result->is_object()) loaded.last_results[slot] = std::move(*result);
        }
    } catch (const std::exception& error) {
        loaded.error_text = to_wide(error.what());
    }
    return loaded;
}

}  // namespace tarvisko
