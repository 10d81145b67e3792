# SPDX-License-Identifier: MIT
"""Every column of a row, once: its name in the CSV and the JSON, its
unit, how to get its figure from a row, and how each table shows it.
The CSV, the JSON's summary and the tables are all made from COLUMNS, in
its order: adding a column is one entry here (and its figure in the
model)."""

import csv
import io
import math
from dataclasses import dataclass, field

from . import prose
from ..facts import launchers, printed
from ..figures import threads, verdict
from .formats import (MIB, bold, cell, decimals, in_one_notation, percent, plain, short_label,
                      span)

PASS_MARKS = {1: "†", 2: "‡"}  # a first pass's ceiling, a second pass's


@dataclass(frozen=True)
class Shown:
    """How one table shows a column: its header (a text, or a function of
    the model), its alignment ('l' or 'r') and its cell."""
    header: object
    align: str
    show: object  # (row, model) -> text


@dataclass(frozen=True)
class Column:
    key: str                # its name in the CSV and the JSON
    unit: str               # of its figure: "s", "bytes", "GB/s", "" for none
    get: object = None      # (row, model) -> the figure; None: a table's column only
    csv: object = True      # True: the figure; a function of it; False: not in the CSV
    json: object = True     # the same, for the JSON's summary
    tables: dict = field(default_factory=dict)  # table name -> Shown


def figure(name):
    return lambda s, model: getattr(s, name)


def ceiling_mark(threads, which):
    """" 2T" for two threads' ceiling; a dagger for a first pass's, a
    double one for a second pass's."""
    mark = "" if threads == 1 else f" {threads}T"
    return mark + ("" if mark else " ") + PASS_MARKS[which] if which else mark


def memory(s, model=None):
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
        return bold("wrong")
    return "float rounding" if short and s.verdict == verdict.FLOAT else s.verdict


def flag_notes(s):
    return list(dict.fromkeys(f.kind for f in s.flags))


def unchecked(s):
    return s.role == "candidate" and s.ceiling is None and s.median is not None


def notes(s, model=None):
    found = ["oversubscribed"] if s.oversubscribed else []
    found += [f"kept {decimals(s.cpus, 1)} CPUs busy, given {s.given_threads}"] if s.more_cpus else []
    found += [f"held to {s.share_threads or s.ceiling_threads} threads, "
              f"{'witnessed' if s.threads_from == threads.WITNESSED else 'counted'}"] \
        if s.counted else []
    found += [f"failed: {s.failure}"] if s.failure else []
    found += ["printed a time of 0: no speed"] if s.zero_time else []
    if s.impossible:
        found.append("**impossible**: faster than the machine reads")
    elif unchecked(s):
        found.append("speed not checked")
    found += flag_notes(s)
    found += ["float rounding cannot confirm this result at this N"] \
        if s.verdict == verdict.FLOAT else []
    return "; ".join(found + (["baseline"] if s.baseline else []))


def note(s, model=None):
    """The one short note of the compact table: the flag lines below it
    say what to do."""
    for said, holds in (("failed", s.failure), ("too fast", s.impossible),
                        ("time 0", s.zero_time), ("speed not checked", unchecked(s)),
                        ("oversubscribed", s.oversubscribed), ("more CPUs", s.more_cpus)):
        if holds:
            return said
    return (flag_notes(s) or ["baseline" if s.baseline else ""])[0]


def interval(s, model=None):
    if s.speedup is None:
        return "n/a"
    return f"{plain(s.speedup_low)}–{plain(s.speedup_high)}"


def speedup(s, model=None):
    if s.baseline:
        return "1×"
    if s.speedup is None or not math.isfinite(s.speedup):  # over a time of 1e-320 s
        return "n/a"
    if len(s.ratios) < 2:
        return f"{plain(s.speedup)}× (one round)"
    return f"{plain(s.speedup)}× ({interval(s)})"


def rate(s, model=None):
    if s.gbs is None:
        return "n/a"
    if s.share is None:
        return plain(s.gbs)
    return f"{plain(s.gbs)} ({percent(s.share)}{ceiling_mark(s.share_threads, s.share_pass)})"


def share(s, model=None):
    """The row's share of its ceiling, with its interval and its mark."""
    if s.share is None:
        return "n/a"
    return (f"{percent(s.share)}{span(s.share_low, s.share_high)}"
            f"{ceiling_mark(s.share_threads, s.share_pass)}")


# The figures of the ceilings' lines, which the wide table shows in the
# columns of the rows' times and rates.
CEILING_FIGURES = {"median": "seconds", "gbs": "gbs"}


def in_column(model, name, value, scale=1):
    """value, times scale, in the one notation of the column of the rows'
    figure name, whose every value (the ceilings' too) decides it."""
    values = [getattr(s, name) for s in model.summaries]
    if name in CEILING_FIGURES:
        values += [getattr(c, CEILING_FIGURES[name]) for rows in model.ceilings.values()
                   for c in rows]
    return in_one_notation(value and value * scale, [v and v * scale for v in values])


def shown(name, form=None, scale=1):
    """A figure's cell: in form, or in the one notation of its column."""
    if form:
        return lambda s, model: cell(getattr(s, name), form)
    return lambda s, model: in_column(model, name, getattr(s, name), scale)


def launch(s, model):
    return s.launch and launchers.facts(s.launch, model.machine.get("cores"), s.oversubscribed)


RIGHT = "r"
COLUMNS = (
    Column("length", "", figure("length"), tables={
        t: Shown("N", RIGHT, lambda s, m: s.length) for t in ("compact", "wide", "single")}),
    Column("program", "", figure("program"), tables={
        "compact": Shown("program", "l", lambda s, m: short_label(s.program)),
        "wide": Shown("program", "l", lambda s, m: s.program)}),
    Column("role", "", figure("role")),
    Column("baseline", "", lambda s, m: s.baseline, csv=False),
    Column("params", "", figure("params"), csv=lambda p: " ".join(f"{k}={v}" for k, v in p),
           json=dict),
    Column("repeats", "", figure("repeats")),
    Column("time", "s", figure("median"), tables={
        "compact": Shown("loop µs", RIGHT, shown("median", scale=1e6)),
        "wide": Shown("loop median (s)", RIGHT, shown("median")),
        "single": Shown("median time (s)", RIGHT, shown("median"))}),
    Column("time_min", "s", figure("low"), tables={"single": Shown("min (s)", RIGHT, shown("low"))}),
    Column("time_max", "s", figure("high"),
           tables={"single": Shown("max (s)", RIGHT, shown("high"))}),
    Column("ns_per_term", "ns", tables={
        "single": Shown("ns per term", RIGHT, shown("ns_per_term"))}),
    Column("wall", "s", figure("wall"), tables={
        t: Shown("process wall (s)", RIGHT, shown("wall")) for t in ("wide", "single")}),
    Column("speedup", "", figure("speedup"), tables={
        "compact": Shown("speedup", RIGHT, speedup),
        "wide": Shown(lambda m: f"speedup over {m.baseline}", RIGHT, shown("speedup"))}),
    Column("speedup_low", "", figure("speedup_low")),
    Column("speedup_high", "", figure("speedup_high")),
    Column("interval", "", tables={"wide": Shown("95 % interval", RIGHT, interval)}),
    Column("interval_coverage", "", figure("coverage")),
    Column("noisy", "", figure("noisy"), csv=False),
    Column("two_clusters", "", figure("clusters"), csv=False),
    Column("coarse", "", figure("coarse"), csv=False),
    Column("gbs", "GB/s", figure("gbs"), tables={
        "compact": Shown("GB/s (ceiling)", RIGHT, rate),
        "wide": Shown("GB/s", RIGHT, shown("gbs"))}),
    Column("ceiling_gbs", "GB/s", figure("ceiling_gbs")),
    Column("impossible", "", figure("impossible"), csv=False),
    Column("share", "", figure("share"), tables={"wide": Shown("of ceiling", RIGHT, share)}),
    Column("share_low", "", figure("share_low")),
    Column("share_high", "", figure("share_high")),
    Column("share_threads", "", figure("share_threads")),
    Column("share_first", "", lambda s, m: s.share_pass == 1),
    Column("share_second", "", lambda s, m: s.share_pass == 2),
    Column("peak_bytes", "bytes", figure("peak"), tables={
        t: Shown("peak memory (MiB)", RIGHT, memory) for t in ("wide", "single")}),
    Column("peak_of", "", figure("peak_of")),
    Column("vectors", "MiB", tables={
        "single": Shown("8·N (MiB)", RIGHT, lambda s, m: cell(s.vectors / MIB))}),
    Column("beyond_vectors", "MiB", tables={"single": Shown(
        "peak − 8·N (MiB)", RIGHT, lambda s, m: cell(s.beyond_vectors and s.beyond_vectors / MIB))}),
    Column("result", "", figure("result"), tables={
        "wide": Shown("result", RIGHT, lambda s, m: s.result or "n/a")}),
    Column("relative_error", "", figure("relative_error"), tables={
        "wide": Shown("relative error", RIGHT, shown("relative_error", ".2e"))}),
    Column("verdict", "", figure("verdict"), tables={
        "compact": Shown("verdict", "l", lambda s, m: judged(s, short=True)),
        "wide": Shown("verdict", "l", lambda s, m: judged(s))}),
    Column("launch", "", launch, csv=False),
    Column("rank_memory", "bytes", figure("rank_memory"), csv=False, json=lambda m: m and {
        "total_bytes": m[0], "largest_rank_bytes": m[1]}),
    Column("own_noise", "", figure("own_noise"), csv=False),
    Column("cpus", "", figure("cpus"), csv=False),
    Column("flags", "", figure("flags"), csv=lambda f: "; ".join(dict.fromkeys(x.kind for x in f)),
           json=lambda f: [{"flag": x.kind, "advice": prose.advice(x)} for x in f]),
    Column("notes", "", tables={"compact": Shown("note", "l", note),
                                "wide": Shown("notes", "l", notes)}),
    Column("failure", "", figure("failure")),
    Column("exact", "", figure("exact"), json=False),
    Column("noise_floor", "", lambda s, m: m.noise_floors.get(s.length), json=False),
)


def written(column, view, s, model):
    """A column's figure for row s as view ("csv" or "json") writes it."""
    form = getattr(column, view)
    value = column.get(s, model)
    return value if form is True else form(value)


def of_view(view):
    return [c for c in COLUMNS if c.get and getattr(c, view) is not False]


def json_row(s, model):
    return {c.key: written(c, "json", s, model) for c in of_view("json")}


# What a spreadsheet takes for the start of a formula in a text cell.
FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def inert(value):
    """A CSV cell a spreadsheet shows as it is: text that would start a
    formula (a label of '=HYPERLINK(...)') gets a leading quote; a number,
    or a number's printed text such as -0.5, is left alone."""
    if isinstance(value, str) and value.startswith(FORMULA_STARTS) and \
            not printed.NUMBER.fullmatch(value):
        return "'" + value
    return "" if value is None else value


def csv_text(model):
    """Every CSV column, one row per program and length, numbers in full."""
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    columns = of_view("csv")
    writer.writerow([c.key for c in columns])
    for s in model.summaries:
        writer.writerow([inert(written(c, "csv", s, model)) for c in columns])
    return out.getvalue().encode()


def table(name, model, rows):
    """(header, aligns, cells) of table name: one line per row, a Summary
    or, for the lines that are not a program's, {column key: text}."""
    columns = [c for c in COLUMNS if name in c.tables]
    header = [c.tables[name].header for c in columns]
    header = [h(model) if callable(h) else h for h in header]
    aligns = "".join(c.tables[name].align for c in columns)
    cells = [[r.get(c.key, "") for c in columns] if isinstance(r, dict) else
             [c.tables[name].show(r, model) for c in columns] for r in rows]
    return header, aligns, cells


def units():
    """Each JSON summary field's unit, where it has one."""
    return {c.key: c.unit for c in of_view("json") if c.unit}
