"""Measures how far the default tolerances of the errors-in-variables fit leave the
coefficients from the fully converged solution, at 10 to 10^6 points.

    /usr/bin/python3 python/bench/tolerances.py [max_points]   (default 1000000)

For each size and curve shape it fits with the defaults and with TOL = (1e-300,
1e-300) and 200 iterations (the minimizer runs until the sum of squares no longer
decreases in floating point: the fully converged solution), and prints
max_k |c_k(default) - c_k(converged)| / u(c_k), the statuses and the iterations.
"""
import sys
import time
import warnings
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
import quorvex  # noqa: E402
from refbasis import basis  # noqa: E402  (the tests' numpy reference, to draw data)

SHAPES = [  # name, scaled coefficients on [0, 10], u_x, u_y
    ("line", [4.0, 3.0], 0.05, 0.05),
    ("quadratic", [4.0, 3.0, 0.2], 0.02, 0.1),
    ("cubic", [2.0, 5.0, 0.5, -0.1], 0.05, 0.02),
]


def data(n, coef, ux, uy, seed):
    rng = np.random.default_rng(seed)
    xt = np.linspace(0.5, 9.5, n)
    yt = basis(xt, len(coef), 0.0, 10.0) @ np.asarray(coef)
    return xt + ux * rng.standard_normal(n), yt + uy * rng.standard_normal(n)


def main():
    top = int(float(sys.argv[1])) if len(sys.argv) > 1 else 10**6
    sizes = [n for n in (10, 100, 1000, 10**4, 10**5, 2 * 10**5, 10**6) if n <= top]
    print(f"{'points':>8} {'shape':>10} {'max|dc|/u':>10} {'status':>6} {'it':>3} "
          f"{'ref status':>10} {'ref it':>6} {'t default':>10} {'t ref':>8}")
    worst = 0.0
    for n in sizes:
        for k, (name, coef, ux, uy) in enumerate(SHAPES):
            x, y = data(n, coef, ux, uy, 1000 * k + n % 997)
            t0 = time.perf_counter()
            cal = quorvex.fit(x, y, u_y=uy, u_x=ux, degree=len(coef) - 1)
            t1 = time.perf_counter()
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", quorvex.ConvergenceWarning)
                ref = quorvex.fit(x, y, u_y=uy, u_x=ux, degree=len(coef) - 1, tol=1e-300,
                                  maxit=200, accept_unconverged=True)
            t2 = time.perf_counter()
            d = float(np.max(np.abs(cal.coef - ref.coef) / np.sqrt(np.diag(ref.cov))))
            worst = max(worst, d)
            print(f"{n:>8} {name:>10} {d:>10.2e} {cal.status:>6} {cal.iterations:>3} "
                  f"{ref.status:>10} {ref.iterations:>6} {t1 - t0:>9.3f}s {t2 - t1:>7.3f}s",
                  flush=True)
    print(f"worst max|dc|/u = {worst:.2e}")


if __name__ == "__main__":
    main()
