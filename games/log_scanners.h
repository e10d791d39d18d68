#pragma once
// The game-log scanners: the League of Legends match server and the Roblox UDP relay that the
// game clients on this computer wrote to their logs in the last 24 hours.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvisko {

struct LogHit {
    std::string address;    // canonical numeric text; always a public address
    std::string time_text;  // UTC: "YYYY-MM-DDTHH:MM:SSZ" (League) or the Roblox line's stamp

    bool operator==(const LogHit&) const = default;
};

// Seconds since 1970-01-01 UTC.
using UnixSeconds = std::int64_t;
inline constexpr UnixSeconds kLogWindowSeconds = 86400;
inline constexpr std::size_t kLogReadLimit = 262144;

// The current time in whole seconds since 1970, rounded down.
UnixSeconds unix_time_now();

// Optional "-" and decimal digits, nothing else, fitting a signed 32-bit integer; else -1.
int parse_int_or_minus1(std::string_view text);

// The last match-server address of one r3dlog text that the client confirmed.
std::optional<std::string> parse_conn_log(std::string_view text);
// The newest public match server of the sessions stamped in the last 24 hours.
std::optional<LogHit> find_r3dlog_server(const std::filesystem::path& folder, UnixSeconds now);

// The relay of one Roblox log line stamped in the last 24 hours (any numeric address).
std::optional<LogHit> parse_udmux_log(std::string_view line, UnixSeconds now);
// The latest public relay in the tails of the eight newest player logs of the last 24 hours.
std::optional<LogHit> find_player_log_server(const std::filesystem::path& folder, UnixSeconds now);

}  // namespace tarvisko
