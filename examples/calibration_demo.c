/*
 * calibration_demo -- a walk through the QUORVEXv1 library as a host program
 * sees it: every call goes through the exported C interface of quorvex.h.
 */
#include <math.h>
#include <stdio.h>

#include "calibration_data.h"
#include "quorvex.h"

static void rule(const char* title) {
  printf("\n== %s ==\n", title);
}

/* Evaluate a quadratic response curve given as scaled coefficients. */
static int demo_evaluate(void) {
  const int ncoef = 3;
  const double coef[3] = {2.4, 1.1, 0.05}; /* p = 1.2 + 1.1 t + 0.05 T2(t) */
  const double xmin = 0.0, xmax = 10.0;
  const int npts = 6;
  const double x[6] = {0.0, 2.0, 4.0, 6.0, 8.0, 10.0};
  double y[6];
  int istat;

  rule("Evaluate a calibration curve (POLYEVAL)");
  printf("curve: %d scaled coefficients on [%g, %g]\n", ncoef, xmin, xmax);
  POLYEVAL(&ncoef, coef, &npts, x, &xmin, &xmax, y, &istat);
  printf("ISTAT = %d\n", istat);
  if (istat != 0) return 1;
  printf("%10s %14s\n", "x", "p(x)");
  for (int i = 0; i < npts; ++i) printf("%10.3f %14.8f\n", x[i], y[i]);

  /* A point outside the interval is refused with its status. */
  {
    const int one = 1;
    const double bad = 12.0;
    double yb;
    POLYEVAL(&ncoef, coef, &one, &bad, &xmin, &xmax, &yb, &istat);
    printf("x = %g outside [%g, %g]: ISTAT = %d (point above the interval)\n", bad, xmin, xmax,
           istat);
  }
  return 0;
}

/* Convert a fitted straight line to slope and intercept with covariance. */
static int demo_linear(void) {
  const double coef[2] = {10.0, 4.0}; /* p = 5 + 4 t on [0, 10]: y = 0.8 x + 1 */
  const double cov[4] = {0.0004, 0.00001, 0.00001, 0.0001};
  const double xmin = 0.0, xmax = 10.0;
  double lcoef[2], lcov[4];
  int istat;

  rule("Straight line to slope and intercept (LINEAR_CONV)");
  LINEAR_CONV(coef, cov, &xmin, &xmax, lcoef, lcov, &istat);
  printf("ISTAT = %d\n", istat);
  if (istat != 0) return 1;
  printf("%-10s %14s %14s\n", "", "value", "std. unc.");
  printf("%-10s %14.8f %14.8f\n", "slope", lcoef[0], sqrt(lcov[0]));
  printf("%-10s %14.8f %14.8f\n", "intercept", lcoef[1], sqrt(lcov[3]));
  printf("covariance(slope, intercept) = %.6e\n", lcov[2]);
  return 0;
}

/* Fit a quadratic response curve to the standards by weighted least squares
 * (weight = 1 / u(y)), then read values off the fitted curve. */
static int demo_ols(void) {
  const int npts = STD_COUNT;
  const int ncoef = 3;
  const double xmin = 0.0, xmax = 10.0;
  double w[STD_COUNT], yfit[STD_COUNT], res[STD_COUNT], wres[STD_COUNT];
  double coef[3], cov[9], sres, wresmax;
  int istat;

  rule("Weighted least-squares fit of the standards (OLSPFIT)");
  for (int i = 0; i < npts; ++i) w[i] = 1.0 / std_uabs[i];
  OLSPFIT(&npts, std_conc, std_abs, w, &ncoef, &xmin, &xmax, coef, cov, &sres, yfit, res, wres,
          &wresmax, &istat);
  printf("%d standards, %d scaled coefficients on [%g, %g]: ISTAT = %d\n", npts, ncoef, xmin,
         xmax, istat);
  if (istat != 0) return 1;

  printf("%-8s %14s %14s\n", "", "COEF", "std. unc.");
  for (int k = 0; k < ncoef; ++k)
    printf("COEF(%d)  %14.8f %14.8f\n", k + 1, coef[k], sqrt(cov[k * ncoef + k]));

  printf("\n%8s %9s %9s %10s %11s %9s\n", "x", "y", "u(y)", "YFIT", "RES", "WRES");
  for (int i = 0; i < npts; ++i)
    printf("%8.2f %9.4f %9.4f %10.5f %11.6f %9.3f\n", std_conc[i], std_abs[i], std_uabs[i],
           yfit[i], res[i], wres[i]);
  printf("SRES = %.4f (about 1 when the stated uncertainties fit the scatter)\n", sres);
  printf("WRESMAX = %.4f\n", wresmax);

  /* The fitted curve between the standards. */
  {
    const int neval = 5;
    const double xe[5] = {0.5, 2.5, 5.0, 7.5, 9.5};
    double ye[5];
    POLYEVAL(&ncoef, coef, &neval, xe, &xmin, &xmax, ye, &istat);
    printf("\nPOLYEVAL on the fitted curve: ISTAT = %d\n", istat);
    if (istat != 0) return 1;
    printf("%10s %14s\n", "x", "p(x)");
    for (int i = 0; i < neval; ++i) printf("%10.2f %14.6f\n", xe[i], ye[i]);
  }
  return 0;
}

/* Inverse prediction: x with its standard uncertainty from measured
 * responses, on a quadratic curve (IPVAL) and on a straight line in closed
 * form (IPVAL_DEGREE1). */
static int demo_inverse(void) {
  /* A fitted quadratic on [0, 10] that rises and falls again, with the
   * covariance of its coefficients: p = 1.2 + 0.3 t - 0.6 T2(t). */
  const int ncoef = 3;
  const double coef[3] = {2.4, 0.3, -0.6};
  const double cov[9] = {4.0e-6, 1.0e-7, -2.0e-7,
                         1.0e-7, 2.5e-6, 1.0e-7,
                         -2.0e-7, 1.0e-7, 3.0e-6};
  const double xmin = 0.0, xmax = 10.0, tol = 1e-12;
  const int npts = 4, ngrid = 100;
  /* Measured responses, u(y) = 0.002 each: one crossing, two crossings
   * (both x are returned), and one above the curve's maximum (none). */
  const double y[4] = {0.6, 1.2, 1.5, 2.0};
  double covy[16] = {0};
  int nroot[4], istat, i, j;
  double xroot[2 * 4], uxroot[2 * 4];

  /* A straight line y = 0.8 x + 1 on [0, 10] with its covariance. */
  const double line[2] = {10.0, 4.0}, lcov[4] = {0.0004, 0.00001, 0.00001, 0.0001};
  double xpred[4], uxpred[4];

  for (i = 0; i < npts; ++i) covy[i * (npts + 1)] = 0.002 * 0.002;

  rule("Inverse prediction on a quadratic (IPVAL)");
  IPVAL(&ncoef, coef, cov, &npts, y, covy, &xmin, &xmax, &ngrid, &tol, nroot, xroot, uxroot,
        &istat);
  printf("ISTAT = %d\n", istat);
  if (istat != 0) return 1;
  for (i = 0; i < npts; ++i) {
    printf("y = %6.3f: %d root(s)", y[i], nroot[i]);
    for (j = 0; j < nroot[i]; ++j)
      printf("  x = %.6f +- %.6f", xroot[i * (ncoef - 1) + j], uxroot[i * (ncoef - 1) + j]);
    printf("\n");
  }

  rule("Inverse prediction on a straight line (IPVAL_DEGREE1)");
  IPVAL_DEGREE1(line, lcov, &npts, y, covy, &xmin, &xmax, xpred, uxpred, &istat);
  printf("ISTAT = %d\n", istat);
  if (istat != 0) return 1;
  for (i = 0; i < npts; ++i)
    printf("y = %6.3f:  x = %.6f +- %.6f%s\n", y[i], xpred[i], uxpred[i],
           xpred[i] < xmin || xpred[i] > xmax ? "  (outside the interval)" : "");
  return 0;
}

/* The whole workflow: the standards' concentrations are uncertain too, so
 * the curve is fitted by generalized least squares (GLSPFIT), shown beside
 * the ordinary fit that ignores the x uncertainty (OLSPFIT); then unknown
 * samples are read off both curves with their uncertainties (IPVAL). */
static int demo_gls(void) {
  enum { N = STD_COUNT, M = 3 };
  const int npts = N, ncoef = M;
  /* The interval reaches a little beyond the standards, so that the fit is
   * free to adjust the end standards' concentrations in either direction. */
  const double xmin = -0.5, xmax = 10.5;
  const double tol[2] = {1e-10, 1e-10}, sigma = 0.1;
  const int maxit = 50;
  double wx[N], wy[N];
  double ocoef[M], ocov[M * M], osres, oyfit[N], ores[N], owres[N], owresmax;
  double param[N + M], gcov[M * M], gsres, gyfit[N], gres[2 * N], gwres[2 * N], gwresmax;
  double r11[N], r12[N * M], r22[M * (M + 1) / 2], rinfo[4];
  int ostat, olstat, gstat[3];

  rule("Standards uncertain in x and y: GLSPFIT beside OLSPFIT");
  for (int i = 0; i < npts; ++i) {
    wx[i] = 1.0 / std_uconc[i];
    wy[i] = 1.0 / std_uabs[i];
  }
  OLSPFIT(&npts, std_conc, std_abs, wy, &ncoef, &xmin, &xmax, ocoef, ocov, &osres, oyfit, ores,
          owres, &owresmax, &ostat);
  GLSPFIT(&npts, std_conc, std_abs, wx, wy, &ncoef, &xmin, &xmax, tol, &maxit, &sigma, param,
          gcov, &gsres, gyfit, gres, gwres, &gwresmax, r11, r12, r22, rinfo, &olstat, gstat);
  printf("OLSPFIT: ISTAT = %d\n", ostat);
  printf("GLSPFIT: OLSTAT = %d, ISTAT = (%d, %d, %d)  [%d iterations, %d evaluations]\n", olstat,
         gstat[0], gstat[1], gstat[2], gstat[1], gstat[2]);
  if (ostat != 0 || olstat != 0 || gstat[0] < 0 || gstat[0] > 3) return 1;

  printf("\n%-8s %14s %12s %14s %12s\n", "", "OLS coef", "u", "GLS coef", "u");
  for (int k = 0; k < ncoef; ++k)
    printf("COEF(%d)  %14.8f %12.8f %14.8f %12.8f\n", k + 1, ocoef[k], sqrt(ocov[k + k * ncoef]),
           param[npts + k], sqrt(gcov[k + k * ncoef]));
  printf("SRES     %14.4f %12s %14.4f\n", osres, "", gsres);

  printf("\n%8s %8s %10s %10s %10s %10s\n", "x", "u(x)", "x adj.", "y", "GLS fit", "WRES x,y");
  for (int i = 0; i < npts; ++i)
    printf("%8.2f %8.3f %10.4f %10.4f %10.5f %5.2f,%5.2f\n", std_conc[i], std_uconc[i],
           std_conc[i] - param[i], std_abs[i], gyfit[i], gwres[2 * i], gwres[2 * i + 1]);

  /* Unknown samples through both curves. */
  {
    const int ns = SAMPLE_COUNT, ngrid = 100;
    const double ztol = 1e-12;
    double covy[SAMPLE_COUNT * SAMPLE_COUNT] = {0};
    double oxr[(M - 1) * SAMPLE_COUNT], oux[(M - 1) * SAMPLE_COUNT];
    double gxr[(M - 1) * SAMPLE_COUNT], gux[(M - 1) * SAMPLE_COUNT];
    int onr[SAMPLE_COUNT], gnr[SAMPLE_COUNT], s1, s2;
    for (int i = 0; i < ns; ++i) covy[i + i * ns] = sample_uabs[i] * sample_uabs[i];
    IPVAL(&ncoef, ocoef, ocov, &ns, sample_abs, covy, &xmin, &xmax, &ngrid, &ztol, onr, oxr, oux,
          &s1);
    IPVAL(&ncoef, param + npts, gcov, &ns, sample_abs, covy, &xmin, &xmax, &ngrid, &ztol, gnr, gxr,
          gux, &s2);
    printf("\nUnknown samples (IPVAL): ISTAT = %d (OLS curve), %d (GLS curve)\n", s1, s2);
    if (s1 != 0 || s2 != 0) return 1;
    printf("%10s %8s   %-22s %-22s\n", "y", "u(y)", "x from OLS curve", "x from GLS curve");
    for (int i = 0; i < ns; ++i) {
      char a[32] = "no root", b[32] = "no root";
      if (onr[i] > 0) snprintf(a, sizeof a, "%.4f +- %.4f", oxr[(M - 1) * i], oux[(M - 1) * i]);
      if (gnr[i] > 0) snprintf(b, sizeof b, "%.4f +- %.4f", gxr[(M - 1) * i], gux[(M - 1) * i]);
      printf("%10.4f %8.4f   %-22s %-22s\n", sample_abs[i], sample_uabs[i], a, b);
    }
    printf("(mg/L; the GLS uncertainties include the standards' own uncertainty)\n");
  }
  return 0;
}

int main(void) {
  int failures = 0;
  printf("QUORVEXv1 calibration walk-through\n");
  failures += demo_evaluate();
  failures += demo_linear();
  failures += demo_ols();
  failures += demo_inverse();
  failures += demo_gls();
  return failures == 0 ? 0 : 1;
}
