# SPDX-License-Identifier: MIT
"""What the machine can read, from the ceiling program's runs: its rates
per thread count and pass, where a row's rate stands against them, and
what no run can claim. Pure functions of the runs."""

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


def rates(runs, n):
    """The best read rates the machine showed at length n, in bytes per
    second: {threads: rate}."""
    return {c.threads: vector_bytes(n) / c.seconds for c in runs.ceilings
            if c.length == n and c.seconds > 0}


def pass_time(c, which):
    """Ceiling c's best "first" or "second" pass, where it said one that
    can be: no shorter than its best pass of all, no longer than its run."""
    seconds = getattr(c, which)
    return seconds if seconds and 0 < c.seconds <= seconds <= c.wall else None


def pass_rates(runs, n):
    """The best read rates of a first and of a second pass over vectors
    just built, where the ceiling said: ({threads: rate}, {threads: rate})."""
    return tuple({c.threads: vector_bytes(n) / pass_time(c, which) for c in runs.ceilings
                  if c.length == n and pass_time(c, which)} for which in ("first", "second"))


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


def rows(runs, n):
    level = fits_in(runs.machine.get("caches", []), vector_bytes(n))
    return tuple(CeilingRow(c.threads, c.seconds, vector_bytes(n) / c.seconds / 1e9, level,
                            *(vector_bytes(n) / p / 1e9 if p else None
                              for p in (pass_time(c, "first"), pass_time(c, "second"))))
                 for c in runs.ceilings if c.length == n and c.seconds > 0)
