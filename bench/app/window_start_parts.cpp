// Where the window start's time goes: the program's own start-up (the window library linked as
// in Tarvisko.exe, the same window class, procedure and jobs) with a clock read between its
// steps. One start per run; it appends one line to the file named by its first argument:
//   parts modules N to_main_ms X create_ms X first_paint_ms X queue_empty_ms X layout_ms X
// - to_main: from the process's creation to wWinMain (loading the N modules it imports);
// - create: create_main_window (the class and CreateWindowExW, i.e. WM_CREATE with every child,
//   the fonts and the first layout);
// - first_paint: ShowWindow and UpdateWindow;
// - queue_empty: from there until the message queue is empty and the start-up report load has
//   ended (its job-finished message handled);
// - layout: afterwards, one layout that has to move and show every child again (all hidden
//   first), the cost of a first layout on its own.
// Then it closes itself as a user would. tools/bench/window-start.sh runs it and prints medians.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "app/controls.h"
#include "app/entry.h"
#include "app/window_proc.h"

namespace {

double now_ms() {
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double file_time_ms(const FILETIME& time) {
    return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) |
                               time.dwLowDateTime) /
           10000.0;
}

int loaded_modules() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    int count = 0;
    for (BOOL more = Module32FirstW(snapshot, &module); more;
         more = Module32NextW(snapshot, &module)) {
        ++count;
    }
    CloseHandle(snapshot);
    return count;
}

// Dispatches until the queue is empty and no start-up job is left to report.
void run_until_idle() {
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!tarvisko::last_report_loading && GetQueueStatus(QS_ALLINPUT) == 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int show_command) {
    using namespace tarvisko;
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const double to_main = file_time_ms(now) - file_time_ms(created);
    const int modules = loaded_modules();

    const double before_create = now_ms();
    const HWND window = create_main_window(instance);
    if (window == nullptr) return 1;
    const double created_at = now_ms();
    ShowWindow(window, show_command);
    UpdateWindow(window);
    const double painted_at = now_ms();
    run_until_idle();
    const double idle_at = now_ms();

    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        SetWindowPos(child, nullptr, 0, 0, 1, 1, SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
    }
    run_until_idle();
    const double before_layout = now_ms();
    layout_main_window(main_window_state);
    const double laid_out_at = now_ms();

    const std::wstring path = command_line != nullptr ? command_line : L"";
    if (FILE* out = _wfopen(path.c_str(), L"ab")) {
        std::fprintf(out,
                     "parts modules %d to_main_ms %.1f create_ms %.1f first_paint_ms %.1f "
                     "queue_empty_ms %.1f layout_ms %.1f\n",
                     modules, to_main, created_at - before_create, painted_at - created_at,
                     idle_at - painted_at, laid_out_at - before_layout);
        std::fclose(out);
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    const int exit_code = run_message_loop(window);
    stop_and_join_all_jobs();
    return exit_code;
}
