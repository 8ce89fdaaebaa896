// The covariance of the standards from its sources (GUM 5.2.2; ISO 6143:2001
// 5.4.2 for dilution series).
//
// Components.  Each standard's x and y carry an independent part (standard
// uncertainties uxind_i, uyind_i) and, for every named common source s (a
// stock solution, a balance, a pipette, an instrument's drift), a
// contribution uxsrc_is to x_i and uysrc_is to y_i: the same error of the
// source, scaled by each value's sensitivity to it (the sign says the
// direction).  One source's contributions are fully correlated, different
// sources and the independent parts uncorrelated, so
//   V = diag(uxind^2, uyind^2) + sum_s u_s u_s',   u_s = (uxsrc_.s, uysrc_.s),
// positive semidefinite by construction.
//
// Dilution chains.  Standard i is prepared from its parent (another standard,
// or the stock) by a step with relative standard uncertainty rel_i; the
// stock's value has relative standard uncertainty rstock.  To first order the
// relative error of x_i is the stock's plus the errors of every step on its
// path, e_i = e_0 + sum_{k on path(i)} d_k, all independent, so
//   Cov(x_i, x_j) = x_i x_j (rstock^2 + sum_{k on path(i) and path(j)} rel_k^2).
#include "correlated/ggm_covariance.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "numeric/colmajor.h"
#include "quorvex_lab.h"

namespace quorvex::lab {

int GGM_COMPONENTS(int n, int nsrc, const double* uxind, const double* uyind,
                   const double* uxsrc, const double* uysrc, int add, double* v) {
  if (n < 1 || nsrc < 0) return QVXL_BAD_COUNT;
  if (add != 0 && add != 1) return QVXL_BAD_CODE;
  const std::size_t nn = count(n), ns = count(nsrc), m = 2 * nn;
  for (std::size_t i = 0; i < nn; ++i)
    if (!(uxind[i] >= 0.0) || !(uyind[i] >= 0.0) || !std::isfinite(uxind[i]) ||
        !std::isfinite(uyind[i]))
      return QVXL_BAD_VALUE;
  for (std::size_t k = 0; k < nn * ns; ++k)
    if (!std::isfinite(uxsrc[k]) || !std::isfinite(uysrc[k])) return QVXL_BAD_VALUE;
  if (add)
    for (std::size_t k = 0; k < m * m; ++k)
      if (!std::isfinite(v[k])) return QVXL_BAD_VALUE;
  ColMajor<double> V(v, static_cast<std::ptrdiff_t>(m));
  std::vector<double> u(m);
  for (std::size_t j = 0; j < m; ++j)
    for (std::size_t i = 0; i < m; ++i) {
      double s = add ? V(i, j) : 0.0;
      if (i == j) s += i < nn ? uxind[i] * uxind[i] : uyind[i - nn] * uyind[i - nn];
      V(i, j) = s;
    }
  for (std::size_t s = 0; s < ns; ++s) {
    for (std::size_t i = 0; i < nn; ++i) {
      u[i] = uxsrc[s * nn + i];
      u[nn + i] = uysrc[s * nn + i];
    }
    for (std::size_t j = 0; j < m; ++j) {
      if (u[j] == 0.0) continue;
      for (std::size_t i = 0; i < m; ++i) V(i, j) += u[i] * u[j];
    }
  }
  return QVXL_OK;
}

int GGM_DILUTION(int n, const double* x, const int* parent, const double* rel, double rstock,
                 int add, double* v, int* bad) {
  *bad = 0;
  if (n < 1) return QVXL_BAD_COUNT;
  if (add != 0 && add != 1) return QVXL_BAD_CODE;
  const std::size_t nn = count(n), m = 2 * nn;
  if (!(rstock >= 0.0) || !std::isfinite(rstock)) return QVXL_BAD_VALUE;
  for (std::size_t i = 0; i < nn; ++i)
    if (!std::isfinite(x[i]) || !(rel[i] >= 0.0) || !std::isfinite(rel[i]))
      return QVXL_BAD_VALUE;
  // Every chain reaches the stock (parent 0) in at most n steps.
  for (std::size_t i = 0; i < nn; ++i) {
    int k = static_cast<int>(i) + 1;
    std::size_t steps = 0;
    while (k != 0) {
      if (k < 0 || k > n || steps > nn) {
        *bad = static_cast<int>(i) + 1;
        return QVXL_GGM_BAD_CHAIN;
      }
      k = parent[k - 1];
      ++steps;
    }
  }
  if (add)
    for (std::size_t k = 0; k < m * m; ++k)
      if (!std::isfinite(v[k])) return QVXL_BAD_VALUE;
  ColMajor<double> V(v, static_cast<std::ptrdiff_t>(m));
  if (!add)
    for (std::size_t k = 0; k < m * m; ++k) v[k] = 0.0;
  std::vector<char> on(nn);
  for (std::size_t i = 0; i < nn; ++i) {
    std::fill(on.begin(), on.end(), 0);
    for (int k = static_cast<int>(i) + 1; k != 0; k = parent[k - 1]) on[k - 1] = 1;
    for (std::size_t j = 0; j <= i; ++j) {
      double s = rstock * rstock;
      for (int k = static_cast<int>(j) + 1; k != 0; k = parent[k - 1])
        if (on[k - 1]) s += rel[k - 1] * rel[k - 1];
      const double c = x[i] * x[j] * s;
      V(i, j) += c;
      if (j != i) V(j, i) += c;
    }
  }
  return QVXL_OK;
}

}  // namespace quorvex::lab
