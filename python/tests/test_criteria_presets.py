"""Acceptance-criteria presets through the command line, on files shaped like instrument
exports: the preset named in the report and the record, its verdict against an
independent reading of its rule, a laboratory's criteria file saved and reused, and the
calibration's criteria carried to invert."""
import json
from pathlib import Path

import numpy as np
import pytest

from quorvex import cli
from quorvex.diagnostics import AcceptanceCriteria, load_criteria, save_criteria
from quorvex.errors import InputError

# An HPLC assay exported by a chromatography data system: five levels of 80 to 120 % of
# the test concentration, each injected three times, with a scatter of about 1 %: no
# outlier, no lack of fit, but one injection reads back 2.3 % high.
ASSAY = """\
Sample Name;Sample Type;Level;Amount (mg/L);Area (mAU*s)
STD-080-1;Standard;1;40,0;1201,9
STD-080-2;Standard;1;40,0;1206,2
STD-080-3;Standard;1;40,0;1198,0
STD-090-1;Standard;2;45,0;1337,6
STD-090-2;Standard;2;45,0;1344,6
STD-090-3;Standard;2;45,0;1335,9
STD-100-1;Standard;3;50,0;1503,2
STD-100-2;Standard;3;50,0;1534,0
STD-100-3;Standard;3;50,0;1493,2
STD-110-1;Standard;4;55,0;1639,9
STD-110-2;Standard;4;55,0;1661,9
STD-110-3;Standard;4;55,0;1659,3
STD-120-1;Standard;5;60,0;1804,6
STD-120-2;Standard;5;60,0;1779,5
STD-120-3;Standard;5;60,0;1801,7
"""


def run(argv, capsys):
    code = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def record(folder: Path) -> dict:
    return json.loads((folder / "calibration.json").read_text())["results"]


@pytest.fixture
def assay(tmp_path):
    p = tmp_path / "assay_export.csv"
    p.write_text(ASSAY, encoding="utf-8")
    return p


def fit(assay, tmp_path, capsys, name, *extra):
    out = tmp_path / name
    code, text, err = run(["fit", assay, "--x", "Amount (mg/L)", "--y", "Area (mAU*s)",
                           "--out", out, "--pictures", "png", *extra], capsys)
    assert code in (0, *cli_rejected_statuses()), err
    return record(out), text


def cli_rejected_statuses():
    # A rejected curve may have an exit status of its own.
    return tuple(v for k, v in vars(cli).items() if k.startswith("EXIT_") and isinstance(v, int))


def percent_errors(res):
    st = res["standards"]
    x = np.array([s["x"] for s in st])
    xb = np.array([s["back_calculated"] for s in st])
    return x, 100.0 * (xb - x) / x


def test_the_default_passes_the_assay_and_the_assay_preset_rejects_it(assay, tmp_path,
                                                                      capsys):
    res, text = fit(assay, tmp_path, capsys, "default")
    assert res["verdicts"]["criteria"]["preset"] == "quorvex"
    assert res["verdicts"]["fit_for_use"]
    assert "preset" in text and "quorvex's default" in text

    res, text = fit(assay, tmp_path, capsys, "assay", "--criteria", "assay")
    x, err = percent_errors(res)
    # Independently: every standard within 2 %, else the run fails.
    assert (np.abs(err) > 2.0).any()
    assert not res["verdicts"]["fit_for_use"]
    assert res["verdicts"]["criteria"]["preset"] == "assay"
    assert "NOT fit for use" in res["verdicts"]["verdict"]
    html = (tmp_path / "assay" / "report.html").read_text()
    assert "ICH Q2(R2)" in html and ">assay<" in html


def test_epa_rse_equals_an_independent_computation(assay, tmp_path, capsys):
    res, _ = fit(assay, tmp_path, capsys, "epa", "--criteria", "epa-8000d")
    x, err = percent_errors(res)
    rse = 100 * np.sqrt(np.sum((err / 100) ** 2) / (len(x) - 2))
    ex = res["diagnostics"]["extra"]
    assert ex["rse"] == pytest.approx(rse, rel=1e-12)
    assert ex["verdicts"] == ["not tested", "pass"]
    # Set the limit just below it: the same run is rejected, and with --warn-only warned.
    res, _ = fit(assay, tmp_path, capsys, "tight", "--criteria", "epa-8000d", "--rse-limit",
                 f"{0.99 * rse}")
    assert not res["verdicts"]["fit_for_use"]
    assert res["verdicts"]["criteria"]["preset"] == "epa-8000d (changed: rse_limit)"
    res, _ = fit(assay, tmp_path, capsys, "warned", "--criteria", "epa-8000d", "--rse-limit",
                 f"{0.99 * rse}", "--warn-only", "rse")
    assert res["verdicts"]["fit_for_use"]
    assert res["diagnostics"]["extra"]["verdicts"][1] == "warning"


def test_ich_m10_asks_for_six_levels(assay, tmp_path, capsys):
    res, text = fit(assay, tmp_path, capsys, "m10", "--criteria", "ich-m10")
    ex = res["diagnostics"]["extra"]
    assert ex["levels"] == 5 and ex["min_levels"] == 6
    assert not res["verdicts"]["fit_for_use"]
    assert "fewer than the 6 required" in res["verdicts"]["verdict"]
    # The statistical tests only warn under this preset.
    assert set(res["verdicts"]["criteria"]["warn_only"]) == {"goodness", "lack_of_fit",
                                                              "outliers"}
    res, _ = fit(assay, tmp_path, capsys, "m10-5", "--criteria", "ich-m10", "--min-levels", "5")
    assert res["verdicts"]["fit_for_use"]


def test_a_laboratory_file_round_trips_and_is_reused(assay, tmp_path, capsys):
    saved = tmp_path / "sop-12.json"
    res1, _ = fit(assay, tmp_path, capsys, "first", "--criteria", "ich-m10", "--min-levels",
                  "4", "--tolerance", "5", "--save-criteria", saved, "--criteria-name",
                  "SOP-12 rev 3")
    body = json.loads(saved.read_text())
    assert body["name"] == "SOP-12 rev 3"
    assert body["based_on"] == "ich-m10 (changed: tolerance, min_levels)"
    res2, _ = fit(assay, tmp_path, capsys, "second", "--criteria", saved)
    c1, c2 = res1["verdicts"]["criteria"], res2["verdicts"]["criteria"]
    assert c2["preset"] == "SOP-12 rev 3"
    assert {k: v for k, v in c1.items() if k != "preset"} == \
        {k: v for k, v in c2.items() if k != "preset"}
    assert res1["verdicts"]["rows"][:4] == res2["verdicts"]["rows"][:4]
    # An existing file is not replaced without --force.
    code, _, err = run(["fit", assay, "--x", "Amount (mg/L)", "--y", "Area (mAU*s)", "--out",
                        tmp_path / "third", "--save-criteria", saved], capsys)
    assert code == 1 and "exists" in err
    assert json.loads(saved.read_text()) == body


def test_invert_carries_the_calibrations_criteria(assay, tmp_path, capsys):
    fit(assay, tmp_path, capsys, "m10", "--criteria", "ich-m10", "--min-levels", "5")
    samples = tmp_path / "samples.csv"
    samples.write_text("Sample Name;Area (mAU*s)\nLot 7;1490,0\n", encoding="utf-8")
    cal = tmp_path / "m10" / "calibration.json"
    code, _, err = run(["invert", cal, samples, "--pictures", "png", "-q"], capsys)
    res = json.loads((tmp_path / "m10" / "results-samples.json").read_text())["results"]
    assert res["verdicts"]["criteria"]["preset"] == "ich-m10 (changed: min_levels)"
    assert res["verdicts"]["fit_for_use"]
    code, _, err = run(["invert", cal, samples, "--pictures", "png", "-q", "--force",
                        "--criteria", "assay"], capsys)
    res = json.loads((tmp_path / "m10" / "results-samples.json").read_text())["results"]
    assert res["verdicts"]["criteria"]["preset"] == "assay"
    assert not res["verdicts"]["fit_for_use"]


@pytest.mark.parametrize("content, message", [
    ("{", "not a file of criteria"),
    ('{"kind": "quorvex acceptance criteria", "criteria": {"tolerance": -1}}', "tolerance"),
    ('{"kind": "quorvex acceptance criteria", "criteria": {"tolerence": 5}}', "unknown"),
    ('{"kind": "quorvex acceptance criteria", "criteria": {"min_levels": 2.5}}', "min_levels"),
    ('{"kind": "something else", "criteria": {}}', "not a file of criteria"),
])
def test_bad_criteria_files_are_refused_with_one_line(assay, tmp_path, capsys, content,
                                                      message):
    bad = tmp_path / "bad.json"
    bad.write_text(content)
    code, out, err = run(["fit", assay, "--x", "Amount (mg/L)", "--y", "Area (mAU*s)",
                          "--out", tmp_path / "o", "--criteria", bad], capsys)
    assert code == 1 and message in err and err.count("\n") == 1
    assert not (tmp_path / "o").exists() or not any((tmp_path / "o").iterdir())


def test_unknown_preset_and_api_round_trip(tmp_path):
    with pytest.raises(InputError, match="unknown criteria preset"):
        AcceptanceCriteria.from_preset("ich-m11")
    for name in ("quorvex", "ich-m10", "epa-8000d", "epa-8000d-each", "assay"):
        c = AcceptanceCriteria.from_preset(name)
        save_criteria(c, tmp_path / f"{name}.json")
        back = load_criteria(tmp_path / f"{name}.json")
        assert back.to_dict() == {**c.to_dict(), "preset": name}
    # The default preset is the criteria's defaults.
    assert AcceptanceCriteria.from_preset("quorvex") == AcceptanceCriteria()
