# SPDX-License-Identifier: MIT
"""The bisect recipe of docs/comparing.md, end to end: a repository of
three commits of a small dot product, whose second runs its loop twice;
`git bisect run` with the documented script, which times each commit's
build against the first commit's in one sweep, must name the second.
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


def launcher(folder):
    """dotprod-sweep on PATH, as installed, running this tree's sweep with
    the built programs."""
    def given(name):
        return os.path.abspath(os.environ[name])
    words = [sys.executable, given("SWEEP"), "--binary", given("DOTPROD"),
             "--exact", given("EXACT")]
    words += ["--ceiling", given("CEILING")] if os.environ.get("CEILING") else []
    path = os.path.join(folder, "dotprod-sweep")
    with open(path, "w") as f:
        f.write(f"#!/bin/sh\nexec {shlex.join(words)} \"$@\"\n")
    os.chmod(path, 0o755)


class Bisect(unittest.TestCase):
    def test_the_recipe_names_the_commit_that_doubled_the_loop(self):
        with tempfile.TemporaryDirectory() as tmp:
            repo, tools = os.path.join(tmp, "repo"), os.path.join(tmp, "bin")
            os.makedirs(repo)
            os.makedirs(tools)
            launcher(tools)
            git(repo, "init", "-q")
            first = commit(repo, LOOP, "a dot product")
            slower = commit(repo, LOOP.replace("#define REPEATS 1", "#define REPEATS 2"),
                            "the loop, twice")
            last = commit(repo, LOOP.replace("#define REPEATS 1", "#define REPEATS 2")
                          + "/* a comment */\n", "a comment")
            # The good build, out of the tree that bisect checks out.
            git(repo, "checkout", "-q", first)
            subprocess.run(BUILD.split(), cwd=repo, check=True)
            shutil.copy(os.path.join(repo, "loop"), os.path.join(tmp, "good-loop"))
            with open(os.path.join(tmp, "bisect-step.sh"), "w") as f:
                f.write(recipe())
            git(repo, "bisect", "start", last, first)
            done = subprocess.run(
                ["git", "-C", repo, "bisect", "run", "sh", os.path.join(tmp, "bisect-step.sh")],
                capture_output=True, text=True, timeout=1200,
                env={**os.environ, "PATH": tools + os.pathsep + os.environ["PATH"],
                     "GOOD": os.path.join(tmp, "good-loop"), "BUILD": BUILD,
                     "NEW": "./loop", "LENGTHS": "100000", "BUDGET": "40"})
            self.assertIn(f"{slower} is the first bad commit", done.stdout,
                          done.stdout + done.stderr)


if __name__ == "__main__":
    if not (shutil.which("git") and shutil.which("cc")):
        print("bisect_test: needs git and cc: skipped")
        sys.exit(SKIPPED)
    unittest.main()
