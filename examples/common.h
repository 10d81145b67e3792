// What the example programs and dotprod-exact share: reading their one
// argument, a clock for the loop, and making sure their output arrived.
#ifndef DOTPROD_EXAMPLES_COMMON_H
#define DOTPROD_EXAMPLES_COMMON_H

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

// The length as a whole decimal number from 0 to INT_MAX (generateVector
// takes an int), or -1 after one line on standard error. Unlike dotprod's
// atoi, nothing is quietly read as 0 or cut short at a stray character.
// The argument is not echoed: it could hold a newline.
inline int parseLength(const char *program, int argc, char *argv[])
{
    if (argc != 2) {
        fprintf(stderr, "Usage: %s LENGTH\n", program);
        return -1;
    }
    const char *text = argv[1];
    char *end;
    errno = 0;
    long n = strtol(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || errno == ERANGE || n > INT_MAX) {
        fprintf(stderr, "%s: LENGTH must be a whole number from 0 to %d\n", program, INT_MAX);
        return -1;
    }
    return (int)n;
}

// Seconds on the monotonic clock: unlike the wall clock, it is never
// stepped (by NTP or an administrator) in the middle of a loop.
inline double seconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// stdio reports lost output (a full disk) nowhere but in the stream's
// error state: a run whose output did not arrive must not claim success.
inline int checkOutput(const char *program, int status)
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return status;
    fprintf(stderr, "%s: write error: %s\n", program, strerror(errno));
    return status == 0 ? 1 : status;
}

#endif
