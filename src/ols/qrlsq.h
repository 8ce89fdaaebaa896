#pragma once

namespace quorvex {

// Linear least squares min ||A xsol - b|| by Householder QR (LAPACK), with a
// conditioning test on the diagonal of the triangular factor.
//   a     m x n, leading dimension lda, not modified;  b: mb values.
//   xsol  n values;  rvec: m values (residual b - A xsol on success).
//   rpack optional (nullptr: not written): the n x n factor Rf row by row,
//         each row from its diagonal (LAPACK packed form of Rf' with 'L').
//   info  0 success; -1 m < n; -2 mb != m; 1 dgeqrf failed; 2 dormqr failed;
//         3 exactly zero diagonal; 4 conditioning test failed.
// Requires n >= 1.
void QRLSQ(int m, int n, const double* a, int lda, int mb, const double* b, double* xsol,
           double* rvec, double& rnorm, int& info, double* rpack);

}  // namespace quorvex
