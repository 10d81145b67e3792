# SPDX-License-Identifier: MIT
"""Whether the machine was busy with other work as the sweep began, from
what the sweep read of it (running.machine): said once before the runs,
and the reason no row is called erratic."""

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
