# The report commands (report text of the target pages, export, route comparison, archived
# reports) in the main window with its real children.
tarvisko_test(app_reports_test e_reports_test.cpp LIBS tarvisko_window_harness comdlg32
  LABELS window)
