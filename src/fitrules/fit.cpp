// A calibration fit from the standards to everything a laboratory reads off it.
//
//  1. The standards kept (mask), their weights: W_i = 1/u(y_i) with stated
//     u(y), a preset's W_i, or 1; with u(x) also 1/u(x_i).
//  2. The interval: given, or the kept standards' range (padded for the
//     errors-in-variables fit, fit_defaults).
//  3. Without u(x) the weighted least-squares fit (OLSPFIT); with u(x) the
//     errors-in-variables fit (GLSPFIT, ISO/TS 28037) with the data's default
//     tolerances, computed from a starting OLSPFIT, where none are given.
//     The coefficients are those routines' to the bit.
//  4. The errors-in-variables fit's residuals at the returned coefficients
//     and adjusted abscissae xi = x - delta (the routine's fitted values
//     belong to its last trial point), chi2 of the x and y residuals and
//     SRES = sqrt(chi2 / nu).
//  5. The scaled covariance (covariance_scaling) and nu = n - ncoef.
// Standards left out get the curve's value at their x (inside the interval)
// and the residual from it, for back-calculation; their other outputs are NaN.
#include "fitrules/fit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "curve/curveval.h"
#include "fitrules/covariance_scaling.h"
#include "fitrules/fit_defaults.h"
#include "fitrules/weighting.h"
#include "gls/glspfit.h"
#include "numeric/colmajor.h"
#include "numeric/status.h"
#include "numeric/trpack.h"
#include "ols/olspfit.h"
#include "quorvex_lab.h"
#include "reading/readback.h"

namespace quorvex::lab {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool finite(double v) { return std::isfinite(v); }

}  // namespace

int FIT(const FitInput& in, FitOptions& opt, const FitOutput& out) {
  // The checks, in the order a user is told of them.
  if (in.ncoef < 1 || in.ncoef > kMaxCoef) return QVXL_BAD_NCOEF;
  if (in.npts < 1) return QVXL_BAD_COUNT;
  if (in.weighting < 0 || in.weighting > 2 || opt.covkind < -1 || opt.covkind > 1)
    return QVXL_BAD_CODE;
  if (in.ux && !in.uy) return QVXL_FIT_UX_WITHOUT_UY;
  if (in.weighting != 0 && (in.uy || in.ux)) return QVXL_FIT_PRESET_WITH_U;
  const std::size_t n_all = count(in.npts);
  std::vector<std::size_t> rows;
  rows.reserve(n_all);
  for (std::size_t i = 0; i < n_all; ++i)
    if (!in.keep || in.keep[i] != 0) rows.push_back(i);
  const std::size_t n = rows.size();
  const std::size_t nc = static_cast<std::size_t>(in.ncoef);
  if (n < nc) return QVXL_BAD_COUNT;
  for (std::size_t i : rows) {
    if (!finite(in.x[i]) || !finite(in.y[i])) return QVXL_BAD_VALUE;
    if (in.uy && !(in.uy[i] > 0.0 && finite(in.uy[i]))) return QVXL_BAD_VALUE;
    if (in.ux && !(in.ux[i] > 0.0 && finite(in.ux[i]))) return QVXL_BAD_VALUE;
  }
  if (opt.has_tol && !(opt.tol[0] > 0.0 && opt.tol[1] > 0.0 && finite(opt.tol[0]) &&
                       finite(opt.tol[1])))
    return QVXL_BAD_VALUE;
  if (opt.has_maxit && opt.maxit < 1) return QVXL_BAD_VALUE;
  if (opt.has_sigma && !finite(opt.sigma)) return QVXL_BAD_VALUE;

  // The kept standards, packed, with their weights.
  std::vector<double> x(n), y(n), wy(n), wx(in.ux ? n : 0);
  for (std::size_t j = 0; j < n; ++j) {
    x[j] = in.x[rows[j]];
    y[j] = in.y[rows[j]];
  }
  if (in.weighting != 0) {
    if (preset_weights(in.weighting, n, x.data(), wy.data()) != n) return QVXL_FIT_X_NOT_POSITIVE;
  } else if (in.uy) {
    for (std::size_t j = 0; j < n; ++j) wy[j] = 1.0 / in.uy[rows[j]];
  } else {
    std::fill(wy.begin(), wy.end(), 1.0);
  }
  std::vector<double> ux;
  if (in.ux) {
    ux.resize(n);
    for (std::size_t j = 0; j < n; ++j) {
      ux[j] = in.ux[rows[j]];
      wx[j] = 1.0 / ux[j];
    }
  }

  // The interval.
  double xmin, xmax;
  if (opt.has_interval) {
    xmin = opt.xmin;
    xmax = opt.xmax;
    if (!(xmin < xmax) || !finite(xmin) || !finite(xmax)) return QVXL_BAD_INTERVAL;
    for (double v : x)
      if (v < xmin || v > xmax) return QVXL_FIT_OUTSIDE;
  } else {
    default_interval(n, x.data(), in.ux ? ux.data() : nullptr, xmin, xmax);
    if (!(xmin < xmax)) return QVXL_FIT_NO_SPREAD;
  }
  for (std::size_t j = 0; j < n; ++j)
    if (!finite(wy[j]) || (in.ux && !finite(wx[j]))) return QVXL_FIT_WEIGHT_OVERFLOW;

  const int covkind = opt.covkind >= 0 ? opt.covkind : (in.uy ? 0 : 1);
  opt.xmin = xmin;
  opt.xmax = xmax;
  const int np = static_cast<int>(n);
  const int dof = fit_dof(np, in.ncoef);
  std::vector<double> coef(nc), cov(nc * nc), fitted(n), res(n), wres(n);
  std::vector<double> delta, wresx;
  double sres = 0.0, chi = 0.0, rinfo[4] = {kNaN, kNaN, kNaN, kNaN};
  int info[5] = {0, 0, 0, 0, 0};
  int status = QVXL_OK;
  double tol[2] = {opt.tol[0], opt.tol[1]};
  int maxit = opt.has_maxit ? opt.maxit : kDefaultMaxit;
  double sigma = opt.has_sigma ? opt.sigma : kDefaultSigma;

  if (!in.ux) {
    double wresmax = 0.0;
    int st = 0;
    OLSPFIT(np, x.data(), y.data(), wy.data(), in.ncoef, xmin, xmax, coef.data(), cov.data(), sres,
            fitted.data(), res.data(), wres.data(), wresmax, st);
    info[0] = st;
    if (st != 0) {
      for (int k = 0; k < 5; ++k) out.info[k] = info[k];
      return QVXL_FIT_OLS_FAILED;
    }
    chi = chi2(n, wres.data(), nullptr);
  } else {
    if (!opt.has_tol) {
      // The starting fit, checked here so that its status is reported as such.
      std::vector<double> c0(nc), v0(nc * nc), f0(n), r0(n), w0(n);
      double s0 = 0.0, wm0 = 0.0;
      int st = 0;
      OLSPFIT(np, x.data(), y.data(), wy.data(), in.ncoef, xmin, xmax, c0.data(), v0.data(), s0,
              f0.data(), r0.data(), w0.data(), wm0, st);
      if (st != 0) {
        info[0] = st;
        for (int k = 0; k < 5; ++k) out.info[k] = info[k];
        return QVXL_FIT_OLS_FAILED;
      }
      default_tolerances(n, x.data(), y.data(), wx.data(), wy.data(), in.ncoef, c0.data(),
                         v0.data(), xmin, xmax, tol);
    }
    std::vector<double> param(n + nc), yfit(n), gres(2 * n), gwres(2 * n), r11(n), r12(n * nc),
        r22(packed_size(nc));
    double wresmax = 0.0, gsres = 0.0;
    int olstat = 0;
    int istat[3] = {0, 0, 0};
    GLSPFIT(GlsData{np, x.data(), y.data(), wx.data(), wy.data()}, in.ncoef, xmin, xmax,
            GlsControl{tol, maxit, sigma},
            GlsResults{param.data(), cov.data(), gsres, yfit.data(), gres.data(), gwres.data(),
                       wresmax, BlockFactor{r11.data(), r12.data(), r22.data()}, rinfo, olstat,
                       istat});
    info[0] = olstat;
    info[1] = istat[0];
    info[2] = istat[1];
    info[3] = istat[2];
    if (olstat != 0) {
      for (int k = 0; k < 5; ++k) out.info[k] = info[k];
      return QVXL_FIT_OLS_FAILED;
    }
    const bool result = istat[0] >= 0 && istat[0] <= 5;
    bool cov_ok = true;
    for (double v : cov) cov_ok = cov_ok && finite(v);
    if (!result || !cov_ok) {
      for (int k = 0; k < 5; ++k) out.info[k] = info[k];
      for (int k = 0; k < 4; ++k) out.rinfo[k] = rinfo[k];
      return QVXL_FIT_GLS_FAILED;
    }
    if (istat[0] >= 4) status = QVXL_FIT_UNCONVERGED;
    std::copy(param.begin() + static_cast<std::ptrdiff_t>(n), param.end(), coef.begin());
    delta.assign(param.begin(), param.begin() + static_cast<std::ptrdiff_t>(n));
    // Residuals at the returned coefficients and adjusted abscissae.
    std::vector<double> xi(n);
    for (std::size_t j = 0; j < n; ++j) xi[j] = x[j] - delta[j];
    if (std::all_of(xi.begin(), xi.end(), [&](double v) { return v >= xmin && v <= xmax; })) {
      int mode = kModeValues;
      CURVEVAL(mode, Curve{in.ncoef, coef.data(), xmin, xmax}, np, xi.data(), fitted.data(),
               nullptr, nullptr, nullptr);
    } else {
      fitted = yfit;
    }
    wresx.resize(n);
    for (std::size_t j = 0; j < n; ++j) {
      res[j] = y[j] - fitted[j];
      wres[j] = res[j] * wy[j];
      wresx[j] = delta[j] * wx[j];
    }
    chi = chi2(n, wres.data(), wresx.data());
    sres = dof > 0 ? std::sqrt(chi / dof) : 0.0;
  }

  // Everything is known: write it out.
  std::vector<double> cs(nc * nc);
  if (!scaled_covariance(in.ncoef, cov.data(), sres, dof, cs.data())) {
    info[4] = 1;
    if (status == QVXL_OK) status = QVXL_FIT_SCALE_OVERFLOW;
  }
  std::copy(coef.begin(), coef.end(), out.coef);
  std::copy(cov.begin(), cov.end(), out.cov);
  std::copy(cs.begin(), cs.end(), out.cov_scaled);
  *out.sres = sres;
  *out.dof = dof;
  *out.chi2 = chi;
  for (int k = 0; k < 4; ++k) out.rinfo[k] = rinfo[k];
  for (int k = 0; k < 5; ++k) out.info[k] = info[k];
  std::fill(out.fitted, out.fitted + n_all, kNaN);
  for (double* a : {out.res, out.wres, out.xadj, out.resx, out.wresx, out.wy, out.wx})
    std::fill(a, a + n_all, kNaN);
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t i = rows[j];
    out.fitted[i] = fitted[j];
    out.res[i] = res[j];
    out.wres[i] = wres[j];
    out.wy[i] = wy[j];
    if (in.ux) {
      out.xadj[i] = x[j] - delta[j];
      out.resx[i] = delta[j];
      out.wresx[i] = wresx[j];
      out.wx[i] = wx[j];
    }
  }
  // Standards left out: the curve's value at their x, where it is defined.
  for (std::size_t i = 0; i < n_all; ++i) {
    if (!in.keep || in.keep[i] != 0) continue;
    const double xv = in.x[i];
    if (!(xv >= xmin && xv <= xmax)) continue;
    int mode = kModeValues;
    CURVEVAL(mode, Curve{in.ncoef, out.coef, xmin, xmax}, 1, &xv, out.fitted + i, nullptr,
             nullptr, nullptr);
    out.res[i] = in.y[i] - out.fitted[i];
    double w = 1.0;
    if (in.weighting != 0) w = xv > 0.0 ? 1.0 / response_scale(in.weighting, xv) : kNaN;
    else if (in.uy) w = 1.0 / in.uy[i];
    out.wres[i] = out.res[i] * w;
  }
  opt.xmin = xmin;
  opt.xmax = xmax;
  opt.tol[0] = tol[0];
  opt.tol[1] = tol[1];
  opt.maxit = maxit;
  opt.sigma = sigma;
  opt.covkind = covkind;
  return status;
}

}  // namespace quorvex::lab
