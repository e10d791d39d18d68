#pragma once
// The real main window for the tests of the commands and the window procedure: the program's
// class, created under the test display with every service entry empty (so no job reaches out),
// a temporary LOCALAPPDATA and a server origin nobody listens on. The program-wide state is put
// back to its start values before and after each window.
#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tarvisko::test {

// Dispatches the thread's messages (a WM_QUIT is dropped) until `done` holds or the time is up.
template <typename Done>
bool pump_until(Done&& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        Sleep(5);
    }
}

// Every global of the shell back to its value at program start; all jobs joined first.
void reset_shell_state();

// The saved window placement, put back as it was when the object ends.
class SavedPlacementGuard {
  public:
    SavedPlacementGuard();
    ~SavedPlacementGuard();
    SavedPlacementGuard(const SavedPlacementGuard&) = delete;
    SavedPlacementGuard& operator=(const SavedPlacementGuard&) = delete;
    static std::optional<std::vector<BYTE>> read();

  private:
    std::optional<std::vector<BYTE>> old_;
};

class ShellWindow {
  public:
    ShellWindow();
    ~ShellWindow();
    ShellWindow(const ShellWindow&) = delete;
    ShellWindow& operator=(const ShellWindow&) = delete;

    // WM_COMMAND as a control sends it.
    void command(int id, int notification = 0) const;
    std::wstring control_text(int id) const;

    TempDir local_app_data;
    ScopedEnv local_app_data_env{L"LOCALAPPDATA", local_app_data.path().wstring()};
    ScopedEnv origin_env{L"QUORVEL_DESKTOP_ORIGIN", std::wstring(L"https://localhost:9")};
    HWND window = nullptr;
};

// The text of one cell of a list view.
std::wstring list_cell(HWND list, int row, int column);

}  // namespace tarvisko::test
