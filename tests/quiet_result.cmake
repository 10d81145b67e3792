# SPDX-License-Identifier: MIT
# Fails unless QUIET prints, for LENGTH, exactly the result line that
# DOTPROD prints, then a time line, and nothing else.
execute_process(COMMAND ${EMULATOR} ${DOTPROD} ${LENGTH} RESULT_VARIABLE status OUTPUT_VARIABLE reference)
string(REGEX MATCH "\nResultado: [^\n]*\n" result "${reference}")
if(status OR NOT result)
    message(FATAL_ERROR "dotprod ${LENGTH} failed (${status}) or printed no result")
endif()
string(REPLACE "." "\\." pattern "${result}")
execute_process(COMMAND ${EMULATOR} ${QUIET} ${LENGTH} RESULT_VARIABLE status OUTPUT_VARIABLE out)
set(seconds "[0-9]+\\.[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]")
if(status OR NOT "\n${out}" MATCHES "^${pattern}Tiempo: ${seconds}\n$")
    message(FATAL_ERROR "dotprod-quiet ${LENGTH} (status ${status}) printed:\n${out}"
                        "dotprod's result line:${result}")
endif()
