"""Variance models, blank readings and the limits that need data about the blank: the
fits against independent maximizations (scipy.optimize), readings back against the
stated reading with the model's u(y), records and the command line."""
import json
import math

import numpy as np
import pytest
from scipy import optimize, stats

import quorvex
from quorvex import InputError
from quorvex import cli

LEVELS = np.repeat([1.0, 6.0, 36.0, 216.0, 1296.0, 7776.0], 3)


def data(seed, sig=lambda x: np.sqrt(1.0 + (0.01 * x) ** 2), levels=LEVELS):
    rng = np.random.default_rng(seed)
    return levels, 2.0 + 1.5 * levels + sig(levels) * rng.standard_normal(levels.size)


def groups(x, y):
    xs = np.unique(x)
    s2 = np.array([np.var(y[x == v], ddof=1) for v in xs])
    nu = np.array([np.sum(x == v) - 1 for v in xs], dtype=float)
    mu = np.array([np.mean(y[x == v]) for v in xs])
    return xs, s2, nu, mu


def loglik(v, s2, nu):
    return float(-0.5 * np.sum(nu * (np.log(v) + s2 / v)))


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_each_model_maximizes_the_likelihood_found_independently(seed):
    x, y = data(seed)
    xs, s2, nu, mu = groups(x, y)
    shapes = {"constant": lambda p: np.full_like(xs, p[0] ** 2),
              "proportional": lambda p: (p[1] * xs) ** 2,
              "floor": lambda p: p[0] ** 2 + (p[1] * xs) ** 2,
              "power": lambda p: p[0] ** 2 * np.abs(mu) ** (2 * p[1])}
    for name, var in shapes.items():
        vm = quorvex.fit_variance(x, y, name)
        assert vm.model == name and vm.dof == 12 and vm.groups == 6
        mine = loglik(var((vm.a, vm.b)), s2, nu)
        assert vm.loglik[name] == pytest.approx(mine, rel=1e-10, abs=1e-9)
        # Nelder-Mead from the library's estimate and from a start far from it finds
        # nothing higher.
        for start in ((vm.a, vm.b), (3 * vm.a + 0.5, 0.7 * vm.b + 0.01)):
            r = optimize.minimize(lambda p: -loglik(var(p), s2, nu), start,
                                  method="Nelder-Mead",
                                  options=dict(xatol=1e-12, fatol=1e-12, maxiter=20000))
            assert -r.fun <= mine + 1e-7
        want = var((vm.a, vm.b))
        if name == "power":
            # The log-variance correction exp(2/N - Var d / 2), Var d = 4 g' Cov g,
            # g = (1, ln|mu|), N the replicate degrees of freedom.
            c = np.reshape(vm.cov, (2, 2), order="F")
            lm = np.log(np.abs(mu))
            vd = 4 * (c[0, 0] + 2 * c[0, 1] * lm + c[1, 1] * lm ** 2)
            want = want * np.exp(2 / vm.dof - vd / 2)
        np.testing.assert_allclose(vm.sd, np.sqrt(want)[np.searchsorted(xs, x)], rtol=1e-10)


def test_constant_model_is_the_pooled_variance_with_its_dof():
    x, y = data(4, sig=lambda x: np.full_like(x, 0.3))
    xs, s2, nu, _ = groups(x, y)
    vm = quorvex.fit_variance(x, y, "constant")
    assert vm.a ** 2 == pytest.approx(np.sum(nu * s2) / np.sum(nu), rel=1e-12)
    sd, dof = vm.at([0.0, 50.0, 1e4])
    np.testing.assert_allclose(dof, 12.0, rtol=1e-12)
    assert vm.has_floor
    # Chosen automatically, with the likelihood ratio of the returned likelihoods.
    auto = quorvex.fit_variance(x, y)
    alt = max(auto.loglik["floor"], auto.loglik["power"])
    base = max(auto.loglik["constant"], auto.loglik["proportional"])
    assert auto.lr == pytest.approx(max(0.0, 2 * (alt - base)), abs=1e-9)
    assert auto.p == pytest.approx(stats.chi2.sf(auto.lr, 1), rel=1e-9, abs=1e-15)
    assert auto.model == ("constant" if auto.p >= 0.05 else auto.model)


def test_readback_with_the_model_against_stated_readback():
    x, y = data(5)
    cal = quorvex.fit(x, y, variance="floor")
    vm = cal.variance_model
    assert cal.covariance == "stated" and cal.options["variance"]["model"] == "floor"
    np.testing.assert_array_equal(cal.u_y, np.array(vm.sd))
    ys = np.array([20.0, 300.0, 9000.0])
    m = np.array([1, 2, 4])
    p = cal.inverse(ys, replicates=m)
    sd, _ = vm.at(p.x)
    np.testing.assert_allclose(p.u_y, sd / np.sqrt(m), rtol=1e-13)
    q = cal.inverse(ys, u_y=p.u_y)  # the same u(y) stated: the same roots and u(x)
    np.testing.assert_array_equal(p.x, q.x)
    np.testing.assert_allclose(p.u_x, q.u_x, rtol=1e-13)
    # k is Student's t with the model's dof, which is finite and beyond the normal's.
    np.testing.assert_allclose(p.k, stats.t.ppf(0.975, p.dof), rtol=1e-8)
    assert np.all(np.isfinite(p.dof)) and np.all(p.k > q.k)
    np.testing.assert_allclose(p.U, p.k * p.u_x, rtol=1e-15)
    assert p.u_y_source[1] == "from the variance model, 2 readings"
    assert np.all((p.low < p.x) & (p.x < p.high)) and np.all(p.low < q.low)


def test_record_round_trip_keeps_the_model():
    x, y = data(6)
    cal = quorvex.fit(x, y, variance="auto")
    back = quorvex.Calibration.from_json(cal.to_json())
    assert back.variance_model == cal.variance_model
    np.testing.assert_array_equal(back.inverse([500.0]).U, cal.inverse([500.0]).U)
    d = json.loads(cal.to_json())
    d["options"]["variance"]["model"] = "cubic"
    with pytest.raises(InputError):
        quorvex.Calibration.from_json(json.dumps(d))


def test_limits_take_the_blank_from_readings_or_the_floor():
    x, y = data(7)
    cal = quorvex.fit(x, y, variance="floor")
    blanks = [2.3, 1.1, 2.8, 1.9, 2.4]
    lr = cal.detection_limits(blank_readings=blanks)
    assert lr.sigma_blank == pytest.approx(np.std(blanks, ddof=1), rel=1e-14)
    assert lr.blank_source == "5 readings of blanks (4 degrees of freedom)"
    # k: Student's t with the Welch-Satterthwaite dof of s0 (stated curve: only the
    # blank's part has finite dof).
    v0 = lr.sigma_blank ** 2
    nu = 4.0 * (lr.s_blank ** 2 / v0) ** 2
    assert lr.k_alpha == pytest.approx(stats.t.ppf(0.95, nu), rel=1e-8)
    lf = cal.detection_limits()
    sd, dof = cal.variance_model.at([0.0])
    assert lf.sigma_blank == sd[0] and "floor variance model's floor" in lf.blank_source
    assert lf.k_alpha > stats.norm.ppf(0.95)
    with pytest.raises(InputError, match="not both"):
        cal.detection_limits(blank_readings=blanks, u_blank=0.1)
    with pytest.raises(InputError, match="at least 2"):
        cal.detection_limits(blank_readings=[1.0])


def test_limits_are_not_computed_without_data_about_the_blank():
    rng = np.random.default_rng(8)
    xw = np.repeat([1.0, 2, 5, 10, 20, 50, 100], 2)
    yw = xw + np.sqrt(0.05 ** 2 + (0.02 * xw) ** 2) * rng.standard_normal(xw.size)
    cal = quorvex.fit(xw, yw, weighting="1/x2")
    lim = cal.detection_limits()
    assert all(math.isnan(getattr(lim, k)) for k in
               ("sigma_blank", "s_blank", "y_critical", "x_critical", "x_detection"))
    assert math.isfinite(lim.lod) and lim.blank_source.startswith("not computed")
    assert "not computed" in lim.text() and "nan" not in lim.text()
    given = cal.detection_limits(blank_readings=[0.01, -0.04, 0.05])
    assert math.isfinite(given.y_critical)
    # A model without a floor says why too.
    x, y = data(9, sig=lambda x: 0.02 * x)
    prop = quorvex.fit(x, y, variance="proportional")
    lp = prop.detection_limits()
    assert math.isnan(lp.x_detection) and "gives no scatter at the blank" in lp.blank_source
    assert "not computed" in prop.summary(limits=True)


def test_refusals():
    x, y = data(10)
    with pytest.raises(InputError, match="variance gives the weights"):
        quorvex.fit(x, y, u_y=0.1, variance="auto")
    with pytest.raises(InputError, match="variance gives the weights"):
        quorvex.fit(x, y, weighting="1/x", variance="auto")
    with pytest.raises(InputError, match="too few"):
        quorvex.fit_variance(np.unique(x), np.unique(y)[:6], "constant")
    with pytest.raises(InputError, match="variance model must be"):
        quorvex.fit_variance(x, y, "quadratic")
    vm = quorvex.fit_variance(x, y)
    with pytest.raises(InputError, match="other standards"):
        quorvex.fit(x[:-1], y[:-1], variance=vm)
    # A single blank standard: infinite weight without a floor, finite with one.
    xb, yb = np.append(x, 0.0), np.append(y, 2.0)
    with pytest.raises(InputError, match="no scatter at the standard x = 0"):
        quorvex.fit(xb, yb, variance="proportional")
    cal = quorvex.fit(xb, yb, variance="floor")
    assert cal.u_y[-1] == pytest.approx(cal.variance_model.a)


def test_command_line_variance_model_and_blank_readings(tmp_path, capsys):
    x, y = data(11)
    (tmp_path / "std.csv").write_text("x,y\n" + "".join(f"{a},{b!r}\n" for a, b in zip(x, y)))
    (tmp_path / "blanks.csv").write_text("y\n2.1\n1.3\n2.9\n1.8\n")
    (tmp_path / "s.csv").write_text("name,y\na,80\n")
    out = tmp_path / "out"
    code = cli.main(["fit", str(tmp_path / "std.csv"), "--variance-model", "floor", "--limits",
                     "--blank-readings", str(tmp_path / "blanks.csv"), "--samples",
                     str(tmp_path / "s.csv"), "--out", str(out), "-q"])
    assert code == 0
    res = json.loads((out / "calibration.json").read_text())
    cal = quorvex.Calibration.from_dict(res["calibration"] if "calibration" in res else res)
    assert cal.variance_model.model == "floor"
    ref = quorvex.fit(x, y, variance="floor")
    np.testing.assert_array_equal(cal.coef, ref.coef)
    html = (out / "report.html").read_text()
    assert "4 readings of blanks (3 degrees of freedom)" in html
    assert '"sample_u_y": "from the variance model"' in (out / "calibration.json").read_text()
    assert "from the variance model, 1 reading" in (out / "samples.csv").read_text()
    assert cli.main(["fit", str(tmp_path / "std.csv"), "--variance-model", "floor",
                     "--weighting", "1/x", "--out", str(tmp_path / "o2"), "-q"]) != 0
    assert "--weighting" in capsys.readouterr().err


def test_response_presets_and_weight_column_against_numpy_wls():
    x = np.array([1.0, 2, 5, 10, 20, 50, 100])
    y = np.array([0.11, 0.19, 0.52, 0.98, 2.05, 4.9, 10.3])
    # Weighted least squares by numpy: the line minimizing sum w r^2.
    for kind, w in (("1/y", 1 / np.abs(y)), ("1/y2", 1 / y ** 2), ("weights", 1 / x)):
        cal = (quorvex.fit(x, y, weights=w) if kind == "weights"
               else quorvex.fit(x, y, weighting=kind))
        a = np.column_stack([np.ones_like(x), x]) * np.sqrt(w)[:, None]
        beta = np.linalg.lstsq(a, y * np.sqrt(w), rcond=None)[0]
        line = cal.line()
        assert (line.intercept, line.slope) == pytest.approx(tuple(beta), rel=1e-10, abs=1e-12)
        assert cal.covariance == "scaled" and cal.options["response_weighting"] == kind
        np.testing.assert_allclose(1 / cal.u_y ** 2, w, rtol=1e-14)
        back = quorvex.Calibration.from_json(cal.to_json())
        np.testing.assert_array_equal(back.coef, cal.coef)
    # A weight column 1/x^2 is the 1/x2 preset, to the bit.
    np.testing.assert_array_equal(quorvex.fit(x, y, weights=1 / x ** 2).coef,
                                  quorvex.fit(x, y, weighting="1/x2").coef)
    # Left-out standards take their weights with them.
    c = quorvex.fit(x, y, weights=1 / x, exclude={"3": "broken vial"})
    np.testing.assert_array_equal(c.coef, quorvex.fit(np.delete(x, 2), np.delete(y, 2),
                                                      weights=1 / np.delete(x, 2)).coef)
    with pytest.raises(InputError, match=r"y\[6\] = 0 gives an infinite"):
        quorvex.fit(x, np.r_[y[:-1], 0.0], weighting="1/y")
    with pytest.raises(InputError, match="weights"):
        quorvex.fit(x, y, weights=np.r_[1.0, -x[1:]])
    with pytest.raises(InputError, match="one source of weights"):
        quorvex.fit(x, y, u_y=0.1, weighting="1/y2")
    with pytest.raises(InputError, match="scaled"):
        quorvex.fit(x, y, weighting="1/y", covariance="stated")


def test_command_line_weight_column(tmp_path):
    x = np.array([1.0, 2, 5, 10, 20, 50, 100])
    y = np.array([0.11, 0.19, 0.52, 0.98, 2.05, 4.9, 10.3])
    (tmp_path / "std.csv").write_text(
        "x,y,w\n" + "".join(f"{a!r},{b!r},{1 / a ** 2!r}\n" for a, b in zip(x, y)))
    assert cli.main(["fit", str(tmp_path / "std.csv"), "--weights", "w", "--out",
                     str(tmp_path / "o"), "-q"]) == 0
    cal = quorvex.Calibration.from_json((tmp_path / "o" / "calibration.json").read_text())
    np.testing.assert_array_equal(cal.coef, quorvex.fit(x, y, weighting="1/x2").coef)
    assert cli.main(["fit", str(tmp_path / "std.csv"), "--weighting", "1/y2", "--out",
                     str(tmp_path / "o2"), "-q"]) == 0


@pytest.mark.parametrize("model", ["floor", "power"])
def test_dof_of_u_x_is_satterthwaite_over_the_models_parameters(model):
    """nu = 2 V^2 / (dV' Cov(theta) dV), V = sum_j (g'CG_j)^2/sigma_j^2 + sigma^2(x)/m,
    formed here with numpy from the model's parameters and covariance."""
    from refbasis import basis
    x, y = data(13)
    cal = quorvex.fit(x, y, variance=model, degree=2)
    vm = cal.variance_model
    cov = np.array(vm.cov).reshape(2, 2, order="F")
    lo, hi = cal.interval
    mu_std = np.array(vm.mu)

    def var_and_grad(xv, mu):
        if model == "floor":
            v = vm.a ** 2 + (vm.b * xv) ** 2
            return v, np.stack([np.ones_like(xv), xv ** 2])
        lm = np.log(np.abs(mu))
        vd = 4 * (cov[0, 0] + 2 * cov[0, 1] * lm + cov[1, 1] * lm ** 2)
        # the log-variance correction, held fixed in the gradient
        v = vm.a ** 2 * np.abs(mu) ** (2 * vm.b) * np.exp(2 / vm.dof - vd / 2)
        return v, np.stack([2 * v, 2 * v * lm])

    ys, m = np.array([40.0, 900.0, 10000.0]), np.array([1, 3, 2])
    p = cal.inverse(ys, replicates=m)
    g = basis(p.x, cal.ncoef, lo, hi)
    gs = basis(x, cal.ncoef, lo, hi)
    s2, z = var_and_grad(x, mu_std)
    l2 = (g @ cal.cov @ gs.T) ** 2  # (g'CG_j)^2, one row per sample
    sv, sz = var_and_grad(p.x, ys)
    v = l2 @ (1 / s2) + sv / m
    dv = (l2 / s2 ** 2) @ z.T + (sz / m).T
    nu = 2 * v ** 2 / np.einsum("ij,jk,ik->i", dv, cov, dv)
    np.testing.assert_allclose(p.dof, nu, rtol=1e-9)
    # V is u(x)^2 p'(x)^2: the same variance the reading's u(x) holds.
    assert np.all(np.isfinite(p.dof)) and np.all(p.dof > 1)


def test_without_replicates_the_model_comes_from_the_residuals():
    x = np.array([0.0, 1, 2, 5, 10, 20, 50, 100, 200])
    rng = np.random.default_rng(3)
    y = 0.1 + x + np.sqrt(0.05 ** 2 + (0.02 * x) ** 2) * rng.standard_normal(x.size)
    # The constant model: the unweighted line, a^2 the mean leverage-corrected
    # squared residual (numpy), with the line's n - 2 degrees of freedom.
    cal = quorvex.fit(x, y, variance="constant")
    vm = cal.variance_model
    assert vm.source == "residuals" and vm.dof == 7 and vm.groups == 9
    a = np.column_stack([np.ones_like(x), x])
    beta, *_ = np.linalg.lstsq(a, y, rcond=None)
    r = y - a @ beta
    h = np.einsum("ij,jk,ik->i", a, np.linalg.inv(a.T @ a), a)
    assert vm.a ** 2 == pytest.approx(np.mean(r ** 2 / (1 - h)), rel=1e-12)
    np.testing.assert_allclose(vm.at([0.0, 50.0])[1], 7.0, rtol=1e-12)
    line = cal.line()
    assert (line.intercept, line.slope) == pytest.approx(tuple(beta), rel=1e-12, abs=1e-14)
    # The floor model keeps the blank standard, its weight finite; the record
    # keeps where the model came from.
    fl = quorvex.fit(x, y, variance="floor")
    assert fl.variance_model.source == "residuals" and fl.u_y[0] > 0
    assert "from the residuals of 9 standards" in fl.summary()
    back = quorvex.Calibration.from_json(fl.to_json())
    assert back.variance_model == fl.variance_model
    with pytest.raises(InputError, match="too few"):
        quorvex.fit_variance(x[:3], y[:3], "constant", degree=1)
