# SPDX-License-Identifier: MIT
"""The JSON document, a view of the model: what produced the numbers,
the raw facts every figure comes from (so that it loads back, see
saved), and the figures themselves for the people who read it with
their own scripts. No bare Infinity or NaN: a figure that is not a
number is null."""

import json
import math

from . import launchers, saved



def summary(s, cores):
    return {"program": s.program, "role": s.role, "baseline": s.baseline, "length": s.length,
            "params": dict(s.params), "failure": s.failure, "repeats": s.repeats,
            "time": s.median, "time_min": s.low, "time_max": s.high, "wall": s.wall,
            "peak_bytes": s.peak, "peak_of": s.peak_of, "speedup": s.speedup,
            "speedup_low": s.speedup_low, "speedup_high": s.speedup_high,
            "interval_coverage": s.coverage, "noisy": s.noisy, "two_clusters": s.clusters,
            "coarse": s.coarse, "gbs": s.gbs, "ceiling_gbs": s.ceiling_gbs,
            "impossible": s.impossible, "result": s.result,
            "relative_error": s.relative_error, "verdict": s.verdict,
            "launch": s.launch and launchers.facts(s.launch, cores, s.oversubscribed),
            "rank_memory": s.rank_memory and {"total_bytes": s.rank_memory[0],
                                              "largest_rank_bytes": s.rank_memory[1]},
            "own_noise": s.own_noise, "share": s.share, "share_threads": s.share_threads,
            "share_first": s.share_pass == 1, "share_second": s.share_pass == 2,
            "flags": [{"flag": f.kind, "advice": f.advice} for f in s.flags]}


def answer(a):
    return {"program": a.program, "length": a.length, "answer": a.answer, "factor": a.factor,
            "factor_low": a.factor_low, "factor_high": a.factor_high, "verdict": a.verdict,
            "share": a.share, "share_threads": a.share_threads,
            "share_length": a.share_length, "share_first": a.share_pass == 1,
            "share_second": a.share_pass == 2}


def figures(model):
    return {
        "lengths": [{"length": n, "exact": model.exact.get(n), "noise_floor": model.noise_floors[n],
                     "ceilings": [{"threads": c.threads, "seconds": c.seconds, "gbs": c.gbs,
                                   "first_gbs": c.first_gbs, "second_gbs": c.second_gbs,
                                   "fits_in": c.fits_in}
                                  for c in model.ceilings[n]]}
                    for n in model.lengths],
        "probe_verdicts": [{"program": p, "length": n, "verdict": model.probe_verdicts[(p, n)]}
                           for p in model.candidates for n in model.probe_lengths],
        "verdicts": [{"program": p, "standing": model.standing[p]} for p in model.candidates],
        "wrong": list(model.wrong_lines),
        "impossible": list(model.impossible_lines),
        "scaling": [{"command": t.family, "param": t.name, "length": t.length,
                     "values": [{"value": v, "speedup": sp, "efficiency": e}
                                for v, sp, e in t.rows]} for t in model.scaling],
        "summary": [summary(s, model.machine.get("cores")) for s in model.summaries],
        "answers": [answer(a) for a in model.answers],
        "status": model.status,
    }


def finite(value):
    """value with every float that is not a number made null."""
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, dict):
        return {k: finite(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [finite(v) for v in value]
    return value


def facts_only(runs):
    """The raw facts alone, for when the model cannot be made: they load
    back all the same."""
    return (json.dumps(finite(saved.facts(runs)), indent=1, allow_nan=False) + "\n").encode()


def render(model):
    document = {**model.facts, **figures(model)}
    return (json.dumps(finite(document), indent=1, allow_nan=False) + "\n").encode()
