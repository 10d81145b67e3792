# SPDX-License-Identifier: MIT
"""The sweep's command line, and what is checked before any run starts:
bad options, programs that are not there and destinations that cannot be
written are refused in one line with status 2."""

import argparse
import math
import os
import sys
from typing import NamedTuple

from messages import say
from running import GNU_TIME

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(HERE, "..", "build", "release")
DEFAULT_LENGTHS = [10**3, 10**4, 10**5, 10**6, 10**7]


class File(NamedTuple):
    shown: str       # as the user named it, for messages
    path: str        # absolute: what is checked, run or written
    label: str = ""  # a program's name in the table, the plot and the JSON


def refuse(message):
    say(message)
    sys.exit(2)


class Parser(argparse.ArgumentParser):
    def error(self, message):
        refuse(message)


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
    return sorted(set(values))


def number(convert, accept, what):
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


positive = number(int, lambda v: v >= 1, "a positive whole number")
count = number(int, lambda v: v >= 0, "a whole number of 0 or more")
# NaN fails both comparisons, so it is refused with the rest.
fraction = number(float, lambda v: 0 <= v < math.inf, "a relative error of 0 or more")
# Past a million seconds the limit means nothing, and the clock calls
# that wait for it would overflow.
seconds = number(float, lambda v: 0 < v <= 1e6, "a number of seconds from 0 to 1000000")


def parse_arguments(argv):
    parser = Parser(
        prog="sweep",
        description="Run dotprod for several lengths, several times each, check that "
        "the results agree, and print a Markdown table of the loop's time and the "
        "process's peak memory. With --candidate, also time other versions of the same "
        "work against it and judge their results against the exact value.",
    )
    parser.add_argument("--binary", default=os.path.join(BUILD, "dotprod"),
                        help="the dotprod to run (default: build/release/dotprod)")
    parser.add_argument("--candidate", action="append", default=[], metavar="PATH",
                        help="a version to compare with dotprod; may be repeated")
    parser.add_argument("--exact", metavar="PATH",
                        help="the program that prints the exact value "
                        "(default: build/release/dotprod-exact)")
    parser.add_argument("--lengths", type=lengths, default=DEFAULT_LENGTHS,
                        help="comma-separated lengths (default: 1000,10000,100000,1000000,10000000)")
    parser.add_argument("--repeats", type=positive, default=5,
                        help="runs per length (default: 5)")
    parser.add_argument("--warmup", type=count, metavar="N",
                        help="untimed runs of each program before each length's repeats "
                        "(default: 1 with --candidate, else 0)")
    parser.add_argument("--tolerance", type=fraction, default=0.0, metavar="REL",
                        help="widen the accepted error by REL times the exact value (default: 0)")
    parser.add_argument("--timeout", type=seconds, default=600, metavar="SECONDS",
                        help="kill a run that takes longer, and stop (default: 600)")
    parser.add_argument("--plot", metavar="FILE.png",
                        help="also draw ns per term, peak memory and speedup against N "
                        "(needs gnuplot)")
    parser.add_argument("--json", metavar="FILE",
                        help="also write every run, the exact values and the machine as JSON")
    return parser.parse_args(argv)


def program(path, role):
    """The program named by path, as an absolute path to a regular
    executable file. It is not normalised: a/../b means what it means to
    the kernel, whatever a is."""
    full = os.path.join(os.getcwd(), path)
    if not (os.path.isfile(full) and os.access(full, os.X_OK)):
        refuse(f"no executable {role} at {path}")
    return File(path, full)


def destination(path):
    """A file that can be written, or a refusal. Tried by opening it, which
    is the one test that holds for root and on read-only file systems; a
    file that did not exist is removed again."""
    if not path:
        refuse("an empty file name")
    full = os.path.join(os.getcwd(), path)
    if os.path.isdir(full):
        refuse(f"{path} is a folder, not a file")
    existed = os.path.exists(full)
    # A pipe or a device would block here or take only part of what is
    # written at the end, after every run.
    if existed and not os.path.isfile(full):
        refuse(f"{path} is not a regular file")
    try:
        os.close(os.open(full, os.O_WRONLY | (0 if existed else os.O_CREAT | os.O_EXCL)))
    except OSError as error:
        refuse(f"cannot write {path}: {error.strerror}")
    if not existed:
        os.unlink(full)
    return File(path, full)


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
            refuse(f"{p.shown} is named twice")
    return [p._replace(label=label) for p, label in zip(programs, labels)]


def exact_program(args):
    """The exact-value program, or None where nothing needs it. Without it
    the sweep still times dotprod, but cannot judge a candidate."""
    if args.exact is not None:
        return program(args.exact, "dotprod-exact")
    if not (args.candidate or args.json is not None):
        return None
    default = os.path.join(BUILD, "dotprod-exact")
    if os.path.isfile(default) and os.access(default, os.X_OK):
        return File(default, default)
    if args.candidate:
        refuse(f"--candidate needs the exact value, and there is no executable "
               f"dotprod-exact at {default}: build it, or name one with --exact")
    return None


def parse(argv):
    args = parse_arguments(argv)
    args.binary, *args.candidates = labelled(
        [program(args.binary, "dotprod")] + [program(c, "candidate") for c in args.candidate])
    args.exact = exact_program(args)
    if args.warmup is None:
        args.warmup = 1 if args.candidates else 0
    for name in ("plot", "json"):
        if getattr(args, name) is not None:
            setattr(args, name, destination(getattr(args, name)))
    if args.plot and args.json and os.path.realpath(args.plot.path) == os.path.realpath(args.json.path):
        refuse(f"--plot and --json name the same file: {args.plot.shown}")
    if not os.access(GNU_TIME, os.X_OK):
        refuse(f"{GNU_TIME} is missing (Debian package time); it measures peak memory")
    return args
