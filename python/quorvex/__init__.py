"""quorvex: calibration curves with uncertainties.

Fit standards with :func:`fit`, which returns a :class:`Calibration`; evaluate it
(``cal(x)``, ``cal.evaluate(x, uncertainty=True)``) and read measured responses
back into x with ``cal.inverse(y, u_y)``, an :class:`InversePrediction` whose
``cov`` is the joint covariance of the predictions.

    >>> import quorvex
    >>> cal = quorvex.fit([0, 1, 2, 3, 4], [0.1, 1.0, 2.1, 2.9, 4.0], u_y=0.1)
    >>> pred = cal.inverse([1.5, 2.5], u_y=0.1)
"""
from ._version import version as _version
from .calibration import Calibration
from .correlated import (CorrelatedCalibration, CorrelatedPrediction, Correlations,
                         fit_correlated)
from .curve import Line, PowerSeries
from .errors import ConvergenceWarning, FitError, InputError, QuorvexError
from .fitting import default_interval, default_tolerances, fit
from .inverse import InversePrediction
from .diagnostics import (AcceptanceCriteria, BackCalculated, Band, DetectionLimits,
                          Diagnostics, LackOfFit, Outlier)
from .montecarlo import MonteCarloPrediction
from .selection import DegreeSelection, select_degree
from .variance import VarianceModel, blank_scatter, fit_variance

__version__ = _version()


def __getattr__(name):
    # The validation (its reference cases, the record's HTML) is loaded when first
    # asked for: a fit, a report or a reading never pays for it.
    if name in ("Validation", "validate"):
        from . import validation
        return getattr(validation, name)
    raise AttributeError(f"module 'quorvex' has no attribute {name!r}")

__all__ = ["Calibration", "ConvergenceWarning", "FitError", "InputError", "InversePrediction",
           "Line", "PowerSeries", "QuorvexError", "__version__", "default_interval",
           "default_tolerances", "fit",
           "AcceptanceCriteria", "BackCalculated", "Band", "DegreeSelection", "DetectionLimits",
           "Diagnostics", "LackOfFit", "MonteCarloPrediction", "Outlier", "select_degree",
           "Validation", "validate", "VarianceModel", "blank_scatter", "fit_variance",
           "Correlations", "CorrelatedCalibration", "CorrelatedPrediction", "fit_correlated"]
