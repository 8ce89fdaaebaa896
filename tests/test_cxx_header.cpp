// The C++ header quorvex.hpp against the shared library's exported entry
// points called directly: every result type equals, bit for bit, what the
// entry point gives for the same inputs; each failing status arrives as a
// quorvex::Error with the entry point's code and name; inverse prediction in
// chunks equals one call with the whole response covariance.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "host_library.h"
#include "quorvex.hpp"

namespace {

using quorvex_test::HostLibrary;
using Vec = std::vector<double>;

const HostLibrary& lib() {
  static const HostLibrary l;
  return l;
}

// Calibration standards on a gentle quadratic with a fixed scatter.
struct Standards {
  Vec x, y, wx, wy;
};

Standards standards(int n) {
  Standards s;
  for (int i = 0; i < n; ++i) {
    const double x = 10.0 * i / (n - 1);
    const double noise = 0.004 * std::sin(1.7 * i + 0.3);
    s.x.push_back(x);
    s.y.push_back(0.02 + 0.14 * x - 0.0011 * x * x + noise);
    s.wx.push_back(1.0 / (0.01 + 0.005 * x));
    s.wy.push_back(1.0 / (0.0015 + 0.0006 * x));
  }
  return s;
}

// The whole n x n response covariance of the C interface.
Vec full_covy(const Vec& var) {
  Vec c(var.size() * var.size(), 0.0);
  for (std::size_t i = 0; i < var.size(); ++i) c[i * (var.size() + 1)] = var[i];
  return c;
}

void expect_same(const Vec& a, const Vec& b, const char* what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i], b[i]) << what << "[" << i << "]";
}

void expect_same(std::span<const double> a, const Vec& b, const char* what) {
  expect_same(Vec(a.begin(), a.end()), b, what);
}

// OLSPFIT through the exported name.
struct COls {
  Vec coef, cov, yfit, res, wres;
  double sres = 0, wresmax = 0;
  int istat = -1;
};

COls c_ols(const Vec& x, const Vec& y, const Vec& w, int ncoef, double xmin, double xmax) {
  const int n = (int)x.size();
  const std::size_t m = ncoef > 0 ? ncoef : 0;
  COls r;
  r.coef.assign(m + 1, 0);
  r.cov.assign(m * m + 1, 0);
  r.yfit.assign(x.size() + 1, 0);
  r.res = r.wres = r.yfit;
  QVX_HOST_FN(lib(), OLSPFIT)(&n, x.data(), y.data(), w.data(), &ncoef, &xmin, &xmax,
                               r.coef.data(), r.cov.data(), &r.sres, r.yfit.data(),
                               r.res.data(), r.wres.data(), &r.wresmax, &r.istat);
  for (Vec* v : {&r.coef, &r.cov, &r.yfit, &r.res, &r.wres}) v->pop_back();
  return r;
}

struct CGls {
  Vec param, cov, yfit, res, wres, r11, r12, r22, rinfo;
  double sres = 0, wresmax = 0;
  int olstat = -1;
  int istat[3] = {-1, 0, 0};
};

CGls c_gls(const Standards& s, int ncoef, double xmin, double xmax, const quorvex::GlsOptions& o) {
  const int n = (int)s.x.size();
  const std::size_t m = ncoef, np = s.x.size();
  CGls r;
  r.param.assign(np + m, 0);
  r.cov.assign(m * m, 0);
  r.yfit.assign(np, 0);
  r.res.assign(2 * np, 0);
  r.wres.assign(2 * np, 0);
  r.r11.assign(np, 0);
  r.r12.assign(np * m, 0);
  r.r22.assign(m * (m + 1) / 2, 0);
  r.rinfo.assign(4, 0);
  QVX_HOST_FN(lib(), GLSPFIT)(&n, s.x.data(), s.y.data(), s.wx.data(), s.wy.data(), &ncoef,
                               &xmin, &xmax, o.tol.data(), &o.maxit, &o.sigma, r.param.data(),
                               r.cov.data(), &r.sres, r.yfit.data(), r.res.data(), r.wres.data(),
                               &r.wresmax, r.r11.data(), r.r12.data(), r.r22.data(),
                               r.rinfo.data(), &r.olstat, r.istat);
  return r;
}

struct CPoly {
  Vec y;
  int istat = -1;
};

CPoly c_polyeval(const Vec& coef, const Vec& x, double xmin, double xmax) {
  const int nc = (int)coef.size(), n = (int)x.size();
  CPoly r;
  r.y.assign(x.size() + 1, 0);
  QVX_HOST_FN(lib(), POLYEVAL)(&nc, coef.data(), &n, x.data(), &xmin, &xmax, r.y.data(), &r.istat);
  r.y.pop_back();
  return r;
}

struct CIpval {
  std::vector<int> nroot;
  Vec xroot, uxroot;
  int istat = -1;
};

CIpval c_ipval(const quorvex::Curve& c, const Vec& y, const Vec& var, int ngrid, double tol) {
  const int nc = (int)c.coef.size(), n = (int)y.size();
  const std::size_t rows = nc > 1 ? nc - 1 : 0;
  const Vec covy = full_covy(var);
  const Vec cov = c.cov.empty() ? Vec(c.coef.size() * c.coef.size(), 0.0)
                                : Vec(c.cov.values().begin(), c.cov.values().end());
  CIpval r;
  r.nroot.assign(y.size() + 1, 0);
  r.xroot.assign(rows * y.size() + 1, 0);
  r.uxroot = r.xroot;
  QVX_HOST_FN(lib(), IPVAL)(&nc, c.coef.data(), cov.data(), &n, y.data(), covy.data(), &c.xmin,
                             &c.xmax, &ngrid, &tol, r.nroot.data(), r.xroot.data(),
                             r.uxroot.data(), &r.istat);
  r.nroot.pop_back();
  r.xroot.pop_back();
  r.uxroot.pop_back();
  return r;
}

struct CLine {
  Vec lcoef = Vec(2, 0), lcov = Vec(4, 0);
  int istat = -1;
};

CLine c_linear_conv(const quorvex::Curve& c) {
  CLine r;
  QVX_HOST_FN(lib(), LINEAR_CONV)(c.coef.data(), c.cov.data(), &c.xmin, &c.xmax, r.lcoef.data(),
                                   r.lcov.data(), &r.istat);
  return r;
}

struct CIpval1 {
  Vec x, ux;
  int istat = -1;
};

CIpval1 c_ipval1(const quorvex::Curve& c, const Vec& y, const Vec& var) {
  const int n = (int)y.size();
  const Vec covy = full_covy(var);
  CIpval1 r;
  r.x.assign(y.size() + 1, 0);
  r.ux.assign(y.size() + 1, 0);
  QVX_HOST_FN(lib(), IPVAL_DEGREE1)(c.coef.data(), c.cov.data(), &n, y.data(), covy.data(),
                                     &c.xmin, &c.xmax, r.x.data(), r.ux.data(), &r.istat);
  r.x.pop_back();
  r.ux.pop_back();
  return r;
}

// A cubic on [0, 10] with three roots for mid-range responses and its covariance.
quorvex::Curve cubic() {
  quorvex::Curve c;
  c.coef = {0.2, 0.3, 0.05, 1.0};
  c.cov = quorvex::Matrix(4, 4);
  for (std::size_t i = 0; i < 4; ++i)
    for (std::size_t j = 0; j < 4; ++j) c.cov(i, j) = (i == j ? 4e-4 : 1e-4) / (1.0 + i + j);
  c.xmin = 0.0;
  c.xmax = 10.0;
  return c;
}

quorvex::Curve line() {
  quorvex::Curve c;
  c.coef = {1.6, 0.7};
  c.cov = quorvex::Matrix(2, 2);
  c.cov(0, 0) = 4e-4;
  c.cov(1, 1) = 2.5e-4;
  c.cov(0, 1) = c.cov(1, 0) = 1e-4;
  c.xmin = 0.0;
  c.xmax = 10.0;
  return c;
}

// n responses across (and beyond) the cubic's range, with their variances.
void responses(std::size_t n, Vec& y, Vec& var) {
  y.clear();
  var.clear();
  for (std::size_t i = 0; i < n; ++i) {
    y.push_back(-1.6 + 3.4 * std::fmod(0.618033988749895 * (double)i, 1.0));
    var.push_back(1e-6 * (1.0 + (double)(i % 7)));
  }
}

TEST(CxxHeader, OlsFitEqualsEntryPoint) {
  ASSERT_TRUE(lib().loaded());
  const Standards s = standards(13);
  for (int ncoef : {1, 2, 3, 6}) {
    const quorvex::OlsFit f = quorvex::ols_fit(s.x, s.y, s.wy, ncoef, -0.5, 10.5);
    const COls c = c_ols(s.x, s.y, s.wy, ncoef, -0.5, 10.5);
    ASSERT_EQ(c.istat, 0);
    expect_same(f.curve.coef, c.coef, "coef");
    expect_same(f.curve.cov.values(), c.cov, "cov");
    EXPECT_EQ(f.curve.cov.rows(), (std::size_t)ncoef);
    EXPECT_EQ(f.curve.xmin, -0.5);
    EXPECT_EQ(f.curve.xmax, 10.5);
    expect_same(f.yfit, c.yfit, "yfit");
    expect_same(f.res, c.res, "res");
    expect_same(f.wres, c.wres, "wres");
    EXPECT_EQ(f.sres, c.sres);
    EXPECT_EQ(f.wresmax, c.wresmax);
  }
}

TEST(CxxHeader, GlsFitEqualsEntryPoint) {
  ASSERT_TRUE(lib().loaded());
  const Standards s = standards(13);
  const quorvex::GlsOptions o;
  for (int ncoef : {2, 3}) {
    const quorvex::GlsFit f = quorvex::gls_fit(s.x, s.y, s.wx, s.wy, ncoef, -1.0, 11.0, o);
    const CGls c = c_gls(s, ncoef, -1.0, 11.0, o);
    ASSERT_EQ(c.olstat, 0);
    ASSERT_GE(c.istat[0], 0);
    ASSERT_LE(c.istat[0], 3);
    const std::size_t n = s.x.size();
    EXPECT_EQ(f.status, c.istat[0]);
    EXPECT_EQ(f.iterations, c.istat[1]);
    EXPECT_EQ(f.evaluations, c.istat[2]);
    expect_same(f.delta, Vec(c.param.begin(), c.param.begin() + n), "delta");
    expect_same(f.curve.coef, Vec(c.param.begin() + n, c.param.end()), "coef");
    expect_same(f.curve.cov.values(), c.cov, "cov");
    expect_same(f.yfit, c.yfit, "yfit");
    Vec rx, ry, wx, wy;
    for (std::size_t i = 0; i < n; ++i) {
      rx.push_back(c.res[2 * i]);
      ry.push_back(c.res[2 * i + 1]);
      wx.push_back(c.wres[2 * i]);
      wy.push_back(c.wres[2 * i + 1]);
    }
    expect_same(f.res_x, rx, "res_x");
    expect_same(f.res_y, ry, "res_y");
    expect_same(f.wres_x, wx, "wres_x");
    expect_same(f.wres_y, wy, "wres_y");
    expect_same(f.r11, c.r11, "r11");
    expect_same(f.r12.values(), c.r12, "r12");
    EXPECT_EQ(f.r12.rows(), n);
    expect_same(f.r22, c.r22, "r22");
    expect_same(Vec(f.rinfo.begin(), f.rinfo.end()), c.rinfo, "rinfo");
    EXPECT_EQ(f.sres, c.sres);
    EXPECT_EQ(f.wresmax, c.wresmax);
  }
}

TEST(CxxHeader, EvaluateEqualsEntryPoint) {
  ASSERT_TRUE(lib().loaded());
  const quorvex::Curve c = cubic();
  Vec x;
  for (int i = 0; i <= 40; ++i) x.push_back(0.25 * i);
  const CPoly p = c_polyeval(c.coef, x, c.xmin, c.xmax);
  ASSERT_EQ(p.istat, 0);
  expect_same(quorvex::evaluate(c, x), p.y, "y");
  EXPECT_EQ(quorvex::evaluate(c, x[7]), p.y[7]);
  EXPECT_TRUE(quorvex::evaluate(c, Vec{}).empty());
}

TEST(CxxHeader, LineEqualsEntryPoint) {
  ASSERT_TRUE(lib().loaded());
  const quorvex::Curve c = line();
  const quorvex::Line l = quorvex::to_line(c);
  const CLine r = c_linear_conv(c);
  ASSERT_EQ(r.istat, 0);
  EXPECT_EQ(l.slope, r.lcoef[0]);
  EXPECT_EQ(l.intercept, r.lcoef[1]);
  expect_same(l.cov.values(), r.lcov, "lcov");
}

TEST(CxxHeader, InversePredictionEqualsEntryPoint) {
  ASSERT_TRUE(lib().loaded());
  const quorvex::Curve c = cubic();
  Vec y, var;
  responses(40, y, var);
  const quorvex::InversePrediction p = quorvex::inverse(c, y, var, {.ngrid = 200, .tol = 0.0});
  const CIpval r = c_ipval(c, y, var, 200, 0.0);
  ASSERT_EQ(r.istat, 0);
  EXPECT_EQ(p.nroot, r.nroot);
  expect_same(p.x.values(), r.xroot, "xroot");
  expect_same(p.ux.values(), r.uxroot, "uxroot");
  // The roots of each response lie in its column, as many as it counts.
  std::size_t several = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    ASSERT_EQ(p.roots(i).size(), (std::size_t)r.nroot[i]);
    for (std::size_t j = 0; j < p.roots(i).size(); ++j) {
      EXPECT_EQ(p.roots(i)[j], r.xroot[i * 3 + j]);
      EXPECT_EQ(p.uncertainties(i)[j], r.uxroot[i * 3 + j]);
    }
    several += p.roots(i).size() > 1;
  }
  EXPECT_GT(several, 0u) << "the cases should include responses with several roots";
}

TEST(CxxHeader, LinePredictionEqualsEntryPoint) {
  ASSERT_TRUE(lib().loaded());
  const quorvex::Curve c = line();
  Vec y, var;
  responses(25, y, var);
  const quorvex::LinePrediction p = quorvex::inverse_line(c, y, var);
  const CIpval1 r = c_ipval1(c, y, var);
  ASSERT_EQ(r.istat, 0);
  expect_same(p.x, r.x, "xpred");
  expect_same(p.ux, r.ux, "uxpred");
}

// One call with the whole NPTS x NPTS response covariance against the header,
// which passes chunks of responses with a small covariance each.
TEST(CxxHeader, ChunkedInverseEqualsOneCall) {
  ASSERT_TRUE(lib().loaded());
  const quorvex::Curve c = cubic();
  Vec y, var;
  responses(601, y, var);
  const CIpval whole = c_ipval(c, y, var, 150, 1e-13);
  ASSERT_EQ(whole.istat, 0);
  const quorvex::Curve l = line();
  const CIpval1 whole1 = c_ipval1(l, y, var);
  ASSERT_EQ(whole1.istat, 0);
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{256}, std::size_t{600},
                            std::size_t{601}, std::size_t{100000}}) {
    SCOPED_TRACE("chunk " + std::to_string(chunk));
    const quorvex::InversePrediction p =
        quorvex::inverse(c, y, var, {.ngrid = 150, .tol = 1e-13, .chunk = chunk});
    EXPECT_EQ(p.nroot, whole.nroot);
    expect_same(p.x.values(), whole.xroot, "xroot");
    expect_same(p.ux.values(), whole.uxroot, "uxroot");
    const quorvex::LinePrediction p1 = quorvex::inverse_line(l, y, var, chunk);
    expect_same(p1.x, whole1.x, "xpred");
    expect_same(p1.ux, whole1.ux, "uxpred");
  }
  // Without variances the responses count as exact.
  const CIpval exact = c_ipval(c, y, Vec(y.size(), 0.0), 150, 1e-13);
  const quorvex::InversePrediction p = quorvex::inverse(c, y, {}, {.ngrid = 150, .tol = 1e-13});
  expect_same(p.ux.values(), exact.uxroot, "uxroot without variances");
}

// A case of failure: the header's call (which must throw quorvex::Error) and
// the same inputs through the exported entry point (which gives the status).
struct FailCase {
  const char* name;
  const char* routine;
  std::function<void()> cxx;
  std::function<int()> c;
  const char* says;  // part of the message
};

std::vector<FailCase> fail_cases() {
  const Standards s = standards(6);
  const quorvex::GlsOptions o;
  const Vec bad_w = {1, 1, 0, 1, 1, 1};
  const Vec same_x = {5, 5, 5, 5, 5, 5};
  auto ols = [s](Vec x, Vec w, int ncoef, double xmin, double xmax) {
    return FailCase{"", "OLSPFIT",
                    [=] { quorvex::ols_fit(x, s.y, w, ncoef, xmin, xmax); },
                    [=] { return c_ols(x, s.y, w, ncoef, xmin, xmax).istat; }, ""};
  };
  auto gls = [s](Standards t, int ncoef, double xmin, double xmax, quorvex::GlsOptions go) {
    return FailCase{"", "GLSPFIT",
                    [=] { quorvex::gls_fit(t.x, t.y, t.wx, t.wy, ncoef, xmin, xmax, go); },
                    [=] {
                      const CGls g = c_gls(t, ncoef, xmin, xmax, go);
                      return g.olstat != 0 ? g.olstat : g.istat[0];
                    },
                    ""};
  };
  auto named = [](FailCase f, const char* name, const char* says, const char* routine = nullptr) {
    f.name = name;
    f.says = says;
    if (routine) f.routine = routine;
    return f;
  };
  std::vector<FailCase> v;
  v.push_back(named(ols(s.x, s.wy, 0, 0, 10), "ols ncoef 0", "ncoef = 0"));
  v.push_back(named(ols(s.x, s.wy, 7, 0, 10), "ols npts < ncoef", "6 points"));
  {
    const Standards t = standards(12);
    v.push_back(FailCase{"ols ncoef 11", "OLSPFIT",
                         [=] { quorvex::ols_fit(t.x, t.y, t.wy, 11, 0, 10); },
                         [=] { return c_ols(t.x, t.y, t.wy, 11, 0, 10).istat; }, "at most 10"});
  }
  v.push_back(named(ols(s.x, bad_w, 2, 0, 10), "ols weight", "w[2] = 0"));
  v.push_back(named(ols(s.x, s.wy, 2, 10, 10), "ols interval", "xmin = 10"));
  v.push_back(named(ols(s.x, s.wy, 2, 1, 10), "ols below", "x[0] = 0 lies below xmin = 1"));
  v.push_back(named(ols(s.x, s.wy, 2, 0, 9), "ols above", "x[5] = 10 lies above xmax = 9"));
  v.push_back(named(ols(same_x, s.wy, 2, 0, 10), "ols singular", "singular"));
  {
    Standards t = s;
    t.wy[3] = -1;
    v.push_back(named(gls(t, 2, -1, 11, o), "gls start", "wy[3] = -1", "OLSPFIT"));
    t = s;
    t.wx[4] = 0;
    v.push_back(named(gls(t, 2, -1, 11, o), "gls wx", "wx[4] = 0"));
    quorvex::GlsOptions go = o;
    go.tol = {0.0, 1e-10};
    v.push_back(named(gls(s, 2, -1, 11, go), "gls tol", "tol = {0, 1e-10}"));
    go = o;
    go.maxit = 0;
    v.push_back(named(gls(s, 2, -1, 11, go), "gls maxit", "maxit = 0"));
    v.push_back(named(gls(s, 12, -1, 11, o), "gls ncoef", "6 points", "OLSPFIT"));
  }
  const quorvex::Curve cu = cubic(), li = line();
  quorvex::Curve empty = cu;
  empty.xmax = empty.xmin;
  auto poly = [](quorvex::Curve c, Vec x, const char* name, const char* says) {
    return FailCase{name, "POLYEVAL", [=] { quorvex::evaluate(c, x); },
                    [=] { return c_polyeval(c.coef, x, c.xmin, c.xmax).istat; }, says};
  };
  v.push_back(poly(empty, {1.0}, "polyeval interval", "must be below xmax"));
  v.push_back(poly(cu, {3.0, -2.0, 4.0}, "polyeval below", "x[1] = -2"));
  v.push_back(poly(cu, {3.0, 12.5, 4.0}, "polyeval above", "x[1] = 12.5"));
  auto ipv = [](quorvex::Curve c, int ngrid, const char* name, const char* says) {
    const Vec y = {0.5, 0.7}, var = {1e-6, 1e-6};
    return FailCase{name, "IPVAL",
                    [=] { quorvex::inverse(c, y, var, {.ngrid = ngrid}); },
                    [=] { return c_ipval(c, y, var, ngrid, 0.0).istat; }, says};
  };
  quorvex::Curve constant;
  constant.coef = {1.0};
  constant.xmax = 10;
  v.push_back(ipv(empty, 100, "ipval interval", "must be below xmax"));
  v.push_back(ipv(constant, 100, "ipval constant", "ncoef = 1"));
  v.push_back(ipv(cu, 0, "ipval ngrid", "ngrid = 0"));
  quorvex::Curve empty_line = li;
  empty_line.xmin = 20;
  v.push_back(FailCase{"linear_conv interval", "LINEAR_CONV",
                       [=] { quorvex::to_line(empty_line); },
                       [=] { return c_linear_conv(empty_line).istat; }, "xmin = 20"});
  v.push_back(FailCase{"ipval_degree1 interval", "IPVAL_DEGREE1",
                       [=] { quorvex::inverse_line(empty_line, Vec{1.0}); },
                       [=] { return c_ipval1(empty_line, {1.0}, {0.0}).istat; }, "xmin = 20"});
  return v;
}

TEST(CxxHeader, ErrorCarriesTheEntryPointsStatus) {
  ASSERT_TRUE(lib().loaded());
  for (const FailCase& f : fail_cases()) {
    SCOPED_TRACE(f.name);
    const int expected = f.c();
    ASSERT_NE(expected, 0) << "the entry point accepts this case";
    try {
      f.cxx();
      ADD_FAILURE() << "no exception";
    } catch (const quorvex::Error& e) {
      EXPECT_EQ(e.status(), expected);
      EXPECT_STREQ(e.routine(), f.routine);
      EXPECT_NE(std::string(e.message()).find(f.says), std::string::npos) << e.message();
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(std::string(f.routine) + ": ", 0), 0u) << what;
      EXPECT_NE(what.find("(status " + std::to_string(expected) + ")"), std::string::npos) << what;
    }
  }
}

TEST(CxxHeader, MisuseOfTheWrapperIsRefusedBeforeAnyCall) {
  const Standards s = standards(6);
  const Vec short_y(s.y.begin(), s.y.end() - 1);
  EXPECT_THROW(quorvex::ols_fit(s.x, short_y, s.wy, 2, 0, 10), std::invalid_argument);
  EXPECT_THROW(quorvex::gls_fit(s.x, s.y, short_y, s.wy, 2, 0, 10), std::invalid_argument);
  quorvex::Curve c = cubic();
  EXPECT_THROW(quorvex::inverse(c, s.y, short_y), std::invalid_argument);
  c.cov = quorvex::Matrix(3, 3);
  EXPECT_THROW(quorvex::inverse(c, s.y), std::invalid_argument);
  EXPECT_THROW(quorvex::to_line(c), std::invalid_argument);
  EXPECT_THROW(quorvex::inverse_line(c, s.y), std::invalid_argument);
}

TEST(CxxHeader, VersionIsItsParts) {
  EXPECT_EQ(std::string(quorvex::version), std::to_string(quorvex::version_major) + "." +
                                               std::to_string(quorvex::version_minor) + "." +
                                               std::to_string(quorvex::version_patch));
}

}  // namespace
