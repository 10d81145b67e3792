# SPDX-License-Identifier: MIT
"""The views of a hand-built sweep, in-process: the table's rows worked
out by hand, and a saved run that loads back into the same table."""
import json
import unittest

from dotprod_sweep.facts import saved
from dotprod_sweep.figures import model
from dotprod_sweep.views import document, prose, table
from dotprod_sweep.facts.runs import Ceiling, PROBE, Run, Runs

MACHINE = {"cpu": "Test CPU", "cores": 2, "kernel": "Linux 6", "libc": "glibc 2.36",
           "caches": [{"level": 1, "bytes": 32768}], "load_start": None, "load_end": 0.5,
           "candidate_commit": None, "candidate_dirty": None}


def runs():
    made = Runs(("dotprod", "fast"), "dotprod", "dotprod", (100,), (5,), machine=MACHINE)
    made.exact.update({100: 0.52, 5: 0.1})
    for r, (d, f) in enumerate(zip(("2.0", "3.0", "4.0", "4.4"), ("0.5", "1.5", "1.0", "1.1")),
                               start=1):
        made.runs += [Run("dotprod", 100, r, "timed", 1.0, 3 * 2**20, "process", "0.500000", d),
                      Run("fast", 100, r, "timed", 1.0, 2**20, "tree", "0.520000", f)]
    made.runs += [Run("dotprod", 5, 1, PROBE, 1.0, 2**20, "process", "0.100000", "0.1"),
                  Run("fast", 5, 1, PROBE, 1.0, 2**20, "process", "0.100000", "0.1")]
    made.ceilings.append(Ceiling(100, 2, 1e-6, 0.1, first=2e-6, second=1.6e-6))
    return made


def rows(text):
    """The first table's rows as {header: cell}, by header name."""
    lines = [line for line in text.split("\n\n")[0].splitlines() if line.startswith("|")]
    header = [c.strip() for c in lines[0].strip("|").split("|")]
    return [dict(zip(header, (c.strip() for c in line.strip("|").split("|"))))
            for line in lines[2:]]


class Table(unittest.TestCase):
    def test_wide_rows_worked_out_by_hand(self):
        text = table.render(model.model(runs()), wide=True).decode()
        exact, ceiling, dotprod, fast = rows(text)
        # The noise floor has a line of its own, not a note.
        self.assertEqual((exact["result"], exact["notes"]), ("0.52", ""))
        # dotprod's steps: 50 %, 33.3 %, 10 %; their median is the floor.
        self.assertIn("\nN=100: dotprod's noise floor ±33.3 %;", text)
        # 8·100 bytes in 1 us: 0.8 GB/s, and 800 bytes fit in L1.
        self.assertEqual((ceiling["program"], ceiling["loop median (s)"], ceiling["GB/s"],
                          ceiling["notes"]),
                         ("ceiling, 2 threads", "0.00000100", "0.800",
                          "8·N bytes fit in L1; first pass 0.400, second 0.500 GB/s"))
        self.assertEqual((dotprod["verdict"], dotprod["notes"]), ("reference", "baseline"))
        # Ratios 4, 2, 4, 4: median 4, and with four repeats min to max.
        self.assertEqual((fast["speedup over dotprod"], fast["95 % interval"]),
                         ("4.00", "2.00–4.00"))
        # 800 bytes in a median of 1.05 s; 1 MiB peak, over all its processes.
        self.assertEqual((fast["GB/s"], fast["of ceiling"], fast["peak memory (MiB)"]),
                         ("0.000000762", "0 % 2T†", "1.00 (tree)"))
        self.assertEqual((fast["relative error"], fast["verdict"]), ("0.00e+00", "accurate"))

    def test_a_speed_with_no_ceiling_is_not_checked(self):
        made = runs()
        made.ceilings.clear()
        fast = [r for r in rows(table.render(model.model(made)).decode())
                if r["program"] == "fast"][0]
        self.assertEqual(fast["note"], "speed not checked")
        self.assertTrue(prose.unchecked_line(model.model(made).unchecked).startswith(
            "speeds not checked against the machine's ceiling at N=100"))

    def test_compact_table_lines_worked_out_by_hand(self):
        # As in the wide rows: the floor's median step, and 800 bytes in 1 us.
        text = table.render(model.model(runs())).decode()
        self.assertIn("N=100: dotprod's noise floor ±33.3 %; ceiling 0.800 GB/s on 2T (first "
                      "pass 0.400, second 0.500); 8·N\n  bytes fit in L1.\n", text)
        fast, = [r for r in rows(text) if r["program"] == "fast"]
        self.assertEqual((fast["speedup"], fast["verdict"]), ("4.00× (2.00–4.00)", "accurate"))

    def test_pass_times_that_cannot_be_are_not_ceilings(self):
        # A pass shorter than the best of all, or longer than the run, is
        # no pass: a rate is not set against it, and the legend drops it.
        for first, second, wanted in [(2e-6, 1.6e-6, (0.4, 0.5)), (1e-12, 1.6e-6, (None, 0.5)),
                                      (2e-6, 1.0, (0.4, None)), (1e-12, 1.0, (None, None))]:
            with self.subTest((first, second)):
                made = runs()
                made.ceilings[0] = Ceiling(100, 2, 1e-6, 0.1, first=first, second=second)
                view = model.model(made)
                row, = view.ceilings[100]
                self.assertEqual((row.first_gbs and round(row.first_gbs, 9),
                                  row.second_gbs and round(row.second_gbs, 9)), wanted)
                self.assertEqual("(‡)" in table.render(view).decode(), wanted[1] is not None)

    def test_a_ceiling_that_failed_is_named_and_fails_the_sweep(self):
        made = runs()
        made.setup = {"programs": {"ceiling": {"given": "fc/mine"}}}
        made.ceilings[0] = Ceiling(100, 2, 0.0, 0.1, "ended with status 7")
        view = model.model(made)
        self.assertEqual((view.status, tuple(map(prose.failure_line, view.failures))),
                         (1, ("fc/mine 100 with 2 threads ended with status 7",)))
        self.assertIn("(fc/mine failed: ended with status 7)", prose.unchecked_line(view.unchecked))
        made.ceilings[0] = Ceiling(100, 2, 0.0, 0.1)  # saved so, by hand
        self.assertIn("(fc/mine printed no time above 0)", prose.unchecked_line(model.model(made).unchecked))
        # A ceiling at another length only: it did not run here; a sweep
        # stopped before it did says so.
        made.ceilings[0] = Ceiling(999, 2, 0.0, 0.1, "ended with status 7")
        self.assertIn("(no fc/mine was run)", prose.unchecked_line(model.model(made).unchecked))
        made.stopped = "SIGINT stopped it"
        self.assertIn("(the sweep stopped before fc/mine ran there)",
                      prose.unchecked_line(model.model(made).unchecked))

    def test_a_load_that_could_not_be_read(self):
        text = table.render(model.model(runs())).decode()
        self.assertIn("Machine: Test CPU, 2 cores, Linux 6, glibc 2.36; load average unknown "
                      "at the start, 0.50 at the end.\n", text)


class Saved(unittest.TestCase):
    def test_loads_back_into_the_same_views(self):
        first = model.model(runs())
        text = document.render(first)
        again = model.model(saved.runs_from(json.loads(text)))
        self.assertEqual(table.render(again), table.render(first))
        self.assertEqual(document.render(again), text)

    def test_a_pass_time_that_is_no_time_is_refused(self):
        facts = json.loads(document.render(model.model(runs())))
        for bad in (-1, 0, "abc", True, float("inf")):
            with self.subTest(bad):
                facts["ceiling_runs"][0]["second_seconds"] = bad
                with self.assertRaises(ValueError):
                    saved.runs_from(facts)

    def test_no_bare_infinity(self):
        made = runs()
        made.runs[1] = Run("fast", 100, 1, "timed", 1.0, 2**20, "tree", "0.520000", "1e-320")
        text = document.render(model.model(made)).decode()
        json.loads(text, parse_constant=lambda name: self.fail(f"{name} in the JSON"))


if __name__ == "__main__":
    unittest.main()
