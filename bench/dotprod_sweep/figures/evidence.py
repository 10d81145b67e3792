# SPDX-License-Identifier: MIT
"""Evidence that a result is plausible, beyond the rigorous bound of
verdict.py, which at large N is too wide to tell a float sum in another
order from lost or extra work (±46 % at N = 10^7).

The evidence is what the usual float orders give on the very vectors at
that length, as `dotprod-exact --orders` prints it: forward and reverse,
pairwise, Kahan, 2 to 256 partial sums as vector lanes and as threads'
blocks, terms sorted ascending and descending, products rounded or fused.
Their lowest and highest results bound, with a margin, what real float
summation gives; why that holds is argued in docs/comparing.md. Pure
functions: nothing here starts a process."""

import struct
from dataclasses import dataclass

from . import verdict
from ..facts.runs import distinct_results

# How far outside the orders' range a right result may lie: 64 units of
# 2^-24 of the exact value, and an eighth of the range. At every length
# from 1 to 3,000 and at 69 longer ones up to 2^24 + 1, versions outside the orders' own (middle out,
# random order, 5, 7 or 100 partial sums, threads over lanes, sorted terms
# over partial sums, numpy's and BLAS's blocks) lay at most 19 units
# beyond the range, or 0.0023 of it where the range lies on one side of
# the exact value. Lost work moves a result by thousands of units.
MARGIN = 64
SPREAD_SHARE = 1 / 8
# Each longer probe is 4n + 1 terms: odd, and a quarter of the next, so
# that all of them together hold fewer than 4/3 of the largest length's.
FIRST_PROBE = 2077


def margin(exact, half_unit, low, high):
    return (verdict.printed_error(half_unit) + MARGIN * verdict.FLOAT_UNIT * abs(exact)
            + SPREAD_SHARE * (high - low))


def plausible(result, half_unit, low, high, n, exact, tolerance=0.0):
    """Whether a result is one that a float sum in some usual order, or a
    better sum, gives at length n. low and high: the orders' extremes;
    tolerance widens the room, times the exact value, as it widens the
    float bound."""
    if abs(result - exact) <= verdict.accurate_bound(n, exact, half_unit):
        return True
    room = margin(exact, half_unit, low, high) + tolerance * abs(exact)
    return low - room <= result <= high + room


def hidden(exact, half_unit, low, high, tolerance=0.0):
    """The largest loss or excess, as a fraction of the exact value, that
    a result may carry and still pass as a float sum in some usual order:
    what no black-box check can tell at that length."""
    room = margin(exact, half_unit, low, high) + tolerance * abs(exact)
    return max(exact - (low - room), high + room - exact) / abs(exact) if exact else None


def compensated_bound(n, exact, half_unit):
    """What a double or compensated sum can be off by: the products' own
    rounding (2^-24 each), Kahan's 2u + N u^2 in float, and N double
    additions."""
    u = verdict.FLOAT_UNIT
    return verdict.printed_error(half_unit) + (
        3 * u + 2 * n * u * u + (n + 2) * verdict.DOUBLE_UNIT) * abs(exact)


def nearest_float(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def tight_bound(n, exact, half_unit):
    """What a double sum of the exact products can be off by: N double
    additions, twice over for good measure."""
    return verdict.printed_error(half_unit) + 2 * (n + 2) * verdict.DOUBLE_UNIT * abs(exact)


def better_than_float(points):
    """The first length where a result is nearer the exact value than any
    float is, or None: no float sum, whatever its order, prints that (its
    result is a float). points: (n, result, half_unit, exact)."""
    first, away = None, {}  # away: how far the nearest float lies from each exact value
    for n, result, half_unit, exact in set(points):  # the first length is order-free
        if exact not in away:
            away[exact] = abs(nearest_float(exact) - exact)
        # A float printed to half_unit lies at least this far from exact.
        gap = away[exact] - verdict.printed_error(half_unit)
        if abs(result - exact) <= tight_bound(n, exact, half_unit) < gap and \
                (first is None or n < first):
            first = n
    return first


def stays_accurate(points):
    """A version that sums better than float somewhere does so everywhere:
    (the length that showed it, [the points beyond a compensated sum's
    bound]) or None."""
    shown = better_than_float(points)
    if shown is None:
        return None
    beyond = [(n, result, half_unit, exact) for n, result, half_unit, exact in sorted(points)
              if abs(result - exact) > compensated_bound(n, exact, half_unit)]
    return (shown, beyond) if beyond else None


def agree(results, n, exact, low=None, high=None, tolerance=0.0):
    """Whether one version's results at length n, (value, half unit) each,
    over all its runs, differ by no more than its class allows: a better
    than float sum, its bound; a float sum, the orders' spread and margin;
    without the orders, the rigorous float bound; tolerance widens the
    last two as it widens the float bound. (spread, allowed) when they
    do not, else None."""
    if len(results) < 2:
        return None
    values = [value for value, _ in results]
    spread = max(values) - min(values)
    half_unit = max(half for _, half in results)
    if better_than_float([(n, value, half, exact) for value, half in results]):
        allowed = 2 * compensated_bound(n, exact, half_unit)
    elif low is not None:
        allowed = high - low + 2 * margin(exact, half_unit, low, high) + 2 * tolerance * exact
    else:
        allowed = 2 * max(verdict.float_bound(n, value, exact, half_unit, tolerance)
                          for value in values)
    return (spread, allowed) if spread > allowed else None


# What a sweep's runs say: every run of a program that printed a result,
# warm-ups and probes included, judged by the rules above.

# The rules, in the order in which the first that holds gives the line
# that says why a version is wrong; any of them makes it wrong where it
# holds. BEYOND_FLOAT and TOO_FEW_DECIMALS are the rigorous bound's
# (verdict.py), found by the model from each result's class.
NOT_REPRODUCIBLE = "not reproducible"
TOO_FEW_DECIMALS = "too few decimals"
BEYOND_FLOAT = "beyond float rounding"
IMPLAUSIBLE = "outside the float orders"
LESS_ACCURATE = "lost accuracy"
RULES = (NOT_REPRODUCIBLE, TOO_FEW_DECIMALS, BEYOND_FLOAT, IMPLAUSIBLE, LESS_ACCURATE)


@dataclass(frozen=True)
class Finding:
    """One rule that makes a version wrong at one length, with the figures
    its line is made of (views/prose.wrong_line)."""
    rule: str
    program: str
    length: int
    exact: float
    result_text: str | None = None  # the result that breaks the rule, or lies farthest off
    count: int = 0                  # NOT_REPRODUCIBLE: its results there, ...
    spread: float = 0.0             # ... how far they spread, ...
    allowed: float = 0.0            # ... and how far they may; BEYOND_FLOAT: the bound
    orders: tuple = ()              # IMPLAUSIBLE: (low, high) of the float orders
    shown: int | None = None        # LESS_ACCURATE: where it summed better than float


def deciding(findings):
    """The finding whose line says why a version is wrong, or None."""
    return min(findings, key=lambda f: (RULES.index(f.rule), f.length), default=None)


def results(runs):
    """{program: {length: [run]}} of the runs that printed a result where
    the exact value is known, warm-ups and probes included, in the order
    made: one pass over every run."""
    found = {}
    for r in runs.runs:
        if not r.failure and r.length in runs.exact:
            found.setdefault(r.program, {}).setdefault(r.length, []).append(r)
    return found


def disagreement(runs, n, own):
    low, high = runs.orders.get(n, (None, None))
    return agree([(r.result, r.result_half_unit) for r in distinct_results(own)], n,
                 runs.exact[n], low, high, runs.tolerance)


def outside(runs, n, own):
    """The run at n whose result no usual float order explains, or None."""
    if n not in runs.orders:
        return None
    low, high = runs.orders[n]
    return next((r for r in distinct_results(own) if not plausible(
        r.result, r.result_half_unit, low, high, n, runs.exact[n], runs.tolerance)), None)


def lost_accuracy(runs, program, own):
    """A LESS_ACCURATE finding for each result of a version that summed
    better than float somewhere and is off by more than such a sum
    elsewhere."""
    broken = stays_accurate([(n, r.result, r.result_half_unit, runs.exact[n])
                             for n, at in own.items() for r in distinct_results(at)])
    if not broken:
        return []
    shown, beyond = broken
    return [Finding(LESS_ACCURATE, program, n, runs.exact[n], shown=shown,
                    result_text=next(r.result_text for r in own[n] if r.result == result))
            for n, result, *_ in beyond]


def findings(runs, program, own=None):
    """Every finding of the evidence rules on program's results; own:
    results(runs)'s entry for it, where already made."""
    own = results(runs).get(program, {}) if own is None else own
    found = []
    for n in sorted(own):
        spread = disagreement(runs, n, own[n])
        if spread:
            farthest = max(distinct_results(own[n]),
                           key=lambda r: abs(r.result - runs.exact[n]))
            found.append(Finding(NOT_REPRODUCIBLE, program, n, runs.exact[n],
                                 farthest.result_text, count=len(own[n]), spread=spread[0],
                                 allowed=spread[1]))
        r = outside(runs, n, own[n])
        if r:
            found.append(Finding(IMPLAUSIBLE, program, n, runs.exact[n], r.result_text,
                                 orders=runs.orders[n]))
    return found + lost_accuracy(runs, program, own)
