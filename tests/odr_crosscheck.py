"""Cross-check of GLSPFIT against scipy.odr (ODRPACK) on random
errors-in-variables polynomial data: the same model (Chebyshev basis on the
same interval), weights we = WY^2, wd = WX^2, the same start.

Usage: odr_crosscheck.py path/to/libQUORVEXv1.so
"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from quorvex_ctypes import Quorvex, eiv_data, odr_fit  # noqa: E402

CASES = [  # npts, coefficients, u(x), u(y), seed
    (30, [4.0, 3.0], 0.05, 0.05, 1),
    (50, [4.0, 3.0, 0.2], 0.02, 0.1, 2),
    (80, [2.0, 5.0, 0.5, -0.1], 0.05, 0.02, 3),
    (200, [1.0, 4.0, 0.3, 0.05, -0.02, 0.01], 0.01, 0.01, 4),
]


def main():
    q = Quorvex(sys.argv[1])
    passed = failed = 0
    for npts, coef, ux, uy, seed in CASES:
        ncoef = len(coef)
        x, y, wx, wy = eiv_data(npts, coef, ux, uy, seed)
        g = q.glspfit(x, y, wx, wy, ncoef, 0.0, 10.0, tol=(1e-13, 1e-13), maxit=200)
        o = q.olspfit(x, y, wy, ncoef, 0.0, 10.0)
        r = odr_fit(x, y, wx, wy, o["coef"], 0.0, 10.0)
        ok = g["olstat"] == 0 and 0 <= g["istat"][0] <= 3
        sd = np.sqrt(np.diag(g["cov"]))
        dcoef = np.max(np.abs(g["coef"] - r.beta) / sd)
        dcov = np.max(np.abs(g["cov"] - r.cov_beta) / np.sqrt(np.outer(np.diag(r.cov_beta), np.diag(r.cov_beta))))
        ddelta = np.max(np.abs(-g["delta"] - r.delta) * wx)
        ok = ok and dcoef < 1e-5 and dcov < 1e-5 and ddelta < 1e-5
        print(f"npts={npts:4d} ncoef={ncoef} status={tuple(g['istat'])} odr_info={r.info} "
              f"max|dcoef|/u={dcoef:.2e} max|dcov|(rel)={dcov:.2e} max|ddelta|*wx={ddelta:.2e} "
              f"{'ok' if ok else 'FAIL'}")
        passed += ok
        failed += not ok
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
