# SPDX-License-Identifier: MIT
"""Several saved sweeps in the order given, as one history: per program
and length, one point per run with its 95 % interval, the provenance of
each run (its commit, date and version, as the sweep recorded them), and
the changes of level found in each series (changepoints.py), each put
down to the code or to the machine. Pure functions of the models."""

import math
import statistics
from dataclasses import dataclass, field

from . import changepoints, load, stats
from .differences import files_changed, recorded_files, short_commit
from ..facts.runs import TIMED

SPEEDUP, TIME = "speedup", "time"  # what a series' values are
# What a change is put down to: a new commit or command, or the machine,
# where the program ran from the same commit as the same command; None
# where a run recorded no commit.
CODE, MACHINE = "code", "machine"


@dataclass(frozen=True)
class Provenance:
    """One run of the history, as its sweep recorded it."""
    name: str             # the file it was read from, as given
    commit: str | None    # of what was timed, not of the sweep
    date: str | None      # UTC, ISO 8601
    version: str | None
    machine: dict
    commands: dict = field(default_factory=dict)  # label -> its command (argv and environment), as recorded
    dirty: bool | None = None  # whether its tree had changes not committed

    @property
    def short_commit(self):
        return short_commit(self.commit, self.dirty)


@dataclass(frozen=True)
class Point:
    run: int              # which run, from 0, in the order given
    value: float | None   # speedup over the baseline, or ns per term; None where it failed
    low: float | None     # its 95 % interval, or as near as the repeats reach
    high: float | None
    failure: str | None = None


@dataclass(frozen=True)
class Change:
    run: int              # the first run at the new level
    factor: float         # new time over old: 2 is twice as slow, 0.5 twice as fast
    before: float         # the levels either side, in the series' values
    after: float
    cause: str | None = None  # CODE, MACHINE, or None: cannot tell
    one_run: bool = False     # a change of this run alone: back at the next, or the last
    back: int | None = None   # for one run's change, the run back at the level, if any
    loaded: bool = False      # its run began beside more work than the others
    previous: int | None = None  # for one run's change, the run it is measured from


@dataclass(frozen=True)
class Series:
    program: str
    length: int
    measure: str          # SPEEDUP over baseline (drift-free), or TIME (ns per term)
    baseline: str | None
    points: tuple         # Point, in run order: only the runs that timed it
    changes: tuple        # Change, in run order
    levels: tuple = ()    # (first run, last run, level) of each segment between changes


@dataclass(frozen=True)
class History:
    runs: tuple           # Provenance, in the order given
    series: tuple         # Series, by program in order of appearance, then length
    models: tuple         # each run's model, in the same order


def commands(model):
    """{label: (argv, environment, files)} of every program the run
    recorded; files: (path, SHA-256) pairs, or None where the run recorded
    none (before 1.8.0) or they are not a map of texts."""
    recorded = model.runs.setup.get("programs", {}) if model.runs else {}
    found = [recorded.get("reference"), *(recorded.get("candidates") or [])]
    files = recorded_files(model.runs)
    return {c["label"]: (tuple(c.get("argv") or ()), tuple(sorted((c.get("env") or {}).items())),
                         files.get(c["label"]))
            for c in found if isinstance(c, dict) and "label" in c}


def provenance(model, name):
    host = model.machine
    return Provenance(name, host.get("candidate_commit"), host.get("date"), host.get("version"),
                      dict(host), commands(model), host.get("candidate_dirty"))


def cause(runs, before, after, programs):
    """What moved programs' times between runs before and after (indexes
    in runs): CODE where a command or a program's files differ; MACHINE
    where each program ran as the same command from the same files (their
    SHA-256), whatever the commit, so that the same program ran. Where a
    run recorded no files: CODE where the commit differs, else None."""
    a, b = runs[before], runs[after]
    mine, theirs = ([r.commands.get(p) or ((), (), None) for p in programs] for r in (a, b))
    if any(x[:2] != y[:2] for x, y in zip(mine, theirs)):
        return CODE
    changed = [files_changed(x[2], y[2]) for x, y in zip(mine, theirs)]
    if any(changed):
        return CODE
    if None not in changed:
        return MACHINE
    return CODE if a.commit and b.commit and a.commit != b.commit else None


def one_run_cause(runs, before, at, after, programs):
    """(cause, loaded) of a change of run at alone: the machine's where that
    run began beside more work than the others and its programs ran from
    the same files in a run either side, at the level it left; else what
    changed from the run before."""
    loaded = load.stands_out([r.machine for r in runs], at)
    sides = [cause(runs, at, other, programs) for other in (before, after) if other is not None]
    if loaded and MACHINE in sides:
        return MACHINE, True
    return cause(runs, before, at, programs), loaded


def time_point(model, k, program, n):
    """ns per term: the median of the loop's times, with the median's
    interval from the order statistics of the repeats."""
    own = [r.seconds for r in model.runs.of(program, n, TIMED) if not r.failure]
    s = next(s for s in model.of(program) if s.length == n)
    if not own or s.failure or statistics.median(own) <= 0:
        return Point(k, None, None, None, s.failure or "no time above 0")
    low, high, _ = stats.median_interval(own)
    per_term = 1e9 / n
    return Point(k, statistics.median(own) * per_term, low * per_term, high * per_term)


def speedup_point(model, k, program, n):
    s = next(s for s in model.of(program) if s.length == n)
    if s.speedup is None:
        return Point(k, None, None, None, s.failure or "no speedup")
    return Point(k, s.speedup, s.speedup_low, s.speedup_high)


def keys(models):
    """(program, length) of every row any run has, programs in order of
    appearance, lengths ascending."""
    programs = list(dict.fromkeys(p for m in models for p in m.programs))
    lengths = sorted({n for m in models for n in m.lengths})
    return [(p, n) for p in programs for n in lengths
            if any(s.program == p and s.length == n for m in models for s in m.summaries)]


def measure_of(models, program, n):
    """SPEEDUP where every run that timed program at n took its speedup
    over the same other program: that ratio of runs made in turn is free
    of the machine's drift between sweeps. Else TIME."""
    rows = [(m, s) for m in models for s in m.summaries if s.program == program and s.length == n]
    baselines = {m.baseline for m, _ in rows}
    if len(baselines) == 1 and program not in baselines and all(
            s.speedup is not None for _, s in rows):
        return SPEEDUP, baselines.pop()
    return TIME, None


def slower(measure, value):
    """The series' value as a time, in logarithms: a speedup inverted."""
    return -math.log(value) if measure == SPEEDUP else math.log(value)


def interval(measure, p):
    """A point's interval as the logarithms of a time, low first, or None."""
    if not (p.low and p.high):
        return None
    return tuple(sorted((slower(measure, p.low), slower(measure, p.high))))


def one_run_changes(measure, timed, logs, runs, programs):
    """The Changes of one run alone, and the indexes in timed of the others."""
    found = changepoints.one_run_changes(logs, [interval(measure, p) for p in timed])
    steady = [i for i in range(len(timed)) if i not in found]
    changes = []
    for k in found:
        before = max(i for i in steady if i < k)
        after = min((i for i in steady if i > k), default=None)
        at = timed[k].run
        why, loaded = one_run_cause(runs, timed[before].run, at,
                                    None if after is None else timed[after].run, programs)
        changes.append(Change(at, math.exp(logs[k] - logs[before]), timed[before].value,
                              timed[k].value, why, True,
                              None if after is None else timed[after].run, loaded,
                              timed[before].run))
    return changes, steady


def series(models, program, n, runs):
    measure, baseline = measure_of(models, program, n)
    point = speedup_point if measure == SPEEDUP else time_point
    points = tuple(point(m, k, program, n) for k, m in enumerate(models)
                   if any(s.program == program and s.length == n for s in m.summaries))
    every = [p for p in points if p.value]
    # A speedup moves with its baseline's command as much as with its own.
    programs = (program, baseline) if baseline else (program,)
    logs = [slower(measure, p.value) for p in every]
    alone, steady = one_run_changes(measure, every, logs, runs, programs)
    timed, logs = [every[i] for i in steady], [logs[i] for i in steady]
    starts = changepoints.changes(logs)
    bounds = [0, *starts, len(timed)]
    means = changepoints.levels(logs, starts) if timed else []
    # Back from logarithms of a time to the series' own values.
    level = [math.exp(-m if measure == SPEEDUP else m) for m in means]
    hosts = [r.machine for r in runs]
    changes = [Change(timed[s].run, math.exp(b - a), level[i], level[i + 1],
                      cause(runs, timed[s - 1].run, timed[s].run, programs),
                      loaded=load.stands_out(hosts, timed[s].run))
               for i, (s, a, b) in enumerate(zip(starts, means, means[1:]))]
    levels = tuple((timed[a].run, timed[b - 1].run, v)
                   for a, b, v in zip(bounds, bounds[1:], level))
    return Series(program, n, measure, baseline, points,
                  tuple(sorted(changes + alone, key=lambda c: c.run)), levels)


def history(models, names):
    """The History of models (each a model.Model of one saved run) in the
    order given; names: the files they were read from."""
    models = tuple(models)
    runs = tuple(provenance(m, name) for m, name in zip(models, names))
    return History(runs, tuple(series(models, p, n, runs) for p, n in keys(models)), models)
