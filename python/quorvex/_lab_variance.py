"""Variance models through the laboratory library (``QVXL_VARIANCE_FIT``,
``QVXL_VARIANCE_AT``, ``QVXL_VARIANCE_READBACK``, ``QVXL_BLANK_SCATTER``): argument
conversion only; callers turn statuses into errors."""
from __future__ import annotations

from ctypes import byref, c_double, c_int

import numpy as np

from . import _lab
from ._lab import _a

MODELS = ("constant", "proportional", "floor", "power")
AUTO = -1
FEW_REPLICATES, NO_SCATTER, IMPOSSIBLE, ZERO_AT_STANDARD = 100, 101, 102, 103
UYSRC_MODEL = 3
BLANK_READINGS, BLANK_MODEL, BLANK_NONE = 6, 7, 0


def _f64(a) -> np.ndarray:
    return np.ascontiguousarray(a, dtype=np.float64)


def fit(x, y, model: int, alpha: float) -> dict:
    """QVXL_VARIANCE_FIT; returns every output with ``istat``."""
    x, y = _f64(x), _f64(y)
    n = x.shape[0]
    chosen, st = c_int(-9), c_int()
    par, pcov, loglik, test = np.zeros(2), np.zeros(4), np.full(4, np.nan), np.zeros(2)
    ndof = np.zeros(2, dtype=np.intc)
    sd, mu = np.zeros(n), np.zeros(n)
    _lab.function("QVXL_VARIANCE_FIT", 14)(
        byref(c_int(n)), _a(x), _a(y), byref(c_int(model)), byref(c_double(alpha)),
        byref(chosen), _a(par), _a(pcov), _a(loglik), _a(test), _a(ndof), _a(sd), _a(mu),
        byref(st))
    return dict(model=chosen.value, a=float(par[0]), b=float(par[1]), cov=pcov,
                loglik=loglik, lr=float(test[0]), p=float(test[1]), dof=int(ndof[0]),
                groups=int(ndof[1]), sd=sd, mu=mu, istat=st.value)


def fit_residuals(x, y, ncoef: int, model: int, alpha: float) -> dict:
    """QVXL_VARIANCE_FIT_RESIDUALS; returns every output with ``istat``."""
    x, y = _f64(x), _f64(y)
    n = x.shape[0]
    chosen, st = c_int(-9), c_int()
    par, pcov, loglik, test = np.zeros(2), np.zeros(4), np.full(4, np.nan), np.zeros(2)
    ndof = np.zeros(2, dtype=np.intc)
    sd, mu = np.zeros(n), np.zeros(n)
    _lab.function("QVXL_VARIANCE_FIT_RESIDUALS", 15)(
        byref(c_int(n)), _a(x), _a(y), byref(c_int(ncoef)), byref(c_int(model)),
        byref(c_double(alpha)), byref(chosen), _a(par), _a(pcov), _a(loglik), _a(test),
        _a(ndof), _a(sd), _a(mu), byref(st))
    return dict(model=chosen.value, a=float(par[0]), b=float(par[1]), cov=pcov,
                loglik=loglik, lr=float(test[0]), p=float(test[1]), dof=int(ndof[0]),
                groups=int(ndof[1]), sd=sd, mu=mu, istat=st.value)


def at(model: int, a: float, b: float, cov, x, mu=None) -> tuple[np.ndarray, np.ndarray, int]:
    """QVXL_VARIANCE_AT: (sd, dof, istat) at x (and mu for the power model)."""
    x = _f64(np.atleast_1d(x))
    n = x.shape[0]
    mu = x if mu is None else _f64(np.broadcast_to(np.atleast_1d(mu), (n,)))
    par, pcov = np.array([a, b], dtype=np.float64), _f64(cov)
    sd, dof, st = np.zeros(n), np.zeros(n), c_int()
    _lab.function("QVXL_VARIANCE_AT", 9)(
        byref(c_int(model)), _a(par), _a(pcov), byref(c_int(n)), _a(x), _a(mu), _a(sd),
        _a(dof), byref(st))
    return sd, dof, st.value


def readback(coef, cov, xmin, xmax, vm: dict, xstd_all, mustd, xstd, y, repl, level, ngrid,
             tol, lod=None, loq=None, out=None) -> dict:
    """QVXL_VARIANCE_READBACK: the outputs of ``_lab.readback`` with u(y) from the model."""
    n = y.shape[0]
    nc = coef.shape[0]
    if out is None:
        out = _lab.readback_outputs(n, nc)
    haslim = (1 if lod is not None else 0) | (2 if loq is not None else 0)
    limits = np.array([lod if lod is not None else 0.0, loq if loq is not None else 0.0])
    xs = np.array([xstd[0], xstd[1]], dtype=np.float64)
    par, pcov = np.array([vm["a"], vm["b"]], dtype=np.float64), _f64(vm["cov"])
    xa, ma = _f64(xstd_all), _f64(mustd)
    st = c_int()
    o = out
    _lab.function("QVXL_VARIANCE_READBACK", 35)(
        byref(c_int(nc)), _a(coef), _a(cov), byref(c_double(xmin)), byref(c_double(xmax)),
        byref(c_int(MODELS.index(vm["model"]))), _a(par), _a(pcov), byref(c_int(xa.shape[0])),
        _a(xa), _a(ma), _a(xs), byref(c_int(haslim)), _a(limits), byref(c_int(n)), _a(y),
        _a(repl), byref(c_double(level)), byref(c_int(ngrid)), byref(c_double(tol)),
        _a(o["n_roots"]), _a(o["roots"]), _a(o["u_roots"]), _a(o["u_y"]), _a(o["u_y_code"]),
        _a(o["u_curve"]), _a(o["dof"]), _a(o["k"]), _a(o["U"]), _a(o["low"]), _a(o["high"]),
        _a(o["x_ext"]), _a(o["u_x_ext"]), _a(o["flags"]), byref(st))
    return dict(out, istat=st.value)


def blank_scatter(y) -> tuple[float, float, int]:
    """QVXL_BLANK_SCATTER: (sd, dof, istat) of readings of blanks."""
    y = _f64(y)
    sd, dof, st = c_double(), c_double(), c_int()
    _lab.function("QVXL_BLANK_SCATTER", 5)(byref(c_int(y.shape[0])), _a(y), byref(sd),
                                           byref(dof), byref(st))
    return sd.value, dof.value, st.value


def response_weights(kind: int, v) -> tuple[np.ndarray, int]:
    """QVXL_RESPONSE_WEIGHTS: (relative u(y), istat); kind 1 "1/y", 2 "1/y2", 3 weights."""
    v = _f64(v)
    out, st = np.zeros(v.shape[0]), c_int()
    _lab.function("QVXL_RESPONSE_WEIGHTS", 5)(byref(c_int(kind)), byref(c_int(v.shape[0])),
                                              _a(v), _a(out), byref(st))
    return out, st.value
