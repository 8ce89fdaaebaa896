"""Evaluation of a calibration, its straight-line and power-series forms, its summary."""
from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from . import _clib
from . import _lab_curve as LC
from . import _validate as V
from ._lab import status_error
from .errors import InputError


def evaluate(cal, x, uncertainty: bool = False, covariance: str | None = None):
    """p(x) (``POLYEVAL``'s values); with ``uncertainty`` also u(p(x)) = sqrt(g' C g), both
    from the laboratory library (``QVXL_CURVE``)."""
    flat, shape = V.points(cal, x, "POLYEVAL")
    what = LC.VALUE | (LC.UNCERTAINTY if uncertainty else 0)
    cov = cal.covariance_for(covariance) if uncertainty else None
    y, _, u, istat = LC.curve(cal.coef, cov, cal.xmin, cal.xmax, flat, what)
    if istat != 0:
        raise InputError(f"curve values: {_status_text(istat)}", routine="POLYEVAL")
    y = y.reshape(shape) if shape else float(y[0])
    if not uncertainty:
        return y
    u = u.reshape(shape) if shape else float(u[0])
    return y, u


def _status_text(st: int) -> str:
    from . import _lab
    return "a point lies outside the interval" if st == LC.OUTSIDE else _lab.status_text(st)


def at(cal, x, what: int, covariance: str | None = None, extend: bool = True):
    """Values, slopes and u(p(x)) of the curve at points x (1-D), also beyond its
    interval with ``extend``: (y, dy, u) as ``what`` asks (``_lab_curve`` codes)."""
    cov = cal.covariance_for(covariance) if what & LC.UNCERTAINTY else None
    y, dy, u, st = LC.curve(cal.coef, cov, cal.xmin, cal.xmax,
                            np.asarray(x, dtype=np.float64).reshape(-1), what, extend)
    if st != 0:
        raise InputError(f"curve values: {_status_text(st)}")
    return y, dy, u


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
    a, ca, st = LC.power(cal.coef, cal.covariance_for(covariance), cal.xmin, cal.xmax)
    if st != 0:
        raise InputError(f"power form: {_status_text(st)}")
    a.flags.writeable = False
    ca.flags.writeable = False
    return PowerSeries(a, ca)


def fit_kind(cal) -> str:
    """The fit named as a chemist reads it: unweighted (ordinary) least squares,
    weighted least squares with its weights, or errors in variables."""
    weighting = (cal.options or {}).get("weighting")
    if cal.kind == "gls":
        return "errors in variables (weights 1/u(x)², 1/u(y)²)"
    if weighting:
        return f"weighted least squares (weights {weighting}, scale from the scatter)"
    options = cal.options or {}
    if options.get("variance"):
        return (f"weighted least squares (weights 1/sigma(x)² of the "
                f"{options['variance']['model']} variance model)")
    response = options.get("response_weighting")
    if response:
        shown = "from a column" if response == "weights" else response
        return f"weighted least squares (weights {shown}, scale from the scatter)"
    if cal.u_y is not None:
        return "weighted least squares (weights 1/u(y)²)"
    return "ordinary least squares (unweighted)"


def r_squared(cal) -> float:
    """Coefficient of determination, weighted as the fit is (see
    :func:`quorvex.diagnostics.correlation`)."""
    from .diagnostics import correlation
    return correlation(cal)[1]


TERM_NAMES = ("intercept", "slope")


def headline_terms(cal) -> list[tuple[str, float, float]]:
    """(name, value, u) of the curve in powers of x: intercept a0, slope a1, then
    a2 (x²) ... - what a chemist reports."""
    ps = power_coefficients(cal)
    out = []
    for k, (v, u) in enumerate(zip(ps.coef, ps.u_coef)):
        name = TERM_NAMES[k] if k < 2 else f"a{k} (x{str(k).translate(_SUP)})"
        if k < 2:
            name = f"{name} a{k}"
        out.append((name, float(v), float(u)))
    return out


_SUP = str.maketrans("0123456789", "⁰¹²³⁴⁵⁶⁷⁸⁹")


def summary(cal) -> str:
    """The calibration as text: the curve in powers of x (intercept, slope, ... ± u),
    r², SRES and degrees of freedom first; the Chebyshev coefficients, the exact
    record, last."""
    from ._text import fmt, fmt_pm, fmt_r2, fmt_u
    kind = fit_kind(cal)
    source = ("the stated uncertainties" if cal.covariance == "stated"
              else "the residual scatter (scaled)")
    vm = cal.variance_model if (cal.options or {}).get("variance") else None
    if vm is not None:
        source = "the variance model"
    lines = [
        f"quorvex calibration: degree {cal.degree}, {kind}, {cal.n_points} standards",
        f"interval [{fmt(cal.xmin, 10)}, {fmt(cal.xmax, 10)}]; uncertainties from {source}",
    ] + ([vm.text()] if vm is not None else []) + [
        "",
        "  y = " + " + ".join(["a0", "a1·x"] + [f"a{k}·x{str(k).translate(_SUP)}"
                                            for k in range(2, cal.ncoef)][:max(0, cal.ncoef - 2)]
                              if cal.ncoef >= 2 else ["a0"]),
    ]
    terms = headline_terms(cal)
    width = max(len(t[0]) for t in terms)
    for name, v, u in terms:
        lines.append(f"  {name:<{width}}  {fmt_pm(v, u)}")
    lines += [
        "",
        f"  r² {fmt_r2(r_squared(cal))}   SRES {fmt(cal.sres, 4)}   chi2 {fmt(cal.chi2, 4)}   "
        f"degrees of freedom {cal.dof}",
    ]
    if cal.kind == "gls":
        lines.append(f"  status {cal.status}   iterations {cal.iterations}   "
                     f"evaluations {cal.evaluations}")
    else:
        lines.append("  status 0")
    for note in cal.notes:
        lines.append(f"  note: {note}")
    u = cal.u_coef
    lines += ["", "  exact record: Chebyshev coefficients on the interval (c0 at half weight)",
              f"  {'coefficient':<12} {'value':>24} {'u':>10}"]
    for k, (c, uk) in enumerate(zip(cal.coef, u)):
        lines.append(f"  {'c' + str(k):<12} {float(c)!r:>24} {fmt_u(uk):>10}")
    return "\n".join(lines)
