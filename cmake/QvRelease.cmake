# Stripped programs: what a user receives, and what the benchmarks measure.
#
#   qv_stripped_copy(<target> DESTINATION <folder> [DEBUG_FILE] [SUMS])
#       Writes <folder>/<program>.exe without symbols or debug information
#       (the imports stay as linked: system DLLs only). DEBUG_FILE also
#       writes the debug information to <folder>/<program>.exe.debug and links
#       the program to it (.gnu_debuglink, name and checksum), so that
#       addr2line or gdb given the stripped program find it beside it. SUMS
#       also writes <folder>/SHA256SUMS for the files written (sha256sum -c
#       checks them). Part of the default build; the target is
#       <target>_stripped.

set(QV_STRIP_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/qv_strip.cmake)

function(qv_stripped_copy target)
  cmake_parse_arguments(A "DEBUG_FILE;SUMS" "DESTINATION" "" ${ARGN})
  if(NOT A_DESTINATION)
    message(FATAL_ERROR "qv_stripped_copy(${target}): DESTINATION is missing")
  endif()
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "qv_stripped_copy(${target}): no objcopy found for this toolchain")
  endif()
  set(exe ${A_DESTINATION}/${target}${CMAKE_EXECUTABLE_SUFFIX})
  set(outputs ${exe})
  set(debug_file OFF)
  if(A_DEBUG_FILE)
    set(debug_file ON)
    list(APPEND outputs ${exe}.debug)
  endif()
  set(sums OFF)
  if(A_SUMS)
    set(sums ON)
    list(APPEND outputs ${A_DESTINATION}/SHA256SUMS)
  endif()
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -DOBJCOPY=${CMAKE_OBJCOPY} -DINPUT=$<TARGET_FILE:${target}>
            -DOUTPUT=${exe} -DDEBUG_FILE=${debug_file} -DSUMS=${sums} -P ${QV_STRIP_SCRIPT}
    DEPENDS ${target} ${QV_STRIP_SCRIPT}
    COMMENT "Stripped ${target} in ${A_DESTINATION}"
    VERBATIM)
  add_custom_target(${target}_stripped ALL DEPENDS ${outputs})
endfunction()
