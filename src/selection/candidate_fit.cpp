// A candidate of the degree selection, fitted by the engine's weighted least
// squares.  Only chi2 is kept: the selection's tests need nothing else.  The
// fit rules (default interval, weighting presets) are the caller's: it gives
// the weights and the interval the fit uses.
#include "selection/candidate_fit.h"

#include <cstddef>
#include <limits>
#include <vector>

#include "numeric/colmajor.h"
#include "ols/olspfit.h"

namespace quorvex::lab {

int candidate_fit(int npts, const double* x, const double* y, const double* w, int ncoef,
                  double xmin, double xmax, double& chi2) {
  chi2 = std::numeric_limits<double>::quiet_NaN();
  if (const int st = OLSCOUNTS(npts, ncoef); st != 0) return st;
  const std::size_t n = count(npts), k = count(ncoef);
  std::vector<double> coef(k), cov(k * k), yfit(n), res(n), wres(n);
  double sres = 0.0, wresmax = 0.0;
  int istat = 0;
  OLSPFIT(npts, x, y, w, ncoef, xmin, xmax, coef.data(), cov.data(), sres, yfit.data(),
          res.data(), wres.data(), wresmax, istat);
  if (istat != 0) return istat;
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) s += wres[i] * wres[i];
  chi2 = s;
  return 0;
}

}  // namespace quorvex::lab
