# The report lists of pages 9 and 10 in the program's window, their reading held by the test.
tarvisko_test(app_report_list_test report_list_test.cpp shell_window.cpp
  LIBS tarvisko_window_harness LABELS window)
