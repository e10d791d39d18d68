// The Wi-Fi before/after comparison in the program's own window, from the WLAN service up: the
// page's "Przed" button saves a crowded scan with the own network on channel 6 to the baseline
// file, "Po" compares a scan taken after the router moved to channel 1, "Porównanie" opens both
// charts, and a second process started from this executable finds the saved scan in the file as
// the program does after a restart.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/details_window.h"
#include "app/services.h"
#include "engine/common/text.h"
#include "readings/wifi_baseline.h"
#include "readings/wifi_calls.h"
#include "readings/wifi_chart.h"
#include "readings/wifi_comparison.h"
#include "shell_window.h"
#include "support/wifi_fixtures.h"
#include "support/window_harness.h"
#include "support/wlan_fake.h"

namespace tarvisko {
namespace {

using test::BssEntry;
using test::pump_until;
using test::ShellWindow;
using test::WindowHarness;

const std::wstring saved_card_line =
    L"Zapisano skan przed zmianą. Kanał 6 · 2,4 GHz · Po zmianie uruchom skan „Po”.";
const std::wstring better_card_line = L"Jest poprawa. Warto zostawić nowe ustawienia.";

BssEntry network(std::uint32_t n, std::string ssid, std::uint8_t channel, LONG rssi) {
    BssEntry entry;
    entry.bssid = test::test_bssid(n);
    entry.ssid = std::move(ssid);
    entry.frequency_khz = (2407 + 5 * ULONG{channel}) * 1000;
    entry.rssi_dbm = rssi;
    entry.elements = test::ht_operation(channel, test::ht_no_secondary);
    return entry;
}

// The own access point "Dom" (network 1) on `channel` among neighbours that stay where they are:
// five around channel 6, four of them strong, one on 11 and a weak one on 1.
std::vector<BssEntry> scene_with_own_channel(std::uint8_t channel) {
    return {network(1, "Dom", channel, -50), network(2, "Sasiad", 6, -55),
            network(3, "Kawiarnia", 5, -60), network(4, "Biuro", 7, -62),
            network(5, "Piekarnia", 8, -65), network(6, "Apteka", 4, -68),
            network(7, "Szkoła", 11, -70),   network(8, "Daleko", 1, -80)};
}

// One connected adapter behind the WLAN fake, installed as the table of every Wi-Fi reading the
// window's jobs make; no gateway, so no UPnP search. Lives longer than the window so that no job
// outlives its fake.
class WlanScene {
  public:
    WlanScene() {
        calls_.wlan = &wlan.api();
        calls_.gateways = [](const WLAN_INTERFACE_INFO&) { return WifiGateways{}; };
        install_wifi_calls(&calls_);
    }
    ~WlanScene() { install_wifi_calls(nullptr); }
    WlanScene(const WlanScene&) = delete;
    WlanScene& operator=(const WlanScene&) = delete;

    // From the next reading on, the router sends on `channel`; the scan is confirmed at once.
    void serve(std::uint8_t channel) {
        test::FakeWlanInterface item = test::connected_wlan_interface(
            1, test::wlan_connection("Dom", test::test_bssid(1)), -47, channel);
        item.bss_list = {ERROR_SUCCESS, test::bss_list(scene_with_own_channel(channel))};
        wlan.interfaces = {item};
        wlan.scan_notifications = {test::FakeScanNotification{}};
    }

    test::FakeWlan wlan;

  private:
    WifiCalls calls_;
};

std::string file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::wstring window_text(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool enabled(const ShellWindow& shell, int id) {
    return IsWindowEnabled(GetDlgItem(shell.window, id)) != FALSE;
}

// Presses a Wi-Fi scan button and waits until the window has taken the reading over.
bool scan(const ShellWindow& shell, int button, bool (*done)()) {
    shell.command(button);
    return pump_until([done] { return collecting_view == 0 && done(); });
}

// How many pixels of the own network's colour a chart panel shows in the plot's column at the
// channel's centre. The panel draws its chart at 96 DPI one pixel inside its frame, below a
// 30-pixel title band, on the comparison's common span.
int own_pixels_at_channel(const test::Dib& panel, const ChartData& chart, int channel) {
    const int chart_left = 1;
    const int chart_top = 31;
    const std::optional<ChartPlot> plot =
        chart_plot_area(panel.width() - 2, panel.height() - 32, 96);
    if (!plot) return -1;
    const FrequencySpan span{chart.span_low_mhz, chart.span_high_mhz};
    const int x = chart_left + chart_x(*plot, span, 2407 + 5 * channel);
    const RECT column{x, chart_top + plot->top, x + 1, chart_top + plot->bottom + 1};
    return panel.count(RGB(0x00, 0x5D, 0xA6), column);
}

TEST(WifiCompare, BeforeAfterComparisonAndRestart) {
    WlanScene scene;
    ShellWindow shell;
    app_services().read_wifi_environment = product_services().read_wifi_environment;
    const std::filesystem::path profile = shell.local_app_data.path();
    const std::filesystem::path file = profile / "QUORVEL" / "Sondaro" / "wifi-baseline.json";

    // The page's first showing reads the connection; nothing is saved yet.
    scene.serve(6);
    shell.command(first_nav_button_id + 4);
    ASSERT_TRUE(
        pump_until([] { return collecting_view == 0 && !shown_wifi_reading.table.rows.empty(); }));
    EXPECT_EQ(shell.control_text(wifi_comparison_id),
              L"Porównaj ustawienia. Zapisz skan przed zmianą kanału.");
    EXPECT_TRUE(enabled(shell, wifi_before_button_id));
    EXPECT_FALSE(enabled(shell, wifi_after_button_id));
    EXPECT_FALSE(std::filesystem::exists(file));

    // "Przed": the crowded scan on channel 6 goes into the file and the card.
    ASSERT_TRUE(
        scan(shell, wifi_before_button_id, [] { return wifi_baseline_snapshot.has_value(); }));
    const WifiSnapshot before = *wifi_baseline_snapshot;
    EXPECT_EQ(before.channel.band, 1);
    EXPECT_EQ(before.channel.channel, 6);
    EXPECT_EQ(before.overlap.overlapping, 5);
    EXPECT_EQ(shell.control_text(wifi_comparison_id), saved_card_line);
    const TextCard saved_card = wifi_compare_card;
    const std::string saved_bytes = file_bytes(file);
    EXPECT_EQ(saved_bytes, write_wifi_baseline(before));
    const BaselineReading reread = read_wifi_baseline(saved_bytes);
    EXPECT_EQ(reread.refused, "");
    EXPECT_TRUE(enabled(shell, wifi_after_button_id));

    // "Po" after the router moved to channel 1: better, and the saved "Przed" stays as it was.
    scene.serve(1);
    ASSERT_TRUE(scan(shell, wifi_after_button_id, [] { return wifi_after_snapshot.has_value(); }));
    const WifiSnapshot after = *wifi_after_snapshot;
    EXPECT_EQ(after.channel.channel, 1);
    EXPECT_EQ(after.connection_id, before.connection_id);
    EXPECT_EQ(shell.control_text(wifi_comparison_id), better_card_line);
    EXPECT_EQ(wifi_compare_card.status, 1);
    EXPECT_EQ(file_bytes(file), saved_bytes);
    EXPECT_TRUE(enabled(shell, wifi_after_button_id));
    scene.wlan.expect_released();
    WindowHarness::screenshot("wifi-compare-page4");

    // "Porównanie": the card's body, the change lines and both charts.
    shell.command(wifi_compare_button_id);
    ASSERT_NE(details_window, nullptr);
    ASSERT_TRUE(details_chart.has_value());
    const ChartData chart = *details_chart;
    EXPECT_EQ(chart.band, 1);
    EXPECT_EQ(chart.span_low_mhz, 2400);
    EXPECT_EQ(chart.span_high_mhz, 2500);
    WindowHarness::pump();
    EXPECT_EQ(window_text(details_window), L"Porównanie Wi-Fi przed i po zmianie");
    EXPECT_EQ(window_text(GetDlgItem(details_window, details_text_id)), wifi_compare_card.body);
    EXPECT_EQ(window_text(GetDlgItem(details_window, details_before_panel_id)),
              L"Przed  ·  kanał 6  ·  20 MHz");
    EXPECT_EQ(window_text(GetDlgItem(details_window, details_after_panel_id)),
              L"Po  ·  kanał 1  ·  20 MHz");
    const std::wstring changes = window_text(GetDlgItem(details_window, details_caption_id));
    EXPECT_EQ(changes, describe_scan_changes(before, after));
    EXPECT_NE(changes.find(L"Nakładające się punkty Wi-Fi   5 → 2   (zmiana -3)"),
              std::wstring::npos)
        << to_utf8(changes);
    EXPECT_NE(changes.find(L"Sygnał własnej sieci   -47 dBm → -47 dBm   (zmiana 0 dB)"),
              std::wstring::npos)
        << to_utf8(changes);
    for (int id : {details_before_panel_id, details_after_panel_id, details_caption_id})
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(details_window, id)));

    bool handled = false;
    const auto before_panel = WindowHarness::render_control(
        GetDlgItem(details_window, details_before_panel_id), &handled, details_window);
    EXPECT_TRUE(handled);
    EXPECT_GT(own_pixels_at_channel(*before_panel, chart, 6), 0);
    EXPECT_EQ(own_pixels_at_channel(*before_panel, chart, 1), 0);
    handled = false;
    const auto after_panel = WindowHarness::render_control(
        GetDlgItem(details_window, details_after_panel_id), &handled, details_window);
    EXPECT_TRUE(handled);
    EXPECT_GT(own_pixels_at_channel(*after_panel, chart, 1), 0);
    EXPECT_EQ(own_pixels_at_channel(*after_panel, chart, 6), 0);
    WindowHarness::screenshot("wifi-compare-window");
    DestroyWindow(details_window);

    // A restart: this window ends, and a new process of this executable shows the page with the
    // same profile folder and reports what it saw.
    DestroyWindow(shell.window);
    pump_until([] { return true; });
    test::TempDir out;
    const std::filesystem::path report = out.path() / "restart.json";
    ASSERT_EQ(
        test::run_self(
            L"--restart-child \"" + profile.wstring() + L"\" \"" + report.wstring() + L"\"", 90000),
        0u);
    const nlohmann::json seen = nlohmann::json::parse(file_bytes(report), nullptr, false);
    ASSERT_TRUE(seen.is_object()) << file_bytes(report);
    // The file is read when the Wi-Fi page is first shown, not before.
    EXPECT_EQ(seen.value("card_before_page", ""), "Porównaj ustawienia");
    EXPECT_EQ(seen.value("card_line", ""), to_utf8(saved_card_line));
    EXPECT_EQ(seen.value("card_body", ""), to_utf8(saved_card.body));
    EXPECT_EQ(seen.value("after_enabled", false), true);
    EXPECT_EQ(seen.value("baseline_observed_at", ""), before.observed_at);
    EXPECT_EQ(seen.value("after_card_line", ""), to_utf8(better_card_line));
    EXPECT_EQ(seen.value("chart", false), true);
    EXPECT_EQ(file_bytes(file), saved_bytes);
}

// The second process: the program's window on the profile folder of the first, showing the Wi-Fi
// page without a reading (the saved scan alone), then a "Po" scan on channel 1. Writes what it
// saw into `report`; the first process judges it.
LONG WINAPI end_at_once(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

int run_restart_child(const std::wstring& profile, const std::wstring& report) {
    // A fault ends the child at once; Wine would otherwise start its debugger and keep it alive.
    SetUnhandledExceptionFilter(end_at_once);
    WlanScene scene;
    ShellWindow shell;
    test::ScopedEnv profile_env(L"LOCALAPPDATA", profile);
    nlohmann::json seen;
    seen["card_before_page"] = to_utf8(wifi_compare_card.title);
    shell.command(first_nav_button_id + 4);
    pump_until([] { return false; }, std::chrono::milliseconds(100));
    seen["card_line"] = to_utf8(shell.control_text(wifi_comparison_id));
    seen["card_body"] = to_utf8(wifi_compare_card.body);
    seen["after_enabled"] = enabled(shell, wifi_after_button_id);
    seen["baseline_observed_at"] =
        wifi_baseline_snapshot ? wifi_baseline_snapshot->observed_at : std::string();

    app_services().read_wifi_environment = product_services().read_wifi_environment;
    scene.serve(1);
    if (scan(shell, wifi_after_button_id, [] { return wifi_after_snapshot.has_value(); })) {
        seen["after_card_line"] = to_utf8(shell.control_text(wifi_comparison_id));
        seen["chart"] = wifi_baseline_chart(wifi_comparison_state()).has_value();
    }
    std::ofstream(std::filesystem::path(report), std::ios::binary) << seen.dump();
    return 0;
}

}  // namespace
}  // namespace tarvisko

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--restart-child") {
        // The paths come back as UTF-16 from the command line, whatever the code page.
        int count = 0;
        LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
        if (wide == nullptr || count != 4) return 2;
        const int code = tarvisko::run_restart_child(wide[2], wide[3]);
        LocalFree(wide);
        return code;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
