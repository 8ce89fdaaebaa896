"""The tests' own reference of the scaled polynomial, in numpy: basis rows, slopes and
the power-series form, independent of the laboratory library the package calls.

A curve of NCOEF coefficients on [xmin, xmax] is
p(x) = c_1/2 + c_2 T_1(t) + ... + c_NCOEF T_{NCOEF-1}(t),
t = ((x - xmin) - (xmax - x)) / (xmax - xmin), as the library stores it.
"""
from __future__ import annotations

import numpy as np
from numpy.polynomial import chebyshev as C
from numpy.polynomial import polynomial as P


def scaled(x, xmin: float, xmax: float) -> np.ndarray:
    """t in [-1, 1] for x in [xmin, xmax], computed as the library does."""
    x = np.asarray(x, dtype=np.float64)
    return ((x - xmin) - (xmax - x)) / (xmax - xmin)


def basis(x, ncoef: int, xmin: float, xmax: float) -> np.ndarray:
    """Basis rows g(x) = (1/2, T_1(t), ..., T_{NCOEF-1}(t)), one row per point."""
    t = scaled(np.atleast_1d(x), xmin, xmax)
    b = np.empty((t.shape[0], ncoef))
    b[:, 0] = 1.0
    if ncoef > 1:
        b[:, 1] = t
    for k in range(2, ncoef):
        b[:, k] = 2.0 * t * b[:, k - 1] - b[:, k - 2]
    b[:, 0] = 0.5
    return b


def series(coef) -> np.ndarray:
    """The coefficients as a numpy Chebyshev series in t (first at full weight)."""
    c = np.array(coef, dtype=np.float64)
    c[0] *= 0.5
    return c


def slope(coef, x, xmin: float, xmax: float) -> np.ndarray:
    """dp/dx at x."""
    t = scaled(x, xmin, xmax)
    c = series(coef)
    if c.shape[0] < 2:
        return np.zeros_like(t)
    return C.chebval(t, C.chebder(c)) * (2.0 / (xmax - xmin))


def power_matrix(ncoef: int, xmin: float, xmax: float) -> np.ndarray:
    """M with a = M c: the power-series coefficients a_0..a_{NCOEF-1} in x of the curve
    with scaled coefficients c."""
    # t = alpha x + beta; T_k(t) in powers of t, then of x.
    alpha = 2.0 / (xmax - xmin)
    beta = -(xmin + xmax) / (xmax - xmin)
    m = np.zeros((ncoef, ncoef))
    lin = np.array([beta, alpha])
    for k in range(ncoef):
        unit = np.zeros(k + 1)
        unit[k] = 0.5 if k == 0 else 1.0
        pt = C.cheb2poly(unit)  # powers of t
        px = np.zeros(1)
        for a in pt[::-1]:  # Horner in the polynomial t(x)
            px = P.polyadd(P.polymul(px, lin), [a])
        m[: px.shape[0], k] = px[:ncoef]
    return m
