// The reference LAPACK routines the library carries report a bad argument
// through the library's XERBLA, which returns: the routine comes back with
// a negative INFO naming the argument, and the process goes on (reference
// XERBLA would print a message and stop the host).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "numeric/lapack.h"

namespace {

struct BadCall {
  std::string what;
  int expected_info;
  std::function<int()> call;  // returns INFO
};

std::vector<BadCall> bad_calls() {
  return {
      {"dgeqrf M = -1", -1,
       [] {
         const int m = -1, n = 2, lda = 1, lwork = 4;
         double a[2] = {1.0, 2.0}, tau[2], work[4];
         int info = 0;
         dgeqrf_(&m, &n, a, &lda, tau, work, &lwork, &info);
         return info;
       }},
      {"dgeqrf LDA < M", -4,
       [] {
         const int m = 3, n = 2, lda = 2, lwork = 4;
         double a[6] = {}, tau[2], work[4];
         int info = 0;
         dgeqrf_(&m, &n, a, &lda, tau, work, &lwork, &info);
         return info;
       }},
      {"dormqr SIDE = 'X'", -1,
       [] {
         const int n = 2, k = 1, ld = 2, lwork = 4;
         double a[4] = {1.0, 2.0, 3.0, 4.0}, tau[2] = {0.0, 0.0}, c[4] = {}, work[4];
         int info = 0;
         dormqr_("X", "N", &n, &n, &k, a, &ld, tau, c, &ld, work, &lwork, &info, 1, 1);
         return info;
       }},
      {"dtrtrs UPLO = 'Q'", -1,
       [] {
         const int n = 2, nrhs = 1, ld = 2;
         double a[4] = {1.0, 0.0, 0.0, 1.0}, b[2] = {1.0, 1.0};
         int info = 0;
         dtrtrs_("Q", "N", "N", &n, &nrhs, a, &ld, b, &ld, &info, 1, 1, 1);
         return info;
       }},
      {"dtptrs N = -3", -4,
       [] {
         const int n = -3, nrhs = 1, ldb = 1;
         double ap[1] = {1.0}, b[1] = {1.0};
         int info = 0;
         dtptrs_("U", "N", "N", &n, &nrhs, ap, b, &ldb, &info, 1, 1, 1);
         return info;
       }},
      {"dger INCX = 0", -5,
       [] {
         // DGER reports through XERBLA and leaves A alone; it has no INFO,
         // so A unchanged stands for the reported error.
         const int m = 2, n = 2, inc0 = 0, inc1 = 1, lda = 2;
         const double alpha = 1.0, x[2] = {1.0, 2.0}, y[2] = {3.0, 4.0};
         double a[4] = {0.0, 0.0, 0.0, 0.0};
         dger_(&m, &n, &alpha, x, &inc0, y, &inc1, a, &lda);
         return (a[0] == 0.0 && a[1] == 0.0 && a[2] == 0.0 && a[3] == 0.0) ? -5 : 0;
       }},
  };
}

TEST(LapackErrors, BadArgumentReturnsWithNegativeInfo) {
  for (const BadCall& c : bad_calls()) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), c.expected_info);
  }
}

TEST(LapackErrors, GoodCallAfterABadOneWorks) {
  bad_calls().front().call();
  // A 2x2 QR: R(1,1) = -sqrt(a11^2 + a21^2) for reference DGEQRF.
  const int m = 2, n = 2, lda = 2, lwork = 64;
  double a[4] = {3.0, 4.0, 1.0, 2.0}, tau[2], work[64];
  int info = -9;
  dgeqrf_(&m, &n, a, &lda, tau, work, &lwork, &info);
  EXPECT_EQ(info, 0);
  EXPECT_EQ(a[0], -5.0);
}

}  // namespace
