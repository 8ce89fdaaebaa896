"""The cases of ``quorvex validate`` that cover what a laboratory files, through the
command line: each passes on the library under test, names its reference file with its
SHA-256, and fails when a small fault is planted in what it checks (the command then
exits 1)."""
import dataclasses
import hashlib
import json

import pytest

from quorvex import _lab, cli, tabular
from quorvex import validation as V

NEW = ("inversion-intervals", "din32645-limits", "weighted-fit", "verdicts",
       "reading-an-export", "laboratory-library")


def validate(tmp_path, capsys):
    code = cli.main(["validate", "--out", str(tmp_path)])
    capsys.readouterr()
    rec = json.loads((tmp_path / "validation.json").read_text())
    return code, {c["id"]: c for c in rec["cases"]}


def test_the_laboratory_cases_pass_and_name_their_files(tmp_path, capsys):
    code, cases = validate(tmp_path, capsys)
    assert code == 0
    for cid in NEW:
        assert cases[cid]["status"] == "pass", cases[cid]
        assert len([c for c in cases[cid]["checks"] if not c["informative"]]) >= 3
    for cid in ("inversion-intervals", "din32645-limits", "weighted-fit"):
        for f in cases[cid]["files"]:
            raw = (V.REFERENCE_DIR / f["file"].split("/", 1)[1]).read_bytes()
            assert hashlib.sha256(raw).hexdigest() == f["sha256"]
    # Every published value of the references is compared.
    pub = [c for c in cases["inversion-intervals"]["checks"] if "printed" in c["quantity"]]
    assert len(pub) == 3 * 3  # thermostat 2 rows, chamber 1 row; estimate, lower, upper
    names = {c["quantity"] for c in cases["din32645-limits"]["checks"]}
    assert {"x_C (published)", "y_C (published)", "x_D (published)",
            "LOQ, k = 3 (published)"} <= names


def _wider_interval(monkeypatch):
    from quorvex import inverse
    real = inverse.inverse

    def faulty(*a, **k):
        p = real(*a, **k)
        return dataclasses.replace(p, low=p.low * (1 - 1e-9))
    monkeypatch.setattr(inverse, "inverse", faulty)


def _shifted_limits(monkeypatch):
    from quorvex import diagnostics
    real = diagnostics.detection_limits

    def faulty(*a, **k):
        d = real(*a, **k)
        return dataclasses.replace(d, x_critical=d.x_critical * (1 + 1e-9))
    monkeypatch.setattr(diagnostics, "detection_limits", faulty)


def _verdict_ignores_lack_of_fit(monkeypatch):
    from quorvex import _lab_verdicts
    real = _lab_verdicts.verdict

    def faulty(cal, crit, warn_only=()):
        return real(cal, crit, tuple(warn_only) + ("lack_of_fit",))
    monkeypatch.setattr(_lab_verdicts, "verdict", faulty)


def _comma_as_point(monkeypatch):
    real = tabular.parse_number
    monkeypatch.setattr(tabular, "parse_number",
                        lambda cell, decimal=".": real(cell.replace(",", ""), "."))


def _quantile_off(monkeypatch):
    real = _lab.quantile
    monkeypatch.setattr(_lab, "quantile", lambda *a: real(*a) * (1 + 1e-11))


@pytest.mark.parametrize("plant, must_fail", [
    (_wider_interval, "inversion-intervals"),
    (_shifted_limits, "din32645-limits"),
    (_verdict_ignores_lack_of_fit, "verdicts"),
    (_comma_as_point, "reading-an-export"),
    (_quantile_off, "laboratory-library"),
], ids=["interval 1e-9", "x_C 1e-9", "lack of fit ignored", "decimal comma", "quantile 1e-11"])
def test_a_planted_fault_fails_its_case_and_the_command(tmp_path, capsys, monkeypatch, plant,
                                                        must_fail):
    plant(monkeypatch)
    code, cases = validate(tmp_path, capsys)
    assert code == 1
    assert cases[must_fail]["status"] == "fail"


def test_a_missing_entry_point_fails(monkeypatch):
    monkeypatch.setitem(V.LAB_ENTRY_POINTS, "QVXL_NOT_THERE", 1)
    case = V._lab_entry_case()
    assert case.status == "fail" and "QVXL_NOT_THERE" in case.checks[0].note


def test_the_closed_form_fieller_interval_is_that_of_the_inequality():
    # Independent of the library: the ends solve the quadratic inequality with equality.
    ref = V.read_reference("GraybillIyer_thermostat")
    d = ref.table("data")
    L = V._line_sums(d["x"], d["y"])
    t = V._t_quantile(0.975, 6)
    q = 1 + 1 / L["n"]
    for xe in V._fieller_line(L, 104.0, t, q):
        lhs = (104.0 - L["a"] - L["b"] * xe) ** 2
        rhs = (t * L["s"]) ** 2 * (q + (xe - L["xbar"]) ** 2 / L["sxx"])
        assert lhs == pytest.approx(rhs, rel=1e-12)


def test_the_entry_point_list_is_the_libraries_export_list():
    # The case must know every function the library exports, with its argument count,
    # or a library missing a new one would validate.
    import re
    from pathlib import Path
    root = Path(__file__).resolve().parents[2]
    text = (root / "src" / "interface" / "QUORVEXlab1.def").read_text()
    exported = {m.group(1): int(m.group(2)) // 4
                for m in re.finditer(r"(QVXL_[A-Z0-9_]+)@(\d+)", text)}
    assert V.LAB_ENTRY_POINTS == exported
