"""The sample workflow through the laboratory library (``QVXL_REPLICATES``,
``QVXL_REPLICATE_CHECK``, ``QVXL_LIMIT_CHOICE``, ``QVXL_REPORTED``): argument
conversion only."""
from __future__ import annotations

from ctypes import byref, c_double, c_int

import numpy as np

from . import _lab

REPLICATES_NARGS = 11
CHECK_NARGS = 18
CHOICE_NARGS = 9
REPORTED_NARGS = 21

TEXT_LIMIT_DEFINITION = 20  # QVXL_TEXT's kind for LODDEF and LOQDEF codes
FLAG_CAL_REJECTED = 2048
FLAG_REPLICATES_DISAGREE = 4096
FLAG_BELOW_RANGE = 8192
WORKFLOW_FLAGS = FLAG_CAL_REJECTED | FLAG_REPLICATES_DISAGREE | FLAG_BELOW_RANGE

# Definitions of the limits (QVXL_LIMIT_CHOICE) by the names users give.
LOD_DEFINITIONS = {"x_C": 1, "x_D": 2, "ICH": 3}
LOQ_DEFINITIONS = {"ICH": 11, "DIN": 12, "larger": 13}
LOD_DEFAULT, LOQ_DEFAULT = "x_D", "larger"
LIMIT_NAMES = ("sigma", "slope", "lod", "loq", "sigma_blank", "s_blank", "y_critical",
               "x_critical", "x_detection", "k_alpha", "delta", "loq_din")
RULES = {"flag": 0, "less-than": 1, "less-than-lod": 2}
CHECK_MODES = {"scatter": 1, "sigma": 2, "rsd": 3}


def _f64(a) -> np.ndarray:
    return np.ascontiguousarray(a, dtype=np.float64)


def _i32(a) -> np.ndarray:
    return np.ascontiguousarray(a, dtype=np.intc)


def replicates(y, group, ngroup: int, u_y=None) -> dict:
    y, group = _f64(y), _i32(group)
    uy = _f64(u_y) if u_y is not None else np.ones(1)
    mean, umean, sd = (np.full(ngroup, np.nan) for _ in range(3))
    count = np.zeros(ngroup, dtype=np.intc)
    st = c_int()
    _lab.function("QVXL_REPLICATES", REPLICATES_NARGS)(
        byref(c_int(y.shape[0])), _lab._a(y), byref(c_int(0 if u_y is None else 1)),
        _lab._a(uy), _lab._a(group), byref(c_int(ngroup)), _lab._a(mean), _lab._a(umean),
        _lab._a(count), _lab._a(sd), byref(st))
    return dict(mean=mean, u_mean=umean, count=count, sd=sd, istat=st.value)


def replicate_check(count, mean, sd, x, mode: int, covkind: int, ndof: int, sres: float,
                    weighting: int, reads: float, sigma: float, alpha: float, limit: float,
                    flags) -> dict:
    count, mean, sd, x = _i32(count), _f64(mean), _f64(sd), _f64(x)
    n = count.shape[0]
    stat, p = np.full(n, np.nan), np.full(n, np.nan)
    fl = _i32(flags).copy()
    st = c_int()
    _lab.function("QVXL_REPLICATE_CHECK", CHECK_NARGS)(
        byref(c_int(n)), _lab._a(count), _lab._a(mean), _lab._a(sd), _lab._a(x),
        byref(c_int(mode)), byref(c_int(covkind)), byref(c_int(ndof)), byref(c_double(sres)),
        byref(c_int(weighting)), byref(c_double(reads)), byref(c_double(sigma)),
        byref(c_double(alpha)),
        byref(c_double(limit)), _lab._a(stat), _lab._a(p), _lab._a(fl), byref(st))
    return dict(stat=stat, p=p, flags=fl, istat=st.value)


def limit_choice(lim: dict, blank: float, loddef: int, loqdef: int, lowest: float,
                 highest: float) -> dict:
    arr = _f64([float("nan") if lim.get(k) is None else float(lim[k]) for k in LIMIT_NAMES])
    xstd = _f64([lowest, highest])
    out, rng = np.full(2, np.nan), np.full(2, np.nan)
    haslim, st = c_int(), c_int()
    _lab.function("QVXL_LIMIT_CHOICE", CHOICE_NARGS)(
        _lab._a(arr), byref(c_double(blank)), byref(c_int(loddef)), byref(c_int(loqdef)),
        _lab._a(xstd), byref(haslim), _lab._a(out), _lab._a(rng), byref(st))
    return dict(haslim=haslim.value, lod=float(out[0]), loq=float(out[1]),
                range=(float(rng[0]), float(rng[1])), istat=st.value)


def reported(x, u_x, dof, level: float, overall: int, rng, haslim: int, lod: float,
             loq: float, rule: int, factor=None, u_factor=None, flags=None) -> dict:
    x, u_x, dof = _f64(x), _f64(u_x), _f64(dof)
    n = x.shape[0]
    hasf = (1 if factor is not None else 0) | (2 if u_factor is not None else 0)
    f = _f64(np.broadcast_to(factor, (n,))) if factor is not None else np.ones(1)
    uf = _f64(np.broadcast_to(u_factor, (n,))) if u_factor is not None else np.zeros(1)
    value, uval, dofv, k, big_u = (np.full(n, np.nan) for _ in range(5))
    censor = np.zeros(n, dtype=np.intc)
    fl = _i32(np.zeros(n) if flags is None else flags).copy()
    rng, lims = _f64(rng), _f64([lod, loq])  # alive over the call
    st = c_int()
    _lab.function("QVXL_REPORTED", REPORTED_NARGS)(
        byref(c_int(n)), _lab._a(x), _lab._a(u_x), _lab._a(dof), byref(c_double(level)),
        byref(c_int(overall)), _lab._a(rng), byref(c_int(haslim)),
        _lab._a(lims), byref(c_int(rule)), byref(c_int(hasf)),
        _lab._a(f), _lab._a(uf), _lab._a(value), _lab._a(uval), _lab._a(dofv), _lab._a(k),
        _lab._a(big_u), _lab._a(censor), _lab._a(fl), byref(st))
    return dict(value=value, u=uval, dof=dofv, k=k, U=big_u, censor=censor, flags=fl,
                istat=st.value)
