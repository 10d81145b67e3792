# SPDX-License-Identifier: MIT
# What the consumer scripts share: run(COMMAND...) runs a command, leaves
# its output in `out`, and fails the script with that output if it fails.
function(run)
    execute_process(COMMAND ${ARGV} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(failed)
        message(FATAL_ERROR "failed (${failed}): ${ARGV}\n${out}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

# Sets `needed` to the shared libraries BINARY names, one list item each.
function(needed_libraries binary)
    run(readelf -d ${binary})
    string(REGEX MATCHALL "Shared library: \\[[^]]*\\]" found "${out}")
    list(TRANSFORM found REPLACE "Shared library: \\[(.*)\\]" "\\1")
    set(needed "${found}" PARENT_SCOPE)
endfunction()
