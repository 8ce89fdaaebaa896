"""Tests run against the package in this source tree and the library it finds
(QUORVEX_LIBRARY, else ../build)."""
import sys
from pathlib import Path

import numpy as np
import pytest

PYTHON_DIR = Path(__file__).resolve().parent.parent
REPO = PYTHON_DIR.parent
sys.path.insert(0, str(PYTHON_DIR))
sys.path.insert(0, str(REPO / "tests"))

import quorvex  # noqa: E402
from quorvex import _clib  # noqa: E402

# The package of this tree is under test, not an installed one.
assert Path(quorvex.__file__).resolve().parent == PYTHON_DIR / "quorvex"


@pytest.fixture(scope="session")
def libpath():
    return str(_clib.library().path)


@pytest.fixture(scope="session")
def raw(libpath):
    """The entry points through the test suite's own ctypes host (no argtypes)."""
    from quorvex_ctypes import Quorvex
    return Quorvex(libpath)


def curve_data(n, coef, u_y, seed, xmin=0.0, xmax=10.0, u_x=None):
    """Standards on a known curve (scaled coefficients ``coef`` on [xmin, xmax]) with
    Gaussian noise of standard deviation u_y (and u_x in x)."""
    from refbasis import basis
    rng = np.random.default_rng(seed)
    x = np.linspace(xmin, xmax, n)
    y = basis(x, len(coef), xmin, xmax) @ np.asarray(coef, float) + u_y * rng.standard_normal(n)
    if u_x is not None:
        x = x + u_x * rng.standard_normal(n)
        x = np.clip(x, xmin, xmax)
    return x, y
