#include "update/update_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "engine/common/text.h"
#include "update/staging.h"
#include "update/update_common.h"
#include "update/update_system.h"

namespace tarvisko::test {
namespace {

constexpr auto file_rename_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

HRESULT WINAPI test_known_folder(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path) {
    *path = nullptr;
    const std::wstring folder = update_test_seams().local_app_data.wstring();
    if (folder.empty()) return E_FAIL;
    const std::size_t bytes = (folder.size() + 1) * sizeof(wchar_t);
    *path = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
    std::memcpy(*path, folder.c_str(), bytes);
    return S_OK;
}

BOOL WINAPI test_token_information(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data,
                                   DWORD size, PDWORD length) {
    const BOOL read = GetTokenInformation(token, kind, data, size, length);
    if (read && kind == TokenElevation) {
        static_cast<TOKEN_ELEVATION*>(data)->TokenIsElevated = update_test_seams().elevated;
    }
    return read;
}

BOOL WINAPI test_create_process(LPCWSTR application, LPWSTR command_line,
                                LPSECURITY_ATTRIBUTES process_attributes,
                                LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit, DWORD flags,
                                LPVOID environment, LPCWSTR folder, LPSTARTUPINFOW startup,
                                LPPROCESS_INFORMATION started) {
    const bool kill = update_test_seams().kill_runner_at_start;
    if (!CreateProcessW(application, command_line, process_attributes, thread_attributes, inherit,
                        flags | (kill ? CREATE_SUSPENDED : 0), environment, folder, startup,
                        started)) {
        return FALSE;
    }
    if (kill) {
        TerminateProcess(started->hProcess, 9);
        WaitForSingleObject(started->hProcess, INFINITE);
    }
    return TRUE;
}

DWORD WINAPI test_wait_for_objects(DWORD count, const HANDLE* handles, BOOL all,
                                   DWORD milliseconds) {
    update_test_seams().runner_wait_limit = milliseconds;
    const DWORD result = WaitForMultipleObjects(count, handles, all, INFINITE);
    update_test_seams().runner_wait_result = result;
    return result;
}

// "<folder>\<name>:Zone.Identifier" becomes "<trace>\zone-<name>".
HANDLE WINAPI test_zone_stream(LPCWSTR path, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE template_file) {
    if (update_test_seams().refuse_zone_stream) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring text(path);
    const std::wstring suffix = L":Zone.Identifier";
    if (text.size() <= suffix.size() ||
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    text.resize(text.size() - suffix.size());
    const std::filesystem::path copy =
        zone_stream_copy(update_test_seams().trace, std::filesystem::path(text).filename());
    return CreateFileW(copy.c_str(), access, share, security, disposition, flags, template_file);
}

// Wine knows FileRenameInfo only: the replace flag maps onto ReplaceIfExists. (POSIX semantics,
// the other flag, only matter to readers holding the old file open, which no test does.)
BOOL WINAPI test_set_file_information(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID data,
                                      DWORD size) {
    if (kind != file_rename_info_ex) return SetFileInformationByHandle(file, kind, data, size);
    auto* rename = static_cast<FILE_RENAME_INFO*>(data);
    update_test_seams().last_rename_flags = rename->Flags;
    if (update_test_seams().refuse_rename) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::vector<std::uint8_t> copy(static_cast<std::uint8_t*>(data),
                                   static_cast<std::uint8_t*>(data) + size);
    auto* plain = reinterpret_cast<FILE_RENAME_INFO*>(copy.data());
    const bool replace = (rename->Flags & FILE_RENAME_FLAG_REPLACE_IF_EXISTS) != 0;
    plain->Flags = 0;
    plain->ReplaceIfExists = replace ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileRenameInfo, plain, size);
}

HINSTANCE WINAPI test_shell_execute(HWND window, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                    LPCWSTR folder, INT show) {
    if (update_test_seams().refuse_restart) return reinterpret_cast<HINSTANCE>(2);
    return ShellExecuteW(window, verb, file, parameters, folder, show);
}

int WINAPI test_message_box(HWND, LPCWSTR text, LPCWSTR title, UINT) {
    append_trace_file(update_test_seams().trace / L"messages.txt",
                      to_utf8(title) + "\n" + to_utf8(text));
    return IDOK;
}

std::wstring environment(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

}  // namespace

UpdateTestSeams& update_test_seams() {
    static UpdateTestSeams seams;
    return seams;
}

void use_update_test_seams() {
    UpdateSystem& calls = update_system();
    calls.release_certificate = update_test_seams().certificate.c_str();
    calls.known_folder_path = test_known_folder;
    calls.token_information = test_token_information;
    calls.create_process = test_create_process;
    calls.create_zone_stream = test_zone_stream;
    calls.set_file_information = test_set_file_information;
    calls.shell_execute = test_shell_execute;
    calls.message_box = test_message_box;
    calls.wait_for_objects = test_wait_for_objects;
}

void use_update_test_seams_from_environment() {
    UpdateTestSeams& seams = update_test_seams();
    seams.certificate = to_utf8(environment(L"TARVISKO_UPDATE_CERT"));
    seams.local_app_data = environment(L"TARVISKO_UPDATE_APPDATA");
    seams.trace = environment(L"TARVISKO_UPDATE_TRACE");
    seams.refuse_restart = environment(L"TARVISKO_UPDATE_REFUSE_RESTART") == L"1";
    use_update_test_seams();
}

std::filesystem::path zone_stream_copy(const std::filesystem::path& trace,
                                       const std::wstring& temp_file_name) {
    return trace / (L"zone-" + temp_file_name);
}

std::string read_trace_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void append_trace_file(const std::filesystem::path& path, const std::string& line) {
    std::ofstream file(path, std::ios::binary | std::ios::app);
    file << line << "\n";
}

std::filesystem::path beside_test(const std::wstring& name) {
    return own_module_path().parent_path() / name;
}

std::string file_bytes(const std::filesystem::path& path) { return read_trace_file(path); }

std::vector<std::wstring> folder_names(const std::filesystem::path& folder) {
    std::vector<std::wstring> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void age_by_days(const std::filesystem::path& path, int days) {
    const HANDLE handle = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("age_by_days: cannot open");
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{};
    time.LowPart = now.dwLowDateTime;
    time.HighPart = now.dwHighDateTime;
    time.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 3600 * 10000000;
    const FILETIME then{time.LowPart, time.HighPart};
    const BOOL set = SetFileTime(handle, nullptr, nullptr, &then);
    CloseHandle(handle);
    if (!set) throw std::runtime_error("age_by_days: cannot set the time");
}

std::wstring new_guid_text() { return update_detail::new_guid_text(); }

std::filesystem::path wine_path(const std::string& unix_path) {
    std::wstring path = L"Z:" + to_wide(unix_path);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

}  // namespace tarvisko::test
