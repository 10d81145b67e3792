# SPDX-License-Identifier: MIT
"""The Python example's vectors, through the shared library and through
libc, against dotprod's, bit for bit at N = 10^6. Needs VECTOR_BYTES (the
program that prints dotprod's vector) and the built library on
LD_LIBRARY_PATH; skipped (77) without numpy."""

import contextlib
import importlib.util
import io
import os
import re
import subprocess
import sys
import unittest
from unittest import mock

if importlib.util.find_spec("numpy") is None:
    sys.exit(77)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
import numpy_dot

N = 10**6


class Vectors(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dotprods = subprocess.run([os.environ["VECTOR_BYTES"], str(N)], capture_output=True,
                                      check=True).stdout

    def test_both_ways_give_dotprods_vector(self):
        lib = numpy_dot.helpers()
        self.assertIsNotNone(lib, f"{numpy_dot.LIBRARY} not found on LD_LIBRARY_PATH")
        for way, source in (("shared library", lib), ("libc", None)):
            with self.subTest(way):
                self.assertEqual(numpy_dot.vector(N, source).tobytes(), self.dotprods)

    def test_a_missing_library_leaves_libc(self):
        self.assertIsNone(numpy_dot.helpers("libdotprod_arrays.so.0"))

    def test_no_memory_is_one_line_and_status_255(self):
        # The library prints its own line (on the C side's stderr), so the
        # example adds none; by hand, the example says it.
        for lib, said in ((numpy_dot.helpers(), ""),
                          (None, "numpy_dot.py: no memory for a vector of 5 floats\n")):
            err = io.StringIO()
            with contextlib.redirect_stderr(err), \
                    mock.patch.object(numpy_dot, "libc_vector", side_effect=MemoryError):
                status = numpy_dot.run(-1 if lib else 5, lib)
            self.assertEqual((status, err.getvalue()), (255, said))

    def test_a_write_error_is_one_line_and_status_1(self):
        class Full(io.StringIO):
            def write(self, text):
                raise OSError(28, "No space left on device")
        err, saved = io.StringIO(), sys.stdout
        try:
            with contextlib.redirect_stderr(err):
                sys.stdout = Full()
                status = numpy_dot.run(5, None)
        finally:
            sys.stdout = saved
        self.assertEqual((status, err.getvalue()),
                         (1, "numpy_dot.py: write error: No space left on device\n"))

    def test_lengths_past_an_int_are_refused(self):
        err = io.StringIO()
        with contextlib.redirect_stderr(err):
            statuses = [numpy_dot.main(["numpy_dot.py", n]) for n in ("2147483648", "-1", "")]
        self.assertEqual(statuses, [2, 2, 2])


def docs_example():
    """The ctypes example of docs/comparing.md, as it stands there."""
    docs = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "comparing.md")
    with open(docs, encoding="utf-8") as f:
        text = f.read()
    return re.search(r"<!-- tests/python_vectors\.py runs the example below as it stands\. "
                     r"-->\n```python\n(.*?)```", text, re.S).group(1)


class DocsExample(unittest.TestCase):
    def test_a_length_a_c_int_cannot_hold_is_refused(self):
        code = docs_example()
        for given in ("4294967301", "1099511627776", "2147483648", "-1", "\u00b3", "3"):
            with self.subTest(given):
                done = subprocess.run([sys.executable, "-c", code, given], capture_output=True,
                                      text=True, timeout=60)
                if given == "3":
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertTrue(done.stdout.startswith("Resultado: 0.000147"), done.stdout)
                else:
                    self.assertEqual((done.returncode, done.stdout, done.stderr),
                                     (2, "", "usage: mine.py LENGTH\n"))


if __name__ == "__main__":
    unittest.main()
