#!/usr/bin/env python3
"""Prints what dotprod prints, with sums that are easy to predict, and lies
the way STANDIN_MODE says: 'flaky' changes the result on the second run
(counted in the file STANDIN_COUNTER), 'drift' makes the sums depend on N."""
import os
import sys

n = int(sys.argv[1])
mode = os.environ.get("STANDIN_MODE", "")
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
print("Tiempo: 0.000001")
