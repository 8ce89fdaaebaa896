"""Behaviours of the package that no other test guarded: each test here fails when the
fault it names is planted in the package (a mutation campaign's survivors)."""
import json
import math
import warnings
from pathlib import Path

import numpy as np
import pytest

import quorvex
from quorvex import cli, fitting, report, tabular

scipy_stats = pytest.importorskip("scipy.stats")


def run(argv, capsys):
    code = cli.main([str(a) for a in argv])
    capsys.readouterr()
    return code


def write(path, text):
    path.write_text(text)
    return path


# A straight line's standards: five levels, replicates with unequal u_y.
X = np.array([0, 0, 2, 2, 2, 4, 4, 6, 6, 8, 8, 8], dtype=float)
Y = np.array([0.10, 0.14, 2.05, 2.21, 1.93, 4.12, 3.90, 6.02, 6.31, 8.05, 7.88, 8.30])
UY = np.array([0.05, 0.2, 0.05, 0.1, 0.3, 0.08, 0.15, 0.1, 0.25, 0.05, 0.1, 0.2])


# ---------------------------------------------------------------------------
# The ordinary fit's singular design reaches the user as a FitError

@pytest.mark.parametrize("u_x", [None, 0.01])
def test_too_few_distinct_x_values_is_a_fit_error_that_counts_them(u_x):
    x = np.array([1.0, 3.0, 1.0, 3.0, 1.0])
    y = np.array([1.0, 2.0, 1.1, 2.1, 0.9])
    ux = None if u_x is None else np.full(5, u_x)
    with pytest.raises(quorvex.FitError) as e:
        quorvex.fit(x, y, u_y=np.full(5, 0.1), u_x=ux, degree=2, interval=(0.0, 4.0))
    text = str(e.value)
    assert "2 distinct x" in text and "degree 2" in text
    assert e.value.code == 24


# ---------------------------------------------------------------------------
# Statistics

def test_lack_of_fit_pure_error_uses_weighted_group_means():
    cal = quorvex.fit(X, Y, u_y=UY, degree=1)
    lof = cal.lack_of_fit()
    w2 = 1.0 / UY ** 2
    ss = 0.0
    for level in np.unique(X):
        g = X == level
        mean = np.sum(w2[g] * Y[g]) / np.sum(w2[g])
        ss += np.sum(w2[g] * (Y[g] - mean) ** 2)
    assert lof.ss_pure == pytest.approx(ss, rel=1e-12)
    assert lof.ss_lack == pytest.approx(max(cal.chi2 - ss, 0.0), rel=1e-9, abs=1e-12)


@pytest.mark.parametrize("covariance", ["stated", "scaled"])
def test_detection_limit_takes_alpha_and_beta_each_in_its_place(covariance):
    cal = quorvex.fit(X, Y, u_y=UY, degree=1, covariance=covariance)
    alpha, beta = 0.01, 0.2
    d = cal.detection_limits(alpha=alpha, beta=beta)
    if cal.covariance == "stated":
        k_a = scipy_stats.norm.ppf(1 - alpha)
        assert d.k_alpha == pytest.approx(k_a, rel=1e-9)
        assert d.delta == pytest.approx(k_a + scipy_stats.norm.ppf(1 - beta), rel=1e-9)
    else:
        t_a = scipy_stats.t.ppf(1 - alpha, cal.dof)
        assert d.k_alpha == pytest.approx(t_a, rel=1e-9)
        assert scipy_stats.nct.cdf(t_a, cal.dof, d.delta) == pytest.approx(beta, abs=1e-6)
    # Swapping the two changes the answer: neither is read for the other.
    e = cal.detection_limits(alpha=beta, beta=alpha)
    assert e.delta != pytest.approx(d.delta, rel=1e-6) or covariance == "stated"
    assert e.k_alpha != pytest.approx(d.k_alpha, rel=1e-6)


def test_monte_carlo_standard_deviation_divides_by_n_minus_one():
    # Two draws with a root: the interval's ends are the quantiles at 0.025 and 0.975,
    # s0 + p (s1 - s0), so s1 - s0 = (high - low) / 0.95, and the standard deviation
    # with divisor n - 1 is |s1 - s0| / sqrt(2) (not / 2).
    cal = quorvex.fit(X, Y, u_y=UY, degree=1)
    mc = cal.inverse([2.0], u_y=0.1, method="monte-carlo", n=2, seed=1)
    assert mc.no_root[0] == 0
    spread = (mc.high[0] - mc.low[0]) / 0.95
    assert spread > 0
    assert mc.u_x[0] == pytest.approx(spread / math.sqrt(2), rel=1e-12)
    assert mc.x[0] == pytest.approx(0.5 * (mc.low[0] + mc.high[0]), rel=1e-12)


# ---------------------------------------------------------------------------
# The errors-in-variables fit's statuses

def _eiv_line(seed=3, n=12):
    rng = np.random.default_rng(seed)
    xt = np.linspace(1.0, 9.0, n)
    ux, uy = np.full(n, 0.05), np.full(n, 0.05)
    return xt + ux * rng.standard_normal(n), 2.0 + 0.5 * xt + uy * rng.standard_normal(n), ux, uy


def _status3(tol):
    x, y, ux, uy = _eiv_line()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        cal = quorvex.fit(x, y, u_y=uy, u_x=ux, degree=2, tol=tol, maxit=500,
                          interval=(0.0, 10.0))
    return cal, [w for w in caught if issubclass(w.category, quorvex.ConvergenceWarning)]


def test_status_3_warns_when_the_last_step_was_large_and_not_when_small():
    # Tolerances below rounding: the line search gives up with a step that is not
    # below TOL(1).
    cal, caught = _status3((1e-300, 1e-300))
    assert cal.status == 3
    assert cal.rinfo[0] >= 1e-300
    assert len(caught) == 1
    # A step tolerance the step meets: the line search gives up at the minimum.
    cal, caught = _status3((1e-2, 1e-300))
    assert cal.status == 3
    assert cal.rinfo[0] < 1e-2
    assert caught == []


def test_a_covariance_that_is_not_a_number_is_a_fit_error(monkeypatch):
    # The library reports a covariance that is not finite as QVXL_FIT status 38 with
    # GLSPFIT's own status (0: it converged); the package makes that a FitError.
    real = fitting.LF.fit

    def nan_covariance(*args, **kw):
        r = real(*args, **kw)
        r["cov"][:] = np.nan
        r["istat"] = fitting.LF.GLS_FAILED
        return r

    monkeypatch.setattr(fitting.LF, "fit", nan_covariance)
    x, y, ux, uy = _eiv_line()
    with pytest.raises(quorvex.FitError):
        quorvex.fit(x, y, u_y=uy, u_x=ux, degree=1, interval=(0.0, 10.0))


# ---------------------------------------------------------------------------
# Reading tables

def test_semicolon_file_of_integers_has_a_decimal_point(tmp_path):
    t = tabular.read_table(write(tmp_path / "a.csv", "x;y\n1;2\n3;4\n10;12\n"))
    assert t.decimal == "."
    t = tabular.read_table(write(tmp_path / "b.csv", "x;y\n1;2,5\n3;4,25\n"))
    assert t.decimal == ","


# ---------------------------------------------------------------------------
# The command line

STD = "x,y,u_y,u_x\n" + "".join(f"{a:g},{b:g},{c:g},0.02\n" for a, b, c in zip(X, Y, UY))


def test_degree_above_nine_is_a_usage_error(tmp_path, capsys):
    path = write(tmp_path / "s.csv", STD)
    with pytest.raises(SystemExit) as e:
        cli.main(["fit", str(path), "--degree", "10", "--out", str(tmp_path / "o")])
    assert e.value.code == 2
    capsys.readouterr()


def _fit_kind(tmp_path, capsys, *extra):
    path = write(tmp_path / "s.csv", STD)
    out = tmp_path / ("o" + "".join(extra))
    assert run(["fit", path, "--out", out, *extra], capsys) == 0
    cal = quorvex.Calibration.from_json((out / "calibration.json").read_text())
    return cal


def test_no_ux_is_honoured(tmp_path, capsys):
    assert _fit_kind(tmp_path, capsys).kind == "gls"
    assert _fit_kind(tmp_path, capsys, "--no-ux").kind == "ols"


def test_dof_in_the_results_is_the_fits():
    for u_x in (None, np.full(X.shape, 0.02)):
        for degree in (1, 2):
            cal = quorvex.fit(X, Y, u_y=UY, u_x=u_x, degree=degree)
            res = report.results(cal)
            assert res["fit"]["dof"] == cal.dof == X.size - degree - 1
            assert json.loads(report.to_json(cal, res))["results"]["fit"]["dof"] == cal.dof


def test_beyond_the_standards_is_flagged_below_the_lowest_as_above_the_highest():
    cal = quorvex.fit(X, Y, u_y=UY, degree=1, interval=(-2.0, 10.0))
    p = cal(np.array([-1.0, 4.0, 9.5]))  # responses below, within, above
    pred = cal.inverse(p, u_y=0.05)
    flags = report.sample_flags(cal, pred)
    assert flags[1] == []
    assert any("lowest" in f for f in flags[0])
    assert any("highest" in f for f in flags[2])
