"""``fit``: standards with their uncertainties in, a :class:`Calibration` out.

Without ``u_x`` the curve is fitted by weighted least squares (``OLSPFIT``),
with ``u_x`` by the errors-in-variables fit (``GLSPFIT``).
"""
from __future__ import annotations

import sys
import warnings

import numpy as np

from . import _clib
from . import _validate as V
from .basis import slope
from .calibration import COVARIANCES, Calibration
from .errors import ConvergenceWarning, FitError, InputError, status_error, status_message

MAX_NCOEF = 10
EPS = sys.float_info.epsilon

# Default stopping rule of the errors-in-variables fit (see default_tolerances).
RESIDUAL_RTOL = 1e-7
STEP_RTOL = 1e-3
DEFAULT_MAXIT = 100
DEFAULT_SIGMA = 0.1
# Padding of the default interval of the errors-in-variables fit.
PAD_UX = 10.0
PAD_RANGE = 0.05



def default_interval(x: np.ndarray, u_x: np.ndarray | None) -> tuple[float, float]:
    """The data's range; for the errors-in-variables fit widened on each side by
    max(10 max u_x, 5 % of the range), so that adjusted abscissae (which move by a
    few u_x) and the minimizer's trial steps stay inside."""
    lo, hi = float(x.min()), float(x.max())
    if u_x is None:
        return lo, hi
    pad = max(PAD_UX * float(u_x.max()), PAD_RANGE * (hi - lo))
    return lo - pad, hi + pad


def default_tolerances(x, y, wx, wy, coef_start, cov_start, xmin, xmax) -> tuple[float, float]:
    """TOL(1), TOL(2) of ``GLSPFIT`` for this data.

    The minimizer declares convergence when its Gauss-Newton step P satisfies
    ||P|| / (n + ncoef) < TOL(1) and the residual change of the full step,
    ||F(X + P) - F(X)|| / (2 n), is below TOL(2); F are the weighted residuals
    divided by S = max(max wx, max wy).  S ||F(X + P) - F(X)|| is the step's length
    in units of the parameters' standard uncertainties, so TOL(2) = 1e-7 / (2 n S)
    leaves every coefficient within about 1e-7 of its standard uncertainty of the
    converged solution, whatever n; it is raised to 16 times the rounding level of F
    where that is larger.  Where the sum of squares stops decreasing in floating
    point before that, the line search gives up (status 3) at the converged point,
    with a step below TOL(1): ``fit`` returns that without a warning.
    TOL(1) = 1e-3 ||(u_x, u_coef)|| / (n + ncoef) gates the full-step trial and
    tells an iteration limit or a line search failure with small steps (status 1,
    status 3) from one far from convergence.
    """
    n, ncoef = x.shape[0], coef_start.shape[0]
    s = max(float(wx.max()), float(wy.max()))
    nres = 2 * n
    # Rounding level of the residual change: y - p(x - delta) cancels, and x - delta rounds.
    scale = wy * (np.abs(y) + np.abs(slope(coef_start, x, xmin, xmax)) * np.abs(x))
    floor_round = 16.0 * EPS * float(np.linalg.norm(scale))
    tol2 = max(RESIDUAL_RTOL, floor_round) / (s * nres)
    u_c = np.sqrt(np.abs(np.diag(cov_start)))
    size = float(np.sqrt(np.sum(1.0 / wx**2) + np.sum(u_c**2)))
    tol1 = STEP_RTOL * size / (n + ncoef)
    if not tol1 > 0:
        tol1 = RESIDUAL_RTOL
    return tol1, tol2


def fit(x, y, u_y=None, u_x=None, degree: int = 1, interval=None, *, tol=None,
        maxit: int | None = None, sigma: float | None = None, covariance: str | None = None,
        accept_unconverged: bool = False, weighting: str | None = None) -> Calibration:
    """Fit a calibration curve y = p(x) of the given degree to standards.

    Parameters
    ----------
    x, y : array_like (n,)
        The standards: known values and measured responses.
    u_y : float or array_like (n,), optional
        Standard uncertainties of y; weights are 1/u_y (all ones when None).
    u_x : float or array_like (n,), optional
        Standard uncertainties of x.  Given, the errors-in-variables fit
        (``GLSPFIT``) is used; it needs ``u_y`` too.
    degree : int
        Degree of the curve, 0 to 9.
    interval : (xmin, xmax), optional
        The curve's interval.  Default: the range of x; for the errors-in-variables fit
        widened on each side by max(10 max u_x, 5 % of the range) (``default_interval``).
    tol : float or (float, float), optional
        Errors-in-variables fit only: the step and residual-change tolerances TOL(1),
        TOL(2) (one number sets both).  Default: ``default_tolerances``, chosen from the
        data so that coefficients lie within 1e-7 standard uncertainties of the fully
        converged solution at any number of points.
    maxit : int, optional
        Errors-in-variables fit only: iteration limit (default 100).
    sigma : float, optional
        Errors-in-variables fit only: line-search parameter (default 0.1).
    covariance : {"stated", "scaled"}, optional
        Which covariance derived uncertainties use; default "stated" when u_y or u_x
        was given, else "scaled".
    accept_unconverged : bool
        Return the result of an errors-in-variables fit that stopped at its iteration
        or evaluation limit (status 4 or 5) with a ConvergenceWarning instead of raising.
    weighting : {"1/x", "1/x2"}, optional
        Ordinary fit only, instead of u_y: minimise sum_i w_i r_i**2 with w_i = 1/x_i or
        1/x_i**2 (the library's weights W_i = 1/sqrt(x_i) or 1/x_i); every x must be > 0.
        The scale of the scatter then comes from the residuals (scaled covariance).

    Returns
    -------
    Calibration

    Raises
    ------
    InputError
        Input the library would refuse, non-finite values or mismatched lengths.
    FitError
        The library could not fit (ill-conditioned design, an adjusted abscissa left the
        interval, status 4 or 5 without ``accept_unconverged``, singular covariance).

    Warns
    -----
    ConvergenceWarning
        Errors-in-variables fit with status 2 (iteration limit, only the residual change
        was small), or 3 (the line search gave up) while the last Gauss-Newton step was not
        below TOL(1); and status 4 or 5 when accepted.  Status 1 (iteration limit with a
        step below TOL(1)) and status 3 with such a small step (the sum of squares cannot
        decrease any further in floating point: the fit has converged to rounding) are
        returned without warning.

    Notes
    -----
    Minimises sum_i ((y_i - p(x_i))/u_y[i])**2, or with u_x
    sum_i (delta_i/u_x[i])**2 + ((y_i - p(x_i - delta_i))/u_y[i])**2 over the
    coefficients and the corrections delta.  ``cov`` is not scaled by the residual
    variance; ``cov_scaled`` is.
    """
    routine = "OLSPFIT" if u_x is None else "GLSPFIT"
    xv = V.vector("x", x, routine)
    n = xv.shape[0]
    yv = V.same_length("y", V.vector("y", y, routine), n, routine)
    if n > V.INT_MAX // 2:
        raise InputError(f"{n} points are more than the library takes", routine=routine)
    degree = V.integer("degree", degree, 0, MAX_NCOEF - 1, routine)
    ncoef = degree + 1
    if n < ncoef:
        raise InputError(f"{n} standards cannot determine {ncoef} coefficients", routine=routine)
    uy = None
    if u_y is not None:
        uy = V.same_length("u_y", V.vector("u_y", u_y, routine), n, routine, broadcast=True)
        V.positive("u_y", uy, routine)
    ux = None
    if u_x is not None:
        if uy is None:
            raise InputError("u_x needs u_y too: the errors-in-variables fit weighs the x and "
                             "y residuals by their uncertainties", routine=routine)
        ux = V.same_length("u_x", V.vector("u_x", u_x, routine), n, routine, broadcast=True)
        V.positive("u_x", ux, routine)
    preset = None
    if weighting is not None:
        from .weighting import preset_weights
        preset = preset_weights(weighting, xv, uy, ux, routine)
    if interval is None:
        xmin, xmax = default_interval(xv, ux)
        if not xmin < xmax:
            raise InputError(f"all {n} standards have x = {xmin:g}: a curve needs distinct x "
                             "values (or give an interval)", routine=routine)
    else:
        xmin, xmax = V.interval(interval, routine)
        V.inside("x", xv, xmin, xmax, routine, what="the interval")
    if covariance is None:
        covariance = "stated" if uy is not None else "scaled"
    elif covariance not in COVARIANCES:
        raise InputError(f"covariance must be 'stated' or 'scaled', not {covariance!r}")

    # Copies of the caller's arrays: the calibration keeps them read-only.
    xf = xv.copy()
    yf = yv.copy()
    uy = None if uy is None else uy.copy()
    ux = None if ux is None else ux.copy()
    wy = np.ones(n) if uy is None else 1.0 / uy
    if not np.isfinite(wy).all():
        i = int(np.flatnonzero(~np.isfinite(wy))[0])
        raise InputError(f"u_y[{i}] = {uy[i]:g} is too small: its weight 1/u_y overflows",
                         routine=routine)
    if ux is None:
        if tol is not None or maxit is not None or sigma is not None:
            raise InputError("tol, maxit and sigma apply to the errors-in-variables fit "
                             "(give u_x) only", routine=routine)
        if preset is not None:
            return _fit_ols(xf, yf, uy, preset, ncoef, xmin, xmax, covariance,
                            options=dict(weighting=weighting))
        return _fit_ols(xf, yf, uy, wy, ncoef, xmin, xmax, covariance)
    wx = 1.0 / ux
    if not np.isfinite(wx).all():
        i = int(np.flatnonzero(~np.isfinite(wx))[0])
        raise InputError(f"u_x[{i}] = {ux[i]:g} is too small: its weight 1/u_x overflows",
                         routine=routine)
    return _fit_gls(xf, yf, uy, ux, wy, wx, ncoef, xmin, xmax, tol, maxit, sigma, covariance,
                    accept_unconverged)


def _ols_call(x, y, w, ncoef, xmin, xmax):
    out = _clib.olspfit(x, y, w, ncoef, xmin, xmax)
    if out[-1] != 0:
        raise status_error("OLSPFIT", out[-1], npts=x.shape[0], ncoef=ncoef, xmin=xmin, xmax=xmax)
    return out


def _scaled(cov: np.ndarray, sres: float, dof: int) -> np.ndarray:
    # Without degrees of freedom the scatter says nothing: no scaled covariance.
    if dof == 0:
        return np.full_like(cov, np.nan)
    return cov * sres**2


def _fit_ols(x, y, uy, wy, ncoef, xmin, xmax, covariance, options=None) -> Calibration:
    coef, cov, sres, yfit, res, wres, _, _ = _ols_call(x, y, wy, ncoef, xmin, xmax)
    dof = x.shape[0] - ncoef
    chi2 = float(np.dot(wres, wres))
    return Calibration(kind="ols", coef=coef, cov=cov, cov_scaled=_scaled(cov, sres, dof),
                       sres=sres, chi2=chi2, dof=dof, fitted=yfit, residuals=res,
                       weighted_residuals=wres, x=x, y=y, u_y=uy, u_x=None, weights=wy,
                       x_weights=None, interval=(xmin, xmax), covariance=covariance,
                       options=options or {})


def _fit_gls(x, y, uy, ux, wy, wx, ncoef, xmin, xmax, tol, maxit, sigma, covariance,
             accept_unconverged) -> Calibration:
    routine = "GLSPFIT"
    n = x.shape[0]
    fields = dict(npts=n, ncoef=ncoef, xmin=xmin, xmax=xmax)
    maxit = DEFAULT_MAXIT if maxit is None else V.integer("maxit", maxit, 1, routine=routine)
    sigma = DEFAULT_SIGMA if sigma is None else V.real("sigma", sigma, routine)
    if tol is None:
        # The starting fit is checked here so that its status is reported as such.
        coef0, cov0 = _ols_call(x, y, wy, ncoef, xmin, xmax)[:2]
        tol = default_tolerances(x, y, wx, wy, coef0, cov0, xmin, xmax)
    else:
        t = np.atleast_1d(np.asarray(tol, dtype=np.float64))
        if t.shape not in ((1,), (2,)) or not np.all(np.isfinite(t)) or not np.all(t > 0):
            raise InputError(f"tol must be one or two positive numbers, not {tol!r}",
                             routine=routine)
        tol = (float(t[0]), float(t[-1]))
    out = _clib.glspfit(x, y, wx, wy, ncoef, xmin, xmax, tol, maxit, sigma)
    if out["olstat"] != 0:
        raise status_error("OLSPFIT", out["olstat"], **fields)
    status, iterations, evaluations = (int(v) for v in out["istat"])
    notes = []
    if not 0 <= status <= 3:
        if status in (4, 5) and accept_unconverged:
            notes.append(status_message(routine, status, **fields))
        else:
            raise status_error(routine, status, **fields)
    elif status == 2 or (status == 3 and not out["rinfo"][0] < tol[0]):
        notes.append(status_message(routine, status, **fields))
    cov = out["cov"]
    if not np.all(np.isfinite(cov)):
        raise FitError(
            "the coefficient covariance could not be formed: the coefficient factor is "
            "singular (a degenerate design)", code=status, routine=routine)
    for text in notes:
        warnings.warn(text, ConvergenceWarning, stacklevel=3)
    coef = out["param"][n:].copy()
    delta = out["param"][:n].copy()
    xi = x - delta
    # Residuals at the returned coefficients and adjusted abscissae (the library's
    # fitted values belong to its last trial point, one step away), so that every
    # field describes the same curve.
    fitted, st = _clib.polyeval(coef, xi, xmin, xmax)
    if st != 0:
        fitted = out["yfit"]
    res_y = y - fitted
    wres_y = res_y * wy
    wres_x = delta * wx
    chi2 = float(np.dot(wres_y, wres_y) + np.dot(wres_x, wres_x))
    dof = n - ncoef
    sres = float(np.sqrt(chi2 / dof)) if dof > 0 else 0.0
    return Calibration(kind="gls", coef=coef, cov=cov, cov_scaled=_scaled(cov, sres, dof),
                       sres=sres, chi2=chi2, dof=dof, fitted=fitted, residuals=res_y,
                       weighted_residuals=wres_y, x=x, y=y,
                       u_y=uy, u_x=ux, weights=wy, x_weights=wx, interval=(xmin, xmax),
                       covariance=covariance, status=status, iterations=iterations,
                       evaluations=evaluations, x_adjusted=xi, residuals_x=delta,
                       weighted_residuals_x=wres_x, rinfo=out["rinfo"],
                       options=dict(tol=tuple(tol), maxit=maxit, sigma=sigma),
                       notes=tuple(notes))
