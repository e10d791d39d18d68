#include "games/log_scanners.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "engine/common/address.h"
#include "engine/common/handle_guard.h"
#include "games/local_files.h"

namespace tarvisko {
namespace {

constexpr std::string_view kConnectingMarker = "CONN| Connecting to address (";
constexpr std::string_view kConnectedMarker = "CONN| Game Info Received: Initial Connection";
constexpr std::string_view kUdmuxMarker = "[FLog::Network] UDMUX Address = ";
constexpr std::string_view kAddressCharacters = "0123456789abcdefABCDEF:.";
constexpr std::size_t kMaxAddressText = 45;
constexpr std::size_t kPlayerLogsRead = 8;
// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kFileTimeEpochOffset = 116444736000000000;

struct FolderEntry {
    std::wstring name;
    DWORD attributes = 0;
    UnixSeconds last_write = 0;
};

void close_find(HANDLE handle) { FindClose(handle); }

UnixSeconds unix_seconds(const FILETIME& time) {
    const auto ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    const std::int64_t since_1970 = ticks - kFileTimeEpochOffset;
    return since_1970 >= 0 ? since_1970 / 10000000 : -((-since_1970 + 9999999) / 10000000);
}

// The folder's entries in listing order, without "." and ".."; a listing that fails part-way
// ends with what was listed so far.
std::vector<FolderEntry> list_folder(const std::filesystem::path& folder) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW data{};
    const std::wstring pattern = (folder / L"*").wstring();
    HandleGuard<HANDLE> find(
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                         FIND_FIRST_EX_LARGE_FETCH),
        close_find, INVALID_HANDLE_VALUE);
    if (!find) return entries;
    do {
        const std::wstring_view name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back(
            {std::wstring(name), data.dwFileAttributes, unix_seconds(data.ftLastWriteTime)});
    } while (FindNextFileW(find.get(), &data));
    return entries;
}

bool is_reparse_point(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool is_folder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

bool within_window(UnixSeconds now, UnixSeconds stamp) {
    return now >= stamp && now - stamp <= kLogWindowSeconds;
}

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// The public address a log names, or nothing for a text that is no address or not public.
std::optional<std::string> public_address(const std::string& text) {
    try {
        const Target target = parse_ip_literal(text);
        if (is_public_address(target)) return target.text;
    } catch (const std::invalid_argument&) {
    }
    return std::nullopt;
}

bool is_address_text(std::string_view text) {
    return text.size() <= kMaxAddressText &&
           text.find_first_not_of(kAddressCharacters) == std::string_view::npos;
}

bool is_port(std::string_view text) {
    const int port = parse_int_or_minus1(text);
    return port >= 1 && port <= 65535;
}

// Calls `visit` for each line of `text` (split at line feeds; the last line needs none).
template <typename Visit>
void for_each_line(std::string_view text, Visit&& visit) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            visit(text.substr(start));
            return;
        }
        visit(text.substr(start, end - start));
        start = end + 1;
    }
}

// The candidate of one "Connecting to address" line: the canonical address, or nothing.
std::optional<std::string> connecting_candidate(std::string_view line, std::size_t marker) {
    const std::size_t address_start = marker + kConnectingMarker.size();
    const std::size_t port_label = line.find(") port (", address_start);
    if (port_label == std::string_view::npos) return std::nullopt;
    const std::string_view address = line.substr(address_start, port_label - address_start);
    if (!is_address_text(address)) return std::nullopt;
    const std::size_t port_start = port_label + 8;
    const std::size_t port_end = line.find(')', port_start);
    if (port_end == std::string_view::npos || port_end == port_start) return std::nullopt;
    if (!is_port(line.substr(port_start, port_end - port_start))) return std::nullopt;
    try {
        return parse_ip_literal(std::string(address)).text;
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

// A session folder name "YYYY-MM-DDTHH-MM-SS" in local time, as UTC seconds and UTC text.
struct SessionStamp {
    UnixSeconds seconds = 0;
    std::string text;
};

std::optional<SessionStamp> session_stamp(std::wstring_view name) {
    if (name.size() != 19) return std::nullopt;
    std::string narrow;
    for (const wchar_t c : name) {
        if (std::wstring_view(L"0123456789-T").find(c) == std::wstring_view::npos)
            return std::nullopt;
        narrow.push_back(static_cast<char>(c));
    }
    if (narrow[4] != '-' || narrow[7] != '-' || narrow[10] != 'T' || narrow[13] != '-' ||
        narrow[16] != '-') {
        return std::nullopt;
    }
    const std::string_view text = narrow;
    const int fields[] = {
        parse_int_or_minus1(text.substr(0, 4)),  parse_int_or_minus1(text.substr(5, 2)),
        parse_int_or_minus1(text.substr(8, 2)),  parse_int_or_minus1(text.substr(11, 2)),
        parse_int_or_minus1(text.substr(14, 2)), parse_int_or_minus1(text.substr(17, 2))};
    // A "-" or "T" in a digit place reads as a negative field; it must not wrap into a WORD.
    if (std::any_of(std::begin(fields), std::end(fields), [](int f) { return f < 0; }))
        return std::nullopt;
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(fields[0]);
    local.wMonth = static_cast<WORD>(fields[1]);
    local.wDay = static_cast<WORD>(fields[2]);
    local.wHour = static_cast<WORD>(fields[3]);
    local.wMinute = static_cast<WORD>(fields[4]);
    local.wSecond = static_cast<WORD>(fields[5]);
    FILETIME checked{};
    SYSTEMTIME utc{};
    FILETIME utc_file{};
    if (!SystemTimeToFileTime(&local, &checked) ||
        !TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
        !SystemTimeToFileTime(&utc, &utc_file)) {
        return std::nullopt;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth,
                  utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    return SessionStamp{unix_seconds(utc_file), buffer};
}

bool keeps_over(const std::optional<LogHit>& kept, const LogHit& candidate) {
    return !kept || candidate.time_text > kept->time_text;
}

}  // namespace

UnixSeconds unix_time_now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return unix_seconds(now);
}

int parse_int_or_minus1(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty()) return -1;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
        if (value > 2147483648LL) return -1;
    }
    if (negative) return static_cast<int>(-value);
    return value > 2147483647LL ? -1 : static_cast<int>(value);
}

std::optional<std::string> parse_conn_log(std::string_view text) {
    std::optional<std::string> pending;
    std::optional<std::string> result;
    for_each_line(text, [&](std::string_view line) {
        const std::size_t marker = line.find(kConnectingMarker);
        if (marker != std::string_view::npos) {
            pending = connecting_candidate(line, marker);
        } else if (pending && line.find(kConnectedMarker) != std::string_view::npos) {
            result = pending;
        }
    });
    return result;
}

std::optional<LogHit> find_r3dlog_server(const std::filesystem::path& folder, UnixSeconds now) {
    std::optional<LogHit> kept;
    for (const FolderEntry& entry : list_folder(folder)) {
        const std::optional<SessionStamp> stamp = session_stamp(entry.name);
        if (!stamp || !within_window(now, stamp->seconds)) continue;
        if (is_reparse_point(entry.attributes)) continue;
        const std::filesystem::path log = folder / entry.name / (entry.name + L"_r3dlog.txt");
        const DWORD attributes = GetFileAttributesW(log.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || is_folder(attributes) ||
            is_reparse_point(attributes)) {
            continue;
        }
        const std::optional<FilePiece> head = read_file_head(log, kLogReadLimit);
        if (!head) continue;
        const std::optional<std::string> candidate = parse_conn_log(head->bytes);
        if (!candidate) continue;
        const std::optional<std::string> address = public_address(*candidate);
        if (!address) continue;
        LogHit hit{*address, stamp->text};
        if (keeps_over(kept, hit)) kept = std::move(hit);
    }
    return kept;
}

std::optional<LogHit> parse_udmux_log(std::string_view line, UnixSeconds now) {
    if (line.size() < kUdmuxMarker.size()) return std::nullopt;
    const std::size_t marker = line.find(kUdmuxMarker, 24);
    if (marker == std::string_view::npos) return std::nullopt;
    if (line[4] != '-' || line[7] != '-' || line[10] != 'T' || line[13] != ':' || line[16] != ':' ||
        line[19] != '.' || line[23] != 'Z' || line[24] != ',') {
        return std::nullopt;
    }
    // The stamp becomes the hit's time text as it stands, so every field must be plain digits:
    // "-1" or "1x" would pass the upper bounds, and even "-0" would sort before real stamps.
    auto field = [line](std::size_t position, std::size_t length) {
        return line[position] >= '0' && line[position] <= '9'
                   ? parse_int_or_minus1(line.substr(position, length))
                   : -1;
    };
    const int year = field(0, 4);
    const int month = field(5, 2);
    const int day = field(8, 2);
    const int hour = field(11, 2);
    const int minute = field(14, 2);
    const int second = field(17, 2);
    const int millis = field(20, 3);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millis < 0) {
        return std::nullopt;
    }
    const UnixSeconds stamp =
        days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    if (!within_window(now, stamp)) return std::nullopt;

    const std::size_t address_start = marker + kUdmuxMarker.size();
    const std::size_t port_label = line.find(", Port = ", address_start);
    if (port_label == std::string_view::npos) return std::nullopt;
    const std::string_view address = line.substr(address_start, port_label - address_start);
    if (!is_address_text(address)) return std::nullopt;
    const std::size_t port_start = port_label + 9;
    if (line.size() < port_start + 2) return std::nullopt;
    const std::size_t port_end = line.find(" |", port_start);
    if (port_end == std::string_view::npos ||
        !is_port(line.substr(port_start, port_end - port_start))) {
        return std::nullopt;
    }
    try {
        return LogHit{parse_ip_literal(std::string(address)).text, std::string(line.substr(0, 24))};
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

std::optional<LogHit> find_player_log_server(const std::filesystem::path& folder, UnixSeconds now) {
    std::vector<FolderEntry> logs;
    for (FolderEntry& entry : list_folder(folder)) {
        const std::wstring& name = entry.name;
        if (name.size() < 8 || !name.ends_with(L".log") ||
            name.find(L"_Player_") == std::wstring::npos)
            continue;
        if (is_folder(entry.attributes) || is_reparse_point(entry.attributes)) continue;
        if (entry.last_write < now - kLogWindowSeconds) continue;
        logs.push_back(std::move(entry));
    }
    std::sort(logs.begin(), logs.end(), [](const FolderEntry& a, const FolderEntry& b) {
        if (a.last_write != b.last_write) return a.last_write > b.last_write;
        return a.name > b.name;
    });
    if (logs.size() > kPlayerLogsRead) logs.resize(kPlayerLogsRead);

    std::optional<LogHit> kept;
    for (const FolderEntry& entry : logs) {
        const std::optional<FilePiece> tail = read_file_tail(folder / entry.name, kLogReadLimit);
        if (!tail) continue;
        std::string_view text = tail->bytes;
        if (!tail->from_start) {
            // The tail starts inside a line: that part of a line is no line.
            const std::size_t first_end = text.find('\n');
            text = first_end == std::string_view::npos ? std::string_view{}
                                                       : text.substr(first_end + 1);
        }
        for_each_line(text, [&](std::string_view line) {
            std::optional<LogHit> hit = parse_udmux_log(line, now);
            if (!hit) return;
            const std::optional<std::string> address = public_address(hit->address);
            if (address && keeps_over(kept, *hit)) kept = std::move(hit);
        });
    }
    return kept;
}

}  // namespace tarvisko
