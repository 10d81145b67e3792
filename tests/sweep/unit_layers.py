# SPDX-License-Identifier: MIT
"""The package's floors, read from its source: the model and the views
never reach a module that starts a process or handles a signal, the
model says no words, and every module and function stays short enough to
read in one sitting."""
import ast
import os
import unittest

PACKAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench",
                       "dotprod_sweep")
# What starts processes, handles signals or reads the machine.
PROCESSES = {"runner", "session", "ranks", "measure", "drawing", "machine", "main", "safely"}
MODEL = {"model", "summaries", "flags", "ceilings", "evidence", "verdict", "stats", "plan",
         "comparison", "runs", "printed", "launchers", "changepoints", "history",
         "rank_interval"}
VIEWS = {"table", "columns", "document", "plot", "words", "comparison_view", "text", "svg",
         "charts", "report", "report_blocks"}


def parse(name):
    with open(os.path.join(PACKAGE, name)) as f:
        return ast.parse(f.read())


def parsed():
    return {name[:-3]: parse(name) for name in sorted(os.listdir(PACKAGE)) if name.endswith(".py")}


def imports(tree):
    """The package's modules that a module imports directly."""
    found = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.level == 1:
            found |= {node.module} if node.module else {a.name for a in node.names}
    return found


def reached(graph, start):
    seen, todo = set(), [start]
    while todo:
        for name in graph.get(todo.pop(), ()):
            if name not in seen:
                seen.add(name)
                todo.append(name)
    return seen


class Floors(unittest.TestCase):
    def test_no_view_or_figure_starts_a_process(self):
        graph = {name: imports(tree) for name, tree in parsed().items()}
        self.assertLessEqual(MODEL | VIEWS, set(graph), "a module of a floor is gone")
        for name in sorted(MODEL | VIEWS):
            with self.subTest(name):
                self.assertEqual(reached(graph, name) & PROCESSES, set())

    def test_the_model_says_no_words(self):
        graph = {name: imports(tree) for name, tree in parsed().items()}
        for name in sorted(MODEL):
            with self.subTest(name):
                self.assertEqual(reached(graph, name) & {"words", "saved", "table", "columns"},
                                 set())

    def test_modules_and_functions_read_in_one_sitting(self):
        for name, tree in parsed().items():
            with self.subTest(name):
                self.assertLess(max(n.end_lineno for n in tree.body), 400)
                long = [f"{f.name} ({f.end_lineno - f.lineno + 1} lines)"
                        for f in ast.walk(tree) if isinstance(f, ast.FunctionDef)
                        and f.end_lineno - f.lineno + 1 > 60]
                self.assertEqual(long, [])


if __name__ == "__main__":
    unittest.main()
