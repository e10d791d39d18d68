#pragma once
// Helpers shared by the test executables.
#include <filesystem>
#include <string>

namespace tarvisko::test {

// A fresh directory under the Windows temporary folder, removed when the object ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Sets an environment variable for the scope of the object and restores the old value.
class ScopedEnv {
public:
    ScopedEnv(const std::wstring& name, const std::wstring* value);
    ScopedEnv(const std::wstring& name, const std::wstring& value) : ScopedEnv(name, &value) {}
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring name_;
    bool had_old_ = false;
    std::wstring old_;
};

}  // namespace tarvisko::test
