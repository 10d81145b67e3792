# SPDX-License-Identifier: MIT
"""Running one process: in a process group of its own, within a time
limit, under GNU time, with the peak memory of its whole process tree.
It knows nothing of dot products.

Nothing is left behind when the sweep is stopped by a signal that ends
it (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM): the
child's whole group is killed, the temporary folder removed, and the
status is 128 + signal. SIGTSTP stops the child's group with the sweep,
and SIGCONT resumes both; the time limit does not count the stop."""

import contextlib
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass

from .messages import SweepError, progress

GNU_TIME = "/usr/bin/time"
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT,
                signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM)
SAMPLE_SECONDS = 0.02  # how often a run's process tree is measured
PAGE = os.sysconf("SC_PAGE_SIZE")

# What a stop signal cleans up. While either is being made, a signal is
# held back until it exists under this name, so none can slip between.
_child = None
_ranks = None  # the run's launchers.Ranks, whose job a stop cancels
_folder = None
_holding = False
_held = []
_paused = 0.0  # seconds the sweep has spent stopped by SIGTSTP


def handle_signals():
    for signum in STOP_SIGNALS:
        # A signal ignored by whoever started the sweep (nohup) stays so.
        if signal.getsignal(signum) != signal.SIG_IGN:
            signal.signal(signum, _on_stop)
    if signal.getsignal(signal.SIGTSTP) != signal.SIG_IGN:
        signal.signal(signal.SIGTSTP, _on_pause)


def _on_stop(signum, frame):
    for other in STOP_SIGNALS:
        signal.signal(other, signal.SIG_IGN)
    if _holding:
        _held.append(signum)
    else:
        _stop(signum)


def _stop(signum):
    progress("")
    if _child is not None and _child.returncode is None:
        _kill_group(_child)
        with contextlib.suppress(ChildProcessError):
            os.waitpid(_child.pid, 0)
    if _ranks is not None:
        _ranks.cancel()
    if _folder is not None:
        shutil.rmtree(_folder, ignore_errors=True)
    os._exit(128 + signum)


def _stat(pid):
    """(parent, process group, session) of a process, from /proc."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[1]), int(fields[2]), int(fields[3])


def _orphaned():
    """Whether the sweep's process group is orphaned: no member has a parent
    in another group of its session, so no shell could resume it, and the
    kernel discards the stop that SIGTSTP asks for."""
    group, session = os.getpgrp(), os.getsid(0)
    for name in os.listdir("/proc"):
        try:
            parent, pgid, sid = _stat(int(name)) if name.isdigit() else (0, 0, 0)
            if pgid == group and sid == session and parent > 0:
                outside = _stat(parent)
                if outside[1] != group and outside[2] == session:
                    return False
        except (OSError, ValueError, IndexError):
            continue
    return True


def _on_pause(signum, frame):
    """Stops the child's group, then the sweep itself, as the shell asked;
    resumed, resumes the group and leaves the stop out of the time. Where
    the kernel would not stop the sweep, nothing is stopped."""
    global _paused
    if _orphaned():
        return
    began = time.monotonic()
    child = _child
    if child is not None and child.returncode is None:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(child.pid, signal.SIGSTOP)
    progress("")
    signal.signal(signal.SIGTSTP, signal.SIG_DFL)
    os.kill(os.getpid(), signal.SIGTSTP)
    signal.signal(signal.SIGTSTP, _on_pause)
    if child is not None and child.returncode is None:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(child.pid, signal.SIGCONT)
    _paused += time.monotonic() - began


@contextlib.contextmanager
def signals_held():
    global _holding
    _holding = True
    try:
        yield
    finally:
        _holding = False
        if _held:
            _stop(_held[0])


@contextlib.contextmanager
def temporary_folder():
    global _folder
    try:
        with signals_held():
            _folder = tempfile.mkdtemp(prefix="sweep.")
    except OSError as error:
        raise SweepError(f"cannot make a temporary folder: {error.strerror}") from None
    try:
        yield _folder
    finally:
        shutil.rmtree(_folder, ignore_errors=True)
        _folder = None


def _kill_group(child):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(child.pid, signal.SIGKILL)


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
    ranks: object = None  # launchers.Ranks of a launched program, or None


def _wait(child, timeout, watch):
    """Whether child ended within timeout seconds, not counting a stop,
    measuring its process tree meanwhile. Waits on a pidfd rather than
    polling the exit, so that the wall time is not rounded to a step."""
    try:
        fd = os.pidfd_open(child.pid)
    except (AttributeError, OSError):  # before Linux 5.3
        fd = None
    start, paused = time.monotonic(), _paused
    try:
        while True:
            left = timeout - (time.monotonic() - start - (_paused - paused))
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
            if watch.ranks is not None:
                watch.ranks.sample()
    finally:
        if fd is not None:
            os.close(fd)


def run(argv, out, timeout, what, env=None, cwd=None, stderr=None, watch=None):
    """Runs argv with its standard output in the open file out: its exit
    status and wall seconds, a stop left out. Past timeout seconds its
    group is killed and SweepError raised."""
    global _child, _ranks
    start, paused = time.perf_counter(), _paused
    try:
        with signals_held():
            _child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=stderr, cwd=cwd, env=env, start_new_session=True)
            _ranks = watch and watch.ranks
    except OSError as error:
        raise SweepError(f"cannot start {what}: {error.strerror}") from None
    try:
        in_time = _wait(_child, timeout, watch or Watch())
    finally:
        # Before reaping, while the group still has its leader: whatever
        # the program left running in the background goes with it.
        _kill_group(_child)
        status = _child.wait()
        _child = None
        if _ranks is not None and not in_time:
            _ranks.cancel()
        _ranks = None
    if not in_time:
        raise SweepError(f"{what} ran longer than {timeout:g} s and was killed")
    return status, time.perf_counter() - start - (_paused - paused)


@dataclass(frozen=True)
class Ended:
    """How a run under GNU time went."""
    failure: str | None  # why it failed, or None
    wall: float
    peak: int            # resident bytes
    peak_of: str         # "tree": all its processes; "process": the largest one
    rank_peaks: tuple | None = None  # each rank's peak bytes, if all were seen


def timed_run(argv, env, out_path, timeout, what, ranks=None):
    """Runs argv with its output in out_path, under GNU time.

    A child started from this interpreter would be charged the
    interpreter's own resident memory as its peak, so GNU time, a small
    process, starts the program and reports the largest process's peak;
    the tree's sum is sampled beside it. GNU time is handed an absolute
    path: no PATH search, no name taken as an option."""
    report = out_path + ".rss"
    watch = Watch(ranks=ranks)
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
    rank_peaks = ranks.result() if ranks else None
    if watch.processes > 1:
        return Ended(None, wall, max(largest, watch.peak), "tree", rank_peaks)
    return Ended(None, wall, largest, "process", rank_peaks)


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
