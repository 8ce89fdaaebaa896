"""Standards named as the laboratory names them: by the file's ID column when it has unique
IDs, else by their 1-based data row; an exclusion may name either, as in Python and R."""
import json

import pytest

from quorvex import cli

STANDARDS = "id,conc,area\nS1,1,1.02\nS2,2,2.01\nS3,3,2.98\nS4,4,4.03\nS5,5,6.5\nS6,6,5.97\n" \
            "S7,7,7.01\nS8,8,8.02\n"


def _fit(tmp_path, capsys, text, *extra):
    f = tmp_path / "st.csv"
    f.write_text(text)
    out = tmp_path / f"out{len(list(tmp_path.iterdir()))}"
    code = cli.main(["fit", str(f), "--out", str(out), *extra])
    captured = capsys.readouterr()
    return code, captured.out + captured.err, out


@pytest.mark.parametrize("text, name", [
    (STANDARDS, "standard S5"),                                            # the ID column
    (STANDARDS.replace("S1,", "S5,"), "standard 5"),                       # IDs not unique
    ("conc,area\n" + "".join(l.split(",", 1)[1] + "\n"
                             for l in STANDARDS.splitlines()[1:]), "standard 5"),  # no IDs
])
def test_the_outlier_is_named_by_its_id_or_its_data_row(tmp_path, capsys, text, name):
    code, out, _ = _fit(tmp_path, capsys, text)
    assert code == cli.EXIT_NOT_FIT  # the outlier rejects the curve
    verdict = [line for line in out.splitlines() if "verdict" in line][0]
    assert name in verdict


@pytest.mark.parametrize("key", ["S5", "5"])
def test_exclude_by_id_or_by_data_row(tmp_path, capsys, key):
    code, out, folder = _fit(tmp_path, capsys, STANDARDS, "--exclude", f"{key}=pipetting")
    assert code == 0
    assert "standard S5 (x = 5, y = 6.5): pipetting" in out
    assert "verdict: fit for use" in out
    record = json.loads((folder / "calibration.json").read_text())
    assert "S5" not in json.dumps(record["ids"])


def test_exclude_of_an_unknown_standard_lists_the_names(tmp_path, capsys):
    code, out, _ = _fit(tmp_path, capsys, STANDARDS, "--exclude", "S9=x")
    assert code != 0
    assert "S9" in out and "S1, S2" in out
