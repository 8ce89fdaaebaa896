/*
 * quorvex_lab.h -- the laboratory layer of quorvex: the rules a laboratory
 * applies around a fitted curve, written once for every host.
 *
 * Plain C interface of the QUORVEXlab1 library (libQUORVEXlab1.so on Linux,
 * QUORVEXlab1.dll on 32-bit and on 64-bit Windows).  It sits beside the
 * QUORVEXv1 library of the six entry points (quorvex.h) and carries its own
 * copy of the numerical engine, so that it needs no other library.  Python,
 * R, the spreadsheet module and C/C++ programs all call these functions:
 * every host gets the same numbers to the bit.
 *
 * Conventions (those of quorvex.h)
 * --------------------------------
 *  - Every argument is passed by reference, scalars included; integers are
 *    32-bit signed, reals IEEE binary64; arrays contiguous and column-major,
 *    counted from 1 in this documentation.
 *  - ISTAT is the last argument; 0 means success.  A nonzero status leaves
 *    the outputs as each function states (most clear them first).  Status
 *    999 (QVXL_NO_STORAGE): working storage could not be obtained; nothing
 *    further was computed.  No function ends or aborts its host.
 *  - On 32-bit Windows the functions use the standard call convention
 *    (__stdcall) and are exported under their plain and decorated names, as
 *    the six entry points are; elsewhere the platform's C convention.
 *  - A curve is the scaled polynomial of quorvex.h: NCOEF coefficients COEF
 *    on [XMIN, XMAX] with a covariance COV (NCOEF x NCOEF).
 *  - The library keeps no state between calls; calls from different threads
 *    are independent.
 *
 * Codes shared by several functions
 * ---------------------------------
 *   WEIGHTING   0  unit weights (or stated u(y))
 *               1  "1/x":  w_i = 1/x_i,   the scatter of y grows like sqrt(x)
 *               2  "1/x2": w_i = 1/x_i^2, the scatter of y grows like x
 *   COVKIND     0  stated: the coefficient covariance as the fit gave it
 *               1  scaled: multiplied by SRES^2, its size estimated from
 *                  the residual scatter with the fit's degrees of freedom
 */
#ifndef QUORVEX_LAB_H
#define QUORVEX_LAB_H

#if defined(_WIN32) && !defined(_WIN64)
#define QVXL_CALL __stdcall
#else
#define QVXL_CALL
#endif

#if defined(_WIN32)
#if defined(QUORVEX_LAB_BUILDING)
#define QVXL_API
#else
#define QVXL_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QVXL_API __attribute__((visibility("default")))
#else
#define QVXL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define QVXL_OK 0
#define QVXL_NO_STORAGE 999

/* Statuses shared by every function that takes a curve. */
#define QVXL_BAD_NCOEF 1          /* NCOEF outside 1..10 (2..10 to invert)  */
#define QVXL_BAD_INTERVAL 2       /* XMIN >= XMAX, or either not finite     */
#define QVXL_BAD_COUNT 3          /* a count below its least value          */
#define QVXL_BAD_CODE 4           /* an unknown WEIGHTING, COVKIND, mode    */
#define QVXL_BAD_VALUE 5          /* a NaN, infinite or out-of-range input  */

/* ---------------------------------------------------------------------------
 * QVXL_DISTRIBUTION -- quantiles and tail probabilities of the distributions
 * the laboratory rules use, from Boost.Math, so that every host and platform
 * gets the same bits.
 *
 *   DIST   1 standard normal; 2 Student's t with PAR1 degrees of freedom;
 *          3 chi-squared with PAR1; 4 F with PAR1 and PAR2; 5 non-central t
 *          with PAR1 degrees of freedom and non-centrality PAR2.
 *   WHAT   1 quantile: X = the value with lower-tail probability P;
 *          2 upper tail: P = P(T > X);  3 lower tail: P = P(T <= X).
 * Degrees of freedom must be > 0 (+inf is allowed for the t: the normal).
 * Statuses: 4 unknown DIST or WHAT; 5 P outside (0, 1) for a quantile, or a
 * parameter out of range.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_DISTRIBUTION(
    const int* DIST,      /* in   distribution, see above                   */
    const int* WHAT,      /* in   1 quantile, 2 upper tail, 3 lower tail    */
    const double* PAR1,   /* in   first parameter                           */
    const double* PAR2,   /* in   second parameter (F, non-central t)       */
    double* P,            /* in/out  probability                            */
    double* X,            /* in/out  value                                  */
    int* ISTAT);          /* out  status                                    */

/* ---------------------------------------------------------------------------
 * QVXL_READBACK -- samples read back off a curve: every root of p(x) = y in
 * [XMIN, XMAX] with its standard uncertainty, the response uncertainty u(y)
 * used and where it came from, the parts of u(x), the effective degrees of
 * freedom, the coverage factor k, the expanded uncertainty U = k u(x), the
 * inversion interval and the sample flags.
 *
 * The curve: NCOEF (2..10), COEF, COV, XMIN, XMAX as the fit gave them, COV
 * the covariance to use (stated, or scaled by SRES^2: COVKIND says which),
 * NDOF the fit's residual degrees of freedom, SRES its residual scatter,
 * WEIGHTING its weighting model, STATED 1 when the standards carried stated
 * u(y) (0 otherwise).  XSTD(1..2): the lowest and the highest standard.
 *
 * EXTRAP = 1 (a straight line only, else status 1) reads each response off
 * the line in closed form (IPVAL_DEGREE1), also beyond the interval.
 *
 * UYMODE says where u(y) comes from:
 *   0  stated: UY(i) as given (>= 0);
 *   1  from the scatter: SRES / W(x) at the sample's x (SRES unweighted,
 *      SRES sqrt(x) under 1/x, SRES |x| under 1/x2), divided by
 *      sqrt(REPL(i)) for the mean of REPL(i) >= 1 readings, with the fit's
 *      degrees of freedom.  Refused (status 21) when the standards carried
 *      stated u(y) and (status 22) when the fit has no degrees of freedom;
 *   2  curve only: u(y) = 0.
 * UY and REPL are read only in their mode (pass any one-element array
 * otherwise).  UYSRC(i) reports the source: 0 stated (a stated 0 is 2),
 * 1 from the scatter, 2 curve only.
 *
 * The roots: the grid of NGRID cells and the zero finder's tolerance TOL of
 * IPVAL, with the same roots and uncertainties to the bit.  ROOTS and
 * UROOTS are (NCOEF-1) x NPTS, a column per response, NaN below the NROOT(i)
 * roots found.  The sample's x and u(x) are its first root: ROOTS(1, i),
 * UROOTS(1, i) (NaN without one).
 *
 *   UCURVE(i)  the curve's part of u(x): sqrt(g' COV g) / |p'(x)|
 *   DOF(i)     effective degrees of freedom of u(x): the fit's where both
 *              parts come from its scatter; Welch-Satterthwaite (GUM G.4.1)
 *              where a scaled part meets a stated one; +inf where both are
 *              stated; NaN without a root
 *   K(i)       coverage factor: Student's t with DOF(i) (normal for +inf)
 *              at two-sided coverage LEVEL; U(i) = K(i) UX(i)
 *   LOW, HIGH  the inversion interval (Fieller): the connected set of x
 *              around the first root with
 *              (p(x) - y)^2 <= K^2 (g(x)' COV g(x) + u(y)^2),
 *              held at the ends of [XMIN, XMAX] (flag 8)
 *   XEXT, UXEXT  for a straight line without a root: x and u(x) on the line
 *              extended (IPVAL_DEGREE1); NaN otherwise
 *
 * FLAGS(i) is a sum of
 *      1  no root in the interval         2  more than one root
 *      4  a root at an end of the interval (within 1e-9 of its width)
 *      8  the inversion interval reaches an end of the curve's interval
 *     16  below the lowest standard      32  above the highest standard
 *     64  response below the blank's (p(0), where x = 0 lies within a
 *         quarter of the width of the interval)
 *    128  below LOD                     256  below LOQ (and not below LOD)
 *    512  a flat curve at the root: u(x) infinite
 * LIMITS(1..2) = LOD, LOQ in x, each used when HASLIM has bit 1 (LOD) or
 * bit 2 (LOQ) set.
 *
 * Statuses: 1, 2, 3 (NPTS < 1, NGRID < 1), 4 (WEIGHTING, COVKIND, UYMODE),
 * 5 (LEVEL outside (0, 1), a negative or NaN UY, REPL < 1, TOL < 0 or NaN,
 * NDOF < 0),
 * 21, 22 as above.  On a nonzero status every output is left as it was.
 * ------------------------------------------------------------------------- */
#define QVXL_UY_STATED_STANDARDS 21
#define QVXL_UY_NO_DOF 22

#define QVXL_FLAG_NO_ROOT 1
#define QVXL_FLAG_SEVERAL_ROOTS 2
#define QVXL_FLAG_AT_END 4
#define QVXL_FLAG_INTERVAL_OPEN 8
#define QVXL_FLAG_BELOW_LOWEST 16
#define QVXL_FLAG_ABOVE_HIGHEST 32
#define QVXL_FLAG_BELOW_BLANK 64
#define QVXL_FLAG_BELOW_LOD 128
#define QVXL_FLAG_BELOW_LOQ 256
#define QVXL_FLAG_FLAT 512

#define QVXL_UYSRC_STATED 0
#define QVXL_UYSRC_SCATTER 1
#define QVXL_UYSRC_CURVE_ONLY 2

QVXL_API void QVXL_CALL QVXL_READBACK(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX,
    const int* COVKIND,   /* in   0 stated, 1 scaled                        */
    const int* NDOF,      /* in   the fit's residual degrees of freedom     */
    const double* SRES,   /* in   the fit's residual scatter                */
    const int* WEIGHTING, /* in   0 none, 1 1/x, 2 1/x2                     */
    const int* STATED,    /* in   1: the standards carried stated u(y)      */
    const double* XSTD,   /* in   XSTD(2) lowest and highest standard       */
    const int* HASLIM,    /* in   bit 1: LIMITS(1) = LOD; bit 2: LIMITS(2)  */
    const double* LIMITS, /* in   LIMITS(2) LOD and LOQ in x                */
    const int* NPTS,      /* in   number of responses                       */
    const double* Y,      /* in   Y(NPTS) responses                         */
    const int* UYMODE,    /* in   0 stated, 1 from the scatter, 2 curve only */
    const double* UY,     /* in   UY(NPTS) stated u(y) (mode 0)             */
    const double* REPL,   /* in   REPL(NPTS) readings averaged (mode 1)     */
    const double* LEVEL,  /* in   coverage probability, e.g. 0.95           */
    const int* NGRID,     /* in   grid cells of the root search (100)       */
    const double* TOL,    /* in   zero finder's absolute tolerance (0)      */
    const int* EXTRAP,    /* in   1: straight line in closed form           */
    int* NROOT,           /* out  NROOT(NPTS)                               */
    double* ROOTS,        /* out  ROOTS(NCOEF-1, NPTS)                      */
    double* UROOTS,       /* out  UROOTS(NCOEF-1, NPTS)                     */
    double* UYUSED,       /* out  UYUSED(NPTS) the u(y) used                */
    int* UYSRC,           /* out  UYSRC(NPTS) its source                    */
    double* UCURVE,       /* out  UCURVE(NPTS) curve's part of u(x)         */
    double* DOF,          /* out  DOF(NPTS)                                 */
    double* K,            /* out  K(NPTS)                                   */
    double* U,            /* out  U(NPTS) expanded uncertainty              */
    double* LOW,          /* out  LOW(NPTS)  inversion interval             */
    double* HIGH,         /* out  HIGH(NPTS)                                */
    double* XEXT,         /* out  XEXT(NPTS) x on the line extended         */
    double* UXEXT,        /* out  UXEXT(NPTS) its u(x)                      */
    int* FLAGS,           /* out  FLAGS(NPTS) sample flags                  */
    int* ISTAT);          /* out  status                                    */

/* ===========================================================================
 * Fit rules: the defaults the data choose, the weighting presets, the
 * covariance's scaling, and one complete fit.
 * ========================================================================= */

/* ---------------------------------------------------------------------------
 * QVXL_FIT -- a calibration curve fitted to standards, with every default and
 * everything derived: the one call a spreadsheet or a program needs.
 *
 * The standards: X(NPTS), Y(NPTS); GIVEN bit 1: UY(NPTS) the stated u(y);
 * bit 2: UX(NPTS) the stated u(x) (needs u(y)); a bit clear leaves its array
 * unread (pass any one-element array).  WEIGHTING (0 with stated u(y) or
 * u(x)): the preset's weights W_i = 1/sqrt(x_i) ("1/x") or 1/x_i ("1/x2");
 * without u(y) or a preset W_i = 1.  KEEP(NPTS): 1 a standard fitted, 0 one
 * left out.  NCOEF = degree + 1 (1..10).
 *
 * Without u(x) the weighted least-squares fit OLSPFIT, with u(x) the
 * errors-in-variables fit GLSPFIT: their coefficients and covariance to the
 * bit.  DEFAULTS says which options are given (a sum): 1 INTERVAL, 2 TOL,
 * 4 MAXIT, 8 SIGMA; those not given are chosen, and on return every one
 * holds the value used:
 *   INTERVAL(2)  the kept standards' range; for the errors-in-variables fit
 *                widened on each side by max(10 max u(x), 5 % of the range)
 *   TOL(2)       step and residual-change tolerances of GLSPFIT, from the
 *                data: the coefficients within about 1e-7 of their standard
 *                uncertainties of the converged solution (see QVXL_DEFAULT_
 *                TOLERANCES); MAXIT 100; SIGMA 0.1 (errors-in-variables only)
 *   COVKIND      -1 default: 0 stated with u(y), 1 scaled otherwise
 *
 * Outputs: COEF(NCOEF); COV (stated) and COVSC = COV SRES^2 (all NaN when
 * NDOF = 0), NCOEF x NCOEF; SRES = sqrt(CHI2 / NDOF) (0 at NDOF = 0);
 * NDOF = kept standards - NCOEF; CHI2 the sum of the squared weighted
 * residuals (x and y for errors in variables); per standard FITTED (the
 * curve at x, or at the adjusted abscissa), RES = y - FITTED, WRES = W RES,
 * XADJ = x - delta, RESX = delta, WRESX = delta / u(x) (NaN without u(x)),
 * WEIGHTS the W_i used, XWEIGHTS 1/u(x) (NaN without); a standard left out
 * gets FITTED, RES and WRES of the curve at its x (NaN outside the interval),
 * NaN elsewhere.  RINFO(4): GLSPFIT's convergence measures (NaN without
 * u(x)).  INFO(5): OLSPFIT's status (of the starting fit with u(x)),
 * GLSPFIT's status, iterations and evaluations, and 1 where the scaled
 * covariance overflowed.
 *
 * Statuses: 1; 3 (NPTS < 1, fewer kept standards than NCOEF); 4 (WEIGHTING,
 * COVKIND); 5 (a kept x, y NaN or infinite, a u(y) or u(x) not > 0 or
 * infinite, TOL not > 0, MAXIT < 1, SIGMA not finite); 2 (a given interval
 * empty or not finite); and
 *   30  an x <= 0 under a weighting preset
 *   31  u(x) without u(y)
 *   32  a weighting preset together with stated u(y) or u(x)
 *   33  the kept standards share one x: the default interval is empty
 *   34  a kept standard outside the given interval
 *   35  a weight 1/u(y) or 1/u(x) overflows
 *   36  OLSPFIT refused (INFO(1) its status; only INFO written)
 *   37  GLSPFIT stopped at its iteration or evaluation limit (INFO(2) 4 or
 *       5); every output written, the fit unconverged
 *   38  GLSPFIT failed (INFO(2) outside 0..5), or its covariance is not
 *       finite (a degenerate design); only INFO and RINFO written
 *   39  SRES^2 overflows: COVSC is NaN (every other output written)
 * On 1 to 5 and 30 to 35 nothing is written.
 * ------------------------------------------------------------------------- */
#define QVXL_FIT_X_NOT_POSITIVE 30
#define QVXL_FIT_UX_WITHOUT_UY 31
#define QVXL_FIT_PRESET_WITH_U 32
#define QVXL_FIT_NO_SPREAD 33
#define QVXL_FIT_OUTSIDE 34
#define QVXL_FIT_WEIGHT_OVERFLOW 35
#define QVXL_FIT_OLS_FAILED 36
#define QVXL_FIT_UNCONVERGED 37
#define QVXL_FIT_GLS_FAILED 38
#define QVXL_FIT_SCALE_OVERFLOW 39

#define QVXL_GIVEN_UY 1
#define QVXL_GIVEN_UX 2
#define QVXL_OPT_INTERVAL 1
#define QVXL_OPT_TOL 2
#define QVXL_OPT_MAXIT 4
#define QVXL_OPT_SIGMA 8

QVXL_API void QVXL_CALL QVXL_FIT(
    const int* NPTS, const double* X, const double* Y,
    const double* UY,     /* in   UY(NPTS) stated u(y) (GIVEN bit 1)        */
    const double* UX,     /* in   UX(NPTS) stated u(x) (GIVEN bit 2)        */
    const int* GIVEN,     /* in   1 u(y), 2 u(x), a sum                     */
    const int* WEIGHTING, /* in   0 none, 1 1/x, 2 1/x2                     */
    const int* KEEP,      /* in   KEEP(NPTS) 1 fitted, 0 left out           */
    const int* NCOEF,     /* in   degree + 1                                */
    const int* DEFAULTS,  /* in   options given: 1 INTERVAL 2 TOL 4 MAXIT 8 SIGMA */
    double* INTERVAL,     /* in/out  INTERVAL(2) xmin, xmax                 */
    double* TOL,          /* in/out  TOL(2)                                 */
    int* MAXIT,           /* in/out                                         */
    double* SIGMA,        /* in/out                                         */
    int* COVKIND,         /* in/out  -1 default, 0 stated, 1 scaled         */
    double* COEF, double* COV, double* COVSC, double* SRES, int* NDOF, double* CHI2,
    double* FITTED, double* RES, double* WRES, double* XADJ, double* RESX, double* WRESX,
    double* WEIGHTS, double* XWEIGHTS,
    double* RINFO,        /* out  RINFO(4)                                  */
    int* INFO,            /* out  INFO(5)                                   */
    int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_DEFAULT_INTERVAL -- the curve's default interval: the range of
 * X(NPTS); with HASUX = 1 widened on each side by max(10 max UX, 5 % of the
 * range) for the errors-in-variables fit.  Statuses: 3 (NPTS < 1), 5 (a NaN
 * or infinite value), 33 (the interval is empty: every x the same).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_DEFAULT_INTERVAL(const int* NPTS, const double* X, const int* HASUX,
                                              const double* UX, double* XMIN, double* XMAX,
                                              int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_DEFAULT_TOLERANCES -- TOL(2) of GLSPFIT for points X, Y with weights
 * WX = 1/u(x), WY = 1/u(y), from a starting curve COEF, COV on [XMIN, XMAX]
 * (the ordinary fit's).  TOL(2) = max(1e-7, 16 eps ||WY (|y| + |p'(x)| |x|)||)
 * / (2 NPTS S), S = max(max WX, max WY); TOL(1) = 1e-3 sqrt(sum 1/WX^2 +
 * sum |diag COV|) / (NPTS + NCOEF) (1e-7 where that is not > 0).
 * Statuses: 1, 2, 3 (NPTS < 1), 5 (a weight not > 0 or not finite).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_DEFAULT_TOLERANCES(const int* NPTS, const double* X, const double* Y,
                                                const double* WX, const double* WY,
                                                const int* NCOEF, const double* COEF,
                                                const double* COV, const double* XMIN,
                                                const double* XMAX, double* TOL, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_WEIGHTS -- a weighting preset at X(NPTS): WHAT 1 the weights W_i the
 * fit takes (1, 1/sqrt(x), 1/x); WHAT 2 the response scale 1/W(x) (1,
 * sqrt(max(x, 0)), |x|), the scatter of a response at x relative to SRES.
 * Statuses: 3 (NPTS < 0), 4 (WEIGHTING, WHAT), 30 (WHAT 1: an x <= 0 under a
 * preset; OUT left as it was).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_WEIGHTS(const int* WEIGHTING, const int* WHAT, const int* NPTS,
                                     const double* X, double* OUT, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_SCALED_COV -- COVSC = COV SRES^2 (NCOEF x NCOEF) with the fit's NDOF
 * residual degrees of freedom: all NaN at NDOF = 0.  Statuses: 1, 5 (SRES
 * negative, NDOF < 0), 39 (SRES^2 overflows, or a finite COV does on
 * scaling, or SRES is NaN: COVSC all NaN).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_SCALED_COV(const int* NCOEF, const double* COV, const double* SRES,
                                        const int* NDOF, double* COVSC, int* ISTAT);

/* ===========================================================================
 * The curve: values, slopes and u(p(x)), coverage factors, bands, the power
 * form and the joint covariance of readings.
 * ========================================================================= */

/* ---------------------------------------------------------------------------
 * QVXL_CURVE -- the curve at X(NPTS): WHAT (a sum) 1 Y = p(x), 2 DY = p'(x),
 * 4 U = u(p(x)) = sqrt(g(x)' COV g(x)); arrays not asked for are not read.
 * EXTEND = 0: every x inside [XMIN, XMAX] (values POLYEVAL's to the bit);
 * 1: the curve extended beyond its interval.  Statuses: 1 (NCOEF outside
 * 1..10), 2, 3 (NPTS < 0), 4 (WHAT outside 1..7, EXTEND), 5 (a NaN x),
 * 40 (an x outside the interval with EXTEND = 0; nothing written).
 * ------------------------------------------------------------------------- */
#define QVXL_CURVE_OUTSIDE 40
#define QVXL_CURVE_UY_DIFFER 41
#define QVXL_CURVE_NO_DOF 42

QVXL_API void QVXL_CALL QVXL_CURVE(const int* NCOEF, const double* COEF, const double* COV,
                                   const double* XMIN, const double* XMAX, const int* WHAT,
                                   const int* EXTEND, const int* NPTS, const double* X, double* Y,
                                   double* DY, double* U, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_COVERAGE -- the coverage factor K of a curve's uncertainties at
 * coverage probability LEVEL, two-sided (SIDED 2) or one-sided (1):
 * Student's t with NDOF degrees of freedom for the scaled covariance
 * (COVKIND 1: its size is estimated from the residual scatter), the normal
 * distribution for the stated one (COVKIND 0).  Statuses: 4 (COVKIND,
 * SIDED), 5 (LEVEL outside (0, 1)), 42 (scaled covariance with NDOF < 1).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_COVERAGE(const int* COVKIND, const int* NDOF, const double* LEVEL,
                                      const int* SIDED, double* K, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_RESPONSE_SD -- the standard deviation SD(NPTS) of one new response at
 * X(NPTS): with NSTD > 0 the standards' stated u(y), USTD(NSTD), which must
 * all be equal (else status 41); with NSTD = 0 the weighting's response scale
 * 1/W(x) (1, sqrt(x), |x|; NaN for x < 0 under "1/x", whose model states no
 * scatter there); times SRES where the calibration uses the scaled
 * covariance (COVKIND 1).  Statuses: 3 (NPTS < 0, NSTD < 0), 4, 5 (a NaN x,
 * SRES negative or NaN), 41.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_RESPONSE_SD(const int* NPTS, const double* X, const int* WEIGHTING,
                                         const int* NSTD, const double* USTD, const int* COVKIND,
                                         const double* SRES, double* SD, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_BAND -- confidence (KIND 0) or prediction (KIND 1) band at X(NPTS)
 * inside the interval, at two-sided coverage LEVEL:
 *   Y = p(x); U = u(p(x)), or sqrt(u(p(x))^2 + RSD^2) for a prediction
 *   (RSD(NPTS) the sd of one new response, e.g. from QVXL_RESPONSE_SD; read
 *   only for KIND 1); K as QVXL_COVERAGE gives it for COVKIND, NDOF;
 *   LOWER = Y - K U, UPPER = Y + K U.
 * COV: the covariance COVKIND names.  Statuses: 1, 2, 3 (NPTS < 0), 4 (KIND,
 * COVKIND), 5 (LEVEL, a NaN x, a negative or NaN RSD), 40, 42.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_BAND(const int* NCOEF, const double* COEF, const double* COV,
                                  const double* XMIN, const double* XMAX, const int* COVKIND,
                                  const int* NDOF, const double* LEVEL, const int* KIND,
                                  const int* NPTS, const double* X, const double* RSD, double* Y,
                                  double* U, double* LOWER, double* UPPER, double* K, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_POWER -- the curve in powers of x: A(NCOEF) with p(x) = A(1) + A(2) x
 * + A(3) x^2 + ..., and the covariance CA = M COV M' (NCOEF x NCOEF), M the
 * map from the scaled coefficients.  M's condition grows like
 * ((|XMIN| + |XMAX|) / (XMAX - XMIN))^degree 2^degree: the power form is for
 * reporting, the scaled form for computing.  Statuses: 1, 2.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_POWER(const int* NCOEF, const double* COEF, const double* COV,
                                   const double* XMIN, const double* XMAX, double* A, double* CA,
                                   int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_JOINT_COV -- the joint covariance of x values read off one curve:
 *   Cov(x_i, x_j) = g_i' COV g_j / (p'(x_i) p'(x_j)) + [i = j] UY(i)^2 / p'(x_i)^2.
 * X(NPTS) the readings (NaN: no root), UY(NPTS) their u(y).  Always
 * S (NPTS x NCOEF) = -g(x_i)' / p'(x_i) and D(NPTS) = UY^2 / p'(x_i)^2 (NaN
 * rows without a root).  MODE 0: nothing more; 1: OUT (NPTS x NPTS) the
 * covariance; 2: for NW weighted sums sum_i W(k, i) x_i (W NW x NPTS),
 * VALUE(NW) their values and OUT (NW x NW) their covariance, readings
 * weighted 0 in every sum left out.  Statuses: 1 (NCOEF outside 2..10), 2,
 * 3 (NPTS < 1, NW < 1 in mode 2), 4 (MODE), 5 (a negative or NaN UY).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_JOINT_COV(const int* NCOEF, const double* COEF, const double* COV,
                                       const double* XMIN, const double* XMAX, const int* NPTS,
                                       const double* X, const double* UY, const int* MODE,
                                       const int* NW, const double* W, double* S, double* D,
                                       double* OUT, double* VALUE, int* ISTAT);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_LAB_H */
