"""The package's exceptions and warnings (the statuses' words are the laboratory
library's: ``quorvex._lab.status_message``)."""
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
