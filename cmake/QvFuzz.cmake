# Fuzz targets: one libFuzzer entry point (LLVMFuzzerTestOneInput) per input
# surface, with a seed corpus in tests/fuzz/corpus/<name>/.
#
#   qv_fuzz_target(<name> SOURCES ... [DEPS ...])
#
# The same sources build three ways:
#  - fuzz tree (-DQV_FUZZ=ON, clang; scripts/fuzz): executable fuzz_<name>
#    linked with libFuzzer, part of the target qv_fuzzers;
#  - native tree (g++, sanitizers): executable fuzz_<name>_replay, the
#    sources with tests/fuzz/replay_main.cpp as main, and a ctest entry that
#    runs every file of the corpus through the target once, so a fault once
#    found stays found;
#  - Windows tree: nothing.

option(QV_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

if(QV_FUZZ)
  if(QV_WINDOWS OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QV_FUZZ needs a native clang build (CMAKE_CXX_COMPILER=clang++)")
  endif()
  # Coverage feedback for every library the targets link; the targets
  # themselves link the fuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_custom_target(qv_fuzzers)
endif()

set(QV_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR}/../tests/fuzz)
cmake_path(NORMAL_PATH QV_FUZZ_DIR)

function(qv_fuzz_target name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  if(QV_WINDOWS)
    return()
  endif()
  set(corpus ${QV_FUZZ_DIR}/corpus/${name})
  if(NOT IS_DIRECTORY ${corpus})
    message(FATAL_ERROR "fuzz target ${name}: no seed corpus at ${corpus}")
  endif()
  if(QV_FUZZ)
    set(exe fuzz_${name})
    add_executable(${exe} ${A_SOURCES})
    target_link_options(${exe} PRIVATE -fsanitize=fuzzer)
    add_dependencies(qv_fuzzers ${exe})
  else()
    set(exe fuzz_${name}_replay)
    add_executable(${exe} ${A_SOURCES} ${QV_FUZZ_DIR}/replay_main.cpp)
    add_test(NAME ${exe} COMMAND ${exe} ${corpus})
    # The exit code decides: a broken invariant or a sanitizer report
    # ends the replay with a failure, and an empty corpus is one too.
    set_tests_properties(${exe} PROPERTIES LABELS "native;fuzz" TIMEOUT 300)
  endif()
  _qv_common(${exe})
  target_include_directories(${exe} PRIVATE ${QV_FUZZ_DIR})
  target_link_libraries(${exe} PRIVATE ${A_DEPS})
endfunction()
