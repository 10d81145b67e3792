# SPDX-License-Identifier: MIT
"""The exports for CI dashboards, from a hand-built run, each checked
against the structure its dashboard documents: github-action-benchmark's
customSmallerIsBetter list, and Bencher Metric Format."""
import contextlib
import io
import json
import os
import statistics
import tempfile
import unittest
from dataclasses import replace

from dotprod_sweep import main
from dotprod_sweep.cli import config
from dotprod_sweep.cli.files import InputFile, OutputFile
from dotprod_sweep.figures import model
from dotprod_sweep.views import document, exports

from dotprod_sweep.facts.runs import Run
from unit_report import HOSTILE, one_run


def number(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def github_entry_faults(entry):
    """What an entry lacks: a name, unit and value; range and extra, where
    given, strings."""
    faults = [k for k, kind in (("name", str), ("unit", str)) if not isinstance(entry.get(k), kind)]
    faults += [] if number(entry.get("value")) else ["value"]
    faults += [k for k in ("range", "extra") if k in entry and not isinstance(entry[k], str)]
    return faults + sorted(set(entry) - {"name", "unit", "value", "range", "extra"})


def bmf_faults(document):
    """Where document departs from Bencher's schema: an object of
    benchmarks, each an object of measures, each with a numeric value and,
    optionally, numeric lower_value and upper_value."""
    if not isinstance(document, dict):
        return ["not an object"]
    faults = []
    for name, measures in document.items():
        if not name or not isinstance(measures, dict) or not measures:
            faults.append(name)
            continue
        for slug, metric in measures.items():
            keys = set(metric) if isinstance(metric, dict) else set()
            if (not 0 < len(slug) <= 64 or "value" not in keys
                    or keys - {"value", "lower_value", "upper_value"}
                    or not all(number(metric[k]) for k in keys)):
                faults.append(f"{name}: {slug}")
    return faults


class Exports(unittest.TestCase):
    def setUp(self):
        runs = one_run()
        # A run that failed at 10^3 fails the row: no entry there.
        runs.runs.append(Run(HOSTILE, 1000, 7, "timed", 1.0, 2**20, "process", None, None,
                             failure="exit status 1"))
        self.runs, self.made = runs, model.model(runs)

    def test_github_benchmark_is_a_custom_smaller_is_better_list(self):
        entries = json.loads(exports.github_benchmark(self.made))
        self.assertIsInstance(entries, list)
        self.assertEqual([e["name"] for e in entries if github_entry_faults(e)], [])
        timed = [(s.program, s.length) for s in self.made.summaries if not s.failure]
        self.assertEqual([e["name"] for e in entries],
                         [f"{p} at N={'10^3' if n == 1000 else '10^5'}" for p, n in timed])
        first = entries[0]  # dotprod at 1000: its median over 1000 terms, in ns
        times = [r.seconds for r in self.runs.of("dotprod", 1000)]
        self.assertAlmostEqual(first["value"], statistics.median(times) * 1e9 / 1000)
        self.assertEqual(first["unit"], "ns/term")
        self.assertRegex(first["range"], r"^± \d")
        mine = next(e for e in entries if e["name"] == f"{HOSTILE} at N=10^5")
        self.assertIn("verdict: ", mine["extra"])
        self.assertIn("speedup 4.00 x", mine["extra"])

    def test_the_range_is_the_larger_half_of_an_uneven_interval(self):
        # dotprod at 10^3 in 0.99 to 1.3 ms, its median 1 ms: 1000 ns/term,
        # its interval 990-1300, 300 above and 10 below.
        jitter = iter((1.0, 1.0, 0.99, 1.3, 1.0, 1.0))
        self.runs.runs = [replace(r, time_text=f"{1e-3 * next(jitter):.9f}")
                          if (r.program, r.length, r.kind) == ("dotprod", 1000, "timed") else r
                          for r in self.runs.runs]
        first = json.loads(exports.github_benchmark(model.model(self.runs)))[0]
        self.assertEqual((first["name"], first["value"], first["range"]),
                         ("dotprod at N=10^3", 1000.0, "± 300"))

    def test_bmf_holds_the_loop_time_and_the_speedup_with_their_intervals(self):
        document = json.loads(exports.bmf(self.made))
        self.assertEqual(bmf_faults(document), [])
        self.assertNotIn(f"{HOSTILE} at N=10^3", document)
        mine = document[f"{HOSTILE} at N=10^5"]
        summary = next(s for s in self.made.summaries
                       if s.program == HOSTILE and s.length == 100000)
        # Every round's ratio is 4: an interval of width 0 is none, so no bounds.
        self.assertEqual((summary.speedup_low, summary.speedup_high), (4.0, 4.0))
        self.assertEqual(mine["speedup"], {"value": 4.0})
        time = mine["loop-time"]
        self.assertLessEqual(time["lower_value"], time["value"])
        self.assertLessEqual(time["value"], time["upper_value"])
        # The baseline's speedup over itself says nothing.
        self.assertEqual(set(document["dotprod at N=10^5"]), {"loop-time"})

    def test_a_figure_without_an_interval_has_no_range(self):
        # One round at each length: no range, no bounds, said in extra; the
        # failed row is named as left out, and values lose their float tail.
        runs = one_run()
        runs.runs = [r for r in runs.runs if r.repeat == 1] + [
            Run(HOSTILE, 1000, 7, "timed", 1.0, 2**20, "process", None, None, failure="exit 1")]
        made = model.model(runs)
        entries = {e["name"]: e for e in json.loads(exports.github_benchmark(made))}
        dotprod = entries["dotprod at N=10^3"]
        self.assertNotIn("range", dotprod)
        self.assertIn("verdict: the reference", dotprod["extra"])
        self.assertIn("one round, no interval", entries[f"{HOSTILE} at N=10^5"]["extra"])
        self.assertEqual(set(json.loads(exports.bmf(made))["dotprod at N=10^3"]["loop-time"]),
                         {"value"})
        self.assertEqual([exports.benchmark_name(s) for s in exports.left_out(made)],
                         [f"{HOSTILE} at N=10^3"])
        self.assertEqual(exports.tidy(0.32099999999999995), 0.321)

    def test_the_checks_find_a_malformed_export(self):
        self.assertEqual(github_entry_faults({"name": "a", "unit": "ns", "value": "1"}),
                         ["value"])
        self.assertEqual(bmf_faults({"a": {"speedup": {"lower_value": 1}}}), ["a: speedup"])


class Written(unittest.TestCase):
    def test_a_file_that_cannot_be_written_is_said_and_the_other_written(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = os.path.join(tmp, "run.json")
            with open(run, "wb") as f:
                f.write(document.render(model.model(one_run())))
            bmf = os.path.join(tmp, "bmf.json")
            gone = os.path.join(tmp, "gone", "github.json")  # its folder went after the check
            asked = config.ExportRequest(InputFile("run.json", run),
                                         OutputFile("gone/github.json", gone),
                                         OutputFile("bmf.json", bmf))
            said = io.StringIO()
            with contextlib.redirect_stderr(said):
                status = main.export(asked)
            self.assertEqual(status, 1)
            self.assertIn("cannot write gone/github.json: No such file or directory",
                          said.getvalue())
            with open(bmf, encoding="utf-8") as f:
                self.assertEqual(bmf_faults(json.load(f)), [])

    def test_a_stopped_or_failed_sweep_is_refused_unless_allowed(self):
        def stopped(runs):
            runs.stopped = "SIGINT stopped it at mine, N=100000, round 2"
        def wrong(runs):
            runs.runs = [replace(r, result_text="9.000000") if r.program == HOSTILE else r
                         for r in runs.runs]
        def failed(runs):
            runs.runs.append(Run(HOSTILE, 1000, 7, "timed", 1.0, 2**20, "process", None, None,
                                 failure="exit status 1"))
        cases = [(stopped, "was stopped before its end (SIGINT stopped it at mine, N=100000, "
                           "round 2)"),
                 (wrong, f"exited 1: {HOSTILE} wrong"), (failed, f"exited 1: {HOSTILE} failed"),
                 (lambda runs: None, None)]
        for spoil, why in cases:
            for allowed in (False, True):
                with self.subTest(why=why, allowed=allowed), tempfile.TemporaryDirectory() as tmp:
                    runs = one_run()
                    spoil(runs)
                    run, bmf = os.path.join(tmp, "run.json"), os.path.join(tmp, "bmf.json")
                    with open(run, "wb") as f:
                        f.write(document.render(model.model(runs)))
                    said = io.StringIO()
                    with contextlib.redirect_stderr(said):
                        status = main.export(config.ExportRequest(
                            InputFile("run.json", run), None, OutputFile("bmf.json", bmf),
                            allowed))
                    refused = why is not None and not allowed
                    self.assertEqual((status, os.path.exists(bmf)), (2, False) if refused else
                                     (0, True))
                    if refused:
                        self.assertEqual(said.getvalue(), f"sweep: export: the sweep of run.json "
                                         f"{why}; its figures are not a whole run's, and a "
                                         "dashboard would plot them as one (--allow-failed "
                                         "exports it anyway)\n")


if __name__ == "__main__":
    unittest.main()
