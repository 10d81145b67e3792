/* SPDX-License-Identifier: MIT */
/* Both spellings users may write must reach the header. */
#include <dotprod/arrays.h>
#include <arrays.h>

/* The first element is glibc's first draw over 100 * RAND_MAX. */
int main(void)
{
    float *v = generateVector(3);
    int ok = v && v[0] == (float)(1804289383 / 214748364700.0);
    freeVector(v);
    return !ok;
}
