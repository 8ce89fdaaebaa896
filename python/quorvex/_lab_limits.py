"""Detection limits and degree selection through the laboratory library
(``QVXL_LIMITS``, ``QVXL_SELECT``): argument conversion only."""
from __future__ import annotations

from ctypes import byref, c_double, c_int

import numpy as np

from . import _lab

LIMITS_NARGS = 25
SELECT_NARGS = 21

# LIM(1..12) of QVXL_LIMITS.
LIMITS_REALS = ("sigma", "slope", "lod", "loq", "sigma_blank", "s_blank", "y_critical",
                "x_critical", "x_detection", "k_alpha", "delta", "loq_din")
BLANK_NONE, BLANK_GIVEN, BLANK_STANDARDS, BLANK_STATED_UY, BLANK_RESIDUAL = 0, 1, 2, 4, 5
BLANK_READINGS, BLANK_MODEL = 6, 7
HASUB_READINGS, HASUB_MODEL = 2, 3  # HASUB of QVXL_LIMITS
GOF_TEST = {0: "none", 1: "chi2", 2: "lack of fit"}
SELECT_NONE_FITTED = 70


def _f64(a) -> np.ndarray:
    return np.ascontiguousarray(a, dtype=np.float64)


def limits(cal, alpha, beta, blank, replicates, u_blank, k_loq, hasub=None,
           u_blank_dof=None) -> tuple[dict, int]:
    """QVXL_LIMITS for a calibration; returns (fields, istat).  ``hasub`` 2 (blank
    readings) or 3 (a variance model's floor) give ``u_blank`` with ``u_blank_dof``."""
    coef = _f64(cal.coef)
    cov = np.asfortranarray(cal.cov_used, dtype=np.float64)
    x, w = _f64(cal.x), _f64(cal.weights)
    stated = cal.u_y is not None
    uy = _f64(cal.u_y) if stated else np.ones(1)
    lim = np.full(len(LIMITS_REALS), np.nan)
    source, extrap, st = c_int(), c_int(), c_int()
    ub = np.array([0.0 if u_blank is None else u_blank,
                   1.0 if u_blank_dof is None else u_blank_dof], dtype=np.float64)
    _lab.function("QVXL_LIMITS", LIMITS_NARGS)(
        byref(c_int(cal.ncoef)), _lab._a(coef), _lab._a(cov), byref(c_double(cal.xmin)),
        byref(c_double(cal.xmax)), byref(c_int(1 if cal.covariance == "scaled" else 0)),
        byref(c_int(int(cal.dof))), byref(c_double(float(cal.sres))),
        byref(c_int(_lab.WEIGHTING_CODES[cal.options.get("weighting")])),
        byref(c_int(x.shape[0])), _lab._a(x), _lab._a(w), byref(c_int(1 if stated else 0)),
        _lab._a(uy), byref(c_double(alpha)), byref(c_double(beta)), byref(c_double(blank)),
        byref(c_int(replicates)), byref(c_int(hasub or (0 if u_blank is None else 1))),
        _lab._a(ub), byref(c_double(k_loq)),
        _lab._a(lim), byref(source), byref(extrap), byref(st))
    out = {name: float(v) for name, v in zip(LIMITS_REALS, lim.tolist())}
    out.update(source=source.value, extrapolated=bool(extrap.value))
    return out, st.value


def select(x, y, w, stated, interval, degrees, chi2=None, fitstat=None) -> dict:
    """QVXL_SELECT: the layer fits the candidates (``chi2`` None) or takes the caller's
    ``chi2`` and ``fitstat``; returns the rows, ``best``, ``reason`` and ``istat``."""
    x, y, w = _f64(x), _f64(y), _f64(w)
    deg = np.ascontiguousarray(degrees, dtype=np.intc)
    m = deg.shape[0]
    mode = 0 if chi2 is None else 1
    c2 = np.full(m, np.nan) if chi2 is None else _f64(chi2).copy()
    fs = np.zeros(m, dtype=np.intc) if fitstat is None else np.ascontiguousarray(
        fitstat, dtype=np.intc).copy()
    dof, gt = np.zeros(m, dtype=np.intc), np.zeros(m, dtype=np.intc)
    gp, ts, tp, aic = (np.full(m, np.nan) for _ in range(4))
    best, reason, st = c_int(), c_int(), c_int()
    xmin, xmax = interval if interval is not None else (0.0, 1.0)
    _lab.function("QVXL_SELECT", SELECT_NARGS)(
        byref(c_int(x.shape[0])), _lab._a(x), _lab._a(y), _lab._a(w),
        byref(c_int(1 if stated else 0)), byref(c_double(xmin)), byref(c_double(xmax)),
        byref(c_int(m)), _lab._a(deg), byref(c_int(mode)), _lab._a(c2), _lab._a(fs),
        _lab._a(dof), _lab._a(gt), _lab._a(gp), _lab._a(ts), _lab._a(tp), _lab._a(aic),
        byref(best), byref(reason), byref(st))
    return dict(chi2=c2, fitstat=fs, dof=dof, goftest=gt, gofp=gp, termstat=ts, termp=tp,
                aic=aic, best=best.value, reason=reason.value, istat=st.value)
