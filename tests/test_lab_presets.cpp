// Acceptance-criteria presets and their extra rules, through the exported
// entry points as a host calls them: the relative standard error against a
// hand computation, the level count and the folding into the verdict by
// tables, statuses with their outputs left alone.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "quorvex_lab.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class Presets : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(QUORVEX_LAB_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    preset_ = reinterpret_cast<decltype(&QVXL_CRITERIA_PRESET)>(
        dlsym(handle_, "QVXL_CRITERIA_PRESET"));
    extra_ = reinterpret_cast<decltype(&QVXL_CRITERIA_EXTRA)>(
        dlsym(handle_, "QVXL_CRITERIA_EXTRA"));
    ASSERT_NE(preset_, nullptr);
    ASSERT_NE(extra_, nullptr);
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }

  struct Out {
    double statv[2] = {-1.0, -1.0};
    int result[2] = {-1, -1};
    int overall = -1;
    int istat = -1;
  };
  Out extra(int ncoef, const std::vector<double>& x, const std::vector<double>& xback,
            const std::vector<int>& pass, double levels, double rse, int warn, int overall) {
    Out o;
    const int n = static_cast<int>(x.size());
    const double rules[2] = {levels, rse};
    extra_(&ncoef, &n, x.data(), xback.data(), pass.data(), rules, &warn, &overall, o.statv,
           o.result, &o.overall, &o.istat);
    return o;
  }

  void* handle_ = nullptr;
  decltype(&QVXL_CRITERIA_PRESET) preset_ = nullptr;
  decltype(&QVXL_CRITERIA_EXTRA) extra_ = nullptr;
};

TEST_F(Presets, RelativeStandardErrorByHand) {
  // Errors 10 %, -5 %, 0, 5 % over four standards and a blank, a line:
  // 100 sqrt((0.01 + 0.0025 + 0.0025) / (4 - 2)) = 100 sqrt(0.0075).
  const std::vector<double> x = {0.0, 1.0, 2.0, 4.0, 8.0};
  const std::vector<double> xb = {0.3, 1.1, 1.9, 4.0, 8.4};
  const Out o = extra(2, x, xb, {1, 1, 1, 1, 1}, 0.0, 20.0, 0, 1);
  ASSERT_EQ(o.istat, QVXL_OK);
  EXPECT_NEAR(o.statv[1], 8.660254037844386, 1e-13);
  EXPECT_EQ(o.result[0], QVXL_RESULT_NOT_TESTED);
  EXPECT_EQ(o.result[1], QVXL_RESULT_PASS);
  EXPECT_EQ(o.overall, 1);
  // The same errors judged against 8 %: the run fails, or warns.
  EXPECT_EQ(extra(2, x, xb, {1, 1, 1, 1, 1}, 0.0, 8.0, 0, 1).overall, 0);
  const Out w = extra(2, x, xb, {1, 1, 1, 1, 1}, 0.0, 8.0, 2, 1);
  EXPECT_EQ(w.result[1], QVXL_RESULT_WARN);
  EXPECT_EQ(w.overall, 2);
  // A quadratic leaves one degree of freedom: 100 sqrt(0.015).
  EXPECT_NEAR(extra(3, x, xb, {1, 1, 1, 1, 1}, 0.0, 20.0, 0, 1).statv[1],
              12.247448713915890, 1e-13);
  // No more standards than coefficients: no RSE, and a rule that asks for one fails.
  const Out none = extra(4, x, xb, {1, 1, 1, 1, 1}, 0.0, 20.0, 0, 1);
  EXPECT_TRUE(std::isnan(none.statv[1]));
  EXPECT_EQ(none.result[1], QVXL_RESULT_FAIL);
  EXPECT_EQ(none.overall, 0);
}

TEST_F(Presets, LevelsCountDistinctNonBlankStandardsThatPassed) {
  struct Row {
    std::vector<double> x;
    std::vector<int> pass;
    int levels;
  };
  const Row rows[] = {
      {{0, 1, 1, 2, 2, 3}, {1, 1, 1, 1, 1, 1}, 3},  // replicates count once, blank not
      {{1, 1, 2, 3}, {0, 1, 0, 1}, 2},              // one replicate of level 1 suffices
      {{1, 2, 3}, {0, 0, 0}, 0},
      {{-2, -1, 1}, {1, 1, 1}, 3},                  // negative x are levels too
  };
  for (const Row& r : rows) {
    const Out o = extra(2, r.x, r.x, r.pass, 3.0, kNaN, 0, 1);
    ASSERT_EQ(o.istat, QVXL_OK);
    EXPECT_EQ(o.statv[0], r.levels);
    EXPECT_EQ(o.result[0], r.levels >= 3 ? QVXL_RESULT_PASS : QVXL_RESULT_FAIL);
    EXPECT_EQ(o.overall, r.levels >= 3 ? 1 : 0);
    EXPECT_EQ(o.result[1], QVXL_RESULT_NOT_TESTED);
  }
}

TEST_F(Presets, TheRulesFoldIntoTheVerdictByTable) {
  // overall in, levels rule passes?, warn mask -> overall out
  struct Row {
    int in;
    bool pass;
    int warn;
    int out;
  };
  const Row rows[] = {{1, true, 0, 1},  {2, true, 0, 2},  {0, true, 0, 0},
                      {1, false, 0, 0}, {1, false, 1, 2}, {2, false, 1, 2},
                      {0, false, 1, 0}, {1, false, 2, 0}};
  const std::vector<double> x = {1, 2, 3};
  for (const Row& r : rows) {
    const Out o = extra(2, x, x, {1, 1, 1}, r.pass ? 3.0 : 4.0, kNaN, r.warn, r.in);
    ASSERT_EQ(o.istat, QVXL_OK);
    EXPECT_EQ(o.overall, r.out) << r.in << " " << r.pass << " " << r.warn;
  }
}

TEST_F(Presets, EveryPresetIsAcceptedByTheVerdictsChecks) {
  for (int id = 0; id < 5; ++id) {
    double crit[10], extra_rules[2];
    int warn = -1, st = -1;
    preset_(&id, crit, &warn, extra_rules, &st);
    ASSERT_EQ(st, QVXL_OK);
    EXPECT_TRUE(crit[0] > 0 && crit[0] < 1);
    EXPECT_TRUE(crit[4] > 0 && crit[5] >= crit[4] && crit[6] >= 0 && crit[6] <= 1);
    EXPECT_TRUE(warn >= 0 && warn <= 15);
    // Its rules run on any standards.
    const std::vector<double> x = {1, 2, 3, 4, 5, 6, 7};
    const Out o = extra(2, x, x, std::vector<int>(7, 1), extra_rules[0], extra_rules[1],
                        0, 1);
    EXPECT_EQ(o.istat, QVXL_OK);
    EXPECT_EQ(o.overall, 1) << "preset " << id;  // exact read-back passes every rule
  }
  // The default stays the rule of the criteria's defaults: 15 %, 20 %, 75 %.
  int id = QVXL_PRESET_QUORVEX, warn = -1, st = -1;
  double crit[10], r[2];
  preset_(&id, crit, &warn, r, &st);
  EXPECT_EQ(crit[4], 15.0);
  EXPECT_EQ(crit[5], 20.0);
  EXPECT_EQ(crit[6], 0.75);
  EXPECT_EQ(warn, 0);
  EXPECT_EQ(r[0], 0.0);
  EXPECT_TRUE(std::isnan(r[1]));
  id = QVXL_PRESET_ICH_M10;
  preset_(&id, crit, &warn, r, &st);
  EXPECT_EQ(r[0], 6.0);
  EXPECT_EQ(warn, 7);
}

TEST_F(Presets, StatusesLeaveTheOutputsAlone) {
  for (int id : {-1, 5, 1 << 30}) {
    double crit[10] = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7}, r[2] = {7, 7};
    int warn = 7, st = -1;
    preset_(&id, crit, &warn, r, &st);
    EXPECT_EQ(st, QVXL_PRESET_UNKNOWN);
    EXPECT_EQ(crit[0], 7.0);
    EXPECT_EQ(warn, 7);
  }
  const std::vector<double> x = {1, 2, 3};
  struct Row {
    int ncoef;
    std::vector<double> x;
    double levels, rse;
    int warn, in, status;
  };
  const Row rows[] = {
      {0, x, 0, kNaN, 0, 1, QVXL_BAD_NCOEF},          {11, x, 0, kNaN, 0, 1, QVXL_BAD_NCOEF},
      {2, {}, 0, kNaN, 0, 1, QVXL_BAD_COUNT},         {2, x, 0, kNaN, 4, 1, QVXL_BAD_CODE},
      {2, x, 0, kNaN, 0, 3, QVXL_BAD_CODE},           {2, x, -1, kNaN, 0, 1, QVXL_PRESET_BAD_RULE},
      {2, x, 2.5, kNaN, 0, 1, QVXL_PRESET_BAD_RULE},  {2, x, kNaN, kNaN, 0, 1, QVXL_PRESET_BAD_RULE},
      {2, x, 0, 0.0, 0, 1, QVXL_PRESET_BAD_RULE},     {2, x, 0, -5, 0, 1, QVXL_PRESET_BAD_RULE},
      {2, {1, kNaN, 3}, 0, kNaN, 0, 1, QVXL_BAD_VALUE},
  };
  for (const Row& r : rows) {
    const std::vector<int> pass(r.x.size(), 1);
    const Out o = extra(r.ncoef, r.x, r.x, pass, r.levels, r.rse, r.warn, r.in);
    EXPECT_EQ(o.istat, r.status);
    EXPECT_EQ(o.overall, -1);
    EXPECT_EQ(o.statv[0], -1.0);
  }
  // Each status has its text.
  auto text = reinterpret_cast<decltype(&QVXL_TEXT)>(dlsym(handle_, "QVXL_TEXT"));
  ASSERT_NE(text, nullptr);
  for (int code : {QVXL_PRESET_UNKNOWN, QVXL_PRESET_BAD_RULE}) {
    char buf[256];
    int kind = 1, len = sizeof buf, needed = 0, st = -1;
    text(&kind, &code, buf, &len, &needed, &st);
    EXPECT_EQ(st, QVXL_OK);
    EXPECT_GT(needed, 10);
  }
}

}  // namespace
