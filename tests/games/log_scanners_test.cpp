// The game-log scanners on log files shaped like the clients' own, and on hostile ones.
#include "games/log_scanners.h"

#include <gtest/gtest.h>

#include <string>

#include "log_fixtures.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using test::r3dlog_text;
using test::roblox_stamp;
using test::Session;
using test::session_near;
using test::udmux_line;
using test::write_fixture_file;
using test::write_session;

// Routable addresses in the shape the clients log them; nothing is ever sent to them.
constexpr const char* kMatchServer = "162.249.72.5";
constexpr const char* kOtherServer = "162.249.73.18";
constexpr const char* kRelay = "128.116.50.27";
constexpr const char* kOtherRelay = "128.116.44.3";

const UnixSeconds kNow = unix_time_now();

TEST(ParseIntOrMinus1, StrictDecimal) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {{"0", 0},
                 {"0042", 42},
                 {"-7", -7},
                 {"2147483647", 2147483647},
                 {"-2147483648", -2147483647 - 1},
                 {"2147483648", -1},
                 {"99999999999", -1},
                 {"", -1},
                 {"-", -1},
                 {"+1", -1},
                 {"1x", -1},
                 {" 1", -1},
                 {"1-", -1},
                 {"--1", -1}};
    for (const auto& c : cases) EXPECT_EQ(parse_int_or_minus1(c.text), c.expected) << c.text;
}

TEST(ParseConnLog, LastConfirmedCandidate) {
    auto connecting = [](const std::string& address, const std::string& port) {
        return "000004.877|    ALWAYS| CONN| Connecting to address (" + address + ") port (" +
               port + ")\r\n";
    };
    const std::string confirmed =
        "000005.301|    ALWAYS| CONN| Game Info Received: Initial Connection\r\n";
    const struct {
        std::string text;
        std::optional<std::string> expected;
    } cases[] = {
        // A documentation address still parses here; the scanner drops it as not public.
        {connecting("192.0.2.1", "5100") + "other line\n" + confirmed, "192.0.2.1"},
        {connecting(kMatchServer, "5100") + connecting(kOtherServer, "5101") + confirmed,
         kOtherServer},
        {connecting(kMatchServer, "5100") + connecting(kOtherServer, "0") + confirmed,
         std::nullopt},
        {connecting(kMatchServer, "5100") + connecting(kOtherServer, "70000") + confirmed,
         std::nullopt},
        {connecting(kMatchServer, "5100") + connecting(kOtherServer, "") + confirmed, std::nullopt},
        {connecting(std::string(46, '1'), "5100") + confirmed, std::nullopt},
        {connecting("162.249.72.g", "5100") + confirmed, std::nullopt},
        {connecting("999.1.1.1", "5100") + confirmed, std::nullopt},
        {connecting(kMatchServer, "51x0") + confirmed, std::nullopt},
        // No confirmation, or the confirmation before the connection.
        {connecting(kMatchServer, "5100"), std::nullopt},
        {confirmed + connecting(kMatchServer, "5100"), std::nullopt},
        // A later unconfirmed connection keeps the earlier result; a repeated confirmation the
        // same.
        {connecting(kMatchServer, "5100") + confirmed + connecting(kOtherServer, "5100"),
         kMatchServer},
        {connecting(kMatchServer, "5100") + confirmed + confirmed, kMatchServer},
        {connecting("2A01:4F8:1C1C::42", "5100") + confirmed, "2a01:4f8:1c1c::42"},
        // The last line needs no line feed.
        {connecting(kMatchServer, "5100") +
             "000005.301| CONN| Game Info Received: Initial Connection",
         kMatchServer},
        {std::string("\0\xff\xfe CONN| Connecting to address (", 33) + kMatchServer +
             ") port (1)\n" + confirmed,
         kMatchServer},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_conn_log(c.text), c.expected) << c.text;
}

TEST(ParseUdmuxLog, StampAddressAndPortRules) {
    const UnixSeconds at = kNow - 600;
    const std::string good = udmux_line(at, kRelay);
    auto with = [&](std::size_t position, const std::string& piece) {
        std::string line = good;
        line.replace(position, piece.size(), piece);
        return line;
    };
    const std::string tail = " [FLog::Network] UDMUX Address = 128.116.50.27, Port = 49152 |";
    const struct {
        std::string line;
        UnixSeconds now;
        bool hit;
    } cases[] = {
        {good, kNow, true},
        {good + "\r", kNow, true},
        {udmux_line(at, "2A01:4F8:1C1C::42"), kNow, true},
        // The window: both ends included.
        {good, at + 86400, true},
        {good, at + 86401, false},
        {good, at - 1, false},
        {with(23, "Z "), kNow, false},
        {with(10, " "), kNow, false},
        // Fields below zero or not plain numbers no longer pass the upper bounds.
        {with(11, "-1"), kNow, false},
        {with(14, "1x"), kNow, false},
        {with(17, "-0"), kNow, false},
        {with(20, "-12"), kNow, false},
        {with(0, "-001"), kNow, false},
        {"2026-02-29T10:00:00.000Z," + tail, 1772359200, false},  // 2026 is no leap year
        {"2028-02-29T10:00:00.000Z," + tail, 1835431200, true},
        {"2028-02-30T10:00:00.000Z," + tail, 1835517600, false},
        {"2028-13-01T10:00:00.000Z," + tail, 1835431200, false},
        {"2028-02-29T24:00:00.000Z," + tail, 1835431200, false},
        // Address and port rules.
        {udmux_line(at, kRelay, "0"), kNow, false},
        {udmux_line(at, kRelay, "65536"), kNow, false},
        {udmux_line(at, kRelay, "65535"), kNow, true},
        {udmux_line(at, std::string(46, '1')), kNow, false},
        {udmux_line(at, "128.116.50.x"), kNow, false},
        {udmux_line(at, "300.1.1.1"), kNow, false},
        {roblox_stamp(at) + ", [FLog::Network] UDMUX Address = 128.116.50.27, Port = 49152", kNow,
         false},
        {roblox_stamp(at) + ", [FLog::Network] UDMUX Address = 128.116.50.27 Port = 49152 |", kNow,
         false},
        {roblox_stamp(at) + ", [FLog::Network] UDMUX Address = 128.116.50.27, Port = 4", kNow,
         false},
        // The marker must start at position 24 or later.
        {"[FLog::Network] UDMUX Address = 128.116.50.27, Port = 49152 |", kNow, false},
        {"", kNow, false},
        {std::string(24, '\0') + tail, kNow, false},
    };
    for (const auto& c : cases) {
        const std::optional<LogHit> hit = parse_udmux_log(c.line, c.now);
        EXPECT_EQ(hit.has_value(), c.hit) << c.line;
        if (hit) {
            EXPECT_EQ(hit->time_text, c.line.substr(0, 24));
        }
    }
    EXPECT_EQ(parse_udmux_log(good, kNow), (LogHit{kRelay, roblox_stamp(at)}));
    EXPECT_EQ(parse_udmux_log(udmux_line(at, "2A01:4F8:1C1C::42"), kNow)->address,
              "2a01:4f8:1c1c::42");
}

class R3dlogScan : public ::testing::Test {
  protected:
    test::TempDir temp;
    std::filesystem::path folder = temp.path() / L"GameLogs";
};

TEST_F(R3dlogScan, LatestPublicSessionOfTheLastDayWins) {
    const Session older = session_near(kNow - 7200);
    const Session newer = session_near(kNow - 3600);
    const Session newest = session_near(kNow - 1800);
    const Session stale = session_near(kNow - 90000);
    write_session(folder, older, r3dlog_text(kOtherServer));
    write_session(folder, newer, r3dlog_text(kMatchServer));
    write_session(folder, newest, r3dlog_text("192.0.2.1"));  // documentation address: not public
    write_session(folder, stale, r3dlog_text("162.249.79.1"));
    // Names that are no session stamp, or whose fields read negative, are passed over.
    write_session(folder, {L"2026-03-14T18-02-1x", 0, {}}, r3dlog_text("162.249.79.2"));
    write_session(folder, {L"2026--3-14T18-02-11", 0, {}}, r3dlog_text("162.249.79.3"));
    write_session(folder, {L"2026-03-14TT8-02-11", 0, {}}, r3dlog_text("162.249.79.4"));
    write_session(folder, {L"2026-13-14T18-02-11", 0, {}}, r3dlog_text("162.249.79.5"));
    write_session(folder, {L"notes", 0, {}}, r3dlog_text("162.249.79.6"));

    const std::optional<LogHit> hit = find_r3dlog_server(folder, kNow);
    ASSERT_TRUE(hit);
    EXPECT_EQ(*hit, (LogHit{kMatchServer, newer.utc_text}));
    EXPECT_EQ(hit->time_text.size(), 20u);
}

TEST_F(R3dlogScan, WindowEndsAndFolderShapes) {
    const Session session = session_near(kNow - 3600);
    write_session(folder, session, r3dlog_text(kMatchServer));
    EXPECT_TRUE(find_r3dlog_server(folder, session.utc + 86400));
    EXPECT_FALSE(find_r3dlog_server(folder, session.utc + 86401));
    EXPECT_FALSE(find_r3dlog_server(folder, session.utc - 1));
    EXPECT_FALSE(find_r3dlog_server(temp.path() / L"missing", kNow));

    // A session folder whose log is a folder, or that has no log.
    test::TempDir other;
    const Session odd = session_near(kNow - 600);
    std::filesystem::create_directories(other.path() / odd.name / (odd.name + L"_r3dlog.txt"));
    std::filesystem::create_directories(other.path() / session.name);
    EXPECT_FALSE(find_r3dlog_server(other.path(), kNow));
}

TEST_F(R3dlogScan, ReadsOnlyTheFirst256KiB) {
    const Session early = session_near(kNow - 3600);
    const Session late = session_near(kNow - 1800);
    // A 2 GB log whose connection lines are at its start is found; lines past 256 KiB are not.
    test::write_sparse_file(folder / early.name / (early.name + L"_r3dlog.txt"), 2200000000LL,
                            r3dlog_text(kMatchServer), "\r\n");
    test::write_sparse_file(folder / late.name / (late.name + L"_r3dlog.txt"), 262144 + 4096,
                            std::string(262144, '\n'), r3dlog_text(kOtherServer));
    EXPECT_EQ(find_r3dlog_server(folder, kNow), (LogHit{kMatchServer, early.utc_text}));
}

TEST_F(R3dlogScan, HostileLogsGiveNoHit) {
    std::string one_line(262144, 'A');
    one_line.replace(100, 29, "CONN| Connecting to address (");
    const std::string hostile[] = {
        one_line,
        std::string(300000, '\0'),
        "\xff\xfe\xc3\x28 CONN| Connecting to address (\xe2\x82) port (5100)\n"
        "CONN| Game Info Received: Initial Connection\n",
        "CONN| Connecting to address (162.249.72.5) port (5100\nCONN| Game Info Received: Initial "
        "Connection",
        "CONN| Connecting to address (162.249.72.5 port 5100)\nCONN| Game Info Received: Initial "
        "Connection",
    };
    UnixSeconds at = kNow - 3000;
    for (const std::string& text : hostile) write_session(folder, session_near(at += 10), text);
    EXPECT_FALSE(find_r3dlog_server(folder, kNow));
}

class PlayerLogScan : public ::testing::Test {
  protected:
    std::filesystem::path write(const std::wstring& name, const std::string& text,
                                UnixSeconds last_write) {
        const std::filesystem::path path = folder / name;
        write_fixture_file(path, text);
        test::set_last_write(path, last_write);
        return path;
    }
    static std::string lines(std::initializer_list<std::string> items) {
        std::string text;
        for (const std::string& item : items) text += item + "\r\n";
        return text;
    }

    test::TempDir temp;
    std::filesystem::path folder = temp.path() / L"logs";
};

TEST_F(PlayerLogScan, LatestRelayLineAmongClientLines) {
    const std::string other =
        roblox_stamp(kNow - 900) + ",0.51,1c34,6 [FLog::Output] Connecting to server\r\n";
    write(L"0.612.0.6120585_20260314T180211Z_Player_A1B2C_last.log",
          other + lines({udmux_line(kNow - 800, kOtherRelay), udmux_line(kNow - 600, kRelay),
                         udmux_line(kNow - 500,
                                    "10.20.30.40"),  // private: a later public one may still win
                         roblox_stamp(kNow - 400) + ",9.1,1c34,6 [FLog::Network] Disconnected"}),
          kNow - 300);
    write(L"0.612.0.6120585_20260314T170211Z_Player_77777_last.log",
          lines({udmux_line(kNow - 2000, "128.116.9.9")}), kNow - 1900);
    // Names and extensions the client does not use, and stale files, are not read. (File names
    // are case-insensitive: each needs a name of its own.)
    write(L"0.612.0.6120585_20260314T180212Z_player_A1B2C_last.log",
          lines({udmux_line(kNow - 10, "128.116.1.1")}), kNow);
    write(L"0.612.0.6120585_20260314T180213Z_Player_A1B2C_last.LOG",
          lines({udmux_line(kNow - 10, "128.116.1.2")}), kNow);
    write(L"0.612.0.6120585_20260314T180214Z_Studio_A1B2C_last.log",
          lines({udmux_line(kNow - 10, "128.116.1.3")}), kNow);
    write(L"old_Player_.log", lines({udmux_line(kNow - 20, "128.116.1.4")}), kNow - 86401);
    std::filesystem::create_directories(folder / L"dir_Player_.log");

    EXPECT_EQ(find_player_log_server(folder, kNow), (LogHit{kRelay, roblox_stamp(kNow - 600)}));
    EXPECT_FALSE(find_player_log_server(temp.path() / L"missing", kNow));
}

TEST_F(PlayerLogScan, OnlyTheEightNewestFilesAreRead) {
    for (int i = 0; i < 8; ++i) {
        write(L"log_Player_" + std::to_wstring(i) + L".log",
              lines({udmux_line(kNow - 5000 + i, "128.116.2." + std::to_string(i + 1))}),
              kNow - 100 - i);
    }
    // The ninth file is the oldest by its last-write time, though its line is the newest.
    write(L"log_Player_9.log", lines({udmux_line(kNow - 5, "128.116.3.1")}), kNow - 200);
    EXPECT_EQ(find_player_log_server(folder, kNow)->address, "128.116.2.8");

    // Equal last-write times: the greater name is read first and wins an equal stamp.
    test::TempDir same;
    folder = same.path();
    write(L"a_Player_.log", lines({udmux_line(kNow - 50, "128.116.4.1")}), kNow - 10);
    write(L"b_Player_.log", lines({udmux_line(kNow - 50, "128.116.4.2")}), kNow - 10);
    EXPECT_EQ(find_player_log_server(folder, kNow)->address, "128.116.4.2");
}

TEST_F(PlayerLogScan, ReadsTheTailAndDropsItsFirstLine) {
    // The last 256 KiB start exactly at a relay line: it still counts as the partial first line.
    // The newest line lies before the tail and is never read.
    const std::string before = udmux_line(kNow - 50, "128.116.5.3") + "\n";
    const std::string dropped = udmux_line(kNow - 100, "128.116.5.1") + "\n";
    const std::string kept = udmux_line(kNow - 200, "128.116.5.2") + "\n";
    std::string padding(262144 - dropped.size() - kept.size(), '=');
    padding.back() = '\n';
    write(L"big_Player_.log", before + std::string(300000, '-') + "\n" + dropped + kept + padding,
          kNow - 10);
    EXPECT_EQ(find_player_log_server(folder, kNow)->address, "128.116.5.2");
}

TEST_F(PlayerLogScan, HostileLogs) {
    // A 2 GB sparse log with the relay on its very last line: found through a 64-bit offset.
    const std::filesystem::path huge = folder / L"huge_Player_.log";
    test::write_sparse_file(huge, 2200000000LL, {}, "\n" + udmux_line(kNow - 60, kRelay));
    test::set_last_write(huge, kNow - 5);
    // One 256 KiB line without a line feed, NUL bytes, invalid UTF-8 and lines without dates.
    std::string no_feed(300000, 'a');
    no_feed.replace(200000, 80, udmux_line(kNow - 1, "128.116.6.1").substr(0, 80));
    write(L"nofeed_Player_.log", no_feed, kNow - 6);
    write(
        L"nul_Player_.log",
        std::string(1000, '\0') + "\n" + std::string(5, '\0') + udmux_line(kNow - 1, "128.116.6.2"),
        kNow - 7);
    write(L"utf8_Player_.log",
          "\xff\xfe\xc3\x28" + udmux_line(kNow - 1, "128.116.6.3") + "\n" +
              "2026-0\xc3\xa9-14T18:02:11.123Z,0 [FLog::Network] UDMUX Address = 128.116.6.4, Port "
              "= 1 |\n",
          kNow - 8);
    write(L"nodate_Player_.log", ",6 [FLog::Network] UDMUX Address = 128.116.6.5, Port = 49152 |\n",
          kNow - 9);
    EXPECT_EQ(find_player_log_server(folder, kNow), (LogHit{kRelay, roblox_stamp(kNow - 60)}));
}

}  // namespace
}  // namespace tarvisko
