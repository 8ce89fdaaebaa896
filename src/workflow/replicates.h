// Replicate readings of one sample: their mean, count and scatter, and the
// check that they agree (see QVXL_REPLICATES and QVXL_REPLICATE_CHECK in
// quorvex_lab.h).
#pragma once

namespace quorvex::lab {

// Readings Y(nread) grouped by group(i) in 1..ngroup: mean, count, sample
// standard deviation (NaN for one reading) and, with stated u(y) per reading
// (uy not null), u(mean) = sqrt(sum u_i^2) / m.  Returns the status.
int REPLICATES(int nread, const double* y, const double* uy, const int* group, int ngroup,
               double* mean, double* umean, int* count, double* sd);

struct ReplicateCheck {
  int mode = 1;          // 1 the fit's scatter, 2 a stated scatter, 3 an RSD limit
  int covkind = 1;       // of the fit (mode 1 needs the scaled covariance)
  int ndof = 0;          // the fit's residual degrees of freedom
  double sres = 0.0;     // the fit's residual scatter
  double reads = 1.0;    // mode 1: measurements averaged into each reading
  int weighting = 0;     // 0 none, 1 1/x, 2 1/x2
  double sigma = 0.0;    // mode 2: the scatter of one reading
  double alpha = 0.05;   // modes 1, 2: level of the test
  double limit = 0.0;    // mode 3: the largest RSD in percent
};

// Returns the status; stat, p and the flag bit per group.
int REPLICATE_CHECK(const ReplicateCheck& c, int ngroup, const int* count, const double* mean,
                    const double* sd, const double* x, double* stat, double* p, int* flags);

}  // namespace quorvex::lab
