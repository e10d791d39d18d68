// The update runner for real under Wine. The application is a copy of update_app_fixture.exe
// (version resource 1.1.18) named Tarvisko.exe in a temporary folder; the new version the
// simulator serves is update_candidate_fixture.exe (1.2.0). One test lets the application check,
// install and exit; the others play the application themselves: they stage a release by hand,
// start the runner against an idle copy of the application and steer it through the two events.
// The fixture programs note what happened in files of the trace folder (see update_fixture.cpp).
// clang-format off
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/common/text.h"
#include "support/simulator_client.h"
#include "support/test_support.h"
#include "update/release.h"
#include "update/staging.h"
#include "update/update_common.h"
#include "update/update_test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::file_bytes;
using test::folder_names;
using test::read_trace_file;
using test::simulator_control;
using test::update_test_seams;
using update_detail::Handle;
constexpr auto owned = update_detail::owned_handle;

struct Process {
    Handle handle;
    DWORD id = 0;
};

Process start(const fs::path& program, const std::wstring& arguments, const fs::path& folder) {
    std::wstring command_line = L"\"" + program.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &started)) {
        throw std::runtime_error("cannot start " + to_utf8(program.wstring()));
    }
    CloseHandle(started.hThread);
    return {owned(started.hProcess), started.dwProcessId};
}

// The exit code, or STILL_ACTIVE when the process outlives the wait.
DWORD exit_code(const Process& process, DWORD milliseconds) {
    if (WaitForSingleObject(process.handle.get(), milliseconds) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.handle.get(), &code);
    return code;
}

bool is_set(const Handle& event) { return WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0; }

// Waits until a trace file holds something, for up to `seconds`.
std::string await_trace(const fs::path& path, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string text;
    while ((text = read_trace_file(path)).empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
}

// A release staged by hand, as install_update leaves it, with the two events it creates.
struct Staged {
    fs::path folder;
    fs::path runner;
    Handle ready;
    Handle apply;
};

class UpdateRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::simulator_reset();
        fs::create_directories(app_folder);
        fs::create_directories(trace);
        old_bytes = file_bytes(test::beside_test(L"update_app_fixture.exe"));
        candidate = file_bytes(test::beside_test(L"update_candidate_fixture.exe"));
        ASSERT_FALSE(old_bytes.empty());
        ASSERT_FALSE(candidate.empty());
        write_staged_file(app, old_bytes);

        const std::string certificate =
            simulator_control("GET", "portal/release-key")["certificate"].get<std::string>();
        update_test_seams() = {};
        update_test_seams().certificate = certificate;
        update_test_seams().local_app_data = local;
        update_test_seams().trace = trace;
        test::use_update_test_seams();
        // The programs this test starts, and the ones they start, set the same seams.
        environment.push_back(
            std::make_unique<test::ScopedEnv>(L"TARVISKO_UPDATE_CERT", to_wide(certificate)));
        environment.push_back(
            std::make_unique<test::ScopedEnv>(L"TARVISKO_UPDATE_APPDATA", local.wstring()));
        environment.push_back(
            std::make_unique<test::ScopedEnv>(L"TARVISKO_UPDATE_TRACE", trace.wstring()));
    }

    void TearDown() override {
        if (idle_event) SetEvent(idle_event.get());
        if (idle.handle) exit_code(idle, 10000);
        update_test_seams() = {};
    }

    fs::path root() const { return local / L"QUORVEL-Portable-Updates"; }

    std::string description(const std::string& version) const {
        const std::string sha256 = sha256_hex_of_bytes(candidate);
        const json proof = simulator_control(
            "POST", "portal/sign",
            {{"version", version}, {"size", candidate.size()}, {"sha256", sha256}});
        return json{{"version", version},
                    {"sha256", sha256},
                    {"platform", "windows-x64"},
                    {"size", candidate.size()},
                    {"proof", proof["proof"]}}
            .dump();
    }

    // Starts the application, idle until idle_event is set.
    void start_idle_application() {
        const std::wstring name = L"Local\\tarvisko-idle-" + test::new_guid_text();
        idle_event = owned(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        idle = start(app, L"--idle " + name, app_folder);
    }

    Staged stage(const std::string& release, const fs::path& folder,
                 const wchar_t* runner_name = L"runner.exe") {
        fs::create_directories(folder.parent_path());
        create_private_folder(folder);
        write_staged_file(folder / L"release.json", release);
        write_staged_file(folder / L"candidate.bin", candidate);
        Staged staged{folder, folder / runner_name, {}, {}};
        if (!CopyFileW(app.c_str(), staged.runner.c_str(), TRUE)) {
            throw std::runtime_error("cannot copy the runner");
        }
        const std::wstring name = update_event_name(folder);
        staged.ready = owned(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        staged.apply = owned(CreateEventW(nullptr, TRUE, FALSE, (name + L"-apply").c_str()));
        return staged;
    }
    Staged stage_release(const std::string& version) {
        return stage(description(version), root() / test::new_guid_text());
    }

    Process start_runner(const Staged& staged) {
        return start(staged.runner, L"--finish-update " + std::to_wstring(idle.id), staged.folder);
    }

    void expect_application(const std::string& bytes) {
        EXPECT_TRUE(file_bytes(app) == bytes) << "the application file is not as expected";
        EXPECT_EQ(folder_names(app_folder), std::vector<std::wstring>{L"Tarvisko.exe"});
    }

    test::TempDir temp;
    fs::path app_folder = temp.path() / L"app";
    fs::path app = app_folder / L"Tarvisko.exe";
    fs::path local = temp.path() / L"local";
    fs::path trace = temp.path() / L"trace";
    std::string old_bytes;
    std::string candidate;
    std::vector<std::unique_ptr<test::ScopedEnv>> environment;
    Handle idle_event;
    Process idle;
};

TEST_F(UpdateRunnerTest, UpdatesTheApplicationEndToEnd) {
    const char* binary = std::getenv("TARVISKO_BINARY_DIR");
    ASSERT_NE(binary, nullptr);
    // The description also names a file: nothing the server sends becomes a path.
    simulator_control(
        "POST", "portal/config",
        {{"installer_file", std::string(binary) + "/tests/update/update_candidate_fixture.exe"},
         {"release_version", "1.2.0"},
         {"release_tamper", {{"file", "..\\..\\evil.exe"}}}});

    const Process application =
        start(app, L"--install " + to_wide(test::simulator_origin()), app_folder);
    EXPECT_EQ(exit_code(application, 60000), 0u);
    EXPECT_EQ(read_trace_file(trace / L"app.txt"), "installed 1.2.0\n");
    EXPECT_EQ(await_trace(trace / L"runner.txt", 60), "exit 0\n");
    EXPECT_EQ(await_trace(trace / L"started.txt", 30), "started 1.2.0\n");

    expect_application(candidate);
    const std::vector<std::wstring> staged = folder_names(root());
    ASSERT_EQ(staged.size(), 1u);
    EXPECT_TRUE(is_staging_folder_name(staged[0]));
    EXPECT_EQ(folder_names(root() / staged[0]), std::vector<std::wstring>{L"runner.exe"});
    EXPECT_FALSE(fs::exists(trace / L"messages.txt"));
    // The new file was marked as downloaded before it took the application's place.
    std::vector<std::wstring> zones;
    for (const std::wstring& name : folder_names(trace)) {
        if (name.rfind(L"zone-", 0) == 0) zones.push_back(name);
    }
    ASSERT_EQ(zones.size(), 1u);
    EXPECT_EQ(file_bytes(trace / zones[0]), "[ZoneTransfer]\r\nZoneId=3\r\n");

    // The next start's sweep empties the root once the runner's process is gone.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    do {
        sweep_update_staging();
    } while (!folder_names(root()).empty() && std::chrono::steady_clock::now() < until &&
             (std::this_thread::sleep_for(std::chrono::milliseconds(100)), true));
    EXPECT_EQ(folder_names(root()), std::vector<std::wstring>{});
    for (const auto& entry : fs::recursive_directory_iterator(temp.path())) {
        EXPECT_NE(entry.path().filename(), L"evil.exe");
    }
    // The new version, started by the runner, may still be ending in the application's folder
    // (its working folder); that folder can go only once it has.
    const auto ended = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::error_code removal;
    while (fs::remove_all(app_folder, removal),
           removal && std::chrono::steady_clock::now() < ended) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

TEST_F(UpdateRunnerTest, RefusesSilentlyBeforeReadinessAndReplacesNothing) {
    start_idle_application();
    struct Case {
        const char* name;
        const char* version;
        fs::path folder;
        const wchar_t* runner_name;
    };
    const Case cases[] = {
        {"same version", "1.1.18", root() / test::new_guid_text(), L"runner.exe"},
        {"older version", "1.1.9", root() / test::new_guid_text(), L"runner.exe"},
        {"runner renamed", "1.2.0", root() / test::new_guid_text(), L"runner2.exe"},
        {"outside the staging root", "1.2.0", temp.path() / L"elsewhere" / test::new_guid_text(),
         L"runner.exe"},
        {"folder not named by a GUID", "1.2.0", root() / L"staging", L"runner.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Staged staged = stage(description(c.version), c.folder, c.runner_name);
        EXPECT_EQ(exit_code(start_runner(staged), 30000), 1u);
        EXPECT_FALSE(is_set(staged.ready));
        expect_application(old_bytes);
        EXPECT_FALSE(fs::exists(trace / L"messages.txt"));
    }
}

TEST_F(UpdateRunnerTest, WithoutApplyWithinFifteenSecondsItEndsAndLeavesOnlyItsCopy) {
    start_idle_application();
    const Staged staged = stage_release("1.2.0");
    const auto started = std::chrono::steady_clock::now();
    const Process runner = start_runner(staged);
    ASSERT_EQ(WaitForSingleObject(staged.ready.get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(exit_code(runner, 40000), 1u);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(14));
    expect_application(old_bytes);
    EXPECT_FALSE(fs::exists(trace / L"messages.txt"));
    // The staged release, up to 32 MiB, does not wait for a sweep that would never take it.
    EXPECT_EQ(folder_names(staged.folder), std::vector<std::wstring>{L"runner.exe"});
    sweep_update_staging();
    EXPECT_FALSE(fs::exists(staged.folder));
}

TEST_F(UpdateRunnerTest, ApplicationGoneBeforeApplyEndsTheRunnerQuietly) {
    start_idle_application();
    const Staged staged = stage_release("1.2.0");
    const Process runner = start_runner(staged);
    ASSERT_EQ(WaitForSingleObject(staged.ready.get(), 30000), WAIT_OBJECT_0);
    SetEvent(idle_event.get());
    EXPECT_EQ(exit_code(runner, 10000), 1u);
    expect_application(old_bytes);
    EXPECT_FALSE(fs::exists(trace / L"messages.txt"));
    EXPECT_EQ(folder_names(staged.folder), std::vector<std::wstring>{L"runner.exe"});
}

TEST_F(UpdateRunnerTest, FileChangedWhileWaitingIsNotReplaced) {
    start_idle_application();
    const Staged staged = stage_release("1.2.0");
    const Process runner = start_runner(staged);
    ASSERT_EQ(WaitForSingleObject(staged.ready.get(), 30000), WAIT_OBJECT_0);
    SetEvent(staged.apply.get());
    // A running program can be renamed, not written: move it aside and put other bytes in its
    // place before it exits.
    ASSERT_TRUE(MoveFileW(app.c_str(), (app_folder / L"Tarvisko.old").c_str()));
    const std::string changed = old_bytes + "changed";
    write_staged_file(app, changed);
    SetEvent(idle_event.get());

    EXPECT_EQ(exit_code(runner, 30000), 1u);
    EXPECT_EQ(read_trace_file(trace / L"messages.txt"),
              "Aktualizacja nie została zastosowana\n"
              "Plik aplikacji został zmieniony podczas oczekiwania.\n");
    EXPECT_TRUE(file_bytes(app) == changed);
    EXPECT_EQ(folder_names(staged.folder), std::vector<std::wstring>{L"runner.exe"});
}

TEST_F(UpdateRunnerTest, FailedRestartWarnsWithTheNewVersionInPlace) {
    const test::ScopedEnv refuse(L"TARVISKO_UPDATE_REFUSE_RESTART", L"1");
    start_idle_application();
    const Staged staged = stage_release("1.2.0");
    const Process runner = start_runner(staged);
    ASSERT_EQ(WaitForSingleObject(staged.ready.get(), 30000), WAIT_OBJECT_0);
    SetEvent(staged.apply.get());
    SetEvent(idle_event.get());

    EXPECT_EQ(exit_code(runner, 30000), 1u);
    EXPECT_EQ(read_trace_file(trace / L"messages.txt"),
              "Windows nie uruchomił aktualizacji\n"
              "Nowa wersja jest już zapisana. Otwórz aplikację z dotychczasowego skrótu.\n");
    expect_application(candidate);
    EXPECT_EQ(folder_names(staged.folder), std::vector<std::wstring>{L"runner.exe"});
}

TEST_F(UpdateRunnerTest, KilledRunnerLeavesTheFileWholeAndAStaleFolderIsSwept) {
    start_idle_application();
    for (const bool applied : {false, true}) {
        SCOPED_TRACE(applied ? "killed after apply" : "killed waiting for apply");
        const Staged staged = stage_release("1.2.0");
        const Process runner = start_runner(staged);
        ASSERT_EQ(WaitForSingleObject(staged.ready.get(), 30000), WAIT_OBJECT_0);
        if (applied) {
            SetEvent(staged.apply.get());
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        TerminateProcess(runner.handle.get(), 9);
        EXPECT_EQ(exit_code(runner, 10000), 9u);
        expect_application(old_bytes);

        // Fresh, the folder may still be in use and stays; a day later it is swept.
        sweep_update_staging();
        EXPECT_TRUE(fs::exists(staged.folder / L"release.json"));
        test::age_by_days(staged.folder, 2);
        sweep_update_staging();
        EXPECT_FALSE(fs::exists(staged.folder));
    }
}

}  // namespace
}  // namespace tarvisko
