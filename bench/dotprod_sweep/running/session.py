# SPDX-License-Identifier: MIT
"""The sweep-wide state that a signal must find: the run under way and
the temporary folder. Other modules reach it only through the functions
here.

Nothing is left behind when the sweep is stopped by a signal that ends
it (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM): the
run's whole group is killed, the temporary folder removed, and the
status is 128 + signal. While it measures, a first SIGINT, SIGTERM or
SIGHUP only ends the run under way (stopping() tells it), so that what
was measured before is still reported; a second stops at once. SIGTSTP stops the run's group with the sweep,
and SIGCONT resumes both; paused() tells how long that took, so that a
time limit can leave the stop out."""

import contextlib
import ctypes
import os
import shutil
import signal
import tempfile
import time

from ..messages import SweepError, progress, say

STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT,
                signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM)
# What a user sends to stop a long sweep and keep its results: Ctrl-C, a
# kill, a closed terminal.
GENTLE_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


class Stopped(SweepError):
    """A gentle stop signal ended the measuring: no run after it is made."""
    def __init__(self, signum, what):
        super().__init__(f"{signal.Signals(signum).name} stopped it at {what}")


class _State:
    """What a stop signal cleans up. While either is being made, a signal
    is held back until it is recorded here, so that none slips between."""
    def __init__(self):
        self.child = None    # the Popen of the run under way
        self.ranks = None    # its ranks.Ranks, whose Slurm job a stop cancels
        self.folder = None
        self.holding = False
        self.held = []
        self.paused = 0.0    # seconds the sweep has spent stopped by SIGTSTP
        self.measuring = False  # a gentle signal ends the measuring, not the sweep
        self.stopping = None    # the gentle signal that did


_state = _State()


PR_SET_CHILD_SUBREAPER = 36
STRAY_ROUNDS = 100  # generations of strays ended after a run, at the most


def adopt_strays():
    """Makes the sweep the parent of every process a run leaves behind,
    even one that left the run's group or session (setsid), so that
    end_strays can end it. Where the kernel refuses, strays in the run's
    group are still ended with it."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    except (OSError, AttributeError):
        pass


def _own_children():
    found = []
    for task in os.listdir(f"/proc/{os.getpid()}/task"):
        try:
            with open(f"/proc/{os.getpid()}/task/{task}/children") as f:
                found += [int(p) for p in f.read().split()]
        except (OSError, ValueError):
            continue
    return found


def end_strays():
    """Kills and reaps what the last run left behind: between runs the
    sweep has no child of its own, so every child it has is a stray. A
    stray's own children come to the sweep as it dies: the next round
    ends them."""
    for _ in range(STRAY_ROUNDS):
        strays = _own_children()
        if not strays:
            return
        for pid in strays:
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
            with contextlib.suppress(ChildProcessError):
                os.waitpid(pid, 0)


def handle_signals():
    adopt_strays()
    for signum in STOP_SIGNALS:
        # A signal ignored by whoever started the sweep (nohup) stays so.
        if signal.getsignal(signum) != signal.SIG_IGN:
            signal.signal(signum, _on_stop)
    if signal.getsignal(signal.SIGTSTP) != signal.SIG_IGN:
        signal.signal(signal.SIGTSTP, _on_pause)


def paused():
    """Seconds spent stopped so far: the difference across a run is the
    part of its wall time that is not its own."""
    return _state.paused


def kill_group(child):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(child.pid, signal.SIGKILL)


def stopping():
    """The signal that asked the measuring to end, or None."""
    return _state.stopping


@contextlib.contextmanager
def measuring():
    """A block in which a first gentle signal is only recorded: the run
    under way sees it and ends (runner), and no other starts."""
    _state.measuring = True
    try:
        yield
    finally:
        _state.measuring = False


def _on_stop(signum, frame):
    if _state.measuring and _state.stopping is None and signum in GENTLE_SIGNALS:
        _state.stopping = signum
        return
    for other in STOP_SIGNALS:
        signal.signal(other, signal.SIG_IGN)
    if _state.holding:
        _state.held.append(signum)
    else:
        _stop(signum)


def _stop(signum):
    progress("")
    say(f"{signal.Signals(signum).name} stopped it")
    child = _state.child
    if child is not None and child.returncode is None:
        kill_group(child)
        with contextlib.suppress(ChildProcessError):
            os.waitpid(child.pid, 0)
    end_strays()
    if _state.ranks is not None:
        _state.ranks.cancel()
    if _state.folder is not None:
        shutil.rmtree(_state.folder, ignore_errors=True)
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


def _signal_group(child, signum):
    if child is not None and child.returncode is None:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(child.pid, signum)


def _on_pause(signum, frame):
    """Stops the run's group, then the sweep itself, as the shell asked;
    resumed, resumes the group and counts the stop. Where the kernel
    would not stop the sweep, nothing is stopped."""
    if _orphaned():
        return
    began = time.monotonic()
    child = _state.child
    _signal_group(child, signal.SIGSTOP)
    progress("")
    signal.signal(signal.SIGTSTP, signal.SIG_DFL)
    os.kill(os.getpid(), signal.SIGTSTP)
    signal.signal(signal.SIGTSTP, _on_pause)
    _signal_group(child, signal.SIGCONT)
    _state.paused += time.monotonic() - began


@contextlib.contextmanager
def signals_held():
    _state.holding = True
    try:
        yield
    finally:
        _state.holding = False
        if _state.held:
            _stop(_state.held[0])


@contextlib.contextmanager
def tracking(start, ranks=None):
    """Starts a process with start(), signals held, and makes it the run
    a stop signal kills (and ranks, its launched ranks, the job it
    cancels) until the block ends."""
    with signals_held():
        _state.child, _state.ranks = start(), ranks
    try:
        yield _state.child
    finally:
        _state.child = _state.ranks = None


@contextlib.contextmanager
def temporary_folder():
    try:
        with signals_held():
            _state.folder = tempfile.mkdtemp(prefix="sweep.")
    except OSError as error:
        raise SweepError(f"cannot make a temporary folder: {error.strerror}") from None
    try:
        yield _state.folder
    finally:
        shutil.rmtree(_state.folder, ignore_errors=True)
        _state.folder = None
