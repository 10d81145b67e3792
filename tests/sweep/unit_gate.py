# SPDX-License-Identifier: MIT
"""A gate that decides (--gate-budget), in-process: the rows it cannot
tell because their interval reaches past the limit get more rounds, the
baseline with them, until it can, and no round is started past the
budget and the gate's seconds together. Rounds are made by hand here:
no process runs."""
import unittest
from types import SimpleNamespace
from unittest import mock

from dotprod_sweep.facts.runs import PROBE, Run, Runs, TIMED
from dotprod_sweep.figures import model
from dotprod_sweep.running import plan, rounds

N = 1000
# Each round's noise, by its number: as wide as a loaded machine's.
NOISE = (1.0, 1.3, 0.8, 1.15, 0.9, 1.05, 0.95, 1.0)


def timed(runs, label, repeat, seconds):
    runs.runs.append(Run(label, N, repeat, TIMED, 1.0, 2**20, "process", "0.520000",
                         f"{seconds:.9f}"))


def sweep(slower, first=3):
    """dotprod, old and new, first rounds of each; new slower times old's."""
    runs = Runs(("dotprod", "old", "new"), "dotprod", "old", (N,), (5,))
    runs.exact.update({N: 0.52, 5: 0.1})
    runs.runs += [Run(p, 5, 1, PROBE, 1.0, 2**20, "process", "0.100000", "0.000001")
                  for p in runs.programs]
    for repeat in range(1, first + 1):
        one_round(runs, repeat, ("dotprod", "old", "new"), slower)
    return runs


def one_round(runs, repeat, labels, slower):
    """A round: new's noise is its own, old's and dotprod's steady."""
    times = {"dotprod": 1e-3, "old": 1e-4, "new": 1e-4 * slower * NOISE[repeat % len(NOISE)]}
    for label in labels:
        timed(runs, label, repeat, times[label])


def gate_rounds(runs, slower, fail_above=0.2, budget=10.0, extra=100.0, cost=0.1, spent=0.0):
    """Rounds.decide() on runs, each round made by hand and costing cost
    seconds of a clock that starts spent seconds into the sweep: the
    labels of each round it asked for."""
    asked, clock = [], [spent]
    made = rounds.Rounds.__new__(rounds.Rounds)
    made.config = SimpleNamespace(gate_budget=extra, fail_above=fail_above,
                                  time_budget=budget)
    made.runs, made.started, made.planned, made.timed = runs, 0.0, 0, {N: 3}
    made.ceilings_now = lambda kind, repeat: ()
    made.round_cost = lambda n, programs: cost

    def round_(n, kind, repeat, only):
        asked.append(tuple(only))
        made.timed[n] = repeat
        one_round(runs, repeat, only, slower)
        clock[0] += cost
    made.round = round_
    with mock.patch.object(rounds.time, "monotonic", lambda: clock[0]):
        made.decide()
    return asked, model.model(runs, fail_above)


class Decides(unittest.TestCase):
    def test_it_rounds_until_the_gate_can_tell(self):
        for slower, outcome in ((1.0, "passed"), (1.5, "failed")):
            with self.subTest(slower=slower):
                runs = sweep(slower)
                before = model.model(runs, 0.2)
                self.assertEqual(plan.undecided(before), {N: ["new"]})  # wide at first
                asked, after = gate_rounds(runs, slower)
                self.assertTrue(asked)
                self.assertEqual(set(asked), {("new", "old")})  # the row and its baseline
                self.assertEqual(plan.undecided(after), {})
                self.assertEqual(after.status, 0 if outcome == "passed" else 3)

    def test_it_stops_at_its_seconds(self):
        # At the limit itself, the interval reaches past it round after round.
        cases = [  # (the gate's seconds, seconds spent before, the rounds it starts)
            (None, 0.0, 0), (1.0, 10.5, 2), (1.0, 11.0, 0), (1.0, 0.0, 10)]
        for extra, spent, count in cases:
            with self.subTest(extra=extra, spent=spent):
                asked, after = gate_rounds(sweep(1.2), 1.2, extra=extra, spent=spent, cost=0.25,
                                           budget=10.0 if spent else 1.5)
                self.assertEqual(len(asked), count)
                self.assertEqual(after.status, 4)

    def test_a_row_in_two_clusters_or_decided_gets_no_round(self):
        runs = sweep(1.0, first=12)
        self.assertEqual(gate_rounds(runs, 1.0, fail_above=3.0)[0], [])  # passed already
        made = model.model(runs, 0.2)
        self.assertEqual(plan.undecided(SimpleNamespace(unsure=((None, "nothing to gate"),))), {})
        self.assertEqual(plan.undecided(
            SimpleNamespace(unsure=((made.summaries[-1], "two clusters"),))), {})


if __name__ == "__main__":
    unittest.main()
