"""A laboratory's sample workflow around a curve: replicate readings combined and
checked, the limits a sample is reported against, and the reported result with its
dilution factor.  Every rule is the laboratory library's (``QVXL_REPLICATES``,
``QVXL_REPLICATE_CHECK``, ``QVXL_LIMIT_CHOICE``, ``QVXL_REPORTED``); this module
groups the readings by name, calls it and presents the result."""
from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

from . import _lab
from . import _lab_workflow as W
from ._lab_workflow import TEXT_LIMIT_DEFINITION
from .errors import InputError

LOD_DEFINITIONS = tuple(W.LOD_DEFINITIONS)
LOQ_DEFINITIONS = tuple(W.LOQ_DEFINITIONS)
RULES = tuple(W.RULES)
DEFAULT_REPLICATE_ALPHA = 0.01


@dataclass(frozen=True)
class Replicates:
    """Readings grouped into samples by name, in the order each name first appears.

    ``names`` one per sample; ``group`` per reading its sample (0-based); ``mean``,
    ``count``, ``sd`` per sample (``sd`` NaN for one reading); ``u_mean`` the mean's
    stated u(y) where the readings had one (else None); ``readings`` per sample the
    places of its readings."""

    names: tuple
    group: np.ndarray
    mean: np.ndarray
    count: np.ndarray
    sd: np.ndarray
    u_mean: np.ndarray | None
    readings: tuple

    def __len__(self) -> int:
        return len(self.names)


def combine(names, y, u_y=None) -> Replicates:
    """Readings with the same sample ID become one sample: mean, m readings and their
    standard deviation; with stated u(y) per reading the mean's sqrt(sum u^2)/m."""
    names = [str(v).strip() for v in names]
    y = np.asarray(y, dtype=np.float64)
    if len(names) != y.shape[0]:
        raise InputError(f"{len(names)} names for {y.shape[0]} readings")
    order: dict = {}
    group = np.array([order.setdefault(v, len(order)) for v in names], dtype=np.intc)
    uy = None
    if u_y is not None:
        uy = np.broadcast_to(np.asarray(u_y, dtype=np.float64), y.shape)
    r = W.replicates(y, group + 1, len(order), uy)
    if r["istat"] != 0:
        raise InputError(f"replicates: {_lab.status_text(r['istat'])}")
    readings = [[] for _ in order]
    for i, g in enumerate(group.tolist()):
        readings[g].append(i)
    for a in (r["mean"], r["count"], r["sd"], r["u_mean"]):
        a.flags.writeable = False
    return Replicates(names=tuple(order), group=group, mean=r["mean"], count=r["count"],
                      sd=r["sd"], u_mean=r["u_mean"] if u_y is not None else None,
                      readings=tuple(tuple(v) for v in readings))


def check(cal, reps: Replicates, x, flags, *, alpha=DEFAULT_REPLICATE_ALPHA, sigma=None,
          rsd_limit=None, reads: float = 1.0) -> dict:
    """Do each sample's readings agree?  Against the laboratory's RSD limit in percent
    (``rsd_limit``), a stated scatter of one reading (``sigma``), or by default the
    calibration's scatter (its scaled covariance with degrees of freedom; ``reads``: the
    measurements averaged into each reading, whose scatter is then that over
    sqrt(reads)).  Returns
    mode (its words), stat, p, the flags with "replicates disagree" set, and alpha
    (None where no check could be made: ``mode`` says why)."""
    if rsd_limit is not None:
        mode, what, test = 3, f"the laboratory's limit RSD <= {rsd_limit:g} %", "RSD"
    elif sigma is not None:
        mode, what = 2, f"the stated scatter of one reading {sigma:g} (chi-squared test, " \
                        f"alpha = {alpha:g})"
        test = f"chi-squared test against the stated scatter {sigma:g}"
    elif cal.covariance == "scaled" and cal.dof >= 1:
        mode, what = 1, f"the calibration's scatter (F test, alpha = {alpha:g})"
        test = "F test against the calibration's scatter"
    else:
        return {"mode": "not checked: the calibration states its uncertainties; give the "
                        "laboratory's scatter of one reading or an RSD limit",
                "stat": np.full(len(reps), np.nan), "p": np.full(len(reps), np.nan),
                "flags": np.asarray(flags), "alpha": None}
    r = W.replicate_check(reps.count, reps.mean, reps.sd, x, mode,
                          1 if cal.covariance == "scaled" else 0, int(cal.dof),
                          float(cal.sres), _lab.WEIGHTING_CODES[cal.options.get("weighting")],
                          float(reads), float(sigma or 0.0), float(alpha), float(rsd_limit or 0.0), flags)
    if r["istat"] != 0:
        raise InputError(f"replicates' check: {_lab.status_text(r['istat'])}")
    return {"mode": what, "stat": r["stat"], "p": r["p"], "flags": r["flags"],
            "alpha": None if mode == 3 else float(alpha), "kind": mode,
            "limit": rsd_limit, "test": test}


def limit_name(code: int) -> str:
    return _lab.text(TEXT_LIMIT_DEFINITION, code) or str(code)


def choose_limits(limits: dict | None, lowest: float, highest: float, lod: str = W.LOD_DEFAULT,
                  loq: str = W.LOQ_DEFAULT) -> dict:
    """The LOD and LOQ a sample is flagged against, by the laboratory's definitions
    (``lod``: x_C, x_D or ICH; ``loq``: ICH, DIN or larger), each named, and the
    reportable range from max(LOQ, lowest standard) to the highest standard."""
    if lod not in W.LOD_DEFINITIONS:
        raise InputError(f"the LOD is one of {', '.join(W.LOD_DEFINITIONS)}, not {lod!r}")
    if loq not in W.LOQ_DEFINITIONS:
        raise InputError(f"the LOQ is one of {', '.join(W.LOQ_DEFINITIONS)}, not {loq!r}")
    lim = limits or {}
    blank = float(lim.get("blank", 0.0) or 0.0) if limits else 0.0
    r = W.limit_choice(lim, blank, W.LOD_DEFINITIONS[lod], W.LOQ_DEFINITIONS[loq],
                       float(lowest), float(highest))
    if r["istat"] != 0:
        raise InputError(f"limits: {_lab.status_text(r['istat'])}")
    has_lod, has_loq = bool(r["haslim"] & 1), bool(r["haslim"] & 2)
    return {"lod": r["lod"] if has_lod else None, "loq": r["loq"] if has_loq else None,
            "lod_definition": lod, "loq_definition": loq,
            "lod_name": limit_name(W.LOD_DEFINITIONS[lod]),
            "loq_name": limit_name(W.LOQ_DEFINITIONS[loq]),
            "range": list(r["range"]),
            "range_from": ("the LOQ" if has_loq and r["loq"] > lowest else
                           "the lowest standard")}


def reported(pred, overall_ok: bool, chosen: dict, rule: str = "flag", factor=None,
             u_factor=None, flags=None) -> dict:
    """The reported value f x with its U, "< limit" by the laboratory's ``rule`` below the
    reportable range, and the flags with "calibration not fit for use" and "below the
    reportable range" added."""
    if rule not in W.RULES:
        raise InputError(f"the rule below the range is one of {', '.join(W.RULES)}, not "
                         f"{rule!r}")
    n = len(pred)
    lod = chosen.get("lod")
    # A straight line's reading beyond its interval stands in for the missing root.
    x, u_x = np.asarray(pred.x), np.asarray(pred.u_x)
    ext = ~np.isfinite(x) & np.isfinite(np.asarray(pred.x_ext))
    x = np.where(ext, pred.x_ext, x)
    u_x = np.where(ext, pred.u_x_ext, u_x)
    loq = chosen.get("loq")
    r = W.reported(x, u_x, np.asarray(pred.dof),
                   float(pred.level), 1 if overall_ok else 0, chosen["range"],
                   (1 if lod is not None else 0) | (2 if loq is not None else 0),
                   math.nan if lod is None else float(lod),
                   math.nan if loq is None else float(loq),
                   W.RULES[rule], factor, u_factor,
                   np.asarray(pred.flags if flags is None else flags))
    if r["istat"] != 0:
        raise InputError(f"reported results: {_lab.status_text(r['istat'])}")
    assert len(r["value"]) == n
    return r
