# SPDX-License-Identifier: MIT
"""A row's speedup over the baseline, from their timed runs: the median
of per-round ratios where the baseline ran in every round the row did,
else of the baseline's runs over the row's medians in its thirds (where
a steady or dear baseline skipped rounds, running.plan); and whether
more rounds for the row may stop. Pure functions of the runs."""

import statistics

from . import stats
from .flags import zero_median


def speedups(baseline, runs):
    """Per round both ran in, the baseline's time over this program's: the
    ratio of two runs made one after the other, whatever the machine's
    speed did between rounds. A printed time of 0 gives no ratio."""
    theirs = {b.repeat: b.seconds for b in baseline}
    return [theirs[r.repeat] / r.seconds for r in sorted(runs, key=lambda r: r.repeat)
            if r.repeat in theirs and theirs[r.repeat] > 0 and r.seconds > 0]


def row_times(runs, program, n):
    """(the baseline's, the row's) timed runs at n whose times give a
    speedup, or None where the row has none: the program or the baseline
    failed there, or a loop's time most often printed as 0."""
    base = [r for r in runs.of(runs.baseline, n) if not r.failure]
    own = runs.of(program, n)
    if runs.failure_at(program, n) or runs.failure_at(runs.baseline, n) or \
            zero_median(base) or zero_median(own):
        return None
    return [r for r in base if r.seconds > 0], [r for r in own if r.seconds > 0]


def row_ratios(runs, program, n):
    """A row's speedups, per round both ran in: none where it has none."""
    found = row_times(runs, program, n)
    return tuple(speedups(*found)) if found else ()


def thirds(own_rounds):
    """The row's rounds in order, in stats.DRIFT_PARTS parts."""
    rounds, k = sorted(own_rounds), len(own_rounds)
    return [rounds[i * k // stats.DRIFT_PARTS:(i + 1) * k // stats.DRIFT_PARTS]
            for i in range(stats.DRIFT_PARTS)]


def spans(base_rounds, own_rounds):
    """Whether the baseline's rounds reach every third of the row's: each
    third then has ratios of its own (local_ratios), and a machine that
    ran slower in one of them slowed those ratios' two sides alike."""
    return all(part and any(part[0] <= b <= part[-1] for b in base_rounds)
               for part in thirds(own_rounds))


def of_medians(base, own):
    """Whether the row's speedup is over its medians: the baseline skipped
    some of the row's rounds, being steadier or dearer (running.plan),
    yet its rounds span the row's (spans). Else it is the median of the
    per-round ratios over the rounds both ran in."""
    mine, theirs = {r.repeat for r in own}, {r.repeat for r in base}
    return not mine <= theirs and spans(theirs, mine)


def local_ratios(base, own):
    """Each of the baseline's runs, in the order made, over the row's
    median in its third of the row's rounds: a machine that ran slower
    for a while slowed both, and the ratio keeps little of it, as a pair's
    does, while the row's median is of many runs. Runs after the row's
    last round are left out."""
    parts = thirds({r.repeat for r in own})
    medians = [statistics.median(r.seconds for r in own if part[0] <= r.repeat <= part[-1])
               for part in parts]
    ratios = []
    for b in sorted(base, key=lambda r: r.repeat):
        at = next((i for i, part in enumerate(parts) if b.repeat <= part[-1]), None)
        if at is not None:
            ratios.append(b.seconds / medians[at])
    return ratios


def estimate(base, own, ratios=None):
    """((speedup, low, high, coverage) with the drift term, (the same)
    without it) of a row from its and the baseline's runs, or None where
    it has none: of local_ratios() where of_medians() holds, else of the
    per-round ratios (speedups(), where already made)."""
    if base and own and of_medians(base, own):
        local, times = local_ratios(base, own), [r.seconds for r in own]
        return stats.local_interval(local, times), stats.local_interval(local, times, False)
    ratios = speedups(base, own) if ratios is None else ratios
    if not ratios:
        return None
    middle, steady = statistics.median(ratios), stats.median_interval(ratios)
    return (middle, *stats.rerun_interval(ratios, steady)), (middle, *steady)


def cluster_speedups(base, own):
    """Where the row's or the baseline's times fall in two clusters, the
    least and the most speedup their medians may give, as another sweep
    may find them: the baseline's median in its faster cluster over the
    row's in its slower, and the baseline's slower over the row's faster;
    else None. An interval made of one sweep's rounds can miss a cluster
    that as many runs fell in."""
    theirs = stats.split_clusters([r.seconds for r in base])
    mine = stats.split_clusters([r.seconds for r in own])
    if not (theirs or mine):
        return None
    base_fast, base_slow = theirs or ([r.seconds for r in base],) * 2
    own_fast, own_slow = mine or ([r.seconds for r in own],) * 2
    median = statistics.median
    return median(base_fast) / median(own_slow), median(base_slow) / median(own_fast)


def row_speedup(base, own):
    """The speedup fields of a row from its and the baseline's runs
    (row_times): per-round ratios always, and estimate()'s speedup."""
    ratios = tuple(speedups(base, own))
    found = estimate(base, own, ratios)
    if found is None:
        return {"ratios": ratios, **interval(())}
    (middle, low, high, coverage), steady = found
    return {"ratios": ratios, "speedup": middle, "speedup_low": low, "speedup_high": high,
            "coverage": coverage, "drifted": stats.is_wide(low, middle, high) and
            not stats.is_wide(steady[1], middle, steady[2]),
            "cluster_speedups": cluster_speedups(base, own)}


def narrow(base, own):
    """Whether the row's speedup interval, as the table shows it, is narrow."""
    found = estimate(base, own)
    return found is not None and not stats.is_wide(found[0][1], found[0][0], found[0][2])


# A row whose interval is wide for the drift alone, a drift beyond this
# many times what its rounds' own noise reaches, has met a machine whose
# speed moved: more rounds narrow only the noise, and it is named on the
# table's Drift: line instead. Drift made of noise alone reaches about as
# far as the noise (each third's median carries it), and goes on
# narrowing with the rounds.
DRIFT_BOUND = 2


def drift_bound(base, own):
    """Whether the row's interval is narrow without its drift term, and
    that term reaches over DRIFT_BOUND times as far as the rest."""
    made = estimate(base, own)
    if made is None or stats.is_wide(made[1][1], made[1][0], made[1][2]):
        return False
    found, steady = made
    reach = max(stats.log_reach(found[1], found[0], found[2]))
    rest = max(stats.log_reach(steady[1], steady[0], steady[2]))
    return reach ** 2 - rest ** 2 > (DRIFT_BOUND * rest) ** 2


def twice(rule, runs, program, n):
    """Whether rule(base, own) holds for the row at n with its last round
    and without it. Stopping the first time an interval looks narrow
    stops most often on a sample that happened to vary least, whose
    interval is then too narrow: simulated, such intervals missed the
    true median up to 6-7 % of the time; narrow twice running, at most
    5 %, for a fifth more rounds."""
    found = row_times(runs, program, n)
    if not found or len(found[1]) < 2:
        return False
    base, own = found
    last = max(r.repeat for r in own)
    return rule(base, own) and rule([r for r in base if r.repeat < last],
                                    [r for r in own if r.repeat < last])


def settled(runs, program, n):
    """Whether more rounds for the row at n may stop: the interval the
    table shows (drift included) is narrow twice running, or it is wide
    for a drift that more rounds cannot narrow (drift_bound) twice
    running."""
    return twice(narrow, runs, program, n) or twice(drift_bound, runs, program, n)


def interval(ratios):
    """The speedup's median and 95 % interval over ratios, and whether the
    interval is wide only for how far the median drifted."""
    if not ratios:
        return {"speedup": None, "speedup_low": None, "speedup_high": None, "coverage": None}
    middle = statistics.median(ratios)
    own = stats.median_interval(ratios)
    low, high, coverage = stats.rerun_interval(ratios, own)
    return {"speedup": middle, "speedup_low": low, "speedup_high": high, "coverage": coverage,
            "drifted": stats.is_wide(low, middle, high) and
            not stats.is_wide(own[0], middle, own[1])}
