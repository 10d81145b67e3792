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
#include "program.h"
#include "threads.h"

// The cheapest read that cannot be skipped: each thread adds its
// contiguous share of both vectors into 16 float lanes, which the compiler
// keeps in vector registers, so no addition waits for the one before it.
static double readBoth(const float *A, const float *B, int n)
{
    double total = 0.0;
#pragma omp parallel reduction(+ : total)
    {
        std::int64_t t = omp_get_thread_num(), threads = omp_get_num_threads();
        std::int64_t begin = n * t / threads, end = n * (t + 1) / threads;
        constexpr int lanes = 16;
        float lane[lanes] = {};
        const float *a = A + begin, *b = B + begin;
        for (std::int64_t i = 0; i < (end - begin) / lanes; i++)
            for (int j = 0; j < lanes; j++)
                lane[j] += a[i * lanes + j] + b[i * lanes + j];
        for (std::int64_t k = end - (end - begin) % lanes; k < end; k++)
            total += A[k] + B[k];
        for (float sum : lane)
            total += sum;
    }
    return total;
}

int main(int argc, char *argv[])
{
    int n = parseLength("dotprod-ceiling", argc, argv);
    if (n < 0)
        return 2;
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
        sum = readBoth(A, B, n);
        double fin = seconds();
        best = std::fmin(best, fin - ini);
        freeVector(A);
        freeVector(B);
    }
    printf("Resultado: %f\n", sum);
    printf("Tiempo: %.9f\n", best);
    return checkOutput("dotprod-ceiling", 0);
}
