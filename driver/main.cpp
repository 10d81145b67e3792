// SPDX-License-Identifier: MIT
// dotprod LENGTH: the dot product of two pseudo-random float vectors,
// printing the running sum after every term, with that loop timed.
//
// Timed: the loop alone, that is per term one multiply, one add, one
// printed line and one parse of the argument. Not timed: generating the
// vectors, the result line, computing the time, releasing the vectors.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <time.h>

#include <dotprod/arrays.h>

#include "program.h"

// atoi has no defined result outside int's range, so such text is
// refused before atoi sees it; inside the range atoi's meaning holds.
// Read in the widest type, and refused where even that overflows, so the
// check holds whatever the widths of int and long.
static bool lengthInRange(const char *text)
{
    errno = 0;
    long long n = strtoll(text, nullptr, 10);
    return errno != ERANGE && n >= INT_MIN && n <= INT_MAX;
}

// Whole microseconds, as the printed time resolves no finer.
static std::int64_t microseconds(const timespec &t)
{
    return (std::int64_t)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int main(int argc, char *argv[])
{
    if (argc < 2) {
        puts("Usage: dotprod LENGTH");
        return checkOutput("dotprod", 2);
    }
    puts(argv[1]);
    if (!lengthInRange(argv[1])) {
        printf("Length out of range: %s\n", argv[1]);
        return checkOutput("dotprod", 2);
    }

    float *A = generateVector(atoi(argv[1]));
    float *B = generateVector(atoi(argv[1]));
    if (!A || !B)
        return allocationFailed("dotprod", A, B);

    // A monotonic clock: the time of day can be stepped (NTP, an
    // administrator) while the loop runs, and would print a wrong time.
    timespec ini, fin;
    clock_gettime(CLOCK_MONOTONIC, &ini);
    float sum = 0.0f;
    // The length is parsed again at every test: part of the timed work.
    for (std::int64_t k = 0; k < (std::int64_t)atoi(argv[1]); k++) {
        sum += A[k] * B[k];
        printf("sum=%lf\n", sum);
    }
    clock_gettime(CLOCK_MONOTONIC, &fin);

    printf("Resultado: %f\n", sum);
    printf("Tiempo: %f\n", (double)(microseconds(fin) - microseconds(ini)) / 1000000.0);

    freeVector(A);
    freeVector(B);
    return checkOutput("dotprod", 0);
}
