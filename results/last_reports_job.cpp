#include "results/last_reports_job.h"

#include <utility>

#include "app/app_state.h"
#include "app/config.h"
#include "results/last_reports.h"

namespace tarvisko {

void load_last_reports_job(HWND window) {
    const LastReportSources sources{
        server_origin, [](const std::wstring& origin) { return token_credential(origin, false); },
        [](const std::wstring& origin, const std::wstring& credential) {
            return std::filesystem::path(data_directory(origin, credential));
        }};
    LastReports loaded = read_last_reports(sources, api_token);
    if (loaded.api_token) api_token = std::move(*loaded.api_token);
    if (loaded.current_report) current_report = std::move(*loaded.current_report);
    for (std::size_t slot = 0; slot < last_results.size(); ++slot) {
        if (loaded.last_results[slot]) last_results[slot] = std::move(*loaded.last_results[slot]);
    }
    if (loaded.error_text) last_error_text = std::move(*loaded.error_text);
    PostMessageW(window, WM_APP + 1, 0, 0);
}

}  // namespace tarvisko
