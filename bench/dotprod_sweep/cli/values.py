# SPDX-License-Identifier: MIT
"""What each option's value may be: argparse types that read the text as
typed (ASCII digits, no 1_000) and refuse, in their own words, what the
sweep cannot use. Percents become fractions here."""

import argparse
import math
import os


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
    if any(n < 1 or n > 2**31 - 1 for n in values):
        raise argparse.ArgumentTypeError(f"lengths must lie in 1..2147483647: {text!r}")
    twice = next((n for i, n in enumerate(values) if n in values[:i]), None)
    if twice is not None:
        raise argparse.ArgumentTypeError(f"{twice} is given twice: {text!r}")
    return tuple(sorted(values))


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
# NaN fails every comparison, so it is refused with the rest. Beyond 1 a
# tolerance allows any result of the right sign, and a large one times the
# exact value overflows into no bound at all.
fraction = checked_number(float, lambda v: 0 <= v <= 1, "a relative error from 0 to 1")
# Typed as a percent, held as a fraction from here on.
percent = checked_number(lambda text: float(text) / 100, lambda v: 0 <= v < math.inf,
                         "a percentage of 0 or more")
# Past a million seconds a limit means nothing, and the clock calls
# that wait for it would overflow.
seconds = checked_number(float, lambda v: 0 < v <= 1e6, "a number of seconds above 0, at most 1000000")


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


def revision(text):
    """A commit as --commit takes it: a name or hash git could read, one
    printable word."""
    if not 0 < len(text) <= 200 or not text.isprintable() or " " in text or \
            text.startswith("-"):
        raise argparse.ArgumentTypeError(f"not a commit: {text!r}")
    return text
