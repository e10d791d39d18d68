# The program end to end against the provider simulator behind a router (tools/netns/with-node):
# the real main window with the real services, and Tarvisko.exe as a process. They need root for
# the namespaces and the display, so they take the display lock like every window test.
include(${CMAKE_SOURCE_DIR}/tools/simulator/simulator.cmake)
add_executable(app_end_to_end_test end_to_end_test.cpp shell_window.cpp)
target_compile_options(app_end_to_end_test PRIVATE ${TARVISKO_WARNINGS})
target_include_directories(app_end_to_end_test PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(app_end_to_end_test PRIVATE tarvisko_window_harness tarvisko_engine
                      tarvisko_test_support GTest::gtest_main)
target_compile_definitions(app_end_to_end_test PRIVATE
  "TARVISKO_EXE_PATH=L\"Z:$<TARGET_FILE:Tarvisko>\"")
add_dependencies(app_end_to_end_test Tarvisko)
# One namespace chain and simulator per group, so that no group sees another's leftovers.
foreach(group EndToEndWindow EndToEndProgram)
  add_test(NAME app_end_to_end_${group}
           COMMAND ${TARVISKO_GTEST_JUDGE} ${CMAKE_SOURCE_DIR}/tools/netns/with-node --
                   $<TARGET_FILE:app_end_to_end_test> --gtest_filter=${group}.*)
  set_tests_properties(app_end_to_end_${group} PROPERTIES LABELS "net;window" TIMEOUT 600
                       RESOURCE_LOCK test_display ENVIRONMENT "${TARVISKO_TEST_ENV}")
endforeach()
