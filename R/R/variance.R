# Variance models fitted to replicate standards (the laboratory library's
# QVXL_VARIANCE_FIT): constant, proportional, floor (sigma^2 = a^2 + b^2 x^2)
# and power of the mean response, or one chosen by the likelihood-ratio test at
# level alpha; with degree, fitted to the residuals of a curve of that degree
# (standards without replicates).  R checks the arguments and words the
# result; its sd are the weights' 1/sigma for calfit(u_y = ...).
variance_model <- function(x, y, model = "auto", alpha = 0.05, degree = NULL) {
  x <- numeric_column(x, "x")
  y <- numeric_column(y, "y", length(x))
  if (!is.character(model) || length(model) != 1L ||
      !(model %in% c("auto", VARIANCE_MODELS))) {
    input_error("model must be \"auto\" or one of ", paste(VARIANCE_MODELS, collapse = ", "))
  }
  if (!is.numeric(alpha) || length(alpha) != 1L || is.na(alpha) || !(alpha > 0 && alpha < 1)) {
    input_error("alpha must lie strictly between 0 and 1")
  }
  if (length(x) < 2L) input_error("a variance model needs standards measured in replicate")
  if (!is.null(degree)) degree <- whole_number(degree, "degree", 0L, 9L)
  r <- lab_variance_fit(x, y, model, alpha, if (is.null(degree)) NULL else degree + 1L)
  if (r$status != 0L && r$status != 103L) {
    input_error("variance model: ", lab_text("status", r$status))
  }
  name <- VARIANCE_MODELS[r$model + 1L]
  if (r$status == 103L) {
    input_error("the ", name, " variance model gives no scatter at a standard (x = ",
                format(x[which(!(r$sd > 0))[1]]), "), whose weight would be infinite: keep ",
                "a blank standard only under a model with a floor (constant or floor)")
  }
  structure(list(model = name, a = r$par[1], b = r$par[2], cov = r$cov,
                 dof = r$dof[1], groups = r$dof[2],
                 loglik = stats::setNames(r$loglik, VARIANCE_MODELS),
                 alpha = if (model == "auto") alpha else NA_real_,
                 lr = if (model == "auto") r$test[1] else NA_real_,
                 p = if (model == "auto") r$test[2] else NA_real_,
                 x = x, mu = r$mu, sd = r$sd,
                 source = if (is.null(degree)) "replicates" else "residuals"),
            class = "quorvex_variance")
}

# sigma of one reading at x (the mean response mu for the power model) and the
# Satterthwaite degrees of freedom of its estimate.
variance_at <- function(vm, x, mu = x) {
  if (!inherits(vm, "quorvex_variance")) input_error("vm must be made by variance_model()")
  x <- numeric_column(x, "x")
  r <- lab_variance_at(vm, x, mu)
  if (r$status != 0L) lab_error("variance model", "QVXL_VARIANCE_AT", r$status)
  list(sd = r$sd, dof = r$dof)
}

print.quorvex_variance <- function(x, ...) {
  form <- switch(x$model,
                 constant = sprintf("sigma = %.4g", x$a),
                 proportional = sprintf("sigma = %.4g x", x$b),
                 floor = sprintf("sigma^2 = %.4g^2 + (%.4g x)^2", x$a, x$b),
                 power = sprintf("sigma = %.4g |mu|^%.4g", x$a, x$b))
  cat(sprintf("variance model: %s, %s (%d replicate dof in %d groups)\n", x$model, form,
              x$dof, x$groups))
  if (!is.na(x$alpha)) {
    cat(sprintf("chosen by the likelihood-ratio test at alpha = %g (LR %.3g, p %.3g)\n",
                x$alpha, x$lr, x$p))
  }
  invisible(x)
}
