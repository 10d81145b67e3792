# SPDX-License-Identifier: MIT
# Fails unless PROGRAM prints, for LENGTH, EXACT's value to the six decimals
# of its result line (within one unit of the last, for a value that lies on
# a rounding boundary), then a time line, and nothing else.
execute_process(COMMAND ${EMULATOR} ${EXACT} ${LENGTH} RESULT_VARIABLE status OUTPUT_VARIABLE exact)
if(status OR NOT exact MATCHES "^([0-9]+)\\.([0-9]+)\n$")
    message(FATAL_ERROR "dotprod-exact ${LENGTH} (status ${status}) printed: ${exact}")
endif()
# In millionths, rounded: CMake's arithmetic is integer only.
string(SUBSTRING "${CMAKE_MATCH_2}0000000" 0 7 fraction)
math(EXPR expected "(${CMAKE_MATCH_1}${fraction} + 5) / 10")

get_filename_component(name ${PROGRAM} NAME)
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${LENGTH} RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(status OR NOT out MATCHES "^Resultado: ([0-9]+)\\.([0-9][0-9][0-9][0-9][0-9][0-9])\nTiempo: [0-9]+\\.[0-9]+\n$")
    message(FATAL_ERROR "${name} ${LENGTH} (status ${status}) printed:\n${out}")
endif()
math(EXPR difference "${CMAKE_MATCH_1}${CMAKE_MATCH_2} - ${expected}")
if(difference GREATER 1 OR difference LESS -1)
    message(FATAL_ERROR "${name} ${LENGTH} printed:\n${out}the exact value is ${exact}")
endif()
