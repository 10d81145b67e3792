# SPDX-License-Identifier: MIT
"""The checks on what a run printed that stop the sweep or fail the run:
a loop no longer than its process, output within its bound, dotprod's
result the same every time, and each shorter length's result the sum
its longest run printed after as many terms."""

from ..facts import printed
from ..messages import SweepError

OUTPUT_ROOM = 64 * 2**20  # what any run may print beside dotprod's sum lines


def check_time(seconds, wall):
    """A loop cannot take longer than the whole process that ran it; the
    millisecond allows for the two clocks' rounding."""
    if seconds > wall + 1e-3:
        return (f"printed a loop time of {seconds:g} s, longer than "
                f"its whole run took ({wall:.3f} s)")
    return None


def output_limit(n):
    """The most a run at length n may print: dotprod's own output, a sum
    line of at most 24 bytes a term, and room to spare."""
    return OUTPUT_ROOM + 24 * n


def check_repeat(first, result_text, n, repeat):
    """dotprod prints the same result every time it runs a length."""
    if result_text != first:
        raise SweepError(f"length {n} printed 'Resultado: {first}', then "
                         f"'Resultado: {result_text}' on repeat {repeat}")


def check_prefix(results, longest_output):
    """A shorter run's result must equal the longest run's sum after as many
    terms: the longest run's line N+1 (its line 0 echoes the argument)."""
    sums = printed.sum_lines(longest_output, set(results))
    for n, result in sorted(results.items()):
        expected = printed.RESULT + sums.get(n, "sum=?")[4:]
        if printed.RESULT + result != expected:
            raise SweepError(f"length {n} printed '{printed.RESULT}{result}' where the "
                             f"longest run gives '{expected}' after {n} terms")
