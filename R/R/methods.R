# S3 methods of a calibration ("quorvex_cal").

# The fit named as the Python package names it: unweighted (ordinary) least
# squares, weighted least squares with its weights, or errors in variables.
kind_words <- function(cal) {
  if (cal$kind == "gls") return("errors in variables (weights 1/u(x)\u00b2, 1/u(y)\u00b2)")
  if (!is.null(cal$weighting)) {
    return(sprintf("weighted least squares (weights %s, scale from the scatter)", cal$weighting))
  }
  if (!is.null(cal$u_y)) return("weighted least squares (weights 1/u(y)\u00b2)")
  "ordinary least squares (unweighted)"
}

print.quorvex_cal <- function(x, digits = max(3L, getOption("digits") - 3L), ...) {
  cat(sprintf("quorvex calibration: degree %d, %s, %d standards\n", ncoef_of(x) - 1L,
              kind_words(x), length(x$x)))
  cat(sprintf("%s ~ %s on [%s, %s]%s\n\nCoefficients (powers of %s):\n", x$names[["y"]],
              x$names[["x"]], format(x$interval[1]), format(x$interval[2]),
              if (is.null(x$weighting)) "" else paste0(", weighting ", x$weighting),
              x$names[["x"]]))
  print(format(x$coefficients, digits = digits), quote = FALSE)
  cat(sprintf("\nSRES %s on %d degrees of freedom\n", format(signif(x$sres, digits)), x$dof))
  print_excluded(x)
  for (note in x$notes) cat("note:", note, "\n")
  invisible(x)
}

coef.quorvex_cal <- function(object, ...) object$coefficients

vcov.quorvex_cal <- function(object, ...) object$vcov

fitted.quorvex_cal <- function(object, ...) object$fitted

residuals.quorvex_cal <- function(object, type = c("response", "weighted"), ...) {
  type <- one_of(type, c("response", "weighted"), "type")
  if (type == "weighted") {
    r <- object$weighted_residuals
    names(r) <- names(object$residuals)
    return(r)
  }
  object$residuals
}

summary.quorvex_cal <- function(object, criteria = object$criteria, ...) {
  u <- sqrt(diag(object$vcov))
  tab <- cbind(Estimate = object$coefficients, `Std. Error` = u)
  v <- verdicts(object, criteria)
  structure(list(cal = object, coefficients = tab, sres = object$sres, chi2 = object$chi2,
                 dof = object$dof, p_value = p_value(object), r = v$r, r_squared = v$r_squared,
                 verdicts = v, fit_for_use = v$fit_for_use, excluded = object$excluded),
            class = "summary.quorvex_cal")
}

print.summary.quorvex_cal <- function(x, digits = max(5L, getOption("digits") - 2L), ...) {
  cal <- x$cal
  cat(sprintf("quorvex calibration: degree %d, %s, %d standards\n", ncoef_of(cal) - 1L,
              kind_words(cal), length(cal$x)))
  cat(sprintf("%s ~ %s on [%s, %s]; uncertainties from the %s\n\n", cal$names[["y"]],
              cal$names[["x"]], format(cal$interval[1]), format(cal$interval[2]),
              if (cal$covariance == "stated") "stated uncertainties" else
                "residual scatter (scaled)"))
  cat("Coefficients (powers of x, with standard uncertainties):\n")
  print(signif(x$coefficients, digits))
  cat(sprintf("\nSRES %s   chi2 %s on %d degrees of freedom%s\n", format(signif(x$sres, 6)),
              format(signif(x$chi2, 6)), x$dof,
              if (is.na(x$p_value)) "" else sprintf(", p = %s", format(signif(x$p_value, 3)))))
  if (cal$kind == "gls") {
    cat(sprintf("status %d   iterations %d   evaluations %d\n", cal$status, cal$iterations,
                cal$evaluations))
  }
  for (note in cal$notes) cat("note:", note, "\n")
  print_excluded(cal)
  v <- x$verdicts
  cat("\nIs it fit for use?\n")
  rows <- v$rows
  for (i in seq_len(nrow(rows))) {
    cat(sprintf("  %-16s %-11s %s\n", rows$test[i], rows$verdict[i], rows$details[i]))
  }
  cat("verdict:", v$verdict, "\n")
  invisible(x)
}

# The x values of newdata: a data frame with the calibration's x column, or a
# numeric vector.
new_x <- function(object, newdata) {
  if (missing(newdata) || is.null(newdata)) return(object$x)
  xn <- object$names[["x"]]
  if (is.data.frame(newdata) || is.list(newdata)) {
    f <- stats::reformulate(xn)
    mf <- tryCatch(model.frame(f, newdata, na.action = NULL), error = function(e) {
      input_error("newdata must have the column ", xn, " (", conditionMessage(e), ")")
    })
    return(numeric_column(mf[[1L]], xn))
  }
  numeric_column(newdata, xn)
}

predict.quorvex_cal <- function(object, newdata, interval = c("none", "confidence", "prediction"),
                                level = 0.95, u_y = NULL, se.fit = FALSE, ...) {
  interval <- one_of(interval, c("none", "confidence", "prediction"), "interval")
  x <- new_x(object, newdata)
  if (!se.fit && interval == "none") return(evaluate(object, x))
  e <- evaluate(object, x, uncertainty = TRUE)
  if (interval == "none") {
    return(list(fit = e$y, se.fit = e$u, df = object$dof))
  }
  coverage_factor(object, level)  # R's messages for a bad level or no dof
  rsd <- if (interval == "prediction") response_sd(object, x, u_y) else 1
  b <- lab_band(object, x, level, interval, rsd)
  fit <- cbind(fit = b$y, lwr = b$lower, upr = b$upper)
  if (!se.fit) return(fit)
  list(fit = fit, se.fit = e$u, df = object$dof, k = b$k, u = b$u)
}

# The standards left out of the fit, with their reasons.
print_excluded <- function(cal) {
  if (!length(cal$excluded)) return(invisible())
  cat("Left out of the fit:\n")
  for (e in cal$excluded) {
    cat(sprintf("  standard %s (x = %g, y = %g): %s\n", e$standard, e$x, e$y, e$reason))
  }
}
