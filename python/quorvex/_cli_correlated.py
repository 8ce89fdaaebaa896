"""``quorvex fit STANDARDS --correlations FILE``: the curve fitted to standards that
share their errors, as the description file states, and the samples read off it
with u(x) with and without the stated correlations side by side (a text report, the
same as a report page, and a CSV of the samples)."""
from __future__ import annotations

import csv
import io
import os
from pathlib import Path

import numpy as np

from . import _files, _report_correlated, tabular
from .correlated import Correlations, SamplesColumn, fit_correlated
from .errors import InputError

REPORT = "report-correlated.txt"
PAGE = "report-correlated.html"
SAMPLES = "samples-correlated.csv"
# Options of 'fit' that the fit with correlations does not take.
_NOT_TAKEN = (("weighting", "--weighting"), ("exclude", "--exclude"),
              ("monte_carlo", "--monte-carlo"), ("limits", "--limits"),
              ("replicates", "--replicates"), ("replicates_column", "--replicates-column"),
              ("curve_only", "--curve-only"), ("uy_value", "--uy-value"))


def command(args, run, read):
    for attr, option in _NOT_TAKEN:
        if getattr(args, attr, None) not in (None, False, [], ()):
            raise InputError(f"{option} does not apply to the fit with --correlations")
    if args.degree == "auto":
        raise InputError("--degree auto does not apply to the fit with --correlations: give "
                         "the degree")
    table = read(args.standards, args)
    std = tabular.read_standards(table, args.x, args.y, args.ux, args.uy, args.standard_name)
    columns = {h: table.numbers(k) for k, h in enumerate(table.header)
               if all(tabular.parse_number(c, table.decimal) is not None
                      for c in table.texts(k))}
    columns.update({h: table.texts(k) for k, h in enumerate(table.header) if h not in columns})
    names = std.names
    corr = Correlations.from_file(args.correlations, standards=columns, names=names)
    independent = _has_section(args.correlations, "independent")
    if not independent:
        # The standards file's uncertainty columns are the independent parts.
        corr.u_x = std.u_x if std.u_x is not None and not args.no_ux else 0.0
        corr.u_y = std.u_y if std.u_y is not None else 0.0
    cal = fit_correlated(std.x, std.y, corr, degree=args.degree, interval=args.interval,
                         maxit=args.maxit)
    out = [f"standards: {table.label}; correlations: {Path(args.correlations).name}", "",
           cal.summary()]
    rows = pred = None
    inputs = [("standards", table.label), ("correlations", Path(args.correlations).name)]
    if args.samples:
        st = read(args.samples, args)
        s = tabular.read_samples(st, args.sample_y, args.sample_uy, args.sample_name,
                                 prefer_y=[std.columns["y"]])
        shared = {}
        for src in corr.sources:
            if isinstance(src.samples, SamplesColumn):
                k = st.find("name", str(src.samples))  # refuses a column the file lacks
                shared[src.name] = st.numbers(k)
        pred = cal.inverse(s.y, u_y=s.u_y, samples=shared, names=s.names, level=args.band)
        out += ["", f"samples: {st.label}", str(pred)]
        inputs.append(("samples", st.label))
        rows = pred.rows()
    text = "\n".join(out) + "\n"
    if not args.quiet:
        print(text, end="")
    folder = Path(args.out or ".")
    xn, xu = tabular.split_unit(std.columns["x"])
    yn, yu = tabular.split_unit(std.columns["y"])
    page = _report_correlated.to_html(
        cal, pred, title=getattr(args, "title", None),
        labels={"x": xn, "x_unit": args.x_unit or xu, "y": yn, "y_unit": args.y_unit or yu},
        standard_names=names, inputs=inputs, description=_text(args.correlations),
        summary=text)
    files = {folder / REPORT: text.encode("utf-8"), folder / PAGE: page.encode("utf-8")}
    if rows is not None:
        buf = io.StringIO()
        w = csv.DictWriter(buf, fieldnames=list(rows[0]), lineterminator="\n")
        w.writeheader()
        for r in rows:
            w.writerow({k: (f"{v:.10g}" if isinstance(v, float) else v) for k, v in r.items()})
        files[folder / SAMPLES] = buf.getvalue().encode("utf-8")
    if not args.force:
        there = [p.name for p in files if p.exists()]
        if there:
            raise InputError(f"{folder}: {', '.join(there)} exist already; give --force to "
                             "replace them, or another --out")
    os.makedirs(folder, exist_ok=True)
    _files.write_all(files, overwrite=True)
    if not args.quiet:
        print(f"written: {', '.join(str(p) for p in files)}")


def _text(path) -> str | None:
    try:
        return Path(path).read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError):
        return None


def _has_section(path, name: str) -> bool:
    text = _text(path)
    if text is None:
        return False
    return any(line.strip().lower() == f"[{name}]" for line in text.splitlines())
