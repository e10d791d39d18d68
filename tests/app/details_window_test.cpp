// The details popup: reuse and recreation by form, sizes, the chart panels and their painter,
// copying the whole text, closing.
// clang-format off
#include <windows.h>
// clang-format on
#include "app/details_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "support/test_support.h"
#include "support/window_harness.h"

namespace tarvisko {
namespace {

using test::WindowHarness;

ChartData sample_chart() {
    ChartData chart;
    chart.band = 1;
    chart.span_low_mhz = 2400;
    chart.span_high_mhz = 2490;
    chart.before_caption = L"Przed: kanał 6";
    chart.after_caption = L"Po: kanał 11";
    chart.changes = L"Sieci nakładające się: 4 → 1";
    chart.before.items.push_back(WifiChartItem{L"Dom", {}, false});
    return chart;
}

SIZE window_size(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

RECT child_rect(HWND parent, int id) {
    RECT rect{};
    GetWindowRect(GetDlgItem(parent, id), &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring text_of(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(),
                                                        static_cast<int>(text.size()))));
    return text;
}

class DetailsWindow : public ::testing::Test {
  protected:
    void TearDown() override {
        if (details_window != nullptr) DestroyWindow(details_window);
        details_panel_painter() = nullptr;
        WindowHarness::pump();
    }
    WindowHarness harness;
};

TEST_F(DetailsWindow, PlainRequestsReuseOnePopupAndKeepItsPlace) {
    show_details_window(harness.window(), L"Wiersz", L"Pierwszy tekst", std::nullopt);
    HWND first = details_window;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(window_size(first).cx, 780);
    EXPECT_EQ(window_size(first).cy, 510);
    EXPECT_EQ(GetWindow(first, GW_OWNER), harness.window());
    EXPECT_TRUE(IsWindowVisible(first));
    SetWindowPos(first, nullptr, 30, 40, 700, 480, SWP_NOZORDER | SWP_NOACTIVATE);
    WindowHarness::pump();
    RECT moved{};
    GetWindowRect(first, &moved);

    show_details_window(harness.window(), L"Karta", L"Drugi tekst", std::nullopt);
    EXPECT_EQ(details_window, first);
    RECT kept{};
    GetWindowRect(first, &kept);
    EXPECT_TRUE(EqualRect(&moved, &kept));
    EXPECT_EQ(text_of(first), L"Karta");
    EXPECT_EQ(text_of(GetDlgItem(first, details_text_id)), L"Drugi tekst");
    // The caret sits at the start with nothing selected.
    DWORD start = 1, end = 1;
    SendMessageW(GetDlgItem(first, details_text_id), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 0u);
    // Without a chart the panels stay hidden and there is no minimum track size of our own.
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(first, details_before_panel_id)));
    MINMAXINFO info{};
    info.ptMaxTrackSize = {5000, 5000};
    SendMessageW(first, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 0);
    EXPECT_EQ(info.ptMinTrackSize.y, 0);
}

TEST_F(DetailsWindow, AChartRequestRecreatesThePopupInTheOtherForm) {
    const struct {
        bool chart;
        LONG width, height;
    } steps[] = {{false, 780, 510}, {true, 1050, 720}, {false, 780, 510}};
    HWND previous = nullptr;
    for (const auto& step : steps) {
        show_details_window(harness.window(), L"Porównanie", L"Tekst",
                            step.chart ? std::optional<ChartData>(sample_chart()) : std::nullopt);
        ASSERT_NE(details_window, nullptr);
        EXPECT_FALSE(previous != nullptr && IsWindow(previous)) << "the old popup is closed";
        EXPECT_EQ(details_chart.has_value(), step.chart);
        // Centred on the work area, and no larger than it: the test desktop is 1024 pixels
        // wide, so the chart form takes its whole width from its left edge.
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(harness.window(), MONITOR_DEFAULTTONEAREST), &monitor);
        const RECT& work = monitor.rcWork;
        const LONG width = std::min(step.width, work.right - work.left);
        const LONG height = std::min(step.height, work.bottom - work.top);
        EXPECT_EQ(window_size(details_window).cx, width);
        EXPECT_EQ(window_size(details_window).cy, height);
        RECT rect{};
        GetWindowRect(details_window, &rect);
        EXPECT_EQ(rect.left, work.left + (work.right - work.left - width) / 2);
        EXPECT_EQ(rect.top, work.top + (work.bottom - work.top - height) / 2);
        if (step.width > work.right - work.left) {
            EXPECT_EQ(rect.left, work.left);
        }
        previous = details_window;
    }
}

TEST_F(DetailsWindow, ChartPanelsShowTheCaptionsAndKeepAMinimumSize) {
    show_details_window(harness.window(), L"Porównanie", L"Tekst", sample_chart());
    HWND popup = details_window;
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(text_of(GetDlgItem(popup, details_before_panel_id)), L"Przed: kanał 6");
    EXPECT_EQ(text_of(GetDlgItem(popup, details_after_panel_id)), L"Po: kanał 11");
    EXPECT_EQ(text_of(GetDlgItem(popup, details_caption_id)), L"Sieci nakładające się: 4 → 1");
    for (int id : {details_before_panel_id, details_after_panel_id, details_caption_id})
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(popup, id))) << id;

    MINMAXINFO info{};
    info.ptMaxTrackSize = {5000, 5000};
    SendMessageW(popup, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 720);
    EXPECT_EQ(info.ptMinTrackSize.y, 460);
    info.ptMaxTrackSize = {600, 400};
    SendMessageW(popup, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 600);
    EXPECT_EQ(info.ptMinTrackSize.y, 400);

    // A second chart request reuses the popup and takes the new captions.
    ChartData other = sample_chart();
    other.after_caption = L"Po: kanał 1";
    show_details_window(harness.window(), L"Porównanie 2", L"Tekst 2", other);
    EXPECT_EQ(details_window, popup);
    EXPECT_EQ(text_of(GetDlgItem(popup, details_after_panel_id)), L"Po: kanał 1");
    EXPECT_EQ(details_chart->after_caption, L"Po: kanał 1");
}

TEST_F(DetailsWindow, PanelHeightsFollowTheClientHeight) {
    show_details_window(harness.window(), L"Porównanie", L"Tekst", sample_chart());
    HWND popup = details_window;
    const struct {
        int height;
        LONG panel;
    } cases[] = {{500, 200}, {300, 155}, {1000, 340}};
    for (const auto& c : cases) {
        SendMessageW(popup, WM_SIZE, SIZE_RESTORED, MAKELPARAM(1000, c.height));
        const RECT before = child_rect(popup, details_before_panel_id);
        const RECT after = child_rect(popup, details_after_panel_id);
        EXPECT_EQ(before.bottom - before.top, c.panel) << c.height;
        EXPECT_EQ(before.top, 16 + 52) << c.height;
        EXPECT_EQ(before.right - before.left, (1000 - 48) / 2) << c.height;
        EXPECT_EQ(after.left, (1000 - 48) / 2 + 32) << c.height;
        const RECT text = child_rect(popup, details_text_id);
        EXPECT_EQ(text.top, 52 + c.panel + 32) << c.height;
        const RECT close = child_rect(popup, details_close_button_id);
        EXPECT_EQ(close.left, 1000 - 128 - 16) << c.height;
        EXPECT_EQ(close.top, c.height - 34 - 16) << c.height;
    }
    // A very narrow popup still gives every control some width.
    SendMessageW(popup, WM_SIZE, SIZE_RESTORED, MAKELPARAM(10, 100));
    for (int id :
         {details_text_id, details_before_panel_id, details_after_panel_id, details_caption_id}) {
        const RECT rect = child_rect(popup, id);
        EXPECT_GE(rect.right - rect.left, 1) << id;
        EXPECT_GE(rect.bottom - rect.top, 1) << id;
    }
}

TEST_F(DetailsWindow, PainterDrawsEachSeriesBelowTheTitleBand) {
    struct Call {
        int panel;
        RECT rect;
        int dpi;
    };
    std::vector<Call> calls;
    details_panel_painter() = [&calls](int panel, HDC, const RECT& rect, int dpi, HFONT font) {
        EXPECT_EQ(font, GetStockObject(DEFAULT_GUI_FONT));
        calls.push_back({panel, rect, dpi});
    };
    show_details_window(harness.window(), L"Porównanie", L"Tekst", sample_chart());
    HWND popup = details_window;
    WindowHarness::pump();
    calls.clear();
    for (int id : {details_before_panel_id, details_after_panel_id}) {
        bool handled = false;
        const auto dib = WindowHarness::render_control(GetDlgItem(popup, id), &handled, popup);
        EXPECT_TRUE(handled);
        ASSERT_FALSE(calls.empty());
        const Call& call = calls.back();
        EXPECT_EQ(call.panel, id);
        EXPECT_EQ(call.dpi, 96);
        const RECT want{1, 31, dib->width() - 1, dib->height() - 1};
        EXPECT_TRUE(EqualRect(&call.rect, &want)) << call.rect.left << "," << call.rect.top << " "
                                                  << call.rect.right << "," << call.rect.bottom;
        // Filled with the window colour and framed with the light 3D colour.
        const COLORREF window_colour = GetSysColor(COLOR_WINDOW);
        EXPECT_EQ(dib->pixel(dib->width() / 2, dib->height() - 5), window_colour);
        EXPECT_EQ(dib->pixel(0, dib->height() / 2), GetSysColor(COLOR_3DLIGHT));
    }
    EXPECT_EQ(calls.size(), 2u);

    // The product's painter draws the chart itself: something other than the fill shows.
    details_panel_painter() = nullptr;
    const auto dib =
        WindowHarness::render_control(GetDlgItem(popup, details_before_panel_id), nullptr, popup);
    const RECT chart_area{2, 32, dib->width() - 2, dib->height() - 2};
    const int area = (chart_area.right - chart_area.left) * (chart_area.bottom - chart_area.top);
    EXPECT_LT(dib->count(GetSysColor(COLOR_WINDOW), chart_area), area);
}

// A failure while a chart panel is drawn stops at the popup's procedure: the main window's view
// message says why, the panel counts as drawn and both windows go on.
TEST_F(DetailsWindow, ThrowingChartPainterIsCaughtInThePopup) {
    details_panel_painter() = [](int, HDC, const RECT&, int, HFONT) {
        throw std::runtime_error("wykres nieczytelny");
    };
    show_details_window(harness.window(), L"Porównanie", L"Tekst", sample_chart());
    HWND popup = details_window;
    bool handled = false;
    WindowHarness::render_control(GetDlgItem(popup, details_before_panel_id), &handled, popup);
    EXPECT_TRUE(handled);
    EXPECT_EQ(main_window_state.shown_table.title, L"wykres nieczytelny");
    EXPECT_TRUE(IsWindow(popup));
    EXPECT_EQ(details_window, popup);
    // The popup still answers its commands.
    SendMessageW(popup, WM_COMMAND, MAKEWPARAM(details_close_button_id, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindow(popup));
}

// The text reaches the read-only edit with CR LF line ends, which Windows needs to break lines.
TEST_F(DetailsWindow, TextLinesEndInCrLf) {
    show_details_window(harness.window(), L"Wiersz", L"a\nb\rc\r\nd\n", std::nullopt);
    EXPECT_EQ(text_of(GetDlgItem(details_window, details_text_id)), L"a\r\nb\r\nc\r\nd\r\n");
}

TEST_F(DetailsWindow, WithoutAChartPanelsAreNotDrawn) {
    show_details_window(harness.window(), L"Wiersz", L"Tekst", std::nullopt);
    bool handled = true;
    WindowHarness::render_control(GetDlgItem(details_window, details_before_panel_id), &handled,
                                  details_window);
    EXPECT_FALSE(handled);
}

TEST_F(DetailsWindow, CopyAllCopiesTheWholeTextAndLeavesItSelected) {
    const std::wstring text = L"Pierwsza linia\r\nDruga linia: zażółć gęślą jaźń";
    show_details_window(harness.window(), L"Wiersz", text, std::nullopt);
    HWND popup = details_window;
    if (OpenClipboard(popup)) {
        EmptyClipboard();
        CloseClipboard();
    }
    SendMessageW(popup, WM_COMMAND, MAKEWPARAM(details_copy_button_id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(popup, details_copy_button_id)));
    EXPECT_EQ(test::clipboard_text(popup), text);
    DWORD start = 1, end = 0;
    SendMessageW(GetDlgItem(popup, details_text_id), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, text.size());
    EXPECT_EQ(GetFocus(), GetDlgItem(popup, details_text_id));
}

TEST_F(DetailsWindow, CloseButtonAndCancelDestroyThePopupAndReleaseTheChart) {
    for (int command : {details_close_button_id, IDCANCEL}) {
        show_details_window(harness.window(), L"Porównanie", L"Tekst", sample_chart());
        HWND popup = details_window;
        ASSERT_NE(popup, nullptr);
        ASSERT_TRUE(details_chart.has_value());
        SendMessageW(popup, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
        EXPECT_FALSE(IsWindow(popup)) << command;
        EXPECT_EQ(details_window, nullptr) << command;
        EXPECT_FALSE(details_chart.has_value()) << command;
    }
    // The system menu's close ends it the same way.
    show_details_window(harness.window(), L"Wiersz", L"Tekst", std::nullopt);
    HWND popup = details_window;
    SendMessageW(popup, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(popup));
    EXPECT_EQ(details_window, nullptr);
}

TEST_F(DetailsWindow, TabMovesBetweenThePopupsControls) {
    show_details_window(harness.window(), L"Wiersz", L"Tekst", std::nullopt);
    HWND popup = details_window;
    SetFocus(GetDlgItem(popup, details_text_id));
    SendMessageW(popup, WM_NEXTDLGCTL, 0, FALSE);
    EXPECT_EQ(GetFocus(), GetDlgItem(popup, details_copy_button_id));
    SendMessageW(popup, WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(GetDlgItem(popup, details_close_button_id)), TRUE);
    EXPECT_EQ(GetFocus(), GetDlgItem(popup, details_close_button_id));
    // A window that is not the popup's child is refused.
    SendMessageW(popup, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(harness.child(start_button_id)),
                 TRUE);
    EXPECT_EQ(GetFocus(), GetDlgItem(popup, details_close_button_id));
}

}  // namespace
}  // namespace tarvisko
