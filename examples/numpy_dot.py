#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""numpy_dot.py LENGTH: the dot product of dotprod's two vectors with
numpy, a candidate in another language. Prints what every candidate
prints: `Resultado: ` and the result, then `Tiempo: ` and the seconds
the dot product took.

The vectors are dotprod's own. Where the helpers' shared library
(libdotprod_arrays.so.1) is installed, or on LD_LIBRARY_PATH, they come
from its generateVector through ctypes. Elsewhere they are made the same
way by hand, from libc's rand(): srand(0), each draw divided by
214748364700.0 in double and rounded to a float (Python's random module
is another generator). Only the dot product is timed, its widening to
double included, as dotprod times only its loop."""

import ctypes
import sys
import time

import numpy

LIBRARY = "libdotprod_arrays.so.1"
SCALE = 214748364700.0  # RAND_MAX * 100, as dotprod's generator divides


def helpers(name=LIBRARY):
    """The helpers' shared library, or None where the loader finds none."""
    try:
        lib = ctypes.CDLL(name)
    except OSError:
        return None
    lib.generateVector.argtypes = [ctypes.c_int]
    lib.generateVector.restype = ctypes.POINTER(ctypes.c_float)
    lib.freeVector.argtypes = [ctypes.c_void_p]
    lib.freeVector.restype = None
    return lib


def library_vector(lib, n):
    """generateVector(n), copied into numpy's memory and released."""
    p = lib.generateVector(n)
    if not p:
        raise MemoryError()  # the library has said so, in its own line
    try:
        return numpy.ctypeslib.as_array(p, shape=(n,)).copy()
    finally:
        lib.freeVector(p)


def libc_vector(n):
    libc = ctypes.CDLL(None)
    libc.srand(0)
    draws = numpy.fromiter((libc.rand() for _ in range(n)), dtype=numpy.float64, count=n)
    return (draws / SCALE).astype(numpy.float32)


def vector(n, lib):
    return library_vector(lib, n) if lib else libc_vector(n)


def run(n, lib):
    """Prints the two lines; 255 where the vectors cannot be had, as dotprod."""
    try:
        a = vector(n, lib)
    except MemoryError:
        if not lib:
            sys.stderr.write(f"numpy_dot.py: no memory for a vector of {n} floats\n")
        return 255
    b = a.copy()  # the generator gives the same vector twice, as dotprod's does
    ini = time.perf_counter()
    # Products and sum in double: accurate at every length.
    result = numpy.dot(a.astype(numpy.float64), b.astype(numpy.float64))
    fin = time.perf_counter()
    try:
        print(f"Resultado: {result:.17g}")
        print(f"Tiempo: {fin - ini:.9f}")
        sys.stdout.flush()
    except OSError as e:  # a full disk, say: one line, as the C examples
        sys.stderr.write(f"numpy_dot.py: write error: {e.strerror}\n")
        sys.stdout = None  # nothing left to flush at exit
        return 1
    return 0


def main(argv):
    # The lengths the other candidates take: generateVector's int.
    if (len(argv) != 2 or not argv[1].isdigit() or not argv[1].isascii()
            or int(argv[1]) > 2147483647):
        sys.stderr.write("usage: numpy_dot.py LENGTH\n")
        return 2
    return run(int(argv[1]), helpers())


if __name__ == "__main__":
    sys.exit(main(sys.argv))
