// The laboratory library's distributions and reading back, called through
// its exported names as a host calls them: quantiles against 45-digit values,
// roots and u(x) against IPVAL's bits, the inversion interval of a straight
// line against its closed form, the flags and the statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "host_library.h"
#include "quorvex_lab.h"

namespace {

using quorvex_test::HostLibrary;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const HostLibrary& lab() {
  static const HostLibrary lib(QUORVEX_LAB_SHARED_LIBRARY);
  return lib;
}
const HostLibrary& engine() {
  static const HostLibrary lib;
  return lib;
}

// --- Distributions ---------------------------------------------------------

struct Quantile {
  int dist;
  double x;  // a probability for a quantile (dist 1, 2), a value for a tail (3, 4)
  double par1, par2;
  double want;  // 45-digit mpmath value, rounded
};

// Quantiles (two-sided 95 % and 99 % levels) at the degrees of freedom the
// rules meet, Welch-Satterthwaite's non-integer ones included, and upper tails
// of chi-squared and F.
const Quantile kQuantiles[] = {
    {2, 0.975, 1, 0, 12.70620473617469331410164},
    {2, 0.975, 2, 0, 4.302652729749461789420376},
    {2, 0.975, 3, 0, 3.182446305283708435883998},
    {2, 0.975, 4.5, 0, 2.658912347204402984312723},
    {2, 0.975, 8, 0, 2.306004135204166114328037},
    {2, 0.975, 29.078162050666531, 0, 2.044990871656897148641033},
    {2, 0.975, 114.04572418830969, 0, 1.980983778690927007772403},
    {2, 0.975, 2000, 0, 1.961150826099437650029348},
    {1, 0.975, 0, 0, 1.959963984540053855604431},
    {2, 0.995, 1, 0, 63.65674116287152444715737},
    {2, 0.995, 2, 0, 9.924843200918288640334206},
    {2, 0.995, 3, 0, 5.840909309733355411261167},
    {2, 0.995, 4.5, 0, 4.272823993011292007714448},
    {2, 0.995, 8, 0, 3.355387331333394906745561},
    {2, 0.995, 29.078162050666531, 0, 2.755869598734872565528289},
    {2, 0.995, 114.04572418830969, 0, 2.619627143126904470216544},
    {2, 0.995, 2000, 0, 2.578289787557518700668811},
    {1, 0.995, 0, 0, 2.575829303548900453857483},
    {3, 1.811, 10, 0, 0.997594165969741156721619},
    {3, 30, 10, 0, 0.0008566412107753003921107819},
    {3, 0.5, 3, 0, 0.9188914116546758593641153},
    {4, 3.5, 2, 7, 0.08838834764831844055010555},
    {4, 0.8, 4, 20, 0.5393506426837760376102444},
};

TEST(LabDistribution, AgreesWithHighPrecisionValues) {
  auto* dist = QVX_HOST_FN(lab(), QVXL_DISTRIBUTION);
  ASSERT_NE(dist, nullptr);
  for (const Quantile& q : kQuantiles) {
    const int what = q.dist <= 2 ? 1 : 2;
    double p = what == 1 ? q.x : 0.0, x = what == 1 ? 0.0 : q.x;
    int st = -1;
    dist(&q.dist, &what, &q.par1, &q.par2, &p, &x, &st);
    ASSERT_EQ(st, 0);
    const double got = what == 1 ? x : p;
    EXPECT_NEAR(got, q.want, 8e-15 * std::abs(q.want)) << q.dist << " " << q.x << " " << q.par1;
  }
}

TEST(LabDistribution, InfiniteDegreesOfFreedomAreTheNormal) {
  auto* dist = QVX_HOST_FN(lab(), QVXL_DISTRIBUTION);
  const int what = 1;
  const double inf = std::numeric_limits<double>::infinity(), zero = 0.0;
  double p = 0.975, xt = 0.0, xn = 0.0;
  int st = -1;
  const int t = 2, n = 1;
  dist(&t, &what, &inf, &zero, &p, &xt, &st);
  ASSERT_EQ(st, 0);
  dist(&n, &what, &zero, &zero, &p, &xn, &st);
  EXPECT_EQ(xt, xn);
}

TEST(LabDistribution, RefusesWhatHasNoAnswer) {
  auto* dist = QVX_HOST_FN(lab(), QVXL_DISTRIBUTION);
  struct Bad {
    int dist, what;
    double par1, p;
    int status;
  };
  const Bad bad[] = {{0, 1, 1, 0.5, QVXL_BAD_CODE},   {6, 1, 1, 0.5, QVXL_BAD_CODE},
                     {2, 4, 1, 0.5, QVXL_BAD_CODE},   {2, 1, 1, 1.0, QVXL_BAD_VALUE},
                     {2, 1, 1, 0.0, QVXL_BAD_VALUE},  {2, 1, 0, 0.5, QVXL_BAD_VALUE},
                     {3, 1, -1, 0.5, QVXL_BAD_VALUE}, {2, 1, kNaN, 0.5, QVXL_BAD_VALUE},
                     {1, 1, 0, kNaN, QVXL_BAD_VALUE}};
  for (const Bad& b : bad) {
    const double par2 = 1.0;
    double p = b.p, x = 123.0;
    int st = 0;
    dist(&b.dist, &b.what, &b.par1, &par2, &p, &x, &st);
    EXPECT_EQ(st, b.status) << b.dist << " " << b.what << " " << b.par1 << " " << b.p;
    EXPECT_EQ(x, 123.0);
  }
}

// --- Reading back ----------------------------------------------------------

struct Curve {
  std::vector<double> coef, cov;
  double xmin, xmax;
  int covkind = 1, ndof = 8;
  double sres = 0.05;
  int weighting = 0, stated = 0;
  double lowest, highest;
};

struct Request {
  std::vector<double> y, uy{0.0}, repl{1.0};
  int uymode = 0;
  double level = 0.95;
  int ngrid = 100;
  double tol = 0.0;
  int extrap = 0, haslim = 0;
  double lod = 0.0, loq = 0.0;
};

struct Reading {
  int status = -1;
  std::vector<int> nroot, src, flags;
  std::vector<double> roots, uroots, uy, ucurve, dof, k, U, low, high, xext, uxext;
};

Reading read(const Curve& c, const Request& r, double fill = kNaN) {
  auto* fn = QVX_HOST_FN(lab(), QVXL_READBACK);
  const int nc = static_cast<int>(c.coef.size());
  const int n = static_cast<int>(r.y.size());
  const std::size_t rows = nc > 1 ? nc - 1 : 1;
  const std::size_t m = r.y.empty() ? 1 : r.y.size();
  Reading out;
  out.nroot.assign(m, -7);
  out.src.assign(m, -7);
  out.flags.assign(m, -7);
  for (auto* v : {&out.uy, &out.ucurve, &out.dof, &out.k, &out.U, &out.low, &out.high, &out.xext,
                  &out.uxext})
    v->assign(m, fill);
  out.roots.assign(rows * m, fill);
  out.uroots.assign(rows * m, fill);
  const double xstd[2] = {c.lowest, c.highest}, limits[2] = {r.lod, r.loq};
  std::vector<double> uy = r.uy, repl = r.repl;  // one value for every response
  uy.resize(m, uy.back());
  repl.resize(m, repl.back());
  fn(&nc, c.coef.data(), c.cov.data(), &c.xmin, &c.xmax, &c.covkind, &c.ndof, &c.sres,
     &c.weighting, &c.stated, xstd, &r.haslim, limits, &n, r.y.data(), &r.uymode, uy.data(),
     repl.data(), &r.level, &r.ngrid, &r.tol, &r.extrap, out.nroot.data(), out.roots.data(),
     out.uroots.data(), out.uy.data(), out.src.data(), out.ucurve.data(), out.dof.data(),
     out.k.data(), out.U.data(), out.low.data(), out.high.data(), out.xext.data(),
     out.uxext.data(), out.flags.data(), &out.status);
  return out;
}

// p = 6 + 4 t on [0, 10]: y = 2 + 0.8 x (rising), with a small covariance.
Curve rising_line() {
  return Curve{{12.0, 4.0}, {4e-4, 1e-5, 1e-5, 2e-4}, 0.0, 10.0, 1, 8, 0.05, 0, 0, 1.0, 9.0};
}

// A quadratic with two roots for responses near its minimum.
Curve valley() {
  return Curve{{2.0, 0.0, 1.0}, {1e-4, 0, 0, 0, 1e-4, 0, 0, 0, 1e-4}, -1.0, 1.0, 1, 8, 0.05, 0,
               0, -1.0, 1.0};
}

TEST(LabReadback, RootsAndUncertaintiesAreIpvalsToTheBit) {
  auto* ipval = QVX_HOST_FN(engine(), IPVAL);
  ASSERT_NE(ipval, nullptr);
  const Curve curves[] = {rising_line(), valley(),
                          Curve{{3.0, 1.5, -0.2, 0.05}, std::vector<double>(16, 1e-6), 0.0, 5.0,
                                0, 6, 0.1, 0, 1, 0.0, 5.0}};
  for (const Curve& c : curves) {
    Request r;
    r.y = {c.coef[0] / 2 - 0.3, c.coef[0] / 2, c.coef[0] / 2 + 0.7, c.coef[0] / 2 + 2.5, 1e3};
    r.uy = {0.01, 0.0, 0.2, 0.05, 0.1};
    const Reading got = read(c, r);
    ASSERT_EQ(got.status, 0);
    const int nc = static_cast<int>(c.coef.size()), n = static_cast<int>(r.y.size());
    std::vector<double> covy(n * n, 0.0), xr((nc - 1) * n), ur((nc - 1) * n);
    for (int i = 0; i < n; ++i) covy[i * (n + 1)] = r.uy[i] * r.uy[i];
    std::vector<int> nroot(n);
    int st = -1;
    ipval(&nc, c.coef.data(), c.cov.data(), &n, r.y.data(), covy.data(), &c.xmin, &c.xmax,
          &r.ngrid, &r.tol, nroot.data(), xr.data(), ur.data(), &st);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(got.nroot, nroot);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < nc - 1; ++j) {
        const std::size_t at = static_cast<std::size_t>(i) * (nc - 1) + j;
        if (j < nroot[i]) {
          EXPECT_EQ(got.roots[at], xr[at]);
          EXPECT_EQ(got.uroots[at], ur[at]);
        } else {
          EXPECT_TRUE(std::isnan(got.roots[at]) && std::isnan(got.uroots[at]));
        }
      }
      EXPECT_EQ(got.src[i], r.uy[i] > 0 ? QVXL_UYSRC_STATED : QVXL_UYSRC_CURVE_ONLY);
    }
  }
}

// u(y) from the scatter follows the weighting model at the sample's x, over
// sqrt(m); its degrees of freedom are the fit's, and so are k's.
TEST(LabReadback, ScatterFollowsTheWeightingModel) {
  auto* dist = QVX_HOST_FN(lab(), QVXL_DISTRIBUTION);
  for (int weighting : {0, 1, 2}) {
    Curve c = rising_line();
    c.weighting = weighting;
    Request r;
    r.uymode = 1;
    r.y = {3.0, 6.0, 9.0, 1.0, 11.0};  // the last two below and above the curve's ends
    r.repl = {1, 4, 2, 1, 3};
    const Reading got = read(c, r);
    ASSERT_EQ(got.status, 0);
    const double xs[] = {1.25, 5.0, 8.75, 0.0, 10.0};  // roots, or the nearer end
    for (std::size_t i = 0; i < r.y.size(); ++i) {
      const double scale = weighting == 0 ? 1.0 : weighting == 1 ? std::sqrt(xs[i]) : xs[i];
      EXPECT_NEAR(got.uy[i], c.sres * scale / std::sqrt(r.repl[i]), 1e-15) << weighting << i;
      EXPECT_EQ(got.src[i], QVXL_UYSRC_SCATTER);
      if (got.nroot[i] == 0) continue;
      EXPECT_EQ(got.dof[i], c.ndof);
      const int t = 2, q = 1;
      const double nu = c.ndof, zero = 0.0;
      double p = 0.975, k = 0.0;
      int st = -1;
      dist(&t, &q, &nu, &zero, &p, &k, &st);
      EXPECT_EQ(got.k[i], k);
      EXPECT_EQ(got.U[i], k * got.uroots[i]);
    }
  }
}

// The weighting models state no scatter below x = 0 under 1/x (sqrt of a
// negative x), and |x| under 1/x2.
TEST(LabReadback, ScatterAtANegativeX) {
  Curve c = rising_line();
  c.coef = {4.0, 4.0};  // y = 2 + 0.8 x on [-5, 5]
  c.xmin = -5.0;
  c.xmax = 5.0;
  Request r;
  r.uymode = 1;
  r.y = {1.2};  // x = -1
  for (int weighting : {1, 2}) {
    c.weighting = weighting;
    const Reading got = read(c, r);
    ASSERT_EQ(got.status, 0);
    EXPECT_NEAR(got.roots[0], -1.0, 1e-12);
    EXPECT_EQ(got.uy[0], weighting == 1 ? 0.0 : c.sres * std::abs(got.roots[0]));
  }
}

// Where a scaled curve meets a stated reading the dof follow Welch and
// Satterthwaite; both stated give the normal's k; curve only, the fit's dof.
TEST(LabReadback, DegreesOfFreedomOfEachCombination) {
  const Curve scaled = rising_line();
  Curve stated = rising_line();
  stated.covkind = 0;
  Request r;
  r.y = {6.0};
  r.uy = {0.05};
  const Reading ws = read(scaled, r);
  const double s = 0.8;  // the slope
  const double uc2 = std::pow(ws.ucurve[0], 2), ur2 = std::pow(0.05 / s, 2);
  EXPECT_NEAR(ws.dof[0], (uc2 + ur2) * (uc2 + ur2) / (uc2 * uc2 / 8), 1e-10 * ws.dof[0]);
  EXPECT_NEAR(ws.uroots[0] * ws.uroots[0], uc2 + ur2, 1e-15);
  EXPECT_TRUE(std::isinf(read(stated, r).dof[0]));
  EXPECT_NEAR(read(stated, r).k[0], 1.959963984540054, 1e-15);
  r.uymode = 2;
  EXPECT_NEAR(read(scaled, r).dof[0], 8.0, 1e-12);
}

// For a straight line the inversion interval is the classical one: the roots
// of (a + b x - y)^2 = k^2 (var a + 2 x cov(a, b) + x^2 var b + u(y)^2).
TEST(LabReadback, InversionIntervalOfALineIsItsClosedForm) {
  Curve c = rising_line();
  Request r;
  r.uymode = 1;
  r.y = {2.05, 6.0, 9.5};
  const Reading got = read(c, r);
  ASSERT_EQ(got.status, 0);
  // p = c0/2 + c1 t, t = (2x - xmin - xmax) / w: a = c0/2 - c1 (xmin + xmax) / w, b = 2 c1 / w.
  const double w = c.xmax - c.xmin, f = (c.xmin + c.xmax) / w;
  const double a = c.coef[0] / 2 - c.coef[1] * f, b = 2 * c.coef[1] / w;
  // (a, b) = J (c0, c1), J = [[1/2, -f], [0, 2/w]].
  const double j[2][2] = {{0.5, -f}, {0.0, 2.0 / w}};
  double v[2][2] = {};
  for (int p = 0; p < 2; ++p)
    for (int q = 0; q < 2; ++q)
      for (int s = 0; s < 2; ++s)
        for (int t = 0; t < 2; ++t) v[p][q] += j[p][s] * c.cov[s + 2 * t] * j[q][t];
  for (std::size_t i = 0; i < r.y.size(); ++i) {
    const double k2 = got.k[i] * got.k[i], u2 = got.uy[i] * got.uy[i], d = a - r.y[i];
    // (b^2 - k2 vb) x^2 + 2 (b d - k2 vab) x + d^2 - k2 (va + u2) = 0
    const double qa = b * b - k2 * v[1][1], qb = 2 * (b * d - k2 * v[0][1]);
    const double qc = d * d - k2 * (v[0][0] + u2);
    const double disc = std::sqrt(qb * qb - 4 * qa * qc);
    const double lo = std::max((-qb - disc) / (2 * qa), c.xmin);
    const double hi = std::min((-qb + disc) / (2 * qa), c.xmax);
    EXPECT_NEAR(got.low[i], lo, 1e-12 * w) << i;
    EXPECT_NEAR(got.high[i], hi, 1e-12 * w) << i;
    EXPECT_EQ((got.flags[i] & QVXL_FLAG_INTERVAL_OPEN) != 0, lo <= c.xmin || hi >= c.xmax);
  }
  EXPECT_TRUE(got.flags[0] & QVXL_FLAG_INTERVAL_OPEN);  // 2.05 reads back at 0.0625
}

struct FlagCase {
  const char* what;
  Curve curve;
  double y;
  int haslim;
  double lod, loq;
  int want;  // flags expected (exactly)
};

Curve falling_line() {
  Curve c = rising_line();
  c.coef = {28.0, -4.0};  // y = 18 - 0.8 x
  return c;
}

Curve wide_line() {  // [0, 1e6]: p = 5e5 + 5e5 t, y = x
  return Curve{{1e6, 5e5}, {1e-6, 0, 0, 1e-6}, 0.0, 1e6, 1, 8, 0.05, 0, 0, 0.0, 1e6};
}

TEST(LabReadback, FlagsSayWhatALaboratoryActsOn) {
  const FlagCase cases[] = {
      {"inside", rising_line(), 6.0, 0, 0, 0, 0},
      {"below the lowest standard", rising_line(), 2.4, 0, 0, 0, QVXL_FLAG_BELOW_LOWEST},
      {"above the highest standard", rising_line(), 9.6, 0, 0, 0, QVXL_FLAG_ABOVE_HIGHEST},
      {"past the upper end", rising_line(), 11.0, 0, 0, 0,
       QVXL_FLAG_NO_ROOT | QVXL_FLAG_ABOVE_HIGHEST},
      {"below the blank", rising_line(), 1.5, 0, 0, 0,
       QVXL_FLAG_NO_ROOT | QVXL_FLAG_BELOW_LOWEST | QVXL_FLAG_BELOW_BLANK},
      // A falling curve: a response above the blank's is below it in x.
      {"falling: below the blank", falling_line(), 18.5, 0, 0, 0,
       QVXL_FLAG_NO_ROOT | QVXL_FLAG_BELOW_LOWEST | QVXL_FLAG_BELOW_BLANK},
      {"falling: inside", falling_line(), 14.0, 0, 0, 0, 0},
      {"falling: past the far end", falling_line(), 9.0, 0, 0, 0,
       QVXL_FLAG_NO_ROOT | QVXL_FLAG_ABOVE_HIGHEST},
      {"below LOD", rising_line(), 3.2, 3, 1.6, 3.0, QVXL_FLAG_BELOW_LOD},
      {"below LOQ only", rising_line(), 4.0, 3, 1.6, 3.0, QVXL_FLAG_BELOW_LOQ},
      {"LOQ alone", rising_line(), 3.2, 2, 0.0, 3.0, QVXL_FLAG_BELOW_LOQ},
      // The end tolerance is a share of the interval's width: 1e-9 of 1e6.
      {"at the upper end of a wide interval", wide_line(), 1e6 - 5e-4, 0, 0, 0,
       QVXL_FLAG_AT_END | QVXL_FLAG_INTERVAL_OPEN},
      {"near but not at the end", wide_line(), 1e6 - 5e-3, 0, 0, 0, QVXL_FLAG_INTERVAL_OPEN},
      {"two roots", valley(), 1.5, 0, 0, 0, QVXL_FLAG_SEVERAL_ROOTS},
      {"flat at the vertex", valley(), 0.0, 0, 0, 0, QVXL_FLAG_FLAT},
  };
  for (const FlagCase& fc : cases) {
    Request r;
    r.y = {fc.y};
    r.uy = {0.01};
    r.haslim = fc.haslim;
    r.lod = fc.lod;
    r.loq = fc.loq;
    const Reading got = read(fc.curve, r);
    ASSERT_EQ(got.status, 0) << fc.what;
    EXPECT_EQ(got.flags[0], fc.want) << fc.what << ": x = " << got.roots[0];
  }
}

// A scaled covariance of a fit without degrees of freedom has no size: the
// roots stand, every uncertainty is NaN and the flag says so.
TEST(LabReadback, NoDegreesOfFreedomLeaveTheUncertaintyUnknown) {
  Curve c = rising_line();
  c.ndof = 0;
  Request r;
  r.y = {6.0};
  r.uy = {0.05};
  const Reading got = read(c, r);
  ASSERT_EQ(got.status, 0);
  EXPECT_EQ(got.roots[0], read(rising_line(), r).roots[0]);
  for (double v : {got.uroots[0], got.ucurve[0], got.dof[0], got.k[0], got.U[0], got.low[0]})
    EXPECT_TRUE(std::isnan(v));
  EXPECT_EQ(got.flags[0], QVXL_FLAG_NO_SCALE);
  c.covkind = 0;  // stated: its size is known
  EXPECT_EQ(read(c, r).flags[0], 0);
}

// A straight line without a root still gives x on the line extended.
// Relative stated weights scaled by the scatter: the sample's u(y) is SRES
// times its own relative u(y), with the fit's degrees of freedom in k.
// Massart et al. (1997), chapter 8, example 3: level means of five replicates
// weighted by w = round(1/s^2, 3); samples y0 = 15 (w_s 1.67) and 90
// (w_s 0.145).  The weighted line is solved here by its 2 x 2 normal
// equations in the basis (1/2, t) of [0, 50]; U against the values chemCal's
// tests pin (to 1e-6) and the book's one decimal.
TEST(LabReadback, RelativeStatedWeightsTakeTheSamplesScaleFromTheScatter) {
  const double x[6] = {0, 10, 20, 30, 40, 50}, y[6] = {4.0, 21.2, 44.6, 61.8, 78.0, 105.2};
  const double w[6] = {1.984, 1.417, 1.262, 0.372, 0.199, 0.109};
  long double a11 = 0, a12 = 0, a22 = 0, b1 = 0, b2 = 0;
  for (int i = 0; i < 6; ++i) {
    const long double g1 = 0.5L, g2 = (2.0L * x[i] - 50.0L) / 50.0L;
    a11 += w[i] * g1 * g1;
    a12 += w[i] * g1 * g2;
    a22 += w[i] * g2 * g2;
    b1 += w[i] * g1 * y[i];
    b2 += w[i] * g2 * y[i];
  }
  const long double det = a11 * a22 - a12 * a12;
  const long double c0 = (a22 * b1 - a12 * b2) / det, c1 = (a11 * b2 - a12 * b1) / det;
  long double chi2 = 0;
  for (int i = 0; i < 6; ++i) {
    const long double e = y[i] - (0.5L * c0 + c1 * (2.0L * x[i] - 50.0L) / 50.0L);
    chi2 += w[i] * e * e;
  }
  const double sres = static_cast<double>(std::sqrt(chi2 / 4));
  Curve c{{static_cast<double>(c0), static_cast<double>(c1)},
          {static_cast<double>(a22 / det), static_cast<double>(-a12 / det),
           static_cast<double>(-a12 / det), static_cast<double>(a11 / det)},
          0.0, 50.0, 1, 4, sres, 0, 1, 0.0, 50.0};
  // The scaled covariance, as the fit hands it to a reading.
  for (double& v : c.cov) v *= sres * sres;
  Request r;
  r.y = {15.0, 90.0};
  r.uymode = 1;
  const double ws[2] = {1.67, 0.145};
  r.uy = {1 / std::sqrt(ws[0]), 1 / std::sqrt(ws[1])};
  const Reading out = read(c, r);
  ASSERT_EQ(out.status, QVXL_OK);
  const double x0[2] = {5.865367, 44.06025}, se[2] = {0.8926109, 2.829162};
  const double chem[2] = {2.478285, 7.855012}, book[2] = {2.5, 7.9};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(out.src[i], QVXL_UYSRC_SCATTER);
    EXPECT_NEAR(out.uy[i], sres * r.uy[i], 1e-15 * sres);
    EXPECT_EQ(out.dof[i], 4.0);
    EXPECT_NEAR(out.roots[i], x0[i], 1e-6 * x0[i]);
    EXPECT_NEAR(out.uroots[i], se[i], 1e-6);
    EXPECT_NEAR(out.U[i], chem[i], 1e-6);
    EXPECT_EQ(std::round(out.U[i] * 10) / 10, book[i]);
  }
  // Stated u(y) that set the scale give no scatter; a relative u(y) must be
  // positive and finite.  Nothing is written.
  Curve stated = c;
  stated.covkind = 0;
  EXPECT_EQ(read(stated, r).status, QVXL_UY_STATED_STANDARDS);
  for (double bad : {0.0, -1.0, kNaN, std::numeric_limits<double>::infinity()}) {
    Request rb = r;
    rb.uy = {1.0, bad};
    const Reading o = read(c, rb);
    EXPECT_EQ(o.status, QVXL_BAD_VALUE) << bad;
    EXPECT_TRUE(std::isnan(o.U[0]));
  }
}

TEST(LabReadback, LineExtendedBeyondItsInterval) {
  Request r;
  r.y = {11.0, 6.0};
  r.uy = {0.05, 0.05};
  const Reading got = read(rising_line(), r);
  EXPECT_NEAR(got.xext[0], (11.0 - 2.0) / 0.8, 1e-12);
  EXPECT_GT(got.uxext[0], 0.0);
  EXPECT_TRUE(std::isnan(got.xext[1]));
  r.extrap = 1;
  const Reading ext = read(rising_line(), r);
  EXPECT_EQ(ext.nroot[0], 1);
  EXPECT_EQ(ext.roots[0], got.xext[0]);
  EXPECT_EQ(ext.uroots[0], got.uxext[0]);
}

TEST(LabReadback, RefusesBadInputAndWritesNothing) {
  struct Bad {
    const char* what;
    int status;
    void (*edit)(Curve&, Request&);
  };
  const Bad bad[] = {
      {"one coefficient", QVXL_BAD_NCOEF, [](Curve& c, Request&) { c.coef = {1.0}; }},
      {"empty interval", QVXL_BAD_INTERVAL, [](Curve& c, Request&) { c.xmax = c.xmin; }},
      {"NaN interval", QVXL_BAD_INTERVAL, [](Curve& c, Request&) { c.xmin = kNaN; }},
      {"no responses", QVXL_BAD_COUNT, [](Curve&, Request& r) { r.y.clear(); }},
      {"no grid", QVXL_BAD_COUNT, [](Curve&, Request& r) { r.ngrid = 0; }},
      {"weighting 3", QVXL_BAD_CODE, [](Curve& c, Request&) { c.weighting = 3; }},
      {"covkind 2", QVXL_BAD_CODE, [](Curve& c, Request&) { c.covkind = 2; }},
      {"uymode 3", QVXL_BAD_CODE, [](Curve&, Request& r) { r.uymode = 3; }},
      {"level 1", QVXL_BAD_VALUE, [](Curve&, Request& r) { r.level = 1.0; }},
      {"negative u(y)", QVXL_BAD_VALUE, [](Curve&, Request& r) { r.uy = {-0.1}; }},
      {"NaN u(y)", QVXL_BAD_VALUE, [](Curve&, Request& r) { r.uy = {kNaN}; }},
      {"NaN tol", QVXL_BAD_VALUE, [](Curve&, Request& r) { r.tol = kNaN; }},
      {"replicates 0", QVXL_BAD_VALUE,
       [](Curve&, Request& r) {
         r.uymode = 1;
         r.repl = {0.0};
       }},
      {"scatter of stated standards", QVXL_UY_STATED_STANDARDS,
       [](Curve& c, Request& r) {
         c.stated = 1;
         c.covkind = 0;
         r.uymode = 1;
       }},
      {"scatter without dof", QVXL_UY_NO_DOF,
       [](Curve& c, Request& r) {
         c.ndof = 0;
         c.covkind = 0;
         r.uymode = 1;
       }},
      {"closed form of a quadratic", QVXL_BAD_NCOEF,
       [](Curve& c, Request& r) {
         c = valley();
         r.extrap = 1;
       }},
  };
  for (const Bad& b : bad) {
    Curve c = rising_line();
    Request r;
    r.y = {6.0};
    r.uy = {0.05};
    b.edit(c, r);
    const Reading got = read(c, r, 42.0);
    EXPECT_EQ(got.status, b.status) << b.what;
    EXPECT_EQ(got.nroot[0], -7) << b.what;
    EXPECT_EQ(got.k[0], 42.0) << b.what;
    EXPECT_EQ(got.flags[0], -7) << b.what;
  }
}

}  // namespace

// The C++ layer over the C function: the same reading, and an Error for a
// refused one.
#include "quorvex_lab.hpp"

namespace {

TEST(LabHeader, ReadBackThroughTheCxxLayer) {
  using namespace quorvex::lab;
  quorvex::Curve curve;
  curve.coef = {12.0, 4.0};
  curve.cov = quorvex::Matrix(2, 2);
  curve.cov(0, 0) = 4e-4;
  curve.cov(1, 1) = 2e-4;
  curve.cov(0, 1) = curve.cov(1, 0) = 1e-5;
  curve.xmin = 0.0;
  curve.xmax = 10.0;
  FitFacts facts{Covariance::scaled, 8, 0.05};
  facts.lowest = 1.0;
  facts.highest = 9.0;
  const std::vector<double> y = {6.0, 11.0};
  const quorvex::lab::Reading r = read_back(curve, facts, y, from_scatter({3.0, 1.0}));
  Request req;
  req.y = y;
  req.uymode = 1;
  req.repl = {3.0, 1.0};
  const auto c = read(rising_line(), req);
  EXPECT_EQ(r.x(0), c.roots[0]);
  EXPECT_EQ(r.U[0], c.U[0]);
  EXPECT_EQ(r.flags, c.flags);
  EXPECT_TRUE(r.flagged(1, QVXL_FLAG_NO_ROOT));
  facts.dof = 0;
  try {
    read_back(curve, facts, y, from_scatter());
    ADD_FAILURE() << "no error";
  } catch (const quorvex::Error& e) {
    EXPECT_EQ(e.status(), QVXL_UY_NO_DOF);
    EXPECT_STREQ(e.routine(), "QVXL_READBACK");
  }
  EXPECT_THROW(read_back(curve, facts, y, stated({0.1})), std::invalid_argument);
}

}  // namespace

// Every flag and status the header defines has its text, whole or cut to the
// room given.
namespace {

TEST(LabText, EveryCodeHasItsText) {
  auto* text = QVX_HOST_FN(lab(), QVXL_TEXT);
  ASSERT_NE(text, nullptr);
  auto get = [&](int kind, int code, int length, int& needed) {
    std::vector<char> buf(static_cast<std::size_t>(length > 0 ? length : 1), '#');
    int st = -1;
    text(&kind, &code, buf.data(), &length, &needed, &st);
    return st == 0 ? std::string(buf.data()) : "status " + std::to_string(st);
  };
  int needed = 0;
  for (int bit = 1; bit <= QVXL_FLAG_BELOW_RANGE; bit <<= 1) {
    const std::string t = get(2, bit, 200, needed);
    EXPECT_EQ(static_cast<int>(t.size()), needed) << bit;
    EXPECT_EQ(t.empty(), bit == QVXL_FLAG_INTERVAL_OPEN) << bit;
  }
  for (int st : {QVXL_OK, QVXL_BAD_NCOEF, QVXL_BAD_INTERVAL, QVXL_BAD_COUNT, QVXL_BAD_CODE,
                 QVXL_BAD_VALUE, QVXL_UY_STATED_STANDARDS, QVXL_UY_NO_DOF,
                 QVXL_VERDICT_DOF_MISMATCH, QVXL_VERDICT_BAD_WEIGHT, QVXL_VERDICT_BAD_CRITERIA,
                 QVXL_FIT_X_NOT_POSITIVE, QVXL_FIT_UX_WITHOUT_UY, QVXL_FIT_PRESET_WITH_U,
                 QVXL_FIT_NO_SPREAD, QVXL_FIT_OUTSIDE, QVXL_FIT_WEIGHT_OVERFLOW,
                 QVXL_FIT_OLS_FAILED, QVXL_FIT_UNCONVERGED, QVXL_FIT_GLS_FAILED,
                 QVXL_FIT_SCALE_OVERFLOW, QVXL_CURVE_OUTSIDE, QVXL_CURVE_UY_DIFFER,
                 QVXL_CURVE_NO_DOF, QVXL_LIM_BLANK_FAR, QVXL_LIM_BLANK_UNKNOWN, QVXL_LIM_NO_DOF,
                 QVXL_SEL_NONE_FITTED, QVXL_MC_COV_NOT_FINITE, QVXL_MC_COV_INDEFINITE,
                 QVXL_NO_STORAGE})
    EXPECT_GT(get(1, st, 200, needed).size(), 4u) << st;
  // The engine's statuses, kind 10 + the entry point's place in quorvex.h's order.
  const std::vector<std::vector<int>> engine = {
      {QVX_OLS_NCOEF_LT1, QVX_OLS_NPTS_LT_NCOEF, QVX_OLS_NCOEF_GT10, QVX_OLS_BAD_WEIGHT,
       QVX_OLS_BAD_INTERVAL, QVX_OLS_X_BELOW, QVX_OLS_X_ABOVE, QVX_OLS_QR_FAILED,
       QVX_OLS_Q_FAILED, QVX_OLS_ZERO_DIAGONAL, QVX_OLS_ILL_CONDITIONED, QVX_NO_STORAGE},
      {QVX_GLS_MAXIT_STEP, QVX_GLS_MAXIT_RESIDUAL, QVX_GLS_LINE_SEARCH, QVX_GLS_MAXIT,
       QVX_GLS_MAXFEV, QVX_GLS_NPTS_LT_NCOEF, QVX_GLS_BAD_SCALED_WX, QVX_GLS_BAD_SCALED_WY,
       QVX_GLS_BAD_TOL, QVX_GLS_BAD_MAXIT, QVX_GLS_BAD_WX, QVX_GLS_SIZE_MISMATCH,
       QVX_GLS_OUTSIDE_INTERVAL, QVX_GLS_STEP_FAILED, QVX_GLS_GRADIENT_FAILED, QVX_NO_STORAGE},
      {QVX_EVAL_BAD_INTERVAL, QVX_EVAL_X_BELOW, QVX_EVAL_X_ABOVE, QVX_NO_STORAGE},
      {QVX_IPVAL_BAD_INTERVAL, QVX_IPVAL_NCOEF_LT2, QVX_IPVAL_NGRID_LT1, QVX_NO_STORAGE},
      {QVX_LINEAR_BAD_INTERVAL, QVX_NO_STORAGE},
      {QVX_IPVAL1_BAD_INTERVAL, QVX_NO_STORAGE}};
  for (std::size_t r = 0; r < engine.size(); ++r)
    for (int st : engine[r])
      EXPECT_GT(get(10 + static_cast<int>(r), st, 200, needed).size(), 8u) << r << " " << st;
  EXPECT_EQ(get(16, 1, 200, needed), "status 4");
  EXPECT_EQ(get(3, QVXL_UYSRC_CURVE_ONLY, 200, needed), "curve only");
  EXPECT_EQ(get(3, QVXL_UYSRC_CURVE_ONLY, 4, needed), "cur");
  EXPECT_EQ(needed, 10);
  EXPECT_EQ(get(2, 3, 200, needed), "status 4");  // two bits at once
  EXPECT_EQ(get(16, 1, 200, needed), "status 4");  // no kind 16
  // The shape tests a verdict runs, each named.
  for (int d : {QVXL_SHAPE_LACK_OF_FIT, QVXL_SHAPE_NONE_EIV, QVXL_SHAPE_NONE, QVXL_SHAPE_MANDEL,
                QVXL_SHAPE_ADDED_CHI2})
    EXPECT_GT(get(9, d, 200, needed).size(), 20u) << d;
  EXPECT_NE(get(9, QVXL_SHAPE_MANDEL, 200, needed).find("Mandel"), std::string::npos);
  EXPECT_NE(get(9, QVXL_SHAPE_LACK_OF_FIT, 200, needed).find("lack-of-fit"), std::string::npos);
  EXPECT_EQ(get(9, 5, 200, needed), "status 4");
  EXPECT_NE(get(4, 2, 200, needed).find("shape"), std::string::npos);
  EXPECT_EQ(get(20, 4, 200, needed), "status 4");  // no such definition of a limit
  EXPECT_EQ(get(1, 0, 0, needed), "status 3");
}

}  // namespace

// A fit, its verdict and a reading through the C++ layer agree with the
// calls of the C functions they wrap (the README's example: a line through
// six standards, u(y) from the scatter).
namespace {

TEST(LabHeader, FitVerdictAndReadingOfTheExample) {
  using namespace quorvex::lab;
  const std::vector<double> x = {0, 2, 4, 6, 8, 10}, y = {0.02, 0.41, 0.79, 1.22, 1.58, 2.01};
  const Fit f = fit(x, y, 1);
  EXPECT_EQ(f.facts.covariance, Covariance::scaled);
  EXPECT_EQ(f.facts.dof, 4);
  EXPECT_EQ(f.facts.lowest, 0.0);
  const Verdict v = verdict(f);
  EXPECT_TRUE(v.fit_for_use());
  EXPECT_EQ(v.result[3], QVXL_RESULT_PASS);  // every standard reads back
  const std::vector<double> samples = {0.55};
  const quorvex::lab::Reading r = read_back(f.curve, f.facts, samples, from_scatter());
  EXPECT_NEAR(r.x(0), 2.70698344, 1e-8);
  EXPECT_NEAR(r.U[0], 0.26748029, 1e-8);
  EXPECT_NEAR(r.k[0], 2.77644511, 1e-8);
  // Leaving a standard out fits the rest: the same as fitting them alone.
  FitOptions o;
  o.keep = {1, 1, 0, 1, 1, 1};
  const Fit left = fit(x, y, 1, o);
  const std::vector<double> x5 = {0, 2, 6, 8, 10}, y5 = {0.02, 0.41, 1.22, 1.58, 2.01};
  const Fit alone = fit(x5, y5, 1);
  EXPECT_EQ(left.curve.coef, alone.curve.coef);
  EXPECT_EQ(left.x, alone.x);
  // Leaving out the highest standard narrows the default interval to the rest.
  o.keep = {1, 1, 1, 1, 1, 0};
  const Fit top = fit(x, y, 1, o);
  EXPECT_EQ(top.curve.xmax, 8.0);
  EXPECT_EQ(top.facts.highest, 8.0);
  try {
    fit(x, y, 6);
    ADD_FAILURE() << "no error";
  } catch (const quorvex::Error& e) {
    EXPECT_EQ(e.status(), QVXL_BAD_COUNT);
    EXPECT_STREQ(e.routine(), "QVXL_FIT");
  }
}

}  // namespace

// The limits samples are flagged against: the blank plus x_D, and the blank
// plus the larger of the two LOQs that are known.
namespace {

TEST(LabSampleLimits, LodAndTheLargerLoqAboveTheBlank) {
  auto* fn = QVX_HOST_FN(lab(), QVXL_SAMPLE_LIMITS);
  ASSERT_NE(fn, nullptr);
  struct Case {
    double blank, xd, loq, loqdin;
    int haslim;
    double lod_want, loq_want;
  };
  const Case cases[] = {{0.0, 0.2, 0.5, 0.7, 3, 0.2, 0.7},  {1.0, 0.2, 0.9, 0.7, 3, 1.2, 1.9},
                        {1.0, kNaN, 0.9, kNaN, 2, 0, 1.9},  {1.0, 0.2, kNaN, kNaN, 1, 1.2, 0},
                        {1.0, kNaN, kNaN, kNaN, 0, 0, 0}, {0.0, 0.2, kNaN, 0.6, 3, 0.2, 0.6}};
  for (const Case& c : cases) {
    int haslim = -1, st = -1;
    double lim[2] = {0.0, 0.0};
    fn(&c.blank, &c.xd, &c.loq, &c.loqdin, &haslim, lim, &st);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(haslim, c.haslim);
    if (haslim & 1) {
      EXPECT_DOUBLE_EQ(lim[0], c.lod_want);
    }
    if (haslim & 2) {
      EXPECT_DOUBLE_EQ(lim[1], c.loq_want);
    }
  }
  const double blank = kNaN, v = 0.1;
  int haslim = -7, st = 0;
  double lim[2] = {42.0, 42.0};
  fn(&blank, &v, &v, &v, &haslim, lim, &st);
  EXPECT_EQ(st, QVXL_BAD_VALUE);
  EXPECT_EQ(haslim, -7);
  EXPECT_EQ(lim[0], 42.0);
}

}  // namespace
