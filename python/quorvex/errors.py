"""The package's exceptions and warnings, and the statuses of the entry points in words."""
from __future__ import annotations


class QuorvexError(Exception):
    """Any failure of a quorvex call.

    Attributes
    ----------
    code : int or None
        The entry point's status, or None when the input was refused before the call.
    routine : str or None
        The entry point ("OLSPFIT", "GLSPFIT", "POLYEVAL", "IPVAL", "LINEAR_CONV",
        "IPVAL_DEGREE1") whose status this is, or that the input was meant for.
    """

    def __init__(self, message: str, code: int | None = None, routine: str | None = None):
        super().__init__(message)
        self.code = code
        self.routine = routine


class InputError(QuorvexError, ValueError):
    """Input refused before it reached the library (also a ``ValueError``)."""


class FitError(QuorvexError, RuntimeError):
    """A fit, evaluation or inversion that the library could not complete."""


class ConvergenceWarning(UserWarning):
    """An errors-in-variables fit ended with a status a user should look at."""


# Messages by routine and status.  "{...}" fields are filled from the call.
_OLS = {
    1: "a curve needs at least 1 coefficient (degree >= 0)",
    2: "{npts} standards cannot determine {ncoef} coefficients",
    3: "at most 10 coefficients (degree 9) can be fitted, not {ncoef}",
    4: "every weight must be positive (u_y > 0)",
    5: "the interval must have xmin < xmax, not [{xmin:g}, {xmax:g}]",
    6: "the interval [{xmin:g}, {xmax:g}] starts above the smallest x",
    7: "the interval [{xmin:g}, {xmax:g}] ends below the largest x",
    21: "the QR factorization of the design failed",
    22: "applying the QR factor to the responses failed",
    23: "the design is singular (too few distinct x values for the degree?)",
    24: "the design is too badly conditioned (too few distinct x values for the degree, "
        "or an interval much wider than the data?)",
    999: "the library could not obtain working storage",
}
_GLS = {
    1: "iteration limit reached; the last step was below the step tolerance",
    2: "iteration limit reached; only the residual change was below its tolerance",
    3: "the line search gave up",
    4: "iteration limit reached before convergence (raise maxit, or loosen tol)",
    5: "evaluation limit reached before convergence (raise maxit, or loosen tol)",
    21: "{npts} standards cannot determine {ncoef} coefficients",
    25: "a scaled x weight underflowed to zero (u_x spans too many orders of magnitude)",
    26: "a scaled y weight underflowed to zero (u_y spans too many orders of magnitude)",
    35: "both tolerances must be positive",
    36: "the iteration limit must be at least 1",
    44: "every x weight must be positive (u_x > 0)",
    -1: "internal size mismatch of the fit workspace",
    -101: "an adjusted abscissa left the interval [{xmin:g}, {xmax:g}]; give a wider interval",
    -2: "the least-squares solve of a Gauss-Newton step failed",
    -3: "the gradient product failed",
    999: "the library could not obtain working storage",
}
_EVAL = {
    1: "the interval must have xmin < xmax, not [{xmin:g}, {xmax:g}]",
    2: "a point lies below the curve's interval [{xmin:g}, {xmax:g}]",
    3: "a point lies above the curve's interval [{xmin:g}, {xmax:g}]",
    999: "the library could not obtain working storage",
}
_IPVAL = {
    1: "the interval must have xmin < xmax, not [{xmin:g}, {xmax:g}]",
    2: "a constant curve (degree 0) has no inverse",
    3: "ngrid must be at least 1",
    999: "the library could not obtain working storage",
}
_LINE = {
    1: "the interval must have xmin < xmax, not [{xmin:g}, {xmax:g}]",
    999: "the library could not obtain working storage",
}
MESSAGES = {"OLSPFIT": _OLS, "GLSPFIT": _GLS, "POLYEVAL": _EVAL, "IPVAL": _IPVAL,
            "LINEAR_CONV": _LINE, "IPVAL_DEGREE1": _LINE}


def status_message(routine: str, code: int, **fields) -> str:
    """The status ``code`` of ``routine`` in words."""
    text = MESSAGES.get(routine, {}).get(code)
    if text is None:
        return f"{routine} returned status {code}"
    try:
        text = text.format(**fields)
    except (KeyError, ValueError, IndexError):
        pass
    return f"{text} ({routine} status {code})"


def status_error(routine: str, code: int, **fields) -> FitError:
    """A ``FitError`` for status ``code`` of ``routine``."""
    return FitError(status_message(routine, code, **fields), code=code, routine=routine)
