# Configures, builds and runs the probe with awkward but valid values, then checks that a
# value outside printable ASCII stops configure.
set(probe "${CMAKE_CURRENT_LIST_DIR}/probe")

function(configure_probe dir result output)
  file(REMOVE_RECURSE "${dir}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${probe}" -B "${dir}" "-DSOURCE_DIR=${SOURCE_DIR}"
                          ${ARGN}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${result} "${code}" PARENT_SCOPE)
  set(${output} "${out}${err}" PARENT_SCOPE)
endfunction()

# Quotes, backslashes and what would be a trigraph: all printable, all kept.
configure_probe("${WORK_DIR}/valid" code output
  [[-DSTELVOX_UPDATE_USER=us\er"n??/]] [[-DSTELVOX_UPDATE_PASSWORD=a"b\c??d]]
  [[-DSTELVOX_UPDATE_PUBLIC_KEY=RWRD2ZaMas2uosjOh30AJA9nvIGsUixY0doxVSlgI5ITBEYyRvlWLKLc]])
if(NOT code EQUAL 0)
  message(FATAL_ERROR "configure failed for valid values:\n${output}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${WORK_DIR}/valid" RESULT_VARIABLE code
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "the generated header does not compile:\n${out}${err}")
endif()
execute_process(COMMAND "${WORK_DIR}/valid/bin/probe" "${WORK_DIR}/valid/expected.txt"
                RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "the compiled values differ from the configured ones")
endif()

configure_probe("${WORK_DIR}/invalid" code output "-DSTELVOX_UPDATE_PASSWORD=pässwor")
if(code EQUAL 0 OR NOT output MATCHES "STELVOX_UPDATE_PASSWORD must hold printable ASCII")
  message(FATAL_ERROR "a non-ASCII password was not refused clearly:\n${output}")
endif()
