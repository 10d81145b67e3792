# SPDX-License-Identifier: MIT
"""The Markdown tables, the lines under them and the CSV: views of the
model, computing no figure of their own. Columns are padded, so that the
table reads aligned in a terminal and still renders as Markdown. Every
number in a column has one notation: plain decimals to three significant
digits, never an exponent beside a plain number."""

import csv
import io
import math
import textwrap

from . import verdict
from .model import MIB

LINE = 100  # where the lines under the tables wrap


def plain(value):
    """value to three significant digits, in plain decimals: 0.0564, 19.1,
    533, 60200."""
    if value is None or not math.isfinite(value):
        return "n/a"
    if value == 0:
        return "0"
    rounded = float(f"{value:.3g}")
    return f"{rounded:.{max(0, 2 - math.floor(math.log10(abs(rounded))))}f}"


def cell(value, form=None):
    if value is None:
        return "n/a"
    return plain(value) if form is None else format(value, form)


def percent(fraction):
    return "n/a" if fraction is None else f"{fraction * 100:.0f} %"


def length_text(n):
    """10^7 for a power of ten from 10^3 on, else the number."""
    exponent = round(math.log10(n)) if n > 0 else 0
    return f"10^{exponent}" if exponent >= 3 and 10**exponent == n else str(n)


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
        return (single(model) + "".join(f"\n\n{line}" for line in [stopped(model)] if line)
                + "\n").encode()
    parts = [wide_table(model) if wide else narrow_table(model), length_lines(model)]
    parts += [flagged for flagged in [flag_lines(model)] if flagged]
    parts.append(probe_table(model))
    parts += [scaled for scaled in [scaling_table(model)] if scaled]
    parts += [footer(model), answer_lines(model)]
    return ("\n\n".join(parts) + "\n").encode()


def single(model):
    rows = [[s.length, cell(s.median), cell(s.low), cell(s.high), cell(s.ns_per_term),
             cell(s.wall), memory(s), cell(s.vectors / MIB),
             cell(s.beyond_vectors and s.beyond_vectors / MIB)] for s in model.summaries]
    return markdown(["N", "median time (s)", "min (s)", "max (s)", "ns per term",
                     "process wall (s)", "peak memory (MiB)", "8·N (MiB)", "peak − 8·N (MiB)"],
                    "r" * 9, rows)


def memory(s):
    if s.launched:
        if s.rank_memory is None:
            return "unknown (outside the sweep)"
        return f"{plain(s.rank_memory[0] / MIB)} total, {plain(s.rank_memory[1] / MIB)} largest rank"
    if s.peak is None:
        return "n/a"
    return plain(s.peak / MIB) + (" (tree)" if s.peak_of == "tree" else "")


def judged(s, short=False):
    if s.role == "reference":
        return "reference"
    if s.verdict is None:
        return "n/a"
    if s.verdict == verdict.WRONG:
        return "**wrong**"
    return "float rounding" if short and s.verdict == verdict.FLOAT else s.verdict


def flag_notes(s):
    return list(dict.fromkeys(f.kind for f in s.flags))


def notes(s):
    found = ["oversubscribed"] if s.oversubscribed else []
    if s.failure:
        found.append(f"failed: {s.failure}")
    if s.zero_time:
        found.append("printed a time of 0: no speed")
    if s.impossible:
        found.append("**impossible**: faster than the machine reads")
    elif s.role == "candidate" and s.ceiling is None and s.median is not None:
        found.append("speed not checked")
    found += flag_notes(s)
    if s.verdict == verdict.FLOAT:
        found.append("float rounding cannot confirm this result at this N")
    if s.baseline:
        found.append("baseline")
    return "; ".join(found)


def note(s):
    """The one short note of the narrow table: the flag lines below it
    say what to do."""
    if s.failure:
        return "failed"
    if s.impossible:
        return "too fast"  # for the machine: its line on standard error says more
    if s.zero_time:
        return "time 0"
    if s.role == "candidate" and s.ceiling is None and s.median is not None:
        return "speed not checked"
    if s.oversubscribed:
        return "oversubscribed"
    return (flag_notes(s) or ["baseline" if s.baseline else ""])[0]


def interval(s):
    if s.speedup is None:
        return "n/a"
    return f"{plain(s.speedup_low)}–{plain(s.speedup_high)}"


def speedup(s):
    if s.baseline:
        return "1×"
    if s.speedup is None:
        return "n/a"
    return f"{plain(s.speedup)}× ({interval(s)})"


def rate(s):
    if s.gbs is None:
        return "n/a"
    if s.share is None:
        return plain(s.gbs)
    return f"{plain(s.gbs)} ({percent(s.share)}{ceiling_mark(s.share_threads, s.share_pass)})"


PASS_MARKS = {1: "†", 2: "‡"}  # a first pass's ceiling, a second pass's
PASS_NAMES = {1: "first", 2: "second"}


def ceiling_mark(threads, which):
    """" 2T" for two threads' ceiling; a dagger for a first pass's, a
    double one for a second pass's."""
    mark = "" if threads == 1 else f" {threads}T"
    return mark + ("" if mark else " ") + PASS_MARKS[which] if which else mark


def pass_text(c, form="{}"):
    """"first pass 14.2, second 15.9" of ceiling row c, put in form; ""
    where it said neither."""
    said = ", ".join(f"{name} {plain(gbs)}" for name, gbs in
                     (("first pass", c.first_gbs), ("second", c.second_gbs)) if gbs)
    return form.format(said) if said else ""


def narrow_table(model):
    """N, program, loop median, speedup, rate, verdict and one note: 120
    columns or fewer with labels of up to 20 characters."""
    rows = [[s.length, s.program, cell(s.median and s.median * 1e6), speedup(s), rate(s),
             judged(s, short=True), note(s)] for s in model.summaries]
    return markdown(["N", "program", "loop µs", "speedup", "GB/s (ceiling)", "verdict",
                     "note"], "rlrrrll", rows)


def row(s):
    return [s.length, s.program, cell(s.median), cell(s.wall), cell(s.speedup), interval(s),
            cell(s.gbs), cell(s.of_ceiling, ".0%"), memory(s),
            s.result or "n/a",
            cell(s.relative_error, ".2e"), judged(s), notes(s)]


def length_rows(model, n):
    rows = [[n, "exact value", "", "", "", "", "", "", "",
             cell(model.exact.get(n), ".10g"), "", "", ""]]
    for c in model.ceilings[n]:
        rows.append([n, f"ceiling, {c.threads} thread{'s' if c.threads > 1 else ''}",
                     cell(c.seconds), "", "", "", cell(c.gbs), "", "", "", "", "",
                     f"8·N bytes fit in {c.fits_in}" + pass_text(c, "; {} GB/s")])
    return rows + [row(s) for s in model.at(n)]


def wide_table(model):
    rows = [r for n in model.lengths for r in length_rows(model, n)]
    return markdown(["N", "program", "loop median (s)", "process wall (s)",
                     f"speedup over {model.baseline}", "95 % interval", "GB/s",
                     "of ceiling", "peak memory (MiB)", "result", "relative error", "verdict",
                     "notes"], "rl" + "r" * 9 + "ll", rows)


def wrapped(text):
    return "\n".join(textwrap.wrap(text, LINE, subsequent_indent="  ",
                                    break_long_words=False, break_on_hyphens=False))


def length_lines(model):
    """Per length: the baseline's noise floor, and the ceilings that the
    rates' shares are of."""
    rows = [c for n in model.lengths for c in model.ceilings[n]]
    passes = [said for gbs, said in (
        ("first_gbs", "that of a first pass over vectors just built (marked †), the pass "
                      "dotprod times,"), ("second_gbs", "that of a second pass (‡)"))
        if any(getattr(c, gbs) for c in rows)]
    lines = [f"Speedups are over {model.baseline}, with their 95 % interval; a share is of "
             f"the ceiling with the fewest threads (1T unless marked) that reads as fast"
             + (f"; for as many threads, {' and '.join(passes)} "
                f"come{'s' * (len(passes) == 1)} before the best pass's." if passes else ".")]
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
            groups.setdefault((f.kind, f.advice), []).append(f"{s.program} N={s.length}")
    return "\n".join(wrapped(f"{kind} ({', '.join(rows)}): {advice}.")
                     for (kind, advice), rows in groups.items())


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
    lines = [model.machine_line] + [line for line in [stopped(model)] if line]
    if model.calibration_seconds:
        lines.append(f"Ceiling calibration took {model.calibration_seconds:.1f} s.")
    return "\n".join(lines)


def answer_line(a, baseline):
    said = [f"{a.program}:"]
    if a.answer is None:
        said.append(f"no speedup measured ({a.why_none})," if a.why_none else
                    "no speedup measured,")
    elif a.answer == "baseline":
        said.append("the baseline,")
    else:
        span = f"at N={length_text(a.length)} ({plain(a.factor_low)}–{plain(a.factor_high)})"
        said.append({"faster": f"{plain(a.factor)}× faster than {baseline} {span},",
                     "slower": f"{plain(a.factor)}× slower than {baseline} {span},",
                     "the same speed": f"the same speed as {baseline} {span},",
                     "unclear": f"no clear difference from {baseline} {span},"}[a.answer])
    said.append(a.verdict)
    if a.share is not None:
        where = "" if a.share_length == a.length else f" at N={length_text(a.share_length)}"
        said[-1] += ","
        kind = f" {PASS_NAMES[a.share_pass]}-pass" if a.share_pass else ""
        said.append(f"{percent(a.share)} of the {a.share_threads}-thread{kind} ceiling{where}")
    return " ".join(said)


def answer_lines(model):
    """One line per candidate, last: what a reader looks for first."""
    return "\n".join(answer_line(a, model.baseline) for a in model.answers)


CSV_COLUMNS = ("length", "program", "role", "params", "repeats", "time", "time_min",
               "time_max", "wall", "speedup", "speedup_low", "speedup_high",
               "interval_coverage", "gbs", "ceiling_gbs", "of_ceiling", "share",
               "share_threads", "share_first", "share_second", "peak_bytes", "peak_of", "result",
               "relative_error", "verdict", "flags", "failure", "exact", "noise_floor")


def csv_row(s, model):
    return (s.length, s.program, s.role, " ".join(f"{k}={v}" for k, v in s.params),
            s.repeats, s.median, s.low, s.high, s.wall, s.speedup, s.speedup_low,
            s.speedup_high, s.coverage, s.gbs, s.ceiling_gbs, s.of_ceiling, s.share,
            s.share_threads, s.share_pass == 1, s.share_pass == 2, s.peak, s.peak_of, s.result,
            s.relative_error, s.verdict,
            "; ".join(flag_notes(s)), s.failure, s.exact, model.noise_floors.get(s.length))


def csv_text(model):
    """Every column, one row per program and length, numbers in full."""
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(CSV_COLUMNS)
    writer.writerows([("" if v is None else v for v in csv_row(s, model))
                      for s in model.summaries])
    return out.getvalue().encode()
