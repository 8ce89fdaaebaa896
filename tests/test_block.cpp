// Packed triangles, Householder updates and the block-angular factor, product
// and solver, checked against dense computations: long double normal
// matrices, the dense LAPACK least-squares solver, and a literal
// block-by-block reference sweep for bitwise agreement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "gls/baprod.h"
#include "gls/balsq.h"
#include "numeric/bafactor.h"
#include "numeric/lapack.h"
#include "numeric/trpack.h"
#include "numeric/trqrupd.h"

namespace {

using quorvex::BAPROD;
using quorvex::BAQR;
using quorvex::BAQRUPD;
using quorvex::BALSQ;
using quorvex::BASOLVE;
using quorvex::HOUSEG;
using quorvex::packed_index;
using quorvex::packed_size;
using quorvex::TRPACK;
using quorvex::TRQRUPD;
using Vec = std::vector<double>;

// A workspace of its own for one call, empty as a thread's first solve finds
// it.
template <class Work>
Work& fresh() {
  thread_local Work w;
  w = Work();
  return w;
}
using LVec = std::vector<long double>;

constexpr double kEps = std::numeric_limits<double>::epsilon();

Vec random_vec(std::mt19937& g, std::size_t n) {
  std::normal_distribution<double> nd;
  Vec v(n);
  for (double& x : v) x = nd(g);
  return v;
}

// C = A' B in long double, A (m x p), B (m x q), leading dimension m.
LVec atb(int m, int p, int q, const Vec& a, const Vec& b) {
  LVec c(static_cast<std::size_t>(p) * q, 0.0L);
  for (int j = 0; j < q; ++j)
    for (int i = 0; i < p; ++i)
      for (int k = 0; k < m; ++k)
        c[i + j * p] += static_cast<long double>(a[k + i * m]) * b[k + j * m];
  return c;
}

long double max_abs(const LVec& v) {
  long double s = 0.0L;
  for (long double x : v) s = std::max(s, std::fabs(x));
  return s;
}

long double max_diff(const LVec& a, const LVec& b) {
  long double s = 0.0L;
  for (std::size_t i = 0; i < a.size(); ++i) s = std::max(s, std::fabs(a[i] - b[i]));
  return s;
}

// ---------------------------------------------------------------- TRPACK

TEST(Trpack, OrderThreeExample) {
  Vec ap = {1, 2, 3, 4, 5, 6}, r(9, -1.0);
  TRPACK(true, 3, ap.data(), r.data());
  EXPECT_EQ(r, (Vec{1, 0, 0, 2, 4, 0, 3, 5, 6}));  // rows (1 2 3), (0 4 5), (0 0 6)
}

TEST(Trpack, RoundTripIgnoresLowerPartAndMatchesIndexHelper) {
  std::mt19937 g(7);
  for (int n : {0, 1, 2, 5, 9}) {
    const std::size_t nn = n;
    Vec ap = random_vec(g, packed_size(nn)), r = random_vec(g, nn * nn), back(ap.size(), 0.0);
    Vec full(nn * nn, 0.0);
    TRPACK(true, n, ap.data(), full.data());
    for (std::size_t i = 0; i < nn; ++i)
      for (std::size_t j = 0; j < nn; ++j)
        EXPECT_EQ(full[i + j * nn], i <= j ? ap[packed_index(nn, i, j)] : 0.0);
    for (std::size_t i = 0; i < nn; ++i)  // garbage below the diagonal is not read
      for (std::size_t j = 0; j < i; ++j) full[i + j * nn] = r[i + j * nn];
    TRPACK(false, n, back.data(), full.data());
    EXPECT_EQ(back, ap) << "n = " << n;
  }
  Vec none;  // n = 0 touches nothing
  TRPACK(true, 0, none.data(), none.data());
}

// ---------------------------------------------------------------- HOUSEG

struct HouseCase {
  std::string name;
  Vec x;
};

void PrintTo(const HouseCase& c, std::ostream* os) { *os << c.name; }

class Reflector : public ::testing::TestWithParam<HouseCase> {};

TEST_P(Reflector, MapsVectorOntoFirstAxis) {  // H x = (alpha, 0, ..., 0), |alpha| = ||x||
  const Vec& x = GetParam().x;
  const int n = static_cast<int>(x.size());
  Vec v(x.size(), 99.0);
  double beta = -1, alpha = -1;
  HOUSEG(n, x.data(), beta, v.data(), alpha);
  long double nrm = 0.0L, big = 0.0L;
  for (double t : x) big = std::max(big, std::fabs((long double)t));
  for (double t : x) nrm += ((long double)t / big) * ((long double)t / big);
  nrm = big * std::sqrt(nrm);
  EXPECT_NEAR((double)(std::fabs((long double)alpha) / nrm), 1.0, 4 * kEps);
  EXPECT_EQ(std::signbit(alpha), x[0] >= 0.0) << "alpha opposes x(1)";
  long double vx = 0.0L;
  for (int i = 0; i < n; ++i) vx += (long double)v[i] * x[i];
  for (int i = 0; i < n; ++i) {
    const long double hx = x[i] - beta * v[i] * vx;
    EXPECT_NEAR((double)(hx / nrm), i == 0 ? alpha / (double)nrm : 0.0, 8 * kEps) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, Reflector,
    ::testing::Values(HouseCase{"positive_lead", {3, 4}}, HouseCase{"negative_lead", {-1, 2, -2}},
                      HouseCase{"zero_lead", {0, 5, 1e-3}},
                      HouseCase{"tiny", {1e-300, -3e-301, 2e-300, 5e-310}},
                      HouseCase{"huge", {-1e300, 1e300, 7e299}},
                      HouseCase{"already_on_axis", {-2, 0, 0}},
                      HouseCase{"mixed", {0.1, -7, 3, 1e-8, 2.5}}),
    [](const auto& info) { return info.param.name; });

TEST(Reflector, ZeroVectorGivesIdentity) {
  Vec x = {0.0, -0.0, 0.0}, v(3, 5.0);
  double beta = 1, alpha = 1;
  HOUSEG(3, x.data(), beta, v.data(), alpha);
  EXPECT_EQ(beta, 0.0);
  EXPECT_EQ(alpha, 0.0);
  EXPECT_EQ(v, Vec(3, 0.0));
}

// ---------------------------------------------------------------- TRQRUPD

TEST(Trqrupd, SmallExamples) {
  double a = 0.0, b = 0.0, c = 3.0, d = 4.0;
  TRQRUPD(1, 1, 1, &a, &b, &c, &d, fresh<quorvex::TrqrWork>());
  EXPECT_EQ(a, -3.0);
  EXPECT_EQ(b, -4.0);
  a = 2.0;
  c = 0.0;
  TRQRUPD(1, 1, 0, &a, nullptr, &c, nullptr, fresh<quorvex::TrqrWork>());
  EXPECT_EQ(a, -2.0);  // the reflector flips the sign, R'R unchanged
  a = 5.0;
  TRQRUPD(1, 0, 0, &a, nullptr, nullptr, nullptr, fresh<quorvex::TrqrWork>());
  EXPECT_EQ(a, 5.0);  // no rows: unchanged
}

struct UpdCase {
  int n, m, p;
};

void PrintTo(const UpdCase& c, std::ostream* os) {
  *os << "n=" << c.n << " m=" << c.m << " p=" << c.p;
}

class Update : public ::testing::TestWithParam<UpdCase> {};

// R~'R~ = R'R + C'C and R~'B~ = R'B + C'D, in one call and one row at a time.
TEST_P(Update, KeepsNormalEquations) {
  // Plain variables, not a structured binding: clang 14 cannot capture one.
  const int n = GetParam().n, m = GetParam().m, p = GetParam().p;
  std::mt19937 g(100 + n * 31 + m * 7 + p);
  Vec r = random_vec(g, n * n), bb = random_vec(g, n * p);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < i; ++j) r[i + j * n] = 0.0;
  const Vec c = random_vec(g, m * n), d = random_vec(g, m * p);
  // Expected normal matrices from the stacked matrix [C D; R B].
  const int ms = m + n;
  Vec s(static_cast<std::size_t>(ms) * (n + p));
  for (int j = 0; j < n + p; ++j)
    for (int i = 0; i < ms; ++i)
      s[i + j * ms] = i < m ? (j < n ? c[i + j * m] : d[i + (j - n) * m])
                            : (j < n ? r[(i - m) + j * n] : bb[(i - m) + (j - n) * n]);
  const LVec want = atb(ms, n + p, n + p, s, s);

  auto check = [&](Vec a, Vec b, const char* how) {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < i; ++j) a[i + j * n] = 0.0;  // lower part has no meaning
    Vec t(static_cast<std::size_t>(n) * (n + p));
    for (int j = 0; j < n + p; ++j)
      for (int i = 0; i < n; ++i) t[i + j * n] = j < n ? a[i + j * n] : b[i + (j - n) * n];
    const LVec got = atb(n, n + p, n + p, t, t);
    // Compare the R'R and R'B parts (the E'E part of the residual rows is dropped).
    long double err = 0.0L;
    for (int j = 0; j < n + p; ++j)
      for (int i = 0; i < std::min(j + 1, n); ++i)
        err = std::max(err, std::fabs(got[i + j * (n + p)] - want[i + j * (n + p)]));
    EXPECT_LT((double)(err / max_abs(want)), 64 * kEps) << how;
    return t;
  };

  Vec a1 = r, b1 = bb;
  TRQRUPD(n, m, p, a1.data(), b1.data(), c.data(), d.data(), fresh<quorvex::TrqrWork>());
  check(a1, b1, "all rows in one call");

  Vec a2 = r, b2 = bb;
  for (int i = 0; i < m; ++i) {
    Vec ci(n), di(p);
    for (int j = 0; j < n; ++j) ci[j] = c[i + j * m];
    for (int j = 0; j < p; ++j) di[j] = d[i + j * m];
    TRQRUPD(n, 1, p, a2.data(), b2.data(), ci.data(), di.data(), fresh<quorvex::TrqrWork>());
  }
  check(a2, b2, "one row per call");
}

INSTANTIATE_TEST_SUITE_P(Shapes, Update,
                         ::testing::Values(UpdCase{1, 1, 1}, UpdCase{3, 2, 1}, UpdCase{4, 2, 0},
                                           UpdCase{5, 7, 2}, UpdCase{11, 2, 1},
                                           UpdCase{6, 1, 3}));

TEST(Trqrupd, ZeroColumnLeavesRowsUnreflected) {
  // Column 1 is zero in R and C: its reflector is the identity, R~(1,1) = 0,
  // and row 1 of the stacked array, the first new row, stays as it was.
  const int n = 3, m = 2, p = 1;
  Vec r = {0, 0, 0, 2, 1, 0, -1, 3, 4}, b = {1, 2, 3};
  const Vec c = {0, 0, 1, 2, 5, -1}, d = {7, 8};
  TRQRUPD(n, m, p, r.data(), b.data(), c.data(), d.data(), fresh<quorvex::TrqrWork>());
  EXPECT_EQ(r[0], 0.0);
  EXPECT_EQ(r[0 + 1 * n], 1.0);
  EXPECT_EQ(r[0 + 2 * n], 5.0);
  EXPECT_EQ(b[0], 7.0);
}

// ---------------------------------------------------------------- block problems

struct Problem {
  int nb = 0, ncd = 0, ncb = 0, nrhs = 0, m = 0, nblk = 0;
  std::vector<int> idx;  // (nblk, 2)
  Vec jd, jb, b;
};

// Groups (block, rows) with random entries; genfit = the generalized fit's
// Jacobian shape (first row of each point without border entries).
Problem make_problem(int nb, int ncd, int ncb, int nrhs, const std::vector<std::pair<int, int>>& groups,
                     unsigned seed, bool genfit = false) {
  Problem q;
  q.nb = nb, q.ncd = ncd, q.ncb = ncb, q.nrhs = nrhs;
  q.nblk = static_cast<int>(groups.size());
  q.idx.resize(2 * groups.size());
  for (std::size_t k = 0; k < groups.size(); ++k) {
    q.idx[k] = groups[k].first;
    q.idx[groups.size() + k] = groups[k].second;
    q.m += groups[k].second;
  }
  std::mt19937 g(seed);
  q.jd = random_vec(g, static_cast<std::size_t>(q.m) * ncd);
  q.jb = random_vec(g, static_cast<std::size_t>(q.m) * ncb);
  q.b = random_vec(g, static_cast<std::size_t>(q.m) * nrhs);
  if (genfit)
    for (int i = 0; i < q.m; i += 2)
      for (int l = 0; l < ncb; ++l) q.jb[i + l * q.m] = 0.0;
  return q;
}

std::vector<std::pair<int, int>> one_group_per_block(int nb, int rows) {
  std::vector<std::pair<int, int>> g;
  for (int c = 1; c <= nb; ++c) g.emplace_back(c, rows);
  return g;
}

int ncols(const Problem& q) { return q.nb * q.ncd + q.ncb; }

// The dense m x n matrix.
Vec dense(const Problem& q) {
  const int n = ncols(q);
  Vec a(static_cast<std::size_t>(q.m) * n, 0.0);
  int r = 0;
  for (int k = 0; k < q.nblk; ++k) {
    const int c = q.idx[k], cnt = q.idx[q.nblk + k];
    for (int i = r; i < r + cnt; ++i)
      if (c > 0)
        for (int l = 0; l < q.ncd; ++l) a[i + ((c - 1) * q.ncd + l) * q.m] = q.jd[i + l * q.m];
    r += cnt;
  }
  for (int i = 0; i < q.m; ++i)
    for (int l = 0; l < q.ncb; ++l) a[i + (q.nb * q.ncd + l) * q.m] = q.jb[i + l * q.m];
  return a;
}

struct Factor {
  Vec r11, r12, r22, qb1, qb2, xs;
  double vers = 0;
  int info = -99;
};

Factor make_factor(const Problem& q, double fill = 0.0) {
  const std::size_t nbd = static_cast<std::size_t>(q.nb) * q.ncd;
  Factor f;
  f.r11.assign(q.nb * packed_size(q.ncd), fill);
  f.r12.assign(nbd * q.ncb, fill);
  f.r22.assign(packed_size(q.ncb), fill);
  f.qb1.assign(nbd * std::max(q.nrhs, 0), fill);
  f.qb2.assign(static_cast<std::size_t>(q.ncb) * std::max(q.nrhs, 0), fill);
  f.xs.assign(static_cast<std::size_t>(ncols(q)) * std::max(q.nrhs, 0), fill);
  return f;
}

Factor balsq(const Problem& q, double fill = 0.0) {
  Factor f = make_factor(q, fill);
  BALSQ(q.nb, q.ncd, q.ncb, q.nblk, q.m, q.idx.data(), q.jd.data(), q.jb.data(), q.nrhs,
        f.xs.data(), q.b.data(), f.r11.data(), f.r12.data(), f.r22.data(), f.qb1.data(),
        f.qb2.data(), f.vers, f.info, fresh<quorvex::BalsqWork>());
  return f;
}

// The factor as a dense upper triangular n x n matrix.
Vec dense_r(const Problem& q, const Factor& f) {
  const int n = ncols(q), nbd = q.nb * q.ncd;
  Vec r(static_cast<std::size_t>(n) * n, 0.0);
  for (int c = 0; c < q.nb; ++c)
    for (int i = 0; i < q.ncd; ++i) {
      for (int j = i; j < q.ncd; ++j)
        r[c * q.ncd + i + (c * q.ncd + j) * n] = f.r11[c + packed_index(q.ncd, i, j) * q.nb];
      for (int j = 0; j < q.ncb; ++j) r[c * q.ncd + i + (nbd + j) * n] = f.r12[c * q.ncd + i + j * nbd];
    }
  for (int i = 0; i < q.ncb; ++i)
    for (int j = i; j < q.ncb; ++j) r[nbd + i + (nbd + j) * n] = f.r22[packed_index(q.ncb, i, j)];
  return r;
}

// Dense least squares by LAPACK.
Vec dense_solve(const Problem& q) {
  const int n = ncols(q), m = q.m, nrhs = q.nrhs;
  Vec a = dense(q), b = q.b;
  int lwork = -1, info = 0;
  double wq = 0;
  dgels_("N", &m, &n, &nrhs, a.data(), &m, b.data(), &m, &wq, &lwork, &info, 1);
  lwork = static_cast<int>(wq);
  Vec work(lwork);
  dgels_("N", &m, &n, &nrhs, a.data(), &m, b.data(), &m, work.data(), &lwork, &info, 1);
  EXPECT_EQ(info, 0);
  Vec x(static_cast<std::size_t>(n) * nrhs);
  for (int j = 0; j < nrhs; ++j)
    for (int i = 0; i < n; ++i) x[i + j * n] = b[i + j * m];
  return x;
}

// Schur complement JB'JB - JB'D (D'D)^-1 D'JB of the normal matrix, by
// elimination of the block columns in long double.
LVec schur(const Problem& q) {
  const int n = ncols(q), nbd = q.nb * q.ncd;
  const Vec a = dense(q);
  LVec nm = atb(q.m, n, n, a, a);
  for (int k = 0; k < nbd; ++k)
    for (int i = k + 1; i < n; ++i) {
      const long double f = nm[i + k * n] / nm[k + k * n];
      for (int j = k; j < n; ++j) nm[i + j * n] -= f * nm[k + j * n];
    }
  LVec s(static_cast<std::size_t>(q.ncb) * q.ncb);
  for (int i = 0; i < q.ncb; ++i)
    for (int j = 0; j < q.ncb; ++j) s[i + j * q.ncb] = nm[nbd + i + (nbd + j) * n];
  return s;
}

// ---------------------------------------------------------------- BALSQ against dense

struct SolveCase {
  std::string name;
  int nb, ncd, ncb, nrhs;
  std::vector<std::pair<int, int>> groups;
  bool genfit;
};

void PrintTo(const SolveCase& c, std::ostream* os) { *os << c.name; }

class BlockSolve : public ::testing::TestWithParam<SolveCase> {
 protected:
  Problem problem() const {
    const auto& c = GetParam();
    return make_problem(c.nb, c.ncd, c.ncb, c.nrhs, c.groups, 1234 + c.nb * 13 + c.ncb, c.genfit);
  }
};

TEST_P(BlockSolve, AgreesWithDenseLeastSquares) {
  const Problem q = problem();
  const Factor f = balsq(q);
  ASSERT_EQ(f.info, 0);
  EXPECT_EQ(f.vers, 20021203.111);
  const Vec want = dense_solve(q);
  double scale = 1.0;
  for (double x : want) scale = std::max(scale, std::fabs(x));
  for (std::size_t i = 0; i < want.size(); ++i)
    EXPECT_NEAR(f.xs[i], want[i], 1e-12 * scale) << "row " << i;
}

TEST_P(BlockSolve, FactorReproducesNormalMatrixAndBorderSchurComplement) {
  const Problem q = problem();
  const Factor f = balsq(q);
  ASSERT_EQ(f.info, 0);
  const int n = ncols(q);
  // R'R = A'A.
  const Vec r = dense_r(q, f), a = dense(q);
  const LVec rr = atb(n, n, n, r, r), aa = atb(q.m, n, n, a, a);
  EXPECT_LT((double)(max_diff(rr, aa) / max_abs(aa)), 64 * kEps);
  // L L' = JB'JB - JB'D (D'D)^-1 D'JB with L = R0' held in r22.
  Vec r0(static_cast<std::size_t>(q.ncb) * q.ncb, 0.0);
  TRPACK(true, q.ncb, const_cast<double*>(f.r22.data()), r0.data());
  const LVec ll = atb(q.ncb, q.ncb, q.ncb, r0, r0), s = schur(q);
  if (q.ncb > 0) {
    EXPECT_LT((double)(max_diff(ll, s) / max_abs(s)), 256 * kEps);
  }
  // Q'b: the residual of the whole problem is orthogonal to A's columns.
  Vec res = q.b;
  for (int j = 0; j < q.nrhs; ++j)
    for (int l = 0; l < n; ++l)
      for (int i = 0; i < q.m; ++i) res[i + j * q.m] -= a[i + l * q.m] * f.xs[l + j * n];
  const LVec g = atb(q.m, n, q.nrhs, a, res);
  EXPECT_LT((double)max_abs(g), 1e-12 * (double)std::sqrt(max_abs(aa)) * q.m);
}

// The sweep equals, bit for bit, the literal sequence: for c = 0 .. nb gather
// the groups of block c in group order, unpack the touched blocks, update
// them with TRQRUPD and pack them back.
TEST_P(BlockSolve, SweepIsTheBlockByBlockSequenceBitForBit) {
  const Problem q = problem();
  const Factor f = balsq(q);
  ASSERT_EQ(f.info, 0);
  Factor e = make_factor(q);
  const int nd = q.ncd, ne = q.ncb, nbd = q.nb * nd, nr = q.nrhs;
  for (int c = 0; c <= q.nb; ++c) {
    Vec td, tb, tc;
    int rows = 0;
    for (int pass = 0; pass < 2; ++pass) {
      int r = 0, a = 0;
      for (int k = 0; k < q.nblk; ++k) {
        const int cnt = q.idx[q.nblk + k];
        if (q.idx[k] == c) {
          for (int i = 0; i < cnt && pass == 1; ++i) {
            for (int l = 0; l < nd; ++l) td[a + i + l * rows] = q.jd[r + i + l * q.m];
            for (int l = 0; l < ne; ++l) tb[a + i + l * rows] = q.jb[r + i + l * q.m];
            for (int l = 0; l < nr; ++l) tc[a + i + l * rows] = q.b[r + i + l * q.m];
          }
          a += cnt;
        }
        r += cnt;
      }
      if (pass == 0) {
        rows = a;
        td.assign(rows * nd, 0.0), tb.assign(rows * ne, 0.0), tc.assign(rows * nr, 0.0);
      }
    }
    if (rows == 0) continue;
    const int d = c > 0 ? nd : 0, n = d + ne;
    Vec t(static_cast<std::size_t>(n) * n, 0.0), gq(static_cast<std::size_t>(n) * nr, 0.0),
        cc(static_cast<std::size_t>(rows) * n);
    Vec rc(packed_size(nd)), rb(ne * ne);
    if (c > 0) {
      Vec rblk(nd * nd);
      for (std::size_t k = 0; k < rc.size(); ++k) rc[k] = e.r11[c - 1 + k * q.nb];
      TRPACK(true, nd, rc.data(), rblk.data());
      for (int i = 0; i < nd; ++i) {
        for (int j = 0; j < nd; ++j) t[i + j * n] = rblk[i + j * nd];
        for (int j = 0; j < ne; ++j) t[i + (nd + j) * n] = e.r12[(c - 1) * nd + i + j * nbd];
        for (int j = 0; j < nr; ++j) gq[i + j * n] = e.qb1[(c - 1) * nd + i + j * nbd];
      }
    }
    TRPACK(true, ne, e.r22.data(), rb.data());
    for (int i = 0; i < ne; ++i) {
      for (int j = 0; j < ne; ++j) t[d + i + (d + j) * n] = rb[i + j * ne];
      for (int j = 0; j < nr; ++j) gq[d + i + j * n] = e.qb2[i + j * ne];
    }
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < rows; ++i) cc[i + j * rows] = j < d ? td[i + j * rows] : tb[i + (j - d) * rows];
    TRQRUPD(n, rows, nr, t.data(), gq.data(), cc.data(), tc.data(), fresh<quorvex::TrqrWork>());
    if (c > 0) {
      Vec rblk(nd * nd);
      for (int i = 0; i < nd; ++i)
        for (int j = 0; j < nd; ++j) rblk[i + j * nd] = t[i + j * n];
      TRPACK(false, nd, rc.data(), rblk.data());
      for (std::size_t k = 0; k < rc.size(); ++k) e.r11[c - 1 + k * q.nb] = rc[k];
      for (int i = 0; i < nd; ++i) {
        for (int j = 0; j < ne; ++j) e.r12[(c - 1) * nd + i + j * nbd] = t[i + (nd + j) * n];
        for (int j = 0; j < nr; ++j) e.qb1[(c - 1) * nd + i + j * nbd] = gq[i + j * n];
      }
    }
    for (int i = 0; i < ne; ++i) {
      for (int j = 0; j < ne; ++j) rb[i + j * ne] = t[d + i + (d + j) * n];
      for (int j = 0; j < nr; ++j) e.qb2[i + j * ne] = gq[d + i + j * n];
    }
    TRPACK(false, ne, e.r22.data(), rb.data());
  }
  EXPECT_EQ(f.r11, e.r11);
  EXPECT_EQ(f.r12, e.r12);
  EXPECT_EQ(f.r22, e.r22);
  EXPECT_EQ(f.qb1, e.qb1);
  EXPECT_EQ(f.qb2, e.qb2);
}

// BASOLVE 't' then 'n' on the factor solves the normal equations R'R z = b.
TEST_P(BlockSolve, TransposedThenPlainSolveGivesNormalEquations) {
  const Problem q = problem();
  const Factor f = balsq(q);
  ASSERT_EQ(f.info, 0);
  const int n = ncols(q);
  std::mt19937 g(5);
  const Vec rhs = random_vec(g, static_cast<std::size_t>(n) * q.nrhs);
  Vec y(rhs.size(), 0.0), z(rhs.size(), 0.0);
  std::vector<int> iblk(q.nb);
  for (int c = 0; c < q.nb; ++c) iblk[c] = c + 1;
  int info = -99;
  BASOLVE('t', q.nb, q.ncd, q.ncb, f.r11.data(), f.r12.data(), f.r22.data(), q.nrhs, q.nb,
          iblk.data(), y.data(), rhs.data(), info);
  ASSERT_EQ(info, 0);
  BASOLVE('n', q.nb, q.ncd, q.ncb, f.r11.data(), f.r12.data(), f.r22.data(), q.nrhs, q.nb,
          iblk.data(), z.data(), y.data(), info);
  ASSERT_EQ(info, 0);
  const Vec r = dense_r(q, f);
  const LVec rr = atb(n, n, n, r, r);
  for (int j = 0; j < q.nrhs; ++j)
    for (int i = 0; i < n; ++i) {
      long double s = 0.0L;
      for (int k = 0; k < n; ++k) s += rr[i + k * n] * z[k + j * n];
      EXPECT_NEAR((double)s, rhs[i + j * n], 1e-11 * (1.0 + std::fabs(rhs[i + j * n])));
    }
}

// BAPROD 'N' and 'T' against the dense matrix.
TEST_P(BlockSolve, ProductsAgreeWithDenseMatrix) {
  const Problem q = problem();
  const int n = ncols(q), nr = std::max(q.nrhs, 1);
  const Vec a = dense(q);
  std::mt19937 g(9);
  const Vec x = random_vec(g, static_cast<std::size_t>(n) * nr);
  const Vec y = random_vec(g, static_cast<std::size_t>(q.m) * nr);
  Vec ax(y.size(), 7.0), aty(x.size(), 7.0);
  int info = -99;
  BAPROD('N', q.nb, q.ncd, q.ncb, q.nblk, q.m, nr, q.idx.data(), q.jd.data(), q.jb.data(),
         const_cast<double*>(x.data()), ax.data(), info);
  ASSERT_EQ(info, 0);
  BAPROD('t', q.nb, q.ncd, q.ncb, q.nblk, q.m, nr, q.idx.data(), q.jd.data(), q.jb.data(),
         aty.data(), const_cast<double*>(y.data()), info);
  ASSERT_EQ(info, 0);
  for (int j = 0; j < nr; ++j) {
    for (int i = 0; i < q.m; ++i) {
      long double s = 0.0L, t = 0.0L;
      for (int l = 0; l < n; ++l) {
        s += (long double)a[i + l * q.m] * x[l + j * n];
        t += std::fabs((long double)a[i + l * q.m] * x[l + j * n]);
      }
      EXPECT_NEAR(ax[i + j * q.m], (double)s, (q.ncd + q.ncb + 2) * kEps * (double)t) << "A x row " << i;
    }
    for (int l = 0; l < n; ++l) {
      long double s = 0.0L, t = 0.0L;
      for (int i = 0; i < q.m; ++i) {
        s += (long double)a[i + l * q.m] * y[i + j * q.m];
        t += std::fabs((long double)a[i + l * q.m] * y[i + j * q.m]);
      }
      EXPECT_NEAR(aty[l + j * n], (double)s, 2 * q.m * kEps * (double)t) << "A'y row " << l;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, BlockSolve,
    ::testing::Values(
        SolveCase{"three_points", 3, 1, 2, 1, {{1, 2}, {2, 2}, {3, 2}}, false},
        SolveCase{"shared_blocks_and_border_rows", 4, 2, 3, 1,
                  {{1, 2}, {2, 3}, {1, 1}, {0, 2}, {3, 2}, {4, 3}, {2, 1}, {0, 1}}, false},
        SolveCase{"unequal_groups_and_empty_groups", 3, 3, 1, 2,
                  {{2, 5}, {1, 0}, {1, 4}, {3, 3}, {0, 0}, {3, 1}, {2, 1}, {1, 1}}, false},
        SolveCase{"border_rows_last", 2, 1, 4, 1, {{1, 3}, {2, 3}, {0, 2}}, false},
        SolveCase{"no_border", 3, 2, 0, 2, {{1, 3}, {3, 2}, {2, 4}}, false},
        SolveCase{"border_only_columns", 2, 0, 3, 1, {{1, 2}, {0, 3}, {2, 2}}, false},
        SolveCase{"many_rhs", 6, 2, 2, 3,
                  {{6, 3}, {5, 2}, {4, 4}, {3, 2}, {2, 5}, {1, 3}, {0, 1}}, false},
        SolveCase{"generalized_fit_3", 40, 1, 3, 1, one_group_per_block(40, 2), true},
        SolveCase{"generalized_fit_10", 60, 1, 10, 1, one_group_per_block(60, 2), true},
        SolveCase{"generalized_fit_3_several_chunks", 260, 1, 3, 1, one_group_per_block(260, 2),
                  true},
        SolveCase{"two_row_blocks_8", 130, 1, 8, 1, one_group_per_block(130, 2), false}),
    [](const auto& info) { return info.param.name; });

// BAQR on two-row blocks of one column continues an existing factor exactly
// as one BAQRUPD per block in block order does.
TEST(BlockLsq, TwoRowBlocksContinueAFactorLikeBlockUpdates) {
  for (int ncb : {0, 1, 3, 8}) {
    for (int nb : {1, 128, 129, 300}) {
      const Problem q = make_problem(nb, 1, ncb, 1, one_group_per_block(nb, 2), 99 + nb + ncb);
      std::mt19937 g(5 + nb);
      Factor f = make_factor(q);
      f.r11 = random_vec(g, f.r11.size());
      f.r12 = random_vec(g, f.r12.size());
      f.r22 = random_vec(g, f.r22.size());
      f.qb1 = random_vec(g, f.qb1.size());
      f.qb2 = random_vec(g, f.qb2.size());
      Factor e = f;
      quorvex::TrqrWork ws;
      int info = -99;
      BAQR(nb, 1, ncb, q.m, 1, f.r11.data(), f.r12.data(), f.r22.data(), f.qb1.data(),
           f.qb2.data(), nb, q.idx.data(), q.jd.data(), q.jb.data(), q.b.data(), info,
           fresh<quorvex::BalsqWork>());
      ASSERT_EQ(info, 0);
      for (int c = 1; c <= nb; ++c) {
        const std::ptrdiff_t r = 2 * (c - 1);
        // (Without border columns jb is empty: no offset from its null data.)
        const double* jb = q.jb.empty() ? q.jb.data() : q.jb.data() + r;
        BAQRUPD(c, nb, 1, ncb, 2, 1, e.r11.data(), e.r12.data(), e.r22.data(), e.qb1.data(),
                e.qb2.data(), q.jd.data() + r, q.m, jb, q.m, q.b.data() + r, q.m, info, ws);
        ASSERT_EQ(info, 0);
      }
      EXPECT_EQ(f.r11, e.r11) << nb << " " << ncb;
      EXPECT_EQ(f.r12, e.r12) << nb << " " << ncb;
      EXPECT_EQ(f.r22, e.r22) << nb << " " << ncb;
      EXPECT_EQ(f.qb1, e.qb1) << nb << " " << ncb;
      EXPECT_EQ(f.qb2, e.qb2) << nb << " " << ncb;
    }
  }
}

// ---------------------------------------------------------------- worked example

TEST(BlockFactor, TwoBlockExample) {
  // Rows [1 | 1] in block 1, [1 | 2] in block 2, [0 | 1] on the border, all
  // with right-hand side 1: the solution of the 3 x 3 system is (0, -1, 1).
  double r11[2] = {0, 0}, r12[2] = {0, 0}, r22 = 0, qb1[2] = {0, 0}, qb2 = 0;
  const double one = 1.0, two = 2.0;
  int info = -99;
  BAQRUPD(1, 2, 1, 1, 1, 1, r11, r12, &r22, qb1, &qb2, &one, 1, &one, 1, &one, 1, info,
          fresh<quorvex::TrqrWork>());
  ASSERT_EQ(info, 0);
  BAQRUPD(2, 2, 1, 1, 1, 1, r11, r12, &r22, qb1, &qb2, &one, 1, &two, 1, &one, 1, info,
          fresh<quorvex::TrqrWork>());
  ASSERT_EQ(info, 0);
  BAQRUPD(0, 2, 1, 1, 1, 1, r11, r12, &r22, qb1, &qb2, nullptr, 1, &one, 1, &one, 1, info,
          fresh<quorvex::TrqrWork>());
  ASSERT_EQ(info, 0);
  const int iblk[2] = {1, 2};
  const double rhs[3] = {qb1[0], qb1[1], qb2};
  double sol[3] = {9, 9, 9};
  BASOLVE('n', 2, 1, 1, r11, r12, &r22, 1, 2, iblk, sol, rhs, info);
  ASSERT_EQ(info, 0);
  EXPECT_NEAR(sol[0], 0.0, 4 * kEps);
  EXPECT_NEAR(sol[1], -1.0, 4 * kEps);
  EXPECT_NEAR(sol[2], 1.0, 4 * kEps);
}

// ---------------------------------------------------------------- statuses

TEST(BlockFactor, UpdateStatusesLeaveFactorUnchanged) {
  struct C {
    int kb, nb, ncd, ncb, m, nrhs, info;
  };
  const C cases[] = {{-1, 2, 1, 1, 1, 1, -1}, {3, 2, 1, 1, 1, 1, -1}, {0, -1, 1, 1, 1, 1, -1},
                     {1, 2, -1, 1, 1, 1, -3}, {1, 2, 1, -1, 1, 1, -4}, {1, 2, 1, 1, -1, 1, -5},
                     {1, 2, 1, 1, 1, -1, -6}, {1, 2, 1, 1, 0, 1, 0},   {0, 0, 0, 0, 0, 0, 0}};
  for (const C& c : cases) {
    Vec r11(4, 3.0), r12(4, 3.0), r22(4, 3.0), qb1(4, 3.0), qb2(4, 3.0);
    const Vec rows(8, 1.0);
    int info = -99;
    BAQRUPD(c.kb, c.nb, c.ncd, c.ncb, c.m, c.nrhs, r11.data(), r12.data(), r22.data(), qb1.data(),
            qb2.data(), rows.data(), c.m, rows.data(), c.m, rows.data(), c.m, info,
            fresh<quorvex::TrqrWork>());
    EXPECT_EQ(info, c.info) << "kb " << c.kb << " m " << c.m;
    for (const Vec* v : {&r11, &r12, &r22, &qb1, &qb2}) EXPECT_EQ(*v, Vec(4, 3.0));
  }
  // Leading dimensions below m = 2, each in turn; m itself is accepted.
  struct L {
    std::ptrdiff_t ldjd, ldjb, ldrhs;
    int info;
  };
  for (const L& c : {L{1, 2, 2, -12}, L{2, 1, 2, -14}, L{2, 2, 1, -16}, L{2, 2, 2, 0}}) {
    Vec r11(4, 3.0), r12(4, 3.0), r22(4, 3.0), qb1(4, 3.0), qb2(4, 3.0);
    const Vec rows(8, 1.0);
    quorvex::TrqrWork ws;
    int info = -99;
    BAQRUPD(1, 2, 1, 1, 2, 1, r11.data(), r12.data(), r22.data(), qb1.data(), qb2.data(),
            rows.data(), c.ldjd, rows.data(), c.ldjb, rows.data(), c.ldrhs, info, ws);
    EXPECT_EQ(info, c.info) << c.ldjd << " " << c.ldjb << " " << c.ldrhs;
    if (c.info != 0) {
      for (const Vec* v : {&r11, &r12, &r22, &qb1, &qb2}) EXPECT_EQ(*v, Vec(4, 3.0));
    }
  }
}

TEST(BlockFactor, SolveStatuses) {
  // nb = 2, ncd = 2, ncb = 2, a factor with block 2 never filled.
  Problem q = make_problem(2, 2, 2, 1, {{1, 3}, {0, 2}}, 77);
  const Factor f = balsq(q);
  EXPECT_EQ(f.info, (2 - 1) * 2 + 1);  // first row of group 2 (block 2)
  const double* r11 = f.r11.data();
  const double* r12 = f.r12.data();
  const double* r22 = f.r22.data();
  std::mt19937 g(3);
  const Vec rhs = random_vec(g, 8);
  struct C {
    char trans;
    int nbr;
    std::vector<int> iblk;
    int nrhs, info;
    bool touched;
  };
  const C cases[] = {
      {'N', 2, {1, 2}, 1, -1, false}, {'T', 2, {1, 2}, 1, -1, false},
      {'x', 2, {1, 2}, 1, -1, false}, {'n', 3, {1, 2, 1}, 1, -9, false},
      {'n', -1, {}, 1, -9, false},    {'n', 2, {1, 3}, 1, -10, false},
      {'t', 2, {0, 1}, 1, -10, false}, {'n', 2, {1, 1}, -1, -8, false},
      {'n', 2, {1, 1}, 1, 0, true},   {'n', 2, {2, 1}, 1, 1, true},  // block 2 first: row 1
      {'n', 2, {1, 2}, 1, 3, true},   {'t', 2, {1, 2}, 1, 3, true},
      {'t', 1, {2}, 1, 1, true},
  };
  for (const C& c : cases) {
    const int ld = std::max(c.nbr, 0) * 2 + 2;
    Vec sol(static_cast<std::size_t>(ld), 5.0), r(rhs.begin(), rhs.begin() + ld);
    int info = -99;
    BASOLVE(c.trans, 2, 2, 2, r11, r12, r22, c.nrhs, c.nbr, c.iblk.data(), sol.data(), r.data(),
            info);
    EXPECT_EQ(info, c.info) << c.trans << " nbr " << c.nbr;
    EXPECT_EQ(sol != Vec(sol.size(), 5.0), c.touched) << c.trans << " nbr " << c.nbr;
  }
}

TEST(BlockFactor, ZeroBorderPivotIsReportedAfterBorderRowsAreStored) {
  // Border column 2 is zero everywhere: R0(2,2) = 0.
  Problem q = make_problem(2, 1, 2, 1, {{1, 2}, {2, 2}, {0, 1}}, 11);
  for (int i = 0; i < q.m; ++i) q.jb[i + q.m] = 0.0;
  const Factor f = balsq(q, 7.0);
  EXPECT_EQ(f.info, 2 * 1 + 2);
  EXPECT_EQ(f.r22[packed_index(2, 1, 1)], 0.0);
  EXPECT_EQ(f.xs[3], f.qb2[1]);  // border rows stored, then the solve stopped
  // Block rows never reached: the solve runs in place, so they still hold
  // their right-hand side.
  EXPECT_EQ(f.xs[0], f.qb1[0]);
  EXPECT_EQ(f.xs[1], f.qb1[1]);
}

TEST(BlockLsq, StructureAndArgumentStatuses) {
  const Problem good = make_problem(3, 1, 2, 1, {{1, 2}, {2, 2}, {3, 2}}, 21);
  struct C {
    std::string name;
    std::vector<int> idx;  // (3, 2)
    int m, nb, ncd, ncb, nrhs, info;
    bool cleared;
  };
  const int fail = 3 * 1 + 2 + 1;
  const C cases[] = {
      {"rows_one_too_many", {1, 2, 3, 2, 2, 3}, 6, 3, 1, 2, 1, -6, false},
      {"rows_too_few", {1, 2, 3, 2, 2, 1}, 6, 3, 1, 2, 1, -6, false},
      {"block_above_nb", {1, 2, 4, 2, 2, 2}, 6, 3, 1, 2, 1, -6, false},
      {"negative_block", {1, -1, 3, 2, 2, 2}, 6, 3, 1, 2, 1, -6, false},
      {"negative_count", {1, 1, 1, 2, -2, 6}, 6, 3, 1, 2, 1, -6, false},
      {"negative_m", {1, 2, 3, 2, 2, 2}, -1, 3, 1, 2, 1, -6, false},
      {"negative_nb", {1, 2, 3, 2, 2, 2}, 6, -1, 1, 2, 1, -1, false},
      {"negative_ncd", {1, 2, 3, 2, 2, 2}, 6, 3, -1, 2, 1, -2, false},
      {"negative_ncb", {1, 2, 3, 2, 2, 2}, 6, 3, 1, -1, 1, -3, false},
      {"negative_nrhs", {1, 2, 3, 2, 2, 2}, 6, 3, 1, 2, -1, fail, true},
      {"good", {1, 2, 3, 2, 2, 2}, 6, 3, 1, 2, 1, 0, true},
  };
  for (const C& c : cases) {
    Problem q = good;
    q.idx = c.idx;
    Factor f = make_factor(q, 3.0);
    f.vers = 0.0;
    BALSQ(c.nb, c.ncd, c.ncb, 3, c.m, q.idx.data(), q.jd.data(), q.jb.data(), c.nrhs,
          f.xs.data(), q.b.data(), f.r11.data(), f.r12.data(), f.r22.data(), f.qb1.data(),
          f.qb2.data(), f.vers, f.info, fresh<quorvex::BalsqWork>());
    EXPECT_EQ(f.info, c.info) << c.name;
    EXPECT_EQ(f.vers, quorvex::kBalsqVersion) << c.name;
    for (const Vec* v : {&f.r11, &f.r12, &f.r22})
      EXPECT_EQ(*v == Vec(v->size(), 3.0), !c.cleared) << c.name;
    for (const Vec* v : {&f.qb1, &f.qb2})  // cleared as nb*ncd x nrhs, ncb x nrhs
      EXPECT_EQ(*v == Vec(v->size(), 3.0), !c.cleared || c.nrhs < 0) << c.name;
  }
}

TEST(BlockLsq, SweepStatuses) {
  const Problem q = make_problem(2, 1, 1, 1, {{1, 2}, {2, 2}}, 5);
  struct C {
    int nb, ncd, ncb, m, nrhs, info;
    std::vector<int> idx;
  };
  const C cases[] = {{-1, 1, 1, 4, 1, -1, {1, 2, 2, 2}}, {2, -1, 1, 4, 1, -2, {1, 2, 2, 2}},
                     {2, 1, -1, 4, 1, -3, {1, 2, 2, 2}}, {2, 1, 1, -1, 1, -4, {1, 2, 2, 2}},
                     {2, 1, 1, 4, -1, -5, {1, 2, 2, 2}}, {2, 1, 1, 4, 1, -12, {1, 3, 2, 2}},
                     {2, 1, 1, 4, 1, -12, {1, 2, 5, -1}}, {2, 1, 1, 0, 1, -12, {1, 2, 2, 2}},
                     {2, 1, 1, 0, 1, 0, {1, 2, 0, 0}},     {2, 1, 1, 4, 1, 0, {1, 2, 2, 2}}};
  for (const C& c : cases) {
    Factor f = make_factor(q);
    int info = -99;
    BAQR(c.nb, c.ncd, c.ncb, c.m, c.nrhs, f.r11.data(), f.r12.data(), f.r22.data(), f.qb1.data(),
         f.qb2.data(), 2, c.idx.data(), q.jd.data(), q.jb.data(), q.b.data(), info,
         fresh<quorvex::BalsqWork>());
    EXPECT_EQ(info, c.info) << "nb " << c.nb << " m " << c.m;
    EXPECT_EQ(f.r22[0] != 0.0, info == 0 && c.m > 0);
  }
}

TEST(BlockProduct, StatusesWriteNothing) {
  const Problem q = make_problem(2, 1, 1, 1, {{1, 2}, {2, 2}}, 5);
  struct C {
    char trans;
    int nb, ncd, ncb, m, nrhs, info;
    std::vector<int> idx;
  };
  const C cases[] = {{'x', 2, 1, 1, 4, 1, -1, {1, 2, 2, 2}}, {'N', -1, 1, 1, 4, 1, -2, {1, 2, 2, 2}},
                     {'n', 2, -1, 1, 4, 1, -3, {1, 2, 2, 2}}, {'t', 2, 1, -1, 4, 1, -4, {1, 2, 2, 2}},
                     {'T', 2, 1, 1, -1, 1, -6, {1, 2, 2, 2}}, {'N', 2, 1, 1, 4, -1, -7, {1, 2, 2, 2}},
                     {'N', 2, 1, 1, 4, 1, -8, {3, 2, 2, 2}},  {'T', 2, 1, 1, 4, 1, -8, {1, 2, 3, 2}},
                     {'T', 2, 1, 1, 4, 1, -8, {1, 2, -1, 2}}, {'N', 2, 1, 1, 4, 1, -8, {1, 2, 2, -1}}};
  for (const C& c : cases) {
    Vec x(3, 4.0), y(4, 4.0);
    int info = -99;
    BAPROD(c.trans, c.nb, c.ncd, c.ncb, 2, c.m, c.nrhs, c.idx.data(), q.jd.data(), q.jb.data(),
           x.data(), y.data(), info);
    EXPECT_EQ(info, c.info) << c.trans;
    EXPECT_EQ(x, Vec(3, 4.0));
    EXPECT_EQ(y, Vec(4, 4.0));
  }
}

TEST(BlockProduct, RowsBeyondGroupsTakeOnlyTheBorder) {
  // Two groups cover 3 of 5 rows; rows 4 and 5 get A x = JB x_border only,
  // and add only to the border part of A'y.
  const int m = 5;
  const std::vector<int> idx = {2, 2, 1, 2};  // groups (2, 1 row), (2, 2 rows): shared block
  const Vec jd = {1, 2, 3, 4, 5}, jb = {1, 1, 1, 1, 1, 0, 1, 0, 2, 3};
  const Vec x = {10, 20, 1, 2};
  Vec y(m), xt(4);
  int info = -99;
  BAPROD('N', 2, 1, 2, 2, m, 1, idx.data(), jd.data(), jb.data(), const_cast<double*>(x.data()),
         y.data(), info);
  ASSERT_EQ(info, 0);
  EXPECT_EQ(y, (Vec{1 * 20 + 1, 2 * 20 + 1 + 2, 3 * 20 + 1, 1 + 4, 1 + 6}));
  const Vec yy = {1, 1, 1, 1, 1};
  BAPROD('T', 2, 1, 2, 2, m, 1, idx.data(), jd.data(), jb.data(), xt.data(),
         const_cast<double*>(yy.data()), info);
  ASSERT_EQ(info, 0);
  EXPECT_EQ(xt, (Vec{0, 1 + 2 + 3, 5, 6}));
}

}  // namespace

// Bit patterns, so that NaNs and signed zeros compare exactly.
std::vector<std::uint64_t> bits(const Vec& v) {
  std::vector<std::uint64_t> b(v.size());
  std::memcpy(b.data(), v.data(), v.size() * sizeof(double));
  return b;
}

// A border given by its odd rows only (the even rows zero) gives the very
// bits of the full border: products with it, transposed products over NaN,
// Inf and signed zeros in the right-hand side, and the two-row block solve.
TEST(BlockOddBorder, SameBitsAsTheFullBorder) {
  std::mt19937_64 g(606);
  std::normal_distribution<double> nd(0.0, 1.0);
  const double inf = std::numeric_limits<double>::infinity();
  for (const int nb : {1, 7, 300, 600}) {
    for (const int ncb : {1, 3, 6}) {
      const int m = 2 * nb;
      const std::size_t mm = static_cast<std::size_t>(m), n = static_cast<std::size_t>(nb),
                        ne = static_cast<std::size_t>(ncb);
      std::vector<int> idx(2 * n);
      for (std::size_t i = 0; i < n; ++i) {
        idx[i] = static_cast<int>(i) + 1;
        idx[n + i] = 2;
      }
      Vec jd(mm), odd(n * ne), full(mm * ne, 0.0), y(mm), x(n + ne);
      for (double& v : jd) v = nd(g);
      for (double& v : odd) v = nd(g);
      for (std::size_t l = 0; l < ne; ++l)
        for (std::size_t i = 0; i < n; ++i) full[2 * i + 1 + l * mm] = odd[i + l * n];
      for (double& v : y) v = nd(g);
      for (double& v : x) v = nd(g);
      SCOPED_TRACE(testing::Message() << "nb " << nb << " ncb " << ncb);

      // Transposed product, ordinary and with extreme even-row entries.
      for (const double special : {1.0, -0.0, inf, std::nan("")}) {
        Vec ys = y;
        ys[0] = special == 1.0 ? ys[0] : special;
        Vec xf(n + ne, 9.0), xo(n + ne, 9.0);
        int i1 = 1, i2 = 1;
        BAPROD('t', nb, 1, ncb, nb, m, 1, idx.data(), jd.data(), full.data(), xf.data(),
               ys.data(), i1);
        BAPROD('t', nb, 1, ncb, nb, m, 1, idx.data(), jd.data(), odd.data(), xo.data(),
               ys.data(), i2, true);
        EXPECT_EQ(i1, 0);
        EXPECT_EQ(i2, 0);
        EXPECT_EQ(bits(xf), bits(xo)) << special;
      }
      // Product.
      Vec yf(mm), yo(mm);
      int i1 = 1, i2 = 1;
      BAPROD('n', nb, 1, ncb, nb, m, 1, idx.data(), jd.data(), full.data(), x.data(), yf.data(),
             i1);
      BAPROD('n', nb, 1, ncb, nb, m, 1, idx.data(), jd.data(), odd.data(), x.data(), yo.data(),
             i2, true);
      EXPECT_EQ(i1, 0);
      EXPECT_EQ(i2, 0);
      EXPECT_EQ(bits(yf), bits(yo));

      // Block least squares.
      auto solve = [&](const Vec& jb, bool odd_border, Vec& xs, Vec& r22) {
        Vec r11(n), r12(n * ne), qb1(n), qb2(ne);
        r22.assign(ne * (ne + 1) / 2, 0.0);
        xs.assign(n + ne, 0.0);
        double vers = 0.0;
        int info = -99;
        quorvex::BalsqWork work;
        BALSQ(nb, 1, ncb, nb, m, idx.data(), jd.data(), jb.data(), 1, xs.data(), y.data(),
              r11.data(), r12.data(), r22.data(), qb1.data(), qb2.data(), vers, info, work,
              odd_border);
        return info;
      };
      Vec xsf, xso, r22f, r22o;
      // (Fewer rows than unknowns at nb = 1 give the same zero pivot.)
      const int infof = solve(full, false, xsf, r22f);
      EXPECT_EQ(solve(odd, true, xso, r22o), infof);
      if (nb > 6) {
        EXPECT_EQ(infof, 0);
      }
      EXPECT_EQ(bits(xsf), bits(xso));
      EXPECT_EQ(bits(r22f), bits(r22o));
    }
  }
  // An odd row count has no odd-row border.
  int info = 0;
  Vec jd(3, 1.0), jb(1, 1.0), xv(2), yv(3, 1.0);
  const int idx[2] = {1, 3};
  BAPROD('t', 1, 1, 1, 1, 3, 1, idx, jd.data(), jb.data(), xv.data(), yv.data(), info, true);
  EXPECT_EQ(info, -6);
}

// The one-column, one-right-hand-side solve (the generalized fit's) has a
// path of its own; each column of a solve with two right-hand sides takes
// the general path through the same operations.  With the two columns equal,
// both give the same bits and the same status, also for a zero block pivot
// (where the groups before it are solved, its own row holds the reduced
// right-hand side and the rest stays), for groups in any order or a subset,
// in place, and with a border wider than the path holds locally.
TEST(BlockFactor, OneColumnSolveMatchesTheGeneralPathBitForBit) {
  std::mt19937_64 g(707);
  std::normal_distribution<double> nd(0.0, 1.0);
  for (const int nb : {1, 5, 40}) {
    for (const int ncb : {0, 1, 3, 17}) {
      for (int variant = 0; variant < 4; ++variant) {
        const std::size_t n = static_cast<std::size_t>(nb), ne = static_cast<std::size_t>(ncb);
        Vec r11(n), r12(n * ne), r22(ne * (ne + 1) / 2);
        for (double& v : r11) v = nd(g);
        for (double& v : r12) v = nd(g);
        for (double& v : r22) v = 2.0 + std::fabs(nd(g));
        std::vector<int> iblk(n);
        for (std::size_t c = 0; c < n; ++c) iblk[c] = static_cast<int>(c) + 1;
        std::shuffle(iblk.begin(), iblk.end(), g);
        int nbr = nb;
        if (variant == 1) nbr = std::max(1, nb / 2);   // a subset of the groups
        if (variant == 2) r11[iblk[nbr / 2] - 1] = 0.0;  // a zero pivot midway
        if (variant == 3) r11[iblk[0] - 1] = -0.0;       // at the first group
        const std::size_t ld = static_cast<std::size_t>(nbr) + ne;
        Vec rhs1(ld), rhs2(2 * ld);
        for (std::size_t i = 0; i < ld; ++i) rhs1[i] = rhs2[i] = rhs2[ld + i] = nd(g);
        Vec sol1(ld, 9.0), sol2(2 * ld, 9.0), inplace = rhs1;
        int info1 = -99, info2 = -99, info3 = -99;
        BASOLVE('n', nb, 1, ncb, r11.data(), r12.data(), r22.data(), 1, nbr, iblk.data(),
                sol1.data(), rhs1.data(), info1);
        BASOLVE('n', nb, 1, ncb, r11.data(), r12.data(), r22.data(), 2, nbr, iblk.data(),
                sol2.data(), rhs2.data(), info2);
        BASOLVE('n', nb, 1, ncb, r11.data(), r12.data(), r22.data(), 1, nbr, iblk.data(),
                inplace.data(), inplace.data(), info3);
        SCOPED_TRACE(testing::Message() << "nb " << nb << " ncb " << ncb << " variant "
                                        << variant);
        EXPECT_EQ(info1, info2);
        EXPECT_EQ(info1, info3);
        EXPECT_EQ(info1 != 0, variant >= 2);
        EXPECT_EQ(bits(sol1), bits(Vec(sol2.begin(), sol2.begin() + ld)));
        EXPECT_EQ(bits(sol1), bits(Vec(sol2.begin() + ld, sol2.end())));
        if (info1 == 0) {
          EXPECT_EQ(bits(sol1), bits(inplace));
        }
      }
    }
  }
}
