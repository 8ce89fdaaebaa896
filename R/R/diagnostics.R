# Is a calibration fit for use: goodness of fit, lack of fit, residual
# diagnostics, back-calculated standards, the verdict.  Every number and
# every verdict comes from the laboratory library (QVXL_DIAGNOSE,
# QVXL_VERDICT, QVXL_TEST_VERDICT), as in the Python package; this file passes
# a fit and its criteria and words the results.

# 1 when the calibration's uncertainties are the stated ones, else SRES.
sigma_hat <- function(cal) if (cal$covariance == "stated") 1 else cal$sres

ncoef_of <- function(cal) length(cal$chebyshev$coef)

# Every diagnostic of cal under criteria (acceptance_criteria(), or NULL for
# the defaults), with a given outlier threshold or Cook limit.
diagnose <- function(cal, criteria = NULL, threshold = NULL, cook = NULL) {
  crit <- as_criteria(criteria)
  lab_diagnose(cal, criteria_vector(crit, threshold, if (is.null(cook)) crit$cook else cook))
}

# P(chi2_dof >= chi2), the chi-squared test of the stated uncertainties (NA
# without them or without degrees of freedom).
p_value <- function(cal, d = diagnose(cal)) na_for_nan(d$p_chi2)

# A laboratory's acceptance criteria (the Python package's AcceptanceCriteria):
# the overall false-rejection rate alpha of the statistical tests, shared
# equally among the tests that apply (Bonferroni) unless a test's own level is
# given; back-calculation tolerances (%) and the share of standards that must
# read back; the Cook's distance that marks a standard influential; and the
# criteria whose failure only warns.
CRITERIA <- c("goodness", "lack_of_fit", "outliers", "back_calculated")

acceptance_criteria <- function(alpha = 0.05, alpha_goodness = NULL, alpha_lack_of_fit = NULL,
                                alpha_outliers = NULL, tolerance = 15, tolerance_lowest = 20,
                                back_fraction = 0.75, cook = 1, warn_only = character(),
                                min_levels = 0, rse_limit = NULL, preset = "quorvex") {
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
  if (!is.character(warn_only) || anyNA(warn_only) ||
      !all(warn_only %in% c(CRITERIA, EXTRA_RULES))) {
    input_error("warn_only names criteria among ",
                paste(c(CRITERIA, EXTRA_RULES), collapse = ", "))
  }
  if (!is.numeric(min_levels) || length(min_levels) != 1L || is.na(min_levels) ||
      min_levels < 0 || min_levels != round(min_levels)) {
    input_error("min_levels must be a whole number 0 or more")
  }
  if (!is.null(rse_limit)) rse_limit <- positive(rse_limit, "rse_limit")
  if (!is.character(preset) || length(preset) != 1L || is.na(preset) || !nzchar(preset)) {
    input_error("preset names where the criteria come from (one non-empty text)")
  }
  structure(list(alpha = level(alpha, "alpha", FALSE),
                 alpha_goodness = level(alpha_goodness, "alpha_goodness"),
                 alpha_lack_of_fit = level(alpha_lack_of_fit, "alpha_lack_of_fit"),
                 alpha_outliers = level(alpha_outliers, "alpha_outliers"),
                 tolerance = positive(tolerance, "tolerance"),
                 tolerance_lowest = positive(tolerance_lowest, "tolerance_lowest"),
                 back_fraction = as.double(back_fraction), cook = positive(cook, "cook"),
                 warn_only = unique(warn_only), min_levels = as.double(min_levels),
                 rse_limit = rse_limit, preset = preset),
            class = "quorvex_criteria")
}

# The laboratory library's named presets (QVXL_CRITERIA_PRESET): the criteria
# of a guideline, each citing the clause it implements, with changes to
# single fields; a changed preset is named "<name> (changed: <fields>)".
PRESETS <- c("quorvex" = 0L, "ich-m10" = 1L, "epa-8000d" = 2L, "epa-8000d-each" = 3L,
             "assay" = 4L)
EXTRA_RULES <- c("levels", "rse")
PRESET_CITATIONS <- c(
  "quorvex" = paste("quorvex's default: the statistical tests reject at an overall alpha, the",
                    "standards read back as a coarse check of the curve's shape"),
  "ich-m10" = paste("ICH M10 (2022) 3.2.5, calibration curve of a chromatographic method:",
                    "back-calculated standards within +-15 % (+-20 % at the LLOQ), at least",
                    "75 % of them over at least six levels"),
  "epa-8000d" = paste("US EPA SW-846 Method 8000D, 11.5: relative standard error of the",
                      "calibration at most 20 %"),
  "epa-8000d-each" = paste("US EPA SW-846 Method 8000D, the alternative to the relative",
                           "standard error: each standard read back within +-30 % (+-50 % at",
                           "the lowest level)"),
  "assay" = paste("assay (ICH Q2(R2) range 80-120 %): each standard read back within +-2 %,",
                  "the laboratory convention for an assay"))

criteria_preset <- function(name, ...) {
  if (!is.character(name) || length(name) != 1L || !tolower(name) %in% names(PRESETS)) {
    input_error("name must be one of ", paste0("\"", names(PRESETS), "\"", collapse = ", "))
  }
  key <- tolower(name)
  r <- .Call(qvx_criteria_preset, PRESETS[[key]])
  if (r$status != 0L) lab_error("criteria preset", "QVXL_CRITERIA_PRESET", r$status)
  opt <- function(v) if (is.nan(v)) NULL else v
  fields <- list(alpha = r$crit[1], alpha_goodness = opt(r$crit[2]),
                 alpha_lack_of_fit = opt(r$crit[3]), alpha_outliers = opt(r$crit[4]),
                 tolerance = r$crit[5], tolerance_lowest = r$crit[6], back_fraction = r$crit[7],
                 cook = r$crit[8], warn_only = CRITERIA[bitwAnd(r$warn, c(1L, 2L, 4L, 8L)) != 0L],
                 min_levels = r$extra[1], rse_limit = opt(r$extra[2]), preset = key)
  changes <- list(...)
  if (length(changes) && (is.null(names(changes)) || any(!nzchar(names(changes))))) {
    input_error("changes to a preset are named fields, e.g. tolerance = 10")
  }
  changed <- setdiff(names(changes)[!vapply(names(changes), function(k) {
    identical(fields[[k]], changes[[k]])
  }, TRUE)], "preset")
  fields[names(changes)] <- changes
  if (length(changed) && is.null(changes$preset)) {
    fields$preset <- sprintf("%s (changed: %s)", key, paste(changed, collapse = ", "))
  }
  do.call(acceptance_criteria, fields)
}

criteria_citation <- function(crit) {
  base <- sub(" \\(changed: .*$", "", crit$preset %||% "quorvex")
  if (base %in% names(PRESET_CITATIONS)) PRESET_CITATIONS[[base]] else
    sprintf("the laboratory's own criteria '%s'", crit$preset)
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
# own level where one was given, else an equal share of alpha (the library's
# LEVELS, NaN where a test does not apply).
test_levels <- function(crit, cal, d = diagnose(cal, crit)) {
  out <- list()
  for (j in 1:3) if (!is.nan(d$levels[j])) out[[CRITERIA[j]]] <- d$levels[j]
  out
}

# ("pass" | "doubtful" | "fail" | "not tested", the verdict in words): fail at
# p < alpha, doubtful below 0.05 (the library's rule, QVXL_TEST_VERDICT).
goodness_verdict <- function(cal, alpha = 0.01, d = diagnose(cal)) {
  if (cal$dof == 0) {
    return(c("not tested", paste("no degrees of freedom: the curve passes through every",
                                 "standard, so its adequacy cannot be tested")))
  }
  if (is.null(cal$u_y)) {
    return(c("not tested", sprintf(paste("no stated uncertainties: the chi2 test does not",
                                         "apply; the scatter sets the uncertainties (SRES %s)"),
                                   format(signif(cal$sres, 4)))))
  }
  p <- d$p_chi2
  head <- sprintf("chi2 %s on %d dof, p = %s", format(signif(cal$chi2, 4)), cal$dof,
                  format(signif(p, 3)))
  v <- lab_test_verdict(p, alpha)
  if (v$result == RESULT_FAIL) {
    return(c("fail", paste0(head, ": the scatter is larger than the stated uncertainties ",
                            "allow (wrong degree, outliers, or understated uncertainties)")))
  }
  if (v$result == 2L) {
    return(c("doubtful", paste0(head, ": the scatter is somewhat larger than stated")))
  }
  if (v$detail == DETAIL_SMALL_SCATTER) {
    return(c("pass", paste0(head, ": consistent, but the scatter is much smaller than ",
                            "stated (the stated uncertainties may be too large)")))
  }
  c("pass", paste0(head, ": consistent with the stated uncertainties"))
}

# The verdict's test of the curve's shape (its second row): the lack-of-fit F
# test with replicates, else Mandel's F test of the next-higher term (ISO
# 8466-1 / 8466-2; its chi-squared test where stated u(y) set the scale), or
# none; named by the library (QVXL_TEXT kind 4).
SHAPE_LACK_OF_FIT <- 0L
SHAPE_MANDEL <- 3L
SHAPE_ADDED_CHI2 <- 4L
shape_test <- function(v, alpha = NULL) {
  code <- v$detail[2]
  ran <- code %in% c(SHAPE_LACK_OF_FIT, SHAPE_MANDEL, SHAPE_ADDED_CHI2)
  res <- v$result[2]
  out <- list(test = lab_text("shape", code), code = code, statistic = v$statistic[2],
              p_value = v$limit[2], alpha = alpha,
              verdict = if (!ran) "not tested" else if (res == RESULT_WARN) "fail" else
                RESULT_WORDS[res + 1L],
              text = "",
              short = switch(as.character(code), "0" = "the lack-of-fit test",
                             "3" = "Mandel's test of the next-higher term",
                             "4" = "the chi-squared test of the next-higher term",
                             "the shape test"))
  if (ran) {
    out$text <- sprintf("%s: %s %s, p = %s", out$test,
                        if (code == SHAPE_ADDED_CHI2) "Delta chi2" else "F",
                        format(signif(out$statistic, 4)), format(signif(out$p_value, 3)))
  }
  out
}

# The lack-of-fit F test with replicate x values, or NULL where it does not
# apply (errors-in-variables fit, no replicates, too few levels); its verdict
# at `alpha`.
lack_of_fit <- function(cal, d = diagnose(cal), alpha = 0.01) {
  lof <- d$lof
  if (is.nan(lof[5])) return(NULL)
  p <- lof[4]
  verdict <- if (is.na(p)) "not tested" else RESULT_WORDS[lab_test_verdict(p, alpha)$result + 1L]
  list(ss_lack = lof[1], dof_lack = as.integer(lof[5]), ss_pure = lof[2],
       dof_pure = as.integer(lof[6]), f = lof[3], p_value = p, groups = as.integer(lof[7]),
       verdict = verdict,
       text = sprintf("F %s on (%d, %d) dof, p = %s (%d levels with replicates)",
                      format(signif(lof[3], 4)), as.integer(lof[5]), as.integer(lof[6]),
                      format(signif(p, 3)), as.integer(lof[7])))
}

# k for a two-sided (or one-sided) coverage probability: Student's t with the
# fit's dof for the scaled covariance, normal for the stated one (the
# laboratory library's rule, QVXL_COVERAGE).
coverage_factor <- function(cal, level, sided = 2) {
  if (!is.numeric(level) || length(level) != 1L || is.na(level) || !(level > 0 && level < 1)) {
    input_error("level must lie strictly between 0 and 1")
  }
  if (cal$covariance == "scaled") {
    if (cal$dof == 0) input_error("the scaled covariance needs degrees of freedom: this fit has none")
    return(list(k = lab_coverage(cal, level, sided), distribution = sprintf("t(%d)", cal$dof),
                dof = cal$dof))
  }
  list(k = lab_coverage(cal, level, sided), distribution = "normal", dof = Inf)
}

# Standard deviation of one new response at each x (the Python package's
# response_sd): u_y as given; else the library's model (the standards' common
# stated u(y), or the weighting's scale, times SRES when scaled).
response_sd <- function(cal, x, u_y = NULL) {
  if (!is.null(u_y)) {
    u <- numeric_column(u_y, "u_y", length(x))
    if (!all(u >= 0)) input_error("u_y must not be negative")
    return(if (length(u) == 1L) rep(u, length(x)) else u)
  }
  if (!is.null(cal$u_y) && !all(cal$u_y == cal$u_y[1])) {
    input_error("the standards' u_y differ, so the response uncertainty at new points is ",
                "not known: give u_y")
  }
  lab_response_sd(cal, x)
}

# Curve values and u(p(x)) = sqrt(g' C g) at x inside the interval (the
# library's QVXL_CURVE).
evaluate <- function(cal, x, uncertainty = FALSE) {
  x <- as.double(x)
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  bad <- which(!is.finite(x) | x < lo | x > hi)
  if (length(bad)) {
    input_error("x must lie in the curve's interval [", format(lo), ", ", format(hi),
                "]: element(s) ", row_list(bad), " do not", routine = "POLYEVAL")
  }
  if (!length(x)) return(if (uncertainty) list(y = numeric(), u = numeric()) else numeric())
  r <- lab_curve(cal, x, if (uncertainty) 5L else 1L)
  if (!uncertainty) return(r$y)
  list(y = r$y, u = r$u)
}

leverages <- function(cal, d = diagnose(cal)) d$leverage

studentized <- function(cal, external, d = diagnose(cal)) {
  if (external) d$studentized_external else d$studentized_internal
}

# The threshold of |residual statistic| for a family level alpha over all
# standards (Bonferroni over the n statistics, 2n for errors in variables; t
# or normal as the statistic follows): the library's, Inf where no test is
# possible.
outlier_threshold <- function(cal, alpha = 0.05) {
  diagnose(cal, acceptance_criteria(alpha_outliers = alpha))$outl[1]
}

default_threshold <- function(cal) diagnose(cal)$outl[1]

`%||%` <- function(a, b) if (is.null(a)) b else a

# How standard i is named to people: its row name in the data.
standard_name <- function(cal, i) {
  if (is.null(cal$ids)) as.character(i) else cal$ids[i]
}

# Standards whose residual or influence stands out (a data frame, one row per
# standard flagged; `index` its place among the fitted standards, `standard`
# its name).  An outlier's residual is beyond the threshold (it fails a run);
# an influential standard (Cook's distance above `cook`, or leverage 1) is
# shown but fails nothing by itself.  The flags are the library's; d its
# diagnostics with that threshold and Cook limit.
outliers <- function(cal, threshold = NULL, cook = 1,
                     d = diagnose(cal, threshold = threshold, cook = cook)) {
  threshold <- d$outl[1]
  reasons <- list()
  add <- function(i, text) {
    key <- as.character(i)
    reasons[[key]] <<- c(reasons[[key]], text)
  }
  fmt <- function(v) formatC(v, digits = 3, format = "g", flag = "+")
  n <- length(cal$x)
  z <- d$statistic
  name <- STATISTIC_NAMES[d$outl[2]]
  big <- bitwAnd(d$flags, OFLAG_OUTLIER) != 0L
  if (cal$kind == "gls") {
    zx <- d$statistic_x
    big_x <- bitwAnd(d$flags, OFLAG_OUTLIER_X) != 0L
    for (i in which(big | big_x)) {
      if (big_x[i]) add(i, sprintf("normalized x residual %s beyond +-%g", fmt(zx[i]), threshold))
      if (big[i]) add(i, sprintf("%s %s beyond +-%g", name, fmt(z[i]), threshold))
    }
    big <- rep(TRUE, n)
    infl <- rep(FALSE, n)
    h <- cd <- rep(NA_real_, n)
  } else {
    h <- d$leverage
    cd <- d$cooks_distance
    influential <- bitwAnd(d$flags, OFLAG_INFLUENTIAL) != 0L
    pinned <- bitwAnd(d$flags, OFLAG_PINNED) != 0L
    infl <- influential | pinned
    for (i in which(big | infl)) {
      if (big[i]) add(i, sprintf("%s %s beyond +-%g", name, fmt(z[i]), threshold))
      if (influential[i]) {
        add(i, sprintf("influential: Cook's distance %s above %g (leverage %s)",
                       formatC(cd[i], digits = 3, format = "g"), cook,
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
             cooks_distance = cd[rows], leverage = h[rows], outlier = big[rows],
             influential = infl[rows],
             reasons = vapply(reasons[as.character(rows)], paste, "", collapse = "; ",
                              USE.NAMES = FALSE),
             stringsAsFactors = FALSE)
}

# The standards read back through the curve (the library's XBACK, PCT, BLIM,
# BPASS and BACK), with the worst of them in words.
back_calculated <- function(cal, d = diagnose(cal)) {
  x0 <- cal$x
  blank <- x0 == 0
  pct <- na_for_nan(d$percent)
  limit <- d$limit
  n_tested <- as.integer(d$back[1])
  n_passed <- as.integer(d$back[2])
  text <- if (n_tested == 0) "no non-blank standards to read back" else {
    dev <- abs(pct - 100)
    dev[blank | is.na(dev)] <- -Inf
    dev[!blank & is.na(pct)] <- Inf
    worst <- which.max(dev)
    sprintf("%d of %d standards within +-%g %% (+-%g %% at the lowest level); worst %.1f %% at x = %g",
            n_passed, n_tested, min(limit[!blank]), max(limit[!blank]), pct[worst], x0[worst])
  }
  list(x_nominal = x0, x_back = d$x_back, percent = pct, limit = limit, passed = d$passed != 0L,
       blank = blank, n_tested = n_tested, n_passed = n_passed, overall = d$back[3] == 1,
       text = text)
}

# r and r^2 of the fit, weighted as the fit was, r signed by the slope of a
# straight line (the library's CORR).  They say little about a calibration
# (standards over a wide range make them close to 1 whether or not the curve
# is right).
correlation <- function(cal, d = diagnose(cal)) c(r = d$corr[1], r_squared = d$corr[2])

SHOWN_OUTLIERS <- 5L

# Every verdict under the acceptance criteria `criteria` (see
# acceptance_criteria()): list(rows = data frame test/verdict/details,
# fit_for_use, verdict in words, notes, failed, warned, levels, ...).  The
# diagnostics and which criteria fail are the library's (QVXL_DIAGNOSE,
# QVXL_VERDICT); the words are R's.
verdicts <- function(cal, criteria = NULL) {
  crit <- as_criteria(criteria)
  cv <- criteria_vector(crit)
  d <- lab_diagnose(cal, cv)
  v <- lab_verdict(cal, cv, crit$warn_only)
  levels <- test_levels(crit, cal, d)
  at <- function(name) if (is.null(levels[[name]])) "" else
    sprintf(" (alpha %s)", format(signif(levels[[name]], 3)))
  gv <- goodness_verdict(cal, levels$goodness %||% 0.01, d)
  rows <- list(c("goodness of fit", gv[1], paste0(gv[2], at("goodness"))))
  lof <- lack_of_fit(cal, d)
  shape <- shape_test(v, levels$lack_of_fit)
  if (!is.null(lof)) {
    lof$verdict <- if (is.na(lof$p_value)) "not tested" else RESULT_WORDS[v$result[2] + 1L]
    rows[[length(rows) + 1]] <- c("lack of fit", lof$verdict, paste0(lof$text, at("lack_of_fit")))
  } else if (shape$code %in% c(SHAPE_MANDEL, SHAPE_ADDED_CHI2)) {
    rows[[length(rows) + 1]] <- c("curve's shape", shape$verdict,
                                  paste0(shape$text, at("lack_of_fit")))
  } else if (cal$kind == "ols") {
    rows[[length(rows) + 1]] <- c("lack of fit", "not tested", paste(
      "no replicate x values, and too few standards to test the next-higher term"))
  }
  threshold <- d$outl[1]
  out <- outliers(cal, cook = crit$cook, d = d)
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
  stat <- STATISTIC_NAMES[d$outl[2]]
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
    back <- back_calculated(cal, d)
    rows[[length(rows) + 1]] <- c("back-calculated", if (back$overall) "pass" else "fail", back$text)
  }
  for (e in cal$excluded) {
    rows[[length(rows) + 1]] <- c("excluded", "left out", sprintf(
      "standard %s (x = %g, y = %g): %s", e$standard, e$x, e$y, e$reason))
  }
  rr <- correlation(cal, d)
  if (is.finite(rr[["r"]])) {
    rows[[length(rows) + 1]] <- c("correlation", "", sprintf(
      "r = %.6f, r\u00b2 = %.6f (they say little about a calibration: the tests above do)",
      rr[["r"]], rr[["r_squared"]]))
  }
  # The criteria's rules beyond the four (a least number of levels, the RSE),
  # folded into the verdict by the library (QVXL_CRITERIA_EXTRA).
  extra <- NULL
  overall <- v$overall
  if (ncoef_of(cal) >= 2 && (isTRUE(crit$min_levels > 0) || !is.null(crit$rse_limit))) {
    wx <- sum(bitwShiftL(1L, match(intersect(crit$warn_only, EXTRA_RULES), EXTRA_RULES) - 1L))
    extra <- .Call(qvx_criteria_extra, ncoef_of(cal), as.double(cal$x), as.double(d$x_back),
                   as.integer(d$passed),
                   c(as.double(crit$min_levels %||% 0), crit$rse_limit %||% NaN),
                   as.integer(wx), as.integer(overall))
    if (extra$status != 0L) lab_error("acceptance criteria", "QVXL_CRITERIA_EXTRA", extra$status)
    overall <- extra$overall
    words <- c("not tested", "pass", "doubtful", "fail", "warning")
    if (isTRUE(crit$min_levels > 0)) {
      rows[[length(rows) + 1]] <- c("levels", words[extra$result[1] + 1L], sprintf(
        "%d non-zero levels read back within their limits; at least %d required",
        as.integer(extra$statistic[1]), as.integer(crit$min_levels)))
    }
    if (!is.null(crit$rse_limit)) {
      rse <- extra$statistic[2]
      rows[[length(rows) + 1]] <- c("RSE", words[extra$result[2] + 1L], paste0(
        if (is.finite(rse)) sprintf("relative standard error %s %%", format(signif(rse, 3)))
        else "relative standard error not available",
        sprintf("; at most %g %% allowed", crit$rse_limit)))
    }
  }
  rows[[length(rows) + 1]] <- c("criteria", "", criteria_text(crit))
  rows[[length(rows) + 1]] <- c("preset", crit$preset %||% "quorvex", criteria_citation(crit))
  # Why each criterion the library failed fails, in words.
  why_of <- list(
    goodness = function() "the chi2 test rejects the fit",
    lack_of_fit = function() paste(shape$short, "rejects the curve's shape (try another degree)"),
    outliers = function() sprintf("%d outlier(s): standard%s %s%s", nrow(flagged),
                                  if (nrow(flagged) > 1) "s" else "",
                                  paste(utils::head(flagged$standard, 10), collapse = ", "),
                                  if (nrow(flagged) > 10) ", ..." else ""),
    back_calculated = function() sprintf(paste("fewer than %g %% of the standards read back",
                                               "within their limits"), 100 * crit$back_fraction))
  why_of$levels <- function() sprintf(paste("standards read back within their limits at %d",
                                            "levels, fewer than the %d required"),
                                      as.integer(extra$statistic[1]),
                                      as.integer(crit$min_levels))
  why_of$rse <- function() {
    rse <- extra$statistic[2]
    if (is.finite(rse)) sprintf("relative standard error %s %% above %g %%",
                                format(signif(rse, 3)), crit$rse_limit) else
      "relative standard error not available (no more non-blank standards than coefficients)"
  }
  failed <- CRITERIA[v$result == RESULT_FAIL]
  warned <- CRITERIA[v$result == RESULT_WARN]
  if (!is.null(extra)) {
    failed <- c(failed, EXTRA_RULES[extra$result == RESULT_FAIL])
    warned <- c(warned, EXTRA_RULES[extra$result == RESULT_WARN])
  }
  why <- vapply(failed, function(f) why_of[[f]](), "", USE.NAMES = FALSE)
  warn_why <- vapply(warned, function(f) why_of[[f]](), "", USE.NAMES = FALSE)
  if (bitwAnd(v$reasons, REASON_NO_DOF) != 0L) {
    why <- c(why, "no degrees of freedom: nothing shows the curve adequate")
  }
  if (bitwAnd(v$reasons, REASON_CONSTANT) != 0L) {
    why <- c(why, "a constant curve cannot be read back into x")
  }
  notes <- c(why, if (length(warned)) paste("warning only:", warn_why))
  if (nrow(infl)) {
    notes <- c(notes, sprintf("influential (shown, not a reason to reject): standard%s %s",
                              if (nrow(infl) > 1) "s" else "",
                              paste(utils::head(infl$standard, 10), collapse = ", ")))
  }
  fit_for_use <- overall != 0L
  verdict <- if (fit_for_use) "fit for use" else
    paste0("NOT fit for use (", paste(why, collapse = "; "), ")")
  if (fit_for_use && length(warned)) {
    verdict <- paste0(verdict, " (with warnings: ", paste(warn_why, collapse = "; "), ")")
  }
  m <- do.call(rbind, rows)
  list(rows = data.frame(test = m[, 1], verdict = m[, 2], details = m[, 3],
                         stringsAsFactors = FALSE),
       fit_for_use = fit_for_use, verdict = verdict, notes = notes, failed = failed,
       warned = warned, levels = levels, criteria = crit, threshold = threshold,
       statistic = stat, outliers = out, lack_of_fit = lof, shape = shape,
       back_calculated = back,
       goodness = gv[1], p_value = p_value(cal, d), r = rr[["r"]], r_squared = rr[["r_squared"]],
       diagnostics = d, verdict_codes = v)
}
