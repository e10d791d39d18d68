// The window-side operations on real windows under the test display: the saved placement,
// tooltips, the icon gauge, the status texts on real children and the button states.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/control_ids.h"
#include "app/status_texts.h"

namespace tarvisko {
namespace {

// Counts the messages a window receives, by message number.
using MessageCounts = std::map<UINT, int>;

LRESULT CALLBACK counting_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                               DWORD_PTR counts) {
    ++(*reinterpret_cast<MessageCounts*>(counts))[message];
    return DefSubclassProc(window, message, wparam, lparam);
}

void count_messages(HWND window, MessageCounts& counts) {
    SetWindowSubclass(window, counting_proc, 1, reinterpret_cast<DWORD_PTR>(&counts));
}

// A plain top-level window with children made on request; destroyed with the object.
class HostWindow {
  public:
    HostWindow() {
        INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
        InitCommonControlsEx(&controls);
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = DefWindowProcW;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"TarviskoTestHost";
        RegisterClassW(&window_class);
        window = CreateWindowExW(0, L"TarviskoTestHost", L"Tarvisko", WS_OVERLAPPEDWINDOW, 50, 60,
                                 640, 480, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~HostWindow() { DestroyWindow(window); }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND child(const wchar_t* window_class, int id, const wchar_t* text = L"") const {
        return CreateWindowExW(0, window_class, text, WS_CHILD, 0, 0, 10, 10, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
    }
    HWND tooltip() const {
        return CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0, 0, 0, window, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    }

    HWND window = nullptr;
};

// The stored "Window" value, put back as it was when the object ends.
class SavedPlacement {
  public:
    SavedPlacement() { old_ = read(); }
    ~SavedPlacement() {
        if (old_) {
            RegSetKeyValueW(HKEY_CURRENT_USER, placement_key, placement_value, REG_BINARY,
                            old_->data(), static_cast<DWORD>(old_->size()));
        } else {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, placement_key, placement_value);
        }
    }
    SavedPlacement(const SavedPlacement&) = delete;
    SavedPlacement& operator=(const SavedPlacement&) = delete;

    static std::optional<std::vector<BYTE>> read() {
        std::vector<BYTE> bytes(256);
        DWORD size = static_cast<DWORD>(bytes.size());
        DWORD type = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, placement_key, placement_value, RRF_RT_ANY, &type,
                         bytes.data(), &size) != ERROR_SUCCESS ||
            type != REG_BINARY) {
            return std::nullopt;
        }
        bytes.resize(size);
        return bytes;
    }

  private:
    std::optional<std::vector<BYTE>> old_;
};

TEST(WindowPlacement, ShowCommandIsMaximizedOrNormal) {
    SavedPlacement saved;
    HostWindow host;
    struct Case {
        int show;
        UINT stored;
    };
    // Minimized, from normal or from maximized, is stored as normal: the window never reopens
    // minimized.
    for (const Case c : {Case{SW_SHOWNORMAL, 1}, Case{SW_MINIMIZE, 1}, Case{SW_MAXIMIZE, 3},
                         Case{SW_MINIMIZE, 1}}) {
        ShowWindow(host.window, c.show);
        save_window_placement(host.window);
        const std::optional<std::vector<BYTE>> bytes = SavedPlacement::read();
        ASSERT_TRUE(bytes.has_value());
        ASSERT_EQ(bytes->size(), 44u);
        WINDOWPLACEMENT placement;
        std::memcpy(&placement, bytes->data(), 44);
        EXPECT_EQ(placement.length, 44u);
        EXPECT_EQ(placement.showCmd, c.stored) << "ShowWindow " << c.show;
        // The normal rectangle is the one the window was created with, whatever its state.
        EXPECT_EQ(placement.rcNormalPosition.left, 50);
        EXPECT_EQ(placement.rcNormalPosition.right - placement.rcNormalPosition.left, 640);
    }
}

TEST(Tooltip, SameTextSendsNothingAndNewTextReplaces) {
    MessageCounts counts;  // outlives the windows, which report to it until they are destroyed
    HostWindow host;
    MainWindowState state = ui_state_init();
    state.main_window = host.window;
    state.tooltip_window = host.tooltip();
    const HWND control = host.child(L"BUTTON", download_tile_id);
    count_messages(state.tooltip_window, counts);

    auto tip_text = [&] {
        std::vector<wchar_t> buffer(1024);
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = host.window;
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.lpszText = buffer.data();
        SendMessageW(state.tooltip_window, TTM_GETTEXTW, buffer.size(),
                     reinterpret_cast<LPARAM>(&tool));
        return std::wstring(buffer.data());
    };

    set_tooltip(state, control, L"Średnia prędkość pobierania.");
    const int after_first = counts[TTM_ADDTOOLW] + counts[TTM_UPDATETIPTEXTW];
    EXPECT_GE(after_first, 1);
    EXPECT_EQ(tip_text(), L"Średnia prędkość pobierania.");

    set_tooltip(state, control, L"Średnia prędkość pobierania.");
    EXPECT_EQ(counts[TTM_ADDTOOLW] + counts[TTM_UPDATETIPTEXTW], after_first);

    set_tooltip(state, control, L"Ostatnia próbka: 12 Mb/s.");
    EXPECT_EQ(tip_text(), L"Ostatnia próbka: 12 Mb/s.");
    EXPECT_EQ(SendMessageW(state.tooltip_window, TTM_GETTOOLCOUNT, 0, 0), 1);
    EXPECT_EQ(state.tooltip_texts.at(control), L"Ostatnia próbka: 12 Mb/s.");
}

TEST(StatusIcon, OneSetIconPerLevel) {
    MessageCounts counts;
    HostWindow host;
    count_messages(host.window, counts);
    auto icon_of = [](int resource, int size_metric) {
        return reinterpret_cast<LPARAM>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), IMAGE_ICON,
                       GetSystemMetrics(size_metric), GetSystemMetrics(size_metric), LR_SHARED));
    };

    for (int level : {-1, 0, 7, 20}) {
        const int resource = level < 0 ? 1 : 20 + level;
        counts.clear();
        set_status_icon(host.window, level);
        EXPECT_EQ(counts[WM_SETICON], 2) << level;
        ASSERT_NE(icon_of(resource, SM_CXICON), 0) << "resource " << resource;
        EXPECT_EQ(SendMessageW(host.window, WM_GETICON, ICON_BIG, 0), icon_of(resource, SM_CXICON));
        EXPECT_EQ(SendMessageW(host.window, WM_GETICON, ICON_SMALL, 0),
                  icon_of(resource, SM_CXSMICON));
        set_status_icon(host.window, level);
        EXPECT_EQ(counts[WM_SETICON], 2) << "second call with level " << level;
    }

    SetTimer(host.window, 1, 200, nullptr);
    transfer_phase = 2;
    counts.clear();
    stop_live_timer(host.window);
    EXPECT_FALSE(KillTimer(host.window, 1));  // already gone
    EXPECT_EQ(transfer_phase, 0);
    EXPECT_EQ(SendMessageW(host.window, WM_GETICON, ICON_BIG, 0), icon_of(1, SM_CXICON));
}

// A window state whose text controls are real children of a plain window.
struct DashboardWindow {
    MessageCounts counts;
    HostWindow host;
    MainWindowState state = ui_state_init();

    DashboardWindow() {
        state.main_window = host.window;
        state.tooltip_window = host.tooltip();
        state.server_origin = L"https://serwer.example";
        state.page_subtitle_label = host.child(L"STATIC", 0);
        state.result_side_label = host.child(L"STATIC", 0);
        state.status_bar = host.child(L"STATIC", status_bar_id);
        for (int i = 0; i < 5; ++i)
            state.dashboard_tiles[i] = host.child(L"BUTTON", download_tile_id + i);
        for (int i = 0; i < 8; ++i)
            state.dashboard_rows[i] = host.child(L"BUTTON", first_section_card_id + i);
        state.conclusion_button = host.child(L"BUTTON", conclusion_button_id);
        state.report_button = host.child(L"BUTTON", report_button_id, L"Pełny raport");
        for (HWND control : text_controls()) count_messages(control, counts);
    }

    std::vector<HWND> text_controls() const {
        std::vector<HWND> controls{state.page_subtitle_label, state.result_side_label,
                                   state.status_bar, state.conclusion_button};
        controls.insert(controls.end(), state.dashboard_tiles.begin(), state.dashboard_tiles.end());
        controls.insert(controls.end(), state.dashboard_rows.begin(), state.dashboard_rows.end());
        return controls;
    }
};

TEST(StatusTextsOnWindow, WrittenOnceAndOnlyWhenChanged) {
    DashboardWindow dashboard;
    MainWindowState& state = dashboard.state;
    state.summary.has_report = true;
    state.summary.synchronized = true;
    state.summary.sync_text = L"Zapisano w panelu";
    state.summary.test_time_text = L"dziś 18:40";
    state.summary.tiles[2] = {L"Ping", L"14,2", L"Opóźnienie w spoczynku.", 1};
    state.summary.headline = L"Połączenie działa dobrze";
    refresh_status_texts(state);

    EXPECT_EQ(get_window_text(state.page_subtitle_label), L"Pomiar zakończony");
    EXPECT_EQ(get_window_text(state.result_side_label), L"Ostatni test   dziś 18:40");
    EXPECT_EQ(get_window_text(state.dashboard_tiles[2]), L"Ping   14,2 ms");
    EXPECT_EQ(get_window_text(state.conclusion_button), L"Połączenie działa dobrze");
    EXPECT_EQ(get_window_text(state.status_bar),
              L"Serwer potwierdził zapis   ·   Zapisano w panelu   ·   Gotowy   |   "
              L"https://serwer.example   ·   1.1.18");
    EXPECT_EQ(state.tooltip_texts.at(state.dashboard_tiles[2]), L"Opóźnienie w spoczynku.");

    dashboard.counts.clear();
    refresh_status_texts(state);
    EXPECT_EQ(dashboard.counts[WM_SETTEXT], 0);

    set_status_message(state, L"Zatrzymywanie testu…");
    // The subtitle and the status line change; nothing else is written.
    EXPECT_EQ(dashboard.counts[WM_SETTEXT], 2);
    EXPECT_EQ(get_window_text(state.page_subtitle_label), L"Zatrzymywanie testu…");

    state.table_view_shown = true;
    state.current_page = 7;
    set_view_message(state, L"Trasa do 192.0.2.1");
    EXPECT_EQ(get_window_text(state.page_subtitle_label), L"Trasa do 192.0.2.1");
    EXPECT_EQ(state.shown_table.title, L"Trasa do 192.0.2.1");
}

TEST(StatusTextsOnWindow, SyncStatusAndTheFullReportButton) {
    DashboardWindow dashboard;
    MainWindowState& state = dashboard.state;
    struct Case {
        nlohmann::json report;
        bool busy;
        std::wstring line;
        bool enabled;
    };
    const Case cases[] = {
        {{{"synchronized", true}}, false, L"Serwer potwierdził zapis tej sesji", true},
        {{{"synchronized", false}}, false, L"Zapis lokalny · oczekuje na synchronizację", true},
        {{{"synchronized", "true"}}, false, L"Zapis lokalny · oczekuje na synchronizację", true},
        {nlohmann::json::object(), false, L"Zapis lokalny · oczekuje na synchronizację", true},
        {{{"synchronized", true}}, true, L"Serwer potwierdził zapis tej sesji", false},
        {nullptr, false, L"Brak pomiaru w tym widoku", false},
        {nlohmann::json::array({1}), false, L"Brak pomiaru w tym widoku", false},
    };
    for (const Case& c : cases) {
        state.busy = c.busy;
        EnableWindow(state.report_button, !c.enabled);
        show_sync_status(state, c.report);
        EXPECT_EQ(state.report_status_text, c.line) << c.report.dump();
        EXPECT_EQ(IsWindowEnabled(state.report_button) != FALSE, c.enabled) << c.report.dump();
        const std::wstring status_line = get_window_text(state.status_bar);
        EXPECT_EQ(status_line.substr(0, c.line.size()), c.line);
    }
}

TEST(ToolControls, DisabledWhileARunGoes) {
    HostWindow host;
    MainWindowState state = ui_state_init();
    state.target_edit = host.child(L"EDIT", target_edit_id);
    state.target_profile_combo = host.child(L"COMBOBOX", target_profile_combo_id);
    state.method_combo = host.child(L"COMBOBOX", method_combo_id);
    state.game_server_combo = host.child(L"COMBOBOX", game_server_combo_id);
    state.max_hops_combo = host.child(L"COMBOBOX", max_hops_combo_id);
    state.interval_combo = host.child(L"COMBOBOX", interval_combo_id);
    state.address_family_combo = host.child(L"COMBOBOX", address_family_combo_id);
    state.save_target_button = host.child(L"BUTTON", save_target_button_id);
    state.favorites_combo = host.child(L"COMBOBOX", favorites_combo_id);
    state.game_mode_combo = host.child(L"COMBOBOX", game_mode_combo_id);
    state.game_length_combo = host.child(L"COMBOBOX", game_length_combo_id);
    state.run_target_button = host.child(L"BUTTON", run_target_button_id, L"Wykonaj test");
    const int inputs[] = {target_edit_id,          target_profile_combo_id, method_combo_id,
                          game_server_combo_id,    max_hops_combo_id,       interval_combo_id,
                          address_family_combo_id, save_target_button_id,   favorites_combo_id,
                          game_mode_combo_id,      game_length_combo_id};

    set_tool_controls_enabled(state, false);
    for (int id : inputs) EXPECT_FALSE(IsWindowEnabled(GetDlgItem(host.window, id))) << id;
    EXPECT_EQ(get_window_text(state.run_target_button), L"Zatrzymaj");
    EXPECT_TRUE(IsWindowEnabled(state.run_target_button));

    set_tool_controls_enabled(state, true);
    for (int id : inputs) EXPECT_TRUE(IsWindowEnabled(GetDlgItem(host.window, id))) << id;
    EXPECT_EQ(get_window_text(state.run_target_button), L"Wykonaj test");
}

TEST(WifiButtons, FollowTheBusyFlags) {
    HostWindow host;
    for (int id : {wifi_scan_button_id, router_panel_button_id, wifi_details_button_id,
                   wifi_before_button_id, wifi_after_button_id, wifi_compare_button_id})
        host.child(L"BUTTON", id);
    struct Case {
        int collecting;
        bool measuring;
        bool loading;
        bool downloading;
        bool ready;
        std::vector<int> enabled;
    };
    const Case cases[] = {
        {0,
         false,
         false,
         false,
         false,
         {wifi_scan_button_id, wifi_details_button_id, wifi_before_button_id,
          wifi_compare_button_id}},
        {4, false, false, false, false, {}},
        {2,
         false,
         false,
         false,
         false,
         {wifi_scan_button_id, wifi_details_button_id, wifi_compare_button_id}},
        {0, true, false, false, false, {wifi_details_button_id, wifi_compare_button_id}},
        {0, false, true, false, false, {wifi_details_button_id, wifi_compare_button_id}},
        {0,
         false,
         false,
         true,
         false,
         {wifi_scan_button_id, wifi_details_button_id, wifi_compare_button_id}},
        {0,
         false,
         false,
         false,
         true,
         {wifi_scan_button_id, wifi_details_button_id, wifi_compare_button_id}},
    };
    for (const Case& c : cases) {
        collecting_view = c.collecting;
        measurement_running = c.measuring;
        last_report_loading = c.loading;
        update_download_mode = c.downloading;
        update_ready = c.ready;
        for (int id : {wifi_scan_button_id, router_panel_button_id, wifi_details_button_id,
                       wifi_before_button_id, wifi_after_button_id, wifi_compare_button_id})
            EnableWindow(GetDlgItem(host.window, id), TRUE);
        update_button_states(host.window);
        std::vector<int> enabled;
        for (int id : {wifi_scan_button_id, router_panel_button_id, wifi_details_button_id,
                       wifi_before_button_id, wifi_after_button_id, wifi_compare_button_id}) {
            if (IsWindowEnabled(GetDlgItem(host.window, id))) enabled.push_back(id);
        }
        EXPECT_EQ(enabled, c.enabled) << "collecting " << c.collecting << " measuring "
                                      << c.measuring << " loading " << c.loading;
    }
    collecting_view = 0;
    measurement_running = last_report_loading = update_download_mode = update_ready = false;
}

// The router panel needs an address from the reading on show; the "after" scan a stored "before"
// scan, on top of what the "before" scan itself needs.
TEST(WifiButtons, RouterPanelAndAfterScanFollowTheReadingAndTheBaseline) {
    HostWindow host;
    for (int id : {wifi_scan_button_id, router_panel_button_id, wifi_details_button_id,
                   wifi_before_button_id, wifi_after_button_id, wifi_compare_button_id})
        host.child(L"BUTTON", id);
    const auto enabled = [&](int id) { return IsWindowEnabled(GetDlgItem(host.window, id)) != 0; };

    update_button_states(host.window);
    EXPECT_FALSE(enabled(router_panel_button_id));
    EXPECT_FALSE(enabled(wifi_after_button_id));

    shown_wifi_reading.panel_address = L"http://192.168.1.1/";
    wifi_baseline_snapshot = WifiSnapshot{};
    update_button_states(host.window);
    EXPECT_TRUE(enabled(router_panel_button_id));
    EXPECT_TRUE(enabled(wifi_after_button_id));

    measurement_running = true;  // the "before" scan is not allowed now, so neither is "after"
    update_button_states(host.window);
    EXPECT_TRUE(enabled(router_panel_button_id));
    EXPECT_FALSE(enabled(wifi_after_button_id));

    measurement_running = false;
    shown_wifi_reading.panel_address.clear();
    wifi_baseline_snapshot.reset();
}

}  // namespace
}  // namespace tarvisko
