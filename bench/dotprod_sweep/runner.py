# SPDX-License-Identifier: MIT
"""Running a program: in a process group of its own, within a time limit,
and, for the measured runs, under GNU time. Nothing is left behind when
the sweep is stopped by SIGINT, SIGTERM or SIGHUP: the child's whole group
is killed, the temporary folder removed, and the status is 128 + signal."""

import contextlib
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

from .messages import SweepError, progress

GNU_TIME = "/usr/bin/time"
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)

# What a stop signal cleans up. While either is being made, a signal is
# held back until it exists under this name, so none can slip between.
_child = None
_folder = None
_holding = False
_held = []


def handle_stop_signals():
    for signum in STOP_SIGNALS:
        # A signal ignored by whoever started the sweep (nohup) stays so.
        if signal.getsignal(signum) != signal.SIG_IGN:
            signal.signal(signum, _on_stop)


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
    if _folder is not None:
        shutil.rmtree(_folder, ignore_errors=True)
    os._exit(128 + signum)


@contextlib.contextmanager
def _signals_held():
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
        with _signals_held():
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


def _exits_within(child, seconds):
    """Waits on a pidfd rather than polling, so that the measured wall time
    is not rounded up to a polling step."""
    try:
        fd = os.pidfd_open(child.pid)
    except (AttributeError, OSError):  # before Linux 5.3
        try:
            child.wait(seconds)
            return True
        except subprocess.TimeoutExpired:
            return False
    try:
        return bool(select.select([fd], [], [], seconds)[0])
    finally:
        os.close(fd)


def run(argv, out, timeout, what, cwd=None, stderr=None):
    """Runs argv with its standard output in the open file out: its exit
    status and wall seconds. Past timeout seconds its group is killed."""
    global _child
    start = time.perf_counter()
    try:
        with _signals_held():
            _child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=stderr, cwd=cwd, start_new_session=True)
    except OSError as error:
        raise SweepError(f"cannot start {what}: {error.strerror}") from None
    try:
        in_time = _exits_within(_child, timeout)
    finally:
        # Before reaping, while the group still has its leader: whatever
        # the program left running in the background goes with it.
        _kill_group(_child)
        status = _child.wait()
        _child = None
    if not in_time:
        raise SweepError(f"{what} ran longer than {timeout:g} s and was killed")
    return status, time.perf_counter() - start


def timed_run(path, n, out_path, timeout, what):
    """Runs the program at path with length n, its output in out_path:
    wall seconds and peak resident bytes.

    A child started from this interpreter would be charged the
    interpreter's own resident memory as its peak, so GNU time, a small
    process, starts the program and reports the program's peak alone. It
    is handed an absolute path: no PATH search, no name taken as option."""
    report = out_path + ".rss"
    with open(out_path, "wb") as out:
        status, wall = run([GNU_TIME, "-f", "%M", "-o", report, path, str(n)],
                           out, timeout, what)
    lines = _read_lines(report)
    if status != 0:
        raise SweepError(f"{what} {ending_in_words(lines, status)}")
    try:
        return wall, int(lines[-1]) * 1024
    except (IndexError, ValueError):
        raise SweepError(f"GNU time gave no peak memory for {what}") from None


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
