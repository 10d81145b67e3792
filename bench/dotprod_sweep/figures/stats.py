# SPDX-License-Identifier: MIT
"""The statistics of repeated timings: an interval for a median that
assumes nothing of the timings' distribution, and the signs of noise."""

import bisect
import math
import statistics

CONFIDENCE = 0.95
MIN_ROUNDS = 6   # the fewest repeats whose order statistics give a 95 % interval
SLACK = 1e-12    # a ratio's rounding: an end this close to a limit lies on it
# An interval reaching more than 10 % from its median, either way, cannot
# tell apart differences a user would act on; a tighter one is an answer,
# "the same speed" included.
WIDE = 0.10
CLUSTER_GAP = 0.1     # two clusters: at least 10 % apart, ...
CLUSTER_RATIO = 2     # ... farther apart than either cluster is wide, ...
CLUSTER_SHARE = 0.25  # ... and each a quarter of the runs or more


# Up to this many values the tail is summed in integers, exactly; beyond,
# in floats, where integers of n bits would make the sum quadratic in n.
EXACT_UP_TO = 1000


def binomial_tails(n):
    """[P(X <= k) for k = 0 .. n // 2], X ~ Binomial(n, 1/2), in one pass:
    each binomial coefficient from the one before. Beyond EXACT_UP_TO
    values each term is taken from its logarithm, which lgamma gives to a
    relative 1e-8 or better up to 10^6 values: far below any change in
    the interval's choice or in the coverage printed."""
    tails = []
    if n <= EXACT_UP_TO:
        total, term, running = 2**n, 1, 0
        for i in range(n // 2 + 1):
            running += term
            tails.append(running / total)  # rounded once, as an exact sum
            term = term * (n - i) // (i + 1)
        return tails
    base, running = math.lgamma(n + 1) - n * math.log(2), 0.0
    for i in range(n // 2 + 1):
        running += math.exp(base - math.lgamma(i + 1) - math.lgamma(n - i + 1))
        tails.append(running)
    return tails


def median_interval(values):
    """A CONFIDENCE interval for the median of what values sample, from
    their order statistics: the true median lies below the k-th smallest
    of n values with probability P(Binomial(n, 1/2) < k). Returns
    (low, high, coverage); with fewer than six values no interval reaches
    95 %, and min-max is given with the coverage it has."""
    ordered = sorted(values)
    n = len(ordered)
    tail = binomial_tails(n)
    k = 1
    while k < n // 2 and 2 * tail[k] <= 1 - CONFIDENCE:
        k += 1
    return ordered[k - 1], ordered[n - k], 1 - 2 * tail[k - 1]


# A sweep's rounds carry what the machine did while they ran; a rerun
# meets it in another state. How far the median moved between the first,
# middle and last third of the rounds shows that part, and half the
# spread of three medians understates how far whole sweeps move apart:
# 1.5 times it, taken with the rounds' own noise, made the intervals of
# 95 % of pairs of reruns on the project's machine overlap, where the
# rounds' noise alone made 84-87 % (docs/results.md).
DRIFT_PARTS = 3
DRIFT_WEIGHT = 1.5
# The values a third needs: the median of two is their mean, which one run
# far off moves as far as it likes; the median of three passes over it.
DRIFT_LEAST = 3


def drift(values):
    """How far the median of positive values, in the order made, moved
    while they were made: half the spread of the medians of their first,
    middle and last thirds, as a logarithm; 0 with fewer than DRIFT_LEAST
    values a third."""
    k = len(values)
    if k < DRIFT_LEAST * DRIFT_PARTS:
        return 0.0
    medians = [statistics.median(values[i * k // DRIFT_PARTS:(i + 1) * k // DRIFT_PARTS])
               for i in range(DRIFT_PARTS)]
    return math.log(max(medians) / min(medians)) / 2


def rerun_interval(values, own=None):
    """median_interval() of positive values in the order made, each end
    moved out by DRIFT_WEIGHT times their drift, the two added as
    independent parts: an interval for this sweep's median that takes in
    how the machine moved while it ran, not only these rounds' noise; not
    a prediction interval for the next sweep's median, which is wider.
    own: their median_interval(), where already made. (low, high,
    coverage)."""
    low, high, coverage = own or median_interval(values)
    moved = DRIFT_WEIGHT * drift(values)
    if not moved:
        return low, high, coverage
    middle = statistics.median(values)
    return (middle * math.exp(-math.hypot(math.log(middle / low), moved)),
            middle * math.exp(math.hypot(math.log(high / middle), moved)), coverage)


# A control that skipped rounds (running.plan runs a steady or dear
# baseline only where it narrows the most) pairs with a run at most this
# many rounds back, never with one made long before.
BASELINE_EVERY = 3


def by_round(mine, theirs):
    """[(mine's time, theirs')] per round of mine, both {round: time}:
    theirs in the same round, or where a steady program skipped it, in
    the latest round before, within BASELINE_EVERY - 1 rounds; none
    otherwise."""
    made = sorted(theirs)
    pairs = []
    for k in sorted(mine):
        at = bisect.bisect_right(made, k)
        if at and k - made[at - 1] < BASELINE_EVERY:
            pairs.append((mine[k], theirs[made[at - 1]]))
    return pairs


def log_reach(low, middle, high):
    """How far an interval reaches below and above its middle, as
    logarithms."""
    return math.log(middle / low), math.log(high / middle)


def median_reach(values):
    """How far the median_interval() of two or more positive values
    reaches from their median, its farther end, as a logarithm."""
    low, high, _ = median_interval(values)
    return max(log_reach(low, statistics.median(values), high))


def local_interval(ratios, bottom, drifting=True):
    """The median of ratios, each a baseline's run over the row's median
    in its part of the sweep, with an interval: the ratios' own
    (rerun_interval, with drifting; else median_interval), each end moved
    out by the reach of the median of bottom, the row's times, that the
    ratios share, the two added as independent parts as logarithms.
    (median, low, high, coverage), the coverage the lesser of the two."""
    low, high, coverage = rerun_interval(ratios) if drifting else median_interval(ratios)
    middle = statistics.median(ratios)
    b_low, b_high, b_coverage = median_interval(bottom)
    down, up = log_reach(b_low, statistics.median(bottom), b_high)
    return (middle, middle * math.exp(-math.hypot(math.log(middle / low), up)),
            middle * math.exp(math.hypot(math.log(high / middle), down)),
            min(coverage, b_coverage))


def is_wide(low, middle, high):
    """Measured as ratios, so that 1.1 above and 1/1.1 below count alike."""
    return high > (1 + WIDE) * middle or middle > (1 + WIDE) * low


def split_clusters(values):
    """The two groups values fall into, (lower, upper), each of two or more
    and of CLUSTER_SHARE of them or more, whose gap is large beside both
    the groups' own spreads; None where they do not. A few runs far off
    are outliers, which the median and its interval ignore; two groups of
    a size each can carry the median from one to the other between
    sweeps."""
    ordered = sorted(v for v in values if v > 0)
    if len(ordered) < 4:
        return None
    logs = [math.log(v) for v in ordered]
    gap, at = max((logs[i + 1] - logs[i], i + 1) for i in range(len(logs) - 1))
    if min(at, len(logs) - at) < max(2, CLUSTER_SHARE * len(logs)):
        return None
    spread = max(logs[at - 1] - logs[0], logs[-1] - logs[at])
    if gap > math.log1p(CLUSTER_GAP) and gap > CLUSTER_RATIO * spread:
        return ordered[:at], ordered[at:]
    return None


def two_clusters(values):
    return split_clusters(values) is not None


def noise_floor(times):
    """How much one program's consecutive runs differ: the median of
    |t[i+1] / t[i] - 1|, or None with fewer than two usable runs."""
    steps = [abs(b / a - 1) for a, b in zip(times, times[1:]) if a > 0 and b > 0]
    return statistics.median(steps) if steps else None
