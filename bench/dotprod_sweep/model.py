# SPDX-License-Identifier: MIT
"""Every figure of a sweep, computed once from its runs: one summary per
program and length. The table, the JSON and the plot only show them."""

import statistics
from dataclasses import dataclass

from . import verdict

MIB = 1024 * 1024
BUDGET = 4 * MIB  # what a process may need beside its two vectors


def vector_bytes(n):
    """The two vectors of n floats that every program reads."""
    return 8 * n


def speedups(baseline, runs):
    """Per repeat, the baseline's time over this program's: the ratio of
    two runs made one after the other, whatever the machine's speed did
    between repeats. A printed time of 0 gives no ratio."""
    return [b.seconds / r.seconds for b, r in zip(baseline, runs)
            if b.seconds > 0 and r.seconds > 0]


@dataclass(frozen=True)
class Summary:
    program: str
    role: str                # "reference" or "candidate"
    length: int
    runs: tuple              # the measured runs, warm-ups left out
    median: float            # seconds the loop took
    low: float
    high: float
    wall: float              # median seconds of the whole process
    peak: int                # the largest resident bytes of any run
    ratios: tuple            # per-repeat speedups over the reference
    farthest: object         # the run whose result is farthest from the exact value
    exact: float | None
    rejection: str | None    # why the result was rejected, or None

    @property
    def ns_per_term(self):
        return self.median / self.length * 1e9

    @property
    def speedup(self):
        return statistics.median(self.ratios) if self.ratios else None

    @property
    def gbs(self):
        return self.vectors / self.median / 1e9 if self.median > 0 else None

    @property
    def vectors(self):
        return vector_bytes(self.length)

    @property
    def budget(self):
        """The most memory a run at this length should need."""
        return self.vectors + BUDGET

    @property
    def relative_error(self):
        if self.exact is None:
            return None
        return verdict.relative(abs(self.farthest.result - self.exact), self.exact)

    @property
    def accepted(self):
        return self.rejection is None


def measured(runs, program, n):
    return tuple(r for r in runs.runs if r.program == program and r.length == n and not r.warmup)


def summary(runs, program, n, tolerance):
    own = measured(runs, program, n)
    reference = measured(runs, runs.reference, n)
    times = [r.seconds for r in own]
    exact = runs.exact.get(n)
    farthest = max(own, key=lambda r: abs(r.result - exact)) if exact is not None else own[0]
    role = "reference" if program == runs.reference else "candidate"
    rejection = None
    if role == "candidate" and exact is not None:
        rejection = verdict.judge(program, n, farthest.result, exact, reference[0].result,
                                  tolerance)
    return Summary(program, role, n, own, statistics.median(times), min(times), max(times),
                   statistics.median(r.wall for r in own), max(r.peak for r in own),
                   tuple(speedups(reference, own)), farthest, exact, rejection)


@dataclass(frozen=True)
class Model:
    runs: object             # the Runs it was computed from
    summaries: tuple         # by length, then program in turn order

    @property
    def lengths(self):
        return self.runs.lengths

    @property
    def candidates(self):
        return [p for p in self.runs.programs if p != self.runs.reference]

    def at(self, n):
        return [s for s in self.summaries if s.length == n]

    def of(self, program):
        return [s for s in self.summaries if s.program == program]

    @property
    def rejections(self):
        """Why results were rejected, candidate by candidate."""
        return [s.rejection for p in self.candidates for s in self.of(p) if s.rejection]


def model(runs, tolerance):
    return Model(runs, tuple(summary(runs, p, n, tolerance)
                             for n in runs.lengths for p in runs.programs))
