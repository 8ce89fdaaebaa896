"""Inverse prediction: responses read back into x, with the joint covariance on demand.

``IPVAL`` takes an NPTS x NPTS response covariance of which it reads only the
diagonal, so the responses are passed in chunks of at most ``CHUNK`` (a 2 MiB
matrix, reused): a million responses need no more memory than their results.
"""
from __future__ import annotations

import functools
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

import numpy as np

from . import _clib
from . import _validate as V
from .basis import basis, slope
from .errors import InputError, status_error

CHUNK = 512
DEFAULT_NGRID = 100
END_RTOL = 1e-9
_COLUMNS = np.arange(9)[None, :]


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
    elif n <= CHUNK:
        n_roots, roots, u_roots = _ipval_chunk(cal.coef, cov, yv, uy, xmin, xmax, ngrid, tol)
    else:
        n_roots = np.empty(n, dtype=np.intc)
        roots = np.empty((n, nr))
        u_roots = np.empty((n, nr))

        def run(start):
            stop = min(start + CHUNK, n)
            part = _ipval_chunk(cal.coef, cov, yv[start:stop], uy[start:stop], xmin, xmax,
                                ngrid, tol)
            n_roots[start:stop], roots[start:stop], u_roots[start:stop] = part

        starts = range(0, n, CHUNK)
        if workers > 1:
            with ThreadPoolExecutor(max_workers=workers) as pool:
                list(pool.map(run, starts))
        else:
            for start in starts:
                run(start)
    return InversePrediction(y=yv.copy(), u_y=uy.copy(), n_roots=n_roots, roots=roots,
                             u_roots=u_roots, coef=cal.coef, cov_coef=cov, interval=(xmin, xmax))



def _ipval_chunk(coef, cov, y, uy, xmin, xmax, ngrid, tol):
    """IPVAL on one chunk: (n_roots, roots, u_roots), roots NaN-padded, one row a response."""
    m = y.shape[0]
    nr = coef.shape[0] - 1
    covy = np.zeros((m, m), order="F")
    covy.flat[:: m + 1] = uy * uy
    nroot = np.empty(m, dtype=np.intc)
    xroot = np.empty((nr, m), order="F")
    uxroot = np.empty((nr, m), order="F")
    istat = _clib.ipval(coef, cov, np.ascontiguousarray(y), covy, xmin, xmax, ngrid, tol, nroot,
                        xroot, uxroot)
    if istat != 0:
        raise status_error("IPVAL", istat, xmin=xmin, xmax=xmax)
    roots, u_roots = xroot.T, uxroot.T  # C-ordered (m, nr) views
    missing = _COLUMNS[:, :nr] >= nroot[:, None]
    if missing.any():
        roots[missing] = np.nan
        u_roots[missing] = np.nan
    return nroot, roots, u_roots


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
