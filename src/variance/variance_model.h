// Variance models of a calibration's responses, fitted to replicate standards:
// the model, its fit and the automatic choice among the models
// (QVXL_VARIANCE_FIT), the scatter it predicts with its degrees of freedom
// (QVXL_VARIANCE_AT), and samples read back with it (QVXL_VARIANCE_READBACK).
#pragma once

#include <vector>

namespace quorvex::lab {

// The models, sigma^2 as a function of x (or of the mean response mu):
enum VarianceKind {
  kVarConstant = 0,      // sigma^2 = a^2
  kVarProportional = 1,  // sigma^2 = b^2 x^2
  kVarFloor = 2,         // sigma^2 = a^2 + b^2 x^2 (a floor a at the blank)
  kVarPower = 3,         // sigma^2 = a^2 |mu|^(2b)
};
inline constexpr int kVarModels = 4;

// A fitted model.  theta are the parameters whose covariance `cov` (2 x 2,
// column-major) the fit gives: (a^2, b^2) for models 0 to 2 (the one a model
// lacks held at 0, its rows and columns 0), (ln a, b) for the power model.
struct VarianceModel {
  int kind = kVarConstant;
  double a = 0.0, b = 0.0;
  double cov[4] = {0.0, 0.0, 0.0, 0.0};
};

// Replicate standards grouped by their x.
struct ReplicateGroup {
  double x = 0.0, mu = 0.0, s2 = 0.0;  // x, mean response, sample variance
  int nu = 0;                          // readings - 1
};
std::vector<ReplicateGroup> replicate_groups(int n, const double* x, const double* y);

struct VarianceChoice {
  VarianceModel model;
  double loglik[kVarModels];  // each model's maximum (NaN: not fitted, -inf: impossible)
  double lr = 0.0, p = 1.0;   // the likelihood-ratio statistic of the choice, its p
  int dof = 0, groups = 0;    // replicate degrees of freedom, groups with replicates
};

// Fits `kind` (0..3), or chooses one (kind -1) at level alpha.  Returns the
// status (0 or a QVXL_* code).
int variance_fit(const std::vector<ReplicateGroup>& g, int kind, double alpha, VarianceChoice& out);

// sigma^2 at x (mu for the power model), and its gradient in theta.
double variance_at(const VarianceModel& m, double x, double mu, double grad[2]);

// The Satterthwaite degrees of freedom 2 V^2 / Var(V) of an estimated
// variance V with gradient `grad` in theta.
double satterthwaite(const VarianceModel& m, double v, const double grad[2]);

// Checks a model passed in (kind, a, b, cov): QVXL_BAD_CODE or QVXL_BAD_VALUE.
int check_model(const VarianceModel& m);

}  // namespace quorvex::lab

namespace quorvex::lab {

struct FittedCurve;
struct Standards;
struct ReadRequest;
struct ReadResults;

// The standards of a curve fitted with a variance model's weights 1/sigma_j.
struct ModelStandards {
  int n = 0;
  const double* x = nullptr;   // x(n)
  const double* mu = nullptr;  // mu(n): the mean response at x (power model)
};

// Samples read back off a curve fitted with the weights of model m (the
// stated covariance c.cov): READBACK with u(y) = sigma(x^) / sqrt(m_i) from
// the model at each root (at the response for the power model), and the
// degrees of freedom of u(x)^2 by Satterthwaite over the model's parameters.
// r.repl holds the readings averaged; r.uymode and r.uy are not read.
int variance_readback(const FittedCurve& c, const VarianceModel& m, const ModelStandards& st,
                      const Standards& s, const ReadRequest& r, const ReadResults& out);

// Satterthwaite degrees of freedom of V = g' C g + sigma^2(x, mu) / m, the
// variance of a response predicted at x by a curve fitted with the model's
// weights (C its stated covariance): the curve's part written
// sum_j (g' C G_j)^2 / sigma_j^2 with the weights held, both parts moving
// with the model's parameters.
double model_dof(const VarianceModel& m, const ModelStandards& st, int ncoef, const double* cov,
                 double xmin, double xmax, double x, double mu, double repl);

}  // namespace quorvex::lab
