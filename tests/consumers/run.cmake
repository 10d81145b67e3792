# SPDX-License-Identifier: MIT
# Installs the build into a fresh prefix, then builds and runs two small
# programs against it, each linked with the shared library and with the
# archive: one in C++ through find_package, one in C through pkg-config;
# checks that find_package refuses what it cannot give, and that the
# installed sweep finds its package from the prefix alone.
# Needs BUILD_DIR, WORK_DIR, LIBDIR, C_COMPILER and VERSION.
cmake_policy(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

set(source ${CMAKE_CURRENT_LIST_DIR})
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

run(${prefix}/bin/dotprod-sweep --version)
if(NOT out STREQUAL "dotprod-sweep ${VERSION}\n")
    message(FATAL_ERROR "installed dotprod-sweep --version printed [${out}]")
endif()

# Which library dotprod::arrays is, from the components asked and the
# consumer's BUILD_SHARED_LIBS: COMPONENTS BUILD_SHARED_LIBS LIBRARY.
set(cases
    "- OFF static"
    "shared OFF shared"
    "- ON shared"
    "static ON static")
foreach(case IN LISTS cases)
    separate_arguments(case UNIX_COMMAND "${case}")
    list(GET case 0 components)
    list(GET case 1 shared)
    list(GET case 2 library)
    if(components STREQUAL "-")
        set(components "")
    endif()
    set(build ${WORK_DIR}/cmake-${components}-${shared})
    run(${CMAKE_COMMAND} -S ${source}/cmake -B ${build} -D CMAKE_PREFIX_PATH=${prefix}
        -D DOTPROD_COMPONENTS=${components} -D BUILD_SHARED_LIBS=${shared})
    run(${CMAKE_COMMAND} --build ${build})
    run(${build}/consumer)
    needed_libraries(${build}/consumer)
    if(library STREQUAL "shared" AND NOT "libdotprod_arrays.so.1" IN_LIST needed
            OR library STREQUAL "static" AND "libdotprod_arrays.so.1" IN_LIST needed)
        message(FATAL_ERROR "components [${components}], BUILD_SHARED_LIBS ${shared}: "
            "not the ${library} library; the consumer needs [${needed}]")
    endif()
endforeach()

# The package's own config file must refuse what it cannot give: a
# component it lacks, and both libraries at once under one name. One that
# was not found at all would fail too, without these messages.
foreach(case "nonsense|set dotprod_FOUND to FALSE" "shared;static|exclude each other")
    string(REPLACE "|" ";" case "${case}")
    list(POP_BACK case message)
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${source}/component -B ${WORK_DIR}/component
            -D CMAKE_PREFIX_PATH=${prefix} "-DDOTPROD_COMPONENTS=${case}"
        RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT failed OR NOT out MATCHES "${message}")
        message(FATAL_ERROR "find_package(dotprod COMPONENTS ${case}) did not fail with [${message}]:\n${out}")
    endif()
    file(REMOVE_RECURSE ${WORK_DIR}/component)
endforeach()

# pkg-config: the shared library by default, run from the prefix by the
# loader's path; with --static and -static the archive, and no library at
# run time.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
foreach(kind shared static)
    set(options)
    set(link)
    if(kind STREQUAL "static")
        set(options --static)
        set(link -static)
    endif()
    execute_process(COMMAND pkg-config --cflags --libs ${options} dotprod-arrays
        RESULT_VARIABLE failed OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(failed)
        message(FATAL_ERROR "pkg-config does not find dotprod-arrays")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    set(program ${WORK_DIR}/pkgconfig-${kind})
    run(${C_COMPILER} ${source}/pkgconfig/main.c ${flags} ${link} -o ${program})
    run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/${LIBDIR} ${program})
    needed_libraries(${program})
    if(kind STREQUAL "shared" AND NOT needed STREQUAL "libdotprod_arrays.so.1;libc.so.6"
            OR kind STREQUAL "static" AND needed)
        message(FATAL_ERROR "pkg-config's ${kind} link needs [${needed}]")
    endif()
endforeach()
