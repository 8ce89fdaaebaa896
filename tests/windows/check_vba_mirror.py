#!/usr/bin/python3
"""Compares the spreadsheet module's results with the Python package, bit for bit.

    QUORVEX_LIBRARY=.../libQUORVEXv1.so PYTHONPATH=python \\
        /usr/bin/python3 tests/windows/check_vba_mirror.py CASES.txt RESULTS.txt

RESULTS.txt is written by ``quorvex_vba_mirror`` (the worksheet functions and
the macro of examples/quorvex.bas, step for step, through the DLLs under
Wine) for the example sheet and the case table CASES.txt
(tests/windows/vba_cases.txt).  Every case is run again through the Python
package as its users call it -- ``quorvex.fit`` (weighting, exclusions with
reasons, covariance), ``Calibration.inverse`` (with detection limits),
``Calibration.detection_limits``, ``Calibration.band``, ``line``,
``power_coefficients`` and the verdict of ``Calibration.diagnostics`` -- and
every number must be equal to the bit (NaN equal to NaN), every code and
source text the same, and each call that fails in the module must fail in
Python too.  Both run the same laboratory library, on two platforms.

With ``--ulps N`` (the Windows DLLs, whose C library's exp, log and pow
differ from glibc's in the last bits: see docs/windows.md) a real may differ
from Python's by at most N units in the last place; each that does is listed
with its distance and counted.

Prints one line per disagreement and 'N compared, N failed'; exits 1 on any.
"""
from __future__ import annotations

import math
import struct
import sys

import numpy as np

import quorvex
import quorvex.variance
from quorvex import _lab, _lab_limits
from quorvex import _lab_verdicts as LV
from quorvex.errors import QuorvexError


def floats(text: str) -> list[float]:
    return [] if text in ("", "-") else [float(v) for v in text.split(",")]


def bits(v: float) -> bytes:
    return struct.pack("<d", v) if not math.isnan(v) else b"nan"


def fields(rest: list[str]) -> dict[str, str]:
    return dict(w.split("=", 1) for w in rest if "=" in w)


def ulps(a: float, b: float) -> float:
    """Distance of two finite doubles in units in the last place (inf otherwise)."""
    if math.isnan(a) or math.isnan(b) or math.isinf(a) or math.isinf(b):
        return 0.0 if bits(a) == bits(b) else math.inf
    ia, ib = (struct.unpack("<q", struct.pack("<d", v))[0] for v in (a, b))
    ia, ib = (v if v >= 0 else -(v & 0x7FFFFFFFFFFFFFFF) for v in (ia, ib))
    return float(abs(ia - ib))


class Comparison:
    def __init__(self, max_ulps: int = 0) -> None:
        self.compared = 0
        self.failed = 0
        self.max_ulps = max_ulps
        self.differing = 0

    def fail(self, what: str) -> None:
        self.failed += 1
        print(f"FAILED: {what}")

    def same(self, what: str, got, want) -> None:
        """Numbers equal to the bit (NaN equal to NaN)."""
        got = [float(v) for v in np.atleast_1d(np.asarray(got, dtype=float)).ravel(order="F")]
        want = [float(v) for v in np.atleast_1d(np.asarray(want, dtype=float)).ravel(order="F")]
        self.compared += 1
        if len(got) != len(want):
            self.fail(f"{what}: module {got}, Python {want}")
            return
        far = [ulps(a, b) for a, b in zip(got, want)]
        if max(far, default=0) > self.max_ulps:
            self.fail(f"{what}: module {got}, Python {want}")
        elif max(far, default=0) > 0:
            self.differing += sum(d > 0 for d in far)
            print(f"differs: {what}: by {', '.join(f'{d:g}' for d in far if d > 0)} ulp(s)")

    def equal(self, what: str, got, want) -> None:
        self.compared += 1
        if got != want:
            self.fail(f"{what}: module {got!r}, Python {want!r}")


def table(path: str) -> tuple[dict, list]:
    sets, cases = {}, []
    for line in open(path, encoding="utf-8"):
        words = line.split()
        if not words or words[0].startswith("#") or len(words) < 2:
            continue
        if words[0] == "set":
            sets[words[1]] = {k: floats(v) for k, v in fields(words[2:]).items()}
        elif words[0] == "case":
            cases.append((words[1], fields(words[2:])))
    return sets, cases


def python_fit(s: dict, kv: dict) -> quorvex.Calibration:
    exclude = None
    if "exclude" in kv:
        exclude = {}
        for item in kv["exclude"].split(","):
            i, reason = item.split(":", 1)
            exclude[i] = reason.replace("_", " ")
    degree = float(kv.get("degree", "1"))
    weighting, variance = kv.get("weighting"), None
    if weighting in VARIANCE_NAMES:  # the module takes a variance model as its weighting
        weighting, variance = None, weighting
    return quorvex.fit(s["x"], s["y"], u_y=s["uy"] if "uy" in kv else None,
                       u_x=s["ux"] if "ux" in kv else None,
                       degree=int(degree) if degree == int(degree) else degree,
                       weighting=weighting, covariance=kv.get("covariance"),
                       exclude=exclude, variance=variance,
                       weights=s["w"] if "weights" in kv else None)


VARIANCE_NAMES = ("auto", "constant", "proportional", "floor", "power")


def python_limits(cal, blank: float, readings):
    """``detection_limits`` as a user calls it, and the blank's source code from the same
    call of the library."""
    limits = cal.detection_limits(blank=blank, blank_readings=readings)
    hasub = u_blank = u_dof = None
    vm = cal.variance_model
    if readings is not None:
        from quorvex.variance import blank_scatter
        u_blank, u_dof = blank_scatter(readings)
        hasub = _lab_limits.HASUB_READINGS
    elif vm is not None:
        u_blank, u_dof = 0.0, 0.0
        if vm.has_floor:
            sd, dof = vm.at([blank])
            if sd[0] > 0:
                u_blank, u_dof = float(sd[0]), float(dof[0])
        hasub = _lab_limits.HASUB_MODEL
    lim, _ = _lab_limits.limits(cal, 0.05, 0.05, blank, 1, u_blank, 3.0, hasub, u_dof)
    return limits, lim


def main(argv: list[str]) -> int:
    max_ulps = 0
    if len(argv) == 5 and argv[1] == "--ulps":
        max_ulps = int(argv[2])
        argv = [argv[0]] + argv[3:]
    if len(argv) != 3:
        print(f"usage: {argv[0]} [--ulps N] CASES.txt RESULTS.txt")
        return 2
    sets, cases = table(argv[1])
    results: dict[tuple[str, str], list[str]] = {}
    sheet_sets, sheet_cases = table(argv[2])  # the macro's sheet, written as a case
    sets.update(sheet_sets)
    cases = sheet_cases + cases
    for line in open(argv[2], encoding="utf-8"):
        words = line.rstrip("\n").split(" ")
        if words[0] == "error":
            results[("error " + words[1], words[2])] = words[3:]
        elif words[0] not in ("#", "set", "case") and len(words) > 1:
            results[(words[0], words[1])] = words[2:]
    c = Comparison(max_ulps)
    c.equal("the module's default criteria are the package's",
            [bits(v) for v in _default_criteria()], [bits(v) for v in LV.criteria_array()])
    for name, kv in cases:
        s = sets[kv["set"]]
        try:
            cal = python_fit(s, kv)
        except (QuorvexError, ValueError, TypeError) as e:
            c.equal(f"{name}: the fit fails in both", ("error fit", name) in results, True)
            if ("error fit", name) not in results:
                print(f"  (Python: {e})")
            continue
        if ("error fit", name) in results:
            c.fail(f"{name}: the module refuses the fit ({' '.join(results[('error fit', name)])}), "
                   "Python fits")
            continue
        check_case(c, name, kv, cal, results)
    for name, kv in correlated_cases(argv[1]):
        check_correlated(c, name, kv, results)
    if c.compared < 1000:
        c.fail(f"only {c.compared} comparisons: the results file is incomplete")
    if c.differing:
        print(f"{c.differing} reals differ from Python's in their last bits (at most "
              f"{c.max_ulps} ulps allowed)")
    print(f"{c.compared} compared, {c.failed} failed ({len(cases)} cases)")
    return 1 if c.failed else 0


def _default_criteria() -> list[float]:
    from ctypes import byref, c_int
    crit = np.zeros(10)
    st = c_int()
    _lab.function("QVXL_DEFAULT_CRITERIA", 2)(_lab._a(crit), byref(st))
    return crit.tolist()


def check_case(c: Comparison, name: str, kv: dict, cal, results: dict) -> None:
    b = fields(results[("block", name)])
    c.equal(f"{name}: NCOEF", int(b["ncoef"]), cal.ncoef)
    c.equal(f"{name}: routine", b["routine"], "GLSPFIT" if cal.kind == "gls" else "OLSPFIT")
    c.equal(f"{name}: covariance", b["covariance"], cal.covariance)
    c.equal(f"{name}: dof", int(b["dof"]), cal.dof)
    c.same(f"{name}: interval", [float(b["xmin"]), float(b["xmax"])], cal.interval)
    c.same(f"{name}: the standards' range", [float(b["xlo"]), float(b["xhi"])],
           [cal.x.min(), cal.x.max()])
    c.same(f"{name}: SRES, chi2", [float(b["sres"]), float(b["chi2"])], [cal.sres, cal.chi2])
    c.same(f"{name}: COEF", floats(b["coef"]), cal.coef)
    c.same(f"{name}: the covariance used", floats(b["cov"]), cal.cov_used)
    c.same(f"{name}: the unscaled covariance", floats(b["covu"]), cal.cov)
    keep = np.ones(len(floats(b["w"])), dtype=bool)
    for item in kv.get("exclude", "").split(",") if "exclude" in kv else ():
        keep[int(item.split(":")[0]) - 1] = False
    c.same(f"{name}: weights of the fitted standards", np.array(floats(b["w"]))[keep], cal.weights)
    c.same(f"{name}: weighted residuals", np.array(floats(b["wres"]))[keep],
           cal.weighted_residuals)
    vm = cal.variance_model
    c.equal(f"{name}: the variance model", int(b["vmodel"]),
            -1 if vm is None else quorvex.variance.MODELS.index(vm.model))
    if vm is not None:
        c.same(f"{name}: its parameters", floats(b["vpar"]), [vm.a, vm.b])
        c.same(f"{name}: their covariance", floats(b["vpcov"]), vm.cov)
        c.same(f"{name}: the standards' mean responses", np.array(floats(b["mu"]))[keep], vm.mu)
    if cal.u_y is not None:
        c.same(f"{name}: the u(y) the fit took", np.array(floats(b["uy"]))[keep], cal.u_y)
    want = ("variance" if vm is not None else cal.options.get("response_weighting")
            or cal.options.get("weighting") or "none")
    c.equal(f"{name}: the weighting's name", b["name"], want)
    c.equal(f"{name}: the reasons kept", [e["reason"] for e in cal.excluded],
            [item.split(":", 1)[1].replace("_", " ") for item in kv["exclude"].split(",")]
            if "exclude" in kv else [])

    p = fields(results[("power", name)])
    pc = cal.power_coefficients()
    c.same(f"{name}: power form", floats(p["a"]), pc.coef)
    c.same(f"{name}: its covariance", floats(p["cov"]), pc.cov)
    if cal.ncoef == 2:
        ln = fields(results[("line", name)])
        line = cal.line()
        c.same(f"{name}: slope, intercept", [float(ln["slope"]), float(ln["intercept"])],
               [line.slope, line.intercept])
        c.same(f"{name}: their covariance", floats(ln["cov"]), line.cov)

    # The verdict, as Calibration.diagnostics() judges it.
    crit = LV.criteria_array(alpha=float(kv.get("alpha", 0.05)))
    try:
        v = LV.verdict(cal, crit)
    except QuorvexError:
        c.equal(f"{name}: the verdict fails in both", ("error verdict", name) in results, True)
    else:
        r = fields(results[("verdict", name)])
        for key, want in (("applies", v["applies"]), ("result", v["result"]),
                          ("detail", v["detail"])):
            c.equal(f"{name}: verdict {key}", [int(t) for t in r[key].split(",")], want.tolist())
        for key, want in (("statv", v["statistic"]), ("plim", v["limit"]), ("alpha", v["alpha"])):
            c.same(f"{name}: verdict {key}", floats(r[key]), want)
        c.equal(f"{name}: overall verdict", (int(r["overall"]), int(r["reasons"])),
                (v["overall"], v["reasons"]))
        d = cal.diagnostics(criteria={"alpha": float(kv.get("alpha", 0.05))})
        c.equal(f"{name}: the banner", r["banner"] != "-", not d.fit_for_use)

    limits = None
    if "blank" in kv:
        blank = float(kv["blank"])
        readings = floats(kv["blankreadings"]) if "blankreadings" in kv else None
        try:
            limits, lim = python_limits(cal, blank, readings)
        except QuorvexError:
            c.equal(f"{name}: the limits fail in both", ("error limits", name) in results, True)
        else:
            r = fields(results[("limits", name)])
            c.same(f"{name}: limits", floats(r["lim"]),
                   [getattr(limits, k) for k in ("sigma", "slope", "lod", "loq", "sigma_blank",
                                                 "s_blank", "y_critical", "x_critical",
                                                 "x_detection", "k_alpha", "delta", "loq_din")])
            c.equal(f"{name}: the blank's source, extended",
                    (int(r["source"]), int(r["extrap"])), (lim["source"], int(lim["extrapolated"])))

    for k, sample in enumerate(kv.get("samples", "").split(";") if "samples" in kv else (), 1):
        y, uy, m, *rel = sample.split("/")
        rel = float(rel[0]) if rel and rel[0] != "-" else None
        sid = f"{name}#{k}"
        u_y = None if uy == "-" else ("curve-only" if uy == "curve-only" else float(uy))
        try:
            repl = 1 if m == "-" else (int(float(m)) if float(m) == int(float(m)) else float(m))
            pred = cal.inverse(float(y), u_y=u_y, replicates=repl, u_y_relative=rel)
            flags = quorvex.inverse.flags_with_limits(pred, limits) if limits is not None \
                else pred.flags
        except (QuorvexError, ValueError, TypeError):
            c.equal(f"{sid}: the reading fails in both", ("error read", sid) in results, True)
            continue
        if ("error read", sid) in results:
            c.fail(f"{sid}: the module refuses ({' '.join(results[('error read', sid)])}), "
                   "Python reads it")
            continue
        r = fields(results[("read", sid)])
        c.equal(f"{sid}: roots found", int(r["nroot"]), int(pred.n_roots[0]))
        c.same(f"{sid}: roots", floats(r["roots"]), pred.roots[0])
        c.same(f"{sid}: their u(x)", floats(r["uroots"]), pred.u_roots[0])
        c.same(f"{sid}: U, k, dof, low, high, u(y)",
               [float(r[t]) for t in ("U", "k", "dof", "low", "high", "uy")],
               [pred.U[0], pred.k[0], pred.dof[0], pred.low[0], pred.high[0], pred.u_y[0]])
        c.same(f"{sid}: x and u(x) on the line extended", [float(r["xext"]), float(r["uxext"])],
               [pred.x_ext[0], pred.u_x_ext[0]])
        c.equal(f"{sid}: flags", int(r["flags"]), int(np.asarray(flags)[0]))
        line = " ".join(results[("read", sid)])
        source, text = line.split(" source=", 1)[1].split("|", 1)
        c.equal(f"{sid}: u(y) from", source, pred.u_y_source[0])
        # Each flag's words are the library's, in bit order (their numbers the
        # module's own rounding).
        words = quorvex.diagnostics.sample_flags(cal, pred, limits)[0]
        c.equal(f"{sid}: flags in words", [t.split(" (")[0] for t in text.split("; ") if t],
                [t.split(" (")[0] for t in words])

    for k, item in enumerate(kv.get("band", "").split(";") if "band" in kv else (), 1):
        x, kind = item.split("/")
        sid = f"{name}#{k}"
        try:
            bd = cal.band(float(x), kind=kind)
        except QuorvexError:
            c.equal(f"{sid}: the band fails in both", ("error band", sid) in results, True)
            continue
        r = fields(results[("band", sid)])
        c.same(f"{sid}: band y, u, lower, upper, k", floats(r["values"]),
               [float(bd.y), float(bd.u), float(bd.lower), float(bd.upper), bd.k])


def correlated_cases(path: str) -> list:
    out = []
    for line in open(path, encoding="utf-8"):
        words = line.split()
        if words and words[0] == "correlated":
            out.append((words[1], fields(words[2:])))
    return out


def check_correlated(c: Comparison, name: str, kv: dict, results: dict) -> None:
    """QVX_CORRELATED's columns against fit_correlated and its inverse."""
    x, y, ys = floats(kv["x"]), floats(kv["y"]), floats(kv["samples"])
    per = {k: (floats(kv[k]) if k in kv else [0.0]) for k in ("ux", "uy", "suy", "rel")}
    one = {k: (v[0] if len(v) == 1 else v) for k, v in per.items()}
    corr = quorvex.Correlations(u_x=one["ux"], u_y=one["uy"])
    cols = {k: [floats(t) for t in kv[k].split(";")] if k in kv else []
            for k in ("srcx", "srcy", "srcs")}
    for j in range(max(len(v) for v in cols.values())):
        corr.source(f"source {j + 1}", *(cols[k][j] if cols[k] else 0.0
                                         for k in ("srcx", "srcy", "srcs")))
    if "parent" in kv:
        corr.diluted([int(p) for p in floats(kv["parent"])], one["rel"],
                     float(kv.get("stock", "0")))
    try:
        cal = quorvex.fit_correlated(np.array(x), np.array(y), corr,
                                     degree=int(kv.get("degree", "1")))
        p = cal.inverse(ys, u_y=one["suy"])
    except QuorvexError as e:
        c.equal(f"{name}: fails in both", ("error correlated", name) in results, True)
        if ("error correlated", name) not in results:
            print(f"  (Python: {e})")
        return
    if ("error correlated", name) in results:
        c.fail(f"{name}: the module refuses ({' '.join(results[('error correlated', name)])}), "
               "Python reads the samples")
        return
    r = fields(results[("correlated", name)])
    c.same(f"{name}: x", floats(r["x"]), p.x)
    c.same(f"{name}: u(x)", floats(r["ux"]), p.u_x)
    c.same(f"{name}: x ignoring the correlations", floats(r["xi"]), p.x_ignoring)
    c.same(f"{name}: u(x) ignoring the correlations", floats(r["uxi"]), p.u_x_ignoring)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
