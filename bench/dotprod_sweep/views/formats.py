# SPDX-License-Identifier: MIT
"""How numbers and lines are written, in one place: every view and every
line a person reads uses these."""

import math
import textwrap

MIB = 1024 * 1024
LINE = 100  # where the lines under the tables wrap
LABEL = 40  # the most of a label the compact tables show: the CSV and the JSON keep it whole


# Plain decimals within these bounds, powers of ten beyond them, so that
# an absurd value (a time of 1e-320 s) still fits its cell.
PLAIN_FROM, PLAIN_BELOW = 1e-9, 1e12


def plain(value):
    """value to three significant digits, in plain decimals: 0.0564, 19.1,
    533, 60200; "n/a" for none."""
    if value is None or not math.isfinite(value):
        return "n/a"
    if value == 0:
        return "0"
    rounded = float(f"{value:.3g}")
    if not PLAIN_FROM <= abs(rounded) < PLAIN_BELOW:  # a value no real run gives
        return f"{value:.3g}"
    return f"{rounded:.{max(0, 2 - math.floor(math.log10(abs(rounded))))}f}"


def is_plain(value):
    """Whether plain() writes value in plain decimals."""
    if value is None or not math.isfinite(value) or value == 0:
        return True
    return PLAIN_FROM <= abs(float(f"{value:.3g}")) < PLAIN_BELOW


def in_one_notation(value, column):
    """value as plain() writes it, unless a value of its column needs a
    power of ten: then in powers of ten, as every value of that column
    is, so that 1e-314 never stands beside 249."""
    if all(is_plain(v) for v in column) or value is None or not math.isfinite(value):
        return plain(value)
    return f"{value:.2e}"


def cell(value, form=None):
    """value in form (format()'s), or plain; "n/a" for none."""
    if value is None:
        return "n/a"
    return plain(value) if form is None else format(value, form)


def decimals(value, places):
    """value with places decimals, or in powers of ten where that would
    run to hundreds of digits (a hand-edited 1e308)."""
    return f"{value:.{places}f}" if abs(value) < PLAIN_BELOW else f"{value:.3g}"


def hundredths(fraction):
    """A fraction in whole percent, its number alone."""
    whole = fraction * 100
    if not math.isfinite(whole):
        return "n/a"
    return f"{whole:.0f}" if abs(whole) < PLAIN_BELOW else f"{whole:.3g}"


def percent(fraction):
    whole = "n/a" if fraction is None else hundredths(fraction)
    return "n/a" if whole == "n/a" else f"{whole} %"


def span(low, high):
    """" (20–24)" of a fraction's interval in percent, where it has one."""
    return f" ({hundredths(low)}–{hundredths(high)})" if low is not None else ""


def length_text(n):
    """10^7 for a power of ten from 10^3 on, else the number."""
    exponent = round(math.log10(n)) if n > 0 else 0
    return f"10^{exponent}" if exponent >= 3 and 10**exponent == n else str(n)


def wrapped(text):
    """A line of prose wrapped at LINE, its continuations indented."""
    return "\n".join(textwrap.wrap(text, LINE, subsequent_indent="  ",
                                    break_long_words=False, break_on_hyphens=False))


class Bold(str):
    """A cell shown in bold: as "**wrong**" in a text table, <strong> in a
    page. Told by its type, never by its text: a label may be "**x**"."""


def bold(text):
    return Bold(f"**{text}**")


def short_label(label):
    """A label cut to LABEL characters, its end marked, so that a long one
    does not widen a table past the screen."""
    return label if len(label) <= LABEL else label[:LABEL - 1] + "…"
