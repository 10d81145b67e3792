# SPDX-License-Identifier: MIT
"""Where a noisy series of timings steps up or down: the changes in its
level, found by PELT (Killick, Fearnhead and Eckley, "Optimal detection
of changepoints with a linear computational cost", JASA 107, 2012).

PELT finds, exactly, the segmentation that minimises the segments' costs
plus a penalty for each change, and prunes the start points that can no
longer begin the last segment, so that it runs in near-linear time. The
cost of a segment is that of a change in mean of normal noise: its
values' squared deviations from their mean, over the noise's variance.
The series is in logarithms (of times, or of a time's ratio to another
program's), so that a step is a factor and the noise a share of the
time, as it is on a real machine.

The noise's spread is first taken from the series itself, robustly: the
median absolute difference between neighbours, over 0.6745·√2, which
estimates a normal standard deviation and which a step moves by one
difference only; then, a few times over, from the residuals about the
levels of the segments found with it, which use every value. The
penalty per change is PENALTY·log n. Simulated, with normal noise of
standard deviation 5 %: 50 runs of pure noise showed a change in 1.7 %
of series (at 2·log n, the Schwarz criterion, in 12 %); a 20 % step
after 10 of 20 runs was found at that run in 87 % of series and within
a run of it in 93 %, and in uniform noise of ±5 % at that run in 96 %
(tests/sweep/unit_changepoints.py). A change smaller than MINIMUM_STEP
is not one a user acts on, and is
not reported however steady the series. Pure functions."""

import math
import statistics

PENALTY = 3.0          # times log n, for each change
MINIMUM_STEP = 0.05    # a change of less than 5 % of the time is not reported
LEAST_NOISE = 0.005    # a printed time's three digits hide about this much
ROUNDS = 5            # of segmenting, then estimating the noise again
MIN_POINTS = 4         # fewer values give no estimate of the noise to test against
NORMAL_MAD = 0.6745    # a normal deviate's median absolute value


def noise(values):
    """The standard deviation of values' noise, from the median absolute
    difference between neighbours: a step changes one difference only."""
    steps = [abs(b - a) for a, b in zip(values, values[1:])]
    return max(statistics.median(steps) / (NORMAL_MAD * math.sqrt(2)), LEAST_NOISE)


def spread(values, starts):
    """The noise's standard deviation about the levels of the segments
    that starts cut values into, as the residuals' estimate, floored."""
    cost = costs(values)
    bounds = [0, *starts, len(values)]
    squares = sum(cost(a, b) for a, b in zip(bounds, bounds[1:]))
    return max(math.sqrt(squares / max(1, len(values) - len(bounds) + 1)), LEAST_NOISE)


def costs(values):
    """cost(a, b): the squared deviations of values[a:b] from their mean."""
    ones, squares = [0.0], [0.0]
    for v in values:
        ones.append(ones[-1] + v)
        squares.append(squares[-1] + v * v)
    def cost(a, b):
        total = ones[b] - ones[a]
        return max(0.0, squares[b] - squares[a] - total * total / (b - a))
    return cost


def pelt(values, penalty, variance):
    """The starts of the segments after the first, in order, that minimise
    the sum of each segment's cost over variance, plus penalty per change."""
    n = len(values)
    cost = costs(values)
    best = [-penalty] + [0.0] * n   # best[t]: the least total for values[:t]
    last = [0] * (n + 1)            # last[t]: where that segmentation's last segment starts
    starts = [0]
    for t in range(1, n + 1):
        totals = [(best[s] + cost(s, t) / variance + penalty, s) for s in starts]
        best[t], last[t] = min(totals)
        # A start whose total already exceeds the best without the penalty
        # can never begin a last segment again (the pruning of PELT).
        starts = [s for total, s in totals if total - penalty <= best[t]] + [t]
    found, t = [], n
    while last[t] > 0:
        found.append(last[t])
        t = last[t]
    return found[::-1]


def changes(values):
    """The indexes at which values (logarithms) change level: each is the
    first value of a new segment. Empty for fewer than MIN_POINTS values."""
    if len(values) < MIN_POINTS:
        return []
    middle = statistics.fmean(values)
    values = [v - middle for v in values]  # the sums of squares then lose no digits
    penalty = PENALTY * math.log(len(values))
    sigma, found = noise(values), None
    for _ in range(ROUNDS):
        again = pelt(values, penalty, sigma * sigma)
        if again == found:
            break
        found, sigma = again, spread(values, again)
    return merged(values, found)


def levels(values, starts):
    """The mean of each segment that starts cut values into."""
    bounds = [0, *starts, len(values)]
    return [statistics.fmean(values[a:b]) for a, b in zip(bounds, bounds[1:])]


def merged(values, starts):
    """starts without the changes smaller than MINIMUM_STEP: the smallest
    step goes first, and its two segments become one, until none is left."""
    starts = list(starts)
    while starts:
        means = levels(values, starts)
        steps = [abs(b - a) for a, b in zip(means, means[1:])]
        smallest = min(range(len(steps)), key=steps.__getitem__)
        if steps[smallest] >= math.log1p(MINIMUM_STEP):
            break
        del starts[smallest]
    return starts


# A one-run change stands, from both its neighbours, as far above the
# noise of the series' other steps as two changes' penalty asks, with that
# noise taken at its upper 95 % bound: a few steps say little of it.
FEWEST_STEPS = 3
UPPER = statistics.NormalDist().inv_cdf(0.05)


def noise_bound(steps):
    """An upper 95 % bound on the noise of each value, from the steps
    between values: the chi-square bound of their mean square (by Wilson
    and Hilferty's approximation of its quantile), floored."""
    m = len(steps)
    low = m * (1 - 2 / (9 * m) + UPPER * math.sqrt(2 / (9 * m))) ** 3
    return max(math.sqrt(sum(d * d for d in steps) / (2 * low)), LEAST_NOISE)


def clear(a, b):
    """+1 where interval a (low, high) lies wholly above b, -1 below, else 0."""
    return 1 if a[0] > b[1] else -1 if a[1] < b[0] else 0


def stands_out(values, k, before, after):
    """Whether values[k] steps from values[before] (and back to values[after],
    where there is one) by more than MINIMUM_STEP and by more than the root
    of two changes' penalty times noise_bound() of the steps that do not
    touch it (that from before to after among them): FEWEST_STEPS or more."""
    steps = [abs(values[k] - values[j]) for j in (before, after) if j is not None]
    rest = [b - a for i, (a, b) in enumerate(zip(values, values[1:])) if k not in (i, i + 1)]
    rest += [values[after] - values[before]] if after is not None else []
    if len(rest) < FEWEST_STEPS:
        return False
    floor = math.sqrt(2 * PENALTY * math.log(len(values))) * noise_bound(rest)
    return min(steps) > max(math.log1p(MINIMUM_STEP), floor)


def one_run(values, intervals, left=frozenset()):
    """The index k of a value whose interval lies clear of both its
    neighbours' on one side (a last value: of the one before it and of the
    mean of those before), and that stands out of the series' noise; its
    neighbours are the values not in left. None where there is none."""
    kept = [i for i in range(len(values)) if i not in left and intervals[i] is not None]
    found = []
    for place, k in enumerate(kept[1:], start=1):
        before, after = kept[place - 1], kept[place + 1] if place + 1 < len(kept) else None
        side = clear(intervals[k], intervals[before])
        if after is None:
            level = statistics.fmean(values[i] for i in kept[:place])
            back = clear(intervals[k], (level, level))
        else:
            back = clear(intervals[k], intervals[after])
        sub = [values[i] for i in kept]
        if side and side == back and stands_out(sub, place, place - 1,
                                                 place + 1 if after is not None else None):
            found.append((abs(values[k] - values[before]), k))
    return max(found)[1] if found else None


def one_run_changes(values, intervals):
    """The values (logarithms) that change level for one run and are back
    at the next (or are the last), by their intervals (each (low, high) in
    logarithms, or None): those found first, the largest step first, are
    left out of the neighbours of the next. In index order."""
    found = set()
    while (k := one_run(values, intervals, found)) is not None:
        found.add(k)
    return sorted(found)
