"""Numbers as people read them: one rounding rule for the terminal, the report and the
picture's labels.

* A value with an uncertainty: the uncertainty to two significant digits and the value
  to the same decimal place (GUM 7.2.6), "value ± u".
* A value alone: to the significant digits asked for, in plain notation when
  1e-4 <= |v| < 1e7 (and 0), else as mantissa ×10ⁿ.
* A column of a table: every cell with the same power of ten, given once in the header
  ("area / 10⁶") when the column's values lie outside the plain range.

JSON and CSV never pass through here: they keep every digit.
"""
from __future__ import annotations

import math

import numpy as np

DASH = "—"
PM = "±"
PLAIN_LOW = 1e-4
PLAIN_HIGH = 1e7
_SUP = str.maketrans("-0123456789", "⁻⁰¹²³⁴⁵⁶⁷⁸⁹")


def _missing(v) -> str | None:
    """The text for a value that is not a finite number, or None for one that is."""
    if v is None:
        return DASH
    try:
        v = float(v)
    except (TypeError, ValueError):
        return DASH
    if math.isnan(v):
        return DASH
    if math.isinf(v):
        return "∞" if v > 0 else "−∞"
    return None


def power(n: int) -> str:
    """10ⁿ with a superscript exponent."""
    return "10" + str(int(n)).translate(_SUP)


def _minus(text: str) -> str:
    # The ASCII hyphen-minus, not U+2212: a value copied into a spreadsheet stays a number.
    return text


def _fixed(v: float, d: int) -> str:
    """``v`` to ``d`` decimals (d >= 0), half away from zero as people round (1234.5 to
    units is 1235, where binary formatting gives 1234)."""
    from decimal import ROUND_HALF_UP, Decimal
    q = Decimal(repr(float(v))).quantize(Decimal(1).scaleb(-d), rounding=ROUND_HALF_UP)
    text = f"{q:f}"
    return "0" + text[2:] if text.startswith("-0") and float(q) == 0 else text


def _plain(v: float, digits: int) -> str:
    """``v`` to ``digits`` significant digits in positional notation, trailing zeros
    after the point dropped."""
    if v == 0:
        return "0"
    r = float(f"{v:.{digits}g}")
    return np.format_float_positional(r, trim="-")


def exponent_of(v: float, step: int = 1) -> int:
    """The power of ten a number outside the plain range is written with (a multiple
    of ``step``); 0 within it."""
    a = abs(v)
    if a == 0 or PLAIN_LOW <= a < PLAIN_HIGH:
        return 0
    return step * math.floor(math.log10(a) / step)


def fmt(v, digits: int = 6, exponent: int | None = None) -> str:
    """A number to ``digits`` significant digits (see the module's rule); with
    ``exponent`` given, as a multiple of 10**exponent without writing the power."""
    miss = _missing(v)
    if miss is not None:
        return miss
    v = float(v)
    if exponent is not None:
        return _minus(_plain(v / 10.0 ** exponent, digits))
    e = exponent_of(v)
    if e == 0:
        return _minus(_plain(v, digits))
    return _minus(_plain(v / 10.0 ** e, digits)) + "×" + power(e)


def fmt_u(u, exponent: int | None = None) -> str:
    """An uncertainty: two significant digits, trailing zeros kept (0.10)."""
    miss = _missing(u)
    if miss is not None:
        return miss
    u = float(u)
    if u == 0:
        return "0"
    e = exponent if exponent is not None else exponent_of(u)
    m = u / 10.0 ** e
    p = _place(abs(m))
    text = _fixed(_fixed_round(m, 10.0 ** p), 0) if p > 0 else _fixed(m, -p)
    text = _minus(text)
    if exponent is None and e != 0:
        return f"{text}×{power(e)}"
    return text


def _place(u: float) -> int:
    """The decimal place of the second significant digit of u (as a power of ten)."""
    p = math.floor(math.log10(u)) - 1
    # rounding to two digits may carry into a third (9.96 -> 10)
    if round(u / 10.0 ** p) >= 100:
        p += 1
    return p


def fmt_pm(v, u, exponent: int | None = None, digits: int = 6) -> str:
    """value ± u: u to two significant digits and the value to the same decimal place
    (GUM 7.2.6).  Outside the plain range both share one power of ten:
    (1.1935 ± 0.0011)×10⁶."""
    miss = _missing(v)
    if miss is not None:
        return miss
    v = float(v)
    umiss = _missing(u)
    if umiss == DASH or u is None:
        return fmt(v, digits, exponent)
    if umiss is not None:
        return f"{fmt(v, digits, exponent)} {PM} ∞"
    u = float(u)
    if u <= 0:
        return f"{fmt(v, digits, exponent)} {PM} 0"
    own = exponent is None
    e = exponent if exponent is not None else exponent_of(max(abs(v), u))
    sv, su = v / 10.0 ** e, u / 10.0 ** e
    p = _place(su)
    if p > 0:  # the uncertainty is 100 or more (in the column's power): integers
        q = 10.0 ** p
        text = (f"{_fixed(_fixed_round(sv, q), 0)} {PM} {_fixed(_fixed_round(su, q), 0)}")
    else:
        d = -p
        if d > 15:
            return fmt(v, digits, exponent)
        text = f"{_fixed(sv, d)} {PM} {_fixed(su, d)}"
    if own and e != 0:
        return f"({text})×{power(e)}"
    return text


def _fixed_round(v: float, q: float) -> float:
    """``v`` rounded to a multiple of ``q`` (a power of ten above 1), half away from 0."""
    return math.copysign(math.floor(abs(v) / q + 0.5) * q, v)


def column_exponent(values) -> int:
    """The power of ten a column is written with: 0 when its largest magnitude lies in
    the plain range, else that magnitude's (a multiple of 3)."""
    a = [abs(float(v)) for v in values if _missing(v) is None and float(v) != 0]
    if not a:
        return 0
    return exponent_of(max(a), 3)


def header(name: str, exponent: int) -> str:
    """A column header with the column's power of ten: "area / 10⁶"."""
    return name if exponent == 0 else f"{name} / {power(exponent)}"


def fmt_r2(r2) -> str:
    """r² with decimals enough that 1 - r² shows two significant digits (at least 4):
    0.99999960, not 1."""
    miss = _missing(r2)
    if miss is not None:
        return miss
    r2 = float(r2)
    gap = 1.0 - r2
    if gap <= 0:
        return "1"
    d = min(12, max(4, math.ceil(-math.log10(gap)) + 1))
    return _minus(f"{r2:.{d}f}")
