# SPDX-License-Identifier: MIT
"""The report from hand-built runs, in-process: what a reader relies on
in the HTML and the Markdown (every answer line, one chart per figure,
labels shown as text, the change found named by its commit), the
history's series, and the plot's readability (one colour per program,
the scan axis named after its variable, every ceiling labelled). The
browser check (tests/report/check_browser.py) opens the same runs."""
import html
import re
import unittest

from dotprod_sweep.figures import history, model
from dotprod_sweep.report import pages, svg
from dotprod_sweep.views import charts, plot, prose
from dotprod_sweep.facts.runs import Ceiling, PROBE, Run, Runs

HOSTILE = "mine<script>alert(1)</script>"
FAMILY = "OMP_NUM_THREADS={t} ./par"
MACHINE = {"cpu": "Test CPU", "cores": 2, "kernel": "Linux 6", "libc": "glibc 2.36",
           "caches": [{"level": 1, "bytes": 32768}], "load_start": 0.2, "load_end": 0.3,
           "version": "1.4.0", "environment": {}}


def timed(runs, program, n, seconds, result="0.520000"):
    runs.runs += [Run(program, n, k, "timed", 1.0, 2**20, "process", result, f"{t:.9f}")
                  for k, t in enumerate(seconds, start=1)]


def one_run(commit="0123456789abcdef", date="2025-01-02T03:04:05+00:00", slower=1.0,
            drift=1.0, reference="dotprod", baseline=None):
    """dotprod, a candidate with markup in its label, and a command scanned
    over t, at two lengths, with 1- and 2-thread ceilings. slower
    multiplies the candidate's times; drift every program's."""
    labels = (reference, HOSTILE, "par t=1", "par t=2")
    made = Runs(labels, reference, baseline or reference, (1000, 100000), (5,),
                machine={**MACHINE, "commit": commit, "date": date},
                params={"par t=1": (("t", "1"),), "par t=2": (("t", "2"),)},
                families={"par t=1": FAMILY, "par t=2": FAMILY},
                setup={"arguments": ["--candidate", HOSTILE]})
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
                    **labels)
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
        self.assertEqual(changed, {("dotprod", 1000): [4, 5], ("dotprod", 100000): [4, 5]})

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
