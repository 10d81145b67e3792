# SPDX-License-Identifier: MIT
"""Two sweeps compared: for each program, scan values and length that
both measured, how the loop time changed, with a 95 % interval and a
call. Pure functions from two Runs to a frozen model; nothing here reads
a file or starts a process.

The interval. The two sweeps' runs were not made in pairs, so no
per-round ratio exists. Taking logs, a version that changes the loop's
cost multiplies every time alike, which shifts the log times; the
interval for that shift is the Hodges-Lehmann one from the Mann-Whitney
rank test: the k-th smallest and k-th largest of the m*n differences
log(new) - log(old), k from the exact distribution of the rank statistic.
Chosen over a bootstrap of the medians because it is exact at the six
repeats a sweep may stop at, for any distribution of times: when nothing
changed, the interval misses 1 in at most 5 % of comparisons, whatever
the machine's noise looks like, where a bootstrap of six values'
medians misses more often than it claims. It needs no random numbers.

The geometric mean over L lengths weighs every length alike: of each
length's shift, the Hodges-Lehmann estimate (the median of its
differences, always inside its interval), and the interval at
1 - 0.05 / L, so that all L hold at once in 95 % of comparisons or more
(Bonferroni), and so does the one their logarithms' mean spans. Pooling
every length's differences into one rank test would weigh a length by
its pairs of runs, and could put the mean outside its own interval."""

import math
import statistics
from dataclasses import dataclass

from .runs import TIMED

CONFIDENCE = 0.95
THRESHOLD = 0.05      # a change smaller than this fraction is not called one
EXACT_PAIRS = 2000    # up to this many pairs the rank test's distribution is exact

COARSE = 0.01         # a time whose last printed digit is worth more than 1 % of it
FASTER, SLOWER, SAME = "faster", "slower", "no change"

# What tells two machines or builds apart; load and date do not.
MACHINE_KEYS = ("version", "commit", "cpu", "cores", "affinity", "online_cpus", "kernel", "libc",
                "governor", "caches", "environment")


@dataclass(frozen=True)
class Interval:
    low: float           # of new / old
    high: float
    coverage: float      # what it reaches; below CONFIDENCE with too few runs


@dataclass(frozen=True)
class Row:
    program: str
    params: tuple        # (NAME, value) pairs, as matched
    length: int
    old: tuple           # the usable loop times, seconds
    new: tuple
    failure: str | None  # "old", "new" or "both": a run failed there
    ratio: float | None  # median new / median old
    interval: Interval | None
    call: str | None     # FASTER, SLOWER or SAME; None without an interval
    coarse: bool = False  # either side's times were printed with too few digits

    @property
    def old_median(self):
        return statistics.median(self.old) if self.old else None

    @property
    def new_median(self):
        return statistics.median(self.new) if self.new else None


@dataclass(frozen=True)
class Mean:
    """A program's geometric mean of new / old over the lengths both
    files timed it at."""
    program: str
    params: tuple
    lengths: tuple
    ratio: float
    interval: Interval
    call: str


@dataclass(frozen=True)
class Difference:
    key: str
    old: str
    new: str


@dataclass(frozen=True)
class Comparison:
    differences: tuple   # Difference, of machine and build
    rows: tuple          # Row, by length, then program
    means: tuple         # Mean, per program timed at two lengths or more
    only_old: tuple      # (program, params, length) measured in old only
    only_new: tuple
    threshold: float     # a fraction: 0.05 for 5 %
    reference: str       # dotprod's label: its rows are a control
    loads: tuple         # the load average at each sweep's start, or None

    @property
    def drifted(self):
        """The reference's rows called a change: unless dotprod itself
        changed, the machine ran at another speed, which the interval,
        made of each sweep's own noise, does not cover."""
        return [r for r in self.rows if r.program == self.reference and r.call not in (None, SAME)]

    def slower_than(self, limit):
        """The rows and means slower than 1 + limit with their whole interval."""
        return [x for x in (*self.rows, *self.means)
                if x.interval is not None and x.interval.low > 1 + limit]


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


def log_ratios(old, new):
    """log(new) - log(old) of every pair of times, sorted."""
    return sorted(math.log(b) - math.log(a) for a in old for b in new)


def interval(old, new, confidence=CONFIDENCE):
    """The interval for new / old, from the two groups of times."""
    found = log_ratios(old, new)
    k, coverage = rank_k(len(old), len(new), confidence)
    return Interval(math.exp(found[k - 1]), math.exp(found[-k]), coverage)


def shift(old, new):
    """The Hodges-Lehmann estimate of new / old: the median of the ratios
    of every pair of times, which its interval always holds."""
    return math.exp(statistics.median(log_ratios(old, new)))


def call(iv, threshold):
    """Slower only where the whole interval lies above 1 + threshold;
    faster where it lies below 1 / (1 + threshold), the same step the
    other way; otherwise no change."""
    if iv.low > 1 + threshold:
        return SLOWER
    if iv.high < 1 / (1 + threshold):
        return FASTER
    return SAME


def key(params):
    """Scan values, as a sweep or its saved JSON holds them, as one key."""
    return tuple(sorted((str(k), str(v)) for k, v in dict(params or ()).items()))


def side(group):
    """One file's timed runs of a program at a length: the usable times,
    whether a run failed, and whether the times were printed coarsely."""
    # A time printed as 0 has no logarithm, and tells nothing.
    usable = [r for r in group if not r.failure and r.time_text is not None and r.seconds > 0]
    times = tuple(r.seconds for r in usable)
    coarse = bool(usable) and (statistics.median(r.time_half_unit for r in usable)
                               > COARSE * statistics.median(times))
    return times, any(r.failure for r in group), coarse


def measured(runs):
    """{(program, params key, length): side(its timed runs)}."""
    groups = {}
    for r in runs.runs:
        if r.kind == TIMED:
            groups.setdefault((r.program, key(runs.params.get(r.program)), r.length), []).append(r)
    return {k: side(group) for k, group in groups.items()}


def row(program, params, n, old, new, threshold):
    (old_times, old_failed, old_coarse), (new_times, new_failed, new_coarse) = old, new
    failure = {(True, True): "both", (True, False): "old",
               (False, True): "new"}.get((old_failed, new_failed))
    if failure or not old_times or not new_times:
        return Row(program, params, n, old_times, new_times, failure, None, None, None)
    ratio = statistics.median(new_times) / statistics.median(old_times)
    iv = interval(old_times, new_times)
    return Row(program, params, n, old_times, new_times, None, ratio, iv, call(iv, threshold),
               old_coarse or new_coarse)


def geometric(values):
    return math.exp(statistics.fmean(math.log(v) for v in values))


def mean(rows, threshold):
    rows = [r for r in rows if r.interval is not None]
    if len(rows) < 2:
        return None
    each = [interval(r.old, r.new, 1 - (1 - CONFIDENCE) / len(rows)) for r in rows]
    iv = Interval(geometric(i.low for i in each), geometric(i.high for i in each),
                  max(0.0, 1 - sum(1 - i.coverage for i in each)))
    return Mean(rows[0].program, rows[0].params, tuple(r.length for r in rows),
                geometric(shift(r.old, r.new) for r in rows), iv, call(iv, threshold))


def shown(value):
    if isinstance(value, list) and all(isinstance(c, dict) and "level" in c for c in value):
        return ", ".join(f"L{c['level']} {c['bytes'] // 1024} KiB" for c in value)
    if isinstance(value, list):
        return ",".join(map(str, value))
    return "unknown" if value is None else str(value)


def differences(old, new):
    """What differs between the machines and builds the two sweeps ran on;
    each environment variable on its own."""
    found = []
    for name in MACHINE_KEYS:
        a, b = old.get(name), new.get(name)
        if name == "environment":
            a, b = a or {}, b or {}
            found += [Difference(variable, a.get(variable, "unset"), b.get(variable, "unset"))
                      for variable in sorted(set(a) | set(b)) if a.get(variable) != b.get(variable)]
        elif a != b:
            found.append(Difference(name, shown(a), shown(b)))
    return tuple(found)


def compare(old, new, threshold=THRESHOLD):
    """The comparison of two sweeps' Runs; threshold is a fraction."""
    before, after = measured(old), measured(new)
    # In the order the programs took turns, as in the sweep's own table.
    turn = {p: i for i, p in enumerate(dict.fromkeys((*new.programs, *old.programs)))}
    both = sorted(set(before) & set(after), key=lambda k: (k[2], turn.get(k[0], len(turn)), k))
    rows = tuple(row(p, params, n, before[p, params, n], after[p, params, n], threshold)
                 for p, params, n in both)
    programs = dict.fromkeys((r.program, r.params) for r in rows)
    means = tuple(m for m in (mean([r for r in rows if (r.program, r.params) == p], threshold)
                              for p in programs) if m)
    return Comparison(differences(old.machine, new.machine), rows, means,
                      tuple(sorted(set(before) - set(after))),
                      tuple(sorted(set(after) - set(before))), threshold, new.reference,
                      (old.machine.get("load_start"), new.machine.get("load_start")))


def status(comparison, fail_above):
    """3 when some program is slower than fail_above (a fraction) with its
    whole interval, at a length or over all of them; else 0."""
    if fail_above is not None and comparison.slower_than(fail_above):
        return 3
    return 0

