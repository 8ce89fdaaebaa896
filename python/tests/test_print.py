"""The report on paper: each example's report printed to PDF by headless Chromium on A4
and on letter keeps every column of every table (every column header is in the PDF's
text), with page numbers and the signature block."""
import html
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from quorvex import cli

REPO = Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"
BROWSER = shutil.which("chromium") or shutil.which("chromium-browser")
PDFTOTEXT = shutil.which("pdftotext")

pytestmark = pytest.mark.skipif(
    BROWSER is None or PDFTOTEXT is None,
    reason="needs chromium and pdftotext (Debian: chromium, poppler-utils)")

REPLICATE_STANDARDS = """Sample Name,conc (µg/L),area,u(area)
Blank,0,0.8,0.5
Std 1,1,10.2,0.5
Std 1b,1,10.6,0.5
Std 2,2,19.8,0.6
Std 5,5,50.9,1.0
Std 5b,5,49.7,1.0
Std 10,10,99.1,2.0
Std 20,20,201.5,4.0
Std 50,50,498,10
Std 50b,50,503,10
"""
REPLICATE_SAMPLES = """Sample Name,area,u(area)
Tap T-3,120,2
River W-01,121,2
River W-01 rep,121.5,2
rep 1,300,5
rep 2,301,5
rep 3,299.5,5
=HYPERLINK("http://example.invalid"),55,1
"""


def _examples(root: Path):
    """(name, report.html) of each example run: the example script's, one with replicate
    samples, IDs and units, the inversion of the first, and an unweighted 1/x² fit."""
    runs = []
    ex = root / "example"
    assert cli.main([str(a) for a in (
        "fit", EXAMPLES / "standards.csv", "--samples", EXAMPLES / "samples.csv", "--degree",
        "auto", "--interval", -0.5, 10.5, "--limits", "--monte-carlo", 400, "--seed", 1,
        "--title", "Example calibration", "--out", ex, "-q", "--analyte", "nitrate",
        "--operator", "A. Chemist", "--reviewer", "B. Reviewer")]) == 0
    runs.append(("example", ex / "report.html"))
    std = root / "std.csv"
    std.write_text(REPLICATE_STANDARDS, encoding="utf-8")
    smp = root / "smp.csv"
    smp.write_text(REPLICATE_SAMPLES, encoding="utf-8")
    rep = root / "replicates"
    assert cli.main([str(a) for a in (
        "fit", std, "--samples", smp, "--degree", 2, "--monte-carlo", 400, "--seed", 2,
        "--out", rep, "-q", "--units", "µg/L", "--method", "ICP-MS SOP 4.2")]) == 0
    runs.append(("replicates", rep / "report.html"))
    assert cli.main([str(a) for a in (
        "invert", ex / "calibration.json", smp, "--y", "area",
        "--uy", "u(area)", "-q")]) == 0
    runs.append(("invert", ex / "report-smp.html"))
    w = root / "weighted"
    assert cli.main([str(a) for a in (
        "fit", std, "--y", "area", "--uy", "u(area)", "--weighting", "1/x2", "--out", w, "-q",
        "--interval", 0, 50)]) != 0  # a blank at x = 0 cannot take 1/x² weights
    std2 = root / "std2.csv"
    std2.write_text("".join(line + "\n" for line in REPLICATE_STANDARDS.splitlines()
                            if not line.startswith("Blank")), encoding="utf-8")
    assert cli.main([str(a) for a in (
        "fit", std2, "--y", "area", "--weighting", "1/x2", "--samples", smp, "--out", w,
        "-q")]) == 0
    runs.append(("weighted", w / "report.html"))
    return runs


def _print(page: Path, pdf: Path, paper: str) -> str:
    source = page
    if paper == "a4":  # the page sets no paper size: it prints on the printer's paper
        source = page.with_name(page.stem + ".a4.html")
        source.write_text(page.read_text(encoding="utf-8").replace(
            "</style>", "@page{size:A4}</style>", 1), encoding="utf-8")
    with tempfile.TemporaryDirectory() as profile:
        p = subprocess.run(
            [BROWSER, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", f"--user-data-dir={profile}", "--no-pdf-header-footer",
             f"--print-to-pdf={pdf}", source.resolve().as_uri()],
            capture_output=True, text=True, timeout=240)
    assert pdf.exists(), p.stderr[-2000:]
    return subprocess.run([PDFTOTEXT, "-layout", str(pdf), "-"], capture_output=True,
                          text=True, check=True, timeout=120).stdout


def _squash(text: str) -> str:
    return re.sub(r"\s+", "", text)


def _words(pdf: Path):
    """Every word on paper with its page and box (pdftotext -bbox)."""
    out = subprocess.run([PDFTOTEXT, "-bbox", str(pdf), "-"], capture_output=True, text=True,
                         check=True, timeout=120).stdout
    words = []
    for k, page in enumerate(out.split("<page ")[1:]):
        for m in re.finditer(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" '
                             r'yMax="([\d.]+)">(.*?)</word>', page):
            x0, y0, x1, y1 = map(float, m.groups()[:4])
            words.append((k, x0, y0, x1, y1, html.unescape(m.group(5))))
    return words


def _on_paper(target: str, words) -> bool:
    """True when the header's text is on paper as one cell: its words in order, each
    next word on the same line just right of the last or on the following line within
    the cell's width (a header wraps inside its cell)."""
    want = _squash(target)

    def follow(prev, got, span):
        if got == want:
            return True
        k, _, py0, px1, py1, _ = prev
        h = py1 - py0
        for w in words:
            if w[0] != k or not want.startswith(got + w[5], 0):
                continue
            same = abs(w[2] - py0) < 0.5 * h and -1 <= w[1] - px1 <= 8
            below = 0.5 * h < w[2] - py0 < 1.9 * h and w[1] < span[1] + 20 and \
                w[3] > span[0] - 20
            if (same or below) and follow(w, got + w[5], (min(span[0], w[1]),
                                                            max(span[1], w[3]))):
                return True
        return False

    return any(want.startswith(w[5]) and w[5] and follow(w, w[5], (w[1], w[3]))
               for w in words)


def _headers(page: str):
    """The text of every column header of every table (the <th> of each <thead>)."""
    out = []
    for head in re.findall(r"<thead>(.*?)</thead>", page, flags=re.S):
        for th in re.findall(r"<th[^>]*>(.*?)</th>", head, flags=re.S):
            text = html.unescape(re.sub(r"<[^>]+>", "", th)).strip()
            if text:
                out.append(text)
    return out


@pytest.fixture(scope="module")
def printed(tmp_path_factory):
    root = tmp_path_factory.mktemp("print")
    out = []
    for name, page in _examples(root):
        for paper in ("a4", "letter"):
            pdf = root / f"{name}-{paper}.pdf"
            text = _print(page, pdf, paper)
            out.append((name, paper, page, pdf, text, _words(pdf)))
    return out


def test_every_column_header_of_every_table_is_on_paper(printed):
    for name, paper, page, pdf, text, words in printed:
        source = page.read_text(encoding="utf-8")
        headers = _headers(source)
        assert len(headers) > 20, name
        missing = [h for h in set(headers) if not _on_paper(h, words)]
        assert not missing, (name, paper, missing)


def test_pages_are_numbered_and_signed(printed):
    for name, paper, page, pdf, text, _ in printed:
        pages = text.count("\f") + (0 if text.endswith("\f") else 1)
        assert f"page 1 of {pages}" in text or "page 1 of" in text, (name, paper)
        assert "Prepared by" in text and "Reviewed by" in text, (name, paper)
        assert "Appendix A" in text


def test_paper_sizes(printed):
    sizes = {}
    for name, paper, page, pdf, text, _ in printed:
        info = subprocess.run(["pdfinfo", str(pdf)], capture_output=True, text=True).stdout \
            if shutil.which("pdfinfo") else ""
        m = re.search(r"Page size:\s+([\d.]+) x ([\d.]+)", info)
        if m:
            sizes[paper] = (round(float(m.group(1))), round(float(m.group(2))))
    if sizes:
        assert sizes.get("a4") == (595, 842) and sizes.get("letter") == (612, 792)
