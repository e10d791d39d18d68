# What the window shows after a page switch, a resize or a collapse of the navigation, against a
# full repaint of it.
tarvisko_test(app_repaint_test repaint_test.cpp LIBS tarvisko_window_harness LABELS window)
