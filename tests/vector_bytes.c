/* SPDX-License-Identifier: MIT */
/* vector_bytes N writes generateVector(N) to standard output as raw floats,
 * from the archive dotprod links: the vectors a program in another
 * language must match, bit for bit. */
#include <stdio.h>
#include <stdlib.h>

#include <dotprod/arrays.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    int n = atoi(argv[1]);
    float *v = generateVector(n);
    if (!v)
        return 1;
    size_t written = fwrite(v, sizeof *v, (size_t)n, stdout);
    freeVector(v);
    return written == (size_t)n && fflush(stdout) == 0 ? 0 : 1;
}
