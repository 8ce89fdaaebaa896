// The fit with correlated standards against today's errors-in-variables fit.
//   build/bench/quorvex_bench --benchmark_filter=Correlated
// BM_Correlated_GGM: QVXL_GGM_FIT of NPTS standards whose x share a stock and a
// dilution chain and whose y share a drift (a full 2 NPTS x 2 NPTS covariance);
// BM_Correlated_EIV: QVXL_FIT with u(x) and u(y) (GLSPFIT with the default
// tolerances from a starting OLSPFIT) of the same standards, the correlations
// left out.  The ratio of their times is the price of the full covariance.
// BM_Correlated_Memory: one fit of 1000 standards; the counter peak_n2 is the
// growth of the peak resident memory in units of n x n doubles, the caller's V
// (4 n^2) already resident.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <random>
#include <vector>

#include "quorvex_lab.h"

namespace {

struct Standards {
  int n = 0, nc = 0;
  std::vector<double> x, y, ux, uy, v;
};

Standards make(int n, int nc) {
  Standards s;
  s.n = n;
  s.nc = nc;
  std::mt19937_64 rng(35);
  std::normal_distribution<double> g(0.0, 1.0);
  s.x.resize(n);
  s.y.resize(n);
  s.ux.resize(n);
  s.uy.resize(n);
  std::vector<int> parent(n);
  std::vector<double> rel(n, 0.003);
  for (int i = 0; i < n; ++i) {
    // chains of five serial dilutions, each from the stock
    parent[i] = i % 5 == 0 ? 0 : i;
    s.x[i] = 100.0 * std::pow(0.7, i % 5) * (1.0 - 0.004 * (i / 5));
    const double t = s.x[i] / 100.0;
    s.y[i] = 0.1 + 2.0 * t + 0.3 * t * t + 0.01 * g(rng);
    s.uy[i] = 0.01;
  }
  s.v.assign(4 * static_cast<std::size_t>(n) * n, 0.0);
  const int add0 = 0, add1 = 1, ns = 1;
  const double rstock = 0.002;
  int bad = 0, st = 0;
  QVXL_GGM_DILUTION(&n, s.x.data(), parent.data(), rel.data(), &rstock, &add0, s.v.data(), &bad,
                    &st);
  std::vector<double> zero(n, 0.0), drift(n, 0.005);
  QVXL_GGM_COMPONENTS(&n, &ns, zero.data(), s.uy.data(), zero.data(), drift.data(), &add1,
                      s.v.data(), &st);
  for (int i = 0; i < n; ++i) s.ux[i] = std::sqrt(s.v[static_cast<std::size_t>(i) * 2 * n + i]);
  return s;
}

void BM_Correlated_GGM(benchmark::State& state) {
  const Standards s = make(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const int n = s.n, nc = s.nc, defaults = 0;
  std::vector<double> coef(nc), cov(nc * nc), xadj(n), fitted(n), gain(2 * nc * n);
  double interval[2], tol = 0, chi2 = 0;
  int maxit = 0, ndof = 0, info[3], st = 0;
  for (auto _ : state) {
    QVXL_GGM_FIT(&n, s.x.data(), s.y.data(), s.v.data(), &nc, &defaults, interval, &tol, &maxit,
                 coef.data(), cov.data(), &chi2, &ndof, xadj.data(), fitted.data(), gain.data(),
                 info, &st);
    benchmark::DoNotOptimize(coef.data());
  }
  if (st != 0) state.SkipWithError("QVXL_GGM_FIT failed");
  state.counters["iterations"] = info[0];
}

void BM_Correlated_EIV(benchmark::State& state) {
  const Standards s = make(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const int n = s.n, nc = s.nc, given = 3, weighting = 0, defaults = 0;
  std::vector<int> keep(n, 1);
  std::vector<double> coef(nc), cov(nc * nc), covsc(nc * nc), per(8 * n), rinfo(4);
  double interval[2], tol[2], sigma = 0, sres = 0, chi2 = 0;
  int maxit = 0, covkind = -1, ndof = 0, info[5], st = 0;
  double* p = per.data();
  for (auto _ : state) {
    covkind = -1;
    QVXL_FIT(&n, s.x.data(), s.y.data(), s.uy.data(), s.ux.data(), &given, &weighting,
             keep.data(), &nc, &defaults, interval, tol, &maxit, &sigma, &covkind, coef.data(),
             cov.data(), covsc.data(), &sres, &ndof, &chi2, p, p + n, p + 2 * n, p + 3 * n,
             p + 4 * n, p + 5 * n, p + 6 * n, p + 7 * n, rinfo.data(), info, &st);
    benchmark::DoNotOptimize(coef.data());
  }
  if (st != 0) state.SkipWithError("QVXL_FIT failed");
}

long peak_kb() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_maxrss;
}

void BM_Correlated_Memory(benchmark::State& state) {
  const Standards s = make(static_cast<int>(state.range(0)), 3);
  const int n = s.n, nc = s.nc, defaults = 0;
  std::vector<double> coef(nc), cov(nc * nc), xadj(n), fitted(n), gain(2 * nc * n);
  double interval[2], tol = 0, chi2 = 0;
  int maxit = 0, ndof = 0, info[3], st = 0;
  const long before = peak_kb();
  for (auto _ : state) {
    QVXL_GGM_FIT(&n, s.x.data(), s.y.data(), s.v.data(), &nc, &defaults, interval, &tol, &maxit,
                 coef.data(), cov.data(), &chi2, &ndof, xadj.data(), fitted.data(), gain.data(),
                 info, &st);
    benchmark::DoNotOptimize(coef.data());
  }
  if (st != 0) state.SkipWithError("QVXL_GGM_FIT failed");
  const double n2 = 8.0 * n * static_cast<double>(n);
  state.counters["peak_n2"] = 1024.0 * static_cast<double>(peak_kb() - before) / n2;
  state.counters["V_n2"] = 4.0;
}

}  // namespace

BENCHMARK(BM_Correlated_GGM)->Args({20, 3})->Args({50, 2})->Args({50, 4})->Args({200, 3})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Correlated_EIV)->Args({20, 3})->Args({50, 2})->Args({50, 4})->Args({200, 3})
    ->Unit(benchmark::kMicrosecond);
// Memory first touched in its own process run: give --benchmark_filter=Memory.
BENCHMARK(BM_Correlated_Memory)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);
