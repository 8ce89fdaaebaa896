// Quantiles and tails through Boost.Math with a policy that reports every
// domain, pole, overflow and evaluation error by throwing: the exported shim
// turns that into a status.  Results are computed in double throughout
// (no promotion to long double), so that they are the same on every
// platform the library is built for, the 32-bit DLL included.
#include "stats/distributions.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "stats/boost_math_config.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/non_central_t.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <boost/math/policies/policy.hpp>

namespace quorvex::lab {

namespace {

namespace bp = boost::math::policies;
using Policy = bp::policy<bp::domain_error<bp::throw_on_error>, bp::pole_error<bp::throw_on_error>,
                          bp::overflow_error<bp::throw_on_error>,
                          bp::evaluation_error<bp::throw_on_error>,
                          bp::promote_float<false>, bp::promote_double<false>>;

using Normal = boost::math::normal_distribution<double, Policy>;
using StudentT = boost::math::students_t_distribution<double, Policy>;
using ChiSquared = boost::math::chi_squared_distribution<double, Policy>;
using FisherF = boost::math::fisher_f_distribution<double, Policy>;
using NoncentralT = boost::math::non_central_t_distribution<double, Policy>;

void need_dof(double nu) {
  if (!(nu > 0.0)) throw std::domain_error("degrees of freedom must be > 0");
}

// Applies f to the distribution d names.
template <class F>
double with(Dist d, double par1, double par2, F&& f) {
  switch (d) {
    case Dist::Normal:
      return f(Normal());
    case Dist::StudentT:
      need_dof(par1);
      if (std::isinf(par1)) return f(Normal());
      return f(StudentT(par1));
    case Dist::ChiSquared:
      need_dof(par1);
      return f(ChiSquared(par1));
    case Dist::F:
      need_dof(par1);
      need_dof(par2);
      return f(FisherF(par1, par2));
    case Dist::NoncentralT:
      need_dof(par1);
      if (!std::isfinite(par2)) throw std::domain_error("non-centrality must be finite");
      return f(NoncentralT(par1, par2));
  }
  throw std::domain_error("unknown distribution");
}

}  // namespace

double quantile(Dist d, double p, double par1, double par2) {
  if (!(p > 0.0 && p < 1.0)) throw std::domain_error("probability must lie in (0, 1)");
  return with(d, par1, par2, [p](const auto& dist) { return boost::math::quantile(dist, p); });
}

double upper_quantile(Dist d, double q, double par1, double par2) {
  if (!(q > 0.0 && q < 1.0)) throw std::domain_error("probability must lie in (0, 1)");
  return with(d, par1, par2, [q](const auto& dist) {
    return boost::math::quantile(boost::math::complement(dist, q));
  });
}

double upper_tail(Dist d, double x, double par1, double par2) {
  if (std::isnan(x)) throw std::domain_error("x is NaN");
  return with(d, par1, par2,
              [x](const auto& dist) { return boost::math::cdf(boost::math::complement(dist, x)); });
}

double lower_tail(Dist d, double x, double par1, double par2) {
  if (std::isnan(x)) throw std::domain_error("x is NaN");
  return with(d, par1, par2, [x](const auto& dist) { return boost::math::cdf(dist, x); });
}

double coverage_factor(double level, double nu) {
  if (std::isnan(nu)) return std::numeric_limits<double>::quiet_NaN();
  return quantile(Dist::StudentT, (1.0 + level) / 2.0, nu);
}

}  // namespace quorvex::lab
