// The worksheet functions and the worked macro of examples/quorvex.bas, in
// C++, run against QUORVEXv1.dll and QUORVEXlab1.dll under Wine: the same DLL
// calls with the same arguments as the module makes them (a spreadsheet
// cannot run here).  The module computes nothing itself, so the mirror is
// its argument conversions and its calls: QVXL_FIT (weighting, exclusions,
// covariance; 1/y, 1/y2 and a weight column through QVXL_RESPONSE_WEIGHTS, a
// variance model through QVXL_VARIANCE_FIT or QVXL_VARIANCE_FIT_RESIDUALS),
// QVXL_READBACK or QVXL_VARIANCE_READBACK (with QVXL_SAMPLE_LIMITS, and a
// sample's relative u(y)), QVXL_VERDICT (with QVXL_DEFAULT_CRITERIA),
// QVXL_LIMITS (the blank's scatter from QVXL_BLANK_SCATTER or the model's
// floor by QVXL_VARIANCE_AT), QVXL_BAND (with QVXL_RESPONSE_SD), QVXL_CURVE,
// QVXL_POWER, LINEAR_CONV and the texts of QVXL_TEXT.
//
//   quorvex_vba_mirror SHEET.csv CASES.txt RESULTS.txt
//
// SHEET.csv is the example data sheet of the Windows package, in the
// macro's layout; CASES.txt the table of worksheet calls
// (tests/windows/vba_cases.txt: every weighting, both fits, exclusions,
// replicates, stated and scaled covariance, samples outside the standards,
// rejected curves).  RESULTS.txt gets every number as %.17g (exact), for
// tests/windows/check_vba_mirror.py to compare with the Python package bit
// for bit.  On its own the program checks that
//  - a response read back and evaluated by QVX_Y gives the response again;
//  - the power form evaluated at points of the interval is the curve, and
//    for a line equals LINEAR_CONV's intercept and slope;
//  - QVX_READ's x on a line equals IPVAL_DEGREE1's inside the interval;
//  - the verdict's overall result and the banner agree;
//  - the texts come through QVXL_TEXT's byte buffer whole (a second request
//    with room enough), and every flag set has a text.
// Prints one line per failure and 'N passed, N failed'.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "quorvex.h"
#include "quorvex_lab.h"

namespace {

using Vec = std::vector<double>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

int g_passed = 0, g_failed = 0;
std::ofstream g_out;

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

std::string list(const double* v, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.append(i ? "," : "").append(num(v[i]));
  return s.empty() ? "-" : s;
}
std::string list(const Vec& v) { return list(v.data(), v.size()); }

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::stringstream ss(s);
  while (std::getline(ss, item, sep)) out.push_back(item);
  return out;
}

Vec numbers(const std::string& s) {
  Vec v;
  if (s.empty() || s == "-") return v;
  for (const std::string& t : split(s, ',')) v.push_back(std::strtod(t.c_str(), nullptr));
  return v;
}

// The module's constants.
constexpr int kGrid = 100;
constexpr double kReadLevel = 0.95;

// LabText: QVXL_TEXT into a byte buffer, asked again with room enough when
// the first is too short (the module starts at 256; the mirror at 8, so the
// second request is exercised).
std::string lab_text(int kind, int code) {
  int room = 8, needed = 0, istat = -1;
  std::vector<char> buf;
  for (;;) {
    buf.assign(room, '\x7f');
    QVXL_TEXT(&kind, &code, buf.data(), &room, &needed, &istat);
    if (istat != 0) return "status " + std::to_string(code) + " (see quorvex_lab.h)";
    if (needed < room) break;
    room = needed + 1;
  }
  return std::string(buf.data());
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// CStr of a whole number as VBA writes it.
std::string vba_str(double m) {
  char b[40];
  std::snprintf(b, sizeof b, "%.15g", m);
  return b;
}

// Private Type QvxFit, as the fit block carries it.
struct Fit {
  int ncoef = 0, weighting = 0, dof = 0, nstd = 0;
  bool gls = false, scaled = false, stated = false;
  double xmin = 0, xmax = 0, xlo = 0, xhi = 0, sres = 0, chi2 = 0;
  Vec coef, cov, covu;  // column by column, as VBA stores (1 To n, 1 To n)
  std::vector<int> keep;
  Vec x, y, uy, w, wres, wresx;
  // A variance model (WeightsAsUy): its code (-1 none), parameters, their
  // covariance, and each standard's mean response (NaN left out).
  int vmodel = -1;
  double vpar[2] = {0, 0}, vpcov[4] = {0, 0, 0, 0};
  Vec mu;
  std::string wname = "none";
  // KeptStandards.
  void kept(Vec& kx, Vec& ky, Vec& kw, Vec& kwres, Vec& kwresx, Vec& kuy) const {
    for (int i = 0; i < nstd; ++i) {
      if (!keep[i]) continue;
      kx.push_back(x[i]);
      ky.push_back(y[i]);
      kw.push_back(w[i]);
      kwres.push_back(wres[i]);
      kwresx.push_back(wresx[i]);
      kuy.push_back(uy[i]);
    }
  }
};

// What a call returns: a status (0 a result, else the module's error
// value: #VALUE! 1, #NUM! 2) and the reason.
struct Outcome {
  int error = 0;
  std::string msg;
};
Outcome value_error(std::string m) { return {1, std::move(m)}; }
Outcome num_error(std::string m) { return {2, std::move(m)}; }
// The module's rule for a library status outside the fit: 1-5 #VALUE!, else #NUM!.
Outcome lab_error(int istat) {
  return {istat > 5 ? 2 : 1, lab_text(1, istat)};
}

// ------------------------------------------------------------- FitCore

// The options of QVX_FIT as the module converts them.
struct FitArgs {
  Vec x, y, uy, ux;  // uy, ux empty: not given (one value: every standard)
  double degree = 1;
  std::string weighting, covariance;
  std::vector<std::string> reasons;  // one per standard, "" fitted (empty: none)
  Vec weights;                       // a weight per standard (empty: not given)
};

constexpr double kVarianceAlpha = 0.05;

// WeightsAsUy: the fitted standards' u(y) from 1/y (wsrc 1), 1/y2 (2), a
// weight column (3) or a variance model (4, vreq -1..3); left-out standards 1.
Outcome weights_as_uy(const FitArgs& a, const std::vector<int>& keep, int ncoef, int wsrc,
                      int vreq, int& covkind, Vec& uys, Fit& f) {
  if (!a.uy.empty() || !a.ux.empty())
    return value_error(wsrc == 4 ? "a variance model gives the weights" : "one source of weights");
  Vec xk, yk, vk;
  for (std::size_t i = 0; i < a.x.size(); ++i) {
    if (!keep[i]) continue;
    xk.push_back(a.x[i]);
    yk.push_back(a.y[i]);
    vk.push_back(wsrc == 3 ? a.weights[i] : a.y[i]);
  }
  int nk = static_cast<int>(xk.size()), istat = -1;
  if (nk == 0) return value_error("every standard is left out");
  Vec urel(nk), mu(nk);
  f.vmodel = -1;
  if (wsrc <= 3) {
    if (covkind == 0) return value_error("relative weights: the covariance is scaled");
    covkind = 1;
    int kind = wsrc;
    QVXL_RESPONSE_WEIGHTS(&kind, &nk, vk.data(), urel.data(), &istat);
    if (istat != 0) return value_error(lab_text(1, istat));
  } else {
    if (nk < 2) return value_error("a variance model needs standards measured in replicate");
    double alpha = kVarianceAlpha, loglik[4], test[2];
    int chosen = -9, ndof[2];
    QVXL_VARIANCE_FIT(&nk, xk.data(), yk.data(), &vreq, &alpha, &chosen, f.vpar, f.vpcov, loglik,
                      test, ndof, urel.data(), mu.data(), &istat);
    if (istat == QVXL_VAR_FEW_REPLICATES)
      QVXL_VARIANCE_FIT_RESIDUALS(&nk, xk.data(), yk.data(), &ncoef, &vreq, &alpha, &chosen,
                                  f.vpar, f.vpcov, loglik, test, ndof, urel.data(), mu.data(),
                                  &istat);
    if (istat != 0) return value_error("variance model: " + lab_text(1, istat));
    f.vmodel = chosen;
  }
  uys.assign(a.x.size(), 1.0);
  f.mu.assign(a.x.size(), kNaN);
  for (std::size_t i = 0, k = 0; i < a.x.size(); ++i) {
    if (!keep[i]) continue;
    uys[i] = urel[k];
    if (f.vmodel >= 0) f.mu[i] = mu[k];
    ++k;
  }
  return {};
}

Outcome fit_from_ranges(const FitArgs& a, Fit& f) {
  const int n = static_cast<int>(a.x.size());
  if (a.y.size() != a.x.size()) return value_error("give one y per x");
  if (a.degree != std::floor(a.degree)) return value_error("degree must be a whole number");
  int ncoef = std::fabs(a.degree) < 1000 ? static_cast<int>(a.degree) + 1 : 0;
  auto per_standard = [&](const Vec& v, Vec& out) {
    if (v.size() != 1 && v.size() != a.x.size()) return false;
    out.assign(n, 0);
    for (int i = 0; i < n; ++i) out[i] = v.size() == 1 ? v[0] : v[i];
    return true;
  };
  Vec uys(1, 0), uxs(1, 0);
  bool have_uy = !a.uy.empty(), have_ux = !a.ux.empty();
  if (have_uy && !per_standard(a.uy, uys)) return value_error("u_y: one, or one per standard");
  if (have_ux && !per_standard(a.ux, uxs)) return value_error("u_x: one, or one per standard");
  int wcode = 0, wsrc = 0, vreq = -1;
  static const std::map<std::string, std::pair<int, int>> sources = {
      {"1/y", {1, -1}},          {"1/y2", {2, -1}},  {"1/y^2", {2, -1}}, {"weights", {3, -1}},
      {"auto", {4, -1}},         {"constant", {4, 0}}, {"proportional", {4, 1}},
      {"floor", {4, 2}},         {"power", {4, 3}},  {"variance", {4, -2}}};
  if (a.weighting == "1/x") wcode = 1;
  else if (a.weighting == "1/x2" || a.weighting == "1/x^2") wcode = 2;
  else if (sources.count(a.weighting)) std::tie(wsrc, vreq) = sources.at(a.weighting);
  else if (!a.weighting.empty() && a.weighting != "none") return value_error("weighting");
  if (vreq == -2 || (wsrc == 3 && a.weights.empty()))
    return value_error("weighting names a fit block's weights");
  int covkind = -1;
  if (a.covariance == "stated") covkind = 0;
  else if (a.covariance == "scaled") covkind = 1;
  else if (!a.covariance.empty()) return value_error("covariance");
  std::vector<int> keep(n, 1);
  if (!a.reasons.empty()) {
    if (static_cast<int>(a.reasons.size()) != n) return value_error("exclude: one cell per standard");
    for (int i = 0; i < n; ++i) keep[i] = a.reasons[i].empty() ? 1 : 0;
  }
  if (!a.weights.empty()) {
    if (!a.weighting.empty() && a.weighting != "none" && wsrc != 3)
      return value_error("one source of weights");
    if (a.weights.size() != a.x.size()) return value_error("weights: one per standard");
    wsrc = 3;
  }
  if (wsrc != 0) {
    Outcome o = weights_as_uy(a, keep, ncoef, wsrc, vreq, covkind, uys, f);
    if (o.error) return o;
    have_uy = true;
  }
  int given = (have_uy ? 1 : 0) + (have_ux ? 2 : 0), defaults = 0, maxit = 0, ndof = 0;
  int istat = -1, info[5] = {0, 0, 0, 0, 0};
  int nc = ncoef >= 1 && ncoef <= 10 ? ncoef : 1;
  double interval[2] = {0, 0}, tols[2] = {0, 0}, sigma = 0, sres = 0, chi2 = 0, rinfo[4];
  Vec coef(nc), cov(nc * nc), covsc(nc * nc), fitted(n), res(n), wres(n), xadj(n), resx(n),
      wresx(n), wts(n), xwts(n);
  QVXL_FIT(&n, a.x.data(), a.y.data(), uys.data(), uxs.data(), &given, &wcode, keep.data(),
           &ncoef, &defaults, interval, tols, &maxit, &sigma, &covkind, coef.data(), cov.data(),
           covsc.data(), &sres, &ndof, &chi2, fitted.data(), res.data(), wres.data(), xadj.data(),
           resx.data(), wresx.data(), wts.data(), xwts.data(), rinfo, info, &istat);
  if (istat == QVXL_FIT_SCALE_OVERFLOW && covkind == 0) istat = 0;
  if (istat != 0) {
    Outcome o{(istat >= 1 && istat <= 5) || (istat >= 30 && istat <= 35) ? 1 : 2,
              "the standards cannot be fitted: " + lab_text(1, istat)};
    return o;
  }
  f.ncoef = ncoef;
  f.wname = wsrc == 0 ? std::string(wcode == 0 ? "none" : wcode == 1 ? "1/x" : "1/x2")
                      : std::string(wsrc == 1 ? "1/y" : wsrc == 2 ? "1/y2" : wsrc == 3 ? "weights" : "variance");
  f.gls = have_ux;
  f.weighting = wcode;
  f.xmin = interval[0];
  f.xmax = interval[1];
  f.sres = sres;
  f.chi2 = chi2;
  f.dof = ndof;
  f.scaled = covkind == 1;
  f.stated = have_uy;
  f.coef = coef;
  f.covu = cov;
  f.cov = f.scaled ? covsc : cov;
  f.nstd = n;
  f.keep = keep;
  f.x = a.x;
  f.y = a.y;
  f.uy.assign(n, kNaN);
  if (have_uy) f.uy = uys;
  if (wsrc != 0)
    for (int i = 0; i < n; ++i)
      if (!keep[i]) f.uy[i] = kNaN;
  f.w = wts;
  f.wres = wres;
  f.wresx = wresx;
  Vec xk;
  for (int i = 0; i < n; ++i)
    if (keep[i]) xk.push_back(a.x[i]);
  int nk = static_cast<int>(xk.size()), hasux = 0;
  double one = 0;
  QVXL_DEFAULT_INTERVAL(&nk, xk.data(), &hasux, &one, &f.xlo, &f.xhi, &istat);
  if (istat != 0) return num_error("QVXL_DEFAULT_INTERVAL status " + std::to_string(istat));
  return {};
}

// ------------------------------------------------------------ QVX_READ

struct Reading {
  int nroot = 0, flags = 0, uysrc = 0;
  Vec roots, uroots;
  double uy = 0, ucurve = 0, dof = 0, k = 0, u = 0, low = 0, high = 0, xext = 0, uxext = 0;
  std::string source, flag_text;
};

// The sample's u(y) as the module takes it: "-" empty (mode 1), a number
// (mode 0), "curve-only" (mode 2); readings "-" is 1.
Outcome response_args(const std::string& u_y, const std::string& readings, int& mode, double& uyv,
                      double& m) {
  m = 1;
  uyv = 0;
  if (readings != "-") {
    m = std::strtod(readings.c_str(), nullptr);
    if (m != std::floor(m)) return value_error("readings must be a whole number");
  }
  if (u_y == "-") {
    mode = 1;
  } else if (u_y == "curve-only" || u_y == "curve_only") {
    mode = 2;
  } else {
    mode = 0;
    uyv = std::strtod(u_y.c_str(), nullptr);
  }
  return {};
}

// Sig: a number to `digits` significant digits, as VBA's Format writes it.
std::string sig(double d, int digits) {
  if (d == 0) return "0";
  char b[40];
  std::snprintf(b, sizeof b, "%.*e", digits - 1, d);
  std::snprintf(b, sizeof b, "%.15g", std::strtod(b, nullptr));
  return b;
}

// FlagsText: the library's text of every bit set, placeholders filled.
std::string flags_text(const Reading& r, int haslim, const double lims[2]) {
  std::string ext, s;
  if (std::isfinite(r.xext))
    ext = " (x = " + sig(r.xext, 5) + " \xc2\xb1 " + sig(r.uxext, 2) + " on the line extended)";
  for (int k = 0; k <= 30; ++k) {
    int bit = 1 << k;
    if (!(r.flags & bit)) continue;
    std::string t = lab_text(2, bit);
    report(t.rfind("status ", 0) != 0, "flag " + std::to_string(bit) + " has no text");
    t = replace_all(t, "{n}", std::to_string(r.nroot));
    t = replace_all(t, "{ext}", ext);
    if (haslim & 1) t = replace_all(t, "{lod}", sig(lims[0], 4));
    if (haslim & 2) t = replace_all(t, "{loq}", sig(lims[1], 4));
    if (!t.empty()) s += (s.empty() ? "" : "; ") + t;
  }
  return s;
}

Outcome read_back(const Fit& f, double y, const std::string& u_y, const std::string& readings,
                  const std::string& relative, double level, int haslim, const double lims[2],
                  Reading& r) {
  int mode = 0;
  double uyv = 0, m = 1;
  Outcome o = response_args(u_y, readings, mode, uyv, m);
  if (o.error) return o;
  if (relative != "-") {
    // u_y_relative: the sample's u(y) on the scale of the standards' relative u(y).
    if (!(mode == 1 && f.stated && f.scaled && f.vmodel < 0))
      return value_error("u_y_relative applies where the standards carry relative u(y)");
    uyv = std::strtod(relative.c_str(), nullptr);
    if (!(uyv > 0 && std::isfinite(uyv))) return value_error("u_y_relative must be positive");
  } else if (mode == 1 && f.stated && f.scaled && f.vmodel < 0) {
    return value_error("the standards carry relative u(y): give u_y or u_y_relative");
  }
  int covkind = f.scaled ? 1 : 0, stated = f.stated ? 1 : 0, one = 1, grid = kGrid, extrap = 0;
  int ncoef = f.ncoef, ndof = f.dof, weighting = f.weighting, istat = -1;
  double xstd[2] = {f.xlo, f.xhi}, ztol = 0, sres = f.sres, xmin = f.xmin, xmax = f.xmax;
  std::size_t rows = f.ncoef > 2 ? f.ncoef - 1 : 1;
  r.roots.assign(rows, 0);
  r.uroots.assign(rows, 0);
  if (f.vmodel >= 0 && mode == 1) {
    // KeptMeans and QVXL_VARIANCE_READBACK.
    Vec xs, mus;
    for (int i = 0; i < f.nstd; ++i)
      if (f.keep[i]) {
        xs.push_back(f.x[i]);
        mus.push_back(f.mu[i]);
      }
    int nstd = static_cast<int>(xs.size()), model = f.vmodel;
    QVXL_VARIANCE_READBACK(&ncoef, f.coef.data(), f.cov.data(), &xmin, &xmax, &model, f.vpar,
                           f.vpcov, &nstd, xs.data(), mus.data(), xstd, &haslim, lims, &one, &y,
                           &m, &level, &grid, &ztol, &r.nroot, r.roots.data(), r.uroots.data(),
                           &r.uy, &r.uysrc, &r.ucurve, &r.dof, &r.k, &r.u, &r.low, &r.high,
                           &r.xext, &r.uxext, &r.flags, &istat);
  } else {
    QVXL_READBACK(&ncoef, f.coef.data(), f.cov.data(), &xmin, &xmax, &covkind, &ndof, &sres,
                  &weighting, &stated, xstd, &haslim, lims, &one, &y, &mode, &uyv, &m, &level,
                  &grid, &ztol, &extrap, &r.nroot, r.roots.data(), r.uroots.data(), &r.uy,
                  &r.uysrc, &r.ucurve, &r.dof, &r.k, &r.u, &r.low, &r.high, &r.xext, &r.uxext,
                  &r.flags, &istat);
  }
  if (istat == 1) return value_error(lab_text(13, 2));
  if (istat >= 1 && istat <= 5)
    return value_error("the sample's u(y), readings or level: " + lab_text(1, istat));
  if (istat == QVXL_UY_STATED_STANDARDS || istat == QVXL_UY_NO_DOF)
    return value_error(lab_text(1, istat) + ": give the sample's u(y)");
  if (istat != 0) return num_error("QVXL_READBACK status " + std::to_string(istat));
  r.source = replace_all(replace_all(lab_text(3, r.uysrc), "{m}", vba_str(m)), "{s}",
                         m == 1 ? "" : "s");
  r.flag_text = flags_text(r, haslim, lims);
  return {};
}

// ------------------------------------------- verdict, limits, band, forms

struct Verdict {
  int applies[4], result[4], detail[4], overall = -1, reasons = -1;
  double statv[4], plim[4], alpha[4];
};

Outcome verdict(const Fit& f, double alpha, int warn, Verdict& v) {
  double crit[10];
  int istat = -1;
  QVXL_DEFAULT_CRITERIA(crit, &istat);
  if (!std::isnan(alpha)) crit[0] = alpha;
  Vec x, y, w, wres, wresx, uy;
  f.kept(x, y, w, wres, wresx, uy);
  int n = static_cast<int>(x.size()), kind = f.gls ? 1 : 0, covkind = f.scaled ? 1 : 0;
  int stated = f.stated ? 1 : 0, ncoef = f.ncoef, dof = f.dof;
  double xmin = f.xmin, xmax = f.xmax, sres = f.sres, chi2 = f.chi2;
  QVXL_VERDICT(&ncoef, f.coef.data(), f.covu.data(), &xmin, &xmax, &kind, &covkind, &dof, &sres,
               &chi2, &stated, &n, x.data(), y.data(), w.data(), wres.data(), wresx.data(), crit,
               &warn, v.applies, v.statv, v.plim, v.alpha, v.result, v.detail, &v.overall,
               &v.reasons, &istat);
  if (istat != 0) return lab_error(istat);
  return {};
}

struct Limits {
  double lim[12];
  int source = 0, extrap = 0, haslim = 0;
  double blank = 0, sample[2] = {0, 0};
};

Outcome limits(const Fit& f, double blank, const Vec& readings, Limits& l) {
  double alpha = 0.05, beta = 0.05, ub[2] = {0, 1}, kloq = 3;
  int repl = 1, hasub = 0, istat = -1;
  if (!readings.empty()) {
    // The blank's scatter from readings of blanks.
    int nb = static_cast<int>(readings.size());
    QVXL_BLANK_SCATTER(&nb, readings.data(), &ub[0], &ub[1], &istat);
    if (istat != 0) return value_error("blank_readings: " + lab_text(1, istat));
    hasub = 2;
  } else if (f.vmodel >= 0) {
    // Else the variance model's floor at the blank.
    ub[0] = ub[1] = 0;
    if (f.vmodel == 0 || f.vmodel == 2) {
      int one = 1, model = f.vmodel;
      double sd = 0, dof = 0, x0 = blank;
      QVXL_VARIANCE_AT(&model, f.vpar, f.vpcov, &one, &x0, &x0, &sd, &dof, &istat);
      if (istat != 0) return value_error("variance model: " + lab_text(1, istat));
      if (sd > 0) {
        ub[0] = sd;
        ub[1] = dof;
      }
    }
    hasub = 3;
  }
  Vec x, y, w, wres, wresx, uy;
  f.kept(x, y, w, wres, wresx, uy);
  int n = static_cast<int>(x.size()), covkind = f.scaled ? 1 : 0, stated = f.stated ? 1 : 0;
  int ncoef = f.ncoef, dof = f.dof, weighting = f.weighting;
  double xmin = f.xmin, xmax = f.xmax, sres = f.sres;
  l.blank = blank;
  QVXL_LIMITS(&ncoef, f.coef.data(), f.cov.data(), &xmin, &xmax, &covkind, &dof, &sres,
              &weighting, &n, x.data(), w.data(), &stated, uy.data(), &alpha, &beta, &blank, &repl,
              &hasub, ub, &kloq, l.lim, &l.source, &l.extrap, &istat);
  if (istat != 0) return lab_error(istat);
  // SampleLimits: what QVX_READ's limits argument turns into.
  QVXL_SAMPLE_LIMITS(&blank, &l.lim[8], &l.lim[3], &l.lim[11], &l.haslim, l.sample, &istat);
  if (istat != 0) return lab_error(istat);
  return {};
}

Outcome band(const Fit& f, double x, const std::string& kind, double out[5]) {
  int kd = kind == "prediction" ? 1 : 0, covkind = f.scaled ? 1 : 0, one = 1, istat = -1;
  int ncoef = f.ncoef, dof = f.dof, weighting = f.weighting;
  double rsd = 0, level = kReadLevel, xmin = f.xmin, xmax = f.xmax, sres = f.sres;
  if (kd == 1) {
    Vec xs, ys, w, wres, wresx, uy;
    f.kept(xs, ys, w, wres, wresx, uy);
    int nst = f.stated ? static_cast<int>(xs.size()) : 0;
    QVXL_RESPONSE_SD(&one, &x, &weighting, &nst, uy.data(), &covkind, &sres, &rsd, &istat);
    if (istat != 0) return lab_error(istat);
  }
  QVXL_BAND(&ncoef, f.coef.data(), f.cov.data(), &xmin, &xmax, &covkind, &dof, &level, &kd, &one,
            &x, &rsd, &out[0], &out[1], &out[2], &out[3], &out[4], &istat);
  if (istat != 0) return lab_error(istat);
  return {};
}

// QVX_Y through QVXL_CURVE.
Outcome curve_at(const Fit& f, double x, double& y) {
  int what = 1, extend = 0, one = 1, istat = -1, ncoef = f.ncoef;
  double xmin = f.xmin, xmax = f.xmax, dy = 0, u = 0;
  QVXL_CURVE(&ncoef, f.coef.data(), f.cov.data(), &xmin, &xmax, &what, &extend, &one, &x, &y, &dy,
             &u, &istat);
  if (istat != 0) return num_error(lab_text(1, istat));
  return {};
}

// ------------------------------------------------------ the case table

void forms(const std::string& name, const Fit& f) {
  int ncoef = f.ncoef, istat = -1;
  double xmin = f.xmin, xmax = f.xmax;
  Vec a(ncoef), ca(ncoef * ncoef);
  QVXL_POWER(&ncoef, f.coef.data(), f.cov.data(), &xmin, &xmax, a.data(), ca.data(), &istat);
  report(istat == 0, name + ": QVX_POWER status " + std::to_string(istat));
  if (istat != 0) return;
  g_out << "power " << name << " a=" << list(a) << " cov=" << list(ca) << "\n";
  // The power form is the curve.
  for (int p = 0; p <= 8; ++p) {
    double x = f.xmin + (f.xmax - f.xmin) * p / 8.0, y = 0, yp = 0, scale = 0, xk = 1;
    curve_at(f, x, y);
    for (int k = 0; k < ncoef; ++k) {
      yp += a[k] * xk;
      scale += std::fabs(a[k] * xk);
      xk *= x;
    }
    report(std::fabs(yp - y) <= 1e-11 * (scale + 1e-300),
           name + ": power form at " + num(x) + " gives " + num(yp) + ", curve " + num(y));
  }
  if (ncoef != 2) return;
  double lcoef[2], lcov[4];
  LINEAR_CONV(f.coef.data(), f.cov.data(), &xmin, &xmax, lcoef, lcov, &istat);
  report(istat == 0, name + ": QVX_LINE status " + std::to_string(istat));
  g_out << "line " << name << " slope=" << num(lcoef[0]) << " intercept=" << num(lcoef[1])
        << " cov=" << list(lcov, 4) << "\n";
  report(std::fabs(lcoef[1] - a[0]) <= 1e-12 * (std::fabs(a[0]) + std::sqrt(ca[0])) &&
             std::fabs(lcoef[0] - a[1]) <= 1e-12 * (std::fabs(a[1]) + std::sqrt(ca[3])),
         name + ": QVX_LINE and QVX_POWER disagree");
}

void write_block(const std::string& name, const Fit& f) {
  g_out << "block " << name << " ncoef=" << f.ncoef << " routine=" << (f.gls ? "GLSPFIT" : "OLSPFIT")
        << " weighting=" << f.weighting << " xmin=" << num(f.xmin) << " xmax=" << num(f.xmax)
        << " xlo=" << num(f.xlo) << " xhi=" << num(f.xhi) << " sres=" << num(f.sres)
        << " chi2=" << num(f.chi2) << " dof=" << f.dof
        << " covariance=" << (f.scaled ? "scaled" : "stated") << " coef=" << list(f.coef)
        << " cov=" << list(f.cov) << " covu=" << list(f.covu) << " w=" << list(f.w)
        << " wres=" << list(f.wres) << " name=" << f.wname << " vmodel=" << f.vmodel
        << " vpar=" << list(f.vpar, 2) << " vpcov=" << list(f.vpcov, 4) << " uy=" << list(f.uy)
        << " mu=" << (f.mu.empty() ? std::string("-") : list(f.mu)) << "\n";
}

void write_error(const std::string& kind, const std::string& name, const Outcome& o) {
  report(!o.msg.empty() && o.msg.find('{') == std::string::npos,
         name + ": an error without a reason, or with a placeholder left: " + o.msg);
  g_out << "error " << kind << " " << name << " " << (o.error == 1 ? "#VALUE!" : "#NUM!") << " "
        << o.msg << "\n";
}

// One line of the table: "case NAME key=value ...".
void run_case(const std::string& name, std::map<std::string, std::string> kv,
              const std::map<std::string, std::map<std::string, std::string>>& sets) {
  const auto& set = sets.at(kv.at("set"));
  FitArgs a;
  a.x = numbers(set.at("x"));
  a.y = numbers(set.at("y"));
  if (kv.count("uy")) a.uy = numbers(set.at("uy"));
  if (kv.count("ux")) a.ux = numbers(set.at("ux"));
  if (kv.count("degree")) a.degree = std::strtod(kv["degree"].c_str(), nullptr);
  if (kv.count("weighting")) a.weighting = kv["weighting"];
  if (kv.count("covariance")) a.covariance = kv["covariance"];
  if (kv.count("weights")) a.weights = numbers(set.at("w"));
  if (kv.count("exclude")) {
    a.reasons.assign(a.x.size(), "");
    for (const std::string& e : split(kv["exclude"], ',')) {
      auto p = split(e, ':');
      a.reasons.at(std::stoul(p[0]) - 1) = replace_all(p[1], "_", " ");
    }
  }
  Fit f;
  Outcome o = fit_from_ranges(a, f);
  if (o.error) {
    write_error("fit", name, o);
    return;
  }
  write_block(name, f);
  forms(name, f);
  Verdict v;
  o = verdict(f, kv.count("alpha") ? std::strtod(kv["alpha"].c_str(), nullptr) : kNaN, 0, v);
  if (o.error) {
    write_error("verdict", name, o);
  } else {
    g_out << "verdict " << name << " applies=" << v.applies[0] << "," << v.applies[1] << ","
          << v.applies[2] << "," << v.applies[3] << " statv=" << list(v.statv, 4)
          << " plim=" << list(v.plim, 4) << " alpha=" << list(v.alpha, 4) << " result=" << v.result[0]
          << "," << v.result[1] << "," << v.result[2] << "," << v.result[3] << " detail="
          << v.detail[0] << "," << v.detail[1] << "," << v.detail[2] << "," << v.detail[3]
          << " overall=" << v.overall << " reasons=" << v.reasons
          << " banner=" << (v.overall == 0 ? replace_all(lab_text(6, 0), " ", "_") : "-") << "\n";
    report((v.overall == 0) == (v.reasons != 0 || v.result[0] == 3 || v.result[1] == 3 ||
                                v.result[2] == 3 || v.result[3] == 3),
           name + ": the overall verdict does not follow its rows");
  }
  Limits l;
  bool have_limits = false;
  if (kv.count("blank")) {
    o = limits(f, std::strtod(kv["blank"].c_str(), nullptr),
               numbers(kv.count("blankreadings") ? kv["blankreadings"] : ""), l);
    if (o.error) {
      write_error("limits", name, o);
    } else {
      have_limits = true;
      g_out << "limits " << name << " blank=" << num(l.blank) << " lim=" << list(l.lim, 12)
            << " source=" << l.source << " extrap=" << l.extrap << " haslim=" << l.haslim
            << " sample=" << list(l.sample, 2) << "\n";
    }
  }
  // Samples: y/u_y/readings, each read back as QVX_READ does (with the
  // limits when the case has them).
  int k = 0;
  for (const std::string& s : split(kv.count("samples") ? kv["samples"] : "", ';')) {
    auto p = split(s, '/');
    std::string id = name + "#" + std::to_string(++k);
    double y = std::strtod(p.at(0).c_str(), nullptr);
    Reading r;
    double lims[2] = {l.sample[0], l.sample[1]};
    o = read_back(f, y, p.at(1), p.at(2), p.size() > 3 ? p[3] : "-", kReadLevel,
                  have_limits ? l.haslim : 0, lims, r);
    if (o.error) {
      write_error("read", id, o);
      continue;
    }
    g_out << "read " << id << " y=" << num(y) << " u_y=" << p[1] << " readings=" << p[2]
          << " limits=" << (have_limits ? 1 : 0) << " nroot=" << r.nroot
          << " roots=" << list(r.roots) << " uroots=" << list(r.uroots) << " U=" << num(r.u)
          << " k=" << num(r.k) << " dof=" << num(r.dof) << " low=" << num(r.low)
          << " high=" << num(r.high) << " uy=" << num(r.uy) << " uysrc=" << r.uysrc
          << " flags=" << r.flags << " xext=" << num(r.xext) << " uxext=" << num(r.uxext)
          << " source=" << r.source << "|" << r.flag_text << "\n";
    if (r.nroot >= 1) {
      // Round trip: the curve at x gives the response back.
      double yback = 0;
      Outcome back = curve_at(f, r.roots[0], yback);
      report(back.error == 0 && std::fabs(yback - y) <= 1e-12 * (1 + std::fabs(y)),
             id + ": QVX_Y(x) = " + num(yback) + ", not " + num(y));
      if (f.ncoef == 2) {
        int one = 1, istat = 0;
        double covy = r.uy * r.uy, xp = 0, uxp = 0, xmin = f.xmin, xmax = f.xmax;
        IPVAL_DEGREE1(f.coef.data(), f.cov.data(), &one, &y, &covy, &xmin, &xmax, &xp, &uxp,
                      &istat);
        report(istat == 0 && std::fabs(xp - r.roots[0]) <= 1e-12 * (f.xmax - f.xmin),
               id + ": IPVAL_DEGREE1 gives " + num(xp));
      }
    }
  }
  // Band values at x: x/kind.
  k = 0;
  for (const std::string& s : split(kv.count("band") ? kv["band"] : "", ';')) {
    auto p = split(s, '/');
    std::string id = name + "#" + std::to_string(++k);
    double x = std::strtod(p.at(0).c_str(), nullptr), out[5];
    o = band(f, x, p.at(1), out);
    if (o.error) {
      write_error("band", id, o);
      continue;
    }
    g_out << "band " << id << " x=" << num(x) << " kind=" << p[1] << " values=" << list(out, 5)
          << "\n";
  }
}

// ------------------------------------------------------- QVX_CORRELATED
// GgmCorrelated: V from the dilution chain, then the independent parts and
// the common sources added to it; the fit, and the fit of V's diagonal on
// its interval (DEFAULTS 1 + 8, unconverged accepted); what the samples
// share (QVXL_GGM_SHARED); both readings (QVXL_GGM_INVERSE modes 0/1 and 2).
struct GgmFit {
  Vec coef, cov, gain;
  double interval[2] = {0, 0};
};

// GgmFit: the status, 0 or (ignoring the correlations) 92 accepted.
int ggm_fit(int n, const Vec& x, const Vec& y, const Vec& v, int nc, int defaults, GgmFit& r,
            std::string* why = nullptr) {
  double tol = 0, chi2 = 0;
  int maxit = 0, ndof = 0, info[3] = {0, 0, 0}, st = -1;
  r.coef.assign(nc, 0.0);
  r.cov.assign(nc * nc, 0.0);
  r.gain.assign(nc * 2 * n, 0.0);
  Vec xadj(n), fitted(n);
  QVXL_GGM_FIT(&n, x.data(), y.data(), v.data(), &nc, &defaults, r.interval, &tol, &maxit,
               r.coef.data(), r.cov.data(), &chi2, &ndof, xadj.data(), fitted.data(),
               r.gain.data(), info, &st);
  if (why != nullptr && info[1] > 0)
    *why = " (standard " + std::to_string(info[1]) + ", its " + (info[2] == 1 ? "x" : "y") + ")";
  return st == QVXL_GGM_NO_CONVERGENCE && defaults >= QVXL_GGM_IGNORE ? 0 : st;
}

// GgmPer: one value for each, one per each, or left out: zeros.
Vec ggm_per(std::map<std::string, std::string>& kv, const char* key, int n) {
  Vec v = numbers(kv.count(key) ? kv[key] : "");
  if (v.size() == 1) v.assign(n, v[0]);
  if (v.empty()) v.assign(n, 0.0);
  return v;
}

// GgmBlock: "a,b,c;d,e,f" is two columns; nc the number given (0 left out).
Vec ggm_block(std::map<std::string, std::string>& kv, const char* key, int nr, int k, int& nc) {
  nc = 0;
  Vec out(static_cast<std::size_t>(nr) * k, 0.0);
  if (!kv.count(key)) return out;
  auto cols = split(kv[key], ';');
  nc = static_cast<int>(cols.size());
  for (int j = 0; j < nc && j < k; ++j) {
    Vec c = numbers(cols[j]);
    for (int i = 0; i < nr && i < static_cast<int>(c.size()); ++i) out[j * nr + i] = c[i];
  }
  return out;
}

void run_correlated(const std::string& name, std::map<std::string, std::string> kv) {
  const Vec x = numbers(kv.at("x")), y = numbers(kv.at("y")), ys = numbers(kv.at("samples"));
  int n = static_cast<int>(x.size()), m = static_cast<int>(ys.size());
  int nc = (kv.count("degree") ? std::atoi(kv["degree"].c_str()) : 1) + 1;
  const Vec uxi = ggm_per(kv, "ux", n), uyi = ggm_per(kv, "uy", n), uys = ggm_per(kv, "suy", m);
  Vec v(static_cast<std::size_t>(4) * n * n, 0.0);
  int add = 1, st = -1;
  if (kv.count("parent")) {
    std::vector<int> par;
    for (double d : numbers(kv["parent"])) par.push_back(static_cast<int>(d));
    const Vec rel = ggm_per(kv, "rel", n);
    double stock = kv.count("stock") ? std::strtod(kv["stock"].c_str(), nullptr) : 0.0;
    int ibad = 0;
    QVXL_GGM_DILUTION(&n, x.data(), par.data(), rel.data(), &stock, &add, v.data(), &ibad, &st);
    if (st != 0) {
      write_error("correlated", name, value_error("dilution: " + lab_text(1, st)));
      return;
    }
  }
  int nsx = 0, nsy = 0, nsm = 0;
  for (const char* key : {"srcx", "srcy", "srcs"})
    if (kv.count(key)) nsx = std::max(nsx, static_cast<int>(split(kv[key], ';').size()));
  const int k = std::max(nsx, 1);
  const Vec uxs = ggm_block(kv, "srcx", n, k, nsx), uysrc = ggm_block(kv, "srcy", n, k, nsy),
            usmp = ggm_block(kv, "srcs", m, k, nsm);
  int ns = nsx ? nsx : nsy ? nsy : nsm;
  QVXL_GGM_COMPONENTS(&n, &ns, uxi.data(), uyi.data(), uxs.data(), uysrc.data(), &add, v.data(),
                      &st);
  if (st != 0) {
    write_error("correlated", name, value_error("the standards' uncertainties: " + lab_text(1, st)));
    return;
  }
  GgmFit a, b;
  std::string why;
  if ((st = ggm_fit(n, x, y, v, nc, 0, a, &why)) != 0) {
    write_error("correlated", name,
                value_error("the standards cannot be fitted: " + lab_text(1, st) + why));
    return;
  }
  b.interval[0] = a.interval[0];
  b.interval[1] = a.interval[1];
  const bool bok = ggm_fit(n, x, y, v, nc, 1 + QVXL_GGM_IGNORE, b) == 0;
  Vec ustd(static_cast<std::size_t>(2) * n * k);
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < n; ++i) {
      ustd[j * 2 * n + i] = uxs[j * n + i];
      ustd[j * 2 * n + n + i] = uysrc[j * n + i];
    }
  Vec vs(static_cast<std::size_t>(m) * m), czs(static_cast<std::size_t>(2) * n * m);
  QVXL_GGM_SHARED(&n, &m, &ns, ustd.data(), usmp.data(), uys.data(), vs.data(), czs.data(), &st);
  if (st != 0) {
    write_error("correlated", name, value_error("samples: " + lab_text(1, st)));
    return;
  }
  int shared = kv.count("srcs") ? 1 : 0, ignore = 2;
  Vec xo(m), covx(static_cast<std::size_t>(m) * m), ux(m);
  QVXL_GGM_INVERSE(&nc, a.coef.data(), a.cov.data(), &a.interval[0], &a.interval[1], &n,
                   a.gain.data(), &m, ys.data(), vs.data(), &shared, czs.data(), xo.data(),
                   covx.data(), ux.data(), &st);
  if (st != 0) {
    write_error("correlated", name, value_error("the samples cannot be read back: " + lab_text(1, st)));
    return;
  }
  Vec xi(m, kNaN), covi(static_cast<std::size_t>(m) * m), uxo(m, kNaN);
  if (bok) {
    QVXL_GGM_INVERSE(&nc, b.coef.data(), b.cov.data(), &b.interval[0], &b.interval[1], &n,
                     b.gain.data(), &m, ys.data(), vs.data(), &ignore, czs.data(), xi.data(),
                     covi.data(), uxo.data(), &st);
    report(st == 0 || st == QVXL_GGM_INCONSISTENT, name + ": reading ignoring the correlations");
  }
  g_out << "correlated " << name << " x=" << list(xo) << " ux=" << list(ux) << " xi=" << list(xi)
        << " uxi=" << list(uxo) << "\n";
  // The stated correlations change u(x): the two columns are not one.
  report(list(ux) != list(uxo), name + ": u(x) equals u(x) ignoring the correlations");
}

std::map<std::string, std::string> pairs(const std::vector<std::string>& words) {
  std::map<std::string, std::string> kv;
  for (std::size_t i = 2; i < words.size(); ++i) {
    auto at = words[i].find('=');
    if (at != std::string::npos) kv[words[i].substr(0, at)] = words[i].substr(at + 1);
  }
  return kv;
}

int run_table(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::map<std::string, std::map<std::string, std::string>> sets;
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> words;
    std::stringstream ss(line);
    for (std::string w; ss >> w;) words.push_back(w);
    if (words.size() < 2) continue;
    if (words[0] == "set") sets[words[1]] = pairs(words);
    if (words[0] == "case") {
      ++cases;
      run_case(words[1], pairs(words), sets);
    }
    if (words[0] == "correlated") run_correlated(words[1], pairs(words));
  }
  return cases;
}

// ------------------------------------------------------------ the macro

std::vector<std::vector<std::string>> read_csv(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    rows.push_back(split(line, ','));
  }
  return rows;
}

std::string cell(const std::vector<std::vector<std::string>>& s, int row, int col) {
  if (row < 1 || row > static_cast<int>(s.size())) return "";
  const auto& r = s[row - 1];
  return col <= static_cast<int>(r.size()) ? r[col - 1] : "";
}

// Calibrate on the example sheet: the same cells and steps as the macro,
// written as one case of the table.
void macro(const char* path) {
  auto s = read_csv(path);
  report(cell(s, 1, 1) == "NCOEF" && cell(s, 1, 3) == "weighting" && cell(s, 3, 1) == "x" &&
             cell(s, 3, 5) == "left out because" && cell(s, 3, 6) == "y",
         "the example sheet is not in the macro's layout (A1 NCOEF, C1 weighting, A3 x, E3 "
         "left out because, F3 y)");
  std::map<std::string, std::string> kv, set;
  Vec x, y, uy, ux;
  std::string exclude, samples;
  for (int r = 4; !cell(s, r, 1).empty(); ++r) {
    set["x"] += (r > 4 ? "," : "") + cell(s, r, 1);
    set["y"] += (r > 4 ? "," : "") + cell(s, r, 2);
    if (!cell(s, r, 3).empty()) set["uy"] += (set["uy"].empty() ? "" : ",") + cell(s, r, 3);
    if (!cell(s, r, 4).empty()) set["ux"] += (set["ux"].empty() ? "" : ",") + cell(s, r, 4);
    if (!cell(s, r, 5).empty())
      exclude += (exclude.empty() ? "" : ",") + std::to_string(r - 3) + ":" +
                 replace_all(cell(s, r, 5), " ", "_");
  }
  for (int r = 4; !cell(s, r, 6).empty(); ++r) {
    std::string uys = cell(s, r, 7), m = cell(s, r, 8);
    samples += (samples.empty() ? "" : ";") + cell(s, r, 6) + "/" + (uys.empty() ? "-" : uys) +
               "/" + (m.empty() ? "-" : m);
  }
  report(!samples.empty(), "the example sheet has no samples");
  kv["set"] = "sheet";
  kv["degree"] = std::to_string(std::atoi(cell(s, 1, 2).c_str()) - 1);
  if (!cell(s, 1, 4).empty()) kv["weighting"] = cell(s, 1, 4);
  if (set.count("uy")) kv["uy"] = "1";
  if (set.count("ux")) kv["ux"] = "1";
  if (!exclude.empty()) kv["exclude"] = exclude;
  kv["blank"] = "0";
  kv["samples"] = samples;
  g_out << "set sheet x=" << set["x"] << " y=" << set["y"]
        << (set.count("uy") ? " uy=" + set["uy"] : "") << (set.count("ux") ? " ux=" + set["ux"] : "")
        << "\ncase sheet";
  for (const auto& [k, v] : kv) g_out << " " << k << "=" << v;
  g_out << "\n";
  run_case("sheet", kv, {{"sheet", set}});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::printf("usage: %s SHEET.csv CASES.txt RESULTS.txt\n", argv[0]);
    return 2;
  }
  g_out.open(argv[3], std::ios::binary);
  g_out << "# quorvex_vba_mirror results\n";
  macro(argv[1]);
  int cases = run_table(argv[2]);
  report(cases >= 50, "the case table has " + std::to_string(cases) + " cases, fewer than 50");

  // Texts through the byte buffer: whole, placeholders left for the module.
  struct TextCase {
    int kind, code;
    const char* want;
  };
  const TextCase texts[] = {
      {3, QVXL_UYSRC_SCATTER, "from the scatter, {m} reading{s}"},
      {6, 0, "calibration not fit for use"},
      {5, QVXL_RESULT_FAIL, "fail"},
      {1, QVXL_FIT_OLS_FAILED, "the weighted least-squares fit was refused"},
      {1, 12345, "status 12345 (see quorvex_lab.h)"},
  };
  for (const TextCase& t : texts)
    report(lab_text(t.kind, t.code) == t.want,
           "QVXL_TEXT(" + std::to_string(t.kind) + ", " + std::to_string(t.code) + ") = " +
               lab_text(t.kind, t.code));
  for (int k = 1; k <= 12; ++k)
    report(lab_text(7, k).rfind("status ", 0) != 0, "limit " + std::to_string(k) + " has no name");

  g_out.close();
  std::printf("%d passed, %d failed (%d cases)\n", g_passed, g_failed, cases);
  return g_failed == 0 ? 0 : 1;
}
