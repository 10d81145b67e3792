# SPDX-License-Identifier: MIT
"""Every figure of a sweep, computed once from its runs: one Summary per
program and length, each candidate's verdict, the ceilings and the
scaling of scanned commands. The table, the JSON and the plot only show
them. Pure functions: nothing here starts a process."""

import statistics
from dataclasses import dataclass

from . import launchers, stats, verdict
from .runs import PROBE

MIB = 1024 * 1024
BUDGET = 4 * MIB    # what a process may need beside its two vectors
IMPOSSIBLE = 1.5    # a rate this far above the machine's ceiling is no measurement
COARSE = 0.01       # a printed time whose last digit is worth more than 1 % of it


def vector_bytes(n):
    """The two vectors of n floats that every program reads."""
    return 8 * n


def speedups(baseline, runs):
    """Per repeat, the baseline's time over this program's: the ratio of
    two runs made one after the other, whatever the machine's speed did
    between repeats. A printed time of 0 gives no ratio."""
    return [b.seconds / r.seconds for b, r in zip(baseline, runs)
            if b.seconds > 0 and r.seconds > 0]


def ceiling_rates(runs, n):
    """The best read rates the machine showed at length n, in bytes per
    second: {threads: rate}."""
    return {c.threads: vector_bytes(n) / c.seconds for c in runs.ceilings
            if c.length == n and c.seconds > 0}


def fits_in(caches, size):
    """The smallest cache level that holds size bytes, or memory."""
    for cache in caches:
        if size <= cache["bytes"]:
            return f"L{cache['level']}"
    return "memory"


def judged(runs, program, n, kind):
    """The verdict class of program's results at length n."""
    exact = runs.exact.get(n)
    own = [r for r in runs.of(program, n, kind) if not r.failure]
    if exact is None or not own:
        return None, None
    reference = [r for r in runs.of(runs.reference, n, kind) if not r.failure]
    reference_text = reference[0].result_text if reference else None
    classes = [verdict.classify(n, r.result, r.result_half_unit, exact, reference_text,
                                runs.tolerance) for r in own]
    farthest = max(own, key=lambda r: abs(r.result - exact))
    return verdict.worst(classes), farthest


@dataclass(frozen=True)
class Summary:
    program: str
    role: str                 # "reference" (dotprod) or "candidate"
    baseline: bool            # speedups are taken over its times
    length: int
    params: tuple             # (NAME, value) of its scans
    runs: tuple               # the timed runs that succeeded
    failure: str | None       # why it failed at this length, or None
    median: float | None      # seconds the loop took
    low: float | None
    high: float | None
    wall: float | None        # median seconds of the whole process
    peak: int | None          # the largest resident bytes of any run
    peak_of: str              # "tree" or "process"
    ratios: tuple             # per-repeat speedups over the baseline
    speedup: float | None
    speedup_low: float | None   # its 95 % interval
    speedup_high: float | None
    coverage: float | None    # what that interval reaches, 0.95 or more with 6 repeats
    clusters: bool            # its times fall into two clusters
    coarse: bool              # its printed times are too short for their digits
    ceiling: float | None     # bytes/s its nodes read with all their CPUs here
    impossible: bool          # faster than the machine can be
    verdict: str | None       # its result's class here
    farthest: object          # the run whose result is farthest from the exact value
    exact: float | None

    @property
    def vectors(self):
        return vector_bytes(self.length)

    @property
    def budget(self):
        """The most memory a run at this length should need."""
        return self.vectors + BUDGET

    @property
    def ns_per_term(self):
        return self.median / self.length * 1e9 if self.median is not None else None

    @property
    def gbs(self):
        return self.vectors / self.median / 1e9 if self.median else None

    @property
    def ceiling_gbs(self):
        return self.ceiling / 1e9 if self.ceiling else None

    @property
    def of_ceiling(self):
        return self.gbs / self.ceiling_gbs if self.gbs and self.ceiling else None

    @property
    def wide(self):
        return self.speedup is not None and stats.is_wide(
            self.speedup_low, self.speedup, self.speedup_high)

    @property
    def noisy(self):
        return not self.baseline and (self.wide or self.clusters or self.coarse)

    @property
    def relative_error(self):
        if self.farthest is None:
            return None
        return verdict.relative(abs(self.farthest.result - self.exact), self.exact)


def coarse(runs):
    """Whether the printed times resolve the loop too roughly to compare:
    more repeats cannot help, more printed digits can."""
    if not runs:
        return False
    middle = statistics.median(r.seconds for r in runs)
    return middle == 0 or statistics.median(r.time_half_unit for r in runs) > COARSE * middle


def role(runs, program):
    return "reference" if program == runs.reference else "candidate"


def summary(runs, program, n):
    own = tuple(r for r in runs.of(program, n) if not r.failure)
    failure = next((r.failure for r in runs.runs
                    if r.program == program and r.length == n and r.failure), None)
    times = [r.seconds for r in own]
    ratios = tuple(speedups([r for r in runs.of(runs.baseline, n) if not r.failure], own)) \
        if not failure else ()
    low = high = coverage = None
    if ratios:
        low, high, coverage = stats.median_interval(ratios)
    ceiling = max(ceiling_rates(runs, n).values(), default=None)
    if ceiling:  # measured on the sweep's node: each node the program runs on reads as fast
        ceiling *= launchers.nodes(runs.launches.get(program))
    impossible = bool(own and ceiling) and vector_bytes(n) / statistics.median(
        r.seconds + r.time_half_unit for r in own) > IMPOSSIBLE * ceiling
    klass, farthest = judged(runs, program, n, "timed")
    return Summary(
        program, role(runs, program), program == runs.baseline, n, runs.params.get(program, ()), own, failure,
        statistics.median(times) if own else None, min(times, default=None),
        max(times, default=None), statistics.median(r.wall for r in own) if own else None,
        max((r.peak for r in own), default=None),
        "tree" if any(r.peak_of == "tree" for r in own) else "process",
        ratios, statistics.median(ratios) if ratios else None, low, high, coverage,
        stats.two_clusters(times), coarse(own), ceiling, impossible, klass, farthest, runs.exact.get(n))


@dataclass(frozen=True)
class Model:
    runs: object
    summaries: tuple          # by length, then program in turn order
    probes: dict              # (program, probe length) -> class
    verdicts: dict            # candidate -> the line that says it is wrong, or None

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

    def ceilings(self, n):
        """(threads, best seconds, where 8·N bytes fit) per calibration at n."""
        level = fits_in(self.runs.machine.get("caches", []), vector_bytes(n))
        return [(c.threads, c.seconds, level) for c in self.runs.ceilings
                if c.length == n and c.seconds > 0]

    @property
    def calibration_seconds(self):
        return sum(c.wall for c in self.runs.ceilings)

    def noise_floor(self, n):
        times = [r.seconds for r in self.runs.of(self.runs.baseline, n) if not r.failure]
        return stats.noise_floor(times)

    @property
    def wrong(self):
        return [line for line in self.verdicts.values() if line]

    @property
    def impossible(self):
        return [s for s in self.summaries if s.impossible]

    @property
    def failures(self):
        return [s for s in self.summaries if s.failure]

    @property
    def noisy(self):
        return [s for s in self.summaries if s.noisy]

    def status(self):
        """1 if any candidate is wrong or impossibly fast, or any run failed."""
        failed = any(r.failure for r in self.runs.runs)
        return 1 if self.wrong or self.impossible or failed else 0


def candidate_verdict(runs, program):
    """The line that says why program is wrong, from the length where its
    result lies farthest beyond float rounding, or None."""
    worst = None
    for n, kind in [(n, "timed") for n in runs.lengths] + [(n, PROBE) for n in runs.probes]:
        klass, farthest = judged(runs, program, n, kind)
        if klass != verdict.WRONG:
            continue
        exact = runs.exact[n]
        excess = abs(farthest.result - exact) / verdict.float_bound(
            n, farthest.result, exact, farthest.result_half_unit, runs.tolerance)
        if worst is None or excess > worst[0]:
            worst = (excess, verdict.evidence(program, n, farthest.result_text, exact,
                                              farthest.result_half_unit, runs.tolerance))
    return worst[1] if worst else None


def model(runs):
    summaries = tuple(summary(runs, p, n) for n in runs.lengths for p in runs.programs)
    candidates = [p for p in runs.programs if p != runs.reference]
    probes = {(p, n): judged(runs, p, n, PROBE)[0] for p in candidates for n in runs.probes}
    verdicts = {p: candidate_verdict(runs, p) for p in candidates}
    return Model(runs, summaries, probes, verdicts)


def scaling(model):
    """For each candidate scanned over one parameter: (family, name,
    [(value, speedup over the first value, efficiency)]) per length."""
    families = {}
    for label, params in model.runs.params.items():
        if len(params) == 1:
            families.setdefault(model.runs.families[label], []).append((label, params[0]))
    tables = []
    for family, members in families.items():
        name = members[0][1][0]
        for n in model.lengths:
            medians = {label: s.median for s in model.at(n) for label, _ in members
                       if s.program == label}
            first_label, (_, first) = members[0]
            rows = []
            for label, (_, value) in members:
                base, this = medians.get(first_label), medians.get(label)
                speedup = base / this if base and this else None
                efficiency = None
                try:
                    efficiency = speedup / (float(value) / float(first)) if speedup else None
                except (ValueError, ZeroDivisionError):
                    pass
                rows.append((value, speedup, efficiency))
            tables.append((family, name, n, rows))
    return tables
