#!/usr/bin/python3
"""Write the fuzz targets' committed inputs: the seed corpus and the
reproducers of earlier findings.

The inputs are bytes in the form that ``tests/fuzz/fuzz_input.h`` decodes;
this module encodes readable argument lists into that form.  Run it from
anywhere; it rewrites ``tests/fuzz/corpus/<target>/`` and
``tests/fuzz/regressions/<target>/`` beside itself::

    /usr/bin/python3 tests/fuzz/make_inputs.py
"""
from __future__ import annotations

import math
import shutil
import struct
from pathlib import Path

INT_MAX = 2**31 - 1
INT_MIN = -(2**31)

EXTREMES = [INT_MIN, INT_MIN + 1, -1000000, -2, -1, 0, 1, 10, 11, 12, 1000, 46341,
            1 << 20, 1 << 30, INT_MAX - 1, INT_MAX]
SPECIALS = [0.0, -0.0, 1.0, -1.0, math.nan, math.inf, -math.inf, 5e-324, -5e-324,
            2.2250738585072014e-308, 1.7976931348623157e308, -1.7976931348623157e308,
            1e200, -1e200, 0.5, 1e-300]


class Encoder:
    """Appends values in the decoder's form."""

    def __init__(self) -> None:
        self.out = bytearray()

    def byte(self, b: int) -> "Encoder":
        self.out.append(b & 0xFF)
        return self

    def count(self, v: int, lo: int, hi: int) -> "Encoder":
        """A count; one of the extremes when outside [lo, hi]."""
        if not lo <= v <= hi:
            return self.byte(240 + EXTREMES.index(v))
        if hi - lo + 1 <= 240:
            return self.byte(v - lo)
        return self.byte((v - lo) >> 8).byte((v - lo) & 0xFF)

    def real(self, v: float) -> "Encoder":
        for k, s in enumerate(SPECIALS):
            same = (math.isnan(v) and math.isnan(s)) or (
                v == s and math.copysign(1.0, v) == math.copysign(1.0, s))
            if same:
                return self.byte(k)
        if v * 8 == int(v * 8) and 16 <= v * 8 + 72 < 128:
            return self.byte(int(v * 8 + 72))
        self.byte(128)
        self.out += struct.pack("<d", v)
        return self

    def unit(self, u: float) -> "Encoder":
        k = round(u * 65535)
        return self.byte(k >> 8).byte(k & 0xFF)

    def raw_points(self, xmin: float, xmax: float,
                   pts: list[tuple[float, float, float, float]]) -> "Encoder":
        """decode_points: every value as it comes."""
        self.byte(0).real(xmin).real(xmax)
        for x, y, wx, wy in pts:
            self.real(x).real(y).real(wx).real(wy)
        return self

    def smooth_points(self, npts: int, xmin: int, width: float, coef: list[int],
                      noise: float, ux_exp: int, uy_exp: int, ends: bool = False,
                      seed: int = 1) -> "Encoder":
        """decode_points: points on a polynomial (coefficients coef/4)."""
        self.byte(200).count(xmin, -20, 20)
        self.byte(200).unit((width - 0.25) / 20.0)
        self.count(len(coef) - 1, 0, 6)
        for c in coef:
            self.count(c, -8, 8)
        self.unit(noise / 0.2).byte(200)
        self.count(ux_exp, 0, 8).count(uy_exp, 0, 8)
        self.byte(0 if ends else 200)
        state = seed
        for _ in range(npts):
            for _ in range(4):  # position, noise, wx, wy
                state = (state * 1103515245 + 12345) % 2**31
                self.unit(state / 2**31)
        return self.count(0, 0, 3)

    def data(self) -> bytes:
        return bytes(self.out)


def gls_head(npts: int, ncoef: int, maxit: int, tol: tuple[float, float],
             sigma: float) -> Encoder:
    e = Encoder().count(npts, -2, 40).count(ncoef, -1, 14).count(maxit, -2, 60)
    e.byte(0).real(tol[0]).byte(0).real(tol[1]).byte(0).real(sigma)
    return e


def ols_head(npts: int, ncoef: int) -> Encoder:
    return Encoder().count(npts, -2, 48).count(ncoef, -1, 14)


def seeds() -> dict[str, list[bytes]]:
    s: dict[str, list[bytes]] = {}
    s["olspfit"] = [
        ols_head(12, 3).smooth_points(12, 0, 10.0, [4, 3, 1], 0.05, 2, 2).data(),
        ols_head(30, 10).smooth_points(30, -5, 8.0, [2, -3, 1, 0, 1, 1], 0.01, 3, 3).data(),
        ols_head(4, 4).smooth_points(4, 1, 3.0, [1, 2, 3, 4], 0.0, 1, 1, ends=True).data(),
        ols_head(5, 1).raw_points(0.0, 2.0, [(0.5, 1, 1, 1), (1, 2, 1, 2), (1.5, 3, 1, 0.5),
                                             (2, 4, 1, 1), (0, 0, 1, 1)]).data(),
        ols_head(3, 2).raw_points(0.0, 2.0, [(1, 1, 1, 1)] * 3).data(),
    ]
    s["glspfit"] = [
        gls_head(20, 3, 50, (1e-10, 1e-10), 0.1)
        .smooth_points(20, 0, 10.0, [4, 3, 1], 0.05, 3, 2).data(),
        gls_head(40, 6, 50, (1e-8, 1e-8), 0.1)
        .smooth_points(40, 0, 10.0, [3, 2, -1, 1, 1, 1], 0.1, 2, 2).data(),
        gls_head(25, 4, 3, (1.0, 1e-300), 0.1)
        .smooth_points(25, -3, 6.0, [1, 4, 2, -2], 0.1, 1, 2, seed=5).data(),
        gls_head(25, 4, 3, (1e-300, 1.0), 0.5)
        .smooth_points(25, -3, 6.0, [1, 4, 2, -2], 0.1, 1, 2, seed=6).data(),
        gls_head(12, 2, 50, (1e-12, 1e-12), 0.1)
        .smooth_points(12, 2, 5.0, [2, 4], 0.1, 2, 2, ends=True).data(),
        # Responses near 1e200 with weights of order 1.
        gls_head(30, 4, 50, (1e-8, 1e-8), 0.1).byte(200).count(0, -20, 20).byte(200)
        .unit(0.5).count(2, 0, 6).count(3, -8, 8).count(4, -8, 8).count(1, -8, 8).unit(0.5)
        .byte(0).real(1e200).count(2, 0, 8).count(0, 0, 8).byte(200).data(),
    ]
    s["polyeval"] = [
        Encoder().count(4, -2, 40).count(9, -2, 64).real(0).real(0).byte(0).count(0, -10, 10)
        .unit(10 / 30).real(2.375).real(1.125).real(0.125).real(-0.25)
        .byte(200).unit(0).byte(200).unit(0.5).byte(200).unit(1).data(),
        Encoder().count(1, -2, 40).count(3, -2, 64).real(1).real(1).byte(255)
        .real(3).real(1).real(1.5).real(2).data(),
    ]
    s["ipval"] = [
        Encoder().count(3, -1, 12).count(5, -2, 12).count(100, -2, 400).real(0).real(0)
        .real(0).byte(0).count(0, -10, 10).unit(10 / 30).byte(0).byte(200)
        .count(4, -8, 8).count(0, -8, 8).count(4, -8, 8)
        .data(),
        Encoder().count(6, -1, 12).count(3, -2, 12).count(400, -2, 400).real(0).real(0)
        .real(0).byte(0).count(-1, -10, 10).unit(2 / 30).byte(200).unit(0.5).byte(200)
        .count(1, -8, 8).count(-3, -8, 8).count(2, -8, 8).count(5, -8, 8).count(-1, -8, 8)
        .count(1, -8, 8).data(),
    ]
    s["linear_conv"] = [
        Encoder().real(3).real(1.5).real(0.25).real(0.125).real(0.125).real(0.5)
        .real(0).real(2).data(),
        Encoder().real(3).real(1.5).real(0.25).real(0.125).real(0.125).real(0.5)
        .real(2).real(2).data(),
    ]
    s["ipval_degree1"] = [
        Encoder().count(4, -2, 48).real(3).real(1.5).real(0.25).real(0.125).real(0.125)
        .real(0.5).real(0).real(2).real(0.5).real(1).real(2.5).real(-3)
        .real(0.125).real(0.25).real(0).real(1).data(),
    ]
    return s


def regressions() -> dict[str, dict[str, bytes]]:
    """Reproducers of the faults an adversarial run found."""
    r: dict[str, dict[str, bytes]] = {"glspfit": {}, "olspfit": {}}
    # Two equal abscissae: wrapped unsigned pointer arithmetic in the block
    # sweep (clang's sanitizer).
    r["glspfit"]["two-equal-abscissae"] = gls_head(2, 2, 27, (1e-10, 1e-10), 0.1).raw_points(
        -1.0, 1.0, [(0.5, 0.5, 0.5, 0.5), (0.5, 0.5, 0.5, 2.0)]).data()
    # NCOEF = INT_MAX: COEF and COV cleared far past any array; GLSPFIT
    # zero-filled 16 GiB before the count was refused.
    r["olspfit"]["ncoef-int-max"] = ols_head(3, INT_MAX).raw_points(
        0.0, 2.0, [(0, 1, 1, 1), (1, 2, 1, 1), (2, 3, 1, 1)]).data()
    r["olspfit"]["ncoef-int-max-no-points-fit"] = ols_head(48, INT_MAX).smooth_points(
        48, 0, 4.0, [1, 2], 0.1, 1, 1).data()
    r["glspfit"]["ncoef-int-max"] = gls_head(3, INT_MAX, 10, (1e-8, 1e-8), 0.1).raw_points(
        0.0, 2.0, [(0, 1, 1, 1), (1, 2, 1, 1), (2, 3, 1, 1)]).data()
    r["glspfit"]["ncoef-int-max-bad-wx"] = gls_head(3, INT_MAX, 10, (1e-8, 1e-8), 0.1).raw_points(
        0.0, 2.0, [(0, 1, 0, 1), (1, 2, 1, 1), (2, 3, 1, 1)]).data()
    # Curve values of the untaken full step (status 0) and of a rejected
    # line-search trial (status 3).
    r["glspfit"]["converged-yfit"] = gls_head(40, 6, 50, (1e-8, 1e-8), 0.1).smooth_points(
        40, 0, 10.0, [3, 2, -1, 1, 1, 1], 0.1, 2, 2, seed=7).data()
    r["glspfit"]["line-search-yfit"] = gls_head(21, 3, 50, (1e-12, 1e-12), 0.1).smooth_points(
        21, 0, 10.0, [4, 3, 1], 0.05, 2, 2, seed=1).data()
    return r


def write(base: Path, sets: dict[str, dict[str, bytes]]) -> None:
    for target, inputs in sets.items():
        d = base / target
        shutil.rmtree(d, ignore_errors=True)
        d.mkdir(parents=True)
        for name, data in inputs.items():
            (d / name).write_bytes(data)


def main() -> None:
    here = Path(__file__).resolve().parent
    write(here / "corpus",
          {t: {f"seed-{k:02d}": b for k, b in enumerate(v)} for t, v in seeds().items()})
    write(here / "regressions", regressions())


if __name__ == "__main__":
    main()
