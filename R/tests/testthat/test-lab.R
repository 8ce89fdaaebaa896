# The binding of the laboratory library: arguments and results passed
# correctly, wrong calls refused by the glue, statuses turned into conditions.

std <- data.frame(conc = c(0, 0, 1, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10),
                  abs = c(0.0120, 0.0125, 0.1637, 0.3119, 0.3131, 0.6041, 0.6082, 0.8996,
                          0.8903, 1.1650, 1.1718, 1.4386, 1.4368),
                  u_abs = c(0.0015, 0.0015, 0.0022, 0.0028, 0.0028, 0.0039, 0.0039, 0.0051,
                            0.0051, 0.0062, 0.0062, 0.0072, 0.0072))

test_that("each distribution and question reaches the library as named", {
  q <- quorvex:::lab_quantile
  lower <- quorvex:::lab_lower_tail
  upper <- quorvex:::lab_upper_tail
  # Reference values from mpmath at 40 digits (incomplete beta and gamma).
  cases <- list(
    list(q("normal", 0.975), 1.959963984540054235524594430520551527956),
    list(q("t", 0.975, 9), 2.262157162798205542607769637943216168573),
    list(q("t", 0.975, Inf), 1.959963984540054235524594430520551527956),
    list(upper("chisq", 5, 3), 0.1717971442967331350636066521830514997891),
    # F with (3, 7) and (7, 3) degrees of freedom: the parameters in order.
    list(lower("f", 2, 3, 7), 0.7973063575133490779283300059267147308096),
    list(lower("f", 2, 7, 3), 0.69403638756881372389087821991151062816))
  for (i in seq_along(cases)) {
    expect_equal(cases[[i]][[1]], cases[[i]][[2]], tolerance = 1e-15, label = paste("case", i))
  }
  # Vectors element by element, and the non-central t's tails adding up.
  expect_identical(q("t", c(0.9, 0.975), c(5, 9))[2], q("t", 0.975, 9))
  x <- c(-1, 0.5, 3)
  expect_equal(lower("nct", x, 6, 1.5) + upper("nct", x, 6, 1.5), rep(1, 3), tolerance = 1e-15)
  expect_equal(lower("t", q("t", c(0.01, 0.5, 0.99), 4), 4), c(0.01, 0.5, 0.99),
               tolerance = 1e-14)
  # Statuses become conditions of the package.
  e <- tryCatch(q("t", 1.5, 3), error = identity)
  expect_s3_class(e, "quorvex_fit_error")
  expect_identical(e$code, 5L)
  expect_identical(e$routine, "QVXL_DISTRIBUTION")
  expect_error(q("t", 0.9, 0), "out of range")
  expect_identical(.Call(quorvex:::qvx_distribution, 9L, 1L, 1, 0, 0.5, 0)$status, 4L)
  # The glue refuses what would make it read past an array.
  g <- function(...) .Call(quorvex:::qvx_distribution, ...)
  expect_error(g(2L, 1L, c(1, 2), 0, 0.5, 0), "par1 must have 1 element")
  expect_error(g(2L, 1L, 1, 0, 0.5, c(0, 1)), "x must have 1 element")
  expect_error(g(2, 1L, 1, 0, 0.5, 0), "dist must be one integer")
  expect_error(g(2L, 1L, 1L, 0, 0.5, 0), "double")
  expect_error(g(2L, 1L, numeric(), numeric(), numeric(), numeric()), "between 1 and")
})

test_that("inverse passes its arguments to QVXL_READBACK and reads its results back", {
  cal <- calfit(abs ~ conc, std)
  stated <- calfit(abs ~ conc, std, u_y = u_abs)
  q <- quorvex:::lab_quantile
  for (level in c(0.9, 0.99)) {
    inv <- inverse(cal, c(0.3, 0.9), u_y = c(0.01, 0.002), level = level)
    # k is the t quantile of the effective dof at the level asked for, U = k u(x).
    expect_identical(inv$k, q("t", (1 + level) / 2, inv$dof))
    expect_identical(inv$U, inv$k * inv$u_x)
    expect_true(all(inv$dof > cal$dof & is.finite(inv$dof)))
    # u(x)^2 = u_c^2 + u(y)^2 / p'^2: the curve's part and the reading's part.
    expect_equal(inv$u_x^2, attr(inv, "u_curve")^2 + attr(inv, "response_variance"),
                 tolerance = 1e-14)
  }
  # Per response u(y) in order, and replicates per response.
  a <- inverse(cal, c(0.3, 0.9, 0.5), replicates = c(1, 4, 9))
  expect_identical(a$u_y, cal$sres / c(1, 2, 3))
  expect_identical(a$u_y_source, c("from the scatter, 1 reading", "from the scatter, 4 readings",
                                   "from the scatter, 9 readings"))
  expect_identical(a$dof, rep(as.double(cal$dof), 3))
  # Under 1/x the scatter of a reading grows like sqrt(x) at the sample's x.
  w <- calfit(abs ~ conc, std[std$conc > 0, ], weighting = "1/x")
  b <- inverse(w, c(0.3, 0.9))
  expect_identical(b$u_y, w$sres * sqrt(b$x))
  # Stated curve and stated u(y): normal k, infinite dof; a stated 0 is "curve only".
  s <- inverse(stated, c(0.3, 0.9), u_y = c(0.003, 0))
  expect_identical(s$dof, c(Inf, Inf))
  expect_identical(s$k, rep(q("normal", 0.975), 2))
  expect_identical(s$u_y_source, c("stated", "curve only"))
  # Limits reach the flags: a LOD just above a sample's x flags it, not the other.
  l <- lod(cal)
  x0 <- l$blank + l$x_detection
  f <- inverse(cal, predict(cal, c(0.9, 1.1) * x0), limits = l)
  expect_identical(bitwAnd(attr(f, "flag_bits"), quorvex:::FLAG_BELOW_LOD) != 0L, c(TRUE, FALSE))
  # No root: NA (not NaN) where there is nothing to give.
  n <- inverse(cal, 5)
  expect_true(is.na(n$x) && !is.nan(n$x) && is.na(n$k) && is.na(n$low))
  expect_identical(attr(n, "n_roots"), 0L)
})

test_that("the readback glue refuses wrong types and lengths, the library bad values", {
  cal <- calfit(abs ~ conc, std)
  coef <- cal$chebyshev$coef
  cov <- cal$cov_used
  call <- function(...) {
    a <- list(coef, cov, 0, 10, 1L, 11L, cal$sres, 0L, FALSE, c(0, 10), 0L, c(0, 0),
              c(0.3, 0.9), 0L, c(0.01, 0.01), 1, 0.95, 100L, 0, FALSE)
    b <- list(...)
    a[as.integer(names(b))] <- b
    do.call(.Call, c(list(quorvex:::qvx_readback), a))
  }
  expect_identical(call()$status, 0L)
  expect_error(call(`15` = 0.01), "u_y must have 2 element")
  expect_error(call(`14` = 1L, `16` = c(1, 1, 1)), "replicates must have 2 element")
  expect_error(call(`2` = cov[1:3]), "cov must have ncoef\\^2")
  expect_error(call(`1` = numeric(11), `2` = numeric(121)), "between 2 and 10")
  expect_error(call(`10` = 0), "xstd must have 2 element")
  expect_error(call(`12` = 1), "limits must have 2 element")
  expect_error(call(`13` = as.integer(c(1, 2))), "double")
  expect_error(call(`6` = 11), "ndof must be one integer")
  expect_error(call(`9` = NA), "stated must be TRUE or FALSE")
  # Values the glue passes on: the library's status comes back.
  codes <- c(call(`18` = 0L)$status, call(`14` = 7L)$status, call(`17` = 1)$status,
             call(`15` = c(0.01, -1))$status,
             call(`5` = 0L, `9` = TRUE, `14` = 1L, `16` = c(1, 1))$status,
             call(`6` = 0L, `14` = 1L, `16` = c(1, 1))$status, call(`4` = 0)$status,
             call(`9` = TRUE, `14` = 1L, `16` = c(1, 1))$status,
             call(`9` = TRUE, `14` = 1L, `15` = c(0.5, 0), `16` = c(1, 1))$status)
  # Relative stated u(y) (scaled): the samples' relative u(y) are read, each > 0.
  expect_identical(codes, c(3L, 4L, 5L, 5L, 21L, 22L, 2L, 0L, 5L))
  expect_error(call(`9` = TRUE, `14` = 1L, `15` = 0.5, `16` = c(1, 1)),
               "u_y must have 2 element")
  # In R terms: the library's message, the routine and its status.
  e <- tryCatch(quorvex:::lab_readback(cal, 0.5, "stated", u_y = 0.01, ngrid = 0L),
                error = identity)
  expect_s3_class(e, "quorvex_fit_error")
  expect_identical(c(e$routine, e$code), c("QVXL_READBACK", "3"))
  expect_match(conditionMessage(e), "a count is below its least value")
  # The calibration's stated u(y) reaches the library, which refuses the scatter.
  stated <- calfit(abs ~ conc, std, u_y = u_abs)
  e <- tryCatch(quorvex:::lab_readback(stated, 0.5, "scatter", replicates = 1), error = identity)
  expect_identical(e$code, 21L)
})

test_that("the diagnostics and verdict glue passes the fit and the criteria in their places", {
  cal <- calfit(abs ~ conc, std)
  a <- quorvex:::fit_arguments(cal)
  cv <- quorvex:::criteria_vector(acceptance_criteria())
  diag <- function(...) {
    b <- list(...)
    args <- a
    args[as.integer(names(b))] <- b
    do.call(.Call, c(list(quorvex:::qvx_diagnose), args, list(cv)))
  }
  d <- diag()
  expect_identical(d$status, 0L)
  # The weights and residuals reach the library in order: with unit weights
  # the leverages add up to the number of coefficients, Cook's distance is
  # r^2 h / (p (1 - h)) of the internally studentized r, and r^2 = 1 - chi2/SS.
  expect_equal(sum(d$leverage), 2, tolerance = 1e-13)
  expect_equal(d$cooks_distance, d$studentized_internal^2 * d$leverage / (2 * (1 - d$leverage)),
               tolerance = 1e-13)
  expect_equal(d$corr[2], 1 - cal$chi2 / sum((std$abs - mean(std$abs))^2), tolerance = 1e-13)
  expect_equal(d$p_chi2, NaN)
  # Replicates at 6 levels: pure error on 13 - 7 dof, lack of fit on 7 - 2.
  expect_identical(d$lof[5:7], c(5, 6, 7))
  expect_equal(d$x_back, (std$abs - coef(cal)[[1]]) / coef(cal)[[2]], tolerance = 1e-12)
  # Each criterion reaches its place: a given threshold, Cook limit, tolerances.
  cv2 <- cv
  cv2[9] <- 0.5
  cv2[8] <- 0.01
  cv2[5:6] <- c(1, 50)
  d2 <- do.call(.Call, c(list(quorvex:::qvx_diagnose), a, list(cv2)))
  expect_identical(d2$outl[c(1, 3)], c(0.5, 3))
  expect_true(any(bitwAnd(d2$flags, quorvex:::OFLAG_INFLUENTIAL) != 0L))
  lowest <- std$conc == 1
  expect_identical(unique(d2$limit[lowest]), 50)
  expect_identical(unique(d2$limit[!lowest]), 1)
  # Statuses of bad values come back, wrong types and lengths are refused.
  codes <- c(diag(`7` = 10L)$status, diag(`13` = c(0, rep(1, 12)))$status,
             diag(`5` = 3L, `15` = numeric(13))$status, diag(`12` = c(NaN, std$abs[-1]))$status)
  expect_identical(codes, c(50L, 51L, 4L, 5L))
  expect_error(diag(`12` = std$abs[-1]), "y must have 13 element")
  expect_error(diag(`13` = 1), "w must have 13 element")
  expect_error(diag(`5` = 1L, `15` = 0), "wresx must have 13 element")
  expect_error(diag(`2` = numeric(3)), "cov must have ncoef\\^2")
  expect_error(diag(`7` = 11), "ndof must be one integer")
  expect_error(do.call(.Call, c(list(quorvex:::qvx_diagnose), a, list(cv[1:9]))),
               "crit must have 10 element")
  e <- tryCatch(quorvex:::lab_diagnose(cal, replace(cv, 7, 2)), error = identity)
  expect_identical(c(e$routine, e$code), c("QVXL_DIAGNOSE", "52"))
  expect_match(conditionMessage(e), "acceptance criterion")
  # Errors in variables: the x residuals reach the library beside the y ones,
  # and its statistic is each standard's combined normalized residual over
  # sqrt(1 - h) (stated uncertainties); the leverages add up to ncoef.
  eiv <- calfit(abs ~ conc, std, u_y = u_abs, u_x = 0.01 + 0.002 * conc)
  de <- quorvex:::diagnose(eiv)
  r <- sign(eiv$weighted_residuals) *
    sqrt(eiv$weighted_residuals^2 + eiv$weighted_residuals_x^2)
  expect_equal(de$statistic, r / sqrt(1 - de$leverage), tolerance = 1e-12)
  expect_true(all(is.nan(de$statistic_x)))
  expect_equal(sum(de$leverage), 2, tolerance = 1e-6)
  # Stated u(y) ten times too large: the chi2 test passes, with the note that
  # the scatter is much smaller than stated (the library's detail).
  loose <- calfit(abs ~ conc, std, u_y = 10 * u_abs)
  g <- quorvex:::verdicts(loose)$rows
  expect_match(g$details[g$test == "goodness of fit"], "much smaller than stated")
  expect_identical(g$verdict[g$test == "goodness of fit"], "pass")
  # The verdict: warn_only bits name the criteria in order.
  bad <- std
  bad$abs[5] <- bad$abs[5] + 0.2
  with <- calfit(abs ~ conc, bad)
  for (w in list(character(), "outliers", c("lack_of_fit", "outliers", "back_calculated"))) {
    v <- quorvex:::lab_verdict(with, quorvex:::criteria_vector(acceptance_criteria()), w)
    failing <- v$result %in% c(3L, 4L)
    expect_identical(v$result == 4L, failing & quorvex:::CRITERIA %in% w, label = paste(w, collapse = "+"))
  }
  expect_error(.Call(quorvex:::qvx_verdict, a[[1]], a[[2]], 0, 10, 0L, 1L, 11L, 1, 1, FALSE,
                     std$conc, std$abs, rep(1, 13), rep(0, 13), 0, cv, 1), "warn_only must be one")
  # One test at a level: the boundaries of the rule.
  tv <- function(p, alpha) unlist(quorvex:::lab_test_verdict(p, alpha)[1:2])
  expect_identical(rbind(tv(0.009, 0.01), tv(0.01, 0.01), tv(0.049, 0.01), tv(0.05, 0.01),
                         tv(0.995, 0.01), tv(NaN, 0.01)),
                   rbind(c(3L, 0L), c(2L, 0L), c(2L, 0L), c(1L, 0L), c(1L, 3L), c(1L, 0L)),
                   ignore_attr = TRUE)
  expect_error(quorvex:::lab_test_verdict(0.5, 1), "acceptance criterion")
  expect_error(.Call(quorvex:::qvx_test_verdict, c(0.1, 0.2), 0.05), "p must be one number")
})

test_that("Monte Carlo passes the seed's 64 bits and each response's place", {
  words <- quorvex:::seed_words
  # Low and high 32 bits as two's-complement integers (NA is INT_MIN's bits).
  cases <- list(list(0, c(0L, 0L)), list(1, c(1L, 0L)), list(2^32 - 1, c(-1L, 0L)),
                list(2^32, c(0L, 1L)), list(2^53, c(0L, 2097152L)),
                list("2147483648", c(NA_integer_, 0L)),
                list("9223372036854775808", c(0L, NA_integer_)),
                list("18446744073709551615", c(-1L, -1L)),
                list("00042", c(42L, 0L)))
  for (k in cases) expect_identical(words(k[[1]]), k[[2]], label = format(k[[1]]))
  for (bad in list(-1, 0.5, 2^53 + 2, NA, c(1, 2), "18446744073709551616", "-3", "1e5", TRUE)) {
    expect_error(words(bad), "seed must be a whole number", class = "quorvex_input_error")
  }
  cal <- calfit(abs ~ conc, std)
  ys <- seq(0.1, 1.3, length.out = 20)
  mc <- function(y, ...) inverse(cal, y, method = "montecarlo", n = 300L, ...)
  # 20 responses go in two calls (16 + 4): a response's results depend on its
  # place in the set and the seed, not on the call it went in.
  all <- mc(ys, seed = 11)
  expect_identical(mc(ys[1:16], seed = 11)$x, all$x[1:16])
  expect_false(identical(mc(ys[17:20], seed = 11)$x, all$x[17:20]))
  expect_false(identical(mc(ys, seed = 12)$x, all$x))
  # The same seed as a number and as digits; no seed: one drawn and recorded.
  expect_identical(mc(ys[1:3], seed = "11")$x, all$x[1:3])
  set.seed(1)
  free <- mc(ys[1:3])
  expect_identical(mc(ys[1:3], seed = attr(free, "seed"))$x, free$x)
  # Replicates reach the library: more readings, less scatter of x.
  r <- mc(c(0.5, 0.5), replicates = c(1, 9), seed = 2)
  expect_true(r$u_x[2] < 0.6 * r$u_x[1])
  # The glue refuses what would make it read past an array; statuses become errors.
  a <- list(cal$chebyshev$coef, cal$cov_used, 0, 10, 1L, 11L, cal$sres, 0L, FALSE, c(0.3, 0.9),
            0L, c(0.01, 0.01), 1, 0L, 100L, 0.95, 100L, c(1L, 0L))
  call <- function(...) {
    b <- list(...)
    a[as.integer(names(b))] <- b
    do.call(.Call, c(list(quorvex:::qvx_montecarlo), a))
  }
  expect_identical(call()$status, 0L)
  expect_error(call(`18` = 1L), "seed must be two integers")
  expect_error(call(`18` = c(1, 0)), "seed must be two integers")
  expect_error(call(`12` = 0.01), "u_y must have 2 element")
  expect_error(call(`11` = 1L, `13` = 1), "replicates must have 2 element")
  expect_identical(c(call(`15` = 1L)$status, call(`14` = -1L)$status,
                     call(`2` = c(1, 0, 0, -1))$status, call(`2` = c(NaN, 0, 0, 1))$status),
                   c(3L, 5L, 81L, 80L))
  e <- tryCatch(quorvex:::lab_montecarlo(cal, 0.5, "stated", -1, 1, 100L, 0.95, 100L, c(1L, 0L)),
                error = identity)
  expect_identical(c(e$routine, e$code), c("QVXL_MONTECARLO", "5"))
})

test_that("texts of statuses, flags and sources come from the library, filled in", {
  expect_identical(quorvex:::lab_text("status", 3L), "a count is below its least value")
  expect_null(quorvex:::lab_text("status", 12345L))
  expect_identical(quorvex:::lab_text("flag", 8L), "")
  expect_identical(quorvex:::fill_text("{n} roots", list(n = c("2", "3"))), c("2 roots", "3 roots"))
  expect_identical(quorvex:::u_y_source(c(1L, 1L, 0L, 2L), c(1, 4, 1, 1)),
                   c("from the scatter, 1 reading", "from the scatter, 4 readings", "stated",
                     "curve only"))
  lim <- c(lod = 0.25, loq = NA)
  f <- quorvex:::flag_texts(c(0L, 2L + 8L, 1L + 16L + 128L, 1024L), c(1L, 3L, 0L, 1L),
                            c(NaN, NaN, -0.5, NaN), c(NaN, NaN, 0.01, NaN), lim)
  expect_identical(f, c("", "3 roots",
                        paste0("no root in the interval; below the lowest standard (x = -0.5 ",
                               "\u00b1 0.01 on the line extended); below LOD (0.25, ISO 11843-2 x_D)"),
                        "u(x) unknown: the fit has no degrees of freedom"))
  expect_error(.Call(quorvex:::qvx_text, 1, 3L), "kind must be one integer")
})

test_that("lod passes the standards and settings to QVXL_LIMITS and words its statuses", {
  cal <- calfit(abs ~ conc, std)
  l <- lod(cal)
  # ICH: 3.3 and 10 sigma over the slope, sigma the scatter at the lowest
  # standard (unit weights: SRES), the slope of the line.
  expect_equal(c(l$sigma, l$slope), c(cal$sres, unname(coef(cal)[2])), tolerance = 1e-14)
  expect_equal(c(l$lod, l$loq), c(3.3, 10) * cal$sres / l$slope, tolerance = 1e-14)
  # Each setting in its place: alpha the critical level, beta the detection
  # level only, replicates the blank's part of s0, u_blank its scatter.
  a <- lod(cal, alpha = 0.01)
  b <- lod(cal, beta = 0.01)
  expect_true(a$x_critical > l$x_critical && a$k_alpha > l$k_alpha)
  expect_identical(b$x_critical, l$x_critical)
  expect_true(b$x_detection > l$x_detection)
  r3 <- lod(cal, replicates = 3)
  u0 <- sqrt(l$s_blank^2 - l$sigma_blank^2)
  expect_equal(r3$s_blank, sqrt(u0^2 + l$sigma_blank^2 / 3), tolerance = 1e-14)
  ub <- lod(cal, u_blank = 0.002)
  expect_identical(c(ub$sigma_blank, ub$blank_source), c(0.002, "u_blank as given"))
  expect_identical(lod(cal, k_loq = 2)$loq_din < l$loq_din, TRUE)
  expect_identical(l$blank_source, "the standards at the blank")
  # Statuses in R terms.
  expect_error(lod(cal, blank = -5), "far outside the curve's interval", class = "quorvex_input_error")
  uneven <- calfit(abs ~ conc, std[std$conc > 0, ], u_y = u_abs)
  expect_error(lod(uneven), "u_y differ, so the blank's", class = "quorvex_input_error")
  # The glue refuses wrong lengths and types.
  g <- function(...) {
    a <- list(cal$chebyshev$coef, cal$cov_used, 0, 10, 1L, 11L, cal$sres, 0L, std$conc,
              rep(1, 13), FALSE, 1, 0.05, 0.05, 0, 1L, 0L, c(0, 1), 3)
    b <- list(...)
    a[as.integer(names(b))] <- b
    do.call(.Call, c(list(quorvex:::qvx_limits), a))
  }
  expect_identical(g()$lim, unlist(l[c("sigma", "slope", "lod", "loq", "sigma_blank", "s_blank",
                                       "y_critical", "x_critical", "x_detection", "k_alpha",
                                       "delta", "loq_din")], use.names = FALSE))
  expect_error(g(`10` = rep(1, 12)), "w must have 13 element")
  expect_error(g(`11` = TRUE), "u_y must have 13 element")
  expect_error(g(`16` = 1), "replicates must be one integer")
  expect_identical(c(g(`13` = 0.5)$status, g(`6` = 0L)$status, g(`10` = rep(-1, 13))$status,
                     g(`17` = 4L)$status), c(5L, 62L, 5L, 4L))
  expect_error(g(`18` = 0.1), "u_blank must have 2 element")
})

test_that("variance_model passes the standards to QVXL_VARIANCE_FIT and words its statuses", {
  x <- rep(c(1, 6, 36, 216, 1296, 7776), each = 3)
  d <- rep(c(0.9, 1.3, 0.8, 2.9, 14, 70), each = 3) * rep(c(-1, 0, 1), 6)
  y <- x + d
  vm <- variance_model(x, y, "constant")
  # The constant model is ISO 5725-2's pooled variance, with its dof.
  pooled <- mean(tapply(y, x, var))
  expect_equal(vm$a^2, pooled, tolerance = 1e-10)
  expect_identical(c(vm$dof, vm$groups), c(12L, 6L))
  expect_equal(variance_at(vm, c(0, 100))$dof, c(12, 12), tolerance = 1e-10)
  expect_equal(vm$sd, rep(vm$a, 18))
  auto <- variance_model(x, y)
  expect_identical(auto$model, "floor")
  expect_equal(auto$lr, 2 * (max(auto$loglik[3:4]) - max(auto$loglik[1:2])), tolerance = 1e-9)
  expect_true(any(grepl("likelihood-ratio test", capture.output(print(auto)))))
  expect_error(variance_model(unique(x), unique(y)[1:6], "constant"), "too few",
               class = "quorvex_input_error")
  expect_error(variance_model(x, y, "cubic"), "model must be", class = "quorvex_input_error")
  expect_error(variance_model(c(x, 0), c(y, 0.1), "proportional"), "no scatter at a standard",
               class = "quorvex_input_error")
  # Without replicates, from the residuals: the constant model's a^2 is the mean
  # leverage-corrected squared residual of the unweighted line.
  xs <- c(1, 2, 4, 7, 11, 16, 22, 29)
  ys <- c(1.31, 2.02, 4.55, 6.81, 11.42, 15.73, 22.36, 28.85)
  fit <- lm(ys ~ xs)
  rv <- variance_model(xs, ys, "constant", degree = 1)
  expect_equal(rv$a^2, mean(residuals(fit)^2 / (1 - hatvalues(fit))), tolerance = 1e-12)
  expect_identical(c(rv$dof, rv$groups, rv$source), c("6", "8", "residuals"))
})

test_that("the engine's statuses are worded by the library's texts", {
  msg <- quorvex:::status_message
  expect_identical(msg("POLYEVAL", 3L, list(xmin = 0, xmax = 2.5)),
                   "a point lies above the curve's interval [0, 2.5] (POLYEVAL status 3)")
  expect_identical(msg("OLSPFIT", 2L, list(npts = 2L, ncoef = 3L)),
                   "2 standards cannot determine 3 coefficients (OLSPFIT status 2)")
  expect_match(msg("IPVAL_DEGREE1", 999L), "working storage \\(IPVAL_DEGREE1 status 999\\)")
  expect_identical(msg("IPVAL", 77L), "IPVAL returned status 77")
  expect_identical(msg("NOSUCH", 1L), "NOSUCH returned status 1")
})

test_that("the fit and curve glue passes the standards and options in their places", {
  # QVXL_FIT: weights of the presets, the default interval (padded for
  # errors in variables), the options used coming back.
  x <- c(1, 2, 4, 8)
  y <- c(0.11, 0.19, 0.42, 0.79)
  f <- quorvex:::lab_fit
  for (wt in c("none", "1/x", "1/x2")) {
    r <- f(x, y, NULL, NULL, wt, 2L)
    expect_identical(r$status, 0L)
    expect_equal(r$weights, switch(wt, none = rep(1, 4), "1/x" = 1 / sqrt(x), "1/x2" = 1 / x),
                 tolerance = 1e-15, label = wt)
    expect_identical(c(r$interval, r$covkind, r$dof), c(1, 8, 1, 2), label = wt)
  }
  s <- f(x, y, rep(0.01, 4), NULL, "none", 2L)
  expect_identical(c(s$covkind, s$weights), c(0, rep(100, 4)))
  e <- f(x, y, rep(0.01, 4), rep(0.05, 4), "none", 2L)
  expect_identical(e$interval, c(1 - 0.5, 8 + 0.5))  # 10 max u(x) over 5 % of the range
  expect_identical(e$x_weights, rep(20, 4))
  g <- f(x, y, rep(0.01, 4), rep(0.05, 4), "none", 2L, interval = c(0, 9), tol = c(1e-6, 1e-9),
         maxit = 7L, sigma = 0.2)
  expect_identical(list(g$interval, g$tol, g$maxit, g$sigma), list(c(0, 9), c(1e-6, 1e-9), 7L, 0.2))
  # Statuses the R checks would have caught first, from the library itself.
  expect_identical(c(f(c(1, 1, 1), c(1, 2, 3), NULL, NULL, "none", 2L)$status,
                     f(c(0, 1, 2), c(1, 2, 3), NULL, NULL, "1/x", 2L)$status,
                     f(x, y, NULL, NULL, "none", 2L, interval = c(2, 9))$status),
                   c(33L, 30L, 34L))
  expect_error(calfit(y ~ x, data.frame(x = c(2, 2, 2), y = 1:3)),
               "all 3 standards have x = 2", class = "quorvex_input_error")
  fit <- function(...) {
    a <- list(x, y, 1, 1, 0L, 0L, rep(1L, 4), 2L, 0L, c(0, 0), c(0, 0), 0L, 0, -1L)
    b <- list(...)
    a[as.integer(names(b))] <- b
    do.call(.Call, c(list(quorvex:::qvx_fit), a))
  }
  expect_identical(fit()$status, 0L)
  expect_error(fit(`2` = y[1:3]), "y must have 4 element")
  expect_error(fit(`5` = 1L), "u_y must have 4 element")
  expect_error(fit(`5` = 3L, `3` = rep(0.1, 4)), "u_x must have 4 element")
  expect_error(fit(`7` = rep(1, 4)), "keep must be 4 integer")
  expect_error(fit(`10` = 0), "interval must have 2 element")
  expect_error(fit(`8` = 11L), "ncoef must lie in")
  # The curve: values, slopes and u at once; outside the interval a status.
  cal <- calfit(abs ~ conc, std, degree = 2)
  cv <- quorvex:::lab_curve(cal, c(0, 5, 10), 7L)
  expect_equal(cv$y, predict(cal, c(0, 5, 10)), tolerance = 1e-15)
  a <- coef(cal)
  expect_equal(cv$dy, a[[2]] + 2 * a[[3]] * c(0, 5, 10), tolerance = 1e-12)
  expect_equal(cv$u, predict(cal, c(0, 5, 10), se.fit = TRUE)$se.fit, tolerance = 1e-15)
  e <- tryCatch(quorvex:::lab_curve(cal, 11, 1L), error = identity)
  expect_identical(c(e$routine, e$code), c("QVXL_CURVE", "40"))
  expect_equal(quorvex:::lab_curve(cal, 11, 1L, extend = TRUE)$y,
               a[[1]] + a[[2]] * 11 + a[[3]] * 121, tolerance = 1e-12)
  expect_error(.Call(quorvex:::qvx_curve, cal$chebyshev$coef, cal$cov_used, 0, 10, 1L, 1L, 5),
               "extend must be TRUE or FALSE")
  # k: one- and two-sided, t for the scaled covariance, normal for the stated.
  q <- quorvex:::lab_quantile
  expect_identical(quorvex:::coverage_factor(cal, 0.95)$k, q("t", 0.975, cal$dof))
  expect_identical(quorvex:::coverage_factor(cal, 0.95, sided = 1)$k, q("t", 0.95, cal$dof))
  stated <- calfit(abs ~ conc, std, u_y = 0.004)
  expect_identical(quorvex:::coverage_factor(stated, 0.9)$k, q("normal", 0.95))
  expect_identical(.Call(quorvex:::qvx_coverage, 1L, 0L, 0.95, 2L)$status, 42L)
  # One new response's sd: the common stated u(y), or SRES times the scale.
  expect_identical(quorvex:::response_sd(stated, c(1, 9)), c(0.004, 0.004))
  w <- calfit(abs ~ conc, std[std$conc > 0, ], weighting = "1/x2")
  expect_equal(quorvex:::response_sd(w, c(2, 8)), w$sres * c(2, 8), tolerance = 1e-15)
  expect_identical(.Call(quorvex:::qvx_response_sd, 1, 0L, c(0.1, 0.2), 0L, 1)$status, 41L)
  # Bands: the prediction band's u adds the response's sd to u(p(x)).
  b <- predict(cal, c(2, 7), interval = "prediction", se.fit = TRUE)
  expect_equal(b$u^2, b$se.fit^2 + cal$sres^2, tolerance = 1e-14)
  expect_equal(unname(b$fit[, "upr"] - b$fit[, "fit"]), b$k * b$u, tolerance = 1e-14)
  expect_error(.Call(quorvex:::qvx_band, cal$chebyshev$coef, cal$cov_used, 0, 10, 1L, 10L, 0.95,
                     1L, c(1, 2), 0.1), "rsd must have 2 element")
  # The power form and the joint covariance.
  expect_identical(unname(coef(cal)), quorvex:::lab_power(cal$chebyshev$coef, cal$cov_used,
                                                           cal$interval)$a)
  inv <- inverse(cal, c(0.3, 0.9, 5))
  jc <- quorvex:::lab_joint_cov(cal, inv$x, inv$u_y, full = FALSE)
  expect_identical(dim(jc$s), c(3L, 3L))
  expect_true(all(is.nan(jc$s[3, ])) && is.nan(jc$d[3]))
  expect_equal(diag(attr(inv, "cov"))[1:2], inv$u_x[1:2]^2, tolerance = 1e-13)
  expect_error(.Call(quorvex:::qvx_joint_cov, cal$chebyshev$coef, cal$cov_used, 0, 10, c(1, 2),
                     0.1, 0L), "u_y must have 2 element")
  expect_error(.Call(quorvex:::qvx_joint_cov, cal$chebyshev$coef, cal$cov_used, 0, 10, 1, 0.1,
                     2L), "mode must be 0 or 1")
})

test_that("an errors-in-variables fit stopped with only the residual change met warns", {
  s <- std
  s$u_conc <- 0.02
  # A residual tolerance met at once and a step tolerance never: GLSPFIT's
  # status 2, in the engine's words, as a warning and a note.
  expect_warning(cal <- calfit(abs ~ conc, s, u_y = 0.003, u_x = u_conc, tol = c(1e-300, 1e10),
                               maxit = 3),
                 "only the residual change was below its tolerance \\(GLSPFIT status 2\\)")
  expect_identical(cal$status, 2L)
  expect_match(cal$notes, "GLSPFIT status 2")
})

test_that("the LOQ a sample is flagged against is the larger of ICH's and DIN 32645's", {
  cal <- calfit(abs ~ conc, std)
  # k_loq 3: ICH's LOQ the larger here; 6: DIN 32645's.
  for (k in c(3, 6)) {
    l <- lod(cal, k_loq = k)
    both <- sort(c(l$loq, l$loq_din))
    xs <- l$blank + c(mean(both), both[2] * 1.05)
    inv <- inverse(cal, predict(cal, xs), limits = l)
    expect_identical(bitwAnd(attr(inv, "flag_bits"), quorvex:::FLAG_BELOW_LOQ) != 0L,
                     c(TRUE, FALSE), label = paste("k_loq", k))
    expect_match(inv$flags[1], sprintf("below LOQ \\(%s, the larger of ICH 10 sigma/S and DIN 32645 x_Q\\)",
                                       format(signif(l$blank + both[2], 4))))
  }
})
