"""quorvex validate: every case passes on the library under test, the record identifies
the installation, a library whose coefficients are off by 1e-7 fails it, and the
independent pieces of the validation (York's iteration, the quadratic formula, the
digit measure, the criterion of the NIST sets) are right on their own."""
import hashlib
import json
import math
import os
import subprocess
import sys

import numpy as np
import pytest

import quorvex
from quorvex import _clib
from quorvex import validation as V

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PERTURB = V.PERTURBATION_VARIABLE


@pytest.fixture(scope="module")
def record(tmp_path_factory):
    out = tmp_path_factory.mktemp("validation")
    return quorvex.validate(out, operator="A. Operator", laboratory="Lab 7"), out


def test_every_case_passes_and_both_files_are_written(record):
    v, out = record
    assert v.passed, v.summary()
    assert {c.status for c in v.cases} <= {"pass", "skipped"}
    ids = [c.id for c in v.cases]
    for name in V.NIST_SETS:
        assert f"nist-{name.lower()}" in ids
    for cid in ("iso28037-6.3-first", "iso28037-6.3-second", "iso28037-7.4", "pearson-york",
                "inverse-quadratic", "monte-carlo-ux", "eiv-independent"):
        assert cid in ids
    data = json.loads((out / "validation.json").read_text(encoding="utf-8"))
    assert data["format"] == "quorvex.Validation" and data["passed"] is True
    assert len(data["cases"]) == len(v.cases)
    text = (out / "validation.html").read_text(encoding="utf-8")
    assert "PASSED" in text and "Lab 7" in text and "A. Operator" in text
    for c in v.cases:
        assert c.title.replace("'", "&#x27;") in text or c.title in text


def test_the_record_identifies_the_installation(record):
    v, _ = record
    env = v.environment
    lib = _clib.library().path
    assert env["library"]["path"] == str(lib)
    with open(os.path.realpath(lib), "rb") as f:
        assert env["library"]["sha256"] == hashlib.sha256(f.read()).hexdigest()
    assert env["package"]["version"] == quorvex.__version__
    assert env["library"]["version"] == quorvex.__version__
    assert env["numpy"] == np.__version__
    assert env["python"].startswith(".".join(map(str, sys.version_info[:2])))
    for key in ("platform", "processor", "machine", "date"):
        assert env[key]
    assert (env["operator"], env["laboratory"]) == ("A. Operator", "Lab 7")
    assert env["test_perturbation"] is None


def test_each_case_states_its_source_criterion_and_reason(record):
    v, _ = record
    for c in v.cases:
        assert c.source and c.criterion and c.reason and c.checks, c.id
        for k in c.checks:
            assert k.required == k.required, (c.id, k.quantity)
    # Every reference file is named with the hash of the copy read.
    for c in v.cases:
        for f in c.files:
            path = os.path.join(os.path.dirname(V.__file__), f["file"])
            with open(path, "rb") as fh:
                assert hashlib.sha256(fh.read()).hexdigest() == f["sha256"]


def test_nist_criterion_is_eight_digits_except_where_the_data_forbid(record):
    v, _ = record
    req = {c.id: [k.required for k in c.checks if k.quantity.startswith("B")]
           for c in v.cases if c.id.startswith("nist-")}
    assert req["nist-norris"] == [8.0, 8.0] and req["nist-pontius"] == [8.0] * 3
    # Wampler5's large residuals leave fewer digits to any double-precision method.
    assert min(req["nist-wampler5"]) < 7 and max(req["nist-wampler5"]) == 8.0
    assert all(r >= 6 for rs in req.values() for r in rs)


def test_data_digits_track_an_actual_perturbation_of_the_data():
    # The first-order condition estimate against the coefficients' change when the data
    # are perturbed by relative 1e-10 (far above rounding, still first order).
    ref = V.read_reference("Wampler5")
    x, y = ref.table("data")["x"], ref.table("data")["y"]
    b = np.array([float(r[1]) for r in ref.rows("certified")])
    allowed = V.data_digits(x, y, b)
    rng = np.random.default_rng(1)
    worst = np.zeros(6)
    for _ in range(20):
        xp = x * (1 + 1e-10 * rng.choice([-1, 1], x.size))
        yp = y * (1 + 1e-10 * rng.choice([-1, 1], y.size))
        bp, *_ = np.linalg.lstsq(np.vander(xp, 6, increasing=True), yp, rcond=None)
        worst = np.maximum(worst, np.abs(bp / b - 1))
    bound = 10.0 ** -allowed / V.EPS * 1e-10  # the estimate scaled to the 1e-10 change
    assert np.all(worst <= bound * 1.01)
    assert np.all(worst >= bound * 1e-2)


@pytest.mark.parametrize("obtained, reference, scale, expected", [
    (1.0 + 1e-7, 1.0, None, 7.0),
    (2.0, 2.0, None, 15.0),             # equal: capped at the certified digits
    (1.0 + 1e-17, 1.0, None, 15.0),
    (3e-10, 0.0, 1.0, -math.log10(3e-10)),  # certified 0: relative to the scale
    (-0.5, 1.0, None, -math.log10(1.5)),
])
def test_digits(obtained, reference, scale, expected):
    assert V.digits(obtained, reference, scale) == pytest.approx(expected, abs=1e-9)


def test_digits_of_a_non_finite_value_fail_the_check():
    c = V._digits_check("q", float("nan"), 1.0, 8.0)
    assert not c.passed
    c = V._u_check("q", float("inf"), 1.0, 0.1)
    assert not c.passed


@pytest.mark.parametrize("text, tol", [("0.465", 5e-4), ("-0.05", 5e-3), ("2.743", 5e-4),
                                       ("5.47991022403", 5e-12), ("1.5e-3", 5e-5),
                                       ("12", 0.5)])
def test_printed_tolerance_is_half_a_unit_in_the_last_digit(text, tol):
    assert V._printed_tolerance(text) == pytest.approx(tol, rel=1e-12)


def test_york_iteration_reproduces_the_50_digit_solution():
    ref = V.read_reference("PearsonYork")
    x, y, ux, uy = V._eiv_data(ref)
    r = {k: float(t) for k, t in ref.values("reference").items()}
    a, b, ua, ub, cab, s = V.york_line(x, y, ux, uy)
    assert a == pytest.approx(r["a"], rel=1e-12) and b == pytest.approx(r["b"], rel=1e-12)
    assert ua == pytest.approx(r["u_a_unscaled"], rel=1e-10)
    assert ub == pytest.approx(r["u_b_unscaled"], rel=1e-10)
    assert cab == pytest.approx(r["cov_ab_unscaled"], rel=1e-10)
    assert s == pytest.approx(r["S"], rel=1e-12)


@pytest.mark.parametrize("a, yv", [([1.0, 2.0, -0.15], 6.5), ([1.0, 2.0, -0.15], 3.0),
                                   ([1e-8, 1e4, 1.0], 0.0), ([2.0, 0.0, 1.0], 1.0)])
def test_quadratic_roots_against_numpy(a, yv):
    got = V.quadratic_roots(np.array(a), yv)
    want = np.roots([a[2], a[1], a[0] - yv])
    want = sorted(want.real) if np.all(np.isreal(want)) else []
    assert len(got) == len(want)
    for g, w in zip(got, want):
        assert g == pytest.approx(w, rel=1e-9, abs=1e-15)


def test_reference_files_parse_with_their_sources():
    for name in (*V.NIST_SETS, "ISO28037_6_3_ex1", "ISO28037_6_3_ex2", "ISO28037_7_4",
                 "PearsonYork"):
        ref = V.read_reference(name)
        n = int(ref.meta("n"))
        assert len(ref.rows("data")) == n
        assert V.source_text(ref).startswith(("NIST/ITL", "ISO/TS 28037", "data: K. Pearson"))
        assert len(ref.sha256) == 64


def test_a_case_that_cannot_complete_fails_without_stopping_the_others(monkeypatch):
    def broken():
        raise quorvex.FitError("planted fault")
    cases = V._cases()
    monkeypatch.setattr(V, "_cases", lambda: [cases[0], ("Broken case", broken)])
    v = quorvex.validate()
    assert not v.passed
    assert [c.status for c in v.cases] == ["pass", "fail"]
    assert "planted fault" in v.cases[1].error


def test_the_perturbed_library_fails_and_is_restored_afterwards(monkeypatch):
    x, y = np.arange(6.0), np.array([3.3, 5.6, 7.1, 9.3, 10.7, 12.1])
    before = quorvex.fit(x, y, u_y=0.5).coef.copy()
    monkeypatch.setenv(PERTURB, "1e-7")
    v = quorvex.validate()
    assert not v.passed and v.environment["test_perturbation"] == 1e-7
    failed = {c.id for c in v.failed}
    assert {f"nist-{n.lower()}" for n in V.NIST_SETS} <= failed
    assert "iso28037-7.4" in failed  # the errors-in-variables fit is perturbed too
    assert "NOT A VALIDATION" in V.verdict_text(v) and "NOT A VALIDATION" in v.to_html()
    after = quorvex.fit(x, y, u_y=0.5).coef
    assert np.array_equal(before, after)


def test_a_perturbation_below_every_criterion_still_marks_the_record(monkeypatch):
    monkeypatch.setenv(PERTURB, "1e-15")
    v = quorvex.validate()
    assert all(c.passed for c in v.cases)  # 1e-15 is rounding
    assert not v.passed  # but the record is never a validation


def _cli(args, tmp_path, **env):
    e = {k: v for k, v in os.environ.items() if k != PERTURB}
    e.update(PYTHONPATH=PYTHON_DIR, QUORVEX_LIBRARY=str(_clib.library().path), **env)
    return subprocess.run([sys.executable, "-m", "quorvex", *args], capture_output=True,
                          text=True, env=e, cwd=tmp_path)


def test_command_exit_status_zero_one_two(tmp_path):
    ok = _cli(["validate", "--out", "rec", "--operator", "B", "--laboratory", "L"], tmp_path)
    assert ok.returncode == 0, ok.stderr
    assert "PASSED" in ok.stdout and ok.stderr == ""
    assert json.loads((tmp_path / "rec" / "validation.json").read_text())["passed"] is True
    bad = _cli(["validate", "-q", "--out", "bad"], tmp_path, **{PERTURB: "1e-7"})
    assert bad.returncode == 1
    assert "NOT A VALIDATION" in bad.stdout and "Wampler5" in bad.stderr
    assert "Traceback" not in bad.stderr
    assert json.loads((tmp_path / "bad" / "validation.json").read_text())["passed"] is False
    usage = _cli(["validate", "--no-such-option"], tmp_path)
    assert usage.returncode == 2 and usage.stderr.count("\n") == 1


def test_command_that_cannot_write_says_so_in_one_line(tmp_path):
    (tmp_path / "file").write_text("not a folder")
    p = _cli(["validate", "--out", "file/sub"], tmp_path)
    assert p.returncode == 1
    assert p.stderr.startswith("quorvex: error:") and p.stderr.count("\n") == 1


def test_without_scipy_the_odr_comparison_is_said_to_be_missing(monkeypatch):
    monkeypatch.setitem(sys.modules, "scipy.odr", None)  # import fails
    case = V._eiv_independent_case()
    assert case.status == "pass"
    assert not any("scipy.odr (info" in k.note for k in case.checks)
    info = [k for k in case.checks if k.informative]
    assert len(info) == 1 and "not installed" in info[0].note
    assert sum(k.note == "York's iteration" for k in case.checks) == 12


def test_the_record_uses_the_calibration_report_style_with_print_rules(record):
    from quorvex import report
    v, _ = record
    page = v.to_html()
    base = getattr(report, "CSS", None) or report._CSS
    assert base in page and "@media print" in page
    # Every compared quantity is a row of the record, each with its verdict.
    n = sum(len(c.checks) for c in v.cases)
    assert page.count('<td class="t q">') == n


def test_a_case_that_compared_nothing_does_not_pass():
    empty = V.Case(id="e", title="e", source="s", method="m", criterion="c", reason="r")
    assert empty.status == "fail" and empty.worst() == "nothing was compared"
    only_info = V.Case(id="i", title="i", source="s", method="m", criterion="c", reason="r",
                       checks=[V.Check("q", 1.0, 1.0, "exact", 0.0, 0.0, informative=True)])
    assert only_info.status == "fail"


def _scaled_power_covariance(monkeypatch):
    from quorvex import curve
    real = curve.power_coefficients

    def faulty(cal, covariance=None):
        ps = real(cal, covariance)
        return curve.PowerSeries(ps.coef, ps.cov * (1 + 1e-6))
    monkeypatch.setattr(curve, "power_coefficients", faulty)


def _scaled_inverse_uncertainty(monkeypatch):
    import dataclasses
    from quorvex import inverse
    real = inverse.inverse

    def faulty(*args, **kwargs):
        p = real(*args, **kwargs)
        return dataclasses.replace(p, u_roots=p.u_roots * (1 + 1e-9))
    monkeypatch.setattr(inverse, "inverse", faulty)


def _scaled_evaluation(monkeypatch):
    from quorvex import _lab_curve
    real = _lab_curve.curve

    def faulty(coef, cov, xmin, xmax, x, what, extend=False):
        y, dy, u, istat = real(coef, cov, xmin, xmax, x, what, extend)
        return (None if y is None else y * (1 + 1e-10)), dy, u, istat
    monkeypatch.setattr(_lab_curve, "curve", faulty)


def _scaled_slope(monkeypatch):
    real = _clib.linear_conv

    def faulty(coef, cov, xmin, xmax):
        lcoef, lcov, istat = real(coef, cov, xmin, xmax)
        lcoef[0] *= 1 + 1e-10
        return lcoef, lcov, istat
    monkeypatch.setattr(_clib, "linear_conv", faulty)


@pytest.mark.parametrize("plant, must_fail", [
    # Wampler1 and 2 are exact fits: their standard deviations are rounding noise.
    (_scaled_power_covariance, {f"nist-{n.lower()}" for n in V.NIST_SETS
                                if n not in ("Wampler1", "Wampler2")}),
    (_scaled_inverse_uncertainty, {"iso28037-6.3-first", "iso28037-6.3-second",
                                   "inverse-quadratic"}),
    (_scaled_evaluation, {"iso28037-6.3-first"}),
    # The errors-in-variables cases see 1e-6 u, far more than 1e-10 of the slope.
    (_scaled_slope, {"iso28037-6.3-first", "iso28037-6.3-second"}),
], ids=["standard deviations 1e-6", "u(x) 1e-9", "POLYEVAL 1e-10", "slope 1e-10"])
def test_small_planted_faults_fail_the_cases_that_check_them(monkeypatch, plant, must_fail):
    plant(monkeypatch)
    v = quorvex.validate()
    assert must_fail <= {c.id for c in v.failed}, v.summary()
    assert not v.passed
