# Is a calibration fit for use: goodness of fit, lack of fit, bands, residual
# diagnostics, back-calculated standards.  The same definitions and thresholds
# as the Python package (quorvex.diagnostics).
#
# Notation: W_i the weights the library used (1/u_y, ones, or a weighting),
# e_i the residuals, g_i the basis row at x_i, C = cal$cov = (A'A)^-1 the
# unscaled coefficient covariance of the weighted design A = diag(W) G,
# chi2 = sum (W_i e_i)^2, dof = n - ncoef, s = SRES = sqrt(chi2/dof).

ALPHA_DOUBT <- 0.05
ALPHA_REJECT <- 0.01
BACK_TOLERANCE <- 15
BACK_TOLERANCE_LOWEST <- 20
BACK_FRACTION <- 0.75
RESIDUAL_THRESHOLD <- 3
FAMILY_ALPHA <- 0.05
COOK_THRESHOLD <- 1
PINNED_LEVERAGE <- 1 - 1e-9

# 1 when the calibration's uncertainties are the stated ones, else SRES.
sigma_hat <- function(cal) if (cal$covariance == "stated") 1 else cal$sres

ncoef_of <- function(cal) length(cal$chebyshev$coef)

# P(chi2_dof >= chi2), the chi-squared test of the stated uncertainties (NA
# without them or without degrees of freedom).
p_value <- function(cal) {
  if (is.null(cal$u_y) || cal$dof == 0) return(NA_real_)
  pchisq(cal$chi2, cal$dof, lower.tail = FALSE)
}

goodness_verdict <- function(cal) {
  if (cal$dof == 0) {
    return(c("not tested", paste("no degrees of freedom: the curve passes through every",
                                 "standard, so its adequacy cannot be tested")))
  }
  if (is.null(cal$u_y)) {
    return(c("not tested", sprintf(paste("no stated uncertainties: the chi2 test does not",
                                         "apply; the scatter sets the uncertainties (SRES %s)"),
                                   format(signif(cal$sres, 4)))))
  }
  p <- p_value(cal)
  head <- sprintf("chi2 %s on %d dof, p = %s", format(signif(cal$chi2, 4)), cal$dof,
                  format(signif(p, 3)))
  if (p < ALPHA_REJECT) {
    return(c("fail", paste0(head, ": the scatter is larger than the stated uncertainties ",
                            "allow (wrong degree, outliers, or understated uncertainties)")))
  }
  if (p < ALPHA_DOUBT) return(c("doubtful", paste0(head, ": the scatter is somewhat larger than stated")))
  if (1 - p < ALPHA_REJECT) {
    return(c("pass", paste0(head, ": consistent, but the scatter is much smaller than ",
                            "stated (the stated uncertainties may be too large)")))
  }
  c("pass", paste0(head, ": consistent with the stated uncertainties"))
}

# The lack-of-fit F test with replicate x values, or NULL where it does not
# apply (errors-in-variables fit, no replicates, too few levels).
lack_of_fit <- function(cal) {
  if (cal$kind != "ols") return(NULL)
  levels <- sort(unique(cal$x))
  group <- match(cal$x, levels)
  g <- length(levels)
  dof_pure <- length(cal$x) - g
  dof_lack <- g - ncoef_of(cal)
  if (dof_pure <= 0 || dof_lack <= 0) return(NULL)
  w2 <- cal$weights^2
  mean <- drop(rowsum(w2 * cal$y, group, reorder = TRUE)) /
    drop(rowsum(w2, group, reorder = TRUE))
  ss_pure <- sum(w2 * (cal$y - mean[group])^2)
  ss_lack <- max(cal$chi2 - ss_pure, 0)
  if (ss_pure == 0) {
    f <- if (ss_lack > 0) Inf else NaN
    p <- if (ss_lack > 0) 0 else NaN
  } else {
    f <- (ss_lack / dof_lack) / (ss_pure / dof_pure)
    p <- pf(f, dof_lack, dof_pure, lower.tail = FALSE)
  }
  verdict <- if (is.na(p)) "not tested" else if (p < ALPHA_REJECT) "fail" else
    if (p < ALPHA_DOUBT) "doubtful" else "pass"
  list(ss_lack = ss_lack, dof_lack = dof_lack, ss_pure = ss_pure, dof_pure = dof_pure,
       f = f, p_value = p, groups = g, verdict = verdict,
       text = sprintf("F %s on (%d, %d) dof, p = %s (%d levels with replicates)",
                      format(signif(f, 4)), dof_lack, dof_pure, format(signif(p, 3)), g))
}

# k for a two-sided (or one-sided) coverage probability: Student's t with the
# fit's dof for the scaled covariance, normal for the stated one.
coverage_factor <- function(cal, level, sided = 2) {
  if (!is.numeric(level) || length(level) != 1L || is.na(level) || !(level > 0 && level < 1)) {
    input_error("level must lie strictly between 0 and 1")
  }
  q <- if (sided == 2) (1 + level) / 2 else level
  if (cal$covariance == "scaled") {
    if (cal$dof == 0) input_error("the scaled covariance needs degrees of freedom: this fit has none")
    return(list(k = qt(q, cal$dof), distribution = sprintf("t(%d)", cal$dof), dof = cal$dof))
  }
  list(k = qnorm(q), distribution = "normal", dof = Inf)
}

# Relative scatter 1/W(x) of a response at new x under the fit's weighting.
response_scale <- function(weighting, x) {
  if (is.null(weighting)) return(rep(1, length(x)))
  if (weighting == "1/x") sqrt(x) else abs(x)
}

# Standard deviation of one new response at each x (the Python package's
# response_sd): u_y as given; else the standards' common stated u_y, or SRES/W(x).
response_sd <- function(cal, x, u_y = NULL) {
  if (!is.null(u_y)) {
    u <- numeric_column(u_y, "u_y", length(x))
    if (!all(u >= 0)) input_error("u_y must not be negative")
    return(if (length(u) == 1L) rep(u, length(x)) else u)
  }
  if (!is.null(cal$u_y)) {
    if (!all(cal$u_y == cal$u_y[1])) {
      input_error("the standards' u_y differ, so the response uncertainty at new points is ",
                  "not known: give u_y")
    }
    base <- rep(cal$u_y[1], length(x))
  } else {
    base <- response_scale(cal$weighting, x)
  }
  base * sigma_hat(cal)
}

# Curve values and u(p(x)) = sqrt(g' C g) at x inside the interval.
evaluate <- function(cal, x, uncertainty = FALSE) {
  x <- as.double(x)
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  bad <- which(!is.finite(x) | x < lo | x > hi)
  if (length(bad)) {
    input_error("x must lie in the curve's interval [", format(lo), ", ", format(hi),
                "]: element(s) ", row_list(bad), " do not", routine = "POLYEVAL")
  }
  r <- .Call(qvx_polyeval, cal$chebyshev$coef, x, lo, hi)
  if (r$status != 0L) status_error("POLYEVAL", r$status, list(xmin = lo, xmax = hi))
  if (!uncertainty) return(r$y)
  g <- basis_rows(x, ncoef_of(cal), lo, hi)
  list(y = r$y, u = sqrt(rowSums((g %*% cal$cov_used) * g)))
}

leverages <- function(cal) {
  g <- basis_rows(cal$x, ncoef_of(cal), cal$interval[1], cal$interval[2])
  cal$weights^2 * rowSums((g %*% cal$chebyshev$cov) * g)
}

studentized <- function(cal, h, external) {
  r <- cal$weighted_residuals
  one_h <- ifelse(h < PINNED_LEVERAGE, 1 - h, NaN)
  if (!external) {
    s2 <- rep(if (cal$dof > 0) cal$chi2 / cal$dof else NaN, length(r))
  } else {
    s2 <- if (cal$dof > 1) (cal$chi2 - r^2 / one_h) / (cal$dof - 1) else rep(NaN, length(r))
    s2 <- ifelse(s2 > 0, s2, NaN)
  }
  r / sqrt(s2 * one_h)
}

default_threshold <- function(n) {
  max(RESIDUAL_THRESHOLD, qnorm(FAMILY_ALPHA / (2 * max(n, 1)), lower.tail = FALSE))
}

# Standards whose residual or influence stands out (a data frame; rows are the
# standards' row numbers).
outliers <- function(cal, threshold = default_threshold(length(cal$x)), cook = COOK_THRESHOLD) {
  reasons <- list()
  add <- function(i, text) {
    key <- as.character(i)
    reasons[[key]] <<- c(reasons[[key]], text)
  }
  fmt <- function(v) formatC(v, digits = 3, format = "g", flag = "+")
  if (cal$kind == "gls") {
    z <- cal$weighted_residuals / sigma_hat(cal)
    zx <- cal$weighted_residuals_x / sigma_hat(cal)
    name <- "normalized y residual"
    for (i in which(abs(zx) > threshold)) {
      add(i, sprintf("normalized x residual %s beyond +-%g", fmt(zx[i]), threshold))
    }
    for (i in which(abs(z) > threshold)) add(i, sprintf("%s %s beyond +-%g", name, fmt(z[i]), threshold))
    d <- rep(NA_real_, length(z))
  } else {
    h <- leverages(cal)
    if (cal$covariance == "stated") {
      z <- cal$weighted_residuals / sqrt(ifelse(h < PINNED_LEVERAGE, 1 - h, NaN))
      name <- "normalized residual"
    } else {
      z <- studentized(cal, h, external = TRUE)
      name <- "studentized residual"
    }
    r <- studentized(cal, h, external = FALSE)
    d <- r^2 * h / (ncoef_of(cal) * (1 - h))
    big <- !is.na(z) & abs(z) > threshold
    influential <- !is.na(d) & d > cook
    pinned <- h >= PINNED_LEVERAGE & cal$dof > 0
    for (i in which(big | influential | pinned)) {
      if (big[i]) add(i, sprintf("%s %s beyond +-%g", name, fmt(z[i]), threshold))
      if (influential[i]) {
        add(i, sprintf("Cook's distance %s above %g", formatC(d[i], digits = 3, format = "g"), cook))
      }
      if (pinned[i]) {
        add(i, "leverage 1: the curve is pinned to this standard, its residual cannot show an error")
      }
    }
  }
  rows <- sort(as.integer(names(reasons)))
  data.frame(row = rows, x = cal$x[rows], y = cal$y[rows], statistic = z[rows],
             cooks_distance = d[rows],
             reasons = vapply(reasons[as.character(rows)], paste, "", collapse = "; ",
                              USE.NAMES = FALSE),
             stringsAsFactors = FALSE)
}

# x with p(x) = y nearest to `near`, by the tangent at an end where there is none.
read_back <- function(cal, y, near) {
  r <- ipval(cal, y, rep(0, length(y)))
  x <- nearest_root(r$roots, near)
  miss <- which(r$n_roots == 0)
  if (length(miss)) {
    ends <- cal$interval
    pe <- evaluate(cal, ends)
    se <- curve_slope(cal$chebyshev$coef, ends, ends[1], ends[2])
    for (i in miss) {
      cand <- ends + (y[i] - pe) / se
      cand[!is.finite(cand)] <- NA
      if (any(!is.na(cand))) x[i] <- cand[which.min(abs(cand - near[i]))]
    }
  }
  x
}

back_calculated <- function(cal, tolerance = BACK_TOLERANCE,
                            tolerance_lowest = BACK_TOLERANCE_LOWEST) {
  x0 <- cal$x
  xb <- read_back(cal, cal$y, x0)
  blank <- x0 == 0
  pct <- ifelse(blank, NA_real_, 100 * xb / x0)
  limit <- rep(tolerance, length(x0))
  if (any(!blank)) {
    lowest <- min(abs(x0[!blank]))
    limit[abs(x0) == lowest & !blank] <- tolerance_lowest
  }
  passed <- blank | (!is.na(pct) & abs(pct - 100) <= limit)
  n_tested <- sum(!blank)
  n_passed <- sum(passed & !blank)
  overall <- n_tested > 0 && n_passed >= BACK_FRACTION * n_tested
  text <- if (n_tested == 0) "no non-blank standards to read back" else {
    dev <- abs(pct - 100)
    dev[blank | is.na(dev)] <- -Inf
    dev[!blank & is.na(pct)] <- Inf
    worst <- which.max(dev)
    sprintf("%d of %d standards within +-%g %% (+-%g %% at the lowest level); worst %.1f %% at x = %g",
            n_passed, n_tested, min(limit[!blank]), max(limit[!blank]), pct[worst], x0[worst])
  }
  list(x_nominal = x0, x_back = xb, percent = pct, limit = limit, passed = passed,
       blank = blank, n_tested = n_tested, n_passed = n_passed, overall = overall, text = text)
}

# Every verdict: list(rows = data frame test/verdict/details, fit_for_use, notes).
verdicts <- function(cal) {
  gv <- goodness_verdict(cal)
  rows <- list(c("goodness of fit", gv))
  lof <- lack_of_fit(cal)
  if (!is.null(lof)) {
    rows[[length(rows) + 1]] <- c("lack of fit", lof$verdict, lof$text)
  } else if (cal$kind == "ols") {
    rows[[length(rows) + 1]] <- c("lack of fit", "not tested", "no replicate x values")
  }
  threshold <- default_threshold(length(cal$x))
  out <- outliers(cal, threshold)
  if (nrow(out)) {
    for (i in seq_len(min(nrow(out), 5))) {
      rows[[length(rows) + 1]] <- c("outlier", "flag", sprintf("standard in row %d (x = %g): %s",
                                                              out$row[i], out$x[i], out$reasons[i]))
    }
    if (nrow(out) > 5) rows[[length(rows) + 1]] <- c("", "", sprintf("... and %d more", nrow(out) - 5))
  } else {
    stat <- if (cal$kind == "gls") "normalized y residual" else
      if (cal$covariance == "stated") "normalized residual" else "studentized residual"
    rows[[length(rows) + 1]] <- c("outliers", "none", sprintf(
      "|%s| <= %s%s", stat, format(signif(threshold, 3)),
      if (cal$kind == "ols") sprintf(", Cook's distance <= %g", COOK_THRESHOLD) else ""))
  }
  back <- NULL
  if (ncoef_of(cal) >= 2) {
    back <- back_calculated(cal)
    rows[[length(rows) + 1]] <- c("back-calculated", if (back$overall) "pass" else "fail", back$text)
  }
  notes <- character()
  if (gv[1] == "fail") notes <- c(notes, "the chi2 test rejects the fit")
  if (cal$dof == 0) notes <- c(notes, "no degrees of freedom: nothing shows the curve adequate")
  if (ncoef_of(cal) < 2) notes <- c(notes, "a constant curve cannot be read back into x")
  if (!is.null(lof) && lof$verdict == "fail") {
    notes <- c(notes, "the lack-of-fit test rejects the curve's shape (try another degree)")
  }
  if (nrow(out)) notes <- c(notes, sprintf("%d standard(s) flagged: rows %s", nrow(out), row_list(out$row)))
  if (!is.null(back) && !back$overall) {
    notes <- c(notes, "fewer than 75 % of the standards read back within their limits")
  }
  fit_for_use <- cal$dof > 0 && ncoef_of(cal) >= 2 && gv[1] != "fail" &&
    (is.null(lof) || lof$verdict != "fail") && nrow(out) == 0 &&
    (is.null(back) || back$overall)
  m <- do.call(rbind, rows)
  list(rows = data.frame(test = m[, 1], verdict = m[, 2], details = m[, 3],
                         stringsAsFactors = FALSE),
       fit_for_use = fit_for_use, notes = notes, outliers = out, lack_of_fit = lof,
       back_calculated = back, p_value = p_value(cal))
}
