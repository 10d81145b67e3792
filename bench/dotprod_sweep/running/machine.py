# SPDX-License-Identifier: MIT
"""What the sweep ran on and what produced its numbers, for the JSON,
the table's footer and the plot's title."""

import datetime
import hashlib
import os
import platform
import subprocess
import time

from .. import __version__
from ..figures.load import LOADED

SIZE_SUFFIX = {"K": 1024, "M": 1024**2, "G": 1024**3}


def read(path):
    try:
        with open(path, errors="replace") as f:
            return f.read().strip()
    except OSError:
        return None


def cpu_model():
    for line in (read("/proc/cpuinfo") or "").splitlines():
        key, _, value = line.partition(":")
        if key.strip() == "model name":
            return value.strip()
    return platform.processor() or "unknown"


def caches():
    """The data caches of the first CPU the sweep may use: [(level, bytes)]."""
    cpu = min(os.sched_getaffinity(0))
    base = f"/sys/devices/system/cpu/cpu{cpu}/cache"
    found = []
    for index in sorted(os.listdir(base)) if os.path.isdir(base) else []:
        kind, level = read(f"{base}/{index}/type"), read(f"{base}/{index}/level")
        size = read(f"{base}/{index}/size") or ""
        if kind in ("Data", "Unified") and level and size[:-1].isdigit():
            found.append((int(level), int(size[:-1]) * SIZE_SUFFIX.get(size[-1], 1)))
    return sorted(found)


def load():
    try:
        return os.getloadavg()[0]
    except OSError:
        return None


def others_running(samples=10, gap=0.02):
    """How many tasks besides this one were running, on average over
    samples readings gap seconds apart; None where the kernel does not say."""
    counts = []
    for _ in range(samples):
        try:
            with open("/proc/loadavg") as f:
                running = int(f.read().split()[3].split("/")[0])
        except (OSError, ValueError, IndexError):
            return None
        counts.append(max(0, running - 1))
        time.sleep(gap)
    return sum(counts) / len(counts)


def busy(start):
    """The tasks running now, where the load average start says the
    machine may be loaded: the average lags a minute, and still counts
    work that has just ended, such as a sweep run just before."""
    return others_running() if start is not None and start > LOADED else None


def git(folder, *words):
    """What git prints in folder, or None where that is no git tree or git
    fails. Its file-system monitor is off: a tree's settings run no
    program of theirs here."""
    try:
        done = subprocess.run(["git", "-c", "core.fsmonitor=false", "-C", folder, *words],
                              capture_output=True, text=True, timeout=10,
                              stdin=subprocess.DEVNULL)
    except (OSError, subprocess.SubprocessError):
        return None
    return done.stdout.strip() if done.returncode == 0 else None


def commit():
    """The commit the sweep itself was run from, where it runs from a git tree."""
    return git(os.path.dirname(os.path.abspath(__file__)), "rev-parse", "HEAD")


# Set by CI services to the commit they checked out.
CI_COMMITS = ("GITHUB_SHA", "CI_COMMIT_SHA")


def candidate_tree(given=None, folder="."):
    """The commit of what was timed, and whether its tree had changes not
    committed (None: not known): given (--commit), resolved in folder's
    git tree where it can be; else the tree the sweep was run from (the
    user's, not the sweep's own); else what a CI service set."""
    if given:
        return {"candidate_commit": git(folder, "rev-parse", "--verify", "--quiet",
                                        "--end-of-options", f"{given}^{{commit}}") or given,
                "candidate_dirty": None}
    head = git(folder, "rev-parse", "--verify", "--quiet", "HEAD")
    if head:
        changes = git(folder, "status", "--porcelain", "--untracked-files=no")
        return {"candidate_commit": head, "candidate_dirty": None if changes is None else
                bool(changes)}
    ci = next((os.environ[v] for v in CI_COMMITS if os.environ.get(v)), None)
    return {"candidate_commit": ci, "candidate_dirty": None}


# The environment variables that change how threads and processes run.
RUNTIME_VARIABLES = ("OMP_", "GOMP_", "KMP_", "OMPI_", "MKL_", "OPENBLAS_")


def environment_digest(environ):
    """The SHA-256 of every variable in environ: any a program may read.
    Kept as a digest, which tells two environments apart and shows none."""
    text = "\0".join(f"{k}={v}" for k, v in sorted(environ.items()))
    return hashlib.sha256(text.encode(errors="surrogateescape")).hexdigest()


def machine(given_commit=None):
    try:
        libc = os.confstr("CS_GNU_LIBC_VERSION")
    except (ValueError, OSError):
        libc = " ".join(platform.libc_ver())
    affinity = sorted(os.sched_getaffinity(0))
    start = load()
    return {"cpu": cpu_model(), "cores": len(affinity), "affinity": affinity,
            "online_cpus": os.cpu_count(),
            "kernel": f"{platform.system()} {platform.release()}", "libc": libc,
            "governor": read(f"/sys/devices/system/cpu/cpu{affinity[0]}/cpufreq/scaling_governor"),
            "caches": [{"level": level, "bytes": size} for level, size in caches()],
            "load_start": start, "busy_start": busy(start), "load_end": None,
            "environment": {k: v for k, v in sorted(os.environ.items())
                            if k.startswith(RUNTIME_VARIABLES)},
            "environment_sha256": environment_digest(os.environ),
            "version": __version__, "commit": commit(),
            "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
            **candidate_tree(given_commit)}

