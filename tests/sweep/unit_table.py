# SPDX-License-Identifier: MIT
"""The default table's width, its numbers, the CSV, the summary lines and
the flag rule, in-process from hand-built runs and summaries. Expected
values are worked out by hand."""
import csv
import io
import math
import unittest
from dataclasses import replace

from dotprod_sweep.figures import beyond, ceilings, flags, model, threads, verdict
from dotprod_sweep.views import columns, formats, prose, table
from dotprod_sweep.facts.launchers import Launch
from dotprod_sweep.facts.runs import Run, Runs

from unit_views import rows, runs as small_runs


def timed(program, n, times):
    return [Run(program, n, r, "timed", 1.0, 2**20, "process", "0.500000", f"{t:.9f}")
            for r, t in enumerate(times, start=1)]


def flagged(base_times, times, n=10**5, programs=("dotprod", "mine")):
    made = Runs(programs, "dotprod", "dotprod", (n,), ())
    for p in programs:
        made.runs += timed(p, n, base_times if p == "dotprod" else times)
    return model.model(made).of("mine")[0].flags


class Numbers(unittest.TestCase):
    def test_three_significant_digits_an_exponent_only_past_any_real_run(self):
        for value, shown in [(1130.4, "1130"), (960.2, "960"), (60249.0, "60200"),
                             (19.1234, "19.1"), (5.0, "5.00"), (0.0564, "0.0564"),
                             (999.7, "1000"), (1e-7, "0.000000100"), (None, "n/a"),
                             (1.2e-9, "0.00000000120"), (9.9e-10, "9.9e-10"),
                             (1e-320, "1e-320"), (-2e-320, "-2e-320"), (999e9, "999000000000"),
                             (1e12, "1e+12"), (1.7976931348623157e308, "1.8e+308")]:
            with self.subTest(value):
                self.assertEqual(formats.plain(value), shown)

    def test_one_notation_per_column(self):
        for value, column, shown in [(960.2, [960.2, 19.1], "960"), (None, [1e-314], "n/a"),
                                     (960.2, [960.2, 1e-314], "9.60e+02"),
                                     (960.2, [960.2, 2e12], "9.60e+02")]:
            with self.subTest(column):
                self.assertEqual(formats.in_one_notation(value, column), shown)
        made = small_runs()
        made.runs = [replace(r, time_text="1e-320") if r.program == "fast" and r.kind == "timed"
                     else r for r in made.runs]
        # The wide table's ceiling line too, in its column of times.
        for wide, header, cells in ((False, "loop µs", ["3.50e+06", "1.00e-314"]),
                                    (True, "loop median (s)", ["1.00e-06", "3.50e+00",
                                                               "1.00e-320"])):
            with self.subTest(header):
                shown = rows(table.render(model.model(made), wide=wide).decode())
                self.assertEqual([r[header] for r in shown if r[header]], cells)

    def test_percents_and_decimals_stay_short(self):
        for value, shown in [(0.42, "42 %"), (None, "n/a"), (float("inf"), "n/a"),
                             (1e308, "n/a"), (1e300, "1e+302 %"), (9e9, "900000000000 %")]:
            with self.subTest(value):
                self.assertEqual(formats.percent(value), shown)
        self.assertEqual(formats.span(0.2, float("inf")), " (20–n/a)")
        self.assertEqual([formats.decimals(v, 1) for v in (3.25, 1e308, 999e9)],
                         ["3.2", "1e+308", "999000000000.0"])


def worst_case():
    """A model whose every narrow column holds its widest plausible cell:
    a 20-character label, N = 10^7, speedups under 1, a share of the
    2-thread first-pass ceiling, the longest verdict and note."""
    base = model.model(small_runs())
    dotprod, fast = base.summaries
    label = "dotprod-parallel t=2"
    common = {"length": 10**7, "speedup": 0.01234, "speedup_low": 0.01181,
              "speedup_high": 0.01312, "share": 0.91, "share_threads": 2, "share_pass": 1}
    summaries = (
        replace(dotprod, **common, verdict=verdict.SAME),
        replace(fast, program=label, **common, verdict=verdict.FLOAT, impossible=True),
        replace(fast, program="a" * 20, **common, verdict=verdict.SAME,
                flags=(flags.Flag("clusters", flags.CLUSTERS, "a" * 20, "dotprod"),)))
    return replace(base, summaries=summaries, programs=("dotprod", label, "a" * 20),
                   candidates=(label, "a" * 20), lengths=(10**7,),
                   noise_floors={10**7: 0.123}, ceilings={10**7: ()}, answers=(),
                   standing={label: "ok", "a" * 20: "ok"})


class Narrow(unittest.TestCase):
    def test_fits_120_columns_with_20_character_labels(self):
        made = worst_case()
        text = table.render(made).decode()
        narrow = text.split("\n\n")[0].splitlines()
        self.assertLessEqual(max(len(line) for line in narrow), 120, "\n".join(narrow))
        self.assertGreater(max(len(line) for line in table.render(made, wide=True).decode()
                               .split("\n\n")[0].splitlines()), 120)
        dotprod, parallel, other = rows(text)
        self.assertEqual((parallel["program"], parallel["speedup"], parallel["GB/s (ceiling)"],
                          parallel["verdict"], parallel["note"]),
                         ("dotprod-parallel t=2", "0.0123× (0.0118–0.0131)",
                          "0.0762 (91 % 2T†)", "float rounding", "too fast"))
        self.assertEqual((dotprod["speedup"], other["note"]), ("1×", "clusters"))

    def test_a_long_label_is_cut_in_the_compact_table_only(self):
        made = worst_case()
        long = "b" * 500
        made = replace(made, summaries=made.summaries[:2] + (
            replace(made.summaries[2], program=long),))
        other = rows(table.render(made).decode())[2]
        self.assertEqual(other["program"], "b" * 39 + "…")
        self.assertIn(long, columns.csv_text(made).decode())

    def test_ten_probe_lengths_fit_120_columns(self):
        made = worst_case()
        probes = (1, 5, 29, 165, 1022, 2077, 8309, 33237, 132949, 531797)
        made = replace(made, probe_lengths=probes, probe_verdicts={
            (p, n): verdict.FLOAT for p in made.candidates for n in probes})
        compact = table.probe_table(made).splitlines()[3:]
        self.assertLessEqual(max(map(len, compact)), 120, "\n".join(compact))
        self.assertIn("| f ", compact[-1])
        self.assertIn("| within float rounding ", table.probe_table(made, wide=True))

    def test_the_noise_floor_has_a_line_of_its_own(self):
        text = table.render(worst_case()).decode()
        self.assertIn("\nN=10000000: dotprod's noise floor ±12.3 %.\n", text)

    def test_csv_holds_every_column_in_full(self):
        made = model.model(small_runs())
        loaded = list(csv.DictReader(io.StringIO(columns.csv_text(made).decode())))
        self.assertEqual([r["program"] for r in loaded], ["dotprod", "fast"])
        fast = loaded[1]
        # Ratios 4, 2, 4, 4 (as in unit_views); 1 MiB peak; times printed 0.5 to 1.5.
        self.assertEqual((fast["speedup"], fast["speedup_low"], fast["peak_bytes"],
                          fast["time"], fast["flags"]), ("4.0", "2.0", "1048576", "1.05",
                                                         "coarse"))
        self.assertEqual(len(loaded[0]), len(columns.of_view("csv")))


    def test_csv_text_that_would_start_a_formula_is_quoted(self):
        cases = [('=HYPERLINK("http://x","y")', '\'=HYPERLINK("http://x","y")'),
                 ("@SUM(1)", "'@SUM(1)"), ("+cmd", "'+cmd"), ("-x", "'-x"),
                 ("\tx", "'\tx"), ("\rx", "'\rx"), ("plain=1", "plain=1"),
                 ("-0.5", "-0.5"), ("+1e-3", "+1e-3"), (-0.5, -0.5), (None, "")]
        for value, cell in cases:
            with self.subTest(value):
                self.assertEqual(columns.inert(value), cell)
        made = worst_case()
        odd = replace(made, summaries=(replace(made.summaries[2], program="=1+1"),))
        loaded = list(csv.DictReader(io.StringIO(columns.csv_text(odd).decode())))
        self.assertEqual(loaded[0]["program"], "'=1+1")

class Answers(unittest.TestCase):
    def test_faster_slower_same_or_cannot_tell(self):
        s = model.model(small_runs()).of("fast")[0]
        cases = [((498, 533, 567), ("faster", 533, 498, 567)),
                 ((0.4, 0.5, 0.8), ("slower", 2.0, 1.25, 2.5)),
                 ((0.95, 1.0, 1.04), ("the same speed", 1.0, 0.95, 1.04)),
                 ((0.85, 1.0, 1.2), ("cannot tell", 1.0, 0.85, 1.2))]
        for (low, mid, high), wanted in cases:
            with self.subTest(wanted[0]):
                got = model.answer(replace(s, speedup=mid, speedup_low=low, speedup_high=high))
                self.assertEqual(got[0], wanted[0])
                for a, b in zip(got[1:], wanted[1:]):
                    self.assertAlmostEqual(a, b)

    def test_the_line(self):
        a = model.Answer("dotprod-simd", "accurate", 10**7, "faster", 533.2, 498.1, 567.4,
                         share=0.694, share_threads=1, share_length=10**7)
        self.assertEqual(prose.answer_line(a, "dotprod"),
                         "dotprod-simd: 533× faster than dotprod at N=10^7 (498–567), "
                         "accurate, 69 % of the 1-thread ceiling")
        for which, kind in [(1, "first-pass "), (2, "second-pass ")]:
            self.assertTrue(prose.answer_line(replace(a, share_pass=which), "dotprod").endswith(
                f"69 % of the 1-thread {kind}ceiling"))
        # One length a line: a better share elsewhere in a clause of its own.
        self.assertTrue(prose.answer_line(replace(a, best_share=0.94, best_length=10**6),
                                          "dotprod").endswith(
            "69 % of the 1-thread ceiling; at best 94 % at N=10^6"))

    def test_what_dotprods_time_is_made_of(self):
        # dotprod 1000 times dotprod-quiet's time at N=100: 99.9 % printing.
        # Where dotprod failed there, the longest length both have says it;
        # where neither is measured, or the quiet loop is the reference, nothing.
        def made(programs, reference="dotprod", failed=False):
            runs = Runs(programs, reference, reference, (10, 100), ())
            for n in (10, 100):
                runs.runs += timed(programs[0], n, [n * 1e-3] * 3)
                runs.runs += timed(programs[1], n, [n * 1e-6] * 3)
            if failed:
                runs.runs = [r for r in runs.runs if (r.program, r.length) != (reference, 100)]
            return model.model(runs)
        quiet = ("dotprod", "dotprod-quiet")
        self.assertEqual(prose.printing_line(made(quiet)).split(":")[0],
                         "dotprod's time at N=100 is 99.9 % printing, a line a term")
        self.assertIn("at N=10 is 99.9 %", prose.printing_line(made(quiet, failed=True)))
        self.assertIn("add dotprod-quiet as a candidate",
                      prose.printing_line(made(("dotprod", "mine"))))
        self.assertIsNone(prose.printing_line(made(("dotprod-quiet", "mine"), "dotprod-quiet")))

    def test_an_interval_that_is_no_answer_says_so(self):
        # Wider than a factor of 2 (665 in 397-1610), or from one round.
        a = model.Answer("simd", "accurate", 10**7, "faster", 665, 397, 1610)
        cases = [(model.SPREAD, "faster", "simd: cannot tell how much faster than dotprod at "
                  "N=10^7 (its interval, 397–1610, spans more than a factor of 2), accurate"),
                 (model.SPREAD, "cannot tell", "simd: cannot tell whether faster or slower "
                  "than dotprod at N=10^7 (its interval, 397–1610, spans more than a factor of "
                  "2), accurate"),
                 (model.ONE_ROUND, "faster", "simd: 665× faster than dotprod at N=10^7 (one "
                  "round, no interval), accurate"),
                 (None, "cannot tell", "simd: cannot tell whether faster or slower than "
                  "dotprod at N=10^7 (397–1610), accurate")]
        for why, word, line in cases:
            with self.subTest(why=why, word=word):
                self.assertEqual(prose.answer_line(replace(a, unsure=why, answer=word),
                                                   "dotprod"), line)
        # The rule: two rounds give an interval; a factor of 2 is still one.
        s = model.model(small_runs()).of("fast")[0]
        for ratios, (low, high), why in [((4.0,), (4, 4), model.ONE_ROUND),
                                         ((2.0, 4.0), (2, 4), None),
                                         ((2.0, 4.01), (2, 4.01), model.SPREAD)]:
            with self.subTest(ratios=ratios):
                row = replace(s, ratios=ratios, speedup_low=low, speedup_high=high)
                self.assertEqual(model.unsure(row), why)

    def test_weakest_verdict_and_best_share(self):
        made = model.model(small_runs())
        fast = replace(made.of("fast")[0], share_pass=None)
        summaries = [replace(fast, length=10, verdict=verdict.FLOAT, share=0.5),
                     replace(fast, verdict=verdict.ACCURATE, share=0.7, share_threads=1)]
        a = model.answer_of("fast", summaries, "ok")
        self.assertEqual((a.verdict, a.share, a.share_threads, a.share_length, a.length),
                         (verdict.FLOAT, 0.7, 1, 100, 100))
        self.assertEqual(model.answer_of("fast", summaries, "wrong").verdict, "wrong")
        # The share is the answer's length's; a better one elsewhere beside it.
        swapped = [replace(summaries[0], share=0.7), replace(summaries[1], share=0.5)]
        a = model.answer_of("fast", swapped, "ok")
        self.assertEqual((a.share, a.share_length, a.best_share, a.best_length),
                         (0.5, 100, 0.7, 10))
        # A candidate that is the baseline is 1 by definition, not "the same speed".
        base = model.answer_of("fast", [replace(s, baseline=True) for s in summaries], "ok")
        self.assertEqual(prose.answer_line(base, "fast"),
                         "fast: the baseline, within float rounding, 70 % of the 1-thread "
                         "ceiling at N=100")

    def test_share_of_the_nearest_ceiling(self):
        # Per thread count, a first pass's ceiling comes before a second
        # pass's, before the best pass's.
        rates, passes = {1: 20.0, 2: 30.0}, ({1: 12.5, 2: 25.0}, {1: 16.0, 2: 27.0})
        cases = [((), 10.0, (0.5, 1, None)), ((), 24.0, (0.8, 2, None)),
                 (passes[:1], 10.0, (0.8, 1, 1)), (passes[:1], 15.0, (0.75, 1, None)),
                 (passes[:1], 24.0, (0.96, 2, 1)), (passes[:1], 27.0, (0.9, 2, None)),
                 (passes[:1], 45.0, (1.5, 2, None)), (passes, 15.0, (0.9375, 1, 2)),
                 (passes, 18.0, (0.9, 1, None)), (passes, 26.0, (26 / 27, 2, 2)),
                 (passes, 28.0, (28 / 30, 2, None))]
        for by_pass, rate, wanted in cases:
            with self.subTest((len(by_pass), rate)):
                share, threads, which = ceilings.nearest(rates, rate, by_pass)
                self.assertEqual((round(share, 9), threads, which),
                                 (round(wanted[0], 9),) + wanted[1:])


class Flags(unittest.TestCase):
    STEADY = [1.0, 1.01, 0.99, 1.0, 1.01, 0.99, 1.0, 1.01, 0.99]

    def test_rule(self):
        # Candidate times alternate low and high within ±8 %: consecutive runs
        # differ by about 8 %, more than 3 times the steady floor of 1 %,
        # yet 30 runs pin the median within ±10 %.
        spread = [0.92 + 0.16 * i / 29 for i in range(30)]
        erratic = [v for pair in zip(spread[:15], spread[15:][::-1]) for v in pair]
        cases = [
            ("the same speed, tightly", self.STEADY, [t * 1.05 for t in self.STEADY], []),
            ("dotprod's noise", [1.0, 1.3, 0.9, 1.25, 0.95, 1.3, 1.0, 1.2, 0.9],
             self.STEADY, ["wide"]),
            ("its own noise", self.STEADY, [1.0, 1.3, 0.9, 1.25, 0.95, 1.3, 1.0, 1.2, 0.9],
             ["wide"]),
            ("two clusters", self.STEADY, [1.0, 1.0, 1.01, 1.5, 1.5, 1.51, 1.0, 1.5, 1.0],
             ["clusters", "wide"]),
            ("erratic", self.STEADY * 4, erratic, ["erratic"]),
        ]
        for name, base, times, kinds in cases:
            with self.subTest(name):
                found = flagged(base[:len(times)], times)
                self.assertEqual([f.kind for f in found], kinds, found)

    def test_erratic_beyond_three_floors_and_five_percent(self):
        # Runs alternating in step with dotprod's: the ratios stay tight, and
        # only the run-to-run steps differ. A floor of 2 %: steps of 6.8 %
        # are erratic, 3.9 % are not; a floor of 1 %: steps of 4.4 % beat 3
        # floors but not the least 5 %.
        cases = [(1.02, 1.07, ["erratic"]), (1.02, 1.04, []), (1.01, 1.045, []),
                 (1.025, 1.062, [])]  # 6 % steps, under 3 floors of 2.5 %
        for base, own, kinds in cases:
            with self.subTest((base, own)):
                found = flagged([1.0, base] * 15, [1.0, own] * 15)
                self.assertEqual([f.kind for f in found], kinds)

    def test_erratic_only_beside_a_loop_as_long(self):
        # dotprod's loop takes 1000 times mine's, and a loop that long varies
        # less on any machine: no floor for mine. A steady peer of its length is.
        n, mine = 10**5, [1.0, 1.07] * 15
        cases = [({}, []), ({"peer": [1.0, 1.01] * 15}, ["erratic"]),
                 ({"peer": [100.0, 101.0] * 15}, [])]  # 100 times as long: no peer
        for others, kinds in cases:
            with self.subTest(others):
                made = Runs(("dotprod", *others, "mine"), "dotprod", "dotprod", (n,), ())
                made.runs += timed("dotprod", n, [1000.0, 1001.0] * 15) + timed("mine", n, mine)
                for p, times in others.items():
                    made.runs += timed(p, n, times)
                found = model.model(made).of("mine")[0].flags
                self.assertEqual([f.kind for f in found], kinds)

    def test_advice_names_the_cause(self):
        noisy = [1.0, 1.3, 0.9, 1.25, 0.95, 1.3, 1.0, 1.2, 0.9]
        cases = [(noisy, self.STEADY, ("dotprod", "mine"),
                  "add dotprod-quiet as a candidate, with --baseline dotprod-quiet"),
                 (noisy, self.STEADY, ("dotprod", "dotprod-quiet", "mine"),
                  "--baseline dotprod-quiet"),
                 (self.STEADY, noisy, ("dotprod", "mine"), "mine's own times vary ±"),
                 (self.STEADY, noisy, ("dotprod", "mine"), "more repeats (a larger --budget)")]
        for base, times, programs, wanted in cases:
            with self.subTest(wanted):
                wide, = flagged(base, times, programs=programs)
                self.assertIn(wanted, prose.advice(wide))

    def test_a_dear_baseline_run_less_often_is_named_though_its_runs_vary_less(self):
        # dotprod in rounds 1-6, 12, 18, 24 and 30, its runs ±10 % from one
        # to the next; mine in all 30, ±15 %. Mine's median is known to
        # about ±5 %, dotprod's to ±10 %: more repeats of mine narrow
        # little, the quiet baseline does.
        n = 10**5
        made = Runs(("dotprod", "mine"), "dotprod", "dotprod", (n,), ())
        made.runs += [Run("dotprod", n, r, "timed", 1.0, 2**20, "process", "0.500000",
                          f"{3 * t:.9f}") for r, t in
                      zip((1, 2, 3, 4, 5, 6, 12, 18, 24, 30),
                          (0.9, 1.0, 1.1, 1.1, 1.0, 0.9, 0.89, 1.0, 1.0, 1.11))]
        made.runs += timed("mine", n, [0.004 * (1.0, 1.15, 0.92, 1.08)[i % 4]
                                       for i in range(30)])
        wide, = model.model(made).of("mine")[0].flags
        self.assertEqual((wide.kind, wide.cause), ("wide", flags.WIDE_PRINTING))
        self.assertIn("dotprod's median time, mostly its printing, is known less well than "
                      "the candidates'", prose.advice(wide))
        # An interval's reach is its farther end's: of 9 runs, the 2nd and 8th.
        lopsided = timed("mine", n, [0.98, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.12, 1.2])
        self.assertAlmostEqual(flags.median_reach(lopsided), math.log(1.12))
        # One time gives no interval: not known at all, it reaches farthest.
        self.assertEqual(flags.median_reach(lopsided[:1]), math.inf)

    def test_work_not_done_is_flagged(self):
        # 8·N bytes at N = 10^5: 800,000. Below, a process could not hold
        # both vectors; MPI ranks each hold a part.
        s = model.model(small_runs()).of("fast")[0]
        for peak, launch, flagged in ((799_999, None, True), (800_000, None, False),
                                      (799_999, Launch("mpirun", 2, 1), False)):
            with self.subTest(peak=peak, launch=launch):
                row = replace(s, length=10**5, peak=peak, launch=launch)
                self.assertEqual(flags.without_vectors(row), flagged)
        # Replayed: one text at five repeats or more, of four significant
        # digits or more, of a loop longer than 10 us.
        cases = [(["0.001000"] * 5, True), (["0.001000"] * 4, False),
                 (["0.001000"] * 4 + ["0.001001"], False), (["0.000100"] * 5, False),
                 (["0.000009000"] * 5, False), (["0.00001000"] * 5, False),
                 (["1.0010e-5"] * 5, True)]
        for texts, flagged in cases:
            with self.subTest(texts=texts):
                own = [Run("fast", 100, k, "timed", 1.0, 2**20, "process", "0.5", t)
                       for k, t in enumerate(texts, start=1)]
                self.assertEqual(flags.replayed(own), flagged)
        # Both said in the answer line, from the first length each holds.
        a = model.Answer("fast", "accurate", 10**6, "faster", 2.0, 1.9, 2.1,
                         suspect=((flags.NO_VECTORS, 10**6), (flags.REPLAYED, 10**5)))
        self.assertTrue(prose.answer_line(a, "dotprod").endswith(
            "accurate; not the stated work: its peak memory is below its two vectors' 8·N bytes "
            "from N=10^6, its times are one text, replayed from N=10^5"), prose.answer_line(a, "dotprod"))

    def test_beating_the_ceiling_is_flagged_with_its_cause(self):
        # 8·N bytes fit in the 32 MiB L3 at N = 10^6, not at 10^7.
        runs = Runs(("dotprod", "fast"), "dotprod", "dotprod", (10**6, 10**7), (),
                    machine={"caches": [{"level": 3, "bytes": 32 * 2**20}]})
        s = replace(model.model(small_runs()).of("fast")[0], flags=(), share_low=None, coarse=False,
                    share_pass=None, cpus=None, share_threads=1)
        def rated(row, n, gbs):  # its median, from the rate
            return replace(row, length=n, median=8 * n / (gbs * 1e9))
        cached, big = rated(s, 10**6, 18.9), rated(s, 10**7, 18.9)
        # From memory, faster than from L3 by more than 10 %: 1.1 x 18.9 = 20.79.
        for gbs, flagged in ((39.1, True), (20.8, True), (20.7, False)):
            with self.subTest(gbs=gbs):
                found = beyond.from_memory(rated(s, 10**7, gbs), [cached], runs)
                self.assertEqual(found, cached if flagged else None)
        self.assertIsNone(beyond.from_memory(rated(s, 10**6, 99.0), [cached], runs))
        cases = [(replace(big, threads_from=threads.DECLARED), None, beyond.UNWITNESSED),
                 (replace(big, threads_from=threads.SAMPLED), None, beyond.UNWITNESSED),
                 (replace(big, threads_from=threads.WITNESSED), cached, beyond.PART_TIMED),
                 (replace(cached, share_pass=1, threads_from=threads.WITNESSED), None,
                  beyond.CACHED),
                 (replace(cached, share_pass=2, threads_from=threads.BUSY_CPUS), None,
                  beyond.UNSEEN),
                 (replace(big, share_pass=1, threads_from=threads.WITNESSED), None,
                  beyond.UNSEEN)]
        for row, slower, wanted in cases:
            with self.subTest(wanted=wanted, n=row.length):
                self.assertEqual(beyond.cause(row, slower, runs), wanted)
        # Above the ceiling's interval: its low end over 1; never an impossible row.
        for low, impossible, kinds in ((1.01, False, [beyond.ABOVE]), (1.0, False, []),
                                       (1.5, True, [])):
            with self.subTest(low=low, impossible=impossible):
                row = replace(cached, share_low=low, impossible=impossible)
                self.assertEqual([f.kind for f in beyond.with_flags(row, [], runs).flags], kinds)

    def test_runs_far_off_are_named_where_no_noise_explains_the_width(self):
        # One run of six 30 times slower: its ratio is the interval's low
        # end. Steps between the other runs under 5 %: the runs far off are
        # the cause; over 5 %, the program's own noise.
        for step, cause in ((1.049, flags.WIDE_FAR_OFF), (1.052, flags.WIDE_OWN)):
            with self.subTest(step):
                wide, = flagged(self.STEADY[:6], [1.0, step, 1.0, step, 1.0, 30.0])
                self.assertEqual((wide.kind, wide.cause), ("wide", cause))
        said = prose.advice(flagged(self.STEADY[:6], [1.0, 1.01, 30.0, 0.99, 1.0, 1.01])[0])
        self.assertIn("runs differ by under ±5 % from one to the next, but a few lie far off",
                      said)

    def test_only_a_program_of_several_threads_is_told_to_pin_them(self):
        for cause in (flags.WIDE_OWN, flags.ERRATIC_RUNS):
            for count, pinned in ((1, False), (2, True)):
                with self.subTest(cause=cause, threads=count):
                    said = prose.advice(flags.Flag("wide", cause, "mine", "dotprod", noise=0.2,
                                                   floor=0.01, peer="quiet", threads=count))
                    self.assertEqual("pin its threads" in said, pinned, said)

    def test_erratic_only_where_pinning_can_be_followed(self):
        # The erratic row beside a steady peer, below. At a load of 2.5 on
        # 4 CPUs the load is said once instead, at 0.5 it is not. On 2 CPUs
        # its one thread has no CPU apart from the sweep and the system to
        # be pinned to: no flag; on 3 it has.
        n = 10**5
        made = Runs(("dotprod", "peer", "mine"), "dotprod", "dotprod", (n,), ())
        made.runs += timed("dotprod", n, [1000.0, 1001.0] * 15) + \
            timed("mine", n, [1.0, 1.07] * 15) + timed("peer", n, [1.0, 1.01] * 15)
        for cores, load, kinds in ((4, 0.5, ["erratic"]), (4, 2.5, []), (2, 0.5, []),
                                   (3, 0.5, ["erratic"]), (None, 0.5, ["erratic"])):
            with self.subTest(cores=cores, load=load):
                made.machine = {"cores": cores, "load_start": load}
                mine = model.model(made).of("mine")[0]
                self.assertEqual([f.kind for f in mine.flags], kinds)

    def test_no_advice_to_pin_where_no_cpu_is_spare(self):
        # Without a CPU to spare, taskset cannot move a program away from
        # anything; binding several threads each to a core still can.
        cases = [(flags.CLUSTERS, 1, True, "pin it (taskset -c)"),
                 (flags.CLUSTERS, 1, False, "clock changed speed: stop other work"),
                 (flags.CLUSTERS, 2, False, "pin it (OMP_PROC_BIND=true) and"),
                 (flags.WIDE_BASELINE, 1, True, "pin it (taskset -c), or run more"),
                 (flags.WIDE_BASELINE, 1, False, "candidates': run more"),
                 (flags.WIDE_OWN, 2, True, "(OMP_PROC_BIND=true, taskset -c)"),
                 (flags.WIDE_OWN, 2, False, "(OMP_PROC_BIND=true), give")]
        for cause, count, spare, wanted in cases:
            with self.subTest(cause=cause, threads=count, spare=spare):
                said = prose.advice(flags.Flag("wide", cause, "mine", "dotprod", noise=0.2,
                                               floor=0.01, threads=count, spare=spare))
                self.assertIn(wanted, said)
                self.assertEqual("taskset" in said, spare, said)

    def test_a_coarse_time_says_which_lengths_would_do(self):
        # 2 us printed to 6 decimals is known to ±0.5 us: 25 times the 1 %
        # allowed. At N = 1000, that needs N = 25,000: from 10^5 on.
        made = Runs(("dotprod", "mine"), "dotprod", "dotprod", (1000,), ())
        made.runs += timed("dotprod", 1000, self.STEADY)
        made.runs += [replace(r, time_text="0.000002") for r in timed("mine", 1000, self.STEADY)]
        coarse, = model.model(made).of("mine")[0].flags
        self.assertEqual(coarse.kind, "coarse")
        self.assertTrue(prose.advice(coarse).endswith("use lengths from N=100000 on"), prose.advice(coarse))

    def test_the_baseline_is_never_flagged(self):
        made = Runs(("dotprod", "mine"), "dotprod", "dotprod", (10**5,), ())
        made.runs += timed("dotprod", 10**5, [1.0, 1.3, 0.9, 1.25, 0.95, 1.3, 1.0, 1.2, 0.9])
        made.runs += timed("mine", 10**5, self.STEADY)
        self.assertEqual(model.model(made).of("dotprod")[0].flags, ())


if __name__ == "__main__":
    unittest.main()
