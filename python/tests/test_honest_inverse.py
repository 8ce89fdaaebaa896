"""Sample uncertainties that include the reading, expanded uncertainties with their
coverage factor, and the inversion interval."""
import math

import numpy as np
import pytest
from scipy import stats

import quorvex
from quorvex import InputError

# ISO/TS 28037:2010, 6.3, first example (x exact, six standards).
ISO_X = np.array([1.0, 2.0, 3.0, 4.0, 5.0, 6.0])
ISO_Y = np.array([3.3, 5.6, 7.1, 9.3, 10.7, 12.1])


def classical(x, y, y0, m):
    """u(x0) of the classical inverse prediction of a line (Draper & Smith 3.2; ISO 11843-2;
    DIN 32645): s/b sqrt(1/m + 1/n + (y0 - ybar)**2 / (b**2 Sxx))."""
    n = x.shape[0]
    b, a = np.polyfit(x, y, 1)
    s = math.sqrt(np.sum((y - a - b * x) ** 2) / (n - 2))
    sxx = np.sum((x - x.mean()) ** 2)
    return (y0 - a) / b, s / abs(b) * np.sqrt(1.0 / m + 1.0 / n + (y0 - y.mean()) ** 2
                                               / (b * b * sxx))


@pytest.mark.parametrize("m", [1, 3, np.array([1, 2, 5])])
def test_default_u_x_of_a_line_is_the_classical_formula(m):
    rng = np.random.default_rng(4)
    x = np.linspace(1.0, 10.0, 10)
    y = 2.0 + 3.0 * x + rng.normal(0.0, 0.4, 10)
    y0 = np.array([6.0, 17.0, 30.0])
    pred = quorvex.fit(x, y).inverse(y0, replicates=m)
    x0, u0 = classical(x, y, y0, np.broadcast_to(m, y0.shape))
    np.testing.assert_allclose(pred.x, x0, rtol=1e-12)
    np.testing.assert_allclose(pred.u_x, u0, rtol=1e-10)
    mm = np.broadcast_to(m, y0.shape)
    assert pred.u_y_source == tuple(f"from the scatter, {k} reading{'s' if k > 1 else ''}"
                                 for k in mm)
    np.testing.assert_array_equal(pred.dof, 8.0)
    np.testing.assert_allclose(pred.k, stats.t.ppf(0.975, 8), rtol=1e-9)  # scipy: ~1e-10
    np.testing.assert_allclose(pred.U, pred.k * pred.u_x, rtol=0)
    assert pred.coverage == 0.95


@pytest.mark.parametrize("weighting,power", [("1/x", 0.5), ("1/x2", 1.0)])
def test_default_u_y_under_weighting_is_the_scatter_the_weights_predict(weighting, power):
    rng = np.random.default_rng(5)
    x = np.array([1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0])
    y = 0.5 * x * (1.0 + rng.normal(0.0, 0.03, x.shape[0]))
    cal = quorvex.fit(x, y, weighting=weighting)
    y0 = np.array([1.0, 10.0, 40.0])
    pred = cal.inverse(y0, replicates=2)
    expected = cal.sres * pred.x ** power / math.sqrt(2.0)
    np.testing.assert_allclose(pred.u_y, expected, rtol=1e-12)
    stated = cal.inverse(y0, expected)
    np.testing.assert_allclose(pred.u_x, stated.u_x, rtol=1e-12)


def test_stated_standards_need_a_stated_u_y_and_curve_only_is_asked_by_name():
    cal = quorvex.fit(ISO_X, ISO_Y, u_y=0.5)
    with pytest.raises(InputError, match="curve-only") as info:
        cal.inverse([10.5])
    assert "one value for all" in str(info.value)
    only = cal.inverse([10.5], "curve-only")
    assert only.u_y[0] == 0.0 and only.u_y_source == ("curve only",)
    stated = cal.inverse([10.5], 0.5)
    assert stated.u_y_source == ("stated",)
    # ISO/TS 28037 6.3: x1 = 4.9133, u(x1) = 0.3220; everything stated: normal k.
    assert stated.x[0] == pytest.approx(4.9132791327913279, rel=1e-13)
    assert stated.u_x[0] == pytest.approx(0.32203556012891003, rel=1e-12)
    assert math.isinf(stated.dof[0]) and stated.k[0] == pytest.approx(1.959963984540054)
    with pytest.raises(InputError, match="replicates"):
        cal.inverse([10.5], 0.5, replicates=3)
    with pytest.raises(InputError, match="curve-only"):
        cal.inverse([10.5], "nothing")


def test_a_scaled_curve_and_a_stated_reading_combine_by_welch_satterthwaite():
    cal = quorvex.fit(ISO_X, ISO_Y)
    pred = cal.inverse([10.5, 4.0], 0.3)
    uc2 = pred.u_x ** 2 - pred.response_variance
    nu = pred.u_x ** 4 / (uc2 ** 2 / 4.0)
    np.testing.assert_allclose(pred.dof, nu, rtol=1e-12)
    assert np.all(pred.dof > 4.0)
    np.testing.assert_allclose(pred.k, stats.t.ppf(0.975, nu), rtol=1e-9)  # scipy: ~1e-10
    curve = cal.inverse([10.5], "curve-only")
    assert curve.dof[0] == 4.0


def fieller_line(x, y, y0, k, m=1):
    """Ends of {x: (a + b x - y0)**2 <= k**2 s**2 (1/m + 1/n + (x - xbar)**2 / Sxx)} by the
    quadratic formula (Draper & Smith 3.2; DIN 32645)."""
    n = x.shape[0]
    b, a = np.polyfit(x, y, 1)
    s2 = np.sum((y - a - b * x) ** 2) / (n - 2)
    xb, sxx = x.mean(), np.sum((x - x.mean()) ** 2)
    q2 = k * k * s2
    qa = b * b - q2 / sxx
    qb = 2.0 * (b * (a - y0) + q2 * xb / sxx)
    qc = (a - y0) ** 2 - q2 * (1.0 / m + 1.0 / n + xb * xb / sxx)
    d = math.sqrt(qb * qb - 4.0 * qa * qc)
    return sorted([(-qb - d) / (2 * qa), (-qb + d) / (2 * qa)])


def test_inversion_interval_of_a_line_is_the_closed_form():
    cal = quorvex.fit(ISO_X, ISO_Y, interval=(-5.0, 15.0))
    for y0 in (4.0, 7.7, 10.5):
        pred = cal.inverse([y0])
        lo, hi = fieller_line(ISO_X, ISO_Y, y0, stats.t.ppf(0.975, 4))
        assert pred.low[0] == pytest.approx(lo, abs=1e-11)
        assert pred.high[0] == pytest.approx(hi, abs=1e-11)
        assert pred.low[0] < pred.x[0] < pred.high[0]
        # wider than first order where the curve's own uncertainty matters
        assert pred.high[0] - pred.low[0] > 0.999 * 2 * pred.U[0]


def test_inversion_interval_of_a_quadratic_inverts_the_prediction_band():
    rng = np.random.default_rng(8)
    x = np.linspace(0.0, 10.0, 9)
    y = 1.0 + 2.0 * x - 0.08 * x ** 2 + rng.normal(0.0, 0.15, 9)
    cal = quorvex.fit(x, y, degree=2)
    y0 = np.array([3.0, 9.0, 11.5])
    pred = cal.inverse(y0, replicates=2)
    band_y = np.linspace(0.0, 10.0, 200001)
    for i in range(3):
        b = cal.band(band_y, level=0.95, kind="prediction", u_y=pred.u_y[i])
        inside = band_y[(b.lower <= y0[i]) & (y0[i] <= b.upper)]
        assert pred.low[i] == pytest.approx(inside.min(), abs=1e-4)
        assert pred.high[i] == pytest.approx(inside.max(), abs=1e-4)
    assert not pred.interval_open.any()


def test_inversion_interval_that_reaches_the_curves_end_says_so():
    x = np.array([1.0, 2.0, 3.0, 4.0])
    cal = quorvex.fit(x, np.array([1.0, 2.4, 2.6, 4.1]))
    pred = cal.inverse([1.2])
    assert pred.low[0] == 1.0 and pred.interval_open[0]


def test_monte_carlo_with_a_scaled_covariance_draws_the_scale_too():
    # Four standards, dof 2: t(2) = 4.30 against the normal 1.96.  Drawing the scale makes
    # the Monte Carlo interval about as wide as first order with Student's t.
    x = np.array([1.0, 2.0, 3.0, 4.0])
    cal = quorvex.fit(x, np.array([1.1, 1.9, 3.1, 3.9]))
    mc = cal.inverse([2.5], method="monte-carlo", n=40000, seed=5)
    fo = mc.first_order
    width = mc.high[0] - mc.low[0]
    assert width == pytest.approx(2 * fo.U[0], rel=0.12)
    assert width > 1.5 * 2 * 1.96 * fo.u_x[0]
    # with the stated covariance nothing is drawn but the normal curves and responses
    st = quorvex.fit(x, np.array([1.1, 1.9, 3.1, 3.9]), u_y=0.1)
    a = st.inverse([2.5], 0.1, method="monte-carlo", n=2000, seed=5)
    assert a.high[0] - a.low[0] == pytest.approx(2 * 1.96 * a.first_order.u_x[0], rel=0.1)


# The inversion interval of a quadratic against R: the band of predict.lm(..., interval =
# "prediction") inverted by uniroot (tol 1e-13), from this script:
#   x <- c(0, 1.25, 2.5, 3.75, 5, 6.25, 7.5, 8.75, 10)
#   y <- c(1.02, 3.37, 5.45, 7.25, 8.91, 10.31, 11.6, 12.56, 13.3)
#   fit <- lm(y ~ x + I(x^2))
#   band <- function(x0, y0, side) {
#     p <- predict(fit, data.frame(x = x0), interval = "prediction", level = 0.95)
#     if (side == "lo") p[, "upr"] - y0 else p[, "lwr"] - y0 }
#   for (y0 in c(3, 9, 11.5)) {
#     xh <- uniroot(function(v) predict(fit, data.frame(x = v)) - y0, c(0, 10), tol = 1e-13)$root
#     lo <- uniroot(function(v) band(v, y0, "lo"), c(0, xh), tol = 1e-13)$root
#     hi <- uniroot(function(v) band(v, y0, "hi"), c(xh, 10), tol = 1e-13)$root
#     cat(sprintf("%.17g %.17g %.17g %.17g\n", y0, xh, lo, hi)) }
R_QUADRATIC = [(3.0, 1.0572158305889943, 1.0017008249284585, 1.1125230299861777),
               (9.0, 5.0630800571523835, 4.9843934725668761, 5.142470726813908),
               (11.5, 7.4371830979784797, 7.3318636043579195, 7.544218925741264)]


def test_inversion_interval_of_a_quadratic_agrees_with_r():
    x = np.array([0, 1.25, 2.5, 3.75, 5, 6.25, 7.5, 8.75, 10])
    y = np.array([1.02, 3.37, 5.45, 7.25, 8.91, 10.31, 11.6, 12.56, 13.3])
    pred = quorvex.fit(x, y, degree=2).inverse([r[0] for r in R_QUADRATIC])
    for i, (_, xh, lo, hi) in enumerate(R_QUADRATIC):
        assert pred.x[i] == pytest.approx(xh, abs=1e-12)
        assert pred.low[i] == pytest.approx(lo, abs=1e-9)  # R's root finder's accuracy
        assert pred.high[i] == pytest.approx(hi, abs=1e-9)


# Massart et al. (1997), Handbook of Chemometrics and Qualimetrics A, chapter 8, example 3
# (replicate standards, weighted regression): five replicates at six levels.
MASSART_X = np.repeat([0.0, 10, 20, 30, 40, 50], 5)
MASSART_Y = np.array([4, 3, 4, 5, 4, 22, 20, 21, 22, 21, 44, 46, 45, 44, 44, 60, 63, 60, 63, 63,
                      75, 81, 79, 78, 77, 104, 109, 107, 101, 105], dtype=float)


def massart_calibration(covariance="scaled"):
    # The book's recipe: level means, weights round(1/s^2, 3) with s rounded to 2 decimals,
    # the weights relative (the scale from the residual scatter).
    levels = np.unique(MASSART_X)
    means = np.array([MASSART_Y[MASSART_X == v].mean() for v in levels])
    s = np.array([round(float(MASSART_Y[MASSART_X == v].std(ddof=1)), 2) for v in levels])
    w = np.round(1.0 / s ** 2, 3)
    return quorvex.fit(levels, means, u_y=1.0 / np.sqrt(w), covariance=covariance), w


def test_relative_stated_weights_read_a_sample_with_its_own_weight():
    cal, w = massart_calibration()
    assert cal.dof == 4
    ws = np.array([1.67, 0.145])
    p = cal.inverse([15.0, 90.0], u_y_relative=1.0 / np.sqrt(ws))
    # chemCal's values (its tests pin them to 7 digits) and the book's one decimal.
    assert p.x == pytest.approx([5.865367, 44.06025], rel=1e-6)
    assert p.u_x == pytest.approx([0.8926109, 2.829162], abs=1e-6)
    assert np.abs(p.U - [2.478285, 7.855012]).max() < 1e-6
    assert [round(float(u), 1) for u in p.U] == [2.5, 7.9]
    assert list(p.dof) == [4.0, 4.0] and p.u_y_source[0].startswith("from the scatter")
    # Independently: the weighted line by numpy and the classical formula with the sample's
    # variance s_yx^2 / w_s.
    levels = np.unique(MASSART_X)
    means = np.array([MASSART_Y[MASSART_X == v].mean() for v in levels])
    sw = np.sqrt(w)
    b, a = np.linalg.lstsq(np.column_stack([sw * levels, sw]), sw * means, rcond=None)[0]
    syx = math.sqrt(np.sum(w * (means - a - b * levels) ** 2) / 4)
    xw = np.sum(w * levels) / w.sum()
    yw = np.sum(w * means) / w.sum()
    sxx = np.sum(w * (levels - xw) ** 2)
    y0 = np.array([15.0, 90.0])
    se = syx / b * np.sqrt(1 / ws + 1 / w.sum() + (y0 - yw) ** 2 / (b * b * sxx))
    assert p.u_x == pytest.approx(se, rel=1e-10)
    assert p.U == pytest.approx(stats.t.ppf(0.975, 4) * se, rel=1e-10)
    # Monte Carlo takes the same u(y) and draws its scale with the curve's.
    mc = cal.inverse([15.0, 90.0], u_y_relative=1.0 / np.sqrt(ws), method="monte-carlo",
                     n=20000, seed=3)
    assert np.abs(mc.low - (p.x - p.U)).max() < 0.05 * p.U.max()
    # ... wider than the same u(y) stated, whose scale is not drawn.
    fixed = cal.inverse([15.0, 90.0], u_y=cal.sres / np.sqrt(ws), method="monte-carlo",
                        n=20000, seed=3)
    assert (mc.low < fixed.low - 0.1 * p.U).all()


def test_a_samples_relative_u_y_needs_relative_stated_weights():
    cal, _ = massart_calibration(covariance="stated")
    with pytest.raises(InputError, match="stated uncertainties"):
        cal.inverse([15.0])
    with pytest.raises(InputError, match="stated uncertainties"):
        cal.inverse([15.0], u_y_relative=1.0)
    scaled, _ = massart_calibration()
    with pytest.raises(InputError, match="u_y_relative gives each sample's"):
        scaled.inverse([15.0])
    with pytest.raises(InputError, match="u_y_relative applies"):
        scaled.inverse([15.0], u_y=0.5, u_y_relative=1.0)
    with pytest.raises(InputError, match="positive and finite"):
        scaled.inverse([15.0, 90.0], u_y_relative=[1.0, 0.0])
    with pytest.raises(InputError, match="u_y_relative applies"):
        quorvex.fit(np.arange(5.0), np.arange(5.0) + [0, .1, 0, -.1, 0]).inverse(
            [2.0], u_y_relative=1.0)
    # Replicate readings average: the same as a relative u(y) over sqrt(m).
    one = scaled.inverse([15.0], u_y_relative=0.8, replicates=4)
    assert one.u_y[0] == pytest.approx(scaled.inverse([15.0], u_y_relative=0.4).u_y[0],
                                       rel=1e-15)
