# SPDX-License-Identifier: MIT
"""The runs, in their planned order: for every length, the exact value
once, the warm-up runs, then the repeats, each run checked as it ends.

Programs take turns repeat by repeat (dotprod, candidate 1, candidate 2,
dotprod, ...), so that a machine whose speed drifts slows all of them
alike. Each run's standard output goes to a temporary file, never to a
pipe read while the loop runs, so that reading it cannot slow the loop."""

import os
from dataclasses import dataclass

from . import output, runner
from .messages import SweepError, progress


@dataclass(frozen=True)
class Run:
    """What one process did: raw facts only."""
    program: str      # its label
    length: int
    repeat: int       # from 1, counted apart for warm-ups
    warmup: bool
    result_line: str
    result: float
    seconds: float    # as printed: the loop alone
    wall: float       # the whole process
    peak: int         # resident bytes


@dataclass(frozen=True)
class Runs:
    """A sweep's raw facts: every run, and each length's exact value."""
    programs: tuple   # labels, in the order they took turns
    reference: str    # the label of dotprod
    lengths: tuple
    runs: tuple       # in the order made, warm-ups too
    exact: dict       # length -> exact value, or None


def check_time(seconds, wall, what):
    """A loop cannot take longer than the whole process that ran it; the
    millisecond allows for the two clocks' rounding."""
    if seconds > wall + 1e-3:
        raise SweepError(f"{what} printed a loop time of {seconds:g} s, longer than "
                         f"its whole run took ({wall:.3f} s)")


def check_repeat(first, result_line, n, repeat):
    """dotprod prints the same result every time it runs a length."""
    if result_line != first:
        raise SweepError(f"length {n} printed '{first}', then '{result_line}' "
                         f"on repeat {repeat}")


def check_prefix(results, longest_output):
    """A shorter run's result must equal the longest run's sum after as many
    terms: the longest run's line N+1 (its line 0 echoes the argument)."""
    sums = output.sum_lines(longest_output, set(results))
    for n, result in results.items():
        expected = output.RESULT + sums.get(n, "sum=?")[4:]
        if result != expected:
            raise SweepError(f"length {n} printed '{result}' where the longest run "
                             f"gives '{expected}' after {n} terms")


def measure(program, n, repeat, out_path, timeout, warmup=False):
    what = f"{program.shown} {n}"
    wall, peak = runner.timed_run(program.path, n, out_path, timeout, what)
    result_line, result, seconds = output.read_ending(out_path, what)
    check_time(seconds, wall, what)
    return Run(program.label, n, repeat, warmup, result_line, result, seconds, wall, peak)


def exact_value(exact, n, folder, timeout):
    if exact is None:
        return None
    progress(f"N={n} exact value")
    what = f"{exact.shown} {n}"
    out_path = os.path.join(folder, "exact.out")
    with open(out_path, "wb") as out:
        status, _ = runner.run([exact.path, str(n)], out, timeout, what)
    return output.read_exact(out_path, status, what)


def warm_up(config, n, folder):
    runs = []
    for w in range(1, config.warmup + 1):
        for p in config.programs:
            progress(f"N={n} warm-up {w}/{config.warmup} {p.label}")
            out_path = os.path.join(folder, "run.out")
            runs.append(measure(p, n, w, out_path, config.timeout, warmup=True))
    return runs


def sweep(config, folder):
    """Every run the config asks for, checked as it ends."""
    runs, exact, results = [], {}, {}
    longest = max(config.lengths)
    longest_output = os.path.join(folder, "longest.out")
    for n in config.lengths:
        exact[n] = exact_value(config.exact, n, folder, config.timeout)
        runs += warm_up(config, n, folder)
        for r in range(1, config.repeats + 1):
            for p in config.programs:
                progress(f"N={n} repeat {r}/{config.repeats} {p.label}")
                is_reference = p is config.reference
                keep = is_reference and n == longest and r == 1
                out_path = longest_output if keep else os.path.join(folder, "run.out")
                run = measure(p, n, r, out_path, config.timeout)
                if is_reference:
                    check_repeat(results.setdefault(n, run.result_line), run.result_line, n, r)
                runs.append(run)
    progress("")
    check_prefix(results, longest_output)
    return Runs(tuple(p.label for p in config.programs), config.reference.label,
                config.lengths, tuple(runs), exact)
