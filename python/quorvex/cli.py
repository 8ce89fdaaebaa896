"""The ``quorvex`` command: from a CSV file of standards to a calibration report.

    quorvex fit standards.csv [--degree N|auto] [--weighting 1/x|1/x2]
                              [--variance-model MODEL] [--limits [--blank-readings CSV]]
                [--samples samples.csv [--monte-carlo N]] [--out DIR] [--force]
    quorvex fit standards.csv --correlations FILE [--degree N] [--samples samples.csv]
    quorvex invert calibration.json samples.csv [--out DIR] [--force]
    quorvex validate [--out DIR] [--operator NAME] [--laboratory NAME]

A run never replaces the files of another run unless given --force: ``fit`` refuses an
output folder that holds its files already, and ``invert`` writes files of its own,
named after the samples file (report-<samples>.html, samples-<samples>.csv,
results-<samples>.json and the pictures), never the fit's.

Exit status: 0 done (warnings, such as a fit that stopped short of full convergence
but is usable, go to standard error), 1 an error (one line
"quorvex: error: ..." on standard error, and no output file changed), 2 a usage error,
3 done, but the calibration fails a criterion that rejects it (not one set to warn
only): every file is written and every sample carries the flag "calibration not fit
for use"; 130 interrupted.
"""
from __future__ import annotations

import argparse
import dataclasses
import os
import sys
import warnings
from pathlib import Path

import numpy as np

from . import _files, tabular
from . import workflow as WF
from . import _validate as _V
from ._version import version as _version
from .errors import InputError, QuorvexError

PROG = "quorvex"
EXIT_NOT_FIT = 3  # the calibration fails a criterion rejecting it: files written, samples flagged
PROGRESS_MIN = 20000   # responses from which inverse prediction shows progress
PROGRESS_CHUNK = 5000  # responses per progress step
MC_PROGRESS_MIN = 200  # samples from which Monte Carlo inverse prediction shows progress
DEGREES = range(1, 6)  # candidates of --degree auto
# Bounds that keep a run's memory bounded (docs/reliability.md gives the measurements);
# each is refused before the run starts.
MAX_STANDARDS = 100_000         # standards in one fit: calibration.json stays below
                                # MAX_RECORD, which invert reads
MAX_SAMPLES = tabular.MAX_ROWS  # samples in one run
MAX_NGRID = _V.MAX_NGRID        # --ngrid: grid cells scanned per response
MAX_DRAWS = _V.MAX_DRAWS        # --monte-carlo: draws per sample
MAX_MC_VALUES = 20_000_000      # --monte-carlo: draws times samples in one run
MAX_REPLICATES = 1_000_000      # readings averaged into one sample's response
MAX_SEED = 2**63 - 1
MAX_RECORD = tabular.MAX_BYTES  # calibration.json that invert reads
SEPARATORS = {"comma": ",", ",": ",", "semicolon": ";", ";": ";", "tab": "\t", "\\t": "\t",
              "\t": "\t"}


class _Parser(argparse.ArgumentParser):
    """argparse with a one-line usage error and exit status 2."""

    def error(self, message):
        self.exit(2, f"{PROG}: error: {message} (see '{self.prog} --help')\n")


def _degree(text: str):
    if text.strip().lower() == "auto":
        return "auto"
    try:
        d = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"the degree is a number 0 to 9 or 'auto', not {text!r}")
    if not 0 <= d <= 9:
        raise argparse.ArgumentTypeError(f"the degree must lie between 0 and 9, not {d}")
    return d


def _level(text: str) -> float:
    try:
        v = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}")
    if not 0 < v < 1:
        raise argparse.ArgumentTypeError(f"the band's level lies between 0 and 1, not {v}")
    return v


def _positive_int(text: str, high: int | None = None) -> int:
    try:
        v = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}")
    if v < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {v}")
    if high is not None and v > high:
        raise argparse.ArgumentTypeError(f"must be at most {high}, not {v}")
    return v


def _ngrid(text: str) -> int:
    return _positive_int(text, MAX_NGRID)


def _replicates(text: str) -> int:
    return _positive_int(text, MAX_REPLICATES)


def _seed(text: str) -> int:
    try:
        v = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"give a whole number 0 to {MAX_SEED}, not {text!r}")
    if not 0 <= v <= MAX_SEED:
        raise argparse.ArgumentTypeError(f"give a whole number 0 to {MAX_SEED}, not {v}")
    return v


def _nonnegative(text: str) -> float:
    try:
        v = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not (v >= 0 and np.isfinite(v)):
        raise argparse.ArgumentTypeError(f"must be a finite number >= 0, not {text}")
    return v


def _positive_float(text: str) -> float:
    v = _nonnegative(text)
    if not v > 0:
        raise argparse.ArgumentTypeError(f"must be above 0, not {text}")
    return v


def _probability(text: str) -> float:
    v = _nonnegative(text)
    if not 0 < v < 1:
        raise argparse.ArgumentTypeError(f"must lie strictly between 0 and 1, not {text}")
    return v


def _probability_closed(text: str) -> float:
    v = _nonnegative(text)
    if not v <= 1:
        raise argparse.ArgumentTypeError(f"must lie in [0, 1], not {text}")
    return v


def _exclusion(text: str) -> tuple[str, str]:
    row, sep, reason = text.partition("=")
    if not row.strip() or (sep and not reason.strip()):
        raise argparse.ArgumentTypeError(f"give STANDARD or STANDARD=REASON (e.g. "
                                         f"'Cal Blank=not part of the curve'), not {text!r}")
    return row.strip(), reason.strip() if sep else "excluded (no reason given)"


def _levels_count(text: str) -> int:
    try:
        v = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if v < 0:
        raise argparse.ArgumentTypeError(f"must be 0 or more, not {v}")
    return v


def _monte_carlo_draws(text: str) -> int:
    v = _positive_int(text, MAX_DRAWS)
    if v < 2:
        raise argparse.ArgumentTypeError(f"Monte Carlo needs at least 2 draws, not {v}")
    return v


def _formats(text: str) -> list[str]:
    out = [f.strip().lower().lstrip(".") for f in text.split(",") if f.strip()]
    for f in out:
        if f not in ("png", "svg", "pdf"):
            raise argparse.ArgumentTypeError(f"pictures are png, svg or pdf, not {f!r}")
    return out


def build_parser() -> argparse.ArgumentParser:
    p = _Parser(prog=PROG, description="Calibration curves with uncertainties: fit standards "
                "from a CSV file, read unknown samples off the curve, and write a report.")
    p.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    sub = p.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    sub.required = True

    def reading(q, what):
        q.add_argument("--delimiter", choices=sorted(SEPARATORS), default=None,
                       help=f"separator of the {what} (default: found from the header line)")
        q.add_argument("--decimal", choices=[".", ","], default=None,
                       help="decimal mark (default: a decimal comma is recognised when the "
                            "separator is not a comma)")

    def output(q, default_text):
        q.add_argument("--out", metavar="DIR", default=None,
                       help=f"folder for the outputs (default: {default_text})")
        q.add_argument("--title", default=None, help="title of the report")
        q.add_argument("--band", type=_level, default=0.95, metavar="LEVEL",
                       help="level of the confidence band drawn (default 0.95)")
        q.add_argument("--pictures", type=_formats, default=["png", "svg"], metavar="FORMATS",
                       help="picture files to write: png, svg, pdf, comma-separated "
                            "(default png,svg)")
        q.add_argument("--ngrid", type=_ngrid, default=None,
                       help="grid cells scanned for roots in inverse prediction (default 100, "
                            f"at most {MAX_NGRID})")
        q.add_argument("--monte-carlo", type=_monte_carlo_draws, default=None, metavar="N",
                       help="also predict the samples by Monte Carlo with N draws (e.g. "
                            f"10000, at most {MAX_DRAWS}, and N times the samples at most "
                            f"{MAX_MC_VALUES}), to check the first-order u(x)")
        q.add_argument("--seed", type=_seed, default=None,
                       help="seed of the Monte Carlo draws (a whole number, 0 or more)")
        q.add_argument("--limits", action="store_true",
                       help="also give the detection and quantification limits (blank at "
                            "x = 0, which must lie in the curve's interval)")
        q.add_argument("--validation", metavar="RECORD", default=None,
                       help="a validation record (validation.json of 'quorvex validate'): the "
                            "report says whether the libraries used are the validated ones, "
                            "by SHA-256")
        q.add_argument("-q", "--quiet", action="store_true",
                       help="print only warnings and errors")
        q.add_argument("--force", action="store_true",
                       help="replace the files of an earlier run in the output folder "
                            "(default: refuse, and write nothing)")
        q.add_argument("--log", nargs="?", const="xy", choices=["x", "y", "xy"], default=None,
                       help="logarithmic axes on the picture's curve panel: x, y or xy "
                            "(--log alone: both), for curves over several decades")
        g = q.add_argument_group("the laboratory's fields (shown in the report's header)")
        for name, what in (("analyte", "the analyte measured"),
                           ("method", "the method (name or SOP number)"),
                           ("instrument", "the instrument"),
                           ("operator", "who prepared the calibration (signature block)"),
                           ("reviewer", "who reviews it (signature block)"),
                           ("units", "the unit of x, the reported quantity (e.g. mg/L)")):
            g.add_argument(f"--{name}", default=None, metavar="TEXT", help=what)

    def sample_columns(q, prefix):
        q.add_argument(f"--{prefix}y", metavar="COL", default=None,
                       help="column of the samples' responses (default: the standards' "
                            "response column, or y, response, signal, ...)")
        q.add_argument(f"--{prefix}uy", metavar="COL", default=None,
                       help="column of their standard uncertainties (default: u_<response "
                            "column>, u_y, ...; none: from the scatter of the standards, "
                            "see --replicates, --uy-value, --curve-only)")
        q.add_argument(f"--{prefix}name", metavar="COL", default=None,
                       help="ID column of the samples (default: Sample Name, Sample ID, "
                            "Name, ID, Probe, Probenname, ...)")
        reading_uncertainty(q)

    def reading_uncertainty(q):
        q.add_argument("--replicates", type=_replicates, default=None, metavar="M",
                       help="readings averaged into each sample's response: u(y) from the "
                            "scatter is divided by sqrt(M) (default 1)")
        q.add_argument("--replicates-column", metavar="COL", default=None,
                       help="column of the samples file with each sample's number of "
                            "readings")
        q.add_argument("--uy-value", type=_nonnegative, default=None, metavar="U",
                       help="one stated u(y) for every sample")
        q.add_argument("--curve-only", action="store_true",
                       help="u(y) = 0: the samples' u(x) holds the curve's uncertainty only")

    def reporting(q):
        g = q.add_argument_group("reporting samples (the laboratory's rules)")
        g.add_argument("--no-combine", action="store_true",
                       help="keep readings with the same sample ID as separate results "
                            "(default: combined into one, their mean)")
        g.add_argument("--replicate-alpha", type=_probability, default=None, metavar="A",
                       help="level of the check that a sample's readings agree (default "
                            "0.01)")
        g.add_argument("--replicate-sd", type=_positive_float, default=None, metavar="S",
                       help="check the readings against this scatter of one reading (the "
                            "laboratory's repeatability) instead of the calibration's")
        g.add_argument("--replicate-rsd", type=_positive_float, default=None, metavar="PCT",
                       help="the laboratory's limit on the readings' RSD in %% (e.g. 2): "
                            "the check then compares with it")
        g.add_argument("--lod", choices=list(WF.LOD_DEFINITIONS), default=None,
                       help="the LOD samples are flagged against: x_C or x_D (ISO 11843-2), "
                            "ICH (3.3 sigma/S) (default x_D)")
        g.add_argument("--loq", choices=list(WF.LOQ_DEFINITIONS), default=None,
                       help="the LOQ samples are flagged against and the reportable range "
                            "starts at: ICH (10 sigma/S), DIN (DIN 32645), larger (the "
                            "larger of both; default)")
        g.add_argument("--below-range", choices=list(WF.RULES), default=None,
                       help="what is reported below the reportable range: flag (the value "
                            "with its flag; default), less-than ('< lower end'), "
                            "less-than-lod ('< LOD' below the LOD too)")
        g.add_argument("--factor", type=_positive_float, default=None, metavar="F",
                       help="dilution or preparation factor of every sample: reported = "
                            "x * F")
        g.add_argument("--factor-column", metavar="COL", default=None,
                       help="column of the samples file with each sample's factor")
        g.add_argument("--u-factor", type=_nonnegative, default=None, metavar="U",
                       help="standard uncertainty of --factor")
        g.add_argument("--u-factor-column", metavar="COL", default=None,
                       help="column with the standard uncertainty of each factor")

    def criteria(q):
        g = q.add_argument_group("acceptance criteria (written into the report as used)")
        g.add_argument("--criteria", metavar="PRESET|FILE", default=None,
                       help="the acceptance criteria: a preset (quorvex, the default; "
                            "ich-m10; epa-8000d; epa-8000d-each; assay) or a file of the "
                            "laboratory's own criteria (--save-criteria writes one); the "
                            "options below change single criteria of it (default for "
                            "invert: the calibration's criteria)")
        g.add_argument("--save-criteria", metavar="FILE", default=None,
                       help="also write the criteria used to FILE, to give to --criteria "
                            "in later runs (refused where FILE exists, unless --force)")
        g.add_argument("--criteria-name", metavar="NAME", default=None,
                       help="the name --save-criteria gives them (default: the file's name)")
        g.add_argument("--alpha", type=_probability, default=None,
                       help="overall false-rejection rate of the tests, shared among those "
                            "that apply (default 0.05)")
        g.add_argument("--alpha-goodness", type=_probability, default=None, metavar="A",
                       help="level of the chi2 test (default: its share of --alpha)")
        g.add_argument("--alpha-lack-of-fit", type=_probability, default=None, metavar="A",
                       help="level of the test of the curve's shape: lack of fit with "
                            "replicates, else Mandel's test of the next-higher term "
                            "(default: its share of --alpha)")
        g.add_argument("--alpha-outliers", type=_probability, default=None, metavar="A",
                       help="family level of the outlier test over all standards (default: "
                            "its share of --alpha)")
        g.add_argument("--tolerance", type=_positive_float, default=None, metavar="PCT",
                       help="back-calculated standards: allowed deviation in %% (default 15)")
        g.add_argument("--tolerance-lowest", type=_positive_float, default=None,
                       metavar="PCT", help="the same at the lowest level (default 20)")
        g.add_argument("--back-fraction", type=_probability_closed, default=None,
                       metavar="F", help="share of the standards that must read back within "
                                         "their limits (default 0.75)")
        g.add_argument("--min-levels", type=_levels_count, default=None, metavar="N",
                       help="least number of non-zero levels among the standards read back "
                            "within their limits (default 0: no such rule; ich-m10: 6)")
        g.add_argument("--rse-limit", type=_positive_float, default=None, metavar="PCT",
                       help="largest relative standard error of the standards read back, "
                            "in %% (default: no such rule; epa-8000d: 20)")
        g.add_argument("--warn-only", action="append", default=[], metavar="CRITERION",
                       choices=["goodness", "lack_of_fit", "outliers", "back_calculated",
                                "levels", "rse"],
                       help="a criterion whose failure only warns (repeatable): goodness, "
                            "lack_of_fit, outliers, back_calculated, levels, rse")

    f = sub.add_parser("fit", help="fit a curve to standards and write the report",
                       description="Fit a calibration curve to the standards in a CSV file "
                       "and write calibration.json, report.html, samples.csv and the picture "
                       "(refused where they exist, unless --force).")
    f.add_argument("standards", help="CSV file of standards with a header line")
    f.add_argument("--x", metavar="COL", help="column of x (default: x, concentration, ...)")
    f.add_argument("--standard-name", metavar="COL", default=None,
                   help="ID column of the standards (default: Sample Name, Sample ID, Name, "
                        "ID, Probe, Probenname, ... if there is one)")
    f.add_argument("--y", metavar="COL", help="column of y (default: y, response, signal, ...)")
    f.add_argument("--ux", metavar="COL", help="column of u(x): given, the errors-in-variables "
                   "fit is used (default: u_x, u_<x column>, ... if there is one)")
    f.add_argument("--uy", metavar="COL", help="column of u(y) (default: u_y, u_<y column>, "
                   "... if there is one; none: uncertainties from the scatter)")
    f.add_argument("--no-ux", action="store_true",
                   help="ignore an x uncertainty column: weighted least squares in y only")
    f.add_argument("--degree", type=_degree, default=1,
                   help="degree of the curve, 0 to 9, or 'auto' (default 1)")
    f.add_argument("--weights", metavar="COL", default=None,
                   help="column of weights w per standard (each > 0): minimise the sum of "
                        "w*r^2, the scale from the residuals")
    f.add_argument("--weighting", choices=["1/x", "1/x2", "1/y", "1/y2"], default=None,
                   help="weighting preset: minimise the sum of w*r^2 with w = 1/x or 1/x^2 "
                        "(every x > 0), or 1/y or 1/y^2 from the responses (no y = 0); "
                        "uncertainties from the scatter, uncertainty columns not used")
    f.add_argument("--variance-model", default=None, metavar="MODEL",
                   choices=["auto", "constant", "proportional", "floor", "power"],
                   help="weights 1/sigma(x) from a variance model fitted to the standards "
                        "measured in replicate: constant, proportional (sigma = b x), floor "
                        "(sigma^2 = a^2 + b^2 x^2), power (sigma = a |mean|^b), or auto (the "
                        "likelihood-ratio test at 5 %% chooses); samples then take u(y) from "
                        "it, and --limits the blank's scatter from its floor")
    f.add_argument("--blank-readings", metavar="CSV", default=None,
                   help="with --limits: a CSV file of readings of blanks (its response "
                        "column); the blank's scatter for the detection limits, with their "
                        "degrees of freedom")
    f.add_argument("--interval", type=float, nargs=2, metavar=("LO", "HI"), default=None,
                   help="the curve's interval (default: the standards' range, widened for "
                        "the errors-in-variables fit)")
    f.add_argument("--maxit", type=_positive_int, default=None,
                   help="iteration limit of the errors-in-variables fit")
    f.add_argument("--x-unit", default=None, help="unit of x for the labels")
    f.add_argument("--y-unit", default=None, help="unit of y for the labels")
    f.add_argument("--samples", metavar="CSV", default=None,
                   help="also read these samples off the curve")
    f.add_argument("--exclude", action="append", default=[], metavar="STANDARD=REASON",
                   type=_exclusion,
                   help="leave a standard out of the fit, on the record (repeatable): "
                        "STANDARD is its ID in the file's ID column or its 1-based data row "
                        "(as in Python and R); a name that fits two standards is refused, "
                        "listing both. Excluded standards are left out before any check "
                        "(e.g. every x > 0 under --weighting)")
    f.add_argument("--correlations", metavar="FILE", default=None,
                   help="a description of how the standards share their errors (independent "
                        "parts, named common sources such as a stock or an instrument's drift, "
                        "a dilution chain, or Ux/Uy/Uxy matrix files; see the user guide): "
                        "the curve is then fitted by generalized Gauss-Markov regression, and "
                        "report-correlated.txt, report-correlated.html and "
                        "samples-correlated.csv give u(x) with and without the stated "
                        "correlations side by side")
    sample_columns(f, "sample-")
    reading(f, "input files")
    output(f, "the current folder")
    criteria(f)
    reporting(f)

    i = sub.add_parser("invert", help="read samples off a saved calibration",
                       description="Read unknown samples off the calibration in a "
                       "calibration.json, and write a report of their own beside it: "
                       "report-<samples>.html, samples-<samples>.csv, results-<samples>.json "
                       "and the pictures (the fit's files are left as they are). The title, "
                       "laboratory's fields, limit settings and reporting rules (--lod, "
                       "--loq, --below-range) of the calibration are carried over; options "
                       "given here take precedence.")
    i.add_argument("calibration", help="calibration.json written by 'quorvex fit'")
    i.add_argument("samples", help="CSV file of samples with a header line")
    sample_columns(i, "")
    reading(i, "samples file")
    output(i, "the calibration's folder")
    criteria(i)
    reporting(i)
    r = sub.add_parser("report", help="render the report of a saved calibration record",
                       description="Render the report of a calibration record (calibration."
                       "json of 'quorvex fit', or a record saved by R's save_calibration() "
                       "or Python's Calibration.to_json()) beside it: report-<record>.html, "
                       "results-<record>.json and the pictures. The record's standards are "
                       "fitted again and must give the coefficients it holds.")
    r.add_argument("calibration", help="the calibration record (JSON)")
    output(r, "the record's folder")
    criteria(r)
    add_validate_command(sub)
    return p


def add_validate_command(sub) -> None:
    """Register ``validate`` with the command line's subparsers (defined here, so that
    the validation is imported only when it runs)."""
    p = sub.add_parser("validate", help="run the reference cases and write the validation "
                       "record",
                       description="Run the reference cases (NIST StRD, ISO/TS 28037, "
                       "Pearson-York, closed forms, Monte Carlo, independent "
                       "errors-in-variables solutions, Graybill-Iyer inversion intervals, "
                       "DIN 32645 limits, a weighted fit, verdicts, reading an export, the "
                       "laboratory library) on this installation and write "
                       "validation.html and validation.json. Exit status 0 when every case "
                       "passes, 1 when any fails.")
    p.add_argument("--out", metavar="DIR", default=None,
                   help="folder for validation.html and validation.json (default: the "
                        "current folder)")
    p.add_argument("--operator", metavar="NAME", default=None,
                   help="who runs the validation, for the record")
    p.add_argument("--laboratory", metavar="NAME", default=None,
                   help="the laboratory, for the record")
    p.add_argument("-q", "--quiet", action="store_true",
                   help="print only the verdict and errors")
    p.add_argument("--force", action="store_true",
                   help="replace an earlier validation record in the folder (default: "
                        "refuse, and run nothing)")



# Running

class _Run:
    """Warnings collected for standard error, and what is printed."""

    def __init__(self, quiet: bool):
        self.quiet = quiet

    def say(self, text: str = "") -> None:
        if not self.quiet:
            print(text)

    @staticmethod
    def warn(text: str) -> None:
        print(f"{PROG}: warning: {text}", file=sys.stderr)


def _read(path, args, max_rows=None, advice=None):
    extra = {} if advice is None else {"rows_advice": advice}
    return tabular.read_table(path, delimiter=SEPARATORS.get(args.delimiter) if args.delimiter
                              else None, decimal=args.decimal,
                              max_rows=MAX_SAMPLES if max_rows is None else max_rows, **extra)


def _labels(columns: dict, x_unit=None, y_unit=None) -> dict:
    xn, xu = tabular.split_unit(columns["x"])
    yn, yu = tabular.split_unit(columns["y"])
    return {"x": xn, "x_unit": x_unit or xu, "y": yn, "y_unit": y_unit or yu}


def _progress(total: int, desc: str):
    """A tqdm bar on standard error when tqdm is there and standard error is a
    terminal; otherwise None."""
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm(total=total, desc=desc, unit=" samples", file=sys.stderr, disable=None,
                leave=False)


def _concat(parts):
    """One InversePrediction from chunks in order."""
    return type(parts[0]).concatenate(parts)


def invert(cal, y, u_y, ngrid=None, replicates=1):
    """Inverse prediction with a progress bar for long batches."""
    n = len(y)

    def part(v):
        return v if v is None or isinstance(v, (str, float, int)) else v[s:s + PROGRESS_CHUNK]

    if n < PROGRESS_MIN:
        return cal.inverse(y, u_y, ngrid=ngrid, replicates=replicates)
    bar = _progress(n, "inverse prediction")
    parts = []
    try:
        for s in range(0, n, PROGRESS_CHUNK):
            parts.append(cal.inverse(y[s:s + PROGRESS_CHUNK], part(u_y), ngrid=ngrid,
                                     replicates=part(replicates)))
            if bar is not None:
                bar.update(len(parts[-1]))
    finally:
        if bar is not None:
            bar.close()
    return _concat(parts)


def monte_carlo(cal, y, u_y, n: int, seed, replicates=1):
    """Monte Carlo inverse prediction (``cal.inverse(y, u_y, method="monte-carlo", n=n,
    seed=seed)``, the same draws), with a progress bar for long batches."""
    from .montecarlo import monte_carlo as run
    bar = _progress(len(y), "Monte Carlo") if len(y) >= MC_PROGRESS_MIN else None
    try:
        return run(cal, y, u_y=u_y, n=n, seed=seed, replicates=replicates,
                   progress=None if bar is None else bar.update)
    finally:
        if bar is not None:
            bar.close()


def _fit(args, run: _Run):
    import quorvex
    table = _read(args.standards, args, MAX_STANDARDS,
                  "a fit takes at most {max_rows} standards: is it the file of standards?")
    std = tabular.read_standards(table, args.x, args.y, args.ux, args.uy, args.standard_name)
    if std.columns.get("name"):
        run.say(f"{table.label}: standards' names from the column {std.columns['name']!r}")
    u_x = None if args.no_ux else std.u_x
    u_y = std.u_y
    used_columns = dict(std.columns)
    if args.no_ux:
        used_columns["u_x"] = None
    options = {}
    unused = ""
    if args.weighting is not None:
        given = [f"--{k}" for k in ("ux", "uy") if getattr(args, k) is not None]
        if given:
            raise InputError(f"--weighting {args.weighting} states relative weights; it "
                             f"cannot be used with {' and '.join(given)} (uncertainties)")
        ignored = [c for c in (used_columns["u_x"], used_columns["u_y"]) if c is not None]
        if ignored:  # said once the fit has worked
            unused = (f"--weighting {args.weighting}: the uncertainty column"
                      f"{'s' if len(ignored) > 1 else ''} {', '.join(map(repr, ignored))} "
                      "not used; the uncertainties come from the scatter")
        u_x = u_y = None
        used_columns["u_x"] = used_columns["u_y"] = None
        options["weighting"] = args.weighting
    if args.variance_model is not None:
        if args.weighting is not None:
            raise InputError("--variance-model gives the weights; it cannot be used with "
                             "--weighting")
        given = [f"--{k}" for k in ("ux", "uy") if getattr(args, k) is not None]
        if given:
            raise InputError(f"--variance-model gives the weights; it cannot be used with "
                             f"{' and '.join(given)} (uncertainties)")
        if args.degree == "auto":
            raise InputError("--variance-model takes the degree given (--degree N)")
        ignored = [c for c in (used_columns["u_x"], used_columns["u_y"]) if c is not None]
        if ignored:
            unused = (f"--variance-model: the uncertainty column"
                      f"{'s' if len(ignored) > 1 else ''} {', '.join(map(repr, ignored))} "
                      "not used; the weights come from the variance model")
        u_x = u_y = None
        used_columns["u_x"] = used_columns["u_y"] = None
        options["variance"] = args.variance_model
    if u_x is not None and u_y is None:
        raise InputError(f"{table.label}: the x uncertainties ({std.columns['u_x']!r}) need "
                         "y uncertainties too; name the column with --uy, or give --no-ux")
    if args.maxit is not None:
        if u_x is None:
            raise InputError("--maxit applies to the errors-in-variables fit (standards with "
                             "x uncertainties) only")
        options["maxit"] = args.maxit
    if args.weights is not None:
        if args.weighting is not None or args.variance_model is not None:
            raise InputError("--weights gives the weights; it cannot be used with --weighting "
                             "or --variance-model")
        given = [f"--{k}" for k in ("ux", "uy") if getattr(args, k) is not None]
        if given:
            raise InputError(f"--weights cannot be used with {' and '.join(given)} "
                             "(uncertainties)")
        k = table.find("u_y", args.weights)
        options["weights"] = table.numbers(k)
        u_x = u_y = None
        used_columns["u_x"] = used_columns["u_y"] = None
        used_columns["weights"] = table.header[k]
    selection = None
    # Standards are named as in Python and R: by their ID, or by their 1-based data row.
    # The IDs name them in the record where they are unique; else the data rows do.
    raw = None if std.names is None else [str(n).strip() for n in std.names]
    names = raw
    if names is not None and (len(set(names)) < len(names) or "" in names):
        names = None
    rows = [str(k + 1) for k in range(len(std.x))]
    options["ids"] = names or rows
    exclude, dropped = {}, set()
    from .fitting import standard_index
    for key, reason in args.exclude:
        try:
            k = standard_index(key, raw, len(std.x))
        except InputError as e:
            raise InputError(f"{table.label}: --{str(e)}") from None
        if k in dropped:
            raise InputError(f"--exclude names standard {options['ids'][k]} twice")
        dropped.add(k)
        exclude[k + 1] = reason  # the data row: one standard, whatever the IDs
    if exclude:
        options["exclude"] = exclude
    # Excluded standards are gone before any check of what the fit needs.
    kept = np.array([k not in dropped for k in range(len(std.x))], dtype=bool)
    if args.weighting is not None and not (std.x[kept] > 0).all():
        k = int(np.flatnonzero(kept & ~(std.x > 0))[0])
        raise InputError(f"{table.label}: data row {k + 1} (line {table.lines[k]}): "
                         f"--weighting {args.weighting} needs every x > 0, not {std.x[k]:g}; "
                         "leave a calibration blank out with --exclude")
    try:
        if args.degree == "auto":
            selection = quorvex.select_degree(std.x, std.y, u_y=u_y, u_x=u_x, degrees=DEGREES,
                                              interval=args.interval, **options)
            cal = selection.calibration
        else:
            cal = quorvex.fit(std.x, std.y, u_y=u_y, u_x=u_x, degree=args.degree,
                              interval=args.interval, **options)
        cal.u_coef  # the uncertainties exist (they do not overflow)
    except QuorvexError as e:
        raise type(e)(f"{table.label}: {e}", code=e.code, routine=e.routine) from None
    if unused:
        run.warn(unused)
    labels = _labels(used_columns, args.x_unit, args.y_unit)
    args._inputs = [("standards", args.standards, table.sha256)]
    args._standard_names = std.names
    opts = {"command": "fit", "standards": os.path.abspath(args.standards),
            "columns": used_columns, "separator": table.delimiter, "decimal": table.decimal,
            "degree": args.degree, "weighting": args.weighting, "interval": args.interval,
            "maxit": args.maxit,
            "exclude": {options["ids"][k - 1]: r for k, r in exclude.items()} or None,
            "weights": args.weights, "variance_model": args.variance_model}
    if selection is not None:
        opts["degree_chosen"] = cal.degree
        run.say("Choice of degree")
        run.say(selection.summary())
        run.say("")
    out = Path(args.out) if args.out else Path(".")
    return cal, labels, opts, out, selection


def _samples(path, args, prefix, prefer_y):
    table = _read(path, args)
    get = (lambda k: getattr(args, f"sample_{k}")) if prefix else (lambda k: getattr(args, k))
    s = tabular.read_samples(table, get("y"), get("uy"), get("name"), prefer_y=prefer_y)
    if s.columns["name"] is None:
        _Run.warn(f"{table.label}: no ID column found (tried Sample Name, Sample ID, Name, "
                  "ID, Probe, ...); the samples are named by their row; name the column with "
                  f"--{'sample-' if prefix else ''}name")
        s = tabular.Samples(y=s.y, u_y=s.u_y, names=[str(k) for k in table.lines],
                            columns=s.columns)
    elif not getattr(args, "quiet", False):
        print(f"{table.label}: samples' names from the column {s.columns['name']!r}")
    args._inputs = [*getattr(args, "_inputs", []), ("samples", path, table.sha256)]
    opts = {"samples": os.path.abspath(path), "sample_columns": s.columns,
            "sample_separator": table.delimiter, "sample_decimal": table.decimal}
    replicates = None
    if args.replicates_column is not None:
        if args.replicates is not None:
            raise InputError("give --replicates or --replicates-column, not both")
        k = table.find("name", args.replicates_column)
        replicates = table.numbers(k)
        bad = np.flatnonzero((replicates < 1) | (replicates != np.round(replicates)))
        if bad.size:
            j = int(bad[0])
            raise InputError(f"{table.label}: row {table.lines[j]}, column "
                             f"{table.header[k]!r}: {replicates[j]:g} is not a number of "
                             "readings (a whole number, 1 or more)")
        big = np.flatnonzero(replicates > MAX_REPLICATES)
        if big.size:
            j = int(big[0])
            raise InputError(f"{table.label}: row {table.lines[j]}, column "
                             f"{table.header[k]!r}: {replicates[j]:g} readings are more than "
                             f"{MAX_REPLICATES}; give the number of readings averaged")
        replicates = replicates.astype(np.int64)
        opts["sample_columns"] = {**s.columns, "replicates": table.header[k]}
    factor = u_factor = None
    for what, value, column in (("factor", args.factor, args.factor_column),
                                ("u_factor", args.u_factor, args.u_factor_column)):
        flag = "--" + what.replace("_", "-")
        if value is not None and column is not None:
            raise InputError(f"give {flag} or {flag}-column, not both")
        got = None
        if column is not None:
            k = table.find("name", column)
            got = table.numbers(k, positive=what == "factor")
            if what == "u_factor" and (got < 0).any():
                j = int(np.flatnonzero(got < 0)[0])
                raise InputError(f"{table.label}: row {table.lines[j]}, column "
                                 f"{table.header[k]!r}: an uncertainty is not negative, not "
                                 f"{got[j]:g}")
            opts["sample_columns"] = {**opts["sample_columns"], what: table.header[k]}
        elif value is not None:
            got = np.full(len(s.y), float(value))
        if what == "factor":
            factor = got
        else:
            u_factor = got
    if u_factor is not None and factor is None:
        raise InputError("--u-factor needs a factor: give --factor or --factor-column")
    s = _Samples(s, replicates, factor, u_factor, table.lines,
                 s.columns.get("name") is not None)
    return s, opts


METADATA = ("analyte", "method", "instrument", "operator", "reviewer", "units")


def _metadata(args, carried=None) -> dict:
    """The laboratory's fields: those given on the command line over those carried from
    the calibration."""
    md = dict(carried or {})
    for k in METADATA:
        v = getattr(args, k, None)
        if v is not None:
            md[k] = v
    return md


PICTURES = ("png", "svg", "pdf")


def output_names(out: Path, pictures, stem: str | None = None) -> dict:
    """The files a run writes: the fit's names, or (``stem``: the samples file's name)
    an inversion's own; "manifest" lists the set, and "known" every name the set may
    have (--force replaces them all)."""
    if stem is None:
        names = {"html": out / "report.html", "json": out / "calibration.json",
                 "csv": out / "samples.csv",
                 "pictures": [out / f"calibration.{f}" for f in pictures],
                 "manifest": out / "manifest.json"}
        names["known"] = [names["html"], names["json"], names["csv"],
                          *(out / f"calibration.{f}" for f in PICTURES)]
        return names
    names = {"html": out / f"report-{stem}.html", "json": out / f"results-{stem}.json",
             "csv": out / f"samples-{stem}.csv",
             "pictures": [out / f"calibration-{stem}.{f}" for f in pictures],
             "manifest": out / f"manifest-{stem}.json"}
    names["known"] = [names["html"], names["json"], names["csv"],
                      *(out / f"calibration-{stem}.{f}" for f in PICTURES)]
    return names


class _Samples:
    """Samples as read, with the number of readings per sample (None: --replicates)."""

    def __init__(self, samples, replicates, factor=None, u_factor=None, lines=None,
                 named=False):
        self.y, self.u_y, self.names, self.columns = (samples.y, samples.u_y, samples.names,
                                                      samples.columns)
        self.replicates = replicates
        self.factor, self.u_factor = factor, u_factor
        self.lines = lines
        self.named = named  # the names come from an ID column (else: the rows)
        self.combined = None  # (Replicates, the readings as read) once combined


def _combine(samples: "_Samples", args) -> "_Samples":
    """Readings with the same sample ID as one sample (their mean), unless --no-combine or
    every ID is once."""
    if args.no_combine or not samples.named:
        return samples
    names = [str(v).strip() for v in samples.names]
    if len(set(names)) == len(names):
        return samples
    u = samples.u_y if samples.columns.get("u_y") is not None else None
    if u is None and args.uy_value is not None:
        u = np.full(len(samples.y), float(args.uy_value))
    reps = WF.combine(names, samples.y, u)
    first = [idx[0] for idx in reps.readings]
    for what in ("factor", "u_factor"):
        v = getattr(samples, what)
        if v is not None:
            for g, idx in enumerate(reps.readings):
                if len(set(np.asarray(v)[list(idx)].tolist())) > 1:
                    raise InputError(f"sample {reps.names[g]}: its readings carry different "
                                     f"{what.replace('_', ' ')}s; give one per sample, or "
                                     "--no-combine")
    m = reps.count.astype(np.int64)
    if samples.replicates is not None:  # readings that are themselves means
        m = np.array([int(np.sum(samples.replicates[list(idx)])) for idx in reps.readings])
    elif args.replicates is not None:
        m = m * int(args.replicates)
    out = _Samples.__new__(_Samples)
    out.y = np.asarray(reps.mean)
    out.u_y = None if u is None else np.asarray(reps.u_mean)
    out.names = list(reps.names)
    out.columns = samples.columns
    out.replicates = m
    out.factor = None if samples.factor is None else np.asarray(samples.factor)[first]
    out.u_factor = None if samples.u_factor is None else np.asarray(samples.u_factor)[first]
    out.lines = [samples.lines[i] for i in first] if samples.lines is not None else None
    out.named = True
    out.combined = (reps, samples)
    return out


def _reading(samples, args, cal):
    """The samples' u(y) as ``inverse`` takes it, the replicates, and the source in words
    for the record."""
    stated = samples.columns.get("u_y") is not None
    chosen = [name for name, on in (("a u(y) column", stated),
                                    ("--uy-value", args.uy_value is not None),
                                    ("--curve-only", args.curve_only)) if on]
    if len(chosen) > 1:
        raise InputError(f"give one source of the samples' u(y), not {' and '.join(chosen)}")
    many = args.replicates is not None or (samples.replicates is not None and
                                           samples.combined is None)
    if chosen and many:
        raise InputError(f"--replicates and --replicates-column apply to u(y) from the "
                         f"scatter; they cannot be used with {chosen[0]}")
    if samples.combined is not None and samples.u_y is not None:
        # Readings combined: the mean's stated u(y), whichever way the readings had one.
        return samples.u_y, 1, ("stated (column), of the mean" if stated else
                                "stated (--uy-value), of the mean")
    if stated:
        return samples.u_y, 1, "stated (column)"
    if args.uy_value is not None:
        return float(args.uy_value), 1, "stated (--uy-value)"
    if args.curve_only:
        return "curve-only", 1, "curve only (--curve-only)"
    if cal.variance_model is not None:
        m = samples.replicates if samples.replicates is not None else (args.replicates or 1)
        return None, m, "from the variance model"
    if cal.u_y is not None:
        column = "--sample-uy" if getattr(args, "command", None) == "fit" else "--uy"
        raise InputError("the standards carry stated uncertainties, so the samples' u(y) "
                         f"is not known from their scatter: give a u(y) column ({column}), "
                         "one value for all (--uy-value U), or --curve-only")
    m = samples.replicates if samples.replicates is not None else (args.replicates or 1)
    return None, m, "from the scatter"


def _finish(cal, labels, opts, out: Path, samples, args, run: _Run, previous=None,
            selection=None, names=None, metadata=None, limits=None, title=None):
    from . import report
    pred = mc = None
    sample_names = None
    # The laboratory's reporting rules: as given, else as the fit recorded them (invert),
    # else the defaults.
    carried = (previous or {}).get("reporting") or {}
    carried = carried if isinstance(carried, dict) else {}
    workflow = {"lod": args.lod or carried.get("lod") or WF.W.LOD_DEFAULT,
                "loq": args.loq or carried.get("loq") or WF.W.LOQ_DEFAULT,
                "rule": args.below_range or carried.get("rule") or "flag"}
    opts["reporting"] = dict(workflow)
    if samples is not None:
        if args.monte_carlo and args.monte_carlo * len(samples.y) > MAX_MC_VALUES:
            raise InputError(f"--monte-carlo {args.monte_carlo} with {len(samples.y)} samples "
                             f"makes {args.monte_carlo * len(samples.y)} draws, more than "
                             f"{MAX_MC_VALUES} in one run; give fewer draws, or fewer samples "
                             "per run")
        samples = _combine(samples, args)
        u_y, m, source = _reading(samples, args, cal)
        pred = invert(cal, samples.y, u_y, args.ngrid, m)
        sample_names = samples.names
        opts["sample_u_y"] = source
        workflow["factor"], workflow["u_factor"] = samples.factor, samples.u_factor
        if samples.combined is not None:
            reps, raw = samples.combined
            # Readings that are themselves means scatter less: by sqrt of their count.
            counts = (raw.replicates if raw.replicates is not None else
                      np.full(len(raw.y), args.replicates or 1))
            if len(set(np.asarray(counts).tolist())) > 1 and args.replicate_rsd is None \
                    and args.replicate_sd is None:
                raise InputError("the readings of a sample are means of different numbers of "
                                 "measurements: their agreement cannot be checked against one "
                                 "scatter; give --replicate-rsd, or --no-combine")
            chk = WF.check(cal, reps, pred.x, pred.flags,
                           alpha=args.replicate_alpha or WF.DEFAULT_REPLICATE_ALPHA,
                           sigma=args.replicate_sd, rsd_limit=args.replicate_rsd,
                           reads=float(np.asarray(counts)[0]))
            pred = dataclasses.replace(pred, flags=np.asarray(chk["flags"], dtype=np.int32))
            workflow["replicates"] = {
                "reps": reps, "check": chk, "y": np.asarray(raw.y),
                "u_y": None if raw.columns.get("u_y") is None else np.asarray(raw.u_y),
                "rows": [int(v) for v in raw.lines]}
            opts["combined"] = {"readings": len(raw.y), "samples": len(reps),
                                "check": chk["mode"]}
        if args.monte_carlo:
            mc = monte_carlo(cal, samples.y, u_y, args.monte_carlo, args.seed, m)
    elif args.monte_carlo:
        run.warn("--monte-carlo applies to samples; there are none (give --samples)")
    opts.update(ngrid=args.ngrid, band=args.band, monte_carlo=args.monte_carlo, seed=args.seed,
                pictures=args.pictures, log=args.log)
    crit = acceptance_criteria(args, getattr(args, "_carried_criteria", None))
    saved = None
    if args.save_criteria:
        saved = Path(args.save_criteria)
        if saved.exists() and not args.force:
            raise InputError(f"{saved}: exists; give another file, or --force to replace it")
    if previous:
        opts = {"previous": previous, **opts}
    names = names or output_names(out, args.pictures)
    limits = args.limits if limits is None else limits
    validation_check = None
    if args.validation:
        from . import _trace
        validation_check = _trace.check_against(args.validation)
        if not validation_check["matches"] or not validation_check["passed"]:
            run.warn(f"--validation: {validation_check['text']}")
    written = report.write(cal, names["html"], samples=pred,
                           title=args.title if args.title is not None else title,
                           json_path=names["json"], csv_path=names["csv"],
                           pictures=names["pictures"], labels=labels, sample_names=sample_names,
                           options=opts, band=args.band, limits=limits,
                           degree_selection=selection, monte_carlo=mc, criteria=crit,
                           metadata=metadata if metadata is not None else _metadata(args),
                           input_files=getattr(args, "_inputs", None),
                           standard_names=getattr(args, "_standard_names", None),
                           log=args.log or False, overwrite=args.force,
                           validation=validation_check,
                           manifest=names.get("manifest"), known=names.get("known", ()),
                           json_limit=MAX_RECORD, workflow=workflow)
    if saved is not None:
        from .diagnostics import save_criteria
        save_criteria(crit, saved, args.criteria_name)
        written["criteria"] = saved
    res = written["results"]
    for line in cal.notes:
        run.warn(f"the fit is usable but not clean: {line}")
    if not res["verdicts"]["fit_for_use"]:
        n = len(res["samples"] or [])
        run.warn(f"{res['verdicts']['verdict']}: the calibration is not fit for use"
                 + (f"; each of the {n} samples is flagged so" if n else "")
                 + f" (exit status {EXIT_NOT_FIT})")
    if not run.quiet:
        run.say(cal.summary(limits=limits if isinstance(limits, dict) else bool(limits),
                            criteria=crit))
        if res["samples"] is not None:
            run.say("")
            run.say(samples_text(res))
        if mc is not None:
            run.say("")
            run.say(mc.summary())
        if validation_check is not None:
            run.say(f"validation: {validation_check['text']}")
        run.say("")
        paths = [written["html"], written["json"], *written["pictures"]]
        if "csv" in written:
            paths.append(written["csv"])
        run.say("wrote " + ", ".join(str(p) for p in paths))
    return written


CRITERIA_OPTIONS = ("alpha", "alpha_goodness", "alpha_lack_of_fit", "alpha_outliers",
                    "tolerance", "tolerance_lowest", "back_fraction", "min_levels", "rse_limit")


def acceptance_criteria(args, carried=None):
    """The criteria of a run: --criteria (a preset or a file), else those carried from the
    calibration (invert), else the default preset; the single options given change them,
    and the criteria's name says so."""
    from .diagnostics import PRESETS, AcceptanceCriteria, criteria_from, load_criteria
    chosen = getattr(args, "criteria", None)
    if chosen is not None:
        if chosen.strip().lower() in PRESETS:
            base = AcceptanceCriteria.from_preset(chosen)
        elif Path(chosen).is_file():
            base = load_criteria(chosen)
        else:
            raise InputError(f"--criteria {chosen!r}: neither a preset ({', '.join(PRESETS)}) "
                             "nor a file of criteria")
    elif isinstance(carried, dict):
        try:
            base = criteria_from(carried)
        except (QuorvexError, TypeError):
            base = AcceptanceCriteria.from_preset("quorvex")
    else:
        base = AcceptanceCriteria.from_preset("quorvex")
    changes = {k: getattr(args, k) for k in CRITERIA_OPTIONS if getattr(args, k, None) is not None}
    if args.warn_only:
        changes["warn_only"] = tuple(dict.fromkeys(args.warn_only))
    d = base.to_dict()
    changed = [k for k, v in changes.items() if d.get(k) != (list(v) if k == "warn_only" else v)]
    if not changed:
        return base
    d.update(changes)
    d["warn_only"] = tuple(d["warn_only"])
    d["preset"] = f"{base.preset.split(' (changed: ')[0]} (changed: {', '.join(changed)})"
    return AcceptanceCriteria(**d)


def samples_text(res: dict) -> str:
    """The samples table for the terminal."""
    from .report import fmt, fmt_pm
    from .report import fmt_u
    samples = res["samples"]
    combined = any(r.get("replicates") for r in samples)
    # The reported value is shown where it differs from x: a factor, or "< limit".
    reported = any((r.get("reported") or {}).get("censored") or
                   (r.get("reported") or {}).get("factor") not in (None, 1.0) for r in samples)
    head = ["sample"] + (["m"] if combined else []) + ["y", "u(y)", "x ± u(x)"]
    head += ["reported ± U"] if reported else []
    rows = [tuple(head) + ("flags",)]
    for r in samples:
        roots = r["roots"] or []
        xs = "; ".join(fmt_pm(v, u) for v, u in zip(roots, r["u_roots"] or [])) or "—"
        row = [r["name"]] + ([str((r.get("replicates") or {}).get("m", 1))] if combined
                             else []) + [fmt(r["y"], 8), fmt_u(r["u_y"]), xs]
        if reported:
            rep = r.get("reported") or {}
            row.append(rep.get("text", "—") if rep.get("censored") or rep.get("U") is None
                       else fmt_pm(rep["value"], rep["U"]))
        rows.append(tuple(row) + ("; ".join(r["flags"]),))
    ncol = len(head)
    widths = [max(len(str(row[k])) for row in rows) for k in range(ncol)]
    lines = []
    for row in rows:
        cells = [str(row[0]).ljust(widths[0])] + [str(row[k]).rjust(widths[k])
                                                  for k in range(1, ncol)]
        lines.append("  " + "  ".join(cells) + ("  " + row[ncol] if row[ncol] else ""))
    rp = res.get("reporting") or {}
    if rp.get("reportable_range") and (reported or combined):
        lo, hi = rp["reportable_range"]
        lines.append(f"  reportable range {fmt(lo, 4)} to {fmt(hi, 4)} (from "
                     f"{rp.get('range_from')}); below it: {rp.get('below_range')}")
    return "\n".join(lines)


def cmd_fit(args, run: _Run):
    if args.correlations:
        from . import _cli_correlated
        return _cli_correlated.command(args, run, _read)
    cal, labels, opts, out, selection = _fit(args, run)
    samples = None
    if args.samples:
        samples, sopts = _samples(args.samples, args, True, [labels["y"], opts["columns"]["y"]])
        opts.update(sopts)
    limits = None
    if args.blank_readings is not None:
        if not args.limits:
            raise InputError("--blank-readings gives the blank's scatter to --limits: give "
                             "--limits too")
        table = _read(args.blank_readings, args)
        blanks = tabular.read_samples(table, None, None, None, prefer_y=[labels["y"]])
        limits = {"blank_readings": [float(v) for v in blanks.y]}
        args._inputs = getattr(args, "_inputs", []) + [
            ("blank readings", args.blank_readings, table.sha256)]
        opts["blank_readings"] = os.path.abspath(args.blank_readings)
    return _finish(cal, labels, opts, out, samples, args, run, selection=selection,
                   limits=limits)


def read_calibration(path) -> tuple:
    """(Calibration, results, sha256) of a calibration.json, read once: the record is
    parsed from the bytes hashed, and, where the folder's manifest lists the file,
    checked against it (a folder a run is writing into is read once that run is
    done)."""
    from . import record
    path = Path(path)
    if path.is_dir():
        raise InputError(f"{path}: is a folder; give its calibration.json")
    folder = path.parent
    if _files._journals(folder):  # a run was killed there: finish its set where we may
        try:
            with _files.lock(folder):
                _files.recover(folder)
        except (OSError, QuorvexError):
            pass  # a folder we may not write: verify() below refuses it, saying why
    try:
        held = _files.lock(folder, shared=True)
        held.__enter__()
    except (OSError, QuorvexError):
        held = None  # a folder that cannot be opened for locking is read as it is
    try:
        with open(path, "rb") as f:
            raw = f.read(MAX_RECORD + 1)
        if len(raw) > MAX_RECORD:
            raise InputError(f"{path.name} is larger than {MAX_RECORD // 2**20} MiB: not a "
                             "calibration.json; give the file 'quorvex fit' wrote")
        listed = _files.read_manifest(folder / "manifest.json")
        if listed is not None and path.name in listed:
            _files.verify(folder, "manifest.json", {path.name: raw})
    finally:
        if held is not None:
            held.__exit__(None, None, None)
    digest = _files.sha256_bytes(raw)
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        raise InputError(f"{path.name} is not a text file; give the calibration.json "
                         "'quorvex fit' wrote") from None
    try:
        cal, res = record.load(text)
    except InputError as e:
        raise InputError(f"{path.name}: {e}; give the calibration.json 'quorvex fit' "
                         "wrote") from None
    return cal, res, digest


def _open_record(args):
    """A saved calibration record with its labels and the options of its fit."""
    path = Path(args.calibration)
    cal, res, digest = read_calibration(path)
    args._inputs = [("calibration", path, digest)]
    res = res if isinstance(res, dict) else {}
    labels = res.get("labels") if isinstance(res.get("labels"), dict) else {"x": "x", "y": "y"}
    prev = res.get("options") if isinstance(res.get("options"), dict) else {}
    return path, cal, res, digest, labels, prev


def _finish_record(args, run: _Run, command: str, record, samples, sopts: dict, stem: str):
    """The outputs of a run on a saved record: its criteria, limit settings, title,
    metadata and degree table carry over (--limits here asks for limits anyway)."""
    path, cal, res, digest, labels, prev = record
    opts = {"command": command, "calibration": os.path.abspath(path),
            "calibration_sha256": digest, **sopts}
    previous = {k: v for k, v in prev.items() if k not in ("fit", "band")} or None
    out = Path(args.out) if args.out else path.resolve().parent
    carried = res.get("metadata") if isinstance(res.get("metadata"), dict) else {}
    limits = args.limits or bool(prev.get("limits"))
    if isinstance(prev.get("limits"), dict) and not args.limits:
        limits = prev["limits"]
    title = res.get("title") if isinstance(res.get("title"), str) else None
    verdicts = res.get("verdicts") if isinstance(res.get("verdicts"), dict) else {}
    args._carried_criteria = verdicts.get("criteria")
    return _finish(cal, labels, opts, out, samples, args, run, previous=previous,
                   selection=res.get("degree_selection"),
                   names=output_names(out, args.pictures, stem),
                   metadata=_metadata(args, carried), limits=limits, title=title)


def cmd_invert(args, run: _Run):
    record = _open_record(args)
    labels, prev = record[4], record[5]
    prefer = [p for p in (labels.get("y"), (prev.get("columns") or {}).get("y"))
              if isinstance(p, str) and p]
    samples, sopts = _samples(args.samples, args, False, prefer)
    return _finish_record(args, run, "invert", record, samples, sopts, Path(args.samples).stem)


def cmd_report(args, run: _Run):
    """The report of a saved record, whichever host wrote it."""
    record = _open_record(args)
    # The report of a record reads no samples: every option of the fit it does not take
    # keeps the fit's default.
    fit_defaults = build_parser().parse_args(["fit", str(record[0])])
    for k, v in vars(fit_defaults).items():
        if not hasattr(args, k):
            setattr(args, k, v)
    for k in ("samples", "replicates", "uy_value", "curve_only", "ngrid", "monte_carlo",
              "seed"):
        setattr(args, k, getattr(args, k, None))
    return _finish_record(args, run, "report", record, None, {}, record[0].stem)


def _oserror(e: OSError) -> str:
    if e.filename is not None and e.strerror:
        return f"{e.filename}: {e.strerror.lower() if e.strerror[:1].isupper() else e.strerror}"
    return str(e)


def main(argv=None) -> int:
    """Run the command line; returns the exit status."""
    args = build_parser().parse_args(argv)
    if args.command == "validate":
        from . import validation
        return validation.command(args)
    run = _Run(args.quiet)
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            if args.command == "fit":
                written = cmd_fit(args, run)
            elif args.command == "report":
                cmd_report(args, run)
                written = None  # rendering a record judges no samples: status 0
            else:
                written = cmd_invert(args, run)
        seen = set()
        for w in caught:
            text = str(w.message)
            # A ConvergenceWarning is also among the fit's notes, reported with them.
            if text in seen or w.category.__name__ == "ConvergenceWarning":
                continue
            seen.add(text)
            run.warn(text)
    except QuorvexError as e:
        print(f"{PROG}: error: {' '.join(str(e).split())}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"{PROG}: error: {_oserror(e)}", file=sys.stderr)
        return 1
    except MemoryError:
        inputs = [getattr(args, k, None) for k in ("standards", "calibration", "samples")]
        files = ", ".join(Path(f).name for f in inputs if f) or "the input"
        print(f"{PROG}: error: {files}: not enough memory to process this input; give "
              "fewer standards or samples per run", file=sys.stderr)
        return 1
    except ImportError as e:
        print(f"{PROG}: error: {e.name or e} is needed for the report and the picture "
              "(Debian: python3-matplotlib)", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=sys.stderr)
        return 130
    except Exception as e:  # no traceback for a user; QUORVEX_DEBUG=1 shows it
        if os.environ.get("QUORVEX_DEBUG"):
            raise
        inputs = [getattr(args, k, None) for k in ("standards", "calibration", "samples")]
        files = ", ".join(Path(f).name for f in inputs if f) or "the input"
        text = " ".join(str(e).split()) or "no message"
        print(f"{PROG}: error: {files}: could not be processed (unexpected "
              f"{type(e).__name__}: {text}); check the file, and report this with it "
              "(QUORVEX_DEBUG=1 shows where)", file=sys.stderr)
        return 1
    # The correlated fit and the report of a record have no verdict to act on.
    if written is not None and not written["results"]["verdicts"]["fit_for_use"]:
        return EXIT_NOT_FIT
    return 0


if __name__ == "__main__":  # pragma: no cover
    sys.exit(main())
