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
             call(`15` = c(0.01, -1))$status, call(`9` = TRUE, `14` = 1L, `16` = c(1, 1))$status,
             call(`6` = 0L, `14` = 1L, `16` = c(1, 1))$status, call(`4` = 0)$status)
  expect_identical(codes, c(3L, 4L, 5L, 5L, 21L, 22L, 2L))
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
