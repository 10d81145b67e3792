# SPDX-License-Identifier: MIT
"""What a run's processes said of themselves through the witness library
(examples/witness.c, preloaded): each program image that started and
each shared object it loaded, each thread's processor time, and each
process's own time and the CPUs it may run on as it ended. Pure: reading
the lines, and whether they account for the whole run."""

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
    images: tuple    # Image, executables and shared objects, in the order first seen
    objects: bool = False  # the library reported shared objects: all of them are in images


def parse(text, leave_out=()):
    """The witness's lines, text; files at the paths in leave_out (the
    sweep's own GNU time, the witness library) are not the run's, nor the
    shared objects of a process that ran only those. A line that is not
    the library's, or is cut short, is passed over: a process may die
    mid-write."""
    threads, ended, started, files, theirs = {}, {}, set(), [], {}
    for line in text.split("\n")[:-1]:  # the last, if not empty, was cut short
        words = line.split(" ")
        try:
            if words[0] in ("start", "object") and len(words) == 7:
                pid, path = int(words[1]), urllib.parse.unquote(words[6], errors="replace")
                if words[0] == "start":
                    started.add(pid)
                    theirs.setdefault(pid, set()).add(path in leave_out)
                files.append((pid, words[0], Image(path, tuple(map(int, words[2:6])))))
            elif words[0] == "thread" and len(words) == 4:
                key = (int(words[1]), int(words[2]))
                threads[key] = max(threads.get(key, 0.0), int(words[3]) / 1e9)
            elif words[0] == "end" and len(words) == 4:
                ended[int(words[1])] = (int(words[2]) / 1e9, int(words[3]))
        except ValueError:
            continue
    # What a process that ran only what is left out did is not the run's.
    threads = {k: v for k, v in threads.items() if theirs.get(k[0]) != {True}}
    images = dict.fromkeys(image for pid, _, image in files
                           if image.path not in leave_out and theirs.get(pid) != {True})
    return Said(threads, ended, frozenset(started), tuple(images),
                any(kind == "object" for _, kind, _ in files))


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
