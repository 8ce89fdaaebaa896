"""A response with no root in the curve's interval has no x, so no coverage factor,
degrees of freedom or expanded uncertainty either: k, dof and U are NaN for it (not the
normal factor 1.96 that an infinite Welch-Satterthwaite dof would give), in every way its
u(y) can be set, while the other responses of the same call keep theirs."""
import math

import numpy as np
import pytest

import quorvex

X = np.arange(1.0, 11.0)
Y = 2.0 * X + 1.0 + np.random.default_rng(1).normal(0.0, 0.1, X.size)


def cases():
    plain = quorvex.fit(X, Y)
    stated = quorvex.fit(X, Y, u_y=0.1)
    weighted = quorvex.fit(X, Y, weighting="1/x")
    quad = quorvex.fit(X, Y, degree=2)
    return [
        ("scaled, u(y) from the scatter", plain, {}),
        ("scaled, stated u(y) (Welch-Satterthwaite)", plain, {"u_y": 0.05}),
        ("scaled, curve only", plain, {"u_y": "curve-only"}),
        ("stated curve, stated u(y) (normal)", stated, {"u_y": 0.05}),
        ("stated curve, curve only (normal)", stated, {"u_y": "curve-only"}),
        ("1/x, stated u(y)", weighted, {"u_y": 0.05}),
        ("1/x, u(y) from the scatter, 3 readings", weighted, {"replicates": 3}),
        ("quadratic, stated u(y)", quad, {"u_y": 0.05}),
    ]


@pytest.mark.parametrize("name,cal,kw", cases(), ids=[c[0] for c in cases()])
def test_no_root_has_no_k_dof_or_U(name, cal, kw):
    ys = np.array([100.0, 10.0, -50.0])  # above the curve, inside, below
    p = cal.inverse(ys, **kw)
    assert p.no_root.tolist() == [True, False, True]
    for field in ("x", "u_x", "k", "dof", "U"):
        v = np.asarray(getattr(p, field), dtype=float)
        assert np.isnan(v[[0, 2]]).all(), f"{field} given for a response with no root: {v}"
        assert np.isfinite(v[1]) or (field == "dof" and v[1] == math.inf), (field, v)
    # The response with a root keeps its own: k from t(dof), or normal where dof is inf.
    from scipy import stats
    want = stats.norm.ppf(0.975) if p.dof[1] == math.inf else stats.t.ppf(0.975, p.dof[1])
    # scipy's t quantile is good to about 1e-10; the library's matches 40-digit values
    assert p.k[1] == pytest.approx(want, rel=1e-9)
    assert p.U[1] == pytest.approx(p.k[1] * p.u_x[1], rel=1e-15)


def test_large_batch_too():
    # Many responses take the packed path: the same rule.
    cal = quorvex.fit(X, Y)
    ys = np.full(3000, 10.0)
    ys[::7] = 100.0
    p = cal.inverse(ys, u_y=0.05)
    assert np.isnan(p.k[::7]).all() and np.isnan(p.dof[::7]).all() and np.isnan(p.U[::7]).all()
    rest = np.ones(ys.size, bool)
    rest[::7] = False
    assert np.isfinite(p.k[rest]).all()
