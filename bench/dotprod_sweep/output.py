# SPDX-License-Identifier: MIT
"""Reading what a run printed: its last two lines, the exact value, and
the running sums of dotprod's longest run."""

import math
import os
import re

from .messages import SweepError
from .runner import status_in_words

RESULT = "Resultado: "
TIME = "Tiempo: "
# What printf's %f, %e or %g can print; \d must not take other scripts'
# digits, which float() would read.
NUMBER = re.compile(r"[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?|[-+]?(inf|nan)",
                    re.ASCII | re.IGNORECASE)


def last_lines(path, count):
    """The last lines of a run's output, as bytes, read from its end: the
    output of a long run is 100 MB or more."""
    with open(path, "rb") as f:
        f.seek(0, os.SEEK_END)
        f.seek(max(0, f.tell() - 4096))
        return f.read().splitlines()[-count:]


def read_number(line, label):
    """The number after label on line, or None."""
    token = line[len(label):].strip()
    return float(token) if NUMBER.fullmatch(token) else None


def read_ending(path, what):
    """The result line, the result and the seconds that a run printed last."""
    lines = last_lines(path, 2)
    if len(lines) < 2:
        raise SweepError(f"{what} printed fewer than two lines")
    try:
        result_line, time_line = (line.decode() for line in lines)
    except UnicodeDecodeError:
        raise SweepError(f"{what} ended its output with bytes that are not UTF-8") from None
    if not (result_line.startswith(RESULT) and time_line.startswith(TIME)):
        raise SweepError(f"{what} did not end with its result and time lines")
    result = read_number(result_line, RESULT)
    if result is None or not math.isfinite(result):
        raise SweepError(f"{what} printed no usable result: {result_line!r}")
    seconds = read_number(time_line, TIME)
    if seconds is None or not math.isfinite(seconds) or seconds < 0:
        raise SweepError(f"{what} printed no usable time: {time_line!r}")
    return result_line, result, seconds


def read_exact(path, status, what):
    """The one number that the exact-value program printed."""
    if status != 0:
        raise SweepError(f"{what} {status_in_words(status)}")
    lines = last_lines(path, 2)
    try:
        value = read_number(lines[0].decode(), "") if len(lines) == 1 else None
    except UnicodeDecodeError:
        value = None
    if value is None or not math.isfinite(value):
        raise SweepError(f"{what} printed no usable exact value")
    return value


def sum_lines(path, wanted):
    """The sum lines of the given term counts, from a run's output."""
    found = {}
    with open(path, "rb") as f:
        for index, line in enumerate(f):
            if index in wanted:
                found[index] = line.rstrip(b"\n").decode(errors="replace")
                if len(found) == len(wanted):
                    break
    return found
