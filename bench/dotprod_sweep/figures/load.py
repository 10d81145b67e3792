# SPDX-License-Identifier: MIT
"""Whether the machine was busy with other work as the sweep began, from
what the sweep read of it (running.machine): said once before the runs,
and the reason no row is called erratic."""

import statistics

# A load average above this many per CPU: other work shares the CPUs.
LOADED = 0.5


def busy(host, cpus=None):
    """Whether other work shared the CPUs as the sweep began: then it is
    said once, and no row is called erratic for it. Both the load average
    and the tasks running then must say so, where those were counted."""
    cpus = cpus or host.get("cores")
    load, running = host.get("load_start"), host.get("busy_start")
    if load is None or not cpus:
        return False
    return min(load, load if running is None else running) > LOADED * cpus


def others_at_start(host):
    """The tasks other than the sweep running as it began, where counted,
    else its load average then; None where neither was read."""
    running = host.get("busy_start")
    return host.get("load_start") if running is None else running


def stands_out(hosts, k):
    """Whether run k of several (each's machine record) began beside more
    work than the others: at least one more task running than their
    median, on more than LOADED of its CPUs. A busy loop is one task."""
    counts = [others_at_start(h) for h in hosts]
    rest = [c for i, c in enumerate(counts) if i != k and c is not None]
    cpus = hosts[k].get("cores") or 1
    return counts[k] is not None and bool(rest) and counts[k] > LOADED * cpus and \
        counts[k] >= statistics.median(rest) + 1
