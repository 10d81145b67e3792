# SPDX-License-Identifier: MIT
"""Whether each of two sweeps' programs may be compared at all: a
version that was wrong, impossibly fast or failed in its own sweep made
that sweep exit 1, and its times get no call. Pure functions of the two
sweeps' models."""

from dataclasses import dataclass

# A version's standing in its own sweep that leaves its times without a
# call: a wrong result's speed means nothing, nor does an impossible time.
WRONG, IMPOSSIBLE, FAILED = "wrong", "impossible", "failed"


@dataclass(frozen=True)
class Verdict:
    """A candidate's verdict in each sweep, as its answer line said it."""
    program: str
    old: str
    new: str


@dataclass(frozen=True)
class Unsound:
    """A program that made its sweep exit 1."""
    side: str            # "old" or "new"
    program: str
    standing: str        # WRONG, IMPOSSIBLE or FAILED


def standing(made, program):
    """WRONG, IMPOSSIBLE, FAILED or None: why program made its sweep exit 1.
    dotprod, the reference, has no verdict, but may fail."""
    word = made.standing.get(program)
    if word is None and any(r.failure and r.program == program for r in made.runs.runs):
        word = FAILED
    return word if word in (WRONG, IMPOSSIBLE, FAILED) else None


def unsound_at(made, program, n, which):
    """((WRONG or IMPOSSIBLE, which),) where program's times at n in made,
    the "old" or "new" sweep's model, are not to be compared: it is wrong
    there, or its time at n is impossible."""
    if made.standing.get(program) == WRONG:
        return ((WRONG, which),)
    if any(s.impossible for s in made.at(n) if s.program == program):
        return ((IMPOSSIBLE, which),)
    return ()


def soundness(made):
    """Unsound, per program that made either sweep exit 1; and Verdict,
    per candidate both ran. made: the two sweeps' models."""
    flawed = tuple(Unsound(which, p, word) for which, m in zip(("old", "new"), made)
                   for p in m.programs for word in [standing(m, p)] if word)
    old, new = ({a.program: a.verdict for a in m.answers} for m in made)
    return flawed, tuple(Verdict(p, old[p], new[p]) for p in made[1].candidates if p in old)
