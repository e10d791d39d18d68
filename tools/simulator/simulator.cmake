# Tests that talk to the provider simulator. Include this file from a tests/ CMakeLists.txt:
#   include(${CMAKE_SOURCE_DIR}/tools/simulator/simulator.cmake)
#   tarvisko_simulator_test(NAME SOURCES... [MODULES upload node] [LABELS ...] [TIMEOUT s])
# The test runs under Wine through tools/simulator/with-simulator (judged by its XML report, as
# every GoogleTest executable; see TARVISKO_GTEST_JUDGE), which starts the simulator on
# a free port (only the MODULES named, or all of them) and passes its origin on in
# TARVISKO_SIMULATOR_ORIGIN. tests/support/simulator_client.h calls its control API.
# Python3_EXECUTABLE is a directory variable: find it in every including folder, before the guard.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
include_guard(GLOBAL)

target_sources(tarvisko_test_support PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/simulator_client.cpp)

function(tarvisko_simulator_test name)
  cmake_parse_arguments(S "" "" "MODULES" ${ARGN})
  tarvisko_test(${name} ${S_UNPARSED_ARGUMENTS})
  set(wrapper ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/simulator/with-simulator)
  if(S_MODULES)
    string(REPLACE ";" "," modules "${S_MODULES}")
    list(APPEND wrapper --modules ${modules})
  endif()
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
    "${TARVISKO_GTEST_JUDGE};${wrapper};--;${CMAKE_SOURCE_DIR}/tools/wine/run-test")
endfunction()
