"""Correlated standards from Python: the standards' covariance built from each way
of stating it (against numpy's own assembly), the fit against an independent
Gauss-Newton solution in numpy and against ISO/TS 28037's table 25, the inverse
prediction's round trip and its comparison without correlations, the description
file, errors naming the standard, and the command line's --correlations."""
import csv

import numpy as np
import pytest

import quorvex
from quorvex import cli
from quorvex.errors import FitError, InputError

X = np.array([100.0, 50.0, 25.0, 12.5, 6.25, 40.0])
PARENT = [0, 1, 2, 3, 4, 0]
REL = np.array([0.002, 0.003, 0.003, 0.004, 0.004, 0.0025])
Y = np.array([80.93, 40.71, 20.82, 10.41, 5.59, 32.55])


def numpy_v(x, ux, uy, sources, parent=None, rel=None, stock=0.0):
    """V assembled here on its own: diagonal, outer products, the chain's paths."""
    n = x.size
    v = np.diag(np.concatenate([np.broadcast_to(ux, n) ** 2, np.broadcast_to(uy, n) ** 2]))
    for sx, sy in sources:
        u = np.concatenate([np.broadcast_to(sx, n), np.broadcast_to(sy, n)])
        v = v + np.outer(u, u)
    if parent is not None:
        paths = []
        for i in range(n):
            p, k = set(), i + 1
            while k:
                p.add(k)
                k = parent[k - 1]
            paths.append(p)
        for i in range(n):
            for j in range(n):
                v[i, j] += x[i] * x[j] * (stock ** 2 + sum(rel[k - 1] ** 2
                                                           for k in paths[i] & paths[j]))
    return v


def numpy_ggm(x, y, v, ncoef, lo, hi):
    """The same objective minimised by Gauss-Newton on the normal equations."""
    n = x.size
    w = np.linalg.inv(v)

    def basis(t):
        s = (2 * t - lo - hi) / (hi - lo)
        g = np.polynomial.chebyshev.chebvander(s, ncoef - 1)
        g[:, 0] = 0.5
        d = np.zeros_like(g)
        for k in range(1, ncoef):
            c = np.zeros(ncoef)
            c[k] = 1
            d[:, k] = np.polynomial.chebyshev.chebval(s, np.polynomial.chebyshev.chebder(c)) \
                * 2 / (hi - lo)
        return g, d

    th = np.concatenate([x, np.zeros(ncoef)])
    for _ in range(2000):
        g, d = basis(th[:n])
        c = th[n:]
        e = np.concatenate([x - th[:n], y - g @ c])
        a = np.zeros((2 * n, n + ncoef))
        a[:n, :n] = np.eye(n)
        a[n:, :n] = np.diag(d @ c)
        a[n:, n:] = g
        step = np.linalg.solve(a.T @ w @ a, a.T @ w @ e)
        th = th + step
        if np.abs(step).max() < 1e-14 * np.abs(th).max():
            break
    g, d = basis(th[:n])
    a = np.zeros((2 * n, n + ncoef))
    a[:n, :n] = np.eye(n)
    a[n:, :n] = np.diag(d @ th[n:])
    a[n:, n:] = g
    cov = np.linalg.inv(a.T @ w @ a)[n:, n:]
    e = np.concatenate([x - th[:n], y - g @ th[n:]])
    return th[n:], cov, e @ w @ e


def correlations():
    return (quorvex.Correlations(u_x=0.0, u_y=0.02 + 0.001 * np.arange(6))
            .source("drift", y=0.03, samples=0.03)
            .source("balance", x=0.01, y=-0.005)
            .diluted(PARENT, REL, stock=0.001))


def test_covariance_from_each_way_matches_an_independent_assembly():
    v = correlations().covariance(X)
    ref = numpy_v(X, 0.0, 0.02 + 0.001 * np.arange(6), [(0.0, 0.03), (0.01, -0.005)],
                  PARENT, REL, 0.001)
    np.testing.assert_allclose(v, ref, rtol=1e-14, atol=1e-18)
    ux = np.arange(1, 37.0).reshape(6, 6) * 1e-4
    ux = ux @ ux.T
    m = quorvex.Correlations().matrix(u_x=ux, u_y=np.eye(6) * 0.01, u_xy=np.eye(6) * 1e-4)
    vm = m.covariance(X)
    np.testing.assert_array_equal(vm[:6, :6], ux)
    np.testing.assert_array_equal(vm[6:, :6], np.eye(6) * 1e-4)
    np.testing.assert_array_equal(vm[:6, 6:], np.eye(6) * 1e-4)


@pytest.mark.parametrize("degree, scatter", [(1, 1.0), (2, 1.0), (3, 1.0), (2, 40.0),
                                             (3, 40.0)])
def test_fit_against_independent_gauss_newton(degree, scatter):
    # scatter 40: residuals far beyond the stated uncertainties, where the
    # second-order part of the Hessian matters
    c = correlations()
    y = Y + (scatter - 1.0) * np.array([0.02, -0.03, 0.01, 0.02, -0.01, 0.015])
    cal = quorvex.fit_correlated(X, y, c, degree=degree, interval=(0.0, 110.0))
    coef, cov, chi2 = numpy_ggm(X, y, c.covariance(X), degree + 1, 0.0, 110.0)
    np.testing.assert_allclose(cal.coef, coef, rtol=1e-9, atol=1e-12 * np.abs(coef).max())
    np.testing.assert_allclose(cal.cov, cov, rtol=1e-8, atol=1e-12 * np.abs(cov).max())
    assert cal.chi2 == pytest.approx(chi2, rel=1e-8)
    assert cal.dof == X.size - degree - 1
    # the fitted values are the curve at the adjusted x
    np.testing.assert_allclose(cal(cal.x_adjusted), cal.fitted, rtol=1e-13)


def test_exact_x_is_generalized_least_squares():
    uy = 0.02 + 0.001 * np.arange(6)
    c = quorvex.Correlations(u_y=uy).source("drift", y=0.03)
    cal = quorvex.fit_correlated(X, Y, c, degree=2, interval=(0.0, 110.0))
    v = numpy_v(X, 0.0, uy, [(0.0, 0.03)])[6:, 6:]
    s = (2 * X - 110.0) / 110.0
    b = np.polynomial.chebyshev.chebvander(s, 2)
    b[:, 0] = 0.5
    w = np.linalg.inv(v)
    cov = np.linalg.inv(b.T @ w @ b)
    coef = cov @ b.T @ w @ Y
    np.testing.assert_allclose(cal.coef, coef, rtol=1e-11)
    np.testing.assert_allclose(cal.cov, cov, rtol=1e-10)
    np.testing.assert_array_equal(cal.x_adjusted, X)
    e = Y - b @ coef
    assert cal.chi2 == pytest.approx(e @ w @ e, rel=1e-10)


def test_iso28037_table25():
    x = np.array([50.4, 99.0, 149.9, 200.4, 248.5, 299.7, 349.1])
    y = np.array([52.3, 97.8, 149.7, 200.1, 250.4, 300.9, 349.2])
    ux = np.array([[0.50, 0.00, 0.25, 0.00, 0.25, 0.00, 0.25],
                   [0.00, 1.25, 1.00, 0.00, 0.00, 1.00, 1.00],
                   [0.25, 1.00, 1.50, 0.00, 0.25, 1.00, 1.25],
                   [0.00, 0.00, 0.00, 1.25, 1.00, 1.00, 1.00],
                   [0.25, 0.00, 0.25, 1.00, 1.50, 1.00, 1.25],
                   [0.00, 1.00, 1.00, 1.00, 1.00, 2.25, 2.00],
                   [0.25, 1.00, 1.25, 1.00, 1.25, 2.00, 2.50]])
    uy = np.ones((7, 7)) + 4 * np.eye(7)
    cal = quorvex.fit_correlated(x, y, quorvex.Correlations().matrix(ux, uy), degree=1)
    a, ca = cal.power_coefficients()
    assert [round(a[0], 4), round(a[1], 4)] == [0.3424, 1.0012]
    assert [round(np.sqrt(ca[0, 0]), 4), round(np.sqrt(ca[1, 1]), 4)] == [2.0569, 0.0090]
    assert round(ca[0, 1], 4) == -0.0129
    assert round(cal.chi2, 3) == 1.772
    assert "a1" in cal.summary() and "ignoring" in cal.summary()


def test_inverse_round_trip_and_without_correlations():
    c = correlations()
    cal = quorvex.fit_correlated(X, Y, c, degree=2)
    ys = np.array([10.0, 30.0, 70.0])
    p = cal.inverse(ys, u_y=0.02, names=["a", "b", "c"])
    np.testing.assert_allclose(cal(p.x), ys, rtol=1e-12)
    np.testing.assert_allclose(p.u_x, np.sqrt(np.diag(p.cov)), rtol=1e-15)
    np.testing.assert_allclose(p.U, 1.959963984540054 * p.u_x, rtol=1e-12)
    # ignoring: the fit of V's diagonal with the samples' own u(y) only
    d = np.sqrt(np.diag(c.covariance(X)))
    plain = quorvex.fit_correlated(X, Y, np.diag(d ** 2), degree=2, interval=(cal.xmin, cal.xmax))
    q = plain.inverse(ys, u_y=np.sqrt(0.02 ** 2 + 0.03 ** 2))
    np.testing.assert_allclose(p.u_x_ignoring, q.u_x, rtol=1e-12)
    np.testing.assert_allclose(p.x_ignoring, q.x, rtol=1e-12)
    assert not np.allclose(p.u_x, p.u_x_ignoring, rtol=1e-3)
    text = str(p)
    assert "u(x) ignoring" in text and text.count("\n") == 5


def test_description_file(tmp_path):
    (tmp_path / "ux.csv").write_text("0.01,0.002\n0.002,0.01\n")
    (tmp_path / "c.ini").write_text(
        "# the standards' shared errors\n[independent]\nx = 0\ny = u_y ; a column\n"
        "[source stock A]\nx = u_stock\n[source drift]\ny = 0.02\nsamples = 0.02\n"
        "[matrix]\nUx = ux.csv\n")
    cols = {"u_y": np.array([0.03, 0.04]), "u_stock": np.array([0.5, 0.25])}
    c = quorvex.Correlations.from_file(tmp_path / "c.ini", standards=cols)
    x = np.array([100.0, 50.0])
    ref = numpy_v(x, 0.0, cols["u_y"], [(cols["u_stock"], 0.0), (0.0, 0.02)])
    ref[:2, :2] += [[0.01, 0.002], [0.002, 0.01]]
    np.testing.assert_allclose(c.covariance(x), ref, rtol=1e-15)
    (tmp_path / "bad.ini").write_text("[sauce]\nx = 1\n")
    with pytest.raises(InputError, match="unknown section"):
        quorvex.Correlations.from_file(tmp_path / "bad.ini")
    (tmp_path / "bad2.ini").write_text("[independent]\nx = nowhere\n")
    with pytest.raises(InputError, match="neither a number nor a column"):
        quorvex.Correlations.from_file(tmp_path / "bad2.ini", standards=cols)


def test_errors_name_the_standard():
    c = quorvex.Correlations(u_x=[0.1, 0.1, 0.0, 0.1], u_y=0.1)  # one x exact, not all
    with pytest.raises(InputError, match=r"standard 3, its x"):
        quorvex.fit_correlated([1.0, 2, 3, 4], [1.0, 2, 3, 4.1], c)
    with pytest.raises(InputError, match=r"standard 2"):
        quorvex.Correlations(u_y=0.1).diluted([0, 3, 2], [0.01] * 3).covariance(
            np.array([1.0, 2, 3]))
    with pytest.raises(InputError, match="degree"):
        quorvex.fit_correlated([1.0, 2], [1.0, 2], np.eye(4), degree=10)
    with pytest.raises(FitError, match="iteration limit"):
        quorvex.fit_correlated(X, Y, correlations(), degree=3, maxit=1)


def test_command_line(tmp_path, capsys):
    std = tmp_path / "std.csv"
    with open(std, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["name", "x", "y", "u_y", "prepared_from", "u_step"])
        for k in range(6):
            w.writerow([f"S{k + 1}", X[k], Y[k], 0.02 + 0.001 * k,
                        "stock" if PARENT[k] == 0 else f"S{PARENT[k]}", REL[k]])
    (tmp_path / "c.ini").write_text("[dilution]\nparent = prepared_from\nrelative = u_step\n"
                                    "stock = 0.001\n[source drift]\ny = 0.03\n"
                                    "samples = u_drift ; a column of the samples file\n")
    (tmp_path / "s.csv").write_text("name,y,u_y,u_drift\nA,10,0.02,0.03\nB,70,0.02,0.03\n")
    out = tmp_path / "out"
    code = cli.main(["fit", str(std), "--correlations", str(tmp_path / "c.ini"), "--samples",
                     str(tmp_path / "s.csv"), "--out", str(out), "--degree", "2"])
    text, err = capsys.readouterr()
    assert code == 0, err
    rows = list(csv.DictReader(open(out / "samples-correlated.csv")))
    c = quorvex.Correlations(u_y=0.02 + 0.001 * np.arange(6)).source(
        "drift", y=0.03, samples=0.03).diluted(PARENT, REL, 0.001)
    p = quorvex.fit_correlated(X, Y, c, degree=2).inverse([10.0, 70.0], u_y=0.02)
    assert [r["name"] for r in rows] == ["A", "B"]
    np.testing.assert_allclose([float(r["u_x"]) for r in rows], p.u_x, rtol=1e-9)
    np.testing.assert_allclose([float(r["u_x_ignoring"]) for r in rows], p.u_x_ignoring,
                               rtol=1e-9)
    assert "u(x) ignoring" in (out / "report-correlated.txt").read_text()
    # the files are not replaced without --force; options it does not take are refused
    assert cli.main(["fit", str(std), "--correlations", str(tmp_path / "c.ini"), "--out",
                     str(out)]) == 1
    assert "exist already" in capsys.readouterr().err
    assert cli.main(["fit", str(std), "--correlations", str(tmp_path / "c.ini"),
                     "--weighting", "1/x"]) == 1
    assert "--weighting does not apply" in capsys.readouterr().err
    with pytest.raises(SystemExit):
        cli.main(["fit", "--help"])
    assert "--correlations" in capsys.readouterr().out


class _Cells(__import__("html.parser").parser.HTMLParser):
    """The text of every table cell of a page, table by table, row by row."""

    def __init__(self):
        super().__init__()
        self.tables, self._cell = [], None

    def handle_starttag(self, tag, attrs):
        if tag == "table":
            self.tables.append([])
        elif tag == "tr":
            self.tables[-1].append([])
        elif tag in ("td", "th"):
            self._cell = ""

    def handle_endtag(self, tag):
        if tag in ("td", "th"):
            self.tables[-1][-1].append(self._cell)
            self._cell = None

    def handle_data(self, data):
        if self._cell is not None:
            self._cell += data


def _written(cell: str, value: float) -> bool:
    """The cell is value rounded to the cell's last written digit."""
    digits = cell.split(".")[1] if "." in cell else ""
    return abs(float(cell) - value) <= 0.5 * 10.0 ** -len(digits) * (1 + 1e-9)


def test_report_page_shows_u_with_and_without_the_correlations(tmp_path):
    std = tmp_path / "std.csv"
    with open(std, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["name", "conc (mg/L)", "area", "u_y", "prepared_from", "u_step"])
        for k in range(6):
            w.writerow([f"S{k + 1}", X[k], Y[k], 0.02 + 0.001 * k,
                        "stock" if PARENT[k] == 0 else f"S{PARENT[k]}", REL[k]])
    (tmp_path / "c.ini").write_text("[dilution]\nparent = prepared_from\nrelative = u_step\n"
                                    "stock = 0.001\n[source <drift>]\ny = 0.03\n"
                                    "samples = 0.03\n")
    (tmp_path / "s.csv").write_text("name,area,u_y\nA,10,0.02\n<b>B</b>,70,0.02\nC,33.3,0.02\n")
    out = tmp_path / "out"
    assert cli.main(["fit", str(std), "--correlations", str(tmp_path / "c.ini"), "--samples",
                     str(tmp_path / "s.csv"), "--out", str(out), "--degree", "2", "-q"]) == 0
    page = (out / "report-correlated.html").read_text()
    c = quorvex.Correlations(u_y=0.02 + 0.001 * np.arange(6)).source(
        "<drift>", y=0.03, samples=0.03).diluted(PARENT, REL, 0.001)
    cal = quorvex.fit_correlated(X, Y, c, degree=2)
    p = cal.inverse([10.0, 70.0, 33.3], u_y=0.02)
    assert p.shared and not np.allclose(p.u_x, p.u_x_ignoring, rtol=0.01)
    parser = _Cells()
    parser.feed(page)
    head, cols, *rows = next(t for t in parser.tables if t[0][1:] == [
        "with the stated correlations", "ignoring them"])
    assert cols == ["#", "sample", "area", "conc (mg/L)", "u(x)", "U (95 %)", "conc (mg/L)",
                    "u(x)"]
    assert [r[1] for r in rows] == ["A", "<b>B</b>", "C"]  # text, not markup
    assert "<b>B</b>" not in page and "&lt;drift&gt;" in page
    for r, x, u, big_u, xi, ui in zip(rows, p.x, p.u_x, p.U, p.x_ignoring, p.u_x_ignoring):
        for cell, value in zip(r[3:], (x, u, big_u, xi, ui)):
            assert _written(cell, value), (cell, value)
    # the coefficients in powers of x, both fits, and chi2
    a, ca = cal.power_coefficients()
    b, _ = cal.ignoring().power_coefficients()
    coef = next(t for t in parser.tables if t[0][1] == "value ± u with the correlations")
    assert coef[1][0] == "a0" and _written(coef[1][1].split(" ± ")[0], a[0])
    assert _written(coef[1][2].split(" ± ")[0], b[0])
    assert coef[4][1].startswith(f"{cal.chi2:.4g} (3)")
    # without samples: the page says where the comparison would be; --force replaces it
    assert cli.main(["fit", str(std), "--correlations", str(tmp_path / "c.ini"), "--out",
                     str(out), "--degree", "2", "-q", "--force"]) == 0
    page = (out / "report-correlated.html").read_text()
    assert "No samples were given" in page and "ignoring them" in page
