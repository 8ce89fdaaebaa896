"""Weighting presets of analytical chemistry for the ordinary fit.

A preset names the weights w_i of the weighted sum of squares sum_i w_i r_i**2
that the fit minimises: "1/x" is w_i = 1/x_i, "1/x2" is w_i = 1/x_i**2.  The
library takes W_i = sqrt(w_i) (it minimises sum_i (W_i r_i)**2), so the weights
passed are W_i = 1/sqrt(x_i) and W_i = 1/x_i.  Such weights fix only the relative
size of the scatter (its variance grows like x or x**2); its scale comes from the
residuals, so a calibration fitted with a preset uses the scaled covariance.
The weights and the response scale come from the laboratory library.
"""
from __future__ import annotations

import numpy as np

from . import _lab_fit
from .errors import InputError

PRESETS = ("1/x", "1/x2")
CODES = {None: 0, "1/x": 1, "1/x2": 2}


def preset_weights(weighting: str, x: np.ndarray, u_y, u_x, routine: str) -> np.ndarray:
    """W_i for ``weighting`` ("1/x": 1/sqrt(x_i); "1/x2": 1/x_i).

    Raises
    ------
    InputError
        An unknown preset, a preset given together with u_y or u_x, or an x that is
        0 or negative (its weight would be infinite or undefined).
    """
    if weighting not in PRESETS:
        raise InputError(f"weighting must be '1/x', '1/x2', '1/y' or '1/y2', not {weighting!r}",
                         routine=routine)
    if u_y is not None or u_x is not None:
        raise InputError("give either u_y (and u_x) or a weighting preset, not both: a preset "
                         "states relative weights, u_y absolute uncertainties", routine=routine)
    if not (x > 0).all():
        i = int(np.flatnonzero(~(x > 0))[0])
        raise InputError(f"weighting {weighting!r} needs every x > 0: element {i} is {x[i]:g}",
                         routine=routine)
    w, st = _lab_fit.weights(CODES[weighting], 1, x)
    if st != 0:
        raise InputError(f"weighting {weighting!r}: {_lab_fit.status_text(st)}", routine=routine)
    return w


def response_scale(weighting: str | None, x: np.ndarray) -> np.ndarray:
    """1/W(x) at new points: the scatter of a response at x relative to SRES."""
    s, st = _lab_fit.weights(CODES.get(weighting, 0), 2, np.asarray(x, dtype=np.float64))
    if st != 0:
        raise InputError(f"response scale: {_lab_fit.status_text(st)}")
    return s
