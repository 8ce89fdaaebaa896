// The choice of a calibration curve's degree (QVXL_SELECT in quorvex_lab.h).
#pragma once

namespace quorvex::lab {

struct SelectionData {
  int npts = 0;
  const double* x = nullptr;
  const double* y = nullptr;
  const double* w = nullptr;  // the fit's weights W_i
  bool stated = false;        // the weights are 1/u(y) of stated uncertainties
  double xmin = 0.0, xmax = 0.0;
  int ncand = 0;
  const int* degrees = nullptr;  // increasing, each 0..9
  int fitmode = 0;  // 0: fitted here (ordinary fit); 1: chi2 and fitstat given
};

struct SelectionRows {
  double* chi2;
  int* fitstat;
  int* dof;
  int* goftest;  // 0 none, 1 chi2, 2 lack of fit; -1 not fitted
  double* gofp;
  double* termstat;
  double* termp;
  double* aic;
};

enum SelectionReason {
  kReasonNotImproved = 1,  // lowest adequate degree; the next one's terms not significant
  kReasonHighest = 2,      // lowest adequate degree, the highest candidate
  kReasonAic = 3,          // none adequate and unimproved: the smallest AIC
  kReasonNoDof = 4,        // no candidate has degrees of freedom: the lowest fitted
};

// The level of every test of the selection.
inline constexpr double kSelectionAlpha = 0.05;

// Returns the status; best and reason are written on 0, the rows of each
// fitted candidate also on status 0.
int SELECT(const SelectionData& d, const SelectionRows& rows, int& best, int& reason);

}  // namespace quorvex::lab
