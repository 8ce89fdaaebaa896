"""The calibration picture: the files it is saved as, and that the band, the residuals and
the flags drawn are the calibration's own (``cal.band``, the outlier test)."""
import struct

import numpy as np
import pytest

pytest.importorskip("matplotlib")

import quorvex  # noqa: E402
from quorvex import diagnostics, plot, report  # noqa: E402
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
    assert (w, h) == (round(plot.FIGSIZE[0] * plot.PRINT_DPI),
                      round(plot.FIGSIZE[1] * plot.PRINT_DPI))
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
    z, name = diagnostics.residual_statistic(gls)
    assert b.get_ylabel() == name and name.startswith("combined")
    # The combined residual drawn is the one the outlier test uses.
    assert np.array_equal(b.collections[0].get_offsets()[:, 1], z)


@pytest.mark.parametrize("kw,source", [(dict(u_y=0.05), "normal distribution"),
                                       (dict(), "Student's t, 6 degrees of freedom")])
def test_the_band_drawn_is_the_calibrations_band(kw, source):
    x, y = curve_data(8, [1.0, 2.0], 0.05, 3)
    cal = quorvex.fit(x, y, **kw)
    fig = cal.plot()
    top = fig.axes[0]
    (fill,) = [c for c in top.collections if c.get_label().startswith("95% confidence band")]
    assert source in fill.get_label()
    v = fill.get_paths()[0].vertices
    xs = np.linspace(cal.xmin, cal.xmax, plot.NCURVE)
    b = cal.band(xs, 0.95)
    # fill_between's outline: the upper edge one way, the lower edge back.
    for edge in (b.lower, b.upper):
        hit = np.isin(v[:, 1], edge)
        assert hit.sum() >= plot.NCURVE
    assert f"k = {b.k:.3g}" in fill.get_label()


def test_flags_back_calculation_and_residuals_come_from_the_diagnostics():
    x, y = curve_data(10, [4.0, 3.0], 0.01, 5, xmin=1.0)
    y[4] += 0.1  # ten standard uncertainties
    cal = quorvex.fit(x, y, u_y=0.01)
    found = cal.outliers()
    assert [o.index for o in found] == [4]
    assert np.array_equal(plot.flagged_standards(cal), np.arange(10) == 4)
    fig = cal.plot()
    labels = [t.get_text() for t in fig.axes[0].get_legend().get_texts()]
    assert "flagged standards" in labels
    res = report.results(cal)
    rows = res["standards"]
    assert rows[4]["flag"] == "; ".join(found[0].reasons)
    assert [bool(r["flag"]) for r in rows] == [i == 4 for i in range(10)]
    back = cal.back_calculated()
    assert [r["back_calculated_percent"] for r in rows] == list(back.percent)
    assert [r["back_calculated_verdict"] == "" for r in rows] == list(back.passed)
    z, name = diagnostics.residual_statistic(cal)
    assert [r["normalized_residual"] for r in rows] == list(z)
    verdict, text = diagnostics.goodness_verdict(cal)
    assert res["verdicts"]["rows"][0][:2] == ["goodness of fit", verdict]
    assert res["verdicts"]["rows"][0][2].startswith(text + " (alpha ")
    assert res["verdicts"]["fit_for_use"] is False
    assert res["diagnostics"] == report._plain(cal.diagnostics().to_dict())
