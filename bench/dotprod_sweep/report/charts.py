# SPDX-License-Identifier: MIT
"""The report's figures, as svg.Chart: for one run, ns per term, the
speedup with its interval, the read rate against the machine's labelled
ceilings, and the scaling efficiency of each scanned name; for several,
each program's history at each length with its intervals, the levels
found and a mark at each change. A program has one colour in all of
them (plot.styles), as in the PNG. Views: no figure is computed here."""

from ..figures import history as past
from . import svg
from ..views import plot
from ..views.formats import length_text, percent, plain

N_AXIS = svg.Axis("N, terms of each vector", log=True, powers=True)
IDEAL = "#000000"


def spans(values):
    """Whether values span more than a factor of 10: a log axis then."""
    values = [v for v in values if v and v > 0]
    return bool(values) and max(values) > 10 * min(values)


def looks(model):
    return plot.styles(model.programs, model.runs.families if model.runs else {})


def series(model, programs, point):
    """A Series per program in programs, of point(summary) for each row
    drawn: (x, y, low, high, tip) or None."""
    styled = looks(model)
    found = []
    for p in programs:
        points = tuple(q for q in (point(s) for s in model.of(p)) if q)
        if points:
            found.append(svg.Series(p, *styled[p], points))
    return tuple(found)


def cost(model):
    def point(s):
        if not plot.drawn(s):
            return None
        per = 1e9 / s.length
        return (s.length, s.ns_per_term, s.low * per, s.high * per,
                f"{s.program} at N={length_text(s.length)}: {plain(s.ns_per_term)} ns per "
                f"term, runs from {plain(s.low * per)} to {plain(s.high * per)}")
    drawn = series(model, model.programs, point)
    y = svg.Axis("ns per term", log=spans([p[1] for s in drawn for p in s.points]), zero=True)
    return svg.Chart("Cost per term: median, bars from the fastest to the slowest run", N_AXIS,
                     y, drawn)


def speedup(model):
    def point(s):
        if s.speedup is None:
            return None
        return (s.length, s.speedup, s.speedup_low, s.speedup_high,
                f"{s.program} at N={length_text(s.length)}: {plain(s.speedup)}× "
                f"({plain(s.speedup_low)}–{plain(s.speedup_high)})")
    drawn = series(model, [p for p in model.programs if p != model.baseline], point)
    even = svg.Line(f"as fast as {model.baseline}", tuple((n, 1.0) for n in model.lengths),
                    "4 4", IDEAL, "1×")
    return svg.Chart(f"Speedup over {model.baseline}, with its 95 % interval", N_AXIS,
                     svg.Axis("speedup", log=True), drawn, (even,))


def share_text(s):
    if s.share is None:
        return ""
    kind = {1: " first-pass", 2: " second-pass"}.get(s.share_pass, "")
    return f", {percent(s.share)} of the {s.share_threads}-thread{kind} ceiling"


def rate(model):
    def point(s):
        if not plot.drawn(s):
            return None
        return (s.length, s.gbs, None, None,
                f"{s.program} at N={length_text(s.length)}: {plain(s.gbs)} GB/s"
                + share_text(s))
    drawn = series(model, model.programs, point)
    lines = tuple(svg.Line(f"ceiling {name}", tuple(points), svg.DASHES[1 + variant % 5],
                           grey, name)
                  for (name, grey, variant, points) in plot.ceiling_lines(model))
    return svg.Chart("Read rate (8·N bytes over the loop time) and the ceilings", N_AXIS,
                     svg.Axis("GB/s", log=True), drawn, lines)


def number(text):
    return float(text) if plot.is_number(text) else None


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
        drawn = tuple(svg.Series(
            f"{t.family} at N={length_text(t.length)}", colour.get(t.family, IDEAL),
            [u.length for u in tables if u.family == t.family].index(t.length),
            tuple((number(v), e * 100, None, None,
                   f"{t.family}, {name}={v}, N={length_text(t.length)}: {plain(sp)}× over "
                   f"{name}={t.rows[0][0]}, efficiency {percent(e)}")
                  for v, sp, e in t.rows if number(v) is not None and e is not None))
            for t in tables)
        ideal = svg.Line("ideal", tuple((v, 100.0) for v in values), "4 4", IDEAL, "ideal")
        ticks = tuple((v, f"{v:g}") for v in values)
        if not values:  # values that are no numbers have no axis
            continue
        first = tables[0].rows[0][0]
        charts.append(svg.Chart(f"Scaling over {name}: speedup over {name}={first}, over "
                                "the ratio of the values", svg.Axis(name, ticks=ticks),
                                svg.Axis("efficiency (%)", zero=True),
                                tuple(s for s in drawn if s.points), (ideal,)))
    return charts


def one_run(model):
    """The figures of one run, those that have something to draw."""
    charts = [cost(model)]
    if model.candidates:
        charts += [speedup(model), rate(model)]
    return [c for c in charts + scaling(model) if c.series]


def run_ticks(runs, k_max=16):
    """(run, text) of the history's x axis: each run's short commit, or its
    number; no more than k_max of them, evenly spaced back from the last
    run, so that they stay readable."""
    step = max(1, -(-len(runs) // k_max))
    return tuple((k, r.short_commit or f"run {k + 1}") for k, r in enumerate(runs)
                 if (len(runs) - 1 - k) % step == 0)


def change_text(change):
    factor = change.factor
    return f"{factor:.2g}× slower" if factor > 1 else f"{1 / factor:.2g}× faster"


def unit(line):
    """What a history's series measures, as its charts, lines and tables
    name it."""
    return f"speedup over {line.baseline}" if line.measure == past.SPEEDUP else "ns per term"


def history_chart(line, runs, look):
    """One program at one length over the runs: each run's value and
    interval, the level between changes, and a mark at each change."""
    measured = unit(line)
    points = tuple((p.run, p.value, p.low, p.high,
                    f"{runs[p.run].name} ({runs[p.run].short_commit or 'no commit'}, "
                    f"{runs[p.run].date or 'no date'}): {measured} {plain(p.value)} "
                    f"({plain(p.low)}–{plain(p.high)})")
                   for p in line.points if p.value is not None)
    colour = look[0]
    levels = tuple(svg.Line("level between changes", ((a - 0.3, v), (b + 0.3, v)), "2 3",
                            colour) for a, b, v in line.levels) if line.changes else ()
    marks = tuple((c.run - 0.5, change_text(c), colour) for c in line.changes)
    values = [v for p in points for v in p[1:4] if v]
    y = svg.Axis(measured, log=spans(values), zero=True)
    x = svg.Axis("run, by commit, in the order given", ticks=run_ticks(runs))
    title = f"{line.program} at N={length_text(line.length)}"
    return svg.Chart(title, x, y, (svg.Series(line.program, *look, points),), levels, marks)


def history_charts(made):
    """A chart per program and length of made (a history.History)."""
    families = {}
    for m in made.models:
        families.update(m.runs.families if m.runs else {})
    programs = list(dict.fromkeys(line.program for line in made.series))
    styled = plot.styles(programs, families)
    return [history_chart(line, made.runs, styled[line.program]) for line in made.series]
