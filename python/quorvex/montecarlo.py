"""Monte Carlo inverse prediction: the distribution of x for measured responses.

Draw j = 1..n of a response takes a curve c_j ~ N(coef, C) and a response
y_j ~ N(y, u_y**2), and finds the roots of p_j(x) = y_j in the curve's interval.
Per response the draws give the mean and standard deviation of x, a probabilistically
symmetric coverage interval (the (1 - level)/2 and (1 + level)/2 quantiles), and the
fractions of draws with no root and with several roots.  Where the first-order result
x +- k u_x does not match, the response is flagged and a note says why.

Which root a draw contributes: the one nearest the first-order estimate (the first
root of the fitted curve), so that a second root at the far side of a turning point
does not enter the distribution; where the fitted curve has no root, the draw's
first root.  Draws with no root are left out of the statistics (their fraction is
reported).

Everything (the draws, the root search, the statistics and the check against first
order) is the laboratory library's ``QVXL_MONTECARLO``; this module checks the
arguments, chooses the seed, calls it (responses split over threads where asked) and
presents the result.  Each response has its own stream of draws, seeded from the seed
and the response's position, so the results do not depend on ``workers``.
"""
from __future__ import annotations

import os
from concurrent.futures import ThreadPoolExecutor
from ctypes import byref, c_double, c_int
from dataclasses import dataclass

import numpy as np

from . import _lab
from . import _validate as V
from .errors import InputError

DEFAULT_DRAWS = 10_000
# Responses per call of the library: the unit of ``progress`` and of the threads' work.
RESPONSES_PER_CALL = 16
NARGS = 31

# CHECK bits of QVXL_MONTECARLO: why first order is not confirmed.
CHECK_NO_ROOT, CHECK_NO_ROOT_DRAWS, CHECK_SEVERAL_DRAWS, CHECK_INTERVAL, CHECK_NO_DRAW = \
    1, 2, 4, 8, 16
FRACTION_TOL = 1e-3  # the share of draws the notes name (the library's threshold)


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
    se_low, se_high : ndarray (m,)
        Standard errors of ``low`` and ``high`` from the sampling of the draws.
    n_draws, level, seed : int, float, int
        ``seed`` is the seed the draws came from (drawn when none was given).
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
    se_low: np.ndarray | None = None
    se_high: np.ndarray | None = None

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


def _seed(seed) -> int:
    """The 64-bit seed of a run: the integer given, one drawn from a numpy Generator,
    or (None) one from the operating system, so that any run can be repeated."""
    if seed is None:
        return int.from_bytes(os.urandom(8), "little")
    if isinstance(seed, np.random.Generator):
        return int(seed.integers(0, 2**64, dtype=np.uint64))
    if isinstance(seed, (int, np.integer)) and not isinstance(seed, bool):
        if 0 <= int(seed) < 2**64:
            return int(seed)
        raise InputError(f"seed must lie in 0 .. 2**64 - 1, not {int(seed)}")
    raise InputError(f"seed must be an integer, a numpy Generator or None, not {seed!r}")


def _call(req, fo, start, stop, n, level, ngrid, seed, out):
    """QVXL_MONTECARLO for responses start..stop-1 into views of ``out``; the status."""
    part = slice(start, stop)
    one = np.ones(1)
    y = np.ascontiguousarray(fo.y[part])
    rel = req.get("uy_relative")
    uy = (np.ascontiguousarray(fo.u_y[part]) if req["uymode"] == 0 else
          np.ascontiguousarray(rel[part]) if rel is not None else one)
    repl = np.ascontiguousarray(fo.replicates[part]) if req["uymode"] == 1 else one
    o = {k: v[part] for k, v in out.items()}
    words = np.array([seed & 0xFFFFFFFF, seed >> 32], dtype=np.uint32).view(np.intc)
    st = c_int()
    _lab.function("QVXL_MONTECARLO", NARGS)(
        byref(c_int(req["coef"].shape[0])), _lab._a(req["coef"]), _lab._a(req["cov"]),
        byref(c_double(req["xmin"])), byref(c_double(req["xmax"])),
        byref(c_int(req["covkind"])), byref(c_int(req["ndof"])), byref(c_double(req["sres"])),
        byref(c_int(req["weighting"])), byref(c_int(1 if req["stated"] else 0)),
        byref(c_int(stop - start)), _lab._a(y), byref(c_int(req["uymode"])), _lab._a(uy),
        _lab._a(repl), byref(c_int(start)), byref(c_int(n)), byref(c_double(level)),
        byref(c_int(ngrid)), _lab._a(words), *(_lab._a(o[k]) for k in (
            "x", "u_x", "median", "low", "high", "se_low", "se_high", "no_root",
            "several_roots", "check")), byref(st))
    return st.value


def monte_carlo(cal, y, u_y=None, n: int = DEFAULT_DRAWS, seed=None, level: float = 0.95,
                ngrid: int | None = None, covariance: str | None = None,
                workers: int = 1, progress=None, replicates=1,
                u_y_relative=None) -> MonteCarloPrediction:
    """Monte Carlo inverse prediction (see the module's description).

    Parameters
    ----------
    cal : Calibration
    y, u_y : float or array_like (m,)
        Responses and their standard uncertainties; ``u_y`` and ``replicates`` as for
        :func:`quorvex.inverse.inverse` (None: from the scatter where the calibration's
        scale comes from it, "curve-only": 0).
    n : int
        Number of draws per response (each a curve and a response).
    seed : int (0 .. 2**64 - 1), numpy Generator or None
        The seed of the draws.  None draws one from the operating system (a Generator:
        from it); the result's ``seed`` is the one used, so any run can be repeated.
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
        distribution (GUM Supplement 2, JCGM 102:2011, 6.5), so that intervals keep their coverage
        with few standards.
    workers : int
        Threads that take groups of responses side by side (the library releases
        Python's lock); the results do not depend on it.
    progress : callable, optional
        Called with the number of responses finished after each group of responses
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
                 u_y_relative=u_y_relative,
                 level=level)  # validates the rest
    seed = _seed(seed)
    req = fo.request
    m = len(fo)
    out = {k: np.empty(m) for k in ("x", "u_x", "median", "low", "high", "se_low",
                                    "se_high", "no_root", "several_roots")}
    out["check"] = np.empty(m, dtype=np.intc)

    def run(start):
        stop = min(start + RESPONSES_PER_CALL, m)
        st = _call(req, fo, start, stop, n, level, ngrid, seed, out)
        if st == 0 and progress is not None:
            progress(stop - start)
        return st

    starts = range(0, m, RESPONSES_PER_CALL)
    if workers > 1 and m > RESPONSES_PER_CALL:
        with ThreadPoolExecutor(max_workers=workers) as pool:
            codes = list(pool.map(run, starts))
    else:
        codes = [run(s) for s in starts]
    bad = [c for c in codes if c != 0]
    if bad:
        if bad[0] in (80, 81):  # the covariance itself
            raise InputError(_lab.status_text(bad[0]))
        raise InputError(f"Monte Carlo inverse prediction: "
                         f"{_lab.status_text(bad[0])}", routine=routine)
    return _present(fo, out, n, level, seed)


def _present(fo, o, n, level, seed) -> MonteCarloPrediction:
    """The result object, with a note per response whose first order is not confirmed."""
    check = o.pop("check")
    agrees = check == 0
    notes = []
    for i in np.flatnonzero(~agrees):
        c = int(check[i])
        why = []
        if c & CHECK_NO_ROOT:
            why.append("the fitted curve has no root")
        if c & CHECK_NO_ROOT_DRAWS:
            why.append(f"{o['no_root'][i]:.1%} of draws have no root (the response lies "
                       "near an end of the curve's range)")
        if c & CHECK_SEVERAL_DRAWS:
            why.append(f"{o['several_roots'][i]:.1%} of draws have several roots (the curve "
                       "is flat or turns nearby)")
        if c & CHECK_INTERVAL:
            why.append(f"the interval [{o['low'][i]:.5g}, {o['high'][i]:.5g}] differs from "
                       f"first order [{fo.x[i] - fo.U[i]:.5g}, {fo.x[i] + fo.U[i]:.5g}]")
        if c & CHECK_NO_DRAW:
            why.append("no draw has a root")
        notes.append(f"y = {fo.y[i]:.6g}: first order is not reliable: " + "; ".join(why))
    arrays = dict(y=fo.y, u_y=fo.u_y, agrees=agrees, **o)
    for a in arrays.values():
        a.flags.writeable = False
    return MonteCarloPrediction(**arrays, n_draws=n, level=level, seed=seed,
                                first_order=fo, notes=tuple(notes))
