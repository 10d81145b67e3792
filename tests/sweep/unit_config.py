# SPDX-License-Identifier: MIT
"""The sweep's command line, parsed in-process: its subcommands, the
Config and requests it becomes, and what it refuses."""
import contextlib
import io
import os
import shutil
import sys
import tempfile
import unittest

from dotprod_sweep.cli import config as parsing
from dotprod_sweep import messages
from dotprod_sweep.messages import UsageError

PYTHON = sys.executable  # an executable file to stand for every program


def config(argv):
    return parsing.request(argv, "/nonexistent")


class InFolder(unittest.TestCase):
    """In a folder of its own, which holds old.json and new.json to read."""
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.addCleanup(os.chdir, os.getcwd())
        os.chdir(folder.name)
        for name in ("old.json", "new.json"):
            with open(name, "w") as f:
                f.write("{}")


class Subcommands(InFolder):
    def test_first_word_names_it_else_run(self):
        cases = [(["--binary", PYTHON], parsing.Config),
                 (["run", "--binary", PYTHON], parsing.Config),
                 (["show", "old.json", "--wide"], parsing.ShowRequest),
                 (["compare", "old.json", "new.json"], parsing.CompareRequest),
                 (["report", "old.json", "--html", "r.html"], parsing.ReportRequest),
                 (["export", "old.json", "--bmf", "b.json"], parsing.ExportRequest)]
        for argv, kind in cases:
            with self.subTest(argv):
                self.assertIsInstance(config(argv), kind)

    def test_what_a_run_records_and_an_export_allows(self):
        self.assertEqual(config(["--binary", PYTHON, "--commit", "v2.0"]).commit, "v2.0")
        self.assertIsNone(config(["--binary", PYTHON]).commit)
        self.assertEqual(config(["--binary", PYTHON, "--fail-above", "20", "--gate-budget",
                                 "60"]).gate_budget, 60.0)
        for argv, allowed in ((["--allow-failed"], True), ([], False)):
            self.assertIs(config(["export", "old.json", "--bmf", "b.json", *argv]).allow_failed,
                          allowed)

    def test_a_value_named_show_is_a_value(self):
        os.symlink(PYTHON, "show")
        self.assertEqual(config(["--binary", "show"]).reference.path,
                         os.path.join(os.getcwd(), "show"))
        self.assertEqual(config(["--binary", PYTHON, "--csv", "compare"]).csv.shown, "compare")

    def test_percents_become_fractions(self):
        cases = [(["compare", "old.json", "new.json"], (0.05, None)),
                 (["compare", "old.json", "new.json", "--threshold", "2.5",
                   "--fail-above", "20"], (0.025, 0.2)),
                 (["--binary", PYTHON, "--compare", "old.json", "--threshold", "2.5",
                   "--fail-above", "20"], (0.025, 0.2)),
                 (["report", "old.json", "new.json", "--markdown", "r.md", "--threshold", "2.5",
                   "--fail-above", "20"], (0.025, 0.2))]
        for argv, wanted in cases:
            with self.subTest(argv):
                asked = config(argv)
                self.assertEqual((asked.threshold, asked.fail_above), wanted)


class Refusals(InFolder):
    def test_faults_said_in_their_own_words(self):
        cases = [
            (["--json", "a.json", "--json", "b.json"], "--json is given twice"),
            (["compare", "old.json", "new.json", "--threshold", "1", "--threshold", "2"],
             "--threshold is given twice"),
            (["--fail-above", "-1e400"], "--fail-above: not a percentage of 0 or more"),
            (["--tolerance", "1e308"], "not a relative error from 0 to 1"),
            (["--lengths", "1000,7,1000"], "1000 is given twice"),
            (["--threshold", "20"], "--threshold needs --compare"),
            (["--control", "quiet"], "--control needs --compare"),
            (["report", "old.json"], "report needs --html FILE or --markdown FILE"),
            (["--candidate", "true", "--name", "a|b", "--candidate", "false", "--name", "a/b"],
             "'a|b' and 'a/b' both clean to the same label, a/b"),
            # Two programs' runs would merge into one row and a file show refuses.
            (["--candidate", "true {f}", "--name", "s", "--scan", "f=1,3", "--candidate",
              "false", "--name", "s f=3"], "true 3 and false are both labelled s f=3"),
            (["--compare", "old.json", "--csv", "./old.json"], "is the run compared with"),
            (["show", "old.json", "--plot", "old.json"], "is the run read"),
            (["show", "old.json", "--lenghts", "5"], "usage: dotprod-sweep show "),
            (["compare", "old.json"], "required: NEW.json"),
            (["export", "old.json"], "export needs --github-benchmark FILE or --bmf FILE"),
            (["export", "old.json", "--bmf", "./old.json"], "is the run read"),
            (["export", "old.json", "--bmf", "a.json", "--github-benchmark", "./a.json"],
             "two outputs name the same file: ./a.json"),
            (["export", "old.json", "--bmf", "/nonexistent/a.json"],
             "cannot write /nonexistent/a.json: No such file or directory"),
            (["report", "old.json", "--html", "r.html", "--fail-above", "20"],
             "--fail-above needs two runs, before and after (report was given 1)"),
            (["report", "old.json", "new.json", "old.json", "--html", "r.html", "--control",
              "x"], "--control needs two runs"),
            (["--commit", "a b"], "--commit: not a commit: 'a b'"),
            (["--gate-budget", "60"], "--gate-budget needs --fail-above without --compare"),
            (["--gate-budget", "60", "--fail-above", "20", "--repeats", "3"],
             "--gate-budget needs --fail-above without --compare or --repeats"),
            (["--commit", "a\x1b[2J"], "--commit: not a commit"),
        ]
        for argv, said in cases:
            with self.subTest(argv):
                with self.assertRaises(UsageError) as caught:
                    config(["--binary", PYTHON, *argv] if argv[0].startswith("-") else argv)
                self.assertIn(said, str(caught.exception))


class Labels(InFolder):
    def test_every_source_cleaned_for_a_ci_log(self):
        os.symlink(PYTHON, "::warning::w")
        cases = [(["--candidate", "true", "--name", "::error file=x::injected"],
                  "?:error file=x::injected"),
                 (["--candidate", "true", "--name", "a\n::b ##[error]c |"], "a?::b #?[error]c /"),
                 (["--candidate", "::warning::w"], "?:warning::w"),
                 (["--candidate", "true {t}", "--scan", "t=a ::x"], "true t=a ?:x"),
                 (["--candidate", "true {t}", "--scan", "t=\n::e\r##[x]"], "true t=?::e?#?[x]")]
        for argv, label in cases:
            with self.subTest(argv):
                cmd = config(["--binary", PYTHON, "--exact", PYTHON, *argv]).candidates[0]
                self.assertEqual(cmd.label, label)
                for _, value in cmd.params:  # the scaling table shows the values alone
                    self.assertNotRegex(value, r"##\[|^:|[\n\r]")

    def test_a_command_in_a_line_on_standard_error_is_no_ci_command(self):
        err = io.StringIO()
        with contextlib.redirect_stderr(err):
            messages.say("no executable candidate at ##[error]x\n::error::y")
        self.assertEqual(err.getvalue().split(": ", 1)[1],
                         "no executable candidate at #?[error]x?::error::y\n")


class Options(unittest.TestCase):
    def test_refused(self):
        for argv in (["--repeats", "0"], ["--lengths", "12,x"], ["--lengths", "0"],
                     ["--lengths", "\uff13"], ["--repeats", "1_0"], ["--timeout", "1e10"],
                     ["--tolerance", "nan"], ["--binary", "/nonexistent/dotprod"],
                     ["--candidate", PYTHON, "--candidate", PYTHON]):
            with self.subTest(argv), self.assertRaises(UsageError):
                config(["--binary", PYTHON, "--exact", PYTHON, *argv])

    def test_lengths_sorted(self):
        cfg = config(["--binary", PYTHON, "--lengths", "50,7"])
        self.assertEqual(cfg.lengths, (7, 50))

    def test_no_warmup_unless_asked(self):
        # The probes, run first, warm every program.
        alone = config(["--binary", PYTHON])
        compared = config(["--binary", PYTHON, "--exact", PYTHON, "--candidate", "/bin/true"])
        asked = config(["--binary", PYTHON, "--warmup", "2"])
        self.assertEqual((alone.warmup, compared.warmup, asked.warmup), (0, 0, 2))
        self.assertEqual([p.label for p in compared.programs],
                         [os.path.basename(PYTHON), "true"])


class CommandLines(unittest.TestCase):
    def test_split_as_a_shell_splits_never_run_by_one(self):
        cmd = config(["--binary", PYTHON, "--exact", PYTHON, "--candidate",
                      "OMP_NUM_THREADS={t} env 'A B' \"$HOME\" {n}", "--scan", "t=1,2"]).candidates
        self.assertEqual([c.label for c in cmd], ["env t=1", "env t=2"])
        self.assertEqual(cmd[1].argv(7), [shutil.which("env"), "A B", "$HOME", "7"])
        self.assertEqual(cmd[1].environment(7), {"OMP_NUM_THREADS": "2"})
        self.assertEqual(cmd[0].params, (("t", "1"),))
        # A failure line names the command that ran, not the one with {t}.
        self.assertEqual(cmd[1].shown, "OMP_NUM_THREADS=2 env 'A B' \"$HOME\" {n}")

    def test_length_comes_last_without_placeholder(self):
        cmd = config(["--binary", PYTHON, "--exact", PYTHON, "--candidate", "true -x",
                      "--name", "mine"]).candidates[0]
        self.assertEqual((cmd.label, cmd.argv(9)[1:]), ("mine", ["-x", "9"]))

    def test_refused(self):
        for argv in (["--candidate", "'unclosed"], ["--candidate", "X=1"],
                     ["--candidate", "true {t}"],                       # no such scan
                     ["--candidate", "true", "--scan", "t=1,2"],         # scan unused
                     ["--name", "orphan"], ["--candidate", "no-such-program-here"],
                     ["--candidate", "true", "--baseline", "false"]):
            with self.subTest(argv), self.assertRaises(UsageError):
                config(["--binary", PYTHON, "--exact", PYTHON, *argv])


if __name__ == "__main__":
    unittest.main()
