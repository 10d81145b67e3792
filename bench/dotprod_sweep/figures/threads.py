# SPDX-License-Identifier: MIT
"""The threads a row is held to, and where that count comes from: the
threads the witness saw run, where it held; else the most of what its
command declares, what its processor time proves and what a sample saw.
Only the witness may hold a row to fewer threads than it claims: a
declared count picks the ceiling only where there is no witness, and a
lower bound may raise a ceiling, never prove a time impossible. Pure."""

import math

from ..facts import launchers
from .ceilings import vector_bytes

# A thread counts as one that ran the loop where its processor time would
# have let it read this share of its fair part of the two vectors (their
# bytes over the CPUs it could use) at the fastest rate one thread reads
# here. One that took less waited or slept: a pool's spare, a shell
# waiting for its child, a thread kept only to be counted.
BUSY = 0.25
MORE_CPUS = 0.02  # processor time beyond whole CPUs that proves one more
WITNESSED, BUSY_CPUS, SAMPLED, DECLARED = "witnessed", "processor time", "sampled", "declared"


def busy_threads(run, one_thread):
    """The threads the witness saw run long enough to have read their part
    of run's vectors, at most the CPUs it could run on; None where it did
    not hold. one_thread: the fastest rate one thread reads at its length,
    in bytes per second, or None where unmeasured: then half its loop time."""
    if run.thread_cpu is None:
        return None
    cpus = run.cpus_allowed or len(run.thread_cpu)
    least = BUSY * vector_bytes(run.length) / (cpus * one_thread) if one_thread else \
        (run.seconds or 0.0) / 2
    busy = max(1, sum(1 for seconds in run.thread_cpu if seconds > 0 and seconds >= least))
    return min(busy, cpus)


def witnessed(own, one_thread=None):
    """The most threads the witness saw busy in any of own's runs, or None
    where it held in none."""
    return max((b for r in own for b in [busy_threads(r, one_thread)] if b is not None),
               default=None)


def cpus_used(own):
    """The median of own's processor time over their wall time: the CPUs a
    process kept busy on average; None where not measured (runs saved
    before it was)."""
    busy = sorted(r.cpu / r.wall for r in own if r.cpu is not None and r.wall > 0)
    if not busy:
        return None
    middle = len(busy) // 2
    return busy[middle] if len(busy) % 2 else (busy[middle - 1] + busy[middle]) / 2


def proven(cpus):
    """The threads a process that kept cpus CPUs busy on average ran at least."""
    return math.ceil(cpus - MORE_CPUS) if cpus is not None else 1


def sampled(own):
    """The most threads any of own's runs was counted running at once; None
    where none was counted (a run too short to sample, or saved before)."""
    return max((r.threads for r in own if r.threads), default=None)


def held(launch, own, cpus, one_thread=None):
    """(threads, where from, the threads a time must beat the ceiling of to
    be impossible) of a row. Those the witness saw, raised where its
    processor time proves more, are both; without a witness, the most of
    the rest picks the ceiling, and only every CPU's (None) proves a time
    impossible. All three None where its ranks run outside its process
    tree (under a launcher), which its processor time then leaves out."""
    if launch is not None and launch.launcher != launchers.NONE:
        return None, None, None
    seen, busy = witnessed(own, one_thread), proven(cpus)
    if seen is not None:
        return (busy, BUSY_CPUS, busy) if busy > seen else (seen, WITNESSED, seen)
    given = launchers.node_threads(launch) if launch else 1
    found = ((given, DECLARED), (busy, BUSY_CPUS), (sampled(own) or 1, SAMPLED))
    return (*max(found, key=lambda f: f[0]), None)
