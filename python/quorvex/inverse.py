"""Inverse prediction: responses read back into x, with the joint covariance on demand.

``IPVAL`` takes an NPTS x NPTS response covariance of which it reads only the
diagonal, so the responses are passed in chunks of at most ``CHUNK`` (a 2 MiB
matrix per chunk): a million responses need no more memory than their results.
"""
from __future__ import annotations

import functools
import math
import threading
from ctypes import byref, c_double, c_int
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

import numpy as np

from . import _clib
from . import _validate as V
from .basis import basis, slope
from .errors import InputError, status_error

CHUNK = 512
COVY_KEPT = 128  # responses up to which a zero response covariance is kept (128 KiB)
DEFAULT_NGRID = 100
END_RTOL = 1e-9
_kept = threading.local()
# _MISSING[nr][k, j]: root j of a curve with nr roots at most is missing when k are found.
_MISSING = tuple(np.arange(nr)[None, :] >= np.arange(nr + 1)[:, None] for nr in range(10))


@dataclass(frozen=True, eq=False)
class InversePrediction:
    """The x values a calibration gives for measured responses.

    Attributes
    ----------
    y, u_y : ndarray (n,)
        The responses and their standard uncertainties.
    n_roots : ndarray of int (n,)
        Roots found in the curve's interval per response (at most degree).
    roots, u_roots : ndarray (n, degree)
        All roots of each response in increasing order and their standard
        uncertainties, NaN-padded.
    x, u_x : ndarray (n,)
        The first root and its standard uncertainty (NaN where there is none).
    no_root, several_roots, at_end : ndarray of bool (n,)
        No root in the interval; more than one root; a root at an end of the
        interval (within 1e-9 of its width), where a slightly different response
        might have had none.
    coef, cov : ndarray
        The curve's coefficients and the covariance the uncertainties used.
    interval : (float, float)

    Notes
    -----
    The joint covariance of the predictions is
    Cov(x_i, x_j) = g_i' C g_j / (p'(x_i) p'(x_j)) + [i == j] u_y[i]**2 / p'(x_i)**2,
    g the basis row and C the coefficient covariance: samples read off one curve are
    correlated through its coefficients.  ``cov`` forms it (n x n); ``sensitivity``
    and ``response_variance`` are its factors, and ``variance``/``combine`` use them
    without forming it.
    """

    y: np.ndarray
    u_y: np.ndarray
    n_roots: np.ndarray
    roots: np.ndarray
    u_roots: np.ndarray
    coef: np.ndarray
    cov_coef: np.ndarray
    interval: tuple

    def __post_init__(self):
        for name in ("y", "u_y", "n_roots", "roots", "u_roots", "coef", "cov_coef"):
            getattr(self, name).flags.writeable = False

    @classmethod
    def _trusted(cls, **kw) -> "InversePrediction":
        """From ``inverse``'s own read-only arrays, without ``__post_init__``."""
        self = object.__new__(cls)
        self.__dict__.update(kw)
        return self

    @property
    def x(self) -> np.ndarray:
        return self.roots[:, 0]

    @property
    def u_x(self) -> np.ndarray:
        return self.u_roots[:, 0]

    @property
    def no_root(self) -> np.ndarray:
        return self.n_roots == 0

    @property
    def several_roots(self) -> np.ndarray:
        return self.n_roots > 1

    @property
    def at_end(self) -> np.ndarray:
        lo, hi = self.interval
        atol = END_RTOL * (hi - lo)
        near = (np.abs(self.roots - lo) <= atol) | (np.abs(self.roots - hi) <= atol)
        return np.any(near, axis=1)

    def __len__(self) -> int:
        return int(self.y.shape[0])

    def __repr__(self) -> str:
        return (f"InversePrediction(n={len(self)}, no_root={int(self.no_root.sum())}, "
                f"several_roots={int(self.several_roots.sum())}, at_end={int(self.at_end.sum())})")

    # Joint covariance, factored: cov = S C S' + diag(d)
    @functools.cached_property
    def _slopes(self) -> np.ndarray:
        return slope(self.coef, np.nan_to_num(self.x, nan=self.interval[0]), *self.interval)

    @property
    def sensitivity(self) -> np.ndarray:
        """S (n x ncoef): dx_i/dc = -g(x_i)/p'(x_i); rows of NaN where there is no root."""
        g = basis(np.nan_to_num(self.x, nan=self.interval[0]), self.coef.shape[0],
                  *self.interval)
        s = -g / self._slopes[:, None]
        s[self.no_root] = np.nan
        return s

    @property
    def response_variance(self) -> np.ndarray:
        """d (n,): u_y**2 / p'(x)**2, the part of each variance from its own response."""
        d = self.u_y**2 / self._slopes**2
        d[self.no_root] = np.nan
        return d

    @property
    def cov(self) -> np.ndarray:
        """The joint covariance (n x n) of the first roots ``x``.  Its diagonal is u_x**2."""
        s = self.sensitivity
        c = s @ self.cov_coef @ s.T
        c[np.diag_indices_from(c)] += self.response_variance
        return c

    def variance(self, weights) -> float | np.ndarray:
        """Variance of sum_i w_i x_i (one weight vector), or covariance matrix of several
        such combinations (rows of a k x n matrix), without forming the n x n matrix.

        An average of m replicates is ``np.full(m, 1/m)``; the difference of samples i and
        j a vector with +1 at i and -1 at j (zeros elsewhere).
        """
        w = np.asarray(weights, dtype=np.float64)
        one = w.ndim == 1
        w2 = np.atleast_2d(w)
        if w2.ndim != 2 or w2.shape[1] != len(self):
            raise InputError(f"weights must have {len(self)} columns, not shape {w.shape}")
        s, d = self.sensitivity, self.response_variance
        used = np.any(w2 != 0, axis=0)  # a root missing where its weight is 0 does not matter
        a = w2[:, used] @ s[used]
        v = a @ self.cov_coef @ a.T + (w2[:, used] * d[used]) @ w2[:, used].T
        return float(v[0, 0]) if one else v

    def combine(self, weights) -> tuple[float, float]:
        """sum_i w_i x_i and its standard uncertainty."""
        w = np.asarray(weights, dtype=np.float64)
        if w.ndim != 1 or w.shape[0] != len(self):
            raise InputError(f"weights must have {len(self)} elements, not shape {w.shape}")
        used = w != 0
        value = float(w[used] @ self.x[used])
        return value, float(np.sqrt(self.variance(w)))


def inverse(cal, y, u_y=0.0, ngrid: int | None = None, tol: float = 0.0,
            covariance: str | None = None, extrapolate: bool = False,
            workers: int = 1) -> InversePrediction:
    """Every x in the curve's interval with p(x) = y, with standard uncertainties.

    Parameters
    ----------
    cal : Calibration
    y : float or array_like (n,)
        Measured responses.
    u_y : float or array_like (n,)
        Their standard uncertainties (0: the curve's uncertainty only).
    ngrid : int, optional
        Number of equal cells of the interval scanned for sign changes (default 100).
        Two roots closer than one cell are not seen.
    tol : float
        Absolute tolerance of the zero finder added to 4 eps |x| (0: full precision).
    covariance : {"stated", "scaled"}, optional
        Overrides the calibration's choice of covariance.
    extrapolate : bool
        Degree 1 only: the closed form x = (y - intercept)/slope (``IPVAL_DEGREE1``),
        which also answers responses outside the interval.
    workers : int
        Threads that invert chunks side by side (the library releases Python's lock).

    Returns
    -------
    InversePrediction
        u(x)**2 = (g' C g + u_y**2) / p'(x)**2 for every root.
    """
    if not extrapolate:
        p = _inverse_packed(cal, y, u_y, ngrid, tol, covariance, workers)
        if p is not None:
            return p
    routine = "IPVAL_DEGREE1" if extrapolate else "IPVAL"
    yv = V.vector("y", y, routine)
    n = yv.shape[0]
    uy = V.same_length("u_y", V.vector("u_y", u_y, routine), n, routine, broadcast=True)
    if not (uy >= 0).all():
        i = int(np.flatnonzero(~(uy >= 0))[0])
        raise InputError(f"u_y must not be negative: element {i} is {uy[i]:g}", routine=routine)
    ngrid = DEFAULT_NGRID if ngrid is None else V.integer("ngrid", ngrid, 1, routine=routine)
    tol = V.real("tol", tol, routine)
    if tol < 0:
        raise InputError(f"tol must not be negative, not {tol:g}", routine=routine)
    workers = V.integer("workers", workers, 1, 256, routine=routine)
    if cal.ncoef < 2:
        raise InputError("a constant curve (degree 0) has no inverse", routine=routine)
    cov = np.asfortranarray(cal.covariance_for(covariance))
    xmin, xmax = cal.interval
    nr = cal.ncoef - 1
    if extrapolate:
        if cal.ncoef != 2:
            raise InputError(f"extrapolate needs a straight line (degree 1), not degree "
                             f"{cal.degree}", routine=routine)
        x, ux = _degree1(cal.coef, cov, yv, uy, xmin, xmax)
        n_roots = np.where(np.isfinite(x), 1, 0).astype(np.intc)
        roots, u_roots = x.reshape(n, 1), ux.reshape(n, 1)
    else:
        n_roots = np.empty(n, dtype=np.intc)
        roots = np.empty((n, nr))
        u_roots = np.empty((n, nr))

        def run(start):
            stop = min(start + CHUNK, n)
            m = stop - start
            buf = _packed(m, cal.coef, cov)
            buf[:m] = yv[start:stop]
            buf[m:2 * m] = uy[start:stop]
            n_roots[start:stop] = _ipval_packed(buf, m, cal.ncoef, xmin, xmax, ngrid, tol)
            roots[start:stop], u_roots[start:stop] = _roots(buf, m, nr)

        starts = range(0, n, CHUNK)
        if workers > 1 and n > CHUNK:
            with ThreadPoolExecutor(max_workers=workers) as pool:
                list(pool.map(run, starts))
        else:
            for start in starts:
                run(start)
    return InversePrediction(y=yv.copy(), u_y=uy.copy(), n_roots=n_roots, roots=roots,
                             u_roots=u_roots, coef=cal.coef, cov_coef=cov, interval=(xmin, xmax))


def _inverse_packed(cal, y, u_y, ngrid, tol, covariance, workers):
    """``inverse`` of up to ``CHUNK`` responses in one buffer (see ``_packed``), the
    result viewing it; None where anything is amiss or out of the ordinary: ``inverse``
    then checks one argument after the other and names the fault.
    """
    if ngrid is None:
        ngrid = DEFAULT_NGRID
    elif type(ngrid) is not int or not 1 <= ngrid <= V.INT_MAX:
        return None
    if type(tol) is not float or not 0.0 <= tol < math.inf:
        return None
    if type(workers) is not int or not 1 <= workers <= 256:
        return None
    if covariance is not None and covariance not in ("stated", "scaled"):
        return None
    nc = cal.ncoef
    if nc < 2:
        return None
    scalar = type(u_y) is float
    try:
        yv = np.asarray(y, dtype=np.float64)
        uy = u_y if scalar else np.asarray(u_y, dtype=np.float64)
    except Exception:  # the checks one by one say what it is
        return None
    if yv.ndim > 1:
        return None
    m = yv.size
    if not 0 < m <= CHUNK:
        return None
    if scalar:
        if not (0.0 <= uy < math.inf and math.isfinite(uy * uy)):
            return None
    elif uy.ndim > 1 or (uy.ndim == 1 and uy.shape[0] != m and uy.shape[0] != 1):
        return None
    cov = np.asfortranarray(cal.covariance_for(covariance))
    buf = _packed(m, cal.coef, cov)
    buf[:m] = yv
    buf[m:2 * m] = uy
    if not np.logical_and.reduce(np.isfinite(buf[:m] if scalar else buf[:2 * m])):
        return None
    if not scalar and not np.minimum.reduce(buf[m:2 * m]) >= 0.0:
        return None
    xmin, xmax = cal.interval
    n_roots = _ipval_packed(buf, m, nc, xmin, xmax, ngrid, tol, uy * uy if scalar else None)
    buf.flags.writeable = False  # and so the views below
    n_roots.flags.writeable = False
    roots, u_roots = _roots(buf, m, nc - 1)
    return InversePrediction._trusted(y=buf[:m], u_y=buf[m:2 * m], n_roots=n_roots, roots=roots,
                                      u_roots=u_roots, coef=cal.coef, cov_coef=cov,
                                      interval=(xmin, xmax))


def _packed(m: int, coef: np.ndarray, cov: np.ndarray) -> np.ndarray:
    """A buffer for ``IPVAL`` on m responses of a curve of nr + 1 coefficients:
    y (m), u_y (m), the roots (nr per response), their uncertainties (likewise), then
    coef and cov (Fortran order), which are filled in."""
    nc = coef.shape[0]
    o = 2 * m * nc  # 2 m + 2 m nr
    buf = np.empty(o + nc + nc * nc)
    buf[o:o + nc] = coef
    buf[o + nc:] = cov.ravel(order="F")
    return buf


def _roots(buf: np.ndarray, m: int, nr: int) -> tuple[np.ndarray, np.ndarray]:
    """The roots and their uncertainties in a ``_packed`` buffer, one row a response."""
    p = 2 * m + nr * m
    return buf[2 * m:p].reshape(m, nr), buf[p:p + nr * m].reshape(m, nr)


def _ipval_packed(buf, m, ncoef, xmin, xmax, ngrid, tol, u2=None) -> np.ndarray:
    """``IPVAL`` on a ``_packed`` buffer: fills the roots and their uncertainties
    (NaN beyond the roots found) and returns the number of roots per response.
    ``u2`` is u_y**2 when u_y is one value for all."""
    nr = ncoef - 1
    # The response covariance: zeros with u_y**2 on the diagonal (IPVAL reads only
    # that).  Up to COVY_KEPT responses a zero matrix kept per thread is used, its
    # diagonal cleared again after the call.
    kept = m <= COVY_KEPT
    covy = _zero_covy() if kept else np.zeros(m * m)
    diag = covy[:m * m:m + 1]
    try:
        if u2 is None:
            uy = buf[m:2 * m]
            np.multiply(uy, uy, out=diag)
        else:
            diag[...] = u2
        nroot = _ipval_call(buf, covy, m, ncoef, xmin, xmax, ngrid, tol)
    finally:
        if kept:
            diag[...] = 0.0
    both = buf[2 * m:2 * m + 2 * nr * m].reshape(2, m, nr)
    np.copyto(both, np.nan, where=_MISSING[nr].take(nroot, 0))
    return nroot


def _zero_covy() -> np.ndarray:
    c = getattr(_kept, "covy", None)
    if c is None:
        c = _kept.covy = np.zeros(COVY_KEPT * COVY_KEPT)
    return c


def _ipval_call(buf, covy, m, ncoef, xmin, xmax, ngrid, tol) -> np.ndarray:
    nr = ncoef - 1
    nroot = np.empty(m, dtype=np.intc)
    b = _clib.address(buf)
    pr = b + 16 * m  # roots, then their uncertainties, then coef and cov
    pu = pr + 8 * nr * m
    pc = pu + 8 * nr * m
    istat = c_int()
    _clib.unchecked().IPVAL(byref(c_int(ncoef)), pc, pc + 8 * ncoef, byref(c_int(m)), b,
                            _clib.address(covy), byref(c_double(xmin)), byref(c_double(xmax)),
                            byref(c_int(ngrid)), byref(c_double(tol)), _clib.address(nroot), pr,
                            pu, byref(istat))
    if istat.value != 0:
        raise status_error("IPVAL", istat.value, xmin=xmin, xmax=xmax)
    return nroot


def _degree1(coef, cov, y, uy, xmin, xmax):
    x = np.empty(y.shape[0])
    ux = np.empty(y.shape[0])
    for start in range(0, y.shape[0], CHUNK):
        stop = min(start + CHUNK, y.shape[0])
        m = stop - start
        covy = np.zeros((m, m), order="F")
        covy.flat[:: m + 1] = uy[start:stop] ** 2
        xp, up, istat = _clib.ipval_degree1(coef, cov, np.asfortranarray(y[start:stop]), covy,
                                            xmin, xmax)
        if istat != 0:
            raise status_error("IPVAL_DEGREE1", istat, xmin=xmin, xmax=xmax)
        x[start:stop], ux[start:stop] = xp, up
    return x, ux
