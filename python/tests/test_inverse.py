"""inverse() against IPVAL called directly, numpy's chebroots and finite differences;
the joint covariance against a Monte Carlo of refitted curves."""
import ctypes

import numpy as np
import pytest
from numpy.polynomial import chebyshev as C

import quorvex
from quorvex import _clib
from conftest import curve_data


def raw_ipval(libpath, coef, cov, y, uy, xmin, xmax, ngrid, tol=0.0):
    """IPVAL through plain ctypes pointers (no argtypes), all responses in one call."""
    lib = ctypes.CDLL(libpath)
    D, I = ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_int)
    n, nc = len(y), len(coef)
    coef, y = np.ascontiguousarray(coef), np.ascontiguousarray(y)
    cov = np.asfortranarray(cov)
    covy = np.asfortranarray(np.diag(np.asarray(uy, float) ** 2 * np.ones(n)))
    nroot = np.zeros(n, dtype=np.intc)
    xroot = np.zeros((nc - 1, n), order="F")
    uxroot = np.zeros((nc - 1, n), order="F")
    istat = ctypes.c_int()
    lib.IPVAL(ctypes.byref(ctypes.c_int(nc)), coef.ctypes.data_as(D), cov.ctypes.data_as(D),
              ctypes.byref(ctypes.c_int(n)), y.ctypes.data_as(D), covy.ctypes.data_as(D),
              ctypes.byref(ctypes.c_double(xmin)), ctypes.byref(ctypes.c_double(xmax)),
              ctypes.byref(ctypes.c_int(ngrid)), ctypes.byref(ctypes.c_double(tol)),
              nroot.ctypes.data_as(I), xroot.ctypes.data_as(D), uxroot.ctypes.data_as(D),
              ctypes.byref(istat))
    return nroot, xroot, uxroot, istat.value


@pytest.fixture(scope="module")
def cubic():
    # A cubic with a hump inside [0, 10], so that some responses have three roots.
    x, y = curve_data(40, [0.0, 1.0, 0.0, 1.2], 0.01, 7)
    return quorvex.fit(x, y, u_y=0.01, degree=3)


def test_inverse_matches_ipval_in_one_call(cubic, libpath):
    ys = np.linspace(-3.0, 3.0, 1201)  # more than two chunks
    pred = cubic.inverse(ys, u_y=0.02, ngrid=200)
    nroot, xroot, uxroot, istat = raw_ipval(libpath, cubic.coef, cubic.cov, ys, 0.02,
                                            cubic.xmin, cubic.xmax, 200)
    assert istat == 0
    np.testing.assert_array_equal(pred.n_roots, nroot)
    for i in range(len(ys)):
        k = nroot[i]
        np.testing.assert_array_equal(pred.roots[i, :k], xroot[:k, i])
        np.testing.assert_array_equal(pred.u_roots[i, :k], uxroot[:k, i])
        assert np.all(np.isnan(pred.roots[i, k:]))
    assert pred.several_roots.any() and pred.no_root.any()
    np.testing.assert_array_equal(pred.x, pred.roots[:, 0])
    assert np.all(np.isnan(pred.x[pred.no_root])) and np.all(np.isnan(pred.u_x[pred.no_root]))
    threaded = cubic.inverse(ys, u_y=0.02, ngrid=200, workers=2)
    np.testing.assert_array_equal(threaded.roots, pred.roots)


def test_roots_against_chebroots_and_uncertainty_against_differences(cubic):
    ys = np.array([-0.5, 0.0, 0.3, 1.0])
    pred = cubic.inverse(ys, u_y=0.05, ngrid=500)

    def roots_of(coef, yv):
        c2 = np.r_[coef[0] / 2, coef[1:]].copy()
        c2[0] -= yv
        t = C.chebroots(c2)
        t = np.sort(t[np.abs(t.imag) < 1e-9].real)
        t = t[(t >= -1) & (t <= 1)]
        return cubic.xmin + (t + 1) * (cubic.xmax - cubic.xmin) / 2

    for i, yv in enumerate(ys):
        r = roots_of(cubic.coef, yv)
        assert pred.n_roots[i] == len(r)
        np.testing.assert_allclose(pred.roots[i, :len(r)], r, rtol=0, atol=1e-11)
        # u(x)^2 = J C J' + (dx/dy)^2 u_y^2, derivatives of the roots by central differences.
        h = 1e-7
        jac = np.empty((len(r), 4))
        for k in range(4):
            d = np.zeros(4)
            d[k] = h
            jac[:, k] = (roots_of(cubic.coef + d, yv) - roots_of(cubic.coef - d, yv)) / (2 * h)
        dy = (roots_of(cubic.coef, yv + h) - roots_of(cubic.coef, yv - h)) / (2 * h)
        u_ref = np.sqrt(np.einsum("ij,jk,ik->i", jac, cubic.cov, jac) + (dy * 0.05) ** 2)
        np.testing.assert_allclose(pred.u_roots[i, :len(r)], u_ref, rtol=1e-5)


def test_joint_covariance_factors_and_combinations(cubic):
    ys = np.array([-1.5, -1.4, 0.9, 1.6, 5.0])  # the last one has no root
    pred = cubic.inverse(ys, u_y=np.array([0.01, 0.02, 0.03, 0.04, 0.05]))
    cov = pred.cov
    ok = ~pred.no_root
    assert pred.no_root[-1] and ok[:4].all()
    np.testing.assert_allclose(np.diag(cov)[ok], pred.u_x[ok] ** 2, rtol=1e-12)
    assert np.all(np.isnan(cov[-1]))
    s, d = pred.sensitivity, pred.response_variance
    np.testing.assert_allclose(cov[:4, :4], s[:4] @ cubic.cov @ s[:4].T + np.diag(d[:4]),
                               rtol=1e-14)
    # Weighted combinations without the n x n matrix; a missing root with weight 0 is fine.
    w = np.array([0.5, 0.5, 0.0, 0.0, 0.0])
    assert pred.variance(w) == pytest.approx(w[:4] @ cov[:4, :4] @ w[:4], rel=1e-12)
    value, u = pred.combine(np.array([1.0, 0.0, -1.0, 0.0, 0.0]))
    assert value == pytest.approx(pred.x[0] - pred.x[2], rel=1e-15)
    assert u ** 2 == pytest.approx(cov[0, 0] + cov[2, 2] - 2 * cov[0, 2], rel=1e-10)
    wm = np.array([[1.0, 1.0, 0, 0, 0], [0, 0, 1.0, -1.0, 0]])
    np.testing.assert_allclose(pred.variance(wm), wm[:, :4] @ cov[:4, :4] @ wm[:, :4].T,
                               rtol=1e-12)
    assert np.isnan(pred.variance(np.ones(5)))


def test_joint_covariance_against_monte_carlo_of_refitted_curves():
    """Refit the curve to fresh noise many times and read the same responses off each:
    the sample covariance of the predictions must agree with InversePrediction.cov."""
    coef, u, n = [4.0, 3.0, 0.4], 0.05, 12
    rng = np.random.default_rng(2026)
    x = np.linspace(0.0, 10.0, n)
    from refbasis import basis
    yt = basis(x, 3, 0.0, 10.0) @ np.asarray(coef)
    ys = np.array([0.5, 0.7, 3.0, 5.0])
    cal = quorvex.fit(x, yt, u_y=u, degree=2)
    pred = cal.inverse(ys, "curve-only")
    m = 4000
    xs = np.empty((m, len(ys)))
    for k in range(m):
        c = quorvex.fit(x, yt + u * rng.standard_normal(n), u_y=u, degree=2)
        xs[k] = c.inverse(ys, "curve-only").x
    sample = np.cov(xs, rowvar=False)
    sd = np.sqrt(np.diag(pred.cov))
    # Variances within sampling error (relative s.e. sqrt(2/m) = 2.2 %), correlations
    # within 4 standard errors (1 - r^2)/sqrt(m); the correlations are strong here.
    np.testing.assert_allclose(np.sqrt(np.diag(sample)), sd, rtol=4 * np.sqrt(0.5 / m) + 0.01)
    r_model = pred.cov / np.outer(sd, sd)
    r_sample = sample / np.outer(np.sqrt(np.diag(sample)), np.sqrt(np.diag(sample)))
    assert np.all(np.abs(r_sample - r_model) <= 4 * (1 - r_model ** 2) / np.sqrt(m) + 0.01)
    assert r_model[0, 1] > 0.5  # the predictions are correlated: a real effect to test


def test_flags_at_the_ends_and_degree1_closed_form():
    x = np.array([0.0, 1.0, 2.0, 3.0, 4.0])
    cal = quorvex.fit(x, 1.0 + 2.0 * x, u_y=0.1)
    pred = cal.inverse([1.0, 5.0, 9.0, 11.0, -3.0], "curve-only")
    np.testing.assert_array_equal(pred.at_end, [True, False, True, False, False])
    np.testing.assert_array_equal(pred.no_root, [False, False, False, True, True])
    np.testing.assert_allclose(pred.x[:3], [0.0, 2.0, 4.0], atol=1e-12)
    ext = cal.inverse([1.0, 5.0, 9.0, 11.0, -3.0], "curve-only", extrapolate=True)
    np.testing.assert_allclose(ext.x, [0.0, 2.0, 4.0, 5.0, -2.0], atol=1e-12)
    np.testing.assert_allclose(ext.u_x[:3], pred.u_x[:3], rtol=1e-10)
    np.testing.assert_allclose(np.diag(ext.cov), ext.u_x ** 2, rtol=1e-12)


def test_wrong_arrays_are_refused_before_the_call():
    coef = np.array([1.0, 2.0])
    with pytest.raises(ctypes.ArgumentError):
        _clib.linear_conv(coef, np.zeros((2, 2), order="C")[:, ::-1], 0.0, 1.0)
    with pytest.raises(ctypes.ArgumentError):
        _clib.polyeval(coef.astype(np.float32), np.zeros(3), 0.0, 1.0)
    with pytest.raises(ctypes.ArgumentError):
        _clib.polyeval(coef, np.zeros((3, 1)), 0.0, 1.0)


def test_large_batches_take_bounded_memory():
    """Memory grows with the responses' results only: IPVAL's response covariance
    (NPTS x NPTS, 320 GB for 200 000 responses) is never formed."""
    import tracemalloc
    cal = quorvex.fit(np.arange(6.0), 1.0 + 2.0 * np.arange(6.0), u_y=0.1)
    ys = np.linspace(1.5, 10.5, 200_000)
    tracemalloc.start()
    try:
        pred = cal.inverse(ys, u_y=0.1, ngrid=4)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    # y, u_y, roots, u_roots, u_curve, dof, k, U, low, high, the extended line's x and
    # u(x), and n_roots, u_y's source and the flags (with room)
    results = 14 * ys.nbytes
    assert peak < results + 8 * 2**20
    np.testing.assert_allclose(pred.x, (ys - 1.0) / 2.0, rtol=0, atol=1e-12)
    assert not pred.no_root.any()
