# SPDX-License-Identifier: MIT
"""Every figure of a sweep, computed once from its runs: one Summary per
program and length, each candidate's verdict and the findings behind
it, the ceilings and the scaling of scanned commands. The lines a person
reads are made from them in views/prose; the table, the JSON and the plot
only show them. Pure functions: nothing here starts a process."""

from dataclasses import dataclass

from . import beyond, ceilings, evidence, flags, gate, verdict
from .flags import peers
from ..facts.runs import NOT_RUN, PROBE, TIMED
from .summaries import Judgements, noise_floor, summary


@dataclass(frozen=True)
class Scaling:
    """One scanned command at one length: (value, speedup over the first
    value, efficiency) per value."""
    family: str
    name: str
    length: int
    rows: tuple


@dataclass(frozen=True)
class Answer:
    """One candidate in one line: how it compares with the baseline at the
    longest length it has a speedup at, how right it is, and how near the
    machine's ceiling it comes at best."""
    program: str
    verdict: str              # "wrong", "failed", or its weakest class at the lengths
    length: int | None = None  # that length, or None where it has no speedup
    answer: str | None = None  # "faster", "slower", "the same speed", "cannot tell" or "baseline"
    factor: float | None = None  # times faster or slower; the speedup itself otherwise
    factor_low: float | None = None  # its 95 % interval
    factor_high: float | None = None
    share: float | None = None  # its best share of a ceiling
    share_low: float | None = None  # its 95 % interval, where the ceiling ran in the rounds
    share_high: float | None = None
    share_threads: int | None = None
    share_length: int | None = None
    share_pass: int | None = None  # that share is of a first or second pass's ceiling
    threads_counted: bool = False  # held to more threads than its command declares
    threads_from: str | None = None  # what showed them (threads.WITNESSED, ...)
    best_share: float | None = None  # a higher share at another length, and that length
    best_length: int | None = None
    why_none: str | None = None  # no speedup, as a time of 0 gave none: "own" or "baseline"
    hides: tuple = ()  # within float rounding: (length, the loss no check can tell there)
    sharp: tuple = ()  # and (the longest length that tells a loss over SHARP, the loss)
    # Why the factor is not an answer: ONE_ROUND (no interval) or SPREAD
    # (an interval wider than a factor of 2); None where it is.
    unsure: str | None = None
    # (flag kind, the first length) of the evidence that it did not do the
    # stated work: flags.NO_VECTORS, flags.REPLAYED.
    suspect: tuple = ()


# An interval wider than this factor says how fast a program is too
# loosely to be an answer: it is said as one that cannot tell.
SPREAD_FACTOR = 2
ONE_ROUND, SPREAD = "one round", "spread"


def answer(s):
    """(answer, factor, low, high) for summary s: faster or slower with
    the whole interval, the same speed within ±10 %, else cannot tell."""
    if s.speedup_low > 1:
        return "faster", s.speedup, s.speedup_low, s.speedup_high
    if s.speedup_high < 1:
        return "slower", 1 / s.speedup, 1 / s.speedup_high, 1 / s.speedup_low
    return ("cannot tell" if s.wide else "the same speed"), s.speedup, s.speedup_low, \
        s.speedup_high


def unsure(s):
    """Why row s's factor is no answer, or None where it is one."""
    if len(s.ratios) < 2:
        return ONE_ROUND
    return SPREAD if s.speedup_high > SPREAD_FACTOR * s.speedup_low else None


# A length whose check tells a loss of this much of the exact value is
# where a version that float rounding hides at a longer one can be shown.
SHARP = 0.005


def limits(summaries, klass):
    """Where a candidate is only within float rounding, how much that
    hides, and the longest length that hides less than SHARP."""
    if klass != verdict.FLOAT:
        return {}
    hiding = [s for s in summaries if s.verdict == verdict.FLOAT and s.hidden is not None]
    sharp = [s for s in summaries if s.hidden is not None and s.hidden <= SHARP]
    if not hiding:
        return {}
    worst = max(hiding, key=lambda s: s.hidden)
    best = max(sharp, key=lambda s: s.length, default=None)
    return {"hides": (worst.length, worst.hidden),
            "sharp": (best.length, best.hidden) if best and best.length < worst.length else ()}


def answer_of(program, summaries, standing):
    timed = [s for s in summaries if s.speedup is not None]
    klasses = [s.verdict for s in summaries if s.verdict]
    klass = standing if standing != "ok" else verdict.worst(klasses) if klasses else "n/a"
    said = {"program": program, "verdict": klass, **limits(summaries, klass),
            **shares(summaries, max(timed, key=lambda s: s.length, default=None)),
            "suspect": suspects(summaries)}
    if not timed:
        # Only a time of 0 flags a row that has no speedup (flags.zero_flags).
        return Answer(**said, why_none="own" if any(s.zero_time for s in summaries) else
                      "baseline" if any(s.flags for s in summaries) else None)
    if any(s.baseline for s in summaries):  # 1 by definition: not an answer
        return Answer(**said, answer="baseline")
    last = max(timed, key=lambda s: s.length)
    word, factor, low, high = answer(last)
    return Answer(**said, length=last.length, answer=word, factor=factor, factor_low=low,
                  factor_high=high, unsure=unsure(last))


def suspects(summaries):
    """(kind, first length) of each flag that says a candidate did not do
    the stated work."""
    found = {}
    for s in sorted(summaries, key=lambda s: s.length):
        for f in s.flags:
            if f.kind in flags.NOT_STATED:
                found.setdefault(f.kind, s.length)
    return tuple(found.items())


def shares(summaries, last):
    """The share at last, the row the answer is taken at (or, without one,
    the best), and a higher one at another length. A coarse or impossible
    time's rate is not to be believed."""
    shared = [s for s in summaries if s.share is not None]
    shared = [s for s in shared if not (s.coarse or s.impossible)] or shared
    best = max(shared, key=lambda s: s.share, default=None)
    at = next((s for s in shared if last is not None and s.length == last.length), best)
    if at is None:
        return {}
    found = {"share": at.share, "share_low": at.share_low, "share_high": at.share_high,
             "share_threads": at.share_threads, "share_length": at.length,
             "share_pass": at.share_pass, "threads_counted": at.counted,
             "threads_from": at.threads_from}
    if best.length != at.length and best.share > at.share:
        found.update(best_share=best.share, best_length=best.length)
    return found


@dataclass(frozen=True)
class Failure:
    """One program's failures for one reason: the lengths, in order."""
    program: str          # as the user named it
    threads: int | None   # the ceiling's threads; None for a timed program
    reason: str
    lengths: tuple


@dataclass(frozen=True)
class Unchecked:
    """Lengths whose speeds could not be held against a ceiling, and why."""
    lengths: tuple
    ceiling: str          # the ceiling program as named
    failure: str | None   # what its first failure said
    ran: bool             # whether it ran at any of those lengths
    stopped: bool = False  # whether the sweep was stopped before its end


@dataclass(frozen=True)
class Model:
    runs: object              # the raw facts it was computed from (runs.Runs)
    summaries: tuple          # by length, then program in turn order
    programs: tuple           # labels in turn order
    reference: str
    baseline: str
    candidates: tuple         # labels in turn order
    lengths: tuple
    probe_lengths: tuple
    exact: dict               # length -> exact value
    noise_floors: dict        # length -> the baseline's noise floor, or None
    ceilings: dict            # length -> (ceilings.CeilingRow, ...)
    calibration_seconds: float  # the ceiling's runs once before the rounds (before 1.5.0)
    ceiling_seconds: float    # the ceiling's runs in the rounds
    budget: float | None      # the seconds the sweep was given to adapt its rounds to
    spent: float | None       # the seconds it took
    short: dict               # length -> the rounds the budget held, fewer than planned
    probe_verdicts: dict      # (candidate, probe length) -> class
    standing: dict            # candidate -> "wrong", "impossible", "failed", "not checked ..." or "ok"
    wrong: tuple              # evidence.Finding: why each wrong candidate is wrong
    failures: tuple           # Failure
    unchecked: Unchecked | None  # where candidates' speeds could not be checked
    stopped: str | None       # what ended the sweep early
    scaling: tuple            # Scaling
    answers: tuple            # Answer, per candidate in turn order
    machine: dict
    status: int               # what the sweep exits with
    slower: tuple = ()        # the candidates' rows beyond fail_above
    unsure: tuple = ()        # (row, why) of those the gate cannot tell
    fail_above: float | None = None  # the gate of two builds in one sweep
    unwitnessed: tuple = ()   # candidates no witness held for, where it held for others

    def at(self, n):
        return [s for s in self.summaries if s.length == n]

    def of(self, program):
        return [s for s in self.summaries if s.program == program]

    @property
    def noisy(self):
        return [s for s in self.summaries if s.noisy]

    @property
    def impossible(self):
        return [s for s in self.summaries if s.impossible]


def beyond_float(runs, program, judge):
    """The finding of the rigorous bound at the length where program's
    result lies farthest beyond float rounding, or None."""
    worst = None
    for n, kind in [(n, TIMED) for n in runs.lengths] + [(n, PROBE) for n in runs.probe_lengths]:
        klass, farthest = judge(program, n, kind)
        if klass != verdict.WRONG:
            continue
        exact, r = runs.exact[n], farthest
        bound = verdict.float_bound(n, r.result, exact, r.result_half_unit, runs.tolerance)
        if abs(r.result - exact) > bound and (worst is None or
                                               abs(r.result - exact) / bound > worst[0]):
            rule = evidence.TOO_FEW_DECIMALS if verdict.too_few_decimals(
                n, r.result, exact, r.result_half_unit, runs.tolerance) else evidence.BEYOND_FLOAT
            worst = (abs(r.result - exact) / bound, evidence.Finding(
                rule, program, n, exact, r.result_text, allowed=bound))
    return worst and worst[1]


def standing(wrong, impossible, failed, unchecked=()):
    """A candidate's word in the probe table: what was not checked is said,
    never passed as ok."""
    if wrong or impossible or failed:
        return "wrong" if wrong else "impossible" if impossible else "failed"
    if unchecked:
        return f"not checked at N={', '.join(map(str, unchecked))}"
    return "ok"


def failures(runs):
    """Each program's failures, one per reason: runs left out after a
    time-out are said by the time-out's own. The ceiling's too."""
    seen = {}
    for r in runs.runs:
        if r.failure and not r.failure.startswith(NOT_RUN):
            seen.setdefault((runs.shown.get(r.program, r.program), None, r.failure),
                            []).append(r.length)
    for c in runs.ceilings:
        if c.failure:
            seen.setdefault((ceiling_name(runs), c.threads, c.failure), []).append(c.length)
    return tuple(Failure(*key, tuple(dict.fromkeys(lengths))) for key, lengths in seen.items())


def ceiling_name(runs):
    """The ceiling program as the user named it, or by its own name."""
    ceiling = runs.setup.get("programs", {}).get("ceiling")
    return (ceiling or {}).get("given") or "dotprod-ceiling"


def unchecked(runs, candidates):
    """Where candidates ran at a length with no ceiling, and why."""
    missing = [n for n in measured_lengths(runs) if candidates and not ceilings.rates(runs, n)]
    if not missing:
        return None
    there = [c for c in runs.ceilings if c.length in missing]
    return Unchecked(tuple(missing), ceiling_name(runs),
                     next((c.failure for c in there if c.failure), None), bool(there),
                     bool(runs.stopped))


def efficiency(speedup, value, first):
    """Speedup over the ideal for value against the first: value/first."""
    try:
        return speedup / (float(value) / float(first)) if speedup else None
    except (ValueError, ZeroDivisionError):
        return None


def scaling(runs, summaries):
    """For each candidate scanned over one parameter, per length."""
    families = {}
    for label, params in runs.params.items():
        if len(params) == 1:
            families.setdefault(runs.families[label], []).append((label, params[0][1]))
    medians = {(s.program, s.length): s.median for s in summaries}
    tables = []
    for family, members in families.items():
        name = runs.params[members[0][0]][0][0]
        first_label, first = members[0]
        for n in measured_lengths(runs):
            rows = []
            for label, value in members:
                base, this = medians.get((first_label, n)), medians.get((label, n))
                speedup = base / this if base and this else None
                rows.append((value, speedup, efficiency(speedup, value, first)))
            tables.append(Scaling(family, name, n, tuple(rows)))
    return tuple(tables)


def measured_lengths(runs):
    """The lengths asked for that were reached: a sweep stopped early has
    no rows for the rest."""
    reached = runs.reached()
    return tuple(n for n in runs.lengths if n in reached)


def verdicts(runs, found, judge, summaries):
    """(probe verdicts, why each wrong candidate is wrong, each candidate's
    standing), from found: {candidate: its evidence findings}."""
    probes = {(p, n): judge(p, n, PROBE)[0] for p in found for n in runs.probe_lengths}
    wrong = {p: evidence.deciding(found[p] + [f for f in [beyond_float(runs, p, judge)] if f])
             for p in found}
    # Not the stated work fails a candidate as a failed run does.
    failed = {r.program for r in runs.runs if r.failure} | \
        {s.program for s in summaries if s.not_stated}
    too_fast = {s.program for s in summaries if s.impossible}
    standings = {p: standing(wrong[p], p in too_fast, p in failed,
                             [n for n in runs.probe_lengths if probes[(p, n)] is None])
                 for p in found}
    return probes, tuple(f for f in wrong.values() if f), standings


def model(runs, fail_above=None):
    """The figures of runs; fail_above: a slowdown beyond it, as a fraction,
    of a candidate against the baseline ends the sweep with status 3, and
    an interval that reaches past it with status 4 (figures/gate)."""
    lengths = measured_lengths(runs)
    candidates = tuple(p for p in runs.programs if p != runs.reference)
    printed = evidence.results(runs)
    found = {p: evidence.findings(runs, p, printed.get(p, {})) for p in candidates}
    judge = Judgements(runs, {p: {f.length for f in found[p]} for p in candidates})
    others = {n: peers(runs, n) for n in lengths}
    summaries = beyond.flagged(tuple(summary(runs, p, n, judge, others[n]) for n in lengths
                                     for p in runs.programs), runs)
    probes, wrong, standings = verdicts(runs, found, judge, summaries)
    answers = tuple(answer_of(p, [s for s in summaries if s.program == p], standings[p])
                    for p in candidates)
    slower, unsure = gate.outcome(summaries, fail_above)
    status = 1 if wrong or any(s.impossible for s in summaries) or \
        any(s.not_stated for s in summaries) or \
        any(r.failure for r in runs.runs) or any(c.failure for c in runs.ceilings) or \
        runs.stopped else 3 if slower else 4 if unsure else 0
    return Model(
        runs=runs, summaries=summaries, programs=tuple(runs.programs), reference=runs.reference,
        baseline=runs.baseline, candidates=candidates, lengths=lengths,
        probe_lengths=tuple(runs.probe_lengths), exact=dict(runs.exact),
        noise_floors={n: noise_floor(runs, n) for n in lengths},
        ceilings={n: ceilings.rows(runs, n) for n in lengths},
        calibration_seconds=sum(c.wall for c in runs.ceilings if c.repeat is None),
        ceiling_seconds=sum(c.wall for c in runs.ceilings if c.repeat is not None),
        budget=runs.budget, spent=runs.spent, short=dict(runs.short), probe_verdicts=probes,
        standing=standings, wrong=wrong, failures=failures(runs),
        unchecked=unchecked(runs, candidates), stopped=runs.stopped,
        scaling=scaling(runs, summaries), answers=answers, machine=dict(runs.machine),
        slower=slower, unsure=unsure, fail_above=fail_above, status=status,
        unwitnessed=unwitnessed(runs, candidates))


def unwitnessed(runs, candidates):
    """The candidates whose every timed run went without a witness, in a
    sweep where it held for some run: it could not load into them."""
    seen = {r.program for r in runs.runs if r.thread_cpu is not None}
    return tuple(p for p in candidates if seen and p not in seen and runs.of_any(p))
