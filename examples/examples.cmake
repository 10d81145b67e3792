# SPDX-License-Identifier: MIT
# The example programs, one entry each. This tree's build, the installed
# examples' build and the tests all read this list: a new example is one
# entry here, its source beside this file and its manual page
# (docs/man/NAME.1.in).
#
#   NAME SOURCE [NEEDS OpenMP|MPI|BLAS] [SIMD] [CHECKS CHECK...]
#
# NEEDS: built only where CMake finds it. SIMD: the loops marked `omp simd`
# are vectorised (-fopenmp-simd) without OpenMP's threads or its runtime.
# CHECKS, beside the check of its length errors that every example has:
# double_result, its result against the exact value; threads, its refusal
# of threads that cannot be started.
set(dotprod_examples
    "dotprod-exact exact.cpp"
    "dotprod-quiet quiet.cpp"
    "dotprod-simd simd.cpp CHECKS double_result"
    "dotprod-parallel parallel.cpp NEEDS OpenMP CHECKS double_result threads"
    "dotprod-ceiling ceiling.cpp NEEDS OpenMP CHECKS threads"
    "dotprod-mpi mpi.cpp NEEDS MPI SIMD"
    "dotprod-blas blas.cpp NEEDS BLAS CHECKS double_result")
# What the sources include besides the library's header and program.h.
set(dotprod_example_headers common.h loops.h orders.h threads.h)

# Sets example_name, example_source, example_NEEDS, example_SIMD and
# example_CHECKS from ENTRY, one entry of the list.
macro(dotprod_example_read entry)
    separate_arguments(example_words UNIX_COMMAND "${entry}")
    list(POP_FRONT example_words example_name example_source)
    cmake_parse_arguments(example "SIMD" "NEEDS" "CHECKS" ${example_words})
endmacro()

# Sets OUT to what an example that needs NEED links, or to nothing where
# NEED is not found.
function(dotprod_example_find need out)
    set(found)
    if(need STREQUAL "OpenMP")
        find_package(OpenMP COMPONENTS CXX)
        if(OpenMP_CXX_FOUND)
            set(found OpenMP::OpenMP_CXX)
        endif()
    elseif(need STREQUAL "MPI")
        # Debian's libopenmpi-dev. A cross build finds none for its target.
        find_package(MPI COMPONENTS CXX)
        if(MPI_CXX_FOUND)
            set(found MPI::MPI_CXX)
        endif()
    elseif(need STREQUAL "BLAS")
        # Debian's libopenblas-dev, or any BLAS with the C interface: one
        # without it (a Fortran-only BLAS, or the host's in a cross build)
        # fails this link and leaves the example out.
        find_package(BLAS QUIET)
        if(BLAS_FOUND)
            include(CheckCXXSourceCompiles)
            set(CMAKE_REQUIRED_LIBRARIES ${BLAS_LIBRARIES})
            set(CMAKE_REQUIRED_QUIET ON)
            check_cxx_source_compiles([[
                extern "C" double cblas_dsdot(int, const float *, int, const float *, int);
                int main() { float x = 1; return (int)cblas_dsdot(1, &x, 1, &x, 1) - 1; }
            ]] DOTPROD_CBLAS_DSDOT)
            if(DOTPROD_CBLAS_DSDOT)
                set(found BLAS::BLAS)
            endif()
        endif()
    else()
        message(FATAL_ERROR "examples.cmake: no way to find ${need}")
    endif()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

# Calls ADD(NAME SOURCE SIMD [LIBRARY...]) for every example that can be
# built here: what it needs is found, and is not among the needs listed
# after OFF. One STATUS line names each example left out, and why.
function(dotprod_examples add)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" OFF)
    foreach(entry IN LISTS dotprod_examples)
        dotprod_example_read("${entry}")
        set(libraries)
        if("${example_NEEDS}" IN_LIST arg_OFF)
            string(TOUPPER ${example_NEEDS} option)
            message(STATUS "DOTPROD_${option} is off: ${example_name} is not built")
            continue()
        elseif(example_NEEDS)
            dotprod_example_find(${example_NEEDS} libraries)
            if(NOT libraries)
                message(STATUS "${example_NEEDS} not found: ${example_name} is not built")
                continue()
            endif()
        endif()
        cmake_language(CALL ${add} ${example_name} ${example_source} "${example_SIMD}" ${libraries})
    endforeach()
endfunction()

# Sets OUT to every example's source and the headers they include.
function(dotprod_example_files out)
    set(files)
    foreach(entry IN LISTS dotprod_examples)
        dotprod_example_read("${entry}")
        list(APPEND files ${example_source})
    endforeach()
    set(${out} ${files} ${dotprod_example_headers} PARENT_SCOPE)
endfunction()
