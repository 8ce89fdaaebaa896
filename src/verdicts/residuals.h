// Residual diagnostics of a fit: leverages, studentized residuals, Cook's
// distances, the statistic each standard is tested with and the outlier
// threshold corrected for the number of standards.
#pragma once

#include <cstddef>

#include "verdicts/fit_record.h"

namespace quorvex::lab {

// A leverage at or above this is "pinned": the curve passes through the
// standard whatever its response.
inline constexpr double kPinnedLeverage = 1.0 - 1e-9;

// The residual of standard i the diagnostics use: W_i e_i, or for errors in
// variables the combined normalized residual sign(b_i) sqrt(a_i^2 + b_i^2).
double combined_residual(const FitRecord& f, std::size_t i);

// h_i = W_i^2 g_i' C g_i, the hat matrix's diagonal; for errors in variables
// with the effective weight at the adjusted x (residuals.cpp).
void leverages(const FitRecord& f, double* h);

// r_i / (s sqrt(1 - h_i)), s^2 = chi2/dof (internal) or, leaving the
// standard out, (chi2 - r_i^2/(1 - h_i)) / (dof - 1) (external).  NaN where
// h_i is pinned or the degrees of freedom do not suffice.
void studentized(const FitRecord& f, const double* h, bool external, double* out);

// D_i = t_i^2 h_i / (ncoef (1 - h_i)), t_i internally studentized.
void cooks_distance(const FitRecord& f, const double* h, const double* t_int, double* d);

// 3 and 4: the combined residual of errors in variables.
enum class Statistic {
  Normalized = 1,
  Studentized = 2,
  CombinedNormalized = 3,
  CombinedStudentized = 4
};

// The residual each standard is tested with: r_i / sqrt(1 - h_i) (stated)
// or externally studentized (scaled); statx is NaN (kept for the layout).
Statistic residual_statistic(const FitRecord& f, const double* h, const double* t_ext,
                             double* stat, double* statx);

enum class ThresholdFrom { None = 0, Normal = 1, StudentT = 2 };

struct Threshold {
  double value;
  ThresholdFrom from;
  double dof;  // of Student's t; NaN otherwise
};

// The threshold of |statistic| at family level alpha over all standards.
Threshold outlier_threshold(const FitRecord& f, double alpha);

// Per-standard flags against a threshold and Cook's limit.
inline constexpr int kOutlierY = 1;       // statistic beyond the threshold
inline constexpr int kOutlierX = 2;       // x statistic beyond (errors in variables)
inline constexpr int kInfluential = 4;    // Cook's distance above the limit
inline constexpr int kPinned = 8;         // leverage 1 with degrees of freedom left
void outlier_flags(const FitRecord& f, const double* h, const double* cook, const double* stat,
                   const double* statx, double threshold, double cook_limit, int* flags);

}  // namespace quorvex::lab
