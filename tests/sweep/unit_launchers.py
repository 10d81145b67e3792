# SPDX-License-Identifier: MIT
"""What a launcher is asked for, oversubscription, the ranks' memory, and
the table's memory cell under a launcher: in-process, but for the ranks
found among real processes by the mark in their environment."""
import os
import subprocess
import unittest

from dotprod_sweep.facts import launchers
from dotprod_sweep.figures import ceilings, model
from dotprod_sweep.running import mpi_ranks
from dotprod_sweep.views import columns
from dotprod_sweep.facts.launchers import Launch, MPIRUN, NONE, SRUN
from dotprod_sweep.facts.runs import Ceiling, Run, Runs


class Reading(unittest.TestCase):
    def test_ranks_nodes_and_threads_from_the_words(self):
        hosts = {"hosts": "a slots=2\nb slots=2\n# c\na\n\n"}
        cases = [
            ("/usr/bin/srun -N 2 -n 4 --mpi=pmix prog", (), Launch(SRUN, 4, 2)),
            ("srun --nodes=1-2 --ntasks=3 prog -n 9", (), Launch(SRUN, 3, 1)),
            ("srun -n4 prog", (), Launch(SRUN, 4, None)),
            ("srun -N 2 --ntasks-per-node 3 prog", (), Launch(SRUN, 6, 2)),
            ("srun -N 2 prog", (), Launch(SRUN, 2, 2)),
            ("srun -J x -N 2 prog -n 8", (), Launch(SRUN, 2, 2)),
            ("mpirun --mca btl self -np 4 prog -np 1", (), Launch(MPIRUN, 4, 1)),
            ("mpirun --host a,b:2,a -n 3 prog", (), Launch(MPIRUN, 3, 2)),
            ("mpiexec --hostfile hosts -N 2 prog", (), Launch(MPIRUN, 4, 2)),
            ("mpirun --hostfile gone -np 2 prog", (), Launch(MPIRUN, 2, None)),
            ("/opt/prog -n 4", (("OMP_NUM_THREADS", "3"),), Launch(NONE, 1, 1, 3)),
            ("blas", (("OPENBLAS_NUM_THREADS", "2"),), Launch(NONE, 1, 1, 2)),
        ]
        for text, env, wanted in cases:
            with self.subTest(text):
                got = launchers.launch(text.split(), env, read=lambda p: hosts[p] if p in hosts
                                       else (_ for _ in ()).throw(OSError()))
                self.assertEqual(got, wanted)

    def test_oversubscribed_when_the_busiest_node_has_more_threads_than_cpus(self):
        cases = [(Launch(SRUN, 4, 2), 2, False), (Launch(SRUN, 5, 2), 2, True),
                 (Launch(MPIRUN, 2, 1, 2), 2, True), (Launch(NONE, 1, 1, 3), 2, True),
                 (Launch(SRUN, 4, None), 2, False), (Launch(SRUN, 4, 1), None, False)]
        for launch, cpus, wanted in cases:
            with self.subTest(launch=launch, cpus=cpus):
                self.assertEqual(launchers.oversubscribed(launch, cpus), wanted)


class NodeCeilings(unittest.TestCase):
    def test_each_node_adds_its_ceiling(self):
        # The ceiling reads 8e6 bytes in 1 ms, 8 GB/s; a loop of 0.5 ms claims
        # 16 GB/s: beyond one node's 1.5 x 8, within two nodes' 16 x 1.5.
        def summary(launch):
            runs = Runs(("dotprod", "mpi"), "dotprod", "dotprod", (10**6,), ())
            runs.launches["mpi"] = launch
            runs.runs += [Run(p, 10**6, 1, "timed", 1.0, 0, "process", "1.0", t)
                          for p, t in (("dotprod", "0.1"), ("mpi", "0.0005000"))]
            runs.ceilings.append(Ceiling(10**6, 2, 1e-3, 0.1))
            return model.model(runs).of("mpi")[0]
        self.assertTrue(summary(Launch(SRUN, 2, 1)).impossible)
        self.assertTrue(summary(Launch(SRUN, 2, None)).impossible)
        self.assertFalse(summary(Launch(SRUN, 2, 2)).impossible)
        self.assertAlmostEqual(summary(Launch(SRUN, 2, 2)).share, 1.0)

    def test_a_share_is_paired_per_round_on_the_threads_a_program_runs(self):
        # The loop takes 2 us in every round; the 2-thread ceiling's best
        # pass 1.0, 1.2, 0.8, 1.4, 1.1 and 1.1 us: shares 0.5, 0.6, 0.4, 0.7,
        # 0.55 and 0.55, median 0.55, each third's median 0.55 (no drift),
        # and with six rounds min to max. On one thread the ceiling takes
        # 0.5 us: 0.25. Two nodes of two ranks read twice as fast as one.
        def summary(launch):
            runs = Runs(("dotprod", "par"), "dotprod", "dotprod", (1000,), ())
            runs.launches["par"] = launch
            for r, two in enumerate((1.0e-6, 1.2e-6, 0.8e-6, 1.4e-6, 1.1e-6, 1.1e-6), start=1):
                runs.runs += [Run(p, 1000, r, "timed", 1.0, 0, "process", "1.0", t)
                              for p, t in (("dotprod", "0.001000000"), ("par", "0.000002000"))]
                runs.ceilings += [Ceiling(1000, 2, two, 0.1, repeat=r),
                                  Ceiling(1000, 1, 0.5e-6, 0.1, repeat=r)]
            s = model.model(runs).of("par")[0]
            return s.share, s.share_low, s.share_high, s.share_threads
        cases = [(Launch(NONE, 1, 1, 2), (0.55, 0.4, 0.7, 2)),
                 (Launch(NONE, 1, 1, 1), (0.25, 0.25, 0.25, 1)),
                 (Launch(SRUN, 4, 2), (0.275, 0.2, 0.35, 2))]
        for launch, wanted in cases:
            with self.subTest(launch):
                for got, want in zip(summary(launch), wanted):
                    self.assertAlmostEqual(got, want)


class WhichPass(unittest.TestCase):
    def test_a_row_about_as_fast_as_a_pass_is_held_to_it(self):
        # The first pass reads 8000 bytes in 2 us, 4 GB/s; the best in 1 us.
        # A row at 4.2 GB/s is within a tenth of the first pass; at 4.6 not.
        runs = Runs(("dotprod",), "dotprod", "dotprod", (1000,), ())
        runs.ceilings.append(Ceiling(1000, 1, 1e-6, 0.1, first=2e-6, repeat=1))
        for rate, which in ((4.2e9, "first"), (4.6e9, "seconds")):
            with self.subTest(rate=rate):
                self.assertEqual(ceilings.which_pass(runs, 1000, 1, rate, 1), which)


class Memory(unittest.TestCase):
    def test_total_and_largest_rank_or_unknown(self):
        self.assertEqual(launchers.memory([(10, 30), (25, 20)]), (45, 30))
        self.assertEqual(launchers.memory([(10, 30), None]), (40, 30))
        self.assertIsNone(launchers.memory([None, None]))

    def test_table_never_shows_the_launchers_own_size(self):
        mib = 2**20
        def cell(launch, peaks):
            runs = Runs(("dotprod", "mpi"), "dotprod", "dotprod", (100,), (),
                        launches={"mpi": launch}, machine={"cores": 2})
            runs.runs += [Run("dotprod", 100, 1, "timed", 1.0, mib, "process", "0.5", "1.0"),
                          Run("mpi", 100, 1, "timed", 1.0, 10 * mib, "tree", "0.5", "0.5",
                              rank_peaks=peaks)]
            return columns.memory(model.model(runs).of("mpi")[0])
        self.assertEqual(cell(Launch(SRUN, 2, 2), (40 * mib, 41 * mib)),
                         "81.0 total, 41.0 largest rank")
        self.assertEqual(cell(Launch(SRUN, 2, 2), None), "unknown (outside the sweep)")
        self.assertEqual(cell(Launch(NONE, 1, 1), None), "10.0 (tree)")

    def test_a_step_whose_rank_dies_is_ended_at_once(self):
        os.environ.pop("SLURM_KILL_BAD_EXIT", None)
        self.assertEqual(mpi_ranks.Ranks(Launch(SRUN, 2, 2)).environment()["SLURM_KILL_BAD_EXIT"], "1")
        self.assertNotIn("SLURM_KILL_BAD_EXIT", mpi_ranks.Ranks(Launch(MPIRUN, 2, 1)).environment())

    def test_ranks_are_the_marked_processes_with_a_rank_of_their_own(self):
        # As inside a batch job, whose SLURM_PROCID the launcher inherits.
        saved = {v: os.environ.pop(v, None) for v in mpi_ranks.IDENTITY}
        os.environ["SLURM_PROCID"] = "0"
        children = []
        try:
            seen = mpi_ranks.Ranks(Launch(SRUN, 2, 2))
            mark = seen.environment()[mpi_ranks.MARK]
            base = dict(os.environ)
            envs = [{mpi_ranks.MARK: mark, "SLURM_STEP_ID": "3"},   # rank 0 of step 3
                    {mpi_ranks.MARK: mark, "PMIX_RANK": "1"},
                    {mpi_ranks.MARK: mark},                          # the launcher
                    {mpi_ranks.MARK: mark + "x", "PMIX_RANK": "2"}]  # another run's rank
            children = [subprocess.Popen(["sleep", "30"], env={**base, **e}) for e in envs]
            for _ in range(50):
                seen.sample()
                if len(seen.peaks) >= 2:
                    break
            self.assertEqual(sorted(seen.pids), sorted(c.pid for c in children[:2]))
            got = seen.result()
            self.assertEqual(len(got), 2)
            self.assertTrue(all(p > 0 for p in got))
            seen.launch = Launch(SRUN, 3, 2)
            self.assertIsNone(seen.result())
        finally:
            for c in children:
                c.kill()
                c.wait()
            for v, value in saved.items():
                os.environ.pop(v, None)
                if value is not None:
                    os.environ[v] = value


if __name__ == "__main__":
    unittest.main()
