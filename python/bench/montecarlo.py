"""Times the Monte Carlo inverse prediction: draws x responses on curves of degree 1 to 3.

    /usr/bin/python3 python/bench/montecarlo.py [draws] [responses]   (default 10000 100)

For each degree it fits standards with stated uncertainties, inverts ``responses``
responses spread over the curve's range with ``method="monte-carlo"`` and ``draws``
draws, on one thread and on two, and prints the best wall and CPU time of 5 repeats
and how many responses first order was confirmed for.  The library is found as the
package finds it (QUORVEX_LIBRARY, or build/ of the source tree).
"""
import sys
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
import quorvex  # noqa: E402
from refbasis import basis  # noqa: E402  (the tests' numpy reference, to draw data)

SHAPES = [("line", [4.0, 3.0]), ("quadratic", [4.0, 3.0, 0.2]), ("cubic", [2.0, 5.0, 0.5, -0.1])]
REPEATS = 5


def main(argv):
    draws = int(float(argv[1])) if len(argv) > 1 else 10_000
    m = int(float(argv[2])) if len(argv) > 2 else 100
    rng = np.random.default_rng(1)
    print(f"{draws} draws x {m} responses; best of {REPEATS}")
    print(f"{'curve':<10} {'threads':>7} {'wall s':>8} {'cpu s':>8} {'confirmed':>10}")
    for name, coef in SHAPES:
        x = np.linspace(0.0, 10.0, 12)
        y = basis(x, len(coef), 0.0, 10.0) @ np.array(coef) + 0.02 * rng.standard_normal(12)
        cal = quorvex.fit(x, y, u_y=0.02, degree=len(coef) - 1)
        ys = np.linspace(cal(0.5), cal(9.5), m)
        for workers in (1, 2):
            wall, cpu = np.inf, np.inf
            for rep in range(REPEATS):
                t, c = time.perf_counter(), time.process_time()
                mc = cal.inverse(ys, u_y=0.02, method="monte-carlo", n=draws, seed=rep,
                                 workers=workers)
                wall = min(wall, time.perf_counter() - t)
                cpu = min(cpu, time.process_time() - c)
            print(f"{name:<10} {workers:>7} {wall:>8.3f} {cpu:>8.3f} "
                  f"{int(mc.agrees.sum()):>6}/{m}")


if __name__ == "__main__":
    main(sys.argv)
