# SPDX-License-Identifier: MIT
"""The sweep's pure logic, in-process: the verdict's bounds, the
intervals, the summaries. Expected values are worked out here by hand,
not by calling the code under test."""
import math
import tempfile
from dataclasses import replace
from types import SimpleNamespace
import unittest

from dotprod_sweep.facts import printed
from dotprod_sweep.figures import flags, gate, model, speedups, stats, verdict
from dotprod_sweep.running import plan, preflight
from dotprod_sweep.views import prose
from dotprod_sweep.facts.runs import Ceiling, PROBE, Run, Runs, TIMED


def run(program, n, repeat, seconds, result, kind=TIMED, failure=None):
    return Run(program, n, repeat, kind, 1.0, 2**20, "process", result, seconds, failure)


class Verdict(unittest.TestCase):
    def test_classes(self):
        # At N = 1000 the exact value 0.0338752580 lies in [2^-5, 2^-4): half a
        # float ulp there is 2^-29 = 1.86e-9; times 1000 additions, 1.86e-6;
        # plus 2^-24 * S = 2.0e-9 for the products, plus what the print hides:
        # 5e-7 for six decimals, 5e-9 for eight. Accurate: that print error
        # plus (2^-24 + 1002 * 2^-53) * S = 2.0e-9.
        exact, dotprod = 0.0338752580, "0.033870"
        cases = [("0.03387", 0.5e-5, verdict.SAME),          # as dotprod prints it
                 ("0.033875", 0.5e-6, verdict.ACCURATE),     # 2.6e-7 off, 5.02e-7 allowed
                 ("0.03387526", 0.5e-8, verdict.ACCURATE),   # 2.0e-9 off, 7.0e-9 allowed
                 ("0.03387576", 0.5e-8, verdict.FLOAT),      # 5.0e-7 off, 1.87e-6 allowed
                 ("0.03387725", 0.5e-8, verdict.WRONG),      # 1.99e-6 off
                 ("0.033877", 0.5e-6, verdict.FLOAT),        # 1.74e-6 off, 2.36e-6 allowed
                 ("0.033878", 0.5e-6, verdict.WRONG),        # 2.74e-6 off
                 ("0.034", 0.5e-3, verdict.WRONG)]           # a coarse print gains nothing
        for text, half_unit, wanted in cases:
            with self.subTest(text):
                self.assertEqual(verdict.classify(1000, float(text), half_unit, exact, dotprod),
                                 wanted)

    def test_float_band_follows_the_largest_sum(self):
        # At N = 10^7 and S = 333.35 (in [256, 512)) half an ulp is 2^-16: the band
        # is 10^7 * 2^-16 = 152.6 wide, so a result 40 % low cannot be judged.
        self.assertEqual(verdict.classify(10**7, 200.0, 5e-7, 333.35, "329.139282"),
                         verdict.FLOAT)
        self.assertEqual(verdict.classify(10**7, 150.0, 5e-7, 333.35, "329.139282"),
                         verdict.WRONG)

    def test_half_a_unit_of_the_last_printed_digit(self):
        for text, half in [("0.033875", 5e-7), ("1e-7", 5e-8), ("2.000000e-06", 5e-13),
                           ("12", 0.5), ("333.35291331780826", 5e-15)]:
            with self.subTest(text):
                self.assertAlmostEqual(printed.half_unit(text) / half, 1.0)

    def test_a_ceilings_pass_lines(self):
        ending = "Resultado: 1.000000\nTiempo: 0.000002000\n"
        both = "First pass: 0.000004000\nSecond pass: 0.000003000\n"
        for before, wanted in [(both, (4e-6, 3e-6)), ("First pass: 0.000004000\n", (4e-6, None)),
                               ("", (None, None)),
                               ("First pass: inf\nSecond pass: 0\n", (None, None)),
                               ("First pass: 1e999\nSecond pass: -1\n", (None, None)),
                               ("x" * 70000 + "\n", (None, None)),
                               ("sum=1.0\n", (None, None))]:
            with self.subTest(before), tempfile.NamedTemporaryFile("w") as f:
                f.write(before + ending)
                f.flush()
                self.assertEqual(printed.read_passes(f.name), wanted)

    def test_sum_lines_across_blocks(self):
        # Lines of 10 bytes: line 104857 straddles the first 1 MiB block's
        # end; the last line has no newline, and 9 is past the end.
        text = "".join(f"sum={k % 100000:05d}\n" for k in range(200000)) + "sum=last"
        with tempfile.NamedTemporaryFile("w") as f:
            f.write(text)
            f.flush()
            found = printed.sum_lines(f.name, {0, 104857, 199999, 200000})
            self.assertEqual(found, {0: "sum=00000", 104857: "sum=04857", 199999: "sum=99999",
                                     200000: "sum=last"})
            self.assertEqual(printed.sum_lines(f.name, {200001}), {})
            self.assertEqual(printed.sum_lines(f.name, set()), {})

    def test_the_weakest_evidence_wins(self):
        for classes, wanted in [((verdict.SAME, verdict.WRONG, verdict.ACCURATE), verdict.WRONG),
                                ((verdict.ACCURATE, verdict.SAME), verdict.ACCURATE),
                                ((verdict.FLOAT, verdict.ACCURATE), verdict.FLOAT)]:
            with self.subTest(classes):
                self.assertEqual(verdict.worst(classes), wanted)

    def test_a_coarse_print_is_said_to_be_one(self):
        # 0.034 may stand for 0.0338753 (0.5e-3 either side); 0.031 may not.
        for printed_result, said in [("0.034", "mine prints too few decimals at N=1000"),
                                     ("0.031", "mine is wrong at N=1000")]:
            runs = Runs(("dotprod", "mine"), "dotprod", "dotprod", (1000,), ())
            runs.exact[1000] = 0.0338752580
            runs.runs += [run("dotprod", 1000, 1, "0.1", "0.033870"),
                          run("mine", 1000, 1, "0.1", printed_result)]
            line, = map(prose.wrong_line, model.model(runs).wrong)
            self.assertTrue(line.startswith(said), line)

    def test_tolerance_widens_float_band_only(self):
        # 0.00343 off: rounding allows 1.86e-6 + 5e-7 + 2e-9 and REL x 0.03387,
        # which 0.11 makes 0.003728 and 0.10 only 0.003389.
        self.assertEqual(verdict.classify(1000, 0.0373, 5e-7, 0.03387, None, 0.11),
                         verdict.FLOAT)
        self.assertEqual(verdict.classify(1000, 0.0373, 5e-7, 0.03387, None, 0.10),
                         verdict.WRONG)


class Intervals(unittest.TestCase):
    def test_order_statistics(self):
        # n = 6: [min, max] covers 1 - 2/64; n = 9: 2nd and 8th cover 1 - 2*10/512;
        # n = 5: no interval reaches 95 %, min-max covers 1 - 2/32.
        cases = [(6, (0, 5, 1 - 2 / 64)), (9, (1, 7, 1 - 20 / 512)), (5, (0, 4, 1 - 2 / 32))]
        for n, (low, high, coverage) in cases:
            with self.subTest(n=n):
                got = stats.median_interval(list(range(n))[::-1])
                self.assertEqual(got[:2], (low, high))
                self.assertAlmostEqual(got[2], coverage)

    def test_a_rerun_interval_takes_in_the_drift(self):
        # Nine values, three a third. Steady: each third's median is 2, no
        # drift, the 2nd to the 8th. Rising: thirds' medians 1.5, 2 and 2.5,
        # drift log(2.5 / 1.5) / 2 = 0.2554, times 1.5: 0.3831; the median 2,
        # the 2nd and 8th 1.5 and 2.5, log(2 / 1.5) = 0.2877 below and
        # log(2.5 / 2) = 0.2231 above, each taken with it: 2 e^-0.4791 =
        # 1.2387 and 2 e^0.4434 = 3.1159. Six values, two a third: one far
        # off would move a third's median, a mean of two, as far as it
        # likes, so no drift is taken: min to max.
        cases = [([1, 3, 2, 2, 1.5, 2, 2.5, 2, 2], (1.5, 2.5)),
                 ([1, 1.5, 2, 2, 2, 2, 2, 2.5, 3], (1.2387, 3.1159)),
                 ([1, 1, 30, 1, 1, 1], (1, 30))]
        for values, (low, high) in cases:
            with self.subTest(values):
                got = stats.rerun_interval(values)
                self.assertAlmostEqual(got[0], low, places=4)
                self.assertAlmostEqual(got[1], high, places=4)
                self.assertEqual(got[2], stats.median_interval(values)[2])

    def test_wide_beyond_ten_percent_either_side(self):
        # As ratios: 1/0.91 = 1.099 is within, 1/0.90 = 1.111 beyond.
        for low, high, wide in [(0.91, 1.099, False), (0.90, 1.01, True), (0.99, 1.11, True)]:
            with self.subTest((low, high)):
                self.assertEqual(stats.is_wide(low, 1.0, high), wide)

    def test_settled_only_when_narrow_twice_running(self):
        # Nine values give the 2nd to 8th as interval, eight give min-max:
        # one 0.85 among the first eight is wide without the last value.
        steady = [1.0] * 8
        for values, settled in [(steady + [0.85], True), (steady[:6] + [0.85, 1.0, 1.0], False),
                                ([1.0, 0.95, 1.05, 0.97, 1.03, 1.0, 1.0, 1.2], False),
                                # Narrow rounds, but drifting thirds: the interval the
                                # table shows is wide, and so not settled; the drift
                                # (0.141) reaches 1.5 times the rest (0.095), under 2.
                                ([10.0, 10.1, 10.05, 11.0, 11.1, 11.05, 12.1, 12.2, 12.15,
                                  11.0], False)]:
            with self.subTest(values):
                runs = Runs(("dotprod", "c"), "dotprod", "dotprod", (100,), ())
                for k, v in enumerate(values, start=1):
                    runs.runs += [run("dotprod", 100, k, "1.0", "0.5"),
                                  run("c", 100, k, f"{1 / v:.12f}", "0.5")]
                self.assertEqual(speedups.settled(runs, "c", 100), settled)

    def test_a_drift_more_rounds_cannot_narrow_ends_the_rounds(self):
        # 90 rounds: ratios at 0.8 in the first third, 1.0 after (each
        # alternating with 0.1 % more). The 36th to 55th of 90 bound the
        # median at 1.0-1.001; the drift, 1.5 times half log 1.25 = 0.167,
        # is wide, and over twice that reach twice running: settled, named
        # on the Drift: line. Spread evenly over the thirds, no drift.
        def runs_of(ratios):
            runs = Runs(("dotprod", "c"), "dotprod", "dotprod", (100,), ())
            for k, v in enumerate(ratios, start=1):
                runs.runs += [run("dotprod", 100, k, "1.0", "0.5"),
                              run("c", 100, k, f"{1 / v:.12f}", "0.5")]
            return runs
        drifting = [0.8, 0.801] * 15 + [1.0, 1.001] * 30
        even = [v for third in zip(drifting[:30], drifting[30:60], drifting[60:]) for v in third]
        for ratios, drifted in ((drifting, True), (even, False)):
            with self.subTest(drifted=drifted):
                runs = runs_of(ratios)
                c, = [s for s in model.model(runs).summaries if s.program == "c"]
                self.assertEqual((c.drifted, c.wide), (drifted, drifted))
                self.assertTrue(speedups.settled(runs, "c", 100))
                self.assertEqual(plan.unsettled(runs, 100), ())

    def test_noise_floor_is_the_median_step(self):
        # Steps of 50 %, 33.3 % and 10 %: the median is 33.3 %, the mean 31.1 %.
        self.assertAlmostEqual(stats.noise_floor([2.0, 3.0, 4.0, 4.4]), 1 / 3)
        self.assertIsNone(stats.noise_floor([2.0]))

    def test_two_clusters(self):
        self.assertTrue(stats.two_clusters([1.0, 1.01, 1.02, 3.0, 3.05, 3.1]))
        self.assertFalse(stats.two_clusters([1.0, 1.1, 1.2, 1.3, 1.4, 1.5]))
        self.assertFalse(stats.two_clusters([1.0, 1.0, 1.0, 1.0, 1.0, 5.0]))  # one outlier
        steady = [1.0, 1.01, 1.02, 1.03] * 2
        # Two of 12 runs an interrupt slowed are outliers; three are a group.
        self.assertFalse(stats.two_clusters(steady + [1.04, 1.05, 2.6, 2.7]))
        self.assertTrue(stats.two_clusters(steady + [1.04, 2.5, 2.6, 2.7]))


class Summaries(unittest.TestCase):
    def make(self, baseline="dotprod", fast_times=(0.5, 1.5, 0.0), fast_result="0.400000",
             probe_result="0.100000"):
        runs = Runs(("dotprod", "fast"), "dotprod", baseline, (100,), (5,))
        runs.exact.update({100: 0.52, 5: 0.1})
        for r, (d, f) in enumerate(zip((2.0, 3.0, 4.0), fast_times), start=1):
            runs.runs += [run("dotprod", 100, r, str(d), "0.500000"),
                          run("fast", 100, r, str(f), fast_result)]
        runs.runs += [run("dotprod", 5, 1, "0.1", "0.100000", PROBE),
                      run("fast", 5, 1, "0.1", probe_result, PROBE)]
        runs.ceilings.append(Ceiling(100, 2, 1e-6, 0.1))
        return model.model(runs)

    def test_speedup_is_baseline_over_candidate_per_repeat(self):
        fast = self.make().of("fast")[0]
        # 2/0.5 and 3/1.5; the third repeat printed 0 s and gives no ratio.
        self.assertEqual((fast.ratios, fast.speedup), ((4.0, 2.0), 3.0))
        self.assertEqual(self.make(baseline="fast").of("dotprod")[0].ratios, (0.25, 0.5))

    def test_wrong_anywhere_makes_a_candidate_wrong(self):
        made = self.make()
        self.assertEqual(made.probe_verdicts[("fast", 5)], verdict.SAME)
        self.assertEqual(made.standing["fast"], "wrong")
        self.assertEqual(made.status, 1)

    def test_what_was_not_checked_is_not_ok(self):
        cases = [((None, False, False, ()), "ok"), ((None, False, False, (5, 29)),
                  "not checked at N=5, 29"), (("line", True, True, (5,)), "wrong"),
                 ((None, True, True, ()), "impossible"), ((None, False, True, ()), "failed")]
        for args, word in cases:
            with self.subTest(args):
                self.assertEqual(model.standing(*args), word)

    def test_the_wrong_line_names_the_worst_length(self):
        # At N = 5, 0.099 is 1e-3 off, about 2,000 times what rounding
        # allows there; at N = 100, 0.4 is 0.12 off, some 34,000 times.
        line, = map(prose.wrong_line, self.make(probe_result="0.099000").wrong)
        self.assertTrue(line.startswith("fast is wrong at N=100:"), line)

    def test_a_time_too_short_for_its_digits_is_noisy(self):
        # 2e-6 printed to six decimals is known to ±25 %; to seven significant
        # digits, far better than the 1 % that makes a time coarse.
        self.assertTrue(self.make(fast_times=("0.000002",) * 3).of("fast")[0].coarse)
        self.assertFalse(self.make(fast_times=("2.000000e-06",) * 3).of("fast")[0].coarse)

    def test_drift_alone_is_said_once_not_flagged(self):
        # Speedups per round over a steady dotprod. drifting: each third
        # steady, thirds' medians 10.05, 11.05 and 12.15; its rounds' own
        # interval, the 2nd to 8th of nine, reaches 1.0995 either way: not
        # wide, but the drift makes it so. noisy: no drift, and the 2nd to
        # 8th, 9 and 13 about 11, reach 1.18 up.
        speedups = {"drifting": (10.0, 10.1, 10.05, 11.0, 11.1, 11.05, 12.1, 12.2, 12.15),
                    "noisy": (10, 13, 11, 9, 12, 10, 13, 9, 11)}
        runs = Runs(("dotprod", *speedups), "dotprod", "dotprod", (1000,), ())
        runs.exact[1000] = 0.5
        for r in range(9):
            runs.runs += [run("dotprod", 1000, r + 1, "1.000000000", "0.500000")] + \
                [run(p, 1000, r + 1, repr(1 / s[r]), "0.500000") for p, s in speedups.items()]
        made = model.model(runs)
        drifting, noisy = made.of("drifting")[0], made.of("noisy")[0]
        self.assertEqual((drifting.wide, drifting.drifted, drifting.flags), (True, True, ()))
        self.assertEqual((noisy.wide, noisy.drifted, [f.kind for f in noisy.flags]),
                         (True, False, ["wide"]))
        line = prose.drift_line(made)
        self.assertIn("drifting at N=10^3 moved", line)
        self.assertNotIn("noisy", line)

    def test_the_baseline_is_never_noisy(self):
        coarse = self.make(baseline="fast", fast_times=("0.000002",) * 3).of("fast")[0]
        self.assertEqual((coarse.coarse, coarse.noisy), (True, False))

    def test_impossible_time(self):
        # The ceiling reads 800 bytes in 1 us: 0.8 GB/s. A median of 0.5 s is
        # possible; 1e-7 s, printed to 7 decimals, claims 8000 GB/s.
        right = {"fast_result": "0.520000"}
        self.assertEqual(self.make(**right).status, 0)
        self.assertFalse(self.make(**right).of("fast")[0].impossible)
        made = self.make(fast_times=("1e-7",) * 3, **right)
        self.assertTrue(made.of("fast")[0].impossible)
        self.assertEqual(made.status, 1)
        self.assertEqual(len(made.impossible), 1)

    def test_thresholds_on_both_sides(self):
        # Impossible beyond 1.5 x 0.8 GB/s: 800 bytes in 0.66 us claim 1.21
        # GB/s, in 0.67 us 1.19. Coarse where half the last digit is more than
        # 1 % of the time: 0.5 us of 49 us, not of 50.
        right = {"fast_result": "0.520000"}
        for text, impossible in (("0.000000660000", True), ("0.000000670000", False)):
            with self.subTest(text):
                fast = self.make(fast_times=(text,) * 3, **right).of("fast")[0]
                self.assertEqual(fast.impossible, impossible)
        for text, is_coarse in (("0.000049", True), ("0.000050", False)):
            with self.subTest(text):
                self.assertEqual(flags.coarse([run("p", 1, 1, text, "0.5")]), is_coarse)

    def test_the_gate_fails_passes_or_cannot_tell(self):
        # At 20 %, the least speedup within it is 1 / 1.2 = 0.8333: an
        # interval whose top is 0.83 (1.205x slower) fails; one whose low end
        # is 0.8334 passes; between, and without an interval, it cannot tell.
        fast = self.make(fast_result="0.520000").of("fast")[0]
        cases = [((0.81, 0.82, 0.83), {}, "failed"), ((0.82, 0.83, 0.84), {}, gate.REACHES),
                 ((0.8334, 0.9, 1.1), {}, "passed"), ((1 / 1.2, 0.9, 1.1), {}, "passed"),
                 ((0.9, 0.9, 0.9), {"ratios": (0.9,)}, gate.ONE_ROUND),
                 ((0.9, 1.0, 1.1), {"clusters": True}, gate.CLUSTERS),
                 # Clusters, its or the baseline's: (least, most) their medians
                 # may give. Beyond or within only where they are too.
                 ((0.7, 0.75, 0.8), {"clusters": True, "cluster_speedups": (0.7, 0.84)},
                  gate.CLUSTERS),
                 ((0.7, 0.75, 0.8), {"cluster_speedups": (0.7, 0.84)}, gate.CLUSTERS),
                 ((0.7, 0.75, 0.8), {"clusters": True, "cluster_speedups": (0.6, 0.82)},
                  "failed"),
                 ((0.85, 0.9, 1.0), {"cluster_speedups": (0.82, 1.1)}, gate.CLUSTERS),
                 ((0.85, 0.9, 1.0), {"cluster_speedups": (0.84, 1.1)}, "passed"),
                 ((0.82, 0.83, 0.84), {"cluster_speedups": (0.8, 0.9)}, gate.REACHES),
                 ((None, None, None), {}, gate.NO_SPEEDUP)]
        for (low, middle, high), more, wanted in cases:
            with self.subTest(wanted=wanted, low=low):
                row = replace(fast, speedup=middle, speedup_low=low, speedup_high=high, **more)
                slower, unsure = gate.outcome([row], 0.2)
                found = "failed" if slower else unsure[0][1] if unsure else "passed"
                self.assertEqual(found, wanted)
        self.assertEqual(gate.outcome([replace(fast, baseline=True)], 0.2),
                         ((), ((None, gate.NOTHING),)))
        self.assertEqual(gate.outcome([fast], None), ((), ()))

    def test_a_row_in_two_clusters_is_not_failed_for_where_its_median_sat(self):
        # old 1 ms in the rounds it ran; new 1 and 1.5 ms in turn, 61 rounds.
        # new's thirds hold 20, 20 and 21 runs, medians 1.25, 1.25 and 1:
        # its interval lies beyond 20 % slower, yet a sweep whose median sits
        # in its faster cluster finds it as fast as old.
        runs = Runs(("old", "new"), "dotprod", "old", (1000,), ())
        runs.runs += [run("old", 1000, k, "0.001", "0.5")
                      for k in (1, 2, 3, 4, 5, 6, 9, 14, 21, 32, 48)]
        runs.runs += [run("new", 1000, k, "0.0015" if k % 2 == 0 else "0.001", "0.5")
                      for k in range(1, 62)]
        new = next(s for s in model.model(runs).summaries if s.program == "new")
        self.assertLess(new.speedup_high, 1 / 1.2)
        self.assertEqual((new.clusters, new.cluster_speedups), (True, (0.001 / 0.0015, 1.0)))
        self.assertEqual(gate.outcome([replace(new, role="candidate")], 0.2),
                         ((), ((replace(new, role="candidate"), gate.CLUSTERS),)))
        # The baseline's clusters count alike, each against new's median.
        base = [run("old", 1000, k, "0.002" if k % 2 else "0.001", "0.5") for k in range(1, 9)]
        own = [run("new", 1000, k, "0.0015", "0.5") for k in range(1, 9)]
        self.assertEqual(speedups.cluster_speedups(base, own), (0.001 / 0.0015, 0.002 / 0.0015))
        self.assertIsNone(speedups.cluster_speedups(own, own))
        made = SimpleNamespace(fail_above=0.2, baseline="old", slower=(), summaries=(),
                               unsure=((replace(new, clusters=False), gate.CLUSTERS),))
        self.assertIn("1.25× slower than old (1.25–1.88), the baseline's times fall in two "
                      "clusters, and its median may sit in either; rerun", prose.gate_line(made))

    def test_a_time_of_zero_gives_no_speed(self):
        # 800 bytes against 1.5 x 0.8 GB/s: "0.000000" may stand for 0.5 us,
        # 1.6 GB/s at the least, impossible; "0" for 0.5 s, possible. Two
        # zeros of three make the median 0: the third time gives no speedup.
        right = "0.520000"
        for times, impossible in [(("0.000000",) * 3, True), (("0",) * 3, False),
                                  (("0", "0", "1.5"), False)]:
            with self.subTest(times):
                made = self.make(fast_times=times, fast_result=right)
                fast, = made.of("fast")
                self.assertEqual((fast.speedup, fast.ratios, fast.impossible),
                                 (None, (), impossible))
                self.assertEqual([f.kind for f in fast.flags], ["coarse"])
                self.assertEqual(made.status, int(impossible))
                self.assertEqual(made.answers[0].why_none, "own")
                if impossible:
                    self.assertIn("a time of 0, which stands for 1.6 GB/s or more",
                                  prose.impossible_line(made.impossible[0]))
        over_zero = self.make(baseline="fast", fast_times=("0",) * 3).of("dotprod")[0]
        self.assertEqual((over_zero.speedup, [f.kind for f in over_zero.flags]),
                         (None, ["coarse"]))


class Scaling(unittest.TestCase):
    def test_efficiency_is_speedup_over_the_ideal(self):
        runs = Runs(("dotprod", "p t=1", "p t=2"), "dotprod", "dotprod", (100,), ())
        runs.params = {"p t=1": (("t", "1"),), "p t=2": (("t", "2"),)}
        runs.families = {"p t=1": "p", "p t=2": "p"}
        for r in (1, 2, 3):
            runs.runs += [run("dotprod", 100, r, "4.0", "0.5"), run("p t=1", 100, r, "2.0", "0.5"),
                          run("p t=2", 100, r, "1.25", "0.5")]
        # Twice the threads, 2.0 / 1.25 = 1.6 times as fast: 80 % of the ideal 2.
        table, = model.model(runs).scaling
        self.assertEqual((table.family, table.name, table.length), ("p", "t", 100))
        self.assertEqual(table.rows, (("1", 1.0, 1.0), ("2", 1.6, 0.8)))


class Plan(unittest.TestCase):
    def test_a_round_must_end_within_the_budget(self):
        self.assertTrue(plan.worth_a_round(100.0, 19.0, 120.0))
        self.assertFalse(plan.worth_a_round(100.0, 21.0, 120.0))

    def test_a_round_goes_where_it_narrows_most_per_second(self):
        # At N=10, nine rounds of c from 0.8 to 1.25: the 2nd and 8th of
        # nine (0.85, 1.2) bound its median 1.0, a reach of log 1.2 =
        # 0.1823, narrowing 0.1823^2 / 9 = 3.693e-3 a run. At N=20, the
        # longest, 30 rounds hovering: thirds at 0.93, 1.0 and 1.07, wide
        # for the drift, bounded by the 10th and 21st of 30, a reach of
        # log(1 / 0.93) = 0.0726: 1.7555e-4 a run, 21.04 times less. Each
        # is weighed by its speedup interval's reach over log 1.1, squared:
        # 0.2159 (drift 0.1158 taken in) gives 5.131, 0.1278 gives 1.797,
        # so a round at N=10 is worth 60.06 times one at N=20 at one cost.
        # dotprod, dearer and steady, is not needed in either.
        runs = Runs(("dotprod", "c"), "dotprod", "dotprod", (10, 20), ())
        wide = [0.8, 1.25, 0.9, 1.1, 1.0, 0.85, 1.2, 0.95, 1.05]
        for n, times in ((10, wide), (20, [0.93] * 10 + [1.0] * 10 + [1.07] * 10)):
            for k, t in enumerate(times, start=1):
                runs.runs += [Run("dotprod", n, k, TIMED, 2.0, 0, "process", "0.5", "1.0"),
                              run("c", n, k, f"{t:.6f}", "0.5")]
        self.assertEqual(plan.unsettled(runs, 20), ("c",))
        for cost_10, elapsed, wanted in ((1.0, 0.0, 10), (60.0, 0.0, 10), (60.1, 0.0, 20),
                                         (1.5, 998.9, 20)):
            with self.subTest(cost_10=cost_10, elapsed=elapsed):
                costs = {10: cost_10, 20: 1.0}
                chosen = plan.next_round(runs, (10, 20), {10: 9, 20: 30},
                                         lambda n, programs: costs[n], elapsed, 1000.0)
                self.assertEqual(chosen, (wanted, ("c",)))
        self.assertIsNone(plan.next_round(runs, (10, 20), {10: 9, 20: 30}, lambda n, p: 2.0,
                                          999.0, 1000.0))
        # A row within ±10 % weighs 1, as one no wider; at ±25 %, with six
        # ratios (min-max, no drift), (log 1.25 / log 1.1)^2 = 5.48.
        for ratios, weight in (([0.8, 1.0, 1.0, 1.0, 1.0, 1.25], 5.48),
                               ([0.96, 1.0, 1.0, 1.0, 1.0, 1.04], 1.0)):
            with self.subTest(ratios=ratios):
                made = Runs(("dotprod", "c"), "dotprod", "dotprod", (10,), ())
                for k, v in enumerate(ratios, start=1):
                    made.runs += [run("dotprod", 10, k, "1.0", "0.5"),
                                  run("c", 10, k, f"{1 / v:.12f}", "0.5")]
                self.assertAlmostEqual(plan.wideness(made, 10, "c"), weight, places=2)


    def test_a_plan_is_made_again_once_its_length_has_a_new_run(self):
        # Five rounds at N=10 leave c wide; a plan kept from then is given
        # back while nothing runs there, and made again after a sixth round
        # that settles it, as if made afresh.
        runs = Runs(("dotprod", "c"), "dotprod", "dotprod", (10,), ())
        def one_round(k, t):
            runs.runs += [run("dotprod", 10, k, "1.000000", "0.5"),
                          run("c", 10, k, f"{t:.6f}", "0.5")]
        for k, t in enumerate([0.5, 1.0, 1.0, 1.0, 2.0, 1.0, 1.0], start=1):
            one_round(k, t)
        known = {}
        wide = plan.length_plan(runs, 10, known)
        self.assertEqual(wide[0], ("c",))
        self.assertIs(plan.length_plan(runs, 10, known)[0], wide[0])
        for k in range(8, 40):
            one_round(k, 1.0)
        self.assertEqual(plan.length_plan(runs, 10, known), plan.length_plan(runs, 10))
        self.assertEqual(plan.length_plan(runs, 10, known)[0], ())
    def test_the_baseline_runs_as_its_own_median_needs(self):
        # c's runs alternate 0.9 and 1.1 over twelve rounds, each of 1 s.
        # A baseline as noisy and no dearer pairs in every round; a steady
        # one narrows nothing and sits out; a dearer one (2 s) as noisy
        # narrows half as much a second, and sits out, while one that
        # varies twice as much narrows twice as much: it runs. A steady one
        # that ran in rounds 1-3 only runs again: its rounds would no
        # longer reach the middle third of c's, 5-8 of 13.
        noisy, steady = [0.9, 1.1] * 6, [1.0, 1.001] * 6
        cases = [("as noisy", noisy, 1.0, range(1, 13), True),
                 ("steadier", steady, 1.0, range(1, 13), False),
                 ("dearer, as noisy", noisy, 2.0, range(1, 13), False),
                 ("dearer, noisier", [0.8, 1.2] * 6, 2.0, range(1, 13), True),
                 ("steadier, spread thin", steady, 2.0, range(1, 4), True)]
        for name, base, wall, made, runs_it in cases:
            with self.subTest(name):
                runs = Runs(("dotprod", "c"), "dotprod", "dotprod", (100,), ())
                runs.runs += [Run("dotprod", 100, k, TIMED, wall, 0, "process", "0.5",
                                  f"{base[k - 1]:.6f}") for k in made]
                runs.runs += [run("c", 100, k, f"{t:.6f}", "0.5")
                              for k, t in enumerate(noisy, start=1)]
                self.assertEqual(plan.baseline_in_round(runs, 100, ("c",)), runs_it)

    def test_a_speedup_is_of_the_rows_medians_where_the_baseline_skipped_rounds(self):
        # dotprod (2 s) in rounds 1-6, then every other round; c took 1 s
        # in the rounds dotprod ran in, 0.5 s in the others, of 18. The
        # medians of c's thirds (rounds 1-6, 7-12, 13-18) are 1, 0.75 and
        # 0.75: dotprod's runs over them, 2 six times and 8/3 six times,
        # have the median 7/3. Paired, every ratio is 2: where dotprod's
        # rounds miss 13-17, too few to span c's last third.
        for rounds, speedup in (((*range(1, 7), *range(7, 18, 2)), 7 / 3),
                                ((*range(1, 7), 7, 9, 11), 2.0)):
            with self.subTest(rounds=rounds):
                runs = Runs(("dotprod", "c"), "dotprod", "dotprod", (100,), ())
                runs.runs += [run("dotprod", 100, k, "2.0", "0.5") for k in rounds]
                runs.runs += [run("c", 100, k, "1.0" if k in rounds else "0.5", "0.5")
                              for k in range(1, 19)]
                c, = [s for s in model.model(runs).summaries if s.program == "c"]
                self.assertEqual((round(c.speedup, 12), len(c.ratios)),
                                 (round(speedup, 12), len(rounds)))
        # Each end takes the ratios' reach and that of the row's median,
        # added as independent parts: ratios 1..6 (median 3.5), the row's
        # times 0.5..2 (median 1), six each.
        top, bottom = [1, 2, 3, 4, 5, 6], [0.5, 0.5, 1, 1, 2, 2]
        low, high = 3.5 / math.exp(math.hypot(math.log(3.5), math.log(2))), \
            3.5 * math.exp(math.hypot(math.log(6 / 3.5), math.log(2)))
        middle, *ends, coverage = stats.local_interval(top, bottom)
        self.assertEqual((middle, coverage), (3.5, 1 - 2 / 64))
        self.assertEqual([round(e, 12) for e in ends], [round(low, 12), round(high, 12)])
        # Ratios in thirds at 1, 2 and 3 over a steady row: the 2nd and 8th
        # of nine bound the median 2, and the drift, 1.5 times half log 3,
        # is added to each reach.
        moved = 1.5 * math.log(3) / 2
        _, *ends, _ = stats.local_interval([1, 1, 1, 2, 2, 2, 3, 3, 3], [1] * 9)
        self.assertEqual([round(e, 12) for e in ends],
                         [round(2 / math.exp(math.hypot(math.log(2), moved)), 12),
                          round(2 * math.exp(math.hypot(math.log(1.5), moved)), 12)])

    def test_rounds_go_on_for_rows_not_settled(self):
        # Of four candidates, only "jumpy" needs more rounds: "coarse" and
        # "failed" cannot be narrowed by them.
        names = ("dotprod", "steady", "jumpy", "coarse", "failed")
        runs = Runs(names, "dotprod", "dotprod", (100,), ())
        for r in range(1, 9):
            jumpy = ("0.400000", "0.600000")[r % 2]
            times = ("1.000000", "0.500000", jumpy, ("0.01", "0.02")[r % 2], jumpy)
            runs.runs += [run(p, 100, r, t, "0.5") for p, t in zip(names, times)]
        runs.runs.append(run("failed", 100, 9, None, None, failure="ended with status 1"))
        self.assertEqual(plan.unsettled(runs, 100), ("jumpy",))
        # dotprod, steadier, narrows nothing, and its rounds reach every
        # third of jumpy's.
        self.assertEqual(plan.round_programs(runs, 100), ("jumpy",))

    def test_the_ceiling_runs_in_the_first_rounds_then_within_a_tenth(self):
        # Six first rounds whatever it cost; then while it took under 10 %.
        cases = [((6, 100.0, 10.0), True), ((7, 0.99, 10.0), True), ((7, 1.0, 10.0), False),
                 ((50, 0.0, 0.0), False)]
        for (repeat, spent, elapsed), runs in cases:
            with self.subTest(repeat=repeat, spent=spent):
                self.assertEqual(plan.ceiling_in_round(repeat, spent, elapsed), runs)

    def test_turns_are_shuffled_from_the_seed(self):
        programs = tuple("abcdefgh")
        orders = {tuple(plan.turns(programs, 7, 100, TIMED, r)) for r in range(1, 7)}
        self.assertGreater(len(orders), 1)
        self.assertTrue(all(sorted(o) == list(programs) for o in orders))
        self.assertEqual(plan.turns(programs, 7, 100, TIMED, 3),
                         plan.turns(programs, 7, 100, TIMED, 3))

    def test_warnings_before_any_run(self):
        class Cmd:
            label, env, words = "omp", (("OMP_NUM_THREADS", "4"),), ("/bin/omp",)
        class Config:
            cpus, candidates = None, (Cmd,)
        omp = "omp asks for 4 threads on 2 CPUs"
        # The load average lags: after a sweep that has just ended it is
        # high while nothing runs, and only tasks running then say so.
        cases = [({"load_start": 1.5}, ["the load average is 1.50 on 2 CPUs:", omp]),
                 ({"load_start": 1.5, "busy_start": 1.4},
                  ["the load average is 1.50 on 2 CPUs, 1.4 other tasks running:", omp]),
                 ({"load_start": 1.5, "busy_start": 0.2}, [omp]),
                 ({"load_start": 1.0, "busy_start": 3.0}, [omp]),
                 ({"load_start": None}, [omp])]
        for box, starts in cases:
            with self.subTest(box):
                said = preflight.warnings(Config, {"cores": 2, **box})
                self.assertEqual(len(said), len(starts), said)
                for line, start in zip(said, starts):
                    self.assertTrue(line.startswith(start), line)
        self.assertEqual(preflight.warnings(Config, {"cores": 4, "load_start": 2.0}), [])


if __name__ == "__main__":
    unittest.main()
