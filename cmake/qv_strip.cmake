# cmake -DOBJCOPY=<objcopy> -DINPUT=<program> -DOUTPUT=<stripped program>
#       -DDEBUG_FILE=ON|OFF -DSUMS=ON|OFF -P qv_strip.cmake
# The work of qv_stripped_copy (QvRelease.cmake). The outputs are written
# under temporary names and renamed at the end, so that an interrupted run
# leaves no stripped program without its debug file.

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGV0} failed (${rc}): ${err}")
  endif()
endfunction()

get_filename_component(folder "${OUTPUT}" DIRECTORY)
get_filename_component(name "${OUTPUT}" NAME)
file(MAKE_DIRECTORY "${folder}")
set(debug "${OUTPUT}.debug")
file(REMOVE "${OUTPUT}" "${debug}" "${folder}/SHA256SUMS")

if(DEBUG_FILE)
  run("${OBJCOPY}" --only-keep-debug "${INPUT}" "${debug}.part")
  # The link records the debug file's name and checksum; its name must be
  # the final one.
  file(RENAME "${debug}.part" "${debug}")
  run("${OBJCOPY}" --strip-all "--add-gnu-debuglink=${debug}" "${INPUT}" "${OUTPUT}.part")
else()
  run("${OBJCOPY}" --strip-all "${INPUT}" "${OUTPUT}.part")
endif()
file(RENAME "${OUTPUT}.part" "${OUTPUT}")

if(SUMS)
  set(lines "")
  set(files "${OUTPUT}")
  if(DEBUG_FILE)
    list(APPEND files "${debug}")
  endif()
  foreach(f IN LISTS files)
    file(SHA256 "${f}" hash)
    get_filename_component(n "${f}" NAME)
    string(APPEND lines "${hash}  ${n}\n")
  endforeach()
  file(WRITE "${folder}/SHA256SUMS" "${lines}")
endif()
