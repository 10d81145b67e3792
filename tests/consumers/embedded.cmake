# SPDX-License-Identifier: MIT
# Configures, builds, tests and installs a parent project that pulls this
# one in with add_subdirectory, and fails if anything but the library and
# the benchmark leaks into it. Needs SOURCE_DIR, WORK_DIR, C_COMPILER and
# CXX_COMPILER.
cmake_policy(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

file(REMOVE_RECURSE ${WORK_DIR})

# Twice: as most parents build, and with BUILD_SHARED_LIBS on, where
# dotprod::arrays is the shared library.
foreach(shared OFF ON)
    set(build ${WORK_DIR}/build-${shared})
    set(prefix ${WORK_DIR}/prefix-${shared})

    # Our find_package calls are REQUIRED: disabling them fails the configure
    # if any is still made.
    run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/embedded -B ${build}
        -D DOTPROD_SOURCE_DIR=${SOURCE_DIR} -D BUILD_SHARED_LIBS=${shared}
        -D CMAKE_C_COMPILER=${C_COMPILER} -D CMAKE_CXX_COMPILER=${CXX_COMPILER}
        -D CMAKE_DISABLE_FIND_PACKAGE_GTest=ON -D CMAKE_DISABLE_FIND_PACKAGE_Python3=ON)
    load_cache(${build} READ_WITH_PREFIX parent_ CMAKE_BUILD_TYPE)
    if(parent_CMAKE_BUILD_TYPE)
        message(FATAL_ERROR "parent's CMAKE_BUILD_TYPE set to ${parent_CMAKE_BUILD_TYPE}")
    endif()
    if(EXISTS ${build}/CPackConfig.cmake)
        message(FATAL_ERROR "CPack set up in the parent")
    endif()

    run(${CMAKE_COMMAND} --build ${build})
    run(${CMAKE_CTEST_COMMAND} --test-dir ${build})
    if(NOT out MATCHES "tests failed out of 1\n")
        message(FATAL_ERROR "parent's ctest ran other tests than its own:\n${out}")
    endif()

    run(${CMAKE_COMMAND} --install ${build} --prefix ${prefix})
    file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
    if(NOT installed STREQUAL "bin/arrays")
        message(FATAL_ERROR "parent's install also installed: ${installed}")
    endif()

    needed_libraries(${build}/arrays)
    if(shared AND NOT "libdotprod_arrays.so.1" IN_LIST needed
            OR NOT shared AND "libdotprod_arrays.so.1" IN_LIST needed)
        message(FATAL_ERROR "BUILD_SHARED_LIBS ${shared}: the parent's program needs [${needed}]")
    endif()
endforeach()
