# SPDX-License-Identifier: MIT
"""The sweep script against the real dotprod and against stand-ins that
disagree with themselves, print what cannot be used or hang; and its
comparison of candidates, real and stand-in, with dotprod. Needs SWEEP,
DOTPROD, EXACT and QUIET in the environment, and PARALLEL if it was built."""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SWEEP = os.environ["SWEEP"]
DOTPROD = os.environ["DOTPROD"]
EXACT = os.environ["EXACT"]
QUIET = os.environ["QUIET"]
PARALLEL = os.environ.get("PARALLEL")
RACE = os.environ["RACE"]
STANDIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "standin.py")
PROBES = (1, 5, 29, 165, 1022, 2077)


STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT,
                signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM)
HAS_GNUPLOT = subprocess.run(["sh", "-c", "command -v gnuplot"],
                             capture_output=True).returncode == 0


def sweep(*args, env=None, stdout=subprocess.PIPE, **more):
    return subprocess.run([sys.executable, SWEEP, *args], stdout=stdout, stderr=subprocess.PIPE,
                          text=True, env={**os.environ, **(env or {})}, **more)


def default_stop_signals():
    """Whoever runs the tests may ignore these (a background job ignores
    SIGINT), and the sweep then rightly keeps ignoring them."""
    for signum in STOP_SIGNALS + (signal.SIGTSTP,):
        signal.signal(signum, signal.SIG_DFL)


def read(path):
    with open(path) as f:
        return f.read()


def running(pid, grace=10):
    """Whether pid is still a live process after a grace time for a kill
    to land on a loaded machine; a zombie has ended."""
    deadline = time.monotonic() + grace
    while True:
        try:
            alive = read(f"/proc/{pid}/stat").rsplit(")", 1)[1].split()[0] != "Z"
        except FileNotFoundError:
            alive = False
        if not alive or time.monotonic() > deadline:
            return alive
        time.sleep(0.05)


def pid_in(path, wait=0):
    """The pid a hanging stand-in wrote, waiting for it up to wait seconds."""
    deadline = time.monotonic() + wait
    while True:
        text = read(path) if os.path.exists(path) else ""
        if text or time.monotonic() > deadline:
            return int(text) if text else None
        time.sleep(0.05)


def end_leftover(pid):
    if pid and running(pid, grace=0):
        os.kill(pid, signal.SIGKILL)


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

    @unittest.skipUnless(HAS_GNUPLOT, "no gnuplot")
    def test_plot_is_a_png(self):
        with tempfile.TemporaryDirectory() as tmp:
            png = os.path.join(tmp, "plot.png")
            done = sweep("--binary", DOTPROD, "--lengths", "3,30", "--repeats", "1", "--plot", png)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(png, "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")

    @unittest.skipUnless(HAS_GNUPLOT, "no gnuplot")
    def test_quotes_in_paths_are_only_names(self):
        cases = [("x'; system 'touch pwned'; print 'y.png", ""),
                 ("it's.png", "it's")]
        for name, tmpdir in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                os.makedirs(os.path.join(tmp, tmpdir), exist_ok=True)
                done = sweep("--binary", DOTPROD, "--lengths", "3,30", "--repeats", "1",
                             "--plot", name, cwd=tmp, env={"TMPDIR": os.path.join(tmp, tmpdir)})
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertFalse(os.path.exists(os.path.join(tmp, "pwned")))
                with open(os.path.join(tmp, name), "rb") as f:
                    self.assertEqual(f.read(4), b"\x89PNG")

    def test_runs_the_file_it_checked(self):
        with tempfile.TemporaryDirectory() as tmp:
            os.mkdir(os.path.join(tmp, "bin"))
            with open(os.path.join(tmp, "bin", "dotprod"), "w") as f:
                f.write("#!/bin/sh\nexit 3\n")
            os.chmod(os.path.join(tmp, "bin", "dotprod"), 0o755)
            path = f"{tmp}/bin:{os.environ['PATH']}"
            for name in ("dotprod", "-dotprod"):
                with self.subTest(name):
                    os.symlink(DOTPROD, os.path.join(tmp, name))
                    done = sweep(f"--binary={name}", "--lengths", "3", "--repeats", "1",
                                 cwd=tmp, env={"PATH": path})
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertEqual(len(done.stdout.splitlines()), 3, done.stdout)


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

    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.tmp = self.scratch.name
        os.link(DOTPROD, os.path.join(self.tmp, "link"))

    def tearDown(self):
        self.scratch.cleanup()

    def test_bad_options_and_missing_binary(self):
        for args in (["--repeats", "0"], ["--lengths", "12,x"], ["--lengths", "0"],
                     ["--frobnicate"], ["--binary", "/nonexistent/dotprod"],
                     ["--binary", DOTPROD, "--lengths", "3", "--plot", "/nonexistent/x.png"],
                     ["--binary", DOTPROD, "--lengths", "3", "--json", "/dev/null"],
                     ["--binary", DOTPROD, "--lengths", "3", "--plot", "same", "--json", "./same"],
                     ["--timeout", "1e10"], ["--lengths", "\uff13"], ["--repeats", "1_0"],
                     ["--binary", DOTPROD, "--json", DOTPROD],
                     ["--binary", DOTPROD, "--plot", os.path.join(self.tmp, "link")],
                     ["--binary", DOTPROD, "--json", "/dev/stdout"]):
            with self.subTest(args), open(os.path.join(self.tmp, "out"), "w") as out:
                done = sweep(*args, stdout=out)
                self.assertEqual(done.returncode, 2)
                self.assertRegex(done.stderr, re.compile(r"\Asweep: [^\n]+\n\Z"))

    def test_output_it_cannot_use(self):
        cases = [
            ({"STANDIN_MODE": "short"}, [], "printed fewer than two lines"),
            ({"STANDIN_MODE": "latin1"}, [], "ended its output with bytes that are not UTF-8"),
            ({"STANDIN_TIME": "abc"}, [], "printed no usable time: 'Tiempo: abc'"),
            ({"STANDIN_TIME": "-1"}, [], "printed no usable time: 'Tiempo: -1'"),
            ({"STANDIN_TIME": "nan"}, [], "printed no usable time: 'Tiempo: nan'"),
            ({"STANDIN_TIME": "inf"}, [], "printed no usable time: 'Tiempo: inf'"),
            ({"STANDIN_MODE": "hang"}, ["--timeout", "1"], "ran longer than 1 s and was killed"),
            ({"STANDIN_MODE": "crash"}, [], "was killed by signal 11"),
            ({"STANDIN_TIME": "1e308"}, [], "printed a loop time of 1e+308 s, longer than its "
                                            "whole run took"),
        ]
        for env, args, message in cases:
            with self.subTest(env), tempfile.TemporaryDirectory() as tmp:
                pidfile = os.path.join(tmp, "pid")
                done = sweep("--binary", STANDIN, "--lengths", "5", "--repeats", "1", *args,
                             env={**env, "STANDIN_PIDFILE": pidfile})
                pid = pid_in(pidfile)
                end_leftover(pid)
                self.assertEqual(done.returncode, 1)
                self.assertRegex(done.stderr, re.compile(
                    rf"\Asweep: {re.escape(f'{STANDIN} 5 {message}')}[^\n]*\n\Z"))
                self.assertFalse(pid and running(pid), "the hanging run was left running")

    def test_what_a_run_leaves_running_is_ended(self):
        with tempfile.TemporaryDirectory() as tmp:
            pidfile = os.path.join(tmp, "pid")
            done = sweep("--binary", STANDIN, "--lengths", "5", "--repeats", "1",
                         env={"STANDIN_MODE": "orphan", "STANDIN_PIDFILE": pidfile})
            pid = pid_in(pidfile)
            end_leftover(pid)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertFalse(running(pid), "the run's child outlived it")

    def test_standard_output_that_cannot_be_written(self):
        def closed():
            os.close(1)
        read_end, write_end = os.pipe()
        os.close(read_end)
        full = os.open("/dev/full", os.O_WRONLY)
        cases = [
            ("closed", {"preexec_fn": closed}, 1, "sweep: standard output is closed\n"),
            ("full", {"stdout": full}, 1,
             "sweep: cannot write to standard output: No space left on device\n"),
            ("pipe without reader", {"stdout": write_end}, -signal.SIGPIPE, ""),
        ]
        for name, how, status, stderr in cases:
            with self.subTest(name):
                done = sweep("--binary", DOTPROD, "--lengths", "3", "--repeats", "1", **how)
                self.assertEqual((done.returncode, done.stderr), (status, stderr))
        os.close(write_end)
        os.close(full)

    def test_ctrl_z_stops_the_run_and_its_time_limit(self):
        with tempfile.TemporaryDirectory() as tmp:
            pidfile = os.path.join(tmp, "pid")
            with subprocess.Popen(
                    [sys.executable, SWEEP, "--binary", STANDIN, "--lengths", "5", "--repeats",
                     "1", "--timeout", "3"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                    text=True, env={**os.environ, "STANDIN_MODE": "hang",
                                    "STANDIN_PIDFILE": pidfile},
                    # A job of its own, as a shell starts it: the stop of an
                    # orphaned group would be discarded.
                    process_group=0, preexec_fn=default_stop_signals) as child:
                pid = pid_in(pidfile, wait=60)
                try:
                    child.send_signal(signal.SIGTSTP)
                    time.sleep(4)  # past the limit, were the stop counted
                    state = read(f"/proc/{pid}/stat").rsplit(")", 1)[1].split()[0]
                    child.send_signal(signal.SIGCONT)
                    time.sleep(1)
                    resumed = running(pid, grace=0)  # most of its 3 s are still left
                    _, errors = child.communicate(timeout=60)
                finally:
                    child.kill()
                    end_leftover(pid)
            self.assertEqual((state, resumed, child.returncode), ("T", True, 1))
            self.assertTrue(errors.endswith("ran longer than 3 s and was killed\n"), errors)

    def test_stop_signals_leave_nothing_behind(self):
        for signum in STOP_SIGNALS:
            with self.subTest(signum.name), tempfile.TemporaryDirectory() as tmp:
                os.mkdir(os.path.join(tmp, "tmp"))
                pidfile, errors = os.path.join(tmp, "pid"), os.path.join(tmp, "errors")
                env = {**os.environ, "TMPDIR": os.path.join(tmp, "tmp"),
                       "STANDIN_MODE": "hang", "STANDIN_PIDFILE": pidfile}
                with open(errors, "w") as stderr, subprocess.Popen(
                        [sys.executable, SWEEP, "--binary", STANDIN, "--lengths", "5",
                         "--repeats", "1"], env=env, stderr=stderr,
                        preexec_fn=default_stop_signals) as child:
                    pid = pid_in(pidfile, wait=60)
                    child.send_signal(signum)
                    try:
                        status = child.wait(timeout=60)
                    finally:
                        child.kill()
                        end_leftover(pid)
                self.assertEqual(status, 128 + signum)
                self.assertEqual(read(errors), "")
                self.assertFalse(running(pid), "the run was left running")
                self.assertEqual(os.listdir(os.path.join(tmp, "tmp")), [])


class Compare(unittest.TestCase):
    """One comparison at N = 10 and 1000 of dotprod with the examples and
    with stand-ins that compute the same dot product right and wrong."""
    ACCEPTED = ["double", "partials-2", "partials-16"]
    REJECTED = ["skip-last", "skip-tenth"]

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        tmp = cls.tmp.name
        for name in cls.ACCEPTED + cls.REJECTED + ["crash"]:
            os.symlink(STANDIN, os.path.join(tmp, name))
        cls.examples = [QUIET] + ([PARALLEL] if PARALLEL else [])
        candidates = cls.examples + [os.path.join(tmp, n)
                                     for n in cls.ACCEPTED + cls.REJECTED + ["crash"]]
        plot = ["--plot", os.path.join(tmp, "plot.png")] if HAS_GNUPLOT else []
        cls.done = sweep("--binary", DOTPROD, "--exact", EXACT, "--lengths", "10,1000",
                         "--repeats", "2", "--json", os.path.join(tmp, "runs.json"), *plot,
                         *[f"--candidate={c}" for c in candidates],
                         env={"STANDIN_LOG": os.path.join(tmp, "log")})
        cls.programs = ["dotprod"] + [os.path.basename(c) for c in candidates]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_verdicts(self):
        self.assertEqual(self.done.returncode, 1, self.done.stderr)
        lines = self.done.stderr.splitlines()
        self.assertEqual(sorted(line.split(" is wrong at")[0] for line in lines
                                if " is wrong at " in line),
                         [f"sweep: {name}" for name in self.REJECTED])
        crashed = [line for line in lines if "crash" in line]
        self.assertEqual(crashed[0], "sweep: " + os.path.join(self.tmp.name, "crash")
                         + " 10 was killed by signal 11")
        self.assertEqual(len(crashed), 2 + len(PROBES))  # once at each length
        rows = [row.strip("|").split("|") for row in self.done.stdout.split("\n\n")[0]
                .splitlines()[2:]]
        verdicts = {(int(r[0]), r[1].strip()): r[11].strip() for r in rows
                    if not r[1].strip().startswith("ceiling")}
        for n in (10, 1000):
            self.assertEqual(verdicts.pop((n, "exact value")), "")
            self.assertEqual(verdicts.pop((n, "dotprod")), "reference")
            self.assertEqual(verdicts.pop((n, "crash")), "n/a")
            for name in self.programs[1:]:
                if name in self.REJECTED + ["crash"]:
                    continue
                self.assertIn(verdicts.pop((n, name)),
                              ("same as dotprod", "accurate", "within float rounding"), name)
        self.assertEqual(verdicts.pop((1000, "skip-tenth")), "**wrong**")
        self.assertEqual(sorted(k[1] for k in verdicts), ["skip-last", "skip-last", "skip-tenth"])
        probes = self.done.stdout.split("\n\n")[2]
        for name in self.programs[1:]:
            wanted = "failed" if name == "crash" else (
                "\\*\\*wrong\\*\\*" if name in self.REJECTED else "ok")
            self.assertRegex(probes, rf"\| {re.escape(name)} .*\| {wanted} +\|")

    def test_every_run_in_json(self):
        with open(os.path.join(self.tmp.name, "runs.json")) as f:
            document = json.load(f)
        self.assertEqual(document["machine"]["cores"], len(os.sched_getaffinity(0)))
        exact = {entry["length"]: entry["exact"] for entry in document["lengths"]}
        self.assertAlmostEqual(exact[1000], 0.033875258, places=9)
        runs = {(r["program"], r["length"], r["repeat"], r["kind"]) for r in document["runs"]
                if r["kind"] != "probe"}
        self.assertEqual(runs, {(p, n, r, k) for p in self.programs for n in (10, 1000)
                                for r, k in ((1, "warm-up"), (1, "timed"), (2, "timed"))
                                if p != "crash" or (r, k) == (1, "warm-up")})
        summary = {(s["program"], s["length"]): s for s in document["summary"]}
        self.assertEqual(summary[("dotprod", 1000)]["speedup"], 1.0)
        self.assertIn("was killed by signal 11", summary[("crash", 1000)]["failure"])
        for s in summary.values():
            if not s["failure"]:
                self.assertGreater(s["peak_bytes"], 0)
            if s["speedup"]:
                self.assertLessEqual(s["speedup_low"], s["speedup"])
                self.assertGreaterEqual(s["speedup_high"], s["speedup"])

    def test_programs_take_turns(self):
        with open(os.path.join(self.tmp.name, "log")) as f:
            log = f.read().split("\n")
        one_round = [f"{name} {{}}" for name in self.ACCEPTED + self.REJECTED]
        self.assertEqual(log, [line.format(n) for n in (10, 1000)
                               for _ in range(3) for line in one_round]
                         + [line.format(n) for n in PROBES for line in one_round] + [""])

    @unittest.skipUnless(HAS_GNUPLOT, "no gnuplot")
    def test_plot_is_a_png(self):
        with open(os.path.join(self.tmp.name, "plot.png"), "rb") as f:
            self.assertEqual(f.read(4), b"\x89PNG")

    def test_tolerance_widens_the_bound(self):
        with tempfile.TemporaryDirectory() as tmp:
            os.symlink(STANDIN, os.path.join(tmp, "skip-tenth"))
            done = sweep("--binary", DOTPROD, "--exact", EXACT, "--lengths", "1000",
                         "--repeats", "1", "--tolerance", "0.2",
                         "--candidate", os.path.join(tmp, "skip-tenth"))
            self.assertEqual((done.returncode, done.stderr), (0, ""))


class Race(unittest.TestCase):
    def test_threads_that_lose_updates_are_wrong(self):
        """Two threads adding into one shared sum, at 10^6: wrong at the
        length asked for and at every probe from 5 terms up, the longer
        probes (up to 531,797) included."""
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "runs.json")
            done = sweep("--binary", DOTPROD, "--exact", EXACT, "--lengths", "1000000",
                         "--repeats", "2", "--json", out, "--candidate", RACE, "--name", "race")
            self.assertEqual(done.returncode, 1, done.stderr)
            self.assertRegex(done.stderr, r"sweep: race is (wrong|not reproducible) at N=\d+")
            with open(out) as f:
                probes = {p["length"]: p["verdict"] for p in json.load(f)["probes"]
                          if p["program"] == "race"}
        self.assertEqual(sorted(probes), sorted(PROBES + (8309, 33237, 132949, 531797)))
        self.assertEqual({n for n, klass in probes.items() if klass != "wrong"} - {1}, set())


if __name__ == "__main__":
    unittest.main()
