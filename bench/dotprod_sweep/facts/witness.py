# SPDX-License-Identifier: MIT
"""What a run's processes said of themselves through the witness library
(examples/witness.c, preloaded): each program image that started, each
thread's processor time, and each process's own time and the CPUs it
may run on as it ended. Pure: reading the lines, and whether they
account for the whole run."""

import urllib.parse
from dataclasses import dataclass

# The witness holds a run where every process it saw start also ended, and
# the processes it saw account for the processor time the run took, within
# what a process spends after its last word (unmapping its memory) and
# what a process too small to matter leaves out.
UNSAID_SHARE, UNSAID_SECONDS = 0.25, 0.003


@dataclass(frozen=True)
class Image:
    """An executable a process ran, as the kernel saw the file then."""
    path: str
    identity: tuple  # (device, inode, size, modification ns): the file as it was


@dataclass(frozen=True)
class Said:
    threads: dict    # (pid, tid) -> processor seconds
    ended: dict      # pid -> (processor seconds, CPUs it may run on)
    started: frozenset  # the pids that said they started
    images: tuple    # Image, in the order first seen


def parse(text, leave_out=()):
    """The witness's lines, text; images at the paths in leave_out (the
    sweep's own GNU time) are not the run's. A line that is not the
    library's, or is cut short, is passed over: a process may die mid-write."""
    threads, ended, started, images, theirs = {}, {}, set(), {}, {}
    for line in text.split("\n")[:-1]:  # the last, if not empty, was cut short
        words = line.split(" ")
        try:
            if words[0] == "start" and len(words) == 7:
                started.add(int(words[1]))
                path = urllib.parse.unquote(words[6], errors="replace")
                theirs.setdefault(int(words[1]), set()).add(path in leave_out)
                if path not in leave_out:
                    images.setdefault(Image(path, tuple(map(int, words[2:6]))), None)
            elif words[0] == "thread" and len(words) == 4:
                key = (int(words[1]), int(words[2]))
                threads[key] = max(threads.get(key, 0.0), int(words[3]) / 1e9)
            elif words[0] == "end" and len(words) == 4:
                ended[int(words[1])] = (int(words[2]) / 1e9, int(words[3]))
        except ValueError:
            continue
    # The threads of a process that ran only what is left out are not the run's.
    threads = {k: v for k, v in threads.items() if theirs.get(k[0]) != {True}}
    return Said(threads, ended, frozenset(started), tuple(images))


def holds(said, cpu):
    """Whether said accounts for a run that took cpu processor seconds in
    all: every process it saw start ended, and what they took adds up to
    the run's, but for what a process spends after its last word."""
    if not said.ended or not said.started <= set(said.ended) or cpu is None:
        return False
    told = sum(seconds for seconds, _ in said.ended.values())
    return told >= cpu - max(UNSAID_SHARE * cpu, UNSAID_SECONDS)


def allowed_cpus(said):
    """The most CPUs any of its processes might run on."""
    return max((cpus for _, cpus in said.ended.values()), default=0) or None


def thread_seconds(said):
    """Each thread's processor seconds, busiest first."""
    return tuple(sorted(said.threads.values(), reverse=True))
