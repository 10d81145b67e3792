# SPDX-License-Identifier: MIT
# Configures, builds, tests and installs a parent project that pulls this
# one in with add_subdirectory, and fails if anything but the library and
# the benchmark leaks into it. Needs SOURCE_DIR, WORK_DIR, C_COMPILER and
# CXX_COMPILER.
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

set(build ${WORK_DIR}/build)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

# Our find_package calls are REQUIRED: disabling them fails the configure
# if any is still made.
run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/embedded -B ${build}
    -D DOTPROD_SOURCE_DIR=${SOURCE_DIR}
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
