#include "support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <vector>

#include "engine/common/ids.h"
#include "engine/common/system.h"
#include "engine/common/text.h"

namespace tarvisko::test {

TempDir::TempDir() {
    path_ = std::filesystem::temp_directory_path() / ("tarvisko-test-" + new_uuid_text());
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(const std::wstring& name, const std::wstring* value) : name_(name) {
    const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size > 0) {
        std::vector<wchar_t> buffer(size);
        const DWORD read = GetEnvironmentVariableW(name.c_str(), buffer.data(), size);
        had_old_ = true;
        old_.assign(buffer.data(), read);
    }
    SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
}

ScopedEnv::~ScopedEnv() {
    SetEnvironmentVariableW(name_.c_str(), had_old_ ? old_.c_str() : nullptr);
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void make_sized_file(const std::filesystem::path& path, std::uint64_t size,
                     const std::string& head) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("make_sized_file: create failed");
    DWORD written = 0;
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    const bool done =
        (head.empty() ||
         WriteFile(file, head.data(), static_cast<DWORD>(head.size()), &written, nullptr)) &&
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    if (!done) throw std::runtime_error("make_sized_file: sizing failed");
}

std::string nested_arrays(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

void save_fixture(const std::string& name, const nlohmann::json& document) {
    const std::wstring folder = read_environment_variable(L"TARVISKO_FIXTURE_DIR");
    if (folder.empty()) return;
    const std::filesystem::path path = std::filesystem::path(folder) / (name + ".json");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << document.dump();
    if (!out.flush()) throw std::runtime_error("fixture not written: " + path.string());
}

std::wstring clipboard_text(HWND owner) {
    std::wstring text;
    if (!OpenClipboard(owner)) return L"(clipboard busy)";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

unsigned long run_self(const std::wstring& arguments, unsigned long wait_ms) {
    std::vector<wchar_t> path(32768);
    GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::wstring command = L"\"" + std::wstring(path.data()) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW " << GetLastError();
        return 999;
    }
    DWORD code = 998;
    if (WaitForSingleObject(process.hProcess, wait_ms) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 997);
        code = 997;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

HWND window_of_process(unsigned long process_id, const std::wstring& class_name) {
    struct Search {
        DWORD process_id;
        const std::wstring* class_name;
        HWND found;
    } search{process_id, &class_name, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            wchar_t name[256]{};
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s.process_id && GetClassNameW(window, name, 256) &&
                name == *s.class_name) {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace tarvisko::test
