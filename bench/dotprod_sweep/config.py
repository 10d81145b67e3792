# SPDX-License-Identifier: MIT
"""The sweep's command line, parsed once into a frozen Config, and what
is checked before any run starts: bad options, programs that are not
there and destinations that cannot be written or would overwrite what
the sweep runs are refused in one line with status 2."""

import argparse
import difflib
import math
import os
import sys
import tempfile
from dataclasses import dataclass

from . import __version__, commands
from .commands import Command, CommandError
from .messages import say
from .runner import GNU_TIME

DEFAULT_LENGTHS = (10**3, 10**4, 10**5, 10**6, 10**7)
DEFAULT_BUDGET = 120


@dataclass(frozen=True)
class Destination:
    shown: str
    path: str


@dataclass(frozen=True)
class Config:
    reference: Command         # dotprod: what results are judged against
    candidates: tuple          # Commands: the versions compared with it
    baseline: str              # the label of the program speedups are over
    exact: Command | None      # dotprod-exact, where needed
    ceiling: Command | None    # dotprod-ceiling, with candidates
    ceiling_threads: tuple     # the thread counts it is run with
    lengths: tuple             # ascending
    repeats: int | None        # fixed, or None: as many as the intervals need
    time_budget: float         # seconds after which no more repeats are added
    warmup: int                # untimed runs of each program per length
    tolerance: float
    timeout: float
    cpus: tuple | None         # every run is pinned to these, or None
    seed: int                  # shuffles the turns in each round
    fail_fast: bool
    plot: Destination | None
    json: Destination | None
    compare: Destination | None  # a saved run to compare this one with
    threshold: float           # %: a smaller change is not called one
    fail_above: float | None   # %: a slowdown beyond it, interval and all, is status 3
    csv: Destination | None
    wide: bool                 # the table with every column
    argv: tuple                # as given, for the record

    @property
    def programs(self):
        """The timed programs, in the order they take turns."""
        return (self.reference, *self.candidates)


class UsageError(Exception):
    """A bad command line: one line, status 2."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(f"{message}{self.nearest(message)}; usage: {self.short_usage()}")

    def options(self):
        return [o for action in self._actions for o in action.option_strings]

    def nearest(self, message):
        """For an option not known, the known one it may have meant."""
        words = message.rpartition(": ")[2].split() if "unrecognized" in message else []
        for word in words:
            found = difflib.get_close_matches(word.split("=")[0], self.options(), 1, 0.75)
            if found:
                return f" (did you mean {found[0]}?)"
        return ""

    def short_usage(self):
        return f"{self.prog} [OPTION]... (--help lists them)"


def plain(text):
    """Text as the user typed it in ASCII: int() and float() would also
    read other scripts' digits and 1_000."""
    if not text.isascii() or "_" in text:
        raise ValueError(text)
    return text


def lengths(text):
    try:
        values = [int(plain(part)) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a list of lengths: {text!r}")
    if not values or any(n < 1 or n > 2**31 - 1 for n in values):
        raise argparse.ArgumentTypeError(f"lengths must lie in 1..2147483647: {text!r}")
    return tuple(sorted(set(values)))


def checked_number(convert, accept, what):
    """An argparse type: text that convert reads and accept allows."""
    def parse(text):
        try:
            value = convert(plain(text))
        except ValueError:
            value = None
        if value is None or not accept(value):
            raise argparse.ArgumentTypeError(f"not {what}: {text!r}")
        return value
    return parse


positive = checked_number(int, lambda v: v >= 1, "a positive whole number")
count = checked_number(int, lambda v: v >= 0, "a whole number of 0 or more")
# NaN fails both comparisons, so it is refused with the rest.
fraction = checked_number(float, lambda v: 0 <= v < math.inf, "a relative error of 0 or more")
percent = checked_number(float, lambda v: 0 <= v < math.inf, "a percentage of 0 or more")
# Past a million seconds a limit means nothing, and the clock calls
# that wait for it would overflow.
seconds = checked_number(float, lambda v: 0 < v <= 1e6, "a number of seconds from 0 to 1000000")


def cpu_list(text):
    """CPU numbers as taskset takes them: 0,2-3. Each must be one the sweep
    may use."""
    try:
        cpus = set()
        for part in plain(text).split(","):
            first, _, last = part.partition("-")
            cpus.update(range(int(first), int(last or first) + 1))
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a list of CPUs such as 0,2-3: {text!r}")
    allowed = os.sched_getaffinity(0)
    if not cpus or not cpus <= allowed:
        raise argparse.ArgumentTypeError(
            f"{text!r} names CPUs the sweep may not use (it may use "
            f"{','.join(map(str, sorted(allowed)))})")
    return tuple(sorted(cpus))


def scan(text):
    name, _, values = text.partition("=")
    if not (commands.PLACEHOLDER.fullmatch("{" + name + "}") and name != "n" and values):
        raise argparse.ArgumentTypeError(f"not NAME=V1,V2,...: {text!r}")
    parts = values.split(",")
    if any(not v or "{" in v or "}" in v for v in parts) or len(set(parts)) < len(parts):
        raise argparse.ArgumentTypeError(f"not a list of distinct values: {text!r}")
    return name, tuple(parts)


class CandidateAction(argparse.Action):
    """--candidate and --name, kept in order: a name labels the candidate
    given just before it."""
    def __call__(self, parser, namespace, value, option):
        given = getattr(namespace, "given", None) or []
        if option == "--name":
            if not given or given[-1][1] is not None:
                raise UsageError("--name must follow a --candidate that has no name yet")
            if not value.strip():
                raise UsageError("--name needs a label")
            given[-1] = (given[-1][0], commands.printable(value))
        else:
            given.append((value, None))
        namespace.given = given


def parser(programs):
    p = Parser(
        prog="dotprod-sweep",
        description="Run dotprod for several lengths, several times each, check that "
        "the results agree, and print a Markdown table of the loop's time and the "
        "process's peak memory. With --candidate, also time other versions of the same "
        "work against it and judge their results against the exact value.")
    p.add_argument("--version", action="version", version=f"dotprod-sweep {__version__}")
    p.add_argument("--binary", default=os.path.join(programs, "dotprod"),
                   help=f"the dotprod to run (default: {programs}/dotprod)")
    p.add_argument("--candidate", action=CandidateAction, dest="given", metavar="COMMAND",
                   help="a version to compare with dotprod: a command line, {n} for the "
                   "length (else it comes last), NAME=VALUE words first for its environment; "
                   "may be repeated")
    p.add_argument("--name", action=CandidateAction, dest="given", metavar="LABEL",
                   help="the label of the --candidate just before it")
    p.add_argument("--scan", type=scan, action="append", default=[], metavar="NAME=V1,V2,...",
                   help="run every candidate whose command holds {NAME} once per value; "
                   "may be repeated")
    p.add_argument("--baseline", metavar="NAME", help="the program speedups are over: a "
                   "candidate's label, or dotprod (the default)")
    p.add_argument("--exact", metavar="PATH",
                   help=f"the program that prints the exact value "
                   f"(default: {programs}/dotprod-exact)")
    p.add_argument("--ceiling", metavar="PATH", help="the program that measures the machine's "
                   f"read rate (default: {programs}/dotprod-ceiling, where it is built)")
    p.add_argument("--lengths", type=lengths, default=DEFAULT_LENGTHS,
                   help="comma-separated lengths (default: 1000,10000,100000,1000000,10000000)")
    p.add_argument("--repeats", type=positive, metavar="R",
                   help=f"runs per length (default: from 6 on, until every speedup's 95 %% "
                   f"interval is within ±10 %% or the budget is spent, at most 250)")
    p.add_argument("--budget", type=seconds, default=DEFAULT_BUDGET, metavar="SECONDS",
                   help=f"add no more repeats after this long (default: {DEFAULT_BUDGET})")
    p.add_argument("--warmup", type=count, metavar="N",
                   help="untimed runs of each program before each length's repeats "
                   "(default: 1 with --candidate, else 0)")
    p.add_argument("--tolerance", type=fraction, default=0.0, metavar="REL",
                   help="widen what float rounding may explain by REL times the exact value "
                   "(default: 0)")
    p.add_argument("--cpus", type=cpu_list, metavar="LIST",
                   help="run every program on these CPUs only, e.g. 0,2-3 (default: all "
                   "the sweep may use)")
    p.add_argument("--seed", type=count, metavar="N",
                   help="the seed that shuffles the programs' turns in each round "
                   "(default: a new one, recorded in the JSON)")
    p.add_argument("--timeout", type=seconds, default=600, metavar="SECONDS",
                   help="kill a run that takes longer (default: 600)")
    p.add_argument("--fail-fast", action="store_true",
                   help="stop at the first run that fails, instead of going on without it")
    p.add_argument("--plot", metavar="FILE.png",
                   help="also draw ns per term, peak memory, read rate and speedups against N "
                   "(needs gnuplot)")
    p.add_argument("--json", metavar="FILE",
                   help="also write the runs, the summaries and the machine as JSON")
    p.add_argument("--compare", metavar="OLD.json",
                   help="then compare this run with one saved by --json")
    comparing_options(p)
    table_options(p)
    return p


def comparing_options(p):
    p.add_argument("--threshold", type=percent, default=5.0, metavar="PCT",
                   help="call a change only where the whole 95 %% interval lies beyond "
                   "±PCT %% (default: 5)")
    p.add_argument("--fail-above", type=percent, metavar="PCT",
                   help="exit 3 where a program is slower by more than PCT %%, its whole "
                   "interval beyond it")


def table_options(p):
    p.add_argument("--wide", action="store_true",
                   help="print every column, not the table that fits 120 columns")
    p.add_argument("--csv", metavar="FILE", help="also write every column as CSV")


def program(path, role):
    """The program at path, never one found on PATH: a name without a
    slash is the file in this folder. It is not normalised: a/../b means
    what it means to the kernel, whatever a is."""
    full = os.path.join(os.getcwd(), path)
    if not commands.executable(full):
        raise UsageError(f"no executable {role} at {path or repr(path)}")
    return Command("", (full,), (), path)


def destination(path):
    """A file that can be written as the sweep will write it, or a refusal.
    Through a symbolic link, the file it points to is written. The write
    makes a new file in the folder and renames it over the name, so that
    is tried; an existing file must also take writing, which is the one
    test that holds for root and on read-only file systems."""
    if not path:
        raise UsageError("an empty file name")
    full = os.path.realpath(os.path.join(os.getcwd(), path))
    if os.path.isdir(full):
        raise UsageError(f"{path} is a folder, not a file")
    # A pipe or a device would block here or take only part of what is
    # written at the end, after every run.
    if os.path.exists(full) and not os.path.isfile(full):
        raise UsageError(f"{path} is not a regular file")
    try:
        if os.path.exists(full):
            os.close(os.open(full, os.O_WRONLY))
        fd, trial = tempfile.mkstemp(dir=os.path.dirname(full), prefix=".sweep.")
        os.close(fd)
        os.unlink(trial)
    except OSError as error:
        raise UsageError(f"cannot write {path}: {error.strerror}") from None
    return Destination(path, full)


def identity(path):
    try:
        st = os.stat(path)
        return st.st_dev, st.st_ino
    except OSError:
        return None


def files_run(cmds):
    """Every existing file a command names: its program, and the script or
    program a launcher is given."""
    return [w for c in cmds for w in c.words if os.path.isfile(w)]


def check_destinations(outputs, cmds):
    """Refuses a destination that is a file the sweep runs, standard
    output's file or the other destination, under any name."""
    taken = {identity(f): f for f in files_run(cmds)}
    try:
        st = os.fstat(1)
        taken[(st.st_dev, st.st_ino)] = "standard output"
    except OSError:
        pass
    for d in outputs:
        same = identity(d.path)
        if same in taken:
            raise UsageError(f"{d.shown} is {taken[same]}: it would be overwritten")
        if same is not None:
            taken[same] = d.shown
    shown = [os.path.realpath(d.path) for d in outputs]
    if len(set(shown)) < len(shown):
        twice = next(d for d, real in zip(outputs, shown) if shown.count(real) > 1)
        raise UsageError(f"two of --plot, --json and --csv name the same file: {twice.shown}")


def optional(path, make):
    return None if path is None else make(path)


def candidates(args):
    try:
        given = getattr(args, "given", None) or []
        cmds = [commands.command(text) for text, _ in given]
        return cmds, [name for _, name in given]
    except CommandError as error:
        raise UsageError(str(error)) from None


def companion(name, reference, programs):
    """The program name beside the dotprod run, else in the default folder,
    else None: a dotprod from another build brings its own."""
    for folder in dict.fromkeys([os.path.dirname(reference.path), programs]):
        path = os.path.join(folder, name)
        if commands.executable(path):
            return Command("", (path,), (), path)
    return None


def exact_program(args, reference, programs, needed):
    """The exact-value program, or None where nothing needs it. Without it
    the sweep still times dotprod, but cannot judge a candidate."""
    if args.exact is not None:
        return program(args.exact, "dotprod-exact")
    found = companion("dotprod-exact", reference, programs)
    if found and (needed or args.json is not None):
        return found
    if needed:
        raise UsageError(f"--candidate needs the exact value, and there is no executable "
                         f"dotprod-exact beside {reference.shown} or in {programs}: build it, "
                         f"or name one with --exact")
    return None


def ceiling_program(args, reference, programs, wanted):
    if args.ceiling is not None:
        return program(args.ceiling, "dotprod-ceiling")
    return companion("dotprod-ceiling", reference, programs) if wanted else None


def usable_cpus():
    return len(os.sched_getaffinity(0))


def config(argv, programs):
    """The Config that argv asks for; UsageError where it asks amiss.
    programs is the folder where dotprod and its companions are found."""
    args = parser(programs).parse_args(argv)
    scans = dict(args.scan)
    if len(scans) < len(args.scan):
        raise UsageError("a name is scanned twice")
    cmds, names = candidates(args)
    reference = program(args.binary, "dotprod")
    try:
        labelled = commands.labelled([reference, *cmds], [None, *names])
        reference, expanded = labelled[0], []
        for cmd in labelled[1:]:
            expanded += commands.expand(cmd, scans)
    except CommandError as error:
        raise UsageError(str(error)) from None
    used = {name for c in cmds for name in commands.placeholders(c)}
    if set(scans) - used:
        raise UsageError(f"no candidate uses {{{sorted(set(scans) - used)[0]}}}")
    labels = [c.label for c in (reference, *expanded)]
    baseline = reference.label if args.baseline in (None, "dotprod") else args.baseline
    if baseline not in labels:
        raise UsageError(f"--baseline {args.baseline}: no program is labelled so "
                         f"(labels: {', '.join(labels)})")
    exact = exact_program(args, reference, programs, bool(expanded))
    ceiling = ceiling_program(args, reference, programs, bool(expanded))
    plot, json = optional(args.plot, destination), optional(args.json, destination)
    csv = optional(args.csv, destination)
    check_destinations([d for d in (plot, json, csv) if d],
                       [c for c in (reference, *expanded, exact, ceiling) if c])
    old = optional(args.compare, saved_run)
    if old and json and identity(old.path) == identity(json.path):
        raise UsageError(f"{json.shown} is the run compared with: it would be overwritten")
    if not os.access(GNU_TIME, os.X_OK):
        raise UsageError(f"{GNU_TIME} is missing (Debian package time); it measures peak memory")
    cpus = len(args.cpus) if args.cpus else usable_cpus()
    return Config(
        reference=reference, candidates=tuple(expanded), baseline=baseline, exact=exact,
        ceiling=ceiling, ceiling_threads=(1,) if cpus == 1 else (1, cpus),
        lengths=args.lengths, repeats=args.repeats, time_budget=args.budget,
        warmup=(1 if expanded else 0) if args.warmup is None else args.warmup,
        tolerance=args.tolerance, timeout=args.timeout, cpus=args.cpus,
        seed=int.from_bytes(os.urandom(4), "little") if args.seed is None else args.seed,
        fail_fast=args.fail_fast,
        plot=plot, json=json, csv=csv, wide=args.wide, compare=old,
        threshold=args.threshold, fail_above=args.fail_above, argv=tuple(argv))


@dataclass(frozen=True)
class ShowRequest:
    run: Destination           # the saved run to read
    plot: Destination | None
    json: Destination | None
    csv: Destination | None
    wide: bool


def show_parser():
    p = Parser(prog="dotprod-sweep show",
               description="Print the table of a run saved with --json, as the run printed "
               "it, and redraw its plot or write its JSON again.")
    p.add_argument("run", metavar="RUN.json", help="a file written by dotprod-sweep --json")
    p.add_argument("--plot", metavar="FILE.png", help="draw the run's plot (needs gnuplot)")
    p.add_argument("--json", metavar="FILE", help="write the run's JSON again")
    table_options(p)
    return p


def saved_run(path):
    """A saved run to read: it must be there to be read."""
    full = os.path.join(os.getcwd(), path)
    if not os.path.isfile(full) or not os.access(full, os.R_OK):
        raise UsageError(f"cannot read {path}: not a readable file")
    return Destination(path, full)


@dataclass(frozen=True)
class CompareRequest:
    old: Destination
    new: Destination
    threshold: float
    fail_above: float | None


def compare_request(argv):
    p = Parser(prog="dotprod-sweep compare",
               description="Compare two runs saved with --json: for each program, scan "
               "values and length both measured, whether the new loop is faster, slower or "
               "no different, with a 95 % interval.")
    p.add_argument("old", metavar="OLD.json")
    p.add_argument("new", metavar="NEW.json")
    comparing_options(p)
    args = p.parse_args(argv)
    return CompareRequest(saved_run(args.old), saved_run(args.new), args.threshold,
                          args.fail_above)


def show_request(argv):
    args = show_parser().parse_args(argv)
    run = saved_run(args.run)
    plot, json = optional(args.plot, destination), optional(args.json, destination)
    csv = optional(args.csv, destination)
    outputs = [d for d in (plot, json, csv) if d]
    check_destinations(outputs, [])
    if any(identity(d.path) == identity(run.path) and identity(run.path) for d in outputs):
        raise UsageError(f"{run.shown} is the run read: it would be overwritten")
    return ShowRequest(run, plot, json, csv, args.wide)


def refused(make, argv, *more):
    """What make(argv) returns, or one line and status 2."""
    try:
        return make(argv, *more)
    except UsageError as error:
        say(error)
        sys.exit(2)


def parse(argv, programs):
    """The Config, or one line and status 2."""
    return refused(config, argv, programs)


def parse_show(argv):
    return refused(show_request, argv)


def parse_compare(argv):
    return refused(compare_request, argv)
