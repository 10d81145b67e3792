// SPDX-License-Identifier: MIT
// dotprod-simd LENGTH: the dot product on one thread, several terms at a
// time in the processor's vector registers. Each product is exact in
// double and the sums are double: the result is off the true value by at
// most about N * 2^-53 of it (1e-9 at N = 10^7), far less in practice,
// where dotprod's float sum ends 1.26 % low.
#include <cstdint>
#include <cstdio>

#include <dotprod/arrays.h>
#include "common.h"
#include "program.h"

int main(int argc, char *argv[])
{
    int n = parseLength("dotprod-simd", argc, argv);
    if (n < 0)
        return 2;

    float *A = generateVector(n);
    float *B = generateVector(n);
    if (!A || !B)
        return allocationFailed("dotprod-simd", A, B);

    // Timed: the loop alone, as in dotprod, which starts right after its
    // thread built the vectors: this one finds them in the same state, in
    // its core's caches as far as they fit, and does all N multiplies and
    // adds. It is faster because it needs no float rounding in index order:
    // `omp simd reduction` (built with -fopenmp-simd: no threads, no
    // runtime) lets the compiler keep a partial sum in each lane of its
    // vector registers and add them at the end, so no addition waits for
    // the one before it, and a float times a float is exact in double.
    double ini = seconds();
    double sum = 0.0;
#pragma omp simd reduction(+ : sum)
    for (std::int64_t k = 0; k < n; k++)
        sum += (double)A[k] * B[k];
    double fin = seconds();

    printf("Resultado: %f\n", sum);
    printf("Tiempo: %f\n", fin - ini);
    freeVector(A);
    freeVector(B);
    return checkOutput("dotprod-simd", 0);
}
