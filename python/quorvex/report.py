"""A calibration report: one self-contained HTML file, with JSON and CSV for machines.

The HTML holds everything it shows (styles, and the plot inlined as SVG whose text is
drawn as paths): it opens the same on a machine without network or fonts, and can be
attached to a record.  The JSON is the calibration exactly as ``to_json`` writes it
with one more key, ``"results"``, holding what the report shows; it reads back with
``Calibration.from_json``.  The CSV is the samples table.
"""
from __future__ import annotations

import csv
import datetime as _dt
import html
import io
import json
import math
import platform
import re
from pathlib import Path

import numpy as np

from . import _files
from . import plot as _plot
from ._text import column_exponent, fmt, fmt_pm, fmt_r2, fmt_u  # noqa: F401
from ._text import header as _col_header
from ._version import version as _version

FORMAT = "quorvex.Calibration"
DASH = "—"
HTML_MAX_SAMPLES = 500  # rows of a table on the page; the CSV and JSON hold them all
HTML_MAX_STANDARDS = 500
# Fields of the laboratory's own shown in the report's header, in this order.
METADATA = ("analyte", "method", "instrument", "operator", "reviewer", "units")
WARN = ' class="warn"'


# Numbers as text: one rule for everything a person reads (see quorvex._text)

def _finite(v) -> bool:
    return v is not None and isinstance(v, (int, float, np.floating)) and math.isfinite(v)


def _num(v):
    """A float for the results record (None where not finite: results are strict JSON)."""
    if v is None:
        return None
    v = float(v)
    return v if math.isfinite(v) else None


def _nums(a):
    return None if a is None else [_num(v) for v in np.asarray(a, dtype=float).ravel()]


def _matrix(a):
    return [[_num(v) for v in row] for row in np.asarray(a, dtype=float)]


# The results record

def sample_flags(cal, pred, limits=None, bits=None, extra=None) -> list[list[str]]:
    """Per sample, what a user must see and act on (see
    :func:`quorvex.diagnostics.sample_flags`)."""
    from .diagnostics import sample_flags as flags
    return flags(cal, pred, limits, bits, extra)


def _standards(cal, diag, names=None) -> list[dict]:
    """One row per standard: data, fit, the residual statistic the outlier test uses,
    the outlier test's reasons and the back-calculation, all from ``diag`` (the
    calibration's ``diagnostics()``) and the diagnostics module."""
    flags = [""] * cal.n_points
    for o in diag.outliers:
        flags[o["index"]] = "; ".join(o["reasons"])
    z, _, _ = _plot.residuals(cal)
    back = diag.back_calculated
    rows = []
    for i in range(cal.n_points):
        row = {} if names is None else {"name": str(names[i])}
        if getattr(cal, "ids", None) is not None:
            row["row"] = str(cal.ids[i])  # the standard's row in its file
        row |= {"x": _num(cal.x[i]), "u_x": None if cal.u_x is None else _num(cal.u_x[i]),
               "y": _num(cal.y[i]), "u_y": None if cal.u_y is None else _num(cal.u_y[i]),
               "fitted": _num(cal.fitted[i]), "residual": _num(cal.residuals[i]),
               "normalized_residual": _num(z[i])}
        if cal.kind == "gls":
            row.update(x_adjusted=_num(cal.x_adjusted[i]), x_residual=_num(cal.residuals_x[i]),
                       normalized_x_residual=_num(cal.weighted_residuals_x[i]))
        if back is None:  # a constant curve is not read back
            row.update(back_calculated=None, back_calculated_percent=None,
                       back_calculated_verdict="")
        else:
            pct = back["percent"][i]
            verdict = ("" if back["passed"][i] or pct is None or pct != pct else
                       f"outside ±{back['limit'][i]:g} %")
            row.update(back_calculated=_num(back["x_back"][i]),
                       back_calculated_percent=_num(pct), back_calculated_verdict=verdict)
        row["flag"] = flags[i]
        rows.append(row)
    return rows


def _samples(cal, pred, names, limits=None, workflow=None, fit_for_use=True) -> tuple:
    """The samples' rows, and the reporting rules they were reported by."""
    from . import workflow as WF
    from .inverse import flags_with_limits
    wf = workflow or {}
    lim = dict(limits) if limits else None
    if lim is not None:
        lim.update(lod_definition=wf.get("lod") or WF.W.LOD_DEFAULT,
                   loq_definition=wf.get("loq") or WF.W.LOQ_DEFAULT)
    chosen = WF.choose_limits(lim, float(np.min(cal.x)), float(np.max(cal.x)),
                              wf.get("lod") or WF.W.LOD_DEFAULT,
                              wf.get("loq") or WF.W.LOQ_DEFAULT)
    rule = wf.get("rule") or "flag"
    rep = WF.reported(pred, fit_for_use, chosen, rule, wf.get("factor"), wf.get("u_factor"),
                      flags=flags_with_limits(pred, lim))
    lo, hi = chosen["range"]
    range_text = f"{lo:.4g} to {hi:.4g}, from {chosen['range_from']}"
    reps = wf.get("replicates")
    rep_text = [""] * len(pred)
    if reps is not None:
        chk = reps["check"]
        for i in range(len(pred)):
            st, p = chk["stat"][i], chk["p"][i]
            if chk.get("kind") == 3:
                rep_text[i] = f"RSD {st:.3g} % > {chk['limit']:g} %"
            elif p == p:
                rep_text[i] = f"p = {p:.2g} < {chk['alpha']:g}, {chk['test']}"
    flags = sample_flags(cal, pred, lim, bits=rep["flags"],
                         extra={"range": [range_text] * len(pred), "rep": rep_text})
    factor, u_factor = wf.get("factor"), wf.get("u_factor")

    def column(a):
        a = np.asarray(a, dtype=float)
        return np.where(np.isfinite(a), a, np.nan).tolist()

    y, u_y, x, u_x = (column(a) for a in (pred.y, pred.u_y, pred.x, pred.u_x))
    roots, u_roots = column(pred.roots), column(pred.u_roots)
    n_roots = np.asarray(pred.n_roots).tolist()
    sources = list(pred.u_y_source)
    big_u, kk, low, high = (column(a) for a in (pred.U, pred.k, pred.low, pred.high))
    dof = ["inf" if v == np.inf else _none(v) for v in np.asarray(pred.dof).tolist()]
    opened = np.asarray(pred.interval_open).tolist()
    level = float(pred.level)
    rows = []
    for i, k in enumerate(n_roots):
        rows.append({"name": names[i] if names is not None else str(i + 1),
                     "y": _none(y[i]), "u_y": _none(u_y[i]), "n_roots": k,
                     "x": _none(x[i]), "u_x": _none(u_x[i]),
                     "roots": roots[i][:k], "u_roots": [_none(v) for v in u_roots[i][:k]],
                     "flags": flags[i], "u_y_source": sources[i], "U": _none(big_u[i]),
                     "k": _none(kk[i]), "dof": dof[i], "coverage": level,
                     "low": _none(low[i]), "high": _none(high[i]),
                     "interval_open": bool(opened[i])})
        censor = int(rep["censor"][i])
        value = _num(rep["value"][i])
        rows[-1]["reported"] = {
            "value": value, "u": _num(rep["u"][i]), "U": _num(rep["U"][i]),
            "k": _num(rep["k"][i]),
            "dof": "inf" if rep["dof"][i] == np.inf else _num(rep["dof"][i]),
            "censored": censor != 0,
            "text": (DASH if value is None else
                     f"< {fmt(value, 4)}" if censor else fmt(value, 6)),
            "factor": 1.0 if factor is None else float(np.broadcast_to(factor, (len(pred),))[i]),
            "u_factor": None if u_factor is None else
            float(np.broadcast_to(u_factor, (len(pred),))[i])}
        if reps is not None:
            r = reps["reps"]
            idx = r.readings[i]
            rows[-1]["replicates"] = {
                "m": int(r.count[i]), "sd": _num(r.sd[i]),
                "readings": [_num(reps["y"][j]) for j in idx],
                "u_readings": None if reps.get("u_y") is None else
                [_num(reps["u_y"][j]) for j in idx],
                "rows": [reps["rows"][j] for j in idx],
                "stat": _num(reps["check"]["stat"][i]), "p": _num(reps["check"]["p"][i])}
    rules = {"lod": chosen["lod"], "lod_definition": chosen["lod_name"],
             "loq": chosen["loq"], "loq_definition": chosen["loq_name"],
             "reportable_range": chosen["range"], "range_from": chosen["range_from"],
             "below_range": rule, "fit_for_use": bool(fit_for_use)}
    if reps is not None:
        rules["replicates"] = {"combined": True, "check": reps["check"]["mode"],
                               "alpha": reps["check"]["alpha"]}
    return rows, rules


def _none(v):
    return None if v != v else v


def _plain(v):
    """Plain data for strict JSON: numpy types as Python ones, non-finite floats as None,
    dataclasses (and objects with ``to_dict``) as dicts."""
    if isinstance(v, dict):
        return {str(k): _plain(x) for k, x in v.items()}
    if isinstance(v, (list, tuple)):
        return [_plain(x) for x in v]
    if isinstance(v, np.ndarray):
        return _plain(v.tolist())
    if isinstance(v, (bool, np.bool_)):
        return bool(v)
    if isinstance(v, (int, np.integer)):
        return int(v)
    if isinstance(v, (float, np.floating)):
        return _num(v)
    if v is None or isinstance(v, str):
        return v
    if hasattr(v, "to_dict"):
        return _plain(v.to_dict())
    if hasattr(v, "__dataclass_fields__"):
        return {k: _plain(getattr(v, k)) for k in v.__dataclass_fields__}
    return str(v)


def software() -> dict:
    out = {"quorvex": _version(), "python": platform.python_version(),
           "numpy": np.__version__}
    try:
        import matplotlib
        out["matplotlib"] = matplotlib.__version__
    except ImportError:
        pass
    return out


def results(cal, samples=None, *, title: str | None = None, labels: dict | None = None,
            sample_names=None, options: dict | None = None, band: float | None = 0.95,
            limits: bool | dict = False, degree_selection=None, monte_carlo=None,
            metadata: dict | None = None, input_files=None, standard_names=None,
            criteria=None, workflow: dict | None = None,
            validation=None) -> dict:
    """What the report shows, as plain data (strict JSON: no NaN).

    "traceability" holds the package's version and each library's path, file, size,
    SHA-256 and version; with ``validation`` (the path of a validation record, the
    validation.json of ``quorvex validate``) also whether the libraries used are those
    the record validated, by SHA-256.

    ``metadata`` holds the laboratory's fields shown in the header ("analyte",
    "method", "instrument", "operator", "reviewer", "units"; others are shown too);
    ``input_files`` the files the run read, each a path or a (role, path) pair, listed
    with their SHA-256; ``standard_names`` the standards' IDs.

    ``samples`` is an InversePrediction, responses, or (y, u_y); ``labels`` may hold
    "x", "x_unit", "y", "y_unit"; ``options`` the options the run used, recorded as
    given.  The verdicts, outlier flags, back-calculation and (with ``limits``: True,
    or a dict of options for ``detection_limits``) the detection limits are those of
    ``cal.diagnostics()``.  ``degree_selection`` is the ``DegreeSelection`` the degree
    was chosen by and ``monte_carlo`` a ``MonteCarloPrediction`` of the samples (each
    may also be the plain data of an earlier report).  ``workflow`` holds the
    laboratory's reporting rules: "lod" and "loq" (the definitions the flags use), "rule"
    (below the reportable range: "flag", "less-than", "less-than-lod"), "factor" and
    "u_factor" (per sample or one value) and "replicates" (readings combined).
    """
    from .curve import summary
    from .diagnostics import verdict_rows
    pred = _plot.as_prediction(cal, samples)
    labels = dict(labels or {})
    limit_options = limits if isinstance(limits, dict) else {}
    diag = cal.diagnostics(limits=bool(limits), criteria=criteria, **limit_options)
    rows, verdict = verdict_rows(cal, diag, bool(limits))
    u = cal.u_coef
    cov = np.asarray(cal.cov_used)
    with np.errstate(divide="ignore", invalid="ignore"):
        corr = cov / np.outer(u, u)
    coefficients = {
        "basis": "Chebyshev series on the interval, first coefficient at half weight",
        "value": _nums(cal.coef), "u": _nums(u), "cov": _matrix(cov), "correlation": _matrix(corr),
        "covariance": cal.covariance,
    }
    if cal.ncoef >= 1:
        ps = cal.power_coefficients()
        coefficients["powers"] = {"value": _nums(ps.coef), "u": _nums(ps.u_coef),
                                  "cov": _matrix(ps.cov)}
    if cal.ncoef == 2:
        ln = cal.line()
        coefficients["line"] = {"slope": _num(ln.slope), "u_slope": _num(ln.u_slope),
                                "intercept": _num(ln.intercept),
                                "u_intercept": _num(ln.u_intercept), "cov": _matrix(ln.cov)}
    from .curve import fit_kind, headline_terms, r_squared
    headline = {"terms": [{"name": n, "value": _num(v), "u": _num(uu)}
                          for n, v, uu in headline_terms(cal)],
                "r_squared": _num(r_squared(cal)), "sres": _num(cal.sres), "dof": cal.dof,
                "fit": fit_kind(cal)}
    fit_options = {"kind": cal.kind, "degree": cal.degree, "interval": list(cal.interval),
                   "covariance": cal.covariance, **_plain(dict(cal.options))}
    band_text = None
    if band:
        b = _plot.band_or_none(cal, np.array([cal.xmin, cal.xmax]), band)
        band_text = _plot.NO_BAND if b is None else _plot.band_label(b)
    out = {
        "title": title or "Calibration report",
        "date": _dt.datetime.now(_dt.timezone.utc).replace(microsecond=0).isoformat(),
        "software": software(),
        "options": {"fit": fit_options, "band": band, "limits": _plain(limits),
                    **_plain(options or {})},
        "labels": labels,
        "fit": {"kind": cal.kind, "degree": cal.degree, "n_points": cal.n_points,
                "interval": list(cal.interval), "covariance": cal.covariance,
                "sres": _num(cal.sres), "chi2": _num(cal.chi2), "dof": cal.dof,
                "status": cal.status, "iterations": cal.iterations,
                "evaluations": cal.evaluations, "notes": list(cal.notes)},
        "summary": summary(cal),
        "metadata": {str(k): str(v) for k, v in (metadata or {}).items()
                     if v is not None and str(v) != ""},
        "inputs": [_input_file(f) for f in (input_files or ())],
        "headline": headline,
        "verdicts": {"rows": [list(r) for r in rows], "fit_for_use": diag.fit_for_use,
                     "verdict": verdict, "notes": list(diag.notes),
                     "criteria": _plain(diag.criteria), "levels": _plain(diag.levels)},
        "excluded": [dict(e) for e in cal.excluded],
        "band": band_text,
        "coefficients": coefficients,
        "standards": _standards(cal, diag, standard_names),
        "samples": None,
        "diagnostics": _plain(diag.to_dict()),
        "degree_selection": _degree_selection(degree_selection),
        "monte_carlo": _monte_carlo(monte_carlo, sample_names),
        "traceability": traceability(validation),
    }
    if pred is not None:
        out["samples"], out["reporting"] = _samples(cal, pred, sample_names,
                                                    diag.detection_limits, workflow,
                                                    diag.fit_for_use)
    return out


def traceability(validation=None) -> dict:
    """The software's identity (:func:`quorvex._trace.software_identity`), and with
    ``validation`` (a validation record's path, or the dict ``check_against`` gave) the
    comparison with that record."""
    from . import _trace
    out = _trace.software_identity()
    if validation is not None:
        out["validation"] = (validation if isinstance(validation, dict)
                             else _trace.check_against(validation))
    return out


def sha256(path) -> str:
    """The SHA-256 of a file, as hex."""
    import hashlib
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def _input_file(f) -> dict:
    """An input file for the record: a path, (role, path), or (role, path, sha256) where
    the caller hashed the very bytes it parsed (the command line does: a file swapped
    after reading must not lend its hash to results from the old one)."""
    digest = None
    if isinstance(f, tuple) and len(f) == 3:
        role, path, digest = f
    else:
        role, path = f if isinstance(f, tuple) else ("input", f)
    path = Path(path)
    return {"role": str(role), "file": path.name, "path": str(path.resolve()),
            "sha256": digest or sha256(path)}


def _degree_selection(sel) -> dict | None:
    """The table a degree was chosen by, as plain data."""
    if sel is None or isinstance(sel, dict):
        return sel
    return {"rows": [_plain(r) for r in sel.rows], "recommended": sel.recommended,
            "reason": sel.reason, "skipped": {str(k): v for k, v in sel.skipped.items()},
            "term_test": "chi2 difference" if sel.rows and sel.rows[0].gof_test == "chi2"
            else "F"}


def _monte_carlo(mc, names) -> dict | None:
    """A Monte Carlo inverse prediction as plain data: per sample the Monte Carlo and the
    first-order results side by side."""
    if mc is None or isinstance(mc, dict):
        return mc
    fo = mc.first_order
    rows = []
    for i in range(len(mc)):
        rows.append({"name": names[i] if names is not None else str(i + 1),
                     "y": _num(mc.y[i]), "u_y": _num(mc.u_y[i]), "x": _num(mc.x[i]),
                     "u_x": _num(mc.u_x[i]), "median": _num(mc.median[i]),
                     "low": _num(mc.low[i]), "high": _num(mc.high[i]),
                     "no_root": _num(mc.no_root[i]), "several_roots": _num(mc.several_roots[i]),
                     "first_order_x": _num(fo.x[i]), "first_order_u_x": _num(fo.u_x[i]),
                     "agrees": bool(mc.agrees[i])})
    return {"draws": int(mc.n_draws), "seed": mc.seed if mc.seed is None else int(mc.seed),
            "level": float(mc.level), "samples": rows, "notes": list(mc.notes)}


# The three outputs

def to_json(cal, res: dict) -> str:
    """The calibration as ``to_json`` writes it, with ``"results"``."""
    d = json.loads(cal.to_json())
    d["results"] = res
    return json.dumps(d, indent=1) + "\n"


def samples_csv(res: dict) -> str | None:
    """The samples table as CSV (comma-separated, decimal point, numbers written so
    that they read back to the same double; empty cells where there is no value)."""
    rows = res.get("samples")
    if rows is None:
        return None
    nr = max([r["n_roots"] for r in rows] + [1])
    header = ["sample", "y", "u_y", "n_roots", "x", "u_x"]
    for k in range(2, nr + 1):
        header += [f"x_{k}", f"u_x_{k}"]
    header += ["u_y_source", "U", "k", "dof", "coverage", "low", "high", "flags"]
    has_rep = any(r.get("replicates") for r in rows)
    if has_rep:
        header += ["m", "readings", "replicate_sd", "replicate_p"]
    header += ["factor", "u_factor", "reported", "reported_u", "reported_U"]
    mc = res.get("monte_carlo")
    mc_keys = ("x", "u_x", "median", "low", "high", "no_root", "several_roots")
    if mc:
        header += [f"mc_{k}" for k in mc_keys] + ["mc_agrees"]
    buf = io.StringIO()
    w = csv.writer(buf, lineterminator="\n")
    w.writerow(header)
    for i, r in enumerate(rows):
        roots = (r["roots"] or []) + [None] * nr
        u_roots = (r["u_roots"] or []) + [None] * nr
        cells = [safe_text(r["name"]), _cell(r["y"]), _cell(r["u_y"]), r["n_roots"]]
        for k in range(nr):
            cells += [_cell(roots[k]), _cell(u_roots[k])]
        cells += [r.get("u_y_source", ""), _cell(r.get("U")), _cell(r.get("k")),
                  "inf" if r.get("dof") == "inf" else _cell(r.get("dof")),
                  _cell(r.get("coverage")), _cell(r.get("low")), _cell(r.get("high"))]
        cells.append("; ".join(r["flags"]))
        if has_rep:
            rp = r.get("replicates") or {}
            cells += [rp.get("m", 1), "; ".join(_cell(v) for v in rp.get("readings") or []),
                      _cell(rp.get("sd")), _cell(rp.get("p"))]
        rep = r.get("reported") or {}
        value = rep.get("value")
        cells += [_cell(rep.get("factor")), _cell(rep.get("u_factor")),
                  ("< " + _cell(value)) if rep.get("censored") else _cell(value),
                  _cell(rep.get("u")), _cell(rep.get("U"))]
        if mc:
            m = mc["samples"][i]
            cells += [_cell(m[k]) for k in mc_keys] + ["yes" if m["agrees"] else "no"]
        w.writerow(cells)
    return buf.getvalue()


_FORMULA = ("=", "+", "-", "@", "\t", "\r", "\n")


def safe_text(text) -> str:
    """A text cell a spreadsheet shows as text: one that begins with =, +, -, @, a tab
    or a line break (which a spreadsheet would run as a formula) gets a leading
    apostrophe, the usual escape.  Numbers are not passed through here."""
    text = "" if text is None else str(text)
    if text.startswith(_FORMULA):
        text = "'" + text
    # A name is one line: a line break inside it would split the row in some readers.
    return text.replace("\r\n", " ").replace("\r", " ").replace("\n", " ")


def _cell(v) -> str:
    return "" if v is None else repr(float(v))


def inline_svg(svg: bytes) -> str:
    """matplotlib's SVG as an element for an HTML page: without the XML prolog, the
    document type, the metadata block and the namespace declarations (an HTML parser
    puts an inline <svg> and its xlink attributes in their namespaces itself), so that
    the page refers to no address at all."""
    text = svg.decode("utf-8")
    text = text[text.index("<svg"):]
    text = re.sub(r"<metadata>.*?</metadata>\s*", "", text, flags=re.S)
    text = re.sub(r'\s+xmlns(:\w+)?="[^"]*"', "", text, count=3)
    return text


# The page's styles.  CSS is public: other pages of the package (the validation
# report) use the same look and the same print rules.
CSS = """
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;
margin:1.5em auto;max-width:76em;padding:0 1em;color:#1b1f24;line-height:1.4}
h1{font-size:1.5em;margin-bottom:.2em}h2{font-size:1.15em;margin-top:1.6em;
border-bottom:1px solid #d0d7de;padding-bottom:.2em}
h2.appendix{margin-top:2.4em}
.meta{color:#57606a;font-size:.9em}
table{border-collapse:collapse;font-size:.85em;margin:.5em 0}
th,td{border:1px solid #d0d7de;padding:.2em .5em;text-align:right;white-space:nowrap}
th{background:#f6f8fa;vertical-align:bottom}td.t,th.t{text-align:left;white-space:normal}
td.h{font-family:ui-monospace,"DejaVu Sans Mono",monospace;font-size:.85em;
white-space:normal;word-break:break-all;text-align:left}
table.fields th{text-align:left;font-weight:600}table.fields td{text-align:left;
white-space:normal}
tr.flag td{background:#fff1f0}
ul.verdicts li{margin:.2em 0}li.warn{color:#9a3412}
.banner{border:2px solid #b91c1c;background:#fef2f2;color:#7f1d1d;padding:.6em 1em;
margin:.8em 0;font-weight:600}
p.trace{font-weight:600;padding:.3em .5em;border:2px solid}
p.trace.pass{color:#116329;border-color:#1a7f37;background:#dafbe1}
p.trace.fail{color:#82071e;border-color:#cf222e;background:#ffebe9}
pre{background:#f6f8fa;padding:.6em;overflow-x:auto;font-size:.82em;white-space:pre-wrap;
word-break:break-all}
figure{margin:1em 0}figure svg{max-width:100%;height:auto}
.scroll{overflow-x:auto}
.sign{display:flex;gap:2em;margin-top:2.5em;break-inside:avoid;page-break-inside:avoid}
.sign div{flex:1;border-top:1px solid #1b1f24;padding-top:.3em;font-size:.9em;
min-height:3.5em}
@page{margin:14mm 11mm 16mm 11mm;
@bottom-right{content:"page " counter(page) " of " counter(pages);font-size:8pt;
color:#57606a}
}
@media print{
body{max-width:none;margin:0;padding:0;font-size:9pt;line-height:1.3}
.scroll{overflow:visible}
table{font-size:7.2pt;width:auto;max-width:100%;page-break-inside:auto}
th{white-space:normal;padding:.15em .3em}td{padding:.15em .3em}
td.t{white-space:normal;overflow-wrap:break-word}
thead{display:table-header-group}tr{break-inside:avoid;page-break-inside:avoid}
h2{break-after:avoid;page-break-after:avoid}
figure{break-inside:avoid;page-break-inside:avoid}
figure svg{max-height:235mm;width:auto}
pre{font-size:7pt;overflow:visible}
tr.flag td,th{-webkit-print-color-adjust:exact;print-color-adjust:exact}
h2.appendix{break-before:page;page-break-before:always}
}
"""
_CSS = CSS


def _e(s) -> str:
    return html.escape(str(s), quote=False)  # text content only, never attributes


def _table(header, rows, flagged=None, text_cols=(), cls=None) -> str:
    out = [f'<div class="scroll"><table{f" class={chr(34)}{cls}{chr(34)}" if cls else ""}>'
           "<thead><tr>"]
    out += [f'<th class="t">{_e(h)}</th>' if k in text_cols else f"<th>{_e(h)}</th>"
            for k, h in enumerate(header)]
    out.append("</tr></thead><tbody>")
    for i, row in enumerate(rows):
        c = ' class="flag"' if flagged is not None and flagged[i] else ""
        out.append(f"<tr{c}>" + "".join(
            f'<td class="t">{_e(v)}</td>' if k in text_cols else f"<td>{_e(v)}</td>"
            for k, v in enumerate(row)) + "</tr>")
    out.append("</tbody></table></div>")
    return "".join(out)


def _fields(rows) -> str:
    """A two-column table of names and values (header fields, options)."""
    return ('<table class="fields"><tbody>' + "".join(
        f"<tr><th>{_e(k)}</th><td>{_e(v)}</td></tr>" for k, v in rows) + "</tbody></table>")


def _label(res, axis) -> str:
    lab = res.get("labels") or {}
    return _plot.axis_label(lab.get(axis), lab.get(f"{axis}_unit"), axis)


class _Column:
    """A numeric column written with one power of ten (in its header when not 1)."""

    def __init__(self, name, values, digits=6, uncertainty=False):
        self.e = column_exponent(values)
        self.name = _col_header(name, self.e)
        self.digits = digits
        self.uncertainty = uncertainty

    def __call__(self, v) -> str:
        if self.uncertainty:
            return fmt_u(v, self.e)
        return fmt(v, self.digits, self.e)


def _end(column, v, u) -> str:
    """An end of an interval written to the decimal place of the sample's expanded
    uncertainty u (as its value would be), in the column's power of ten."""
    if u is None or not isinstance(u, (int, float)) or not math.isfinite(u) or u <= 0:
        return column(v)
    return fmt_pm(v, u, column.e).split(" ± ")[0]


def _pm_column(name, values, us):
    """Header and cells of a value ± u column with one power of ten."""
    e = column_exponent([v for v in values if v is not None] + [u for u in us if u is not None])
    return _col_header(name, e), [DASH if v is None else fmt_pm(v, u, e)
                                  for v, u in zip(values, us)]


def to_html(res: dict, svg: bytes | None) -> str:
    """The report page."""
    xl, yl = _label(res, "x"), _label(res, "y")
    fit = res["fit"]
    head = res.get("headline") or {}
    kind = head.get("fit") or {"ols": "least squares", "gls": "errors in variables"}[fit["kind"]]
    parts = [
        "<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
        '<meta name="viewport" content="width=device-width, initial-scale=1">',
        f"<title>{_e(res['title'])}</title><style>{CSS}</style></head><body>",
        f"<h1>{_e(res['title'])}</h1>",
        f'<p class="meta">Degree {fit["degree"]} curve, {_e(kind)}, {fit["n_points"]} '
        f'standards · quorvex {_e(res["software"]["quorvex"])} · {_e(res["date"])}</p>',
        _banner_html(res),
        _header_html(res),
    ]
    parts.append(_validation_banner(res))
    if head:
        parts.append(_headline_html(res, xl, yl))
    parts.append(_verdicts_html(res))
    if svg is not None:
        diag = res.get("diagnostics") or {}
        threshold = diag.get("threshold")
        guides = f"±{fmt(threshold, 3)}" if threshold is not None else "±3"
        parts.append(f'<figure id="plot">{inline_svg(svg)}<figcaption class="meta">'
                     f"Top: standards with their uncertainties, the curve "
                     + (f"and its {_e(res['band'])}" if res["band"] and
                        not res["band"].startswith("no ") else f"({_e(res['band'] or 'no band')})")
                     + (", samples with u(x) (numbered as in the samples table)"
                        if res.get("samples") else "") + "."
                     " Middle: the deviation of the standards from the curve, with the band. "
                     f"Bottom: the residuals the outlier test uses, guides at {guides} (the "
                     "test's threshold); flagged standards in red."
                     "</figcaption></figure>")
    if res.get("samples") is not None:
        parts.append(_samples_html(res, xl, yl))
    if res.get("monte_carlo"):
        parts.append(_monte_carlo_html(res, xl))
    parts.append(_standards_html(res, xl, yl))
    limits = (res.get("diagnostics") or {}).get("detection_limits")
    if limits:
        parts.append(_limits_html(limits, xl, yl, res.get("reporting")))
    if res.get("degree_selection"):
        parts.append(_degree_html(res["degree_selection"]))
    parts.append(_options_html(res))
    parts.append(_traceability_html(res))
    parts.append(_signature_html(res))
    parts.append('<h2 class="appendix">Appendix A: the curve\'s exact record</h2>')
    parts.append(_coefficients_html(res))
    parts.append(f"<h3>Summary as printed by the command line</h3><pre>{_e(res['summary'])}</pre>")
    record = {k: res[k] for k in ("options", "software", "date")}
    parts.append("<h2>Appendix B: options and software as recorded</h2>"
                 f"<pre>{_e(json.dumps(record, indent=1))}</pre>")
    parts.append("</body></html>\n")
    return "\n".join(parts)


def _banner_html(res) -> str:
    """On page 1: a calibration that fails a criterion rejecting it."""
    v = res.get("verdicts") or {}
    if v.get("fit_for_use", True):
        return ""
    n = len(res.get("samples") or [])
    what = (f" Every one of the {n} samples read off it is flagged \"calibration not fit "
            "for use\"." if n else "")
    verdict = str(v.get("verdict", ""))
    why = verdict[len("NOT fit for use"):].strip() if verdict.startswith("NOT fit for use") \
        else f"({verdict})"
    return (f'<div class="banner">CALIBRATION NOT FIT FOR USE {_e(why)}.{_e(what)} Do not '
            "report these results; see the verdict below.</div>")


def _validation_banner(res) -> str:
    """Whether the libraries used are the validated ones, where a record was given."""
    v = (res.get("traceability") or {}).get("validation")
    if not v:
        return ""
    ok = v.get("matches") and v.get("passed")
    return (f'<p class="trace {"pass" if ok else "fail"}">Validation: {_e(v.get("text"))}'
            f' <span class="meta">(record {_e(v.get("record"))}, SHA-256 '
            f'{_e(v.get("record_sha256"))})</span></p>')


def _traceability_html(res) -> str:
    """The package's version, and each library's file, version and SHA-256."""
    t = res.get("traceability")
    if not t:
        return ""
    names = {"engine": "numerical library", "laboratory": "laboratory library"}
    rows = "".join(
        f'<tr><td class="t">{_e(names.get(k, k))}</td><td class="t">{_e(d.get("file"))}</td>'
        f'<td class="t">{_e(d.get("version") or "—")}</td><td class="h">{_e(d.get("sha256"))}'
        "</td></tr>" for k, d in (t.get("libraries") or {}).items())
    pkg = t.get("package") or {}
    v = t.get("validation")
    extra = (f"<p>Validation record {_e(v.get('record'))}: {_e(v.get('text'))}.</p>"
             if v else "<p class=\"meta\">No validation record was named (--validation "
             "RECORD compares these SHA-256 with a record of 'quorvex validate').</p>")
    return ("<h2>Traceability</h2>"
            f"<p>quorvex package {_e(pkg.get('version'))} at {_e(pkg.get('path'))}.</p>"
            "<table><thead><tr><th class=\"t\">library</th><th class=\"t\">file</th>"
            "<th class=\"t\">version</th><th class=\"t\">SHA-256</th></tr></thead><tbody>"
            + rows + "</tbody></table>" + extra)


def _header_html(res) -> str:
    """The laboratory's fields, the fit, and each input file with its SHA-256."""
    md = res.get("metadata") or {}
    rows = [(k.capitalize(), md[k]) for k in METADATA if md.get(k)]
    rows += [(str(k), v) for k, v in md.items() if k not in METADATA]
    head = res.get("headline") or {}
    if head.get("fit"):
        rows.append(("Fit", f"degree {res['fit']['degree']}, {head['fit']}"))
    out = [_fields(rows)] if rows else []
    inputs = res.get("inputs") or []
    if inputs:
        out.append("<table><thead><tr><th class=\"t\">input</th><th class=\"t\">file</th>"
                   "<th class=\"t\">SHA-256</th></tr></thead><tbody>" + "".join(
                       f'<tr><td class="t">{_e(f["role"])}</td><td class="t">{_e(f["file"])}</td>'
                       f'<td class="h">{_e(f["sha256"])}</td></tr>' for f in inputs) +
                   "</tbody></table>")
    return "".join(out)


def _headline_html(res, xl, yl) -> str:
    h = res["headline"]
    n = len(h["terms"])
    powers = ["", f"·{xl}"] + [f"·{xl}{str(k).translate(_SUP)}" for k in range(2, n)]
    eq = " + ".join(f"a{k}{powers[k]}" for k in range(n))
    rows = [(t["name"], fmt_pm(t["value"], t["u"])) for t in h["terms"]]
    rows += [("r²", fmt_r2(h["r_squared"])), ("SRES", fmt(h["sres"], 4)),
             ("degrees of freedom", str(h["dof"]))]
    return (f"<h2>Calibration curve</h2><p>{_e(yl)} = {_e(eq)}, "
            "uncertainties are standard uncertainties (k = 1):</p>" + _fields(rows) +
            '<p class="meta">The Chebyshev coefficients the curve is evaluated from, with '
            "their covariance, are in appendix A.</p>")


_SUP = str.maketrans("0123456789", "⁰¹²³⁴⁵⁶⁷⁸⁹")


def _options_html(res) -> str:
    o = res.get("options") or {}
    f = o.get("fit") or {}
    rows = []
    for k, label in (("command", "command"), ("degree", "degree asked"),
                     ("degree_chosen", "degree chosen"), ("weighting", "weighting"),
                     ("weights", "weights column"), ("variance_model", "variance model asked"),
                     ("blank_readings", "blank readings"),
                     ("interval", "interval asked"), ("maxit", "iteration limit")):
        v = o.get(k)
        if v is not None:
            rows.append((label, v if not isinstance(v, list) else
                         f"[{', '.join(fmt(t, 10) for t in v)}]"))
    if f:
        rows.append(("interval of the curve",
                     f"[{fmt(f['interval'][0], 10)}, {fmt(f['interval'][1], 10)}]"))
        rows.append(("covariance", "from the stated uncertainties" if f.get("covariance") ==
                     "stated" else "scaled by the residual scatter"))
        if isinstance(f.get("variance"), dict):
            from .errors import QuorvexError
            from .variance import VarianceModel
            try:
                rows.append(("variance model", VarianceModel.from_dict(f["variance"]).text()))
            except QuorvexError:
                pass
    cols = o.get("columns") or {}
    if cols:
        rows.append(("standards' columns", ", ".join(f"{k}: {v}" for k, v in cols.items()
                                                     if v is not None)))
    scols = o.get("sample_columns") or {}
    if scols:
        rows.append(("samples' columns", ", ".join(f"{k}: {v}" for k, v in scols.items()
                                                   if v is not None)))
    for k, label in (("band", "confidence band level"), ("ngrid", "root-finding grid"),
                     ("monte_carlo", "Monte Carlo draws"), ("seed", "seed")):
        if o.get(k) is not None:
            rows.append((label, o[k]))
    if o.get("sample_u_y"):
        rows.append(("samples' u(y)", o["sample_u_y"]))
    if o.get("exclude"):
        rows.append(("standards left out", "; ".join(f"{k}: {v}"
                                                      for k, v in o["exclude"].items())))
    if o.get("log"):
        rows.append(("logarithmic axes", o["log"]))
    lim = o.get("limits")
    rows.append(("detection limits", "given" if lim else "not asked"))
    if o.get("calibration"):
        rows.append(("calibration used", o["calibration"]))
    sw = res.get("software") or {}
    rows.append(("software", ", ".join(f"{k} {v}" for k, v in sw.items())))
    rows.append(("date (UTC)", res.get("date", "")))
    return "<h2>Options and software</h2>" + _fields(rows)


def _signature_html(res) -> str:
    md = res.get("metadata") or {}
    prep = md.get("operator", "")
    rev = md.get("reviewer", "")
    return ('<div class="sign">'
            f"<div>Prepared by{': ' + _e(prep) if prep else ''}<br><br>signature</div>"
            f"<div>Reviewed by{': ' + _e(rev) if rev else ''}<br><br>signature</div>"
            "<div>Date<br><br></div></div>")


_VERDICT_WARN = {"fail", "doubtful", "flag"}


def _verdicts_html(res) -> str:
    """The verdicts of the calibration's diagnostics as a table, then the overall verdict
    and the samples' flags."""
    v = res["verdicts"]
    rows = [[a, b, c] for a, b, c in v["rows"]]
    out = ["<h2>Verdict</h2>",
           _table(["test", "verdict", "details"], rows,
                  [r[1] in _VERDICT_WARN for r in rows], text_cols=(0, 1, 2)),
           '<ul class="verdicts">',
           f"<li{'' if v['fit_for_use'] else WARN}><b>{_e(v['verdict'])}</b></li>"]
    for note in res["fit"]["notes"]:
        out.append(f"<li{WARN}>note: {_e(note)}</li>")
    if res.get("samples") is not None:
        nsf = sum(1 for r in res["samples"] if r["flags"])
        out.append(f"<li{WARN if nsf else ''}>{len(res['samples'])} samples read off the "
                   f"curve, {nsf} with a flag</li>")
    mc = res.get("monte_carlo")
    if mc:
        bad = sum(1 for r in mc["samples"] if not r["agrees"])
        out.append(f"<li{WARN if bad else ''}>Monte Carlo ({mc['draws']} draws): first order "
                   f"{'confirmed for every sample' if not bad else f'not reliable for {bad}'}"
                   "</li>")
    out.append("</ul>")
    return "".join(out)


def _more(shown, total, what) -> str:
    if total <= shown:
        return ""
    return (f"<p>The first {shown} of {total} {what}; the CSV and JSON files hold them "
            "all.</p>")


def _monte_carlo_html(res, xl) -> str:
    mc = res["monte_carlo"]
    pct = f"{100 * mc['level']:g} %"
    rows = mc["samples"][:HTML_MAX_SAMPLES]
    ycol = _Column("y", [r["y"] for r in rows], 8)
    ucol = _Column("u(y)", [r["u_y"] for r in rows], uncertainty=True)
    xh, xs = _pm_column(f"{xl} (mean) ± u", [r["x"] for r in rows], [r["u_x"] for r in rows])
    fh, fs = _pm_column("first order ± u", [r["first_order_x"] for r in rows],
                        [r["first_order_u_x"] for r in rows])
    mcol = _Column("median", [r["median"] for r in rows] + [r["low"] for r in rows] +
                   [r["high"] for r in rows], 6)
    head = ["#", "sample", ycol.name, ucol.name, xh, mcol.name,
            f"{pct} interval" + (mcol.name[len("median"):]), fh, "no root", "several roots",
            "first order"]
    body, flagged = [], []
    for i, r in enumerate(rows):
        interval = (DASH if r["low"] is None else f"[{mcol(r['low'])}, {mcol(r['high'])}]")
        body.append([str(i + 1), r["name"], ycol(r["y"]), ucol(r["u_y"]), xs[i],
                     mcol(r["median"]), interval, fs[i],
                     f"{100 * (r['no_root'] or 0):.2f} %",
                     f"{100 * (r['several_roots'] or 0):.2f} %",
                     "confirmed" if r["agrees"] else "not reliable"])
        flagged.append(not r["agrees"])
    seed = "" if mc["seed"] is None else f", seed {mc['seed']}"
    out = [f"<h2>Monte Carlo inverse prediction</h2><p>{mc['draws']} draws of the curve "
           f"from its coefficients' covariance and of each response from its "
           f"uncertainty{_e(seed)}; mean, standard deviation, median and the "
           f"probabilistically symmetric {pct} coverage interval of x over the draws with a "
           "root, beside the first-order result.</p>",
           _table(head, body, flagged, text_cols=(1, len(head) - 1)),
           _more(len(rows), len(mc["samples"]), "samples")]
    if mc["notes"]:
        out.append('<ul class="verdicts">' + "".join(
            f"<li{WARN}>{_e(n)}</li>" for n in mc["notes"][:HTML_MAX_SAMPLES]) + "</ul>")
    return "".join(out)


def _limits_html(d, xl, yl, reporting=None) -> str:
    rows = [
        ["ICH Q2 LOD 3.3σ/S", fmt(d["lod"], 4), "3.3·σ/S"],
        ["ICH Q2 LOQ 10σ/S", fmt(d["loq"], 4), "10·σ/S"],
        ["σ", fmt(d["sigma"], 4), "residual standard deviation at the lowest standard"],
        ["S", fmt(d["slope"], 4), "slope of the curve at the lowest standard"],
        ["critical response y_C", fmt(d["y_critical"], 6),
         f"p(x0) + k·s0 at the blank x0 = {fmt(d['blank'])}, k = {fmt(d['k_alpha'], 4)}, "
         f"s0 = {fmt(d['s_blank'], 4)}"],
        ["critical value x_C", fmt(d["x_critical"], 4),
         f"the smallest net x told from the blank (false positives α = {fmt(d['alpha'])})"],
        ["detection limit x_D", fmt(d["x_detection"], 4),
         f"the net x detected with probability 1 − β (β = {fmt(d['beta'])}, δ = "
         f"{fmt(d['delta'], 4)})"],
    ]
    rows[5][0] = "ISO 11843-2 critical value x_C"
    rows[6][0] = "ISO 11843-2 detection limit x_D"
    if d.get("loq_din") is not None or "loq_din" in d:
        rows.append(["DIN 32645 LOQ x_Q", fmt(d.get("loq_din"), 4),
                     f"the net x whose relative uncertainty is 1/{fmt(d.get('k_loq', 3))}"])
    used = ""
    if reporting:
        used = (f"<p>Samples are flagged against the LOD {_e(reporting['lod_definition'])}"
                f" ({fmt(reporting['lod'], 4) if reporting['lod'] is not None else DASH}) and"
                f" the LOQ {_e(reporting['loq_definition'])} "
                f"({fmt(reporting['loq'], 4) if reporting['loq'] is not None else DASH}), "
                "both including the blank's x.</p>")
    return ("<h2>Detection and quantification limits</h2>" +
            _table(["", "value", "how"], rows, text_cols=(0, 2)) + used +
            f"<p class=\"meta\">In {_e(xl)}; σ and s0 in {_e(yl)}. {d['replicates']} "
            "measurement(s) per sample. A dash where the level lies beyond the curve's "
            "interval.</p>")


def _degree_html(sel) -> str:
    test = sel.get("term_test", "F")
    head = ["degree", "χ²", "dof", "fit test", "p", "added terms: " +
            ("Δχ²" if test.startswith("chi2") else "F"), "p", "AIC", ""]
    body, chosen = [], []
    for r in sel["rows"]:
        body.append([str(r["degree"]), fmt(r["chi2"], 5), str(r["dof"]), r["gof_test"],
                     fmt(r["gof_p"], 3), fmt(r["term_stat"], 4), fmt(r["term_p"], 3),
                     fmt(r["aic"], 4), "recommended" if r["degree"] == sel["recommended"] else ""])
        chosen.append(False)
    for d, why in (sel.get("skipped") or {}).items():
        body.append([str(d), DASH, DASH, "not fitted", DASH, DASH, DASH, DASH, why])
        chosen.append(False)
    return ("<h2>Choice of degree</h2>" +
            _table(head, body, chosen, text_cols=(3, 8)) +
            f"<p>Recommended degree {sel['recommended']}: {_e(sel['reason'])}.</p>")


def _exact(v) -> str:
    """A number as the shortest text that reads back to the same double."""
    return DASH if v is None else repr(float(v))


def _coefficients_html(res) -> str:
    c = res["coefficients"]
    n = len(c["value"])
    which = ("the stated uncertainties" if c["covariance"] == "stated"
             else "the residual scatter (scaled)")
    out = [f"<p>Chebyshev coefficients c0 … c{n - 1} on the curve's interval "
           f"[{_exact(res['fit']['interval'][0])}, {_exact(res['fit']['interval'][1])}] "
           f"(c0 at half weight), every digit (they read back to the same double); "
           f"uncertainties from {which}.</p>"]
    names = [f"c{k}" for k in range(n)]
    out.append(_table(["", "value", "u"],
                      [[names[i], _exact(c["value"][i]), _exact(c["u"][i])]
                       for i in range(n)], text_cols=(0,)))
    out.append("<p>Their covariance matrix:</p>")
    out.append(_table(["", *names], [[names[i], *[_exact(v) for v in c["cov"][i]]]
                                     for i in range(n)], text_cols=(0,)))
    if "line" in c:
        ln = c["line"]
        out.append("<p>As a straight line y = a + b·x: slope b = "
                   f"{_e(fmt_pm(ln['slope'], ln['u_slope']))}, intercept a = "
                   f"{_e(fmt_pm(ln['intercept'], ln['u_intercept']))}, "
                   f"cov(b, a) = {_e(fmt(ln['cov'][0][1], 4))}.</p>")
    if "powers" in c:
        p = c["powers"]
        out.append("<p>In powers of x, y = a0 + a1·x + …, every digit (evaluating from these "
                   "loses accuracy that the Chebyshev form keeps):</p>")
        out.append(_table(["", "value", "u"],
                          [[f"a{k}", _exact(p["value"][k]), _exact(p["u"][k])]
                           for k in range(len(p["value"]))], text_cols=(0,)))
    return "".join(out)


def _standards_html(res, xl, yl) -> str:
    allrows = res["standards"]
    rows = allrows[:HTML_MAX_STANDARDS]
    gls = res["fit"]["kind"] == "gls"
    diag = res.get("diagnostics") or {}
    statistic = diag.get("statistic") or "normalized residual"
    short = statistic.replace("normalized", "norm.").replace("studentized", "stud.")
    named = any("name" in r for r in rows)
    cx = _Column(xl, [r["x"] for r in rows], 8)
    cux = _Column("u(x)", [r["u_x"] for r in rows], uncertainty=True)
    cy = _Column(yl, [r["y"] for r in rows], 8)
    cuy = _Column("u(y)", [r["u_y"] for r in rows], uncertainty=True)
    cf = _Column("fitted", [r["fitted"] for r in rows], 6)
    cr = _Column("residual", [r["residual"] for r in rows], 3)
    head = (["row" if any("row" in r for r in rows) else "#"] +
            (["standard"] if named else []) +
            [cx.name, cux.name, cy.name, cuy.name, cf.name, cr.name, short])
    if gls:
        cxa = _Column("x adjusted", [r["x_adjusted"] for r in rows], 6)
        head += [cxa.name, "norm. x residual"]
    cb = _Column("back-calc. x", [r["back_calculated"] for r in rows], 5)
    head += [cb.name, "back-calc. %", "flag"]
    body, flagged = [], []
    for i, r in enumerate(rows):
        row = [str(r.get("row", i + 1))] + ([r.get("name", "")] if named else [])
        row += [cx(r["x"]), cux(r["u_x"]), cy(r["y"]), cuy(r["u_y"]), cf(r["fitted"]),
                cr(r["residual"]), fmt(r["normalized_residual"], 3)]
        if gls:
            row += [cxa(r["x_adjusted"]), fmt(r["normalized_x_residual"], 3)]
        pct = r["back_calculated_percent"]
        row += [cb(r["back_calculated"]), DASH if pct is None else f"{pct:.1f}",
                "; ".join(t for t in (r["flag"], r["back_calculated_verdict"]) if t)]
        body.append(row)
        flagged.append(bool(r["flag"]))
    threshold = diag.get("threshold")
    limit = f" beyond ±{threshold:.3g}" if threshold is not None else ""
    text_cols = (1, len(head) - 1) if named else (len(head) - 1,)
    return ("<h2>Standards</h2>" + _table(head, body, flagged, text_cols=text_cols) +
            _more(len(rows), len(allrows), "standards") +
            f"<p class=\"meta\">{_e(short)}: the {_e(statistic)} the outlier test uses (flagged"
            f"{_e(limit)}{', or by Cook’s distance' if not gls else ''}); "
            + ("the x part is δ/u(x). " if gls else "")
            + "Back-calculated: x read off the curve from the standard's own response, as % "
            "of nominal (±15 %, ±20 % at the lowest level; blanks are not tested). A column "
            "headed “/ 10ⁿ” gives its values in units of 10ⁿ.</p>")


def _samples_html(res, xl, yl) -> str:
    allrows = res["samples"]
    rows = allrows[:HTML_MAX_SAMPLES]
    nr = max([r["n_roots"] for r in rows] + [1])
    cy = _Column(yl, [r["y"] for r in rows], 8)
    cuy = _Column("u(y)", [r["u_y"] for r in rows], uncertainty=True)
    root_cols = []
    for k in range(nr):
        vals = [(r["roots"] or [None] * nr)[k] if k < len(r["roots"] or []) else None
                for r in rows]
        us = [(r["u_roots"] or [])[k] if k < len(r["u_roots"] or []) else None for r in rows]
        name = f"{xl} ± u(x)" if k == 0 else f"root {k + 1} ± u"
        root_cols.append(_pm_column(name, vals, us))
    pct = f"{100 * rows[0].get('coverage', 0.95):g} %" if rows else "95 %"
    cU = _Column(f"U ({pct}) (k, dof)", [r.get("U") for r in rows], uncertainty=True)
    cI = _Column(f"{pct} inversion interval", [r.get("low") for r in rows] +
                 [r.get("high") for r in rows], 6)
    head = ["#", "sample", cy.name, cuy.name, "u(y) from", "roots",
            *[h for h, _ in root_cols], cU.name, cI.name, "reported ± U", "flags"]
    has_rep = any(r.get("replicates") for r in rows)
    if has_rep:
        head.insert(2, "m")
    body, flagged = [], []
    for i, r in enumerate(rows):
        row = [str(i + 1), r["name"], cy(r["y"]), cuy(r["u_y"]), r.get("u_y_source", ""),
               str(r["n_roots"])]
        row += [cells[i] for _, cells in root_cols]
        dof = r.get("dof")
        row += [DASH if r.get("U") is None else
                f"{cU(r['U'])} ({fmt(r['k'], 4)}, {'∞' if dof == 'inf' else fmt(dof, 3)})",
                DASH if r.get("low") is None else
                f"[{_end(cI, r['low'], r.get('U'))}, {_end(cI, r['high'], r.get('U'))}]"
                + (" (open)" if r.get("interval_open") else "")]
        rep = r.get("reported") or {}
        text = rep.get("text", DASH)
        if rep.get("U") is not None and not rep.get("censored"):
            text = fmt_pm(rep["value"], rep["U"])
        if rep.get("factor") not in (None, 1.0):
            text += f" (×{fmt(rep['factor'], 6)})"
        row.append(text)
        if has_rep:
            row.insert(2, str((r.get("replicates") or {}).get("m", 1)))
        row.append("; ".join(r["flags"]))
        body.append(row)
        flagged.append(bool(r["flags"]))
    rp = res.get("reporting") or {}
    lo, hi = (rp.get("reportable_range") or [None, None])
    rule = {"flag": "the value with its flag", "less-than": "\"< lower end of the range\"",
            "less-than-lod": "\"< LOD\" below the LOD, else \"< lower end of the range\""
            }.get(rp.get("below_range"), "the value with its flag")
    reporting = ("" if lo is None else
                 f"<p>Reportable range (ICH Q2(R2)): {fmt(lo, 4)} to {fmt(hi, 4)} {_e(xl)}, "
                 f"from {_e(rp.get('range_from', 'the lowest standard'))} to the highest "
                 f"standard. Below it the laboratory reports {_e(rule)}. Reported = x × the "
                 "sample's dilution factor, U combining u(x) and the factor's "
                 "uncertainty (GUM 5.1.2).</p>")
    if rp.get("replicates"):
        reporting += (f"<p>Readings with the same sample ID are combined: their mean, m "
                      f"readings, u(y) of the mean; agreement checked against "
                      f"{_e(rp['replicates']['check'])}. The single readings are in the "
                      "CSV and JSON files.</p>")
    return ("<h2>Samples</h2>" + _table(head, body, flagged,
                                        text_cols=(1, 4 + has_rep, len(head) - 1)) +
            reporting + _more(len(rows), len(allrows), "samples") +
            "<p class=\"meta\">u(x) is the standard uncertainty from the curve's coefficients "
            "and the response's own uncertainty (u(y), from the source named in 'u(y) from'); "
            "samples read off one curve are correlated through its coefficients. U = k u(x), "
            "k from Student's t with the degrees of freedom shown (Welch-Satterthwaite where "
            "a scaled and a stated part combine; ∞: normal). The inversion interval is the "
            "set of x whose prediction band holds the response; 'open' where it reaches an "
            "end of the curve. # is the sample's number on the picture.</p>")


def render(cal, samples=None, *, title=None, labels=None, sample_names=None, options=None,
           band: float | None = 0.95, limits: bool | dict = False, degree_selection=None,
           monte_carlo=None, metadata=None, input_files=None, standard_names=None,
           log: bool | str = False, criteria=None, workflow=None,
           validation=None) -> dict:
    """Everything a report consists of, in memory: ``results`` (dict), ``figure``,
    ``svg`` (bytes), ``html``, ``json`` and ``csv`` (str; csv None without samples).
    ``log`` draws the curve panel on logarithmic axes (True or "xy", or "x", "y")."""
    pred = _plot.as_prediction(cal, samples)
    labels = dict(labels or {})
    units = (metadata or {}).get("units")
    if units and not labels.get("x_unit"):
        labels["x_unit"] = units
    res = results(cal, pred, title=title, labels=labels, sample_names=sample_names,
                  options=options, band=band, limits=limits,
                  degree_selection=degree_selection, monte_carlo=monte_carlo,
                  metadata=metadata, input_files=input_files, standard_names=standard_names,
                  criteria=criteria, workflow=workflow,
                  validation=validation)
    fig = _plot.plot(cal, pred, band=band, x_label=_label(res, "x"), y_label=_label(res, "y"),
                     sample_names=sample_names, title=title, log=log)
    _plot.keep_layout(fig)  # laid out once, for the SVG and every other picture
    svg = _plot.render(fig, "svg")
    return {"results": res, "figure": fig, "svg": svg, "html": to_html(res, svg),
            "json": to_json(cal, res), "csv": samples_csv(res)}


def write(cal, path, samples=None, title: str | None = None, *, json_path=True, csv_path=True,
          pictures=(), overwrite: bool = True, manifest=None, known=(), json_limit=None,
          **kwargs) -> dict:
    """Write the report.

    Parameters
    ----------
    cal : Calibration
    path : str or Path
        The HTML file.
    samples : InversePrediction, array_like, or (y, u_y), optional
    title : str, optional
    json_path, csv_path : path, True or False
        Where the JSON and the samples CSV go; True: beside the HTML with the
        extensions .json and .csv; False: not written.  No CSV without samples.
    pictures : sequence of paths
        The plot also as these files (.png at 200 dpi, .svg or .pdf).
    overwrite : bool
        False: refuse (``OutputExistsError``, nothing written) when any of the files
        exists already.
    manifest : path, optional
        Also write a manifest of the files written (each with its SHA-256), last; with
        ``overwrite``, the earlier set it lists is replaced whole, as are the ``known``
        paths the new set does not write (see :func:`quorvex._files.write_all`).
    json_limit : int, optional
        Refuse (``InputError``, nothing written) a JSON record larger than this many
        bytes: the command line keeps what ``fit`` writes readable by ``invert``.
    **kwargs
        ``labels``, ``sample_names``, ``options``, ``band``, ``limits``,
        ``degree_selection``, ``monte_carlo``, ``metadata``, ``input_files``,
        ``standard_names``, ``criteria``, ``validation`` (see ``results``), ``log``
        (see ``render``).

    Returns
    -------
    dict
        The paths written by kind ("html", "json", "csv", "pictures"), and "results".

    All files are prepared in memory, written each to a temporary name, and renamed
    only when every one of them is ready: a failing run leaves earlier files as they
    were, and none is ever left half written.
    """
    path = Path(path)
    out = render(cal, samples, title=title, **kwargs)
    files = {path: out["html"]}
    written = {"html": path, "results": out["results"]}
    if json_path:
        jp = path.with_suffix(".json") if json_path is True else Path(json_path)
        files[jp] = out["json"]
        written["json"] = jp
        size = len(out["json"].encode("utf-8"))
        if json_limit is not None and size > json_limit:
            from .errors import InputError
            raise InputError(f"{jp.name} would be {size // 2**20} MiB, more than the "
                             f"{json_limit // 2**20} MiB 'quorvex invert' reads; nothing was "
                             "written: fit the standards alone, then invert the samples in "
                             "parts")
    if csv_path and out["csv"] is not None:
        cp = path.with_suffix(".csv") if csv_path is True else Path(csv_path)
        files[cp] = out["csv"]
        written["csv"] = cp
    pics = []
    for p in pictures:
        p = Path(p)
        fmt_ = _plot.FORMATS.get(p.suffix.lower())
        if fmt_ is None:
            from .errors import InputError
            raise InputError(f"{p.name}: a picture is saved as .png, .svg or .pdf")
        files[p] = out["svg"] if fmt_ == "svg" else _plot.render(
            out["figure"], fmt_, _plot.PRINT_DPI if fmt_ == "png" else _plot.DPI)
        pics.append(p)
    written["pictures"] = pics
    _files.write_all(files, overwrite=overwrite, manifest=manifest, known=known)
    if manifest is not None:
        written["manifest"] = Path(manifest)
    return written
