# tarvisko_netns_test(NAME EXE_TARGET [SOURCES ...] [LIBS ...] [ROUTERS n] [BLACKHOLE_AT k]
#                     [UNREACHABLE_AT k] [SILENT_AT k] [TARGET_ADDRESS a] [HOSTS_ENTRIES "a n"...]
#                     [TARGET_COMMAND cmd] [SHAPE tbf] [TIMEOUT s] [ARGS ...])
# Registers a CTest test (label "net", needs root) that runs EXE_TARGET under Wine inside a private
# client / N routers / target network built by tools/netns/run.sh; see that script for the
# addresses the test receives in its environment. With SOURCES, EXE_TARGET is first built from
# them as a GoogleTest executable like tarvisko_test builds one; without, it must already exist.
# ARGS are passed to the executable (for example --gtest_filter=...). EXE_TARGET must be a
# GoogleTest executable: the run is judged by its XML report (TARVISKO_GTEST_JUDGE).
include_guard(GLOBAL)

function(tarvisko_netns_test name exe_target)
  cmake_parse_arguments(N "" "ROUTERS;BLACKHOLE_AT;UNREACHABLE_AT;SILENT_AT;TARGET_ADDRESS;TARGET_COMMAND;SHAPE;TIMEOUT"
                        "SOURCES;LIBS;ARGS;HOSTS_ENTRIES" ${ARGN})
  if(N_SOURCES)
    add_executable(${exe_target} ${N_SOURCES})
    target_compile_options(${exe_target} PRIVATE ${TARVISKO_WARNINGS})
    target_include_directories(${exe_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(${exe_target} PRIVATE tarvisko_engine tarvisko_test_support
                          GTest::gtest_main ${N_LIBS})
  endif()
  if(NOT N_ROUTERS)
    set(N_ROUTERS 1)
  endif()
  if(NOT N_TIMEOUT)
    set(N_TIMEOUT 300)
  endif()
  set(options --routers ${N_ROUTERS})
  if(N_BLACKHOLE_AT)
    list(APPEND options --blackhole-at ${N_BLACKHOLE_AT})
  endif()
  if(N_UNREACHABLE_AT)
    list(APPEND options --unreachable-at ${N_UNREACHABLE_AT})
  endif()
  if(N_SILENT_AT)
    list(APPEND options --silent-at ${N_SILENT_AT})
  endif()
  if(N_TARGET_ADDRESS)
    list(APPEND options --target-address ${N_TARGET_ADDRESS})
  endif()
  foreach(entry IN LISTS N_HOSTS_ENTRIES)
    list(APPEND options --hosts-entry "${entry}")
  endforeach()
  if(N_TARGET_COMMAND)
    list(APPEND options --target-command ${N_TARGET_COMMAND})
  endif()
  if(N_SHAPE)
    list(APPEND options --shape "${N_SHAPE}")
  endif()
  add_test(NAME ${name}
           COMMAND ${TARVISKO_GTEST_JUDGE} ${CMAKE_SOURCE_DIR}/tools/netns/run.sh ${options} --
                   $<TARGET_FILE:${exe_target}> ${N_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS net TIMEOUT ${N_TIMEOUT}
                       ENVIRONMENT "${TARVISKO_TEST_ENV}")
endfunction()
