# SPDX-License-Identifier: MIT
# Fails unless BINARY's dynamic dependencies are libc alone.
execute_process(COMMAND readelf -d ${BINARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "readelf failed on ${BINARY}")
endif()
string(REGEX MATCHALL "Shared library: \\[[^]]*\\]" needed "${dynamic}")
if(NOT needed STREQUAL "Shared library: [libc.so.6]")
    message(FATAL_ERROR "${BINARY} needs: ${needed}")
endif()
