# SPDX-License-Identifier: MIT
"""A sweep's raw facts: one Run per process, as it ended and as it
printed, and each length's exact value and ceilings. Nothing here is
computed from other runs."""

from dataclasses import dataclass, field

from . import printed

TIMED, WARMUP, PROBE = "timed", "warm-up", "probe"
NOT_RUN = "not run"  # how the failure of a run left out begins


class once:
    """A property read on first use and kept in the instance, even a
    frozen one: the model asks a run for its numbers again and again.
    (functools.cached_property takes a lock each first time, which costs
    seconds over 10^5 runs.)"""
    def __init__(self, read):
        self.read, self.name = read, read.__name__

    def __get__(self, instance, owner=None):
        if instance is None:
            return self
        value = instance.__dict__[self.name] = self.read(instance)
        return value


@dataclass(frozen=True)
class Run:
    program: str         # its label
    length: int
    repeat: int          # from 1, counted apart for each kind
    kind: str            # TIMED, WARMUP or PROBE
    wall: float          # seconds of the whole process
    peak: int = 0        # resident bytes
    peak_of: str = "process"  # "tree": all its processes; "process": the largest one
    result_text: str | None = None  # as printed
    time_text: str | None = None
    failure: str | None = None      # why it failed, or None: "printed no ...", "was ..."
    rank_peaks: tuple | None = None  # under a launcher: each rank's peak bytes, if all were seen
    cpu: float | None = None  # processor seconds of its process and those it waited for
    threads: int | None = None  # the most threads its processes ran at once, sampled
    # What the witness saw, where it held (facts/witness): each thread's
    # processor seconds, and the most CPUs one of its processes could use.
    thread_cpu: tuple | None = None
    cpus_allowed: int | None = None

    @once
    def result(self):
        return printed.value(self.result_text)

    @once
    def seconds(self):
        return printed.value(self.time_text)

    @once
    def result_half_unit(self):
        return printed.half_unit(self.result_text)

    @once
    def time_half_unit(self):
        return printed.half_unit(self.time_text)


def distinct_results(runs):
    """One run of each result text, in the order first printed: a program
    prints the same few results run after run, and each is judged once."""
    return list({r.result_text: r for r in runs}.values())


@dataclass(frozen=True)
class Ceiling:
    length: int
    threads: int
    seconds: float       # the best pass it timed; 0 where it failed
    wall: float          # what calibrating took
    failure: str | None = None
    first: float | None = None  # its best first pass over vectors just built, if it said
    second: float | None = None  # its best second pass over them, if it said
    repeat: int | None = None   # its round; None: run once before the rounds (before 1.5.0)


@dataclass
class Runs:
    """Everything a sweep measured, in the order made, and what it was
    asked: a saved run loads back into one of these."""
    programs: tuple      # labels, in the order they take turns
    reference: str       # dotprod's label: results are judged against it
    baseline: str        # whose times speedups are taken over
    lengths: tuple       # the lengths asked for
    probe_lengths: tuple  # the short lengths every result is also checked at
    tolerance: float = 0.0  # widens what float rounding may explain, times the exact value
    runs: list = field(default_factory=list)
    exact: dict = field(default_factory=dict)     # length -> exact value
    orders: dict = field(default_factory=dict)    # length -> (low, high) of the float orders
    ceilings: list = field(default_factory=list)  # Ceiling
    params: dict = field(default_factory=dict)    # label -> its scan values
    families: dict = field(default_factory=dict)  # label -> the command it was scanned from
    machine: dict = field(default_factory=dict)   # what it ran on, and its load
    shown: dict = field(default_factory=dict)     # label -> its command as the user wrote it
    launches: dict = field(default_factory=dict)  # label -> launchers.Launch
    ran: dict = field(default_factory=dict)  # label -> {path: SHA-256 or None} the witness saw
    ran_objects: bool = False  # ran holds the shared objects the processes loaded too
    setup: dict = field(default_factory=dict)     # the arguments and commands, for the record
    stopped: str | None = None  # what ended the sweep before all was run
    seed: int | None = None     # what shuffled the turns in each round
    budget: float | None = None  # the seconds the sweep was given, where it adapts its rounds
    spent: float | None = None   # the seconds it took
    short: dict = field(default_factory=dict)  # length -> the rounds the budget held, fewer
                                               # than planned

    # Built once, and added to as runs are appended: asked for at every
    # program and length, a scan of all runs would make the model quadratic.
    _index: object = field(default=None, init=False, repr=False, compare=False)

    def indexed(self):
        if self._index is None or not self._index.covers(self.runs):
            self._index = Index(self.runs)
        self._index.catch_up()
        return self._index

    def of(self, program, n, kind=TIMED):
        return list(self.indexed().by_kind.get((program, n, kind), ()))

    def of_any(self, program):
        """Whether program has any run, of any kind, at any length."""
        return any(p == program for p, _, _ in self.indexed().by_kind)

    def failure_at(self, program, n):
        """What the first of program's failed runs at length n said, of any
        kind, or None."""
        return self.indexed().failures.get((program, n))

    def reached(self):
        """The lengths that any run was made at."""
        return {n for _, n, _ in self.indexed().by_kind}


class Index:
    """A list of runs by (program, length, kind), and each (program,
    length)'s first failure. Runs are only ever appended to the list: a
    list that is another, or shorter, is indexed anew."""
    def __init__(self, runs):
        self.runs, self.seen, self.by_kind, self.failures = runs, 0, {}, {}

    def covers(self, runs):
        return runs is self.runs and self.seen <= len(runs)

    def catch_up(self):
        for r in self.runs[self.seen:]:
            self.by_kind.setdefault((r.program, r.length, r.kind), []).append(r)
            if r.failure:
                self.failures.setdefault((r.program, r.length), r.failure)
        self.seen = len(self.runs)
