#pragma once
// The start-up job of the main window that puts the last reports back into the application
// state.
#include <windows.h>

namespace tarvisko {

// Reads the last reports of the current origin and client credential into `api_token`,
// `current_report`, `last_results` and `last_error_text`, then posts job_finished
// (WM_APP+1, 0, 0) to `window`, whatever happened. Runs on the main job slot while the window
// waits for that message and leaves the state alone.
void load_last_reports_job(HWND window);

}  // namespace tarvisko
