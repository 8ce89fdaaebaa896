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
 *      degrees of freedom.  Where the standards carried stated u(y) that
 *      the scatter scales (STATED 1, COVKIND 1: relative weights), UY(i) > 0
 *      is the sample's relative u(y) on the standards' scale (1/sqrt(w) for
 *      a weight w) and u(y) = SRES UY(i) / sqrt(REPL(i)).  Refused (status
 *      21) when stated u(y) set the scale (STATED 1, COVKIND 0) and
 *      (status 22) when the fit has no degrees of freedom;
 *   2  curve only: u(y) = 0.
 * UY is read in mode 0, and in mode 1 with STATED 1; REPL in mode 1 (pass
 * any one-element array otherwise).  UYSRC(i) reports the source: 0 stated (a stated 0 is 2),
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
 *   1024  the covariance is scaled (COVKIND 1) but the fit has no degrees of
 *         freedom: the roots stand, every uncertainty (UROOTS, UCURVE, DOF,
 *         K, U, LOW, HIGH) is NaN
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
#define QVXL_FLAG_NO_SCALE 1024

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
    const double* UY,     /* in   UY(NPTS) stated u(y) (mode 0), relative
                                  u(y) (mode 1 with STATED 1)               */
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

/* ---------------------------------------------------------------------------
 * QVXL_TEXT -- the text a host shows for a code: KIND 1 a status of any
 * function of this library, 2 a sample flag (one bit), 3 a source of u(y),
 * 4 a criterion of QVXL_VERDICT (its row, 1..4), 5 a RESULT of it (0..4),
 * 6 an OVERALL verdict (0..2), 7 a detection limit LIM(1..12) of
 * QVXL_LIMITS named by its definition, 8 a SOURCE of the blank's scatter
 * (0..7), 9 the test of the curve's shape a verdict ran (its DETAIL,
 * QVXL_SHAPE_*), 10 to 15 a status of the engine's OLSPFIT, GLSPFIT, POLYEVAL, IPVAL,
 * LINEAR_CONV, IPVAL_DEGREE1 (quorvex.h), whose texts may hold {npts},
 * {ncoef}, {xmin} and {xmax}: the call's values, for the host to fill in;
 * 20 the definition of a limit (QVXL_LIMIT_CHOICE's LODDEF and LOQDEF codes).
 * TEXT receives at most LENGTH - 1 characters and a terminating NUL; NEEDED
 * the text's whole length (without the NUL), so that a host can ask again
 * with room enough.  Flag and source texts may hold placeholders the host
 * fills in: {n} the number of roots, {lod} and {loq} the limits, {ext} the
 * reading on the straight line extended, {m} the readings averaged and {s}
 * "s" where m is not 1, {rep} the replicates' check and {range} the
 * reportable range.  A flag whose text is empty is shown elsewhere (the
 * inversion interval's column), not among the flags.
 * Statuses: 4 an unknown KIND or CODE; 3 LENGTH < 1.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_TEXT(
    const int* KIND,      /* in   1 status, 2 flag, 3 source, 4-8 verdict
                                  and limits, 9 shape test, 10-15 engine    */
    const int* CODE,      /* in   the code                                  */
    char* TEXT,           /* out  TEXT(LENGTH) the text, NUL-terminated     */
    const int* LENGTH,    /* in   room in TEXT, NUL included                */
    int* NEEDED,          /* out  the text's length                         */
    int* ISTAT);          /* out  status                                    */

/* ===========================================================================
 * Diagnostics and verdicts
 * ======================================================================== */

/* ---------------------------------------------------------------------------
 * QVXL_DIAGNOSE -- every diagnostic of a fitted calibration in one call:
 * leverages, studentized residuals, Cook's distances, the outlier test, the
 * chi-squared test of stated uncertainties, the lack-of-fit F test from
 * replicate standards, the standards read back through the curve, r and r^2.
 *
 * The fit, as OLSPFIT or GLSPFIT gave it:
 *   NCOEF (1..10), COEF, XMIN, XMAX  the curve;
 *   COV     the UNSCALED covariance C = (A'A)^-1 of the weighted design
 *           A = diag(W) G (what the fit returns);
 *   KIND    0 ordinary fit (x exact), 1 errors in variables;
 *   COVKIND 0 the stated uncertainties set the scale, 1 the scatter (SRES);
 *   NDOF    NPTS - NCOEF (else status 50);  SRES, CHI2  the fit's residual
 *           scatter and sum of squared weighted residuals (x ones included);
 *   STATED  1 when the standards carried stated u(y);
 *   X, Y    the standards (NPTS);  W  the weights the fit used (1/u(y), ones
 *           or a weighting preset; > 0, else status 51);  WRES  the weighted
 *           residuals W (y - p(x));  WRESX  the weighted x residuals
 *           (errors in variables; any one-element array otherwise).
 *
 * CRIT(10), the acceptance criteria (NaN where marked: the default rule):
 *   1 alpha, the overall false-rejection rate (0.05), shared equally by the
 *     statistical tests that apply (goodness: stated u(y) and NDOF > 0; the
 *     curve's shape: lack of fit with replicates, else the next-higher term
 *     where NCOEF <= 9 and NDOF >= 2, see QVXL_VERDICT; outliers: NDOF > 0
 *     stated, NDOF > 1 scaled);
 *   2, 3, 4  the own level of the goodness, shape, outlier test (NaN: its
 *     share of alpha);  5 tolerance % of a read-back standard (15);
 *   6 tolerance % at the lowest non-zero level (20);  7 share of standards
 *   that must read back (0.75);  8 Cook's distance marking influence (1);
 *   9 the outlier threshold (NaN: from the outlier test's level; where that
 *   test takes no share, its own level CRIT(4) if given, else 0.05);
 *   10 unused (0).
 *
 * Per standard (NPTS each):
 *   LEV     leverage h = W^2 g' C g; for errors in variables
 *           h = W'^2 g(xi)' C g(xi) at the adjusted x xi (the root of
 *           p(xi) = y - WRES/W next to x) with the effective weight
 *           W' = W |WRES| / sqrt(WRES^2 + WRESX^2), which is
 *           1 / sqrt(u(y)^2 + p'(xi)^2 u(x)^2) at the fit's minimum
 *   STUDI, STUDE  internally, externally studentized residual (NaN where h
 *           is 1 - 1e-9 or more, or too few degrees of freedom); for errors
 *           in variables of the combined normalized residual
 *           r = sign(WRES) sqrt(WRES^2 + WRESX^2)
 *   COOK    Cook's distance (NaN for errors in variables)
 *   STAT    the residual the outlier test uses: normalized r/sqrt(1 - h)
 *           (stated), externally studentized (scaled); r = W e, or the
 *           combined normalized residual for errors in variables
 *   STATX   NaN (kept for the layout: the x part is not tested apart)
 *   OFLAG   a sum of 1 |STAT| beyond the threshold, 4 Cook's distance
 *           above CRIT(8), 8 leverage 1 (pinned) with degrees of freedom
 *           left (2 is not set).  1 fails a run; 4 and 8 only show.
 *   XBACK   x read back: the root of p(x) = y nearest the standard's x, or
 *           the tangent at an end where there is none (NCOEF >= 2)
 *   PCT     100 XBACK / X (NaN for blanks, X = 0);  BLIM  its tolerance %;
 *   BPASS   1 when |PCT - 100| <= BLIM (blanks count as passed)
 * Scalars:
 *   PCHI2   P(chi2_NDOF >= CHI2); NaN without stated u(y) or without NDOF
 *   LOF(7)  SS_lack, SS_pure, F, p, dof_lack, dof_pure, levels; all NaN where
 *           the test does not apply (errors in variables, no replicates, no
 *           more levels than coefficients)
 *   OUTL(6) the threshold used; the statistic (1 normalized, 2 externally
 *           studentized, 3 combined normalized and 4 combined externally
 *           studentized for errors in variables); where the threshold came
 *           from (0 none: too few degrees of freedom, +inf; 1 normal; 2 t;
 *           3 given in CRIT(9)); t's degrees of freedom (NaN otherwise); the
 *           largest |STAT|; its standard (1-based, 0 none)
 *   BACK(3) standards tested (non-blank), passed, 1 when at least CRIT(7) of
 *           them passed (NaN for NCOEF = 1)
 *   CORR(2) r and r^2 (>= 0), weighted as the fit; r negative on a falling
 *           straight line; NaN where y does not vary
 *   LEVELS(3) the level of the goodness test, the test of the curve's shape
 *           (see QVXL_VERDICT) and the outlier test (NaN where it does not
 *           apply)
 *
 * Statuses: 1, 2, 3 (NPTS < max(1, NCOEF)), 4 (KIND, COVKIND), 5 (a value
 * not finite), 50 (NDOF differs from NPTS - NCOEF), 51 (a weight not positive
 * and finite), 52 (a criterion out of range: a level outside (0, 1), a
 * negative tolerance, a share outside [0, 1], a NaN Cook limit).  On a
 * nonzero status nothing is written.
 * ------------------------------------------------------------------------- */
#define QVXL_VERDICT_DOF_MISMATCH 50
#define QVXL_VERDICT_BAD_WEIGHT 51
#define QVXL_VERDICT_BAD_CRITERIA 52

#define QVXL_OFLAG_OUTLIER 1
#define QVXL_OFLAG_OUTLIER_X 2
#define QVXL_OFLAG_INFLUENTIAL 4
#define QVXL_OFLAG_PINNED 8

QVXL_API void QVXL_CALL QVXL_DIAGNOSE(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX,
    const int* KIND,      /* in   0 ordinary, 1 errors in variables         */
    const int* COVKIND,   /* in   0 stated, 1 scaled                        */
    const int* NDOF,      /* in   NPTS - NCOEF                              */
    const double* SRES,   /* in   residual scatter                          */
    const double* CHI2,   /* in   sum of squared weighted residuals         */
    const int* STATED,    /* in   1: the standards carried stated u(y)      */
    const int* NPTS,      /* in   number of standards                       */
    const double* X,      /* in   X(NPTS)                                   */
    const double* Y,      /* in   Y(NPTS)                                   */
    const double* W,      /* in   W(NPTS) weights                           */
    const double* WRES,   /* in   WRES(NPTS) weighted residuals             */
    const double* WRESX,  /* in   WRESX(NPTS) weighted x residuals (EIV)    */
    const double* CRIT,   /* in   CRIT(10) criteria                         */
    double* LEV,          /* out  LEV(NPTS)                                 */
    double* STUDI,        /* out  STUDI(NPTS)                               */
    double* STUDE,        /* out  STUDE(NPTS)                               */
    double* COOK,         /* out  COOK(NPTS)                                */
    double* STAT,         /* out  STAT(NPTS)                                */
    double* STATX,        /* out  STATX(NPTS)                               */
    int* OFLAG,           /* out  OFLAG(NPTS)                               */
    double* XBACK,        /* out  XBACK(NPTS)                               */
    double* PCT,          /* out  PCT(NPTS)                                 */
    double* BLIM,         /* out  BLIM(NPTS)                                */
    int* BPASS,           /* out  BPASS(NPTS)                               */
    double* PCHI2,        /* out  chi-squared p-value                       */
    double* LOF,          /* out  LOF(7)                                    */
    double* OUTL,         /* out  OUTL(6)                                   */
    double* BACK,         /* out  BACK(3)                                   */
    double* CORR,         /* out  CORR(2)                                   */
    double* LEVELS,       /* out  LEVELS(3)                                 */
    int* ISTAT);          /* out  status                                    */

/* ---------------------------------------------------------------------------
 * QVXL_VERDICT -- is a calibration fit for use: the acceptance criteria
 * applied to the diagnostics of QVXL_DIAGNOSE (same fit and CRIT arguments).
 *
 * WARNONLY: criteria whose failure only warns, a sum of 1 goodness, 2 the
 * curve's shape, 4 outliers, 8 back-calculated standards.
 *
 * The curve's shape is tested whenever the data allow it, at the level of
 * CRIT(3) or its share of CRIT(1): with replicate standards by the
 * lack-of-fit F test (LOF of QVXL_DIAGNOSE); without, by the test of the
 * next-higher term: the curve of NCOEF + 1 coefficients is fitted to the
 * same standards, weights and interval, and the drop in chi2 is tested --
 * Mandel's F test (ISO 8466-1, ISO 8466-2, DIN 38402-51; COVKIND 1, or no
 * stated u(y)), F = (CHI2 - chi2') / (chi2' / (NDOF - 1)) against
 * F(1, NDOF - 1), or with stated u(y) setting the scale (STATED 1, COVKIND
 * 0) Delta chi2 = CHI2 - chi2' against chi2(1): the test QVXL_SELECT runs on
 * added terms.  It needs NCOEF <= 9 and NDOF >= 2; errors in variables has
 * no shape test.
 *
 * One row per criterion, in that order (4 each):
 *   APPLIES  1 when the criterion was judged (a test with a share of alpha;
 *            the back-calculation for NCOEF >= 2)
 *   STATV    goodness chi2; shape F (Delta chi2 for QVXL_SHAPE_ADDED_CHI2);
 *            outliers the largest |statistic|; back-calculated the share of
 *            tested standards that passed
 *   PLIM     goodness and shape the p-value; outliers the threshold;
 *            back-calculated the share required
 *   ALPHA    the level the test ran at (NaN: none)
 *   RESULT   0 not tested, 1 pass, 2 doubtful (alpha <= p < max(0.05,
 *            alpha)), 3 fail (rejects the run), 4 failed, warning only
 *   DETAIL   goodness: 1 no degrees of freedom, 2 no stated u(y), 3 passes
 *            with a scatter much smaller than stated (1 - p < 0.01);
 *            shape: which test ran (QVXL_SHAPE_*): 0 lack-of-fit F, 3 Mandel's
 *            F of the next-higher term, 4 Delta chi2 of the next-higher term;
 *            none: 1 errors in variables, 2 no replicates and no room for a
 *            higher term (QVXL_TEXT kind 4 names each);
 *            outliers: how many; back-calculated: how many passed
 * OVERALL   1 fit for use, 2 fit for use with warnings, 0 not fit for use;
 * REASONS   why not: a sum of 1, 2, 4, 8 (the criteria that reject, as in
 *           WARNONLY), 16 no degrees of freedom, 32 a constant curve.
 *
 * Statuses: those of QVXL_DIAGNOSE; 4 also for WARNONLY outside 0..15.
 * ------------------------------------------------------------------------- */
#define QVXL_SHAPE_LACK_OF_FIT 0
#define QVXL_SHAPE_NONE_EIV 1
#define QVXL_SHAPE_NONE 2
#define QVXL_SHAPE_MANDEL 3
#define QVXL_SHAPE_ADDED_CHI2 4

#define QVXL_RESULT_NOT_TESTED 0
#define QVXL_RESULT_PASS 1
#define QVXL_RESULT_DOUBTFUL 2
#define QVXL_RESULT_FAIL 3
#define QVXL_RESULT_WARN 4

QVXL_API void QVXL_CALL QVXL_VERDICT(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX, const int* KIND, const int* COVKIND, const int* NDOF,
    const double* SRES, const double* CHI2, const int* STATED, const int* NPTS,
    const double* X, const double* Y, const double* W, const double* WRES,
    const double* WRESX, const double* CRIT,
    const int* WARNONLY,  /* in   criteria that only warn                   */
    int* APPLIES,         /* out  APPLIES(4)                                */
    double* STATV,        /* out  STATV(4)                                  */
    double* PLIM,         /* out  PLIM(4)                                   */
    double* ALPHA,        /* out  ALPHA(4)                                  */
    int* RESULT,          /* out  RESULT(4)                                 */
    int* DETAIL,          /* out  DETAIL(4)                                 */
    int* OVERALL,         /* out  overall verdict                           */
    int* REASONS,         /* out  why not fit for use                       */
    int* ISTAT);          /* out  status                                    */

/* ---------------------------------------------------------------------------
 * QVXL_TEST_VERDICT -- the verdict of one test with p-value P at level
 * ALPHA: RESULT 3 fail (P < ALPHA), 2 doubtful (P < max(0.05, ALPHA)), else
 * 1 pass (a NaN P passes); DETAIL 3 when it passes with 1 - P < 0.01 (the
 * scatter much smaller than the model allows), else 0.
 * Statuses: 52 ALPHA outside (0, 1).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_TEST_VERDICT(const double* P, const double* ALPHA, int* RESULT,
                                          int* DETAIL, int* ISTAT);

/* ===========================================================================
 * Monte Carlo inverse prediction
 * ======================================================================== */

/* ---------------------------------------------------------------------------
 * QVXL_MONTECARLO -- the distribution of x for responses read back off a
 * curve, by drawing curves and responses (GUM Supplement 1), with the check
 * of the first-order result against it.
 *
 * The curve (NCOEF 2..10, COEF, COV, XMIN, XMAX, COVKIND, NDOF, SRES,
 * WEIGHTING, STATED) and the responses with their u(y) (Y, UYMODE, UY, REPL)
 * as for QVXL_READBACK, whose first-order x, u(x), k, U and u(y) with its
 * source the function takes (NGRID as there, LEVEL for k and for the
 * interval).
 *
 * Each response has its own stream of NDRAW (>= 2) draws.  A draw takes a
 * curve c ~ N(COEF, COV) and a response Y(i) + u(y) e, e ~ N(0, 1).  With
 * COVKIND = 1 (scaled) and NDOF > 0 it also takes the scale of the scatter,
 * sigma^2 = SRES^2 NDOF / chi2_NDOF, which multiplies the curve's deviation
 * and, where u(y) came from the scatter (UYMODE 1), the response's: the
 * curves follow the scaled and shifted multivariate t distribution (GUM
 * Supplement 2, JCGM 102:2011, 6.5; GUM-S1 6.4.9 for one quantity).  The
 * draw contributes the root of the drawn curve at the drawn response nearest
 * the first-order x (its first root where there is none).
 *
 * SEED(1..2): the 64-bit seed as its low and high 32 bits (two's complement).
 * The stream of response i is seeded from SEED and FIRST + i - 1, so that a
 * set of responses split into calls (FIRST = the number of responses of the
 * set before Y(1), >= 0) gives the same results to the bit as one call, on
 * every platform.  Random numbers: Boost.Random's 64-bit Mersenne twister,
 * normal and chi-squared distributions.  Working storage: NDRAW doubles for
 * the roots of the response at hand, besides a chunk of draws.
 *
 * Per response, over the draws with a root:
 *   MEAN, SD      mean and standard deviation (divisor m - 1) of x
 *   MEDIAN        the median
 *   LOW, HIGH     the probabilistically symmetric coverage interval at LEVEL:
 *                 quantiles (1 -+ LEVEL)/2, interpolated linearly at
 *                 position p (m - 1) of the sorted roots
 *   SELOW, SEHIGH standard errors of LOW and HIGH: half the spread of the
 *                 quantiles at p -+ sqrt(p (1 - p) / m)
 * and over all draws NOROOT, SEVERAL the shares with no root in
 * [XMIN, XMAX] and with more than one.  NaN where fewer than the needed
 * draws have a root (MEAN, quantiles: 1; SD: 2).
 *
 * CHECK(i) is 0 where the first-order result is confirmed, else a sum of
 *    1  the fitted curve has no root at Y(i)
 *    2  0.1 % of the draws or more have no root
 *    4  0.1 % of the draws or more have several roots
 *    8  an end of x -+ U (U = k u(x), the first-order k) lies farther from
 *       LOW or HIGH than the larger of u(x)/10 and 4 SELOW (4 SEHIGH)
 *   16  no draw has a root
 *
 * Statuses: 1, 2, 3 (NPTS < 1, NDRAW < 2, NGRID < 1), 4, 5 (a Y not finite,
 * FIRST < 0, and READBACK's), 21, 22 as QVXL_READBACK;
 * 80 COV has a NaN or infinite element (a scaled covariance without degrees
 * of freedom); 81 COV is not positive semidefinite (an eigenvalue below
 * -1e-8 times the largest).  On a nonzero status every output is left as
 * it was.
 * ------------------------------------------------------------------------- */
#define QVXL_MC_COV_NOT_FINITE 80
#define QVXL_MC_COV_INDEFINITE 81

#define QVXL_MC_CHECK_NO_ROOT 1
#define QVXL_MC_CHECK_NO_ROOT_DRAWS 2
#define QVXL_MC_CHECK_SEVERAL_DRAWS 4
#define QVXL_MC_CHECK_INTERVAL 8
#define QVXL_MC_CHECK_NO_DRAW 16

QVXL_API void QVXL_CALL QVXL_MONTECARLO(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX,
    const int* COVKIND,   /* in   0 stated, 1 scaled                        */
    const int* NDOF,      /* in   the fit's residual degrees of freedom     */
    const double* SRES,   /* in   the fit's residual scatter                */
    const int* WEIGHTING, /* in   0 none, 1 1/x, 2 1/x2                     */
    const int* STATED,    /* in   1: the standards carried stated u(y)      */
    const int* NPTS,      /* in   number of responses                       */
    const double* Y,      /* in   Y(NPTS) responses                         */
    const int* UYMODE,    /* in   0 stated, 1 from the scatter, 2 curve only */
    const double* UY,     /* in   UY(NPTS) stated u(y) (mode 0), relative
                                  u(y) (mode 1 with STATED 1)               */
    const double* REPL,   /* in   REPL(NPTS) readings averaged (mode 1)     */
    const int* FIRST,     /* in   responses of the set before Y(1)          */
    const int* NDRAW,     /* in   draws per response (>= 2)                 */
    const double* LEVEL,  /* in   coverage probability, e.g. 0.95           */
    const int* NGRID,     /* in   grid cells of the root search (100)       */
    const int* SEED,      /* in   SEED(2) low and high 32 bits of the seed  */
    double* MEAN,         /* out  MEAN(NPTS)                                */
    double* SD,           /* out  SD(NPTS)                                  */
    double* MEDIAN,       /* out  MEDIAN(NPTS)                              */
    double* LOW,          /* out  LOW(NPTS)  coverage interval              */
    double* HIGH,         /* out  HIGH(NPTS)                                */
    double* SELOW,        /* out  SELOW(NPTS) standard error of LOW         */
    double* SEHIGH,       /* out  SEHIGH(NPTS) standard error of HIGH       */
    double* NOROOT,       /* out  NOROOT(NPTS) share of draws without root  */
    double* SEVERAL,      /* out  SEVERAL(NPTS) share with several roots    */
    int* CHECK,           /* out  CHECK(NPTS) first-order check, 0 = holds  */
    int* ISTAT);          /* out  status                                    */

/* ===========================================================================
 * Detection and quantification limits
 * ======================================================================== */

/* ---------------------------------------------------------------------------
 * QVXL_LIMITS -- detection and quantification limits of a calibration:
 * ICH Q2's LOD and LOQ, ISO 11843-2's critical value and minimum detectable
 * value at a blank, DIN 32645's limit of quantification, and where the
 * blank's scatter came from.
 *
 * The curve: NCOEF (2..10), COEF, COV (the covariance in use), XMIN, XMAX,
 * COVKIND, NDOF, SRES, WEIGHTING as for QVXL_READBACK.  The standards:
 * XSTD(NSTD) their x, WSTD(NSTD) the fit's weights W_i (1/u(y), ones, or a
 * weighting's), and with STATED = 1 their stated u(y) in UYSTD(NSTD) (pass
 * any one-element array otherwise).
 *
 * sigma_hat = 1 under the stated covariance, SRES under the scaled one.
 *   LIM(1)  sigma: SRES sqrt(mean(1/W_i^2)) over the standards at the
 *           lowest x (ICH)
 *   LIM(2)  slope S = |p'(x)| at the lowest standard
 *   LIM(3)  LOD = 3.3 sigma / S;  LIM(4) LOQ = 10 sigma / S
 *   LIM(5)  sigma0, the scatter of one reading of the blank; SOURCE:
 *             1 UBLANK(1) as given, exact (HASUB = 1)
 *             6 UBLANK(1) from readings of blanks with UBLANK(2) degrees of
 *               freedom (HASUB = 2, see QVXL_BLANK_SCATTER)
 *             7 UBLANK(1) a variance model's floor a with UBLANK(2) degrees
 *               of freedom (HASUB = 3, see QVXL_VARIANCE_AT at x = 0)
 *             2 the standards at x = BLANK: sqrt(mean((sigma_hat/W_i)^2))
 *             0 under a weighting (WEIGHTING 1 or 2) without a standard at
 *               the blank or UBLANK, or with HASUB = 3 and UBLANK(1) = 0 (a
 *               variance model without a floor, or whose fitted floor is 0;
 *               UBLANK(2) is then not read): nothing tells the blank's
 *               scatter; LIM(5) to LIM(9) are NaN, the other outputs computed
 *             4 the stated u(y) of the standards, all equal: UYSTD(1)
 *               sigma_hat (status 61 where they differ)
 *             5 the residual scatter, the same at every x: sigma_hat
 *   LIM(6)  s0 = sqrt(u(p(x0))^2 + sigma0^2 / REPL), x0 = BLANK
 *   LIM(7)  y_C = p(x0) + k_(1-ALPHA) s0 (minus on a falling curve)
 *   LIM(8)  x_C = p^-1(y_C) - x0
 *   LIM(9)  x_D = p^-1(p(x0) -+ delta s0) - x0
 *   LIM(10) k_(1-ALPHA), one-sided: Student's t with NDOF under the scaled
 *           covariance, the normal under the stated one; with SOURCE 6 or 7
 *           Student's t with the Welch-Satterthwaite degrees of freedom of
 *           s0, nu = s0^4 / (u(p(x0))^4 / nu_c + (sigma0^2/REPL)^2 / UBLANK(2)),
 *           nu_c = NDOF (scaled) or +inf (stated) (GUM G.4.1)
 *   LIM(11) delta: k_(1-ALPHA) + k_(1-BETA) (normal), or the non-centrality
 *           with P(t'(NDOF, delta) <= k_(1-ALPHA)) = BETA
 *   LIM(12) DIN 32645's LOQ: the smallest net x > 0 with
 *           x = KLOQ k_(1-ALPHA/2) u(x0 + x), u the standard uncertainty of a
 *           sample of REPL readings (its scatter sigma0 where UBLANK is given
 *           or the stated u(y) differ, else the fit's model at x); NaN where
 *           none lies below XMAX
 * p^-1 is the root nearest x0 (NaN without one).  Where x0 lies outside
 * [XMIN, XMAX] the curve is extended to it (EXTRAP = 1) and the roots are
 * sought on [XMIN - w/4, XMAX + w/4], w = XMAX - XMIN; a blank farther out
 * is refused (status 60).
 *
 * Statuses: 1, 2, 3 (NSTD < 1, REPL < 1), 4 (COVKIND, WEIGHTING, HASUB),
 * 5 (ALPHA or BETA outside (0, 0.5), KLOQ <= 0, a negative UBLANK, UBLANK(2)
 * not > 0 with HASUB 2 or 3, BLANK
 * not finite, a weight W_i or stated u(y) not positive and finite),
 * 60 QVXL_LIM_BLANK_FAR, 61 QVXL_LIM_BLANK_UNKNOWN, 62 QVXL_LIM_NO_DOF
 * (the scaled covariance with NDOF = 0).  On a nonzero status the outputs
 * are left as they were.
 * ------------------------------------------------------------------------- */
#define QVXL_LIM_BLANK_FAR 60
#define QVXL_LIM_BLANK_UNKNOWN 61
#define QVXL_LIM_NO_DOF 62

#define QVXL_BLANK_NONE 0
#define QVXL_BLANK_GIVEN 1
#define QVXL_BLANK_STANDARDS 2
#define QVXL_BLANK_LOWEST 3 /* no longer given: see QVXL_BLANK_NONE */
#define QVXL_BLANK_STATED_UY 4
#define QVXL_BLANK_RESIDUAL 5
#define QVXL_BLANK_READINGS 6
#define QVXL_BLANK_MODEL 7

QVXL_API void QVXL_CALL QVXL_LIMITS(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX,
    const int* COVKIND,   /* in   0 stated, 1 scaled                        */
    const int* NDOF,      /* in   the fit's residual degrees of freedom     */
    const double* SRES,   /* in   the fit's residual scatter                */
    const int* WEIGHTING, /* in   0 none, 1 1/x, 2 1/x2                     */
    const int* NSTD,      /* in   number of standards                       */
    const double* XSTD,   /* in   XSTD(NSTD) their x                        */
    const double* WSTD,   /* in   WSTD(NSTD) the fit's weights              */
    const int* STATED,    /* in   1: UYSTD holds stated u(y)                */
    const double* UYSTD,  /* in   UYSTD(NSTD) stated u(y) (STATED = 1)      */
    const double* ALPHA,  /* in   false positive probability, e.g. 0.05     */
    const double* BETA,   /* in   false negative probability, e.g. 0.05     */
    const double* BLANK,  /* in   x of the blank, e.g. 0                    */
    const int* REPL,      /* in   readings averaged per sample              */
    const int* HASUB,     /* in   0 none, 1 given, 2 readings, 3 model      */
    const double* UBLANK, /* in   UBLANK(1) scatter of one reading of the
                                  blank; UBLANK(2) its dof (HASUB 2, 3)      */
    const double* KLOQ,   /* in   DIN 32645's k (3)                         */
    double* LIM,          /* out  LIM(12) as above                          */
    int* SOURCE,          /* out  where sigma0 came from, 0..7              */
    int* EXTRAP,          /* out  1: the curve was extended to the blank    */
    int* ISTAT);          /* out  status                                    */

/* ---------------------------------------------------------------------------
 * QVXL_SAMPLE_LIMITS -- the limits a sample is flagged against, from the
 * detection limits of QVXL_LIMITS: LOD = BLANK + XD (ISO 11843-2's x_D,
 * where finite) and LOQ = BLANK + the larger of ICH's LOQ and DIN 32645's
 * LOQDIN (of those that are finite), in x.  HASLIM (bit 1 LOD, bit 2 LOQ) and
 * LIMITS(2) are what QVXL_READBACK takes.  Pass NaN for a limit not known.
 * Statuses: 5 BLANK not finite (nothing written).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_SAMPLE_LIMITS(
    const double* BLANK,  /* in   x of the blank                            */
    const double* XD,     /* in   ISO 11843-2's x_D, net of the blank       */
    const double* LOQ,    /* in   ICH's LOQ, net of the blank               */
    const double* LOQDIN, /* in   DIN 32645's LOQ, net of the blank         */
    int* HASLIM,          /* out  bit 1: LIMITS(1) LOD; bit 2: LIMITS(2) LOQ */
    double* LIMITS,       /* out  LIMITS(2) LOD and LOQ in x                */
    int* ISTAT);          /* out  status                                    */

/* ===========================================================================
 * Degree selection
 * ======================================================================== */

/* ---------------------------------------------------------------------------
 * QVXL_SELECT -- the degree of a calibration curve: each candidate's
 * goodness-of-fit test, the test of the terms it adds to the previous
 * candidate, Akaike's criterion, and the recommended degree.
 *
 * The standards: X(NPTS), Y(NPTS) and the fit's weights W(NPTS) (1/u(y)
 * with STATED = 1; ones or a weighting's otherwise).  DEGREES(NCAND): the
 * candidates, increasing, each 0..9.
 *
 * FITMODE 0: each candidate is fitted here by weighted least squares on
 *   [XMIN, XMAX] (the engine's OLSPFIT); CHI2(i) = sum (W r)^2 and
 *   FITSTAT(i), OLSPFIT's status (0 fitted), are outputs.
 * FITMODE 1: the caller fitted the candidates (errors in variables, say):
 *   CHI2(i) and FITSTAT(i) are inputs (FITSTAT 0: fitted), XMIN and XMAX
 *   are not read, and no lack-of-fit test is made.
 * A candidate with FITSTAT(i) != 0 is left out of every test.
 *
 * Per candidate (k = degree + 1 coefficients):
 *   DOF(i)      NPTS - k
 *   GOFTEST(i)  1 chi2 (STATED = 1): GOFP(i) = P(chi2_dof >= CHI2(i));
 *               2 lack of fit (x with replicates, more distinct x than k):
 *               the F test's p; 0 none (GOFP NaN); -1 not fitted
 *   TERMSTAT(i), TERMP(i)  the terms added since the previous fitted
 *               candidate (NaN for the first): stated, Delta chi2 against
 *               chi2 with Delta k dof; else F = (Delta chi2 / Delta k) /
 *               (CHI2(i) / DOF(i)) against F(Delta k, DOF(i))
 *   AIC(i)      CHI2 + 2k (stated); NPTS ln(CHI2 / NPTS) + 2k (NaN for
 *               CHI2 = 0)
 * BEST: the lowest candidate with DOF > 0 whose goodness-of-fit test is not
 * rejected at 5 % (or has none) and whose next fitted candidate's TERMP is
 * not below 5 % (REASON 1; 2 where it is the highest candidate); else the
 * smallest AIC among candidates with DOF > 0 (REASON 3); else the lowest
 * fitted candidate (REASON 4).
 *
 * Statuses: 1 (a degree outside 0..9), 2 (FITMODE 0: XMIN >= XMAX or
 * either not finite), 3 (NPTS < 1, NCAND < 1), 4 (FITMODE), 5 (DEGREES not
 * increasing, a value not finite, a weight not positive, a given CHI2
 * negative or NaN), 70 QVXL_SEL_NONE_FITTED (no candidate fitted: the rows
 * are written, FITSTAT says why).  On statuses 1-5 nothing is written.
 * ------------------------------------------------------------------------- */
#define QVXL_SEL_NONE_FITTED 70

#define QVXL_GOF_NONE 0
#define QVXL_GOF_CHI2 1
#define QVXL_GOF_LACK_OF_FIT 2

QVXL_API void QVXL_CALL QVXL_SELECT(
    const int* NPTS,      /* in   number of standards                       */
    const double* X,      /* in   X(NPTS)                                   */
    const double* Y,      /* in   Y(NPTS)                                   */
    const double* W,      /* in   W(NPTS) the fit's weights                 */
    const int* STATED,    /* in   1: W = 1/u(y) of stated uncertainties     */
    const double* XMIN,   /* in   the candidates' interval (FITMODE 0)      */
    const double* XMAX,
    const int* NCAND,     /* in   number of candidates                      */
    const int* DEGREES,   /* in   DEGREES(NCAND) increasing, 0..9           */
    const int* FITMODE,   /* in   0 fitted here, 1 CHI2/FITSTAT given       */
    double* CHI2,         /* i/o  CHI2(NCAND)                               */
    int* FITSTAT,         /* i/o  FITSTAT(NCAND)                            */
    int* DOF,             /* out  DOF(NCAND)                                */
    int* GOFTEST,         /* out  GOFTEST(NCAND)                            */
    double* GOFP,         /* out  GOFP(NCAND)                               */
    double* TERMSTAT,     /* out  TERMSTAT(NCAND)                           */
    double* TERMP,        /* out  TERMP(NCAND)                              */
    double* AIC,          /* out  AIC(NCAND)                                */
    int* BEST,            /* out  the recommended degree                    */
    int* REASON,          /* out  why, 1..4                                 */
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

/* ===========================================================================
 * Worksheet helpers
 * ========================================================================= */

/* ---------------------------------------------------------------------------
 * QVXL_DEFAULT_CRITERIA -- CRIT(10) of QVXL_DIAGNOSE and QVXL_VERDICT filled
 * with the library's default acceptance criteria: alpha 0.05, the three
 * tests' own levels NaN (their share of alpha), tolerance 15 %, 20 % at the
 * lowest level, share 0.75, Cook's distance 1, threshold NaN, 0.  A host
 * that changes one criterion starts from these.  Status: 0.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_DEFAULT_CRITERIA(
    double* CRIT,         /* out  CRIT(10) the default criteria             */
    int* ISTAT);          /* out  status                                    */

/* ===========================================================================
 * Variance models
 * ======================================================================== */

/* ---------------------------------------------------------------------------
 * QVXL_VARIANCE_FIT -- a model of the responses' scatter fitted to replicate
 * standards, for weights 1/sigma(x) of the curve fit and u(y) of samples.
 *
 * The standards X(NPTS), Y(NPTS) are grouped by equal x; a group of n
 * readings gives s^2 with n - 1 degrees of freedom.  MODEL:
 *   0  constant        sigma^2 = a^2
 *   1  proportional    sigma^2 = b^2 x^2
 *   2  floor           sigma^2 = a^2 + b^2 x^2  (the scatter a at the blank)
 *   3  power of mean   sigma^2 = a^2 |mu|^(2b), mu the mean response
 *  -1  chosen: the one-parameter model (0 or 1) of larger likelihood, replaced
 *      by the two-parameter model (2 or 3) of larger likelihood where the
 *      likelihood-ratio statistic 2 (l2 - l1) exceeds the chi-squared
 *      quantile with 1 degree of freedom at 1 - ALPHA.
 * Each model maximizes the likelihood of the groups' scatter, sum over groups
 * of -(nu/2)(ln sigma^2 + s^2/sigma^2) (Carroll & Ruppert 1988, ch. 3;
 * Davidian & Giltinan 1995, 2.3; the constant model's a^2 is ISO 5725-2's
 * pooled variance).
 *
 * Outputs: CHOSEN the model; PAR(2) = a, b (b of the power model may be
 * negative; a parameter the model lacks is 0); PCOV (2 x 2) the covariance of
 * theta, the inverse Fisher information: theta = (a^2, b^2) for models 0 to 2
 * (rows and columns of a parameter the model lacks 0), (ln a, b) for model 3;
 * LOGLIK(4) each model's maximum (NaN: not fitted, -inf: the model gives no
 * scatter where replicates scatter); TEST(2) the likelihood-ratio statistic
 * and its p-value (MODEL -1; NaN otherwise); NDOF(2) the replicate degrees
 * of freedom and the number of groups with replicates; SD(NPTS) sigma at each
 * standard and MU(NPTS) its group's mean response (what QVXL_VARIANCE_AT and
 * QVXL_VARIANCE_READBACK take).
 *
 * Statuses: 3 (NPTS < 2), 4 (MODEL), 5 (a NaN or infinite x or y, ALPHA
 * outside (0, 1) for MODEL -1), and
 *   100  too few groups with replicates: 1 for models 0 and 1, 3 otherwise
 *   101  every group's readings are equal: no scatter to model
 *   102  the model gives no scatter where replicates scatter (x = 0 under the
 *        proportional model, mu = 0 under the power of the mean)
 *   103  the model gives no scatter at a standard (a single reading at x = 0
 *        under the proportional model): its weight would be infinite; every
 *        output is written, SD there 0
 * On other nonzero statuses nothing is written.
 * ------------------------------------------------------------------------- */
#define QVXL_VAR_FEW_REPLICATES 100
#define QVXL_VAR_NO_SCATTER 101
#define QVXL_VAR_IMPOSSIBLE 102
#define QVXL_VAR_ZERO_AT_STANDARD 103

#define QVXL_VAR_AUTO (-1)
#define QVXL_VAR_CONSTANT 0
#define QVXL_VAR_PROPORTIONAL 1
#define QVXL_VAR_FLOOR 2
#define QVXL_VAR_POWER 3

QVXL_API void QVXL_CALL QVXL_VARIANCE_FIT(
    const int* NPTS, const double* X, const double* Y,
    const int* MODEL,     /* in   -1 chosen, 0..3 the model                 */
    const double* ALPHA,  /* in   level of the choice's test, e.g. 0.05     */
    int* CHOSEN,          /* out  the model                                 */
    double* PAR,          /* out  PAR(2) a, b                               */
    double* PCOV,         /* out  PCOV(2, 2) covariance of theta            */
    double* LOGLIK,       /* out  LOGLIK(4) each model's log-likelihood     */
    double* TEST,         /* out  TEST(2) likelihood ratio, its p-value     */
    int* NDOF,            /* out  NDOF(2) replicate dof, groups             */
    double* SD,           /* out  SD(NPTS) sigma at each standard           */
    double* MU,           /* out  MU(NPTS) its group's mean response        */
    int* ISTAT);          /* out  status                                    */

/* ---------------------------------------------------------------------------
 * QVXL_VARIANCE_FIT_RESIDUALS -- a variance model fitted to the residuals of
 * a curve of NCOEF coefficients, for standards without replicates: each
 * standard's r_i^2 / (1 - h_i) (h_i its leverage) taken as a variance with
 * one degree of freedom, the model fitted to them as QVXL_VARIANCE_FIT fits
 * replicate groups, the curve refitted with the weights 1/sigma_i, three
 * cycles (Carroll & Ruppert 1988, 3.3).  PCOV is scaled by NPTS / (NPTS -
 * NCOEF), the residuals' degrees of freedom, which NDOF(1) reports (NDOF(2)
 * = NPTS); MU the fitted curve at each standard; SD sigma there.  Other
 * arguments and outputs as QVXL_VARIANCE_FIT.  Statuses: 1 (NCOEF outside
 * 1..10), 2 (every x the same), 3 (NPTS < 2), 4, 5, 36 (the fit refused),
 * 100 (NPTS < NCOEF + 2), 101, 102, 103 (as for QVXL_VARIANCE_FIT; nothing
 * is written on any nonzero status).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_VARIANCE_FIT_RESIDUALS(
    const int* NPTS, const double* X, const double* Y,
    const int* NCOEF,     /* in   the curve's degree + 1                    */
    const int* MODEL, const double* ALPHA, int* CHOSEN, double* PAR, double* PCOV,
    double* LOGLIK, double* TEST, int* NDOF, double* SD, double* MU, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_VARIANCE_AT -- a fitted model's scatter SD(i) = sigma at X(i) (at the
 * mean response MU(i) for the power model; MU is read only for it) and the
 * degrees of freedom of its estimate, Satterthwaite's DOF(i) = 2 sigma^4 /
 * Var(sigma^2), Var by the delta method over PCOV (+inf where it is 0; for
 * the constant model the replicate degrees of freedom).  MODEL, PAR, PCOV as
 * QVXL_VARIANCE_FIT gave them.  Statuses: 3 (NPTS < 0), 4 (MODEL outside
 * 0..3), 5 (a NaN x or mu, PAR or PCOV not finite, a negative a or b for
 * models 0 to 2, a <= 0 for model 3).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_VARIANCE_AT(const int* MODEL, const double* PAR, const double* PCOV,
                                         const int* NPTS, const double* X, const double* MU,
                                         double* SD, double* DOF, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_VARIANCE_READBACK -- samples read back off a curve fitted with a
 * variance model's weights 1/sigma_j (COV its stated covariance): every output
 * of QVXL_READBACK (same meanings, same order), with
 *   u(y) = sigma(x^) / sqrt(REPL(i)) from the model at the sample's root x^
 *          (at its response for the power model; where there is no root, at
 *          the nearer end of the interval), UYSRC 3 "from the variance model";
 *   DOF  Satterthwaite's over the model's parameters for the whole of
 *        u(x)^2 = (g' C g + u(y)^2) / p'(x)^2, the curve's part written
 *        sum_j (g' C G_j)^2 / sigma_j^2 so that both parts move with them;
 *   K    Student's t with DOF at LEVEL; U = K u(x); LOW, HIGH with that K;
 *        DOF, K, U, LOW, HIGH NaN where the model gives the sample no scatter
 *        to estimate (the power model at a response of 0).
 * The standards: XSTD(NSTD) their x and MUSTD(NSTD) their mean responses
 * (QVXL_VARIANCE_FIT's MU).  XRANGE(2), HASLIM, LIMITS, NGRID, TOL as for
 * QVXL_READBACK.  Statuses: those of QVXL_READBACK and QVXL_VARIANCE_AT, 3
 * (NSTD < 1), 5 (REPL < 1), 103 (the model gives no scatter at a standard).
 * ------------------------------------------------------------------------- */
#define QVXL_UYSRC_MODEL 3

QVXL_API void QVXL_CALL QVXL_VARIANCE_READBACK(
    const int* NCOEF, const double* COEF, const double* COV, const double* XMIN,
    const double* XMAX, const int* MODEL, const double* PAR, const double* PCOV,
    const int* NSTD, const double* XSTD, const double* MUSTD, const double* XRANGE,
    const int* HASLIM, const double* LIMITS, const int* NPTS, const double* Y,
    const double* REPL, const double* LEVEL, const int* NGRID, const double* TOL, int* NROOT,
    double* ROOTS, double* UROOTS, double* UYUSED, int* UYSRC, double* UCURVE, double* DOF,
    double* K, double* U, double* LOW, double* HIGH, double* XEXT, double* UXEXT, int* FLAGS,
    int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_BLANK_SCATTER -- the scatter of one reading of the blank from NPTS
 * readings Y of blanks: SD their sample standard deviation, DOF = NPTS - 1;
 * what QVXL_LIMITS takes with HASUB = 2.  Statuses: 3 (NPTS < 2), 5 (a NaN
 * or infinite reading).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_BLANK_SCATTER(const int* NPTS, const double* Y, double* SD,
                                           double* DOF, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_RESPONSE_WEIGHTS -- weights from the responses, or per standard, as
 * the relative uncertainties UREL(NPTS) a fit with the scaled covariance
 * (COVKIND 1) takes for u(y): KIND 1 "1/y" (w_i = 1/|y_i|): UREL = sqrt(|V|);
 * KIND 2 "1/y2" (w_i = 1/y_i^2): UREL = |V|; KIND 3 a weight per standard
 * w_i = V(i): UREL = 1/sqrt(V).  V the responses (KIND 1, 2) or the weights
 * (KIND 3).  Statuses: 3 (NPTS < 0), 4 (KIND), 5 (a NaN or infinite V),
 * 104 (a response of 0, a weight not > 0, or a UREL that is 0 or infinite:
 * the weight would be infinite or undefined; UREL left as it was).
 * ------------------------------------------------------------------------- */
#define QVXL_VAR_BAD_WEIGHT 104

QVXL_API void QVXL_CALL QVXL_RESPONSE_WEIGHTS(const int* KIND, const int* NPTS, const double* V,
                                              double* UREL, int* ISTAT);

/* ===========================================================================
 * Sample workflow: replicate readings, the limits a laboratory reports
 * against, and the reported result
 * ========================================================================= */

/* Statuses of the sample workflow. */
#define QVXL_WF_BAD_GROUP 110     /* a GROUP outside 1..NGROUP, or a group empty */
#define QVXL_WF_NO_SCATTER 111    /* the fit's scatter asked for, none known     */
#define QVXL_WF_BAD_FACTOR 112    /* a factor not > 0 and finite, or u(f) < 0    */
#define QVXL_WF_BAD_RANGE 113     /* a reportable range not finite, or lowest
                                     standard above the highest                  */

/* Sample flags of the workflow (FLAGS of QVXL_READBACK carries them too). */
#define QVXL_FLAG_CAL_REJECTED 2048        /* the calibration is not fit for use */
#define QVXL_FLAG_REPLICATES_DISAGREE 4096 /* the sample's readings disagree     */
#define QVXL_FLAG_BELOW_RANGE 8192         /* below the reportable range         */

/* Definitions of the limits (LODDEF, LOQDEF; QVXL_TEXT kind 20 names them). */
#define QVXL_LOD_ISO_XC 1     /* ISO 11843-2 critical value x_C                 */
#define QVXL_LOD_ISO_XD 2     /* ISO 11843-2 minimum detectable value x_D       */
#define QVXL_LOD_ICH 3        /* ICH Q2 3.3 sigma / S                           */
#define QVXL_LOQ_ICH 11       /* ICH Q2 10 sigma / S                            */
#define QVXL_LOQ_DIN 12       /* DIN 32645 x_Q                                  */
#define QVXL_LOQ_LARGER 13    /* the larger of ICH's and DIN 32645's            */

/* ---------------------------------------------------------------------------
 * QVXL_REPLICATES -- replicate readings of samples combined: the readings
 * Y(NREAD), reading i of sample GROUP(i) (1..NGROUP, every sample with at
 * least one reading, else status 110).  Per sample g: MEAN(g), COUNT(g) = m
 * the readings, SD(g) their standard deviation (divisor m - 1; NaN for
 * m = 1), and with HASUY = 1 (UY(NREAD) the stated u(y) of each reading)
 * UMEAN(g) = sqrt(sum u_i^2) / m, the mean's (NaN with HASUY = 0: its u(y)
 * then comes from the calibration's scatter divided by sqrt(m), which
 * QVXL_READBACK gives with UYMODE 1 and REPL = COUNT).
 * Statuses: 3 (NREAD < 1, NGROUP < 1), 5 (a Y not finite, a UY negative or
 * not finite), 110.  On a nonzero status the outputs are left as they were.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_REPLICATES(
    const int* NREAD,     /* in   number of readings                        */
    const double* Y,      /* in   Y(NREAD) the readings                     */
    const int* HASUY,     /* in   1: UY holds their stated u(y)             */
    const double* UY,     /* in   UY(NREAD) (HASUY = 1)                     */
    const int* GROUP,     /* in   GROUP(NREAD) the sample of each, 1-based  */
    const int* NGROUP,    /* in   number of samples                         */
    double* MEAN,         /* out  MEAN(NGROUP)                              */
    double* UMEAN,        /* out  UMEAN(NGROUP) u(y) of the mean (HASUY)    */
    int* COUNT,           /* out  COUNT(NGROUP) readings per sample         */
    double* SD,           /* out  SD(NGROUP) their standard deviation       */
    int* ISTAT);          /* out  status                                    */

/* ---------------------------------------------------------------------------
 * QVXL_REPLICATE_CHECK -- do a sample's readings agree: NGROUP samples with
 * COUNT readings of mean MEAN and standard deviation SD (QVXL_REPLICATES),
 * X(NGROUP) the x each mean reads back to (NaN: none).  MODE says against
 * what:
 *   1  the calibration's scatter sigma(x) = SRES / W(x) (SRES unweighted,
 *      SRES sqrt(x) under 1/x, SRES |x| under 1/x2), divided by sqrt(READS)
 *      where each reading is the mean of READS measurements, with the fit's NDOF
 *      degrees of freedom: STAT = SD^2 / sigma(x)^2, P = P(F(m-1, NDOF) >=
 *      STAT); needs the scaled covariance (COVKIND 1) and NDOF >= 1, else
 *      status 111;
 *   2  a stated scatter SIGMA of one reading (the laboratory's repeatability
 *      standard deviation): STAT = (m - 1) SD^2 / SIGMA^2, P = P(chi2_(m-1)
 *      >= STAT);
 *   3  the laboratory's limit LIMIT on the relative standard deviation of
 *      the readings, in percent: STAT = 100 SD / |MEAN|, P NaN.
 * The readings disagree where P < ALPHA (modes 1, 2) or STAT > LIMIT (mode
 * 3): FLAGS(g) gains QVXL_FLAG_REPLICATES_DISAGREE (other bits are kept).
 * Samples of one reading (and, under a weighting in mode 1, without an x)
 * are not tested: STAT, P NaN.
 * Statuses: 3 (NGROUP < 1, a COUNT < 1), 4 (MODE, WEIGHTING), 5 (ALPHA
 * outside (0, 1) in modes 1 and 2, SRES negative, READS below 1, SIGMA or
 * LIMIT not > 0),
 * 111.  On a nonzero status the outputs are left as they were.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_REPLICATE_CHECK(
    const int* NGROUP,    /* in   number of samples                         */
    const int* COUNT,     /* in   COUNT(NGROUP) readings of each            */
    const double* MEAN,   /* in   MEAN(NGROUP) their mean                   */
    const double* SD,     /* in   SD(NGROUP) their standard deviation       */
    const double* X,      /* in   X(NGROUP) x read back (mode 1)            */
    const int* MODE,      /* in   1 fit's scatter, 2 SIGMA, 3 RSD limit     */
    const int* COVKIND,   /* in   0 stated, 1 scaled                        */
    const int* NDOF,      /* in   the fit's residual degrees of freedom     */
    const double* SRES,   /* in   the fit's residual scatter                */
    const int* WEIGHTING, /* in   0 none, 1 1/x, 2 1/x2                     */
    const double* READS,  /* in   measurements per reading (mode 1, >= 1)   */
    const double* SIGMA,  /* in   scatter of one reading (mode 2)           */
    const double* ALPHA,  /* in   level of the test (modes 1, 2)            */
    const double* LIMIT,  /* in   largest RSD in percent (mode 3)           */
    double* STAT,         /* out  STAT(NGROUP)                              */
    double* P,            /* out  P(NGROUP)                                 */
    int* FLAGS,           /* in/out  FLAGS(NGROUP) sample flags             */
    int* ISTAT);          /* out  status                                    */

/* ---------------------------------------------------------------------------
 * QVXL_LIMIT_CHOICE -- the limits a sample is flagged against, by the
 * laboratory's definitions, and the reportable range.  LIM(12) as
 * QVXL_LIMITS gives it (net of the blank BLANK).
 *   LODDEF  0 default (2); 1 ISO 11843-2 x_C (LIM(8)); 2 ISO 11843-2 x_D
 *           (LIM(9)); 3 ICH 3.3 sigma / S (LIM(3))
 *   LOQDEF  0 default (13); 11 ICH 10 sigma / S (LIM(4)); 12 DIN 32645 x_Q
 *           (LIM(12)); 13 the larger of both (of those that are finite)
 * HASLIM, LIMITS(2) as QVXL_SAMPLE_LIMITS: BLANK + each limit, where finite;
 * RANGE(2) the reportable range (ICH Q2(R2)): from the larger of the LOQ
 * and the lowest standard XSTD(1) to the highest standard XSTD(2).  An LOQ
 * above the highest standard leaves the range empty (RANGE(1) > RANGE(2)).
 * Statuses: 4 (LODDEF, LOQDEF), 5 (BLANK, XSTD not finite), 113 (XSTD(1) >
 * XSTD(2)).  On a nonzero status the outputs are left as they were.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_LIMIT_CHOICE(
    const double* LIM,    /* in   LIM(12) of QVXL_LIMITS                    */
    const double* BLANK,  /* in   x of the blank                            */
    const int* LODDEF,    /* in   definition of the LOD                     */
    const int* LOQDEF,    /* in   definition of the LOQ                     */
    const double* XSTD,   /* in   XSTD(2) lowest and highest standard       */
    int* HASLIM,          /* out  bit 1: LIMITS(1) LOD; bit 2: LIMITS(2) LOQ */
    double* LIMITS,       /* out  LIMITS(2) LOD and LOQ in x                */
    double* RANGE,        /* out  RANGE(2) the reportable range             */
    int* ISTAT);          /* out  status                                    */

/* ---------------------------------------------------------------------------
 * QVXL_REPORTED -- the result a laboratory reports for each of NPTS samples
 * read off a curve: X, UX, DOF the x, u(x) and its degrees of freedom as
 * QVXL_READBACK gave them (NaN: no root; for a straight line without a root
 * a host may pass XEXT, UXEXT there, the reading on the line extended, which
 * is then compared with the range and limits as a root is, FLAGS gaining
 * QVXL_FLAG_BELOW_LOD or QVXL_FLAG_BELOW_LOQ where it lies below them),
 * LEVEL the coverage probability.
 *
 * The factor: HASF bit 1: FACTOR(NPTS) the dilution or preparation factor f
 * of each sample (> 0; else 1); bit 2: UFACTOR(NPTS) its standard
 * uncertainty (>= 0; else 0).  VALUE = f x with (GUM 5.1.2)
 *   UVALUE^2 = (f u(x))^2 + (x u(f))^2,
 * DOFV by Welch-Satterthwaite (GUM G.4.1) with u(f) of infinite degrees of
 * freedom (DOF itself where u(f) = 0), K Student's t with DOFV (normal for
 * +inf) at two-sided LEVEL, U = K UVALUE.  With f = 1 and u(f) = 0, UVALUE,
 * DOFV, K and U are READBACK's UX, DOF, K and U to the bit.
 *
 * FLAGS(NPTS), in/out, gains QVXL_FLAG_CAL_REJECTED on every sample where
 * OVERALL = 0 (QVXL_VERDICT's verdict: not fit for use; 1 and 2 add
 * nothing), and QVXL_FLAG_BELOW_RANGE where X < RANGE(1), the reportable
 * range of QVXL_LIMIT_CHOICE, or, without a root (X NaN), where FLAGS has
 * QVXL_FLAG_BELOW_LOWEST (below the LOD then: where it has
 * QVXL_FLAG_BELOW_LOD).  RULE, what is reported below the range:
 *   0  the value with its flag (CENSOR 0);
 *   1  "< RANGE(1) f": CENSOR 1, VALUE = RANGE(1) f;
 *   2  as 1, and below the LOD (HASLIM bit 1, LIMITS(1); bit 2 LIMITS(2)
 *      the LOQ) "< LOD f":
 *      CENSOR 2, VALUE = LIMITS(1) f.
 * A censored sample's UVALUE, DOFV, K and U are NaN.
 * Statuses: 3 (NPTS < 1), 4 (RULE, OVERALL, HASF outside 0..3), 5 (LEVEL
 * outside (0, 1), a known LOD or LOQ not finite), 112 (a factor not > 0 and
 * finite, a u(f) negative or not finite), 113 (RANGE not finite).  On a
 * nonzero status the outputs are left as they were.
 * ------------------------------------------------------------------------- */
#define QVXL_CENSOR_NONE 0
#define QVXL_CENSOR_RANGE 1
#define QVXL_CENSOR_LOD 2

QVXL_API void QVXL_CALL QVXL_REPORTED(
    const int* NPTS,      /* in   number of samples                         */
    const double* X,      /* in   X(NPTS) x read back                       */
    const double* UX,     /* in   UX(NPTS) its standard uncertainty         */
    const double* DOF,    /* in   DOF(NPTS) its degrees of freedom          */
    const double* LEVEL,  /* in   coverage probability, e.g. 0.95           */
    const int* OVERALL,   /* in   the calibration's verdict (QVXL_VERDICT)  */
    const double* RANGE,  /* in   RANGE(2) the reportable range             */
    const int* HASLIM,    /* in   bit 1: LIMITS(1) is the LOD               */
    const double* LIMITS, /* in   LIMITS(2) LOD and LOQ in x                */
    const int* RULE,      /* in   0 value and flag, 1 "< range", 2 "< LOD"  */
    const int* HASF,      /* in   bit 1 FACTOR given, bit 2 UFACTOR given   */
    const double* FACTOR, /* in   FACTOR(NPTS)                              */
    const double* UFACTOR,/* in   UFACTOR(NPTS)                             */
    double* VALUE,        /* out  VALUE(NPTS) the reported value            */
    double* UVALUE,       /* out  UVALUE(NPTS) its standard uncertainty     */
    double* DOFV,         /* out  DOFV(NPTS) its degrees of freedom         */
    double* K,            /* out  K(NPTS) coverage factor                   */
    double* U,            /* out  U(NPTS) expanded uncertainty              */
    int* CENSOR,          /* out  CENSOR(NPTS) 0 value, 1 "< range", 2 "< LOD" */
    int* FLAGS,           /* in/out  FLAGS(NPTS) sample flags               */
    int* ISTAT);          /* out  status                                    */

/* ===========================================================================
 * Correlated standards: the generalized Gauss-Markov fit, the covariance of
 * the standards from its sources, and inverse prediction with the joint
 * covariance of the results.  Statuses 90-99.
 * ======================================================================== */

/* ---------------------------------------------------------------------------
 * QVXL_GGM_FIT -- a curve fitted to standards whose x and y values carry a
 * full covariance matrix (generalized Gauss-Markov regression, ISO/TS 28037
 * clause 10, for every degree the library fits).
 *
 * The standards: X(NPTS), Y(NPTS), and V (2 NPTS x 2 NPTS) the covariance of
 * (x_1..x_NPTS, y_1..y_NPTS): [[Ux, Uxy], [Uxy', Uy]] (QVXL_GGM_COMPONENTS
 * and QVXL_GGM_DILUTION build it).  NCOEF = degree + 1 (1..10), at most NPTS.
 * The fit minimises (z - zeta)' V^-1 (z - zeta), z = (x, y), zeta = (xi,
 * p(xi)), over the coefficients and the true x values xi, on L^-1 (z - zeta)
 * with V = L L': Newton steps through the QR factorization of the Jacobian
 * (Gauss-Newton steps where the full Hessian is not positive definite); a
 * step that raises the sum is halved.  Where the x values carry no
 * uncertainty at all (Ux and Uxy zero) they are exact: the fit is then
 * generalized least squares in y (ISO/TS 28037 clause 9), XADJ = X and
 * GAIN's x columns zero.
 *
 * DEFAULTS says which options are given (a sum): 1 INTERVAL, 2 TOL, 4 MAXIT;
 * those not given are chosen, and on return every one holds the value used.
 * DEFAULTS bit 8 fits with V's diagonal only: the same variances with every
 * correlation ignored, to show what ignoring them does.
 *   INTERVAL(2)  the standards' range widened on each side by
 *                max(10 max u(x), 5 % of the range), u(x)^2 = diag Ux
 *   TOL          1e-8: the iteration stops when the step, measured in
 *                standard uncertainties (||J delta||), is at most
 *                TOL max(1, sqrt(CHI2)), or when, below 1e-5 of them, it
 *                stops shrinking (the rounding floor of large values with
 *                small uncertainties)
 *   MAXIT        100 iterations
 *
 * Outputs: COEF(NCOEF) and their covariance COV (NCOEF x NCOEF, first order,
 * as stated by V: not scaled by CHI2); CHI2 the minimum, NDOF = NPTS - NCOEF
 * its degrees of freedom; XADJ(NPTS) the adjusted x values xi, FITTED(NPTS)
 * the curve at them; GAIN (NCOEF x 2 NPTS) the sensitivities dCOEF/dz at the
 * solution (GAIN V GAIN' = COV), which QVXL_GGM_INVERSE needs for readings
 * that share errors with the standards.  INFO(3): iterations; the standard
 * a status names (0 none); 1 where it is that standard's x, 2 its y.
 *
 * Statuses: 1; 2 (a given interval empty or not finite); 3 (NPTS < 1, NPTS
 * < NCOEF); 5 (a NaN or infinite x, y or V entry, TOL not > 0, MAXIT < 1);
 *   90  V is not positive definite (or singular to working precision): its
 *       Cholesky factorization stops at the x or y of standard INFO(2)
 *   91  V is not symmetric: an entry of standard INFO(2)'s x or y differs
 *       from its mirror by more than 1e-10 sqrt(V_ii V_jj)
 *   92  MAXIT reached before the step fell below TOL: every output written,
 *       the fit unconverged
 *   93  the Jacobian is rank deficient (the adjusted x values cannot fix
 *       NCOEF coefficients): only INFO written
 *   95  the standards share one x: the default interval is empty
 * On 1 to 5, 90, 91 and 95 only INFO is written.
 * ------------------------------------------------------------------------- */
#define QVXL_GGM_NOT_POSITIVE 90
#define QVXL_GGM_NOT_SYMMETRIC 91
#define QVXL_GGM_NO_CONVERGENCE 92
#define QVXL_GGM_DEGENERATE 93
#define QVXL_GGM_BAD_CHAIN 94
#define QVXL_GGM_NO_SPREAD 95
#define QVXL_GGM_INCONSISTENT 96

#define QVXL_GGM_OPT_INTERVAL 1
#define QVXL_GGM_OPT_TOL 2
#define QVXL_GGM_OPT_MAXIT 4
#define QVXL_GGM_IGNORE 8

QVXL_API void QVXL_CALL QVXL_GGM_FIT(
    const int* NPTS, const double* X, const double* Y,
    const double* V,      /* in   V(2 NPTS, 2 NPTS) covariance of (x, y)    */
    const int* NCOEF,     /* in   degree + 1                                */
    const int* DEFAULTS,  /* in   1 INTERVAL 2 TOL 4 MAXIT given; 8 diagonal */
    double* INTERVAL,     /* in/out  INTERVAL(2) xmin, xmax                 */
    double* TOL,          /* in/out                                         */
    int* MAXIT,           /* in/out                                         */
    double* COEF, double* COV, double* CHI2, int* NDOF, double* XADJ, double* FITTED,
    double* GAIN,         /* out  GAIN(NCOEF, 2 NPTS)                       */
    int* INFO,            /* out  INFO(3)                                   */
    int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_GGM_COMPONENTS -- the covariance V (2 NPTS x 2 NPTS) of the standards'
 * (x, y) from named common sources and independent parts (GUM 5.2.2):
 *   V = [ADD = 1: V as given] + diag(UXIND^2, UYIND^2) + sum_s u_s u_s',
 *   u_s = (UXSRC(1..NPTS, s), UYSRC(1..NPTS, s)),
 * UXIND(NPTS), UYIND(NPTS) >= 0 the independent standard uncertainties;
 * UXSRC, UYSRC (NPTS x NSRC) each value's standard uncertainty from source s
 * (a stock, a balance, a pipette, drift), signed by its direction: one
 * source's contributions fully correlated, different sources independent.
 * NSRC = 0 leaves UXSRC and UYSRC unread.  Statuses: 3 (NPTS < 1, NSRC < 0),
 * 4 (ADD not 0 or 1), 5 (a negative, NaN or infinite value); V unchanged.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_GGM_COMPONENTS(const int* NPTS, const int* NSRC, const double* UXIND,
                                            const double* UYIND, const double* UXSRC,
                                            const double* UYSRC, const int* ADD, double* V,
                                            int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_GGM_DILUTION -- the x block of V (2 NPTS x 2 NPTS) from a dilution
 * chain (ISO 6143 5.4.2): standard i (value X(i)) prepared from standard
 * PARENT(i) (1..NPTS), or from the stock (PARENT(i) = 0), by a step of
 * relative standard uncertainty REL(i); RSTOCK the stock's relative standard
 * uncertainty.  To first order
 *   Ux(i, j) = X(i) X(j) (RSTOCK^2 + sum of REL(k)^2 over the steps k on
 *              both paths from the stock to i and to j),
 * added to V where ADD = 1 (else V is set: its other blocks zero).
 * Statuses: 3 (NPTS < 1), 4 (ADD), 5 (a NaN X, a negative or NaN REL or
 * RSTOCK), 94 (a chain that does not reach the stock: a parent outside
 * 0..NPTS or a loop; IBAD the first such standard).  V unchanged on a status.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_GGM_DILUTION(const int* NPTS, const double* X, const int* PARENT,
                                          const double* REL, const double* RSTOCK, const int* ADD,
                                          double* V, int* IBAD, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_GGM_INVERSE -- samples read off a curve of QVXL_GGM_FIT, with the
 * joint covariance of the results (GUM 5.2, first order):
 *   X(s)  the first root of p(x) = YS(s) in [XMIN, XMAX] (IPVAL's grid of
 *         100 cells), NaN without one;
 *   COVX(s, t) = (VS(s, t) - g_s' GAIN CZS(., t) - g_t' GAIN CZS(., s)
 *                 + g_s' COV g_t) / (p'(x_s) p'(x_t)),  UX = sqrt(diag COVX).
 * VS (M x M) the covariance of the samples' responses; with SHARED = 1,
 * CZS (2 NSTD x M) their covariance with the standards' (x, y) (a drift or
 * stock they share) and GAIN (NCOEF x 2 NSTD) the fit's; SHARED = 0 leaves
 * GAIN and CZS unread; SHARED = 2 ignores every correlation (VS's diagonal
 * only, nothing shared), for comparison.  Rows and columns of samples
 * without a root NaN (QVXL_GGM_SHARED builds VS and CZS from named sources).
 * Statuses: 1 (NCOEF outside 2..10), 2, 3 (M < 1, NSTD < 1 with SHARED),
 * 4 (SHARED outside 0..2), 5 (a NaN or infinite input, a negative VS(s, s)), 96 (a
 * variance comes out negative: VS, CZS and the fit's V are inconsistent; its
 * UX NaN, every output written).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_GGM_INVERSE(const int* NCOEF, const double* COEF, const double* COV,
                                         const double* XMIN, const double* XMAX, const int* NSTD,
                                         const double* GAIN, const int* M, const double* YS,
                                         const double* VS, const int* SHARED, const double* CZS,
                                         double* X, double* COVX, double* UX, int* ISTAT);


/* ---------------------------------------------------------------------------
 * QVXL_GGM_SHARED -- what M samples share with each other and with NSTD
 * standards, from NSRC named sources (an instrument's drift, a common stock):
 *   VS (M x M)          = diag(UYIND^2) + sum_k USMP(., k) USMP(., k)'
 *   CZS (2 NSTD x M)    = sum_k USTD(., k) USMP(., k)'
 * USTD (2 NSTD x NSRC) each source's contribution to the standards' (x, y)
 * as QVXL_GGM_COMPONENTS takes it (x rows first), USMP (M x NSRC) to the
 * samples' responses, UYIND(M) the samples' independent u(y).  NSRC = 0
 * leaves USTD and USMP unread.  Statuses: 3 (NSTD < 1, M < 1, NSRC < 0),
 * 5 (a NaN or infinite value, a negative UYIND).
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_GGM_SHARED(const int* NSTD, const int* M, const int* NSRC,
                                        const double* USTD, const double* USMP,
                                        const double* UYIND, double* VS, double* CZS,
                                        int* ISTAT);

/* ===========================================================================
 * Acceptance criteria presets
 * ======================================================================== */

/* ---------------------------------------------------------------------------
 * QVXL_CRITERIA_PRESET -- a named set of acceptance criteria: CRIT(10) and
 * WARNONLY as QVXL_DIAGNOSE and QVXL_VERDICT take them, and EXTRA(2) the
 * rules QVXL_CRITERIA_EXTRA adds (a least number of levels, an RSE limit).
 *
 *   PRESET 0  quorvex (the default): the statistical tests share alpha 0.05
 *             and reject; standards read back within 15 % (20 % at the lowest
 *             level) for at least 75 % of them.
 *          1  ICH M10 (2022) 3.2.5, chromatographic calibration standards:
 *             read back within 15 %, 20 % at the LLOQ, at least 75 % of them
 *             over at least 6 non-zero levels (EXTRA(1) = 6); the statistical
 *             tests only warn (WARNONLY 7).
 *          2  US EPA SW-846 Method 8000D 11.5, relative standard error:
 *             RSE = 100 sqrt(sum ((x'_i - x_i)/x_i)^2 / (n - p)) <= 20 %
 *             (EXTRA(2) = 20) over the n non-blank standards, p = NCOEF; the
 *             read-back row shows 30 % (50 % at the lowest) without a share
 *             required; the statistical tests only warn.
 *          3  US EPA SW-846 Method 8000D, the error of each standard: every
 *             standard read back within 30 %, 50 % at the lowest level
 *             (share 1); the statistical tests only warn.
 *          4  assay: every standard read back within 2 % (share 1); the
 *             statistical tests reject as in the default.
 * EXTRA(1) the least number of distinct non-zero levels among the standards
 * that read back within their limits (0: no such rule); EXTRA(2) the largest
 * RSE in % (NaN: no such rule).
 * Statuses: 120 an unknown PRESET (outputs left as they were).
 * ------------------------------------------------------------------------- */
#define QVXL_PRESET_UNKNOWN 120
#define QVXL_PRESET_BAD_RULE 121

#define QVXL_PRESET_QUORVEX 0
#define QVXL_PRESET_ICH_M10 1
#define QVXL_PRESET_EPA_8000D_RSE 2
#define QVXL_PRESET_EPA_8000D_EACH 3
#define QVXL_PRESET_ASSAY 4

QVXL_API void QVXL_CALL QVXL_CRITERIA_PRESET(const int* PRESET, double* CRIT, int* WARNONLY,
                                             double* EXTRA, int* ISTAT);

/* ---------------------------------------------------------------------------
 * QVXL_CRITERIA_EXTRA -- the rules of EXTRA(2) (QVXL_CRITERIA_PRESET) on a
 * fit's read-back standards, folded into the verdict.
 *
 * NCOEF (1..10) the curve's coefficients; X(NPTS) the standards' nominal x;
 * XBACK and BPASS (NPTS) as QVXL_DIAGNOSE gave them; EXTRA(2) the rules;
 * WARNEXTRA a sum of 1 (levels), 2 (RSE): rules whose failure only warns;
 * OVERALLIN the OVERALL of QVXL_VERDICT.
 *   STATV(1)  distinct non-zero x among the standards with BPASS 1
 *   STATV(2)  the RSE in % over the non-blank standards (NaN where there are
 *             no more of them than NCOEF, or one was not read back)
 *   RESULT(2) per rule: 0 not judged, 1 pass, 3 fail, 4 failed, warning
 *             only (a NaN RSE fails)
 *   OVERALL   OVERALLIN, made 0 (not fit for use) by a rule that fails, 2
 *             (with warnings) by one that warns; 0 stays 0.
 * Statuses: 1, 3 (NPTS < 1), 4 (WARNEXTRA outside 0..3, OVERALLIN outside
 * 0..2), 5 (an X not finite), 121 (EXTRA(1) < 0, EXTRA(2) not NaN and not
 * > 0).  On a nonzero status nothing is written.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_CRITERIA_EXTRA(const int* NCOEF, const int* NPTS, const double* X,
                                            const double* XBACK, const int* BPASS,
                                            const double* EXTRA, const int* WARNEXTRA,
                                            const int* OVERALLIN, double* STATV, int* RESULT,
                                            int* OVERALL, int* ISTAT);

/* ===========================================================================
 * Traceability
 * ======================================================================== */

/* ---------------------------------------------------------------------------
 * QVXL_VERSION -- the version of this library as it was built: MAJOR, MINOR,
 * PATCH (that of the quorvex release it belongs to).  A record of a
 * calculation names it beside the file's SHA-256.  Status: always 0.
 * ------------------------------------------------------------------------- */
QVXL_API void QVXL_CALL QVXL_VERSION(int* MAJOR, int* MINOR, int* PATCH, int* ISTAT);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_LAB_H */
