# SPDX-License-Identifier: MIT
# Fails unless EXACT --orders LENGTH prints the same line under an
# address-space limit of SORT_KB kilobytes, too small for the fast sort's
# second copy of the terms, as without one; and exits with status 255,
# nothing on standard output and one line on standard error under
# COPY_KB, too small for the sorted copy itself.
function(run_limited kb)
    set(command ${EMULATOR} ${EXACT} --orders ${LENGTH})
    if(kb)
        set(command sh -c "ulimit -v ${kb} && exec \"$@\"" sh ${command})
    endif()
    execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    set(status ${status} PARENT_SCOPE)
    set(out "${out}" PARENT_SCOPE)
    set(err "${err}" PARENT_SCOPE)
endfunction()

run_limited("")
set(free "${out}")
if(NOT status EQUAL 0 OR NOT free MATCHES "^[0-9.e+-]+ [0-9.e+-]+ [0-9.e+-]+\n$")
    message(FATAL_ERROR "--orders ${LENGTH}: status ${status}, stdout [${free}], stderr [${err}]")
endif()
run_limited(${SORT_KB})
if(NOT status EQUAL 0 OR NOT out STREQUAL free)
    message(FATAL_ERROR "under ${SORT_KB} kB: status ${status}, stdout [${out}] where "
                        "[${free}], stderr [${err}]")
endif()
run_limited(${COPY_KB})
if(NOT status EQUAL 255 OR NOT out STREQUAL ""
   OR NOT err STREQUAL "dotprod-exact: cannot allocate the sorted copy of ${LENGTH} terms\n")
    message(FATAL_ERROR "under ${COPY_KB} kB: status ${status}, stdout [${out}], stderr [${err}]")
endif()
