#pragma once

namespace quorvex {

// Linear least squares min ||A xsol - b|| by Householder QR (LAPACK), with a
// conditioning test on the diagonal of the triangular factor.
//   a     m x n, leading dimension lda, not modified;  b: mb values.
//   xsol  n values;  rvec: m values (residual b - A xsol on success).
//   rpack optional (nullptr: not written): the n x n factor Rf row by row,
//         each row from its diagonal (LAPACK packed form of Rf' with 'L').
//   info  0 success; -1 m < n; -2 mb != m; -3 n < 1; -4 lda < m;
//         1 dgeqrf failed; 2 dormqr failed; 3 exactly zero diagonal;
//         4 conditioning test failed (min|Rf(i,i)| <= max|Rf(i,i)| * m * eps,
//         eps the double epsilon, or a diagonal element not finite).
//   Negative info and 1: nothing written.  3 and 4: rvec holds Q'b, xsol not
//   written.  Negative counts count as 0.
void QRLSQ(int m, int n, const double* a, int lda, int mb, const double* b, double* xsol,
           double* rvec, double& rnorm, int& info, double* rpack);

// The same without copies, for a caller that needs neither its matrix nor
// its right-hand side back: a (m x n, leading dimension lda) is factorized
// in place (its contents afterwards have no meaning), and b (m values) turns
// into rvec.  The same arithmetic, so the same results bit for bit.
// work: 2n values of scratch (the reflectors' scalars and LAPACK's work).
// info as above (-2 cannot occur).
void QRLSQ_INPLACE(int m, int n, double* a, int lda, double* b, double* xsol, double& rnorm,
                   int& info, double* rpack, double* work);

}  // namespace quorvex
