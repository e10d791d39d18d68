// Tarvisko.exe as a process: the roles chosen by its command line end without a window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/window_proc.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

// Runs Tarvisko.exe with the arguments; its exit code, or -1 when it did not end in time.
// Meanwhile watches for a main window of that process.
struct ProcessEnd {
    DWORD exit_code = static_cast<DWORD>(-1);
    bool window_seen = false;
};

ProcessEnd run_program(const std::wstring& arguments) {
    std::wstring command = L"\"" TARVISKO_EXE_PATH L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ProcessEnd end;
    if (!CreateProcessW(TARVISKO_EXE_PATH, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return end;
    }
    for (int i = 0; i < 600; ++i) {
        if (test::window_of_process(process.dwProcessId, main_window_class)) end.window_seen = true;
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;
    }
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &end.exit_code);
    } else {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return end;
}

TEST(ProgramEntry, BadRunnerArgumentsExitWithTwoAndNoWindow) {
    for (const wchar_t* arguments :
         {L"--finish-update 0", L"--finish-update ", L"--finish-update 12345678901",
          L"--finish-update 4x"}) {
        const ProcessEnd end = run_program(arguments);
        EXPECT_EQ(end.exit_code, 2u) << std::string(arguments, arguments + wcslen(arguments));
        EXPECT_FALSE(end.window_seen);
    }
}

TEST(ProgramEntry, TrafficChildWithBadArgumentsEndsWithoutAWindow) {
    // The child mode takes any text after its switch; nonsense is refused with 2.
    const ProcessEnd end = run_program(L"--process-traffic nonsense");
    EXPECT_EQ(end.exit_code, 2u);
    EXPECT_FALSE(end.window_seen);
}

}  // namespace
}  // namespace tarvisko
