"""The sweep itself: every length, every repeat, each run checked as it
ends. Each run's standard output goes to a temporary file, never to a
pipe read while the loop runs, so that reading it cannot slow the loop."""

import os
from typing import NamedTuple

import checking
import running
from messages import progress


class Run(NamedTuple):
    result_line: str
    result: float
    seconds: float  # as printed: the loop alone
    wall: float     # the whole process
    peak: int       # resident bytes


def measure(program, n, out_path, timeout):
    what = f"{program.shown} {n}"
    wall, peak = running.timed_run(program.path, n, out_path, timeout, what)
    return Run(*checking.ending(out_path, what), wall, peak)


def sweep(args, folder):
    """Every length's runs, in the order of args.lengths."""
    series, results = {}, {}
    longest = max(args.lengths)
    longest_output = os.path.join(folder, "longest.out")
    for n in args.lengths:
        series[n] = []
        for r in range(args.repeats):
            progress(f"N={n} repeat {r + 1}/{args.repeats}")
            keep = n == longest and r == 0
            out_path = longest_output if keep else os.path.join(folder, "run.out")
            run = measure(args.binary, n, out_path, args.timeout)
            checking.check_repeat(results.setdefault(n, run.result_line),
                                  run.result_line, n, r + 1)
            series[n].append(run)
    progress("")
    checking.check_prefix(results, longest_output)
    return series
