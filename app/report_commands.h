#pragma once
// The window halves of the report commands: the report text of a target page (105), the export
// (319), the comparison with an earlier route run (329) and opening an archived report (330,
// Enter or a double click on pages 9 and 10). Each builds first and changes the window last, so
// an exception (caught by the command dispatch) leaves the window as it was.
#include <windows.h>
#include <commdlg.h>

namespace tarvisko {

void diagnostic_report_text(HWND window, int page, bool technical);
void export_report(HWND window);
void compare_mtr_runs(HWND window);
void open_archived_report(HWND window);

// The save dialog the export asks for its file: GetSaveFileNameW. Tests point it at a function
// of their own that checks the request and answers with a path and a filter index.
using SaveDialogCall = BOOL(WINAPI*)(LPOPENFILENAMEW);
SaveDialogCall& export_save_dialog();

}  // namespace tarvisko
