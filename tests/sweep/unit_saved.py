# SPDX-License-Identifier: MIT
"""Saved runs read back with suspicion: a file of another schema, a field
of the wrong type or range, text that would reach the terminal raw; and
the statistics and the index that keep a large run's model linear."""
import copy
import json
import math
import os
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

from dotprod_sweep import messages
from dotprod_sweep.facts import saved
from dotprod_sweep.figures import model, stats
from dotprod_sweep.report import pages
from dotprod_sweep.views import columns, comparison, plot, table
from dotprod_sweep.facts.launchers import Launch
from dotprod_sweep.facts.runs import Ceiling, PROBE, Run, Runs, TIMED, WARMUP

OMP = "omp t=2"


def sweep():
    """A small sweep holding one of each fact a saved run keeps."""
    made = Runs(("dotprod", "fast", OMP), "dotprod", "dotprod", (100,), (5,),
                params={"fast": (), OMP: (("t", "2"),)}, families={"fast": "fast", OMP: "omp"},
                shown={"dotprod": "dotprod", "fast": "./fast | tee", OMP: "mpirun ./omp"},
                launches={OMP: Launch("mpirun", 2, 1, 2)}, seed=7, budget=60.0, spent=3.5,
                short={100: 4},
                machine={"cpu": "Test CPU", "cores": 2, "affinity": [0, 1], "kernel": "Linux 6",
                         "libc": "glibc 2.36", "caches": [{"level": 1, "bytes": 32768}],
                         "load_start": 0.25, "load_end": None, "environment": {"OMP_X": "1"},
                         "commit": "5b6d7f5", "candidate_commit": "c3", "candidate_dirty": True},
                setup={"arguments": ["--lengths", "100"],
                       "programs": {"ceiling": {"label": "", "argv": ["/c"], "env": {},
                                                "params": {}, "given": "dotprod-ceiling"}}})
    made.exact.update({100: 0.52, 5: 0.1})
    made.orders[100] = (0.5199, 0.5201)
    for r, (d, f, o) in enumerate(zip(("2.0", "3.0", "4.0"), ("0.5", "1.5", "1.0"),
                                      ("0.25", "0.75", "0.5")), start=1):
        made.runs += [Run("dotprod", 100, r, TIMED, 1.0, 3 * 2**20, "process", "0.520000", d),
                      Run("fast", 100, r, TIMED, 1.0, 2**20, "tree", "0.520000", f, cpu=0.9),
                      Run(OMP, 100, r, TIMED, 1.0, 2**20, "tree", "0.520000", o,
                          rank_peaks=(2**20, 2**19))]
    made.runs += [Run("fast", 100, 1, WARMUP, 1.0, 2**20, "tree", "0.520000", "0.5"),
                  Run("dotprod", 5, 1, PROBE, 1.0, 2**20, "process", "0.100000", "0.1"),
                  Run(OMP, 5, 1, PROBE, 0.0, failure="was killed by signal 9")]
    made.ceilings.append(Ceiling(100, 2, 1e-6, 0.1, None, 2e-6, 1.6e-6, 1))
    made.ran_objects = True
    return made


def document():
    return json.loads(json.dumps(saved.facts(sweep())))


def shown(runs):
    """Every table the model of runs prints, as text."""
    made = model.model(runs)
    return (table.render(made) + table.render(made, wide=True)).decode()


def load(doc):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "run.json")
        with open(path, "w") as f:
            json.dump(doc, f)
        return saved.load(path, "run.json")


DELETE = object()
# What a hand-edited or hostile file may hold in place of any field.
MUTATIONS = (None, True, -1, 0, 2**70, 1e300, math.nan, math.inf, -math.inf, "", "7",
             "x\x1b]0;title\x07\x1b[2J|\n\u202e", [], {}, DELETE, "nest")


def places(node, at=()):
    """The path of every field in node, but those of runs past the first
    five, which have the same shape."""
    if at[:1] == ("runs",) and len(at) > 1 and at[1] >= 5:
        return
    if at:
        yield at
    children = node.items() if isinstance(node, dict) else \
        enumerate(node) if isinstance(node, list) else ()
    for key, child in children:
        yield from places(child, at + (key,))


def mutated(doc, at, mutation):
    doc = copy.deepcopy(doc)
    parent = doc
    for key in at[:-1]:
        parent = parent[key]
    if mutation is DELETE:
        del parent[at[-1]]
    else:
        parent[at[-1]] = [parent[at[-1]]] if mutation == "nest" else mutation
    return doc


class Fuzz(unittest.TestCase):
    def test_every_field_mutated_loads_cleanly_or_is_refused_in_one_line(self):
        doc, refused = document(), 0
        for at in places(doc):
            for mutation in MUTATIONS:
                with self.subTest(at=at, mutation=mutation):
                    try:
                        runs = saved.runs_from(mutated(doc, at, mutation))
                    except saved.Invalid as error:
                        refused += 1
                        self.assertNotIn("\n", str(error))
                        continue
                    text = shown(runs)
                    self.assertEqual([c for c in text if not c.isprintable() and c != "\n"],
                                     [])
        self.assertGreater(refused, 500)  # the mutations reached the checks


# The values at the edges of a float, as numbers and as printed text.
EXTREMES = (0, 5e-324, 1e-320, 1e308, sys.float_info.max, -0.0)
# Characters an odd value may add to a view's widest line: a cell's worth,
# or an answer line's clause that says it cannot tell.
WIDER = 80


def every_view(runs, other):
    """{view: its text} of runs alone and beside other, a run as saved."""
    made, theirs = model.model(runs), model.model(other)
    views = {"table": table.render(made), "wide": table.render(made, wide=True),
             "csv": columns.csv_text(made),
             "report.md": pages.markdown([runs], ["a"]),
             "history.md": pages.markdown([other, runs], ["a", "b"]),
             "report.html": pages.html([runs], ["a"]),
             "history.html": pages.html([other, runs], ["a", "b"])}
    for name, pair, models in (("compare", (other, runs), (theirs, made)),
                               ("compared", (runs, other), (made, theirs))):
        views[name] = comparison.compare_runs(*pair, names=("a", "b"), models=models)[0]
    views.update(plot.files(made))
    return {k: v.decode() if isinstance(v, bytes) else v for k, v in views.items()}


def widest(text):
    return max(map(len, text.splitlines()), default=0)


def extremes(value):
    """What an extreme edit puts in place of value: numbers for a number,
    the numbers' text for a number's text."""
    if type(value) in (int, float):
        return EXTREMES
    if isinstance(value, str) and saved_number(value):
        return tuple(repr(float(x)) for x in EXTREMES)
    return ()


def saved_number(text):
    try:
        return math.isfinite(float(text))
    except ValueError:
        return False


class Extremes(unittest.TestCase):
    def test_every_number_at_its_extremes_is_shown_or_refused_in_one_line(self):
        doc = document()
        usual = {view: widest(text) for view, text in every_view(sweep(), sweep()).items()}
        for at in places(doc):
            value = doc
            for key in at:
                value = value[key]
            for extreme in extremes(value):
                with self.subTest(at=at, extreme=extreme):
                    try:
                        runs = saved.runs_from(mutated(doc, at, extreme))
                    except saved.Invalid as error:
                        self.assertNotIn("\n", str(error))
                        continue
                    for view, text in every_view(runs, sweep()).items():
                        if view.endswith(".html"):  # a drawn number that is no number
                            self.assertNotRegex(text, r'="[^"]*\b(inf|nan)\b', view)
                            continue
                        self.assertLessEqual(widest(text), usual[view] + WIDER, view)
                        if view.endswith(".gp"):  # gnuplot reads inf and nan as names
                            self.assertNotRegex(text, r"(?i)\b(inf|nan)\b", view)


    def test_every_time_of_a_program_at_its_extremes(self):
        # A whole program's times moved at once, or every program's: their
        # ratios overflow or underflow to 0 together.
        usual = {view: widest(text) for view, text in every_view(sweep(), sweep()).items()}
        for extreme in extremes("1.0"):
            for whose in ({"fast"}, {"dotprod", "fast", OMP}):
                with self.subTest(extreme=extreme, whose=sorted(whose)):
                    doc = document()
                    for r in doc["runs"]:
                        if r["program"] in whose and r["time_text"] is not None:
                            r["time_text"] = extreme
                    try:
                        runs = saved.runs_from(doc)
                    except saved.Invalid:
                        continue
                    for view, text in every_view(runs, sweep()).items():
                        if not view.endswith(".html"):
                            self.assertLessEqual(widest(text), usual[view] + WIDER, view)


class Refused(unittest.TestCase):
    def test_a_bad_field_is_named_in_one_line(self):
        cases = [
            ("exact[0].value", lambda d: d["exact"][0].update(value=math.nan)),
            ("sweep.lengths[0]", lambda d: d["sweep"].update(lengths=["100"])),
            ("runs[0].length", lambda d: d["runs"][0].update(length="100")),
            ("sweep.programs", lambda d: d["sweep"].update(programs=[])),
            ("runs[1].wall", lambda d: d["runs"][1].update(wall=math.inf)),
            ("runs[2].peak_bytes", lambda d: d["runs"][2].update(peak_bytes=-1)),
            ("runs[3].repeat", lambda d: d["runs"][3].update(repeat=1e300)),
            ("orders[0]", lambda d: d["orders"][0].update(low=0.53)),
            ("runs[0].time_text", lambda d: d["runs"][0].update(time_text="-0.5")),
            ("runs[0].result", lambda d: d["runs"][0].update(result="0e999")),
            ("runs[4].program", lambda d: d["runs"][4].update(program="other")),
            ("runs[0]", lambda d: d["runs"][0].update(result=None)),
            ("sweep.baseline", lambda d: d["sweep"].update(baseline="other")),
            ("sweep.families", lambda d: d["sweep"]["families"].pop(OMP)),
            ("ceiling_runs[0].second_seconds",
             lambda d: d["ceiling_runs"][0].update(second_seconds=0)),
            ("machine.caches[0].bytes", lambda d: d["machine"]["caches"][0].update(bytes="32")),
            ("machine.candidate_dirty", lambda d: d["machine"].update(candidate_dirty=1)),
            ("sweep.ran_objects", lambda d: d["sweep"].update(ran_objects=1)),
            # Two labels that clean to one would merge two programs' rows.
            ("sweep.programs[2]", lambda d: d["sweep"].update(programs=["dotprod", "a|b", "a/b"])),
        ]
        for where, change in cases:
            with self.subTest(where):
                doc = document()
                change(doc)
                with self.assertRaises(saved.LoadError) as caught:
                    load(doc)
                said = str(caught.exception)
                self.assertTrue(said.startswith(f"run.json: {where} "), said)
                self.assertNotIn("\n", said)

    def test_a_run_saved_before_the_candidates_commit_stands_on_the_sweeps(self):
        doc = document()
        del doc["machine"]["candidate_commit"], doc["machine"]["candidate_dirty"]
        host = load(doc).machine
        self.assertEqual((host["candidate_commit"], host.get("candidate_dirty")), ("5b6d7f5", None))
        doc["machine"]["candidate_commit"] = None  # recorded: none was found
        self.assertIsNone(load(doc).machine["candidate_commit"])

    def test_another_schema_is_refused_and_the_one_before_is_brought_up(self):
        for schema in (2, 4, "3", 3.0, True, None):
            with self.subTest(schema):
                with self.assertRaises(saved.LoadError) as caught:
                    load({**document(), "schema": schema})
                self.assertRegex(str(caught.exception),
                                 r"^run\.json holds a run of schema .*; this dotprod-sweep "
                                 r"reads schema 3$")
        three = document()
        upgrade = mock.Mock(side_effect=lambda doc: {**doc, "schema": 4})
        with mock.patch.object(saved, "SCHEMA", 4), mock.patch.dict(saved.UPGRADES, {3: upgrade}):
            self.assertEqual(load(three).programs, ("dotprod", "fast", OMP))
            upgrade.assert_called_once()
            with self.assertRaises(saved.LoadError):
                load({**three, "schema": 2})


class Cleaned(unittest.TestCase):
    def test_strings_from_the_file_reach_the_table_cleaned(self):
        doc = json.loads(json.dumps(saved.facts(sweep())).replace(
            '"fast"', json.dumps("fa\x1b[2J|st\n")))
        doc["machine"]["cpu"] = "CPU | \x1b]0;title\x07"
        doc["runs"][1]["failure"] = "was\rkilled | badly ::error::x ##[error]y"
        doc["machine"]["kernel"] = "k" * 10**6  # cut, not printed whole
        runs = load(doc)
        text = shown(runs)
        self.assertIn("k" * (messages.TEXT_MOST - 1) + "…", text)
        self.assertNotIn("k" * messages.TEXT_MOST, text)
        self.assertIn("| fa?[2J/st? |", text)
        self.assertIn("Machine: CPU / ?]0;title?,", text)
        self.assertIn("failed: was?killed / badly ?:error::x #?[error]y", text)
        # The label's runs, shown command and scan stay with it once cleaned.
        self.assertEqual(len(runs.of("fa?[2J/st?", 100)), 3)
        self.assertEqual(runs.shown["fa?[2J/st?"], "./fast | tee")

    def test_a_valid_run_loads_back_unchanged(self):
        again = load(document())
        self.assertEqual(saved.facts(again), document())
        self.assertEqual(shown(again), shown(sweep()))


class Linear(unittest.TestCase):
    def test_tails_agree_with_exact_sums_on_both_sides_of_the_switch(self):
        for n in (1, 6, 9, stats.EXACT_UP_TO, stats.EXACT_UP_TO + 1, 3001):
            with self.subTest(n=n):
                exact, running = [], 0
                for i in range(n // 2 + 1):
                    running += math.comb(n, i)
                    exact.append(running / 2**n)
                got = stats.binomial_tails(n)
                if n <= stats.EXACT_UP_TO:
                    self.assertEqual(got, exact)
                self.assertEqual(len(got), len(exact))
                for k in range(max(0, n // 2 - 60), n // 2 + 1):  # where the interval is chosen
                    self.assertAlmostEqual(got[k] / exact[k], 1, delta=1e-9)

    def test_the_index_follows_runs_appended_after_a_question(self):
        made = sweep()
        self.assertEqual((len(made.of("fast", 100)), made.failure_at(OMP, 5)),
                         (3, "was killed by signal 9"))
        made.runs.append(Run("fast", 100, 4, TIMED, 1.0, failure="ended with status 1"))
        self.assertEqual((len(made.of("fast", 100)), made.failure_at("fast", 100)),
                         (4, "ended with status 1"))
        made.runs = made.runs[:3]
        self.assertEqual((len(made.of("fast", 100)), made.failure_at("fast", 100)), (1, None))


if __name__ == "__main__":
    unittest.main()


class CandidateTree(unittest.TestCase):
    """The commit recorded for what was timed: the tree the sweep is run
    from, not the sweep's own; a --commit given; else the CI's variable."""
    def test_each_source_of_the_commit(self):
        from dotprod_sweep.running import machine
        with tempfile.TemporaryDirectory() as tree, tempfile.TemporaryDirectory() as bare:
            git = ["git", "-C", tree, "-c", "user.name=t", "-c", "user.email=t@t"]
            subprocess.run(git[:3] + ["init", "-q"], check=True)
            with open(os.path.join(tree, "mine.c"), "w") as f:
                f.write("int main(void) { return 0; }\n")
            subprocess.run(git + ["add", "mine.c"], check=True)
            subprocess.run(git + ["commit", "-qm", "c1"], check=True)
            head = subprocess.run(git[:3] + ["rev-parse", "HEAD"], capture_output=True,
                                  text=True, check=True).stdout.strip()
            outside = {"GIT_CEILING_DIRECTORIES": os.path.dirname(bare)}  # no tree above it
            with mock.patch.dict(os.environ, {**outside, "GITHUB_SHA": "f" * 40}):
                cases = [((None, tree), (head, False)), (("HEAD", tree), (head, None)),
                         (("v9", tree), ("v9", None)), ((None, bare), ("f" * 40, None))]
                for (given, folder), expected in cases:
                    with self.subTest(given=given, folder=folder):
                        found = machine.candidate_tree(given, folder)
                        self.assertEqual((found["candidate_commit"], found["candidate_dirty"]),
                                         expected)
                with open(os.path.join(tree, "mine.c"), "a") as f:
                    f.write("/* changed */\n")
                self.assertTrue(machine.candidate_tree(None, tree)["candidate_dirty"])
            with mock.patch.dict(os.environ, {**outside, "GITHUB_SHA": "", "CI_COMMIT_SHA": ""}):
                self.assertIsNone(machine.candidate_tree(None, bare)["candidate_commit"])
                # No git to run, or one that hangs: nothing recorded, and the sweep goes on.
                for fault in (FileNotFoundError("git"), subprocess.TimeoutExpired("git", 10)):
                    with mock.patch.object(machine.subprocess, "run", side_effect=fault):
                        self.assertEqual(machine.candidate_tree(None, tree),
                                         {"candidate_commit": None, "candidate_dirty": None})
                        self.assertIsNone(machine.commit())
