# SPDX-License-Identifier: MIT
# Fails unless CEILING prints, for LENGTH, its best first and second pass
# and then a result and a time line, each time to the nanosecond and no
# pass shorter than the best pass of all, which the time line gives.
execute_process(COMMAND ${EMULATOR} ${CEILING} ${LENGTH} RESULT_VARIABLE status OUTPUT_VARIABLE out)
set(t "([0-9]+)\\.([0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9])")
if(status OR NOT out MATCHES "First pass: ${t}\nSecond pass: ${t}\nResultado: [0-9.]+\nTiempo: ${t}\n$")
    message(FATAL_ERROR "dotprod-ceiling ${LENGTH} (status ${status}) printed:\n${out}")
endif()
# Nanoseconds, as integers: CMake's arithmetic has no fractions.
math(EXPR first "${CMAKE_MATCH_1} * 1000000000 + 1${CMAKE_MATCH_2} - 1000000000")
math(EXPR second "${CMAKE_MATCH_3} * 1000000000 + 1${CMAKE_MATCH_4} - 1000000000")
math(EXPR best "${CMAKE_MATCH_5} * 1000000000 + 1${CMAKE_MATCH_6} - 1000000000")
if(best LESS_EQUAL 0 OR first LESS best OR second LESS best)
    message(FATAL_ERROR "dotprod-ceiling ${LENGTH}: passes of ${first} and ${second} ns "
                        "beside a best pass of ${best} ns:\n${out}")
endif()
