"""A report that goes into a quality file, and the command line's failure paths: the
headline in powers of x, one rounding rule, the laboratory's fields and file hashes,
runs that never replace each other's files, ID columns, the picture, safe CSV,
outputs written as a set, bounded reading, damaged records refused."""
import csv
import hashlib
import io
import json
import os
import re
from pathlib import Path

import numpy as np
import pytest

import quorvex
from quorvex import _files, _text, cli, report, tabular
from quorvex.calibration import Calibration
from quorvex.errors import InputError, QuorvexError

REPO = Path(__file__).resolve().parents[2]
STANDARDS = REPO / "examples" / "standards.csv"
SAMPLES = REPO / "examples" / "samples.csv"


def run(argv, capsys):
    code = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def files_of(folder):
    return {p.name: p.read_bytes() for p in Path(folder).iterdir() if p.is_file()}


def write(path, text):
    Path(path).write_text(text, encoding="utf-8")
    return path


LINE = "Sample Name,conc,area\nL1,1,10.2\nL2,2,19.8\nL3,5,50.9\nL4,10,99.1\nL5,20,201.5\n" \
       "L6,50,498\n"
REPLICATES = "Sample Name,area\nTap T-3,120\nRiver W-01,121\nrep 1,300\nrep 2,301\n" \
             "rep 3,299.5\nrep 4,302\n"


# One rounding rule -------------------------------------------------------------------

@pytest.mark.parametrize("v,u,text", [
    (0.19812, 0.0011, "0.1981 ± 0.0011"),          # u to 2 digits, v to its place
    (11934.9, 110.0, "11930 ± 110"),               # was "11934.9 ± 1.1e+02"
    (1193590.0, 1100.0, "1193600 ± 1100"),
    (2.5, 0.0996, "2.50 ± 0.10"),                  # the carry keeps two digits
    (1e-9, 3e-11, "(1.000 ± 0.030)×10⁻⁹"),         # one power for both
    (-0.000393279, 5.8e-05, "-0.000393 ± 0.000058"),
    (1234.5, 12.0, "1235 ± 12"),                   # half away from zero
])
def test_value_with_uncertainty_follows_one_rule(v, u, text):
    assert _text.fmt_pm(v, u) == text


@pytest.mark.parametrize("v,digits,text", [
    (1193590.0, 6, "1193590"), (5.8e-05, 2, "5.8×10⁻⁵"), (-0.000393279, 6, "-0.000393279"),
    (0.0, 3, "0"), (2.5e12, 3, "2.5×10¹²"), (float("nan"), 3, "—"),
])
def test_plain_numbers_and_powers_of_ten(v, digits, text):
    assert _text.fmt(v, digits) == text


def test_column_shares_one_power_of_ten():
    e = _text.column_exponent([1.2e8, 3.4e7, 5e6])
    assert e == 6 and _text.header("area", e) == "area / 10⁶"
    assert [_text.fmt(v, 4, e) for v in (1.2e8, 3.4e7)] == ["120", "34"]
    assert _text.column_exponent([0.5, 12.0]) == 0


# The report --------------------------------------------------------------------------

@pytest.fixture(scope="module")
def example(tmp_path_factory):
    """The example run, with the laboratory's fields."""
    out = tmp_path_factory.mktemp("example") / "out"
    code = cli.main([str(a) for a in (
        "fit", STANDARDS, "--samples", SAMPLES, "--degree", "auto", "--interval", -0.5, 10.5,
        "--limits", "--monte-carlo", 500, "--seed", 1, "--title", "Example calibration",
        "--out", out, "-q", "--analyte", "Nitrate <NO3>", "--method", "SOP-17",
        "--instrument", "UV-1800", "--operator", "A. Chemist", "--reviewer", "B. Reviewer",
        "--units", "mg/L")])
    assert code == 0
    return out


def visible_text(page):
    """The page's text as a reader sees it (no style, no SVG, no appendix of raw JSON)."""
    body = page.split("<body>", 1)[1]
    body = re.sub(r"<svg.*?</svg>", "", body, flags=re.S)
    body = body.split("Appendix A", 1)[0]
    body = re.sub(r'<td class="h">[0-9a-f]+</td>', "", body)
    return re.sub(r"<[^>]+>", " ", body)


def test_headline_is_the_curve_in_powers_of_x(example):
    page = (example / "report.html").read_text(encoding="utf-8")
    data = json.loads((example / "calibration.json").read_text())
    cal = Calibration.from_json(json.dumps(data))
    ps = cal.power_coefficients()
    head = page.index("Calibration curve")
    assert head < page.index("<h2>Verdict") < page.index("Appendix A")
    section = page[head:page.index("<h2>Verdict")]
    assert f"intercept a0</th><td>{_text.fmt_pm(ps.coef[0], ps.u_coef[0])}" in section
    assert f"slope a1</th><td>{_text.fmt_pm(ps.coef[1], ps.u_coef[1])}" in section
    assert "r²" in section and "SRES" in section and "degrees of freedom" in section
    # The Chebyshev coefficients are the exact record, in the appendix, every digit.
    appendix = page[page.index("Appendix A"):]
    assert "c0" not in section and repr(float(cal.coef[1])) in appendix
    # The terminal and cal.summary() open the same way.
    text = cal.summary()
    assert text.index("intercept a0") < text.index("slope a1") < text.index("exact record")
    assert "r² " in text


def test_people_read_one_notation(example):
    page = (example / "report.html").read_text(encoding="utf-8")
    text = visible_text(page)
    assert not re.search(r"\d[eE][+-]?\d", text), re.findall(r"\S*\d[eE][+-]?\d\S*", text)
    assert "+-" not in text and "+/-" not in text
    summary = Calibration.from_json((example / "calibration.json").read_text()).summary()
    head = summary.split("exact record")[0]
    assert not re.search(r"\d[eE][+-]?\d", head) and "+-" not in summary


def test_laboratory_fields_fit_kind_and_hashes_in_the_header(example):
    page = (example / "report.html").read_text(encoding="utf-8")
    header = page[:page.index("Calibration curve")]
    for text in ("Nitrate &lt;NO3&gt;", "SOP-17", "UV-1800", "A. Chemist", "B. Reviewer",
                 "mg/L", "errors in variables"):
        assert text in header
    for path in (STANDARDS, SAMPLES):
        digest = hashlib.sha256(path.read_bytes()).hexdigest()
        assert f"{path.name}</td><td class=\"h\">{digest}" in header
    res = json.loads((example / "calibration.json").read_text())["results"]
    assert res["metadata"]["analyte"] == "Nitrate <NO3>"
    assert {f["role"] for f in res["inputs"]} == {"standards", "samples"}
    # Options as a readable table; the raw record only in the appendix.
    options = page[page.index("<h2>Options and software"):page.index("Appendix A")]
    assert "<pre>" not in options and "Monte Carlo draws" in options
    assert page.index("Appendix B") > page.index("Appendix A")
    assert "Prepared by: A. Chemist" in page and "Reviewed by: B. Reviewer" in page


@pytest.mark.parametrize("cal_args,name", [
    ({}, "ordinary least squares (unweighted)"),
    ({"u_y": 0.1}, "weighted least squares (weights 1/u(y)²)"),
    ({"weighting": "1/x"}, "weighted least squares (weights 1/x"),
])
def test_fit_kind_is_named_correctly(cal_args, name):
    x = np.array([1.0, 2, 5, 10, 20, 50])
    y = 10 * x + np.array([0.2, -0.2, 0.9, -0.9, 1.5, -2.0])
    cal = quorvex.fit(x, y, **cal_args)
    assert name in cal.summary().splitlines()[0]
    assert name in report.render(cal)["html"]


def test_print_rules_are_a_reusable_stylesheet():
    css = report.CSS
    assert "@media print" in css and "@page" in css and "counter(page)" in css
    assert "table-header-group" in css and ".scroll{overflow:visible}" in css


def test_large_data_keeps_the_page_bounded(tmp_path):
    n = 3000
    x = np.linspace(1, 100, n)
    y = 2 * x + 1 + np.sin(np.arange(n)) * 0.1
    cal = quorvex.fit(x, y)
    r = report.render(cal, (np.linspace(5, 150, n), 0.1),
                      sample_names=[f"s{i}" for i in range(n)])
    html = r["html"]
    assert f"The first {report.HTML_MAX_STANDARDS} of {n} standards" in html
    assert f"The first {report.HTML_MAX_SAMPLES} of {n} samples" in html
    assert len(html) < 3_000_000 and len(r["svg"]) < 2_000_000
    assert len(r["results"]["standards"]) == n and r["csv"].count("\n") == n + 1


# Never overwritten --------------------------------------------------------------------

def test_second_fit_refuses_and_force_replaces(tmp_path, capsys):
    std = write(tmp_path / "std.csv", LINE)
    out = tmp_path / "out"
    assert run(["fit", std, "--x", "conc", "--y", "area", "--out", out, "-q"], capsys)[0] == 0
    before = files_of(out)
    write(std, LINE.replace("498", "499"))
    code, _, err = run(["fit", std, "--x", "conc", "--y", "area", "--out", out, "-q"], capsys)
    assert code == 1 and "--force" in err and len(err.strip().splitlines()) == 1
    assert files_of(out) == before
    code, _, err = run(["fit", std, "--x", "conc", "--y", "area", "--out", out, "-q",
                        "--force"], capsys)
    assert code == 0, err and files_of(out) != before


def test_invert_writes_its_own_files_and_carries_the_fit_over(tmp_path, capsys):
    std = write(tmp_path / "std.csv", LINE)
    smp = write(tmp_path / "run7.csv", REPLICATES)
    out = tmp_path / "out"
    assert run(["fit", std, "--x", "conc", "--y", "area", "--out", out, "-q", "--limits",
                "--title", "Lead, line 3", "--analyte", "lead", "--operator", "A. C."],
               capsys)[0] == 0
    before = files_of(out)
    code, _, err = run(["invert", out / "calibration.json", smp, "-q", "--reviewer", "R."],
                       capsys)
    assert code == 0, err
    after = files_of(out)
    assert {k: after[k] for k in before} == before  # the fit's files as they were
    assert {"report-run7.html", "results-run7.json", "samples-run7.csv",
            "calibration-run7.png", "calibration-run7.svg"} <= set(after)
    res = json.loads(after["results-run7.json"])["results"]
    assert res["title"] == "Lead, line 3"
    assert res["metadata"] == {"analyte": "lead", "operator": "A. C.", "reviewer": "R."}
    assert res["options"]["limits"] is True  # --limits carried over
    cal_hash = hashlib.sha256(before["calibration.json"]).hexdigest()
    assert {"role": "calibration", "file": "calibration.json",
            "sha256": cal_hash} .items() <= res["inputs"][0].items()
    assert cal_hash in after["report-run7.html"].decode()
    # A second invert of the same samples refuses, and leaves everything.
    code, _, err = run(["invert", out / "calibration.json", smp, "-q"], capsys)
    assert code == 1 and "--force" in err and files_of(out) == after


# Issue: a failed run leaves earlier outputs as they were -----------------------------

def test_a_failed_run_changes_nothing_and_leaves_no_temporary_file(tmp_path, capsys):
    std = write(tmp_path / "std.csv", LINE)
    out = tmp_path / "out"
    assert run(["fit", std, "--x", "conc", "--y", "area", "--out", out, "-q"], capsys)[0] == 0
    (out / "calibration.svg").unlink()
    (out / "calibration.svg").mkdir()
    before = {k: v for k, v in files_of(out).items() if k != "calibration.svg"}
    write(std, LINE.replace("498", "499"))
    code, _, err = run(["fit", std, "--x", "conc", "--y", "area", "--out", out, "-q",
                        "--force"], capsys)
    assert code == 1 and "calibration.svg" in err and "folder" in err
    assert {k: v for k, v in files_of(out).items() if k != "calibration.svg"} == before
    assert not [p for p in out.iterdir() if p.name.endswith(".tmp")]


def test_temporary_looking_files_quorvex_did_not_make_are_left_alone(tmp_path):
    # Names like the temporary files of earlier versions, of a dead process or a live
    # one, carry no journal of quorvex's own: they may belong to anyone, so they stay.
    dead = 2 ** 22 + 12345  # above the usual pid_max: no such process
    while True:
        try:
            os.kill(dead, 0)
        except ProcessLookupError:
            break
        except PermissionError:
            pass
        dead += 1
    stale = tmp_path / f".report.html.{dead}.abcd1234.tmp"
    live = tmp_path / f".report.html.{os.getpid()}.efgh5678.tmp"
    other = tmp_path / ".notes.txt.tmp"
    for p in (stale, live, other):
        p.write_bytes(b"x" * 10)
    _files.write_all({tmp_path / "report.html": "<p>new</p>"})
    assert stale.exists() and live.exists() and other.exists()
    assert (tmp_path / "report.html").read_text() == "<p>new</p>"


def test_write_all_without_overwrite_writes_nothing_when_one_exists(tmp_path):
    (tmp_path / "b.txt").write_text("old")
    with pytest.raises(_files.OutputExistsError) as e:
        _files.write_all({tmp_path / "a.txt": "1", tmp_path / "b.txt": "2"}, overwrite=False)
    assert isinstance(e.value, QuorvexError)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["b.txt"]


# ID columns ---------------------------------------------------------------------------

@pytest.mark.parametrize("header", ["Sample Name", "Sample ID", "Name", "ID", "Probe",
                                    "Probenname"])
def test_usual_id_headers_are_recognised(tmp_path, header):
    path = write(tmp_path / "s.csv", f"{header};Signal\nA-1;1,5\nB-2;2,5\n")
    s = tabular.read_samples(tabular.read_table(path))
    assert s.names == ["A-1", "B-2"] and s.columns["name"] == header


def test_which_id_column_is_said_and_a_missing_one_warned(tmp_path, capsys):
    std = write(tmp_path / "std.csv", LINE)
    smp = write(tmp_path / "smp.csv", "area\n120\n300\n")
    code, out, err = run(["fit", std, "--x", "conc", "--y", "area", "--samples", smp,
                          "--out", tmp_path / "o"], capsys)
    assert code == 0
    assert "standards' names from the column 'Sample Name'" in out
    assert "no ID column" in err and "--sample-name" in err
    rows = list(csv.DictReader(open(tmp_path / "o" / "samples.csv", newline="")))
    assert [r["sample"] for r in rows] == ["2", "3"]  # the file's rows
    page = (tmp_path / "o" / "report.html").read_text(encoding="utf-8")
    assert "<td class=\"t\">L6</td>" in page  # the standards' IDs in their table


def test_a_column_of_labels_is_not_taken_as_x_silently(tmp_path, capsys):
    std = write(tmp_path / "std.csv", "Level,Conc. mg/L,Signal\nL1,1,10\nL2,2,21\n"
                "L3,5,49\n")
    code, _, err = run(["fit", std, "--out", tmp_path / "o"], capsys)
    assert code == 1
    assert "'Level' was taken as x" in err and "--x" in err
    assert "'Conc. mg/L'" in err  # the numeric columns there are


# The picture --------------------------------------------------------------------------

def _label_boxes(fig):
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    renderer = FigureCanvasAgg(fig).get_renderer()
    fig.draw(renderer)
    top = fig.axes[0]
    from matplotlib.text import Text
    # The number's own text (an Annotation's extent includes its leader line)
    return [Text.get_window_extent(t, renderer) for t in top.texts
            if re.fullmatch(r"\d+", t.get_text())]


def test_sample_numbers_never_overlap_on_replicates():
    x = np.array([1.0, 2, 5, 10, 20, 50])
    cal = quorvex.fit(x, 10 * x + np.array([0.2, -0.2, 0.9, -0.9, 1.5, -2.0]))
    y = np.array([120, 121, 300, 301, 299.5, 302, 300.2, 55])
    names = ["Tap T-3", "River W-01", "rep 1", "rep 2", "rep 3", "rep 4", "rep 5", "x"]
    fig = cal.plot(samples=(y, 0.0), sample_names=names)
    boxes = _label_boxes(fig)
    assert len(boxes) == len(y)
    for i in range(len(boxes)):
        for j in range(i + 1, len(boxes)):
            assert not boxes[i].overlaps(boxes[j]), (i, j)
    listed = [t.get_text() for t in fig.axes[0].texts if t.get_text().startswith("samples")]
    assert listed and all(f"{k + 1}  {n}" in listed[0] for k, n in enumerate(names))


def test_log_axes_guides_at_the_threshold_and_print_resolution(tmp_path):
    x = np.array([0.01, 0.1, 1, 10, 100, 1000])
    cal = quorvex.fit(x, 3 * x + 0.01, u_y=0.01 + 0.01 * 3 * x)
    fig = cal.plot(log=True)
    assert fig.axes[0].get_xscale() == "log" and fig.axes[0].get_yscale() == "log"
    from quorvex.plot import outlier_guide
    guide = outlier_guide(cal)
    levels = sorted({round(ln.get_ydata()[0], 9) for ln in fig.axes[-1].lines
                     if ln.get_linestyle() == "--"})
    assert levels == [round(-guide, 9), round(guide, 9)]
    png = fig.save(tmp_path / "c.png").read_bytes()
    w = int.from_bytes(png[16:20], "big")
    assert w == round(quorvex.plot.FIGSIZE[0] * quorvex.plot.PRINT_DPI)  # 200 dpi


def test_tex_like_header_is_drawn_as_written(tmp_path, capsys):
    std = write(tmp_path / "tex.csv", "concentration ($x^$),y\n1,1\n2,2.1\n3,2.9\n4,4.2\n")
    code, _, err = run(["fit", std, "--out", tmp_path / "o", "-q"], capsys)
    assert code == 0, err


# Safe CSV -----------------------------------------------------------------------------

@pytest.mark.parametrize("name", ['=HYPERLINK("http://x","y")', "+1", "-2+3", "@SUM(A1)",
                                  "\tcmd", "\rcmd"])
def test_a_formula_like_name_stays_text_in_csv_and_html(name):
    x = np.array([1.0, 2, 3, 4])
    cal = quorvex.fit(x, 2 * x + np.array([0.01, -0.01, 0.02, 0.0]))
    r = report.render(cal, ([3.0, 5.0], 0.0), sample_names=[name, "<b>plain</b>"])
    cells = [row[0] for row in csv.reader(io.StringIO(r["csv"], newline=""))][1:]
    assert cells[0] == "'" + name.replace("\r", " ") and cells[1] == "<b>plain</b>"
    assert "&lt;b&gt;plain&lt;/b&gt;" in r["html"] and "<b>plain</b>" not in r["html"]


# Bounded reading ----------------------------------------------------------------------

def test_reading_is_bounded_with_a_clear_error(tmp_path, capsys):
    big = tmp_path / "big.csv"
    big.write_text("x,y\n" + "1,2\n" * 400)
    with pytest.raises(InputError, match="larger than 1000 bytes"):
        tabular.read_table(big, max_bytes=1000)
    long = write(tmp_path / "long.csv", "x,y\n1," + "2" * 5000 + "\n")
    with pytest.raises(InputError, match="line 2 is longer"):
        tabular.read_table(long, max_line=4096)
    # A header field beyond the csv module's own limit (128 KiB) reads.
    wide = write(tmp_path / "wide.csv", "a" * 200_000 + ",x,y\n1,1,2\n2,2,3\n3,3,4.1\n")
    assert tabular.read_table(wide).header[1] == "x"
    if os.path.exists("/dev/zero"):
        code, _, err = run(["fit", "/dev/zero", "--out", tmp_path / "o"], capsys)
        assert code == 1 and "larger than" in err and len(err.strip().splitlines()) == 1


def test_huge_responses_give_a_clear_error(tmp_path, capsys):
    with pytest.raises(QuorvexError, match="rescale"):
        quorvex.fit([1.0, 2, 3, 4], [1e200, 2e200, 3.1e200, 4e200]).u_coef
    std = write(tmp_path / "big.csv", "x,y\n1,1e200\n2,2e200\n3,3.1e200\n4,4e200\n")
    code, _, err = run(["fit", std, "--out", tmp_path / "o"], capsys)
    assert code == 1 and err.startswith("quorvex: error: big.csv:") and "rescale" in err
    assert len(err.strip().splitlines()) == 1 and not (tmp_path / "o").exists()


# Damaged calibration records ----------------------------------------------------------

@pytest.fixture(scope="module")
def record():
    x = np.array([0.0, 1, 2, 4, 6, 8, 10])
    return json.loads(quorvex.fit(x, 0.15 * x + 0.01 + 0.001 * np.sin(x), degree=2).to_json())


def _damage(rec, key, value):
    d = json.loads(json.dumps(rec))
    d[key] = value
    return d


DAMAGES = [
    ("interval", [float("nan"), float("nan")]), ("interval", [5.0, 1.0]), ("interval", [0]),
    ("coef", [0.1, float("nan"), 0.2]), ("coef", [0.1] * 12), ("coef", []),
    ("coef", ["1", 2, 3]), ("cov", [[1.0, 0.0], [0.0, 1.0]]), ("cov", "x"),
    ("x", [1.0, 2.0]), ("y", None), ("weights", [1.0] * 7 + [2.0]), ("u_y", [0.0] * 7),
    ("kind", "magic"), ("covariance", "both"), ("dof", 3.5), ("dof", 9), ("sres", -1.0),
    ("sres", "big"), ("status", True), ("notes", "text"), ("options", [1]),
    ("rinfo", [1, 2]), ("fitted", [1.0]), ("ids", ["1", "2"]),
]


@pytest.mark.parametrize("key,value", DAMAGES)
def test_a_damaged_record_is_refused_on_reading(record, key, value):
    with pytest.raises(InputError, match=key if key not in ("y",) else "y"):
        Calibration.from_json(json.dumps(_damage(record, key, value)))


def test_the_record_itself_reads_back(record):
    cal = Calibration.from_json(json.dumps(record))
    assert cal.to_json() == json.dumps(record)
    with pytest.raises(InputError):
        Calibration.from_json("{not json")


@pytest.mark.parametrize("key,value", DAMAGES[:6] + [("cov", [[1.0, 0.0], [0.0, 1.0]])])
def test_invert_refuses_a_damaged_calibration_in_one_line(tmp_path, capsys, record, key,
                                                          value):
    path = tmp_path / "calibration.json"
    path.write_text(json.dumps(_damage(record, key, value)))
    smp = write(tmp_path / "s.csv", "y\n0.5\n")
    code, _, err = run(["invert", path, smp, "--out", tmp_path / "o"], capsys)
    assert code == 1 and err.startswith("quorvex: error: calibration.json:")
    assert "unexpected" not in err and len(err.strip().splitlines()) == 1
    assert not (tmp_path / "o").exists()


def test_inversion_interval_ends_at_the_decimal_place_of_U(tmp_path, capsys):
    code, _, _ = run(["fit", STANDARDS, "--samples", SAMPLES, "--out", tmp_path / "r", "-q"],
                     capsys)
    assert code == 3  # written, though the straight line is not fit for use
    page = (tmp_path / "r" / "report.html").read_text()
    cells = re.findall(r"<td[^>]*>([0-9.]+) \([0-9.]+, [^)]*\)</td><td[^>]*>\[([0-9.]+), "
                       r"([0-9.]+)\]", page)
    assert cells
    for u, low, high in cells:
        places = len(u.split(".")[1]) if "." in u else 0
        for end in (low, high):
            assert (len(end.split(".")[1]) if "." in end else 0) == places


def test_monte_carlo_table_follows_the_rounding_rule():
    x = [0, 0, 1, 1, 2, 2, 5, 5, 10, 10, 20, 20]
    y = [0.011, 0.008, 0.162, 0.158, 0.309, 0.316, 0.752, 0.763, 1.462, 1.449, 2.768, 2.781]
    cal = quorvex.fit(x, y, u_y=0.005, degree=2)
    mc = cal.inverse([1.0, 2.0], u_y=0.005, method="monte-carlo", n=2000, seed=1)
    rows = mc.summary().splitlines()[2:4]
    for row in rows:
        m = re.search(r"(\S+) ± (\S+)\s+\[(\S+), (\S+)\]\s+(\S+) ± (\S+)", row)
        assert m, row
        x_mc, u_mc, low, high = m.group(1, 2, 3, 4)
        assert len(u_mc.replace("0.", "").lstrip("0")) == 2  # two significant digits
        places = len(u_mc.split(".")[1])
        for v in (x_mc, low, high):
            assert len(v.split(".")[1]) == places
