# SPDX-License-Identifier: MIT
# Fails unless PROGRAM accepts a length of 0, answers --version with
# `NAME VERSION`, and refuses each malformed or out-of-range length (and a
# missing or extra argument) with status 2, one line on standard error that
# names it, and nothing on standard output.
get_filename_component(name ${PROGRAM} NAME)
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --version
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(status OR NOT out STREQUAL "${name} ${VERSION}\n" OR NOT err STREQUAL "")
    message(FATAL_ERROR "${name} --version: status ${status}, stdout [${out}], stderr [${err}]")
endif()
execute_process(COMMAND ${EMULATOR} ${PROGRAM} 0 RESULT_VARIABLE status OUTPUT_QUIET)
if(status)
    message(FATAL_ERROR "${name} 0 gave status ${status}")
endif()
# One case per item, its arguments separated by |.
foreach(arguments IN ITEMS "" abc 12abc -1 +5 " 5" 1e3 2147483648 5|6)
    string(REPLACE "|" ";" args "${arguments}")
    execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${args}
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 2 OR NOT out STREQUAL "" OR NOT err MATCHES "^(Usage: ${name}|${name}:)[^\n]*\n$")
        message(FATAL_ERROR "${name} [${arguments}]: status ${status}, stdout [${out}], stderr [${err}]")
    endif()
endforeach()
