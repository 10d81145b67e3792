// SPDX-License-Identifier: MIT
// dotprod-blas LENGTH: the dot product as a BLAS library computes it, the
// library a user would pick instead of writing a loop: cblas_dsdot takes
// floats and adds their products in double, as dotprod-simd does. The
// yardstick for the other examples' speed.
#include <cstdio>

#include <dotprod/arrays.h>
#include "common.h"
#include "program.h"

// The C interface's declaration, written out so that any BLAS that has it
// will do, whichever header it ships (CMake checks that it links).
extern "C" double cblas_dsdot(int n, const float *x, int incx, const float *y, int incy);

int main(int argc, char *argv[])
{
    int n = parseLength("dotprod-blas", argc, argv);
    if (n < 0)
        return statusWithoutLength("dotprod-blas", n);

    float *A = generateVector(n);
    float *B = copyOf(A, n);
    if (!A || !B)
        return allocationFailed("dotprod-blas", A, B);

    // Timed: the call alone, right after building the vectors, as
    // dotprod-simd's loop. A threaded BLAS (OpenBLAS) starts its threads
    // when it is loaded, before main; OPENBLAS_NUM_THREADS sets how many.
    double ini = seconds();
    double sum = cblas_dsdot(n, A, 1, B, 1);
    double fin = seconds();

    printf("Resultado: %f\n", sum);
    // Nine decimals: at 10^5 terms this takes tens of microseconds.
    printf("Tiempo: %.9f\n", fin - ini);
    freeVector(A);
    freeVector(B);
    return checkOutput("dotprod-blas", 0);
}
