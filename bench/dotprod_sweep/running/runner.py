# SPDX-License-Identifier: MIT
"""Running one process: in a process group of its own, within a time
limit, under GNU time, with the peak memory of its whole process tree.
It knows nothing of dot products; what a signal must clean up is the
session's."""

import contextlib
import os
import resource
import select
import subprocess
import time
from dataclasses import dataclass

from . import session
from ..messages import SweepError

GNU_TIME = "/usr/bin/time"
SAMPLE_SECONDS = 0.02  # how often a run's process tree is measured
PAGE = os.sysconf("SC_PAGE_SIZE")


def _children(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(p) for p in f.read().split()]
    except (OSError, ValueError):
        return []


def _resident(pid):
    try:
        with open(f"/proc/{pid}/statm") as f:
            return int(f.read().split()[1]) * PAGE
    except (OSError, ValueError, IndexError):
        return 0


def _threads(pid):
    """The threads a process runs: all of a threaded one's, whatever each
    is doing (a pool waits between loops); a single-threaded one's only
    while it runs, so that a shell waiting for its child, or a sleep,
    is none."""
    try:
        tasks = len(os.listdir(f"/proc/{pid}/task"))
        if tasks > 1:
            return tasks
        with open(f"/proc/{pid}/stat") as f:
            return int(f.read().rsplit(")", 1)[1].split()[0] in "RD")
    except (OSError, IndexError):
        return 0


def tree_memory(root):
    """Resident bytes of root's descendants, root left out (it is GNU
    time), how many processes they are, and how many threads they run."""
    total, count, threads, todo = 0, 0, 0, _children(root)
    while todo:
        pid = todo.pop()
        total += _resident(pid)
        count += 1
        threads += _threads(pid)
        todo += _children(pid)
    return total, count, threads


@dataclass
class Watch:
    """What was seen of a run while it ran, and the most it may write."""
    files: tuple = ()   # the files its output goes to
    limit: int = 0      # the most bytes any one of them may hold; 0: no limit
    peak: int = 0       # the largest sum of its processes' resident memory
    processes: int = 0  # the most processes seen at once
    threads: int = 0    # the most threads seen running at once, in all of them
    ranks: object = None  # ranks.Ranks of a launched program, or None
    stoppable: bool = False  # a gentle stop signal ends it (session.stopping)
    cpu: float | None = None  # the processor seconds it took, once it has ended

    def overflowing(self):
        return self.limit and any(os.fstat(f.fileno()).st_size > self.limit
                                  for f in self.files)


ENDED, LATE, FLOODED, STOPPED = "ended", "late", "flooded", "stopped"


def _wait(child, timeout, watch):
    """How child ended: ENDED within timeout seconds, not counting a stop;
    LATE; FLOODED, having written more than its limit; or STOPPED, by a
    gentle stop signal where the watch allows it. Measures its
    process tree meanwhile. Waits on a pidfd rather than polling the
    exit, so that the wall time is not rounded to a step."""
    try:
        fd = os.pidfd_open(child.pid)
    except (AttributeError, OSError):  # before Linux 5.3
        fd = None
    start, paused = time.monotonic(), session.paused()
    try:
        while True:
            left = timeout - (time.monotonic() - start - (session.paused() - paused))
            if left <= 0:
                return LATE
            if watch.stoppable and session.stopping():
                return STOPPED
            step = min(left, SAMPLE_SECONDS)
            if fd is None:
                with contextlib.suppress(subprocess.TimeoutExpired):
                    child.wait(step)
                    return ENDED
            elif select.select([fd], [], [], step)[0]:
                return ENDED
            if watch.overflowing():
                return FLOODED
            resident, count, threads = tree_memory(child.pid)
            watch.peak = max(watch.peak, resident)
            watch.processes = max(watch.processes, count)
            watch.threads = max(watch.threads, threads)
            if watch.ranks is not None:
                watch.ranks.sample()
    finally:
        if fd is not None:
            os.close(fd)


def children_cpu():
    """The processor seconds of every child the sweep has reaped so far."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def reap(child, watch):
    """Waits for child as Popen.wait would, and keeps the processor time
    it and the children it waited for took in watch.cpu."""
    _, waited, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(waited)
    watch.cpu = usage.ru_utime + usage.ru_stime
    return child.returncode


class RunError(SweepError):
    """A run that could not start or was killed: what it was, and why."""
    def __init__(self, what, reason):
        super().__init__(f"{what} {reason}")
        self.reason = reason


class TimedOut(RunError):
    """A run killed at its time limit."""


def run(argv, out, timeout, what, env=None, cwd=None, stderr=None, watch=None):
    """Runs argv with its standard output in the open file out: its exit
    status and wall seconds, a stop left out. Past timeout seconds, or
    past the watch's output limit, its group is killed and SweepError
    raised (TimedOut for the time)."""
    start, paused = time.perf_counter(), session.paused()
    watch = watch or Watch()
    def begin():
        return subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=stderr,
                                cwd=cwd, env=env, start_new_session=True)
    try:
        with session.tracking(begin, watch.ranks) as child:
            ending = None
            try:
                ending = _wait(child, timeout, watch)
            finally:
                # Before reaping, while the group still has its leader:
                # whatever the program left running in the background goes
                # with it; what left the group is the session's to end. A
                # launcher killed so leaves its Slurm job: it is cancelled.
                session.kill_group(child)
                status = reap(child, watch)
                # A helper that left the run (a double fork) comes to the
                # sweep, which reaps it: its processor time is the run's too.
                before = children_cpu()
                session.end_strays()
                watch.cpu += children_cpu() - before
                if watch.ranks is not None and ending != ENDED:
                    watch.ranks.cancel()
    except OSError as error:
        raise RunError(what, f"could not start: {error.strerror}") from None
    if ending == STOPPED:  # not a run that failed: it is left out
        raise session.Stopped(session.stopping(), what)
    if ending == LATE:
        raise TimedOut(what, f"ran longer than {timeout:g} s and was killed")
    if ending == FLOODED:
        raise RunError(what, f"wrote more than {watch.limit / 2**20:.0f} MiB of output "
                       f"and was killed")
    return status, time.perf_counter() - start - (session.paused() - paused)


@dataclass(frozen=True)
class Ended:
    """How a run under GNU time went."""
    failure: str | None  # why it failed, or None; without saying which run
    wall: float
    peak: int            # resident bytes
    peak_of: str         # "tree": all its processes; "process": the largest one
    timed_out: bool = False
    rank_peaks: tuple | None = None  # each rank's peak bytes, if all were seen
    cpu: float | None = None  # processor seconds of it and what it waited for
    threads: int | None = None  # the most threads its processes ran at once, as sampled
    thread_cpu: tuple | None = None  # what the witness saw, where it held: each thread's
    cpus_allowed: int | None = None  # processor seconds, and the CPUs a process could use
    ran: tuple = ()  # (path, SHA-256) of each executable the witness saw it run


def timed_run(argv, env, out_path, timeout, what, limit, ranks=None, witness=None):
    """Runs argv with its output in out_path and its standard error in
    out_path.err, under GNU time; either may hold limit bytes at most.

    A child started from this interpreter would be charged the
    interpreter's own resident memory as its peak, so GNU time, a small
    process, starts the program and reports the largest process's peak;
    the tree's sum is sampled beside it. GNU time is handed an absolute
    path: no PATH search, no name taken as an option. witness: a
    running.witness.Witness to preload into its processes, or None."""
    report = out_path + ".rss"
    if witness is not None:
        env = {**env, **witness.environment(env)}
    with open(out_path, "wb") as out, open(out_path + ".err", "w+b") as errors:
        watch = Watch((out, errors), limit, ranks=ranks, stoppable=True)
        try:
            status, wall = run([GNU_TIME, "-f", "%M", "-o", report, *argv], out, timeout, what,
                               env=env, stderr=errors, watch=watch)
        except RunError as error:
            return Ended(f"{error.reason}{said(errors)}", timeout, 0, "process",
                         timed_out=isinstance(error, TimedOut))
        if status != 0:
            return Ended(f"{ending_in_words(_read_lines(report), status)}{said(errors)}",
                         wall, 0, "process")
    lines = _read_lines(report)
    try:
        largest = int(lines[-1]) * 1024
    except (IndexError, ValueError):  # the run, or what it started, removed the report
        return Ended("gave no peak memory: GNU time's report was gone or empty", wall, 0,
                     "process")
    rank_peaks = ranks.result() if ranks else None
    seen = witness.read(watch.cpu, (GNU_TIME,)) if witness is not None else (None, None, ())
    # A run too short to be sampled has no count of its threads.
    return Ended(None, wall, max(largest, watch.peak) if watch.processes > 1 else largest,
                 "tree" if watch.processes > 1 else "process", rank_peaks=rank_peaks,
                 cpu=watch.cpu, threads=watch.threads or None, thread_cpu=seen[0],
                 cpus_allowed=seen[1], ran=seen[2])


ERROR_TAIL = 3     # lines of a failed run's standard error that are shown
ERROR_WIDTH = 200  # characters of them at most


def said(errors):
    """The end of what a failed run wrote to standard error, as a clause
    of one line, with how much more there was; empty if nothing."""
    size = errors.seek(0, os.SEEK_END)
    errors.seek(max(0, size - 4096))
    lines = [line.strip() for line in errors.read().decode(errors="replace").splitlines()]
    tail = " / ".join([line for line in lines if line][-ERROR_TAIL:])[-ERROR_WIDTH:]
    if not tail:
        return ""
    cut = f" (the end of {size} bytes)" if len(tail.encode()) < size else ""
    return f"; its standard error ended: {tail!r}{cut}"


def _read_lines(path):
    try:
        with open(path, errors="replace") as f:
            return f.read().splitlines()
    except OSError:
        return []


def ending_in_words(report, status):
    """How a run under GNU time ended, from its report and status."""
    words = report[0].split() if report else []
    if words[:3] == ["Command", "terminated", "by"]:
        return f"was killed by signal {words[-1]}"
    return status_in_words(status)


def status_in_words(status):
    """A failed run's status in words: subprocess gives a signal as -N."""
    if status < 0:
        return f"was killed by signal {-status}"
    return f"ended with status {status}"
