// SPDX-License-Identifier: MIT
// dotprod-parallel LENGTH: the dot product split over all hardware threads
// with OpenMP. Its result is closer to the true value than dotprod's, not
// equal to it: see the comment on the loop.
#include <cstdint>
#include <cstdio>

#include <dotprod/arrays.h>
#include "common.h"
#include "program.h"

int main(int argc, char *argv[])
{
    int n = parseLength("dotprod-parallel", argc, argv);
    if (n < 0)
        return 2;

    float *A = generateVector(n);
    float *B = generateVector(n);
    if (!A || !B)
        return allocationFailed("dotprod-parallel", A, B);

    // The time includes waking the threads: the first parallel loop of a
    // process pays for starting them, which short lengths will show.
    double ini = seconds();
    double sum = 0.0;
    // OpenMP's default team has one thread per hardware thread the process
    // may use (OMP_NUM_THREADS overrides it). schedule(static) gives each
    // thread one contiguous chunk, so it reads memory in order, and
    // reduction(+) gives each its own partial sum, added up at the end.
    //
    // Why double partials: a float times a float is exact in double, and a
    // double sum of N terms is off by at most about N * 2^-53 of its value
    // (under 4e-7 at N = 10^7), where dotprod's float sum, whose rounding
    // step grows to the size of a term, ends 1.26 % low. With float
    // partials the result would also change with the number of threads.
    // The cost, a conversion per term, hides behind the memory reads.
#pragma omp parallel for schedule(static) reduction(+ : sum)
    for (std::int64_t k = 0; k < n; k++)
        sum += (double)A[k] * B[k];
    double fin = seconds();

    printf("Resultado: %f\n", sum);
    printf("Tiempo: %f\n", fin - ini);
    freeVector(A);
    freeVector(B);
    return checkOutput("dotprod-parallel", 0);
}
