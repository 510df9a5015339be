# GoogleTest from Debian's sources, built with this toolchain.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found at ${GTEST_SOURCE_DIR} (apt install googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# Test programs live in tests/ of the build, beside the simulated library.
set(VARNELO_TEST_DIR ${CMAKE_BINARY_DIR}/tests)

# A test passes only on what it printed, never on its exit status alone: under Wine a program
# that crashed may still exit 0. A failure fails it wherever it was printed, even with no
# summary after it, and so does any line of wine-exec.sh (a crash, or a status other than 0).
# Each case runs alone, so gtest's closing line for one passed test is that case's own success.
set(VARNELO_FAILURE_REGEX "\\[  FAILED  \\]|: Failure|wine-exec: ")
set(VARNELO_CASE_PASSED_REGEX "\\[  PASSED  \\] 1 test\\.")
# A program that runs all its cases at once.
set(VARNELO_PROGRAM_PASSED_REGEX "\\[  PASSED  \\] [1-9][0-9]* tests?\\.")

# varnelo_add_test(name SOURCES ... LIBS ... [DIR folder] [PROPERTIES ...])
function(varnelo_add_test name)
  cmake_parse_arguments(T "" "DIR" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  if(NOT T_DIR)
    set(T_DIR ${VARNELO_TEST_DIR})
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${T_DIR})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${T_DIR}
    PROPERTIES TIMEOUT 60
      PASS_REGULAR_EXPRESSION "${VARNELO_CASE_PASSED_REGEX}"
      FAIL_REGULAR_EXPRESSION "${VARNELO_FAILURE_REGEX}"
      ${T_PROPERTIES})
endfunction()
