"""The Python package's results for the cases of test-python.R.

Reads nothing; writes one line per quantity, "case name value value ...",
every value as a hexadecimal float (exact), so that the R test can compare
bits.  The data sets are the example standards and curves drawn the way the
Python package's tests draw them (fixed seeds); their x, y and u are written
too, so R fits exactly the same numbers.
"""
import csv
import inspect
import sys
from pathlib import Path

import numpy as np

import quorvex
from quorvex.diagnostics import detection_limits

standards_csv = Path(sys.argv[1])
# The Python tests' numpy reference of the basis (repository/python/tests), to draw data
# as they do.
sys.path.insert(0, str(standards_csv.resolve().parent.parent / "python" / "tests"))
from refbasis import basis  # noqa: E402


def curve_data(n, coef, u_y, seed, xmin=0.0, xmax=10.0, u_x=None):
    rng = np.random.default_rng(seed)
    x = np.linspace(xmin, xmax, n)
    y = basis(x, len(coef), xmin, xmax) @ np.asarray(coef, float) + u_y * rng.standard_normal(n)
    if u_x is not None:
        x = x + u_x * rng.standard_normal(n)
        x = np.clip(x, xmin, xmax)
    return x, y


def out(case, name, values):
    v = np.atleast_1d(np.asarray(values, dtype=np.float64)).ravel(order="F")
    print(case, name, " ".join(float(a).hex() for a in v))


with standards_csv.open() as f:
    rows = [r for r in csv.reader(line for line in f if not line.startswith("#"))][1:]
std = np.array(rows, dtype=float)
sx, sy, sux, suy = std[:, 0], std[:, 1], std[:, 2], std[:, 3]
pos = sx > 0

cases = {
    # name: (x, y, fit keywords, responses)
    "std_uy": (sx, sy, dict(u_y=suy), [0.085, 0.452, 0.931, 1.305]),
    "std_plain": (sx, sy, dict(), [0.085, 0.452, 0.931, 1.305]),
    "std_quad": (sx, sy, dict(degree=2), [0.085, 0.452, 0.931, 1.305]),
    "std_1x": (sx[pos], sy[pos], dict(weighting="1/x"), [0.2, 0.452, 1.305]),
    "std_1x2": (sx[pos], sy[pos], dict(weighting="1/x2"), [0.2, 0.452, 1.305]),
    "std_gls": (sx, sy, dict(u_y=suy, u_x=sux), [0.085, 0.452, 0.931, 1.305]),
    "std_gls2": (sx, sy, dict(u_y=suy, u_x=sux, degree=2), [0.085, 0.452, 0.931, 1.305]),
}
x3, y3 = curve_data(25, [2.0, 3.0, -1.0, 0.5], 0.05, seed=7)
cases["cubic"] = (x3, y3, dict(u_y=0.05, degree=3), [0.5, 1.0, 2.5, 3.5])
xq, yq = curve_data(40, [1.0, -2.0, 0.6], 0.02, seed=11, xmin=-3.0, xmax=5.0)
cases["falling"] = (xq, yq, dict(degree=2), [-1.0, 0.0, 2.5])
xg, yg = curve_data(30, [4.0, 5.0, 0.3], 0.05, seed=3, u_x=0.04)
cases["gls_drawn"] = (xg, yg, dict(u_y=0.05, u_x=0.04, degree=2), [0.0, 2.0, 5.0, 7.0])

# The reference data sets the Python package ships for its validation, where it has them.
try:
    from quorvex.validation import read_reference
except ImportError:
    read_reference = None
if read_reference is not None:
    for name in ("Norris", "Pontius", "Wampler1", "Wampler2", "Wampler3", "Wampler4", "Wampler5",
                 "ISO28037_6_3_ex1", "ISO28037_7_4", "PearsonYork"):
        try:
            ref = read_reference(name)
        except (OSError, KeyError):
            continue
        t = ref.table("data")
        kw = dict(degree=int(ref.meta("degree")))
        for k in ("u_y", "u_x"):
            if k in t:
                kw[k] = t[k]
        x, y = t["x"], t["y"]
        c = quorvex.fit(x, y, **kw)
        lo, hi = c.interval
        cases["ref_" + name] = (x, y, kw, c.evaluate(lo + (hi - lo) * np.array([0.2, 0.5, 0.8])))

defaults = "replicates" in inspect.signature(quorvex.Calibration.inverse).parameters
print("meta defaults", "0x1.0p+0" if defaults else "0x0.0p+0")
# The verdicts as the R package defines them (fixed thresholds, no acceptance criteria).
verdicts_v1 = "criteria" not in inspect.signature(quorvex.Calibration.diagnostics).parameters
print("meta verdicts", "0x1.0p+0" if verdicts_v1 else "0x0.0p+0")
for case, (x, y, kw, ys) in cases.items():
    out(case, "x", x)
    out(case, "y", y)
    for k in ("u_y", "u_x"):
        if k in kw:
            out(case, k, np.broadcast_to(kw[k], x.shape))
    out(case, "degree", kw.get("degree", 1))
    cal = quorvex.fit(x, y, **kw)
    out(case, "interval", cal.interval)
    out(case, "coef", cal.coef)
    out(case, "cov", cal.cov)
    out(case, "cov_scaled", cal.cov_scaled)
    out(case, "sres", cal.sres)
    out(case, "chi2", cal.chi2)
    out(case, "fitted", cal.fitted)
    ps = cal.power_coefficients()
    out(case, "power", ps.coef)
    out(case, "power_cov", ps.cov)
    out(case, "responses", ys)
    u_stated = np.full(len(ys), 0.004)
    for label, u in (("stated", u_stated), ("curve", 0.0)):
        pred = cal.inverse(ys, u_y=u) if label == "stated" or not defaults else \
            cal.inverse(ys, u_y="curve-only")
        out(case, "inv_x_" + label, pred.x)
        out(case, "inv_ux_" + label, pred.u_x)
        out(case, "inv_cov_" + label, pred.cov)
        if hasattr(pred, "low"):
            out(case, "inv_low_" + label, pred.low)
            out(case, "inv_high_" + label, pred.high)
        if defaults:
            out(case, "inv_k_" + label, pred.k)
            out(case, "inv_dof_" + label, np.broadcast_to(pred.dof, pred.x.shape))
        if hasattr(pred, "flags"):
            out(case, "inv_U_" + label, pred.U)
            out(case, "inv_uy_" + label, pred.u_y)
            out(case, "inv_ucurve_" + label, pred.u_curve)
            out(case, "inv_roots_" + label, pred.roots)
            out(case, "inv_uroots_" + label, pred.u_roots)
            out(case, "inv_nroots_" + label, pred.n_roots)
            out(case, "inv_open_" + label, pred.interval_open)
            out(case, "inv_bits_" + label, pred.flags)
            print(case, f"inv_{label}_source", "|".join(pred.u_y_source).replace(" ", "~"))
    if defaults and cal.covariance == "scaled":
        for m in (1, 3):
            pred = cal.inverse(ys, replicates=m)
            out(case, f"inv_x_scatter{m}", pred.x)
            out(case, f"inv_ux_scatter{m}", pred.u_x)
            out(case, f"inv_uy_scatter{m}", pred.u_y)
            out(case, f"inv_k_scatter{m}", pred.k)
            out(case, f"inv_dof_scatter{m}", np.broadcast_to(pred.dof, pred.x.shape))
            if hasattr(pred, "low"):
                out(case, f"inv_low_scatter{m}", pred.low)
                out(case, f"inv_high_scatter{m}", pred.high)
            if hasattr(pred, "flags"):
                out(case, f"inv_U_scatter{m}", pred.U)
                out(case, f"inv_ucurve_scatter{m}", pred.u_curve)
                out(case, f"inv_open_scatter{m}", pred.interval_open)
                out(case, f"inv_bits_scatter{m}", pred.flags)
                print(case, f"inv_scatter{m}_source",
                      "|".join(pred.u_y_source).replace(" ", "~"))
    if cal.ncoef >= 2 and hasattr(quorvex, "montecarlo"):
        # Monte Carlo with the same seeds as test-python.R: one above 2**63 (its high
        # word negative as a 32-bit integer), 2**53, and a small one; u(y) stated,
        # curve only, and from the scatter where the curve's scale comes from it.
        from quorvex.montecarlo import monte_carlo
        runs = [("mc_stated", dict(u_y=u_stated, seed=18446744073709551557)),
                ("mc_curve", dict(u_y="curve-only", seed=2**53))]
        if cal.covariance == "scaled":
            runs.append(("mc_scatter", dict(replicates=3, seed=5)))
        for label, kw in runs:
            mc = monte_carlo(cal, ys, n=400, level=0.9, **kw)
            for name in ("x", "u_x", "median", "low", "high", "se_low", "se_high", "no_root",
                         "several_roots", "agrees"):
                out(case, f"{label}_{name}", getattr(mc, name))
            print(case, f"{label}_notes", "|".join(mc.notes).replace(" ", "~") or "-")
    lo, hi = cal.interval
    grid = np.linspace(lo, hi, 7)
    out(case, "grid", grid)
    b = cal.band(grid)
    out(case, "band_y", b.y)
    out(case, "band_u", b.u)
    out(case, "band_k", b.k)
    if cal.u_y is None or np.all(cal.u_y == cal.u_y[0]):
        b = cal.band(grid, kind="prediction")
        out(case, "pband_u", b.u)
    dg = cal.diagnostics()
    out(case, "p_value", dg.p_value)
    if not verdicts_v1:
        strict = dict(alpha=0.2, tolerance=5.0, tolerance_lowest=8.0, back_fraction=0.9,
                      cook=0.5)
        for label, crit in (("", None), ("_strict", strict)):
            d = cal.diagnostics(criteria=crit)
            if d.lack_of_fit is not None:
                out(case, "lof" + label, [d.lack_of_fit["f"], d.lack_of_fit["p_value"],
                                          float(d.lack_of_fit["verdict"] == "fail")])
            out(case, "threshold" + label, d.threshold)
            out(case, "outlier_rows" + label, [o["index"] + 1 for o in d.outliers] or [0])
            out(case, "outlier_kind" + label,
                [float(o["outlier"]) + 2 * float(o["influential"]) for o in d.outliers] or [0])
            out(case, "outlier_statistic" + label, [o["statistic"] for o in d.outliers] or [0])
            if d.back_calculated is not None:
                out(case, "back_x" + label, d.back_calculated["x_back"])
            out(case, "levels" + label, [d.levels.get(t, -1.0) for t in
                                         ("goodness", "lack_of_fit", "outliers")])
            out(case, "verdicts" + label,
                [{"pass": 0, "doubtful": 1, "fail": 2, "not tested": 3}[d.goodness],
                 float(d.back_calculated["overall"]) if d.back_calculated else -1.0,
                 float(d.fit_for_use)])
            out(case, "correlation" + label, [d.r, d.r_squared])
    if cal.kind == "ols":
        lo, hi = cal.interval
        width = hi - lo
        # At the blank (0, or the nearer end where 0 lies far outside), a blank a little
        # outside the standards, alpha != beta with replicates, and a stated u_blank.
        blank = 0.0 if lo - 0.25 * width <= 0.0 <= hi + 0.25 * width else lo
        settings = [("lod", dict(blank=blank)),
                    ("lod_out", dict(blank=lo - 0.1 * width)),
                    ("lod_ab", dict(blank=blank, alpha=0.01, beta=0.1, replicates=3, k_loq=2.5)),
                    ("lod_ub", dict(blank=blank, u_blank=0.003))]
        for label, kw in settings:
            try:
                d = detection_limits(cal, **kw)
            except quorvex.InputError:
                continue
            out(case, label, [d.sigma, d.slope, d.lod, d.loq, d.blank, d.sigma_blank, d.s_blank,
                              d.y_critical, d.x_critical, d.x_detection, d.k_alpha, d.delta,
                              float(d.extrapolated), d.loq_din])
            print(case, label + "_source", d.blank_source.replace(" ", "~"))
        if cal.ncoef >= 2:
            # Sample flags: responses across and beyond the curve, with the limits.
            from quorvex.diagnostics import sample_flags
            f0, f1 = cal.evaluate(np.array([lo, hi]))
            span = f1 - f0
            ys = np.array([f0 - 0.3 * span, f0 - 0.001 * span, f0 + 0.002 * span,
                           f0 + 0.05 * span, f0 + 0.5 * span, f1 + 0.3 * span])
            out(case, "flag_y", ys)
            lim = cal.detection_limits(blank=blank)
            u = None if cal.covariance == "scaled" else 0.004
            pred = cal.inverse(ys, u_y=u)
            for i, fl in enumerate(sample_flags(cal, pred, lim)):
                print(case, f"flag_{i}", "|".join(fl).replace(" ", "~") or "-")
            if hasattr(pred, "flags"):
                from quorvex.inverse import flags_with_limits
                out(case, "flag_bits", flags_with_limits(pred, lim))
                out(case, "flag_open", pred.interval_open)
            if cal.ncoef == 2:
                # The straight line's closed form, also beyond the interval.
                pred = cal.inverse(ys, u_y=u, extrapolate=True)
                for name in ("x", "u_x", "k", "dof", "U", "low", "high", "flags"):
                    out(case, "ext_" + name, getattr(pred, name))

# Weights from the responses, a weight column and variance models: the fit, the samples
# read back (u(y) from the model, or a sample's relative u(y)) and the detection limits.
rng = np.random.default_rng(36)
xf = np.repeat([0.0, 1, 2, 5, 10, 20, 50], 3)
yf = 0.05 + 0.8 * xf + rng.normal(0, np.sqrt(0.05**2 + (0.02 * xf) ** 2))
xh = np.repeat([1.0, 2, 5, 10, 20, 50, 100], 2)
yh = 0.02 + 0.97 * xh + rng.normal(0, 0.02 * xh)
wh = 1.0 / xh**1.5
xr = np.linspace(1.0, 40.0, 12)
yr = 0.3 + 1.1 * xr + rng.normal(0, 0.05 + 0.02 * xr)
blanks = np.array([0.031, 0.102, -0.02, 0.055])
weighted = {
    # name: (x, y, fit keywords, responses, inverse keywords)
    "wv_floor": (xf, yf, dict(variance="floor"), [0.06, 4.0, 39.0], dict()),
    "wv_auto": (xf, yf, dict(variance="auto"), [0.06, 4.0, 39.0], dict(replicates=3)),
    "wv_power": (xh, yh, dict(variance="power"), [1.5, 30.0, 90.0], dict()),
    "wv_constant": (xf, yf, dict(variance="constant", degree=2), [0.06, 4.0, 39.0], dict()),
    "wv_resid": (xr, yr, dict(variance="auto"), [2.0, 20.0, 40.0], dict(replicates=2)),
    "ww_1y": (xh, yh, dict(weighting="1/y"), [1.5, 30.0, 90.0],
              dict(u_y_relative=[1.2, 5.5, 9.5])),
    "ww_1y2": (xh, yh, dict(weighting="1/y2"), [1.5, 30.0, 90.0],
               dict(u_y_relative=[1.5, 30.0, 90.0])),
    "ww_col": (xh, yh, dict(weights=wh), [1.5, 30.0, 90.0], dict(u_y=[0.03, 0.6, 1.8])),
}
for case, (x, y, kw, ys, ikw) in weighted.items():
    out(case, "x", x)
    out(case, "y", y)
    if "weights" in kw:
        out(case, "w", kw["weights"])
    out(case, "degree", kw.get("degree", 1))
    cal = quorvex.fit(x, y, **kw)
    out(case, "coef", cal.coef)
    out(case, "cov_used", cal.cov_used)
    out(case, "sres", cal.sres)
    out(case, "u_y", cal.u_y)
    out(case, "responses", ys)
    pred = cal.inverse(ys, **ikw)
    for name in ("x", "u_x", "U", "k", "dof", "low", "high", "u_y", "flags"):
        out(case, "wi_" + name, getattr(pred, name))
    print(case, "wi_source", "|".join(pred.u_y_source).replace(" ", "~"))
    for label, lkw in (("wl", dict(blank=0.0)), ("wl_readings", dict(blank=0.0,
                                                                      blank_readings=blanks))):
        try:
            d = detection_limits(cal, **lkw)
        except quorvex.InputError:
            continue
        out(case, label, [d.sigma, d.slope, d.lod, d.loq, d.blank, d.sigma_blank, d.s_blank,
                          d.y_critical, d.x_critical, d.x_detection, d.k_alpha, d.delta,
                          float(d.extrapolated), d.loq_din])
        print(case, label + "_source", d.blank_source.replace(" ", "~"))
out("wmeta", "blanks", blanks)
