# SPDX-License-Identifier: MIT
"""Two sweeps compared: for each program, scan values and length that
both measured, how the loop time changed, with a 95 % interval and a
call. Pure functions from two Runs to a frozen model; nothing here reads
a file or starts a process.

The interval: shift_interval's, on the loop times of the two sweeps,
which were not made in pairs.

The paired figure. Within one sweep every program ran once a round
beside the control (the baseline, unless asked otherwise), so each round
gives the program's time over the control's: a machine that ran slower
for the whole of one sweep slows both alike, and the ratio keeps none of
it. The same rank interval, on those per-round ratios of the two sweeps,
gives new / old of the program against the control: the ratio of ratios.
The call and the gate use it where both sweeps ran the control; the
absolute times stay beside it. Only candidates are gated: the control and
dotprod are yardsticks, whose moves are the machine's unless they changed.

The geometric mean over L lengths weighs every length alike: of each
length's shift, the Hodges-Lehmann estimate (the median of its
differences, always inside its interval), and the interval at
1 - 0.05 / L, so that all L hold at once in 95 % of comparisons or more
(Bonferroni), and so does the one their logarithms' mean spans. Pooling
every length's differences into one rank test would weigh a length by
its pairs of runs, and could put the mean outside its own interval."""

import dataclasses
import math
import statistics
from dataclasses import dataclass

from . import model, stats
from .differences import commits, differences, program_differences, same_code
from .soundness import FAILED, soundness, unsound_at
from .flags import coarse
from .shift_interval import Interval, interval, shift
from ..facts.runs import TIMED
from .stats import CONFIDENCE, SLACK

THRESHOLD = 0.05      # a change smaller than this fraction is not called one

# A change beyond the threshold either way, the same within it, or an
# interval that reaches both within and beyond it: then it cannot tell.
FASTER, SLOWER, SAME, CANNOT_TELL = "faster", "slower", "the same", "cannot tell"
# A program that ran the very same code in both (differences.same_code):
# its change beyond the threshold is the machine's, not a change of it.
MACHINE = "the machine's"
# What the gate finds of a row or a mean.
PASSED, FAILED_GATE = "passed", "failed"
PAIRED, ABSOLUTE = "paired", "absolute"   # what a call and the gate rest on


@dataclass(frozen=True)
class Change:
    """new / old of one figure: 2 is twice as slow."""
    ratio: float
    interval: Interval
    call: str            # FASTER, SLOWER, SAME or CANNOT_TELL

    def gate(self, limit):
        """PASSED where the whole interval lies at or below 1 + limit,
        FAILED_GATE where it lies wholly above, else CANNOT_TELL. An end on
        the limit is on it, whatever the last bit of its division says."""
        edge = 1 + limit
        if self.interval.low > edge * (1 + SLACK):
            return FAILED_GATE
        return PASSED if self.interval.high <= edge * (1 + SLACK) else CANNOT_TELL


@dataclass(frozen=True)
class Row:
    program: str
    params: tuple        # (NAME, value) pairs, as matched
    length: int
    old: tuple           # the usable loop times, seconds
    new: tuple
    failure: str | None  # "old", "new" or "both": a run failed there
    absolute: Change | None  # of the loop times; None where a side has none
    coarse: bool = False  # either side's times were printed with too few digits
    old_paired: tuple = ()  # per round, the loop time over the control's
    new_paired: tuple = ()
    paired: Change | None = None  # of those: drift that slows both alike cancels
    control: bool = False  # the control's own row: a yardstick, never gated
    unsound: tuple = ()  # (WRONG or IMPOSSIBLE, "old" or "new"): no call, no gate
    reference: bool = False  # dotprod's: the other yardstick, never gated
    same_code: bool = False  # the same files ran in both: no change of its own, never gated

    @property
    def old_median(self):
        return statistics.median(self.old) if self.old else None

    @property
    def new_median(self):
        return statistics.median(self.new) if self.new else None

    @property
    def called(self):
        """The change the call rests on: the paired one where there is one."""
        return self.paired or self.absolute

    @property
    def gated(self):
        """The change the gate rests on: none for the yardsticks, the
        control and dotprod, whose moves are the machine's unless they
        changed (as in a sweep's own gate, only candidates are gated), nor
        for a failed or an unsound row, nor for one that ran the same code
        in both, which the gate passes (Comparison.unchanged)."""
        if self.control or self.reference or self.unsound or self.failure or self.same_code:
            return None
        return self.called

    @property
    def basis(self):
        return PAIRED if self.paired else ABSOLUTE

    @property
    def failed_candidate(self):
        return self.failure in ("new", "both") and not (self.control or self.reference)


@dataclass(frozen=True)
class Mean:
    """A program's geometric mean of new / old over the lengths both
    files timed it at."""
    program: str
    params: tuple
    lengths: tuple
    absolute: Change
    paired: Change | None  # where every one of those lengths has a paired change
    control: bool = False
    reference: bool = False
    same_code: bool = False

    @property
    def called(self):
        return self.paired or self.absolute

    @property
    def gated(self):
        return None if self.control or self.reference or self.same_code else self.called

    @property
    def basis(self):
        return PAIRED if self.paired else ABSOLUTE


@dataclass(frozen=True)
class Comparison:
    differences: tuple   # Difference, of machine and build
    rows: tuple          # Row, by length, then program
    means: tuple         # Mean, per program timed at two lengths or more
    only_old: tuple      # (program, params, length) measured in old only
    only_new: tuple
    threshold: float     # a fraction: 0.05 for 5 %
    control: str | None  # the program both sweeps ran that paired changes are over
    loads: tuple         # the load average at each sweep's start, or None
    verdicts: tuple = ()  # Verdict, per candidate both sweeps ran
    unsound: tuple = ()  # Unsound, old's first
    control_missing: str | None = None  # --control named a program not in both
    commits: tuple = (None, None)  # of what each timed, short, or None

    @property
    def drifted(self):
        """The control's rows called a change, on their own times: unless
        the control itself changed, the machine ran at another speed,
        which no interval made of each sweep's own noise covers."""
        return [r for r in self.rows
                if r.control and r.absolute is not None and r.absolute.call in (FASTER, SLOWER)]

    @property
    def refused(self):
        """The new sweep holds a wrong version or an impossible time: no
        gate passes it."""
        return [u for u in self.unsound if u.side == "new" and u.standing != FAILED]

    @property
    def unchanged(self):
        """Whether every candidate's row ran the same code in both sweeps:
        what moved is the machine's, and a gate passes."""
        rows = [r for r in self.rows if not (r.control or r.reference)]
        return bool(rows) and all(r.same_code and not r.failure for r in rows)

    def gated(self, limit, outcome):
        """The rows and means whose gated change has outcome at limit; a
        candidate's row that failed in the new run, which has no change to
        gate, it cannot tell."""
        return [x for x in (*self.rows, *self.means)
                if x.gated is not None and x.gated.gate(limit) == outcome or
                outcome == CANNOT_TELL and isinstance(x, Row) and x.failed_candidate]

    def slower_than(self, limit):
        """The rows and means slower than 1 + limit with their whole
        interval, on the change they are gated on."""
        return self.gated(limit, FAILED_GATE)


def direction(iv, threshold):
    """Slower only where the whole interval lies above 1 + threshold;
    faster where it lies below 1 / (1 + threshold), the same step the
    other way; the same where it lies within both; otherwise it cannot
    tell."""
    if iv.low > 1 + threshold:
        return SLOWER
    if iv.high < 1 / (1 + threshold):
        return FASTER
    if iv.low >= 1 / (1 + threshold) and iv.high <= 1 + threshold:
        return SAME
    return CANNOT_TELL


def change(old, new, threshold):
    """new / old of two groups of values, or None where a group is empty."""
    if not old or not new:
        return None
    iv = interval(old, new)
    before = statistics.median(old)
    ratio = statistics.median(new) / before if before > 0 else math.inf  # old underflowed to 0
    return Change(ratio, iv, direction(iv, threshold))


def key(params):
    """Scan values, as a sweep or its saved JSON holds them, as one key."""
    return tuple(sorted((str(k), str(v)) for k, v in dict(params or ()).items()))


def usable(group):
    # A time printed as 0 has no logarithm, and tells nothing.
    return [r for r in group if not r.failure and r.time_text is not None and r.seconds > 0]


def side(group):
    """One file's timed runs of a program at a length: the usable times,
    whether a run failed, and whether the times were printed coarsely."""
    times = usable(group)
    return tuple(r.seconds for r in times), any(r.failure for r in group), coarse(times)


def measured(runs):
    """{(program, params key, length): side(its timed runs)}."""
    groups, keys = {}, {p: key(runs.params.get(p)) for p in runs.programs}
    for r in runs.runs:
        if r.kind == TIMED:
            params = keys[r.program] if r.program in keys else key(runs.params.get(r.program))
            groups.setdefault((r.program, params, r.length), []).append(r)
    return {k: side(group) for k, group in groups.items()}


def rounds(runs):
    """{(program, length): {round: its usable loop time}} of a run's timed
    runs, made in one pass: each program is paired with the control."""
    found = {}
    for r in usable(r for r in runs.runs if r.kind == TIMED):
        found.setdefault((r.program, r.length), {})[r.repeat] = r.seconds
    return found


def relative(rounds, program, control, n):
    """Per round, program's loop time over the control's in that round:
    the two runs made closest in time, whatever the machine did between
    rounds (stats.by_round: a steady control skips rounds). A round where
    program has no usable time gives none. rounds: the run's rounds()."""
    pairs = stats.by_round(rounds.get((program, n), {}), rounds.get((control, n), {}))
    return tuple(mine / theirs for mine, theirs in pairs)


def own(found, same):
    """found, a Change, as the program's own: where it ran the same code in
    both (same), a move beyond the threshold is the machine's."""
    if same and found is not None and found.call in (FASTER, SLOWER):
        return dataclasses.replace(found, call=MACHINE)
    return found


def row(program, params, n, sides, threshold, paired=((), ()), control=False, unsound=(),
        reference=False, same=False):
    """sides: (old, new) side(); paired: (old, new) relative times; same:
    the program ran the same code in both (differences.same_code)."""
    (old_times, old_failed, old_coarse), (new_times, new_failed, new_coarse) = sides
    failure = {(True, True): "both", (True, False): "old",
               (False, True): "new"}.get((old_failed, new_failed))
    if failure:
        return Row(program, params, n, old_times, new_times, failure, None, unsound=unsound,
                   reference=reference, same_code=same)
    return Row(program, params, n, old_times, new_times, None,
               own(change(old_times, new_times, threshold), same), old_coarse or new_coarse,
               *paired, None if control else own(change(*paired, threshold), same), control,
               unsound, reference, same)


def geometric(values):
    return math.exp(statistics.fmean(math.log(v) for v in values))


def mean_change(pairs, threshold):
    """The geometric mean of new / old over lengths, from each length's
    (old values, new values)."""
    each = [interval(a, b, 1 - (1 - CONFIDENCE) / len(pairs)) for a, b in pairs]
    iv = Interval(geometric(i.low for i in each), geometric(i.high for i in each),
                  max(0.0, 1 - sum(1 - i.coverage for i in each)))
    return Change(geometric(shift(a, b) for a, b in pairs), iv, direction(iv, threshold))


def mean(rows, threshold):
    rows = [r for r in rows if r.absolute is not None and not r.unsound]
    if len(rows) < 2:
        return None
    paired = mean_change([(r.old_paired, r.new_paired) for r in rows], threshold) \
        if all(r.paired for r in rows) else None
    same = all(r.same_code for r in rows)
    return Mean(rows[0].program, rows[0].params, tuple(r.length for r in rows),
                own(mean_change([(r.old, r.new) for r in rows], threshold), same),
                own(paired, same), rows[0].control, rows[0].reference, same)


def chosen(old, new, timed, given):
    """The control: given, else the first of new's baseline, old's baseline
    and dotprod that both sweeps timed; None where none is."""
    if given is not None:
        return given if given in timed else None
    return next((p for p in (new.baseline, old.baseline, new.reference) if p in timed), None)


def matched(found, runs, sides, made, control, threshold, same):
    """The Row of found, (program, params key, length), timed in both runs;
    sides: each run's (measured(), rounds()); same: {program: whether it ran
    the same code in both}."""
    p, params, n = found
    paired = tuple(relative(r, p, control, n) for _, r in sides) \
        if control is not None and p != control else ((), ())
    flawed = tuple(x for m, which in zip(made, ("old", "new")) for x in unsound_at(m, p, n, which))
    return row(p, params, n, (sides[0][0][found], sides[1][0][found]), threshold, paired,
               p == control, flawed, p == runs[1].reference, same[p])


def compare(old, new, threshold=THRESHOLD, control=None, models=None):
    """The comparison of two sweeps' Runs; threshold is a fraction;
    control: the label paired changes are over, by default the baseline;
    models: theirs, where already made."""
    before, after = measured(old), measured(new)
    made = models or (model.model(old), model.model(new))
    yardstick = chosen(old, new, {k[0] for k in before} & {k[0] for k in after}, control)
    # In the order the programs took turns, as in the sweep's own table.
    turn = {p: i for i, p in enumerate(dict.fromkeys((*new.programs, *old.programs)))}
    both = sorted(set(before) & set(after), key=lambda k: (k[2], turn.get(k[0], len(turn)), k))
    sides = ((before, rounds(old)), (after, rounds(new)))
    # The yardsticks' moves stay called as they are: they tell the machine's drift.
    same = {p: p not in (yardstick, new.reference) and same_code(old, new, p)
            for p in {k[0] for k in both}}
    rows = tuple(matched(k, (old, new), sides, made, yardstick, threshold, same)
                 for k in both)
    programs = dict.fromkeys((r.program, r.params) for r in rows)
    means = tuple(m for m in (mean([r for r in rows if (r.program, r.params) == p], threshold)
                              for p in programs) if m)
    flawed, verdicts = soundness(made)
    shared = [p for p in new.programs if p in old.programs]
    return Comparison(differences(old.machine, new.machine) +
                      program_differences(old, new, shared), rows, means,
                      tuple(sorted(set(before) - set(after))),
                      tuple(sorted(set(after) - set(before))), threshold, yardstick,
                      (old.machine.get("load_start"), new.machine.get("load_start")),
                      verdicts, flawed, control if yardstick is None else None,
                      commits(old.machine, new.machine))


def status(comparison, fail_above):
    """2 where the files share no program, scan values and length, or the
    control asked for is not in both: a gate must not pass on a comparison
    of nothing. With fail_above, a fraction: 1 where the new sweep holds a
    wrong version or an impossible time, else 3 where some program is
    slower than fail_above with its whole interval, else 4 where some
    interval reaches past it: the gate cannot tell. Else 0."""
    if not comparison.rows or comparison.control_missing is not None:
        return 2
    if fail_above is None:
        return 0
    if comparison.refused:
        return 1
    if comparison.slower_than(fail_above):
        return 3
    gated = [x for x in (*comparison.rows, *comparison.means) if x.gated is not None]
    if not gated:
        return 0 if comparison.unchanged else 4
    return 4 if comparison.gated(fail_above, CANNOT_TELL) else 0
