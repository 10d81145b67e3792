# SPDX-License-Identifier: MIT
"""The report from hand-built runs, in-process: what a reader relies on
in the HTML and the Markdown (every answer line, one chart per figure,
labels shown as text, the change found named by its commit), the
history's series, and the plot's readability (one colour per program,
the scan axis named after its variable, every ceiling labelled). The
browser check (tests/report/check_browser.py) opens the same runs."""
import hashlib
import html
import os
import re
import tempfile
import unittest
from dataclasses import replace
from unittest import mock

from dotprod_sweep.facts import commands
from dotprod_sweep.figures import history, model
from dotprod_sweep.report import blocks, history_charts, pages, svg, two_runs
from dotprod_sweep.views import charts, formats, plot, prose
from dotprod_sweep.facts.runs import Ceiling, PROBE, Run, Runs

HOSTILE = "mine<script>alert(1)</script>"
FAMILY = "OMP_NUM_THREADS={t} ./par"
MACHINE = {"cpu": "Test CPU", "cores": 2, "kernel": "Linux 6", "libc": "glibc 2.36",
           "caches": [{"level": 1, "bytes": 32768}], "load_start": 0.2, "load_end": 0.3,
           "version": "1.4.0", "environment": {}}


def timed(runs, program, n, seconds, result="0.520000"):
    runs.runs += [Run(program, n, k, "timed", 1.0, 2**20, "process", result, f"{t:.9f}")
                  for k, t in enumerate(seconds, start=1)]


def recorded(labels, argv, digest):
    """The commands a run records: argv for the candidate, its file's
    fingerprint digest (None: none recorded), ./p for the others."""
    def command(label):
        word = argv if label == HOSTILE else "./p"
        made = {"label": label, "argv": [word], "env": {}}
        return made if digest is None else {**made, "files": {word: digest}}
    return {"reference": command(labels[0]), "candidates": [command(p) for p in labels[1:]]}


def one_run(commit="0123456789abcdef", date="2025-01-02T03:04:05+00:00", slower=1.0,
            drift=1.0, reference="dotprod", baseline=None, argv="./mine", digest="d1"):
    """dotprod, a candidate with markup in its label, and a command scanned
    over t, at two lengths, with 1- and 2-thread ceilings. slower
    multiplies the candidate's times; drift every program's; argv and
    digest: the candidate's command and its file's fingerprint."""
    labels = (reference, HOSTILE, "par t=1", "par t=2")
    made = Runs(labels, reference, baseline or reference, (1000, 100000), (5,),
                machine={**MACHINE, "commit": "5b6d7f5" * 6, "candidate_commit": commit,
                         "date": date},
                params={"par t=1": (("t", "1"),), "par t=2": (("t", "2"),)},
                families={"par t=1": FAMILY, "par t=2": FAMILY},
                setup={"arguments": ["--candidate", HOSTILE],
                       "programs": recorded(labels, argv, digest)})
    for n in (1000, 100000):
        made.exact[n] = 0.52
        base = 1e-6 * n * drift
        jitter = (1.0, 1.02, 0.99, 1.01, 0.98, 1.0)
        for label, share in ((reference, 1.0), (HOSTILE, 0.25 * slower), ("par t=1", 0.5),
                             ("par t=2", 0.28)):
            timed(made, label, n, [base * share * j for j in jitter])
        made.ceilings += [Ceiling(n, 1, 8 * n / 40e9, 0.1, first=8 * n / 20e9),
                          Ceiling(n, 2, 8 * n / 70e9, 0.1, second=8 * n / 50e9)]
    made.exact[5] = 0.1
    made.runs += [Run(p, 5, 1, PROBE, 1.0, 2**20, "process", "0.100000", "0.000001")
                  for p in labels]
    return made


STEP_AT = 3  # the history's candidate is twice as slow from its fourth run


def several_runs(count=6, drift_at=None, commit="c0ffee" * 6, **labels):
    """count runs, each at a commit of its own; drift_at: a run where the
    machine ran 30 % slower, every program alike."""
    return [one_run(commit=f"{k:x}{commit}", date=f"2025-02-{k + 1:02}T10:00:00+00:00",
                    slower=2.0 if k >= STEP_AT else 1.0, drift=1.3 if k == drift_at else 1.0,
                    digest="d2" if k >= STEP_AT else "d1", **labels)
            for k in range(count)]


def names(count):
    return [f"r{k + 1}.json" for k in range(count)]


class OneRun(unittest.TestCase):
    def setUp(self):
        self.runs = one_run()
        self.made = model.model(self.runs)

    def test_the_page_holds_every_answer_line_and_a_chart_per_figure(self):
        page = pages.render([self.runs], ["run.json"], "html").decode()
        text = html.unescape(re.sub(r"<[^>]+>", "", page))
        for line in prose.answer_lines(self.made).splitlines():
            self.assertIn(line, text)
        # Cost, speedup, read rate with its ceilings, and the scan over t.
        titles = re.findall(r'<text class="title"[^>]*>([^<]*)</text>', page)
        self.assertEqual([t.split(":")[0].split(" (")[0] for t in titles],
                         ["Cost per term", "Peak memory",
                          "Speedup over dotprod, with its 95 % interval",
                          "Read rate", "Scaling over t"])
        self.assertEqual(page.count("<figure"), len(titles))
        # Each ceiling labelled at its end, and the scan's axis named t.
        self.assertEqual(sorted(re.findall(r'class="line-label">([^<]*)<', page)),
                         ["1T ceiling", "1T first pass", "1×", "2T ceiling", "2T second pass",
                          "ideal"])
        self.assertIn('<text class="axis-label x" x="', page)
        self.assertRegex(page, r'class="axis-label x"[^>]*>t</text>')

    def test_a_label_is_text_never_markup(self):
        for form in ("html", "markdown"):
            with self.subTest(form):
                page = pages.render([self.runs], ["<b>.json"], form).decode()
                self.assertNotIn("<script>alert", page)
                self.assertNotIn("<b>", page)
        page = pages.render([self.runs], ["run.json"], "html").decode()
        self.assertEqual(page.count("<script"), 0)
        self.assertIn("default-src 'none'", page)  # nothing fetched, nothing run

    def test_a_label_that_looks_bold_is_text_in_every_cell(self):
        label = "**<b>x</b>**"
        with mock.patch(f"{__name__}.HOSTILE", label):
            runs = one_run()
        runs.runs = [replace(r, result_text="9.0") if r.program == label else r for r in runs.runs]
        cases = [("html", '<td class="l">**&lt;b&gt;x&lt;/b&gt;**</td>', "<strong>wrong</strong>"),
                 ("markdown", r"| \*\*\<b\>x\</b\>\*\* |", "| **wrong** |")]
        for form, shown, wrong in cases:
            with self.subTest(form):
                page = pages.render([runs], ["run.json"], form).decode()
                self.assertIn(shown, page)
                self.assertIn(wrong, page)
                self.assertNotIn("<b>", page)
        # A bold cell's own text is escaped too.
        marked = formats.bold("<b>x</b>")
        self.assertEqual(blocks.html_cell(marked, "td", "l"),
                         '<td class="l"><strong>&lt;b&gt;x&lt;/b&gt;</strong></td>')
        self.assertEqual(blocks.md_cell(marked), r"**\<b\>x\</b\>**")

    def test_markdown_escapes_what_github_would_render(self):
        cases = [("~~s~~", r"\~\~s\~\~"), ("$x^2$", r"\$x^2\$"), ("&lt;b&gt;", r"\&lt;b\&gt;"),
                 ("@octocat", "@\u2060octocat"), ("a|b", r"a\|b"), ("`x`", r"\`x\`")]
        for text, wanted in cases:
            with self.subTest(text):
                self.assertEqual(blocks.md(text), wanted)

    def test_markdown_says_what_the_page_says(self):
        text = pages.render([self.runs], ["run.json"], "markdown").decode()
        for line in prose.answer_lines(self.made).splitlines():
            self.assertIn(line.replace("<", "\\<").replace(">", "\\>"), text)
        self.assertIn("| ---: | --- |", text)  # the compact table, N right-aligned
        self.assertIn(prose.machine_line(MACHINE).replace("_", "\\_"), text)


class History(unittest.TestCase):
    def test_the_step_is_found_at_its_commit(self):
        runs = several_runs()
        made = history.history([model.model(r) for r in runs], names(len(runs)))
        line = next(s for s in made.series if s.program == HOSTILE and s.length == 100000)
        self.assertEqual(line.measure, history.SPEEDUP)
        change, = line.changes
        self.assertEqual(change.run, STEP_AT)
        self.assertAlmostEqual(change.factor, 2.0, places=6)
        # dotprod and the others did not change.
        self.assertEqual([s.program for s in made.series if s.changes], [HOSTILE, HOSTILE])
        page = pages.render(runs, names(len(runs)), "markdown").decode()
        self.assertIn("at 10^5: 2× slower from commit 3c0ffee, 2025-02-04T10:00:00+00:00 "
                      "(speedup over dotprod 4.00 → 2.00)", html.unescape(page.replace("\\", "")))

    def test_a_machine_slower_for_one_run_moves_no_ratio(self):
        # The whole run 30 % slower: dotprod's own time steps there and
        # back, the candidates' speedups over it do not.
        runs = [one_run(drift=1.3 if k == 4 else 1.0) for k in range(8)]
        made = history.history([model.model(r) for r in runs], names(8))
        changed = {(s.program, s.length): [c.run for c in s.changes] for s in made.series
                   if s.changes}
        self.assertEqual(changed, {("dotprod", 1000): [4], ("dotprod", 100000): [4]})
        alone = made.series[0].changes[0]
        self.assertEqual((alone.one_run, alone.previous, alone.back, alone.cause),
                         (True, 3, 5, history.MACHINE))

    def test_every_chart_and_change_in_the_page(self):
        runs = several_runs()
        page = pages.render(runs, names(len(runs)), "html").decode()
        made = history.history([model.model(r) for r in runs], names(len(runs)))
        self.assertEqual(page.count('<svg class="chart"'), len(made.series))
        self.assertEqual(page.count('<g class="mark">'), 2)
        self.assertIn('href="#figure-3"', page)  # the change line links to its chart


    def test_labels_and_file_names_are_text_in_every_page_and_chart(self):
        # Markup in a candidate's label; in the baseline's (the speedup
        # charts' axis titles), or in dotprod's, long enough to be cut in a
        # chart, its drift said under the changes; in the commits (the
        # history's ticks) and in the files' names.
        hostile_names = [f"<i>r{k}.json" for k in range(4)]
        reference = "<i>" + "d" * 60
        for labels in ({"baseline": HOSTILE}, {"reference": reference}):
            history = several_runs(4, drift_at=2, commit="<i>c0ffee", **labels)
            for runs in (history[:1], history):
                for form in ("html", "markdown"):
                    with self.subTest(labels=labels, runs=len(runs), form=form):
                        page = pages.render(runs, hostile_names[:len(runs)], form).decode()
                        # Markdown escapes a bracket with a backslash.
                        self.assertNotRegex(page, r"(?<!\\)<(/?script|i>)")
                        if form == "html":
                            self.assertIn("&lt;script&gt;", page)

def plain_text(page, form="markdown"):
    """The page's text: Markdown without its escapes, HTML without tags."""
    if form == "markdown":
        return page.replace("\\", "")
    return html.unescape(re.sub(r"<[^>]+>", "", page))


class Attribution(unittest.TestCase):
    """A change is the code's where a commit or a command changed, the
    machine's where neither did, and cannot be put down to either where
    no commit was recorded."""
    def test_each_change_is_put_down_to_what_changed(self):
        same, six = "e65d9aa" * 6, ["./mine"] * 6
        machine = (f"the machine ran {HOSTILE} 2× slower from run 4 (r4.json); the program did "
                   "not change (speedup")
        unsaid = "2× slower from run 4 (r4.json) (speedup"
        commit = ("the machine ran {HOSTILE} 2× slower from commit 3e65d9a, 2025-02-04T10:00:00"
                  "+00:00; the program did not change (speedup").format(HOSTILE=HOSTILE)
        cases = [  # (commits, candidate's command, its fingerprint, cause, the line's words)
            # The same files from another commit: the same program ran.
            ([f"{k}{same}" for k in range(6)], six, ["d1"] * 6, history.MACHINE, commit),
            ([f"{k}{same}" for k in range(6)], six, ["d1"] * 3 + ["d2"] * 3, history.CODE,
             "2× slower from commit 3e65d9a, 2025-02-04T10:00:00+00:00 (speedup"),
            ([f"{k}{same}" for k in range(6)], six, [None] * 6, history.CODE,
             "2× slower from commit 3e65d9a, 2025-02-04T10:00:00+00:00 (speedup"),
            ([same] * 6, six, ["d1"] * 6, history.MACHINE, machine),
            ([same] * 6, ["./mine"] * 3 + ["./other"] * 3, ["d1"] * 6, history.CODE, unsaid),
            ([same] * 6, six, ["d1"] * 3 + ["d2"] * 3, history.CODE, unsaid),  # rebuilt
            ([same] * 6, six, [None] * 6, None, unsaid),
            ([None] * 6, six, ["d1"] * 6, history.MACHINE, machine)]
        for commits, argv, digests, cause, said in cases:
            with self.subTest(cause=cause, argv=argv[-1], digest=digests[-1]):
                runs = [one_run(commit=c, date=f"2025-02-{k + 1:02}T10:00:00+00:00",
                                slower=2.0 if k >= STEP_AT else 1.0, argv=a, digest=d)
                        for k, (c, a, d) in enumerate(zip(commits, argv, digests))]
                made = history.history([model.model(r) for r in runs], names(6))
                line = next(s for s in made.series if s.program == HOSTILE and s.length == 1000)
                self.assertEqual([(c.run, c.cause) for c in line.changes], [(STEP_AT, cause)])
                page = plain_text(pages.render(runs, names(6), "markdown").decode())
                self.assertIn(f"{HOSTILE} at 10^3: {said}", page)
                self.assertEqual("the program did not change" in page, cause == history.MACHINE)

    def test_a_program_is_told_by_its_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "mine")
            for text in (b"one", b"two"):
                with open(path, "wb") as f:
                    f.write(text)
                found = commands.fingerprints([path, "{n}", os.path.join(tmp, "missing")])
                self.assertEqual(found, {path: hashlib.sha256(text).hexdigest()})
            with mock.patch.object(commands, "open", side_effect=PermissionError, create=True):
                self.assertEqual(commands.fingerprints([path]), {})

    def test_the_reference_changing_is_said_once(self):
        runs = [one_run(commit="e65d9aa" * 6, drift=1.3 if k == 4 else 1.0) for k in range(8)]
        for form in ("markdown", "html"):
            with self.subTest(form):
                page = plain_text(pages.render(runs, names(8), form).decode(), form)
                self.assertEqual(page.count("the same program in every run"), 1)
                self.assertIn("dotprod, the same program in every run unless its version "
                              "changed, ran at 10^3 1.3× slower at run 5 (r5.json) than at run 4 "
                              "(r4.json), back at run 6 (r6.json) and at 10^5", page)


class TwoRuns(unittest.TestCase):
    """Two runs: what compare says of them comes first, with the gate's
    outcome at each row where a limit is given."""
    def test_the_comparison_comes_first_with_its_gate(self):
        runs = [one_run(commit="a" * 40), one_run(commit="b" * 40, slower=2.0)]
        cases = [(None, None, None), (0.2, "gate failed: " + HOSTILE, "**failed**"),
                 (3.0, "gate passed: every candidate within 300 %", "passed")]
        for limit, outcome, cell in cases:
            with self.subTest(limit=limit):
                page = pages.render(runs, ["before.json", "after.json"], "markdown",
                                    two_runs.Asked(fail_above=limit)).decode()
                self.assertTrue(page.startswith("# Before and after: commit aaaaaaa → commit "
                                                "bbbbbbb\n\n## The candidates"))
                self.assertLess(page.index("| N "), page.index("## History per program"))
                self.assertNotIn("Too few runs", page)
                row = next(line for line in page.splitlines()
                           if line.startswith("| 100000 | mine"))
                self.assertIn("| slower, about 2×", row)
                if limit is None:
                    self.assertNotIn("gate", page.lower())
                    continue
                self.assertIn(outcome, plain_text(page))
                self.assertTrue(row.endswith(f"| {cell} |"), row)
                reference = next(line for line in page.splitlines()
                                 if line.startswith("| 100000 | dotprod"))
                self.assertTrue(reference.endswith("| not gated |"), reference)


    def test_a_candidate_that_failed_in_the_new_run_cannot_be_told(self):
        new = one_run(commit="b" * 40)
        new.runs.append(Run(HOSTILE, 100000, 7, "timed", 1.0, 2**20, "process", None, None,
                            failure="exit status 1"))
        runs, asked = [one_run(commit="a" * 40), new], two_runs.Asked(fail_above=0.2)
        for form, cell in (("markdown", "| failed in new | **cannot tell** |"),
                           ("html", '<td class="l">failed in new</td><td class="l"><strong>'
                                    'cannot tell</strong></td>')):
            with self.subTest(form):
                page = pages.render(runs, ["before.json", "after.json"], form, asked).decode()
                self.assertIn(cell, page)
                self.assertIn("gate cannot tell at N=10^5: ", plain_text(page, form))

    def test_a_control_not_in_both_is_refused_and_nothing_shared_still_gates(self):
        runs = [one_run(commit="a" * 40), one_run(commit="b" * 40, slower=2.0)]
        self.assertIn("--control nosuch: no program of that label",
                      two_runs.missing_control(*runs, two_runs.Asked(control="nosuch")))
        self.assertIsNone(two_runs.missing_control(*runs, two_runs.Asked(control="dotprod")))
        apart = one_run(commit="b" * 40)
        apart.runs = [replace(r, length=r.length + 1) for r in apart.runs]
        apart.lengths = tuple(n + 1 for n in apart.lengths)
        page = pages.render([runs[0], apart], ["before.json", "after.json"], "markdown",
                            two_runs.Asked(fail_above=0.2)).decode()
        self.assertIn("Nothing to compare", page)
        self.assertIn("gate cannot tell", plain_text(page))


class Labels(unittest.TestCase):
    def test_runs_are_told_apart_by_what_differs(self):
        def run(name, commit, date):
            return history.Provenance(name, commit, date, None, {})
        a, b = "a" * 40, "b" * 40
        cases = [  # (runs, what, each run's tick)
            ([run("x.json", a, "t1"), run("y.json", b, "t2")], "commit", ["aaaaaaa", "bbbbbbb"]),
            ([run("x.json", a, "t1"), run("y.json", a, "t2")], "file", ["x.json", "y.json"]),
            ([run("x.json", a, "t1"), run("d/x.json", a, None)], "file", ["x.json", "d/x.json"]),
            ([run("x.json", a, "t1"), run("x.json", a, "t2")], "time", ["t1", "t2"]),
            ([run("x.json", None, "t"), run("x.json", None, "t")], "number", ["run 1", "run 2"]),
            ([run("x.json", a, "t"), run("y.json", a, "t"), run("z.json", b, "t")],
             "commit and file", ["aaaaaaa x.json", "aaaaaaa y.json", "bbbbbbb z.json"]),
            ([run("before-the-long-change.json", a, "t"), run("after.json", a, "t")], "file",
             ["…he-long-change.json", "after.json"])]
        for runs, what, ticks in cases:
            with self.subTest(what=what, ticks=ticks):
                self.assertEqual(history_charts.telling(runs)[0], what)
                self.assertEqual([t for _, t in history_charts.run_ticks(runs)], ticks)


class Chart(unittest.TestCase):
    def test_an_interval_is_drawn_from_its_low_end_to_its_high_end(self):
        # On a linear axis the point at 2 lies a third of the way from the
        # bar's end at 1 to its end at 4.
        chart = charts.Chart("t", charts.Axis("x"), charts.Axis("y"),
                             (charts.Series("s", "#000", 0, ((1.0, 2.0, 1.0, 4.0, "tip"),)),))
        drawn = svg.render(chart)
        top, bottom = map(float, re.search(r'd="M[\d.]+,([\d.]+)V([\d.]+)M[^"]*" '
                                           r'[^>]*class="interval"', drawn).groups())
        point = float(re.search(r'<circle cx="[\d.]+" cy="([\d.]+)"', drawn).group(1))
        self.assertAlmostEqual((bottom - point) / (bottom - top), 1 / 3, delta=0.01)

class Plot(unittest.TestCase):
    def setUp(self):
        self.script = plot.files(model.model(one_run()))["plot.gp"]

    def test_one_colour_per_program_in_every_panel(self):
        colours = {}
        for colour, title in re.findall(r"linecolor rgb '(#\w+)' pointtype \d+ "
                                        r"dashtype (?:\d+|\([\d, ]+\)) title '([^']*)'",
                                        self.script):
            colours.setdefault(title, set()).add(colour)
        self.assertTrue(all(len(c) == 1 for c in colours.values()), colours)
        # A scanned command's rows and curves share its colour, and no
        # other program has it.
        scanned = {colours[t].pop() for t in ("par t=1", "par t=2", FAMILY + " at N=10^3")}
        others = {colours[t].pop() for t in ("dotprod", "mine<script>alert(1)</script>")}
        self.assertEqual((len(scanned), len(others | scanned)), (1, 3))

    def test_the_scan_axis_is_named_after_its_variable(self):
        self.assertRegex(self.script, r"set xlabel 't' noenhanced\n(.*\n){0,2}"
                                      r"set xtics \('1' 1, '2' 2\)\n")

    def test_every_labelled_line_is_labelled_at_its_end(self):
        labels = re.findall(r"set label \d+ '([^']*)' at graph", self.script)
        self.assertEqual(sorted(labels), ["1T ceiling", "1T first pass", "1×", "2T ceiling",
                                          "2T second pass", "ideal"])

    def test_the_png_and_the_page_draw_the_same_figures(self):
        page = pages.render([one_run()], ["run.json"], "html").decode()
        self.assertEqual(re.findall(r"^set title '([^']*)' noenhanced$", self.script, re.M),
                         [html.unescape(t) for t in
                          re.findall(r'<text class="title"[^>]*>([^<]*)</text>', page)])


if __name__ == "__main__":
    unittest.main()
