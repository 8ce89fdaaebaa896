// The result a laboratory reports for a sample read off a curve.
//
// The reported value is v = f x, f the dilution or preparation factor of the
// sample, with the combined standard uncertainty (GUM 5.1.2, the product's
// sensitivity coefficients x and f)
//     u(v)^2 = (f u(x))^2 + (x u(f))^2,
// its effective degrees of freedom by Welch-Satterthwaite (GUM G.4.1), u(f)
// a Type B part with infinite degrees of freedom,
//     nu_eff = u(v)^4 / ((f u(x))^4 / nu_x),
// and U = k u(v), k Student's t with nu_eff at two-sided coverage LEVEL (the
// normal for nu_eff = +inf).  With f = 1 and u(f) = 0 this is u(x), its
// degrees of freedom and U as read back.
//
// A sample is below the reportable range where x < the range's lower end,
// max(LOQ, lowest standard) (ICH Q2(R2) 3.2: the range runs from the lowest
// to the highest concentration with suitable accuracy and precision).  The
// laboratory's rule says what is reported there: the value with its flag, or
// "< limit" (the lower end, or the LOD below it, times f).  A response
// without a root that lies below the lowest standard is below the range.  A
// straight line's reading beyond its interval (x on the line extended, given
// in place of the missing root) is compared with the range and the limits
// as a root is.
//
// A calibration that fails a criterion rejecting it is not fit for use: every
// sample read off it carries that flag.
#include "workflow/reported_result.h"

#include <cmath>
#include <limits>

#include "quorvex_lab.h"
#include "stats/distributions.h"

namespace quorvex::lab {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

int REPORTED(const ReportRules& r, const SampleIn& s, const ReportedOut& o) {
  if (s.npts < 1) return QVXL_BAD_COUNT;
  if (r.rule < 0 || r.rule > 2 || r.overall < 0 || r.overall > 2) return QVXL_BAD_CODE;
  if (!(r.level > 0.0 && r.level < 1.0)) return QVXL_BAD_VALUE;
  // A range whose lower end lies above its upper one (an LOQ above the highest
  // standard) is empty: every sample is below it or above it.
  if (!std::isfinite(r.range_low) || !std::isfinite(r.range_high)) return QVXL_WF_BAD_RANGE;
  const bool has_lod = (r.haslim & 1) != 0, has_loq = (r.haslim & 2) != 0;
  if ((has_lod && !std::isfinite(r.lod)) || (has_loq && !std::isfinite(r.loq)))
    return QVXL_BAD_VALUE;
  for (int i = 0; i < s.npts; ++i) {
    if (s.factor != nullptr && !(s.factor[i] > 0.0 && std::isfinite(s.factor[i])))
      return QVXL_WF_BAD_FACTOR;
    if (s.ufactor != nullptr && !(s.ufactor[i] >= 0.0 && std::isfinite(s.ufactor[i])))
      return QVXL_WF_BAD_FACTOR;
  }
  for (int i = 0; i < s.npts; ++i) {
    const double f = s.factor != nullptr ? s.factor[i] : 1.0;
    const double uf = s.ufactor != nullptr ? s.ufactor[i] : 0.0;
    const double x = s.x[i];
    int flags = o.flags[i];
    if (r.overall == 0) flags |= QVXL_FLAG_CAL_REJECTED;
    // Without a root, a response below the curve's lowest standard is below the
    // range too (and below the LOD where reading back said so).
    const bool below = std::isfinite(x) ? x < r.range_low
                                        : (flags & QVXL_FLAG_BELOW_LOWEST) != 0;
    const bool below_lod = has_lod && (std::isfinite(x) ? x < r.lod
                                                        : (flags & QVXL_FLAG_BELOW_LOD) != 0);
    if (below) flags |= QVXL_FLAG_BELOW_RANGE;
    // A reading on the straight line extended is compared with the limits as a
    // root is (READBACK compares roots only).
    if (std::isfinite(x) && (flags & QVXL_FLAG_NO_ROOT) != 0) {
      if (below_lod)
        flags |= QVXL_FLAG_BELOW_LOD;
      else if (has_loq && x < r.loq)
        flags |= QVXL_FLAG_BELOW_LOQ;
    }
    o.flags[i] = flags;
    o.censor[i] = 0;
    if (below && r.rule == 2 && below_lod) {
      o.censor[i] = 2;
    } else if (below && r.rule >= 1) {
      o.censor[i] = 1;
    }
    if (o.censor[i] != 0) {
      o.value[i] = (o.censor[i] == 2 ? r.lod : r.range_low) * f;
      o.u[i] = o.dof[i] = o.k[i] = o.U[i] = kNaN;
      continue;
    }
    if (!std::isfinite(x)) {
      o.value[i] = o.u[i] = o.dof[i] = o.k[i] = o.U[i] = kNaN;
      continue;
    }
    const double a = f * s.ux[i], b = x * uf;
    const double u = std::hypot(a, b);
    const double nux = s.dof[i];
    double nu;
    if (b == 0.0) {
      nu = nux;  // the reading's own, bit for bit
    } else if (std::isnan(nux) || a == 0.0) {
      nu = std::isnan(nux) ? kNaN : std::numeric_limits<double>::infinity();
    } else {
      const double ra = a / u;
      nu = nux / (ra * ra * ra * ra);
    }
    o.value[i] = f * x;
    o.u[i] = u;
    o.dof[i] = nu;
    o.k[i] = coverage_factor(r.level, nu);
    o.U[i] = o.k[i] * u;
  }
  return QVXL_OK;
}

}  // namespace quorvex::lab
