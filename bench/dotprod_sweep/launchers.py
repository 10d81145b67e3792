# SPDX-License-Identifier: MIT
"""Programs started by an MPI launcher (mpirun, srun): how many ranks on
how many nodes the command asks for, whether that oversubscribes a node,
and each rank's peak memory.

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
from dataclasses import dataclass

MARK = "DOTPROD_SWEEP_RUN"
# What each launcher sets in a rank's environment, and no launcher in its own.
RANK_VARIABLES = ("OMPI_COMM_WORLD_RANK", "PMIX_RANK", "PMI_RANK", "SLURM_PROCID")
# With those, what tells a rank from the batch job the sweep may run in.
IDENTITY = (*RANK_VARIABLES, "SLURM_STEP_ID")
NONE, MPIRUN, SRUN = "none", "mpirun", "srun"
MPIRUNS = {"mpirun", "mpiexec", "orterun", "mpirun.openmpi", "mpiexec.openmpi"}
# The options that take a value as the next word, so that the program's
# own words are told from the launcher's; --mca takes two.
SRUN_VALUES = set("-A -b -c -C -d -D -e -G -i -J -L -m -M -n -N -o -p -q -r -S -t -T -w -x".split()) | {
    "--account", "--cpus-per-task", "--constraint", "--dependency", "--chdir", "--error",
    "--gpus", "--input", "--job-name", "--licenses", "--distribution", "--clusters",
    "--ntasks", "--nodes", "--output", "--partition", "--qos", "--relative", "--time",
    "--nodelist", "--exclude", "--mpi", "--ntasks-per-node", "--mem", "--mem-per-cpu",
    "--cpu-bind", "--export", "--gres", "--reservation", "--signal"}
MPIRUN_VALUES = {"-np", "--np", "-n", "-c", "-H", "--host", "-host", "--hostfile", "-hostfile",
                 "--machinefile", "-machinefile", "--map-by", "-map-by", "--bind-to",
                 "-bind-to", "--rank-by", "-rank-by", "-x", "-N", "--npernode", "-npernode",
                 "--wdir", "-wdir", "--prefix", "-prefix", "--output-filename"}
MPIRUN_PAIRS = {"--mca", "-mca", "--gmca", "-gmca"}


@dataclass(frozen=True)
class Launch:
    """What a command asks of its launcher; None where it does not say."""
    launcher: str        # NONE, MPIRUN or SRUN
    ranks: int | None
    nodes: int | None
    threads: int = 1     # per rank: OMP_NUM_THREADS, else 1

    @property
    def per_node(self):
        """The most ranks one node gets."""
        if self.ranks is None or not self.nodes:
            return None
        return -(-self.ranks // self.nodes)


def number(text):
    """The count an option gives: '4', or a range '2-4' at its least."""
    try:
        value = int(text.split("-")[0]) if text and text[0] != "-" else int(text)
    except ValueError:
        return None
    return value if value > 0 else None


def options(words, takes_value, pairs=frozenset()):
    """{option: value} of the launcher's own words (words[0] is the
    launcher), up to the program it starts; a flag's value is ''."""
    found, i = {}, 1
    while i < len(words) and words[i].startswith("-") and words[i] != "--":
        word = words[i]
        if word.startswith("--") and "=" in word:
            name, value = word.split("=", 1)
        elif word in pairs:
            name, value = word, " ".join(words[i + 1:i + 3])
            i += 2
        elif word in takes_value:
            name, value = word, words[i + 1] if i + 1 < len(words) else ""
            i += 1
        elif word[:2] in {"-n", "-N", "-c"} and word[2:].isdigit() and takes_value is SRUN_VALUES:
            name, value = word[:2], word[2:]  # srun's -n4
        else:
            name, value = word, ""
        found[name] = value
        i += 1
    return found


def hosts_in(text):
    """The distinct hosts of a --host list: 'a,b:2,a' gives 2."""
    return len({h.split(":")[0] for h in text.split(",") if h})


def hostfile_hosts(path, read=None):
    """The distinct hosts a host file names, or None if it cannot be read."""
    try:
        text = read(path) if read else open(path).read()
    except OSError:
        return None
    names = {line.split("#")[0].split()[0] for line in text.splitlines()
             if line.split("#")[0].split()}
    return len(names) or None


def launch(words, env=(), read=None):
    """The Launch a command's words ask for; env: its (NAME, VALUE) words;
    read: reads a host file (for tests)."""
    env = dict(env)
    try:
        threads = max(1, int(env.get("OMP_NUM_THREADS", "1")))
    except ValueError:
        threads = 1
    name = os.path.basename(words[0]) if words else ""
    if name == "srun":
        o = options(words, SRUN_VALUES)
        nodes = number(o.get("-N", o.get("--nodes", "")))
        ranks = number(o.get("-n", o.get("--ntasks", "")))
        per = number(o.get("--ntasks-per-node", ""))
        if ranks is None:
            ranks = per * nodes if per and nodes else nodes or 1
        return Launch(SRUN, ranks, nodes, threads)
    if name in MPIRUNS:
        o = options(words, MPIRUN_VALUES, MPIRUN_PAIRS)
        nodes = 1
        if any(k in o for k in ("-H", "--host", "-host")):
            nodes = hosts_in(o.get("-H") or o.get("--host") or o.get("-host", ""))
        hostfile = next((o[k] for k in ("--hostfile", "-hostfile", "--machinefile",
                                        "-machinefile") if k in o), None)
        if hostfile is not None:
            nodes = hostfile_hosts(hostfile, read)
        ranks = next((number(o[k]) for k in ("-np", "--np", "-n", "-c") if k in o), None)
        per = number(o.get("-N", o.get("--npernode", o.get("-npernode", ""))))
        if ranks is None and per and nodes:
            ranks = per * nodes
        return Launch(MPIRUN, ranks, nodes, threads)
    return Launch(NONE, 1, 1, threads)


def nodes(launch):
    """The nodes a ceiling is counted for: those asked for, else one."""
    return launch.nodes if launch and launch.nodes else 1


def oversubscribed(launch, cpus):
    """Whether the busiest node runs more threads than it has CPUs; every
    node is taken to have as many as this one."""
    per = launch.per_node
    return per is not None and bool(cpus) and per * launch.threads > cpus


def memory(peaks_per_run):
    """(job total, largest rank) in bytes over the runs whose ranks were
    all seen, each given as its ranks' peaks; None where no run's were. A
    rank missed by the sampling (one that ended between two looks, on a
    busy machine) costs that run its figure, not the row's."""
    seen = [p for p in peaks_per_run if p is not None]
    if not seen:
        return None
    return max(sum(p) for p in seen), max(max(p) for p in seen)


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


def facts(launch, cpus, over):
    """A command's launch, for the JSON; over: whether it oversubscribes."""
    return {"launcher": launch.launcher, "ranks": launch.ranks, "nodes": launch.nodes,
            "threads_per_rank": launch.threads, "ranks_per_node": launch.per_node,
            "node_cpus": cpus, "oversubscribed": over}
