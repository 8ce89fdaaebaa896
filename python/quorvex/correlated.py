"""Standards that share their errors: fits and inverse predictions with a full
covariance of x and y.

Calibration standards are rarely independent: diluted from one stock, made by
serial dilution, weighed on one balance, read on one drifting instrument.
:class:`quorvex.Correlations` writes down how their errors are shared, in the terms a
laboratory uses (independent parts, named common sources, dilution chains, or
whole matrices), :func:`fit_correlated` fits the curve by generalized
Gauss-Markov regression (ISO/TS 28037 clause 10, for every degree the library
fits), and :meth:`quorvex.CorrelatedCalibration.inverse` reads samples off it with the
joint covariance of the results, also where a sample shares a source with the
standards (drift).  Every result also gives the same quantity with the
correlations ignored, side by side.

    >>> c = quorvex.Correlations(u_x=0.01, u_y=0.02).source("stock", x=0.005 * x)
    >>> cal = quorvex.fit_correlated(x, y, c, degree=2)
    >>> pred = cal.inverse([0.8, 1.7], u_y=0.02)
    >>> print(pred)

The numbers are the laboratory library's (``QVXL_GGM_*``); this module converts
and presents.
"""
from __future__ import annotations

import configparser
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from . import _lab
from . import _lab_correlated as LC
from . import _lab_curve as LCu
from .errors import FitError, InputError, QuorvexError

MAX_NCOEF = 10


def _status(code: int, info=None) -> str:
    text = _lab.status_text(code)
    if info and info[1] > 0:
        part = "x" if info[2] == 1 else "y"
        text = f"{text} (standard {info[1]}, its {part})"
    return text


def _per_standard(value, n: int, what: str, signed: bool = True,
                  each: str = "standard") -> np.ndarray:
    try:
        a = np.asarray(value, dtype=np.float64)
    except (TypeError, ValueError):
        raise InputError(f"{what}: numbers are needed") from None
    if a.ndim == 0:
        a = np.full(n, float(a))
    if a.shape != (n,):
        raise InputError(f"{what}: one value or {n} (one per {each}), not {a.size}")
    if not np.isfinite(a).all():
        raise InputError(f"{what}: every value must be finite")
    if not signed and (a < 0).any():
        raise InputError(f"{what}: standard uncertainties cannot be negative")
    return a


class SamplesColumn(str):
    """A source's contribution to the samples named by a column of the samples file
    (description files): :meth:`quorvex.CorrelatedCalibration.inverse` takes its
    values through ``samples``."""


@dataclass
class Source:
    """A named common source: its contribution (a standard uncertainty, signed by the
    direction of its effect) to each standard's x and y and to each sample's response."""

    name: str
    x: object = 0.0
    y: object = 0.0
    samples: object = 0.0


@dataclass
class Correlations:
    """How the standards' errors are shared.

    Parameters
    ----------
    u_x, u_y : float or array_like (n,)
        The independent parts of each standard's x and y (standard uncertainties).

    Add named common sources with :meth:`source`, a dilution chain with
    :meth:`diluted`, and whole matrices with :meth:`matrix`; all parts add up.
    :meth:`from_file` reads a small description file.
    """

    u_x: object = 0.0
    u_y: object = 0.0
    sources: list = field(default_factory=list)
    dilution: tuple | None = None
    matrices: tuple | None = None

    def source(self, name: str, x=0.0, y=0.0, samples=0.0) -> "Correlations":
        """A common source (a stock, a balance, a pipette, an instrument's drift): its
        contribution to every standard's x and y, and to every sample's response (for
        a sample read on the same instrument).  Returns self."""
        if any(s.name == name for s in self.sources):
            raise InputError(f"the source {name!r} is named twice")
        self.sources.append(Source(str(name), x, y, samples))
        return self

    def diluted(self, parent, relative, stock: float = 0.0) -> "Correlations":
        """A dilution chain: standard i prepared from standard ``parent[i]`` (1-based; 0
        the stock) by a step of relative standard uncertainty ``relative[i]``; ``stock``
        the stock's relative standard uncertainty.  Returns self."""
        self.dilution = (parent, relative, stock)
        return self

    def matrix(self, u_x=None, u_y=None, u_xy=None) -> "Correlations":
        """Whole covariance matrices: Ux, Uy (n x n) and Uxy (Cov(x_i, y_j)).  Returns
        self."""
        self.matrices = (u_x, u_y, u_xy)
        return self

    # --- what the library needs ---------------------------------------------------

    def covariance(self, x) -> np.ndarray:
        """V (2n x 2n), the covariance of (x_1..x_n, y_1..y_n), from the library."""
        x = np.ascontiguousarray(x, dtype=np.float64)
        n = x.shape[0]
        v = np.zeros((2 * n, 2 * n), order="F")
        if self.matrices is not None:
            for k, (m, rows, cols) in enumerate(zip(self.matrices, (0, n, 0), (0, n, n))):
                if m is None:
                    continue
                a = np.asarray(m, dtype=np.float64)
                name = ("Ux", "Uy", "Uxy")[k]
                if a.shape != (n, n):
                    raise InputError(f"the matrix {name} must be {n} x {n}, not "
                                     f"{' x '.join(map(str, a.shape))}")
                if not np.isfinite(a).all():
                    raise InputError(f"the matrix {name} holds a value that is not finite")
                v[rows:rows + n, cols:cols + n] = a
                if k == 2:
                    v[n:, :n] = a.T
        if self.dilution is not None:
            parent, rel, stock = self.dilution
            parent = np.asarray(parent)
            if parent.shape != (n,) or not np.all(np.mod(parent, 1) == 0):
                raise InputError(f"dilution: one parent per standard ({n}), each a standard's "
                                 "number or 0 for the stock")
            st, bad = LC.dilution(v, x, parent.astype(np.intc),
                                  _per_standard(rel, n, "dilution: the steps' relative "
                                                "uncertainties", signed=False),
                                  float(stock), add=True)
            if st == LC.BAD_CHAIN:
                raise InputError(f"dilution: {_status(st)} (standard {bad})")
            if st:
                raise InputError(f"dilution: {_status(st)}")
        uxs = np.zeros((n, len(self.sources)), order="F")
        uys = np.zeros((n, len(self.sources)), order="F")
        for k, s in enumerate(self.sources):
            uxs[:, k] = _per_standard(s.x, n, f"source {s.name!r}: x")
            uys[:, k] = _per_standard(s.y, n, f"source {s.name!r}: y")
        st = LC.components(v, _per_standard(self.u_x, n, "u_x", signed=False),
                           _per_standard(self.u_y, n, "u_y", signed=False), uxs, uys, add=True)
        if st:
            raise InputError(f"correlations: {_status(st)}")
        return v

    def shared_with_samples(self, n: int, m: int, u_y, samples=None):
        """(VS, CZS, any): the samples' covariance and their covariance with the
        standards' (x, y) from the sources they share; ``samples`` maps a source's name
        to its contribution to each sample (overriding the source's own)."""
        samples = dict(samples or {})
        unknown = set(samples) - {s.name for s in self.sources}
        if unknown:
            raise InputError(f"samples share an unknown source: {', '.join(sorted(unknown))}")
        ns = len(self.sources)
        ustd = np.zeros((2 * n, ns), order="F")
        usmp = np.zeros((m, ns), order="F")
        for k, s in enumerate(self.sources):
            ustd[:n, k] = _per_standard(s.x, n, f"source {s.name!r}: x")
            ustd[n:, k] = _per_standard(s.y, n, f"source {s.name!r}: y")
            given = samples.get(s.name, s.samples)
            if isinstance(given, SamplesColumn):
                raise InputError(f"source {s.name!r}: its samples' contributions are the column "
                                 f"{str(given)!r} of the samples file: pass them as "
                                 f"samples={{{s.name!r}: values}}")
            usmp[:, k] = _per_standard(given, m,
                                       f"source {s.name!r}: samples", each="sample")
        vs, czs, st = LC.shared(n, ustd, usmp, u_y)
        if st:
            raise InputError(f"samples: {_status(st)}")
        return vs, czs, bool(np.any(usmp))

    # --- the description file ------------------------------------------------------

    @classmethod
    def from_file(cls, path, standards=None, names=None) -> "Correlations":
        """Read a description file (see the user guide).  ``standards`` maps the
        standards file's column names to their values, so that an entry may name a
        column instead of giving one number; ``names`` are the standards' names, which a
        dilution's parents may use instead of row numbers."""
        path = Path(path)
        cp = configparser.ConfigParser(inline_comment_prefixes=(";", "#"),
                                       comment_prefixes=(";", "#"))
        cp.optionxform = str
        try:
            with open(path, encoding="utf-8") as f:
                cp.read_file(f)
        except configparser.Error as e:
            raise InputError(f"{path.name}: {' '.join(str(e).split())}") from None
        cols = {str(k).strip().lower(): v for k, v in (standards or {}).items()}

        def value(section, key, default=0.0, samples_column=False):
            text = cp.get(section, key, fallback=None)
            if text is None or not text.strip():
                return default
            text = text.strip()
            try:
                return float(text)
            except ValueError:
                pass
            if samples_column:  # a column of the samples file, read with the samples
                return SamplesColumn(text)
            if text.lower() in cols:
                return cols[text.lower()]
            raise InputError(f"{path.name}: [{section}] {key} = {text!r} is neither a number "
                             f"nor a column of the standards ({', '.join(cols) or 'none'})")

        known = {"independent", "dilution", "matrix"}
        c = cls()
        for sec in cp.sections():
            low = sec.strip().lower()
            if low == "independent":
                c.u_x = value(sec, "x")
                c.u_y = value(sec, "y")
            elif low.startswith("source"):
                name = sec.strip()[len("source"):].strip()
                if not name:
                    raise InputError(f"{path.name}: [{sec}]: give the source a name, e.g. "
                                     "[source stock A]")
                c.source(name, value(sec, "x"), value(sec, "y"),
                         value(sec, "samples", samples_column=True))
            elif low == "dilution":
                parent = cp.get(sec, "parent", fallback="").strip()
                if parent.lower() not in cols:
                    raise InputError(f"{path.name}: [dilution] parent = {parent!r}: name the "
                                     "column of the standards file that says what each "
                                     "standard was prepared from")
                c.diluted(_parents(cols[parent.lower()], names, path.name),
                          value(sec, "relative"), float(value(sec, "stock")))
            elif low == "matrix":
                mats = []
                for key in ("Ux", "Uy", "Uxy"):
                    f = cp.get(sec, key, fallback=None)
                    mats.append(None if not f else _matrix_file(path.parent / f.strip()))
                c.matrix(*mats)
            elif low not in known:
                raise InputError(f"{path.name}: unknown section [{sec}] (known: independent, "
                                 "source NAME, dilution, matrix)")
        return c


def _parents(cells, names, label) -> np.ndarray:
    """Parents as 1-based standard numbers: a row number, a standard's name, or
    0 / 'stock' / empty for the stock."""
    out = []
    for cell in cells:
        t = str(cell).strip()
        if t in ("", "0", "stock") or t.lower() == "stock":
            out.append(0)
        elif names is not None and t in names:
            out.append(list(names).index(t) + 1)
        else:
            try:
                out.append(int(float(t)))
            except ValueError:
                raise InputError(f"{label}: dilution: the parent {t!r} is neither a standard's "
                                 "name nor its number") from None
    return np.array(out, dtype=np.intc)


def _matrix_file(path: Path) -> np.ndarray:
    rows = []
    try:
        text = path.read_text(encoding="utf-8")
    except OSError as e:
        raise InputError(f"{path.name}: {e.strerror or e}") from None
    for line in text.splitlines():
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        try:
            rows.append([float(c) for c in line.replace(";", ",").split(",")])
        except ValueError:
            raise InputError(f"{path.name}: {line!r} is not a row of numbers") from None
    if not rows or any(len(r) != len(rows) for r in rows):
        raise InputError(f"{path.name}: a square matrix of numbers is needed")
    return np.array(rows)


@dataclass
class CorrelatedPrediction:
    """Samples read off a :class:`quorvex.CorrelatedCalibration`: ``x``, ``u_x``, ``cov`` (the
    joint covariance), ``k`` (normal, the covariance being stated) and ``U = k u_x`` at
    ``level``; ``x_ignoring``, ``u_x_ignoring``: the same with every correlation
    ignored (the fit of the diagonal of V, nothing shared with the samples)."""

    y: np.ndarray
    x: np.ndarray
    u_x: np.ndarray
    cov: np.ndarray
    k: float
    level: float
    x_ignoring: np.ndarray
    u_x_ignoring: np.ndarray
    names: list
    shared: bool

    @property
    def U(self) -> np.ndarray:
        return self.k * self.u_x

    def rows(self) -> list:
        return [dict(name=n, y=float(a), x=float(b), u_x=float(c), U=float(self.k * c),
                     x_ignoring=float(d), u_x_ignoring=float(e))
                for n, a, b, c, d, e in zip(self.names, self.y, self.x, self.u_x,
                                            self.x_ignoring, self.u_x_ignoring)]

    def __str__(self) -> str:
        head = (f"{'sample':<12} {'y':>12} {'x':>12} {'u(x)':>11} "
                f"{f'U ({self.level:.0%})':>11} {'u(x) ignoring':>14}")
        lines = [head, "-" * len(head)]
        for r in self.rows():
            lines.append(f"{r['name']:<12} {r['y']:>12.6g} {r['x']:>12.6g} {r['u_x']:>11.4g} "
                         f"{r['U']:>11.4g} {r['u_x_ignoring']:>14.4g}")
        lines.append(f"u(x) with the stated correlations{' (shared with the standards)' if self.shared else ''}; "
                     f"'ignoring': every correlation left out; k = {self.k:.3g}")
        return "\n".join(lines)


@dataclass
class CorrelatedCalibration:
    """A curve fitted to correlated standards (:func:`fit_correlated`): the scaled
    polynomial ``coef`` on [``xmin``, ``xmax``] with its covariance ``cov`` (first
    order, as stated by V), ``chi2`` with ``dof``, the adjusted x values
    ``x_adjusted`` and the curve at them ``fitted``, ``gain`` (d coef / d z), ``v`` the
    standards' covariance, ``iterations``."""

    x: np.ndarray
    y: np.ndarray
    v: np.ndarray
    coef: np.ndarray
    cov: np.ndarray
    chi2: float
    dof: int
    x_adjusted: np.ndarray
    fitted: np.ndarray
    gain: np.ndarray
    xmin: float
    xmax: float
    iterations: int
    correlations: Correlations | None = None
    ignored: bool = False
    _ignoring: object = field(default=None, repr=False)

    @property
    def degree(self) -> int:
        return self.coef.size - 1

    @property
    def u_coef(self) -> np.ndarray:
        return np.sqrt(np.diag(self.cov))

    @property
    def p_value(self) -> float:
        """P(chi2_dof > chi2): the standards agree with the curve and their stated
        covariance (ISO/TS 28037 clause 10); NaN without degrees of freedom."""
        if self.dof < 1:
            return float("nan")
        return _lab.upper_tail(3, self.chi2, float(self.dof))

    def power_coefficients(self):
        """(a, cov_a): the curve in powers of x, a[0] + a[1] x + ..."""
        a, ca, st = LCu.power(self.coef, self.cov, self.xmin, self.xmax)
        if st:
            raise FitError(f"power form: {_status(st)}")
        return a, ca

    def evaluate(self, x, uncertainty: bool = False):
        """p(x) (and u(p(x)) where ``uncertainty``), also beyond the interval."""
        y, _, u, st = LCu.curve(self.coef, self.cov, self.xmin, self.xmax,
                                np.atleast_1d(np.asarray(x, dtype=np.float64)),
                                LCu.VALUE | (LCu.UNCERTAINTY if uncertainty else 0), extend=True)
        if st:
            raise InputError(f"evaluate: {_status(st)}")
        return (y, u) if uncertainty else y

    def __call__(self, x):
        return self.evaluate(x)

    def ignoring(self) -> "CorrelatedCalibration":
        """The same standards fitted with every correlation ignored (V's diagonal)."""
        if self.ignored:
            return self
        if self._ignoring is None:
            self._ignoring = _fit(self.x, self.y, self.v, self.degree, (self.xmin, self.xmax),
                                  None, None, True, self.correlations, ignore=True)
        return self._ignoring

    def inverse(self, y, u_y=0.0, *, samples=None, names=None,
                level: float = 0.95) -> CorrelatedPrediction:
        """Read responses ``y`` off the curve, with their joint covariance.

        ``u_y``: each response's independent standard uncertainty; the sources of the
        :class:`quorvex.Correlations` add their ``samples`` contributions (``samples`` maps a
        source's name to other contributions), shared with the standards.
        """
        ys = np.atleast_1d(np.asarray(y, dtype=np.float64))
        if ys.ndim != 1 or ys.size == 0:
            raise InputError("give at least one response")
        if self.degree < 1:
            raise InputError("a constant curve cannot be read back")
        m, n = ys.size, self.x.size
        uy = _per_standard(u_y, m, "u_y of the samples", signed=False)
        corr = self.correlations or Correlations()
        vs, czs, shared = corr.shared_with_samples(n, m, uy, samples)
        x, cov, ux, st = LC.inverse(self.coef, self.cov, self.xmin, self.xmax, self.gain, ys, vs,
                                    1 if shared else 0, czs)
        if st not in (0, LC.INCONSISTENT):
            raise InputError(f"inverse: {_status(st)}")
        if st == LC.INCONSISTENT:
            raise FitError(f"inverse: {_status(st)}", code=st)
        try:  # the comparison is shown where the fit ignoring the correlations exists
            ig = self.ignoring()
        except QuorvexError:
            ig = None
        if ig is None:
            xi = uxi = np.full(m, np.nan)
        else:
            xi, _, uxi, st2 = LC.inverse(ig.coef, ig.cov, ig.xmin, ig.xmax, ig.gain, ys, vs, 2)
            if st2 not in (0, LC.INCONSISTENT):
                raise InputError(f"inverse: {_status(st2)}")
        k, stk = LCu.coverage(0, 0, level)
        if stk:
            raise InputError(f"level: {_status(stk)}")
        names = list(names) if names is not None else [str(i + 1) for i in range(m)]
        return CorrelatedPrediction(y=ys, x=x, u_x=ux, cov=cov, k=k, level=level, x_ignoring=xi,
                                    u_x_ignoring=uxi, names=names, shared=shared)

    def summary(self) -> str:
        """The coefficients in powers of x with their uncertainties, with and without the
        stated correlations, and chi2."""
        a, ca = self.power_coefficients()
        try:
            b, cb = self.ignoring().power_coefficients()
        except QuorvexError:  # that fit did not converge: its columns are left empty
            b, cb = np.full(a.size, np.nan), np.full((a.size, a.size), np.nan)
        lines = [f"generalized Gauss-Markov fit of degree {self.degree} to {self.x.size} "
                 f"standards on [{self.xmin:.6g}, {self.xmax:.6g}]",
                 f"{'':<6} {'value':>14} {'u':>11} {'value ignoring':>15} {'u ignoring':>11}"]
        for j in range(a.size):
            lines.append(f"a{j:<5} {a[j]:>14.7g} {np.sqrt(ca[j, j]):>11.4g} {b[j]:>15.7g} "
                         f"{np.sqrt(cb[j, j]):>11.4g}")
        lines.append(f"chi2 = {self.chi2:.4g} with {self.dof} degrees of freedom"
                     + (f" (p = {self.p_value:.3g})" if self.dof > 0 else ""))
        return "\n".join(lines)

    def __str__(self) -> str:
        return self.summary()


def _fit(x, y, v, degree, interval, tol, maxit, accept_unconverged, correlations,
         ignore=False) -> CorrelatedCalibration:
    r = LC.ggm_fit(x, y, v, degree + 1, interval, tol, maxit, ignore)
    st = r["istat"]
    if st == LC.NO_CONVERGENCE and not accept_unconverged:
        raise FitError(f"{_status(st)} ({r['info'][0]} iterations)", code=st)
    if st not in (0, LC.NO_CONVERGENCE):
        err = FitError if st in (LC.DEGENERATE,) else InputError
        raise err(_status(st, r["info"]), code=st)
    return CorrelatedCalibration(
        x=x, y=y, v=v, coef=r["coef"], cov=np.asarray(r["cov"]), chi2=r["chi2"], dof=r["dof"],
        x_adjusted=r["x_adjusted"], fitted=r["fitted"], gain=r["gain"], xmin=r["interval"][0],
        xmax=r["interval"][1], iterations=r["info"][0], correlations=correlations,
        ignored=ignore)


def fit_correlated(x, y, correlations, degree: int = 1, interval=None, *, tol=None,
                   maxit: int | None = None,
                   accept_unconverged: bool = False) -> CorrelatedCalibration:
    """Fit a curve of the given degree (0 to 9) to standards whose x and y errors are
    shared as ``correlations`` states: a :class:`quorvex.Correlations`, or the covariance V
    (2n x 2n) of (x_1..x_n, y_1..y_n) itself.

    Generalized Gauss-Markov regression (ISO/TS 28037 clause 10): minimises
    (z - zeta)' V^-1 (z - zeta) over the coefficients and the true x values.
    ``interval``: the curve's; by default the standards' range widened on each side by
    max(10 max u(x), 5 % of the range).  ``tol``, ``maxit``: the iteration's stopping
    rule (default 1e-8 standard uncertainties, the last step taken; 100 iterations).
    """
    x = np.ascontiguousarray(x, dtype=np.float64)
    y = np.ascontiguousarray(y, dtype=np.float64)
    if x.ndim != 1 or y.shape != x.shape:
        raise InputError("x and y must be 1-D and of the same length")
    if not isinstance(degree, (int, np.integer)) or not 0 <= degree < MAX_NCOEF:
        raise InputError(f"the degree must lie between 0 and {MAX_NCOEF - 1}, not {degree}")
    if x.size < degree + 1:
        raise InputError(f"a curve of degree {degree} needs at least {degree + 1} standards, "
                         f"not {x.size}")
    if isinstance(correlations, Correlations):
        v = correlations.covariance(x)
        corr = correlations
    else:
        v = np.asfortranarray(correlations, dtype=np.float64)
        if v.shape != (2 * x.size, 2 * x.size):
            raise InputError(f"V must be {2 * x.size} x {2 * x.size}")
        corr = None
    if interval is not None:
        interval = (float(interval[0]), float(interval[1]))
    return _fit(x, y, v, int(degree), interval, tol, maxit, accept_unconverged, corr)
