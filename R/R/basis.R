# The scaled polynomial: basis rows, slopes and the power-series form.
#
# A curve of ncoef coefficients c on [xmin, xmax] is
# p(x) = c_1/2 + c_2 T_1(t) + ... + c_ncoef T_{ncoef-1}(t),
# t = ((x - xmin) - (xmax - x)) / (xmax - xmin), as the library stores it.
# The arithmetic follows the Python package's step by step, so that both give
# the same bits.

scaled_t <- function(x, xmin, xmax) ((x - xmin) - (xmax - x)) / (xmax - xmin)

# Basis rows g(x) = (1/2, T_1(t), ..., T_{ncoef-1}(t)), one row per point.
basis_rows <- function(x, ncoef, xmin, xmax) {
  t <- scaled_t(x, xmin, xmax)
  b <- matrix(0, length(t), ncoef)
  b[, 1] <- 1
  if (ncoef > 1) b[, 2] <- t
  if (ncoef > 2) for (k in 3:ncoef) b[, k] <- 2 * t * b[, k - 1] - b[, k - 2]
  b[, 1] <- 0.5
  b
}

# dp/dx at x: the derivative series by the Chebyshev recurrence, summed by
# Clenshaw's method.
curve_slope <- function(coef, x, xmin, xmax) {
  t <- scaled_t(x, xmin, xmax)
  c <- coef
  c[1] <- c[1] * 0.5
  n <- length(c) - 1L
  if (n < 1L) return(rep(0, length(t)))
  der <- numeric(n)
  if (n >= 3L) {
    for (j in n:3L) {
      der[j] <- (2 * j) * c[j + 1L]
      c[j - 1L] <- c[j - 1L] + (j * c[j + 1L]) / (j - 2)
    }
  }
  if (n > 1L) der[2] <- 4 * c[3]
  der[1] <- c[2]
  chebyshev_value(t, der) * (2 / (xmax - xmin))
}

# sum_k d_k T_k(t), the first term at full weight (Clenshaw).
chebyshev_value <- function(t, d) {
  n <- length(d)
  if (n == 1L) {
    c0 <- d[1]
    c1 <- 0
  } else if (n == 2L) {
    c0 <- d[1]
    c1 <- d[2]
  } else {
    t2 <- 2 * t
    c0 <- d[n - 1L]
    c1 <- d[n]
    for (i in 3:n) {
      tmp <- c0
      c0 <- d[n + 1L - i] - c1
      c1 <- tmp + c1 * t2
    }
  }
  c0 + c1 * t
}

# Powers of t of the Chebyshev polynomial T_k (k = 0, 1, ...): exact integers.
chebyshev_powers <- function(k) {
  if (k == 0L) return(1)
  prev <- 1
  cur <- c(0, 1)
  if (k == 1L) return(cur)
  for (j in 2:k) {
    nxt <- c(0, 2 * cur) - c(prev, 0, 0)
    prev <- cur
    cur <- nxt
  }
  cur
}

# M with a = M c: the power-series coefficients a_0..a_{ncoef-1} in x of the
# curve with scaled coefficients c.
power_matrix <- function(ncoef, xmin, xmax) {
  alpha <- 2 / (xmax - xmin)
  beta <- -(xmin + xmax) / (xmax - xmin)
  m <- matrix(0, ncoef, ncoef)
  for (k in seq_len(ncoef)) {
    pt <- chebyshev_powers(k - 1L)
    if (k == 1L) pt <- 0.5
    px <- 0
    for (a in rev(pt)) {
      # px(x) * (beta + alpha x) + a
      px <- c(px * beta, 0) + c(0, px * alpha)
      px[1] <- px[1] + a
    }
    m[seq_len(min(length(px), ncoef)), k] <- px[seq_len(min(length(px), ncoef))]
  }
  m
}
