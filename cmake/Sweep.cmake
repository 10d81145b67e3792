# SPDX-License-Identifier: MIT
# The sweep, installed as a program: the launcher as bin/dotprod-sweep, and
# its package where Debian keeps a program's private Python modules,
# share/dotprod. The launcher finds the package at ../share/dotprod from
# its own folder, its witness at ../lib/dotprod, and the programs it runs
# in that folder: the paths must keep that relation.
include(${CMAKE_CURRENT_LIST_DIR}/Manual.cmake)

file(RELATIVE_PATH binToData ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/dotprod)
# Its witness library goes to lib/dotprod of the prefix (examples/).
file(RELATIVE_PATH binToWitness ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_PREFIX}/lib/dotprod)
if(NOT binToData STREQUAL "../share/dotprod" OR NOT binToWitness STREQUAL "../lib/dotprod")
    message(FATAL_ERROR "the installed sweep looks for its package at ../share/dotprod and its "
        "witness at ../lib/dotprod from its own folder: CMAKE_INSTALL_BINDIR and "
        "CMAKE_INSTALL_DATADIR must be bin and share of one prefix")
endif()

# Installed, it runs the interpreter the package depends on, not whichever
# python3 comes first on the user's PATH; env keeps blocking the stop
# signals until the launcher's handlers are in place.
set(DOTPROD_SWEEP_PYTHON /usr/bin/python3 CACHE FILEPATH "the Python the installed sweep runs")
file(READ ${PROJECT_SOURCE_DIR}/bench/sweep launcher)
string(REGEX REPLACE "^(#!/usr/bin/env -S [^\n]*) python3\n" "\\1 ${DOTPROD_SWEEP_PYTHON}\n"
    installed "${launcher}")
if(installed STREQUAL launcher)
    message(FATAL_ERROR "bench/sweep: its first line is not #!/usr/bin/env -S ... python3")
endif()
set(launcher "${installed}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/dotprod-sweep CONTENT "${launcher}" @ONLY)
install(PROGRAMS ${PROJECT_BINARY_DIR}/dotprod-sweep DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bench/dotprod_sweep DESTINATION ${CMAKE_INSTALL_DATADIR}/dotprod
    FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
dotprod_manual(dotprod-sweep.1 ${PROJECT_SOURCE_DIR}/docs/man/dotprod-sweep.1.in)
