"""Is a calibration fit for use: goodness of fit, lack of fit, bands, residual
diagnostics, back-calculated standards and detection limits.

Every number and decision comes from the laboratory library (``QVXL_DIAGNOSE``,
``QVXL_VERDICT``, ``QVXL_BAND``, ``QVXL_LIMITS``, ...), from the fit's own results;
this module checks the arguments, calls it and presents the results.  Notation: W_i the weights the
library used (1/u_y, ones, or a weighting preset), e_i = y_i - p(x_i) the residuals,
g_i the basis row at x_i, C = ``cal.cov`` = (A'A)^-1 the unscaled coefficient
covariance of the weighted design A = diag(W) G, chi2 = sum_i (W_i e_i)**2,
dof = n - ncoef, s = SRES = sqrt(chi2/dof).
"""
from __future__ import annotations

import math
from dataclasses import asdict, dataclass, field
from pathlib import Path

import numpy as np

from . import _lab_verdicts as _LV
from . import _validate as V
from .errors import InputError, QuorvexError
from . import _lab_curve as LC
from .weighting import CODES as _WEIGHTING_CODES

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


CRITERIA = ("goodness", "lack_of_fit", "outliers", "back_calculated")
_EXTRA_WORDS = {_LV.RESULT_NOT_TESTED: "not tested", _LV.RESULT_PASS: "pass",
                _LV.RESULT_FAIL: "fail", _LV.RESULT_WARN: "warning"}


@dataclass(frozen=True)
class AcceptanceCriteria:
    """A laboratory's acceptance criteria for a calibration run.

    Attributes
    ----------
    alpha : float
        The overall false-rejection rate of the statistical tests (0.05): the probability
        that a correctly modelled calibration is called not fit for use by the chi2 test,
        the test of the curve's shape or the outlier test.  It is shared equally among the
        tests that apply to the calibration (Bonferroni), so the run's rate stays at or
        below it.  The curve's shape is tested by the lack-of-fit F test where standards
        are replicated, else by Mandel's F test of the next-higher term (ISO 8466-1 /
        8466-2; the chi-squared test of that term where stated u(y) set the scale).
    alpha_goodness, alpha_lack_of_fit, alpha_outliers : float, optional
        The level of one test, instead of its share of ``alpha`` (``alpha_lack_of_fit``:
        the test of the curve's shape, whichever ran).  The outlier level is the family
        level over all standards (the threshold is corrected for their number).
    tolerance, tolerance_lowest : float
        Back-calculated standards: allowed deviation in % (15; 20 at the lowest level).
    back_fraction : float
        Share of the non-blank standards that must read back within their limits (0.75).
    cook : float
        Cook's distance above which a standard is marked influential (1); influence alone
        never fails a run.
    warn_only : tuple of str
        Criteria ("goodness", "lack_of_fit", "outliers", "back_calculated", "levels",
        "rse") whose failure only warns instead of rejecting the run.
    min_levels : int
        The least number of distinct non-zero levels among the standards that read back
        within their limits (0: no such rule; ICH M10 asks for 6).
    rse_limit : float, optional
        The largest relative standard error of the standards read back, in %:
        RSE = 100 sqrt(sum ((x'_i - x_i) / x_i)**2 / (n - p)) (US EPA SW-846 Method 8000D;
        None: no such rule).
    preset : str
        Where the criteria come from: a preset's name (``PRESETS``: "quorvex", the
        default, "ich-m10", "epa-8000d", "epa-8000d-each", "assay"), or the name of the
        laboratory's own criteria (``load_criteria``); shown in the report.

    ``AcceptanceCriteria.from_preset("ich-m10")`` gives a preset, with changes as
    keywords; ``save_criteria`` and ``load_criteria`` keep a laboratory's own criteria in
    a file.
    """

    alpha: float = 0.05
    alpha_goodness: float | None = None
    alpha_lack_of_fit: float | None = None
    alpha_outliers: float | None = None
    tolerance: float = 15.0
    tolerance_lowest: float = 20.0
    back_fraction: float = 0.75
    cook: float = 1.0
    warn_only: tuple = ()
    min_levels: int = 0
    rse_limit: float | None = None
    preset: str = "quorvex"

    def __post_init__(self):
        for name in ("alpha", "alpha_goodness", "alpha_lack_of_fit", "alpha_outliers"):
            v = getattr(self, name)
            if v is None and name != "alpha":
                continue
            v = V.real(name, v)
            if not 0.0 < v < 1.0:
                raise InputError(f"{name} must lie strictly between 0 and 1, not {v:g}")
            object.__setattr__(self, name, v)
        for name in ("tolerance", "tolerance_lowest", "cook"):
            v = V.real(name, getattr(self, name))
            if not v > 0:
                raise InputError(f"{name} must be positive, not {v:g}")
            object.__setattr__(self, name, v)
        f = V.real("back_fraction", self.back_fraction)
        if not 0.0 <= f <= 1.0:
            raise InputError(f"back_fraction must lie in [0, 1], not {f:g}")
        object.__setattr__(self, "back_fraction", f)
        w = (self.warn_only,) if isinstance(self.warn_only, str) else tuple(self.warn_only)
        for name in w:
            if name not in CRITERIA + _LV.EXTRA_RULES:
                raise InputError("warn_only names criteria among "
                                 f"{', '.join(CRITERIA + _LV.EXTRA_RULES)}, not {name!r}")
        object.__setattr__(self, "warn_only", w)
        m = self.min_levels
        if isinstance(m, bool) or not isinstance(m, (int, np.integer, float)) or \
                not (m >= 0 and float(m) == int(m)):
            raise InputError(f"min_levels is a whole number 0 or more, not {m!r}")
        object.__setattr__(self, "min_levels", int(m))
        if self.rse_limit is not None:
            r = V.real("rse_limit", self.rse_limit)
            if not r > 0:
                raise InputError(f"rse_limit must be positive, not {r:g}")
            object.__setattr__(self, "rse_limit", r)
        if not isinstance(self.preset, str) or not self.preset.strip():
            raise InputError("preset names where the criteria come from (a non-empty text)")

    @classmethod
    def from_preset(cls, name: str, **changes) -> "AcceptanceCriteria":
        """The criteria of a named preset (``PRESETS``), with ``changes`` to its fields;
        a changed preset is named "<name> (changed: <fields>)"."""
        key = str(name).strip().lower()
        if key not in _LV.PRESETS:
            raise InputError(f"unknown criteria preset {name!r}: give one of "
                             f"{', '.join(_LV.PRESETS)}, or a file of criteria")
        crit, warn, extra = _LV.criteria_preset(key)
        opt = lambda v: None if math.isnan(v) else float(v)  # noqa: E731
        d = {"alpha": float(crit[0]), "alpha_goodness": opt(crit[1]),
             "alpha_lack_of_fit": opt(crit[2]), "alpha_outliers": opt(crit[3]),
             "tolerance": float(crit[4]), "tolerance_lowest": float(crit[5]),
             "back_fraction": float(crit[6]), "cook": float(crit[7]),
             "warn_only": tuple(c for k, c in enumerate(CRITERIA) if warn & (1 << k)),
             "min_levels": int(extra[0]), "rse_limit": opt(extra[1]), "preset": key}
        changed = [k for k, v in changes.items() if d.get(k) != v and k != "preset"]
        d.update(changes)
        if changed and "preset" not in changes:
            d["preset"] = f"{key} (changed: {', '.join(changed)})"
        return cls(**d)

    def citation(self) -> str:
        """Where the criteria come from, in words."""
        base = self.preset.split(" (")[0]
        return PRESET_CITATIONS.get(base, f"the laboratory's own criteria {self.preset!r}")

    def levels(self, cal) -> dict:
        """The level of each statistical test that applies to ``cal`` ({name: alpha}): its
        own level where one was given, else an equal share of ``alpha``."""
        lv = _diagnose(cal, self.crit_array())["levels"]
        return {t: float(a) for t, a in zip(CRITERIA[:3], lv) if not math.isnan(a)}

    def crit_array(self, **override) -> np.ndarray:
        """The criteria as the laboratory library takes them (CRIT of QVXL_DIAGNOSE)."""
        d = {k: getattr(self, k) for k in ("alpha", "alpha_goodness", "alpha_lack_of_fit",
                                           "alpha_outliers", "tolerance", "tolerance_lowest",
                                           "back_fraction", "cook")}
        d.update(override)
        return _LV.criteria_array(**d)

    def to_dict(self) -> dict:
        d = asdict(self)
        d["warn_only"] = list(self.warn_only)
        return d


PRESETS = tuple(_LV.PRESETS)
PRESET_CITATIONS = {
    "quorvex": "quorvex's default: the statistical tests reject at an overall alpha, the "
               "standards read back as a coarse check of the curve's shape",
    "ich-m10": "ICH M10 (2022) 3.2.5, calibration curve of a chromatographic method: "
               "back-calculated standards within ±15 % (±20 % at the LLOQ), at least 75 % "
               "of them over at least six levels",
    "epa-8000d": "US EPA SW-846 Method 8000D, 11.5: relative standard error of the "
                 "calibration at most 20 %",
    "epa-8000d-each": "US EPA SW-846 Method 8000D, the alternative to the relative standard "
                      "error: each standard read back within ±30 % (±50 % at the lowest "
                      "level)",
    "assay": "assay (ICH Q2(R2) range 80-120 %): each standard read back within ±2 %, the "
             "laboratory convention for an assay",
}
CRITERIA_FILE_KIND = "quorvex acceptance criteria"


def save_criteria(criteria, path, name: str | None = None) -> Path:
    """Write ``criteria`` (an :class:`AcceptanceCriteria` or dict) to a JSON file the
    laboratory can reuse (``load_criteria``, ``quorvex fit --criteria FILE``), under
    ``name`` (default: the file's name without its suffix).  The file is written whole
    or not at all."""
    import json
    import os
    import tempfile
    path = Path(path)
    crit = criteria_from(criteria)
    d = crit.to_dict()
    based_on = d.pop("preset")
    body = {"kind": CRITERIA_FILE_KIND, "version": 1, "name": name or path.stem,
            "based_on": based_on, "based_on_citation": crit.citation(), "criteria": d}
    text = json.dumps(body, indent=2, allow_nan=False) + "\n"
    fd, tmp = tempfile.mkstemp(dir=path.resolve().parent, prefix=f".{path.name}.")
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise
    return path


def load_criteria(path) -> AcceptanceCriteria:
    """The laboratory's criteria from a file ``save_criteria`` wrote; every field checked
    as :class:`AcceptanceCriteria` checks it, unknown fields refused."""
    import json
    path = Path(path)
    try:
        raw = path.read_bytes()[: 1 << 20 + 1]
    except OSError as e:
        raise InputError(f"{path}: {e.strerror or e}") from None
    if len(raw) > 1 << 20:
        raise InputError(f"{path.name}: larger than 1 MiB, not a file of criteria")
    try:
        body = json.loads(raw.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        raise InputError(f"{path.name}: not a file of criteria (JSON expected)") from None
    if not isinstance(body, dict) or body.get("kind") != CRITERIA_FILE_KIND or \
            not isinstance(body.get("criteria"), dict):
        raise InputError(f"{path.name}: not a file of criteria (written by "
                         "'quorvex fit --save-criteria' or save_criteria)")
    fields = {f for f in AcceptanceCriteria.__dataclass_fields__} - {"preset"}
    unknown = sorted(set(body["criteria"]) - fields)
    if unknown:
        raise InputError(f"{path.name}: unknown criteria {', '.join(map(repr, unknown))}")
    d = dict(body["criteria"])
    d["warn_only"] = tuple(d.get("warn_only") or ())
    name = body.get("name")
    d["preset"] = str(name) if isinstance(name, str) and name.strip() else path.stem
    return AcceptanceCriteria(**d)


def criteria_from(criteria=None, **options) -> AcceptanceCriteria:
    """An :class:`AcceptanceCriteria` from one, a dict, or keyword options."""
    if criteria is None:
        return AcceptanceCriteria(**options)
    if isinstance(criteria, AcceptanceCriteria):
        return criteria if not options else AcceptanceCriteria(**{**asdict(criteria), **options})
    if isinstance(criteria, str):
        return AcceptanceCriteria.from_preset(criteria, **options)
    if isinstance(criteria, dict):
        d = {**criteria, **options}
        d["warn_only"] = tuple(d.get("warn_only") or ())
        return AcceptanceCriteria(**d)
    raise InputError("criteria must be an AcceptanceCriteria or a dict of its fields")


def standard_name(cal, i: int) -> str:
    """How the standard at position i is named to people: its ID (an ID column, or the
    row of the file it came from) when the calibration has them, else its 1-based place."""
    ids = getattr(cal, "ids", None)
    return str(ids[i]) if ids else str(int(i) + 1)


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
    return float(_diagnose(cal)["p_chi2"])


def _diagnose(cal, crit: np.ndarray | None = None) -> dict:
    """Every diagnostic of ``cal`` from the laboratory library (default criteria)."""
    return _LV.diagnose(cal, _LV.criteria_array() if crit is None else crit)


def goodness_verdict(cal, alpha: float | None = None) -> tuple[str, str]:
    """("pass" | "doubtful" | "fail" | "not tested", the verdict in words).

    pass: p >= 0.05; doubtful: alpha <= p < 0.05; fail: p < alpha (default: the test's
    share of the default :class:`AcceptanceCriteria`).
    A chi2 so small that P(chi2_dof <= chi2) < 0.01 passes with a note: the scatter is
    smaller than the stated uncertainties suggest.
    """
    if cal.dof == 0:
        return "not tested", ("no degrees of freedom: the curve passes through every "
                              "standard, so its adequacy cannot be tested")
    if not stated(cal):
        return "not tested", (f"no stated uncertainties: the chi2 test does not apply; the "
                              f"scatter sets the uncertainties (SRES {cal.sres:.4g})")
    p = p_value(cal)
    if alpha is None:
        alpha = AcceptanceCriteria().levels(cal).get("goodness", ALPHA_REJECT)
    head = f"chi2 {cal.chi2:.4g} on {cal.dof} dof, p = {p:.3g}"
    result, detail = _LV.test_verdict(p, alpha)
    if result == _LV.RESULT_FAIL:
        return "fail", (f"{head}: the scatter is larger than the stated uncertainties allow "
                        "(wrong degree, outliers, or understated uncertainties)")
    if result == _LV.RESULT_DOUBTFUL:
        return "doubtful", f"{head}: the scatter is somewhat larger than stated"
    if detail == _LV.DETAIL_SMALL_SCATTER:
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
        return self.verdict_at(ALPHA_REJECT)

    def verdict_at(self, alpha: float) -> str:
        """"fail" at p < alpha, "doubtful" below 0.05, else "pass"."""
        return _LV.RESULT_WORDS[_LV.test_verdict(self.p_value, alpha)[0]]

    def text(self) -> str:
        return (f"F {self.f:.4g} on ({self.dof_lack}, {self.dof_pure}) dof, "
                f"p = {self.p_value:.3g} ({self.groups} levels with replicates)")


def lack_of_fit(cal) -> LackOfFit | None:
    """The lack-of-fit F test (see :class:`LackOfFit`), or None where it does not apply:
    the errors-in-variables fit (its x values are themselves adjusted), no replicate x
    values, or no more distinct x values than coefficients."""
    return _lack_of_fit(_diagnose(cal))


def _lack_of_fit(d: dict) -> LackOfFit | None:
    ss_lack, ss_pure, f, p, dof_lack, dof_pure, g = (float(v) for v in d["lof"])
    if math.isnan(dof_lack):
        return None
    return LackOfFit(ss_lack, int(dof_lack), ss_pure, int(dof_pure), f, p, int(g))


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
    which = cal.covariance if covariance is None else covariance
    scaled = which == "scaled"
    k, st = LC.coverage(1 if scaled else 0, int(cal.dof), float(level), sided)
    if st == LC.NO_DOF:
        raise InputError("the scaled covariance needs degrees of freedom: this fit has none")
    if st != 0:
        raise InputError(f"coverage factor: {_lab_status(st)}")
    return k, (f"t({cal.dof})" if scaled else "normal")


def _lab_status(st: int) -> str:
    from . import _lab
    return _lab.status_text(st)


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
    sd, st = LC.response_sd(np.asarray(x, dtype=np.float64).reshape(-1),
                            _WEIGHTING_CODES.get(cal.options.get("weighting"), 0), cal.u_y,
                            1 if cal.covariance == "scaled" else 0, float(cal.sres))
    if st == LC.UY_DIFFER and cal.options.get("variance") is not None:
        raise InputError("the calibration is weighted by a variance model, whose scatter at "
                         "new points has degrees of freedom a band's k does not carry: give "
                         "u_y (e.g. cal.variance_model.at(x)[0]), or read samples back with "
                         "inverse(), whose U carries them")
    if st == LC.UY_DIFFER:
        raise InputError("the standards' u_y differ, so the response uncertainty at new "
                         "points is not known: give u_y")
    if st != 0:
        raise InputError(f"response scatter: {_lab_status(st)}")
    return sd


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
    xa = np.asarray(x, dtype=np.float64).reshape(-1)
    V.points(cal, xa, "POLYEVAL")  # the points' checks, in the user's terms
    rsd = response_sd(cal, xa, u_y) if kind == "prediction" else None
    level = V.real("level", level)
    if not 0.0 < level < 1.0:
        raise InputError(f"level must lie strictly between 0 and 1, not {level:g}")
    which = cal.covariance if covariance is None else covariance
    y, u, lower, upper, k, st = LC.band(
        cal.coef, cal.covariance_for(covariance), cal.xmin, cal.xmax,
        1 if which == "scaled" else 0, int(cal.dof), level,
        1 if kind == "prediction" else 0, xa, rsd)
    if st == LC.NO_DOF:
        raise InputError("the scaled covariance needs degrees of freedom: this fit has none")
    if st != 0:
        raise InputError(f"band: {_lab_status(st)}")
    dist = f"t({cal.dof})" if which == "scaled" else "normal"
    shape = np.shape(x)
    r = [a.reshape(shape) for a in (xa, y, lower, upper, u)]
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
    return _diagnose(cal)["leverage"]


def studentized_residuals(cal, external: bool = False) -> np.ndarray:
    """Internally studentized W_i e_i / (s sqrt(1 - h_ii)); with ``external`` the
    standard's own residual is left out of s: s_(i)**2 = (chi2 - (W_i e_i)**2/(1 - h_ii))
    / (dof - 1).  NaN where h_ii = 1 or too few degrees of freedom."""
    _ols_only(cal, "studentized residuals")
    return _diagnose(cal)["studentized_external" if external else "studentized_internal"]


def cooks_distance(cal) -> np.ndarray:
    """D_i = r_i**2 h_ii / (ncoef (1 - h_ii)), r_i the internally studentized residual."""
    _ols_only(cal, "Cook's distances")
    return _diagnose(cal)["cooks_distance"]


@dataclass(frozen=True)
class Outlier:
    """A standard flagged by :func:`outliers`: its index (0-based place in the arrays),
    x, y, the statistic it was tested with (``statistic``; for the errors-in-variables fit
    ``statistic_x`` too), Cook's distance (NaN for the errors-in-variables fit), the
    reasons in words, its name for people (``standard``: ID or 1-based row), whether its
    residual makes it an ``outlier`` (which fails a run) and whether its influence alone
    marks it ``influential`` (which does not)."""

    index: int
    x: float
    y: float
    statistic: float
    cooks_distance: float
    reasons: tuple
    statistic_x: float = math.nan
    standard: str = ""
    outlier: bool = True
    influential: bool = False
    leverage: float = math.nan


def residual_statistic(cal) -> tuple[np.ndarray, str]:
    """The residual each standard is tested with, and its name.

    Ordinary fit, stated uncertainties: the normalized residual W_i e_i / sqrt(1 - h_ii),
    N(0, 1) when the stated uncertainties are right.  Ordinary fit, scaled covariance:
    the externally studentized residual.  Errors-in-variables fit: the y part of the
    normalized residual pair, divided by SRES when the covariance is the scaled one.
    """
    d = _diagnose(cal)
    return d["statistic"], _LV.STATISTIC_NAMES[int(d["outl"][1])]


def x_residual_statistic(cal) -> np.ndarray | None:
    """None: the errors-in-variables fit's outlier test no longer tests the x part of
    its residuals apart; :func:`residual_statistic` gives each standard's combined
    normalized residual, standardized by its leverage, which carries both parts."""
    return None


def default_threshold(n: int) -> float:
    """max(3, z_(1 - 0.025/n)): a residual beyond it is unlikely (5 %) among n standards
    that are all right, so large calibrations are not flagged by chance; 3 up to about
    20 standards."""
    from . import _lab
    q = FAMILY_ALPHA / (2 * max(n, 1))
    return max(RESIDUAL_THRESHOLD, -_lab.quantile(1, q))


def outlier_threshold(cal, alpha: float = FAMILY_ALPHA) -> tuple[float, str]:
    """The threshold of |residual statistic| for ``alpha`` over all standards, and how it
    was found.

    The largest of n residual statistics is compared with the two-sided Bonferroni level
    alpha/n (ISO 5725-2's single-outlier logic with the multiplicity of the standards):
    the externally studentized residual follows Student's t with dof - 1 degrees of
    freedom when the scale comes from the scatter (ordinary fit), the normalized residual
    the normal distribution when the uncertainties are stated.  The errors-in-variables
    fit tests 2n statistics (x and y), with t(dof) for a scaled covariance.  inf where
    no test is possible (too few degrees of freedom)."""
    return _threshold(cal, _diagnose(cal, _LV.criteria_array(alpha_outliers=alpha))["outl"])


def _threshold(cal, outl: np.ndarray) -> tuple[float, str]:
    """The threshold of OUTL (QVXL_DIAGNOSE) and how it was found, in words."""
    value, source = float(outl[0]), int(outl[2])
    if source == _LV.FROM_NORMAL:
        return value, "normal"
    if source == _LV.FROM_T:
        return value, f"t({int(outl[3])})"
    if source == _LV.FROM_GIVEN:
        return value, "given"
    return value, ("no degrees of freedom" if cal.kind == "gls"
                   else "too few degrees of freedom")


def outliers(cal, threshold: float | None = None,
             cook: float = COOK_THRESHOLD) -> list[Outlier]:
    """Standards whose residual or influence stands out, each with its reasons.

    Outliers (``outlier``): |residual statistic| > ``threshold`` (see
    :func:`residual_statistic`; default :func:`outlier_threshold` at a 5 % family level).
    Influential only (``influential``; shown, but no reason to reject a run by itself):
    Cook's distance > ``cook`` (ordinary fit); leverage 1 (the curve is pinned to the
    standard, so its residual is 0 whatever its y: it cannot be checked).  For the
    errors-in-variables fit both normalized residuals, x (delta_i/u_x) and y, are tested
    against ``threshold``.
    """
    if threshold is not None and not (isinstance(threshold, float)
                                      and threshold == math.inf):  # inf: not tested
        threshold = V.real("threshold", threshold)
    cook = V.real("cook", cook)
    return _outliers(cal, _diagnose(cal, _LV.criteria_array(cook=cook, threshold=threshold)),
                     cook)


def _outliers(cal, d: dict, cook: float) -> list[Outlier]:
    """The standards flagged in ``d`` (QVXL_DIAGNOSE's outputs), with their reasons."""
    threshold = float(d["outl"][0])
    z, name = d["statistic"], _LV.STATISTIC_NAMES[int(d["outl"][1])]
    flags = d["flags"]
    found = []
    big = (flags & _LV.OFLAG_OUTLIER) != 0
    if cal.kind == "gls":
        zx = d["statistic_x"]
        big_x = (flags & _LV.OFLAG_OUTLIER_X) != 0
        for i in np.flatnonzero(big | big_x):
            reasons = []
            if big_x[i]:
                reasons.append(f"normalized x residual {zx[i]:+.3g} beyond ±{threshold:g}")
            if big[i]:
                reasons.append(f"{name} {z[i]:+.3g} beyond ±{threshold:g}")
            found.append(Outlier(int(i), float(cal.x[i]), float(cal.y[i]), float(z[i]),
                                 math.nan, tuple(reasons), float(zx[i]),
                                 standard_name(cal, i)))
        return found
    h = d["leverage"]
    d = d["cooks_distance"]
    influential = (flags & _LV.OFLAG_INFLUENTIAL) != 0
    pinned = (flags & _LV.OFLAG_PINNED) != 0
    for i in np.flatnonzero(big | influential | pinned):
        reasons = []
        if big[i]:
            reasons.append(f"{name} {z[i]:+.3g} beyond ±{threshold:g}")
        if influential[i]:
            reasons.append(f"influential: Cook's distance {d[i]:.3g} above {cook:g} "
                           f"(leverage {h[i]:.3g})")
        if pinned[i]:
            reasons.append("leverage 1: the curve is pinned to this standard, its residual "
                           "cannot show an error")
        found.append(Outlier(int(i), float(cal.x[i]), float(cal.y[i]), float(z[i]),
                             float(d[i]), tuple(reasons), math.nan, standard_name(cal, i),
                             bool(big[i]), bool(influential[i] or pinned[i]), float(h[i])))
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


def back_calculated(cal, tolerance: float = BACK_TOLERANCE,
                    tolerance_lowest: float = BACK_TOLERANCE_LOWEST,
                    fraction: float = BACK_FRACTION) -> BackCalculated:
    """Each standard's y read back into x, as % of its nominal x, with pass/fail.

    percent_i = 100 x_back_i / x_i; a standard passes when |percent_i - 100| <=
    ``tolerance`` (15), or ``tolerance_lowest`` (20) at the lowest non-zero |x|, as
    bioanalytical guidance asks; blanks (x = 0) are not tested.  ``overall`` asks for at
    least ``fraction`` (75 %) of the tested standards to pass.
    """
    if cal.ncoef < 2:
        raise InputError("a constant curve (degree 0) cannot be read back")
    tolerance, tolerance_lowest = V.real("tolerance", tolerance), V.real(
        "tolerance_lowest", tolerance_lowest)
    fraction = V.real("fraction", fraction)
    for name, v in (("tolerance", tolerance), ("tolerance_lowest", tolerance_lowest)):
        if v < 0:
            raise InputError(f"{name} must not be negative, not {v:g}")
    if not 0.0 <= fraction <= 1.0:
        raise InputError(f"fraction must lie in [0, 1], not {fraction:g}")
    d = _diagnose(cal, _LV.criteria_array(tolerance=tolerance, tolerance_lowest=tolerance_lowest,
                                          back_fraction=fraction))
    return _back(cal, d)


def _back(cal, d: dict) -> BackCalculated:
    x0 = np.array(cal.x, dtype=np.float64)
    n_tested, n_passed, overall = (int(v) for v in d["back"])
    return BackCalculated(x0, d["x_back"], d["percent"], d["limit"], d["passed"] != 0,
                          x0 == 0.0, n_tested, n_passed, bool(overall))


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

    ``blank_source`` says where sigma0 came from: ``u_blank`` as given, readings of
    blanks, a variance model's floor, the standards at the blank, the residual scatter
    (or stated u_y) where it is the same at every x; under a 1/x or 1/x2 weighting
    without any of these the limits at the blank are not computed (NaN: the weighting
    model predicts no noise at all at x = 0) and it says why.
    ``extrapolated``: no standard lies at the blank and the curve is extended beyond its
    interval to reach it (at most ``EXTEND`` of the interval's width).

    ``loq_din`` is DIN 32645's limit of quantification: the net level x_Q whose two-sided
    (1 - alpha) interval half-width k_(1-alpha/2) u(x_Q) is 1/``k_loq`` of x_Q (relative
    uncertainty 1/3 by default), u(x_Q) that of a sample of ``replicates`` readings.
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
    blank_source: str = ""
    extrapolated: bool = False
    loq_din: float = math.nan
    k_loq: float = 3.0

    def text(self) -> str:
        t = (f"ICH Q2: LOD 3.3σ/S {self.lod:.4g}  LOQ 10σ/S {self.loq:.4g} (sigma "
             f"{self.sigma:.3g}, slope {self.slope:.4g}); ISO 11843-2 at the blank: y_C "
             f"{self.y_critical:.4g}  x_C {self.x_critical:.4g}  x_D {self.x_detection:.4g}")
        if self.blank_source.startswith(NOT_COMPUTED):
            return (f"ICH Q2: LOD 3.3σ/S {self.lod:.4g}  LOQ 10σ/S {self.loq:.4g} (sigma "
                    f"{self.sigma:.3g}, slope {self.slope:.4g}); at the blank: "
                    f"{self.blank_source}")
        if self.blank_source:
            t += (f"; DIN 32645 LOQ {self.loq_din:.4g} (relative uncertainty 1/{self.k_loq:g})"
                  f"; blank's scatter {self.sigma_blank:.3g}: {self.blank_source}")
        if self.extrapolated:
            t += ("; the blank lies outside the standards: the curve is extended a little to "
                  "reach it")
        return t


EXTEND = 0.25  # how far beyond its interval (share of the width) the curve may reach a blank

_BLANK_SOURCE = {1: "u_blank as given", 2: "the standards at the blank",
                 4: "the stated u(y) of the standards",
                 5: "the residual scatter (the same at every x)",
                 6: "{n} readings of blanks ({dof:g} degrees of freedom)",
                 7: "the {model} variance model's floor ({dof:.3g} degrees of freedom)"}
NOT_COMPUTED = "not computed"


def detection_limits(cal, alpha: float = 0.05, beta: float = 0.05, blank: float = 0.0,
                     replicates: int = 1, u_blank: float | None = None,
                     k_loq: float = 3.0, blank_readings=None) -> DetectionLimits:
    """Detection and quantification limits, in two forms.

    ICH Q2(R1): LOD = 3.3 sigma/S, LOQ = 10 sigma/S; sigma = SRES/W, the residual
    standard deviation in response units, and S = |p'(x)|, both at the lowest standard.

    From the prediction band at the blank x0 (ISO 11843-2; DIN 32645):
    s0 = sqrt(u(p(x0))**2 + sigma0**2/K), y_C = p(x0) + k_(1-alpha) s0,
    x_C = p^-1(y_C) - x0, x_D = p^-1(p(x0) + delta s0) - x0, delta = k_(1-alpha) +
    k_(1-beta) with stated uncertainties (normal factors), or with the scaled covariance
    the non-centrality with P(t'(dof, delta) <= t_(1-alpha, dof)) = beta; and DIN 32645's
    LOQ.  Details in :class:`DetectionLimits`.

    Parameters
    ----------
    alpha, beta : float
        Probabilities of a false positive and of a false negative.
    blank : float
        x of the blank (0).  Outside the standards' interval the curve is extended to it
        by at most a quarter of the interval's width; farther is refused.
    replicates : int
        K, the number of measurements averaged for one sample.
    u_blank : float, optional
        Standard deviation of one response of the blank, known exactly.  By default the
        scatter of ``blank_readings``; else the floor of the calibration's variance
        model (constant or floor) with the degrees of freedom of its estimate; else
        that of the standards at the blank; else the residual scatter (or the stated
        u_y) where the fit says it is the same everywhere (``blank_source`` says
        which).  Under a 1/x or 1/x2 weighting without any of these nothing tells the
        blank's scatter (the weighting predicts none at x = 0): the limits at the blank
        are not computed (NaN) and ``blank_source`` says why.
    blank_readings : array_like, optional
        Readings of blanks (at least 2): their standard deviation with n - 1 degrees of
        freedom, which k and delta then take (Welch-Satterthwaite with the curve's).
    k_loq : float
        DIN 32645's LOQ: the level whose relative uncertainty is 1/k_loq (3).
    """
    if cal.ncoef < 2:
        raise InputError("a constant curve (degree 0) has no detection limit")
    alpha, beta, x0 = V.real("alpha", alpha), V.real("beta", beta), V.real("blank", blank)
    for name, v in (("alpha", alpha), ("beta", beta)):
        if not 0.0 < v < 0.5:
            raise InputError(f"{name} must lie strictly between 0 and 0.5, not {v:g}")
    replicates = V.integer("replicates", replicates, 1)
    k_loq = V.real("k_loq", k_loq)
    if not k_loq > 0:
        raise InputError(f"k_loq must be positive, not {k_loq:g}")
    if u_blank is not None:
        u_blank = V.real("u_blank", u_blank)
        if not u_blank >= 0:
            raise InputError(f"u_blank must not be negative, not {u_blank:g}")
    from . import _lab, _lab_limits
    hasub = u_dof = None
    vm = cal.variance_model
    n_read = 0
    if blank_readings is not None:
        if u_blank is not None:
            raise InputError("give either u_blank or blank_readings, not both")
        from .variance import blank_scatter
        n_read = int(np.size(blank_readings))
        u_blank, u_dof = blank_scatter(blank_readings)
        hasub = _lab_limits.HASUB_READINGS
    elif u_blank is None and vm is not None:
        u_blank, u_dof = 0.0, 0.0  # a model without a floor: the limits say so
        if vm.has_floor:
            sd, dof = vm.at([x0])
            if sd[0] > 0:
                u_blank, u_dof = float(sd[0]), float(dof[0])
        hasub = _lab_limits.HASUB_MODEL
    r, st = _lab_limits.limits(cal, alpha, beta, x0, replicates, u_blank, k_loq, hasub, u_dof)
    if st == 60:
        raise InputError(f"the blank x = {x0:g} lies far outside the curve's interval "
                         f"[{cal.xmin:g}, {cal.xmax:g}] (more than {100 * EXTEND:g} % of its "
                         "width): the curve cannot be extended that far; measure a blank "
                         "or a standard near it")
    if st == 61:
        raise InputError("the standards' u_y differ, so the blank's response "
                         "uncertainty is not known: give u_blank")
    if st == 62:
        raise InputError("the scaled covariance needs degrees of freedom: this fit has none")
    if st:
        raise InputError(f"detection limits: {_lab.status_text(st)}")
    if r["source"] == _lab_limits.BLANK_NONE and vm is not None:
        why = ("its fitted floor is 0: the replicates do not show the scatter at the blank"
               if vm.has_floor else "it gives no scatter at the blank")
        source = (f"{NOT_COMPUTED}: the calibration is weighted by the {vm.model} variance "
                  f"model, and {why}; give blank_readings or u_blank")
    elif r["source"] == _lab_limits.BLANK_NONE:
        source = (f"{NOT_COMPUTED}: under the {cal.options.get('weighting')} weighting nothing "
                  "tells the blank's scatter (the weighting predicts none at x = 0, and the "
                  "lowest standard's is not the blank's); give blank_readings or u_blank, or "
                  "weight by a variance model with a floor")
    else:
        source = _BLANK_SOURCE[r["source"]].format(
            n=n_read, dof=u_dof if u_dof is not None else 0.0,
            model=vm.model if vm is not None else "")
    return DetectionLimits(r["sigma"], r["slope"], r["lod"], r["loq"], x0, r["sigma_blank"],
                           r["s_blank"], r["y_critical"], r["x_critical"], r["x_detection"],
                           r["k_alpha"], r["delta"], alpha, beta, replicates, source,
                           r["extrapolated"], r["loq_din"], float(k_loq))


def sample_flags(cal, pred, limits=None, bits=None, extra=None) -> list[list[str]]:
    """Per sample, what a laboratory acts on, as text; the value is still reported with
    its uncertainty.

    No root in the interval; several roots; a root at an end of the interval; below the
    lowest standard; above the highest standard ("dilute and repeat"); response below
    the blank's (p(0), where x = 0 lies in the interval or just beyond it); and with
    detection limits (``limits``: a :class:`DetectionLimits` or its dict) below the LOD
    (ISO 11843 x_D) or below the LOQ (the larger of ICH's and DIN 32645's where both are
    known); an infinite uncertainty (flat curve).  The flags themselves come from the
    laboratory library (``InversePrediction.flags``).  ``bits``: the flags to show
    instead (the reported results' own); ``extra``: per sample the texts of {rep} (the
    replicates' check) and {range} (the reportable range)."""
    from . import _lab
    from .inverse import _limit_values, flags_with_limits
    flags = np.asarray(flags_with_limits(pred, limits) if bits is None else bits)
    lod, loq = _limit_values(limits)
    names = _limit_names(limits)
    n_roots = np.asarray(pred.n_roots)
    x_ext, u_ext = np.asarray(pred.x_ext), np.asarray(pred.u_x_ext)

    def extended(i):
        if not np.isfinite(x_ext[i]):
            return ""
        return f" (x = {x_ext[i]:.5g} ± {u_ext[i]:.2g} on the line extended)"

    fields = {"lod": f"{lod:.4g}" + (f", {names[0]}" if names[0] else "")
              if lod is not None else "",
              "loq": f"{loq:.4g}" + (f", {names[1]}" if names[1] else "")
              if loq is not None else ""}
    extra = extra or {}
    out = [[] for _ in range(len(pred))]
    bit = 1
    while bit <= int(flags.max(initial=0)):
        template = _lab.text(2, bit) if (flags & bit).any() else None
        for i in (np.flatnonzero(flags & bit) if template else ()):
            more = {"rep": "", "range": "", **{k: v[i] for k, v in extra.items()}}
            out[i].append(template.format(n=int(n_roots[i]), ext=extended(i), **fields,
                                          **more))
        bit <<= 1
    return out


def _limit_names(limits) -> tuple[str, str]:
    """The definitions the LOD and LOQ a sample is flagged against take, in words."""
    if limits is None:
        return "", ""
    from dataclasses import asdict
    from . import _lab
    from . import _lab_workflow as W
    from ._lab_workflow import TEXT_LIMIT_DEFINITION
    lim = limits if isinstance(limits, dict) else asdict(limits)
    lod = W.LOD_DEFINITIONS.get(lim.get("lod_definition") or W.LOD_DEFAULT)
    loq = W.LOQ_DEFINITIONS.get(lim.get("loq_definition") or W.LOQ_DEFAULT)
    return _lab.text(TEXT_LIMIT_DEFINITION, lod) or "", _lab.text(TEXT_LIMIT_DEFINITION, loq) or ""


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
        Every standard flagged: index (0-based place), standard (its name: ID or 1-based
        row), x, y, statistic, statistic_x, cooks_distance, leverage, outlier (its residual
        is beyond the threshold: fails the run), influential (shown only), reasons.
    statistic, threshold : str, float
        Name of the residual statistic outliers were tested with, and the threshold.
    back_calculated : dict or None
        x_nominal, x_back, percent, limit, passed (lists), n_tested, n_passed, overall,
        text; None for a constant curve.
    detection_limits : dict or None
        The fields of :class:`DetectionLimits` and text, when asked for.
    fit_for_use : bool
        Degree 1 or more with degrees of freedom left, and no criterion failed that
        rejects (see ``criteria``): goodness not "fail", the curve's shape not "fail" (lack
        of fit with replicates, Mandel's test without), no outlier, back-calculation
        passed.
    notes : list of str
        Why not fit for use, and other remarks, in words.
    criteria : dict
        The acceptance criteria used (:class:`AcceptanceCriteria` as a dict).
    levels : dict
        The level each statistical test was run at ({"goodness": 0.025, ...}).
    failed, warned : list of str
        Criteria that failed and reject the run; criteria that failed and only warn.
    r, r_squared : float
        Correlation coefficient of the fit and its square (weighted as the fit was).
    shape : dict or None
        The test of the curve's shape the verdict ran: test (its name: the lack-of-fit F
        test with replicate standards; without them Mandel's F test of the next-higher
        term, ISO 8466-1 / 8466-2, or its chi-squared test where stated u(y) set the
        scale), code (the library's QVXL_SHAPE_* code), statistic (F or Delta chi2),
        p_value, alpha, verdict, text.  With no test (errors in variables, too few
        standards) test says why, and verdict is "not tested".
    extra : dict or None
        The criteria's rules beyond those four, where they set any (``min_levels``,
        ``rse_limit``): levels (distinct non-zero levels read back within their limits),
        rse (%, None where not available), verdicts ("pass", "fail", "warning",
        "not tested" for levels and rse), min_levels, rse_limit.
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
    criteria: dict = field(default_factory=dict)
    levels: dict = field(default_factory=dict)
    failed: list = field(default_factory=list)
    warned: list = field(default_factory=list)
    r: float = math.nan
    r_squared: float = math.nan
    shape: dict | None = None
    extra: dict | None = None

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


def correlation(cal) -> tuple[float, float]:
    """(r, r**2) of the fit: r**2 = 1 - sum (W e)**2 / sum W**2 (y - ybar_W)**2, ybar_W the
    weighted mean of y; r its root, signed by the slope for a straight line.  They measure
    how much of the spread of y the curve follows, which standards spread over a wide
    range make close to 1 whether or not the curve is right: they say little about a
    calibration (the tests and the back-calculation do)."""
    r, r2 = _diagnose(cal)["corr"]
    return float(r), float(r2)


def diagnostics(cal, limits: bool = False, criteria=None, **limit_options) -> Diagnostics:
    """All verdicts on ``cal`` as plain data (see :class:`Diagnostics`); with ``limits``
    the detection limits too (``limit_options`` go to :func:`detection_limits`).
    ``criteria``: an :class:`AcceptanceCriteria` or a dict of its fields (default: the
    default criteria)."""
    crit = criteria_from(criteria)
    c = crit.crit_array()
    dg = _diagnose(cal, c)
    v = _LV.verdict(cal, c, crit.warn_only)
    levels = {t: float(a) for t, a in zip(CRITERIA[:3], dg["levels"]) if not math.isnan(a)}
    notes = []
    goodness, gtext = goodness_verdict(cal, levels.get("goodness", ALPHA_REJECT))
    p = float(dg["p_chi2"])
    lof = _lack_of_fit(dg)
    lof_d = None
    if lof is not None:
        lof_d = {k: _plain(v) for k, v in asdict(lof).items()}
        lof_d.update(verdict=_LV.RESULT_WORDS[int(v["result"][1])] if v["result"][1] !=
                     _LV.RESULT_WARN else "fail", text=lof.text())
    shape = _shape(v, levels.get("lack_of_fit"))
    threshold = float(dg["outl"][0])
    found = _outliers(cal, dg, crit.cook)
    statistic = _LV.STATISTIC_NAMES[int(dg["outl"][1])]
    out = [{"index": o.index, "standard": o.standard, "x": o.x, "y": o.y,
            "statistic": o.statistic, "statistic_x": o.statistic_x,
            "cooks_distance": o.cooks_distance, "leverage": o.leverage,
            "outlier": o.outlier, "influential": o.influential,
            "reasons": list(o.reasons)} for o in found]
    back = None
    if cal.ncoef >= 2:
        b = _back(cal, dg)
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
    # Criteria that failed (the library's verdict rows), each with why.
    bad = [o for o in found if o.outlier]
    why = {
        "goodness": lambda: "the chi2 test rejects the fit",
        "lack_of_fit": lambda: (f"{_shape_short(shape)} rejects the curve's shape (try "
                                "another degree)"),
        "outliers": lambda: (f"{len(bad)} outlier(s): standard{'s' if len(bad) > 1 else ''} "
                             + ", ".join(o.standard for o in bad[:10])
                             + (", ..." if len(bad) > 10 else "")),
        "back_calculated": lambda: (f"fewer than {100 * crit.back_fraction:g} % of the "
                                    "standards read back within their limits"),
    }
    failed, warned = [], []
    for name, result in zip(CRITERIA, v["result"]):
        if result == _LV.RESULT_FAIL:
            failed.append(name)
            notes.append(why[name]())
        elif result == _LV.RESULT_WARN:
            warned.append(name)
            notes.append(f"warning only: {why[name]()}")
    overall = v["overall"]
    extra = None
    if cal.ncoef >= 2 and (crit.min_levels or crit.rse_limit is not None):
        extra = _LV.criteria_extra(cal, dg["x_back"], dg["passed"], crit.min_levels,
                                   crit.rse_limit, crit.warn_only, overall)
        overall = extra["overall"]
        rse = extra["rse"]
        say = {
            "levels": (f"standards read back within their limits at {extra['levels']} "
                       f"level{'s' if extra['levels'] != 1 else ''}, fewer than the "
                       f"{crit.min_levels} required"),
        }
        if crit.rse_limit is not None:
            say["rse"] = (f"relative standard error {rse:.3g} % above {crit.rse_limit:g} %"
                          if math.isfinite(rse) else "relative standard error not available "
                          "(no more non-blank standards than coefficients)")
        extra.update(min_levels=crit.min_levels, rse_limit=crit.rse_limit,
                     verdicts=[_EXTRA_WORDS[r] for r in extra["result"]])
        for name, result in zip(_LV.EXTRA_RULES, extra["result"]):
            if result == _LV.RESULT_FAIL:
                failed.append(name)
                notes.append(say[name])
            elif result == _LV.RESULT_WARN:
                warned.append(name)
                notes.append(f"warning only: {say[name]}")
    if v["reasons"] & _LV.REASON_NO_DOF:
        notes.append("no degrees of freedom: nothing shows the curve adequate")
    if v["reasons"] & _LV.REASON_CONSTANT:
        notes.append("a constant curve cannot be read back into x")
    infl = [o for o in found if o.influential and not o.outlier]
    if infl:
        notes.append(f"influential (shown, not a reason to reject): standard"
                     f"{'s' if len(infl) > 1 else ''} " + ", ".join(o.standard for o in infl[:10]))
    notes.extend(cal.notes)
    fit_for_use = overall != _LV.OVERALL_NOT_FIT
    r, r2 = (float(a) for a in dg["corr"])
    return Diagnostics(float(cal.chi2), int(cal.dof), p, goodness, gtext, lof_d, out, statistic,
                       threshold, back, dl, bool(fit_for_use), notes, crit.to_dict(), levels,
                       failed, warned, r, r2, shape, _plain(extra))


def _shape(v: dict, alpha: float | None) -> dict:
    """The verdict's shape row as plain data (see ``Diagnostics.shape``)."""
    code = int(v["detail"][1])
    res = int(v["result"][1])
    d = {"test": _LV.shape_test_name(code), "code": code,
         "statistic": float(v["statistic"][1]), "p_value": float(v["limit"][1]),
         "alpha": alpha, "verdict": "not tested", "text": ""}
    if code in _LV.SHAPE_RAN:
        d["verdict"] = "fail" if res == _LV.RESULT_WARN else _LV.RESULT_WORDS[res]
        what = "Delta chi2" if code == _LV.SHAPE_ADDED_CHI2 else "F"
        d["text"] = f"{d['test']}: {what} {d['statistic']:.4g}, p = {d['p_value']:.3g}"
    return d


def _shape_short(shape: dict) -> str:
    return {_LV.SHAPE_LACK_OF_FIT: "the lack-of-fit test",
            _LV.SHAPE_MANDEL: "Mandel's test of the next-higher term",
            _LV.SHAPE_ADDED_CHI2: "the chi-squared test of the next-higher term"}.get(
                shape["code"], "the shape test")


def verdict_rows(cal, d: Diagnostics, limits: bool = False) -> tuple[list, str]:
    """The verdicts of ``d`` (the diagnostics of ``cal``) as rows (test, verdict, details)
    and the overall verdict in words: what ``summary()`` prints and reports show."""
    def at(name):
        a = d.levels.get(name)
        return "" if a is None else f" (alpha {a:.3g})"
    rows = [("goodness of fit", d.goodness, d.goodness_text + at("goodness"))]
    shape = d.shape or {}
    if d.lack_of_fit is not None:
        rows.append(("lack of fit", d.lack_of_fit["verdict"],
                     d.lack_of_fit["text"] + at("lack_of_fit")))
    elif shape.get("code") in (_LV.SHAPE_MANDEL, _LV.SHAPE_ADDED_CHI2):
        rows.append(("curve's shape", shape["verdict"], shape["text"] + at("lack_of_fit")))
    elif cal.kind == "ols":
        rows.append(("lack of fit", "not tested", "no replicate x values, and too few "
                     "standards to test the next-higher term"))
    flagged = [o for o in d.outliers if o.get("outlier", True)]
    infl = [o for o in d.outliers if not o.get("outlier", True)]
    for o in flagged[:SHOWN_OUTLIERS]:
        rows.append(("outlier", "flag", f"standard {o.get('standard') or o['index'] + 1} "
                     f"(x = {o['x']:g}): " + "; ".join(o["reasons"])))
    if len(flagged) > SHOWN_OUTLIERS:
        rows.append(("", "", f"... and {len(flagged) - SHOWN_OUTLIERS} more"))
    if not flagged:
        crit = f"|{d.statistic}| <= {d.threshold:.3g}" + at("outliers")
        rows.append(("outliers", "none", crit))
    for o in infl[:SHOWN_OUTLIERS]:
        rows.append(("influential", "shown", f"standard {o.get('standard') or o['index'] + 1} "
                     f"(x = {o['x']:g}): " + "; ".join(o["reasons"])))
    if d.back_calculated is not None:
        rows.append(("back-calculated", "pass" if d.back_calculated["overall"] else "fail",
                     d.back_calculated["text"]))
    ex = d.extra
    if ex:
        if ex.get("min_levels"):
            rows.append(("levels", ex["verdicts"][0], f"{ex['levels']} non-zero levels read "
                         f"back within their limits; at least {ex['min_levels']} required"))
        if ex.get("rse_limit") is not None:
            rse = ex.get("rse")
            rows.append(("RSE", ex["verdicts"][1],
                         (f"relative standard error {rse:.3g} %" if rse is not None else
                          "relative standard error not available")
                         + f"; at most {ex['rse_limit']:g} % allowed"))
    for e in getattr(cal, "excluded", ()) or ():
        rows.append(("excluded", "left out", f"standard {e['standard']} (x = {e['x']:g}, "
                     f"y = {e['y']:g}): {e['reason']}"))
    if math.isfinite(d.r):
        rows.append(("correlation", "", f"r = {d.r:.6f}, r² = {d.r_squared:.6f} (they say "
                     "little about a calibration: the tests above do)"))
    c = d.criteria
    if c:
        text = (f"overall alpha {c['alpha']:g}, shared by the tests that apply; standards read "
                f"back within ±{c['tolerance']:g} % (±{c['tolerance_lowest']:g} % at the "
                f"lowest level) for at least {100 * c['back_fraction']:g} % of them; Cook's "
                f"distance above {c['cook']:g} marks a standard influential")
        if c.get("warn_only"):
            text += "; only warn: " + ", ".join(c["warn_only"])
        rows.append(("criteria", "", text))
        crit = criteria_from(c)
        rows.append(("preset", crit.preset, crit.citation()))
    if d.detection_limits is not None:
        rows.append(("limits", "", d.detection_limits["text"]))
    elif limits:
        why = [n for n in d.notes if n.startswith("detection limits not available")]
        rows.append(("limits", "", why[0] if why else "not available"))
    why = [n for n in d.notes if n not in cal.notes and not n.startswith("detection")
           and not n.startswith("influential") and not n.startswith("warning only")]
    verdict = ("fit for use" if d.fit_for_use else "NOT fit for use (" + "; ".join(why) + ")")
    if d.fit_for_use and d.warned:
        verdict += " (with warnings: " + "; ".join(
            n[len("warning only: "):] for n in d.notes if n.startswith("warning only")) + ")"
    return rows, verdict


def verdict_text(cal, limits: bool = False, criteria=None) -> str:
    """The verdicts as lines for ``summary()``; ``limits`` True or a dict of options for
    ``detection_limits``."""
    options = limits if isinstance(limits, dict) else {}
    try:
        d = diagnostics(cal, limits=bool(limits), criteria=criteria, **options)
    except QuorvexError as e:  # e.g. the laboratory library missing: the summary still prints
        return f"  verdicts not available: {e}"
    rows, verdict = verdict_rows(cal, d, bool(limits))
    lines = ["", "  Is it fit for use?"]
    lines += [f"  {a:<16} {b:<11} {c}" for a, b, c in rows]
    lines.append("  verdict: " + verdict)
    return "\n".join(lines)
