"""How often can any verdict see one standard moved by 5 sigma?  A reference figure for
the outlier rows of ``verdicts.py``.

    /usr/bin/python3 python/bench/outlier_power.py [runs]     (default 20000; a few seconds)

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
"""
import sys

import numpy as np
from scipy import stats

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
