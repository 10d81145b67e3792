# SPDX-License-Identifier: MIT
"""The sweep itself: for every length, the exact value once, the warm-up
runs, then the repeats, each run checked as it ends.

Programs take turns repeat by repeat (dotprod, candidate 1, candidate 2,
dotprod, ...), so that a machine whose speed drifts slows all of them
alike. Each run's standard output goes to a temporary file, never to a
pipe read while the loop runs, so that reading it cannot slow the loop."""

import os
from typing import NamedTuple

import checking
import running
from messages import progress


class Run(NamedTuple):
    program: str      # its label
    length: int
    repeat: int       # from 1, counted apart for warm-ups
    warmup: bool
    result_line: str
    result: float
    seconds: float    # as printed: the loop alone
    wall: float       # the whole process
    peak: int         # resident bytes


class Outcome(NamedTuple):
    programs: list    # labels, dotprod first
    lengths: list
    runs: list        # every run in the order made, warm-ups too
    exact: dict       # length -> exact value, or None

    def measured(self, program, n):
        return [run for run in self.runs
                if run.program == program and run.length == n and not run.warmup]


def measure(program, n, repeat, warmup, out_path, timeout):
    what = f"{program.shown} {n}"
    wall, peak = running.timed_run(program.path, n, out_path, timeout, what)
    run = Run(program.label, n, repeat, warmup, *checking.ending(out_path, what), wall, peak)
    checking.check_time(run.seconds, wall, what)
    return run


def exact_value(exact, n, folder, timeout):
    if exact is None:
        return None
    progress(f"N={n} exact value")
    what = f"{exact.shown} {n}"
    out_path = os.path.join(folder, "exact.out")
    with open(out_path, "wb") as out:
        status, _ = running.run([exact.path, str(n)], out, timeout, what)
    return checking.exact_value(out_path, status, what)


def warm_up(args, programs, n, folder):
    runs = []
    for w in range(1, args.warmup + 1):
        for p in programs:
            progress(f"N={n} warm-up {w}/{args.warmup} {p.label}")
            out_path = os.path.join(folder, "run.out")
            runs.append(measure(p, n, w, True, out_path, args.timeout))
    return runs


def sweep(args, folder):
    programs = [args.binary, *args.candidates]
    runs, exact, results = [], {}, {}
    longest_output = os.path.join(folder, "longest.out")
    for n in args.lengths:
        exact[n] = exact_value(args.exact, n, folder, args.timeout)
        runs += warm_up(args, programs, n, folder)
        for r in range(1, args.repeats + 1):
            for p in programs:
                progress(f"N={n} repeat {r}/{args.repeats} {p.label}")
                keep = p is args.binary and n == args.lengths[-1] and r == 1
                out_path = longest_output if keep else os.path.join(folder, "run.out")
                run = measure(p, n, r, False, out_path, args.timeout)
                if p is args.binary:
                    checking.check_repeat(results.setdefault(n, run.result_line),
                                          run.result_line, n, r)
                runs.append(run)
    progress("")
    checking.check_prefix(results, longest_output)
    return Outcome([p.label for p in programs], args.lengths, runs, exact)
