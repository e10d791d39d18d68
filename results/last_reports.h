#pragma once
// What the window shows again when it opens: the last full-test report and the last target run
// of each purpose, read from the data directory of the current origin and client credential.
#include <array>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace tarvisko {

// The purposes of the target-run slots, in slot order.
inline constexpr std::array<const char*, 3> result_purposes{"gaming", "mtr", "monitor"};

// Where the reading finds the origin, its stored credential and its data directory. The shell
// passes its configuration functions; tests pass their own.
struct LastReportSources {
    std::function<std::wstring()> server_origin;
    // The credential stored for the origin, or empty; never creates one.
    std::function<std::wstring(const std::wstring& origin)> stored_credential;
    std::function<std::filesystem::path(const std::wstring& origin, const std::wstring& credential)>
        data_directory;
};

// What to put into which part of the application state; an absent member leaves it as it is.
struct LastReports {
    std::optional<std::wstring> api_token;         // read when the origin is not empty
    std::optional<nlohmann::json> current_report;  // last-report.json, whatever its JSON type
    std::array<std::optional<nlohmann::json>, 3> last_results;  // objects only, by slot
    std::optional<std::wstring> error_text;  // the failure that ended the reading
};

// Reads nothing without a credential (`api_token` is the one held so far, kept when the origin
// is empty). A syntax error of last-report.json, one above report_file_size_cap
// ("local_report_too_large"), an unavailable data directory or a failing credential store ends
// the reading with its message; a target-run file that is unparseable, not an object or above
// the cap is passed over silently.
LastReports read_last_reports(const LastReportSources& sources, const std::wstring& api_token);

}  // namespace tarvisko
