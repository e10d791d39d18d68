# The owner-drawn painting and the results list; the page functions run in the harness's window.
tarvisko_test(app_painting_test painting_test.cpp LIBS tarvisko_window_harness LABELS window)
tarvisko_test(app_results_list_test results_list_test.cpp LIBS tarvisko_window_harness
  LABELS window)
