/*
 * A C user of the installed library: evaluates a curve, fits a straight
 * line, inverts it, and checks the results against hand-computed values.
 *   consumer_c [VERSION]   exit 0 when every check passes
 */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <quorvex.h>
#include <quorvex_version.h>

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "consumer_c: FAILED: %s\n", what);
    ++failures;
  }
}

int main(int argc, char** argv) {
  /* p = 1 + T2(t) on [0, 2]: 2, 0, 2 at x = 0, 1, 2. */
  const int ncoef3 = 3, npts3 = 3;
  const double coef3[3] = {2.0, 0.0, 1.0}, x3[3] = {0.0, 1.0, 2.0}, xmin = 0.0, xmax = 2.0;
  double y3[3];
  int istat = -1;
  POLYEVAL(&ncoef3, coef3, &npts3, x3, &xmin, &xmax, y3, &istat);
  check(istat == QVX_OK && y3[0] == 2.0 && y3[1] == 0.0 && y3[2] == 2.0, "POLYEVAL");

  /* The line through (0, 1) and (2, 3): COEF = (4, 1), slope 1, intercept 1. */
  const int npts = 2, ncoef = 2;
  const double x[2] = {0.0, 2.0}, y[2] = {1.0, 3.0}, w[2] = {1.0, 1.0};
  double coef[2], cov[4], sres, yfit[2], res[2], wres[2], wresmax;
  OLSPFIT(&npts, x, y, w, &ncoef, &xmin, &xmax, coef, cov, &sres, yfit, res, wres, &wresmax,
          &istat);
  check(istat == QVX_OK && fabs(coef[0] - 4.0) < 1e-12 && fabs(coef[1] - 1.0) < 1e-12, "OLSPFIT");

  const int nresp = 1;
  const double resp[1] = {2.5}, covy[1] = {0.0};
  double xpred[1], uxpred[1];
  IPVAL_DEGREE1(coef, cov, &nresp, resp, covy, &xmin, &xmax, xpred, uxpred, &istat);
  check(istat == QVX_OK && fabs(xpred[0] - 1.5) < 1e-12, "IPVAL_DEGREE1");

  /* A status, not a crash, for an empty interval. */
  POLYEVAL(&ncoef3, coef3, &npts3, x3, &xmax, &xmin, y3, &istat);
  check(istat == QVX_EVAL_BAD_INTERVAL, "POLYEVAL status");

  if (argc > 1) check(strcmp(argv[1], QUORVEX_VERSION) == 0, "version");
  printf("consumer_c: quorvex %s, p(1) = %g, x(2.5) = %g: %s\n", QUORVEX_VERSION, y3[1],
         xpred[0], failures ? "FAILED" : "ok");
  return failures ? 1 : 0;
}
