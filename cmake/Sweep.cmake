# SPDX-License-Identifier: MIT
# The sweep, installed as a program: the launcher as bin/dotprod-sweep, and
# its package where Debian keeps a program's private Python modules,
# share/dotprod. The launcher finds the package at ../share/dotprod from
# its own folder, and the programs it runs in that folder: the two paths
# must keep that relation.
include(${CMAKE_CURRENT_LIST_DIR}/Manual.cmake)

file(RELATIVE_PATH binToData ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/dotprod)
if(NOT binToData STREQUAL "../share/dotprod")
    message(FATAL_ERROR "the installed sweep looks for its package at ../share/dotprod from its "
        "own folder: CMAKE_INSTALL_BINDIR and CMAKE_INSTALL_DATADIR must be bin and share of one prefix")
endif()

# Installed, it runs the interpreter the package depends on, not whichever
# python3 comes first on the user's PATH.
set(DOTPROD_SWEEP_PYTHON /usr/bin/python3 CACHE FILEPATH "the Python the installed sweep runs")
file(READ ${PROJECT_SOURCE_DIR}/bench/sweep launcher)
string(REGEX REPLACE "^#![^\n]*" "#!${DOTPROD_SWEEP_PYTHON}" launcher "${launcher}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/dotprod-sweep CONTENT "${launcher}" @ONLY)
install(PROGRAMS ${PROJECT_BINARY_DIR}/dotprod-sweep DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bench/dotprod_sweep DESTINATION ${CMAKE_INSTALL_DATADIR}/dotprod
    FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
dotprod_manual(dotprod-sweep.1 ${PROJECT_SOURCE_DIR}/docs/man/dotprod-sweep.1.in)
