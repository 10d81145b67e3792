# SPDX-License-Identifier: MIT
"""Two sweeps compared, in-process on hand-made runs. Expected values are
worked out here by hand."""
import math
import unittest
from unittest import mock

from dotprod_sweep import comparison as c
from dotprod_sweep import comparison_view as view
from dotprod_sweep.runs import TIMED, Run, Runs

# Two draws of one distribution: both medians are 1.005.
OLD = (1.00, 1.03, 0.98, 1.01, 0.99, 1.02)
NEW = (1.01, 0.99, 1.02, 0.97, 1.00, 1.03)


def runs(times, params=None, machine=None, failed=()):
    """times: {(program, length): seconds per repeat}; failed: (program, length)."""
    made = Runs(tuple(dict.fromkeys(p for p, _ in times)), "dotprod", "dotprod", (), ())
    for (program, n), seconds in times.items():
        made.runs += [Run(program, n, i, TIMED, 1.0, 0, "process", "1.0", repr(t))
                      for i, t in enumerate(seconds, start=1)]
        if (program, n) in failed:
            made.runs.append(Run(program, n, 7, TIMED, 1.0, failure="exited with status 1"))
    made.params.update(params or {})
    made.machine.update(machine or {})
    return made


def scaled(times, factor):
    return tuple(t * factor for t in times)


class RankInterval(unittest.TestCase):
    def test_null_distribution(self):
        # U counts the pairs where new is larger: its orders are partitions in an
        # m x n box. 6 x 6: partitions of 0..5 number 1+1+2+3+5+7 = 19, of 6 are
        # 11, all of C(12, 6) = 924 orders. 2 x 2: U is 0..4 with counts
        # 1, 1, 2, 1, 1 of 6.
        self.assertAlmostEqual(c.null_cdf(6, 6)[5], 19 / 924)
        self.assertAlmostEqual(c.null_cdf(6, 6)[6], 30 / 924)
        self.assertAlmostEqual(c.null_cdf(2, 2)[2], 4 / 6)

    def test_k_exact_and_approximate(self):
        # 6 x 6: P(U <= 5) = 0.0206 <= 0.025 < P(U <= 6): k = 6. 20 x 20: the
        # tables' critical U is 127, so k = 128; the normal approximation,
        # 200 - 0.5 - 1.96 * sqrt(400 * 41 / 12) = 127.04, agrees.
        self.assertEqual(c.rank_k(6, 6), (6, 1 - 38 / 924))
        self.assertEqual(c.rank_k(20, 20)[0], 128)
        with mock.patch.object(c, "EXACT_PAIRS", 0):
            self.assertEqual(c.rank_k(20, 20)[0], 128)
        # At 1 - 0.05 / 3, the share of each of three lengths: P(U <= 3) =
        # 7 / 924 <= 0.0083 < P(U <= 4) = 12 / 924, so k = 4.
        self.assertEqual(c.rank_k(6, 6, 1 - 0.05 / 3), (4, 1 - 14 / 924))

    def test_interval_takes_the_kth_differences(self):
        # log old = 0.06 i, log new = 0.01 j (i, j = 0..5): the 36 differences are
        # 0.01 * (-30..5), one each; the 6th is -0.25 and the 31st is 0.
        iv = c.interval([math.exp(0.06 * i) for i in range(6)],
                        [math.exp(0.01 * j) for j in range(6)])
        self.assertAlmostEqual(iv.low, math.exp(-0.25))
        self.assertAlmostEqual(iv.high, 1.0)

    def test_threshold_rule(self):
        # 5 %: slower above 1.05, faster below 1 / 1.05 = 0.952.
        cases = [((1.02, 1.08), c.SAME), ((1.06, 1.10), c.SLOWER), ((0.94, 0.951), c.FASTER),
                 ((0.90, 0.953), c.SAME), ((0.5, 2.0), c.SAME)]
        for (low, high), wanted in cases:
            with self.subTest(low=low, high=high):
                self.assertEqual(c.call(c.Interval(low, high, 0.95), 0.05), wanted)


class Compare(unittest.TestCase):
    def test_same_distribution_is_no_change(self):
        # quiet prints 1e-06: its last digit is worth half the time, a coarse row.
        old = runs({("dotprod", 1000): OLD, ("dotprod", 10**6): scaled(OLD, 1e3),
                    ("quiet", 1000): (1e-6,) * 6})
        new = runs({("dotprod", 1000): NEW, ("dotprod", 10**6): scaled(NEW, 1e3),
                    ("quiet", 1000): (1e-6,) * 6})
        result = c.compare(old, new)
        self.assertEqual([r.call for r in result.rows] + [result.means[0].call], [c.SAME] * 4)
        self.assertEqual([r.coarse for r in result.rows], [False, True, False])
        self.assertAlmostEqual(result.rows[0].ratio, 1.0)
        self.assertEqual(c.status(result, 0.0), 0)
        text = " ".join(view.compare_files(old, new)[0].decode().split())
        self.assertIn("worth more than 1 % of the time): quiet at N=1000.", text)

    def test_twice_the_work(self):
        # simd: 2 x at both lengths; quiet: 2 x at one, 1 x at the other, whose
        # geometric mean is sqrt(2). Every difference of simd lies within
        # 2 * 0.97 / 1.03 = 1.88 and 2 * 1.03 / 0.98 = 2.10.
        old = runs({("simd", 1000): OLD, ("simd", 10**6): OLD,
                    ("quiet", 1000): OLD, ("quiet", 10**6): OLD})
        new = runs({("simd", 1000): scaled(NEW, 2), ("simd", 10**6): scaled(NEW, 2),
                    ("quiet", 1000): scaled(NEW, 2), ("quiet", 10**6): NEW})
        text, status = view.compare_files(old, new, 0.05, 0.2)
        result = c.compare(old, new)
        simd, quiet = result.means
        self.assertEqual((simd.call, simd.ratio), (c.SLOWER, 2.0))
        self.assertAlmostEqual(quiet.ratio, math.sqrt(2))
        self.assertIn("| simd    |       1.00e+00 |       2.01e+00 |", text.decode())
        self.assertIn("slower, about 2×", text.decode())
        self.assertEqual(status, 3)
        self.assertEqual(view.compare_files(old, new, 0.05, None)[1], 0)
        self.assertEqual(view.compare_files(old, new, 0.05, 1.5)[1], 0)

    def test_every_length_weighs_alike_in_the_mean(self):
        # 0.96 at one length from 6 runs a side, 1.05 at the other from 30: the
        # mean is their geometric mean whatever the runs, and inside its
        # interval; pooled pairs would put 25 times the weight on the second.
        old = runs({("simd", 1000): OLD, ("simd", 10**6): OLD * 5})
        new = runs({("simd", 1000): scaled(NEW, 0.96), ("simd", 10**6): scaled(NEW * 5, 1.05)})
        simd, = c.compare(old, new).means
        self.assertAlmostEqual(simd.ratio, math.sqrt(0.96 * 1.05) * c.shift(OLD, NEW))
        self.assertLess(simd.interval.low, simd.ratio)
        self.assertLess(simd.ratio, simd.interval.high)
        self.assertEqual(simd.call, c.SAME)

    def test_unmatched_and_failed(self):
        # Scan values are part of the match, whether held as pairs or a dict.
        old = runs({("omp", 1000): OLD, ("omp", 10**4): OLD, ("mpi", 1000): OLD},
                   params={"omp": (("t", "2"),), "mpi": (("r", "2"),)}, failed=[("omp", 1000)])
        new = runs({("omp", 1000): NEW, ("omp", 10**5): NEW, ("mpi", 1000): NEW},
                   params={"omp": {"t": "2"}, "mpi": {"r": "4"}})
        result = c.compare(old, new)
        self.assertEqual([(r.program, r.length, r.failure, r.call) for r in result.rows],
                         [("omp", 1000, "old", None)])
        self.assertEqual(result.only_old, (("mpi", (("r", "2"),), 1000),
                                           ("omp", (("t", "2"),), 10**4)))
        self.assertEqual(result.only_new, (("mpi", (("r", "4"),), 1000),
                                           ("omp", (("t", "2"),), 10**5)))
        self.assertIn("failed in old", view.compare_files(old, new, 0.05, 0)[0].decode())
        self.assertEqual(view.compare_files(old, runs({("other", 5): NEW}))[1], 2)

    def test_machine_differences_come_first(self):
        box = {"cpu": "X", "kernel": "Linux 6.1", "commit": "c1", "load_start": 0.1,
               "environment": {"OMP_NUM_THREADS": "2"}}
        other = dict(box, kernel="Linux 6.5", commit="c2", load_start=2.0, environment={})
        # dotprod twice as slow: the machine, not a candidate, changed.
        old = runs({("dotprod", 1): OLD}, machine=box)
        new = runs({("dotprod", 1): scaled(NEW, 2)}, machine=other)
        self.assertEqual(c.differences(box, other),
                         (c.Difference("commit", "c1", "c2"),
                          c.Difference("kernel", "Linux 6.1", "Linux 6.5"),
                          c.Difference("OMP_NUM_THREADS", "2", "unset")))
        text = view.compare_files(old, new)[0].decode()
        self.assertEqual(text.splitlines()[2], "  commit: c1 (old), c2 (new)")
        self.assertIn("Load average at the start: 0.10 (old), 2.00 (new).", text)
        self.assertIn("dotprod is called slower at N=1: unless it changed, the machine", text)

    def test_fits_120_columns(self):
        label = "x" * 20
        old = runs({(label, 2147483647): OLD, (label, 1): scaled(OLD, 1e-6)})
        new = runs({(label, 2147483647): scaled(NEW, 1.1), (label, 1): scaled(NEW, 1.23e-8)})
        text = view.compare_files(old, new)[0].decode()
        self.assertIn("faster, about 81×", text)
        self.assertLessEqual(max(len(line) for line in text.splitlines() if "|" in line), 120)


if __name__ == "__main__":
    unittest.main()
