"""Traceability through the command line: the record and the report name the package's
version and both libraries with their SHA-256 (checked against an independent hash of the
files), and --validation compares them with a validation record by hash, not by path."""
import hashlib
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from quorvex import _clib, _lab, cli
from quorvex._version import version

REPO = Path(__file__).resolve().parents[2]
STANDARDS = REPO / "examples" / "standards.csv"


def run(argv, capsys):
    code = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


def digest(path) -> str:
    return hashlib.sha256(Path(path).resolve().read_bytes()).hexdigest()


@pytest.fixture(scope="module")
def record(tmp_path_factory):
    out = tmp_path_factory.mktemp("validate")
    assert cli.main(["validate", "--out", str(out)]) == 0
    return out / "validation.json"


def trace_of(folder: Path, name="calibration.json") -> dict:
    return json.loads((folder / name).read_text())["results"]["traceability"]


def test_record_and_report_carry_both_libraries(tmp_path, capsys):
    code, _, err = run(["fit", STANDARDS, "--out", tmp_path, "--pictures", "png", "-q"], capsys)
    assert code in (0, *(v for k, v in vars(cli).items() if k.startswith("EXIT_"))), err
    t = trace_of(tmp_path)
    assert t["package"]["version"] == version()
    libs = t["libraries"]
    assert libs["engine"]["sha256"] == digest(_clib.library().path)
    assert libs["laboratory"]["sha256"] == digest(_lab.library().path)
    assert libs["laboratory"]["version"] == version()  # the library's own QVXL_VERSION
    assert "validation" not in t
    html = (tmp_path / "report.html").read_text()
    for lib in libs.values():
        assert lib["sha256"] in html and lib["file"] in html
    assert "No validation record was named" in html


def test_the_validation_record_names_the_laboratory_library(record):
    env = json.loads(record.read_text())["environment"]
    assert env["lab_library"]["sha256"] == digest(_lab.library().path)
    assert env["library"]["sha256"] == digest(_clib.library().path)
    assert digest(_lab.library().path) in (record.parent / "validation.html").read_text()


def test_a_matching_record_is_said_so_on_the_report(record, tmp_path, capsys):
    # The quadratic: the example's straight line is rejected, which warns on its own.
    code, out, err = run(["fit", STANDARDS, "--degree", 2, "--out", tmp_path, "--pictures",
                          "png", "--validation", record], capsys)
    v = trace_of(tmp_path)["validation"]
    assert v["matches"] and v["passed"]
    assert v["record_sha256"] == digest(record)
    assert "SHA-256 match" in out and "warning" not in err
    assert 'class="trace pass"' in (tmp_path / "report.html").read_text()


@pytest.mark.parametrize("change, words", [
    (lambda env: env["lab_library"].update(sha256="0" * 64),
     "laboratory library used differs"),
    (lambda env: env["library"].update(sha256="f" * 64), "numerical library used differs"),
    (lambda env: env.pop("lab_library"), "does not identify the laboratory library"),
])
def test_a_different_library_is_loud(record, tmp_path, capsys, change, words):
    body = json.loads(record.read_text())
    change(body["environment"])
    other = tmp_path / "other.json"
    other.write_text(json.dumps(body))
    code, out, err = run(["fit", STANDARDS, "--out", tmp_path / "o", "--pictures", "png",
                          "--validation", other], capsys)
    v = trace_of(tmp_path / "o")["validation"]
    assert not v["matches"]
    assert words in v["text"] and "NOT the validated libraries" in err
    assert 'class="trace fail"' in (tmp_path / "o" / "report.html").read_text()


def test_a_failed_record_does_not_validate(record, tmp_path, capsys):
    body = json.loads(record.read_text())
    body["passed"] = False
    failed = tmp_path / "failed.json"
    failed.write_text(json.dumps(body))
    run(["fit", STANDARDS, "--out", tmp_path / "o", "--pictures", "png", "--validation",
         failed], capsys)
    v = trace_of(tmp_path / "o")["validation"]
    assert v["matches"] and not v["passed"] and "FAILED" in v["text"]


def test_the_same_bytes_at_another_path_match(record, tmp_path):
    # Copies of both libraries elsewhere: the hash, not the path, ties them to the record.
    copy = tmp_path / "lib"
    copy.mkdir()
    eng = shutil.copy(Path(_clib.library().path).resolve(), copy / "libQUORVEXv1.so")
    shutil.copy(Path(_lab.library().path).resolve(), copy / "libQUORVEXlab1.so")
    env = dict(os.environ, QUORVEX_LIBRARY=str(eng), PYTHONPATH=str(REPO / "python"))
    env.pop("QUORVEX_LAB_LIBRARY", None)
    p = subprocess.run([sys.executable, "-m", "quorvex", "fit", str(STANDARDS), "--out",
                        str(tmp_path / "o"), "--pictures", "png", "-q", "--validation",
                        str(record)], env=env, capture_output=True, text=True, timeout=120)
    t = trace_of(tmp_path / "o")
    assert t["libraries"]["engine"]["path"] == str(eng)
    assert t["libraries"]["laboratory"]["found_by"] == "beside QUORVEX_LIBRARY"
    assert t["validation"]["matches"], p.stderr


def test_invert_carries_it_too(record, tmp_path, capsys):
    run(["fit", STANDARDS, "--out", tmp_path, "--pictures", "png", "-q"], capsys)
    code, _, err = run(["invert", tmp_path / "calibration.json", REPO / "examples" /
                        "samples.csv", "--pictures", "png", "-q", "--validation", record],
                       capsys)
    t = trace_of(tmp_path, "results-samples.json")
    assert t["validation"]["matches"]
    assert t["libraries"]["laboratory"]["sha256"] == digest(_lab.library().path)


@pytest.mark.parametrize("content", ["{", '{"environment": {}}', "[1, 2]"])
def test_not_a_record_is_one_line_and_nothing_written(tmp_path, capsys, content):
    bad = tmp_path / "bad.json"
    bad.write_text(content)
    code, out, err = run(["fit", STANDARDS, "--out", tmp_path / "o", "--validation", bad],
                         capsys)
    assert code == 1 and "not a validation record" in err and err.count("\n") == 1
    assert not (tmp_path / "o" / "report.html").exists()
