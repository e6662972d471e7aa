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

# vz_add_test(NAME SOURCES ... LIBS ... [SANITIZE] [SERIAL])
# A GoogleTest binary whose cases CTest discovers when it runs. SANITIZE marks
# tests of threaded or parsing code: the sanitizer preset builds and runs only those,
# and with VZ_SANITIZED_TESTS_ELSEWHERE the normal build leaves them to it.
# SERIAL: real-time tests that CTest runs alone, as other tests' load makes them miss frames.
function(vz_add_test name)
  cmake_parse_arguments(ARG "SANITIZE;SERIAL" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  if(ARG_SANITIZE AND VZ_SANITIZED_TESTS_ELSEWHERE AND NOT VZ_SANITIZE)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    return()
  endif()
  # One label per test: a list would be split apart on its way through test discovery.
  set(labels unit)
  if(ARG_SANITIZE)
    set(labels sanitize)
    set_property(GLOBAL APPEND PROPERTY VZ_SANITIZED_TESTS ${name})
  endif()
  set(serial FALSE)
  if(ARG_SERIAL)
    set(serial TRUE)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${labels}" TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen" RUN_SERIAL ${serial}
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

# vz_add_bundle_resources(target INFO_PLIST <file> [RESOURCES <files or folders>...])
# Copies a program's Info.plist and resources into
# $<TARGET_FILE_DIR:target>/<executable name>.resources/, where Bundle::main()
# looks first when the program runs from the build tree. The copy runs on every
# build but only rewrites files that changed, so edited resources are picked up
# without relinking.
function(vz_add_bundle_resources target)
  cmake_parse_arguments(ARG "" "INFO_PLIST" "RESOURCES" ${ARGN})
  if(NOT ARG_INFO_PLIST)
    message(FATAL_ERROR "vz_add_bundle_resources(${target}): INFO_PLIST is required")
  endif()
  set(dest "$<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_NAME:${target}>.resources")
  get_filename_component(info "${ARG_INFO_PLIST}" ABSOLUTE)
  set(commands
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dest}"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "${info}" "${dest}/Info.plist")
  set(sources "${info}")
  foreach(resource IN LISTS ARG_RESOURCES)
    get_filename_component(path "${resource}" ABSOLUTE)
    get_filename_component(name "${resource}" NAME)
    if(IS_DIRECTORY "${path}")
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_directory "${path}" "${dest}/${name}")
    else()
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different "${path}" "${dest}/${name}")
    endif()
    list(APPEND sources "${path}")
  endforeach()
  add_custom_target(${target}_bundle_resources ${commands}
    SOURCES ${sources}
    COMMENT "Copying the bundle resources of ${target}"
    VERBATIM)
  add_dependencies(${target} ${target}_bundle_resources)
endfunction()
