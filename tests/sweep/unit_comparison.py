# SPDX-License-Identifier: MIT
"""Two sweeps compared, in-process on hand-made runs. Expected values are
worked out here by hand."""
import copy
import dataclasses
import math
import random
import unittest
from unittest import mock

from dotprod_sweep.figures.differences import Difference
from dotprod_sweep.figures import comparison as c
from dotprod_sweep.views import comparison as view
from dotprod_sweep.figures import shift_interval, soundness
from dotprod_sweep.facts.runs import Run, Runs, TIMED

# Two draws of one distribution: both medians are 1.005.
OLD = (1.00, 1.03, 0.98, 1.01, 0.99, 1.02)
NEW = (1.01, 0.99, 1.02, 0.97, 1.00, 1.03)
# A machine whose speed moves from round to round, by up to 10 %.
DRIFT = (1.00, 1.10, 0.95, 1.05, 0.90, 1.00)


def runs(times, params=None, machine=None, failed=(), wrong=(), baseline="dotprod"):
    """times: {(program, length): seconds per round}; failed: (program,
    length); wrong: programs whose every result is twice the exact 1.0."""
    made = Runs(tuple(dict.fromkeys(p for p, _ in times)), "dotprod", baseline,
                tuple(sorted({n for _, n in times})), ())
    for (program, n), seconds in times.items():
        result = "2.0" if program in wrong else "1.0"
        made.runs += [Run(program, n, i, TIMED, 1.0, 0, "process", result, repr(t))
                      for i, t in enumerate(seconds, start=1)]
        if (program, n) in failed:
            made.runs.append(Run(program, n, 7, TIMED, 1.0, failure="exited with status 1"))
        made.exact[n] = 1.0
    made.params.update(params or {})
    made.families.update({p: p for p in params or {}})
    made.machine.update(machine or {})
    return made


def scaled(times, factor):
    return tuple(t * factor for t in times)


def text(result):
    return " ".join(view.render(result, fail_above=0.2).decode().split())


class RankInterval(unittest.TestCase):
    def test_null_distribution(self):
        # U counts the pairs where new is larger: its orders are partitions in an
        # m x n box. 6 x 6: partitions of 0..5 number 1+1+2+3+5+7 = 19, of 6 are
        # 11, all of C(12, 6) = 924 orders. 2 x 2: U is 0..4 with counts
        # 1, 1, 2, 1, 1 of 6.
        self.assertAlmostEqual(shift_interval.null_cdf(6, 6)[5], 19 / 924)
        self.assertAlmostEqual(shift_interval.null_cdf(6, 6)[6], 30 / 924)
        self.assertAlmostEqual(shift_interval.null_cdf(2, 2)[2], 4 / 6)

    def test_k_exact_and_approximate(self):
        # 6 x 6: P(U <= 5) = 0.0206 <= 0.025 < P(U <= 6): k = 6. 20 x 20: the
        # tables' critical U is 127, so k = 128; the normal approximation,
        # 200 - 0.5 - 1.96 * sqrt(400 * 41 / 12) = 127.04, agrees.
        self.assertEqual(shift_interval.rank_k(6, 6), (6, 1 - 38 / 924))
        self.assertEqual(shift_interval.rank_k(20, 20)[0], 128)
        with mock.patch.object(shift_interval, "EXACT_PAIRS", 0):
            self.assertEqual(shift_interval.rank_k(20, 20)[0], 128)
        # At 1 - 0.05 / 3, the share of each of three lengths: P(U <= 3) =
        # 7 / 924 <= 0.0083 < P(U <= 4) = 12 / 924, so k = 4.
        self.assertEqual(shift_interval.rank_k(6, 6, 1 - 0.05 / 3), (4, 1 - 14 / 924))

    def test_interval_takes_the_kth_differences(self):
        # log old = 0.06 i, log new = 0.01 j (i, j = 0..5): the 36 differences are
        # 0.01 * (-30..5), one each; the 6th is -0.25 and the 31st is 0.
        iv = shift_interval.interval([math.exp(0.06 * i) for i in range(6)],
                            [math.exp(0.01 * j) for j in range(6)])
        self.assertAlmostEqual(iv.low, math.exp(-0.25))
        self.assertAlmostEqual(iv.high, 1.0)

    def test_kth_difference_as_sorting_every_pair(self):
        # Times printed to few digits tie; the k-th difference must be the one
        # sorting all m*n pairs gives, whether the bisection runs or not.
        rng = random.Random(7)
        for case in range(300):
            printed = [rng.randint(1, 9) * 1e-6 for _ in range(4)]
            def draw(count):
                return [rng.choice(printed) if rng.random() < 0.6 else
                        rng.uniform(1e-6, 1e-5) for _ in range(count)]
            old, new = draw(rng.randint(1, 30)), draw(rng.randint(1, 40))
            every = sorted(math.log(b) - math.log(a) for a in old for b in new)
            ks = {1, len(every), (len(every) + 1) // 2, rng.randint(1, len(every))}
            with self.subTest(case=case), \
                    mock.patch.object(shift_interval, "SORTED_PAIRS", rng.choice([0, 5, 10**4])):
                kth = shift_interval.ranked(old, new)
                self.assertEqual([kth(k) for k in sorted(ks)], [every[k - 1] for k in sorted(ks)])

    def test_threshold_rule(self):
        # 5 %: slower above 1.05, faster below 1 / 1.05 = 0.952, the same
        # within both, else it cannot tell.
        cases = [((1.02, 1.08), c.CANNOT_TELL), ((1.06, 1.10), c.SLOWER),
                 ((0.94, 0.951), c.FASTER), ((0.90, 0.953), c.CANNOT_TELL),
                 ((0.5, 2.0), c.CANNOT_TELL), ((0.96, 1.04), c.SAME), ((1 / 1.05, 1.05), c.SAME),
                 ((0.9523, 1.04), c.CANNOT_TELL), ((0.96, 1.0501), c.CANNOT_TELL)]
        for (low, high), wanted in cases:
            with self.subTest(low=low, high=high):
                self.assertEqual(c.direction(c.Interval(low, high, 0.95), 0.05), wanted)


class Paired(unittest.TestCase):
    """simd against dotprod, the control, at two lengths: each round's
    times move with the machine (DRIFT), and the new sweep's machine, or
    simd, runs at another speed throughout."""
    def sweeps(self, machine, program, control=None, baseline="dotprod"):
        old = runs({(p, n): scaled(DRIFT, f) for n in (1000, 10**6)
                    for p, f in (("dotprod", 1), ("simd", 0.5))}, baseline=baseline)
        # Rounds in the other order, and simd's with noise of its own.
        new = runs({(p, n): scaled(DRIFT[::-1], machine * f) for n in (1000, 10**6)
                    for p, f in (("dotprod", 1), ("simd", 0.5 * program))}, baseline=baseline)
        new.runs = [r if r.program == "dotprod" else Run(r.program, r.length, r.repeat, TIMED,
                    1.0, 0, "process", "1.0", repr(r.seconds * NEW[r.repeat - 1]))
                    for r in new.runs]
        # The control's listed last round first: only the round number pairs them.
        new.runs.sort(key=lambda r: -r.repeat if r.program == "dotprod" else r.repeat)
        return c.compare(old, new, control=control)

    def test_ratio_of_ratios(self):
        # (machine, simd): its paired call and its absolute call at N=1000, status
        # at --fail-above 20. Every paired ratio of simd is 0.5 * NEW[r] / 1, so
        # new/old is NEW's median over 1, and the control cancels the machine.
        cases = [(2.0, 1.0, c.SAME, c.SLOWER, 0), (0.5, 1.0, c.SAME, c.FASTER, 0),
                 (1.0, 2.0, c.SLOWER, c.SLOWER, 3), (2.0, 2.0, c.SLOWER, c.SLOWER, 3)]
        for machine, program, paired, absolute, status in cases:
            with self.subTest(machine=machine, program=program):
                result = self.sweeps(machine, program)
                control, simd = result.rows[:2]
                self.assertEqual((control.control, control.gated), (True, None))
                self.assertAlmostEqual(simd.paired.ratio, program * 1.005)
                self.assertEqual((simd.paired.call, simd.absolute.call), (paired, absolute))
                self.assertEqual(result.means[1].paired.call, paired)
                self.assertEqual(c.status(result, 0.2), status)
                said = text(result)
                self.assertIn(f"simd at N=1000 ({c.PAIRED})" if status else
                              "Nothing is slower than 20 %", said)
                # The call shown is the paired one; drift is told by the control alone.
                simd_row = next(line for line in view.render(result).decode().splitlines()
                                if line.startswith("|    1000 | simd "))
                self.assertTrue(simd_row.split("|")[-2].strip().startswith(paired), simd_row)
                self.assertEqual("the control, is called" in said, machine != 1)

    def test_a_round_the_control_skipped_pairs_with_its_latest_before(self):
        # The new control ran in rounds 1 and 4 only: simd's rounds 2-3 and
        # 5-6 take its time of round 1 and 4. Its ratios, over 0.5: 1.01,
        # 0.99·0.9, 1.02·1.05, 0.97, 1.1/0.95, 1.03/0.95, whose middle two
        # are 1.01 and 1.071; from rounds 1 and 4 alone, 0.99.
        new = runs({("dotprod", 1000): scaled(DRIFT[::-1], 1), ("simd", 1000):
                    tuple(0.5 * d * e for d, e in zip(DRIFT[::-1], NEW))})
        new.runs = [r for r in new.runs if r.program != "dotprod" or r.repeat in (1, 4)]
        old = runs({("dotprod", 1000): DRIFT, ("simd", 1000): scaled(DRIFT, 0.5)})
        simd = c.compare(old, new).rows[1]
        self.assertAlmostEqual(simd.paired.ratio, 1.0403, delta=0.0003)

    def test_gate_at_its_boundary(self):
        result = self.sweeps(1.0, 2.0)
        # Failed below the lowest low end, passed from the highest high end,
        # and between them it cannot tell.
        ends = [x.paired.interval for x in (*result.rows, *result.means) if x.paired]
        low, high = min(i.low for i in ends), max(i.high for i in ends)
        limits = [limit - 1 for limit in (low - 1e-9, low + 1e-9, high - 1e-9, high)]
        self.assertEqual([c.status(result, limit) for limit in limits], [3, 4, 4, 0])
        # Each status its own last line.
        said = [view.gate_line(result, limit).split(":")[0] for limit in limits]
        self.assertEqual(said, ["gate failed", "gate cannot tell at N=10^3",
                                "gate cannot tell at N=10^3", "gate passed"])

    def test_control_asked_for(self):
        for asked in (self.sweeps(2.0, 1.0, control="simd"), self.sweeps(2.0, 1.0, None, "simd")):
            # The control ran twice as slow with the machine: it is not gated.
            self.assertEqual([r.control for r in asked.rows[:2]], [False, True])
            # Nothing but yardsticks: a gate of nothing cannot tell.
            self.assertEqual((asked.rows[0].paired.call, c.status(asked, 0.2)), (c.SAME, 4))
        # simd twice as fast: dotprod, slower beside it, is a yardstick, not gated.
        faster = self.sweeps(1.0, 0.5, control="simd")
        self.assertEqual((faster.rows[0].paired.call, c.status(faster, 0.2)), (c.SLOWER, 4))
        self.assertIn("dotprod, the reference, and simd, the control, are not gated", text(faster))
        missing = self.sweeps(2.0, 1.0, control="nothing")
        self.assertEqual((missing.control, c.status(missing, None)), (None, 2))
        self.assertIn("--control nothing: no program of that label", text(missing))

    def test_drift_said_in_its_direction(self):
        # The control slower at one length and faster at the other, each way round.
        for first, second in ((c.SLOWER, c.FASTER), (c.FASTER, c.SLOWER)):
            factor = {c.SLOWER: 2, c.FASTER: 0.5}
            old = runs({("dotprod", 1): OLD, ("dotprod", 2): OLD})
            new = runs({("dotprod", 1): scaled(NEW, factor[first]),
                        ("dotprod", 2): scaled(NEW, factor[second])})
            with self.subTest(first=first):
                self.assertIn(f"dotprod, the control, is called {first} at N=1 and {second} at "
                              "N=2 on its own times", text(c.compare(old, new)))


class Soundness(unittest.TestCase):
    def test_wrong_impossible_and_failed_are_said_first(self):
        # (old's simd, new's simd): the row's call, the line said, the status at
        # --fail-above 20 (no slowdown: only a wrong or impossible new run
        # fails; with no sound row to gate, it cannot tell).
        sound, wrong = {}, {"wrong": ("simd",)}
        impossible = {"times": 1e-9}
        failed = {"failed": [("simd", 1000)]}
        cases = [(sound, wrong, "wrong in new", "In new, simd is wrong", 1),
                 (sound, impossible, "impossible in new", "simd claims an impossible time", 1),
                 (wrong, sound, "wrong in old", "In old, simd is wrong", 4),
                 (wrong, wrong, "wrong in both", "In old, simd is wrong", 1),
                 (sound, failed, "failed in new", "In new, simd failed", 4)]
        for before, after, call, said, status in cases:
            with self.subTest(call):
                old, new = (runs({("dotprod", 1000): OLD,
                                  ("simd", 1000): scaled(OLD, d.get("times", 1e-3))},
                                 wrong=d.get("wrong", ()), failed=d.get("failed", ()))
                            for d in (before, after))
                lines, got = view.compare_runs(old, new, fail_above=0.2)
                self.assertIn(f"| {call} ", lines.decode())
                self.assertIn(said, " ".join(lines.decode().split("\n\n")[0].split()))
                self.assertEqual((got, view.compare_runs(old, new)[1]), (status, 0))
                self.assertEqual("simd (wrong): status 1" in " ".join(lines.decode().split()),
                                 "wrong" in after)
        verdicts = c.compare(runs({("simd", 5): OLD}), runs({("simd", 5): OLD}, wrong=["simd"]))
        self.assertEqual(verdicts.verdicts, (soundness.Verdict("simd", "accurate", "wrong"),))


class Compare(unittest.TestCase):
    def test_same_distribution_is_no_change(self):
        # quiet prints 1e-06: its last digit is worth half the time, a coarse row.
        old = runs({("dotprod", 1000): OLD, ("dotprod", 10**6): scaled(OLD, 1e3),
                    ("quiet", 1000): (1e-6,) * 6})
        new = runs({("dotprod", 1000): NEW, ("dotprod", 10**6): scaled(NEW, 1e3),
                    ("quiet", 1000): (1e-6,) * 6})
        result = c.compare(old, new)
        self.assertEqual([r.absolute.call for r in result.rows] + [result.means[0].absolute.call],
                         [c.SAME] * 4)
        self.assertEqual([r.coarse for r in result.rows], [False, True, False])
        self.assertAlmostEqual(result.rows[0].absolute.ratio, 1.0)
        self.assertIn("worth more than 1 % of the time): quiet at N=1000.", text(result))

    def test_twice_the_work(self):
        # No control in both: every call is absolute. simd: 2 x at both lengths;
        # quiet: 2 x at one, 1 x at the other, whose geometric mean is sqrt(2).
        # Every difference of simd lies within 2 * 0.97 / 1.03 = 1.88 and
        # 2 * 1.03 / 0.98 = 2.10.
        old = runs({("simd", 1000): OLD, ("simd", 10**6): OLD,
                    ("quiet", 1000): OLD, ("quiet", 10**6): OLD})
        new = runs({("simd", 1000): scaled(NEW, 2), ("simd", 10**6): scaled(NEW, 2),
                    ("quiet", 1000): scaled(NEW, 2), ("quiet", 10**6): NEW})
        text_, status = view.compare_runs(old, new, 0.05, 0.2)
        simd, quiet = c.compare(old, new).means
        self.assertEqual((simd.absolute.call, simd.absolute.ratio, simd.paired),
                         (c.SLOWER, 2, None))
        self.assertAlmostEqual(quiet.absolute.ratio, math.sqrt(2))
        self.assertIn("| simd    | 1.00e+00 | 2.01e+00 |", text_.decode())
        self.assertIn("slower, about 2×", text_.decode())
        self.assertIn("simd over all its lengths (absolute)", text_.decode())
        self.assertEqual(status, 3)
        self.assertEqual(view.compare_runs(old, new, 0.05, None)[1], 0)
        self.assertEqual(view.compare_runs(old, new, 0.05, 1.5)[1], 0)

    def test_every_length_weighs_alike_in_the_mean(self):
        # 0.96 at one length from 6 runs a side, 1.05 at the other from 30: the
        # mean is their geometric mean whatever the runs, and inside its
        # interval; pooled pairs would put 25 times the weight on the second.
        old = runs({("simd", 1000): OLD, ("simd", 10**6): OLD * 5})
        new = runs({("simd", 1000): scaled(NEW, 0.96), ("simd", 10**6): scaled(NEW * 5, 1.05)})
        simd = c.compare(old, new).means[0].absolute
        self.assertAlmostEqual(simd.ratio, math.sqrt(0.96 * 1.05) * shift_interval.shift(OLD, NEW))
        self.assertLess(simd.interval.low, simd.ratio)
        self.assertLess(simd.ratio, simd.interval.high)
        self.assertEqual(simd.call, c.SAME)

    def test_unmatched_and_failed(self):
        # Scan values are part of the match.
        old = runs({("omp", 1000): OLD, ("omp", 10**4): OLD, ("mpi", 1000): OLD},
                   params={"omp": (("t", "2"),), "mpi": (("r", "2"),)}, failed=[("omp", 1000)])
        new = runs({("omp", 1000): NEW, ("omp", 10**5): NEW, ("mpi", 1000): NEW},
                   params={"omp": (("t", "2"),), "mpi": (("r", "4"),)})
        result = c.compare(old, new)
        self.assertEqual([(r.program, r.length, r.failure, r.absolute) for r in result.rows],
                         [("omp", 1000, "old", None)])
        self.assertEqual(result.only_old, (("mpi", (("r", "2"),), 1000),
                                           ("omp", (("t", "2"),), 10**4)))
        self.assertEqual(result.only_new, (("mpi", (("r", "4"),), 1000),
                                           ("omp", (("t", "2"),), 10**5)))
        self.assertIn("failed in old", text(result))
        self.assertEqual(view.compare_runs(old, runs({("other", 5): NEW}))[1], 2)

    def test_machine_differences_come_first(self):
        box = {"cpu": "X", "kernel": "Linux 6.1", "commit": "c1", "load_start": 0.1,
               "environment": {"OMP_NUM_THREADS": "2"}}
        other = dict(box, kernel="Linux 6.5", commit="c2", load_start=2.0, environment={})
        self.assertEqual(c.differences(box, other),
                         (Difference("dotprod-sweep's commit", "c1", "c2"),
                          Difference("kernel", "Linux 6.1", "Linux 6.5"),
                          Difference("OMP_NUM_THREADS", "2", "unset")))
        lines = view.compare_runs(runs({("dotprod", 1): OLD}, machine=box),
                                  runs({("dotprod", 1): NEW}, machine=other))[0].decode()
        self.assertEqual(lines.splitlines()[2], "  dotprod-sweep's commit: c1 (old), c2 (new)")
        self.assertIn("Load average at the start: 0.10 (old), 2.00 (new).", lines)

    def test_fits_120_columns(self):
        # The widest cells: a 10-digit length and 81 x faster; beside a paired
        # column, 10^7, labels of 16, ratios under 1 and the longest call.
        label = "x" * 20
        old = runs({(label, 2147483647): OLD, (label, 1): scaled(OLD, 1e-6)})
        new = runs({(label, 2147483647): scaled(NEW, 1.1), (label, 1): scaled(NEW, 1.23e-8)})
        paired = (runs({("dotprod", 10**7): OLD, ("y" * 16, 10**7): OLD}),
                  runs({("dotprod", 10**7): NEW, ("y" * 16, 10**7): scaled(NEW, 0.885)}))
        same = [witnessed(copy.deepcopy(made), SameCode.FILES, label=label) for made in (old, new)]
        for lines, wanted in ((view.compare_runs(old, new)[0], "faster, about 81×"),
                              (view.compare_runs(*paired)[0], "faster by about 13 %"),
                              (view.compare_runs(*same)[0], "machine: 81× faster")):
            with self.subTest(wanted):
                self.assertIn(wanted, lines.decode())
                self.assertLessEqual(max(len(line) for line in lines.decode().splitlines()
                                         if "|" in line), 120)



def witnessed(made, files, env=None, whole=True, objects=True, label="simd"):
    """made, with label's command and the files the witness saw it run;
    whole: every timed run witnessed to its end."""
    made.ran_objects = objects
    made.ran = {label: dict(files), "dotprod": {"/b/dotprod": "d1"}}
    made.machine["environment_sha256"] = "e1"
    made.setup = {"programs": {"reference": {"label": "dotprod", "argv": ["dotprod"], "env": {}},
                               "candidates": [{"label": label, "argv": ["./" + label],
                                               "env": env or {}, "files": {}}]}}
    made.runs = [dataclasses.replace(r, thread_cpu=(0.5,) if whole else None)
                 for r in made.runs]
    return made


class SameCode(unittest.TestCase):
    FILES = {"/b/simd": "s1", "/lib/libc.so.6": "c1"}

    def test_the_same_command_and_files_witnessed_whole(self):
        times = {("dotprod", 1000): OLD, ("simd", 1000): OLD}
        cases = [("the same", {}, True),
                 ("a shared object rebuilt", dict(new_files={**self.FILES, "/lib/libc.so.6": "c2"}),
                  False),
                 ("a shared object only one saw", dict(new_files={**self.FILES, "/lib/m": "m1"}),
                  False),
                 ("a digest not taken", dict(new_files={**self.FILES, "/b/simd": None}), False),
                 ("run by an interpreter", dict(old_files={**self.FILES, "/usr/bin/python3.11": "p"},
                                                new_files={**self.FILES, "/usr/bin/python3.11": "p"}),
                  False),
                 ("run by a shell", dict(old_files={**self.FILES, "/bin/dash": "d"},
                                         new_files={**self.FILES, "/bin/dash": "d"}), False),
                 ("a library named like one", dict(old_files={**self.FILES, "/l/libpython3.so": "p"},
                                                   new_files={**self.FILES, "/l/libpython3.so": "p"}),
                  True),
                 ("a digest taken in neither", dict(old_files={**self.FILES, "/b/simd": None},
                                                    new_files={**self.FILES, "/b/simd": None}),
                  False),
                 ("objects not witnessed", dict(objects=False), False),
                 ("a run not witnessed whole", dict(whole=False), False),
                 ("another command environment", dict(env={"OMP_NUM_THREADS": "2"}), False),
                 ("another sweep environment", dict(digest="e2"), False),
                 ("an environment recorded in neither", dict(digest=None, old_digest=None),
                  False)]
        for name, change, wanted in cases:
            with self.subTest(name):
                old = witnessed(runs(times), change.get("old_files", self.FILES))
                new = witnessed(runs(times), change.get("new_files", self.FILES),
                                change.get("env"), change.get("whole", True),
                                change.get("objects", True))
                if "digest" in change:
                    new.machine["environment_sha256"] = change["digest"]
                if "old_digest" in change:
                    old.machine["environment_sha256"] = change["old_digest"]
                self.assertIs(c.same_code(old, new, "simd"), wanted)

    def test_what_moved_is_the_machines_and_no_gate_fails_on_it(self):
        # simd 1.5 times as slow at both lengths, dotprod as before.
        old = {("dotprod", 1000): OLD, ("simd", 1000): OLD, ("dotprod", 10**6): OLD,
               ("simd", 10**6): OLD}
        new = {("dotprod", 1000): NEW, ("simd", 1000): scaled(NEW, 1.5),
               ("dotprod", 10**6): NEW, ("simd", 10**6): scaled(NEW, 1.5)}
        rebuilt = {**self.FILES, "/b/simd": "s2"}
        for files, call, status in ((self.FILES, c.MACHINE, 0), (rebuilt, c.SLOWER, 3)):
            with self.subTest(call):
                before, after = witnessed(runs(old), self.FILES), witnessed(runs(new), files)
                result = c.compare(before, after)
                simd = [r for r in result.rows if r.program == "simd"]
                self.assertEqual({r.called.call for r in simd}, {call})
                # dotprod, the control, a yardstick, is called on its own times.
                self.assertFalse(any(r.same_code for r in result.rows if r.control))
                mean, = [m for m in result.means if m.program == "simd"]
                self.assertEqual(mean.called.call, call)
                said, got = view.compare_runs(before, after, 0.05, 0.2)
                self.assertEqual(got, status)
                if call == c.MACHINE:
                    self.assertIn("| machine: 1.5× slower |", said.decode())
                    self.assertIn("gate passed: every candidate ran the same code",
                                  said.decode())

if __name__ == "__main__":
    unittest.main()
