"""The HTML report: self-contained, holding the picture and both tables, with its JSON and
CSV, and rendered by a real browser (headless Chromium)."""
import csv
import json
import re
import shutil
import subprocess
import tempfile

import numpy as np
import pytest

pytest.importorskip("matplotlib")

import quorvex  # noqa: E402
from quorvex import plot, report  # noqa: E402
from conftest import curve_data  # noqa: E402

SAMPLE_Y = np.array([2.5, 7.0, 11.0, 40.0])  # the last has no root
SAMPLE_U = np.array([0.05, 0.05, 0.05, 0.05])
NAMES = ["alpha <1>", "beta & co", "gamma", "delta"]


@pytest.fixture(scope="module")
def written(tmp_path_factory):
    d = tmp_path_factory.mktemp("report")
    x, y = curve_data(12, [12.0, 9.0, 0.4], 0.04, 5, u_x=0.02)
    cal = quorvex.fit(x, y, u_y=0.04, u_x=0.02, degree=2)
    w = cal.report(d / "report.html", samples=(SAMPLE_Y, SAMPLE_U), title="Lead in water",
                   labels={"x": "lead", "x_unit": "µg/L", "y": "signal"}, sample_names=NAMES,
                   options={"operator": "test"})
    return cal, w, d


def test_report_is_self_contained_and_holds_the_svg_and_both_tables(written):
    cal, w, d = written
    page = (d / "report.html").read_text(encoding="utf-8")
    assert "http" not in page and "<link" not in page and "src=" not in page
    # References stay inside the page (clip paths, reused markers).
    assert not re.search(r"url\((?!#)", page) and not re.search(r'href="(?!#)', page)
    assert "@import" not in page
    assert page.count("<svg") == 1 and "<path" in page
    assert "<h2>Standards</h2>" in page and "<h2>Samples</h2>" in page
    # Every standard's x and response is in the standards table.
    tables = re.findall(r"<table>.*?</table>", page, flags=re.S)
    standards = next(t for t in tables if "lead (µg/L)" in t and "back-calc." in t)
    assert standards.count("<tr") == cal.n_points + 1
    for xv in cal.x:
        assert f"<td>{report.fmt(xv, 8)}</td>" in standards
    samples = next(t for t in tables if "alpha &lt;1&gt;" in t)
    assert "alpha &lt;1&gt;" in samples and "beta &amp; co" in samples
    assert "no root in the interval" in samples
    pred = cal.inverse(SAMPLE_Y, SAMPLE_U)
    assert report.fmt_pm(pred.x[0], pred.u_x[0]) in samples
    for text in ("Lead in water", f"quorvex {quorvex.__version__}", '"operator": "test"',
                 "Coefficients", "degrees of freedom"):
        assert text in page
    # The verdicts are the calibration's own, one table row each.
    from quorvex.diagnostics import verdict_rows
    rows, verdict = verdict_rows(cal, cal.diagnostics())
    verdicts = next(t for t in tables if "goodness of fit" in t)
    assert verdicts.count("<tr") == len(rows) + 1
    for name, v, details in rows:
        assert f'<td class="t">{report._e(details)}</td>' in verdicts
    assert f"<b>{report._e(verdict)}</b>" in page


def test_json_reads_back_and_csv_matches_the_api(written):
    cal, w, d = written
    text = (d / "report.json").read_text()
    back = quorvex.Calibration.from_json(text)
    assert back.to_json() == cal.to_json()
    res = json.loads(text)["results"]
    assert res["title"] == "Lead in water" and res["software"]["quorvex"] == quorvex.__version__
    assert len(res["standards"]) == cal.n_points and len(res["samples"]) == 4
    json.dumps(res, allow_nan=False)  # the results are strict JSON
    pred = cal.inverse(SAMPLE_Y, SAMPLE_U)
    with open(d / "report.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert [r["sample"] for r in rows] == NAMES
    for i, r in enumerate(rows):
        assert int(r["n_roots"]) == pred.n_roots[i]
        if pred.n_roots[i]:
            assert float(r["x"]) == pred.x[i] and float(r["u_x"]) == pred.u_x[i]
    assert rows[3]["x"] == "" and rows[3]["flags"] == (
        "no root in the interval; above the highest standard: dilute and repeat")


@pytest.mark.parametrize("v,u,text", [
    (1.23456, 0.0123, "1.235 ± 0.012"), (1234.5, 12.0, "1234.5 ± 12"),
    (-0.0150147, 0.00253, "-0.0150 ± 0.0025"), (2.0, float("inf"), "2 ± ∞"),
    (float("nan"), 0.1, "—"), (3.0, float("nan"), "3"), (0.5, 0.0, "0.5 ± 0"),
])
def test_value_with_uncertainty_text(v, u, text):
    assert report.fmt_pm(v, u) == text


def browser():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


@pytest.mark.skipif(browser() is None, reason="chromium is not installed (the test command "
                    "installs Debian's chromium)")
def test_report_renders_in_a_headless_browser(written, tmp_path):
    from matplotlib.image import imread
    _, _, d = written
    shot = tmp_path / "shot.png"
    with tempfile.TemporaryDirectory() as profile:
        p = subprocess.run(
            [browser(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", f"--user-data-dir={profile}", "--hide-scrollbars",
             "--window-size=1000,1600", f"--screenshot={shot}",
             (d / "report.html").resolve().as_uri()],
            capture_output=True, text=True, timeout=180)
    assert shot.exists(), p.stderr[-2000:]
    img = imread(str(shot))[..., :3]
    assert img.shape[:2] == (1600, 1000)

    def count(rgb, tol=0.04):
        return int(np.all(np.abs(img - np.asarray(rgb) / 255.0) <= tol, axis=-1).sum())

    def rgb(h):
        return tuple(int(h[k:k + 2], 16) for k in (1, 3, 5))

    assert img.std() > 0.05                          # not a blank page
    assert count(rgb(plot.C_CURVE)) > 200             # the curve
    assert count(rgb(plot.C_STANDARD)) > 200          # the standards and the text
    band = tuple(0.45 * c + 0.55 * 255 for c in rgb(plot.C_BAND))
    assert count(band) > 2000                        # the band fills part of the picture


def test_many_samples_keep_the_page_and_the_picture_small(tmp_path, monkeypatch):
    x, y = curve_data(10, [4.0, 3.0], 0.02, 9)
    cal = quorvex.fit(x, y, u_y=0.02)
    monkeypatch.setattr(report, "HTML_MAX_SAMPLES", 3)
    monkeypatch.setattr(plot, "MAX_BARS", 2)
    ys = np.linspace(1.0, 4.0, 5)
    w = cal.report(tmp_path / "r.html", samples=(ys, 0.01))
    page = w["html"].read_text()
    assert "The first 3 of 5 samples" in page
    samples = page[page.index("<h2>Samples</h2>"):]
    samples = samples[:samples.index("</table>")]
    assert samples.count("<tr") == 1 + 3
    assert "data:image/png;base64," in page  # the dots as one embedded bitmap
    assert len(w["csv"].read_text().splitlines()) == 6
