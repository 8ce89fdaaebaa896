"""``quorvex validate``: reference cases run on this installation, filed as a record.

A laboratory that calculates with this package must show that the software is
validated for its use on the installation it uses (ISO/IEC 17025, 7.11.2).
:func:`validate` runs a fixed set of reference cases through the package's public
functions, and so through the shared library the package has loaded, compares every
result with certified or published values, and returns a :class:`Validation`; with
``out`` it also writes ``validation.html`` (printable) and ``validation.json``.

The cases, and what each compares:

* NIST StRD linear regression sets that a polynomial of at most 10 coefficients can
  fit (Norris, Pontius, Wampler1-5): the certified coefficients in powers of x, their
  standard deviations and the residual standard deviation (``OLSPFIT``, unit weights,
  scaled covariance).
* ISO/TS 28037 clause 6.3, both examples: the weighted straight line with known u(y),
  against its exact solution and the standard's printed values; inverse prediction
  (``IPVAL`` and ``IPVAL_DEGREE1``) and forward evaluation (``POLYEVAL``) against the
  first-order closed forms; the line's form (``LINEAR_CONV``).
* ISO/TS 28037 clause 7.4, and Pearson's data with York's weights: the
  errors-in-variables straight line (``GLSPFIT``) against 50-digit solutions and the
  published values.
* Inverse prediction of a quadratic against closed-form roots and u(x) from an
  independent weighted fit in powers of x.
* First-order u(x) against Monte Carlo draws at a fixed seed: the validation's own
  draws, and the package's Monte Carlo inverse prediction.
* The errors-in-variables fit against independent solutions computed here by other
  methods: York's iteration (always) and scipy.odr (where scipy is installed).

How agreement is measured: *digits* = -log10(|obtained - reference| / |reference|),
the log relative error, at most 15 (the certified values carry 15 significant
digits); a reference value of exactly 0 is measured against the size of the quantity
it belongs to (named in the row).  Errors-in-variables coefficients are compared in
units of their standard uncertainty, |obtained - reference| / u.

Test-only perturbation
----------------------
The environment variable ``QUORVEX_VALIDATION_TEST_PERTURBATION`` (a relative size,
e.g. ``1e-7``) is read by this module alone, only to show that the validation
detects a faulty library: while it is set, every coefficient vector the library's two
fits return has its first coefficient scaled by 1 + that size, at the library's
boundary, for the duration of the validation.  The record says so at its top and
never passes as a validation.  It is meant for the package's own tests; a laboratory
never sets it.
"""
from __future__ import annotations

import ctypes
import datetime as _dt
import hashlib
import html
import json
import math
import os
import platform
import re
import sys
import warnings
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

FORMAT = "quorvex.Validation"
REFERENCE_DIR = Path(__file__).resolve().parent / "reference"
PERTURBATION_VARIABLE = "QUORVEX_VALIDATION_TEST_PERTURBATION"
EPS = 2.0 ** -53          # unit roundoff of IEEE double precision
MAX_DIGITS = 15.0         # the certified values carry 15 significant digits
NIST_DIGITS = 8.0         # coefficients within 1e-8 relative where the data allow it
NIST_SD_DIGITS = 8.0
EXACT_DIGITS = 12.0       # small, well-conditioned problems with exact references
EIV_U = 1e-6              # errors-in-variables coefficients: |difference| / u
EIV_U_DIGITS = 6.0        # errors-in-variables uncertainties and covariances
EIV_CHI2_DIGITS = 10.0
MC_DRAWS = 200_000
MC_SEED = 20_261_208
MC_RTOL = 0.02
PACKAGE_MC_DRAWS = 20_000
PACKAGE_MC_RTOL = 0.03


# ----------------------------------------------------------------------------
# Reference files: '#' header lines (the source), then '[section]' blocks.

@dataclass
class Reference:
    """One reference file: its header notes and its sections."""
    name: str
    path: Path
    sha256: str
    notes: dict
    sections: dict

    def table(self, section: str) -> dict:
        """A '[data]' block as columns of floats by name."""
        head, rows = self.sections[section]
        cols = np.array([[float(v) for v in r[:len(head)]] for r in rows])
        return {h: cols[:, i] for i, h in enumerate(head)}

    def values(self, section: str) -> dict:
        """A 'key value' block as {key: text}; a repeated key keeps its first value."""
        out = {}
        for r in self.sections[section][1]:
            out.setdefault(r[0], r[1])
        return out

    def rows(self, section: str) -> list:
        return self.sections[section][1]

    def meta(self, key: str) -> str:
        return self.values("meta")[key]


# The SHA-256 of each reference file as shipped: a file changed after installation
# (a certified value edited in its last digit) is refused, not validated against.
REFERENCE_SHA256 = {
    "ISO28037_6_3_ex1.txt": "756badfdfdb055e090285c09d6082bb1cf7819e742fad9e541860437b7a73174",
    "ISO28037_6_3_ex2.txt": "c378fda83912af08a8abf1c957cfaaa0f807b3202fcd19731afb2101f54cf5b0",
    "ISO28037_7_4.txt": "9c6df9f3835ee200a3f0e7083d915fb190749dbe7eb03c29696a7640382791b8",
    "Norris.txt": "8ee00851b49acab6cf0ec5afbaaf86d6d84790bec1870fc71945a504d2bfdb1f",
    "PearsonYork.txt": "fbd11769ef44f7fb628bc9dbc2de2fb35951a04967294133c38d3e9c59e1adc8",
    "Pontius.txt": "f8a16bcc9d4290c7955d2f85d6ccd101aacac6469e2228ab31610e43588dc4f2",
    "Wampler1.txt": "63685451b74c8d2ad3a12cfbe5f130f03b5a0d3ae8f9e1b03f6f24804ea8f2be",
    "Wampler2.txt": "a04a08f98496b169b6eb306cf1ca9d7de45f9c0a2aac1c813daa30931da95a8e",
    "Wampler3.txt": "07a911bb073cd72f5d45c4c183e02a00dfbf82b1393addcc18c88cb26a2762a2",
    "Wampler4.txt": "08279804ebab706df9127f3ed2da54e275ae9186c46f9f0ff078df1c75b2f973",
    "Wampler5.txt": "b28fc60fbc13c8bba40f47d75c112c8775f804c9b55e42b44586e33926c728f9",
    "GraybillIyer_thermostat.txt":
        "ef1c6dd35138088b07a048f7ff139cef190fffa45507b9bc3adaf3c78e19daa5",
    "GraybillIyer_chamber.txt": "a45a1f5166286515619317d2174874938d596a024e1488caaef44c46985d26eb",
    "DIN32645_example.txt": "edcbab824a15ac4b2013502b138366b29b463f387f0816d74182eb81db138c4c",
    "Massart97_ex3.txt": "aa75b9f5fe6ac3b36e5e8c2f1142123f389b39fa5135e7be6e82e5de58657e08",
}


def read_reference(name: str) -> Reference:
    """Parse ``reference/<name>.txt`` shipped with the package, after checking its
    SHA-256 against the one pinned here; every number in it must be finite."""
    from .errors import QuorvexError
    path = REFERENCE_DIR / f"{name}.txt"
    raw = path.read_bytes()
    digest = hashlib.sha256(raw).hexdigest()
    if REFERENCE_SHA256.get(path.name) != digest:
        raise QuorvexError(f"reference/{path.name}: its SHA-256 is not the one pinned in "
                           "this quorvex (the file was changed or replaced); reinstall "
                           "quorvex to validate against the shipped references")
    notes, sections, key, cur = {}, {}, None, None
    for line in raw.decode("utf-8").splitlines():
        if line.startswith("#"):
            if cur is not None:
                continue
            text = line[1:].strip().lstrip("!").strip()
            m = re.match(r"^(\[?[A-Za-z][\w ()-]*?\]?):\s*(.*)$", text)
            if m and not line[1:].startswith("   "):
                key = m.group(1)
                notes[key] = m.group(2)
            elif key is not None and text:
                notes[key] += " " + text
            continue
        if not line.strip():
            continue
        if line.startswith("["):
            cur = line[1:line.index("]")]
            sections[cur] = (line[line.index("]") + 1:].split(), [])
            continue
        parts = line.split()
        if cur in ("published",):
            parts = parts[:2] + [" ".join(parts[2:])]
        # The ANOVA tables are not compared (an exact fit's F is certified as Infinity).
        for t in (parts if cur != "anova" else ()):
            try:
                v = float(t)
            except ValueError:
                continue
            if not math.isfinite(v):
                from .errors import QuorvexError
                raise QuorvexError(f"reference/{path.name}: section [{cur}] holds {t!r}, not "
                                   "a finite number; reinstall quorvex")
        sections[cur][1].append(parts)
    return Reference(name, path, digest, notes, sections)


def source_text(ref: Reference) -> str:
    """The file's source lines in one paragraph."""
    keys = [k for k in ref.notes if k.split()[0] in ("source", "reference", "re-analyses")]
    def label(k):
        if k == "source":
            return ""
        if k.startswith("source"):  # "source (data)"
            return k[len("source"):].strip(" ()") + ": "
        return f"{k}: "
    return " ".join(label(k) + ref.notes[k] for k in keys)


# ----------------------------------------------------------------------------
# Results

@dataclass
class Check:
    """One compared quantity.

    ``measure``: "digits" (log relative error, at least ``required``), "u" (difference
    in standard uncertainties), "abs" (absolute difference) or "rel" (relative
    difference), each at most ``required``; "exact" (equal).  ``informative`` rows are
    shown but are not criteria (the reason is in ``note``).
    """
    quantity: str
    reference: float
    obtained: float
    measure: str
    agreement: float
    required: float
    note: str = ""
    reference_text: str = ""
    informative: bool = False

    @property
    def passed(self) -> bool:
        if self.measure == "digits":
            return bool(self.agreement >= self.required)  # NaN fails
        if self.measure == "exact":
            return bool(self.agreement == 0)
        return bool(self.agreement <= self.required)

    def to_dict(self) -> dict:
        return {"quantity": self.quantity, "reference": _num(self.reference),
                "reference_text": self.reference_text or _g(self.reference),
                "obtained": _num(self.obtained), "measure": self.measure,
                "agreement": _num(self.agreement), "required": _num(self.required),
                "passed": self.passed, "informative": self.informative, "note": self.note}


@dataclass
class Case:
    """One reference case and its verdict."""
    id: str
    title: str
    source: str
    method: str
    criterion: str
    reason: str
    checks: list = field(default_factory=list)
    files: list = field(default_factory=list)
    skipped: str = ""
    error: str = ""

    @property
    def status(self) -> str:
        if self.error:
            return "fail"
        if self.skipped:
            return "skipped"
        rows = [c for c in self.checks if not c.informative]
        # A case that compared nothing has shown nothing: it does not pass.
        return "pass" if rows and all(c.passed for c in rows) else "fail"

    @property
    def passed(self) -> bool:
        return self.status != "fail"

    def worst(self) -> str:
        """The check closest to (or furthest past) its limit, as text."""
        if self.error:
            return self.error
        if self.skipped:
            return self.skipped
        rows = [c for c in self.checks if not c.informative]
        failed = [c for c in rows if not c.passed]
        # Published values are met by rounding: they show here only when they fail.
        rows = failed or [c for c in rows if c.measure != "abs"] or rows
        if not rows:
            return "nothing was compared"

        def margin(c):
            if c.measure == "digits":
                return c.agreement - c.required
            if c.measure == "exact":
                return 0.0 if c.agreement == 0 else -1.0
            return -math.log10(max(c.agreement, 1e-300) / c.required)
        c = min(rows, key=lambda c: (margin(c) if margin(c) == margin(c) else -1e9))
        return f"{c.quantity}: {_agreement_text(c)} (required {_required_text(c)})"

    def to_dict(self) -> dict:
        return {"id": self.id, "title": self.title, "source": self.source,
                "method": self.method, "criterion": self.criterion, "reason": self.reason,
                "status": self.status, "skipped": self.skipped or None,
                "error": self.error or None, "files": self.files,
                "checks": [c.to_dict() for c in self.checks]}


@dataclass
class Validation:
    """The outcome of :func:`validate`: the environment, the cases, the verdict."""
    environment: dict
    cases: list
    seconds: float = 0.0

    @property
    def passed(self) -> bool:
        """Every case met its acceptance criteria (skipped cases aside), and no
        test-only perturbation was active."""
        return (all(c.passed for c in self.cases)
                and not self.environment.get("test_perturbation"))

    @property
    def failed(self) -> list:
        return [c for c in self.cases if c.status == "fail"]

    def __repr__(self) -> str:
        return (f"Validation(passed={self.passed}, cases={len(self.cases)}, "
                f"failed={len(self.failed)})")

    def summary(self) -> str:
        """A table for the terminal: one line per case, then the verdict."""
        w = max(len(c.title) for c in self.cases)
        lines = [f"quorvex validation: {len(self.cases)} reference cases on "
                 f"{self.environment['library']['path']}"]
        for c in self.cases:
            lines.append(f"  {c.status.upper():7} {c.title:<{w}}  {c.worst()}")
        lines.append(verdict_text(self))
        return "\n".join(lines)

    def __str__(self) -> str:
        return self.summary()

    def to_dict(self) -> dict:
        return {"format": FORMAT, "version": 1, "passed": self.passed,
                "verdict": verdict_text(self), "seconds": round(self.seconds, 3),
                "environment": self.environment,
                "definitions": DEFINITIONS,
                "cases": [c.to_dict() for c in self.cases]}

    def to_json(self, **kwargs) -> str:
        return json.dumps(self.to_dict(), allow_nan=False, **kwargs)

    def to_html(self) -> str:
        return to_html(self)

    def write(self, out, overwrite: bool = False) -> dict:
        """Write ``validation.html`` and ``validation.json`` into the folder ``out``
        (created if need be), as one set, whole or not at all; returns their paths.
        An earlier record there is replaced only with ``overwrite``."""
        from . import _files
        out = Path(out)
        paths = {"html": out / "validation.html", "json": out / "validation.json"}
        _files.write_all({paths["html"]: self.to_html(), paths["json"]: self.to_json(indent=1)},
                         overwrite=overwrite, manifest=out / "manifest-validation.json")
        return paths


DEFINITIONS = {
    "digits": "agreeing digits: -log10(|obtained - reference| / |reference|), at most 15; "
              "where the reference is exactly 0, relative to the size named in the row",
    "u": "|obtained - reference| / u, u the reference standard uncertainty of the quantity",
    "abs": "|obtained - published|; required: half a unit in the last printed digit, or "
           "the case's own accuracy requirement where that is wider",
    "rel": "|obtained / reference - 1|",
    "exact": "equal",
}


def verdict_text(v: Validation) -> str:
    n, bad = len(v.cases), len(v.failed)
    skipped = [c for c in v.cases if c.status == "skipped"]
    sk = f", {len(skipped)} skipped" if skipped else ""
    if v.environment.get("test_perturbation"):
        return (f"NOT A VALIDATION: the test-only perturbation {PERTURBATION_VARIABLE}="
                f"{v.environment['test_perturbation']} was active; {bad} of {n} cases failed")
    if bad:
        return f"FAILED: {bad} of {n} cases did not meet their acceptance criteria{sk}"
    return f"PASSED: {n - len(skipped)} of {n} cases met their acceptance criteria{sk}"


# ----------------------------------------------------------------------------
# Measures

def digits(obtained, reference, scale=None) -> float:
    """-log10 of the relative error, at most 15; relative to ``scale`` where the
    reference is 0.  NaN where the obtained value is not finite."""
    o, r = float(obtained), float(reference)
    if not math.isfinite(o):
        return float("nan")
    d = abs(r) if r != 0 else abs(float(scale))
    err = abs(o - r)
    if err == 0:
        return MAX_DIGITS
    if d == 0:
        return 0.0
    return min(MAX_DIGITS, -math.log10(err / d))


def _digits_check(q, o, r, required, note="", text="", scale=None) -> Check:
    return Check(q, float(r), float(o), "digits", digits(o, r, scale), required, note, text)


def _u_check(q, o, r, u, required=EIV_U, note="", text="") -> Check:
    o = float(o)
    a = abs(o - float(r)) / u if math.isfinite(o) else float("nan")
    return Check(q, float(r), o, "u", a, required, note, text)


def _printed_tolerance(text: str) -> float:
    """Half a unit in the last printed digit of a number as printed."""
    m = re.match(r"^[-+]?(\d*)\.?(\d*)(?:[eE]([-+]?\d+))?$", text)
    if not m:
        return 0.0
    decimals = len(m.group(2))
    exp = int(m.group(3) or 0)
    return 0.5 * 10.0 ** (exp - decimals)


def _published_check(q, o, text, own_tolerance, source, informative="") -> Check:
    """A published value is met when the obtained value rounds to it, or lies within
    the accuracy the case demands against its exact reference (``own_tolerance``,
    absolute), whichever is wider."""
    tol = max(_printed_tolerance(text), own_tolerance) * (1 + 1e-9)
    o = float(o)
    a = abs(o - float(text)) if math.isfinite(o) else float("nan")
    return Check(q, float(text), o, "abs", a, tol, (source + (f"; {informative}" if informative
                                                              else "")), text,
                 informative=bool(informative))


def _num(v):
    if v is None:
        return None
    v = float(v)
    return v if math.isfinite(v) else None


def _g(v) -> str:
    if v is None:
        return "—"
    v = float(v)
    if math.isnan(v):
        return "—"
    return repr(v)


def _agreement_text(c: Check) -> str:
    a = c.agreement
    if a != a:
        return "not finite"
    if c.measure == "digits":
        return f"{a:.1f} digits" if a < MAX_DIGITS else "≥ 15 digits"
    if c.measure == "u":
        return f"{a:.2g} u"
    if c.measure == "rel":
        return f"{100 * a:.2g} %"
    if c.measure == "exact":
        return "equal" if a == 0 else f"differs by {a:g}"
    return f"|Δ| = {a:.2g}"


def _required_text(c: Check) -> str:
    r = c.required
    if c.measure == "digits":
        return f"≥ {r:.1f} digits"
    if c.measure == "u":
        return f"≤ {r:.2g} u"
    if c.measure == "rel":
        return f"≤ {100 * r:.2g} %"
    if c.measure == "exact":
        return "equal"
    return f"≤ {r:.2g}"


# ----------------------------------------------------------------------------
# The test-only perturbation of the library's fitted coefficients

def _perturbation() -> float:
    text = os.environ.get(PERTURBATION_VARIABLE, "").strip()
    if not text:
        return 0.0
    try:
        v = float(text)
    except ValueError:
        from .errors import InputError
        raise InputError(f"{PERTURBATION_VARIABLE} must be a number, not {text!r}") from None
    return v if math.isfinite(v) else 0.0


def _scale_at(arg, index: int, factor: float) -> None:
    """Scale element ``index`` of a float64 output passed to the library as an array
    or as an address."""
    if isinstance(arg, np.ndarray):
        arg.reshape(-1, order="A")[index] *= factor
        return
    address = arg if isinstance(arg, int) else getattr(arg, "value", None)
    p = ctypes.cast(ctypes.c_void_p(address + 8 * index), ctypes.POINTER(ctypes.c_double))
    p[0] *= factor


def _int_arg(arg) -> int:
    obj = getattr(arg, "_obj", arg)  # byref(c_int(n))
    return int(getattr(obj, "value", obj))


class _Perturbed:
    """While active, OLSPFIT's COEF(1) and GLSPFIT's first coefficient (PARAM(N+1))
    are scaled by 1 + size after each call, in both bindings of the loaded library, and
    so is the laboratory library's QVXL_FIT COEF(1), through which ``fit`` fits."""

    def __init__(self, size: float):
        self.factor = 1.0 + size
        self.saved = []

    def __enter__(self):
        from . import _clib
        lib = _clib.library()
        factor = self.factor

        def ols(fn):
            def call(*a):
                fn(*a)
                _scale_at(a[7], 0, factor)
            return call

        def gls(fn):
            def call(*a):
                fn(*a)
                _scale_at(a[11], _int_arg(a[0]), factor)
            return call

        def fit(fn):  # QVXL_FIT of the laboratory library: COEF(1), its 16th argument
            def call(*a):
                fn(*a)
                _scale_at(a[15], 0, factor)
            return call

        for holder in (lib, lib.unchecked):
            for name, wrap in (("OLSPFIT", ols), ("GLSPFIT", gls)):
                fn = getattr(holder, name)
                self.saved.append((holder, name, fn))
                setattr(holder, name, wrap(fn))
        from . import _lab
        lab = _lab.library()
        fn = lab.bind("QVXL_FIT", 32)
        self.saved.append((lab, "QVXL_FIT", fn))
        setattr(lab, "QVXL_FIT", fit(fn))
        return self

    def __exit__(self, *exc):
        for holder, name, fn in reversed(self.saved):
            setattr(holder, name, fn)
        return False


# ----------------------------------------------------------------------------
# NIST StRD

NIST_SETS = ("Norris", "Pontius", "Wampler1", "Wampler2", "Wampler3", "Wampler4", "Wampler5")


def data_digits(x, y, b) -> np.ndarray:
    """Digits of each power coefficient that the data allow in double precision:
    -log10(eps * kappa_k), kappa_k the first-order relative condition number of the
    least-squares coefficient b_k with respect to relative changes of every x_i and
    y_i (the rounding of the data themselves), at the certified solution b."""
    deg = b.shape[0] - 1
    X = np.vander(x, deg + 1, increasing=True)
    G = np.zeros_like(X)
    for k in range(1, deg + 1):
        G[:, k] = k * x ** (k - 1)
    r = y - X @ b
    dp = G @ b
    s = np.abs(X).max(axis=0)
    s[s == 0] = 1.0
    xs = X / s
    inv = np.linalg.pinv(xs.T @ xs) / np.outer(s, s)   # (X'X)^-1
    dy = inv @ X.T                                     # d b / d y_i
    dx = inv @ (G.T * r - X.T * dp)                    # d b / d x_i
    kappa = (np.abs(dy) * np.abs(y) + np.abs(dx) * np.abs(x)).sum(axis=1) / np.abs(b)
    return -np.log10(EPS * kappa)


def _nist_case(name: str) -> Case:
    import quorvex
    ref = read_reference(name)
    degree = int(ref.meta("degree"))
    data = ref.table("data")
    x, y = data["x"], data["y"]
    cert = ref.rows("certified")
    b = np.array([float(r[1]) for r in cert])
    allowed = data_digits(x, y, b)
    required = np.minimum(NIST_DIGITS, np.floor(10 * (allowed - 1)) / 10)
    exact = float(ref.values("stats")["residual_sd"]) == 0
    case = Case(
        id=f"nist-{name.lower()}", title=f"NIST StRD {name}", source=source_text(ref),
        method=(f"degree {degree} polynomial, {len(x)} points, unit weights (OLSPFIT), "
                "residual-scaled covariance; coefficients and standard deviations in powers "
                "of x (Calibration.power_coefficients)"),
        criterion=(f"each coefficient to min({NIST_DIGITS:g}, D - 1) digits, D the digits the "
                   "data allow (note column); standard deviations and the residual standard "
                   f"deviation to {NIST_SD_DIGITS:g} digits"
                   + ("; the certified zeros of this exact fit: rounding noise no larger than "
                      "the coefficient's own required accuracy, and a residual standard "
                      f"deviation below 1e-{NIST_SD_DIGITS:g} of the largest |y|" if exact
                      else "")),
        reason=("Certified to 15 digits. 8 digits (relative error 1e-8) is asked where the "
                "data allow it; where the problem's own sensitivity to rounding (its "
                "condition number with respect to the data, computed from the certified "
                "solution) leaves fewer digits D to any double-precision method, one digit "
                "less than D is asked, the digit allowing for a stable algorithm's constants. "
                "Standard deviations enter an uncertainty budget to two digits: 8 leaves six "
                "to spare."),
        files=[_file(ref)])
    cal = quorvex.fit(x, y, degree=degree)
    ps = cal.power_coefficients("scaled")
    for k, row in enumerate(cert):
        case.checks.append(_digits_check(
            f"B{k}", ps.coef[k], b[k], float(required[k]), f"data allow {allowed[k]:.1f} digits",
            row[1]))
    for k, row in enumerate(cert):
        sd = float(row[2])
        if sd == 0:
            case.checks.append(_digits_check(
                f"sd(B{k})", ps.u_coef[k], 0.0, float(required[k]),
                f"certified 0 (exact fit): relative to |B{k}|", row[2], scale=b[k]))
        else:
            case.checks.append(_digits_check(f"sd(B{k})", ps.u_coef[k], sd, NIST_SD_DIGITS,
                                             "", row[2]))
    rsd_text = ref.values("stats")["residual_sd"]
    if exact:
        case.checks.append(_digits_check("residual sd", cal.sres, 0.0, NIST_SD_DIGITS,
                                         "certified 0 (exact fit): relative to max |y|",
                                         rsd_text, scale=np.abs(y).max()))
    else:
        case.checks.append(_digits_check("residual sd", cal.sres, float(rsd_text),
                                         NIST_SD_DIGITS, "", rsd_text))
    return case


def _file(ref: Reference) -> dict:
    return {"file": f"reference/{ref.path.name}", "sha256": ref.sha256}


# ----------------------------------------------------------------------------
# ISO/TS 28037 clause 6.3: weighted straight line, u(y) known

def _iso63_case(name: str, example: str) -> Case:
    import quorvex
    ref = read_reference(name)
    d = ref.table("data")
    r = ref.values("reference")
    R = {k: float(v) for k, v in r.items()}
    case = Case(
        id=f"iso28037-6.3-{example}", title=f"ISO/TS 28037 6.3, {example} example",
        source=source_text(ref),
        method=("straight line by weighted least squares (OLSPFIT, weights 1/u(y), "
                "covariance from the stated u(y)); slope and intercept by LINEAR_CONV; "
                "inverse prediction by IPVAL and by the closed form IPVAL_DEGREE1; forward "
                "evaluation by POLYEVAL"),
        criterion=(f"every value to {EXACT_DIGITS:g} digits of the exact solution and of the "
                   "first-order closed forms; the standard's printed values met to their last "
                   "digit"),
        reason=("The references are exact (rational arithmetic, 50 digits); the problem is "
                "well conditioned (six points, condition number below 100), so a stable "
                f"double-precision solution carries 14 digits or more: {EXACT_DIGITS:g} "
                "leaves two for rounding in the library's basis change."),
        files=[_file(ref)])
    cal = quorvex.fit(d["x"], d["y"], u_y=d["u_y"], degree=1)
    ln = cal.line()
    u_a, u_b, cov_ab = ln.u_intercept, ln.u_slope, float(ln.cov[0, 1])
    got = {"a": ln.intercept, "b": ln.slope, "u_a": u_a, "u_b": u_b, "cov_ab": cov_ab,
           "chi2": cal.chi2}
    label = {"a": "intercept a", "b": "slope b", "u_a": "u(a)", "u_b": "u(b)",
             "cov_ab": "cov(a, b)", "chi2": "χ²"}
    for k in ("a", "b", "u_a", "u_b", "cov_ab", "chi2"):
        case.checks.append(_digits_check(label[k], got[k], R[k], EXACT_DIGITS, "exact solution",
                                         r[k].split()[0]))
    y1, uy1 = R["inverse_y1"], R["inverse_u_y1"]
    p = cal.inverse([y1], u_y=[uy1])
    q = cal.inverse([y1], u_y=[uy1], extrapolate=True)
    for tag, pred in (("IPVAL", p), ("IPVAL_DEGREE1", q)):
        case.checks.append(_digits_check(f"x({y1:g}) {tag}", pred.x[0], R["inverse_x1"],
                                         EXACT_DIGITS, "closed form (y - a)/b",
                                         r["inverse_x1"]))
        case.checks.append(_digits_check(f"u(x) {tag}", pred.u_x[0], R["inverse_u_x1"],
                                         EXACT_DIGITS, "first order, GUM",
                                         r["inverse_u_x1"]))
    if "forward_x2" in R:
        x2, ux2 = R["forward_x2"], R["forward_u_x2"]
        y2, u_curve = cal.evaluate([x2], uncertainty=True)
        u_y2 = math.hypot(float(u_curve[0]), ln.slope * ux2)
        case.checks.append(_digits_check(f"y({x2:g}) POLYEVAL", y2[0], R["forward_y2"],
                                         EXACT_DIGITS, "a + b x", r["forward_y2"]))
        case.checks.append(_digits_check(f"u(y({x2:g}))", u_y2, R["forward_u_y2"],
                                         EXACT_DIGITS, f"first order, u(x) = {ux2:g}",
                                         r["forward_u_y2"]))
    for row in ref.rows("published"):
        k, text, src = row[0], row[1], row[2]
        case.checks.append(_published_check(f"{label[k]} (printed)", got[k], text, 0.0, src))
    return case


# ----------------------------------------------------------------------------
# Errors-in-variables straight lines: ISO/TS 28037 7.4 and Pearson-York

def _eiv_data(ref: Reference):
    d = ref.table("data")
    if "wX_york" in d:  # York's weights are inverse variances
        return d["x"], d["y"], 1.0 / np.sqrt(d["wX_york"]), 1.0 / np.sqrt(d["wY_york"])
    return d["x"], d["y"], d["u_x"], d["u_y"]


def _eiv_line_case(name: str, cid: str, title: str) -> Case:
    import quorvex
    ref = read_reference(name)
    x, y, ux, uy = _eiv_data(ref)
    r = ref.values("reference")
    R = {k: float(v) for k, v in r.items()}
    chi2_key = "S" if "S" in R else "chi2"
    case = Case(
        id=cid, title=title, source=source_text(ref),
        method=("straight line with uncertainties in x and y (GLSPFIT, weights 1/u(x), "
                "1/u(y), default stopping rule and interval), uncertainties from the stated "
                "u(x), u(y) at the adjusted points; slope and intercept by LINEAR_CONV"),
        criterion=(f"a and b within {EIV_U:g} of their standard uncertainty of the 50-digit "
                   f"solution; u(a), u(b), cov(a, b) to {EIV_U_DIGITS:g} digits; χ² to "
                   f"{EIV_CHI2_DIGITS:g} digits; published values met to their last digit "
                   "(or within the same requirement where that is wider)"),
        reason=("A sum of squares fixes its minimum only to about the square root of the "
                "rounding unit in the parameters (it is flat to second order there), and the "
                "fit's documented stopping rule leaves coefficients within about 1e-7 u of "
                f"the exact minimum: {EIV_U:g} u is ten times that, still far below the two "
                "digits to which u is quoted. The uncertainties are evaluated at the stopped "
                f"point, so they agree to about the same relative level; {EIV_U_DIGITS:g} "
                "digits leave four to spare. χ² is flat at the minimum and agrees to nearly "
                "full precision."),
        files=[_file(ref)])
    cal = quorvex.fit(x, y, u_y=uy, u_x=ux, degree=1)
    ln = cal.line()
    ua_ref, ub_ref = R["u_a_unscaled"], R["u_b_unscaled"]
    got = {"a": ln.intercept, "b": ln.slope, "u_a": ln.u_intercept, "u_b": ln.u_slope,
           "cov_ab": float(ln.cov[0, 1]), "chi2": cal.chi2, "S": cal.chi2,
           "u_a_unscaled": ln.u_intercept, "u_b_unscaled": ln.u_slope}
    scale = math.sqrt(cal.chi2 / cal.dof)
    got["u_a_scaled"], got["u_b_scaled"] = ln.u_intercept * scale, ln.u_slope * scale
    case.checks.append(_u_check("intercept a", got["a"], R["a"], ua_ref, text=r["a"]))
    case.checks.append(_u_check("slope b", got["b"], R["b"], ub_ref, text=r["b"]))
    for q, k, rk in (("u(a)", "u_a", "u_a_unscaled"), ("u(b)", "u_b", "u_b_unscaled"),
                     ("cov(a, b)", "cov_ab", "cov_ab_unscaled")):
        case.checks.append(_digits_check(q, got[k], R[rk], EIV_U_DIGITS, "stated u, adjusted "
                                         "points", r[rk]))
    case.checks.append(_digits_check("χ²", cal.chi2, R[chi2_key], EIV_CHI2_DIGITS,
                                     f"{cal.dof} degrees of freedom", r[chi2_key]))
    doubt = ref.notes.get("DOUBT", "")
    label = {"a": "intercept a", "b": "slope b", "u_a": "u(a)", "u_b": "u(b)",
             "cov_ab": "cov(a, b)", "chi2": "χ²", "u_a_unscaled": "u(a)",
             "u_b_unscaled": "u(b)", "u_a_scaled": "u(a) scaled", "u_b_scaled": "u(b) scaled"}
    for row in ref.rows("published"):
        k, text, src = row[0], row[1], row[2]
        if k not in got:
            continue
        o = got[k]
        if k in ("a", "b"):
            own = EIV_U * (ua_ref if k == "a" else ub_ref)
        elif k == "chi2":
            own = abs(o) * 10 ** -EIV_CHI2_DIGITS
        else:
            own = abs(o) * 10 ** -EIV_U_DIGITS
        exact_key = next((e for e in (k, k + "_unscaled", chi2_key if k == "chi2" else "")
                          if e in R), None)
        informative = ""
        if exact_key is not None:
            exact = R[exact_key]
            tol = max(_printed_tolerance(text), abs(exact) * 10 ** -EIV_U_DIGITS)
            if abs(exact - float(text)) > tol:
                informative = (f"not a criterion: the published value is not the rounding of "
                               f"the exact solution {r[exact_key]}"
                               + ("; see the DOUBT note of the data file" if doubt and "DOUBT"
                                  in src else ""))
        case.checks.append(_published_check(f"{label[k]} (published)", o, text, own, src,
                                            informative))
    return case


# ----------------------------------------------------------------------------
# Inverse prediction of a quadratic against closed forms, and Monte Carlo checks

def quadratic_data():
    """Eleven standards on y = 1 + 2x - 0.15x² with fixed deterministic scatter
    (0.03 sin(1.7 i + 0.4)) and u(y) = 0.03: a curve with a maximum inside its
    interval, so that one response has two roots and another one."""
    x = np.arange(11, dtype=float)
    y = 1 + 2 * x - 0.15 * x ** 2 + 0.03 * np.sin(1.7 * np.arange(11) + 0.4)
    return x, y, np.full(11, 0.03)


QUAD_Y = (6.5, 3.0)
QUAD_UY = 0.05


def power_fit(x, y, u_y, degree):
    """Weighted least squares in powers of x by numpy (SVD of the column-scaled
    design): coefficients and their covariance (X'WX)^-1, independent of the library."""
    X = np.vander(x, degree + 1, increasing=True) / u_y[:, None]
    s = np.abs(X).max(axis=0)
    coef, *_ = np.linalg.lstsq(X / s, y / u_y, rcond=None)
    _, sv, vt = np.linalg.svd(X / s, full_matrices=False)
    inv = (vt.T / sv ** 2) @ vt
    return coef / s, inv / np.outer(s, s)


def quadratic_roots(a, yv):
    """Real roots of a0 + a1 x + a2 x² = yv in increasing order, by the formula that
    avoids cancellation."""
    c, b, q2 = a[0] - yv, a[1], a[2]
    disc = b * b - 4 * q2 * c
    if disc < 0:
        return []
    q = -0.5 * (b + math.copysign(math.sqrt(disc), b))
    return sorted([q / q2, c / q])


def _inverse_quadratic_case() -> Case:
    import quorvex
    x, y, uy = quadratic_data()
    case = Case(
        id="inverse-quadratic", title="Inverse prediction of a quadratic",
        source=("constructed for this validation: " + (quadratic_data.__doc__ or "").strip()
                .replace("\n   ", "")),
        method=("degree 2 by OLSPFIT (weights 1/u(y)); responses 6.5 (two roots) and 3.0 (one "
                f"root), u(y) = {QUAD_UY:g}, by IPVAL; reference: an independent weighted fit "
                "in powers of x (numpy SVD), its roots by the quadratic formula and "
                "u(x)² = (g'Cg + u(y)²) / p'(x)², g = (1, x, x²)"),
        criterion=(f"coefficients, roots and u(x) to {EXACT_DIGITS - 2:g} digits; the number "
                   "of roots equal"),
        reason=("Both sides are computed in double precision by different methods, each "
                "good to about 13 digits on this well-conditioned problem; 10 digits leave "
                "room for both and still expose any error in the root finder or in the "
                "propagation of the coefficient covariance."),
    )
    need = EXACT_DIGITS - 2
    cal = quorvex.fit(x, y, u_y=uy, degree=2)
    a, C = power_fit(x, y, uy, 2)
    ps = cal.power_coefficients()
    for k in range(3):
        case.checks.append(_digits_check(f"a{k} (powers of x)", ps.coef[k], a[k], need,
                                         "independent fit"))
    pred = cal.inverse(list(QUAD_Y), u_y=QUAD_UY)
    for i, yv in enumerate(QUAD_Y):
        roots = [r for r in quadratic_roots(a, yv) if cal.xmin <= r <= cal.xmax]
        n = int(pred.n_roots[i])
        case.checks.append(Check(f"roots of p(x) = {yv:g}", len(roots), n, "exact",
                                 abs(n - len(roots)), 0.0, "in the interval"))
        for j, root in enumerate(roots):
            g = np.array([1.0, root, root * root])
            dp = a[1] + 2 * a[2] * root
            u = math.sqrt(g @ C @ g + QUAD_UY ** 2) / abs(dp)
            got = pred.roots[i, j] if j < n else float("nan")
            ugot = pred.u_roots[i, j] if j < n else float("nan")
            case.checks.append(_digits_check(f"x{j + 1} for y = {yv:g}", got, root, need,
                                             "quadratic formula"))
            case.checks.append(_digits_check(f"u(x{j + 1}) for y = {yv:g}", ugot, u, need,
                                             "first order, GUM"))
    return case


def _monte_carlo_case() -> Case:
    """First-order u(x) against Monte Carlo draws (GUM Supplement 1) at a fixed seed."""
    import quorvex
    case = Case(
        id="monte-carlo-ux", title="First-order u(x) against Monte Carlo",
        source=("GUM Supplement 1 (JCGM 101:2008) propagation of distributions; the line of "
                "ISO/TS 28037 6.3 (first example) and the quadratic of the case above"),
        method=(f"{MC_DRAWS} draws at seed {MC_SEED}: coefficients from N(c, C), responses "
                "from N(y, u(y)²), each draw inverted by its closed form (the root nearest "
                "the first-order x for the quadratic); their standard deviation against the "
                f"first-order u(x) of IPVAL. Then the package's own Monte Carlo inverse "
                f"prediction ({PACKAGE_MC_DRAWS} draws, seed {MC_SEED}) against the same "
                "first-order u(x)"),
        criterion=(f"|u_MC / u_first-order - 1| ≤ {100 * MC_RTOL:g} % (own draws), "
                   f"≤ {100 * PACKAGE_MC_RTOL:g} % (the package's draws)"),
        reason=("The first-order u(x) leaves out terms of order (u(b)/b)² (about 0.5 % for "
                f"the line, less for the quadratic); the draws' own standard error is "
                f"1/sqrt(2N): 0.16 % for {MC_DRAWS} draws and 0.5 % for {PACKAGE_MC_DRAWS}. "
                "A fault in the propagation (a lost covariance term, a wrong slope) changes "
                "u(x) by tens of per cent."),
    )
    rng = np.random.default_rng(MC_SEED)
    ref = read_reference("ISO28037_6_3_ex1")
    case.files.append(_file(ref))
    d = ref.table("data")
    R = {k: float(v) for k, v in ref.values("reference").items()}
    cal = quorvex.fit(d["x"], d["y"], u_y=d["u_y"], degree=1)
    y1, uy1 = R["inverse_y1"], R["inverse_u_y1"]
    fo = cal.inverse([y1], u_y=[uy1])
    ln = cal.line()
    mean = np.array([ln.intercept, ln.slope])
    cov = np.array([[ln.cov[1, 1], ln.cov[0, 1]], [ln.cov[0, 1], ln.cov[0, 0]]])
    ab = rng.multivariate_normal(mean, cov, size=MC_DRAWS, method="cholesky")
    yy = y1 + uy1 * rng.standard_normal(MC_DRAWS)
    xs = (yy - ab[:, 0]) / ab[:, 1]
    u_mc = float(np.std(xs, ddof=1))
    case.checks.append(Check(f"u(x) line, y = {y1:g}", u_mc, float(fo.u_x[0]), "rel",
                             abs(float(fo.u_x[0]) / u_mc - 1), MC_RTOL,
                             "reference: the Monte Carlo value", _g(u_mc)))
    x, y, uy = quadratic_data()
    qcal = quorvex.fit(x, y, u_y=uy, degree=2)
    a, C = power_fit(x, y, uy, 2)
    yv = QUAD_Y[1]
    qfo = qcal.inverse([yv], u_y=[QUAD_UY])
    x0 = float(qfo.x[0])
    draws = rng.multivariate_normal(a, C, size=MC_DRAWS, method="cholesky")
    yy = yv + QUAD_UY * rng.standard_normal(MC_DRAWS)
    c0, b, q2 = draws[:, 0] - yy, draws[:, 1], draws[:, 2]
    disc = np.sqrt(np.maximum(b * b - 4 * q2 * c0, 0.0))
    q = -0.5 * (b + np.copysign(disc, b))
    r1, r2 = q / q2, c0 / q
    xs = np.where(np.abs(r1 - x0) < np.abs(r2 - x0), r1, r2)
    u_mc = float(np.std(xs, ddof=1))
    case.checks.append(Check(f"u(x) quadratic, y = {yv:g}", u_mc, float(qfo.u_x[0]), "rel",
                             abs(float(qfo.u_x[0]) / u_mc - 1), MC_RTOL,
                             "reference: the Monte Carlo value", _g(u_mc)))
    mc = cal.inverse([y1], u_y=[uy1], method="monte-carlo", n=PACKAGE_MC_DRAWS, seed=MC_SEED)
    case.checks.append(Check(f"u(x) line, package Monte Carlo", float(mc.u_x[0]),
                             float(fo.u_x[0]), "rel",
                             abs(float(fo.u_x[0]) / float(mc.u_x[0]) - 1), PACKAGE_MC_RTOL,
                             "reference: the package's Monte Carlo value",
                             _g(float(mc.u_x[0]))))
    return case


# ----------------------------------------------------------------------------
# The errors-in-variables fit against independent solutions

def york_line(x, y, u_x, u_y, maxit: int = 1000):
    """York et al. (2004), Am. J. Phys. 72, 367: the straight line through points with
    uncorrelated uncertainties in x and y, by York's fixed-point iteration for the
    slope.  Returns a, b, u(a), u(b), cov(a, b) (from the stated uncertainties, at the
    adjusted points) and S, the weighted sum of squares at the minimum."""
    wx, wy = 1.0 / u_x ** 2, 1.0 / u_y ** 2
    b = np.polyfit(x, y, 1, w=1.0 / u_y)[0]
    for _ in range(maxit):
        w = wx * wy / (wx + b * b * wy)
        xb, yb = np.sum(w * x) / np.sum(w), np.sum(w * y) / np.sum(w)
        uu, vv = x - xb, y - yb
        beta = w * (uu / wy + b * vv / wx)
        b_new = np.sum(w * beta * vv) / np.sum(w * beta * uu)
        done = abs(b_new - b) <= 4 * EPS * abs(b_new)
        b = b_new
        if done:
            break
    w = wx * wy / (wx + b * b * wy)
    xb, yb = np.sum(w * x) / np.sum(w), np.sum(w * y) / np.sum(w)
    beta = w * ((x - xb) / wy + b * (y - yb) / wx)
    a = yb - b * xb
    xa = xb + beta
    xm = np.sum(w * xa) / np.sum(w)
    vb = 1.0 / np.sum(w * (xa - xm) ** 2)
    va = 1.0 / np.sum(w) + xm * xm * vb
    s = float(np.sum(w * (y - a - b * x) ** 2))
    return float(a), float(b), math.sqrt(va), math.sqrt(vb), float(-xm * vb), s


def eiv_quadratic_data():
    """Twelve points on y = 2 + 1.5x + 0.2x², x in 0..11, with deterministic scatter
    0.04 cos(2.3 i) in x and 0.06 sin(1.3 i + 1) in y; u(x) = 0.04, u(y) = 0.06."""
    i = np.arange(12)
    xt = i.astype(float)
    x = xt + 0.04 * np.cos(2.3 * i)
    y = 2 + 1.5 * xt + 0.2 * xt ** 2 + 0.06 * np.sin(1.3 * i + 1)
    return x, y, np.full(12, 0.04), np.full(12, 0.06)


def _odr(x, y, u_x, u_y, ncoef, xmin, xmax, beta0):
    """scipy.odr (ODRPACK) explicit orthogonal distance regression in the library's
    basis on the same interval, weights 1/u², converged tightly."""
    from numpy.polynomial import chebyshev as C
    from scipy import odr

    # The reference's own model of the scaled polynomial, in numpy (independent of the
    # library): rows (1/2, T_1(t), ...), and the slope dp/dx.
    def rows(x):
        t = ((np.asarray(x) - xmin) - (xmax - np.asarray(x))) / (xmax - xmin)
        v = C.chebvander(np.atleast_1d(t), ncoef - 1)
        v[:, 0] = 0.5
        return v

    def slope(c, x):
        t = ((np.asarray(x) - xmin) - (xmax - np.asarray(x))) / (xmax - xmin)
        cs = np.array(c, dtype=np.float64)
        cs[0] *= 0.5
        return C.chebval(t, C.chebder(cs)) * (2.0 / (xmax - xmin)) if ncoef > 1 else 0.0 * t

    model = odr.Model(lambda c, t: rows(t) @ c, fjacb=lambda c, t: rows(t).T,
                      fjacd=lambda c, t: slope(c, t))
    job = odr.ODR(odr.Data(x, y, wd=1.0 / u_x ** 2, we=1.0 / u_y ** 2), model, beta0=beta0,
                  maxit=1000, sstol=1e-15, partol=1e-15)
    job.set_job(fit_type=0, deriv=3)
    return job.run()


def _eiv_independent_case() -> Case:
    import quorvex
    case = Case(
        id="eiv-independent", title="Errors-in-variables fit against independent solutions",
        source=("York, Evensen, Martínez, Delgado (2004), Am. J. Phys. 72, 367 (straight "
                "line); ODRPACK through scipy.odr (orthogonal distance regression); the data "
                "of ISO/TS 28037 7.4, Pearson-York, and a constructed quadratic: "
                + (eiv_quadratic_data.__doc__ or "").strip().replace("\n   ", "")),
        method=("GLSPFIT (default stopping rule) against York's iteration, computed here, for "
                "the straight lines, and against scipy.odr in the same Chebyshev basis and "
                "interval, converged to 1e-15, for all three; coefficients compared in units "
                "of their standard uncertainty, uncertainties relative"),
        criterion=(f"coefficients within {EIV_U:g} u; uncertainties and covariances to "
                   f"{EIV_U_DIGITS:g} digits; χ² to {EIV_CHI2_DIGITS:g} digits"),
        reason=("The independent solutions converge to rounding; the library's default "
                "stopping rule leaves coefficients within about 1e-7 u of the minimum, and "
                f"{EIV_U:g} u is ten times that (see the errors-in-variables cases)."),
    )
    try:
        import scipy.odr  # noqa: F401
        have_odr = True
    except ImportError:
        have_odr = False
    sets = []
    for name, title in (("ISO28037_7_4", "ISO 7.4"), ("PearsonYork", "Pearson-York")):
        ref = read_reference(name)
        case.files.append(_file(ref))
        sets.append((title, *_eiv_data(ref), 1))
    sets.append(("quadratic", *eiv_quadratic_data(), 2))
    for title, x, y, ux, uy, degree in sets:
        cal = quorvex.fit(x, y, u_y=uy, u_x=ux, degree=degree)
        if degree == 1:
            a, b, ua, ub, cab, s = york_line(x, y, ux, uy)
            ln = cal.line()
            note = "York's iteration"
            case.checks.append(_u_check(f"{title}: a", ln.intercept, a, ua, note=note))
            case.checks.append(_u_check(f"{title}: b", ln.slope, b, ub, note=note))
            case.checks.append(_digits_check(f"{title}: u(a)", ln.u_intercept, ua, EIV_U_DIGITS,
                                             note))
            case.checks.append(_digits_check(f"{title}: u(b)", ln.u_slope, ub, EIV_U_DIGITS,
                                             note))
            case.checks.append(_digits_check(f"{title}: cov(a, b)", ln.cov[0, 1], cab,
                                             EIV_U_DIGITS, note))
            case.checks.append(_digits_check(f"{title}: χ²", cal.chi2, s, EIV_CHI2_DIGITS, note))
        if not have_odr:
            continue
        start = quorvex.fit(x, y, u_y=uy, degree=degree, interval=cal.interval).coef
        out = _odr(x, y, ux, uy, cal.ncoef, cal.xmin, cal.xmax, np.array(start))
        u = np.sqrt(np.diag(out.cov_beta))
        note = f"scipy.odr (info {out.info})"
        for k in range(cal.ncoef):
            case.checks.append(_u_check(f"{title}: c{k}", cal.coef[k], out.beta[k], u[k],
                                        note=note + ", Chebyshev coefficient"))
        for k in range(cal.ncoef):
            case.checks.append(_digits_check(f"{title}: u(c{k})", math.sqrt(cal.cov[k, k]), u[k],
                                             EIV_U_DIGITS, note))
        chi2 = float(np.sum((out.delta / ux) ** 2 + (out.eps / uy) ** 2))
        case.checks.append(_digits_check(f"{title}: χ²", cal.chi2, chi2, EIV_CHI2_DIGITS, note))
    if not have_odr:
        case.checks.append(Check("scipy.odr", float("nan"), float("nan"), "exact", 0.0, 0.0,
                                 "scipy is not installed: the comparison with ODRPACK was "
                                 "not run", informative=True))
    return case


# ----------------------------------------------------------------------------
# What a laboratory files: inversion intervals, detection limits, a weighted fit,
# verdicts, reading an instrument's export, the laboratory library's entry points

# Student's t quantiles t(p, dof) the closed forms below use, computed with mpmath at 40
# digits as the root of the regularized incomplete beta function: independent of the
# library's Boost.Math (and of scipy, whose t.ppf is off by up to 2e-9 relative here).
T_QUANTILES = {
    (0.975, 6): 2.446911851144969971071297, (0.95, 6): 1.943180280515303206605725,
    (0.995, 9): 3.249835541592126275630477, (0.99, 8): 2.896459447709622333888722,
}


def _t_quantile(p: float, dof: float) -> float:
    return T_QUANTILES[(round(p, 6), int(dof))]


def _line_sums(x, y, w=None):
    """Weighted straight line in closed form (weights w, ones by default): a, b, s (from
    the residuals, dof n - 2), u(a), u(b), and the sums used."""
    x, y = np.asarray(x, float), np.asarray(y, float)
    w = np.ones_like(x) if w is None else np.asarray(w, float)
    sw, swx, swy = w.sum(), (w * x).sum(), (w * y).sum()
    swxx, swxy = (w * x * x).sum(), (w * x * y).sum()
    d = sw * swxx - swx * swx
    b = (sw * swxy - swx * swy) / d
    a = (swy - b * swx) / sw
    s = math.sqrt((w * (y - a - b * x) ** 2).sum() / (x.size - 2))
    return {"a": a, "b": b, "s": s, "u_a": s * math.sqrt(swxx / d), "u_b": s * math.sqrt(sw / d),
            "xbar": swx / sw, "ybar": swy / sw, "sxx": swxx - swx * swx / sw, "n": x.size}


def _fieller_line(L: dict, y0: float, t: float, q: float):
    """The inversion interval of a straight line in closed form: the x with
    (y0 - a - b x)^2 <= t^2 s^2 (q + (x - xbar)^2 / Sxx), q = 1/m + 1/n (Fieller)."""
    b, T2 = L["b"], (t * L["s"]) ** 2
    c = y0 - L["ybar"]
    A = b * b - T2 / L["sxx"]
    disc = b * b * c * c - A * (c * c - T2 * q)
    r = math.sqrt(disc)
    return L["xbar"] + (b * c - r) / A, L["xbar"] + (b * c + r) / A


def _graybill_iyer_case() -> Case:
    import quorvex
    refs = [read_reference("GraybillIyer_thermostat"), read_reference("GraybillIyer_chamber")]
    case = Case(
        id="inversion-intervals", title="Inversion intervals (Graybill and Iyer)",
        source=" ".join(source_text(r) for r in refs[:1]),
        method=("straight line by OLSPFIT, covariance scaled by the residual scatter; each "
                "response read off by QVXL_READBACK: the estimate and the inversion (Fieller) "
                "interval at the published level, for one new reading (u(y) from the "
                "scatter) or a mean response (curve only); reference: the textbook's printed "
                "limits, and the interval in closed form with a 40-digit t quantile"),
        criterion=(f"estimate and limits to {EXACT_DIGITS - 2:g} digits of the closed form; "
                   "the printed values met to their last digit"),
        reason=("The closed form solves the same quadratic inequality by other means, with "
                "an independent t quantile: both good to 12 digits or more on these "
                "well-conditioned lines. The printed limits carry 3 or 4 digits."),
        files=[_file(r) for r in refs])
    need = EXACT_DIGITS - 2
    for ref in refs:
        d = ref.table("data")
        cal = quorvex.fit(d["x"], d["y"], degree=1)
        L = _line_sums(d["x"], d["y"])
        tag = ref.name.split("_")[1]
        for row in ref.rows("published"):
            y0, level = float(row[0]), float(row[1])
            readings, est, lo, hi = row[2].split()
            mean = readings == "mean-response"
            pred = cal.inverse([y0], u_y="curve-only" if mean else None, level=level)
            got = {"estimate": pred.x[0], "lower": pred.low[0], "upper": pred.high[0]}
            where = f"{tag}, y0 = {row[0]}, {100 * level:g} %"
            t = _t_quantile(0.5 + level / 2, L["n"] - 2)
            q = (0.0 if mean else 1.0) + 1.0 / L["n"]
            flo, fhi = _fieller_line(L, y0, t, q)
            exact = {"estimate": (y0 - L["a"]) / L["b"], "lower": flo, "upper": fhi}
            for k in ("estimate", "lower", "upper"):
                case.checks.append(_digits_check(f"{k} ({where})", got[k], exact[k], need,
                                                 "closed form, 40-digit t"))
            for k, text in (("estimate", est), ("lower", lo), ("upper", hi)):
                case.checks.append(_published_check(f"{k} ({where}, printed)", got[k], text,
                                                    0.0, "Graybill and Iyer (1996)"))
    return case


def _din32645_case() -> Case:
    import quorvex
    from .diagnostics import detection_limits
    ref = read_reference("DIN32645_example")
    d = ref.table("data")
    pub = ref.values("published")
    case = Case(
        id="din32645-limits", title="Detection limits (DIN 32645 example)",
        source=source_text(ref),
        method=("straight line by OLSPFIT, scaled covariance; decision limit x_C and y_C, "
                "detection limit x_D (ISO 11843-2, non-central t) and DIN 32645's limit of "
                "quantification (k = 3) by QVXL_LIMITS at alpha = beta = 0.01, one reading, "
                "the blank at x = 0; reference: the standard's published values and x_C in "
                "closed form (s/b) t(1 - alpha, n - 2) sqrt(1 + 1/n + xbar^2/Sxx)"),
        criterion=(f"x_C and y_C to {EXACT_DIGITS - 2:g} digits of the closed form; the "
                   "published values met to their last digit"),
        reason=("x_C, y_C are published to 7 digits; DIN's x_D and LOQ to 2. DIN's x_D "
                "(2 x_C for alpha = beta) and ISO 11843-2's differ by 1.4 % on these data, "
                "both round to the published 0.14."),
        files=[_file(ref)])
    cal = quorvex.fit(d["x"], d["y"], degree=1)
    lim = detection_limits(cal, alpha=0.01, beta=0.01, replicates=1, k_loq=3.0)
    L = _line_sums(d["x"], d["y"])
    t = _t_quantile(0.99, L["n"] - 2)
    root = math.sqrt(1.0 + 1.0 / L["n"] + L["xbar"] ** 2 / L["sxx"])
    case.checks.append(_digits_check("x_C", lim.x_critical, L["s"] / L["b"] * t * root,
                                     EXACT_DIGITS - 2, "closed form, 40-digit t"))
    case.checks.append(_digits_check("y_C", lim.y_critical, L["a"] + t * L["s"] * root,
                                     EXACT_DIGITS - 2, "closed form, 40-digit t"))
    src = "DIN 32645:2008-11 example"
    case.checks.append(_published_check("x_C (published)", lim.x_critical,
                                        pub["x_critical_alpha_0.01"], 0.0, src))
    case.checks.append(_published_check("y_C (published)", lim.y_critical,
                                        pub["y_critical_alpha_0.01"], 0.0, src))
    case.checks.append(_published_check("x_D (published)", lim.x_detection,
                                        pub["x_detection_alpha_beta_0.01_DIN"], 0.0, src))
    case.checks.append(_published_check("LOQ, k = 3 (published)", lim.loq_din,
                                        pub["x_determination_k3_alpha_0.01_DIN"], 0.0, src))
    return case


def _weighted_case() -> Case:
    import quorvex
    ref = read_reference("Massart97_ex3")
    d = ref.table("data")
    levels = np.unique(d["x"])
    ym = np.array([d["y"][d["x"] == v].mean() for v in levels])
    sd = np.array([round(float(np.std(d["y"][d["x"] == v], ddof=1)), 2) for v in levels])
    w = np.round(1.0 / sd ** 2, 3)
    case = Case(
        id="weighted-fit", title="Weighted fit (Massart et al., replicate standards)",
        source=source_text(ref),
        method=("the book's recipe: the mean response of each level, weighted by "
                "round(1/s^2, 3) of its 5 replicates; straight line by OLSPFIT with "
                "u(y) = 1/sqrt(w), covariance scaled by the residual scatter; reading back "
                "by QVXL_READBACK; reference: weighted least squares in closed form (sums of "
                "w, wx, wy, wx^2, wxy) and the published x"),
        criterion=(f"a, b, s and their u to {EXACT_DIGITS:g} digits of the closed form; x to "
                   "its published digits"),
        reason=("The closed form is exact algebra on six well-conditioned points: both "
                "carry 13 digits or more. The published x carry 7 digits."),
        files=[_file(ref)])
    cal = quorvex.fit(levels, ym, u_y=1.0 / np.sqrt(w), covariance="scaled", degree=1)
    L = _line_sums(levels, ym, w)
    ln = cal.line()
    got = {"intercept a": ln.intercept, "slope b": ln.slope, "s (SRES)": cal.sres,
           "u(a)": ln.u_intercept, "u(b)": ln.u_slope}
    ref_ = {"intercept a": L["a"], "slope b": L["b"], "s (SRES)": L["s"], "u(a)": L["u_a"],
            "u(b)": L["u_b"]}
    for k in got:
        case.checks.append(_digits_check(k, got[k], ref_[k], EXACT_DIGITS, "closed form"))
    for row in ref.rows("published"):
        y0 = float(row[0])
        x = cal.inverse([y0], u_y="curve-only").x[0]
        case.checks.append(_digits_check(f"x for y = {row[0]}", x, (y0 - L["a"]) / L["b"],
                                         EXACT_DIGITS, "closed form (y - a)/b"))
        case.checks.append(_published_check(f"x for y = {row[0]} (published)", x,
                                            row[2].split()[0], 0.0, "chemCal's tests"))
    return case


def _verdict_case() -> Case:
    import quorvex
    x = np.repeat(np.arange(1.0, 7.0), 2)
    wiggle = np.tile([0.02, -0.02], 6)
    bent = 2.0 * x + 0.05 * (x - 3.5) ** 2 + wiggle
    case = Case(
        id="verdicts", title="Verdicts on known cases",
        source="constructed for this validation: six levels in duplicate, y = 2x with a "
               "replicate scatter of ±0.02, then bent by 0.05 (x - 3.5)² or given one gross "
               "outlier",
        method=("QVXL_DIAGNOSE and QVXL_VERDICT with the default criteria; reference: the "
                "lack-of-fit F from the level means in numpy, and the verdict each case has "
                "by construction"),
        criterion=f"F to {EXACT_DIGITS - 2:g} digits; each verdict as constructed",
        reason=("A bend 30 times the replicate scatter must fail lack of fit; level means on "
                "the line must pass it; a standard 50 scatters off the line must be an "
                "outlier. The F ratio is plain arithmetic on 12 points."))
    cases = {"straight": 2.0 * x + wiggle, "bent": bent,
             "outlier": 2.0 * x + wiggle + np.where(np.arange(12) == 6, 1.0, 0.0)}
    expect = {"straight": (True, ()), "bent": (False, ("lack_of_fit",)),
              "outlier": (False, ("outliers",))}
    for name, y in cases.items():
        cal = quorvex.fit(x, y, degree=1)
        dg = cal.diagnostics()
        ok, failed = expect[name]
        case.checks.append(Check(f"{name}: fit for use", float(ok), float(dg.fit_for_use),
                                 "exact", abs(float(ok) - float(dg.fit_for_use)), 0.0,
                                 "by construction"))
        for c in failed:
            has = float(c in dg.failed)
            case.checks.append(Check(f"{name}: {c} fails", 1.0, has, "exact", 1.0 - has, 0.0,
                                     "by construction"))
        if name == "bent":
            L = _line_sums(x, y)
            means = np.array([y[x == v].mean() for v in np.unique(x)])
            lev = np.unique(x)
            ss_pure = float(sum(((y[x == v] - y[x == v].mean()) ** 2).sum() for v in lev))
            ss_lack = float((2 * (means - L["a"] - L["b"] * lev) ** 2).sum())
            f = (ss_lack / (lev.size - 2)) / (ss_pure / (x.size - lev.size))
            case.checks.append(_digits_check("bent: lack-of-fit F", dg.lack_of_fit["f"], f,
                                             EXACT_DIGITS - 2, "level means, numpy"))
    return case


# An instrument's export as a German laboratory's data system writes it: semicolons,
# decimal commas, an ID column, Windows-1252 text.
EXPORT_TEXT = ("Probenname;Konz. (µg/L);Fläche (counts)\r\n"
               "Kal-Blank;0,000;12,5\r\nKal-1;0,500;1023,75\r\nKal-2;1,000;2031,125\r\n"
               "Kal-3;2,500;5068,0\r\nKal 4 (Wdh.);5,000;10107,5\r\n")
EXPORT_VALUES = {"names": ["Kal-Blank", "Kal-1", "Kal-2", "Kal-3", "Kal 4 (Wdh.)"],
                 "x": [0.0, 0.5, 1.0, 2.5, 5.0], "y": [12.5, 1023.75, 2031.125, 5068.0, 10107.5]}


def _csv_case() -> Case:
    import tempfile
    from . import tabular
    case = Case(
        id="reading-an-export", title="Reading a decimal-comma, semicolon-separated export",
        source="constructed for this validation: five standards with an ID column, "
               "semicolons, decimal commas, CRLF line ends, headers with units in "
               "parentheses, in Windows-1252 and in UTF-8 with a byte-order mark",
        method=("the command line's reader (tabular.read_table with the separator, decimal "
                "mark and encoding found from the file; read_standards with the columns "
                "found from their headers)"),
        criterion="every name and number equal to the values written; the columns found",
        reason=("Reading is exact or wrong: a decimal comma read as a separator, or a "
                "header not recognised, changes a value or refuses the file."))
    with tempfile.TemporaryDirectory() as tmp:
        for enc in ("cp1252", "utf-8-sig"):
            path = Path(tmp) / f"export-{enc}.csv"
            path.write_bytes(EXPORT_TEXT.encode(enc))
            table = tabular.read_table(path)
            st = tabular.read_standards(table)
            same = (st.names == EXPORT_VALUES["names"])
            case.checks.append(Check(f"{enc}: sample IDs", 1.0, float(same), "exact",
                                     0.0 if same else 1.0, 0.0, "as written"))
            for k in ("x", "y"):
                got = np.asarray(getattr(st, k), float)
                bad = float(np.max(np.abs(got - EXPORT_VALUES[k])))
                case.checks.append(Check(f"{enc}: {k} ({st.columns.get(k)})", 0.0, bad,
                                         "exact", bad, 0.0, "largest |difference|"))
    return case


# Every entry point of the laboratory library, with its number of arguments.
LAB_ENTRY_POINTS = {
    "QVXL_BAND": 18, "QVXL_BLANK_SCATTER": 5, "QVXL_COVERAGE": 6, "QVXL_CRITERIA_EXTRA": 12,
    "QVXL_CRITERIA_PRESET": 5, "QVXL_CURVE": 13, "QVXL_DEFAULT_CRITERIA": 2,
    "QVXL_DEFAULT_INTERVAL": 7, "QVXL_DEFAULT_TOLERANCES": 12, "QVXL_DIAGNOSE": 36,
    "QVXL_DISTRIBUTION": 7, "QVXL_FIT": 32, "QVXL_GGM_COMPONENTS": 9, "QVXL_GGM_DILUTION": 9,
    "QVXL_GGM_FIT": 18, "QVXL_GGM_INVERSE": 16, "QVXL_GGM_SHARED": 9, "QVXL_JOINT_COV": 16,
    "QVXL_LIMITS": 25, "QVXL_LIMIT_CHOICE": 9, "QVXL_MONTECARLO": 31, "QVXL_POWER": 8,
    "QVXL_READBACK": 37, "QVXL_REPLICATES": 11, "QVXL_REPLICATE_CHECK": 18,
    "QVXL_REPORTED": 21, "QVXL_RESPONSE_SD": 9, "QVXL_RESPONSE_WEIGHTS": 5,
    "QVXL_SAMPLE_LIMITS": 7, "QVXL_SCALED_COV": 6, "QVXL_SELECT": 21, "QVXL_TEST_VERDICT": 5,
    "QVXL_TEXT": 6, "QVXL_VARIANCE_AT": 9, "QVXL_VARIANCE_FIT": 14,
    "QVXL_VARIANCE_FIT_RESIDUALS": 15, "QVXL_VARIANCE_READBACK": 35, "QVXL_VERDICT": 28,
    "QVXL_VERSION": 4, "QVXL_WEIGHTS": 6,
}
# Quantiles (dist, p, par1, par2): 25 digits computed with mpmath (40-digit arithmetic,
# inverse of the regularized incomplete beta and gamma functions, erfinv), and as
# statistical tables print them (3 decimals).
TABLE_QUANTILES = [
    ("normal, p = 0.975", 1, 0.975, 0.0, 0.0, 1.959963984540054235524594, "1.960"),
    ("t, p = 0.975, 10 dof", 2, 0.975, 10.0, 0.0, 2.228138851986274748395491, "2.228"),
    ("t, p = 0.995, 4 dof", 2, 0.995, 4.0, 0.0, 4.604094871349993225385464, "4.604"),
    ("chi2, p = 0.95, 10 dof", 3, 0.95, 10.0, 0.0, 18.30703805327514687180303, "18.307"),
    ("F, p = 0.95, 3 and 10 dof", 4, 0.95, 3.0, 10.0, 3.70826481904684448538819, "3.708"),
]


def _lab_entry_case() -> Case:
    from . import _lab, _trace
    from ._version import version
    case = Case(
        id="laboratory-library", title="The laboratory library's entry points",
        source="the library's header (quorvex_lab.h); statistical tables (3 decimals); "
               "quantiles computed with mpmath to 40 digits",
        method=("every entry point the package calls looked up in the loaded laboratory "
                "library; its version (QVXL_VERSION) against the package's; quantiles by "
                "QVXL_DISTRIBUTION"),
        criterion=(f"every entry point present; the version equal; quantiles to "
                   f"{EXACT_DIGITS:g} digits of the 40-digit values and to the tables' last "
                   "digit"),
        reason=("The other cases call these entry points through the package; a library "
                "that lacks one, or belongs to another release, must not pass. Boost.Math "
                "and scipy compute quantiles independently to 15 digits or so."))
    lib = _lab.library()
    missing = []
    for name in LAB_ENTRY_POINTS:
        try:
            lib.dll[name]
        except AttributeError:
            missing.append(name)
    case.checks.append(Check(f"entry points present ({len(LAB_ENTRY_POINTS)})",
                             float(len(LAB_ENTRY_POINTS)),
                             float(len(LAB_ENTRY_POINTS) - len(missing)), "exact",
                             float(len(missing)), 0.0,
                             "missing: " + ", ".join(missing) if missing else "all present"))
    ident = _trace.identity("laboratory")
    same = ident["version"] == version()
    case.checks.append(Check("library version = package version", 1.0, float(same), "exact",
                             0.0 if same else 1.0, 0.0,
                             f"library {ident['version']}, package {version()}"))
    for label, dist, p, a, b, exact, text in TABLE_QUANTILES:
        q = _lab.quantile(dist, p, a, b)
        case.checks.append(_digits_check(label, q, exact, EXACT_DIGITS, "40-digit value"))
        case.checks.append(_published_check(f"{label} (table)", q, text, 0.0,
                                            "statistical tables"))
    return case


# ----------------------------------------------------------------------------
# The run

def _cases():
    """(title, runner) of every case, in the record's order."""
    out = [(f"NIST StRD {n}", (lambda n=n: _nist_case(n))) for n in NIST_SETS]
    out += [("ISO/TS 28037 6.3, first example", lambda: _iso63_case("ISO28037_6_3_ex1",
                                                                     "first")),
            ("ISO/TS 28037 6.3, second example", lambda: _iso63_case("ISO28037_6_3_ex2",
                                                                      "second")),
            ("ISO/TS 28037 7.4", lambda: _eiv_line_case(
                "ISO28037_7_4", "iso28037-7.4",
                "ISO/TS 28037 7.4, uncertainties in x and y")),
            ("Pearson-York", lambda: _eiv_line_case(
                "PearsonYork", "pearson-york", "Pearson's data with York's weights")),
            ("Inverse prediction of a quadratic", _inverse_quadratic_case),
            ("First-order u(x) against Monte Carlo", _monte_carlo_case),
            ("Errors-in-variables fit against independent solutions", _eiv_independent_case),
            ("Inversion intervals (Graybill and Iyer)", _graybill_iyer_case),
            ("Detection limits (DIN 32645 example)", _din32645_case),
            ("Weighted fit (Massart et al.)", _weighted_case),
            ("Verdicts on known cases", _verdict_case),
            ("Reading a decimal-comma, semicolon-separated export", _csv_case),
            ("The laboratory library's entry points", _lab_entry_case)]
    return out


def _run_case(title, runner) -> Case:
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return runner()
    except Exception as e:  # a case that cannot complete has failed, whatever the cause
        return Case(id=re.sub(r"[^a-z0-9]+", "-", title.lower()).strip("-"), title=title,
                    source="", method="", criterion="", reason="",
                    error=f"{type(e).__name__}: {e}")


def validate(out=None, *, operator: str | None = None,
             laboratory: str | None = None, overwrite: bool = False) -> Validation:
    """Run the reference cases on the library this package has loaded.

    Parameters
    ----------
    out : str or Path, optional
        Folder to write ``validation.html`` and ``validation.json`` into.
    operator, laboratory : str, optional
        Who ran it and where, for the record.
    overwrite : bool
        Replace an earlier record in ``out`` (default: refuse it before running).

    Returns
    -------
    Validation
        ``passed`` is True when every case met its acceptance criteria.

    Raises
    ------
    QuorvexError
        The library cannot be loaded.
    OSError
        The record cannot be written.
    """
    import time
    from . import _clib
    if out is not None and not overwrite:
        from . import _files
        _files.check_targets([Path(out) / "validation.html", Path(out) / "validation.json"],
                             overwrite=False)
    t0 = time.perf_counter()
    _clib.library()  # a library that cannot be loaded is an error, not a failed case
    size = _perturbation()
    env = environment(operator=operator, laboratory=laboratory)
    if size:
        env["test_perturbation"] = size
        with _Perturbed(size):
            cases = [_run_case(t, r) for t, r in _cases()]
    else:
        cases = [_run_case(t, r) for t, r in _cases()]
    v = Validation(env, cases, time.perf_counter() - t0)
    if out is not None:
        v.write(out, overwrite=overwrite)
    return v


# ----------------------------------------------------------------------------
# The environment

def _processor() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.lower().startswith(("model name", "hardware", "cpu model")):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def _sha256(path: Path) -> str:
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def environment(operator: str | None = None, laboratory: str | None = None) -> dict:
    """What identifies the validated installation."""
    from . import _clib, _trace
    from ._version import version
    lib = _clib.library()
    path = Path(lib.path)
    real = path.resolve()
    package_dir = Path(__file__).resolve().parent
    m = re.search(r"\.so\.(\d+\.\d+\.\d+)$", real.name)
    if real.parent == package_dir:
        lib_version, how = version(), "the copy installed with the package"
    elif m:
        lib_version, how = m.group(1), f"from the file name {real.name}"
    else:
        lib_version, how = None, "not recorded in the file: identified by its SHA-256"
    try:
        import scipy
        scipy_version = scipy.__version__
    except ImportError:
        scipy_version = None
    chosen = "QUORVEX_LIBRARY" if os.environ.get("QUORVEX_LIBRARY") else "package search"
    return {
        "laboratory": laboratory, "operator": operator,
        "date": _dt.datetime.now(_dt.timezone.utc).replace(microsecond=0).isoformat(),
        "package": {"name": "quorvex", "version": version(), "path": str(package_dir)},
        "library": {"path": str(path), "file": str(real), "sha256": _sha256(real),
                    "bytes": real.stat().st_size, "version": lib_version,
                    "version_from": how, "found_by": chosen},
        "lab_library": _trace.identity("laboratory"),
        "platform": platform.platform(), "machine": platform.machine(),
        "processor": _processor(), "host": platform.node(),
        "python": f"{platform.python_version()} ({platform.python_implementation()}, "
                  f"{sys.executable})",
        "numpy": np.__version__, "scipy": scipy_version,
        "reference_data": str(REFERENCE_DIR),
        "test_perturbation": None,
    }


# ----------------------------------------------------------------------------
# The record as HTML

_CSS_VALIDATION = """
p.verdict{font-size:1.15em;font-weight:600;padding:.4em .6em;border:2px solid}
p.verdict.pass{color:#116329;border-color:#1a7f37;background:#dafbe1}
p.verdict.fail{color:#82071e;border-color:#cf222e;background:#ffebe9}
table.env td.t:first-child{font-weight:600;white-space:nowrap}
td.hash{font-family:ui-monospace,monospace;word-break:break-all;white-space:normal}
td.pass{color:#116329;font-weight:600}td.fail{color:#82071e;font-weight:700}
td.pass,td.fail,td.info,td.skipped,td.q{white-space:nowrap}td.note{min-width:12em}
td.info,td.skipped{color:#57606a}
tr.fail td{background:#fff1f0}
.case{break-inside:auto}.case h3{font-size:1em;margin:1.2em 0 .2em}
.case p{margin:.2em 0;font-size:.9em}
.sign td{height:2.2em;min-width:14em}
@media print{
 @page{margin:14mm 12mm}
 body{max-width:none;margin:0;padding:0;font-size:9pt;line-height:1.3}
 .scroll{overflow:visible}
 table{font-size:7.5pt;width:100%;table-layout:auto}
 th,td{white-space:normal;overflow-wrap:break-word;padding:.1em .3em}
 td.n{white-space:nowrap}
 h2,h3{break-after:avoid}tr{break-inside:avoid}
 p.verdict{-webkit-print-color-adjust:exact;print-color-adjust:exact}
 tr.fail td{-webkit-print-color-adjust:exact;print-color-adjust:exact}
}
"""


def _css() -> str:
    from . import report
    base = getattr(report, "CSS", None) or report._CSS
    return base + _CSS_VALIDATION


def _e(s) -> str:
    return html.escape("" if s is None else str(s), quote=False)


def to_html(v: Validation) -> str:
    """The validation record as one self-contained, printable HTML page."""
    env = v.environment
    ok = v.passed
    lib = env["library"]
    title = "quorvex validation record"
    parts = ["<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
             '<meta name="viewport" content="width=device-width, initial-scale=1">',
             f"<title>{title}</title><style>{_css()}</style></head><body>",
             f"<h1>{title}</h1>",
             f'<p class="meta">Installation and operational qualification of the quorvex '
             f'package and library · {_e(env["date"])}</p>',
             f'<p class="verdict {"pass" if ok else "fail"}">{_e(verdict_text(v))}</p>']
    rows = [("Laboratory", env.get("laboratory") or "—"),
            ("Operator", env.get("operator") or "—"),
            ("Date (UTC)", env["date"]),
            ("quorvex package", f'{env["package"]["version"]} at {env["package"]["path"]}'),
            ("Library file", lib["file"] + (f' (loaded as {lib["path"]})'
                                            if lib["file"] != lib["path"] else "")
             + f' · found by {lib["found_by"]} · {lib["bytes"]} bytes'),
            ("Library SHA-256", lib["sha256"]),
            ("Library version", (lib["version"] or "—") + f' ({lib["version_from"]})'),
            ("Platform", f'{env["platform"]} · host {env["host"]}'),
            ("Processor", f'{env["processor"]} ({env["machine"]})'),
            ("Python", env["python"]),
            ("numpy / scipy", f'{env["numpy"]} / {env["scipy"] or "not installed"}'),
            ("Reference data", env["reference_data"]),
            ("Run time", f"{v.seconds:.1f} s")]
    lab = env.get("lab_library")
    if lab:
        rows[7:7] = [("Laboratory library file", lab["file"] + f' · found by {lab["found_by"]} · '
                      f'{lab["bytes"]} bytes'),
                     ("Laboratory library SHA-256", lab["sha256"]),
                     ("Laboratory library version",
                      (lab["version"] or "—") + f' ({lab["version_from"]})')]
    if env.get("test_perturbation"):
        rows.append(("TEST-ONLY PERTURBATION", f'{PERTURBATION_VARIABLE}='
                     f'{env["test_perturbation"]}: the library\'s fitted coefficients were '
                     "deliberately altered; this record is not a validation"))
    parts.append("<h2>What was validated</h2>")
    parts.append('<div class="scroll"><table class="env"><tbody>' + "".join(
        f'<tr><td class="t">{_e(k)}</td><td class="t{" hash" if "SHA" in k else ""}">'
        f"{_e(val)}</td></tr>" for k, val in rows) + "</tbody></table></div>")
    parts.append(
        "<p>The cases below run through the package's public functions and the shared "
        "library it loaded, exercising all six entry points (OLSPFIT, GLSPFIT, POLYEVAL, "
        "IPVAL, IPVAL_DEGREE1, LINEAR_CONV), and compare each result with certified, "
        "published or independently computed values. Each case states its acceptance "
        "criterion and why it is what it is.</p>")
    parts.append("<h2>Summary</h2>")
    parts.append('<div class="scroll"><table><thead><tr><th>#</th><th class="t">Case</th>'
                 '<th class="t">Acceptance criterion</th><th class="t">Closest to its limit'
                 '</th><th class="t">Verdict</th></tr></thead><tbody>')
    for i, c in enumerate(v.cases, 1):
        st = c.status
        fail = ' class="fail"' if st == "fail" else ""
        parts.append(f'<tr{fail}><td>{i}</td>'
                     f'<td class="t"><a href="#{_e(c.id)}">{_e(c.title)}</a></td>'
                     f'<td class="t">{_e(c.criterion)}</td><td class="t">{_e(c.worst())}</td>'
                     f'<td class="t {st}">{st.upper()}</td></tr>')
    parts.append("</tbody></table></div>")
    parts.append("<h2>How agreement is measured</h2><ul>" + "".join(
        f"<li><b>{_e(k)}</b>: {_e(t)}</li>" for k, t in (
            ("digits", DEFINITIONS["digits"]), ("u", DEFINITIONS["u"]),
            ("|Δ|", DEFINITIONS["abs"]), ("%", "relative difference, " + DEFINITIONS["rel"])))
        + "</ul>")
    parts.append("<h2>Cases</h2>")
    for i, c in enumerate(v.cases, 1):
        parts.append(_case_html(i, c))
    parts.append("<h2>Review</h2>"
                 '<div class="scroll"><table class="sign"><tbody>'
                 '<tr><td class="t">Performed by</td><td class="t"></td><td class="t">Date'
                 '</td><td class="t"></td></tr>'
                 '<tr><td class="t">Reviewed and approved by</td><td class="t"></td>'
                 '<td class="t">Date</td><td class="t"></td></tr></tbody></table></div>')
    parts.append("</body></html>\n")
    return "\n".join(parts)


def _case_html(i: int, c: Case) -> str:
    st = c.status
    out = [f'<div class="case" id="{_e(c.id)}"><h3>{i}. {_e(c.title)} — '
           f'<span class="{st}">{st.upper()}</span></h3>']
    for label, text in (("Source", c.source), ("Method", c.method),
                        ("Criterion", c.criterion), ("Why this criterion", c.reason)):
        if text:
            out.append(f"<p><b>{label}:</b> {_e(text)}</p>")
    if c.files:
        out.append("<p><b>Reference files:</b> " + "; ".join(
            f'{_e(f["file"])} (SHA-256 {_e(f["sha256"][:16])}…)' for f in c.files) + "</p>")
    if c.error:
        out.append(f'<p class="fail"><b>Error:</b> {_e(c.error)}</p>')
    if c.skipped:
        out.append(f"<p><b>Not run:</b> {_e(c.skipped)}</p>")
    if c.checks:
        out.append('<div class="scroll"><table><thead><tr><th class="t">Quantity</th>'
                   "<th>Reference</th><th>Obtained</th><th>Agreement</th><th>Required</th>"
                   '<th class="t">Verdict</th><th class="t">Note</th></tr></thead><tbody>')
        for k in c.checks:
            if k.informative:
                verdict, cls = "info", "info"
            else:
                verdict = "pass" if k.passed else "FAIL"
                cls = "pass" if k.passed else "fail"
            ref = k.reference_text or _g(k.reference)
            fail = ' class="fail"' if cls == "fail" else ""
            out.append(f'<tr{fail}>'
                       f'<td class="t q">{_e(k.quantity)}</td><td class="n">{_e(ref)}</td>'
                       f'<td class="n">{_e(_g(k.obtained))}</td>'
                       f'<td class="n">{_e(_agreement_text(k))}</td>'
                       f'<td class="n">{_e(_required_text(k))}</td>'
                       f'<td class="t {cls}">{verdict}</td><td class="t note">{_e(k.note)}</td></tr>')
        out.append("</tbody></table></div>")
    out.append("</div>")
    return "\n".join(out)


# ----------------------------------------------------------------------------
# The command line: 'quorvex validate'

def command(args) -> int:
    """Run ``quorvex validate``; returns the exit status (0 all passed, 1 a case failed
    or an error)."""
    from .errors import QuorvexError
    prog = "quorvex"
    try:
        v = validate(Path(args.out) if args.out else Path("."), operator=args.operator,
                     laboratory=args.laboratory, overwrite=args.force)
    except QuorvexError as e:
        print(f"{prog}: error: {' '.join(str(e).split())}", file=sys.stderr)
        return 1
    except OSError as e:
        where = f"{e.filename}: " if e.filename else ""
        print(f"{prog}: error: {where}{e.strerror or e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print(f"{prog}: interrupted", file=sys.stderr)
        return 130
    out = Path(args.out) if args.out else Path(".")
    if args.quiet:
        print(verdict_text(v))
    else:
        print(v.summary())
        print(f"wrote {out / 'validation.html'}, {out / 'validation.json'}")
    if not v.passed:
        for c in v.failed:
            print(f"{prog}: validation failed: {c.title}: {c.worst()}", file=sys.stderr)
        if v.environment.get("test_perturbation"):
            print(f"{prog}: {PERTURBATION_VARIABLE} is set (test only)", file=sys.stderr)
        return 1
    return 0
