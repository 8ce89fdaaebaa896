# calfit(): standards in, a "quorvex_cal" out.
#
# Without u_x the curve is fitted by weighted least squares (OLSPFIT), with
# u_x by the errors-in-variables fit (GLSPFIT).  Weights, default interval and
# stopping rule are those of the Python package, so that both give the same
# numbers.

MAX_NCOEF <- 10L
RESIDUAL_RTOL <- 1e-7
STEP_RTOL <- 1e-3
PAD_UX <- 10
PAD_RANGE <- 0.05

# Sequential sum of products, as BLAS forms it (the Python package's dot).
dot <- function(a, b) drop(crossprod(a, b))

# Rows of the data named as a user sees them: by number, at most 10.
row_list <- function(i) {
  shown <- paste(utils::head(i, 10), collapse = ", ")
  if (length(i) > 10) shown <- paste0(shown, ", ...")
  shown
}

# A numeric column of the standards, refused with a message that names it
# where it is a factor, text, or has missing or non-finite values.
numeric_column <- function(v, name, n = NULL) {
  if (is.factor(v)) {
    input_error(name, " is a factor: calfit needs numbers (convert it with ",
                "as.numeric(as.character(", name, ")) if its levels are numbers)")
  }
  if (is.logical(v) && length(v) && all(is.na(v))) v <- as.double(v)
  if (!is.numeric(v) || is.object(v) && !inherits(v, "AsIs")) {
    input_error(name, " must be numbers, not ", class(v)[1])
  }
  if (!is.null(dim(v)) && length(dim(v)) > 1 && ncol(v) != 1) {
    input_error(name, " must be one column of numbers")
  }
  v <- as.vector(v, "double")
  if (!is.null(n) && length(v) != 1L && length(v) != n) {
    input_error(name, " has ", length(v), " values where 1 or ", n, " are needed")
  }
  if (anyNA(v)) {
    input_error(name, " has missing values (NA) in row(s) ", row_list(which(is.na(v))),
                ": remove those standards or fill them in")
  }
  if (!all(is.finite(v))) {
    input_error(name, " must be finite: row(s) ", row_list(which(!is.finite(v))))
  }
  v
}

positive_column <- function(v, name, n) {
  v <- numeric_column(v, name, n)
  if (!all(v > 0)) input_error(name, " must be positive: row(s) ", row_list(which(!(v > 0))))
  w <- 1 / v
  if (!all(is.finite(w))) {
    input_error(name, " is too small in row(s) ", row_list(which(!is.finite(w))),
                ": its weight 1/", name, " overflows")
  }
  if (length(v) == 1L) rep(v, n) else v
}

# match.arg with the package's condition: the first choice when `value` is the
# whole vector of choices (the default).
one_of <- function(value, choices, name) {
  if (identical(value, choices)) return(choices[1])
  if (!is.character(value) || length(value) != 1L || !value %in% choices) {
    input_error(name, " must be one of ", paste0("\"", choices, "\"", collapse = ", "))
  }
  value
}

whole_number <- function(v, name, lo, hi = .Machine$integer.max) {
  if (!is.numeric(v) || length(v) != 1L || is.na(v) || v != round(v) || v < lo || v > hi) {
    input_error(name, " must be one whole number in [", lo, ", ", hi, "]")
  }
  as.integer(v)
}

calfit <- function(formula, data, u_y = NULL, u_x = NULL, degree = 1,
                   weighting = c("none", "1/x", "1/x2"), interval = NULL, tol = NULL,
                   maxit = 100L, sigma = 0.1, accept_unconverged = FALSE) {
  call <- match.call()
  if (!inherits(formula, "formula") || length(formula) != 3L) {
    input_error("formula must be of the form response ~ x")
  }
  env <- environment(formula)
  if (missing(data)) data <- env
  tl <- attr(terms(formula, data = if (is.environment(data)) NULL else data), "term.labels")
  if (length(tl) != 1L || attr(terms(formula), "intercept") != 1L) {
    input_error("formula must have one variable on each side (response ~ x); the degree ",
                "of the curve is set by degree = , not by terms such as I(x^2)")
  }
  mf <- model.frame(formula, data, na.action = NULL)
  yname <- deparse(formula[[2L]])
  xname <- tl
  y <- numeric_column(model.response(mf), yname)
  x <- numeric_column(mf[[2L]], xname)
  n <- length(x)
  u_y <- eval(substitute(u_y), if (is.environment(data)) NULL else data, parent.frame())
  u_x <- eval(substitute(u_x), if (is.environment(data)) NULL else data, parent.frame())
  weighting <- one_of(weighting, c("none", "1/x", "1/x2"), "weighting")
  degree <- whole_number(degree, "degree", 0L, MAX_NCOEF - 1L)
  ncoef <- degree + 1L
  if (n < ncoef) input_error(n, " standards cannot determine ", ncoef, " coefficients")
  if (!is.null(u_y)) u_y <- positive_column(u_y, "u_y", n)
  if (!is.null(u_x)) {
    if (is.null(u_y)) {
      input_error("u_x needs u_y too: the errors-in-variables fit weighs the x and y ",
                  "residuals by their uncertainties")
    }
    u_x <- positive_column(u_x, "u_x", n)
  }
  if (weighting != "none") {
    if (!is.null(u_y)) {
      input_error("give either u_y (and u_x) or a weighting, not both: a weighting states ",
                  "relative weights, u_y absolute uncertainties")
    }
    if (!all(x > 0)) {
      input_error("weighting \"", weighting, "\" needs every x > 0: row(s) ",
                  row_list(which(!(x > 0))))
    }
  }
  if (is.null(interval)) {
    xmin <- min(x)
    xmax <- max(x)
    if (!is.null(u_x)) {
      pad <- max(PAD_UX * max(u_x), PAD_RANGE * (xmax - xmin))
      xmin <- xmin - pad
      xmax <- xmax + pad
    }
    if (!(xmin < xmax)) {
      input_error("all ", n, " standards have x = ", format(xmin), ": a curve needs ",
                  "distinct x values (or give an interval)")
    }
  } else {
    if (!is.numeric(interval) || length(interval) != 2L || !all(is.finite(interval)) ||
        !(interval[1] < interval[2])) {
      input_error("interval must be two finite numbers c(xmin, xmax) with xmin < xmax")
    }
    xmin <- as.double(interval[1])
    xmax <- as.double(interval[2])
    out <- which(x < xmin | x > xmax)
    if (length(out)) {
      input_error("x lies outside the interval [", format(xmin), ", ", format(xmax),
                  "] in row(s) ", row_list(out))
    }
  }
  wy <- if (weighting == "1/x") 1 / sqrt(x) else if (weighting == "1/x2") 1 / x else
    if (is.null(u_y)) rep(1, n) else 1 / u_y
  fields <- list(npts = n, ncoef = ncoef, xmin = xmin, xmax = xmax)
  base <- list(x = x, y = y, u_y = u_y, u_x = u_x, weights = wy, interval = c(xmin, xmax),
               covariance = if (is.null(u_y)) "scaled" else "stated",
               weighting = if (weighting == "none") NULL else weighting,
               names = c(x = xname, y = yname), call = call, formula = formula)
  cal <- if (is.null(u_x)) {
    if (!is.null(tol) || !missing(maxit) || !missing(sigma)) {
      input_error("tol, maxit and sigma apply to the errors-in-variables fit (give u_x) only")
    }
    fit_ols(base, ncoef, fields)
  } else {
    fit_gls(base, ncoef, fields, tol, maxit, sigma, accept_unconverged)
  }
  finish_cal(cal)
}

olspfit <- function(x, y, w, ncoef, xmin, xmax, fields) {
  r <- .Call(qvx_olspfit, x, y, w, as.integer(ncoef), xmin, xmax)
  if (r$status != 0L) status_error("OLSPFIT", r$status, fields)
  r
}

fit_ols <- function(cal, ncoef, fields) {
  r <- olspfit(cal$x, cal$y, cal$weights, ncoef, cal$interval[1], cal$interval[2], fields)
  n <- length(cal$x)
  c(cal, list(kind = "ols", cheb_coef = r$coef, cov = r$cov, sres = r$sres, dof = n - ncoef,
              fitted = r$fitted, residuals = r$residuals,
              weighted_residuals = r$weighted_residuals,
              chi2 = dot(r$weighted_residuals, r$weighted_residuals), status = 0L,
              iterations = 0L, evaluations = 0L, notes = character()))
}

# TOL(1), TOL(2) of GLSPFIT for this data (the Python package's
# default_tolerances): TOL(2) = 1e-7 / (2 n S) leaves every coefficient within
# about 1e-7 of its standard uncertainty of the converged solution, raised to
# 16 times the rounding level of the residuals where that is larger; TOL(1) =
# 1e-3 ||(u_x, u_coef)|| / (n + ncoef).
default_tolerances <- function(x, y, wx, wy, coef0, cov0, xmin, xmax) {
  n <- length(x)
  ncoef <- length(coef0)
  s <- max(max(wx), max(wy))
  scale <- wy * (abs(y) + abs(curve_slope(coef0, x, xmin, xmax)) * abs(x))
  floor_round <- 16 * .Machine$double.eps * sqrt(dot(scale, scale))
  tol2 <- max(RESIDUAL_RTOL, floor_round) / (s * (2 * n))
  u_c <- sqrt(abs(diag(cov0)))
  size <- sqrt(sum(1 / wx^2) + sum(u_c^2))
  tol1 <- STEP_RTOL * size / (n + ncoef)
  if (!(tol1 > 0)) tol1 <- RESIDUAL_RTOL
  c(tol1, tol2)
}

fit_gls <- function(cal, ncoef, fields, tol, maxit, sigma, accept_unconverged) {
  x <- cal$x
  y <- cal$y
  n <- length(x)
  wy <- cal$weights
  wx <- 1 / cal$u_x
  xmin <- cal$interval[1]
  xmax <- cal$interval[2]
  maxit <- whole_number(maxit, "maxit", 1L)
  if (!is.numeric(sigma) || length(sigma) != 1L || !is.finite(sigma)) {
    input_error("sigma must be one finite number")
  }
  if (is.null(tol)) {
    r0 <- olspfit(x, y, wy, ncoef, xmin, xmax, fields)
    tol <- default_tolerances(x, y, wx, wy, r0$coef, r0$cov, xmin, xmax)
  } else {
    if (!is.numeric(tol) || !length(tol) %in% 1:2 || !all(is.finite(tol)) || !all(tol > 0)) {
      input_error("tol must be one or two positive numbers")
    }
    tol <- as.double(c(tol[1], tol[length(tol)]))
  }
  r <- .Call(qvx_glspfit, x, y, wx, wy, as.integer(ncoef), xmin, xmax, tol, maxit,
             as.double(sigma))
  if (r$olstat != 0L) status_error("OLSPFIT", r$olstat, fields)
  status <- r$istat[1]
  notes <- character()
  if (!(status >= 0L && status <= 3L)) {
    if (status %in% 4:5 && isTRUE(accept_unconverged)) {
      notes <- status_message("GLSPFIT", status, fields)
    } else {
      status_error("GLSPFIT", status, fields)
    }
  } else if (status == 2L || (status == 3L && !(r$rinfo[1] < tol[1]))) {
    notes <- status_message("GLSPFIT", status, fields)
  }
  if (!all(is.finite(r$cov))) {
    stop(quorvex_condition(paste("the coefficient covariance could not be formed: the",
                                 "coefficient factor is singular (a degenerate design)"),
                           "quorvex_fit_error", routine = "GLSPFIT", code = status))
  }
  for (text in notes) warning(text, call. = FALSE)
  delta <- r$param[seq_len(n)]
  coef <- r$param[n + seq_len(ncoef)]
  xi <- x - delta
  # Residuals at the returned coefficients and adjusted abscissae (the library's
  # fitted values belong to its last trial point), so every field describes the
  # same curve.
  ev <- .Call(qvx_polyeval, coef, xi, xmin, xmax)
  fitted <- if (ev$status == 0L) ev$y else r$yfit
  res_y <- y - fitted
  wres_y <- res_y * wy
  wres_x <- delta * wx
  chi2 <- dot(wres_y, wres_y) + dot(wres_x, wres_x)
  dof <- n - ncoef
  sres <- if (dof > 0) sqrt(chi2 / dof) else 0
  c(cal, list(kind = "gls", cheb_coef = coef, cov = r$cov, sres = sres, dof = dof,
              fitted = fitted, residuals = res_y, weighted_residuals = wres_y, chi2 = chi2,
              x_weights = wx, x_adjusted = xi, residuals_x = delta,
              weighted_residuals_x = wres_x, status = status, iterations = r$istat[2],
              evaluations = r$istat[3], rinfo = r$rinfo,
              options = list(tol = tol, maxit = maxit, sigma = sigma), notes = notes))
}

# The record a user reads: the Chebyshev form and the curve in powers of x.
finish_cal <- function(cal) {
  ncoef <- length(cal$cheb_coef)
  cal$cov_scaled <- if (cal$dof == 0) cal$cov * NA_real_ else cal$cov * cal$sres^2
  cal$cov_used <- if (cal$covariance == "stated") cal$cov else cal$cov_scaled
  cal$chebyshev <- list(coef = cal$cheb_coef, cov = cal$cov, cov_scaled = cal$cov_scaled,
                        interval = cal$interval)
  m <- power_matrix(ncoef, cal$interval[1], cal$interval[2])
  a <- drop(m %*% cal$cheb_coef)
  ca <- m %*% cal$cov_used %*% t(m)
  ca <- 0.5 * (ca + t(ca))
  xn <- cal$names[["x"]]
  nm <- c("(Intercept)", if (ncoef > 1) xn,
          if (ncoef > 2) sprintf("I(%s^%d)", xn, 2:(ncoef - 1)))[seq_len(ncoef)]
  names(a) <- nm
  dimnames(ca) <- list(nm, nm)
  cal$coefficients <- a
  cal$vcov <- ca
  names(cal$fitted) <- names(cal$residuals) <- seq_along(cal$x)
  cal$cheb_coef <- NULL
  class(cal) <- "quorvex_cal"
  cal
}
