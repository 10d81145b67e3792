# SPDX-License-Identifier: MIT
"""The sweep's plot as gnuplot's script and data, a view of the model
(drawing.py has gnuplot draw it): ns per term (bars from the fastest to
the slowest run), peak memory and read rate against N for every program,
with the machine's ceilings, each labelled at its end; with candidates,
their speedups with 95 % intervals; for each scanned name, the speedup
against its values, named after it and ticked at them, beside the ideal
line. A program has one colour in every panel.

No text from the command line or the environment reaches gnuplot as code:
the script reads and writes only the fixed names made here. Labels go inside single quotes, where gnuplot reads nothing but a
doubled quote, and are shown without enhanced-text markup."""

import math

from . import prose
from .formats import MIB, length_text

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
    return "\n\n".join("".join(" ".join(map(datum, row)) + "\n" for row in block) or "\n"
                       for block in rows)


def datum(value):
    """A value as gnuplot reads it: one that is not a finite number is
    missing (NaN), not a word it takes for a variable's name."""
    if isinstance(value, float) and not math.isfinite(value):
        return "NaN"
    return str(value)


# One colour per program in every panel, safe for colour-blind readers
# (Okabe and Ito's, then two of Tol's); the runs of one scanned command
# share their command's colour, told apart by marker and dash.
COLOURS = ("#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00", "#56B4E9", "#882255",
           "#44AA99")
POINTS = (7, 5, 9, 13, 11, 3)   # gnuplot's filled circle, square, triangles, diamond; a star
DASHES = (1, 2, 3, 4, 5, 6)     # gnuplot's solid, dashed, dotted, dash-dot, ...
# The ceilings: a grey per kind of pass, a dash per thread count, and a
# label at the right end of each line.
CEILING_KINDS = (("gbs", " ceiling", "#222222"), ("first_gbs", " first pass", "#5a5a5a"),
                 ("second_gbs", " second pass", "#8c8c8c"))


def styles(programs, families):
    """{label: (colour, variant)}: a colour per program, the labels that
    one scanned command gave (families: label -> command) sharing it, each
    with a variant of its own."""
    found, colours, variants = {}, {}, {}
    for label in programs:
        family = families.get(label, label)
        colours.setdefault(family, COLOURS[len(colours) % len(COLOURS)])
        variants[family] = variants.get(family, -1) + 1
        found[label] = (colours[family], variants[family])
    return found


def ceiling_lines(model):
    """(label, grey, variant, [(N, GB/s)]) of each ceiling line: the best
    pass's, and a first and a second pass's where the ceiling said them."""
    threads = sorted({c.threads for n in model.lengths for c in model.ceilings[n]})
    found = []
    for key, name, grey in CEILING_KINDS:
        for k, t in enumerate(threads):
            points = [(n, getattr(c, key)) for n in model.lengths for c in model.ceilings[n]
                      if c.threads == t and getattr(c, key) and math.isfinite(getattr(c, key))]
            if points:
                found.append((f"{t}T{name}", grey, k, points))
    return found


def style(colour, variant):
    return (f"linecolor rgb '{colour}' pointtype {POINTS[variant % len(POINTS)]} "
            f"dashtype {DASHES[variant % len(DASHES)]}")


def curves(data, styled, columns, style_of):
    """styled: (label, (colour, variant)) per data block, in order."""
    return ", ".join(f"'{data}' index {k} using {columns} with {style_of} {style(*look)} "
                     f"title '{text(label)}' noenhanced"
                     for k, (label, look) in enumerate(styled))


def drawn(s):
    return s.median is not None and s.median > 0


def cost_panels(model, data, styled):
    """Cost per term, with each row's fastest and slowest run, and peak memory."""
    data["programs.dat"] = blocks([
        [(s.length, s.ns_per_term, s.low / s.length * 1e9, s.high / s.length * 1e9,
          s.peak / MIB, s.memory_allowance / MIB, s.gbs) for s in model.of(p) if drawn(s)]
        for p, _ in styled])
    return [
        LOG_N + "set title 'Cost per term: median, bars from the fastest to the slowest run'\n"
        "set ylabel 'ns per term'\n"
        + ("set logscale y\n" if len(styled) > 1 else "set yrange [0:*]\n")
        + "plot " + curves("programs.dat", styled, "1:2:3:4", "yerrorlines") + "\n",
        LOG_N + "set title 'Peak memory'\nset ylabel 'MiB'\nset logscale y\nset yrange [*:*]\n"
        "plot " + curves("programs.dat", styled, "1:5", "linespoints")
        + ", 'programs.dat' index 0 using 1:6 with lines dashtype 2 linecolor 'black' "
        "title 'allowance: 8·N bytes + 4 MiB'\n"]


def label_heights(values, low, high):
    """Graph heights (0 to 1) on a log axis from low to high for labels at
    values, moved at least LABEL_GAP apart so that none hides another."""
    wanted = [(math.log(v) - math.log(low)) / (math.log(high) - math.log(low)) for v in values]
    order = sorted(range(len(wanted)), key=wanted.__getitem__)
    placed, last = {}, -1.0
    for i in order:
        placed[i] = last = max(wanted[i], last + LABEL_GAP)
    overflow = max(0.0, last - 1.0)
    return [placed[i] - overflow for i in range(len(wanted))]


LABEL_GAP = 0.07  # of the graph's height between two ceiling labels: a line of text


def rate_panel(model, data, styled):
    """Read rate against N, with every ceiling line labelled at its end."""
    lines = ceiling_lines(model)
    data["ceilings.dat"] = blocks([points for *_, points in lines])
    values = [v for *_, points in lines for _, v in points] + \
        [s.gbs for s in model.summaries if drawn(s)]
    values = [v for v in values if v and math.isfinite(v)]  # an impossible row's inf
    if not values:
        return LOG_N + "set title 'Read rate'\nplot 1 notitle\n"
    low, high = min(values) / 1.5, max(values) * 1.5
    heights = label_heights([points[-1][1] for *_, points in lines], low, high)
    # Each label beside the plot, at its line's end as near as the others
    # let it be, and a thin leader from that end to it.
    labels = "".join(
        f"set label {k + 2} '{text(name)}' at graph 1.03, graph {y:.3f} left "
        f"textcolor rgb '{grey}' noenhanced\n"
        f"set arrow {k + 2} from first {points[-1][0]}, first {points[-1][1]:g} "
        f"to graph 1.025, graph {y:.3f} nohead linecolor rgb '{grey}' linewidth 0.5\n"
        for k, ((name, grey, _, points), y) in enumerate(zip(lines, heights)))
    drawn_lines = "".join(
        f", 'ceilings.dat' index {k} using 1:2 with lines linecolor rgb '{grey}' "
        f"dashtype {DASHES[1 + variant % (len(DASHES) - 1)]} notitle"
        for k, (_, grey, variant, _) in enumerate(lines))
    return (LOG_N + "set title 'Read rate: 8·N bytes over the loop time, and the ceilings'\n"
            f"set ylabel 'GB/s'\nset logscale y\nset yrange [{low:g}:{high:g}]\n"
            + ("set rmargin 16\n" if lines else "") + labels + "plot "
            + curves("programs.dat", styled, "1:7", "linespoints") + drawn_lines
            + "\n" + "".join(f"unset label {k + 2}\nunset arrow {k + 2}\n"
                              for k in range(len(lines)))
            + "set rmargin\nset yrange [*:*]\n")


def speedup_panel(model, data, styled):
    timed = [(p, look) for p, look in styled if p != model.baseline]
    data["speedup.dat"] = blocks([
        [(s.length, s.speedup, s.speedup_low, s.speedup_high) for s in model.of(p)
         if s.speedup] for p, _ in timed])
    return (LOG_N + f"set title 'Speedup over {text(model.baseline)}, 95 % interval'\n"
            "set ylabel 'speedup'\nset logscale y\n"
            "plot " + curves("speedup.dat", timed, "1:2:3:4", "yerrorlines")
            + ", 1 with lines dashtype 2 linecolor 'black' notitle\n")


def scaling_panels(model, data, looks):
    """One panel per scanned name, its axis named after it, with its own
    values as ticks; a curve per command and length, in the command's
    colour."""
    found = []
    names = list(dict.fromkeys(t.name for t in model.scaling))
    for k, name in enumerate(names):
        tables = [t for t in model.scaling if t.name == name]
        file = f"scaling{k}.dat"
        data[file] = blocks([[(float(v), sp) for v, sp, _ in t.rows if sp and is_number(v)]
                             for t in tables])
        values = sorted({float(v) for t in tables for v, _, _ in t.rows if is_number(v)})
        colour = {t.family: looks[t.family][0] for t in tables}
        styled = [(f"{t.family} at N={length_text(t.length)}",
                   (colour[t.family], [u.length for u in tables
                                       if u.family == t.family].index(t.length)))
                  for t in tables]
        found.append(
            "unset logscale\nset format x '%g'\n"
            f"set xlabel '{text(name)}' noenhanced\n"
            f"set xtics ({', '.join(f'{v:g}' for v in values)})\n"
            f"set title 'Speedup over the first value of {text(name)}' noenhanced\n"
            "set ylabel 'speedup'\nset yrange [0:*]\nplot "
            + curves(file, styled, "1:2", "linespoints")
            + f", x / {first_value([tables[0]])} with lines dashtype 2 linecolor 'black' "
            "title 'ideal'\nset xtics autofreq\nset yrange [*:*]\n")
    return found


def panels(model, data):
    """The script of each panel; the data files they read go in data."""
    families = model.runs.families if model.runs else {}
    looks = styles(model.programs, families)
    # A scanned command's curves take its colour: by its command's name.
    looks.update({families[p]: looks[p] for p in model.programs if p in families})
    styled = [(p, looks[p]) for p in model.programs]
    found = cost_panels(model, data, styled)
    if model.candidates:
        found += [rate_panel(model, data, styled), speedup_panel(model, data, styled)]
    return found + scaling_panels(model, data, looks)


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
                       machine=text(prose.describe(model.machine)))
    note = missing(model)
    if note:
        head += f"set label 1 '{text(note)}' at screen 0.01, screen 0.01 noenhanced\n"
    return head + "".join(found) + "unset multiplot\n"
