// The worksheet functions and the worked macro of examples/quorvex.bas, line
// for line in C++, run against QUORVEXv1.dll and QUORVEXlab1.dll under Wine:
// the same DLL calls with the same arguments as the module makes them (a
// spreadsheet cannot run here).  The module fits through QUORVEXv1.dll and
// reads samples back, with its default u(y), through QVXL_READBACK.
//
//   quorvex_vba_mirror SHEET.csv RESULTS.txt
//
// SHEET.csv is the example data sheet of the Windows package, in the macro's
// layout.  The program runs the macro on it and a table of worksheet-function
// calls (unweighted, stated and errors-in-variables fits, lines and curves,
// several roots, each kind of bad input), and checks on its own:
//  - each call returns a number, or the Excel error value (#VALUE! for input,
//    #NUM! for a calculation without an answer) with a reason, as its case
//    expects;
//  - the u(y) argument reaches the library as the mode and value meant: a
//    default u(y) of a fit scaled by the scatter is SRES / sqrt(readings)
//    (the library's rule, unweighted), one of a fit with stated u(y) an
//    error; a stated 0 is the curve's part only;
//  - a response read back through QVX_X and evaluated by QVX_Y returns it;
//  - the power form evaluated at points of the interval is the curve
//    (POLYEVAL), and for a line it equals LINEAR_CONV's intercept and slope;
//  - QVX_X on a line equals IPVAL_DEGREE1 inside the interval.
// RESULTS.txt gets every fit block, power form and read-back value with its
// inputs, for tests/windows/check_vba_mirror.py to compare with the Python
// package.  Prints one line per failure and 'N passed, N failed'.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "quorvex.h"
#include "quorvex_lab.h"

namespace {

using Vec = std::vector<double>;

int g_passed = 0, g_failed = 0;

void report(bool ok, const std::string& what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

std::string num(double v) {
  char b[40];
  std::snprintf(b, sizeof b, "%.17g", v);
  return b;
}

std::string list(const Vec& v) {
  std::string s;
  for (std::size_t i = 0; i < v.size(); ++i) s.append(i ? "," : "").append(num(v[i]));
  return s.empty() ? "-" : s;
}

// The module's constants.
constexpr int kGrid = 100;
constexpr double kReadLevel = 0.95;
constexpr int kGlsMaxit = 100;
constexpr double kGlsSigma = 0.1;
constexpr double kStepRtol = 1e-3;
constexpr double kResidualRtol = 1e-7;
constexpr double kPadUx = 10.0;
constexpr double kPadRange = 0.05;
constexpr int kMaxNcoef = 10;

// Private Type QvxFit.
struct Fit {
  int ncoef = 0;
  std::string routine;
  double xmin = 0, xmax = 0, sres = 0;
  int dof = 0;
  bool scaled = false;
  Vec coef, cov;  // cov column by column, as VBA stores (1 To n, 1 To n)
  double& c(int i, int j) { return cov[(j - 1) * ncoef + (i - 1)]; }
};

enum class Code { Ok, Value, Num };
const char* code_name(Code c) { return c == Code::Ok ? "ok" : c == Code::Value ? "#VALUE!" : "#NUM!"; }

struct Outcome {
  Code code = Code::Ok;
  std::string msg;
};
Outcome fail(Code c, std::string msg) { return {c, std::move(msg)}; }

// An argument as the module sees it: left out, a number, or a text.
struct Arg {
  enum Kind { Missing, Number, Text } kind = Missing;
  double v = 0;
  std::string text;
  static Arg none() { return {}; }
  static Arg number(double d) { return {Number, d, {}}; }
  static Arg str(std::string s) { return {Text, 0, std::move(s)}; }
};

// ------------------------------------------------------------------- fits

bool distinct(const Vec& xs) {
  return std::any_of(xs.begin(), xs.end(), [&](double v) { return v != xs[0]; });
}

// PerStandard.
Outcome per_standard(const Vec& a, const char* what, std::size_t n, Vec& out) {
  if (a.size() != 1 && a.size() != n)
    return fail(Code::Value, std::string(what) + " has the wrong number of values");
  out.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = a.size() == 1 ? a[0] : a[i];
    if (!(out[i] > 0)) return fail(Code::Value, std::string(what) + ": uncertainties must be positive");
    if (1 / out[i] > 1e300) return fail(Code::Value, std::string(what) + ": weight overflows");
  }
  return {};
}

// OlsOn: OLSPFIT with given weights and interval, covariance not scaled.
Outcome ols_on(const Vec& xs, const Vec& ys, const Vec& ws, int ncoef, double lo, double hi,
               Fit& f) {
  int n = static_cast<int>(xs.size());
  f.ncoef = ncoef;
  f.routine = "OLSPFIT";
  f.xmin = lo;
  f.xmax = hi;
  f.coef.assign(ncoef, 0);
  f.cov.assign(ncoef * ncoef, 0);
  Vec fitted(n), resid(n), wresid(n);
  double wresmax = 0;
  int istat = 0;
  OLSPFIT(&n, xs.data(), ys.data(), ws.data(), &ncoef, &lo, &hi, f.coef.data(), f.cov.data(),
          &f.sres, fitted.data(), resid.data(), wresid.data(), &wresmax, &istat);
  if (istat != 0) return fail(Code::Num, "OLSPFIT status " + std::to_string(istat));
  f.dof = n - ncoef;
  return {};
}

// FitOls.
Outcome fit_ols(const Vec& xs, const Vec& ys, const Vec* uys, int ncoef, Fit& f) {
  const std::size_t n = xs.size();
  double lo = xs[0], hi = xs[0];
  Vec ws(n);
  for (std::size_t i = 0; i < n; ++i) {
    lo = std::min(lo, xs[i]);
    hi = std::max(hi, xs[i]);
    ws[i] = uys ? 1 / (*uys)[i] : 1;
  }
  Outcome o = ols_on(xs, ys, ws, ncoef, lo, hi, f);
  if (o.code != Code::Ok) return o;
  f.scaled = uys == nullptr;
  if (f.scaled) {
    if (f.dof == 0) return fail(Code::Num, "no degrees of freedom to estimate the scatter");
    for (int j = 1; j <= ncoef; ++j)
      for (int i = 1; i <= ncoef; ++i) f.c(i, j) = f.c(i, j) * f.sres * f.sres;
  }
  return {};
}

// Slope: dp/dx through the Chebyshev polynomials of the second kind.
double slope(const Fit& f, double x) {
  double t = ((x - f.xmin) - (f.xmax - x)) / (f.xmax - f.xmin);
  double u_prev = 0, u_cur = 1, s = 0;
  for (int k = 1; k <= f.ncoef - 1; ++k) {
    s = s + k * f.coef[k] * u_cur;
    double u_next = 2 * t * u_cur - u_prev;
    u_prev = u_cur;
    u_cur = u_next;
  }
  return s * 2 / (f.xmax - f.xmin);
}

// GlsTolerances.
void gls_tolerances(const Vec& xs, const Vec& ys, const Vec& wx, const Vec& wy, const Vec& uxs,
                    const Fit& start, double tols[2]) {
  const std::size_t n = xs.size();
  double s = 0;
  for (std::size_t i = 0; i < n; ++i) {
    s = std::max(s, wx[i]);
    s = std::max(s, wy[i]);
  }
  double ss = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double term = wy[i] * (std::fabs(ys[i]) + std::fabs(slope(start, xs[i])) * std::fabs(xs[i]));
    ss = ss + term * term;
  }
  double floor_round = 16 * std::ldexp(1.0, -52) * std::sqrt(ss);
  tols[1] = std::max(floor_round, kResidualRtol) / (s * 2 * static_cast<double>(n));
  ss = 0;
  for (std::size_t i = 0; i < n; ++i) ss = ss + uxs[i] * uxs[i];
  for (int k = 0; k < start.ncoef; ++k) ss = ss + std::fabs(start.cov[k * start.ncoef + k]);
  tols[0] = kStepRtol * std::sqrt(ss) / (static_cast<double>(n) + start.ncoef);
  if (!(tols[0] > 0)) tols[0] = kResidualRtol;
}

// FitGls.
Outcome fit_gls(const Vec& xs, const Vec& ys, const Vec& uys, const Vec& uxs, int ncoef, Fit& f) {
  int n = static_cast<int>(xs.size());
  double lo = xs[0], hi = xs[0], ux_max = uxs[0];
  Vec wx(n), wy(n);
  for (int i = 0; i < n; ++i) {
    lo = std::min(lo, xs[i]);
    hi = std::max(hi, xs[i]);
    ux_max = std::max(ux_max, uxs[i]);
    wx[i] = 1 / uxs[i];
    wy[i] = 1 / uys[i];
  }
  double pad = std::max(kPadUx * ux_max, kPadRange * (hi - lo));
  lo = lo - pad;
  hi = hi + pad;
  Fit start;
  Outcome o = ols_on(xs, ys, wy, ncoef, lo, hi, start);
  if (o.code != Code::Ok) return o;
  double tols[2];
  gls_tolerances(xs, ys, wx, wy, uxs, start, tols);
  f.ncoef = ncoef;
  f.routine = "GLSPFIT";
  f.xmin = lo;
  f.xmax = hi;
  f.coef.assign(ncoef, 0);
  f.cov.assign(ncoef * ncoef, 0);
  Vec param(n + ncoef), fitted(n), resid(2 * n), wresid(2 * n), r11(n), r12(n * ncoef),
      r22(ncoef * (ncoef + 1) / 2), rinfo(4);
  double wresmax = 0;
  int olstat = 0, istat[3] = {0, 0, 0}, maxit = kGlsMaxit;
  double sigma = kGlsSigma;
  GLSPFIT(&n, xs.data(), ys.data(), wx.data(), wy.data(), &ncoef, &lo, &hi, tols, &maxit, &sigma,
          param.data(), f.cov.data(), &f.sres, fitted.data(), resid.data(), wresid.data(),
          &wresmax, r11.data(), r12.data(), r22.data(), rinfo.data(), &olstat, istat);
  if (olstat != 0) return fail(Code::Num, "starting fit status " + std::to_string(olstat));
  if (istat[0] < 0 || istat[0] > 3) return fail(Code::Num, "GLSPFIT status " + std::to_string(istat[0]));
  for (int i = 0; i < ncoef; ++i) f.coef[i] = param[n + i];
  f.dof = n - ncoef;
  f.scaled = false;
  return {};
}

// FitFromRanges (after the cells are read into numbers).
Outcome fit_from_ranges(const Vec& xs, const Vec& ys, const std::optional<Vec>& u_y,
                        const std::optional<Vec>& u_x, std::optional<double> degree, Fit& f) {
  if (xs.size() != ys.size()) return fail(Code::Value, "give one y per x");
  double d = degree.value_or(1);
  if (d != std::floor(d) || d < 0 || d > kMaxNcoef - 1)
    return fail(Code::Value, "degree must be a whole number from 0 to 9");
  int ncoef = static_cast<int>(d) + 1;
  if (xs.size() < static_cast<std::size_t>(ncoef))
    return fail(Code::Value, "too few standards for the coefficients");
  if (!distinct(xs)) return fail(Code::Value, "a curve needs distinct x values");
  Vec uys, uxs;
  if (u_y) {
    Outcome o = per_standard(*u_y, "u_y", xs.size(), uys);
    if (o.code != Code::Ok) return o;
  }
  if (u_x) {
    if (!u_y) return fail(Code::Value, "u_x needs u_y too");
    Outcome o = per_standard(*u_x, "u_x", xs.size(), uxs);
    if (o.code != Code::Ok) return o;
  }
  if (u_x) return fit_gls(xs, ys, uys, uxs, ncoef, f);
  return fit_ols(xs, ys, u_y ? &uys : nullptr, ncoef, f);
}

// -------------------------------------------------------- derived values

// ResponseArgs: the u(y) argument as QVXL_READBACK's mode and value.
Outcome response_args(const Arg& u_y, const Arg& readings, int& mode, double& uyv, double& m) {
  m = 1;
  uyv = 0;
  if (readings.kind == Arg::Text) return fail(Code::Value, "readings is not a number");
  if (readings.kind == Arg::Number) {
    m = readings.v;
    if (m != std::floor(m) || m < 1) return fail(Code::Value, "readings must be a whole number >= 1");
  }
  if (u_y.kind == Arg::Missing) {
    mode = 1;
    return {};
  }
  if (u_y.kind == Arg::Text) {
    std::string t = u_y.text;
    std::transform(t.begin(), t.end(), t.begin(), [](unsigned char ch) { return std::tolower(ch); });
    if (t == "curve-only" || t == "curve only") {
      mode = 2;
      return {};
    }
    return fail(Code::Value, "u_y is a text other than curve-only");
  }
  uyv = u_y.v;
  if (uyv < 0) return fail(Code::Value, "u_y is negative");
  mode = 0;
  return {};
}

// ReadBack: QVXL_READBACK for one response.
struct Reading {
  double uy = 0;
  std::string source;
  int nroot = 0;
  Vec roots, uroots;
};

Outcome read_back_one(Fit& f, double y, int mode, double uyv, double m, Reading& r) {
  if (f.ncoef < 2) return fail(Code::Value, "a fit of degree 0 cannot be read back");
  int covkind = f.scaled ? 1 : 0, stated = f.scaled ? 0 : 1, ndof = f.dof, weighting = 0;
  int haslim = 0, one = 1, grid = kGrid, extrap = 0, istat = -1, nroot = 0, uysrc = 0, flags = 0;
  double xstd[2] = {f.xmin, f.xmax}, limits[2] = {0, 0}, level = kReadLevel, ztol = 0;
  double uyused = 0, ucurve = 0, dof = 0, k = 0, u = 0, low = 0, high = 0, xext = 0, uxext = 0;
  r.roots.assign(f.ncoef - 1, 0);
  r.uroots.assign(f.ncoef - 1, 0);
  QVXL_READBACK(&f.ncoef, f.coef.data(), f.cov.data(), &f.xmin, &f.xmax, &covkind, &ndof, &f.sres,
                &weighting, &stated, xstd, &haslim, limits, &one, &y, &mode, &uyv, &m, &level,
                &grid, &ztol, &extrap, &nroot, r.roots.data(), r.uroots.data(), &uyused, &uysrc,
                &ucurve, &dof, &k, &u, &low, &high, &xext, &uxext, &flags, &istat);
  if (istat == QVXL_UY_STATED_STANDARDS || istat == QVXL_UY_NO_DOF)
    return fail(Code::Value, "the default u(y) is refused: status " + std::to_string(istat));
  if (istat != 0) return fail(Code::Num, "QVXL_READBACK status " + std::to_string(istat));
  r.nroot = nroot;
  r.uy = uyused;
  if (uysrc == QVXL_UYSRC_STATED) r.source = "stated";
  else if (uysrc == QVXL_UYSRC_SCATTER)
    r.source = m == 1 ? "from the scatter, 1 reading"
                      : "from the scatter, " + std::to_string(static_cast<long>(m)) + " readings";
  else r.source = "curve only";
  return {};
}

// InverseCell: QVX_X (what 1) and QVX_UX (what 2), and the u(y) used.
Outcome inverse_cell(Fit& f, double y, const Arg& u_y, const Arg& readings, const Arg& root,
                     double out[3], std::string& source) {
  int mode = 0;
  double uyv = 0, m = 1;
  Outcome o = response_args(u_y, readings, mode, uyv, m);
  if (o.code != Code::Ok) return o;
  int which = 0;
  if (root.kind != Arg::Missing) {
    if (root.kind == Arg::Text || root.v != std::floor(root.v) || root.v < 1 ||
        root.v > f.ncoef - 1 || f.ncoef < 2)
      return fail(Code::Value, "root must be a whole number from 1 to NCOEF - 1");
    which = static_cast<int>(root.v);
  }
  Reading r;
  o = read_back_one(f, y, mode, uyv, m, r);
  if (o.code != Code::Ok) return o;
  source = r.source;
  if (r.nroot == 0) return fail(Code::Num, "the response is not reached by the curve on its interval");
  if (which == 0) {
    if (r.nroot > 1) return fail(Code::Num, "the curve reaches the response at several x values");
    which = 1;
  } else if (which > r.nroot) {
    return fail(Code::Num, "fewer x values than root");
  }
  out[0] = r.roots[which - 1];
  out[1] = r.uroots[which - 1];
  out[2] = r.uy;
  return {};
}

// CurveAt: QVX_Y.
Outcome curve_at(Fit& f, double x, double& y) {
  if (x < f.xmin || x > f.xmax) return fail(Code::Num, "x lies outside the curve's interval");
  int one = 1, istat = 0;
  POLYEVAL(&f.ncoef, f.coef.data(), &one, &x, &f.xmin, &f.xmax, &y, &istat);
  if (istat != 0) return fail(Code::Num, "POLYEVAL status " + std::to_string(istat));
  return {};
}

// LineForm: a = (intercept, slope) with u.
Outcome line_form(Fit& f, Vec& a, Vec& ua) {
  double lcoef[2], lcov[4];
  int istat = 0;
  LINEAR_CONV(f.coef.data(), f.cov.data(), &f.xmin, &f.xmax, lcoef, lcov, &istat);
  if (istat != 0) return fail(Code::Num, "LINEAR_CONV status " + std::to_string(istat));
  a = {lcoef[1], lcoef[0]};
  ua = {std::sqrt(std::fabs(lcov[3])), std::sqrt(std::fabs(lcov[0]))};
  return {};
}

// PowerForm: a = M c, Cov(a) = M C M' symmetrised; M by Horner's rule in t(x).
void power_form(Fit& f, Vec& a, Vec& ca) {
  const int nc = f.ncoef;
  double alpha = 2 / (f.xmax - f.xmin);
  double beta = -(f.xmin + f.xmax) / (f.xmax - f.xmin);
  std::vector<Vec> tp(nc, Vec(nc, 0.0));
  tp[0][0] = 1;
  if (nc > 1) tp[1][1] = 1;
  for (int k = 2; k < nc; ++k)
    for (int j = 0; j <= k; ++j) {
      if (j > 0) tp[k][j] = 2 * tp[k - 1][j - 1];
      tp[k][j] = tp[k][j] - tp[k - 2][j];
    }
  std::vector<Vec> m(nc, Vec(nc, 0.0));  // m[i][k]
  Vec px(nc), nx(nc);
  for (int k = 0; k < nc; ++k) {
    std::fill(px.begin(), px.end(), 0.0);
    for (int j = k; j >= 0; --j) {
      for (int i = 0; i < nc; ++i) {
        nx[i] = px[i] * beta;
        if (i > 0) nx[i] = nx[i] + px[i - 1] * alpha;
      }
      nx[0] = nx[0] + tp[k][j] * (k == 0 ? 0.5 : 1.0);
      px = nx;
    }
    for (int i = 0; i < nc; ++i) m[i][k] = px[i];
  }
  a.assign(nc, 0);
  ca.assign(nc * nc, 0);
  std::vector<Vec> t(nc, Vec(nc, 0.0));
  for (int i = 0; i < nc; ++i) {
    double s = 0;
    for (int k = 0; k < nc; ++k) s = s + m[i][k] * f.coef[k];
    a[i] = s;
    for (int j = 0; j < nc; ++j) {
      s = 0;
      for (int k = 0; k < nc; ++k) s = s + m[i][k] * f.c(k + 1, j + 1);
      t[i][j] = s;
    }
  }
  for (int i = 0; i < nc; ++i)
    for (int j = 0; j < nc; ++j) {
      double s = 0;
      for (int k = 0; k < nc; ++k) s = s + t[i][k] * m[j][k];
      ca[j * nc + i] = s;
    }
  for (int i = 0; i < nc; ++i)
    for (int j = i + 1; j < nc; ++j) {
      double s = 0.5 * (ca[j * nc + i] + ca[i * nc + j]);
      ca[j * nc + i] = s;
      ca[i * nc + j] = s;
    }
}

// ------------------------------------------------------------- the table

std::ofstream g_out;

void write_fit(const std::string& name, const Vec& x, const Vec& y, const std::optional<Vec>& uy,
               const std::optional<Vec>& ux, std::optional<double> degree, const Fit& f) {
  g_out << "fit " << name << " degree=" << num(degree.value_or(1)) << " x=" << list(x)
        << " y=" << list(y) << " uy=" << (uy ? list(*uy) : "-") << " ux=" << (ux ? list(*ux) : "-")
        << "\n";
  g_out << "block " << name << " ncoef=" << f.ncoef << " routine=" << f.routine
        << " xmin=" << num(f.xmin) << " xmax=" << num(f.xmax) << " sres=" << num(f.sres)
        << " dof=" << f.dof << " covariance=" << (f.scaled ? "scaled" : "stated")
        << " coef=" << list(f.coef) << " cov=" << list(f.cov) << "\n";
}

std::string arg_text(const Arg& a) {
  if (a.kind == Arg::Missing) return "-";
  if (a.kind == Arg::Text) {  // one field: spaces written as '_'
    std::string t = a.text;
    std::replace(t.begin(), t.end(), ' ', '_');
    return t;
  }
  return num(a.v);
}

// QVX_X, QVX_UX, QVX_UY on one response, with the checks every call gets.
void read_back(const std::string& name, Fit& f, double y, const Arg& u_y, const Arg& readings,
               const Arg& root, Code want) {
  double out[3] = {0, 0, 0};
  std::string source;
  Outcome o = inverse_cell(f, y, u_y, readings, root, out, source);
  report(o.code == want, name + ": " + code_name(o.code) + " (" + o.msg + "), expected " +
                             code_name(want));
  if (o.code != Code::Ok) {
    report(!o.msg.empty(), name + ": an error without a reason");
    g_out << "error " << name << " " << code_name(o.code) << " " << o.msg << "\n";
    return;
  }
  g_out << "inv " << name << " y=" << num(y) << " u_y=" << arg_text(u_y)
        << " readings=" << arg_text(readings) << " root=" << arg_text(root) << " x=" << num(out[0])
        << " ux=" << num(out[1]) << " uy=" << num(out[2]) << " source=" << source << "\n";
  // The u(y) argument reached the library as meant: the default of a scaled
  // fit is SRES / sqrt(readings); a stated value is used as given.
  if (u_y.kind == Arg::Missing) {
    double m = readings.kind == Arg::Number ? readings.v : 1;
    report(f.scaled && std::fabs(out[2] - f.sres / std::sqrt(m)) <= 1e-15 * out[2],
           name + ": default u(y) is not SRES/sqrt(m)");
  } else if (u_y.kind == Arg::Number) {
    report(out[2] == u_y.v, name + ": the stated u(y) came back as " + num(out[2]));
  }
  // Round trip: the curve at x gives the response back.
  double yback = 0;
  Outcome back = curve_at(f, out[0], yback);
  report(back.code == Code::Ok && std::fabs(yback - y) <= 1e-12 * (1 + std::fabs(y)),
         name + ": QVX_Y(QVX_X(y)) = " + num(yback) + ", not " + num(y));
  // u(x) from the curve's and the reading's parts: at least the reading's.
  double h = 1e-6 * (f.xmax - f.xmin), y1, y2;
  if (out[0] - h >= f.xmin && out[0] + h <= f.xmax && curve_at(f, out[0] - h, y1).code == Code::Ok &&
      curve_at(f, out[0] + h, y2).code == Code::Ok) {
    double d = (y2 - y1) / (2 * h);
    report(out[1] >= out[2] / std::fabs(d) * (1 - 1e-6), name + ": u(x) below u(y)/|slope|");
  }
  // A line: IPVAL_DEGREE1 in closed form agrees.
  if (f.ncoef == 2) {
    int one = 1, istat = 0;
    double covy = out[2] * out[2], xp = 0, uxp = 0;
    IPVAL_DEGREE1(f.coef.data(), f.cov.data(), &one, &y, &covy, &f.xmin, &f.xmax, &xp, &uxp, &istat);
    report(istat == 0 && std::fabs(xp - out[0]) <= 1e-12 * (f.xmax - f.xmin) &&
               std::fabs(uxp - out[1]) <= 1e-10 * out[1],
           name + ": IPVAL_DEGREE1 gives " + num(xp) + " +- " + num(uxp));
  }
}

// QVX_POWER and QVX_LINE, with their checks.
void forms(const std::string& name, Fit& f) {
  Vec a, ca;
  power_form(f, a, ca);
  Vec ua(f.ncoef);
  for (int k = 0; k < f.ncoef; ++k) ua[k] = std::sqrt(std::fabs(ca[k * f.ncoef + k]));
  g_out << "power " << name << " a=" << list(a) << " ua=" << list(ua) << " cov=" << list(ca) << "\n";
  // The power form is the curve.
  for (int p = 0; p <= 8; ++p) {
    double x = f.xmin + (f.xmax - f.xmin) * p / 8.0, y = 0, yp = 0, scale = 0, xk = 1;
    curve_at(f, x, y);
    for (int k = 0; k < f.ncoef; ++k) {
      yp += a[k] * xk;
      scale += std::fabs(a[k] * xk);
      xk *= x;
    }
    report(std::fabs(yp - y) <= 1e-11 * (scale + 1e-300), name + ": power form at " + num(x) +
                                                               " gives " + num(yp) + ", curve " + num(y));
  }
  Vec la, lua;
  Outcome o = f.ncoef == 2 ? line_form(f, la, lua) : fail(Code::Value, "not a straight line");
  if (f.ncoef == 2) {
    report(o.code == Code::Ok, name + ": QVX_LINE failed");
    g_out << "line " << name << " intercept=" << num(la[0]) << " u_intercept=" << num(lua[0])
          << " slope=" << num(la[1]) << " u_slope=" << num(lua[1]) << "\n";
    for (int k = 0; k < 2; ++k)
      report(std::fabs(la[k] - a[k]) <= 1e-12 * (std::fabs(a[k]) + ua[k]) &&
                 std::fabs(lua[k] - ua[k]) <= 1e-10 * ua[k],
             name + ": QVX_LINE and QVX_POWER disagree in term " + std::to_string(k));
  } else {
    report(o.code == Code::Value, name + ": QVX_LINE of a curve is not #VALUE!");
  }
}

void expect_fit_error(const std::string& name, const Vec& x, const Vec& y,
                      const std::optional<Vec>& uy, const std::optional<Vec>& ux,
                      std::optional<double> degree, Code want) {
  Fit f;
  Outcome o = fit_from_ranges(x, y, uy, ux, degree, f);
  report(o.code == want && !o.msg.empty(),
         name + ": QVX_FIT gives " + code_name(o.code) + " (" + o.msg + "), expected " + code_name(want));
  g_out << "error " << name << " " << code_name(o.code) << " " << o.msg << "\n";
}

Fit fit_case(const std::string& name, const Vec& x, const Vec& y, const std::optional<Vec>& uy,
             const std::optional<Vec>& ux, std::optional<double> degree) {
  Fit f;
  Outcome o = fit_from_ranges(x, y, uy, ux, degree, f);
  report(o.code == Code::Ok, name + ": QVX_FIT failed: " + o.msg);
  if (o.code == Code::Ok) write_fit(name, x, y, uy, ux, degree, f);
  return f;
}

// ------------------------------------------------------------ the macro

std::vector<std::vector<std::string>> read_csv(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, ',')) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

std::string cell(const std::vector<std::vector<std::string>>& s, int row, int col) {
  if (row < 1 || row > static_cast<int>(s.size())) return "";
  const auto& r = s[row - 1];
  return col <= static_cast<int>(r.size()) ? r[col - 1] : "";
}

Arg cell_arg(const std::string& c) {
  if (c.empty()) return Arg::none();
  char* end = nullptr;
  double v = std::strtod(c.c_str(), &end);
  if (end && *end == '\0') return Arg::number(v);
  return Arg::str(c);
}

// Calibrate on the example sheet: the same steps and cells as the macro.
void macro(const char* path) {
  auto s = read_csv(path);
  report(cell(s, 1, 1) == "NCOEF" && cell(s, 3, 1) == "x" && cell(s, 3, 5) == "y",
         "the example sheet is not in the macro's layout (A1 NCOEF, A3 x, E3 y)");
  int nc = std::atoi(cell(s, 1, 2).c_str());
  Vec x, y, uy, ux;
  for (int r = 4; !cell(s, r, 1).empty(); ++r) {
    x.push_back(std::strtod(cell(s, r, 1).c_str(), nullptr));
    y.push_back(std::strtod(cell(s, r, 2).c_str(), nullptr));
    if (!cell(s, r, 3).empty()) uy.push_back(std::strtod(cell(s, r, 3).c_str(), nullptr));
    if (!cell(s, r, 4).empty()) ux.push_back(std::strtod(cell(s, r, 4).c_str(), nullptr));
  }
  std::optional<Vec> ouy, oux;
  if (!uy.empty()) ouy = uy;
  if (!ux.empty()) oux = ux;
  Fit f = fit_case("sheet", x, y, ouy, oux, nc - 1);
  if (f.ncoef == 0) return;
  forms("sheet", f);
  int samples = 0;
  for (int r = 4; !cell(s, r, 5).empty(); ++r) {
    ++samples;
    read_back("sheet-row" + std::to_string(r), f, std::strtod(cell(s, r, 5).c_str(), nullptr),
              cell_arg(cell(s, r, 6)), cell_arg(cell(s, r, 7)), Arg::none(), Code::Ok);
  }
  report(samples > 0, "the example sheet has no samples");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: %s SHEET.csv RESULTS.txt\n", argv[0]);
    return 2;
  }
  g_out.open(argv[2], std::ios::binary);
  g_out << "# quorvex_vba_mirror results\n";

  macro(argv[1]);

  // Standards of a spectrophotometer (examples/standards.csv), with stated
  // u(y) and u(x).
  const Vec cx = {0, 0, 1, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10};
  const Vec cy = {0.012, 0.0125, 0.1637, 0.3119, 0.3131, 0.6041, 0.6082,
                  0.8996, 0.8903, 1.165, 1.1718, 1.4386, 1.4368};
  const Vec cuy = {0.0015, 0.0015, 0.0022, 0.0028, 0.0028, 0.0039, 0.0039,
                   0.0051, 0.0051, 0.0062, 0.0062, 0.0072, 0.0072};
  Vec cux(cx.size());
  for (std::size_t i = 0; i < cx.size(); ++i) cux[i] = 0.01 + 0.005 * cx[i];

  Fit line = fit_case("line", cx, cy, std::nullopt, std::nullopt, std::nullopt);
  forms("line", line);
  read_back("line-default", line, 0.7, Arg::none(), Arg::none(), Arg::none(), Code::Ok);
  read_back("line-3readings", line, 0.7, Arg::none(), Arg::number(3), Arg::none(), Code::Ok);
  read_back("line-stated", line, 0.7, Arg::number(0.004), Arg::none(), Arg::none(), Code::Ok);
  read_back("line-curve-only", line, 0.7, Arg::str("curve-only"), Arg::none(), Arg::none(), Code::Ok);
  read_back("line-zero-uy", line, 0.7, Arg::number(0), Arg::none(), Arg::none(), Code::Ok);
  read_back("line-negative-uy", line, 0.7, Arg::number(-0.001), Arg::none(), Arg::none(),
            Code::Value);
  read_back("line-text-uy", line, 0.7, Arg::str("n/a"), Arg::none(), Arg::none(), Code::Value);
  read_back("line-half-reading", line, 0.7, Arg::none(), Arg::number(1.5), Arg::none(), Code::Value);
  read_back("line-outside", line, 2.5, Arg::none(), Arg::none(), Arg::none(), Code::Num);

  Fit quad = fit_case("quadratic-stated", cx, cy, cuy, std::nullopt, 2.0);
  forms("quadratic-stated", quad);
  read_back("quadratic-stated-uy", quad, 0.9, Arg::number(0.005), Arg::none(), Arg::none(), Code::Ok);
  read_back("quadratic-stated-default", quad, 0.9, Arg::none(), Arg::none(), Arg::none(), Code::Value);
  read_back("quadratic-stated-curve-only", quad, 0.9, Arg::str("Curve only"), Arg::none(),
            Arg::none(), Code::Ok);

  Fit eiv = fit_case("line-eiv", cx, cy, cuy, cux, 1.0);
  forms("line-eiv", eiv);
  read_back("line-eiv-uy", eiv, 0.5, Arg::number(0.003), Arg::none(), Arg::none(), Code::Ok);

  Fit cubic = fit_case("cubic-scaled", cx, cy, std::nullopt, std::nullopt, 3.0);
  forms("cubic-scaled", cubic);
  read_back("cubic-scaled-default", cubic, 1.0, Arg::none(), Arg::number(2), Arg::none(), Code::Ok);

  // A curve that turns: y = (x - 5)^2 + scatter reaches y = 4 twice.
  Vec px, py;
  for (int k = 0; k <= 20; ++k) {
    double xv = k * 0.5;
    px.push_back(xv);
    py.push_back((xv - 5) * (xv - 5) + 0.01 * ((k * 37 % 11) - 5) / 5.0);
  }
  Fit parabola = fit_case("parabola", px, py, std::nullopt, std::nullopt, 2.0);
  forms("parabola", parabola);
  read_back("parabola-two-roots", parabola, 4.0, Arg::none(), Arg::none(), Arg::none(), Code::Num);
  read_back("parabola-root1", parabola, 4.0, Arg::none(), Arg::none(), Arg::number(1), Code::Ok);
  read_back("parabola-root2", parabola, 4.0, Arg::none(), Arg::none(), Arg::number(2), Code::Ok);
  read_back("parabola-root3", parabola, 4.0, Arg::none(), Arg::none(), Arg::number(3), Code::Value);
  read_back("parabola-below", parabola, -1.0, Arg::none(), Arg::none(), Arg::none(), Code::Num);

  // QVX_Y outside the interval.
  double yv = 0;
  Outcome o = curve_at(line, line.xmax + 1, yv);
  report(o.code == Code::Num, "QVX_Y beyond the interval is not #NUM!");

  // Bad input.
  expect_fit_error("degree-10", cx, cy, std::nullopt, std::nullopt, 10.0, Code::Value);
  expect_fit_error("degree-minus-1", cx, cy, std::nullopt, std::nullopt, -1.0, Code::Value);
  // Degree 0: a constant fits, and cannot be read back.
  Fit constant = fit_case("constant", cx, cy, std::nullopt, std::nullopt, 0.0);
  forms("constant", constant);
  read_back("constant-read", constant, 0.7, Arg::none(), Arg::none(), Arg::none(), Code::Value);
  expect_fit_error("degree-1.5", cx, cy, std::nullopt, std::nullopt, 1.5, Code::Value);
  expect_fit_error("too-few", Vec{1, 2}, Vec{1, 2}, std::nullopt, std::nullopt, 2.0, Code::Value);
  expect_fit_error("same-x", Vec{3, 3, 3}, Vec{1, 2, 3}, std::nullopt, std::nullopt, 1.0, Code::Value);
  expect_fit_error("lengths", Vec{1, 2, 3}, Vec{1, 2}, std::nullopt, std::nullopt, 1.0, Code::Value);
  expect_fit_error("negative-uy", cx, cy, Vec{-0.01}, std::nullopt, 1.0, Code::Value);
  expect_fit_error("uy-count", cx, cy, Vec{0.01, 0.02}, std::nullopt, 1.0, Code::Value);
  expect_fit_error("ux-without-uy", cx, cy, std::nullopt, cux, 1.0, Code::Value);
  expect_fit_error("no-dof", Vec{1, 2, 3}, Vec{1, 4, 9}, std::nullopt, std::nullopt, 2.0, Code::Num);
  // The same three points with stated u(y) do fit: nothing to estimate.
  Fit exact = fit_case("exact-stated", Vec{1, 2, 3}, Vec{1, 4, 9}, Vec{0.1}, std::nullopt, 2.0);
  forms("exact-stated", exact);

  g_out.close();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
