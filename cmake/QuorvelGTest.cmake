# GoogleTest, found once for the whole build. Native builds use the installed
# package. A cross build cannot link the host's libraries, so it builds
# GoogleTest from the sources Debian ships in /usr/src/googletest, with the
# same target names. Sets QUORVEL_GTEST_FOUND.
include_guard(GLOBAL)

set(QUORVEL_GTEST_FOUND OFF)
if(CMAKE_CROSSCOMPILING)
  set(QUORVEL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  if(EXISTS ${QUORVEL_GTEST_SOURCE}/CMakeLists.txt)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${QUORVEL_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    if(NOT TARGET GTest::gtest_main)  # older GoogleTest sources define no namespaced names
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
    set(QUORVEL_GTEST_FOUND ON)
  endif()
else()
  find_package(GTest QUIET)
  set(QUORVEL_GTEST_FOUND ${GTest_FOUND})
endif()

if(QUORVEL_GTEST_FOUND)
  include(GoogleTest)
endif()

# quorvel_add_unit_tests(NAME SOURCES... LIBRARIES...): one GoogleTest
# program whose tests ctest finds by name and runs under the label "unit".
# The target unit-tests builds all of them.
function(quorvel_add_unit_tests name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBRARIES")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
  if(NOT TARGET unit-tests)
    add_custom_target(unit-tests)
  endif()
  add_dependencies(unit-tests ${name})
endfunction()
