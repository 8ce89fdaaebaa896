"""Variance models of a calibration's responses, fitted to replicate standards.

A laboratory whose scatter grows with the level but does not vanish at the blank
describes it by a model, fitted to the standards measured in replicate, and weights the
curve by it:

========================  =====================================  ==================
model                     sigma^2                                 at the blank
========================  =====================================  ==================
``"constant"``            a^2                                     a
``"proportional"``        b^2 x^2                                 0 (no floor)
``"floor"``               a^2 + b^2 x^2                           a
``"power"``               a^2 abs(mu)^(2b), mu the mean response  0 for b > 0
========================  =====================================  ==================

Each model maximizes the likelihood of the replicate groups' scatter (Carroll &
Ruppert 1988, ch. 3; Davidian & Giltinan 1995, 2.3; the constant model's a^2 is
ISO 5725-2's pooled variance).  ``model="auto"`` takes the one-parameter model (constant
or proportional) of larger likelihood and replaces it by the two-parameter model (floor
or power) of larger likelihood where the likelihood-ratio test rejects it at ``alpha``.
The fit, the choice and every number come from the laboratory library.
"""
from __future__ import annotations

import math
from dataclasses import dataclass, field

import numpy as np

from . import _lab_variance as LV
from . import _validate as V
from .errors import InputError

MODELS = LV.MODELS
FLOORED = ("constant", "floor")


def _none_nan(v):
    return None if v is None or (isinstance(v, float) and math.isnan(v)) else float(v)


@dataclass(frozen=True)
class VarianceModel:
    """A fitted variance model.

    Attributes
    ----------
    model : str
        "constant", "proportional", "floor" or "power".
    a, b : float
        Its parameters (a parameter the model lacks is 0).
    cov : tuple of 4 floats
        Column-major 2 x 2 covariance of the estimated parameters theta: (a^2, b^2) for
        the constant, proportional and floor models, (ln a, b) for the power model.
    dof, groups : int
        Replicate degrees of freedom (readings less groups) and groups with replicates.
    loglik : dict
        Each model's maximum log-likelihood (None: not fitted; -inf: the model gives no
        scatter where the replicates scatter).
    alpha, lr, p : float or None
        ``model="auto"``: the test's level, the likelihood-ratio statistic and its
        p-value; None for a model named.
    x, mu, sd : tuple of float
        The standards' x, their group's mean response (the fitted curve, from
        residuals) and the model's sigma there.
    source : str
        "replicates" (the scatter of replicate groups) or "residuals" (the curve's
        leverage-corrected residuals, for standards without replicates).
    """

    model: str
    a: float
    b: float
    cov: tuple
    dof: int
    groups: int
    loglik: dict
    alpha: float | None = None
    lr: float | None = None
    p: float | None = None
    x: tuple = field(default=(), repr=False)
    mu: tuple = field(default=(), repr=False)
    sd: tuple = field(default=(), repr=False)
    source: str = "replicates"

    @property
    def has_floor(self) -> bool:
        """The model gives the blank a scatter of its own (constant, floor)."""
        return self.model in FLOORED

    def at(self, x, mu=None) -> tuple[np.ndarray, np.ndarray]:
        """(sigma, dof) at x (at the mean response ``mu`` for the power model): the
        model's scatter of one reading and the Satterthwaite degrees of freedom of its
        estimate."""
        xv = V.vector("x", x)
        if self.model == "power" and mu is None:
            raise InputError("the power model's scatter depends on the mean response: give mu")
        sd, dof, st = LV.at(MODELS.index(self.model), self.a, self.b, self.cov, xv, mu)
        if st:
            from ._lab import status_text
            raise InputError(f"variance model: {status_text(st)}")
        return sd, dof

    def text(self) -> str:
        form = {"constant": f"sigma = {self.a:.4g}",
                "proportional": f"sigma = {self.b:.4g} x",
                "floor": f"sigma^2 = {self.a:.4g}^2 + ({self.b:.4g} x)^2",
                "power": f"sigma = {self.a:.4g} |mu|^{self.b:.4g}"}[self.model]
        t = (f"variance model: {self.model}, {form} ({self.dof} replicate dof in {self.groups} "
             "groups)" if self.source == "replicates" else
             f"variance model: {self.model}, {form} (from the residuals of {self.groups} "
             f"standards, {self.dof} dof)")
        if self.alpha is not None:
            t += (f"; chosen by the likelihood-ratio test at alpha = {self.alpha:g} "
                  f"(LR {self.lr:.3g}, p {self.p:.3g})")
        return t

    def to_dict(self) -> dict:
        return dict(model=self.model, a=self.a, b=self.b, cov=list(self.cov), dof=self.dof,
                    groups=self.groups,
                    loglik={k: (None if v is None else (v if math.isfinite(v) else None))
                            for k, v in self.loglik.items()},
                    alpha=self.alpha, lr=_none_nan(self.lr), p=_none_nan(self.p),
                    x=list(self.x), mu=list(self.mu), sd=list(self.sd), source=self.source)

    @classmethod
    def from_dict(cls, d: dict) -> "VarianceModel":
        try:
            model = str(d["model"])
            if model not in MODELS:
                raise InputError(f"a variance model must be one of {', '.join(MODELS)}, not "
                                 f"{model!r}")
            cov = tuple(float(v) for v in d["cov"])
            if len(cov) != 4:
                raise InputError("a variance model's cov holds 4 numbers")
            return cls(model, float(d["a"]), float(d["b"]), cov, int(d["dof"]),
                       int(d["groups"]), dict(d.get("loglik") or {}), d.get("alpha"),
                       d.get("lr"), d.get("p"), tuple(float(v) for v in d.get("x", ())),
                       tuple(float(v) for v in d.get("mu", ())),
                       tuple(float(v) for v in d.get("sd", ())),
                       str(d.get("source", "replicates")))
        except (KeyError, TypeError, ValueError) as e:
            raise InputError(f"a damaged variance model: {e}") from None


def fit_variance(x, y, model: str = "auto", alpha: float = 0.05,
                 degree: int | None = None) -> VarianceModel:
    """Fit a variance model to standards measured in replicate (equal x values).

    Parameters
    ----------
    x, y : array_like (n,)
        The standards; readings at equal x form a replicate group.
    model : {"auto", "constant", "proportional", "floor", "power"}
    alpha : float
        ``"auto"``: the level of the likelihood-ratio test that replaces a
        one-parameter model by a two-parameter one.
    degree : int, optional
        For standards without replicates: fit the model to the residuals of a curve of
        this degree instead, each r_i**2/(1 - h_i) a variance with one degree of
        freedom, the curve refitted with the model's weights (three cycles; Carroll &
        Ruppert 1988, 3.3).  Its parameters carry the residuals' n - degree - 1 degrees
        of freedom.

    Raises
    ------
    InputError
        Too few replicate groups (1 for the constant and proportional models, 3
        otherwise), replicates without scatter, or a model that gives no scatter where
        the replicates scatter.
    """
    xv = V.vector("x", x)
    yv = V.same_length("y", V.vector("y", y), xv.shape[0])
    if model != "auto" and model not in MODELS:
        raise InputError(f"variance model must be 'auto' or one of {', '.join(MODELS)}, "
                         f"not {model!r}")
    alpha = V.real("alpha", alpha)
    if not 0.0 < alpha < 1.0:
        raise InputError(f"alpha must lie strictly between 0 and 1, not {alpha:g}")
    if xv.shape[0] < 2:
        raise InputError("a variance model needs standards measured in replicate")
    code = LV.AUTO if model == "auto" else MODELS.index(model)
    if degree is not None:
        degree = V.integer("degree", degree, 0, 9)
        r = LV.fit_residuals(xv, yv, degree + 1, code, alpha)
    else:
        r = LV.fit(xv, yv, code, alpha)
    st = r["istat"]
    if st not in (0, LV.ZERO_AT_STANDARD):
        from ._lab import status_text
        raise InputError(f"variance model: {status_text(st)}")
    name = MODELS[r["model"]]
    if st == LV.ZERO_AT_STANDARD:
        i = int(np.flatnonzero(~(r["sd"] > 0))[0])
        raise InputError(f"the {name} variance model gives no scatter at the standard x = "
                         f"{xv[i]:g} (element {i}), whose weight would be infinite: keep a "
                         "blank standard only under a model with a floor (constant or floor)")
    loglik = {m: (None if math.isnan(v) else float(v)) for m, v in zip(MODELS, r["loglik"])}
    auto = model == "auto"
    return VarianceModel(name, r["a"], r["b"], tuple(float(v) for v in r["cov"]), r["dof"],
                         r["groups"], loglik, alpha if auto else None,
                         r["lr"] if auto else None, r["p"] if auto else None,
                         tuple(xv.tolist()), tuple(r["mu"].tolist()), tuple(r["sd"].tolist()),
                         "replicates" if degree is None else "residuals")


def blank_scatter(readings) -> tuple[float, float]:
    """(sd, dof) of readings of blanks: the scatter of one reading of the blank and its
    degrees of freedom, n - 1."""
    yv = V.vector("blank_readings", readings)
    if yv.shape[0] < 2:
        raise InputError("blank_readings: at least 2 readings of blanks are needed for "
                         "their scatter")
    sd, dof, st = LV.blank_scatter(yv)
    if st:
        from ._lab import status_text
        raise InputError(f"blank_readings: {status_text(st)}")
    return sd, dof
