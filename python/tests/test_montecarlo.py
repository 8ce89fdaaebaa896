"""Monte Carlo inverse prediction against first order on a line and against the exact
distribution of a root of a quadratic."""
import dataclasses
import math

import numpy as np
import pytest
from scipy import integrate, stats

import quorvex
from conftest import curve_data


def test_agrees_with_first_order_on_a_line():
    x, y = curve_data(40, [4.0, 3.0], 0.02, seed=31)
    cal = quorvex.fit(x, y, u_y=0.02)
    ys = np.linspace(cal(1.0), cal(9.0), 7)
    n = 20000
    mc = cal.inverse(ys, u_y=0.02, method="monte-carlo", n=n, seed=1)
    fo = mc.first_order
    np.testing.assert_allclose(fo.x, cal.inverse(ys, u_y=0.02).x, rtol=0, atol=0)
    assert np.all(np.abs(mc.x - fo.x) < 4 * fo.u_x / math.sqrt(n))
    assert np.all(np.abs(mc.u_x / fo.u_x - 1) < 4 / math.sqrt(2 * n))
    k = stats.norm.ppf(0.975)
    assert np.all(np.abs(mc.low - (fo.x - k * fo.u_x)) < 0.1 * fo.u_x)
    assert np.all(np.abs(mc.high - (fo.x + k * fo.u_x)) < 0.1 * fo.u_x)
    assert mc.agrees.all() and mc.notes == ()
    assert np.all(mc.no_root == 0) and np.all(mc.several_roots == 0)
    assert "NO" not in mc.summary().split("ok", 1)[1]


def quadratic(xmin, xmax, s_c):
    """p(x) = x**2 on [xmin, xmax], its constant term uncertain: p(x) + e, e ~ N(0, s_c**2)
    (the Chebyshev constant enters at half weight, so its variance is 4 s_c**2)."""
    x = np.linspace(xmin, xmax, 7)
    cal = quorvex.fit(x, x ** 2, u_y=1.0, degree=2)
    cov = np.zeros((3, 3))
    cov[0, 0] = 4 * s_c ** 2
    return dataclasses.replace(cal, cov=cov, covariance="stated")


def test_matches_the_exact_distribution_of_a_root_of_a_quadratic():
    # x = sqrt(Y), Y = y + u_y z1 - s_c z2 ~ N(y, s**2), s = 0.01: no root when Y < 0.
    y, u, s_c, n = 0.01, 0.006, 0.008, 40000
    s = math.hypot(u, s_c)
    p0 = stats.norm.cdf(-y / s)
    cal = quadratic(0.0, 2.0, s_c)
    mc = cal.inverse([y], u_y=u, method="monte-carlo", n=n, seed=7)
    assert mc.no_root[0] == pytest.approx(p0, abs=4 * math.sqrt(p0 * (1 - p0) / n))
    assert mc.several_roots[0] == 0
    m = n * (1 - p0)

    def quantile(q):
        return math.sqrt(y + s * stats.norm.ppf(p0 + q * (1 - p0)))

    def density(xv):  # of x given a root
        return stats.norm.pdf(xv * xv, y, s) * 2 * xv / (1 - p0)

    for q, got in ((0.025, mc.low[0]), (0.5, mc.median[0]), (0.975, mc.high[0])):
        exact = quantile(q)
        assert got == pytest.approx(exact, abs=5 * math.sqrt(q * (1 - q) / m) / density(exact))
    ey = integrate.quad(lambda v: math.sqrt(v) * stats.norm.pdf(v, y, s), 0, np.inf)[0]
    e2 = integrate.quad(lambda v: v * stats.norm.pdf(v, y, s), 0, np.inf)[0]
    mean, sd = ey / (1 - p0), math.sqrt(e2 / (1 - p0) - (ey / (1 - p0)) ** 2)
    assert mc.x[0] == pytest.approx(mean, abs=5 * sd / math.sqrt(m))
    assert mc.u_x[0] == pytest.approx(sd, rel=5 / math.sqrt(2 * m) + 0.01)
    # First order (x = 0.1 +- 0.05) does not describe this: the summary says why.
    assert not mc.agrees[0]
    assert "no root" in mc.notes[0] and "note: y = 0.01" in mc.summary()


def test_several_roots_take_the_branch_of_the_estimate():
    # On [-1, 2] both -sqrt(Y) and sqrt(Y) (for Y <= 1) are roots; the fitted curve's first
    # root is -0.1, so the draws contribute -sqrt(Y).
    y, u, s_c, n = 0.01, 0.006, 0.008, 20000
    s = math.hypot(u, s_c)
    cal = quadratic(-1.0, 2.0, s_c)
    mc = cal.inverse([y, 2.5], u_y=[u, 0.01], method="monte-carlo", n=n, seed=3)
    p_two = stats.norm.cdf(1.0, y, s) - stats.norm.cdf(0.0, y, s)
    assert mc.several_roots[0] == pytest.approx(p_two, abs=4 * math.sqrt(p_two * (1 - p_two) / n))
    assert mc.first_order.x[0] == pytest.approx(-0.1)
    assert mc.high[0] < 0
    assert "several roots" in mc.notes[0]
    # Above 1 only the root sqrt(Y) lies in the interval: first order holds there.
    assert mc.several_roots[1] == 0 and mc.agrees[1]
    assert mc.x[1] == pytest.approx(math.sqrt(2.5), abs=1e-3)


def test_reproducible_and_the_same_on_threads():
    x, y = curve_data(15, [4.0, 3.0, 0.2], 0.05, seed=5)
    cal = quorvex.fit(x, y, u_y=0.05, degree=2)
    ys = np.linspace(cal(0.5), cal(9.5), 30)
    a = cal.inverse(ys, u_y=0.05, method="monte-carlo", n=3000, seed=11)
    b = cal.inverse(ys, u_y=0.05, method="monte-carlo", n=3000, seed=11, workers=2)
    for name in ("x", "u_x", "low", "high", "no_root", "several_roots"):
        np.testing.assert_array_equal(getattr(a, name), getattr(b, name))
    c = cal.inverse(ys, u_y=0.05, method="monte-carlo", n=3000, seed=12)
    assert not np.array_equal(a.x, c.x)


def test_groups_of_responses_give_what_one_group_gives(monkeypatch):
    # Responses go to the library in groups (the unit of the threads' work); each response
    # has its own stream of draws, so groups of any size, on any number of threads, give
    # the same bits.
    from quorvex import montecarlo
    x, y = curve_data(15, [4.0, 3.0], 0.05, seed=6)
    cal = quorvex.fit(x, y, u_y=0.05)
    ys = np.linspace(cal(1.0), cal(9.0), 9)
    one = cal.inverse(ys, u_y=0.0, method="monte-carlo", n=500, seed=2)
    monkeypatch.setattr(montecarlo, "RESPONSES_PER_CALL", 2)
    for workers in (1, 3):
        split = cal.inverse(ys, u_y=0.0, method="monte-carlo", n=500, seed=2, workers=workers)
        for name in ("x", "u_x", "median", "low", "high", "se_low", "se_high", "agrees"):
            np.testing.assert_array_equal(getattr(one, name), getattr(split, name))
    # The first responses of a set are drawn as they are alone.
    head = cal.inverse(ys[:3], u_y=0.0, method="monte-carlo", n=500, seed=2)
    np.testing.assert_array_equal(head.x, one.x[:3])


def test_seed_is_reported_and_repeats_the_run():
    x, y = curve_data(12, [4.0, 3.0], 0.05, seed=8)
    cal = quorvex.fit(x, y, u_y=0.05)
    a = cal.inverse([5.0, 20.0], u_y=0.05, method="monte-carlo", n=300)
    assert isinstance(a.seed, int) and 0 <= a.seed < 2**64
    b = cal.inverse([5.0, 20.0], u_y=0.05, method="monte-carlo", n=300, seed=a.seed)
    np.testing.assert_array_equal(a.x, b.x)
    np.testing.assert_array_equal(a.high, b.high)
    # A numpy Generator gives a seed of its own draws, reported too.
    g = cal.inverse([5.0], u_y=0.05, method="monte-carlo", n=300,
                    seed=np.random.default_rng(4))
    assert g.seed == int(np.random.default_rng(4).integers(0, 2**64, dtype=np.uint64))
    # Seeds above 2**32 reach the library whole: the high word changes the draws.
    hi = cal.inverse([5.0], u_y=0.05, method="monte-carlo", n=300, seed=2**40 + 7)
    lo = cal.inverse([5.0], u_y=0.05, method="monte-carlo", n=300, seed=7)
    assert hi.x[0] != lo.x[0]
    for bad in (-1, 2**64, 1.5, "7"):
        with pytest.raises(quorvex.InputError, match="seed must"):
            cal.inverse([5.0], u_y=0.05, method="monte-carlo", n=300, seed=bad)


def test_no_uncertainty_gives_the_first_order_root():
    x, y = curve_data(10, [4.0, 3.0, 0.3], 0.05, seed=9)
    cal = quorvex.fit(x, y, u_y=0.05, degree=2)
    fixed = dataclasses.replace(cal, cov=np.zeros((3, 3)))
    mc = fixed.inverse([3.0, 5.0], "curve-only", method="monte-carlo", n=50, seed=0)
    np.testing.assert_allclose(mc.x, mc.first_order.x, rtol=1e-15)
    assert np.all(mc.u_x <= 1e-14 * np.abs(mc.x)) and np.all(mc.low == mc.high)


@pytest.mark.parametrize("kwargs,message", [
    (dict(method="bootstrap"), "'first-order' or 'monte-carlo'"),
    (dict(method="monte-carlo", n=1), "n must lie in"),
    (dict(method="monte-carlo", level=1.0), "level must lie strictly between"),
    (dict(method="monte-carlo", extrapolate=True), "first-order inverse only"),
    (dict(method="monte-carlo", u_y=-1.0), "u_y must not be negative"),
])
def test_bad_input(kwargs, message):
    cal = quorvex.fit([0.0, 1, 2, 3], [0.0, 1.1, 1.9, 3.0], u_y=0.1)
    with pytest.raises(quorvex.InputError, match=message):
        cal.inverse([1.0], **kwargs)
