# The window test harness every window test links, and the tests of the controls, the layout,
# the fonts, the dashboard cards and the details window.
add_library(tarvisko_window_harness STATIC ${CMAKE_SOURCE_DIR}/tests/support/window_harness.cpp)
target_include_directories(tarvisko_window_harness PUBLIC ${CMAKE_SOURCE_DIR}/tests
  ${CMAKE_SOURCE_DIR})
target_compile_options(tarvisko_window_harness PRIVATE ${TARVISKO_WARNINGS})
target_link_libraries(tarvisko_window_harness PUBLIC tarvisko_window tarvisko_test_support comctl32
  user32 gdi32)

tarvisko_test(app_controls_test controls_test.cpp LIBS tarvisko_window_harness LABELS window)
# The icon case puts "operator.ico" beside the executable: it gets a folder of its own.
set_target_properties(app_controls_test PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/controls)
tarvisko_test(app_cards_test cards_test.cpp LIBS tarvisko_window_harness LABELS window)
tarvisko_test(app_details_window_test details_window_test.cpp LIBS tarvisko_window_harness
  LABELS window)

# The same executable in a prefix whose system DPI is 144.
add_test(NAME app_controls_144dpi_test COMMAND ${TARVISKO_GTEST_JUDGE}
  ${CMAKE_CURRENT_SOURCE_DIR}/dpi144-prefix $<TARGET_FILE:app_controls_test>
  --gtest_filter=HighDpiPrefix.*)
set_tests_properties(app_controls_144dpi_test PROPERTIES LABELS window TIMEOUT 300
  RESOURCE_LOCK test_display ENVIRONMENT "${TARVISKO_TEST_ENV}")
