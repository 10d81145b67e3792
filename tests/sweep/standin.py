#!/usr/bin/env python3
"""Prints what dotprod prints, with sums that are easy to predict, and lies
the way STANDIN_MODE says: 'flaky' changes the result on the second run
(counted in the file STANDIN_COUNTER), 'drift' makes the sums depend on N,
'hang' writes its pid to STANDIN_PIDFILE and sleeps, 'short' prints one
line, 'latin1' ends with bytes that are not UTF-8. STANDIN_TIME replaces
the printed seconds."""
import os
import sys
import time

n = int(sys.argv[1])
mode = os.environ.get("STANDIN_MODE", "")
if mode == "hang":
    with open(os.environ["STANDIN_PIDFILE"], "w") as f:
        f.write(str(os.getpid()))
    time.sleep(3600)
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
