"""Inverse prediction: responses read back into x, with the joint covariance on demand.

Every number of a reading (roots, u(y) and its source, the parts of u(x), the
effective degrees of freedom, k, U, the inversion interval and the sample flags)
comes from the laboratory library's ``QVXL_READBACK`` in one call per chunk of
responses; this module checks the arguments, calls it and presents the result.
"""
from __future__ import annotations

import math
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, fields

import numpy as np

from . import _lab
from . import _validate as V
from . import _lab_curve as LC
from .errors import InputError

CHUNK = 1 << 16  # responses per call of the library (their outputs: about 8 MiB)
DEFAULT_NGRID = 100
CURVE_ONLY = "curve-only"


@dataclass(frozen=True, eq=False)
class InversePrediction:
    """The x values a calibration gives for measured responses.

    Attributes
    ----------
    y, u_y : ndarray (n,)
        The responses and the standard uncertainties used for them.
    n_roots : ndarray of int (n,)
        Roots found in the curve's interval per response (at most degree).
    roots, u_roots : ndarray (n, degree)
        All roots of each response in increasing order and their standard
        uncertainties, NaN-padded.
    x, u_x : ndarray (n,)
        The first root and its standard uncertainty (NaN where there is none).
    u_curve : ndarray (n,)
        The curve's part of u(x), sqrt(g' C g) / |p'(x)|.
    dof, k, U : ndarray (n,)
        Effective degrees of freedom of u(x), the coverage factor at ``level`` and
        the expanded uncertainty U = k u(x) (GUM 6.2).
    low, high : ndarray (n,)
        The inversion (Fieller) interval at ``level``.
    flags : ndarray of int (n,)
        The sample flags as a bit set (``quorvex._lab.FLAG_*``).
    no_root, several_roots, at_end, interval_open : ndarray of bool (n,)
        No root in the interval; more than one root; a root at an end of the
        interval (within 1e-9 of its width); the inversion interval reaching an end.
    coef, cov_coef : ndarray
        The curve's coefficients and the covariance the uncertainties used.
    interval : (float, float)

    Notes
    -----
    The joint covariance of the predictions is
    Cov(x_i, x_j) = g_i' C g_j / (p'(x_i) p'(x_j)) + [i == j] u_y[i]**2 / p'(x_i)**2,
    g the basis row and C the coefficient covariance: samples read off one curve are
    correlated through its coefficients.  ``cov`` forms it (n x n); ``sensitivity``
    and ``response_variance`` are its factors, and ``variance``/``combine`` use them
    without forming it.
    """

    y: np.ndarray
    u_y: np.ndarray
    n_roots: np.ndarray
    roots: np.ndarray
    u_roots: np.ndarray
    coef: np.ndarray
    cov_coef: np.ndarray
    interval: tuple
    u_curve: np.ndarray
    dof: np.ndarray
    k: np.ndarray
    U: np.ndarray
    low: np.ndarray
    high: np.ndarray
    flags: np.ndarray
    x_ext: np.ndarray
    u_x_ext: np.ndarray
    u_y_code: np.ndarray
    replicates: np.ndarray | None = None
    level: float = 0.95
    dof_curve: float = math.inf
    request: dict | None = None

    def __post_init__(self):
        for f in fields(self):
            v = getattr(self, f.name)
            if isinstance(v, np.ndarray):
                v.flags.writeable = False

    @classmethod
    def concatenate(cls, parts) -> "InversePrediction":
        """One prediction from predictions of consecutive chunks of responses on one
        curve."""
        first = parts[0]
        kw = {}
        for f in fields(first):
            v = getattr(first, f.name)
            if isinstance(v, np.ndarray) and f.name not in ("coef", "cov_coef"):
                v = np.concatenate([getattr(p, f.name) for p in parts])
            kw[f.name] = v
        return cls(**kw)

    @property
    def x(self) -> np.ndarray:
        return self.roots[:, 0]

    @property
    def u_x(self) -> np.ndarray:
        return self.u_roots[:, 0]

    def _flag(self, bit: int) -> np.ndarray:
        return (self.flags & bit) != 0

    @property
    def no_root(self) -> np.ndarray:
        return self.n_roots == 0

    @property
    def several_roots(self) -> np.ndarray:
        return self.n_roots > 1

    @property
    def at_end(self) -> np.ndarray:
        return self._flag(_lab.FLAG_AT_END)

    @property
    def interval_open(self) -> np.ndarray:
        """The inversion interval reaches an end of the curve's interval: the data do not
        bound x on that side within the curve."""
        return self._flag(_lab.FLAG_INTERVAL_OPEN)

    @property
    def u_y_source(self) -> tuple:
        """Where each u(y) came from, per response: "from the scatter, 1 reading" ("..., 3
        readings"), "stated" or "curve only" (a stated 0 included)."""
        m = self.replicates
        out = []
        for i, c in enumerate(self.u_y_code.tolist()):
            r = int(m[i]) if m is not None else 1
            out.append(_lab.text(3, c).format(m=r, s="s" if r != 1 else ""))
        return tuple(out)

    @property
    def dof_reading(self) -> np.ndarray | None:
        """Degrees of freedom of the reading's part of u(x): the fit's where u(y) came
        from the scatter, inf where it was stated; None when none came from the
        scatter."""
        scatter = self.u_y_code == _lab.UYSRC_SCATTER
        if not scatter.any():
            return None
        return np.where(scatter, float(self.request["ndof"]), math.inf)

    @property
    def coverage(self) -> float:
        """The coverage probability of ``U`` and of the intervals (``level``)."""
        return self.level

    def __len__(self) -> int:
        return int(self.y.shape[0])

    def __repr__(self) -> str:
        return (f"InversePrediction(n={len(self)}, no_root={int(self.no_root.sum())}, "
                f"several_roots={int(self.several_roots.sum())}, at_end={int(self.at_end.sum())})")
    # Joint covariance, factored: cov = S C S' + diag(d), from the laboratory library.
    def _joint(self, mode: int, w=None):
        s, d, out, value, st = LC.joint_cov(self.coef, self.cov_coef, *self.interval, self.x,
                                            self.u_y, mode, w)
        if st != 0:
            raise InputError(f"joint covariance: {_lab.status_text(st)}")
        return s, d, out, value

    @property
    def sensitivity(self) -> np.ndarray:
        """S (n x ncoef): dx_i/dc = -g(x_i)/p'(x_i); rows of NaN where there is no root."""
        return self._joint(0)[0]

    @property
    def response_variance(self) -> np.ndarray:
        """d (n,): u_y**2 / p'(x)**2, the part of each variance from its own response."""
        return self._joint(0)[1]

    @property
    def cov(self) -> np.ndarray:
        """The joint covariance (n x n) of the first roots ``x``.  Its diagonal is u_x**2."""
        return self._joint(1)[2]

    def variance(self, weights) -> float | np.ndarray:
        """Variance of sum_i w_i x_i (one weight vector), or covariance matrix of several
        such combinations (rows of a k x n matrix), without forming the n x n matrix.

        An average of m replicates is ``np.full(m, 1/m)``; the difference of samples i and
        j a vector with +1 at i and -1 at j (zeros elsewhere).
        """
        w = np.asarray(weights, dtype=np.float64)
        one = w.ndim == 1
        w2 = np.atleast_2d(w)
        if w2.ndim != 2 or w2.shape[1] != len(self):
            raise InputError(f"weights must have {len(self)} columns, not shape {w.shape}")
        v = self._joint(2, w2)[2]
        return float(v[0, 0]) if one else v

    def combine(self, weights) -> tuple[float, float]:
        """sum_i w_i x_i and its standard uncertainty."""
        w = np.asarray(weights, dtype=np.float64)
        if w.ndim != 1 or w.shape[0] != len(self):
            raise InputError(f"weights must have {len(self)} elements, not shape {w.shape}")
        _, _, v, value = self._joint(2, w[None, :])
        return float(value[0]), float(np.sqrt(v[0, 0]))


def inverse(cal, y, u_y=None, ngrid: int | None = None, tol: float = 0.0,
            covariance: str | None = None, extrapolate: bool = False,
            workers: int = 1, *, replicates=1, level: float = 0.95,
            limits=None, u_y_relative=None) -> InversePrediction:
    """Every x in the curve's interval with p(x) = y, with standard uncertainties.

    Parameters
    ----------
    cal : Calibration
    y : float or array_like (n,)
        Measured responses.
    u_y : None, float, array_like (n,) or "curve-only"
        The responses' standard uncertainties.  None (default): when the calibration has
        no stated uncertainties (its scale comes from the residual scatter), the scatter
        of one reading at the sample's x, SRES / W(x) (SRES unweighted, SRES sqrt(x)
        under "1/x", SRES |x| under "1/x2"), divided by sqrt(``replicates``); with stated
        uncertainties on the standards None is an error, unless the covariance is scaled
        (the stated u(y) are relative weights) and ``u_y_relative`` is given.  A number
        or array: stated values.  "curve-only": 0, the curve's uncertainty alone.
    u_y_relative : float or array_like (n,), optional
        With relative stated u(y) on the standards (``covariance="scaled"``): each
        sample's u(y) on their scale, 1/sqrt(w) for a weight w.  Its u(y) is then
        SRES times this, over sqrt(``replicates``), from the scatter: k takes the fit's
        degrees of freedom.
    replicates : int or array_like of int (n,)
        Readings averaged into each response (default u_y only).
    level : float
        Coverage probability of ``U`` and of the inversion interval (``low``, ``high``).
    ngrid : int, optional
        Number of equal cells of the interval scanned for sign changes (default 100).
        Two roots closer than one cell are not seen.
    tol : float
        Absolute tolerance of the zero finder added to 4 eps |x| (0: full precision).
    covariance : {"stated", "scaled"}, optional
        Overrides the calibration's choice of covariance.
    extrapolate : bool
        Degree 1 only: the closed form x = (y - intercept)/slope (``IPVAL_DEGREE1``),
        which also answers responses outside the interval.
    workers : int
        Threads that invert chunks side by side (the library releases Python's lock).
    limits : DetectionLimits or dict, optional
        Detection limits whose LOD and LOQ the sample flags compare x with.

    Returns
    -------
    InversePrediction
        u(x)**2 = (g' C g + u_y**2) / p'(x)**2 for every root (GUM 5.1.2); ``U`` = k u(x)
        with ``k`` and ``dof``; the inversion interval ``low``, ``high``; the flags.
    """
    level = V.real("level", level)
    if not 0.0 < level < 1.0:
        raise InputError(f"level must lie strictly between 0 and 1, not {level:g}")
    routine = "IPVAL_DEGREE1" if extrapolate else "IPVAL"
    yv = np.array(V.vector("y", y, routine), dtype=np.float64, order="C")  # its own copy
    n = yv.shape[0]
    one = np.ones(1)
    repl = one
    relative = False
    if u_y is not None and not isinstance(u_y, str):
        if not (type(replicates) is int and replicates == 1):
            raise InputError("replicates applies to the default u(y) from the scatter; a "
                             "stated u_y is already that of the response as given")
        uymode = 0
        uy = V.same_length("u_y", V.vector("u_y", u_y, routine), n, routine, broadcast=True)
        if not (uy >= 0).all():
            i = int(np.flatnonzero(~(uy >= 0))[0])
            raise InputError(f"u_y must not be negative: element {i} is {uy[i]:g}",
                             routine=routine)
        uy = np.ascontiguousarray(np.broadcast_to(uy, (n,)), dtype=np.float64)
    elif u_y == CURVE_ONLY:
        if not (type(replicates) is int and replicates == 1):
            raise InputError("replicates has no meaning with u_y='curve-only' (u(y) = 0)")
        uymode, uy = 2, one
    elif isinstance(u_y, str):
        raise InputError(f"u_y must be a number, an array, None or 'curve-only', not {u_y!r}")
    elif cal.options.get("variance") is not None and covariance in (None, "stated"):
        if extrapolate:
            raise InputError("a calibration weighted by a variance model reads samples back "
                             "on the curve: extrapolate needs u_y given", routine=routine)
        uymode, uy = 3, one  # u(y) from the variance model
        repl = _replicates(replicates, n)
    else:
        uymode, uy = 1, one
        which = cal.covariance if covariance is None else covariance
        if cal.u_y is not None and which == "scaled" and u_y_relative is not None:
            relative = True
            uy = V.same_length("u_y_relative", V.vector("u_y_relative", u_y_relative, routine),
                               n, routine, broadcast=True)
            if not (np.isfinite(uy) & (uy > 0)).all():
                raise InputError("u_y_relative must be positive and finite", routine=routine)
            uy = np.ascontiguousarray(np.broadcast_to(uy, (n,)), dtype=np.float64)
        elif cal.u_y is not None:
            raise InputError("the standards carry stated uncertainties, so a sample's "
                             "response uncertainty is not known from their scatter: give "
                             "u_y per sample (an array or a column), one value for all (a "
                             "number), or u_y='curve-only' for the curve's uncertainty alone"
                             + ("; with relative stated u(y) (covariance 'scaled') "
                                "u_y_relative gives each sample's on their scale"
                                if which == "scaled" else ""))
        if cal.dof == 0:
            raise InputError("the fit has no degrees of freedom, so the scatter of a reading "
                             "is not known: give u_y, or u_y='curve-only'")
        repl = _replicates(replicates, n)
    if u_y_relative is not None and not relative:
        raise InputError("u_y_relative applies where the standards carry relative stated "
                         "u(y) (covariance 'scaled') and u_y is left out", routine=routine)
    ngrid = (DEFAULT_NGRID if ngrid is None
             else V.integer("ngrid", ngrid, 1, V.MAX_NGRID, routine=routine))
    tol = V.real("tol", tol, routine)
    if not tol >= 0:
        raise InputError(f"tol must not be negative, not {tol:g}", routine=routine)
    workers = V.integer("workers", workers, 1, 256, routine=routine)
    if cal.ncoef < 2:
        raise InputError("a constant curve (degree 0) has no inverse", routine=routine)
    if extrapolate and cal.ncoef != 2:
        raise InputError(f"extrapolate needs a straight line (degree 1), not degree "
                         f"{cal.degree}", routine=routine)
    which = cal.covariance if covariance is None else covariance
    cov = np.asfortranarray(cal.covariance_for(covariance))
    lod, loq = _limit_values(limits)
    req = dict(coef=np.ascontiguousarray(cal.coef, dtype=np.float64), cov=cov,
               xmin=float(cal.interval[0]), xmax=float(cal.interval[1]),
               covkind=1 if which == "scaled" else 0, ndof=int(cal.dof),
               sres=float(cal.sres), weighting=_lab.WEIGHTING_CODES[cal.options.get("weighting")],
               stated=cal.u_y is not None, xstd=(float(np.min(cal.x)), float(np.max(cal.x))),
               uymode=0 if uymode == 3 else uymode, level=float(level), ngrid=ngrid,
               tol=float(tol), extrapolate=bool(extrapolate), lod=lod, loq=loq)
    vm = cal.options.get("variance") if uymode == 3 else None

    o = _lab.readback_outputs(n, cal.ncoef)
    status = []

    def run(start):
        part = slice(start, min(start + CHUNK, n))
        if vm is not None:
            from . import _lab_variance
            r = _lab_variance.readback(
                req["coef"], cov, req["xmin"], req["xmax"], vm, cal.x, vm["mu"], req["xstd"],
                yv[part], repl[part], req["level"], ngrid, req["tol"], lod, loq,
                out={k: v[part] for k, v in o.items()})
            status.append(r["istat"])
            return
        r = _lab.readback(y=yv[part], uy=uy[part] if uymode == 0 or relative else one,
                          repl=repl[part] if uymode == 1 else one,
                          out={k: v[part] for k, v in o.items()}, **req)
        status.append(r["istat"])

    starts = range(0, n, CHUNK)
    if workers > 1 and n > CHUNK:
        with ThreadPoolExecutor(max_workers=workers) as pool:
            list(pool.map(run, starts))
    else:
        for s in starts:
            run(s)
    bad = [st for st in status if st != 0]
    if bad:
        raise InputError(f"inverse prediction: {_lab.status_text(bad[0])}",
                         routine=routine)
    dof_curve = cal.dof if which == "scaled" and cal.dof > 0 else math.inf
    if relative:
        req["uy_relative"] = uy
    return InversePrediction(
        y=yv, u_y=o["u_y"], n_roots=o["n_roots"], roots=o["roots"],
        u_roots=o["u_roots"], coef=req["coef"], cov_coef=cov, interval=(req["xmin"], req["xmax"]),
        u_curve=o["u_curve"], dof=o["dof"], k=o["k"], U=o["U"], low=o["low"], high=o["high"],
        flags=o["flags"], x_ext=o["x_ext"], u_x_ext=o["u_x_ext"], u_y_code=o["u_y_code"],
        replicates=repl if uymode in (1, 3) else None,
        level=float(level), dof_curve=dof_curve,
        request=req if vm is None else dict(req, variance=True))


def _replicates(replicates, n: int) -> np.ndarray:
    m = np.asarray(replicates)
    if m.dtype.kind not in "iu" and not (m.dtype.kind == "f" and np.all(m == np.round(m))):
        raise InputError(f"replicates must be whole numbers, not {replicates!r}")
    m = m.astype(np.float64).reshape(-1) if m.ndim == 0 else \
        V.same_length("replicates", m.astype(np.float64), n, "IPVAL", broadcast=True)
    if not (m >= 1).all():
        raise InputError("replicates must be 1 or more")
    return np.ascontiguousarray(np.broadcast_to(m, (n,)) if m.shape[0] == 1 else m)


def _limit_values(limits) -> tuple[float | None, float | None]:
    """LOD and LOQ in x that samples are flagged against, from detection limits (their
    dict or object), by the laboratory library's rule (``QVXL_SAMPLE_LIMITS``)."""
    if limits is None:
        return None, None
    from dataclasses import asdict
    lim = limits if isinstance(limits, dict) else asdict(limits)

    def value(name):
        v = lim.get(name)
        return math.nan if v is None else float(v)

    blank = value("blank") if "blank" in lim else 0.0
    if lim.get("lod_definition") or lim.get("loq_definition"):
        # The laboratory's own definitions of the limits (QVXL_LIMIT_CHOICE).
        from . import _lab_workflow as W
        r = W.limit_choice(lim, blank, W.LOD_DEFINITIONS[lim.get("lod_definition") or
                                                         W.LOD_DEFAULT],
                           W.LOQ_DEFINITIONS[lim.get("loq_definition") or W.LOQ_DEFAULT],
                           0.0, 0.0)
        if r["istat"] != 0:
            raise InputError(f"limits: {_lab.status_text(r['istat'])}")
        haslim, lod, loq = r["haslim"], r["lod"], r["loq"]
    else:
        haslim, lod, loq = _lab.sample_limits(blank, value("x_detection"), value("loq"),
                                              value("loq_din"))
    return (lod if haslim & 1 else None), (loq if haslim & 2 else None)


def reading_uncertainty(cal, y, replicates=1, ngrid=None, tol=0.0, covariance=None,
                        extrapolate=False, workers=1):
    """The default u(y) of responses: (u_y, sources, dof) per response (see ``inverse``).

    Refused where the standards carry stated uncertainties and where the fit has no
    degrees of freedom.
    """
    p = inverse(cal, y, None, ngrid, tol, covariance, extrapolate, workers,
                replicates=replicates)
    dof = np.full(len(p), float(cal.dof))
    dof.flags.writeable = False
    return p.u_y, p.u_y_source, dof


def flags_with_limits(pred: InversePrediction, limits) -> np.ndarray:
    """The sample flags of ``pred`` with detection limits compared too: the same
    reading asked of the library again, with the limits' LOD and LOQ."""
    lod, loq = _limit_values(limits)
    if (lod is None and loq is None) or pred.request is None:
        return pred.flags
    from ._lab_workflow import WORKFLOW_FLAGS  # bits set after reading: kept
    req = dict(pred.request)
    req.pop("ndof_fit", None)
    rel = req.pop("uy_relative", None)
    model = req.pop("variance", False)
    req.update(lod=lod, loq=loq)
    one = np.ones(1)
    o = _lab.readback(y=np.ascontiguousarray(pred.y),
                      uy=np.ascontiguousarray(pred.u_y) if req["uymode"] == 0 else
                      rel if rel is not None else one,
                      repl=pred.replicates if req["uymode"] == 1 else one, **req)
    if o["istat"] != 0:
        raise InputError(f"sample flags: {_lab.status_text(o['istat'])}")
    if model:  # the inversion interval's flag follows the model's coverage factor
        keep = _lab.FLAG_INTERVAL_OPEN
        return ((o["flags"] & ~keep) | (np.asarray(pred.flags) & keep)
                | (np.asarray(pred.flags) & WORKFLOW_FLAGS))
    return o["flags"] | (np.asarray(pred.flags) & WORKFLOW_FLAGS)
