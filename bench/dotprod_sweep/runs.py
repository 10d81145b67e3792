# SPDX-License-Identifier: MIT
"""A sweep's raw facts: one Run per process, as it ended and as it
printed, and each length's exact value and ceilings. Nothing here is
computed from other runs."""

from dataclasses import dataclass, field

from . import printed

TIMED, WARMUP, PROBE = "timed", "warm-up", "probe"
NOT_RUN = "not run"  # how the failure of a run left out begins


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

    @property
    def result(self):
        return printed.value(self.result_text)

    @property
    def seconds(self):
        return printed.value(self.time_text)

    @property
    def result_half_unit(self):
        return printed.half_unit(self.result_text)

    @property
    def time_half_unit(self):
        return printed.half_unit(self.time_text)


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
    setup: dict = field(default_factory=dict)     # the arguments and commands, for the record
    stopped: str | None = None  # what ended the sweep before all was run
    seed: int | None = None     # what shuffled the turns in each round
    budget: float | None = None  # the seconds the sweep was given, where it adapts its rounds
    spent: float | None = None   # the seconds it took
    short: dict = field(default_factory=dict)  # length -> the rounds the budget held, fewer
                                               # than planned

    def of(self, program, n, kind=TIMED):
        return [r for r in self.runs if r.program == program and r.length == n and r.kind == kind]
