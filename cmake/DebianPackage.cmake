# SPDX-License-Identifier: MIT
# The Debian package of the benchmark and the library: the changelog Debian
# asks of every package, and CPack's settings. Build it from the `package`
# preset: GNUInstallDirs gives Debian's multiarch library directory only
# when the prefix is /usr at configure time.
if(NOT DOTPROD_INSTALL)
    message(FATAL_ERROR "DOTPROD_PACKAGE needs DOTPROD_INSTALL: the package holds what is installed")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/Gzip.cmake)

# No address is made up here: whoever builds a package sets theirs, and
# CPack refuses to build one without it.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "" CACHE STRING
    "Maintainer of the Debian package, as \"Name <address>\"")

# A native package's changelog, made from CHANGELOG.md, whose newest entry
# must be this version's. It goes beside the copyright file, in the docDir
# of Copyright.cmake, which the install rules this file needs have included.
include(${CMAKE_CURRENT_LIST_DIR}/DebianChangelog.cmake)
dotprod_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${docDir}/changelog
    "${CPACK_DEBIAN_PACKAGE_MAINTAINER}" latest)
if(NOT latest STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "CHANGELOG.md: the newest entry is ${latest}, not ${PROJECT_VERSION}")
endif()
dotprod_gzip(dotprod_changelog ${docDir}/changelog)
# The changelog, which names the package's maintainer, goes into the
# package alone.
install(FILES ${docDir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
    COMPONENT debian EXCLUDE_FROM_ALL)
set(CPACK_INSTALL_CMAKE_PROJECTS
    ${PROJECT_BINARY_DIR} dotprod ALL /
    ${PROJECT_BINARY_DIR} dotprod debian /)

set(CPACK_PACKAGE_NAME dotprod)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "dotprod LENGTH computes the dot product of two pseudo-random
single-precision vectors in one plain loop that prints every running sum,
and reports the loop's wall-clock time. dotprod-sweep times faster versions
of the same work against it and judges their results against the exact
value (dotprod-exact). Ships the benchmark, the sweep, example versions
(serial, vectorised, OpenMP) and their sources, a manual page for each
program and the C-callable helper library (static library, header, CMake
package and pkg-config file).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The programs' libraries are read off the built binaries; what the sweep,
# a Python script, runs is named here: GNU time measures peak memory, and
# gnuplot draws the plot, which is optional.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, time")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnuplot-nox | gnuplot")
include(CPack)
