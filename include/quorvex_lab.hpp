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

inline std::string lab_message(int st) {
  switch (st) {
    case QVXL_BAD_NCOEF:
      return "the curve's number of coefficients is out of range";
    case QVXL_BAD_INTERVAL:
      return "the curve's interval is empty or not finite";
    case QVXL_BAD_COUNT:
      return "a count is below its least value";
    case QVXL_BAD_CODE:
      return "an unknown code";
    case QVXL_BAD_VALUE:
      return "a value is NaN, infinite or out of range";
    case QVXL_UY_STATED_STANDARDS:
      return "the standards carry stated uncertainties, so a sample's u(y) is not known from "
             "their scatter: state it";
    case QVXL_UY_NO_DOF:
      return "the fit has no degrees of freedom, so the scatter of a reading is not known";
    case QVXL_NO_STORAGE:
      return "working storage could not be obtained";
    default:
      return "unknown status";
  }
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

}  // namespace quorvex::lab

#endif  // QUORVEX_LAB_HPP
