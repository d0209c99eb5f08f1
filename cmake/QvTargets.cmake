# Helpers that keep the per-folder CMakeLists short and both builds alike.
#
#   qv_portable_library(<name> SOURCES ... [DEPS ...])  built in both builds
#   qv_win32_library(<name> SOURCES ... [DEPS ...])     Windows build only
#   qv_test(<name> SOURCES ... [DEPS ...] [PORTABLE] [NO_MAIN] [LABELS ...]
#           [ENVIRONMENT ...] [FIXTURES ...])
#       one test executable = one ctest entry (a Wine start per test case
#       would cost more than the test itself).

set(QV_WARNINGS -Wall -Wextra -Werror -Wno-missing-field-initializers)

if(NOT QV_WINDOWS)
  set(QV_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${QV_SANITIZE})
  add_link_options(${QV_SANITIZE})
else()
  # Unicode-ready Win32 headers, Vista+ API surface.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
endif()

function(_qv_common target)
  target_compile_options(${target} PRIVATE ${QV_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

function(qv_portable_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  _qv_common(${name})
  if(A_DEPS)
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

function(qv_win32_library name)
  if(NOT QV_WINDOWS)
    return()
  endif()
  qv_portable_library(${name} ${ARGN})
endfunction()

function(qv_test name)
  cmake_parse_arguments(A "PORTABLE;NO_MAIN" "TIMEOUT" "SOURCES;DEPS;LABELS;ENVIRONMENT;FIXTURES" ${ARGN})
  if(NOT A_PORTABLE AND NOT QV_WINDOWS)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  _qv_common(${name})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gmock)
  if(NOT A_NO_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set(labels ${A_LABELS})
  if(QV_WINDOWS)
    list(APPEND labels wine)
  else()
    list(APPEND labels native)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  # A test program counts as passed only when GoogleTest says so: a crash
  # that ends the process early cannot pass on a lucky exit code.
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${A_TIMEOUT}
    PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\."
    FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
  if(A_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${A_ENVIRONMENT}")
  endif()
  if(A_FIXTURES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${A_FIXTURES}")
  endif()
endfunction()
