# SPDX-License-Identifier: MIT
"""The report of saved runs, as one self-contained HTML page (inline CSS
and SVG, no script, nothing fetched) or as GitHub-flavoured Markdown for
a pull request's comment. Both are made from one list of blocks, so that
they say the same: for one run, its answer lines, the compact table, the
figures, the verdicts, and the machine and command line; for several, the
changes of level found in each program's history, the history itself,
the runs' provenance and the last run's answers. Views: the figures come
from the model and the history, the lines from prose.py, the columns
from columns.py; every text from a run is escaped where it is written."""

import shlex
import statistics

from .history_charts import (at_run, change_text, factor_text, history_charts, one_run_text,
                             run_name, telling, unit)
from ..figures import changepoints, history, load, model
from ..figures.differences import short_commit
from ..views import charts, columns, prose, table
from ..views.comparison import joined
from . import two_runs
from .blocks import Details, Figures, Heading, Lines, Table, Text, html_page, markdown_page
from ..views.formats import bold, length_text, plain


def logical_lines(text):
    """table.py's lines, wrapped for a terminal, back to one line each."""
    found = []
    for line in text.splitlines():
        if line.startswith("  ") and found:
            found[-1] += " " + line.strip()
        elif line.strip():
            found.append(line)
    return found


def compact(made):
    return Table(*columns.table("compact", made, made.summaries))


def probe_table(made):
    lengths = made.probe_lengths
    rows = [[p, *[made.probe_verdicts.get((p, n)) or "n/a" for n in lengths],
             bold(made.standing[p]) if made.standing[p] in ("wrong", "impossible")
             else made.standing[p]] for p in made.candidates]
    return Table(["program", *[f"N={n}" for n in lengths], "verdict"], "l" * (len(lengths) + 2),
                 rows)


def scaling_table(made):
    rows = [[t.family, length_text(t.length), f"{t.name}={value}", plain(speedup),
             "n/a" if efficiency is None else f"{efficiency * 100:.0f} %"]
            for t in made.scaling for value, speedup, efficiency in t.rows]
    return Table(["command", "N", "at", "speedup over the first value", "efficiency"], "lrlrr",
                 rows)


def provenance_line(host):
    timed = short_commit(host.get("candidate_commit"), host.get("candidate_dirty"))
    said = [f"Timed at commit {timed}" if timed else "No commit of what was timed recorded",
            f"dotprod-sweep {host.get('version') or 'of unknown version'}"]
    said.append(f"its commit {host['commit']}" if host.get("commit") else "its commit unknown")
    said.append(f"run {host['date']}" if host.get("date") else "no date recorded")
    return ", ".join(said) + "."


def machine_blocks(made):
    runs = made.runs
    arguments = list(runs.setup.get("arguments", [])) if runs else []
    # The table's footer first, as the sweep printed it: the machine, the
    # stop, the time taken.
    said = logical_lines(table.footer(made)) + [
        provenance_line(made.machine), "Command: " + shlex.join(["dotprod-sweep", *arguments])]
    said += [f"{label}: {shown}" for label, shown in (runs.shown if runs else {}).items()]
    said += [f"Environment: {k}={v}" for k, v in made.machine.get("environment", {}).items()]
    return [Heading(2, "Machine, versions and command"), Lines(said, "facts")]


def answer_blocks(made):
    found = [Lines(prose.answer_lines(made).splitlines(), "answers")] if made.candidates else \
        [Text("No candidates: dotprod alone was timed.")]
    warnings = prose.lines(made)
    return found + ([Lines(warnings, "warnings")] if warnings else [])


def one_run(made, name):
    """The blocks of one run's report."""
    blocks = [Heading(1, f"Sweep report: {name}"), Text(provenance_line(made.machine)),
              Heading(2, "Answers"), *answer_blocks(made),
              Heading(2, "Table"), compact(made)]
    notes = logical_lines(table.length_lines(made)) if made.candidates else []
    notes += logical_lines(table.flag_lines(made)) if made.candidates else []
    blocks += [Lines(notes, "notes")] if notes else []
    blocks += [Heading(2, "Figures"), Figures([(c, None) for c in charts.one_run(made)])]
    if made.candidates:
        blocks += [Heading(2, "Verdicts"),
                   Text("Results checked at short lengths, where a missing, extra or wrong "
                        "term shows far beyond rounding:"), probe_table(made)]
    if made.scaling:
        blocks += [Heading(2, "Scaling"), scaling_table(made)]
    return blocks + machine_blocks(made)


def began(change, runs):
    """Why a loaded run is the machine's: what was running as it began."""
    counts = [load.others_at_start(r.machine) for k, r in enumerate(runs) if k != change.run]
    usual = statistics.median(c for c in counts if c is not None)
    return (f"{run_name(runs, change.run)} began beside other work "
            f"({plain(load.others_at_start(runs[change.run].machine))} tasks running, against "
            f"{plain(usual)} in the other runs)")


def machines(change, runs):
    """Why a change is the machine's, after what the change was."""
    if change.loaded and change.one_run:
        return (f"; the machine's: {began(change, runs)}, and its programs ran from the same "
                "files in a run at the level")
    return "; " + (f"{began(change, runs)}, and " if change.loaded else "") + \
        "the program did not change"


def change_line(line, change, runs):
    """'dotprod-simd at 10^7: 1.6× slower from commit abc1234, ...', or
    'mine at 10^5: c3: 1.19× slower than c2, back at c4', and, where
    nothing of the program changed, that it is the machine's."""
    levels = f"({unit(line)} {plain(change.before)} → {plain(change.after)})"
    where = f"{line.program} at {length_text(line.length)}"
    why = machines(change, runs) if change.cause == history.MACHINE else ""
    if change.one_run:
        return f"{where}: {one_run_text(change, runs)}{why} {levels}"
    if change.cause == history.MACHINE:
        return (f"{where}: the machine ran {line.program} {change_text(change)} from "
                f"{at_run(runs, change.run)}{why} {levels}")
    return f"{where}: {change_text(change)} from {at_run(runs, change.run)} {levels}"


def reference_change(line, change, runs):
    if change.one_run:
        back = f", back at {run_name(runs, change.back)}" if change.back is not None else ""
        return (f"at {length_text(line.length)} {factor_text(change.factor, 3)} at "
                f"{run_name(runs, change.run)} than at {run_name(runs, change.previous)}{back}")
    return f"at {length_text(line.length)} {change_text(change)} from {at_run(runs, change.run)}"


def series_table(line, runs):
    """A series' values, one row per run, the changes marked."""
    starts = {c.run: change_text(c) for c in line.changes}
    what, told = telling(runs)
    rows = [[str(p.run + 1), told[p.run],
             plain(p.value) if p.value is not None else f"failed: {p.failure}",
             f"{plain(p.low)}–{plain(p.high)}" if p.value is not None else "",
             starts.get(p.run, "")] for p in line.points]
    return Table(["run", what, unit(line), "95 % interval", "change"], "rlrrl", rows)


def reference_line(made):
    """Every change in the reference's own series, in one line: no commit
    changes it, so each is the machine's, and it moves the other series."""
    reference = made.models[0].reference
    found = [reference_change(line, c, made.runs)
             for line in made.series if line.program == reference for c in line.changes]
    if not found:
        return []
    return [f"{reference}, the same program in every run unless its version changed, ran "
            + joined(found) + ": the machine ran at another speed there (or, for a "
            "speedup, its baseline changed), and other series may be off by as much."]


def change_lines(made):
    """Every change found, as (line, link to its chart), in series order;
    the reference's said once, in a line of their own."""
    reference = made.models[0].reference
    first = next((f"#figure-{k + 1}" for k, line in enumerate(made.series)
                  if line.program == reference and line.changes), None)
    return [(change_line(line, c, made.runs), f"#figure-{k + 1}")
            for k, line in enumerate(made.series) if line.program != reference
            for c in line.changes] + [(said, first) for said in reference_line(made)]


def caveats(made):
    """What the changes cannot say: series too short to test, and runs
    made on another machine than the first, whose times differ for that."""
    short = [f"{line.program} at {length_text(line.length)}" for line in made.series
             if sum(p.value is not None for p in line.points) < changepoints.MIN_POINTS]
    said = [f"Too few runs to look for changes ({changepoints.MIN_POINTS} are needed): "
            + ", ".join(short) + "."] if short else []
    return said + other_machines(made)


def other_machines(made):
    """A line per run made on another machine than the first's."""
    said, first = [], made.runs[0].machine
    for k, r in enumerate(made.runs[1:], start=1):
        if (r.machine.get("cpu"), r.machine.get("cores")) != (first.get("cpu"), first.get("cores")):
            said.append(f"Run {k + 1} ({r.name}) ran on another machine: "
                        f"{prose.describe(r.machine)}.")
    return said


def runs_table(made):
    rows = [[str(k + 1), r.name, r.short_commit or "", r.date or "", r.version or "",
             prose.describe(r.machine),
             prose.load_text(r.machine.get("load_start"))] for k, r in enumerate(made.runs)]
    return Table(["run", "file", "commit", "date", "version", "machine", "load at start"],
                 "rllllll", rows)


METHOD = ("Each program's time at each length, or its speedup where every run has one "
          "(a ratio to a program run in turn, free of the machine's drift), is tested for "
          "changes of level by PELT with a penalty of "
          f"{changepoints.PENALTY:g}·log n, on the logarithms; a change under "
          f"{changepoints.MINIMUM_STEP * 100:g} % is not reported.")


def several_runs(made):
    """The blocks of a history's report."""
    found = change_lines(made)
    blocks = [Heading(1, f"Sweep history of {len(made.runs)} runs"),
              Text(f"From {at_run(made.runs, 0)} to {at_run(made.runs, len(made.runs) - 1)}. "
                   + METHOD),
              Heading(2, "Changes found"),
              Lines(found, "changes") if found else Text("No change of level was found.")]
    blocks += [Lines(caveats(made), "warnings")] if caveats(made) else []
    return blocks + history_blocks(made)


def figures_of(made, programs):
    """The figures of programs' series over the runs, each with its table."""
    return Figures([(chart, Details(f"{line.program} at N={length_text(line.length)}, "
                                    f"{unit(line)}", [series_table(line, made.runs)]))
                    for chart, line in zip(history_charts(made), made.series)
                    if line.program in programs])


def history_blocks(made, shown=()):
    """Each program's chart over the runs but those of shown (labels),
    already on the page, then the runs and the last run."""
    rest = [line.program for line in made.series if line.program not in shown]
    blocks = [Heading(2, "History per program and length"), figures_of(made, rest)] if rest else []
    blocks += [Heading(2, "Runs"), runs_table(made)]
    last, name = made.models[-1], made.runs[-1].name
    return blocks + [Heading(2, f"The last run: {name}"), *answer_blocks(last), compact(last)]


def before_after(runs_list, made, names, asked):
    """Two runs: what compare says of them first, then the history's
    charts, too short for changes of level to be looked for."""
    past = history.history(made, names)
    shown = []
    def first(labels):  # the candidates' figures, shown with their rows
        shown.extend(labels)
        return [figures_of(past, labels)]
    found = two_runs.blocks(*zip(runs_list, made), names, asked, first)
    other = other_machines(past)
    return found + ([Lines(other, "warnings")] if other else []) + history_blocks(past, shown)


def blocks(runs_list, names, asked=two_runs.Asked()):
    """The page's blocks: runs_list, as saved.load gives them."""
    made = [model.model(r) for r in runs_list]
    if len(made) == 1:
        return one_run(made[0], names[0])
    if len(made) == 2:
        return before_after(runs_list, made, names, asked)
    return several_runs(history.history(made, names))


def render(runs_list, names, form, asked=two_runs.Asked()):
    """The report of runs_list (runs.Runs, as saved.load gives them, in
    the order given; names: their files as the user named them) as
    bytes: form "html" or "markdown"; asked: what two runs are compared
    with."""
    content = blocks(list(runs_list), list(names), asked)
    title = f"dotprod-sweep report: {', '.join(names)}"
    return (html_page(title, content) if form == "html" else markdown_page(content)).encode()




def html(runs_list, names, asked=two_runs.Asked()):
    return render(runs_list, names, "html", asked)


def markdown(runs_list, names, asked=two_runs.Asked()):
    return render(runs_list, names, "markdown", asked)


def report_files(runs_list, names, html_path=None, markdown_path=None, asked=two_runs.Asked()):
    """{destination: bytes} for each destination asked (None: not asked),
    in the order given: the caller writes them, as every file the sweep
    writes, whole or not at all."""
    return {path: render(runs_list, names, form, asked)
            for path, form in ((html_path, "html"), (markdown_path, "markdown"))
            if path is not None}
