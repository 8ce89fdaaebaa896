#!/usr/bin/python3
"""Compares the spreadsheet module's numbers with the Python package.

    QUORVEX_LIBRARY=.../libQUORVEXv1.so PYTHONPATH=python \\
        /usr/bin/python3 tests/windows/check_vba_mirror.py RESULTS.txt

RESULTS.txt is written under Wine by ``quorvex_vba_mirror`` (the worksheet
functions and the macro of examples/quorvex.bas, step for step, against
QUORVEXv1.dll).  For every fit it records, the same standards are fitted with
``quorvex.fit`` and compared: the fit block (interval, SRES, degrees of
freedom, which covariance, coefficients and that covariance, the standards'
range), the power form
against ``Calibration.power_coefficients()``, intercept and slope against
``Calibration.line()``, and every response read back against
``Calibration.inverse`` with the u(y) the package's defaults give (SRES /
sqrt(readings) for a fit scaled by the scatter, the stated value, or 0 for
curve-only; a stated 0 is reported as curve only).

Prints one line per disagreement and 'N compared, N failed'; exits 1 on any.
"""
from __future__ import annotations

import math
import sys

import numpy as np

import quorvex


def floats(text: str) -> np.ndarray | None:
    return None if text == "-" else np.array([float(v) for v in text.split(",")])


def fields(rest: str) -> dict[str, str]:
    """key=value pairs; a ``source=`` field runs to the end of the line."""
    out = {}
    if " source=" in rest:
        rest, out["source"] = rest.split(" source=", 1)
    for item in rest.split():
        k, v = item.split("=", 1)
        out[k] = v
    return out


class Comparison:
    def __init__(self) -> None:
        self.compared = 0
        self.failed = 0

    def close(self, what: str, got, want, rtol: float, atol: float = 0.0) -> None:
        got = np.atleast_1d(np.asarray(got, dtype=float))
        want = np.atleast_1d(np.asarray(want, dtype=float))
        self.compared += 1
        if got.shape != want.shape or not np.allclose(got, want, rtol=rtol, atol=atol):
            self.failed += 1
            print(f"FAILED: {what}: module {got.tolist()}, Python {want.tolist()}")

    def equal(self, what: str, got, want) -> None:
        self.compared += 1
        if got != want:
            self.failed += 1
            print(f"FAILED: {what}: module {got!r}, Python {want!r}")


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print(f"usage: {argv[0]} RESULTS.txt")
        return 2
    c = Comparison()
    cals: dict[str, quorvex.Calibration] = {}
    eiv: set[str] = set()
    for line in open(argv[1], encoding="utf-8"):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        kind, name, rest = (line.split(" ", 2) + [""])[:3]
        if kind == "error":
            continue
        f = fields(rest)
        if kind == "fit":
            u_y, u_x = floats(f["uy"]), floats(f["ux"])
            cals[name] = quorvex.fit(floats(f["x"]), floats(f["y"]), u_y=u_y, u_x=u_x,
                                     degree=int(float(f["degree"])))
            if u_x is not None:
                eiv.add(name)
            continue
        cal = cals[name.split("-row")[0]] if name.startswith("sheet") else None
        if cal is None:
            base = max((k for k in cals if name == k or name.startswith(k + "-")), key=len)
            cal = cals[base]
        gls = (name.split("-row")[0] if name.startswith("sheet") else
               max((k for k in cals if name == k or name.startswith(k + "-")), key=len)) in eiv
        # The errors-in-variables fit stops within about 1e-7 of the coefficients'
        # standard uncertainties of the converged point: both sides choose the same
        # tolerances, so they agree far closer than that, but not to the last bit.
        rtol = 1e-9 if gls else 1e-12
        if kind == "block":
            c.equal(f"{name}: NCOEF", int(f["ncoef"]), cal.ncoef)
            c.equal(f"{name}: routine", f["routine"], "GLSPFIT" if cal.kind == "gls" else "OLSPFIT")
            c.close(f"{name}: interval", [float(f["xmin"]), float(f["xmax"])],
                    [cal.xmin, cal.xmax], 0.0)
            c.close(f"{name}: the standards' range", [float(f["xlo"]), float(f["xhi"])],
                    [cal.x.min(), cal.x.max()], 0.0)
            c.close(f"{name}: SRES", float(f["sres"]), cal.sres, rtol)
            c.equal(f"{name}: dof", int(f["dof"]), cal.dof)
            c.equal(f"{name}: covariance", f["covariance"], cal.covariance)
            u = np.sqrt(np.diag(cal.cov_used))
            c.close(f"{name}: COEF", floats(f["coef"]), cal.coef, rtol, atol=1e-6 * u.max() if gls else 0)
            c.close(f"{name}: COV", floats(f["cov"]).reshape(cal.ncoef, cal.ncoef, order="F"),
                    cal.cov_used, 1e-7 if gls else 1e-13)
        elif kind == "power":
            p = cal.power_coefficients()
            scale = np.abs(p.coef).max() + p.u_coef.max()
            c.close(f"{name}: power coefficients", floats(f["a"]), p.coef, 1e-11,
                    atol=(1e-6 * p.u_coef.min() if gls else 1e-13 * scale))
            c.close(f"{name}: their u", floats(f["ua"]), p.u_coef, 1e-7 if gls else 1e-11)
            c.close(f"{name}: their covariance",
                    floats(f["cov"]).reshape(cal.ncoef, cal.ncoef, order="F"), p.cov,
                    1e-7 if gls else 1e-10, atol=1e-13 * np.abs(p.cov).max())
        elif kind == "line":
            ln = cal.line()
            c.close(f"{name}: intercept, slope", [float(f["intercept"]), float(f["slope"])],
                    [ln.intercept, ln.slope], rtol)
            c.close(f"{name}: their u", [float(f["u_intercept"]), float(f["u_slope"])],
                    [ln.u_intercept, ln.u_slope], 1e-7 if gls else 1e-12)
        elif kind == "inv":
            m = 1 if f["readings"] == "-" else int(float(f["readings"]))
            if f["u_y"] == "-":
                c.equal(f"{name}: covariance for a default u(y)", cal.covariance, "scaled")
                u_y = cal.sres / math.sqrt(m)
                source = f"from the scatter, {m} reading{'s' if m > 1 else ''}"
            elif f["u_y"].lower().replace("_", "-") == "curve-only":
                u_y, source = 0.0, "curve only"
            else:
                u_y = float(f["u_y"])
                source = "stated" if u_y > 0 else "curve only"
            c.close(f"{name}: u(y) used", float(f["uy"]), u_y, 1e-15)
            c.equal(f"{name}: u(y) source", f["source"], source)
            r = cal.inverse(float(f["y"]), u_y=u_y)
            which = 1 if f["root"] == "-" else int(float(f["root"]))
            c.close(f"{name}: x", float(f["x"]), r.roots[0, which - 1], rtol,
                    atol=1e-13 * (cal.xmax - cal.xmin))
            c.close(f"{name}: u(x)", float(f["ux"]), r.u_roots[0, which - 1],
                    1e-7 if gls else 1e-10)
        else:
            c.equal(f"line kind {kind!r}", kind, "fit, block, power, line, inv or error")
    if not cals:
        c.equal("fits in the results", 0, "at least one")
    print(f"{c.compared} compared, {c.failed} failed")
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
