// The curve in powers of x, with the covariance of its coefficients.
#pragma once

namespace quorvex::lab {

// M (ncoef x ncoef, column-major) with a = M c: the power coefficients
// a_0..a_{ncoef-1} in x of the scaled polynomial with coefficients c on
// [xmin, xmax].
void power_matrix(int ncoef, double xmin, double xmax, double* m);

// a = M c and Ca = M C M' (symmetrized); cov and ca may be null.
void power_form(int ncoef, const double* coef, const double* cov, double xmin, double xmax,
                double* a, double* ca);

}  // namespace quorvex::lab
