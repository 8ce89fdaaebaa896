# The calibration record: save_calibration() writes the JSON record the Python
# package and the command line write (format "quorvex.Calibration", version 1;
# the schema is python/quorvex/schema/calibration.schema.json), and
# load_calibration() reads one back, from R, Python or the command line.  The
# command line renders the report of any record: quorvex report RECORD.
#
# Numbers are written with 17 significant digits, so that every double reads
# back to the same bits; a record is read by fitting its standards again and
# comparing the coefficients with those it holds, as the Python package does.

RECORD_FORMAT <- "quorvex.Calibration"

need_jsonlite <- function() {
  if (!requireNamespace("jsonlite", quietly = TRUE)) {
    input_error("saving and loading a calibration record needs the jsonlite package ",
                "(install.packages(\"jsonlite\"))")
  }
}

# A JSON text for a number, a vector (an array) or a matrix (an array of rows),
# each double to 17 significant digits; non-finite values and NULL as null.
json_number <- function(v) {
  out <- sprintf("%.17g", v)
  out[!is.finite(v)] <- "null"
  out
}
json_array <- function(v) {
  if (is.null(v)) return(structure("null", class = "json"))
  if (is.matrix(v)) {
    rows <- vapply(seq_len(nrow(v)), function(i) {
      paste0("[", paste(json_number(v[i, ]), collapse = ","), "]")
    }, "")
    return(structure(paste0("[", paste(rows, collapse = ","), "]"), class = "json"))
  }
  structure(paste0("[", paste(json_number(as.double(v)), collapse = ","), "]"), class = "json")
}
json_scalar <- function(v) structure(json_number(as.double(v)), class = "json")

save_calibration <- function(cal, file) {
  if (!inherits(cal, "quorvex_cal")) input_error("cal must be a calibration from calfit()")
  if (!is.character(file) || length(file) != 1L || is.na(file)) {
    input_error("file must be one file name")
  }
  need_jsonlite()
  u <- jsonlite::unbox
  gls <- cal$kind == "gls"
  opts <- if (gls) {
    list(tol = json_array(cal$options$tol), maxit = u(as.integer(cal$options$maxit)),
         sigma = json_scalar(cal$options$sigma))
  } else if (!is.null(cal$weighting)) {
    list(weighting = u(cal$weighting))
  } else {
    structure(list(), names = character())
  }
  excluded <- lapply(cal$excluded, function(e) {
    list(standard = u(as.character(e$standard)), x = json_scalar(e$x), y = json_scalar(e$y),
         reason = u(e$reason))
  })
  v <- verdicts(cal, cal$criteria)
  crit <- unclass(as_criteria(cal$criteria))
  crit <- lapply(crit, function(c) {
    if (is.null(c)) u(NA) else if (is.character(c)) c else json_scalar(c)
  })
  crit$warn_only <- I(as.character(crit$warn_only))
  crit$preset <- u(crit$preset)
  rec <- list(
    format = u(RECORD_FORMAT), version = u(1L), kind = u(cal$kind),
    coef = json_array(cal$chebyshev$coef), cov = json_array(cal$chebyshev$cov),
    cov_scaled = json_array(cal$chebyshev$cov_scaled), sres = json_scalar(cal$sres),
    chi2 = json_scalar(cal$chi2), dof = u(as.integer(cal$dof)),
    fitted = json_array(unname(cal$fitted)), residuals = json_array(unname(cal$residuals)),
    weighted_residuals = json_array(cal$weighted_residuals), x = json_array(cal$x),
    y = json_array(cal$y), u_y = json_array(cal$u_y), u_x = json_array(cal$u_x),
    weights = json_array(cal$weights), x_weights = json_array(cal$x_weights),
    interval = json_array(cal$interval), covariance = u(cal$covariance),
    status = u(as.integer(cal$status)), iterations = u(as.integer(cal$iterations)),
    evaluations = u(as.integer(cal$evaluations)), x_adjusted = json_array(cal$x_adjusted),
    residuals_x = json_array(cal$residuals_x),
    weighted_residuals_x = json_array(cal$weighted_residuals_x),
    rinfo = json_array(cal$rinfo), options = opts, notes = I(as.character(cal$notes)),
    ids = I(as.character(cal$ids)), excluded = excluded,
    results = list(labels = list(x = u(gsub("`", "", cal$names[["x"]])),
                                 y = u(gsub("`", "", cal$names[["y"]]))),
                   verdicts = list(criteria = crit, fit_for_use = u(isTRUE(v$fit_for_use))),
                   software = list(quorvex = u(as.character(utils::packageVersion("quorvex"))),
                                   R = u(paste(R.version$major, R.version$minor, sep = "."))),
                   date = u(format(Sys.time(), "%Y-%m-%dT%H:%M:%S+00:00", tz = "UTC"))))
  text <- jsonlite::toJSON(rec, json_verbatim = TRUE, na = "null", null = "null",
                           pretty = TRUE)
  # Written whole or not at all: a temporary file beside the target, then renamed.
  tmp <- tempfile(".quorvex-", tmpdir = dirname(normalizePath(file, mustWork = FALSE)))
  ok <- FALSE
  on.exit(if (!ok) unlink(tmp), add = TRUE)
  writeLines(text, tmp, useBytes = TRUE)
  if (!file.rename(tmp, file)) input_error("cannot write ", file)
  ok <- TRUE
  invisible(file)
}

load_calibration <- function(file) {
  if (!is.character(file) || length(file) != 1L || is.na(file) || !file.exists(file)) {
    input_error("file must name an existing calibration record")
  }
  need_jsonlite()
  d <- tryCatch(jsonlite::fromJSON(file, simplifyVector = TRUE, simplifyDataFrame = FALSE,
                                   simplifyMatrix = TRUE),
                error = function(e) input_error(basename(file), ": not a JSON file (",
                                                conditionMessage(e), ")"))
  if (!is.list(d) || !identical(d$format, RECORD_FORMAT)) {
    input_error(basename(file), ": not a quorvex calibration (no \"format\": \"",
                RECORD_FORMAT, "\")")
  }
  if (!identical(as.integer(d$version), 1L)) {
    input_error(basename(file), ": a record of format version ", format(d$version),
                "; this quorvex reads version 1")
  }
  bad <- function(...) input_error(basename(file), ": a damaged quorvex calibration (", ..., ")")
  for (k in c("kind", "coef", "x", "y", "interval")) if (is.null(d[[k]])) bad("no ", k)
  ncoef <- length(d$coef)
  labels <- d$results$labels
  xname <- if (is.character(labels$x) && length(labels$x) == 1L) labels$x else "x"
  yname <- if (is.character(labels$y) && length(labels$y) == 1L) labels$y else "y"
  if (identical(xname, yname) || !nzchar(xname) || !nzchar(yname)) {
    xname <- "x"
    yname <- "y"
  }
  data <- data.frame(as.double(d$x), as.double(d$y))
  names(data) <- c(xname, yname)
  ids <- as.character(unlist(d$ids))
  if (length(ids) == nrow(data) && !anyDuplicated(ids)) row.names(data) <- ids
  formula <- stats::as.formula(paste0("`", gsub("`", "", yname), "` ~ `",
                                      gsub("`", "", xname), "`"), env = baseenv())
  names(data) <- gsub("`", "", names(data))
  opts <- d$options
  crit <- d$results$verdicts$criteria
  crit <- if (is.list(crit)) {
    known <- intersect(names(crit), names(formals(acceptance_criteria)))
    crit <- crit[known]
    crit$warn_only <- as.character(unlist(crit$warn_only))
    crit[!vapply(crit, is.null, TRUE)]
  } else NULL
  args <- list(formula, data = data, degree = ncoef - 1L, interval = as.double(d$interval),
               criteria = crit)
  if (!is.null(d$u_y)) args$u_y <- as.double(d$u_y)
  if (d$kind == "gls") {
    args$u_x <- as.double(d$u_x)
    args$tol <- as.double(opts$tol)
    args$maxit <- as.integer(opts$maxit)
    args$sigma <- as.double(opts$sigma)
    args$accept_unconverged <- as.integer(d$status) %in% 4:5
  } else if (!is.null(opts$weighting)) {
    args$weighting <- opts$weighting
  }
  cal <- tryCatch(suppressWarnings(do.call(calfit, args)),
                  quorvex_input_error = function(e) bad(conditionMessage(e)))
  same <- if (d$kind == "ols") identical(cal$chebyshev$coef, as.double(d$coef)) else
    isTRUE(all.equal(cal$chebyshev$coef, as.double(d$coef), tolerance = 1e-9))
  if (!same) {
    bad("its standards do not fit again to the coefficients it holds: the record was edited")
  }
  cal$call <- match.call()
  cal$excluded <- lapply(d$excluded, function(e) {
    list(standard = as.character(e$standard), x = as.double(e$x), y = as.double(e$y),
         reason = as.character(e$reason))
  })
  cal$notes <- as.character(unlist(d$notes))
  cal
}
