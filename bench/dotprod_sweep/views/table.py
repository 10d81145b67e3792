# SPDX-License-Identifier: MIT
"""The Markdown tables and the lines under them: views of the model,
computing no figure of their own, their columns from columns.COLUMNS.
Columns are padded, so that the table reads aligned in a terminal and
still renders as Markdown. Every number in a column has one notation:
plain decimals to three significant digits, never an exponent beside a
plain number."""

from . import columns, prose
from ..figures import verdict
from .formats import bold, cell, percent, plain, short_label, wrapped


def markdown(header, aligns, rows):
    """A padded Markdown table; aligns holds 'l' or 'r' per column."""
    widths = [max(len(str(r[i])) for r in [header, *rows]) for i in range(len(header))]
    def line(cells):
        return "| " + " | ".join(str(c).rjust(w) if a == "r" else str(c).ljust(w)
                                 for c, w, a in zip(cells, widths, aligns)) + " |"
    rule = "|" + "|".join(("-" * (w + 1) + ":") if a == "r" else "-" * (w + 2)
                          for w, a in zip(widths, aligns)) + "|"
    return "\n".join([line(header), rule, *[line(r) for r in rows]])


def render(model, wide=False):
    """Everything printed on standard output, as bytes: the table that
    fits 120 columns, or with wide every column."""
    if not model.candidates:
        tail = [stopped(model), model.fail_above is not None and prose.gate_line(model)]
        return (single(model) + "".join(f"\n\n{line}" for line in tail if line)
                + "\n").encode()
    parts = [wide_table(model) if wide else narrow_table(model), length_lines(model)]
    parts += [flagged for flagged in [flag_lines(model)] if flagged]
    parts.append(probe_table(model, wide))
    parts += [scaled for scaled in [scaling_table(model)] if scaled]
    parts += [footer(model), prose.answer_lines(model)]
    parts += [line for line in [prose.printing_line(model)] if line]
    if model.fail_above is not None:
        parts.append(prose.gate_line(model))
    return ("\n\n".join(parts) + "\n").encode()


def single(model):
    return markdown(*columns.table("single", model, model.summaries))


def pass_text(c, form="{}"):
    """"first pass 14.2, second 15.9" of ceiling row c, put in form; ""
    where it said neither."""
    said = ", ".join(f"{name} {plain(gbs)}" for name, gbs in
                     (("first pass", c.first_gbs), ("second", c.second_gbs)) if gbs)
    return form.format(said) if said else ""


def narrow_table(model):
    """N, program, loop median, speedup, rate, verdict and one note: 120
    columns or fewer with labels of up to 20 characters."""
    return markdown(*columns.table("compact", model, model.summaries))


def length_rows(model, n):
    """The exact value's line and the ceilings' lines, then the rows."""
    rows = [{"length": n, "program": "exact value", "result": cell(model.exact.get(n), ".10g")}]
    for c in model.ceilings[n]:
        rows.append({"length": n, "program": f"ceiling, {c.threads} thread{'s' if c.threads > 1 else ''}",
                     "time": columns.in_column(model, "median", c.seconds),
                     "gbs": columns.in_column(model, "gbs", c.gbs),
                     "notes": f"8·N bytes fit in {c.fits_in}" + pass_text(c, "; {} GB/s")})
    return rows + model.at(n)


def wide_table(model):
    return markdown(*columns.table("wide", model, [r for n in model.lengths
                                                   for r in length_rows(model, n)]))


def length_lines(model):
    """Per length: the baseline's noise floor, and the ceilings that the
    rates' shares are of."""
    rows = [c for n in model.lengths for c in model.ceilings[n]]
    passes = [said for gbs, said in (
        ("first_gbs", "that of a first pass over vectors just built (marked †), the pass "
                      "dotprod times,"), ("second_gbs", "that of a second pass (‡)"))
        if any(getattr(c, gbs) for c in rows)]
    if model.ceiling_seconds:
        of, among = ("the ceiling on as many threads as the program runs on a node (1T unless "
                     "marked), timed in the same rounds, with its 95 % interval", "of its passes")
    else:
        of, among = ("the ceiling with the fewest threads (1T unless marked) that reads as "
                     "fast", "for as many threads")
    lines = [f"Speedups are over {model.baseline}, with their 95 % interval; a share is of {of}"
             + (f"; {among}, {' and '.join(passes)} come{'s' * (len(passes) == 1)} before "
                f"the best pass's." if passes else ".")]
    if model.unwitnessed:
        lines.append(prose.unwitnessed_line(model.unwitnessed))
    for n in model.lengths:
        floor = model.noise_floors[n]
        said = [f"N={n}: {model.baseline}'s noise floor "
                + (f"±{plain(floor * 100)} %" if floor is not None else "n/a")]
        ceilings = model.ceilings[n]
        if ceilings:
            said.append("ceiling " + ", ".join(f"{plain(c.gbs)} GB/s on {c.threads}T"
                                               + pass_text(c, " ({})") for c in ceilings)
                        + f"; 8·N bytes fit in {ceilings[0].fits_in}")
        lines.append("; ".join(said) + ".")
    return "\n".join(wrapped(line) for line in lines)


def flag_lines(model):
    """One line per flag and advice, naming the rows it concerns."""
    groups = {}
    for s in model.summaries:
        for f in s.flags:
            groups.setdefault((f.kind, prose.advice(f)), []).append(f"{s.program} N={s.length}")
    return "\n".join(wrapped(f"{kind} ({', '.join(rows)}): {advice}.")
                     for (kind, advice), rows in groups.items())


# A class in one letter, so that ten probe lengths fit 120 columns.
CODES = {verdict.SAME: "=", verdict.ACCURATE: "a", verdict.FLOAT: "f", verdict.WRONG: "W"}


def probe_table(model, wide=False):
    """Each candidate's class at each probe length: in full with wide,
    else in one letter."""
    lengths = model.probe_lengths
    def klass(p, n):
        found = model.probe_verdicts.get((p, n))
        return (found or "n/a") if wide else CODES.get(found, "-")
    rows = [[short_label(p), *[klass(p, n) for n in lengths],
             bold(model.standing[p]) if model.standing[p] in ("wrong", "impossible")
             else model.standing[p]]
            for p in model.candidates]
    heading = ("Results checked at short lengths, where a missing, extra or wrong term "
               "shows far beyond rounding" + (":" if wide else " (= same as dotprod, a "
                                              "accurate, f within float rounding, W wrong, - "
                                              "not judged):"))
    header = [f"N={n}" if wide else str(n) for n in lengths]
    return wrapped(heading) + "\n\n" + markdown(["program", *header, "verdict"],
                                                "l" * (len(lengths) + 2), rows)


def scaling_table(model):
    rows = [[t.family, t.length, f"{t.name}={value}", cell(speedup), percent(efficiency)]
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
    short = prose.short_line(model)
    lines = [prose.machine_line(model.machine), stopped(model),
             short and short[0].upper() + short[1:] + ".", prose.drift_line(model),
             prose.time_line(model)]
    return "\n".join(line for line in lines if line)
