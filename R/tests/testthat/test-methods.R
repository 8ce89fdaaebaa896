# The R side: formula interface, refused input, S3 methods, conditions.

std <- data.frame(conc = c(0, 0, 1, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10),
                  abs = c(0.0120, 0.0125, 0.1637, 0.3119, 0.3131, 0.6041, 0.6082, 0.8996,
                          0.8903, 1.1650, 1.1718, 1.4386, 1.4368),
                  u_abs = c(0.0015, 0.0015, 0.0022, 0.0028, 0.0028, 0.0039, 0.0039, 0.0051,
                            0.0051, 0.0062, 0.0062, 0.0072, 0.0072))

test_that("the formula names the coefficients and the columns are found in data", {
  cal <- calfit(abs ~ conc, std, degree = 2)
  expect_named(coef(cal), c("(Intercept)", "conc", "I(conc^2)"))
  expect_identical(dimnames(vcov(cal)), list(names(coef(cal)), names(coef(cal))))
  # The power coefficients are those of lm's polynomial (same least squares).
  ref <- lm(abs ~ conc + I(conc^2), std)
  expect_equal(unname(coef(cal)), unname(coef(ref)), tolerance = 1e-10)
  expect_equal(unname(vcov(cal)), unname(vcov(ref)), tolerance = 1e-8)
  expect_equal(unname(fitted(cal)), unname(fitted(ref)), tolerance = 1e-12)
  expect_equal(unname(residuals(cal)), unname(std$abs - fitted(cal)))
  # u_y taken from a column of data.
  a <- calfit(abs ~ conc, std, u_y = u_abs)
  b <- calfit(abs ~ conc, u_y = std$u_abs, data = std)
  expect_identical(coef(a), coef(b))
  expect_identical(a$covariance, "stated")
})

test_that("factors, text, NA and wrong sizes are refused with a clear message", {
  bad <- std
  bad$conc <- factor(bad$conc)
  expect_error(calfit(abs ~ conc, bad), "conc is a factor", class = "quorvex_input_error")
  bad <- std
  bad$conc <- as.character(bad$conc)
  expect_error(calfit(abs ~ conc, bad), "conc must be numbers", class = "quorvex_input_error")
  bad <- std
  bad$abs[c(3, 7)] <- NA
  expect_error(calfit(abs ~ conc, bad), "abs has missing values \\(NA\\) in row\\(s\\) 3, 7")
  bad$abs[c(3, 7)] <- c(Inf, 1)
  expect_error(calfit(abs ~ conc, bad), "abs must be finite: row\\(s\\) 3")
  expect_error(calfit(abs ~ conc, std, u_y = 1:3), "u_y has 3 values where 1 or 13")
  expect_error(calfit(abs ~ conc, std, u_y = -1), "u_y must be positive")
  expect_error(calfit(abs ~ conc + I(conc^2), std), "degree")
  expect_error(calfit(abs ~ conc, std, degree = 13), "degree must be")
  expect_error(calfit(abs ~ conc, std[1:2, ], degree = 2), "2 standards cannot determine 3")
  expect_error(calfit(abs ~ conc, std, weighting = "1/x"), "needs every x > 0: row\\(s\\) 1, 2")
  expect_error(calfit(abs ~ conc, std, u_x = 0.01), "u_x needs u_y too")
  expect_error(calfit(abs ~ conc, std, interval = c(1, 10)), "outside the interval")
  expect_error(calfit(abs ~ conc, std, weighting = "1/z"), "weighting must be one of",
               class = "quorvex_input_error")
  expect_error(calfit(abs ~ conc, std, u_y = NA), "u_y has missing values")
  cal <- calfit(abs ~ conc, std)
  expect_error(inverse(cal, factor(1)), "y is a factor")
  expect_error(inverse(cal, c(0.1, NA)), "missing values")
  expect_error(inverse(cal, 0.1, u_y = c(1, 2)), "u_y has 2 values")
  expect_error(inverse(cal, 0.1, u_y = "none"), "curve-only")
  expect_error(predict(cal, data.frame(conc = 11)), "interval", class = "quorvex_input_error")
  expect_error(predict(cal, data.frame(other = 1)), "newdata must have the column conc")
  expect_error(inverse(list(), 1), "made by calfit")
})

test_that("library statuses become R conditions with the library's message", {
  std$u_conc <- 0.01 + 0.005 * std$conc
  e <- tryCatch(calfit(abs ~ conc, std, u_y = u_abs, u_x = 30 * u_conc, interval = c(0, 10)),
                error = identity)
  expect_s3_class(e, "quorvex_fit_error")
  expect_identical(e$routine, "GLSPFIT")
  expect_identical(e$code, -101L)
  expect_identical(conditionMessage(e), paste("an adjusted abscissa left the interval [0, 10];",
                                              "give a wider interval (GLSPFIT status -101)"))
  e <- tryCatch(calfit(abs ~ conc, std, u_y = u_abs, u_x = 10 * u_conc, maxit = 1),
                error = identity)
  expect_identical(e$code, 4L)
  expect_match(conditionMessage(e), "raise maxit")
  # Accepted on request, with a warning.
  expect_warning(calfit(abs ~ conc, std, u_y = u_abs, u_x = 10 * u_conc, maxit = 1,
                        accept_unconverged = TRUE), "GLSPFIT status 4")
  # The glue checks what it is given: a wrong call raises, it does not crash.
  expect_error(.Call(quorvex:::qvx_olspfit, 1:3, c(1, 2, 3), c(1, 1, 1), 2L, 0, 1), "double")
  expect_error(.Call(quorvex:::qvx_olspfit, c(1, 2), c(1, 2, 3), c(1, 1, 1), 2L, 0, 1), "length")
  expect_error(.Call(quorvex:::qvx_ipval, c(1, 2), c(1, 0, 0, 1, 9), 1, 0, 0, 1, 100L, 0), "ncoef")
  expect_error(.Call(quorvex:::qvx_polyeval, numeric(11), 1, 0, 1), "between 1 and 10")
})

test_that("predict gives lm's bands for an unweighted straight line", {
  cal <- calfit(abs ~ conc, std)
  ref <- lm(abs ~ conc, std)
  nd <- data.frame(conc = c(0.5, 3, 9.5))
  for (kind in c("confidence", "prediction")) {
    expect_equal(predict(cal, nd, interval = kind), predict(ref, nd, interval = kind),
                 tolerance = 1e-10, ignore_attr = TRUE)
  }
  expect_equal(predict(cal, nd), unname(predict(ref, nd)), tolerance = 1e-12)
  expect_equal(predict(cal), unname(fitted(ref)), tolerance = 1e-12)
  expect_equal(predict(cal, c(0.5, 3, 9.5)), predict(cal, nd))
})

test_that("inverse: defaults for u(y), round trip, joint covariance, several roots", {
  cal <- calfit(abs ~ conc, std)
  xs <- c(0.7, 3.3, 8.1)
  inv <- inverse(cal, predict(cal, xs), replicates = c(1, 3, 1))
  expect_equal(inv$x, xs, tolerance = 1e-12)
  expect_identical(inv$u_y_source, c("from the scatter, 1 reading",
                                     "from the scatter, 3 readings",
                                     "from the scatter, 1 reading"))
  expect_equal(inv$u_y, cal$sres / sqrt(c(1, 3, 1)))
  expect_equal(inv$k, rep(qt(0.975, 11), 3))
  expect_equal(inv$U, inv$k * inv$u_x)
  expect_equal(diag(attr(inv, "cov")), inv$u_x^2, tolerance = 1e-12)
  s <- attr(inv, "sensitivity")
  expect_equal(attr(inv, "cov"), s %*% attr(inv, "cov_coef") %*% t(s) +
                 diag(attr(inv, "response_variance")), tolerance = 1e-15)
  # Many responses: the factors, not an m x m matrix.
  ys <- seq(0.1, 1.3, length.out = 5000)
  many <- inverse(cal, ys)
  expect_null(attr(many, "cov"))
  expect_identical(dim(attr(many, "sensitivity")), c(5000L, 2L))
  expect_equal(predict(cal, many$x), ys, tolerance = 1e-12)
  # u(x)^2 of a straight line in closed form (ISO/TS 28037 style).
  b <- coef(cal)[[2]]
  v <- vcov(cal)
  ux <- sqrt((v[1, 1] + 2 * xs * v[1, 2] + xs^2 * v[2, 2] + inv$u_y^2) / b^2)
  expect_equal(inv$u_x, ux, tolerance = 1e-10)
  curve <- inverse(cal, 0.5, u_y = "curve-only")
  expect_identical(curve$u_y_source, "curve only")
  expect_identical(curve$u_y, 0)
  # A stated reading with a scaled curve: Welch-Satterthwaite dof above the fit's.
  st <- inverse(cal, 0.5, u_y = 0.01)
  expect_true(st$dof > cal$dof && is.finite(st$dof))
  expect_error(inverse(cal, 0.5, u_y = 0.01, replicates = 2), "replicates")
  stated <- calfit(abs ~ conc, std, u_y = u_abs)
  expect_error(inverse(stated, 0.5), "give u_y per sample")
  s <- inverse(stated, 0.5, u_y = 0.003)
  expect_identical(s$dof, Inf)
  expect_equal(s$k, qnorm(0.975))
  # A parabola read at a level it crosses twice.
  d <- data.frame(x = seq(-2, 2, by = 0.5))
  d$y <- d$x^2 + c(0.01, -0.01)[seq_len(nrow(d)) %% 2 + 1]
  q <- calfit(y ~ x, d, degree = 2)
  two <- inverse(q, c(1, 9))
  expect_identical(attr(two, "n_roots"), c(2L, 0L))
  expect_identical(two$flags, c("2 roots", paste("no root in the interval; above the highest",
                                                 "standard: dilute and repeat")))
  expect_true(is.na(two$x[2]))
  expect_equal(sort(abs(attr(two, "roots")[1, ])), c(1, 1), tolerance = 1e-2)
  # The closed form of a straight line also answers beyond the interval.
  out <- inverse(cal, 2, extrapolate = TRUE)
  expect_equal(out$x, (2 - coef(cal)[[1]]) / coef(cal)[[2]], tolerance = 1e-12)
})

test_that("the inversion interval is the prediction band read back", {
  cal <- calfit(abs ~ conc, std)
  y <- c(0.3, 0.9)
  inv <- inverse(cal, y)
  # At each end the prediction band for one reading (k = t with 11 dof) meets y.
  lo <- predict(cal, inv$low, interval = "prediction")
  hi <- predict(cal, inv$high, interval = "prediction")
  expect_equal(unname(lo[, "upr"]), y, tolerance = 1e-12)
  expect_equal(unname(hi[, "lwr"]), y, tolerance = 1e-12)
  expect_true(all(inv$low < inv$x & inv$x < inv$high))
  # Near an end of the curve's interval the band reaches it: open, and said so
  # in its own column (not among the flags, as in the Python package).
  near <- inverse(cal, predict(cal, 0.05))
  expect_identical(near$low, 0)
  expect_identical(near$interval_open, TRUE)
  expect_identical(inv$interval_open, c(FALSE, FALSE))
  expect_false(grepl("open", near$flags))
})

test_that("Monte Carlo agrees with first order on a well-determined line", {
  cal <- calfit(abs ~ conc, std, u_y = u_abs)
  mc <- inverse(cal, c(0.3, 0.9), u_y = 0.004, method = "montecarlo", n = 4000, seed = 3)
  fo <- inverse(cal, c(0.3, 0.9), u_y = 0.004)
  expect_equal(mc$x, fo$x, tolerance = 0.01)
  expect_equal(mc$u_x, fo$u_x, tolerance = 0.1)
  expect_true(all(mc$agrees))
  again <- inverse(cal, c(0.3, 0.9), u_y = 0.004, method = "montecarlo", n = 4000, seed = 3)
  expect_identical(mc$x, again$x)
  spelled <- inverse(cal, c(0.3, 0.9), u_y = 0.004, method = "monte-carlo", n = 4000, seed = 3)
  expect_identical(spelled$x, again$x)
  # A scaled covariance: the scale is drawn too, so the interval follows t, not normal.
  few <- calfit(abs ~ conc, std[c(1, 3, 6, 8, 12), ])
  mc <- inverse(few, 0.6, method = "montecarlo", n = 20000, seed = 5)
  fo <- attr(mc, "first_order")
  expect_equal(fo$k, qt(0.975, 3))
  expect_equal((mc$high - mc$low) / 2, fo$U, tolerance = 0.05)
})

test_that("summary, print, lod and plot run and say what they should", {
  cal <- calfit(abs ~ conc, std, u_y = u_abs)
  out <- capture.output(print(summary(cal)))
  expect_true(any(grepl("goodness of fit  fail", out)))
  expect_true(any(grepl("NOT fit for use", out)))
  expect_true(any(grepl("Std. Error", out)))
  expect_true(any(grepl("quorvex calibration: degree 1", capture.output(print(cal)))))
  l <- lod(calfit(abs ~ conc, std))
  expect_s3_class(l, "quorvex_lod")
  expect_equal(l$lod / l$loq, 0.33)
  expect_true(l$x_detection > l$x_critical && l$x_critical > 0)
  expect_error(lod(cal, blank = -100), "far outside the curve's interval")
  expect_match(lod(cal, blank = 0)$blank_source, "stated u\\(y\\)|standards at the blank")
  f <- tempfile(fileext = ".png")
  grDevices::png(f)
  plot(calfit(abs ~ conc, std, u_y = u_abs, u_x = 0.01 + 0.005 * conc, degree = 2))
  grDevices::dev.off()
  expect_true(file.size(f) > 1000)
})

test_that("R's t quantiles agree with a 40-digit computation", {
  # Reference values computed with mpmath (regularized incomplete beta, 40 digits).
  expect_equal(qt(0.975, 9), 2.2621571627982049992, tolerance = 1e-15)
  expect_equal(qt(0.95, 37), 1.687093619596263107, tolerance = 1e-15)
})

test_that("exclude leaves standards out on the record; criteria set the verdicts", {
  cal <- calfit(abs ~ conc, std)
  bad <- std
  bad$abs[5] <- bad$abs[5] + 0.2
  out <- calfit(abs ~ conc, bad, exclude = c("5" = "air bubble in the cuvette"))
  # Leaving the standard out is the fit without it.
  ref <- calfit(abs ~ conc, bad[-5, ])
  expect_identical(coef(out), coef(ref))
  expect_identical(names(fitted(out)), rownames(bad)[-5])
  expect_identical(out$excluded[[1]]$reason, "air bubble in the cuvette")
  expect_identical(out$excluded[[1]]$y, bad$abs[5])
  expect_true(any(grepl("standard 5 .*air bubble", capture.output(print(out)))))
  sm <- capture.output(print(summary(out)))
  expect_true(any(grepl("excluded +left out +standard 5", sm)))
  expect_true(any(grepl("r = 0\\.99", sm)))
  # A column of uncertainties is left out with its standard.
  bad$u_conc <- 0.01 + 0.002 * bad$conc
  ux <- calfit(abs ~ conc, bad, u_y = u_abs, u_x = u_conc, exclude = list(`5` = "bubble"))
  expect_identical(coef(ux), coef(calfit(abs ~ conc, bad[-5, ], u_y = u_abs, u_x = u_conc)))
  # Named rows name the standards.
  named <- bad
  rownames(named) <- paste0("S", seq_len(nrow(bad)))
  expect_identical(calfit(abs ~ conc, named, exclude = c(S5 = "bubble"))$excluded[[1]]$standard,
                   "S5")
  expect_error(calfit(abs ~ conc, bad, exclude = c("99" = "x")), "no standard \"99\"")
  expect_error(calfit(abs ~ conc, bad, exclude = c("5" = "")), "give the reason")
  expect_error(calfit(abs ~ conc, bad, exclude = "5"), "name each standard")
  # The outlier fails the run; warn_only turns the failure into a warning.
  with <- calfit(abs ~ conc, bad)
  expect_false(summary(with)$fit_for_use)
  expect_match(summary(with)$verdicts$verdict, "outlier\\(s\\): standard 5")
  w <- summary(with, criteria = list(warn_only = c("outliers", "back_calculated")))
  expect_true(w$fit_for_use)
  expect_match(w$verdicts$verdict, "with warnings")
  # Every reading off a rejected curve carries the flag; a criterion set to
  # warn only does not reject.
  inv <- inverse(with, c(0.3, 0.9))
  expect_true(all(grepl("calibration not fit for use", inv$flags)))
  expect_true(all(bitwAnd(attr(inv, "flag_bits"), 2048L) != 0L))
  expect_false(attr(inv, "fit_for_use"))
  warned <- calfit(abs ~ conc, bad, criteria = list(warn_only = c("outliers", "back_calculated")))
  expect_false(any(grepl("not fit for use", inverse(warned, c(0.3, 0.9))$flags)))
  # A standard is named by its ID or its data row; a name fitting two is refused.
  numbered <- bad
  rownames(numbered) <- c("1", "3", "2", as.character(4:nrow(bad)))
  expect_error(calfit(abs ~ conc, numbered, exclude = c("2" = "x")),
               "ambiguous: it names data row 2 \\(ID '3'\\); data row 3 \\(ID '2'\\)")
  expect_identical(calfit(abs ~ conc, numbered, exclude = c("5" = "x"))$excluded[[1]]$standard,
                   "5")
  # The overall alpha is shared among the tests that apply (here lack of fit
  # and outliers: no stated u(y), no chi2 test), unless a test's own is given.
  expect_identical(summary(cal)$verdicts$levels, list(lack_of_fit = 0.025, outliers = 0.025))
  expect_identical(summary(cal, criteria = acceptance_criteria(alpha = 0.01,
                                                               alpha_outliers = 0.001))$verdicts$levels,
                   list(lack_of_fit = 0.005, outliers = 0.001))
  expect_error(acceptance_criteria(alpha = 1), "strictly between 0 and 1")
  expect_error(acceptance_criteria(warn_only = "cook"), "warn_only")
  expect_error(summary(cal, criteria = list(alfa = 0.1)), "no field alfa")
  # A plot with a left-out standard.
  f <- tempfile(fileext = ".png")
  grDevices::png(f)
  plot(out)
  grDevices::dev.off()
  expect_true(file.size(f) > 1000)
})

test_that("samples get the flags a laboratory acts on", {
  cal <- calfit(abs ~ conc, std)
  l <- lod(cal)
  ends <- predict(cal, range(cal$interval))
  inv <- inverse(cal, c(ends[1] - 0.05, ends[2] + 0.05, mean(ends)), limits = l)
  expect_match(inv$flags[1], "^no root in the interval; below the lowest standard \\(x = ")
  expect_match(inv$flags[2], "above the highest standard: dilute and repeat \\(x = ")
  # This straight line fails its lack-of-fit test: every reading says so.
  expect_false(summary(cal)$fit_for_use)
  expect_identical(inv$flags[3], "calibration not fit for use")
  # The value below the LOD is still given, with its uncertainty.
  low <- inverse(cal, predict(cal, 0.5 * l$x_detection), limits = l)
  expect_match(low$flags, "below LOD")
  expect_true(is.finite(low$x) && is.finite(low$U))
  expect_error(inverse(cal, 0.5, limits = list(lod = 1)), "made by lod")
  # Under 1/x weighting without data about the blank its limits are not
  # computed, and say why; readings of blanks give them, with their dof.
  w <- calfit(abs ~ conc, std[std$conc > 0, ], weighting = "1/x")
  lw <- lod(w)
  expect_match(lw$blank_source, "^not computed: under the 1/x weighting")
  expect_true(is.na(lw$x_detection) && is.na(lw$y_critical) && is.finite(lw$lod))
  expect_true(lw$extrapolated)
  blanks <- c(0.0021, -0.0004, 0.0018, 0.0003, -0.0015)
  lb <- lod(w, blank_readings = blanks)
  expect_identical(lb$blank_source, "5 readings of blanks (4 degrees of freedom)")
  expect_equal(lb$sigma_blank, sd(blanks), tolerance = 1e-14)
  expect_true(any(grepl("extended a little", capture.output(print(lb)))))
  expect_true(lb$loq_din > 0 && lb$x_detection > lb$x_critical)
  expect_error(lod(w, blank_readings = blanks, u_blank = 0.1), "not both")
})

test_that("ngrid, draws, seed and replicates are bounded before anything runs", {
  cal <- calfit(abs ~ conc, std, u_y = u_abs)
  expect_error(inverse(cal, 0.5, u_y = 0.003, ngrid = .Machine$integer.max), "ngrid",
               class = "quorvex_input_error")
  expect_error(inverse(cal, 0.5, u_y = 0.003, method = "montecarlo", n = 1e7), "n must",
               class = "quorvex_input_error")
  expect_error(inverse(cal, rep(0.5, 100), u_y = 0.003, method = "montecarlo", n = 1e6),
               "more than", class = "quorvex_input_error")
  expect_error(inverse(cal, 0.5, u_y = 0.003, method = "montecarlo", n = 100, seed = "a"),
               "seed must be a whole number", class = "quorvex_input_error")
  sc <- calfit(abs ~ conc, std)
  expect_error(inverse(sc, 0.5, replicates = 2^40), "replicates must be whole numbers from 1",
               class = "quorvex_input_error")
  # The glue keeps the bound too, whatever calls it.
  expect_error(.Call(quorvex:::qvx_ipval, c(1, 2), diag(2), 0.5, 0.1, 0, 1, 200000L, 0),
               "ngrid must lie between 1 and 100000")
})

test_that("relative stated weights read a sample with its own weight (Massart's example 3)", {
  # Massart et al. (1997), chapter 8, example 3: level means, weights
  # round(1/s^2, 3); samples 15 (weight 1.67) and 90 (0.145).
  lv <- c(0, 10, 20, 30, 40, 50)
  d <- data.frame(x = lv, y = c(4.0, 21.2, 44.6, 61.8, 78.0, 105.2),
                  w = c(1.984, 1.417, 1.262, 0.372, 0.199, 0.109))
  cal <- calfit(y ~ x, d, u_y = 1 / sqrt(w), covariance = "scaled")
  expect_identical(cal$covariance, "scaled")
  ws <- c(1.67, 0.145)
  p <- inverse(cal, c(15, 90), u_y_relative = 1 / sqrt(ws))
  expect_equal(p$U, c(2.478285, 7.855012), tolerance = 1e-6, scale = 1)
  expect_identical(round(p$U, 1), c(2.5, 7.9))
  expect_identical(p$dof, c(4, 4))
  # lm with the same weights and the classical formula with s^2 / w_s.
  m <- lm(y ~ x, d, weights = w)
  s <- summary(m)$sigma
  b <- unname(coef(m)[2])
  xw <- sum(d$w * lv) / sum(d$w)
  yw <- sum(d$w * d$y) / sum(d$w)
  se <- s / b * sqrt(1 / ws + 1 / sum(d$w) + (c(15, 90) - yw)^2 / (b^2 * sum(d$w * (lv - xw)^2)))
  expect_equal(p$u_x, se, tolerance = 1e-10)
  expect_error(inverse(cal, 15), "u_y_relative", class = "quorvex_input_error")
  expect_error(inverse(calfit(y ~ x, d, u_y = 1 / sqrt(w)), 15, u_y_relative = 1),
               "u_y_relative applies", class = "quorvex_input_error")
  expect_error(inverse(cal, 15, u_y_relative = 0), "positive", class = "quorvex_input_error")
})

test_that("weights from the responses or a column, and a variance model, as calfit takes them", {
  x <- rep(c(1, 2, 5, 10, 20, 50), each = 3)
  set.seed(4)
  y <- 0.1 + 0.9 * x + rnorm(length(x), 0, 0.02 + 0.03 * x)
  d <- data.frame(x = x, y = y, w = 1 / x^2)
  # A weight column of 1/x^2 is the 1/x2 preset, and 1/y2 a column of 1/y^2:
  # the same fit reached two ways.
  a <- calfit(y ~ x, d, weighting = "1/x2")
  b <- calfit(y ~ x, d, weights = w)
  expect_equal(coef(b), coef(a), tolerance = 1e-12)
  expect_equal(vcov(b), vcov(a), tolerance = 1e-10)
  expect_equal(coef(calfit(y ~ x, d, weighting = "1/y2")),
               coef(calfit(y ~ x, d, weights = 1 / y^2)), tolerance = 1e-12)
  expect_identical(b$covariance, "scaled")
  expect_error(calfit(y ~ x, d, weights = w, weighting = "1/x"), "one source of weights",
               class = "quorvex_input_error")
  expect_error(calfit(y ~ x, d, weighting = "1/y", covariance = "stated"), "scaled",
               class = "quorvex_input_error")
  expect_error(calfit(y ~ x, d, weights = -w), "weights\\[1\\]", class = "quorvex_input_error")
  expect_error(calfit(y ~ x, d, variance = "floor", u_y = 0.1), "variance gives the weights",
               class = "quorvex_input_error")
  # A variance model: the standards' u(y) are its sigma, a sample's u(y) the
  # model's at its x over sqrt(replicates), and the limits take its floor.
  cal <- calfit(y ~ x, d, variance = "floor")
  vm <- cal$variance
  expect_identical(vm$model, "floor")
  expect_identical(cal$u_y, vm$sd)
  inv <- inverse(cal, c(5, 30), replicates = 2)
  expect_equal(inv$u_y, variance_at(vm, inv$x)$sd / sqrt(2), tolerance = 1e-13)
  expect_true(all(grepl("variance model, 2 readings", inv$u_y_source)))
  expect_true(all(inv$U > inv$k * 0 & is.finite(inv$dof)))
  l <- lod(cal)
  expect_match(l$blank_source, "floor variance model's floor")
  expect_equal(l$sigma_blank, variance_at(vm, 0)$sd, tolerance = 1e-14)
  expect_error(inverse(cal, 5, extrapolate = TRUE), "extrapolate needs u_y")
  expect_error(inverse(cal, 5, u_y_relative = 1), "u_y_relative applies")
  # A model fitted beforehand to other standards is refused.
  expect_error(calfit(y ~ x, d[-1, ], variance = vm), "other standards",
               class = "quorvex_input_error")
  # Without a floor the limits at the blank are not computed, and say why.
  p <- lod(calfit(y ~ x, d, variance = "proportional"))
  expect_true(is.na(p$x_detection))
  expect_match(p$blank_source, "^not computed: .*proportional variance model")
})
