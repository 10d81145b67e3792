# SPDX-License-Identifier: MIT
"""The sweep's command line, parsed once into a frozen Config, and what
is checked before any run starts: bad options, programs that are not
there and destinations that cannot be written are refused in one line
with status 2."""

import argparse
import math
import os
import sys
from dataclasses import dataclass

from .messages import say
from .runner import GNU_TIME

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(HERE, "..", "..", "build", "release")
DEFAULT_LENGTHS = (10**3, 10**4, 10**5, 10**6, 10**7)


@dataclass(frozen=True)
class Program:
    shown: str       # as the user named it, for messages
    path: str        # absolute: what is checked and run
    label: str = ""  # its name in the table, the plot and the JSON


@dataclass(frozen=True)
class Destination:
    shown: str
    path: str


@dataclass(frozen=True)
class Config:
    reference: Program         # dotprod: what results are judged against
    candidates: tuple          # Programs: the versions compared with it
    exact: Program | None      # dotprod-exact, where needed
    lengths: tuple             # ascending
    repeats: int
    warmup: int                # untimed runs of each program per length
    tolerance: float
    timeout: float
    plot: Destination | None
    json: Destination | None

    @property
    def programs(self):
        """The timed programs, in the order they take turns."""
        return (self.reference, *self.candidates)


class UsageError(Exception):
    """A bad command line: one line, status 2."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(message)


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
# Past a million seconds the limit means nothing, and the clock calls
# that wait for it would overflow.
seconds = checked_number(float, lambda v: 0 < v <= 1e6, "a number of seconds from 0 to 1000000")


def parser():
    p = Parser(
        prog="sweep",
        description="Run dotprod for several lengths, several times each, check that "
        "the results agree, and print a Markdown table of the loop's time and the "
        "process's peak memory. With --candidate, also time other versions of the same "
        "work against it and judge their results against the exact value.",
    )
    p.add_argument("--binary", default=os.path.join(BUILD, "dotprod"),
                   help="the dotprod to run (default: build/release/dotprod)")
    p.add_argument("--candidate", action="append", default=[], metavar="PATH",
                   help="a version to compare with dotprod; may be repeated")
    p.add_argument("--exact", metavar="PATH",
                   help="the program that prints the exact value "
                   "(default: build/release/dotprod-exact)")
    p.add_argument("--lengths", type=lengths, default=DEFAULT_LENGTHS,
                   help="comma-separated lengths (default: 1000,10000,100000,1000000,10000000)")
    p.add_argument("--repeats", type=positive, default=5,
                   help="runs per length (default: 5)")
    p.add_argument("--warmup", type=count, metavar="N",
                   help="untimed runs of each program before each length's repeats "
                   "(default: 1 with --candidate, else 0)")
    p.add_argument("--tolerance", type=fraction, default=0.0, metavar="REL",
                   help="widen the accepted error by REL times the exact value (default: 0)")
    p.add_argument("--timeout", type=seconds, default=600, metavar="SECONDS",
                   help="kill a run that takes longer, and stop (default: 600)")
    p.add_argument("--plot", metavar="FILE.png",
                   help="also draw ns per term, peak memory and speedup against N "
                   "(needs gnuplot)")
    p.add_argument("--json", metavar="FILE",
                   help="also write every run, the exact values and the machine as JSON")
    return p


def program(path, role):
    """The program named by path, as an absolute path to a regular
    executable file. It is not normalised: a/../b means what it means to
    the kernel, whatever a is."""
    full = os.path.join(os.getcwd(), path)
    if not (os.path.isfile(full) and os.access(full, os.X_OK)):
        raise UsageError(f"no executable {role} at {path}")
    return Program(path, full)


def destination(path):
    """A file that can be written, or a refusal. Tried by opening it, which
    is the one test that holds for root and on read-only file systems; a
    file that did not exist is removed again."""
    if not path:
        raise UsageError("an empty file name")
    full = os.path.join(os.getcwd(), path)
    if os.path.isdir(full):
        raise UsageError(f"{path} is a folder, not a file")
    existed = os.path.exists(full)
    # A pipe or a device would block here or take only part of what is
    # written at the end, after every run.
    if existed and not os.path.isfile(full):
        raise UsageError(f"{path} is not a regular file")
    try:
        os.close(os.open(full, os.O_WRONLY | (0 if existed else os.O_CREAT | os.O_EXCL)))
    except OSError as error:
        raise UsageError(f"cannot write {path}: {error.strerror}") from None
    if not existed:
        os.unlink(full)
    return Destination(path, full)


def printable(name):
    """A name fit for a table cell or a plot's key: one line, no cell
    separator."""
    return "".join(c if c.isprintable() else "?" for c in name).replace("|", "/")


def labelled(programs):
    """Each program's file name, or its path where two share a name."""
    names = [printable(os.path.basename(p.path)) for p in programs]
    labels = [printable(p.shown) if names.count(n) > 1 else n for p, n in zip(programs, names)]
    for p, label in zip(programs, labels):
        if labels.count(label) > 1:
            raise UsageError(f"{p.shown} is named twice")
    return [Program(p.shown, p.path, label) for p, label in zip(programs, labels)]


def exact_program(args):
    """The exact-value program, or None where nothing needs it. Without it
    the sweep still times dotprod, but cannot judge a candidate."""
    if args.exact is not None:
        return program(args.exact, "dotprod-exact")
    if not (args.candidate or args.json is not None):
        return None
    default = os.path.join(BUILD, "dotprod-exact")
    if os.path.isfile(default) and os.access(default, os.X_OK):
        return Program(default, default)
    if args.candidate:
        raise UsageError(f"--candidate needs the exact value, and there is no executable "
                         f"dotprod-exact at {default}: build it, or name one with --exact")
    return None


def optional_destination(path):
    return None if path is None else destination(path)


def config(argv):
    """The Config that argv asks for; UsageError where it asks amiss."""
    args = parser().parse_args(argv)
    reference, *candidates = labelled(
        [program(args.binary, "dotprod")] + [program(c, "candidate") for c in args.candidate])
    exact = exact_program(args)
    plot, json = optional_destination(args.plot), optional_destination(args.json)
    if plot and json and os.path.realpath(plot.path) == os.path.realpath(json.path):
        raise UsageError(f"--plot and --json name the same file: {plot.shown}")
    if not os.access(GNU_TIME, os.X_OK):
        raise UsageError(f"{GNU_TIME} is missing (Debian package time); it measures peak memory")
    return Config(
        reference=reference, candidates=tuple(candidates), exact=exact,
        lengths=args.lengths, repeats=args.repeats,
        warmup=(1 if candidates else 0) if args.warmup is None else args.warmup,
        tolerance=args.tolerance, timeout=args.timeout, plot=plot, json=json)


def parse(argv):
    """The Config, or one line and status 2."""
    try:
        return config(argv)
    except UsageError as error:
        say(error)
        sys.exit(2)
