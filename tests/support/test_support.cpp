#include "support/test_support.h"

#include <windows.h>

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

}  // namespace tarvisko::test
