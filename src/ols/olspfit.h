#pragma once

#include <cstddef>
#include <vector>

namespace quorvex {

// The per-point arrays of an ordinary fit: the weighted design (npts x
// ncoef, factorized in place) and right-hand side (npts, turned into the
// weighted residual).  Sized by the fit; a fit that finds them large enough
// allocates nothing.
struct OlsWork {
  std::vector<double> a, b;
};

// Weighted least-squares fit of a scaled polynomial; see OLSPFIT in quorvex.h
// for the arguments and status codes (QVX_NO_STORAGE: working storage unavailable).
// Its arrays are kept by the calling thread for its next fit (numeric/keepwrk.h).
void OLSPFIT(int npts, const double* x, const double* y, const double* w, int ncoef, double xmin,
             double xmax, double* coef, double* cov, double& sres, double* yfit, double* res,
             double* wres, double& wresmax, int& istat);
// The same in the caller's arrays.
void OLSPFIT(int npts, const double* x, const double* y, const double* w, int ncoef, double xmin,
             double xmax, double* coef, double* cov, double& sres, double* yfit, double* res,
             double* wres, double& wresmax, int& istat, OlsWork& work);

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
