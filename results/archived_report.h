#pragma once
// Opening a report chosen in the history or report list: what the window should show for the
// row's session id. The window half (selection, data directory, details window, page switch)
// stays with the shell.
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tarvisko {

struct ArchivedReport {
    enum class Kind { none, full_test, target_run };
    Kind kind = Kind::none;
    std::wstring title;     // full test: the details window's title
    std::wstring text;      // full test: the plain-language text
    int page = 0;           // target run: 6 games, 7 route, 8 monitoring
    nlohmann::json report;  // target run: the report for last_results[page - 6]
};

// The archive named by `session_cell` (the row's "Sesja" cell) in the reports folder. Nothing
// for an id that breaks the id rule, a missing or unreadable file, one above
// report_file_size_cap (never read), a document that is not an object or of no known kind. A
// full-test report is rendered before anything is returned, so a malformed one raises
// "Nie udało się odczytać raportu · " + the JSON library's message and leaves the caller's
// state untouched.
ArchivedReport read_archived_report(const std::filesystem::path& reports_folder,
                                    std::wstring_view session_cell);

}  // namespace tarvisko
