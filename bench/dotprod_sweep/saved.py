# SPDX-License-Identifier: MIT
"""A sweep's raw facts as plain data, and back: what the JSON holds so
that a saved run loads into the same Runs, and so into the same model,
the same table and the same plot."""

import dataclasses
import json
import math

from . import launchers
from .runs import Ceiling, Run, Runs

SCHEMA = 3


class LoadError(Exception):
    """A file that is not a saved run this sweep reads: one line, status 2."""


def run_facts(r):
    return {"program": r.program, "length": r.length, "repeat": r.repeat, "kind": r.kind,
            "time": r.seconds if r.time_text else None, "time_text": r.time_text,
            "wall": r.wall, "peak_bytes": r.peak, "peak_of": r.peak_of,
            "rank_peaks_bytes": r.rank_peaks and list(r.rank_peaks),
            "result": r.result_text, "failure": r.failure, "cpu": r.cpu}


def facts(runs):
    """Everything the model is computed from, as JSON's types."""
    return {
        "schema": SCHEMA,
        "arguments": list(runs.setup.get("arguments", [])),
        "programs": runs.setup.get("programs", {}),
        "machine": runs.machine,
        "sweep": {"programs": list(runs.programs), "reference": runs.reference,
                  "baseline": runs.baseline, "lengths": list(runs.lengths),
                  "probe_lengths": list(runs.probe_lengths), "tolerance": runs.tolerance,
                  "params": {k: [list(p) for p in v] for k, v in runs.params.items()},
                  "families": dict(runs.families), "shown": dict(runs.shown),
                  "stopped": runs.stopped, "seed": runs.seed, "budget": runs.budget,
                  "spent": runs.spent, "short": [{"length": n, "rounds": r}
                                                 for n, r in runs.short.items()],
                  "launches": {k: dataclasses.asdict(v) for k, v in runs.launches.items()}},
        "exact": [{"length": n, "value": v} for n, v in runs.exact.items()],
        "orders": [{"length": n, "low": low, "high": high}
                   for n, (low, high) in runs.orders.items()],
        "ceiling_runs": [{"length": c.length, "threads": c.threads, "seconds": c.seconds,
                          "wall": c.wall, "failure": c.failure, "first_seconds": c.first,
                          "second_seconds": c.second, "repeat": c.repeat}
                         for c in runs.ceilings],
        "runs": [run_facts(r) for r in runs.runs],
    }


def run_from(d):
    peaks = d["rank_peaks_bytes"]
    return Run(d["program"], d["length"], d["repeat"], d["kind"], d["wall"], d["peak_bytes"],
               d["peak_of"], d["result"], d["time_text"], d["failure"],
               tuple(peaks) if peaks is not None else None,
               d.get("cpu"))  # runs saved before 1.5.0 have no processor time


def pass_seconds(value):
    """A ceiling's pass time as saved: null where it said none, else
    seconds above 0."""
    if value is not None and (isinstance(value, bool) or not isinstance(value, (int, float))
                              or not 0 < value < math.inf):
        raise ValueError(f"no pass time: {value!r}")
    return value


def runs_from(document):
    sweep = document["sweep"]
    return Runs(
        programs=tuple(sweep["programs"]), reference=sweep["reference"],
        baseline=sweep["baseline"], lengths=tuple(sweep["lengths"]),
        probe_lengths=tuple(sweep["probe_lengths"]), tolerance=sweep["tolerance"],
        runs=[run_from(r) for r in document["runs"]],
        exact={e["length"]: e["value"] for e in document["exact"]},
        orders={o["length"]: (o["low"], o["high"]) for o in document["orders"]},
        # Runs saved before they were measured have no pass times.
        ceilings=[Ceiling(c["length"], c["threads"], c["seconds"], c["wall"], c["failure"],
                          pass_seconds(c.get("first_seconds")),
                          pass_seconds(c.get("second_seconds")), c.get("repeat"))
                  for c in document["ceiling_runs"]],
        params={k: tuple(tuple(p) for p in v) for k, v in sweep["params"].items()},
        families=dict(sweep["families"]), machine=document["machine"],
        shown=dict(sweep["shown"]), stopped=sweep["stopped"], seed=sweep["seed"],
        # Runs saved before 1.5.0 have no budget, time spent or short lengths.
        budget=sweep.get("budget"), spent=sweep.get("spent"),
        short={s["length"]: s["rounds"] for s in sweep.get("short", [])},
        launches={k: launchers.Launch(**v) for k, v in sweep["launches"].items()},
        setup={"arguments": document["arguments"], "programs": document["programs"]})


def load(path, shown=None):
    """The Runs saved in the JSON file at path."""
    shown = shown or path
    try:
        with open(path, "rb") as f:
            document = json.loads(f.read())
    except OSError as error:
        raise LoadError(f"cannot read {shown}: {error.strerror}") from None
    except (ValueError, RecursionError):
        raise LoadError(f"{shown} is not JSON") from None
    if not isinstance(document, dict) or "schema" not in document:
        raise LoadError(f"{shown} is not a run saved by dotprod-sweep")
    if document["schema"] != SCHEMA:
        raise LoadError(f"{shown} holds a run of schema {document['schema']!r}; this "
                        f"dotprod-sweep reads schema {SCHEMA}")
    try:
        return runs_from(document)
    except (KeyError, TypeError, ValueError, AttributeError):
        raise LoadError(f"{shown} is not a whole run saved by dotprod-sweep") from None
