# SPDX-License-Identifier: MIT
# dotprod_manual(PAGE SOURCE) makes the manual page PAGE (dotprod.1, say)
# from SOURCE, with the project's version in its footer, compresses it as
# Debian's tools expect, and installs it in its section.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/Gzip.cmake)

function(dotprod_manual page source)
    set(built ${PROJECT_BINARY_DIR}/man/${page})
    configure_file(${source} ${built} @ONLY)
    dotprod_gzip(dotprod_manual_${page} ${built})
    string(REGEX MATCH "[0-9]$" section ${page})
    install(FILES ${built}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
