# Program entry, command dispatch and the main window procedure.
tarvisko_test(app_entry_test entry_test.cpp LIBS tarvisko_window)
# The product's service table, every entry filled.
tarvisko_test(app_services_test services_test.cpp LIBS tarvisko_window)
tarvisko_test(app_commands_test commands_test.cpp command_dispatch_test.cpp shell_window.cpp
  LIBS tarvisko_window LABELS window)
# Tarvisko.exe itself as a process.
tarvisko_test(app_entry_process_test entry_process_test.cpp LIBS tarvisko_window)
target_compile_definitions(app_entry_process_test PRIVATE
  "TARVISKO_EXE_PATH=L\"Z:$<TARGET_FILE:Tarvisko>\"")
add_dependencies(app_entry_process_test Tarvisko)
tarvisko_test(app_window_proc_test window_proc_test.cpp shell_window.cpp LIBS tarvisko_window
  LABELS window)
# The window procedure's cases in a prefix whose system DPI is 144.
add_test(NAME app_window_proc_144dpi_test COMMAND ${TARVISKO_GTEST_JUDGE}
  ${CMAKE_CURRENT_SOURCE_DIR}/dpi144-prefix $<TARGET_FILE:app_window_proc_test>
  --gtest_filter=HighDpiPrefix.*)
set_tests_properties(app_window_proc_144dpi_test PROPERTIES LABELS window TIMEOUT 300
  RESOURCE_LOCK test_display ENVIRONMENT "${TARVISKO_TEST_ENV}")
