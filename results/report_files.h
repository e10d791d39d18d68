#pragma once
// The report files of the data directory: the atomic write every window-side file goes through,
// the archive of reports under their session id, and the storing of a full test's report.
//
//   last-report.json                 the latest full-test report
//   last-<purpose>.json              the latest target run of "gaming", "mtr" or "monitor"
//   reports\<id>.json                one archived report per session id
//   reports\unreadable-<sha>.json    the bytes of an earlier last-report.json that could not be
//                                    archived, named by the SHA-256 of its UTF-16LE form
//   <any of these>.<pid>.tmp         a file being written
//
// Files are compact UTF-8 JSON without a byte-order mark or trailing newline.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvisko {

// The calls the atomic write makes that a test cannot make fail with real files. They default
// to the real ones.
struct AtomicWriteCalls {
    decltype(&FlushFileBuffers) flush = FlushFileBuffers;
};
AtomicWriteCalls& atomic_write_calls();

// Writes the bytes to "<path>.<process id>.tmp", flushes them to the disk and moves the file over
// `path` (replacing it, write-through): readers see the old or the new file, never a part, also
// after a crash or a power loss. A failure to create, write or close the temporary file raises
// std::ios_base::failure; a failed flush or move "local_report_write_failed". On any failure the
// temporary file is deleted and `path` is left as it was.
void write_file_atomically(const std::filesystem::path& path, std::string_view bytes);

// A process with this id runs now, or may: only an id that names no process, or one that has
// ended, gives false.
bool process_may_run(DWORD process_id);

// Deletes the temporary files that write_file_atomically leaves in `folder` (not below it) when
// its process is killed between writing and moving: regular files named "<name>.json.<pid>.tmp"
// whose process no longer runs. Anything else, and the files of running processes, stay. Never
// throws.
void remove_abandoned_temporary_files(const std::filesystem::path& folder);

// Exactly 36 characters, each a hexadecimal digit (either case) or '-'; where the hyphens stand
// plays no part. Such an id can name a file in the reports folder and nothing else.
bool is_report_id(std::string_view id);
// reports_folder \ (id + ".json"); raises "invalid_local_report_id" for an id that breaks the
// rule. The target-run job names its archive files through this too.
std::filesystem::path report_archive_path(const std::filesystem::path& reports_folder,
                                          std::string_view id);

// Writes `text` (the serialised `report`) as the archive file of its "throughput"."session_id",
// unless that file (or a folder, or a link) already exists. A missing or non-text id raises the
// JSON library's error, an invalid one "invalid_local_report_id", a failed existence test the
// file-system error of "exists".
void archive_report(const std::filesystem::path& reports_folder, const nlohmann::json& report,
                    const std::string& text);

// After each full test, on the job's thread: archives the earlier last-report.json (or sets its
// bytes aside as an "unreadable-" file when it cannot be archived), archives the new report and
// makes it the last one. Throws on the first failure; what was written before stays.
void store_report(const std::filesystem::path& data_folder, const nlohmann::json& report);

// The whole content of a file; nothing when it cannot be opened (missing, a folder, locked).
// Raises "local_report_read_failed" when a read fails after the file was opened.
std::optional<std::string> read_report_file(const std::filesystem::path& path);

// The largest report file the window reads back (the last reports at start-up, the report lists,
// an archived report it opens). The program's own reports stay far below it; a larger file in
// the folder is someone else's, and reading it whole would hold the window and its memory.
inline constexpr std::uint64_t report_file_size_cap = 64ull * 1024 * 1024;

// A report file larger than report_file_size_cap: it was not read.
class ReportFileTooLarge : public std::runtime_error {
  public:
    ReportFileTooLarge() : std::runtime_error("local_report_too_large") {}
};

// read_report_file for the readers that take any file they find in the data directory: a file
// larger than report_file_size_cap (also one that grows past it while it is read) raises
// ReportFileTooLarge without being read into memory.
std::optional<std::string> read_report_file_within_cap(const std::filesystem::path& path);

// A file read back as JSON of bounded depth, raising the parser's own message for a syntax
// error and "invalid_local_report" for a document nested too deep or holding a NUL byte.
nlohmann::json parse_report_text(std::string_view text);

}  // namespace tarvisko
