// SPDX-License-Identifier: MIT
// How dotprod and the example programs end a run alike: making sure their
// output arrived, and giving up when their vectors cannot be had.
//
// Header-only, and libc alone: each program compiles it with its own flags,
// so dotprod stays without exceptions or RTTI, is still linked by the C
// driver, and needs nothing but libc at run time.
#ifndef DOTPROD_PROGRAM_H
#define DOTPROD_PROGRAM_H

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dotprod/arrays.h>

// stdio reports lost output (a full disk) nowhere but in the stream's
// error state: a run whose output did not arrive must not claim success.
// Returns the status to exit with: `status`, or 1 for a lost success.
inline int checkOutput(const char *program, int status)
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return status;
    fprintf(stderr, "%s: write error: %s\n", program, strerror(errno));
    return status == 0 ? 1 : status;
}

// When A or B could not be allocated (generateVector has printed which):
// dotprod's last line for that case, spelling and all, both vectors
// released, and status 255.
inline int allocationFailed(const char *program, float *A, float *B)
{
    puts("Error when allocationg matrix");
    freeVector(A);
    freeVector(B);
    return checkOutput(program, 255);
}

#endif
