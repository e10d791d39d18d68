#pragma once
// WM_COMMAND of the main window: what each button, combo box and card does.
#include <windows.h>

#include <string>

namespace tarvisko {

void handle_command(HWND window, int id, int notification, HWND control);
std::wstring dialog_item_text(HWND window, int control_id);
bool copy_to_clipboard(HWND window, const std::wstring& text);

}  // namespace tarvisko
