#include "games/running_games.h"

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <functional>
#include <vector>

#include "engine/common/handle_guard.h"
#include "engine/common/system.h"
#include "engine/common/text.h"

namespace tarvisko {
namespace {

void close_handle(HANDLE handle) { CloseHandle(handle); }

wchar_t ascii_lower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Calls `visit` with each running process until it returns true; false when the snapshot cannot
// be taken or no visit returned true.
bool visit_processes(const std::function<bool(const PROCESSENTRY32W&)>& visit) {
    HandleGuard<HANDLE> snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), close_handle,
                                 INVALID_HANDLE_VALUE);
    if (!snapshot) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (visit(entry)) return true;
    }
    return false;
}

}  // namespace

bool process_name_matches(std::wstring_view process_name, std::wstring_view wanted) {
    if (process_name.size() != wanted.size()) return false;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (ascii_lower(process_name[i]) != ascii_lower(wanted[i])) return false;
    }
    return true;
}

bool find_running_game(const nlohmann::json& processes) {
    if (!processes.is_array() || processes.empty()) return false;
    std::vector<std::wstring> names;
    for (const nlohmann::json& process : processes) {
        if (process.is_string()) names.push_back(to_wide(process.get_ref<const std::string&>()));
    }
    if (names.empty()) return false;
    return visit_processes([&](const PROCESSENTRY32W& entry) {
        for (const std::wstring& name : names) {
            if (process_name_matches(entry.szExeFile, name)) return true;
        }
        return false;
    });
}

std::filesystem::path lol_log_folder() {
    std::filesystem::path folder = read_environment_variable(L"SystemDrive") +
                                   L"\\Riot Games\\League of Legends\\Logs\\GameLogs";
    visit_processes([&](const PROCESSENTRY32W& entry) {
        if (!process_name_matches(entry.szExeFile, L"League of Legends.exe")) return false;
        HandleGuard<HANDLE> process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID),
            close_handle);
        if (!process) return false;
        std::vector<wchar_t> image(32768);
        DWORD size = static_cast<DWORD>(image.size());
        if (QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) {
            // <install>\Game\League of Legends.exe: the logs lie beside the Game folder.
            const std::filesystem::path path(std::wstring(image.data(), size));
            folder = path.parent_path().parent_path() / L"Logs" / L"GameLogs";
        }
        return true;
    });
    return folder;
}

}  // namespace tarvisko
