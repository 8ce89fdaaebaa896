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

# Where u(y) came from (UYSRC) and how it is asked for (UYMODE).
UYSRC_STATED <- 0L
UYSRC_SCATTER <- 1L
UYSRC_CURVE_ONLY <- 2L
UYMODE <- c(stated = 0L, scatter = 1L, "curve-only" = 2L)

# Distributions and what is asked of them (QVXL_DISTRIBUTION).
DIST <- c(normal = 1L, t = 2L, chisq = 3L, f = 4L, nct = 5L)

# The laboratory library's statuses in the user's terms.
lab_status_text <- c(
  "1" = "the curve's number of coefficients is out of range",
  "2" = "the curve's interval is empty or not finite",
  "3" = "a count is below its least value",
  "4" = "an unknown code",
  "5" = "a value is NaN, infinite or out of range",
  "21" = paste("the standards carry stated uncertainties, so a sample's response uncertainty",
               "is not known from their scatter"),
  "22" = "the fit has no degrees of freedom, so the scatter of a reading is not known",
  "999" = "working storage could not be obtained")

lab_error <- function(what, routine, code) {
  text <- lab_status_text[as.character(code)]
  if (is.na(text)) text <- "an unexpected status"
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

# LOD and LOQ in x from detection limits made by lod(): the blank's x plus
# ISO 11843's x_D, and plus the larger of ICH's and DIN 32645's LOQ (NA where
# not known).
limit_values <- function(limits) {
  if (is.null(limits)) return(c(lod = NA_real_, loq = NA_real_))
  lod <- if (is.finite(limits$x_detection)) limits$blank + limits$x_detection else NA_real_
  cands <- c(limits$loq, limits$loq_din)
  cands <- cands[is.finite(cands)]
  loq <- if (length(cands)) limits$blank + max(cands) else NA_real_
  c(lod = lod, loq = loq)
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
             if (uymode == "stated") as.double(u_y) else 1, if (uymode == "scatter")
               as.double(replicates) else 1, as.double(level), as.integer(ngrid),
             as.double(tol), isTRUE(extrapolate))
  if (r$status != 0L) lab_error("inverse prediction", "QVXL_READBACK", r$status)
  attr(r, "limits") <- lim
  r
}
