// The inline per-point kernels against the linked reference BLAS/LAPACK:
// random and extreme operands (signed zeros, subnormals, 1e+-300, values at
// the norm's scaling thresholds, NaN, infinities, mixtures) must give the
// same bits and the same status.  The NaNs carry different signs and
// payloads (one signalling), so which operand's NaN survives is checked too.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numeric/blas_kernels.h"
#include "numeric/lapack.h"

namespace {

std::uint64_t bits(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// Operand values: a mix of ordinary random numbers and the extremes.
class Operands {
 public:
  explicit Operands(unsigned seed) : rng_(seed) {}

  double next() {
    static const double special[] = {
        0.0, -0.0, 1.0, -1.0, 4.9406564584124654e-324, -2.2250738585072009e-308,
        1e-310, 1e-300, -1e-300, 1e300, -1e300, 1.7976931348623157e308,
        0x1p-511, 0x1.0000000000001p-511, 0x1.fffffffffffffp-512, 0x1p486,
        0x1.0000000000001p486, -0x1.fffffffffffffp485, 1e-160, 1e160, 1e154,
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), std::bit_cast<double>(0xfff8000000000000ULL),
        std::bit_cast<double>(0x7ff8000000000123ULL), std::bit_cast<double>(0xfff0000000000456ULL)};
    const int kind = std::uniform_int_distribution<int>(0, 9)(rng_);
    if (kind < 4) return std::normal_distribution<double>(0.0, 1.0)(rng_);
    if (kind < 6) {  // random magnitude over the whole range
      const double e = std::uniform_real_distribution<double>(-1070.0, 1020.0)(rng_);
      return std::ldexp(std::uniform_real_distribution<double>(-2.0, 2.0)(rng_),
                        static_cast<int>(e));
    }
    const std::size_t n = sizeof special / sizeof special[0];
    return special[std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_)];
  }
  // A value that is ordinary (no NaN or infinity) most of the time.
  double mostly_finite() {
    const double x = next();
    return std::isfinite(x) || std::uniform_int_distribution<int>(0, 7)(rng_) == 0 ? x : 0.5;
  }
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

 private:
  std::mt19937_64 rng_;
};

TEST(BlasKernels, Nrm2MatchesReference) {
  Operands op(11);
  for (int trial = 0; trial < 60000; ++trial) {
    const int n = op.pick(1, 6);
    std::vector<double> x(static_cast<std::size_t>(n));
    const int mode = trial % 3;  // all ordinary, mixed, any
    for (double& v : x) v = mode == 0 ? op.mostly_finite() : op.next();
    const int inc = 1;
    const double ref = dnrm2_(&n, x.data(), &inc);
    const double got = quorvex::kernel::nrm2(n, x.data());
    ASSERT_EQ(bits(ref), bits(got)) << "trial " << trial << " n " << n << " ref " << ref
                                    << " got " << got;
  }
  const double z[1] = {0.0};
  EXPECT_EQ(bits(quorvex::kernel::nrm2(0, z)), bits(0.0));
}

TEST(BlasKernels, GerMatchesReference) {
  Operands op(12);
  for (int trial = 0; trial < 30000; ++trial) {
    const int m = op.pick(1, 4), n = op.pick(1, 7), lda = m + op.pick(0, 2);
    std::vector<double> x(static_cast<std::size_t>(m)), y(static_cast<std::size_t>(n));
    std::vector<double> a(static_cast<std::size_t>(lda * n));
    for (double& v : x) v = op.next();
    for (double& v : y) v = op.pick(0, 3) == 0 ? 0.0 : op.next();
    for (double& v : a) v = op.next();
    const double alpha = op.pick(0, 9) == 0 ? 0.0 : op.next();
    // Every third trial: y = A'x as the Householder update forms it, for the
    // form that relies on that.
    const bool dots = trial % 3 == 0;
    if (dots) {
      for (int j = 0; j < n; ++j) {
        double s = 0.0;
        for (int i = 0; i < m; ++i) s += a[static_cast<std::size_t>(j * lda + i)] * x[i];
        y[static_cast<std::size_t>(j)] = s;
      }
    }
    std::vector<double> ref = a;
    const int inc = 1;
    dger_(&m, &n, &alpha, x.data(), &inc, y.data(), &inc, ref.data(), &lda);
    if (dots)
      quorvex::kernel::ger<true>(m, n, alpha, x.data(), y.data(), a.data(), lda);
    else
      quorvex::kernel::ger(m, n, alpha, x.data(), y.data(), a.data(), lda);
    for (std::size_t i = 0; i < a.size(); ++i)
      ASSERT_EQ(bits(ref[i]), bits(a[i])) << "trial " << trial << " element " << i;
  }
}

TEST(BlasKernels, PackedSolveMatchesReference) {
  Operands op(13);
  for (int trial = 0; trial < 40000; ++trial) {
    const int n = op.pick(1, 4), nrhs = op.pick(1, 3), ldb = n + op.pick(0, 2);
    const char trans = "NTnt"[op.pick(0, 3)];
    std::vector<double> ap(static_cast<std::size_t>(n * (n + 1) / 2));
    std::vector<double> b(static_cast<std::size_t>(ldb * nrhs));
    for (double& v : ap) v = trial % 2 == 0 ? op.mostly_finite() : op.next();
    for (double& v : b) v = op.pick(0, 4) == 0 ? 0.0 : op.next();
    const std::vector<double> b0 = b;
    std::vector<double> ref = b;
    int info = 0;
    dtptrs_("L", &trans, "N", &n, &nrhs, ap.data(), ref.data(), &ldb, &info, 1, 1, 1);
    const int got = quorvex::kernel::tptrs_lower(trans, static_cast<std::size_t>(n),
                                                 static_cast<std::size_t>(nrhs), ap.data(),
                                                 b.data(), ldb);
    ASSERT_EQ(info, got) << "trial " << trial;
    for (std::size_t i = 0; i < b.size(); ++i)
      ASSERT_EQ(bits(ref[i]), bits(b[i]))
          << "trial " << trial << " trans " << trans << " n " << n << " element " << i
          << "\n ap " << ::testing::PrintToString(ap) << "\n b " << ::testing::PrintToString(b0);
  }
}

}  // namespace
