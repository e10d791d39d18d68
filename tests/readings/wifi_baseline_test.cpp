#include "readings/wifi_baseline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "wifi_comparison_support.h"

namespace tarvisko {
namespace {

using nlohmann::json;
using test::before_scan;
using test::heard;
using test::open_file;
using test::read_bytes;
using test::write_bytes;
using Profile = test::WifiProfile;

const std::string before_text =
    R"({"band":24,"center_mhz":2437,"channel":6,"client_version":"1.1.18",)"
    R"("connection_id":"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",)"
    R"("observed_at":"2024-05-01T10:00:00.000Z","os_version":"10.0.19045","overlapping":3,)"
    R"("plot":[[2427,2427,20,0,-60,false],[2447,2447,20,0,-75,false],)"
    R"([2442,2442,20,0,-82,false],[2472,2472,20,0,-50,false],[2437,2437,20,0,-60,true]],)"
    R"("primary_mhz":2437,"rssi_dbm":-60,"schema_version":1,"score":3.0,)"
    R"("second_center_mhz":0,"strong":1,"unknown_width":0,"width_mhz":20})";

TEST(WifiBaselineFile, WriterOutput) {
    EXPECT_EQ(write_wifi_baseline(before_scan()), before_text);

    // 6 GHz, no own signal, no Windows version, no plot; the score as the shortest double text.
    WifiSnapshot sparse = before_scan();
    sparse.channel = {3, 37, 6135, 6185, 160, 0};
    sparse.rssi_dbm.reset();
    sparse.os_version.clear();
    sparse.plot.reset();
    sparse.overlap = {2, 0, 2, 0.1 + 0.2};
    const std::string sparse_text = write_wifi_baseline(sparse);
    EXPECT_NE(sparse_text.find(R"("band":6,"center_mhz":6185,"channel":37,)"), std::string::npos);
    EXPECT_NE(sparse_text.find(R"("os_version":null,"overlapping":2,"primary_mhz":6135,)"
                               R"("rssi_dbm":null,)"),
              std::string::npos);
    EXPECT_NE(sparse_text.find(R"("score":0.30000000000000004,)"), std::string::npos);
    EXPECT_EQ(sparse_text.find("plot"), std::string::npos);

    // Text is written as UTF-8, and text that is not UTF-8 is an error, not a broken file.
    WifiSnapshot polish = before_scan();
    polish.os_version = "10.0 wersja ż";
    EXPECT_NE(write_wifi_baseline(polish).find("\"10.0 wersja \xC5\xBC\""), std::string::npos);
    polish.os_version = "\xC5";
    EXPECT_THROW(write_wifi_baseline(polish), std::exception);
}

TEST(WifiBaselineFile, WriteThenReadGivesTheSnapshotBack) {
    WifiSnapshot five = before_scan();
    five.channel = {2, 36, 5180, 5210, 80, 5775};
    five.plot = std::vector<plot_point>{heard(5180, -70, false, 80, 5210, 5775),
                                        heard(5500, -127, false, 0),
                                        heard(5180, -50, true, 80, 5210, 5775)};
    WifiSnapshot six = before_scan();
    six.channel = {3, 2, 5935, 5935, 20, 0};
    six.plot = std::vector<plot_point>{};
    six.rssi_dbm = 0;
    WifiSnapshot bare = before_scan();
    bare.plot.reset();
    bare.rssi_dbm.reset();
    bare.os_version.clear();
    for (const WifiSnapshot& snapshot : {before_scan(), five, six, bare}) {
        SCOPED_TRACE(snapshot.channel.band);
        const std::string text = write_wifi_baseline(snapshot);
        const BaselineReading reading = read_wifi_baseline(text);
        ASSERT_TRUE(reading.snapshot) << reading.refused;
        test::expect_same_snapshot(*reading.snapshot, snapshot);
    }
    // A snapshot without a connection id is written as it is, and not accepted back.
    WifiSnapshot anonymous = before_scan();
    anonymous.connection_id.clear();
    const std::string text = write_wifi_baseline(anonymous);
    EXPECT_NE(text.find(R"("connection_id":"",)"), std::string::npos);
    EXPECT_EQ(read_wifi_baseline(text).refused, "connection_id");
}

// The valid file with one change made to its document.
std::string changed(const std::function<void(json&)>& change) {
    json doc = json::parse(before_text);
    change(doc);
    return doc.dump();
}

TEST(WifiBaselineFile, EachRuleRefusesOnce) {
    const std::string long_text(33, '1');
    const struct {
        const char* name;
        std::function<void(json&)> change;
        const char* refused;
    } cases[] = {
        {"an extra member", [](json& d) { d["comment"] = "x"; }, "members"},
        {"an extra member in place of the plot",
         [](json& d) {
             d.erase("plot");
             d["extra"] = 1;
         },
         "members"},
        {"a member missing", [](json& d) { d.erase("strong"); }, "members"},
        {"a member renamed",
         [](json& d) {
             d.erase("plot");
             d.erase("band");
             d["Band"] = 24;
         },
         "band"},
        {"not an object",
         [](json& d) {
             d = json::array({1, 2});
         },
         "members"},
        {"schema 2", [](json& d) { d["schema_version"] = 2; }, "schema_version"},
        {"schema 1.0", [](json& d) { d["schema_version"] = 1.0; }, "schema_version"},
        {"schema as text", [](json& d) { d["schema_version"] = "1"; }, "schema_version"},
        {"time not a text", [](json& d) { d["observed_at"] = 20240501; }, "observed_at"},
        {"time with one digit of milliseconds",
         [](json& d) { d["observed_at"] = "2024-05-01T10:00:00.1Z"; }, "observed_at"},
        {"time with a blank for T", [](json& d) { d["observed_at"] = "2024-05-01 10:00:00Z"; },
         "observed_at"},
        {"time without Z", [](json& d) { d["observed_at"] = "2024-05-01T10:00:00.000+"; },
         "observed_at"},
        {"time with a letter for a digit",
         [](json& d) { d["observed_at"] = "2024-05-0xT10:00:00.000Z"; }, "observed_at"},
        {"time with a comma for the dot",
         [](json& d) { d["observed_at"] = "2024-05-01T10:00:00,000Z"; }, "observed_at"},
        {"id in capitals", [](json& d) { d["connection_id"] = std::string(64, 'A'); },
         "connection_id"},
        {"id of 63 digits", [](json& d) { d["connection_id"] = std::string(63, 'a'); },
         "connection_id"},
        {"id not a text", [](json& d) { d["connection_id"] = nullptr; }, "connection_id"},
        {"band as the program counts it", [](json& d) { d["band"] = 1; }, "band"},
        {"band 5 with a 2.4 GHz channel", [](json& d) { d["band"] = 5; }, "primary_mhz"},
        {"band as a float", [](json& d) { d["band"] = 24.0; }, "band"},
        {"primary not the channel's", [](json& d) { d["channel"] = 7; }, "primary_mhz"},
        {"channel 0", [](json& d) { d["channel"] = 0; }, "primary_mhz"},
        {"channel negative", [](json& d) { d["channel"] = -6; }, "channel"},
        {"centre below 2412", [](json& d) { d["center_mhz"] = 2400; }, "center_mhz"},
        {"centre above 7115", [](json& d) { d["center_mhz"] = 7116; }, "center_mhz"},
        {"width 0", [](json& d) { d["width_mhz"] = 0; }, "width_mhz"},
        {"width 60", [](json& d) { d["width_mhz"] = 60; }, "width_mhz"},
        {"second centre above 7115", [](json& d) { d["second_center_mhz"] = 7120; },
         "second_center_mhz"},
        {"score above 4096", [](json& d) { d["score"] = 4096.5; }, "score"},
        {"score negative", [](json& d) { d["score"] = -0.5; }, "score"},
        {"score as text", [](json& d) { d["score"] = "3.0"; }, "score"},
        {"score null", [](json& d) { d["score"] = nullptr; }, "score"},
        {"overlapping above 1024",
         [](json& d) {
             d["overlapping"] = 1025;
             d["strong"] = 0;
         },
         "overlapping"},
        {"more strong than overlapping", [](json& d) { d["strong"] = 4; }, "strong"},
        {"strong negative", [](json& d) { d["strong"] = -1; }, "strong"},
        {"more without width than overlapping", [](json& d) { d["unknown_width"] = 4; },
         "unknown_width"},
        {"signal -128", [](json& d) { d["rssi_dbm"] = -128; }, "rssi_dbm"},
        {"signal 1", [](json& d) { d["rssi_dbm"] = 1; }, "rssi_dbm"},
        {"signal as a float", [](json& d) { d["rssi_dbm"] = -60.0; }, "rssi_dbm"},
        {"version with one dot", [](json& d) { d["client_version"] = "1.18"; }, "client_version"},
        {"version with two dots in a row", [](json& d) { d["client_version"] = "1..18"; },
         "client_version"},
        {"version with a leading dot", [](json& d) { d["client_version"] = ".1.18"; },
         "client_version"},
        {"version with a trailing dot", [](json& d) { d["client_version"] = "1.18."; },
         "client_version"},
        {"version with a letter", [](json& d) { d["client_version"] = "1.1.1a"; },
         "client_version"},
        {"version with three dots", [](json& d) { d["client_version"] = "1.1.1.8"; },
         "client_version"},
        {"version of 33 characters",
         [&long_text](json& d) { d["client_version"] = "1.1." + long_text.substr(4); },
         "client_version"},
        {"version null", [](json& d) { d["client_version"] = nullptr; }, "client_version"},
        {"Windows version of 65 bytes", [](json& d) { d["os_version"] = std::string(65, '1'); },
         "os_version"},
        {"Windows version a number", [](json& d) { d["os_version"] = 10; }, "os_version"},
        {"plot not an array", [](json& d) { d["plot"] = json::object(); }, "plot"},
        {"plot null", [](json& d) { d["plot"] = nullptr; }, "plot"},
        {"1025 points",
         [](json& d) {
             d["plot"] = json::array();
             for (int i = 0; i < 1025; ++i) d["plot"].push_back({2412, 2412, 20, 0, -60, false});
         },
         "plot"},
        {"a point of five",
         [](json& d) {
             d["plot"][0] = {2427, 2427, 20, 0, -60};
         },
         "plot"},
        {"a point of seven", [](json& d) { d["plot"][0] = {2427, 2427, 20, 0, -60, false, 1}; },
         "plot"},
        {"own flag a number", [](json& d) { d["plot"][0][5] = 0; }, "plot"},
        {"a frequency as a float", [](json& d) { d["plot"][0][0] = 2427.0; }, "plot"},
        {"a point above 7115", [](json& d) { d["plot"][0][3] = 7120; }, "plot"},
        {"a point at -128 dBm", [](json& d) { d["plot"][0][4] = -128; }, "plot"},
        {"a point at 1 dBm", [](json& d) { d["plot"][0][4] = 1; }, "plot"},
        {"a 5 GHz point in a 2.4 GHz file",
         [](json& d) { d["plot"][0] = {5180, 5180, 20, 0, -60, false}; }, "plot"},
        {"a 5 GHz centre", [](json& d) { d["plot"][0][1] = 5180; }, "plot"},
        {"a 5 GHz second centre", [](json& d) { d["plot"][0][3] = 5775; }, "plot"},
        {"a frequency between channels", [](json& d) { d["plot"][0][0] = 2413; }, "plot"},
        {"a point of width 30", [](json& d) { d["plot"][0][2] = 30; }, "plot"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const BaselineReading reading = read_wifi_baseline(changed(c.change));
        EXPECT_FALSE(reading.snapshot);
        EXPECT_EQ(reading.refused, c.refused);
    }
}

TEST(WifiBaselineFile, AcceptedVariants) {
    const struct {
        const char* name;
        std::function<void(json&)> change;
        std::function<void(const WifiSnapshot&)> check;
    } cases[] = {
        {"no plot", [](json& d) { d.erase("plot"); },
         [](const WifiSnapshot& s) { EXPECT_FALSE(s.plot); }},
        {"an empty plot", [](json& d) { d["plot"] = json::array(); },
         [](const WifiSnapshot& s) {
             ASSERT_TRUE(s.plot);
             EXPECT_TRUE(s.plot->empty());
         }},
        {"a time without milliseconds", [](json& d) { d["observed_at"] = "2024-05-01T10:00:00Z"; },
         [](const WifiSnapshot& s) { EXPECT_EQ(s.observed_at, "2024-05-01T10:00:00.000Z"); }},
        {"a time that no clock shows",
         [](json& d) { d["observed_at"] = "2024-13-99T99:99:99.999Z"; },
         [](const WifiSnapshot& s) { EXPECT_EQ(s.observed_at, "2024-13-99T99:99:99.999Z"); }},
        {"no own signal", [](json& d) { d["rssi_dbm"] = nullptr; },
         [](const WifiSnapshot& s) { EXPECT_FALSE(s.rssi_dbm); }},
        {"signal -127", [](json& d) { d["rssi_dbm"] = -127; },
         [](const WifiSnapshot& s) { EXPECT_EQ(s.rssi_dbm, -127); }},
        {"signal 0", [](json& d) { d["rssi_dbm"] = 0; },
         [](const WifiSnapshot& s) { EXPECT_EQ(s.rssi_dbm, 0); }},
        {"no Windows version", [](json& d) { d["os_version"] = nullptr; },
         [](const WifiSnapshot& s) { EXPECT_EQ(s.os_version, ""); }},
        {"Windows version of 64 bytes", [](json& d) { d["os_version"] = std::string(64, '1'); },
         [](const WifiSnapshot& s) { EXPECT_EQ(s.os_version.size(), 64u); }},
        {"score 4096", [](json& d) { d["score"] = 4096.0; },
         [](const WifiSnapshot& s) { EXPECT_EQ(s.overlap.score, 4096.0); }},
        {"score written as an integer", [](json& d) { d["score"] = 2; },
         [](const WifiSnapshot& s) { EXPECT_EQ(s.overlap.score, 2.0); }},
        {"a point without width, a weak neighbour",
         [](json& d) { d["plot"][0] = {2427, 2427, 0, 0, -127, false}; },
         [](const WifiSnapshot& s) {
             EXPECT_EQ((*s.plot)[0], (plot_point{1, 4, 2427, 2427, 0, 0, -127, false}));
         }},
        {"1024 points",
         [](json& d) {
             d["plot"] = json::array();
             for (int i = 0; i < 1024; ++i) d["plot"].push_back({2412, 2412, 20, 0, -60, false});
         },
         [](const WifiSnapshot& s) { EXPECT_EQ(s.plot->size(), 1024u); }},
        {"a version of 32 characters",
         [](json& d) { d["client_version"] = "1.1." + std::string(28, '9'); },
         [](const WifiSnapshot& s) { EXPECT_EQ(s.client_version.size(), 32u); }},
        {"a 5 GHz file with a 5 GHz plot",
         [](json& d) {
             d["band"] = 5;
             d["channel"] = 36;
             d["primary_mhz"] = 5180;
             d["center_mhz"] = 5180;
             d["plot"] = json::array({json::array({5180, 5210, 80, 5775, -50, true})});
         },
         [](const WifiSnapshot& s) {
             EXPECT_EQ(s.channel.band, 2);
             EXPECT_EQ((*s.plot)[0], (plot_point{2, 36, 5180, 5210, 80, 5775, -50, true}));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const BaselineReading reading = read_wifi_baseline(changed(c.change));
        ASSERT_TRUE(reading.snapshot) << reading.refused;
        c.check(*reading.snapshot);
    }
}

TEST(WifiBaselineFile, HostileBytes) {
    const std::string valid = before_text;
    std::string score_overflow = valid;
    score_overflow.replace(score_overflow.find("3.0"), 3, "1e400");
    std::string bad_utf8 = valid;
    bad_utf8.replace(bad_utf8.find("10.0.19045"), 10, "10.0.\xC3\x28");
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"a byte-order mark", "\xEF\xBB\xBF" + valid},
        {"a comment before", "/* Przed */" + valid},
        {"a comment after", valid + "// Przed"},
        {"a second value", valid + "{}"},
        {"a NUL byte after", valid + std::string(1, '\0')},
        {"a score of 1e400", score_overflow},
        {"invalid UTF-8", bad_utf8},
        {"30,000 nested arrays", test::nested_arrays(30000)},
        {"a null", "null"},
        {"65,537 bytes", valid + std::string(wifi_baseline_max_bytes + 1 - valid.size(), ' ')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(parse_wifi_baseline(c.bytes.data(), c.bytes.size()));
    }
    // Blanks after the value are allowed: the largest file accepted is 65,536 bytes.
    const std::string largest = valid + std::string(wifi_baseline_max_bytes - valid.size(), ' ');
    EXPECT_TRUE(parse_wifi_baseline(largest.data(), largest.size()));
    EXPECT_EQ(read_wifi_baseline(largest + " ").refused, "size");

    for (std::size_t length = 0; length < valid.size(); ++length) {
        ASSERT_FALSE(parse_wifi_baseline(valid.data(), length)) << length;
    }
}

TEST(WifiBaselineFile, Path) {
    Profile profile;
    EXPECT_EQ(std::filesystem::path(wifi_baseline_path()), profile.file);
    EXPECT_NE(wifi_baseline_path().find(L"\\QUORVEL\\Sondaro\\wifi-baseline.json"),
              std::wstring::npos);
    {
        const test::ScopedEnv unset(L"LOCALAPPDATA", nullptr);
        EXPECT_EQ(wifi_baseline_path(), L"");
    }
    {
        const test::ScopedEnv empty(L"LOCALAPPDATA", std::wstring());
        EXPECT_EQ(wifi_baseline_path(), L"");
    }
}

TEST(WifiBaselineFile, LoadsOnceAndOnlyGoodFiles) {
    {
        Profile profile;
        write_bytes(profile.file, before_text);
        load_wifi_baseline_once(profile.state);
        ASSERT_TRUE(profile.store.wifi_baseline_snapshot);
        test::expect_same_snapshot(*profile.store.wifi_baseline_snapshot, before_scan());
        EXPECT_EQ(profile.store.wifi_compare_card, describe_saved_baseline(before_scan()));
        EXPECT_TRUE(profile.store.wifi_baseline_loaded);
        EXPECT_FALSE(profile.store.wifi_after_snapshot);
    }
    {
        // The second call does nothing, even when the file has appeared meanwhile.
        Profile profile;
        load_wifi_baseline_once(profile.state);
        EXPECT_TRUE(profile.store.wifi_baseline_loaded);
        write_bytes(profile.file, before_text);
        load_wifi_baseline_once(profile.state);
        EXPECT_FALSE(profile.store.wifi_baseline_snapshot);
        EXPECT_EQ(profile.store.wifi_compare_card, wifi_compare_initial_card());
    }
    {
        Profile profile;
        const test::ScopedEnv unset(L"LOCALAPPDATA", nullptr);
        load_wifi_baseline_once(profile.state);
        EXPECT_TRUE(profile.store.wifi_baseline_loaded);
        EXPECT_FALSE(profile.store.wifi_baseline_snapshot);
    }

    // Bad files change nothing, and are left as they are.
    const std::string padded =
        before_text + std::string(wifi_baseline_max_bytes - before_text.size(), ' ');
    const struct {
        const char* name;
        std::string bytes;
        std::uint64_t size;  // the file is extended with NUL bytes to this size
        bool loaded;
    } cases[] = {
        {"65,536 bytes", padded, 0, true},
        {"65,537 bytes", padded + " ", 0, false},
        {"100 MB", padded + " ", 100'000'000, false},
        {"a broken rule", changed([](json& d) { d["band"] = 2; }), 0, false},
        {"cut short", before_text.substr(0, 200), 0, false},
        {"an empty file", "", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Profile profile;
        write_bytes(profile.file, c.bytes);
        if (c.size != 0) std::filesystem::resize_file(profile.file, c.size);
        const std::string before = read_bytes(profile.file);
        const auto size = std::filesystem::file_size(profile.file);
        load_wifi_baseline_once(profile.state);
        EXPECT_EQ(profile.store.wifi_baseline_snapshot.has_value(), c.loaded);
        if (!c.loaded) {
            EXPECT_EQ(profile.store.wifi_compare_card, wifi_compare_initial_card());
        }
        EXPECT_EQ(read_bytes(profile.file), before);
        EXPECT_EQ(std::filesystem::file_size(profile.file), size);
    }
}

TEST(WifiBaselineFile, LoadingSharesTheFileWithWriters) {
    Profile profile;
    write_bytes(profile.file, before_text);
    // Another program that has the file open for writing does not keep it from being read.
    const HandleGuard<HANDLE> writer =
        open_file(profile.file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(writer);
    load_wifi_baseline_once(profile.state);
    EXPECT_TRUE(profile.store.wifi_baseline_snapshot);

    // One that shares nothing makes it a file that cannot be opened: silently no baseline.
    Profile locked;
    write_bytes(locked.file, before_text);
    const HandleGuard<HANDLE> holder = open_file(locked.file, GENERIC_READ, 0);
    ASSERT_TRUE(holder);
    load_wifi_baseline_once(locked.state);
    EXPECT_FALSE(locked.store.wifi_baseline_snapshot);
    EXPECT_TRUE(locked.store.wifi_baseline_loaded);
}

TEST(WifiBaselineFile, Save) {
    {
        Profile profile;
        save_wifi_baseline(before_scan());
        EXPECT_EQ(read_bytes(profile.file), before_text);
        // Only the file: no temporary file stays behind.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(profile.file.parent_path()),
                                std::filesystem::directory_iterator()),
                  1);
    }
    {
        const test::ScopedEnv unset(L"LOCALAPPDATA", nullptr);
        EXPECT_EQ(test::error_text([] { save_wifi_baseline(before_scan()); }),
                  "wifi_profile_missing");
    }
    {
        // LOCALAPPDATA names a file: the folder cannot be made.
        test::TempDir folder;
        const std::filesystem::path blocker = folder.path() / "not-a-folder";
        write_bytes(blocker, "x");
        const test::ScopedEnv env(L"LOCALAPPDATA", blocker.wstring());
        EXPECT_THROW(save_wifi_baseline(before_scan()), std::exception);
        EXPECT_EQ(read_bytes(blocker), "x");
    }
}

}  // namespace
}  // namespace tarvisko
