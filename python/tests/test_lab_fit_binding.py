"""The Python package passes its arguments to the laboratory library's fit rules and
curve statistics, and their results back, unchanged: ``fit`` builds its Calibration
from ``QVXL_FIT`` and its curve methods are the library's numbers."""
import numpy as np
import pytest

import quorvex
from quorvex import _lab_curve as LC
from quorvex import _lab_fit as LF

X = np.array([1.0, 2.0, 3.0, 5.0, 7.0, 9.0, 10.0])
Y = 0.2 + 1.9 * X - 0.03 * X ** 2 + np.array([0.02, -0.01, 0.03, -0.02, 0.0, 0.01, -0.03])


@pytest.mark.filterwarnings("ignore:the line search gave up")
@pytest.mark.parametrize("opts", [
    dict(degree=2),
    dict(degree=1, weighting="1/x2"),
    dict(degree=2, u_y=0.05),
    dict(degree=1, u_y=0.05, u_x=0.02),
    dict(degree=1, u_y=0.05, u_x=0.02, tol=(1e-9, 1e-9), maxit=50, sigma=0.2,
         interval=(0.0, 11.0), covariance="scaled"),
])
def test_the_calibration_is_the_library_fit(opts):
    cal = quorvex.fit(X, Y, **opts)
    n = X.size
    uy = None if "u_y" not in opts else np.full(n, opts["u_y"])
    ux = None if "u_x" not in opts else np.full(n, opts["u_x"])
    w = {None: 0, "1/x": 1, "1/x2": 2}[opts.get("weighting")]
    r = LF.fit(X.copy(), Y.copy(), uy, ux, w, None, opts["degree"] + 1, opts.get("interval"),
               opts.get("tol"), opts.get("maxit"), opts.get("sigma"),
               {None: -1, "stated": 0, "scaled": 1}[opts.get("covariance")])
    assert r["istat"] == 0
    for name in ("coef", "cov", "cov_scaled", "fitted", "residuals", "weighted_residuals",
                 "weights"):
        np.testing.assert_array_equal(getattr(cal, name), r[name], err_msg=name)
    assert (cal.sres, cal.chi2, cal.dof, cal.interval) == (r["sres"], r["chi2"], r["dof"],
                                                           r["interval"])
    assert cal.covariance == ("stated", "scaled")[r["covkind"]]
    if ux is not None:
        np.testing.assert_array_equal(cal.x_adjusted, r["x_adjusted"])
        assert cal.options == dict(tol=r["tol"], maxit=r["maxit"], sigma=r["sigma"])
        assert (cal.status, cal.iterations) == tuple(r["info"][1:3])


def test_curve_methods_are_the_library_numbers():
    cal = quorvex.fit(X, Y, degree=2)
    xs = np.array([1.0, 4.2, 10.0])
    y, _, u, st = LC.curve(cal.coef, cal.cov_used, cal.xmin, cal.xmax, xs, LC.VALUE | LC.UNCERTAINTY)
    assert st == 0
    got = cal.evaluate(xs, uncertainty=True)
    np.testing.assert_array_equal(got[0], y)
    np.testing.assert_array_equal(got[1], u)
    b = cal.band(xs, level=0.9, kind="prediction")
    sd, _ = LC.response_sd(xs, 0, None, 1, cal.sres)
    ref = LC.band(cal.coef, cal.cov_used, cal.xmin, cal.xmax, 1, cal.dof, 0.9, 1, xs, sd)
    np.testing.assert_array_equal(b.lower, ref[2])
    assert b.k == ref[4] and b.distribution == "t(4)"
    ps = cal.power_coefficients()
    a, ca, _ = LC.power(cal.coef, cal.cov_used, cal.xmin, cal.xmax)
    np.testing.assert_array_equal(ps.coef, a)
    np.testing.assert_array_equal(ps.cov, ca)


def test_statuses_become_the_users_messages():
    with pytest.raises(quorvex.InputError, match="every x > 0"):
        quorvex.fit(X - 5.0, Y, weighting="1/x")
    with pytest.raises(quorvex.InputError, match="distinct x"):
        quorvex.fit(np.full(5, 2.0), Y[:5])
    with pytest.raises(quorvex.InputError, match="degrees of freedom"):
        quorvex.fit(X[:3], Y[:3], degree=2).band(X[:1])
    cal = quorvex.fit(X, Y * 1e160)  # SRES**2 overflows: refused when the scaled covariance is read
    with pytest.raises(quorvex.FitError, match="too large to square"):
        cal.cov_scaled
