"""Goodness of fit, lack of fit, bands, residual diagnostics, weighting presets,
back-calculated standards and detection limits, each against an independent computation."""
import json
import math

import numpy as np
from scipy import stats
import pytest

import quorvex
from refbasis import basis
from conftest import curve_data


def solve_ld(a, b):
    """Gauss-Jordan in long double: (a^-1 b, a^-1)."""
    k = a.shape[0]
    m = np.concatenate([a, b[:, None], np.eye(k, dtype=np.longdouble)], axis=1)
    for j in range(k):
        p = j + int(np.argmax(np.abs(m[j:, j])))
        m[[j, p]] = m[[p, j]]
        m[j] /= m[j, j]
        for i in range(k):
            if i != j:
                m[i] -= m[i, j] * m[j]
    return m[:, k], m[:, k + 1:]


def wls_ld(x, y, w, ncoef, xmin, xmax):
    """Weighted least squares by the normal equations in long double:
    (coef, (A'A)^-1, weighted residuals)."""
    g = basis(x, ncoef, xmin, xmax).astype(np.longdouble)
    wl = np.asarray(w, dtype=np.longdouble)
    a = g * wl[:, None]
    yl = np.asarray(y, dtype=np.longdouble) * wl
    c, inv = solve_ld(a.T @ a, a.T @ yl)
    return c, inv, yl - a @ c, a


def chi2_sf_even(x, dof):
    """P(chi2_dof >= x) for even dof: exp(-x/2) sum_{k < dof/2} (x/2)^k / k!."""
    h = x / 2.0
    return math.exp(-h) * sum(h ** k / math.factorial(k) for k in range(dof // 2))


# Goodness of fit -------------------------------------------------------------------------

@pytest.mark.parametrize("n,coef,scale", [(6, [4.0, 3.0], 1.0), (13, [4.0, 3.0, 0.2], 1.6),
                                          (25, [1.0, 2.0, 0.1], 0.5)])
def test_p_value_is_the_chi2_tail_and_the_verdict_follows_it(n, coef, scale):
    x, y = curve_data(n, coef, 0.05, seed=n)
    cal = quorvex.fit(x, y, u_y=0.05 * scale, degree=len(coef) - 1)
    assert cal.dof % 2 == 0
    p = chi2_sf_even(cal.chi2, cal.dof)
    assert cal.p_value == pytest.approx(p, rel=1e-10)
    d = cal.diagnostics()
    assert d.p_value == cal.p_value
    a = d.levels["goodness"]  # its share of the overall 5 %: goodness, shape, outliers
    assert a == pytest.approx(0.05 / 3, rel=1e-15)
    assert set(d.levels) == {"goodness", "lack_of_fit", "outliers"}
    assert d.goodness == ("fail" if p < a else "doubtful" if p < 0.05 else "pass")


def test_understated_uncertainties_fail_and_no_stated_ones_are_not_tested():
    x, y = curve_data(20, [4.0, 3.0], 0.05, seed=7)
    bad = quorvex.fit(x, y, u_y=0.01)
    assert bad.p_value < 1e-6
    assert bad.diagnostics().goodness == "fail" and not bad.diagnostics().fit_for_use
    assert "larger than the stated uncertainties" in str(bad)
    scatter = quorvex.fit(x, y)
    assert math.isnan(scatter.p_value)
    assert scatter.diagnostics().goodness == "not tested"
    exact = quorvex.fit([0.0, 1.0], [1.0, 2.0], u_y=0.1)
    assert math.isnan(exact.p_value) and exact.diagnostics().goodness == "not tested"
    assert not exact.diagnostics().fit_for_use


def test_lack_of_fit_worked_by_hand():
    # x = 1,1,2,2,3,3; y = 1,3,4,6,5,7.  Group means 2, 5, 6: pure error 6 on 3 dof.
    # Line: slope Sxy/Sxx = 8/4 = 2, intercept 13/3 - 4 = 1/3; residuals -4/3, 2/3, -1/3,
    # 5/3, -4/3, 2/3: SSR = 66/9 = 22/3; lack of fit 22/3 - 6 = 4/3 on 3 - 2 = 1 dof.
    # F = (4/3)/(6/3) = 2/3 ~ F(1, 3) = t_3**2: p = 1 - (2/pi)(theta + sin theta cos theta),
    # theta = arctan(sqrt(F/3)).
    x, y = [1.0, 1, 2, 2, 3, 3], [1.0, 3, 4, 6, 5, 7]
    lof = quorvex.fit(x, y).lack_of_fit()
    assert (lof.dof_lack, lof.dof_pure, lof.groups) == (1, 3, 3)
    assert lof.ss_pure == pytest.approx(6.0, rel=1e-13)
    assert lof.ss_lack == pytest.approx(4.0 / 3.0, rel=1e-12)
    assert lof.f == pytest.approx(2.0 / 3.0, rel=1e-12)
    th = math.atan(math.sqrt((2.0 / 3.0) / 3.0))
    assert lof.p_value == pytest.approx(1 - 2 / math.pi * (th + math.sin(th) * math.cos(th)),
                                        rel=1e-10)
    # Equal stated uncertainties scale both sums alike: the same F.
    scaled = quorvex.fit(x, y, u_y=0.3).lack_of_fit()
    assert scaled.f == pytest.approx(lof.f, rel=1e-12)


def test_lack_of_fit_detects_a_wrong_degree_and_is_absent_without_replicates():
    x = np.repeat(np.linspace(1.0, 10.0, 6), 3)
    rng = np.random.default_rng(5)
    y = 1 + 0.5 * x + 0.08 * x ** 2 + 0.02 * rng.standard_normal(x.size)
    line = quorvex.fit(x, y, u_y=0.02)
    assert line.lack_of_fit().p_value < 1e-6
    row = [r for r in line.summary().splitlines() if r.startswith("  lack of fit")][0]
    assert row.split()[3] == "fail"
    quad = quorvex.fit(x, y, u_y=0.02, degree=2)
    assert quad.lack_of_fit().p_value > 0.01
    assert quorvex.fit(np.linspace(0, 1, 8), np.linspace(0, 1, 8) ** 2).lack_of_fit() is None


@pytest.mark.parametrize("u_y,covariance,code", [(None, None, 3), (0.1, "stated", 4),
                                                  (0.1, "scaled", 3)])
def test_without_replicates_the_shape_is_tested_by_the_next_higher_term(u_y, covariance,
                                                                        code):
    # Eight single standards of a bent curve: Mandel's F (scatter) or Delta chi2 (stated
    # u(y)) of the x^2 term, against numpy's two fits and the F / chi2 tails.
    x = np.arange(1.0, 9.0)
    y = 0.2 + x + 0.06 * x ** 2 + 0.1 * np.array([0.5, -0.8, 0.2, 1.1, -0.4, -1, 0.7, -0.3])
    kw = {} if u_y is None else {"u_y": u_y, "covariance": covariance}
    d = quorvex.fit(x, y, **kw).diagnostics()
    chi = [np.sum((y - np.polyval(np.polyfit(x, y, k), x)) ** 2) for k in (1, 2)]
    if code == 3:
        f = (chi[0] - chi[1]) / (chi[1] / 5)
        p = stats.f.sf(f, 1, 5)
    else:
        f = (chi[0] - chi[1]) / 0.01
        p = stats.chi2.sf(f, 1)
    sh = d.shape
    assert sh["code"] == code and sh["statistic"] == pytest.approx(f, rel=1e-9)
    assert sh["p_value"] == pytest.approx(p, rel=1e-8)
    assert ("Mandel" in sh["test"]) == (code == 3) and "next-higher term" in sh["test"]
    assert sh["verdict"] == "fail" and "lack_of_fit" in d.failed and not d.fit_for_use
    assert d.lack_of_fit is None
    row = [r for r in quorvex.fit(x, y, **kw).summary().splitlines()
           if r.startswith("  curve's shape")][0]
    assert row.split()[2] == "fail" and "next-higher term" in row
    # The right degree passes; replicates keep the lack-of-fit test.
    quad = quorvex.fit(x, y, degree=2, **kw).diagnostics()
    assert quad.shape["code"] == code and quad.shape["verdict"] == "pass"
    rep = quorvex.fit(np.repeat(x, 2), np.repeat(y, 2) + np.tile([0.05, -0.05], 8))
    assert rep.diagnostics().shape["code"] == 0
    assert rep.diagnostics().shape["p_value"] == rep.lack_of_fit().p_value


# Residual diagnostics --------------------------------------------------------------------

@pytest.mark.parametrize("n,coef,seed", [(8, [4.0, 3.0], 1), (15, [4.0, 3.0, 0.2], 2),
                                         (30, [2.0, 5.0, 0.5, -0.1], 3)])
def test_leverages_studentized_and_cook_against_long_double_refits(n, coef, seed):
    x, y = curve_data(n, coef, 0.05, seed)
    x = x ** 1.5 / x.max() ** 0.5  # uneven spacing: leverages differ
    uy = 0.05 * (1 + np.arange(n) % 3)
    y = y.copy()
    y[n // 3] += 0.3
    p = len(coef)
    for u in (uy, None):
        cal = quorvex.fit(x, y, u_y=u, degree=p - 1)
        w = np.ones(n) if u is None else 1 / u
        c, inv, r, a = wls_ld(x, y, w, p, cal.xmin, cal.xmax)
        h = np.einsum("ij,jk,ik->i", a, inv, a)
        s2 = (r @ r) / (n - p)
        np.testing.assert_allclose(cal.leverages, h.astype(float), rtol=1e-10)
        np.testing.assert_allclose(cal.studentized_residuals,
                                   (r / np.sqrt(s2 * (1 - h))).astype(float), rtol=1e-8)
        # By definition, from refits without each standard in turn.
        ext, cook = np.empty(n), np.empty(n)
        for i in range(n):
            keep = np.arange(n) != i
            ci, _, ri, _ = wls_ld(x[keep], y[keep], w[keep], p, cal.xmin, cal.xmax)
            ext[i] = r[i] / np.sqrt((ri @ ri) / (n - 1 - p) * (1 - h[i]))
            dc = c - ci
            cook[i] = dc @ (a.T @ a) @ dc / (p * s2)
        np.testing.assert_allclose(quorvex.diagnostics.studentized_residuals(cal, external=True),
                                   ext, rtol=1e-7)
        np.testing.assert_allclose(cal.cooks_distance, cook, rtol=1e-7)


def test_outliers_flag_a_gross_error_and_say_why():
    x, y = curve_data(12, [4.0, 3.0], 0.05, seed=4)
    y = y.copy()
    y[5] += 0.6
    for cal in (quorvex.fit(x, y, u_y=0.05), quorvex.fit(x, y)):
        found = cal.outliers()
        assert [o.index for o in found] == [5]
        assert "residual" in found[0].reasons[0] and found[0].statistic > 3
        d = cal.diagnostics()
        assert d.outliers[0]["index"] == 5 and not d.fit_for_use
        assert "standard 6 (x = " in str(cal)  # named by its 1-based place
    clean = quorvex.fit(*curve_data(12, [4.0, 3.0], 0.05, seed=4), u_y=0.05)
    assert clean.outliers() == [] and clean.diagnostics().fit_for_use
    # A standard that alone fixes a coefficient is pinned (leverage 1).
    pinned = quorvex.fit([0.0, 0, 0, 1, 1, 1, 2], [0.0, 0.1, -0.1, 1, 1.1, 0.9, 5], degree=2)
    assert pinned.leverages[6] == pytest.approx(1.0)
    assert any("leverage 1" in r for r in pinned.outliers()[0].reasons)


def test_errors_in_variables_flags_normalized_x_and_y_residuals():
    x, y = curve_data(20, [4.0, 3.0], 0.02, seed=8, u_x=0.02)
    x = x.copy()
    x[7] += 0.3  # a wrong x value
    cal = quorvex.fit(x, y, u_y=0.02, u_x=0.02)
    found = cal.outliers()
    assert [o.index for o in found] == [7]
    assert math.isnan(found[0].cooks_distance)
    assert "standard 8 (x = " in str(cal) and "normalized" in str(cal)
    assert abs(found[0].statistic_x) > 3 or abs(found[0].statistic) > 3
    with pytest.raises(quorvex.InputError, match="ordinary fit"):
        cal.leverages


# Bands -----------------------------------------------------------------------------------

def test_band_formula_and_coverage_factor():
    x, y = curve_data(10, [4.0, 3.0, 0.2], 0.05, seed=9)
    xs = np.array([0.0, 3.3, 10.0])
    for u, dist in ((0.05, "normal"), (None, "t(7)")):
        cal = quorvex.fit(x, y, u_y=u, degree=2)
        b = cal.band(xs)
        assert b.distribution == dist
        # Quantiles from 40-digit computations (mpmath).
        k = 1.9599639845400543 if u else 2.3646242515927853
        p, up = cal.evaluate(xs, uncertainty=True)
        np.testing.assert_allclose(b.lower, p - k * up, rtol=1e-14)
        lo, hi = cal.band(xs, kind="prediction", level=0.9)
        k9 = 1.6448536269514726 if u else 1.8945786050900073
        sd = 0.05 if u else cal.sres
        np.testing.assert_allclose(hi, p + k9 * np.sqrt(up ** 2 + sd ** 2), rtol=1e-14)
    with pytest.raises(quorvex.InputError, match="kind"):
        cal.band(xs, kind="tolerance")
    varying = quorvex.fit(x, y, u_y=np.linspace(0.04, 0.06, 10))
    with pytest.raises(quorvex.InputError, match="give u_y"):
        varying.band(xs, kind="prediction")
    assert varying.band(xs, kind="prediction", u_y=0.05).u.shape == (3,)


@pytest.mark.parametrize("stated", [True, False])
def test_band_coverage_by_simulation(stated):
    # 6 standards on a line: dof 4, where t and normal coverage factors differ a lot
    # (a normal k would cover only about 88 %).
    rng = np.random.default_rng(12345)
    x = np.linspace(0.0, 10.0, 6)
    truth = 1.0 + 0.4 * x
    x0 = np.array([0.0, 7.0])
    t0 = 1.0 + 0.4 * x0
    sims, sigma = 1000, 0.2
    conf = np.zeros(2)
    pred = np.zeros(2)
    for _ in range(sims):
        y = truth + sigma * rng.standard_normal(6)
        cal = quorvex.fit(x, y, u_y=sigma if stated else None)
        lo, hi = cal.band(x0)
        conf += (lo <= t0) & (t0 <= hi)
        ynew = t0 + sigma * rng.standard_normal(2)
        lo, hi = cal.band(x0, kind="prediction")
        pred += (lo <= ynew) & (ynew <= hi)
    tol = 4 * math.sqrt(0.95 * 0.05 / sims)
    np.testing.assert_allclose(conf / sims, 0.95, atol=tol)
    np.testing.assert_allclose(pred / sims, 0.95, atol=tol)


# Weighting presets -----------------------------------------------------------------------

@pytest.mark.parametrize("preset,w", [("1/x", lambda x: 1 / np.sqrt(x)), ("1/x2", lambda x: 1 / x)])
def test_weighting_presets_are_the_stated_weights(raw, preset, w):
    x = np.array([0.5, 1, 2, 5, 10, 20, 50])
    y = 0.01 + 0.3 * x * (1 + 0.03 * np.sin(x))
    cal = quorvex.fit(x, y, weighting=preset)
    r = raw.olspfit(x, y, w(x), 2, x.min(), x.max())
    np.testing.assert_array_equal(cal.coef, r["coef"])
    # sum_i w_i r_i**2 with w_i = 1/x_i or 1/x_i**2 is the chi2 the fit minimised.
    wi = 1 / x if preset == "1/x" else 1 / x ** 2
    assert cal.chi2 == pytest.approx(np.sum(wi * cal.residuals ** 2), rel=1e-12)
    assert cal.covariance == "scaled" and cal.options["weighting"] == preset
    # A new response's scatter follows the same law: sres sqrt(x) or sres x.
    b = cal.band([4.0], kind="prediction")
    p, up = cal.evaluate([4.0], uncertainty=True)
    sd = cal.sres * (2.0 if preset == "1/x" else 4.0)
    assert b.u[0] == pytest.approx(math.sqrt(up[0] ** 2 + sd ** 2), rel=1e-13)
    assert quorvex.Calibration.from_json(cal.to_json()).options == cal.options


@pytest.mark.parametrize("kwargs,message", [
    (dict(x=[0.0, 1, 2], weighting="1/x"), "every x > 0: element 0 is 0"),
    (dict(x=[1.0, -1, 2], weighting="1/x2"), "every x > 0: element 1 is -1"),
    (dict(x=[1.0, 2, 3], weighting="1/z"), "'1/x', '1/x2', '1/y' or '1/y2'"),
    (dict(x=[1.0, 2, 3], weighting="1/x", u_y=0.1), "not both"),
])
def test_weighting_presets_refuse_bad_input(kwargs, message):
    x = kwargs.pop("x")
    with pytest.raises(quorvex.InputError, match=message):
        quorvex.fit(x, [1.0, 2.0, 3.5], **kwargs)


# Back-calculated standards ---------------------------------------------------------------

def test_back_calculated_percentages_and_limits():
    # A line through (x, 2x + 1) except the lowest level, read high, and one mid standard.
    x = np.array([0.0, 1, 1, 2, 4, 6, 8, 10])
    y = 2 * x + 1
    y[1] += 0.36  # the lowest level: 1.18 read back alone would be +18 % (within 20 %)
    y[4] += 1.6   # x = 4: about +20 % (beyond 15 %)
    cal = quorvex.fit(x, y)
    b = cal.back_calculated()
    line = cal.line()
    xb = (y - line.intercept) / line.slope  # the closed form of a straight line
    np.testing.assert_allclose(b.x_back, xb, rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose(b.percent[1:], 100 * xb[1:] / x[1:], rtol=1e-12)
    assert b.blank.tolist() == [True] + [False] * 7 and math.isnan(b.percent[0])
    assert b.limit.tolist() == [15, 20, 20, 15, 15, 15, 15, 15]
    expect = np.abs(b.percent - 100) <= b.limit
    expect[0] = True
    assert b.passed.tolist() == expect.tolist()
    assert not b.passed[4]
    assert (b.n_tested, b.n_passed) == (7, int(expect[1:].sum()))
    assert b.overall == (b.n_passed >= 0.75 * 7)


def test_back_calculated_reads_an_end_standard_beyond_the_curve_by_the_tangent():
    x = np.array([1.0, 2, 3, 4, 5])
    y = np.array([0.9, 2.1, 2.9, 4.1, 5.2])  # a quadratic fit passes below y[0] at x = 1
    cal = quorvex.fit(x, y, degree=2)
    b = cal.back_calculated()
    assert np.all(np.isfinite(b.x_back))
    pred = cal.inverse(y)
    for i in np.flatnonzero(pred.no_root):
        end = cal.xmin if abs(x[i] - cal.xmin) < abs(x[i] - cal.xmax) else cal.xmax
        from refbasis import slope
        s = slope(cal.coef, np.array([end]), cal.xmin, cal.xmax)[0]
        assert b.x_back[i] == pytest.approx(end + (y[i] - cal(end)) / s, rel=1e-12)


# Detection limits ------------------------------------------------------------------------

def test_detection_limits_of_a_line_are_the_closed_forms():
    x = np.array([0.0, 0, 1, 1, 2, 2, 4, 4, 8, 8])
    rng = np.random.default_rng(21)
    y = 0.05 + 0.5 * x + 0.02 * rng.standard_normal(x.size)
    cal = quorvex.fit(x, y)
    from scipy import stats
    d = cal.detection_limits(replicates=2)
    line = cal.line()
    n, s = x.size, cal.sres
    sxx = np.sum((x - x.mean()) ** 2)
    s0 = s * math.sqrt(1 / 2 + 1 / n + x.mean() ** 2 / sxx)
    t = stats.t.ppf(0.95, n - 2)
    assert d.sigma == pytest.approx(s, rel=1e-12)
    assert d.lod == pytest.approx(3.3 * s / line.slope, rel=1e-10)
    assert d.loq == pytest.approx(10 * s / line.slope, rel=1e-10)
    assert d.y_critical == pytest.approx(line.intercept + t * s0, rel=1e-10)
    assert d.x_critical == pytest.approx(t * s0 / line.slope, rel=1e-9)
    # delta: P(noncentral t(dof, delta) <= t) = beta.
    assert stats.nct.cdf(t, n - 2, d.delta) == pytest.approx(0.05, abs=1e-9)
    assert d.x_detection == pytest.approx(d.delta * s0 / line.slope, rel=1e-9)
    stated = quorvex.fit(x, y, u_y=0.02).detection_limits()
    assert stated.delta == pytest.approx(2 * stats.norm.ppf(0.95), rel=1e-12)
    assert stated.sigma == pytest.approx(0.02 * quorvex.fit(x, y, u_y=0.02).sres, rel=1e-14)
    assert stated.sigma_blank == 0.02
    # A blank a little outside the standards: the curve is extended to it, and says so;
    # far outside it is refused.
    near = quorvex.fit(x + 0.5, y).detection_limits()
    assert near.extrapolated and "extended" in near.text()
    with pytest.raises(quorvex.InputError, match="far outside the curve's interval"):
        quorvex.fit(x + 10, y).detection_limits()


# Plain data and text ---------------------------------------------------------------------

def test_diagnostics_are_plain_data_and_the_summary_shows_the_verdicts():
    x = np.repeat([1.0, 2, 4, 6, 8, 10], 2)
    rng = np.random.default_rng(2)
    y = 0.1 + 0.3 * x + 0.01 * rng.standard_normal(x.size)
    cal = quorvex.fit(x, y, u_y=0.01)
    d = cal.diagnostics(limits=True, blank=1.0)
    text = json.dumps(d.to_dict())
    back = json.loads(text)
    assert back["goodness"] == d.goodness and back["dof"] == 10
    assert set(back["lack_of_fit"]) >= {"f", "p_value", "verdict", "text"}
    assert len(back["back_calculated"]["percent"]) == 12
    assert back["detection_limits"]["x_detection"] > back["detection_limits"]["x_critical"] > 0
    s = cal.summary(limits=True)
    for label in ("goodness of fit", "lack of fit", "outliers", "back-calculated", "limits",
                  "verdict:"):
        assert label in s
    # The blank x = 0 lies just below [1, 10]: the curve is extended a little to reach it.
    row = [r for r in cal.summary(limits=True).splitlines() if r.startswith("  limits")][0]
    assert "extended a little" in row
    assert cal.diagnostics(limits=True).detection_limits["extrapolated"] is True
    far = quorvex.fit(x + 20.0, y, u_y=0.01)
    row = [r for r in far.summary(limits=True).splitlines() if r.startswith("  limits")][0]
    assert "not available" in row and "far outside the curve's interval" in row
    assert far.diagnostics(limits=True).detection_limits is None


def test_default_threshold_keeps_large_clean_data_unflagged():
    from scipy import stats
    from quorvex.diagnostics import default_threshold
    assert default_threshold(12) == 3.0
    assert default_threshold(10_000) == pytest.approx(stats.norm.isf(0.025 / 10_000))
    x, y = curve_data(20_000, [4.0, 3.0], 0.05, seed=77)
    cal = quorvex.fit(x, y, u_y=0.05)
    assert cal.outliers() == []
    assert len(cal.outliers(threshold=3.0)) > 10  # about 0.27 % of them by chance
    y = y.copy()
    y[123] += 0.5  # 10 u
    assert [o.index for o in quorvex.fit(x, y, u_y=0.05).outliers()] == [123]
