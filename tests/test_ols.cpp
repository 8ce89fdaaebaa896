// The QR least-squares solver and the ordinary fit: invariants of least
// squares, agreement with the normal equations solved in long double, the
// status codes in their order with the outputs they leave, and the exported
// entry point as a host calls it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "alloc_hook.h"
#include "curve/chebyshev.h"
#include "host_library.h"
#include "ols/olspfit.h"
#include "ols/qrlsq.h"
#include "numeric/keepwrk.h"

// Allocation failure on demand (alloc_hook.h): while armed, the n-th
// allocation of this thread, or one above a size, throws std::bad_alloc.
// Replaces the global operator new of the test program; unarmed it behaves
// as the default one.
namespace quorvex_test {
thread_local long g_fail_countdown = -1;
thread_local std::size_t g_fail_above = static_cast<std::size_t>(-1);
thread_local bool g_fail_as_length_error = false;
namespace {
thread_local long g_alloc_count = 0;
thread_local std::size_t g_alloc_sizes[kAllocLogSize] = {};
}  // namespace
long& alloc_count() { return g_alloc_count; }
const std::size_t* alloc_sizes() { return g_alloc_sizes; }
}  // namespace quorvex_test
using quorvex_test::g_fail_countdown;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  {
    long& count = quorvex_test::alloc_count();
    if (count < quorvex_test::kAllocLogSize) quorvex_test::g_alloc_sizes[count] = size;
    ++count;
  }
  if (g_fail_countdown >= 0 && g_fail_countdown-- == 0) {
    if (quorvex_test::g_fail_as_length_error) throw std::length_error("vector too long");
    throw std::bad_alloc();
  }
  if (size > quorvex_test::g_fail_above) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The non-throwing form (std::stable_sort's buffer, for one) takes the same
// path, so that every delete above frees what this file's new allocated.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using quorvex::OLSPFIT;
using quorvex::QRLSQ;

constexpr double kEps = std::numeric_limits<double>::epsilon();
using LMat = std::vector<std::vector<long double>>;

// ---------------------------------------------------------------------------
// Independent computations in long double.

// Basis row phi_k(x) with t and the recurrence in long double.
std::vector<long double> basis_row_ld(int ncoef, double xmin, double xmax, double x) {
  const long double t = (((long double)x - xmin) - ((long double)xmax - x)) /
                        ((long double)xmax - xmin);
  std::vector<long double> phi(ncoef);
  long double tkm1 = 1.0L, tk = t;
  phi[0] = 0.5L;
  for (int k = 1; k < ncoef; ++k) {
    phi[k] = tk;
    const long double next = 2.0L * t * tk - tkm1;
    tkm1 = tk;
    tk = next;
  }
  return phi;
}

// Solves the symmetric positive definite system M z = v by Cholesky.
std::vector<long double> cholesky_solve(LMat m, std::vector<long double> v) {
  const std::size_t n = v.size();
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t k = 0; k < j; ++k) m[j][j] -= m[j][k] * m[j][k];
    m[j][j] = std::sqrt(m[j][j]);
    for (std::size_t i = j + 1; i < n; ++i) {
      for (std::size_t k = 0; k < j; ++k) m[i][j] -= m[i][k] * m[j][k];
      m[i][j] /= m[j][j];
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < i; ++k) v[i] -= m[i][k] * v[k];
    v[i] /= m[i][i];
  }
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t k = i + 1; k < n; ++k) v[i] -= m[k][i] * v[k];
    v[i] /= m[i][i];
  }
  return v;
}

// The weighted fit by the normal equations (B'W^2B) c = B'W^2 y.
struct NormalFit {
  LMat m;                     // B'W^2B
  std::vector<long double> c; // coefficients
  long double sres;           // weighted residual standard deviation
};

NormalFit normal_fit(int ncoef, double xmin, double xmax, const std::vector<double>& x,
                     const std::vector<double>& y, const std::vector<double>& w) {
  NormalFit f;
  f.m.assign(ncoef, std::vector<long double>(ncoef, 0.0L));
  std::vector<long double> v(ncoef, 0.0L);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const auto phi = basis_row_ld(ncoef, xmin, xmax, x[i]);
    const long double w2 = (long double)w[i] * w[i];
    for (int j = 0; j < ncoef; ++j) {
      v[j] += w2 * phi[j] * y[i];
      for (int k = 0; k < ncoef; ++k) f.m[j][k] += w2 * phi[j] * phi[k];
    }
  }
  f.c = cholesky_solve(f.m, v);
  long double ss = 0.0L;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const auto phi = basis_row_ld(ncoef, xmin, xmax, x[i]);
    long double p = 0.0L;
    for (int j = 0; j < ncoef; ++j) p += phi[j] * f.c[j];
    const long double r = w[i] * (y[i] - p);
    ss += r * r;
  }
  const long double dof = (long double)x.size() - ncoef;
  f.sres = dof > 0 ? std::sqrt(ss / dof) : 0.0L;
  return f;
}

// 2-norm condition number of a symmetric positive definite matrix, from the
// extreme eigenvalues by power iteration on M and on M^-1.
long double spd_condition(const LMat& m) {
  const std::size_t n = m.size();
  auto power = [&](bool inverse) {
    std::vector<long double> z(n, 1.0L), y(n);
    long double lambda = 0.0L;
    for (int it = 0; it < 500; ++it) {
      if (inverse) {
        y = cholesky_solve(m, z);
      } else {
        for (std::size_t i = 0; i < n; ++i) {
          y[i] = 0.0L;
          for (std::size_t k = 0; k < n; ++k) y[i] += m[i][k] * z[k];
        }
      }
      long double nrm = 0.0L;
      for (auto e : y) nrm += e * e;
      nrm = std::sqrt(nrm);
      lambda = nrm;
      for (std::size_t i = 0; i < n; ++i) z[i] = y[i] / nrm;
    }
    return lambda;
  };
  return power(false) * power(true);
}

// ---------------------------------------------------------------------------
// QRLSQ

struct Dense {
  int m, n;
  std::vector<double> a;  // column-major, leading dimension m
  double& operator()(int i, int j) { return a[(std::size_t)j * m + i]; }
};

Dense random_dense(int m, int n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Dense d{m, n, std::vector<double>((std::size_t)m * n)};
  for (double& v : d.a) v = u(rng);
  return d;
}

TEST(Qrlsq, SolutionResidualAndFactorAgreeWithLongDouble) {
  for (auto [m, n] : {std::pair{7, 3}, {10, 10}, {40, 6}, {5, 1}}) {
    Dense a = random_dense(m, n, 100 + m * 7 + n);
    std::vector<double> b(m);
    std::mt19937_64 rng(m * 31 + n);
    std::normal_distribution<double> g;
    for (double& v : b) v = g(rng);

    std::vector<double> xsol(n), rvec(m), rpack(n * (n + 1) / 2);
    double rnorm = -1.0;
    int info = -99;
    QRLSQ(m, n, a.a.data(), m, m, b.data(), xsol.data(), rvec.data(), rnorm, info, rpack.data());
    ASSERT_EQ(info, 0) << m << "x" << n;

    // Normal equations in long double.
    LMat ata(n, std::vector<long double>(n, 0.0L));
    std::vector<long double> atb(n, 0.0L);
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < m; ++i) atb[j] += (long double)a(i, j) * b[i];
      for (int k = 0; k < n; ++k)
        for (int i = 0; i < m; ++i) ata[j][k] += (long double)a(i, j) * a(i, k);
    }
    const auto z = cholesky_solve(ata, atb);
    const long double kappa = std::sqrt(spd_condition(ata));
    long double zmax = 0.0L;
    for (auto v : z) zmax = std::max(zmax, std::fabs(v));
    for (int j = 0; j < n; ++j)
      EXPECT_NEAR(xsol[j], (double)z[j], (double)(8 * kEps * kappa * kappa * zmax)) << j;

    // rvec = b - A xsol (computed through Q), its norm, and A' rvec = 0.
    // The residual through Q carries an error of a few eps (|b| + |A||x|).
    long double ss = 0.0L;
    for (int i = 0; i < m; ++i) {
      long double r = b[i], scale = std::fabs(b[i]);
      for (int j = 0; j < n; ++j) {
        r -= (long double)a(i, j) * xsol[j];
        scale += std::fabs((long double)a(i, j) * xsol[j]);
      }
      EXPECT_NEAR(rvec[i], (double)r, (double)(8 * kEps * scale)) << i;
      ss += (long double)rvec[i] * rvec[i];
    }
    EXPECT_NEAR(rnorm, (double)std::sqrt(ss), 4 * kEps * rnorm + 1e-300);
    for (int j = 0; j < n; ++j) {
      long double s = 0.0L;
      for (int i = 0; i < m; ++i) s += (long double)a(i, j) * rvec[i];
      EXPECT_LT(std::fabs((double)s), 32 * kEps * std::sqrt((double)m));
    }
    if (m == n) {
      EXPECT_LT(rnorm, 32 * kEps);
    }

    // RPACK holds the rows of Rf one after another: Rf'Rf = A'A.
    std::vector<double> rf((std::size_t)n * n, 0.0);
    std::size_t p = 0;
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j) rf[(std::size_t)j * n + i] = rpack[p++];
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) {
        long double s = 0.0L;
        for (int i = 0; i < n; ++i) s += (long double)rf[j * n + i] * rf[k * n + i];
        EXPECT_NEAR((double)s, (double)ata[j][k], 64 * kEps * m);
      }
  }
}

TEST(Qrlsq, PackedOrderOfTheFactor) {
  // Upper triangular A: Q = diag(+-1), so Rf is A up to the signs of its rows.
  const int n = 3;
  const double a[9] = {2, 0, 0, 3, 5, 0, 4, 6, 7};  // rows (2 3 4), (0 5 6), (0 0 7)
  const double b[3] = {1, 2, 3};
  double xsol[3], rvec[3], rpack[6], rnorm;
  int info = -1;
  QRLSQ(n, n, a, n, n, b, xsol, rvec, rnorm, info, rpack);
  ASSERT_EQ(info, 0);
  const double expect[6] = {2, 3, 4, 5, 6, 7};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(std::fabs(rpack[i]), expect[i]) << i;
  // RPACK absent: nothing else changes.
  double xsol2[3];
  QRLSQ(n, n, a, n, n, b, xsol2, rvec, rnorm, info, nullptr);
  ASSERT_EQ(info, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(xsol2[i], xsol[i]);
}

TEST(Qrlsq, LeadingDimensionLongerThanTheColumn) {
  Dense a = random_dense(6, 3, 9);
  std::vector<double> big(10 * 3, std::nan(""));
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 6; ++i) big[j * 10 + i] = a(i, j);
  const double b[6] = {1, -2, 3, 0.5, 0, 2};
  double x1[3], x2[3], r[6], rn1, rn2;
  int i1, i2;
  QRLSQ(6, 3, a.a.data(), 6, 6, b, x1, r, rn1, i1, nullptr);
  QRLSQ(6, 3, big.data(), 10, 6, b, x2, r, rn2, i2, nullptr);
  ASSERT_EQ(i1, 0);
  ASSERT_EQ(i2, 0);
  for (int j = 0; j < 3; ++j) EXPECT_EQ(x1[j], x2[j]);
  EXPECT_EQ(rn1, rn2);
}

// The in-place form factorizes the caller's matrix and turns b into the
// residual, with the copying form's results bit for bit, also with a leading
// dimension longer than the column and on ill-posed problems.
TEST(Qrlsq, InPlaceFormGivesTheCopyingFormsBits) {
  std::mt19937 rng(21);
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 1 + trial % 10, m = n + trial % 7 * 3, lda = m + trial % 3;
    Dense a = random_dense(m, n, 100 + trial);
    std::vector<double> aw(static_cast<std::size_t>(lda) * n, 0.0);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < m; ++i) aw[j * lda + i] = a(i, j);
    if (trial % 5 == 4)  // a repeated column: the conditioning test refuses it
      for (int i = 0; i < m && n > 1; ++i) aw[lda + i] = aw[i];
    std::vector<double> b(m);
    for (double& v : b) v = std::normal_distribution<double>(0.0, 3.0)(rng);
    const std::size_t np = static_cast<std::size_t>(n) * (n + 1) / 2;
    std::vector<double> x1(n, 5.0), r1(m), p1(np, 7.0), x2(n, 5.0), b2 = b, p2(np, 7.0);
    double rn1 = 9.0, rn2 = 9.0;
    int i1 = -99, i2 = -99;
    QRLSQ(m, n, aw.data(), lda, m, b.data(), x1.data(), r1.data(), rn1, i1, p1.data());
    std::vector<double> scratch(2 * n);
    quorvex::QRLSQ_INPLACE(m, n, aw.data(), lda, b2.data(), x2.data(), rn2, i2, p2.data(),
                           scratch.data());
    ASSERT_EQ(i1, i2) << trial;
    EXPECT_EQ(std::memcmp(x1.data(), x2.data(), n * sizeof(double)), 0) << trial;
    EXPECT_EQ(std::memcmp(r1.data(), b2.data(), m * sizeof(double)), 0) << trial;
    EXPECT_EQ(std::memcmp(p1.data(), p2.data(), np * sizeof(double)), 0) << trial;
    EXPECT_EQ(std::memcmp(&rn1, &rn2, sizeof rn1), 0) << trial;
  }
  // Refused arguments leave everything as it was.
  double a1[2] = {1, 2}, b1[1] = {3}, x1[2] = {4, 4}, rn = 6;
  int info = 0;
  double scratch[4];
  quorvex::QRLSQ_INPLACE(1, 2, a1, 1, b1, x1, rn, info, nullptr, scratch);
  EXPECT_EQ(info, -1);
  EXPECT_EQ(b1[0], 3.0);
  EXPECT_EQ(a1[1], 2.0);
  quorvex::QRLSQ_INPLACE(2, 1, a1, 1, b1, x1, rn, info, nullptr, scratch);
  EXPECT_EQ(info, -4);
}

struct QrCase {
  const char* what;
  int m, n, lda, mb;
  std::vector<double> a;  // column-major, leading dimension lda
  int info;
};

class QrlsqStatus : public ::testing::TestWithParam<QrCase> {};

TEST_P(QrlsqStatus, StatusAndTheOutputsItLeaves) {
  const QrCase& c = GetParam();
  const std::size_t m = std::max(c.m, 0), n = std::max(c.n, 1);
  std::vector<double> b(std::max<std::size_t>(m, 1));
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = 1.0 + i;
  std::vector<double> xsol(n, 55.0), rvec(b.size(), 66.0), rpack(n * (n + 1) / 2, 77.0);
  double rnorm = 88.0;
  int info = 12345;
  QRLSQ(c.m, c.n, c.a.data(), c.lda, c.mb, b.data(), xsol.data(), rvec.data(), rnorm, info,
        rpack.data());
  EXPECT_EQ(info, c.info);
  if (info != 0) {
    for (double v : xsol) EXPECT_EQ(v, 55.0);
    for (double v : rpack) EXPECT_EQ(v, 77.0);
    EXPECT_EQ(rnorm, 88.0);
  }
  if (info < 0) {
    for (double v : rvec) EXPECT_EQ(v, 66.0);
  }
  if (info == 3 || info == 4) {
    // rvec holds Q'b: an orthogonal transform keeps the norm.
    long double sb = 0, sr = 0;
    for (std::size_t i = 0; i < m; ++i) {
      sb += (long double)b[i] * b[i];
      sr += (long double)rvec[i] * rvec[i];
    }
    if (std::isfinite((double)sr)) {
      EXPECT_NEAR((double)sr, (double)sb, 1e-13 * (double)sb);
    }
  }

  // A success right after: a well-posed problem solves.
  const double a2[4] = {1, 0, 0, 2};
  const double b2[2] = {3, 4};
  double x2[2], r2[2], rn2;
  QRLSQ(2, 2, a2, 2, 2, b2, x2, r2, rn2, info, nullptr);
  EXPECT_EQ(info, 0);
  EXPECT_EQ(x2[0], 3.0);
  EXPECT_EQ(x2[1], 2.0);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, QrlsqStatus,
    ::testing::Values(
        QrCase{"fewer rows than columns", 1, 2, 1, 1, {1, 2}, -1},
        QrCase{"negative rows", -3, 1, 1, 0, {1}, -1},
        QrCase{"rhs length differs", 3, 2, 3, 2, {1, 2, 3, 4, 5, 6}, -2},
        QrCase{"no columns", 2, 0, 2, 2, {}, -3},
        QrCase{"no rows and no columns", 0, 0, 0, 0, {}, -3},
        QrCase{"leading dimension too short", 3, 1, 2, 3, {1, 2, 3}, -4},
        QrCase{"zero column", 3, 2, 3, 3, {1, 2, 3, 0, 0, 0}, 4},
        QrCase{"diagonal 1 and 1e-17", 2, 2, 2, 2, {1, 0, 0, 1e-17}, 4},
        // Refused when min |diagonal| <= max |diagonal| * m * eps (m = 2 rows).
        QrCase{"diagonal 1 and just above m eps passes", 2, 2, 2, 2,
               {1, 0, 0, std::nextafter(2 * kEps, 1.0)}, 0},
        QrCase{"diagonal 1 and m eps fails", 2, 2, 2, 2, {1, 0, 0, 2 * kEps}, 4},
        QrCase{"diagonal 2^50 and 1 passes", 2, 2, 2, 2, {0x1p50, 0, 0, 1}, 0},
        QrCase{"diagonal 2^51 and 1 fails", 2, 2, 2, 2, {0x1p51, 0, 0, -1}, 4},
        // The test is relative: no diagonal element counts as more than it is.
        QrCase{"diagonal 1e17 and 20 fails", 2, 2, 2, 2, {1e17, 0, 0, 20}, 4},
        QrCase{"diagonal 1e17 and 1e3 passes", 2, 2, 2, 2, {1e17, 0, 0, 1e3}, 0},
        // A larger problem draws the line higher: 4 rows.
        QrCase{"four rows, 1 and m eps fails", 4, 2, 4, 4, {1, 0, 0, 0, 0, 4 * kEps, 0, 0}, 4},
        QrCase{"four rows, 1 and just above passes", 4, 2, 4, 4,
               {1, 0, 0, 0, 0, std::nextafter(4 * kEps, 1.0), 0, 0}, 0},
        QrCase{"all zero fails the test", 3, 2, 3, 3, {0, 0, 0, 0, 0, 0}, 4},
        QrCase{"NaN entry", 3, 2, 3, 3, {1, kNaN, 3, 4, 5, 6}, 4},
        QrCase{"infinite entry", 3, 2, 3, 3, {1, 2, 3, 4, kInf, 6}, 4}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

// ---------------------------------------------------------------------------
// OLSPFIT

struct Outputs {
  std::vector<double> coef, cov, yfit, res, wres;
  double sres = 0, wresmax = 0;
  int istat = -12345;
  Outputs(int npts, int ncoef, double fill = 0.0)
      : coef(std::max(ncoef, 0), fill),
        cov((std::size_t)std::max(ncoef, 0) * std::max(ncoef, 0), fill),
        yfit(std::max(npts, 0), fill),
        res(std::max(npts, 0), fill),
        wres(std::max(npts, 0), fill),
        sres(fill),
        wresmax(fill) {}
  bool all_zero() const {
    for (const auto* v : {&coef, &cov, &yfit, &res, &wres})
      for (double e : *v)
        if (e != 0.0 || std::signbit(e)) return false;
    return sres == 0.0 && wresmax == 0.0;
  }
};

struct Data {
  std::vector<double> x, y, w;
};

void fit(const Data& d, int ncoef, double xmin, double xmax, Outputs& o) {
  OLSPFIT((int)d.x.size(), d.x.data(), d.y.data(), d.w.data(), ncoef, xmin, xmax, o.coef.data(),
          o.cov.data(), o.sres, o.yfit.data(), o.res.data(), o.wres.data(), o.wresmax, o.istat);
}

// Noisy data from a random polynomial: x random in the interval with both
// ends included, weights 1/u with u varying over a factor `spread`.
Data noisy_data(int npts, int ncoef, double xmin, double xmax, double spread, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  std::normal_distribution<double> g;
  std::vector<double> truth(ncoef);
  for (double& c : truth) c = g(rng);
  Data d;
  for (int i = 0; i < npts; ++i) {
    double x = i == 0 ? xmin : i == 1 ? xmax : xmin + (xmax - xmin) * u01(rng);
    x = std::clamp(x, xmin, xmax);
    const double t = quorvex::XSCALE(xmin, xmax, x);
    const double uy = 1e-3 * (1.0 + (spread - 1.0) * u01(rng));
    d.x.push_back(x);
    d.y.push_back(quorvex::CHEBSUM(ncoef, t, truth.data(), 1) + uy * g(rng));
    d.w.push_back(1.0 / uy);
  }
  return d;
}

struct FitCase {
  int npts, ncoef;
  double xmin, xmax;
  double spread;  // largest over smallest uncertainty
};

class OlsInvariants : public ::testing::TestWithParam<FitCase> {};

TEST_P(OlsInvariants, AgreesWithNormalEquationsInLongDouble) {
  const auto [npts, ncoef, xmin, xmax, spread] = GetParam();
  const Data d = noisy_data(npts, ncoef, xmin, xmax, spread, npts * 131 + ncoef);
  Outputs o(npts, ncoef);
  fit(d, ncoef, xmin, xmax, o);
  ASSERT_EQ(o.istat, 0);
  const NormalFit nf = normal_fit(ncoef, xmin, xmax, d.x, d.y, d.w);
  // Coefficients: within a few units of eps * cond(WB) of the exact answer
  // (the data are fitted well, so the residual term is small).
  const double kappa = std::sqrt((double)spd_condition(nf.m));
  long double cmax = 0;
  for (auto c : nf.c) cmax = std::max(cmax, std::fabs(c));
  for (int j = 0; j < ncoef; ++j)
    EXPECT_NEAR(o.coef[j], (double)nf.c[j], 16 * kEps * kappa * (double)cmax) << "j=" << j;
  if (npts > ncoef)
    EXPECT_NEAR(o.sres, (double)nf.sres, 1e-9 * (double)nf.sres);
  else
    EXPECT_EQ(o.sres, 0.0);
  // Covariance against the inverse of B'W^2B in long double, column by column.
  for (int j = 0; j < ncoef; ++j) {
    std::vector<long double> e(ncoef, 0.0L);
    e[j] = 1.0L;
    const auto col = cholesky_solve(nf.m, e);
    for (int i = 0; i < ncoef; ++i) {
      const double scale = std::sqrt(o.cov[i * ncoef + i] * o.cov[j * ncoef + j]);
      EXPECT_NEAR(o.cov[j * ncoef + i], (double)col[i], 16 * kEps * kappa * scale)
          << i << "," << j;
    }
  }
}

TEST_P(OlsInvariants, ResidualOrthogonalToTheWeightedDesign) {
  const auto [npts, ncoef, xmin, xmax, spread] = GetParam();
  const Data d = noisy_data(npts, ncoef, xmin, xmax, spread, npts * 17 + ncoef);
  Outputs o(npts, ncoef);
  fit(d, ncoef, xmin, xmax, o);
  ASSERT_EQ(o.istat, 0);

  // Weighted design A = W B (as built by the library), r = WRES.
  std::vector<double> basis((std::size_t)npts * ncoef);
  quorvex::CHEBBASIS(ncoef, xmin, xmax, npts, d.x.data(), basis.data(), npts);
  long double anorm2 = 0, ynorm2 = 0, wrmax = 0;
  for (int i = 0; i < npts; ++i) {
    ynorm2 += (long double)(d.w[i] * d.y[i]) * (d.w[i] * d.y[i]);
    wrmax = std::max<long double>(wrmax, std::fabs(o.wres[i]));
    for (int j = 0; j < ncoef; ++j) {
      const long double aij = (long double)d.w[i] * basis[(std::size_t)j * npts + i];
      anorm2 += aij * aij;
    }
  }
  for (int j = 0; j < ncoef; ++j) {
    long double s = 0;
    for (int i = 0; i < npts; ++i)
      s += (long double)d.w[i] * basis[(std::size_t)j * npts + i] * o.wres[i];
    // The residual comes from Q applied to (0, Q'b(n+1..m)): its error is a
    // few eps relative to ||Wy||, not to ||r||.
    EXPECT_LE((double)std::fabs(s),
              8 * kEps * std::sqrt((double)npts) * std::sqrt((double)(anorm2 * ynorm2)))
        << "column " << j;
  }
  EXPECT_EQ(o.wresmax, (double)wrmax);

  // Plain and weighted residuals and fitted values agree with each other.
  // Both carry rounding errors of a few eps (|y| + sum |phi_j c_j|).
  for (int i = 0; i < npts; ++i) {
    EXPECT_EQ(o.res[i], d.y[i] - o.yfit[i]);
    double scale = std::fabs(d.y[i]);
    for (int j = 0; j < ncoef; ++j)
      scale += std::fabs(basis[(std::size_t)j * npts + i] * o.coef[j]);
    EXPECT_NEAR(o.wres[i], d.w[i] * o.res[i], 8 * ncoef * kEps * d.w[i] * scale) << i;
  }
}

TEST_P(OlsInvariants, CovarianceInvertsTheWeightedNormalMatrix) {
  const auto [npts, ncoef, xmin, xmax, spread] = GetParam();
  const Data d = noisy_data(npts, ncoef, xmin, xmax, spread, npts * 7 + ncoef);
  Outputs o(npts, ncoef);
  fit(d, ncoef, xmin, xmax, o);
  ASSERT_EQ(o.istat, 0);
  const NormalFit nf = normal_fit(ncoef, xmin, xmax, d.x, d.y, d.w);
  const double kappa = (double)spd_condition(nf.m);
  for (int i = 0; i < ncoef; ++i)
    for (int j = 0; j < ncoef; ++j) {
      EXPECT_EQ(o.cov[j * ncoef + i], o.cov[i * ncoef + j]);  // symmetric exactly
      long double s = 0;
      for (int k = 0; k < ncoef; ++k) s += o.cov[k * ncoef + i] * nf.m[k][j];
      EXPECT_NEAR((double)s, i == j ? 1.0 : 0.0, 8 * kEps * kappa) << i << "," << j;
    }
}

TEST_P(OlsInvariants, EqualWeightsScaleOnlyTheWeightedResults) {
  const auto [npts, ncoef, xmin, xmax, spread] = GetParam();
  Data d = noisy_data(npts, ncoef, xmin, xmax, 1.0, npts * 3 + ncoef);
  std::fill(d.w.begin(), d.w.end(), 1.0);
  Outputs one(npts, ncoef);
  fit(d, ncoef, xmin, xmax, one);
  ASSERT_EQ(one.istat, 0);
  for (double c : {3.7, 0.125, 1e-3, 2.5e4}) {
    Data dc = d;
    std::fill(dc.w.begin(), dc.w.end(), c);
    Outputs o(npts, ncoef);
    fit(dc, ncoef, xmin, xmax, o);
    ASSERT_EQ(o.istat, 0);
    // Every row is scaled by c / c = 1: the solver sees the same problem.
    EXPECT_EQ(o.coef, one.coef);
    EXPECT_EQ(o.yfit, one.yfit);
    EXPECT_EQ(o.res, one.res);
    for (int i = 0; i < npts; ++i) EXPECT_EQ(o.wres[i], c * one.wres[i]);
    EXPECT_EQ(o.wresmax, c * one.wresmax);
    EXPECT_NEAR(o.sres, c * one.sres, 2 * kEps * c * one.sres);
    for (int k = 0; k < ncoef * ncoef; ++k)
      EXPECT_NEAR(o.cov[k], one.cov[k] / (c * c), 4 * ncoef * kEps * one.cov[0] / (c * c));
  }
}

INSTANTIATE_TEST_SUITE_P(
    DegreesAndIntervals, OlsInvariants,
    ::testing::Values(FitCase{5, 1, 0.0, 1.0, 1.0}, FitCase{12, 2, -1.0, 1.0, 10.0},
                      FitCase{30, 3, 0.0, 100.0, 5.0}, FitCase{40, 4, 1e6, 1e6 + 1.0, 10.0},
                      FitCase{50, 5, 1000.0, 1000.5, 3.0}, FitCase{60, 6, -5e4 - 2.0, -5e4, 10.0},
                      FitCase{80, 7, 0.0, 1e-3, 2.0}, FitCase{100, 8, 2.5e8, 2.5e8 + 64, 10.0},
                      FitCase{150, 9, -3.0, 7.0, 10.0}, FitCase{300, 10, 1e5, 1e5 + 0.25, 10.0},
                      FitCase{10, 10, 0.0, 1.0, 1.0}, FitCase{11, 10, 400.0, 401.0, 2.0}));

TEST(Olspfit, InterpolatesWhenPointsEqualCoefficients) {
  for (int n = 1; n <= 10; ++n) {
    // Chebyshev extrema on a narrow interval far from the origin.
    const double xmin = 5000.0, xmax = 5000.5;
    Data d;
    for (int i = 0; i < n; ++i) {
      const double t = n == 1 ? 0.0 : -std::cos(M_PI * i / (n - 1));
      d.x.push_back(std::clamp(xmin + 0.5 * (t + 1.0) * (xmax - xmin), xmin, xmax));
      d.y.push_back(std::sin(3.0 * i) + 2.0);
      d.w.push_back(1.0 + 0.5 * i);
    }
    Outputs o(n, n, 9.0);
    fit(d, n, xmin, xmax, o);
    ASSERT_EQ(o.istat, 0) << n;
    EXPECT_EQ(o.sres, 0.0);
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(o.res[i], 0.0, 64 * kEps) << n << " " << i;
      EXPECT_NEAR(o.wres[i], 0.0, 64 * kEps * d.w[i]) << n << " " << i;
    }
    EXPECT_LE(o.wresmax, 64 * kEps * 6.0);
  }
}

// The weight scale is the largest of all the weights, wherever it stands:
// a second weight 1e310 times the others (their quotient overflows) still
// gives the weighted mean, which is that point's response.
TEST(Olspfit, WeightScaleReadsEveryWeight) {
  for (std::size_t big = 0; big < 4; ++big) {
    Data d{{1, 2, 3, 4}, {10, 11, 13, 9}, {1e-10, 1e-10, 1e-10, 1e-10}};
    d.w[big] = 1e300;
    Outputs o(4, 1);
    fit(d, 1, 0.0, 5.0, o);
    ASSERT_EQ(o.istat, 0) << "large weight at " << big;
    EXPECT_NEAR(o.coef[0] / 2, d.y[big], 1e-12) << big;
  }
}

TEST(Olspfit, ClosedForms) {
  // A weighted mean: COEF(1)/2 = sum w^2 y / sum w^2, COV(1,1) = 4 / sum w^2.
  const Data mean{{1, 2, 3, 4}, {10, 11, 13, 9}, {1, 2, 0.5, 4}};
  Outputs o(4, 1);
  fit(mean, 1, 0.0, 5.0, o);
  ASSERT_EQ(o.istat, 0);
  const double sw2 = 1 + 4 + 0.25 + 16;
  const double ybar = (10 + 44 + 13 * 0.25 + 9 * 16) / sw2;
  EXPECT_NEAR(o.coef[0] / 2, ybar, 4 * kEps * ybar);
  EXPECT_NEAR(o.cov[0], 4 / sw2, 4 * kEps * 4 / sw2);

  // The line through (0, 1) and (2, 3) on [0, 2]: p = 4/2 + 1 t.
  const Data line{{0, 2}, {1, 3}, {1, 1}};
  Outputs l(2, 2);
  fit(line, 2, 0.0, 2.0, l);
  ASSERT_EQ(l.istat, 0);
  EXPECT_NEAR(l.coef[0], 4.0, 16 * kEps);
  EXPECT_NEAR(l.coef[1], 1.0, 4 * kEps);
  EXPECT_EQ(l.sres, 0.0);
  // Two points, unit weights: A = [0.5 -1; 0.5 1], (A'A)^-1 = diag(2, 0.5).
  EXPECT_NEAR(l.cov[0], 2.0, 4 * kEps);
  EXPECT_NEAR(l.cov[3], 0.5, 4 * kEps);
  EXPECT_NEAR(l.cov[1], 0.0, 4 * kEps);
  EXPECT_EQ(l.cov[1], l.cov[2]);
}

struct StatusCase {
  const char* what;
  int npts, ncoef;
  std::vector<double> x, w;
  double xmin, xmax;
  int istat;
};

class OlspfitStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(OlspfitStatus, StatusInOrderWithEveryOutputZero) {
  const StatusCase& c = GetParam();
  const std::vector<double> y(c.x.size(), 1.5);
  quorvex_test::HostLibrary lib;
  ASSERT_TRUE(lib.loaded()) << dlerror();
  auto* host_olspfit = QVX_HOST_FN(lib, OLSPFIT);
  ASSERT_NE(host_olspfit, nullptr);

  for (bool exported : {false, true}) {
    Outputs o(c.npts, c.ncoef, -7.0);
    if (exported) {
      host_olspfit(&c.npts, c.x.data(), y.data(), c.w.data(), &c.ncoef, &c.xmin, &c.xmax,
                   o.coef.data(), o.cov.data(), &o.sres, o.yfit.data(), o.res.data(),
                   o.wres.data(), &o.wresmax, &o.istat);
    } else {
      OLSPFIT(c.npts, c.x.data(), y.data(), c.w.data(), c.ncoef, c.xmin, c.xmax, o.coef.data(),
              o.cov.data(), o.sres, o.yfit.data(), o.res.data(), o.wres.data(), o.wresmax,
              o.istat);
    }
    EXPECT_EQ(o.istat, c.istat) << (exported ? "exported" : "internal");
    if (c.istat != 0) {
      // A count above 10 is never valid: the arrays it sizes are left alone.
      Outputs z = o;
      if (c.ncoef > 10) {
        for (const auto* v : {&o.coef, &o.cov})
          for (double e : *v) EXPECT_EQ(e, -7.0) << (exported ? "exported" : "internal");
        z.coef.assign(z.coef.size(), 0.0);
        z.cov.assign(z.cov.size(), 0.0);
      }
      EXPECT_TRUE(z.all_zero()) << (exported ? "exported" : "internal");
    }
  }
}

const std::vector<double> kX3{0.0, 1.0, 2.0};
const std::vector<double> kW3{1.0, 1.0, 1.0};

INSTANTIATE_TEST_SUITE_P(
    Cases, OlspfitStatus,
    ::testing::Values(
        StatusCase{"ncoef 0 before npts", -4, 0, {}, {}, 0.0, 2.0, 1},
        StatusCase{"ncoef negative", 3, -1, kX3, kW3, 0.0, 2.0, 1},
        StatusCase{"fewer points than coefficients", 3, 4, kX3, kW3, 0.0, 2.0, 2},
        StatusCase{"npts negative", -1, 2, {}, {}, 0.0, 2.0, 2},
        StatusCase{"11 coefficients with 12 points", 12, 11,
                   std::vector<double>(12, 1.0), {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, -1}, 0.0,
                   2.0, 3},
        StatusCase{"zero weight before a bad interval", 3, 2, kX3, {1, 0, 1}, 2.0, 0.0, 4},
        StatusCase{"negative weight", 3, 2, kX3, {1, 1, -1e-300}, 0.0, 2.0, 4},
        StatusCase{"empty interval before points outside", 3, 2, kX3, kW3, 1.0, 1.0, 5},
        StatusCase{"reversed interval", 3, 2, kX3, kW3, 2.0, 0.0, 5},
        StatusCase{"point below before point above", 3, 2, {-0.5, 1.0, 2.5}, kW3, 0.0, 2.0, 6},
        StatusCase{"point above", 3, 2, {0.0, 1.0, 2.0 + 1e-15}, kW3, 0.0, 2.0, 7},
        StatusCase{"all points at the centre", 3, 2, {1.0, 1.0, 1.0}, kW3, 0.0, 2.0, 24},
        StatusCase{"NaN abscissa", 3, 2, {0.0, NAN, 2.0}, kW3, 0.0, 2.0, 24},
        StatusCase{"NaN weight", 3, 2, kX3, {1.0, NAN, 1.0}, 0.0, 2.0, 24},
        StatusCase{"infinite weight", 3, 2, kX3, {1.0, INFINITY, 1.0}, 0.0, 2.0, 24},
        StatusCase{"ends of the interval accepted", 3, 2, kX3, kW3, 0.0, 2.0, 0},
        StatusCase{"ten coefficients accepted", 10, 10,
                   {0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5}, std::vector<double>(10, 2.0), 0.0,
                   4.5, 0}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(Olspfit, SuccessAfterFailureMatchesAFreshCall) {
  const Data d = noisy_data(25, 4, 10.0, 20.0, 4.0, 77);
  Outputs first(25, 4);
  fit(d, 4, 10.0, 20.0, first);
  ASSERT_EQ(first.istat, 0);

  Data bad = d;
  bad.x.assign(25, 15.0);  // every abscissa at the centre: singular design
  Outputs o(25, 4);
  fit(bad, 4, 10.0, 20.0, o);
  ASSERT_EQ(o.istat, 24);
  EXPECT_TRUE(o.all_zero());
  fit(d, 4, 9.0, 20.0, o);  // a different interval in between
  ASSERT_EQ(o.istat, 0);
  fit(d, 4, 10.0, 20.0, o);
  ASSERT_EQ(o.istat, 0);
  EXPECT_EQ(o.coef, first.coef);
  EXPECT_EQ(o.cov, first.cov);
  EXPECT_EQ(o.yfit, first.yfit);
  EXPECT_EQ(o.wres, first.wres);
  EXPECT_EQ(o.sres, first.sres);
}

TEST(Olspfit, ExportedEntryPointGivesTheInternalResults) {
  quorvex_test::HostLibrary lib;
  ASSERT_TRUE(lib.loaded()) << dlerror();
  auto* host_olspfit = QVX_HOST_FN(lib, OLSPFIT);
  ASSERT_NE(host_olspfit, nullptr);
  for (int ncoef : {1, 3, 6}) {
    const Data d = noisy_data(40, ncoef, -2.0, 3.0, 8.0, 1000 + ncoef);
    Outputs in(40, ncoef), ex(40, ncoef);
    fit(d, ncoef, -2.0, 3.0, in);
    const int npts = 40;
    const double xmin = -2.0, xmax = 3.0;
    host_olspfit(&npts, d.x.data(), d.y.data(), d.w.data(), &ncoef, &xmin, &xmax,
                 ex.coef.data(), ex.cov.data(), &ex.sres, ex.yfit.data(), ex.res.data(),
                 ex.wres.data(), &ex.wresmax, &ex.istat);
    ASSERT_EQ(in.istat, 0);
    ASSERT_EQ(ex.istat, 0);
    EXPECT_EQ(ex.coef, in.coef);
    EXPECT_EQ(ex.cov, in.cov);
    EXPECT_EQ(ex.yfit, in.yfit);
    EXPECT_EQ(ex.res, in.res);
    EXPECT_EQ(ex.wres, in.wres);
    EXPECT_EQ(ex.sres, in.sres);
    EXPECT_EQ(ex.wresmax, in.wresmax);
  }
}

// A thread keeps the fit's design and right-hand side: repeating a fit of
// the same or a smaller size allocates nothing and gives the same bits.  A
// workspace above the floor is given back after a fit that needs less than a
// quarter of it; the next such fit then obtains (and keeps) its own.
TEST(OlspfitKeptMemory, RepeatedFitsAllocateNothingAndALargeWorkspaceIsGivenBack) {
  // 800 000 x 10 design and right-hand side: 70.4 MB, above the 64 MiB floor.
  const int big_n = 800000, big_k = 10;
  const Data big = noisy_data(big_n, big_k, -1.0, 2.0, 3.0, 31);
  const Data small = noisy_data(1000, 3, -1.0, 2.0, 3.0, 32);
  ASSERT_GT(std::size_t{big_n} * (big_k + 1) * sizeof(double), quorvex::kKeepFloorBytes);
  quorvex_test::on_fresh_thread([&] {
    auto allocations = [](const Data& d, int ncoef, Outputs& o) {
      quorvex_test::alloc_count() = 0;
      fit(d, ncoef, -1.0, 2.0, o);
      EXPECT_EQ(o.istat, 0);
      return quorvex_test::alloc_count();
    };
    Outputs b1(big_n, big_k), b2(big_n, big_k), s1(1000, 3), s2(1000, 3), s3(1000, 3);
    EXPECT_EQ(allocations(big, big_k, b1), 2);  // design and right-hand side
    EXPECT_EQ(allocations(big, big_k, b2), 0);
    EXPECT_EQ(b1.coef, b2.coef);
    EXPECT_EQ(b1.yfit, b2.yfit);
    EXPECT_EQ(b1.wres, b2.wres);
    EXPECT_EQ(b1.cov, b2.cov);
    EXPECT_EQ(allocations(small, 3, s1), 0);  // served by the large one, which goes
    EXPECT_EQ(allocations(small, 3, s2), 2);
    EXPECT_EQ(allocations(small, 3, s3), 0);
    EXPECT_EQ(s1.coef, s2.coef);
    EXPECT_EQ(s1.res, s3.res);
    EXPECT_EQ(s1.wres, s3.wres);
  });
}

// What a thread keeps: everything up to the floor, above it what the latest
// fit used at least a quarter of, nothing above the cap.
TEST(KeptWorkspace, KeepsUpToTheFloorThenWhatIsUsedUpToTheCap) {
  constexpr std::size_t floor = quorvex::kKeepFloorBytes, cap = quorvex::kKeepMaxBytes;
  struct Case {
    std::size_t held, used;
    bool keep;
  };
  const Case cases[] = {
      {0, 0, true},
      {floor, 0, true},                 // at the floor: whatever the use
      {floor + 8, floor / 4 + 2, true},  // a quarter used
      {floor + 8, floor / 4 + 1, false},
      {cap, cap / 4, true},
      {cap, cap / 4 - 1, cap <= floor},  // (on a 32-bit host the cap is the floor)
      {cap + 1, cap + 1, false},         // above the cap: never
  };
  for (const Case& c : cases)
    EXPECT_EQ(quorvex::KEEPWRK(c.held, c.used), c.keep) << c.held << " " << c.used;
  EXPECT_GE(cap, floor);
  // 64-bit: a 10^6-point generalized fit at ten coefficients (about 380 bytes
  // per point at most) stays within the cap.
  if (sizeof(void*) >= 8) {
    EXPECT_GE(cap, std::size_t{380'000'000});
  }
}

TEST(Olspfit, StorageFailureAnywhereGives999WithOutputsZero) {
  const Data d = noisy_data(30, 5, 0.0, 1.0, 3.0, 5);
  Outputs ref(30, 5);
  fit(d, 5, 0.0, 1.0, ref);
  ASSERT_EQ(ref.istat, 0);
  // Fail the first, second, ... allocation until the fit gets through, each
  // time on a new thread (the thread's kept arrays would serve the fit).
  int failures = 0;
  for (long k = 0; k < 100; ++k) {
    Outputs o(30, 5, 3.0);
    bool fired = false;
    quorvex_test::on_fresh_thread([&] {
      g_fail_countdown = k;
      fit(d, 5, 0.0, 1.0, o);
      fired = g_fail_countdown < 0;
      g_fail_countdown = -1;
    });
    if (!fired) {
      EXPECT_EQ(o.istat, 0);
      EXPECT_EQ(o.coef, ref.coef);
      break;
    }
    ++failures;
    EXPECT_EQ(o.istat, 999) << "allocation " << k;
    EXPECT_TRUE(o.all_zero()) << "allocation " << k;
  }
  EXPECT_GE(failures, 2);  // the design and the right-hand side
}

}  // namespace
