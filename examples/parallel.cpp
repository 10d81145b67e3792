// SPDX-License-Identifier: MIT
// dotprod-parallel LENGTH: the dot product split over all hardware threads
// with OpenMP. Its result is closer to the true value than dotprod's, not
// equal to it: see the comment on the loop.
#include <cstdint>
#include <cstdio>

#include <dotprod/arrays.h>
#include "common.h"
#include "program.h"
#include "threads.h"

// OpenMP's default team has one thread per hardware thread the process may
// use (OMP_NUM_THREADS overrides it). schedule(static) gives each thread
// one contiguous share, the same in every call, so it reads memory in
// order; `simd` and reduction(+) give each vector lane of each thread its
// own partial sum, added up at the end, so no addition waits for another.
//
// Why double partials: a float times a float is exact in double, and a
// double sum of N terms is off by at most about N * 2^-53 of its value
// (1e-9 at N = 10^7), where dotprod's float sum, whose rounding step grows
// to the size of a term, ends 1.26 % low. With float partials the result
// would also change with the number of threads.
static double dot(const float *A, const float *B, int n)
{
    double sum = 0.0;
#pragma omp parallel for simd schedule(static) reduction(+ : sum)
    for (std::int64_t k = 0; k < n; k++)
        sum += (double)A[k] * B[k];
    return sum;
}

int main(int argc, char *argv[])
{
    int n = parseLength("dotprod-parallel", argc, argv);
    if (n < 0)
        return 2;
    bindThreads(argv);
    if (startThreads("dotprod-parallel") < 0)
        return 3;

    float *A = generateVector(n);
    float *B = generateVector(n);
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
    printf("Tiempo: %f\n", fin - ini);
    freeVector(A);
    freeVector(B);
    return checkOutput("dotprod-parallel", 0);
}
