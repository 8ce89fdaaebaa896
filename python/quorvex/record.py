"""A saved calibration record: ``calibration.json`` read back, with the report's results
it carries checked against the calibration beside them."""
from __future__ import annotations

import json

from .calibration import Calibration
from .errors import InputError
from .report import FORMAT, _num


def load(text: str):
    """(Calibration, results or None) from a report's JSON or a plain ``to_json`` text."""
    try:
        d = json.loads(text)
    except ValueError as e:
        raise InputError(f"not a JSON file ({e})") from None
    if not isinstance(d, dict) or d.get("format") != FORMAT:
        raise InputError("not a quorvex calibration (no \"format\": \"quorvex.Calibration\")")
    res = d.pop("results", None)
    try:
        cal = Calibration.from_dict(d)
    except (InputError, KeyError, TypeError, ValueError) as e:
        raise InputError(f"a damaged quorvex calibration ({e})") from None
    _check_results(cal, res)
    return cal, res


def _check_results(cal, res) -> None:
    """The report's results carried in a calibration.json must describe the calibration
    beside them: its fit, and the verdict its criteria give."""
    if res is None:
        return
    bad = "a damaged quorvex calibration: 'results"
    if not isinstance(res, dict):
        raise InputError(f"{bad}' is not a mapping")
    fit = res.get("fit")
    if fit is not None:
        if not isinstance(fit, dict):
            raise InputError(f"{bad}.fit' is not a mapping")
        for k, v in (("chi2", _num(cal.chi2)), ("sres", _num(cal.sres)), ("dof", cal.dof),
                     ("n_points", cal.n_points), ("degree", cal.degree),
                     ("kind", cal.kind), ("covariance", cal.covariance)):
            if k in fit and fit[k] != v:
                raise InputError(f"{bad}.fit.{k}' is {fit[k]!r}, but the calibration gives "
                                 f"{v!r}: the record was edited")
    verdicts = res.get("verdicts")
    if verdicts is None:
        return
    if not isinstance(verdicts, dict) or not isinstance(verdicts.get("criteria"), dict) \
            or not isinstance(verdicts.get("fit_for_use"), bool):
        raise InputError(f"{bad}.verdicts' lacks its criteria or verdict")
    try:
        diag = cal.diagnostics(criteria=verdicts["criteria"])
    except (InputError, TypeError, ValueError) as e:
        raise InputError(f"{bad}.verdicts.criteria' cannot be used ({e})") from None
    if diag.fit_for_use != verdicts["fit_for_use"]:
        said = "fit for use" if verdicts["fit_for_use"] else "not fit for use"
        raise InputError(f"{bad}.verdicts.fit_for_use' says {said}, but the calibration's "
                         "own verdict under the recorded criteria says otherwise: the record "
                         "was edited")
