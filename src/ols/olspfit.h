#pragma once

#include <cstddef>

namespace quorvex {

// Weighted least-squares fit of a scaled polynomial; see OLSPFIT in quorvex.h
// for the arguments and status codes (QVX_NO_STORAGE: working storage unavailable).
void OLSPFIT(int npts, const double* x, const double* y, const double* w, int ncoef, double xmin,
             double xmax, double* coef, double* cov, double& sres, double* yfit, double* res,
             double* wres, double& wresmax, int& istat);

// The first of OLSPFIT's checks, those of the counts alone, in its order:
// QVX_OLS_NCOEF_LT1, QVX_OLS_NPTS_LT_NCOEF, QVX_OLS_NCOEF_GT10, or QVX_OK.  Arrays sized by the
// counts are obtained only once these pass.
int OLSCOUNTS(int npts, int ncoef);

// The outputs an ordinary and a generalized fit share, and their clearing on
// failure: coef(ncoef), cov(ncoef, ncoef), sres, yfit(npts), res(nres),
// wres(nres), wresmax.
struct FitOutputs {
  double* coef;
  double* cov;
  double& sres;
  double* yfit;
  double* res;
  double* wres;
  double& wresmax;

  void clear(std::size_t npts, std::size_t ncoef, std::size_t nres) const;
};

// The largest number of coefficients a fit takes.
inline constexpr int kMaxCoef = 10;

}  // namespace quorvex
