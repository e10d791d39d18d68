#pragma once
// The one popup for long texts: a read-only text with "Kopiuj całość" and "Zamknij", and for the
// Wi-Fi before/after comparison two chart panels above it. A new request reuses the popup of its
// form (with or without a chart).
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "readings/wifi_records.h"

namespace tarvisko {

// The popup, null when none; the message loop routes its keys to it.
extern HWND details_window;

void show_details_window(HWND owner, const std::wstring& title, const std::wstring& text,
                         std::optional<ChartData> chart);
LRESULT CALLBACK details_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

inline constexpr wchar_t details_window_class[] = L"QuorvelDetailsWindow";

// Draws one chart panel (404 "before", 405 "after") of the stored chart below its title band:
// the panel's id, the DC, the pixel rectangle, the popup's DPI and the font. Tests install a
// recording painter; empty (the product) draws the Wi-Fi channel chart.
using DetailsPanelPainter =
    std::function<void(int panel, HDC dc, const RECT& rect, int dpi, HFONT font)>;
DetailsPanelPainter& details_panel_painter();

}  // namespace tarvisko
