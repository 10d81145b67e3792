# SPDX-License-Identifier: MIT
"""The ranks of a run started by an MPI launcher, found and measured
while it runs, and the Slurm job it leaves behind, cancelled.

Under srun the ranks are started by Slurm's daemons, not by the launcher,
so they are not in the run's process tree, whose memory is then the
launcher's own. Every run is marked with a variable of its own in the
environment, which both launchers hand on to the ranks; the ranks are the
processes on this machine that carry it along with a rank number that
the sweep's own environment does not hold (inside a batch job the sweep,
and so the launcher, have the job's SLURM_PROCID). Ranks
on other machines cannot be seen: a run with fewer ranks seen than asked
for has no rank memory, never a partial one, and a row none of whose runs
saw them all says "unknown".

A launcher killed outright leaves a Slurm job running: its ranks run on,
and the job stays queued. Runs under srun outside an allocation get a job
name of their own, and cancel() ends that job, and any other seen
through its ranks."""

import contextlib
import os
import subprocess
import time

from ..facts.launchers import SRUN

MARK = "DOTPROD_SWEEP_RUN"
# What each launcher sets in a rank's environment, and no launcher in its own.
RANK_VARIABLES = ("OMPI_COMM_WORLD_RANK", "PMIX_RANK", "PMI_RANK", "SLURM_PROCID")
# With those, what tells a rank from the batch job the sweep may run in.
IDENTITY = (*RANK_VARIABLES, "SLURM_STEP_ID")


def _environment(pid):
    with open(f"/proc/{pid}/environ", "rb") as f:
        pairs = (item.partition(b"=") for item in f.read().split(b"\0") if item)
        return {k.decode(errors="replace"): v.decode(errors="replace") for k, _, v in pairs}


def _peak(pid):
    """A process's peak resident bytes so far (VmHWM), or None if gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except (OSError, ValueError, IndexError):
        pass
    return None


def _started(pid):
    """When a process started, in clock ticks since boot."""
    with open(f"/proc/{pid}/stat") as f:
        return int(f.read().rsplit(")", 1)[1].split()[19])


def _identity(env):
    return tuple(env.get(v) for v in IDENTITY)


def _now_ticks():
    with open("/proc/uptime") as f:
        return int(float(f.read().split()[0]) * os.sysconf("SC_CLK_TCK"))


class Ranks:
    """The ranks of one run, found by the mark in their environment."""
    _count = 0

    def __init__(self, launch):
        Ranks._count += 1
        self.launch = launch
        self.mark = f"{os.getpid()}.{Ranks._count}.{time.monotonic_ns()}"
        self.since = _now_ticks() - 1
        self.ignored = {}     # pid -> the program it ran when found not a rank
        self.pids = {}        # pid -> rank
        self.peaks = {}       # (job, rank) -> {pid: peak bytes}
        self.jobs = set()     # Slurm job (and step) ids seen in the ranks
        # Inside an allocation srun makes a step of the user's job, which
        # must not be cancelled by name: only the steps seen are.
        self.outside = launch.launcher == SRUN and "SLURM_JOB_ID" not in os.environ
        self.own = _identity(os.environ)
        self.name = f"dotprod-sweep.{self.mark}"

    def environment(self):
        env = {MARK: self.mark}
        if self.outside:
            env["SLURM_JOB_NAME"] = self.name
        # A rank that dies leaves the others waiting inside MPI, and srun
        # waiting for them until the time limit: this ends the step at once,
        # unless the user said otherwise (srun's -K or the variable).
        if self.launch.launcher == SRUN and "SLURM_KILL_BAD_EXIT" not in os.environ:
            env["SLURM_KILL_BAD_EXIT"] = "1"
        return env

    def sample(self):
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            pid = int(entry)
            if pid in self.pids:
                self._measure(pid)
                continue
            with contextlib.suppress(OSError, ValueError, IndexError):
                program = os.readlink(f"/proc/{pid}/exe")
                # Seen before running what it runs now (a fork not yet
                # exec'd) it is looked at again; older than the run, never.
                if self.ignored.get(pid) == program:
                    continue
                if _started(pid) < self.since:
                    self.ignored[pid] = program
                    continue
                env = _environment(pid)
                rank = next((env[v] for v in RANK_VARIABLES if v in env), None)
                if env.get(MARK) != self.mark or rank is None or _identity(env) == self.own:
                    self.ignored[pid] = program
                    continue
                job = env.get("SLURM_JOB_ID")
                if job:
                    step = env.get("SLURM_STEP_ID")
                    self.jobs.add(f"{job}.{step}" if step and not self.outside else job)
                self.pids[pid] = (job, rank)
                self._measure(pid)

    def _measure(self, pid):
        peak = _peak(pid)
        if peak is not None:
            own = self.peaks.setdefault(self.pids[pid], {})
            own[pid] = max(own.get(pid, 0), peak)

    def result(self):
        """Each rank's peak bytes (its processes' summed), or None unless
        as many ranks were seen as the command asks for."""
        if self.launch.ranks is None or len(self.peaks) < self.launch.ranks:
            return None
        return tuple(sum(p.values()) for _, p in sorted(self.peaks.items(), key=str))

    def cancel(self, wait=10.0):
        """Ends the Slurm job (or the steps) this run left behind, and waits
        up to wait seconds for the queue to let it go."""
        if self.launch.launcher != SRUN:
            return
        jobs = sorted(self.jobs)
        calls = [["--name", self.name]] if self.outside else []
        calls += [jobs] if jobs else []
        queued = [["--noheader", "--name", self.name]] if self.outside else []
        if jobs:
            queued.append(["--noheader", "--jobs", ",".join(jobs)] if self.outside
                          else ["--noheader", "--steps", ",".join(jobs)])
        for targets in calls:
            _slurm("scancel", "--quiet", *targets)
        end = time.monotonic() + wait
        while queued and time.monotonic() < end:
            if not any(_slurm("squeue", *q) for q in queued):
                return
            time.sleep(0.2)


def _slurm(*argv):
    """What a Slurm command printed, '' where it failed."""
    try:
        done = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
    except (OSError, subprocess.SubprocessError):
        return ""
    return done.stdout.decode(errors="replace").strip() if done.returncode == 0 else ""
