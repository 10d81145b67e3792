# SPDX-License-Identifier: MIT
"""Checking what a run printed: its last two lines; that dotprod's
repeats and lengths agree with each other; and whether a candidate's
results are near enough to the exact value."""

import math
import os
import re

import running
from messages import SweepError

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


def number(line, label):
    token = line[len(label):].strip()
    return float(token) if NUMBER.fullmatch(token) else None


def ending(path, what):
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
    result = number(result_line, RESULT)
    if result is None or not math.isfinite(result):
        raise SweepError(f"{what} printed no usable result: {result_line!r}")
    seconds = number(time_line, TIME)
    if seconds is None or not math.isfinite(seconds) or seconds < 0:
        raise SweepError(f"{what} printed no usable time: {time_line!r}")
    return result_line, result, seconds


def check_time(seconds, wall, what):
    """A loop cannot take longer than the whole process that ran it; the
    millisecond allows for the two clocks' rounding."""
    if seconds > wall + 1e-3:
        raise SweepError(f"{what} printed a loop time of {seconds:g} s, longer than "
                         f"its whole run took ({wall:.3f} s)")


def exact_value(path, status, what):
    """The one number that the exact-value program printed."""
    if status != 0:
        raise SweepError(f"{what} {running.how_it_ended(status)}")
    lines = last_lines(path, 2)
    try:
        value = number(lines[0].decode(), "") if len(lines) == 1 else None
    except UnicodeDecodeError:
        value = None
    if value is None or not math.isfinite(value):
        raise SweepError(f"{what} printed no usable exact value")
    return value


def check_repeat(first, result_line, n, repeat):
    if result_line != first:
        raise SweepError(f"length {n} printed '{first}', then '{result_line}' "
                         f"on repeat {repeat}")


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


def check_prefix(results, longest_output):
    """A shorter run's result must equal the longest run's sum after as many
    terms: the longest run's line N+1 (its line 0 echoes the argument)."""
    sums = sum_lines(longest_output, set(results))
    for n, result in results.items():
        expected = RESULT + sums.get(n, "sum=?")[4:]
        if result != expected:
            raise SweepError(f"length {n} printed '{result}' where the longest run "
                             f"gives '{expected}' after {n} terms")


# The acceptance rule; the README gives its reasoning. A candidate may be
# off the exact value by twice dotprod's own error, since dotprod's float
# sum loses low bits at every step and a correct version that adds in a
# like order loses as much. Where dotprod happens to land near the exact
# value, the floor holds instead: one unit of the sixth printed decimal,
# plus the rounding a float sum of N terms in another order carries, about
# sqrt(N) float epsilons of the sum.
SAFETY = 2
PRINTED = 1e-6
FLOAT_EPSILON = 2.0**-24


def allowed_error(n, exact, reference, tolerance):
    """The largest |result - exact| that a correct candidate may show."""
    floor = PRINTED + math.sqrt(n) * FLOAT_EPSILON * abs(exact)
    return max(SAFETY * abs(reference - exact), floor) + tolerance * abs(exact)


def farthest(runs, exact):
    """The run whose result lies farthest from the exact value."""
    return max(runs, key=lambda run: abs(run.result - exact))


def relative(error, exact):
    return error / abs(exact) if exact else error


def verdict(outcome, program, n, tolerance):
    """None if every repeat's result of program at length n is accepted,
    else the reason, in one line."""
    exact = outcome.exact[n]
    reference = outcome.measured(outcome.programs[0], n)[0].result
    allowed = allowed_error(n, exact, reference, tolerance)
    worst = farthest(outcome.measured(program, n), exact).result
    if abs(worst - exact) <= allowed:
        return None
    return (f"{program} rejected at N={n}: result {worst:f} is off the exact value "
            f"{exact:.9f} by {relative(abs(worst - exact), exact):.1e}, more than the "
            f"{relative(allowed, exact):.1e} allowed")


def verdicts(outcome, tolerance):
    """Each candidate's verdict at each length: (program, length) -> reason
    or None."""
    return {(program, n): verdict(outcome, program, n, tolerance)
            for program in outcome.programs[1:] for n in outcome.lengths}
