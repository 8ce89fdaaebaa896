// The sample workflow of the laboratory layer, called through the shared
// library's exported names as a host calls it: replicate readings combined
// (against sums computed here) and checked (p-values from scipy, computed
// beforehand), the limits by each definition with the reportable range, and
// the reported result (f = 1 gives reading back's numbers to the bit; a
// factor's uncertainty combined by GUM 5.1.2 and Welch-Satterthwaite), the
// flags and every status.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "quorvex_lab.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class Lab {
 public:
  Lab() : h_(dlopen(QUORVEX_LAB_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
  ~Lab() {
    if (h_ != nullptr) dlclose(h_);
  }
  template <class F>
  F* get(const char* name, F* /*decl*/) const {
    return reinterpret_cast<F*>(dlsym(h_, name));
  }
  bool loaded() const { return h_ != nullptr; }

 private:
  void* h_;
};

#define LAB_FN(lab, name) (lab).get(#name, &::name)

const Lab& lab() {
  static const Lab l;
  return l;
}

struct Combined {
  std::vector<double> mean, umean, sd;
  std::vector<int> count;
  int istat = -1;
};

Combined combine(const std::vector<double>& y, const std::vector<int>& group, int ngroup,
                 const std::vector<double>* uy = nullptr) {
  auto* fn = LAB_FN(lab(), QVXL_REPLICATES);
  Combined c;
  c.mean.assign(static_cast<std::size_t>(ngroup), -1.0);
  c.umean = c.sd = c.mean;
  c.count.assign(static_cast<std::size_t>(ngroup), -1);
  const int n = static_cast<int>(y.size()), has = uy != nullptr ? 1 : 0;
  const double one = 1.0;
  fn(&n, y.data(), &has, uy != nullptr ? uy->data() : &one, group.data(), &ngroup,
     c.mean.data(), c.umean.data(), c.count.data(), c.sd.data(), &c.istat);
  return c;
}

TEST(LabWorkflow, ReplicatesAgainstPlainSums) {
  ASSERT_TRUE(lab().loaded());
  // Three samples, readings interleaved as an instrument's sequence has them.
  const std::vector<double> y = {76.64, 10.0, 78.65, 5.5, 77.10, 10.0};
  const std::vector<int> g = {1, 2, 1, 3, 1, 2};
  const std::vector<double> uy = {0.3, 0.1, 0.4, 0.2, 0.5, 0.1};
  const Combined c = combine(y, g, 3, &uy);
  ASSERT_EQ(c.istat, 0);
  const double m1 = (76.64 + 78.65 + 77.10) / 3.0;
  const double ss = (76.64 - m1) * (76.64 - m1) + (78.65 - m1) * (78.65 - m1) +
                    (77.10 - m1) * (77.10 - m1);
  EXPECT_NEAR(c.mean[0], m1, 1e-13);
  EXPECT_NEAR(c.sd[0], std::sqrt(ss / 2.0), 1e-13);
  EXPECT_EQ(c.count[0], 3);
  EXPECT_NEAR(c.umean[0], std::sqrt(0.09 + 0.16 + 0.25) / 3.0, 1e-15);
  EXPECT_EQ(c.mean[1], 10.0);  // identical readings: mean exact, no scatter
  EXPECT_EQ(c.sd[1], 0.0);
  EXPECT_EQ(c.count[2], 1);
  EXPECT_TRUE(std::isnan(c.sd[2]));  // one reading has no scatter
  EXPECT_NEAR(c.umean[2], 0.2, 1e-16);
  // Without stated u(y) the mean's comes from the calibration: NaN here.
  EXPECT_TRUE(std::isnan(combine(y, g, 3).umean[0]));
}

TEST(LabWorkflow, ReplicatesStatusesLeaveOutputs) {
  struct Case {
    std::vector<double> y;
    std::vector<int> g;
    int ngroup, status;
  };
  const Case cases[] = {
      {{1, 2}, {1, 3}, 2, QVXL_WF_BAD_GROUP},      // a group out of range
      {{1, 2}, {1, 1}, 2, QVXL_WF_BAD_GROUP},      // sample 2 has no reading
      {{1, 2}, {0, 1}, 1, QVXL_WF_BAD_GROUP},      // 0 is not a sample
      {{1, kNaN}, {1, 1}, 1, QVXL_BAD_VALUE},      // a NaN reading
      {{1, 2}, {1, 1}, 0, QVXL_BAD_COUNT},         // no samples
  };
  for (const Case& k : cases) {
    const Combined c = combine(k.y, k.g, std::max(k.ngroup, 0));
    EXPECT_EQ(c.istat, k.status);
    for (double v : c.mean) EXPECT_EQ(v, -1.0);  // left as they were
  }
}

struct Check {
  std::vector<double> stat, p;
  std::vector<int> flags;
  int istat = -1;
};

Check check(int mode, std::vector<int> count, std::vector<double> mean, std::vector<double> sd,
            std::vector<double> x, int covkind, int ndof, double sres, int weighting,
            double sigma, double alpha, double limit, double reads = 1.0) {
  auto* fn = LAB_FN(lab(), QVXL_REPLICATE_CHECK);
  Check c;
  const int n = static_cast<int>(count.size());
  c.stat.assign(count.size(), -1.0);
  c.p = c.stat;
  c.flags.assign(count.size(), QVXL_FLAG_BELOW_LOQ);  // bits already set stay
  fn(&n, count.data(), mean.data(), sd.data(), x.data(), &mode, &covkind, &ndof, &sres,
     &weighting, &reads, &sigma, &alpha, &limit, c.stat.data(), c.p.data(), c.flags.data(), &c.istat);
  return c;
}

TEST(LabWorkflow, ReplicateCheckAgainstScipy) {
  // The fit's scatter: two readings with s = 3 against SRES 1 and 13 dof:
  // F = 9, p = scipy.stats.f.sf(9, 1, 13).
  Check c = check(1, {2, 2, 1}, {100, 100, 100}, {3.0, 0.5, kNaN}, {1, 1, 1}, 1, 13, 1.0, 0,
                  0.0, 0.05, 0.0);
  ASSERT_EQ(c.istat, 0);
  EXPECT_DOUBLE_EQ(c.stat[0], 9.0);
  EXPECT_NEAR(c.p[0], 0.01023889771388247, 1e-14);
  EXPECT_EQ(c.flags[0], QVXL_FLAG_BELOW_LOQ | QVXL_FLAG_REPLICATES_DISAGREE);
  EXPECT_EQ(c.flags[1], QVXL_FLAG_BELOW_LOQ);  // agrees
  EXPECT_TRUE(std::isnan(c.p[2]));              // one reading: not tested
  EXPECT_EQ(c.flags[2], QVXL_FLAG_BELOW_LOQ);
  // At alpha 0.01 the same readings pass.
  c = check(1, {2}, {100}, {3.0}, {1}, 1, 13, 1.0, 0, 0.0, 0.01, 0.0);
  EXPECT_EQ(c.flags[0], QVXL_FLAG_BELOW_LOQ);
  // Under 1/x2 the scatter at x = 0.5 is SRES 0.5: F = (2.5 / 0.4)^2 on (2, 6).
  c = check(1, {3}, {7}, {2.5}, {0.5}, 1, 6, 0.8, 2, 0.0, 0.05, 0.0);
  EXPECT_NEAR(c.stat[0], 39.0625, 1e-12);
  EXPECT_NEAR(c.p[0], 0.00036280939065996837, 1e-15);
  // Readings that are means of 4 measurements scatter by SRES / 2: the same
  // statistic as readings of s = 1.5 against SRES 1 (F = 9).
  c = check(1, {2}, {100}, {1.5}, {1}, 1, 13, 1.0, 0, 0.0, 0.05, 0.0, 4.0);
  EXPECT_DOUBLE_EQ(c.stat[0], 9.0);
  EXPECT_NEAR(c.p[0], 0.01023889771388247, 1e-14);
  EXPECT_EQ(check(1, {2}, {1}, {1}, {1}, 1, 13, 1.0, 0, 0, 0.05, 0, 0.5).istat, QVXL_BAD_VALUE);
  // A stated scatter: chi2 = 2 (1.5 / 1)^2 on 2 dof.
  c = check(2, {3}, {7}, {1.5}, {kNaN}, 0, 0, 0.0, 0, 1.0, 0.05, 0.0);
  EXPECT_NEAR(c.stat[0], 4.5, 1e-14);
  EXPECT_NEAR(c.p[0], 0.10539922456186433, 1e-15);
  EXPECT_EQ(c.flags[0], QVXL_FLAG_BELOW_LOQ);
  // The laboratory's RSD limit: 100 s / |mean|.
  c = check(3, {2, 2}, {77.645, -50}, {1.4213, 0.5}, {kNaN, kNaN}, 0, 0, 0.0, 0, 0.0, 0.0, 1.5);
  EXPECT_NEAR(c.stat[0], 100 * 1.4213 / 77.645, 1e-13);
  EXPECT_TRUE(std::isnan(c.p[0]));
  EXPECT_EQ(c.flags[0], QVXL_FLAG_BELOW_LOQ | QVXL_FLAG_REPLICATES_DISAGREE);
  EXPECT_NEAR(c.stat[1], 1.0, 1e-15);  // |mean|
  EXPECT_EQ(c.flags[1], QVXL_FLAG_BELOW_LOQ);
}

TEST(LabWorkflow, ReplicateCheckStatuses) {
  struct Case {
    int mode, covkind, ndof, weighting;
    double sigma, alpha, limit;
    int count, status;
  };
  const Case cases[] = {
      {1, 0, 5, 0, 0, 0.05, 0, 2, QVXL_WF_NO_SCATTER},  // stated covariance
      {1, 1, 0, 0, 0, 0.05, 0, 2, QVXL_WF_NO_SCATTER},  // no degrees of freedom
      {4, 1, 5, 0, 0, 0.05, 0, 2, QVXL_BAD_CODE},
      {1, 1, 5, 3, 0, 0.05, 0, 2, QVXL_BAD_CODE},
      {1, 1, 5, 0, 0, 1.0, 0, 2, QVXL_BAD_VALUE},
      {2, 0, 0, 0, 0.0, 0.05, 0, 2, QVXL_BAD_VALUE},    // no scatter stated
      {3, 0, 0, 0, 0.0, 0.05, -1, 2, QVXL_BAD_VALUE},   // no limit
      {1, 1, 5, 0, 0, 0.05, 0, 0, QVXL_BAD_COUNT},
  };
  for (const Case& k : cases) {
    const Check c = check(k.mode, {k.count}, {1.0}, {0.1}, {1.0}, k.covkind, k.ndof, 1.0,
                          k.weighting, k.sigma, k.alpha, k.limit);
    EXPECT_EQ(c.istat, k.status) << k.mode;
    EXPECT_EQ(c.stat[0], -1.0);
    EXPECT_EQ(c.flags[0], QVXL_FLAG_BELOW_LOQ);
  }
}

struct Choice {
  int haslim = -1, istat = -1;
  double limits[2] = {-1, -1}, range[2] = {-1, -1};
};

Choice choose(const double* lim, double blank, int loddef, int loqdef, double lo, double hi) {
  auto* fn = LAB_FN(lab(), QVXL_LIMIT_CHOICE);
  Choice c;
  const double xstd[2] = {lo, hi};
  fn(lim, &blank, &loddef, &loqdef, xstd, &c.haslim, c.limits, c.range, &c.istat);
  return c;
}

TEST(LabWorkflow, LimitChoiceTakesEachDefinition) {
  // LIM(3) ICH LOD, LIM(4) ICH LOQ, LIM(8) x_C, LIM(9) x_D, LIM(12) DIN LOQ;
  // distinct values so that a wrong pick shows.
  double lim[12] = {0, 0, 0.30, 0.90, 0, 0, 0, 0.11, 0.22, 0, 0, 1.25};
  struct Case {
    int loddef, loqdef;
    double lod, loq;
  };
  const Case cases[] = {
      {0, 0, 0.22, 1.25},                            // defaults: x_D, the larger
      {QVXL_LOD_ISO_XC, QVXL_LOQ_ICH, 0.11, 0.90},
      {QVXL_LOD_ISO_XD, QVXL_LOQ_DIN, 0.22, 1.25},
      {QVXL_LOD_ICH, QVXL_LOQ_LARGER, 0.30, 1.25},
  };
  for (const Case& k : cases) {
    const Choice c = choose(lim, 0.5, k.loddef, k.loqdef, 1.0, 20.0);
    ASSERT_EQ(c.istat, 0);
    EXPECT_EQ(c.haslim, 3);
    EXPECT_DOUBLE_EQ(c.limits[0], 0.5 + k.lod);  // net of the blank at 0.5
    EXPECT_DOUBLE_EQ(c.limits[1], 0.5 + k.loq);
    // The range starts at the larger of the LOQ and the lowest standard.
    EXPECT_DOUBLE_EQ(c.range[0], std::max(0.5 + k.loq, 1.0));
    EXPECT_EQ(c.range[1], 20.0);
  }
  // The defaults are those of QVXL_SAMPLE_LIMITS.
  int haslim = 0, st = -1;
  double old[2];
  const double blank = 0.5;
  LAB_FN(lab(), QVXL_SAMPLE_LIMITS)(&blank, &lim[8], &lim[3], &lim[11], &haslim, old, &st);
  const Choice d = choose(lim, 0.5, 0, 0, 1.0, 20.0);
  EXPECT_EQ(old[0], d.limits[0]);
  EXPECT_EQ(old[1], d.limits[1]);
  // A limit not known: no bit, the range from the lowest standard.
  lim[3] = lim[11] = kNaN;
  const Choice none = choose(lim, 0.0, 0, QVXL_LOQ_ICH, 2.0, 9.0);
  EXPECT_EQ(none.haslim, 1);
  EXPECT_EQ(none.range[0], 2.0);
  // Statuses; outputs left as they were.
  for (const Choice& c : {choose(lim, 0, 4, 0, 1, 2), choose(lim, 0, 0, 3, 1, 2),
                          choose(lim, kNaN, 0, 0, 1, 2), choose(lim, 0, 0, 0, 3, 2)}) {
    EXPECT_NE(c.istat, 0);
    EXPECT_EQ(c.haslim, -1);
    EXPECT_EQ(c.range[0], -1);
  }
  EXPECT_EQ(choose(lim, 0, 0, 0, 3, 2).istat, QVXL_WF_BAD_RANGE);
  EXPECT_EQ(choose(lim, 0, 4, 0, 1, 2).istat, QVXL_BAD_CODE);
}

struct Reported {
  std::vector<double> value, u, dof, k, U;
  std::vector<int> censor, flags;
  int istat = -1;
};

Reported report(const std::vector<double>& x, const std::vector<double>& ux,
                const std::vector<double>& dof, int overall, double lo, double hi, int haslim,
                double lod, double loq, int rule, const std::vector<double>* f,
                const std::vector<double>* uf, std::vector<int> flags) {
  auto* fn = LAB_FN(lab(), QVXL_REPORTED);
  Reported r;
  const int n = static_cast<int>(x.size());
  r.value.assign(x.size(), -1.0);
  r.u = r.dof = r.k = r.U = r.value;
  r.censor.assign(x.size(), -1);
  r.flags = flags;
  const double level = 0.95, range[2] = {lo, hi}, limits[2] = {lod, loq}, one = 1.0;
  const int hasf = (f != nullptr ? 1 : 0) | (uf != nullptr ? 2 : 0);
  fn(&n, x.data(), ux.data(), dof.data(), &level, &overall, range, &haslim, limits, &rule,
     &hasf, f != nullptr ? f->data() : &one, uf != nullptr ? uf->data() : &one, r.value.data(),
     r.u.data(), r.dof.data(), r.k.data(), r.U.data(), r.censor.data(), r.flags.data(),
     &r.istat);
  return r;
}

TEST(LabWorkflow, ReportedWithoutFactorIsReadingBackToTheBit) {
  // A straight line y = 1 + 2x on [0, 10] with a scaled covariance, 6 dof.
  auto* rb = LAB_FN(lab(), QVXL_READBACK);
  const int ncoef = 2, covkind = 1, ndof = 6, weighting = 0, stated = 0, haslim = 0, npts = 3;
  const int uymode = 1, ngrid = 100, extrap = 0;
  // Chebyshev form on [0, 10]: p = c0/2 + c1 t, t = (x - 5) / 5: c0 = 22, c1 = 10.
  const double coef[2] = {22.0, 10.0}, cov[4] = {0.04, 0.001, 0.001, 0.02};
  const double xmin = 0, xmax = 10, sres = 0.3, xstd[2] = {0, 10}, lims[2] = {0, 0};
  const double y[3] = {3.0, 11.0, 20.0}, repl[3] = {1, 2, 3}, level = 0.95, tol = 0;
  int nroot[3], uysrc[3], flags[3], st = -1;
  double roots[3], uroots[3], uy[3], uc[3], dof[3], k[3], U[3], low[3], high[3], xe[3], ue[3];
  rb(&ncoef, coef, cov, &xmin, &xmax, &covkind, &ndof, &sres, &weighting, &stated, xstd,
     &haslim, lims, &npts, y, &uymode, repl, repl, &level, &ngrid, &tol, &extrap, nroot, roots,
     uroots, uy, uysrc, uc, dof, k, U, low, high, xe, ue, flags, &st);
  ASSERT_EQ(st, 0);
  const std::vector<double> x(roots, roots + 3), ux(uroots, uroots + 3), d(dof, dof + 3);
  const std::vector<double> ones(3, 1.0), zeros(3, 0.0);
  for (int hasf = 0; hasf < 2; ++hasf) {
    const Reported r = report(x, ux, d, 1, 0.0, 10.0, 0, 0, 0, 0, hasf ? &ones : nullptr,
                              hasf ? &zeros : nullptr, {0, 0, 0});
    ASSERT_EQ(r.istat, 0);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(r.value[i], roots[i]);
      EXPECT_EQ(r.u[i], uroots[i]);
      EXPECT_EQ(r.dof[i], dof[i]);
      EXPECT_EQ(r.k[i], k[i]);
      EXPECT_EQ(r.U[i], U[i]);
      EXPECT_EQ(r.flags[i], 0);
    }
  }
}

TEST(LabWorkflow, ReportedFactorCombinesItsUncertainty) {
  const std::vector<double> f = {2.0, 10.0, 5.0}, uf = {0.01, 0.0, 0.02};
  const Reported r = report({3.0, 0.4, 1.0}, {0.05, 0.01, 0.0}, {5.0, kInf, 4.0}, 1, 0.0, 10.0,
                            0, 0, 0, 0, &f, &uf, {0, 0, 0});
  ASSERT_EQ(r.istat, 0);
  // GUM 5.1.2 and G.4.1: u = hypot(0.1, 0.03), nu = 5 (u / 0.1)^4, k the t
  // quantile at 0.975 with nu, solved to 30 digits with mpmath.
  EXPECT_DOUBLE_EQ(r.value[0], 6.0);
  EXPECT_NEAR(r.u[0], 0.1044030650891055, 1e-16);
  EXPECT_NEAR(r.dof[0], 5.9405, 1e-12);
  EXPECT_NEAR(r.k[0], 2.45286501149747955, 1e-13);
  EXPECT_NEAR(r.U[0], r.k[0] * r.u[0], 1e-15);
  // An exact factor scales u(x) and keeps its degrees of freedom.
  EXPECT_DOUBLE_EQ(r.value[1], 4.0);
  EXPECT_DOUBLE_EQ(r.u[1], 0.1);
  EXPECT_EQ(r.dof[1], kInf);
  EXPECT_NEAR(r.k[1], 1.959963984540054, 1e-14);
  // All of u from the factor (a curve-only reading with u(x) = 0): normal.
  EXPECT_DOUBLE_EQ(r.u[2], 0.02);
  EXPECT_EQ(r.dof[2], kInf);
}

TEST(LabWorkflow, ReportedFlagsAndTheLaboratorysRule) {
  // Range [1, 20] (say LOQ 1 above the lowest standard 0.5), LOD 0.3, LOQ 1.
  const std::vector<double> x = {0.1, 0.6, 5.0, kNaN, kNaN, -0.2};
  const std::vector<double> ux(6, 0.01), dof(6, 10.0);
  const std::vector<int> in = {0, 0, 0, QVXL_FLAG_NO_ROOT | QVXL_FLAG_BELOW_LOWEST,
                               QVXL_FLAG_NO_ROOT | QVXL_FLAG_ABOVE_HIGHEST,
                               QVXL_FLAG_NO_ROOT | QVXL_FLAG_BELOW_LOWEST};
  const int below = QVXL_FLAG_BELOW_RANGE;
  struct Case {
    int overall, rule;
    int censor[6];
  };
  const Case cases[] = {
      {1, 0, {0, 0, 0, 0, 0, 0}},
      {2, 1, {1, 1, 0, 1, 0, 1}},  // fit for use with warnings: no rejection flag
      {0, 2, {2, 1, 0, 1, 0, 2}},
  };
  const std::vector<double> f(6, 4.0);
  for (const Case& k : cases) {
    const Reported r = report(x, ux, dof, k.overall, 1.0, 20.0, 3, 0.3, 1.0, k.rule, &f,
                              nullptr, in);
    ASSERT_EQ(r.istat, 0);
    const int rej = k.overall == 0 ? QVXL_FLAG_CAL_REJECTED : 0;
    EXPECT_EQ(r.flags[0], rej | below);
    EXPECT_EQ(r.flags[1], rej | below);
    EXPECT_EQ(r.flags[2], rej);
    EXPECT_EQ(r.flags[3], rej | in[3] | below);
    EXPECT_EQ(r.flags[4], rej | in[4]);
    // A reading on the line extended is compared with the limits too.
    EXPECT_EQ(r.flags[5], rej | in[5] | below | QVXL_FLAG_BELOW_LOD);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(r.censor[i], k.censor[i]) << i;
      if (r.censor[i] == 1) {
        EXPECT_DOUBLE_EQ(r.value[i], 4.0);  // "< 1" times f
      } else if (r.censor[i] == 2) {
        EXPECT_DOUBLE_EQ(r.value[i], 1.2);  // "< LOD" times f
      }
      if (r.censor[i] != 0) {
        EXPECT_TRUE(std::isnan(r.U[i]));
      }
    }
    EXPECT_DOUBLE_EQ(r.value[2], 20.0);
    EXPECT_TRUE(std::isnan(r.value[4]));
  }
}

TEST(LabWorkflow, ReportedStatusesLeaveOutputs) {
  const std::vector<double> bad = {0.0}, neg = {-0.1}, one = {1.0};
  struct Case {
    int overall, rule;
    double lo;
    const std::vector<double>* f;
    const std::vector<double>* uf;
    int status;
  };
  const Case cases[] = {
      {1, 0, 0.0, &bad, nullptr, QVXL_WF_BAD_FACTOR},
      {1, 0, 0.0, &one, &neg, QVXL_WF_BAD_FACTOR},
      {1, 3, 0.0, nullptr, nullptr, QVXL_BAD_CODE},
      {3, 0, 0.0, nullptr, nullptr, QVXL_BAD_CODE},
      {1, 0, kNaN, nullptr, nullptr, QVXL_WF_BAD_RANGE},
  };
  for (const Case& k : cases) {
    const Reported r = report({2.0}, {0.1}, {5.0}, k.overall, k.lo, 10.0, 0, 0, 0, k.rule, k.f,
                              k.uf, {7});
    EXPECT_EQ(r.istat, k.status);
    EXPECT_EQ(r.value[0], -1.0);
    EXPECT_EQ(r.flags[0], 7);
  }
}

TEST(LabWorkflow, TextsOfTheNewCodes) {
  auto* fn = LAB_FN(lab(), QVXL_TEXT);
  char buf[200];
  const int len = sizeof buf;
  int needed = 0, st = -1;
  const struct {
    int kind, code;
    const char* text;
  } cases[] = {
      {2, QVXL_FLAG_CAL_REJECTED, "calibration not fit for use"},
      {2, QVXL_FLAG_REPLICATES_DISAGREE, "replicates disagree ({rep})"},
      {2, QVXL_FLAG_BELOW_RANGE, "below the reportable range ({range})"},
      {20, QVXL_LOD_ISO_XD, "ISO 11843-2 x_D"},
      {20, QVXL_LOQ_DIN, "DIN 32645 x_Q"},
  };
  for (const auto& c : cases) {
    fn(&c.kind, &c.code, buf, &len, &needed, &st);
    ASSERT_EQ(st, 0);
    EXPECT_STREQ(buf, c.text);
  }
  for (int code : {QVXL_WF_BAD_GROUP, QVXL_WF_NO_SCATTER, QVXL_WF_BAD_FACTOR,
                   QVXL_WF_BAD_RANGE}) {
    const int kind = 1;
    fn(&kind, &code, buf, &len, &needed, &st);
    EXPECT_EQ(st, 0);
    EXPECT_GT(needed, 10);
  }
}

}  // namespace
