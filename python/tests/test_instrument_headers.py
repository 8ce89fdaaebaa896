"""Columns found from the headers instruments and data systems export, units in
brackets or parentheses, English and German: the command line fits files written the way
an HPLC data system, an ICP-MS and a German fluorescence reader export them, takes the
right columns (the numbers of the record equal those written), and refuses an ambiguous
file naming the candidates."""
import json

import numpy as np
import pytest

from quorvex import cli, tabular

# An HPLC data system's export: a type column, retention time, area and height.
HPLC = """\
"Sample Name","Sample Type","RT (min)","Peak Area (mAU*s)","Peak Height (mAU)","Amount (mg/L)"
"Std 1","Standard",4.12,152.31,20.1,5.0
"Std 2","Standard",4.11,301.85,40.3,10.0
"Std 3","Standard",4.12,755.02,99.8,25.0
"Std 4","Standard",4.13,1498.66,198.0,50.0
"Std 5","Standard",4.12,3011.40,396.2,100.0
"""
# An ICP-MS export: one analyte, counts, concentration with its RSD.
ICPMS = """\
Sample ID,Sample Type,Pb 208 CPS,Pb 208 CPS RSD,Pb 208 Conc [ ug/L ]
Cal Blank,CalBlk,212,12.1,0
Cal Std 1,CalStd,10412,1.9,0.5
Cal Std 2,CalStd,20987,1.2,1
Cal Std 3,CalStd,104311,0.8,5
Cal Std 4,CalStd,209876,0.6,10
Cal Std 5,CalStd,1047112,0.4,50
"""
# A German fluorescence reader's export: semicolons, decimal commas, Windows-1252.
FLUO = """\
Probenname;Konz. (µg/L);Fluoreszenz (RFU);Verdünnung
Blindwert;0,0;105,2;1
Kal 1;2,0;1188,4;1
Kal 2;4,0;2239,9;1
Kal 3;6,0;3305,1;1
Kal 4;8,0;4342,7;1
Kal 5;10,0;5399,0;1
"""
CASES = {
    "hplc": (HPLC, "utf-8", "Amount (mg/L)", "Peak Area (mAU*s)",
             [5, 10, 25, 50, 100], [152.31, 301.85, 755.02, 1498.66, 3011.40]),
    "icpms": (ICPMS, "utf-8", "Pb 208 Conc [ ug/L ]", "Pb 208 CPS",
              [0, 0.5, 1, 5, 10, 50], [212, 10412, 20987, 104311, 209876, 1047112]),
    "fluorescence": (FLUO, "cp1252", "Konz. (µg/L)", "Fluoreszenz (RFU)",
                     [0, 2, 4, 6, 8, 10], [105.2, 1188.4, 2239.9, 3305.1, 4342.7, 5399.0]),
}


def run(argv, capsys):
    code = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


@pytest.mark.parametrize("name", sorted(CASES))
def test_instrument_exports_fit_from_their_own_headers(tmp_path, capsys, name):
    text, enc, xcol, ycol, x, y = CASES[name]
    path = tmp_path / f"{name}.csv"
    path.write_bytes(text.encode(enc))
    out = tmp_path / "out"
    code, printed, err = run(["fit", path, "--out", out, "--pictures", "png", "-q"], capsys)
    assert code in (0, *(v for k, v in vars(cli).items() if k.startswith("EXIT_"))), err
    rec = json.loads((out / "calibration.json").read_text())
    cols = rec["results"]["options"]["columns"]
    assert (cols["x"], cols["y"]) == (xcol, ycol)
    assert rec["x"] == pytest.approx(x, rel=0, abs=0) and np.array_equal(rec["y"], y)
    # The unit in the header labels the axis.
    assert rec["results"]["labels"]["x_unit"] == tabular.split_unit(xcol)[1]


def test_two_analytes_are_ambiguous_and_named(tmp_path, capsys):
    two = ICPMS.replace("Pb 208 Conc [ ug/L ]", "Pb 208 Conc [ ug/L ],Cd 111 Conc [ ug/L ]")
    two = "\n".join(line + (",0" if k else "") if k and line else line
                    for k, line in enumerate(two.splitlines())) + "\n"
    path = tmp_path / "two.csv"
    path.write_text(two)
    code, _, err = run(["fit", path, "--out", tmp_path / "o"], capsys)
    assert code == 1
    assert "several columns could hold x" in err
    assert "'Pb 208 Conc [ ug/L ]'" in err and "'Cd 111 Conc [ ug/L ]'" in err
    assert err.count("\n") == 1
    code, _, err = run(["fit", path, "--x", "Pb 208 Conc", "--out", tmp_path / "o",
                        "--pictures", "png", "-q"], capsys)
    rec = json.loads((tmp_path / "o" / "calibration.json").read_text())
    assert rec["results"]["options"]["columns"]["x"] == "Pb 208 Conc [ ug/L ]"


@pytest.mark.parametrize("header, role", [
    ("Peak Area (mAU*s)", "y"), ("Area [counts]", "y"), ("Peak Height (mAU)", "y"),
    ("Pb 208 CPS", "y"), ("Fläche (mV*s)", "y"), ("Flaeche", "y"), ("Höhe [mV]", "y"),
    ("Extinktion (AU)", "y"), ("Intensität [cps]", "y"), ("Messwert", "y"),
    ("Pb 208 Conc [ ug/L ]", "x"), ("Conc[ppb]", "x"), ("Konz. (µg/L)", "x"),
    ("Konzentration [mg/l]", "x"), ("Gehalt (%)", "x"), ("Sollwert (ng/mL)", "x"),
    ("Nominal Conc. (ng/mL)", "x"), ("Amount (mg/L)", "x"),
    # Not values: uncertainties, statistics, times, types, ratios, recoveries.
    ("Pb 208 Conc RSD", None), ("Pb 208 CPS RSD", None), ("u(Peak Area)", None),
    ("SD Area", None), ("RT (min)", None), ("Retention Time", None), ("Sample Type", None),
    ("Area%", None), ("Area Ratio", None), ("Recovery (%)", None), ("Verdünnung", None),
    ("Calculated Conc. (mg/L)", None), ("Konz. gefunden", None), ("Sample Name", None),
    ("Conc/Area", None),
])
def test_header_roles_by_table(header, role):
    assert tabular.keyword_role(header) == role


@pytest.mark.parametrize("header, name, unit", [
    ("Peak Area (mAU*s)", "Peak Area", "mAU*s"), ("Pb 208 Conc [ ug/L ]", "Pb 208 Conc", "ug/L"),
    ("Konz. (µg/L)", "Konz.", "µg/L"), ("Conc[ppb]", "Conc", "ppb"), ("u(x)", "u(x)", None),
    ("u(Area) (mAU*s)", "u(Area)", "mAU*s"), ("Signal", "Signal", None),
])
def test_units_are_split_off_and_kept(header, name, unit):
    assert tabular.split_unit(header) == (name, unit)


def test_an_uncertainty_column_of_a_unit_header_is_found(tmp_path, capsys):
    path = tmp_path / "u.csv"
    path.write_text("Conc. (mg/L);Peak Area (mAU*s);u(Peak Area) (mAU*s)\n"
                    "1;10,1;0,2\n2;19,8;0,2\n4;40,3;0,3\n8;79,9;0,5\n")
    code, _, err = run(["fit", path, "--out", tmp_path / "o", "--pictures", "png", "-q"],
                       capsys)
    rec = json.loads((tmp_path / "o" / "calibration.json").read_text())
    assert rec["results"]["options"]["columns"]["u_y"] == "u(Peak Area) (mAU*s)"
    assert rec["u_y"] == [0.2, 0.2, 0.3, 0.5]
