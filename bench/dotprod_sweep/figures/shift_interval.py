# SPDX-License-Identifier: MIT
"""The rank interval for the factor between two groups of values that
were not made in pairs: the loop times of two sweeps, or their ratios to
a control. Pure arithmetic.

The two sweeps' runs were not made in pairs, so no
per-round ratio of old to new exists. Taking logs, a version that
changes the loop's cost multiplies every time alike, which shifts the
log times; the interval for that shift is the Hodges-Lehmann one from
the Mann-Whitney rank test: the k-th smallest and k-th largest of the
m*n differences log(new) - log(old), k from the exact distribution of
the rank statistic. Chosen over a bootstrap of the medians because it is
exact at the six repeats a sweep may stop at, for any distribution of
times: when nothing changed, the interval misses 1 in at most 5 % of
comparisons, whatever the machine's noise looks like, where a bootstrap
of six values' medians misses more often than it claims. It needs no
random numbers."""

import bisect
import itertools
import math
import statistics
from dataclasses import dataclass

from .stats import CONFIDENCE

EXACT_PAIRS = 2000    # up to this many pairs the rank test's distribution is exact
# The logs are taken within these bounds, far beyond any time or ratio a
# run gives: a time of 1e-320 s, or a ratio to a control that underflows
# to 0, still has a log, and no factor between two of them overflows.
LOG_FLOOR, LOG_CEILING = math.log(1e-150), math.log(1e150)


@dataclass(frozen=True)
class Interval:
    low: float           # of new / old
    high: float
    coverage: float      # what it reaches; below CONFIDENCE with too few runs


def null_counts(m, n):
    """How many of the C(m+n, m) orders of m old and n new times give each
    value u = 0..m*n of the rank statistic (the count of pairs where new
    is the larger): the coefficients of the Gaussian binomial [m+n, m],
    the product over i of (1 - q^(n+i)) / (1 - q^i)."""
    poly = [1] + [0] * (m * n)
    for i in range(1, m + 1):
        for k in range(m * n, n + i - 1, -1):   # times (1 - q^(n+i))
            poly[k] -= poly[k - n - i]
        for k in range(i, m * n + 1):           # over (1 - q^i), exactly
            poly[k] += poly[k - i]
    return poly


def null_cdf(m, n):
    """P(U <= u) for u = 0, 1, ..., m*n: U the rank statistic of m old and
    n new times, when old and new are alike."""
    counts = null_counts(m, n)
    total = sum(counts)
    cdf, running = [], 0
    for count in counts:
        running += count
        cdf.append(running / total)
    return cdf


def normal_cdf(x):
    return 0.5 * (1 + math.erf(x / math.sqrt(2)))


def rank_k(m, n, confidence=CONFIDENCE):
    """The k of the interval [D(k), D(N+1-k)] among N sorted differences,
    and its coverage 1 - 2 P(U <= k-1). Without a k that reaches
    confidence (fewer than four runs a side at 95 %), k = 1: the whole
    range."""
    tail = (1 - confidence) / 2
    pairs = m * n
    if pairs <= EXACT_PAIRS:
        cdf = null_cdf(m, n)
        k = 1
        while k < len(cdf) and cdf[k] <= tail:
            k += 1
        return k, 1 - 2 * cdf[k - 1]
    # Beyond, the normal approximation, with a continuity correction.
    mean = pairs / 2
    sd = math.sqrt(m * n * (m + n + 1) / 12)
    z = statistics.NormalDist().inv_cdf(1 - tail)
    k = max(1, math.floor(mean - 0.5 - z * sd) + 1)
    return k, 1 - 2 * normal_cdf((k - 1 + 0.5 - mean) / sd)


@dataclass(frozen=True)
class Group:
    """Sorted values counted once each: times printed to a few digits
    repeat, and each distinct pair of values is then counted, and sorted,
    once with its weight."""
    values: list         # distinct, ascending
    counts: list         # how many of each
    up_to: list          # up_to[j]: how many lie below values[j]; up_to[-1]: all


def bounded_log(t):
    return min(max(math.log(t), LOG_FLOOR), LOG_CEILING) if t > 0 else LOG_FLOOR


def group_logs(times):
    values, counts = [], []
    for v in sorted(bounded_log(t) for t in times):
        if values and values[-1] == v:
            counts[-1] += 1
        else:
            values.append(v)
            counts.append(1)
    return Group(values, counts, list(itertools.accumulate(counts, initial=0)))


def at_most(x, y, t):
    """(pairs, distinct pairs) with y - x <= t, counted over the shorter
    of the two groups by binary search in the other: a difference only
    grows with y and shrinks with x, and v - b is exactly -(b - v), so
    each search asks the very comparison it counts."""
    pairs = kinds = 0
    if len(x.values) <= len(y.values):
        for a, c in zip(x.values, x.counts):
            j = bisect.bisect_right(y.values, t, key=lambda v: v - a)
            pairs, kinds = pairs + c * y.up_to[j], kinds + j
    else:
        for b, c in zip(y.values, y.counts):
            i = bisect.bisect_left(x.values, -t, key=lambda v: v - b)
            pairs, kinds = pairs + c * (x.up_to[-1] - x.up_to[i]), kinds + len(x.values) - i
    return pairs, kinds


def between(x, y, lo, hi):
    """(difference, weight) of every distinct pair with lo < y - x <= hi,
    by the same comparisons as at_most()."""
    found = []
    if len(x.values) <= len(y.values):
        for a, c in zip(x.values, x.counts):
            first = bisect.bisect_right(y.values, lo, key=lambda v: v - a)
            last = bisect.bisect_right(y.values, hi, key=lambda v: v - a)
            found += [(y.values[j] - a, c * y.counts[j]) for j in range(first, last)]
    else:
        for b, c in zip(y.values, y.counts):
            first = bisect.bisect_left(x.values, -hi, key=lambda v: v - b)
            last = bisect.bisect_left(x.values, -lo, key=lambda v: v - b)
            found += [(b - x.values[i], c * x.counts[i]) for i in range(first, last)]
    return found


def weighted_kth(found, k):
    """The k-th smallest of sorted (value, weight) pairs, counting weights."""
    for value, weight in found:
        k -= weight
        if k <= 0:
            return value
    raise IndexError(k)


def kth(x, y, k):
    """The k-th smallest of the differences y - x of every pair, without
    making them all: bisection on the value, each step counting in one
    pass, until few enough distinct pairs lie between its bounds to sort
    those alone."""
    lo, hi = y.values[0] - x.values[-1], y.values[-1] - x.values[0]
    below, kinds_below = at_most(x, y, lo)
    if below >= k:
        return lo
    kinds_up_to = len(x.values) * len(y.values)
    for _ in range(200):
        mid = lo + (hi - lo) / 2
        if kinds_up_to - kinds_below <= SORTED_PAIRS or mid <= lo or mid >= hi:
            break
        count, kinds = at_most(x, y, mid)
        if count >= k:
            hi, kinds_up_to = mid, kinds
        else:
            lo, below, kinds_below = mid, count, kinds
    return weighted_kth(sorted(between(x, y, lo, hi)), k - below)


# Up to this many distinct pairs, sorting them all is quicker than
# counting them again at every step of the bisection.
SORTED_PAIRS = 10**4


def ranked(old, new):
    """The k-th smallest of the differences log(new) - log(old) of every
    pair, as a function of k."""
    x, y = group_logs(old), group_logs(new)
    if len(x.values) * len(y.values) <= SORTED_PAIRS:
        found = sorted(between(x, y, -math.inf, math.inf))
        return lambda k: weighted_kth(found, k)
    return lambda k: kth(x, y, k)


def interval(old, new, confidence=CONFIDENCE):
    """The interval for new / old, from the two groups of times."""
    kth_smallest = ranked(old, new)
    k, coverage = rank_k(len(old), len(new), confidence)
    pairs = len(old) * len(new)
    return Interval(math.exp(kth_smallest(k)), math.exp(kth_smallest(pairs + 1 - k)), coverage)


def shift(old, new):
    """The Hodges-Lehmann estimate of new / old: the median of the ratios
    of every pair of times, which its interval always holds."""
    kth_smallest = ranked(old, new)
    pairs = len(old) * len(new)
    return math.exp((kth_smallest((pairs + 1) // 2) + kth_smallest(pairs // 2 + 1)) / 2)
