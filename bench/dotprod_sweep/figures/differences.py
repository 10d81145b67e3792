# SPDX-License-Identifier: MIT
"""What differs between the machines and builds two sweeps ran on, from
what each saved of its machine: the times of the two may differ for that
alone."""

from dataclasses import dataclass

# What tells two machines or builds apart; load and date do not.
MACHINE_KEYS = ("version", "commit", "cpu", "cores", "affinity", "online_cpus", "kernel", "libc",
                "governor", "caches", "environment")


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
            found.append(Difference(name, shown(a), shown(b)))
    return tuple(found)
