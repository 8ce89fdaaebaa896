"""The PNG files of the pictures: the encoder against an independent decoder, the pixels
against matplotlib's own PNG of the same figure, and the layout the formats share."""
import io

import numpy as np
import pytest

pytest.importorskip("matplotlib")
Image = pytest.importorskip("PIL.Image")

import quorvex  # noqa: E402
from quorvex import plot, report  # noqa: E402
from conftest import curve_data  # noqa: E402


def decode(data: bytes):
    img = Image.open(io.BytesIO(data))
    img.load()
    return img


@pytest.fixture(scope="module")
def cal():
    x, y = curve_data(12, [0.1, 2.0, -0.05], 0.02, 7)
    return quorvex.fit(x, y, degree=2)


@pytest.mark.parametrize("h, w, opaque, dpi", [(1, 1, True, 72), (1, 5, False, None),
                                               (7, 3, True, 200), (40, 33, False, 300),
                                               (64, 64, True, 96.5)])
def test_encoder_round_trips_through_an_independent_decoder(h, w, opaque, dpi):
    rng = np.random.default_rng(h * 1000 + w)
    rgba = rng.integers(0, 256, size=(h, w, 4), dtype=np.uint8)
    if opaque:
        rgba[..., 3] = 255
    before = rgba.copy()
    data = plot.png_bytes(rgba, dpi)
    assert np.array_equal(rgba, before)  # the caller's image is left as it was
    img = decode(data)
    assert img.mode == ("RGB" if opaque else "RGBA")  # no alpha channel where none is needed
    want = rgba[..., :3] if opaque else rgba
    assert np.array_equal(np.asarray(img), want)
    if dpi is None:
        assert "dpi" not in img.info
    else:
        assert img.info["dpi"] == pytest.approx((dpi, dpi), abs=0.02)
    assert plot.png_bytes(rgba, dpi) == data  # the same image gives the same file


def test_png_has_the_pixels_matplotlib_draws(cal):
    """The encoder writes what Agg drew: matplotlib's own PNG of the same figure at the
    same resolution holds the same pixels."""
    fig = cal.plot(samples=[0.5, 1.5], x_label="dose (mg)", y_label="signal")
    canvas_before, dpi_before = fig.canvas, fig.dpi
    ours = np.asarray(decode(plot.render(fig, "png", 80)).convert("RGBA"))
    assert fig.canvas is canvas_before and fig.dpi == dpi_before
    buf = io.BytesIO()
    from matplotlib import rc_context
    with rc_context(plot._RC):
        fig.savefig(buf, format="png", dpi=80)
    theirs = np.asarray(decode(buf.getvalue()).convert("RGBA"))
    assert ours.shape == theirs.shape == (round(plot.FIGSIZE[1] * 80),
                                          round(plot.FIGSIZE[0] * 80), 4)
    assert np.array_equal(ours, theirs)


def test_kept_layout_holds_for_every_format(cal):
    """The report's pictures share the layout worked out once at 100 dpi: saving them
    moves no panel, and a figure laid out afresh at the PNG's resolution puts every
    panel in the same place to within the pixel rounding of text extents."""
    names = ["std A", "sample with a long name"]

    def where(fig):
        return np.array([ax.get_position().bounds for ax in fig.axes])

    fresh = cal.plot(samples=[0.5, 1.5], sample_names=names, title="t")
    plot.render(fresh, "png", plot.PRINT_DPI)  # laid out at 200 dpi
    kept = cal.plot(samples=[0.5, 1.5], sample_names=names, title="t")
    plot.keep_layout(kept)
    laid_out = where(kept)
    assert len(laid_out) == 3
    for fmt in ("svg", "png", "pdf"):
        plot.render(kept, fmt)
        assert np.array_equal(where(kept), laid_out)
    # 3e-3 of the figure: 0.02 inch, two pixels at 100 dpi
    assert np.allclose(where(fresh), laid_out, atol=3e-3)


def test_report_writes_the_png_at_the_print_resolution(tmp_path, cal):
    out = report.write(cal, tmp_path / "r.html", samples=[0.5, 1.5],
                       pictures=[tmp_path / "c.png", tmp_path / "c.svg"])
    img = decode((tmp_path / "c.png").read_bytes())
    assert img.size == (round(plot.FIGSIZE[0] * plot.PRINT_DPI),
                        round(plot.FIGSIZE[1] * plot.PRINT_DPI))
    assert img.info["dpi"] == pytest.approx((plot.PRINT_DPI,) * 2, abs=0.02)
    # The SVG file is the picture inlined in the report, not another drawing.
    svg = (tmp_path / "c.svg").read_text(encoding="utf-8")
    html = out["html"].read_text(encoding="utf-8")
    assert report.inline_svg(svg.encode("utf-8")) in html


def test_fit_on_the_command_line_writes_the_pictures_of_one_drawing(tmp_path):
    """`quorvex fit` on the example with its samples: the PNG at the print resolution,
    the SVG file the very picture the report inlines, each file written once."""
    from pathlib import Path
    from quorvex import cli
    examples = Path(__file__).resolve().parents[2] / "examples"
    code = cli.main(["fit", str(examples / "standards.csv"), "--degree", "2", "--samples",
                     str(examples / "samples.csv"), "--out", str(tmp_path), "-q"])
    assert code == 0
    img = decode((tmp_path / "calibration.png").read_bytes())
    assert img.mode == "RGB"
    assert img.size == (1500, 1680) and img.info["dpi"] == pytest.approx((200, 200), abs=0.02)
    pixels = np.asarray(img).reshape(-1, 3)
    assert (pixels == 255).all(axis=1).mean() > 0.5      # a white page with a drawing on it
    curve = [int(plot.C_CURVE[k:k + 2], 16) for k in (1, 3, 5)]
    assert (np.abs(pixels.astype(int) - curve).max(axis=1) < 8).sum() > 1000  # the curve
    svg = (tmp_path / "calibration.svg").read_bytes()
    html = (tmp_path / "report.html").read_text(encoding="utf-8")
    assert report.inline_svg(svg) in html
