// Inverse prediction on a curve of any degree.
//
// For each response y the roots of f(x) = p(x) - y in [xmin, xmax] are
// bracketed on the uniform grid x_k = (k-1) (xmax - xmin) / ngrid + xmin,
// k = 1..ngrid+1: a strict sign change fa fb < 0 over a cell is refined by
// zeroin, an exact zero at a grid point is taken as it stands.  Each root
// gets the first-order standard uncertainty
//   u(x)^2 = (g' COV g + u(y)^2) / p'(x)^2,
// g the basis row at x, so that g' COV g is the variance of p(x).
#include "inverse/ipval.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "curve/curveval.h"
#include "inverse/zeroin.h"
#include "numeric/colmajor.h"
#include "numeric/status.h"

namespace quorvex {

void IPVAL(int ncoef, const double* coef, const double* cov, int npts, const double* y,
           const double* covy, double xmin, double xmax, int ngrid, double tol, int* nroot,
           double* xroot, double* uxroot, int& istat) {
  // A curve of degree ncoef - 1 has at most ncoef - 1 roots: the height of
  // each output column.
  const std::size_t n = count(npts);
  const std::size_t rows = ncoef > 1 ? static_cast<std::size_t>(ncoef) - 1 : 0;
  const std::size_t nout = rows * n;
  std::fill(nroot, nroot + n, 0);
  std::fill(xroot, xroot + nout, 0.0);
  std::fill(uxroot, uxroot + nout, 0.0);
  istat = QVX_OK;

  if (xmin >= xmax) {
    istat = QVX_IPVAL_BAD_INTERVAL;
    return;
  }
  if (ncoef < 2) {
    istat = QVX_IPVAL_NCOEF_LT2;
    return;
  }
  if (ngrid < 1) {
    istat = QVX_IPVAL_NGRID_LT1;
    return;
  }

  IPVAL_ROOTS(ncoef, coef, npts, y, xmin, xmax, ngrid, tol, nroot, xroot);

  // Uncertainties: slope and basis row at each root.
  ColMajor<double> xr(xroot, static_cast<std::ptrdiff_t>(rows));
  ColMajor<double> ur(uxroot, static_cast<std::ptrdiff_t>(rows));
  RootUncertainty ru(Curve{ncoef, coef, xmin, xmax}, cov);
  for (std::size_t i = 0; i < n; ++i) {
    // COVY(i, i) lies i (npts + 1) elements in, past 2^31 for npts > 46340.
    const double vy = covy[i * (n + 1)];
    for (std::size_t j = 0; j < static_cast<std::size_t>(nroot[i]); ++j) {
      ur(j, i) = ru(xr(j, i), vy);
    }
  }
}

void IPVAL_ROOTS(int ncoef, const double* coef, int npts, const double* y, double xmin,
                 double xmax, int ngrid, double tol, int* nroot, double* xroot) {
  const std::size_t n = count(npts);
  const std::size_t rows = static_cast<std::size_t>(ncoef) - 1;
  std::fill(nroot, nroot + n, 0);

  // A negative or NaN tolerance would make the zero finder's stopping test
  // fail or never pass: it asks for full precision, as 0 does.
  const double ztol = tol >= 0.0 ? tol : 0.0;

  // The grid, product before division.  Rounding can carry a point past
  // xmax; it is held at xmax, and the last point is xmax itself, so that
  // the residual's range test accepts the whole grid.
  const std::size_t ng = static_cast<std::size_t>(ngrid);
  std::vector<double> xg(ng + 1);
  std::vector<double> pg(ng + 1);
  const double width = xmax - xmin;
  for (std::size_t k = 0; k < ng; ++k) {
    xg[k] = std::min(static_cast<double>(k) * width / static_cast<double>(ngrid) + xmin, xmax);
  }
  xg[ng] = xmax;

  // The curve on the grid does not depend on the response: it is evaluated
  // once, and each response's residuals p(x_k) - y are formed from it with
  // the same subtraction the residual routine makes.  The grid goes through
  // in pieces, so that no point count handed on exceeds a 32-bit integer.
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  bool grid_ok = true;
  for (std::size_t k0 = 0; k0 <= ng; k0 += kPiece) {
    const std::size_t m = std::min(kPiece, ng + 1 - k0);
    int st = QVX_OK;
    POLY_RESIDUAL(static_cast<int>(m), xg.data() + k0, ncoef, coef, 0.0, xmin, xmax,
                  pg.data() + k0, st);
    grid_ok = grid_ok && st == QVX_OK;
  }

  ColMajor<double> xr(xroot, static_cast<std::ptrdiff_t>(rows));

  // Root search.  A column holds at most `rows` roots; the first ones in
  // increasing x are kept (more appear only where p equals y over several
  // grid points, or through rounding noise near a multiple root), and the
  // scan of that response stops there.
  for (std::size_t i = 0; grid_ok && i < n; ++i) {
    const double yi = y[i];
    std::size_t found = 0;
    double fb = pg[0] - yi;
    std::size_t k = 0;
    for (; k < ng && found < rows; ++k) {
      const double fa = fb;
      fb = pg[k + 1] - yi;
      if (fa * fb < 0.0) {
        xr(found++, i) = zeroin(xg[k], xg[k + 1], ncoef, coef, yi, xmin, xmax, ztol);
      } else if (fa == 0.0) {
        xr(found++, i) = xg[k];
      }
    }
    // The last grid point, xmax, is a root only when its residual is 0.
    if (k == ng && found < rows && fb == 0.0) xr(found++, i) = xmax;
    nroot[i] = static_cast<int>(found);
  }
}

RootUncertainty::RootUncertainty(const Curve& curve, const double* cov)
    : curve_(curve), cov_(cov), g_(static_cast<std::size_t>(curve.ncoef)) {}

double RootUncertainty::operator()(double x, double vy) {
  double px = 0.0;
  dpx_ = std::numeric_limits<double>::quiet_NaN();
  vp_ = std::numeric_limits<double>::quiet_NaN();
  int mode = kModeRows;
  CURVEVAL(mode, curve_, 1, &x, &px, &dpx_, g_.data(), &work_);
  if (mode == kModeRefused) return std::numeric_limits<double>::quiet_NaN();
  const double v = quad_form(g_.size(), cov_, g_.data());
  vp_ = v;
  const double var = (v + vy) / (dpx_ * dpx_);
  return std::sqrt(var);
}

}  // namespace quorvex
