# The games page and the favourites list in the real main window.
tarvisko_test(app_game_page_test game_page_test.cpp
  LIBS tarvisko_window_harness games_log_fixtures LABELS window)
