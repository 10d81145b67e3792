# SPDX-License-Identifier: MIT
"""Whether a candidate's result is near enough to the exact value.

A candidate may be off the exact value by twice dotprod's own error,
since dotprod's float sum loses low bits at every step and a correct
version that adds in a like order loses as much. Where dotprod happens
to land near the exact value, the floor holds instead: one unit of the
sixth printed decimal, plus the rounding a float sum of N terms in
another order carries, about sqrt(N) float epsilons of the sum."""

import math

SAFETY = 2
PRINTED = 1e-6
FLOAT_EPSILON = 2.0**-24


def allowed_error(n, exact, reference, tolerance):
    """The largest |result - exact| that a correct candidate may show."""
    floor = PRINTED + math.sqrt(n) * FLOAT_EPSILON * abs(exact)
    return max(SAFETY * abs(reference - exact), floor) + tolerance * abs(exact)


def relative(error, exact):
    return error / abs(exact) if exact else error


def judge(label, n, worst, exact, reference, tolerance):
    """None if the result farthest from the exact value is accepted,
    else the reason, in one line."""
    allowed = allowed_error(n, exact, reference, tolerance)
    if abs(worst - exact) <= allowed:
        return None
    return (f"{label} rejected at N={n}: result {worst:f} is off the exact value "
            f"{exact:.9f} by {relative(abs(worst - exact), exact):.1e}, more than the "
            f"{relative(allowed, exact):.1e} allowed")
