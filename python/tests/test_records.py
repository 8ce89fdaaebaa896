"""Records a laboratory can rely on: output sets whole under kills and races, no foreign
file removed, every edited record refused, hashes of the bytes parsed, bounds refused
before a run starts, and the faults a mutation campaign planted in this code."""
import errno
import json
import os
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import quorvex
from quorvex import Calibration, InputError, _files, cli, record, report, tabular, validation
from quorvex.calibration import schema

REPO = Path(__file__).resolve().parents[2]
STANDARDS = REPO / "examples" / "standards.csv"
SAMPLES = REPO / "examples" / "samples.csv"
OLD = {"a.html": b"old a", "b.json": b"old b", "c.csv": b"old c"}
NEW = {"a.html": b"new a", "b.json": b"new b", "d.png": b"new d"}


# The example's straight line fails its goodness-of-fit test: a run on it writes every
# file and exits with the command's status for a calibration not fit for use.
NOT_FIT = cli.EXIT_NOT_FIT

def run(argv, capsys):
    code = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def contents(folder):
    return {p.name: p.read_bytes() for p in Path(folder).iterdir()
            if p.is_file() and p.name != "manifest.json"}


def publish(folder, files, overwrite=True):
    return _files.write_all({folder / k: v for k, v in files.items()}, overwrite=overwrite,
                            manifest=folder / "manifest.json")


# Sets: whole or not at all -------------------------------------------------------------

def _steps(tmp_path):
    seen = []
    folder = tmp_path / "count"
    publish(folder, OLD)
    real = _files._hook
    _files._hook = lambda step, path: seen.append(step)
    try:
        publish(folder, NEW)
    finally:
        _files._hook = real
    return len(seen)


def test_a_kill_at_every_step_leaves_the_old_set_or_the_new_one(tmp_path):
    steps = _steps(tmp_path)
    assert steps >= len(NEW) * 2 + 3  # journal, staging, renames, removals, done
    for k in range(steps):
        folder = tmp_path / f"k{k}"
        publish(folder, OLD)
        pid = os.fork()
        if pid == 0:  # the run killed before its k-th change
            calls = []

            def hook(step, path):
                calls.append(step)
                if len(calls) > k:
                    os._exit(9)
            _files._hook = hook
            try:
                publish(folder, NEW)
            finally:
                os._exit(0)
        os.waitpid(pid, 0)
        try:
            _files.verify(folder, "manifest.json")
            verified = True
        except _files.DamagedSetError as e:
            verified = False
            assert "stopped while writing" in str(e)
        if verified:
            assert contents(folder) in (OLD, NEW), k
        with _files.lock(folder):
            _files.recover(folder)
        assert _files.verify(folder, "manifest.json") is not None
        assert contents(folder) in (OLD, NEW), k
        assert not [p for p in folder.iterdir() if p.name.startswith(".quorvex-")]


def test_a_losing_racer_removes_nothing_of_the_winner(tmp_path, monkeypatch):
    folder = tmp_path / "out"
    publish(folder, OLD)
    errors = {}

    def slow(step, path):  # every change of the folder waits a little
        time.sleep(0.01)

    monkeypatch.setattr(_files, "_hook", slow)

    def racer(name, files, overwrite):
        try:
            publish(folder, files, overwrite)
        except Exception as e:  # noqa: BLE001 - recorded for the assertions
            errors[name] = e

    a = threading.Thread(target=racer, args=("A", NEW, True))
    b = threading.Thread(target=racer, args=("B", {"a.html": b"B", "e.txt": b"B"}, False))
    a.start()
    b.start()
    a.join()
    b.join()
    assert "A" not in errors
    assert isinstance(errors["B"], _files.OutputExistsError)
    assert str(folder) in str(errors["B"]) and "a.html" in str(errors["B"])
    assert contents(folder) == NEW
    _files.verify(folder, "manifest.json")


def test_force_replaces_the_whole_earlier_set(tmp_path, capsys):
    out = tmp_path / "out"
    assert run(["fit", STANDARDS, "--samples", SAMPLES, "--pictures", "png,pdf", "--out", out,
                "-q"], capsys)[0] == NOT_FIT
    assert (out / "samples.csv").exists() and (out / "calibration.pdf").exists()
    assert run(["fit", STANDARDS, "--pictures", "svg", "--out", out, "-q", "--force"],
               capsys)[0] == NOT_FIT
    names = sorted(p.name for p in out.iterdir())
    assert names == ["calibration.json", "calibration.svg", "manifest.json", "report.html"]
    listed = _files.verify(out, "manifest.json")
    assert sorted(listed) == ["calibration.json", "calibration.svg", "report.html"]


def test_files_quorvex_did_not_make_are_never_removed(tmp_path):
    folder = tmp_path / "out"
    folder.mkdir()
    foreign = [".report.html.4194999.abcd.tmp", ".notes.abcdefgh.tmp",
               ".quorvex-0123456789abcdef.0.tmp", ".quorvex-journal-zz.json"]
    for name in foreign:
        (folder / name).write_bytes(b"someone else's")
        os.utime(folder / name, (0, 0))
    # A journal that is not quorvex's (wrong token) names a file: it is left alone too.
    (folder / ".quorvex-journal-0123456789abcdef.json").write_text(json.dumps(
        {"format": "quorvex.Journal", "token": "fedcba9876543210",
         "files": [{"tmp": "mine.txt", "target": "x", "sha256": "0"}]}))
    (folder / "mine.txt").write_text("keep")
    publish(folder, NEW)
    for name in foreign + ["mine.txt"]:
        assert (folder / name).exists(), name


def test_dangling_symlink_is_an_existing_target(tmp_path):
    (tmp_path / "a.html").symlink_to(tmp_path / "nowhere")
    with pytest.raises(_files.OutputExistsError):
        publish(tmp_path, NEW, overwrite=False)
    assert (tmp_path / "a.html").is_symlink() and not (tmp_path / "b.json").exists()


def test_a_full_disk_names_the_folder_and_changes_nothing(tmp_path, monkeypatch):
    folder = tmp_path / "out"
    publish(folder, OLD)

    def full(path, data, exclusive=True):
        if ".tmp" in Path(path).name:
            raise OSError(errno.ENOSPC, "No space left on device", str(path))
        return real(path, data, exclusive)
    real = _files._write_durable
    monkeypatch.setattr(_files, "_write_durable", full)
    with pytest.raises(_files.OutputError) as e:
        publish(folder, NEW)
    assert str(folder) in str(e.value) and "no space left" in str(e.value)
    assert contents(folder) == OLD
    assert not [p for p in folder.iterdir() if p.name.startswith(".quorvex-")]


def test_invert_refuses_a_set_that_does_not_match_its_manifest(tmp_path, capsys):
    out = tmp_path / "out"
    assert run(["fit", STANDARDS, "--out", out, "-q"], capsys)[0] == NOT_FIT
    assert run(["invert", out / "calibration.json", SAMPLES, "-q"], capsys)[0] == NOT_FIT
    with open(out / "report.html", "ab") as f:
        f.write(b"<!-- edited -->")
    code, _, err = run(["invert", out / "calibration.json", SAMPLES, "-q", "--force"], capsys)
    assert code == 1 and "report.html" in err and "manifest.json" in err
    assert err.count("\n") == 1


# Hashes of the bytes parsed ------------------------------------------------------------

def test_the_cited_hash_is_that_of_the_bytes_parsed(tmp_path, capsys, monkeypatch):
    std = tmp_path / "std.csv"
    original = STANDARDS.read_bytes()
    std.write_bytes(original)
    real = tabular.read_table

    def read_then_swap(path, *a, **k):
        table = real(path, *a, **k)
        Path(path).write_bytes(original.replace(b"0.0120", b"0.0999"))  # swapped meanwhile
        return table
    monkeypatch.setattr(tabular, "read_table", read_then_swap)
    out = tmp_path / "out"
    assert run(["fit", std, "--out", out, "-q"], capsys)[0] == NOT_FIT
    res = json.loads((out / "calibration.json").read_text())["results"]
    import hashlib
    assert res["inputs"][0]["sha256"] == hashlib.sha256(original).hexdigest()


# Edited records are refused, naming the field ------------------------------------------

def _record(kind="ols"):
    x = np.array([0.5, 1, 2, 4, 6, 8, 10.0])
    y = 0.3 + 2.1 * x + np.array([0.01, -0.02, 0.015, -0.01, 0.02, -0.015, 0.005])
    if kind == "gls":
        return quorvex.fit(x, y, u_y=0.02, u_x=0.01)
    return quorvex.fit(x, y, u_y=0.02)


def _edit(d, field, value):
    d = json.loads(json.dumps(d))
    if callable(value):
        value(d)
    else:
        d[field] = value
    return d


@pytest.mark.parametrize("kind, field, change", [
    ("ols", "cov", lambda d: d["cov"][0].__setitem__(1, -abs(d["cov"][0][1]) * 1e6 - 1)),
    ("ols", "cov_scaled", lambda d: d["cov_scaled"][1].__setitem__(1, float("nan"))),
    ("ols", "fitted", lambda d: d["fitted"].__setitem__(2, float("inf"))),
    ("ols", "residuals", lambda d: d["residuals"].__setitem__(0, -1.0)),
    ("ols", "chi2", lambda d: d.update(chi2=0.5)),
    ("ols", "weighted_residuals", lambda d: d["weighted_residuals"].__setitem__(
        0, float("nan"))),
    ("ols", "interval", [100.0, 200.0]),
    ("ols", "interval", [5.0, 5.0]),
    ("ols", "dof", 3),
    ("ols", "coef", lambda d: d["coef"].__setitem__(1, d["coef"][1] * (1 + 2 ** -52))),
    ("ols", "coef", lambda d: d["y"].__setitem__(3, d["y"][3] + 1e-3)),  # y edited
    ("gls", "x_weights", None),
    ("gls", "coef", lambda d: d["coef"].__setitem__(0, d["coef"][0] + 1e-3)),
    ("gls", "status", 4),
    ("gls", "options", {"tol": [1e-6, 1e-10], "sigma": 0.1}),
])
def test_every_edited_record_is_refused_naming_the_field(kind, field, change):
    d = _record(kind).to_dict()
    with pytest.raises(InputError) as e:
        Calibration.from_dict(_edit(d, field, change))
    assert repr(field) in str(e.value) or field in str(e.value)


def test_a_record_reads_back_whole_and_follows_the_shipped_schema():
    import jsonschema
    for kind in ("ols", "gls"):
        cal = _record(kind)
        jsonschema.validate(json.loads(cal.to_json()), schema())
        assert Calibration.from_json(cal.to_json()).to_json() == cal.to_json()
    docs = REPO / "docs" / "calibration.schema.json"
    assert json.loads(docs.read_text()) == schema()


def test_an_edited_verdict_or_chi2_in_the_results_is_refused(tmp_path, capsys):
    out = tmp_path / "out"
    assert run(["fit", STANDARDS, "--out", out, "-q"], capsys)[0] == NOT_FIT
    d = json.loads((out / "calibration.json").read_text())
    for path, value in ((("verdicts", "fit_for_use"), None), (("fit", "chi2"), 0.5)):
        e = json.loads(json.dumps(d))
        if value is None:
            value = not e["results"]["verdicts"]["fit_for_use"]
        e["results"][path[0]][path[1]] = value
        with pytest.raises(InputError, match=path[1]):
            record.load(json.dumps(e))


# Bounds refused before a run starts; messages of one line naming the option ------------

@pytest.mark.parametrize("extra, needle", [
    (["--ngrid", cli.MAX_NGRID + 1], "--ngrid"),
    (["--monte-carlo", cli.MAX_DRAWS + 1], "--monte-carlo"),
    (["--seed=-5"], "--seed"),
    (["--seed", "a"], "--seed"),
    (["--band", "0"], "--band"),
    (["--replicates", cli.MAX_REPLICATES + 1], "--replicates"),
])
def test_options_out_of_bounds_are_usage_errors(tmp_path, capsys, extra, needle):
    with pytest.raises(SystemExit) as e:
        cli.main([str(a) for a in ["fit", STANDARDS, "--out", tmp_path / "o", *extra]])
    err = capsys.readouterr().err
    assert e.value.code == 2 and needle in err and err.count("\n") == 1
    assert not (tmp_path / "o").exists()


def test_too_many_draws_or_standards_are_refused_before_the_run(tmp_path, capsys, monkeypatch):
    monkeypatch.setattr(cli, "MAX_MC_VALUES", 100)
    code, _, err = run(["fit", STANDARDS, "--samples", SAMPLES, "--monte-carlo", 50,
                        "--out", tmp_path / "o"], capsys)
    assert code == 1 and "--monte-carlo" in err and not (tmp_path / "o").exists()
    monkeypatch.setattr(cli, "MAX_STANDARDS", 5)
    code, _, err = run(["fit", STANDARDS, "--out", tmp_path / "o"], capsys)
    assert code == 1 and "standards.csv" in err and "5" in err


# validate ------------------------------------------------------------------------------

def test_validate_refuses_to_overwrite_without_force(tmp_path, capsys, monkeypatch):
    out = tmp_path / "v"
    out.mkdir()
    (out / "validation.json").write_text("earlier record")
    monkeypatch.setattr(validation, "_cases", lambda: [])
    assert cli.main(["validate", "--out", str(out), "-q"]) == 1
    err = capsys.readouterr().err
    assert "--force" in err and str(out) in err and err.count("\n") == 1
    assert (out / "validation.json").read_text() == "earlier record"
    assert cli.main(["validate", "--out", str(out), "-q", "--force"]) == 0
    assert (out / "validation.json").read_text() != "earlier record"


def test_validate_pins_its_reference_files_and_refuses_non_finite_values(tmp_path, monkeypatch):
    ref = validation.read_reference("Norris")
    assert ref.sha256 == validation.REFERENCE_SHA256["Norris.txt"]
    folder = tmp_path / "reference"
    folder.mkdir()
    text = (validation.REFERENCE_DIR / "Norris.txt").read_text()
    monkeypatch.setattr(validation, "REFERENCE_DIR", folder)
    edited = text.replace("-0.262323073774029", "-0.262323070774029", 1)
    assert edited != text
    (folder / "Norris.txt").write_text(edited)
    with pytest.raises(quorvex.QuorvexError, match="SHA-256"):
        validation.read_reference("Norris")
    import hashlib
    lines = text.splitlines(keepends=True)
    k = next(i for i, line in enumerate(lines) if line.startswith("["))
    lines.insert(k + 1, "nan inf\n")
    bad = "".join(lines).encode()
    (folder / "Norris.txt").write_bytes(bad)
    monkeypatch.setitem(validation.REFERENCE_SHA256, "Norris.txt",
                        hashlib.sha256(bad).hexdigest())
    with pytest.raises(quorvex.QuorvexError, match="finite"):
        validation.read_reference("Norris")


def test_a_zero_reference_is_measured_against_the_size_named():
    assert validation.digits(1e-10, 0.0, scale=1e-3) == pytest.approx(7.0)
    assert validation.digits(1e-10, 0.0, scale=10.0) == pytest.approx(11.0)


# What a person reads -------------------------------------------------------------------

def test_the_title_is_escaped_in_the_page():
    cal = _record()
    html = report.to_html(report.results(cal, title="<script>x</script> & co"), None)
    assert "<h1>&lt;script&gt;x&lt;/script&gt; &amp; co</h1>" in html
    assert "<script>x" not in html


@pytest.mark.parametrize("v, u, text", [
    (123.456, 0.0996, "123.46 ± 0.10"),
    (123.456, 0.0994, "123.456 ± 0.099"),
    (123.456, 0.00995, "123.456 ± 0.010"),
    (1.0, 0.995, "1.0 ± 1.0"),
    (5.0, 9.96, "5 ± 10"),
    (1234.5, 99.6, "1230 ± 100"),
])
def test_the_rounding_rule_at_its_boundaries(v, u, text):
    from quorvex._text import fmt_pm
    assert fmt_pm(v, u) == text


def test_fit_writes_no_record_that_invert_would_refuse(tmp_path, capsys, monkeypatch):
    monkeypatch.setattr(cli, "MAX_RECORD", 20_000)
    out = tmp_path / "out"
    code, _, err = run(["fit", STANDARDS, "--samples", SAMPLES, "--out", out, "-q"], capsys)
    assert code == 1 and "calibration.json" in err and "invert" in err
    assert not out.exists() or not any(out.iterdir())


def test_invert_finishes_the_set_of_a_fit_killed_while_renaming(tmp_path, capsys):
    out = tmp_path / "out"
    assert run(["fit", STANDARDS, "--out", out, "-q"], capsys)[0] == NOT_FIT
    killed = ("import os, sys\n"
              "from pathlib import Path\n"
              "from quorvex import _files, cli\n"
              "def hook(step, path):\n"
              "    if step == 'rename' and Path(path).name == 'calibration.json':\n"
              "        os._exit(9)\n"
              "_files._hook = hook\n"
              "cli.main(sys.argv[1:])\n")
    import subprocess
    import sys
    package = str(Path(quorvex.__file__).resolve().parents[1])
    env = dict(os.environ, PYTHONPATH=package + os.pathsep + os.environ.get("PYTHONPATH", ""))
    p = subprocess.run([sys.executable, "-c", killed, "fit", str(STANDARDS), "--degree", "2",
                        "--out", str(out), "-q", "--force"], capture_output=True, env=env)
    assert p.returncode == 9
    assert any(p.name.startswith(".quorvex-journal-") for p in out.iterdir())
    assert run(["invert", out / "calibration.json", SAMPLES, "-q"], capsys)[0] == 0
    assert _files.verify(out, "manifest.json") is not None
    assert json.loads((out / "calibration.json").read_text())["results"]["fit"]["degree"] == 2


def test_the_api_keeps_the_same_bounds():
    cal = _record()
    with pytest.raises(InputError, match="ngrid"):
        cal.inverse([1.0], u_y=0.01, ngrid=cli.MAX_NGRID + 1)
    with pytest.raises(InputError, match="n must"):
        cal.inverse([1.0], u_y=0.01, method="monte-carlo", n=cli.MAX_DRAWS + 1)


def test_a_planted_journal_cannot_reach_outside_its_folder(tmp_path):
    folder, outside = tmp_path / "out", tmp_path / "precious.txt"
    folder.mkdir()
    outside.write_text("keep")
    token = "0123456789abcdef"
    (folder / f".quorvex-{token}.0.tmp").write_text("overwrite")
    (folder / f".quorvex-journal-{token}.json").write_text(json.dumps(
        {"format": "quorvex.Journal", "token": token, "remove": ["../precious.txt"],
         "files": [{"tmp": f".quorvex-{token}.0.tmp", "target": "../precious.txt",
                    "sha256": "0"}]}))
    publish(folder, NEW)
    assert outside.read_text() == "keep"
