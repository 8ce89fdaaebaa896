"""``Calibration``: one fitted curve with everything it was fitted from.

The class holds data and results; the numerics live in :mod:`quorvex.fitting`,
:mod:`quorvex.curve` and :mod:`quorvex.inverse`, and its methods only call them.

Which covariance derived uncertainties use
------------------------------------------
Every uncertainty derived from a calibration (``evaluate(..., uncertainty=True)``,
``inverse``, ``line``, ``power_coefficients``) propagates ``cov_used``:

* ``cov`` (from the stated uncertainties, not scaled) when the fit was given
  ``u_y`` (and ``u_x``): the stated uncertainties fix the scale;
* ``cov_scaled`` = ``cov`` * ``sres``**2 when the fit had no stated uncertainties:
  unit weights say nothing about the size of the scatter, so the residuals must;
* ``fit(..., covariance="stated" | "scaled")`` overrides that choice for the
  calibration, and each method's ``covariance=`` argument for one call.
"""
from __future__ import annotations

import json
from dataclasses import MISSING, dataclass, field, fields
from typing import Any

import numpy as np

from . import inverse as _inverse
from .errors import InputError, QuorvexError

_ARRAYS = ("coef", "cov", "cov_scaled", "fitted", "residuals", "weighted_residuals", "x", "y",
           "u_y", "u_x", "weights", "x_weights", "x_adjusted", "residuals_x",
           "weighted_residuals_x", "rinfo")
COVARIANCES = ("stated", "scaled")
_F64 = np.dtype(np.float64)


@dataclass(frozen=True, eq=False)
class Calibration:
    """A fitted calibration curve y = p(x) (made by :func:`quorvex.fit`).

    Attributes
    ----------
    kind : str
        "ols" (weighted least squares, ``OLSPFIT``) or "gls" (errors in variables,
        ``GLSPFIT``).
    coef : ndarray (ncoef,)
        Chebyshev coefficients of the curve as the library stores them:
        p(x) = coef[0]/2 + sum_k coef[k] T_k(t), t = (2x - xmin - xmax)/(xmax - xmin).
    cov : ndarray (ncoef, ncoef)
        Coefficient covariance from the stated uncertainties (not scaled).
    cov_scaled : ndarray (ncoef, ncoef)
        ``cov * sres**2``; all NaN when ``dof == 0``.
    sres : float
        Weighted residual standard deviation sqrt(chi2/dof) (0 when dof == 0).
    chi2 : float
        Sum of the squared weighted residuals (x and y residuals for "gls").
    dof : int
        Degrees of freedom, n_points - ncoef.
    fitted : ndarray (n,)
        Curve values at x ("ols") or at the adjusted abscissae ("gls").
    residuals, weighted_residuals : ndarray (n,)
        y - fitted, and the same divided by u_y.
    x, y : ndarray (n,)
        The standards as given.
    u_y, u_x : ndarray (n,) or None
        The stated uncertainties (None where not given).
    weights, x_weights : ndarray (n,) or None
        The weights passed to the library: 1/u_y (ones without u_y), 1/u_x ("gls").
    interval : (float, float)
        The curve's interval [xmin, xmax]; it belongs to the curve.
    covariance : str
        "stated" or "scaled": which covariance derived uncertainties use (``cov_used``).
    status, iterations, evaluations : int
        Status of the fit (``GLSPFIT``'s ISTAT(1); 0 for "ols"), the minimizer's
        iterations and objective evaluations (0 for "ols").
    x_adjusted, residuals_x, weighted_residuals_x : ndarray (n,) or None
        "gls" only: adjusted abscissae x - delta, the corrections delta, delta/u_x.
    rinfo : ndarray (4,) or None
        "gls" only: the minimizer's convergence measures (step, residual change,
        norm change, gradient) of the scaled problem.
    options : dict
        The options the fit used (tolerances, iteration limit, line-search parameter).
    notes : tuple of str
        Warnings raised by the fit, for summaries and reports.
    ids : tuple of str or None
        The names of the standards fitted (an ID column, or their rows in the file);
        None: they are named by their 1-based place.
    excluded : tuple of dict
        Standards left out of the fit on purpose: standard (its name), x, y, reason.
    """

    kind: str
    coef: np.ndarray
    cov: np.ndarray
    cov_scaled: np.ndarray
    sres: float
    chi2: float
    dof: int
    fitted: np.ndarray
    residuals: np.ndarray
    weighted_residuals: np.ndarray
    x: np.ndarray
    y: np.ndarray
    u_y: np.ndarray | None
    u_x: np.ndarray | None
    weights: np.ndarray
    x_weights: np.ndarray | None
    interval: tuple
    covariance: str = "stated"
    status: int = 0
    iterations: int = 0
    evaluations: int = 0
    x_adjusted: np.ndarray | None = None
    residuals_x: np.ndarray | None = None
    weighted_residuals_x: np.ndarray | None = None
    rinfo: np.ndarray | None = None
    options: dict = field(default_factory=dict)
    notes: tuple = ()
    ids: tuple | None = None
    excluded: tuple = ()

    def __post_init__(self):
        # Arrays are taken as they come when they are float64 ndarrays (fit hands over
        # arrays of its own), converted otherwise, and made read-only.
        for name in _ARRAYS:
            a = getattr(self, name)
            if a is None:
                continue
            if type(a) is not np.ndarray or a.dtype is not _F64:
                a = np.array(a, dtype=np.float64)
                object.__setattr__(self, name, a)
            a.flags.writeable = False
        lo, hi = self.interval
        if type(lo) is not float or type(hi) is not float or type(self.interval) is not tuple:
            object.__setattr__(self, "interval", (float(lo), float(hi)))
        if self.covariance not in COVARIANCES:
            raise InputError(f"covariance must be 'stated' or 'scaled', not {self.covariance!r}")
        if self.ids is not None and type(self.ids) is not tuple:
            object.__setattr__(self, "ids", tuple(str(v) for v in self.ids))
        if type(self.excluded) is not tuple:
            object.__setattr__(self, "excluded", tuple(dict(e) for e in self.excluded))

    @classmethod
    def _trusted(cls, **kw) -> "Calibration":
        """A calibration from ``fit``'s own results, without ``__post_init__``'s
        conversions: every array given is a read-only float64 ndarray, ``interval`` a
        tuple of two floats and ``covariance`` one of ``COVARIANCES``.  ``cov_scaled``
        may be left out: it is computed (or refused) when first read."""
        self = object.__new__(cls)
        d = self.__dict__
        d.update(_DEFAULTS)
        d.update(kw)
        if d["options"] is None:
            d["options"] = {}
        return self

    def __getattr__(self, name):
        # Only for attributes not set: the derived fields _trusted may leave out.
        derive = _DERIVED.get(name)
        if derive is None:
            raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")
        value = derive(self)
        self.__dict__[name] = value
        return value

    def __setstate__(self, state):
        self.__dict__.update(state)
        self.__post_init__()

    # Sizes and shortcuts
    @property
    def variance_model(self):
        """The :class:`quorvex.VarianceModel` whose weights the fit used, or None."""
        d = self.options.get("variance")
        if d is None:
            return None
        from .variance import VarianceModel
        return VarianceModel.from_dict(d)

    @property
    def ncoef(self) -> int:
        return int(self.coef.shape[0])

    @property
    def degree(self) -> int:
        return self.ncoef - 1

    @property
    def n_points(self) -> int:
        return int(self.x.shape[0])

    @property
    def xmin(self) -> float:
        return self.interval[0]

    @property
    def xmax(self) -> float:
        return self.interval[1]

    @property
    def cov_used(self) -> np.ndarray:
        """The covariance derived uncertainties use (see ``covariance``)."""
        return self.covariance_for(None)

    def covariance_for(self, covariance: str | None) -> np.ndarray:
        """``cov`` or ``cov_scaled`` by name; None gives the calibration's choice."""
        which = self.covariance if covariance is None else covariance
        if which == "stated":
            return self.cov
        if which == "scaled":
            return self.cov_scaled
        raise InputError(f"covariance must be 'stated' or 'scaled', not {which!r}")

    @property
    def u_coef(self) -> np.ndarray:
        """Standard uncertainties of ``coef`` (from ``cov_used``)."""
        return np.sqrt(np.diag(self.cov_used))

    # Curve
    def evaluate(self, x, uncertainty: bool = False, covariance: str | None = None):
        """Curve values p(x), and with ``uncertainty=True`` also u(p(x)).

        Parameters
        ----------
        x : float or array_like
            Points inside the interval.
        uncertainty : bool
            Also return u(p(x)) = sqrt(g(x)' C g(x)), g the basis row, C = ``cov_used``.
        covariance : {"stated", "scaled"}, optional
            Overrides the calibration's choice of covariance.

        Returns
        -------
        y or (y, u_y) : float or ndarray, shaped like ``x``.

        Raises
        ------
        InputError
            A point is not finite or lies outside the curve's interval.
        """
        from . import curve
        return curve.evaluate(self, x, uncertainty, covariance)

    def __call__(self, x):
        return self.evaluate(x)

    def inverse(self, y, u_y=None, *, replicates=1, ngrid: int | None = None, tol: float = 0.0,
                covariance: str | None = None, extrapolate: bool = False, workers: int = 1,
                method: str = "first-order", n: int = 10_000, seed=None, level: float = 0.95,
                u_y_relative=None):
        """Read responses back into x (``IPVAL``): an :class:`InversePrediction` with all
        roots per response, the first as ``x`` +- ``u_x``, the expanded uncertainty ``U``
        = ``k`` u_x with ``dof`` at ``level``, the inversion interval (``low``, ``high``)
        and flags.  See :func:`quorvex.inverse.inverse` for the parameters.

        ``u_y=None`` (default) takes each sample's u(y) from the residual scatter at its x
        (over sqrt(``replicates``)) when the calibration has no stated uncertainties, and
        is an error when it has (unless they are relative weights, ``covariance="scaled"``,
        and ``u_y_relative`` gives each sample's on their scale: u(y) = SRES times it);
        a number or array states u(y); ``"curve-only"`` sets it to 0 (the curve's
        uncertainty alone).

        ``method="monte-carlo"`` draws ``n`` curves and responses instead (``seed``,
        ``level``; see :func:`quorvex.montecarlo.monte_carlo`) and returns a
        :class:`MonteCarloPrediction`."""
        if method == "monte-carlo":
            if extrapolate or tol:
                raise InputError("extrapolate and tol apply to the first-order inverse only")
            from . import montecarlo
            return montecarlo.monte_carlo(self, y, u_y=u_y, n=n, seed=seed, level=level,
                                          ngrid=ngrid, covariance=covariance, workers=workers,
                                          replicates=replicates, u_y_relative=u_y_relative)
        if method != "first-order":
            raise InputError(f"method must be 'first-order' or 'monte-carlo', not {method!r}")
        return _inverse.inverse(self, y, u_y, ngrid, tol, covariance, extrapolate, workers,
                                replicates=replicates, level=level, u_y_relative=u_y_relative)

    def line(self, covariance: str | None = None):
        """Slope and intercept of a straight line with their covariance (``LINEAR_CONV``)."""
        from . import curve
        return curve.line(self, covariance)

    def power_coefficients(self, covariance: str | None = None):
        """The curve in powers of x with the transformed covariance: see
        :func:`quorvex.curve.power_coefficients`."""
        from . import curve
        return curve.power_coefficients(self, covariance)

    # Is it fit for use?  The numerics live in quorvex.diagnostics.
    @property
    def p_value(self) -> float:
        """P(chi2_dof >= chi2), the chi2 test of the stated uncertainties (NaN without them)."""
        from . import diagnostics
        return diagnostics.p_value(self)

    def lack_of_fit(self):
        """The lack-of-fit F test with replicate x values (a ``LackOfFit``, or None)."""
        from . import diagnostics
        return diagnostics.lack_of_fit(self)

    def band(self, x, level: float = 0.95, kind: str = "confidence", u_y=None,
             covariance: str | None = None):
        """Confidence or prediction band at x: ``lower, upper = cal.band(x)``.  k from
        Student's t with ``dof`` for the scaled covariance, normal for the stated one; see
        :func:`quorvex.diagnostics.band`."""
        from . import diagnostics
        return diagnostics.band(self, x, level, kind, u_y, covariance)

    @property
    def leverages(self) -> np.ndarray:
        """Diagonal of the hat matrix (ordinary fit)."""
        from . import diagnostics
        return diagnostics.leverages(self)

    @property
    def studentized_residuals(self) -> np.ndarray:
        """Internally studentized residuals (ordinary fit); see
        :func:`quorvex.diagnostics.studentized_residuals` for the external ones."""
        from . import diagnostics
        return diagnostics.studentized_residuals(self)

    @property
    def cooks_distance(self) -> np.ndarray:
        """Cook's distance of each standard (ordinary fit)."""
        from . import diagnostics
        return diagnostics.cooks_distance(self)

    def outliers(self, threshold: float | None = None, cook: float = 1.0) -> list:
        """Flagged standards with their reasons (threshold: 3, raised for many standards):
        see :func:`quorvex.diagnostics.outliers`."""
        from . import diagnostics
        return diagnostics.outliers(self, threshold, cook)

    def back_calculated(self, tolerance: float = 15.0, tolerance_lowest: float = 20.0):
        """Standards read back as % of nominal with pass/fail (``BackCalculated``)."""
        from . import diagnostics
        return diagnostics.back_calculated(self, tolerance, tolerance_lowest)

    def detection_limits(self, alpha: float = 0.05, beta: float = 0.05, blank: float = 0.0,
                         replicates: int = 1, u_blank: float | None = None,
                         k_loq: float = 3.0, blank_readings=None):
        """ICH and blank-based detection limits, and DIN 32645's LOQ at relative
        uncertainty 1/``k_loq``: see :class:`quorvex.DetectionLimits`."""
        from . import diagnostics
        return diagnostics.detection_limits(self, alpha, beta, blank, replicates, u_blank,
                                            k_loq, blank_readings)

    def diagnostics(self, limits: bool = False, criteria=None, **limit_options):
        """Every verdict as plain data: a :class:`quorvex.Diagnostics` (chi2, dof, p_value,
        goodness verdict and text, lack_of_fit, outliers with reasons, back_calculated with
        pass/fail, detection_limits when ``limits``, fit_for_use, notes, the criteria and
        test levels used, r and r²); ``to_dict()`` holds Python types only.
        ``criteria``: a :class:`quorvex.AcceptanceCriteria` or a dict of its fields."""
        from . import diagnostics
        return diagnostics.diagnostics(self, limits, criteria, **limit_options)

    @property
    def r(self) -> float:
        """Correlation coefficient of the fit (weighted as fitted); it says little about a
        calibration (see :func:`quorvex.diagnostics.correlation`)."""
        from . import diagnostics
        return diagnostics.correlation(self)[0]

    @property
    def r_squared(self) -> float:
        """r**2 = 1 - weighted residual / weighted total sum of squares."""
        from . import diagnostics
        return diagnostics.correlation(self)[1]

    # Text
    def summary(self, limits=False, criteria=None) -> str:
        """A readable table: coefficients +- u, SRES, chi2, degrees of freedom, status;
        then the verdicts (goodness of fit, lack of fit, outliers, back-calculated
        standards, r and r², and with ``limits`` the detection limits) under ``criteria``
        (an :class:`quorvex.AcceptanceCriteria`, a dict, or None for the defaults)."""
        from . import curve, diagnostics
        return curve.summary(self) + "\n" + diagnostics.verdict_text(self, limits, criteria)

    def __str__(self) -> str:
        return self.summary()

    # Picture and report (matplotlib is imported only when they are made)
    def plot(self, samples=None, ax=None, band: float | None = 0.95, **kwargs):
        """The calibration as a matplotlib figure (standards, curve, confidence band,
        samples, residuals); its ``save(path)`` writes PNG, SVG or PDF.  See
        :func:`quorvex.plot.plot`."""
        from . import plot
        return plot.plot(self, samples=samples, ax=ax, band=band, **kwargs)

    def report(self, path, samples=None, title: str | None = None, **kwargs) -> dict:
        """Write a self-contained HTML report to ``path``, with the JSON and the samples
        CSV beside it.  See :func:`quorvex.report.write`."""
        from . import report
        return report.write(self, path, samples=samples, title=title, **kwargs)

    def __repr__(self) -> str:
        return (f"Calibration(kind={self.kind!r}, degree={self.degree}, n_points={self.n_points}, "
                f"interval=({self.xmin!r}, {self.xmax!r}), sres={self.sres:.4g})")

    # Serialisation
    def to_dict(self) -> dict[str, Any]:
        """Plain Python types only (lists, floats, ints, str, None)."""
        d: dict[str, Any] = {"format": "quorvex.Calibration", "version": 1}
        for f in fields(self):
            v = getattr(self, f.name)
            if isinstance(v, np.ndarray):
                v = v.tolist()
            elif isinstance(v, tuple):
                v = [dict(e) if isinstance(e, dict) else e for e in v]
            elif isinstance(v, dict):
                v = {k: (list(x) if isinstance(x, tuple) else x) for k, x in v.items()}
            d[f.name] = v
        return d

    @classmethod
    def from_dict(cls, d: dict[str, Any]) -> "Calibration":
        """The calibration from a ``to_dict`` record, checked.

        Only "format", "version" and the calibration's own fields are read; any other
        key is ignored on purpose, so that a record may carry more beside the
        calibration (the command line's calibration.json holds the report's "results").

        The record is checked against the JSON Schema shipped with the package
        (``quorvex/schema/calibration.schema.json``), then every field for its type,
        size and range, and then the stored standards are fitted again: the stored
        coefficients, covariance, residuals, SRES and chi2 must be the refit's, bit
        for bit for the ordinary fit, and within ``GLS_TOLERANCE`` for the
        errors-in-variables fit (whose iterations may end a little apart on another
        CPU).  Any failure is an ``InputError`` that names the field.
        """
        try:
            return _from_dict(cls, d)
        except InputError:
            raise
        except (TypeError, ValueError, KeyError, AttributeError, IndexError, OverflowError,
                ZeroDivisionError, FloatingPointError, RecursionError) as e:
            raise InputError(f"a damaged quorvex.Calibration record ({type(e).__name__}: "
                             f"{e})") from None
        except QuorvexError as e:
            raise InputError(f"a damaged quorvex.Calibration record: its standards do not "
                             f"fit again ({e})") from None

    @classmethod
    def _from_dict_unchecked(cls, d: dict[str, Any]) -> "Calibration":
        if not isinstance(d, dict) or d.get("format") != "quorvex.Calibration":
            raise InputError("not a quorvex.Calibration record")
        version = d.get("version", 1)
        if not isinstance(version, int) or version > 1:
            raise InputError(f"a quorvex.Calibration record of format version {version!r}; "
                             "this quorvex reads version 1")
        required = [f.name for f in fields(cls)
                    if f.default is MISSING and f.default_factory is MISSING]
        missing = [name for name in required if name not in d]
        if missing:
            raise InputError("a quorvex.Calibration record without " + ", ".join(missing))
        kw = {f.name: d[f.name] for f in fields(cls) if f.name in d}
        _check_record(kw)
        for name in ("sres", "chi2"):  # 0 and 0.0 are one number: kept as a float
            if kw.get(name) is not None:
                kw[name] = float(kw[name])
        kw["notes"] = tuple(kw.get("notes", ()))
        kw["options"] = {k: (tuple(v) if isinstance(v, list) else v)
                         for k, v in kw.get("options", {}).items()}
        return cls(**kw)

    def to_json(self, **kwargs) -> str:
        """JSON text; floats are written as the shortest text that reads back to the
        same double (non-finite values as NaN/Infinity), so the round trip is exact."""
        return json.dumps(self.to_dict(), **kwargs)

    @classmethod
    def from_json(cls, text: str) -> "Calibration":
        """The calibration from ``to_json`` text; a damaged record (not JSON, a field
        of the wrong type, size or value) raises an InputError saying which field."""
        try:
            d = json.loads(text)
        except (ValueError, TypeError, RecursionError) as e:
            raise InputError(f"not a JSON text ({e})") from None
        return cls.from_dict(d)


def _array(kw, name, shape, finite=True, positive=False):
    v = kw.get(name)
    if v is None:
        return None
    bad = f"a damaged quorvex.Calibration record: {name!r}"
    if isinstance(v, (str, bytes, dict)) or not isinstance(v, (list, tuple)):
        raise InputError(f"{bad} is not a list of numbers")
    try:
        a = np.array(v, dtype=np.float64)
    except (ValueError, TypeError, OverflowError):
        raise InputError(f"{bad} is not a list of numbers") from None
    if any(isinstance(t, (bool, str)) for t in np.asarray(v, dtype=object).ravel()):
        raise InputError(f"{bad} is not a list of numbers")
    if a.shape != shape:
        raise InputError(f"{bad} has shape {a.shape}, not {shape}")
    if finite and not np.all(np.isfinite(a)):
        raise InputError(f"{bad} holds a value that is not a finite number")
    if positive and not np.all(a > 0):
        raise InputError(f"{bad} holds a value that is not positive")
    return a


def _check_record(kw: dict) -> None:
    """Every field of a record read back has the type, size and range a fit gives it,
    so that a damaged or edited file is refused on reading, not by a wrong number
    later."""
    bad = "a damaged quorvex.Calibration record:"

    def integer(name, low=None):
        v = kw.get(name)
        if v is None and name not in ("dof",):
            return None
        if isinstance(v, bool) or not isinstance(v, int):
            raise InputError(f"{bad} {name!r} is not a whole number")
        if low is not None and v < low:
            raise InputError(f"{bad} {name!r} is {v}, below {low}")
        return v

    def number(name, low=None):
        v = kw.get(name)
        if isinstance(v, bool) or not isinstance(v, (int, float)) or not np.isfinite(v):
            raise InputError(f"{bad} {name!r} is not a finite number")
        if low is not None and v < low:
            raise InputError(f"{bad} {name!r} is negative")
        return v

    for name in ("coef", "cov", "x", "y", "fitted", "residuals", "weighted_residuals",
                 "weights", "interval", "sres", "dof"):
        if kw.get(name) is None:
            raise InputError(f"{bad} {name!r} is empty (null)")
    if kw.get("kind") not in ("ols", "gls"):
        raise InputError(f"{bad} 'kind' is {kw.get('kind')!r}, not 'ols' or 'gls'")
    if kw.get("covariance", "stated") not in COVARIANCES:
        raise InputError(f"{bad} 'covariance' is {kw.get('covariance')!r}, not 'stated' or "
                         "'scaled'")
    coef = kw.get("coef")
    if not isinstance(coef, list) or not 1 <= len(coef) <= 10:
        raise InputError(f"{bad} 'coef' must be a list of 1 to 10 numbers")
    m = len(coef)
    _array(kw, "coef", (m,))
    _array(kw, "cov", (m, m))
    _array(kw, "cov_scaled", (m, m), finite=False)
    x = kw.get("x")
    if not isinstance(x, list) or not x:
        raise InputError(f"{bad} 'x' must be a list of the standards' x values")
    n = len(x)
    for name in ("x", "y"):
        _array(kw, name, (n,))
    for name in ("u_y", "u_x", "weights", "x_weights"):
        _array(kw, name, (n,), positive=True)
    for name in ("fitted", "residuals", "weighted_residuals", "x_adjusted", "residuals_x",
                 "weighted_residuals_x"):
        _array(kw, name, (n,), finite=False)
    _array(kw, "rinfo", (4,), finite=False)
    if kw.get("weights") is None:
        raise InputError(f"{bad} 'weights' is missing")
    if kw["kind"] == "gls" and (kw.get("x_weights") is None or kw.get("x_adjusted") is None):
        raise InputError(f"{bad} an errors-in-variables fit without 'x_weights' or "
                         "'x_adjusted'")
    interval = kw.get("interval")
    if not isinstance(interval, (list, tuple)) or len(interval) != 2:
        raise InputError(f"{bad} 'interval' must be two numbers [xmin, xmax]")
    lo, hi = (number_ for number_ in interval)
    for v in (lo, hi):
        if isinstance(v, bool) or not isinstance(v, (int, float)) or not np.isfinite(v):
            raise InputError(f"{bad} 'interval' holds a value that is not a finite number")
    if not lo < hi:
        raise InputError(f"{bad} 'interval' [{lo}, {hi}] must have xmin < xmax")
    number("sres", 0)
    if "chi2" in kw and kw["chi2"] is not None:
        number("chi2", 0)
    dof = integer("dof", 0)
    if dof != n - m:
        raise InputError(f"{bad} 'dof' is {dof}, but {n} standards and {m} coefficients "
                         f"leave {n - m}")
    for name in ("status", "iterations", "evaluations"):
        integer(name, None if name == "status" else 0)
    if not isinstance(kw.get("options", {}), dict):
        raise InputError(f"{bad} 'options' is not a mapping")
    ids = kw.get("ids")
    if ids is not None and (not isinstance(ids, (list, tuple)) or len(ids) != n or
                            not all(isinstance(t, (str, int)) for t in ids)):
        raise InputError(f"{bad} 'ids' must name each of the {n} standards")
    notes = kw.get("notes", [])
    if not isinstance(notes, (list, tuple)) or not all(isinstance(t, str) for t in notes):
        raise InputError(f"{bad} 'notes' is not a list of texts")


# Errors-in-variables fits are checked to this share of each coefficient's standard
# uncertainty (and the same relative size for the covariance, chi2, SRES and residuals):
# the fit stops within 1e-7 standard uncertainties of its converged solution, so two CPUs
# end at most 2e-7 apart.
GLS_TOLERANCE = 1e-6
SCHEMA = "schema/calibration.schema.json"
_SCHEMA_VALIDATOR = []


def schema() -> dict:
    """The JSON Schema of a calibration record, as shipped with the package."""
    from pathlib import Path
    return json.loads((Path(__file__).resolve().parent / SCHEMA).read_text(encoding="utf-8"))


def _check_schema(d: dict) -> None:
    if not _SCHEMA_VALIDATOR:
        try:
            import jsonschema
        except ImportError:
            raise QuorvexError("checking a calibration record needs jsonschema (Debian: "
                               "python3-jsonschema)") from None
        cls = jsonschema.validators.validator_for(schema())
        _SCHEMA_VALIDATOR.append(cls(schema()))
    err = next(iter(_SCHEMA_VALIDATOR[0].iter_errors(d)), None)
    if err is not None:
        where = "".join(f"[{p}]" if isinstance(p, int) else f".{p}" for p in err.absolute_path)
        field_ = where.lstrip(".") or "the record"
        text = err.message if len(err.message) < 120 else err.message[:117] + "..."
        raise InputError(f"a damaged quorvex.Calibration record: {field_!r} does not follow "
                         f"the record's schema ({text})")


def _from_dict(cls, d):
    required = [f.name for f in fields(cls)
                if f.default is MISSING and f.default_factory is MISSING]
    if isinstance(d, dict) and d.get("format") == "quorvex.Calibration" \
            and isinstance(d.get("version", 1), int) and d.get("version", 1) <= 1 \
            and all(name in d for name in required):
        _check_schema(d)
    cal = cls._from_dict_unchecked(d)
    _check_extra(cal)
    _check_fit(cal)
    return cal


def _check_extra(cal) -> None:
    """What the field checks leave: the fit's options, the standards left out."""
    bad = "a damaged quorvex.Calibration record:"
    allowed = {"ols": {"weighting", "variance", "response_weighting"},
               "gls": {"tol", "maxit", "sigma"}}[cal.kind]
    extra = set(cal.options) - allowed
    if extra:
        raise InputError(f"{bad} 'options' holds {sorted(extra)[0]!r}, which a fit of kind "
                         f"{cal.kind!r} does not take")
    if cal.kind == "ols" and (cal.u_x is not None or cal.x_weights is not None
                              or cal.x_adjusted is not None):
        raise InputError(f"{bad} an ordinary fit with x uncertainties ('u_x', 'x_weights' or "
                         "'x_adjusted')")
    if cal.kind == "gls" and cal.u_x is None:
        raise InputError(f"{bad} an errors-in-variables fit without 'u_x'")
    if cal.kind == "gls":
        missing = [k for k in ("tol", "maxit", "sigma") if k not in cal.options]
        if missing:
            raise InputError(f"{bad} 'options' of an errors-in-variables fit without "
                             f"{missing[0]!r}")
    for k, e in enumerate(cal.excluded):
        ok = (isinstance(e, dict) and isinstance(e.get("standard"), str)
              and isinstance(e.get("reason"), str) and e["reason"].strip()
              and all(isinstance(e.get(v), (int, float)) and not isinstance(e.get(v), bool)
                      and np.isfinite(e.get(v)) for v in ("x", "y")))
        if not ok:
            raise InputError(f"{bad} 'excluded'[{k}] must give the standard, its finite x "
                             "and y, and the reason")


def _same(a, b) -> bool:
    """Equal to the bit (NaN equal to NaN); None equal to None only."""
    if a is None or b is None:
        return a is None and b is None
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and a.tobytes() == b.tobytes()


def _close(a, b, scale) -> bool:
    """|a - b| <= GLS_TOLERANCE * scale everywhere (scale broadcast), NaN where both are."""
    if a is None or b is None:
        return a is None and b is None
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    if a.shape != b.shape:
        return False
    both_nan = np.isnan(a) & np.isnan(b)
    with np.errstate(invalid="ignore", over="ignore"):
        ok = np.abs(a - b) <= GLS_TOLERANCE * np.asarray(scale) + 4 * np.spacing(np.abs(b))
    return bool(np.all(ok | both_nan))


# The package's fit, which builds Calibrations and so cannot be imported here:
# quorvex.fitting sets it when it is loaded (the package loads it on import).
_FIT = None


def _check_fit(cal) -> None:
    """Refit the stored standards; the stored results must be the refit's."""
    import warnings
    fit = _FIT
    bad = "a damaged quorvex.Calibration record:"
    kw = dict(degree=cal.degree, interval=cal.interval, covariance=cal.covariance)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        if cal.kind == "ols":
            u_y = cal.u_y
            ref = fit(cal.x, cal.y, u_y=u_y, weighting=cal.options.get("weighting"), **kw)
        else:
            o = cal.options
            ref = fit(cal.x, cal.y, u_y=cal.u_y, u_x=cal.u_x, tol=o.get("tol"),
                      maxit=o.get("maxit"), sigma=o.get("sigma"), accept_unconverged=True,
                      **kw)
    if cal.kind == "gls":
        # What the fit computes elementwise holds to the bit on any CPU: a standard edited
        # by less than the tolerance still breaks one of these.
        with np.errstate(all="ignore"):  # an edited record may overflow: it is refused
            implied = (("x_adjusted", cal.x - cal.residuals_x),
                       ("weighted_residuals_x", cal.residuals_x * cal.x_weights),
                       ("residuals", cal.y - cal.fitted),
                       ("weighted_residuals", cal.residuals * cal.weights))
        for name, value in implied:
            if not _same(getattr(cal, name), value):
                raise InputError(f"{bad} {name!r} does not follow from the record's other "
                                 "fields: the record was edited or damaged")
    if cal.kind == "ols" or _same(cal.coef, ref.coef):
        same = _same
        scales = {}
    else:
        u = np.sqrt(np.abs(np.diag(ref.cov)))
        su = np.sqrt(np.abs(np.diag(ref.cov_scaled))) if ref.dof > 0 else u
        uy = ref.u_y if ref.u_y is not None else np.ones(ref.n_points)
        ux = ref.u_x if ref.u_x is not None else np.ones(ref.n_points)
        scales = {"coef": u, "cov": np.outer(u, u), "cov_scaled": np.outer(su, su),
                  "chi2": max(ref.chi2, 1.0), "sres": max(ref.sres, 1.0), "fitted": uy,
                  "residuals": uy, "weighted_residuals": 1.0, "x_adjusted": ux,
                  "residuals_x": ux, "weighted_residuals_x": 1.0}

        def same(a, b, name=None):
            return _close(a, b, scales[name]) if name in scales else _same(a, b)

    names = ["dof", "coef", "cov", "cov_scaled", "sres", "chi2", "fitted", "residuals",
             "weighted_residuals", "weights", "x_weights", "x_adjusted", "residuals_x",
             "weighted_residuals_x"]
    if not scales:  # the same arithmetic: the minimiser's own account too
        names += ["rinfo", "status", "iterations", "evaluations"]
    for name in names:
        a, b = getattr(cal, name), getattr(ref, name)
        if not (same(a, b, name) if scales else same(a, b)):
            raise InputError(f"{bad} {name!r} does not follow from the stored standards (a "
                             "fit of them gives other values): the record was edited or "
                             "damaged")
    if cal.kind == "gls" and cal.status != ref.status:
        raise InputError(f"{bad} 'status' is {cal.status}, but a fit of the stored standards "
                         f"ends with status {ref.status}")
    if tuple(cal.notes) != tuple(ref.notes):
        raise InputError(f"{bad} 'notes' are not the fit's own")


_FIELDS = frozenset(f.name for f in fields(Calibration))
_DEFAULTS = {f.name: f.default for f in fields(Calibration) if f.default is not MISSING}
_DEFAULTS["options"] = None  # a new dict each time (``_trusted``)


def scaled_covariance(cov: np.ndarray, sres: float, dof: int) -> np.ndarray:
    """``cov * sres**2``, read-only; all NaN without degrees of freedom (the scatter
    then says nothing).  The laboratory library's rule (``QVXL_SCALED_COV``)."""
    from . import _lab_fit
    c, st = _lab_fit.scaled_cov(np.asarray(cov, dtype=np.float64), float(sres), int(dof))
    if st == _lab_fit.SCALE_OVERFLOW:
        from .errors import FitError
        raise FitError(f"the residual scatter (SRES {float(sres):.3g}) is too large to "
                       "square in double precision: the uncertainties cannot be computed; "
                       "give the responses in a larger unit (rescale them)")
    if st != 0:
        raise InputError(f"scaled covariance: {_lab_fit.status_text(st)}")
    c.flags.writeable = False
    return c


_DERIVED = {"cov_scaled": lambda cal: scaled_covariance(cal.cov, cal.sres, cal.dof)}
