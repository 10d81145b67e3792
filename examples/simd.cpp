// SPDX-License-Identifier: MIT
// dotprod-simd LENGTH: the dot product on one thread, several terms at a
// time in the processor's vector registers, in double precision: its
// result is the true value to far more than the six decimals it prints.
#include <cstdio>

#include <dotprod/arrays.h>
#include "common.h"
#include "loops.h"
#include "program.h"

int main(int argc, char *argv[])
{
    int n = parseLength("dotprod-simd", argc, argv);
    if (n < 0)
        return statusWithoutLength("dotprod-simd", n);

    float *A = generateVector(n);
    float *B = copyOf(A, n);
    if (!A || !B)
        return allocationFailed("dotprod-simd", A, B);

    // Timed: the loop alone, all N multiplies and adds, as in dotprod. Its
    // loop starts right after its thread built the vectors, with them in
    // its core's caches as far as they fit; this one finds them the same.
    // It is faster because it adds in double in vector lanes (see
    // loops.h), not in float in index order.
    double ini = seconds();
    double sum = dotDouble(A, B, 0, n);
    double fin = seconds();

    printf("Resultado: %f\n", sum);
    // Nine decimals: at 10^5 terms this takes tens of microseconds.
    printf("Tiempo: %.9f\n", fin - ini);
    freeVector(A);
    freeVector(B);
    return checkOutput("dotprod-simd", 0);
}
