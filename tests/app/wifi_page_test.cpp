// The Wi-Fi page in the program's own window, with the reading served by a fake service: the
// page starts a reading, takes it over when it arrives and shows its table, chart line and
// assessment; the how-to, the assessment details and the router panel act on that reading.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/details_window.h"
#include "app/messages.h"
#include "app/services.h"
#include "readings/wifi_reading.h"
#include "shell_window.h"

namespace tarvisko {
namespace {

using test::pump_until;
using test::ShellWindow;

std::wstring window_text(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

WifiReading served_reading() {
    WifiReading reading;
    reading.table.title = L"Odczyt Wi-Fi";
    reading.table.kind = 1;
    reading.table.columns = {{L"Sieć", 200}, {L"Kanał", 80}};
    reading.table.rows = {{{L"Dom", L"6"}, L"Własna sieć", {}, L"", {}},
                          {{L"Sąsiad", L"11"}, L"Sieć obok", {}, L"", {}}};
    reading.router_instructions = L"Otwórz panel routera i wybierz kanał 1.";
    reading.card =
        TextCard{L"Kanał 6 jest zatłoczony", L"Zmień kanał na 1", L"Trzy sieci nakładają się.", 2};
    reading.chart.band = 2;  // a 5 GHz connection: the first reading picks that band
    return reading;
}

TEST(WifiPage, ShowsTheReadingAndActsOnIt) {
    ShellWindow shell;
    int readings = 0;
    std::vector<std::wstring> opened;
    app_services().read_wifi_environment = [&](bool) {
        ++readings;
        return served_reading();
    };
    app_services().resolve_router_panel = [] { return std::wstring(); };
    app_services().shell_execute = [&](HWND, const wchar_t*, const wchar_t* file) {
        opened.emplace_back(file);
        return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
    };

    shell.command(first_nav_button_id + 4);
    ASSERT_TRUE(
        pump_until([] { return collecting_view == 0 && !shown_wifi_reading.table.rows.empty(); }));
    EXPECT_EQ(readings, 1);
    EXPECT_EQ(main_window_state.current_page, 4);
    HWND list = GetDlgItem(shell.window, results_list_id);
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(main_window_state.wifi.wifi_band_index, 1);
    EXPECT_EQ(shell.control_text(wifi_chart_id), wifi_summary_line(served_reading().chart, 2));
    EXPECT_EQ(shell.control_text(wifi_recommendation_id),
              L"Kanał 6 jest zatłoczony. Zmień kanał na 1");

    // Showing the page again uses the reading on hand.
    shell.command(first_nav_button_id);
    shell.command(first_nav_button_id + 4);
    pump_until([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(readings, 1);

    shell.command(channel_help_button_id);
    ASSERT_NE(details_window, nullptr);
    EXPECT_EQ(window_text(details_window), L"Jak zmienić kanał Wi-Fi");
    EXPECT_EQ(window_text(GetDlgItem(details_window, details_text_id)),
              L"Otwórz panel routera i wybierz kanał 1.");

    shell.command(wifi_details_button_id);
    ASSERT_NE(details_window, nullptr);
    EXPECT_EQ(window_text(details_window), L"Ocena kanału Wi-Fi");
    EXPECT_EQ(window_text(GetDlgItem(details_window, details_text_id)),
              L"Trzy sieci nakładają się.");
    DestroyWindow(details_window);

    // No gateway on the Wi-Fi interface: a message, and nothing is opened.
    shell.command(router_panel_button_id);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(main_window_state.shown_table.title,
              L"Nie znaleziono adresu panelu aktualnej bramy. Połącz się z Wi-Fi i odśwież skan.");
}

}  // namespace
}  // namespace tarvisko
