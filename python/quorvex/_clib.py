"""The library's six entry points, bound once with their argument types.

Every array argument is declared as an ``ndpointer`` of its dtype, one
dimension or two, Fortran order, so that an array of the wrong kind is refused
with a ``ctypes.ArgumentError`` before the library is called.  Scalars pass by
reference, as the library takes every argument.  The functions below allocate
the outputs, call the entry point and return the outputs with the status; they
check nothing else: the callers in :mod:`quorvex.fitting` and
:mod:`quorvex.inverse` validate the inputs and turn statuses into errors.

Each entry point is bound a second time, in ``_Library.unchecked``, with every
argument declared ``c_void_p``: it takes addresses (``address``) and ``byref``
scalars.  Only the package's own hot paths call it, with arrays they allocated and
laid out themselves after checking the input; converting and checking each array
argument again would cost more than the library's work on ten points.

The library is found, in this order, at the path in the environment variable
``QUORVEX_LIBRARY``; as the copy installed inside this package; in the
``build/`` folder of the source tree this package lies in.  On 32-bit Windows
``QUORVEXv1.dll`` is loaded with the standard call convention (``WinDLL``).
"""
from __future__ import annotations

import ctypes
import os
import struct
import sys
import threading
from ctypes import POINTER, addressof, byref, c_char, c_double, c_int, c_void_p
from pathlib import Path

import numpy as np
from numpy.ctypeslib import ndpointer

if sys.platform == "win32":
    LIBRARY_NAME = "QUORVEXv1.dll"
elif sys.platform == "darwin":
    LIBRARY_NAME = "libQUORVEXv1.dylib"
else:
    LIBRARY_NAME = "libQUORVEXv1.so"



def _array_type(dtype, ndim: int, flags: str):
    """``ndpointer(dtype, ndim, flags)`` whose conversion is quicker for the arrays
    this package passes (exact ndarray, native dtype): the same checks, then the
    address without building numpy's ctypes helper object.  Anything else goes
    through ndpointer's own conversion, which raises the usual error."""
    base = ndpointer(dtype, ndim=ndim, flags=flags)
    dt = np.dtype(dtype)
    need = base._flags_

    def from_param(cls, obj):
        if (type(obj) is np.ndarray and obj.dtype is dt and obj.ndim == ndim
                and obj.flags.num & need == need):
            try:
                # The transpose of a Fortran-ordered array is C-ordered: one buffer.
                return byref(c_char.from_buffer(obj.T if ndim > 1 else obj))
            except (TypeError, ValueError):  # read-only or empty
                return c_void_p(obj.ctypes.data)
        return base.from_param(obj)

    return type(base.__name__, (base,), {"from_param": classmethod(from_param)})


_F1 = _array_type(np.float64, 1, "F_CONTIGUOUS")
_F2 = _array_type(np.float64, 2, "F_CONTIGUOUS")
_F1W = _array_type(np.float64, 1, "F_CONTIGUOUS,WRITEABLE")
_F2W = _array_type(np.float64, 2, "F_CONTIGUOUS,WRITEABLE")
_I1W = _array_type(np.intc, 1, "F_CONTIGUOUS,WRITEABLE")
_I = POINTER(c_int)
_D = POINTER(c_double)

_ARGTYPES = {
    "OLSPFIT": [_I, _F1, _F1, _F1, _I, _D, _D, _F1W, _F2W, _D, _F1W, _F1W, _F1W, _D, _I],
    "GLSPFIT": [_I, _F1, _F1, _F1, _F1, _I, _D, _D, _F1, _I, _D, _F1W, _F2W, _D, _F1W, _F2W,
                _F1W, _D, _F1W, _F2W, _F1W, _F1W, _I, _I1W],
    "POLYEVAL": [_I, _F1, _I, _F1, _D, _D, _F1W, _I],
    "IPVAL": [_I, _F1, _F2, _I, _F1, _F2, _D, _D, _I, _D, _I1W, _F2W, _F2W, _I],
    "LINEAR_CONV": [_F1, _F2, _D, _D, _F1W, _F2W, _I],
    "IPVAL_DEGREE1": [_F1, _F2, _I, _F1, _F2, _D, _D, _F1W, _F1W, _I],
}


def candidate_paths() -> list[Path]:
    """Where the library is looked for, in order of preference."""
    paths = []
    env = os.environ.get("QUORVEX_LIBRARY")
    if env:
        paths.append(Path(env))
    here = Path(__file__).resolve().parent
    paths.append(here / LIBRARY_NAME)
    paths.append(here.parent.parent / "build" / LIBRARY_NAME)
    return paths


class _Unchecked:
    """The six entry points with untyped pointer arguments (see the module's notes)."""


class _Library:
    """The loaded library with its six entry points bound."""

    def __init__(self, path: Path):
        self.path = path
        if sys.platform == "win32" and struct.calcsize("P") == 4:
            self.dll = ctypes.WinDLL(str(path))  # __stdcall entry points
        else:
            self.dll = ctypes.CDLL(str(path))
        self.unchecked = _Unchecked()
        for name, argtypes in _ARGTYPES.items():
            fn = getattr(self.dll, name)
            fn.argtypes = argtypes
            fn.restype = None
            setattr(self, name, fn)
            # Item access gives a new function object: the typed binding is left as it is.
            raw = self.dll[name]
            raw.argtypes = [c_void_p] * len(argtypes)
            raw.restype = None
            setattr(self.unchecked, name, raw)


def once(load):
    """A function that calls ``load`` on its first call, from any thread, and returns
    what it gave every time after."""
    lock = threading.Lock()
    loaded = []

    def get():
        if not loaded:
            with lock:
                if not loaded:
                    loaded.append(load())
        return loaded[0]

    return get


def _load() -> _Library:
    return load_first(_Library, candidate_paths(), "QUORVEX_LIBRARY", "the quorvex shared library")


library = once(_load)
library.__doc__ = "The bound library, loaded on first use."


def load_first(factory, paths, env_name: str, what: str):
    """``factory(path)`` of the first of ``paths`` that exists.  The first path is the
    environment variable's when it is set: an explicit choice that does not exist is an
    error, not a hint."""
    from .errors import QuorvexError
    env = os.environ.get(env_name)
    tried = []
    for i, path in enumerate(paths):
        if path.is_file():
            return factory(path)
        if i == 0 and env:
            raise QuorvexError(f"{env_name} names {path}, which does not exist", routine="load")
        tried.append(str(path))
    raise QuorvexError(f"{what} was not found; looked at " + ", ".join(tried)
                       + f" (build it, or set {env_name})", routine="load")


def unchecked() -> _Unchecked:
    """The entry points bound with untyped pointers (``_Library.unchecked``)."""
    return library().unchecked


def address(a: np.ndarray) -> int:
    """Address of the first element of ``a``, a writeable C-contiguous array the
    caller keeps alive over the call (quicker than ``a.ctypes.data``)."""
    return addressof(c_char.from_buffer(a))


def olspfit(x, y, w, ncoef, xmin, xmax):
    """OLSPFIT; returns (coef, cov, sres, yfit, res, wres, wresmax, istat)."""
    n = x.shape[0]
    coef = np.zeros(ncoef)
    cov = np.zeros((ncoef, ncoef), order="F")
    yfit, res, wres = np.zeros(n), np.zeros(n), np.zeros(n)
    sres, wresmax, istat = c_double(), c_double(), c_int()
    library().OLSPFIT(byref(c_int(n)), x, y, w, byref(c_int(ncoef)), byref(c_double(xmin)),
                      byref(c_double(xmax)), coef, cov, byref(sres), yfit, res, wres,
                      byref(wresmax), byref(istat))
    return coef, cov, sres.value, yfit, res, wres, wresmax.value, istat.value


def glspfit(x, y, wx, wy, ncoef, xmin, xmax, tol, maxit, sigma):
    """GLSPFIT; returns a dict of every output."""
    n = x.shape[0]
    param = np.zeros(n + ncoef)
    cov = np.zeros((ncoef, ncoef), order="F")
    yfit = np.zeros(n)
    res = np.zeros((2, n), order="F")
    wres = np.zeros(2 * n)
    r11 = np.zeros(n)
    r12 = np.zeros((n, ncoef), order="F")
    r22 = np.zeros(ncoef * (ncoef + 1) // 2)
    rinfo = np.zeros(4)
    tolv = np.array([tol[0], tol[1]], dtype=np.float64)
    sres, wresmax, olstat = c_double(), c_double(), c_int()
    istat = np.zeros(3, dtype=np.intc)
    library().GLSPFIT(byref(c_int(n)), x, y, wx, wy, byref(c_int(ncoef)), byref(c_double(xmin)),
                      byref(c_double(xmax)), tolv, byref(c_int(maxit)), byref(c_double(sigma)),
                      param, cov, byref(sres), yfit, res, wres, byref(wresmax), r11, r12, r22,
                      rinfo, byref(olstat), istat)
    return dict(param=param, cov=cov, sres=sres.value, yfit=yfit, res=res, wres=wres,
                wresmax=wresmax.value, rinfo=rinfo, olstat=olstat.value, istat=istat)


def polyeval(coef, x, xmin, xmax):
    """POLYEVAL; returns (y, istat)."""
    n = x.shape[0]
    y = np.zeros(n)
    istat = c_int()
    library().POLYEVAL(byref(c_int(coef.shape[0])), coef, byref(c_int(n)), x,
                       byref(c_double(xmin)), byref(c_double(xmax)), y, byref(istat))
    return y, istat.value


def ipval(coef, cov, y, covy, xmin, xmax, ngrid, tol, nroot, xroot, uxroot):
    """IPVAL into caller-provided outputs (so that chunks can reuse them); returns istat."""
    istat = c_int()
    library().IPVAL(byref(c_int(coef.shape[0])), coef, cov, byref(c_int(y.shape[0])), y, covy,
                    byref(c_double(xmin)), byref(c_double(xmax)), byref(c_int(ngrid)),
                    byref(c_double(tol)), nroot, xroot, uxroot, byref(istat))
    return istat.value


def linear_conv(coef, cov, xmin, xmax):
    """LINEAR_CONV; returns (lcoef, lcov, istat)."""
    lcoef = np.zeros(2)
    lcov = np.zeros((2, 2), order="F")
    istat = c_int()
    library().LINEAR_CONV(coef, cov, byref(c_double(xmin)), byref(c_double(xmax)), lcoef, lcov,
                          byref(istat))
    return lcoef, lcov, istat.value


def ipval_degree1(coef, cov, y, covy, xmin, xmax):
    """IPVAL_DEGREE1; returns (xpred, uxpred, istat)."""
    n = y.shape[0]
    xpred, uxpred = np.zeros(n), np.zeros(n)
    istat = c_int()
    library().IPVAL_DEGREE1(coef, cov, byref(c_int(n)), y, covy, byref(c_double(xmin)),
                            byref(c_double(xmax)), xpred, uxpred, byref(istat))
    return xpred, uxpred, istat.value
