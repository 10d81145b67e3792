# SPDX-License-Identifier: MIT
"""The runs, in their planned order. For every length: the exact value
once, the ceiling calibration once per thread count, the warm-ups, then
rounds in which the programs take turns (dotprod, the baseline, each
candidate), so that a machine whose speed drifts slows all of them
alike. Then every program once at the short probe lengths, and more
rounds wherever a speedup's interval is still wide, while the budget
lasts.

Each run's standard output goes to a temporary file, never to a pipe
read while the loop runs, so that reading it cannot slow the loop."""

import os
import time

from . import launchers, model, output, runner
from .messages import SweepError, progress, say
from .runs import PROBE, TIMED, WARMUP, Ceiling, Run, Runs

MIN_ROUNDS = 6   # the fewest repeats whose order statistics give a 95 % interval
MAX_ROUNDS = 60  # where more repeats no longer narrow a noisy interval much
PROBES = (1, 5, 29, 165, 1022, 2077)


def check_time(seconds, wall, what):
    """A loop cannot take longer than the whole process that ran it; the
    millisecond allows for the two clocks' rounding."""
    if seconds > wall + 1e-3:
        return (f"{what} printed a loop time of {seconds:g} s, longer than "
                f"its whole run took ({wall:.3f} s)")
    return None


def check_repeat(first, result_text, n, repeat):
    """dotprod prints the same result every time it runs a length."""
    if result_text != first:
        raise SweepError(f"length {n} printed 'Resultado: {first}', then "
                         f"'Resultado: {result_text}' on repeat {repeat}")


def check_prefix(results, longest_output):
    """A shorter run's result must equal the longest run's sum after as many
    terms: the longest run's line N+1 (its line 0 echoes the argument)."""
    sums = output.sum_lines(longest_output, set(results))
    for n, result in sorted(results.items()):
        expected = output.RESULT + sums.get(n, "sum=?")[4:]
        if output.RESULT + result != expected:
            raise SweepError(f"length {n} printed '{output.RESULT}{result}' where the "
                             f"longest run gives '{expected}' after {n} terms")


class Sweep:
    def __init__(self, config, folder, box):
        self.config = config
        self.folder = folder
        self.started = time.monotonic()
        self.done = 0
        self.planned = self.first_plan()
        self.results = {}  # length -> dotprod's printed result
        self.runs = Runs(
            programs=tuple(c.label for c in config.programs), reference=config.reference.label,
            baseline=config.baseline, lengths=config.lengths,
            probes=PROBES if config.candidates else (), tolerance=config.tolerance,
            params={c.label: c.params for c in config.candidates},
            families={c.label: c.family for c in config.candidates}, machine=box,
            launches={c.label: launchers.launch(c.words, c.env) for c in config.candidates})

    def first_plan(self):
        c = self.config
        per_length = 1 + len(c.ceiling_threads) + (c.warmup + (c.repeats or MIN_ROUNDS)) * len(
            c.programs)
        probes = len(PROBES) * (1 + len(c.programs)) if c.candidates else 0
        return per_length * len(c.lengths) + probes

    def show(self, what):
        elapsed = time.monotonic() - self.started
        left = elapsed / self.done * (self.planned - self.done) if self.done else None
        eta = f", about {left:.0f} s left" if left is not None else ""
        progress(f"run {self.done + 1}/{self.planned}, {elapsed:.0f} s{eta}: {what}")

    def execute(self, cmd, n, what, env_extra=None):
        """One process: how it ended, and its output file."""
        self.show(what)
        path = os.path.join(self.folder, "run.out")
        env = {**os.environ, **cmd.environment(n), **(env_extra or {})}
        launch = self.runs.launches.get(cmd.label)
        ranks = launchers.Ranks(launch) if launch and launch.launcher != launchers.NONE else None
        env.update(ranks.environment() if ranks else {})
        try:
            ended = runner.timed_run(cmd.argv(n), env, path, self.config.timeout, what, ranks)
        except SweepError as error:  # a run past its time limit, or one that cannot start
            ended = runner.Ended(str(error), self.config.timeout, 0, "process")
        self.done += 1
        return ended, path

    def measure(self, cmd, n, kind, repeat):
        what = f"{cmd.shown} {n}"
        ended, path = self.execute(cmd, n, what)
        failure, result, seconds = ended.failure, None, None
        if not failure:
            try:
                result, seconds = output.read_ending(path)
                failure = check_time(output.value(seconds), ended.wall, what)
            except output.OutputError as error:
                failure = f"{what} {error}"
        if failure and self.config.fail_fast:
            raise SweepError(failure)
        if failure:
            say(failure)
        run = Run(cmd.label, n, repeat, kind, ended.wall, ended.peak, ended.peak_of,
                  result, seconds, failure, ended.rank_peaks)
        self.runs.runs.append(run)
        if cmd is self.config.reference and not failure:
            check_repeat(self.results.setdefault((n, kind), result), result, n, repeat)
            if kind == TIMED and n == max(self.config.lengths) and repeat == 1:
                os.replace(path, os.path.join(self.folder, "longest.out"))
        return run

    def failed(self, cmd, n):
        """Whether cmd has failed at n: its other runs there are left out."""
        return any(r.failure for r in self.runs.runs if r.program == cmd.label and r.length == n)

    def exact(self, n):
        cmd = self.config.exact
        if cmd is None:
            return
        what = f"{cmd.shown} {n}"
        ended, path = self.execute(cmd, n, what)
        try:
            if ended.failure:
                raise SweepError(ended.failure)
            self.runs.exact[n] = output.read_exact(path)
        except output.OutputError as error:
            raise SweepError(f"{what} {error}") from None

    def ceiling(self, n):
        cmd = self.config.ceiling
        for threads in self.config.ceiling_threads:
            what = f"{cmd.shown} {n} with {threads} thread{'s' if threads > 1 else ''}"
            ended, path = self.execute(cmd, n, what, {"OMP_NUM_THREADS": str(threads)})
            try:
                if ended.failure:
                    raise output.OutputError(ended.failure)
                _, seconds = output.read_ending(path)
            except output.OutputError as error:
                say(f"no ceiling at N={n}: {error}")
                continue
            self.runs.ceilings.append(Ceiling(n, threads, output.value(seconds), ended.wall))

    def round(self, n, kind, repeat):
        for cmd in self.config.programs:
            if not self.failed(cmd, n):
                self.measure(cmd, n, kind, repeat)

    def rounds(self, n):
        return len(self.runs.of(self.config.reference.label, n))

    def length(self, n):
        self.exact(n)
        if self.config.ceiling:
            self.ceiling(n)
        for w in range(1, self.config.warmup + 1):
            self.round(n, WARMUP, w)
        for r in range(1, (self.config.repeats or MIN_ROUNDS) + 1):
            self.round(n, TIMED, r)

    def probes(self):
        for n in self.runs.probes:
            self.exact(n)
            self.round(n, PROBE, 1)

    def round_seconds(self, n):
        return sum(r.wall for r in self.runs.runs if r.length == n and r.kind == TIMED) / max(
            1, self.rounds(n))

    def narrow(self):
        """More rounds where an interval is wide, cheapest length first,
        until none is or the budget is spent."""
        while True:
            figures = model.model(self.runs)
            wide = [n for n in self.config.lengths if self.rounds(n) < MAX_ROUNDS
                    and any(s.wide and not s.coarse for s in figures.at(n) if not s.baseline)]
            elapsed = time.monotonic() - self.started
            wide = [n for n in wide if elapsed + self.round_seconds(n) <= self.config.budget]
            if not wide:
                return
            n = min(wide, key=self.round_seconds)
            self.planned += len(self.config.programs)
            self.round(n, TIMED, self.rounds(n) + 1)

    def all(self):
        for n in self.config.lengths:
            self.length(n)
        self.probes()
        if self.config.repeats is None:
            self.narrow()
        progress("")
        longest = os.path.join(self.folder, "longest.out")
        if os.path.exists(longest):
            check_prefix({n: text for (n, kind), text in self.results.items()
                          if kind == TIMED}, longest)
        return self.runs


def sweep(config, folder, box):
    """Every run the config asks for, checked as it ends; box: the machine."""
    return Sweep(config, folder, box).all()
