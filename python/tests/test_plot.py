"""The calibration picture: the files it is saved as, and what the band and the flags
are computed from."""
import struct

import numpy as np
import pytest

pytest.importorskip("matplotlib")

import quorvex  # noqa: E402
from quorvex import _hooks, plot  # noqa: E402
from conftest import curve_data  # noqa: E402


def png_size(data: bytes):
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    assert data[12:16] == b"IHDR"
    return struct.unpack(">II", data[16:24])


def pixels(path):
    from matplotlib.image import imread
    return imread(str(path))[..., :3]


def near(img, rgb, tol=0.03):
    return int(np.all(np.abs(img - np.asarray(rgb) / 255.0) <= tol, axis=-1).sum())


def hex_rgb(h):
    return tuple(int(h[k:k + 2], 16) for k in (1, 3, 5))


@pytest.fixture(scope="module")
def gls():
    x, y = curve_data(15, [2.0, 1.5, -0.1], 0.02, 11, u_x=0.03)
    return quorvex.fit(x, y, u_y=0.02, u_x=0.03, degree=2)


def test_png_has_the_expected_size_and_shows_the_picture(tmp_path, gls):
    fig = gls.plot(samples=([0.5, 1.5, 2.5], 0.02), x_label="dose (mg)", y_label="signal",
                   sample_names=["a", "b", "c"])
    path = fig.save(tmp_path / "cal.png")
    w, h = png_size(path.read_bytes())
    assert (w, h) == (round(plot.FIGSIZE[0] * plot.DPI), round(plot.FIGSIZE[1] * plot.DPI))
    img = pixels(path)
    assert img.std() > 0.05                      # not a blank page
    assert near(img, hex_rgb(plot.C_CURVE)) > 300  # the curve is drawn
    assert near(img, hex_rgb(plot.C_SAMPLE)) > 30  # and the samples
    # The band, over white at alpha 0.45, fills the middle panel.
    band = tuple(0.45 * c + 0.55 * 255 for c in hex_rgb(plot.C_BAND))
    assert near(img, band, 0.02) > 2000


def test_save_picks_the_format_by_extension(tmp_path, gls):
    fig = gls.plot()
    magic = {".png": b"\x89PNG", ".svg": b"<?xml", ".pdf": b"%PDF", ".PDF": b"%PDF"}
    for ext, head in magic.items():
        p = plot.save(fig, tmp_path / f"c{ext}")
        assert p.read_bytes().startswith(head)
    for name in ("c.jpg", "c"):
        with pytest.raises(quorvex.InputError, match=".png, .svg or .pdf"):
            plot.save(fig, tmp_path / name)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["c.PDF", "c.pdf", "c.png", "c.svg"]
    # The same calibration gives the same SVG (fixed ids, no date).
    assert plot.render(gls.plot(), "svg") == plot.render(gls.plot(), "svg")


def test_drawing_into_given_axes(gls):
    from matplotlib.figure import Figure
    fig = Figure()
    ax = fig.subplots()
    assert gls.plot(ax=ax) is fig and len(fig.axes) == 1
    fig2 = Figure()
    a, b = fig2.subplots(2)
    assert gls.plot(ax=(a, b), band=None) is fig2
    assert b.get_ylabel() == "weighted residual"


@pytest.mark.parametrize("kw,k", [(dict(u_y=0.05), 1.959963984540054), (dict(), None)])
def test_band_without_diagnostics_is_k_times_u(kw, k):
    x, y = curve_data(8, [1.0, 2.0], 0.05, 3)
    cal = quorvex.fit(x, y, **kw)
    if hasattr(cal, "band"):
        pytest.skip("the calibration has its own band")
    if k is None:  # uncertainties from the scatter: Student's t with dof degrees
        stats = pytest.importorskip("scipy.stats")
        k = stats.t.ppf(0.975, cal.dof)
    xs = np.linspace(cal.xmin, cal.xmax, 7)
    yv, lo, hi, _ = _hooks.band(cal, xs, 0.95)
    # u(p(x)) from the covariance directly: g' C g with the Chebyshev basis.
    t = (2 * xs - cal.xmin - cal.xmax) / (cal.xmax - cal.xmin)
    g = np.polynomial.chebyshev.chebvander(t, 1) * [0.5, 1.0]
    u = np.sqrt(np.einsum("ij,jk,ik->i", g, cal.cov_used, g))
    assert np.allclose(hi - yv, k * u, rtol=1e-12) and np.allclose(yv - lo, k * u, rtol=1e-12)


def test_gross_outlier_is_flagged_and_back_calculation_is_exact_on_a_line():
    x = np.arange(1.0, 9.0)
    y = 0.5 + 2.0 * x
    cal = quorvex.fit(x, y, u_y=0.01)
    xb, pct, verdict = _hooks.back_calculated(cal)
    assert np.allclose(xb, x, rtol=1e-12) and np.allclose(pct, 100.0) and not any(verdict)
    y2 = y.copy()
    y2[4] += 0.5
    cal2 = quorvex.fit(x, y2, u_y=0.01)
    if hasattr(cal2, "outliers"):
        pytest.skip("the calibration has its own outlier test")
    flags = _hooks.flags(cal2)
    assert flags[4] and "y residual" in flags[4]
