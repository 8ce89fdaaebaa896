"""Simulation of variance models: the blank's false-positive rate at y_C, the choice of
the model, and the coverage of U with the model's estimation included.

    /usr/bin/python3 python/bench/variance_models.py [runs] [--markdown]
    (default 4000 runs per case)

Limits: noise sigma^2 = 0.05^2 + (0.02 x)^2 on the line y = 0.02 + x, standards at
1, 2, 5, 10, 20, 50, 100 in duplicate, no blank readings.  Each run fits the standards,
computes y_C (ISO 11843-2, alpha = 5 %) and draws one new blank, y = 0.02 + 0.05 N(0, 1);
the rate at which it exceeds y_C should be alpha.  Three ways of getting the blank's
scatter: a 1/x2 weighting with the lowest standard's scatter taken for the blank's (what
the package did before the limits asked for data about the blank), the fitted floor model
sigma^2 = a^2 + b^2 x^2 (its floor with its Satterthwaite degrees of freedom), and the
model chosen automatically.

Choice: 6 levels x 3 replicates on the line y = x, each of the four models true in turn;
the share of runs in which the automatic choice (likelihood-ratio test at alpha = 5 %)
names the true model.  Two designs: levels a factor 6 apart (1 to 7776, about four
decades) and 1, 2, 5, 10, 50, 100 (two decades).

Coverage: in the wide design, with the true model given and with the model chosen
automatically, a new sample read
once at x0 in {10, 100, 3000}: the share of runs with |x^ - x0| <= U, U = k u(x), k
Student's t with the Satterthwaite degrees of freedom of u(x)^2 over the model's
parameters.

Each case has its own fixed seed (numpy's PCG64), so the figures are reproducible.
"""
import os

for _v in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_v, "1")

import math  # noqa: E402
import sys  # noqa: E402
import warnings  # noqa: E402
from pathlib import Path  # noqa: E402

import numpy as np  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import quorvex  # noqa: E402
from quorvex.errors import QuorvexError  # noqa: E402

ALPHA = 0.05
MODELS = ("constant", "proportional", "floor", "power")
WIDE = np.array([1, 6, 36, 216, 1296, 7776], dtype=float)
NARROW = np.array([1, 2, 5, 10, 50, 100], dtype=float)
# The true scatter of each model in the choice and coverage cases (mu = x on y = x).
TRUTH = {
    "constant": lambda x: np.full_like(x, 1.0),
    "proportional": lambda x: 0.02 * x,
    "floor": lambda x: np.sqrt(1.0 + (0.01 * x) ** 2),
    "power": lambda x: 0.05 * np.sqrt(x),
}
NARROW_TRUTH = {
    "constant": lambda x: np.full_like(x, 0.05),
    "proportional": lambda x: 0.02 * x,
    "floor": lambda x: np.sqrt(0.05 ** 2 + (0.02 * x) ** 2),
    "power": lambda x: 0.05 * np.sqrt(x),
}


def se(p, n):
    return math.sqrt(max(p * (1 - p), 1e-12) / n)


def limits_case(runs: int) -> dict:
    rng = np.random.default_rng(20260101)
    lev = np.repeat([1, 2, 5, 10, 20, 50, 100], 2).astype(float)
    sig = np.sqrt(0.05 ** 2 + (0.02 * lev) ** 2)
    hits = {"1/x2, lowest standard's scatter": 0, "floor model": 0, "model chosen": 0}
    used = dict.fromkeys(hits, 0)
    chosen = dict.fromkeys(MODELS, 0)
    for _ in range(runs):
        y = 0.02 + lev + sig * rng.standard_normal(lev.size)
        blank = 0.02 + 0.05 * rng.standard_normal()
        w = quorvex.fit(lev, y, weighting="1/x2")
        old = w.detection_limits(u_blank=float(w.sres * lev.min()))
        for name, yc in (("1/x2, lowest standard's scatter", old.y_critical),):
            used[name] += 1
            hits[name] += blank > yc
        for name, how in (("floor model", "floor"), ("model chosen", "auto")):
            try:
                cal = quorvex.fit(lev, y, variance=how)
                lim = cal.detection_limits()
            except QuorvexError:
                continue  # a model without a floor: limits need blank readings
            if how == "auto":
                chosen[cal.variance_model.model] += 1
            if not math.isfinite(lim.y_critical):
                continue  # no floor seen: the limits are not computed, and say why
            used[name] += 1
            hits[name] += blank > lim.y_critical
    return dict(hits=hits, used=used, chosen=chosen, runs=runs)


def choice_case(levels, truth, runs: int, seed: int) -> dict:
    rng = np.random.default_rng(seed)
    lev = np.repeat(levels, 3)
    out = {}
    for k, name in enumerate(MODELS):
        counts = dict.fromkeys(MODELS, 0)
        sig = truth[name](lev)
        for _ in range(runs):
            y = lev + sig * rng.standard_normal(lev.size)
            counts[quorvex.fit_variance(lev, y).model] += 1
        out[name] = counts
    return out


def coverage_case(runs: int, forced: bool = False) -> dict:
    rng = np.random.default_rng(20260303)
    lev = np.repeat(WIDE, 3)
    x0s = (10.0, 100.0, 3000.0)
    out = {}
    for name in MODELS:
        sig = TRUTH[name]
        s_lev = sig(lev)
        cover = np.zeros(len(x0s))
        normal = np.zeros(len(x0s))
        done = 0
        for _ in range(runs):
            y = lev + s_lev * rng.standard_normal(lev.size)
            ys = np.array(x0s) + sig(np.array(x0s)) * rng.standard_normal(len(x0s))
            try:
                cal = quorvex.fit(lev, y, variance=name if forced else "auto")
                p = cal.inverse(ys)
            except QuorvexError:
                continue
            if not np.all(p.n_roots > 0):
                continue  # a reading beyond the curve's ends has no first-order U
            err = np.abs(p.x - np.array(x0s))
            cover += err <= p.U
            normal += err <= 1.959963984540054 * p.u_x
            done += 1
        out[name] = dict(cover=cover / done, normal=normal / done, runs=done)
    return out


def main(argv):
    runs = int(argv[1]) if len(argv) > 1 and argv[1].isdigit() else 4000
    warnings.simplefilter("ignore")
    lim = limits_case(runs)
    wide = choice_case(WIDE, TRUTH, runs, 20260202)
    narrow = choice_case(NARROW, NARROW_TRUTH, runs, 20260204)
    cov = coverage_case(runs)
    cov_true = coverage_case(runs, forced=True)

    print(f"Blank above y_C (alpha = 5 %), {runs} runs, sigma^2 = 0.05^2 + (0.02 x)^2, "
          "standards 1-100 in duplicate, no blank readings\n")
    print("| blank's scatter from | runs with limits | blank above y_C |")
    print("|---|---|---|")
    for name, h in lim["hits"].items():
        n = lim["used"][name]
        p = h / n
        print(f"| {name} | {n} | {100 * p:.1f} % ± {100 * se(p, n):.1f} |")
    print("\nmodels chosen in that design: " + ", ".join(
        f"{m} {100 * c / runs:.1f} %" for m, c in lim["chosen"].items()))
    for title, tab in (("levels 1, 6, 36, 216, 1296, 7776 (a factor 6 apart)", wide),
                       ("levels 1, 2, 5, 10, 50, 100", narrow)):
        print(f"\nModel chosen, 6 levels x 3 replicates, {title}, {runs} runs per true model\n")
        print("| true model | " + " | ".join(MODELS) + " |")
        print("|---|" + "---|" * len(MODELS))
        for name, counts in tab.items():
            print(f"| {name} | " + " | ".join(
                (f"**{100 * counts[m] / runs:.1f} %**" if m == name else
                 f"{100 * counts[m] / runs:.1f} %") for m in MODELS) + " |")
    for title, tab in (("the true model given", cov_true),
                       ("the model chosen automatically", cov)):
        print(f"\nCoverage of U (95 %), wide design, {title}, one reading at x0\n")
        print("| true model | runs | x0 = 10 | x0 = 100 | x0 = 3000 | with k = 1.96 instead |")
        print("|---|---|---|---|---|---|")
        for name, c in tab.items():
            n = c["runs"]
            print(f"| {name} | {n} | " + " | ".join(
                f"{100 * v:.1f} % ± {100 * se(v, n):.1f}" for v in c["cover"]) +
                " | " + ", ".join(f"{100 * v:.1f}" for v in c["normal"]) + " % |")


if __name__ == "__main__":
    main(sys.argv)
