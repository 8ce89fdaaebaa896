"""Every number the Python package derives from a fit, for a fixed set of cases.

    derived_dump.py dump OUT                     write one line per derived quantity
    derived_dump.py compare OLD NEW [--rtol R]   list the quantities that differ

``dump`` uses the package it imports (run it with PYTHONPATH=python) and the library
that package loads (QUORVEX_LIBRARY).  A line is `case<TAB>quantity<TAB>values`; the
values carry a one-letter kind:

    r:HEX HEX ...   reals, each the 16 hex digits of its binary64 pattern (NaN, inf kept)
    i:N N ...       integers in decimal
    b:1 0 ...       booleans
    s:TEXT          one text verbatim (\\ \t \n escaped)
    n:              None
    l:              an empty list
    error: TYPE: MESSAGE   the call raised (the text of the exception, escaped)

Lists of texts or records are written one element per line (`quantity[3].reasons[0]`).

What is derived, per case: the fit (coefficients, both covariances, SRES, chi2, dof,
residuals, r, r²), the curve in powers of x and as a line, values with uncertainty and
confidence and prediction bands at a few x, inverse predictions of a set of responses
with every u(y) rule (from the scatter, replicates, stated, curve only, level 0.99),
their sample flags with and without detection limits, the residual diagnostics
(leverages, studentized residuals, Cook's distances, outlier statistic and threshold,
back-calculation, p-value, lack of fit, verdict rows and overall verdict), detection
limits with several options, Monte Carlo inverse prediction with a fixed seed and few
draws, and the choice of degree.  The cases: the reference data sets of the package's
validation and the literature examples of limits and inversion intervals, the example
files, and seeded synthetic calibrations (weightings, stated and scaled covariance,
errors in variables, replicates, an exclusion, a falling line, an outlier, no degrees of
freedom, a turning point).  Every input is fixed: two dumps of one tree are identical.

``compare`` groups the differences by quantity (the same quantity of every case, with
element indexes folded), then by family (fit, inverse, limits, ...), with the largest
relative difference |a - b| / max(|a|, |b|) of each, so that a change of one rule shows
as one group.  With --rtol 0 any bit counts.  Texts and integers must match exactly.
Exit status 1 when anything differs beyond the tolerance, else 0.
"""
import argparse
import dataclasses
import math
import os
import re
import struct
import sys
import warnings
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
REPO = HERE.parent
try:
    import quorvex
except ImportError:  # run from the tree without PYTHONPATH
    sys.path.insert(0, str(REPO / "python"))
    import quorvex
from quorvex import diagnostics as D  # noqa: E402
from quorvex.diagnostics import AcceptanceCriteria  # noqa: E402

REFERENCE = Path(quorvex.__file__).resolve().parent / "reference"


# --------------------------------------------------------------------------------------
# Writing values
# --------------------------------------------------------------------------------------
def _hex(v) -> str:
    return struct.pack(">d", float(v)).hex()


def _text(s: str) -> str:
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r",
                                                                                     "\\r")


def _scalar_kind(v):
    if isinstance(v, (bool, np.bool_)):
        return "b"
    if isinstance(v, (int, np.integer)):
        return "i"
    if isinstance(v, (float, np.floating)):
        return "r"
    return None


class Dump:
    def __init__(self):
        self.lines = []

    def put(self, case, q, v):
        """One value, or a structure of them under names built from ``q``."""
        if v is None:
            self.lines.append(f"{case}\t{q}\tn:")
        elif isinstance(v, str):
            self.lines.append(f"{case}\t{q}\ts:{_text(v)}")
        elif _scalar_kind(v) is not None:
            self._words(case, q, _scalar_kind(v), [v])
        elif isinstance(v, np.ndarray):
            kind = v.dtype.kind
            if kind == "b":
                self._words(case, q, "b", v.ravel())
            elif kind in "iu":
                self._words(case, q, "i", v.ravel())
            elif kind == "f":
                self._words(case, q, "r", v.ravel())
            else:
                self.put(case, q, v.tolist())
        elif isinstance(v, dict):
            for k, item in v.items():
                self.put(case, f"{q}.{k}", item)
        elif dataclasses.is_dataclass(v):
            for f in dataclasses.fields(v):
                self.put(case, f"{q}.{f.name}", getattr(v, f.name))
        elif isinstance(v, (list, tuple)):
            kinds = {_scalar_kind(e) for e in v}
            if not v:
                self.lines.append(f"{case}\t{q}\tl:")
            elif None not in kinds and len(kinds) == 1:
                self._words(case, q, kinds.pop(), v)
            elif None not in kinds and "b" not in kinds:
                self._words(case, q, "r", v)
            else:
                for i, e in enumerate(v):
                    self.put(case, f"{q}[{i}]", e)
        else:
            raise TypeError(f"cannot write a {type(v).__name__} ({q})")

    def _words(self, case, q, kind, seq):
        if kind == "r":
            words = " ".join(_hex(e) for e in seq)
        elif kind == "b":
            words = " ".join("1" if e else "0" for e in seq)
        else:
            words = " ".join(str(int(e)) for e in seq)
        self.lines.append(f"{case}\t{q}\t{kind}:{words}")

    def get(self, case, q, fn, show=None):
        """``fn()`` (or ``show(fn())``) written under ``q``, and ``fn()`` returned; an
        exception is written as the value, and None returned."""
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                v = fn()
                shown = v if show is None else show(v)
        except Exception as e:  # every failure is a result too
            self.lines.append(f"{case}\t{q}\terror: {type(e).__name__}: {_text(str(e))}")
            return None
        self.put(case, q, shown)
        return v


# --------------------------------------------------------------------------------------
# The cases
# --------------------------------------------------------------------------------------
def reference(name):
    """The [data] block of a reference file as {column: array}, and its degree."""
    cols, rows, on, degree = [], [], False, 1
    for line in (REFERENCE / f"{name}.txt").read_text().splitlines():
        if line.startswith("#") or not line.strip():
            continue
        if line.startswith("["):
            on = line.startswith("[data]")
            if on:
                cols = line.split()[1:]
            continue
        if on:
            rows.append([float(v) for v in line.split()[:len(cols)]])
        elif line.startswith("degree "):
            degree = int(line.split()[1])
    a = np.array(rows)
    return {c: a[:, j] for j, c in enumerate(cols)}, degree


# Literature examples of limits and inversion intervals (DIN 32645's worked example,
# Graybill and Iyer's thermostat and reaction chamber, Massart's replicate standards).
DIN32645 = (np.arange(1, 11) * 0.05,
            np.array([3060, 3522, 3707, 4280, 5058, 5510, 5703, 6205, 7156, 7178.0]))
THERMOSTAT = (np.arange(96, 111, 2.0),
              np.array([95.71, 98.16, 99.52, 102.09, 103.79, 106.18, 108.14, 110.21]))
CHAMBER = (np.arange(0, 101, 10.0),
           np.array([206.36, 225.52, 252.18, 289.33, 318.11, 349.49, 383.03, 410.70, 444.40,
                     469.14, 501.16]))
MASSART = (np.tile(np.arange(0, 51, 10.0), 5),
           np.array([4, 22, 44, 60, 75, 104, 3, 20, 46, 63, 81, 109, 4, 21, 45, 60, 79, 107,
                     5, 22, 44, 63, 78, 101, 4, 21, 44, 63, 77, 105.0]))


def example_files():
    std = np.loadtxt(REPO / "examples" / "standards.csv", delimiter=",", comments="#",
                     skiprows=3)
    rows = [ln.split(";") for ln in (REPO / "examples" / "samples.csv").read_text().splitlines()
            if ln.strip()][1:]
    ys = np.array([float(r[1].replace(",", ".")) for r in rows])
    uys = np.array([float(r[2].replace(",", ".")) for r in rows])
    return std, ys, uys


def synthetic(seed, x, coef, noise, relative=False):
    """Responses on the power series ``coef`` at x with Gaussian noise (relative to the
    response where ``relative``)."""
    rng = np.random.default_rng(seed)
    y = np.polynomial.polynomial.polyval(x, coef)
    e = noise * rng.standard_normal(x.shape[0])
    return y + (e * np.abs(y) if relative else e)


def cases():
    """(name, fit options, extra responses, stated u of the responses) of every case."""
    out = []
    for name in ["Norris", "Pontius", "Wampler1", "Wampler2", "Wampler3", "Wampler4",
                 "Wampler5"]:
        d, deg = reference(name)
        out.append((f"ref/{name}", dict(x=d["x"], y=d["y"], degree=deg), [], None))
    for name, y1 in [("ISO28037_6_3_ex1", 10.5), ("ISO28037_6_3_ex2", 10.5)]:
        d, deg = reference(name)
        out.append((f"ref/{name}", dict(x=d["x"], y=d["y"], u_y=d["u_y"], degree=deg), [y1],
                    0.5))
    for name in ["ISO28037_7_4", "PearsonYork"]:
        d, deg = reference(name)
        out.append((f"ref/{name}", dict(x=d["x"], y=d["y"], u_y=d["u_y"], u_x=d["u_x"],
                                        degree=deg), [], 0.3))
    out.append(("ref/DIN32645", dict(x=DIN32645[0], y=DIN32645[1], degree=1), [3155.393],
                None))
    out.append(("ref/GraybillIyer_thermostat", dict(x=THERMOSTAT[0], y=THERMOSTAT[1], degree=1),
                [104.0, 100.0], None))
    out.append(("ref/GraybillIyer_chamber", dict(x=CHAMBER[0], y=CHAMBER[1], degree=1),
                [400.0], None))
    out.append(("ref/Massart97_ex3", dict(x=MASSART[0], y=MASSART[1], degree=1), [15.0, 90.0],
                None))
    std, ys, uys = example_files()
    x, y, ux, uy = std.T
    out.append(("examples/unweighted", dict(x=x, y=y, degree=1), list(ys), None))
    out.append(("examples/stated", dict(x=x, y=y, u_y=uy, degree=1), list(ys), uys))
    out.append(("examples/eiv", dict(x=x, y=y, u_y=uy, u_x=ux, degree=1), list(ys), uys))
    out.append(("examples/quadratic", dict(x=x, y=y, degree=2), list(ys), None))

    lv = np.linspace(0.0, 10.0, 8)
    out.append(("syn/line", dict(x=lv, y=synthetic(1, lv, [0.1, 2.0], 0.05), degree=1), [],
                None))
    out.append(("syn/quadratic", dict(x=lv, y=synthetic(2, lv, [0.2, 1.5, 0.04], 0.05),
                                      degree=2), [], None))
    xc = np.linspace(0.0, 10.0, 12)
    out.append(("syn/cubic", dict(x=xc, y=synthetic(3, xc, [0.5, 1.2, -0.05, 0.004], 0.03),
                                  degree=3), [], None))
    xw = np.repeat([0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 50.0], 2)
    out.append(("syn/weight-1/x", dict(x=xw, y=synthetic(4, xw, [0.05, 1.0], 0.03, True),
                                       degree=1, weighting="1/x"), [], None))
    out.append(("syn/weight-1/x2", dict(x=xw, y=synthetic(5, xw, [0.05, 1.0], 0.03, True),
                                        degree=1, weighting="1/x2"), [], None))
    out.append(("syn/weight-1/x2-quadratic",
                dict(x=xw, y=synthetic(6, xw, [0.05, 1.0, 0.002], 0.03, True), degree=2,
                     weighting="1/x2"), [], None))
    uyv = 0.02 + 0.01 * lv
    ys_ = np.polynomial.polynomial.polyval(lv, [0.1, 2.0]) + uyv * np.random.default_rng(
        7).standard_normal(8)
    out.append(("syn/stated", dict(x=lv, y=ys_, u_y=uyv, degree=1), [], 0.04))
    out.append(("syn/stated-scaled", dict(x=lv, y=ys_, u_y=uyv, degree=1,
                                          covariance="scaled"), [], 0.04))
    out.append(("syn/stated-equal", dict(x=lv, y=synthetic(8, lv, [0.1, 2.0], 0.05), u_y=0.05,
                                         degree=1), [], 0.05))
    out.append(("syn/stated-quadratic",
                dict(x=lv, y=synthetic(9, lv, [0.2, 1.5, 0.04], 0.05), u_y=0.05, degree=2),
                [], 0.05))
    rng = np.random.default_rng(10)
    xt = np.linspace(1.0, 9.0, 9)
    xe = xt + 0.05 * rng.standard_normal(9)
    ye = np.polynomial.polynomial.polyval(xt, [0.3, 1.1]) + 0.04 * rng.standard_normal(9)
    out.append(("syn/eiv", dict(x=xe, y=ye, u_x=0.05, u_y=0.04, degree=1), [], 0.04))
    out.append(("syn/eiv-scaled", dict(x=xe, y=ye, u_x=0.05, u_y=0.04, degree=1,
                                       covariance="scaled"), [], 0.04))
    ye2 = np.polynomial.polynomial.polyval(xt, [0.3, 1.1, 0.05]) + 0.04 * rng.standard_normal(9)
    out.append(("syn/eiv-quadratic", dict(x=xe, y=ye2, u_x=0.05, u_y=0.04, degree=2), [],
                0.04))
    xr = np.repeat(np.linspace(0.0, 10.0, 6), 3)
    out.append(("syn/replicates", dict(x=xr, y=synthetic(11, xr, [0.1, 2.0], 0.08), degree=1),
                [], None))
    out.append(("syn/replicates-curved",
                dict(x=xr, y=synthetic(12, xr, [0.1, 2.0, 0.08], 0.08), degree=1), [], None))
    out.append(("syn/replicates-stated",
                dict(x=xr, y=synthetic(13, xr, [0.1, 2.0], 0.08), u_y=0.08, degree=1), [],
                0.08))
    yx = synthetic(14, lv, [0.1, 2.0], 0.05)
    yx[3] += 3.0
    out.append(("syn/exclude", dict(x=lv, y=yx, degree=1, exclude={4: "pipetting error"}), [],
                None))
    out.append(("syn/outlier", dict(x=lv, y=yx, degree=1), [], None))
    out.append(("syn/outlier-stated", dict(x=lv, y=yx, u_y=0.05, degree=1), [], 0.05))
    out.append(("syn/falling", dict(x=lv, y=synthetic(15, lv, [20.0, -1.7], 0.05), degree=1),
                [], None))
    out.append(("syn/falling-quadratic",
                dict(x=lv, y=synthetic(16, lv, [20.0, -1.2, -0.03], 0.05), degree=2), [],
                None))
    out.append(("syn/dof0-line", dict(x=np.array([1.0, 4.0]), y=np.array([2.1, 8.3]),
                                      degree=1), [], None))
    out.append(("syn/dof0-quadratic", dict(x=np.array([0.0, 2.0, 5.0]),
                                           y=np.array([0.2, 4.1, 9.0]), degree=2), [], 0.1))
    out.append(("syn/dof0-stated", dict(x=np.array([1.0, 4.0]), y=np.array([2.1, 8.3]),
                                        u_y=0.1, degree=1), [], 0.1))
    xv = np.linspace(0.0, 10.0, 11)
    out.append(("syn/turning", dict(x=xv, y=synthetic(17, xv, [1.0, 3.0, -0.25], 0.05),
                                    degree=2), [9.5, 9.9, 5.0], None))
    out.append(("syn/interval-wide", dict(x=lv[1:-1], y=synthetic(18, lv[1:-1], [0.1, 2.0],
                                                                    0.05),
                                          degree=1, interval=(-1.0, 12.0)), [], None))
    out.append(("syn/blank-offset", dict(x=np.linspace(0.5, 10.0, 7),
                                         y=synthetic(19, np.linspace(0.5, 10.0, 7),
                                                     [1.0, 2.0], 0.05), degree=1), [0.9],
                None))
    out.append(("syn/constant", dict(x=lv, y=synthetic(20, lv, [3.0], 0.05), degree=0), [3.0],
                None))
    xn = np.linspace(0.0, 10.0, 40)
    out.append(("syn/many", dict(x=xn, y=synthetic(21, xn, [0.1, 2.0, 0.01], 0.05), degree=2),
                [], None))
    return out


def responses(cal, extra):
    """Responses across and beyond the curve: near the lower end, inside, at both ends,
    past both ends, far past, and the case's own."""
    lo, hi = cal.interval
    t = np.array([0.02, 0.3, 0.5, 0.77])
    inside = [float(v) for v in np.atleast_1d(cal.evaluate(lo + t * (hi - lo)))]
    ends = [float(v) for v in np.atleast_1d(cal.evaluate(np.array([lo, hi])))]
    span = max(abs(ends[1] - ends[0]), 1e-3 * max(abs(ends[0]), 1.0))
    sgn = 1.0 if ends[1] >= ends[0] else -1.0
    beyond = [ends[0] - 0.1 * sgn * span, ends[1] + 0.1 * sgn * span, ends[1] + 5 * sgn * span]
    return np.array(inside + ends + beyond + [float(v) for v in extra])


# --------------------------------------------------------------------------------------
# What is derived
# --------------------------------------------------------------------------------------
PRED_FIELDS = ("y", "u_y", "x", "u_x", "roots", "u_roots", "n_roots", "no_root",
               "several_roots", "at_end", "u_y_source", "u_curve", "dof", "k", "U", "low",
               "high", "interval_open", "coverage")
# What another u(y) rule or level changes (the roots stay).
PRED_CHANGED = ("u_y", "u_x", "u_y_source", "dof", "k", "U", "low", "high", "interval_open")
EXTRAPOLATED = ("x", "u_x", "n_roots", "roots")
MC_FIELDS = ("u_y", "x", "u_x", "median", "low", "high", "no_root", "several_roots",
             "n_draws", "level", "seed", "agrees", "notes")
MC_LEVEL = ("low", "high", "agrees", "notes")
BAND_FIELDS = ("lower", "upper", "u", "k", "distribution")
BACK_TOLERANCE = ("limit", "passed", "n_passed", "overall")


def _kind(v):
    return type(v).__name__


def prediction(d, case, q, fn, names=PRED_FIELDS, cov=True):
    pred = d.get(case, q + ".call", fn, _kind)
    if pred is None:
        return None
    for name in names:
        d.get(case, f"{q}.{name}", lambda: getattr(pred, name))
    if cov:
        d.get(case, f"{q}.cov", lambda: np.asarray(pred.cov)[:4, :4])
    return pred


def fields_of(*names):
    return lambda v: {k: getattr(v, k) for k in names}


def named(*names):
    """A tuple result as a record with these field names."""
    return lambda v: dict(zip(names, v, strict=True))


def derive(d, case, opts, extra, u_stated, seed):
    cal = d.get(case, "fit.kind", lambda: quorvex.fit(**opts), lambda c: c.kind)
    if cal is None:
        return
    for name in ("coef", "cov", "cov_scaled", "sres", "chi2", "dof", "fitted", "residuals",
                 "weighted_residuals", "covariance", "status", "x_adjusted", "residuals_x",
                 "weighted_residuals_x", "interval", "ids", "excluded", "notes"):
        d.get(case, f"fit.{name}", lambda: getattr(cal, name))
    d.get(case, "fit.u_coef", lambda: cal.u_coef)
    d.get(case, "fit.r", lambda: cal.r)
    d.get(case, "fit.r_squared", lambda: cal.r_squared)
    for cv in ("stated", "scaled"):
        d.get(case, f"power[{cv}]", lambda: cal.power_coefficients(cv))
        d.get(case, f"line[{cv}]", lambda: cal.line(cv))
    d.get(case, "power", lambda: cal.power_coefficients())
    d.get(case, "line", lambda: cal.line())

    lo, hi = cal.interval
    xs = lo + np.array([0.0, 0.1, 0.45, 0.8, 1.0]) * (hi - lo)
    d.get(case, "evaluate.x", lambda: xs)
    d.get(case, "evaluate", lambda: cal.evaluate(xs, uncertainty=True), named("y", "u"))
    for cv in ("stated", "scaled"):
        d.get(case, f"evaluate[{cv}]", lambda: cal.evaluate(xs, uncertainty=True,
                                                           covariance=cv), named("y", "u"))
    for kind in ("confidence", "prediction"):
        for level in (0.95, 0.99):
            d.get(case, f"band[{kind},{level}]", lambda: cal.band(xs, level, kind),
                  fields_of(*BAND_FIELDS))
    d.get(case, "band[prediction,u_y]", lambda: cal.band(xs, 0.95, "prediction", u_y=0.1),
          fields_of(*BAND_FIELDS))

    ys = responses(cal, extra)
    n = ys.shape[0]
    uy = (np.full(n, 0.02 * max(abs(float(np.ptp(cal.fitted))), 1e-3)) if u_stated is None
          else np.resize(np.asarray(u_stated, dtype=float), n))
    reps = np.arange(n) % 3 + 1
    preds = {}
    variants = [
        ("default", lambda: cal.inverse(ys), PRED_FIELDS),
        ("stated", lambda: cal.inverse(ys, uy), PRED_FIELDS),
        ("replicates3", lambda: cal.inverse(ys, replicates=3), PRED_CHANGED),
        ("replicates", lambda: cal.inverse(ys, replicates=reps), PRED_CHANGED),
        ("curve-only", lambda: cal.inverse(ys, "curve-only"), PRED_CHANGED),
        ("default,0.99", lambda: cal.inverse(ys, level=0.99), PRED_CHANGED),
        ("stated,0.99", lambda: cal.inverse(ys, uy, level=0.99), PRED_CHANGED),
        ("stated,scaled", lambda: cal.inverse(ys, uy, covariance="scaled"), PRED_CHANGED),
    ]
    if cal.ncoef == 2:
        variants.append(("extrapolate", lambda: cal.inverse(ys, uy, extrapolate=True),
                         EXTRAPOLATED))
    for tag, fn, names in variants:
        preds[tag] = prediction(d, case, f"inverse[{tag}]", fn, names,
                                cov=names is PRED_FIELDS)
    main = preds["default"] if preds["default"] is not None else preds["stated"]

    limits = d.get(case, "limits", lambda: cal.detection_limits())
    d.get(case, "limits.text", lambda: cal.detection_limits().text())
    d.get(case, "limits[alpha0.01,beta0.01,K3]",
          lambda: cal.detection_limits(alpha=0.01, beta=0.01, replicates=3))
    d.get(case, "limits[u_blank,k_loq2]",
          lambda: cal.detection_limits(u_blank=0.05, k_loq=2.0))
    d.get(case, "limits[blank-below]",
          lambda: cal.detection_limits(blank=lo - 0.1 * (hi - lo)))
    d.get(case, "limits[blank-inside]",
          lambda: cal.detection_limits(blank=lo + 0.2 * (hi - lo)))
    if main is not None:
        d.get(case, "flags", lambda: D.sample_flags(cal, main))
        d.get(case, "flags[limits]", lambda: D.sample_flags(cal, main, limits))
    if preds["stated"] is not None and main is not preds["stated"]:
        d.get(case, "flags[stated]", lambda: D.sample_flags(cal, preds["stated"], limits))

    d.get(case, "leverages", lambda: cal.leverages)
    d.get(case, "studentized[internal]", lambda: D.studentized_residuals(cal))
    d.get(case, "studentized[external]", lambda: D.studentized_residuals(cal, external=True))
    d.get(case, "cooks_distance", lambda: cal.cooks_distance)
    d.get(case, "residual_statistic", lambda: D.residual_statistic(cal),
          named("values", "name"))
    d.get(case, "x_residual_statistic", lambda: D.x_residual_statistic(cal))
    d.get(case, "outlier_threshold", lambda: D.outlier_threshold(cal),
          named("threshold", "from"))
    d.get(case, "outlier_threshold[0.01]", lambda: D.outlier_threshold(cal, 0.01),
          named("threshold", "from"))
    d.get(case, "outliers", lambda: cal.outliers())
    d.get(case, "back_calculated", lambda: cal.back_calculated())
    d.get(case, "back_calculated.text", lambda: cal.back_calculated().text())
    d.get(case, "back_calculated[10,15]", lambda: cal.back_calculated(10.0, 15.0),
          fields_of(*BACK_TOLERANCE))
    d.get(case, "p_value", lambda: cal.p_value)
    d.get(case, "goodness", lambda: D.goodness_verdict(cal), named("verdict", "text"))
    lof = d.get(case, "lack_of_fit", lambda: cal.lack_of_fit())
    if lof is not None:
        d.get(case, "lack_of_fit.verdict", lambda: lof.verdict)
        d.get(case, "lack_of_fit.text", lambda: lof.text())
    # The limits, back-calculation and outliers in it are written above; the criteria
    # are the defaults.
    d.get(case, "diagnostics", lambda: cal.diagnostics(limits=True).to_dict(),
          lambda dd: {k: v for k, v in dd.items() if k not in ("detection_limits", "criteria",
                                                               "back_calculated")})
    d.get(case, "verdict", lambda: D.verdict_rows(cal, cal.diagnostics()),
          named("rows", "overall"))
    crit = AcceptanceCriteria(alpha=0.01, tolerance=10.0, warn_only=("outliers",
                                                                     "back_calculated"))
    d.get(case, "verdict[criteria]",
          lambda: D.verdict_rows(cal, cal.diagnostics(criteria=crit)), named("rows", "overall"))
    d.get(case, "verdict_text", lambda: D.verdict_text(cal, limits=True))

    mc_u = None if u_stated is None else uy
    for tag, level in (("0.95", 0.95), ("0.99", 0.99)):
        m = d.get(case, f"montecarlo[{tag}].call", lambda: cal.inverse(
            ys, mc_u, method="monte-carlo", n=200, seed=seed, level=level), _kind)
        if m is not None:
            for name in (MC_FIELDS if tag == "0.95" else MC_LEVEL):
                d.get(case, f"montecarlo[{tag}].{name}", lambda: getattr(m, name))
            d.get(case, f"montecarlo[{tag}].first_order.U", lambda: m.first_order.U)
    d.get(case, "montecarlo[replicates2]",
          lambda: cal.inverse(ys[:4], method="monte-carlo", n=100, seed=seed + 1, replicates=2),
          lambda m: {k: getattr(m, k) for k in MC_FIELDS})

    sel_opts = {k: v for k, v in opts.items() if k not in ("degree", "x", "y", "u_y", "u_x",
                                                           "exclude")}
    top = min(4, len(opts["x"]) - 1, 9)
    s = d.get(case, "select_degree.call", lambda: quorvex.select_degree(
        opts["x"], opts["y"], opts.get("u_y"), opts.get("u_x"), range(1, top + 1),
        **sel_opts), _kind)
    if s is not None:
        d.get(case, "select_degree.rows", lambda: list(s.rows))
        d.get(case, "select_degree.recommended", lambda: s.recommended)
        d.get(case, "select_degree.reason", lambda: s.reason)
        d.get(case, "select_degree.skipped", lambda: dict(s.skipped))


def dump(out):
    d = Dump()
    for k, (case, opts, extra, u_stated) in enumerate(cases()):
        derive(d, case, opts, extra, u_stated, seed=20261208 + k)
    Path(out).write_text("\n".join(d.lines) + "\n")
    return d.lines


# --------------------------------------------------------------------------------------
# Comparing two dumps
# --------------------------------------------------------------------------------------
def load(path):
    d = {}
    for line in Path(path).read_text().splitlines():
        case, q, v = line.split("\t", 2)
        d[(case, q)] = v
    return d


def family(q: str) -> str:
    """The rule a quantity belongs to: its name up to the first '.' or '['."""
    return re.split(r"[.\[]", q, maxsplit=1)[0]


def group_key(q: str) -> str:
    """The quantity with element indexes folded: outliers[2].reasons[0] -> outliers[*]..."""
    return re.sub(r"\[\d+\]", "[*]", q)


def _real(h):
    return struct.unpack(">d", bytes.fromhex(h))[0]


def difference(a: str, b: str):
    """(relative difference, relative difference to the vector's largest value) of two
    values; inf where kinds, lengths, texts or integers differ, or a NaN or infinity
    meets another value; None where the two are bit for bit the same."""
    if a == b:
        return None
    if not (a.startswith("r:") and b.startswith("r:")):
        if a[:2] == b[:2] == "i:":
            va, vb = a[2:].split(), b[2:].split()
            if len(va) == len(vb):
                r = max(abs(int(x) - int(y)) / max(abs(int(x)), abs(int(y)), 1)
                        for x, y in zip(va, vb))
                return r, r
        return math.inf, math.inf
    wa, wb = a[2:].split(), b[2:].split()
    if len(wa) != len(wb):
        return math.inf, math.inf
    worst, size, absmax = 0.0, 0.0, 0.0
    for x, y in zip(wa, wb):
        u, v = _real(x), _real(y)
        if math.isfinite(u):
            size = max(size, abs(u))
        if math.isfinite(v):
            size = max(size, abs(v))
        if x == y or (math.isnan(u) and math.isnan(v)):
            continue
        if not (math.isfinite(u) and math.isfinite(v)):
            return math.inf, math.inf
        worst = max(worst, abs(u - v) / max(abs(u), abs(v)))
        absmax = max(absmax, abs(u - v))
    return worst, (absmax / size if size > 0 else 0.0)


def compare(old, new, rtol=1e-12):
    """The differences of two dumps beyond ``rtol`` (any bit with 0), grouped:
    {group key: {"max": largest relative difference, "scaled": the same relative to the
    largest value of each vector, "cases": [case, ...], "lines": n}}, and the lines only
    one of the two has."""
    a, b = load(old), load(new)
    missing = sorted(a.keys() - b.keys())
    extra = sorted(b.keys() - a.keys())
    groups = {}
    for key in sorted(a.keys() & b.keys()):
        r = difference(a[key], b[key])
        if r is None or (rtol > 0 and not r[0] > rtol):
            continue
        g = groups.setdefault(group_key(key[1]), {"max": 0.0, "scaled": 0.0, "cases": [],
                                                   "lines": 0, "example": None})
        g["lines"] += 1
        if key[0] not in g["cases"]:
            g["cases"].append(key[0])
        if g["example"] is None or r[0] > g["max"]:
            g["example"] = (key, a[key], b[key])
        g["max"] = max(g["max"], r[0])
        g["scaled"] = max(g["scaled"], r[1])
    for key in missing + extra:
        g = groups.setdefault(group_key(key[1]), {"max": math.inf, "scaled": math.inf,
                                                   "cases": [], "lines": 0, "example": None})
        g["max"] = g["scaled"] = math.inf
        g["lines"] += 1
        if key[0] not in g["cases"]:
            g["cases"].append(key[0])
        if g["example"] is None:
            g["example"] = (key, a.get(key, "(absent)"), b.get(key, "(absent)"))
    return groups, missing, extra, a, b


def report(groups, missing, extra, a, b, rtol):
    ncases = len({k[0] for k in a})
    lines = [f"{len(a)} lines of {ncases} cases; {len(groups)} quantities differ "
             f"{'in any bit' if rtol == 0 else f'beyond rtol {rtol:g}'}"]
    if missing:
        lines.append(f"  {len(missing)} lines only in the old dump, e.g. {missing[0]}")
    if extra:
        lines.append(f"  {len(extra)} lines only in the new dump, e.g. {extra[0]}")
    byfam = {}
    for q, g in groups.items():
        byfam.setdefault(family(q), []).append((q, g))
    ncase = {}
    for (case, q) in a:
        ncase.setdefault(group_key(q), set()).add(case)
    for fam in sorted(byfam):
        items = sorted(byfam[fam], key=lambda t: (-t[1]["max"], t[0]))
        worst = max(g["max"] for _, g in items)
        lines.append(f"{fam}: {len(items)} quantities, largest relative difference {worst:.3g}")
        for q, g in items:
            of = len(ncase.get(q, ()))
            lines.append(f"  {q:<46} {len(g['cases']):4d}/{of:<4d} cases  rel {g['max']:9.3g}"
                         f"  (of the largest {g['scaled']:.3g})  e.g. {g['cases'][0]}")
        key, va, vb = items[0][1]["example"]
        lines.append(f"    {key[0]} {key[1]}:\n      old {va[:150]}\n      new {vb[:150]}")
    return "\n".join(lines)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = ap.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("dump")
    p.add_argument("out")
    p = sub.add_parser("compare")
    p.add_argument("old")
    p.add_argument("new")
    p.add_argument("--rtol", type=float, default=1e-12)
    args = ap.parse_args(argv)
    if args.cmd == "dump":
        lines = dump(args.out)
        print(f"{len(lines)} lines written to {args.out}", file=sys.stderr)
        return 0
    groups, missing, extra, a, b = compare(args.old, args.new, args.rtol)
    print(report(groups, missing, extra, a, b, args.rtol))
    return 1 if groups else 0


if __name__ == "__main__":
    sys.exit(main())
