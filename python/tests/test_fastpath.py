"""The one-pass checks of fit and inverse against the step-by-step ones, and the
independence of results that share one buffer inside a call."""
import pickle

import numpy as np
import pytest

import quorvex
from quorvex import fitting, inverse as inv

X = np.linspace(0.5, 10.0, 12)
Y = 1.0 + 2.0 * X + 0.05 * X**2
UY = np.linspace(0.01, 0.03, 12)

# (x, y, u_y, u_x, degree, interval): ordinary inputs the one pass takes.
GOOD = [
    (X, Y, None, None, 2, None),
    (X, Y, 0.02, None, 2, None),
    (X, Y, UY, None, 1, None),
    (X.tolist(), Y.tolist(), [0.02], None, 3, None),
    (X.astype(np.float32), Y, 1, None, 2, (0.0, 11.0)),
    (X, Y, 0.02, 0.01, 2, None),
    (X, Y, UY, UY / 2, 1, (-1.0, 12.0)),
]


@pytest.mark.parametrize("x, y, u_y, u_x, degree, interval", GOOD)
def test_one_pass_packs_what_the_step_by_step_checks_pack(x, y, u_y, u_x, degree, interval):
    routine = "OLSPFIT" if u_x is None else "GLSPFIT"
    fast = fitting._standards(x, y, u_y, u_x, degree, interval, None, routine)
    slow = fitting._standards_checked(x, y, u_y, u_x, degree, interval, None, None, routine)
    assert fast is not None
    assert fast[0].tobytes() == slow[0].tobytes() and fast[0].shape == slow[0].shape
    assert fast[1:] == slow[1:]


# Faults the one pass must leave to the step-by-step checks (which name them).
BAD = [
    dict(y=np.r_[Y[:11], np.nan]), dict(y=np.r_[Y[:11], np.inf]), dict(y=Y[:5]),
    dict(u_y=0.0), dict(u_y=-0.1), dict(u_y=np.r_[UY[:11], 0.0]), dict(u_y=np.r_[UY[:11], np.nan]),
    dict(u_y=np.ones(3)), dict(u_y=np.ones((1, 12))), dict(u_y=1e-320), dict(u_y=np.inf),
    dict(u_y=0.1, u_x=1e-320), dict(u_y=0.1, u_x=-1.0), dict(u_x=0.1), dict(degree=12),
    dict(degree=2.0), dict(interval=(1.0, 9.0)), dict(covariance="bogus"), dict(x=np.ones(12)),
    dict(x=X.reshape(3, 4)), dict(x="abc"),
]


@pytest.mark.filterwarnings("ignore:overflow encountered:RuntimeWarning")  # 1/u of 1e-320
@pytest.mark.parametrize("bad", BAD)
def test_one_pass_leaves_every_fault_to_the_named_checks(bad):
    kw = dict(x=X, y=Y, u_y=None, u_x=None, degree=2, interval=None, covariance=None)
    kw.update(bad)
    routine = "OLSPFIT" if kw["u_x"] is None else "GLSPFIT"
    assert fitting._standards(kw["x"], kw["y"], kw["u_y"], kw["u_x"], kw["degree"],
                              kw["interval"], kw["covariance"], routine) is None
    with pytest.raises(quorvex.InputError):
        quorvex.fit(**kw)


@pytest.mark.parametrize("u_x", [None, 0.01])
def test_results_of_two_calls_share_no_memory_and_are_read_only(u_x):
    a = quorvex.fit(X, Y, u_y=0.02, u_x=u_x, degree=2)
    b = quorvex.fit(X, Y, u_y=0.02, u_x=u_x, degree=2)
    names = [n for n in ("coef", "cov", "cov_scaled", "fitted", "residuals", "x", "y", "u_y",
                         "weights", "x_adjusted") if getattr(a, n) is not None]
    for n in names:
        assert not getattr(a, n).flags.writeable, n
        for m in names:
            assert not np.shares_memory(getattr(a, n), getattr(b, m)), (n, m)
    ys = a(np.linspace(1.0, 9.0, 7))
    p, q = a.inverse(ys, u_y=0.01), a.inverse(ys, u_y=0.01)
    for n in ("y", "u_y", "n_roots", "roots", "u_roots"):
        assert not getattr(p, n).flags.writeable, n
        assert not np.shares_memory(getattr(p, n), getattr(q, n)), n


def test_fields_computed_on_first_read_survive_pickle_and_json():
    cal = quorvex.fit(X, Y, u_y=UY, degree=2)
    assert "cov_scaled" not in vars(cal) and "chi2" not in vars(cal)
    other = pickle.loads(pickle.dumps(cal))
    assert other.cov_scaled.tobytes() == cal.cov_scaled.tobytes()
    assert other.chi2 == cal.chi2 == pytest.approx(float(np.sum(cal.weighted_residuals**2)),
                                                   rel=1e-12)
    assert quorvex.Calibration.from_json(cal.to_json()).to_json() == cal.to_json()
    with pytest.raises(AttributeError):
        cal.no_such_field
