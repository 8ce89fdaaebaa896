# inverse(): measured responses read back into x, with u(x), the expanded
# uncertainty and the joint covariance; lod(): detection limits.

DEFAULT_NGRID <- 100L
MAX_JOINT <- 2000L

check_cal <- function(cal) {
  if (!inherits(cal, "quorvex_cal")) input_error("cal must be a calibration made by calfit()")
}

# IPVAL on responses y with u(y) uy: list(n_roots, roots, u_roots), roots and
# u_roots with one column per response (NA beyond the roots found).
ipval <- function(cal, y, uy, ngrid = DEFAULT_NGRID, tol = 0) {
  if (ncoef_of(cal) < 2) input_error("a constant curve (degree 0) has no inverse", routine = "IPVAL")
  r <- .Call(qvx_ipval, cal$chebyshev$coef, cal$cov_used, as.double(y), as.double(uy),
             cal$interval[1], cal$interval[2], as.integer(ngrid), as.double(tol))
  if (r$status != 0L) {
    status_error("IPVAL", r$status, list(xmin = cal$interval[1], xmax = cal$interval[2]))
  }
  r
}

responses <- function(y) {
  if (is.data.frame(y) || is.list(y)) input_error("y must be a vector of responses")
  y <- numeric_column(y, "y")
  if (!length(y)) input_error("y has no responses")
  y
}

# How u(y) is asked for (stated, from the scatter, curve only), with the
# values read for it; the library takes it from there.
response_uncertainty <- function(cal, u_y, replicates, n) {
  if (!is.numeric(replicates) || !length(replicates) %in% c(1L, n) || anyNA(replicates) ||
      any(replicates != round(replicates)) || any(replicates < 1)) {
    input_error("replicates must be whole numbers >= 1, one for all responses or one each")
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
  if (is.null(u_y)) {
    if (!is.null(cal$u_y)) {
      input_error("the standards carry stated u_y, so the samples' u(y) cannot be taken from ",
                  "the scatter: give u_y per sample (a vector), one value for all, or ",
                  "u_y = \"curve-only\"")
    }
    if (cal$dof == 0) {
      input_error("the fit has no degrees of freedom, so the scatter of a reading is not ",
                  "known: give u_y, or u_y = \"curve-only\"")
    }
    return(list(u = NULL, kind = "scatter", replicates = replicates))
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
                 lod = if (is.na(lim[["lod"]])) "" else sprintf("%.4g", lim[["lod"]]),
                 loq = if (is.na(lim[["loq"]])) "" else sprintf("%.4g", lim[["loq"]]))
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

inverse <- function(cal, y, u_y = NULL, replicates = 1, method = c("first-order", "montecarlo"),
                    level = 0.95, ngrid = 100L, extrapolate = FALSE, n = 10000L, seed = NULL,
                    limits = NULL) {
  check_cal(cal)
  if (!is.null(limits) && !inherits(limits, "quorvex_lod")) {
    input_error("limits must be detection limits made by lod()")
  }
  # "monte-carlo" as the Python package spells it, too.
  if (identical(method, "monte-carlo")) method <- "montecarlo"
  method <- one_of(method, c("first-order", "montecarlo"), "method")
  y <- responses(y)
  m <- length(y)
  ngrid <- whole_number(ngrid, "ngrid", 1L)
  uy <- response_uncertainty(cal, u_y, replicates, m)
  if (!is.numeric(level) || length(level) != 1L || is.na(level) || !(level > 0 && level < 1)) {
    input_error("level must lie strictly between 0 and 1")
  }
  nc <- ncoef_of(cal)
  if (nc < 2) input_error("a constant curve (degree 0) has no inverse", routine = "IPVAL")
  if (isTRUE(extrapolate)) {
    if (nc != 2) input_error("extrapolate needs a straight line (degree 1), not degree ", nc - 1)
    if (method != "first-order") input_error("extrapolate applies to the first-order inverse only")
  }
  # Everything a reading gives comes from the laboratory library in one call:
  # the roots, u(y) and its source, u(x) and its parts, the effective degrees
  # of freedom, k, U, the inversion interval and the sample flags.
  r <- lab_readback(cal, y, uy$kind, u_y = uy$u, replicates = uy$replicates, level = level,
                    ngrid = ngrid, extrapolate = extrapolate, limits = limits)
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
  # S = -g(x)/p'(x) (Cov(x_i, x_j) through the curve's coefficients).  Its
  # factors are kept for any number of responses, the m x m matrix itself up
  # to MAX_JOINT responses (beyond, it would not fit in memory).
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  xs0 <- ifelse(is.na(x), lo, x)
  sl <- curve_slope(cal$chebyshev$coef, xs0, lo, hi)
  g <- basis_rows(xs0, nc, lo, hi)
  s <- -g / sl
  s[is.na(x), ] <- NA_real_
  d <- ifelse(is.na(x), NA_real_, r$u_y^2 / sl^2)
  attr(out, "sensitivity") <- s
  attr(out, "response_variance") <- d
  attr(out, "cov_coef") <- cal$cov_used
  if (m <= MAX_JOINT) {
    jc <- s %*% cal$cov_used %*% t(s)
    diag(jc) <- diag(jc) + d
    attr(out, "cov") <- jc
  }
  attr(out, "roots") <- t(roots)
  attr(out, "u_roots") <- t(u_roots)
  attr(out, "n_roots") <- r$n_roots
  attr(out, "u_curve") <- na_for_nan(r$u_curve)
  attr(out, "flag_bits") <- r$flags
  attr(out, "coverage") <- level
  class(out) <- c("quorvex_inverse", "data.frame")
  if (method == "montecarlo") return(monte_carlo(cal, out, uy, n, seed, level, ngrid))
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
# t distribution, GUM Supplement 1, 6.4.9); per response the root nearest the
# first-order x, then the mean, standard deviation, median and the
# probabilistically symmetric interval of the draws with a root, and the check
# of first order against them.  Each response has its own stream, seeded from
# the seed and its place: the same seed gives the Python package's bits.
monte_carlo <- function(cal, fo, uy, n, seed, level, ngrid) {
  n <- whole_number(n, "n", 2L)
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

# Per column of roots (one column per response, NA beyond those found), the
# root nearest to `near` (NA where there is none).
nearest_root <- function(roots, near) {
  near <- rep_len(near, ncol(roots))
  best <- rep(NA_real_, ncol(roots))
  dist <- rep(Inf, ncol(roots))
  for (j in seq_len(nrow(roots))) {
    d <- abs(roots[j, ] - near)
    better <- !is.na(d) & d < dist
    best[better] <- roots[j, better]
    dist[better] <- d[better]
  }
  best
}

# The roots of y nearest x0 (NA where there is none).
roots_near <- function(cal, y, x0) nearest_root(ipval(cal, y, rep(0, length(y)))$roots, x0)

# Non-centrality delta with P(t'(dof, delta) <= t_alpha) = beta (bisection).
delta_nct <- function(dof, t_alpha, beta) {
  lo <- 0
  hi <- 2 * t_alpha + 10
  for (i in 1:200) {
    mid <- 0.5 * (lo + hi)
    below <- suppressWarnings(pt(t_alpha, dof, ncp = mid))
    if (below > beta) lo <- mid else hi <- mid
    if (hi - lo <= 1e-12 * hi) break
  }
  0.5 * (lo + hi)
}

# How far beyond its interval (share of its width) the curve may be extended
# to reach a blank.
EXTEND <- 0.25

lod <- function(cal, alpha = 0.05, beta = 0.05, blank = 0, replicates = 1, u_blank = NULL,
                k_loq = 3) {
  check_cal(cal)
  if (ncoef_of(cal) < 2) input_error("a constant curve (degree 0) has no detection limit")
  for (v in list(list("alpha", alpha), list("beta", beta))) {
    if (!is.numeric(v[[2]]) || length(v[[2]]) != 1L || is.na(v[[2]]) ||
        !(v[[2]] > 0 && v[[2]] < 0.5)) {
      input_error(v[[1]], " must lie strictly between 0 and 0.5")
    }
  }
  replicates <- whole_number(replicates, "replicates", 1L)
  x0 <- numeric_column(blank, "blank", 1L)
  if (!is.numeric(k_loq) || length(k_loq) != 1L || is.na(k_loq) || !(k_loq > 0)) {
    input_error("k_loq must be positive")
  }
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  width <- hi - lo
  extrapolated <- !(lo <= x0 && x0 <= hi)
  if (extrapolated && !(lo - EXTEND * width <= x0 && x0 <= hi + EXTEND * width)) {
    input_error("the blank x = ", format(x0), " lies far outside the curve's interval [",
                format(lo), ", ", format(hi), "] (more than ", 100 * EXTEND, " % of its ",
                "width): the curve cannot be extended that far; measure a blank or a ",
                "standard near it")
  }
  coef <- cal$chebyshev$coef
  low <- cal$x == min(cal$x)
  xl <- min(cal$x)
  sd_std <- sigma_hat(cal) / cal$weights
  sigma <- cal$sres * sqrt(mean(1 / cal$weights[low]^2))
  s_low <- abs(curve_slope(coef, xl, lo, hi))
  lod <- 3.3 * sigma / s_low
  loq <- 10 * sigma / s_low
  if (!is.null(u_blank)) {
    sigma0 <- numeric_column(u_blank, "u_blank", 1L)
    if (!(sigma0 >= 0)) input_error("u_blank must not be negative")
    source <- "u_blank as given"
  } else if (any(cal$x == x0)) {
    sigma0 <- sqrt(mean(sd_std[cal$x == x0]^2))
    source <- "the standards at the blank"
  } else if (!is.null(cal$weighting)) {
    sigma0 <- sqrt(mean(sd_std[low]^2))
    source <- sprintf(paste("the scatter at the lowest standard (x = %g); the %s weighting",
                            "would predict none at the blank: give u_blank from blanks"),
                      xl, cal$weighting)
  } else {
    if (!is.null(cal$u_y) && !all(cal$u_y == cal$u_y[1])) {
      input_error("the standards' u_y differ, so the blank's response uncertainty is not ",
                  "known: give u_blank")
    }
    sigma0 <- response_sd(cal, x0)
    source <- if (!is.null(cal$u_y)) "the stated u(y) of the standards" else
      "the residual scatter (the same at every x)"
  }
  e <- curve_at(cal, x0)
  s0 <- sqrt(e$u^2 + sigma0^2 / replicates)
  ka <- coverage_factor(cal, 1 - alpha, sided = 1)
  delta <- if (ka$distribution == "normal") {
    ka$k + coverage_factor(cal, 1 - beta, sided = 1)$k
  } else {
    delta_nct(cal$dof, ka$k, beta)
  }
  sgn <- if (curve_slope(coef, x0, lo, hi) >= 0) 1 else -1
  yc <- e$y + sgn * ka$k * s0
  yd <- e$y + sgn * delta * s0
  xs <- if (extrapolated) roots_extended(cal, c(yc, yd), x0) else roots_near(cal, c(yc, yd), x0)
  loq_din <- loq_din(cal, x0, sigma0, replicates, alpha, k_loq, !is.null(u_blank))
  structure(list(sigma = sigma, slope = s_low, lod = lod, loq = loq, blank = x0,
                 sigma_blank = sigma0, s_blank = s0, y_critical = yc, x_critical = xs[1] - x0,
                 x_detection = xs[2] - x0, k_alpha = ka$k, delta = delta, alpha = alpha,
                 beta = beta, replicates = replicates, blank_source = source,
                 extrapolated = extrapolated, loq_din = loq_din, k_loq = as.double(k_loq)),
            class = "quorvex_lod")
}

# p(x) and u(p(x)), also a little beyond the interval.
curve_at <- function(cal, x) {
  if (cal$interval[1] <= x && x <= cal$interval[2]) return(evaluate(cal, x, uncertainty = TRUE))
  g <- basis_rows(x, ncoef_of(cal), cal$interval[1], cal$interval[2])
  list(y = drop(g %*% cal$chebyshev$coef), u = sqrt(drop(g %*% cal$cov_used %*% t(g))))
}

# The real roots of p(x) = y on the curve extended by EXTEND of its width
# either side, the one nearest x0 (NA where there is none).
roots_extended <- function(cal, y, x0) {
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  w <- hi - lo
  a <- drop(power_matrix(ncoef_of(cal), -1, 1) %*% cal$chebyshev$coef)  # powers of t
  while (length(a) > 1L && a[length(a)] == 0) a <- a[-length(a)]
  t0 <- scaled_t(x0, lo, hi)
  vapply(y, function(v) {
    b <- a
    b[1] <- b[1] - v
    if (length(b) < 2L) return(NA_real_)
    r <- polyroot(b)
    r <- Re(r[abs(Im(r)) <= 1e-9 * max(1, abs(r))])
    xr <- lo + (r + 1) * w / 2
    ok <- xr >= lo - EXTEND * w & xr <= hi + EXTEND * w
    if (!any(ok)) return(NA_real_)
    xr[ok][which.min(abs(r[ok] - t0))]
  }, 0)
}

# DIN 32645's limit of quantification: the smallest net x > 0 with
# x = k_loq k_(1-alpha/2) u(x0 + x), u the first-order standard uncertainty of
# a sample of `replicates` readings (its reading scatter that of the blank
# where u_blank was given, else the fit's scatter model at x); NA where none is
# found up to the curve's end.
loq_din <- function(cal, x0, sigma0, replicates, alpha, k_loq, fixed_blank) {
  k2 <- coverage_factor(cal, 1 - alpha)$k
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  top <- hi - x0
  if (!(top > 0)) return(NA_real_)
  same_uy <- is.null(cal$u_y) || all(cal$u_y == cal$u_y[1])
  excess <- function(x) {
    xa <- x0 + x
    g <- basis_rows(xa, ncoef_of(cal), lo, hi)
    b <- curve_slope(cal$chebyshev$coef, xa, lo, hi)
    sr <- if (fixed_blank || !same_uy) rep(sigma0, length(xa)) else response_sd(cal, xa)
    u <- sqrt(rowSums((g %*% cal$cov_used) * g) + sr^2 / replicates) / abs(b)
    x - k_loq * k2 * u
  }
  grid <- seq(0, top, length.out = 401)[-1]
  above <- which(excess(grid) >= 0)
  if (!length(above)) return(NA_real_)
  j <- above[1]
  a <- if (j == 1L) 0 else grid[j - 1L]
  b <- grid[j]
  for (i in 1:100) {
    m <- 0.5 * (a + b)
    if (excess(m) >= 0) b <- m else a <- m
    if (b - a <= 1e-13 * max(abs(b), 1e-300)) break
  }
  0.5 * (a + b)
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
