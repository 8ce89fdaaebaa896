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


# The engine's entry points, as the laboratory library numbers them for their texts.
ROUTINES = ("OLSPFIT", "GLSPFIT", "POLYEVAL", "IPVAL", "LINEAR_CONV", "IPVAL_DEGREE1")


def status_message(routine: str, code: int, **fields) -> str:
    """The status ``code`` of ``routine`` in words: the laboratory library's text
    (``QVXL_TEXT``), its fields filled from the call (reals as ``:g``)."""
    text = None
    if routine in ROUTINES:
        try:
            from . import _lab
            text = _lab.text(10 + ROUTINES.index(routine), int(code))
        except QuorvexError:  # the laboratory library cannot be loaded
            text = None
    if text is None:
        return f"{routine} returned status {code}"
    shown = {k: (f"{v:g}" if isinstance(v, float) else v) for k, v in fields.items()}
    try:
        text = text.format(**shown)
    except (KeyError, ValueError, IndexError):
        pass
    return f"{text} ({routine} status {code})"


def status_error(routine: str, code: int, **fields) -> FitError:
    """A ``FitError`` for status ``code`` of ``routine``."""
    return FitError(status_message(routine, code, **fields), code=code, routine=routine)
