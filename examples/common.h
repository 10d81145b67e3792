// SPDX-License-Identifier: MIT
// What the example programs share: reading their one argument and a clock
// for the loop. How a run ends, they share with dotprod (program.h).
#ifndef DOTPROD_EXAMPLES_COMMON_H
#define DOTPROD_EXAMPLES_COMMON_H

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dotprod/arrays.h>
#include "program.h"

// The version `PROGRAM --version` prints: the project's, which CMake passes
// in. A copy built by hand has none of its own.
#ifndef DOTPROD_VERSION
#define DOTPROD_VERSION "unknown"
#endif

// What parseLength returns when there is no length to run with.
constexpr int lengthRefused = -1, versionShown = -2;

// The length as a whole decimal number from 0 to INT_MAX (generateVector
// takes an int); lengthRefused after one line on standard error; or
// versionShown after the line `PROGRAM VERSION` for --version. Unlike
// dotprod's atoi, nothing is quietly read as 0 or cut short at a stray
// character. The argument is not echoed: it could hold a newline.
inline int parseLength(const char *program, int argc, char *argv[])
{
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        printf("%s %s\n", program, DOTPROD_VERSION);
        return versionShown;
    }
    if (argc != 2) {
        fprintf(stderr, "Usage: %s LENGTH\n", program);
        return lengthRefused;
    }
    const char *text = argv[1];
    char *end;
    errno = 0;
    long n = strtol(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || errno == ERANGE || n > INT_MAX) {
        fprintf(stderr, "%s: LENGTH must be a whole number from 0 to %d\n", program, INT_MAX);
        return lengthRefused;
    }
    return (int)n;
}

// The status of a run that parseLength gave no length: 0 after the version
// (1 if it could not be written), 2 after a refusal.
inline int statusWithoutLength(const char *program, int n)
{
    return n == versionShown ? checkOutput(program, 0) : 2;
}

// The second vector: a copy of the first, which it equals by definition
// (generateVector reseeds with 0 at every call), made in one pass over
// memory where a second generation costs N calls of rand(). Asked for
// whether or not the first was obtained, as dotprod asks for both: a
// failure says the same line.
inline float *copyOf(const float *A, int n)
{
    float *B = generateEmptyVector(n);
    if (A && B)
        memcpy(B, A, (size_t)n * sizeof *A);
    return B;
}

// Seconds on the monotonic clock: unlike the wall clock, it is never
// stepped (by NTP or an administrator) in the middle of a loop.
inline double seconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

#endif
