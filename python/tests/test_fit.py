"""fit() against the raw entry points and against independent computations."""
import warnings

import numpy as np
import pytest
from numpy.polynomial import chebyshev as C

import quorvex
from refbasis import basis, slope
from conftest import curve_data


def normal_equations(x, y, w, ncoef, xmin, xmax):
    """Weighted least squares by the normal equations in long double."""
    b = basis(x, ncoef, xmin, xmax).astype(np.longdouble)
    wl = np.asarray(w, dtype=np.longdouble)
    a = b * wl[:, None]
    n = a.T @ a
    rhs = a.T @ (np.asarray(y, dtype=np.longdouble) * wl)
    # Gauss-Jordan in long double (numpy's solvers work in double).
    m = np.concatenate([n, rhs[:, None], np.eye(ncoef, dtype=np.longdouble)], axis=1)
    for k in range(ncoef):
        m[k] /= m[k, k]
        for i in range(ncoef):
            if i != k:
                m[i] -= m[i, k] * m[k]
    return m[:, ncoef].astype(float), m[:, ncoef + 1:].astype(float)


OLS_CASES = [  # n, coefficients, u_y, interval, seed
    (5, [4.0, 3.0], 0.1, None, 1),
    (12, [4.0, 3.0, 0.2], 0.05, None, 2),
    (40, [2.0, 5.0, 0.5, -0.1], 0.02, (-1.0, 11.0), 3),
    (200, [1.0, 4.0, 0.3, 0.05, -0.02, 0.01], 0.01, None, 4),
]


@pytest.mark.parametrize("n,coef,u,interval,seed", OLS_CASES)
def test_ols_matches_raw_entry_point_and_long_double(raw, n, coef, u, interval, seed):
    x, y = curve_data(n, coef, u, seed)
    uy = u * (1 + np.arange(n) % 3)
    cal = quorvex.fit(x, y, u_y=uy, degree=len(coef) - 1, interval=interval)
    xmin, xmax = cal.interval
    assert (xmin, xmax) == (interval or (x.min(), x.max()))
    r = raw.olspfit(x, y, 1 / uy, len(coef), xmin, xmax)
    assert r["istat"] == 0
    np.testing.assert_array_equal(cal.coef, r["coef"])
    np.testing.assert_array_equal(cal.cov, r["cov"])
    assert cal.sres == r["sres"]
    c_ref, cov_ref = normal_equations(x, y, 1 / uy, len(coef), xmin, xmax)
    u = np.sqrt(np.diag(cov_ref))
    np.testing.assert_allclose(cal.coef, c_ref, rtol=0, atol=1e-9 * u.max())
    np.testing.assert_allclose(cal.cov, cov_ref, rtol=1e-8, atol=1e-12 * u.max() ** 2)
    # Result fields hang together.
    np.testing.assert_allclose(cal.fitted, C.chebval(
        ((x - xmin) - (xmax - x)) / (xmax - xmin), np.r_[cal.coef[0] / 2, cal.coef[1:]]),
        rtol=1e-13, atol=1e-13)
    np.testing.assert_allclose(cal.residuals, y - cal.fitted, atol=1e-13)
    np.testing.assert_allclose(cal.weighted_residuals, cal.residuals / uy, rtol=0, atol=1e-10)
    assert cal.dof == n - len(coef)
    assert cal.chi2 == pytest.approx(np.sum(cal.weighted_residuals ** 2), rel=1e-12)
    if cal.dof:
        assert cal.sres == pytest.approx(np.sqrt(cal.chi2 / cal.dof), rel=1e-12)
        np.testing.assert_allclose(cal.cov_scaled, cal.cov * cal.sres ** 2, rtol=1e-15)
    assert cal.covariance == "stated" and cal.cov_used is cal.cov
    assert (cal.kind, cal.degree, cal.n_points, cal.status) == ("ols", len(coef) - 1, n, 0)


def test_unit_weights_use_the_scaled_covariance():
    x, y = curve_data(20, [1.0, 2.0], 0.3, 5)
    cal = quorvex.fit(x, y)
    assert cal.u_y is None and np.all(cal.weights == 1.0)
    assert cal.covariance == "scaled"
    np.testing.assert_array_equal(cal.cov_used, cal.cov_scaled)
    assert cal.sres == pytest.approx(np.std(cal.residuals, ddof=2), rel=1e-10)
    forced = quorvex.fit(x, y, covariance="stated")
    np.testing.assert_array_equal(forced.cov_used, forced.cov)
    stated = quorvex.fit(x, y, u_y=0.3)
    assert stated.covariance == "stated"


def test_no_degrees_of_freedom_has_no_scaled_covariance():
    cal = quorvex.fit([0.0, 1.0, 2.0], [1.0, 0.0, 3.0], degree=2)
    assert cal.dof == 0 and cal.sres == 0.0
    assert np.all(np.isnan(cal.cov_scaled))


GLS_CASES = [  # n, coefficients, u_x, u_y, seed
    (15, [4.0, 3.0], 0.05, 0.05, 11),
    (50, [4.0, 3.0, 0.2], 0.02, 0.1, 12),
    (300, [2.0, 5.0, 0.5, -0.1], 0.05, 0.02, 13),
]


@pytest.mark.parametrize("n,coef,ux,uy,seed", GLS_CASES)
def test_gls_matches_raw_entry_point_and_is_stationary(raw, n, coef, ux, uy, seed):
    x, y = curve_data(n, coef, uy, seed, u_x=ux)
    ncoef = len(coef)
    cal = quorvex.fit(x, y, u_y=uy, u_x=ux, degree=ncoef - 1)
    assert cal.kind == "gls" and 0 <= cal.status <= 3
    xmin, xmax = cal.interval
    # The default interval is the data's range widened by max(10 u_x, 5 % of the range).
    pad = max(10 * ux, 0.05 * (x.max() - x.min()))
    assert (xmin, xmax) == (x.min() - pad, x.max() + pad)
    r = raw.glspfit(x, y, np.full(n, 1 / ux), np.full(n, 1 / uy), ncoef, xmin, xmax,
                    tol=cal.options["tol"], maxit=cal.options["maxit"], sigma=cal.options["sigma"])
    np.testing.assert_array_equal(cal.coef, r["coef"])
    np.testing.assert_array_equal(cal.cov, r["cov"])
    np.testing.assert_array_equal(cal.residuals_x, r["delta"])
    # The library's residual statistics, up to the last step (fields are recomputed at
    # the returned coefficients).
    assert cal.sres == pytest.approx(r["sres"], rel=1e-6)
    np.testing.assert_allclose(cal.fitted, y - cal.residuals, rtol=1e-15, atol=1e-13)
    assert (cal.status, cal.iterations) == tuple(r["istat"][:2])
    # Stationarity of sum (delta/u_x)^2 + ((y - p(x - delta))/u_y)^2.
    xi = cal.x_adjusted
    b = basis(xi, ncoef, xmin, xmax)
    r_y = y - b @ cal.coef
    # Half-gradients, turned into steps in units of standard uncertainties.
    grad_c = b.T @ (r_y / uy ** 2)
    assert np.all(np.abs(cal.cov @ grad_c) <= 1e-6 * np.sqrt(np.diag(cal.cov)))
    grad_d = cal.residuals_x / ux ** 2 + r_y * slope(cal.coef, xi, xmin, xmax) / uy ** 2
    assert np.max(np.abs(grad_d * ux)) <= 1e-6
    # Effective-variance covariance at the adjusted abscissae.
    veff = uy ** 2 + (slope(cal.coef, xi, xmin, xmax) * ux) ** 2
    cov_ref = np.linalg.inv(b.T @ (b / veff[:, None]))
    np.testing.assert_allclose(cal.cov, cov_ref, rtol=1e-6)
    np.testing.assert_allclose(cal.weighted_residuals_x, cal.residuals_x / ux, rtol=1e-12)
    assert cal.chi2 == pytest.approx(np.sum(cal.weighted_residuals ** 2)
                                     + np.sum(cal.weighted_residuals_x ** 2), rel=1e-12)


def test_gls_with_exact_x_approaches_the_ordinary_fit():
    x, y = curve_data(30, [4.0, 3.0, 0.2], 0.1, 21)
    ols = quorvex.fit(x, y, u_y=0.1, degree=2, interval=(-1, 11))
    gls = quorvex.fit(x, y, u_y=0.1, u_x=1e-9, degree=2, interval=(-1, 11))
    u = np.sqrt(np.diag(ols.cov))
    np.testing.assert_allclose(gls.coef, ols.coef, atol=1e-6 * u.max())
    np.testing.assert_allclose(gls.cov, ols.cov, rtol=1e-6, atol=1e-12 * u.max() ** 2)


def test_default_tolerances_reach_the_converged_solution():
    x, y = curve_data(2000, [4.0, 3.0, 0.2], 0.1, 31, u_x=0.05)
    cal = quorvex.fit(x, y, u_y=0.1, u_x=0.05, degree=2)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", quorvex.ConvergenceWarning)
        ref = quorvex.fit(x, y, u_y=0.1, u_x=0.05, degree=2, tol=1e-300, maxit=40,
                          accept_unconverged=True)
    assert cal.status == 0
    assert np.max(np.abs(cal.coef - ref.coef) / np.sqrt(np.diag(ref.cov))) < 1e-6


def test_evaluate_against_chebval_and_finite_differences():
    x, y = curve_data(25, [2.0, 5.0, 0.5, -0.1], 0.05, 41)
    cal = quorvex.fit(x, y, u_y=0.05, degree=3)
    pts = np.linspace(0, 10, 7)
    t = (2 * pts - 10) / 10
    np.testing.assert_allclose(cal(pts), C.chebval(t, np.r_[cal.coef[0] / 2, cal.coef[1:]]),
                               rtol=1e-14, atol=1e-14)
    assert isinstance(cal(5.0), float)
    v, u = cal.evaluate(pts.reshape(7, 1), uncertainty=True)
    assert v.shape == u.shape == (7, 1)
    # u(p(x)) from the Jacobian of p(x) with respect to the coefficients by differences.
    h = 1e-6
    jac = np.empty((7, 4))
    for k in range(4):
        d = np.zeros(4)
        d[k] = h
        jac[:, k] = (C.chebval(t, np.r_[(cal.coef + d)[0] / 2, (cal.coef + d)[1:]])
                     - C.chebval(t, np.r_[(cal.coef - d)[0] / 2, (cal.coef - d)[1:]])) / (2 * h)
    u_ref = np.sqrt(np.einsum("ij,jk,ik->i", jac, cal.cov, jac))
    np.testing.assert_allclose(u.ravel(), u_ref, rtol=1e-6)


def test_line_and_power_coefficients():
    x, y = curve_data(20, [4.0, 3.0], 0.1, 51, xmin=2.0, xmax=8.0)
    cal = quorvex.fit(x, y, u_y=0.1)
    ln = cal.line()
    # Independent: weighted least squares in powers of x, long double normal equations.
    xl = x.astype(np.longdouble)
    a = np.stack([np.ones_like(xl), xl], axis=1) * 10
    n = a.T @ a
    det = n[0, 0] * n[1, 1] - n[0, 1] ** 2
    inv = np.array([[n[1, 1], -n[0, 1]], [-n[0, 1], n[0, 0]]]) / det
    p = inv @ (a.T @ (y.astype(np.longdouble) * 10))
    assert ln.slope == pytest.approx(float(p[1]), rel=1e-12)
    assert ln.intercept == pytest.approx(float(p[0]), rel=1e-12, abs=1e-12)
    np.testing.assert_allclose(ln.cov, [[inv[1, 1], inv[0, 1]], [inv[0, 1], inv[0, 0]]],
                               rtol=1e-9)
    ps = cal.power_coefficients()
    np.testing.assert_allclose(ps.coef, [ln.intercept, ln.slope], rtol=1e-12)
    np.testing.assert_allclose(ps.cov[::-1, ::-1], ln.cov, rtol=1e-9)
    cubic = quorvex.fit(*curve_data(30, [2.0, 5.0, 0.5, -0.1], 0.05, 52), u_y=0.05, degree=3)
    pc = cubic.power_coefficients()
    pts = np.linspace(0, 10, 5)
    np.testing.assert_allclose(np.polynomial.polynomial.polyval(pts, pc.coef), cubic(pts),
                               rtol=1e-12, atol=1e-12)
    ref = np.polynomial.Chebyshev(np.r_[cubic.coef[0] / 2, cubic.coef[1:]],
                                  domain=[0, 10]).convert(kind=np.polynomial.Polynomial)
    np.testing.assert_allclose(pc.coef, ref.coef, rtol=1e-12, atol=1e-12)
    with pytest.raises(quorvex.InputError, match="straight line"):
        cubic.line()
