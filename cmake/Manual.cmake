# SPDX-License-Identifier: MIT
# dotprod_manual(PAGE SOURCE) makes the manual page PAGE (dotprod.1, say)
# from SOURCE, with the project's version in its footer, and installs it
# compressed, as Debian's tools expect, in its section.
#
# A page names where the examples' sources are, as @DOTPROD_DOCDIR@: the
# page built in the tree names the source tree, and the installed page is
# made when install runs, for the prefix it installs to (cmake --install
# --prefix, or the package's /usr), so that each names a path that exists
# where it is read.
include_guard(GLOBAL)
find_program(DOTPROD_GZIP gzip REQUIRED)

function(dotprod_manual page source)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    set(DOTPROD_DOCDIR ${PROJECT_SOURCE_DIR})
    configure_file(${source} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
    set(installed ${PROJECT_BINARY_DIR}/man/installed/${page})
    string(REGEX MATCH "[0-9]$" section ${page})
    install(CODE "
        set(PROJECT_VERSION [[${PROJECT_VERSION}]])
        set(DOTPROD_DOCDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\")
        configure_file([[${source}]] [[${installed}]] @ONLY)
        # -n keeps the file's name and time out: the same bytes every time.
        execute_process(COMMAND [[${DOTPROD_GZIP}]] -9n --force --keep [[${installed}]]
                        COMMAND_ERROR_IS_FATAL ANY)")
    install(FILES ${installed}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
