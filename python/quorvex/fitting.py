"""``fit``: standards with their uncertainties in, a :class:`Calibration` out.

Without ``u_x`` the curve is fitted by weighted least squares (``OLSPFIT``),
with ``u_x`` by the errors-in-variables fit (``GLSPFIT``).
"""
from __future__ import annotations

import math
import sys
import warnings
from ctypes import byref, c_double, c_int

import numpy as np

from . import _clib
from . import _validate as V
from .basis import slope
from .calibration import COVARIANCES, Calibration, scaled_covariance
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
    return _padded(float(x.min()), float(x.max()), None if u_x is None else float(u_x.max()))


def _padded(lo: float, hi: float, ux_max: float | None) -> tuple[float, float]:
    if ux_max is None:
        return lo, hi
    pad = max(PAD_UX * ux_max, PAD_RANGE * (hi - lo))
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
        accept_unconverged: bool = False, weighting: str | None = None, ids=None,
        exclude=None) -> Calibration:
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
    ids : sequence, optional
        How the standards are named to people (an ID column, or the row of the file each
        came from); default their 1-based places.  Messages and verdicts use them.
    exclude : dict, optional
        {standard: reason}: standards left out of the fit, named by their ID (``ids``) or
        1-based place, each with the reason, which the calibration keeps (``excluded``)
        for the record.

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
    if ids is not None or exclude:
        return _fit_named(x, y, u_y, u_x, ids, exclude, dict(
            degree=degree, interval=interval, tol=tol, maxit=maxit, sigma=sigma,
            covariance=covariance, accept_unconverged=accept_unconverged,
            weighting=weighting), routine)
    std = None
    if weighting is None:
        std = _standards(x, y, u_y, u_x, degree, interval, covariance, routine)
    if std is None:
        std = _standards_checked(x, y, u_y, u_x, degree, interval, covariance, weighting, routine)
    data, k, ncoef, xmin, xmax, covariance = std
    if u_x is None:
        if tol is not None or maxit is not None or sigma is not None:
            raise InputError("tol, maxit and sigma apply to the errors-in-variables fit "
                             "(give u_x) only", routine=routine)
        options = {} if weighting is None else dict(weighting=weighting)
        return _fit_ols(data, k, ncoef, xmin, xmax, covariance, options)
    return _fit_gls(data, ncoef, xmin, xmax, tol, maxit, sigma, covariance, accept_unconverged)


def _fit_named(x, y, u_y, u_x, ids, exclude, options, routine) -> Calibration:
    """``fit`` of standards with names, some of them left out with a reason."""
    xv = V.vector("x", x, routine)
    n = xv.shape[0]
    names = ([str(k + 1) for k in range(n)] if ids is None
             else [str(v).strip() for v in ids])
    if len(names) != n:
        raise InputError(f"ids must name each of the {n} standards, not {len(names)}",
                         routine=routine)
    if len(set(names)) != n:
        dup = next(v for v in names if names.count(v) > 1)
        raise InputError(f"ids must be unique: {dup!r} names more than one standard",
                         routine=routine)
    exclude = dict(exclude or {})
    drop = {}
    for key, reason in exclude.items():
        name = str(key).strip()
        if name not in names:
            shown = ", ".join(names[:12]) + (", ..." if n > 12 else "")
            raise InputError(f"exclude: no standard {name!r}; the standards are {shown}",
                             routine=routine)
        reason = "" if reason is None else str(reason).strip()
        if not reason:
            raise InputError(f"exclude: give the reason standard {name} is left out",
                             routine=routine)
        drop[names.index(name)] = reason
    keep = np.array([k not in drop for k in range(n)])

    def kept(a):
        if a is None or np.ndim(a) == 0:
            return a
        v = np.asarray(a, dtype=np.float64)
        return v[keep] if v.shape == (n,) else v

    yv = np.asarray(y, dtype=np.float64)
    if yv.shape != (n,):
        raise InputError(f"y must have {n} elements like x, not shape {yv.shape}",
                         routine=routine)
    cal = fit(xv[keep], yv[keep], kept(u_y), kept(u_x), **options)
    d = cal.__dict__
    d["ids"] = tuple(v for k, v in enumerate(names) if keep[k])
    d["excluded"] = tuple({"standard": names[k], "x": float(xv[k]), "y": float(yv[k]),
                           "reason": drop[k]} for k in sorted(drop))
    return cal


# The standards are packed into one C-ordered array ``data`` (a copy: the library
# reads it and the calibration keeps it, read-only): the rows x, y, then u_y and u_x
# where given (k rows in all), then the weights 1/u_y (ones without u_y, or a
# preset's weights) and, with u_x, 1/u_x.

def _standards(x, y, u_y, u_x, degree, interval, covariance, routine):
    """The standards checked and packed in one pass: (data, k, ncoef, xmin, xmax,
    covariance), or None where anything is amiss or out of the ordinary.

    One minimum and one maximum per row of the k input rows decide every check: a NaN
    or an infinity shows in one of them, and they give the positivity of u_y and u_x,
    the range of x and the largest weights.  Where they find a fault (or the input is
    unusual), ``_standards_checked`` goes through the checks one by one, in their
    order, and names it.
    """
    if type(degree) is not int or not 0 <= degree < MAX_NCOEF:
        return None
    if covariance is not None and covariance not in COVARIANCES:
        return None
    if u_x is not None and u_y is None:
        return None
    try:
        xv = np.asarray(x, dtype=np.float64)
        yv = np.asarray(y, dtype=np.float64)
    except Exception:  # the checks one by one say what it is
        return None
    if xv.ndim != 1 or yv.shape != xv.shape:
        return None
    n = xv.shape[0]
    if not degree < n <= V.INT_MAX // 2:
        return None
    us = []  # u_y, u_x: a float, or a float64 array of n or 1 elements
    for u in (u_y, u_x):
        if u is None:
            continue
        if type(u) is not float:
            try:
                u = np.asarray(u, dtype=np.float64)
            except Exception:
                return None
            if u.ndim > 1 or (u.ndim == 1 and u.shape[0] != n and u.shape[0] != 1):
                return None
        us.append(u)
    k = 2 + len(us)
    data = np.empty((k + max(len(us), 1), n))
    data[0] = xv
    data[1] = yv
    for i, u in enumerate(us):
        data[2 + i] = u  # a single value fills the row
    lo = np.minimum.reduce(data[:k], 1).tolist()
    hi = np.maximum.reduce(data[:k], 1).tolist()
    if not (all(map(math.isfinite, lo)) and all(map(math.isfinite, hi))):
        return None
    # Positive, with a finite largest weight 1/min(u) (division rounds monotonically).
    for i in range(2, k):
        if not (lo[i] > 0.0 and math.isfinite(1.0 / lo[i])):
            return None
    if interval is None:
        xmin, xmax = _padded(lo[0], hi[0], hi[3] if u_x is not None else None)
        if not xmin < xmax:
            return None
    else:
        xmin, xmax = V.interval(interval, routine)
        if lo[0] < xmin or hi[0] > xmax:
            return None
    if covariance is None:
        covariance = "stated" if u_y is not None else "scaled"
    if not us:
        data[k] = 1.0
    for i, u in enumerate(us):
        if type(u) is float:
            data[k + i] = 1.0 / u
        else:
            np.divide(1.0, data[2 + i], out=data[k + i])
    return data, k, degree + 1, xmin, xmax, covariance


def _standards_checked(x, y, u_y, u_x, degree, interval, covariance, weighting, routine):
    """As ``_standards``, one check after the other, raising ``InputError`` at the first
    fault; also for weighting presets."""
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

    rows = [xv, yv]
    wy = np.ones(n)
    if uy is not None:
        rows.append(uy)
        wy = 1.0 / uy
        if not np.isfinite(wy).all():
            i = int(np.flatnonzero(~np.isfinite(wy))[0])
            raise InputError(f"u_y[{i}] = {uy[i]:g} is too small: its weight 1/u_y overflows",
                             routine=routine)
    if preset is not None:
        wy = preset
    k = len(rows)
    if ux is not None:
        wx = 1.0 / ux
        if not np.isfinite(wx).all():
            i = int(np.flatnonzero(~np.isfinite(wx))[0])
            raise InputError(f"u_x[{i}] = {ux[i]:g} is too small: its weight 1/u_x overflows",
                             routine=routine)
        rows.insert(k, ux)
        k += 1
        rows += [wy, wx]
    else:
        rows.append(wy)
    return np.array(rows, dtype=np.float64), k, ncoef, xmin, xmax, covariance


def _olspfit(data, w_row, ncoef, xmin, xmax):
    """``OLSPFIT`` on the rows x (0), y (1) and weights (``w_row``) of ``data``.

    Returns (out, sres): ``out`` holds coef, cov (Fortran order), fitted values,
    residuals and weighted residuals one after the other (``_ols_fields`` views them).
    """
    n = data.shape[1]
    nc2 = ncoef * ncoef
    out = np.zeros(ncoef + nc2 + 3 * n)
    d, o = _clib.address(data), _clib.address(out)
    row = 8 * n
    p = o + 8 * (ncoef + nc2)
    sres, wresmax, istat = c_double(), c_double(), c_int()
    _clib.unchecked().OLSPFIT(byref(c_int(n)), d, d + row, d + w_row * row, byref(c_int(ncoef)),
                              byref(c_double(xmin)), byref(c_double(xmax)), o, o + 8 * ncoef,
                              byref(sres), p, p + row, p + 2 * row, byref(wresmax), byref(istat))
    if istat.value != 0:
        raise _ols_error(data[0], istat.value, npts=n, ncoef=ncoef, xmin=xmin, xmax=xmax)
    return out, sres.value


def _ols_error(x, code, **fields) -> FitError:
    """The ``FitError`` for status ``code`` of the ordinary fit (also GLSPFIT's start)."""
    ncoef = fields["ncoef"]
    distinct = int(np.unique(x).size)
    if code == 24 and distinct < ncoef:
        degree = ncoef - 1
        return FitError(
            f"the standards do not determine a curve of degree {degree}: they have {distinct} "
            f"distinct x value{'s' if distinct != 1 else ''}, and a curve of degree {degree} "
            f"needs at least {ncoef} (OLSPFIT status 24)", code=code, routine="OLSPFIT")
    return status_error("OLSPFIT", code, **fields)


def _ols_fields(out, n, ncoef):
    """(coef, cov, fitted, residuals, weighted residuals): views of ``_olspfit``'s ``out``."""
    p = ncoef + ncoef * ncoef
    return (out[:ncoef], out[ncoef:p].reshape((ncoef, ncoef), order="F"), out[p:p + n],
            out[p + n:p + 2 * n], out[p + 2 * n:p + 3 * n])


def _fit_ols(data, k, ncoef, xmin, xmax, covariance, options) -> Calibration:
    n = data.shape[1]
    out, sres = _olspfit(data, k, ncoef, xmin, xmax)
    # Read-only before the views are taken: the views are read-only too.
    data.flags.writeable = False
    out.flags.writeable = False
    coef, cov, fitted, res, wres = _ols_fields(out, n, ncoef)
    # cov_scaled and chi2 are computed when first read.
    return Calibration._trusted(
        kind="ols", coef=coef, cov=cov, sres=sres, dof=n - ncoef, fitted=fitted, residuals=res,
        weighted_residuals=wres, x=data[0], y=data[1], u_y=data[2] if k > 2 else None,
        u_x=None, weights=data[k], x_weights=None, interval=(xmin, xmax), covariance=covariance,
        options=options)


def _glspfit(data, ncoef, xmin, xmax, tol, maxit, sigma):
    """``GLSPFIT`` on the rows x, y, u_y, u_x, 1/u_y, 1/u_x of ``data``.

    Returns (keep, work, olstat, istat): ``keep`` holds PARAM (delta, then the
    coefficients), COV (Fortran order) and RINFO, the outputs a calibration keeps;
    ``work`` holds YFIT first and the rest of the outputs after it.
    """
    n = data.shape[1]
    nc2 = ncoef * ncoef
    keep = np.zeros(n + ncoef + nc2 + 4)
    nwork = 6 * n + n * ncoef + ncoef * (ncoef + 1) // 2
    work = np.zeros(nwork + 2)
    work[nwork:] = tol
    d, o, w = _clib.address(data), _clib.address(keep), _clib.address(work)
    row = 8 * n
    sres, wresmax, olstat = c_double(), c_double(), c_int()
    istat = (c_int * 3)()
    # work: yfit (n), res (2 x n), wres (2 n), r11 (n), r12 (n x ncoef), r22, tol (2)
    _clib.unchecked().GLSPFIT(
        byref(c_int(n)), d, d + row, d + 5 * row, d + 4 * row, byref(c_int(ncoef)),
        byref(c_double(xmin)), byref(c_double(xmax)), w + 8 * nwork, byref(c_int(maxit)),
        byref(c_double(sigma)), o, o + 8 * (n + ncoef), byref(sres), w, w + row,
        w + 3 * row, byref(wresmax), w + 5 * row, w + 6 * row, w + 6 * row + 8 * n * ncoef,
        o + 8 * (n + ncoef + nc2), byref(olstat), istat)
    return keep, work, olstat.value, list(istat)


def _fit_gls(data, ncoef, xmin, xmax, tol, maxit, sigma, covariance,
             accept_unconverged) -> Calibration:
    routine = "GLSPFIT"
    n = data.shape[1]
    x, y, uy, ux, wy, wx = data
    fields = dict(npts=n, ncoef=ncoef, xmin=xmin, xmax=xmax)
    maxit = DEFAULT_MAXIT if maxit is None else V.integer("maxit", maxit, 1, routine=routine)
    sigma = DEFAULT_SIGMA if sigma is None else V.real("sigma", sigma, routine)
    if tol is None:
        # The starting fit is checked here so that its status is reported as such.
        out0, _ = _olspfit(data, 4, ncoef, xmin, xmax)
        coef0, cov0 = _ols_fields(out0, n, ncoef)[:2]
        tol = default_tolerances(x, y, wx, wy, coef0, cov0, xmin, xmax)
    else:
        t = np.atleast_1d(np.asarray(tol, dtype=np.float64))
        if t.shape not in ((1,), (2,)) or not np.all(np.isfinite(t)) or not np.all(t > 0):
            raise InputError(f"tol must be one or two positive numbers, not {tol!r}",
                             routine=routine)
        tol = (float(t[0]), float(t[-1]))
    keep, work, olstat, istat = _glspfit(data, ncoef, xmin, xmax, tol, maxit, sigma)
    if olstat != 0:
        raise _ols_error(x, olstat, **fields)
    status, iterations, evaluations = istat
    nc2 = ncoef * ncoef
    rinfo = keep[n + ncoef + nc2:]
    notes = []
    if not 0 <= status <= 3:
        if status in (4, 5) and accept_unconverged:
            notes.append(status_message(routine, status, **fields))
        else:
            raise status_error(routine, status, **fields)
    elif status == 2 or (status == 3 and not rinfo[0] < tol[0]):
        notes.append(status_message(routine, status, **fields))
    cov = keep[n + ncoef:n + ncoef + nc2].reshape((ncoef, ncoef), order="F")
    if not np.all(np.isfinite(cov)):
        raise FitError(
            "the coefficient covariance could not be formed: the coefficient factor is "
            "singular (a degenerate design)", code=status, routine=routine)
    for text in notes:
        warnings.warn(text, ConvergenceWarning, stacklevel=3)
    delta = keep[:n]
    xi = x - delta
    # Residuals at the returned coefficients and adjusted abscissae (the library's
    # fitted values belong to its last trial point, one step away), so that every
    # field describes the same curve.
    fitted = np.zeros(n)
    st = c_int()
    _clib.unchecked().POLYEVAL(byref(c_int(ncoef)), _clib.address(keep) + 8 * n, byref(c_int(n)),
                               _clib.address(xi), byref(c_double(xmin)), byref(c_double(xmax)),
                               _clib.address(fitted), byref(st))
    if st.value != 0:
        fitted = work[:n].copy()
    keep.flags.writeable = False
    data.flags.writeable = False
    coef = keep[n:n + ncoef]
    delta = keep[:n]
    cov = keep[n + ncoef:n + ncoef + nc2].reshape((ncoef, ncoef), order="F")
    rinfo = keep[n + ncoef + nc2:]
    res_y = y - fitted
    wres_y = res_y * wy
    wres_x = delta * wx
    chi2 = float(np.dot(wres_y, wres_y) + np.dot(wres_x, wres_x))
    dof = n - ncoef
    sres = float(np.sqrt(chi2 / dof)) if dof > 0 else 0.0
    for a in (xi, fitted, res_y, wres_y, wres_x):
        a.flags.writeable = False
    x, y, uy, ux, wy, wx = data
    return Calibration._trusted(
        kind="gls", coef=coef, cov=cov, cov_scaled=scaled_covariance(cov, sres, dof), sres=sres,
        chi2=chi2, dof=dof, fitted=fitted, residuals=res_y, weighted_residuals=wres_y, x=x, y=y,
        u_y=uy, u_x=ux, weights=wy, x_weights=wx, interval=(xmin, xmax), covariance=covariance,
        status=status, iterations=iterations, evaluations=evaluations, x_adjusted=xi,
        residuals_x=delta, weighted_residuals_x=wres_x, rinfo=rinfo,
        options=dict(tol=tuple(tol), maxit=maxit, sigma=sigma), notes=tuple(notes))
