"""Simulation of the check that a sample's replicate readings agree: how often it flags
readings that do agree (the false-alarm rate, which should be alpha), and how often it
flags a pair of which one reading is off by 5 sigma.

    /usr/bin/python3 python/bench/replicate_check.py [runs] [--markdown]
    (default 4000 calibrations per case; well under a minute)

Each run simulates a straight line of 8 standards (6 degrees of freedom) with constant
scatter sigma, or with the scatter growing like x under a 1/x2 weighting, fits it as the
command line does, and reads 10 samples of m readings each drawn with the same scatter
at a known x.  The readings are combined and checked against the calibration's scatter
at alpha (``quorvex.workflow.check``: s^2 / sigma(x)^2 against F(m - 1, nu), as ISO 5725-2
compares variances).  Under the model the statistic is exactly F-distributed, so the
share flagged should be alpha.  The samples of one calibration share its SRES, so their
flags are correlated: the binomial standard error shown understates the spread.  Fixed
seeds.
"""
import os

for _v in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_v, "1")

import sys  # noqa: E402
from pathlib import Path  # noqa: E402

import numpy as np  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import quorvex  # noqa: E402
from quorvex import workflow  # noqa: E402

X = np.array([1.0, 2, 4, 6, 8, 10, 15, 20])
SAMPLES = np.linspace(2.0, 18.0, 10)


def case(runs, m, alpha, weighting, shift, seed):
    rng = np.random.default_rng(seed)
    flagged = tested = 0
    for _ in range(runs):
        scale = X if weighting else np.ones_like(X)
        y = 3.0 + 2.0 * X + rng.normal(0, 0.2, X.shape) * scale
        cal = quorvex.fit(X, y, weighting=weighting)
        names, ys = [], []
        for k, x in enumerate(SAMPLES):
            s = 0.2 * (x if weighting else 1.0)
            r = 3.0 + 2.0 * x + rng.normal(0, s, m)
            r[0] += shift * s
            names += [f"S{k}"] * m
            ys += r.tolist()
        reps = workflow.combine(names, ys)
        pred = cal.inverse(np.asarray(reps.mean), replicates=reps.count)
        chk = workflow.check(cal, reps, pred.x, pred.flags, alpha=alpha)
        flagged += int(np.count_nonzero(chk["flags"] & 4096))
        tested += len(reps)
    return flagged / tested, tested


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    runs = int(args[0]) if args else 4000
    rows = []
    seed = 3800
    for weighting in (None, "1/x2"):
        for m in (2, 3):
            for alpha in (0.01, 0.05):
                for shift in (0.0, 5.0):
                    seed += 1
                    share, n = case(runs, m, alpha, weighting, shift, seed)
                    se = (alpha * (1 - alpha) / n) ** 0.5
                    rows.append((weighting or "none", m, alpha,
                                 "agree" if shift == 0 else "one off by 5 sigma",
                                 100 * share, 100 * se if shift == 0 else None))
    if "--markdown" in sys.argv:
        print("| weighting | m | alpha | readings | flagged | binomial s.e. at alpha |")
        print("|---|---|---|---|---|---|")
        for w, m, a, what, share, se in rows:
            print(f"| {w} | {m} | {a:g} | {what} | {share:.2f} % | "
                  f"{'' if se is None else f'{se:.2f} %'} |")
    else:
        for r in rows:
            print(*r)


if __name__ == "__main__":
    main()
