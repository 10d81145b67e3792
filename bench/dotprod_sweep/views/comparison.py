# SPDX-License-Identifier: MIT
"""The comparison of two sweeps as text: first whether either sweep was
wrong, impossible or failed, and what differs between the runs; then each
candidate's verdict in both, a padded Markdown table of the lengths both
timed, the cautions, the geometric means, what only one of them measured
and the gate. A view: it computes no figure of its own. Fits 120 columns
at lengths up to 10^7 with labels of 20, or, beside a paired column, of
16 for changes within 10× either way."""

import math

from ..figures import comparison as c, soundness as s
from ..messages import one_line
from .table import markdown
from .formats import decimals, length_text, plain, wrapped

STANDINGS = {s.WRONG: "is wrong", s.IMPOSSIBLE: "claims an impossible time", s.FAILED: "failed"}


def as_typed(fraction):
    """A percent the user gave, as given: formats.percent rounds to whole
    percents, and --threshold 2.5 must not read as 2 %."""
    return f"{fraction * 100:g} %"


def seconds(x):
    # One notation for a column whose times span nanoseconds to seconds.
    return "n/a" if x is None else f"{x:.2e}"


def ratio(change):
    if change is None:
        return "n/a"
    return f"{plain(change.ratio)} ({plain(change.interval.low)}–{plain(change.interval.high)})"


def called(change):
    """The call with its size: a factor from 1.5 on, a share below; the
    machine's, with which way it moved."""
    if change.call in (c.SAME, c.CANNOT_TELL):
        return change.call
    slower = change.call == c.SLOWER or change.call == c.MACHINE and change.ratio > 1
    factor = change.ratio if slower else 1 / change.ratio if change.ratio > 0 else math.inf
    if not math.isfinite(factor):  # a ratio that overflowed, or underflowed to 0
        return change.call
    way = c.SLOWER if slower else c.FASTER
    if change.call == c.MACHINE:
        return f"machine: {factor:.2g}× {way}"  # as wide as the widest other call
    if factor >= 1.5:
        return f"{way}, about {factor:.2g}×"
    return f"{way} by about {(factor - 1) * 100:.0f} %"


def joined(items):
    return items[0] if len(items) == 1 else ", ".join(items[:-1]) + " and " + items[-1]


def row_call(r):
    if r.failure:
        return f"failed in {r.failure}"
    if r.absolute is None:
        return "no usable time in " + ("old" if not r.old else "new")
    if r.unsound:
        sides = {}
        for word, which in r.unsound:
            sides.setdefault(word, []).append(which)
        return ", ".join(f"{word} in {which[0] if len(which) == 1 else 'both'}"
                         for word, which in sides.items())
    return called(r.called)


def cells(result):
    """(header, aligns, rows) of the table of the lengths both timed: the
    one compare prints, and the report's."""
    paired = result.control is not None
    rows = [[str(r.length), r.program, seconds(r.old_median), seconds(r.new_median),
             ratio(r.absolute), *(["control" if r.control else ratio(r.paired)] if paired else []),
             row_call(r)] for r in result.rows]
    return (["N", "program", "old (s)", "new (s)", "absolute, 95 %",
             *(["paired, 95 %"] if paired else []), "call"], "rlrrr" + "r" * paired + "l", rows)


def table(result):
    return markdown(*cells(result))


def key_line(result):
    """What the table's columns hold."""
    said = ("old (s), new (s): median loop times. absolute: new/old of those times, 2 is twice "
            "as slow")
    if result.control is None:
        return wrapped(said + "; no program ran in both sweeps to pair the times with, and a "
                       "machine that ran at another speed in one of them moves every call.")
    said = wrapped(said + f"; paired: new/old of each round's time over {result.control}'s, "
                   "the control, in which the machine's drift cancels. The call rests on the "
                   "paired ratio where there is one.")
    if any(r.same_code for r in result.rows):
        said += "\n" + wrapped("machine: the program ran the same code in both, its command, "
                               "executables and shared objects byte for byte: what moved is "
                               "the machine's, not the program's, and no gate fails on it.")
    return said


def unsound_lines(result, names):
    """Said first: the programs that made either sweep exit 1."""
    lines = []
    for which, name in zip(("old", "new"), names):
        found = [f"{u.program} {STANDINGS[u.standing]}" for u in result.unsound
                 if u.side == which]
        if found:
            lines.append(wrapped(f"In {name}, {joined(found)}: that sweep exited 1."))
    if any(r.unsound for r in result.rows):
        lines.append("The rows of a wrong version, and impossible times, get no call and no gate.")
    return lines


def named(name, commit):
    return f"{name} (commit {commit})" if commit else name


def header(result, names):
    old, new = (named(n, c) for n, c in zip(names, result.commits))
    lines = [f"Old: {old}; new: {new}. A change is called only where the whole 95 % "
             f"interval lies beyond ±{as_typed(result.threshold)}, the same where it lies "
             "within, and cannot tell otherwise.",
             *unsound_lines(result, names)]
    if result.differences:
        lines.append("The two runs differ (their times may differ for that alone):")
        lines += [f"  {d.key}: {d.old} (old), {d.new} (new)" for d in result.differences]
    else:
        lines.append("Same machine and build.")
    if None not in result.loads:
        lines.append("Load average at the start: {} (old), {} (new).".format(
            *(decimals(load, 2) for load in result.loads)))
    return "\n".join(lines)


def verdict_lines(result):
    if not result.verdicts:
        return None
    return "Verdicts, old → new:\n" + "\n".join(f"  {v.program}: {v.old} → {v.new}"
                                                 for v in result.verdicts)


def drift_line(result):
    """Where the control's own times changed, in which direction at which
    lengths."""
    if not result.drifted:
        return None
    by_call = {}
    for r in result.drifted:
        by_call.setdefault(r.absolute.call, []).append(str(r.length))
    where = " and ".join(f"{call} at N={', '.join(lengths)}" for call, lengths in by_call.items())
    unpaired = any(r.gated is not None and r.paired is None for r in result.rows)
    return wrapped(
        f"{result.control}, the control, is called {where} on its own times: unless it changed, "
        "the machine ran at another speed in one of the runs. The paired ratios cancel that; the "
        "absolute ones may be off by as much"
        + (", and so may the calls of rows with no paired ratio. Rerun both on a quiet machine, "
           "pinned (taskset -c)." if unpaired else "."))


def coarse_line(result):
    coarse = [r for r in result.rows if r.coarse]
    if not coarse:
        return None
    return wrapped(
        "Printed too coarsely to tell a change (the last digit is worth more than 1 % of the "
        "time): " + ", ".join(f"{r.program} at N={r.length}" for r in coarse)
        + ". Print the time with %.9f or %g.")


def mean_line(m):
    figures = (f"paired {ratio(m.paired)}, absolute {ratio(m.absolute)}" if m.paired else
               f"absolute {ratio(m.absolute)}")
    role = "the control, " if m.control else ""
    return (f"  {m.program}: {figures} over {len(m.lengths)} lengths, {role}"
            f"{called(m.called)}")


def means(result):
    if not result.means:
        return None
    return ("Geometric mean of new/old over the lengths, per program:\n"
            + "\n".join(mean_line(m) for m in result.means))


def listed(keys):
    """'label at N=1000, 10000' per program, from (program, params, length)."""
    programs = {}
    for program, params, n in keys:
        programs.setdefault((program, params), []).append(str(n))
    return [f"  {p} at N={', '.join(lengths)}" for (p, params), lengths in programs.items()]


def gate(result, fail_above):
    """What --fail-above found, and on which figures."""
    limit = as_typed(fail_above)
    basis = (f"on the paired ratio to {result.control} where there is one, else on the absolute "
             "one" if result.control else "on the absolute ratios: no control ran in both sweeps")
    lines = [wrapped(f"Gated at {limit} {basis}{yardsticks(result)}.")]
    if result.refused:
        lines.append(wrapped(
            f"The new run holds {joined([f'{u.program} ({u.standing})' for u in result.refused])}"
            ": status 1, whatever its times."))
    slow = result.slower_than(fail_above)
    if slow:
        lines += [f"Slower than {limit} with the whole interval:"] + [
            f"  {x.program} " + (f"at N={x.length}" if isinstance(x, c.Row) else
                                 "over all its lengths") + f" ({x.basis})" for x in slow]
    else:
        lines.append(f"Nothing is slower than {limit} with the whole interval.")
    return "\n".join(lines + [gate_line(result, fail_above)])


def where(x):
    return f"at N={length_text(x.length)}" if isinstance(x, c.Row) else "over all its lengths"


def slowdown(change):
    """new / old as a reader says it: '1.08× slower (1.02–1.15)'."""
    low, high = change.interval.low, change.interval.high
    if change.ratio >= 1 or not (change.ratio > 0 and low > 0):
        return f"{plain(change.ratio)}× slower ({plain(low)}–{plain(high)})"
    return f"{plain(1 / change.ratio)}× faster ({plain(1 / high)}–{plain(1 / low)})"


def gate_line(result, fail_above):
    """The gate's outcome in one line: failed, cannot tell, or passed."""
    limit = as_typed(fail_above)
    if result.refused:
        return "gate failed: the new run holds a wrong version or an impossible time"
    slow = result.slower_than(fail_above)
    if slow:
        x = slow[0]
        return (f"gate failed: {x.program} is slower than in the old run by more than {limit} "
                f"{where(x)}: {slowdown(x.gated)}")
    unsure = result.gated(fail_above, c.CANNOT_TELL)
    if unsure:
        x, more = unsure[0], len(unsure) - 1
        why = (f"failed in the {'new run' if x.failure == 'new' else 'both runs'}"
               if x.gated is None else
               f"is {slowdown(x.gated)}, an interval that reaches past {limit} slower")
        return (f"gate cannot tell {where(x)}: {x.program} {why}"
                + (f" (and {more} more)" if more else "")
                + "; rerun both with more budget or on a quieter machine")
    gated = [x for x in (*result.rows, *result.means) if x.gated is not None]
    if not gated and result.unchanged:
        return ("gate passed: every candidate ran the same code in both runs; what moved is "
                "the machine's")
    if not gated:
        return "gate cannot tell: no candidate was timed in both runs"
    x = max(gated, key=lambda g: g.gated.interval.high)
    return (f"gate passed: every candidate within {limit} of the old run at every length "
            f"(worst: {x.program} {where(x)}, {slowdown(x.gated)})")


def yardsticks(result):
    """The programs never gated, the control and dotprod, as a clause."""
    found = list(dict.fromkeys(f"{r.program}, the {'control' if r.control else 'reference'},"
                               for r in result.rows if r.control or r.reference))
    if not found:
        return ""
    return f"; {joined(found)} {'are' if len(found) > 1 else 'is'} not gated"


def missing_control(result):
    both = ", ".join(dict.fromkeys(r.program for r in result.rows))
    return wrapped(f"--control {one_line(result.control_missing)}: no program of that label "
                   f"was timed in both runs, so nothing can be paired with it. Both timed: {both}.")


def render(result, names=("old", "new"), fail_above=None):
    """The whole text, as bytes, ending in a newline."""
    names = tuple(one_line(n) for n in names)  # as typed on the command line
    parts = [header(result, names)]
    if result.control_missing is not None and result.rows:
        return ("\n\n".join(parts + [missing_control(result)]) + "\n").encode()
    parts.append(verdict_lines(result))
    if result.rows:
        parts += [key_line(result), table(result)]
    else:
        parts.append("Nothing to compare: no program, scan values and length was timed in both.")
    parts += [drift_line(result), coarse_line(result), means(result)]
    for keys, name in [(result.only_old, names[0]), (result.only_new, names[1])]:
        if keys:
            parts.append(f"Only in {name}:\n" + "\n".join(listed(keys)))
    if fail_above is not None:
        parts.append(gate(result, fail_above))
    return ("\n\n".join(p for p in parts if p) + "\n").encode()


def compare_runs(old_runs, new_runs, threshold=c.THRESHOLD, fail_above=None,
                 names=("old", "new"), control=None, models=None):
    """What `dotprod-sweep compare` prints, and its status (comparison.status).
    threshold and fail_above are fractions (0.05 for 5 %); names are the
    two runs' names; control: the label paired changes are over, by
    default the baseline; models: the two runs', where already made."""
    result = c.compare(old_runs, new_runs, threshold, control, models)
    return render(result, names, fail_above), c.status(result, fail_above)
