#pragma once
// Test support of the self-update: its seams (update/update_system.h) pointed at test state, for
// the test executables, the fixture programs they start and the benchmark, and file helpers. Under
// Wine they also stand in for what Wine lacks: every process reads as elevated, a
// ":Zone.Identifier" stream becomes a plain file whose name holds the colon, and FileRenameInfoEx
// is refused with ERROR_INVALID_PARAMETER.
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tarvisko::test {

struct UpdateTestSeams {
    std::string certificate;               // base64 DER; the release key of the simulator
    std::filesystem::path local_app_data;  // the known folder; empty: it is unavailable
    std::filesystem::path trace;           // message boxes and zone streams are written here
    bool elevated = false;                 // what TokenElevation reads
    bool refuse_zone_stream = false;       // the volume has no alternate streams
    bool refuse_rename = false;            // the folder forbids the rename
    bool kill_runner_at_start = false;     // the runner is killed as soon as it is created
    bool refuse_restart = false;           // ShellExecuteW fails to start the new version
    unsigned long last_rename_flags = 0;   // the flags the last FileRenameInfoEx asked for
    // The last wait for the runner: the limit asked for, and what ended it (the wait itself has
    // no limit here: a runner that ends or confirms ends it, a hung one the test's time-out).
    unsigned long runner_wait_limit = 0;
    unsigned long runner_wait_result = WAIT_FAILED;
};

// The state the seams read; change it freely between calls.
UpdateTestSeams& update_test_seams();
// Installs the seams over update_system() (once per process).
void use_update_test_seams();
// Installs the seams and fills their state from the environment that a test hands down to the
// programs it starts: TARVISKO_UPDATE_CERT, TARVISKO_UPDATE_APPDATA, TARVISKO_UPDATE_TRACE and
// TARVISKO_UPDATE_REFUSE_RESTART.
void use_update_test_seams_from_environment();

// The zone stream written for a temporary file, as the seam stored it.
std::filesystem::path zone_stream_copy(const std::filesystem::path& trace,
                                       const std::wstring& temp_file_name);
// Reads what the seam recorded of message boxes: "title\ntext\n" per box.
std::string read_trace_file(const std::filesystem::path& path);
void append_trace_file(const std::filesystem::path& path, const std::string& line);

// A program built beside the running test (update_app_fixture.exe, ...).
std::filesystem::path beside_test(const std::wstring& name);
// The whole file; empty when it cannot be read.
std::string file_bytes(const std::filesystem::path& path);
// The names in a folder, sorted; empty when it does not exist.
std::vector<std::wstring> folder_names(const std::filesystem::path& folder);
// Moves a file's or folder's last-write time back by whole days.
void age_by_days(const std::filesystem::path& path, int days);
// A GUID in braces, as staging folders are named.
std::wstring new_guid_text();
// The Windows name of a Unix path (Wine's drive Z: is the Unix root).
std::filesystem::path wine_path(const std::string& unix_path);

}  // namespace tarvisko::test
