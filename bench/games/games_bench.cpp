// The game-log scanners over large and small logs: eight Roblox player logs and one League of
// Legends session, each of 200 MB and again of 1 MB. Both scanners read at most 256 KiB of each
// file, so their time must not grow with the size of the logs.
//
//   games_bench.exe FOLDER [SIZE_MB]
//
// Writes the logs under FOLDER (kept for bench/games/compare.sh, which runs tail and grep on the
// same files), then prints the median and the slowest of 21 scans for each set. The large logs
// hold client lines in their first and last MiB and a sparse gap between: the scanners read
// only those ends, so the gap costs them nothing and keeps the disk use small.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "games/log_scanners.h"

namespace {

using tarvisko::UnixSeconds;
namespace fs = std::filesystem;

constexpr long long kMiB = 1 << 20;

std::string utc_text(UnixSeconds when, const char* format) {
    const long long ticks = when * 10000000LL + 116444736000000000LL;
    const FILETIME time{static_cast<DWORD>(ticks & 0xffffffff), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{};
    FileTimeToSystemTime(&time, &utc);
    char text[40];
    std::snprintf(text, sizeof text, format, utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                  utc.wMinute, utc.wSecond);
    return text;
}

// Whole lines of at most `bytes` bytes.
std::string cut(std::string text, long long bytes) {
    text.resize(text.rfind('\n', static_cast<std::size_t>(bytes) - 1) + 1);
    return text;
}

// Client lines of at most `bytes` bytes; every 500th names a relay (Roblox) or a connection.
std::string roblox_lines(UnixSeconds now, long long bytes) {
    std::string text;
    for (int i = 0; static_cast<long long>(text.size()) < bytes; ++i) {
        const std::string stamp =
            utc_text(now - 3600 + i / 100, "%04u-%02u-%02uT%02u:%02u:%02u.250Z");
        if (i % 500 == 499) {
            text += stamp + ",812.1,1c34,6 [FLog::Network] UDMUX Address = 128.116." +
                    std::to_string(i % 250) +
                    ".9, Port = 49152 | RCC Server Address = 10.1.2.3, "
                    "Port = 50421\r\n";
        } else {
            text += stamp + ",812.1,1c34,6 [FLog::Output] Heartbeat " + std::to_string(i) +
                    " frame time 16.6 ms, memory 1834 MB\r\n";
        }
    }
    return cut(std::move(text), bytes);
}

std::string league_lines(long long bytes) {
    std::string text;
    for (int i = 0; static_cast<long long>(text.size()) < bytes; ++i) {
        if (i % 500 == 20) {
            text += "000004.877|    ALWAYS| CONN| Connecting to address (162.249.72." +
                    std::to_string(i % 250) +
                    ") port (5116)\r\n"
                    "000005.301|    ALWAYS| CONN| Game Info Received: Initial Connection\r\n";
        } else {
            text += "000912.004|      OKAY| Replication: tick " + std::to_string(i) +
                    " applied, 44 objects\r\n";
        }
    }
    return cut(std::move(text), bytes);
}

// A file of `size` bytes: `head` first, `tail` last, a sparse gap between.
void write_log(const fs::path& path, long long size, const std::string& head,
               const std::string& tail, UnixSeconds last_write) {
    fs::create_directories(path.parent_path());
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path.string());
    auto write = [&](const std::string& bytes) {
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
            throw std::runtime_error("WriteFile");
        }
    };
    write(head);
    LARGE_INTEGER offset{};
    offset.QuadPart = size - static_cast<long long>(tail.size());
    SetFilePointerEx(file, offset, nullptr, FILE_BEGIN);
    write(tail);
    const long long ticks = last_write * 10000000LL + 116444736000000000LL;
    const FILETIME time{static_cast<DWORD>(ticks & 0xffffffff), static_cast<DWORD>(ticks >> 32)};
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

// A session folder name in local time, as the client writes it.
std::wstring session_name(UnixSeconds when) {
    const long long ticks = when * 10000000LL + 116444736000000000LL;
    const FILETIME time{static_cast<DWORD>(ticks & 0xffffffff), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    FileTimeToSystemTime(&time, &utc);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    wchar_t name[32];
    std::swprintf(name, 32, L"%04u-%02u-%02uT%02u-%02u-%02u", local.wYear, local.wMonth, local.wDay,
                  local.wHour, local.wMinute, local.wSecond);
    return name;
}

void write_set(const fs::path& root, long long size, UnixSeconds now) {
    const long long end = std::min(size / 2, kMiB);
    for (int i = 0; i < 8; ++i) {
        write_log(root / L"roblox" /
                      (L"0.612.0.6120585_20260314T18021" + std::to_wstring(i) +
                       L"Z_Player_A1B2C_last.log"),
                  size, roblox_lines(now - 7200, end), roblox_lines(now - i * 60, end),
                  now - i * 60);
    }
    const std::wstring session = session_name(now - 1800);
    write_log(root / L"league" / session / (session + L"_r3dlog.txt"), size, league_lines(end),
              league_lines(end), now - 1800);
}

struct Timing {
    double median_ms = 0;
    double slowest_ms = 0;
    std::string found;
};

Timing time_scan(const std::function<std::optional<tarvisko::LogHit>()>& scan) {
    std::vector<double> times;
    std::string found;
    for (int i = 0; i < 21; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const std::optional<tarvisko::LogHit> hit = scan();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        found = hit ? hit->address + " at " + hit->time_text : "nothing";
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back(), found};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: games_bench.exe FOLDER [SIZE_MB]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const long long large = (argc > 2 ? std::stoll(argv[2]) : 200) * kMiB;
    const UnixSeconds now = tarvisko::unix_time_now();
    std::printf("scanner                 set              median ms  slowest ms  found\n");
    for (const auto& [name, size] : {std::pair{L"large", large}, std::pair{L"small", kMiB}}) {
        const fs::path root = folder / name;
        write_set(root, size, now);
        const std::string label = std::to_string(size / kMiB) + " MB";
        const Timing roblox =
            time_scan([&] { return tarvisko::find_player_log_server(root / L"roblox", now); });
        const Timing league =
            time_scan([&] { return tarvisko::find_r3dlog_server(root / L"league", now); });
        std::printf("find_player_log_server  8 x %-11s  %9.2f  %10.2f  %s\n", label.c_str(),
                    roblox.median_ms, roblox.slowest_ms, roblox.found.c_str());
        std::printf("find_r3dlog_server      1 x %-11s  %9.2f  %10.2f  %s\n", label.c_str(),
                    league.median_ms, league.slowest_ms, league.found.c_str());
    }
    return 0;
}
