// The two small window operations the commands use, on real windows under the test display:
// a child's text and the clipboard, read back, and refused while another thread holds it.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/commands.h"
#include "app/control_ids.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

class PlainWindow {
  public:
    PlainWindow() {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = DefWindowProcW;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"TarviskoCommandsTestHost";
        RegisterClassW(&window_class);
        window = CreateWindowExW(0, window_class.lpszClassName, L"host", WS_OVERLAPPEDWINDOW, 0, 0,
                                 300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~PlainWindow() { DestroyWindow(window); }
    PlainWindow(const PlainWindow&) = delete;
    PlainWindow& operator=(const PlainWindow&) = delete;
    HWND child(int id, const wchar_t* text) const {
        return CreateWindowExW(0, L"EDIT", text, WS_CHILD, 0, 0, 100, 20, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
    }
    HWND window = nullptr;
};

TEST(DialogItemText, TheChildsWholeText) {
    PlainWindow host;
    host.child(target_edit_id, L"żółć 1.1.1.1");
    host.child(target_profile_combo_id, L"");
    EXPECT_EQ(dialog_item_text(host.window, target_edit_id), L"żółć 1.1.1.1");
    EXPECT_EQ(dialog_item_text(host.window, target_profile_combo_id), L"");
    // No such child: the empty text, not an error.
    EXPECT_EQ(dialog_item_text(host.window, 999), L"");
    const std::wstring long_text(5000, L'x');
    SetDlgItemTextW(host.window, target_profile_combo_id, long_text.c_str());
    EXPECT_EQ(dialog_item_text(host.window, target_profile_combo_id), long_text);
}

TEST(CopyToClipboard, PutsTheTextAndRefusesEmptyText) {
    PlainWindow host;
    ASSERT_TRUE(copy_to_clipboard(host.window, L"Wiersz · 12,5 ms"));
    EXPECT_EQ(test::clipboard_text(), L"Wiersz · 12,5 ms");
    // Empty text gives false and leaves what was there.
    EXPECT_FALSE(copy_to_clipboard(host.window, L""));
    EXPECT_EQ(test::clipboard_text(), L"Wiersz · 12,5 ms");
    // The clipboard is closed again after every call: another opener succeeds.
    ASSERT_TRUE(OpenClipboard(nullptr));
    CloseClipboard();
}

TEST(CopyToClipboard, FailsWhileAnotherThreadHoldsTheClipboard) {
    PlainWindow host;
    ASSERT_TRUE(copy_to_clipboard(host.window, L"before"));
    std::atomic<int> stage{0};
    std::thread holder([&stage] {
        HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
        stage = OpenClipboard(owner) ? 1 : -1;
        while (stage == 1) {
            Sleep(1);
        }
        CloseClipboard();
        DestroyWindow(owner);
    });
    while (stage == 0) {
        Sleep(1);
    }
    ASSERT_EQ(stage.load(), 1);
    EXPECT_FALSE(copy_to_clipboard(host.window, L"after"));
    stage = 2;
    holder.join();
    EXPECT_EQ(test::clipboard_text(), L"before");
    EXPECT_TRUE(copy_to_clipboard(host.window, L"after"));
    EXPECT_EQ(test::clipboard_text(), L"after");
}

}  // namespace
}  // namespace tarvisko
