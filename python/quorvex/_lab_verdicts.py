"""Diagnostics and verdicts of a calibration from the laboratory library
(``QVXL_DIAGNOSE``, ``QVXL_VERDICT``, ``QVXL_TEST_VERDICT``): this module passes
a fit and its criteria and hands back the library's numbers and codes."""
from __future__ import annotations

import math
from ctypes import byref, c_double, c_int

import numpy as np

from . import _lab

# Outlier flags per standard (OFLAG).
OFLAG_OUTLIER = 1
OFLAG_OUTLIER_X = 2
OFLAG_INFLUENTIAL = 4
OFLAG_PINNED = 8

# The residual statistic (OUTL[1]) and where the threshold came from (OUTL[2]).
STATISTIC_NAMES = {1: "normalized residual", 2: "studentized residual",
                   3: "combined normalized residual",
                   4: "combined studentized residual"}
FROM_NONE, FROM_NORMAL, FROM_T, FROM_GIVEN = 0, 1, 2, 3

# Verdict rows: criteria in order, results, details.
CRITERIA = ("goodness", "lack_of_fit", "outliers", "back_calculated")
RESULT_NOT_TESTED, RESULT_PASS, RESULT_DOUBTFUL, RESULT_FAIL, RESULT_WARN = 0, 1, 2, 3, 4
RESULT_WORDS = {RESULT_PASS: "pass", RESULT_DOUBTFUL: "doubtful", RESULT_FAIL: "fail"}
DETAIL_NO_DOF, DETAIL_NOT_STATED, DETAIL_SMALL_SCATTER = 1, 2, 3
# The shape row's detail: which test of the curve's shape ran (QVXL_SHAPE_*; named by
# QVXL_TEXT kind 4).
SHAPE_LACK_OF_FIT, SHAPE_NONE_EIV, SHAPE_NONE, SHAPE_MANDEL, SHAPE_ADDED_CHI2 = 0, 1, 2, 3, 4
SHAPE_RAN = (SHAPE_LACK_OF_FIT, SHAPE_MANDEL, SHAPE_ADDED_CHI2)
OVERALL_NOT_FIT, OVERALL_FIT, OVERALL_WARNINGS = 0, 1, 2
REASON_NO_DOF, REASON_CONSTANT = 16, 32

def _error(st: int, what: str):
    from .errors import InputError
    return InputError(f"{what}: {_lab.status_text(st)}")


def _nan(v) -> float:
    return math.nan if v is None else float(v)


def criteria_array(alpha=0.05, alpha_goodness=None, alpha_lack_of_fit=None,
                   alpha_outliers=None, tolerance=15.0, tolerance_lowest=20.0,
                   back_fraction=0.75, cook=1.0, threshold=None) -> np.ndarray:
    """CRIT(10) of QVXL_DIAGNOSE (None: the library's default rule)."""
    return np.array([alpha, _nan(alpha_goodness), _nan(alpha_lack_of_fit),
                     _nan(alpha_outliers), tolerance, tolerance_lowest, back_fraction, cook,
                     _nan(threshold), 0.0], dtype=np.float64)


def _fit_args(cal) -> tuple:
    """The fit's arguments (NCOEF .. WRESX) as ctypes pointers, with the arrays kept."""
    f64 = lambda a: np.ascontiguousarray(a, dtype=np.float64)  # noqa: E731
    n = int(np.asarray(cal.x).shape[0])
    coef = f64(cal.coef)
    keep = [coef, f64(cal.cov), f64(cal.x), f64(cal.y), f64(cal.weights),
            f64(cal.weighted_residuals),
            f64(cal.weighted_residuals_x) if cal.weighted_residuals_x is not None
            else np.zeros(1)]
    xmin, xmax = cal.interval
    args = (byref(c_int(coef.shape[0])), _lab._a(keep[0]), _lab._a(keep[1]),
            byref(c_double(xmin)), byref(c_double(xmax)),
            byref(c_int(0 if cal.kind == "ols" else 1)),
            byref(c_int(0 if cal.covariance == "stated" else 1)), byref(c_int(int(cal.dof))),
            byref(c_double(float(cal.sres))), byref(c_double(float(cal.chi2))),
            byref(c_int(1 if cal.u_y is not None else 0)), byref(c_int(n)),
            _lab._a(keep[2]), _lab._a(keep[3]), _lab._a(keep[4]), _lab._a(keep[5]),
            _lab._a(keep[6]))
    return args, keep, n


_PER_STANDARD = ("leverage", "studentized_internal", "studentized_external", "cooks_distance",
                 "statistic", "statistic_x")


def diagnose(cal, crit: np.ndarray) -> dict:
    """QVXL_DIAGNOSE on ``cal`` with criteria ``crit`` (``criteria_array``)."""
    args, keep, n = _fit_args(cal)
    o = {name: np.empty(n) for name in _PER_STANDARD + ("x_back", "percent", "limit")}
    o["flags"] = np.empty(n, dtype=np.intc)
    o["passed"] = np.empty(n, dtype=np.intc)
    small = {"lof": np.empty(7), "outl": np.empty(6), "back": np.empty(3), "corr": np.empty(2),
             "levels": np.empty(3)}
    p, st = c_double(), c_int()
    _lab.function("QVXL_DIAGNOSE", 36)(
        *args, _lab._a(crit), *(_lab._a(o[k]) for k in _PER_STANDARD), _lab._a(o["flags"]),
        _lab._a(o["x_back"]), _lab._a(o["percent"]), _lab._a(o["limit"]), _lab._a(o["passed"]),
        byref(p), *(_lab._a(small[k]) for k in ("lof", "outl", "back", "corr", "levels")),
        byref(st))
    if st.value:
        raise _error(st.value, "diagnostics")
    o.update(small)
    o["p_chi2"] = p.value
    return o


def verdict(cal, crit: np.ndarray, warn_only=()) -> dict:
    """QVXL_VERDICT: per criterion (``CRITERIA``) applies, statistic, limit, alpha,
    result, detail; the overall verdict and its reasons."""
    args, keep, _ = _fit_args(cal)
    warn = sum(1 << CRITERIA.index(w) for w in warn_only if w in CRITERIA)
    o = {"applies": np.empty(4, dtype=np.intc), "statistic": np.empty(4),
         "limit": np.empty(4), "alpha": np.empty(4), "result": np.empty(4, dtype=np.intc),
         "detail": np.empty(4, dtype=np.intc)}
    overall, reasons, st = c_int(), c_int(), c_int()
    _lab.function("QVXL_VERDICT", 28)(
        *args, _lab._a(crit), byref(c_int(warn)),
        *(_lab._a(o[k]) for k in ("applies", "statistic", "limit", "alpha", "result",
                                  "detail")),
        byref(overall), byref(reasons), byref(st))
    if st.value:
        raise _error(st.value, "verdict")
    o.update(overall=overall.value, reasons=reasons.value)
    return o


def shape_test_name(detail: int) -> str:
    """The name of the shape test a verdict ran (or why none ran), from the library."""
    return _lab.text(9, int(detail)) or f"shape test {int(detail)}"


def test_verdict(p: float, alpha: float) -> tuple[int, int]:
    """QVXL_TEST_VERDICT: (result, detail) of one test with p-value p at level alpha."""
    r, d, st = c_int(), c_int(), c_int()
    _lab.function("QVXL_TEST_VERDICT", 5)(byref(c_double(p)), byref(c_double(alpha)),
                                          byref(r), byref(d), byref(st))
    if st.value:
        raise _error(st.value, "test verdict")
    return r.value, d.value


# Acceptance-criteria presets (QVXL_CRITERIA_PRESET) and their extra rules
# (QVXL_CRITERIA_EXTRA): the least number of levels, the relative standard error.
PRESETS = {"quorvex": 0, "ich-m10": 1, "epa-8000d": 2, "epa-8000d-each": 3, "assay": 4}
EXTRA_RULES = ("levels", "rse")


def criteria_preset(name: str) -> tuple[np.ndarray, int, np.ndarray]:
    """(CRIT(10), WARNONLY, EXTRA(2)) of the named preset."""
    crit, extra = np.empty(10), np.empty(2)
    warn, st = c_int(), c_int()
    _lab.function("QVXL_CRITERIA_PRESET", 5)(byref(c_int(PRESETS[name])), _lab._a(crit),
                                             byref(warn), _lab._a(extra), byref(st))
    if st.value:
        raise _error(st.value, f"criteria preset {name!r}")
    return crit, warn.value, extra


def criteria_extra(cal, x_back, passed, min_levels: int, rse_limit, warn_only,
                   overall: int) -> dict:
    """QVXL_CRITERIA_EXTRA: statistic and result of each extra rule (levels passed, RSE %),
    and the verdict's overall result with them folded in."""
    x = np.ascontiguousarray(cal.x, dtype=np.float64)
    xb = np.ascontiguousarray(x_back, dtype=np.float64)
    ok = np.ascontiguousarray(passed, dtype=np.intc)
    rules = np.array([float(min_levels), _nan(rse_limit)])
    warn = sum(1 << EXTRA_RULES.index(w) for w in warn_only if w in EXTRA_RULES)
    statv, result = np.empty(2), np.empty(2, dtype=np.intc)
    out, st = c_int(), c_int()
    _lab.function("QVXL_CRITERIA_EXTRA", 12)(
        byref(c_int(int(cal.ncoef))), byref(c_int(x.shape[0])), _lab._a(x), _lab._a(xb),
        _lab._a(ok), _lab._a(rules), byref(c_int(warn)), byref(c_int(int(overall))),
        _lab._a(statv), _lab._a(result), byref(out), byref(st))
    if st.value:
        raise _error(st.value, "acceptance criteria")
    return {"levels": int(statv[0]), "rse": float(statv[1]),
            "result": [int(r) for r in result], "overall": out.value}
