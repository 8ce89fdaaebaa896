"""Per-call cost of the Python binding against the raw library call and numpy.

    /usr/bin/python3 python/bench/overhead.py

For fit (a quadratic, weighted least squares), the errors-in-variables fit (fit with
u_x) and inverse (one response per point of a quadratic curve) at 10 and 100 points
it times, best of several repeats: the package call, the raw entry point through
ctypes with every argument prepared beforehand (the library's own time plus ctypes'
minimum), and numpy's Chebyshev.fit / a chebroots loop: CPU time of the calling
thread, best of 21 runs, the package and the raw call measured in alternation so
that both see the same machine.  "overhead" is package minus raw.  For the
errors-in-variables fit the raw call is GLSPFIT alone, with the tolerances the
package would choose; the package also makes the starting fit (OLSPFIT) those
tolerances come from and evaluates the curve at the adjusted abscissae (POLYEVAL).
"""
import ctypes
import os
import sys
import time
import timeit
from pathlib import Path

import numpy as np
from numpy.polynomial import Chebyshev
from numpy.polynomial import chebyshev as C

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import quorvex  # noqa: E402
from quorvex import _clib  # noqa: E402

D, I = ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_int)
REPEAT = 21


def best(fn, number):
    # CPU time of this thread: other jobs on a shared machine do not add to it.
    return min(timeit.repeat(fn, number=number, repeat=REPEAT, timer=time.thread_time)) \
        / number * 1e6  # microseconds


def best_pair(fa, fb, number):
    """Best times of fa and fb (microseconds), measured in alternation."""
    ta, tb = [], []
    for _ in range(REPEAT):
        ta.append(timeit.timeit(fa, number=number, timer=time.thread_time))
        tb.append(timeit.timeit(fb, number=number, timer=time.thread_time))
    return min(ta) / number * 1e6, min(tb) / number * 1e6


def raw_olspfit(lib, x, y, w, ncoef, xmin, xmax):
    n = len(x)
    coef, cov = np.zeros(ncoef), np.zeros((ncoef, ncoef), order="F")
    yfit, res, wres = np.zeros(n), np.zeros(n), np.zeros(n)
    args = [ctypes.byref(ctypes.c_int(n)), x.ctypes.data_as(D), y.ctypes.data_as(D),
            w.ctypes.data_as(D), ctypes.byref(ctypes.c_int(ncoef)),
            ctypes.byref(ctypes.c_double(xmin)), ctypes.byref(ctypes.c_double(xmax)),
            coef.ctypes.data_as(D), cov.ctypes.data_as(D), ctypes.byref(ctypes.c_double()),
            yfit.ctypes.data_as(D), res.ctypes.data_as(D), wres.ctypes.data_as(D),
            ctypes.byref(ctypes.c_double()), ctypes.byref(ctypes.c_int())]
    fn = lib.OLSPFIT
    return lambda: fn(*args)


def raw_glspfit(lib, x, y, wx, wy, ncoef, xmin, xmax, tol):
    n = len(x)
    out = [np.zeros(n + ncoef), np.zeros((ncoef, ncoef), order="F"), np.zeros(n),
           np.zeros((2, n), order="F"), np.zeros(2 * n), np.zeros(n),
           np.zeros((n, ncoef), order="F"), np.zeros(ncoef * (ncoef + 1) // 2), np.zeros(4)]
    tolv = np.array(tol)
    istat = np.zeros(3, dtype=np.intc)
    p = [a.ctypes.data_as(D) for a in out]
    args = [ctypes.byref(ctypes.c_int(n)), x.ctypes.data_as(D), y.ctypes.data_as(D),
            wx.ctypes.data_as(D), wy.ctypes.data_as(D), ctypes.byref(ctypes.c_int(ncoef)),
            ctypes.byref(ctypes.c_double(xmin)), ctypes.byref(ctypes.c_double(xmax)),
            tolv.ctypes.data_as(D), ctypes.byref(ctypes.c_int(100)),
            ctypes.byref(ctypes.c_double(0.1)), p[0], p[1], ctypes.byref(ctypes.c_double()),
            p[2], p[3], p[4], ctypes.byref(ctypes.c_double()), p[5], p[6], p[7], p[8],
            ctypes.byref(ctypes.c_int()), istat.ctypes.data_as(I)]
    fn = lib.GLSPFIT
    return lambda: fn(*args), (out, tolv, istat)


def raw_ipval(lib, cal, y, uy):
    n, nc = len(y), cal.ncoef
    covy = np.asfortranarray(np.diag(np.full(n, uy * uy)))
    cov = np.asfortranarray(cal.cov)
    out = [np.zeros(n, dtype=np.intc), np.zeros((nc - 1, n), order="F"),
           np.zeros((nc - 1, n), order="F")]
    args = [ctypes.byref(ctypes.c_int(nc)), cal.coef.ctypes.data_as(D), cov.ctypes.data_as(D),
            ctypes.byref(ctypes.c_int(n)), y.ctypes.data_as(D), covy.ctypes.data_as(D),
            ctypes.byref(ctypes.c_double(cal.xmin)), ctypes.byref(ctypes.c_double(cal.xmax)),
            ctypes.byref(ctypes.c_int(100)), ctypes.byref(ctypes.c_double(0.0)),
            out[0].ctypes.data_as(I), out[1].ctypes.data_as(D), out[2].ctypes.data_as(D),
            ctypes.byref(ctypes.c_int())]
    fn = lib.IPVAL
    return lambda: fn(*args)


def chebroots_loop(cal, ys):
    c = np.r_[cal.coef[0] / 2, cal.coef[1:]]

    def run():
        for yv in ys:
            d = c.copy()
            d[0] -= yv
            C.chebroots(d)
    return run


def main():
    lib = ctypes.CDLL(str(_clib.library().path))  # a second handle without argtypes
    rng = np.random.default_rng(0)
    print(f"{'call':<10} {'points':>6} {'package':>10} {'raw':>10} {'overhead':>10} {'numpy':>10}")
    for n in (10, 100):
        x = np.linspace(0.0, 10.0, n)
        y = 1.0 + 2.0 * x + 0.05 * x**2 + 0.01 * rng.standard_normal(n)
        w = np.full(n, 100.0)
        number = 500
        t_pkg, t_raw = best_pair(lambda: quorvex.fit(x, y, u_y=0.01, degree=2),
                                 raw_olspfit(lib, x, y, w, 3, 0.0, 10.0), number)
        t_np = best(lambda: Chebyshev.fit(x, y, 2, domain=[0.0, 10.0], w=w), number)
        print(f"{'fit':<10} {n:>6} {t_pkg:>9.1f}u {t_raw:>9.1f}u {t_pkg - t_raw:>9.1f}u "
              f"{t_np:>9.1f}u  (Chebyshev.fit)")
        gls = quorvex.fit(x, y, u_y=0.01, u_x=0.01, degree=2)
        wx = np.full(n, 100.0)
        raw, keep = raw_glspfit(lib, gls.x - 0.0, y, wx, w, 3, gls.xmin, gls.xmax,
                                gls.options["tol"])
        t_pkg, t_raw = best_pair(lambda: quorvex.fit(x, y, u_y=0.01, u_x=0.01, degree=2), raw,
                                 100)
        print(f"{'fit u_x':<10} {n:>6} {t_pkg:>9.1f}u {t_raw:>9.1f}u {t_pkg - t_raw:>9.1f}u "
              f"{'-':>9}   (GLSPFIT alone as raw)")
        cal = quorvex.fit(x, y, u_y=0.01, degree=2)
        ys = np.ascontiguousarray(cal(np.linspace(0.5, 9.5, n)))
        number = 300
        t_pkg, t_raw = best_pair(lambda: cal.inverse(ys, u_y=0.01),
                                 raw_ipval(lib, cal, ys, 0.01), number)
        t_np = best(chebroots_loop(cal, ys), 10)
        print(f"{'inverse':<10} {n:>6} {t_pkg:>9.1f}u {t_raw:>9.1f}u {t_pkg - t_raw:>9.1f}u "
              f"{t_np:>9.1f}u  (chebroots loop, roots only)")
    print("times in microseconds per call (u); load average "
          + " ".join(f"{v:.2f}" for v in os.getloadavg()))


if __name__ == "__main__":
    main()
