# SPDX-License-Identifier: MIT
"""The JSON document: the machine, the runs and the verdicts, a view of
the model."""

import json

from .machine import machine
from .messages import SweepError


def document(model):
    runs = model.runs
    return {
        "machine": machine(),
        "lengths": [{"length": n, "exact": runs.exact[n]} for n in runs.lengths],
        "runs": [{"program": r.program, "length": r.length, "repeat": r.repeat,
                  "warmup": r.warmup, "time": r.seconds, "wall": r.wall,
                  "peak_bytes": r.peak, "result": r.result} for r in runs.runs],
        "verdicts": [{"program": s.program, "length": s.length, "accepted": s.accepted,
                      "reason": s.rejection}
                     for p in model.candidates for s in model.of(p)],
    }


def write_json(destination, model):
    try:
        with open(destination.path, "w") as f:
            json.dump(document(model), f, indent=1)
            f.write("\n")
    except OSError as error:
        raise SweepError(f"cannot write {destination.shown}: {error.strerror}") from None
