# SPDX-License-Identifier: MIT
"""What the machine can read, from the ceiling program's runs: its rates
per thread count and pass, where a row's rate stands against them, and
what no run can claim. Pure functions of the runs."""

import statistics
from dataclasses import dataclass

IMPOSSIBLE = 1.5    # a rate this far above the machine's ceiling is no measurement
# No core reads its nearest cache faster than this: a claim above it per
# usable CPU is refused even where no ceiling could be measured.
ABSURD_PER_CPU = 1e12  # bytes per second


def vector_bytes(n):
    """The two vectors of n floats that every program reads."""
    return 8 * n


@dataclass(frozen=True)
class CeilingRow:
    threads: int
    seconds: float     # its best pass
    gbs: float         # 8·N bytes over that pass
    fits_in: str       # the nearest cache level that holds 8·N bytes, or "memory"
    first_gbs: float | None = None  # 8·N bytes over its best first pass, where said
    second_gbs: float | None = None  # and over its best second pass


PASSES = ("first", "second", "seconds")  # a first pass's, a second's, the best pass's


def pass_time(c, which):
    """Ceiling run c's best "first" or "second" pass, where it said one that
    can be: no shorter than its best pass of all, no longer than its run;
    "seconds": its best pass of all."""
    seconds = getattr(c, which)
    if which == "seconds":
        return seconds if seconds > 0 else None
    return seconds if seconds and 0 < c.seconds <= seconds <= c.wall else None


def times(runs, n, which="seconds"):
    """{threads: the median of the ceiling runs' pass times} at length n: one
    run a thread count where the sweep measured the ceiling once, one a
    round where it ran in every round."""
    found = {}
    for c in runs.ceilings:
        seconds = pass_time(c, which) if c.length == n else None
        if seconds:
            found.setdefault(c.threads, []).append(seconds)
    return {t: statistics.median(seconds) for t, seconds in found.items()}


def rates(runs, n):
    """The best read rates the machine showed at length n, in bytes per
    second: {threads: rate}."""
    return {t: vector_bytes(n) / s for t, s in times(runs, n).items()}


def pass_rates(runs, n):
    """The read rates of a first and of a second pass over vectors just
    built, where the ceiling said: ({threads: rate}, {threads: rate})."""
    return tuple({t: vector_bytes(n) / s for t, s in times(runs, n, which).items()}
                 for which in PASSES[:2])


def fastest_possible(runs, ceiling):
    """The highest rate in bytes per second that a run may claim: a margin
    over the measured ceiling, or what no machine reaches where none was
    measured."""
    if ceiling:
        return IMPOSSIBLE * ceiling
    return ABSURD_PER_CPU * max(1, runs.machine.get("cores") or 1)


def fits_in(caches, size):
    """The smallest cache level that holds size bytes, or memory."""
    for cache in caches:
        if size <= cache["bytes"]:
            return f"L{cache['level']}"
    return "memory"


def nearest(rates, rate, passes=()):
    """(share, threads, pass) of rate against the ceiling with the fewest
    threads that reads at least as fast, and for as many threads, a first
    pass's ceiling before a second pass's, before the best pass's: a rate
    one thread reaches on a first pass is set against that, a faster one
    against the next. Past them all, against the fastest. pass: 1 or 2 for
    a first or second pass's ceiling, None for the best pass's. rates and
    each of passes: {threads: rate}; a loop timed on vectors just built,
    as dotprod's, meets the first, one timed after an untimed run the
    second."""
    if not rates or not rate:
        return None, None, None
    ceilings = sorted([(t, k, r) for k, by in enumerate(passes, 1) for t, r in by.items()] +
                      [(t, len(passes) + 1, r) for t, r in rates.items()])
    best = max(rates, key=rates.get)
    threads, kind, ceiling = next((c for c in ceilings if c[2] >= rate),
                                  (best, len(passes) + 1, rates[best]))
    return rate / ceiling, threads, kind if kind <= len(passes) else None


def share(runs, n, rate, nodes):
    """(share, threads, pass) of rate at length n, each ceiling counted
    for nodes nodes: each node reads as fast as the sweep's."""
    return nearest({t: r * nodes for t, r in rates(runs, n).items()}, rate,
                   [{t: r * nodes for t, r in by.items()} for by in pass_rates(runs, n)])


def paired(runs, n, program, threads, which, nodes):
    """Per round, the ceiling's pass time on threads over program's loop time
    in the same round, its nodes counted: the share of that ceiling the
    program reached, with the machine's drift between rounds left out."""
    own = {r.repeat: r.seconds for r in runs.of(program, n) if not r.failure and r.seconds > 0}
    return tuple(pass_time(c, which) / (own[c.repeat] * nodes) for c in runs.ceilings
                 if c.length == n and c.threads == threads and c.repeat in own
                 and pass_time(c, which))


# A row as fast as a pass's ceiling is held to it up to this much above
# its median: a loop at the rate a first pass allows (memory's, at 10^7)
# measures a hair above or below it from sweep to sweep, and a strict
# rule then moved its share between the first pass's ceiling and the best
# pass's, 80 % in one sweep and 100 % in the next. Its interval shows the
# hair.
PASS_ROOM = 0.1


def which_pass(runs, n, threads, rate, nodes):
    """The first of a first pass's, a second's and the best pass's ceilings
    on threads that reads about as fast as rate (within PASS_ROOM) or
    faster; past them all, the best pass's."""
    for which in PASSES:
        seconds = times(runs, n, which).get(threads)
        if seconds and vector_bytes(n) * nodes / seconds * (1 + PASS_ROOM) >= rate:
            return which
    return PASSES[-1]


def rows(runs, n):
    level = fits_in(runs.machine.get("caches", []), vector_bytes(n))
    medians = [times(runs, n, which) for which in PASSES]
    return tuple(CeilingRow(t, seconds, vector_bytes(n) / seconds / 1e9, level,
                            *(vector_bytes(n) / by[t] / 1e9 if t in by else None
                              for by in medians[:2]))
                 for t, seconds in sorted(medians[2].items()))
