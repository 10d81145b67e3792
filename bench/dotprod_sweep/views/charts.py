# SPDX-License-Identifier: MIT
"""A run's figures, each described once: ns per term (bars from the
fastest to the slowest run), peak memory against its allowance, the
speedup with its interval, the read rate against the machine's labelled
ceilings, and the scaling efficiency of each scanned name. The HTML
report draws these descriptions as SVG (report/svg), the PNG as gnuplot
(plot): the same figures, ranges and colours, a program's colour the
same in all of them. Views: no figure is computed here."""

import math
from dataclasses import dataclass

from .formats import MIB, length_text, percent, plain


@dataclass(frozen=True)
class Series:
    name: str
    colour: str
    variant: int          # marker and dash
    points: tuple         # (x, y, low, high, tip): low and high may be None
    line: bool = True     # joined by a line


@dataclass(frozen=True)
class Line:
    """A reference line, a polyline of (x, y), labelled at its right end
    where label is given, else named in the legend."""
    name: str
    points: tuple
    dash: str = "6 3"     # lengths of dash and gap, as SVG's stroke-dasharray
    colour: str = "#222222"
    label: str | None = None


@dataclass(frozen=True)
class Axis:
    label: str
    log: bool = False
    ticks: tuple = ()     # (value, text): these ticks only; else chosen by the drawing
    zero: bool = False    # a linear axis that starts at 0
    powers: bool = False  # a log axis written 10^k


@dataclass(frozen=True)
class Chart:
    title: str
    x: Axis
    y: Axis
    series: tuple
    lines: tuple = ()
    marks: tuple = ()     # (x, text, colour): a dashed line across the plot


# One colour per program in every figure, safe for colour-blind readers
# (Okabe and Ito's, then two of Tol's); the runs of one scanned command
# share their command's colour, told apart by marker and dash.
COLOURS = ("#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00", "#56B4E9", "#882255",
           "#44AA99")
MARKERS = ("circle", "square", "triangle", "diamond", "down", "cross")
DASHES = ("", "7 3", "2 3", "9 3 2 3", "4 4", "1 2")
# The ceilings: a grey per kind of pass, a dash per thread count, and a
# label at the right end of each line.
CEILING_KINDS = (("gbs", " ceiling", "#222222"), ("first_gbs", " first pass", "#5a5a5a"),
                 ("second_gbs", " second pass", "#8c8c8c"))
N_AXIS = Axis("N, terms of each vector", log=True, powers=True)
IDEAL = "#000000"
# The most an axis spans: a value beyond (a claimed time of 1e-320 s
# beside times of 1e-3) falls outside the plot and is clipped, rather
# than stretch the axis over hundreds of decades.
LIMIT = 1e100
DECADES = 12


def in_range(v):
    return v is not None and math.isfinite(v) and abs(v) <= LIMIT


def bounds(values, axis):
    """The axis's range: the values' with a margin; ticks given widen it."""
    values = [v for v in values + [v for v, _ in axis.ticks] if in_range(v)]
    if axis.log:
        values = [v for v in values if v >= 1 / LIMIT] or [1.0]
        high = math.log10(max(values))
        low = max(math.log10(min(values)), high - DECADES)
        pad = max(0.04 * (high - low), 0.05)
        return 10 ** (low - pad), 10 ** (high + pad)
    low, high = min(values + ([0.0] if axis.zero else []), default=0.0), max(values, default=1.0)
    if high == low:
        low, high = low - 0.5, high + 0.5
    pad = 0.05 * (high - low)
    return (low if axis.zero else low - pad), high + pad


def ranges(chart):
    """The x and the y range of a chart, as every drawing of it uses."""
    xs = bounds([p[0] for s in chart.series for p in s.points]
                + [x for r in chart.lines for x, _ in r.points]
                + [m[0] for m in chart.marks], chart.x)
    ys = bounds([v for s in chart.series for p in s.points for v in p[1:4]]
                + [y for r in chart.lines for _, y in r.points], chart.y)
    return xs, ys


def tick_number(value):
    """A tick's text: the nice numbers ticks fall on, in plain decimals
    up to 10^5, in powers beyond."""
    if value == 0:
        return "0"
    if abs(value) >= 1e5 or abs(value) < 1e-3:
        return f"{value:.0e}".replace("e+0", "e").replace("e-0", "e-")
    return f"{value:.6g}"


def ticks(axis, low, high):
    """(value, text) of the ticks within low and high: decades on a log
    axis that spans two or more, nice steps otherwise."""
    if axis.ticks:
        return [(v, t) for v, t in axis.ticks if low <= v <= high]
    if axis.log and high > 100 * low:
        first, last = math.ceil(math.log10(low)), math.floor(math.log10(high))
        return [(10.0 ** e, f"10^{e}" if axis.powers else tick_number(10.0 ** e))
                for e in range(first, last + 1)]
    if axis.log and high > 10 * low:
        return [(m * 10.0 ** e, tick_number(m * 10.0 ** e))
                for e in range(math.floor(math.log10(low)), math.ceil(math.log10(high)) + 1)
                for m in (1, 2, 5) if low <= m * 10.0 ** e <= high]
    step = 10 ** math.floor(math.log10((high - low) / 5))
    step *= next(m for m in (1, 2, 5, 10) if (high - low) / (step * m) <= 6)
    found = [k * step for k in range(math.ceil(low / step), int(high // step) + 1)]
    return [(v, tick_number(v)) for v in found if v > 0 or not axis.log]


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


def looks(model):
    return styles(model.programs, model.runs.families if model.runs else {})


def spans(values):
    """Whether values span more than a factor of 10: a log axis then."""
    values = [v for v in values if v and v > 0]
    return bool(values) and max(values) > 10 * min(values)


def drawn(s):
    """Whether a row has a time to draw: not failed, not 0."""
    return s.median is not None and s.median > 0


def number(text):
    try:
        value = float(text)
    except ValueError:
        return None
    return value if math.isfinite(value) else None


def series(model, programs, point):
    """A Series per program in programs, of point(summary) for each row
    drawn: (x, y, low, high, tip) or None."""
    styled = looks(model)
    found = []
    for p in programs:
        points = tuple(q for q in (point(s) for s in model.of(p)) if q)
        if points:
            found.append(Series(p, *styled[p], points))
    return tuple(found)


def cost(model):
    def point(s):
        if not drawn(s):
            return None
        per = 1e9 / s.length
        return (s.length, s.ns_per_term, s.low * per, s.high * per,
                f"{s.program} at N={length_text(s.length)}: {plain(s.ns_per_term)} ns per "
                f"term, runs from {plain(s.low * per)} to {plain(s.high * per)}")
    found = series(model, model.programs, point)
    y = Axis("ns per term", log=spans([p[1] for s in found for p in s.points]), zero=True)
    return Chart("Cost per term: median, bars from the fastest to the slowest run", N_AXIS,
                 y, found)


def memory(model):
    def point(s):
        if not drawn(s) or not s.peak:
            return None
        return (s.length, s.peak / MIB, None, None,
                f"{s.program} at N={length_text(s.length)}: {plain(s.peak / MIB)} MiB")
    allowance = Line("allowance: 8·N bytes + 4 MiB",
                     tuple((s.length, s.memory_allowance / MIB) for s in model.of(model.reference)
                           if s.memory_allowance), "4 4", IDEAL)
    return Chart("Peak memory", N_AXIS, Axis("MiB", log=True),
                 series(model, model.programs, point), (allowance,) if allowance.points else ())


def speedup(model):
    def point(s):
        if s.speedup is None or not in_range(s.speedup):
            return None
        return (s.length, s.speedup, s.speedup_low, s.speedup_high,
                f"{s.program} at N={length_text(s.length)}: {plain(s.speedup)}× "
                f"({plain(s.speedup_low)}–{plain(s.speedup_high)})")
    found = series(model, [p for p in model.programs if p != model.baseline], point)
    even = Line(f"as fast as {model.baseline}", tuple((n, 1.0) for n in model.lengths),
                "4 4", IDEAL, "1×")
    return Chart(f"Speedup over {model.baseline}, with its 95 % interval", N_AXIS,
                 Axis("speedup", log=True), found, (even,))


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


def share_text(s):
    if s.share is None:
        return ""
    kind = {1: " first-pass", 2: " second-pass"}.get(s.share_pass, "")
    return f", {percent(s.share)} of the {s.share_threads}-thread{kind} ceiling"


def rate(model):
    def point(s):
        if not drawn(s) or not in_range(s.gbs):
            return None
        return (s.length, s.gbs, None, None,
                f"{s.program} at N={length_text(s.length)}: {plain(s.gbs)} GB/s"
                + share_text(s))
    lines = tuple(Line(f"ceiling {name}", tuple(points), DASHES[1 + variant % 5], grey, name)
                  for (name, grey, variant, points) in ceiling_lines(model))
    return Chart("Read rate (8·N bytes over the loop time) and the ceilings", N_AXIS,
                 Axis("GB/s", log=True), series(model, model.programs, point), lines)


def scaling(model):
    """One chart per scanned name: its values on the x axis, named after
    it; the efficiency of each command at each length, in its colour."""
    styled = looks(model)
    colour = {model.runs.families[p]: styled[p][0] for p in model.programs
              if model.runs and p in model.runs.families}
    charts = []
    for name in dict.fromkeys(t.name for t in model.scaling):
        tables = [t for t in model.scaling if t.name == name]
        values = sorted({number(v) for t in tables for v, _, _ in t.rows if number(v) is not None})
        found = tuple(Series(
            f"{t.family} at N={length_text(t.length)}", colour.get(t.family, IDEAL),
            [u.length for u in tables if u.family == t.family].index(t.length),
            tuple((number(v), e * 100, None, None,
                   f"{t.family}, {name}={v}, N={length_text(t.length)}: {plain(sp)}× over "
                   f"{name}={t.rows[0][0]}, efficiency {percent(e)}")
                  for v, sp, e in t.rows if number(v) is not None and e is not None))
            for t in tables)
        ideal = Line("ideal", tuple((v, 100.0) for v in values), "4 4", IDEAL, "ideal")
        ticks = tuple((v, f"{v:g}") for v in values)
        if not values:  # values that are no numbers have no axis
            continue
        first = tables[0].rows[0][0]
        charts.append(Chart(f"Scaling over {name}: speedup over {name}={first}, over "
                            "the ratio of the values", Axis(name, ticks=ticks),
                            Axis("efficiency (%)", zero=True),
                            tuple(s for s in found if s.points), (ideal,)))
    return charts


def one_run(model):
    """The figures of one run, those that have something to draw."""
    charts = [cost(model), memory(model)]
    if model.candidates:
        charts += [speedup(model), rate(model)]
    return [c for c in charts + scaling(model) if c.series]
