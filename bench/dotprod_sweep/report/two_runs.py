# SPDX-License-Identifier: MIT
"""The before/after part of a report of two runs, first on its page: what
`compare` says of them, as blocks, with each row's gate where a limit is
given. Views: every line and cell comes from views/comparison.py."""

from dataclasses import dataclass, replace

from ..figures import comparison as c
from ..messages import one_line
from ..views import comparison as said
from ..views.formats import bold
from .blocks import Heading, Lines, Table, Text

NOT_GATED = "not gated"


@dataclass(frozen=True)
class Asked:
    """What compare takes, for the two-run page: fractions, and a label."""
    threshold: float = c.THRESHOLD
    fail_above: float | None = None
    control: str | None = None


def row_gate(row, limit):
    """The gate's outcome at one row: the yardsticks and unsound rows are
    not gated; a candidate that failed in the new run cannot be told."""
    if row.gated is None:
        return c.CANNOT_TELL if row.failed_candidate else NOT_GATED
    return row.gated.gate(limit)


def comparison_table(result, fail_above):
    """compare's table of result's rows, with each row's gate where a
    limit is given."""
    header, aligns, rows = said.cells(result)
    if fail_above is None:
        return Table(header, aligns, rows)
    gates = [row_gate(r, fail_above) for r in result.rows]
    return Table([*header, f"gate at {said.as_typed(fail_above)}"], aligns + "l",
                 [[*cells, bold(g) if g != c.PASSED and g != NOT_GATED else g]
                  for cells, g in zip(rows, gates)])


def text_lines(text):
    """A view's lines as the page lists them: a wrapped line's indented
    continuations joined to it, and each indented item of a list (after a
    line that ends in a colon) a line of its own."""
    found, listing = [], False
    for line in filter(str.strip, text.splitlines()):
        if line.startswith("  ") and found and not listing:
            found[-1] += " " + line.strip()
            continue
        if not line.startswith("  "):
            listing = line.endswith(":")
        found.append(line.strip())
    return found


def gate_blocks(result, fail_above):
    if fail_above is None:
        return []
    outcome = said.gate_line(result, fail_above)
    return [Heading(2, "Gate"), Lines([outcome], "changes"),
            Lines(text_lines(said.gate(result, fail_above))[:-1], "notes")]


def title(result, names):
    """The page's title: the commits of what was timed, where both runs
    recorded their own; else the files' names."""
    old, new = result.commits
    if old and new and old != new:
        return f"Before and after: commit {old} → commit {new}"
    return f"Before and after: {names[0]} → {names[1]}"


def candidates_first(result, fail_above, figures_of):
    """The candidates' rows of compare's table, then their figures
    (figures_of(labels) gives those blocks): what a pull request's reader
    looks for first, before the yardsticks and the machine."""
    rows = tuple(r for r in result.rows if not (r.control or r.reference))
    if not rows:
        return []
    labels = list(dict.fromkeys(r.program for r in rows))
    return [Heading(2, "The candidates"), comparison_table(replace(result, rows=rows), fail_above),
            *figures_of(labels)]


def blocks(old, new, names, asked, figures_of=lambda labels: []):
    """The before/after blocks of two runs, each (runs, model), named as
    the user named their files; figures_of(labels): the blocks of those
    programs' figures, shown with their rows first."""
    names = tuple(one_line(n) for n in names)
    result = c.compare(old[0], new[0], asked.threshold, asked.control, (old[1], new[1]))
    found = [Heading(1, title(result, names)),
             *candidates_first(result, asked.fail_above, figures_of),
             Lines(text_lines(said.header(result, names)), "facts")]
    if result.control_missing is not None and result.rows:
        return found + [Lines([said.missing_control(result)], "warnings")]
    verdicts = said.verdict_lines(result)
    found += [Lines(text_lines(verdicts), "answers")] if verdicts else []
    if not result.rows:
        return found + [Text("Nothing to compare: no program, scan values and length was "
                             "timed in both.")] + gate_blocks(result, asked.fail_above)
    found += [Heading(2, "Before and after, per program and length"),
              comparison_table(result, asked.fail_above),
              Text(" ".join(said.key_line(result).split()))]
    notes = [said.drift_line(result), said.coarse_line(result), said.means(result)]
    for keys, name in [(result.only_old, names[0]), (result.only_new, names[1])]:
        if keys:
            notes.append(f"Only in {name}:\n" + "\n".join(said.listed(keys)))
    found += [Lines(text_lines(n), "notes") for n in notes if n]
    return found + gate_blocks(result, asked.fail_above)


def missing_control(old, new, asked):
    """The line that refuses --control where no program of that label was
    timed in both runs, as compare refuses it; else None. old, new: runs."""
    if asked.control is None:
        return None
    result = c.compare(old, new, asked.threshold, asked.control)
    return said.missing_control(result) if result.control_missing is not None else None
