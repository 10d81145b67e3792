# SPDX-License-Identifier: MIT
"""The sweep's command line, parsed in-process into its Config."""
import os
import shutil
import sys
import unittest

from dotprod_sweep import config as parsing
from dotprod_sweep.config import UsageError

PYTHON = sys.executable  # an executable file to stand for every program


def config(argv):
    return parsing.config(argv, "/nonexistent")


class Options(unittest.TestCase):
    def test_refused(self):
        for argv in (["--repeats", "0"], ["--lengths", "12,x"], ["--lengths", "0"],
                     ["--lengths", "\uff13"], ["--repeats", "1_0"], ["--timeout", "1e10"],
                     ["--tolerance", "nan"], ["--binary", "/nonexistent/dotprod"],
                     ["--candidate", PYTHON, "--candidate", PYTHON]):
            with self.subTest(argv), self.assertRaises(UsageError):
                config(["--binary", PYTHON, "--exact", PYTHON, *argv])

    def test_lengths_sorted_once_each(self):
        cfg = config(["--binary", PYTHON, "--lengths", "50,7,50"])
        self.assertEqual(cfg.lengths, (7, 50))

    def test_warmup_only_with_candidates(self):
        alone = config(["--binary", PYTHON])
        compared = config(["--binary", PYTHON, "--exact", PYTHON, "--candidate", "/bin/true"])
        self.assertEqual((alone.warmup, compared.warmup), (0, 1))
        self.assertEqual([p.label for p in compared.programs],
                         [os.path.basename(PYTHON), "true"])


class CommandLines(unittest.TestCase):
    def test_split_as_a_shell_splits_never_run_by_one(self):
        cmd = parsing.config(["--binary", PYTHON, "--exact", PYTHON, "--candidate",
                              "OMP_NUM_THREADS={t} env 'A B' \"$HOME\" {n}", "--scan", "t=1,2"],
                             "/nonexistent").candidates
        self.assertEqual([c.label for c in cmd], ["env t=1", "env t=2"])
        self.assertEqual(cmd[1].argv(7), [shutil.which("env"), "A B", "$HOME", "7"])
        self.assertEqual(cmd[1].environment(7), {"OMP_NUM_THREADS": "2"})
        self.assertEqual(cmd[0].params, (("t", "1"),))

    def test_length_comes_last_without_placeholder(self):
        cmd = parsing.config(["--binary", PYTHON, "--exact", PYTHON, "--candidate", "true -x",
                              "--name", "mine"], "/nonexistent").candidates[0]
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
