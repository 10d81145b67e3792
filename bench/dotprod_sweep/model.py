# SPDX-License-Identifier: MIT
"""Every figure of a sweep, computed once from its runs: one Summary per
program and length, each candidate's verdict, the ceilings and the
scaling of scanned commands. The table, the JSON and the plot only show
them. Pure functions: nothing here starts a process."""

import math
import statistics
from dataclasses import dataclass, replace

from . import evidence, launchers, saved, stats, verdict
from .runs import NOT_RUN, PROBE, TIMED

MIB = 1024 * 1024
ALLOWANCE = 4 * MIB  # the memory a process may need beside its two vectors
IMPOSSIBLE = 1.5    # a rate this far above the machine's ceiling is no measurement
# No core reads its nearest cache faster than this: a claim above it per
# usable CPU is refused even where no ceiling could be measured.
ABSURD_PER_CPU = 1e12  # bytes per second
COARSE = 0.01       # a printed time whose last digit is worth more than 1 % of it
ERRATIC = 3         # a program whose runs differ this many times the machine's floor, ...
ERRATIC_LEAST = 0.05  # ... and by more than 5 %, is erratic
# Loops whose medians lie within this factor of each other run on the same
# time scale: a loop of microseconds varies more than one of seconds on any
# machine, so only the first is a floor for the second.
PEER_SCALE = 10
QUIET = "dotprod-quiet"  # dotprod's loop without its printing: a steady baseline


def vector_bytes(n):
    """The two vectors of n floats that every program reads."""
    return 8 * n


def speedups(baseline, runs):
    """Per repeat, the baseline's time over this program's: the ratio of
    two runs made one after the other, whatever the machine's speed did
    between repeats. A printed time of 0 gives no ratio."""
    return [b.seconds / r.seconds for b, r in zip(baseline, runs)
            if b.seconds > 0 and r.seconds > 0]


def ceiling_rates(runs, n):
    """The best read rates the machine showed at length n, in bytes per
    second: {threads: rate}."""
    return {c.threads: vector_bytes(n) / c.seconds for c in runs.ceilings
            if c.length == n and c.seconds > 0}


def pass_time(c, which):
    """Ceiling c's best "first" or "second" pass, where it said one that
    can be: no shorter than its best pass of all, no longer than its run."""
    seconds = getattr(c, which)
    return seconds if seconds and 0 < c.seconds <= seconds <= c.wall else None


def pass_rates(runs, n):
    """The best read rates of a first and of a second pass over vectors
    just built, where the ceiling said: ({threads: rate}, {threads: rate})."""
    return tuple({c.threads: vector_bytes(n) / pass_time(c, which) for c in runs.ceilings
                  if c.length == n and pass_time(c, which)} for which in ("first", "second"))


def fastest_possible(runs, ceiling):
    """The highest rate in bytes per second that a run may claim: a margin
    over the measured ceiling, or what no machine reaches where none was
    measured."""
    if ceiling:
        return IMPOSSIBLE * ceiling
    return ABSURD_PER_CPU * max(1, runs.machine.get("cores") or 1)


def fits_in(caches, size):
    """The smallest cache level that holds size bytes, or memory."""
    for cache in caches:
        if size <= cache["bytes"]:
            return f"L{cache['level']}"
    return "memory"


def judged(runs, program, n, kind):
    """The verdict class of program's results at length n."""
    exact = runs.exact.get(n)
    own = [r for r in runs.of(program, n, kind) if not r.failure]
    if exact is None or not own:
        return None, None
    reference = [r for r in runs.of(runs.reference, n, kind) if not r.failure]
    reference_text = reference[0].result_text if reference else None
    classes = [verdict.classify(n, r.result, r.result_half_unit, exact, reference_text,
                                runs.tolerance) for r in own]
    if program != runs.reference and evidence.wrong_at(runs, program, n):
        classes.append(verdict.WRONG)
    farthest = max(own, key=lambda r: abs(r.result - exact))
    return verdict.worst(classes), farthest


@dataclass(frozen=True)
class Summary:
    program: str
    role: str                 # "reference" (dotprod) or "candidate"
    baseline: bool            # speedups are taken over its times
    length: int
    params: tuple             # (NAME, value) of its scans
    repeats: int              # the timed runs that succeeded
    failure: str | None       # why it failed at this length, or None
    median: float | None      # seconds the loop took
    low: float | None
    high: float | None
    wall: float | None        # median seconds of the whole process
    peak: int | None          # the largest resident bytes of any run
    peak_of: str              # "tree" or "process"
    ratios: tuple             # per-repeat speedups over the baseline
    speedup: float | None
    speedup_low: float | None   # its 95 % interval
    speedup_high: float | None
    coverage: float | None    # what that interval reaches, 0.95 or more with 6 repeats
    clusters: bool            # its times fall into two clusters
    coarse: bool              # its printed times are too short for their digits
    ceiling: float | None     # bytes/s its nodes read with all their CPUs here
    impossible: bool          # faster than the machine can be
    verdict: str | None       # its result's class here
    result: str | None        # the printed result farthest from the exact value
    relative_error: float | None  # that result's, against the exact value
    exact: float | None
    own_noise: float | None = None  # how much its consecutive runs differ, as noise_floor
    share: float | None = None      # its rate over the nearest ceiling's, below
    share_threads: int | None = None  # that ceiling's threads
    share_pass: int | None = None   # that ceiling is of first (1) or second (2) passes
    flags: tuple = ()               # Flag: what the interval does not say, and what to do
    launch: object = None           # launchers.Launch: what its launcher was asked for
    rank_memory: tuple | None = None  # under a launcher: (job total, largest rank) bytes
    oversubscribed: bool = False    # a node runs more threads than it has CPUs
    least_gbs: float | None = None  # the slowest rate its printed times may stand for

    @property
    def zero_time(self):
        """Its loop printed a time of 0: no speed, however short."""
        return self.median == 0

    @property
    def launched(self):
        return self.launch is not None and self.launch.launcher != launchers.NONE

    @property
    def vectors(self):
        return vector_bytes(self.length)

    @property
    def memory_allowance(self):
        """The most memory a run at this length should need."""
        return self.vectors + ALLOWANCE

    @property
    def beyond_vectors(self):
        """What its peak holds beside the two vectors."""
        return self.peak - self.vectors if self.peak else None

    @property
    def ns_per_term(self):
        return self.median / self.length * 1e9 if self.median is not None else None

    @property
    def gbs(self):
        return self.vectors / self.median / 1e9 if self.median else None

    @property
    def ceiling_gbs(self):
        return self.ceiling / 1e9 if self.ceiling else None

    @property
    def of_ceiling(self):
        return self.gbs / self.ceiling_gbs if self.gbs and self.ceiling else None

    @property
    def wide(self):
        return self.speedup is not None and stats.is_wide(
            self.speedup_low, self.speedup, self.speedup_high)

    @property
    def noisy(self):
        return bool(self.flags)


@dataclass(frozen=True)
class Flag:
    kind: str     # "coarse", "clusters", "wide" or "erratic": the table's note
    advice: str   # what the user can do about it, in one sentence


def nearest_ceiling(rates, rate, passes=()):
    """(share, threads, pass) of rate against the ceiling with the fewest
    threads that reads at least as fast, and for as many threads, a first
    pass's ceiling before a second pass's, before the best pass's: a rate
    one thread reaches on a first pass is set against that, a faster one
    against the next. Past them all, against the fastest. pass: 1 or 2 for
    a first or second pass's ceiling, None for the best pass's. rates and
    each of passes: {threads: rate}; a loop timed on vectors just built,
    as dotprod's, meets the first, one timed after an untimed run the
    second."""
    if not rates or not rate:
        return None, None, None
    ceilings = sorted([(t, k, r) for k, by in enumerate(passes, 1) for t, r in by.items()] +
                      [(t, len(passes) + 1, r) for t, r in rates.items()])
    best = max(rates, key=rates.get)
    threads, kind, ceiling = next((c for c in ceilings if c[2] >= rate),
                                  (best, len(passes) + 1, rates[best]))
    return rate / ceiling, threads, kind if kind <= len(passes) else None


def power_of_ten_above(x):
    return 10 ** max(0, math.ceil(math.log10(x)))


def long_enough(n, own):
    """The length, a power of ten, from which own's printed times would
    resolve the loop to COARSE, were the time proportional to N."""
    middle = statistics.median(r.seconds for r in own)
    half = statistics.median(r.time_half_unit for r in own)
    return power_of_ten_above(n * half / (COARSE * middle)) if middle > 0 else None


def from_length(n, own):
    longer = long_enough(n, own)
    return f"lengths from N={longer} on" if longer else "longer lengths"


def steadiest(runs, n, seconds):
    """(noise, program): the least run-to-run noise among the programs
    whose loops at length n take within PEER_SCALE of seconds, or (None,
    None): the floor a loop that long reached on this machine in this
    sweep."""
    found = []
    for p in runs.programs:
        times = [r.seconds for r in runs.of(p, n) if not r.failure]
        middle = statistics.median(times) if times else 0
        noise = stats.noise_floor(times)
        if noise is not None and middle > 0 and seconds / PEER_SCALE <= middle <= \
                seconds * PEER_SCALE:
            found.append((noise, p))
    return min(found, default=(None, None))


def flags(s, own, floor, base, runs, steady=(None, None)):
    """Flags only where the interval alone would mislead or cannot be
    acted on: a candidate's row only, each with what the user can do.
    own and base: the row's and the baseline's timed runs; floor: the
    baseline's noise floor; steady: steadiest() for the row's median."""
    if s.baseline or s.failure:
        return ()
    p, b, n = s.program, runs.baseline, s.length
    if s.speedup is None:
        return zero_flags(s, own, base, runs)
    found = []
    if s.coarse:
        found.append(Flag("coarse", f"{p}'s times have too few printed digits: print them "
                          f"with %.9f, or, for a program you cannot change, use "
                          f"{from_length(n, own)}"))
    if coarse(base):
        found.append(Flag("coarse", f"{b}'s times have too few printed digits, and every "
                          f"speedup over them too: use {from_length(n, base)}, or a "
                          f"--baseline that prints more digits"))
    if s.clusters:
        found.append(Flag("clusters", f"{p}'s times fall into two groups: something else "
                          f"ran on its CPUs, or their clock changed speed: pin it (taskset -c, "
                          f"OMP_PROC_BIND=true) and stop other work"))
    own_noise, floor = s.own_noise or 0.0, floor or 0.0
    if s.wide and not s.coarse:
        if floor >= own_noise and b == runs.reference:
            quiet = ("--baseline " + QUIET if QUIET in runs.programs
                     else f"add {QUIET} as a candidate, with --baseline {QUIET}")
            advice = (f"{b}'s own times vary more than the candidates' (its printing), and "
                      f"widen every interval over it: {quiet}")
        elif floor >= own_noise:
            advice = (f"{b}'s own times vary more than the candidates': pin it (taskset -c), "
                      f"or run more repeats (--repeats R, or a larger --budget)")
        else:
            advice = (f"{p}'s own times vary ±{own_noise * 100:.0f} % from run to run, more "
                      f"than {b}'s ±{floor * 100:.0f} %: pin its threads (OMP_PROC_BIND=true, "
                      f"taskset -c), give it more repeats (a larger --budget), or use a "
                      f"quieter machine")
        found.append(Flag("wide", advice))
    elif steady[0] is not None and own_noise > max(ERRATIC * steady[0], ERRATIC_LEAST):
        found.append(Flag("erratic", f"{p}'s runs differ by ±{own_noise * 100:.0f} %, over "
                          f"{ERRATIC} times the ±{steady[0] * 100:.0f} % of {steady[1]}, whose "
                          f"loop takes about as long: its median is known, a single run's "
                          f"time is not: pin its threads (OMP_PROC_BIND=true, taskset -c), or "
                          f"run it on cores that no other work shares"))
    return tuple(found)


def zero_flags(s, own, base, runs):
    """A row with no speedup because a time printed as 0 gives no speed:
    its own, or the baseline's, which every speedup is over."""
    p, b, n = s.program, runs.baseline, s.length
    if s.zero_time:
        return (Flag("coarse", f"{p} printed a loop time of 0, which gives no speed and no "
                     f"speedup: print its time with %.9f, or, for a program you cannot "
                     f"change, use {from_length(n, own)}"),)
    if zero_median(base):
        return (Flag("coarse", f"{b} printed a loop time of 0, and no speedup can be taken "
                     f"over it: use {from_length(n, base)}, or a --baseline that prints "
                     f"more digits"),)
    return ()


def zero_median(runs):
    return bool(runs) and statistics.median(r.seconds for r in runs) == 0


def coarse(runs):
    """Whether the printed times resolve the loop too roughly to compare:
    more repeats cannot help, more printed digits can."""
    if not runs:
        return False
    middle = statistics.median(r.seconds for r in runs)
    return middle == 0 or statistics.median(r.time_half_unit for r in runs) > COARSE * middle


def role(runs, program):
    return "reference" if program == runs.reference else "candidate"


def failed_at(runs, program, n):
    """What the first of program's failed runs at length n said, if one did."""
    return next((r.failure for r in runs.runs
                 if r.program == program and r.length == n and r.failure), None)


def row_ratios(runs, program, n):
    """A row's speedups, per repeat: none where the program failed."""
    base = [r for r in runs.of(runs.baseline, n) if not r.failure]
    own = runs.of(program, n)
    # A loop whose time most often printed as 0 has no speed to compare.
    if failed_at(runs, program, n) or zero_median(base) or zero_median(own):
        return ()
    return tuple(speedups(base, own))


def unsettled(runs, n):
    """How many rows at length n, the baseline's aside, whose interval has
    not settled (stats.settled) and whose times are not too coarse for
    more rounds to help; without the rest of the model, which each round
    would wait for."""
    def narrowing(p):
        ratios = row_ratios(runs, p, n)
        return ratios and not stats.settled(ratios) and not coarse(runs.of(p, n))
    return sum(1 for p in runs.programs if p != runs.baseline and narrowing(p))


def summary(runs, program, n):
    own = tuple(r for r in runs.of(program, n) if not r.failure)
    failure = failed_at(runs, program, n)
    times = [r.seconds for r in own]
    ratios = row_ratios(runs, program, n)
    low = high = coverage = None
    if ratios:
        low, high, coverage = stats.median_interval(ratios)
    rates = ceiling_rates(runs, n)
    ceiling = max(rates.values(), default=None)
    launch = runs.launches.get(program)
    if ceiling:  # measured on the sweep's node: each node the program runs on reads as fast
        ceiling *= launchers.nodes(launch)
    # A printed time stands for any time up to half a unit of its last
    # digit more: only the slowest rate it may mean is held against the
    # ceiling, which also gives a time printed as 0 a rate.
    least = vector_bytes(n) / statistics.median(r.seconds + r.time_half_unit for r in own) \
        if own else None
    impossible = bool(own) and runs.reference != program and least > fastest_possible(
        runs, ceiling)
    klass, farthest = judged(runs, program, n, TIMED)
    exact = runs.exact.get(n)
    nodes = launchers.nodes(launch)  # each node reads as fast as the sweep's
    share, share_threads, share_pass = nearest_ceiling(
        {t: r * nodes for t, r in rates.items()},
        vector_bytes(n) / statistics.median(times) if own and statistics.median(times)
        else None, [{t: r * nodes for t, r in by.items()} for by in pass_rates(runs, n)])
    made = Summary(
        program, role(runs, program), program == runs.baseline, n, runs.params.get(program, ()),
        len(own), failure,
        statistics.median(times) if own else None, min(times, default=None),
        max(times, default=None), statistics.median(r.wall for r in own) if own else None,
        max((r.peak for r in own), default=None),
        "tree" if any(r.peak_of == "tree" for r in own) else "process",
        ratios, statistics.median(ratios) if ratios else None, low, high, coverage,
        stats.two_clusters(times), coarse(own), ceiling, impossible, klass,
        farthest.result_text if farthest else None,
        verdict.relative(abs(farthest.result - exact), exact) if farthest else None, exact,
        stats.noise_floor(times), share, share_threads, share_pass)
    base = [r for r in runs.of(runs.baseline, n) if not r.failure]
    launched = launch is not None and launch.launcher != launchers.NONE and own
    steady = steadiest(runs, n, made.median) if own else (None, None)
    return replace(made, flags=flags(made, own, noise_floor(runs, n), base, runs, steady),
                   launch=launch, least_gbs=least and least / 1e9,
                   rank_memory=launchers.memory([r.rank_peaks for r in own]) if launched else None,
                   oversubscribed=launch is not None and launchers.oversubscribed(
                       launch, runs.machine.get("cores")))


@dataclass(frozen=True)
class CeilingRow:
    threads: int
    seconds: float     # its best pass
    gbs: float         # 8·N bytes over that pass
    fits_in: str       # the nearest cache level that holds 8·N bytes, or "memory"
    first_gbs: float | None = None  # 8·N bytes over its best first pass, where said
    second_gbs: float | None = None  # and over its best second pass


@dataclass(frozen=True)
class Scaling:
    """One scanned command at one length: (value, speedup over the first
    value, efficiency) per value."""
    family: str
    name: str
    length: int
    rows: tuple


@dataclass(frozen=True)
class Answer:
    """One candidate in one line: how it compares with the baseline at the
    longest length it has a speedup at, how right it is, and how near the
    machine's ceiling it comes at best."""
    program: str
    length: int | None        # that length, or None where it has no speedup
    answer: str | None        # "faster", "slower", "the same speed", "unclear" or "baseline"
    factor: float | None      # times faster or slower; the speedup itself otherwise
    factor_low: float | None  # its 95 % interval
    factor_high: float | None
    verdict: str              # "wrong", "failed", or its weakest class at the lengths
    share: float | None       # its best share of a ceiling
    share_threads: int | None
    share_length: int | None
    share_pass: int | None = None  # that share is of a first or second pass's ceiling
    why_none: str | None = None  # where it has no speedup and a time of 0 is why


def answer(s):
    """(answer, factor, low, high) for summary s."""
    if s.speedup_low > 1:
        return "faster", s.speedup, s.speedup_low, s.speedup_high
    if s.speedup_high < 1:
        return "slower", 1 / s.speedup, 1 / s.speedup_high, 1 / s.speedup_low
    return ("unclear" if s.wide else "the same speed"), s.speedup, s.speedup_low, s.speedup_high


def answer_of(program, summaries, standing):
    timed = [s for s in summaries if s.speedup is not None]
    klasses = [s.verdict for s in summaries if s.verdict]
    klass = standing if standing != "ok" else verdict.worst(klasses) if klasses else "n/a"
    # A coarse or impossible time's rate is not to be believed.
    shared = [s for s in summaries if s.share is not None]
    shared = [s for s in shared if not (s.coarse or s.impossible)] or shared
    best = max(shared, key=lambda s: s.share, default=None)
    best_facts = (best.share, best.share_threads, best.length, best.share_pass) if best \
        else (None, None, None, None)
    if not timed:
        # Only a time of 0 flags a row that has no speedup (zero_flags).
        why = ("it printed a loop time of 0" if any(s.zero_time for s in summaries) else
               "the baseline printed a loop time of 0" if any(s.flags for s in summaries)
               else None)
        return Answer(program, None, None, None, None, None, klass, *best_facts, why_none=why)
    if any(s.baseline for s in summaries):  # 1 by definition: not an answer
        return Answer(program, None, "baseline", None, None, None, klass, *best_facts)
    last = max(timed, key=lambda s: s.length)
    return Answer(program, last.length, *answer(last), klass, *best_facts)


@dataclass(frozen=True)
class Model:
    facts: dict               # the raw facts it was computed from, as saved
    summaries: tuple          # by length, then program in turn order
    programs: tuple           # labels in turn order
    reference: str
    baseline: str
    candidates: tuple         # labels in turn order
    lengths: tuple
    probe_lengths: tuple
    exact: dict               # length -> exact value
    noise_floors: dict        # length -> the baseline's noise floor, or None
    ceilings: dict            # length -> (CeilingRow, ...)
    calibration_seconds: float
    probe_verdicts: dict      # (candidate, probe length) -> class
    standing: dict            # candidate -> "wrong", "failed" or "ok"
    wrong_lines: tuple        # why each wrong candidate is wrong
    impossible_lines: tuple   # each impossibly fast row, said in words
    failure_lines: tuple      # each program's failures, the same ones said once
    unchecked_line: str | None  # why candidates' speeds could not be checked, where so
    stopped: str | None       # what ended the sweep early
    scaling: tuple            # Scaling
    answers: tuple            # Answer, per candidate in turn order
    machine: dict
    machine_name: str         # what it ran on
    machine_line: str         # that, and the load
    status: int               # what the sweep exits with

    def at(self, n):
        return [s for s in self.summaries if s.length == n]

    def of(self, program):
        return [s for s in self.summaries if s.program == program]

    @property
    def noisy(self):
        return [s for s in self.summaries if s.noisy]

    @property
    def lines(self):
        """What standard error says after the runs: every line a user must
        read, the stop first."""
        return ((self.stopped,) if self.stopped else ()) + self.failure_lines + \
            self.wrong_lines + self.impossible_lines + \
            ((self.unchecked_line,) if self.unchecked_line else ())


def ceiling_rows(runs, n):
    level = fits_in(runs.machine.get("caches", []), vector_bytes(n))
    return tuple(CeilingRow(c.threads, c.seconds, vector_bytes(n) / c.seconds / 1e9, level,
                            *(vector_bytes(n) / p / 1e9 if p else None
                              for p in (pass_time(c, "first"), pass_time(c, "second"))))
                 for c in runs.ceilings if c.length == n and c.seconds > 0)


def noise_floor(runs, n):
    return stats.noise_floor([r.seconds for r in runs.of(runs.baseline, n) if not r.failure])


def wrong_line(runs, program):
    """The line that says why program is wrong, from the length where its
    result lies farthest beyond float rounding, or from the evidence, or
    None."""
    worst = None
    for n, kind in [(n, TIMED) for n in runs.lengths] + [(n, PROBE) for n in runs.probe_lengths]:
        klass, farthest = judged(runs, program, n, kind)
        if klass != verdict.WRONG:
            continue
        exact = runs.exact[n]
        excess = abs(farthest.result - exact) / verdict.float_bound(
            n, farthest.result, exact, farthest.result_half_unit, runs.tolerance)
        if excess > 1 and (worst is None or excess > worst[0]):  # else the evidence says why
            worst = (excess, verdict.evidence(program, n, farthest.result_text, exact,
                                              farthest.result_half_unit, runs.tolerance))
    return evidence.reason(runs, program, worst[1] if worst else None)


def impossible_line(s):
    claim = (f"{s.gbs:.3g} GB/s" if s.gbs else
             f"a time of 0, which stands for {s.least_gbs:.3g} GB/s or more")
    if s.ceiling is None:
        return (f"{s.program} claims an impossible time at N={s.length}: {claim}, "
                f"more than any machine reads")
    return (f"{s.program} claims an impossible time at N={s.length}: {claim}, "
            f"more than {IMPOSSIBLE:g} times the {s.ceiling_gbs:.3g} GB/s this machine "
            f"reads at best")


def standing(wrong, impossible, failed, unchecked=()):
    """A candidate's word in the probe table: what was not checked is said,
    never passed as ok."""
    if wrong or impossible or failed:
        return "wrong" if wrong else "impossible" if impossible else "failed"
    if unchecked:
        return f"not checked at N={', '.join(map(str, unchecked))}"
    return "ok"


def failure_lines(runs):
    """One line for each program and reason it failed with: where it
    failed alike at several lengths, the first, and how many more. Runs
    left out after a time-out are said by the time-out's own line. The
    ceiling's failures too, with its threads."""
    seen = {}
    for r in runs.runs:
        if r.failure and not r.failure.startswith(NOT_RUN):
            seen.setdefault((runs.shown.get(r.program, r.program), "", r.failure),
                            []).append(r.length)
    for c in runs.ceilings:
        if c.failure:
            seen.setdefault((ceiling_name(runs), f" with {c.threads} thread"
                             f"{'s' * (c.threads > 1)}", c.failure), []).append(c.length)
    lines = []
    for (program, threads, reason), lengths in seen.items():
        at = list(dict.fromkeys(lengths))
        more = f" (and the same at {len(at) - 1} more length{'s' * (len(at) > 2)})" \
            if len(at) > 1 else ""
        lines.append(f"{program} {at[0]}{threads} {reason}{more}")
    return tuple(lines)


def ceiling_name(runs):
    """The ceiling program as the user named it, or by its own name."""
    ceiling = runs.setup.get("programs", {}).get("ceiling")
    return (ceiling or {}).get("given") or "dotprod-ceiling"


def unchecked_line(runs, candidates):
    """Where candidates ran at a length with no ceiling, why."""
    missing = [n for n in measured_lengths(runs) if candidates and not ceiling_rates(runs, n)]
    if not missing:
        return None
    failed = next((c.failure for c in runs.ceilings if c.failure), None)
    name = ceiling_name(runs)
    why = (f"{name} failed: {failed}" if failed else f"{name} printed no time above 0"
           if runs.ceilings else f"no {name} was run")
    return (f"speeds not checked against the machine's ceiling at N={', '.join(map(str, missing))}"
            f" ({why}); only rates beyond {ABSURD_PER_CPU / 1e12:g} TB/s per CPU are refused")


def efficiency(speedup, value, first):
    """Speedup over the ideal for value against the first: value/first."""
    try:
        return speedup / (float(value) / float(first)) if speedup else None
    except (ValueError, ZeroDivisionError):
        return None


def scaling(runs, summaries):
    """For each candidate scanned over one parameter, per length."""
    families = {}
    for label, params in runs.params.items():
        if len(params) == 1:
            families.setdefault(runs.families[label], []).append((label, params[0][1]))
    medians = {(s.program, s.length): s.median for s in summaries}
    tables = []
    for family, members in families.items():
        name = runs.params[members[0][0]][0][0]
        first_label, first = members[0]
        for n in measured_lengths(runs):
            rows = []
            for label, value in members:
                base, this = medians.get((first_label, n)), medians.get((label, n))
                speedup = base / this if base and this else None
                rows.append((value, speedup, efficiency(speedup, value, first)))
            tables.append(Scaling(family, name, n, tuple(rows)))
    return tuple(tables)


def describe(box):
    return (f"{box.get('cpu', 'unknown CPU')}, {box.get('cores', '?')} cores, "
            f"{box.get('kernel', 'unknown kernel')}, {box.get('libc', 'unknown libc')}")


def load_text(value):
    return "unknown" if value is None else f"{value:.2f}"


def machine_line(box):
    return (f"Machine: {describe(box)}; load average {load_text(box.get('load_start'))} at the "
            f"start, {load_text(box.get('load_end'))} at the end.")


def measured_lengths(runs):
    """The lengths asked for that were reached: a sweep stopped early has
    no rows for the rest."""
    reached = {r.length for r in runs.runs}
    return tuple(n for n in runs.lengths if n in reached)


def model(runs):
    lengths = measured_lengths(runs)
    summaries = tuple(summary(runs, p, n) for n in lengths for p in runs.programs)
    candidates = tuple(p for p in runs.programs if p != runs.reference)
    probe_verdicts = {(p, n): judged(runs, p, n, PROBE)[0]
                      for p in candidates for n in runs.probe_lengths}
    wrong = {p: wrong_line(runs, p) for p in candidates}
    failed = {r.program for r in runs.runs if r.failure}
    too_fast = {s.program for s in summaries if s.impossible}
    impossible = tuple(impossible_line(s) for s in summaries if s.impossible)
    unchecked = {p: [n for n in runs.probe_lengths if probe_verdicts[(p, n)] is None]
                 for p in candidates}
    standings = {p: standing(wrong[p], p in too_fast, p in failed, unchecked[p])
                 for p in candidates}
    answers = tuple(answer_of(p, [s for s in summaries if s.program == p], standings[p])
                    for p in candidates)
    failed_ceiling = any(c.failure for c in runs.ceilings)
    status = 1 if any(wrong.values()) or impossible or failed or failed_ceiling or \
        runs.stopped else 0
    return Model(
        saved.facts(runs), summaries, tuple(runs.programs), runs.reference, runs.baseline, candidates,
        lengths, tuple(runs.probe_lengths), dict(runs.exact),
        {n: noise_floor(runs, n) for n in lengths}, {n: ceiling_rows(runs, n) for n in lengths},
        sum(c.wall for c in runs.ceilings), probe_verdicts,
        standings, tuple(line for line in wrong.values() if line), impossible,
        failure_lines(runs), unchecked_line(runs, candidates), runs.stopped,
        scaling(runs, summaries), answers, dict(runs.machine), describe(runs.machine),
        machine_line(runs.machine), status)
