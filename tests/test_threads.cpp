// Fits, inversions and evaluations running on several threads at once give
// exactly the results of the same calls made one after another: the state
// the library keeps between its routines is private to each thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "gls_data.h"
#include "host_library.h"

namespace {

using quorvex_test::EivData;

// Everything one job computes, compared bit for bit.
struct JobResult {
  std::vector<double> values;
  std::vector<int> codes;
  bool operator==(const JobResult&) const = default;
};

JobResult run_job(const quorvex_test::HostLibrary& lib, unsigned seed) {
  auto* glspfit = QVX_HOST_FN(lib, GLSPFIT);
  auto* olspfit = QVX_HOST_FN(lib, OLSPFIT);
  auto* ipval = QVX_HOST_FN(lib, IPVAL);
  auto* ipval1 = QVX_HOST_FN(lib, IPVAL_DEGREE1);
  auto* polyeval = QVX_HOST_FN(lib, POLYEVAL);
  JobResult r;

  // Each job has its own data, interval and degree, so that a thread reading
  // another thread's interval or workspace would change its numbers.
  const int ncoef = 2 + seed % 4;
  const double xmin = -1.0 - seed, xmax = 9.0 + 2.0 * seed;
  const EivData d = quorvex_test::make_eiv_data(60 + 7 * seed, ncoef, 0.02, 0.05, seed, xmin, xmax);
  const int n = d.npts, m = ncoef;

  std::vector<double> coef(m), cov(m * m), yfit(n), res(2 * n), wres(2 * n);
  double sres, wresmax;
  int istat;
  olspfit(&n, d.x.data(), d.y.data(), d.wy.data(), &m, &xmin, &xmax, coef.data(), cov.data(),
          &sres, yfit.data(), res.data(), wres.data(), &wresmax, &istat);
  r.codes.push_back(istat);
  r.values.insert(r.values.end(), coef.begin(), coef.end());
  r.values.insert(r.values.end(), cov.begin(), cov.end());

  std::vector<double> param(n + m), r11(n), r12(n * m), r22(m * (m + 1) / 2), rinfo(4);
  const double tol[2] = {1e-10, 1e-10}, sigma = 0.1;
  const int maxit = 50;
  int olstat, st[3];
  glspfit(&n, d.x.data(), d.y.data(), d.wx.data(), d.wy.data(), &m, &xmin, &xmax, tol, &maxit,
          &sigma, param.data(), cov.data(), &sres, yfit.data(), res.data(), wres.data(), &wresmax,
          r11.data(), r12.data(), r22.data(), rinfo.data(), &olstat, st);
  r.codes.insert(r.codes.end(), {olstat, st[0], st[1], st[2]});
  r.values.insert(r.values.end(), param.begin(), param.end());
  r.values.insert(r.values.end(), cov.begin(), cov.end());
  r.values.insert(r.values.end(), r22.begin(), r22.end());
  r.values.push_back(sres);

  // Invert the fitted curve at a few of its own values.
  const double* c = param.data() + n;
  const int nq = 5;
  std::vector<double> xq(nq), yq(nq), covy(nq * nq, 0.0);
  for (int i = 0; i < nq; ++i) {
    xq[i] = xmin + (xmax - xmin) * (i + 0.5) / nq;
    covy[i + i * nq] = 0.05 * 0.05;
  }
  polyeval(&m, c, &nq, xq.data(), &xmin, &xmax, yq.data(), &istat);
  r.codes.push_back(istat);
  r.values.insert(r.values.end(), yq.begin(), yq.end());
  const int ngrid = 200;
  const double ztol = 0.0;
  std::vector<int> nroot(nq);
  std::vector<double> xroot((m - 1) * nq), uxroot((m - 1) * nq);
  ipval(&m, c, cov.data(), &nq, yq.data(), covy.data(), &xmin, &xmax, &ngrid, &ztol, nroot.data(),
        xroot.data(), uxroot.data(), &istat);
  r.codes.push_back(istat);
  r.codes.insert(r.codes.end(), nroot.begin(), nroot.end());
  r.values.insert(r.values.end(), xroot.begin(), xroot.end());
  r.values.insert(r.values.end(), uxroot.begin(), uxroot.end());
  if (m == 2) {
    std::vector<double> xp(nq), up(nq);
    ipval1(c, cov.data(), &nq, yq.data(), covy.data(), &xmin, &xmax, xp.data(), up.data(), &istat);
    r.codes.push_back(istat);
    r.values.insert(r.values.end(), xp.begin(), xp.end());
    r.values.insert(r.values.end(), up.begin(), up.end());
  }
  return r;
}

TEST(Threads, ConcurrentCallsGiveTheSerialResults) {
  quorvex_test::HostLibrary lib;
  ASSERT_TRUE(lib.loaded());
  constexpr unsigned kThreads = 4, kJobs = 12, kRounds = 3;
  std::vector<JobResult> serial(kJobs);
  for (unsigned j = 0; j < kJobs; ++j) serial[j] = run_job(lib, j + 1);
  for (const JobResult& s : serial) ASSERT_EQ(s.codes[0], 0);

  std::vector<std::vector<JobResult>> got(kThreads);
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < kThreads; ++t) {
    pool.emplace_back([&, t] {
      // Every thread runs every job, starting at a different one, so that
      // different fits and inversions overlap in time.
      for (unsigned round = 0; round < kRounds; ++round)
        for (unsigned k = 0; k < kJobs; ++k) got[t].push_back(run_job(lib, (k + 3 * t) % kJobs + 1));
    });
  }
  for (std::thread& th : pool) th.join();
  for (unsigned t = 0; t < kThreads; ++t) {
    for (unsigned i = 0; i < got[t].size(); ++i) {
      const unsigned job = (i % kJobs + 3 * t) % kJobs;
      EXPECT_TRUE(got[t][i] == serial[job]) << "thread " << t << " call " << i;
    }
  }
}

}  // namespace
