# Standards that share their errors: the generalized Gauss-Markov fit
# (ISO/TS 28037 clause 10, every degree), the standards' covariance from what
# a laboratory writes down, and inverse prediction with the joint covariance.
# Everything is computed by the laboratory library (QVXL_GGM_*); this file
# converts arguments and presents the results.

correlations <- function(u_x = 0, u_y = 0, sources = list(), dilution = NULL, matrix = NULL) {
  structure(list(u_x = u_x, u_y = u_y, sources = sources, dilution = dilution,
                 matrix = matrix), class = "quorvex_correlations")
}

per_standard <- function(v, n, what) {
  v <- as.double(v)
  if (length(v) == 1L) v <- rep(v, n)
  if (length(v) != n || any(!is.finite(v)))
    input_error(sprintf("%s: one finite value or %d (one per standard)", what, n))
  v
}

# V (2n x 2n) of the standards' (x, y).
correlations_covariance <- function(corr, x) {
  n <- length(x)
  v0 <- NULL
  if (!is.null(corr$matrix)) {
    v0 <- base::matrix(0, 2 * n, 2 * n)
    m <- corr$matrix
    if (!is.null(m$u_x)) v0[1:n, 1:n] <- as.double(m$u_x)
    if (!is.null(m$u_y)) v0[n + 1:n, n + 1:n] <- as.double(m$u_y)
    if (!is.null(m$u_xy)) {
      v0[1:n, n + 1:n] <- as.double(m$u_xy)
      v0[n + 1:n, 1:n] <- t(base::matrix(as.double(m$u_xy), n, n))
    }
  }
  src <- corr$sources
  sx <- unlist(lapply(src, function(s) per_standard(if (is.null(s$x)) 0 else s$x, n, "source x")))
  sy <- unlist(lapply(src, function(s) per_standard(if (is.null(s$y)) 0 else s$y, n, "source y")))
  d <- corr$dilution
  r <- .Call(qvx_ggm_covariance, as.double(x), per_standard(corr$u_x, n, "u_x"),
             per_standard(corr$u_y, n, "u_y"), as.double(c(sx, numeric())),
             as.double(c(sy, numeric())),
             if (is.null(d)) NULL else as.integer(d$parent),
             if (is.null(d)) 0 else per_standard(d$relative, n, "dilution relative"),
             if (is.null(d) || is.null(d$stock)) 0 else as.double(d$stock), v0)
  if (r$status == 94L)
    input_error(sprintf("dilution: %s (standard %d)", lab_text("status", 94L), r$bad))
  if (r$status != 0L) lab_error("correlations", "QVXL_GGM_COVARIANCE", r$status)
  r$v
}

ggm_status <- function(r) {
  text <- lab_text("status", r$status)
  if (r$info[2] > 0L)
    text <- sprintf("%s (standard %d, its %s)", text, r$info[2], if (r$info[3] == 1L) "x" else "y")
  text
}

ggm_fit <- function(x, y, v, degree, interval, maxit, ignore) {
  r <- .Call(qvx_ggm_fit, as.double(x), as.double(y), as.double(v), as.integer(degree + 1L),
             if (is.null(interval)) NULL else as.double(interval),
             if (is.null(maxit)) NULL else as.integer(maxit), ignore)
  if (r$status != 0L)
    stop(quorvex_condition(paste("correlated fit:", ggm_status(r)),
                           if (r$status %in% c(92L, 93L)) "quorvex_fit_error" else "quorvex_input_error",
                           routine = "QVXL_GGM_FIT", code = r$status))
  r
}

calfit_correlated <- function(x, y, correlations, degree = 1L, interval = NULL, maxit = NULL) {
  x <- as.double(x)
  y <- as.double(y)
  if (length(x) != length(y) || length(x) < 1L) input_error("x and y must have one length")
  if (length(degree) != 1L || degree < 0 || degree > 9 || degree != round(degree))
    input_error("degree must be a whole number 0 to 9")
  v <- if (inherits(correlations, "quorvex_correlations")) correlations_covariance(correlations, x)
       else as.double(correlations)
  r <- ggm_fit(x, y, v, as.integer(degree), interval, maxit, FALSE)
  ig <- ggm_fit(x, y, v, as.integer(degree), r$interval, maxit, TRUE)
  structure(list(x = x, y = y, v = v, degree = as.integer(degree), coef = r$coef, cov = r$cov,
                 chi2 = r$chi2, dof = r$dof, x_adjusted = r$x_adjusted, fitted = r$fitted,
                 gain = r$gain, interval = r$interval, iterations = r$info[1],
                 correlations = if (inherits(correlations, "quorvex_correlations")) correlations,
                 ignoring = ig),
            class = "quorvex_ggm")
}

coef.quorvex_ggm <- function(object, ...) lab_power(object$coef, object$cov, object$interval)$a

vcov.quorvex_ggm <- function(object, ...) lab_power(object$coef, object$cov, object$interval)$ca

print.quorvex_ggm <- function(x, ...) {
  p <- lab_power(x$coef, x$cov, x$interval)
  q <- lab_power(x$ignoring$coef, x$ignoring$cov, x$interval)
  cat(sprintf("generalized Gauss-Markov fit of degree %d to %d standards on [%g, %g]\n",
              x$degree, length(x$x), x$interval[1], x$interval[2]))
  tab <- data.frame(value = p$a, u = sqrt(diag(p$ca)), value_ignoring = q$a,
                    u_ignoring = sqrt(diag(q$ca)), row.names = paste0("a", seq_along(p$a) - 1L))
  print(tab, digits = 6)
  cat(sprintf("chi2 = %.4g with %d degrees of freedom\n", x$chi2, x$dof))
  invisible(x)
}

inverse_correlated <- function(fit, y, u_y = 0, samples = NULL, level = 0.95) {
  y <- as.double(y)
  m <- length(y)
  n <- length(fit$x)
  src <- if (is.null(fit$correlations)) list() else fit$correlations$sources
  ustd <- unlist(lapply(src, function(s) c(per_standard(if (is.null(s$x)) 0 else s$x, n, "x"),
                                           per_standard(if (is.null(s$y)) 0 else s$y, n, "y"))))
  usmp <- unlist(lapply(names(src), function(k) {
    s <- src[[k]]
    v <- if (!is.null(samples[[k]])) samples[[k]] else if (is.null(s$samples)) 0 else s$samples
    rep_len(as.double(v), m)
  }))
  uy <- rep_len(as.double(u_y), m)
  shared <- length(usmp) > 0L && any(usmp != 0)
  a <- .Call(qvx_ggm_inverse, fit$coef, as.double(fit$cov), fit$interval, as.double(fit$gain), y,
             uy, as.double(c(ustd, numeric())), as.double(c(usmp, numeric())),
             if (shared) 1L else 0L)
  if (a$status != 0L) lab_error("inverse", "QVXL_GGM_INVERSE", a$status)
  ig <- fit$ignoring
  b <- .Call(qvx_ggm_inverse, ig$coef, as.double(ig$cov), ig$interval, as.double(ig$gain), y, uy,
             as.double(c(ustd, numeric())), as.double(c(usmp, numeric())), 2L)
  if (b$status != 0L) lab_error("inverse", "QVXL_GGM_INVERSE", b$status)
  k <- .Call(qvx_coverage, 0L, 0L, as.double(level), 2L)
  if (k$status != 0L) lab_error("coverage factor", "QVXL_COVERAGE", k$status)
  structure(list(y = y, x = na_for_nan(a$x), u_x = na_for_nan(a$u_x), cov = a$cov, k = k$k,
                 level = level, U = k$k * na_for_nan(a$u_x), x_ignoring = na_for_nan(b$x),
                 u_x_ignoring = na_for_nan(b$u_x), shared = shared),
            class = "quorvex_ggm_inverse")
}

print.quorvex_ggm_inverse <- function(x, ...) {
  print(data.frame(y = x$y, x = x$x, u_x = x$u_x, U = x$U, u_x_ignoring = x$u_x_ignoring),
        digits = 6)
  cat(sprintf("u(x) with the stated correlations%s; u_x_ignoring: every correlation left out; k = %.3g\n",
              if (x$shared) " (shared with the standards)" else "", x$k))
  invisible(x)
}
