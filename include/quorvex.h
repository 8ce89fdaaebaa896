/*
 * quorvex.h -- calibration curves: fit, evaluate and invert polynomial
 * response curves y = p(x) with standard uncertainties.
 *
 * Plain C interface of the QUORVEXv1 library (libQUORVEXv1.so on Linux,
 * QUORVEXv1.dll on 32-bit and on 64-bit Windows).  Usable from C and C++.
 *
 * Conventions shared by all six entry points
 * ------------------------------------------
 *  - Every argument is passed by reference (a pointer), scalars included.
 *  - Integers are 32-bit signed, reals IEEE binary64.
 *  - Arrays are contiguous and column-major; the documentation counts
 *    elements from 1: element (i, j) of a matrix with leading dimension LD
 *    lies (j-1)*LD + (i-1) elements after element (1, 1).  There are no
 *    leading-dimension arguments: a data-by-coefficient matrix has leading
 *    dimension NPTS, a coefficient covariance matrix NCOEF.
 *  - ISTAT is always the last argument; 0 means success.
 *  - A curve is a scaled polynomial: NCOEF coefficients of a Chebyshev
 *    series in t = ((x - XMIN) - (XMAX - x)) / (XMAX - XMIN), the first
 *    coefficient at half weight:
 *        p(x) = COEF(1)/2 + COEF(2) T1(t) + ... + COEF(NCOEF) T_{NCOEF-1}(t).
 *    The interval [XMIN, XMAX] belongs to the curve: pass the same values
 *    whenever the curve is evaluated or inverted.
 *  - Status 999 (QVX_NO_STORAGE) on any entry point: working storage could
 *    not be obtained; nothing further was computed.
 *  - On 32-bit Windows the functions use the standard call convention
 *    (__stdcall); elsewhere the platform's C convention.
 *  - Calls from different threads are independent: the library keeps no
 *    state shared between threads.  A thread that has called OLSPFIT or
 *    GLSPFIT keeps that fit's working storage for its next fit of the same
 *    kind, so that repeating a fit of the same or a smaller size allocates
 *    nothing: OLSPFIT 8 (NCOEF + 1) bytes per point, GLSPFIT about 230 for a
 *    quadratic (up to 380).  Each is kept up to 384 MiB (64 MiB in 32-bit
 *    processes); above 64 MiB only while the latest fit used at least a
 *    quarter of it, so a large fit's storage goes back after a much smaller
 *    one.  It is freed when the thread ends.  No result depends on an
 *    earlier call.
 */
#ifndef QUORVEX_H
#define QUORVEX_H

#if defined(_WIN32) && !defined(_WIN64)
#define QVX_CALL __stdcall
#else
#define QVX_CALL
#endif

#if defined(_WIN32)
#if defined(QUORVEX_BUILDING)
/* The DLL's module-definition file names every export (plain and decorated
   name of each function); dllexport would add a third, the linker's NAME@n. */
#define QVX_API
#else
#define QVX_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QVX_API __attribute__((visibility("default")))
#else
#define QVX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status common to every entry point (ISTAT, or ISTAT(1) and OLSTAT of GLSPFIT). */
#define QVX_OK 0
#define QVX_NO_STORAGE 999

/* ---------------------------------------------------------------------------
 * OLSPFIT -- weighted least-squares fit of a scaled polynomial.
 * Minimises sum (W(i) (Y(i) - p(X(i))))^2.  COV = (B' diag(W)^2 B)^-1 is not
 * scaled by the residual variance.  On any nonzero ISTAT all outputs are 0,
 * except that COEF and COV are left as they were when NCOEF > 10 (a count
 * that is never valid: the arrays need not have its size).
 *
 *   ISTAT  0  success
 *          1  NCOEF < 1
 *          2  NPTS < NCOEF
 *          3  NCOEF > 10
 *          4  some W(i) <= 0
 *          5  XMIN >= XMAX
 *          6  XMIN > smallest X(i)
 *          7  XMAX < largest X(i)
 *         21  QR factorization failed
 *         22  applying Q or Q' failed
 *         23  exactly zero diagonal in the triangular factor
 *         24  singular or nearly singular design, whose results would
 *             carry no correct digit: fewer distinct abscissae than NCOEF
 *             (points whose scaled abscissae t are equal count once); or,
 *             for the QR factor R of the weighted design (rows scaled by
 *             W(i) / max W), min |R(i,i)| <= max |R(i,i)| * NPTS * eps, or
 *             ||R||_F ||R^-1||_F >= NCOEF / (NPTS * eps), eps the double
 *             epsilon 2.2e-16.  A design whose 2-norm condition number
 *             kappa has kappa * NPTS * eps < 1 is never refused; one with
 *             kappa * NPTS * eps >= NCOEF always is.
 *        999  working storage could not be obtained
 * ------------------------------------------------------------------------- */
#define QVX_OLS_NCOEF_LT1 1
#define QVX_OLS_NPTS_LT_NCOEF 2
#define QVX_OLS_NCOEF_GT10 3
#define QVX_OLS_BAD_WEIGHT 4
#define QVX_OLS_BAD_INTERVAL 5
#define QVX_OLS_X_BELOW 6
#define QVX_OLS_X_ABOVE 7
#define QVX_OLS_QR_FAILED 21
#define QVX_OLS_Q_FAILED 22
#define QVX_OLS_ZERO_DIAGONAL 23
#define QVX_OLS_ILL_CONDITIONED 24

QVX_API void QVX_CALL OLSPFIT(
    const int* NPTS,      /* in   number of calibration points             */
    const double* X,      /* in   X(NPTS) abscissae in [XMIN, XMAX]         */
    const double* Y,      /* in   Y(NPTS) responses                         */
    const double* W,      /* in   W(NPTS) weights (1/u(y)), all > 0         */
    const int* NCOEF,     /* in   number of coefficients, 1..10             */
    const double* XMIN,   /* in   lower end of the interval                 */
    const double* XMAX,   /* in   upper end of the interval                 */
    double* COEF,         /* out  COEF(NCOEF) coefficients                  */
    double* COV,          /* out  COV(NCOEF,NCOEF) covariance, full         */
    double* SRES,         /* out  weighted residual standard deviation      */
    double* YFIT,         /* out  YFIT(NPTS) fitted values                  */
    double* RES,          /* out  RES(NPTS) residuals Y - YFIT              */
    double* WRES,         /* out  WRES(NPTS) weighted residuals             */
    double* WRESMAX,      /* out  largest |WRES(i)|                         */
    int* ISTAT);          /* out  status, see above                         */

/* ---------------------------------------------------------------------------
 * GLSPFIT -- fit when both x and y carry error (errors in variables).
 * Minimises sum (WX(i) d(i))^2 + (WY(i) (Y(i) - p(X(i) - d(i))))^2 over the
 * corrections d and the coefficients, starting from OLSPFIT with weights WY.
 *
 * A fit is valid only when OLSTAT = 0 and 0 <= ISTAT(1) <= 3.
 *   OLSTAT     status of the starting OLSPFIT (codes above)
 *   ISTAT(1)   0  converged
 *              1  iteration limit; last step measure below TOL(1)
 *              2  iteration limit; last residual change below TOL(2)
 *              3  line search gave up
 *              4  iteration limit with neither test met
 *              5  evaluation limit 50*MAXIT reached
 *             21  NPTS < NCOEF
 *             25  some scaled x weight <= 0
 *             26  some scaled y weight < 0, or fewer than NCOEF positive
 *             35  TOL(1) <= 0 or TOL(2) <= 0
 *             36  MAXIT < 1
 *             44  some WX(i) <= 0
 *             -1  problem size disagrees with the fit workspace
 *           -101  an adjusted abscissa left [XMIN, XMAX]
 *             -2  the block least-squares solve failed
 *             -3  the gradient product failed
 *            999  working storage could not be obtained
 *   ISTAT(2)   iteration number of the minimizer
 *   ISTAT(3)   number of objective evaluations
 *
 * Outputs written, by outcome ("left" = left as the caller had it):
 *   0 <= ISTAT(1) <= 3 (OLSTAT 0): every output.  PARAM is the minimizer's
 *       final point; YFIT (the curve at the adjusted abscissae X - PARAM(i)),
 *       RES, WRES, WRESMAX, SRES, R11, R12, R22 and COV all belong to that
 *       PARAM: where the minimizer's latest evaluation lies elsewhere, one
 *       more evaluation at PARAM gives them, and it is not counted in
 *       ISTAT(3).  RINFO holds the minimizer's measures of its last
 *       iteration (for 1 and 2, of the step that led to PARAM).
 *   OLSTAT != 0, ISTAT(1) = 0: OLSTAT and ISTAT(1); everything else left.
 *   OLSTAT = 0, ISTAT(1) = 44: OLSTAT and ISTAT(1); everything else left.
 *   OLSTAT != 0, ISTAT(1) = 44: OLSTAT and ISTAT(1); PARAM(1..NPTS), SRES,
 *       YFIT, RES, WRES, WRESMAX and R11 cleared to 0, and for NCOEF <= 10
 *       also PARAM(NPTS+1..), COV, R12 and R22; ISTAT(2..3), RINFO left.
 *   21, 25, 26, 35, 36: OLSTAT = 0, ISTAT = (code, 0, 0); PARAM at the
 *       starting point (corrections 0, the ordinary fit's coefficients);
 *       WRES, R11, R12, R22 cleared; COV, SRES, YFIT, RES, WRESMAX, RINFO
 *       left.
 *   4, 5 and the negative codes: OLSTAT = 0, ISTAT, RINFO; PARAM the
 *       minimizer's last point; WRES its residual vector and R11, R12, R22
 *       the factor of its latest step, both for the weights divided by their
 *       largest value; YFIT the curve of its latest evaluation (each 0 where
 *       none was formed); COV, SRES, RES, WRESMAX left.
 *   ISTAT(1) = 999: OLSTAT (0) and ISTAT(1); the other outputs hold
 *       whatever the fit had reached: do not use them.  (When the ordinary
 *       fit itself runs out of storage, OLSTAT = 999 and ISTAT(1) is 0 or 44
 *       as in the rows for OLSTAT != 0.)
 * A NCOEF above 10 is never valid: no array sized by it (the coefficient
 * part of PARAM, COV, R12, R22) is written, whatever the outcome.
 * ------------------------------------------------------------------------- */
#define QVX_GLS_CONVERGED 0
#define QVX_GLS_MAXIT_STEP 1
#define QVX_GLS_MAXIT_RESIDUAL 2
#define QVX_GLS_LINE_SEARCH 3
#define QVX_GLS_MAXIT 4
#define QVX_GLS_MAXFEV 5
#define QVX_GLS_NPTS_LT_NCOEF 21
#define QVX_GLS_BAD_SCALED_WX 25
#define QVX_GLS_BAD_SCALED_WY 26
#define QVX_GLS_BAD_TOL 35
#define QVX_GLS_BAD_MAXIT 36
#define QVX_GLS_BAD_WX 44
#define QVX_GLS_SIZE_MISMATCH (-1)
#define QVX_GLS_OUTSIDE_INTERVAL (-101)
#define QVX_GLS_STEP_FAILED (-2)
#define QVX_GLS_GRADIENT_FAILED (-3)

QVX_API void QVX_CALL GLSPFIT(
    const int* NPTS,      /* in   number of calibration points             */
    const double* X,      /* in   X(NPTS) measured abscissae                */
    const double* Y,      /* in   Y(NPTS) measured responses                */
    const double* WX,     /* in   WX(NPTS) x weights (1/u(x)), all > 0      */
    const double* WY,     /* in   WY(NPTS) y weights (1/u(y)), all > 0      */
    const int* NCOEF,     /* in   number of coefficients, 1..10             */
    const double* XMIN,   /* in   lower end of the interval                 */
    const double* XMAX,   /* in   upper end of the interval                 */
    const double* TOL,    /* in   TOL(2) step and residual tolerances > 0   */
    const int* MAXIT,     /* in   iteration limit >= 1                      */
    const double* SIGMA,  /* in   line-search parameter                     */
    double* PARAM,        /* out  PARAM(NPTS+NCOEF): corrections, coefs     */
    double* COV,          /* out  COV(NCOEF,NCOEF) coefficient covariance   */
    double* SRES,         /* out  residual standard deviation               */
    double* YFIT,         /* out  YFIT(NPTS) curve at adjusted abscissae    */
    double* RES,          /* out  RES(2,NPTS) x and y residuals             */
    double* WRES,         /* out  WRES(2*NPTS) weighted residuals           */
    double* WRESMAX,      /* out  largest |WRES(k)|                         */
    double* R11,          /* out  R11(NPTS) block factor, diagonal          */
    double* R12,          /* out  R12(NPTS,NCOEF) block factor, coupling    */
    double* R22,          /* out  R22(NCOEF(NCOEF+1)/2) packed factor       */
    double* RINFO,        /* out  RINFO(4) convergence measures             */
    int* OLSTAT,          /* out  status of the starting ordinary fit       */
    int* ISTAT);          /* out  ISTAT(3): status, iterations, evaluations */

/* ---------------------------------------------------------------------------
 * POLYEVAL -- evaluate a curve at NPTS points.  On failure Y is all 0.
 *   ISTAT  0  success
 *          1  XMIN >= XMAX
 *          2  a point lies below XMIN
 *          3  a point lies above XMAX
 * ------------------------------------------------------------------------- */
#define QVX_EVAL_BAD_INTERVAL 1
#define QVX_EVAL_X_BELOW 2
#define QVX_EVAL_X_ABOVE 3

QVX_API void QVX_CALL POLYEVAL(
    const int* NCOEF,     /* in   number of coefficients                    */
    const double* COEF,   /* in   COEF(NCOEF)                               */
    const int* NPTS,      /* in   number of points                          */
    const double* X,      /* in   X(NPTS) abscissae in [XMIN, XMAX]         */
    const double* XMIN,   /* in   lower end of the interval                 */
    const double* XMAX,   /* in   upper end of the interval                 */
    double* Y,            /* out  Y(NPTS) curve values                      */
    int* ISTAT);          /* out  status, see above                         */

/* ---------------------------------------------------------------------------
 * IPVAL -- inverse prediction on a curve of any degree: every x in
 * [XMIN, XMAX] with p(x) = Y(i), found by scanning NGRID equal subintervals
 * for sign changes and refining each with a bracketing zero finder, and its
 * standard uncertainty u(x)^2 = (g'COV g + COVY(i,i)) / p'(x)^2.
 * TOL is the absolute tolerance to which each root is refined (on top of
 * a relative 2 eps |x|); 0, a negative TOL and a NaN TOL all ask for full
 * precision.
 * Roots stand in increasing order in column i of XROOT and UXROOT (leading
 * dimension NCOEF-1); NROOT(i) counts them (0: no root in the interval).
 * On failure NROOT, XROOT and UXROOT are all 0.
 *   ISTAT  0  success
 *          1  XMIN >= XMAX
 *          2  NCOEF < 2 (a constant curve has no inverse)
 *          3  NGRID < 1
 * ------------------------------------------------------------------------- */
#define QVX_IPVAL_BAD_INTERVAL 1
#define QVX_IPVAL_NCOEF_LT2 2
#define QVX_IPVAL_NGRID_LT1 3

QVX_API void QVX_CALL IPVAL(
    const int* NCOEF,     /* in   number of coefficients                    */
    const double* COEF,   /* in   COEF(NCOEF)                               */
    const double* COV,    /* in   COV(NCOEF,NCOEF) coefficient covariance   */
    const int* NPTS,      /* in   number of responses                       */
    const double* Y,      /* in   Y(NPTS) responses                         */
    const double* COVY,   /* in   COVY(NPTS,NPTS); only the diagonal read   */
    const double* XMIN,   /* in   lower end of the interval                 */
    const double* XMAX,   /* in   upper end of the interval                 */
    const int* NGRID,     /* in   number of grid subintervals >= 1          */
    const double* TOL,    /* in   absolute tolerance of the roots, >= 0     */
    int* NROOT,           /* out  NROOT(NPTS) roots found per response      */
    double* XROOT,        /* out  XROOT(NCOEF-1,NPTS) roots                 */
    double* UXROOT,       /* out  UXROOT(NCOEF-1,NPTS) uncertainties        */
    int* ISTAT);          /* out  status, see above                         */

/* ---------------------------------------------------------------------------
 * LINEAR_CONV -- straight line (NCOEF = 2) to slope and intercept.
 * LCOEF = (slope, intercept), LCOV their 2x2 covariance.  Only ISTAT is
 * cleared; on failure LCOEF and LCOV are not written.
 *   ISTAT  0  success
 *          1  XMIN >= XMAX
 * ------------------------------------------------------------------------- */
#define QVX_LINEAR_BAD_INTERVAL 1

QVX_API void QVX_CALL LINEAR_CONV(
    const double* COEF,   /* in   COEF(2) scaled coefficients               */
    const double* COV,    /* in   COV(2,2) their covariance                 */
    const double* XMIN,   /* in   lower end of the interval                 */
    const double* XMAX,   /* in   upper end of the interval                 */
    double* LCOEF,        /* out  LCOEF(2): slope, intercept                */
    double* LCOV,         /* out  LCOV(2,2) covariance of LCOEF             */
    int* ISTAT);          /* out  status, see above                         */

/* ---------------------------------------------------------------------------
 * IPVAL_DEGREE1 -- inverse prediction on a straight line in closed form,
 * x = (y - intercept) / slope, for every response (not limited to the
 * interval), with its standard uncertainty.  A zero slope gives Inf/NaN.
 * On failure XPRED and UXPRED are all 0.
 *   ISTAT  0  success
 *          1  XMIN >= XMAX
 * ------------------------------------------------------------------------- */
#define QVX_IPVAL1_BAD_INTERVAL 1

QVX_API void QVX_CALL IPVAL_DEGREE1(
    const double* COEF,   /* in   COEF(2) scaled coefficients               */
    const double* COV,    /* in   COV(2,2) their covariance                 */
    const int* NPTS,      /* in   number of responses                       */
    const double* Y,      /* in   Y(NPTS) responses                         */
    const double* COVY,   /* in   COVY(NPTS,NPTS); only the diagonal read   */
    const double* XMIN,   /* in   lower end of the interval                 */
    const double* XMAX,   /* in   upper end of the interval                 */
    double* XPRED,        /* out  XPRED(NPTS) predicted x                   */
    double* UXPRED,       /* out  UXPRED(NPTS) standard uncertainties       */
    int* ISTAT);          /* out  status, see above                         */

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_H */
