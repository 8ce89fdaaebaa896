"""Reading responses back in bulk: x, u(x), U, k, dof, the inversion interval and the
flags of 100 000 responses per call, CPU microseconds per response (best of 5).

    PYTHONPATH=python QUORVEX_LIBRARY=build/libQUORVEXv1.so /usr/bin/python3 python/bench/readback.py

Cases: a straight line and a quadratic fitted unweighted to 10 standards, and a
quadratic under 1/x2 weighting; u(y) from the scatter (one k for every response), stated
(every response its own Welch-Satterthwaite dof, so its own t quantile) and curve only.
"""
import time

import numpy as np

import quorvex

N = 100_000


def best(f, runs=5):
    t = []
    for _ in range(runs):
        t0 = time.process_time()
        f()
        t.append(time.process_time() - t0)
    return min(t)


def main() -> None:
    x = np.arange(1.0, 11.0)
    rng = np.random.default_rng(20261208)
    y = 0.5 + 2.0 * x + 0.01 * x**2 + rng.normal(0.0, 0.05, x.size)
    print(f"{'curve':<22} {'u(y)':<14} us/response")
    for name, kw in (("line", dict(degree=1)), ("quadratic", dict(degree=2)),
                     ("quadratic, 1/x2", dict(degree=2, weighting="1/x2"))):
        cal = quorvex.fit(x, y, **kw)
        ys = np.linspace(cal(1.5), cal(9.5), N)
        for label, uy in (("from scatter", None), ("stated", 0.05),
                          ("curve only", "curve-only")):
            def run():
                p = cal.inverse(ys, uy)
                return p.x, p.u_x, p.U, p.k, p.dof, p.low, p.high, p.flags
            print(f"{name:<22} {label:<14} {best(run) / N * 1e6:8.2f}")


if __name__ == "__main__":
    main()
