// SPDX-License-Identifier: MIT
// dotprod-parallel LENGTH: the dot product split over all hardware threads
// with OpenMP. Its result is closer to the true value than dotprod's, not
// equal to it: see the comment on the loop in loops.h.
#include <cstdio>

#include <dotprod/arrays.h>
#include "common.h"
#include "loops.h"
#include "program.h"
#include "threads.h"

// OpenMP's default team has one thread per hardware thread the process may
// use (OMP_NUM_THREADS overrides it). Each thread adds up its contiguous
// share, the same in every call, reading memory in order, with
// dotprod-simd's loop: in double, so the result does not change with the
// number of threads beyond the last bits; reduction(+) adds the shares.
static double dot(const float *A, const float *B, int n)
{
    double sum = 0.0;
#pragma omp parallel reduction(+ : sum)
    {
        Share share = myShare(n);
        sum += dotDouble(A, B, share.begin, share.end);
    }
    return sum;
}

int main(int argc, char *argv[])
{
    int n = parseLength("dotprod-parallel", argc, argv);
    if (n < 0)
        return statusWithoutLength("dotprod-parallel", n);
    bindThreads(argv);
    if (startThreads("dotprod-parallel") < 0)
        return 3;

    float *A = generateVector(n);
    float *B = copyOf(A, n);
    if (!A || !B)
        return allocationFailed("dotprod-parallel", A, B);

    // Timed: the parallel loop alone, on threads started before the clock.
    // dotprod's loop starts right after its thread built the vectors, with
    // them in its core's caches as far as they fit; one untimed run of the
    // same loop gives each thread its share in that state.
    dot(A, B, n);
    double ini = seconds();
    double sum = dot(A, B, n);
    double fin = seconds();

    printf("Resultado: %f\n", sum);
    // Nine decimals: at 10^5 terms this takes tens of microseconds.
    printf("Tiempo: %.9f\n", fin - ini);
    freeVector(A);
    freeVector(B);
    return checkOutput("dotprod-parallel", 0);
}
