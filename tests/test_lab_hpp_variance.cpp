// The C++ layer's variance models (quorvex_lab.hpp): the fit against the
// pooled variance formed here, a reading whose u(y) is the model's at its x,
// and refusals as quorvex::Error.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <stdexcept>
#include <vector>

#include "quorvex_lab.hpp"

namespace {

using namespace quorvex::lab;

// Three readings at each of six levels, scatter growing with x above a floor.
const std::vector<double> kX = {0, 0, 0, 1, 1, 1, 2, 2, 2, 5, 5, 5, 10, 10, 10, 20, 20, 20};
const std::vector<double> kY = {0.0950,  0.0271,  -0.0157, 0.8855,  0.9015,  0.8783,
                                1.4862,  1.5517,  1.6893,  4.2171,  3.8829,  4.1585,
                                8.2807,  8.0536,  7.7739,  15.7919, 15.9041, 16.3285};

TEST(LabHeaderVariance, ConstantModelIsThePooledVariance) {
  const VarianceModel vm = fit_variance(kX, kY, QVXL_VAR_CONSTANT);
  // ISO 5725-2's pooled variance: the groups' sums of squares over N - groups.
  std::map<double, std::vector<double>> groups;
  for (std::size_t i = 0; i < kX.size(); ++i) groups[kX[i]].push_back(kY[i]);
  double ss = 0.0;
  for (const auto& [x, ys] : groups) {
    double mean = 0.0;
    for (double v : ys) mean += v / static_cast<double>(ys.size());
    for (double v : ys) ss += (v - mean) * (v - mean);
  }
  const int dof = static_cast<int>(kX.size() - groups.size());
  EXPECT_EQ(vm.model, QVXL_VAR_CONSTANT);
  EXPECT_EQ(vm.dof, dof);
  EXPECT_EQ(vm.groups, static_cast<int>(groups.size()));
  EXPECT_NEAR(vm.par[0] * vm.par[0], ss / dof, 1e-13 * ss / dof);
  EXPECT_TRUE(vm.has_floor());
  ASSERT_EQ(vm.sd.size(), kX.size());
  for (double s : vm.sd) EXPECT_DOUBLE_EQ(s, vm.par[0]);
  // Its estimate has the replicate degrees of freedom everywhere.
  const VarianceAt at = variance_at(vm, std::vector<double>{0.0, 50.0});
  EXPECT_NEAR(at.dof[0], dof, 1e-9);
  EXPECT_NEAR(at.dof[1], dof, 1e-9);
}

TEST(LabHeaderVariance, ReadingTakesTheModelsScatterAtItsX) {
  const VarianceModel vm = fit_variance(kX, kY, QVXL_VAR_FLOOR);
  ASSERT_EQ(vm.model, QVXL_VAR_FLOOR);
  FitOptions o;
  o.u_y = vm.sd;
  const Fit f = fit(kX, kY, 1, o);
  const std::vector<double> y = {0.5, 6.0, 15.0};
  const Reading r = read_back(f.curve, vm, y, {2.0, 1.0, 4.0});
  const std::vector<double> m = {2.0, 1.0, 4.0};
  for (std::size_t i = 0; i < y.size(); ++i) {
    ASSERT_EQ(r.nroot[i], 1);
    EXPECT_EQ(r.source[i], QVXL_UYSRC_MODEL);
    const VarianceAt at = variance_at(vm, std::vector<double>{r.x(i)});
    EXPECT_NEAR(r.u_y[i], at.sd[0] / std::sqrt(m[i]), 1e-14 * at.sd[0]);
    EXPECT_NEAR(r.U[i], r.k[i] * r.u_x(i), 1e-14 * r.U[i]);
    EXPECT_TRUE(r.low[i] < r.x(i) && r.x(i) < r.high[i]);
    // The model's parameters are estimated: k is Student's, above the normal factor.
    EXPECT_TRUE(std::isfinite(r.dof[i]));
    EXPECT_GT(r.k[i], 1.959964);
  }
  EXPECT_THROW(read_back(f.curve, vm, y, {1.0, 2.0}), std::invalid_argument);
}

TEST(LabHeaderVariance, RefusalsAndTheResidualsWithoutReplicates) {
  const std::vector<double> x = {1, 2, 3, 4, 5, 6, 7, 8}, y = {1.1, 2.0, 3.2, 3.9, 5.1, 6.2,
                                                                6.8, 8.1};
  try {
    fit_variance(x, y, QVXL_VAR_CONSTANT);
    ADD_FAILURE() << "no error";
  } catch (const quorvex::Error& e) {
    EXPECT_EQ(e.status(), QVXL_VAR_FEW_REPLICATES);
    EXPECT_STREQ(e.routine(), "QVXL_VARIANCE_FIT");
  }
  const VarianceModel rv = fit_variance_residuals(x, y, 1, QVXL_VAR_CONSTANT);
  EXPECT_EQ(rv.dof, 6);  // n - 2 for a line
  EXPECT_GT(rv.par[0], 0.0);
  VarianceModel bad = rv;
  bad.par[0] = -1.0;  // a negative a: refused
  try {
    variance_at(bad, x);
    ADD_FAILURE() << "no error";
  } catch (const quorvex::Error& e) {
    EXPECT_EQ(e.status(), QVXL_BAD_VALUE);
  }
}

}  // namespace
