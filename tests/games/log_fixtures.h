#pragma once
// Game-log fixtures: files with chosen content and last-write times, and the time stamps the
// game clients write, all derived from one `now` so that no test depends on the host's zone.
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

#include "games/log_scanners.h"

namespace tarvisko {
inline void PrintTo(const LogHit& hit, std::ostream* out) {
    *out << hit.address << " at " << hit.time_text;
}
}  // namespace tarvisko

namespace tarvisko::test {

// Writes the bytes, creating missing folders; reads a whole file back.
void write_fixture_file(const std::filesystem::path& path, std::string_view bytes);
std::string read_fixture_file(const std::filesystem::path& path);
void set_last_write(const std::filesystem::path& path, UnixSeconds when);
// A sparse file of `size` bytes whose last bytes are `tail` and first bytes `head`.
void write_sparse_file(const std::filesystem::path& path, long long size, std::string_view head,
                       std::string_view tail);

// "YYYY-MM-DDTHH:MM:SS.fffZ" of a UTC time (milliseconds 123).
std::string roblox_stamp(UnixSeconds when);
// A Roblox client line that names a relay at `when`, among the client's other fields.
std::string udmux_line(UnixSeconds when, std::string_view address, std::string_view port = "49152");

// A League of Legends session: the folder name in local time for about `when`, and the UTC
// seconds and text that the local-to-UTC conversion gives back for that name.
struct Session {
    std::wstring name;
    UnixSeconds utc = 0;
    std::string utc_text;
};
Session session_near(UnixSeconds when);
// An r3dlog text that connects to `address` and confirms it, among other client lines, CR LF.
std::string r3dlog_text(std::string_view address, std::string_view port = "5116");
// Writes <folder>\<session>\<session>_r3dlog.txt.
std::filesystem::path write_session(const std::filesystem::path& folder, const Session& session,
                                    std::string_view text);

}  // namespace tarvisko::test
