// Measures where the ordinary fit's conditioning tests draw their lines.
//
// The fit refuses a weighted design A (NPTS x NCOEF, rows scaled so that the
// largest weight is 1) with status 24 when
//   - it has fewer distinct scaled abscissae than NCOEF (exactly singular);
//   - the diagonal of its QR factor Rf has
//         min |Rf(i,i)| <= max |Rf(i,i)| * c * NPTS * eps,   c = 1,
//     eps the double epsilon (the solver's test); or
//   - kappa_F = ||Rf||_F ||Rf^-1||_F reaches NCOEF / (NPTS eps).  Since
//     kappa_2 <= kappa_F <= NCOEF kappa_2, this refuses only designs with
//     kappa_2 NPTS eps >= 1 (results without a correct digit) and keeps every
//     design with kappa_2 NPTS eps < 1: no constant to choose.
// For each design this program computes
//     rho = min |Rf(i,i)| / (max |Rf(i,i)| * NPTS * eps)   (refused at rho <= c)
//     phi = kappa_F NPTS eps / NCOEF                        (refused at phi >= 1)
// over
//   - singular designs: fewer distinct abscissae than NCOEF (NCOEF 2 to 10,
//     NPTS up to 60, unit weights or weights spanning 1e6).  Their Rf is
//     singular but for rounding, and rho measures that rounding residue.
//   - designs singular but for a few units in the last place: NCOEF levels,
//     two of them 1 to 4 ulps apart.
//   - full-rank designs whose 2-norm condition number kappa(A) (from the
//     singular values, LAPACK DGESVD) is at most 1e12: abscissae spread,
//     clustered or at replicated levels, the same weights, NPTS up to 60 and
//     1000 for one design in 50.  These must have rho > c and phi < 1.  Every
//     |Rf(i,i)| lies between the smallest and the largest singular value, so
//     rho >= 1 / (kappa NPTS eps).
// Fixed seeds; run with no argument.  The design is built and factorized as
// the fit does it (the same basis rows, scale factors and DGEQRF call), so
// the numbers are the ones the tests see.
//
// Figures of the committed run (g++ 12.2, reference LAPACK, x86-64, 6 s):
//   singular designs    198 000 (11 000 per NCOEF and weighting): largest
//                       rho 534 (NCOEF 10; unit weights 510).  It grows with
//                       NCOEF: 0.71 for 2, 5.6 for 5, 28 for 7, 534 for 10;
//                       97.4 % have rho <= 1 (NCOEF 2: all; 10: 93 %).  The
//                       diagonal test and the kappa_F test together refuse
//                       all 198 000, and the count of distinct abscissae
//                       refuses them whatever the rounding.
//   levels 1-4 ulps apart: 20 000 designs; rho <= 1 for 65.9 %, refused by
//                       either test 93.2 %.
//   full rank, kappa <= 1e12: 121 309 designs, smallest rho 29 (NPTS 1000,
//                       kappa 8.6e11; 311 for kappa in [1e10, 1e11)),
//                       largest phi 0.063: all fitted.
// So no single c separates singular from well-posed designs by the diagonal
// (534 > 29): hence the count, and c = 1 for the diagonal test, a factor 29
// below every full-rank value measured.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "curve/chebyshev.h"
#include "numeric/lapack.h"

extern "C" void dtrtri_(const char* uplo, const char* diag, const int* n, double* a,
                        const int* lda, int* info, std::size_t, std::size_t);
extern "C" void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n,
                        double* a, const int* lda, double* s, double* u, const int* ldu,
                        double* vt, const int* ldvt, double* work, const int* lwork, int* info,
                        std::size_t, std::size_t);

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

struct Measure {
  double rho;    // min |Rf(i,i)| / (max |Rf(i,i)| NPTS eps)
  double kappa;  // sigma_max / sigma_min of the weighted design
  double phi;    // ||Rf||_F ||Rf^-1||_F NPTS eps / NCOEF: the fit refuses phi >= 1
};

// The fit's weighted design and the diagonal of its factor.
Measure measure(const std::vector<double>& x, const std::vector<double>& w, int ncoef,
                double xmin, double xmax) {
  const int m = static_cast<int>(x.size());
  std::vector<double> basis(x.size() * ncoef);
  quorvex::CHEBBASIS(ncoef, xmin, xmax, m, x.data(), basis.data(), m);
  const double wmax = *std::max_element(w.begin(), w.end());
  std::vector<double> a(basis.size());
  for (int i = 0; i < m; ++i) {
    const double s = w[i] / wmax;
    for (int j = 0; j < ncoef; ++j) a[j * m + i] = s * basis[j * m + i];
  }
  std::vector<double> qr = a, tau(ncoef), work(ncoef);
  int info = 0;
  const int lwork = ncoef;
  dgeqrf_(&m, &ncoef, qr.data(), &m, tau.data(), work.data(), &lwork, &info);
  double dmax = 0.0, dmin = std::numeric_limits<double>::infinity();
  for (int i = 0; i < ncoef; ++i) {
    const double d = std::fabs(qr[i * m + i]);
    dmax = std::max(dmax, d);
    dmin = std::min(dmin, d);
  }
  // kappa_F from the factor and its inverse.
  std::vector<double> r(ncoef * ncoef, 0.0);
  double sr = 0.0, si = 0.0;
  for (int j = 0; j < ncoef; ++j)
    for (int i = 0; i <= j; ++i) {
      r[j * ncoef + i] = qr[j * m + i];
      sr += r[j * ncoef + i] * r[j * ncoef + i];
    }
  dtrtri_("U", "N", &ncoef, r.data(), &ncoef, &info, 1, 1);
  for (int j = 0; j < ncoef; ++j)
    for (int i = 0; i <= j; ++i) si += r[j * ncoef + i] * r[j * ncoef + i];
  const double phi = info != 0 ? std::numeric_limits<double>::infinity()
                               : std::sqrt(sr) * std::sqrt(si) * m * kEps / ncoef;
  std::vector<double> sv(ncoef), svwork(std::max(1, 5 * (m + ncoef)));
  const int one = 1, lsw = static_cast<int>(svwork.size());
  dgesvd_("N", "N", &m, &ncoef, a.data(), &m, sv.data(), nullptr, &one, nullptr, &one,
          svwork.data(), &lsw, &info, 1, 1);
  return {dmin / (dmax * m * kEps), sv[0] / sv[ncoef - 1], phi};
}

}  // namespace

int main() {
  std::mt19937_64 rng(20261208);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  auto weights = [&](int n, bool spread) {
    std::vector<double> w(n, 1.0);
    if (spread)
      for (double& v : w) v = std::pow(10.0, 6.0 * u01(rng) - 3.0);
    if (spread) w[0] = 1e3, w[n - 1] = 1e-3;  // the full span of 1e6
    return w;
  };
  auto interval = [&](double& xmin, double& xmax) {
    if (u01(rng) < 0.5) {
      xmin = 0.0, xmax = 10.0;
    } else {
      xmin = 200.0 * u01(rng) - 100.0;
      xmax = xmin + std::pow(10.0, 4.0 * u01(rng) - 1.0);
    }
  };

  // Singular designs.
  double worst_sing[2] = {0.0, 0.0};
  int worst_nc = 0;
  long nsing = 0, nbelow = 0, either = 0;
  for (int ncoef = 2; ncoef <= 10; ++ncoef) {
    for (int spread = 0; spread < 2; ++spread) {
      double worst = 0.0;
      long below = 0;
      for (int k = 0; k < 11000; ++k) {
        const int distinct = 1 + static_cast<int>(u01(rng) * (ncoef - 1));
        const int npts = ncoef + static_cast<int>(u01(rng) * (61 - ncoef));
        double xmin, xmax;
        interval(xmin, xmax);
        std::vector<double> levels(distinct), x(npts);
        for (double& v : levels) v = xmin + (xmax - xmin) * u01(rng);
        if (k % 5 == 0) levels[0] = xmin;  // a level at an end of the interval
        for (int i = 0; i < npts; ++i)
          x[i] = levels[i < distinct ? i : static_cast<int>(u01(rng) * distinct)];
        const Measure r = measure(x, weights(npts, spread != 0), ncoef, xmin, xmax);
        worst = std::max(worst, r.rho);
        if (r.rho <= 1.0) ++below;
        if (r.rho <= 1.0 || r.phi >= 1.0) ++either;
        ++nsing;
      }
      nbelow += below;
      worst_sing[spread] = std::max(worst_sing[spread], worst);
      if (worst >= std::max(worst_sing[0], worst_sing[1])) worst_nc = ncoef;
      std::printf("singular  NCOEF %2d  weights %-8s  largest rho %.3g, rho <= 1: %.1f %%\n",
                  ncoef, spread ? "1e6 span" : "unit", worst, 100.0 * below / 11000);
    }
  }
  std::printf("singular designs: %ld, largest rho %.3g (unit weights %.3g, NCOEF %d); "
              "rho <= 1: %.1f %%\n",
              nsing, std::max(worst_sing[0], worst_sing[1]), worst_sing[0], worst_nc,
              100.0 * nbelow / nsing);
  std::printf("  refused by the diagonal test or by kappa_F NPTS eps >= NCOEF: %.1f %% "
              "(%ld left)\n", 100.0 * either / nsing, nsing - either);

  // Designs that are singular but for a few units in the last place: NCOEF
  // levels, two of them 1 to 4 ulps apart.
  {
    long n = 0, below = 0, refused = 0;
    double worst = 0.0;
    for (int k = 0; k < 20000; ++k) {
      const int ncoef = 2 + k % 9;
      const int npts = ncoef + static_cast<int>(u01(rng) * (61 - ncoef));
      double xmin, xmax;
      interval(xmin, xmax);
      std::vector<double> levels(ncoef), x(npts);
      for (double& v : levels) v = xmin + (xmax - xmin) * (0.1 + 0.8 * u01(rng));
      levels[1] = levels[0];
      for (int u = 1 + k % 4; u > 0; --u) levels[1] = std::nextafter(levels[1], xmax);
      for (int i = 0; i < npts; ++i)
        x[i] = levels[i < ncoef ? i : static_cast<int>(u01(rng) * ncoef)];
      const Measure r = measure(x, weights(npts, k % 2 == 1), ncoef, xmin, xmax);
      worst = std::max(worst, r.rho);
      if (r.rho <= 1.0) ++below;
      if (r.rho <= 1.0 || r.phi >= 1.0) ++refused;
      ++n;
    }
    std::printf("levels 1-4 ulps apart: %ld designs, largest rho %.3g, rho <= 1: %.1f %%, "
                "refused by either test: %.1f %%\n",
                n, worst, 100.0 * below / n, 100.0 * refused / n);
  }

  // Full-rank designs by decade of kappa.
  double best_by_decade[13];
  long count_by_decade[13] = {};
  std::fill(best_by_decade, best_by_decade + 13, std::numeric_limits<double>::infinity());
  int worst_npts = 0;
  double worst_big = std::numeric_limits<double>::infinity();  // 1000 points
  double largest_phi = 0.0;
  double worst_kappa = 0.0, worst_rho = std::numeric_limits<double>::infinity();
  for (int k = 0; k < 200000; ++k) {
    const int ncoef = 2 + k % 9;
    const int npts = k % 50 == 0 ? 1000 : ncoef + static_cast<int>(u01(rng) * (61 - ncoef));
    double xmin, xmax;
    interval(xmin, xmax);
    std::vector<double> x(npts);
    const int kind = (k / 9) % 3;
    if (kind == 0) {  // spread over a random part of the interval
      const double lo = u01(rng), width = (1.0 - lo) * u01(rng);
      for (double& v : x) v = xmin + (xmax - xmin) * (lo + width * u01(rng));
    } else if (kind == 1) {  // clustered around one point
      const double c = u01(rng), width = std::pow(10.0, -7.0 * u01(rng));
      std::normal_distribution<double> g(0.0, width);
      for (double& v : x) v = xmin + (xmax - xmin) * std::clamp(c + g(rng), 0.0, 1.0);
    } else {  // NCOEF or more levels, replicated
      const int levels = ncoef + static_cast<int>(u01(rng) * 4);
      const double lo = u01(rng), width = (1.0 - lo) * std::pow(10.0, -3.0 * u01(rng));
      for (int i = 0; i < npts; ++i)
        x[i] = xmin + (xmax - xmin) * (lo + width * (i % levels) / (levels - 1));
    }
    const Measure r = measure(x, weights(npts, k % 2 == 1), ncoef, xmin, xmax);
    if (!(r.kappa <= 1e12)) continue;
    const int decade = std::clamp(static_cast<int>(std::floor(std::log10(r.kappa))), 0, 12);
    best_by_decade[decade] = std::min(best_by_decade[decade], r.rho);
    ++count_by_decade[decade];
    if (r.rho < worst_rho) worst_rho = r.rho, worst_npts = npts, worst_kappa = r.kappa;
    if (npts == 1000) worst_big = std::min(worst_big, r.rho);
    largest_phi = std::max(largest_phi, r.phi);
  }
  long ngood = 0;
  for (int d = 0; d <= 12; ++d) {
    ngood += count_by_decade[d];
    std::printf("full rank kappa in [1e%d, 1e%d): %7ld designs, smallest rho %.3g\n", d, d + 1,
                count_by_decade[d], best_by_decade[d]);
  }
  std::printf("full-rank designs with kappa <= 1e12: %ld, smallest rho %.3g (NPTS %d, kappa %.3g)\n",
              ngood, worst_rho, worst_npts, worst_kappa);
  std::printf("of them with 1000 points: smallest rho %.3g\n", worst_big);
  std::printf("largest kappa_F NPTS eps / NCOEF %.3g (refused at 1)\n", largest_phi);
  return 0;
}
