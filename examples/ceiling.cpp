// SPDX-License-Identifier: MIT
// dotprod-ceiling LENGTH: the shortest time in which this machine reads
// the 8 * LENGTH bytes of two freshly built vectors in one pass, on
// OpenMP's threads (OMP_NUM_THREADS sets their number), which a dot product
// of them cannot beat. Prints it as a candidate prints its loop's time,
// after the sum of what it read.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include <dotprod/arrays.h>
#include "common.h"
#include "loops.h"
#include "program.h"
#include "threads.h"

// One pass over both vectors, each thread over its share.
static double readAll(const float *A, const float *B, int n)
{
    double total = 0.0;
#pragma omp parallel reduction(+ : total)
    {
        Share share = myShare(n);
        total += readBoth(A, B, share.begin, share.end);
    }
    return total;
}

int main(int argc, char *argv[])
{
    int n = parseLength("dotprod-ceiling", argc, argv);
    if (n < 0)
        return statusWithoutLength("dotprod-ceiling", n);
    bindThreads(argv);
    if (startThreads("dotprod-ceiling") < 0)
        return 3;

    // Each pass reads vectors just built as dotprod builds them, on threads
    // already started: what a candidate's timed loop finds. Timed: the pass
    // alone. The best of at least 5, and of as many as 0.5 s allows.
    double best = INFINITY, sum = 0.0, began = seconds();
    for (int pass = 0; pass < 5 || (pass < 1000 && seconds() - began < 0.5); pass++) {
        float *A = generateVector(n);
        float *B = generateVector(n);
        if (!A || !B)
            return allocationFailed("dotprod-ceiling", A, B);
        double ini = seconds();
        sum = readAll(A, B, n);
        double fin = seconds();
        best = std::fmin(best, fin - ini);
        freeVector(A);
        freeVector(B);
    }
    printf("Resultado: %f\n", sum);
    printf("Tiempo: %.9f\n", best);
    return checkOutput("dotprod-ceiling", 0);
}
