/* SPDX-License-Identifier: MIT */
/* Proves the helpers' header and library serve a C program linked by a C
 * linker: calls all eight functions and checks what they give. */
#include <stdio.h>

#include <dotprod/arrays.h>

static int failures;

static void check(int ok, const char *what)
{
    if (!ok) {
        printf("FAILED: %s\n", what);
        failures++;
    }
}

int main(void)
{
    float *v = generateVector(3);
    float *p = generateVectorPart(2, 1);
    float *e = generateEmptyVector(3);
    int *n = generateEmptyIntVector(3);
    float **m = generateMatrix(2);
    float **em = generateEmptyMatrix(2);

    check(v && p && e && n && m && em, "allocations");
    if (v)
        check(v[0] == (float)(1804289383 / 214748364700.0), "first vector element");
    if (v && p)
        check(p[0] == v[2], "a slice holds the vector's own elements");
    if (m)
        check(m[1] == m[0] + 2 && m[0][0] == (float)(1804289383 / 2147483647.0),
              "matrix layout and first element");
    if (e && n && em) {
        e[2] = 1.0f;
        n[2] = -1;
        em[1][1] = 2.0f;
        check(e[2] + (float)n[2] == 0.0f && em[0][3] == 2.0f, "empty blocks are writable");
    }

    freeVector(v);
    freeVector(p);
    freeVector(e);
    freeVector(n);
    freeMatrix(m);
    freeMatrix(em);
    freeVector(NULL);
    freeMatrix(NULL);
    return failures != 0;
}
