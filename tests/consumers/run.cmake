# SPDX-License-Identifier: MIT
# Installs the build into a fresh prefix, then builds and runs two small
# programs against it: one in C++ through find_package, one in C through
# pkg-config; checks that find_package refuses an unknown component, and
# that the installed sweep finds its package from the prefix alone.
# Needs BUILD_DIR, WORK_DIR, LIBDIR, C_COMPILER and VERSION.
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

set(source ${CMAKE_CURRENT_LIST_DIR})
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

run(${prefix}/bin/dotprod-sweep --version)
if(NOT out STREQUAL "dotprod-sweep ${VERSION}\n")
    message(FATAL_ERROR "installed dotprod-sweep --version printed [${out}]")
endif()

run(${CMAKE_COMMAND} -S ${source}/cmake -B ${WORK_DIR}/cmake -D CMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
run(${WORK_DIR}/cmake/consumer)

# The package's own config file must refuse a component it lacks: one that
# was not found at all would fail too, without that message.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${source}/component -B ${WORK_DIR}/component
        -D CMAKE_PREFIX_PATH=${prefix}
    RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT failed OR NOT out MATCHES "set dotprod_FOUND to FALSE")
    message(FATAL_ERROR "find_package(dotprod) accepted an unknown component:\n${out}")
endif()

set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs dotprod-arrays
    RESULT_VARIABLE failed OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(failed)
    message(FATAL_ERROR "pkg-config does not find dotprod-arrays")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${C_COMPILER} ${source}/pkgconfig/main.c ${flags} -o ${WORK_DIR}/pkgconfig-consumer)
run(${WORK_DIR}/pkgconfig-consumer)
