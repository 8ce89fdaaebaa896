"""A laboratory's day through the command line, on files shaped as instruments export
them (examples/lab-day): a rejected curve flags every sample and exits 3; excluded
standards go before the fit's checks; replicate readings become one result; limits
are named by their definition with the reportable range; the reported value carries
the dilution factor.  Numbers are checked against the Python API and against sums and
quantiles computed here."""
import csv
import io
import json
from pathlib import Path

import numpy as np
import pytest
from scipy import stats

import quorvex
from quorvex import cli
from quorvex.errors import InputError

DAY = Path(__file__).resolve().parents[2] / "examples" / "lab-day"
REJECTED = "calibration not fit for use"


def run(argv, capsys):
    code = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def record(folder, name="calibration.json"):
    return json.loads((Path(folder) / name).read_text())


def rows(folder, name="samples.csv"):
    return list(csv.DictReader(io.StringIO((Path(folder) / name).read_text())))


FLUO = ["fit", DAY / "fluorescence-standards.csv", "--x", "Konz.", "--y", "Fluoreszenz",
        "--degree", 2, "--samples", DAY / "fluorescence-samples.csv"]
ICP = ["fit", DAY / "icpms-pb-standards.csv", "--x", "Pb 208 Conc [ ug/L ]", "--y",
       "Pb 208 CPS", "--weighting", "1/x2", "--samples", DAY / "icpms-pb-samples.csv",
       "--sample-y", "Pb 208 CPS"]
HPLC = ["fit", DAY / "hplc-assay-standards.csv", "--x", "Amount", "--y", "Peak Area",
        "--samples", DAY / "hplc-assay-samples.csv", "--sample-y", "Peak Area"]


# 1. A rejected curve is loud ---------------------------------------------------------

def test_a_rejected_curve_flags_every_sample_everywhere_and_exits_3(tmp_path, capsys):
    out = tmp_path / "fl"
    code, stdout, err = run(FLUO + ["--out", out], capsys)
    assert code == cli.EXIT_NOT_FIT == 3
    assert "not fit for use" in err and "exit status 3" in err
    rec = record(out)["results"]
    assert rec["verdicts"]["fit_for_use"] is False
    assert len(rec["samples"]) == 3 and all(REJECTED in r["flags"] for r in rec["samples"])
    assert all(REJECTED in r["flags"] for r in rows(out))
    assert sum(REJECTED in line for line in stdout.splitlines()) == 3
    page = (out / "report.html").read_text()
    banner = page.index('<div class="banner">CALIBRATION NOT FIT FOR USE')
    assert banner < page.index("<h2>")  # page 1, before every section
    # invert on that calibration: the same status and flags, its own files
    code, _, err = run(["invert", out / "calibration.json", DAY / "fluorescence-samples.csv",
                        "--y", "Fluoreszenz"], capsys)
    assert code == 3
    inv = record(out, "results-fluorescence-samples.json")["results"]
    assert all(REJECTED in r["flags"] for r in inv["samples"])
    # a criterion set to warn only does not reject: no flag, status 0
    code, _, _ = run(FLUO + ["--warn-only", "outliers", "--out", tmp_path / "w"], capsys)
    assert code == 0
    assert not any(REJECTED in r["flags"] for r in record(tmp_path / "w")["results"]["samples"])
    # the bad standard left out: accepted
    code, _, err = run(FLUO + ["--exclude", "Std 8=pipetting error", "--out", tmp_path / "x"],
                       capsys)
    assert code == 0, err
    assert record(tmp_path / "x")["results"]["verdicts"]["fit_for_use"] is True


# 2. Exclusions come first; one way to name a standard --------------------------------

def test_a_calibration_blank_excluded_lets_the_1_over_x2_fit_run(tmp_path, capsys):
    code, _, err = run(ICP + ["--out", tmp_path / "a"], capsys)
    assert code == 1 and "data row 1" in err and "--exclude" in err
    code, _, err = run(ICP + ["--exclude", "Cal Blank", "--out", tmp_path / "b"], capsys)
    assert code == 0, err
    cal = quorvex.Calibration.from_json((tmp_path / "b" / "calibration.json").read_text())
    assert cal.excluded[0]["standard"] == "Cal Blank" and cal.excluded[0]["x"] == 0.0
    text = (DAY / "icpms-pb-standards.csv").read_text().splitlines()[1:]
    x = np.array([float(t.split(",")[1]) for t in text])
    y = np.array([float(t.split(",")[2]) for t in text])
    api = quorvex.fit(x[1:], y[1:], weighting="1/x2")
    np.testing.assert_array_equal(cal.coef, api.coef)
    # the same standard by its data row
    code, _, _ = run(ICP + ["--exclude", "1=blank", "--out", tmp_path / "c"], capsys)
    assert code == 0
    c2 = quorvex.Calibration.from_json((tmp_path / "c" / "calibration.json").read_text())
    np.testing.assert_array_equal(c2.coef, cal.coef)


def test_an_ambiguous_standard_is_refused_listing_the_candidates(tmp_path, capsys):
    # IDs that are numbers: "2" is the ID of data row 3 and also data row 2.
    f = tmp_path / "s.csv"
    f.write_text("ID,conc,area\n1,1,1.1\n3,2,2.0\n2,3,3.1\n4,4,3.9\n5,5,5.2\n")
    code, _, err = run(["fit", f, "--exclude", "2=x", "--out", tmp_path / "o"], capsys)
    assert code == 1 and "ambiguous" in err
    assert "data row 2 (ID '3')" in err and "data row 3 (ID '2')" in err
    ids = ["1", "3", "2", "4", "5"]
    xs, ys = np.arange(1.0, 6.0), np.array([1.1, 2.0, 3.1, 3.9, 5.2])
    with pytest.raises(InputError, match="ambiguous"):
        quorvex.fit(xs, ys, ids=ids, exclude={"2": "x"})
    # a Python int is a data row, unambiguously
    cal = quorvex.fit(xs, ys, ids=ids, exclude={2: "x"})
    assert cal.excluded[0]["standard"] == "3"
    code, _, err = run(["fit", f, "--exclude", "5=x", "--exclude", "5=y",
                        "--out", tmp_path / "p"], capsys)
    assert code == 1 and "twice" in err


# 3. Replicate readings are combined ---------------------------------------------------

def test_duplicate_injections_become_one_result_with_an_agreement_check(tmp_path, capsys):
    out = tmp_path / "h"
    code, stdout, err = run(HPLC + ["--out", out], capsys)
    assert code == 0, err
    res = record(out)["results"]
    samples = res["samples"]
    assert len(samples) == 10 and [r["name"] for r in samples][:2] == ["TAB-01", "TAB-02"]
    raw = list(csv.DictReader(io.StringIO((DAY / "hplc-assay-samples.csv").read_text())))
    readings = {}
    for r in raw:
        readings.setdefault(r["Sample Name"], []).append(float(r["Peak Area (mAU*s)"]))
    cal = quorvex.Calibration.from_json((out / "calibration.json").read_text())
    means = np.array([np.mean(readings[r["name"]]) for r in samples])
    ref = cal.inverse(means, replicates=2)
    np.testing.assert_allclose([r["y"] for r in samples], means, rtol=1e-15)
    assert [r["x"] for r in samples] == pytest.approx(ref.x.tolist(), rel=1e-14)
    assert [r["u_y"] for r in samples] == pytest.approx((cal.sres / np.sqrt(2)) * np.ones(10),
                                                        rel=1e-14)
    flagged = [r["name"] for r in samples if any("replicates disagree" in f for f in r["flags"])]
    assert flagged == ["TAB-07"]
    for r in samples:  # the F test of the readings' variance against the fit's
        s2 = np.var(readings[r["name"]], ddof=1)
        p = stats.f.sf(s2 / cal.sres**2, 1, cal.dof)
        assert r["replicates"]["p"] == pytest.approx(p, rel=1e-9)
        assert r["replicates"]["readings"] == readings[r["name"]]
        assert r["replicates"]["m"] == 2
    single = rows(out)
    assert single[0]["readings"] == "; ".join(repr(v) for v in readings["TAB-01"])
    assert "m" in stdout.splitlines()[-14]
    # readings that are means of 4 injections each scatter by SRES / 2
    code, _, _ = run(HPLC + ["--replicates", 4, "--out", tmp_path / "m4"], capsys)
    for r in record(tmp_path / "m4")["results"]["samples"]:
        s2 = np.var(readings[r["name"]], ddof=1)
        assert r["replicates"]["p"] == pytest.approx(stats.f.sf(4 * s2 / cal.sres**2, 1,
                                                                cal.dof), rel=1e-9)
        assert r["u_y"] == pytest.approx(cal.sres / np.sqrt(8), rel=1e-14)
    # --no-combine: twenty results; a laboratory's RSD limit instead of the F test
    code, _, _ = run(HPLC + ["--no-combine", "--out", tmp_path / "n"], capsys)
    assert code == 0 and len(rows(tmp_path / "n")) == 20
    code, _, _ = run(HPLC + ["--replicate-rsd", "0.5", "--out", tmp_path / "r"], capsys)
    rsd = {r["name"]: r["replicates"]["stat"] for r in record(tmp_path / "r")["results"]["samples"]}
    for name, v in readings.items():
        assert rsd[name] == pytest.approx(100 * np.std(v, ddof=1) / np.mean(v), rel=1e-12)


# 4. One set of limits, named ----------------------------------------------------------

def test_limits_are_named_and_the_reportable_range_stated(tmp_path, capsys):
    # Under 1/x2 nothing in the standards tells the blank's scatter: the run's blank
    # readings do.
    base = ICP + ["--exclude", "Cal Blank=calibration blank", "--limits", "--blank-readings",
                  DAY / "icpms-pb-blanks.csv"]
    code, _, err = run(base + ["--out", tmp_path / "d"], capsys)
    assert code == 0, err
    res = record(tmp_path / "d")["results"]
    lim = res["diagnostics"]["detection_limits"]
    rp = res["reporting"]
    assert rp["lod_definition"] == "ISO 11843-2 x_D"
    assert rp["lod"] == pytest.approx(lim["blank"] + lim["x_detection"], rel=1e-15)
    loq = lim["blank"] + max(lim["loq"], lim["loq_din"])
    assert rp["loq"] == pytest.approx(loq, rel=1e-15)
    assert rp["reportable_range"] == [max(loq, 0.1), 100.0]
    blank = res["samples"][0]
    assert blank["name"] == "Method Blank"
    assert any(f.startswith("below LOD") and "ISO 11843-2 x_D" in f for f in blank["flags"])
    assert any(f.startswith("below the reportable range (0.1 to 100") for f in blank["flags"])
    page = (tmp_path / "d" / "report.html").read_text()
    assert "Reportable range (ICH Q2(R2)): 0.1 to 100" in page
    assert "ICH Q2 LOQ 10σ/S" in page and "DIN 32645 LOQ x_Q" in page
    # the laboratory's choice: ICH's LOD, and "< limit" below the range
    code, _, _ = run(base + ["--lod", "ICH", "--below-range", "less-than-lod",
                             "--out", tmp_path / "i"], capsys)
    res = record(tmp_path / "i")["results"]
    assert res["reporting"]["lod_definition"] == "ICH 3.3 sigma/S"
    assert res["reporting"]["lod"] == pytest.approx(lim["blank"] + lim["lod"], rel=1e-15)
    table = {r["sample"]: r for r in rows(tmp_path / "i")}
    lod = res["reporting"]["lod"]
    assert table["Method Blank"]["reported"] == "< " + repr(lod)
    assert table["MW-01"]["reported"] == "< 0.1"  # above the LOD, below the range
    assert table["MW-02"]["reported"] == table["MW-02"]["x"]
    # invert keeps the fit's reporting rules unless told otherwise
    code, _, _ = run(["invert", tmp_path / "i" / "calibration.json",
                      DAY / "icpms-pb-samples.csv", "--y", "Pb 208 CPS"], capsys)
    again = record(tmp_path / "i", "results-icpms-pb-samples.json")["results"]["reporting"]
    assert again["lod_definition"] == "ICH 3.3 sigma/S" and again["below_range"] == "less-than-lod"


# 5. The reported value with its factor ------------------------------------------------

def test_the_reported_value_carries_the_dilution_factor(tmp_path, capsys):
    out = tmp_path / "f"
    code, stdout, err = run(ICP + ["--exclude", "Cal Blank=blank", "--factor-column",
                                   "Dil. Factor", "--u-factor", "0.05", "--out", out], capsys)
    assert code == 0, err
    for r in rows(out):
        if not r["x"]:
            continue
        x, ux, f = float(r["x"]), float(r["u_x"]), float(r["factor"])
        assert float(r["reported"]) == x * f
        assert float(r["reported_u"]) == pytest.approx(np.hypot(f * ux, 0.05 * x), rel=1e-14)
    diluted = [r for r in rows(out) if r["sample"] == "MW-05 x10"][0]
    assert float(diluted["factor"]) == 10.0 and float(diluted["u_factor"]) == 0.05
    assert "reported ± U" in stdout
    # an exact factor of 1 reports x with its U unchanged
    code, _, _ = run(ICP + ["--exclude", "Cal Blank=blank", "--factor", "1",
                            "--out", tmp_path / "one"], capsys)
    for r in rows(tmp_path / "one"):
        if r["x"]:  # (without a root, the straight line's reading extended, flagged)
            assert r["reported"] == r["x"] and r["reported_U"] == r["U"]
    code, _, err = run(ICP + ["--exclude", "Cal Blank=blank", "--factor", "2",
                              "--factor-column", "Dil. Factor", "--out", tmp_path / "z"], capsys)
    assert code == 1 and "not both" in err
    code, _, err = run(ICP + ["--exclude", "Cal Blank=blank", "--u-factor", "0.1",
                              "--out", tmp_path / "z"], capsys)
    assert code == 1 and "needs a factor" in err
