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

# A laboratory's acceptance criteria (the Python package's AcceptanceCriteria):
# the overall false-rejection rate alpha of the statistical tests, shared
# equally among the tests that apply (Bonferroni) unless a test's own level is
# given; back-calculation tolerances (%) and the share of standards that must
# read back; the Cook's distance that marks a standard influential; and the
# criteria whose failure only warns.
CRITERIA <- c("goodness", "lack_of_fit", "outliers", "back_calculated")

acceptance_criteria <- function(alpha = 0.05, alpha_goodness = NULL, alpha_lack_of_fit = NULL,
                                alpha_outliers = NULL, tolerance = 15, tolerance_lowest = 20,
                                back_fraction = 0.75, cook = 1, warn_only = character()) {
  level <- function(v, name, optional = TRUE) {
    if (is.null(v) && optional) return(NULL)
    if (!is.numeric(v) || length(v) != 1L || is.na(v) || !(v > 0 && v < 1)) {
      input_error(name, " must lie strictly between 0 and 1")
    }
    as.double(v)
  }
  positive <- function(v, name) {
    if (!is.numeric(v) || length(v) != 1L || is.na(v) || !(v > 0) || !is.finite(v)) {
      input_error(name, " must be positive")
    }
    as.double(v)
  }
  if (!is.numeric(back_fraction) || length(back_fraction) != 1L || is.na(back_fraction) ||
      back_fraction < 0 || back_fraction > 1) {
    input_error("back_fraction must lie in [0, 1]")
  }
  if (is.null(warn_only)) warn_only <- character()
  if (!is.character(warn_only) || anyNA(warn_only) || !all(warn_only %in% CRITERIA)) {
    input_error("warn_only names criteria among ", paste(CRITERIA, collapse = ", "))
  }
  structure(list(alpha = level(alpha, "alpha", FALSE),
                 alpha_goodness = level(alpha_goodness, "alpha_goodness"),
                 alpha_lack_of_fit = level(alpha_lack_of_fit, "alpha_lack_of_fit"),
                 alpha_outliers = level(alpha_outliers, "alpha_outliers"),
                 tolerance = positive(tolerance, "tolerance"),
                 tolerance_lowest = positive(tolerance_lowest, "tolerance_lowest"),
                 back_fraction = as.double(back_fraction), cook = positive(cook, "cook"),
                 warn_only = unique(warn_only)),
            class = "quorvex_criteria")
}

# Criteria from NULL (the defaults), a quorvex_criteria, or a list of fields.
as_criteria <- function(criteria) {
  if (is.null(criteria)) return(acceptance_criteria())
  if (inherits(criteria, "quorvex_criteria")) return(criteria)
  if (is.list(criteria) && (!length(criteria) || !is.null(names(criteria)) &&
                            all(nzchar(names(criteria))))) {
    unknown <- setdiff(names(criteria), names(formals(acceptance_criteria)))
    if (length(unknown)) {
      input_error("criteria has no field ", paste(unknown, collapse = ", "), "; its fields are ",
                  paste(names(formals(acceptance_criteria)), collapse = ", "))
    }
    return(do.call(acceptance_criteria, criteria))
  }
  input_error("criteria must be made by acceptance_criteria() or be a named list of its fields")
}

print.quorvex_criteria <- function(x, ...) {
  cat(criteria_text(x), "\n", sep = "")
  invisible(x)
}

criteria_text <- function(c) {
  text <- sprintf(paste("overall alpha %g, shared by the tests that apply; standards read back",
                        "within +-%g %% (+-%g %% at the lowest level) for at least %g %% of",
                        "them; Cook's distance above %g marks a standard influential"),
                  c$alpha, c$tolerance, c$tolerance_lowest, 100 * c$back_fraction, c$cook)
  if (length(c$warn_only)) text <- paste0(text, "; only warn: ", paste(c$warn_only, collapse = ", "))
  text
}

# The level of each statistical test that applies to cal (a named list): its
# own level where one was given, else an equal share of alpha.
test_levels <- function(crit, cal) {
  tests <- character()
  if (!is.null(cal$u_y) && cal$dof > 0) tests <- c(tests, "goodness")
  if (!is.null(lack_of_fit(cal))) tests <- c(tests, "lack_of_fit")
  if (cal$dof > (if (cal$covariance == "stated") 0 else 1)) tests <- c(tests, "outliers")
  share <- crit$alpha / max(length(tests), 1)
  out <- list()
  for (t in tests) out[[t]] <- if (is.null(crit[[paste0("alpha_", t)]])) share else
    crit[[paste0("alpha_", t)]]
  out
}

# ("pass" | "doubtful" | "fail" | "not tested", the verdict in words): fail at
# p < alpha, doubtful below 0.05.
goodness_verdict <- function(cal, alpha = ALPHA_REJECT) {
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
  if (p < alpha) {
    return(c("fail", paste0(head, ": the scatter is larger than the stated uncertainties ",
                            "allow (wrong degree, outliers, or understated uncertainties)")))
  }
  if (p < max(ALPHA_DOUBT, alpha)) {
    return(c("doubtful", paste0(head, ": the scatter is somewhat larger than stated")))
  }
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
# fit's dof for the scaled covariance, normal for the stated one; the
# quantiles are the laboratory library's (Boost.Math), as every host has them.
coverage_factor <- function(cal, level, sided = 2) {
  if (!is.numeric(level) || length(level) != 1L || is.na(level) || !(level > 0 && level < 1)) {
    input_error("level must lie strictly between 0 and 1")
  }
  q <- if (sided == 2) (1 + level) / 2 else level
  if (cal$covariance == "scaled") {
    if (cal$dof == 0) input_error("the scaled covariance needs degrees of freedom: this fit has none")
    return(list(k = lab_quantile("t", q, cal$dof), distribution = sprintf("t(%d)", cal$dof),
                dof = cal$dof))
  }
  list(k = lab_quantile("normal", q), distribution = "normal", dof = Inf)
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

# The threshold of |residual statistic| for a family level alpha over all
# standards: the largest of n statistics against the two-sided Bonferroni level
# alpha/n; t(dof - 1) for the externally studentized residual of a scaled fit,
# normal for the normalized residual of stated uncertainties; the
# errors-in-variables fit tests 2n statistics (x and y), with t(dof) when
# scaled.  Inf where no test is possible.
outlier_threshold <- function(cal, alpha = FAMILY_ALPHA) {
  n <- max(length(cal$x), 1)
  if (cal$kind == "gls") {
    q <- alpha / (4 * n)
    if (cal$covariance == "stated") return(qnorm(q, lower.tail = FALSE))
    if (cal$dof < 1) return(Inf)
    return(qt(q, cal$dof, lower.tail = FALSE))
  }
  q <- alpha / (2 * n)
  if (cal$covariance == "stated") return(qnorm(q, lower.tail = FALSE))
  if (cal$dof < 2) return(Inf)
  qt(q, cal$dof - 1, lower.tail = FALSE)
}

default_threshold <- function(cal) {
  outlier_threshold(cal, test_levels(acceptance_criteria(), cal)$outliers %||% FAMILY_ALPHA)
}

`%||%` <- function(a, b) if (is.null(a)) b else a

# How standard i is named to people: its row name in the data.
standard_name <- function(cal, i) {
  if (is.null(cal$ids)) as.character(i) else cal$ids[i]
}

# Standards whose residual or influence stands out (a data frame, one row per
# standard flagged; `index` its place among the fitted standards, `standard`
# its name).  An outlier's residual is beyond the threshold (it fails a run);
# an influential standard (Cook's distance above `cook`, or leverage 1) is
# shown but fails nothing by itself.
outliers <- function(cal, threshold = default_threshold(cal), cook = COOK_THRESHOLD) {
  reasons <- list()
  add <- function(i, text) {
    key <- as.character(i)
    reasons[[key]] <<- c(reasons[[key]], text)
  }
  fmt <- function(v) formatC(v, digits = 3, format = "g", flag = "+")
  n <- length(cal$x)
  h <- rep(NA_real_, n)
  if (cal$kind == "gls") {
    z <- cal$weighted_residuals / sigma_hat(cal)
    zx <- cal$weighted_residuals_x / sigma_hat(cal)
    name <- "normalized y residual"
    big <- abs(z) > threshold
    for (i in which(big | abs(zx) > threshold)) {
      if (abs(zx[i]) > threshold) {
        add(i, sprintf("normalized x residual %s beyond +-%g", fmt(zx[i]), threshold))
      }
      if (big[i]) add(i, sprintf("%s %s beyond +-%g", name, fmt(z[i]), threshold))
    }
    big <- rep(TRUE, n)
    infl <- rep(FALSE, n)
    d <- rep(NA_real_, n)
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
    infl <- influential | pinned
    for (i in which(big | infl)) {
      if (big[i]) add(i, sprintf("%s %s beyond +-%g", name, fmt(z[i]), threshold))
      if (influential[i]) {
        add(i, sprintf("influential: Cook's distance %s above %g (leverage %s)",
                       formatC(d[i], digits = 3, format = "g"), cook,
                       formatC(h[i], digits = 3, format = "g")))
      }
      if (pinned[i]) {
        add(i, "leverage 1: the curve is pinned to this standard, its residual cannot show an error")
      }
    }
  }
  rows <- sort(as.integer(names(reasons)))
  data.frame(index = rows, standard = vapply(rows, function(i) standard_name(cal, i), ""),
             x = cal$x[rows], y = cal$y[rows], statistic = z[rows],
             cooks_distance = d[rows], leverage = h[rows], outlier = big[rows],
             influential = infl[rows],
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
                            tolerance_lowest = BACK_TOLERANCE_LOWEST, fraction = BACK_FRACTION) {
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
  overall <- n_tested > 0 && n_passed >= fraction * n_tested
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

# r and r^2 of the fit, weighted as the fit was: r^2 = 1 - sum (W e)^2 /
# sum W^2 (y - ybar_W)^2; r signed by the slope for a straight line.  They say
# little about a calibration (standards over a wide range make them close to
# 1 whether or not the curve is right).
correlation <- function(cal) {
  w2 <- cal$weights^2
  ybar <- sum(w2 * cal$y) / sum(w2)
  tot <- sum(w2 * (cal$y - ybar)^2)
  res <- sum(w2 * cal$residuals^2)
  if (!(tot > 0)) return(c(r = NaN, r_squared = NaN))
  r2 <- 1 - res / tot
  r <- sqrt(max(r2, 0))
  if (ncoef_of(cal) == 2 && cal$coefficients[2] < 0) r <- -r
  c(r = r, r_squared = r2)
}

SHOWN_OUTLIERS <- 5L

# Every verdict under the acceptance criteria `criteria` (see
# acceptance_criteria()): list(rows = data frame test/verdict/details,
# fit_for_use, verdict in words, notes, failed, warned, levels, ...).
verdicts <- function(cal, criteria = NULL) {
  crit <- as_criteria(criteria)
  levels <- test_levels(crit, cal)
  at <- function(name) if (is.null(levels[[name]])) "" else
    sprintf(" (alpha %s)", format(signif(levels[[name]], 3)))
  gv <- goodness_verdict(cal, levels$goodness %||% ALPHA_REJECT)
  rows <- list(c("goodness of fit", gv[1], paste0(gv[2], at("goodness"))))
  lof <- lack_of_fit(cal)
  if (!is.null(lof)) {
    p <- lof$p_value
    lof$verdict <- if (is.na(p)) "not tested" else if (p < levels$lack_of_fit) "fail" else
      if (p < max(ALPHA_DOUBT, levels$lack_of_fit)) "doubtful" else "pass"
    rows[[length(rows) + 1]] <- c("lack of fit", lof$verdict, paste0(lof$text, at("lack_of_fit")))
  } else if (cal$kind == "ols") {
    rows[[length(rows) + 1]] <- c("lack of fit", "not tested", "no replicate x values")
  }
  threshold <- outlier_threshold(cal, levels$outliers %||% FAMILY_ALPHA)
  out <- outliers(cal, threshold, crit$cook)
  flagged <- out[out$outlier, , drop = FALSE]
  infl <- out[!out$outlier, , drop = FALSE]
  for (i in seq_len(min(nrow(flagged), SHOWN_OUTLIERS))) {
    rows[[length(rows) + 1]] <- c("outlier", "flag", sprintf("standard %s (x = %g): %s",
                                                            flagged$standard[i], flagged$x[i],
                                                            flagged$reasons[i]))
  }
  if (nrow(flagged) > SHOWN_OUTLIERS) {
    rows[[length(rows) + 1]] <- c("", "", sprintf("... and %d more", nrow(flagged) - SHOWN_OUTLIERS))
  }
  stat <- if (cal$kind == "gls") "normalized y residual" else
    if (cal$covariance == "stated") "normalized residual" else "studentized residual"
  if (!nrow(flagged)) {
    rows[[length(rows) + 1]] <- c("outliers", "none", sprintf(
      "|%s| <= %s%s", stat, format(signif(threshold, 3)), at("outliers")))
  }
  for (i in seq_len(min(nrow(infl), SHOWN_OUTLIERS))) {
    rows[[length(rows) + 1]] <- c("influential", "shown", sprintf("standard %s (x = %g): %s",
                                                                 infl$standard[i], infl$x[i],
                                                                 infl$reasons[i]))
  }
  back <- NULL
  if (ncoef_of(cal) >= 2) {
    back <- back_calculated(cal, crit$tolerance, crit$tolerance_lowest, crit$back_fraction)
    rows[[length(rows) + 1]] <- c("back-calculated", if (back$overall) "pass" else "fail", back$text)
  }
  for (e in cal$excluded) {
    rows[[length(rows) + 1]] <- c("excluded", "left out", sprintf(
      "standard %s (x = %g, y = %g): %s", e$standard, e$x, e$y, e$reason))
  }
  rr <- correlation(cal)
  if (is.finite(rr[["r"]])) {
    rows[[length(rows) + 1]] <- c("correlation", "", sprintf(
      "r = %.6f, r\u00b2 = %.6f (they say little about a calibration: the tests above do)",
      rr[["r"]], rr[["r_squared"]]))
  }
  rows[[length(rows) + 1]] <- c("criteria", "", criteria_text(crit))
  failing <- list()
  if (gv[1] == "fail") failing$goodness <- "the chi2 test rejects the fit"
  if (!is.null(lof) && lof$verdict == "fail") {
    failing$lack_of_fit <- "the lack-of-fit test rejects the curve's shape (try another degree)"
  }
  if (nrow(flagged)) {
    failing$outliers <- sprintf("%d outlier(s): standard%s %s%s", nrow(flagged),
                                if (nrow(flagged) > 1) "s" else "",
                                paste(utils::head(flagged$standard, 10), collapse = ", "),
                                if (nrow(flagged) > 10) ", ..." else "")
  }
  if (!is.null(back) && !back$overall) {
    failing$back_calculated <- sprintf(paste("fewer than %g %% of the standards read back",
                                             "within their limits"), 100 * crit$back_fraction)
  }
  failed <- setdiff(names(failing), crit$warn_only)
  warned <- intersect(names(failing), crit$warn_only)
  why <- unlist(failing[failed], use.names = FALSE)
  if (cal$dof == 0) why <- c(why, "no degrees of freedom: nothing shows the curve adequate")
  if (ncoef_of(cal) < 2) why <- c(why, "a constant curve cannot be read back into x")
  notes <- c(why, if (length(warned)) paste("warning only:", unlist(failing[warned], use.names = FALSE)))
  if (nrow(infl)) {
    notes <- c(notes, sprintf("influential (shown, not a reason to reject): standard%s %s",
                              if (nrow(infl) > 1) "s" else "",
                              paste(utils::head(infl$standard, 10), collapse = ", ")))
  }
  fit_for_use <- cal$dof > 0 && ncoef_of(cal) >= 2 && !length(failed)
  verdict <- if (fit_for_use) "fit for use" else
    paste0("NOT fit for use (", paste(why, collapse = "; "), ")")
  if (fit_for_use && length(warned)) {
    verdict <- paste0(verdict, " (with warnings: ",
                      paste(unlist(failing[warned], use.names = FALSE), collapse = "; "), ")")
  }
  m <- do.call(rbind, rows)
  list(rows = data.frame(test = m[, 1], verdict = m[, 2], details = m[, 3],
                         stringsAsFactors = FALSE),
       fit_for_use = fit_for_use, verdict = verdict, notes = notes, failed = failed,
       warned = warned, levels = levels, criteria = crit, threshold = threshold,
       statistic = stat, outliers = out, lack_of_fit = lof, back_calculated = back,
       goodness = gv[1], p_value = p_value(cal), r = rr[["r"]], r_squared = rr[["r_squared"]])
}
