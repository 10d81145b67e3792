# SPDX-License-Identifier: MIT
"""The checks a saved run's fields are read through: each takes a value
and where it is, and returns it, or raises Invalid naming the first
field that is not what the sweep saves. Pure."""

import functools
import math
import reprlib

from . import commands
from ..messages import one_line

LONGEST = 2**31 - 1  # the longest length --lengths takes
MOST = 10**6         # repeats, rounds, threads, ranks, nodes, CPUs: past any sweep's
BYTES = 2**63        # past any memory, and an integer a float holds


class Invalid(ValueError):
    """A field that is not what the sweep saves: where it is, and why."""



# The checks take a value and where it is, as a path and a key (a name, an
# index or None): a path is made for the line that names it, not each run.

def named(where, key):
    if key is None:
        return where
    if type(key) is int:
        return f"{where}[{key}]"
    return f"{where}.{key}" if where else key


def brief(value):
    """A value in a line: short, and printable."""
    return one_line(reprlib.repr(value))


def wrong(where, key, what, value):
    return Invalid(f"{named(where, key)} is not {what}: {brief(value)}")


def field(d, key, where):
    try:
        return d[key]
    except KeyError:
        raise Invalid(f"{named(where, key)} is missing") from None


def of_type(value, where, key, kind):
    """value, a list (kind list) or an object (kind dict)."""
    if type(value) is not kind:
        raise wrong(where, key, "a list" if kind is list else "an object", value)
    return value


def whole(value, where, key, low, high, what):
    if type(value) is not int or not low <= value <= high:  # a bool is no int here
        raise wrong(where, key, what, value)
    return value


def real(value, where, key, what="a finite number of seconds", low=0.0):
    """A finite number of low or more: a JSON integer too, if a float holds it."""
    fits = abs(value) < BYTES if type(value) is int else \
        type(value) is float and math.isfinite(value)
    if not fits or value < low:
        raise wrong(where, key, what, value)
    return value


def length(value, where, key):
    return whole(value, where, key, 1, LONGEST, "a length from 1 to 2147483647")


def maybe(check, value, *args):
    return None if value is None else check(value, *args)


@functools.lru_cache(maxsize=4096)
def cell(text):
    """Text cleaned as a --name is, fit for one table cell."""
    return commands.printable(text)


def text(value, where, key, clean=cell):
    if type(value) is not str:
        raise wrong(where, key, "text", value)
    return clean(value)
