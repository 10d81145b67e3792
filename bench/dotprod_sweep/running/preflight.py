# SPDX-License-Identifier: MIT
"""What makes the timings doubtful before any run, said once as the sweep
begins: a loaded machine, and programs that ask for more threads than
there are CPUs."""

from ..facts import launchers
from ..figures import load


def warnings(config, host):
    """What makes the timings doubtful before any run: a loaded machine,
    and programs that ask for more threads than there are CPUs."""
    cpus = len(config.cpus) if config.cpus else host["cores"]
    found = []
    if load.busy(host, cpus):
        average, running = host["load_start"], host.get("busy_start")
        now = "" if running is None else f", {running:.1f} other tasks running"
        found.append(f"the load average is {average:.2f} on {cpus} CPUs{now}: other work will slow "
                     f"the runs and widen the intervals; the sweep runs more rounds where "
                     f"they are wide, as the budget holds, and calls no row erratic")
    for cmd in config.candidates:
        launch = launchers.launch(cmd.words, cmd.env)
        if launchers.oversubscribed(launch, cpus):
            asked = f"{launch.per_node} ranks of {launch.threads} threads" \
                if launch.launcher != launchers.NONE else f"{launch.threads} threads"
            found.append(f"{cmd.label} asks for {asked} on {cpus} CPUs a node: they will "
                         f"take turns, and its time says little")
    return found
