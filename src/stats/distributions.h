// The distributions of the laboratory rules, from Boost.Math: quantiles and
// tail probabilities of the normal, Student's t, chi-squared, F and
// non-central t distributions.  One place, so that k, p-values and limits are
// the same bits in every host.
#pragma once

namespace quorvex::lab {

enum class Dist { Normal = 1, StudentT = 2, ChiSquared = 3, F = 4, NoncentralT = 5 };

// Throws std::domain_error for a parameter or probability out of range.
double quantile(Dist d, double p, double par1 = 0.0, double par2 = 0.0);
double upper_tail(Dist d, double x, double par1 = 0.0, double par2 = 0.0);
double lower_tail(Dist d, double x, double par1 = 0.0, double par2 = 0.0);
// The value exceeded with probability q, P(T > x) = q, without forming 1 - q
// (small q keeps its digits).
double upper_quantile(Dist d, double q, double par1 = 0.0, double par2 = 0.0);

// Two-sided coverage factor at coverage probability `level`: Student's t
// with nu degrees of freedom, the normal for nu = +inf; NaN for a NaN nu.
double coverage_factor(double level, double nu);

}  // namespace quorvex::lab
