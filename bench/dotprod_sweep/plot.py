# SPDX-License-Identifier: MIT
"""The sweep's plot as gnuplot's script and data, a view of the model
(drawing.py has gnuplot draw it): ns per term, peak memory and read rate against N for every
program, with the machine's ceilings; with candidates, their speedups
with 95 % intervals; for a scanned command, its speedup against the
scanned value beside the ideal line.

No text from the command line or the environment reaches gnuplot as code:
the script reads and writes only the fixed names made here. Labels go inside single quotes, where gnuplot reads nothing but a
doubled quote, and are shown without enhanced-text markup."""

import math

from . import words
from .text import MIB

HEAD = """\
set terminal pngcairo size {width},{height}
set output 'plot.png'
set multiplot layout {rows},{columns} title '{machine}' noenhanced
set grid
set key outside below
set offsets graph 0.05, graph 0.05, 0, 0
"""

LOG_N = """\
set logscale x
set format x '10^{%T}'
set xlabel 'N'
"""


def text(label):
    """A gnuplot single-quoted string's contents: the label as given."""
    return "".join(c if c.isprintable() else "?" for c in label).replace("'", "''")


def blocks(rows):
    """Data blocks that gnuplot tells apart by index: two blank lines. An
    empty block still holds its place."""
    return "\n\n".join("".join(" ".join(map(str, row)) + "\n" for row in block) or "\n"
                       for block in rows)


def curves(data, styled, columns, style):
    return ", ".join(f"'{data}' index {k} using {columns} with {style} linetype {linetype} "
                     f"title '{text(label)}' noenhanced"
                     for k, (linetype, label) in enumerate(styled))


def drawn(s):
    return s.median is not None and s.median > 0


def panels(model, data):
    """The script of each panel; the data files they read go in data."""
    programs = model.programs
    styled = list(enumerate(programs, start=1))
    data["programs.dat"] = blocks([
        [(s.length, s.ns_per_term, s.peak / MIB, s.memory_allowance / MIB, s.gbs)
         for s in model.of(p) if drawn(s)] for p in programs])
    found = [
        LOG_N + "set title 'Cost per term (median of repeats)'\nset ylabel 'ns per term'\n"
        + ("set logscale y\n" if len(programs) > 1 else "set yrange [0:*]\n")
        + "plot " + curves("programs.dat", styled, "1:2", "linespoints") + "\n",
        LOG_N + "set title 'Peak memory'\nset ylabel 'MiB'\nset logscale y\nset yrange [*:*]\n"
        "plot " + curves("programs.dat", styled, "1:3", "linespoints")
        + ", 'programs.dat' index 0 using 1:4 with lines dashtype 2 linecolor 'black' "
        "title 'allowance: 8·N bytes + 4 MiB'\n",
    ]
    ceilings = sorted({c.threads for n in model.lengths for c in model.ceilings[n]})
    if model.candidates:
        # The best pass's ceilings in black; a first and a second pass's
        # over vectors just built, where the ceiling said, in grays.
        curves_of = [(t, "gbs", 2, "black", "ceiling") for t in ceilings] + [
            (t, kind, dash, color, name) for kind, name, dash, color in
            (("first_gbs", "first pass", 2 + len(ceilings), "dark-gray"),
             ("second_gbs", "second pass", 2 + 2 * len(ceilings), "gray")) for t in ceilings
            if any(c.threads == t and getattr(c, kind)
                   for n in model.lengths for c in model.ceilings[n])]
        data["ceilings.dat"] = blocks([
            [(n, getattr(c, kind)) for n in model.lengths for c in model.ceilings[n]
             if c.threads == t and getattr(c, kind)] for t, kind, *_ in curves_of])
        # A dash pattern of its own for each kind and thread count.
        lines = ", ".join(f"'ceilings.dat' index {k} using 1:2 with lines dashtype "
                          f"{dash + ceilings.index(t)} linecolor '{color}' "
                          f"title '{name}, {t} thread{'s' * (t > 1)}'"
                          for k, (t, _, dash, color, name) in enumerate(curves_of))
        found.append(LOG_N + "set title 'Read rate: 8·N bytes over the loop time'\n"
                     "set ylabel 'GB/s'\nset logscale y\n"
                     "plot " + curves("programs.dat", styled, "1:5", "linespoints")
                     + (", " + lines if lines else "") + "\n")
        timed = [(t, p) for t, p in styled if p != model.baseline]
        data["speedup.dat"] = blocks([
            [(s.length, s.speedup, s.speedup_low, s.speedup_high) for s in model.of(p)
             if s.speedup] for _, p in timed])
        found.append(LOG_N + f"set title 'Speedup over {text(model.baseline)}, 95 % "
                     "interval'\nset ylabel 'speedup'\nset logscale y\n"
                     "plot " + curves("speedup.dat", timed, "1:2:3:4", "yerrorlines")
                     + ", 1 with lines dashtype 2 linecolor 'black' notitle\n")
    tables = model.scaling
    if tables:
        styled_scans = [(k + 1, f"{t.family} at N={t.length}") for k, t in enumerate(tables)]
        data["scaling.dat"] = blocks([
            [(float(v), sp) for v, sp, _ in t.rows if sp and is_number(v)] for t in tables])
        found.append("unset logscale\nset format x '%g'\nset xlabel 'scanned value'\n"
                     "set title 'Speedup over the first scanned value'\nset ylabel 'speedup'\n"
                     "set yrange [0:*]\nplot " + curves("scaling.dat", styled_scans, "1:2",
                                                         "linespoints")
                     + f", x / {first_value(tables)} with lines dashtype 2 linecolor 'black' "
                     "title 'ideal'\n")
    return found


def is_number(text):
    try:
        return math.isfinite(float(text))
    except ValueError:
        return False


def first_value(tables):
    value = tables[0].rows[0][0]
    return float(value) if is_number(value) and float(value) else 1


def missing(model):
    """Rows that the plot cannot draw, said under it."""
    gone = [f"{s.program} at N={s.length} ({'failed' if s.failure else 'time 0'})"
            for s in model.summaries if not drawn(s)]
    return f"Not drawn: {', '.join(gone)}" if gone else ""


def files(model):
    """{file name: text}: the data files and the script, plot.gp, that
    draws them into plot.png."""
    data = {}
    data["plot.gp"] = script(model, data)
    return data


def script(model, data):
    found = panels(model, data)
    columns = min(3, len(found))
    rows = math.ceil(len(found) / columns)
    head = HEAD.format(width=550 * columns, height=500 * rows, rows=rows, columns=columns,
                       machine=text(words.describe(model.machine)))
    note = missing(model)
    if note:
        head += f"set label 1 '{text(note)}' at screen 0.01, screen 0.01 noenhanced\n"
    return head + "".join(found) + "unset multiplot\n"
