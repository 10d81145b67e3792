#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Prints what dotprod prints, with sums that are easy to predict, and lies
the way STANDIN_MODE says: 'flaky' changes the result on the second run
(counted in the file STANDIN_COUNTER), 'drift' makes the sums depend on N,
'hang' writes its pid to STANDIN_PIDFILE and sleeps, 'unreport' removes the report of the GNU time
that runs it, 'short' prints one
line, 'latin1' ends with bytes that are not UTF-8, 'crash' dies of SIGSEGV,
'orphan' leaves a sleeping child behind, its pid in STANDIN_PIDFILE,
and 'escape' one in a session of its own; 'helper' waits for a
double-forked helper that spins for half a second of processor time; 'noisy' writes 1 MB to standard
error and fails, 'flood' prints 70 MiB; 'exact' prints an exact value
(with --orders, the orders' range too), and fails at N = 1000.
Where STANDIN_AT is set, the mode holds at N=STANDIN_AT alone.
STANDIN_TIME replaces the printed seconds.

Run through a symlink named ceiling, it is a ceiling that reads any
length in a nanosecond. Run through a symlink named after one of VERSIONS, it is instead a
candidate that computes dotprod's dot product its own way, right or wrong,
and appends its name and N to the file STANDIN_LOG if that is set; 'jitter'
prints 0.7, 1.0, 1.3 and 1.0 ms in turn, its runs counted in the file
STANDIN_COUNTER; 'two-threads' runs a second thread, undeclared, busy for a
tenth of a second; STANDIN_TIME, where set, is its time."""
import ctypes
import os
import signal
import struct
import sys
import threading
import time


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def vector(n):
    """dotprod's vector: glibc's rand() from seed 0, scaled, as floats."""
    libc = ctypes.CDLL(None)
    libc.srand(0)
    return [f32(libc.rand() / 214748364700.0) for _ in range(n)]


def float_sum(terms, partials=1):
    sums = [0.0] * partials
    for k, x in enumerate(terms):
        sums[k % partials] = f32(sums[k % partials] + f32(x * x))
    total = 0.0
    for s in sums:
        total = f32(total + s)
    return total


VERSIONS = {
    "jitter": lambda v: float_sum(v),
    "two-threads": lambda v: float_sum(v),
    "double": lambda v: sum(x * x for x in v),
    "partials-2": lambda v: float_sum(v, 2),
    "partials-16": lambda v: float_sum(v, 16),
    "skip-last": lambda v: float_sum(v[:-1]),
    "skip-tenth": lambda v: float_sum(v[:len(v) - len(v) // 10]),
}


def jitter(counter):
    """A spread that any four runs in a row show whole: a median's interval
    from six runs is then wide for certain, and narrows with more."""
    runs = int(open(counter).read()) if os.path.exists(counter) else 0
    open(counter, "w").write(str(runs + 1))
    return (0.7e-3, 1.0e-3, 1.3e-3, 1.0e-3)[runs % 4]


def spin(seconds):
    end = time.thread_time() + seconds
    while time.thread_time() < end:
        pass


n = int(sys.argv[-1])  # after --orders, for the exact value
version = os.path.basename(sys.argv[0])
if version == "crash":
    os.kill(os.getpid(), signal.SIGSEGV)
if version == "ceiling":  # a machine that reads any length in a nanosecond
    sys.exit(print("First pass: 0.000000001\nSecond pass: 0.000000001\nResultado: 0.000000\n"
                   "Tiempo: 0.000000001"))
if version in VERSIONS:
    if version == "two-threads":  # busy: seen by the witness, and by sampling every 20 ms
        helper = threading.Thread(target=spin, args=(0.1,))
        helper.start()
        helper.join()
    if "STANDIN_LOG" in os.environ:
        with open(os.environ["STANDIN_LOG"], "a") as log:
            log.write(f"{version} {n}\n")
    print(f"Resultado: {VERSIONS[version](vector(n)):f}")
    # A millisecond: a time no machine's ceiling makes impossible, sanitized or not.
    seconds = jitter(os.environ["STANDIN_COUNTER"]) if version == 'jitter' else 1e-3
    print(f"Tiempo: {os.environ.get('STANDIN_TIME', f'{seconds:.9f}')}")
    sys.exit()

mode = os.environ.get("STANDIN_MODE", "")
if int(os.environ.get("STANDIN_AT", n)) != n:
    mode = ""
if mode == "hang":
    with open(os.environ["STANDIN_PIDFILE"], "w") as f:
        f.write(str(os.getpid()))
    time.sleep(3600)
if mode in ("orphan", "escape"):
    child = os.fork()
    if child == 0:
        if mode == "escape":
            os.setsid()
        # Off the sweep's streams, so that only its ending can end it.
        null = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(null, fd)
        time.sleep(3600)
        os._exit(0)
    with open(os.environ["STANDIN_PIDFILE"], "w") as f:
        f.write(str(child))
if mode == "crash":
    os.kill(os.getpid(), signal.SIGSEGV)
if mode == "helper":
    done_r, done_w = os.pipe()
    if os.fork() == 0:
        if os.fork() == 0:  # the grandchild, soon the sweep's to reap
            while time.process_time() < 0.5:
                pass
            os._exit(0)
        os._exit(0)
    os.close(done_w)
    os.read(done_r, 1)  # the helper's end closes the pipe
if mode == "unreport":  # removes the report its parent, GNU time, is to write
    with open(f"/proc/{os.getppid()}/cmdline", "rb") as f:
        words = f.read().split(b"\0")
    os.unlink(words[words.index(b"-o") + 1])
if mode == "noisy":
    sys.stderr.write("complaint\n" * 100000 + "the last|word\n")
    sys.exit(3)
if mode == "flood":
    sys.stdout.write("x" * (70 * 2**20))
if mode == "exact":
    sys.exit(print(*[n * 1e-6] * (3 if "--orders" in sys.argv else 1)) if n != 1000 else 3)
if mode == "short":
    sys.exit(print("Tiempo: 0.000001"))
if mode == "latin1":
    sys.stdout.buffer.write(b"Resultado: 0.000001 \xe9t\xe9\nTiempo: 0.000001\n")
    sys.exit()
step = 1e-6 * (n if mode == "drift" else 1)
print(n)
for k in range(1, n + 1):
    print(f"sum={k * step:f}")
result = n * step
if mode == "flaky":
    counter = os.environ["STANDIN_COUNTER"]
    runs = int(open(counter).read()) if os.path.exists(counter) else 0
    open(counter, "w").write(str(runs + 1))
    result += 1.0 if runs == 1 else 0.0
print(f"Resultado: {result:f}")
print(f"Tiempo: {os.environ.get('STANDIN_TIME', '0.000001')}")
