"""Side-by-side timing of one whole generalized fit: GLSPFIT (through ctypes)
against scipy.odr (ODRPACK) on the same data from the same start.

Usage: /usr/bin/python3 bench/odr_compare.py build/libQUORVEXv1.so [npts] [repeats]
"""
import os
import sys
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from quorvex_ctypes import Quorvex, eiv_data, odr_fit  # noqa: E402


def best_of(fn, repeats):
    times = []
    out = None
    for _ in range(repeats):
        t0 = time.perf_counter()
        out = fn()
        times.append(time.perf_counter() - t0)
    return min(times), out


def main():
    q = Quorvex(sys.argv[1])
    npts = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    repeats = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    coef = [4.0, 3.0, 0.2]  # quadratic
    x, y, wx, wy = eiv_data(npts, coef, 0.02, 0.05, 7)
    start = q.olspfit(x, y, wy, 3, 0.0, 10.0)["coef"]

    tq, g = best_of(lambda: q.glspfit(x, y, wx, wy, 3, 0.0, 10.0, tol=(1e-10, 1e-10), maxit=100), repeats)
    to, r = best_of(lambda: odr_fit(x, y, wx, wy, start, 0.0, 10.0, tol=1e-10), repeats)
    sd = np.sqrt(np.diag(g["cov"]))
    print(f"points                 {npts}")
    print(f"GLSPFIT    {tq * 1e3:9.2f} ms  {tq / npts * 1e6:6.3f} us/point  status {tuple(g['istat'])}")
    print(f"scipy.odr  {to * 1e3:9.2f} ms  {to / npts * 1e6:6.3f} us/point  info {r.info}")
    print(f"speed-up   {to / tq:9.2f} x")
    print(f"max |coef difference| / u(coef) = {np.max(np.abs(g['coef'] - r.beta) / sd):.2e}")


if __name__ == "__main__":
    main()
