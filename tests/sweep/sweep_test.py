"""The sweep script against the real dotprod and against stand-ins that
disagree with themselves. Needs SWEEP and DOTPROD in the environment."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

SWEEP = os.environ["SWEEP"]
DOTPROD = os.environ["DOTPROD"]
STANDIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "standin.py")


def sweep(*args, env=None):
    return subprocess.run([sys.executable, SWEEP, *args], capture_output=True, text=True,
                          env={**os.environ, **(env or {})})


class Table(unittest.TestCase):
    def test_two_lengths_two_repeats(self):
        with tempfile.TemporaryDirectory() as tmp:
            png = os.path.join(tmp, "plot.png")
            # No gnuplot on PATH: a one-line note, and the table all the same.
            done = sweep("--binary", DOTPROD, "--lengths", "50,7", "--repeats", "2",
                         "--plot", png, env={"PATH": tmp})
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stderr, "sweep: gnuplot not found, no plot drawn\n")
            self.assertFalse(os.path.exists(png))
        rows = done.stdout.splitlines()
        self.assertEqual(len(rows), 4, done.stdout)
        self.assertTrue(all(row.count("|") == 10 for row in rows), done.stdout)
        cells = [row.strip("|").split("|") for row in rows[2:]]
        self.assertEqual([c[0].strip() for c in cells], ["7", "50"])
        for c in cells:
            values = [float(v) for v in c]
            self.assertLessEqual(values[2], values[1])  # min <= median
            self.assertLessEqual(values[1], values[3])  # median <= max
            self.assertGreater(values[6], 0)             # a peak was measured

    @unittest.skipUnless(subprocess.run(["sh", "-c", "command -v gnuplot"],
                                        capture_output=True).returncode == 0, "no gnuplot")
    def test_plot_is_a_png(self):
        with tempfile.TemporaryDirectory() as tmp:
            png = os.path.join(tmp, "plot.png")
            done = sweep("--binary", DOTPROD, "--lengths", "3,30", "--repeats", "1", "--plot", png)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(png, "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


class Rejects(unittest.TestCase):
    def test_results_that_disagree(self):
        cases = [
            ("flaky", "length 5 printed 'Resultado: 0.000005', then 'Resultado: 1.000005' on repeat 2"),
            ("drift", "length 5 printed 'Resultado: 0.000025' where the longest run gives "
                      "'Resultado: 0.000040' after 5 terms"),
        ]
        for mode, message in cases:
            with self.subTest(mode), tempfile.TemporaryDirectory() as tmp:
                env = {"STANDIN_MODE": mode, "STANDIN_COUNTER": os.path.join(tmp, "count")}
                done = sweep("--binary", STANDIN, "--lengths", "5,8", "--repeats", "2", env=env)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr, f"sweep: {message}\n")
                self.assertEqual(done.stdout, "")

    def test_bad_options_and_missing_binary(self):
        for args in (["--repeats", "0"], ["--lengths", "12,x"], ["--lengths", "0"],
                     ["--frobnicate"], ["--binary", "/nonexistent/dotprod"]):
            with self.subTest(args):
                done = sweep(*args)
                self.assertEqual(done.returncode, 2)
                self.assertRegex(done.stderr, re.compile(r"\Asweep: [^\n]+\n\Z"))


if __name__ == "__main__":
    unittest.main()
