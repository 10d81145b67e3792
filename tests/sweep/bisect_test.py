# SPDX-License-Identifier: MIT
"""The bisect recipe of docs/comparing.md, end to end: a repository of
four commits of a small dot product, whose second runs its loop twice
and whose third does not build; `git bisect run` with the documented
script, which times each commit's build against the first commit's in
one sweep, must name the second, from an install and from a source tree,
and each step it skips must say why.
Needs SWEEP, DOTPROD and EXACT in the environment (CEILING where built),
git and a C compiler; exits 77 (skipped) without git or cc."""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
SKIPPED = 77

# dotprod's vectors and float loop, timed alone; REPEATS runs it again.
LOOP = r"""#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define REPEATS 1

static float *vector(int n)
{
    float *v = malloc(sizeof(float) * (n > 0 ? n : 1));
    srand(0);
    for (int i = 0; i < n; i++)
        v[i] = (float)(rand() / 214748364700.0);
    return v;
}

int main(int argc, char **argv)
{
    int n = argc > 1 ? atoi(argv[1]) : 0;
    float *a = vector(n), *b = vector(n), sum = 0.0f;
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (int r = 0; r < REPEATS; r++) {
        sum = 0.0f;
        for (int i = 0; i < n; i++)
            sum += a[i] * b[i];
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    printf("Resultado: %f\nTiempo: %.9f\n", sum,
           (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9);
    return 0;
}
"""
BUILD = "cc -O0 -ffp-contract=off -o loop loop.c"


def recipe():
    """The script docs/comparing.md shows, as it stands there."""
    with open(os.path.join(ROOT, "docs", "comparing.md"), encoding="utf-8") as f:
        text = f.read()
    found = re.search(r"<!-- tests/sweep/bisect_test\.py runs the script below as it stands\. "
                      r"-->\n```sh\n(.*?)```", text, re.S)
    return found.group(1)


def git(repo, *args):
    done = subprocess.run(["git", "-C", repo, "-c", "user.name=Test", "-c",
                           "user.email=test@example.com", *args],
                          capture_output=True, text=True, check=True)
    return done.stdout.strip()


def commit(repo, text, message):
    with open(os.path.join(repo, "loop.c"), "w") as f:
        f.write(text)
    git(repo, "add", "loop.c")
    git(repo, "commit", "-q", "-m", message)
    return git(repo, "rev-parse", "HEAD")


def programs(folder):
    """The built programs, as the sweep finds them in folder."""
    os.makedirs(folder, exist_ok=True)
    for name, variable in (("dotprod", "DOTPROD"), ("dotprod-exact", "EXACT"),
                           ("dotprod-ceiling", "CEILING")):
        if os.environ.get(variable):
            os.symlink(os.path.abspath(os.environ[variable]), os.path.join(folder, name))


def installed(prefix):
    """dotprod-sweep as an install lays it out: bin/ with the programs,
    the package in share/dotprod. Its bin folder."""
    programs(os.path.join(prefix, "bin"))
    share = os.path.join(prefix, "share", "dotprod")
    os.makedirs(share)
    sweep = os.path.abspath(os.environ["SWEEP"])
    os.symlink(os.path.join(os.path.dirname(sweep), "dotprod_sweep"),
               os.path.join(share, "dotprod_sweep"))
    shutil.copy(sweep, os.path.join(prefix, "bin", "dotprod-sweep"))
    return os.path.join(prefix, "bin")


def source_tree(folder):
    """A dotprod source tree's bench/sweep, with its build/release. The
    script itself."""
    programs(os.path.join(folder, "build", "release"))
    bench, sweep = os.path.join(folder, "bench"), os.path.abspath(os.environ["SWEEP"])
    os.makedirs(bench)
    shutil.copy(sweep, bench)
    os.symlink(os.path.join(os.path.dirname(sweep), "dotprod_sweep"),
               os.path.join(bench, "dotprod_sweep"))
    return os.path.join(bench, "sweep")


class Bisect(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.tmp, self.repo = folder.name, os.path.join(folder.name, "repo")
        os.makedirs(self.repo)
        git(self.repo, "init", "-q")
        twice = LOOP.replace("#define REPEATS 1", "#define REPEATS 2")
        self.first = commit(self.repo, LOOP, "a dot product")
        self.slower = commit(self.repo, twice, "the loop, twice")
        self.broken = commit(self.repo, twice.replace("int main", "int main("), "a typo")
        self.last = commit(self.repo, twice + "/* a comment */\n", "the typo mended")
        # The good build, out of the tree that bisect checks out.
        git(self.repo, "checkout", "-q", self.first)
        subprocess.run(BUILD.split(), cwd=self.repo, check=True)
        shutil.copy(os.path.join(self.repo, "loop"), os.path.join(self.tmp, "good-loop"))
        self.script = os.path.join(self.tmp, "bisect-step.sh")
        with open(self.script, "w") as f:
            f.write(recipe())
        self.env = {**os.environ, "GOOD": os.path.join(self.tmp, "good-loop"), "BUILD": BUILD,
                    "NEW": "./loop", "LENGTHS": "100000", "BUDGET": "40",
                    "LOG": os.path.join(self.tmp, "step")}
        del self.env["SWEEP"]

    def step(self, at, **env):
        git(self.repo, "checkout", "-q", at)
        return subprocess.run(["sh", self.script], cwd=self.repo, capture_output=True,
                              text=True, timeout=600, env={**self.env, **env})

    def test_the_recipe_names_the_commit_that_doubled_the_loop(self):
        # From an install, on PATH, and from a source tree, named by SWEEP.
        ways = [{"PATH": installed(os.path.join(self.tmp, "usr")) + os.pathsep
                 + os.environ["PATH"]},
                {"SWEEP": source_tree(os.path.join(self.tmp, "dotprod"))}]
        for way in ways:
            with self.subTest(sweep=way.get("SWEEP", "installed")):
                git(self.repo, "bisect", "start", self.last, self.first)
                done = subprocess.run(
                    ["git", "-C", self.repo, "bisect", "run", "sh", self.script],
                    capture_output=True, text=True, timeout=1200, env={**self.env, **way})
                git(self.repo, "bisect", "reset")
                self.assertIn(f"{self.slower} is the first bad commit", done.stdout,
                              done.stdout + done.stderr)

    def timed_as(self, *times):
        """The good build's result, with times printed in turn from times."""
        path = os.path.join(self.tmp, f"timed-{len(times)}")
        count = path + ".count"
        printed = " ".join(f"'Tiempo: {t}'" for t in times)
        with open(path, "w") as f:
            f.write(f"#!/bin/sh\n{shlex.quote(self.env['GOOD'])} \"$@\" | head -n 1\n"
                    f"k=$(cat {count} 2>/dev/null || echo 0); echo $((k + 1)) > {count}\n"
                    f"set -- {printed}; shift $((k % $#)); echo \"$1\"\n")
        os.chmod(path, 0o755)
        return path

    def test_each_skip_says_why(self):
        path = installed(os.path.join(self.tmp, "usr")) + os.pathsep + os.environ["PATH"]
        wrong = os.path.join(self.tmp, "wrong")
        with open(wrong, "w") as f:
            f.write("#!/bin/sh\nprintf 'Resultado: 9.000000\\nTiempo: 0.000100000\\n'\n")
        os.chmod(wrong, 0o755)
        steady, wavering = self.timed_as("0.001000000"), self.timed_as("0.001000000", "0.001500000")
        cases = [(self.broken, {}, "it does not build", "error"),
                 # Half its rounds 1.5 times old's: its interval holds 1.2 at every round.
                 (self.first, {"GOOD": steady, "NEW": wavering, "BUILD": "true",
                               "LENGTHS": "1000", "BUDGET": "3"},
                  "the gate cannot tell", "gate cannot tell at N=10^3"),
                 (self.first, {"NEW": wrong, "BUILD": "true", "LENGTHS": "1000", "BUDGET": "5"},
                  "a build is wrong, impossible or failed", "sweep: new is wrong at N="),
                 # No sweep to run: bisect stops, and says so.
                 (self.first, {"SWEEP": os.path.join(self.tmp, "nowhere")}, None,
                  "nowhere exited 127")]
        for at, env, why, said in cases:
            with self.subTest(why=why):
                done = self.step(at, PATH=path, **env)
                short = git(self.repo, "rev-parse", "--short", at)
                self.assertEqual(done.returncode, 128 if why is None else 125, done.stderr)
                if why:
                    self.assertIn(f"bisect-step: skipping {short}: {why}", done.stderr)
                self.assertIn(said, done.stderr)


if __name__ == "__main__":
    if not (shutil.which("git") and shutil.which("cc")):
        print("bisect_test: needs git and cc: skipped")
        sys.exit(SKIPPED)
    unittest.main()
