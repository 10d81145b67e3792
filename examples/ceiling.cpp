// SPDX-License-Identifier: MIT
// dotprod-ceiling LENGTH: the shortest time in which this machine reads
// the 8 * LENGTH bytes of two vectors built as dotprod builds them, on
// OpenMP's threads (OMP_NUM_THREADS sets their number), which a dot product
// of them cannot beat. Prints it as a candidate prints its loop's time,
// after the sum of what it read; before them, the shortest first pass over
// vectors just built, the yardstick of a loop timed as dotprod's is, and
// the shortest second pass, that of a loop timed after one untimed run.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <dotprod/arrays.h>
#include "common.h"
#include "loops.h"
#include "program.h"
#include "threads.h"

// The read kernels of loops.h: the best of them, whichever it is here.
static double kernel(int which, const float *A, const float *B, Share s)
{
    switch (which) {
    case 0:
        return readBoth(A, B, s.begin, s.end);
    case 1:
        return readWide(A, B, s.begin, s.end, 0);
    case 2:
        return readWide(A, B, s.begin, s.end, 2048);
    default:
        return readHalves(A, B, s.begin, s.end);
    }
}
constexpr int kernels = 4;

constexpr long maxPasses = 1L << 24;
constexpr int warmPasses = 4;

// Reads vectors just built, on threads started beforehand, and returns the
// shortest time of one pass over them. Timed: the passes alone, between
// barriers of a team already running. The first pass finds the vectors as
// a candidate's loop finds them right after building them, and the next
// ones as one that ran its loop untimed before once (dotprod-parallel) or
// more; all take `first`. Where a pass is short beside the cost of reading
// the clock between barriers, each kernel also reads them in batches of
// passes that last 1000 times that cost, two of each, their time shared by
// their passes. *sum is the first pass's sum, and passTime[p] pass p's time.
static double bestPass(const float *A, const float *B, int n, int first, double *sum,
                       double passTime[2])
{
    double best = INFINITY, began = 0.0, took = 0.0, clockCost = INFINITY, total = 0.0;
    long passes = 1;
#pragma omp parallel reduction(+ : total)
    {
        Share share = myShare(n);
        // Runs `passes` passes of kernel k as one timed batch; sets `took`.
        auto batch = [&](int k, double *read) {
#pragma omp barrier
#pragma omp master
            began = seconds();
            for (long p = 0; p < passes; p++) {
                *read += kernel(k, A, B, share);
                // What it read is used, and the next pass must read again.
                asm volatile("" : : "r"(read) : "memory");
            }
#pragma omp barrier
#pragma omp master
            took = seconds() - began;
#pragma omp barrier
        };
        double read = 0.0;
        batch(first, &total);
#pragma omp master
        best = passTime[0] = took;
        // Passes after the first can be faster still, a third or fourth
        // more than a second (the machine settles its pages and caches):
        // a program may make that many untimed ones.
        for (int pass = 1; pass < warmPasses; pass++) {
            batch(first, &read);
#pragma omp master
            {
                if (pass == 1)
                    passTime[1] = took;
                best = std::fmin(best, took);
            }
        }
        // What a batch costs beside its passes.
#pragma omp master
        passes = 0;
        for (int i = 0; i < 20; i++) {
            batch(first, &read);
#pragma omp master
            clockCost = std::fmin(clockCost, took);
        }
#pragma omp master
        passes = 1;
#pragma omp barrier
        for (int k = 0; k < kernels && best < 1000 * clockCost; k++)
            for (int timed = 0; timed < 2 && passes < maxPasses;) {
                batch(k, &read);
                bool enough = took >= 1000 * clockCost;
                timed += enough;
#pragma omp barrier
#pragma omp master
                {
                    if (enough)
                        best = std::fmin(best, took / passes);
                    else
                        passes *= 2;
                }
#pragma omp barrier
            }
    }
    *sum = total;
    return best;
}

// DOTPROD_CEILING_SAMPLES: build the vectors exactly this many times (1 to
// 1000), as a sweep that runs this in every round asks, or -1 where unset
// (at least twice for each kernel, more while under 0.5 s), 0 where bad.
static int samplesAsked()
{
    const char *text = getenv("DOTPROD_CEILING_SAMPLES");
    if (!text)
        return -1;
    char *end;
    long samples = strtol(text, &end, 10);
    return *text && !*end && samples >= 1 && samples <= 1000 ? (int)samples : 0;
}

int main(int argc, char *argv[])
{
    int n = parseLength("dotprod-ceiling", argc, argv);
    if (n < 0)
        return statusWithoutLength("dotprod-ceiling", n);
    int asked = samplesAsked();
    if (asked == 0) {
        fprintf(stderr, "dotprod-ceiling: DOTPROD_CEILING_SAMPLES must be a number of samples "
                        "from 1 to 1000\n");
        return 2;
    }
    bindThreads(argv);
    if (startThreads("dotprod-ceiling") < 0)
        return 3;

    // Vectors built anew for each sample, by one thread as dotprod builds
    // them, each first read with the next kernel. The best of at least two
    // samples of each kernel, and of as many as 0.5 s allows; or of the
    // samples asked for.
    double best = INFINITY, bestOf[2] = {INFINITY, INFINITY}, sum = 0.0, began = seconds();
    for (int sample = 0; asked > 0 ? sample < asked : sample < 2 * kernels ||
                                     (sample < 1000 && seconds() - began < 0.5);
         sample++) {
        float *A = generateVector(n);
        float *B = copyOf(A, n);
        if (!A || !B)
            return allocationFailed("dotprod-ceiling", A, B);
        double passTime[2] = {INFINITY, INFINITY};
        best = std::fmin(best, bestPass(A, B, n, sample % kernels, &sum, passTime));
        for (int p = 0; p < 2; p++)
            bestOf[p] = std::fmin(bestOf[p], passTime[p]);
        freeVector(A);
        freeVector(B);
    }
    printf("First pass: %.9f\n", bestOf[0]);
    printf("Second pass: %.9f\n", bestOf[1]);
    printf("Resultado: %f\n", sum);
    printf("Tiempo: %.9f\n", best);
    return checkOutput("dotprod-ceiling", 0);
}
