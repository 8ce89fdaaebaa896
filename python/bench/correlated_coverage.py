"""Coverage of u(x) from the fit with correlated standards, and of the same result
with the correlations ignored.

    /usr/bin/python3 python/bench/correlated_coverage.py [runs] [--markdown]
    (default 10000 runs per case; about 20 s on one core)

Design (one per degree: a straight line, a quadratic and a cubic).  Eight standards
are prepared from one stock: a serial dilution 100 -> 50 -> 25 -> 12.5 -> 6.25 (each
step 0.6 % relative standard uncertainty) and three standards straight from the stock
(80, 40, 20; 0.4 % each); the stock's value carries 0.5 % relative standard
uncertainty, common to all eight (ISO 6143 5.4.2: the covariance follows by
propagation along the chain).  The responses carry an independent scatter (u(y) =
0.004 + 0.2 % of the response) and an instrument drift of standard uncertainty 0.02,
common to every standard and to the samples read in the same run.

Each run draws the actual concentrations (the stock's and every step's relative error,
multiplied along each standard's path), the responses on the true curve, the drift and
the readings of three samples at known x (15, 45, 85); fits the curve by generalized
Gauss-Markov regression with the stated covariance (``quorvex.fit_correlated``), reads
the samples back with their covariance shared with the standards (the drift), and
counts how often |x_hat - x| <= U = k u(x), k = 1.96 (the normal quantile: the
covariance is stated, GUM 6.2 and G.6.6).  The same runs, fitted and read with every
correlation ignored (the diagonal of V; the drift as independent scatter of each
sample), give the coverage a laboratory would get by ignoring them.

The draws come from numpy's PCG64 generator with one fixed seed per case, so the
figures are reproducible.  Standard error of a coverage near 95 % over 3 x 10000
readings: about 0.13 % (the three readings of a run share its curve and drift, so
somewhat more).
"""
import os

for _v in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_v, "1")

import sys  # noqa: E402
import time  # noqa: E402
from pathlib import Path  # noqa: E402

import numpy as np  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import quorvex  # noqa: E402

NOMINAL = np.array([100.0, 50.0, 25.0, 12.5, 6.25, 80.0, 40.0, 20.0])
PARENT = [0, 1, 2, 3, 4, 0, 0, 0]
REL = np.array([0.006, 0.006, 0.006, 0.006, 0.006, 0.004, 0.004, 0.004])
STOCK = 0.01
DRIFT = 0.003
SAMPLES_X = np.array([15.0, 45.0, 85.0])
TRUTH = {1: [0.05, 0.012], 2: [0.05, 0.012, -3e-5], 3: [0.05, 0.012, -3e-5, 1.5e-7]}
SEEDS = {1: 3501, 2: 3502, 3: 3503}
K = 1.959963984540054


def curve(a, x):
    return sum(c * x ** k for k, c in enumerate(a))


def u_y(y):
    return 0.004 + 0.002 * np.abs(y)


def run_case(degree: int, runs: int) -> dict:
    rng = np.random.Generator(np.random.PCG64(SEEDS[degree]))
    a = TRUTH[degree]
    y_nominal = curve(a, NOMINAL)
    uy = u_y(y_nominal)
    corr = (quorvex.Correlations(u_x=0.0, u_y=uy)
            .diluted(PARENT, REL, STOCK)
            .source("drift", y=DRIFT, samples=DRIFT))
    v = corr.covariance(NOMINAL)
    us = u_y(curve(a, SAMPLES_X))
    hit = hit_ignoring = total = 0
    for _ in range(runs):
        e_stock = rng.normal(0.0, STOCK)
        steps = rng.normal(0.0, REL)
        actual = np.empty_like(NOMINAL)
        for i in range(NOMINAL.size):
            f, k = 1.0 + e_stock, i + 1
            while k:
                f *= 1.0 + steps[k - 1]
                k = PARENT[k - 1]
            actual[i] = NOMINAL[i] * f
        drift = rng.normal(0.0, DRIFT)
        y = curve(a, actual) + rng.normal(0.0, uy) + drift
        ys = curve(a, SAMPLES_X) + rng.normal(0.0, us) + drift
        cal = quorvex.fit_correlated(NOMINAL, y, corr, degree=degree)
        p = cal.inverse(ys, u_y=us)
        hit += int(np.sum(np.abs(p.x - SAMPLES_X) <= K * p.u_x))
        hit_ignoring += int(np.sum(np.abs(p.x_ignoring - SAMPLES_X) <= K * p.u_x_ignoring))
        total += SAMPLES_X.size
    del v
    return dict(degree=degree, runs=runs, readings=total, coverage=100.0 * hit / total,
                coverage_ignoring=100.0 * hit_ignoring / total,
                se=100.0 * np.sqrt(0.95 * 0.05 / total))


def main(argv):
    runs = int(argv[0]) if argv and argv[0].isdigit() else 10000
    markdown = "--markdown" in argv
    t0 = time.time()
    rows = [run_case(d, runs) for d in (1, 2, 3)]
    names = {1: "straight line", 2: "quadratic", 3: "cubic"}
    if markdown:
        print("| curve | readings | coverage of U, correlations stated | "
              "coverage, correlations ignored | ± s.e. |")
        print("|---|---|---|---|---|")
        for r in rows:
            print(f"| {names[r['degree']]} | {r['readings']} | {r['coverage']:.1f} % | "
                  f"{r['coverage_ignoring']:.1f} % | {r['se']:.1f} % |")
    else:
        for r in rows:
            print(f"{names[r['degree']]:<14} readings {r['readings']:>6}  coverage "
                  f"{r['coverage']:5.1f} %  ignoring correlations {r['coverage_ignoring']:5.1f} %"
                  f"  (s.e. {r['se']:.1f} %)")
    print(f"({time.time() - t0:.0f} s)", file=sys.stderr)


if __name__ == "__main__":
    main(sys.argv[1:])
