"""``fit``: standards with their uncertainties in, a :class:`Calibration` out.

Without ``u_x`` the curve is fitted by weighted least squares (``OLSPFIT``),
with ``u_x`` by the errors-in-variables fit (``GLSPFIT``).
"""
from __future__ import annotations

import warnings

import numpy as np

from . import _lab_fit as LF
from . import _validate as V
from . import calibration as _calibration
from .calibration import COVARIANCES, Calibration
from ._lab import status_error, status_message
from .errors import ConvergenceWarning, FitError, InputError

MAX_NCOEF = 10
_WEIGHTING_CODES = {None: 0, "1/x": 1, "1/x2": 2}


def default_interval(x: np.ndarray, u_x: np.ndarray | None) -> tuple[float, float]:
    """The data's range; for the errors-in-variables fit widened on each side by
    max(10 max u_x, 5 % of the range), so that adjusted abscissae (which move by a
    few u_x) and the minimizer's trial steps stay inside.  (The laboratory library's
    rule: an empty interval comes back as (x, x).)"""
    (lo, hi), st = LF.default_interval(x, u_x)
    if st == LF.NO_SPREAD:
        v = float(np.min(x))
        return v, v
    if st != 0:
        raise InputError(f"default interval: {LF.status_text(st)}")
    return lo, hi


def default_tolerances(x, y, wx, wy, coef_start, cov_start, xmin, xmax) -> tuple[float, float]:
    """TOL(1), TOL(2) of ``GLSPFIT`` for this data (the laboratory library's rule).

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
    tol, st = LF.default_tolerances(x, y, wx, wy, coef_start, cov_start, xmin, xmax)
    if st != 0:
        raise InputError(f"default tolerances: {LF.status_text(st)}")
    return tol


def fit(x, y, u_y=None, u_x=None, degree: int = 1, interval=None, *, tol=None,
        maxit: int | None = None, sigma: float | None = None, covariance: str | None = None,
        accept_unconverged: bool = False, weighting: str | None = None, ids=None,
        exclude=None, variance=None, weights=None) -> Calibration:
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
    weighting : {"1/x", "1/x2", "1/y", "1/y2"}, optional
        Ordinary fit only, instead of u_y: minimise sum_i w_i r_i**2 with w_i = 1/x_i or
        1/x_i**2 (the library's weights W_i = 1/sqrt(x_i) or 1/x_i); every x must be > 0.
        "1/y" and "1/y2" take w_i = 1/|y_i| and 1/y_i**2 from the responses (no y may
        be 0); the calibration then carries the relative u_y = sqrt(|y|) or |y|.  The
        scale of the scatter comes from the residuals (scaled covariance).
    weights : array_like (n,), optional
        Ordinary fit only, instead of u_y or a weighting: w_i per standard (a weight
        column), each > 0; carried as the relative u_y = 1/sqrt(w), the scale from the
        residuals (scaled covariance).
    variance : str or VarianceModel, optional
        Ordinary fit only, instead of u_y or a weighting: weights 1/sigma(x) from a
        variance model fitted to the standards measured in replicate (``"auto"``,
        ``"constant"``, ``"proportional"``, ``"floor"``, ``"power"``; see
        :func:`quorvex.fit_variance`; without enough replicate groups, to the curve's
        residuals), or a model fitted before to the same standards.
        The calibration keeps it (``variance_model``): samples then take u(y) from it
        with the degrees of freedom of its estimate, and detection limits the scatter
        of the blank from its floor.
    ids : sequence, optional
        How the standards are named to people (an ID column, or the row of the file each
        came from); default their 1-based places.  Messages and verdicts use them.
    exclude : dict, optional
        {standard: reason}: standards left out of the fit, each with the reason, which
        the calibration keeps (``excluded``) for the record.  A standard is named by its
        ID (``ids``) or by its 1-based data row (an int always names a row); a name that
        fits two standards is an error listing both.  Standards are left out before any
        check of what the fit needs (every x > 0 under a weighting, say).

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
            weighting=weighting, variance=variance, weights=weights), routine)
    if weights is not None or weighting in RESPONSE_PRESETS:
        return _fit_response_weights(x, y, u_y, u_x, weighting, weights, variance, dict(
            degree=degree, interval=interval, covariance=covariance), routine)
    if variance is not None:
        return _fit_variance(x, y, u_y, u_x, weighting, variance, dict(
            degree=degree, interval=interval, covariance=covariance), routine)
    args = (x, y, u_y, u_x, degree, interval, covariance, weighting, routine)
    try:
        if u_x is None:
            if tol is not None or maxit is not None or sigma is not None:
                raise InputError("tol, maxit and sigma apply to the errors-in-variables fit "
                                 "(give u_x) only", routine=routine)
        else:
            maxit = None if maxit is None else V.integer("maxit", maxit, 1, routine=routine)
            sigma = None if sigma is None else V.real("sigma", sigma, routine)
            if tol is not None:
                t = np.atleast_1d(np.asarray(tol, dtype=np.float64))
                if t.shape not in ((1,), (2,)) or not np.all(np.isfinite(t)) or \
                        not np.all(t > 0):
                    raise InputError(f"tol must be one or two positive numbers, not {tol!r}",
                                     routine=routine)
                tol = (float(t[0]), float(t[-1]))
    except InputError:
        _standards_checked(*args)  # a fault of the standards is told first
        raise
    std = _arrays(x, y, u_y, u_x, degree, interval, covariance, weighting)
    if std is None:
        _standards_checked(*args)
        raise InputError("the standards cannot be fitted", routine=routine)
    return _fit_core(std, args, tol, maxit, sigma, accept_unconverged)


RESPONSE_PRESETS = ("1/y", "1/y2")


def _fit_response_weights(x, y, u_y, u_x, weighting, weights, variance, options,
                          routine) -> Calibration:
    """``fit`` with weights from the responses ("1/y", "1/y2") or a weight per standard."""
    from . import _lab_variance
    if u_y is not None or u_x is not None or variance is not None or (
            weights is not None and weighting is not None):
        raise InputError("give one source of weights: u_y (and u_x), a weighting preset, "
                         "weights, or a variance model", routine=routine)
    if options.get("covariance") == "stated":
        raise InputError("relative weights (1/y, 1/y2, a weight column) take their scale "
                         "from the residuals: the covariance is 'scaled'", routine=routine)
    xv = V.vector("x", x, routine)
    yv = V.same_length("y", V.vector("y", y, routine), xv.shape[0], routine)
    if weights is not None:
        kind, what = 3, "weights"
        wv = V.same_length("weights", V.vector("weights", weights, routine), xv.shape[0],
                           routine)
        values = wv
    else:
        kind, what = RESPONSE_PRESETS.index(weighting) + 1, weighting
        values = yv
    urel, st = _lab_variance.response_weights(kind, values)
    if st:
        bad = (~(values > 0) if kind == 3 else values == 0)
        i = int(np.flatnonzero(bad)[0]) if bad.any() else 0
        name = "weights" if kind == 3 else "y"
        raise InputError(f"{what}: {name}[{i}] = {values[i]:g} gives an infinite or "
                         "undefined weight", routine=routine)
    cal = fit(xv, yv, u_y=urel, **dict(options, covariance="scaled"))
    cal.__dict__["options"] = dict(cal.options, response_weighting=what)
    return cal


def _fit_variance(x, y, u_y, u_x, weighting, variance, options, routine) -> Calibration:
    """``fit`` weighted by a variance model fitted to the standards' replicates."""
    from .variance import VarianceModel, fit_variance
    if u_y is not None or u_x is not None or weighting is not None:
        raise InputError("variance gives the weights: it cannot be used with u_y, u_x or a "
                         "weighting preset", routine=routine)
    xv = V.vector("x", x, routine)
    if isinstance(variance, VarianceModel):
        vm = variance
        if vm.x != tuple(xv.tolist()):
            raise InputError("the variance model was fitted to other standards: give it the "
                             "standards of the fit, or variance='auto'", routine=routine)
    elif isinstance(variance, str):
        # Replicate standards tell the scatter; without replicates the residuals do.
        try:
            vm = fit_variance(xv, y, variance)
        except InputError as e:
            if "too few" not in str(e):
                raise
            vm = fit_variance(xv, y, variance, degree=options["degree"])
    else:
        raise InputError(f"variance must be a model's name or a VarianceModel, not "
                         f"{variance!r}", routine=routine)
    cal = fit(xv, y, u_y=np.array(vm.sd), **options)
    cal.__dict__["options"] = dict(cal.options, variance=vm.to_dict())
    return cal
def standard_index(key, ids, n: int, routine: str | None = None) -> int:
    """The 0-based place of the standard ``key`` names: its ID (``ids``, which may
    repeat) or its 1-based data row.  A Python int names a data row only.  A name that
    fits more than one standard (an ID shared, or an ID that is also another standard's
    row number) is an error listing the candidates."""
    if isinstance(key, (int, np.integer)) and not isinstance(key, bool):
        if not 1 <= int(key) <= n:
            raise InputError(f"exclude: no data row {int(key)}; the standards are rows 1 "
                             f"to {n}", routine=routine)
        return int(key) - 1
    name = str(key).strip()
    found = set()
    if ids is not None:
        found |= {k for k, v in enumerate(ids) if str(v).strip() == name}
    if name.isdigit() and 1 <= int(name) <= n:
        found.add(int(name) - 1)
    if not found:
        shown = (", ".join(str(v) for v in ids[:12]) + (", ..." if n > 12 else "")
                 if ids is not None else f"rows 1 to {n}")
        raise InputError(f"exclude: no standard {name!r}; the standards are {shown} (name "
                         "one by its ID or its 1-based data row)", routine=routine)
    if len(found) > 1:
        listed = "; ".join(f"data row {k + 1}" + (f" (ID {str(ids[k]).strip()!r})"
                                                   if ids is not None else "")
                           for k in sorted(found))
        raise InputError(f"exclude: {name!r} is ambiguous: it names {listed}; give the data "
                         "row of the one meant", routine=routine)
    return found.pop()


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
        k = standard_index(key, None if ids is None else names, n, routine)
        name = names[k]
        reason = "" if reason is None else str(reason).strip()
        if not reason:
            raise InputError(f"exclude: give the reason standard {name} is left out",
                             routine=routine)
        if k in drop:
            raise InputError(f"exclude names standard {name} twice", routine=routine)
        drop[k] = reason
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
    if options.get("weights") is not None:
        options = dict(options, weights=kept(options["weights"]))
    cal = fit(xv[keep], yv[keep], kept(u_y), kept(u_x), **options)
    d = cal.__dict__
    d["ids"] = tuple(v for k, v in enumerate(names) if keep[k])
    d["excluded"] = tuple({"standard": names[k], "x": float(xv[k]), "y": float(yv[k]),
                           "reason": drop[k]} for k in sorted(drop))
    return cal


def _standards_checked(x, y, u_y, u_x, degree, interval, covariance, weighting, routine):
    """The checks of the standards one after the other, raising ``InputError`` at the
    first fault in the user's terms: called where the library refused them, to say
    why."""
    xv = V.vector("x", x, routine)
    n = xv.shape[0]
    V.same_length("y", V.vector("y", y, routine), n, routine)  # refuses a bad y
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
    if weighting is not None:
        from .weighting import preset_weights
        preset_weights(weighting, xv, uy, ux, routine)
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

    # The library refused a weight: name the standard whose 1/u overflows.
    for name, u in (("u_y", uy), ("u_x", ux)):
        if u is None:
            continue
        with np.errstate(divide="ignore", over="ignore"):
            bad = ~np.isfinite(1.0 / u)
        if bad.any():
            i = int(np.flatnonzero(bad)[0])
            raise InputError(f"{name}[{i}] = {u[i]:g} is too small: its weight 1/{name} "
                             "overflows", routine=routine)


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


def _arrays(x, y, u_y, u_x, degree, interval, covariance, weighting):
    """The standards as the library takes them (float64 arrays of their own, u_y and
    u_x broadcast), or None where they cannot be converted; the library checks them."""
    if type(degree) is not int or not 0 <= degree < MAX_NCOEF:
        return None
    if covariance is not None and covariance not in COVARIANCES:
        return None
    if weighting not in _WEIGHTING_CODES:
        return None
    try:
        xv = np.array(x, dtype=np.float64)
        yv = np.array(y, dtype=np.float64)
        if xv.ndim != 1 or yv.shape != xv.shape or not 0 < xv.shape[0] <= V.INT_MAX // 2:
            return None
        n = xv.shape[0]
        us = []
        for u in (u_y, u_x):
            if u is None:
                us.append(None)
                continue
            uv = np.asarray(u, dtype=np.float64)
            if uv.ndim > 1 or (uv.ndim == 1 and uv.shape[0] not in (1, n)):
                return None
            us.append(np.array(np.broadcast_to(uv.reshape(-1), (n,)), dtype=np.float64))
    except Exception:  # the checks one by one say what it is
        return None
    iv = None
    if interval is not None:
        try:
            iv = (float(interval[0]), float(interval[1]))
            if len(interval) != 2:
                return None
        except Exception:
            return None
    return xv, yv, us[0], us[1], degree + 1, iv, covariance, weighting


_INPUT_STATUSES = {1, 2, 3, 4, 5, LF.X_NOT_POSITIVE, LF.UX_WITHOUT_UY, LF.PRESET_WITH_U,
                   LF.NO_SPREAD, LF.OUTSIDE, LF.WEIGHT_OVERFLOW}


def _fit_core(std, args, tol, maxit, sigma, accept_unconverged) -> Calibration:
    """``QVXL_FIT`` on the standards, and the calibration from its outputs; its statuses
    as the user's errors and warnings."""
    xv, yv, uy, ux, ncoef, interval, covariance, weighting = std
    routine = "OLSPFIT" if ux is None else "GLSPFIT"
    n = xv.shape[0]
    covkind = -1 if covariance is None else COVARIANCES.index(covariance)
    r = LF.fit(xv, yv, uy, ux, _WEIGHTING_CODES[weighting], None, ncoef, interval,
               None if tol is None else tol, maxit, sigma, covkind)
    st = r["istat"]
    if st in _INPUT_STATUSES:
        _standards_checked(*args)
        raise InputError(f"the standards cannot be fitted: {LF.status_text(st)}",
                         routine=routine)
    xmin, xmax = r["interval"]
    fields = dict(npts=n, ncoef=ncoef, xmin=xmin, xmax=xmax)
    info = r["info"]
    if st == LF.OLS_FAILED:
        raise _ols_error(xv, info[0], **fields)
    status, iterations, evaluations = info[1:4]
    notes = []
    if ux is not None:
        if not 0 <= status <= 3:
            if status in (4, 5) and accept_unconverged:
                notes.append(status_message(routine, status, **fields))
            else:
                raise status_error(routine, status, **fields)
        elif status == 2 or (status == 3 and not r["rinfo"][0] < r["tol"][0]):
            notes.append(status_message(routine, status, **fields))
    if st == LF.GLS_FAILED:
        raise FitError(
            "the coefficient covariance could not be formed: the coefficient factor is "
            "singular (a degenerate design)", code=status, routine=routine)
    if st not in (0, LF.UNCONVERGED, LF.SCALE_OVERFLOW):
        raise InputError(f"the standards cannot be fitted: {LF.status_text(st)}",
                         routine=routine)
    overflow = info[4] == 1
    if ux is not None:
        for text in notes:
            warnings.warn(text, ConvergenceWarning, stacklevel=3)
        if overflow:
            from .calibration import scaled_covariance
            scaled_covariance(r["cov"], r["sres"], r["dof"])  # raises the FitError
    for a in (xv, yv, uy, ux, r["coef"], r["cov"], r["cov_scaled"], r["rinfo"],
              *(r[k] for k in LF._ROWS)):
        if a is not None:
            a.flags.writeable = False
    kw = dict(coef=r["coef"], cov=r["cov"], sres=r["sres"], chi2=r["chi2"], dof=r["dof"],
              fitted=r["fitted"], residuals=r["residuals"],
              weighted_residuals=r["weighted_residuals"], x=xv, y=yv, u_y=uy, u_x=ux,
              weights=r["weights"], interval=(xmin, xmax), covariance=COVARIANCES[r["covkind"]])
    if not overflow:
        kw["cov_scaled"] = r["cov_scaled"]  # else computed (and refused) when first read
    if ux is None:
        return Calibration._trusted(kind="ols", x_weights=None,
                                    options={} if weighting is None else
                                    dict(weighting=weighting), **kw)
    return Calibration._trusted(
        kind="gls", x_weights=r["x_weights"], status=status, iterations=iterations,
        evaluations=evaluations, x_adjusted=r["x_adjusted"], residuals_x=r["residuals_x"],
        weighted_residuals_x=r["weighted_residuals_x"], rinfo=r["rinfo"],
        options=dict(tol=tuple(r["tol"]), maxit=r["maxit"], sigma=r["sigma"]),
        notes=tuple(notes), **kw)


_calibration._FIT = fit  # a record read back is checked by refitting it
