# SPDX-License-Identifier: MIT
"""The CI workflow of docs/comparing.md, as far as one machine can run
it: its steps from timing the base on, the comment aside, as they stand
there, in a pull request's tree whose build, and its base's, are this
build. Each step must exit 0 but the gate, which must reach its outcome
(0, 3 or 4); the report must put the before/after comparison first, and
the exports must hold their dashboards' structures.
Needs SWEEP, DOTPROD, EXACT and QUIET in the environment (CEILING where
the sanitized build replaces it)."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path[:0] = [HERE, os.path.join(ROOT, "bench")]

from unit_exports import bmf_faults, github_entry_faults  # noqa: E402

SKIPPED_STEPS = ("Comment",)  # it needs GitHub


def workflow():
    with open(os.path.join(ROOT, "docs", "comparing.md"), encoding="utf-8") as f:
        text = f.read()
    return re.search(r"<!-- tests/sweep/workflow_test\.py runs the steps below[^>]*-->\n"
                     r"```yaml\n(.*?)```", text, re.S).group(1)


def steps(yaml):
    """[(name, shell text)] of the steps with a run, in order: a run is a
    line, or a block (run: |) of the lines indented under it."""
    found, lines = [], yaml.splitlines()
    for k, line in enumerate(lines):
        name = re.match(r"\s*- name: (.*)", line)
        run = re.match(r"(\s*)run: (.*)", lines[k + 1]) if name and k + 1 < len(lines) else None
        if not run:
            continue
        if run.group(2) != "|":
            found.append((name.group(1), run.group(2)))
            continue
        indent, block = len(run.group(1)) + 2, []
        for later in lines[k + 2:]:
            if later.strip() and len(later) - len(later.lstrip()) < indent:
                break
            block.append(later[indent:])
        found.append((name.group(1), "\n".join(block) + "\n"))
    return found


def tree(folder, built):
    """A tree with the sweep and a release build of built programs."""
    release = os.path.join(folder, "build", "release")
    os.makedirs(release)
    # The script copied, for it finds its programs from where it really is.
    bench, sweep = os.path.join(folder, "bench"), os.path.abspath(os.environ["SWEEP"])
    os.makedirs(bench)
    shutil.copy(sweep, bench)
    os.symlink(os.path.join(os.path.dirname(sweep), "dotprod_sweep"),
               os.path.join(bench, "dotprod_sweep"))
    for name, path in built.items():
        os.symlink(path, os.path.join(release, name))


class Workflow(unittest.TestCase):
    def test_its_steps_gate_report_and_export(self):
        built = {"dotprod": os.environ["DOTPROD"], "dotprod-exact": os.environ["EXACT"],
                 "dotprod-quiet": os.environ["QUIET"],
                 "dotprod-simd": os.environ["QUIET"]}  # a candidate that is right
        if os.environ.get("CEILING"):
            built["dotprod-ceiling"] = os.environ["CEILING"]
        found = steps(workflow())
        names = [n for n, _ in found]
        self.assertIn("Time the base", names)
        with tempfile.TemporaryDirectory() as tmp:
            pr, base = os.path.join(tmp, "pr"), os.path.join(tmp, "base")
            tree(pr, {k: os.path.abspath(v) for k, v in built.items()})
            tree(base, {k: os.path.abspath(v) for k, v in built.items()})
            env = {**os.environ, "BASE": "base", "PR": "1", "LENGTHS": "1000,10000",
                   "BUDGET": "5"}
            for name, script in found[names.index("Time the base"):]:
                if name in SKIPPED_STEPS:
                    continue
                done = subprocess.run(["sh", "-ec", script], cwd=pr, env=env,
                                      capture_output=True, text=True, timeout=600)
                with self.subTest(step=name):
                    wanted = (0, 3, 4) if name == "Gate" else (0,)
                    self.assertIn(done.returncode, wanted, done.stdout + done.stderr)
            with open(os.path.join(pr, "report.md"), encoding="utf-8") as f:
                self.assertTrue(f.read().startswith("# Before and after: base.json → pr.json"))
            with open(os.path.join(pr, "benchmark.json"), encoding="utf-8") as f:
                entries = json.load(f)
            self.assertEqual([e for e in entries if github_entry_faults(e)], [])
            self.assertIn("dotprod-simd at N=10^4", [e["name"] for e in entries])
            with open(os.path.join(pr, "bmf.json"), encoding="utf-8") as f:
                self.assertEqual(bmf_faults(json.load(f)), [])


if __name__ == "__main__":
    unittest.main()
