"""The quorvex command line end to end on small CSV files: outputs, round trips against
the API, every bad input with its one-line message and exit status, no partial files."""
import csv
import dataclasses
import json
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import quorvex
from quorvex import _files, cli, tabular

REPO = Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"
STANDARDS = EXAMPLES / "standards.csv"
SAMPLES = EXAMPLES / "samples.csv"

# The example standards as arrays (examples/standards.csv).
X = np.array([0, 0, 1, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10], dtype=float)
Y = np.array([0.0120, 0.0125, 0.1637, 0.3119, 0.3131, 0.6041, 0.6082, 0.8996, 0.8903,
              1.1650, 1.1718, 1.4386, 1.4368])
UY = np.array([15, 15, 22, 28, 28, 39, 39, 51, 51, 62, 62, 72, 72]) / 1e4
UX = np.array([10, 10, 15, 20, 20, 30, 30, 40, 40, 50, 50, 60, 60]) / 1e3
SY = np.array([0.0850, 0.4520, 0.9310, 1.3050])
SUY = np.array([0.0020, 0.0035, 0.0053, 0.0067])



def finished(out) -> int:
    """The exit status of a run that wrote its files to ``out``: 0, or 3 where the
    calibration it recorded is not fit for use."""
    rec = json.loads((Path(out) / "calibration.json").read_text())
    return 0 if rec["results"]["verdicts"]["fit_for_use"] else cli.EXIT_NOT_FIT

def run(argv, capsys):
    code = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def read_samples_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def assert_samples_match(rows, pred, names=None):
    assert len(rows) == len(pred)
    for i, r in enumerate(rows):
        assert int(r["n_roots"]) == pred.n_roots[i]
        if pred.n_roots[i]:
            # Written as the shortest text that reads back to the same double.
            assert float(r["x"]) == pred.x[i]
            assert float(r["u_x"]) == pred.u_x[i]
        else:
            assert r["x"] == "" and "no root" in r["flags"]
        if names is not None:
            assert r["sample"] == names[i]


def test_fit_with_samples_writes_everything_and_matches_the_api(tmp_path, capsys):
    out = tmp_path / "out"
    code, stdout, err = run(["fit", STANDARDS, "--samples", SAMPLES, "--degree", 2,
                             "--interval", -0.5, 10.5, "--out", out], capsys)
    assert code == finished(out), err
    assert sorted(p.name for p in out.iterdir()) == [
        "calibration.json", "calibration.png", "calibration.svg", "manifest.json", "report.html",
        "samples.csv"]
    for p in out.iterdir():
        assert p.stat().st_size > 0 and (p.stat().st_mode & 0o777) == 0o644
    text = (out / "calibration.json").read_text()
    back = quorvex.Calibration.from_json(text)
    # standards are named by their 1-based data rows, as in Python and R
    lines = Path(STANDARDS).read_text().splitlines()
    data = [t for t in lines if t.strip() and not t.startswith("#")][1:]
    assert list(back.ids) == [str(k + 1) for k in range(len(data))]
    api = quorvex.fit(X, Y, u_y=UY, u_x=UX, degree=2, interval=(-0.5, 10.5), ids=back.ids)
    assert back.to_json() == api.to_json()          # the calibration, exactly
    assert json.loads(text)["results"]["fit"]["degree"] == 2
    pred = api.inverse(SY, SUY)
    assert_samples_match(read_samples_csv(out / "samples.csv"), pred,
                         ["well A1", "well A2", "well B1", "well B2"])
    assert "errors in variables" in stdout and "well B2" in stdout
    assert "wrote" in stdout and err == ""


def test_invert_a_saved_calibration(tmp_path, capsys):
    fitted = tmp_path / "fit"
    assert run(["fit", STANDARDS, "--degree", 2, "--out", fitted, "-q"], capsys)[0] == 0
    assert not (fitted / "samples.csv").exists()
    before = json.loads((fitted / "calibration.json").read_text())
    assert before["results"]["samples"] is None
    fit_files = {p.name: p.read_bytes() for p in fitted.iterdir()}
    code, stdout, err = run(["invert", fitted / "calibration.json", SAMPLES], capsys)
    assert code == 0, err
    # invert writes files of its own, named after the samples file, and leaves the fit's.
    assert {p.name: p.read_bytes() for p in fitted.iterdir() if p.name in fit_files} == fit_files
    stem = Path(SAMPLES).stem
    cal = quorvex.Calibration.from_json((fitted / "calibration.json").read_text())
    assert cal.to_json() == quorvex.fit(X, Y, u_y=UY, u_x=UX, degree=2, ids=cal.ids).to_json()
    assert_samples_match(read_samples_csv(fitted / f"samples-{stem}.csv"), cal.inverse(SY, SUY))
    after = json.loads((fitted / f"results-{stem}.json").read_text())
    assert [r["name"] for r in after["results"]["samples"]][0] == "well A1"
    assert after["results"]["labels"]["x"] == "concentration"
    assert "well B1" in (fitted / f"report-{stem}.html").read_text()
    # A plain to_json file works as well, and --out puts the outputs elsewhere.
    plain = tmp_path / "plain.json"
    plain.write_text(cal.to_json())
    code, _, err = run(["invert", plain, SAMPLES, "--out", tmp_path / "elsewhere", "-q"], capsys)
    assert code == 0, err
    assert (tmp_path / "elsewhere" / f"samples-{stem}.csv").read_text() == \
        (fitted / f"samples-{stem}.csv").read_text()


def write_standards(path, sep=",", decimal=".", encoding="utf-8", header=None):
    header = header or ["Concentration (mg/L)", "Signal", "u_signal"]
    lines = [sep.join(header)]
    for x, y, u in zip(X, Y, UY):
        cells = [repr(float(v)).replace(".", decimal) for v in (x, y, u)]
        lines.append(sep.join(cells))
    path.write_bytes(("\r\n".join(lines) + "\r\n").encode(encoding))
    return path


@pytest.mark.parametrize("sep,decimal,encoding", [
    (",", ".", "utf-8"), (";", ",", "utf-8"), ("\t", ".", "utf-8-sig"), ("\t", ",", "utf-16"),
    (";", ".", "cp1252"),
])
def test_separators_decimal_commas_and_encodings_are_recognised(tmp_path, capsys, sep, decimal,
                                                                encoding):
    f = write_standards(tmp_path / "s.csv", sep, decimal, encoding,
                        header=["Concentration (µg/L)", "Signal", "u_signal"])
    code, _, err = run(["fit", f, "--out", tmp_path / "o", "-q"], capsys)
    assert code == finished(tmp_path / "o"), err
    cal = quorvex.Calibration.from_json((tmp_path / "o" / "calibration.json").read_text())
    assert cal.to_json() == quorvex.fit(X, Y, u_y=UY, ids=cal.ids).to_json()  # ids: file rows
    labels = json.loads((tmp_path / "o" / "calibration.json").read_text())["results"]["labels"]
    assert labels == {"x": "Concentration", "x_unit": "µg/L", "y": "Signal", "y_unit": None}


def test_columns_by_name_or_number_and_options_override(tmp_path, capsys):
    f = write_standards(tmp_path / "s.csv", ";", ",", header=["a", "b", "c"])
    code, _, err = run(["fit", f, "--x", "A", "--y", "2", "--uy", "c", "--out", tmp_path / "o",
                        "-q", "--delimiter", "semicolon", "--decimal", ","], capsys)
    assert code == finished(tmp_path / "o"), err
    cal = quorvex.Calibration.from_json((tmp_path / "o" / "calibration.json").read_text())
    assert np.array_equal(cal.coef, quorvex.fit(X, Y, u_y=UY).coef)
    # The wrong separator forced: one column, named in the message.
    code, _, err = run(["fit", f, "--delimiter", "comma", "--out", tmp_path / "p"], capsys)
    assert code == 1 and "row 2 has 4 cells but the header has 1 (separator: comma)" in err


TEXT = "x,y,u_y\n0,0.1,0.1\n1,1.1,0.1\n2,1.9,0.1\n3,3.2,0.1\n"
BAD = [  # (name, content (str or bytes), extra args, exit status, fragments of the message)
    ("missing column", "conc,response\n1,2\n2,3\n", ["--x", "dose"], 1,
     ["no column 'dose'", "'conc', 'response'"]),
    ("no default column", "a,b\n1,2\n2,3\n", [], 1, ["no x column", "'a', 'b'", "--x"]),
    ("extra cell", "x,y\n1,2\n2,3\n3,4,5x\n", [], 1, ["row 4", "3 cells"]),
    ("non-numeric cell", "# comment\nx;y\n1;2\n2;3,5\n3;abc\n", [], 1,
     ["row 5", "column 'y'", "'abc' is not a number"]),
    ("empty cell", "x,y\n1,2\n,3\n3,4\n", [], 1, ["row 3", "column 'x'", "empty"]),
    ("not finite", "x,y\n1,2\n2,nan\n3,4\n", [], 1, ["row 3", "'nan' is not a number"]),
    ("too few standards", "x,y\n1,2\n2,3\n3,5\n", ["--degree", "3"], 1,
     ["3 standards cannot determine 4 coefficients"]),
    ("non-positive uncertainty", "x,y,u_y\n1,2,0.1\n2,3,0\n3,5,0.1\n", [], 1,
     ["row 3", "column 'u_y'", "uncertainty 0 is not positive"]),
    ("negative uncertainty", "x,y,u_x,u_y\n1,2,-0.1,0.1\n2,3,0.1,0.1\n3,5,0.1,0.1\n", [], 1,
     ["row 2", "column 'u_x'", "not positive"]),
    ("empty file", "", [], 1, ["is empty"]),
    ("blank file", "\n \n", [], 1, ["is empty"]),
    ("header only", "x,y,u_y\n", [], 1, ["a header but no data rows"]),
    ("not text", b"\x7fELF\x02\x01\x01\x00\x00\x00\x00", [], 1, ["is not a text file"]),
    ("not text", b"x,y\n1,\x01\x02\n", [], 1, ["is not a text file"]),
    ("workbook", b"PK\x03\x04\x14\x00\x06\x00", [], 1, ["spreadsheet workbook", "as CSV"]),
    ("same x", "x,y\n1,2\n1,3\n", [], 1, ["distinct x"]),
    ("u_x without u_y", "x,y,u_x\n1,2,0.1\n2,3,0.1\n3,5,0.1\n", [], 1, ["need", "--uy"]),
    ("iteration limit", "x,y,u_x,u_y\n0,0.1,0.1,0.1\n1,1.3,0.1,0.1\n2,1.7,0.1,0.1\n"
     "3,3.4,0.1,0.1\n4,3.8,0.1,0.1\n", ["--maxit", "1"], 1, ["iteration limit"]),
    ("bad degree", TEXT, ["--degree", "ten"], 2, ["'auto'"]),
    ("bad level", TEXT, ["--band", "95"], 2, ["between 0 and 1"]),
    ("unknown option", TEXT, ["--colour", "red"], 2, ["unrecognized arguments"]),
]


@pytest.mark.parametrize("name,content,extra,status,fragments", BAD,
                         ids=[b[0] for b in BAD])
def test_bad_input_one_line_and_no_output(tmp_path, capsys, name, content, extra, status,
                                          fragments):
    f = tmp_path / "standards.csv"
    f.write_bytes(content if isinstance(content, bytes) else content.encode())
    out = tmp_path / "out"
    with pytest.raises(SystemExit) if status == 2 else _nothing() as exc:
        code, stdout, err = run(["fit", f, "--out", out, *extra], capsys)
    if status == 2:
        code = exc.value.code
        err = capsys.readouterr().err
    assert code == status
    assert err.startswith("quorvex: error: ") and err.count("\n") == 1, err
    for frag in fragments:
        assert frag in err
    assert not out.exists()


class _nothing:
    def __enter__(self):
        return None

    def __exit__(self, *exc):
        return False


def test_missing_file_and_bad_calibration(tmp_path, capsys):
    code, _, err = run(["fit", tmp_path / "none.csv", "--out", tmp_path / "o"], capsys)
    assert code == 1 and "none.csv: no such file or directory" in err
    bad = tmp_path / "cal.json"
    for text, frag in (("{", "not a JSON file"), ('{"a": 1}', "not a quorvex calibration"),
                       ('{"format": "quorvex.Calibration", "coef": [1]}', "damaged")):
        bad.write_text(text)
        code, _, err = run(["invert", bad, SAMPLES, "--out", tmp_path / "o"], capsys)
        assert code == 1 and frag in err and err.count("\n") == 1, err
    samples = tmp_path / "s.csv"
    samples.write_text("sample,absorbance,u(absorbance)\nA,0.1,-0.01\n")
    good = tmp_path / "good.json"
    good.write_text(quorvex.fit(X, Y, u_y=UY).to_json())
    code, _, err = run(["invert", good, samples, "--out", tmp_path / "o"], capsys)
    assert code == 1 and "row 2" in err and "negative" in err
    assert not (tmp_path / "o").exists()


def test_a_failed_run_keeps_the_previous_outputs_whole(tmp_path, capsys):
    out = tmp_path / "out"
    assert run(["fit", STANDARDS, "--samples", SAMPLES, "--out", out, "-q"], capsys)[0] == \
        finished(out)
    before = {p.name: p.read_bytes() for p in out.iterdir()}
    bad = tmp_path / "bad.csv"
    bad.write_text("x,y\n1,2\n2,oops\n")
    assert run(["fit", bad, "--out", out], capsys)[0] == 1
    assert {p.name: p.read_bytes() for p in out.iterdir()} == before


def test_writing_is_all_or_nothing(tmp_path):
    (tmp_path / "old.txt").write_text("old")
    blocker = tmp_path / "file"
    blocker.write_text("")
    with pytest.raises(OSError):
        # The second target's folder cannot be made: the first must not appear either.
        _files.write_all({tmp_path / "old.txt": "new", blocker / "x.txt": "x"})
    assert (tmp_path / "old.txt").read_text() == "old"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["file", "old.txt"]


def test_usable_but_not_clean_fit_writes_and_says_so(tmp_path, capsys, monkeypatch):
    real_fit = quorvex.fit

    def fit_with_status_2(*a, **k):
        cal = real_fit(*a, **k)
        return dataclasses.replace(cal, status=2, notes=(
            "iteration limit reached; only the residual change was below its tolerance "
            "(GLSPFIT status 2)",))

    monkeypatch.setattr(quorvex, "fit", fit_with_status_2)
    code, stdout, err = run(["fit", STANDARDS, "--degree", 2, "--out", tmp_path / "o"], capsys)
    assert code == 0
    assert "quorvex: warning: the fit is usable but not clean" in err
    assert "status 2" in (tmp_path / "o" / "report.html").read_text()
    assert (tmp_path / "o" / "calibration.png").stat().st_size > 0


def test_no_degrees_of_freedom_still_writes_the_report_without_a_band(tmp_path, capsys):
    f = tmp_path / "s.csv"
    f.write_text("x,y\n1,2\n2,3\n")
    out = tmp_path / "o"
    code, stdout, err = run(["fit", f, "--out", out], capsys)
    assert code == finished(out), err
    res = results_of(out)
    assert res["band"].startswith("no confidence band") and res["verdicts"]["fit_for_use"] is False
    assert "NOT fit for use (no degrees of freedom" in stdout
    assert "(no confidence band" in (out / "report.html").read_text()


def test_many_samples_in_chunks_equal_one_call(tmp_path, monkeypatch):
    cal = quorvex.fit(X, Y, u_y=UY, degree=2)
    y = np.linspace(-0.1, 1.6, 1003)
    u = np.full_like(y, 0.003)
    monkeypatch.setattr(cli, "PROGRESS_MIN", 100)
    monkeypatch.setattr(cli, "PROGRESS_CHUNK", 97)
    chunked = cli.invert(cal, y, u)
    whole = cal.inverse(y, u)
    for name in ("n_roots", "roots", "u_roots", "y", "u_y"):
        assert np.array_equal(getattr(chunked, name), getattr(whole, name), equal_nan=True)


def test_reader_details(tmp_path):
    f = tmp_path / "t.csv"
    f.write_text('# exported\n\n"Conc. (mg/L)";"Abs";"Note"\n1,5;0,25;"a; b"\n2;0,5;\n\n')
    t = tabular.read_table(f)
    assert (t.delimiter, t.decimal, t.lines) == (";", ",", [4, 5])
    assert t.find("x", "conc.") == 0 and t.texts(2) == ["a; b", ""]
    assert np.array_equal(t.numbers(0), [1.5, 2.0])
    f.write_text("sep=;\nx;y\n1,5;2\n")
    t = tabular.read_table(f)
    assert (t.delimiter, t.decimal, t.header, t.lines) == (";", ",", ["x", "y"], [3])
    for cell, value in (("1e-3", 1e-3), ("-.5", -0.5), ("+2,", 2.0), ("1_0", None),
                        ("inf", None), ("1.234,5", None), ("0x10", None)):
        assert tabular.parse_number(cell, ",") == value, cell


def test_module_entry_point_without_traceback(tmp_path):
    env = dict(os.environ, PYTHONPATH=str(REPO / "python"))
    bad = tmp_path / "b.csv"
    bad.write_text("x,y\n1,2\n")
    p = subprocess.run([sys.executable, "-m", "quorvex", "fit", str(bad), "--degree", "1",
                        "--out", str(tmp_path / "o")], capture_output=True, text=True, env=env)
    assert p.returncode == 1 and p.stdout == ""
    assert p.stderr == "quorvex: error: b.csv: 1 standards cannot determine 2 coefficients\n"
    p = subprocess.run([sys.executable, "-m", "quorvex", "--help"], capture_output=True,
                       text=True, env=env)
    assert p.returncode == 0 and "fit" in p.stdout and "invert" in p.stdout


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX venv layout")
def test_console_script_from_the_offline_install(tmp_path, libpath):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)],
                   check=True)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("QUORVEX_", "PYTHON"))}
    subprocess.run([str(venv / "bin" / "pip"), "install", "-q", "--no-index",
                    "--no-build-isolation", str(REPO / "python")], check=True,
                   env=dict(env, QUORVEX_LIBRARY=libpath), cwd=tmp_path)
    p = subprocess.run([str(venv / "bin" / "quorvex"), "fit", str(STANDARDS), "--samples",
                        str(SAMPLES), "--degree", "2", "--out", "report", "-q"], env=env,
                       cwd=tmp_path, capture_output=True, text=True)
    assert p.returncode == 0, p.stderr
    assert (tmp_path / "report" / "report.html").exists()
    assert (tmp_path / "report" / "samples.csv").read_text().count("well") == 4


def results_of(out):
    return json.loads((out / "calibration.json").read_text())["results"]


def test_degree_auto_is_select_degree_and_its_table_stays_in_the_report(tmp_path, capsys):
    out = tmp_path / "o"
    code, stdout, err = run(["fit", STANDARDS, "--degree", "auto", "--out", out], capsys)
    assert code == 0, err
    cal = quorvex.Calibration.from_json((out / "calibration.json").read_text())
    sel = quorvex.select_degree(X, Y, u_y=UY, u_x=UX, degrees=range(1, 6), ids=cal.ids)
    assert cal.to_json() == sel.calibration.to_json()
    assert sel.summary() in stdout
    res = results_of(out)
    assert res["options"]["degree"] == "auto" and res["options"]["degree_chosen"] == cal.degree
    table = res["degree_selection"]
    assert table["recommended"] == sel.recommended and table["reason"] == sel.reason
    assert [r["chi2"] for r in table["rows"]] == [r.chi2 for r in sel.rows]
    page = (out / "report.html").read_text()
    assert "<h2>Choice of degree</h2>" in page and f"Recommended degree {sel.recommended}" in page
    # Reading samples off the saved calibration keeps the table in the updated report.
    code, _, err = run(["invert", out / "calibration.json", SAMPLES, "-q"], capsys)
    assert code == 0, err
    assert results_of(out)["degree_selection"] == table
    assert "<h2>Choice of degree</h2>" in (out / "report.html").read_text()


def test_weighting_is_the_fits_preset(tmp_path, capsys):
    keep = X > 0  # the presets need x > 0
    f = tmp_path / "s.csv"
    f.write_text("x,y\n" + "".join(f"{a!r},{b!r}\n" for a, b in zip(X[keep], Y[keep])))
    for preset in ("1/x", "1/x2"):
        out = tmp_path / preset.replace("/", "_")
        code, stdout, err = run(["fit", f, "--weighting", preset, "--out", out], capsys)
        assert code == finished(out), err
        back = quorvex.Calibration.from_json((out / "calibration.json").read_text())
        api = quorvex.fit(X[keep], Y[keep], weighting=preset, ids=back.ids)
        assert back.to_json() == api.to_json() and back.options["weighting"] == preset
        assert results_of(out)["options"]["weighting"] == preset
        assert api.summary() in stdout
    # A file with uncertainty columns: they are left out, with a warning.
    good = tmp_path / "g.csv"
    good.write_text("".join(l for l in STANDARDS.read_text().splitlines(True)
                            if not l.startswith(("0.0,", "#"))))
    code, _, err = run(["fit", good, "--weighting", "1/x", "--out", tmp_path / "w", "-q"],
                       capsys)
    assert code == finished(tmp_path / "w")
    assert "not used; the uncertainties come from the scatter" in err
    back = quorvex.Calibration.from_json((tmp_path / "w" / "calibration.json").read_text())
    assert back.to_json() == quorvex.fit(X[keep], Y[keep], weighting="1/x",
                                         ids=back.ids).to_json()
    # Named uncertainty columns and a preset contradict each other; an x of 0 is refused.
    for args, frag in ((["--uy", "u(absorbance)"], "cannot be used with --uy"),
                       ([], "data row 1 (line 4): --weighting 1/x needs every x > 0, not 0")):
        code, _, err = run(["fit", STANDARDS if not args else good, "--weighting", "1/x",
                            *args, "--out", tmp_path / "bad"], capsys)
        assert code == 1 and frag in err and err.count("\n") == 1, err
    assert not (tmp_path / "bad").exists()


def test_monte_carlo_is_the_api_with_the_same_seed(tmp_path, capsys):
    out = tmp_path / "o"
    code, stdout, err = run(["fit", STANDARDS, "--samples", SAMPLES, "--degree", 2,
                             "--monte-carlo", 2000, "--seed", 11, "--out", out], capsys)
    assert code == 0, err
    cal = quorvex.fit(X, Y, u_y=UY, u_x=UX, degree=2)
    mc = cal.inverse(SY, SUY, method="monte-carlo", n=2000, seed=11)
    assert mc.summary() in stdout
    rows = read_samples_csv(out / "samples.csv")
    for i, r in enumerate(rows):
        for k in ("x", "u_x", "median", "low", "high", "no_root", "several_roots"):
            assert float(r[f"mc_{k}"]) == getattr(mc, k)[i], k
        assert r["mc_agrees"] == ("yes" if mc.agrees[i] else "no")
    res = results_of(out)["monte_carlo"]
    assert res["draws"] == 2000 and res["seed"] == 11 and len(res["samples"]) == 4
    assert [r["agrees"] for r in res["samples"]] == mc.agrees.tolist()
    page = (out / "report.html").read_text()
    section = page[page.index("<h2>Monte Carlo inverse prediction</h2>"):]
    section = section[:section.index("</table>")]
    assert section.count("<tr") == 1 + 4 and "well B2" in section
    assert "confirmed" in section and '"batches"' not in page


def test_limits_and_verdicts_are_the_diagnostics(tmp_path, capsys):
    f = tmp_path / "s.csv"
    y = Y.copy()
    y[7] += 0.05  # a gross error at x = 6
    f.write_text("x,y,u_y\n" + "".join(f"{a!r},{b!r},{u!r}\n" for a, b, u in zip(X, y, UY)))
    out = tmp_path / "o"
    code, stdout, err = run(["fit", f, "--degree", 2, "--limits", "--out", out], capsys)
    assert code == finished(out), err
    cal = quorvex.fit(X, y, u_y=UY, degree=2, ids=[str(k + 1) for k in range(len(X))])
    assert cal.summary(limits=True) in stdout and "NOT fit for use" in stdout
    res = results_of(out)
    d = cal.diagnostics(limits=True)
    lim = res["diagnostics"]["detection_limits"]
    assert lim["lod"] == d.detection_limits["lod"] and lim["x_detection"] == \
        d.detection_limits["x_detection"]
    assert [bool(r["flag"]) for r in res["standards"]] == [
        i in {o["index"] for o in d.outliers} for i in range(len(X))]
    assert res["verdicts"]["fit_for_use"] is False and res["options"]["limits"] is True
    page = (out / "report.html").read_text()
    assert "<h2>Detection and quantification limits</h2>" in page
    assert "NOT fit for use" in page and '<tr class="flag"><td class="t">outlier' in page
