# SPDX-License-Identifier: MIT
"""Programs started by an MPI launcher (mpirun, srun): how many ranks on
how many nodes the command asks for, whether that oversubscribes a node,
and what the ranks' peaks come to over a row. Pure: the ranks themselves
are found and measured by ranks.py."""

import os
from dataclasses import dataclass

NONE, MPIRUN, SRUN = "none", "mpirun", "srun"
# What sets a program's threads: OpenMP's, and the BLAS libraries' own.
# What declares a candidate's threads: DOTPROD_THREADS for any program (a
# std::thread one, say), first, then the libraries' own.
THREAD_VARIABLES = ("DOTPROD_THREADS", "OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS",
                    "MKL_NUM_THREADS")
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
    threads: int = 1     # per rank: from THREAD_VARIABLES, else 1

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
    asked = next((env[v] for v in THREAD_VARIABLES if v in env), "1")
    try:
        threads = max(1, int(asked))
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


def node_threads(launch):
    """The threads a launch runs on its busiest node."""
    return (launch.per_node or 1) * launch.threads


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


def facts(launch, cpus, over):
    """A command's launch, for the JSON; over: whether it oversubscribes."""
    return {"launcher": launch.launcher, "ranks": launch.ranks, "nodes": launch.nodes,
            "threads_per_rank": launch.threads, "ranks_per_node": launch.per_node,
            "node_cpus": cpus, "oversubscribed": over}
