# The computer and local-network pages and the route responders' names in the program's window.
tarvisko_test(app_reading_pages_test reading_pages_test.cpp shell_window.cpp LIBS tarvisko_window
  LABELS window)
