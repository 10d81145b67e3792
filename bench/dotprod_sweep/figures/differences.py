# SPDX-License-Identifier: MIT
"""What differs between the machines and builds two sweeps ran on, from
what each saved of its machine: the times of the two may differ for that
alone."""

from dataclasses import dataclass

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


def files_changed(old, new):
    """Whether a program's files changed between two runs, from the SHA-256
    of each executable, script or library each run recorded of it (any
    iterable of digests): where the two hold the same, the same program
    ran. None where either recorded none (runs saved before 1.8.0)."""
    if not old or not new:
        return None
    return set(old) != set(new)


def recorded_files(runs):
    """{label: ((path, SHA-256), ...) or None} of each program a run recorded:
    None where it recorded none, or they are not a map of texts."""
    recorded = runs.setup.get("programs", {}) if runs else {}
    found = [recorded.get("reference"), *(recorded.get("candidates") or [])]
    return {c["label"]: files_of(c.get("files")) for c in found
            if isinstance(c, dict) and "label" in c}


def files_of(recorded):
    if not (isinstance(recorded, dict) and recorded and
            all(isinstance(v, str) for v in recorded.values())):
        return None
    return tuple(sorted(recorded.items()))


def digests(files):
    return None if files is None else [digest for _, digest in files]


def program_differences(old, new, programs):
    """A Difference for each of programs (labels) whose files changed
    between the runs old and new (runs.Runs), by their SHA-256."""
    before, after = recorded_files(old), recorded_files(new)
    return tuple(Difference(f"{p}'s files (SHA-256)", shown_files(before.get(p)),
                            shown_files(after.get(p)))
                 for p in programs
                 if files_changed(digests(before.get(p)), digests(after.get(p))))


def shown_files(files):
    return ", ".join(digest[:12] for _, digest in files)


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
