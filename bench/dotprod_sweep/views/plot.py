# SPDX-License-Identifier: MIT
"""The sweep's PNG as gnuplot's script and data: the run's figures as
views/charts describes them, which the HTML report draws too, one panel
each, with the same ranges, colours, markers and labels (running/drawing
has gnuplot draw it).

No text from the command line or the environment reaches gnuplot as code:
the script reads and writes only the fixed names made here. Labels go
inside single quotes, where gnuplot reads nothing but a doubled quote,
and are shown without enhanced-text markup."""

import math

from . import charts, prose

HEAD = """\
set terminal pngcairo size {width},{height}
set output 'plot.png'
set multiplot layout {rows},{columns} title '{machine}' noenhanced
set grid
set key outside below
"""
# gnuplot's point types for the charts' markers.
POINTS = {"circle": 7, "square": 5, "triangle": 9, "diamond": 13, "down": 11, "cross": 2}
LABEL_GAP = 0.07  # of the graph's height between two line labels: a line of text


def text(label):
    """A gnuplot single-quoted string's contents: the label as given."""
    return "".join(c if c.isprintable() else "?" for c in str(label)).replace("'", "''")


def datum(value):
    """A value as gnuplot reads it: one that is none, or not a finite
    number, is missing (NaN), not a word it takes for a variable's name."""
    if value is None or isinstance(value, float) and not math.isfinite(value):
        return "NaN"
    return f"{value:.17g}" if isinstance(value, float) else str(value)


def blocks(rows):
    """Data blocks that gnuplot tells apart by index: two blank lines. An
    empty block still holds its place."""
    return "\n\n".join("".join(" ".join(map(datum, row)) + "\n" for row in block) or "\n"
                       for block in rows)


def dash(pattern):
    """An SVG dash pattern ("7 3") as gnuplot's dashtype."""
    return f"({', '.join(pattern.split())})" if pattern else "1"


def look(s):
    variant = s.variant % len(charts.MARKERS)
    return (f"linecolor rgb '{s.colour}' pointtype {POINTS[charts.MARKERS[variant]]} "
            f"dashtype {dash(charts.DASHES[s.variant % len(charts.DASHES)])}")


def axis(name, a, low, high):
    """The settings of axis name (x or y): its label, scale, range, ticks."""
    found = [f"set {name}label '{text(a.label)}' noenhanced",
             f"set logscale {name}" if a.log else f"unset logscale {name}",
             f"set {name}range [{low:.6g}:{high:.6g}]"]
    chosen = ", ".join(f"'{tick(t)}' {v:.6g}" for v, t in charts.ticks(a, low, high))
    found.append(f"set {name}tics ({chosen})" if chosen else f"set {name}tics autofreq")
    return "\n".join(found) + "\n"


def tick(words):
    """A tick's text in gnuplot's enhanced text, which ticks are drawn in:
    its markup characters taken as themselves, 10^k with k raised."""
    base, _, power = text(words).partition("^")
    escaped = "".join("\\" + c if c in "^_@&~{}\\" else c for c in base)
    return f"{escaped}^{{{power}}}" if power else escaped


def height(value, low, high, log):
    """Where value lies between low and high, as a fraction of the axis."""
    if log:
        return (math.log(value) - math.log(low)) / (math.log(high) - math.log(low))
    return (value - low) / (high - low)


def spread(wanted):
    """Label heights as near wanted as they can be, LABEL_GAP apart, all
    within the graph: a label for each of close lines."""
    order = sorted(range(len(wanted)), key=wanted.__getitem__)
    placed, last = {}, -1.0
    for i in order:
        placed[i] = last = max(wanted[i], last + LABEL_GAP)
    overflow = max(0.0, last - 1.0)
    return [placed[i] - overflow for i in range(len(wanted))]


def line_labels(chart, ys):
    """Each labelled line's label beside the plot, at its end's height as
    near as the others let it be, and a thin leader from the end to it."""
    labelled = [r for r in chart.lines if r.label and r.points]
    heights = spread([min(max(height(r.points[-1][1], *ys, chart.y.log), 0.0), 1.0)
                      for r in labelled])
    return "".join(
        f"set label {k + 2} '{text(r.label)}' at graph 1.03, graph {y:.3f} left "
        f"textcolor rgb '{r.colour}' noenhanced\n"
        f"set arrow {k + 2} from first {r.points[-1][0]:.6g}, first {r.points[-1][1]:.6g} "
        f"to graph 1.025, graph {y:.3f} nohead linecolor rgb '{r.colour}' linewidth 0.5\n"
        for k, (r, y) in enumerate(zip(labelled, heights)))


def marks(chart):
    return "".join(f"set arrow {100 + k} from first {x:.6g}, graph 0 to first {x:.6g}, graph 1 "
                   f"nohead dashtype 2 linecolor rgb '{colour}'\n"
                   f"set label {100 + k} '{text(words)}' at first {x:.6g}, graph 0.95 "
                   f"textcolor rgb '{colour}' noenhanced\n"
                   for k, (x, words, colour) in enumerate(chart.marks))


def curves(k, chart):
    """The plot command's curves: each series, then each line."""
    found = []
    for i, s in enumerate(chart.series):
        intervals = any(p[2] is not None for p in s.points)
        style = ("yerrorlines" if s.line else "yerrorbars") if intervals else \
            ("linespoints" if s.line else "points")
        found.append(f"'chart{k}.dat' index {i} using {'1:2:3:4' if intervals else '1:2'} "
                     f"with {style} {look(s)} title '{text(s.name)}' noenhanced")
    for i, r in enumerate(chart.lines):
        title = "notitle" if r.label else f"title '{text(r.name)}' noenhanced"
        found.append(f"'lines{k}.dat' index {i} using 1:2 with lines linecolor rgb "
                     f"'{r.colour}' dashtype {dash(r.dash)} {title}")
    return ", ".join(found)


def panel(k, chart, data):
    """One chart's settings and plot command; its data go in data."""
    data[f"chart{k}.dat"] = blocks([[p[:4] for p in s.points] for s in chart.series])
    data[f"lines{k}.dat"] = blocks([r.points for r in chart.lines])
    xs, ys = charts.ranges(chart)
    labelled = any(r.label for r in chart.lines)
    return (f"set title '{text(chart.title)}' noenhanced\n"
            + axis("x", chart.x, *xs) + axis("y", chart.y, *ys)
            + ("set rmargin 16\n" if labelled else "set rmargin\n")
            + line_labels(chart, ys) + marks(chart)
            + f"plot {curves(k, chart)}\n"
            + "".join(f"unset label {n}\nunset arrow {n}\n" for n in numbers(chart)))


def numbers(chart):
    """The numbers of the labels and arrows a panel sets: its own, so that
    the note under the whole plot (label 1) stays."""
    labelled = [r for r in chart.lines if r.label and r.points]
    return [k + 2 for k in range(len(labelled))] + [100 + k for k in range(len(chart.marks))]


def missing(model):
    """Rows that the plot cannot draw, said under it."""
    gone = [f"{s.program} at N={s.length} ({'failed' if s.failure else 'time 0'})"
            for s in model.summaries if not charts.drawn(s)]
    return f"Not drawn: {', '.join(gone)}" if gone else ""


def files(model):
    """{file name: text}: the data files and the script, plot.gp, that
    draws them into plot.png."""
    data = {}
    found = [panel(k, c, data) for k, c in enumerate(charts.one_run(model))]
    columns = max(1, min(3, len(found)))
    rows = max(1, math.ceil(len(found) / columns))
    head = HEAD.format(width=550 * columns, height=500 * rows, rows=rows, columns=columns,
                       machine=text(prose.describe(model.machine)))
    note = missing(model)
    if note:
        head += f"set label 1 '{text(note)}' at screen 0.01, screen 0.01 noenhanced\n"
    data["plot.gp"] = head + "".join(found) + "unset multiplot\n"
    return data
