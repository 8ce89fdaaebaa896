"""The diagnostics' binding to the laboratory library: each criterion reaches its own
slot (levels, warn-only bits, tolerances, Cook's limit, a given threshold), the results
come back to the right standards, and the library's statuses become InputError."""
import math

import numpy as np
import pytest

import quorvex
from quorvex import diagnostics as D
from quorvex.errors import InputError

X = np.array([1, 1, 2, 2, 3, 3, 4, 4, 5, 5], dtype=float)
Y = np.array([2.05, 1.95, 4.1, 3.9, 6.3, 6.1, 8.0, 7.9, 9.2, 9.0])


@pytest.fixture(scope="module")
def cal():
    return quorvex.fit(X, Y, degree=1)


@pytest.mark.parametrize("name", ["goodness", "lack_of_fit", "outliers"])
def test_own_level_reaches_its_test(name):
    cal = quorvex.fit(X, Y, degree=1, u_y=0.1)
    levels = D.AcceptanceCriteria(**{"alpha_" + name: 0.004}).levels(cal)
    assert levels[name] == 0.004
    others = [v for k, v in levels.items() if k != name]
    assert others and all(v == pytest.approx(0.05 / 3) for v in others)


@pytest.mark.parametrize("name", D.CRITERIA)
def test_warn_only_bit_of_each_criterion(name):
    # Tight criteria make every applicable criterion fail; warning only one of them
    # moves exactly that one from failed to warned.
    cal = quorvex.fit(X, Y, degree=1, u_y=0.01)
    strict = dict(alpha=0.5, tolerance=0.01, tolerance_lowest=0.01, back_fraction=1.0)
    base = D.diagnostics(cal, criteria=strict)
    assert name in base.failed
    d = D.diagnostics(cal, criteria=dict(strict, warn_only=(name,)))
    assert d.warned == [name]
    assert d.failed == [n for n in base.failed if n != name]


def test_tolerances_and_share_reach_the_back_calculation(cal):
    b = D.back_calculated(cal, 1.0, 30.0, 0.5)
    lowest = X == X.min()
    assert (b.limit[lowest] == 30.0).all() and (b.limit[~lowest] == 1.0).all()
    dev = np.abs(b.percent - 100.0)
    assert list(b.passed) == list(dev <= b.limit)
    assert b.overall == (b.n_passed >= 0.5 * b.n_tested)


def test_given_threshold_and_cook_limit(cal):
    z, _ = D.residual_statistic(cal)
    k = int(np.argmax(np.abs(z)))
    flagged = D.outliers(cal, threshold=float(abs(z[k])) * 0.999, cook=1e9)
    assert [o.index for o in flagged] == [k]
    cook = D.cooks_distance(cal)
    infl = D.outliers(cal, threshold=math.inf, cook=float(np.median(cook)))
    assert sorted(o.index for o in infl) == sorted(np.flatnonzero(cook > np.median(cook)))
    assert not any(o.outlier for o in infl)


def test_threshold_at_the_level_asked_for(cal):
    t05, _ = D.outlier_threshold(cal, 0.05)
    t01, how = D.outlier_threshold(cal, 0.01)
    assert t01 > t05 and how == f"t({cal.dof - 1})"


def test_statuses_become_input_errors(cal):
    with pytest.raises(InputError, match="criterion is out of range"):
        D.outlier_threshold(cal, 1.5)
    with pytest.raises(InputError):
        D.back_calculated(cal, 15.0, 20.0, 1.5)
