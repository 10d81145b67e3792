# SPDX-License-Identifier: MIT
"""The Markdown tables: a view of the model, computing no figure of its
own. Columns are padded, so that the table reads aligned in a terminal
and still renders as Markdown."""

from . import verdict
from .model import MIB

HINT = ("Noisy rows are marked: pin the threads (OMP_PROC_BIND=true, or taskset -c), use a "
        "quieter machine, or run more repeats (--repeats R, or a larger --budget).")


def cell(value, form=".3g"):
    return "n/a" if value is None else format(value, form)


def markdown(header, aligns, rows):
    """A padded Markdown table; aligns holds 'l' or 'r' per column."""
    widths = [max(len(str(r[i])) for r in [header, *rows]) for i in range(len(header))]
    def line(cells):
        return "| " + " | ".join(str(c).rjust(w) if a == "r" else str(c).ljust(w)
                                 for c, w, a in zip(cells, widths, aligns)) + " |"
    rule = "|" + "|".join(("-" * (w + 1) + ":") if a == "r" else "-" * (w + 2)
                          for w, a in zip(widths, aligns)) + "|"
    return "\n".join([line(header), rule, *[line(r) for r in rows]])


def render(model):
    """Everything printed on standard output, as bytes."""
    if not model.candidates:
        return (single(model) + "".join(f"\n\n{line}" for line in [stopped(model)] if line)
                + "\n").encode()
    parts = [comparison(model), probe_table(model)]
    parts += [scaled for scaled in [scaling_table(model)] if scaled]
    parts.append(footer(model))
    return ("\n\n".join(parts) + "\n").encode()


def single(model):
    rows = [[s.length, cell(s.median), cell(s.low), cell(s.high), cell(s.ns_per_term, ".1f"),
             cell(s.wall), memory(s), cell(s.vectors / MIB, ".1f"),
             cell(s.beyond_vectors and s.beyond_vectors / MIB, ".1f")] for s in model.summaries]
    return markdown(["N", "median time (s)", "min (s)", "max (s)", "ns per term",
                     "process wall (s)", "peak memory (MiB)", "8·N (MiB)", "peak − 8·N (MiB)"],
                    "r" * 9, rows)


def memory(s):
    if s.peak is None:
        return "n/a"
    return f"{s.peak / MIB:.1f}" + (" (tree)" if s.peak_of == "tree" else "")


def judged(s):
    if s.role == "reference":
        return "reference"
    if s.verdict is None:
        return "n/a"
    return "**wrong**" if s.verdict == verdict.WRONG else s.verdict


def notes(s):
    found = []
    if s.failure:
        found.append(f"failed: {s.failure}")
    if s.impossible:
        found.append("**impossible**: faster than the machine reads")
    elif s.role == "candidate" and s.ceiling is None and s.median is not None:
        found.append("speed not checked")
    if s.coarse and not s.baseline:
        found.append("noisy: its printed time has too few digits (print more)")
    elif s.wide:
        found.append("noisy: wide interval")
    if s.clusters and not s.coarse and not s.baseline:
        found.append("noisy: two clusters")
    if s.verdict == verdict.FLOAT:
        found.append("float rounding cannot confirm this result at this N")
    if s.baseline:
        found.append("baseline")
    return "; ".join(found)


def interval(s):
    if s.speedup is None:
        return "n/a"
    return f"{s.speedup_low:.3g}–{s.speedup_high:.3g}"


def row(s):
    return [s.length, s.program, cell(s.median), cell(s.wall), cell(s.speedup), interval(s),
            cell(s.gbs), cell(s.of_ceiling, ".0%"), memory(s),
            s.result or "n/a",
            cell(s.relative_error, ".2e"), judged(s), notes(s)]


def length_rows(model, n):
    floor = model.noise_floors[n]
    rows = [[n, "exact value", "", "", "", "", "", "", "",
             cell(model.exact.get(n), ".10g"), "", "",
             f"noise floor ±{floor:.1%}" if floor is not None else ""]]
    for c in model.ceilings[n]:
        rows.append([n, f"ceiling, {c.threads} thread{'s' if c.threads > 1 else ''}",
                     cell(c.seconds), "", "", "", cell(c.gbs), "", "", "", "", "",
                     f"8·N bytes fit in {c.fits_in}"])
    return rows + [row(s) for s in model.at(n)]


def comparison(model):
    rows = [r for n in model.lengths for r in length_rows(model, n)]
    return markdown(["N", "program", "loop median (s)", "process wall (s)",
                     f"speedup over {model.baseline}", "95 % interval", "GB/s",
                     "of ceiling", "peak memory (MiB)", "result", "relative error", "verdict",
                     "notes"], "rl" + "r" * 9 + "ll", rows)


def probe_table(model):
    lengths = model.probe_lengths
    rows = [[p, *[model.probe_verdicts.get((p, n)) or "n/a" for n in lengths],
             f"**{model.standing[p]}**" if model.standing[p] in ("wrong", "impossible")
             else model.standing[p]]
            for p in model.candidates]
    heading = ("Results checked at short lengths, where a missing, extra or wrong term "
               "shows far beyond rounding:")
    return heading + "\n\n" + markdown(["program", *[f"N={n}" for n in lengths], "verdict"],
                                       "l" * (len(lengths) + 2), rows)


def scaling_table(model):
    rows = [[t.family, t.length, f"{t.name}={value}", cell(speedup), cell(efficiency, ".0%")]
            for t in model.scaling for value, speedup, efficiency in t.rows]
    if not rows:
        return None
    return "Scaling:\n\n" + markdown(["command", "N", "at", "speedup over the first value",
                                      "efficiency"], "lrlrr", rows)


def stopped(model):
    if not model.stopped:
        return None
    return f"The sweep stopped early, and the rows hold what was measured before: {model.stopped}"


def footer(model):
    lines = [model.machine_line] + [line for line in [stopped(model)] if line]
    if model.calibration_seconds:
        lines.append(f"Ceiling calibration took {model.calibration_seconds:.1f} s.")
    if model.noisy:
        lines.append(HINT)
    return "\n".join(lines)
