#include "log_fixtures.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "engine/common/handle_guard.h"

namespace tarvisko::test {
namespace {

constexpr long long kEpochOffset = 116444736000000000LL;

FILETIME file_time(UnixSeconds when) {
    const auto ticks = static_cast<unsigned long long>(when * 10000000LL + kEpochOffset);
    return {static_cast<DWORD>(ticks & 0xffffffffu), static_cast<DWORD>(ticks >> 32)};
}

SYSTEMTIME system_time(UnixSeconds when) {
    const FILETIME time = file_time(when);
    SYSTEMTIME result{};
    if (!FileTimeToSystemTime(&time, &result)) throw std::runtime_error("FileTimeToSystemTime");
    return result;
}

UnixSeconds unix_seconds(const SYSTEMTIME& utc) {
    FILETIME time{};
    if (!SystemTimeToFileTime(&utc, &time)) throw std::runtime_error("SystemTimeToFileTime");
    const long long ticks = static_cast<long long>(
        (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return (ticks - kEpochOffset) / 10000000LL;
}

void close_handle(HANDLE handle) { CloseHandle(handle); }

HandleGuard<HANDLE> open_for_writing(const std::filesystem::path& path) {
    HandleGuard<HANDLE> file(CreateFileW(path.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
                             close_handle, INVALID_HANDLE_VALUE);
    if (!file) throw std::runtime_error("cannot open " + path.string());
    return file;
}

void write_all(HANDLE file, std::string_view bytes) {
    DWORD written = 0;
    if (!bytes.empty() &&
        (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
         written != bytes.size())) {
        throw std::runtime_error("WriteFile");
    }
}

}  // namespace

void write_fixture_file(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string read_fixture_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void set_last_write(const std::filesystem::path& path, UnixSeconds when) {
    HandleGuard<HANDLE> file = open_for_writing(path);
    const FILETIME time = file_time(when);
    if (!SetFileTime(file.get(), nullptr, nullptr, &time)) throw std::runtime_error("SetFileTime");
}

void write_sparse_file(const std::filesystem::path& path, long long size, std::string_view head,
                       std::string_view tail) {
    std::filesystem::create_directories(path.parent_path());
    HandleGuard<HANDLE> file = open_for_writing(path);
    write_all(file.get(), head);
    LARGE_INTEGER offset{};
    offset.QuadPart = size - static_cast<long long>(tail.size());
    if (!SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN))
        throw std::runtime_error("seek");
    write_all(file.get(), tail);
}

std::string roblox_stamp(UnixSeconds when) {
    const SYSTEMTIME utc = system_time(when);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.123Z", utc.wYear, utc.wMonth,
                  utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

std::string udmux_line(UnixSeconds when, std::string_view address, std::string_view port) {
    return roblox_stamp(when) +
           ",6.482315,1c34,6 [FLog::Network] UDMUX Address = " + std::string(address) +
           ", Port = " + std::string(port) + " | RCC Server Address = 10.164.2.17, Port = 50421";
}

Session session_near(UnixSeconds when) {
    const SYSTEMTIME utc = system_time(when);
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        throw std::runtime_error("to local");
    wchar_t name[32];
    std::swprintf(name, 32, L"%04u-%02u-%02uT%02u-%02u-%02u", local.wYear, local.wMonth, local.wDay,
                  local.wHour, local.wMinute, local.wSecond);
    SYSTEMTIME back{};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &back))
        throw std::runtime_error("to UTC");
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", back.wYear, back.wMonth,
                  back.wDay, back.wHour, back.wMinute, back.wSecond);
    return {name, unix_seconds(back), text};
}

std::string r3dlog_text(std::string_view address, std::string_view port) {
    const std::string a(address);
    const std::string p(port);
    return "000000.012|    ALWAYS| Logging started at 2026-03-14T18-02-11\r\n"
           "000000.013|    ALWAYS| Build Version: Version 16.5.712.4398 [PUBLIC]\r\n"
           "000001.204|      OKAY| Game Client: Begin loading\r\n"
           "000004.877|    ALWAYS| CONN| Connecting to address (" +
           a + ") port (" + p +
           ")\r\n"
           "000004.912|      OKAY| CONN| Connection state: CONNECTING\r\n"
           "000005.301|    ALWAYS| CONN| Game Info Received: Initial Connection\r\n"
           "000005.322|      OKAY| Spectator: not active\r\n"
           "000912.004|    ALWAYS| Game exited\r\n";
}

std::filesystem::path write_session(const std::filesystem::path& folder, const Session& session,
                                    std::string_view text) {
    const std::filesystem::path log = folder / session.name / (session.name + L"_r3dlog.txt");
    write_fixture_file(log, text);
    return log;
}

}  // namespace tarvisko::test
