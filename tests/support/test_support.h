#pragma once
// Helpers shared by the test executables.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

// A window handle, without including windows.h here (winsock2.h must come first where used).
struct HWND__;

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

// The message of the exception the action throws, or "(no error)".
template <typename F>
std::string error_text(F&& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no error)";
}

// A temporary queue directory named by QUORVEL_QUEUE_DIR for the scope of the object.
struct QueueDir {
    TempDir temp;
    ScopedEnv env{L"QUORVEL_QUEUE_DIR", temp.path().wstring()};
    std::filesystem::path lock(const std::string& id) const { return temp.path() / (id + ".lock"); }
};

// `depth` nested empty arrays: nested_arrays(2) is "[[]]". Tests of foreign JSON build documents
// one level under and one level over the depth limit with it.
std::string nested_arrays(std::size_t depth);

// Makes `path` a file holding exactly `bytes`, replacing what it held.
void write_file(const std::filesystem::path& path, const std::string& bytes);

// Makes `path` a file of `size` bytes that begins with `head` and holds zeros after it, without
// writing the zeros (the file system keeps them as a hole): a file of gigabytes costs a test
// nothing.
void make_sized_file(const std::filesystem::path& path, std::uint64_t size,
                     const std::string& head = {});

// The clipboard's text (CF_UNICODETEXT), opened for `owner`; "(clipboard busy)" when another
// window holds it.
std::wstring clipboard_text(::HWND__* owner = nullptr);

// Starts this test executable again with `arguments` (its child modes) and returns its exit
// code: 999 when it cannot start, 997 when it is still running after `wait_ms` (it is then
// terminated).
unsigned long run_self(const std::wstring& arguments, unsigned long wait_ms);

// The top-level window of class `class_name` that the process owns, or null.
::HWND__* window_of_process(unsigned long process_id, const std::wstring& class_name);

// Writes `document` as `name`.json into the folder named by TARVISKO_FIXTURE_DIR, when that
// variable is set: tools/capture-result-fixtures turns reports of real runs into fixtures this
// way. Does nothing otherwise (CI leaves it unset).
void save_fixture(const std::string& name, const nlohmann::json& document);

}  // namespace tarvisko::test
