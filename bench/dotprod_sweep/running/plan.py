# SPDX-License-Identifier: MIT
"""What runs next, and in what order: the rounds' turns, the probe
lengths, and where one more round is worth its time within the budget.
Pure: the runs themselves are made by rounds."""

import random

from ..facts import launchers
from ..figures import evidence, flags, gate, stats, summaries
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


def round_worth(rows, rounds, seconds):
    """How much a round of seconds narrows the rows not settled at a length
    that has had rounds: an interval narrows as one over the root of the
    rounds, by about 1/(2·rounds) of its width a round, so a round's worth
    falls as its length's rounds grow, and a cheap round is worth more
    than a dear one. Counting the seconds spent there instead starved the
    longest length, whose first rounds carry dotprod's printing loop."""
    return rows / (rounds * max(seconds, 1e-9))


def next_length(unsettled, longest):
    """Of {length: (its rows not settled, its rounds, the seconds its next
    round will take)}, the longest length asked for where it is there: the
    answer lines are said at it, and its rounds, the dearest, were the
    ones a sweep ran out of; else the length where one more round narrows
    the most per second."""
    if longest in unsettled:
        return longest
    return max(unsettled, key=lambda n: round_worth(*unsettled[n]))


# The baseline at a length runs in every stats.BASELINE_EVERY-th round only,
# once it has had its first rounds, while its runs differ from one to the
# next by at most STEADY_SHARE of the least that a row the round is for
# does (stats.noise_floor); a row's ratio in a round it skipped takes its
# run in the latest round before (summaries.speedups). Shared by three
# ratios, a run whose noise is a fifth of theirs leaves their interval
# under 4 % too narrow: sqrt((1 + 3/25) / (1 + 1/25)) = 1.038. A baseline
# as noisy as the rows runs in every round, as pairing needs.
STEADY_SHARE = 0.2


def steady(seconds, rows_noise):
    """Whether a baseline's loop times, MIN_ROUNDS or more, differ from run
    to run by at most STEADY_SHARE of rows_noise, the least noise floor of
    the rows a round is for."""
    floor = stats.noise_floor(seconds)
    return len(seconds) >= MIN_ROUNDS and floor is not None and rows_noise is not None \
        and floor <= STEADY_SHARE * rows_noise


def baseline_in_round(seconds, rows_noise, repeat, last):
    """Whether the baseline runs in round repeat at a length where its loop
    times so far are seconds, the rows the round is for vary rows_noise
    from run to run, and it last ran in round last: every round unless it
    is steady beside them, then every stats.BASELINE_EVERY-th."""
    return not steady(seconds, rows_noise) or repeat - last >= stats.BASELINE_EVERY


def turns(programs, seed, n, kind, repeat):
    """The programs in a round, shuffled: a program that always ran first,
    or just after another, would carry what the order does to its time.
    The same seed gives the same order."""
    order = list(programs)
    random.Random(f"{seed} {n} {kind} {repeat}").shuffle(order)
    return order


def unsettled(runs, n):
    """The programs at length n, the baseline aside, whose rows' intervals
    have not settled (stats.settled) and whose times are not too coarse
    for more rounds to help: the rows a round there is for. Without the
    rest of the model, which each round would wait for."""
    def narrowing(p):
        ratios = summaries.row_ratios(runs, p, n)
        return ratios and not stats.settled(ratios) and not flags.coarse(runs.of(p, n))
    return tuple(p for p in runs.programs if p != runs.baseline and narrowing(p))


def round_programs(runs, n, repeat):
    """The programs round repeat at length n runs after the first rounds:
    the rows not settled there, and the baseline in the rounds it runs in
    (baseline_in_round); none once every row has settled."""
    rows = unsettled(runs, n)
    if not rows:
        return ()
    base = [r for r in runs.of(runs.baseline, n) if not r.failure]
    noise = [stats.noise_floor([r.seconds for r in runs.of(p, n) if not r.failure]) for p in rows]
    noise = min((f for f in noise if f is not None), default=None)
    if not base or baseline_in_round([r.seconds for r in base], noise, repeat,
                                     max(r.repeat for r in base)):
        rows += (runs.baseline,)
    return rows


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
