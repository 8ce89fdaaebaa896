"""Mutation fuzzing of ``Calibration.from_json``.

Each mutant is a valid record (one of a few fits of different kinds) changed in one
or a few places: a number nudged by one ulp, made NaN, infinite, negative, zero or
huge; a value of the wrong type; a list shortened, lengthened or nested; a key
removed or added; an enumeration changed; or the JSON text itself cut, spliced or
flipped.  Each is read back, and counted as

* ``refused``: an ``InputError`` (any ``QuorvexError``) - what a damaged record must give;
* ``same``: accepted, and the calibration is the original's in every field but the
  labels (``ids``, ``excluded``'s names and reasons) and options the fit did not act on;
* ``damaged``: accepted with other numbers - must never happen;
* ``crash``: any other exception from ``from_json`` - must never happen;
* ``late``: accepted, then ``summary()``, ``diagnostics()`` or ``inverse()`` failed
  with anything but a ``QuorvexError`` - must never happen.

    python3 python/tests/fuzz_record.py --seconds 600 --seed 1

prints the counts and exits 1 when any of the last three is not 0.  The test suite
runs a fixed number of mutants (tests/test_records_fuzz.py).
"""
from __future__ import annotations

import argparse
import copy
import json
import math
import sys
import time
import traceback
import warnings

import numpy as np

import quorvex
from quorvex import Calibration, QuorvexError

# Fields whose change is a relabelling, not a change of any result.
LABELS = ("ids", "excluded")


def base_records() -> list[str]:
    """A few records of every kind a fit writes."""
    rng = np.random.default_rng(7)
    x = np.linspace(0.5, 10.0, 8)
    y = 3.0 + 2.0 * x + 0.05 * x * x + rng.normal(0, 0.05, x.size)
    out = [
        quorvex.fit(x, y, u_y=0.05, degree=2),
        quorvex.fit(x, y, degree=1),
        quorvex.fit(x, y, degree=1, weighting="1/x"),
        quorvex.fit(x[:3], y[:3], u_y=0.05, degree=2),  # no degrees of freedom
        quorvex.fit(x, y, u_y=0.05, degree=1, ids=[f"S{k}" for k in range(8)],
                    exclude={"S3": "pipetting error"}),
    ]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        out.append(quorvex.fit(x, y, u_y=0.05, u_x=0.02, degree=1))
    return [c.to_json() for c in out]


SPECIALS = [float("nan"), float("inf"), -float("inf"), 0.0, -0.0, -1.0, 1e308, -1e308,
            5e-324, 1e-300, 2.0 ** 31, -(2.0 ** 31), 0.5]
ODD = [None, True, False, "1.0", "", [], {}, [1.0], {"a": 1}, 0, 1, -1, 2 ** 63, 10 ** 400,
       "stated", "gls", "ols", [[1.0]], [None]]


def _paths(v, path=()):
    yield path
    if isinstance(v, dict):
        for k, w in v.items():
            yield from _paths(w, path + (k,))
    elif isinstance(v, list):
        for i, w in enumerate(v):
            yield from _paths(w, path + (i,))


def _get(d, path):
    for p in path:
        d = d[p]
    return d


def _set(d, path, value):
    _get(d, path[:-1])[path[-1]] = value


def _mutate_value(rng, v):
    r = rng.random()
    if isinstance(v, bool) or v is None or isinstance(v, str):
        return copy.deepcopy(ODD[rng.integers(len(ODD))])
    if isinstance(v, (int, float)):
        if r < 0.25:
            return SPECIALS[rng.integers(len(SPECIALS))]
        if r < 0.45 and isinstance(v, float) and math.isfinite(v):
            return float(np.nextafter(v, np.inf if rng.random() < 0.5 else -np.inf))
        if r < 0.6 and abs(v) < 1e300:
            return v * float(rng.choice([-1.0, 2.0, 0.5, 1 + 1e-9, 10.0]))
        if r < 0.75 and isinstance(v, int):
            return v + int(rng.choice([-1, 1, 2, -2, 100]))
        return copy.deepcopy(ODD[rng.integers(len(ODD))])
    if isinstance(v, list):
        w = list(v)
        if r < 0.2 and w:
            w.pop(int(rng.integers(len(w))))
        elif r < 0.4 and w:
            w.append(copy.deepcopy(w[int(rng.integers(len(w)))]))
        elif r < 0.5:
            w = [w]
        elif r < 0.6 and len(w) > 1:
            i, j = rng.choice(len(w), 2, replace=False)
            w[i], w[j] = w[j], w[i]
        elif r < 0.7:
            w = []
        else:
            return copy.deepcopy(ODD[rng.integers(len(ODD))])
        return w
    if isinstance(v, dict):
        w = dict(v)
        if r < 0.4 and w:
            w.pop(list(w)[int(rng.integers(len(w)))])
        elif r < 0.7:
            w[str(rng.choice(["extra", "tol", "maxit", "sigma", "weighting", "x"]))] = \
                copy.deepcopy(ODD[rng.integers(len(ODD))])
        else:
            return copy.deepcopy(ODD[rng.integers(len(ODD))])
        return w
    return None


def mutate(rng, text: str) -> str:
    """One mutant of a record's JSON text."""
    if rng.random() < 0.1:  # the text itself
        b = bytearray(text.encode())
        r = rng.random()
        i = int(rng.integers(len(b)))
        if r < 0.3:
            return b[:i].decode(errors="replace")
        if r < 0.6:
            b[i] = int(rng.integers(32, 127))
        else:
            j = int(rng.integers(len(b)))
            b[i:i] = b[j:j + int(rng.integers(1, 40))]
        return b.decode(errors="replace")
    d = json.loads(text)
    for _ in range(1 + int(rng.integers(3)) if rng.random() < 0.3 else 1):
        paths = [p for p in _paths(d) if p]
        path = paths[int(rng.integers(len(paths)))]
        if rng.random() < 0.08 and len(path) == 1:
            _get(d, path[:-1]).pop(path[-1])
            continue
        _set(d, path, _mutate_value(rng, _get(d, path)))
    return json.dumps(d, allow_nan=True)


def _numbers(cal: Calibration) -> str:
    d = cal.to_dict()
    for k in LABELS:
        d.pop(k, None)
    return json.dumps(d, sort_keys=True)


def classify(text: str, original: Calibration) -> str:
    try:
        cal = Calibration.from_json(text)
    except QuorvexError:
        return "refused"
    except Exception:
        return "crash"
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            cal.summary()
            cal.diagnostics()
            cal.inverse([float(np.mean(cal.y))], u_y="curve-only")
    except QuorvexError:
        pass
    except Exception:
        return "late"
    if _numbers(cal) == _numbers(original):
        return "same"
    return _edit(cal, original)


def _edit(cal: Calibration, original: Calibration) -> str:
    """An accepted record whose numbers differ from the original's: "equivalent" where
    only standards' values or uncertainties differ, and so little that a fit of them
    gives every result of the original bit for bit (a last digit that no computation
    sees, or an iteration limit the fit never reached: only the manifest's hash tells
    such an edit), "tolerated" where an errors-in-variables record lies within the
    documented tolerance of the refit, "choice" where only the covariance choice
    differs (a free choice of the fit, which the record alone cannot tell; the
    command line's results carry it and are checked), else "damaged"."""
    from quorvex.calibration import _close
    a, b = cal.to_dict(), original.to_dict()
    diff = {k for k in a if k not in LABELS and json.dumps(a[k]) != json.dumps(b[k])}
    if diff <= {"x", "y", "u_y", "u_x", "options", "interval"} and \
            _numbers_without(cal, diff) == _numbers_without(original, diff):
        return "equivalent"
    if "covariance" in diff and diff <= {"covariance", "x", "y", "u_y", "u_x", "options",
                                         "interval"} and \
            _numbers_without(cal, diff) == _numbers_without(original, diff):
        return "choice"  # with, at most, edits below the fit's resolution as above
    if cal.kind == "gls" and original.kind == "gls":
        # Every number within the documented tolerance of the original's (standards and
        # uncertainties within a few ulps, which move the refit less than that).
        u = np.sqrt(np.diag(original.cov))
        su = np.sqrt(np.diag(original.cov_scaled))
        scales = {"coef": u, "cov": np.outer(u, u), "cov_scaled": np.outer(su, su)}
        inputs = {"x", "y", "u_y", "u_x", "weights", "x_weights", "interval"}

        def near(k):
            a, b = getattr(cal, k), getattr(original, k)
            if k in inputs:
                a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
                return a.shape == b.shape and bool(np.all(np.abs(a - b) <= 8 * np.spacing(
                    np.abs(b))))
            return _close(a, b, scales.get(k, np.abs(np.asarray(b, dtype=float)) + 1.0))
        free = {"iterations", "evaluations", "rinfo", "options"}
        if not diff & {"status", "notes", "kind", "covariance"} and \
                all(near(k) for k in diff - free):
            return "tolerated"
    return "damaged"


def _numbers_without(cal, names) -> str:
    d = cal.to_dict()
    for k in (*LABELS, *names):
        d.pop(k, None)
    return json.dumps(d, sort_keys=True)


def run(n: int | None = None, seconds: float | None = None, seed: int = 1,
        show: int = 3) -> dict:
    rng = np.random.default_rng(seed)
    bases = base_records()
    originals = [Calibration.from_json(t) for t in bases]
    counts = {"refused": 0, "same": 0, "equivalent": 0, "tolerated": 0, "choice": 0,
              "damaged": 0, "crash": 0, "late": 0}
    shown = 0
    stop = None if seconds is None else time.monotonic() + seconds
    k = 0
    while (n is None or k < n) and (stop is None or time.monotonic() < stop):
        i = int(rng.integers(len(bases)))
        text = mutate(rng, bases[i])
        what = classify(text, originals[i])
        counts[what] += 1
        if what in ("damaged", "crash", "late") and shown < show:
            shown += 1
            diff = ""
            if what == "damaged":
                a = Calibration.from_json(text).to_dict()
                b = originals[i].to_dict()
                diff = ", ".join(f"{k}: {b[k]!r:.80} -> {a[k]!r:.80}" for k in a
                                 if k not in LABELS and json.dumps(a[k]) != json.dumps(b[k]))
            print(f"--- {what} (base {i}): {diff or text[:2000]}", file=sys.stderr)
            if what != "damaged":
                try:
                    c = Calibration.from_json(text)
                    c.summary(), c.diagnostics()
                    c.inverse([float(np.mean(c.y))], u_y="curve-only")
                except Exception:
                    traceback.print_exc()
        k += 1
    counts["mutants"] = k
    return counts


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--seconds", type=float, default=None)
    p.add_argument("-n", type=int, default=None)
    p.add_argument("--seed", type=int, default=1)
    a = p.parse_args(argv)
    counts = run(a.n, a.seconds if a.seconds is not None or a.n is not None else 60, a.seed)
    print(" ".join(f"{k} {v}" for k, v in counts.items()))
    return 1 if counts["damaged"] or counts["crash"] or counts["late"] else 0


if __name__ == "__main__":
    sys.exit(main())
