# SPDX-License-Identifier: MIT
"""The JSON document, a view of the model: what produced the numbers,
every run, and one summary per program and length. Written to a
temporary file beside the destination and renamed into place, so that a
full disk leaves the earlier file whole and two sweeps never interleave."""

import json

from . import launchers
from .messages import SweepError
from .model import scaling
from .safely import replace

SCHEMA = 2


def command(c):
    return {"label": c.label, "argv": list(c.words), "env": dict(c.env),
            "params": dict(c.params), "given": c.shown}


def launched(s, runs):
    """What the launcher was asked for, and the ranks' memory."""
    launch, ranks = runs.launches.get(s.program), None
    if launch and launch.launcher != launchers.NONE and s.runs:
        ranks = launchers.memory([r.rank_peaks for r in s.runs])
    return {"launch": launch and launchers.facts(launch, runs.machine.get("online_cpus")),
            "rank_memory": ranks and {"total_bytes": ranks[0], "largest_rank_bytes": ranks[1]}}


def summary(s, runs):
    return {"program": s.program, "role": s.role, "baseline": s.baseline, "length": s.length, "params": dict(s.params),
            "failure": s.failure, "repeats": len(s.runs), "time": s.median, "time_min": s.low,
            "time_max": s.high, "wall": s.wall, "peak_bytes": s.peak, "peak_of": s.peak_of,
            "speedup": s.speedup, "speedup_low": s.speedup_low,
            "speedup_high": s.speedup_high, "interval_coverage": s.coverage,
            "noisy": s.noisy, "two_clusters": s.clusters, "coarse": s.coarse, "gbs": s.gbs,
            "ceiling_gbs": s.ceiling_gbs, "impossible": s.impossible,
            "result": s.farthest.result_text if s.farthest else None,
            "relative_error": s.relative_error, "verdict": s.verdict, **launched(s, runs)}


def run(r):
    return {"program": r.program, "length": r.length, "repeat": r.repeat, "kind": r.kind,
            "time": r.seconds if r.time_text else None, "wall": r.wall, "peak_bytes": r.peak,
            "peak_of": r.peak_of, "rank_peaks_bytes": r.rank_peaks and list(r.rank_peaks),
            "result": r.result_text, "failure": r.failure}


def document(model, config):
    runs = model.runs
    return {
        "schema": SCHEMA,
        "arguments": list(config.argv),
        "machine": runs.machine,
        "programs": {"reference": command(config.reference), "baseline": runs.baseline,
                     "candidates": [command(c) for c in config.candidates],
                     "exact": command(config.exact) if config.exact else None,
                     "ceiling": command(config.ceiling) if config.ceiling else None},
        "lengths": [{"length": n, "exact": runs.exact.get(n), "noise_floor": model.noise_floor(n),
                     "ceilings": [{"threads": t, "seconds": sec, "fits_in": level}
                                  for t, sec, level in model.ceilings(n)]}
                    for n in runs.lengths],
        "probes": [{"program": p, "length": n, "verdict": model.probes[(p, n)]}
                   for p in model.candidates for n in runs.probes],
        "verdicts": [{"program": p, "wrong": bool(line), "reason": line}
                     for p, line in model.verdicts.items()],
        "scaling": [{"command": family, "param": name, "length": n,
                     "values": [{"value": v, "speedup": sp, "efficiency": e}
                                for v, sp, e in values]}
                    for family, name, n, values in scaling(model)],
        "summary": [summary(s, runs) for s in model.summaries],
        "runs": [run(r) for r in runs.runs],
    }


def write_json(destination, model, config):
    text = json.dumps(document(model, config), indent=1) + "\n"
    try:
        replace(destination.path, text.encode())
    except OSError as error:
        raise SweepError(f"cannot write {destination.shown}: {error.strerror}") from None
