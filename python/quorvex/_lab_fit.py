"""The fit rules of the laboratory library, bound: one complete fit (``QVXL_FIT``),
the default interval and tolerances, the weighting presets and the covariance's
scaling.  Functions here convert arguments and return the library's outputs with
its status; callers turn statuses into errors."""
from __future__ import annotations

from ctypes import byref, c_double, c_int

import numpy as np

from . import _lab
from ._lab import _a

# Statuses of the fit rules (quorvex_lab.h).
X_NOT_POSITIVE = 30
UX_WITHOUT_UY = 31
PRESET_WITH_U = 32
NO_SPREAD = 33
OUTSIDE = 34
WEIGHT_OVERFLOW = 35
OLS_FAILED = 36
UNCONVERGED = 37
GLS_FAILED = 38
SCALE_OVERFLOW = 39

STATUS_TEXT = {
    X_NOT_POSITIVE: "a weighting preset needs every x > 0",
    UX_WITHOUT_UY: "u_x needs u_y too",
    PRESET_WITH_U: "give either u_y (and u_x) or a weighting preset, not both",
    NO_SPREAD: "the standards share one x: a curve needs distinct x values",
    OUTSIDE: "a standard lies outside the interval",
    WEIGHT_OVERFLOW: "a weight 1/u overflows",
    SCALE_OVERFLOW: "the residual scatter is too large to square in double precision",
}

# Arrays of n per standard in QVXL_FIT's output, in order.
_ROWS = ("fitted", "residuals", "weighted_residuals", "x_adjusted", "residuals_x",
         "weighted_residuals_x", "weights", "x_weights")


def status_text(st: int) -> str:
    return STATUS_TEXT.get(st) or _lab.STATUS_TEXT.get(st, f"status {st}")


def fit(x, y, uy, ux, weighting: int, keep, ncoef: int, interval=None, tol=None,
        maxit=None, sigma=None, covkind: int = -1) -> dict:
    """QVXL_FIT on contiguous float64 arrays (``uy``, ``ux`` None when not given,
    ``keep`` an intc array or None for all); returns every output as arrays (views of
    one block) with ``istat``, ``info`` and the options used."""
    n = x.shape[0]
    nc2 = ncoef * ncoef
    block = np.empty(ncoef + 2 * nc2 + 8 * n + 4)
    coef = block[:ncoef]
    cov = block[ncoef:ncoef + nc2]
    covsc = block[ncoef + nc2:ncoef + 2 * nc2]
    p = ncoef + 2 * nc2
    rows = {name: block[p + k * n:p + (k + 1) * n] for k, name in enumerate(_ROWS)}
    rinfo = block[p + 8 * n:]
    info = np.zeros(5, dtype=np.intc)
    if keep is None:
        keep = np.ones(n, dtype=np.intc)
    one = np.zeros(1)
    given = (1 if uy is not None else 0) | (2 if ux is not None else 0)
    defaults = ((1 if interval is not None else 0) | (2 if tol is not None else 0)
                | (4 if maxit is not None else 0) | (8 if sigma is not None else 0))
    iv = np.array(interval if interval is not None else (0.0, 0.0), dtype=np.float64)
    tv = np.array(tol if tol is not None else (0.0, 0.0), dtype=np.float64)
    mi, sg, ck = c_int(maxit or 0), c_double(sigma or 0.0), c_int(covkind)
    sres, dof, chi2, st = c_double(), c_int(), c_double(), c_int()
    _lab.function("QVXL_FIT", 32)(
        byref(c_int(n)), _a(x), _a(y), _a(uy if uy is not None else one),
        _a(ux if ux is not None else one), byref(c_int(given)), byref(c_int(weighting)),
        _a(keep), byref(c_int(ncoef)), byref(c_int(defaults)), _a(iv), _a(tv), byref(mi),
        byref(sg), byref(ck), _a(coef), _a(cov), _a(covsc), byref(sres), byref(dof),
        byref(chi2), *(_a(rows[name]) for name in _ROWS), _a(rinfo), _a(info), byref(st))
    out = dict(rows, coef=coef, cov=cov.reshape((ncoef, ncoef), order="F"),
               cov_scaled=covsc.reshape((ncoef, ncoef), order="F"), sres=sres.value,
               dof=dof.value, chi2=chi2.value, rinfo=rinfo, info=info.tolist(),
               interval=(float(iv[0]), float(iv[1])), tol=(float(tv[0]), float(tv[1])),
               maxit=mi.value, sigma=sg.value, covkind=ck.value, istat=st.value)
    return out


def default_interval(x: np.ndarray, ux: np.ndarray | None) -> tuple[tuple[float, float], int]:
    """QVXL_DEFAULT_INTERVAL: ((xmin, xmax), istat)."""
    x = np.ascontiguousarray(x, dtype=np.float64)
    u = np.ascontiguousarray(ux, dtype=np.float64) if ux is not None else np.zeros(1)
    lo, hi, st = c_double(), c_double(), c_int()
    _lab.function("QVXL_DEFAULT_INTERVAL", 7)(
        byref(c_int(x.shape[0])), _a(x), byref(c_int(1 if ux is not None else 0)), _a(u),
        byref(lo), byref(hi), byref(st))
    return (lo.value, hi.value), st.value


def default_tolerances(x, y, wx, wy, coef, cov, xmin, xmax) -> tuple[tuple[float, float], int]:
    """QVXL_DEFAULT_TOLERANCES: ((tol1, tol2), istat)."""
    arr = [np.ascontiguousarray(a, dtype=np.float64) for a in (x, y, wx, wy, coef)]
    c = np.asfortranarray(cov, dtype=np.float64)
    tol = np.zeros(2)
    st = c_int()
    _lab.function("QVXL_DEFAULT_TOLERANCES", 12)(
        byref(c_int(arr[0].shape[0])), *(_a(a) for a in arr[:4]),
        byref(c_int(arr[4].shape[0])), _a(arr[4]), _a(c), byref(c_double(xmin)),
        byref(c_double(xmax)), _a(tol), byref(st))
    return (float(tol[0]), float(tol[1])), st.value


def weights(weighting: int, what: int, x: np.ndarray) -> tuple[np.ndarray, int]:
    """QVXL_WEIGHTS: what 1 the preset's weights W, 2 the response scale 1/W(x)."""
    x = np.ascontiguousarray(x, dtype=np.float64)
    out = np.empty_like(x)
    st = c_int()
    _lab.function("QVXL_WEIGHTS", 6)(byref(c_int(weighting)), byref(c_int(what)),
                                     byref(c_int(x.size)), _a(x), _a(out), byref(st))
    return out, st.value


def scaled_cov(cov: np.ndarray, sres: float, dof: int) -> tuple[np.ndarray, int]:
    """QVXL_SCALED_COV: (cov * sres**2, istat)."""
    c = np.asfortranarray(cov, dtype=np.float64)
    out = np.empty_like(c, order="F")
    st = c_int()
    _lab.function("QVXL_SCALED_COV", 6)(byref(c_int(c.shape[0])), _a(c), byref(c_double(sres)),
                                        byref(c_int(dof)), _a(out), byref(st))
    return out, st.value
