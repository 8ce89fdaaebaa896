"""Every refusal and failing status becomes a QuorvexError whose message says what was wrong."""
import warnings

import numpy as np
import pytest

import quorvex
from quorvex import FitError, InputError, QuorvexError
from conftest import curve_data

X = np.arange(10.0)
Y = 1.0 + 2.0 * X
CAL = quorvex.fit(X, Y + 0.01 * np.sin(X), u_y=0.1)

BAD_INPUT = [  # call, routine, message fragment
    (lambda: quorvex.fit([0, 1, 2], [1, 2, 3], degree=3), "OLSPFIT",
     "3 standards cannot determine 4 coefficients"),
    (lambda: quorvex.fit(X, Y, u_y=np.r_[np.ones(7), 0.0, 1, 1]), "OLSPFIT",
     "u_y must be positive: element 7 is 0"),
    (lambda: quorvex.fit(X, Y, u_y=-1.0), "OLSPFIT", "u_y must be positive: element 0 is -1"),
    (lambda: quorvex.fit(X, Y[:9]), "OLSPFIT", "y has 9 elements where 10 are needed"),
    (lambda: quorvex.fit(np.r_[X[:3], np.nan, X[4:]], Y), "OLSPFIT",
     "x must be finite: element 3 is nan"),
    (lambda: quorvex.fit(X, np.r_[Y[:9], np.inf]), "OLSPFIT", "y must be finite: element 9 is inf"),
    (lambda: quorvex.fit(X, Y, degree=10), "OLSPFIT", "degree must lie in [0, 9], not 10"),
    (lambda: quorvex.fit(X, Y, degree=1.5), "OLSPFIT", "degree must be an integer"),
    (lambda: quorvex.fit(X, Y, interval=(0, 8)), "OLSPFIT",
     "x = 9 (element 9) lies above the interval [0, 8]"),
    (lambda: quorvex.fit(X, Y, interval=(5, 1)), "OLSPFIT",
     "the interval must have xmin < xmax, not [5, 1]"),
    (lambda: quorvex.fit(np.ones(5), np.arange(5.0)), "OLSPFIT", "a curve needs distinct x"),
    (lambda: quorvex.fit(X, Y, tol=1e-8), "OLSPFIT", "apply to the errors-in-variables fit"),
    (lambda: quorvex.fit(X, Y, u_x=0.1), "GLSPFIT", "u_x needs u_y too"),
    (lambda: quorvex.fit(X, Y, u_y=0.1, u_x=np.r_[0.1 * np.ones(9), 0.0]), "GLSPFIT",
     "u_x must be positive: element 9 is 0"),
    (lambda: quorvex.fit(X, Y, u_y=0.1, u_x=0.1, tol=(1e-8, 0.0)), "GLSPFIT",
     "tol must be one or two positive numbers"),
    (lambda: quorvex.fit(X, Y, u_y=0.1, u_x=0.1, maxit=0), "GLSPFIT",
     "maxit must lie in [1, "),
    (lambda: quorvex.fit(X, Y, covariance="both"), None, "covariance must be 'stated' or 'scaled'"),
    (lambda: CAL(12.5), "POLYEVAL", "x = 12.5 (element 0) lies above the curve's interval [0, 9]"),
    (lambda: CAL.evaluate([1.0, -0.5]), "POLYEVAL",
     "x = -0.5 (element 1) lies below the curve's interval [0, 9]"),
    (lambda: CAL(np.nan), "POLYEVAL", "x must be finite"),
    (lambda: CAL.inverse([1.0, 2.0], u_y=[0.1, -0.1]), "IPVAL",
     "u_y must not be negative: element 1 is -0.1"),
    (lambda: CAL.inverse([1.0], 0.1, ngrid=0), "IPVAL", "ngrid must lie in [1, "),
    (lambda: CAL.inverse([1.0], 0.1, tol=-1.0), "IPVAL", "tol must not be negative"),
    (lambda: quorvex.fit(X, Y, degree=0).inverse([1.0]), "IPVAL",
     "a constant curve (degree 0) has no inverse"),
    (lambda: quorvex.fit(X, Y, degree=2).inverse([1.0], extrapolate=True), "IPVAL_DEGREE1",
     "extrapolate needs a straight line"),
    (lambda: quorvex.fit(X, Y, degree=2).line(), "LINEAR_CONV", "line() needs a straight line"),
]


@pytest.mark.parametrize("call,routine,fragment", BAD_INPUT)
def test_bad_input_is_refused_with_a_message(call, routine, fragment):
    with pytest.raises(InputError) as info:
        call()
    assert fragment in str(info.value)
    assert info.value.routine == routine and info.value.code is None
    assert isinstance(info.value, QuorvexError) and isinstance(info.value, ValueError)


def test_ill_conditioned_design_is_a_fit_error_with_the_status():
    # Ten points crowded at one end of a huge interval: OLSPFIT refuses the design.
    x = 1e-9 * np.arange(10.0)
    with pytest.raises(FitError) as info:
        quorvex.fit(x, x, degree=9, interval=(0.0, 1e3))
    assert info.value.routine == "OLSPFIT" and info.value.code == 24
    assert "badly conditioned" in str(info.value) and "status 24" in str(info.value)


def test_gls_iteration_limit_raises_unless_accepted():
    x, y = curve_data(60, [4.0, 3.0, 0.5], 0.1, 3, u_x=0.1)
    with pytest.raises(FitError) as info:
        quorvex.fit(x, y, u_y=0.1, u_x=0.1, degree=2, maxit=1, tol=1e-300)
    assert info.value.routine == "GLSPFIT" and info.value.code == 4
    assert "iteration limit" in str(info.value)
    with pytest.warns(quorvex.ConvergenceWarning, match="iteration limit"):
        cal = quorvex.fit(x, y, u_y=0.1, u_x=0.1, degree=2, maxit=1, tol=1e-300,
                          accept_unconverged=True)
    assert cal.status == 4 and cal.iterations == 1 and cal.notes


def test_gls_adjusted_abscissa_leaving_the_interval():
    x, y = curve_data(30, [4.0, 3.0], 0.1, 5, u_x=0.3)
    with pytest.raises(FitError) as info:
        quorvex.fit(x, y, u_y=0.01, u_x=0.3, interval=(x.min(), x.max()))
    assert info.value.code == -101
    assert "left the interval" in str(info.value) and "wider interval" in str(info.value)


def test_usable_gls_fits_do_not_warn():
    x, y = curve_data(200, [4.0, 3.0, 0.2], 0.05, 9, u_x=0.02)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        cal = quorvex.fit(x, y, u_y=0.05, u_x=0.02, degree=2)
    assert cal.status in (0, 1, 3) and not cal.notes


def test_missing_library_is_reported(monkeypatch, tmp_path):
    from quorvex import _clib
    monkeypatch.setenv("QUORVEX_LIBRARY", str(tmp_path / "nothing.so"))
    with pytest.raises(QuorvexError, match="QUORVEX_LIBRARY names"):
        _clib._load()
