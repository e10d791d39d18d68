# Program entry, command dispatch and the main window procedure.
tarvisko_test(app_entry_test entry_test.cpp LIBS tarvisko_window)
tarvisko_test(app_commands_test commands_test.cpp LIBS tarvisko_window LABELS window)
