"""The curve statistics of the laboratory library, bound: values, slopes and
u(p(x)), coverage factors, the response's scatter, bands, the power form and the
joint covariance of readings.  Functions here convert arguments and return the
library's outputs with its status; callers turn statuses into errors."""
from __future__ import annotations

from ctypes import byref, c_double, c_int

import numpy as np

from . import _lab
from ._lab import _a

OUTSIDE = 40
UY_DIFFER = 41
NO_DOF = 42

VALUE, SLOPE, UNCERTAINTY = 1, 2, 4


def _curve_args(coef, cov, xmin, xmax):
    c = np.ascontiguousarray(coef, dtype=np.float64)
    v = np.asfortranarray(cov, dtype=np.float64) if cov is not None else np.zeros(c.size ** 2)
    return c, v


def curve(coef, cov, xmin: float, xmax: float, x, what: int, extend: bool = False):
    """QVXL_CURVE at the points x (1-D float64): (y, dy, u, istat), None for what was not
    asked for."""
    c, v = _curve_args(coef, cov, xmin, xmax)
    x = np.ascontiguousarray(x, dtype=np.float64)
    n = x.shape[0]
    y = np.empty(n) if what & VALUE else np.empty(1)
    dy = np.empty(n) if what & SLOPE else np.empty(1)
    u = np.empty(n) if what & UNCERTAINTY else np.empty(1)
    st = c_int()
    _lab.function("QVXL_CURVE", 13)(
        byref(c_int(c.size)), _a(c), _a(v), byref(c_double(xmin)), byref(c_double(xmax)),
        byref(c_int(what)), byref(c_int(1 if extend else 0)), byref(c_int(n)), _a(x), _a(y),
        _a(dy), _a(u), byref(st))
    return (y if what & VALUE else None, dy if what & SLOPE else None,
            u if what & UNCERTAINTY else None, st.value)


def coverage(covkind: int, dof: int, level: float, sided: int = 2) -> tuple[float, int]:
    """QVXL_COVERAGE: (k, istat)."""
    k, st = c_double(), c_int()
    _lab.function("QVXL_COVERAGE", 6)(byref(c_int(covkind)), byref(c_int(dof)),
                                      byref(c_double(level)), byref(c_int(sided)), byref(k),
                                      byref(st))
    return k.value, st.value


def response_sd(x, weighting: int, ustd, covkind: int, sres: float) -> tuple[np.ndarray, int]:
    """QVXL_RESPONSE_SD at x; ``ustd`` the standards' stated u(y) or None."""
    x = np.ascontiguousarray(x, dtype=np.float64)
    u = np.ascontiguousarray(ustd, dtype=np.float64) if ustd is not None else np.zeros(1)
    out = np.empty_like(x)
    st = c_int()
    _lab.function("QVXL_RESPONSE_SD", 9)(
        byref(c_int(x.size)), _a(x), byref(c_int(weighting)),
        byref(c_int(u.size if ustd is not None else 0)), _a(u), byref(c_int(covkind)),
        byref(c_double(sres)), _a(out), byref(st))
    return out, st.value


def band(coef, cov, xmin, xmax, covkind: int, dof: int, level: float, kind: int, x, rsd):
    """QVXL_BAND: (y, u, lower, upper, k, istat)."""
    c, v = _curve_args(coef, cov, xmin, xmax)
    x = np.ascontiguousarray(x, dtype=np.float64)
    r = np.ascontiguousarray(rsd, dtype=np.float64) if rsd is not None else np.zeros(1)
    n = x.shape[0]
    y, u, lo, hi = (np.empty(n) for _ in range(4))
    k, st = c_double(), c_int()
    _lab.function("QVXL_BAND", 18)(
        byref(c_int(c.size)), _a(c), _a(v), byref(c_double(xmin)), byref(c_double(xmax)),
        byref(c_int(covkind)), byref(c_int(dof)), byref(c_double(level)), byref(c_int(kind)),
        byref(c_int(n)), _a(x), _a(r), _a(y), _a(u), _a(lo), _a(hi), byref(k), byref(st))
    return y, u, lo, hi, k.value, st.value


def power(coef, cov, xmin: float, xmax: float):
    """QVXL_POWER: (a, cov_a, istat)."""
    c, v = _curve_args(coef, cov, xmin, xmax)
    a = np.empty(c.size)
    ca = np.empty((c.size, c.size), order="F")
    st = c_int()
    _lab.function("QVXL_POWER", 8)(byref(c_int(c.size)), _a(c), _a(v), byref(c_double(xmin)),
                                   byref(c_double(xmax)), _a(a), _a(ca), byref(st))
    return a, ca, st.value


def joint_cov(coef, cov, xmin, xmax, x, uy, mode: int, w=None):
    """QVXL_JOINT_COV: (s, d, out, value, istat); ``w`` (k x n) for mode 2."""
    c, v = _curve_args(coef, cov, xmin, xmax)
    x = np.ascontiguousarray(x, dtype=np.float64)
    uy = np.ascontiguousarray(uy, dtype=np.float64)
    n = x.shape[0]
    s = np.empty((n, c.size), order="F")
    d = np.empty(n)
    if mode == 2:
        wf = np.asfortranarray(w, dtype=np.float64)
        nw = wf.shape[0]
        out = np.empty((nw, nw), order="F")
        value = np.empty(nw)
    else:
        wf, nw = np.zeros(1), 0
        out = np.empty((n, n), order="F") if mode == 1 else np.empty(1)
        value = np.empty(1)
    st = c_int()
    _lab.function("QVXL_JOINT_COV", 16)(
        byref(c_int(c.size)), _a(c), _a(v), byref(c_double(xmin)), byref(c_double(xmax)),
        byref(c_int(n)), _a(x), _a(uy), byref(c_int(mode)), byref(c_int(nw)), _a(wf), _a(s),
        _a(d), _a(out), _a(value), byref(st))
    return s, d, out, value, st.value
