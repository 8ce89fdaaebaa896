"""How often can any verdict see one standard moved by 5 sigma?  A reference figure for
the outlier rows of ``verdicts.py``; and the errors-in-variables outlier test measured
through the package.

    /usr/bin/python3 python/bench/outlier_power.py [runs] [eiv_runs]
    (defaults 20000 and 2000; about a minute)

For the designs of ``verdicts.py`` whose scatter is estimated from the standards
themselves, one standard is moved by ``shift`` standard deviations (random sign) and the
single-outlier test is applied with the WHOLE overall alpha of 5 % spent on it: the
largest externally studentized residual against its Bonferroni threshold
t(1 - alpha / (2 n), n - p - 1).  This is the likelihood-ratio test for one shifted
observation at an unknown place, so no verdict that keeps its false-rejection rate at 5 %
can do much better; the package's verdict, which shares alpha with the goodness-of-fit
and lack-of-fit tests, sits a little below these figures.  Weighted designs are judged in
the weighted (homoscedastic) scale.  Pure numpy and scipy: the package is not used, so the
figure is independent of its code.  Fixed seed per design.

Errors in variables (``eiv``): calibrations with stated u(x) and u(y) are simulated from a
true line and fitted as users fit them (``quorvex.fit(x, y, u_y=..., u_x=...)``); the
outlier criterion of ``cal.diagnostics()`` is counted on correct data (its own null rate,
to compare with its share of alpha, ``d.levels["outliers"]``) and with one standard's
response moved by 5 combined standard deviations sqrt(u(y)^2 + b^2 u(x)^2) (random
sign).  The test: each standard's combined normalized residual over sqrt(1 - h).
"""
import sys
import warnings
from pathlib import Path

import numpy as np
from scipy import stats

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

ALPHA = 0.05


def power(x, sd, fault_at, shift, degree, runs, seed):
    rng = np.random.default_rng(seed)
    w = 1.0 / sd
    X = np.vander(x, degree + 1, increasing=True) * w[:, None]
    n, p = X.shape
    H = X @ np.linalg.pinv(X)
    h = np.diag(H)
    crit = stats.t.ppf(1 - ALPHA / (2 * n), n - p - 1)
    hits = 0
    for _ in range(runs):
        z = rng.standard_normal(n)                      # weighted scale: unit variance
        z[fault_at] += shift * rng.choice((-1.0, 1.0))
        e = z - H @ z
        s2 = e @ e / (n - p)
        s2i = ((n - p) * s2 - e ** 2 / (1 - h)) / (n - p - 1)
        hits += np.abs(e / np.sqrt(s2i * (1 - h))).max() > crit
    return hits / runs


def eiv_rates(x, ux, uy, b, at, shift, covariance, runs, seed):
    """(null rate of the outlier criterion, its mean share of alpha, rate with one standard
    moved by ``shift`` combined sd, overall false rejection) over ``runs`` calibrations."""
    import quorvex
    rng = np.random.default_rng(seed)
    ueff = np.sqrt(uy ** 2 + (b * ux) ** 2)
    null = caught = rejected = 0
    share = 0.0
    for moved in (False, True):
        for _ in range(runs):
            xs = x + ux * rng.standard_normal(x.size)
            ys = 0.2 + b * x + uy * rng.standard_normal(x.size)
            if moved:
                ys[at] += shift * ueff[at] * rng.choice((-1.0, 1.0))
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                d = quorvex.fit(xs, ys, u_y=uy, u_x=ux, covariance=covariance).diagnostics()
            hit = "outliers" in d.failed
            if moved:
                caught += hit
            else:
                null += hit
                rejected += not d.fit_for_use
                share += d.levels.get("outliers", float("nan"))
    return null / runs, share / runs, caught / runs, rejected / runs


def eiv_main(runs=2000):
    x10 = np.linspace(1.0, 10.0, 10)
    x8 = np.linspace(1.0, 8.0, 8)
    designs = [
        ("line, 10 standards, u(y) 0.1, u(x) 0.05, stated", x10, np.full(10, 0.05),
         np.full(10, 0.1), 1.0, 4, "stated"),
        ("line, 8 standards, u(y) 0.1, u(x) 0.1, slope 2, stated", x8, np.full(8, 0.1),
         np.full(8, 0.1), 2.0, 3, "stated"),
        ("line, 10 standards, u(y) 0.1, u(x) 0.05, scaled", x10, np.full(10, 0.05),
         np.full(10, 0.1), 1.0, 4, "scaled"),
    ]
    print("| errors in variables | null rate of the outlier test | its share of α "
          "| 5σ outlier caught | run rejected (correct data) |")
    print("|---|---:|---:|---:|---:|")
    for k, (name, x, ux, uy, b, at, cov) in enumerate(designs):
        null, share, caught, rej = eiv_rates(x, ux, uy, b, at, 5.0, cov, runs, 300 + k)
        se = np.sqrt(max(null * (1 - null), 1e-12) / runs)
        print(f"| {name} | {100 * null:.1f} % ± {100 * se:.1f} | {100 * share:.2f} % "
              f"| {100 * caught:.1f} % | {100 * rej:.1f} % |")


def main(runs=20000):
    ten = np.linspace(1.0, 10.0, 10)
    seven3 = np.repeat([1.0, 2.5, 4.0, 5.5, 7.0, 8.5, 10.0], 3)
    wide2 = np.repeat([1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0, 200.0], 2)
    designs = [
        ("line, unweighted, 10 standards", ten, np.ones(10), 4, 1),
        ("line, unweighted, 7 levels in triplicate", seven3, np.ones(21), 10, 1),
        ("line, 1/x², 2 % RSD, 8 levels in duplicate", wide2, 0.02 * wide2, 8, 1),
    ]
    print("| design | 5σ outlier | 6σ outlier |")
    print("|---|---|---|")
    for k, (name, x, sd, at, deg) in enumerate(designs):
        p5 = power(x, sd, at, 5.0, deg, runs, 100 + k)
        p6 = power(x, sd, at, 6.0, deg, runs, 200 + k)
        print(f"| {name} | {100 * p5:.1f} % | {100 * p6:.1f} % |")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 20000)
    print()
    eiv_main(int(sys.argv[2]) if len(sys.argv) > 2 else 2000)
