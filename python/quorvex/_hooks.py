"""Where the plot, the report and the command line meet the calibration's diagnostics.

Each function here uses the calibration's own method when it has one (bands,
outlier flags, goodness-of-fit test, degree selection, weighting presets, Monte
Carlo inverse prediction, ``diagnostics()``) and otherwise computes a plain
equivalent from ``evaluate``/``inverse``, or says that the feature is not
available.  Keeping every such choice in this one module keeps the rest of the
reporting code independent of which of them a calibration offers.
"""
from __future__ import annotations

import inspect
import math
from statistics import NormalDist

import numpy as np

from .errors import InputError

# Standards whose normalized residual exceeds this are flagged when the calibration
# has no outlier test of its own (beyond +-2 is drawn as a guide; +-3 is a flag).
FLAG_LIMIT = 3.0
# Back-calculated concentrations: within 15 % of nominal, 20 % at the lowest level.
BACK_LIMIT, BACK_LIMIT_LOWEST = 15.0, 20.0


def coverage_factor(cal, level: float) -> tuple[float, str]:
    """k for a two-sided interval of probability ``level``, and its source: Student's t
    with ``dof`` degrees when the uncertainties come from the scatter (and scipy is
    there), the normal distribution otherwise."""
    if not 0 < level < 1:
        raise InputError(f"the band's level must lie between 0 and 1, not {level!r}")
    p = 0.5 * (1.0 + level)
    if cal.covariance == "scaled" and cal.dof > 0:
        try:
            from scipy.stats import t
            return float(t.ppf(p, cal.dof)), f"Student's t, {cal.dof} degrees of freedom"
        except ImportError:
            pass
    return NormalDist().inv_cdf(p), "normal distribution"


def band(cal, x: np.ndarray, level: float) -> tuple[np.ndarray, np.ndarray, np.ndarray, str]:
    """Curve values and the lower and upper confidence band at x, with a description."""
    own = getattr(cal, "band", None)
    y = np.asarray(cal.evaluate(x))
    if callable(own):
        b = own(x, level=level, kind="confidence")
        lower, upper = (b.lower, b.upper) if hasattr(b, "lower") else (b[0], b[1])
        return y, np.asarray(lower), np.asarray(upper), f"{level:.0%} confidence band"
    y, u = cal.evaluate(x, uncertainty=True)
    k, source = coverage_factor(cal, level)
    return y, y - k * u, y + k * u, f"{level:.0%} confidence band (k = {k:.3g}, {source})"


def normalized_residuals(cal) -> tuple[np.ndarray, np.ndarray | None, str]:
    """The y residuals (and for the errors-in-variables fit the x residuals) in units of
    their standard uncertainty, and the axis label.  Without stated uncertainties the
    residuals are divided by SRES."""
    scale = 1.0
    label = "weighted residual"
    if cal.covariance == "scaled" and cal.sres > 0:
        scale = cal.sres
        label = "residual / s"
    ry = np.asarray(cal.weighted_residuals) / scale
    rx = None
    if cal.weighted_residuals_x is not None:
        rx = np.asarray(cal.weighted_residuals_x) / scale
    return ry, rx, label


def flags(cal) -> list[str]:
    """One text per standard: why it is flagged, or ""."""
    own = getattr(cal, "outliers", None)
    if callable(own):
        result = own()
        reasons = _outlier_reasons(result, cal.n_points)
        if reasons is not None:
            return reasons
    ry, rx, _ = normalized_residuals(cal)
    out = []
    for i in range(cal.n_points):
        why = []
        if abs(ry[i]) > FLAG_LIMIT:
            why.append(f"y residual {ry[i]:+.1f} u")
        if rx is not None and abs(rx[i]) > FLAG_LIMIT:
            why.append(f"x residual {rx[i]:+.1f} u")
        out.append("; ".join(why))
    return out


def _outlier_reasons(result, n: int) -> list[str] | None:
    # An outlier test may answer with per-standard reasons, boolean flags, or indices.
    reasons = getattr(result, "reasons", None)
    if reasons is not None and len(reasons) == n:
        return [str(r) if r else "" for r in reasons]
    mask = getattr(result, "flagged", result)
    try:
        arr = np.asarray(mask)
    except Exception:
        return None
    if arr.dtype == bool and arr.shape == (n,):
        return ["outlier" if f else "" for f in arr]
    if arr.dtype.kind in "iu" and arr.ndim == 1:
        out = [""] * n
        for i in arr:
            if 0 <= i < n:
                out[int(i)] = "outlier"
        return out
    return None


def back_calculated(cal) -> tuple[np.ndarray, np.ndarray, list[str]]:
    """x read back from each standard's own response (the root nearest its nominal x),
    that as % of nominal (NaN at x = 0), and "" or "fail" against +-15 % (+-20 % at the
    lowest non-zero level)."""
    n = cal.n_points
    if cal.ncoef < 2:
        return np.full(n, np.nan), np.full(n, np.nan), [""] * n
    pred = cal.inverse(cal.y)
    roots = np.asarray(pred.roots)
    x = np.asarray(cal.x)
    dist = np.where(np.isnan(roots), np.inf, np.abs(roots - x[:, None]))
    pick = np.argmin(dist, axis=1)
    xb = roots[np.arange(n), pick]
    xb[~np.isfinite(dist[np.arange(n), pick])] = np.nan
    with np.errstate(divide="ignore", invalid="ignore"):
        pct = np.where(x != 0, 100.0 * xb / x, np.nan)
    nonzero = x[x != 0]
    lowest = nonzero.min() if nonzero.size else np.nan
    verdict = []
    for i in range(n):
        if np.isnan(pct[i]):
            verdict.append("no root" if x[i] != 0 else "")
            continue
        limit = BACK_LIMIT_LOWEST if x[i] == lowest else BACK_LIMIT
        verdict.append("" if abs(pct[i] - 100.0) <= limit else f"outside ±{limit:g} %")
    return xb, pct, verdict


def goodness(cal) -> list[str]:
    """Goodness-of-fit verdicts in words."""
    lines = []
    p = getattr(cal, "p_value", None)
    if callable(p):
        p = p()
    p = None if p is None else float(p)
    if cal.dof == 0:
        return ["no degrees of freedom: the curve passes through every standard; nothing "
                "tests its adequacy"]
    if cal.covariance == "scaled":
        lines.append(f"uncertainties estimated from the scatter of the standards "
                     f"(s = {cal.sres:.4g}, {cal.dof} degrees of freedom); no χ² test")
    else:
        if p is None:
            try:
                from scipy.stats import chi2
                p = float(chi2.sf(cal.chi2, cal.dof))
            except ImportError:
                p = None
        if p is None:
            lines.append(f"χ² = {cal.chi2:.4g} for {cal.dof} degrees of freedom "
                         f"(χ²/dof = {cal.chi2 / cal.dof:.3g})")
        elif p < 0.05:
            lines.append(f"χ² = {cal.chi2:.4g} for {cal.dof} degrees of freedom, p = {p:.3g}: "
                         "the scatter is larger than the stated uncertainties explain "
                         "(a wrong degree, an outlier, or understated uncertainties)")
        elif p > 0.99:
            lines.append(f"χ² = {cal.chi2:.4g} for {cal.dof} degrees of freedom, p = {p:.3g}: "
                         "the scatter is smaller than the stated uncertainties suggest "
                         "(overstated uncertainties?)")
        else:
            lines.append(f"χ² = {cal.chi2:.4g} for {cal.dof} degrees of freedom, p = {p:.3g}: "
                         "consistent with the stated uncertainties")
    if cal.kind == "gls":
        lines.append(f"errors-in-variables fit: status {cal.status} after {cal.iterations} "
                     f"iterations" + (" (converged)" if cal.status == 0 else ""))
    lines.extend(f"note: {note}" for note in cal.notes)
    return lines


def diagnostics(cal) -> dict | None:
    """The calibration's own diagnostics as plain data, when it has them."""
    own = getattr(cal, "diagnostics", None)
    if not callable(own):
        return None
    d = own()
    return d if isinstance(d, dict) else {"diagnostics": d}


# Command-line options that need features a calibration may not have.

def fit_options(weighting: str | None) -> dict:
    """Keyword arguments for ``quorvex.fit`` that carry a weighting preset."""
    if weighting is None:
        return {}
    import quorvex
    if "weighting" not in inspect.signature(quorvex.fit).parameters:
        raise InputError(f"--weighting {weighting} is not available in this version of "
                         "quorvex (no weighting presets in fit)")
    return {"weighting": weighting}


def select_degree(x, y, u_y, u_x, degrees) -> tuple[int, str]:
    """The recommended degree and the table that shows why."""
    import quorvex
    chooser = getattr(quorvex, "select_degree", None)
    if chooser is None:
        raise InputError("--degree auto is not available in this version of quorvex "
                         "(no select_degree); give the degree as a number")
    result = chooser(x, y, u_y=u_y, u_x=u_x, degrees=degrees)
    if isinstance(result, int):
        return result, ""
    for name in ("recommended", "degree", "best"):
        d = getattr(result, name, None)
        if isinstance(d, (int, np.integer)):
            return int(d), str(result)
    raise InputError("select_degree gave no recommended degree")


def monte_carlo_available(cal) -> bool:
    try:
        return "method" in inspect.signature(cal.inverse).parameters
    except (TypeError, ValueError):
        return False


def inverse_monte_carlo(cal, y, u_y, n: int, seed: int | None):
    """Monte Carlo inverse prediction of a batch of responses."""
    if not monte_carlo_available(cal):
        raise InputError("--monte-carlo is not available in this version of quorvex "
                         "(no Monte Carlo inverse prediction)")
    return cal.inverse(y, u_y, method="monte-carlo", n=n, seed=seed)


def finite_or_none(v):
    """A float for JSON, None where it is not finite."""
    v = float(v)
    return v if math.isfinite(v) else None
