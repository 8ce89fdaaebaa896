# The calibration record: R saves what the Python package reads and reads
# what it writes; a fit is named as the Python package names it.

std <- data.frame(conc = c(0, 0, 1, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10),
                  abs = c(0.0120, 0.0125, 0.1637, 0.3119, 0.3131, 0.6041, 0.6082, 0.8996,
                          0.8903, 1.1650, 1.1718, 1.4386, 1.4368),
                  u_abs = c(15, 15, 22, 28, 28, 39, 39, 51, 51, 62, 62, 72, 72) / 1e4,
                  u_conc = c(10, 10, 15, 20, 20, 30, 30, 40, 40, 50, 50, 60, 60) / 1e3)

round_trip <- function(cal) {
  skip_if_not_installed("jsonlite")
  f <- tempfile(fileext = ".json")
  on.exit(unlink(f))
  save_calibration(cal, f)
  load_calibration(f)
}

test_that("a saved calibration loads back to the bit, for every kind of fit", {
  fits <- list(
    ols = calfit(abs ~ conc, std),
    stated = calfit(abs ~ conc, std, u_y = u_abs, degree = 2),
    preset = calfit(abs ~ conc, std[std$conc > 0, ], weighting = "1/x2"),
    eiv = calfit(abs ~ conc, std, u_y = u_abs, u_x = u_conc),
    excluded = calfit(abs ~ conc, std, exclude = c("3" = "air bubble"))
  )
  for (k in names(fits)) {
    a <- fits[[k]]
    b <- round_trip(a)
    expect_identical(b$chebyshev$coef, a$chebyshev$coef, label = k)
    expect_identical(b$coefficients, a$coefficients, label = k)
    expect_identical(b$vcov, a$vcov, label = k)
    expect_identical(b$sres, a$sres, label = k)
    expect_identical(b$names, a$names, label = k)
    expect_identical(unname(b$fitted), unname(a$fitted), label = k)
    expect_identical(b$ids, a$ids, label = k)
    expect_equal(b$excluded, a$excluded, label = k)
    expect_identical(quorvex:::verdicts(b)$verdict, quorvex:::verdicts(a)$verdict, label = k)
  }
})

test_that("a record whose numbers were edited is refused", {
  skip_if_not_installed("jsonlite")
  f <- tempfile(fileext = ".json")
  on.exit(unlink(f))
  save_calibration(calfit(abs ~ conc, std), f)
  text <- readLines(f)
  i <- grep("0.60409999999999997", text, fixed = TRUE)[1]
  expect_false(is.na(i))
  writeLines(sub("0.60409999999999997", "0.6051", text, fixed = TRUE), f)
  expect_error(load_calibration(f), "do not fit again", class = "quorvex_input_error")
  writeLines("{\"format\": \"something\"}", f)
  expect_error(load_calibration(f), "not a quorvex calibration", class = "quorvex_input_error")
  writeLines("{", f)
  expect_error(load_calibration(f), "not a JSON file", class = "quorvex_input_error")
})

test_that("R reads the record the Python package writes, and Python reads R's", {
  skip_if_not_installed("jsonlite")
  pypath <- Sys.getenv("PYTHONPATH")
  python <- Sys.getenv("QUORVEX_PYTHON", "/usr/bin/python3")
  if (!nzchar(pypath) || !nzchar(Sys.getenv("QUORVEX_LIBRARY")) || !file.exists(python)) {
    skip("the exchange with Python needs PYTHONPATH, QUORVEX_LIBRARY and Python")
  }
  py <- tempfile(fileext = ".json")
  rr <- tempfile(fileext = ".json")
  on.exit(unlink(c(py, rr)))
  a <- calfit(abs ~ conc, std[std$conc > 0, ], weighting = "1/x2")
  save_calibration(a, rr)
  code <- c(
    "import sys, quorvex",
    "from quorvex import record",
    "x = [1, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10]",
    "y = [0.1637, 0.3119, 0.3131, 0.6041, 0.6082, 0.8996, 0.8903, 1.1650, 1.1718, 1.4386, 1.4368]",
    "cal = quorvex.fit(x, y, weighting='1/x2')",
    "open(sys.argv[1], 'w').write(cal.to_json())",
    "r, _ = record.load(open(sys.argv[2]).read())",
    "print(r.coef.tolist() == cal.coef.tolist(), r.cov.tolist() == cal.cov.tolist())")
  script <- tempfile(fileext = ".py")
  writeLines(code, script)
  out <- system2(python, c(shQuote(script), shQuote(py), shQuote(rr)), stdout = TRUE,
                 stderr = TRUE)
  expect_identical(out[length(out)], "True True")
  b <- load_calibration(py)  # a record without labels: x and y
  expect_identical(b$chebyshev$coef, a$chebyshev$coef)
  expect_identical(unname(b$vcov), unname(a$vcov))
  expect_identical(b$names, c(x = "x", y = "y"))
})

test_that("print and summary name each fit as the Python package does", {
  names_of <- list(
    "ordinary least squares (unweighted)" = calfit(abs ~ conc, std),
    "weighted least squares (weights 1/u(y)\u00b2)" = calfit(abs ~ conc, std, u_y = u_abs),
    "weighted least squares (weights 1/x, scale from the scatter)" =
      calfit(abs ~ conc, std[std$conc > 0, ], weighting = "1/x"),
    "errors in variables (weights 1/u(x)\u00b2, 1/u(y)\u00b2)" =
      calfit(abs ~ conc, std, u_y = u_abs, u_x = u_conc))
  for (words in names(names_of)) {
    cal <- names_of[[words]]
    expect_true(grepl(words, paste(capture.output(print(cal)), collapse = "\n"), fixed = TRUE),
                label = words)
    expect_true(grepl(words, paste(capture.output(print(summary(cal))), collapse = "\n"),
                      fixed = TRUE), label = words)
  }
  expect_false(any(grepl("(^|[^n])weighted least squares",
                         capture.output(print(calfit(abs ~ conc, std))))))
})

test_that("a preset's criteria travel with the record, extra rules and name included", {
  skip_if_not_installed("jsonlite")
  f <- tempfile(fileext = ".json")
  on.exit(unlink(f))
  crit <- criteria_preset("ich-m10", min_levels = 7)
  a <- calfit(abs ~ conc, std, degree = 2, criteria = crit)
  save_calibration(a, f)
  rec <- jsonlite::fromJSON(f)
  expect_identical(rec$results$verdicts$criteria$preset, "ich-m10 (changed: min_levels)")
  expect_identical(rec$results$verdicts$criteria$min_levels, 7L)
  expect_false(rec$results$verdicts$fit_for_use)  # six levels, seven required
  b <- load_calibration(f)
  expect_identical(unclass(b$criteria), unclass(a$criteria))
  expect_identical(quorvex:::verdicts(b)$verdict, quorvex:::verdicts(a)$verdict)
})

test_that("presets judge as the laboratory library's rules say", {
  v <- function(cal, crit) quorvex:::verdicts(cal, crit)
  quad <- calfit(abs ~ conc, std, degree = 2)
  m10 <- v(quad, criteria_preset("ich-m10"))
  expect_true(m10$fit_for_use)  # six non-zero levels, all read back within 15 %
  expect_identical(m10$rows$verdict[m10$rows$test == "levels"], "pass")
  expect_identical(m10$rows$verdict[m10$rows$test == "preset"], "ich-m10")
  expect_false(v(quad, criteria_preset("ich-m10", min_levels = 7))$fit_for_use)
  expect_true(v(quad, criteria_preset("ich-m10", min_levels = 7,
                                      warn_only = c(c("goodness", "lack_of_fit", "outliers"), "levels")))$fit_for_use)
  # The relative standard error against its definition, computed here.
  epa <- v(quad, criteria_preset("epa-8000d"))
  bc <- epa$back_calculated
  keep <- bc$x_nominal != 0
  rse <- 100 * sqrt(sum(((bc$x_back[keep] - bc$x_nominal[keep]) / bc$x_nominal[keep])^2) /
                      (sum(keep) - 3))
  row <- epa$rows$details[epa$rows$test == "RSE"]
  expect_match(row, sprintf("relative standard error %s %%", format(signif(rse, 3))),
               fixed = TRUE)
  expect_error(criteria_preset("ich-m11"), class = "quorvex_input_error")
  expect_error(acceptance_criteria(min_levels = 2.5), class = "quorvex_input_error")
  expect_identical(unclass(criteria_preset("quorvex")), unclass(acceptance_criteria()))
})
