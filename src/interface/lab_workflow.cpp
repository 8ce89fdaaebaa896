// Exported sample workflow: replicates combined and checked, limits by the
// laboratory's definitions, and the reported result.
#include "interface/lab_guard.h"
#include "limits/sample_limits.h"
#include "workflow/replicates.h"
#include "workflow/reported_result.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_REPLICATES(const int* NREAD, const double* Y, const int* HASUY,
                                        const double* UY, const int* GROUP, const int* NGROUP,
                                        double* MEAN, double* UMEAN, int* COUNT, double* SD,
                                        int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    return REPLICATES(*NREAD, Y, *HASUY != 0 ? UY : nullptr, GROUP, *NGROUP, MEAN, UMEAN,
                      COUNT, SD);
  });
}

QVXL_API void QVXL_CALL QVXL_REPLICATE_CHECK(
    const int* NGROUP, const int* COUNT, const double* MEAN, const double* SD, const double* X,
    const int* MODE, const int* COVKIND, const int* NDOF, const double* SRES,
    const int* WEIGHTING, const double* READS, const double* SIGMA, const double* ALPHA,
    const double* LIMIT, double* STAT, double* P, int* FLAGS, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    ReplicateCheck c;
    c.mode = *MODE;
    c.covkind = *COVKIND;
    c.ndof = *NDOF;
    c.sres = *SRES;
    c.weighting = *WEIGHTING;
    c.reads = *READS;
    c.sigma = *SIGMA;
    c.alpha = *ALPHA;
    c.limit = *LIMIT;
    return REPLICATE_CHECK(c, *NGROUP, COUNT, MEAN, SD, X, STAT, P, FLAGS);
  });
}

QVXL_API void QVXL_CALL QVXL_LIMIT_CHOICE(const double* LIM, const double* BLANK,
                                          const int* LODDEF, const int* LOQDEF,
                                          const double* XSTD, int* HASLIM, double* LIMITS,
                                          double* RANGE, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    SampleLimits s;
    double range[2];
    const int st = limit_choice(LIM, *BLANK, *LODDEF, *LOQDEF, XSTD[0], XSTD[1], s, range);
    if (st != 0) return st;
    *HASLIM = s.haslim;
    LIMITS[0] = s.lod;
    LIMITS[1] = s.loq;
    RANGE[0] = range[0];
    RANGE[1] = range[1];
    return QVXL_OK;
  });
}

QVXL_API void QVXL_CALL QVXL_REPORTED(
    const int* NPTS, const double* X, const double* UX, const double* DOF, const double* LEVEL,
    const int* OVERALL, const double* RANGE, const int* HASLIM, const double* LIMITS,
    const int* RULE, const int* HASF, const double* FACTOR, const double* UFACTOR,
    double* VALUE, double* UVALUE, double* DOFV, double* K, double* U, int* CENSOR, int* FLAGS,
    int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    ReportRules r;
    r.overall = *OVERALL;
    r.range_low = RANGE[0];
    r.range_high = RANGE[1];
    r.haslim = *HASLIM;
    r.lod = LIMITS[0];
    r.loq = LIMITS[1];
    r.rule = *RULE;
    r.level = *LEVEL;
    SampleIn s;
    s.npts = *NPTS;
    s.x = X;
    s.ux = UX;
    s.dof = DOF;
    if (*HASF & 1) s.factor = FACTOR;
    if (*HASF & 2) s.ufactor = UFACTOR;
    if (*HASF < 0 || *HASF > 3) return QVXL_BAD_CODE;
    return REPORTED(r, s, ReportedOut{VALUE, UVALUE, DOFV, K, U, CENSOR, FLAGS});
  });
}

}  // extern "C"
