"""``quorvex report RECORD`` renders the report of any calibration record: one the R
package saved (a committed file, python/tests/data/r-record-icpms.json, written by R's
save_calibration on an ICP-MS curve with 1/x² weighting), one the command line wrote,
and one Python's to_json wrote; an edited record is refused."""
import json
import shutil
from pathlib import Path

import pytest

import quorvex
from quorvex import cli

DATA = Path(__file__).resolve().parent / "data"
R_RECORD = DATA / "r-record-icpms.json"
REPO = Path(__file__).resolve().parents[2]


def run(argv, capsys):
    code = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def test_a_record_saved_by_r_renders_with_its_labels_and_criteria(tmp_path, capsys):
    rec = tmp_path / "icpms.json"
    shutil.copy(R_RECORD, rec)
    code, out, err = run(["report", rec, "--pictures", "png"], capsys)
    assert code == 0, err
    res = json.loads((tmp_path / "results-icpms.json").read_text())["results"]
    saved = json.loads(R_RECORD.read_text())
    # Independently: the same standards fitted by the Python package give the
    # record's coefficients to the bit, and the report shows them.
    cal = quorvex.fit(saved["x"], saved["y"], weighting="1/x2")
    assert cal.coef.tolist() == saved["coef"]
    assert res["coefficients"]["value"] == saved["coef"]
    assert res["labels"] == {"x": "Pb 208 Conc", "y": "Pb 208 CPS"}
    assert res["verdicts"]["criteria"]["tolerance"] == 10
    assert res["fit"]["kind"] == "ols" and res["headline"]["fit"].startswith(
        "weighted least squares (weights 1/x2")
    assert res["traceability"]["libraries"]["laboratory"]["sha256"]
    html = (tmp_path / "report-icpms.html").read_text()
    assert "Pb 208 Conc" in html and "±10 %" in html
    assert "wrote" in out


def test_the_report_of_a_fit_equals_the_fits_own(tmp_path, capsys):
    run(["fit", REPO / "examples" / "standards.csv", "--out", tmp_path, "--pictures", "png",
         "-q", "--criteria", "ich-m10"], capsys)
    code, _, err = run(["report", tmp_path / "calibration.json", "--pictures", "png", "-q"],
                       capsys)
    a = json.loads((tmp_path / "calibration.json").read_text())["results"]
    b = json.loads((tmp_path / "results-calibration.json").read_text())["results"]
    for k in ("coefficients", "headline", "standards", "labels"):
        assert a[k] == b[k], k
    assert a["verdicts"]["rows"] == b["verdicts"]["rows"]
    assert b["verdicts"]["criteria"]["preset"] == "ich-m10"


def test_a_python_to_json_record_renders(tmp_path, capsys):
    cal = quorvex.fit([1, 2, 3, 4, 5, 6], [2.02, 3.98, 6.05, 7.96, 10.03, 11.97])
    (tmp_path / "plain.json").write_text(cal.to_json())
    code, _, err = run(["report", tmp_path / "plain.json", "--pictures", "png", "-q"], capsys)
    assert code in (0, *(v for k, v in vars(cli).items() if k.startswith("EXIT_"))), err
    res = json.loads((tmp_path / "results-plain.json").read_text())["results"]
    assert res["coefficients"]["value"] == cal.coef.tolist()


def test_an_edited_record_is_refused_and_nothing_written(tmp_path, capsys):
    d = json.loads(R_RECORD.read_text())
    d["y"][2] *= 1.01
    (tmp_path / "edited.json").write_text(json.dumps(d))
    code, _, err = run(["report", tmp_path / "edited.json"], capsys)
    assert code == 1 and err.count("\n") == 1 and "edited.json" in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["edited.json"]


def test_samples_read_off_an_r_record(tmp_path, capsys):
    rec = tmp_path / "icpms.json"
    shutil.copy(R_RECORD, rec)
    (tmp_path / "run7.csv").write_text("Sample ID,Pb 208 CPS\nWater 1,52000\nWater 2,7300.0\n")
    code, _, err = run(["invert", rec, tmp_path / "run7.csv", "--pictures", "png", "-q"],
                       capsys)
    assert code in (0, *(v for k, v in vars(cli).items() if k.startswith("EXIT_"))), err
    res = json.loads((tmp_path / "results-run7.json").read_text())["results"]
    cal = quorvex.fit(json.loads(R_RECORD.read_text())["x"],
                      json.loads(R_RECORD.read_text())["y"], weighting="1/x2")
    pred = cal.inverse([52000.0, 7300.0])  # the second lies below the lowest standard
    assert res["samples"][0]["x"] == pred.x[0]
    assert res["samples"][1]["n_roots"] == 0 and "below the lowest standard" in \
        " ".join(res["samples"][1]["flags"])
