// Exported variance models: their fit and choice, their scatter at points,
// samples read back with them, the scatter of blank readings, and weights
// from the responses or per standard.
#include <cmath>
#include <limits>
#include <vector>

#include "interface/lab_guard.h"
#include "numeric/colmajor.h"
#include "reading/readback.h"
#include "variance/residual_variance.h"
#include "variance/response_weights.h"
#include "variance/variance_model.h"

namespace {

using namespace quorvex::lab;
using quorvex::count;

VarianceModel model_of(int kind, const double* par, const double* pcov) {
  VarianceModel m;
  m.kind = kind;
  m.a = par[0];
  m.b = par[1];
  for (int i = 0; i < 4; ++i) m.cov[i] = pcov[i];
  return m;
}

}  // namespace

extern "C" {

QVXL_API void QVXL_CALL QVXL_VARIANCE_FIT(const int* NPTS, const double* X, const double* Y,
                                          const int* MODEL, const double* ALPHA, int* CHOSEN,
                                          double* PAR, double* PCOV, double* LOGLIK,
                                          double* TEST, int* NDOF, double* SD, double* MU,
                                          int* ISTAT) {
  guarded(ISTAT, [&] {
    if (*NPTS < 2) return QVXL_BAD_COUNT;
    const std::size_t n = count(*NPTS);
    if (*MODEL < -1 || *MODEL > 3) return QVXL_BAD_CODE;
    for (std::size_t i = 0; i < n; ++i)
      if (!std::isfinite(X[i]) || !std::isfinite(Y[i])) return QVXL_BAD_VALUE;
    const auto groups = replicate_groups(*NPTS, X, Y);
    VarianceChoice c;
    const int st = variance_fit(groups, *MODEL, *ALPHA, c);
    if (st != QVXL_OK) return st;
    *CHOSEN = c.model.kind;
    PAR[0] = c.model.a;
    PAR[1] = c.model.b;
    for (int i = 0; i < 4; ++i) PCOV[i] = c.model.cov[i];
    for (int i = 0; i < kVarModels; ++i) LOGLIK[i] = c.loglik[i];
    TEST[0] = c.lr;
    TEST[1] = c.p;
    NDOF[0] = c.dof;
    NDOF[1] = c.groups;
    bool zero = false;
    for (std::size_t i = 0; i < n; ++i) {
      double mu = 0.0;
      for (const auto& g : groups)
        if (g.x == X[i]) mu = g.mu;
      double z[2];
      const double v = variance_at(c.model, X[i], mu, z);
      SD[i] = std::sqrt(v);
      MU[i] = mu;
      zero = zero || !(v > 0.0) || std::isinf(v);
    }
    return zero ? QVXL_VAR_ZERO_AT_STANDARD : QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_VARIANCE_FIT_RESIDUALS(
    const int* NPTS, const double* X, const double* Y, const int* NCOEF, const int* MODEL,
    const double* ALPHA, int* CHOSEN, double* PAR, double* PCOV, double* LOGLIK, double* TEST,
    int* NDOF, double* SD, double* MU, int* ISTAT) {
  guarded(ISTAT, [&] {
    if (*NPTS < 2) return QVXL_BAD_COUNT;
    const std::size_t n = count(*NPTS);
    if (*MODEL < -1 || *MODEL > 3) return QVXL_BAD_CODE;
    for (std::size_t i = 0; i < n; ++i)
      if (!std::isfinite(X[i]) || !std::isfinite(Y[i])) return QVXL_BAD_VALUE;
    if (*MODEL == -1 && !(*ALPHA > 0.0 && *ALPHA < 1.0)) return QVXL_BAD_VALUE;
    VarianceChoice c;
    std::vector<double> sd(n), mu(n);
    const int st = variance_fit_residuals(*NPTS, X, Y, *NCOEF, *MODEL, *ALPHA, c, sd.data(),
                                          mu.data());
    if (st != QVXL_OK) return st;
    *CHOSEN = c.model.kind;
    PAR[0] = c.model.a;
    PAR[1] = c.model.b;
    for (int i = 0; i < 4; ++i) PCOV[i] = c.model.cov[i];
    for (int i = 0; i < kVarModels; ++i) LOGLIK[i] = c.loglik[i];
    TEST[0] = c.lr;
    TEST[1] = c.p;
    NDOF[0] = c.dof;
    NDOF[1] = c.groups;
    for (std::size_t i = 0; i < n; ++i) {
      SD[i] = sd[i];
      MU[i] = mu[i];
    }
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_VARIANCE_AT(const int* MODEL, const double* PAR, const double* PCOV,
                                         const int* NPTS, const double* X, const double* MU,
                                         double* SD, double* DOF, int* ISTAT) {
  guarded(ISTAT, [&] {
    if (*NPTS < 0) return QVXL_BAD_COUNT;
    const VarianceModel m = model_of(*MODEL, PAR, PCOV);
    if (const int st = check_model(m); st != QVXL_OK) return st;
    const std::size_t n = count(*NPTS);
    const bool power = m.kind == kVarPower;
    for (std::size_t i = 0; i < n; ++i)
      if (std::isnan(X[i]) || (power && std::isnan(MU[i]))) return QVXL_BAD_VALUE;
    for (std::size_t i = 0; i < n; ++i) {
      double z[2];
      const double v = variance_at(m, X[i], power ? MU[i] : 0.0, z);
      SD[i] = std::sqrt(v);
      DOF[i] = satterthwaite(m, v, z);
    }
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_VARIANCE_READBACK(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX, const int* MODEL, const double* PAR, const double* PCOV,
    const int* NSTD, const double* XSTD, const double* MUSTD, const double* XRANGE,
    const int* HASLIM, const double* LIMITS, const int* NPTS, const double* Y,
    const double* REPL, const double* LEVEL, const int* NGRID, const double* TOL, int* NROOT,
    double* ROOTS, double* UROOTS, double* UYUSED, int* UYSRC, double* UCURVE, double* DOF,
    double* K, double* U, double* LOW, double* HIGH, double* XEXT, double* UXEXT, int* FLAGS,
    int* ISTAT) {
  guarded(ISTAT, [&] {
    const VarianceModel m = model_of(*MODEL, PAR, PCOV);
    const FittedCurve c{*NCOEF, COEF, COV, *XMIN, *XMAX, 0, 0, 0.0, 0, true};
    const Standards s{XRANGE[0], XRANGE[1], *HASLIM, LIMITS[0], LIMITS[1]};
    const ModelStandards st{*NSTD, XSTD, MUSTD};
    const ReadRequest r{*NPTS, Y, 0, nullptr, REPL, *LEVEL, *NGRID, *TOL, false};
    return variance_readback(c, m, st, s, r,
                             ReadResults{NROOT, ROOTS, UROOTS, UYUSED, UYSRC, UCURVE, DOF, K,
                                         U, LOW, HIGH, XEXT, UXEXT, FLAGS});
  });
}

QVXL_API void QVXL_CALL QVXL_BLANK_SCATTER(const int* NPTS, const double* Y, double* SD,
                                           double* DOF, int* ISTAT) {
  guarded(ISTAT, [&] {
    if (*NPTS < 2) return QVXL_BAD_COUNT;
    const std::size_t n = count(*NPTS);
    double m = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      if (!std::isfinite(Y[i])) return QVXL_BAD_VALUE;
      m += Y[i];
    }
    m /= static_cast<double>(n);
    double ss = 0.0;
    for (std::size_t i = 0; i < n; ++i) ss += (Y[i] - m) * (Y[i] - m);
    *SD = std::sqrt(ss / static_cast<double>(n - 1));
    *DOF = static_cast<double>(n - 1);
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_RESPONSE_WEIGHTS(const int* KIND, const int* NPTS, const double* V,
                                              double* UREL, int* ISTAT) {
  guarded(ISTAT, [&] {
    if (*NPTS < 0) return QVXL_BAD_COUNT;
    return response_weights(*KIND, count(*NPTS), V, UREL);
  });
}

}  // extern "C"
