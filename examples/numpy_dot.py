#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""numpy_dot.py LENGTH: the dot product of dotprod's two vectors with
numpy, a candidate in another language. Prints what every candidate
prints: `Resultado: ` and the result, then `Tiempo: ` and the seconds
the dot product took.

The vectors are dotprod's own: libc's rand() after srand(0), each draw
divided by 214748364700.0 in double and rounded to a float. Python's
random module is another generator, so libc's is called through ctypes;
any language can do the same (or call generateVector from the helper
library). Only the dot product is timed, its widening to double
included, as dotprod times only its loop."""

import ctypes
import sys
import time

import numpy

SCALE = 214748364700.0  # RAND_MAX * 100, as dotprod's generator divides


def vector(n):
    libc = ctypes.CDLL(None)
    libc.srand(0)
    draws = numpy.fromiter((libc.rand() for _ in range(n)), dtype=numpy.float64, count=n)
    return (draws / SCALE).astype(numpy.float32)


def main(argv):
    if len(argv) != 2 or not argv[1].isdigit() or not argv[1].isascii():
        sys.stderr.write("usage: numpy_dot.py LENGTH\n")
        return 2
    a = vector(int(argv[1]))
    b = a.copy()  # the generator gives the same vector twice, as dotprod's does
    ini = time.perf_counter()
    # Products and sum in double: accurate at every length.
    result = numpy.dot(a.astype(numpy.float64), b.astype(numpy.float64))
    fin = time.perf_counter()
    print(f"Resultado: {result:.17g}")
    print(f"Tiempo: {fin - ini:.9f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
