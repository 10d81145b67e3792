// SPDX-License-Identifier: MIT
// Both spellings users may write must reach the header.
#include <dotprod/arrays.h>
#include <arrays.h>

// Row 1 of the 2 x 2 matrix starts with glibc's third draw over RAND_MAX.
int main()
{
    float **m = generateMatrix(2);
    bool ok = m && m[1][0] == (float)(1681692777 / 2147483647.0);
    freeMatrix(m);
    return ok ? 0 : 1;
}
