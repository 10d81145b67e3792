# SPDX-License-Identifier: MIT
# Fails unless the shared library LIBRARY exports the header's functions and
# nothing else, under the soname SONAME.
set(expected freeMatrix freeVector generateEmptyIntVector generateEmptyMatrix
    generateEmptyVector generateMatrix generateVector generateVectorPart)

execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" names "${symbols}")
list(TRANSFORM names STRIP)
list(SORT names)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "${LIBRARY} exports [${names}], not [${expected}]")
endif()

execute_process(COMMAND readelf -d ${LIBRARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
string(REGEX MATCHALL "Library soname: \\[[^]]*\\]" soname "${dynamic}")
if(failed OR NOT soname STREQUAL "Library soname: [${SONAME}]")
    message(FATAL_ERROR "${LIBRARY} has soname ${soname}, not ${SONAME}")
endif()
