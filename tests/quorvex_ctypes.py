"""The library's entry points called through ctypes, as a Python host does.

Shared by the cross-check against scipy.odr and the comparison benchmark.
"""
import ctypes

import numpy as np

_D = ctypes.POINTER(ctypes.c_double)
_I = ctypes.POINTER(ctypes.c_int)


def _d(a):
    return a.ctypes.data_as(_D)


def _i(a):
    return a.ctypes.data_as(_I)


class Quorvex:
    def __init__(self, path):
        self.lib = ctypes.CDLL(path)

    def olspfit(self, x, y, w, ncoef, xmin, xmax):
        n = len(x)
        x, y, w = (np.ascontiguousarray(v, dtype=float) for v in (x, y, w))
        coef = np.zeros(ncoef)
        cov = np.zeros((ncoef, ncoef), order="F")
        yfit, res, wres = np.zeros(n), np.zeros(n), np.zeros(n)
        sres, wresmax = ctypes.c_double(), ctypes.c_double()
        istat = ctypes.c_int()
        self.lib.OLSPFIT(ctypes.byref(ctypes.c_int(n)), _d(x), _d(y), _d(w),
                         ctypes.byref(ctypes.c_int(ncoef)), ctypes.byref(ctypes.c_double(xmin)),
                         ctypes.byref(ctypes.c_double(xmax)), _d(coef), _d(cov),
                         ctypes.byref(sres), _d(yfit), _d(res), _d(wres), ctypes.byref(wresmax),
                         ctypes.byref(istat))
        return dict(istat=istat.value, coef=coef, cov=cov, sres=sres.value)

    def glspfit(self, x, y, wx, wy, ncoef, xmin, xmax, tol=(1e-12, 1e-12), maxit=100, sigma=0.1):
        n = len(x)
        x, y, wx, wy = (np.ascontiguousarray(v, dtype=float) for v in (x, y, wx, wy))
        tol = np.array(tol, dtype=float)
        param = np.zeros(n + ncoef)
        cov = np.zeros((ncoef, ncoef), order="F")
        yfit = np.zeros(n)
        res = np.zeros(2 * n)
        wres = np.zeros(2 * n)
        r11 = np.zeros(n)
        r12 = np.zeros(n * ncoef)
        r22 = np.zeros(ncoef * (ncoef + 1) // 2)
        rinfo = np.zeros(4)
        sres, wresmax = ctypes.c_double(), ctypes.c_double()
        olstat = ctypes.c_int()
        istat = np.zeros(3, dtype=np.intc)
        self.lib.GLSPFIT(ctypes.byref(ctypes.c_int(n)), _d(x), _d(y), _d(wx), _d(wy),
                         ctypes.byref(ctypes.c_int(ncoef)), ctypes.byref(ctypes.c_double(xmin)),
                         ctypes.byref(ctypes.c_double(xmax)), _d(tol),
                         ctypes.byref(ctypes.c_int(maxit)), ctypes.byref(ctypes.c_double(sigma)),
                         _d(param), _d(cov), ctypes.byref(sres), _d(yfit), _d(res), _d(wres),
                         ctypes.byref(wresmax), _d(r11), _d(r12), _d(r22), _d(rinfo),
                         ctypes.byref(olstat), _i(istat))
        return dict(olstat=olstat.value, istat=istat.copy(), delta=param[:n].copy(),
                    coef=param[n:].copy(), cov=cov, sres=sres.value, rinfo=rinfo)


def basis(x, ncoef, xmin, xmax):
    """Rows phi_1..phi_ncoef at x: 0.5, t, T2(t), ..."""
    t = ((x - xmin) - (xmax - x)) / (xmax - xmin)
    b = np.empty((len(x), ncoef))
    b[:, 0] = 1.0
    if ncoef > 1:
        b[:, 1] = t
    for k in range(2, ncoef):
        b[:, k] = 2 * t * b[:, k - 1] - b[:, k - 2]
    b[:, 0] = 0.5
    return b


def slope(coef, x, xmin, xmax):
    """dp/dx of the scaled polynomial."""
    from numpy.polynomial import chebyshev as C
    c = np.array(coef, dtype=float)
    c[0] *= 0.5
    t = ((x - xmin) - (xmax - x)) / (xmax - xmin)
    return C.chebval(t, C.chebder(c)) * 2.0 / (xmax - xmin)


def eiv_data(npts, coef, ux, uy, seed, xmin=0.0, xmax=10.0):
    """Points on a known curve with Gaussian errors in x and y."""
    rng = np.random.default_rng(seed)
    ncoef = len(coef)
    xt = xmin + (xmax - xmin) * (0.1 + 0.8 * np.sort(rng.random(npts)))
    yt = basis(xt, ncoef, xmin, xmax) @ np.asarray(coef)
    sx = ux * (0.5 + rng.random(npts))
    sy = uy * (0.5 + rng.random(npts))
    return xt + sx * rng.standard_normal(npts), yt + sy * rng.standard_normal(npts), 1 / sx, 1 / sy


def odr_fit(x, y, wx, wy, beta0, xmin, xmax, maxit=200, tol=1e-14):
    """Explicit orthogonal distance regression with the same model and weights."""
    from scipy import odr
    ncoef = len(beta0)

    def f(beta, xx):
        return basis(xx, ncoef, xmin, xmax) @ beta

    def fjacb(beta, xx):
        return basis(xx, ncoef, xmin, xmax).T

    def fjacd(beta, xx):
        return slope(beta, xx, xmin, xmax)

    model = odr.Model(f, fjacb=fjacb, fjacd=fjacd)
    data = odr.Data(x, y, wd=wx ** 2, we=wy ** 2)
    job = odr.ODR(data, model, beta0=beta0, maxit=maxit, sstol=tol, partol=tol)
    job.set_job(fit_type=0, deriv=3)
    return job.run()
