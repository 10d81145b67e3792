# SPDX-License-Identifier: MIT
"""The runs, in their planned order. First every program once at the
probe lengths, which also warms each of them (its files read, its
libraries loaded) before anything is timed. Then for every length: the
exact value once, any warm-ups asked for, then rounds in which the
programs take turns (dotprod, the baseline, each candidate) with the
ceiling, so that a machine whose speed drifts slows all of them alike;
and more rounds wherever a speedup's interval has not settled, while the
budget lasts.

Each run's standard output goes to a temporary file, never to a pipe
read while the loop runs, so that reading it cannot slow the loop."""

import dataclasses
import os
import statistics
import time

from . import machine, mpi_ranks, plan, preflight, runner, session, witness
from .checks import check_prefix, check_repeat, check_time, output_limit
from ..facts import commands, launchers, printed
from ..facts.runs import NOT_RUN, PROBE, TIMED, WARMUP, Ceiling, Run, Runs
from ..figures import model
from ..messages import SweepError, progress, provisional, say, terminal
from ..views import prose
from ..views.formats import length_text

# Samples a ceiling run takes in each round: few, as the rounds add up to
# many, and a round's cost counts against the budget.
CEILING_SAMPLES = "2"


def setup(config):
    """What produced the numbers: the arguments and each program's command."""
    def record(c):
        return c.record() if c else None
    return {"arguments": list(config.argv),
            "programs": {"reference": record(config.reference), "baseline": config.baseline,
                         "candidates": [record(c) for c in config.candidates],
                         "exact": record(config.exact), "ceiling": record(config.ceiling)}}


class Rounds:
    def __init__(self, config, folder, host):
        self.config = config
        self.folder = folder
        self.started = time.monotonic()
        self.done = 0
        self.ceiling_threads = plan.ceiling_threads(config) if config.ceiling else ()
        self.planned = plan.first_runs(config, len(self.ceiling_threads))
        self.results = {}  # length -> dotprod's printed result
        self.timed = {}    # length -> the timed rounds made there
        self.focus = ""    # what the rounds still narrow, said with the progress
        self.late = {}     # label -> the length where it ran past the time limit
        self.witness = config.witness and witness.Witness(config.witness,
                                                          os.path.join(folder, "witness"))
        self.runs = Runs(
            programs=tuple(c.label for c in config.programs), reference=config.reference.label,
            baseline=config.baseline, lengths=config.lengths,
            probe_lengths=plan.probe_lengths(config), tolerance=config.tolerance,
            params={c.label: c.params for c in config.candidates},
            families={c.label: c.family for c in config.candidates}, machine=host,
            shown={c.label: c.shown for c in config.programs}, setup=setup(config),
            launches={c.label: launchers.launch(c.words, c.env) for c in config.candidates},
            seed=config.seed, budget=None if config.repeats else config.time_budget)

    def tell_progress(self, what):
        elapsed = time.monotonic() - self.started
        left = elapsed / self.done * (self.planned - self.done) if self.done else None
        eta = f", about {left:.0f} s left" if left is not None else ""
        progress(f"run {self.done + 1}/{self.planned}, {elapsed:.0f} s{eta}: {what}{self.focus}")

    def execute(self, cmd, n, what, env_extra=None):
        """One process: how it ended, and its output file."""
        if session.stopping():
            raise session.Stopped(session.stopping(), what)
        self.tell_progress(what)
        path = os.path.join(self.folder, "run.out")
        env = {**os.environ, **cmd.environment(n), **(env_extra or {})}
        launch = self.runs.launches.get(cmd.label)
        seen = mpi_ranks.Ranks(launch) if launch and launch.launcher != launchers.NONE else None
        env.update(seen.environment() if seen else {})
        ended = runner.timed_run(cmd.argv(n), env, path, self.config.timeout, what,
                                 output_limit(n), seen, self.witness)
        self.done += 1
        if cmd.label in self.runs.programs:
            self.runs.ran.setdefault(cmd.label, {}).update(ended.ran)
        return ended, path

    def measure(self, cmd, n, kind, repeat):
        what = f"{cmd.shown} {n}"
        if cmd.label in self.late:
            return self.record(Run(cmd.label, n, repeat, kind, 0.0,
                                   failure=f"{NOT_RUN}: it timed out at N={self.late[cmd.label]}"))
        ended, path = self.execute(cmd, n, what)
        failure, result, seconds = ended.failure, None, None
        if ended.timed_out:
            self.late[cmd.label] = n
        if not failure:
            try:
                result, seconds = printed.read_ending(path)
                failure = check_time(printed.value(seconds), ended.wall)
            except printed.OutputError as error:
                failure = str(error)
        # Cleaned as a saved run's is on loading, so that the live table and
        # a later show of it say the same, and a program's words stay in one cell.
        failure = failure and commands.printable(failure)
        run = self.record(Run(cmd.label, n, repeat, kind, ended.wall, ended.peak, ended.peak_of,
                              result, seconds, failure, ended.rank_peaks, ended.cpu,
                              ended.threads, ended.thread_cpu, ended.cpus_allowed))
        if failure and self.config.fail_fast:
            raise SweepError(f"{what} {failure}")
        if cmd is self.config.reference and not failure:
            check_repeat(self.results.setdefault((n, kind), result), result, n, repeat)
            if kind == TIMED and n == max(self.config.lengths) and repeat == 1:
                os.replace(path, os.path.join(self.folder, "longest.out"))
        return run

    def record(self, run):
        self.runs.runs.append(run)
        return run

    def failed(self, cmd, n):
        """Whether cmd has failed at n: its other runs there are left out."""
        return self.runs.failure_at(cmd.label, n) is not None

    def exact(self, n):
        cmd = self.config.exact
        if cmd is None:
            return
        # Candidates are judged against the float orders too.
        orders = bool(self.config.candidates)
        if orders:
            cmd = dataclasses.replace(cmd, words=(cmd.words[0], "--orders", *cmd.words[1:]))
        what = f"{cmd.shown} {n}"
        ended, path = self.execute(cmd, n, what)
        try:
            if ended.failure:
                raise SweepError(f"{what} {ended.failure}")
            if orders:
                exact, low, high = printed.read_orders(path)
                self.runs.exact[n], self.runs.orders[n] = exact, (low, high)
            else:
                self.runs.exact[n] = printed.read_exact(path)
        except printed.OutputError as error:
            raise SweepError(f"{what} {error}") from None

    def ceiling(self, n, threads, repeat):
        """The ceiling's run at n on threads in round repeat: a few samples,
        as the rounds give it many."""
        cmd = self.config.ceiling
        what = f"{cmd.shown} {n} with {threads} thread{'s' if threads > 1 else ''}"
        ended, path = self.execute(cmd, n, what, {"OMP_NUM_THREADS": str(threads),
                                                  "DOTPROD_CEILING_SAMPLES": CEILING_SAMPLES})
        try:
            if ended.failure:
                raise printed.OutputError(ended.failure)
            _, seconds = printed.read_ending(path)
            if printed.value(seconds) <= 0:
                raise printed.OutputError(f"printed a time of {seconds}")
        except printed.OutputError as error:
            self.runs.ceilings.append(Ceiling(n, threads, 0.0, ended.wall,
                                              commands.printable(str(error)), repeat=repeat))
            return
        first, second = printed.read_passes(path)
        self.runs.ceilings.append(Ceiling(n, threads, printed.value(seconds), ended.wall,
                                          first=first, second=second, repeat=repeat))

    def ceiling_failed(self, n, threads):
        return any(c.failure for c in self.runs.ceilings if c.length == n and c.threads == threads)

    def ceilings_now(self, kind, repeat):
        """The ceiling's thread counts that run in round repeat of kind."""
        if kind != TIMED or not plan.ceiling_in_round(
                repeat, sum(c.wall for c in self.runs.ceilings), time.monotonic() - self.started):
            return ()
        return self.ceiling_threads

    def round(self, n, kind, repeat, only=None):
        """Every program once (those labelled in only, where given), and in a
        timed round the ceiling once per thread count, in a shuffled order."""
        ceilings = self.ceilings_now(kind, repeat)
        programs = [c for c in self.config.programs if only is None or c.label in only]
        if kind == TIMED:
            self.timed[n] = repeat
        for turn in plan.turns((*programs, *ceilings), self.config.seed, n, kind, repeat):
            if turn in ceilings:
                if not self.ceiling_failed(n, turn):
                    self.ceiling(n, turn, repeat)
            elif not self.failed(turn, n):
                self.measure(turn, n, kind, repeat)

    def rounds(self, n):
        """The timed rounds made at n, counted as they start: a program
        that has failed there is left out of them, dotprod too."""
        return self.timed.get(n, 0)

    def done_at(self, n):
        """Whether more rounds at n are of no use: dotprod failed there,
        so nothing at n can be judged or timed against it."""
        return self.failed(self.config.reference, n)

    def length(self, n):
        """The exact value, the warm-ups and the first round at n."""
        self.exact(n)
        for w in range(1, self.config.warmup + 1):
            self.round(n, WARMUP, w)
        self.round(n, TIMED, 1)

    def first_rounds(self):
        """The rounds every length is planned, a round at each length in
        turn: each length's rounds then span the whole of this phase, so
        what the machine does meanwhile reaches every length alike and
        shows in each interval. All of them with --repeats, else as many
        as the budget holds."""
        wanted = self.config.repeats or plan.MIN_ROUNDS
        waiting = list(self.config.lengths)
        while waiting:
            for n in list(waiting):
                if self.rounds(n) >= wanted or self.done_at(n):
                    waiting.remove(n)
                elif self.config.repeats is None and not self.in_budget(n):
                    self.runs.short[n] = self.rounds(n)
                    waiting.remove(n)
                else:
                    self.round(n, TIMED, self.rounds(n) + 1)

    def tell_answers(self):
        """The answer lines so far, on a terminal: a first answer in
        seconds, replaced as the rounds narrow it and by the final one."""
        if self.config.candidates and terminal():
            provisional(prose.answer_lines(model.model(self.runs)).splitlines())

    def in_budget(self, n):
        """Whether one more round at n still ends within the budget."""
        return plan.worth_a_round(time.monotonic() - self.started, self.round_seconds(n),
                                  self.config.time_budget)

    def run_probes(self):
        for n in self.runs.probe_lengths:
            self.exact(n)
            self.round(n, PROBE, 1)

    def spent(self, n):
        """The seconds the timed rounds at n took, the ceiling's runs in them
        included."""
        return sum(r.wall for r in self.runs.runs if r.length == n and r.kind == TIMED) + \
            sum(c.wall for c in self.runs.ceilings if c.length == n)

    def round_seconds(self, n):
        return self.spent(n) / max(1, self.rounds(n))

    def round_cost(self, n, programs):
        """The seconds a round at n of programs should take, the ceiling's
        runs included where it runs: each one's median wall time there."""
        def wall(label):
            return statistics.median([r.wall for r in self.runs.of(label, n)] or [0.0])
        ceiling = [c.wall for c in self.runs.ceilings if c.length == n]
        threads = len(self.ceilings_now(TIMED, self.rounds(n) + 1))
        return sum(wall(p) for p in programs) + \
            threads * (statistics.median(ceiling) if ceiling else 0.0)

    def narrow(self):
        """More rounds where an interval has not settled, each of the rows
        still wide there and the baseline as it needs, at the length where
        a round narrows the most per second (plan.next_round), until every
        one has or the budget is spent."""
        lengths = [n for n in self.config.lengths if not self.done_at(n)]
        known = {}
        while True:
            chosen = plan.next_round(self.runs, lengths, {n: self.rounds(n) for n in lengths},
                                     self.round_cost, time.monotonic() - self.started,
                                     self.config.time_budget, known)
            if chosen is None:
                return
            n, programs = chosen
            rows = {m: [p for p in plan.length_plan(self.runs, m, known)[0]
                        if p != self.runs.baseline] for m in lengths}
            wide = ", ".join(f"{len(rows[m])} at N={length_text(m)}" for m in lengths if rows[m])
            self.focus = f" (rows still wide: {wide}; this round at N={length_text(n)})"
            self.planned += len(programs) + len(self.ceilings_now(TIMED, self.rounds(n) + 1))
            self.round(n, TIMED, self.rounds(n) + 1, programs)

    def decide(self):
        """With --gate-budget: more rounds of the rows the gate cannot tell
        yet, with the baseline, the length with the fewest rounds first,
        until it can tell at each, or a round would end past the budget and
        the gate's seconds together."""
        extra = self.config.gate_budget
        if not extra:
            return
        while True:
            rows = {n: labels for n, labels in
                    plan.undecided(model.model(self.runs, self.config.fail_above)).items()
                    if self.rounds(n) < plan.MAX_GATE_ROUNDS}
            if not rows:
                return
            n = min(rows, key=self.rounds)
            programs = (*rows[n], self.runs.baseline)
            if not plan.worth_a_round(time.monotonic() - self.started,
                                      self.round_cost(n, programs),
                                      self.config.time_budget + extra):
                return
            self.focus = f" (the gate cannot tell yet: {', '.join(rows[n])} at " \
                f"N={length_text(n)})"
            self.planned += len(programs) + len(self.ceilings_now(TIMED, self.rounds(n) + 1))
            self.round(n, TIMED, self.rounds(n) + 1, programs)

    def all(self):
        """Every run, in order. Whatever stops the sweep early is recorded
        with the runs made until then, which are kept."""
        try:
            self.run_probes()
            for n in self.config.lengths:
                self.length(n)
            self.tell_answers()
            self.first_rounds()
            if self.config.repeats is None:
                self.tell_answers()
                self.narrow()
                self.decide()
            provisional([])
            progress("")
            longest = os.path.join(self.folder, "longest.out")
            if os.path.exists(longest):
                check_prefix({n: text for (n, kind), text in self.results.items()
                              if kind == TIMED}, longest)
        except SweepError as error:
            provisional([])
            progress("")
            self.runs.stopped = str(error)
        except Exception as error:  # a fault of the sweep's own: what was measured stays
            provisional([])
            progress("")
            self.runs.stopped = f"unexpected {type(error).__name__}: {error}"
        # The load at the end belongs to the record the runs are stored with.
        self.runs.machine = {**self.runs.machine, "load_end": machine.load()}
        self.runs.ran_objects = bool(self.witness and self.witness.objects)
        self.runs.spent = time.monotonic() - self.started
        return self.runs


def measure_all(config, folder, host):
    """Every run the config asks for, checked as it ends; host: the machine."""
    for line in preflight.warnings(config, host):
        say(line)
    return Rounds(config, folder, host).all()
