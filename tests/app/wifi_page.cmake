# The Wi-Fi page in the program's window, its reading served by a fake.
tarvisko_test(app_wifi_page_test wifi_page_test.cpp shell_window.cpp LIBS tarvisko_window
  LABELS window)
