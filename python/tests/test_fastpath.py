"""The library's checks of fit (QVXL_FIT) against the step-by-step ones that name a
fault, and the independence of results that share one buffer inside a call."""
import pickle

import numpy as np
import pytest

import quorvex
from quorvex import _lab_fit as LF
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


def _library_status(x, y, u_y, u_x, degree, interval, covariance=None):
    """QVXL_FIT's status for the standards as ``fit`` hands them over (None where they
    cannot even be converted)."""
    std = fitting._arrays(x, y, u_y, u_x, degree, interval, covariance, None)
    if std is None:
        return None
    xv, yv, uy, ux, ncoef, iv, _, _ = std
    return LF.fit(xv, yv, uy, ux, 0, None, ncoef, iv)["istat"]


@pytest.mark.parametrize("x, y, u_y, u_x, degree, interval", GOOD)
def test_the_library_takes_what_the_step_by_step_checks_take(x, y, u_y, u_x, degree, interval):
    routine = "OLSPFIT" if u_x is None else "GLSPFIT"
    fitting._standards_checked(x, y, u_y, u_x, degree, interval, None, None, routine)
    assert _library_status(x, y, u_y, u_x, degree, interval) == 0
    cal = quorvex.fit(x, y, u_y, u_x, degree, interval)
    if interval is not None:
        assert cal.interval == interval
    elif u_x is None:
        assert cal.interval == (float(np.min(x)), float(np.max(x)))


# Faults the library refuses, which the step-by-step checks then name.
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
def test_the_library_refuses_every_fault_the_named_checks_name(bad):
    kw = dict(x=X, y=Y, u_y=None, u_x=None, degree=2, interval=None, covariance=None)
    kw.update(bad)
    st = _library_status(kw["x"], kw["y"], kw["u_y"], kw["u_x"], kw["degree"],
                         kw["interval"], kw["covariance"])
    assert st is None or st in fitting._INPUT_STATUSES
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


def test_fields_survive_pickle_and_json():
    cal = quorvex.fit(X, Y, u_y=UY, degree=2)
    other = pickle.loads(pickle.dumps(cal))
    assert other.cov_scaled.tobytes() == cal.cov_scaled.tobytes()
    assert other.chi2 == cal.chi2 == pytest.approx(float(np.sum(cal.weighted_residuals**2)),
                                                   rel=1e-12)
    assert quorvex.Calibration.from_json(cal.to_json()).to_json() == cal.to_json()
    with pytest.raises(AttributeError):
        cal.no_such_field
