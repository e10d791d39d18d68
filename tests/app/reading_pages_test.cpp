// The computer and local-network pages and the names of route responders in the program's own
// window, with the readings and the resolver served by fakes.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/services.h"
#include "results/fixtures.h"
#include "shell_window.h"

namespace tarvisko {
namespace {

using test::list_cell;
using test::pump_until;
using test::ShellWindow;

bool list_contains(HWND list, const std::wstring& text) {
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            if (list_cell(list, row, column).find(text) != std::wstring::npos) return true;
        }
    }
    return false;
}

TableModel one_row_table(const std::wstring& title, const std::wstring& cell) {
    TableModel table;
    table.title = title;
    table.kind = 1;
    table.columns = {{L"Pozycja", 200}, {L"Wartość", 200}};
    table.rows = {{{cell, L"1"}, L"", {}, L"", {}}};
    return table;
}

TEST(ReadingPages, ComputerAndLanPagesShowTheirReadingsAndReadAgain) {
    ShellWindow shell;
    int computer_readings = 0;
    int lan_readings = 0;
    app_services().computer_state_view = [&](const TableModel&) {
        ++computer_readings;
        return one_row_table(L"Odczyt komputera",
                             L"Procesor " + std::to_wstring(computer_readings));
    };
    app_services().lan_devices_view = [&] {
        ++lan_readings;
        return one_row_table(L"Odczyt sieci lokalnej", L"Router");
    };
    HWND list = GetDlgItem(shell.window, results_list_id);

    shell.command(first_nav_button_id + 2);
    ASSERT_TRUE(pump_until([&] { return collecting_view == 0 && computer_readings == 1; }));
    pump_until([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(main_window_state.shown_table.title, L"Odczyt komputera");
    EXPECT_TRUE(list_contains(list, L"Procesor 1"));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(shell.window, refresh_reading_button_id)));

    shell.command(refresh_reading_button_id);
    ASSERT_TRUE(pump_until([&] { return collecting_view == 0 && computer_readings == 2; }));
    pump_until([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_TRUE(list_contains(list, L"Procesor 2"));

    shell.command(first_nav_button_id + 3);
    ASSERT_TRUE(pump_until([&] { return collecting_view == 0 && lan_readings == 1; }));
    pump_until([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(main_window_state.shown_table.title, L"Odczyt sieci lokalnej");
    EXPECT_TRUE(list_contains(list, L"Router"));
}

TEST(ReadingPages, RouteRespondersGetTheirNamesOnce) {
    ShellWindow shell;
    int lookups = 0;
    app_services().resolve_ptr_names = [&](const std::vector<std::string>& addresses,
                                           std::stop_token) {
        ++lookups;
        ResponderNameMap names;
        for (const std::string& address : addresses) {
            names[address] = ResponderName{
                L"hop-" + std::wstring(address.begin(), address.end()) + L".example", L""};
        }
        return names;
    };
    last_results[1] = test::load_result_fixture("trace-silent-router");
    HWND list = GetDlgItem(shell.window, results_list_id);

    shell.command(first_nav_button_id + 7);
    ASSERT_TRUE(pump_until([&] {
        return lookups == 1 && responder_lookup.lookup_session_id.empty() &&
               !responder_lookup.shown_responder_names.names.empty();
    }));
    pump_until([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_TRUE(list_contains(list, L"hop-10.200.2.2.example"));

    // The names of the report on show are held: showing the page again asks for none.
    shell.command(first_nav_button_id);
    shell.command(first_nav_button_id + 7);
    pump_until([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(lookups, 1);
    EXPECT_TRUE(list_contains(list, L"hop-10.200.2.2.example"));
}

}  // namespace
}  // namespace tarvisko
