# SPDX-License-Identifier: MIT
"""A program to run, from the command line the user gave: split into
words as a POSIX shell splits them, quotes honoured, and never run
through a shell. Leading NAME=VALUE words set its environment; {n}
stands for the length (appended as the last word where it is missing),
and {NAME} for a value of a --scan. The --candidate, --name and --scan
options are read here too."""

import argparse
import hashlib
import itertools
import os
import re
import shlex
import shutil
from dataclasses import dataclass

from ..messages import UsageError, one_line

PLACEHOLDER = re.compile(r"\{([A-Za-z_][A-Za-z0-9_]*)\}")
ASSIGNMENT = re.compile(r"([A-Za-z_][A-Za-z0-9_]*)=(.*)", re.DOTALL)


class CommandError(Exception):
    """A command that cannot be run: one line, status 2."""


def fingerprint(path):
    """The SHA-256 of path's bytes, or None where it cannot be read."""
    digest = hashlib.sha256()
    try:
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
    except OSError:
        return None
    return digest.hexdigest()


def fingerprints(words):
    """{word: SHA-256} of each word that names a readable file: the program,
    and the script or program a launcher or an interpreter is given."""
    found = {w: fingerprint(w) for w in dict.fromkeys(words) if os.path.isfile(w)}
    return {w: digest for w, digest in found.items() if digest}


@dataclass(frozen=True)
class Command:
    label: str        # its name in the table, the plot and the JSON
    words: tuple      # the program's absolute path, then its arguments
    env: tuple = ()   # (NAME, VALUE) pairs added to the environment
    shown: str = ""   # as the user wrote it, for messages
    params: tuple = ()  # (NAME, value) pairs of the scans it runs at
    family: str = ""  # the label of the command it was scanned from

    @property
    def path(self):
        return self.words[0]

    def record(self):
        """What it is, for the JSON: its files' fingerprints tell a program
        rebuilt between two runs from one that was not."""
        return {"label": self.label, "argv": list(self.words), "env": dict(self.env),
                "params": dict(self.params), "given": self.shown,
                "files": fingerprints(self.words)}

    def argv(self, n):
        words = [fill(w, n) for w in self.words]
        return words if any("{n}" in w for w in self.words) else words + [str(n)]

    def environment(self, n):
        return {name: fill(value, n) for name, value in self.env}


def fill(text, n):
    return text.replace("{n}", str(n))


# GitHub's runner takes a line that starts with `::`, leading spaces
# skipped, for a command (one_line has taken care of `##[`).
WORD_COLON = re.compile(r"(^| ):")


def printable(text):
    """Text fit for one table cell and any line: one line, no cell
    separator, nothing a CI log takes for a command. Every label, from any
    source, is cleaned here. A colon that starts a word goes, since a wrapped
    line or a "label: ..." answer may start with that word."""
    return WORD_COLON.sub(r"\1?", one_line(text).replace("|", "/"))


def executable(full):
    return os.path.isfile(full) and os.access(full, os.X_OK)


def resolve(word, alone):
    """The program a command's first word names: a path with a slash is
    that file; a single word naming a file here keeps that meaning; any
    other bare name is looked up on PATH, as a shell does."""
    if "/" in word or (alone and os.path.exists(word)):
        full = os.path.join(os.getcwd(), word)
        return full if executable(full) else None
    found = shutil.which(word)
    return os.path.abspath(found) if found else None


def split(text, role="candidate"):
    """The environment words and the other words of a command line."""
    try:
        words = shlex.split(text)
    except ValueError as error:
        raise CommandError(f"cannot split the {role} {text!r}: {error}") from None
    env = []
    while words and ASSIGNMENT.fullmatch(words[0]):
        env.append(ASSIGNMENT.fullmatch(words.pop(0)).groups())
    if not words:
        raise CommandError(f"the {role} {text!r} names no program")
    return tuple(env), words


def command(text, role="candidate", label=None):
    """The Command that text names, its program checked."""
    env, words = split(text, role)
    path = resolve(words[0], alone=len(words) == 1 and not env)
    if path is None:
        here = "/" not in words[0] and executable(os.path.join(os.getcwd(), words[0]))
        hint = f" (for the one in this folder, write ./{words[0]})" if here else ""
        raise CommandError(f"no executable {role} at {words[0]}{hint}")
    return Command(label or "", (path, *words[1:]), env, text)


def placeholders(cmd):
    texts = [*cmd.words, *(value for _, value in cmd.env)]
    return {name for text in texts for name in PLACEHOLDER.findall(text)} - {"n"}


def default_label(cmd):
    """The name of the file the command runs: its last word that names a
    file (the user's program behind a launcher such as mpirun), else its
    program's."""
    for word in reversed(cmd.words[1:]):
        if "{" not in word and os.path.isfile(word):
            return os.path.basename(word)
    return os.path.basename(cmd.path)


def long_label(cmd):
    """The whole command, paths cut to their file names."""
    words = [f"{n}={v}" for n, v in cmd.env] + [os.path.basename(cmd.path)]
    words += [os.path.basename(w) if "/" in w else w for w in cmd.words[1:]]
    return " ".join(words)


def expand(cmd, scans):
    """One Command per combination of the scanned values it uses."""
    names = sorted(placeholders(cmd))
    missing = [name for name in names if name not in scans]
    if missing:
        raise CommandError(f"{{{missing[0]}}} in {cmd.shown!r} is not given a --scan")
    expanded = []
    for values in itertools.product(*(scans[name] for name in names)):
        params = tuple(zip(names, values))
        def put(text):
            for name, value in params:
                text = text.replace("{" + name + "}", value)
            return text
        suffix = "".join(f" {name}={value}" for name, value in params)
        # Shown with its values: a failure names the command that ran.
        expanded.append(Command(printable(cmd.label + suffix), tuple(put(w) for w in cmd.words),
                                tuple((n, put(v)) for n, v in cmd.env), put(cmd.shown),
                                tuple((n, printable(v)) for n, v in params), cmd.label))
    return expanded


def labelled(commands, named):
    """Each command with its label: the one given (as typed: it is cleaned
    here), else its file's name, else, where two share that, the whole
    command."""
    raw = [named[i] or default_label(c) for i, c in enumerate(commands)]
    short = [printable(r) for r in raw]
    labels = [printable(long_label(c)) if not named[i] and short.count(short[i]) > 1
              else short[i] for i, c in enumerate(commands)]
    for i, label in enumerate(labels):
        other = labels.index(label)
        if other != i:
            first, second = commands[other].shown, commands[i].shown
            if raw[other] != raw[i] and short[other] == short[i]:
                clash = f"the labels {raw[other]!r} and {raw[i]!r} both clean to the same " \
                    f"label, {label}"
            elif first == second:
                clash = f"{first} is given twice"
            else:
                clash = f"{first} and {second} are both labelled {label}"
            raise CommandError(f"{clash}: give one another label with --name")
    return [Command(label, c.words, c.env, c.shown, c.params, label)
            for c, label in zip(commands, labels)]


def unique(commands):
    """Refuses two commands of one label once scans are expanded: their
    runs would make one row and a saved file that cannot be read."""
    labels = [c.label for c in commands]
    for i, label in enumerate(labels):
        other = labels.index(label)
        if other != i:
            raise CommandError(f"{commands[other].shown} and {commands[i].shown} are both "
                               f"labelled {label}: give one another label with --name")


def scan(text):
    """The value of a --scan, NAME=V1,V2,..., as (NAME, values)."""
    name, _, values = text.partition("=")
    if not (PLACEHOLDER.fullmatch("{" + name + "}") and name != "n" and values):
        raise argparse.ArgumentTypeError(f"not NAME=V1,V2,...: {text!r}")
    parts = values.split(",")
    if any(not v or "{" in v or "}" in v for v in parts) or len(set(parts)) < len(parts):
        raise argparse.ArgumentTypeError(f"not a list of distinct values: {text!r}")
    return name, tuple(parts)


class CandidateAction(argparse.Action):
    """--candidate and --name, kept in order: a name labels the candidate
    given just before it. The name is kept as typed, for messages; the
    label made of it is cleaned."""
    def __call__(self, parser, namespace, value, option):
        given = getattr(namespace, "given", None) or []
        if option == "--name":
            if not given or given[-1][1] is not None:
                raise UsageError("--name must follow a --candidate that has no name yet")
            if not value.strip():
                raise UsageError("--name needs a label")
            given[-1] = (given[-1][0], value)
        else:
            given.append((value, None))
        namespace.given = given


def timed(reference, given, scans, baseline):
    """The reference and the candidates, labelled, and the label of the
    baseline (--baseline, or None for dotprod): given holds (command line,
    --name or None) pairs, scans (NAME, values) pairs; each candidate comes
    once per combination of the scanned values it uses."""
    table = dict(scans)
    if len(table) < len(scans):
        raise CommandError("a name is scanned twice")
    cmds = [command(text) for text, _ in given]
    named = labelled([reference, *cmds], [None, *(name for _, name in given)])
    expanded = [each for cmd in named[1:] for each in expand(cmd, table)]
    unused = set(table) - {name for c in cmds for name in placeholders(c)}
    if unused:
        raise CommandError(f"no candidate uses {{{sorted(unused)[0]}}}")
    unique((named[0], *expanded))
    labels = [c.label for c in (named[0], *expanded)]
    label = named[0].label if baseline in (None, "dotprod") else baseline
    if label not in labels:
        raise CommandError(f"--baseline {baseline}: no program is labelled so "
                           f"(labels: {', '.join(labels)})")
    return named[0], tuple(expanded), label
