"""The numbers the package derives from its fits (tests/derived_dump.py) are those of
the committed baseline, tests/data/derived-baseline.tsv, within 1e-12 relative.

A quantity that differs is allowed only when tests/data/derived-allowed.tsv names it
(a pattern of the quantity as compare groups it, in which ``*`` stands for any text and
everything else for itself, e.g. ``inverse[*].low``, or ``CASES|QUANTITY`` to allow it in
the matching cases only; the largest relative difference
allowed, or ``scaled:`` and the largest difference relative to each vector's largest
value, for quantities whose values may lie near 0; the reason): the allow-list keeps each allowance and its reason in view.  Regenerate the baseline after a change that is
meant to move the numbers:

    PYTHONPATH=python QUORVEX_LIBRARY=build/libQUORVEXv1.so \\
        python3 tests/derived_dump.py dump tests/data/derived-baseline.tsv
"""
import math
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import derived_dump

REPO = Path(__file__).resolve().parents[2]
BASELINE = REPO / "tests" / "data" / "derived-baseline.tsv"
ALLOWED = REPO / "tests" / "data" / "derived-allowed.tsv"
RTOL = 1e-12


def matches(pattern: str, quantity: str) -> bool:
    return re.fullmatch(".*".join(map(re.escape, pattern.split("*"))), quantity) is not None


def covers(rule, case: str, quantity: str, diff) -> bool:
    """The allow-list line covers this line's difference: its pattern matches the
    quantity (and, written ``CASES|QUANTITY``, the case), and the difference is within
    its limit."""
    pattern, limit, _, scaled = rule
    cases, _, qpattern = pattern.rpartition("|")
    if not matches(qpattern, quantity) or (cases and not matches(cases, case)):
        return False
    return diff[1 if scaled else 0] <= limit


def allowed():
    out = []
    for line in ALLOWED.read_text(encoding="utf-8").splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        pattern, limit, reason = line.split("\t", 2)
        scaled = limit.startswith("scaled:")
        out.append((pattern, float(limit.removeprefix("scaled:")), reason, scaled))
    return out


def test_derived_numbers_match_the_baseline(tmp_path, libpath):
    new = tmp_path / "derived.tsv"
    env = dict(os.environ, PYTHONPATH=str(REPO / "python"), QUORVEX_LIBRARY=libpath)
    subprocess.run([sys.executable, str(REPO / "tests" / "derived_dump.py"), "dump", str(new)],
                   env=env, check=True, capture_output=True, timeout=300)
    groups, missing, extra, a, b = derived_dump.compare(BASELINE, new, RTOL)
    rules = allowed()
    failing = set()
    for key in a.keys() | b.keys():
        if key in a and key in b:
            diff = derived_dump.difference(a[key], b[key])
            if diff is None or not diff[0] > RTOL:
                continue
        else:
            diff = (math.inf, math.inf)
        q = derived_dump.group_key(key[1])
        if not any(covers(r, key[0], q, diff) for r in rules):
            failing.add(q)
    if failing:
        def kept(keys):
            return [k for k in keys if derived_dump.group_key(k[1]) in failing]
        text = derived_dump.report({q: groups[q] for q in failing}, kept(missing), kept(extra),
                                   a, b, RTOL)
        pytest.fail("derived numbers changed:\n" + text, pytrace=False)
    # Differences within the allow-list pass; its lines say why each is allowed.
