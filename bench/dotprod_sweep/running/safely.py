# SPDX-License-Identifier: MIT
"""Writing a user's file whole or not at all."""

import os
import tempfile

from .session import signals_held


def replace(path, data):
    """Writes data to a new file beside path and renames it over path: a
    reader sees the old file or the new one, never a part. The new file
    keeps the old one's permissions, or the umask's for a new name."""
    folder = os.path.dirname(path) or "."
    try:
        mode = os.stat(path).st_mode & 0o7777
    except FileNotFoundError:
        umask = os.umask(0)
        os.umask(umask)
        mode = 0o666 & ~umask
    with signals_held():  # a stop now would leave the new file behind
        write_beside(folder, path, data, mode)


def write_beside(folder, path, data, mode):
    fd, temporary = tempfile.mkstemp(dir=folder, prefix=".sweep.")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(temporary, mode)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
