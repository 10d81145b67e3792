# SPDX-License-Identifier: MIT
"""The sweep's command line, parsed in-process into its Config."""
import os
import sys
import unittest

from dotprod_sweep.config import UsageError, config

PYTHON = sys.executable  # an executable file to stand for every program


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


if __name__ == "__main__":
    unittest.main()
