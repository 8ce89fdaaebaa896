"""The report page of a curve fitted to correlated standards (``quorvex fit
--correlations``): the samples' x and u(x) with the stated correlations and with every
correlation ignored, side by side; the coefficients, chi2 and the standards likewise.
Every number comes from the fits the library made (:class:`CorrelatedCalibration`,
its ``ignoring()`` fit and :class:`CorrelatedPrediction`); this module only writes
them out, with the report's styles and number rules."""
from __future__ import annotations

import datetime as _dt

import numpy as np

from . import report as _r
from ._text import fmt, fmt_pm
from ._text import header as _col_header
from .errors import QuorvexError

_DASH = _r.DASH


def _ignoring(cal):
    """The fit of V's diagonal, or None where it has no solution."""
    try:
        return cal.ignoring()
    except QuorvexError:
        return None


def _power(cal):
    """(a, u(a)) in powers of x, or NaNs where the fit is missing."""
    if cal is None:
        return None, None
    a, ca = cal.power_coefficients()
    return a, np.sqrt(np.diag(ca))


def _samples(pred, xl, yl) -> str:
    n = len(pred.names)
    shown = min(n, _r.HTML_MAX_SAMPLES)
    ys = [float(v) for v in pred.y[:shown]]
    x, xi = list(pred.x[:shown]), list(pred.x_ignoring[:shown])
    u, ui, U = list(pred.u_x[:shown]), list(pred.u_x_ignoring[:shown]), list(pred.U[:shown])
    cy = _r._Column(yl, ys, 8)
    # x and u(x) of both columns in one power of ten each, so that they read across.
    ex = _r.column_exponent(x + xi)
    cu = _r._Column("u(x)", u + ui + U, uncertainty=True)
    pct = f"{100 * pred.level:g} %"
    head = ["#", "sample", cy.name, _col_header(xl, ex), _col_header("u(x)", cu.e),
            _col_header(f"U ({pct})", cu.e), _col_header(xl, ex), _col_header("u(x)", cu.e)]
    rows = []
    for i in range(shown):
        rows.append([str(i + 1), str(pred.names[i]), cy(ys[i]),
                     fmt_pm(x[i], U[i], ex).split(" ± ")[0] if np.isfinite(U[i])
                     else fmt(x[i], 6, ex),
                     cu(u[i]), cu(U[i]),
                     _DASH if not np.isfinite(xi[i]) else fmt_pm(xi[i], ui[i], ex).split(" ± ")[0],
                     _DASH if not np.isfinite(ui[i]) else cu(ui[i])])
    # One header row naming the two fits over their columns.
    table = _r._table(head, rows, text_cols=(1,)).replace(
        "<thead><tr>", '<thead><tr><th colspan="3"></th><th colspan="3">with the stated '
        'correlations</th><th colspan="2">ignoring them</th></tr><tr>', 1)
    shared = (" The samples' responses share a stated source with the standards (for "
              "example an instrument's drift); that covariance is part of u(x) with the "
              "correlations." if pred.shared else "")
    return ("<h2>Samples: u(x) with and without the stated correlations</h2>" +
            table + _r._more(shown, n, "samples") +
            "<p class=\"meta\">'With the correlations': x read off the curve fitted with "
            "the standards' full covariance, u(x) to first order from the coefficients' "
            "covariance, the fit's sensitivity to the standards and the response's own "
            "uncertainty (GUM 5.2; ISO/TS 28037 clause 10). U = k u(x) with k = "
            f"{fmt(pred.k, 4)} (normal: the covariance is stated, not estimated). 'Ignoring "
            "them': the same standards fitted with only the diagonal of their covariance, "
            "and nothing shared with the samples, which is what a fit of independent "
            f"standards reports.{shared}</p>")


def _coefficients(cal, ig) -> str:
    a, ua = _power(cal)
    b, ub = _power(ig)
    head = ["", "value ± u with the correlations", "value ± u ignoring them"]
    rows = []
    for j in range(a.size):
        rows.append([f"a{j}", fmt_pm(a[j], ua[j]),
                     _DASH if b is None else fmt_pm(b[j], ub[j])])
    rows.append(["χ² (dof)", f"{fmt(cal.chi2, 4)} ({cal.dof})",
                 _DASH if ig is None else f"{fmt(ig.chi2, 4)} ({ig.dof})"])
    if cal.dof > 0:
        rows.append(["p", fmt(cal.p_value, 3), _DASH if ig is None else fmt(ig.p_value, 3)])
    return ("<h2>Curve</h2>" + _r._table(head, rows, text_cols=(0,)) +
            "<p class=\"meta\">The curve is y = a0 + a1 x + …; u from the coefficients' "
            "covariance as the standards' covariance states it (not scaled by χ²). p is the "
            "probability of a χ² this large if the standards agree with the curve and "
            "their stated covariance.</p>")


def _standards(cal, ig, names, xl, yl) -> str:
    n = cal.x.size
    shown = min(n, _r.HTML_MAX_STANDARDS)
    cx = _r._Column(xl, list(cal.x[:shown]) + list(cal.x_adjusted[:shown]), 7)
    cy = _r._Column(yl, list(cal.y[:shown]) + list(cal.fitted[:shown]), 7)
    head = ["#", "standard", cx.name, cy.name, _col_header("adjusted x", cx.e),
            _col_header("curve at it", cy.e)]
    if ig is not None:
        head += [_col_header("adjusted x ignoring", cx.e),
                 _col_header("curve at it ignoring", cy.e)]
    rows = []
    for i in range(shown):
        row = [str(i + 1), str(names[i]) if names is not None else str(i + 1),
               cx(cal.x[i]), cy(cal.y[i]), cx(cal.x_adjusted[i]), cy(cal.fitted[i])]
        if ig is not None:
            row += [cx(ig.x_adjusted[i]), cy(ig.fitted[i])]
        rows.append(row)
    return ("<h2>Standards</h2>" + _r._table(head, rows, text_cols=(1,)) +
            _r._more(shown, n, "standards") +
            "<p class=\"meta\">The adjusted x are the fit's estimates of the standards' "
            "true values (generalized Gauss–Markov regression, ISO/TS 28037 clause 10); "
            "they equal the stated x where the x values carry no uncertainty.</p>")


def to_html(cal, pred=None, *, title=None, labels=None, standard_names=None,
            inputs=(), description: str | None = None, summary: str = "") -> str:
    """The page.  ``inputs``: (what, file name) pairs shown in the header;
    ``description``: the correlations' description file as given."""
    labels = labels or {}
    xl = _r._plot.axis_label(labels.get("x"), labels.get("x_unit"), "x")
    yl = _r._plot.axis_label(labels.get("y"), labels.get("y_unit"), "y")
    title = title or "Calibration with correlated standards"
    ig = _ignoring(cal)
    date = _dt.datetime.now(_dt.timezone.utc).replace(microsecond=0).isoformat()
    parts = [
        "<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
        '<meta name="viewport" content="width=device-width, initial-scale=1">',
        f"<title>{_r._e(title)}</title><style>{_r.CSS}</style></head><body>",
        f"<h1>{_r._e(title)}</h1>",
        f'<p class="meta">Degree {cal.degree} curve, generalized Gauss–Markov regression, '
        f"{cal.x.size} standards with correlated errors · quorvex "
        f"{_r._e(_r.software()['quorvex'])} · {_r._e(date)}</p>",
    ]
    if inputs:
        parts.append(_r._fields(list(inputs) + [
            ("interval", f"[{fmt(cal.xmin, 6)}, {fmt(cal.xmax, 6)}]"),
            ("iterations", str(cal.iterations))]))
    if ig is None:
        parts.append('<p class="meta">The fit ignoring the correlations has no solution: '
                     "its columns are left empty.</p>")
    if pred is not None:
        parts.append(_samples(pred, xl, yl))
    else:
        parts.append('<p class="meta">No samples were given: the comparison of u(x) with '
                     "and without the correlations is shown for samples only.</p>")
    parts.append(_coefficients(cal, ig))
    parts.append(_standards(cal, ig, standard_names, xl, yl))
    if description is not None:
        parts.append('<div style="break-inside:avoid;page-break-inside:avoid">'
                     "<h2>How the standards share their errors</h2>"
                     "<p>The description file as given:</p>"
                     f"<pre>{_r._e(description)}</pre></div>")
    if summary:
        parts.append('<h2 class="appendix">Appendix: the report as printed by the command '
                     f"line</h2><pre>{_r._e(summary)}</pre>")
    parts.append("</body></html>\n")
    return "\n".join(parts)
