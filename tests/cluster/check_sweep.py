#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""check_sweep.py SWEEP.json: fails (status 1, one line per fault) unless
every candidate row is accurate, names its launch, is flagged
oversubscribed exactly where its busiest node has more ranks than CPUs,
and shows each rank holding at least its share of the vectors,
8·N/ranks bytes."""
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


def main():
    with open(sys.argv[1]) as f:
        found = list(faults(json.load(f)))
    for line in found:
        print(f"check_sweep: {line}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
