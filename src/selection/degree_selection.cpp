// Choosing the degree of a calibration curve: the lowest adequate degree
// that the next candidate does not improve.
//
// Each fitted candidate d (ncoef k = d + 1, dof = n - k):
//   adequacy: it has degrees of freedom and its goodness-of-fit test is not
//     rejected at 5 %: with stated uncertainties the chi2 test,
//     p = P(chi2_dof >= chi2); without them the lack-of-fit F test where x
//     has replicates (verdicts/goodness.cpp), else no test (adequate);
//   the terms added since the previous fitted candidate (Delta k of them):
//     stated, Delta chi2 = chi2_prev - chi2 against chi2 with Delta k dof;
//     otherwise the extra-sum-of-squares F = (Delta chi2 / Delta k) /
//     (chi2 / dof) against F(Delta k, dof) (Draper and Smith 6.2;
//     selection/added_term.cpp, which the verdict's shape test shares);
//   Akaike's criterion: chi2 + 2k stated (-2 log L up to a constant), and
//     n ln(chi2 / n) + 2k where the scale is estimated.
// The recommendation is the lowest adequate candidate whose successor's
// terms are not significant at 5 %; where none is, the smallest AIC among
// candidates with degrees of freedom; where none has any, the lowest.
#include "selection/degree_selection.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quorvex_lab.h"
#include "selection/added_term.h"
#include "selection/candidate_fit.h"
#include "verdicts/goodness.h"
#include "stats/distributions.h"

namespace quorvex::lab {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

int check(const SelectionData& d, const SelectionRows& rows) {
  if (d.npts < 1 || d.ncand < 1) return QVXL_BAD_COUNT;
  if (d.fitmode < 0 || d.fitmode > 1) return QVXL_BAD_CODE;
  if (d.fitmode == 0 &&
      (!(d.xmin < d.xmax) || !std::isfinite(d.xmin) || !std::isfinite(d.xmax)))
    return QVXL_BAD_INTERVAL;
  for (int i = 0; i < d.ncand; ++i) {
    if (d.degrees[i] < 0 || d.degrees[i] > 9) return QVXL_BAD_NCOEF;
    if (i > 0 && d.degrees[i] <= d.degrees[i - 1]) return QVXL_BAD_VALUE;
    if (d.fitmode == 1 && rows.fitstat[i] == 0 && !(rows.chi2[i] >= 0.0)) return QVXL_BAD_VALUE;
  }
  for (int i = 0; i < d.npts; ++i)
    if (!std::isfinite(d.x[i]) || !std::isfinite(d.y[i]) || !(d.w[i] > 0.0) ||
        std::isinf(d.w[i]))
      return QVXL_BAD_VALUE;
  return QVXL_OK;
}

}  // namespace

int SELECT(const SelectionData& d, const SelectionRows& rows, int& best, int& reason) {
  if (const int st = check(d, rows); st != QVXL_OK) return st;
  const double n = d.npts;
  int prev = -1, nfitted = 0;
  for (int i = 0; i < d.ncand; ++i) {
    const int k = d.degrees[i] + 1;
    if (d.fitmode == 0)
      rows.fitstat[i] = candidate_fit(d.npts, d.x, d.y, d.w, k, d.xmin, d.xmax, rows.chi2[i]);
    rows.dof[i] = d.npts - k;
    rows.gofp[i] = rows.termstat[i] = rows.termp[i] = rows.aic[i] = kNaN;
    if (rows.fitstat[i] != 0) {
      rows.goftest[i] = -1;
      if (d.fitmode == 1) rows.chi2[i] = kNaN;
      continue;
    }
    ++nfitted;
    const double chi2 = rows.chi2[i];
    const int dof = rows.dof[i];
    if (d.stated) {
      rows.goftest[i] = 1;
      if (dof > 0) rows.gofp[i] = upper_tail(Dist::ChiSquared, chi2, dof);
      rows.aic[i] = chi2 + 2 * k;
    } else {
      FitRecord fit;
      fit.ncoef = k;
      fit.chi2 = chi2;
      fit.npts = d.npts;
      fit.x = d.x;
      fit.y = d.y;
      fit.w = d.w;
      fit.kind = d.fitmode == 0 ? 0 : 1;  // errors in variables: no lack-of-fit test
      const LackOfFit lof = lack_of_fit(fit);
      rows.goftest[i] = lof.applies ? 2 : 0;
      if (lof.applies) rows.gofp[i] = lof.p;
      if (chi2 > 0.0) rows.aic[i] = n * std::log(chi2 / n) + 2 * k;
    }
    if (prev >= 0) {
      const AddedTerm t = added_term_test(rows.chi2[prev], chi2, k - (d.degrees[prev] + 1),
                                          dof, d.stated);
      rows.termstat[i] = t.statistic;
      rows.termp[i] = t.p;
    }
    prev = i;
  }
  if (nfitted == 0) return QVXL_SEL_NONE_FITTED;

  // The lowest adequate candidate not improved by the next fitted one.
  for (int i = 0; i < d.ncand; ++i) {
    if (rows.fitstat[i] != 0) continue;
    int next = i + 1;
    while (next < d.ncand && rows.fitstat[next] != 0) ++next;
    // Without degrees of freedom nothing shows a curve adequate; with them and
    // no test that applies (p NaN), it counts as adequate.
    const bool adequate = rows.dof[i] > 0 && !(rows.gofp[i] < kSelectionAlpha);
    const bool significant = next < d.ncand && rows.termp[next] < kSelectionAlpha;
    if (adequate && !significant) {
      best = d.degrees[i];
      reason = next < d.ncand ? kReasonNotImproved : kReasonHighest;
      return QVXL_OK;
    }
  }
  // The smallest AIC among candidates with degrees of freedom (the first of
  // equal ones), else the lowest fitted candidate.
  int pick = -1;
  for (int i = 0; i < d.ncand; ++i) {
    if (rows.fitstat[i] != 0 || rows.dof[i] <= 0 || !std::isfinite(rows.aic[i])) continue;
    if (pick < 0 || rows.aic[i] < rows.aic[pick]) pick = i;
  }
  if (pick >= 0) {
    best = d.degrees[pick];
    reason = kReasonAic;
    return QVXL_OK;
  }
  for (int i = 0; i < d.ncand; ++i) {
    if (rows.fitstat[i] == 0) {
      best = d.degrees[i];
      reason = kReasonNoDof;
      break;
    }
  }
  return QVXL_OK;
}

}  // namespace quorvex::lab
