"""The C and C++ reference pages are read from the headers by docs/_ext/quorvex_docs.py:
the reader must see every entry point with all its arguments and status codes, and
what the header says each failure leaves in the outputs must be what the library
does."""
import ctypes
import re
import sys
from ctypes import byref, c_double, c_int
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "docs" / "_ext"))

pytest.importorskip("sphinx", reason="the documentation's header reader needs Sphinx "
                    "(python3-sphinx, installed by bash scripts/docs.sh)")
import quorvex_docs  # noqa: E402

HEADER = (REPO / "include" / "quorvex.h").read_text(encoding="utf-8")


def declared():
    """Entry points and their parameter names, read independently of the page's reader."""
    out = {}
    for name, params in re.findall(r"QVX_API void QVX_CALL (\w+)\((.*?)\);[ \t]+/\*", HEADER, re.S):
        params = re.sub(r"/\*.*?\*/", "", params, flags=re.S)
        out[name] = [p.split("*")[-1].strip() for p in params.split(",")]
    return out


def test_reader_sees_every_entry_point_and_argument():
    _, entries = quorvex_docs.parse_header()
    decl = declared()
    assert [e.name for e in entries] == list(decl)
    assert len(decl) == 6
    for e in entries:
        assert [a.name for a in e.arguments] == decl[e.name], e.name
        assert e.arguments[-1].name == "ISTAT"
        assert all(a.direction in ("in", "out") and a.text for a in e.arguments), e.name
        assert e.description, e.name


def test_reader_sees_every_status_code():
    _, entries = quorvex_docs.parse_header()
    by_name = {e.name: e for e in entries}
    every = set(re.findall(r"#define (QVX_\w+) \(?-?\d+\)?", HEADER))
    seen = {c for e in entries for c in e.constants.values()} | {"QVX_OK", "QVX_NO_STORAGE"}
    assert every == seen, f"status constants the reader does not place: {every - seen}"
    for e in entries:
        codes = {code for which, code, _ in e.statuses if code}
        for code in e.constants:
            assert code in codes, f"{e.name}: the status {code} of {e.constants[code]} is not listed"
        assert "0" in codes, e.name
    assert "999" in {c for _, c, _ in by_name["OLSPFIT"].statuses}
    gls = by_name["GLSPFIT"]
    assert {"-101", "44", "5"} <= {c for _, c, _ in gls.statuses}
    assert len(gls.outputs) >= 7, "the outcome table of GLSPFIT"


def test_cpp_reader_sees_every_public_function():
    _, items = quorvex_docs.parse_cpp_header()
    names = {n for it in items for n in it.name.split(", ")}
    assert {"ols_fit", "gls_fit", "evaluate", "to_line", "inverse", "inverse_line", "Error",
            "Matrix", "Curve", "OlsFit", "GlsFit", "InversePrediction", "LinePrediction"} <= names
    assert not any("detail" in it.code.split("(")[0] for it in items)
    assert all(it.comment for it in items), [it.name for it in items if not it.comment]


# What each failure leaves in the outputs, as the header's comments say it.
SENTINEL = 7.0


def _arr(n, value=SENTINEL):
    return (c_double * n)(*([value] * n))


def _call_polyeval(lib):
    y = _arr(2)
    st = c_int(-1)
    lib.POLYEVAL(byref(c_int(2)), _arr(2, 1.0), byref(c_int(2)), _arr(2, 0.5),
                 byref(c_double(1.0)), byref(c_double(1.0)), y, byref(st))
    return st.value, {"Y": list(y)}


def _call_linear_conv(lib):
    lcoef, lcov = _arr(2), _arr(4)
    st = c_int(-1)
    lib.LINEAR_CONV(_arr(2, 1.0), _arr(4, 0.0), byref(c_double(2.0)), byref(c_double(1.0)),
                    lcoef, lcov, byref(st))
    return st.value, {"LCOEF": list(lcoef), "LCOV": list(lcov)}


def _call_ipval(lib):
    nroot = (c_int * 2)(7, 7)
    x, ux = _arr(4), _arr(4)
    st = c_int(-1)
    lib.IPVAL(byref(c_int(3)), _arr(3, 1.0), _arr(9, 0.0), byref(c_int(2)), _arr(2, 0.5),
              _arr(4, 0.0), byref(c_double(1.0)), byref(c_double(0.0)), byref(c_int(10)),
              byref(c_double(0.0)), nroot, x, ux, byref(st))
    return st.value, {"NROOT": [float(v) for v in nroot], "XROOT": list(x), "UXROOT": list(ux)}


def _call_ipval_degree1(lib):
    xp, uxp = _arr(2), _arr(2)
    st = c_int(-1)
    lib.IPVAL_DEGREE1(_arr(2, 1.0), _arr(4, 0.0), byref(c_int(2)), _arr(2, 0.5), _arr(4, 0.0),
                      byref(c_double(1.0)), byref(c_double(1.0)), xp, uxp, byref(st))
    return st.value, {"XPRED": list(xp), "UXPRED": list(uxp)}


def _call_olspfit(lib):
    n, m = 4, 2
    coef, cov, sres, yfit, res, wres, wmax = _arr(m), _arr(m * m), _arr(1), _arr(n), _arr(n), \
        _arr(n), _arr(1)
    st = c_int(-1)
    w = (c_double * n)(1.0, 1.0, 0.0, 1.0)  # a weight that is not positive: status 4
    lib.OLSPFIT(byref(c_int(n)), (c_double * n)(0, 1, 2, 3), _arr(n, 1.0), w, byref(c_int(m)),
                byref(c_double(0.0)), byref(c_double(3.0)), coef, cov, sres, yfit, res, wres,
                wmax, byref(st))
    return st.value, {"COEF": list(coef), "COV": list(cov), "SRES": list(sres),
                      "YFIT": list(yfit), "RES": list(res), "WRES": list(wres),
                      "WRESMAX": list(wmax)}


@pytest.mark.parametrize("call, status, phrase, cleared, left", [
    (_call_polyeval, 1, "On failure Y is all 0", ["Y"], []),
    (_call_linear_conv, 1, "on failure LCOEF and LCOV are not written", [], ["LCOEF", "LCOV"]),
    (_call_ipval, 1, "On failure NROOT, XROOT and UXROOT are all 0",
     ["NROOT", "XROOT", "UXROOT"], []),
    (_call_ipval_degree1, 1, "On failure XPRED and UXPRED are all 0", ["XPRED", "UXPRED"], []),
    (_call_olspfit, 4, "On any nonzero ISTAT all outputs are 0",
     ["COEF", "COV", "SRES", "YFIT", "RES", "WRES", "WRESMAX"], []),
], ids=["POLYEVAL", "LINEAR_CONV", "IPVAL", "IPVAL_DEGREE1", "OLSPFIT"])
def test_failure_outputs_are_as_the_reference_says(libpath, call, status, phrase, cleared, left):
    _, entries = quorvex_docs.parse_header()
    text = " ".join(p for e in entries for p in e.description)
    assert phrase in " ".join(text.split()), f"the reference no longer says {phrase!r}"
    lib = ctypes.CDLL(libpath)
    got, outputs = call(lib)
    assert got == status
    for name in cleared:
        assert all(v == 0.0 for v in outputs[name]), f"{name} after status {status}: {outputs[name]}"
    for name in left:
        assert all(v == SENTINEL for v in outputs[name]), f"{name} was written: {outputs[name]}"
