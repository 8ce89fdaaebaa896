"""Evaluation of a calibration, its straight-line and power-series forms, its summary."""
from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from . import _clib
from . import _validate as V
from .basis import basis, power_matrix
from .errors import InputError, status_error


def _points(cal, x, routine: str) -> tuple[np.ndarray, tuple]:
    xa = np.asarray(x, dtype=np.float64)
    flat = np.asfortranarray(xa.reshape(-1))
    V.finite("x", flat, routine)
    V.inside("x", flat, cal.xmin, cal.xmax, routine)
    return flat, xa.shape


def variance_at(cal, x: np.ndarray, cov: np.ndarray) -> np.ndarray:
    """g(x)' C g(x) for each point."""
    g = basis(x, cal.ncoef, cal.xmin, cal.xmax)
    return np.einsum("ij,jk,ik->i", g, cov, g)


def evaluate(cal, x, uncertainty: bool = False, covariance: str | None = None):
    """p(x) through ``POLYEVAL``; with ``uncertainty`` also sqrt(g' C g)."""
    flat, shape = _points(cal, x, "POLYEVAL")
    y, istat = _clib.polyeval(cal.coef, flat, cal.xmin, cal.xmax)
    if istat != 0:
        raise status_error("POLYEVAL", istat, xmin=cal.xmin, xmax=cal.xmax)
    y = y.reshape(shape) if shape else float(y[0])
    if not uncertainty:
        return y
    u = np.sqrt(variance_at(cal, flat, cal.covariance_for(covariance)))
    u = u.reshape(shape) if shape else float(u[0])
    return y, u


@dataclass(frozen=True)
class Line:
    """A straight line y = intercept + slope x with the covariance of (slope, intercept)."""
    slope: float
    intercept: float
    cov: np.ndarray

    @property
    def u_slope(self) -> float:
        return float(np.sqrt(self.cov[0, 0]))

    @property
    def u_intercept(self) -> float:
        return float(np.sqrt(self.cov[1, 1]))


def line(cal, covariance: str | None = None) -> Line:
    """Slope and intercept of a degree-1 calibration (``LINEAR_CONV``)."""
    if cal.ncoef != 2:
        raise InputError(f"line() needs a straight line (degree 1), not degree {cal.degree}",
                         routine="LINEAR_CONV")
    cov = np.asfortranarray(cal.covariance_for(covariance))
    lcoef, lcov, istat = _clib.linear_conv(cal.coef, cov, cal.xmin, cal.xmax)
    if istat != 0:
        raise status_error("LINEAR_CONV", istat, xmin=cal.xmin, xmax=cal.xmax)
    lcov.flags.writeable = False
    return Line(float(lcoef[0]), float(lcoef[1]), lcov)


@dataclass(frozen=True)
class PowerSeries:
    """y = coef[0] + coef[1] x + coef[2] x**2 + ..., with the covariance of ``coef``."""
    coef: np.ndarray
    cov: np.ndarray

    @property
    def u_coef(self) -> np.ndarray:
        return np.sqrt(np.diag(self.cov))


def power_coefficients(cal, covariance: str | None = None) -> PowerSeries:
    """The curve in powers of x: a = M c, Cov(a) = M C M'.

    Notes
    -----
    M maps the Chebyshev coefficients on [xmin, xmax] to powers of x.  Its condition
    grows like ((|xmin| + |xmax|) / (xmax - xmin))**degree times a factor of order
    2**degree: for an interval far from zero compared with its width, or a high degree,
    the power coefficients are large numbers of opposite signs that cancel, and
    evaluating the curve from them (or rounding them for a report) loses accuracy
    that the Chebyshev form keeps.  Use them for reporting, not for computing.
    """
    m = power_matrix(cal.ncoef, cal.xmin, cal.xmax)
    cov = cal.covariance_for(covariance)
    a = m @ cal.coef
    ca = m @ cov @ m.T
    ca = 0.5 * (ca + ca.T)
    a.flags.writeable = False
    ca.flags.writeable = False
    return PowerSeries(a, ca)


def summary(cal) -> str:
    """The calibration as a text table."""
    kind = {"ols": "weighted least squares", "gls": "errors in variables"}[cal.kind]
    u = cal.u_coef
    lines = [
        f"quorvex calibration: degree {cal.degree}, {kind}, {cal.n_points} standards",
        f"interval [{cal.xmin:.10g}, {cal.xmax:.10g}]; uncertainties from the "
        f"{'stated uncertainties' if cal.covariance == 'stated' else 'residual scatter (scaled)'}",
        "",
        f"  {'coefficient':<12} {'value':>22} {'u':>12}",
    ]
    for k, (c, uk) in enumerate(zip(cal.coef, u)):
        lines.append(f"  {'c' + str(k):<12} {c:>22.15g} {uk:>12.4g}")
    lines += [
        "",
        f"  SRES {cal.sres:.6g}   chi2 {cal.chi2:.6g}   degrees of freedom {cal.dof}",
    ]
    if cal.kind == "gls":
        lines.append(f"  status {cal.status}   iterations {cal.iterations}   "
                     f"evaluations {cal.evaluations}")
    else:
        lines.append("  status 0")
    for note in cal.notes:
        lines.append(f"  note: {note}")
    return "\n".join(lines)
