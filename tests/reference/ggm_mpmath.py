#!/usr/bin/env python3
"""Reference solutions of the generalized Gauss-Markov fit, at 50 digits.

For three ways of stating how the standards' errors are shared (a full
matrix with x-y covariance, named components, a serial dilution chain) and
degrees 1 to 3, this script minimises

    chi2 = (z - zeta)' V^-1 (z - zeta),   z = (x, y),  zeta = (xi, p(xi)),

over the true x values xi and the coefficients of p (the library's scaled
Chebyshev series on a given interval) with mpmath at 50 significant digits,
by Gauss-Newton on the normal equations until the step is below 1e-40, and
prints the coefficients, their covariance (A' V^-1 A)^-1 (the coefficients'
block) and chi2 as C++ initialisers into ggm_mpmath.inc, which
tests/test_lab_correlated.cpp includes.

V is built here on its own route: the full matrix from its formula, the
components as a sum of outer products, the dilution chain by propagating the
stock's and each step's relative uncertainty through the products
x_i = S * prod(f_k on the path to i) (first-order Jacobian J, V = J D J').
Every input is a binary64 number, converted exactly to mpmath.

Run:  /usr/bin/python3 tests/reference/ggm_mpmath.py  (writes the .inc beside it)
"""
import os

import mpmath as mp

mp.mp.dps = 50


def cheb(ncoef, lo, hi, x):
    """Basis row g(x) and its x-derivative for the scaled Chebyshev series."""
    t = ((x - lo) - (hi - x)) / (hi - lo)
    T = [mp.mpf(1), t]
    U = [mp.mpf(1), 2 * t]
    for k in range(2, ncoef):
        T.append(2 * t * T[-1] - T[-2])
        U.append(2 * t * U[-1] - U[-2])
    g = [T[k] for k in range(ncoef)]
    g[0] = mp.mpf(1) / 2
    sc = 2 / (hi - lo)
    dg = [mp.mpf(0)] + [k * U[k - 1] * sc for k in range(1, ncoef)]
    return g, dg


def ggm(x, y, V, ncoef, lo, hi):
    n = len(x)
    x = [mp.mpf(v) for v in x]
    y = [mp.mpf(v) for v in y]
    lo, hi = mp.mpf(lo), mp.mpf(hi)
    W = mp.inverse(mp.matrix([[mp.mpf(V[i][j]) for j in range(2 * n)] for i in range(2 * n)]))
    th = x + [mp.mpf(0)] * ncoef
    for it in range(200):
        A = mp.zeros(2 * n, n + ncoef)
        e = mp.zeros(2 * n, 1)
        for i in range(n):
            g, dg = cheb(ncoef, lo, hi, th[i])
            c = th[n:]
            p = mp.fsum(g[k] * c[k] for k in range(ncoef))
            s = mp.fsum(dg[k] * c[k] for k in range(ncoef))
            e[i] = x[i] - th[i]
            e[n + i] = y[i] - p
            A[i, i] = 1
            A[n + i, i] = s
            for k in range(ncoef):
                A[n + i, n + k] = g[k]
        N = A.T * W * A
        d = mp.lu_solve(N, A.T * W * e)
        th = [th[k] + d[k] for k in range(n + ncoef)]
        if mp.norm(d) < mp.mpf(10) ** -40:
            break
    else:
        raise RuntimeError("no convergence")
    # covariance and chi2 at the solution
    A = mp.zeros(2 * n, n + ncoef)
    e = mp.zeros(2 * n, 1)
    for i in range(n):
        g, dg = cheb(ncoef, lo, hi, th[i])
        c = th[n:]
        e[i] = x[i] - th[i]
        e[n + i] = y[i] - mp.fsum(g[k] * c[k] for k in range(ncoef))
        A[i, i] = 1
        A[n + i, i] = mp.fsum(dg[k] * c[k] for k in range(ncoef))
        for k in range(ncoef):
            A[n + i, n + k] = g[k]
    C = mp.inverse(A.T * W * A)
    chi2 = (e.T * W * e)[0]
    coef = th[n:]
    cov = [[C[n + a, n + b] for b in range(ncoef)] for a in range(ncoef)]
    return coef, cov, chi2, th[:n]


# ---- the three ways of stating the correlations (inputs are binary64) ----
X8 = [0.5, 1.5, 2.0, 3.5, 4.0, 5.5, 6.5, 8.0]


def poly(x, a):
    return sum(c * x ** k for k, c in enumerate(a))


def y_of(x, a, wiggle):
    return [float(poly(v, a)) + w for v, w in zip(x, wiggle)]


WIG = [0.031, -0.022, 0.015, -0.041, 0.027, 0.009, -0.018, 0.024]


def matrix_v(n):
    """Full matrix: AR(1) correlated x, a common y part, x-y covariance."""
    V = [[0.0] * (2 * n) for _ in range(2 * n)]
    for i in range(n):
        for j in range(n):
            V[i][j] = 0.0004 * 0.5 ** abs(i - j)
            V[n + i][n + j] = (0.0009 if i == j else 0.0) + 0.0001
            V[i][n + j] = V[n + j][i] = 0.0001 * 0.3 ** abs(i - j)
    return V


def components_inputs(x):
    n = len(x)
    uxind = [0.01] * n
    uyind = [0.02 + 0.002 * i for i in range(n)]
    # sources: stock (x, relative 0.5 %), drift (y, growing), balance (x and y, opposite)
    uxsrc = [[0.005 * v for v in x], [0.0] * n, [0.004] * n]
    uysrc = [[0.0] * n, [0.003 * (i + 1) for i in range(n)], [-0.006] * n]
    return uxind, uyind, uxsrc, uysrc


def components_v(x):
    n = len(x)
    uxind, uyind, uxsrc, uysrc = components_inputs(x)
    V = [[mp.mpf(0)] * (2 * n) for _ in range(2 * n)]
    for i in range(n):
        V[i][i] += mp.mpf(uxind[i]) ** 2
        V[n + i][n + i] += mp.mpf(uyind[i]) ** 2
    for s in range(len(uxsrc)):
        u = [mp.mpf(v) for v in uxsrc[s] + uysrc[s]]
        for a in range(2 * n):
            for b in range(2 * n):
                V[a][b] += u[a] * u[b]
    return V


XD = [100.0, 50.0, 25.0, 12.5, 6.25, 3.125, 40.0]
PARENT = [0, 1, 2, 3, 4, 5, 0]  # a serial chain and one standard straight from the stock
REL = [0.002, 0.003, 0.003, 0.004, 0.004, 0.005, 0.0025]
RSTOCK = 0.001
UY_DIL = [0.05, 0.04, 0.03, 0.03, 0.02, 0.02, 0.04]


def dilution_v(x):
    n = len(x)
    # parameters: stock S, factors f_1..f_n; x_i = S * prod f on the path to i
    npar = n + 1
    J = [[mp.mpf(0)] * npar for _ in range(n)]
    for i in range(n):
        J[i][0] = mp.mpf(x[i])  # d x_i / d(relative stock error)
        k = i + 1
        while k != 0:
            J[i][k] = mp.mpf(x[i])  # d x_i / d(relative error of step k)
            k = PARENT[k - 1]
    D = [mp.mpf(RSTOCK) ** 2] + [mp.mpf(r) ** 2 for r in REL]
    V = [[mp.mpf(0)] * (2 * n) for _ in range(2 * n)]
    for a in range(n):
        for b in range(n):
            V[a][b] = mp.fsum(J[a][k] * D[k] * J[b][k] for k in range(npar))
    for i in range(n):
        V[n + i][n + i] = mp.mpf(UY_DIL[i]) ** 2
    return V


CASES = []


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = []
    truth = {1: [0.2, 1.1], 2: [0.2, 1.1, 0.05], 3: [0.2, 1.1, 0.05, -0.004]}
    for way in ("matrix", "components", "dilution"):
        for deg in (1, 2, 3):
            if way == "dilution":
                x = XD
                y = y_of(x, [0.5, 0.8, 0.002, -0.00001][: deg + 1], [w * 3 for w in WIG[:7]])
                V = dilution_v(x)
                lo, hi = 0.0, 110.0
            else:
                x = X8
                y = y_of(x, truth[deg], WIG)
                V = matrix_v(len(x)) if way == "matrix" else components_v(x)
                lo, hi = 0.0, 9.0
            coef, cov, chi2, xi = ggm(x, y, V, deg + 1, lo, hi)
            cf = ", ".join(mp.nstr(c, 20) for c in coef)
            cv = ", ".join(mp.nstr(cov[a][b], 20) for b in range(deg + 1) for a in range(deg + 1))
            out.append(f'    {{"{way}", {deg + 1}, {{{", ".join(repr(v) for v in y)}}}, {lo!r}, {hi!r},\n'
                       f'     {{{cf}}},\n     {{{cv}}},\n     {mp.nstr(chi2, 20)}}},')
    with open(os.path.join(here, "ggm_mpmath.inc"), "w") as f:
        f.write("// Written by tests/reference/ggm_mpmath.py (50-digit mpmath solutions); do not edit.\n")
        f.write("// way, ncoef, y, xmin, xmax, coefficients, covariance (column-major), chi2\n")
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
