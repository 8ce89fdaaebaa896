# inverse(): measured responses read back into x, with u(x), the expanded
# uncertainty and the joint covariance; lod(): detection limits.

DEFAULT_NGRID <- 100L
MAX_JOINT <- 2000L

check_cal <- function(cal) {
  if (!inherits(cal, "quorvex_cal")) input_error("cal must be a calibration made by calfit()")
}

responses <- function(y) {
  if (is.data.frame(y) || is.list(y)) input_error("y must be a vector of responses")
  y <- numeric_column(y, "y")
  if (!length(y)) input_error("y has no responses")
  y
}

# How u(y) is asked for (stated, from the scatter, curve only), with the
# values read for it; the library takes it from there.
response_uncertainty <- function(cal, u_y, replicates, n, u_y_relative = NULL) {
  if (!is.numeric(replicates) || !length(replicates) %in% c(1L, n) || anyNA(replicates) ||
      any(replicates != round(replicates)) || any(replicates < 1) ||
      any(replicates > MAX_REPLICATES)) {
    input_error("replicates must be whole numbers from 1 to ", MAX_REPLICATES,
                ", one for all responses or one each")
  }
  replicates <- rep_len(as.double(replicates), n)
  if (is.character(u_y)) {
    if (length(u_y) != 1L || u_y != "curve-only") {
      input_error("u_y must be numbers, NULL or \"curve-only\", not \"", u_y[1], "\"")
    }
    if (any(replicates != 1)) {
      input_error("replicates set how u(y) is taken from the scatter; with u_y = ",
                  "\"curve-only\" there is no reading part")
    }
    return(list(u = NULL, kind = "curve-only", replicates = replicates))
  }
  if (!is.null(u_y_relative) && (!is.null(u_y) || is.null(cal$u_y) ||
                                  cal$covariance != "scaled" || !is.null(cal$variance))) {
    input_error("u_y_relative applies where the standards carry relative stated u(y) ",
                "(covariance \"scaled\") and u_y is left out")
  }
  if (is.null(u_y) && !is.null(cal$variance)) {
    # Weighted by a variance model: u(y) is the model's at each sample.
    return(list(u = NULL, kind = "model", replicates = replicates))
  }
  if (is.null(u_y)) {
    if (!is.null(cal$u_y) && is.null(u_y_relative)) {
      input_error("the standards carry stated u_y, so the samples' u(y) cannot be taken from ",
                  "the scatter: give u_y per sample (a vector), one value for all, or ",
                  "u_y = \"curve-only\"",
                  if (cal$covariance == "scaled") paste0(
                    "; with relative stated u(y) (covariance \"scaled\") u_y_relative ",
                    "gives each sample's on their scale"))
    }
    if (cal$dof == 0) {
      input_error("the fit has no degrees of freedom, so the scatter of a reading is not ",
                  "known: give u_y, or u_y = \"curve-only\"")
    }
    rel <- NULL
    if (!is.null(u_y_relative)) {
      rel <- numeric_column(u_y_relative, "u_y_relative", n)
      if (!all(is.finite(rel) & rel > 0)) input_error("u_y_relative must be positive and finite")
      rel <- rep_len(rel, n)
    }
    return(list(u = rel, kind = "scatter", replicates = replicates))
  }
  u <- numeric_column(u_y, "u_y", n)
  if (!all(u >= 0)) input_error("u_y must not be negative: element(s) ", row_list(which(u < 0)))
  if (any(replicates != 1)) {
    input_error("replicates set how u(y) is taken from the scatter; a stated u_y is the ",
                "uncertainty of the value given (of the mean of replicates)")
  }
  list(u = rep_len(u, n), kind = "stated", replicates = replicates)
}

# Where each u(y) came from, in words: the library's text of each source code.
u_y_source <- function(code, replicates) {
  out <- character(length(code))
  for (c in unique(code)) {
    at <- code == c
    m <- as.integer(replicates[at])
    out[at] <- fill_text(lab_text("source", c),
                         list(m = as.character(m), s = ifelse(m == 1L, "", "s")))
  }
  out
}

# The sample flags (the library's bit set) in words, "; " between them, each
# the library's text of its bit: what a laboratory acts on, the value still
# given with its uncertainty.  For a straight line without a root, its value
# on the line extended.  A bit whose text is empty (the inversion interval
# reaching an end of the curve's interval) is not a flag here: the column
# interval_open says so.
flag_texts <- function(bits, n_roots, x_ext, u_x_ext, lim) {
  m <- length(bits)
  fields <- list(n = as.character(n_roots),
                 ext = ifelse(is.finite(x_ext), sprintf(" (x = %.5g \u00b1 %.2g on the line extended)",
                                                       x_ext, u_x_ext), ""),
                 lod = if (is.na(lim[["lod"]])) "" else
                   paste0(sprintf("%.4g", lim[["lod"]]), ", ", lab_text("limit", LIMIT_LOD_DEFAULT)),
                 loq = if (is.na(lim[["loq"]])) "" else
                   paste0(sprintf("%.4g", lim[["loq"]]), ", ", lab_text("limit", LIMIT_LOQ_DEFAULT)))
  out <- character(m)
  bit <- 1L
  top <- max(c(bits, 0L))
  while (bit <= top) {
    hit <- bitwAnd(bits, bit) != 0L
    template <- if (any(hit)) lab_text("flag", bit) else NULL
    if (!is.null(template) && nzchar(template)) {
      text <- fill_text(template, lapply(fields, function(f) rep_len(f, m)[hit]))
      out[hit] <- ifelse(nzchar(out[hit]), paste(out[hit], text, sep = "; "), text)
    }
    if (bit > .Machine$integer.max %/% 2L) break
    bit <- bit * 2L
  }
  out
}

# Bounds that keep memory bounded, the same as the Python package's command line.
MAX_NGRID <- 100000L
MAX_DRAWS <- 1000000L
MAX_MC_VALUES <- 20000000
MAX_REPLICATES <- 1000000L

inverse <- function(cal, y, u_y = NULL, replicates = 1, method = c("first-order", "montecarlo"),
                    level = 0.95, ngrid = 100L, extrapolate = FALSE, n = 10000L, seed = NULL,
                    limits = NULL, u_y_relative = NULL) {
  check_cal(cal)
  if (!is.null(limits) && !inherits(limits, "quorvex_lod")) {
    input_error("limits must be detection limits made by lod()")
  }
  # "monte-carlo" as the Python package spells it, too.
  if (identical(method, "monte-carlo")) method <- "montecarlo"
  method <- one_of(method, c("first-order", "montecarlo"), "method")
  y <- responses(y)
  m <- length(y)
  ngrid <- whole_number(ngrid, "ngrid", 1L, MAX_NGRID)
  uy <- response_uncertainty(cal, u_y, replicates, m, u_y_relative)
  if (!is.numeric(level) || length(level) != 1L || is.na(level) || !(level > 0 && level < 1)) {
    input_error("level must lie strictly between 0 and 1")
  }
  nc <- ncoef_of(cal)
  if (nc < 2) input_error("a constant curve (degree 0) has no inverse", routine = "IPVAL")
  if (isTRUE(extrapolate)) {
    if (nc != 2) input_error("extrapolate needs a straight line (degree 1), not degree ", nc - 1)
    if (method != "first-order") input_error("extrapolate applies to the first-order inverse only")
    if (uy$kind == "model") {
      input_error("a calibration weighted by a variance model reads samples back on the ",
                  "curve: extrapolate needs u_y given")
    }
  }
  # Everything a reading gives comes from the laboratory library in one call:
  # the roots, u(y) and its source, u(x) and its parts, the effective degrees
  # of freedom, k, U, the inversion interval and the sample flags.
  r <- if (uy$kind == "model") {
    lab_variance_readback(cal, y, uy$replicates, level = level, ngrid = ngrid, limits = limits)
  } else {
    lab_readback(cal, y, uy$kind, u_y = uy$u, replicates = uy$replicates, level = level,
                 ngrid = ngrid, extrapolate = extrapolate, limits = limits)
  }
  # A calibration its acceptance criteria reject: every reading carries the
  # flag "calibration not fit for use" (the library sets it when told the
  # verdict).
  fit_for_use <- verdicts(cal, cal$criteria)$fit_for_use
  rep <- lab_reported(cal, r, fit_for_use, level)
  r$flags <- bitwOr(r$flags, bitwAnd(rep$flags, FLAG_CAL_REJECTED))
  roots <- na_for_nan(r$roots)
  u_roots <- na_for_nan(r$u_roots)
  x <- roots[1, ]
  open <- bitwAnd(r$flags, FLAG_INTERVAL_OPEN) != 0L
  out <- data.frame(y = y, x = x, u_x = u_roots[1, ], U = na_for_nan(r$U), k = na_for_nan(r$k),
                    dof = na_for_nan(r$dof), low = na_for_nan(r$low), high = na_for_nan(r$high),
                    interval_open = open,
                    flags = flag_texts(r$flags, r$n_roots, r$x_ext, r$u_x_ext,
                                       attr(r, "limits")),
                    u_y = r$u_y, u_y_source = u_y_source(r$u_y_code, uy$replicates),
                    stringsAsFactors = FALSE)
  # Joint covariance of the first roots: S C S' + diag(u_y^2 / p'^2),
  # S = -g(x)/p'(x) (Cov(x_i, x_j) through the curve's coefficients), from
  # the laboratory library.  Its factors are kept for any number of responses,
  # the m x m matrix itself up to MAX_JOINT responses (beyond, it would not
  # fit in memory).
  jc <- lab_joint_cov(cal, x, r$u_y, full = m <= MAX_JOINT)
  attr(out, "sensitivity") <- na_for_nan(jc$s)
  attr(out, "response_variance") <- na_for_nan(jc$d)
  attr(out, "cov_coef") <- cal$cov_used
  if (m <= MAX_JOINT) attr(out, "cov") <- na_for_nan(jc$cov)
  attr(out, "roots") <- t(roots)
  attr(out, "u_roots") <- t(u_roots)
  attr(out, "n_roots") <- r$n_roots
  attr(out, "u_curve") <- na_for_nan(r$u_curve)
  attr(out, "flag_bits") <- r$flags
  attr(out, "fit_for_use") <- fit_for_use
  attr(out, "coverage") <- level
  class(out) <- c("quorvex_inverse", "data.frame")
  if (method == "montecarlo") {
    # Under a variance model the draws take each sample's u(y) from first order.
    if (uy$kind == "model") uy <- list(u = r$u_y, kind = "stated", replicates = rep(1, m))
    return(monte_carlo(cal, out, uy, n, seed, level, ngrid))
  }
  out
}

print.quorvex_inverse <- function(x, ...) {
  cat(sprintf("Inverse prediction of %d response(s); U = k u(x) at %g %% coverage\n",
              nrow(x), 100 * attr(x, "coverage")))
  print(as.data.frame(unclass(x))[, setdiff(names(x), character())], ...)
  invisible(x)
}

# Monte Carlo inverse prediction (the Python package's monte_carlo), all of
# it in the laboratory library (QVXL_MONTECARLO): draw j takes a curve c_j ~
# N(coef, C) and a response y_i + u(y_i) z (with the scaled covariance also
# the scale of the scatter, so that the curves follow the scaled and shifted
# t distribution, GUM Supplement 2, 6.5); per response the root nearest the
# first-order x, then the mean, standard deviation, median and the
# probabilistically symmetric interval of the draws with a root, and the check
# of first order against them.  Each response has its own stream, seeded from
# the seed and its place: the same seed gives the Python package's bits.
monte_carlo <- function(cal, fo, uy, n, seed, level, ngrid) {
  n <- whole_number(n, "n", 2L, MAX_DRAWS)
  m <- length(fo$y)
  if (as.double(n) * m > MAX_MC_VALUES) {
    input_error("n = ", n, " draws for ", m, " responses make ", format(as.double(n) * m),
                " draws, more than ", MAX_MC_VALUES, " in one call; give fewer draws or ",
                "fewer responses per call")
  }
  if (is.null(seed)) seed <- draw_seed()
  words <- seed_words(seed)
  r <- lab_montecarlo(cal, fo$y, uy$kind, uy$u, uy$replicates, n, level, ngrid, words)
  mean <- na_for_nan(r$mean)
  low <- na_for_nan(r$low)
  high <- na_for_nan(r$high)
  check <- r$check
  agrees <- check == 0L
  notes <- character()
  for (i in which(!agrees)) {
    has <- function(bit) bitwAnd(check[i], bit) != 0L
    why <- c(if (has(MC_CHECK_NO_ROOT)) "the fitted curve has no root",
             if (has(MC_CHECK_NO_ROOT_DRAWS))
               sprintf(paste("%.1f%% of draws have no root (the response lies near an end of",
                             "the curve's range)"), 100 * r$no_root[i]),
             if (has(MC_CHECK_SEVERAL_DRAWS))
               sprintf(paste("%.1f%% of draws have several roots (the curve is flat or turns",
                             "nearby)"), 100 * r$several_roots[i]),
             if (has(MC_CHECK_INTERVAL))
               sprintf("the interval [%.5g, %.5g] differs from first order [%.5g, %.5g]",
                       low[i], high[i], fo$x[i] - fo$U[i], fo$x[i] + fo$U[i]),
             if (has(MC_CHECK_NO_DRAW)) "no draw has a root")
    notes <- c(notes, sprintf("y = %.6g: first order is not reliable: %s", fo$y[i],
                              paste(why, collapse = "; ")))
  }
  out <- data.frame(y = fo$y, u_y = fo$u_y, x = mean, u_x = na_for_nan(r$sd),
                    median = na_for_nan(r$median), low = low, high = high,
                    no_root = r$no_root, several_roots = r$several_roots, agrees = agrees,
                    row.names = NULL)
  attr(out, "se_low") <- na_for_nan(r$se_low)
  attr(out, "se_high") <- na_for_nan(r$se_high)
  attr(out, "check") <- check
  attr(out, "first_order") <- fo
  attr(out, "notes") <- notes
  attr(out, "n_draws") <- n
  attr(out, "seed") <- seed
  attr(out, "coverage") <- level
  out
}

# How far beyond its interval (share of its width) the curve may be extended
# to reach a blank (the library's rule; R names it in its message).
EXTEND <- 0.25

# Where the blank's scatter came from (SOURCE of QVXL_LIMITS), in words.
BLANK_SOURCE <- c("u_blank as given", "the standards at the blank", NA,
                  "the stated u(y) of the standards", "the residual scatter (the same at every x)",
                  "%d readings of blanks (%g degrees of freedom)",
                  "the %s variance model's floor (%.3g degrees of freedom)")

# Detection and quantification limits: ICH Q2's LOD and LOQ, ISO 11843-2's
# critical and detection levels at the blank and DIN 32645's LOQ, all from the
# laboratory library (QVXL_LIMITS); R checks the arguments and words the
# result.
lod <- function(cal, alpha = 0.05, beta = 0.05, blank = 0, replicates = 1, u_blank = NULL,
                k_loq = 3, blank_readings = NULL) {
  check_cal(cal)
  if (ncoef_of(cal) < 2) input_error("a constant curve (degree 0) has no detection limit")
  for (v in list(list("alpha", alpha), list("beta", beta))) {
    if (!is.numeric(v[[2]]) || length(v[[2]]) != 1L || is.na(v[[2]]) ||
        !(v[[2]] > 0 && v[[2]] < 0.5)) {
      input_error(v[[1]], " must lie strictly between 0 and 0.5")
    }
  }
  replicates <- whole_number(replicates, "replicates", 1L, MAX_REPLICATES)
  x0 <- numeric_column(blank, "blank", 1L)
  if (!is.numeric(k_loq) || length(k_loq) != 1L || is.na(k_loq) || !(k_loq > 0)) {
    input_error("k_loq must be positive")
  }
  if (!is.null(u_blank)) {
    u_blank <- numeric_column(u_blank, "u_blank", 1L)
    if (!(u_blank >= 0)) input_error("u_blank must not be negative")
  }
  hasub <- NULL
  ub_dof <- 1
  if (!is.null(blank_readings)) {
    if (!is.null(u_blank)) input_error("give either u_blank or blank_readings, not both")
    blank_readings <- numeric_column(blank_readings, "blank_readings")
    if (length(blank_readings) < 2L) {
      input_error("blank_readings: at least 2 readings of blanks are needed for their scatter")
    }
    b <- lab_blank_scatter(blank_readings)
    if (b$status != 0L) lab_error("blank_readings", "QVXL_BLANK_SCATTER", b$status)
    u_blank <- b$sd
    ub_dof <- b$dof
    hasub <- 2L
  } else if (is.null(u_blank) && !is.null(cal$variance)) {
    # The floor of the calibration's variance model (constant, floor) at the
    # blank, with the degrees of freedom of its estimate; none without a floor.
    vm <- cal$variance
    u_blank <- 0
    ub_dof <- 0
    if (vm$model %in% c("constant", "floor")) {
      at <- variance_at(vm, x0)
      if (at$sd > 0) {
        u_blank <- at$sd
        ub_dof <- at$dof
      }
    }
    hasub <- 3L
  }
  r <- lab_limits(cal, alpha, beta, x0, replicates, u_blank, k_loq, hasub, ub_dof)
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  if (r$status == 60L) {
    input_error("the blank x = ", format(x0), " lies far outside the curve's interval [",
                format(lo), ", ", format(hi), "] (more than ", 100 * EXTEND, " % of its ",
                "width): the curve cannot be extended that far; measure a blank or a ",
                "standard near it")
  }
  if (r$status == 61L) {
    input_error("the standards' u_y differ, so the blank's response uncertainty is not ",
                "known: give u_blank")
  }
  if (r$status == 62L) input_error("the scaled covariance needs degrees of freedom: this fit has none")
  if (r$status != 0L) lab_error("detection limits", "QVXL_LIMITS", r$status)
  l <- r$lim
  source <- if (r$source == 0L && !is.null(cal$variance)) {
    sprintf(paste("not computed: the calibration is weighted by the %s variance model, and %s;",
                  "give blank_readings or u_blank"), cal$variance$model,
            if (cal$variance$model %in% c("constant", "floor")) paste(
              "its fitted floor is 0: the replicates do not show the scatter at the blank")
            else "it gives no scatter at the blank")
  } else if (r$source == 0L) {
    sprintf(paste("not computed: under the %s weighting nothing tells the blank's scatter",
                  "(the weighting predicts none at x = 0, and the lowest standard's is not",
                  "the blank's); give blank_readings or u_blank, or weight by a variance",
                  "model with a floor"), cal$weighting)
  } else if (r$source == 6L) {
    sprintf(BLANK_SOURCE[6L], length(blank_readings), ub_dof)
  } else if (r$source == 7L) {
    sprintf(BLANK_SOURCE[7L], cal$variance$model, ub_dof)
  } else BLANK_SOURCE[r$source]
  structure(list(sigma = l[1], slope = l[2], lod = l[3], loq = l[4], blank = x0,
                 sigma_blank = na_for_nan(l[5]), s_blank = na_for_nan(l[6]),
                 y_critical = na_for_nan(l[7]),
                 x_critical = na_for_nan(l[8]), x_detection = na_for_nan(l[9]), k_alpha = l[10],
                 delta = l[11], alpha = alpha, beta = beta, replicates = replicates,
                 blank_source = source, extrapolated = r$extrapolated,
                 loq_din = na_for_nan(l[12]), k_loq = as.double(k_loq)),
            class = "quorvex_lod")
}

print.quorvex_lod <- function(x, ...) {
  cat(sprintf("ICH:       LOD %.4g  LOQ %.4g  (sigma %.3g, slope %.4g at the lowest standard)\n",
              x$lod, x$loq, x$sigma, x$slope))
  cat(sprintf("At blank x = %g: y_C %.4g  x_C %.4g  x_D %.4g  (alpha %g, beta %g, %d replicate(s))\n",
              x$blank, x$y_critical, x$x_critical, x$x_detection, x$alpha, x$beta, x$replicates))
  cat(sprintf("DIN 32645: LOQ %.4g (relative uncertainty 1/%g)\n", x$loq_din, x$k_loq))
  cat(sprintf("Blank's scatter %.3g: %s\n", x$sigma_blank, x$blank_source))
  if (isTRUE(x$extrapolated)) {
    cat("The blank lies outside the standards: the curve is extended a little to reach it\n")
  }
  invisible(x)
}
