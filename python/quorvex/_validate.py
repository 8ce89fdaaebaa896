"""Checks of user input before it reaches the library, with messages that name the element."""
from __future__ import annotations

import numbers

import numpy as np

from .errors import InputError

INT_MAX = 2**31 - 1
# Upper bounds that keep memory bounded (docs/reliability.md): the grid of the root scan
# per response, and Monte Carlo draws per response.
MAX_NGRID = 100_000
MAX_DRAWS = 1_000_000


def vector(name: str, a, routine: str | None = None) -> np.ndarray:
    """A finite one-dimensional float64 array (a copy only when needed)."""
    try:
        v = np.asarray(a, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise InputError(f"{name} must be numbers: {e}", routine=routine) from None
    if v.ndim == 0:
        v = v.reshape(1)
    if v.ndim != 1:
        raise InputError(f"{name} must be one-dimensional, not of shape {v.shape}", routine=routine)
    finite(name, v, routine)
    return v


def finite(name: str, v: np.ndarray, routine: str | None = None) -> None:
    if not np.isfinite(v).all():
        i = int(np.flatnonzero(~np.isfinite(v))[0])
        raise InputError(f"{name} must be finite: element {i} is {v[i]}", routine=routine)


def positive(name: str, v: np.ndarray, routine: str | None = None) -> None:
    if not (v > 0).all():
        i = int(np.flatnonzero(~(v > 0))[0])
        raise InputError(f"{name} must be positive: element {i} is {v[i]:g}", routine=routine)


def same_length(name: str, v: np.ndarray, n: int, routine: str | None = None,
                broadcast: bool = False) -> np.ndarray:
    """``v`` of length ``n``; a single value is repeated when ``broadcast``."""
    if broadcast and v.shape[0] == 1 and n != 1:
        return np.full(n, v[0])
    if v.shape[0] != n:
        raise InputError(f"{name} has {v.shape[0]} elements where {n} are needed", routine=routine)
    return v


def integer(name: str, value, lo: int, hi: int = INT_MAX, routine: str | None = None) -> int:
    if type(value) is not int and (isinstance(value, bool)
                                   or not isinstance(value, numbers.Integral)):
        raise InputError(f"{name} must be an integer, not {value!r}", routine=routine)
    value = int(value)
    if not lo <= value <= hi:
        raise InputError(f"{name} must lie in [{lo}, {hi}], not {value}", routine=routine)
    return value


def real(name: str, value, routine: str | None = None) -> float:
    try:
        f = float(value)
    except (TypeError, ValueError):
        raise InputError(f"{name} must be a number, not {value!r}", routine=routine) from None
    if not np.isfinite(f):
        raise InputError(f"{name} must be finite, not {f}", routine=routine)
    return f


def interval(value, routine: str | None = None) -> tuple[float, float]:
    try:
        lo, hi = value
    except (TypeError, ValueError):
        raise InputError(f"interval must be a pair (xmin, xmax), not {value!r}",
                         routine=routine) from None
    lo, hi = real("xmin", lo, routine), real("xmax", hi, routine)
    if not lo < hi:
        raise InputError(f"the interval must have xmin < xmax, not [{lo:g}, {hi:g}]",
                         routine=routine)
    return lo, hi


def inside(name: str, x: np.ndarray, xmin: float, xmax: float, routine: str | None = None,
           what: str = "the curve's interval") -> None:
    """Every x in [xmin, xmax]; the message names the first that is not."""
    if x.size == 0:
        return
    lo, hi = x.min(), x.max()
    if lo < xmin:
        i = int(np.flatnonzero(x < xmin)[0])
        raise InputError(f"{name} = {x.flat[i]:g} (element {i}) lies below {what} "
                         f"[{xmin:g}, {xmax:g}]", routine=routine)
    if hi > xmax:
        i = int(np.flatnonzero(x > xmax)[0])
        raise InputError(f"{name} = {x.flat[i]:g} (element {i}) lies above {what} "
                         f"[{xmin:g}, {xmax:g}]", routine=routine)


def points(cal, x, routine: str) -> tuple[np.ndarray, tuple]:
    """The points x (any shape) at which a curve is asked for, flat and Fortran-ordered,
    checked finite and inside the curve's interval; and their shape."""
    xa = np.asarray(x, dtype=np.float64)
    flat = np.asfortranarray(xa.reshape(-1))
    finite("x", flat, routine)
    inside("x", flat, cal.xmin, cal.xmax, routine)
    return flat, xa.shape
