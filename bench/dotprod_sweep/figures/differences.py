# SPDX-License-Identifier: MIT
"""What differs between the machines and builds two sweeps ran on, from
what each saved of its machine: the times of the two may differ for that
alone."""

import os
import re
from dataclasses import dataclass

from ..facts.runs import TIMED

# What tells two machines or builds apart; load and date do not.
MACHINE_KEYS = ("candidate_commit", "candidate_dirty", "version", "commit", "cpu", "cores", "affinity", "online_cpus", "kernel", "libc",
                "governor", "caches", "environment")
# How a line names each of those a person reads as something else.
SHOWN_KEYS = {"candidate_commit": "commit of what was timed",
              "candidate_dirty": "changes not committed", "commit": "dotprod-sweep's commit"}


@dataclass(frozen=True)
class Difference:
    key: str
    old: str
    new: str


def shown(value):
    if isinstance(value, list) and all(isinstance(c, dict) and "level" in c for c in value):
        return ", ".join(f"L{c['level']} {c['bytes'] // 1024} KiB" for c in value)
    if isinstance(value, list):
        return ",".join(map(str, value))
    if isinstance(value, bool):
        return "yes" if value else "no"
    return "unknown" if value is None else str(value)


def differences(old, new):
    """What differs between the machines and builds the two sweeps ran on;
    each environment variable on its own."""
    found = []
    for name in MACHINE_KEYS:
        a, b = old.get(name), new.get(name)
        if name == "environment":
            a, b = a or {}, b or {}
            found += [Difference(variable, a.get(variable, "unset"), b.get(variable, "unset"))
                      for variable in sorted(set(a) | set(b)) if a.get(variable) != b.get(variable)]
        elif a != b:
            found.append(Difference(SHOWN_KEYS.get(name, name), shown(a), shown(b)))
    return tuple(found)


def changed_files(old, new):
    """(path, old SHA-256, new SHA-256) of each file both runs recorded of a
    program, as ((path, SHA-256), ...), whose bytes differ; None where
    either recorded none (runs saved before 1.8.0). A file only one run
    recorded tells nothing: a run saved before 1.9.0 has no executables
    witnessed."""
    if not old or not new:
        return None
    before = dict(old)
    return [(path, before[path], digest) for path, digest in new
            if path in before and before[path] != digest]


def files_changed(old, new):
    """Whether a program's files changed between two runs: changed_files()
    found one; None where it cannot tell."""
    changed = changed_files(old, new)
    return None if changed is None else bool(changed)


def recorded_files(runs):
    """{label: ((path, SHA-256), ...) or None} of each program a run recorded:
    the files its command names, and each executable the witness saw its
    runs run (a binary behind a script); None where it recorded none, or
    they are not a map of texts."""
    recorded = runs.setup.get("programs", {}) if runs else {}
    found = [recorded.get("reference"), *(recorded.get("candidates") or [])]
    ran = runs.ran if runs else {}
    return {c["label"]: files_of({**{k: v for k, v in ran.get(c["label"], {}).items() if v},
                                  **(c.get("files") or {})})
            for c in found if isinstance(c, dict) and "label" in c}


def files_of(recorded):
    if not (isinstance(recorded, dict) and recorded and
            all(isinstance(v, str) for v in recorded.values())):
        return None
    return tuple(sorted(recorded.items()))


def command_of(runs, label):
    """The command label ran, its words and environment, as runs recorded it."""
    recorded = runs.setup.get("programs", {})
    found = [c for c in [recorded.get("reference"), *(recorded.get("candidates") or [])]
             if isinstance(c, dict) and c.get("label") == label]
    return (found[0].get("argv"), found[0].get("env")) if found else None


# Programs that run code from files they read rather than execute: a
# module, a sourced script or a class the witness does not see. A program
# that ran one is not known to have run the same code from its files.
INTERPRETER = re.compile(r"(python|pypy|perl|ruby|node|nodejs|java|sh|bash|dash|zsh|ksh|mksh|"
                         r"csh|tcsh|fish|busybox|R|Rscript|julia|lua|luajit|tclsh|wish|php|"
                         r"pwsh|octave|matlab|guile|racket|sbcl|ocaml|dotnet|mono)[0-9.]*")


def interpreted(files):
    """Whether any of files, ((path, SHA-256), ...), is an interpreter."""
    return any(INTERPRETER.fullmatch(os.path.basename(path)) for path, _ in files)


def witnessed_whole(runs, label):
    """Whether the witness saw every process of each timed run of label
    (its threads' time then accounts for the run's), shared objects
    included: label's files are then all the code it ran."""
    timed = [r for r in runs.runs if r.program == label and r.kind == TIMED and not r.failure]
    return runs.ran_objects and bool(timed) and all(r.thread_cpu is not None for r in timed) \
        and all(runs.ran.get(label, {}).values())


def same_code(old, new, label):
    """Whether label ran the very same code in runs old and new: both
    witnessed it whole and recorded the same command and the same files,
    byte for byte: its command's, and every executable and shared object
    its processes ran, none of them an interpreter; both were started
    from the same environment, any variable of which it may read. What
    its times then did is the machine's."""
    if not (witnessed_whole(old, label) and witnessed_whole(new, label)):
        return False
    environments = [runs.machine.get("environment_sha256") for runs in (old, new)]
    if None in environments or environments[0] != environments[1]:
        return False
    command, files = command_of(old, label), recorded_files(old).get(label)
    return command is not None and command == command_of(new, label) and \
        files is not None and files == recorded_files(new).get(label) and not interpreted(files)


def program_differences(old, new, programs):
    """A Difference for each of programs (labels) whose files changed
    between the runs old and new (runs.Runs), by their SHA-256: each file
    that changed, its digest before and after."""
    before, after = recorded_files(old), recorded_files(new)
    return tuple(Difference(f"{p}'s files (SHA-256)", ", ".join(f"{os.path.basename(f)} {d[:12]}"
                                                               for f, d, _ in changed),
                            ", ".join(f"{os.path.basename(f)} {d[:12]}" for f, _, d in changed))
                 for p in programs
                 for changed in [changed_files(before.get(p), after.get(p))] if changed)


def short_commit(commit, dirty=None):
    """A commit as lines name it: a hash cut to 7 digits, a name (--commit
    v2.0) as given; -dirty where its tree had changes not committed."""
    if not commit:
        return None
    hashed = len(commit) > 7 and all(c in "0123456789abcdef" for c in commit)
    return (commit[:7] if hashed else commit) + "-dirty" * bool(dirty)


def commits(old, new):
    """The short commit of what each of two runs timed (machine records), or None."""
    return tuple(short_commit(h.get("candidate_commit"), h.get("candidate_dirty"))
                 for h in (old, new))
