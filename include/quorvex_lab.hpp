// quorvex_lab.hpp -- C++20 interface to the laboratory layer of quorvex.
//
// Header-only, over the C functions of quorvex_lab.h (link to QUORVEXlab1:
// find_package(quorvex) and target quorvex::lab).  It uses the curve and
// error types of quorvex.hpp; indices start at 0 and matrices are
// column-major, as there.
//
//   quorvex::lab::FitFacts facts{quorvex::lab::Covariance::scaled, 8, 0.05};
//   facts.lowest = 1.0;  facts.highest = 9.0;
//   const quorvex::lab::Reading r =
//       quorvex::lab::read_back(curve, facts, responses, quorvex::lab::from_scatter());
//   std::printf("x = %g, U = %g (k = %g), interval [%g, %g]\n",
//               r.x(0), r.U[0], r.k[0], r.low[0], r.high[0]);
//
// A failing status raises quorvex::Error with the routine's name, the status
// and what it means.
#ifndef QUORVEX_LAB_HPP
#define QUORVEX_LAB_HPP

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>
#include <span>
#include <string>
#include <vector>

#include "quorvex.hpp"
#include "quorvex_lab.h"

namespace quorvex::lab {

enum class Covariance { stated = 0, scaled = 1 };
enum class Weighting { none = 0, inverse_x = 1, inverse_x2 = 2 };

// What the rules need to know of a fit besides its curve.
struct FitFacts {
  Covariance covariance = Covariance::scaled;  // which one the curve's cov is
  int dof = 0;                                 // residual degrees of freedom
  double sres = 0.0;                           // residual scatter
  Weighting weighting = Weighting::none;
  bool stated_standards = false;  // the standards carried stated u(y)
  double lowest = 0.0, highest = 0.0;  // the standards' range of x
};

// Where the samples' u(y) comes from.
struct ResponseUncertainty {
  int mode = 1;                    // 0 stated, 1 from the scatter, 2 curve only
  std::vector<double> values;      // stated u(y), one per response (mode 0)
  std::vector<double> replicates;  // readings averaged, one per response (mode 1; empty: 1)
};
inline ResponseUncertainty from_scatter(std::vector<double> replicates = {}) {
  return {1, {}, std::move(replicates)};
}
inline ResponseUncertainty stated(std::vector<double> u) { return {0, std::move(u), {}}; }
inline ResponseUncertainty curve_only() { return {2, {}, {}}; }

struct ReadOptions {
  double level = 0.95;  // coverage probability of U and the interval
  int ngrid = 100;
  double tol = 0.0;
  bool extrapolate = false;  // straight line: closed form, also beyond the interval
  bool has_lod = false, has_loq = false;
  double lod = 0.0, loq = 0.0;  // in x
};

// Samples read back (QVXL_READBACK): response i has nroot[i] roots, in column
// i of roots with their u(x) in column i of uroots; its x is the first root.
struct Reading {
  std::vector<int> nroot, source, flags;
  Matrix roots, uroots;
  std::vector<double> u_y, u_curve, dof, k, U, low, high, x_ext, u_x_ext;
  std::size_t size() const noexcept { return nroot.size(); }
  double x(std::size_t i) const { return roots(0, i); }
  double u_x(std::size_t i) const { return uroots(0, i); }
  bool flagged(std::size_t i, int flag) const { return (flags[i] & flag) != 0; }
};

namespace detail {

// A status's text, from the library's one table (QVXL_TEXT).
inline std::string lab_message(int st) {
  const int kind = 1;
  char text[256];
  int length = sizeof text, needed = 0, tst = -1;
  QVXL_TEXT(&kind, &st, text, &length, &needed, &tst);
  return tst == QVXL_OK ? std::string(text) : "status " + std::to_string(st);
}

inline void lab_check(const char* routine, int st) {
  if (st != QVXL_OK) throw Error(routine, st, lab_message(st));
}

}  // namespace detail

// Quantile of a distribution: dist 1 normal, 2 Student's t (par1 dof),
// 3 chi-squared (par1), 4 F (par1, par2), 5 non-central t (par1, par2).
inline double quantile(int dist, double p, double par1 = 0.0, double par2 = 0.0) {
  const int what = 1;
  double x = 0.0;
  int st = -1;
  QVXL_DISTRIBUTION(&dist, &what, &par1, &par2, &p, &x, &st);
  detail::lab_check("QVXL_DISTRIBUTION", st);
  return x;
}

inline Reading read_back(const Curve& curve, const FitFacts& fit, std::span<const double> y,
                         const ResponseUncertainty& u, const ReadOptions& opt = {}) {
  const std::size_t n = y.size();
  const int npts = quorvex::detail::count(n, "y");
  const int nc = quorvex::detail::count(curve.coef.size(), "coef");
  auto per_response = [n](const std::vector<double>& v, double fill, const char* what) {
    if (v.empty()) return std::vector<double>(std::max<std::size_t>(n, 1), fill);
    if (v.size() != n)
      throw std::invalid_argument(std::string("quorvex: ") + what + " has " +
                                  std::to_string(v.size()) + " elements, y has " +
                                  std::to_string(n));
    return v;
  };
  const std::vector<double> uy = per_response(u.values, 0.0, "u(y)");
  const std::vector<double> repl = per_response(u.replicates, 1.0, "replicates");
  std::vector<double> zeros;
  const double* cov = quorvex::detail::cov_of(curve, zeros);
  const std::size_t rows = std::max<std::size_t>(curve.coef.size(), 2) - 1;
  const std::size_t m = std::max<std::size_t>(n, 1);
  Reading r;
  r.nroot.resize(m);
  r.source.resize(m);
  r.flags.resize(m);
  r.roots = Matrix(rows, m);
  r.uroots = Matrix(rows, m);
  for (auto* v : {&r.u_y, &r.u_curve, &r.dof, &r.k, &r.U, &r.low, &r.high, &r.x_ext, &r.u_x_ext})
    v->resize(m);
  const int covkind = static_cast<int>(fit.covariance), weighting = static_cast<int>(fit.weighting);
  const int stated_std = fit.stated_standards ? 1 : 0, extrap = opt.extrapolate ? 1 : 0;
  const int haslim = (opt.has_lod ? 1 : 0) | (opt.has_loq ? 2 : 0);
  const double xstd[2] = {fit.lowest, fit.highest}, limits[2] = {opt.lod, opt.loq};
  int st = -1;
  QVXL_READBACK(&nc, quorvex::detail::ptr(curve.coef), cov, &curve.xmin, &curve.xmax, &covkind, &fit.dof,
                &fit.sres, &weighting, &stated_std, xstd, &haslim, limits, &npts, quorvex::detail::ptr(y),
                &u.mode, uy.data(), repl.data(), &opt.level, &opt.ngrid, &opt.tol, &extrap,
                r.nroot.data(), r.roots.data(), r.uroots.data(), r.u_y.data(), r.source.data(),
                r.u_curve.data(), r.dof.data(), r.k.data(), r.U.data(), r.low.data(),
                r.high.data(), r.x_ext.data(), r.u_x_ext.data(), r.flags.data(), &st);
  detail::lab_check("QVXL_READBACK", st);
  return r;
}

// Options of a fit (QVXL_FIT).  Empty vectors: not given.
struct FitOptions {
  std::vector<double> u_y;  // stated u(y) of the standards
  std::vector<double> u_x;  // stated u(x): the errors-in-variables fit (needs u_y)
  Weighting weighting = Weighting::none;
  std::vector<int> keep;    // 1 fitted, 0 left out (empty: all fitted)
  int covariance = -1;      // -1 default (stated with u_y, else scaled), 0 stated, 1 scaled
};

// A fitted calibration: the curve with the covariance to use, what the rules
// need to know of the fit, and the fit's own outputs per standard.
struct Fit {
  Curve curve;             // coefficients, the covariance in use, interval
  Matrix cov_stated;       // (B' W^2 B)^-1, unscaled
  FitFacts facts;
  double chi2 = 0.0;
  bool errors_in_variables = false;
  std::vector<double> x, y, weights, wres, wresx;  // the fitted (kept) standards
};

// The acceptance criteria (QVXL_VERDICT's CRIT; NaN: the default rule).
struct Criteria {
  double alpha = 0.05;
  double alpha_goodness = std::numeric_limits<double>::quiet_NaN();
  double alpha_lack_of_fit = std::numeric_limits<double>::quiet_NaN();
  double alpha_outliers = std::numeric_limits<double>::quiet_NaN();
  double tolerance = 15.0, tolerance_lowest = 20.0, fraction = 0.75, cook = 1.0;
  double threshold = std::numeric_limits<double>::quiet_NaN();
  int warn_only = 0;  // 1 goodness, 2 lack of fit, 4 outliers, 8 back-calculated
};

// Is the calibration fit for use: one row per criterion (goodness, lack of
// fit, outliers, back-calculated standards) and the overall verdict.
struct Verdict {
  std::array<int, 4> applies{}, result{}, detail{};
  std::array<double, 4> statistic{}, p_or_limit{}, alpha{};
  int overall = 0;  // 1 fit for use, 2 with warnings, 0 not fit for use
  int reasons = 0;
  bool fit_for_use() const noexcept { return overall != 0; }
};

inline Fit fit(std::span<const double> x, std::span<const double> y, int degree,
               const FitOptions& opt = {}) {
  const std::size_t n = x.size();
  quorvex::detail::same_size(x, "x", y, "y");
  const int npts = quorvex::detail::count(n, "x");
  const int ncoef = degree + 1;
  auto given_or_one = [n](const std::vector<double>& v, const char* what) {
    if (v.empty()) return std::vector<double>(1, 1.0);
    if (v.size() != n)
      throw std::invalid_argument(std::string("quorvex: ") + what + " has " +
                                  std::to_string(v.size()) + " elements, x has " +
                                  std::to_string(n));
    return v;
  };
  const std::vector<double> uy = given_or_one(opt.u_y, "u_y"), ux = given_or_one(opt.u_x, "u_x");
  std::vector<int> keep = opt.keep.empty() ? std::vector<int>(std::max<std::size_t>(n, 1), 1)
                                           : opt.keep;
  if (!opt.keep.empty() && keep.size() != n)
    throw std::invalid_argument("quorvex: keep has " + std::to_string(keep.size()) +
                                " elements, x has " + std::to_string(n));
  const int given = (opt.u_y.empty() ? 0 : QVXL_GIVEN_UY) | (opt.u_x.empty() ? 0 : QVXL_GIVEN_UX);
  const int weighting = static_cast<int>(opt.weighting), defaults = 0;
  const std::size_t nc = static_cast<std::size_t>(std::max(ncoef, 1)), m = std::max<std::size_t>(n, 1);
  std::array<double, 2> interval{}, tol{};
  int maxit = 0, covkind = opt.covariance, ndof = 0, st = -1;
  double sigma = 0.0, sres = 0.0, chi2 = 0.0;
  std::vector<double> coef(nc), cov(nc * nc), covsc(nc * nc);
  std::vector<double> fitted(m), res(m), wres(m), xadj(m), resx(m), wresx(m), w(m), wx(m);
  std::array<double, 4> rinfo{};
  std::array<int, 5> info{};
  QVXL_FIT(&npts, quorvex::detail::ptr(x), quorvex::detail::ptr(y), uy.data(), ux.data(), &given,
           &weighting, keep.data(), &ncoef, &defaults, interval.data(), tol.data(), &maxit,
           &sigma, &covkind, coef.data(), cov.data(), covsc.data(), &sres, &ndof, &chi2,
           fitted.data(), res.data(), wres.data(), xadj.data(), resx.data(), wresx.data(),
           w.data(), wx.data(), rinfo.data(), info.data(), &st);
  detail::lab_check("QVXL_FIT", st);
  Fit f;
  f.curve.coef = coef;
  f.curve.cov = Matrix(nc, nc);
  f.cov_stated = Matrix(nc, nc);
  std::copy(covkind == 1 ? covsc.begin() : cov.begin(), covkind == 1 ? covsc.end() : cov.end(),
            f.curve.cov.data());
  std::copy(cov.begin(), cov.end(), f.cov_stated.data());
  f.curve.xmin = interval[0];
  f.curve.xmax = interval[1];
  f.facts = FitFacts{covkind == 1 ? Covariance::scaled : Covariance::stated, ndof, sres,
                     opt.weighting, !opt.u_y.empty()};
  f.chi2 = chi2;
  f.errors_in_variables = !opt.u_x.empty();
  bool any = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (!keep[i]) continue;
    f.facts.lowest = any ? std::min(f.facts.lowest, x[i]) : x[i];
    f.facts.highest = any ? std::max(f.facts.highest, x[i]) : x[i];
    any = true;
    f.x.push_back(x[i]);
    f.y.push_back(y[i]);
    f.weights.push_back(w[i]);
    f.wres.push_back(wres[i]);
    f.wresx.push_back(wresx[i]);
  }
  return f;
}

inline Verdict verdict(const Fit& f, const Criteria& c = {}) {
  const int ncoef = quorvex::detail::count(f.curve.coef.size(), "coef");
  const int npts = quorvex::detail::count(f.x.size(), "standards");
  const int kind = f.errors_in_variables ? 1 : 0, covkind = static_cast<int>(f.facts.covariance);
  const int stated_std = f.facts.stated_standards ? 1 : 0;
  const double crit[10] = {c.alpha,     c.alpha_goodness,   c.alpha_lack_of_fit, c.alpha_outliers,
                           c.tolerance, c.tolerance_lowest, c.fraction,          c.cook,
                           c.threshold, 0.0};
  const double one = 0.0;
  Verdict v;
  int st = -1;
  QVXL_VERDICT(&ncoef, f.curve.coef.data(), f.cov_stated.data(), &f.curve.xmin, &f.curve.xmax,
               &kind, &covkind, &f.facts.dof, &f.facts.sres, &f.chi2, &stated_std, &npts,
               quorvex::detail::ptr(f.x), quorvex::detail::ptr(f.y),
               quorvex::detail::ptr(f.weights), quorvex::detail::ptr(f.wres),
               f.errors_in_variables ? quorvex::detail::ptr(f.wresx) : &one, crit, &c.warn_only,
               v.applies.data(), v.statistic.data(), v.p_or_limit.data(), v.alpha.data(),
               v.result.data(), v.detail.data(), &v.overall, &v.reasons, &st);
  detail::lab_check("QVXL_VERDICT", st);
  return v;
}

// ---- Variance models (QVXL_VARIANCE_FIT, QVXL_VARIANCE_FIT_RESIDUALS,
// QVXL_VARIANCE_AT, QVXL_VARIANCE_READBACK)

// A model of the responses' scatter: sigma^2 = a^2 (constant), b^2 x^2
// (proportional), a^2 + b^2 x^2 (floor), a^2 |mu|^(2b) (power of the mean).
struct VarianceModel {
  int model = QVXL_VAR_CONSTANT;  // QVXL_VAR_CONSTANT .. QVXL_VAR_POWER
  std::array<double, 2> par{};     // a, b
  std::array<double, 4> pcov{};    // covariance of its parameters, column-major 2 x 2
  std::array<double, 4> loglik{};  // each model's maximum (NaN: not fitted)
  double lr = std::numeric_limits<double>::quiet_NaN();  // the choice's test, and its p
  double p = std::numeric_limits<double>::quiet_NaN();
  int dof = 0, groups = 0;         // its degrees of freedom; groups (or standards)
  std::vector<double> x, sd, mu;   // the standards, sigma there, their mean response
  // The scatter at the blank is the model's own (constant, floor).
  bool has_floor() const noexcept {
    return model == QVXL_VAR_CONSTANT || model == QVXL_VAR_FLOOR;
  }
};

namespace detail {

template <class Call>
VarianceModel variance_fit(std::span<const double> x, std::span<const double> y, Call call,
                           const char* routine) {
  quorvex::detail::same_size(x, "x", y, "y");
  const std::size_t m = std::max<std::size_t>(x.size(), 1);
  VarianceModel vm;
  std::array<double, 2> test{};
  std::array<int, 2> ndof{};
  vm.sd.resize(m);
  vm.mu.resize(m);
  int chosen = -9, st = -1;
  call(&chosen, vm.par.data(), vm.pcov.data(), vm.loglik.data(), test.data(), ndof.data(),
       vm.sd.data(), vm.mu.data(), &st);
  lab_check(routine, st);
  vm.model = chosen;
  vm.lr = test[0];
  vm.p = test[1];
  vm.dof = ndof[0];
  vm.groups = ndof[1];
  vm.x.assign(x.begin(), x.end());
  vm.sd.resize(x.size());
  vm.mu.resize(x.size());
  return vm;
}

}  // namespace detail

// A variance model fitted to standards measured in replicate (equal x form a
// group); model QVXL_VAR_AUTO takes the one the likelihood-ratio test at
// alpha chooses.  Refusals (too few groups, no scatter, a model that gives no
// scatter where the replicates scatter) raise quorvex::Error.
inline VarianceModel fit_variance(std::span<const double> x, std::span<const double> y,
                                  int model = QVXL_VAR_AUTO, double alpha = 0.05) {
  const int npts = quorvex::detail::count(x.size(), "x");
  return detail::variance_fit(
      x, y,
      [&](int* chosen, double* par, double* pcov, double* loglik, double* test, int* ndof,
          double* sd, double* mu, int* st) {
        QVXL_VARIANCE_FIT(&npts, quorvex::detail::ptr(x), quorvex::detail::ptr(y), &model,
                          &alpha, chosen, par, pcov, loglik, test, ndof, sd, mu, st);
      },
      "QVXL_VARIANCE_FIT");
}

// The same from the residuals of a curve of the given degree, for standards
// without replicates (dof: the residuals' n - degree - 1).
inline VarianceModel fit_variance_residuals(std::span<const double> x, std::span<const double> y,
                                            int degree, int model = QVXL_VAR_AUTO,
                                            double alpha = 0.05) {
  const int npts = quorvex::detail::count(x.size(), "x"), ncoef = degree + 1;
  return detail::variance_fit(
      x, y,
      [&](int* chosen, double* par, double* pcov, double* loglik, double* test, int* ndof,
          double* sd, double* mu, int* st) {
        QVXL_VARIANCE_FIT_RESIDUALS(&npts, quorvex::detail::ptr(x), quorvex::detail::ptr(y),
                                    &ncoef, &model, &alpha, chosen, par, pcov, loglik, test,
                                    ndof, sd, mu, st);
      },
      "QVXL_VARIANCE_FIT_RESIDUALS");
}

// A model's sigma of one reading at each x (at the mean response mu for the
// power model; empty mu: x) and the Satterthwaite degrees of freedom of it.
struct VarianceAt {
  std::vector<double> sd, dof;
};
inline VarianceAt variance_at(const VarianceModel& vm, std::span<const double> x,
                              std::span<const double> mu = {}) {
  const int npts = quorvex::detail::count(x.size(), "x");
  if (!mu.empty()) quorvex::detail::same_size(x, "x", mu, "mu");
  const std::size_t m = std::max<std::size_t>(x.size(), 1);
  VarianceAt out{std::vector<double>(m), std::vector<double>(m)};
  int st = -1;
  QVXL_VARIANCE_AT(&vm.model, vm.par.data(), vm.pcov.data(), &npts, quorvex::detail::ptr(x),
                   quorvex::detail::ptr(mu.empty() ? x : mu), out.sd.data(), out.dof.data(),
                   &st);
  detail::lab_check("QVXL_VARIANCE_AT", st);
  out.sd.resize(x.size());
  out.dof.resize(x.size());
  return out;
}

// Samples read back off a curve fitted with the model's weights (its sd as
// the standards' u(y), the stated covariance): u(y) the model's at each
// sample over sqrt(replicates) (empty: 1 reading each), k from Student's t
// with Satterthwaite's degrees of freedom over the model's parameters.
// vm.x and vm.mu are the fitted standards.
inline Reading read_back(const Curve& curve, const VarianceModel& vm, std::span<const double> y,
                         std::vector<double> replicates = {}, const ReadOptions& opt = {}) {
  const std::size_t n = y.size();
  const int npts = quorvex::detail::count(n, "y");
  const int nc = quorvex::detail::count(curve.coef.size(), "coef");
  const int nstd = quorvex::detail::count(vm.x.size(), "the model's standards");
  if (vm.mu.size() != vm.x.size())
    throw std::invalid_argument("quorvex: the variance model's mu and x differ in length");
  if (replicates.empty()) replicates.assign(std::max<std::size_t>(n, 1), 1.0);
  if (replicates.size() != std::max<std::size_t>(n, 1))
    throw std::invalid_argument("quorvex: replicates has " + std::to_string(replicates.size()) +
                                " elements, y has " + std::to_string(n));
  std::vector<double> zeros;
  const double* cov = quorvex::detail::cov_of(curve, zeros);
  const std::size_t rows = std::max<std::size_t>(curve.coef.size(), 2) - 1;
  const std::size_t m = std::max<std::size_t>(n, 1);
  Reading r;
  r.nroot.resize(m);
  r.source.resize(m);
  r.flags.resize(m);
  r.roots = Matrix(rows, m);
  r.uroots = Matrix(rows, m);
  for (auto* v : {&r.u_y, &r.u_curve, &r.dof, &r.k, &r.U, &r.low, &r.high, &r.x_ext, &r.u_x_ext})
    v->resize(m);
  double xrange[2] = {vm.x.front(), vm.x.front()};
  for (double v : vm.x) {
    xrange[0] = std::min(xrange[0], v);
    xrange[1] = std::max(xrange[1], v);
  }
  const int haslim = (opt.has_lod ? 1 : 0) | (opt.has_loq ? 2 : 0);
  const double limits[2] = {opt.lod, opt.loq};
  int st = -1;
  QVXL_VARIANCE_READBACK(&nc, quorvex::detail::ptr(curve.coef), cov, &curve.xmin, &curve.xmax,
                         &vm.model, vm.par.data(), vm.pcov.data(), &nstd, vm.x.data(),
                         vm.mu.data(), xrange, &haslim, limits, &npts, quorvex::detail::ptr(y),
                         replicates.data(), &opt.level, &opt.ngrid, &opt.tol, r.nroot.data(),
                         r.roots.data(), r.uroots.data(), r.u_y.data(), r.source.data(),
                         r.u_curve.data(), r.dof.data(), r.k.data(), r.U.data(), r.low.data(),
                         r.high.data(), r.x_ext.data(), r.u_x_ext.data(), r.flags.data(), &st);
  detail::lab_check("QVXL_VARIANCE_READBACK", st);
  return r;
}

}  // namespace quorvex::lab

#endif  // QUORVEX_LAB_HPP
