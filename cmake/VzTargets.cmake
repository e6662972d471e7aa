# Helpers shared by every folder's CMakeLists.

# vz_add_library(NAME folder SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# One static library per folder; includes are rooted at the source tree
# (#include "platform/Value.h").
function(vz_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
endfunction()

# vz_add_test(NAME SOURCES ... LIBS ... [SANITIZE])
# A GoogleTest binary whose cases CTest discovers when it runs. SANITIZE marks
# tests of threaded or parsing code: the sanitizer preset builds and runs only those.
function(vz_add_test name)
  cmake_parse_arguments(ARG "SANITIZE" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  set(labels unit)
  if(ARG_SANITIZE)
    list(APPEND labels sanitize)
    set_property(GLOBAL APPEND PROPERTY VZ_SANITIZED_TESTS ${name})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${labels}" TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

# Builds just the tests the sanitizer preset runs.
function(vz_finish_sanitized_tests_target)
  get_property(tests GLOBAL PROPERTY VZ_SANITIZED_TESTS)
  add_custom_target(sanitized-tests)
  if(tests)
    add_dependencies(sanitized-tests ${tests})
  endif()
endfunction()
