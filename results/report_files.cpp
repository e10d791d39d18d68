#include "results/report_files.h"

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "engine/common/handle_guard.h"
#include "engine/common/hash.h"
#include "engine/common/json_document.h"
#include "engine/common/text.h"

namespace tarvisko {

namespace {

void close_handle(HANDLE handle) { CloseHandle(handle); }

// Flushes what the stream wrote through a handle of its own: the stream keeps its handle to
// itself, and Windows flushes a file's cached data whichever handle asks.
void flush_to_disk(const std::filesystem::path& file) {
    HandleGuard<HANDLE> handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr),
                               close_handle, INVALID_HANDLE_VALUE);
    if (!handle || !atomic_write_calls().flush(handle.get())) {
        throw std::runtime_error("local_report_write_failed");
    }
}

// The earlier report can be archived under its own id; anything else is set aside as it is.
bool archivable(const nlohmann::json& report) {
    if (!report.is_object()) return false;
    const auto throughput = report.find("throughput");
    if (throughput == report.end() || !throughput->is_object()) return false;
    const auto id = throughput->find("session_id");
    return id != throughput->end() && id->is_string() &&
           is_report_id(id->get_ref<const std::string&>());
}

// The writer's process id when `name` is "<name>.json.<pid>.tmp" as write_file_atomically forms
// it: a non-empty name, a decimal id of 1 to 10 digits without a leading zero, in 32 bits.
std::optional<DWORD> temporary_file_owner(std::wstring_view name) {
    constexpr std::wstring_view suffix = L".tmp";
    constexpr std::wstring_view json = L".json";
    if (!name.ends_with(suffix)) return std::nullopt;
    name.remove_suffix(suffix.size());
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring_view::npos) return std::nullopt;
    const std::wstring_view digits = name.substr(dot + 1);
    if (digits.empty() || digits.size() > 10 || digits.front() == L'0') return std::nullopt;
    unsigned long long id = 0;
    for (const wchar_t c : digits) {
        if (c < L'0' || c > L'9') return std::nullopt;
        id = id * 10 + static_cast<unsigned long long>(c - L'0');
    }
    if (id > 0xFFFFFFFFull) return std::nullopt;
    name = name.substr(0, dot);
    if (!name.ends_with(json) || name.size() == json.size()) return std::nullopt;
    return static_cast<DWORD>(id);
}

}  // namespace

AtomicWriteCalls& atomic_write_calls() {
    static AtomicWriteCalls calls;
    return calls;
}

void write_file_atomically(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::path temporary = path;
    temporary += L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    try {
        std::ofstream out;
        out.exceptions(std::ios::failbit | std::ios::badbit);
        out.open(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        // Without the flush a power loss after the move can leave an empty file under the
        // final name: the rename may reach the disk before the data.
        flush_to_disk(temporary);
        if (!MoveFileExW(temporary.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            throw std::runtime_error("local_report_write_failed");
        }
    } catch (...) {
        DeleteFileW(temporary.c_str());
        throw;
    }
}

bool process_may_run(DWORD process_id) {
    HandleGuard<HANDLE> process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process_id),
        close_handle, nullptr);
    // Windows answers an id that names no process with an invalid parameter; any other refusal
    // (another user's process) means it is there.
    if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void remove_abandoned_temporary_files(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entry(folder, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::optional<DWORD> owner = temporary_file_owner(entry->path().filename().wstring());
        if (!owner) continue;
        std::error_code status_error;
        // symlink_status: a link or junction of that name is not our file, whatever it names.
        const std::filesystem::file_status status = entry->symlink_status(status_error);
        if (status_error || !std::filesystem::is_regular_file(status)) continue;
        if (!process_may_run(*owner)) DeleteFileW(entry->path().c_str());
    }
}

bool is_report_id(std::string_view id) {
    if (id.size() != 36) return false;
    for (const char c : id) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != '-') return false;
    }
    return true;
}

std::filesystem::path report_archive_path(const std::filesystem::path& reports_folder,
                                          std::string_view id) {
    if (!is_report_id(id)) throw std::runtime_error("invalid_local_report_id");
    return reports_folder / (std::string(id) + ".json");
}

void archive_report(const std::filesystem::path& reports_folder, const nlohmann::json& report,
                    const std::string& text) {
    const std::string id = report.at("throughput").at("session_id").get<std::string>();
    const std::filesystem::path target = report_archive_path(reports_folder, id);
    std::error_code error;
    const bool present = std::filesystem::exists(target, error);
    if (error) throw std::filesystem::filesystem_error("exists", target, error);
    // An archive, once written, is never replaced.
    if (!present) write_file_atomically(target, text);
}

void store_report(const std::filesystem::path& data_folder, const nlohmann::json& report) {
    const std::filesystem::path reports_folder = data_folder / "reports";
    const std::filesystem::path last = data_folder / "last-report.json";
    std::error_code error;
    std::filesystem::create_directories(reports_folder, error);
    if (error) throw std::filesystem::filesystem_error("create_directories", reports_folder, error);

    if (const std::optional<std::string> old = read_report_file(last)) {
        const std::optional<nlohmann::json> parsed = parse_json_document(*old);
        if (parsed && archivable(*parsed)) {
            archive_report(reports_folder, *parsed, *old);
        } else {
            // Set aside rather than lost: an earlier report the program cannot file under its
            // id. The same bytes always get the same name.
            const std::wstring name = L"unreadable-" + sha256_hex(to_wide(*old)) + L".json";
            write_file_atomically(reports_folder / name, *old);
        }
    }

    const std::string text = report.dump();
    archive_report(reports_folder, report, text);
    write_file_atomically(last, text);
}

namespace {

// Reads the file whole, or raises ReportFileTooLarge once it holds more than `limit` bytes.
std::optional<std::string> read_file_up_to(const std::filesystem::path& path,
                                           std::uint64_t limit) {
    // Shared for deleting too, so that another instance can still move its new file over this
    // one while it is being read.
    HandleGuard<HANDLE> file(CreateFileW(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                             close_handle, INVALID_HANDLE_VALUE);
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart >= 0) {
        if (static_cast<std::uint64_t>(size.QuadPart) > limit) throw ReportFileTooLarge();
    }
    std::string bytes;
    if (size.QuadPart > 0) bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) {
            throw std::runtime_error("local_report_read_failed");
        }
        if (read == 0) break;
        // A file that grows while it is read is held to the same limit.
        if (bytes.size() + read > limit) throw ReportFileTooLarge();
        bytes.append(buffer, read);
    }
    return bytes;
}

}  // namespace

std::optional<std::string> read_report_file(const std::filesystem::path& path) {
    return read_file_up_to(path, UINT64_MAX);
}

std::optional<std::string> read_report_file_within_cap(const std::filesystem::path& path) {
    return read_file_up_to(path, report_file_size_cap);
}

nlohmann::json parse_report_text(std::string_view text) {
    if (std::optional<nlohmann::json> document = parse_json_document(text)) {
        return std::move(*document);
    }
    // The parser itself is iterative: asking it again only to get its message is safe, and
    // raises it for any syntax error.
    const nlohmann::json reparsed = nlohmann::json::parse(text);
    static_cast<void>(reparsed);
    throw std::runtime_error("invalid_local_report");
}

}  // namespace tarvisko
