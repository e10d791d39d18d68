// How long Tarvisko.exe takes from CreateProcessW until its main window is visible (found by its
// class with FindWindowW) and until the process is idle (WaitForInputIdle), beside a bare Win32
// window program built the same way (bench/app/bare_window.cpp):
//   window_start_bench [ROUNDS [TARVISKO_EXE BARE_EXE]]   warm: one unmeasured start of each,
//       then ROUNDS starts of each, alternating; prints the medians and their ratio
//   window_start_bench --once tarvisko|bare [EXE]          one start, for a cold wineserver
//   window_start_bench --parts ROUNDS PARTS_EXE FILE       ROUNDS starts of window_start_parts,
//       each appending its figures to FILE
// Every start is closed with WM_CLOSE and waited for before the next. Tarvisko.exe runs with a
// LOCALAPPDATA of its own and a server origin on loopback where nothing listens, so it reaches no
// server; its saved window placement is put back as it was. tools/bench/window-start.sh runs
// both modes in a private prefix.
// clang-format off
#include <windows.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_timing.h"

namespace {

using tarvisko::bench::median;

using Clock = std::chrono::steady_clock;

struct Program {
    const wchar_t* label;
    std::wstring path;
    const wchar_t* window_class;
};

struct StartTimes {
    double visible_ms = 0;
    double idle_ms = 0;
    double visible_unix_s = 0;  // wall clock, for the script's figure from its own command
};

constexpr wchar_t placement_key[] = L"Software\\Tarvisko\\Portable";
constexpr wchar_t placement_value[] = L"Window";

double unix_seconds_now() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
}

double ms_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The started process's top-level window of the class, or null.
HWND window_of(DWORD process_id, const wchar_t* window_class) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, window_class, nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process_id) return window;
    }
    return nullptr;
}

StartTimes start_and_close(const Program& program) {
    std::wstring command_line = L"\"" + program.path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const Clock::time_point start = Clock::now();
    if (!CreateProcessW(program.path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
        throw std::runtime_error("CreateProcessW " + narrow(program.path) + " failed, error " +
                                 std::to_string(GetLastError()));
    }
    CloseHandle(process.hThread);
    // Idle is waited for beside the search for the window, so neither mark waits on the other.
    std::atomic<bool> idle_reached{false};
    Clock::time_point idle_at{};
    std::thread idle_waiter([&] {
        idle_reached = WaitForInputIdle(process.hProcess, 60000) == 0;
        idle_at = Clock::now();
    });
    HWND window = nullptr;
    Clock::time_point visible_at{};
    double visible_unix = 0;
    const Clock::time_point give_up = start + std::chrono::seconds(60);
    while (Clock::now() < give_up) {
        window = window_of(process.dwProcessId, program.window_class);
        if (window != nullptr && IsWindowVisible(window)) {
            visible_at = Clock::now();
            visible_unix = unix_seconds_now();
            break;
        }
        window = nullptr;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
        // Every look is a round trip to the wineserver, which the starting program needs too:
        // a few milliseconds between looks keep the search from slowing what it measures.
        Sleep(4);
    }
    idle_waiter.join();
    std::string failure;
    if (window == nullptr) {
        failure = "no visible window";
    } else if (!idle_reached) {
        failure = "WaitForInputIdle failed";
    } else {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
        if (failure.empty()) failure = "did not end within 60 s of WM_CLOSE";
    }
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    if (failure.empty() && exit_code != 0) failure = "exit code " + std::to_string(exit_code);
    if (!failure.empty()) throw std::runtime_error(narrow(program.path) + ": " + failure);
    return {ms_between(start, visible_at), ms_between(start, idle_at), visible_unix};
}

// What the started programs see instead of the user's own: a LOCALAPPDATA of their own, a server
// origin where nobody listens, and the saved window placement put back afterwards.
class PrivateSurroundings {
  public:
    PrivateSurroundings() {
        wchar_t temp[MAX_PATH + 1]{};
        GetTempPathW(MAX_PATH + 1, temp);
        folder_ = std::filesystem::path(temp) /
                  (L"tarvisko-window-start-" + std::to_wstring(GetCurrentProcessId()));
        std::filesystem::create_directories(folder_);
        SetEnvironmentVariableW(L"LOCALAPPDATA", folder_.c_str());
        SetEnvironmentVariableW(L"QUORVEL_DESKTOP_ORIGIN", L"https://localhost:9");
        DWORD size = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, placement_key, placement_value, RRF_RT_REG_BINARY,
                         nullptr, nullptr, &size) == ERROR_SUCCESS) {
            std::vector<BYTE> data(size);
            if (RegGetValueW(HKEY_CURRENT_USER, placement_key, placement_value, RRF_RT_REG_BINARY,
                             nullptr, data.data(), &size) == ERROR_SUCCESS) {
                data.resize(size);
                placement_ = std::move(data);
            }
        }
    }
    ~PrivateSurroundings() {
        if (placement_) {
            RegSetKeyValueW(HKEY_CURRENT_USER, placement_key, placement_value, REG_BINARY,
                            placement_->data(), static_cast<DWORD>(placement_->size()));
        } else {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, placement_key, placement_value);
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    PrivateSurroundings(const PrivateSurroundings&) = delete;
    PrivateSurroundings& operator=(const PrivateSurroundings&) = delete;

  private:
    std::filesystem::path folder_;
    std::optional<std::vector<BYTE>> placement_;
};

void print_warm(const std::vector<Program>& programs, int rounds) {
    std::printf("Window start with a warm wineserver: median of %d starts each, after one "
                "unmeasured start\n",
                rounds);
    for (const Program& program : programs) start_and_close(program);
    std::vector<std::vector<double>> visible(programs.size());
    std::vector<std::vector<double>> idle(programs.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < programs.size(); ++i) {
            const StartTimes times = start_and_close(programs[i]);
            visible[i].push_back(times.visible_ms);
            idle[i].push_back(times.idle_ms);
        }
    }
    std::printf("  %-14s %12s %12s %22s\n", "", "visible", "idle", "visible min..max");
    std::vector<double> visible_median(programs.size());
    std::vector<double> idle_median(programs.size());
    for (std::size_t i = 0; i < programs.size(); ++i) {
        visible_median[i] = median(visible[i]);
        idle_median[i] = median(idle[i]);
        const auto [low, high] = std::minmax_element(visible[i].begin(), visible[i].end());
        std::printf("  %-14ls %9.1f ms %9.1f ms %10.1f..%.1f ms\n", programs[i].label,
                    visible_median[i], idle_median[i], *low, *high);
    }
    std::printf("  %-14s %12.2f %12.2f   (aim: at most 3)\n", "ratio",
                visible_median[0] / visible_median[1], idle_median[0] / idle_median[1]);
}

void print_once(const Program& program) {
    const StartTimes times = start_and_close(program);
    std::printf("once %ls visible_ms %.1f idle_ms %.1f visible_unix %.6f\n", program.label,
                times.visible_ms, times.idle_ms, times.visible_unix_s);
}

// The instrumented start-up, started ROUNDS times in the same surroundings; it closes itself.
void run_parts(int rounds, const std::wstring& program, const std::wstring& file) {
    for (int round = 0; round < rounds; ++round) {
        std::wstring command_line = L"\"" + program + L"\" " + file;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                            nullptr, nullptr, &startup, &process)) {
            throw std::runtime_error("CreateProcessW " + narrow(program) + " failed, error " +
                                     std::to_string(GetLastError()));
        }
        CloseHandle(process.hThread);
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 10000);
            CloseHandle(process.hProcess);
            throw std::runtime_error(narrow(program) + ": did not end within 60 s");
        }
        CloseHandle(process.hProcess);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Program tarvisko{L"Tarvisko.exe", TARVISKO_EXE_PATH, L"QuorvelTarviskoWindow"};
    Program bare{L"bare window", BARE_WINDOW_PATH, L"TarviskoBenchBareWindow"};
    try {
        PrivateSurroundings surroundings;
        if (argc >= 5 && std::wcscmp(argv[1], L"--parts") == 0) {
            run_parts(std::max(1, _wtoi(argv[2])), argv[3], argv[4]);
            return 0;
        }
        if (argc >= 3 && std::wcscmp(argv[1], L"--once") == 0) {
            Program program = std::wcscmp(argv[2], L"bare") == 0 ? bare : tarvisko;
            if (argc >= 4) program.path = argv[3];
            print_once(program);
            return 0;
        }
        const int rounds = argc >= 2 ? std::max(1, _wtoi(argv[1])) : 9;
        if (argc >= 4) {
            tarvisko.path = argv[2];
            bare.path = argv[3];
        }
        print_warm({tarvisko, bare}, rounds);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "window_start_bench: %s\n", error.what());
        return 1;
    }
}
