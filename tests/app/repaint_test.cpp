// What the window shows after a page switch, a resize, a collapse of the navigation or a page
// switch from a scrolled page is what a full repaint of it draws then: a control left unpainted,
// or a part of an old paint that stayed behind, shows as pixels that a full repaint changes.
// The pictures are read back from the window on the test display and compared with each other,
// never with a stored image.
// clang-format off
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/cards.h"
#include "app/controls.h"
#include "app/page_switcher.h"
#include "app/status_texts.h"
#include "support/test_support.h"
#include "support/window_harness.h"

namespace tarvisko {
namespace {

using test::Dib;
using test::WindowHarness;

// The client area as the window shows it now, once every waiting message (the paints among
// them) has run.
std::unique_ptr<Dib> shown_pixels(HWND window) {
    WindowHarness::pump();
    RECT client{};
    GetClientRect(window, &client);
    auto picture = std::make_unique<Dib>(client.right, client.bottom);
    const HDC dc = GetDC(window);
    BitBlt(picture->dc(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(window, dc);
    return picture;
}

// "control 332: 1200 pixels" for each visible child whose area differs, "window" for the
// background between them; empty when the pictures agree.
std::string differences(HWND window, const Dib& before, const Dib& after) {
    std::vector<std::pair<int, RECT>> children;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
        children.emplace_back(GetDlgCtrlID(child), rect);
    }
    std::map<std::string, int> counts;
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            if (before.pixel(x, y) == after.pixel(x, y)) continue;
            std::string where = "window";
            for (const auto& [id, rect] : children) {
                if (PtInRect(&rect, POINT{x, y})) {
                    where = "control " + std::to_string(id);
                    break;
                }
            }
            ++counts[where];
        }
    }
    std::string text;
    for (const auto& [where, count] : counts) {
        text += where + ": " + std::to_string(count) + " pixels; ";
    }
    return text;
}

class Repaint : public ::testing::Test {
  protected:
    void TearDown() override { last_diagnostics_report = nullptr; }

    // The screen now against a full repaint of the window and every child.
    void expect_nothing_stale(const std::string& label) {
        const auto shown = shown_pixels(harness.window());
        RedrawWindow(harness.window(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        const auto repainted = shown_pixels(harness.window());
        EXPECT_EQ(differences(harness.window(), *shown, *repainted), "") << label;
    }

    test::TempDir local;
    test::ScopedEnv local_env{L"LOCALAPPDATA", local.path().wstring()};
    test::ScopedEnv origin_env{L"QUORVEL_DESKTOP_ORIGIN", L"https://strony.localhost"};
    WindowHarness harness;
};

// Every control a page switch shows is painted by that switch, "Kopiuj wiersz" (332) among them,
// from the dashboard and from page to page.
TEST_F(Repaint, PageSwitchPaintsEveryShownControl) {
    WindowHarness::pump();
    for (const int page : {7, 9, 10, 11, 1, 0, 1, 10, 7, 11, 5, 0}) {
        show_page(harness.window(), page);
        expect_nothing_stale("page " + std::to_string(page));
    }
}

// A resize and the navigation's collapse move and resize most children; the right-aligned side
// label changes its width with the window.
TEST_F(Repaint, ResizeAndCollapseLeaveNoStalePaint) {
    set_view_message(harness.state(), L"Ostatni test 2026-12-11 09:02:29 UTC");
    expect_nothing_stale("start");
    const SIZE sizes[] = {{1000, 700}, {1300, 820}, {950, 610}, {1200, 800}};
    for (const SIZE& size : sizes) {
        harness.set_client_size(size.cx, size.cy);
        expect_nothing_stale("resized to " + std::to_string(size.cx) + "x" +
                             std::to_string(size.cy));
    }
    for (const int page : {0, 7}) {
        show_page(harness.window(), page);
        WindowHarness::pump();
        toggle_navigation(harness.state());
        expect_nothing_stale("collapsed on page " + std::to_string(page));
        toggle_navigation(harness.state());
        expect_nothing_stale("expanded on page " + std::to_string(page));
    }
}

// Below the smallest window's client area the content scrolls; leaving a scrolled page moves
// every child back.
TEST_F(Repaint, PageSwitchFromAScrolledPageLeavesNoStalePaint) {
    harness.set_client_size(1000, 520);
    show_page(harness.window(), 0);
    WindowHarness::pump();
    SendMessageW(harness.window(), WM_VSCROLL, SB_PAGEDOWN, 0);
    ASSERT_GT(harness.state().scroll_pos, 0);
    expect_nothing_stale("scrolled");
    show_page(harness.window(), 10);
    expect_nothing_stale("page 10 after the scrolled dashboard");
    SendMessageW(harness.window(), WM_VSCROLL, SB_PAGEDOWN, 0);
    show_page(harness.window(), 7);
    expect_nothing_stale("page 7 after the scrolled page 10");
}

}  // namespace
}  // namespace tarvisko
