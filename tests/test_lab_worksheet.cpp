// The worksheet helpers of the laboratory layer, through the shared
// library's exported names as a spreadsheet calls them: the default
// acceptance criteria, and the texts of the verdict's rows, results and
// overall verdicts, of the detection limits and of the blank's sources.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "quorvex_lab.h"
#include "verdicts/fit_record.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class Lab {
 public:
  Lab() : h_(dlopen(QUORVEX_LAB_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
  ~Lab() {
    if (h_ != nullptr) dlclose(h_);
  }
  template <class F>
  F* get(const char* name, F*) const {
    return reinterpret_cast<F*>(dlsym(h_, name));
  }
  bool loaded() const { return h_ != nullptr; }

 private:
  void* h_;
};
#define LAB_FN(lab, name) (lab).get(#name, &::name)

std::string text(const Lab& lab, int kind, int code, int* istat) {
  auto* fn = LAB_FN(lab, QVXL_TEXT);
  std::vector<char> buf(512, '\x7f');
  int room = 512, needed = -1;
  fn(&kind, &code, buf.data(), &room, &needed, istat);
  return *istat == 0 ? std::string(buf.data()) : std::string();
}

TEST(LabWorksheet, DefaultCriteriaAreTheLibrarysAndJudgeAsTheWrittenOnes) {
  Lab lab;
  ASSERT_TRUE(lab.loaded());
  auto* defaults = LAB_FN(lab, QVXL_DEFAULT_CRITERIA);
  auto* verdict = LAB_FN(lab, QVXL_VERDICT);
  ASSERT_NE(defaults, nullptr);
  double crit[10];
  int st = -1;
  defaults(crit, &st);
  ASSERT_EQ(st, 0);
  const quorvex::lab::Criteria c;
  const double want[10] = {c.alpha, c.alpha_goodness, c.alpha_lack_of_fit, c.alpha_outliers,
                           c.tolerance, c.tolerance_lowest, c.fraction, c.cook, c.threshold, 0.0};
  for (int k = 0; k < 10; ++k) {
    if (std::isnan(want[k])) {
      EXPECT_TRUE(std::isnan(crit[k])) << k;
    } else {
      EXPECT_EQ(crit[k], want[k]) << k;
    }
  }
  // The documented defaults, written out, give the same verdict on a
  // straight line through duplicates with a curved response (lack of fit
  // rejects it) and on the same line with its curvature removed.
  const double written[10] = {0.05, kNaN, kNaN, kNaN, 15.0, 20.0, 0.75, 1.0, kNaN, 0.0};
  for (double bend : {0.0, 0.02}) {
    std::vector<double> x = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5}, y(10), w(10, 1.0), wres(10);
    const double dev[10] = {0.01, -0.01, 0.012, -0.008, 0.009, -0.011, 0.01, -0.012, 0.011, -0.009};
    for (int i = 0; i < 10; ++i) y[i] = 1 + 2 * x[i] + bend * (x[i] - 3) * (x[i] - 3) + dev[i];
    // The least-squares line in Chebyshev form on [1, 5]: p = c0/2 + c1 t.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (int i = 0; i < 10; ++i) {
      sx += x[i], sy += y[i], sxx += x[i] * x[i], sxy += x[i] * y[i];
    }
    const double b = (10 * sxy - sx * sy) / (10 * sxx - sx * sx), a = (sy - b * sx) / 10;
    std::vector<double> coef = {2 * (a + 3 * b), 2 * b}, cov = {0.2, 0, 0, 0.1};
    double chi2 = 0;
    for (int i = 0; i < 10; ++i) {
      wres[i] = y[i] - a - b * x[i];
      chi2 += wres[i] * wres[i];
    }
    int nc = 2, kind = 0, covkind = 1, ndof = 8, stated = 0, n = 10, warn = 0;
    double xmin = 1, xmax = 5, sres = std::sqrt(chi2 / 8), one = 0;
    int results[2][4], overall[2], reasons[2];
    for (int pass = 0; pass < 2; ++pass) {
      int applies[4], detail[4];
      double statv[4], plim[4], alpha[4];
      verdict(&nc, coef.data(), cov.data(), &xmin, &xmax, &kind, &covkind, &ndof, &sres, &chi2,
              &stated, &n, x.data(), y.data(), w.data(), wres.data(), &one,
              pass == 0 ? crit : written, &warn, applies, statv, plim, alpha, results[pass], detail,
              &overall[pass], &reasons[pass], &st);
      ASSERT_EQ(st, 0);
    }
    for (int k = 0; k < 4; ++k) EXPECT_EQ(results[0][k], results[1][k]) << bend << " row " << k;
    EXPECT_EQ(overall[0], overall[1]);
    EXPECT_EQ(reasons[0], reasons[1]);
    EXPECT_EQ(overall[0] == 0, bend > 0) << "the curved response is rejected, the straight one not";
  }
}

TEST(LabWorksheet, EveryCodeAHostShowsHasATextAndNoOtherDoes) {
  Lab lab;
  ASSERT_TRUE(lab.loaded());
  struct Kind {
    int kind, first, last;
  };
  // Criterion rows 1..4, results 0..4, overall 0..2, LIM(1..12), sources 0..7,
  // sample flags 1..1024.
  for (Kind k : {Kind{4, 1, 4}, Kind{5, 0, 4}, Kind{6, 0, 2}, Kind{7, 1, 12}, Kind{8, 0, 7}}) {
    for (int code = k.first - 1; code <= k.last + 1; ++code) {
      int st = -1;
      std::string t = text(lab, k.kind, code, &st);
      const bool inside = code >= k.first && code <= k.last;
      EXPECT_EQ(st, inside ? 0 : QVXL_BAD_CODE) << k.kind << " " << code;
      if (inside) {
        EXPECT_FALSE(t.empty()) << k.kind << " " << code;
      }
    }
  }
  for (int bit = 1; bit <= QVXL_FLAG_NO_SCALE; bit <<= 1) {
    int st = -1;
    text(lab, 2, bit, &st);
    EXPECT_EQ(st, 0) << "flag " << bit;
  }
  int st = -1;
  EXPECT_EQ(text(lab, 6, 0, &st), "calibration not fit for use");
  EXPECT_EQ(text(lab, 5, QVXL_RESULT_FAIL, &st), "fail");
  // The limits are named by the standard that defines them.
  EXPECT_NE(text(lab, 7, 3, &st).find("ICH Q2"), std::string::npos);
  EXPECT_NE(text(lab, 7, 9, &st).find("ISO 11843-2"), std::string::npos);
  EXPECT_NE(text(lab, 7, 12, &st).find("DIN 32645"), std::string::npos);
}

}  // namespace
