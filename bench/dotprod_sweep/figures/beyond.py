# SPDX-License-Identifier: MIT
"""Rows that read faster than the machine lets them: above the interval
of their ceiling, or faster per byte from memory than from a cache at a
shorter length, where rates fall as the vectors outgrow the caches. A
ceiling that is beaten is not a ceiling: one of its assumptions broke,
and the flag names the one the sweep can see. Impossible speeds are the
model's own; these stay below them. Pure."""

from dataclasses import replace

from . import threads
from .ceilings import fits_in, vector_bytes
from .flags import Flag

ABOVE, FROM_MEMORY = "above ceiling", "faster from memory"   # the flags' kinds
# Why a row beat its ceiling: no witness saw its threads, so that it may
# run more than it was held to; its loop time covers less than its work;
# an untimed pass left its data in the caches; or none of these that the
# sweep can see.
UNWITNESSED, PART_TIMED, CACHED, UNSEEN = ("above: unwitnessed threads", "above: part timed",
                                           "above: cached", "above: unseen")
FASTER_BY = 0.1     # from memory, faster than from a cache by more than this


def level(runs, n):
    return fits_in(runs.machine.get("caches", []), vector_bytes(n))


def from_memory(row, earlier, runs):
    """The longest shorter row whose vectors fit in a cache and that read
    slower per byte than row, which reads from memory; or None."""
    if row.gbs is None or row.coarse or level(runs, row.length) != "memory":
        return None
    cached = [s for s in earlier if s.gbs and not s.coarse and level(runs, s.length) != "memory"]
    return next((s for s in reversed(cached) if row.gbs > (1 + FASTER_BY) * s.gbs), None)


def cause(row, slower, runs):
    if row.threads_from in (threads.DECLARED, threads.SAMPLED):
        return UNWITNESSED
    if slower is not None:
        return PART_TIMED
    if row.share_pass == 1 and level(runs, row.length) != "memory":
        return CACHED
    return UNSEEN


def flagged(summaries, runs):
    """summaries, in their order, each candidate's rows with these flags
    added."""
    return tuple(with_flags(s, [t for t in summaries if t.program == s.program and
                                t.length < s.length], runs) for s in summaries)


def with_flags(s, shorter, runs):
    if s.role != "candidate" or s.baseline or s.impossible:
        return s
    slower = from_memory(s, sorted(shorter, key=lambda t: t.length), runs)
    extra = ((Flag(FROM_MEMORY, FROM_MEMORY, s.program, runs.baseline, length=slower.length),)
             if slower is not None else ())
    if s.share_low is not None and s.share_low > 1:
        extra += (Flag(ABOVE, cause(s, slower, runs), s.program, runs.baseline,
                       length=slower.length if slower else None),)
    return replace(s, flags=s.flags + extra) if extra else s
