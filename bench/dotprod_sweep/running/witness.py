# SPDX-License-Identifier: MIT
"""The witness library preloaded into every process of a run, and what
it left: a fresh file for each run, named to its processes in the
environment (which launchers pass on to their ranks), read once the run
has ended. Each executable and shared object is hashed once per file as
it was."""

import os
from dataclasses import dataclass, field

from ..facts import commands, witness

LIBRARY = "libdotprod_witness.so"
FILE = "DOTPROD_WITNESS"  # the variable that names the file to the library


def library(folders):
    """The witness library in the first of folders that has it, or None:
    the sweep then samples each run from outside. A path with a blank or a
    colon cannot be preloaded: the loader splits its list at them."""
    for folder in folders:
        path = os.path.abspath(os.path.join(folder, LIBRARY))
        if os.path.isfile(path):
            return None if any(c in path for c in " \t\n:") else path
    return None


@dataclass
class Witness:
    library: str   # the library's absolute path
    path: str      # the file its processes write to
    hashed: dict = field(default_factory=dict)  # (path, identity) -> SHA-256, or None
    objects: bool = False  # a run's processes reported their shared objects: this
                           # library reports them all, where an older one reported none

    def environment(self, env):
        """env's additions for a run: the library first among what it
        preloads, and the file, made anew and empty."""
        with open(self.path, "wb"):
            pass
        preload = " ".join(p for p in (self.library, env.get("LD_PRELOAD", "")) if p)
        return {"LD_PRELOAD": preload, FILE: self.path}

    def read(self, cpu, leave_out):
        """(each thread's processor seconds, the CPUs a process could use,
        ((path, SHA-256), ...)) of the run that just ended, which took cpu
        processor seconds; the first two None where the witness does not
        account for the whole run."""
        try:
            with open(self.path, errors="replace") as f:
                said = witness.parse(f.read(), (*leave_out, self.library))
        except OSError:
            return None, None, ()
        ran = tuple((i.path, self.sha256(i)) for i in said.images)
        self.objects = self.objects or said.objects
        if not witness.holds(said, cpu):
            return None, None, ran
        return witness.thread_seconds(said), witness.allowed_cpus(said), ran

    def sha256(self, image):
        """The image's SHA-256, once per file as it was; None where the file
        is gone or has changed since the run started it."""
        key = (image.path, image.identity)
        if key not in self.hashed:
            try:
                info = os.stat(image.path)
                now = (info.st_dev, info.st_ino, info.st_size, info.st_mtime_ns)
            except OSError:
                now = None
            self.hashed[key] = commands.fingerprint(image.path) if now == image.identity \
                else None
        return self.hashed[key]
