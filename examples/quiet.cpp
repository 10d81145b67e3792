// SPDX-License-Identifier: MIT
// dotprod-quiet LENGTH: dotprod's loop without its per-term lines (and
// without parsing the argument at every test). The same float sum in the
// same order gives the same result; the difference in time is what
// printing every running sum costs.
#include <cstdint>
#include <cstdio>

#include <dotprod/arrays.h>
#include "common.h"
#include "program.h"

int main(int argc, char *argv[])
{
    int n = parseLength("dotprod-quiet", argc, argv);
    if (n < 0)
        return statusWithoutLength("dotprod-quiet", n);

    float *A = generateVector(n);
    float *B = copyOf(A, n);
    if (!A || !B)
        return allocationFailed("dotprod-quiet", A, B);

    double ini = seconds();
    // Each product and each sum rounded to float, in index order, as in
    // dotprod: -ffp-contract=off forbids fusing them, and without
    // -ffast-math the compiler may not reorder the additions.
    float sum = 0.0f;
    for (std::int64_t k = 0; k < n; k++)
        sum += A[k] * B[k];
    double fin = seconds();

    printf("Resultado: %f\n", sum);
    printf("Tiempo: %.9f\n", fin - ini);
    freeVector(A);
    freeVector(B);
    return checkOutput("dotprod-quiet", 0);
}
