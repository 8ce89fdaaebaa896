// The joint covariance of x values read off one curve.
//
// Each x_i solves p(x_i; c) = y_i.  To first order (GUM 5.2, correlated
// inputs) dx_i = -(g(x_i)' dc + ... ) / p'(x_i) + dy_i / p'(x_i), so with the
// coefficients' covariance C and independent responses
//   Cov(x_i, x_j) = g_i' C g_j / (p'(x_i) p'(x_j)) + [i = j] u(y_i)^2 / p'(x_i)^2:
// readings off one curve are correlated through its coefficients.  A
// weighted sum w' x (an average of replicates, a difference of samples) has
// variance (S' w)' C (S' w) + sum_i w_i^2 d_i, formed without the n x n matrix.
#include "curvestats/joint_covariance.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "curvestats/curve_point.h"
#include "numeric/colmajor.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

void sensitivity(const Readings& r, double* s, double* d) {
  const std::size_t n = count(r.npts), nc = static_cast<std::size_t>(r.ncoef);
  std::vector<double> g(nc), dg(nc);
  for (std::size_t i = 0; i < n; ++i) {
    if (std::isnan(r.x[i])) {
      for (std::size_t k = 0; k < nc; ++k) s[k * n + i] = kNaN;
      d[i] = kNaN;
      continue;
    }
    basis_row(r.ncoef, r.xmin, r.xmax, r.x[i], g.data());
    slope_row(r.ncoef, r.xmin, r.xmax, r.x[i], dg.data());
    double slope = 0.0;
    for (std::size_t k = 0; k < nc; ++k) slope += dg[k] * r.coef[k];
    for (std::size_t k = 0; k < nc; ++k) s[k * n + i] = -g[k] / slope;
    d[i] = r.uy[i] * r.uy[i] / (slope * slope);
  }
}

void joint_covariance(const Readings& r, const double* s, const double* d, double* out) {
  const std::size_t n = count(r.npts), nc = static_cast<std::size_t>(r.ncoef);
  // SC = S C (n x nc), then out = SC S'.
  std::vector<double> sc(n * nc, 0.0);
  for (std::size_t l = 0; l < nc; ++l)
    for (std::size_t i = 0; i < n; ++i) {
      double v = 0.0;
      for (std::size_t k = 0; k < nc; ++k) v += s[k * n + i] * r.cov[l * nc + k];
      sc[l * n + i] = v;
    }
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i < n; ++i) {
      double v = 0.0;
      for (std::size_t k = 0; k < nc; ++k) v += sc[k * n + i] * s[k * n + j];
      out[j * n + i] = v;
    }
  for (std::size_t i = 0; i < n; ++i) out[i * n + i] += d[i];
}

void combinations(const Readings& r, const double* s, const double* d, int nw, const double* w,
                  double* value, double* out) {
  const std::size_t n = count(r.npts), nc = static_cast<std::size_t>(r.ncoef), m = count(nw);
  std::vector<char> used(n, 0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t q = 0; q < m; ++q)
      if (w[i * m + q] != 0.0) used[i] = 1;
  // A = W S over the readings used (m x nc).
  std::vector<double> a(m * nc, 0.0);
  for (std::size_t q = 0; q < m; ++q) {
    double v = 0.0;
    for (std::size_t i = 0; i < n; ++i)
      if (w[i * m + q] != 0.0) v += w[i * m + q] * r.x[i];
    value[q] = v;
    for (std::size_t k = 0; k < nc; ++k) {
      double t = 0.0;
      for (std::size_t i = 0; i < n; ++i)
        if (used[i]) t += w[i * m + q] * s[k * n + i];
      a[k * m + q] = t;
    }
  }
  for (std::size_t p = 0; p < m; ++p)
    for (std::size_t q = 0; q < m; ++q) {
      double v = 0.0;
      for (std::size_t k = 0; k < nc; ++k) {
        double t = 0.0;
        for (std::size_t l = 0; l < nc; ++l) t += r.cov[l * nc + k] * a[l * m + p];
        v += a[k * m + q] * t;
      }
      double e = 0.0;
      for (std::size_t i = 0; i < n; ++i)
        if (used[i]) e += w[i * m + q] * d[i] * w[i * m + p];
      out[p * m + q] = v + e;
    }
}

}  // namespace quorvex::lab
