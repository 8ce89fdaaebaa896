# Correlated standards through the R binding: ISO/TS 28037's table 25 to every
# printed digit, the covariance built from its parts against R's own
# assembly, the inverse prediction's round trip, statuses as conditions.

test_that("ISO/TS 28037 table 25 is reproduced to every printed digit", {
  x <- c(50.4, 99.0, 149.9, 200.4, 248.5, 299.7, 349.1)
  y <- c(52.3, 97.8, 149.7, 200.1, 250.4, 300.9, 349.2)
  ux <- matrix(c(0.50, 0.00, 0.25, 0.00, 0.25, 0.00, 0.25,
                 0.00, 1.25, 1.00, 0.00, 0.00, 1.00, 1.00,
                 0.25, 1.00, 1.50, 0.00, 0.25, 1.00, 1.25,
                 0.00, 0.00, 0.00, 1.25, 1.00, 1.00, 1.00,
                 0.25, 0.00, 0.25, 1.00, 1.50, 1.00, 1.25,
                 0.00, 1.00, 1.00, 1.00, 1.00, 2.25, 2.00,
                 0.25, 1.00, 1.25, 1.00, 1.25, 2.00, 2.50), 7, 7)
  uy <- matrix(1, 7, 7) + diag(4, 7)
  fit <- calfit_correlated(x, y, correlations(matrix = list(u_x = ux, u_y = uy)))
  a <- coef(fit)
  ca <- vcov(fit)
  expect_equal(round(a, 4), c(0.3424, 1.0012))
  expect_equal(round(sqrt(diag(ca)), 4), c(2.0569, 0.0090))
  expect_equal(round(ca[1, 2], 4), -0.0129)
  expect_equal(round(fit$chi2, 3), 1.772)
  expect_equal(fit$dof, 5L)
})

test_that("the covariance from its parts and the inverse prediction", {
  x <- c(100, 50, 25, 12.5, 6.25)
  y <- c(80.93, 40.71, 20.82, 10.41, 5.59)
  corr <- correlations(u_y = 0.02, sources = list(drift = list(y = 0.01, samples = 0.01)),
                       dilution = list(parent = 0:4, relative = rep(0.003, 5), stock = 0.001))
  v <- quorvex:::correlations_covariance(corr, x)
  # R's own assembly: a serial chain shares every step up to the earlier standard.
  ref <- matrix(0, 10, 10)
  for (i in 1:5) for (j in 1:5) ref[i, j] <- x[i] * x[j] * (0.001^2 + min(i, j) * 0.003^2)
  ref[6:10, 6:10] <- diag(0.02^2, 5) + 0.01^2
  expect_equal(v, ref, tolerance = 1e-14)
  fit <- calfit_correlated(x, y, corr, degree = 2)
  p <- inverse_correlated(fit, c(30, 60), u_y = 0.02)
  a <- coef(fit)
  expect_equal(a[1] + a[2] * p$x + a[3] * p$x^2, c(30, 60), tolerance = 1e-10)
  expect_equal(p$u_x, sqrt(diag(p$cov)), tolerance = 1e-15)
  expect_true(p$shared)
  expect_false(isTRUE(all.equal(p$u_x, p$u_x_ignoring, tolerance = 1e-3)))
  expect_output(print(p), "ignoring")
  expect_output(print(fit), "Gauss-Markov")
})

test_that("statuses become conditions naming the standard", {
  x <- c(1, 2, 3, 4)
  expect_error(calfit_correlated(x, c(1, 2, 3, 4.1), correlations(u_x = c(0.1, 0.1, 0, 0.1),
                                                                  u_y = 0.1)),
               "standard 3, its x", class = "quorvex_input_error")
  expect_error(calfit_correlated(x[1:3], c(1, 2, 3),
                                 correlations(u_y = 0.1, dilution = list(parent = c(0L, 3L, 2L),
                                                                       relative = 0.01))),
               "standard 2")
})
