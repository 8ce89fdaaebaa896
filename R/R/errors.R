# The package's conditions and the statuses of the entry points in words.
#
# Every error is a condition of class "quorvex_error" and either
# "quorvex_input_error" (input refused before it reached the library) or
# "quorvex_fit_error" (the library could not complete the call), with fields
# `routine` (the entry point) and `code` (its status, NA for refused input).

quorvex_condition <- function(message, class, routine = NA_character_, code = NA_integer_,
                              call = NULL) {
  structure(class = c(class, "quorvex_error", "error", "condition"),
            list(message = message, call = call, routine = routine, code = code))
}

input_error <- function(..., routine = NA_character_) {
  stop(quorvex_condition(paste0(...), "quorvex_input_error", routine = routine))
}

status_messages <- list(
  OLSPFIT = c(
    "1" = "a curve needs at least 1 coefficient (degree >= 0)",
    "2" = "{npts} standards cannot determine {ncoef} coefficients",
    "3" = "at most 10 coefficients (degree 9) can be fitted, not {ncoef}",
    "4" = "every weight must be positive (u_y > 0)",
    "5" = "the interval must have xmin < xmax, not [{xmin}, {xmax}]",
    "6" = "the interval [{xmin}, {xmax}] starts above the smallest x",
    "7" = "the interval [{xmin}, {xmax}] ends below the largest x",
    "21" = "the QR factorization of the design failed",
    "22" = "applying the QR factor to the responses failed",
    "23" = "the design is singular (too few distinct x values for the degree?)",
    "24" = paste("the design is too badly conditioned (too few distinct x values for the",
                 "degree, or an interval much wider than the data?)"),
    "999" = "the library could not obtain working storage"),
  GLSPFIT = c(
    "1" = "iteration limit reached; the last step was below the step tolerance",
    "2" = "iteration limit reached; only the residual change was below its tolerance",
    "3" = "the line search gave up",
    "4" = "iteration limit reached before convergence (raise maxit, or loosen tol)",
    "5" = "evaluation limit reached before convergence (raise maxit, or loosen tol)",
    "21" = "{npts} standards cannot determine {ncoef} coefficients",
    "25" = "a scaled x weight underflowed to zero (u_x spans too many orders of magnitude)",
    "26" = "a scaled y weight underflowed to zero (u_y spans too many orders of magnitude)",
    "35" = "both tolerances must be positive",
    "36" = "the iteration limit must be at least 1",
    "44" = "every x weight must be positive (u_x > 0)",
    "-1" = "internal size mismatch of the fit workspace",
    "-101" = "an adjusted abscissa left the interval [{xmin}, {xmax}]; give a wider interval",
    "-2" = "the least-squares solve of a Gauss-Newton step failed",
    "-3" = "the gradient product failed",
    "999" = "the library could not obtain working storage"),
  POLYEVAL = c(
    "1" = "the interval must have xmin < xmax, not [{xmin}, {xmax}]",
    "2" = "a point lies below the curve's interval [{xmin}, {xmax}]",
    "3" = "a point lies above the curve's interval [{xmin}, {xmax}]",
    "999" = "the library could not obtain working storage"),
  IPVAL = c(
    "1" = "the interval must have xmin < xmax, not [{xmin}, {xmax}]",
    "2" = "a constant curve (degree 0) has no inverse",
    "3" = "ngrid must be at least 1",
    "999" = "the library could not obtain working storage"),
  LINEAR_CONV = c(
    "1" = "the interval must have xmin < xmax, not [{xmin}, {xmax}]",
    "999" = "the library could not obtain working storage"),
  IPVAL_DEGREE1 = c(
    "1" = "the interval must have xmin < xmax, not [{xmin}, {xmax}]",
    "999" = "the library could not obtain working storage"))

# The status `code` of `routine` in words, "{field}"s filled from `fields`.
status_message <- function(routine, code, fields = list()) {
  text <- status_messages[[routine]][as.character(code)]
  if (is.null(text) || is.na(text)) {
    return(sprintf("%s returned status %d", routine, as.integer(code)))
  }
  for (name in names(fields)) {
    text <- gsub(paste0("{", name, "}"), format(fields[[name]], digits = 6), text,
                 fixed = TRUE)
  }
  sprintf("%s (%s status %d)", text, routine, as.integer(code))
}

status_error <- function(routine, code, fields = list()) {
  stop(quorvex_condition(status_message(routine, code, fields), "quorvex_fit_error",
                         routine = routine, code = as.integer(code)))
}
