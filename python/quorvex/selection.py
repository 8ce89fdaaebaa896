"""Choosing the degree of a calibration curve.

``select_degree`` fits every candidate degree and recommends the lowest adequate one:

* adequate: it has degrees of freedom left and its goodness-of-fit test is not
  rejected at 5 % -- the chi2 test of the stated uncertainties when u_y was given, else
  the lack-of-fit F test when the x values have replicates, else no test (every degree
  with degrees of freedom counts as adequate);
* and the next candidate's added terms are not significant at 5 % -- with stated
  uncertainties the chi2 difference test, Delta chi2 = chi2_d - chi2_(d+1) against
  chi2 with Delta ncoef degrees of freedom; otherwise the F test
  F = (Delta chi2 / Delta ncoef) / (chi2_(d+1) / dof_(d+1)) against F(Delta ncoef,
  dof_(d+1)).

Where no degree meets both, the degree with the smallest information criterion among
those with degrees of freedom is recommended, and the reason says so.  The criterion
is Akaike's: AIC = chi2 + 2 ncoef with stated uncertainties (-2 log L up to a
constant), and n ln(chi2/n) + 2 ncoef when the scale of the scatter is estimated.
"""
from __future__ import annotations

import math
from dataclasses import dataclass

from .errors import InputError, QuorvexError

ALPHA = 0.05


@dataclass(frozen=True)
class DegreeRow:
    """One candidate: its fit's chi2 and dof, the goodness-of-fit test (``gof_test``:
    "chi2", "lack of fit" or "none", with ``gof_p``), the test of the terms added since
    the previous candidate (``term_stat``, ``term_p``; NaN for the first), and ``aic``."""

    degree: int
    chi2: float
    dof: int
    gof_test: str
    gof_p: float
    term_stat: float
    term_p: float
    aic: float


@dataclass(frozen=True, eq=False)
class DegreeSelection:
    """The table of candidates, the recommended degree and why.

    Attributes
    ----------
    rows : tuple of DegreeRow
    recommended : int
    reason : str
    calibrations : dict
        The fitted Calibration of each candidate degree.
    skipped : dict
        Degrees that could not be fitted, with the error message.
    """

    rows: tuple
    recommended: int
    reason: str
    calibrations: dict
    skipped: dict

    @property
    def calibration(self):
        """The recommended degree's calibration."""
        return self.calibrations[self.recommended]

    def summary(self) -> str:
        term = "delta chi2" if self.rows and self.rows[0].gof_test == "chi2" else "F (added)"
        lines = [f"  {'degree':>6} {'chi2':>11} {'dof':>4} {'fit test':>11} {'p':>8} "
                 f"{term:>11} {'p':>8} {'AIC':>10}"]
        def num(v, width, fmt):
            return f"{'-':>{width}}" if math.isnan(v) else f"{v:>{width}{fmt}}"

        for r in self.rows:
            mark = "  <- recommended" if r.degree == self.recommended else ""
            lines.append(f"  {r.degree:>6} {r.chi2:>11.5g} {r.dof:>4} {r.gof_test:>11} "
                         f"{num(r.gof_p, 8, '.3g')} {num(r.term_stat, 11, '.4g')} "
                         f"{num(r.term_p, 8, '.3g')} {num(r.aic, 10, '.4g')}{mark}")
        for d, why in self.skipped.items():
            lines.append(f"  {d:>6} not fitted: {why}")
        lines.append(f"  recommended degree {self.recommended}: {self.reason}")
        return "\n".join(lines)

    def __str__(self) -> str:
        return self.summary()


def select_degree(x, y, u_y=None, u_x=None, degrees=range(1, 6), **fit_options) -> DegreeSelection:
    """Fit each degree in ``degrees`` and recommend the lowest adequate one (the rule is in
    this module's description).

    Parameters
    ----------
    x, y, u_y, u_x
        As for :func:`quorvex.fit`.
    degrees : iterable of int
        Candidate degrees (sorted; each at most 9).
    **fit_options
        Passed to :func:`quorvex.fit` (e.g. ``weighting``, ``interval``).

    Returns
    -------
    DegreeSelection

    Raises
    ------
    InputError
        No candidate degree, or none that could be fitted.
    """
    from . import _lab, _lab_limits
    from .fitting import fit
    cands = sorted({int(d) for d in degrees})
    if not cands:
        raise InputError("degrees must name at least one degree")
    cals, skipped = {}, {}
    for d in cands:
        try:
            cals[d] = fit(x, y, u_y=u_y, u_x=u_x, degree=d, **fit_options)
        except QuorvexError as e:
            skipped[d] = str(e)
    if not cals:
        raise InputError("no candidate degree could be fitted: "
                         + "; ".join(f"{d}: {m}" for d, m in skipped.items()))
    # The tests, the criterion and the rule are the library's (QVXL_SELECT).  It fits
    # the ordinary candidates itself on the standards, weights and interval of these
    # fits; the errors-in-variables fits' chi2 are passed to it.
    first = next(iter(cals.values()))
    fitted = list(cals)
    if first.kind == "ols":
        r = _lab_limits.select(first.x, first.y, first.weights, u_y is not None,
                               first.interval, fitted)
    else:
        r = _lab_limits.select(first.x, first.y, first.weights, True, None, fitted,
                               chi2=[float(cals[d].chi2) for d in fitted],
                               fitstat=[0] * len(fitted))
    if r["istat"] != 0:
        raise InputError(f"degree selection: {_lab.status_text(r['istat'])}")
    rows = []
    for i, d in enumerate(fitted):
        if r["fitstat"][i] != 0:
            raise QuorvexError(f"degree {d}: the library's fit failed with status "
                               f"{int(r['fitstat'][i])} where the package's succeeded")
        rows.append(DegreeRow(d, float(r["chi2"][i]), int(r["dof"][i]),
                              _lab_limits.GOF_TEST[int(r["goftest"][i])], float(r["gofp"][i]),
                              float(r["termstat"][i]), float(r["termp"][i]),
                              float(r["aic"][i])))
    recommended = r["best"]
    at = fitted.index(recommended)
    row = rows[at]
    nxt = rows[at + 1] if at + 1 < len(rows) else None
    if r["reason"] in (1, 2):
        gof = (" (no goodness-of-fit test applies)" if row.gof_test == "none" else
               f" passing the {row.gof_test} test (p = {row.gof_p:.3g} >= {ALPHA:g})")
        nxt_text = ("it is the highest candidate" if nxt is None else
                    f"the terms of degree {nxt.degree} are not significant "
                    f"(p = {nxt.term_p:.3g})")
        reason = f"the lowest degree{gof} that the next does not improve: {nxt_text}"
    elif r["reason"] == 3:
        reason = ("no degree is both adequate and not improved by the next; the smallest "
                  f"AIC ({row.aic:.4g}) is at degree {row.degree}")
    else:
        reason = "no candidate has degrees of freedom left to test it: the lowest is given"
    return DegreeSelection(tuple(rows), recommended, reason, cals, skipped)


__all__ = ["DegreeRow", "DegreeSelection", "select_degree"]
