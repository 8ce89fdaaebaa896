/*
 * glue.c -- the R package's bridge to the six entry points of libQUORVEXv1
 * and to the laboratory library libQUORVEXlab1 (quorvex_lab.h).
 *
 * Each function takes R vectors, checks their types and lengths (whatever
 * the R code already checked: a wrong call from R must raise an R error,
 * never write outside an array), calls the entry point and returns its
 * outputs with its status.  Statuses are turned into messages on the R side.
 */
#include <R.h>
#include <Rinternals.h>
#include <R_ext/Rdynload.h>
#include <limits.h>
#include <math.h>
#include <string.h>

#include <quorvex.h>
#include <quorvex_lab.h>

/* IPVAL and IPVAL_DEGREE1 take an NPTS x NPTS response covariance and read
   only its diagonal: responses are passed in chunks of at most CHUNK, so a
   chunk's matrix takes 2 MiB whatever the number of responses. */
#define CHUNK 512

static void need_real(SEXP a, const char *name)
{
  if (TYPEOF(a) != REALSXP)
    error("quorvex: %s must be a double vector", name);
}

static R_xlen_t real_len(SEXP a, const char *name)
{
  need_real(a, name);
  return XLENGTH(a);
}

static double real1(SEXP a, const char *name)
{
  if (real_len(a, name) != 1)
    error("quorvex: %s must be one number", name);
  return REAL(a)[0];
}

static int int1(SEXP a, const char *name)
{
  if (TYPEOF(a) != INTSXP || XLENGTH(a) != 1 || INTEGER(a)[0] == NA_INTEGER)
    error("quorvex: %s must be one integer", name);
  return INTEGER(a)[0];
}

/* The grid of the root scan: its cells cost memory in the library, so the glue takes
   no more than the R functions allow (inverse(ngrid = ) checks the same bound). */
#define QVX_MAX_NGRID 100000
static int ngrid1(SEXP a)
{
  int ng = int1(a, "ngrid");
  if (ng < 1 || ng > QVX_MAX_NGRID)
    error("quorvex: ngrid must lie between 1 and %d", QVX_MAX_NGRID);
  return ng;
}

static int count(R_xlen_t n, const char *name)
{
  if (n < 1 || n > INT_MAX)
    error("quorvex: %s must have between 1 and %d elements", name, INT_MAX);
  return (int)n;
}

static int ncoef_checked(SEXP a)
{
  int nc = int1(a, "ncoef");
  if (nc < 1 || nc > 10)
    error("quorvex: ncoef must lie in [1, 10]");
  return nc;
}

static SEXP named_list(int n, const char **names)
{
  SEXP out = PROTECT(allocVector(VECSXP, n));
  SEXP nm = PROTECT(allocVector(STRSXP, n));
  for (int i = 0; i < n; i++) SET_STRING_ELT(nm, i, mkChar(names[i]));
  setAttrib(out, R_NamesSymbol, nm);
  UNPROTECT(2);
  return out;
}

static SEXP matrix(int nrow, int ncol)
{
  SEXP m = allocMatrix(REALSXP, nrow, ncol);
  memset(REAL(m), 0, sizeof(double) * (size_t)nrow * (size_t)ncol);
  return m;
}

static SEXP vec(R_xlen_t n)
{
  SEXP v = allocVector(REALSXP, n);
  if (n > 0) memset(REAL(v), 0, sizeof(double) * (size_t)n);
  return v;
}

/* Coefficients and covariance of a curve: coef of ncoef (2..10 where an
   inverse is asked for, 1..10 otherwise) and cov of ncoef^2 elements. */
static int curve_checked(SEXP coef, SEXP cov, int min_nc)
{
  R_xlen_t nc = real_len(coef, "coef");
  if (nc < min_nc || nc > 10)
    error("quorvex: coef must have between %d and 10 elements", min_nc);
  if (cov != R_NilValue && real_len(cov, "cov") != nc * nc)
    error("quorvex: cov must have ncoef^2 elements");
  return (int)nc;
}

SEXP qvx_olspfit(SEXP x, SEXP y, SEXP w, SEXP ncoef, SEXP xmin, SEXP xmax)
{
  int n = count(real_len(x, "x"), "x");
  if (real_len(y, "y") != n || real_len(w, "w") != n)
    error("quorvex: x, y and w must have the same length");
  int nc = ncoef_checked(ncoef);
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  static const char *names[] = {"coef", "cov", "sres", "fitted", "residuals",
                                "weighted_residuals", "wresmax", "status"};
  SEXP out = PROTECT(named_list(8, names));
  SET_VECTOR_ELT(out, 0, vec(nc));
  SET_VECTOR_ELT(out, 1, matrix(nc, nc));
  SET_VECTOR_ELT(out, 2, vec(1));
  SET_VECTOR_ELT(out, 3, vec(n));
  SET_VECTOR_ELT(out, 4, vec(n));
  SET_VECTOR_ELT(out, 5, vec(n));
  SET_VECTOR_ELT(out, 6, vec(1));
  SET_VECTOR_ELT(out, 7, ScalarInteger(0));
  int istat = 0;
  OLSPFIT(&n, REAL(x), REAL(y), REAL(w), &nc, &lo, &hi, REAL(VECTOR_ELT(out, 0)),
          REAL(VECTOR_ELT(out, 1)), REAL(VECTOR_ELT(out, 2)), REAL(VECTOR_ELT(out, 3)),
          REAL(VECTOR_ELT(out, 4)), REAL(VECTOR_ELT(out, 5)), REAL(VECTOR_ELT(out, 6)),
          &istat);
  INTEGER(VECTOR_ELT(out, 7))[0] = istat;
  UNPROTECT(1);
  return out;
}

SEXP qvx_glspfit(SEXP x, SEXP y, SEXP wx, SEXP wy, SEXP ncoef, SEXP xmin, SEXP xmax,
                 SEXP tol, SEXP maxit, SEXP sigma)
{
  int n = count(real_len(x, "x"), "x");
  if (real_len(y, "y") != n || real_len(wx, "wx") != n || real_len(wy, "wy") != n)
    error("quorvex: x, y, wx and wy must have the same length");
  int nc = ncoef_checked(ncoef);
  if (n > (INT_MAX - 20) / 12)
    error("quorvex: too many points for the errors-in-variables fit");
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax"), sg = real1(sigma, "sigma");
  if (real_len(tol, "tol") != 2)
    error("quorvex: tol must have 2 elements");
  int mi = int1(maxit, "maxit");
  static const char *names[] = {"param", "cov", "sres", "yfit", "res", "wres", "wresmax",
                                "rinfo", "olstat", "istat"};
  SEXP out = PROTECT(named_list(10, names));
  SET_VECTOR_ELT(out, 0, vec((R_xlen_t)n + nc));
  SET_VECTOR_ELT(out, 1, matrix(nc, nc));
  SET_VECTOR_ELT(out, 2, vec(1));
  SET_VECTOR_ELT(out, 3, vec(n));
  SET_VECTOR_ELT(out, 4, vec(2 * (R_xlen_t)n));
  SET_VECTOR_ELT(out, 5, vec(2 * (R_xlen_t)n));
  SET_VECTOR_ELT(out, 6, vec(1));
  SET_VECTOR_ELT(out, 7, vec(4));
  SET_VECTOR_ELT(out, 8, ScalarInteger(0));
  SET_VECTOR_ELT(out, 9, allocVector(INTSXP, 3));
  int *istat = INTEGER(VECTOR_ELT(out, 9));
  istat[0] = istat[1] = istat[2] = 0;
  /* The block factor is not returned: scratch space of its own. */
  double *r11 = (double *)R_alloc((size_t)n, sizeof(double));
  double *r12 = (double *)R_alloc((size_t)n * (size_t)nc, sizeof(double));
  double *r22 = (double *)R_alloc((size_t)(nc * (nc + 1) / 2), sizeof(double));
  int olstat = 0;
  GLSPFIT(&n, REAL(x), REAL(y), REAL(wx), REAL(wy), &nc, &lo, &hi, REAL(tol), &mi, &sg,
          REAL(VECTOR_ELT(out, 0)), REAL(VECTOR_ELT(out, 1)), REAL(VECTOR_ELT(out, 2)),
          REAL(VECTOR_ELT(out, 3)), REAL(VECTOR_ELT(out, 4)), REAL(VECTOR_ELT(out, 5)),
          REAL(VECTOR_ELT(out, 6)), r11, r12, r22, REAL(VECTOR_ELT(out, 7)), &olstat, istat);
  INTEGER(VECTOR_ELT(out, 8))[0] = olstat;
  UNPROTECT(1);
  return out;
}

SEXP qvx_polyeval(SEXP coef, SEXP x, SEXP xmin, SEXP xmax)
{
  int nc = curve_checked(coef, R_NilValue, 1);
  int n = count(real_len(x, "x"), "x");
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  static const char *names[] = {"y", "status"};
  SEXP out = PROTECT(named_list(2, names));
  SET_VECTOR_ELT(out, 0, vec(n));
  int istat = 0;
  POLYEVAL(&nc, REAL(coef), &n, REAL(x), &lo, &hi, REAL(VECTOR_ELT(out, 0)), &istat);
  SET_VECTOR_ELT(out, 1, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

SEXP qvx_linear_conv(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax)
{
  if (curve_checked(coef, cov, 2) != 2)
    error("quorvex: LINEAR_CONV needs a straight line (2 coefficients)");
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  static const char *names[] = {"lcoef", "lcov", "status"};
  SEXP out = PROTECT(named_list(3, names));
  SET_VECTOR_ELT(out, 0, vec(2));
  SET_VECTOR_ELT(out, 1, matrix(2, 2));
  int istat = 0;
  LINEAR_CONV(REAL(coef), REAL(cov), &lo, &hi, REAL(VECTOR_ELT(out, 0)),
              REAL(VECTOR_ELT(out, 1)), &istat);
  SET_VECTOR_ELT(out, 2, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* A zeroed CHUNK x CHUNK-sized response covariance (only its diagonal is set). */
static double *chunk_covy(void)
{
  double *c = (double *)R_alloc((size_t)CHUNK * CHUNK, sizeof(double));
  memset(c, 0, sizeof(double) * (size_t)CHUNK * CHUNK);
  return c;
}

static void set_diag(double *covy, int m, const double *uy)
{
  for (int i = 0; i < m; i++) covy[(size_t)i * (m + 1)] = uy[i] * uy[i];
}

static void clear_diag(double *covy, int m)
{
  for (int i = 0; i < m; i++) covy[(size_t)i * (m + 1)] = 0.0;
}

SEXP qvx_ipval(SEXP coef, SEXP cov, SEXP y, SEXP uy, SEXP xmin, SEXP xmax, SEXP ngrid,
               SEXP tol)
{
  int nc = curve_checked(coef, cov, 2), nr = nc - 1;
  int n = count(real_len(y, "y"), "y");
  if (real_len(uy, "u_y") != n)
    error("quorvex: y and u_y must have the same length");
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax"), tl = real1(tol, "tol");
  int ng = ngrid1(ngrid);
  static const char *names[] = {"n_roots", "roots", "u_roots", "status"};
  SEXP out = PROTECT(named_list(4, names));
  SET_VECTOR_ELT(out, 0, allocVector(INTSXP, n));
  SET_VECTOR_ELT(out, 1, matrix(nr, n));
  SET_VECTOR_ELT(out, 2, matrix(nr, n));
  int *nroot = INTEGER(VECTOR_ELT(out, 0));
  double *roots = REAL(VECTOR_ELT(out, 1)), *uroots = REAL(VECTOR_ELT(out, 2));
  memset(nroot, 0, sizeof(int) * (size_t)n);
  double *covy = chunk_covy();
  int istat = 0;
  for (int start = 0; start < n && istat == 0; start += CHUNK) {
    int m = n - start < CHUNK ? n - start : CHUNK;
    set_diag(covy, m, REAL(uy) + start);
    IPVAL(&nc, REAL(coef), REAL(cov), &m, REAL(y) + start, covy, &lo, &hi, &ng, &tl,
          nroot + start, roots + (size_t)start * nr, uroots + (size_t)start * nr, &istat);
    clear_diag(covy, m);
  }
  /* Places beyond the roots found hold NA. */
  for (int i = 0; i < n; i++)
    for (int j = nroot[i] < 0 ? 0 : nroot[i]; j < nr; j++) {
      roots[(size_t)i * nr + j] = NA_REAL;
      uroots[(size_t)i * nr + j] = NA_REAL;
    }
  SET_VECTOR_ELT(out, 3, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

SEXP qvx_ipval_degree1(SEXP coef, SEXP cov, SEXP y, SEXP uy, SEXP xmin, SEXP xmax)
{
  if (curve_checked(coef, cov, 2) != 2)
    error("quorvex: IPVAL_DEGREE1 needs a straight line (2 coefficients)");
  int n = count(real_len(y, "y"), "y");
  if (real_len(uy, "u_y") != n)
    error("quorvex: y and u_y must have the same length");
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  static const char *names[] = {"x", "u_x", "status"};
  SEXP out = PROTECT(named_list(3, names));
  SET_VECTOR_ELT(out, 0, vec(n));
  SET_VECTOR_ELT(out, 1, vec(n));
  double *covy = chunk_covy();
  int istat = 0;
  for (int start = 0; start < n && istat == 0; start += CHUNK) {
    int m = n - start < CHUNK ? n - start : CHUNK;
    set_diag(covy, m, REAL(uy) + start);
    IPVAL_DEGREE1(REAL(coef), REAL(cov), &m, REAL(y) + start, covy, &lo, &hi,
                  REAL(VECTOR_ELT(out, 0)) + start, REAL(VECTOR_ELT(out, 1)) + start, &istat);
    clear_diag(covy, m);
  }
  SET_VECTOR_ELT(out, 2, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* ---- The laboratory library ------------------------------------------- */

static int int_flag(SEXP a, const char *name)
{
  if (TYPEOF(a) != LGLSXP || XLENGTH(a) != 1 || LOGICAL(a)[0] == NA_LOGICAL)
    error("quorvex: %s must be TRUE or FALSE", name);
  return LOGICAL(a)[0] ? 1 : 0;
}

/* A double vector of exactly n elements. */
static double *reals_n(SEXP a, R_xlen_t n, const char *name)
{
  if (real_len(a, name) != n)
    error("quorvex: %s must have %lld element(s)", name, (long long)n);
  return REAL(a);
}

/* The u(y) arguments of QVXL_READBACK and QVXL_MONTECARLO: u_y one per
   response in mode 0 (stated) and in mode 1 for standards with stated u(y)
   (each sample's relative u(y)), the replicates one per response in mode 1
   (from the scatter); otherwise each at least one element, which is not read. */
static void response_uncertainty_args(int um, int stated, SEXP uy, SEXP repl, int n)
{
  if (um == 0 || (um == 1 && stated)) reals_n(uy, n, "u_y");
  else if (real_len(uy, "u_y") < 1) error("quorvex: u_y must have at least 1 element");
  if (um == 1) reals_n(repl, n, "replicates");
  else if (real_len(repl, "replicates") < 1)
    error("quorvex: replicates must have at least 1 element");
}

/* QVXL_READBACK on one curve and responses y.  uy is read (one value per
   response) for uymode 0, repl for uymode 1; in the other modes each may be
   any double vector of at least one element.  Returns every output with the
   status; roots and u_roots have one column per response. */
SEXP qvx_readback(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax, SEXP covkind, SEXP ndof,
                  SEXP sres, SEXP weighting, SEXP stated, SEXP xstd, SEXP haslim,
                  SEXP limits, SEXP y, SEXP uymode, SEXP uy, SEXP repl, SEXP level,
                  SEXP ngrid, SEXP tol, SEXP extrap)
{
  int nc = curve_checked(coef, cov, 2), nr = nc - 1;
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  int ck = int1(covkind, "covkind"), nd = int1(ndof, "ndof");
  double sr = real1(sres, "sres");
  int wt = int1(weighting, "weighting"), st = int_flag(stated, "stated");
  const double *xs = reals_n(xstd, 2, "xstd");
  int hl = int1(haslim, "haslim");
  const double *lim = reals_n(limits, 2, "limits");
  int n = count(real_len(y, "y"), "y");
  int um = int1(uymode, "uymode");
  response_uncertainty_args(um, st, uy, repl, n);
  double lv = real1(level, "level"), tl = real1(tol, "tol");
  int ng = int1(ngrid, "ngrid"), ex = int_flag(extrap, "extrapolate");
  static const char *names[] = {"n_roots", "roots", "u_roots", "u_y", "u_y_code", "u_curve",
                                "dof", "k", "U", "low", "high", "x_ext", "u_x_ext", "flags",
                                "status"};
  SEXP out = PROTECT(named_list(15, names));
  SET_VECTOR_ELT(out, 0, allocVector(INTSXP, n));
  SET_VECTOR_ELT(out, 1, matrix(nr, n));
  SET_VECTOR_ELT(out, 2, matrix(nr, n));
  for (int j = 3; j <= 12; j++) SET_VECTOR_ELT(out, j, j == 4 ? allocVector(INTSXP, n) : vec(n));
  SET_VECTOR_ELT(out, 13, allocVector(INTSXP, n));
  memset(INTEGER(VECTOR_ELT(out, 0)), 0, sizeof(int) * (size_t)n);
  memset(INTEGER(VECTOR_ELT(out, 4)), 0, sizeof(int) * (size_t)n);
  memset(INTEGER(VECTOR_ELT(out, 13)), 0, sizeof(int) * (size_t)n);
  int istat = 0;
#define R_(j) REAL(VECTOR_ELT(out, j))
#define I_(j) INTEGER(VECTOR_ELT(out, j))
  QVXL_READBACK(&nc, REAL(coef), REAL(cov), &lo, &hi, &ck, &nd, &sr, &wt, &st, xs, &hl, lim, &n,
                REAL(y), &um, REAL(uy), REAL(repl), &lv, &ng, &tl, &ex, I_(0), R_(1), R_(2),
                R_(3), I_(4), R_(5), R_(6), R_(7), R_(8), R_(9), R_(10), R_(11), R_(12), I_(13),
                &istat);
#undef R_
#undef I_
  SET_VECTOR_ELT(out, 14, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_DISTRIBUTION element by element: what 1 gives x from p, 2 and 3 p from
   x.  par1, par2, p and x have one common length (at least 1); the status of
   each element is returned beside the results. */
SEXP qvx_distribution(SEXP dist, SEXP what, SEXP par1, SEXP par2, SEXP p, SEXP x)
{
  int d = int1(dist, "dist"), w = int1(what, "what");
  int n = count(real_len(p, "p"), "p");
  const double *a = reals_n(par1, n, "par1"), *b = reals_n(par2, n, "par2");
  const double *pin = REAL(p), *xin = reals_n(x, n, "x");
  static const char *names[] = {"p", "x", "status"};
  SEXP out = PROTECT(named_list(3, names));
  SET_VECTOR_ELT(out, 0, vec(n));
  SET_VECTOR_ELT(out, 1, vec(n));
  SET_VECTOR_ELT(out, 2, allocVector(INTSXP, n));
  double *po = REAL(VECTOR_ELT(out, 0)), *xo = REAL(VECTOR_ELT(out, 1));
  int *so = INTEGER(VECTOR_ELT(out, 2));
  for (int i = 0; i < n; i++) {
    double pi = pin[i], xi = xin[i];
    int istat = 0;
    QVXL_DISTRIBUTION(&d, &w, a + i, b + i, &pi, &xi, &istat);
    po[i] = pi;
    xo[i] = xi;
    so[i] = istat;
  }
  UNPROTECT(1);
  return out;
}

/* QVXL_SAMPLE_LIMITS: the LOD and LOQ samples are flagged against, from the
   blank's x, x_D and the two LOQs (one number each; NaN where not known). */
SEXP qvx_sample_limits(SEXP blank, SEXP xd, SEXP loq, SEXP loqdin)
{
  double b = real1(blank, "blank"), d = real1(xd, "x_detection");
  double q = real1(loq, "loq"), qd = real1(loqdin, "loq_din");
  static const char *names[] = {"haslim", "limits", "status"};
  SEXP out = PROTECT(named_list(3, names));
  SET_VECTOR_ELT(out, 1, vec(2));
  double *lim = REAL(VECTOR_ELT(out, 1));
  lim[0] = lim[1] = 0.0;
  int haslim = 0, istat = 0;
  QVXL_SAMPLE_LIMITS(&b, &d, &q, &qd, &haslim, lim, &istat);
  SET_VECTOR_ELT(out, 0, ScalarInteger(haslim));
  SET_VECTOR_ELT(out, 2, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* A fitted calibration as QVXL_DIAGNOSE and QVXL_VERDICT take it, checked:
   coef (1..10) and cov (ncoef^2), the standards x, y, w, wres (n each), wresx
   (n for errors in variables, kind != 0; any one element otherwise) and the
   criteria crit (10). */
typedef struct {
  int nc, kind, ck, nd, st, n;
  double lo, hi, sr, c2;
  const double *coef, *cov, *x, *y, *w, *wres, *wresx, *crit;
} fit_args;

static void fit_checked(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax, SEXP kind, SEXP covkind,
                        SEXP ndof, SEXP sres, SEXP chi2, SEXP stated, SEXP x, SEXP y, SEXP w,
                        SEXP wres, SEXP wresx, SEXP crit, fit_args *a)
{
  a->nc = curve_checked(coef, cov, 1);
  a->lo = real1(xmin, "xmin");
  a->hi = real1(xmax, "xmax");
  a->kind = int1(kind, "kind");
  a->ck = int1(covkind, "covkind");
  a->nd = int1(ndof, "ndof");
  a->sr = real1(sres, "sres");
  a->c2 = real1(chi2, "chi2");
  a->st = int_flag(stated, "stated");
  a->n = count(real_len(x, "x"), "x");
  a->x = REAL(x);
  a->y = reals_n(y, a->n, "y");
  a->w = reals_n(w, a->n, "w");
  a->wres = reals_n(wres, a->n, "wres");
  if (a->kind != 0) a->wresx = reals_n(wresx, a->n, "wresx");
  else if (real_len(wresx, "wresx") < 1) error("quorvex: wresx must have at least 1 element");
  else a->wresx = REAL(wresx);
  a->crit = reals_n(crit, 10, "crit");
  a->coef = REAL(coef);
  a->cov = REAL(cov);
}

static SEXP ints(R_xlen_t n)
{
  SEXP v = allocVector(INTSXP, n);
  if (n > 0) memset(INTEGER(v), 0, sizeof(int) * (size_t)n);
  return v;
}

#define FIT_ARGS(a)                                                                       \
  &(a).nc, (a).coef, (a).cov, &(a).lo, &(a).hi, &(a).kind, &(a).ck, &(a).nd, &(a).sr,   \
      &(a).c2, &(a).st, &(a).n, (a).x, (a).y, (a).w, (a).wres, (a).wresx, (a).crit

/* QVXL_DIAGNOSE: every diagnostic of a fit under the criteria crit. */
SEXP qvx_diagnose(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax, SEXP kind, SEXP covkind,
                  SEXP ndof, SEXP sres, SEXP chi2, SEXP stated, SEXP x, SEXP y, SEXP w,
                  SEXP wres, SEXP wresx, SEXP crit)
{
  fit_args a;
  fit_checked(coef, cov, xmin, xmax, kind, covkind, ndof, sres, chi2, stated, x, y, w, wres,
              wresx, crit, &a);
  static const char *names[] = {"leverage", "studentized_internal", "studentized_external",
                                "cooks_distance", "statistic", "statistic_x", "flags",
                                "x_back", "percent", "limit", "passed", "p_chi2", "lof",
                                "outl", "back", "corr", "levels", "status"};
  static const int sizes[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 7, 6, 3, 2, 3};
  SEXP out = PROTECT(named_list(18, names));
  for (int j = 0; j < 17; j++) {
    R_xlen_t len = sizes[j] < 0 ? a.n : sizes[j];
    SET_VECTOR_ELT(out, j, (j == 6 || j == 10) ? ints(len) : vec(len));
  }
  int istat = 0;
#define R_(j) REAL(VECTOR_ELT(out, j))
#define I_(j) INTEGER(VECTOR_ELT(out, j))
  QVXL_DIAGNOSE(FIT_ARGS(a), R_(0), R_(1), R_(2), R_(3), R_(4), R_(5), I_(6), R_(7), R_(8),
                R_(9), I_(10), R_(11), R_(12), R_(13), R_(14), R_(15), R_(16), &istat);
#undef R_
#undef I_
  SET_VECTOR_ELT(out, 17, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_VERDICT: the criteria applied (one element per criterion) and the
   overall verdict with its reasons. */
SEXP qvx_verdict(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax, SEXP kind, SEXP covkind,
                 SEXP ndof, SEXP sres, SEXP chi2, SEXP stated, SEXP x, SEXP y, SEXP w,
                 SEXP wres, SEXP wresx, SEXP crit, SEXP warnonly)
{
  fit_args a;
  fit_checked(coef, cov, xmin, xmax, kind, covkind, ndof, sres, chi2, stated, x, y, w, wres,
              wresx, crit, &a);
  int wo = int1(warnonly, "warn_only");
  static const char *names[] = {"applies", "statistic", "limit", "alpha", "result", "detail",
                                "overall", "reasons", "status"};
  SEXP out = PROTECT(named_list(9, names));
  SET_VECTOR_ELT(out, 0, ints(4));
  for (int j = 1; j <= 3; j++) SET_VECTOR_ELT(out, j, vec(4));
  SET_VECTOR_ELT(out, 4, ints(4));
  SET_VECTOR_ELT(out, 5, ints(4));
  int overall = 0, reasons = 0, istat = 0;
#define R_(j) REAL(VECTOR_ELT(out, j))
#define I_(j) INTEGER(VECTOR_ELT(out, j))
  QVXL_VERDICT(FIT_ARGS(a), &wo, I_(0), R_(1), R_(2), R_(3), I_(4), I_(5), &overall, &reasons,
               &istat);
#undef R_
#undef I_
  SET_VECTOR_ELT(out, 6, ScalarInteger(overall));
  SET_VECTOR_ELT(out, 7, ScalarInteger(reasons));
  SET_VECTOR_ELT(out, 8, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_TEST_VERDICT of one test: p-value p at level alpha. */
SEXP qvx_test_verdict(SEXP p, SEXP alpha)
{
  double pv = real1(p, "p"), al = real1(alpha, "alpha");
  int result = 0, detail = 0, istat = 0;
  QVXL_TEST_VERDICT(&pv, &al, &result, &detail, &istat);
  static const char *names[] = {"result", "detail", "status"};
  SEXP out = PROTECT(named_list(3, names));
  SET_VECTOR_ELT(out, 0, ScalarInteger(result));
  SET_VECTOR_ELT(out, 1, ScalarInteger(detail));
  SET_VECTOR_ELT(out, 2, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_MONTECARLO on responses y (the curve and u(y) as for qvx_readback),
   first the number of responses of the set before y[1], seed the 64-bit seed
   as two integers (low and high 32 bits, two's complement). */
SEXP qvx_montecarlo(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax, SEXP covkind, SEXP ndof,
                    SEXP sres, SEXP weighting, SEXP stated, SEXP y, SEXP uymode, SEXP uy,
                    SEXP repl, SEXP first, SEXP ndraw, SEXP level, SEXP ngrid, SEXP seed)
{
  int nc = curve_checked(coef, cov, 2);
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  int ck = int1(covkind, "covkind"), nd = int1(ndof, "ndof");
  double sr = real1(sres, "sres");
  int wt = int1(weighting, "weighting"), st = int_flag(stated, "stated");
  int n = count(real_len(y, "y"), "y");
  int um = int1(uymode, "uymode");
  response_uncertainty_args(um, st, uy, repl, n);
  int fi = int1(first, "first"), nw = int1(ndraw, "ndraw"), ng = int1(ngrid, "ngrid");
  double lv = real1(level, "level");
  if (TYPEOF(seed) != INTSXP || XLENGTH(seed) != 2)
    error("quorvex: seed must be two integers (the low and high 32 bits)");
  /* NA_integer_ is INT_MIN: a legitimate word of a seed, passed as its bits. */
  static const char *names[] = {"mean", "sd", "median", "low", "high", "se_low", "se_high",
                                "no_root", "several_roots", "check", "status"};
  SEXP out = PROTECT(named_list(11, names));
  for (int j = 0; j < 9; j++) SET_VECTOR_ELT(out, j, vec(n));
  SET_VECTOR_ELT(out, 9, ints(n));
  int istat = 0;
#define R_(j) REAL(VECTOR_ELT(out, j))
  QVXL_MONTECARLO(&nc, REAL(coef), REAL(cov), &lo, &hi, &ck, &nd, &sr, &wt, &st, &n, REAL(y),
                  &um, REAL(uy), REAL(repl), &fi, &nw, &lv, &ng, INTEGER(seed), R_(0), R_(1),
                  R_(2), R_(3), R_(4), R_(5), R_(6), R_(7), R_(8),
                  INTEGER(VECTOR_ELT(out, 9)), &istat);
#undef R_
  SET_VECTOR_ELT(out, 10, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_TEXT: the library's text of a status (kind 1), a sample flag (2) or a
   source of u(y) (3); NULL where the code has none. */
SEXP qvx_text(SEXP kind, SEXP code)
{
  int k = int1(kind, "kind"), c = int1(code, "code");
  char small[256];
  int len = (int)sizeof small, needed = 0, istat = 0;
  QVXL_TEXT(&k, &c, small, &len, &needed, &istat);
  if (istat != 0) return R_NilValue;
  if (needed < len) return mkString(small);
  /* A longer text: ask again with room enough. */
  if (needed >= INT_MAX) error("quorvex: a text of the library is too long");
  len = needed + 1;
  char *big = R_alloc((size_t)len, 1);
  QVXL_TEXT(&k, &c, big, &len, &needed, &istat);
  if (istat != 0 || needed >= len) error("quorvex: QVXL_TEXT gave an inconsistent length");
  return mkString(big);
}

/* QVXL_LIMITS: detection and quantification limits of a curve whose
   standards are x with the fit's weights w (and stated u(y) uy where stated
   is TRUE; any one-element vector otherwise); hasub 0 none, 1 u_blank given,
   2 from blank readings, 3 a variance model's floor, ublank (the scatter, its
   degrees of freedom). */
SEXP qvx_limits(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax, SEXP covkind, SEXP ndof, SEXP sres,
                SEXP weighting, SEXP x, SEXP w, SEXP stated, SEXP uy, SEXP alpha, SEXP beta,
                SEXP blank, SEXP repl, SEXP hasub, SEXP ublank, SEXP kloq)
{
  int nc = curve_checked(coef, cov, 2);
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  int ck = int1(covkind, "covkind"), nd = int1(ndof, "ndof");
  double sr = real1(sres, "sres");
  int wt = int1(weighting, "weighting");
  int n = count(real_len(x, "x"), "x");
  const double *wv = reals_n(w, n, "w");
  int st = int_flag(stated, "stated");
  if (st) reals_n(uy, n, "u_y");
  else if (real_len(uy, "u_y") < 1) error("quorvex: u_y must have at least 1 element");
  double al = real1(alpha, "alpha"), be = real1(beta, "beta"), x0 = real1(blank, "blank");
  int rp = int1(repl, "replicates"), hu = int1(hasub, "hasub");
  const double *ub = reals_n(ublank, 2, "u_blank");
  double kq = real1(kloq, "k_loq");
  static const char *names[] = {"lim", "source", "extrapolated", "status"};
  SEXP out = PROTECT(named_list(4, names));
  SET_VECTOR_ELT(out, 0, vec(12));
  int source = 0, extrap = 0, istat = 0;
  QVXL_LIMITS(&nc, REAL(coef), REAL(cov), &lo, &hi, &ck, &nd, &sr, &wt, &n, REAL(x), wv, &st,
              REAL(uy), &al, &be, &x0, &rp, &hu, ub, &kq, REAL(VECTOR_ELT(out, 0)), &source,
              &extrap, &istat);
  SET_VECTOR_ELT(out, 1, ScalarInteger(source));
  SET_VECTOR_ELT(out, 2, ScalarLogical(extrap != 0));
  SET_VECTOR_ELT(out, 3, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* ---- Fit rules and the curve ------------------------------------------- */

/* QVXL_FIT on the standards x, y (uy, ux read where given has bit 1, 2; any
   one-element vector otherwise), keep (one integer per standard), ncoef, the
   options given (defaults: 1 interval, 2 tol, 4 maxit, 8 sigma) and covkind
   (-1 default).  Returns every output with the options used and the status. */
SEXP qvx_fit(SEXP x, SEXP y, SEXP uy, SEXP ux, SEXP given, SEXP weighting, SEXP keep,
             SEXP ncoef, SEXP defaults, SEXP interval, SEXP tol, SEXP maxit, SEXP sigma,
             SEXP covkind)
{
  int n = count(real_len(x, "x"), "x");
  const double *yv = reals_n(y, n, "y");
  int gv = int1(given, "given");
  if (gv & 1) reals_n(uy, n, "u_y");
  else if (real_len(uy, "u_y") < 1) error("quorvex: u_y must have at least 1 element");
  if (gv & 2) reals_n(ux, n, "u_x");
  else if (real_len(ux, "u_x") < 1) error("quorvex: u_x must have at least 1 element");
  int wt = int1(weighting, "weighting");
  if (TYPEOF(keep) != INTSXP || XLENGTH(keep) != n)
    error("quorvex: keep must be %d integer(s)", n);
  int nc = ncoef_checked(ncoef), df = int1(defaults, "defaults");
  if (n > (INT_MAX - 20) / 12)
    error("quorvex: too many points for the errors-in-variables fit");
  static const char *names[] = {"coef", "cov", "cov_scaled", "sres", "dof", "chi2", "fitted",
                                "residuals", "weighted_residuals", "x_adjusted", "residuals_x",
                                "weighted_residuals_x", "weights", "x_weights", "rinfo", "info",
                                "interval", "tol", "maxit", "sigma", "covkind", "status"};
  SEXP out = PROTECT(named_list(22, names));
  SET_VECTOR_ELT(out, 0, vec(nc));
  SET_VECTOR_ELT(out, 1, matrix(nc, nc));
  SET_VECTOR_ELT(out, 2, matrix(nc, nc));
  for (int j = 6; j <= 13; j++) SET_VECTOR_ELT(out, j, vec(n));
  SET_VECTOR_ELT(out, 14, vec(4));
  SET_VECTOR_ELT(out, 15, ints(5));
  SET_VECTOR_ELT(out, 16, vec(2));
  SET_VECTOR_ELT(out, 17, vec(2));
  memcpy(REAL(VECTOR_ELT(out, 16)), reals_n(interval, 2, "interval"), 2 * sizeof(double));
  memcpy(REAL(VECTOR_ELT(out, 17)), reals_n(tol, 2, "tol"), 2 * sizeof(double));
  int mi = int1(maxit, "maxit"), ck = int1(covkind, "covkind"), nd = 0, istat = 0;
  double sg = real1(sigma, "sigma"), sr = 0, c2 = 0;
#define R_(j) REAL(VECTOR_ELT(out, j))
  QVXL_FIT(&n, REAL(x), yv, REAL(uy), REAL(ux), &gv, &wt, INTEGER(keep), &nc, &df, R_(16),
           R_(17), &mi, &sg, &ck, R_(0), R_(1), R_(2), &sr, &nd, &c2, R_(6), R_(7), R_(8),
           R_(9), R_(10), R_(11), R_(12), R_(13), R_(14), INTEGER(VECTOR_ELT(out, 15)),
           &istat);
#undef R_
  SET_VECTOR_ELT(out, 3, ScalarReal(sr));
  SET_VECTOR_ELT(out, 4, ScalarInteger(nd));
  SET_VECTOR_ELT(out, 5, ScalarReal(c2));
  SET_VECTOR_ELT(out, 18, ScalarInteger(mi));
  SET_VECTOR_ELT(out, 19, ScalarReal(sg));
  SET_VECTOR_ELT(out, 20, ScalarInteger(ck));
  SET_VECTOR_ELT(out, 21, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_CURVE at x: what 1 values, 2 slopes, 4 u(p(x)) (a sum); extend 1 beyond
   the interval. */
SEXP qvx_curve(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax, SEXP what, SEXP extend, SEXP x)
{
  int nc = curve_checked(coef, cov, 1);
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  int wh = int1(what, "what"), ex = int_flag(extend, "extend");
  int n = count(real_len(x, "x"), "x");
  static const char *names[] = {"y", "dy", "u", "status"};
  SEXP out = PROTECT(named_list(4, names));
  /* Every output has room for n values, asked for or not. */
  for (int j = 0; j < 3; j++) SET_VECTOR_ELT(out, j, vec(n));
  int istat = 0;
  QVXL_CURVE(&nc, REAL(coef), REAL(cov), &lo, &hi, &wh, &ex, &n, REAL(x),
             REAL(VECTOR_ELT(out, 0)), REAL(VECTOR_ELT(out, 1)), REAL(VECTOR_ELT(out, 2)),
             &istat);
  SET_VECTOR_ELT(out, 3, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_COVERAGE: k at a level, two-sided (sided 2) or one-sided (1). */
SEXP qvx_coverage(SEXP covkind, SEXP ndof, SEXP level, SEXP sided)
{
  int ck = int1(covkind, "covkind"), nd = int1(ndof, "ndof"), sd = int1(sided, "sided");
  double lv = real1(level, "level"), k = 0;
  int istat = 0;
  QVXL_COVERAGE(&ck, &nd, &lv, &sd, &k, &istat);
  static const char *names[] = {"k", "status"};
  SEXP out = PROTECT(named_list(2, names));
  SET_VECTOR_ELT(out, 0, ScalarReal(k));
  SET_VECTOR_ELT(out, 1, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_RESPONSE_SD at x: ustd the standards' stated u(y) (an empty vector:
   none, the weighting's response scale). */
SEXP qvx_response_sd(SEXP x, SEXP weighting, SEXP ustd, SEXP covkind, SEXP sres)
{
  int n = count(real_len(x, "x"), "x");
  R_xlen_t ls = real_len(ustd, "ustd");
  if (ls > INT_MAX) error("quorvex: ustd has too many elements");
  int ns = (int)ls;
  int wt = int1(weighting, "weighting"), ck = int1(covkind, "covkind");
  double sr = real1(sres, "sres"), dummy = 0;
  static const char *names[] = {"sd", "status"};
  SEXP out = PROTECT(named_list(2, names));
  SET_VECTOR_ELT(out, 0, vec(n));
  int istat = 0;
  QVXL_RESPONSE_SD(&n, REAL(x), &wt, &ns, ns > 0 ? REAL(ustd) : &dummy, &ck, &sr,
                   REAL(VECTOR_ELT(out, 0)), &istat);
  SET_VECTOR_ELT(out, 1, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_BAND at x (inside the interval): kind 0 confidence, 1 prediction with
   rsd the sd of one new response at each x (any one-element vector for 0). */
SEXP qvx_band(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax, SEXP covkind, SEXP ndof, SEXP level,
              SEXP kind, SEXP x, SEXP rsd)
{
  int nc = curve_checked(coef, cov, 1);
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax"), lv = real1(level, "level");
  int ck = int1(covkind, "covkind"), nd = int1(ndof, "ndof"), kd = int1(kind, "kind");
  int n = count(real_len(x, "x"), "x");
  if (kd != 0) reals_n(rsd, n, "rsd");
  else if (real_len(rsd, "rsd") < 1) error("quorvex: rsd must have at least 1 element");
  static const char *names[] = {"y", "u", "lower", "upper", "k", "status"};
  SEXP out = PROTECT(named_list(6, names));
  for (int j = 0; j < 4; j++) SET_VECTOR_ELT(out, j, vec(n));
  double k = 0;
  int istat = 0;
  QVXL_BAND(&nc, REAL(coef), REAL(cov), &lo, &hi, &ck, &nd, &lv, &kd, &n, REAL(x), REAL(rsd),
            REAL(VECTOR_ELT(out, 0)), REAL(VECTOR_ELT(out, 1)), REAL(VECTOR_ELT(out, 2)),
            REAL(VECTOR_ELT(out, 3)), &k, &istat);
  SET_VECTOR_ELT(out, 4, ScalarReal(k));
  SET_VECTOR_ELT(out, 5, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_POWER: the curve in powers of x and their covariance. */
SEXP qvx_power(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax)
{
  int nc = curve_checked(coef, cov, 1);
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  static const char *names[] = {"a", "ca", "status"};
  SEXP out = PROTECT(named_list(3, names));
  SET_VECTOR_ELT(out, 0, vec(nc));
  SET_VECTOR_ELT(out, 1, matrix(nc, nc));
  int istat = 0;
  QVXL_POWER(&nc, REAL(coef), REAL(cov), &lo, &hi, REAL(VECTOR_ELT(out, 0)),
             REAL(VECTOR_ELT(out, 1)), &istat);
  SET_VECTOR_ELT(out, 2, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_JOINT_COV of readings x (NaN: no root) with u(y) uy: mode 0 the
   factors S (npts x ncoef) and D only, 1 also the npts x npts covariance. */
SEXP qvx_joint_cov(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax, SEXP x, SEXP uy, SEXP mode)
{
  int nc = curve_checked(coef, cov, 2);
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  int n = count(real_len(x, "x"), "x");
  const double *u = reals_n(uy, n, "u_y");
  int md = int1(mode, "mode");
  if (md != 0 && md != 1) error("quorvex: mode must be 0 or 1");
  if (md == 1 && (double)n * n > 1e8) error("quorvex: too many readings for their joint covariance");
  static const char *names[] = {"s", "d", "cov", "status"};
  SEXP out = PROTECT(named_list(4, names));
  SET_VECTOR_ELT(out, 0, matrix(n, nc));
  SET_VECTOR_ELT(out, 1, vec(n));
  SET_VECTOR_ELT(out, 2, md == 1 ? matrix(n, n) : vec(1));
  int nw = 1, istat = 0;
  double w = 0, value = 0;
  QVXL_JOINT_COV(&nc, REAL(coef), REAL(cov), &lo, &hi, &n, REAL(x), u, &md, &nw, &w,
                 REAL(VECTOR_ELT(out, 0)), REAL(VECTOR_ELT(out, 1)), REAL(VECTOR_ELT(out, 2)),
                 &value, &istat);
  SET_VECTOR_ELT(out, 3, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* ---- Variance models ---------------------------------------------------- */

/* QVXL_VARIANCE_FIT on the standards x, y: model -1 chosen at level alpha,
   0..3 the model named.  Every output with the status. */
SEXP qvx_variance_fit(SEXP x, SEXP y, SEXP model, SEXP alpha)
{
  int n = count(real_len(x, "x"), "x");
  const double *yv = reals_n(y, n, "y");
  int md = int1(model, "model");
  double al = real1(alpha, "alpha");
  static const char *names[] = {"model", "par", "cov", "loglik", "test", "dof", "sd", "mu",
                                "status"};
  SEXP out = PROTECT(named_list(9, names));
  SET_VECTOR_ELT(out, 1, vec(2));
  SET_VECTOR_ELT(out, 2, matrix(2, 2));
  SET_VECTOR_ELT(out, 3, vec(4));
  SET_VECTOR_ELT(out, 4, vec(2));
  SET_VECTOR_ELT(out, 5, ints(2));
  SET_VECTOR_ELT(out, 6, vec(n));
  SET_VECTOR_ELT(out, 7, vec(n));
  int chosen = -9, istat = 0;
  QVXL_VARIANCE_FIT(&n, REAL(x), yv, &md, &al, &chosen, REAL(VECTOR_ELT(out, 1)),
                    REAL(VECTOR_ELT(out, 2)), REAL(VECTOR_ELT(out, 3)), REAL(VECTOR_ELT(out, 4)),
                    INTEGER(VECTOR_ELT(out, 5)), REAL(VECTOR_ELT(out, 6)),
                    REAL(VECTOR_ELT(out, 7)), &istat);
  SET_VECTOR_ELT(out, 0, ScalarInteger(chosen));
  SET_VECTOR_ELT(out, 8, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_VARIANCE_FIT_RESIDUALS: the same from the residuals of a curve of
   ncoef coefficients, for standards without replicates. */
SEXP qvx_variance_fit_residuals(SEXP x, SEXP y, SEXP ncoef, SEXP model, SEXP alpha)
{
  int n = count(real_len(x, "x"), "x");
  const double *yv = reals_n(y, n, "y");
  int nc = int1(ncoef, "ncoef"), md = int1(model, "model");
  double al = real1(alpha, "alpha");
  static const char *names[] = {"model", "par", "cov", "loglik", "test", "dof", "sd", "mu",
                                "status"};
  SEXP out = PROTECT(named_list(9, names));
  SET_VECTOR_ELT(out, 1, vec(2));
  SET_VECTOR_ELT(out, 2, matrix(2, 2));
  SET_VECTOR_ELT(out, 3, vec(4));
  SET_VECTOR_ELT(out, 4, vec(2));
  SET_VECTOR_ELT(out, 5, ints(2));
  SET_VECTOR_ELT(out, 6, vec(n));
  SET_VECTOR_ELT(out, 7, vec(n));
  int chosen = -9, istat = 0;
  QVXL_VARIANCE_FIT_RESIDUALS(&n, REAL(x), yv, &nc, &md, &al, &chosen, REAL(VECTOR_ELT(out, 1)),
                              REAL(VECTOR_ELT(out, 2)), REAL(VECTOR_ELT(out, 3)),
                              REAL(VECTOR_ELT(out, 4)), INTEGER(VECTOR_ELT(out, 5)),
                              REAL(VECTOR_ELT(out, 6)), REAL(VECTOR_ELT(out, 7)), &istat);
  SET_VECTOR_ELT(out, 0, ScalarInteger(chosen));
  SET_VECTOR_ELT(out, 8, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_VARIANCE_AT: a fitted model's sigma and its degrees of freedom at x
   (mu for the power model). */
SEXP qvx_variance_at(SEXP model, SEXP par, SEXP cov, SEXP x, SEXP mu)
{
  int md = int1(model, "model");
  const double *p = reals_n(par, 2, "par"), *c = reals_n(cov, 4, "cov");
  int n = count(real_len(x, "x"), "x");
  const double *m = reals_n(mu, n, "mu");
  static const char *names[] = {"sd", "dof", "status"};
  SEXP out = PROTECT(named_list(3, names));
  SET_VECTOR_ELT(out, 0, vec(n));
  SET_VECTOR_ELT(out, 1, vec(n));
  int istat = 0;
  QVXL_VARIANCE_AT(&md, p, c, &n, REAL(x), m, REAL(VECTOR_ELT(out, 0)),
                   REAL(VECTOR_ELT(out, 1)), &istat);
  SET_VECTOR_ELT(out, 2, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* ---- correlated standards (QVXL_GGM_*) ------------------------------------ */

/* QVXL_GGM_FIT: x, y of n standards, V (2n x 2n), ncoef; interval (length 2)
   and maxit given where not NULL; ignore: V's diagonal only. */
SEXP qvx_ggm_fit(SEXP x, SEXP y, SEXP v, SEXP ncoef, SEXP interval, SEXP maxit, SEXP ignore)
{
  int n = count(real_len(x, "x"), "x");
  const double *py = reals_n(y, n, "y");
  if (2.0 * n * 2.0 * n > 1e9) error("quorvex: too many standards for a full covariance");
  const double *pv = reals_n(v, (R_xlen_t)4 * n * n, "V");
  int nc = ncoef_checked(ncoef);
  int defaults = int_flag(ignore, "ignore") ? QVXL_GGM_IGNORE : 0;
  double iv[2] = {0, 0}, tol = 0;
  int mi = 0;
  if (interval != R_NilValue) {
    const double *pi = reals_n(interval, 2, "interval");
    iv[0] = pi[0];
    iv[1] = pi[1];
    defaults |= QVXL_GGM_OPT_INTERVAL;
  }
  if (maxit != R_NilValue) {
    mi = int1(maxit, "maxit");
    defaults |= QVXL_GGM_OPT_MAXIT;
  }
  static const char *names[] = {"coef", "cov", "chi2", "dof", "x_adjusted", "fitted", "gain",
                                "interval", "info", "status"};
  SEXP out = PROTECT(named_list(10, names));
  SET_VECTOR_ELT(out, 0, vec(nc));
  SET_VECTOR_ELT(out, 1, matrix(nc, nc));
  SET_VECTOR_ELT(out, 4, vec(n));
  SET_VECTOR_ELT(out, 5, vec(n));
  SET_VECTOR_ELT(out, 6, matrix(nc, 2 * n));
  SEXP info = PROTECT(allocVector(INTSXP, 3));
  double chi2 = 0;
  int dof = 0, istat = 0;
  QVXL_GGM_FIT(&n, REAL(x), py, pv, &nc, &defaults, iv, &tol, &mi, REAL(VECTOR_ELT(out, 0)),
               REAL(VECTOR_ELT(out, 1)), &chi2, &dof, REAL(VECTOR_ELT(out, 4)),
               REAL(VECTOR_ELT(out, 5)), REAL(VECTOR_ELT(out, 6)), INTEGER(info), &istat);
  SET_VECTOR_ELT(out, 2, ScalarReal(chi2));
  SET_VECTOR_ELT(out, 3, ScalarInteger(dof));
  SEXP ivr = PROTECT(vec(2));
  REAL(ivr)[0] = iv[0];
  REAL(ivr)[1] = iv[1];
  SET_VECTOR_ELT(out, 7, ivr);
  SET_VECTOR_ELT(out, 8, info);
  SET_VECTOR_ELT(out, 9, ScalarInteger(istat));
  UNPROTECT(3);
  return out;
}

/* QVXL_GGM_COMPONENTS and then, where parent is not NULL, QVXL_GGM_DILUTION,
   both adding into one V (2n x 2n): independent parts uxind, uyind (n),
   sources uxsrc, uysrc (n x nsrc), the chain parent (integer, 0 the stock),
   rel (n), rstock; a matrix v0 (2n x 2n) to start from, or NULL. */
SEXP qvx_ggm_covariance(SEXP x, SEXP uxind, SEXP uyind, SEXP uxsrc, SEXP uysrc, SEXP parent,
                        SEXP rel, SEXP rstock, SEXP v0)
{
  int n = count(real_len(x, "x"), "x");
  if (2.0 * n * 2.0 * n > 1e9) error("quorvex: too many standards for a full covariance");
  const double *ux = reals_n(uxind, n, "u_x"), *uy = reals_n(uyind, n, "u_y");
  R_xlen_t ls = real_len(uxsrc, "the sources' x");
  if (ls % n != 0 || real_len(uysrc, "the sources' y") != ls)
    error("quorvex: the sources need n values each for x and y");
  int ns = (int)(ls / n);
  static const char *names[] = {"v", "bad", "status"};
  SEXP out = PROTECT(named_list(3, names));
  SET_VECTOR_ELT(out, 0, matrix(2 * n, 2 * n));
  double *pv = REAL(VECTOR_ELT(out, 0));
  if (v0 != R_NilValue)
    memcpy(pv, reals_n(v0, (R_xlen_t)4 * n * n, "V"), sizeof(double) * 4 * (size_t)n * n);
  int add = 1, bad = 0, istat = 0;
  double one = 0;
  QVXL_GGM_COMPONENTS(&n, &ns, ux, uy, ns ? REAL(uxsrc) : &one, ns ? REAL(uysrc) : &one, &add,
                      pv, &istat);
  if (istat == 0 && parent != R_NilValue) {
    if (TYPEOF(parent) != INTSXP || XLENGTH(parent) != n)
      error("quorvex: parent must be n integers");
    double rs = real1(rstock, "rstock");
    QVXL_GGM_DILUTION(&n, REAL(x), INTEGER(parent), reals_n(rel, n, "rel"), &rs, &add, pv, &bad,
                      &istat);
  }
  SET_VECTOR_ELT(out, 1, ScalarInteger(bad));
  SET_VECTOR_ELT(out, 2, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_BLANK_SCATTER: the standard deviation of readings of blanks and its
   degrees of freedom. */
SEXP qvx_blank_scatter(SEXP y)
{
  int n = count(real_len(y, "blank_readings"), "blank_readings");
  double sd = 0, dof = 0;
  int istat = 0;
  QVXL_BLANK_SCATTER(&n, REAL(y), &sd, &dof, &istat);
  static const char *names[] = {"sd", "dof", "status"};
  SEXP out = PROTECT(named_list(3, names));
  SET_VECTOR_ELT(out, 0, ScalarReal(sd));
  SET_VECTOR_ELT(out, 1, ScalarReal(dof));
  SET_VECTOR_ELT(out, 2, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_REPORTED: the reported result of samples read off a curve (x, u_x,
   dof one per sample; range two numbers; limits LOD and LOQ; factor and
   u_factor one per sample or empty for none), with the flags it adds to
   `flags`. */
SEXP qvx_reported(SEXP x, SEXP ux, SEXP dof, SEXP level, SEXP overall, SEXP range,
                  SEXP haslim, SEXP limits, SEXP rule, SEXP factor, SEXP ufactor, SEXP flags)
{
  int n = count(real_len(x, "x"), "x");
  const double *px = REAL(x), *pu = reals_n(ux, n, "u_x"), *pd = reals_n(dof, n, "dof");
  double lev = real1(level, "level");
  int ov = int1(overall, "overall"), hl = int1(haslim, "haslim"), ru = int1(rule, "rule");
  const double *rg = reals_n(range, 2, "range"), *lm = reals_n(limits, 2, "limits");
  int hasf = 0;
  const double one = 1.0, *pf = &one, *puf = &one;
  if (real_len(factor, "factor") > 0) {
    pf = reals_n(factor, n, "factor");
    hasf |= 1;
  }
  if (real_len(ufactor, "u_factor") > 0) {
    puf = reals_n(ufactor, n, "u_factor");
    hasf |= 2;
  }
  if (TYPEOF(flags) != INTSXP || XLENGTH(flags) != n)
    error("quorvex: flags must be an integer vector of %d element(s)", n);
  static const char *names[] = {"value", "u", "dof", "k", "U", "censor", "flags", "status"};
  SEXP out = PROTECT(named_list(8, names));
  for (int i = 0; i < 5; i++) SET_VECTOR_ELT(out, i, vec(n));
  SET_VECTOR_ELT(out, 5, ints(n));
  SEXP fl = duplicate(flags);
  SET_VECTOR_ELT(out, 6, fl);
  int istat = 0;
  QVXL_REPORTED(&n, px, pu, pd, &lev, &ov, rg, &hl, lm, &ru, &hasf, pf, puf,
                REAL(VECTOR_ELT(out, 0)), REAL(VECTOR_ELT(out, 1)), REAL(VECTOR_ELT(out, 2)),
                REAL(VECTOR_ELT(out, 3)), REAL(VECTOR_ELT(out, 4)),
                INTEGER(VECTOR_ELT(out, 5)), INTEGER(fl), &istat);
  SET_VECTOR_ELT(out, 7, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_GGM_SHARED and QVXL_GGM_INVERSE: m responses ys with independent
   u(y) uyind, read off the curve (coef, cov, interval, gain of nstd
   standards); ustd (2 nstd x nsrc) and usmp (m x nsrc) the shared sources;
   mode 0 nothing shared, 1 shared, 2 every correlation ignored. */
SEXP qvx_ggm_inverse(SEXP coef, SEXP cov, SEXP interval, SEXP gain, SEXP ys, SEXP uyind,
                     SEXP ustd, SEXP usmp, SEXP mode)
{
  int nc = curve_checked(coef, cov, 2);
  const double *pi = reals_n(interval, 2, "interval");
  R_xlen_t lg = real_len(gain, "gain");
  if (lg < 2 * nc || lg % (2 * nc) != 0) error("quorvex: gain must be ncoef x 2n");
  int nstd = (int)(lg / (2 * nc));
  int m = count(real_len(ys, "y"), "y");
  if ((double)m * m > 1e8) error("quorvex: too many responses for their joint covariance");
  const double *uy = reals_n(uyind, m, "u_y");
  R_xlen_t l1 = real_len(ustd, "ustd");
  if (l1 % (2 * nstd) != 0) error("quorvex: ustd must be 2n x nsrc");
  int ns = (int)(l1 / (2 * nstd));
  const double *pu = reals_n(usmp, (R_xlen_t)m * ns, "usmp");
  int md = int1(mode, "mode");
  static const char *names[] = {"x", "cov", "u_x", "status"};
  SEXP out = PROTECT(named_list(4, names));
  SEXP vs = PROTECT(matrix(m, m)), czs = PROTECT(matrix(2 * nstd, m));
  int istat = 0;
  double one = 0;
  QVXL_GGM_SHARED(&nstd, &m, &ns, ns ? REAL(ustd) : &one, ns ? pu : &one, uy, REAL(vs),
                  REAL(czs), &istat);
  SET_VECTOR_ELT(out, 0, vec(m));
  SET_VECTOR_ELT(out, 1, matrix(m, m));
  SET_VECTOR_ELT(out, 2, vec(m));
  if (istat == 0) {
    double lo = pi[0], hi = pi[1];
    QVXL_GGM_INVERSE(&nc, REAL(coef), REAL(cov), &lo, &hi, &nstd, REAL(gain), &m, REAL(ys),
                     REAL(vs), &md, REAL(czs), REAL(VECTOR_ELT(out, 0)),
                     REAL(VECTOR_ELT(out, 1)), REAL(VECTOR_ELT(out, 2)), &istat);
  }
  SET_VECTOR_ELT(out, 3, ScalarInteger(istat));
  UNPROTECT(3);
  return out;
}

/* QVXL_CRITERIA_PRESET: the criteria (CRIT), warn-only mask and extra rules of a
   named preset. */
SEXP qvx_criteria_preset(SEXP id)
{
  int pid = int1(id, "preset");
  static const char *names[] = {"crit", "warn", "extra", "status"};
  SEXP out = PROTECT(named_list(4, names));
  SET_VECTOR_ELT(out, 0, vec(10));
  SET_VECTOR_ELT(out, 2, vec(2));
  int warn = 0, istat = 0;
  QVXL_CRITERIA_PRESET(&pid, REAL(VECTOR_ELT(out, 0)), &warn, REAL(VECTOR_ELT(out, 2)), &istat);
  SET_VECTOR_ELT(out, 1, ScalarInteger(warn));
  SET_VECTOR_ELT(out, 3, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_CRITERIA_EXTRA: the least number of levels and the RSE on the standards
   read back (x, xback, bpass as QVXL_DIAGNOSE gave them), folded into the
   verdict's overall result. */
SEXP qvx_criteria_extra(SEXP ncoef, SEXP x, SEXP xback, SEXP bpass, SEXP extra, SEXP warn,
                        SEXP overall)
{
  int nc = ncoef_checked(ncoef);
  int n = count(real_len(x, "x"), "x");
  if (real_len(xback, "xback") != n) error("quorvex: xback must have as many elements as x");
  if (TYPEOF(bpass) != INTSXP || XLENGTH(bpass) != n)
    error("quorvex: bpass must be an integer vector as long as x");
  if (real_len(extra, "extra") != 2) error("quorvex: extra must be two numbers");
  int wo = int1(warn, "warn"), oi = int1(overall, "overall");
  static const char *names[] = {"statistic", "result", "overall", "status"};
  SEXP out = PROTECT(named_list(4, names));
  SET_VECTOR_ELT(out, 0, vec(2));
  SET_VECTOR_ELT(out, 1, ints(2));
  int ov = 0, istat = 0;
  QVXL_CRITERIA_EXTRA(&nc, &n, REAL(x), REAL(xback), INTEGER(bpass), REAL(extra), &wo, &oi,
                      REAL(VECTOR_ELT(out, 0)), INTEGER(VECTOR_ELT(out, 1)), &ov, &istat);
  SET_VECTOR_ELT(out, 2, ScalarInteger(ov));
  SET_VECTOR_ELT(out, 3, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_VARIANCE_READBACK: responses y read back off a curve weighted by a
   variance model (model, par, pcov as QVXL_VARIANCE_FIT gave them; xstd and
   mustd the fitted standards' x and mean responses), for the mean of repl
   readings each; every output as qvx_readback's, with the status. */
SEXP qvx_variance_readback(SEXP coef, SEXP cov, SEXP xmin, SEXP xmax, SEXP model, SEXP par,
                           SEXP pcov, SEXP xstd, SEXP mustd, SEXP xrange, SEXP haslim,
                           SEXP limits, SEXP y, SEXP repl, SEXP level, SEXP ngrid, SEXP tol)
{
  int nc = curve_checked(coef, cov, 2), nr = nc - 1;
  double lo = real1(xmin, "xmin"), hi = real1(xmax, "xmax");
  int md = int1(model, "model");
  const double *p = reals_n(par, 2, "par"), *c = reals_n(pcov, 4, "pcov");
  int ns = count(real_len(xstd, "xstd"), "xstd");
  const double *mu = reals_n(mustd, ns, "mustd");
  const double *xr = reals_n(xrange, 2, "xrange");
  int hl = int1(haslim, "haslim");
  const double *lim = reals_n(limits, 2, "limits");
  int n = count(real_len(y, "y"), "y");
  const double *rp = reals_n(repl, n, "replicates");
  double lv = real1(level, "level"), tl = real1(tol, "tol");
  int ng = int1(ngrid, "ngrid");
  static const char *names[] = {"n_roots", "roots", "u_roots", "u_y", "u_y_code", "u_curve",
                                "dof", "k", "U", "low", "high", "x_ext", "u_x_ext", "flags",
                                "status"};
  SEXP out = PROTECT(named_list(15, names));
  SET_VECTOR_ELT(out, 0, allocVector(INTSXP, n));
  SET_VECTOR_ELT(out, 1, matrix(nr, n));
  SET_VECTOR_ELT(out, 2, matrix(nr, n));
  for (int j = 3; j <= 12; j++) SET_VECTOR_ELT(out, j, j == 4 ? allocVector(INTSXP, n) : vec(n));
  SET_VECTOR_ELT(out, 13, allocVector(INTSXP, n));
  memset(INTEGER(VECTOR_ELT(out, 0)), 0, sizeof(int) * (size_t)n);
  memset(INTEGER(VECTOR_ELT(out, 4)), 0, sizeof(int) * (size_t)n);
  memset(INTEGER(VECTOR_ELT(out, 13)), 0, sizeof(int) * (size_t)n);
  int istat = 0;
#define R_(j) REAL(VECTOR_ELT(out, j))
#define I_(j) INTEGER(VECTOR_ELT(out, j))
  QVXL_VARIANCE_READBACK(&nc, REAL(coef), REAL(cov), &lo, &hi, &md, p, c, &ns, REAL(xstd), mu,
                         xr, &hl, lim, &n, REAL(y), rp, &lv, &ng, &tl, I_(0), R_(1), R_(2),
                         R_(3), I_(4), R_(5), R_(6), R_(7), R_(8), R_(9), R_(10), R_(11),
                         R_(12), I_(13), &istat);
#undef R_
#undef I_
  SET_VECTOR_ELT(out, 14, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

/* QVXL_RESPONSE_WEIGHTS: kind 1 "1/y", 2 "1/y2" (v the responses), 3 a weight
   per standard (v the weights), as the relative u(y) a scaled fit takes. */
SEXP qvx_response_weights(SEXP kind, SEXP v)
{
  int k = int1(kind, "kind");
  int n = count(real_len(v, "v"), "v");
  static const char *names[] = {"urel", "status"};
  SEXP out = PROTECT(named_list(2, names));
  SET_VECTOR_ELT(out, 0, vec(n));
  memset(REAL(VECTOR_ELT(out, 0)), 0, sizeof(double) * (size_t)n);
  int istat = 0;
  QVXL_RESPONSE_WEIGHTS(&k, &n, REAL(v), REAL(VECTOR_ELT(out, 0)), &istat);
  SET_VECTOR_ELT(out, 1, ScalarInteger(istat));
  UNPROTECT(1);
  return out;
}

static const R_CallMethodDef calls[] = {
    {"qvx_olspfit", (DL_FUNC)&qvx_olspfit, 6},
    {"qvx_glspfit", (DL_FUNC)&qvx_glspfit, 10},
    {"qvx_polyeval", (DL_FUNC)&qvx_polyeval, 4},
    {"qvx_linear_conv", (DL_FUNC)&qvx_linear_conv, 4},
    {"qvx_ipval", (DL_FUNC)&qvx_ipval, 8},
    {"qvx_ipval_degree1", (DL_FUNC)&qvx_ipval_degree1, 6},
    {"qvx_readback", (DL_FUNC)&qvx_readback, 20},
    {"qvx_distribution", (DL_FUNC)&qvx_distribution, 6},
    {"qvx_sample_limits", (DL_FUNC)&qvx_sample_limits, 4},
    {"qvx_diagnose", (DL_FUNC)&qvx_diagnose, 16},
    {"qvx_verdict", (DL_FUNC)&qvx_verdict, 17},
    {"qvx_test_verdict", (DL_FUNC)&qvx_test_verdict, 2},
    {"qvx_montecarlo", (DL_FUNC)&qvx_montecarlo, 18},
    {"qvx_text", (DL_FUNC)&qvx_text, 2},
    {"qvx_limits", (DL_FUNC)&qvx_limits, 19},
    {"qvx_fit", (DL_FUNC)&qvx_fit, 14},
    {"qvx_curve", (DL_FUNC)&qvx_curve, 7},
    {"qvx_coverage", (DL_FUNC)&qvx_coverage, 4},
    {"qvx_response_sd", (DL_FUNC)&qvx_response_sd, 5},
    {"qvx_band", (DL_FUNC)&qvx_band, 10},
    {"qvx_power", (DL_FUNC)&qvx_power, 4},
    {"qvx_joint_cov", (DL_FUNC)&qvx_joint_cov, 7},
    {"qvx_variance_fit", (DL_FUNC)&qvx_variance_fit, 4},
    {"qvx_variance_fit_residuals", (DL_FUNC)&qvx_variance_fit_residuals, 5},
    {"qvx_variance_at", (DL_FUNC)&qvx_variance_at, 5},
    {"qvx_blank_scatter", (DL_FUNC)&qvx_blank_scatter, 1},
    {"qvx_reported", (DL_FUNC)&qvx_reported, 12},
    {"qvx_ggm_fit", (DL_FUNC)&qvx_ggm_fit, 7},
    {"qvx_ggm_covariance", (DL_FUNC)&qvx_ggm_covariance, 9},
    {"qvx_ggm_inverse", (DL_FUNC)&qvx_ggm_inverse, 9},
    {"qvx_criteria_preset", (DL_FUNC)&qvx_criteria_preset, 1},
    {"qvx_criteria_extra", (DL_FUNC)&qvx_criteria_extra, 7},
    {"qvx_variance_readback", (DL_FUNC)&qvx_variance_readback, 17},
    {"qvx_response_weights", (DL_FUNC)&qvx_response_weights, 2},
    {NULL, NULL, 0}};

void R_init_quorvex(DllInfo *dll)
{
  R_registerRoutines(dll, NULL, calls, NULL, NULL);
  R_useDynamicSymbols(dll, FALSE);
}
