"""Is a calibration fit for use: goodness of fit, lack of fit, bands, residual
diagnostics, back-calculated standards and detection limits.

Everything is computed from the fit's own results.  Notation: W_i the weights the
library used (1/u_y, ones, or a weighting preset), e_i = y_i - p(x_i) the residuals,
g_i the basis row at x_i, C = ``cal.cov`` = (A'A)^-1 the unscaled coefficient
covariance of the weighted design A = diag(W) G, chi2 = sum_i (W_i e_i)**2,
dof = n - ncoef, s = SRES = sqrt(chi2/dof).

scipy is imported only for distribution functions, and only when one is needed.
"""
from __future__ import annotations

import math
from dataclasses import asdict, dataclass, field

import numpy as np

from . import _validate as V
from .basis import basis, slope
from .errors import InputError, QuorvexError
from .weighting import response_scale

# Verdict thresholds of the goodness-of-fit and lack-of-fit tests.
ALPHA_DOUBT = 0.05
ALPHA_REJECT = 0.01
# Back-calculated standards (bioanalytical guidance): +-15 %, +-20 % at the lowest level,
# at least 75 % of the non-blank standards within their limits.
BACK_TOLERANCE = 15.0
BACK_TOLERANCE_LOWEST = 20.0
BACK_FRACTION = 0.75
# Outlier flags: |residual| > max(3, the two-sided 5 % Bonferroni level for n standards).
RESIDUAL_THRESHOLD = 3.0
FAMILY_ALPHA = 0.05
SHOWN_OUTLIERS = 5
COOK_THRESHOLD = 1.0
PINNED_LEVERAGE = 1.0 - 1e-9


def _stats():
    try:
        from scipy import stats
    except ImportError as e:  # pragma: no cover - scipy is installed with the package's tests
        raise QuorvexError("this needs scipy (Debian: python3-scipy) for distribution "
                           "functions") from e
    return stats


def stated(cal) -> bool:
    """True when the fit was given uncertainties (u_y): the chi2 test applies."""
    return cal.u_y is not None


def _sigma_hat(cal) -> float:
    """1 when the calibration's uncertainties are the stated ones, else SRES."""
    return 1.0 if cal.covariance == "stated" else float(cal.sres)


# --------------------------------------------------------------------------------------
# Goodness of fit
# --------------------------------------------------------------------------------------
def p_value(cal) -> float:
    """P(chi2_dof >= chi2): the chi-squared test of the stated uncertainties.

    NaN when the fit had no stated uncertainties (unit weights or a weighting preset say
    nothing about the size of the scatter) or no degrees of freedom.
    """
    if not stated(cal) or cal.dof == 0:
        return math.nan
    return float(_stats().chi2.sf(cal.chi2, cal.dof))


def goodness_verdict(cal) -> tuple[str, str]:
    """("pass" | "doubtful" | "fail" | "not tested", the verdict in words).

    pass: p >= 0.05; doubtful: 0.01 <= p < 0.05; fail: p < 0.01.  A chi2 so small
    that P(chi2_dof <= chi2) < 0.01 passes with a note: the scatter is smaller than
    the stated uncertainties suggest.
    """
    if cal.dof == 0:
        return "not tested", ("no degrees of freedom: the curve passes through every "
                              "standard, so its adequacy cannot be tested")
    if not stated(cal):
        return "not tested", (f"no stated uncertainties: the chi2 test does not apply; the "
                              f"scatter sets the uncertainties (SRES {cal.sres:.4g})")
    p = p_value(cal)
    head = f"chi2 {cal.chi2:.4g} on {cal.dof} dof, p = {p:.3g}"
    if p < ALPHA_REJECT:
        return "fail", (f"{head}: the scatter is larger than the stated uncertainties allow "
                        "(wrong degree, outliers, or understated uncertainties)")
    if p < ALPHA_DOUBT:
        return "doubtful", f"{head}: the scatter is somewhat larger than stated"
    if 1.0 - p < ALPHA_REJECT:
        return "pass", (f"{head}: consistent, but the scatter is much smaller than stated "
                        "(the stated uncertainties may be too large)")
    return "pass", f"{head}: consistent with the stated uncertainties"


@dataclass(frozen=True)
class LackOfFit:
    """The lack-of-fit F test of a fit to standards with replicate x values.

    The weighted residual sum of squares splits into pure error (scatter of the
    replicates about their weighted group means, sum_i W_i**2 (y_i - ybar_g)**2 on
    n - groups degrees of freedom) and lack of fit (the rest, chi2 - ss_pure, on
    groups - ncoef); F = (ss_lack/dof_lack) / (ss_pure/dof_pure), p = P(F >= f).
    """

    ss_lack: float
    dof_lack: int
    ss_pure: float
    dof_pure: int
    f: float
    p_value: float
    groups: int

    @property
    def verdict(self) -> str:
        if self.p_value < ALPHA_REJECT:
            return "fail"
        return "doubtful" if self.p_value < ALPHA_DOUBT else "pass"

    def text(self) -> str:
        return (f"F {self.f:.4g} on ({self.dof_lack}, {self.dof_pure}) dof, "
                f"p = {self.p_value:.3g} ({self.groups} levels with replicates)")


def lack_of_fit(cal) -> LackOfFit | None:
    """The lack-of-fit F test (see :class:`LackOfFit`), or None where it does not apply:
    the errors-in-variables fit (its x values are themselves adjusted), no replicate x
    values, or no more distinct x values than coefficients."""
    if cal.kind != "ols":
        return None
    levels, group = np.unique(cal.x, return_inverse=True)
    g = levels.shape[0]
    dof_pure, dof_lack = cal.n_points - g, g - cal.ncoef
    if dof_pure <= 0 or dof_lack <= 0:
        return None
    w2 = cal.weights ** 2
    mean = np.bincount(group, w2 * cal.y, g) / np.bincount(group, w2, g)
    ss_pure = float(np.sum(w2 * (cal.y - mean[group]) ** 2))
    ss_lack = max(float(cal.chi2) - ss_pure, 0.0)
    if ss_pure == 0.0:
        f, p = (math.inf, 0.0) if ss_lack > 0 else (math.nan, math.nan)
    else:
        f = (ss_lack / dof_lack) / (ss_pure / dof_pure)
        p = float(_stats().f.sf(f, dof_lack, dof_pure))
    return LackOfFit(ss_lack, dof_lack, ss_pure, dof_pure, float(f), p, g)


# --------------------------------------------------------------------------------------
# Bands
# --------------------------------------------------------------------------------------
@dataclass(frozen=True, eq=False)
class Band:
    """A confidence or prediction band; ``lower, upper = band`` unpacks it.

    Attributes
    ----------
    x, y : ndarray
        The points and the curve there.
    lower, upper : ndarray
        y -+ k u.
    u : ndarray
        u(p(x)) (confidence) or sqrt(u(p(x))**2 + u_response**2) (prediction).
    k : float
        The coverage factor.
    kind, level, distribution : str, float, str
        "confidence" or "prediction", the coverage probability, and "normal" or
        "t(dof)" (the distribution k came from).
    """

    x: np.ndarray
    y: np.ndarray
    lower: np.ndarray
    upper: np.ndarray
    u: np.ndarray
    k: float
    kind: str
    level: float
    distribution: str

    def __iter__(self):
        return iter((self.lower, self.upper))


def coverage_factor(cal, level: float, covariance: str | None = None,
                    sided: int = 2) -> tuple[float, str]:
    """k for a two-sided (or one-sided) coverage probability ``level``: from Student's t
    with ``dof`` degrees of freedom when the covariance used is the scaled one (its size
    was estimated from the scatter), from the normal distribution when it is the stated
    one."""
    level = V.real("level", level)
    if not 0.0 < level < 1.0:
        raise InputError(f"level must lie strictly between 0 and 1, not {level:g}")
    q = (1.0 + level) / 2.0 if sided == 2 else level
    which = cal.covariance if covariance is None else covariance
    st = _stats()
    if which == "scaled":
        if cal.dof == 0:
            raise InputError("the scaled covariance needs degrees of freedom: this fit has none")
        return float(st.t.ppf(q, cal.dof)), f"t({cal.dof})"
    return float(st.norm.ppf(q)), "normal"


def response_sd(cal, x: np.ndarray, u_y=None) -> np.ndarray:
    """Standard deviation of one new response at each x.

    ``u_y`` given: that, as it is.  Otherwise, with the stated covariance, the stated
    u_y of the standards when they are all equal (else ``u_y`` is required); with the
    scaled covariance SRES / W(x): SRES for unit weights, SRES sqrt(x) for "1/x",
    SRES |x| for "1/x2", SRES u_y when the fit had (equal) u_y.
    """
    if u_y is not None:
        u = V.vector("u_y", u_y)
        if not (u >= 0).all():
            raise InputError("u_y must not be negative")
        return np.broadcast_to(u, x.shape).astype(np.float64) if u.shape[0] == 1 else \
            V.same_length("u_y", u, x.shape[0])
    weighting = cal.options.get("weighting")
    if cal.u_y is not None:
        if not np.all(cal.u_y == cal.u_y[0]):
            raise InputError("the standards' u_y differ, so the response uncertainty at new "
                             "points is not known: give u_y")
        base = np.full(x.shape, float(cal.u_y[0]))
    else:
        base = response_scale(weighting, x)
    return base * _sigma_hat(cal)


def band(cal, x, level: float = 0.95, kind: str = "confidence", u_y=None,
         covariance: str | None = None) -> Band:
    """Lower and upper curves of a confidence or prediction band at x.

    confidence: p(x) -+ k u(p(x)), u(p(x))**2 = g(x)' C g(x) (C the covariance used);
    prediction: p(x) -+ k sqrt(u(p(x))**2 + u_r(x)**2), u_r the uncertainty of one new
    response (``u_y`` if given, else :func:`response_sd`).
    k from Student's t with ``dof`` degrees of freedom when the covariance is the scaled
    one, from the normal distribution when it is the stated one (:func:`coverage_factor`).
    """
    if kind not in ("confidence", "prediction"):
        raise InputError(f"kind must be 'confidence' or 'prediction', not {kind!r}")
    y, u = cal.evaluate(np.asarray(x, dtype=np.float64).reshape(-1), uncertainty=True,
                        covariance=covariance)
    xa = np.asarray(x, dtype=np.float64).reshape(-1)
    if kind == "prediction":
        u = np.sqrt(u ** 2 + response_sd(cal, xa, u_y) ** 2)
    k, dist = coverage_factor(cal, level, covariance)
    shape = np.shape(x)
    r = [a.reshape(shape) for a in (xa, y, y - k * u, y + k * u, u)]
    return Band(*r, k=k, kind=kind, level=float(level), distribution=dist)


# --------------------------------------------------------------------------------------
# Residual diagnostics
# --------------------------------------------------------------------------------------
def _ols_only(cal, what: str) -> None:
    if cal.kind != "ols":
        raise InputError(f"{what} are defined for the ordinary fit; for the errors-in-variables "
                         "fit use the normalized residuals weighted_residuals_x and "
                         "weighted_residuals (see outliers())")


def leverages(cal) -> np.ndarray:
    """h_ii = W_i**2 g_i' C g_i, the diagonal of the hat matrix A (A'A)^-1 A'."""
    _ols_only(cal, "leverages")
    g = basis(cal.x, cal.ncoef, cal.xmin, cal.xmax)
    return cal.weights ** 2 * np.einsum("ij,jk,ik->i", g, cal.cov, g)


def _studentized(cal, h: np.ndarray, external: bool) -> np.ndarray:
    r = cal.weighted_residuals
    with np.errstate(divide="ignore", invalid="ignore"):
        one_h = np.where(h < PINNED_LEVERAGE, 1.0 - h, np.nan)
        if not external:
            s2 = np.full_like(r, cal.chi2 / cal.dof if cal.dof > 0 else np.nan)
        else:
            s2 = ((cal.chi2 - r ** 2 / one_h) / (cal.dof - 1) if cal.dof > 1
                  else np.full_like(r, np.nan))
            s2 = np.where(s2 > 0, s2, np.nan)
        return r / np.sqrt(s2 * one_h)


def studentized_residuals(cal, external: bool = False) -> np.ndarray:
    """Internally studentized W_i e_i / (s sqrt(1 - h_ii)); with ``external`` the
    standard's own residual is left out of s: s_(i)**2 = (chi2 - (W_i e_i)**2/(1 - h_ii))
    / (dof - 1).  NaN where h_ii = 1 or too few degrees of freedom."""
    _ols_only(cal, "studentized residuals")
    return _studentized(cal, leverages(cal), external)


def cooks_distance(cal) -> np.ndarray:
    """D_i = r_i**2 h_ii / (ncoef (1 - h_ii)), r_i the internally studentized residual."""
    _ols_only(cal, "Cook's distances")
    h = leverages(cal)
    r = _studentized(cal, h, external=False)
    with np.errstate(divide="ignore", invalid="ignore"):
        return r ** 2 * h / (cal.ncoef * (1.0 - h))


@dataclass(frozen=True)
class Outlier:
    """A standard flagged by :func:`outliers`: its index, x, y, the statistic it was
    tested with (``statistic``; for the errors-in-variables fit ``statistic_x`` too),
    Cook's distance (NaN for the errors-in-variables fit) and the reasons in words."""

    index: int
    x: float
    y: float
    statistic: float
    cooks_distance: float
    reasons: tuple
    statistic_x: float = math.nan


def residual_statistic(cal) -> tuple[np.ndarray, str]:
    """The residual each standard is tested with, and its name.

    Ordinary fit, stated uncertainties: the normalized residual W_i e_i / sqrt(1 - h_ii),
    N(0, 1) when the stated uncertainties are right.  Ordinary fit, scaled covariance:
    the externally studentized residual.  Errors-in-variables fit: the y part of the
    normalized residual pair, divided by SRES when the covariance is the scaled one.
    """
    if cal.kind == "gls":
        return cal.weighted_residuals / _sigma_hat(cal), "normalized y residual"
    h = leverages(cal)
    if cal.covariance == "stated":
        with np.errstate(divide="ignore", invalid="ignore"):
            z = cal.weighted_residuals / np.sqrt(np.where(h < PINNED_LEVERAGE, 1.0 - h, np.nan))
        return z, "normalized residual"
    return _studentized(cal, h, external=True), "studentized residual"


def x_residual_statistic(cal) -> np.ndarray | None:
    """The x part of the errors-in-variables fit's normalized residual pair,
    delta_i/u_x,i (divided by SRES when the covariance is the scaled one), tested like
    the y part by :func:`outliers`; None for the ordinary fit."""
    if cal.kind != "gls":
        return None
    return cal.weighted_residuals_x / _sigma_hat(cal)


def default_threshold(n: int) -> float:
    """max(3, z_(1 - 0.025/n)): a residual beyond it is unlikely (5 %) among n standards
    that are all right, so large calibrations are not flagged by chance; 3 up to about
    20 standards."""
    return max(RESIDUAL_THRESHOLD, float(_stats().norm.isf(FAMILY_ALPHA / (2 * max(n, 1)))))


def outliers(cal, threshold: float | None = None,
             cook: float = COOK_THRESHOLD) -> list[Outlier]:
    """Standards whose residual or influence stands out, each with its reasons.

    Flags: |residual statistic| > ``threshold`` (see :func:`residual_statistic`; default
    :func:`default_threshold` of the number of standards);
    Cook's distance > ``cook`` (ordinary fit); leverage 1 (the curve is pinned to the
    standard, so its residual is 0 whatever its y: it cannot be checked).  For the
    errors-in-variables fit both normalized residuals, x (delta_i/u_x) and y, are tested
    against ``threshold``.
    """
    threshold = (default_threshold(cal.n_points) if threshold is None
                 else V.real("threshold", threshold))
    cook = V.real("cook", cook)
    z, name = residual_statistic(cal)
    found = []
    big = np.abs(z) > threshold
    if cal.kind == "gls":
        zx = x_residual_statistic(cal)
        big_x = np.abs(zx) > threshold
        for i in np.flatnonzero(big | big_x):
            reasons = []
            if big_x[i]:
                reasons.append(f"normalized x residual {zx[i]:+.3g} beyond ±{threshold:g}")
            if big[i]:
                reasons.append(f"{name} {z[i]:+.3g} beyond ±{threshold:g}")
            found.append(Outlier(int(i), float(cal.x[i]), float(cal.y[i]), float(z[i]),
                                 math.nan, tuple(reasons), float(zx[i])))
        return found
    h = leverages(cal)
    d = cooks_distance(cal)
    influential = d > cook
    pinned = (h >= PINNED_LEVERAGE) & (cal.dof > 0)
    for i in np.flatnonzero(big | influential | pinned):
        reasons = []
        if big[i]:
            reasons.append(f"{name} {z[i]:+.3g} beyond ±{threshold:g}")
        if influential[i]:
            reasons.append(f"Cook's distance {d[i]:.3g} above {cook:g}")
        if pinned[i]:
            reasons.append("leverage 1: the curve is pinned to this standard, its residual "
                           "cannot show an error")
        found.append(Outlier(int(i), float(cal.x[i]), float(cal.y[i]), float(z[i]),
                             float(d[i]), tuple(reasons)))
    return found


# --------------------------------------------------------------------------------------
# Back-calculated standards
# --------------------------------------------------------------------------------------
@dataclass(frozen=True, eq=False)
class BackCalculated:
    """The standards read back through the curve, as % of their nominal x.

    Attributes
    ----------
    x_nominal, x_back : ndarray (n,)
        The standards' x and the x the curve gives for their y (the root nearest the
        nominal; a response beyond the curve's value at an end of the interval is read
        by the tangent there).
    percent : ndarray (n,)
        100 x_back / x_nominal (NaN for blanks, x = 0).
    limit : ndarray (n,)
        Allowed deviation in % (``tolerance``; ``tolerance_lowest`` at the lowest non-zero
        level, where a method is least precise).
    passed : ndarray of bool (n,)
        |percent - 100| <= limit (blanks count as passed; they are not tested).
    blank : ndarray of bool (n,)
    n_tested, n_passed : int
        Non-blank standards, and those within their limits.
    overall : bool
        At least 75 % of the non-blank standards within their limits.
    """

    x_nominal: np.ndarray
    x_back: np.ndarray
    percent: np.ndarray
    limit: np.ndarray
    passed: np.ndarray
    blank: np.ndarray
    n_tested: int
    n_passed: int
    overall: bool

    def text(self) -> str:
        tested = ~self.blank
        if not tested.any():
            return "no non-blank standards to read back"
        dev = np.abs(self.percent[tested] - 100.0)
        worst = int(np.flatnonzero(tested)[np.nanargmax(np.where(np.isnan(dev), np.inf, dev))])
        tol, low = float(self.limit[tested].min()), float(self.limit[tested].max())
        return (f"{self.n_passed} of {self.n_tested} standards within ±{tol:g} % "
                f"(±{low:g} % at the lowest level); worst {self.percent[worst]:.1f} % "
                f"at x = {self.x_nominal[worst]:g}")


def _read_back(cal, y: np.ndarray, near: np.ndarray) -> np.ndarray:
    """x with p(x) = y nearest to ``near``, by the tangent at an end where there is none."""
    from .inverse import inverse
    pred = inverse(cal, y)
    d = np.abs(pred.roots - near[:, None])
    d = np.where(np.isnan(d), np.inf, d)
    idx = np.argmin(d, axis=1)
    x = np.take_along_axis(pred.roots, idx[:, None], axis=1)[:, 0]
    miss = np.flatnonzero(pred.n_roots == 0)
    if miss.size:
        ends = np.array([cal.xmin, cal.xmax])
        pe = cal.evaluate(ends)
        se = slope(cal.coef, ends, cal.xmin, cal.xmax)
        with np.errstate(divide="ignore", invalid="ignore"):
            cand = ends[None, :] + (y[miss, None] - pe[None, :]) / se[None, :]
        cand = np.where(np.isfinite(cand), cand, np.nan)
        dist = np.where(np.isnan(cand), np.inf, np.abs(cand - near[miss, None]))
        pick = np.take_along_axis(cand, np.argmin(dist, axis=1)[:, None], axis=1)[:, 0]
        x[miss] = pick
    return x


def back_calculated(cal, tolerance: float = BACK_TOLERANCE,
                    tolerance_lowest: float = BACK_TOLERANCE_LOWEST) -> BackCalculated:
    """Each standard's y read back into x, as % of its nominal x, with pass/fail.

    percent_i = 100 x_back_i / x_i; a standard passes when |percent_i - 100| <=
    ``tolerance`` (15), or ``tolerance_lowest`` (20) at the lowest non-zero |x|, as
    bioanalytical guidance asks; blanks (x = 0) are not tested.  ``overall`` asks for at
    least 75 % of the tested standards to pass.
    """
    if cal.ncoef < 2:
        raise InputError("a constant curve (degree 0) cannot be read back")
    tolerance, tolerance_lowest = V.real("tolerance", tolerance), V.real(
        "tolerance_lowest", tolerance_lowest)
    x0 = np.asarray(cal.x, dtype=np.float64)
    xb = _read_back(cal, np.asarray(cal.y, dtype=np.float64), x0)
    blank = x0 == 0.0
    with np.errstate(divide="ignore", invalid="ignore"):
        pct = np.where(blank, np.nan, 100.0 * xb / x0)
    limit = np.full(x0.shape, tolerance)
    if (~blank).any():
        lowest = np.abs(x0[~blank]).min()
        limit[(np.abs(x0) == lowest) & ~blank] = tolerance_lowest
    passed = blank | (np.abs(pct - 100.0) <= limit)
    n_tested = int((~blank).sum())
    n_passed = int((passed & ~blank).sum())
    overall = n_tested > 0 and n_passed >= BACK_FRACTION * n_tested
    return BackCalculated(x0, xb, pct, limit, passed, blank, n_tested, n_passed, bool(overall))


# --------------------------------------------------------------------------------------
# Detection and quantification limits
# --------------------------------------------------------------------------------------
@dataclass(frozen=True)
class DetectionLimits:
    """Detection and quantification limits of a calibration.

    ICH form: ``lod`` = 3.3 sigma/S and ``loq`` = 10 sigma/S, ``sigma`` the residual
    standard deviation in response units at the lowest standard, SRES / W there (SRES
    for unit weights, SRES u_y with stated uncertainties, SRES sqrt(x) for "1/x"), and
    ``slope`` S = |p'(x)| there.

    From the prediction band at the blank x0 (ISO 11843-2 form), with
    s0**2 = u(p(x0))**2 + sigma0**2/K (K = ``replicates`` of each sample measured;
    ``sigma_blank`` sigma0 the standard deviation of one response of the blank, from the
    covariance in use: the stated u_y, or SRES / W):
    critical value of the response ``y_critical`` = p(x0) + k s0, k the one-sided
    (1 - alpha) factor (t with dof, or normal with stated uncertainties);
    ``x_critical`` = p^-1(y_critical) - x0, the smallest net x told from the blank;
    ``x_detection`` = p^-1(p(x0) + delta s0) - x0, the net x detected with probability
    1 - beta, delta = k_(1-alpha) + k_(1-beta) (normal), or with the scaled covariance
    the non-centrality of Student's t: P(t'(dof, delta) <= t_(1-alpha, dof)) = beta.
    For a straight line these are ISO 11843-2's x_C = t s0/b and x_D = delta s0/b.
    (p^-1 the root nearest x0; NaN where the level lies beyond the curve's interval.)
    """

    sigma: float
    slope: float
    lod: float
    loq: float
    blank: float
    sigma_blank: float
    s_blank: float
    y_critical: float
    x_critical: float
    x_detection: float
    k_alpha: float
    delta: float
    alpha: float
    beta: float
    replicates: int

    def text(self) -> str:
        return (f"ICH: LOD {self.lod:.4g}  LOQ {self.loq:.4g} (sigma {self.sigma:.3g}, "
                f"slope {self.slope:.4g}); at the blank: y_C {self.y_critical:.4g}  "
                f"x_C {self.x_critical:.4g}  x_D {self.x_detection:.4g}")


def _delta_nct(dof: int, t_alpha: float, beta: float) -> float:
    # P(t'(dof, delta) <= t_alpha) falls from 1 - alpha at delta 0 towards 0: bisection.
    nct = _stats().nct
    lo, hi = 0.0, 2.0 * t_alpha + 10.0
    for _ in range(200):
        mid = 0.5 * (lo + hi)
        with np.errstate(all="ignore"):
            below = nct.cdf(t_alpha, dof, mid)
        if below > beta:
            lo = mid
        else:
            hi = mid
        if hi - lo <= 1e-12 * hi:
            break
    return 0.5 * (lo + hi)


def detection_limits(cal, alpha: float = 0.05, beta: float = 0.05, blank: float = 0.0,
                     replicates: int = 1, u_blank: float | None = None) -> DetectionLimits:
    """Detection and quantification limits, in two forms.

    ICH: LOD = 3.3 sigma/S, LOQ = 10 sigma/S; sigma = SRES/W, the residual standard
    deviation in response units, and S = |p'(x)|, both at the lowest standard.

    From the prediction band at the blank x0 (the approach of ISO 11843-2):
    s0 = sqrt(u(p(x0))**2 + sigma0**2/K), y_C = p(x0) + k_(1-alpha) s0,
    x_C = p^-1(y_C) - x0, x_D = p^-1(p(x0) + delta s0) - x0, delta = k_(1-alpha) +
    k_(1-beta) with stated uncertainties (normal factors), or with the scaled covariance
    the non-centrality with P(t'(dof, delta) <= t_(1-alpha, dof)) = beta.  Details in
    :class:`DetectionLimits`.

    Parameters
    ----------
    alpha, beta : float
        Probabilities of a false positive and of a false negative.
    blank : float
        x of the blank (0); it must lie in the curve's interval.
    replicates : int
        K, the number of measurements averaged for one sample.
    u_blank : float, optional
        Standard deviation of one response of the blank; by default that of the
        standards at the blank, or :func:`response_sd` at x0.
    """
    if cal.ncoef < 2:
        raise InputError("a constant curve (degree 0) has no detection limit")
    alpha, beta, x0 = V.real("alpha", alpha), V.real("beta", beta), V.real("blank", blank)
    for name, v in (("alpha", alpha), ("beta", beta)):
        if not 0.0 < v < 0.5:
            raise InputError(f"{name} must lie strictly between 0 and 0.5, not {v:g}")
    replicates = V.integer("replicates", replicates, 1)
    if not cal.xmin <= x0 <= cal.xmax:
        raise InputError(f"the blank x = {x0:g} lies outside the curve's interval "
                         f"[{cal.xmin:g}, {cal.xmax:g}]")
    # ICH: sigma and slope at the lowest standard.
    low = cal.x == cal.x.min()
    xl = float(cal.x.min())
    sd_std = _sigma_hat(cal) / cal.weights
    sigma = float(cal.sres) * float(np.sqrt(np.mean(1.0 / cal.weights[low] ** 2)))
    s_low = abs(float(slope(cal.coef, np.array([xl]), cal.xmin, cal.xmax)[0]))
    with np.errstate(divide="ignore"):
        lod, loq = 3.3 * sigma / s_low, 10.0 * sigma / s_low
    # The blank.
    if u_blank is not None:
        sigma0 = V.real("u_blank", u_blank)
    elif np.any(cal.x == x0):
        sigma0 = float(np.sqrt(np.mean(sd_std[cal.x == x0] ** 2)))
    else:
        sigma0 = float(response_sd(cal, np.array([x0]))[0])
    y0, u0 = cal.evaluate(np.array([x0]), uncertainty=True)
    y0, u0 = float(y0[0]), float(u0[0])
    s0 = math.sqrt(u0 ** 2 + sigma0 ** 2 / replicates)
    k_a, dist = coverage_factor(cal, 1.0 - alpha, sided=1)
    if dist == "normal":
        delta = k_a + coverage_factor(cal, 1.0 - beta, sided=1)[0]
    else:
        delta = _delta_nct(cal.dof, k_a, beta)
    sgn = 1.0 if slope(cal.coef, np.array([x0]), cal.xmin, cal.xmax)[0] >= 0 else -1.0
    yc = y0 + sgn * k_a * s0
    yd = y0 + sgn * delta * s0
    xs = _roots_near(cal, np.array([yc, yd]), x0)
    return DetectionLimits(sigma, s_low, float(lod), float(loq), x0, sigma0, s0, yc,
                           float(xs[0] - x0), float(xs[1] - x0), k_a, float(delta), alpha,
                           beta, replicates)


def _roots_near(cal, y: np.ndarray, x0: float) -> np.ndarray:
    from .inverse import inverse
    pred = inverse(cal, y)
    d = np.where(np.isnan(pred.roots), np.inf, np.abs(pred.roots - x0))
    x = np.take_along_axis(pred.roots, np.argmin(d, axis=1)[:, None], axis=1)[:, 0]
    return np.where(pred.n_roots > 0, x, np.nan)


# --------------------------------------------------------------------------------------
# All verdicts as plain data
# --------------------------------------------------------------------------------------
@dataclass(frozen=True)
class Diagnostics:
    """Every verdict on a calibration, as plain data (``to_dict()``: Python types only).

    Attributes
    ----------
    chi2, dof, p_value : float, int, float
        The chi2 test of the stated uncertainties (p NaN where not tested).
    goodness, goodness_text : str
        "pass", "doubtful", "fail" or "not tested", and the verdict in words.
    lack_of_fit : dict or None
        ss_lack, dof_lack, ss_pure, dof_pure, f, p_value, groups, verdict, text;
        None without replicates (or for the errors-in-variables fit).
    outliers : list of dict
        index, x, y, statistic, statistic_x, cooks_distance, reasons (list of str).
    statistic, threshold : str, float
        Name of the residual statistic outliers were tested with, and the threshold.
    back_calculated : dict or None
        x_nominal, x_back, percent, limit, passed (lists), n_tested, n_passed, overall,
        text; None for a constant curve.
    detection_limits : dict or None
        The fields of :class:`DetectionLimits` and text, when asked for.
    fit_for_use : bool
        Degree 1 or more with degrees of freedom left, goodness not "fail", lack of fit not
        "fail", no outliers, back-calculation passed.
    notes : list of str
        Why not fit for use, and other remarks, in words.
    """

    chi2: float
    dof: int
    p_value: float
    goodness: str
    goodness_text: str
    lack_of_fit: dict | None
    outliers: list
    statistic: str
    threshold: float
    back_calculated: dict | None
    detection_limits: dict | None
    fit_for_use: bool
    notes: list = field(default_factory=list)

    def to_dict(self) -> dict:
        return asdict(self)


def _plain(v):
    if isinstance(v, np.ndarray):
        return v.tolist()
    if isinstance(v, (np.floating, np.integer, np.bool_)):
        return v.item()
    if isinstance(v, tuple):
        return list(v)
    return v


def diagnostics(cal, limits: bool = False, **limit_options) -> Diagnostics:
    """All verdicts on ``cal`` as plain data (see :class:`Diagnostics`); with ``limits``
    the detection limits too (``limit_options`` go to :func:`detection_limits`)."""
    notes = []
    goodness, gtext = goodness_verdict(cal)
    p = p_value(cal)
    lof = lack_of_fit(cal)
    lof_d = None
    if lof is not None:
        lof_d = {k: _plain(v) for k, v in asdict(lof).items()}
        lof_d.update(verdict=lof.verdict, text=lof.text())
    threshold = default_threshold(cal.n_points)
    found = outliers(cal, threshold)
    _, statistic = residual_statistic(cal)
    out = [{"index": o.index, "x": o.x, "y": o.y, "statistic": o.statistic,
            "statistic_x": o.statistic_x, "cooks_distance": o.cooks_distance,
            "reasons": list(o.reasons)} for o in found]
    back = None
    if cal.ncoef >= 2:
        b = back_calculated(cal)
        back = {k: _plain(getattr(b, k)) for k in ("x_nominal", "x_back", "percent", "limit",
                                                   "passed", "n_tested", "n_passed", "overall")}
        back["text"] = b.text()
    dl = None
    if limits:
        try:
            d = detection_limits(cal, **limit_options)
        except InputError as e:
            notes.append(f"detection limits not available: {e}")
        else:
            dl = {k: _plain(v) for k, v in asdict(d).items()}
            dl["text"] = d.text()
    if goodness == "fail":
        notes.append("the chi2 test rejects the fit")
    if cal.dof == 0:
        notes.append("no degrees of freedom: nothing shows the curve adequate")
    if cal.ncoef < 2:
        notes.append("a constant curve cannot be read back into x")
    if lof is not None and lof.verdict == "fail":
        notes.append("the lack-of-fit test rejects the curve's shape (try another degree)")
    if found:
        shown = ", ".join(str(o.index) for o in found[:10])
        notes.append(f"{len(found)} standard(s) flagged: {shown}"
                     + (", ..." if len(found) > 10 else ""))
    if back is not None and not back["overall"]:
        notes.append("fewer than 75 % of the standards read back within their limits")
    notes.extend(cal.notes)
    fit_for_use = (cal.dof > 0 and cal.ncoef >= 2 and goodness != "fail"
                   and (lof is None or lof.verdict != "fail") and not found
                   and (back is None or back["overall"]))
    return Diagnostics(float(cal.chi2), int(cal.dof), p, goodness, gtext, lof_d, out, statistic,
                       threshold, back, dl, bool(fit_for_use), notes)


def verdict_rows(cal, d: Diagnostics, limits: bool = False) -> tuple[list, str]:
    """The verdicts of ``d`` (the diagnostics of ``cal``) as rows (test, verdict, details)
    and the overall verdict in words: what ``summary()`` prints and reports show."""
    rows = [("goodness of fit", d.goodness, d.goodness_text)]
    if d.lack_of_fit is not None:
        rows.append(("lack of fit", d.lack_of_fit["verdict"], d.lack_of_fit["text"]))
    elif cal.kind == "ols":
        rows.append(("lack of fit", "not tested", "no replicate x values"))
    if d.outliers:
        for o in d.outliers[:SHOWN_OUTLIERS]:
            rows.append(("outlier", "flag", f"standard {o['index']} (x = {o['x']:g}): "
                         + "; ".join(o["reasons"])))
        if len(d.outliers) > SHOWN_OUTLIERS:
            rows.append(("", "", f"... and {len(d.outliers) - SHOWN_OUTLIERS} more"))
    else:
        crit = (f"|{d.statistic}| <= {d.threshold:.3g}" + (
            f", Cook's distance <= {COOK_THRESHOLD:g}" if cal.kind == "ols" else ""))
        rows.append(("outliers", "none", crit))
    if d.back_calculated is not None:
        rows.append(("back-calculated", "pass" if d.back_calculated["overall"] else "fail",
                     d.back_calculated["text"]))
    if d.detection_limits is not None:
        rows.append(("limits", "", d.detection_limits["text"]))
    elif limits:
        why = [n for n in d.notes if n.startswith("detection limits not available")]
        rows.append(("limits", "", why[0] if why else "not available"))
    why = [n for n in d.notes if n not in cal.notes and not n.startswith("detection")]
    verdict = ("fit for use" if d.fit_for_use else "NOT fit for use (" + "; ".join(why) + ")")
    return rows, verdict


def verdict_text(cal, limits: bool = False) -> str:
    """The verdicts as lines for ``summary()``."""
    try:
        d = diagnostics(cal, limits=limits)
    except QuorvexError as e:  # e.g. scipy missing: the summary still prints
        return f"  verdicts not available: {e}"
    rows, verdict = verdict_rows(cal, d, limits)
    lines = ["", "  Is it fit for use?"]
    lines += [f"  {a:<16} {b:<11} {c}" for a, b, c in rows]
    lines.append("  verdict: " + verdict)
    return "\n".join(lines)
