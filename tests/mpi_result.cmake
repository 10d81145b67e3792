# SPDX-License-Identifier: MIT
# Fails unless MPIEXEC runs RANKS copies of PROGRAM for LENGTH to status 0
# and they print rank 0's two lines alone, the result within 1e-9 of EXACT's
# value, relative, besides the half unit of the sixth decimal that %f drops.
execute_process(COMMAND ${EXACT} ${LENGTH} RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(status OR NOT out MATCHES "^([0-9]+)\\.([0-9]+)\n$")
    message(FATAL_ERROR "dotprod-exact ${LENGTH} (status ${status}) printed: ${out}")
endif()
# Both values in units of 1e-9, which CMake's 64-bit integers hold.
string(SUBSTRING "${CMAKE_MATCH_2}000000000" 0 9 decimals)
math(EXPR exact "${CMAKE_MATCH_1} * 1000000000 + ${decimals}")

execute_process(COMMAND ${MPIEXEC} ${NUMPROC_FLAG} ${RANKS} --oversubscribe ${PROGRAM} ${LENGTH}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(seconds "[0-9]+\\.[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]")
if(status OR NOT out MATCHES "^Resultado: ([0-9]+)\\.([0-9][0-9][0-9][0-9][0-9][0-9])\nTiempo: ${seconds}\n$")
    message(FATAL_ERROR "${RANKS} ranks of ${PROGRAM} ${LENGTH} (status ${status}) printed:\n${out}"
                        "and on standard error:\n${err}")
endif()
math(EXPR result "${CMAKE_MATCH_1} * 1000000000 + ${CMAKE_MATCH_2} * 1000")
math(EXPR error "${result} - ${exact}")
if(error LESS 0)
    math(EXPR error "0 - ${error}")
endif()
# Half a unit of the sixth decimal, 1e-9 relative, and the one unit that
# cutting the exact value to nine decimals may have cost.
math(EXPR bound "500 + ${exact} / 1000000000 + 1")
if(error GREATER bound)
    message(FATAL_ERROR "result ${result} e-9 is ${error} e-9 from the exact ${exact} e-9 (bound ${bound})")
endif()
