# SPDX-License-Identifier: MIT
"""The sweep's pure logic, in-process: the acceptance rule, the speedups
and the summaries. Expected values are worked out here by hand, not by
calling the code under test."""
import unittest

from dotprod_sweep import model, verdict
from dotprod_sweep.measure import Run, Runs


def run(program, n, repeat, seconds, result, peak=1000, warmup=False):
    return Run(program, n, repeat, warmup, f"Resultado: {result:f}", result, seconds, 1.0, peak)


class Rule(unittest.TestCase):
    def test_bound(self):
        # (n, exact, dotprod's result, candidate's result, accepted)
        cases = [
            # Twice dotprod's error of 0.01102 allows 0.02204.
            (10**6, 33.330787, 33.319767, 33.330787 + 0.0215, True),
            (10**6, 33.330787, 33.319767, 33.330787 - 0.0225, False),
            # dotprod exact: the floor, 1e-6 + sqrt(1e4) * 2^-24 * 0.33 = 2.97e-6.
            (10**4, 0.33, 0.33, 0.33 + 2.9e-6, True),
            (10**4, 0.33, 0.33, 0.33 + 1e-5, False),
        ]
        for n, exact, reference, result, accepted in cases:
            with self.subTest(n=n, result=result):
                reason = verdict.judge("mine", n, result, exact, reference, 0.0)
                self.assertEqual(reason is None, accepted, reason)

    def test_tolerance_widens(self):
        self.assertIsNotNone(verdict.judge("mine", 10**4, 0.36, 0.33, 0.33, 0.0))
        self.assertIsNone(verdict.judge("mine", 10**4, 0.36, 0.33, 0.33, 0.1))


class Summaries(unittest.TestCase):
    def setUp(self):
        self.runs = Runs(
            programs=("dotprod", "fast"), reference="dotprod", lengths=(100,),
            runs=(run("dotprod", 100, 1, 9.0, 0.5, warmup=True),
                  run("fast", 100, 1, 9.0, 0.5, warmup=True),
                  run("dotprod", 100, 1, 2.0, 0.5), run("fast", 100, 1, 0.5, 0.4, peak=3000),
                  run("dotprod", 100, 2, 3.0, 0.5), run("fast", 100, 2, 1.5, 0.6),
                  run("dotprod", 100, 3, 4.0, 0.5), run("fast", 100, 3, 0.0, 0.45)),
            exact={100: 0.52})
        self.fast = model.model(self.runs, 0.0).of("fast")[0]

    def test_times_leave_warmups_out(self):
        self.assertEqual((self.fast.median, self.fast.low, self.fast.high), (0.5, 0.0, 1.5))
        self.assertEqual(self.fast.peak, 3000)

    def test_speedup_is_baseline_over_candidate_per_repeat(self):
        # 2/0.5 and 3/1.5; the third repeat printed 0 s and gives no ratio.
        self.assertEqual(self.fast.ratios, (4.0, 2.0))
        self.assertEqual(self.fast.speedup, 3.0)

    def test_farthest_result_is_judged(self):
        self.assertEqual(self.fast.farthest.result, 0.4)
        self.assertAlmostEqual(self.fast.relative_error, 0.12 / 0.52)
        self.assertFalse(self.fast.accepted)

    def test_rates(self):
        self.assertEqual(self.fast.gbs, 800 / 0.5 / 1e9)
        self.assertEqual(self.fast.budget, 800 + 4 * 1024 * 1024)


if __name__ == "__main__":
    unittest.main()
