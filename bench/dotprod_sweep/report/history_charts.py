# SPDX-License-Identifier: MIT
"""The history's figures, described as a run's are (views/charts): each
program's value at each length over the runs, with its intervals, the
levels found between changes and a mark at each change, in the
program's colour. No figure is computed here."""

from ..figures import history as past
from ..views.charts import Axis, Chart, Line, Series, spans, styles
from ..views.formats import length_text, plain


LONGEST_TICK = 20  # characters: a longer file name is cut, from the front


def distinct(values):
    return None not in values and len(set(values)) == len(values)


def telling(runs):
    """What tells the runs apart, as (what, the text of each run): their
    commits where each has its own; else their files' names, their times
    or their numbers, after the commit where some runs share one. A commit
    that every run shares tells none apart, and is left out."""
    commits = [r.short_commit for r in runs]
    for what, values in (("file", [r.name for r in runs]), ("time", [r.date for r in runs])):
        if distinct(values):
            break
    else:
        what, values = "number", [f"run {k + 1}" for k in range(len(runs))]
    if distinct(commits):
        return "commit", commits
    if len(set(commits)) == 1:
        return what, values
    return f"commit and {what}", [f"{c or 'no commit'} {v}" for c, v in zip(commits, values)]


def run_ticks(runs, k_max=16):
    """(run, text) of the history's x axis: what tells each run apart; no
    more than k_max of them, evenly spaced back from the last run, so that
    they stay readable."""
    step = max(1, -(-len(runs) // k_max))
    shown = [t if len(t) <= LONGEST_TICK else "…" + t[1 - LONGEST_TICK:]
             for t in telling(runs)[1]]
    return tuple((k, shown[k]) for k in range(len(runs)) if (len(runs) - 1 - k) % step == 0)


def at_run(runs, k):
    """Run k as a line names it: its commit where that tells it apart, else
    its number and what tells it apart."""
    what, values = telling(runs)
    r = runs[k]
    if what == "commit":
        return f"commit {r.short_commit}" + (f", {r.date}" if r.date else "")
    return f"run {k + 1}" + ("" if what == "number" else f" ({values[k]})")


def run_name(runs, k):
    """Run k as a one-run change names it: its short commit where commits
    tell the runs apart, else as at_run() does."""
    what, values = telling(runs)
    return values[k] if what == "commit" else at_run(runs, k)


def factor_text(factor, digits):
    return f"{factor:.{digits}g}× slower" if factor > 1 else f"{1 / factor:.{digits}g}× faster"


def change_text(change):
    """A change as a chart's mark and a table's cell name it."""
    return factor_text(change.factor, 2) + (", one run" if change.one_run else "")


def one_run_text(change, runs):
    """'c3: 1.19× slower than c2, back at c4': a change of one run alone."""
    back = f", back at {run_name(runs, change.back)}" if change.back is not None else \
        ", the last run"
    return (f"{run_name(runs, change.run)}: {factor_text(change.factor, 3)} than "
            f"{run_name(runs, change.previous)}{back}")


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
    levels = tuple(Line("level between changes", ((a - 0.3, v), (b + 0.3, v)), "2 3",
                            colour) for a, b, v in line.levels) if line.changes else ()
    marks = tuple((c.run - 0.5, change_text(c), colour) for c in line.changes)
    values = [v for p in points for v in p[1:4] if v]
    y = Axis(measured, log=spans(values), zero=True)
    x = Axis(f"run, by {telling(runs)[0]}, in the order given", ticks=run_ticks(runs))
    title = f"{line.program} at N={length_text(line.length)}"
    return Chart(title, x, y, (Series(line.program, *look, points),), levels, marks)


def history_charts(made):
    """A chart per program and length of made (a history.History)."""
    families = {}
    for m in made.models:
        families.update(m.runs.families if m.runs else {})
    programs = list(dict.fromkeys(line.program for line in made.series))
    styled = styles(programs, families)
    return [history_chart(line, made.runs, styled[line.program]) for line in made.series]
