# SPDX-License-Identifier: MIT
"""A user's five commits in CI, rebuilt from hand-built runs: c1; c2 a
comment (the same binary); c3 about 25 % slower; c4 back (c1's binary);
c5 a comment; the fourth run beside a busy loop. The history must name
c3's slowdown and c4's recovery by their commits and put the loaded
run's changes down to the machine; compare and the two-run page of
c2 -> c3 must name the commits and say that the candidate's files
changed."""
import html
import re
import unittest

from dotprod_sweep.facts.runs import PROBE, Run, Runs
from dotprod_sweep.figures import history, load, model
from dotprod_sweep.report import pages
from dotprod_sweep.views import comparison

N, LONG = 100000, 1000000
LABELS = ("dotprod", "dotprod-quiet", "mine")
# Each commit's speedup of mine over dotprod-quiet at N and LONG, and its
# binary's SHA-256. At LONG the busy loop takes mine's second thread.
SPEEDUPS = {N: (1.77, 1.75, 1.49, 1.78, 1.75), LONG: (1.8, 1.8, 1.44, 1.8 / 85, 1.8)}
BINARIES = ("d1", "d1", "d3", "d1", "d1")
LOADED = 3
JITTER = (1.0, 1.02, 0.99, 1.01, 0.98, 1.0, 1.01, 0.99)


def host(k):
    quiet = {"load_start": 0.5, "busy_start": None}
    return {"cpu": "Test CPU", "cores": 2, "kernel": "Linux 6", "libc": "glibc 2.36",
            "caches": [], "load_end": 0.5, "environment": {}, "version": "1.8.1",
            "commit": "5b6d7f5" * 6,  # the sweep's own, the same in every run
            "candidate_commit": f"c{k + 1}", "candidate_dirty": False,
            "date": f"2026-12-0{k + 1}T10:00:00+00:00",
            **({"load_start": 2.4, "busy_start": 2.3} if k == LOADED else quiet)}


def programs(k):
    def command(label, digest):
        return {"label": label, "argv": [f"./{label}"], "env": {},
                "files": {f"./{label}": digest}}
    return {"reference": command("dotprod", "dp"),
            "candidates": [command("dotprod-quiet", "dq"), command("mine", BINARIES[k])]}


def run(k):
    """The sweep of commit k + 1: dotprod 1.8 times slower beside the busy
    loop, dotprod-quiet 1.3 times."""
    made = Runs(LABELS, "dotprod", "dotprod-quiet", (N, LONG), (5,), machine=host(k),
                setup={"arguments": [], "programs": programs(k)})
    for n in (N, LONG):
        made.exact[n] = 0.52
        quiet = 1e-9 * n * (1.3 if k == LOADED else 1.0)
        times = {"dotprod": 100 * quiet / (1.3 if k == LOADED else 1.0) * (1.8 if k == LOADED
                                                                           else 1.0),
                 "dotprod-quiet": quiet, "mine": quiet / SPEEDUPS[n][k]}
        for label in LABELS:
            made.runs += [Run(label, n, r, "timed", 1.0, 8 * n + 2**20, "process", "0.520000",
                              f"{times[label] * j:.9f}") for r, j in enumerate(JITTER, start=1)]
    made.exact[5] = 0.1
    made.runs += [Run(p, 5, 1, PROBE, 1.0, 2**20, "process", "0.100000", "0.000001")
                  for p in LABELS]
    return made


RUNS = [run(k) for k in range(5)]
NAMES = [f"c{k + 1}.json" for k in range(5)]


def page_text(runs, names):
    return html.unescape(re.sub(r"<[^>]+>", "", pages.render(runs, names, "markdown").decode()))


class FiveCommits(unittest.TestCase):
    def test_the_regression_and_its_fix_are_named_by_their_commits(self):
        made = history.history([model.model(r) for r in RUNS], NAMES)
        mine = next(s for s in made.series if s.program == "mine" and s.length == N)
        change, = mine.changes
        self.assertEqual((change.run, change.previous, change.back, change.cause),
                         (2, 1, 3, history.CODE))
        page = page_text(RUNS, NAMES)
        self.assertIn("mine at 10^5: c3: 1.17× slower than c2, back at c4 (speedup over "
                      "dotprod-quiet 1.75 → 1.49)", page)

    def test_the_loaded_runs_changes_are_the_machines(self):
        made = history.history([model.model(r) for r in RUNS], NAMES)
        loaded = {(s.program, s.length): [(c.run, c.cause, c.loaded) for c in s.changes]
                  for s in made.series if s.program != "mine" or s.length == LONG}
        machine = [(LOADED, history.MACHINE, True)]
        self.assertEqual(loaded, {(p, n): machine for p in LABELS for n in (N, LONG)
                                  if p != "mine" or n == LONG})
        page = page_text(RUNS, NAMES)
        # mine's binary at c4 is c1's, not c3's: the same program ran at c5.
        self.assertIn("mine at 10^6: c4: 68× slower than c3, back at c5; the machine's: c4 began "
                      "beside other work (2.30 tasks running, against 0.500 in the other runs), "
                      "and its programs ran from the same files in a run at the level", page)
        self.assertIn("dotprod-quiet at 10^5: c4: 1.3× slower than c3, back at c5; the machine's",
                      page)
        self.assertIn("dotprod, the same program in every run unless its version changed, ran at "
                      "10^5 1.38× slower at c4 than at c3, back at c5", page)

    def test_what_makes_a_run_stand_out(self):
        def hosts(starts, cores=2, busy=None):
            return [{"load_start": v, "busy_start": busy if k == 2 else None, "cores": cores}
                    for k, v in enumerate(starts)]
        cases = [(hosts([0.5, 0.5, 2.4, 0.5], busy=2.3), True),
                 (hosts([0.5, 0.5, 1.4, 0.5]), False),            # under one more task
                 (hosts([0.2, 0.2, 1.5, 0.2], cores=4), False),  # on under half the CPUs
                 (hosts([0.5, 0.5, 0.6, 0.5], busy=2.3), True),  # the tasks running, counted
                 (hosts([None, None, 3.0, None]), False)]        # no other run to stand out of
        for runs, expected in cases:
            with self.subTest(runs=runs):
                self.assertIs(load.stands_out(runs, 2), expected)

    def test_a_machine_no_busier_than_the_others_leaves_it_to_the_files(self):
        quiet = [run(k) for k in range(5)]
        quiet[LOADED].machine.update(load_start=0.5, busy_start=None)
        made = history.history([model.model(r) for r in quiet], NAMES)
        mine = next(s for s in made.series if s.program == "mine" and s.length == LONG)
        self.assertEqual([(c.run, c.cause, c.loaded) for c in mine.changes],
                         [(LOADED, history.CODE, False)])

    def test_compare_and_the_two_run_page_name_the_commits_and_the_changed_files(self):
        text = comparison.compare_runs(RUNS[1], RUNS[2], names=NAMES[1:3])[0].decode()
        self.assertIn("Old: c2.json (commit c2); new: c3.json (commit c3).", text)
        self.assertIn("  commit of what was timed: c2 (old), c3 (new)", text)
        self.assertIn("  mine's files (SHA-256): mine d1 (old), mine d3 (new)", text)
        self.assertNotIn("dotprod's files", text)
        RUNS[2].machine["candidate_dirty"] = True
        try:
            text = comparison.compare_runs(RUNS[1], RUNS[2], names=NAMES[1:3])[0].decode()
        finally:
            RUNS[2].machine["candidate_dirty"] = False
        self.assertIn("(commit c3-dirty)", text)
        self.assertIn("  changes not committed: no (old), yes (new)", text)
        one = pages.render(RUNS[2:3], NAMES[2:3], "markdown").decode()
        self.assertIn("Timed at commit c3, dotprod-sweep 1.8.1, its commit 5b6d7f55b6d7f5", one)
        page = pages.render(RUNS[1:3], NAMES[1:3], "markdown").decode()
        self.assertTrue(page.startswith("# Before and after: commit c2 → commit c3\n"), page[:80])
        # The candidate's rows and chart come before everything else.
        first = page.index("| 100000 | mine")
        self.assertLess(first, page.index("| 100000 | dotprod "))
        self.assertLess(page.index("mine at N=10^5, speedup over dotprod-quiet"),
                        page.index("Verdicts, old → new"))
