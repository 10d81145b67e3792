# SPDX-License-Identifier: MIT
"""What runs next, and in what order: the rounds' turns, the probe
lengths, and where one more round is worth its time within the budget.
Pure: the runs themselves are made by rounds."""

import math
import random
import statistics

from ..facts import launchers
from ..figures import evidence, flags, gate, speedups, stats
from ..figures.stats import MIN_ROUNDS

# The most rounds a length gets. A median's interval narrows as one over
# the square root of the rounds; on a machine whose short loops vary ±25 %
# from run to run, 60 rounds left it wider than ±10 % and 100 to 200 did
# not, while the budget still bounds the sweep.
MAX_ROUNDS = 250
# The most rounds a length gets for a gate that cannot tell yet
# (--gate-budget): to tell a 25 % slowdown from a 20 % limit, an interval
# must narrow to about ±4 %, which on a loaded machine takes hundreds.
MAX_GATE_ROUNDS = 1000
PROBE_LENGTHS = (1, 5, 29, 165, 1022, 2077)


def probe_lengths(config):
    """The short probes, and odd ones up to the largest length asked for."""
    if not config.candidates:
        return ()
    return PROBE_LENGTHS + odd_probe_lengths(max(config.lengths))


def odd_probe_lengths(largest):
    """The probe lengths beyond the first few, up to below the largest
    length asked for: a fault that starts late shows at one of them."""
    lengths, n = [], 4 * evidence.FIRST_PROBE + 1
    while n < largest:
        lengths.append(n)
        n = 4 * n + 1
    return tuple(lengths)


def first_runs(config, ceilings):
    """How many runs the sweep plans before any extra round: per length the
    exact value, the warm-ups and the first rounds, each timed round with
    the ceiling on each of its thread counts; and the probes before them."""
    c = config
    rounds = (c.repeats or MIN_ROUNDS)
    per_length = 1 + c.warmup * len(c.programs) + rounds * (len(c.programs) + ceilings)
    return per_length * len(c.lengths) + len(probe_lengths(c)) * (1 + len(c.programs))


def ceiling_threads(config):
    """The thread counts the ceiling runs on in every round: one, every CPU
    the sweep may use, and as many as each candidate uses on a node."""
    cpus = max(config.ceiling_threads)
    used = {min(cpus, launchers.node_threads(launchers.launch(c.words, c.env)))
            for c in config.candidates}
    return tuple(sorted({1, cpus} | used))


# The most of the sweep's time the ceiling's runs take once every length
# has had its first rounds: its share's interval settles long before the
# candidates' speedups do, and its time is theirs to spend.
CEILING_SHARE = 0.1


def ceiling_in_round(repeat, ceiling_seconds, elapsed):
    """Whether round repeat runs the ceiling: every one of the first rounds,
    then only while the ceiling's runs have taken under CEILING_SHARE of
    the elapsed seconds."""
    return repeat <= MIN_ROUNDS or ceiling_seconds < CEILING_SHARE * elapsed


def worth_a_round(elapsed, round_seconds, budget):
    """Whether one more round of round_seconds still ends within the time
    budget, elapsed seconds into the sweep."""
    return elapsed + round_seconds <= budget


def narrowing(times):
    """What one more run narrows the median of a program's times: its
    interval's variance, the square of its larger reach as a logarithm,
    falls as one over the runs, by about that over the runs a run. Wide
    where no interval reaches yet."""
    times = [t for t in times if t > 0]
    if len(times) < 2:
        return math.log(2) ** 2
    return stats.median_reach(times) ** 2 / len(times)


def next_length(worth):
    """Of {length: how much a round there narrows per second}, the
    length where it narrows the most: every length's rounds weighed
    alike, so that a row hovering near the width target, narrowing a
    little a round, yields to a wider one at another length."""
    return max(worth, key=lambda n: worth[n])


# The baseline takes turns in every round while pairing costs nothing:
# where its runs are as noisy as the rows' and no dearer, ratios of runs
# made one after the other cancel the machine's drift for free. Where it
# is steadier or dearer than every row beside it, each row's speedup is
# over the row's medians (figures.speedups.of_medians), and the baseline
# runs in a round only where a run of it narrows the speedups more per
# second than one of the round's rows narrows its own: its median gets as
# many runs as its own interval needs. It still runs at least once in
# every third of each row's rounds, so that each of its runs is set
# against the row's median in its own part of the sweep: a drift of the
# machine slows both sides of those ratios alike.


def made(runs, p, n):
    return [r for r in runs.of(p, n) if not r.failure]


def cost(done):
    """The seconds a program's next run should take: its median wall time."""
    return statistics.median(r.wall for r in done) if done else 0.0


def pairs_freely(runs, n, rows):
    """Whether the baseline at n is neither steadier than every one of
    rows nor dearer than every one."""
    def noise(p):
        return stats.noise_floor([r.seconds for r in made(runs, p, n)])
    own, base = noise(runs.baseline), cost(made(runs, runs.baseline, n))
    steadier = own is not None and all(noise(p) is not None and own < noise(p) for p in rows)
    return not steadier and not all(base > cost(made(runs, p, n)) for p in rows)


def wideness(runs, n, p):
    """How far row p's speedup interval at n reaches beside the width
    target, squared, 1 at most: a row at ±25 % weighs 5.6 times one at
    ±10 %, so that the widest rows get the rounds first, whatever their
    length's rounds cost."""
    found = speedups.row_times(runs, p, n)
    found = found and speedups.estimate(*found)
    if not found:
        return 1.0
    middle, low, high, _ = found[0]
    reach = max(stats.log_reach(low, middle, high))
    return max(1.0, reach / math.log1p(stats.WIDE)) ** 2


def gain(runs, n, p, rows):
    """What one more run of p at n narrows the speedups of rows there,
    each weighed by its wideness: a row's, its own median's part
    (narrowing); the baseline's, its median's, which every row's speedup
    holds."""
    weight = sum(wideness(runs, n, q) for q in (rows if p == runs.baseline else (p,)))
    return weight * narrowing([r.seconds for r in made(runs, p, n)])


def baseline_in_round(runs, n, rows):
    """Whether the baseline runs in the next round at n for rows: in every
    round where it pairs freely; else where, without it, its rounds would
    no longer span a row's (speedups.spans), or a run of it narrows the
    speedups more per second than a run of any of the rows does."""
    base = made(runs, runs.baseline, n)
    if not base or pairs_freely(runs, n, rows):
        return True
    theirs = {r.repeat for r in base}
    after = 1 + max(r.repeat for p in (runs.baseline, *rows) for r in made(runs, p, n))
    if any(not speedups.spans(theirs, {r.repeat for r in made(runs, p, n)} | {after})
           for p in rows):
        return True
    def per_second(p):
        return gain(runs, n, p, rows) / max(cost(made(runs, p, n)), 1e-9)
    return per_second(runs.baseline) >= max(per_second(p) for p in rows)


def length_plan(runs, n, known=None):
    """(the programs a next round at n runs (round_programs), how much
    such a round narrows the speedups there, seconds aside). Both depend
    on the runs at n alone: where known, a dict, holds the last plan made
    at n and no run has been added there since, that plan is given back,
    so that each round reckons again only the length it ran at."""
    made = sum(len(runs.of(p, n)) for p in runs.programs)
    if known is not None and known.get(n, (None,))[0] == made:
        return known[n][1:]
    programs = round_programs(runs, n)
    rows = [p for p in programs if p != runs.baseline]
    found = programs, sum(gain(runs, n, p, rows) for p in programs)
    if known is not None:
        known[n] = (made, *found)
    return found


def turns(programs, seed, n, kind, repeat):
    """The programs in a round, shuffled: a program that always ran first,
    or just after another, would carry what the order does to its time.
    The same seed gives the same order."""
    order = list(programs)
    random.Random(f"{seed} {n} {kind} {repeat}").shuffle(order)
    return order


def unsettled(runs, n):
    """The programs at length n, the baseline aside, whose rows' intervals
    have not settled (speedups.settled) and whose times are not too
    coarse for more rounds to help: the rows a round there is for.
    Without the rest of the model, which each round would wait for."""
    def narrowing_row(p):
        return speedups.row_ratios(runs, p, n) and not speedups.settled(runs, p, n) and \
            not flags.coarse(runs.of(p, n))
    return tuple(p for p in runs.programs if p != runs.baseline and narrowing_row(p))


def round_programs(runs, n):
    """The programs the next round at length n runs after the first
    rounds: the rows not settled there, and the baseline in the rounds it
    runs in (baseline_in_round); none once every row has settled."""
    rows = unsettled(runs, n)
    if not rows:
        return ()
    return rows + ((runs.baseline,) if baseline_in_round(runs, n, rows) else ())


def next_round(runs, lengths, rounds, round_cost, elapsed, budget, known=None):
    """(length, programs) of the next round after the first ones, or
    None where no row is left wide or no round fits the budget. rounds:
    {length: its timed rounds}; round_cost(n, programs): the seconds such
    a round should take; elapsed: the sweep's seconds so far; known: the
    plans already made (length_plan)."""
    wanted = {n: length_plan(runs, n, known) for n in lengths if rounds[n] < MAX_ROUNDS}
    costs = {n: round_cost(n, programs) for n, (programs, _) in wanted.items() if programs}
    fits = {n: wanted[n][1] / max(costs[n], 1e-9) for n in costs
            if worth_a_round(elapsed, costs[n], budget)}
    if not fits:
        return None
    n = next_length(fits)
    return n, wanted[n][0]


def undecided(made):
    """{length: labels} of the candidates whose row the gate of made (a
    model with a limit) cannot tell because its interval reaches both
    within and beyond the limit: more rounds narrow it to one side. A
    row timed in two clusters, or failed, more rounds leave as it is."""
    found = {}
    for s, why in made.unsure:
        if s is not None and why == gate.REACHES:
            found.setdefault(s.length, []).append(s.program)
    return found
