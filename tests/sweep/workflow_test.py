# SPDX-License-Identifier: MIT
"""The CI workflows of docs/comparing.md, as far as one machine can run
them: their steps from timing the base on, the comment aside, as they
stand there. The project's own, in a pull request's tree whose build,
and its base's, are this build; and one for a candidate in another
repository, with dotprod checked out inside it, whose base and pull
request are two commits. Each step must exit 0 but the gate, which must
reach its outcome (0, 3 or 4); the report must put the before/after
comparison first, titled by the commits where each run recorded its
own, and the exports must hold their dashboards' structures.
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


def workflows():
    """Each workflow the page says this test runs, in order."""
    with open(os.path.join(ROOT, "docs", "comparing.md"), encoding="utf-8") as f:
        text = f.read()
    return re.findall(r"<!-- tests/sweep/workflow_test\.py runs the steps below[^>]*-->\n"
                      r"```yaml\n(.*?)```", text, re.S)


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


def git(folder, *args):
    done = subprocess.run(["git", "-C", folder, "-c", "user.name=Test", "-c",
                           "user.email=test@example.com", *args],
                          capture_output=True, text=True, check=True)
    return done.stdout.strip()


def repository(folder, text):
    """A git tree of one commit whose candidate, mine, is a right program
    (built, and so not tracked); its commit."""
    os.makedirs(folder)
    git(folder, "init", "-q")
    with open(os.path.join(folder, "mine.c"), "w") as f:
        f.write(text)
    git(folder, "add", "mine.c")
    git(folder, "commit", "-q", "-m", text)
    os.symlink(os.path.abspath(os.environ["QUIET"]), os.path.join(folder, "mine"))
    return git(folder, "rev-parse", "HEAD")


def run_steps(test, found, cwd, env):
    """Runs the steps from "Time the base" on, each as a subtest."""
    names = [n for n, _ in found]
    test.assertIn("Time the base", names)
    for name, script in found[names.index("Time the base"):]:
        if name in SKIPPED_STEPS:
            continue
        done = subprocess.run(["sh", "-ec", script], cwd=cwd, env=env,
                              capture_output=True, text=True, timeout=600)
        with test.subTest(step=name):
            wanted = (0, 3, 4) if name == "Gate" else (0,)
            test.assertIn(done.returncode, wanted, done.stdout + done.stderr)


def exported(test, folder, name):
    """The exports hold their dashboards' structures, and an entry for name."""
    with open(os.path.join(folder, "benchmark.json"), encoding="utf-8") as f:
        entries = json.load(f)
    test.assertEqual([e for e in entries if github_entry_faults(e)], [])
    test.assertIn(name, [e["name"] for e in entries])
    with open(os.path.join(folder, "bmf.json"), encoding="utf-8") as f:
        test.assertEqual(bmf_faults(json.load(f)), [])


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
    def built(self):
        built = {"dotprod": os.environ["DOTPROD"], "dotprod-exact": os.environ["EXACT"],
                 "dotprod-quiet": os.environ["QUIET"],
                 "dotprod-simd": os.environ["QUIET"]}  # a candidate that is right
        if os.environ.get("CEILING"):
            built["dotprod-ceiling"] = os.environ["CEILING"]
        return {k: os.path.abspath(v) for k, v in built.items()}

    def test_its_steps_gate_report_and_export(self):
        with tempfile.TemporaryDirectory() as tmp:
            pr, base = os.path.join(tmp, "pr"), os.path.join(tmp, "base")
            tree(pr, self.built())
            tree(base, self.built())
            env = {**os.environ, "BASE": "base", "PR": "1", "LENGTHS": "1000,10000",
                   "BUDGET": "5"}
            run_steps(self, steps(workflows()[0]), pr, env)
            with open(os.path.join(pr, "report.md"), encoding="utf-8") as f:
                self.assertTrue(f.read().startswith("# Before and after: base.json → pr.json"))
            exported(self, pr, "dotprod-simd at N=10^4")

    def test_a_candidate_in_another_repository(self):
        with tempfile.TemporaryDirectory() as tmp:
            pr, base = os.path.join(tmp, "pr"), os.path.join(tmp, "base")
            old, new = repository(base, "/* the base */"), repository(pr, "/* the change */")
            tree(os.path.join(pr, "dotprod"), self.built())
            env = {**os.environ, "BASE": old, "PR": "1", "LENGTHS": "1000,10000", "BUDGET": "5",
                   "GITHUB_WORKSPACE": pr, "SWEEP": os.path.join(pr, "dotprod", "bench", "sweep"),
                   "QUIET": os.path.join(pr, "dotprod", "build", "release", "dotprod-quiet")}
            run_steps(self, steps(workflows()[1]), pr, env)
            with open(os.path.join(pr, "report.md"), encoding="utf-8") as f:
                page = f.read()
            self.assertTrue(page.startswith(f"# Before and after: commit {old[:7]} → commit "
                                            f"{new[:7]}\n\n## The candidates\n"), page[:200])
            self.assertNotIn("mine's files", page)  # the same program in both
            exported(self, pr, "mine at N=10^4")


if __name__ == "__main__":
    unittest.main()
