#include "app/commands.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tarvisko {

std::wstring dialog_item_text(HWND window, int control_id) {
    HWND control = GetDlgItem(window, control_id);
    const int length = GetWindowTextLengthW(control);
    std::vector<wchar_t> buffer(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    const int copied = GetWindowTextW(control, buffer.data(), static_cast<int>(buffer.size()));
    return std::wstring(buffer.data(), static_cast<std::size_t>(std::max(copied, 0)));
}

bool copy_to_clipboard(HWND window, const std::wstring& text) {
    if (text.empty() || !OpenClipboard(window)) {
        return false;
    }
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool placed = false;
    if (memory != nullptr) {
        if (void* target = GlobalLock(memory)) {
            std::memcpy(target, text.c_str(), bytes);
            GlobalUnlock(memory);
            placed = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        // Once placed the clipboard owns the memory; otherwise it is still ours to free.
        if (!placed) {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
    return placed;
}

}  // namespace tarvisko
