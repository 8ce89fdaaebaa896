// The reference LAPACK and BLAS routines the library calls, declared once
// through their Fortran symbols.
//
// Every argument is passed by reference.  gfortran appends one hidden length
// argument (size_t) per CHARACTER argument, after all the others; they are
// declared here so that the calls match the Fortran ABI exactly.
#pragma once

#include <cstddef>

extern "C" {

// QR factorization A = Q R of an m x n matrix.
void dgeqrf_(const int* m, const int* n, double* a, const int* lda, double* tau, double* work,
             const int* lwork, int* info);

// C := op(Q) C with Q from dgeqrf_.  The reflectors in a are overwritten
// while they are applied and restored before return, so a must be writable.
void dormqr_(const char* side, const char* trans, const int* m, const int* n, const int* k,
             double* a, const int* lda, const double* tau, double* c, const int* ldc,
             double* work, const int* lwork, int* info, std::size_t side_len,
             std::size_t trans_len);

// Triangular solve op(A) X = B, A held in full storage.
void dtrtrs_(const char* uplo, const char* trans, const char* diag, const int* n, const int* nrhs,
             const double* a, const int* lda, double* b, const int* ldb, int* info,
             std::size_t uplo_len, std::size_t trans_len, std::size_t diag_len);

// Triangular solve op(A) X = B, A in packed storage.
void dtptrs_(const char* uplo, const char* trans, const char* diag, const int* n, const int* nrhs,
             const double* ap, double* b, const int* ldb, int* info, std::size_t uplo_len,
             std::size_t trans_len, std::size_t diag_len);

// Cholesky factorization A = L L' (uplo "L") of a symmetric positive definite
// matrix; info > 0 is the order of the leading minor that is not positive
// definite.
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info,
             std::size_t uplo_len);

// Dense least squares by QR (used by the tests as an independent solver).
void dgels_(const char* trans, const int* m, const int* n, const int* nrhs, double* a,
            const int* lda, double* b, const int* ldb, double* work, const int* lwork, int* info,
            std::size_t trans_len);

// General matrix product C := alpha op(A) op(B) + beta C.
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b,
            const int* ldb, const double* beta, double* c, const int* ldc, std::size_t ta_len,
            std::size_t tb_len);

// Triangular matrix-vector product x := op(A) x.
void dtrmv_(const char* uplo, const char* trans, const char* diag, const int* n,
            const double* a, const int* lda, double* x, const int* incx, std::size_t uplo_len,
            std::size_t trans_len, std::size_t diag_len);

// Euclidean norm.
double dnrm2_(const int* n, const double* x, const int* incx);

// Rank-one update A := alpha x y' + A.
void dger_(const int* m, const int* n, const double* alpha, const double* x, const int* incx,
           const double* y, const int* incy, double* a, const int* lda);

}  // extern "C"

namespace quorvex {

// Euclidean norm of n contiguous doubles by the reference BLAS.
inline double nrm2(int n, const double* x) {
  const int inc = 1;
  return dnrm2_(&n, x, &inc);
}

}  // namespace quorvex
