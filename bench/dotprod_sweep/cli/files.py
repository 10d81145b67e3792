# SPDX-License-Identifier: MIT
"""The files a command line names, checked before any run starts: the
programs to run, the saved runs to read and the files to write. Each
that cannot serve is refused with a UsageError: one line, status 2."""

import os
import tempfile
from dataclasses import dataclass

from ..facts import commands
from ..facts.commands import Command
from ..messages import UsageError
from ..running import witness
from ..running.runner import GNU_TIME


@dataclass(frozen=True)
class InputFile:
    """A saved run to read."""
    shown: str                 # as the user wrote it, for messages
    path: str


@dataclass(frozen=True)
class OutputFile:
    """A file to write: a plot, JSON or CSV."""
    shown: str
    path: str                  # what a symbolic link points to


def program(path, role):
    """The program at path, never one found on PATH: a name without a
    slash is the file in this folder. It is not normalised: a/../b means
    what it means to the kernel, whatever a is."""
    full = os.path.join(os.getcwd(), path)
    if not commands.executable(full):
        raise UsageError(f"no executable {role} at {path or repr(path)}")
    return Command("", (full,), (), path)


def companion(name, reference, programs):
    """The program name beside the dotprod run, else in the default folder,
    else None: a dotprod from another build brings its own."""
    for folder in dict.fromkeys([os.path.dirname(reference.path), programs]):
        path = os.path.join(folder, name)
        if commands.executable(path):
            return Command("", (path,), (), path)
    return None


def exact_program(path, reference, programs, needed, saving):
    """The exact-value program: the one at path if given, else the companion
    where candidates need it or a saved run records it; None where nothing
    needs it. Without it the sweep still times dotprod, but cannot judge a
    candidate."""
    if path is not None:
        return program(path, "dotprod-exact")
    found = companion("dotprod-exact", reference, programs)
    if found and (needed or saving):
        return found
    if needed:
        raise UsageError(f"--candidate needs the exact value, and there is no executable "
                         f"dotprod-exact beside {reference.shown} or in {programs}: build it, "
                         f"or name one with --exact")
    return None


def ceiling_program(path, reference, programs, wanted):
    if path is not None:
        return program(path, "dotprod-ceiling")
    return companion("dotprod-ceiling", reference, programs) if wanted else None


def witness_library(reference, programs):
    """The witness library beside the dotprod run (each build has its own:
    a sanitized build has none, and another build's would not load into
    its programs), or, for the dotprod in the default folder, where an
    install keeps it; None where there is none: the sweep samples its runs
    from outside."""
    here = os.path.dirname(reference.path)
    folders = [here]
    if os.path.realpath(here) == os.path.realpath(programs):
        folders.append(os.path.join(programs, os.pardir, "lib", "dotprod"))
    return witness.library(folders)


def gnu_time():
    if not os.access(GNU_TIME, os.X_OK):
        raise UsageError(f"{GNU_TIME} is missing (Debian package time); it measures peak memory")


def input_file(path):
    """A saved run to read: it must be there to be read."""
    full = os.path.join(os.getcwd(), path)
    if not os.path.isfile(full) or not os.access(full, os.R_OK):
        raise UsageError(f"cannot read {path}: not a readable file")
    return InputFile(path, full)


def output_file(path):
    """A file that can be written as the sweep will write it, or a refusal.
    Through a symbolic link, the file it points to is written. The write
    makes a new file in the folder and renames it over the name, so that
    is tried; an existing file must also take writing, which is the one
    test that holds for root and on read-only file systems."""
    if not path:
        raise UsageError("an empty file name")
    full = os.path.realpath(os.path.join(os.getcwd(), path))
    if os.path.isdir(full):
        raise UsageError(f"{path} is a folder, not a file")
    # A pipe or a device would block here or take only part of what is
    # written at the end, after every run.
    if os.path.exists(full) and not os.path.isfile(full):
        raise UsageError(f"{path} is not a regular file")
    try:
        if os.path.exists(full):
            os.close(os.open(full, os.O_WRONLY))
        fd, trial = tempfile.mkstemp(dir=os.path.dirname(full), prefix=".sweep.")
        os.close(fd)
        os.unlink(trial)
    except OSError as error:
        raise UsageError(f"cannot write {path}: {error.strerror}") from None
    return OutputFile(path, full)


def identity(path):
    try:
        st = os.stat(path)
        return st.st_dev, st.st_ino
    except OSError:
        return None


def files_run(cmds):
    """Every existing file a command names: its program, and the script or
    program a launcher is given."""
    return [w for c in cmds for w in c.words if os.path.isfile(w)]


def check_outputs(outputs, cmds):
    """Refuses an output that is a file the sweep runs, standard output's
    file or another output, under any name."""
    taken = {identity(f): f for f in files_run(cmds)}
    try:
        st = os.fstat(1)
        taken[(st.st_dev, st.st_ino)] = "standard output"
    except OSError:
        pass
    for d in outputs:
        same = identity(d.path)
        if same in taken:
            raise UsageError(f"{d.shown} is {taken[same]}: it would be overwritten")
        if same is not None:
            taken[same] = d.shown
    shown = [os.path.realpath(d.path) for d in outputs]
    if len(set(shown)) < len(shown):
        twice = next(d for d, real in zip(outputs, shown) if shown.count(real) > 1)
        raise UsageError(f"two outputs name the same file: {twice.shown}")


def outputs(paths, cmds):
    """Each path an OutputFile, or None where it is None; together, checked
    as check_outputs() does."""
    made = [None if path is None else output_file(path) for path in paths]
    check_outputs([d for d in made if d], cmds)
    return made


def spare(source, outputs, role):
    """Refuses an output that is source, a saved run read, under any name;
    role says which run that is."""
    read = identity(source.path)
    for d in outputs:
        if d is not None and read is not None and identity(d.path) == read:
            raise UsageError(f"{d.shown} is {role}: it would be overwritten")
