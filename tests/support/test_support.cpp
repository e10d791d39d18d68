#include "support/test_support.h"

#include <windows.h>

#include <stdexcept>
#include <vector>

#include "engine/common/ids.h"
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

}  // namespace tarvisko::test
