// A factor L with L L' = C of a coefficient covariance that may be singular,
// for drawing curves c = coef + L z, z ~ N(0, I).
#pragma once

#include <vector>

namespace quorvex::lab {

// Status of cov_factor: 0, QVXL_MC_COV_NOT_FINITE or QVXL_MC_COV_INDEFINITE.
// On success l (n x n, column-major) holds V diag(sqrt(max(lambda, 0))), the
// eigenvectors V of the symmetrized covariance scaled by the square roots of
// their eigenvalues.
int cov_factor(int n, const double* cov, std::vector<double>& l);

}  // namespace quorvex::lab
