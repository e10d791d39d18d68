#pragma once
// What the tests of the baseline file and the before/after comparison share: a crowded "before"
// scan on channel 6 and a quieter "after" scan on channel 1 of the same access point, as the
// reading makes them; a temporary user profile; files read, written and held open.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/common/handle_guard.h"
#include "readings/wifi_channels.h"
#include "readings/wifi_comparison.h"
#include "readings/wifi_records.h"
#include "support/test_support.h"

namespace tarvisko::test {

inline const std::string connection_a =
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// A network heard on `mhz`, its channel as the scan derives it.
inline plot_point heard(std::int32_t mhz, std::int32_t rssi, bool own = false,
                        std::int32_t width = 20, std::int32_t center = 0, std::int32_t second = 0) {
    const wifi_channel channel = mhz_to_channel(mhz, {});
    return {channel.band, channel.channel, mhz,  center != 0 ? center : mhz,
            width,        second,          rssi, own};
}

inline WifiSnapshot before_scan() {
    WifiSnapshot s;
    s.observed_at = "2024-05-01T10:00:00.000Z";
    s.connection_id = connection_a;
    s.channel = {1, 6, 2437, 2437, 20, 0};
    s.overlap = {3, 1, 0, 3.0};
    s.rssi_dbm = -60;
    s.client_version = "1.1.18";
    s.os_version = "10.0.19045";
    s.plot = std::vector<plot_point>{heard(2427, -60), heard(2447, -75), heard(2442, -82),
                                     heard(2472, -50), heard(2437, -60, true)};
    return s;
}

inline WifiSnapshot after_scan() {
    WifiSnapshot s = before_scan();
    s.observed_at = "2024-05-01T10:12:30.500Z";
    s.channel = {1, 1, 2412, 2412, 20, 0};
    s.overlap = {1, 1, 0, 1.5};
    s.rssi_dbm = -62;
    s.plot = std::vector<plot_point>{heard(2427, -60), heard(2447, -75), heard(2442, -82),
                                     heard(2472, -50), heard(2412, -62, true)};
    return s;
}

inline void expect_same_snapshot(const WifiSnapshot& a, const WifiSnapshot& b) {
    EXPECT_EQ(a.observed_at, b.observed_at);
    EXPECT_EQ(a.connection_id, b.connection_id);
    EXPECT_EQ(a.channel, b.channel);
    EXPECT_EQ(a.overlap, b.overlap);
    EXPECT_EQ(a.rssi_dbm, b.rssi_dbm);
    EXPECT_EQ(a.client_version, b.client_version);
    EXPECT_EQ(a.os_version, b.os_version);
    EXPECT_EQ(a.plot, b.plot);
}

// The comparison state of a fresh process, as the shell keeps it.
struct WifiComparisonStore {
    std::optional<WifiSnapshot> wifi_baseline_snapshot;
    std::optional<WifiSnapshot> wifi_after_snapshot;
    TextCard wifi_compare_card = wifi_compare_initial_card();
    bool wifi_baseline_loaded = false;

    WifiComparisonState state() {
        return {wifi_baseline_snapshot, wifi_after_snapshot, wifi_compare_card,
                wifi_baseline_loaded};
    }
};

// A temporary LOCALAPPDATA with the comparison state of a fresh process.
struct WifiProfile {
    TempDir folder;
    ScopedEnv env{L"LOCALAPPDATA", folder.path().wstring()};
    std::filesystem::path file = folder.path() / "QUORVEL" / "Sondaro" / "wifi-baseline.json";
    WifiComparisonStore store;
    WifiComparisonState state = store.state();
};

// The file's first bytes: all of a small file.
inline std::string read_bytes(const std::filesystem::path& path, std::size_t most = 1 << 20) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(most, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(most));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

inline void write_bytes(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Another program's handle on the file.
inline HandleGuard<HANDLE> open_file(const std::filesystem::path& path, DWORD access, DWORD share) {
    return {CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr),
            [](HANDLE h) { CloseHandle(h); }, INVALID_HANDLE_VALUE};
}

}  // namespace tarvisko::test
