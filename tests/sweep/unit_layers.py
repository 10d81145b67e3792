# SPDX-License-Identifier: MIT
"""The package's layers, read from its source: every module's layer is
its folder, a module imports only from its own layer and those before
it, docs/contributing.md maps the same folders and modules, and every
module and function stays short enough to read in one sitting."""
import ast
import functools
import os
import re
import unittest

from dotprod_sweep import LAYERS

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = os.path.join(HERE, "..", "..", "bench", "dotprod_sweep")
CONTRIBUTING = os.path.join(HERE, "..", "..", "docs", "contributing.md")
# The root's modules: below every layer, and above them all.
BELOW, ABOVE = ("__init__", "messages"), ("main",)


@functools.lru_cache(maxsize=1)
def modules():
    """{(folder, module): its parsed source} of every module of the
    package, its root's under the folder ''."""
    found = {}
    for folder, _, files in os.walk(PACKAGE):
        inside = os.path.relpath(folder, PACKAGE)
        for name in files:
            if name.endswith(".py"):
                with open(os.path.join(folder, name)) as f:
                    found[("" if inside == "." else inside, name[:-3])] = ast.parse(f.read())
    return found


def rank(folder, module):
    """Where a module stands: its layer's place, the root's below or above
    them all; None for a module that has no place."""
    if folder:
        return LAYERS.index(folder) if folder in LAYERS else None
    return -1 if module in BELOW else len(LAYERS) if module in ABOVE else None


def imported(folder, tree):
    """(folder, module) of each of the package's modules a module imports."""
    found = set()
    for node in ast.walk(tree):
        if not isinstance(node, ast.ImportFrom) or node.level == 0:
            continue
        parts = (node.module or "").split(".") if node.module else []
        if node.level == 1 and folder:
            found |= {(folder, parts[0])} if parts else {(folder, a.name) for a in node.names}
        elif not parts:  # from .. import __version__
            found |= {("", "__init__")}
        elif parts[0] in LAYERS:
            found |= {(parts[0], parts[1])} if len(parts) > 1 else \
                {(parts[0], a.name) for a in node.names}
        else:
            found |= {("", parts[0])}
    return found


class Layers(unittest.TestCase):
    def test_every_module_has_a_layer(self):
        self.assertEqual([m for m in modules() if rank(*m) is None], [])

    def test_imports_run_down_the_layers(self):
        for (folder, module), tree in sorted(modules().items()):
            own = rank(folder, module)
            for target in sorted(imported(folder, tree)):
                with self.subTest(module=f"{folder}/{module}", imports=target):
                    self.assertIn(target, modules())
                    self.assertLessEqual(rank(*target), own)

    def test_the_map_in_the_docs_is_the_package(self):
        with open(CONTRIBUTING) as f:
            rows = re.findall(r"^\| `(\w+)/` \| ([^|]+) \|", f.read(), re.M)
        # Each module is named first in its item, what it does in brackets after.
        mapped = {folder: set(re.findall(r"`(\w+)`", re.sub(r"\([^()]*\)", "", cell)))
                  for folder, cell in rows}
        self.assertEqual([folder for folder, _ in rows], list(LAYERS))
        for folder in LAYERS:
            with self.subTest(folder):
                self.assertEqual(mapped[folder], {m for f, m in modules()
                                                  if f == folder and m != "__init__"})

    def test_each_layer_says_what_it_holds(self):
        for folder in LAYERS:
            with self.subTest(folder):
                self.assertTrue(ast.get_docstring(modules()[(folder, "__init__")]))

    def test_modules_and_functions_read_in_one_sitting(self):
        for (folder, module), tree in modules().items():
            with self.subTest(f"{folder}/{module}"):
                self.assertLess(max((n.end_lineno for n in tree.body), default=0), 400)
                long = [f"{f.name} ({f.end_lineno - f.lineno + 1} lines)"
                        for f in ast.walk(tree) if isinstance(f, ast.FunctionDef)
                        and f.end_lineno - f.lineno + 1 > 60]
                self.assertEqual(long, [])


if __name__ == "__main__":
    unittest.main()
