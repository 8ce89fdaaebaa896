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
 * curves follow the scaled and shifted t distribution (GUM-S1 6.4.9).  The
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
    const double* UY,     /* in   UY(NPTS) stated u(y) (mode 0)             */
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

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_LAB_H */
