// Every diagnostic of a fit in one call, and the verdict over the criteria
// (QVXL_DIAGNOSE, QVXL_VERDICT in quorvex_lab.h).
#pragma once

#include "verdicts/criteria.h"
#include "verdicts/fit_record.h"

namespace quorvex::lab {

// Outputs of DIAGNOSE; per standard arrays of npts, the rest as in the C
// header (LOF 7, OUTL 6, BACK 3, CORR 2, LEVELS 3).
struct Diagnosis {
  double* leverage;
  double* stud_int;
  double* stud_ext;
  double* cook;
  double* stat;
  double* statx;
  int* flags;
  double* xback;
  double* percent;
  double* limit;
  int* passed;
  double* p_chi2;
  double* lof;
  double* outl;
  double* back;
  double* corr;
  double* levels;
};

int DIAGNOSE(const FitRecord& f, const Criteria& c, const Diagnosis& out);

struct VerdictOut {
  int* applies;
  double* statistic;
  double* limit;
  double* alpha;
  int* result;
  int* detail;
  int* overall;
  int* reasons;
};

int VERDICT(const FitRecord& f, const Criteria& c, const VerdictOut& out);

}  // namespace quorvex::lab
