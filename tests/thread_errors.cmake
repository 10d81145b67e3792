# SPDX-License-Identifier: MIT
# Fails unless PROGRAM, asked for THREADS OpenMP threads, and run under an
# address-space limit of LIMIT_KB kilobytes when that is given, exits with
# status 3, one line on standard error that names it, and nothing on
# standard output.
get_filename_component(name ${PROGRAM} NAME)
set(command ${EMULATOR} ${PROGRAM} 1000)
if(LIMIT_KB)
    set(command sh -c "ulimit -v ${LIMIT_KB} && exec \"$@\"" sh ${command})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env OMP_NUM_THREADS=${THREADS} ${command}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 3 OR NOT out STREQUAL "" OR NOT err MATCHES "^${name}: [^\n]*\n$")
    message(FATAL_ERROR "${name} with ${THREADS} threads: status ${status}, stdout [${out}], stderr [${err}]")
endif()
