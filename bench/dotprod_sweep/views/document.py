# SPDX-License-Identifier: MIT
"""The JSON document, a view of the model: what produced the numbers,
the raw facts every figure comes from (so that it loads back, see
saved), and the figures themselves for the people who read it with
their own scripts. No bare Infinity or NaN: a figure that is not a
number is null."""

import json
import math

from . import columns, prose
from ..facts import saved


def answer(a):
    return {"program": a.program, "length": a.length, "answer": a.answer, "factor": a.factor,
            "factor_low": a.factor_low, "factor_high": a.factor_high, "verdict": a.verdict,
            "share": a.share, "share_low": a.share_low, "share_high": a.share_high,
            "share_threads": a.share_threads, "threads_counted": a.threads_counted,
            "threads_from": a.threads_from,
            "share_length": a.share_length, "share_first": a.share_pass == 1,
            "best_share": a.best_share, "best_share_length": a.best_length, "unsure": a.unsure,
            "suspect": [{"flag": kind, "length": n} for kind, n in a.suspect],
            "share_second": a.share_pass == 2}


def gate(model):
    """The gate of two builds in one sweep: its outcome at each row that
    failed or that it cannot tell, and the whole; null without one."""
    if model.fail_above is None:
        return None
    rows = [{"program": s.program, "length": s.length, "outcome": "failed", "why": None}
            for s in model.slower]
    rows += [{"program": s and s.program, "length": s and s.length, "outcome": "cannot tell",
              "why": why} for s, why in model.unsure]
    whole = "failed" if model.slower else "cannot tell" if model.unsure else "passed"
    return {"fail_above": model.fail_above, "outcome": whole, "rows": rows}


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
        "wrong": [prose.wrong_line(f) for f in model.wrong],
        "impossible": [prose.impossible_line(s) for s in model.impossible],
        "unwitnessed": list(model.unwitnessed),
        "scaling": [{"command": t.family, "param": t.name, "length": t.length,
                     "values": [{"value": v, "speedup": sp, "efficiency": e}
                                for v, sp, e in t.rows]} for t in model.scaling],
        "summary": [columns.json_row(s, model) for s in model.summaries],
        "units": columns.units(),
        "answers": [answer(a) for a in model.answers],
        "gate": gate(model),
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
    document = {**saved.facts(model.runs), **figures(model)}
    return (json.dumps(finite(document), indent=1, allow_nan=False) + "\n").encode()
