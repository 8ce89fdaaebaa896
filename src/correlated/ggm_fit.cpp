// The generalized Gauss-Markov fit (ISO/TS 28037:2010, clause 10, where it is
// given for a straight line; here for the library's scaled polynomial of any
// degree).
//
// The standards' measured values z = (x_1..x_n, y_1..y_n) have the covariance
// V (2n x 2n), which may couple any two of them.  With the true abscissae xi
// and the curve p(x) = g(x)'c the model values are zeta = (xi, p(xi)), and the
// fit minimises
//   chi2 = (z - zeta)' V^-1 (z - zeta)
// over the n + ncoef parameters theta = (xi, c).  With V = L L' (Cholesky,
// LAPACK DPOTRF) the objective is ||L^-1 (z - zeta)||^2, a nonlinear
// least-squares problem in theta, solved from xi = x and the coefficients of
// y on the basis at x weighted by 1/u(y).  At each iterate the Jacobian is
//   J = L^-1 d zeta / d theta,  d zeta / d theta = [[I, 0], [diag p'(xi), G]]
// (G the basis rows at xi), factorized J = Q R (LAPACK DGEQRF, DORMQR).  The
// Gauss-Newton step delta minimises ||L^-1 (z - zeta) - J delta|| (DTRTRS);
// Newton's step adds to R'R the second-order part of the Hessian (the
// curve's second derivative and slope rows weighted by V^-1 (z - zeta) at
// the responses) and is taken where that matrix is positive definite, which
// keeps the convergence fast where the residuals are not small.  A step that
// raises chi2 is halved.  The iteration
// stops when ||J delta||, the step's length measured in standard
// uncertainties, is at most TOL max(1, sqrt(chi2)), or when, below 1e-5
// standard uncertainties, it stops shrinking (the rounding floor of the
// whitened residual, which large values with small uncertainties raise).
// Steps that small are taken whole, the last one included.
//
// At the solution, with the columns ordered (xi, c) and J = Q R, the
// first-order covariance of c (GUM 5.2; ISO/TS 28037 clause 10) is
//   cov(c) = R22^-1 R22^-T,
// R22 the trailing ncoef x ncoef block of R, and the gain
//   K = dc/dz = R22^-1 Q2' L^-1    (Q2 the last ncoef columns of Q's first
//                                   n + ncoef),
// with K V K' = cov(c), carries any covariance the standards share with later
// readings into their inverse predictions.  chi2 has n - ncoef degrees of
// freedom.
//
// Where Ux and Uxy are zero the x values are exact: the parameters are the
// coefficients alone, V is Uy, and the fit is generalized least squares in y
// (ISO/TS 28037 clause 9).
//
// L^-1 is formed once (4 n^2 numbers); J takes 2 n (n + ncoef) more and
// Newton's matrix (n + ncoef)^2: the fit needs a few n x n matrices besides V.
#include "correlated/ggm_fit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "curve/chebyshev.h"
#include "curvestats/curve_point.h"
#include "fitrules/fit_defaults.h"
#include "numeric/colmajor.h"
#include "numeric/lapack.h"
#include "quorvex_lab.h"

namespace quorvex::lab {

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();
// Two entries V(i, j), V(j, i) further apart than this, relative to
// sqrt(V(i, i) V(j, j)), make V not symmetric.
constexpr double kSymmetryTol = 1e-10;
constexpr int kHalvings = 40;
// Below this many standard uncertainties a step that no longer shrinks is
// rounding noise: the coefficients are then known to far better than their
// uncertainty.
constexpr double kFloor = 1e-5;

// L (lower, in place) -> L^-1, column by column from the last (as DTRTI2).
void invert_lower(int m, double* a) {
  const int one = 1;
  ColMajor<double> A(a, m);
  for (int j = m - 1; j >= 0; --j) {
    A(j, j) = 1.0 / A(j, j);
    const double ajj = -A(j, j);
    const int len = m - 1 - j;
    if (len > 0) {
      dtrmv_("L", "N", "N", &len, &A(j + 1, j + 1), &m, &A(j + 1, j), &one, 1, 1, 1);
      for (int i = j + 1; i < m; ++i) A(i, j) *= ajj;
    }
  }
}

// U (upper p x p, leading dimension ld) -> its inverse into out (p x p).
void invert_upper(int p, const double* u, int ld, double* out) {
  ColMajor<const double> U(u, ld);
  ColMajor<double> X(out, p);
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < p; ++i) X(i, j) = 0.0;
    X(j, j) = 1.0 / U(j, j);
    for (int i = j - 1; i >= 0; --i) {
      double s = 0.0;
      for (int k = i + 1; k <= j; ++k) s += U(i, k) * X(k, j);
      X(i, j) = -s / U(i, i);
    }
  }
}

// Working state of one fit.
class Ggm {
 public:
  // exact_x: the x values carry no uncertainty; the parameters are then the
  // coefficients alone and the residuals those of y.
  Ggm(const GgmInput& in, std::vector<double>& linv, bool exact_x)
      : in_(in),
        n_(in.n),
        nx_(exact_x ? 0 : in.n),
        p_(in.ncoef),
        m_(nx_ + in.n),
        q_(nx_ + in.ncoef),
        linv_(linv),
        theta_(static_cast<std::size_t>(q_), 0.0),
        j_(static_cast<std::size_t>(m_) * static_cast<std::size_t>(q_)),
        tau_(static_cast<std::size_t>(q_)),
        r_(static_cast<std::size_t>(m_)),
        g_(static_cast<std::size_t>(n_) * static_cast<std::size_t>(p_)),
        slope_(static_cast<std::size_t>(n_)),
        d_(static_cast<std::size_t>(p_)) {
    for (int i = 0; i < nx_; ++i) theta_[i] = in.x[i];
    lwork_ = 64 * std::max(m_, q_);
    work_.resize(static_cast<std::size_t>(lwork_));
  }

  // The starting coefficients: y on the basis at x, weighted by 1/u(y).
  void start() {
    CHEBBASIS(p_, in_.xmin, in_.xmax, n_, in_.x, g_.data(), n_);
    ColMajor<double> G(g_.data(), n_);
    ColMajor<const double> Vv(in_.v, 2 * n_);
    std::vector<double> rhs(static_cast<std::size_t>(n_));
    for (int i = 0; i < n_; ++i) {
      const double w = 1.0 / std::sqrt(Vv(n_ + i, n_ + i));
      rhs[i] = w * in_.y[i];
      for (int k = 0; k < p_; ++k) G(i, k) *= w;
    }
    int info = 0;
    const int one = 1;
    dgeqrf_(&n_, &p_, g_.data(), &n_, tau_.data(), work_.data(), &lwork_, &info);
    dormqr_("L", "T", &n_, &one, &p_, g_.data(), &n_, tau_.data(), rhs.data(), &n_, work_.data(),
            &lwork_, &info, 1, 1);
    for (int k = 0; k < p_; ++k)
      if (!(std::fabs(G(k, k)) > 0.0)) return;  // leave the start at zero
    dtrtrs_("U", "N", "N", &p_, &one, g_.data(), &n_, rhs.data(), &n_, &info, 1, 1, 1);
    for (int k = 0; k < p_; ++k) theta_[nx_ + k] = std::isfinite(rhs[k]) ? rhs[k] : 0.0;
  }

  std::vector<double>& theta() { return theta_; }
  const double* coef() const { return theta_.data() + nx_; }
  // The (true) x of standard i at th.
  double xi(const double* th, int i) const { return nx_ ? th[i] : in_.x[i]; }

  // The curve at xi: values into val (n), slopes kept in slope_.
  void curve(const double* th, double* val) {
    const double* c = th + nx_;
    CHEBDER(p_, in_.xmin, in_.xmax, c, 1, d_.data(), 1);
    for (int i = 0; i < n_; ++i) {
      const double t = XSCALE(in_.xmin, in_.xmax, xi(th, i));
      val[i] = CHEBSUM(p_, t, c, 1);
      slope_[i] = CHEBSUM(p_, t, d_.data(), 1);
    }
  }

  // chi2 at th, the whitened residual L^-1 (z - zeta) into res.
  double chi2(const double* th, double* res) {
    curve(th, res + nx_);
    for (int i = 0; i < n_; ++i) {
      if (nx_) res[i] = in_.x[i] - th[i];
      res[nx_ + i] = in_.y[i] - res[nx_ + i];
    }
    const int one = 1;
    dtrmv_("L", "N", "N", &m_, linv_.data(), &m_, res, &one, 1, 1, 1);
    double s = 0.0;
    for (int i = 0; i < m_; ++i) s += res[i] * res[i];
    return s;
  }

  // J at theta (slopes from the last curve() at theta), factorized J = Q R.
  // Returns false where R has a negligible diagonal entry.
  bool factor() {
    ColMajor<double> J(j_.data(), m_);
    ColMajor<const double> Li(linv_.data(), m_);
    for (int i = 0; i < nx_; ++i) {
      const double s = slope_[i];
      for (int r = 0; r < m_; ++r) J(r, i) = Li(r, i) + s * Li(r, n_ + i);
    }
    CHEBBASIS(p_, in_.xmin, in_.xmax, n_, nx_ ? theta_.data() : in_.x, g_.data(), n_);
    for (int k = 0; k < p_; ++k)
      for (int r = 0; r < nx_; ++r) J(r, nx_ + k) = 0.0;
    const double one = 1.0, zero = 0.0;
    dgemm_("N", "N", &n_, &p_, &n_, &one, &Li(nx_, nx_), &m_, g_.data(), &n_, &zero,
           &J(nx_, nx_), &m_, 1, 1);
    int info = 0;
    dgeqrf_(&m_, &q_, j_.data(), &m_, tau_.data(), work_.data(), &lwork_, &info);
    double big = 0.0;
    for (int k = 0; k < q_; ++k) big = std::max(big, std::fabs(J(k, k)));
    if (!(big > 0.0) || !std::isfinite(big)) return false;
    for (int k = 0; k < q_; ++k)
      if (!(std::fabs(J(k, k)) > q_ * kEps * big)) return false;
    return true;
  }

  // The step for the residual r_ into step (q): Newton's where the full
  // Hessian is positive definite, else Gauss-Newton's; returns ||J step||.
  double step(double* step) {
    std::vector<double> qtr(r_);
    const int one = 1;
    int info = 0;
    dormqr_("L", "T", &m_, &one, &q_, j_.data(), &m_, tau_.data(), qtr.data(), &m_, work_.data(),
            &lwork_, &info, 1, 1);
    if (newton(qtr.data(), step)) {
      // ||J step|| = ||R step||
      ColMajor<const double> R(j_.data(), m_);
      double s2 = 0.0;
      for (int k = 0; k < q_; ++k) {
        double t = 0.0;
        for (int l = k; l < q_; ++l) t += R(k, l) * step[l];
        s2 += t * t;
      }
      return std::sqrt(s2);
    }
    std::copy(qtr.begin(), qtr.begin() + q_, step);
    const double len = nrm2(q_, step);
    dtrtrs_("U", "N", "N", &q_, &one, j_.data(), &m_, step, &q_, &info, 1, 1, 1);
    return len;
  }

  // Newton's step: (R'R + S) step = R' b, b = (Q'r)(1..q), S the second-order
  // part of the Hessian of chi2 / 2: -sum_i w_i d^2 p(xi_i) / d theta^2,
  // w = L^-T r = V^-1 (z - zeta) at the responses, whose only entries are
  // p''(xi_i) at (xi_i, xi_i) and the slope rows g'(xi_i) at (xi_i, c).
  // False where that matrix is not positive definite (far from a minimum).
  bool newton(const double* b, double* step) {
    ColMajor<const double> R(j_.data(), m_);
    const std::size_t qq = static_cast<std::size_t>(q_);
    h_.assign(qq * qq, 0.0);
    ColMajor<double> H(h_.data(), q_);
    for (int c = 0; c < q_; ++c)
      for (int a = c; a < q_; ++a) {
        double t = 0.0;
        for (int k = 0; k <= c; ++k) t += R(k, a) * R(k, c);
        H(a, c) = t;
      }
    std::vector<double> w(r_);
    const int one = 1;
    dtrmv_("L", "T", "N", &m_, linv_.data(), &m_, w.data(), &one, 1, 1, 1);
    std::vector<double> d2(static_cast<std::size_t>(p_)), gp(static_cast<std::size_t>(p_));
    CHEBDER(p_, in_.xmin, in_.xmax, d_.data(), 1, d2.data(), 1);
    for (int i = 0; i < nx_; ++i) {
      const double wi = w[n_ + i];
      if (wi == 0.0) continue;
      const double t = XSCALE(in_.xmin, in_.xmax, theta_[i]);
      H(i, i) -= wi * CHEBSUM(p_, t, d2.data(), 1);
      slope_row(p_, in_.xmin, in_.xmax, theta_[i], gp.data());
      for (int k = 0; k < p_; ++k) H(n_ + k, i) -= wi * gp[k];
    }
    if (cholesky_lower(q_, h_.data()) != 0) return false;
    // R' b, then the two triangular solves with the factor.
    for (int a = q_ - 1; a >= 0; --a) {
      double t = 0.0;
      for (int k = 0; k <= a; ++k) t += R(k, a) * b[k];
      step[a] = t;
    }
    for (int a = 0; a < q_; ++a) {
      double t = step[a];
      for (int k = 0; k < a; ++k) t -= H(a, k) * step[k];
      step[a] = t / H(a, a);
    }
    for (int a = q_ - 1; a >= 0; --a) {
      double t = step[a];
      for (int k = a + 1; k < q_; ++k) t -= H(k, a) * step[k];
      step[a] = t / H(a, a);
    }
    for (int a = 0; a < q_; ++a)
      if (!std::isfinite(step[a])) return false;
    return true;
  }

  // cov(c) and the gain from the factorized J.
  void covariance(double* cov, double* gain) {
    ColMajor<const double> J(j_.data(), m_);
    std::vector<double> rinv(static_cast<std::size_t>(p_) * static_cast<std::size_t>(p_));
    invert_upper(p_, &J(nx_, nx_), m_, rinv.data());
    ColMajor<const double> Ri(rinv.data(), p_);
    ColMajor<double> C(cov, p_);
    for (int a = 0; a < p_; ++a)
      for (int b = 0; b < p_; ++b) {
        double s = 0.0;
        for (int k = std::max(a, b); k < p_; ++k) s += Ri(a, k) * Ri(b, k);
        C(a, b) = s;
      }
    if (gain == nullptr) return;
    // Q2 = Q E, E the unit columns n..n+p-1; T = L^-T Q2; K = Rinv T'.
    std::vector<double> e(static_cast<std::size_t>(m_) * static_cast<std::size_t>(p_), 0.0);
    ColMajor<double> E(e.data(), m_);
    for (int k = 0; k < p_; ++k) E(nx_ + k, k) = 1.0;
    int info = 0;
    dormqr_("L", "N", &m_, &p_, &q_, j_.data(), &m_, tau_.data(), e.data(), &m_, work_.data(),
            &lwork_, &info, 1, 1);
    std::vector<double> t(e.size());
    const double one = 1.0, zero = 0.0;
    dgemm_("T", "N", &m_, &p_, &m_, &one, linv_.data(), &m_, e.data(), &m_, &zero, t.data(), &m_,
           1, 1);
    ColMajor<const double> T(t.data(), m_);
    ColMajor<double> K(gain, p_);
    for (int c = 0; c < n_ - nx_; ++c)  // exact x: no sensitivity to them
      for (int a = 0; a < p_; ++a) K(a, c) = 0.0;
    for (int c = 0; c < m_; ++c)
      for (int a = 0; a < p_; ++a) {
        double s = 0.0;
        for (int k = a; k < p_; ++k) s += Ri(a, k) * T(c, k);
        K(a, c + n_ - nx_) = s;
      }
  }

  std::vector<double>& residual() { return r_; }
  const std::vector<double>& slopes() const { return slope_; }

 private:
  const GgmInput& in_;
  int n_, nx_, p_, m_, q_;
  std::vector<double>& linv_;
  std::vector<double> theta_, j_, tau_, r_, g_, slope_, d_, work_, h_;
  int lwork_ = 0;
};

}  // namespace

int cholesky_lower(int m, double* a) {
  ColMajor<double> A(a, m);
  std::vector<double> diag(static_cast<std::size_t>(m));
  for (int j = 0; j < m; ++j) diag[j] = A(j, j);
  int info = 0;
  dpotrf_("L", &m, a, &m, &info, 1);
  // LAPACK stops at a pivot that is not positive; a positive pivot below
  // m eps of its diagonal entry is rounding noise of a zero one: the matrix
  // is singular to working precision from that column on.
  const int last = info > 0 ? info - 1 : m;
  const double floor = m * kEps;
  for (int j = 0; j < last; ++j)
    if (!(A(j, j) * A(j, j) > floor * diag[j])) return j + 1;
  return info > 0 ? info : 0;
}

int GGM_FIT(GgmInput& in, const GgmOutput& out) {
  for (int k = 0; k < 3; ++k) out.info[k] = 0;
  if (in.ncoef < 1 || in.ncoef > 10) return QVXL_BAD_NCOEF;
  if (in.n < 1 || in.n < in.ncoef) return QVXL_BAD_COUNT;
  const int n = in.n, p = in.ncoef, m = 2 * n;
  const std::size_t mm = static_cast<std::size_t>(m) * static_cast<std::size_t>(m);
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(in.x[i]) || !std::isfinite(in.y[i])) return QVXL_BAD_VALUE;
  for (std::size_t k = 0; k < mm; ++k)
    if (!std::isfinite(in.v[k])) return QVXL_BAD_VALUE;
  if (!(in.tol > 0.0) || !std::isfinite(in.tol) || in.maxit < 1) return QVXL_BAD_VALUE;
  if (in.has_interval &&
      !(std::isfinite(in.xmin) && std::isfinite(in.xmax) && in.xmin < in.xmax))
    return QVXL_BAD_INTERVAL;

  // V symmetric: the first standard with an entry unlike its mirror.
  ColMajor<const double> V(in.v, m);
  for (int i = 0; i < m; ++i)
    for (int j = i + 1; j < m; ++j) {
      const double scale = std::sqrt(std::fabs(V(i, i) * V(j, j)));
      if (std::fabs(V(i, j) - V(j, i)) > kSymmetryTol * scale ||
          (scale == 0.0 && V(i, j) != V(j, i))) {
        out.info[1] = i % n + 1;
        out.info[2] = i < n ? 1 : 2;
        return QVXL_GGM_NOT_SYMMETRIC;
      }
    }

  if (!in.has_interval) {
    std::vector<double> ux(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) ux[i] = std::sqrt(std::max(V(i, i), 0.0));
    double lo, hi;
    default_interval(static_cast<std::size_t>(n), in.x, ux.data(), lo, hi);
    if (!(lo < hi)) return QVXL_GGM_NO_SPREAD;
    in.xmin = lo;
    in.xmax = hi;
  }

  // x values with no uncertainty at all (Ux and Uxy zero) are exact: the
  // fit is then generalized least squares in y (ISO/TS 28037 clause 9).
  bool exact_x = true;
  for (int j = 0; j < m && exact_x; ++j)
    for (int i = 0; i < n; ++i)
      if (V(i, j) != 0.0) {
        exact_x = false;
        break;
      }
  const int mf = exact_x ? n : m, off = exact_x ? n : 0;
  std::vector<double> linv(static_cast<std::size_t>(mf) * static_cast<std::size_t>(mf));
  for (int j = 0; j < mf; ++j)
    for (int i = 0; i < mf; ++i)
      linv[static_cast<std::size_t>(j) * mf + i] =
          in.diagonal && i != j ? 0.0 : V(off + i, off + j);
  if (const int k = cholesky_lower(mf, linv.data()); k != 0) {
    out.info[1] = (off + k - 1) % n + 1;
    out.info[2] = off + k - 1 < n ? 1 : 2;
    return QVXL_GGM_NOT_POSITIVE;
  }
  for (int j = 1; j < mf; ++j)
    for (int i = 0; i < j; ++i) linv[static_cast<std::size_t>(j) * mf + i] = 0.0;
  invert_lower(mf, linv.data());

  Ggm g(in, linv, exact_x);
  g.start();
  std::vector<double>& th = g.theta();
  const int q = (exact_x ? 0 : n) + p;
  std::vector<double> delta(static_cast<std::size_t>(q)), trial(static_cast<std::size_t>(q)),
      rtrial(static_cast<std::size_t>(mf));
  double chi2 = g.chi2(th.data(), g.residual().data());
  bool converged = false;
  int it = 0;
  double prev_len = std::numeric_limits<double>::infinity();
  while (it < in.maxit) {
    ++it;
    if (!g.factor()) {
      out.info[0] = it;
      return QVXL_GGM_DEGENERATE;
    }
    const double len = g.step(delta.data());
    if (!std::isfinite(len)) {
      out.info[0] = it;
      return QVXL_GGM_DEGENERATE;
    }
    // Converged: the step is below TOL standard uncertainties, or it has
    // reached the rounding floor of the whitened residual (below kFloor
    // standard uncertainties it stops shrinking).  Steps that small are
    // taken whole: chi2 cannot tell them from its own rounding.
    const double scale = std::max(1.0, std::sqrt(chi2));
    const bool small = len <= kFloor * scale;
    const bool last = len <= in.tol * scale || (small && len >= prev_len);
    prev_len = len;
    double h = 1.0;
    bool moved = false;
    for (int k = 0; k <= kHalvings; ++k, h *= 0.5) {
      for (int l = 0; l < q; ++l) trial[l] = th[l] + h * delta[l];
      const double c2 = g.chi2(trial.data(), rtrial.data());
      if (std::isfinite(c2) && (small || c2 <= chi2 * (1.0 + 4.0 * kEps))) {
        th.swap(trial);
        g.residual().swap(rtrial);
        chi2 = c2;
        moved = true;
        break;
      }
    }
    if (last || !moved) {
      converged = true;
      break;
    }
  }
  out.info[0] = it;

  // The covariance and gain at the solution.
  std::vector<double> fitted(static_cast<std::size_t>(n));
  g.curve(th.data(), fitted.data());
  if (!g.factor()) return QVXL_GGM_DEGENERATE;
  for (int k = 0; k < p; ++k) out.coef[k] = g.coef()[k];
  g.covariance(out.cov, out.gain);
  *out.chi2 = chi2;
  *out.ndof = n - p;
  for (int i = 0; i < n; ++i) {
    out.xadj[i] = g.xi(th.data(), i);
    out.fitted[i] = fitted[i];
  }
  return converged ? QVXL_OK : QVXL_GGM_NO_CONVERGENCE;
}

}  // namespace quorvex::lab
