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


def measured(made):
    """(summary, {metric: (value, low, high)}) per program and length, in
    the table's order, with only the finite figures; rows with none left
    out: a failed row has nothing to track."""
    rows = []
    for s in made.summaries:
        found = {m: f for m in METRICS for f in [m.figure(made, s)]
                 if f is not None and all(v is not None and math.isfinite(v) for v in f)}
        if found:
            rows.append((s, found))
    return rows


def extra(made, s, figures):
    """What the dashboard shows beside a value: the verdict, and each
    figure with its interval."""
    said = [f"verdict: {s.verdict}" if s.verdict else
            "verdict: none, the reference" if s.role == "reference" else "verdict: none"]
    said += ["an impossible time"] if s.impossible else []
    said += [f"{m.slug} {plain(v)} {m.unit} (95 % interval {plain(low)}–{plain(high)})"
             for m, (v, low, high) in figures.items()]
    over = [f"speedup over {made.baseline}"] if any(m.slug == "speedup" for m in figures) else []
    return "; ".join(said + over)


def as_bytes(document):
    # allow_nan=False: a dashboard's strict parser refuses a bare NaN.
    return (json.dumps(document, indent=2, ensure_ascii=False, allow_nan=False) + "\n").encode()


def github_benchmark(made):
    """github-action-benchmark's customSmallerIsBetter: one entry per
    program, length and smaller-is-better metric, with its interval's
    half-width, the larger side, as the range."""
    entries = [{"name": benchmark_name(s) if len(TRACKED) == 1 else
                f"{benchmark_name(s)}, {m.slug}",
                "unit": m.unit, "value": v, "range": f"± {plain(max(high - v, v - low))}",
                "extra": extra(made, s, figures)}
               for s, figures in measured(made)
               for m, (v, low, high) in figures.items() if m in TRACKED]
    return as_bytes(entries)


def bmf(made):
    """Bencher Metric Format: {benchmark: {measure: {value, lower_value,
    upper_value}}}, every metric of every program and length."""
    return as_bytes({benchmark_name(s): {m.slug: {"value": v, "lower_value": low,
                                                  "upper_value": high}
                                         for m, (v, low, high) in figures.items()}
                     for s, figures in measured(made)})
