"""The correlated-standards family of the laboratory library, bound: the
generalized Gauss-Markov fit (``QVXL_GGM_FIT``), the standards' covariance from
components and dilution chains, what samples share with the standards, and
inverse prediction with the joint covariance.  Functions here convert arguments
and return the library's outputs with its status; callers turn statuses into
errors."""
from __future__ import annotations

from ctypes import byref, c_double, c_int

import numpy as np

from . import _lab
from ._lab import _a

NOT_POSITIVE = 90
NOT_SYMMETRIC = 91
NO_CONVERGENCE = 92
DEGENERATE = 93
BAD_CHAIN = 94
NO_SPREAD = 95
INCONSISTENT = 96

OPT_INTERVAL, OPT_TOL, OPT_MAXIT, IGNORE = 1, 2, 4, 8


def _f(a) -> np.ndarray:
    return np.asfortranarray(a, dtype=np.float64)


def _c(a) -> np.ndarray:
    return np.ascontiguousarray(a, dtype=np.float64)


def ggm_fit(x, y, v, ncoef: int, interval=None, tol=None, maxit=None,
            ignore: bool = False) -> dict:
    """QVXL_GGM_FIT: every output, the options used, ``info`` and ``istat``."""
    x, y, v = _c(x), _c(y), _f(v)
    n = x.shape[0]
    coef = np.full(ncoef, np.nan)
    cov = np.full((ncoef, ncoef), np.nan, order="F")
    xadj, fitted = np.full(n, np.nan), np.full(n, np.nan)
    gain = np.full((ncoef, 2 * n), np.nan, order="F")
    info = np.zeros(3, dtype=np.intc)
    iv = np.array(interval if interval is not None else (0.0, 0.0), dtype=np.float64)
    tl, mi = c_double(tol or 0.0), c_int(maxit or 0)
    defaults = ((OPT_INTERVAL if interval is not None else 0) | (OPT_TOL if tol is not None else 0)
                | (OPT_MAXIT if maxit is not None else 0) | (IGNORE if ignore else 0))
    chi2, dof, st = c_double(np.nan), c_int(), c_int()
    _lab.function("QVXL_GGM_FIT", 18)(
        byref(c_int(n)), _a(x), _a(y), _a(v), byref(c_int(ncoef)), byref(c_int(defaults)),
        _a(iv), byref(tl), byref(mi), _a(coef), _a(cov), byref(chi2), byref(dof), _a(xadj),
        _a(fitted), _a(gain), _a(info), byref(st))
    return dict(coef=coef, cov=cov, chi2=chi2.value, dof=dof.value, x_adjusted=xadj,
                fitted=fitted, gain=gain, interval=(float(iv[0]), float(iv[1])), tol=tl.value,
                maxit=mi.value, info=info.tolist(), istat=st.value)


def components(v, uxind, uyind, uxsrc, uysrc, add: bool) -> int:
    """QVXL_GGM_COMPONENTS into ``v`` (2n x 2n, Fortran order, changed in place)."""
    uxind, uyind = _c(uxind), _c(uyind)
    n = uxind.shape[0]
    uxs, uys = _f(uxsrc).reshape(n, -1, order="F"), _f(uysrc).reshape(n, -1, order="F")
    ns = uxs.shape[1]
    one = np.zeros(1)
    st = c_int()
    _lab.function("QVXL_GGM_COMPONENTS", 9)(
        byref(c_int(n)), byref(c_int(ns)), _a(uxind), _a(uyind), _a(uxs if ns else one),
        _a(uys if ns else one), byref(c_int(1 if add else 0)), _a(v), byref(st))
    return st.value


def dilution(v, x, parent, rel, rstock: float, add: bool) -> tuple[int, int]:
    """QVXL_GGM_DILUTION into ``v`` (in place): (istat, the standard a status names)."""
    x, rel = _c(x), _c(rel)
    parent = np.ascontiguousarray(parent, dtype=np.intc)
    bad, st = c_int(), c_int()
    _lab.function("QVXL_GGM_DILUTION", 9)(
        byref(c_int(x.shape[0])), _a(x), _a(parent), _a(rel), byref(c_double(rstock)),
        byref(c_int(1 if add else 0)), _a(v), byref(bad), byref(st))
    return st.value, bad.value


def shared(nstd: int, ustd, usmp, uyind):
    """QVXL_GGM_SHARED: (vs, czs, istat)."""
    uyind = _c(uyind)
    m = uyind.shape[0]
    ustd, usmp = _f(ustd).reshape(2 * nstd, -1, order="F"), _f(usmp).reshape(m, -1, order="F")
    ns = ustd.shape[1]
    vs = np.empty((m, m), order="F")
    czs = np.empty((2 * nstd, m), order="F")
    st = c_int()
    one = np.zeros(1)
    _lab.function("QVXL_GGM_SHARED", 9)(
        byref(c_int(nstd)), byref(c_int(m)), byref(c_int(ns)), _a(ustd if ns else one),
        _a(usmp if ns else one), _a(uyind), _a(vs), _a(czs), byref(st))
    return vs, czs, st.value


def inverse(coef, cov, xmin: float, xmax: float, gain, ys, vs, mode: int, czs=None):
    """QVXL_GGM_INVERSE (mode 0 nothing shared, 1 shared with the standards through
    ``czs``, 2 every correlation ignored): (x, covx, ux, istat)."""
    coef, cov, gain = _c(coef), _f(cov), _f(gain)
    ys, vs = _c(ys), _f(vs)
    m = ys.shape[0]
    nstd = gain.shape[1] // 2
    z = _f(czs) if czs is not None else np.zeros(1)
    x, ux = np.empty(m), np.empty(m)
    covx = np.empty((m, m), order="F")
    st = c_int()
    _lab.function("QVXL_GGM_INVERSE", 16)(
        byref(c_int(coef.size)), _a(coef), _a(cov), byref(c_double(xmin)),
        byref(c_double(xmax)), byref(c_int(nstd)), _a(gain), byref(c_int(m)), _a(ys), _a(vs),
        byref(c_int(mode)), _a(z), _a(x), _a(covx), _a(ux), byref(st))
    return x, covx, ux, st.value
