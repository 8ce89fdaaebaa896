"""select_degree: the table's tests recomputed independently, and the rule's choices."""
import math

import numpy as np
import pytest

import quorvex
from conftest import curve_data
from test_diagnostics import wls_ld


def test_stated_uncertainties_use_the_chi2_difference_test():
    x, y = curve_data(25, [2.0, 5.0, 0.4], 0.02, seed=41)
    sel = quorvex.select_degree(x, y, u_y=0.02, degrees=range(1, 5))
    assert sel.recommended == 2 and sel.calibration.degree == 2
    assert [r.degree for r in sel.rows] == [1, 2, 3, 4]
    for prev, row in zip(sel.rows, sel.rows[1:]):
        assert row.term_stat == pytest.approx(prev.chi2 - row.chi2, rel=1e-12)
        # chi2 with 1 degree of freedom: P(>= d) = erfc(sqrt(d/2)).
        assert row.term_p == pytest.approx(math.erfc(math.sqrt(row.term_stat / 2)), rel=1e-9)
    for row in sel.rows:
        cal = sel.calibrations[row.degree]
        # The rows come from the library's own fits and tail probabilities: the same
        # numbers as the calibration's to rounding.
        assert row.dof == cal.dof and row.chi2 == pytest.approx(cal.chi2, rel=1e-12)
        assert row.gof_test == "chi2" and row.gof_p == pytest.approx(cal.p_value, rel=1e-12)
        assert row.aic == pytest.approx(cal.chi2 + 2 * (row.degree + 1))
    assert sel.rows[1].gof_p >= 0.05 and sel.rows[2].term_p >= 0.05
    assert "recommended degree 2" in str(sel)


def test_unit_weights_use_the_f_test_and_lack_of_fit():
    x = np.repeat(np.linspace(0.0, 10.0, 8), 2)
    rng = np.random.default_rng(43)
    y = 1 + 0.5 * x - 0.04 * x ** 2 + 0.003 * x ** 3 + 0.01 * rng.standard_normal(x.size)
    sel = quorvex.select_degree(x, y, degrees=[1, 2, 3, 4])
    assert sel.recommended == 3
    n = x.size
    ssr = {}
    for d in (1, 2, 3, 4):
        r = wls_ld(x, y, np.ones(n), d + 1, 0.0, 10.0)[2]
        ssr[d] = float(r @ r)
    for row in sel.rows[1:]:
        d = row.degree
        f = (ssr[d - 1] - ssr[d]) / (ssr[d] / (n - d - 1))
        assert row.term_stat == pytest.approx(f, rel=1e-6)
    for row in sel.rows:
        assert row.gof_test == "lack of fit"
        assert row.gof_p == pytest.approx(sel.calibrations[row.degree].lack_of_fit().p_value,
                                          rel=1e-12)
        assert row.aic == pytest.approx(n * math.log(ssr[row.degree] / n) + 2 * (row.degree + 1),
                                        rel=1e-9)


def test_aic_differences_match_statsmodels():
    sm = pytest.importorskip("statsmodels.api")
    x, y = curve_data(20, [1.0, 2.0, 0.3], 0.05, seed=44)
    sel = quorvex.select_degree(x, y, degrees=[1, 2, 3])
    aic = [sm.OLS(y, np.vander(x, d + 1)).fit().aic for d in (1, 2, 3)]
    ours = [r.aic for r in sel.rows]
    np.testing.assert_allclose(np.diff(ours), np.diff(aic), rtol=1e-6, atol=1e-8)


def test_no_adequate_degree_falls_back_to_the_smallest_aic_and_skips_unfittable_degrees():
    x, y = curve_data(6, [2.0, 5.0, 0.4], 0.05, seed=45)
    sel = quorvex.select_degree(x, y, u_y=0.001, degrees=range(1, 8))
    assert set(sel.skipped) == {6, 7}
    assert "cannot determine" in sel.skipped[6]
    assert "smallest AIC" in sel.reason
    assert all(r.gof_p < 0.05 for r in sel.rows if r.dof > 0)
    assert sel.recommended == min((r for r in sel.rows if r.dof > 0), key=lambda r: r.aic).degree
    with pytest.raises(quorvex.InputError, match="at least one degree"):
        quorvex.select_degree(x, y, degrees=[])
