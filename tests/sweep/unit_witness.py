# SPDX-License-Identifier: MIT
"""The threads a row is held to and what showed them: the witness's lines
read, the one rule from hand-built runs, its verdicts, not the stated
work failing; and, with real processes, what the sampler and the
processor time see and what the preloaded library reports (WITNESS names
it; those cases are skipped without it)."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from dotprod_sweep.cli import files
from dotprod_sweep.facts import witness
from dotprod_sweep.facts.commands import Command
from dotprod_sweep.facts.launchers import Launch
from dotprod_sweep.facts.runs import Ceiling, Run, Runs
from dotprod_sweep.figures import differences, flags, gate, history, model, threads
from dotprod_sweep.running import runner, witness as preloaded
from dotprod_sweep.views import exports, prose, table

import unit_report

LIBRARY = os.environ.get("WITNESS")
STATIC = "/sbin/ldconfig"  # a static program on Debian


class Lines(unittest.TestCase):
    def test_threads_processes_and_images_from_the_lines(self):
        text = ("start 7 1 2 3 4 /usr/bin/time\n"
                "start 8 1 2 3 4 /usr/bin/time\n"
                "start 8 1 5 6 7 /a%20b/prog\n"
                "thread 8 8 2000000\n"
                "thread 8 9 500000000\n"
                "thread 8 9 400000000\n"     # read twice as it ended: the larger kept
                "thread 7 7 900000000\n"     # GNU time's own thread: not the run's
                "end 8 600000000 2\n"
                "end 7 1000000 4\n"
                "thread 8 10 12")            # cut short: passed over
        said = witness.parse(text, ("/usr/bin/time",))
        self.assertEqual(said.threads, {(8, 8): 0.002, (8, 9): 0.5})
        self.assertEqual(said.images, (witness.Image("/a b/prog", (1, 5, 6, 7)),))
        self.assertEqual(said.started, {7, 8})
        self.assertEqual(witness.allowed_cpus(said), 4)
        self.assertEqual(witness.thread_seconds(said), (0.5, 0.002))
        self.assertFalse(said.objects)

    def test_shared_objects_are_the_runs_but_for_what_is_left_out(self):
        # GNU time's libc and the witness library itself are not the run's;
        # the program's libc, said as it began and again as it ended, is once.
        text = ("start 7 1 2 3 4 /usr/bin/time\n"
                "object 7 1 9 9 9 /lib/libc.so.6\n"
                "start 8 1 5 6 7 /prog\n"
                "object 8 1 8 8 8 /lib/witness.so\n"
                "object 8 1 9 9 9 /lib/libc.so.6\n"
                "object 8 1 9 9 9 /lib/libc.so.6\n")
        said = witness.parse(text, ("/usr/bin/time", "/lib/witness.so"))
        self.assertEqual([i.path for i in said.images], ["/prog", "/lib/libc.so.6"])
        self.assertEqual(said.started, {7, 8})
        self.assertTrue(said.objects)
        self.assertEqual([i.path for i in witness.parse(text, ()).images],
                         ["/usr/bin/time", "/lib/libc.so.6", "/prog", "/lib/witness.so"])

    def test_it_holds_where_every_process_ended_and_their_time_adds_up(self):
        ended = "start 8 1 2 3 4 /p\nend 8 {} 2\n"
        # At 1 s the processes must tell 0.75 s; at 4 ms, 1 ms (3 ms unsaid).
        cases = [(ended.format(760000000), 1.0, True), (ended.format(740000000), 1.0, False),
                 (ended.format(1100000), 0.004, True), (ended.format(900000), 0.004, False),
                 (ended.format(760000000) + "start 9 1 2 3 4 /q\n", 1.0, False),
                 (ended.format(760000000), None, False), ("", 0.0, False)]
        for text, cpu, holds in cases:
            with self.subTest(text=text, cpu=cpu):
                self.assertEqual(witness.holds(witness.parse(text), cpu), holds)


N = 10**6
ONE, TWO = 8e9, 16e9  # bytes per second the ceiling reads on one thread, on two


def runs_of(seconds, **fields):
    """dotprod and mine at N, mine's loop taking seconds, with 1- and
    2-thread ceilings of ONE and TWO; fields: mine's runs' witness and cpu."""
    runs = Runs(("dotprod", "mine"), "dotprod", "dotprod", (N,), ())
    runs.exact[N] = 0.5
    for k in (1, 2, 3):
        runs.runs += [Run("dotprod", N, k, "timed", 1.0, 9 * N, "process", "0.5",
                          f"{0.5 * (1 + k / 1000):.9f}"),
                      Run("mine", N, k, "timed", 1.0, 9 * N, "process", "0.5",
                          f"{seconds * (1 + k / 1000):.9g}", **fields)]
        runs.ceilings += [Ceiling(N, 1, 8 * N / ONE, 0.1, repeat=k),
                          Ceiling(N, 2, 8 * N / TWO, 0.1, repeat=k)]
    return runs


class Library(unittest.TestCase):
    def test_found_in_the_first_folder_that_has_it_and_a_path_the_loader_can_split_is_none(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        for name in ("plain", "a b", "a:b"):
            os.mkdir(os.path.join(folder, name))
            open(os.path.join(folder, name, preloaded.LIBRARY), "w").close()
        plain = os.path.join(folder, "plain")
        self.assertEqual(preloaded.library([folder, plain]),
                         os.path.join(plain, preloaded.LIBRARY))
        for name in ("a b", "a:b"):
            self.assertIsNone(preloaded.library([os.path.join(folder, name), plain]))
        self.assertIsNone(preloaded.library([folder]))
        # Another build's dotprod does not take the default folder's library.
        other = Command("", (os.path.join(folder, "dotprod"),), (), "dotprod")
        self.assertIsNone(files.witness_library(other, plain))
        mine = Command("", (os.path.join(plain, "dotprod"),), (), "dotprod")
        self.assertEqual(files.witness_library(mine, plain),
                         os.path.join(plain, preloaded.LIBRARY))


class Rule(unittest.TestCase):
    def test_the_threads_held_to_and_what_showed_them(self):
        # A thread's fair part is 8e6 bytes over 2 CPUs at 8 GB/s, 0.5 ms:
        # it counts from a quarter of that, 125 us.
        def own(thread_cpu, cpus=2, cpu=None):
            return [Run("mine", N, 1, "timed", 1.0, cpu=cpu, thread_cpu=thread_cpu,
                        cpus_allowed=cpus, time_text="0.0001")]
        eight, mpi = Launch("none", 1, 1, threads=8), Launch("mpirun", 2, 1)
        W, B, D, S = threads.WITNESSED, threads.BUSY_CPUS, threads.DECLARED, threads.SAMPLED
        cases = [
            ("two short-lived threads", None, own((0.02, 0.000126), cpu=0.021), (2, W, 2)),
            ("one below a quarter of its part", None, own((0.02, 0.000124)), (1, W, 1)),
            ("a sleeping extra thread", None, own((0.02, 0.00003)), (1, W, 1)),
            ("two busy on one allowed CPU", None, own((0.02, 0.02), cpus=1), (1, W, 1)),
            ("8 declared, one witnessed", eight, own((0.02,)), (1, W, 1)),
            ("processor time proves more", None, own((0.02,), cpu=1.9), (2, B, 2)),
            ("8 declared, no witness", eight, own(None, cpu=1.0), (8, D, None)),
            ("no witness, 1.9 CPUs busy", None, own(None, cpu=1.9), (2, B, None)),
            ("no witness, 3 sampled", None,
             [Run("mine", N, 1, "timed", 1.0, cpu=1.0, threads=3)], (3, S, None)),
            ("under a launcher", mpi, own((0.02, 0.02)), (None, None, None))]
        for what, launch, runs, wanted in cases:
            with self.subTest(what):
                cpus = threads.cpus_used(runs)
                self.assertEqual(threads.held(launch, runs, cpus, ONE), wanted)
        # Unmeasured, a thread counts from half its run's printed loop time.
        self.assertEqual(threads.busy_threads(own((0.02, 0.00005))[0], None), 2)
        self.assertEqual(threads.busy_threads(own((0.02, 0.00004))[0], None), 1)


class Verdicts(unittest.TestCase):
    # Mine reads 8e6 bytes in 0.4 ms: 20 GB/s, beyond 1.5 x 8 and within
    # 1.5 x 16. Its vectors are built on one thread, so that its process
    # kept one CPU busy however many ran its loop.
    def row(self, launch=None, **fields):
        runs = runs_of(0.0004, cpu=1.0, **fields)
        if launch:
            runs.launches["mine"] = launch
        made = model.model(runs)
        return made, made.of("mine")[0]

    def test_impossible_only_beyond_the_ceiling_of_the_threads_witnessed(self):
        two, sleeping = (0.3, 0.0004), (0.3, 0.00002)
        cases = [("two threads witnessed", {"thread_cpu": two}, False, 0),
                 ("a sleeping extra thread", {"thread_cpu": sleeping}, True, 1),
                 ("8 declared, one witnessed", {"thread_cpu": (0.3,),
                                                "launch": Launch("none", 1, 1, threads=8)}, True, 1),
                 ("no witness", {}, False, 0)]
        for what, fields, impossible, status in cases:
            with self.subTest(what):
                made, s = self.row(**fields)
                self.assertEqual((s.impossible, made.status), (impossible, status))
        made, s = self.row(thread_cpu=sleeping)
        self.assertIn("this machine reads at best on 1 thread, as many as the witness saw run",
                      prose.impossible_line(s))
        made, s = self.row(thread_cpu=two)
        self.assertIn("of the 2-thread ceiling (threads witnessed)",
                      prose.answer_line(made.answers[0], "dotprod"))

    def test_beyond_one_thread_without_a_witness_is_a_flag_not_a_failure(self):
        made, s = self.row()
        self.assertEqual([(f.kind, f.cause) for f in s.flags],
                         [("above ceiling", "above: unwitnessed threads")])
        self.assertIn("no witness saw which threads it ran", prose.advice(s.flags[0]))
        s = model.model(runs_of(1e-320)).of("mine")[0]
        self.assertIn("on every CPU it may use, as no witness saw its threads",
                      prose.impossible_line(s))


class Unwitnessed(unittest.TestCase):
    def test_a_candidate_the_witness_could_not_see_into_is_said(self):
        runs = runs_of(0.01)
        self.assertEqual(model.model(runs).unwitnessed, ())  # no witness anywhere
        runs.runs = [r if r.program == "mine" else Run(
            "dotprod", N, r.repeat, "timed", 1.0, 9 * N, "process", "0.5", r.time_text,
            thread_cpu=(0.5,), cpus_allowed=2) for r in runs.runs]
        made = model.model(runs)
        self.assertEqual(made.unwitnessed, ("mine",))
        self.assertIn("No witness held in the runs of mine (a static or setuid program",
                      " ".join(table.render(made).decode().split()))


class NotTheStatedWork(unittest.TestCase):
    def test_it_fails_the_sweep_is_never_gated_and_is_not_exported(self):
        replayed = runs_of(0.01)
        for r in list(replayed.runs):
            replayed.runs.remove(r)
        for k in range(1, 6):
            replayed.runs += [Run("dotprod", N, k, "timed", 1.0, 9 * N, "process", "0.5",
                                  f"{0.5 * (1 + k / 1000):.9f}"),
                              Run("mine", N, k, "timed", 1.0, 9 * N, "process", "0.5",
                                  "0.001234")]
        no_vectors = runs_of(0.01)
        no_vectors.runs = [r if r.program == "dotprod" else Run(
            "mine", N, r.repeat, "timed", 1.0, N, "process", "0.5", r.time_text)
            for r in no_vectors.runs]
        for what, runs, kind in (("replayed", replayed, flags.REPLAYED),
                                 ("no vectors", no_vectors, flags.NO_VECTORS)):
            with self.subTest(what):
                made = model.model(runs, fail_above=0.2)
                self.assertEqual((made.status, made.standing["mine"]), (1, "failed"))
                self.assertEqual([why for _, why in made.unsure], [gate.NOT_STATED])
                self.assertIn("did not do the stated work", prose.gate_line(made))
                self.assertEqual([s.program for s in exports.left_out(made)], ["mine"])
                self.assertEqual(exports.unsound(made, made.of("mine")[0]),
                                 "not the stated work")
                self.assertIn(kind, [f.kind for f in made.of("mine")[0].flags])

    def test_impossible_and_wrong_rows_are_not_exported(self):
        impossible = model.model(runs_of(1e-320))
        self.assertEqual(exports.unsound(impossible, impossible.of("mine")[0]), "impossible")
        wrong = runs_of(0.01)
        wrong.runs = [r if r.program == "dotprod" else Run(
            "mine", N, r.repeat, "timed", 1.0, 9 * N, "process", "0.25", r.time_text)
            for r in wrong.runs]
        made = model.model(wrong)
        self.assertEqual(exports.unsound(made, made.of("mine")[0]), "wrong")
        self.assertNotIn('"mine', exports.github_benchmark(made).decode())


class History(unittest.TestCase):
    def test_a_binary_rebuilt_behind_a_script_is_a_change_of_the_code(self):
        # One script (its digest s1) at one commit in every run; from the
        # fourth, the candidate runs twice as slow. Where the binary the
        # script runs was rebuilt there, that is the code's change.
        def runs(rebuilt):
            made = [unit_report.one_run(commit="c0ffee" * 6, argv="./wrap.sh", digest="s1",
                                        slower=2.0 if k >= unit_report.STEP_AT else 1.0)
                    for k in range(6)]
            for k, r in enumerate(made):
                r.ran = {unit_report.HOSTILE: {"/b/bin": "b2" if rebuilt and k >= 3 else "b1",
                                               "/usr/bin/dash": "d0"}}
            return made
        for rebuilt, cause in ((True, history.CODE), (False, history.MACHINE)):
            with self.subTest(rebuilt=rebuilt):
                made = history.history([model.model(r) for r in runs(rebuilt)],
                                       unit_report.names(6))
                change, = next(s for s in made.series if s.program == unit_report.HOSTILE
                               and s.length == 100000).changes
                self.assertEqual(change.cause, cause)
        # A file only one of two runs recorded tells nothing.
        self.assertFalse(differences.files_changed((("w", "s1"),), (("w", "s1"), ("b", "b1"))))
        self.assertTrue(differences.files_changed((("w", "s1"), ("b", "b1")),
                                                  (("w", "s1"), ("b", "b2"))))


class RealProcesses(unittest.TestCase):
    def test_a_shell_that_waits_runs_no_thread(self):
        outer = subprocess.Popen(["/bin/sh", "-c", "/bin/sh -c 'sleep 2; :'; :"])
        try:
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and runner.tree_memory(outer.pid)[1] < 2:
                time.sleep(0.01)
            time.sleep(0.05)
            _, count, running = runner.tree_memory(outer.pid)
            self.assertEqual((count, running), (2, 0))
        finally:
            outer.kill()
            outer.wait()

    def test_processor_time_is_the_whole_run_s(self):
        burn = "import time\nend = time.process_time() + 0.2\nwhile time.process_time() < end: pass"
        watch = runner.Watch()
        with open(os.devnull, "wb") as out:
            status, _ = runner.run([sys.executable, "-c", burn], out, 30, "burn", watch=watch)
        self.assertEqual(status, 0)
        self.assertGreater(watch.cpu, 0.15)

    @unittest.skipUnless(LIBRARY and os.path.isfile(runner.GNU_TIME), "no witness library built")
    def test_the_library_sees_each_thread_and_the_binary_behind_a_script(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        script, binary = os.path.join(folder, "wrap.sh"), os.path.join(folder, "prog")
        with open(script, "w") as f:
            f.write(f'#!/bin/sh\n"{binary}" x\n:\n')
        os.chmod(script, 0o755)
        seen = preloaded.Witness(os.path.abspath(LIBRARY), os.path.join(folder, "witness"))
        def ran(program):
            shutil.copy(program, binary)
            ended = runner.timed_run([script], dict(os.environ), os.path.join(folder, "out"),
                                     30, "wrap", 2**20, witness=seen)
            self.assertIsNone(ended.failure)
            self.assertIsNotNone(ended.thread_cpu)
            return dict(ended.ran)
        first, rebuilt = ran("/bin/echo"), ran("/bin/true")
        self.assertIn(os.path.realpath("/bin/sh"), first)
        self.assertNotEqual(first[binary], rebuilt[binary])
        self.assertNotIn(runner.GNU_TIME, first)
        # The shared objects the binary ran with, but not the witness itself.
        libc = next(p for p in first if os.path.basename(p).startswith("libc.so"))
        self.assertEqual(first[libc], rebuilt[libc])
        self.assertNotIn(os.path.abspath(LIBRARY), first)
        self.assertTrue(seen.objects)
        # A Python with a busy thread and one that sleeps through to the end.
        threaded = ("import threading, time\n"
                    "def spin():\n end = time.thread_time() + 0.2\n"
                    " while time.thread_time() < end: pass\n"
                    "t = threading.Thread(target=spin); t.start(); t.join()\n"
                    "threading.Thread(target=time.sleep, args=(60,), daemon=True).start()\n")
        ended = runner.timed_run([sys.executable, "-c", threaded], dict(os.environ),
                                 os.path.join(folder, "out"), 30, "threads", 2**20, witness=seen)
        self.assertIsNotNone(ended.thread_cpu, "the witness did not hold")
        self.assertGreaterEqual(len(ended.thread_cpu), 3)
        self.assertGreater(ended.thread_cpu[0], 0.15)
        self.assertLess(ended.thread_cpu[-1], 0.01)
        # A static program cannot load it: the process GNU time started
        # never says it ended, and the witness does not hold.
        ended = runner.timed_run([STATIC, "-p"], dict(os.environ), os.path.join(folder, "out"),
                                 30, "static", 2**24, witness=seen)
        self.assertEqual((ended.failure, ended.thread_cpu, ended.ran), (None, None, ()))


if __name__ == "__main__":
    unittest.main()
