// Block-angular least squares on the generalized fit's Jacobian: one block
// of one column and two rows per point (rows WX and WY*p'(x); border entries
// 0 and -WY*T_j(t)), NCB border columns.  The counter per_block (time per block) must stay
// flat as NB grows: the sweep is linear in the number of blocks.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "gls/balsq.h"
#include "numeric/trpack.h"

namespace {

struct FitJacobian {
  int nb, ncb, m;
  std::vector<int> idx;
  std::vector<double> jd, jb, b;
};

FitJacobian make_jacobian(int nb, int ncb) {
  FitJacobian j{nb, ncb, 2 * nb, {}, {}, {}, {}};
  const std::size_t m = static_cast<std::size_t>(j.m), n = static_cast<std::size_t>(nb);
  j.idx.resize(2 * n);
  j.jd.resize(m);
  j.jb.assign(m * static_cast<std::size_t>(ncb), 0.0);
  j.b.resize(m);
  std::mt19937 g(42);
  std::uniform_real_distribution<double> u(-1.0, 1.0), w(0.5, 2.0);
  for (std::size_t i = 0; i < n; ++i) {
    j.idx[i] = static_cast<int>(i) + 1;
    j.idx[n + i] = 2;
    const double t = u(g), wx = w(g), wy = w(g);
    j.jd[2 * i] = wx;
    j.jd[2 * i + 1] = wy * (1.0 + 0.3 * t);
    double tkm1 = 1.0, tk = t;
    for (int l = 0; l < ncb; ++l) {
      const double basis = l == 0 ? 0.5 : (l == 1 ? t : tk);
      if (l >= 2) {
        const double next = 2.0 * t * tk - tkm1;
        tkm1 = tk;
        tk = next;
      }
      j.jb[2 * i + 1 + static_cast<std::size_t>(l) * m] = -wy * basis;
    }
    j.b[2 * i] = 1e-3 * u(g);
    j.b[2 * i + 1] = 1e-2 * u(g);
  }
  return j;
}

void BM_BalsqFitShape(benchmark::State& state) {
  const int nb = static_cast<int>(state.range(0)), ncb = static_cast<int>(state.range(1));
  const FitJacobian j = make_jacobian(nb, ncb);
  const std::size_t n = static_cast<std::size_t>(nb), nc = static_cast<std::size_t>(ncb);
  std::vector<double> xs(n + nc), r11(n), r12(n * nc), r22(quorvex::packed_size(nc)), qb1(n),
      qb2(nc);
  double vers = 0.0;
  int info = 0;
  quorvex::BalsqWork work;  // kept across solves, as the fit keeps it
  for (auto _ : state) {
    quorvex::BALSQ(nb, 1, ncb, nb, j.m, j.idx.data(), j.jd.data(), j.jb.data(), 1, xs.data(),
                   j.b.data(), r11.data(), r12.data(), r22.data(), qb1.data(), qb2.data(), vers,
                   info, work);
    benchmark::DoNotOptimize(xs.data());
    benchmark::ClobberMemory();
  }
  if (info != 0) state.SkipWithError("BALSQ failed");
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(nb));
  state.counters["per_block"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * nb,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_BalsqFitShape)
    ->ArgNames({"nb", "ncb"})
    ->ArgsProduct({{1000, 10000, 100000, 1000000}, {2, 3, 4, 10}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
