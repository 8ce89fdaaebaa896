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
from ._version import version as _version

FORMAT = "quorvex.Calibration"
DASH = "—"
HTML_MAX_SAMPLES = 1000  # rows of the samples table on the page; the CSV holds them all
WARN = ' class="warn"'


# Numbers as text

def _finite(v) -> bool:
    return v is not None and isinstance(v, (int, float, np.floating)) and math.isfinite(v)


def fmt(v, digits: int = 6) -> str:
    """A number to ``digits`` significant digits; a dash where there is none."""
    if v is None:
        return DASH
    v = float(v)
    if math.isnan(v):
        return DASH
    if math.isinf(v):
        return "∞" if v > 0 else "−∞"
    return f"{v:.{digits}g}"


def fmt_pm(v, u) -> str:
    """value ± u, u to two significant digits and the value to the same decimal place."""
    if not _finite(v):
        return fmt(v)
    if u is None or (isinstance(u, float) and math.isnan(u)):
        return fmt(v)
    u = float(u)
    if math.isinf(u):
        return f"{fmt(v)} ± ∞"
    if u <= 0:
        return f"{fmt(v)} ± 0"
    place = math.floor(math.log10(u)) - 1
    if place >= 0 or place < -12 or abs(v) >= 1e9:
        return f"{float(v):.6g} ± {u:.2g}"
    return f"{float(v):.{-place}f} ± {u:.{-place}f}"


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

def sample_flags(cal, pred, limits=None) -> list[list[str]]:
    """Per sample, what a user must see and act on (see
    :func:`quorvex.diagnostics.sample_flags`)."""
    from .diagnostics import sample_flags as flags
    return flags(cal, pred, limits)


def _standards(cal, diag) -> list[dict]:
    """One row per standard: data, fit, the residual statistic the outlier test uses,
    the outlier test's reasons and the back-calculation, all from ``diag`` (the
    calibration's ``diagnostics()``) and the diagnostics module."""
    flags = [""] * cal.n_points
    for o in diag.outliers:
        flags[o["index"]] = "; ".join(o["reasons"])
    z, zx, _ = _plot.residuals(cal)
    back = diag.back_calculated
    rows = []
    for i in range(cal.n_points):
        row = {"x": _num(cal.x[i]), "u_x": None if cal.u_x is None else _num(cal.u_x[i]),
               "y": _num(cal.y[i]), "u_y": None if cal.u_y is None else _num(cal.u_y[i]),
               "fitted": _num(cal.fitted[i]), "residual": _num(cal.residuals[i]),
               "normalized_residual": _num(z[i])}
        if cal.kind == "gls":
            row.update(x_adjusted=_num(cal.x_adjusted[i]), x_residual=_num(cal.residuals_x[i]),
                       normalized_x_residual=_num(zx[i]))
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


def _samples(cal, pred, names, limits=None) -> list[dict]:
    flags = sample_flags(cal, pred, limits)

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
    return rows


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
            criteria=None) -> dict:
    """What the report shows, as plain data (strict JSON: no NaN).

    ``samples`` is an InversePrediction, responses, or (y, u_y); ``labels`` may hold
    "x", "x_unit", "y", "y_unit"; ``options`` the options the run used, recorded as
    given.  The verdicts, outlier flags, back-calculation and (with ``limits``: True,
    or a dict of options for ``detection_limits``) the detection limits are those of
    ``cal.diagnostics()``.  ``degree_selection`` is the ``DegreeSelection`` the degree
    was chosen by and ``monte_carlo`` a ``MonteCarloPrediction`` of the samples (each
    may also be the plain data of an earlier report).
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
        "verdicts": {"rows": [list(r) for r in rows], "fit_for_use": diag.fit_for_use,
                     "verdict": verdict, "notes": list(diag.notes),
                     "criteria": _plain(diag.criteria), "levels": _plain(diag.levels)},
        "excluded": [dict(e) for e in cal.excluded],
        "band": band_text,
        "coefficients": coefficients,
        "standards": _standards(cal, diag),
        "samples": None if pred is None else _samples(cal, pred, sample_names,
                                                      diag.detection_limits),
        "diagnostics": _plain(diag.to_dict()),
        "degree_selection": _degree_selection(degree_selection),
        "monte_carlo": _monte_carlo(monte_carlo, sample_names),
    }
    return out


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


def load(text: str):
    """(Calibration, results or None) from a report's JSON or a plain ``to_json`` text."""
    from .calibration import Calibration
    from .errors import InputError
    try:
        d = json.loads(text)
    except ValueError as e:
        raise InputError(f"not a JSON file ({e})") from None
    if not isinstance(d, dict) or d.get("format") != FORMAT:
        raise InputError("not a quorvex calibration (no \"format\": \"quorvex.Calibration\")")
    res = d.pop("results", None)
    try:
        cal = Calibration.from_dict(d)
    except (InputError, KeyError, TypeError, ValueError) as e:
        raise InputError(f"a damaged quorvex calibration ({e})") from None
    return cal, res


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
        cells = [r["name"], _cell(r["y"]), _cell(r["u_y"]), r["n_roots"]]
        for k in range(nr):
            cells += [_cell(roots[k]), _cell(u_roots[k])]
        cells += [r.get("u_y_source", ""), _cell(r.get("U")), _cell(r.get("k")),
                  "inf" if r.get("dof") == "inf" else _cell(r.get("dof")),
                  _cell(r.get("coverage")), _cell(r.get("low")), _cell(r.get("high"))]
        cells.append("; ".join(r["flags"]))
        if mc:
            m = mc["samples"][i]
            cells += [_cell(m[k]) for k in mc_keys] + ["yes" if m["agrees"] else "no"]
        w.writerow(cells)
    return buf.getvalue()


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


_CSS = """
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;margin:1.5em auto;
max-width:76em;padding:0 1em;color:#1b1f24;line-height:1.4}
h1{font-size:1.5em;margin-bottom:.2em}h2{font-size:1.15em;margin-top:1.6em;
border-bottom:1px solid #d0d7de;padding-bottom:.2em}
.meta{color:#57606a;font-size:.9em}
table{border-collapse:collapse;font-size:.85em;margin:.5em 0}
th,td{border:1px solid #d0d7de;padding:.2em .5em;text-align:right;white-space:nowrap}
th{background:#f6f8fa}td.t,th.t{text-align:left;white-space:normal}
tr.flag td{background:#fff1f0}
ul.verdicts li{margin:.2em 0}li.warn{color:#9a3412}
pre{background:#f6f8fa;padding:.6em;overflow-x:auto;font-size:.82em}
figure{margin:1em 0}figure svg{max-width:100%;height:auto}
.scroll{overflow-x:auto}
"""


def _e(s) -> str:
    return html.escape(str(s), quote=False)  # text content only, never attributes


def _table(header, rows, flagged=None, text_cols=()) -> str:
    out = ['<div class="scroll"><table><thead><tr>']
    out += [f'<th class="t">{_e(h)}</th>' if k in text_cols else f"<th>{_e(h)}</th>"
            for k, h in enumerate(header)]
    out.append("</tr></thead><tbody>")
    for i, row in enumerate(rows):
        cls = ' class="flag"' if flagged is not None and flagged[i] else ""
        out.append(f"<tr{cls}>" + "".join(
            f'<td class="t">{_e(c)}</td>' if k in text_cols else f"<td>{_e(c)}</td>"
            for k, c in enumerate(row)) + "</tr>")
    out.append("</tbody></table></div>")
    return "".join(out)


def _label(res, axis) -> str:
    lab = res.get("labels") or {}
    return _plot.axis_label(lab.get(axis), lab.get(f"{axis}_unit"), axis)


def to_html(res: dict, svg: bytes | None) -> str:
    """The report page."""
    xl, yl = _label(res, "x"), _label(res, "y")
    fit = res["fit"]
    kind = {"ols": "weighted least squares", "gls": "errors in variables"}[fit["kind"]]
    parts = [
        "<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
        '<meta name="viewport" content="width=device-width, initial-scale=1">',
        f"<title>{_e(res['title'])}</title><style>{_CSS}</style></head><body>",
        f"<h1>{_e(res['title'])}</h1>",
        f'<p class="meta">Degree {fit["degree"]} curve, {kind}, {fit["n_points"]} standards · '
        f'quorvex {_e(res["software"]["quorvex"])} · {_e(res["date"])}</p>',
        _verdicts_html(res),
    ]
    if svg is not None:
        parts.append(f'<figure id="plot">{inline_svg(svg)}<figcaption class="meta">'
                     f"Top: standards with their uncertainties, the curve "
                     + (f"and its {_e(res['band'])}" if res["band"] and
                        not res["band"].startswith("no ") else f"({_e(res['band'] or 'no band')})")
                     + 
                     f"{', samples with u(x)' if res.get('samples') else ''}. Middle: the "
                     "deviation of the standards from the curve, with the band. Bottom: "
                     "the residuals the outlier test uses, guides at ±2; flagged standards in "
                     "red."
                     "</figcaption></figure>")
    if res.get("samples") is not None:
        parts.append(_samples_html(res, xl, yl))
    if res.get("monte_carlo"):
        parts.append(_monte_carlo_html(res, xl))
    parts.append(_standards_html(res, xl, yl))
    limits = (res.get("diagnostics") or {}).get("detection_limits")
    if limits:
        parts.append(_limits_html(limits, xl, yl))
    if res.get("degree_selection"):
        parts.append(_degree_html(res["degree_selection"]))
    parts.append(f"<h2>Summary</h2><pre>{_e(res['summary'])}</pre>")
    parts.append(_coefficients_html(res))
    record = {k: res[k] for k in ("options", "software", "date")}
    parts.append(f"<h2>Options and software</h2><pre>{_e(json.dumps(record, indent=1))}</pre>")
    parts.append("</body></html>\n")
    return "\n".join(parts)


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


def _monte_carlo_html(res, xl) -> str:
    mc = res["monte_carlo"]
    pct = f"{100 * mc['level']:g} %"
    head = ["sample", "y", "u(y)", f"{xl} (mean) ± u", "median", f"{pct} interval",
            "first order ± u", "no root", "several roots", "first order"]
    body, flagged = [], []
    for r in mc["samples"][:HTML_MAX_SAMPLES]:
        interval = (DASH if r["low"] is None else f"[{fmt(r['low'], 6)}, {fmt(r['high'], 6)}]")
        body.append([r["name"], fmt(r["y"], 8), fmt(r["u_y"], 3), fmt_pm(r["x"], r["u_x"]),
                     fmt(r["median"], 6), interval,
                     fmt_pm(r["first_order_x"], r["first_order_u_x"]),
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
           _table(head, body, flagged, text_cols=(0, len(head) - 1))]
    if len(mc["samples"]) > HTML_MAX_SAMPLES:
        out.append(f"<p>The first {HTML_MAX_SAMPLES} of {len(mc['samples'])} samples; the CSV "
                   "file holds them all.</p>")
    if mc["notes"]:
        out.append('<ul class="verdicts">' + "".join(
            f"<li{WARN}>{_e(n)}</li>" for n in mc["notes"][:HTML_MAX_SAMPLES]) + "</ul>")
    return "".join(out)


def _limits_html(d, xl, yl) -> str:
    rows = [
        ["LOD (ICH)", fmt(d["lod"], 4), "3.3·σ/S"],
        ["LOQ (ICH)", fmt(d["loq"], 4), "10·σ/S"],
        ["σ", fmt(d["sigma"], 4), "residual standard deviation at the lowest standard"],
        ["S", fmt(d["slope"], 4), "slope of the curve at the lowest standard"],
        ["critical response y_C", fmt(d["y_critical"], 6),
         f"p(x0) + k·s0 at the blank x0 = {fmt(d['blank'])}, k = {fmt(d['k_alpha'], 4)}, "
         f"s0 = {fmt(d['s_blank'], 4)}"],
        ["critical value x_C", fmt(d["x_critical"], 4),
         f"the smallest net x told from the blank (false positives α = {d['alpha']:g})"],
        ["detection limit x_D", fmt(d["x_detection"], 4),
         f"the net x detected with probability 1 − β (β = {d['beta']:g}, δ = "
         f"{fmt(d['delta'], 4)})"],
    ]
    return ("<h2>Detection and quantification limits</h2>" +
            _table(["", "value", "how"], rows, text_cols=(0, 2)) +
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


def _coefficients_html(res) -> str:
    c = res["coefficients"]
    n = len(c["value"])
    which = ("the stated uncertainties" if c["covariance"] == "stated"
             else "the residual scatter (scaled)")
    out = [f"<h2>Coefficients</h2><p>Chebyshev coefficients c0 … c{n - 1} on the curve's "
           f"interval [{fmt(res['fit']['interval'][0])}, {fmt(res['fit']['interval'][1])}] "
           f"(c0 at half weight); uncertainties from {which}.</p>"]
    names = [f"c{k}" for k in range(n)]
    out.append(_table(["", "value ± u", "u", *names],
                      [[names[i], fmt_pm(c["value"][i], c["u"][i]), fmt(c["u"][i], 3),
                        *[fmt(v, 4) for v in c["cov"][i]]] for i in range(n)],
                      text_cols=(0,)))
    out.append("<p class=\"meta\">The columns c0 … are the covariance matrix.</p>")
    if "line" in c:
        ln = c["line"]
        out.append("<p>As a straight line y = a + b·x: slope b = "
                   f"{_e(fmt_pm(ln['slope'], ln['u_slope']))}, intercept a = "
                   f"{_e(fmt_pm(ln['intercept'], ln['u_intercept']))}, "
                   f"cov(b, a) = {fmt(ln['cov'][0][1], 4)}.</p>")
    if "powers" in c:
        p = c["powers"]
        out.append("<p>In powers of x, y = a0 + a1·x + …, for reporting (evaluating from "
                   "these loses accuracy that the Chebyshev form keeps):</p>")
        out.append(_table(["", "value ± u"],
                          [[f"a{k}", fmt_pm(p["value"][k], p["u"][k])]
                           for k in range(len(p["value"]))], text_cols=(0,)))
    return "".join(out)


def _standards_html(res, xl, yl) -> str:
    rows = res["standards"]
    gls = res["fit"]["kind"] == "gls"
    diag = res.get("diagnostics") or {}
    statistic = diag.get("statistic") or "normalized residual"
    short = statistic.replace("normalized", "norm.").replace("studentized", "stud.")
    head = [xl, "u(x)", yl, "u(y)", "fitted", "residual", short]
    if gls:
        head += ["x adjusted", "norm. x residual"]
    head += ["back-calc. x", "back-calc. %", "flag"]
    body, flagged = [], []
    for r in rows:
        row = [fmt(r["x"], 8), fmt(r["u_x"], 3), fmt(r["y"], 8), fmt(r["u_y"], 3),
               fmt(r["fitted"], 6), fmt(r["residual"], 3), fmt(r["normalized_residual"], 3)]
        if gls:
            row += [fmt(r["x_adjusted"], 6), fmt(r["normalized_x_residual"], 3)]
        pct = r["back_calculated_percent"]
        row += [fmt(r["back_calculated"], 5), DASH if pct is None else f"{pct:.1f}",
                "; ".join(t for t in (r["flag"], r["back_calculated_verdict"]) if t)]
        body.append(row)
        flagged.append(bool(r["flag"]))
    threshold = diag.get("threshold")
    limit = f" beyond ±{threshold:.3g}" if threshold is not None else ""
    return ("<h2>Standards</h2>" + _table(head, body, flagged, text_cols=(len(head) - 1,)) +
            f"<p class=\"meta\">{_e(short)}: the {_e(statistic)} the outlier test uses (flagged"
            f"{_e(limit)}{', or by Cook’s distance' if not gls else ''}); "
            + ("the x part is δ/u(x). " if gls else "")
            + "Back-calculated: x read off the curve from the standard's own response, as % "
            "of nominal (±15 %, ±20 % at the lowest level; blanks are not tested).</p>")


def _samples_html(res, xl, yl) -> str:
    rows = res["samples"]
    nr = max([r["n_roots"] for r in rows] + [1])
    head = ["sample", yl, "u(y)", "u(y) from", "roots", f"{xl} ± u(x)"]
    head += [f"root {k} ± u" for k in range(2, nr + 1)]
    pct = f"{100 * rows[0].get('coverage', 0.95):g} %" if rows else "95 %"
    head += [f"U ({pct}) (k, dof)", f"{pct} inversion interval", "flags"]
    body, flagged = [], []
    for r in rows[:HTML_MAX_SAMPLES]:
        roots = (r["roots"] or []) + [None] * nr
        u_roots = (r["u_roots"] or []) + [None] * nr
        row = [r["name"], fmt(r["y"], 8), fmt(r["u_y"], 3), r.get("u_y_source", ""),
               str(r["n_roots"])]
        row += [fmt_pm(roots[k], u_roots[k]) if roots[k] is not None else DASH
                for k in range(nr)]
        dof = r.get("dof")
        row += [DASH if r.get("U") is None else
                f"{fmt(r['U'], 3)} ({fmt(r['k'], 4)}, {'∞' if dof == 'inf' else fmt(dof, 3)})",
                DASH if r.get("low") is None else
                f"[{fmt(r['low'], 6)}, {fmt(r['high'], 6)}]"
                + (" (open)" if r.get("interval_open") else "")]
        row.append("; ".join(r["flags"]))
        body.append(row)
        flagged.append(bool(r["flags"]))
    more = ""
    if len(rows) > HTML_MAX_SAMPLES:
        more = (f"<p>The first {HTML_MAX_SAMPLES} of {len(rows)} samples; the CSV file holds "
                "them all.</p>")
    return ("<h2>Samples</h2>" + _table(head, body, flagged, text_cols=(0, 3, len(head) - 1))
            + more +
            "<p class=\"meta\">u(x) is the standard uncertainty from the curve's coefficients "
            "and the response's own uncertainty (u(y), from the column named in 'u(y) from'); "
            "samples read off one curve are correlated through its coefficients. U = k u(x), "
            "k from Student's t with the degrees of freedom shown (Welch-Satterthwaite where "
            "a scaled and a stated part combine; ∞: normal). The inversion interval is the "
            "set of x whose prediction band holds the response; 'open' where it reaches an "
            "end of the curve.</p>")


def render(cal, samples=None, *, title=None, labels=None, sample_names=None, options=None,
           band: float | None = 0.95, limits: bool | dict = False, degree_selection=None,
           monte_carlo=None, criteria=None) -> dict:
    """Everything a report consists of, in memory: ``results`` (dict), ``figure``,
    ``svg`` (bytes), ``html``, ``json`` and ``csv`` (str; csv None without samples)."""
    pred = _plot.as_prediction(cal, samples)
    res = results(cal, pred, title=title, labels=labels, sample_names=sample_names,
                  options=options, band=band, limits=limits,
                  degree_selection=degree_selection, monte_carlo=monte_carlo,
                  criteria=criteria)
    fig = _plot.plot(cal, pred, band=band, x_label=_label(res, "x"), y_label=_label(res, "y"),
                     sample_names=sample_names, title=title)
    svg = _plot.render(fig, "svg")
    return {"results": res, "figure": fig, "svg": svg, "html": to_html(res, svg),
            "json": to_json(cal, res), "csv": samples_csv(res)}


def write(cal, path, samples=None, title: str | None = None, *, json_path=True, csv_path=True,
          pictures=(), **kwargs) -> dict:
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
        The plot also as these files (.png, .svg or .pdf).
    **kwargs
        ``labels``, ``sample_names``, ``options``, ``band``, ``limits``,
        ``degree_selection``, ``monte_carlo`` (see ``results``).

    Returns
    -------
    dict
        The paths written by kind ("html", "json", "csv", "pictures"), and "results".

    All files are prepared in memory and then written each to a temporary name and
    renamed, so that none is ever left half written.
    """
    path = Path(path)
    out = render(cal, samples, title=title, **kwargs)
    files = {path: out["html"]}
    written = {"html": path, "results": out["results"]}
    if json_path:
        jp = path.with_suffix(".json") if json_path is True else Path(json_path)
        files[jp] = out["json"]
        written["json"] = jp
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
        files[p] = out["svg"] if fmt_ == "svg" else _plot.render(out["figure"], fmt_)
        pics.append(p)
    written["pictures"] = pics
    _files.write_all(files)
    return written
