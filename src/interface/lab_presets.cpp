// Exported acceptance-criteria presets and their extra rules.
#include <cmath>

#include "interface/lab_guard.h"
#include "verdicts/criteria_presets.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_CRITERIA_PRESET(const int* PRESET, double* CRIT, int* WARNONLY,
                                             double* EXTRA, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    const PresetDef* p = criteria_preset(*PRESET);
    if (p == nullptr) return QVXL_PRESET_UNKNOWN;
    const Criteria& c = p->criteria;
    const double crit[10] = {c.alpha,     c.alpha_goodness,   c.alpha_lack_of_fit,
                             c.alpha_outliers, c.tolerance, c.tolerance_lowest,
                             c.fraction,  c.cook,             c.threshold, 0.0};
    for (int k = 0; k < 10; ++k) CRIT[k] = crit[k];
    *WARNONLY = c.warn;
    EXTRA[0] = p->extra.min_levels;
    EXTRA[1] = p->extra.rse_limit;
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_CRITERIA_EXTRA(const int* NCOEF, const int* NPTS, const double* X,
                                            const double* XBACK, const int* BPASS,
                                            const double* EXTRA, const int* WARNEXTRA,
                                            const int* OVERALLIN, double* STATV, int* RESULT,
                                            int* OVERALL, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    // A level count is a whole number; anything else is a bad rule.
    const double m = EXTRA[0];
    if (!(m >= 0.0 && m <= 1e6 && m == std::floor(m))) return QVXL_PRESET_BAD_RULE;
    const ExtraRules rules{static_cast<int>(m), EXTRA[1]};
    return criteria_extra(*NCOEF, *NPTS, X, XBACK, BPASS, rules, *WARNEXTRA, *OVERALLIN, STATV,
                          RESULT, OVERALL);
  });
}

}  // extern "C"
