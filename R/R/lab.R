# The laboratory library (libQUORVEXlab1): every rule a laboratory applies
# around a fitted curve, once, in C++.  This file converts R arguments for it,
# calls it through the glue and turns its statuses into conditions; it computes
# nothing itself.

# Sample flags: the bits of QVXL_READBACK's FLAGS.
FLAG_NO_ROOT <- 1L
FLAG_SEVERAL_ROOTS <- 2L
FLAG_AT_END <- 4L
FLAG_INTERVAL_OPEN <- 8L
FLAG_BELOW_LOWEST <- 16L
FLAG_ABOVE_HIGHEST <- 32L
FLAG_BELOW_BLANK <- 64L
FLAG_BELOW_LOD <- 128L
FLAG_BELOW_LOQ <- 256L
FLAG_FLAT <- 512L
FLAG_NO_SCALE <- 1024L
FLAG_CAL_REJECTED <- 2048L

# Where u(y) came from (UYSRC) and how it is asked for (UYMODE).
UYSRC_STATED <- 0L
UYSRC_SCATTER <- 1L
UYSRC_CURVE_ONLY <- 2L
UYMODE <- c(stated = 0L, scatter = 1L, "curve-only" = 2L)

# Distributions and what is asked of them (QVXL_DISTRIBUTION).
DIST <- c(normal = 1L, t = 2L, chisq = 3L, f = 4L, nct = 5L)

# The library's texts (QVXL_TEXT): kind 1 a status, 2 a sample flag (one bit),
# 3 a source of u(y), 4 the test of the curve's shape a verdict ran, 20 the definition of a
# limit; NULL for a
# code without one.  Kept once asked for.
TEXT_KIND <- c(status = 1L, flag = 2L, source = 3L, shape = 9L, limit = 20L)
# The definitions the LOD and LOQ samples are flagged against take (the
# library's defaults: ISO 11843-2 x_D; the larger of ICH's and DIN 32645's).
LIMIT_LOD_DEFAULT <- 2L
LIMIT_LOQ_DEFAULT <- 13L
lab_texts <- new.env(parent = emptyenv())

lab_text <- function(kind, code) {
  key <- paste(kind, code)
  if (!exists(key, envir = lab_texts, inherits = FALSE)) {
    assign(key, .Call(qvx_text, TEXT_KIND[[kind]], as.integer(code)), envir = lab_texts)
  }
  get(key, envir = lab_texts, inherits = FALSE)
}

# A text's placeholders ({n}, {ext}, ...) filled in from `fields` (named
# character vectors, one element per text or one for all).
fill_text <- function(template, fields) {
  out <- rep(template, max(1L, lengths(fields)))
  for (f in names(fields)) {
    v <- rep_len(fields[[f]], length(out))
    for (i in seq_along(out)) out[i] <- gsub(paste0("{", f, "}"), v[i], out[i], fixed = TRUE)
  }
  out
}

lab_error <- function(what, routine, code) {
  text <- lab_text("status", code)
  if (is.null(text)) text <- "an unexpected status"
  stop(quorvex_condition(sprintf("%s: %s (%s status %d)", what, text, routine, as.integer(code)),
                         "quorvex_fit_error", routine = routine, code = as.integer(code)))
}

# R's NA where the library gives NaN for "none" (no root, no interval).
na_for_nan <- function(v) {
  v[is.nan(v)] <- NA_real_
  v
}

# QVXL_DISTRIBUTION, element by element over p (what = 1) or x (2, 3) and the
# parameters (recycled to one length).
lab_distribution <- function(dist, what, par1 = 0, par2 = 0, p = 0, x = 0) {
  n <- max(length(par1), length(par2), length(p), length(x))
  r <- .Call(qvx_distribution, DIST[[dist]], as.integer(what), rep_len(as.double(par1), n),
             rep_len(as.double(par2), n), rep_len(as.double(p), n), rep_len(as.double(x), n))
  bad <- which(r$status != 0L)
  if (length(bad)) {
    lab_error(if (what == 1L) "quantile" else "tail probability", "QVXL_DISTRIBUTION",
              r$status[bad[1]])
  }
  r
}

# The quantile with lower-tail probability p (Boost.Math, as every host has it).
lab_quantile <- function(dist, p, par1 = 0, par2 = 0) lab_distribution(dist, 1L, par1, par2, p = p)$x

# P(T > x) and P(T <= x).
lab_upper_tail <- function(dist, x, par1 = 0, par2 = 0) lab_distribution(dist, 2L, par1, par2, x = x)$p
lab_lower_tail <- function(dist, x, par1 = 0, par2 = 0) lab_distribution(dist, 3L, par1, par2, x = x)$p

# LOD and LOQ in x that samples are flagged against, from detection limits made
# by lod(): the laboratory library's rule (QVXL_SAMPLE_LIMITS); NA where not
# known.
limit_values <- function(limits) {
  if (is.null(limits)) return(c(lod = NA_real_, loq = NA_real_))
  num <- function(v) if (is.null(v) || is.na(v)) NaN else as.double(v)
  r <- .Call(qvx_sample_limits, num(limits$blank), num(limits$x_detection), num(limits$loq),
             num(limits$loq_din))
  if (r$status != 0L) lab_error("sample limits", "QVXL_SAMPLE_LIMITS", r$status)
  c(lod = if (bitwAnd(r$haslim, 1L)) r$limits[1] else NA_real_,
    loq = if (bitwAnd(r$haslim, 2L)) r$limits[2] else NA_real_)
}

# QVXL_READBACK: responses y read back off the calibration's curve.  uymode
# "stated" reads u_y (one per response), "scatter" the replicates (one per
# response), "curve-only" neither.
lab_readback <- function(cal, y, uymode, u_y = NULL, replicates = NULL, level = 0.95,
                         ngrid = 100L, tol = 0, extrapolate = FALSE, limits = NULL) {
  lim <- limit_values(limits)
  haslim <- (if (is.na(lim[["lod"]])) 0L else 1L) + (if (is.na(lim[["loq"]])) 0L else 2L)
  weighting <- if (is.null(cal$weighting)) 0L else match(cal$weighting, c("1/x", "1/x2"))
  r <- .Call(qvx_readback, as.double(cal$chebyshev$coef), as.double(cal$cov_used),
             cal$interval[1], cal$interval[2], if (cal$covariance == "scaled") 1L else 0L,
             as.integer(cal$dof), as.double(cal$sres), as.integer(weighting),
             !is.null(cal$u_y), as.double(range(cal$x)), haslim,
             as.double(ifelse(is.na(lim), 0, lim)), as.double(y), UYMODE[[uymode]],
             if (!is.null(u_y)) as.double(u_y) else 1, if (uymode == "scatter")
               as.double(replicates) else 1, as.double(level), as.integer(ngrid),
             as.double(tol), isTRUE(extrapolate))
  if (r$status != 0L) lab_error("inverse prediction", "QVXL_READBACK", r$status)
  attr(r, "limits") <- lim
  r
}

# QVXL_REPORTED: the reported result of samples read back (r, as lab_readback
# gave it) off a calibration whose verdict is `fit_for_use`; no factor, the
# value with its flags.  Returns the library's list (value, u, dof, k, U,
# censor, flags).
lab_reported <- function(cal, r, fit_for_use, level = 0.95) {
  x <- r$roots[1, ]
  rep <- .Call(qvx_reported, as.double(x), as.double(r$u_roots[1, ]), as.double(r$dof),
               as.double(level), if (isTRUE(fit_for_use)) 1L else 0L, as.double(range(cal$x)),
               0L, c(0, 0), 0L, double(), double(), as.integer(r$flags))
  if (rep$status != 0L) lab_error("reported result", "QVXL_REPORTED", rep$status)
  rep
}

# ---- Diagnostics and verdicts (QVXL_DIAGNOSE, QVXL_VERDICT, QVXL_TEST_VERDICT)

# The outlier flags per standard (OFLAG), the residual statistic and where the
# outlier threshold came from (OUTL(2), OUTL(3)).
OFLAG_OUTLIER <- 1L
OFLAG_OUTLIER_X <- 2L
OFLAG_INFLUENTIAL <- 4L
OFLAG_PINNED <- 8L
STATISTIC_NAMES <- c("normalized residual", "studentized residual", "combined normalized residual",
                     "combined studentized residual")
# Verdict rows (criteria in order), results, details and reasons.
RESULT_WORDS <- c("not tested", "pass", "doubtful", "fail", "fail")
RESULT_FAIL <- 3L
RESULT_WARN <- 4L
DETAIL_SMALL_SCATTER <- 3L
REASON_NO_DOF <- 16L
REASON_CONSTANT <- 32L

# CRIT(10) of QVXL_DIAGNOSE from acceptance criteria (NULL levels: NaN, the
# library's share of alpha), with a given outlier threshold or Cook limit.
criteria_vector <- function(crit, threshold = NULL, cook = crit$cook) {
  nan <- function(v) if (is.null(v)) NaN else as.double(v)
  c(crit$alpha, nan(crit$alpha_goodness), nan(crit$alpha_lack_of_fit), nan(crit$alpha_outliers),
    crit$tolerance, crit$tolerance_lowest, crit$back_fraction, as.double(cook), nan(threshold), 0)
}

# The fit's arguments of QVXL_DIAGNOSE and QVXL_VERDICT: the unscaled
# covariance, the weights and weighted residuals the fit used.
fit_arguments <- function(cal) {
  eiv <- cal$kind == "gls"
  list(as.double(cal$chebyshev$coef), as.double(cal$chebyshev$cov), cal$interval[1],
       cal$interval[2], if (eiv) 1L else 0L, if (cal$covariance == "scaled") 1L else 0L,
       as.integer(cal$dof), as.double(cal$sres), as.double(cal$chi2), !is.null(cal$u_y),
       as.double(cal$x), as.double(cal$y), as.double(cal$weights),
       as.double(cal$weighted_residuals),
       if (eiv) as.double(cal$weighted_residuals_x) else 0)
}

lab_diagnose <- function(cal, cv) {
  r <- do.call(.Call, c(list(qvx_diagnose), fit_arguments(cal), list(as.double(cv))))
  if (r$status != 0L) lab_error("diagnostics", "QVXL_DIAGNOSE", r$status)
  r
}

lab_verdict <- function(cal, cv, warn_only = character()) {
  wo <- sum(bitwShiftL(1L, match(intersect(warn_only, CRITERIA), CRITERIA) - 1L))
  r <- do.call(.Call, c(list(qvx_verdict), fit_arguments(cal),
                        list(as.double(cv), as.integer(wo))))
  if (r$status != 0L) lab_error("verdict", "QVXL_VERDICT", r$status)
  r
}

# list(result, detail) of one test with p-value p at level alpha.
lab_test_verdict <- function(p, alpha) {
  r <- .Call(qvx_test_verdict, as.double(p), as.double(alpha))
  if (r$status != 0L) lab_error("test verdict", "QVXL_TEST_VERDICT", r$status)
  r
}

# ---- Monte Carlo inverse prediction (QVXL_MONTECARLO)

# The 64-bit seed of a run as QVXL_MONTECARLO takes it: its low and high 32
# bits, each as R's integer of the same bits.  A seed is a whole number in
# 0 .. 2^53 (R's numbers hold every integer exactly up to there), or a string
# of decimal digits for the whole range 0 .. 2^64 - 1, as the Python package
# takes them.
MAX_SEED_DIGITS <- "18446744073709551615"

seed_words <- function(seed) {
  refuse <- function() {
    input_error("seed must be a whole number in 0 .. 2^53, or a string of decimal digits ",
                "in 0 .. ", MAX_SEED_DIGITS, " (a 64-bit seed, as the Python package takes)")
  }
  if (is.character(seed)) {
    if (length(seed) != 1L || is.na(seed) || !grepl("^[0-9]{1,20}$", seed)) refuse()
    # Base 10 to four 16-bit limbs, least significant first.
    limbs <- c(0, 0, 0, 0)
    for (d in as.integer(strsplit(seed, "", fixed = TRUE)[[1]])) {
      carry <- d
      for (j in 1:4) {
        v <- limbs[j] * 10 + carry
        limbs[j] <- v %% 65536
        carry <- v %/% 65536
      }
      if (carry != 0) refuse()
    }
  } else {
    if (!is.numeric(seed) || length(seed) != 1L || is.na(seed) || seed != round(seed) ||
        seed < 0 || seed > 2^53) refuse()
    v <- as.double(seed)
    limbs <- numeric(4)
    for (j in 1:4) {
      limbs[j] <- v %% 65536
      v <- v %/% 65536
    }
  }
  word <- function(lo, hi) {
    u <- lo + 65536 * hi  # 0 .. 2^32 - 1
    if (u >= 2^31) u <- u - 2^32
    if (u == -2^31) NA_integer_ else as.integer(u)  # NA is INT_MIN's bits
  }
  c(word(limbs[1], limbs[2]), word(limbs[3], limbs[4]))
}

# A seed for a run without one, from R's random numbers (set.seed repeats
# it): a whole number in 0 .. 2^53 - 1.
draw_seed <- function() floor(stats::runif(1) * 2^26) * 2^27 + floor(stats::runif(1) * 2^27)

MC_CHECK_NO_ROOT <- 1L
MC_CHECK_NO_ROOT_DRAWS <- 2L
MC_CHECK_SEVERAL_DRAWS <- 4L
MC_CHECK_INTERVAL <- 8L
MC_CHECK_NO_DRAW <- 16L
# Responses per call: between calls R can be interrupted; the results do not
# depend on it (each response has its own stream).
MC_RESPONSES_PER_CALL <- 16L

lab_montecarlo <- function(cal, y, uymode, u_y, replicates, n, level, ngrid, words) {
  weighting <- if (is.null(cal$weighting)) 0L else match(cal$weighting, c("1/x", "1/x2"))
  m <- length(y)
  out <- NULL
  for (start in seq(1L, m, by = MC_RESPONSES_PER_CALL)) {
    part <- start:min(start + MC_RESPONSES_PER_CALL - 1L, m)
    r <- .Call(qvx_montecarlo, as.double(cal$chebyshev$coef), as.double(cal$cov_used),
               cal$interval[1], cal$interval[2], if (cal$covariance == "scaled") 1L else 0L,
               as.integer(cal$dof), as.double(cal$sres), as.integer(weighting),
               !is.null(cal$u_y), as.double(y[part]), UYMODE[[uymode]],
               if (!is.null(u_y)) as.double(u_y[part]) else 1,
               if (uymode == "scatter") as.double(replicates[part]) else 1,
               as.integer(start - 1L), as.integer(n), as.double(level), as.integer(ngrid),
               words)
    if (r$status != 0L) lab_error("Monte Carlo inverse prediction", "QVXL_MONTECARLO", r$status)
    r$status <- NULL
    out <- if (is.null(out)) r else Map(c, out, r)
  }
  out
}

# ---- Detection and quantification limits (QVXL_LIMITS)

# The fields and the status of QVXL_LIMITS for cal (statuses are the
# caller's to word).
lab_limits <- function(cal, alpha, beta, blank, replicates, u_blank, k_loq, hasub = NULL,
                       u_blank_dof = 1) {
  weighting <- if (is.null(cal$weighting)) 0L else match(cal$weighting, c("1/x", "1/x2"))
  .Call(qvx_limits, as.double(cal$chebyshev$coef), as.double(cal$cov_used), cal$interval[1],
        cal$interval[2], if (cal$covariance == "scaled") 1L else 0L, as.integer(cal$dof),
        as.double(cal$sres), as.integer(weighting), as.double(cal$x), as.double(cal$weights),
        !is.null(cal$u_y), if (is.null(cal$u_y)) 1 else as.double(cal$u_y), as.double(alpha),
        as.double(beta), as.double(blank), as.integer(replicates),
        if (!is.null(hasub)) as.integer(hasub) else if (is.null(u_blank)) 0L else 1L,
        c(if (is.null(u_blank)) 0 else as.double(u_blank), as.double(u_blank_dof)),
        as.double(k_loq))
}

# ---- Fit rules and the curve (QVXL_FIT, QVXL_CURVE, QVXL_COVERAGE,
# QVXL_RESPONSE_SD, QVXL_BAND, QVXL_POWER, QVXL_JOINT_COV)

WEIGHTING_CODE <- c(none = 0L, "1/x" = 1L, "1/x2" = 2L)
covkind_of <- function(cal) if (cal$covariance == "scaled") 1L else 0L
weighting_of <- function(cal) if (is.null(cal$weighting)) 0L else WEIGHTING_CODE[[cal$weighting]]

# QVXL_FIT on checked standards: u_y, u_x NULL where not given; interval,
# tol, maxit, sigma NULL for the library's defaults.  Every output with the
# options used and the status (the caller words it).
lab_fit <- function(x, y, u_y, u_x, weighting, ncoef, interval = NULL, tol = NULL,
                    maxit = NULL, sigma = NULL, covkind = -1L) {
  given <- (if (is.null(u_y)) 0L else 1L) + (if (is.null(u_x)) 0L else 2L)
  defaults <- (if (is.null(interval)) 0L else 1L) + (if (is.null(tol)) 0L else 2L) +
    (if (is.null(maxit)) 0L else 4L) + (if (is.null(sigma)) 0L else 8L)
  .Call(qvx_fit, as.double(x), as.double(y), if (is.null(u_y)) 1 else as.double(u_y),
        if (is.null(u_x)) 1 else as.double(u_x), given, WEIGHTING_CODE[[weighting]],
        rep(1L, length(x)), as.integer(ncoef), defaults,
        if (is.null(interval)) c(0, 0) else as.double(interval),
        if (is.null(tol)) c(0, 0) else as.double(tol),
        if (is.null(maxit)) 0L else as.integer(maxit),
        if (is.null(sigma)) 0 else as.double(sigma), as.integer(covkind))
}

# The curve of cal at x (inside its interval unless extend): what 1 values,
# 2 slopes, 4 u(p(x)) under the covariance in use, a sum.
lab_curve <- function(cal, x, what, extend = FALSE) {
  r <- .Call(qvx_curve, as.double(cal$chebyshev$coef), as.double(cal$cov_used),
             cal$interval[1], cal$interval[2], as.integer(what), isTRUE(extend), as.double(x))
  if (r$status != 0L) lab_error("the curve", "QVXL_CURVE", r$status)
  r
}

lab_coverage <- function(cal, level, sided = 2L) {
  r <- .Call(qvx_coverage, covkind_of(cal), as.integer(cal$dof), as.double(level),
             as.integer(sided))
  if (r$status != 0L) lab_error("coverage factor", "QVXL_COVERAGE", r$status)
  r$k
}

# The sd of one new response at x from the calibration's model (the
# standards' common stated u(y), or the weighting's scale), times SRES under
# the scaled covariance.
lab_response_sd <- function(cal, x) {
  r <- .Call(qvx_response_sd, as.double(x), weighting_of(cal),
             if (is.null(cal$u_y)) numeric() else as.double(cal$u_y), covkind_of(cal),
             as.double(cal$sres))
  if (r$status != 0L) lab_error("response uncertainty", "QVXL_RESPONSE_SD", r$status)
  r$sd
}

lab_band <- function(cal, x, level, kind, rsd = 1) {
  r <- .Call(qvx_band, as.double(cal$chebyshev$coef), as.double(cal$cov_used),
             cal$interval[1], cal$interval[2], covkind_of(cal), as.integer(cal$dof),
             as.double(level), if (kind == "prediction") 1L else 0L, as.double(x),
             as.double(rsd))
  if (r$status != 0L) lab_error("band", "QVXL_BAND", r$status)
  r
}

lab_power <- function(coef, cov, interval) {
  r <- .Call(qvx_power, as.double(coef), as.double(cov), interval[1], interval[2])
  if (r$status != 0L) lab_error("power form", "QVXL_POWER", r$status)
  r
}

# The joint covariance's factors S and d of readings x (NA: no root) with
# u(y) u_y; with full = TRUE also the matrix.
lab_joint_cov <- function(cal, x, u_y, full) {
  x <- as.double(x)
  x[is.na(x)] <- NaN
  r <- .Call(qvx_joint_cov, as.double(cal$chebyshev$coef), as.double(cal$cov_used),
             cal$interval[1], cal$interval[2], x, as.double(u_y), if (full) 1L else 0L)
  if (r$status != 0L) lab_error("joint covariance", "QVXL_JOINT_COV", r$status)
  r
}

# ---- Variance models (QVXL_VARIANCE_FIT, QVXL_VARIANCE_AT, QVXL_BLANK_SCATTER)

VARIANCE_MODELS <- c("constant", "proportional", "floor", "power")

lab_variance_fit <- function(x, y, model, alpha, ncoef = NULL) {
  code <- if (model == "auto") -1L else match(model, VARIANCE_MODELS) - 1L
  if (!is.null(ncoef)) {
    return(.Call(qvx_variance_fit_residuals, as.double(x), as.double(y), as.integer(ncoef),
                 code, as.double(alpha)))
  }
  .Call(qvx_variance_fit, as.double(x), as.double(y), code, as.double(alpha))
}

lab_variance_at <- function(vm, x, mu = x) {
  .Call(qvx_variance_at, match(vm$model, VARIANCE_MODELS) - 1L, c(vm$a, vm$b),
        as.double(vm$cov), as.double(x), as.double(rep_len(mu, length(x))))
}

lab_blank_scatter <- function(y) .Call(qvx_blank_scatter, as.double(y))

# QVXL_RESPONSE_WEIGHTS: the relative u(y) of "1/y" (kind 1), "1/y2" (2) or a
# weight per standard (3).
lab_response_weights <- function(kind, v) .Call(qvx_response_weights, as.integer(kind), as.double(v))

# QVXL_VARIANCE_READBACK: responses y, each the mean of `replicates`
# readings, read back off a curve weighted by its variance model, u(y) the
# model's at the sample; the outputs of lab_readback.
lab_variance_readback <- function(cal, y, replicates, level = 0.95, ngrid = 100L, tol = 0,
                                  limits = NULL) {
  lim <- limit_values(limits)
  haslim <- (if (is.na(lim[["lod"]])) 0L else 1L) + (if (is.na(lim[["loq"]])) 0L else 2L)
  vm <- cal$variance
  r <- .Call(qvx_variance_readback, as.double(cal$chebyshev$coef), as.double(cal$cov_used),
             cal$interval[1], cal$interval[2], match(vm$model, VARIANCE_MODELS) - 1L,
             c(vm$a, vm$b), as.double(vm$cov), as.double(cal$x), as.double(vm$mu),
             as.double(range(cal$x)), haslim, as.double(ifelse(is.na(lim), 0, lim)),
             as.double(y), as.double(replicates), as.double(level), as.integer(ngrid),
             as.double(tol))
  if (r$status != 0L) lab_error("inverse prediction", "QVXL_VARIANCE_READBACK", r$status)
  attr(r, "limits") <- lim
  r
}
