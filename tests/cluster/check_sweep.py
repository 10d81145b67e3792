#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""check_sweep.py SWEEP.json: fails (status 1, one line per fault) unless
every candidate row is accurate, names its launch, is flagged
oversubscribed exactly where its busiest node has more ranks than CPUs,
and shows each rank holding at least its share of the vectors,
8·N/ranks bytes.

check_sweep.py --rank-died SWEEP.json, for a candidate one of whose ranks
always dies: fails unless every candidate row failed and every failed run
ended within a minute, not at the sweep's time limit."""
import json
import sys


def faults(document):
    rows = [s for s in document["summary"] if s["role"] == "candidate"]
    if not rows:
        yield "no candidate rows"
    for s in rows:
        what = f"{s['program']} at N={s['length']}"
        launch, memory = s.get("launch") or {}, s.get("rank_memory")
        if s["failure"] or s["verdict"] != "accurate":
            yield f"{what}: verdict {s['verdict']}, failure {s['failure']}"
        if launch.get("launcher") != "srun" or not launch.get("ranks") or not launch.get("nodes"):
            yield f"{what}: launch {launch}"
            continue
        busiest = -(-launch["ranks"] // launch["nodes"])
        if launch["oversubscribed"] != (busiest > launch["node_cpus"]):
            yield f"{what}: oversubscribed {launch['oversubscribed']} with {busiest} ranks on a node"
        share = 8 * s["length"] / launch["ranks"]
        if memory is None:
            yield f"{what}: no rank memory"
        elif memory["largest_rank_bytes"] < share or memory["total_bytes"] < 8 * s["length"]:
            yield f"{what}: rank memory {memory} below {share:.0f} bytes per rank"
        ranks = launch["ranks"]
        for r in document["runs"]:
            if r["program"] == s["program"] and r["length"] == s["length"] and not r["failure"]:
                # A run whose ranks were not all seen has no peaks; the row's
                # memory (checked above) comes from the others.
                peaks = r["rank_peaks_bytes"]
                if peaks and (len(peaks) != ranks or min(peaks) < 8 * (s["length"] // ranks)):
                    yield f"{what}: a {r['kind']} run's ranks peaked at {peaks} bytes"


# A launch whose rank died ends in seconds once the launcher ends the
# others; a minute leaves room for a loaded machine, and is still half the
# time limit the batch example gives each run.
RANK_DIED_SECONDS = 60


def rank_died_faults(document):
    rows = [s for s in document["summary"] if s["role"] == "candidate"]
    if not rows:
        yield "no candidate rows"
    for s in rows:
        if not s["failure"]:
            yield f"{s['program']} at N={s['length']}: did not fail though a rank died"
    for r in document["runs"]:
        if r["failure"] and r["wall"] >= RANK_DIED_SECONDS:
            yield (f"{r['program']} at N={r['length']}: a {r['kind']} run whose rank died "
                   f"took {r['wall']:.0f} s: {r['failure']}")


def main():
    died = sys.argv[1:2] == ["--rank-died"]
    with open(sys.argv[-1]) as f:
        document = json.load(f)
    found = list(rank_died_faults(document) if died else faults(document))
    for line in found:
        print(f"check_sweep: {line}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
