// quorvex.hpp -- C++20 interface to the quorvex calibration-curve library.
//
// Header-only, over the six C entry points of quorvex.h (link to QUORVEXv1:
// find_package(quorvex) and target quorvex::quorvex, or pkg-config quorvex).
// Inputs are std::span, results are structs, and a failing status becomes a
// quorvex::Error that carries the status code, the entry point that reported
// it and what it means for the call's inputs.  Indices here start at 0;
// matrices are column-major, as in the C interface.
//
//   const quorvex::OlsFit fit = quorvex::ols_fit(x, y, w, 3, 0.0, 10.0);
//   const std::vector<double> yhat = quorvex::evaluate(fit.curve, x);
//   const quorvex::InversePrediction inv = quorvex::inverse(fit.curve, ys, var_ys);
//   for (std::size_t i = 0; i < inv.size(); ++i)
//     for (std::size_t j = 0; j < inv.roots(i).size(); ++j)
//       std::printf("%g +- %g\n", inv.roots(i)[j], inv.uncertainties(i)[j]);
//
// A curve is the scaled polynomial of quorvex.h: NCOEF Chebyshev coefficients
// on its interval [xmin, xmax], the first at half weight, with their
// covariance.  Inverse prediction takes the variance u(y)^2 of each response;
// the C entry points' NPTS x NPTS response covariance (of which they read the
// diagonal) is built here a chunk of responses at a time, so memory stays
// bounded however many responses are inverted.
//
// Wrong use of the wrapper itself (spans of different lengths, more than
// 2^31 - 1 elements, a covariance of the wrong size) raises
// std::invalid_argument or std::length_error before any call.
#ifndef QUORVEX_HPP
#define QUORVEX_HPP

#include <version>
#if !defined(__cpp_lib_span)
#error "quorvex.hpp needs C++20 (std::span): compile with -std=c++20"
#endif

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "quorvex.h"
#include "quorvex_version.h"

namespace quorvex {

// Version of the library these headers belong to.
inline constexpr int version_major = QUORVEX_VERSION_MAJOR;
inline constexpr int version_minor = QUORVEX_VERSION_MINOR;
inline constexpr int version_patch = QUORVEX_VERSION_PATCH;
inline constexpr std::string_view version = QUORVEX_VERSION;

// Most coefficients a fit accepts (degree 9).
inline constexpr int max_coefficients = 10;
// Responses per call of the inverse predictions (their response covariance
// is chunk x chunk doubles: 512 KiB).
inline constexpr std::size_t default_chunk = 256;
inline constexpr std::size_t max_chunk = 2048;

// A nonzero status of an entry point.  routine() names the entry point that
// reported it ("OLSPFIT", "GLSPFIT", "POLYEVAL", "IPVAL", "LINEAR_CONV",
// "IPVAL_DEGREE1"): for gls_fit, a failure of the starting ordinary fit is
// reported by "OLSPFIT" with its OLSTAT, the generalized fit's own failures by
// "GLSPFIT" with ISTAT(1).  message() says what went wrong in terms of the
// call's inputs; what() is "ROUTINE: message (status N)".
class Error : public std::runtime_error {
 public:
  Error(const char* routine, int status, const std::string& message)
      : std::runtime_error(std::string(routine) + ": " + message + " (status " +
                           std::to_string(status) + ")"),
        routine_(routine),
        status_(status),
        message_(message) {}
  int status() const noexcept { return status_; }
  const char* routine() const noexcept { return routine_; }
  const char* message() const noexcept { return message_.what(); }

 private:
  const char* routine_;
  int status_;
  std::runtime_error message_;  // copies without throwing
};

// A small dense matrix, column-major: (i, j) is element i + j * rows().
class Matrix {
 public:
  Matrix() = default;
  Matrix(std::size_t rows, std::size_t cols) : rows_(rows), cols_(cols), v_(rows * cols) {}
  std::size_t rows() const noexcept { return rows_; }
  std::size_t cols() const noexcept { return cols_; }
  bool empty() const noexcept { return v_.empty(); }
  double& operator()(std::size_t i, std::size_t j) { return v_[j * rows_ + i]; }
  double operator()(std::size_t i, std::size_t j) const { return v_[j * rows_ + i]; }
  double* data() noexcept { return v_.data(); }
  const double* data() const noexcept { return v_.data(); }
  // All elements, column after column.
  std::span<const double> values() const noexcept { return v_; }
  std::span<const double> column(std::size_t j) const {
    return std::span<const double>(v_).subspan(j * rows_, rows_);
  }
  friend bool operator==(const Matrix&, const Matrix&) = default;

 private:
  std::size_t rows_ = 0, cols_ = 0;
  std::vector<double> v_;
};

// A fitted curve: p(x) = coef[0]/2 + coef[1] T1(t) + ... on [xmin, xmax],
// t = ((x - xmin) - (xmax - x)) / (xmax - xmin), and the ncoef x ncoef
// covariance of coef (an empty cov counts as zero).
struct Curve {
  std::vector<double> coef;
  Matrix cov;
  double xmin = 0.0, xmax = 1.0;
  std::size_t ncoef() const noexcept { return coef.size(); }
};

// Weighted least-squares fit (OLSPFIT).
struct OlsFit {
  Curve curve;                // coefficients, covariance (B' diag(w)^2 B)^-1, interval
  double sres = 0.0;          // weighted residual standard deviation (0 when npts = ncoef)
  std::vector<double> yfit;   // p(x[i])
  std::vector<double> res;    // y[i] - yfit[i]
  std::vector<double> wres;   // w[i] (y[i] - yfit[i])
  double wresmax = 0.0;       // largest |wres[i]|
};

// Settings of the generalized fit's minimizer.
struct GlsOptions {
  std::array<double, 2> tol{1e-10, 1e-10};  // step and residual-change tolerances, > 0
  int maxit = 50;                           // iteration limit, >= 1
  double sigma = 0.1;                       // line-search parameter
};

// Generalized (errors-in-variables) fit (GLSPFIT).  Returned for the usable
// statuses 0 to 3 (status); any other outcome raises Error.
struct GlsFit {
  Curve curve;                  // coefficients and their covariance (L L')^-1
  std::vector<double> delta;    // corrections: the adjusted abscissae are x[i] - delta[i]
  double sres = 0.0;            // residual standard deviation (0 when npts = ncoef)
  std::vector<double> yfit;     // p(x[i] - delta[i])
  std::vector<double> res_x;    // x residuals delta[i]
  std::vector<double> res_y;    // y residuals y[i] - yfit[i]
  std::vector<double> wres_x;   // wx[i] delta[i]
  std::vector<double> wres_y;   // wy[i] (y[i] - p(x[i] - delta[i]))
  double wresmax = 0.0;         // largest of all |wres_x|, |wres_y|
  std::vector<double> r11;      // block factor: diagonal, one per point
  Matrix r12;                   // block factor: coupling rows, npts x ncoef
  std::vector<double> r22;      // coefficient factor, packed lower triangle by columns
  std::array<double, 4> rinfo{};  // the minimizer's convergence measures (scaled problem)
  int status = 0;               // 0 converged; 1, 2 iteration limit with a test met; 3 line search gave up
  int iterations = 0;
  int evaluations = 0;
  bool converged() const noexcept { return status == QVX_GLS_CONVERGED; }
};

// Straight line in slope-intercept form (LINEAR_CONV).
struct Line {
  double slope = 0.0, intercept = 0.0;
  Matrix cov;  // 2 x 2 covariance of (slope, intercept)
};

// Inverse prediction on a curve of any degree (IPVAL).  Response i has
// nroot[i] roots in [xmin, xmax], in increasing order in column i of x, with
// their standard uncertainties in column i of ux (both ncoef - 1 rows; the
// rows past nroot[i] are 0).
struct InversePrediction {
  std::vector<int> nroot;
  Matrix x, ux;
  std::size_t size() const noexcept { return nroot.size(); }
  std::span<const double> roots(std::size_t i) const {
    return x.column(i).first(static_cast<std::size_t>(nroot[i]));
  }
  std::span<const double> uncertainties(std::size_t i) const {
    return ux.column(i).first(static_cast<std::size_t>(nroot[i]));
  }
};

// Settings of inverse prediction.
struct InverseOptions {
  int ngrid = 100;                    // equal cells of [xmin, xmax] scanned for sign changes
  double tol = 0.0;  // absolute tolerance of the zero finder (0, negative or NaN: full precision)
  std::size_t chunk = default_chunk;  // responses per call, 1 .. max_chunk
};

// Inverse prediction on a straight line (IPVAL_DEGREE1): one x per response,
// also outside [xmin, xmax].
struct LinePrediction {
  std::vector<double> x, ux;
};

namespace detail {

inline std::string num(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

inline std::string elem(const char* name, std::span<const double> v, std::size_t i) {
  return std::string(name) + "[" + std::to_string(i) + "] = " + num(v[i]);
}

inline int count(std::size_t n, const char* what) {
  if (n > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    throw std::length_error(std::string("quorvex: ") + what + " has more than 2^31 - 1 elements");
  return static_cast<int>(n);
}

inline void same_size(std::span<const double> a, const char* an, std::span<const double> b,
                      const char* bn) {
  if (a.size() != b.size())
    throw std::invalid_argument(std::string("quorvex: ") + an + " has " +
                                std::to_string(a.size()) + " elements but " + bn + " has " +
                                std::to_string(b.size()));
}

// The C entry points get a valid address even for an empty input.
inline const double* ptr(std::span<const double> v) {
  static const double none = 0.0;
  return v.empty() ? &none : v.data();
}

// An output array of n elements, at least one so that its address is valid.
inline std::vector<double> out(std::size_t n) { return std::vector<double>(std::max<std::size_t>(n, 1)); }

// The curve's covariance as the C entry points read it (zeros when empty).
inline const double* cov_of(const Curve& c, std::vector<double>& zeros) {
  const std::size_t m = c.coef.size();
  if (c.cov.empty()) {
    zeros.assign(std::max<std::size_t>(m * m, 1), 0.0);
    return zeros.data();
  }
  if (c.cov.rows() != m || c.cov.cols() != m)
    throw std::invalid_argument("quorvex: the curve's covariance is " +
                                std::to_string(c.cov.rows()) + " x " +
                                std::to_string(c.cov.cols()) + ", its coefficients number " +
                                std::to_string(m));
  return c.cov.data();
}

inline std::string interval_message(double xmin, double xmax) {
  return "the interval is empty: xmin = " + num(xmin) + " must be below xmax = " + num(xmax);
}

inline std::string below_message(std::span<const double> x, double xmin) {
  const std::size_t i = static_cast<std::size_t>(std::min_element(x.begin(), x.end()) - x.begin());
  return elem("x", x, i) + " lies below xmin = " + num(xmin);
}

inline std::string above_message(std::span<const double> x, double xmax) {
  const std::size_t i = static_cast<std::size_t>(std::max_element(x.begin(), x.end()) - x.begin());
  return elem("x", x, i) + " lies above xmax = " + num(xmax);
}

inline std::string storage_message() { return "working storage could not be obtained"; }

// OLSPFIT's status, also the starting fit of GLSPFIT (whose weights are wy).
inline std::string ols_message(int st, std::span<const double> x, std::span<const double> w,
                               const char* wname, int ncoef, double xmin, double xmax) {
  const std::string nc = "ncoef = " + std::to_string(ncoef);
  switch (st) {
    case QVX_OLS_NCOEF_LT1:
      return nc + ": a curve needs at least 1 coefficient";
    case QVX_OLS_NPTS_LT_NCOEF:
      return std::to_string(x.size()) + " points cannot determine " + nc +
             " coefficients: give at least as many points as coefficients";
    case QVX_OLS_NCOEF_GT10:
      return nc + ": at most " + std::to_string(max_coefficients) + " coefficients (degree " +
             std::to_string(max_coefficients - 1) + ")";
    case QVX_OLS_BAD_WEIGHT: {
      const std::size_t i = static_cast<std::size_t>(
          std::find_if(w.begin(), w.end(), [](double v) { return v <= 0.0; }) - w.begin());
      return (i < w.size() ? elem(wname, w, i) : std::string(wname)) +
             ": every weight (1/u) must be > 0";
    }
    case QVX_OLS_BAD_INTERVAL:
      return interval_message(xmin, xmax);
    case QVX_OLS_X_BELOW:
      return below_message(x, xmin);
    case QVX_OLS_X_ABOVE:
      return above_message(x, xmax);
    case QVX_OLS_QR_FAILED:
      return "the QR factorization of the weighted design failed";
    case QVX_OLS_Q_FAILED:
      return "applying the orthogonal factor of the weighted design failed";
    case QVX_OLS_ZERO_DIAGONAL:
      return "the weighted design is singular (zero on the diagonal of its factor)";
    case QVX_OLS_ILL_CONDITIONED:
      return "the weighted design is singular or nearly so: too few distinct x values, or "
             "weights too disparate, for " + nc + " coefficients";
    case QVX_NO_STORAGE:
      return storage_message();
    default:
      return "the fit failed";
  }
}

inline std::string gls_message(int st, std::span<const double> wx, int ncoef, std::size_t npts,
                               const GlsOptions& opt) {
  switch (st) {
    case QVX_GLS_BAD_WX: {
      const std::size_t i = static_cast<std::size_t>(
          std::find_if(wx.begin(), wx.end(), [](double v) { return v <= 0.0; }) - wx.begin());
      return (i < wx.size() ? elem("wx", wx, i) : std::string("wx")) +
             ": every x weight (1/u(x)) must be > 0";
    }
    case QVX_GLS_NPTS_LT_NCOEF:
      return std::to_string(npts) + " points cannot determine ncoef = " + std::to_string(ncoef) +
             " coefficients";
    case QVX_GLS_BAD_SCALED_WX:
      return "some x weight is so small beside the largest weight that their quotient is 0";
    case QVX_GLS_BAD_SCALED_WY:
      return "some y weights are so small beside the largest weight that their quotient is 0";
    case QVX_GLS_BAD_TOL:
      return "tolerances tol = {" + num(opt.tol[0]) + ", " + num(opt.tol[1]) +
             "}: both must be > 0";
    case QVX_GLS_BAD_MAXIT:
      return "maxit = " + std::to_string(opt.maxit) + ": at least 1 iteration";
    case QVX_GLS_MAXIT:
      return "no convergence within maxit = " + std::to_string(opt.maxit) + " iterations";
    case QVX_GLS_MAXFEV:
      return "no convergence within " + std::to_string(50LL * opt.maxit) +
             " evaluations (50 maxit)";
    case QVX_GLS_SIZE_MISMATCH:
      return "the problem size disagrees with the fit workspace";
    case QVX_GLS_OUTSIDE_INTERVAL:
      return "an adjusted abscissa x[i] - delta[i] left the interval: give the curve an "
             "interval somewhat wider than the data";
    case QVX_GLS_STEP_FAILED:
      return "the least-squares solve of a Gauss-Newton step failed";
    case QVX_GLS_GRADIENT_FAILED:
      return "the gradient product failed";
    case QVX_NO_STORAGE:
      return storage_message();
    default:
      return "the fit failed";
  }
}

inline std::string eval_message(int st, std::span<const double> x, double xmin, double xmax) {
  switch (st) {
    case QVX_EVAL_BAD_INTERVAL:
      return interval_message(xmin, xmax);
    case QVX_EVAL_X_BELOW:
      return below_message(x, xmin);
    case QVX_EVAL_X_ABOVE:
      return above_message(x, xmax);
    case QVX_NO_STORAGE:
      return storage_message();
    default:
      return "the evaluation failed";
  }
}

inline std::string ipval_message(int st, int ncoef, double xmin, double xmax, int ngrid) {
  switch (st) {
    case QVX_IPVAL_BAD_INTERVAL:
      return interval_message(xmin, xmax);
    case QVX_IPVAL_NCOEF_LT2:
      return "a curve of ncoef = " + std::to_string(ncoef) +
             " coefficients is constant and has no inverse: at least 2 are needed";
    case QVX_IPVAL_NGRID_LT1:
      return "ngrid = " + std::to_string(ngrid) + ": at least 1 grid cell";
    case QVX_NO_STORAGE:
      return storage_message();
    default:
      return "the inverse prediction failed";
  }
}

inline std::string line_message(int st, double xmin, double xmax) {
  if (st == QVX_LINEAR_BAD_INTERVAL) return interval_message(xmin, xmax);
  if (st == QVX_NO_STORAGE) return storage_message();
  return "the conversion failed";
}

inline void require_line(const Curve& c, const char* what) {
  if (c.coef.size() != 2)
    throw std::invalid_argument(std::string("quorvex::") + what +
                                ": a straight line has 2 coefficients, this curve " +
                                std::to_string(c.coef.size()));
}

// The fits' counts: the checks that size the outputs, made before they are
// obtained (the entry point gives the same codes, in the same order).
inline void check_ncoef(int ncoef, int npts, std::span<const double> x, std::span<const double> w,
                        const char* wname, double xmin, double xmax) {
  if (ncoef >= 1 && ncoef <= max_coefficients) return;
  const int st = ncoef < 1       ? QVX_OLS_NCOEF_LT1
                 : npts < ncoef ? QVX_OLS_NPTS_LT_NCOEF
                                : QVX_OLS_NCOEF_GT10;
  throw Error("OLSPFIT", st, ols_message(st, x, w, wname, ncoef, xmin, xmax));
}

// Calls body(offset, m, covy) for consecutive chunks of at most `chunk` of
// the n responses, covy being the m x m response covariance with the
// variances var_y (zeros when var_y is empty) on its diagonal.  One call with
// m = 0 when n = 0, so that the arguments are still checked.
template <class Body>
void by_chunks(std::size_t n, std::span<const double> var_y, std::size_t chunk, Body&& body) {
  const std::size_t c = std::clamp<std::size_t>(std::min(chunk, n), 1, max_chunk);
  std::vector<double> covy(c * c, 0.0);
  std::size_t off = 0;
  do {
    const std::size_t m = std::min(c, n - off);
    if (!var_y.empty())
      for (std::size_t k = 0; k < m; ++k) covy[k * (m + 1)] = var_y[off + k];
    body(off, m, covy.data());
    for (std::size_t k = 0; k < m; ++k) covy[k * (m + 1)] = 0.0;
    off += m;
  } while (off < n);
}

}  // namespace detail

// Weighted least-squares fit of ncoef coefficients on [xmin, xmax]: minimises
// sum (w[i] (y[i] - p(x[i])))^2, w[i] = 1/u(y[i]).  The covariance is not
// scaled by the residual variance.
inline OlsFit ols_fit(std::span<const double> x, std::span<const double> y,
                      std::span<const double> w, int ncoef, double xmin, double xmax) {
  detail::same_size(x, "x", y, "y");
  detail::same_size(x, "x", w, "w");
  const int npts = detail::count(x.size(), "x");
  detail::check_ncoef(ncoef, npts, x, w, "w", xmin, xmax);
  const std::size_t n = x.size(), m = static_cast<std::size_t>(ncoef);
  OlsFit r;
  r.curve.coef.assign(m, 0.0);
  r.curve.cov = Matrix(m, m);
  r.curve.xmin = xmin;
  r.curve.xmax = xmax;
  std::vector<double> yfit = detail::out(n), res = detail::out(n), wres = detail::out(n);
  int istat = -1;
  OLSPFIT(&npts, detail::ptr(x), detail::ptr(y), detail::ptr(w), &ncoef, &xmin, &xmax,
          r.curve.coef.data(), r.curve.cov.data(), &r.sres, yfit.data(), res.data(), wres.data(),
          &r.wresmax, &istat);
  if (istat != QVX_OK)
    throw Error("OLSPFIT", istat, detail::ols_message(istat, x, w, "w", ncoef, xmin, xmax));
  yfit.resize(n);
  res.resize(n);
  wres.resize(n);
  r.yfit = std::move(yfit);
  r.res = std::move(res);
  r.wres = std::move(wres);
  return r;
}

// Fit when x and y both carry error: minimises
// sum (wx[i] delta[i])^2 + (wy[i] (y[i] - p(x[i] - delta[i])))^2, starting
// from ols_fit with the weights wy.
inline GlsFit gls_fit(std::span<const double> x, std::span<const double> y,
                      std::span<const double> wx, std::span<const double> wy, int ncoef,
                      double xmin, double xmax, const GlsOptions& opt = {}) {
  detail::same_size(x, "x", y, "y");
  detail::same_size(x, "x", wx, "wx");
  detail::same_size(x, "x", wy, "wy");
  const int npts = detail::count(x.size(), "x");
  detail::check_ncoef(ncoef, npts, x, wy, "wy", xmin, xmax);
  const std::size_t n = x.size(), m = static_cast<std::size_t>(ncoef);
  std::vector<double> param = detail::out(n + m), cov = detail::out(m * m);
  std::vector<double> yfit = detail::out(n), res = detail::out(2 * n), wres = detail::out(2 * n);
  std::vector<double> r11 = detail::out(n), r12 = detail::out(n * m);
  std::vector<double> r22 = detail::out(m * (m + 1) / 2);
  GlsFit r;
  int olstat = -1;
  int istat[3] = {-1, 0, 0};
  GLSPFIT(&npts, detail::ptr(x), detail::ptr(y), detail::ptr(wx), detail::ptr(wy), &ncoef, &xmin,
          &xmax, opt.tol.data(), &opt.maxit, &opt.sigma, param.data(), cov.data(), &r.sres,
          yfit.data(), res.data(), wres.data(), &r.wresmax, r11.data(), r12.data(), r22.data(),
          r.rinfo.data(), &olstat, istat);
  if (olstat != QVX_OK)
    throw Error("OLSPFIT", olstat, detail::ols_message(olstat, x, wy, "wy", ncoef, xmin, xmax));
  if (istat[0] < QVX_GLS_CONVERGED || istat[0] > QVX_GLS_LINE_SEARCH)
    throw Error("GLSPFIT", istat[0], detail::gls_message(istat[0], wx, ncoef, n, opt));
  r.status = istat[0];
  r.iterations = istat[1];
  r.evaluations = istat[2];
  r.delta.assign(param.begin(), param.begin() + static_cast<std::ptrdiff_t>(n));
  r.curve.coef.assign(param.begin() + static_cast<std::ptrdiff_t>(n),
                      param.begin() + static_cast<std::ptrdiff_t>(n + m));
  r.curve.cov = Matrix(m, m);
  std::copy(cov.begin(), cov.begin() + static_cast<std::ptrdiff_t>(m * m), r.curve.cov.data());
  r.curve.xmin = xmin;
  r.curve.xmax = xmax;
  yfit.resize(n);
  r.yfit = std::move(yfit);
  r.res_x.resize(n);
  r.res_y.resize(n);
  r.wres_x.resize(n);
  r.wres_y.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    r.res_x[i] = res[2 * i];
    r.res_y[i] = res[2 * i + 1];
    r.wres_x[i] = wres[2 * i];
    r.wres_y[i] = wres[2 * i + 1];
  }
  r11.resize(n);
  r.r11 = std::move(r11);
  r.r12 = Matrix(n, m);
  std::copy(r12.begin(), r12.begin() + static_cast<std::ptrdiff_t>(n * m), r.r12.data());
  r22.resize(m * (m + 1) / 2);
  r.r22 = std::move(r22);
  return r;
}

// The curve's values at x (every x in [xmin, xmax]).
inline std::vector<double> evaluate(const Curve& c, std::span<const double> x) {
  const int ncoef = detail::count(c.coef.size(), "coef");
  const int npts = detail::count(x.size(), "x");
  std::vector<double> y = detail::out(x.size());
  int istat = -1;
  POLYEVAL(&ncoef, detail::ptr(c.coef), &npts, detail::ptr(x), &c.xmin, &c.xmax, y.data(),
           &istat);
  if (istat != QVX_OK) throw Error("POLYEVAL", istat, detail::eval_message(istat, x, c.xmin, c.xmax));
  y.resize(x.size());
  return y;
}

inline double evaluate(const Curve& c, double x) {
  return evaluate(c, std::span<const double>(&x, 1)).front();
}

// A straight line (2 coefficients) as slope and intercept with their covariance.
inline Line to_line(const Curve& c) {
  detail::require_line(c, "to_line");
  std::vector<double> zeros;
  const double* cov = detail::cov_of(c, zeros);
  Line l;
  l.cov = Matrix(2, 2);
  double lcoef[2] = {0.0, 0.0};
  int istat = -1;
  LINEAR_CONV(c.coef.data(), cov, &c.xmin, &c.xmax, lcoef, l.cov.data(), &istat);
  if (istat != QVX_OK)
    throw Error("LINEAR_CONV", istat, detail::line_message(istat, c.xmin, c.xmax));
  l.slope = lcoef[0];
  l.intercept = lcoef[1];
  return l;
}

// Every x in [xmin, xmax] with p(x) = y[i], with its standard uncertainty
// u(x)^2 = (g' cov g + var_y[i]) / p'(x)^2.  var_y holds u(y[i])^2 (empty:
// exact responses).
inline InversePrediction inverse(const Curve& c, std::span<const double> y,
                                 std::span<const double> var_y = {},
                                 const InverseOptions& opt = {}) {
  if (!var_y.empty()) detail::same_size(y, "y", var_y, "var_y");
  const int ncoef = detail::count(c.coef.size(), "coef");
  detail::count(y.size(), "y");
  std::vector<double> zeros;
  const double* cov = detail::cov_of(c, zeros);
  const std::size_t n = y.size(), rows = ncoef > 1 ? static_cast<std::size_t>(ncoef) - 1 : 0;
  InversePrediction r;
  r.nroot.assign(n, 0);
  r.x = Matrix(rows, n);
  r.ux = Matrix(rows, n);
  int no_root = 0;
  double no_x = 0.0, no_ux = 0.0;
  detail::by_chunks(n, var_y, opt.chunk, [&](std::size_t off, std::size_t m, const double* covy) {
    const int npts = static_cast<int>(m);
    const bool any = m > 0 && rows > 0;
    int istat = -1;
    IPVAL(&ncoef, detail::ptr(c.coef), cov, &npts, detail::ptr(y) + off, covy, &c.xmin, &c.xmax,
          &opt.ngrid, &opt.tol, m > 0 ? r.nroot.data() + off : &no_root,
          any ? r.x.data() + off * rows : &no_x, any ? r.ux.data() + off * rows : &no_ux, &istat);
    if (istat != QVX_OK)
      throw Error("IPVAL", istat,
                  detail::ipval_message(istat, ncoef, c.xmin, c.xmax, opt.ngrid));
  });
  return r;
}

// x = (y[i] - intercept) / slope on a straight line, for every response,
// with its standard uncertainty; var_y holds u(y[i])^2 (empty: exact
// responses).  chunk: responses per call, 1 .. max_chunk.
inline LinePrediction inverse_line(const Curve& c, std::span<const double> y,
                                   std::span<const double> var_y = {},
                                   std::size_t chunk = default_chunk) {
  detail::require_line(c, "inverse_line");
  if (!var_y.empty()) detail::same_size(y, "y", var_y, "var_y");
  detail::count(y.size(), "y");
  std::vector<double> zeros;
  const double* cov = detail::cov_of(c, zeros);
  const std::size_t n = y.size();
  LinePrediction r;
  r.x.assign(n, 0.0);
  r.ux.assign(n, 0.0);
  double no_x = 0.0, no_ux = 0.0;
  detail::by_chunks(n, var_y, chunk, [&](std::size_t off, std::size_t m, const double* covy) {
    const int npts = static_cast<int>(m);
    int istat = -1;
    IPVAL_DEGREE1(c.coef.data(), cov, &npts, detail::ptr(y) + off, covy, &c.xmin, &c.xmax,
                  m > 0 ? r.x.data() + off : &no_x, m > 0 ? r.ux.data() + off : &no_ux, &istat);
    if (istat != QVX_OK)
      throw Error("IPVAL_DEGREE1", istat, detail::line_message(istat, c.xmin, c.xmax));
  });
  return r;
}

}  // namespace quorvex

#endif  // QUORVEX_HPP
