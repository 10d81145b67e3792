// SPDX-License-Identifier: MIT
// dotprod-exact LENGTH: the true dot product of the two vectors that
// dotprod builds for LENGTH, the yardstick for the results of faster
// versions. Prints one line: the value to 17 significant digits.
// dotprod-exact --orders LENGTH: the same value, then on the same line the
// lowest and the highest result of the usual float summation orders
// (orders.h).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include <dotprod/arrays.h>
#include "common.h"
#include "orders.h"
#include "program.h"

// Neumaier's compensated sum (Kahan-Babuska): `total` is the running sum,
// `lost` collects exactly what each addition to it rounded away.
struct Sum {
    double total = 0.0, lost = 0.0;
};

static void add(Sum &s, double x)
{
    double t = s.total + x;
    if (std::fabs(s.total) >= std::fabs(x))
        s.lost += (s.total - t) + x;
    else
        s.lost += (x - t) + s.total;
    s.total = t;
}

// Why this is enough: a float has 24 significant bits, so the product of
// two is exact in double (48 of 53 bits). The terms are all >= 0, so
// Neumaier's sum S' of N of them differs from the true sum S by at most
// about 2u*S + N*u*u*S, u = 2^-53. Every term is below 1e-4, so S < 2.2e5
// even at N = 2147483647: the error stays under 1e-10, far below the
// sixth decimal, and the 17 digits printed add no rounding of their own.
static double exactDot(const float *A, const float *B, std::int64_t n)
{
    Sum s;
    for (std::int64_t k = 0; k < n; k++)
        add(s, (double)A[k] * B[k]);
    return s.total + s.lost;
}

int main(int argc, char *argv[])
{
    // --orders comes first, so that the length stays the last word.
    bool orders = argc == 3 && strcmp(argv[1], "--orders") == 0;
    int n = orders ? parseLength("dotprod-exact", 2, argv + 1)
                   : parseLength("dotprod-exact", argc, argv);
    if (n < 0)
        return statusWithoutLength("dotprod-exact", n);

    // Both vectors, made as dotprod makes them, though the generator gives
    // equal ones: the value then belongs to dotprod's very inputs, whatever
    // the generator does, and needs no more memory than dotprod itself.
    float *A = generateVector(n);
    float *B = generateVector(n);
    if (!A || !B) {
        // generateVector has already said so on standard output.
        fprintf(stderr, "dotprod-exact: cannot allocate two vectors of %d floats\n", n);
        freeVector(A);
        freeVector(B);
        return 255;
    }
    double exact = exactDot(A, B, n);
    if (!orders) {
        printf("%.17g\n", exact);
    } else {
        try {
            Orders o = floatOrders(A, B, n);
            // %.9g gives a float back exactly.
            printf("%.17g %.9g %.9g\n", exact, o.low, o.high);
        } catch (const std::bad_alloc &) {
            fprintf(stderr, "dotprod-exact: cannot allocate the sorted copy of %d terms\n", n);
            freeVector(A);
            freeVector(B);
            return 255;
        }
    }
    freeVector(A);
    freeVector(B);
    return checkOutput("dotprod-exact", 0);
}
