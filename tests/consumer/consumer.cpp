// A C++ user of the installed library through quorvex.hpp: fits standards,
// reads samples off the curve, and checks the results and an error.
//   consumer_cxx [VERSION]   exit 0 when every check passes
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <quorvex.hpp>
#include <quorvex_lab.hpp>

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "consumer_cxx: FAILED: %s\n", what);
    ++failures;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Standards on y = 0.1 + 0.5 x - 0.02 x^2, exactly.
  std::vector<double> x, y, w;
  for (int i = 0; i <= 10; ++i) {
    x.push_back(i);
    y.push_back(0.1 + 0.5 * i - 0.02 * i * i);
    w.push_back(100.0);
  }
  const quorvex::OlsFit fit = quorvex::ols_fit(x, y, w, 3, 0.0, 10.0);
  check(fit.curve.cov.rows() == 3 && fit.sres < 1e-9, "ols_fit");
  check(std::fabs(quorvex::evaluate(fit.curve, 4.0) - (0.1 + 2.0 - 0.32)) < 1e-12, "evaluate");

  const std::vector<double> samples = {1.78, 3.1}, var = {1e-4, 1e-4};
  const quorvex::InversePrediction inv = quorvex::inverse(fit.curve, samples, var);
  check(inv.size() == 2 && inv.roots(0).size() == 1 && std::fabs(inv.roots(0)[0] - 4.0) < 1e-9,
        "inverse");
  check(inv.uncertainties(0).size() == 1 && inv.uncertainties(0)[0] > 0.0, "uncertainty");

  int status = 0;
  try {
    quorvex::evaluate(fit.curve, 11.0);
  } catch (const quorvex::Error& e) {
    status = e.status();
    std::printf("consumer_cxx: expected error: %s\n", e.what());
  }
  check(status == QVX_EVAL_X_ABOVE, "error status");

  // The laboratory layer: the sample's u(y) from the fit's scatter, U with
  // its coverage factor, the inversion interval around x.
  quorvex::lab::FitFacts facts{quorvex::lab::Covariance::scaled, 8, 0.01};
  facts.lowest = 0.0;
  facts.highest = 10.0;
  const quorvex::lab::Reading r =
      quorvex::lab::read_back(fit.curve, facts, samples, quorvex::lab::from_scatter());
  check(r.x(0) == inv.roots(0)[0], "read_back x");
  check(r.U[0] > r.u_x(0) && r.low[0] < r.x(0) && r.x(0) < r.high[0], "read_back U, interval");

  if (argc > 1) check(quorvex::version == argv[1], "version");
  std::printf("consumer_cxx: quorvex %s, x(%g) = %g +- %g: %s\n", std::string(quorvex::version).c_str(),
              samples[0], inv.roots(0)[0], inv.uncertainties(0)[0], failures ? "FAILED" : "ok");
  return failures ? 1 : 0;
}
