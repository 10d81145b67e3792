# SPDX-License-Identifier: MIT
"""What a printed result says about a version, at one length.

Every term A[k]*B[k] is at least 0, which makes every bound below
rigorous rather than statistical:

- "same as dotprod": printed as dotprod prints (%f), it reads as
  dotprod's result.
- "accurate": within what a sum of the products in double precision can
  be off by, in any order: each product rounded to float at worst
  (2^-24 of it), and N double additions of at most 2^-53 of the sum each.
- "within float rounding": within what any float sum of the same terms
  can be off by, in any order, with any number of partial sums, fused or
  not: every partial sum of terms of one sign is at most the final one,
  so each of the N additions rounds by at most half a float ulp of the
  final result, and each product by at most 2^-24 of itself. At large N
  this is wide: it cannot tell a right result from a wrong one, and the
  short probe lengths decide instead.
- "wrong": anything farther.

The printed result itself stands for any value within half a unit of
its last digit; printing more digits (%.17g) makes that part small. Six
decimals are the least the contract asks for, so a coarser print is
given no more room than they would have."""

import math

SAME = "same as dotprod"
ACCURATE = "accurate"
FLOAT = "within float rounding"
WRONG = "wrong"
CLASSES = (SAME, ACCURATE, FLOAT, WRONG)  # from the strongest evidence to none

FLOAT_UNIT = 2.0**-24    # a float's relative rounding, to nearest
DOUBLE_UNIT = 2.0**-53
SIX_DECIMALS = 5e-7      # half a unit of %f's last digit


def printed_error(half_unit):
    return min(half_unit, SIX_DECIMALS)


def half_float_ulp(x):
    """Half the gap between floats near x > 0: the most one float
    addition whose result is at most x can round away."""
    return 2.0 ** (math.floor(math.log2(x)) - 24) if x > 0 else 0.0


def accurate_bound(n, exact, half_unit):
    # The exact value's own error (below 1e-10, two double roundings) is
    # in the (n + 2).
    return printed_error(half_unit) + (FLOAT_UNIT + (n + 2) * DOUBLE_UNIT) * abs(exact)


def float_bound(n, result, exact, half_unit, tolerance=0.0):
    largest = max(abs(result) + printed_error(half_unit), abs(exact))
    return (printed_error(half_unit) + n * half_float_ulp(largest)
            + FLOAT_UNIT * abs(exact) + tolerance * abs(exact))


def same_as(result, reference_text):
    return reference_text is not None and f"{result:f}" == reference_text


def classify(n, result, half_unit, exact, reference_text, tolerance=0.0):
    """The class of one printed result at length n. reference_text is
    dotprod's printed result there, or None where it has none."""
    error = abs(result - exact)
    if same_as(result, reference_text):
        return SAME
    if error <= accurate_bound(n, exact, half_unit):
        return ACCURATE
    if error <= float_bound(n, result, exact, half_unit, tolerance):
        return FLOAT
    return WRONG


def worst(classes):
    """The weakest evidence among several runs' classes."""
    return max(classes, key=CLASSES.index)


def relative(error, exact):
    return error / abs(exact) if exact else error


def too_few_decimals(n, result, exact, half_unit, tolerance=0.0):
    """Whether a wrong result would pass with the room its own last digit
    gives: it is printed too coarsely to tell, not shown to be off."""
    error = abs(result - exact)
    return half_unit > SIX_DECIMALS and error <= float_bound(n, result, exact, 0.0, tolerance) \
        + half_unit
