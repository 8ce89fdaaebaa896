// Samples read back off a curve: roots, u(y) with its source, the parts of
// u(x), effective degrees of freedom, k, U, the inversion interval and the
// sample flags (see QVXL_READBACK in quorvex_lab.h).
#pragma once

namespace quorvex::lab {

// A fitted curve with what the rules need to know of its fit.
struct FittedCurve {
  int ncoef = 0;
  const double* coef = nullptr;
  const double* cov = nullptr;  // the covariance to use (stated or scaled)
  double xmin = 0.0, xmax = 0.0;
  int covkind = 0;    // 0 stated, 1 scaled
  int ndof = 0;       // residual degrees of freedom of the fit
  double sres = 0.0;  // residual scatter of the fit
  int weighting = 0;  // 0 none, 1 1/x, 2 1/x2
  bool stated = false;  // the standards carried stated u(y)
};

struct Standards {
  double lowest = 0.0, highest = 0.0;  // range of the standards' x
  int haslim = 0;                      // bit 1: lod given, bit 2: loq given
  double lod = 0.0, loq = 0.0;
};

struct ReadRequest {
  int npts = 0;
  const double* y = nullptr;
  int uymode = 0;  // 0 stated, 1 from the scatter, 2 curve only
  const double* uy = nullptr;
  const double* repl = nullptr;
  double level = 0.95;
  int ngrid = 100;
  double tol = 0.0;
  bool extrapolate = false;  // straight line: closed form, also beyond the interval
};

struct ReadResults {
  int* nroot;
  double* roots;   // (ncoef - 1) x npts
  double* uroots;  // (ncoef - 1) x npts
  double* uy;
  int* uysrc;
  double* ucurve;
  double* dof;
  double* k;
  double* U;
  double* low;
  double* high;
  double* xext;
  double* uxext;
  int* flags;
};

// Returns the status (0, or a QVXL_* code); on a nonzero status nothing is
// written.
int READBACK(const FittedCurve& c, const Standards& s, const ReadRequest& r,
             const ReadResults& out);

// The response's scale 1/W(x) under a weighting model: 1, sqrt(max(x, 0)), |x|.
double response_scale(int weighting, double x);

// Degrees of freedom of the curve's part of u(x): the fit's for a scaled
// covariance with degrees of freedom, +inf otherwise.
double curve_dof(const FittedCurve& c);

}  // namespace quorvex::lab
