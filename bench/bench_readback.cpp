// Reading samples back through the laboratory layer: roots, u(x), dof, k, U,
// the inversion interval and the flags for 10^4 responses, per UYMODE, on a
// straight line and a quadratic.  Stated u(y) on a scaled curve gives every
// response its own Welch-Satterthwaite dof, hence its own t quantile.
#include <benchmark/benchmark.h>

#include <vector>

#include "reading/readback.h"

namespace {

void BM_Readback(benchmark::State& state) {
  const int ncoef = static_cast<int>(state.range(0));
  const int uymode = static_cast<int>(state.range(1));
  const int npts = 10000;
  const double xmin = 1.0, xmax = 10.0;
  std::vector<double> coef(ncoef, 0.0), cov(ncoef * ncoef, 0.0);
  coef[0] = 20.0;
  coef[1] = 9.0;
  if (ncoef > 2) coef[2] = 0.1;
  for (int k = 0; k < ncoef; ++k) cov[k * (ncoef + 1)] = 1e-4;
  std::vector<double> y(npts), uy(npts, 0.05), repl(npts, 1.0);
  for (int i = 0; i < npts; ++i) y[i] = 3.0 + 14.0 * (i + 0.5) / npts;
  const std::size_t n = npts, rows = ncoef - 1;
  std::vector<int> nroot(n), src(n), flags(n);
  std::vector<double> roots(rows * n), uroots(rows * n), out(9 * n);
  using namespace quorvex::lab;
  const FittedCurve c{ncoef, coef.data(), cov.data(), xmin, xmax, 1, 8, 0.05, 0, false};
  const Standards s{xmin, xmax, 0, 0.0, 0.0};
  const ReadRequest r{npts, y.data(), uymode, uy.data(), repl.data(), 0.95, 100, 0.0, false};
  double* o = out.data();
  const ReadResults res{nroot.data(), roots.data(), uroots.data(), o,         src.data(),
                        o + n,        o + 2 * n,    o + 3 * n,     o + 4 * n, o + 5 * n,
                        o + 6 * n,    o + 7 * n,    o + 8 * n,     flags.data()};
  for (auto _ : state) {
    benchmark::DoNotOptimize(READBACK(c, s, r, res));
  }
  state.SetItemsProcessed(state.iterations() * npts);
}

}  // namespace

BENCHMARK(BM_Readback)
    ->ArgNames({"ncoef", "uymode"})
    ->Args({2, 0})
    ->Args({2, 1})
    ->Args({3, 0})
    ->Args({3, 1})
    ->Args({3, 2})
    ->Unit(benchmark::kMillisecond);
