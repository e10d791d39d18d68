#pragma once
// The one popup for long texts: a read-only text with "Kopiuj całość" and "Zamknij", and for the
// Wi-Fi before/after comparison two chart panels above it. A new request reuses the popup of its
// form (with or without a chart).
#include <windows.h>

#include <optional>
#include <string>

#include "readings/wifi_records.h"

namespace tarvisko {

// The popup, null when none; the message loop routes its keys to it.
extern HWND details_window;

void show_details_window(HWND owner, const std::wstring& title, const std::wstring& text,
                         std::optional<ChartData> chart);
LRESULT CALLBACK details_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace tarvisko
