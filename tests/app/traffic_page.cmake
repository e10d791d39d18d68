# Page 2 with the per-process traffic box ticked: full tests in the program's window against the
# provider simulator, with this executable as the counter process (real, or feeding synthetic
# kernel events through the counting code).
tarvisko_simulator_test(app_traffic_page_test traffic_page_test.cpp shell_window.cpp
  LIBS tarvisko_window_harness tarvisko_traffic_test_support LABELS window
  MODULES portal node upload)
