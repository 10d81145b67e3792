# SPDX-License-Identifier: MIT
"""A run for the dashboards that track benchmarks over commits: a
github-action-benchmark customSmallerIsBetter list, and Bencher Metric
Format. Both take their entries from METRICS, one list of figures per
program and length, so that a figure added there reaches both. Each is
a function of the model that returns bytes."""

import json
import math
from dataclasses import dataclass

from ..figures import history
from .formats import length_text, plain


@dataclass(frozen=True)
class Metric:
    slug: str                 # Bencher's measure, in kebab case
    unit: str
    smaller_is_better: bool   # github-action-benchmark's custom list takes only these
    figure: object            # (model, summary) -> (value, low, high), or None


def loop_time(made, s):
    """The loop's median in ns per term, with the median's interval."""
    point = history.time_point(made, 0, s.program, s.length)
    return None if point.value is None else (point.value, point.low, point.high)


def speedup(made, s):
    if s.speedup is None or s.baseline:  # the baseline's own is 1 by definition
        return None
    return (s.speedup, s.speedup_low, s.speedup_high)


METRICS = (Metric("loop-time", "ns/term", True, loop_time),
           Metric("speedup", "x", False, speedup))
TRACKED = tuple(m for m in METRICS if m.smaller_is_better)


def benchmark_name(s):
    return f"{s.program} at N={length_text(s.length)}"


def figures_of(made, s):
    """{metric: (value, low, high)} of a row, with only the finite figures."""
    return {m: f for m in METRICS for f in [m.figure(made, s)]
            if f is not None and all(v is not None and math.isfinite(v) for v in f)}


def unsound(made, s):
    """Why a row's figures are not the program's to plot, or None: it
    failed, its result is wrong, its time impossible, or it did not do
    the stated work. A dashboard would plot them as if they were."""
    standing = made.standing.get(s.program)
    return ("failed" if s.failure else "wrong" if s.verdict == "wrong" or standing == "wrong"
            else "impossible" if s.impossible or standing == "impossible" else
            "not the stated work" if s.not_stated else None)


def measured(made):
    """(summary, {metric: (value, low, high)}) per program and length, in
    the table's order, of the sound rows that have a figure."""
    rows = [(s, figures_of(made, s)) for s in made.summaries if unsound(made, s) is None]
    return [(s, found) for s, found in rows if found]


def left_out(made):
    """The rows that no export has an entry for: unsound(), or without a
    time to plot (a printed time of 0)."""
    kept = {(s.program, s.length) for s, _ in measured(made)}
    return [s for s in made.summaries if (s.program, s.length) not in kept]


def spread(s, low, high):
    """Whether the row's figure has an interval: one round, or times equal
    to their last printed digit, have none, not one of width 0."""
    return s.repeats > 1 and low < high


def tidy(v):
    """A figure to six significant digits, as a dashboard shows it, without
    a float's binary tail (0.32099999999999995)."""
    return float(f"{v:.6g}")


def said(m, s, made, v, low, high):
    over = f" over {made.baseline}" if m.slug == "speedup" else ""
    where = f"95 % interval {plain(low)}–{plain(high)}" if spread(s, low, high) else \
        "one round, no interval" if s.repeats < 2 else "no interval: times equal to their digits"
    return f"{m.slug} {plain(v)} {m.unit}{over} ({where})"


def extra(made, s, figures):
    """What the dashboard shows beside a value: the verdict, and each
    figure with its interval."""
    verdict = "verdict: the reference" if s.role == "reference" else \
        f"verdict: {s.verdict}" if s.verdict else "verdict: none"
    return "; ".join([verdict] + (["an impossible time"] if s.impossible else []) +
                     [said(m, s, made, *f) for m, f in figures.items()])


def as_bytes(document):
    # allow_nan=False: a dashboard's strict parser refuses a bare NaN.
    return (json.dumps(document, indent=2, ensure_ascii=False, allow_nan=False) + "\n").encode()


def github_entry(made, s, figures, m):
    v, low, high = figures[m]
    entry = {"name": benchmark_name(s) if len(TRACKED) == 1 else f"{benchmark_name(s)}, {m.slug}",
             "unit": m.unit, "value": tidy(v)}
    if spread(s, low, high):
        entry["range"] = f"± {plain(max(high - v, v - low))}"
    return {**entry, "extra": extra(made, s, figures)}


def github_benchmark(made):
    """github-action-benchmark's customSmallerIsBetter: one entry per
    program, length and smaller-is-better metric, with its interval's
    half-width, the larger side, as the range where it has one."""
    return as_bytes([github_entry(made, s, figures, m) for s, figures in measured(made)
                     for m in figures if m in TRACKED])


def bmf_measure(s, v, low, high):
    bounds = {"lower_value": tidy(low), "upper_value": tidy(high)} if spread(s, low, high) else {}
    return {"value": tidy(v), **bounds}


def bmf(made):
    """Bencher Metric Format: {benchmark: {measure: {value, lower_value,
    upper_value}}}, every metric of every program and length; the bounds
    only where the figure has an interval."""
    return as_bytes({benchmark_name(s): {m.slug: bmf_measure(s, *f) for m, f in figures.items()}
                     for s, figures in measured(made)})


def refused(made, shown):
    """The line that refuses to export a run that a dashboard must not
    plot as a result, or None: one whose sweep was stopped before its end,
    or that exited 1 (a wrong, impossible or failed version, or a failed
    run), as its model, computed again, says."""
    if made.stopped:
        why = f"was stopped before its end ({made.stopped})"
    elif made.status == 1:
        flawed = [f"{p} {made.standing[p]}" for p in made.candidates
                  if made.standing.get(p) in ("wrong", "impossible", "failed")]
        why = "exited 1" + (f": {', '.join(flawed)}" if flawed else ": a run failed")
    else:
        return None
    return (f"export: the sweep of {shown} {why}; its figures are not a whole run's, and a "
            "dashboard would plot them as one (--allow-failed exports it anyway)")
