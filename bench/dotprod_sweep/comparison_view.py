# SPDX-License-Identifier: MIT
"""The comparison of two sweeps as text: what differs between the runs
first, then a padded Markdown table of the lengths both timed, the
geometric means, and what only one of them measured. A view: it
computes no figure of its own. Fits 120 columns with labels of 20."""

import math
import textwrap

from . import comparison
from .messages import one_line
from .table import markdown


def sig3(x):
    """Three significant digits, never in exponent form: a ratio column
    reads 533 and 0.0123 alike."""
    if x == 0:
        return "0"
    return f"{x:.{max(0, 2 - math.floor(math.log10(abs(x))))}f}"


def seconds(x):
    # One notation for a column whose times span nanoseconds to seconds.
    return "n/a" if x is None else f"{x:.2e}"


def ratio(value, iv):
    if iv is None:
        return "n/a"
    return f"{sig3(value)} ({sig3(iv.low)}–{sig3(iv.high)})"


def called(value, verdict):
    """The call with its size: a factor from 1.5 on, a share below."""
    if verdict == comparison.SAME:
        return verdict
    factor = value if verdict == comparison.SLOWER else 1 / value
    if factor >= 1.5:
        return f"{verdict}, about {factor:.2g}×"
    return f"{verdict} by about {(factor - 1) * 100:.0f} %"


def paragraph(text):
    return textwrap.fill(text, 100, break_on_hyphens=False, break_long_words=False)


def percent(fraction):
    return f"{fraction * 100:g} %"


def row_call(r):
    if r.failure:
        return f"failed in {r.failure}"
    if r.interval is None:
        return "no usable time in " + ("old" if not r.old else "new")
    return called(r.ratio, r.call)


def table(result):
    rows = [[r.length, one_line(r.program), seconds(r.old_median),
             seconds(r.new_median), ratio(r.ratio, r.interval), row_call(r)]
            for r in result.rows]
    return markdown(["N", "program", "old median (s)", "new median (s)",
                     "new/old, 95 % interval", "call"], "rlrrrl", rows)


def listed(keys):
    """'label at N=1000, 10000' per program, from (program, params, length)."""
    programs = {}
    for program, params, n in keys:
        programs.setdefault((program, params), []).append(str(n))
    return [f"  {one_line(p)} at N={', '.join(lengths)}"
            for (p, params), lengths in programs.items()]


def render(result, names=("old", "new"), fail_above=None):
    """The whole text, as bytes, ending in a newline."""
    old, new = (one_line(n) for n in names)
    lines = [f"Old: {old}; new: {new}. A change is called only where the whole 95 % "
             f"interval lies beyond ±{percent(result.threshold)}."]
    if result.differences:
        lines.append("The two runs differ (their times may differ for that alone):")
        lines += [f"  {d.key}: {one_line(d.old)} (old), {one_line(d.new)} (new)"
                  for d in result.differences]
    else:
        lines.append("Same machine and build.")
    if None not in result.loads:
        lines.append("Load average at the start: {:.2f} (old), {:.2f} (new).".format(*result.loads))
    parts = ["\n".join(lines)]
    if result.rows:
        parts.append(table(result))
    else:
        parts.append("Nothing to compare: no program, scan values and length was timed in both.")
    if result.drifted:
        parts.append(paragraph(
            f"{one_line(result.reference)} is called {result.drifted[0].call} at N="
            + ", ".join(str(r.length) for r in result.drifted)
            + ": unless it changed, the machine ran at another speed in one of the runs, and every "
            "call may be off by as much. Rerun both on a quiet machine, pinned (taskset -c)."))
    coarse = [r for r in result.rows if r.coarse]
    if coarse:
        parts.append(paragraph(
            "Printed too coarsely to tell a change (the last digit is worth more than 1 % of "
            "the time): " + ", ".join(f"{one_line(r.program)} at N={r.length}" for r in coarse)
            + ". Print the time with %.9f or %g."))
    if result.means:
        parts.append("Geometric mean of new/old over the lengths, per program:\n" + "\n".join(
            f"  {one_line(m.program)}: {ratio(m.ratio, m.interval)} over "
            f"{len(m.lengths)} lengths, {called(m.ratio, m.call)}" for m in result.means))
    for keys, name in [(result.only_old, old), (result.only_new, new)]:
        if keys:
            parts.append(f"Only in {name}:\n" + "\n".join(listed(keys)))
    if fail_above is not None:
        slow = result.slower_than(fail_above)
        parts.append(f"Slower than {percent(fail_above)} with the whole interval:\n" + "\n".join(
            f"  {one_line(x.program)} "
            + (f"at N={x.length}" if isinstance(x, comparison.Row) else "over all its lengths")
            for x in slow) if slow else
            f"Nothing is slower than {percent(fail_above)} with the whole interval.")
    return ("\n\n".join(parts) + "\n").encode()


def compare_files(old_runs, new_runs, threshold=comparison.THRESHOLD, fail_above=None,
                  names=("old", "new")):
    """What `dotprod-sweep compare` prints, and its status. threshold and
    fail_above are fractions (0.05 for 5 %); names are the two files' names.
    Status 2 where the files share no program, scan values and length:
    a gate must not pass on a comparison of nothing."""
    result = comparison.compare(old_runs, new_runs, threshold)
    text = render(result, names, fail_above)
    return text, comparison.status(result, fail_above) if result.rows else 2
