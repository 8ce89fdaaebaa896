#include "messages/texts.h"

#include <cstddef>

#include "quorvex_lab.h"

namespace quorvex::lab {

namespace {

struct Entry {
  int code;
  const char* text;
};

constexpr Entry kStatus[] = {
    {QVXL_OK, "success"},
    {QVXL_BAD_NCOEF, "the curve's number of coefficients is out of range"},
    {QVXL_BAD_INTERVAL, "the curve's interval is empty or not finite"},
    {QVXL_BAD_COUNT, "a count is below its least value"},
    {QVXL_BAD_CODE, "an unknown code"},
    {QVXL_BAD_VALUE, "a value is NaN, infinite or out of range"},
    {QVXL_UY_STATED_STANDARDS,
     "the standards carry stated uncertainties that set the scale, so a sample's response "
     "uncertainty is not known from their scatter (with the covariance scaled, give the "
     "sample's relative u(y))"},
    {QVXL_UY_NO_DOF,
     "the fit has no degrees of freedom, so the scatter of a reading is not known"},
    {QVXL_FIT_X_NOT_POSITIVE, "a weighting preset needs every x > 0"},
    {QVXL_FIT_UX_WITHOUT_UY, "u(x) needs u(y) too (the errors-in-variables fit weighs both)"},
    {QVXL_FIT_PRESET_WITH_U,
     "give either stated uncertainties or a weighting preset, not both: a preset states "
     "relative weights, u(y) absolute uncertainties"},
    {QVXL_FIT_NO_SPREAD, "the standards share one x: the curve's interval would be empty"},
    {QVXL_FIT_OUTSIDE, "a standard lies outside the given interval"},
    {QVXL_FIT_WEIGHT_OVERFLOW, "a weight 1/u overflows: an uncertainty is too small"},
    {QVXL_FIT_OLS_FAILED, "the weighted least-squares fit was refused"},
    {QVXL_FIT_UNCONVERGED,
     "the errors-in-variables fit stopped at its iteration or evaluation limit"},
    {QVXL_FIT_GLS_FAILED, "the errors-in-variables fit failed"},
    {QVXL_FIT_SCALE_OVERFLOW,
     "the residual scatter is too large to square in double precision: rescale the responses"},
    {QVXL_CURVE_OUTSIDE, "a point lies outside the curve's interval"},
    {QVXL_CURVE_UY_DIFFER,
     "the standards' u(y) differ, so the response uncertainty at new points is not known: "
     "give it"},
    {QVXL_CURVE_NO_DOF, "the scaled covariance needs degrees of freedom: this fit has none"},
    {QVXL_VERDICT_DOF_MISMATCH,
     "the fit's degrees of freedom differ from the number of standards less the number of "
     "coefficients"},
    {QVXL_VERDICT_BAD_WEIGHT, "a weight is not positive and finite"},
    {QVXL_VERDICT_BAD_CRITERIA, "an acceptance criterion is out of range"},
    {QVXL_PRESET_UNKNOWN, "an unknown acceptance criteria preset"},
    {QVXL_PRESET_BAD_RULE,
     "a rule of the acceptance criteria is out of range: the least number of levels is a "
     "whole number >= 0, the largest relative standard error a number > 0"},
    {QVXL_LIM_BLANK_FAR,
     "the blank lies more than a quarter of the interval's width outside the standards"},
    {QVXL_LIM_BLANK_UNKNOWN,
     "the standards' u_y differ, so the blank's response uncertainty is not known"},
    {QVXL_LIM_NO_DOF, "the scaled covariance needs degrees of freedom: this fit has none"},
    {QVXL_SEL_NONE_FITTED, "no candidate degree could be fitted"},
    {QVXL_MC_COV_NOT_FINITE,
     "the coefficient covariance is not finite (a scaled covariance without degrees of "
     "freedom?)"},
    {QVXL_MC_COV_INDEFINITE, "the coefficient covariance is not positive semidefinite"},
    {QVXL_VAR_FEW_REPLICATES,
     "too few standards with replicates to fit the variance model (1 group for the constant "
     "or proportional model, 3 otherwise)"},
    {QVXL_VAR_NO_SCATTER, "the replicate readings are all equal: there is no scatter to model"},
    {QVXL_VAR_IMPOSSIBLE,
     "the variance model gives no scatter where replicates scatter (x = 0 under the "
     "proportional model, a mean response of 0 under the power of the mean)"},
    {QVXL_VAR_ZERO_AT_STANDARD,
     "the variance model gives no scatter at a standard, whose weight would be infinite: keep "
     "a blank standard only under a model with a floor"},
    {QVXL_VAR_BAD_WEIGHT,
     "a response of 0 under a 1/y weighting, or a weight that is not positive and finite: "
     "its weight would be infinite or undefined"},
    {QVXL_WF_BAD_GROUP, "a reading names no sample, or a sample has no reading"},
    {QVXL_WF_NO_SCATTER,
     "the readings cannot be checked against the calibration's scatter: the fit has no "
     "scaled covariance with degrees of freedom; give the laboratory's scatter or limit"},
    {QVXL_WF_BAD_FACTOR,
     "a dilution factor is not above 0 and finite, or its uncertainty is negative"},
    {QVXL_WF_BAD_RANGE, "the reportable range is not finite or runs backwards"},
    {QVXL_GGM_NOT_POSITIVE,
     "the covariance of the standards is not positive definite (or is singular) at the "
     "standard named"},
    {QVXL_GGM_NOT_SYMMETRIC, "the covariance of the standards is not symmetric at the standard "
                             "named"},
    {QVXL_GGM_NO_CONVERGENCE,
     "the fit with correlated standards stopped at its iteration limit before converging"},
    {QVXL_GGM_DEGENERATE,
     "the standards cannot fix the curve: too few distinct x values for its degree"},
    {QVXL_GGM_BAD_CHAIN,
     "a dilution chain does not reach the stock: a parent is out of range or the chain loops"},
    {QVXL_GGM_NO_SPREAD, "the standards share one x: the curve's interval would be empty"},
    {QVXL_GGM_INCONSISTENT,
     "a result's variance comes out negative: the covariances stated for the samples and the "
     "standards do not fit together"},
    {QVXL_NO_STORAGE, "working storage could not be obtained"},
};

constexpr Entry kFlag[] = {
    {QVXL_FLAG_NO_ROOT, "no root in the interval"},
    {QVXL_FLAG_SEVERAL_ROOTS, "{n} roots"},
    {QVXL_FLAG_AT_END, "root at an end of the interval"},
    {QVXL_FLAG_INTERVAL_OPEN, ""},
    {QVXL_FLAG_BELOW_LOWEST, "below the lowest standard{ext}"},
    {QVXL_FLAG_ABOVE_HIGHEST, "above the highest standard: dilute and repeat{ext}"},
    {QVXL_FLAG_BELOW_BLANK, "response below the blank's"},
    {QVXL_FLAG_BELOW_LOD, "below LOD ({lod})"},
    {QVXL_FLAG_BELOW_LOQ, "below LOQ ({loq})"},
    {QVXL_FLAG_FLAT, "flat curve: u(x) infinite"},
    {QVXL_FLAG_NO_SCALE, "u(x) unknown: the fit has no degrees of freedom"},
    {QVXL_FLAG_CAL_REJECTED, "calibration not fit for use"},
    {QVXL_FLAG_REPLICATES_DISAGREE, "replicates disagree ({rep})"},
    {QVXL_FLAG_BELOW_RANGE, "below the reportable range ({range})"},
};

// The definitions of the limits (QVXL_LIMIT_CHOICE's codes).
constexpr Entry kLimitDefinition[] = {
    {QVXL_LOD_ISO_XC, "ISO 11843-2 x_C"},
    {QVXL_LOD_ISO_XD, "ISO 11843-2 x_D"},
    {QVXL_LOD_ICH, "ICH 3.3 sigma/S"},
    {QVXL_LOQ_ICH, "ICH 10 sigma/S"},
    {QVXL_LOQ_DIN, "DIN 32645 x_Q"},
    {QVXL_LOQ_LARGER, "the larger of ICH 10 sigma/S and DIN 32645 x_Q"},
};

constexpr Entry kSource[] = {
    {QVXL_UYSRC_STATED, "stated"},
    {QVXL_UYSRC_SCATTER, "from the scatter, {m} reading{s}"},
    {QVXL_UYSRC_CURVE_ONLY, "curve only"},
    {QVXL_UYSRC_MODEL, "from the variance model, {m} reading{s}"},
};

// The test of the curve's shape a verdict ran, named as the standards name it.
constexpr Entry kShape[] = {
    {QVXL_SHAPE_LACK_OF_FIT, "lack-of-fit F test (replicate standards)"},
    {QVXL_SHAPE_NONE_EIV, "not tested: no shape test for errors in variables"},
    {QVXL_SHAPE_NONE,
     "not tested: no replicate standards, and too few standards for the next-higher term"},
    {QVXL_SHAPE_MANDEL,
     "Mandel's F test of the next-higher term (ISO 8466-1, ISO 8466-2, DIN 38402-51)"},
    {QVXL_SHAPE_ADDED_CHI2, "chi-squared test of the next-higher term (stated u(y))"},
};
// The verdict's rows, results and overall verdicts (QVXL_VERDICT).
constexpr Entry kCriterion[] = {
    {1, "goodness of fit (chi-squared test of the stated u(y))"},
    {2, "the curve's shape (lack-of-fit F test with replicates, Mandel's F test of the next-higher term without)"},
    {3, "outliers (largest |residual statistic| against its threshold)"},
    {4, "back-calculated standards (share within their tolerance)"},
};
constexpr Entry kResult[] = {
    {QVXL_RESULT_NOT_TESTED, "not tested"},
    {QVXL_RESULT_PASS, "pass"},
    {QVXL_RESULT_DOUBTFUL, "doubtful"},
    {QVXL_RESULT_FAIL, "fail"},
    {QVXL_RESULT_WARN, "fail (warning only)"},
};
constexpr Entry kOverall[] = {
    {0, "calibration not fit for use"},
    {1, "fit for use"},
    {2, "fit for use, with warnings"},
};
// The detection limits, LIM(1..12) of QVXL_LIMITS, named by their definition.
constexpr Entry kLimit[] = {
    {1, "sigma: residual scatter at the lowest standard (ICH Q2)"},
    {2, "S: slope at the lowest standard"},
    {3, "LOD = 3.3 sigma / S (ICH Q2)"},
    {4, "LOQ = 10 sigma / S (ICH Q2)"},
    {5, "sigma0: scatter of one reading of the blank"},
    {6, "s0: standard deviation of the blank's net signal"},
    {7, "y_C: critical value of the response (ISO 11843-2)"},
    {8, "x_C: critical value, net x (ISO 11843-2)"},
    {9, "x_D: minimum detectable value, net x (ISO 11843-2)"},
    {10, "k(1 - alpha), one-sided"},
    {11, "delta: non-centrality for alpha and beta"},
    {12, "LOQ at relative uncertainty 1/k (DIN 32645)"},
};
constexpr Entry kBlankSource[] = {
    {QVXL_BLANK_NONE, "not computed: nothing tells the blank's scatter under this weighting "
                      "(give blank readings or u_blank, or weight by a variance model with a "
                      "floor)"},
    {QVXL_BLANK_GIVEN, "u_blank as given"},
    {QVXL_BLANK_STANDARDS, "the standards at the blank"},
    {QVXL_BLANK_LOWEST, "the scatter at the lowest standard (the weighting predicts none at "
                        "the blank: give u_blank from blanks)"},
    {QVXL_BLANK_STATED_UY, "the stated u(y) of the standards"},
    {QVXL_BLANK_RESIDUAL, "the residual scatter (the same at every x)"},
    {QVXL_BLANK_READINGS, "the blank readings' scatter"},
    {QVXL_BLANK_MODEL, "the variance model's floor"},
};

// The engine's statuses (quorvex.h), as a user reads them.
constexpr Entry kOls[] = {
    {1, "a curve needs at least 1 coefficient (degree >= 0)"},
    {2, "{npts} standards cannot determine {ncoef} coefficients"},
    {3, "at most 10 coefficients (degree 9) can be fitted, not {ncoef}"},
    {4, "every weight must be positive (u_y > 0)"},
    {5, "the interval must have xmin < xmax, not [{xmin}, {xmax}]"},
    {6, "the interval [{xmin}, {xmax}] starts above the smallest x"},
    {7, "the interval [{xmin}, {xmax}] ends below the largest x"},
    {21, "the QR factorization of the design failed"},
    {22, "applying the QR factor to the responses failed"},
    {23, "the design is singular (too few distinct x values for the degree?)"},
    {24,
     "the design is too badly conditioned (too few distinct x values for the degree, or an "
     "interval much wider than the data?)"},
    {999, "the library could not obtain working storage"},
};
constexpr Entry kGls[] = {
    {1, "iteration limit reached; the last step was below the step tolerance"},
    {2, "iteration limit reached; only the residual change was below its tolerance"},
    {3, "the line search gave up"},
    {4, "iteration limit reached before convergence (raise maxit, or loosen tol)"},
    {5, "evaluation limit reached before convergence (raise maxit, or loosen tol)"},
    {21, "{npts} standards cannot determine {ncoef} coefficients"},
    {25, "a scaled x weight underflowed to zero (u_x spans too many orders of magnitude)"},
    {26, "a scaled y weight underflowed to zero (u_y spans too many orders of magnitude)"},
    {35, "both tolerances must be positive"},
    {36, "the iteration limit must be at least 1"},
    {44, "every x weight must be positive (u_x > 0)"},
    {-1, "internal size mismatch of the fit workspace"},
    {-101, "an adjusted abscissa left the interval [{xmin}, {xmax}]; give a wider interval"},
    {-2, "the least-squares solve of a Gauss-Newton step failed"},
    {-3, "the gradient product failed"},
    {999, "the library could not obtain working storage"},
};
constexpr Entry kEval[] = {
    {1, "the interval must have xmin < xmax, not [{xmin}, {xmax}]"},
    {2, "a point lies below the curve's interval [{xmin}, {xmax}]"},
    {3, "a point lies above the curve's interval [{xmin}, {xmax}]"},
    {999, "the library could not obtain working storage"},
};
constexpr Entry kIpval[] = {
    {1, "the interval must have xmin < xmax, not [{xmin}, {xmax}]"},
    {2, "a constant curve (degree 0) has no inverse"},
    {3, "ngrid must be at least 1"},
    {999, "the library could not obtain working storage"},
};
constexpr Entry kLine[] = {
    {1, "the interval must have xmin < xmax, not [{xmin}, {xmax}]"},
    {999, "the library could not obtain working storage"},
};

template <std::size_t N>
const char* find(const Entry (&table)[N], int code) {
  for (const Entry& e : table)
    if (e.code == code) return e.text;
  return nullptr;
}

}  // namespace

const char* text_of(int kind, int code) {
  switch (kind) {
    case static_cast<int>(TextKind::Status):
      return find(kStatus, code);
    case static_cast<int>(TextKind::Flag):
      return find(kFlag, code);
    case static_cast<int>(TextKind::Source):
      return find(kSource, code);
    case static_cast<int>(TextKind::Criterion):
      return find(kCriterion, code);
    case static_cast<int>(TextKind::Result):
      return find(kResult, code);
    case static_cast<int>(TextKind::Overall):
      return find(kOverall, code);
    case static_cast<int>(TextKind::Limit):
      return find(kLimit, code);
    case static_cast<int>(TextKind::BlankSource):
      return find(kBlankSource, code);
    case static_cast<int>(TextKind::ShapeTest):
      return find(kShape, code);
    case static_cast<int>(TextKind::LimitDefinition):
      return find(kLimitDefinition, code);
    case kRoutineKinds + static_cast<int>(Routine::OLSPFIT):
      return find(kOls, code);
    case kRoutineKinds + static_cast<int>(Routine::GLSPFIT):
      return find(kGls, code);
    case kRoutineKinds + static_cast<int>(Routine::POLYEVAL):
      return find(kEval, code);
    case kRoutineKinds + static_cast<int>(Routine::IPVAL):
      return find(kIpval, code);
    case kRoutineKinds + static_cast<int>(Routine::LINEAR_CONV):
    case kRoutineKinds + static_cast<int>(Routine::IPVAL_DEGREE1):
      return find(kLine, code);
    default:
      return nullptr;
  }
}

}  // namespace quorvex::lab
