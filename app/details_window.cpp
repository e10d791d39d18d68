#include "app/details_window.h"

#include <algorithm>
#include <utility>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "app/status_texts.h"
#include "app/window_proc.h"
#include "readings/wifi_chart.h"

namespace tarvisko {

HWND details_window = nullptr;

namespace {

int popup_dpi(HWND window) {
    const UINT dpi = GetDpiForWindow(window);
    return dpi == 0 ? 96 : static_cast<int>(dpi);
}

void create_children(HWND window, HINSTANCE instance) {
    struct Child {
        DWORD extended;
        const wchar_t* window_class;
        const wchar_t* text;
        DWORD style;
        int id;
    };
    const Child children[] = {
        {WS_EX_CLIENTEDGE, L"EDIT", L"",
         WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY,
         details_text_id},
        {0, L"BUTTON", L"Kopiuj całość", WS_VISIBLE | WS_TABSTOP, details_copy_button_id},
        {0, L"BUTTON", L"Zamknij", WS_VISIBLE | WS_TABSTOP, details_close_button_id},
        {0, L"STATIC", L"", SS_OWNERDRAW, details_before_panel_id},
        {0, L"STATIC", L"", SS_OWNERDRAW, details_after_panel_id},
        {0, L"STATIC", L"", SS_NOPREFIX, details_caption_id},
    };
    const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
    for (const Child& child : children) {
        HWND control = CreateWindowExW(child.extended, child.window_class, child.text,
                                       WS_CHILD | child.style, 0, 0, 1, 1, window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(child.id)),
                                       instance, nullptr);
        SendMessageW(control, WM_SETFONT, font, TRUE);
    }
}

void move_child(HWND window, int id, int x, int y, int width, int height) {
    MoveWindow(GetDlgItem(window, id), x, y, width, height, TRUE);
}

void layout_children(HWND window, int w, int h) {
    const int dpi = popup_dpi(window);
    auto px = [dpi](int dip) { return MulDiv(dip, dpi, 96); };
    const int m = px(16);
    const int button_width = px(128);
    const int button_height = px(34);
    int top = m;
    if (details_chart) {
        const int caption_height = px(52);
        const int panel_height = std::clamp((4 * h) / 10, px(155), px(340));
        move_child(window, details_caption_id, m, m, std::max(1, w - 2 * m), caption_height);
        const int panel_width = std::max(1, (w - 3 * m) / 2);
        move_child(window, details_before_panel_id, m, m + caption_height, panel_width,
                   panel_height);
        move_child(window, details_after_panel_id, panel_width + 2 * m, m + caption_height,
                   panel_width, panel_height);
        top = caption_height + panel_height + 2 * m;
    }
    move_child(window, details_text_id, m, top, std::max(1, w - 2 * m),
               std::max(1, h - 2 * m - top - button_height));
    move_child(window, details_copy_button_id, m, h - button_height - m, button_width,
               button_height);
    move_child(window, details_close_button_id, w - button_width - m, h - button_height - m,
               button_width, button_height);
}

void draw_panel(HWND window, const DRAWITEMSTRUCT& item) {
    const int dpi = popup_dpi(window);
    const bool before = item.CtlID == details_before_panel_id;
    RECT rect = item.rcItem;
    FillRect(item.hDC, &rect, GetSysColorBrush(COLOR_WINDOW));
    FrameRect(item.hDC, &rect, GetSysColorBrush(COLOR_3DLIGHT));

    const auto font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    std::wstring title = before ? details_chart->before_caption : details_chart->after_caption;
    RECT band{rect.left + MulDiv(16, dpi, 96), rect.top, rect.right - MulDiv(16, dpi, 96),
              rect.top + MulDiv(30, dpi, 96)};
    const int saved = SaveDC(item.hDC);
    SelectObject(item.hDC, font);
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(COLOR_WINDOWTEXT));
    DrawTextW(item.hDC, title.data(), static_cast<int>(title.size()), &band,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    RestoreDC(item.hDC, saved);

    InflateRect(&rect, -1, -1);
    rect.top += MulDiv(30, dpi, 96);
    const int panel = static_cast<int>(item.CtlID);
    if (details_panel_painter()) {
        details_panel_painter()(panel, item.hDC, rect, dpi, font);
        return;
    }
    const ChartData& chart = *details_chart;
    draw_wifi_channel_chart(item.hDC, rect, dpi, font, before ? chart.before : chart.after,
                            chart.band, FrequencySpan{chart.span_low_mhz, chart.span_high_mhz});
}

bool register_details_class(HINSTANCE instance) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = details_window_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    window_class.lpszClassName = details_window_class;
    return RegisterClassExW(&window_class) != 0 ||
           GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

DetailsPanelPainter& details_panel_painter() {
    static DetailsPanelPainter painter;
    return painter;
}

void show_details_window(HWND owner, const std::wstring& title, const std::wstring& text,
                         std::optional<ChartData> chart) {
    // A popup keeps the form it was made with: one of the other form is closed and made anew.
    if (details_window != nullptr && chart.has_value() != details_chart.has_value()) {
        DestroyWindow(details_window);
    }
    if (chart) {
        details_chart = std::move(*chart);
    } else {
        details_chart.reset();
    }
    chart.reset();

    if (details_window == nullptr) {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        HMONITOR handle = MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST);
        if (!register_details_class(instance) || handle == nullptr ||
            !GetMonitorInfoW(handle, &monitor)) {
            details_chart.reset();  // no popup holds it
            return;
        }
        const RECT& work = monitor.rcWork;
        const int dpi = popup_dpi(owner);
        const bool with_chart = details_chart.has_value();
        const int work_width = work.right - work.left;
        const int work_height = work.bottom - work.top;
        const int width = std::min(MulDiv(with_chart ? 1050 : 780, dpi, 96), work_width);
        const int height = std::min(MulDiv(with_chart ? 720 : 510, dpi, 96), work_height);
        details_window = CreateWindowExW(
            WS_EX_CONTROLPARENT, details_window_class, title.c_str(),
            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, work.left + (work_width - width) / 2,
            work.top + (work_height - height) / 2, width, height, owner, nullptr, instance,
            nullptr);
        if (details_window == nullptr) {
            details_chart.reset();
            return;
        }
    }

    HWND popup = details_window;
    if (details_chart) {
        const std::wstring* captions[] = {&details_chart->before_caption,
                                          &details_chart->after_caption, &details_chart->changes};
        const int ids[] = {details_before_panel_id, details_after_panel_id, details_caption_id};
        for (int i = 0; i < 3; ++i) {
            HWND control = GetDlgItem(popup, ids[i]);
            SetWindowTextW(control, captions[i]->c_str());
            ShowWindow(control, SW_SHOWNA);
            InvalidateRect(control, nullptr, TRUE);
        }
    }
    SetWindowTextW(popup, title.c_str());
    HWND edit = GetDlgItem(popup, details_text_id);
    SetWindowTextW(edit, with_crlf_line_ends(text).c_str());
    ShowWindow(popup, SW_RESTORE);
    SetForegroundWindow(popup);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, 0);
}

namespace {

LRESULT handle_details_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
            create_children(window, create->hInstance);
            return 0;
        }
        case WM_SIZE:
            layout_children(window, LOWORD(lparam), HIWORD(lparam));
            return 0;
        case WM_GETMINMAXINFO:
            if (details_chart) {
                auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
                const int dpi = popup_dpi(window);
                info->ptMinTrackSize.x = std::min<LONG>(MulDiv(720, dpi, 96), info->ptMaxTrackSize.x);
                info->ptMinTrackSize.y = std::min<LONG>(MulDiv(460, dpi, 96), info->ptMaxTrackSize.y);
            }
            return DefWindowProcW(window, message, wparam, lparam);
        case WM_NEXTDLGCTL: {
            HWND target = LOWORD(lparam) == 0
                              ? GetNextDlgTabItem(window, GetFocus(), wparam != 0)
                              : reinterpret_cast<HWND>(wparam);
            if (target != nullptr && IsChild(window, target)) SetFocus(target);
            return 0;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
            if (details_chart &&
                (item->CtlID == details_before_panel_id || item->CtlID == details_after_panel_id)) {
                draw_panel(window, *item);
                return TRUE;
            }
            return DefWindowProcW(window, message, wparam, lparam);
        }
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDCANCEL:
                case details_close_button_id:
                    DestroyWindow(window);
                    break;
                case details_copy_button_id: {
                    HWND edit = GetDlgItem(window, details_text_id);
                    SendMessageW(edit, EM_SETSEL, 0, -1);
                    SendMessageW(edit, WM_COPY, 0, 0);
                    SetFocus(edit);
                    break;
                }
                default:
                    break;
            }
            return 0;
        case WM_DESTROY:
            details_chart.reset();
            if (details_window == window) details_window = nullptr;
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

LRESULT CALLBACK details_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // The main window's boundary: a failure (while painting a chart, say) shows as its view
    // message; nothing unwinds into the system's frames.
    try {
        // A panel whose drawing failed still counts as drawn, so the system draws nothing over it.
        LRESULT result = message == WM_DRAWITEM ? TRUE : 0;
        guarded([&] { result = handle_details_message(window, message, wparam, lparam); });
        return result;
    } catch (...) {
        return message == WM_CREATE ? -1 : 0;
    }
}

}  // namespace tarvisko
