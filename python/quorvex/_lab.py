"""The laboratory layer (``libQUORVEXlab1``), bound once.

Every rule a laboratory applies around a fitted curve (u(y), k, U, the
inversion interval, the sample flags, ...) lives in the C++ library beside the
six entry points; this module loads it and calls it.  Functions here convert
arguments, allocate the outputs and return them with the status: callers turn
statuses into errors.

The library is found, in this order, at the path in ``QUORVEX_LAB_LIBRARY``;
beside the engine library the package loaded (``QUORVEX_LIBRARY``, the copy in
this package, or the source tree's ``build/``).  On 32-bit Windows it is loaded
with the standard call convention, as the engine is.
"""
from __future__ import annotations

import ctypes
import os
import struct
import sys
from ctypes import POINTER, byref, c_double, c_int, c_void_p
from pathlib import Path

import numpy as np

from . import _clib
from .errors import FitError, InputError, QuorvexError

if sys.platform == "win32":
    LIBRARY_NAME = "QUORVEXlab1.dll"
elif sys.platform == "darwin":
    LIBRARY_NAME = "libQUORVEXlab1.dylib"
else:
    LIBRARY_NAME = "libQUORVEXlab1.so"

_I = POINTER(c_int)
_D = POINTER(c_double)

# Argument counts; every argument is a pointer.
_ENTRIES = {
    "QVXL_DISTRIBUTION": 7,
    "QVXL_READBACK": 37,
    "QVXL_TEXT": 6,
}

# Sample flags (FLAGS of QVXL_READBACK).
FLAG_NO_ROOT = 1
FLAG_SEVERAL_ROOTS = 2
FLAG_AT_END = 4
FLAG_INTERVAL_OPEN = 8
FLAG_BELOW_LOWEST = 16
FLAG_ABOVE_HIGHEST = 32
FLAG_BELOW_BLANK = 64
FLAG_BELOW_LOD = 128
FLAG_BELOW_LOQ = 256
FLAG_FLAT = 512
FLAG_NO_SCALE = 1024

UYSRC_STATED, UYSRC_SCATTER, UYSRC_CURVE_ONLY = 0, 1, 2
WEIGHTING_CODES = {None: 0, "1/x": 1, "1/x2": 2}

def candidate_paths() -> list[Path]:
    paths = []
    env = os.environ.get("QUORVEX_LAB_LIBRARY")
    if env:
        paths.append(Path(env))
    for p in _clib.candidate_paths():
        paths.append(p.with_name(LIBRARY_NAME))
    return paths


class _Library:
    def __init__(self, path: Path):
        self.path = path
        if sys.platform == "win32" and struct.calcsize("P") == 4:
            self.dll = ctypes.WinDLL(str(path))
        else:
            self.dll = ctypes.CDLL(str(path))
        for name, nargs in _ENTRIES.items():
            self.bind(name, nargs)

    def bind(self, name: str, nargs: int):
        """The entry point ``name`` with ``nargs`` pointer arguments."""
        fn = getattr(self, name, None)
        if fn is None:
            fn = self.dll[name]
            fn.argtypes = [c_void_p] * nargs
            fn.restype = None
            setattr(self, name, fn)
        return fn


def _load() -> _Library:
    return _clib.load_first(_Library, candidate_paths(), "QUORVEX_LAB_LIBRARY",
                            "the quorvex laboratory library")


library = _clib.once(_load)
library.__doc__ = "The bound laboratory library, loaded on first use."


def function(name: str, nargs: int):
    """An entry point of the laboratory library, every argument a pointer: pass
    ``byref`` scalars and array addresses (``_a``)."""
    return library().bind(name, nargs)


def _a(a: np.ndarray) -> int:
    """Address of a contiguous array the caller keeps alive over the call."""
    return a.ctypes.data


_texts: dict = {}


def text(kind: int, code: int) -> str | None:
    """The library's text of a code (``QVXL_TEXT``): kind 1 a status, 2 a sample flag,
    3 a source of u(y), 4 the test of the curve's shape a verdict ran; None for a code
    without one."""
    key = (kind, code)
    if key not in _texts:
        fn = function("QVXL_TEXT", 6)
        buf = ctypes.create_string_buffer(256)
        needed, st = c_int(), c_int()
        fn(byref(c_int(kind)), byref(c_int(code)), buf, byref(c_int(len(buf))), byref(needed),
           byref(st))
        _texts[key] = buf.value.decode("utf-8") if st.value == 0 else None
    return _texts[key]


def status_text(code: int) -> str:
    """What a status of the laboratory library means, in the user's terms."""
    t = text(1, code)
    return t if t is not None else f"status {code}"


def distribution(dist: int, what: int, par1: float = 0.0, par2: float = 0.0,
                 p: float = 0.0, x: float = 0.0) -> tuple[float, float, int]:
    """QVXL_DISTRIBUTION; returns (p, x, istat)."""
    pp, xx, st = c_double(p), c_double(x), c_int()
    library().QVXL_DISTRIBUTION(byref(c_int(dist)), byref(c_int(what)), byref(c_double(par1)),
                                byref(c_double(par2)), byref(pp), byref(xx), byref(st))
    return pp.value, xx.value, st.value


def quantile(dist: int, p: float, par1: float = 0.0, par2: float = 0.0) -> float:
    """The quantile of a distribution (1 normal, 2 t, 3 chi2, 4 F, 5 non-central t)."""
    _, x, st = distribution(dist, 1, par1, par2, p=p)
    if st:
        raise InputError(f"quantile: {status_text(st)}")
    return x


def upper_tail(dist: int, x: float, par1: float = 0.0, par2: float = 0.0) -> float:
    """P(T > x)."""
    p, _, st = distribution(dist, 2, par1, par2, x=x)
    if st:
        raise InputError(f"tail probability: {status_text(st)}")
    return p


READBACK_REALS = ("u_y", "u_curve", "dof", "k", "U", "low", "high", "x_ext", "u_x_ext")
READBACK_INTS = ("n_roots", "u_y_code", "flags")


def readback_outputs(n: int, ncoef: int) -> dict:
    """Empty outputs of QVXL_READBACK for n responses (roots: one row a response)."""
    nr = max(ncoef - 1, 1)
    out = {name: np.empty(n) for name in READBACK_REALS}
    out.update({name: np.empty(n, dtype=np.intc) for name in READBACK_INTS})
    out.update(roots=np.empty((n, nr)), u_roots=np.empty((n, nr)))
    return out


def sample_limits(blank: float, x_detection: float, loq: float, loq_din: float):
    """QVXL_SAMPLE_LIMITS: (haslim, lod, loq), the limits samples are flagged against."""
    haslim, st = c_int(), c_int()
    out = np.zeros(2)
    function("QVXL_SAMPLE_LIMITS", 7)(byref(c_double(blank)), byref(c_double(x_detection)),
                                      byref(c_double(loq)), byref(c_double(loq_din)),
                                      byref(haslim), _a(out), byref(st))
    if st.value != 0:
        raise InputError(f"sample limits: {status_text(st.value)}")
    return haslim.value, float(out[0]), float(out[1])


def readback(coef, cov, xmin, xmax, covkind, ndof, sres, weighting, stated, xstd, y, uymode,
             uy, repl, level, ngrid, tol, extrapolate=False, lod=None, loq=None,
             out=None) -> dict:
    """QVXL_READBACK on float64 arrays the caller checked; fills ``out`` (from
    ``readback_outputs``, or views of it one chunk long) or new outputs, and returns
    them with ``istat``."""
    n = y.shape[0]
    nc = coef.shape[0]
    if out is None:
        out = readback_outputs(n, nc)
    haslim = (1 if lod is not None else 0) | (2 if loq is not None else 0)
    limits = np.array([lod if lod is not None else 0.0, loq if loq is not None else 0.0])
    xs = np.array([xstd[0], xstd[1]], dtype=np.float64)
    st = c_int()
    o = out
    library().QVXL_READBACK(
        byref(c_int(nc)), _a(coef), _a(cov), byref(c_double(xmin)), byref(c_double(xmax)),
        byref(c_int(covkind)), byref(c_int(ndof)), byref(c_double(sres)),
        byref(c_int(weighting)), byref(c_int(1 if stated else 0)), _a(xs), byref(c_int(haslim)),
        _a(limits), byref(c_int(n)), _a(y), byref(c_int(uymode)), _a(uy), _a(repl),
        byref(c_double(level)), byref(c_int(ngrid)), byref(c_double(tol)),
        byref(c_int(1 if extrapolate else 0)), _a(o["n_roots"]), _a(o["roots"]),
        _a(o["u_roots"]), _a(o["u_y"]), _a(o["u_y_code"]), _a(o["u_curve"]), _a(o["dof"]),
        _a(o["k"]), _a(o["U"]), _a(o["low"]), _a(o["high"]), _a(o["x_ext"]), _a(o["u_x_ext"]),
        _a(o["flags"]), byref(st))
    return dict(out, istat=st.value)


# The engine's entry points, as the laboratory library numbers them for their texts.
ROUTINES = ("OLSPFIT", "GLSPFIT", "POLYEVAL", "IPVAL", "LINEAR_CONV", "IPVAL_DEGREE1")


def status_message(routine: str, code: int, **fields) -> str:
    """The status ``code`` of ``routine`` in words: the laboratory library's text
    (``QVXL_TEXT``), its fields filled from the call (reals as ``:g``)."""
    words = None
    if routine in ROUTINES:
        try:
            words = text(10 + ROUTINES.index(routine), int(code))
        except QuorvexError:  # the laboratory library cannot be loaded
            words = None
    if words is None:
        return f"{routine} returned status {code}"
    shown = {k: (f"{v:g}" if isinstance(v, float) else v) for k, v in fields.items()}
    try:
        words = words.format(**shown)
    except (KeyError, ValueError, IndexError):
        pass
    return f"{words} ({routine} status {code})"


def status_error(routine: str, code: int, **fields) -> FitError:
    """A ``FitError`` for status ``code`` of ``routine``."""
    return FitError(status_message(routine, code, **fields), code=code, routine=routine)
