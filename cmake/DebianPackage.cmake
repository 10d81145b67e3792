# SPDX-License-Identifier: MIT
# The Debian packages of the benchmark and the library: the changelog Debian
# asks of every package, and CPack's settings. Build it from the `package`
# preset: GNUInstallDirs gives Debian's multiarch library directory only
# when the prefix is /usr at configure time.
if(NOT DOTPROD_INSTALL)
    message(FATAL_ERROR "DOTPROD_PACKAGE needs DOTPROD_INSTALL: the package holds what is installed")
endif()
if(NOT DOTPROD_SHARED)
    message(FATAL_ERROR "DOTPROD_PACKAGE needs DOTPROD_SHARED: libdotprod-arrays${DOTPROD_ARRAYS_SOVERSION} holds the shared library")
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

# Three packages, as Debian splits a library: libdotprod-arrays1 holds the
# shared library alone, so that programs linking it need nothing more;
# libdotprod-arrays-dev what a build needs; dotprod the programs, the sweep,
# the examples and the manual pages. Install rules that name no component
# are the programs' (the top-level CMakeLists.txt says so).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs runtime development)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME dotprod)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libdotprod-arrays${DOTPROD_ARRAYS_SOVERSION})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libdotprod-arrays-dev)
# Every package has its own copyright file and changelog; the programs'
# copyright is installed with them anyway. The changelog, which names the
# package's maintainer, and the libraries' copies go into the packages
# alone.
install(FILES ${docDir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
    COMPONENT programs EXCLUDE_FROM_ALL)
foreach(component RUNTIME DEVELOPMENT)
    string(TOLOWER ${component} lower)
    install(FILES ${docDir}/copyright ${docDir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${component}_PACKAGE_NAME}
        COMPONENT ${lower} EXCLUDE_FROM_ALL)
endforeach()

# The sweep's first line runs env -S, which blocks the stop signals until the
# launcher's handlers are in place; lintian takes that -S for the interpreter.
file(WRITE ${PROJECT_BINARY_DIR}/lintian-overrides
    "dotprod: unusual-interpreter -S [usr/${CMAKE_INSTALL_BINDIR}/dotprod-sweep]\n")
install(FILES ${PROJECT_BINARY_DIR}/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME dotprod
    COMPONENT programs EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME dotprod)
# All three come from one source, which their changelogs name.
set(CPACK_DEBIAN_PACKAGE_SOURCE dotprod)
# Each package's description starts with its own summary line. CPack would
# put one summary for all three above them, unless that summary is its
# placeholder, which then appears nowhere.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_NAME} built using CMake")
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "${PROJECT_DESCRIPTION}
dotprod LENGTH computes the dot product of two pseudo-random
single-precision vectors in one plain loop that prints every running sum,
and reports the loop's wall-clock time. dotprod-sweep times faster versions
of the same work against it and judges their results against the exact
value (dotprod-exact). Ships the benchmark, the sweep, example versions
(serial, vectorised, OpenMP) and their sources, and a manual page for each
program. The programs need nothing of the helper library at run time;
building the examples' sources needs libdotprod-arrays-dev.")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "dotprod's vector and matrix helpers, shared library
Vectors and square matrices of pseudo-random single-precision floats:
allocation, filling from libc's rand() reseeded with 0, and release, with C
linkage. A program in any language that can call C (Python's ctypes, Julia's
ccall, Rust's extern blocks) builds exactly the vectors the dotprod
benchmark builds by calling generateVector from this library.")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "dotprod's vector and matrix helpers, development files
The header, the static library, the link to the shared library, and the
CMake package and pkg-config file with which C and C++ programs build
against dotprod's vector and matrix helpers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The programs' libraries are read off the built binaries; what the sweep,
# a Python script, runs is named here: GNU time measures peak memory, and
# gnuplot draws the plot, which is optional.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "python3, time")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS "gnuplot-nox | gnuplot")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SUGGESTS libdotprod-arrays-dev)
# The shlibs file, for the packages whose programs link the library: a
# program built against this version needs this version or a later one.
# Only libdotprod-arrays1 holds a shared library, so only it gets one.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# dpkg's trigger rebuilds the loader's cache when the library comes or goes.
# CPack also writes scripts that call ldconfig themselves, which Debian no
# longer wants: they are taken out of the package once it is built.
file(WRITE ${PROJECT_BINARY_DIR}/debian/runtime/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/runtime/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DOTPROD_RUNTIME_DEB libdotprod-arrays${DOTPROD_ARRAYS_SOVERSION}_${PROJECT_VERSION})
set(CPACK_DOTPROD_PROGRAMS_DEB dotprod_${PROJECT_VERSION})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianNoLdconfig.cmake)
# The unversioned link and the CMake files point at this very build.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "libdotprod-arrays${DOTPROD_ARRAYS_SOVERSION} (= ${PROJECT_VERSION})")
include(CPack)
