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
# Cells of the curve's interval scanned for the ends of the inversion interval.
INVERSION_GRID = 512


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
    source_given: tuple | None = None
    level: float = 0.95
    dof_curve: float = math.inf
    dof_reading: np.ndarray | None = None

    def __post_init__(self):
        for name in ("y", "u_y", "n_roots", "roots", "u_roots", "coef", "cov_coef"):
            getattr(self, name).flags.writeable = False

    @classmethod
    def _trusted(cls, **kw) -> "InversePrediction":
        """From ``inverse``'s own read-only arrays, without ``__post_init__``."""
        self = object.__new__(cls)
        self.__dict__.update(_PREDICTION_DEFAULTS)
        self.__dict__.update(kw)
        return self

    def _described(self, source, level, dof_curve, dof_reading) -> "InversePrediction":
        """Sets where each u(y) came from and the degrees of freedom of both parts of
        u(x) (``inverse`` calls this on its own new result only)."""
        d = self.__dict__
        d["source_given"] = source
        d["level"] = float(level)
        d["dof_curve"] = float(dof_curve)
        d["dof_reading"] = dof_reading
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

    # Expanded uncertainty and the inversion interval
    @property
    def u_y_source(self) -> tuple:
        """Where each u(y) came from, per response: "from the scatter, 1 reading" ("..., 3
        readings"), "stated" or "curve only" (a stated 0 included)."""
        if self.source_given is not None:
            return self.source_given
        return tuple("stated" if u > 0 else "curve only" for u in self.u_y.tolist())

    @property
    def coverage(self) -> float:
        """The coverage probability of ``U`` and of the intervals (``level``)."""
        return self.level

    @functools.cached_property
    def u_curve(self) -> np.ndarray:
        """The curve's part of u(x): sqrt(g' C g) / |p'(x)| (NaN where there is no root)."""
        s = self.sensitivity
        return np.sqrt(np.einsum("ij,jk,ik->i", s, self.cov_coef, s))

    @functools.cached_property
    def dof(self) -> np.ndarray:
        """Effective degrees of freedom of u(x) per response (inf: a normal k).

        The curve's part has the fit's dof when the covariance was scaled by the residual
        scatter (inf when stated); the reading's part the fit's dof when u(y) came from
        the scatter (inf when stated).  Where both are estimated from the same scatter
        the whole has the fit's dof; where a scaled part and a stated part combine, the
        Welch-Satterthwaite formula (GUM G.4.1) gives
        nu = u(x)**4 / (u_c**4 / nu_c + u_r**4 / nu_r)."""
        n = len(self)
        nu_c = self.dof_curve
        nu_r = (np.full(n, math.inf) if self.dof_reading is None
                else np.asarray(self.dof_reading, dtype=np.float64))
        uc2 = self.u_curve ** 2
        ur2 = self.response_variance
        same = np.isfinite(nu_r) & (nu_r == nu_c)
        with np.errstate(divide="ignore", invalid="ignore"):
            denom = (np.where(np.isfinite(nu_c), uc2 ** 2 / nu_c, 0.0)
                     + np.where(np.isfinite(nu_r), ur2 ** 2 / nu_r, 0.0))
            ws = np.where(denom > 0, (uc2 + ur2) ** 2 / denom, math.inf)
        nu = np.where(same, nu_c, ws)
        nu = np.where(self.no_root, math.nan, nu)
        nu.flags.writeable = False
        return nu

    @functools.cached_property
    def k(self) -> np.ndarray:
        """Coverage factor per response: Student's t with ``dof`` (normal where dof is
        infinite) at ``level``, two-sided."""
        from .diagnostics import _stats
        st = _stats()
        q = (1.0 + self.level) / 2.0
        nu = self.dof
        fin = np.isfinite(nu)
        k = np.full(nu.shape, float(st.norm.ppf(q)))
        if fin.any():
            k[fin] = st.t.ppf(q, nu[fin])
        k[np.isnan(nu)] = math.nan
        k.flags.writeable = False
        return k

    @property
    def U(self) -> np.ndarray:
        """Expanded uncertainty k u(x) of the first root (GUM 6.2)."""
        return self.k * self.u_x

    @functools.cached_property
    def _inversion(self) -> tuple:
        lo, hi = _inversion_interval(self)
        for a in (lo, hi):
            a.flags.writeable = False
        return lo, hi

    @property
    def low(self) -> np.ndarray:
        """Lower end of the inversion interval (see :func:`_inversion_interval`)."""
        return self._inversion[0]

    @property
    def high(self) -> np.ndarray:
        """Upper end of the inversion interval."""
        return self._inversion[1]

    @property
    def interval_open(self) -> np.ndarray:
        """The inversion interval reaches an end of the curve's interval: the data do not
        bound x on that side within the curve."""
        lo, hi = self.interval
        return (self.low <= lo) | (self.high >= hi)

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


def inverse(cal, y, u_y=None, ngrid: int | None = None, tol: float = 0.0,
            covariance: str | None = None, extrapolate: bool = False,
            workers: int = 1, *, replicates=1, level: float = 0.95) -> InversePrediction:
    """Every x in the curve's interval with p(x) = y, with standard uncertainties.

    Parameters
    ----------
    cal : Calibration
    y : float or array_like (n,)
        Measured responses.
    u_y : None, float, array_like (n,) or "curve-only"
        The responses' standard uncertainties.  None (default): when the calibration has
        no stated uncertainties (its scale comes from the residual scatter), the scatter
        of one reading at the sample's x, SRES / W(x) (SRES unweighted, SRES sqrt(x)
        under "1/x", SRES |x| under "1/x2"), divided by sqrt(``replicates``); with stated
        uncertainties on the standards None is an error.  A number or array: stated
        values.  "curve-only": 0, the curve's uncertainty alone.
    replicates : int or array_like of int (n,)
        Readings averaged into each response (default u_y only).
    level : float
        Coverage probability of ``U`` and of the inversion interval (``low``, ``high``).
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
        u(x)**2 = (g' C g + u_y**2) / p'(x)**2 for every root (GUM 5.1.2); ``U`` = k u(x)
        with ``k`` and ``dof``; the inversion interval ``low``, ``high``.
    """
    level = V.real("level", level)
    if not 0.0 < level < 1.0:
        raise InputError(f"level must lie strictly between 0 and 1, not {level:g}")
    which = cal.covariance if covariance is None else covariance
    dof_curve = cal.dof if which == "scaled" and cal.dof > 0 else math.inf
    plain = u_y is not None and not isinstance(u_y, str)
    if plain:
        if not (type(replicates) is int and replicates == 1):
            raise InputError("replicates applies to the default u(y) from the scatter; a "
                             "stated u_y is already that of the response as given")
        p = _values(cal, y, u_y, ngrid, tol, covariance, extrapolate, workers)
        return p._described(None, level, dof_curve, None)
    if u_y == CURVE_ONLY:
        if not (type(replicates) is int and replicates == 1):
            raise InputError("replicates has no meaning with u_y='curve-only' (u(y) = 0)")
        p = _values(cal, y, 0.0, ngrid, tol, covariance, extrapolate, workers)
        return p._described(("curve only",) * len(p), level, dof_curve, None)
    if isinstance(u_y, str):
        raise InputError(f"u_y must be a number, an array, None or 'curve-only', not {u_y!r}")
    uy, source, dof_r = reading_uncertainty(cal, y, replicates, ngrid, tol, covariance,
                                            extrapolate, workers)
    p = _values(cal, y, uy, ngrid, tol, covariance, extrapolate, workers)
    return p._described(source, level, dof_curve, dof_r)


CURVE_ONLY = "curve-only"


def reading_uncertainty(cal, y, replicates=1, ngrid=None, tol=0.0, covariance=None,
                        extrapolate=False, workers=1):
    """The default u(y) of responses: (u_y, sources, dof) per response.

    The scatter of one reading at the response's x as the fit's weighting model predicts
    it, SRES / W(x), over sqrt(m) for the mean of m readings; its degrees of freedom are
    the fit's.  Refused where the standards carry stated uncertainties (the size of a
    sample's reading is then not known from the standards) and where the fit has no
    degrees of freedom.
    """
    from .weighting import response_scale
    if cal.u_y is not None:
        raise InputError("the standards carry stated uncertainties, so a sample's response "
                         "uncertainty is not known from their scatter: give u_y per sample "
                         "(an array or a column), one value for all (a number), or "
                         "u_y='curve-only' for the curve's uncertainty alone")
    if cal.dof == 0:
        raise InputError("the fit has no degrees of freedom, so the scatter of a reading is "
                         "not known: give u_y, or u_y='curve-only'")
    yv = V.vector("y", y, "IPVAL")
    n = yv.shape[0]
    m = np.asarray(replicates)
    if m.dtype.kind not in "iu" and not (m.dtype.kind == "f" and np.all(m == np.round(m))):
        raise InputError(f"replicates must be whole numbers, not {replicates!r}")
    m = np.broadcast_to(m.astype(np.float64), (n,)) if m.ndim == 0 else \
        V.same_length("replicates", m.astype(np.float64), n, "IPVAL", broadcast=True)
    if not (m >= 1).all():
        raise InputError("replicates must be 1 or more")
    weighting = cal.options.get("weighting")
    if weighting is None:
        scale = np.ones(n)
    else:
        # The scatter at the sample's x: its x from the curve alone first.
        x = _values(cal, yv, 0.0, ngrid, tol, covariance, extrapolate, workers).x
        lo, hi = cal.interval
        ends = cal.evaluate(np.array([lo, hi]))
        near_lo = np.abs(yv - ends[0]) <= np.abs(yv - ends[1])
        x = np.where(np.isnan(x), np.where(near_lo, lo, hi), x)
        scale = response_scale(weighting, np.maximum(x, 0.0) if weighting == "1/x" else x)
    uy = float(cal.sres) * scale / np.sqrt(m)
    ms = m.astype(np.int64).tolist()
    source = tuple(f"from the scatter, {k} reading{'s' if k != 1 else ''}" for k in ms)
    dof = np.full(n, float(cal.dof))
    dof.flags.writeable = False
    return uy, source, dof


def _values(cal, y, u_y, ngrid, tol, covariance, extrapolate, workers) -> InversePrediction:
    """``inverse`` for stated u_y: the roots and their standard uncertainties."""
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
    ngrid = (DEFAULT_NGRID if ngrid is None
             else V.integer("ngrid", ngrid, 1, V.MAX_NGRID, routine=routine))
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
    elif type(ngrid) is not int or not 1 <= ngrid <= V.MAX_NGRID:
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


_PREDICTION_DEFAULTS = {"source_given": None, "level": 0.95, "dof_curve": math.inf,
                        "dof_reading": None}


def _inversion_interval(pred) -> tuple[np.ndarray, np.ndarray]:
    """The inversion interval of each response: the x around its first root with
    (p(x) - y)**2 <= k**2 (g(x)' C g(x) + u_y**2), k the response's coverage factor.

    It inverts the prediction band (Fieller's construction; for a line with u(y) from
    the scatter the classical calibration interval, ISO 11843-2 and DIN 32645's
    Vertrauensbereich), holds for any degree and needs no linearisation, so it stays
    honest where the curve is flat or u(x) large.  The connected piece that holds the
    root is taken; where it reaches an end of the curve's interval, that end bounds it
    (``interval_open``).  The ends are found on a grid of INVERSION_GRID cells, then by
    bisection to full precision.
    """
    n = len(pred)
    lo, hi = pred.interval
    nc = pred.coef.shape[0]
    low = np.full(n, np.nan)
    high = np.full(n, np.nan)
    ok = ~pred.no_root & np.isfinite(pred.k)
    if not ok.any():
        return low, high
    grid = np.linspace(lo, hi, INVERSION_GRID + 1)
    bg = basis(grid, nc, lo, hi)
    pg = bg @ pred.coef
    vg = np.einsum("ij,jk,ik->i", bg, pred.cov_coef, bg)
    coef, cov = pred.coef, pred.cov_coef

    def f(x, y0, k2, u2):
        g = basis(x, nc, lo, hi)
        return (g @ coef - y0) ** 2 - k2 * (np.einsum("ij,jk,ik->i", g, cov, g) + u2)

    idx = np.flatnonzero(ok)
    for start in range(0, idx.shape[0], CHUNK):
        rows = idx[start:start + CHUNK]
        y0 = pred.y[rows]
        k2 = pred.k[rows] ** 2
        u2 = pred.u_y[rows] ** 2
        x0 = pred.x[rows]
        out = (pg[None, :] - y0[:, None]) ** 2 - k2[:, None] * (vg[None, :] + u2[:, None]) > 0
        below = grid[None, :] < x0[:, None]
        # Left: the last grid point below the root outside the band.
        left = np.where(out & below, np.arange(grid.shape[0])[None, :], -1).max(axis=1)
        right = np.where(out & ~below, np.arange(grid.shape[0])[None, :],
                         grid.shape[0]).min(axis=1)
        for side, j in (("low", left), ("high", right)):
            inside = (j < 0) if side == "low" else (j >= grid.shape[0])
            end = np.full(rows.shape[0], lo if side == "low" else hi)
            b = ~inside
            if b.any():
                a = grid[j[b]]  # outside
                nxt = grid[np.clip(j[b] + (1 if side == "low" else -1), 0, grid.shape[0] - 1)]
                c = np.minimum(nxt, x0[b]) if side == "low" else np.maximum(nxt, x0[b])
                for _ in range(64):
                    mid = 0.5 * (a + c)
                    o = f(mid, y0[b], k2[b], u2[b]) > 0
                    a = np.where(o, mid, a)
                    c = np.where(o, c, mid)
                    if np.all(np.abs(a - c) <= 4e-16 * np.maximum(np.abs(a), np.abs(c))):
                        break
                end[b] = 0.5 * (a + c)
            (low if side == "low" else high)[rows] = end
    return low, high
