# SPDX-License-Identifier: MIT
"""One row of the tables: a program at one length, as its runs give it:
its times, its speedup over the baseline with its interval, its rate
against the machine's ceiling, its result's class and its flags. Pure
functions of the runs."""

import statistics
from dataclasses import dataclass, replace

from . import ceilings, evidence, stats, threads, verdict
from .speedups import interval, row_speedup, row_times
from ..facts import launchers
from .ceilings import vector_bytes
from .flags import NOT_STATED, coarse, peers, row_flags, steadiest
from ..facts.runs import TIMED, distinct_results

ALLOWANCE = 4 * 2**20  # the memory a process may need beside its two vectors
# A process that kept this many more CPUs busy than its threads, on
# average over its run, used more than it was given.
MORE_CPUS = 0.5


def judged(runs, program, n, kind, wrong=()):
    """The verdict class of program's results at length n, and the result
    farthest from the exact value; wrong: the lengths where the evidence
    rules find program wrong."""
    exact = runs.exact.get(n)
    own = [r for r in runs.of(program, n, kind) if not r.failure]
    if exact is None or not own:
        return None, None
    reference = [r for r in runs.of(runs.reference, n, kind) if not r.failure]
    reference_text = reference[0].result_text if reference else None
    own = distinct_results(own)
    classes = [verdict.classify(n, r.result, r.result_half_unit, exact, reference_text,
                                runs.tolerance) for r in own]
    if program != runs.reference and n in wrong:
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
    ceiling: float | None     # bytes/s its nodes read on the CPUs it is held to
    impossible: bool          # faster than the machine can be
    verdict: str | None       # its result's class here
    result: str | None        # the printed result farthest from the exact value
    relative_error: float | None  # that result's, against the exact value
    exact: float | None
    own_noise: float | None = None  # how much its consecutive runs differ, as noise_floor
    share: float | None = None      # its rate over the nearest ceiling's, below
    share_threads: int | None = None  # that ceiling's threads
    share_pass: int | None = None   # that ceiling is of first (1) or second (2) passes
    share_low: float | None = None  # the share's 95 % interval, where the ceiling ran
    share_high: float | None = None  # in every round
    flags: tuple = ()               # flags.Flag: what the interval does not say
    launch: object = None           # launchers.Launch: what its launcher was asked for
    rank_memory: tuple | None = None  # under a launcher: (job total, largest rank) bytes
    oversubscribed: bool = False    # a node runs more threads than it has CPUs
    least_gbs: float | None = None  # the slowest rate its printed times may stand for
    hidden: float | None = None     # the loss, of the exact value, its verdict cannot tell
    ceiling_threads: int | None = None  # the threads of that ceiling; None: every CPU
    ceiling_proof: str | None = None  # what showed those threads ran (threads.WITNESSED, ...)
    cpus: float | None = None       # the CPUs its process kept busy, on average
    threads_from: str | None = None  # where the threads its share is held to come from
    counted: bool = False  # held to more threads than its command declares
    drifted: bool = False   # its interval is wide for the drift alone, not its rounds' noise
    cluster_speedups: tuple | None = None  # in two clusters: (least, most) they may give

    @property
    def zero_time(self):
        """Its loop printed a time of 0: no speed, however short."""
        return self.median == 0

    @property
    def given_threads(self):
        return launchers.node_threads(self.launch) if self.launch else 1

    @property
    def not_stated(self):
        """Whether its flags say it did not do the stated work."""
        return any(f.kind in NOT_STATED for f in self.flags)

    @property
    def more_cpus(self):
        """Whether its process kept more CPUs busy than it was given threads."""
        return not self.launched and self.cpus is not None and \
            self.cpus > self.given_threads + MORE_CPUS

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
    def wide(self):
        return self.speedup is not None and stats.is_wide(
            self.speedup_low, self.speedup, self.speedup_high)

    @property
    def noisy(self):
        return bool(self.flags)


def role(runs, program):
    return "reference" if program == runs.reference else "candidate"


def failed_at(runs, program, n):
    """What the first of program's failed runs at length n said, if one did."""
    return runs.failure_at(program, n)


def times(own):
    """The median, least and most of runs' loop times, and the median of
    their wall times: all None without runs."""
    seconds = [r.seconds for r in own]
    if not own:
        return {"median": None, "low": None, "high": None, "wall": None}
    return {"median": statistics.median(seconds), "low": min(seconds), "high": max(seconds),
            "wall": statistics.median(r.wall for r in own)}


def held_to(runs, n, threads):
    """(rate, threads) of the ceiling a row is held to: on the fewest
    measured threads that are at least threads, else on the most; on every
    CPU where threads is None."""
    rates = ceilings.rates(runs, n)
    if not rates:
        return None, None
    if threads is None:
        return max(rates.values()), None
    t = next((t for t in sorted(rates) if t >= threads), max(rates))
    return rates[t], t


def speed(runs, program, n, own):
    """The row's rate against the machine: the ceiling it is held to (its
    nodes counted), whether its time is impossible, and its share of the
    ceiling."""
    launch = runs.launches.get(program)
    nodes = launchers.nodes(launch)  # each node reads as fast as the sweep's
    cpus = threads.cpus_used(own)
    used, source, proof = threads.held(launch, own, cpus, ceilings.rates(runs, n).get(1))
    ceiling, at = held_to(runs, n, proof)
    ceiling = ceiling and ceiling * nodes
    # A printed time stands for any time up to half a unit of its last
    # digit more: only the slowest rate it may mean is held against the
    # ceiling, which also gives a time printed as 0 a rate.
    least = vector_bytes(n) / statistics.median(r.seconds + r.time_half_unit for r in own) \
        if own else None
    middle = statistics.median(r.seconds for r in own) if own else None
    rate = middle and vector_bytes(n) / middle
    return {"ceiling": ceiling, "ceiling_threads": at, "ceiling_proof": proof and source,
            "cpus": cpus, "threads_from": source,
            "counted": used is not None and used > (launchers.node_threads(launch) if launch
                                                    else 1),
            "least_gbs": least and least / 1e9,
            "impossible": bool(own) and runs.reference != program and
            least > ceilings.fastest_possible(runs, ceiling),
            **(paired_share(runs, program, n, rate, launch, used) if in_rounds(runs, n) else
               dict(zip(("share", "share_threads", "share_pass"),
                        ceilings.share(runs, n, rate, nodes))))}


def in_rounds(runs, n):
    """Whether the ceiling ran in every round at n, not once before them."""
    return any(c.repeat is not None for c in runs.ceilings if c.length == n)


def paired_share(runs, program, n, rate, launch, used=None):
    """The row's share of the ceiling on as many threads as it runs on a
    node (used, where its processor time shows more), its nodes counted,
    as a median of per-round ratios with its 95 % interval: the pass whose
    ceiling reads at least as fast as the row (ceilings.which_pass)."""
    measured = sorted(ceilings.times(runs, n))
    wanted = used or (launchers.node_threads(launch) if launch else 1)
    threads = next((t for t in measured if t >= wanted), measured[-1] if measured else None)
    if threads is None or not rate:
        return {}
    nodes = launchers.nodes(launch)
    which = ceilings.which_pass(runs, n, threads, rate, nodes)
    ratios = ceilings.paired(runs, n, program, threads, which, nodes)
    if not ratios:
        return {}
    low, high, _ = stats.rerun_interval(ratios) if len(ratios) > 1 else (None, None, None)
    return {"share": statistics.median(ratios), "share_low": low, "share_high": high,
            "share_threads": threads, "share_pass": ceilings.PASSES.index(which) + 1
            if which != "seconds" else None}


def launched(runs, program, own):
    launch = runs.launches.get(program)
    seen = launch is not None and launch.launcher != launchers.NONE and own
    return {"launch": launch,
            "rank_memory": launchers.memory([r.rank_peaks for r in own]) if seen else None,
            "oversubscribed": launch is not None and launchers.oversubscribed(
                launch, runs.machine.get("cores"))}


class Judgements:
    """judged() of each program, length and kind, made once for a model:
    its rows, its probes and its lines all ask. wrong_at: {program: the
    lengths where the evidence rules find it wrong}."""
    def __init__(self, runs, wrong_at):
        self.runs, self.wrong_at, self.made = runs, wrong_at, {}

    def __call__(self, program, n, kind):
        if (program, n, kind) not in self.made:
            self.made[(program, n, kind)] = judged(self.runs, program, n, kind,
                                                   self.wrong_at.get(program, ()))
        return self.made[(program, n, kind)]


def result(runs, program, n, judge):
    klass, farthest = judge(program, n, TIMED)
    exact = runs.exact.get(n)
    orders = runs.orders.get(n)
    return {"verdict": klass, "exact": exact,
            "hidden": evidence.hidden(exact, farthest.result_half_unit, *orders, runs.tolerance)
            if farthest and orders else None,
            "result": farthest.result_text if farthest else None,
            "relative_error": verdict.relative(abs(farthest.result - exact), exact)
            if farthest else None}


def summary(runs, program, n, judge=None, others=None):
    """The row of program at length n. judge: a Judgements of the model, else
    one of no evidence; others: flags.peers(runs, n), where made."""
    judge = judge or Judgements(runs, {})
    others = peers(runs, n) if others is None else others
    own = tuple(r for r in runs.of(program, n) if not r.failure)
    found = row_times(runs, program, n)
    made = Summary(
        program=program, role=role(runs, program), baseline=program == runs.baseline,
        length=n, params=runs.params.get(program, ()), repeats=len(own),
        failure=failed_at(runs, program, n), **times(own),
        peak=max((r.peak for r in own), default=None),
        peak_of="tree" if any(r.peak_of == "tree" for r in own) else "process",
        **(row_speedup(*found) if found else {"ratios": (), **interval(())}),
        clusters=stats.two_clusters([r.seconds for r in own]),
        coarse=coarse(own), own_noise=stats.noise_floor([r.seconds for r in own]),
        **speed(runs, program, n, own), **result(runs, program, n, judge),
        **launched(runs, program, own))
    base = [r for r in runs.of(runs.baseline, n) if not r.failure]
    steady = steadiest(others, made.median) if own else (None, None)
    return replace(made, flags=row_flags(made, own, noise_floor(runs, n), base, runs, steady))


def noise_floor(runs, n):
    return stats.noise_floor([r.seconds for r in runs.of(runs.baseline, n) if not r.failure])
