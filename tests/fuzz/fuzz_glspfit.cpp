// Fuzz target: GLSPFIT through its exported name.  Checks, beyond the
// sanitizers' reports: inputs unchanged, listed statuses, arrays sized by an
// NCOEF above 10 untouched, and for a usable fit YFIT equal bit for bit to
// POLYEVAL of the returned coefficients at the returned adjusted abscissae,
// with RES following from PARAM and YFIT.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "quorvex.h"

using namespace quorvex_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int npts = in.count(-2, 40);
  const int ncoef = in.count(-1, 14, true);
  // A MAXIT in the millions is valid but would only make a call slow.
  const int maxit = in.count(-2, 60);
  double tol[2];
  tol[0] = in.byte() < 64 ? in.real() : 1e-14 * (1 + in.count(0, 12) * 1e3);
  tol[1] = in.byte() < 64 ? in.real() : 1e-14 * (1 + in.count(0, 12) * 1e3);
  const double sigma = in.byte() < 64 ? in.real() : 0.05 * in.count(1, 19);
  double xmin = 0.0, xmax = 0.0;
  Array<double> x(npts), y(npts), wx(npts), wy(npts);
  decode_points(in, npts, xmin, xmax, x.data(), y.data(), wx.data(), wy.data());
  const Array<double> x0 = x.copy(), y0 = y.copy(), wx0 = wx.copy(), wy0 = wy.copy();

  const long long n = npts > 0 ? npts : 0, mc = ncoef <= 16 ? (ncoef > 0 ? ncoef : 0) : 0;
  constexpr double kFill = -7.25;
  Array<double> param(n + mc, kFill), cov(mc * mc, kFill), yfit(n, kFill), res(2 * n, kFill),
      wres(2 * n, kFill), r11(n, kFill), r12(n * mc, kFill), r22(mc * (mc + 1) / 2, kFill),
      rinfo(4, kFill);
  double sres = kFill, wresmax = kFill;
  int olstat = -12345, istat[3] = {-12345, -12345, -12345};
  GLSPFIT(&npts, x.data(), y.data(), wx.data(), wy.data(), &ncoef, &xmin, &xmax, tol, &maxit,
          &sigma, param.data(), cov.data(), &sres, yfit.data(), res.data(), wres.data(), &wresmax,
          r11.data(), r12.data(), r22.data(), rinfo.data(), &olstat, istat);

  check(x.same_bits(x0) && y.same_bits(y0) && wx.same_bits(wx0) && wy.same_bits(wy0),
        "GLSPFIT changed an input");
  static const int kOlstat[] = {0, 1, 2, 3, 4, 5, 6, 7, 21, 22, 23, 24, 999};
  static const int kIstat[] = {0, 1, 2, 3, 4, 5, 21, 25, 26, 35, 36, 44, -1, -101, -2, -3, 999};
  check(one_of(olstat, kOlstat), "GLSPFIT: OLSTAT not in its list");
  check(one_of(istat[0], kIstat), "GLSPFIT: ISTAT(1) not in its list");
  if (ncoef > 10) {
    for (std::size_t k = static_cast<std::size_t>(n); k < param.size(); ++k)
      check(param[k] == kFill, "GLSPFIT: coefficient part of PARAM written for NCOEF > 10");
    for (const Array<double>* a : {&cov, &r12, &r22})
      for (std::size_t k = 0; k < a->size(); ++k)
        check((*a)[k] == kFill, "GLSPFIT: an NCOEF-sized output written for NCOEF > 10");
  }

  if (olstat == 0 && istat[0] >= 0 && istat[0] <= 3) {
    Array<double> xi(n), want(n, kFill);
    for (std::size_t i = 0; i < xi.size(); ++i) xi[i] = x[i] - param[i];
    int st = -1;
    POLYEVAL(&ncoef, param.data() + n, &npts, xi.data(), &xmin, &xmax, want.data(), &st);
    check(st == 0, "GLSPFIT: usable fit whose adjusted abscissae POLYEVAL refuses");
    check(yfit.same_bits(want), "GLSPFIT: YFIT is not the returned curve at the returned abscissae");
    for (std::size_t i = 0; i < xi.size(); ++i) {
      const double r = y[i] - yfit[i];
      check(std::memcmp(&res[2 * i], &param[i], sizeof r) == 0, "GLSPFIT: RES(1,i) != PARAM(i)");
      check(std::memcmp(&res[2 * i + 1], &r, sizeof r) == 0, "GLSPFIT: RES(2,i) != Y - YFIT");
    }
  }
  return 0;
}
