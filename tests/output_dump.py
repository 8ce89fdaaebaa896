"""Every output of a broad, fixed set of calls of the six entry points, bit for bit.

    output_dump.py dump LIBRARY OUT      write one line per output of every call
    output_dump.py compare OLD NEW       list the calls whose outputs differ

A line is `case<TAB>output<TAB>hex words`: each real as the 16 hex digits of
its binary64 pattern, each integer in decimal.  Output arrays are filled with
a sentinel before the call and carry two guard elements after their end, so
outputs a call leaves alone, and writes past the end, are recorded too.

The cases: random ordinary fits of every count (weights equal or spanning
1e6, abscissae distinct, repeated or clustered), the NIST StRD polynomial sets
at every degree, generalized fits with statuses 0 to 5 (small iteration
limits, both line-search levels), inverse prediction on random curves with
every grid size and tolerance sign, evaluation, straight-line conversion and
its closed-form inverse.  All inputs come from fixed seeds.  For reading the
changes, ordinary fits also record two lines that are not outputs: the number
of distinct abscissae and the condition number of the weighted design.
"""
import ctypes
import os
import re
import struct
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import quorvex_ctypes  # noqa: E402  (the basis rows the tests already share)

_D = ctypes.POINTER(ctypes.c_double)
_I = ctypes.POINTER(ctypes.c_int)
SENT_R = -1234.5
SENT_I = -77
GUARD = 2
# The NIST StRD files (python/quorvex/reference, or QUORVEX_REFERENCE_DATA);
# without them the reference cases are left out.
REF = os.environ.get("QUORVEX_REFERENCE_DATA",
                     os.path.join(os.path.dirname(__file__), "..", "python", "quorvex",
                                  "reference"))


def hexr(a):
    return " ".join(struct.pack(">d", float(v)).hex() for v in np.ravel(a))


class Lib:
    def __init__(self, path):
        self.lib = ctypes.CDLL(os.path.abspath(path))
        self.out = []

    @staticmethod
    def reals(n):
        return np.full(max(n, 0) + GUARD, SENT_R)

    @staticmethod
    def ints(n):
        return np.full(max(n, 0) + GUARD, SENT_I, dtype=np.intc)

    def emit(self, case, outputs):
        for name, arr in outputs:
            if arr.dtype == np.intc:
                words = " ".join(str(int(v)) for v in arr)
            else:
                words = hexr(arr)
            self.out.append(f"{case}\t{name}\t{words}")

    def olspfit(self, case, x, y, w, ncoef, xmin, xmax):
        n = len(x)
        x, y, w = (np.ascontiguousarray(v, dtype=float) for v in (x, y, w))
        nc = max(min(ncoef, 10), 0)
        coef, cov = self.reals(nc), self.reals(nc * nc)
        yfit, res, wres = self.reals(n), self.reals(n), self.reals(n)
        sres, wresmax, istat = self.reals(1), self.reals(1), self.ints(1)
        self.lib.OLSPFIT(_i1(n), _d(x), _d(y), _d(w), _i1(ncoef), _d1(xmin), _d1(xmax),
                         _d(coef), _d(cov), _d(sres), _d(yfit), _d(res), _d(wres),
                         _d(wresmax), _ip(istat))
        # Not outputs: the number of distinct abscissae and the condition number
        # of the weighted design, to read the changes by.
        self.out.append(f"{case}\tinput:distinct-x\t{len(np.unique(x))}")
        self.out.append(f"{case}\tinput:kappa\t{condition(x, w, ncoef, xmin, xmax)!r}")
        self.emit(case, [("ISTAT", istat), ("COEF", coef), ("COV", cov), ("SRES", sres),
                         ("YFIT", yfit), ("RES", res), ("WRES", wres), ("WRESMAX", wresmax)])
        return int(istat[0])

    def glspfit(self, case, x, y, wx, wy, ncoef, xmin, xmax, tol, maxit, sigma):
        n = len(x)
        x, y, wx, wy = (np.ascontiguousarray(v, dtype=float) for v in (x, y, wx, wy))
        nc = max(min(ncoef, 10), 0)
        tol = np.array(tol, dtype=float)
        param, cov = self.reals(n + nc), self.reals(nc * nc)
        sres, yfit, res, wres = self.reals(1), self.reals(n), self.reals(2 * n), self.reals(2 * n)
        wresmax, r11, r12 = self.reals(1), self.reals(n), self.reals(n * nc)
        r22, rinfo = self.reals(nc * (nc + 1) // 2), self.reals(4)
        olstat, istat = self.ints(1), self.ints(3)
        self.lib.GLSPFIT(_i1(n), _d(x), _d(y), _d(wx), _d(wy), _i1(ncoef), _d1(xmin), _d1(xmax),
                         _d(tol), _i1(maxit), _d1(sigma), _d(param), _d(cov), _d(sres),
                         _d(yfit), _d(res), _d(wres), _d(wresmax), _d(r11), _d(r12), _d(r22),
                         _d(rinfo), _ip(olstat), _ip(istat))
        self.emit(case, [("OLSTAT", olstat), ("ISTAT", istat), ("PARAM", param), ("COV", cov),
                         ("SRES", sres), ("YFIT", yfit), ("RES", res), ("WRES", wres),
                         ("WRESMAX", wresmax), ("R11", r11), ("R12", r12), ("R22", r22),
                         ("RINFO", rinfo)])
        return int(olstat[0]), int(istat[0])

    def polyeval(self, case, coef, x, xmin, xmax):
        coef, x = (np.ascontiguousarray(v, dtype=float) for v in (coef, x))
        y, istat = self.reals(len(x)), self.ints(1)
        self.lib.POLYEVAL(_i1(len(coef)), _d(coef), _i1(len(x)), _d(x), _d1(xmin), _d1(xmax),
                          _d(y), _ip(istat))
        self.emit(case, [("ISTAT", istat), ("Y", y)])

    def ipval(self, case, coef, cov, y, uy, xmin, xmax, ngrid, tol):
        nc, n = len(coef), len(y)
        coef, cov, y = (np.ascontiguousarray(v, dtype=float) for v in (coef, cov, y))
        covy = np.ascontiguousarray(np.diag(np.asarray(uy, dtype=float) ** 2))
        rows = max(nc - 1, 0)
        nroot, xroot, uxroot, istat = self.ints(n), self.reals(rows * n), self.reals(rows * n), \
            self.ints(1)
        self.lib.IPVAL(_i1(nc), _d(coef), _d(cov), _i1(n), _d(y), _d(covy), _d1(xmin), _d1(xmax),
                       _i1(ngrid), _d1(tol), _ip(nroot), _d(xroot), _d(uxroot), _ip(istat))
        self.emit(case, [("ISTAT", istat), ("NROOT", nroot), ("XROOT", xroot),
                         ("UXROOT", uxroot)])

    def linear(self, case, coef, cov, y, uy, xmin, xmax):
        coef, cov, y = (np.ascontiguousarray(v, dtype=float) for v in (coef, cov, y))
        lcoef, lcov, istat = self.reals(2), self.reals(4), self.ints(1)
        self.lib.LINEAR_CONV(_d(coef), _d(cov), _d1(xmin), _d1(xmax), _d(lcoef), _d(lcov),
                             _ip(istat))
        self.emit(case + "/conv", [("ISTAT", istat), ("LCOEF", lcoef), ("LCOV", lcov)])
        n = len(y)
        covy = np.ascontiguousarray(np.diag(np.asarray(uy, dtype=float) ** 2))
        xp, uxp, istat = self.reals(n), self.reals(n), self.ints(1)
        self.lib.IPVAL_DEGREE1(_d(coef), _d(cov), _i1(n), _d(y), _d(covy), _d1(xmin),
                               _d1(xmax), _d(xp), _d(uxp), _ip(istat))
        self.emit(case + "/inv1", [("ISTAT", istat), ("XPRED", xp), ("UXPRED", uxp)])


def condition(x, w, ncoef, xmin, xmax):
    """2-norm condition number of the ordinary fit's weighted design (NaN if none)."""
    if not (1 <= ncoef <= 10 and len(x) >= ncoef and xmin < xmax and np.all(w > 0)
            and np.all(np.isfinite(x))):
        return float("nan")
    b = quorvex_ctypes.basis(x, ncoef, xmin, xmax)
    s = np.linalg.svd(b * (w / w.max())[:, None], compute_uv=False)
    return float(s[0] / s[-1]) if s[-1] > 0 else float("inf")


def _d(a):
    return a.ctypes.data_as(_D)


def _ip(a):
    return a.ctypes.data_as(_I)


def _i1(v):
    return ctypes.byref(ctypes.c_int(int(v)))


def _d1(v):
    return ctypes.byref(ctypes.c_double(float(v)))


def nist(name):
    """(x, y) of a reference file's [data] block."""
    rows, on = [], False
    with open(os.path.join(REF, name + ".txt")) as f:
        for line in f:
            if line.startswith("["):
                on = line.startswith("[data]")
                continue
            if on and line.strip() and not line.startswith("#"):
                rows.append([float(v) for v in line.split()[:2]])
    a = np.array(rows)
    return a[:, 0], a[:, 1]


def design(rng, npts, ncoef, kind):
    """Abscissae on [xmin, xmax] of one of several kinds."""
    xmin, xmax = (0.0, 10.0) if rng.random() < 0.5 else (rng.uniform(-50, 50), 0.0)
    if xmax == 0.0:
        xmax = xmin + rng.uniform(0.1, 100.0)
    span = xmax - xmin
    if kind == "distinct":
        x = xmin + span * rng.random(npts)
    elif kind == "repeated":  # fewer distinct abscissae than coefficients
        k = rng.integers(1, ncoef) if ncoef > 1 else 1
        levels = xmin + span * rng.random(k)
        x = levels[rng.integers(0, k, npts)]
    elif kind == "clustered":
        c, width = rng.random(), 10.0 ** rng.uniform(-6, -1)
        x = xmin + span * np.clip(c + width * rng.standard_normal(npts), 0, 1)
    else:  # levels with replicates, as a calibration has
        k = max(ncoef, min(npts, rng.integers(ncoef, ncoef + 4)))
        levels = np.linspace(xmin, xmax, k)
        x = levels[np.arange(npts) % k]
    return x, xmin, xmax


def run(lib):
    rng = np.random.default_rng(20261208)
    kinds = ["distinct", "repeated", "clustered", "levels"]
    # Ordinary fits.
    for k in range(3000):
        ncoef = int(rng.integers(1, 11))
        npts = int(ncoef + rng.integers(0, 25))
        kind = kinds[k % 4]
        x, xmin, xmax = design(rng, npts, ncoef, kind)
        y = rng.standard_normal(npts) * 10.0 ** rng.uniform(-3, 3) + x
        w = np.ones(npts) if k % 3 == 0 else 10.0 ** rng.uniform(-3, 3, npts)
        lib.olspfit(f"ols/{k}/{kind}/n{ncoef}", x, y, w, ncoef, xmin, xmax)
    # Invalid counts and arguments.
    x = np.linspace(0, 1, 5)
    for ncoef in (-1, 0, 11, 12):
        lib.olspfit(f"ols/badcount/{ncoef}", x, x, np.ones(5), ncoef, 0.0, 1.0)
    lib.olspfit("ols/badw", x, x, np.array([1, 1, 0, 1, 1.0]), 2, 0.0, 1.0)
    lib.olspfit("ols/badint", x, x, np.ones(5), 2, 1.0, 0.0)
    lib.olspfit("ols/below", x, x, np.ones(5), 2, 0.5, 1.0)
    lib.olspfit("ols/above", x, x, np.ones(5), 2, 0.0, 0.5)
    lib.olspfit("ols/nan", np.array([0, np.nan, 1.0]), x[:3], np.ones(3), 2, 0.0, 1.0)
    # The reproducers.
    lib.olspfit("ols/two-same", np.array([0.3, 0.3]), np.array([1.0, 2.0]), np.ones(2), 2,
                0.0, 10.0)
    lib.olspfit("ols/quad-0-3-0", np.array([0.0, 3.0, 0.0]), np.array([1.0, 2.0, 3.0]),
                np.ones(3), 3, 0.0, 10.0)
    # NIST sets at every degree, on their data range and on a wider interval.
    names = ["Norris", "Pontius"] + [f"Wampler{i}" for i in range(1, 6)]
    if not os.path.exists(os.path.join(REF, "Norris.txt")):
        print(f"no reference data in {REF}: NIST cases left out", file=sys.stderr)
        names = []
    for name in names:
        xs, ys = nist(name)
        for ncoef in range(1, 11):
            for (a, b) in [(xs.min(), xs.max()), (xs.min() - 1, xs.max() + 1)]:
                lib.olspfit(f"nist/{name}/n{ncoef}/{a}", xs, ys, np.ones(len(xs)), ncoef, a, b)
                lib.polyeval(f"nist-eval/{name}/n{ncoef}/{a}", rng.standard_normal(ncoef),
                             np.linspace(a, b, 7), a, b)
    # Generalized fits.
    for k in range(600):
        ncoef = int(rng.integers(1, 6))
        npts = int(ncoef + rng.integers(0, 15))
        xmin, xmax = 0.0, 10.0
        xt = np.sort(1 + 8 * rng.random(npts))
        c = rng.standard_normal(ncoef)
        t = (2 * xt - 10) / 10
        yt = np.polynomial.chebyshev.chebval(t, np.r_[c[0] / 2, c[1:]])
        ux = 10.0 ** rng.uniform(-3, -1, npts)
        uy = 10.0 ** rng.uniform(-3, -1, npts)
        x = np.clip(xt + ux * rng.standard_normal(npts), 0.0, 10.0)
        y = yt + uy * rng.standard_normal(npts)
        if k % 7 == 0:  # repeated abscissae
            x = np.round(x)
        tol = [(1e-12, 1e-12), (1e-3, 1e-12), (1e-12, 1e-3), (1e-6, 1e-6), (1e2, 1e-300),
               (1e-300, 1e2)][k % 6]
        maxit = [1, 2, 3, 100][k % 4]
        sigma = [0.1, 0.3, 0.45][k % 3]
        lib.glspfit(f"gls/{k}/n{ncoef}/t{k % 6}/m{maxit}/s{sigma}", x, y, 1 / ux, 1 / uy, ncoef,
                    xmin, xmax, tol, maxit, sigma)
    x = np.linspace(1, 9, 6)
    lib.glspfit("gls/wx0-last", x, x, np.r_[np.ones(5), 0.0], np.ones(6), 2, 0, 10,
                (1e-9, 1e-9), 10, 0.1)
    lib.glspfit("gls/wx0-bad-ols", x, x, np.r_[np.ones(5), 0.0], np.ones(6), 2, 10, 0,
                (1e-9, 1e-9), 10, 0.1)
    lib.glspfit("gls/badtol", x, x, np.ones(6), np.ones(6), 2, 0, 10, (0.0, 1e-9), 10, 0.1)
    lib.glspfit("gls/badmaxit", x, x, np.ones(6), np.ones(6), 2, 0, 10, (1e-9, 1e-9), 0, 0.1)
    lib.glspfit("gls/singular", np.array([3.0, 3.0, 3.0]), np.array([1.0, 2.0, 3.0]),
                np.ones(3), np.ones(3), 2, 0, 10, (1e-9, 1e-9), 10, 0.1)
    # Inverse prediction, evaluation, straight lines.
    for k in range(800):
        ncoef = int(rng.integers(1, 8))
        xmin, xmax = (0.0, 10.0) if k % 2 else (-3.0, 250.0)
        coef = rng.standard_normal(ncoef) * 10.0 ** rng.uniform(-2, 2)
        a = rng.standard_normal((ncoef, ncoef)) * 1e-2
        cov = a @ a.T
        npts = int(rng.integers(0, 6))
        xs = xmin + (xmax - xmin) * rng.random(npts)
        t = ((xs - xmin) - (xmax - xs)) / (xmax - xmin)
        cc = coef.copy()
        if ncoef:
            cc[0] /= 2
        y = np.polynomial.chebyshev.chebval(t, cc) if ncoef else np.zeros(npts)
        y = y + rng.standard_normal(npts) * 0.1
        uy = np.abs(rng.standard_normal(npts)) * 0.1
        ngrid = [1, 2, 10, 100, 0][k % 5]
        tol = [0.0, 1e-10, 1e-3, -1e-6, -1.0, np.nan, np.inf, -0.0][k % 8]
        lib.ipval(f"ipval/{k}/n{ncoef}/g{ngrid}/t{k % 8}", coef, cov, y, uy, xmin, xmax, ngrid,
                  tol)
        lib.polyeval(f"eval/{k}/n{ncoef}", coef, xs, xmin, xmax)
        if ncoef == 2 or k % 3 == 0:
            c2 = np.resize(coef, 2)
            cov2 = np.resize(cov, (2, 2))
            lib.linear(f"line/{k}", c2, cov2, y, uy, xmin, xmax)
    lib.polyeval("eval/badint", np.ones(3), np.ones(2), 1.0, 0.0)
    lib.ipval("ipval/badint", np.ones(3), np.eye(3), np.ones(2), np.ones(2), 1.0, 0.0, 10, 0.0)


def compare(old, new):
    def load(p):
        d = {}
        with open(p) as f:
            for line in f:
                case, out, words = line.rstrip("\n").split("\t")
                d[(case, out)] = words
        return d
    a, b = load(old), load(new)
    if a.keys() != b.keys():
        print("different sets of outputs:", len(a.keys() ^ b.keys()))
    changed = {}
    for key in a:
        if key in b and a[key] != b[key]:
            changed.setdefault(key[0], []).append(key[1])
    cases = {k[0] for k in a}
    print(f"{len(a)} outputs of {len(cases)} calls; {len(changed)} calls differ")
    kinds = {}
    for case, outs in sorted(changed.items()):
        st_old = a.get((case, "ISTAT"), "").split(" ")[0]
        st_new = b.get((case, "ISTAT"), "").split(" ")[0]
        ol_old = a.get((case, "OLSTAT"), "").split(" ")[0]
        ol_new = b.get((case, "OLSTAT"), "").split(" ")[0]
        key = (case.split("/")[0], f"OLSTAT {ol_old}->{ol_new}" if ol_old != ol_new else "",
               f"ISTAT {st_old}->{st_new}",
               ",".join(sorted(outs)))
        kinds.setdefault(key, []).append(case)
    for key, cs in sorted(kinds.items()):
        print(f"{len(cs):5d}  {key[0]:8s} {key[1]} {key[2]}  changed: {key[3]}   e.g. {cs[0]}")
    # Ordinary fits whose status changed, by whether they had enough distinct abscissae.
    tally = {}
    for case in changed:
        if (case, "input:distinct-x") in a:
            m = re.search(r"/n(\d+)", case)
            if m is None:
                continue
            ncoef = int(m.group(1))
            nd = int(a[(case, "input:distinct-x")])
            key = "fewer distinct x than NCOEF" if nd < ncoef else "enough distinct x"
            tally.setdefault(key, []).append(case)
    for key, cs in sorted(tally.items()):
        print(f"  ordinary fits changed with {key}: {len(cs)}  e.g. {cs[:3]}")
    # Condition numbers: of the fits refused now, and of those still fitted.
    eps = np.finfo(float).eps

    def kappa_m(case):
        n = len(a[(case, "YFIT")].split(" ")) - GUARD
        return float(a[(case, "input:kappa")]) * n * eps
    refused = [kappa_m(c) for c in tally.get("enough distinct x", [])]
    kept = [kappa_m(c) for (c, o) in b if o == "ISTAT" and (c, "input:kappa") in b
            and b[(c, o)].split(" ")[0] == "0" and c not in changed]
    if refused:
        print(f"  refused with enough distinct x: smallest kappa NPTS eps {min(refused):.3g}")
    if kept:
        big = [k for k in kept if k / eps > 1e12]
        print(f"  fitted as before: {len(kept)}, largest kappa NPTS eps {max(kept):.3g}; "
              f"{len(big)} of them with kappa > 1e12")
    return changed


def main(argv):
    if len(argv) == 4 and argv[1] == "dump":
        lib = Lib(argv[2])
        run(lib)
        with open(argv[3], "w") as f:
            f.write("\n".join(lib.out) + "\n")
        return 0
    if len(argv) == 4 and argv[1] == "compare":
        compare(argv[2], argv[3])
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
