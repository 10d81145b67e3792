# SPDX-License-Identifier: MIT
"""Running one process: in a process group of its own, within a time
limit, under GNU time, with the peak memory of its whole process tree.
It knows nothing of dot products; what a signal must clean up is the
session's."""

import contextlib
import os
import select
import subprocess
import time
from dataclasses import dataclass

from . import session
from .messages import SweepError

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


def tree_memory(root):
    """Resident bytes of root's descendants, root left out (it is GNU
    time), and how many processes they are."""
    total, count, todo = 0, 0, _children(root)
    while todo:
        pid = todo.pop()
        total += _resident(pid)
        count += 1
        todo += _children(pid)
    return total, count


@dataclass
class Watch:
    """What was seen of a run while it ran."""
    peak: int = 0       # the largest sum of its processes' resident memory
    processes: int = 0  # the most processes seen at once


def _wait(child, timeout, watch):
    """Whether child ended within timeout seconds, not counting a stop,
    measuring its process tree meanwhile. Waits on a pidfd rather than
    polling the exit, so that the wall time is not rounded to a step."""
    try:
        fd = os.pidfd_open(child.pid)
    except (AttributeError, OSError):  # before Linux 5.3
        fd = None
    start, paused = time.monotonic(), session.paused()
    try:
        while True:
            left = timeout - (time.monotonic() - start - (session.paused() - paused))
            if left <= 0:
                return False
            step = min(left, SAMPLE_SECONDS)
            if fd is None:
                with contextlib.suppress(subprocess.TimeoutExpired):
                    child.wait(step)
                    return True
            elif select.select([fd], [], [], step)[0]:
                return True
            resident, count = tree_memory(child.pid)
            watch.peak = max(watch.peak, resident)
            watch.processes = max(watch.processes, count)
    finally:
        if fd is not None:
            os.close(fd)


def run(argv, out, timeout, what, env=None, cwd=None, stderr=None, watch=None):
    """Runs argv with its standard output in the open file out: its exit
    status and wall seconds, a stop left out. Past timeout seconds its
    group is killed and SweepError raised."""
    start, paused = time.perf_counter(), session.paused()
    def begin():
        return subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=stderr,
                                cwd=cwd, env=env, start_new_session=True)
    try:
        with session.tracking(begin) as child:
            try:
                in_time = _wait(child, timeout, watch or Watch())
            finally:
                # Before reaping, while the group still has its leader:
                # whatever the program left running in the background goes
                # with it.
                session.kill_group(child)
                status = child.wait()
    except OSError as error:
        raise SweepError(f"cannot start {what}: {error.strerror}") from None
    if not in_time:
        raise SweepError(f"{what} ran longer than {timeout:g} s and was killed")
    return status, time.perf_counter() - start - (session.paused() - paused)


@dataclass(frozen=True)
class Ended:
    """How a run under GNU time went."""
    failure: str | None  # why it failed, or None
    wall: float
    peak: int            # resident bytes
    peak_of: str         # "tree": all its processes; "process": the largest one


def timed_run(argv, env, out_path, timeout, what):
    """Runs argv with its output in out_path, under GNU time.

    A child started from this interpreter would be charged the
    interpreter's own resident memory as its peak, so GNU time, a small
    process, starts the program and reports the largest process's peak;
    the tree's sum is sampled beside it. GNU time is handed an absolute
    path: no PATH search, no name taken as an option."""
    report = out_path + ".rss"
    watch = Watch()
    with open(out_path, "wb") as out:
        status, wall = run([GNU_TIME, "-f", "%M", "-o", report, *argv], out, timeout, what,
                           env=env, watch=watch)
    lines = _read_lines(report)
    if status != 0:
        return Ended(f"{what} {ending_in_words(lines, status)}", wall, 0, "process")
    try:
        largest = int(lines[-1]) * 1024
    except (IndexError, ValueError):
        raise SweepError(f"GNU time gave no peak memory for {what}") from None
    if watch.processes > 1:
        return Ended(None, wall, max(largest, watch.peak), "tree")
    return Ended(None, wall, largest, "process")


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
