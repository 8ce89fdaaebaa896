# calfit(): standards in, a "quorvex_cal" out.
#
# Without u_x the curve is fitted by weighted least squares (OLSPFIT), with
# u_x by the errors-in-variables fit (GLSPFIT), both through the laboratory
# library's QVXL_FIT: the weights of a weighting preset, the default interval
# and its padding, the default tolerances and the covariance's scaling are
# its rules, the same the Python package uses.  R checks the arguments and
# words the statuses.

MAX_NCOEF <- 10L

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

WEIGHTINGS <- c("none", "1/x", "1/x2", "1/y", "1/y2")

calfit <- function(formula, data, u_y = NULL, u_x = NULL, degree = 1,
                   weighting = c("none", "1/x", "1/x2", "1/y", "1/y2"), interval = NULL, tol = NULL,
                   maxit = 100L, sigma = 0.1, accept_unconverged = FALSE, exclude = NULL,
                   criteria = NULL, covariance = NULL, weights = NULL, variance = NULL) {
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
  weights <- eval(substitute(weights), if (is.environment(data)) NULL else data, parent.frame())
  criteria <- as_criteria(criteria)
  ids <- rownames(mf)
  if (is.null(ids) || length(ids) != n) ids <- as.character(seq_len(n))
  excluded <- list()
  if (length(exclude)) {
    drop <- excluded_rows(exclude, ids)
    keep <- !seq_len(n) %in% drop$rows
    excluded <- lapply(seq_along(drop$rows), function(j) {
      i <- drop$rows[j]
      list(standard = ids[i], x = x[i], y = y[i], reason = drop$reasons[j])
    })
    kept <- function(v) if (!is.null(v) && length(v) == n && n > 1L) v[keep] else v
    u_y <- kept(u_y)
    u_x <- kept(u_x)
    weights <- kept(weights)
    x <- x[keep]
    y <- y[keep]
    ids <- ids[keep]
    n <- length(x)
  }
  weighting <- one_of(weighting, WEIGHTINGS, "weighting")
  degree <- whole_number(degree, "degree", 0L, MAX_NCOEF - 1L)
  ncoef <- degree + 1L
  if (n < ncoef) input_error(n, " standards cannot determine ", ncoef, " coefficients")
  # Weights from the responses (1/y, 1/y2), a weight per standard, or a
  # variance model: the library turns them into the standards' u(y).
  response_weighting <- NULL
  vm <- NULL
  if (!is.null(weights) || weighting %in% c("1/y", "1/y2")) {
    if (!is.null(u_y) || !is.null(u_x) || !is.null(variance) ||
        (!is.null(weights) && weighting != "none")) {
      input_error("give one source of weights: u_y (and u_x), a weighting, weights, or a ",
                  "variance model")
    }
    if (identical(covariance, "stated")) {
      input_error("relative weights (1/y, 1/y2, a weight column) take their scale from the ",
                  "residuals: the covariance is \"scaled\"")
    }
    response_weighting <- if (is.null(weights)) weighting else "weights"
    v <- if (is.null(weights)) y else numeric_column(weights, "weights", n)
    rw <- lab_response_weights(match(response_weighting, c("1/y", "1/y2", "weights")), v)
    if (rw$status != 0L) {
      input_error(response_weighting, ": ", if (is.null(weights)) "y" else "weights", "[",
                  which(if (is.null(weights)) v == 0 else !(v > 0))[1], "] gives an infinite ",
                  "or undefined weight")
    }
    u_y <- rw$urel
    covariance <- "scaled"
    weighting <- "none"
  } else if (!is.null(variance)) {
    if (!is.null(u_y) || !is.null(u_x) || weighting != "none") {
      input_error("variance gives the weights: it cannot be used with u_y, u_x or a weighting")
    }
    vm <- if (inherits(variance, "quorvex_variance")) variance else
      if (is.character(variance) && length(variance) == 1L) {
        # Replicate standards tell the scatter; without replicates the residuals do.
        tryCatch(variance_model(x, y, variance), quorvex_input_error = function(e) {
          if (!grepl("too few", conditionMessage(e))) stop(e)
          variance_model(x, y, variance, degree = degree)
        })
      } else input_error("variance must be a model's name or made by variance_model()")
    if (!identical(as.double(vm$x), as.double(x))) {
      input_error("the variance model was fitted to other standards: give it the standards ",
                  "of the fit, or variance = \"auto\"")
    }
    u_y <- vm$sd
  }
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
  if (!is.null(interval)) {
    if (!is.numeric(interval) || length(interval) != 2L || !all(is.finite(interval)) ||
        !(interval[1] < interval[2])) {
      input_error("interval must be two finite numbers c(xmin, xmax) with xmin < xmax")
    }
    interval <- as.double(interval)
    out <- which(x < interval[1] | x > interval[2])
    if (length(out)) {
      input_error("x lies outside the interval [", format(interval[1]), ", ",
                  format(interval[2]), "] in row(s) ", row_list(out))
    }
  }
  if (is.null(u_x)) {
    if (!is.null(tol) || !missing(maxit) || !missing(sigma)) {
      input_error("tol, maxit and sigma apply to the errors-in-variables fit (give u_x) only")
    }
    maxit <- sigma <- NULL
  } else {
    maxit <- whole_number(maxit, "maxit", 1L)
    if (!is.numeric(sigma) || length(sigma) != 1L || !is.finite(sigma)) {
      input_error("sigma must be one finite number")
    }
    if (!is.null(tol)) {
      if (!is.numeric(tol) || !length(tol) %in% 1:2 || !all(is.finite(tol)) || !all(tol > 0)) {
        input_error("tol must be one or two positive numbers")
      }
      tol <- as.double(c(tol[1], tol[length(tol)]))
    }
  }
  covkind <- if (is.null(covariance)) -1L else
    match(one_of(covariance, c("stated", "scaled"), "covariance"), c("stated", "scaled")) - 1L
  r <- lab_fit(x, y, u_y, u_x, weighting, ncoef, interval, tol, maxit, sigma, covkind)
  fit_status(r, x, n, ncoef, !is.null(u_x), accept_unconverged)
  base <- list(x = x, y = y, u_y = u_y, u_x = u_x, weights = r$weights, interval = r$interval,
               covariance = if (r$covkind == 1L) "scaled" else "stated",
               weighting = if (weighting == "none") NULL else weighting,
               names = c(x = xname, y = yname), call = call, formula = formula, ids = ids,
               excluded = excluded, criteria = criteria, variance = vm,
               response_weighting = response_weighting)
  fit <- list(cheb_coef = r$coef, cov = r$cov, cov_scaled = r$cov_scaled, sres = r$sres,
              dof = r$dof, fitted = r$fitted, residuals = r$residuals,
              weighted_residuals = r$weighted_residuals, chi2 = r$chi2)
  cal <- if (is.null(u_x)) {
    c(base, fit, list(kind = "ols", status = 0L, iterations = 0L, evaluations = 0L,
                      notes = character()))
  } else {
    c(base, fit, list(kind = "gls", x_weights = r$x_weights, x_adjusted = r$x_adjusted,
                      residuals_x = r$residuals_x, weighted_residuals_x = r$weighted_residuals_x,
                      status = r$info[2], iterations = r$info[3], evaluations = r$info[4],
                      rinfo = r$rinfo,
                      options = list(tol = r$tol, maxit = r$maxit, sigma = r$sigma),
                      notes = character()))
  }
  cal$notes <- fit_notes(r, !is.null(u_x), accept_unconverged)
  finish_cal(cal)
}

# QVXL_FIT's status in R's words: refused standards, the engine's statuses
# with its texts, an unconverged errors-in-variables fit (an error unless
# accept_unconverged), a covariance that cannot be formed.
fit_status <- function(r, x, n, ncoef, eiv, accept_unconverged) {
  st <- r$status
  routine <- if (eiv) "GLSPFIT" else "OLSPFIT"
  fields <- list(npts = n, ncoef = ncoef, xmin = r$interval[1], xmax = r$interval[2])
  if (st == 33L) {
    input_error("all ", n, " standards have x = ", format(x[1]), ": a curve needs ",
                "distinct x values (or give an interval)")
  }
  if (st == 36L) status_error("OLSPFIT", r$info[1], fields)
  if (eiv) {
    status <- r$info[2]
    if (!(status >= 0L && status <= 3L) && !(status %in% 4:5 && isTRUE(accept_unconverged))) {
      status_error("GLSPFIT", status, fields)
    }
  }
  if (st == 38L) {
    stop(quorvex_condition(paste("the coefficient covariance could not be formed: the",
                                 "coefficient factor is singular (a degenerate design)"),
                           "quorvex_fit_error", routine = routine, code = r$info[2]))
  }
  if (st == 39L && r$covkind == 1L) {
    stop(quorvex_condition(paste("the residual scatter is too large to square in double",
                                 "precision: the scaled covariance overflows"),
                           "quorvex_fit_error", routine = "QVXL_FIT", code = st))
  }
  if (!st %in% c(0L, 37L, 39L)) lab_error("the standards cannot be fitted", "QVXL_FIT", st)
  invisible()
}

# Notes on an errors-in-variables fit's convergence (the engine's texts),
# each also a warning.
fit_notes <- function(r, eiv, accept_unconverged) {
  if (!eiv) return(character())
  status <- r$info[2]
  fields <- list(npts = length(r$fitted), ncoef = length(r$coef), xmin = r$interval[1],
                 xmax = r$interval[2])
  notes <- character()
  if (status %in% 4:5 && isTRUE(accept_unconverged) ||
      status == 2L || (status == 3L && !(r$rinfo[1] < r$tol[1]))) {
    notes <- status_message("GLSPFIT", status, fields)
  }
  for (text in notes) warning(text, call. = FALSE)
  notes
}

# The rows named by `exclude` (names: the standards' row names in the data;
# values: the reasons), in the data's order, each with its reason.
excluded_rows <- function(exclude, ids) {
  if (!(is.character(exclude) || is.list(exclude)) || is.null(names(exclude)) ||
      any(!nzchar(names(exclude)))) {
    input_error("exclude must name each standard left out with its reason, e.g. ",
                "exclude = c(\"3\" = \"air bubble in the cuvette\")")
  }
  rows <- integer()
  reasons <- character()
  for (j in seq_along(exclude)) {
    name <- trimws(names(exclude)[j])
    # A standard is named by its ID (the data's row names) or its 1-based data
    # row, as in Python and on the command line; a name that fits two
    # standards is refused, listing them.
    found <- which(trimws(ids) == name)
    if (grepl("^[0-9]+$", name) && as.numeric(name) >= 1 && as.numeric(name) <= length(ids)) {
      found <- sort(unique(c(found, as.integer(name))))
    }
    if (!length(found)) {
      input_error("exclude: no standard \"", name, "\"; the standards are ",
                  paste(utils::head(ids, 12), collapse = ", "), if (length(ids) > 12) ", ...",
                  " (name one by its ID or its 1-based data row)")
    }
    if (length(found) > 1L) {
      input_error("exclude: \"", name, "\" is ambiguous: it names ",
                  paste0("data row ", found, " (ID '", ids[found], "')", collapse = "; "),
                  "; give the data row of the one meant")
    }
    i <- found
    reason <- exclude[[j]]
    reason <- if (is.null(reason) || !length(reason) || is.na(reason[1])) "" else
      trimws(as.character(reason[1]))
    if (!nzchar(reason)) input_error("exclude: give the reason standard ", name, " is left out")
    if (i %in% rows) input_error("exclude names standard ", name, " twice")
    rows <- c(rows, i)
    reasons <- c(reasons, reason)
  }
  o <- order(rows)
  list(rows = rows[o], reasons = reasons[o])
}

# The record a user reads: the Chebyshev form and the curve in powers of x.
finish_cal <- function(cal) {
  ncoef <- length(cal$cheb_coef)
  cal$cov_used <- if (cal$covariance == "stated") cal$cov else cal$cov_scaled
  cal$chebyshev <- list(coef = cal$cheb_coef, cov = cal$cov, cov_scaled = cal$cov_scaled,
                        interval = cal$interval)
  pw <- lab_power(cal$cheb_coef, cal$cov_used, cal$interval)
  a <- pw$a
  ca <- pw$ca
  xn <- cal$names[["x"]]
  nm <- c("(Intercept)", if (ncoef > 1) xn,
          if (ncoef > 2) sprintf("I(%s^%d)", xn, 2:(ncoef - 1)))[seq_len(ncoef)]
  names(a) <- nm
  dimnames(ca) <- list(nm, nm)
  cal$coefficients <- a
  cal$vcov <- ca
  names(cal$fitted) <- names(cal$residuals) <- cal$ids
  cal$cheb_coef <- NULL
  class(cal) <- "quorvex_cal"
  cal
}
