# SPDX-License-Identifier: MIT
"""The sweep script against the real dotprod and against stand-ins that
disagree with themselves, print what cannot be used or hang; and its
comparison of candidates, real and stand-in, with dotprod. Needs SWEEP,
DOTPROD, EXACT and QUIET in the environment, and PARALLEL if it was built."""
import csv
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
WITNESS = os.environ.get("WITNESS")  # the library the sweep finds beside DOTPROD, if built
RACE = os.environ["RACE"]
STANDIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "standin.py")
NUMPY_DOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                         "numpy_dot.py")
PROBES = (1, 5, 29, 165, 1022, 2077)
# A sanitized build's ceiling, built without optimisation and checked at
# every read, is no ceiling: such a build names a stand-in instead.
CEILING = ["--ceiling", os.environ["CEILING"]] if os.environ.get("CEILING") else []


STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT,
                signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM)
HAS_GNUPLOT = subprocess.run(["sh", "-c", "command -v gnuplot"],
                             capture_output=True).returncode == 0
HAS_NUMPY = subprocess.run(["/usr/bin/python3", "-c", "import numpy"],
                           capture_output=True).returncode == 0


LOADED = re.compile(r"^sweep: the load average is [^\n]*\n", re.M)


def unloaded(stderr):
    """stderr without the warning that the machine is loaded: tests pass
    on a loaded machine."""
    return LOADED.sub("", stderr)


def sweep(*args, env=None, stdout=subprocess.PIPE, **more):
    """The sweep's run; env: variables to set, or to unset where None."""
    merged = {k: v for k, v in {**os.environ, **(env or {})}.items() if v is not None}
    done = subprocess.run([sys.executable, SWEEP, *args], stdout=stdout, stderr=subprocess.PIPE,
                          text=True, env=merged, **more)
    done.stderr = unloaded(done.stderr)
    return done


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


def table_rows(text):
    """The first table's rows as {header: cell}, read by header name."""
    lines = [line for line in text.split("\n\n")[0].splitlines() if line.startswith("|")]
    header = [c.strip() for c in lines[0].strip("|").split("|")]
    return [dict(zip(header, (c.strip() for c in line.strip("|").split("|"))))
            for line in lines[2:]]


def processor_seconds(pid):
    """The processor time pid has used so far, user and system."""
    fields = read(f"/proc/{pid}/stat").rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def end_leftover(pid):
    if pid and running(pid, grace=0):
        os.kill(pid, signal.SIGKILL)


class Table(unittest.TestCase):
    def test_two_lengths_two_repeats(self):
        with tempfile.TemporaryDirectory() as tmp:
            png = os.path.join(tmp, "plot.png")
            # No gnuplot on PATH: a one-line note, status 1, and the table all the same.
            done = sweep("--binary", DOTPROD, "--lengths", "50,7", "--repeats", "2",
                         "--plot", png, env={"PATH": tmp})
            self.assertEqual(done.returncode, 1, done.stderr)
            self.assertEqual(done.stderr, "sweep: gnuplot not found, no plot drawn\n")
            self.assertFalse(os.path.exists(png))
        rows = done.stdout.splitlines()
        self.assertEqual(len(rows), 4, done.stdout)
        self.assertTrue(all(row.count("|") == 10 for row in rows), done.stdout)
        cells = [row.strip("|").split("|") for row in rows[2:]]
        self.assertEqual([c[0].strip() for c in cells], ["7", "50"])
        for c in cells:
            # A peak seen over two processes says "(tree)": a sanitized
            # build's leak checker runs one beside the program as it ends.
            values = [float(v.split()[0]) for v in c]
            self.assertLessEqual(values[2], values[1])  # min <= median
            self.assertLessEqual(values[1], values[3])  # median <= max
            self.assertGreater(values[6], 0)             # a peak was measured

    def test_rounds_go_round_the_lengths(self):
        # Each length's rounds spread over the sweep: a round at each in turn.
        with tempfile.TemporaryDirectory() as tmp:
            saved = os.path.join(tmp, "runs.json")
            done = sweep("--binary", DOTPROD, "--lengths", "50,7", "--repeats", "3",
                         "--json", saved)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(saved) as f:
                made = [(r["length"], r["repeat"]) for r in json.load(f)["runs"]
                        if r["kind"] == "timed"]
        self.assertEqual(made, [(7, 1), (50, 1), (7, 2), (50, 2), (7, 3), (50, 3)])

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
            # Every length's first round comes before any second: the second
            # run is the first at N=8.
            ("flaky", "length 8 printed 'Resultado: 1.000008', then 'Resultado: 0.000008' on repeat 2",
             ["5", "8"]),
            ("drift", "length 5 printed 'Resultado: 0.000025' where the longest run gives "
                      "'Resultado: 0.000040' after 5 terms", ["5", "8"]),
        ]
        for mode, message, kept in cases:
            with self.subTest(mode), tempfile.TemporaryDirectory() as tmp:
                env = {"STANDIN_MODE": mode, "STANDIN_COUNTER": os.path.join(tmp, "count")}
                done = sweep("--binary", STANDIN, "--lengths", "5,8", "--repeats", "2", env=env)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr, f"sweep: {message}\n")
                # What was measured before is kept, and the table says why it ends.
                self.assertEqual([r["N"] for r in table_rows(done.stdout)], kept)
                self.assertIn(f"stopped early, and the rows hold what was measured before: "
                              f"{message}", done.stdout)

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
                     ["--binary", DOTPROD, "--lengths", "3", "--csv", "same", "--json", "./same"],
                     ["--timeout", "1e10"], ["--lengths", "\uff13"], ["--repeats", "1_0"],
                     ["--binary", DOTPROD, "--json", DOTPROD],
                     ["--binary", DOTPROD, "--plot", os.path.join(self.tmp, "link")],
                     ["--binary", DOTPROD, "--json", "/dev/stdout"],
                     # Each subcommand's refusals take the same road.
                     ["--binary", DOTPROD, "--json", os.path.join(self.tmp, "a.json"),
                      "--json", os.path.join(self.tmp, "b.json")],
                     ["run", "--binary", DOTPROD, "--threshold", "20"],
                     ["show"], ["compare", DOTPROD, DOTPROD, "--fail-above", "-1e400"]):
            with self.subTest(args), open(os.path.join(self.tmp, "out"), "w") as out:
                done = sweep(*args, stdout=out)
                self.assertEqual(done.returncode, 2)
                self.assertRegex(done.stderr, re.compile(r"\Asweep: [^\n]+\n\Z"))
                self.assertEqual(read(out.name), "")

    def test_output_it_cannot_use(self):
        cases = [
            ({"STANDIN_MODE": "short"}, [], "printed fewer than two lines, not 'Resultado: "
             "<result>' then 'Tiempo: <seconds>'; it printed 'Tiempo: 0.000001'"),
            ({"STANDIN_MODE": "latin1"}, [], "ended its output with bytes that are not UTF-8"),
            ({"STANDIN_TIME": "abc"}, [], "printed no usable time: 'Tiempo: abc'"),
            ({"STANDIN_TIME": "-1"}, [], "printed no usable time: 'Tiempo: -1'"),
            ({"STANDIN_TIME": "nan"}, [], "printed no usable time: 'Tiempo: nan'"),
            ({"STANDIN_TIME": "inf"}, [], "printed no usable time: 'Tiempo: inf'"),
            ({"STANDIN_MODE": "hang"}, ["--timeout", "1"], "ran longer than 1 s and was killed"),
            ({"STANDIN_MODE": "crash"}, [], "was killed by signal 11"),
            ({"STANDIN_TIME": "1e308"}, [], "printed a loop time of 1e+308 s, longer than its "
                                            "whole run took"),
            ({"STANDIN_MODE": "noisy"}, [], "ended with status 3; its standard error ended: "
             "'complaint / complaint / the last/word' (the end of 1000014 bytes)"),
            ({"STANDIN_MODE": "flood"}, [], "wrote more than 64 MiB of output and was killed"),
            ({"STANDIN_MODE": "unreport"}, [], "gave no peak memory"),
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

    def test_dotprod_failing_at_one_length_ends_the_sweep(self):
        # dotprod crashes, or runs past its time limit, at N=8 alone: N=8
        # gets no round after the one it failed in, and the failure, not
        # the budget, is what the sweep says.
        for mode, stop in (("crash", ["--repeats", "3"]), ("crash", ["--budget", "60"]),
                           ("hang", ["--repeats", "3"]), ("hang", ["--budget", "60"])):
            with self.subTest(mode=mode, stop=stop), tempfile.TemporaryDirectory() as tmp:
                ceiling, saved = os.path.join(tmp, "ceiling"), os.path.join(tmp, "runs.json")
                pidfile = os.path.join(tmp, "pid")
                os.symlink(STANDIN, ceiling)
                done = sweep("--binary", STANDIN, "--lengths", "5,8", *stop, "--timeout", "2",
                             "--ceiling", ceiling, "--json", saved, timeout=120,
                             env={"STANDIN_MODE": mode, "STANDIN_AT": "8",
                                  "STANDIN_PIDFILE": pidfile})
                end_leftover(pid_in(pidfile))
                failure = "was killed by signal 11" if mode == "crash" else "ran longer than 2 s"
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertRegex(done.stderr,
                                 rf"\Asweep: {re.escape(STANDIN)} 8 {failure}[^\n]*\n\Z")
                self.assertNotIn("held fewer rounds", done.stdout)
                ceilings = json.loads(read(saved))["ceiling_runs"]
                self.assertEqual({c["repeat"] for c in ceilings if c["length"] == 8}, {1})
                # A crash leaves dotprod running at N=5; a time-out ends it everywhere.
                rounds_at_5 = {c["repeat"] for c in ceilings if c["length"] == 5}
                self.assertEqual(len(rounds_at_5), {"crash": 6, "hang": 2}[mode]
                                 if stop[0] == "--budget" else {"crash": 3, "hang": 2}[mode])

    def test_what_a_run_leaves_running_is_ended(self):
        # In the run's group, or in a session of its own.
        for mode in ("orphan", "escape"):
            with self.subTest(mode), tempfile.TemporaryDirectory() as tmp:
                pidfile = os.path.join(tmp, "pid")
                done = sweep("--binary", STANDIN, "--lengths", "5", "--repeats", "1",
                             env={"STANDIN_MODE": mode, "STANDIN_PIDFILE": pidfile})
                pid = pid_in(pidfile)
                alive = running(pid)
                end_leftover(pid)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertFalse(alive, "the run's child outlived it")

    def test_a_double_forked_helper_counts_in_the_processor_time(self):
        with tempfile.TemporaryDirectory() as tmp:
            saved = os.path.join(tmp, "runs.json")
            done = sweep("--binary", STANDIN, "--lengths", "5", "--repeats", "1", "--json", saved,
                         env={"STANDIN_MODE": "helper"})
            self.assertEqual(done.returncode, 0, done.stderr)
            cpu = [r["cpu"] for r in json.loads(read(saved))["runs"] if r["kind"] == "timed"]
        self.assertGreaterEqual(min(cpu), 0.5)

    def test_threads_are_witnessed_not_guessed(self):
        # A second busy thread that the command does not declare: seen in
        # its runs, and its row held to the ceiling of two threads.
        with tempfile.TemporaryDirectory() as tmp:
            two, ceiling, saved = (os.path.join(tmp, name) for name in
                                   ("two-threads", "ceiling", "runs.json"))
            os.symlink(STANDIN, two)
            os.symlink(STANDIN, ceiling)
            done = sweep("--binary", DOTPROD, "--exact", EXACT, "--lengths", "1000",
                         "--repeats", "2", "--ceiling", ceiling, "--candidate", two,
                         "--json", saved)
            self.assertEqual(done.returncode, 0, done.stderr)
            document = json.loads(read(saved))
        runs = [r for r in document["runs"] if r["kind"] == "timed"]
        counted = {r["program"]: r["threads"] for r in runs}
        self.assertGreaterEqual(counted["two-threads"], 2)
        self.assertIn(counted["dotprod"], (None, 1))  # too short to sample, or one
        # The witness, where it is built, saw both threads: the busy one
        # spun for a tenth of a second.
        witnessed = [r["thread_cpu"] for r in runs if r["program"] == "two-threads"]
        self.assertEqual(all(witnessed), bool(WITNESS), witnessed)
        if WITNESS:
            self.assertTrue(all(len(w) >= 2 and w[0] >= 0.05 for w in witnessed), witnessed)
            ran = document["sweep"]["ran"]["two-threads"]
            self.assertTrue(any(os.path.basename(p).startswith("python") for p in ran), ran)
        if (os.cpu_count() or 1) >= 2:
            answer, = [a for a in document["answers"] if a["program"] == "two-threads"]
            self.assertEqual((answer["share_threads"], answer["threads_counted"],
                              answer["threads_from"]),
                             (2, True, "witnessed" if WITNESS else "sampled"))

    @unittest.skipUnless(PARALLEL and WITNESS and not CEILING and (os.cpu_count() or 1) >= 2,
                         "needs dotprod-parallel, the witness and the real ceiling on 2 CPUs")
    def test_a_short_parallel_loop_is_held_to_the_threads_that_ran(self):
        # Its two threads live a few milliseconds of the process, whose
        # vectors are built on one: the witness sees both, however short.
        with tempfile.TemporaryDirectory() as tmp:
            saved = os.path.join(tmp, "runs.json")
            done = sweep("--binary", DOTPROD, "--exact", EXACT, "--lengths", "1000000",
                         "--repeats", "3", "--candidate", PARALLEL, "--json", saved,
                         env={"OMP_NUM_THREADS": None})
            document = json.loads(read(saved))
        self.assertEqual(done.returncode, 0, done.stderr)
        answer, = document["answers"]
        self.assertEqual((answer["share_threads"], answer["threads_from"]), (2, "witnessed"))

    def test_a_replayed_time_is_not_the_stated_work(self):
        # The same time, to its seven digits, at each of five repeats.
        with tempfile.TemporaryDirectory() as tmp:
            replay = os.path.join(tmp, "double")
            os.symlink(STANDIN, replay)
            done = sweep("--binary", DOTPROD, "--exact", EXACT, *CEILING, "--lengths", "1000",
                         "--repeats", "5", "--candidate", f"STANDIN_TIME=0.001234000 {replay}")
        self.assertEqual(done.returncode, 1, done.stderr)  # it fails as a wrong result does
        row, = [r for r in table_rows(done.stdout) if r["program"] == "double"]
        self.assertEqual(row["note"], "replayed")
        self.assertIn("not the stated work: its times are one text, replayed from N=10^3",
                      done.stdout)

    def test_first_answers_on_a_terminal_give_way_to_the_final_ones(self):
        # Standard error a terminal: the answers after the first round at
        # every length, marked, then erased before the final ones print.
        master, slave = os.openpty()
        with subprocess.Popen([sys.executable, SWEEP, "--binary", DOTPROD, "--exact", EXACT,
                               *CEILING, "--lengths", "1000", "--repeats", "6",
                               "--candidate", QUIET], stdout=subprocess.PIPE,
                              stderr=slave) as child:
            os.close(slave)
            said = b""
            while True:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # the terminal's other end has closed
                    break
                if not chunk:
                    break
                said += chunk
            out = child.stdout.read().decode()
        os.close(master)
        self.assertEqual(child.returncode, 0, said)
        shown = said.decode(errors="replace")
        self.assertRegex(shown, r"provisional: dotprod-quiet: [^\n]* faster than dotprod at "
                                r"N=10\^3 \(one round, no interval\)")
        self.assertTrue(shown.endswith("\r\x1b[K\x1b[1A\x1b[J\r\x1b[K"), repr(shown[-80:]))
        self.assertNotIn("provisional", out)

    def test_a_loop_timed_in_part_is_faster_from_memory(self):
        # A saved run edited as a half-timed loop would make it: at N=10^4,
        # where 8·N bytes no longer fit the 40 kB cache, twice as fast per
        # byte as at N=10^3, where they do. show flags the longer row.
        with tempfile.TemporaryDirectory() as tmp:
            half, saved = os.path.join(tmp, "double"), os.path.join(tmp, "runs.json")
            os.symlink(STANDIN, half)
            done = sweep("--binary", DOTPROD, "--exact", EXACT, *CEILING, "--lengths",
                         "1000,10000", "--repeats", "2", "--candidate", half, "--json", saved)
            self.assertEqual(done.returncode, 0, done.stderr)
            document = json.loads(read(saved))
            document["machine"]["caches"] = [{"level": 1, "bytes": 40000}]
            for r in document["runs"]:
                if r["program"] == "double" and r["kind"] == "timed":
                    r["time_text"] = "0.000100000" if r["length"] == 1000 else "0.000500000"
                    r["time"] = float(r["time_text"])
            with open(saved, "w") as f:
                json.dump(document, f)
            shown = sweep("show", saved)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        said = " ".join(shown.stdout.split())
        self.assertIn("faster from memory (double N=10000): double reads faster per byte from "
                      "memory than from a cache at N=10^3", said)
        self.assertNotIn("faster from memory (double N=1000)", said)

    def test_a_failure_keeps_what_was_measured(self):
        # The exact value fails at N=1000: N=10 stays measured, in the table
        # and the JSON. A candidate that hangs is not run again after its
        # time-out, at the first probe. The table goes last, to a reader
        # that has gone.
        with tempfile.TemporaryDirectory() as tmp:
            saved, pidfile = os.path.join(tmp, "runs.json"), os.path.join(tmp, "pid")
            read_end, write_end = os.pipe()
            os.close(read_end)
            done = sweep("--binary", DOTPROD, "--exact", STANDIN, "--lengths", "10,1000",
                         "--repeats", "1", "--timeout", "2", "--json", saved, "--candidate",
                         f"STANDIN_MODE=hang STANDIN_PIDFILE={pidfile} {STANDIN}",
                         env={"STANDIN_MODE": "exact"}, stdout=write_end)
            os.close(write_end)
            end_leftover(pid_in(pidfile))
            with open(saved) as f:
                document = json.load(f)
        self.assertEqual(done.returncode, -signal.SIGPIPE)
        self.assertEqual([len(line) > 0 for line in done.stderr.splitlines()], [True] * 2,
                         done.stderr)
        self.assertIn(f"{STANDIN} 1000 ended with status 3", done.stderr)
        self.assertIn("ran longer than 2 s and was killed", done.stderr)
        self.assertEqual({s["length"] for s in document["summary"]}, {10})
        hung = [r["failure"] for r in document["runs"] if r["program"] == "standin.py"]
        self.assertEqual(hung[1:], ["not run: it timed out at N=1"] * (len(hung) - 1))

    def test_a_fault_of_its_own_keeps_the_runs(self):
        # The table, a view, raises: one line each for the fault and the
        # file, status 1, and the runs saved where show reads them back.
        broken = ("import os, sys\n"
                  "sys.path.insert(0, os.path.dirname(sys.argv[1]))\n"
                  "from dotprod_sweep import main\n"
                  "from dotprod_sweep.views import table\n"
                  "def render(*_): raise OverflowError('math range error')\n"
                  "table.render = render\n"
                  "sys.argv = ['sweep', *sys.argv[2:]]\n"
                  "sys.exit(main.entry(os.path.dirname(sys.argv[-1])))\n")
        with tempfile.TemporaryDirectory() as tmp:
            saved = os.path.join(tmp, "runs.json")
            done = subprocess.run([sys.executable, "-c", broken, SWEEP, "--binary", DOTPROD,
                                   "--lengths", "7", "--repeats", "1", "--json", saved,
                                   "--candidate", QUIET], capture_output=True, text=True)
            self.assertEqual(done.returncode, 1, done.stderr)
            self.assertEqual(unloaded(done.stderr),
                             "sweep: unexpected OverflowError: math range error\n"
                             f"sweep: the runs are saved in {saved}\n")
            shown = sweep("show", saved)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertEqual([r["N"] for r in table_rows(shown.stdout)], ["7", "7"])

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
        # N=3 is measured, N=5 hangs. SIGINT, SIGTERM and SIGHUP end the run
        # under way and keep what was measured; the others end all at once.
        for signum in STOP_SIGNALS:
            with self.subTest(signum.name), tempfile.TemporaryDirectory() as tmp:
                os.mkdir(os.path.join(tmp, "tmp"))
                pidfile, errors = os.path.join(tmp, "pid"), os.path.join(tmp, "errors")
                saved, out = os.path.join(tmp, "runs.json"), os.path.join(tmp, "out")
                env = {**os.environ, "TMPDIR": os.path.join(tmp, "tmp"), "STANDIN_AT": "5",
                       "STANDIN_MODE": "hang", "STANDIN_PIDFILE": pidfile}
                with open(errors, "w") as stderr, open(out, "w") as stdout, subprocess.Popen(
                        [sys.executable, SWEEP, "--binary", STANDIN, "--lengths", "3,5",
                         "--repeats", "1", "--json", saved], env=env, stderr=stderr,
                        stdout=stdout, preexec_fn=default_stop_signals) as child:
                    pid = pid_in(pidfile, wait=60)
                    child.send_signal(signum)
                    try:
                        status = child.wait(timeout=60)
                    finally:
                        child.kill()
                        end_leftover(pid)
                self.assertEqual(status, 128 + signum)
                self.assertFalse(running(pid), "the run was left running")
                self.assertEqual(os.listdir(os.path.join(tmp, "tmp")), [])
                if signum not in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                    self.assertEqual(unloaded(read(errors)), f"sweep: {signum.name} stopped it\n")
                    self.assertFalse(os.path.exists(saved))
                    continue
                said = f"{signum.name} stopped it at {STANDIN} 5"
                self.assertEqual(unloaded(read(errors)), f"sweep: {said}\n")
                self.assertEqual([r["N"] for r in table_rows(read(out))], ["3"])
                document = json.loads(read(saved))
                self.assertEqual((document["sweep"]["stopped"], document["status"]),
                                 (said, 128 + signum))

    def test_a_stop_signal_while_the_package_loads_is_one_line(self):
        # The launcher's own handler, in place until the package's are: the
        # launcher's code without its call of main, then a SIGTERM.
        code = ("import os, signal, sys\n"
                "sys.argv[0] = 'sweep'\n"
                f"exec(open({SWEEP!r}).read().replace('sys.exit(main())', 'pass'))\n"
                "signal.signal(signal.SIGTERM, stopped_early)\n"
                "os.kill(os.getpid(), signal.SIGTERM)\n")
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        self.assertEqual((done.returncode, done.stderr), (143, "sweep: SIGTERM stopped it\n"))

    def test_a_stop_signal_while_python_starts_is_one_line(self):
        # Run as a program, by its first line. A signal that came while
        # Python started waits, blocked, for the launcher's handler; one sent
        # the moment Python runs is held so.
        def pending():
            default_stop_signals()
            signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
            signal.raise_signal(signal.SIGINT)
        def exe(pid):
            try:
                return os.path.basename(os.readlink(f"/proc/{pid}/exe"))
            except OSError:
                return "env"
        for case in ("pending", "sent"):
            with self.subTest(case), subprocess.Popen(
                    [SWEEP, "show", "/nonexistent.json"], stderr=subprocess.PIPE, text=True,
                    preexec_fn=pending if case == "pending" else default_stop_signals) as child:
                if case == "sent":
                    while exe(child.pid) == "env" and child.poll() is None:
                        pass
                    child.send_signal(signal.SIGINT)
                errors = child.communicate(timeout=60)[1]
                self.assertEqual((child.returncode, unloaded(errors)),
                                 (130, "sweep: SIGINT stopped it\n"))

    def test_stop_signals_end_show_compare_and_report_in_one_line(self):
        # A saved run of 200,000 runs takes seconds to read: the signal comes
        # once the process has spent more processor time than its start takes.
        with tempfile.TemporaryDirectory() as tmp:
            small, large = os.path.join(tmp, "small.json"), os.path.join(tmp, "large.json")
            done = sweep("--binary", DOTPROD, "--lengths", "7", "--repeats", "2", "--json", small)
            self.assertEqual(done.returncode, 0, done.stderr)
            document = json.loads(read(small))
            runs = document["runs"]
            document["runs"] = [{**r, "repeat": r["repeat"] + 2 * k}
                                for k in range(200000 // len(runs)) for r in runs]
            with open(large, "w") as f:
                json.dump(document, f)
            page = os.path.join(tmp, "page.md")
            for signum in (signal.SIGINT, signal.SIGTERM):
                for args in (["show", large], ["compare", large, small],
                             ["report", large, "--markdown", page]):
                    with self.subTest(signal=signum.name, command=args[0]), subprocess.Popen(
                            [sys.executable, SWEEP, *args], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True,
                            preexec_fn=default_stop_signals) as child:
                        while processor_seconds(child.pid) < 0.6 and child.poll() is None:
                            time.sleep(0.02)
                        child.send_signal(signum)
                        out, errors = child.communicate(timeout=120)
                        self.assertEqual((child.returncode, unloaded(errors), out),
                                         (128 + signum, f"sweep: {signum.name} stopped it\n", ""))
                        self.assertFalse(os.path.exists(page))


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
        cls.done = sweep("--binary", DOTPROD, "--exact", EXACT, *CEILING,
                         "--lengths", "10,1000", "--warmup", "1",
                         "--repeats", "2", "--json", os.path.join(tmp, "runs.json"), *plot,
                         "--csv", os.path.join(tmp, "runs.csv"), "--seed", "4242",
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
        # Said once, with how often.
        crashed = [line for line in lines if "crash" in line]
        self.assertEqual(crashed, ["sweep: " + os.path.join(self.tmp.name, "crash")
                                   + f" 1 was killed by signal 11 (and the same at "
                                   f"{1 + len(PROBES)} more lengths)"])
        verdicts = {(int(r["N"]), r["program"]): r["verdict"]
                    for r in table_rows(self.done.stdout)}
        for n in (10, 1000):
            self.assertEqual(verdicts.pop((n, "dotprod")), "reference")
            self.assertEqual(verdicts.pop((n, "crash")), "n/a")
            for name in self.programs[1:]:
                if name in self.REJECTED + ["crash"]:
                    continue
                self.assertIn(verdicts.pop((n, name)),
                              ("same as dotprod", "accurate", "float rounding"), name)
        self.assertEqual(verdicts.pop((1000, "skip-tenth")), "**wrong**")
        self.assertEqual(sorted(k[1] for k in verdicts), ["skip-last", "skip-last", "skip-tenth"])
        blocks = self.done.stdout.split("\n\n")
        probes = blocks[blocks.index(next(b for b in blocks if b.startswith("Results checked")))
                        + 1]
        for name in self.programs[1:]:
            wanted = "failed" if name == "crash" else (
                "\\*\\*wrong\\*\\*" if name in self.REJECTED else "ok")
            self.assertRegex(probes, rf"\| {re.escape(name)} .*\| {wanted} +\|")

    def test_every_run_in_json(self):
        with open(os.path.join(self.tmp.name, "runs.json")) as f:
            document = json.load(f)
        self.assertEqual(document["machine"]["cores"], len(os.sched_getaffinity(0)))
        self.assertEqual(document["sweep"]["seed"], 4242)  # the seed given is the seed saved
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

    def test_csv_has_every_row(self):
        with open(os.path.join(self.tmp.name, "runs.csv"), newline="") as f:
            rows = list(csv.DictReader(f))
        self.assertEqual(sorted((int(r["length"]), r["program"]) for r in rows),
                         sorted((n, p) for n in (10, 1000) for p in self.programs))
        crashed = next(r for r in rows if r["program"] == "crash")
        self.assertIn("was killed by signal 11", crashed["failure"])

    def test_report_of_a_saved_run(self):
        saved = os.path.join(self.tmp.name, "runs.json")
        page = os.path.join(self.tmp.name, "report.html")
        done = sweep("report", saved, "--html", page)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        with open(page) as f:
            html = f.read()
        self.assertTrue(html.startswith("<!DOCTYPE html>"), html[:40])
        self.assertIn("dotprod-quiet: ", html)  # its answer line
        self.assertEqual(sweep("report", saved, "--html", saved).returncode, 2)

    def test_wide_table_keeps_every_column(self):
        done = sweep("show", os.path.join(self.tmp.name, "runs.json"), "--wide")
        rows = table_rows(done.stdout)
        exact = {int(r["N"]): r["result"] for r in rows if r["program"] == "exact value"}
        self.assertAlmostEqual(float(exact[1000]), 0.033875258, places=9)
        self.assertEqual(len(rows[0]), 13)

    def test_programs_take_turns(self):
        # Every round runs each program once, in an order of its own.
        with open(os.path.join(self.tmp.name, "log")) as f:
            log = f.read().splitlines()
        one_round = sorted(self.ACCEPTED + self.REJECTED)
        rounds = [log[i:i + len(one_round)] for i in range(0, len(log), len(one_round))]
        # The probes, then a warm-up and a first round at every length, then
        # the rounds the budget holds.
        lengths = [*PROBES, 10, 10, 1000, 1000, 10, 1000]
        self.assertEqual([sorted(r) for r in rounds],
                         [sorted(f"{name} {n}" for name in one_round) for n in lengths])
        # The two timed rounds at one length, each in an order of its own.
        order = [[line.split()[0] for line in r] for r in rounds]
        self.assertNotEqual(order[len(PROBES) + 1], order[-2])

    @unittest.skipUnless(HAS_GNUPLOT, "no gnuplot")
    def test_plot_is_a_png(self):
        with open(os.path.join(self.tmp.name, "plot.png"), "rb") as f:
            self.assertEqual(f.read(4), b"\x89PNG")

    def test_show_prints_the_same_table(self):
        saved = os.path.join(self.tmp.name, "runs.json")
        redrawn = os.path.join(self.tmp.name, "again.png")
        plot = ["--plot", redrawn] if HAS_GNUPLOT else []
        done = sweep("show", saved, *plot)
        self.assertEqual((done.returncode, done.stderr), (0, self.done.stderr))
        self.assertEqual(done.stdout, self.done.stdout)
        if HAS_GNUPLOT:
            with open(redrawn, "rb") as f:
                self.assertEqual(f.read(4), b"\x89PNG")

    def test_compare_saved_runs(self):
        # The same run against itself: its wrong and failed stand-ins are said
        # first, and a wrong new run fails the gate.
        old = os.path.join(self.tmp.name, "runs.json")
        same = sweep("compare", old, old, "--fail-above", "20")
        self.assertEqual((same.returncode, same.stderr), (1, ""))
        said = " ".join(same.stdout.split("\n\n")[0].split())
        self.assertIn(f"In {old}, skip-last is wrong, skip-tenth is wrong and crash failed: that "
                      "sweep exited 1.", said)
        table = next(part for part in same.stdout.split("\n\n") if part.startswith("|"))
        calls = {(row["program"], row["call"]) for row in table_rows(table)}
        # Times printed as 0 (the quiet example at N=10) give nothing to compare.
        # Two repeats, paired with a noisy control, may reach past 5 %, and
        # then it cannot tell; within, the same; nothing is "no change".
        found = {call for program, call in calls if not call.startswith("no usable")}
        self.assertIn("wrong in both", found, same.stdout)
        self.assertLessEqual(found, {"the same", "cannot tell", "wrong in both"}, same.stdout)
        # Then against one whose stand-ins are mended and whose quiet example
        # took twice as long at every repeat, paired with the double stand-in.
        # Its two repeats are made alike in both files: one busy moment in
        # one of two runs would leave no interval narrow enough to call.
        with open(old) as f:
            document = json.load(f)
        exact = {e["length"]: e["value"] for e in document["exact"]}
        first = {}
        for r in document["runs"]:
            if r["program"] == "dotprod-quiet" and r["time_text"]:
                r["time_text"] = first.setdefault((r["length"], r["kind"]), r["time_text"])
        old = os.path.join(self.tmp.name, "steady.json")
        with open(old, "w") as f:
            json.dump(document, f)
        for r in document["runs"]:
            if r["program"] == "dotprod-quiet" and r["time_text"]:
                r["time_text"] = repr(2 * float(r["time_text"]))
            if r["program"] in self.REJECTED and r["result"]:
                r["result"] = f"{exact[r['length']]:.17g}"
        # Run from the same files, witnessed, the slowdown is the machine's;
        # rebuilt, as its binary's digest then says, it is its own. Without
        # a witness (a sanitized build) the same files tell nothing.
        moved = os.path.join(self.tmp.name, "moved.json")
        with open(moved, "w") as f:
            json.dump(document, f)
        machine = sweep("compare", old, moved, "--fail-above", "20", "--control", "double")
        status, call = (0, "machine: 2× slower") if WITNESS else (3, "slower, about 2×")
        self.assertEqual(machine.returncode, status, machine.stdout + machine.stderr)
        self.assertRegex(machine.stdout, rf"\| dotprod-quiet +\|.*\| {call} +\|")
        ran = document["sweep"]["ran"].get("dotprod-quiet", {})
        ran.update({path: "0" * 64 for path in ran})
        new = os.path.join(self.tmp.name, "slower.json")
        with open(new, "w") as f:
            json.dump(document, f)
        slower = sweep("compare", old, new, "--fail-above", "20", "--control", "double")
        self.assertEqual(slower.returncode, 3, slower.stdout + slower.stderr)
        self.assertRegex(slower.stdout, r"\| double +\|.*\| +control \|")
        self.assertRegex(slower.stdout, r"\| dotprod-quiet +\|.*\| slower, about 2× +\|")
        self.assertIn("  dotprod-quiet at N=1000 (paired)", slower.stdout)

    def test_default_repeats_adapt_within_the_budget(self):
        # jitter's times are spread ±30 %: its interval is wide at 6 repeats,
        # and more are run until it narrows, unless the budget is spent.
        with tempfile.TemporaryDirectory() as tmp:
            os.symlink(STANDIN, os.path.join(tmp, "jitter"))
            saved = os.path.join(tmp, "runs.json")
            repeats = {}
            for budget in ("120", "0.01"):
                done = sweep("--binary", DOTPROD, "--exact", EXACT, "--lengths", "1000",
                             "--budget", budget, "--json", saved,
                             "--candidate", os.path.join(tmp, "jitter"),
                             env={"STANDIN_COUNTER": os.path.join(tmp, "count")})
                self.assertEqual(done.returncode, 0, done.stderr)
                with open(saved) as f:
                    repeats[budget] = [s["repeats"] for s in json.load(f)["summary"]]
        self.assertGreater(min(repeats["120"]), 6)
        # A budget too short for the first rounds holds one a length, and says so.
        self.assertEqual(repeats["0.01"], [1, 1])
        self.assertIn("sweep: the budget of 0.01 s held fewer rounds than the 6 planned (1 at "
                      "N=10^3)", done.stderr)

    @unittest.skipUnless(HAS_NUMPY, "no numpy for /usr/bin/python3 (Debian's python3-numpy)")
    def test_a_candidate_in_python(self):
        done = sweep("--binary", DOTPROD, "--exact", EXACT, *CEILING, "--lengths", "1000",
                     "--repeats", "1", "--candidate", NUMPY_DOT, "--name", "numpy")
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        numpy_row, = [r for r in table_rows(done.stdout) if r["program"] == "numpy"]
        self.assertIn(numpy_row["verdict"], ("same as dotprod", "accurate"))

    def test_tolerance_widens_the_bound(self):
        with tempfile.TemporaryDirectory() as tmp:
            os.symlink(STANDIN, os.path.join(tmp, "skip-tenth"))
            done = sweep("--binary", DOTPROD, "--exact", EXACT, "--lengths", "1000",
                         "--repeats", "1", "--tolerance", "0.2",
                         "--candidate", os.path.join(tmp, "skip-tenth"))
            self.assertEqual((done.returncode, done.stderr), (0, ""))


class Gate(unittest.TestCase):
    def test_two_builds_in_one_sweep(self):
        """--baseline old --fail-above 20: a new build twice as slow exits
        3, the same build 0, one whose times reach both within and beyond
        20 % slower (jitter), or timed once, 4; each says so in one line.
        Times of three digits: one of seven, the same every run, is
        replayed, and fails."""
        with tempfile.TemporaryDirectory() as tmp:
            build, jitter = os.path.join(tmp, "double"), os.path.join(tmp, "jitter")
            os.symlink(STANDIN, build)
            os.symlink(STANDIN, jitter)
            cases = [
                (f"STANDIN_TIME=0.00200 {build}", "6", 3,
                 "gate failed: new is slower than old by more than 20 % at N=1000: 2.00× slower "
                 "(2.00–2.00)"),
                (f"STANDIN_TIME=0.00100 {build}", "6", 0,
                 "gate passed: every candidate within 20 % of old at every length (worst: new at "
                 "N=10^3, 1.00× faster than old (1.00–1.00))"),
                (f"STANDIN_COUNTER={tmp}/count {jitter}", "6", 4,
                 "gate cannot tell at N=10^3: new is 1.00× faster than old (0.769–1.43), its "
                 "interval reaches past 20 % slower; rerun with more budget or on a quieter "
                 "machine"),
                (f"STANDIN_TIME=0.00100 {build}", "1", 4,
                 "gate cannot tell at N=10^3: new is 1.00× faster than old, one round, no "
                 "interval; rerun with more budget or on a quieter machine")]
            for new, repeats, status, said in cases:
                with self.subTest(new=new, repeats=repeats):
                    done = sweep("--binary", DOTPROD, "--exact", EXACT, "--lengths", "1000",
                                 "--repeats", repeats, "--json", os.path.join(tmp, "gate.json"),
                                 "--candidate", f"STANDIN_TIME=0.00100 {build}", "--name",
                                 "old", "--candidate", new, "--name", "new", "--baseline", "old",
                                 "--fail-above", "20")
                    self.assertEqual(done.returncode, status, done.stderr)
                    self.assertEqual(done.stdout.splitlines()[-1], said)
                    slower = [line for line in done.stderr.splitlines() if "slower" in line]
                    self.assertEqual(slower, [f"sweep: {said[len('gate failed: '):]}"]
                                     [:status == 3])
                    with open(os.path.join(tmp, "gate.json")) as f:
                        saved = json.load(f)
                    self.assertEqual((saved["status"], saved["gate"]["outcome"]),
                                     (status, {0: "passed", 3: "failed", 4: "cannot tell"}[status]))


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
                probes = {p["length"]: p["verdict"] for p in json.load(f)["probe_verdicts"]
                          if p["program"] == "race"}
        self.assertEqual(sorted(probes), sorted(PROBES + (8309, 33237, 132949, 531797)))
        self.assertEqual({n for n, klass in probes.items() if klass != "wrong"} - {1}, set())


if __name__ == "__main__":
    unittest.main()
