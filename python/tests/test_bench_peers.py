"""The matched-accuracy tuning of bench/peers.py, on a small problem: each side's
tolerance really brings its coefficients within 1e-6 u(c) of the converged
solution, a half decade looser does not, and the two fully converged solutions
are the same optimum."""
import importlib.util

import numpy as np
import pytest

from conftest import REPO

pytest.importorskip("scipy.odr")


@pytest.fixture(scope="module")
def peers():
    found = importlib.util.spec_from_file_location("peers", REPO / "bench" / "peers.py")
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return mod


@pytest.mark.parametrize("ncoef", [3, 6])
def test_matched_tolerances(peers, libpath, ncoef):
    lib = peers.Library(libpath)
    x, y, wx, wy = peers.gls_data(100, ncoef)
    g = peers.GlsCall(lib, x, y, wx, wy, ncoef, peers.XMIN, peers.XMAX)
    g.set(1e-300, 200)()
    ref, u = g.coef, np.sqrt(np.diag(g.cov))
    ols = peers.OlsCall(lib, x, y, wy, ncoef, peers.XMIN, peers.XMAX)
    assert ols() == 0
    start = ols.coef.copy()

    def ours(tol):
        g.set(tol, 200)()
        return g.coef

    def theirs(tol):
        return peers.odr_fit(x, y, wx, wy, start, peers.XMIN, peers.XMAX, maxit=200,
                             tol=tol).beta

    converged = theirs(1e-15)
    assert np.max(np.abs(converged - ref) / u) < peers.MATCH
    for fit in (ours, theirs):
        tol, dev, matched = peers.tune(fit, ref, u)
        assert matched
        assert np.max(np.abs(fit(tol) - ref) / u) == pytest.approx(dev) and dev <= peers.MATCH
        if tol < 0.1:
            assert np.max(np.abs(fit(tol * np.sqrt(10.0)) - ref) / u) > peers.MATCH


def test_timed_calls_match_the_test_host(peers, libpath, raw):
    """The benchmark's raw-address calls pass every argument where the library
    expects it: the results equal those of the test suite's own host."""
    lib = peers.Library(libpath)
    x, y, w = peers.ols_data(500)
    o = peers.OlsCall(lib, x, y, w, 4, peers.OXMIN, peers.OXMAX)
    assert o() == 0
    ref = raw.olspfit(x, y, w, 4, peers.OXMIN, peers.OXMAX)
    np.testing.assert_array_equal(o.coef, ref["coef"])
    np.testing.assert_array_equal(o.cov, ref["cov"])

    x, y, wx, wy = peers.gls_data(500, 3)
    g = peers.GlsCall(lib, x, y, wx, wy, 3, peers.XMIN, peers.XMAX).set(1e-9, 50)
    status = g()
    ref = raw.glspfit(x, y, wx, wy, 3, peers.XMIN, peers.XMAX, tol=(1e-9, 1e-9), maxit=50)
    assert status == (ref["olstat"], *ref["istat"])
    np.testing.assert_array_equal(g.coef, ref["coef"])
    np.testing.assert_array_equal(g.cov, ref["cov"])
    # A second call on the same buffers gives the same fit.
    assert g() == status
    np.testing.assert_array_equal(g.coef, ref["coef"])
