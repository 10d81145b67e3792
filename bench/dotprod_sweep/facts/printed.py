# SPDX-License-Identifier: MIT
"""Reading what a run printed: the contract's last two lines, the exact
value, and the running sums of dotprod's longest run. A number keeps the
text it was printed as: its last digit says how precise it is."""

import functools
import math
import os
import re

RESULT = "Resultado: "
TIME = "Tiempo: "
PASSES = ("First pass: ", "Second pass: ")  # a ceiling's lines before them
TAIL = 65536  # the most of a run's ending that is read
# What printf's %f, %e or %g can print, at any precision; \d must not
# take other scripts' digits, which float() would read.
NUMBER = re.compile(r"[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?", re.ASCII)


class OutputError(Exception):
    """Output that breaks the contract: the reason, without the run's name."""


def last_lines(path, count):
    """The last lines of a run's output, as bytes, read from its end: the
    output of a long run is 100 MB or more."""
    with open(path, "rb") as f:
        size = f.seek(0, os.SEEK_END)
        f.seek(max(0, size - TAIL))
        lines = f.read().splitlines()
    if size > TAIL and len(lines) <= count:
        raise OutputError(f"ended with lines longer than {TAIL} bytes")
    return lines[-count:]


def number_text(line, label):
    """The number after label on line, as printed, or None."""
    token = line[len(label):].strip()
    return token if usable(token) else None


@functools.lru_cache(maxsize=1 << 14)  # a program prints the same result run after run
def usable(text):
    """Whether text is a number as printed whose value and half unit are
    floats: not 1e999, nor 0e999, whose last digit is worth more than any
    float. Without an exponent the half unit is 0.5 at most."""
    try:
        return bool(NUMBER.fullmatch(text)) and math.isfinite(value(text)) and (
            "e" not in text.lower() or math.isfinite(half_unit(text)))
    except OverflowError:
        return False


def value(text):
    # + 0.0 makes -0.000000 read as 0.
    return float(text) + 0.0


def half_unit(text):
    """Half a unit in the last printed digit: how far the printed number
    may lie from the value it stands for. Its exponent is the printed
    one less the digits after the point, as decimal.Decimal counts it,
    without the Decimal: 10^5 runs ask."""
    digits, _, exponent = text.lower().partition("e")
    return 0.5 * 10.0 ** (int(exponent or 0) - len(digits.partition(".")[2]))


EXPECTED = f"'{RESULT}<result>' then '{TIME}<seconds>'"
SHOWN = 60  # characters of a line that breaks the contract, shown


def last_said(lines):
    """What a run printed last, for a line that says it broke the contract."""
    if not lines:
        return "nothing"
    text = "".join(c if c.isprintable() else "?" for c in lines[-1].decode(errors="replace"))
    return repr(text[:SHOWN] + ("…" if len(text) > SHOWN else ""))


def read_ending(path):
    """The result and the time, as printed, of a run's last two lines."""
    lines = last_lines(path, 2)
    if len(lines) < 2:
        raise OutputError(f"printed fewer than two lines, not {EXPECTED}; it printed "
                          f"{last_said(lines)}")
    try:
        result_line, time_line = (line.decode() for line in lines)
    except UnicodeDecodeError:
        raise OutputError("ended its output with bytes that are not UTF-8") from None
    if not (result_line.startswith(RESULT) and time_line.startswith(TIME)):
        raise OutputError(f"did not end with {EXPECTED}; its last line was "
                          f"{last_said(lines)}")
    result = number_text(result_line, RESULT)
    if result is None or not math.isfinite(value(result)):
        raise OutputError(f"printed no usable result: {result_line.rstrip()!r}")
    seconds = number_text(time_line, TIME)
    if seconds is None or not math.isfinite(value(seconds)) or value(seconds) < 0:
        raise OutputError(f"printed no usable time: {time_line.rstrip()!r}")
    return result, seconds


def read_passes(path):
    """The seconds a ceiling's "First pass: " and "Second pass: " lines
    give before its result and time lines: a tuple of both, None for
    either it does not say."""
    found = dict.fromkeys(PASSES)
    try:
        lines = last_lines(path, 4)[:-2]
    except OutputError:  # a line too long to be one of them
        return tuple(found.values())
    for line in lines:
        text = line.decode(errors="replace")
        for label in PASSES:
            seconds = number_text(text, label) if text.startswith(label) else None
            if seconds is not None and 0 < value(seconds) < math.inf:
                found[label] = value(seconds)
    return tuple(found.values())


def read_exact(path):
    """The one number that the exact-value program printed."""
    lines = last_lines(path, 2)
    try:
        text = number_text(lines[0].decode(), "") if len(lines) == 1 else None
    except UnicodeDecodeError:
        text = None
    if text is None or not math.isfinite(value(text)):
        raise OutputError("printed no usable exact value")
    return value(text)


def read_orders(path):
    """What `dotprod-exact --orders` printed on its one line: the exact
    value, then the lowest and the highest result of the usual float
    orders."""
    lines = last_lines(path, 2)
    try:
        words = lines[0].decode().split() if len(lines) == 1 else []
    except UnicodeDecodeError:
        words = []
    if len(words) != 3 or not all(NUMBER.fullmatch(w) and math.isfinite(value(w)) for w in words):
        raise OutputError("printed no usable exact value and float orders")
    exact, low, high = (value(w) for w in words)
    if low > high:
        raise OutputError("printed float orders out of order")
    return exact, low, high


def sum_lines(path, wanted):
    """The sum lines of the given term counts, from a run's output, read a
    block at a time: the longest run's holds a line per term."""
    found, index, tail, last = {}, 0, b"", max(wanted, default=-1)
    with open(path, "rb") as f:
        while index <= last and (block := f.read(1 << 20)):
            lines = (tail + block).split(b"\n")
            tail = lines.pop()  # a line the next block goes on with
            for k in wanted:
                if index <= k < index + len(lines):
                    found[k] = lines[k - index].decode(errors="replace")
            index += len(lines)
    if tail and index in wanted:
        found[index] = tail.decode(errors="replace")
    return found
