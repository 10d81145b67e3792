# SPDX-License-Identifier: MIT
"""The Markdown tables: a view of the model, computing no figure of its
own. Columns are padded, so that the table reads aligned in a terminal
and still renders as Markdown."""

from . import launchers, verdict
from .machine import describe
from .model import MIB, scaling

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


def report(model, box):
    """Everything printed on standard output."""
    if not model.candidates:
        return single(model)
    parts = [comparison(model), probes(model)]
    parts += [scaled for scaled in [scaling_table(model)] if scaled]
    parts.append(footer(model, box))
    return "\n\n".join(parts)


def single(model):
    rows = [[s.length, cell(s.median), cell(s.low), cell(s.high), cell(s.ns_per_term, ".1f"),
             cell(s.wall), memory(s), cell(s.vectors / MIB, ".1f"),
             cell(s.peak and (s.peak - s.vectors) / MIB, ".1f")] for s in model.summaries]
    return markdown(["N", "median time (s)", "min (s)", "max (s)", "ns per term",
                     "process wall (s)", "peak memory (MiB)", "8·N (MiB)", "peak − 8·N (MiB)"],
                    "r" * 9, rows)


def memory(s, launch=None):
    if launch and launch.launcher != launchers.NONE and s.runs:
        ranks = launchers.memory([r.rank_peaks for r in s.runs])
        if ranks is None:
            return "unknown (outside the sweep)"
        return f"{ranks[0] / MIB:.1f} total, {ranks[1] / MIB:.1f} largest rank"
    if s.peak is None:
        return "n/a"
    return f"{s.peak / MIB:.1f}" + (" (tree)" if s.peak_of == "tree" else "")


def judged(s):
    if s.role == "reference":
        return "reference"
    if s.verdict is None:
        return "n/a"
    return "**wrong**" if s.verdict == verdict.WRONG else s.verdict


def notes(s, launch=None, cpus=None):
    found = ["oversubscribed"] if launch and launchers.oversubscribed(launch, cpus) else []
    if s.failure:
        found.append(f"failed: {s.failure}")
    if s.impossible:
        found.append("**impossible**: faster than the machine reads")
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


def row(s, runs):
    launch = runs.launches.get(s.program)
    return [s.length, s.program, cell(s.median), cell(s.wall), cell(s.speedup), interval(s),
            cell(s.gbs), cell(s.of_ceiling, ".0%"), memory(s, launch),
            s.farthest.result_text if s.farthest else "n/a", cell(s.relative_error, ".2e"),
            judged(s), notes(s, launch, runs.machine.get("online_cpus"))]


def length_rows(model, n):
    floor = model.noise_floor(n)
    rows = [[n, "exact value", "", "", "", "", "", "", "",
             cell(model.runs.exact.get(n), ".10g"), "", "",
             f"noise floor ±{floor:.1%}" if floor is not None else ""]]
    for threads, seconds, level in model.ceilings(n):
        rows.append([n, f"ceiling, {threads} thread{'s' if threads > 1 else ''}", cell(seconds),
                     "", "", "", cell(8 * n / seconds / 1e9), "", "", "", "", "",
                     f"8·N bytes fit in {level}"])
    return rows + [row(s, model.runs) for s in model.at(n)]


def comparison(model):
    rows = [r for n in model.lengths for r in length_rows(model, n)]
    return markdown(["N", "program", "loop median (s)", "process wall (s)",
                     f"speedup over {model.runs.baseline}", "95 % interval", "GB/s",
                     "of ceiling", "peak memory (MiB)", "result", "relative error", "verdict",
                     "notes"], "rl" + "r" * 9 + "ll", rows)


def probes(model):
    lengths = model.runs.probes
    failed = {s.program for s in model.failures}
    rows = [[p, *[model.probes.get((p, n)) or "n/a" for n in lengths],
             "**wrong**" if model.verdicts[p] else "failed" if p in failed else "ok"]
            for p in model.candidates]
    heading = ("Results checked at short lengths, where a missing, extra or wrong term "
               "shows far beyond rounding:")
    return heading + "\n\n" + markdown(["program", *[f"N={n}" for n in lengths], "verdict"],
                                       "l" * (len(lengths) + 2), rows)


def scaling_table(model):
    rows = [[family, n, f"{name}={value}", cell(speedup), cell(efficiency, ".0%")]
            for family, name, n, values in scaling(model) for value, speedup, efficiency in values]
    if not rows:
        return None
    return "Scaling:\n\n" + markdown(["command", "N", "at", "speedup over the first value",
                                      "efficiency"], "lrlrr", rows)


def footer(model, box):
    lines = [f"Machine: {describe(box)}; load average {box['load_start']:.2f} at the start, "
             f"{box['load_end']:.2f} at the end."]
    calibration = model.calibration_seconds
    if calibration:
        lines.append(f"Ceiling calibration took {calibration:.1f} s.")
    if model.noisy:
        lines.append(HINT)
    return "\n".join(lines)
