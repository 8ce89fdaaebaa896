"""The method and the module function agree on every option; messages name the option of
the command the user ran."""
import numpy as np
import pytest

import quorvex
from quorvex import cli, diagnostics

X = np.array([0.0, 0.0, 1.0, 2.0, 4.0, 6.0, 8.0, 10.0])
Y = np.array([0.011, 0.009, 0.205, 0.398, 0.812, 1.197, 1.61, 2.004])


@pytest.mark.parametrize("k_loq", [2.5, 3.0, 4.0])
def test_detection_limits_method_passes_k_loq(k_loq):
    cal = quorvex.fit(X, Y, degree=1)
    got = cal.detection_limits(k_loq=k_loq)
    want = diagnostics.detection_limits(cal, k_loq=k_loq)
    assert got.k_loq == k_loq
    assert got.loq_din == want.loq_din


@pytest.mark.parametrize("command, option", [("fit", "--sample-uy"), ("invert", "--uy")])
def test_missing_sample_uy_names_the_commands_option(tmp_path, capsys, command, option):
    std = tmp_path / "std.csv"
    std.write_text("x,y,u\n" + "".join(f"{a},{b},0.01\n" for a, b in zip(X, Y)))
    smp = tmp_path / "smp.csv"
    smp.write_text("name,y\nA,0.5\n")
    if command == "fit":
        argv = ["fit", str(std), "--uy", "u", "--samples", str(smp), "--out",
                str(tmp_path / "o")]
    else:
        assert cli.main(["fit", str(std), "--uy", "u", "--out", str(tmp_path / "c")]) == 0
        argv = ["invert", str(tmp_path / "c" / "calibration.json"), str(smp)]
    capsys.readouterr()
    assert cli.main(argv) != 0
    err = capsys.readouterr().err
    assert f"({option})" in err
