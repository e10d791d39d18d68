# The Wi-Fi before/after comparison in the program's window, from the WLAN fake up to the chart
# panels, and the saved "Przed" scan found again by a second process.
tarvisko_test(app_wifi_compare_test wifi_compare_test.cpp shell_window.cpp
  LIBS tarvisko_window_harness LABELS window)
