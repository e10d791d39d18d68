#pragma once
// The report lists of pages 9 and 10, read in the background. A job lists the client's
// "reports" folder and reads only the files that are new or changed since the window last read
// them; the window keeps the rows of every file it has read (keyed by name, size and last-write
// time), shows them at once on a page switch and takes the job's new rows when it ends.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "results/table_model.h"

namespace tarvisko {

// How long a report file is and when it was last written (FILETIME ticks): a file whose stamp
// is unchanged since it was read is not read again.
struct ReportFileStamp {
    std::uint64_t size = 0;
    std::uint64_t write_time = 0;
    bool operator==(const ReportFileStamp&) const = default;
};

// What one report file gives the two lists: its row on page 9 and on page 10, or none when the
// file gives no row (unreadable, not a report, no session id).
struct ReportListEntry {
    ReportFileStamp stamp;
    std::optional<TableRow> history_row;
    std::optional<TableRow> report_row;
};

// The window's copy of the folder as last read (window thread only).
struct ReportListCache {
    std::filesystem::path folder;                     // the folder the entries come from
    std::map<std::wstring, ReportListEntry> entries;  // by file name
    bool reading = false;                             // a job reads the folder now
    std::filesystem::path read_again;  // a switch came meanwhile: the folder it wants
};

// What the job hands back with report_list_ready: the names whose entries the window already
// has, and the entries of the files it read. Files missing from both are gone from the folder.
// A job that failed hands back only its message.
struct ReportListReading {
    std::filesystem::path folder;
    std::vector<std::wstring> unchanged;
    std::map<std::wstring, ReportListEntry> read;
    std::wstring failure;
};

// One row of the report list of page 9 or 10 from one parsed report file; none when the
// document is not an object, lacks a session id or has members of an unexpected type.
std::optional<TableRow> report_list_row(int page, const nlohmann::json& document);

// Lists `folder` and reads the ".json" files whose stamp differs from `known` (by file name),
// each at most report_file_size_cap bytes; a larger file is not read and gives no row, like any
// file that is no readable report (its entry is kept, so it is not tried again while unchanged).
// A file that cannot be opened now is left out, to be tried again at the next reading. A folder
// that cannot be opened gives an empty reading. Gives nothing when `stop` is requested before
// the end.
std::optional<ReportListReading> read_report_list(
    const std::filesystem::path& folder, const std::map<std::wstring, ReportFileStamp>& known,
    std::stop_token stop = {});

// The entries of `reading` that replace the cache: the cache's own entries for the unchanged
// names (when the cache is of the same folder), the new ones for the rest. False when the cache
// holds the same entries as before.
bool merge_report_list(ReportListCache& cache, ReportListReading reading);

// The list of page 9 or 10 from the cache's entries when they are of `folder` (else no rows),
// newest first.
TableModel report_list_table(int page, const ReportListCache& cache,
                             const std::filesystem::path& folder);

// Starts reading `folder` in the background for the page on show; while a reading runs it only
// notes the folder, and the reading's end starts the next one.
void start_report_list_reading(HWND window, const std::filesystem::path& folder);
// The report_list_ready handler: joins the job, takes its rows into the cache and, when page 9
// or 10 shows the list of that folder, shows them.
void take_report_list_reading(HWND window, std::unique_ptr<ReportListReading> reading);

}  // namespace tarvisko
