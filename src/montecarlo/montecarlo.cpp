// Monte Carlo inverse prediction (GUM Supplement 1, propagation of
// distributions for a measurement model given implicitly by p(x) = y).
//
// First order comes first: the responses are read back (READBACK) for their
// x, u(x), U = k u(x), and the u(y) with its source.  Then, per response, a
// stream of draws of its own (seeded from the run's seed and the response's
// index, so that how responses are split between calls or threads does not
// change a bit): each draw takes a curve and a response (draws.h), finds the
// roots of the drawn curve at the drawn response with IPVAL's root search,
// and contributes one root (root_pick.h).  The draws are made a chunk at a
// time; of each response only the contributed roots are kept, for the
// quantiles (mc_summary.h) and the check against first order
// (first_order_check.h).
#include "montecarlo/montecarlo.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "inverse/ipval.h"
#include "montecarlo/cov_factor.h"
#include "montecarlo/draws.h"
#include "montecarlo/first_order_check.h"
#include "montecarlo/mc_summary.h"
#include "montecarlo/root_pick.h"
#include "numeric/colmajor.h"
#include "quorvex_lab.h"

namespace quorvex::lab {

namespace {

// The zero finder's absolute tolerance relative to the response's
// first-order u(x): far below the sampling error of any statistic.
constexpr double kRootRtol = 1e-6;

}  // namespace

int MONTECARLO(const FittedCurve& c, const McRequest& r, const McResults& out) {
  if (c.ncoef < 2 || c.ncoef > 10) return QVXL_BAD_NCOEF;
  if (r.npts < 1 || r.ndraw < 2 || r.ngrid < 1 || r.chunk < 1) return QVXL_BAD_COUNT;
  if (r.first < 0) return QVXL_BAD_VALUE;
  for (int i = 0; i < r.npts; ++i)
    if (!std::isfinite(r.y[i])) return QVXL_BAD_VALUE;

  // First order, with its checks of the curve and the request.
  const std::size_t n = count(r.npts);
  const std::size_t rows = static_cast<std::size_t>(c.ncoef) - 1;
  std::vector<int> nroot(n), uysrc(n), flags(n);
  std::vector<double> roots(rows * n), uroots(rows * n), uy(n), ucurve(n), dof(n), k(n), U(n),
      low(n), high(n), xext(n), uxext(n);
  const ReadRequest rr{r.npts, r.y, r.uymode, r.uy, r.repl, r.level, r.ngrid, 0.0, false};
  const int st = READBACK(c, Standards{}, rr,
                          ReadResults{nroot.data(), roots.data(), uroots.data(), uy.data(),
                                      uysrc.data(), ucurve.data(), dof.data(), k.data(),
                                      U.data(), low.data(), high.data(), xext.data(),
                                      uxext.data(), flags.data()});
  if (st != QVXL_OK) return st;

  std::vector<double> l;
  if (const int fs = cov_factor(c.ncoef, c.cov, l); fs != QVXL_OK) return fs;
  const int scale_dof = c.covkind == 1 ? c.ndof : 0;

  const std::size_t nd = count(r.ndraw);
  const std::size_t chunk = std::min(count(r.chunk), nd);
  const std::size_t nc = static_cast<std::size_t>(c.ncoef);
  std::vector<double> curves(chunk * nc), ys(chunk), xr(rows), xs;
  xs.reserve(nd);
  // The results are kept until every response is done: a failure part way
  // (storage) leaves the outputs as they were.
  std::vector<McSummary> sum(n);
  std::vector<int> check(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double ref = roots[i * rows];
    const double ux = uroots[i * rows];
    const double tol = std::isfinite(ux) && ux > 0.0 ? kRootRtol * ux : 0.0;
    const bool scaled_response = scale_dof > 0 && uysrc[i] == QVXL_UYSRC_SCATTER;
    DrawStream stream(r.seed, static_cast<std::uint64_t>(r.first) + i, c.ncoef, c.coef,
                      l.data(), scale_dof);
    xs.clear();
    long long none = 0, several = 0;
    for (std::size_t d0 = 0; d0 < nd; d0 += chunk) {
      const std::size_t m = std::min(chunk, nd - d0);
      for (std::size_t j = 0; j < m; ++j)
        ys[j] = stream.next(r.y[i], uy[i], scaled_response, curves.data() + j * nc);
      for (std::size_t j = 0; j < m; ++j) {
        int nr = 0;
        IPVAL_ROOTS(c.ncoef, curves.data() + j * nc, 1, &ys[j], c.xmin, c.xmax, r.ngrid, tol,
                    &nr, xr.data());
        if (nr == 0) ++none;
        if (nr > 1) ++several;
        if (nr > 0) xs.push_back(pick_root(xr.data(), nr, ref));
      }
    }
    sum[i] = summarise(xs, static_cast<long long>(nd), none, several, r.level);
    check[i] = first_order_check(sum[i], ref, ux, U[i]);
  }
  for (std::size_t i = 0; i < n; ++i) {
    const McSummary& s = sum[i];
    out.mean[i] = s.mean;
    out.sd[i] = s.sd;
    out.median[i] = s.median;
    out.low[i] = s.low;
    out.high[i] = s.high;
    out.se_low[i] = s.se_low;
    out.se_high[i] = s.se_high;
    out.no_root[i] = s.no_root;
    out.several[i] = s.several;
    out.check[i] = check[i];
  }
  return QVXL_OK;
}

}  // namespace quorvex::lab
