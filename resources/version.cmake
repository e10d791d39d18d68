# The executable's version resource, from the one program version constant.
#   tarvisko_version_resource(TARGET NAME DESCRIPTION [VERSION x.y.z[.w]])
# makes an object library TARGET whose only object is a VERSIONINFO resource for NAME.exe; link it
# into the executable. Without VERSION the version is program_version of engine/common/version.h
# (the fourth number is then 0).
include_guard(GLOBAL)

file(STRINGS ${CMAKE_SOURCE_DIR}/engine/common/version.h tarvisko_version_line
  REGEX "program_version = \"[0-9]+\\.[0-9]+\\.[0-9]+\"")
if(NOT tarvisko_version_line MATCHES "\"([0-9]+\\.[0-9]+\\.[0-9]+)\"")
  message(FATAL_ERROR "engine/common/version.h: program_version not found")
endif()
set(TARVISKO_PROGRAM_VERSION ${CMAKE_MATCH_1})
# Configure again when the constant changes.
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/engine/common/version.h)

function(tarvisko_version_resource target name description)
  cmake_parse_arguments(V "" "VERSION" "" ${ARGN})
  if(NOT V_VERSION)
    set(V_VERSION ${TARVISKO_PROGRAM_VERSION})
  endif()
  string(REPLACE "." ";" parts ${V_VERSION})
  list(GET parts 0 TARVISKO_RC_MAJOR)
  list(GET parts 1 TARVISKO_RC_MINOR)
  list(GET parts 2 TARVISKO_RC_PATCH)
  set(TARVISKO_RC_BUILD 0)
  list(LENGTH parts count)
  if(count GREATER 3)
    list(GET parts 3 TARVISKO_RC_BUILD)
  endif()
  set(TARVISKO_RC_VERSION ${V_VERSION})
  set(TARVISKO_RC_NAME ${name})
  set(TARVISKO_RC_DESCRIPTION ${description})
  set(rc ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/resources/version.rc.in ${rc} @ONLY)
  add_library(${target} OBJECT ${rc})
endfunction()
