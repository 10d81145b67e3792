# SPDX-License-Identifier: MIT
# dotprod_gzip(TARGET FILE) compresses FILE into FILE.gz beside it, at every
# build, as Debian's tools expect of manual pages and changelogs. -n keeps
# the file's name and time out of it, so a rebuild gives the same bytes.
include_guard(GLOBAL)
find_program(DOTPROD_GZIP gzip REQUIRED)

function(dotprod_gzip target file)
    cmake_path(GET file PARENT_PATH folder)
    cmake_path(GET file FILENAME name)
    add_custom_command(OUTPUT ${file}.gz
        COMMAND ${DOTPROD_GZIP} -9n --force --keep ${name}
        DEPENDS ${file}
        WORKING_DIRECTORY ${folder}
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${file}.gz)
endfunction()
