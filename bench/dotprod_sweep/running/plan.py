# SPDX-License-Identifier: MIT
"""What runs next, and in what order: the rounds' turns, the probe
lengths, and where one more round is worth its time within the budget.
Pure: the runs themselves are made by rounds."""

import random

from ..facts import launchers
from ..figures import evidence, flags, stats, summaries
from ..figures.stats import MIN_ROUNDS

# The most rounds a length gets. A median's interval narrows as one over
# the square root of the rounds; on a machine whose short loops vary ±25 %
# from run to run, 60 rounds left it wider than ±10 % and 100 to 200 did
# not, while the budget still bounds the sweep.
MAX_ROUNDS = 250
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
    the ceiling on each of its thread counts; then the probes."""
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


def next_length(unsettled):
    """Of {length: (its rows not settled, the seconds its rounds took)}, the
    length where one more round narrows the most per second. An interval
    narrows as one over the root of its rounds, so a round's worth at a
    length falls as the time spent there grows: the cheapest length alone
    would take the whole budget while a dearer one stays wide."""
    return max(unsettled, key=lambda n: unsettled[n][0] / unsettled[n][1])


def turns(programs, seed, n, kind, repeat):
    """The programs in a round, shuffled: a program that always ran first,
    or just after another, would carry what the order does to its time.
    The same seed gives the same order."""
    order = list(programs)
    random.Random(f"{seed} {n} {kind} {repeat}").shuffle(order)
    return order


def unsettled(runs, n):
    """How many rows at length n, the baseline's aside, whose interval has
    not settled (stats.settled) and whose times are not too coarse for
    more rounds to help; without the rest of the model, which each round
    would wait for."""
    def narrowing(p):
        ratios = summaries.row_ratios(runs, p, n)
        return ratios and not stats.settled(ratios) and not flags.coarse(runs.of(p, n))
    return sum(1 for p in runs.programs if p != runs.baseline and narrowing(p))
