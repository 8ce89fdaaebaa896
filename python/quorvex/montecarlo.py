"""Monte Carlo inverse prediction: the distribution of x for measured responses.

Draw j = 1..n takes a curve c_j ~ N(coef, C) and responses y_ij ~ N(y_i, u_y,i**2),
and finds the roots of p_j(x) = y_ij in the curve's interval with ``IPVAL`` (one call
per drawn curve, all the responses of a block at once).  Per response the draws give
the mean and standard deviation of x, a probabilistically symmetric coverage interval
(the (1 - level)/2 and (1 + level)/2 quantiles), and the fractions of draws with no
root and with several roots.  Where the first-order result x +- k u_x does not match,
the response is flagged and a note says why.

Which root a draw contributes: the one nearest the first-order estimate (the first
root of the fitted curve), so that a second root at the far side of a turning point
does not enter the distribution; where the fitted curve has no root, the draw's
first root.  Draws with no root are left out of the statistics (their fraction is
reported).
"""
from __future__ import annotations

from concurrent.futures import ThreadPoolExecutor
from ctypes import addressof, c_double, c_int
from dataclasses import dataclass

import numpy as np

from . import _clib
from . import _validate as V
from .errors import InputError, status_error

DEFAULT_DRAWS = 10_000
# Roots held in memory per block: draws x responses x roots doubles (32 MiB).
BLOCK_VALUES = 1 << 22
MAX_BLOCK = 512
# First order is taken as confirmed when each end of its coverage interval lies within
# max(END_RTOL u_x, END_SE standard errors of the Monte Carlo quantile) of the Monte
# Carlo end, and fewer than FRACTION_TOL of the draws have no root or several roots.
END_RTOL = 0.1
END_SE = 4.0
FRACTION_TOL = 1e-3
# The zero finder's absolute tolerance relative to the smallest first-order u_x: far
# below the sampling error of any statistic.
ROOT_RTOL = 1e-6

def _ipval_by_address():
    """``IPVAL`` with untyped pointer arguments (``_clib.unchecked``).

    The Monte Carlo loop calls it once per drawn curve with addresses into arrays it
    allocated and laid out itself; the typed binding's conversion of every argument
    would cost more than the inversion of a hundred responses.
    """
    return _clib.unchecked().IPVAL


@dataclass(frozen=True, eq=False)
class MonteCarloPrediction:
    """Monte Carlo inverse prediction of responses (see :func:`monte_carlo`).

    Attributes
    ----------
    y, u_y : ndarray (m,)
        The responses and their standard uncertainties.
    x, u_x : ndarray (m,)
        Mean and standard deviation of x over the draws with a root.
    median : ndarray (m,)
    low, high : ndarray (m,)
        The probabilistically symmetric coverage interval at ``level``.
    no_root, several_roots : ndarray (m,)
        Fractions of the draws with no root in the interval, and with more than one.
    n_draws, level, seed : int, float, int or None
    first_order : InversePrediction
        The first-order result for the same responses.
    agrees : ndarray of bool (m,)
        The first-order x -+ U matches the Monte Carlo interval (U = k u_x, k from
        Student's t with the first-order ``dof``, normal where it is infinite) and almost
        no draw has no root or several roots.
    notes : tuple of str
        Why first order does not match, per response concerned.
    """

    y: np.ndarray
    u_y: np.ndarray
    x: np.ndarray
    u_x: np.ndarray
    median: np.ndarray
    low: np.ndarray
    high: np.ndarray
    no_root: np.ndarray
    several_roots: np.ndarray
    n_draws: int
    level: float
    seed: int | None
    first_order: object
    agrees: np.ndarray
    notes: tuple

    def __len__(self) -> int:
        return int(self.y.shape[0])

    def __repr__(self) -> str:
        return (f"MonteCarloPrediction(n={len(self)}, draws={self.n_draws}, "
                f"agrees={int(self.agrees.sum())}/{len(self)})")

    def summary(self) -> str:
        """A table: per response the Monte Carlo and first-order results, and notes."""
        pct = f"{100 * self.level:g} %"
        from ._text import fmt, fmt_pm

        def end(v, u):  # an interval's end to the decimal place of u, as its value
            return fmt_pm(v, u).split(" ± ")[0] if np.isfinite(u) and u > 0 else fmt(v, 5)

        fo = self.first_order
        rows = []
        for i in range(len(self)):
            rows.append((fmt(self.y[i], 6), fmt_pm(self.x[i], self.u_x[i]),
                         f"[{end(self.low[i], self.u_x[i])}, {end(self.high[i], self.u_x[i])}]",
                         fmt_pm(fo.x[i], fo.u_x[i]), f"{self.no_root[i]:.2%}",
                         f"{self.several_roots[i]:.2%}", "yes" if self.agrees[i] else "NO"))
        head = ("y", "x ± u(x)", "interval", "first order", "no root", "several", "ok")
        width = [max(len(h), *(len(r[j]) for r in rows)) for j, h in enumerate(head)]
        lines = [f"Monte Carlo inverse prediction: {self.n_draws} draws, {pct} intervals",
                 "  " + " ".join(h.rjust(w) for h, w in zip(head, width))]
        for r in rows:
            lines.append("  " + " ".join(c.rjust(w) for c, w in zip(r, width)))
        for note in self.notes:
            lines.append(f"  note: {note}")
        return "\n".join(lines)

    def __str__(self) -> str:
        return self.summary()


def _factor(cov: np.ndarray) -> np.ndarray:
    """L with L L' = cov, for a covariance that may be singular (eigen-decomposition)."""
    if not np.all(np.isfinite(cov)):
        raise InputError("the coefficient covariance is not finite (a scaled covariance "
                         "without degrees of freedom?)")
    lam, v = np.linalg.eigh(0.5 * (cov + cov.T))
    return v * np.sqrt(np.clip(lam, 0.0, None))


def _quantile(s: np.ndarray, count: np.ndarray, p) -> np.ndarray:
    """Linear-interpolation quantiles of rows sorted with NaN last, ``count`` values
    each; p a scalar or an array per row."""
    pos = np.clip(np.asarray(p) * (count - 1), 0, None)
    lo = np.floor(pos).astype(np.intp)
    hi = np.minimum(lo + 1, np.maximum(count - 1, 0))
    frac = pos - lo
    rows = np.arange(s.shape[0])
    with np.errstate(invalid="ignore"):
        q = s[rows, lo] + frac * (s[rows, hi] - s[rows, lo])
    return np.where(count > 0, q, np.nan)


def monte_carlo(cal, y, u_y=None, n: int = DEFAULT_DRAWS, seed=None, level: float = 0.95,
                ngrid: int | None = None, covariance: str | None = None,
                workers: int = 1, progress=None, replicates=1) -> MonteCarloPrediction:
    """Monte Carlo inverse prediction (see the module's description).

    Parameters
    ----------
    cal : Calibration
    y, u_y : float or array_like (m,)
        Responses and their standard uncertainties; ``u_y`` and ``replicates`` as for
        :func:`quorvex.inverse.inverse` (None: from the scatter where the calibration's
        scale comes from it, "curve-only": 0).
    n : int
        Number of draws (curves, each with one draw of every response).
    seed : int or numpy Generator, optional
        For reproducible draws.
    level : float
        Coverage probability of the intervals.
    ngrid : int, optional
        ``IPVAL``'s grid (as for the first-order inverse).
    covariance : {"stated", "scaled"}, optional
        The coefficient covariance curves are drawn from (default: the calibration's).
        With the stated covariance curves are drawn from the normal distribution.  With
        the scaled one the scale of the scatter is itself an estimate on ``dof`` degrees
        of freedom: each draw takes sigma**2 = SRES**2 dof / chi2_dof as well, and scales
        the curve's deviation, and that of a response whose u(y) came from the scatter,
        by sigma / SRES.  The curves then follow the scaled-and-shifted multivariate t
        distribution (GUM Supplement 1, 6.4.9), so that intervals keep their coverage
        with few standards.
    workers : int
        Threads that invert draws side by side (the library releases Python's lock).
    progress : callable, optional
        Called with the number of responses finished after each block of responses
        (e.g. a progress bar's ``update``); it does not change the draws.

    Returns
    -------
    MonteCarloPrediction
    """
    from .inverse import DEFAULT_NGRID, inverse
    routine = "IPVAL"
    n = V.integer("n", n, 2, V.MAX_DRAWS, routine=routine)
    level = V.real("level", level, routine)
    if not 0.0 < level < 1.0:
        raise InputError(f"level must lie strictly between 0 and 1, not {level:g}")
    workers = V.integer("workers", workers, 1, 256, routine=routine)
    ngrid = DEFAULT_NGRID if ngrid is None else ngrid
    fo = inverse(cal, y, u_y, ngrid=ngrid, covariance=covariance, replicates=replicates,
                 level=level)  # validates the rest
    yv, uy = fo.y, fo.u_y
    m, nc, nr = yv.shape[0], cal.ncoef, cal.ncoef - 1
    rng = seed if isinstance(seed, np.random.Generator) else np.random.default_rng(seed)

    # Curves: rows of a C-ordered (n, ncoef) array, one contiguous vector each.
    lfac = _factor(np.asarray(cal.covariance_for(covariance)))
    dev = rng.standard_normal((n, nc)) @ lfac.T
    which = cal.covariance if covariance is None else covariance
    scale = None
    if which == "scaled" and cal.dof > 0:
        scale = np.sqrt(cal.dof / rng.chisquare(cal.dof, n))
        dev *= scale[:, None]
    curves = np.ascontiguousarray(cal.coef + dev)
    from_scatter = (np.zeros(m, dtype=bool) if fo.dof_reading is None or scale is None
                    else np.isfinite(np.asarray(fo.dof_reading)))

    ux_fo = fo.u_x[np.isfinite(fo.u_x) & (fo.u_x > 0)]
    tol = ROOT_RTOL * float(ux_fo.min()) if ux_fo.size else 0.0
    ref = fo.x
    xs_all = np.empty((m, n))  # one row of draws per response
    nroot_all = np.empty((m, n), dtype=np.intc)
    block = max(1, min(MAX_BLOCK, m, BLOCK_VALUES // (n * nr)))
    for b0 in range(0, m, block):
        b1 = min(b0 + block, m)
        z = uy[b0:b1] * rng.standard_normal((n, b1 - b0))
        if from_scatter[b0:b1].any():
            z[:, from_scatter[b0:b1]] *= scale[:, None]
        ys = np.ascontiguousarray(yv[b0:b1] + z)
        roots, nroot = _invert(cal, curves, ys, ngrid, tol, workers)
        nroot_all[b0:b1] = nroot.T
        xs_all[b0:b1] = _pick(roots, nroot, ref[b0:b1]).T
        if progress is not None:
            progress(b1 - b0)
    return _summarise(cal, fo, xs_all, nroot_all, n, level, seed)


def _invert(cal, curves, ys, ngrid, tol, workers):
    """Roots (n, mb, nr; unused slots unspecified) and root counts (n, mb) of every draw."""
    n, mb = ys.shape
    nc = curves.shape[1]
    nr = nc - 1
    roots = np.empty((n, mb, nr))
    nroot = np.empty((n, mb), dtype=np.intc)
    covy = np.zeros((mb, mb), order="F")  # IPVAL reads its diagonal: no response variance
    covc = np.zeros((nc, nc), order="F")  # nor curve covariance; the uncertainties are unused
    f = _ipval_by_address()
    args = [c_int(nc), c_int(mb), c_double(cal.xmin), c_double(cal.xmax), c_int(ngrid),
            c_double(tol)]
    a_nc, a_mb, a_lo, a_hi, a_ng, a_tol = (addressof(a) for a in args)
    pc, py, px, pn = (a.ctypes.data for a in (curves, ys, roots, nroot))
    sc, sy, sx, sn = curves.strides[0], ys.strides[0], roots.strides[0], nroot.strides[0]
    pcovy, pcovc = covy.ctypes.data, covc.ctypes.data

    def run(j0: int, j1: int) -> int:
        ux = np.empty((nr, mb), order="F")
        st = c_int(0)
        pu, pst = ux.ctypes.data, addressof(st)
        for j in range(j0, j1):
            f(a_nc, pc + j * sc, pcovc, a_mb, py + j * sy, pcovy, a_lo, a_hi, a_ng, a_tol,
              pn + j * sn, px + j * sx, pu, pst)
            if st.value != 0:
                return st.value
        return 0

    if workers > 1 and n >= 2 * workers:
        edges = np.linspace(0, n, workers + 1).astype(int)
        with ThreadPoolExecutor(max_workers=workers) as pool:
            codes = list(pool.map(run, edges[:-1], edges[1:]))
    else:
        codes = [run(0, n)]
    bad = [c for c in codes if c != 0]
    if bad:
        raise status_error("IPVAL", bad[0], xmin=cal.xmin, xmax=cal.xmax)
    return roots, nroot


def _pick(roots, nroot, ref):
    """The root each draw contributes (NaN for none): nearest ``ref``, or the first."""
    x = roots[:, :, 0].copy()
    multi = nroot > 1
    if multi.any():
        nr = roots.shape[2]
        col = np.arange(nr)
        r = roots[multi]  # (k, nr)
        rf = np.broadcast_to(ref, nroot.shape)[multi]
        key = np.where(np.isfinite(rf)[:, None], np.abs(r - np.nan_to_num(rf)[:, None]),
                       col[None, :].astype(float))
        key = np.where(col[None, :] < nroot[multi][:, None], key, np.inf)
        x[multi] = r[np.arange(r.shape[0]), np.argmin(key, axis=1)]
    x[nroot == 0] = np.nan
    return x


def _summarise(cal, fo, xs, nroot, n, level, seed) -> MonteCarloPrediction:
    """Statistics of the draws; ``xs`` and ``nroot`` hold one row of draws per response."""
    count = np.sum(~np.isnan(xs), axis=1)
    s = np.sort(xs, axis=1)  # NaN last
    pl, ph = (1.0 - level) / 2.0, (1.0 + level) / 2.0
    low, high = _quantile(s, count, pl), _quantile(s, count, ph)
    median = _quantile(s, count, 0.5)
    with np.errstate(invalid="ignore", divide="ignore"):
        mean = np.where(count > 0, np.nansum(xs, axis=1) / np.maximum(count, 1), np.nan)
        dev = np.where(np.isnan(xs), 0.0, xs - mean[:, None])
        sd = np.where(count > 1, np.sqrt(np.sum(dev * dev, axis=1) / np.maximum(count - 1, 1)),
                      np.nan)
    no_root = np.mean(nroot == 0, axis=1)
    several = np.mean(nroot > 1, axis=1)

    # Sampling error of each end: half the spread of the quantiles one binomial
    # standard deviation of the rank either side.
    def se(p):
        d = np.sqrt(p * (1.0 - p) / np.maximum(count, 1))
        return 0.5 * (_quantile(s, count, np.minimum(p + d, 1.0))
                      - _quantile(s, count, np.maximum(p - d, 0.0)))

    k = fo.k  # t with the effective dof where a scale was estimated, else normal
    xf, uf = fo.x, fo.u_x
    tol_lo = np.maximum(END_RTOL * uf, END_SE * se(pl))
    tol_hi = np.maximum(END_RTOL * uf, END_SE * se(ph))
    with np.errstate(invalid="ignore"):
        d_lo = np.abs(xf - k * uf - low)
        d_hi = np.abs(xf + k * uf - high)
        agrees = (d_lo <= tol_lo) & (d_hi <= tol_hi) & (no_root < FRACTION_TOL) & \
            (several < FRACTION_TOL)
    notes = []
    for i in np.flatnonzero(~agrees):
        why = []
        if np.isnan(xf[i]):
            why.append("the fitted curve has no root")
        if no_root[i] >= FRACTION_TOL:
            why.append(f"{no_root[i]:.1%} of draws have no root (the response lies near an "
                       "end of the curve's range)")
        if several[i] >= FRACTION_TOL:
            why.append(f"{several[i]:.1%} of draws have several roots (the curve is flat or "
                       "turns nearby)")
        if count[i] > 0 and np.isfinite(xf[i]) and not (d_lo[i] <= tol_lo[i]
                                                        and d_hi[i] <= tol_hi[i]):
            why.append(f"the interval [{low[i]:.5g}, {high[i]:.5g}] differs from first "
                       f"order [{xf[i] - k[i] * uf[i]:.5g}, {xf[i] + k[i] * uf[i]:.5g}]")
        if count[i] == 0:
            why.append("no draw has a root")
        notes.append(f"y = {fo.y[i]:.6g}: first order is not reliable: " + "; ".join(why))
    arrays = dict(y=fo.y, u_y=fo.u_y, x=mean, u_x=sd, median=median, low=low, high=high,
                  no_root=no_root, several_roots=several, agrees=agrees)
    for a in arrays.values():
        a.flags.writeable = False
    seed_out = seed if isinstance(seed, (int, np.integer)) or seed is None else None
    return MonteCarloPrediction(**arrays, n_draws=n, level=level, seed=seed_out,
                                first_order=fo, notes=tuple(notes))

