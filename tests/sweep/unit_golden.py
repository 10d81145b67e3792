# SPDX-License-Identifier: MIT
"""What users read, pinned: the compact table, the wide table, the CSV
and the JSON summary of one hand-built model in which every column of a
row holds a value of its own, so that two columns swapped, dropped or
formatted alike fail. The expected text was read cell by cell against
the figures below."""
import json
import unittest

from dotprod_sweep.facts import launchers
from dotprod_sweep.figures import flags, model
from dotprod_sweep.views import columns, table
from dotprod_sweep.figures.ceilings import CeilingRow
from dotprod_sweep.figures.summaries import Summary

N = 1000


def row(**figures):
    common = dict(role="candidate", baseline=False, length=N, params=(), repeats=7,
                  failure=None, peak_of="process", ratios=(), coverage=None, clusters=False,
                  coarse=False, impossible=False, exact=0.0338752, ceiling=1.6e7)
    return Summary(**{**common, **figures})


def made():
    reference = row(program="dotprod", role="reference", baseline=True, median=0.15,
                    low=0.125, high=0.175, wall=0.2, peak=3 * 2**20, speedup=1.0,
                    speedup_low=1.0, speedup_high=1.0, coverage=0.5, verdict="same as dotprod",
                    result="0.033875", relative_error=7.6e-6, own_noise=0.0425)
    erratic = flags.Flag("erratic", flags.ERRATIC_RUNS, "mine t=2", "dotprod", noise=0.21,
                         floor=0.03, peer="dotprod-quiet", threads=2)
    candidate = row(program="mine t=2", params=(("t", "2"),), median=1.25e-3, low=1.125e-3,
                    high=1.5e-3, wall=0.0375, peak=5 * 2**20, peak_of="tree",
                    ratios=(110.0, 120.0, 130.0), speedup=120.0, speedup_low=115.0,
                    speedup_high=125.0, coverage=0.984, verdict="within float rounding",
                    result="0.033876", relative_error=1.5e-5, own_noise=0.21, share=0.45,
                    share_low=0.41, share_high=0.48, share_threads=2, share_pass=1,
                    flags=(erratic,),
                    launch=launchers.Launch(launchers.NONE, 1, 1, 2), oversubscribed=False,
                    cpus=1.9)
    return model.Model(
        runs=None, summaries=(reference, candidate), programs=("dotprod", "mine t=2"),
        reference="dotprod", baseline="dotprod", candidates=("mine t=2",), lengths=(N,),
        probe_lengths=(), exact={N: 0.0338752}, noise_floors={N: 0.0425},
        ceilings={N: (CeilingRow(2, 2.5e-6, 3.2, "L1", 1.6, 2.4),)}, calibration_seconds=0.5,
        ceiling_seconds=0.0, budget=None, spent=None, short={},
        probe_verdicts={}, standing={"mine t=2": "ok"}, wrong=(), failures=(), unchecked=None,
        stopped=None, scaling=(), answers=(), machine={"cores": 2}, status=0)


COMPACT = (
    '|    N | program  | loop µs |        speedup |     GB/s (ceiling) | verdict        | note     |\n'
    '|-----:|----------|--------:|---------------:|-------------------:|----------------|----------|\n'
    '| 1000 | dotprod  |  150000 |             1× |          0.0000533 | reference      | baseline |\n'
    '| 1000 | mine t=2 |    1250 | 120× (115–125) | 0.00640 (45 % 2T†) | float rounding | erratic  |')

WIDE = (
    '|    N | program            | loop median (s) | process wall (s) | speedup over dotprod | 95 % interval |      GB/s |       of ceiling | peak memory (MiB) |    result | relative error | verdict               | notes                                                        |\n'
    '|-----:|--------------------|----------------:|-----------------:|---------------------:|--------------:|----------:|-----------------:|------------------:|----------:|---------------:|-----------------------|--------------------------------------------------------------|\n'
    '| 1000 | exact value        |                 |                  |                      |               |           |                  |                   | 0.0338752 |                |                       |                                                              |\n'
    '| 1000 | ceiling, 2 threads |      0.00000250 |                  |                      |               |      3.20 |                  |                   |           |                |                       | 8·N bytes fit in L1; first pass 1.60, second 2.40 GB/s       |\n'
    '| 1000 | dotprod            |           0.150 |            0.200 |                 1.00 |     1.00–1.00 | 0.0000533 |              n/a |              3.00 |  0.033875 |       7.60e-06 | reference             | baseline                                                     |\n'
    '| 1000 | mine t=2           |         0.00125 |           0.0375 |                  120 |       115–125 |   0.00640 | 45 % (41–48) 2T† |       5.00 (tree) |  0.033876 |       1.50e-05 | within float rounding | erratic; float rounding cannot confirm this result at this N |')

CSV = (
    'length,program,role,params,repeats,time,time_min,time_max,wall,speedup,speedup_low,speedup_high,interval_coverage,gbs,ceiling_gbs,share,share_low,share_high,share_threads,share_first,share_second,peak_bytes,peak_of,result,relative_error,verdict,flags,failure,exact,noise_floor\n'
    '1000,dotprod,reference,,7,0.15,0.125,0.175,0.2,1.0,1.0,1.0,0.5,5.333333333333333e-05,0.016,,,,,False,False,3145728,process,0.033875,7.6e-06,same as dotprod,,,0.0338752,0.0425\n'
    '1000,mine t=2,candidate,t=2,7,0.00125,0.001125,0.0015,0.0375,120.0,115.0,125.0,0.984,0.0064,0.016,0.45,0.41,0.48,2,True,False,5242880,tree,0.033876,1.5e-05,within float rounding,erratic,,0.0338752,0.0425\n'
    '')

# The candidate's JSON summary: every field, by name.
JSON = {
    "length": 1000, "program": "mine t=2", "role": "candidate", "baseline": False,
    "params": {"t": "2"}, "repeats": 7, "time": 0.00125, "time_min": 0.001125,
    "time_max": 0.0015, "wall": 0.0375, "speedup": 120.0, "speedup_low": 115.0,
    "speedup_high": 125.0, "interval_coverage": 0.984, "noisy": True, "two_clusters": False,
    "coarse": False, "gbs": 0.0064, "ceiling_gbs": 0.016, "impossible": False, "share": 0.45,
    "share_low": 0.41, "share_high": 0.48, "share_threads": 2, "share_first": True, "share_second": False, "peak_bytes": 5242880,
    "peak_of": "tree", "result": "0.033876", "relative_error": 1.5e-05,
    "verdict": "within float rounding",
    "launch": {"launcher": "none", "ranks": 1, "nodes": 1, "threads_per_rank": 2,
               "ranks_per_node": 1, "node_cpus": 2, "oversubscribed": False},
    "rank_memory": None, "own_noise": 0.21, "cpus": 1.9, "failure": None,
    "flags": [{"flag": "erratic", "advice": (
        "mine t=2's runs differ by ±21 %, over 3 times the ±3 % of dotprod-quiet, whose loop "
        "takes about as long: its median is known, a single run's time is not: pin its "
        "threads (OMP_PROC_BIND=true, taskset -c), or run it on cores that no other work "
        "shares")}],
}


class Golden(unittest.TestCase):
    def test_compact_table(self):
        self.assertEqual(table.narrow_table(made()), COMPACT)

    def test_wide_table(self):
        self.assertEqual(table.wide_table(made()), WIDE)

    def test_csv(self):
        self.assertEqual(columns.csv_text(made()).decode(), CSV)

    def test_json_summary(self):
        got = columns.json_row(made().summaries[1], made())
        self.assertEqual(json.loads(json.dumps(got)), JSON)


if __name__ == "__main__":
    unittest.main()
