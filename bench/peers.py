"""quorvex against its peers and against the machine: speed, scaling and memory.

    env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE nice -n 10 \\
        /usr/bin/python3 bench/peers.py [--lib build/libQUORVEXv1.so] [--quick] \\
        [--clock cpu|wall] [all | odr | ols | scaling | memory]

Sections (``all`` runs them in this order, after a header that names the
machine, its load average, the BLAS and LAPACK each side has loaded, and the
measured memory bandwidth and scalar arithmetic rate):

``odr``
    GLSPFIT against scipy.odr (ODRPACK, explicit orthogonal distance
    regression with the same basis, interval, weights and analytic
    derivatives) at 10^2, 10^3, 2*10^4, 2*10^5 points, NCOEF 3 and 6, at
    matched accuracy: each side's tolerance is the loosest (in half decades)
    that leaves every coefficient within 1e-6 of its standard uncertainty of
    the fully converged solution (GLSPFIT with TOL = 1e-300, 200 iterations).
    scipy.odr starts from the ordinary fit's coefficients, which are computed
    outside its timing; GLSPFIT's time includes its own start.
``ols``
    OLSPFIT at 10^5 and 10^6 points, NCOEF 2, 4, 10 against numpy's
    ``Chebyshev.fit`` and against the machine's limit max(bytes / bandwidth,
    flops / scalar rate), with bytes = 48 per point (x, y, w read once; yfit,
    res, wres written once) and flops = 2 k^2 (n - k/3) + 4 n k (Householder QR
    of the n x k design and Q'y).
``scaling``
    Time against size, 10^3 to 10^6 points, for both fits: t(10 n) / t(n).
``memory``
    Peak resident memory beyond the caller's own arrays, per point, each fit in
    a fresh process: the peak is reset just before the call (/proc/self/clear_refs)
    and read just after it (VmHWM), less the resident memory before the call.

Times are the best of several interleaved runs of each side, in one process,
on the same data, in the process's CPU time (``--clock wall`` for wall time:
both sides are single-threaded, so the two agree on an idle machine).  The machine may be shared: the load average is printed at
the start and end of each section, and the figures are indicative.  ``--quick``
runs small sizes only, to check the script itself.
"""
from __future__ import annotations

import argparse
import ctypes
import json
import os
import platform
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
from quorvex_ctypes import eiv_data, odr_fit  # noqa: E402

MATCH = 1e-6  # matched accuracy: max |c - c_converged| / u(c)
XMIN, XMAX = 0.0, 10.0  # interval of the errors-in-variables data
OXMIN, OXMAX = 20.0, 80.0  # interval of the ordinary-fit data


# ----------------------------------------------------------------------------
# The two fits through ctypes, with every output allocated once, so that a
# timed call is the library call alone.

def _p(a: np.ndarray) -> int:
    return a.ctypes.data


class Library:
    """The shared library with OLSPFIT and GLSPFIT taking raw addresses."""

    def __init__(self, path: str):
        self.path = str(Path(path).resolve())
        self.lib = ctypes.CDLL(self.path)
        for name, nargs in (("OLSPFIT", 15), ("GLSPFIT", 24)):
            fn = getattr(self.lib, name)
            fn.argtypes = [ctypes.c_void_p] * nargs
            fn.restype = None


class OlsCall:
    """One ordinary fit of fixed data, callable repeatedly.

    Parameters
    ----------
    lib : Library
    x, y, w : ndarray
        Abscissae, responses and weights 1/u(y).
    ncoef : int
    xmin, xmax : float
    """

    def __init__(self, lib: Library, x, y, w, ncoef: int, xmin: float, xmax: float):
        n = len(x)
        self.x, self.y, self.w = (np.ascontiguousarray(v, dtype=float) for v in (x, y, w))
        self.coef = np.zeros(ncoef)
        self.cov = np.zeros((ncoef, ncoef), order="F")
        self.yfit, self.res, self.wres = (np.full(n, 0.0) for _ in range(3))
        self._n, self._k = ctypes.c_int(n), ctypes.c_int(ncoef)
        self._xmin, self._xmax = ctypes.c_double(xmin), ctypes.c_double(xmax)
        self._sres, self._wresmax, self._istat = ctypes.c_double(), ctypes.c_double(), ctypes.c_int()
        a = ctypes.addressof
        self._fn = lib.lib.OLSPFIT
        self._args = (a(self._n), _p(self.x), _p(self.y), _p(self.w), a(self._k), a(self._xmin),
                      a(self._xmax), _p(self.coef), _p(self.cov), a(self._sres), _p(self.yfit),
                      _p(self.res), _p(self.wres), a(self._wresmax), a(self._istat))

    def __call__(self) -> int:
        self._fn(*self._args)
        return self._istat.value


class GlsCall:
    """One generalized fit of fixed data, callable repeatedly.

    Parameters
    ----------
    lib : Library
    x, y, wx, wy : ndarray
        Abscissae, responses and their weights 1/u(x), 1/u(y).
    ncoef : int
    xmin, xmax : float
    """

    def __init__(self, lib: Library, x, y, wx, wy, ncoef: int, xmin: float, xmax: float):
        n, m = len(x), ncoef
        self.n = n
        self.x, self.y, self.wx, self.wy = (np.ascontiguousarray(v, dtype=float)
                                            for v in (x, y, wx, wy))
        self.tol = np.array([1e-10, 1e-10])
        self.param = np.full(n + m, 0.0)
        self.cov = np.zeros((m, m), order="F")
        self.yfit, self.r11 = np.full(n, 0.0), np.full(n, 0.0)
        self.res, self.wres = np.full(2 * n, 0.0), np.full(2 * n, 0.0)
        self.r12 = np.full(n * m, 0.0)
        self.r22 = np.zeros(m * (m + 1) // 2)
        self.rinfo = np.zeros(4)
        self.istat = np.zeros(3, dtype=np.intc)
        self._n, self._k = ctypes.c_int(n), ctypes.c_int(m)
        self._xmin, self._xmax = ctypes.c_double(xmin), ctypes.c_double(xmax)
        self._maxit, self._sigma = ctypes.c_int(100), ctypes.c_double(0.1)
        self._sres, self._wresmax, self._olstat = ctypes.c_double(), ctypes.c_double(), ctypes.c_int()
        a = ctypes.addressof
        self._fn = lib.lib.GLSPFIT
        self._args = (a(self._n), _p(self.x), _p(self.y), _p(self.wx), _p(self.wy), a(self._k),
                      a(self._xmin), a(self._xmax), _p(self.tol), a(self._maxit), a(self._sigma),
                      _p(self.param), _p(self.cov), a(self._sres), _p(self.yfit), _p(self.res),
                      _p(self.wres), a(self._wresmax), _p(self.r11), _p(self.r12), _p(self.r22),
                      _p(self.rinfo), a(self._olstat), _p(self.istat))

    def set(self, tol: float, maxit: int) -> "GlsCall":
        """Uses TOL = (tol, tol) and MAXIT = maxit from the next call on."""
        self.tol[:] = tol
        self._maxit.value = maxit
        return self

    def __call__(self) -> tuple[int, int, int, int]:
        """Fits; returns (OLSTAT, ISTAT(1), iterations, evaluations)."""
        self._fn(*self._args)
        return (self._olstat.value, int(self.istat[0]), int(self.istat[1]), int(self.istat[2]))

    @property
    def coef(self) -> np.ndarray:
        return self.param[self.n:].copy()


# ----------------------------------------------------------------------------
# Data, timing, machine.

def gls_coefficients(ncoef: int) -> list[float]:
    """The curve of the generalized-fit benchmarks (as bench/bench_glspfit.cpp)."""
    return [4.0 if k == 0 else 3.0 if k == 1 else 0.3 / k for k in range(ncoef)]


def gls_data(n: int, ncoef: int, seed: int = 7):
    """Errors-in-variables data on [0, 10]: u(x) 0.01..0.03, u(y) 0.025..0.075."""
    return eiv_data(n, gls_coefficients(ncoef), 0.02, 0.05, seed, XMIN, XMAX)


def ols_data(n: int, seed: int = 12345):
    """Ordinary-fit data on [20, 80] (as bench/bench_olspfit.cpp)."""
    rng = np.random.default_rng(seed)
    x = rng.uniform(OXMIN, OXMAX, n)
    uy = 0.01 * (1.0 + 0.02 * x)
    y = 0.5 + 0.03 * x - 1e-4 * x * x + uy * rng.standard_normal(n)
    return x, y, 1.0 / uy


# The clock of every timing: the process's CPU time (default) or wall time.
# Both sides run on one thread (reference BLAS and LAPACK start none), so on an
# idle machine the two agree; on a shared one the CPU time is far less
# disturbed by the other processes.
CLOCK: Callable[[], float] = time.process_time


def best_times(fns: list[Callable[[], object]], min_runs: int = 3, budget: float = 1.0,
               max_runs: int = 50) -> list[float]:
    """Best time (on CLOCK) of each function, run in turn (interleaved) at
    least ``min_runs`` times and until ``budget`` wall seconds have passed."""
    best = [float("inf")] * len(fns)
    start = time.perf_counter()
    runs = 0
    while runs < min_runs or (time.perf_counter() - start < budget and runs < max_runs):
        for k, fn in enumerate(fns):
            t0 = CLOCK()
            fn()
            best[k] = min(best[k], CLOCK() - t0)
        runs += 1
    return best


def load() -> str:
    return "load average %.2f %.2f %.2f" % os.getloadavg()


def loaded_libraries() -> list[str]:
    """BLAS/LAPACK/ODRPACK-related shared objects mapped into this process."""
    names = set()
    with open("/proc/self/maps") as f:
        for line in f:
            path = line.split()[-1] if len(line.split()) >= 6 else ""
            base = os.path.basename(path).lower()
            if any(s in base for s in ("blas", "lapack", "openblas", "mkl", "odrpack", "gfortran",
                                       "quorvex", "flexiblas", "blis", "atlas")):
                names.add(os.path.realpath(path))
    return sorted(names)


def bandwidth(mbytes: int = 128) -> float:
    """Memory bandwidth in bytes/s: best numpy copy of an array far larger than
    the caches, counting the bytes read and written.  Many short runs give a
    run that the other processes of a shared machine leave alone."""
    src = np.full(mbytes * 2**20 // 8, 1.0)
    dst = np.full_like(src, 0.0)
    (t,) = best_times([lambda: np.copyto(dst, src)], min_runs=10, budget=3.0, max_runs=100)
    return 2 * src.nbytes / t


def scalar_rate() -> float:
    """Scalar floating-point operations per second (bench/scalar_rate.c)."""
    with tempfile.TemporaryDirectory() as d:
        so = os.path.join(d, "scalar_rate.so")
        subprocess.run(["cc", "-O2", "-fno-tree-vectorize", "-fno-tree-slp-vectorize",
                        "-ffp-contract=off", "-shared", "-fPIC", "-o", so,
                        str(ROOT / "bench" / "scalar_rate.c")], check=True)
        fn = ctypes.CDLL(so).scalar_chains
        fn.argtypes = [ctypes.c_long, ctypes.c_double, ctypes.c_double]
        fn.restype = ctypes.c_double
        iters = 200_000  # about 1 ms a run, mostly undisturbed on a shared machine
        (t,) = best_times([lambda: fn(iters, 0.999999, 1e-7)], min_runs=50, budget=2.0,
                          max_runs=2000)
        return 24 * iters / t


def header(lib: Library) -> dict:
    import scipy
    import scipy.odr  # noqa: F401  (maps ODRPACK and its BLAS)
    from numpy.polynomial import Chebyshev
    Chebyshev.fit(np.linspace(0, 1, 50), np.linspace(0, 1, 50), 3)  # maps numpy's LAPACK
    print(f"date        {time.strftime('%Y-%m-%d %H:%M:%S UTC', time.gmtime())}")
    print(f"machine     {platform.processor() or platform.machine()}, {os.cpu_count()} cores, "
          f"{_cpu_model()}")
    print(f"load        {load()}")
    print(f"python      {sys.executable} {platform.python_version()}, numpy {np.__version__}, "
          f"scipy {scipy.__version__}")
    print(f"library     {lib.path}")
    print(f"clock       {'process CPU time' if CLOCK is time.process_time else 'wall time'}")
    for k in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE"):
        print(f"{k:<18}{os.environ.get(k, '(unset)')}")
    print("mapped BLAS/LAPACK:")
    for path in loaded_libraries():
        print(f"  {path}")
    bw = bandwidth()
    rate = scalar_rate()
    print(f"bandwidth   {bw / 1e9:.2f} GB/s (numpy copy of 128 MiB, read + write)")
    print(f"scalar rate {rate / 1e9:.2f} Gflop/s (12 chains of separate multiply and add)")
    print(flush=True)
    return {"bandwidth": bw, "rate": rate}


def _cpu_model() -> str:
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown cpu"


# ----------------------------------------------------------------------------
# GLSPFIT against scipy.odr at matched accuracy.

def tolerance_ladder():
    """1e-1, 1e-2, ... 1e-15: decades, refined by a half decade at the end."""
    return [10.0 ** -k for k in range(1, 16)]


def tune(fit: Callable[[float], np.ndarray], ref: np.ndarray, u: np.ndarray):
    """Loosest tolerance (to half a decade) whose coefficients lie within
    MATCH * u of ref.  Returns (tol, distance, matched)."""
    prev = None
    for tol in tolerance_ladder():
        d = float(np.max(np.abs(fit(tol) - ref) / u))
        if d <= MATCH:
            if prev is not None:
                half = tol * np.sqrt(10.0)
                dh = float(np.max(np.abs(fit(half) - ref) / u))
                if dh <= MATCH:
                    return half, dh, True
            return tol, d, True
        prev = tol
    return tol, d, False


def odr_callback_share(x, y, wx, wy, start, tol: float) -> float:
    """Share of one scipy.odr fit's time spent in its Python model functions
    (the same ones as odr_fit: values, coefficient and abscissa derivatives)."""
    from scipy import odr
    from quorvex_ctypes import basis, slope
    m = len(start)
    spent = [0.0]

    def timed(fn):
        def wrapper(beta, xx):
            t0 = CLOCK()
            out = fn(beta, xx)
            spent[0] += CLOCK() - t0
            return out
        return wrapper

    model = odr.Model(timed(lambda b, xx: basis(xx, m, XMIN, XMAX) @ b),
                      fjacb=timed(lambda b, xx: basis(xx, m, XMIN, XMAX).T),
                      fjacd=timed(lambda b, xx: slope(b, xx, XMIN, XMAX)))
    job = odr.ODR(odr.Data(x, y, wd=wx ** 2, we=wy ** 2), model, beta0=start, maxit=200,
                  sstol=tol, partol=tol)
    job.set_job(fit_type=0, deriv=3)
    t0 = CLOCK()
    job.run()
    return spent[0] / (CLOCK() - t0)


def odr_section(lib: Library, sizes, ncoefs) -> list[dict]:
    print("== GLSPFIT against scipy.odr at matched accuracy "
          f"(max |c - c_conv| / u(c) <= {MATCH:g}) ==")
    print(load())
    print(f"{'points':>7} {'k':>2} {'tol ours':>9} {'dev':>8} {'it':>3} {'tol odr':>9} "
          f"{'dev':>8} {'it':>3} {'conv gap':>8} {'ours ms':>9} {'odr ms':>9} {'ours/odr':>8} "
          f"{'py cb':>5}",
          flush=True)
    rows = []
    for n in sizes:
        for m in ncoefs:
            x, y, wx, wy = gls_data(n, m)
            g = GlsCall(lib, x, y, wx, wy, m, XMIN, XMAX)
            st = g.set(1e-300, 200)()
            ref, cov = g.coef, g.cov.copy()
            u = np.sqrt(np.diag(cov))
            ols = OlsCall(lib, x, y, wy, m, XMIN, XMAX)
            ols()
            start = ols.coef.copy()
            oconv = odr_fit(x, y, wx, wy, start, XMIN, XMAX, maxit=200, tol=1e-15).beta
            gap = float(np.max(np.abs(oconv - ref) / u))

            def ours(tol):
                g.set(tol, 200)()
                return g.coef

            def theirs(tol):
                return odr_fit(x, y, wx, wy, start, XMIN, XMAX, maxit=200, tol=tol).beta

            tq, dq, okq = tune(ours, ref, u)
            to, do, oko = tune(theirs, ref, u)
            it_q = g.set(tq, 200)()[2]
            # ODRPACK's iteration count NITER sits at IWORK(2 NP + 16) for one
            # response and one explanatory variable.
            it_o = int(odr_fit(x, y, wx, wy, start, XMIN, XMAX, maxit=200,
                               tol=to).iwork[2 * m + 15])
            runs = 5
            t_q, t_o = best_times([lambda: g(), lambda: theirs(to)], min_runs=runs,
                                  budget=2.0 if n < 10**5 else 0.0)
            cb = odr_callback_share(x, y, wx, wy, start, to)
            flag = "" if okq and oko else "  NOT MATCHED"
            print(f"{n:>7} {m:>2} {tq:>9.1e} {dq:>8.1e} {it_q:>3} {to:>9.1e} {do:>8.1e} "
                  f"{it_o:>3} {gap:>8.1e} {t_q * 1e3:>9.3f} {t_o * 1e3:>9.3f} "
                  f"{t_q / t_o:>8.3f} {cb:>5.0%}{flag}", flush=True)
            if st[0] != 0 or st[1] < 0 or st[1] > 4:
                print(f"        converged reference: status {st}")
            rows.append(dict(n=n, k=m, tol_ours=tq, tol_odr=to, ms_ours=t_q * 1e3,
                             ms_odr=t_o * 1e3, ratio=t_q / t_o, callbacks=cb,
                             matched=okq and oko))
    print(load())
    print("(it: GLSPFIT iterations, ODRPACK iterations; conv gap: max |c_odr - c| / u(c) "
          "of the two fully converged solutions;\n py cb: share of the scipy.odr time spent "
          "in its Python model functions, from one more run)")
    print(flush=True)
    return rows


# ----------------------------------------------------------------------------
# OLSPFIT against numpy and the machine.

def ols_limit(n: int, k: int, machine: dict) -> tuple[float, float]:
    """Seconds one pass of the data and the QR arithmetic take at best:
    (bytes / bandwidth, flops / scalar rate)."""
    flops = 2.0 * k * k * (n - k / 3.0) + 4.0 * n * k
    return 48.0 * n / machine["bandwidth"], flops / machine["rate"]


def ols_section(lib: Library, machine: dict, sizes, ncoefs) -> list[dict]:
    from numpy.polynomial import Chebyshev
    print("== OLSPFIT against numpy Chebyshev.fit and the machine's limit ==")
    print(load())
    print(f"{'points':>8} {'k':>2} {'ours ms':>9} {'numpy ms':>9} {'ours/np':>8} "
          f"{'mem ms':>7} {'flop ms':>7} {'limit ms':>8} {'ours/lim':>8} {'dev':>8}", flush=True)
    rows = []
    for n in sizes:
        x, y, w = ols_data(n)
        for k in ncoefs:
            o = OlsCall(lib, x, y, w, k, OXMIN, OXMAX)
            if o() != 0:
                print(f"OLSPFIT status {o()}")

            def numpy_fit():
                return Chebyshev.fit(x, y, k - 1, domain=[OXMIN, OXMAX], w=w)

            c_np = numpy_fit().coef
            ours = o.coef.copy()
            ours[0] *= 0.5
            dev = float(np.max(np.abs(c_np - ours) / np.sqrt(np.diag(o.cov)) *
                               np.where(np.arange(k) == 0, 2.0, 1.0)))
            t_q, t_n = best_times([o, numpy_fit], min_runs=5, budget=1.5)
            tm, tf = ols_limit(n, k, machine)
            lim = max(tm, tf)
            print(f"{n:>8} {k:>2} {t_q * 1e3:>9.2f} {t_n * 1e3:>9.2f} {t_q / t_n:>8.3f} "
                  f"{tm * 1e3:>7.2f} {tf * 1e3:>7.2f} {lim * 1e3:>8.2f} {t_q / lim:>8.2f} "
                  f"{dev:>8.1e}", flush=True)
            rows.append(dict(n=n, k=k, ms_ours=t_q * 1e3, ms_numpy=t_n * 1e3,
                             ms_limit=lim * 1e3, ratio_numpy=t_q / t_n, ratio_limit=t_q / lim))
    print(load())
    print("(limit = max(mem, flop): 48 bytes per point at the measured bandwidth, "
          "2k^2(n - k/3) + 4nk flops at the scalar rate;\n dev: max |c_numpy - c| / u(c))")
    print(flush=True)
    return rows


# ----------------------------------------------------------------------------
# Time against size.

def scaling_section(lib: Library, sizes) -> None:
    print("== Time against size: t(10n) / t(n) ==")
    print(load())
    print(f"{'fit':>8} {'k':>2} " + " ".join(f"{n:>10}" for n in sizes) + "   ratios t(10n)/t(n)")
    for k in (4, 10):
        times = []
        for n in sizes:
            x, y, w = ols_data(n)
            o = OlsCall(lib, x, y, w, k, OXMIN, OXMAX)
            (t,) = best_times([o], min_runs=5, budget=2.0)
            times.append(t)
        _scaling_row("OLSPFIT", k, times, None)
    for k in (3, 6):
        times, its = [], []
        for n in sizes:
            x, y, wx, wy = gls_data(n, k)
            g = GlsCall(lib, x, y, wx, wy, k, XMIN, XMAX).set(1e-10, 100)
            (t,) = best_times([g], min_runs=3, budget=2.0)
            times.append(t)
            its.append(g()[2])
        _scaling_row("GLSPFIT", k, times, its)
    print(load())
    print("(times in ms, best of several; GLSPFIT at TOL = 1e-10 with its iteration counts "
          "'it', and the ratios per iteration in brackets)")
    print(flush=True)


def _scaling_row(name, k, times, its):
    ratios = [times[i + 1] / times[i] for i in range(len(times) - 1)]
    line = f"{name:>8} {k:>2} " + " ".join(f"{t * 1e3:>10.3f}" for t in times)
    line += "   " + " ".join(f"{r:6.2f}" for r in ratios)
    if its:
        per = [(times[i + 1] / its[i + 1]) / (times[i] / its[i]) for i in range(len(times) - 1)]
        line += "   it " + ",".join(map(str, its)) + "  [" + " ".join(f"{r:.2f}" for r in per) + "]"
    print(line, flush=True)


# ----------------------------------------------------------------------------
# Memory, one fit per fresh process.

def _status_kb(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(field)


def memory_child(libpath: str, fit: str, k: int, n: int) -> None:
    """Runs in a fresh process: allocates and touches the caller's arrays, warms
    the code up on a small fit, then measures the peak of one fit."""
    libc = ctypes.CDLL(None)
    if fit == "numpy":
        from numpy.polynomial import Chebyshev
        x, y, w = ols_data(n)
        Chebyshev.fit(x[:300], y[:300], k - 1, domain=[OXMIN, OXMAX], w=w[:300])
        call = lambda: Chebyshev.fit(x, y, k - 1, domain=[OXMIN, OXMAX], w=w)  # noqa: E731
    else:
        lib = Library(libpath)
        if fit == "ols":
            x, y, w = ols_data(n)
            OlsCall(lib, x[:300], y[:300], w[:300], k, OXMIN, OXMAX)()
            call = OlsCall(lib, x, y, w, k, OXMIN, OXMAX)
        else:
            x, y, wx, wy = gls_data(n, k)
            GlsCall(lib, x[:300], y[:300], wx[:300], wy[:300], k, XMIN, XMAX)()
            call = GlsCall(lib, x, y, wx, wy, k, XMIN, XMAX).set(1e-10, 100)
    libc.malloc_trim(0)
    before = _status_kb("VmRSS")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # the peak starts again from the current resident size
    t0 = time.perf_counter()
    call()
    t = time.perf_counter() - t0
    peak = _status_kb("VmHWM")
    print(json.dumps(dict(before_kb=before, peak_kb=peak, seconds=t)))


def memory_section(lib: Library, cases) -> list[dict]:
    print("== Peak resident memory beyond the caller's arrays (one fit per fresh process) ==")
    print(load())
    print(f"{'fit':>14} {'k':>2} {'points':>8} {'extra MB':>9} {'bytes/point':>11} {'s':>6}")
    rows = []
    for fit, k, n in cases:
        out = subprocess.run([sys.executable, __file__, "--lib", lib.path, "memchild", fit,
                              str(k), str(n)], check=True, capture_output=True, text=True)
        r = json.loads(out.stdout.strip().splitlines()[-1])
        extra = (r["peak_kb"] - r["before_kb"]) * 1024.0
        name = {"gls": "GLSPFIT", "ols": "OLSPFIT", "numpy": "Chebyshev.fit"}[fit]
        print(f"{name:>14} {k:>2} {n:>8} {extra / 1e6:>9.1f} {extra / n:>11.1f} "
              f"{r['seconds']:>6.2f}", flush=True)
        rows.append(dict(fit=name, k=k, n=n, mb=extra / 1e6, per_point=extra / n))
    print(load())
    print(flush=True)
    return rows


# ----------------------------------------------------------------------------

def main(argv=None) -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--lib", default=str(ROOT / "build" / "libQUORVEXv1.so"))
    ap.add_argument("--quick", action="store_true", help="small sizes, to check the script")
    ap.add_argument("--clock", choices=["cpu", "wall"], default="cpu",
                    help="time the process's CPU time (default) or wall time")
    ap.add_argument("what", nargs="*", default=["all"])
    a = ap.parse_args(argv)
    global CLOCK
    CLOCK = time.process_time if a.clock == "cpu" else time.perf_counter
    if a.what[0] == "memchild":
        memory_child(a.lib, a.what[1], int(a.what[2]), int(a.what[3]))
        return
    what = set(a.what)
    if "all" in what:
        what = {"odr", "ols", "scaling", "memory"}
    lib = Library(a.lib)
    machine = header(lib)
    if "odr" in what:
        odr_section(lib, [100, 1000] if a.quick else [100, 1000, 20000, 200000], [3, 6])
    if "ols" in what:
        ols_section(lib, machine, [10**4] if a.quick else [10**5, 10**6], [2, 4, 10])
    if "scaling" in what:
        scaling_section(lib, [10**3, 10**4] if a.quick else [10**3, 10**4, 10**5, 10**6])
    if "memory" in what:
        cases = ([("gls", 3, 10**4), ("ols", 10, 10**4)] if a.quick else
                 [("gls", 3, 10**5), ("gls", 3, 10**6), ("ols", 10, 10**6),
                  ("numpy", 10, 10**6)])
        memory_section(lib, cases)
    print(f"done        {time.strftime('%Y-%m-%d %H:%M:%S UTC', time.gmtime())}, {load()}")


if __name__ == "__main__":
    main()
