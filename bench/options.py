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
    shown: str  # as the user named it, for messages
    path: str   # absolute: what is checked, run or written


def refuse(message):
    say(message)
    sys.exit(2)


class Parser(argparse.ArgumentParser):
    def error(self, message):
        refuse(message)


def lengths(text):
    try:
        values = [int(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a list of lengths: {text!r}")
    if not values or any(n < 1 or n > 2**31 - 1 for n in values):
        raise argparse.ArgumentTypeError(f"lengths must lie in 1..2147483647: {text!r}")
    return sorted(set(values))


def positive(text):
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"not a positive whole number: {text!r}")
    return value


def seconds(text):
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not (0 < value < math.inf):
        raise argparse.ArgumentTypeError(f"not a positive number of seconds: {text!r}")
    return value


def parse_arguments(argv):
    parser = Parser(
        prog="sweep",
        description="Run dotprod for several lengths, several times each, check that "
        "the results agree, and print a Markdown table of the loop's time and the "
        "process's peak memory.",
    )
    parser.add_argument("--binary", default=os.path.join(BUILD, "dotprod"),
                        help="the dotprod to run (default: build/release/dotprod)")
    parser.add_argument("--lengths", type=lengths, default=DEFAULT_LENGTHS,
                        help="comma-separated lengths (default: 1000,10000,100000,1000000,10000000)")
    parser.add_argument("--repeats", type=positive, default=5,
                        help="runs per length (default: 5)")
    parser.add_argument("--timeout", type=seconds, default=600, metavar="SECONDS",
                        help="kill a run that takes longer, and stop (default: 600)")
    parser.add_argument("--plot", metavar="FILE.png",
                        help="also draw ns per term and peak memory against N (needs gnuplot)")
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
    full = os.path.join(os.getcwd(), path)
    if os.path.isdir(full):
        refuse(f"{path} is a folder, not a file")
    existed = os.path.exists(full)
    try:
        os.close(os.open(full, os.O_WRONLY | (0 if existed else os.O_CREAT | os.O_EXCL)))
    except OSError as error:
        refuse(f"cannot write {path}: {error.strerror}")
    if not existed:
        os.unlink(full)
    return File(path, full)


def parse(argv):
    args = parse_arguments(argv)
    args.binary = program(args.binary, "dotprod")
    if args.plot is not None:
        args.plot = destination(args.plot)
    if not os.access(GNU_TIME, os.X_OK):
        refuse(f"{GNU_TIME} is missing (Debian package time); it measures peak memory")
    return args
