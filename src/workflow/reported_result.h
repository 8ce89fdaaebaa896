// The result a laboratory reports for a sample read off a curve (see
// QVXL_REPORTED in quorvex_lab.h).
#pragma once

namespace quorvex::lab {

struct ReportRules {
  int overall = 1;             // the calibration's verdict: 0 not fit for use
  double range_low = 0.0;      // the reportable range in x
  double range_high = 0.0;
  int haslim = 0;              // bit 1: lod known
  double lod = 0.0;
  double loq = 0.0;              // bit 2 of haslim
  int rule = 0;                // 0 the value with its flag, 1 "< range", 2 "< LOD" too
  double level = 0.95;
};

struct SampleIn {
  int npts = 0;
  const double* x = nullptr;
  const double* ux = nullptr;
  const double* dof = nullptr;
  const double* factor = nullptr;   // null: 1
  const double* ufactor = nullptr;  // null: 0
};

struct ReportedOut {
  double* value;
  double* u;
  double* dof;
  double* k;
  double* U;
  int* censor;
  int* flags;  // in/out
};

int REPORTED(const ReportRules& r, const SampleIn& s, const ReportedOut& o);

}  // namespace quorvex::lab
