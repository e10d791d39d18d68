#include "app/main_window_state.h"

#include <commctrl.h>

namespace tarvisko {

MainWindowState ui_state_init() { return MainWindowState{}; }

RECT dip_rect_to_pixels(const MainWindowState& state, int left, int top, int right, int bottom) {
    return RECT{MulDiv(left, state.dpi, 96), MulDiv(top, state.dpi, 96),
                MulDiv(right, state.dpi, 96), MulDiv(bottom, state.dpi, 96)};
}

void set_tooltip(MainWindowState& state, HWND control, const std::wstring& text) {
    if (control == nullptr) return;
    const auto [entry, is_new] = state.tooltip_texts.try_emplace(control, text);
    if (!is_new) {
        if (entry->second == text) return;
        entry->second = text;
    }
    // The version 2 size is accepted by both versions of the common controls.
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = state.main_window;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = entry->second.data();
    // A control with an entry already has its tool. Adding it again would not fail: the tooltip
    // would hold a second tool for the control and keep showing the first one's old text.
    const bool added = is_new && SendMessageW(state.tooltip_window, TTM_ADDTOOLW, 0,
                                              reinterpret_cast<LPARAM>(&tool));
    if (!added) {
        SendMessageW(state.tooltip_window, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

}  // namespace tarvisko
